// Small helpers the library uses in place of the C run-time library.
#pragma once

#include <cstdint>

void HAL_TOOL_memcpy(void* dst, const void* src, uint32_t n);
// Fills n bytes with the low byte of value.
void HAL_TOOL_memset(void* dst, uint32_t value, uint32_t n);
// 0 for n = 0; else the difference of the first differing bytes as unsigned
// values, or of the last pair.
int32_t HAL_TOOL_memcmp(const void* a, const void* b, uint32_t n);
// x + (x XOR (x rotated right by one)).
uint32_t HAL_TOOL_random(uint32_t x);
// The value as text in the base (2..36), digits 0-9 then A-Z, a '-' before a
// negative value, terminated by a zero byte; `buffer` holds at least 34 bytes.
char* HAL_TOOL_ltoa(int32_t value, char* buffer, uint32_t base);
char* HAL_ultoa(uint32_t value, char* buffer, uint32_t base);
// Appends src to dst; nothing when either is null.
char* HAL_strcat(char* dst, const char* src);
