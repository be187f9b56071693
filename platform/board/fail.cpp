#include "platform/board/fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace orvsim {

void Fail(const char* format, ...) {
  std::fflush(stdout);
  std::fputs("orvsim: ", stderr);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace orvsim
