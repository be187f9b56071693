// What the display controllers' surface registers show, decoded for tests:
// whether a controller is on, its pitch and pixel format, the start address
// of its primary surface and the display-start window. Plain storage: the
// decoder reads the registers and changes nothing.
//
// Controller c sits in module c & 1; controllers 0 and 1 use the module's
// first register set, 2 and 3 its second:
//
// | what | controllers 0/1 | controllers 2/3 |
// |---|---|---|
// | control, bit 0 on | 0x1800 | 0x19A8 |
// | pitch word: bits 0-13 pitch in pixels, 24-29 format code | 0x1834 | 0x19D8 |
// | current buffer slot (bits 16-17 of the control) | 0x1800 | 0x19A8 |
// | surface address of slot s (slot 1: the second field) | 0x1824 + 4s | 0x19C8 + 4s |
// | window start x, end x - 1, start y, end y - 1 (12 bits) | 0x1804, 0x1808, 0x1848, 0x184C | 0x19AC, 0x19B0, 0x19F0, 0x19F4 |
//
// (+ 0x200 for module 1). The surface address is that of the slot the
// controller shows now (the flip latch, chip_flip.h, moves it); its
// register's bits
// 11-26 on devices 0x0A41 and 0x0A42 and bits 10-27 on the later devices;
// bit 2 marks the second field. Format codes: 16 one byte a pixel; 38, 40
// and 46 two; 50, 52 and 59 four; others unknown (0).
#pragma once

#include <cstdint>

#include "platform/board/board.h"

namespace orvsim {

struct ControllerSurface {
  bool on;
  uint32_t pitch;            // pixels
  uint32_t format;           // code
  uint32_t bytes_per_pixel;  // 0 for an unknown code
  uint32_t address;          // bytes
  uint32_t window_x0, window_x1, window_y0, window_y1;  // first and last pixel / line
  // The frame-buffer byte of the first pixel the controller shows.
  uint64_t FirstPixelByte() const {
    return address + (uint64_t{window_y0} * pitch + window_x0) * bytes_per_pixel;
  }
};

ControllerSurface ReadControllerSurface(const Board& board, unsigned controller);

}  // namespace orvsim
