#include "tools/lib/Log.h"

#include <cstdio>

int ErrorF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = VErrorF(format, args);
  va_end(args);
  return n;
}

int VErrorF(const char* format, va_list args) { return std::vfprintf(stderr, format, args); }
