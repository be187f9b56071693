#include "hwsharing/hal/hal_tools.h"

namespace {

constexpr uint32_t kMinBase = 2;
constexpr uint32_t kMaxBase = 36;

// Digits of `value` in the base, written backwards then turned round.
char* Digits(uint32_t value, char* out, uint32_t base) {
  if (base < kMinBase || base > kMaxBase) base = 10;
  char* p = out;
  do {
    const uint32_t d = value % base;
    *p++ = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
    value /= base;
  } while (value != 0);
  *p = 0;
  for (char *a = out, *b = p - 1; a < b; ++a, --b) {
    const char t = *a;
    *a = *b;
    *b = t;
  }
  return out;
}

}  // namespace

void HAL_TOOL_memcpy(void* dst, const void* src, uint32_t n) {
  auto* d = static_cast<uint8_t*>(dst);
  const auto* s = static_cast<const uint8_t*>(src);
  for (uint32_t i = 0; i < n; ++i) d[i] = s[i];
}

void HAL_TOOL_memset(void* dst, uint32_t value, uint32_t n) {
  auto* d = static_cast<uint8_t*>(dst);
  for (uint32_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(value);
}

int32_t HAL_TOOL_memcmp(const void* a, const void* b, uint32_t n) {
  if (n == 0) return 0;
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  uint32_t i = 0;
  while (i + 1 < n && x[i] == y[i]) ++i;
  return static_cast<int32_t>(x[i]) - static_cast<int32_t>(y[i]);
}

uint32_t HAL_TOOL_random(uint32_t x) { return x + (x ^ ((x >> 1) | (x << 31))); }

char* HAL_TOOL_ltoa(int32_t value, char* buffer, uint32_t base) {
  if (value >= 0) return Digits(static_cast<uint32_t>(value), buffer, base);
  buffer[0] = '-';
  Digits(0u - static_cast<uint32_t>(value), buffer + 1, base);
  return buffer;
}

char* HAL_ultoa(uint32_t value, char* buffer, uint32_t base) { return Digits(value, buffer, base); }

char* HAL_strcat(char* dst, const char* src) {
  if (dst == nullptr || src == nullptr) return dst;
  char* p = dst;
  while (*p != 0) ++p;
  while ((*p++ = *src++) != 0) {
  }
  return dst;
}
