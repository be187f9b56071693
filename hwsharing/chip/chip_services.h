// Small chip services around mode changes: the VGA state with its palette,
// the memory-controller check of older board descriptions, the change of
// the graphics clock's source and speed, and the bytes a pixel format
// takes.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// The VGA state: the 62-byte VGA register block, then the palette as three
// planes of 256 bytes (red, green, blue).
inline constexpr uint32_t kVgaStatePaletteOffset = 62;

// A graphics-clock change: frequency, memory type (17, 18, 19, 37 pick the
// divider; others keep it) and synthesizer number (0 keeps the select).
struct GCLKREQUEST {
  uint32_t ulFrequency;  // kHz
  uint8_t ucType;
  uint8_t ucFs;
  uint8_t aucPad[2];
};
static_assert(sizeof(GCLKREQUEST) == 8);

// read != 0: palette into the planes; otherwise the planes into the palette.
HALSTATUS HSLKSTVgaLut(BOARDHANDLE* h, uint8_t* planes, uint32_t read);
HALSTATUS HSLKSTVgaState(BOARDHANDLE* h, uint8_t* state, uint32_t read);
HALSTATUS HSLKSTMemoryControllerCheck(BOARDHANDLE* h);
HALSTATUS HSLKSTChangeGclkSpeed(BOARDHANDLE* h, const GCLKREQUEST* request);
// 2 for the YUV formats, 4 for the 32-bit extended ones, else the bit count
// rounded up to bytes.
uint32_t GetBytePerPixel(uint32_t format);
