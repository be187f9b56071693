// Equality of small blocks of bytes, inline instead of a call to a
// library compare and without stopping at the first difference: the
// blocks the driver compares on its hot paths are small and mostly equal,
// so every byte is read anyway. It includes no header, so that the
// freestanding build of the vector and matrix math uses it too.
#pragma once

// Whether n bytes are equal, read in 8-byte words, then a 4-byte word and
// single bytes for what is left (with n known where it is inlined, only
// the reads n needs remain).
inline bool SameBytes(const void* a, const void* b, __SIZE_TYPE__ n) {
  using Word8 = __UINT64_TYPE__;
  using Word4 = __UINT32_TYPE__;
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  Word8 diff = 0;
  __SIZE_TYPE__ i = 0;
  for (; i + 8 <= n; i += 8) {
    Word8 u, v;
    __builtin_memcpy(&u, x + i, 8);
    __builtin_memcpy(&v, y + i, 8);
    diff |= u ^ v;
  }
  for (; i + 4 <= n; i += 4) {
    Word4 u, v;
    __builtin_memcpy(&u, x + i, 4);
    __builtin_memcpy(&v, y + i, 4);
    diff |= u ^ v;
  }
  for (; i < n; ++i) diff |= static_cast<Word8>(x[i] ^ y[i]);
  return diff == 0;
}
