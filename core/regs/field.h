// Typed access to one field of a register word: read the field, or give the
// word with the field replaced and every other bit kept.
#pragma once

#include <stdint.h>

// A field of `Width` bits from bit `Shift`.
template <uint32_t Shift, uint32_t Width>
struct RegField {
  static_assert(Width > 0 && Shift + Width <= 32);
  static constexpr uint32_t kShift = Shift;
  static constexpr uint32_t kMask = (Width == 32 ? ~0u : ((1u << Width) - 1u)) << Shift;

  static constexpr uint32_t Get(uint32_t word) { return (word & kMask) >> Shift; }
  // The field alone: value in place, every other bit 0.
  static constexpr uint32_t Word(uint32_t value) { return (value << Shift) & kMask; }
  // Bits of `value` beyond the field's width are dropped.
  static constexpr uint32_t Set(uint32_t word, uint32_t value) {
    return (word & ~kMask) | ((value << Shift) & kMask);
  }
};

// The same for a field known only by its mask at run time (tables of fields):
// the value sits at the mask's lowest set bit.
inline constexpr uint32_t MaskShift(uint32_t mask) {
  uint32_t shift = 0;
  while (shift < 31 && (mask & (1u << shift)) == 0) ++shift;
  return shift;
}
inline constexpr uint32_t GetMaskedField(uint32_t word, uint32_t mask) {
  return (word & mask) >> MaskShift(mask);
}
inline constexpr uint32_t SetMaskedField(uint32_t word, uint32_t mask, uint32_t value) {
  return (word & ~mask) | ((value << MaskShift(mask)) & mask);
}
// A single bit set or cleared.
inline constexpr uint32_t WithBit(uint32_t word, uint32_t bit, bool on) {
  return on ? (word | bit) : (word & ~bit);
}
