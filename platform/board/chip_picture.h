// What a monitor sees: the picture a display controller scans out, and the
// controller each output shows.
//
// - A controller's picture is its display-start window (`chip_controllers.h`)
//   of the frame buffer, read from the window's first pixel at the
//   controller's pitch and format, as 8-bit RGB. Formats: 16, one byte a
//   pixel through the controller's colour table (its components' bits 8-15);
//   38, X1R5G5B5; 40, R5G6B5; 50, X8R8G8B8; 52, X2R10G10B10 (the top eight
//   bits of each component). Smaller components are widened by repeating
//   their top bits. Other formats (46, 59: not RGB) and a controller that
//   is off show nothing (an empty picture), as does a window that reaches
//   past the local memory.
// - Outputs: DAC 1 shows the first controller of the module its source
//   names; DAC 2 controllers 0, 1 or 3 (source 2 is the TV path); each DVO
//   the controller its source names. An output that is off, blanked or
//   names no controller shows none.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/chip_lut.h"
#include "platform/board/chip_outputs.h"

namespace orvsim {

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom
  bool Empty() const { return rgb.empty(); }
  // Pixel (x, y) as 0xRRGGBB.
  uint32_t At(uint32_t x, uint32_t y) const {
    const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
  }
};

Picture ControllerPicture(const Board& board, const ChipLut& lut, unsigned controller);

enum class BoardOutput { kDac1, kDac2, kDvo1, kDvo2 };

// The controller the output shows, or -1.
int OutputController(const ChipOutputs& outputs, BoardOutput output);

}  // namespace orvsim
