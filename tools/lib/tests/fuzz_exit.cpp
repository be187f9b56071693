#include "tools/lib/tests/fuzz_exit.h"

#include <setjmp.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

extern "C" {
[[noreturn]] void __real_exit(int status);
FILE* __real_fopen(const char* path, const char* mode);
int __real_fclose(FILE* stream);
}

namespace {

jmp_buf g_back;
bool g_armed = false;
int g_status = 0;
// Streams opened while trapped and not closed yet.
std::vector<FILE*>* g_open = new std::vector<FILE*>;

}  // namespace

extern "C" {

[[noreturn]] void __wrap_exit(int status) {
  if (!g_armed) __real_exit(status);
  g_armed = false;
  g_status = status;
  longjmp(g_back, 1);
}

FILE* __wrap_fopen(const char* path, const char* mode) {
  FILE* stream = __real_fopen(path, mode);
  if (stream != nullptr && g_armed) g_open->push_back(stream);
  return stream;
}

int __wrap_fclose(FILE* stream) {
  auto it = std::find(g_open->begin(), g_open->end(), stream);
  if (it != g_open->end()) g_open->erase(it);
  return __real_fclose(stream);
}

}  // extern "C"

namespace toolfuzz {

int Trapped(const std::function<void()>& code) {
  int status = -1;
  if (setjmp(g_back) == 0) {
    g_armed = true;
    code();
    g_armed = false;
  } else {
    status = g_status;
  }
  for (FILE* stream : *g_open) __real_fclose(stream);
  g_open->clear();
  return status;
}

}  // namespace toolfuzz

// The frames an exit leaves keep what they allocated, as a process that
// ends does: the leak check has nothing to say about them.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
