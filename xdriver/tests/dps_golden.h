// Register lists of display processing written out from the programs'
// definitions, for the tests that check what reaches the chip.
#pragma once

#include <stdint.h>
#include <string.h>

#include <utility>
#include <vector>

namespace dpsgolden {

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

inline uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, sizeof b);
  return b;
}

// Two 11-bit constant fields.
inline uint32_t Fields(int low, int high) {
  return (static_cast<uint32_t>(low) & 0x7FF) | (static_cast<uint32_t>(high) & 0x7FF) << 16;
}

// The shader's five stages for the default colour controls (brightness
// 750, contrast and saturation 10000, hue 0, colour on, no anti-flicker):
// the BT.601 rows with coefficients x 255 and offsets x 256, then the
// upper clamp (Y 940, Cb and Cr 960 of 1024) and the lower clamp (64).
inline Pairs DefaultShader() {
  return {
      {0x1264, 0x703C000}, {0x126C, 0x400803},
      {0x1278, 65}, {0x127C, Fields(111, -37)}, {0x1280, 16}, {0x1284, Fields(128, 128)},
      {0x1264, 0x7010002}, {0x126C, 0x400802},
      {0x1278, 128}, {0x127C, Fields(-93, -74)}, {0x1280, 16}, {0x1284, Fields(128, 128)},
      {0x1264, 0x7010004}, {0x126C, 0x440801},
      {0x1278, 24}, {0x127C, Fields(-18, 111)}, {0x1280, 16}, {0x1284, Fields(128, 128)},
      {0x1264, 0x7038088}, {0x126C, 0x405C00},
      {0x1278, 940}, {0x127C, Fields(960, 960)}, {0x1280, 0}, {0x1284, 0},
      {0x1264, 0x70101CA}, {0x126C, 0x405C00},
      {0x1278, 0}, {0x127C, Fields(64, 64)}, {0x1280, 0}, {0x1284, 0},
  };
}

}  // namespace dpsgolden
