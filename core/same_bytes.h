// Equality of small blocks of bytes, inline instead of a call to a
// library compare and without stopping at the first difference: the
// blocks the driver compares on its hot paths are small and mostly equal,
// so every byte is read anyway.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// Whether n bytes (a multiple of 4) are equal, read in 8-byte words.
inline bool SameBytes(const void* a, const void* b, size_t n) {
  const uint8_t* x = static_cast<const uint8_t*>(a);
  const uint8_t* y = static_cast<const uint8_t*>(b);
  uint64_t diff = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t u, v;
    memcpy(&u, x + i, 8);
    memcpy(&v, y + i, 8);
    diff |= u ^ v;
  }
  for (; i < n; i += 4) {
    uint32_t u, v;
    memcpy(&u, x + i, 4);
    memcpy(&v, y + i, 4);
    diff |= u ^ v;
  }
  return diff == 0;
}
