// The load-sense comparators of the chip's two DACs (register 0x1C14).
//
// - Each DAC has three channel comparators: DAC 1 in bits 0-2, DAC 2 in
//   bits 3-5. A channel that drives a load (a monitor's 75-ohm termination)
//   reads as a clear bit, a channel without one as a set bit. The loads are
//   the test's choice (SetLoads); without a choice no channel has a load.
// - The other bits of 0x1C14 are stored as written; writes do not change
//   the comparators.
// - DacCarriesSync(board, dac): whether the DAC's output carries sync now:
//   its word (0x1C18, 0x1C1C) has the off bits 10 and 12 and its sync-blank
//   bit (15, 16) clear, and the module it takes (DAC 1: bit 14; DAC 2:
//   bits 14-15 name controller 0-3, 2 the TV path on module 0) runs: bit 5
//   of the module's clock word (0x1C00, 0x1C04) clear. A DDC monitor that
//   answers only with sync (DdcMonitor::AnswerOnlyWhile) asks it.
// - Left out: the analog side (the test colour's levels, settling time): the
//   comparators answer at once, whatever the DAC drives.
#pragma once

#include <array>
#include <cstdint>

#include "platform/board/board.h"

namespace orvsim {

inline constexpr uint32_t kChipRegDacSense = 0x1C14;

bool DacCarriesSync(const Board& board, unsigned dac);

class ChipDacSense {
 public:
  explicit ChipDacSense(Board& board);
  ~ChipDacSense();
  ChipDacSense(const ChipDacSense&) = delete;
  ChipDacSense& operator=(const ChipDacSense&) = delete;

  // Channels of DAC `dac` (0: DAC 1, 1: DAC 2) with a load: bit i for
  // channel i.
  void SetLoads(unsigned dac, uint8_t channels) { loads_.at(dac) = channels & 0x7u; }
  unsigned Reads() const { return reads_; }

 private:
  Board& board_;
  std::array<uint8_t, 2> loads_{};
  unsigned reads_ = 0;
};

}  // namespace orvsim
