// The display side of the chip in one object: the raster, the VGA register
// file, the colour look-up tables, the output registers with the TV
// encoder's CRC, and the reset that brings them back to power-on. A test
// makes one after it has set up its cold chip.
#pragma once

#include <memory>

#include "platform/board/board.h"
#include "platform/board/chip_lut.h"
#include "platform/board/chip_outputs.h"
#include "platform/board/chip_raster.h"
#include "platform/board/chip_reset.h"
#include "platform/board/chip_vga.h"

namespace orvsim {

class ChipDisplay {
 public:
  // With `cold`, the board first gets what a chip shows at power-on after
  // its video BIOS ran: the VGA regime and a 640x480 raster on both modules.
  explicit ChipDisplay(Board& board, bool cold = true);

  ChipRaster& Raster() { return raster_; }
  ChipVga& Vga() { return vga_; }
  ChipLut& Lut() { return lut_; }
  ChipOutputs& Outputs() { return outputs_; }
  ChipReset& Reset() { return *reset_; }

 private:
  ChipRaster raster_;
  ChipVga vga_;
  ChipLut lut_;
  ChipOutputs outputs_;
  std::unique_ptr<ChipReset> reset_;  // made last: its image is the cold chip
};

}  // namespace orvsim
