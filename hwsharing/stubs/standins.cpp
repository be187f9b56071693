#include "hwsharing/stubs/standins.h"

#include <cstring>

#include "hwsharing/boardhandle.h"
#include "hwsharing/halstatus.h"

namespace orvstandin {
namespace {

// One log for the process: the stand-ins exist for tests, which run one
// board at a time.
struct Log {
  const char* calls[kMaxLoggedCalls];
  size_t count;
  struct {
    const char* name;
    HALSTATUS code;
  } results[kMaxChosenResults];
  size_t resultCount;
};
Log g_log;

}  // namespace

void Reset() { std::memset(&g_log, 0, sizeof(g_log)); }

void SetResult(const char* name, HALSTATUS code) {
  for (size_t i = 0; i < g_log.resultCount; ++i) {
    if (std::strcmp(g_log.results[i].name, name) == 0) {
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
    if (std::strcmp(g_log.calls[i], name) == 0) ++n;
  return n;
}

HALSTATUS Called(BOARDHANDLE* h, const char* name) {
  if (g_log.count < kMaxLoggedCalls) g_log.calls[g_log.count++] = name;
  if (HalFailed(h->status)) return h->status;
  for (size_t i = 0; i < g_log.resultCount; ++i)
    if (std::strcmp(g_log.results[i].name, name) == 0) return SetError(h, g_log.results[i].code);
  return h->status;
}

}  // namespace orvstandin

#define ORV_STANDIN(name, params) \
  HALSTATUS name params { return orvstandin::Called(h, #name); }
#include "hwsharing/stubs/standin_list.h"
#undef ORV_STANDIN
