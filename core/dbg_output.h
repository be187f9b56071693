// The driver core's debug output, for the core and the hardware library.
#pragma once

#include <stdarg.h>
#include <stddef.h>

void dbgOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// At most kDbgOutputMax characters reach the log; the text is never used as
// a format.
inline constexpr size_t kDbgOutputMax = 124;
void dbgOutputVA(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));
// Format into the caller's buffer of size bytes (always terminated when
// size is not 0).
void dbgOutputToString(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void dbgOutputToStringVA(char* buffer, size_t size, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));
