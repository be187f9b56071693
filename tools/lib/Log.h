#pragma once

#include <cstdarg>

// Messages of the library go to the standard error stream.
int ErrorF(const char* format, ...) __attribute__((format(printf, 1, 2)));
int VErrorF(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
