#include "core/dbg_output.h"

#include <stdio.h>

#include "platform/xserver/xservices.h"

void dbgOutput(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  VErrorF(format, arguments);
  va_end(arguments);
}

void dbgOutputVA(const char* format, va_list arguments) {
  char text[kDbgOutputMax + 1];
  vsnprintf(text, sizeof(text), format, arguments);
  ErrorF("%s", text);
}

void dbgOutputToString(char* buffer, size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  dbgOutputToStringVA(buffer, size, format, arguments);
  va_end(arguments);
}

void dbgOutputToStringVA(char* buffer, size_t size, const char* format, va_list arguments) {
  if (buffer == nullptr || size == 0) return;
  vsnprintf(buffer, size, format, arguments);
}
