#include "tests/standins/standin_log.h"

#include <string.h>

namespace orvstandin {
namespace {

// One log for the process: the stand-ins exist for tests, which run one
// board at a time.
struct Log {
  const char* calls[kMaxLoggedCalls];
  CallArgs args[kMaxLoggedCalls];
  size_t count;
  struct {
    const char* name;
    uint32_t code;
  } results[kMaxChosenResults];
  size_t resultCount;
  struct {
    const char* name;
    Action action;
  } actions[kMaxActions];
  size_t actionCount;
  struct {
    const char* name;
    size_t index;
    uint64_t value;
  } outs[kMaxChosenOuts];
  size_t outCount;
};
Log g_log;

}  // namespace

void Reset() { memset(&g_log, 0, sizeof(g_log)); }

void SetResult(const char* name, uint32_t code) {
  for (size_t i = 0; i < g_log.resultCount; ++i) {
    if (strcmp(g_log.results[i].name, name) == 0) {
      g_log.results[i].code = code;
      return;
    }
  }
  if (g_log.resultCount < kMaxChosenResults) g_log.results[g_log.resultCount++] = {name, code};
}

size_t CallCount() { return g_log.count; }

const char* CallAt(size_t index) { return index < g_log.count ? g_log.calls[index] : nullptr; }

size_t TimesCalled(const char* name) {
  size_t n = 0;
  for (size_t i = 0; i < g_log.count; ++i)
    if (strcmp(g_log.calls[i], name) == 0) ++n;
  return n;
}

void SetAction(const char* name, Action action) {
  for (size_t i = 0; i < g_log.actionCount; ++i) {
    if (strcmp(g_log.actions[i].name, name) == 0) {
      g_log.actions[i].action = action;
      return;
    }
  }
  if (g_log.actionCount < kMaxActions) g_log.actions[g_log.actionCount++] = {name, action};
}

bool Called(const char* name, uint32_t* chosen, void* subject) {
  if (g_log.count < kMaxLoggedCalls) {
    g_log.args[g_log.count].count = 0;
    g_log.calls[g_log.count++] = name;
  }
  for (size_t i = 0; i < g_log.actionCount; ++i) {
    if (strcmp(g_log.actions[i].name, name) == 0 && g_log.actions[i].action != nullptr)
      g_log.actions[i].action(subject);
  }
  for (size_t i = 0; i < g_log.resultCount; ++i) {
    if (strcmp(g_log.results[i].name, name) == 0) {
      *chosen = g_log.results[i].code;
      return true;
    }
  }
  return false;
}

void SetOutValue(const char* name, size_t outIndex, uint64_t value) {
  for (size_t i = 0; i < g_log.outCount; ++i) {
    if (strcmp(g_log.outs[i].name, name) == 0 && g_log.outs[i].index == outIndex) {
      g_log.outs[i].value = value;
      return;
    }
  }
  if (g_log.outCount < kMaxChosenOuts) g_log.outs[g_log.outCount++] = {name, outIndex, value};
}

uint64_t OutValue(const char* name, size_t outIndex) {
  for (size_t i = 0; i < g_log.outCount; ++i)
    if (strcmp(g_log.outs[i].name, name) == 0 && g_log.outs[i].index == outIndex)
      return g_log.outs[i].value;
  return 0;
}

void LogArg(uint64_t value) {
  if (g_log.count == 0 || g_log.count > kMaxLoggedCalls) return;
  CallArgs& a = g_log.args[g_log.count - 1];
  if (a.count < kMaxLoggedArgs) a.values[a.count++] = value;
}

CallArgs ArgsOf(const char* name, size_t n) {
  for (size_t i = 0; i < g_log.count; ++i) {
    if (strcmp(g_log.calls[i], name) != 0) continue;
    if (n-- == 0) return g_log.args[i];
  }
  return CallArgs{0, {}};
}

}  // namespace orvstandin
