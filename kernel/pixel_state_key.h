// The key of the pixel-program cache's record-keyed map: a 32-bit word and
// 24 bytes of pipeline state. Only the state bytes take part in the order,
// and the map runs in descending byte order of them: key a comes before key
// b when the bytes of b compare below those of a.
#pragma once

#include <stdint.h>
#include <string.h>

#include "core/otl_base.h"
#include "core/utils.h"

inline constexpr uint32_t kPixelStateBytes = 24;

struct PixelStateKey {
  uint32_t word;  // not part of the order
  uint8_t state[kPixelStateBytes];
};
static_assert(sizeof(PixelStateKey) == 28);

template <>
struct Otl::less<PixelStateKey> {
  // The bytes compare as LocMemCmp compares them (unsigned, first byte
  // first): eight at a time, as big-endian words.
  static uint64_t Chunk(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return __builtin_bswap64(v);
  }
  bool operator()(const PixelStateKey& a, const PixelStateKey& b) const {
    static_assert(kPixelStateBytes % 8 == 0);
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    for (uint32_t i = 0; i < kPixelStateBytes; i += 8) {
      const uint64_t x = Chunk(b.state + i);
      const uint64_t y = Chunk(a.state + i);
      if (x != y) return x < y;
    }
    return false;
  }
};
