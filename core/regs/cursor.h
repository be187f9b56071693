// Registers of the two hardware cursor engines (display controllers 0 and
// 1, engine n at + kCursorEngineStride * n).
#pragma once

#include <stdint.h>

#include "core/regs/field.h"

inline constexpr uint32_t kCursorEngineStride = 0x200;
inline constexpr unsigned kCursorEngines = 2;

// Colour 0x00RRGGBB of the palette entry the last control write selected.
inline constexpr uint32_t kRegCursorPalette = 0x18C0;
// Mode in bits 0-7, the palette entry for the next palette write above.
inline constexpr uint32_t kRegCursorControl = 0x18C4;
inline constexpr uint32_t kRegCursorControl0 = kRegCursorControl;
inline constexpr uint32_t kRegCursorControl1 = kRegCursorControl + kCursorEngineStride;
using CursorMode = RegField<0, 8>;
using CursorPaletteEntry = RegField<8, 8>;
inline constexpr uint32_t kCursorModeOff = 0;
inline constexpr uint32_t kCursorModeTwoColour = 3;
inline constexpr uint32_t kCursorModeSixteenColour = 4;
// Position plus the engine's offset: X from bit 14, Y from bit 0, each 15
// bits, added (not ORed) into one word.
inline constexpr uint32_t kRegCursorPosition = 0x18C8;
inline constexpr uint32_t kCursorCoordinateMask = 0x7FFF;
inline constexpr unsigned kCursorXShift = 14;
inline constexpr uint32_t CursorPositionWord(uint32_t x, uint32_t y) {
  return ((x & kCursorCoordinateMask) << kCursorXShift) + (y & kCursorCoordinateMask);
}
// Local address of the image.
inline constexpr uint32_t kRegCursorImageBase = 0x18CC;
// Image format code in bits 24 and up.
inline constexpr uint32_t kRegCursorImageFormat = 0x18D0;
inline constexpr uint32_t kCursorFormatTwoColour = 0x05000000;
inline constexpr uint32_t kCursorFormatSixteenColour = 0x04000000;

inline constexpr uint32_t CursorReg(uint32_t reg, uint32_t engine) {
  return reg + kCursorEngineStride * engine;
}
