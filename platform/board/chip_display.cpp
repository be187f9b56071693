#include "platform/board/chip_display.h"

namespace orvsim {

ChipDisplay::ChipDisplay(Board& board, bool cold) : raster_(board), vga_(board, &raster_), lut_(board), outputs_(board, raster_) {
  if (cold) {
    ChipVga::ColdRegime(board);
    ChipRaster::PowerOnTiming(board, 0);
    ChipRaster::PowerOnTiming(board, 1);
  }
  reset_ = std::make_unique<ChipReset>(board);
  reset_->OnReset([this] {
    vga_.Reset();
    lut_.Reset();
    outputs_.Reset();
  });
}

}  // namespace orvsim
