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
  bool operator()(const PixelStateKey& a, const PixelStateKey& b) const {
    // memcmp orders bytes as LocMemCmp does (unsigned), in one pass.
    return memcmp(b.state, a.state, kPixelStateBytes) < 0;
  }
};
