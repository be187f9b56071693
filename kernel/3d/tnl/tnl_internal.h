// Helpers the transform-and-lighting set-up's files share: the tables of
// the update pass and the float and bit helpers of its steps.
#pragma once

#include <stdint.h>
#include <string.h>

#include "core/float_bits.h"
#include "kernel/3d/render/vertex_processing_block.h"

namespace tnl_detail {

inline constexpr uint32_t kMaxPrimitiveKind = 12;
// Primitive class by kind: 2 lines, 3 and 5 polygons, 4 points.
inline constexpr uint8_t kClassOfKind[kMaxPrimitiveKind + 1] = {1, 4, 2, 2, 2, 3, 3, 3, 3, 5, 5, 2, 3};
// Primitive set-up values by 2 x min(class, 5) + (lines of kinds 8 and 12).
inline constexpr uint8_t kSetupA[12] = {2, 2, 0, 0, 1, 1, 2, 1, 3, 3, 2, 1};
inline constexpr uint8_t kSetupB[12] = {2, 2, 0, 0, 1, 1, 2, 1, 0, 0, 2, 1};

inline bool Finite(float v) { return v - v == 0.0f; }
// 1 / value, or 0 where a client's value would divide by zero (or by a
// value so small that the reciprocal is not a number any more).
inline float SafeReciprocal(float value) {
  if (value == 0.0f) return 0.0f;
  const float r = 1.0f / value;
  return Finite(r) ? r : 0.0f;
}
inline uint32_t Popcount(uint32_t v) { return static_cast<uint32_t>(__builtin_popcount(v)); }

// Texture-coordinate sets the key describes: the client's count, at most 4.
inline uint32_t SetCount(const VertexProcessingBlock& b) {
  return b.texCoords.setCount < 4 ? b.texCoords.setCount : 4;
}

// Sets or clears `bit` of a key byte; a change marks `dirtyBit` of the
// key dirty byte.
inline void SetKeyBit(uint8_t* byte, uint8_t bit, bool on, uint8_t* dirty, uint8_t dirtyBit) {
  const uint8_t value = static_cast<uint8_t>(on ? *byte | bit : *byte & ~bit);
  if (value == *byte) return;
  *byte = value;
  *dirty |= dirtyBit;
}

}  // namespace tnl_detail
