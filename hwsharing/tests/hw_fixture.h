// Test fixtures over the simulated board (hw_board.h).
#pragma once

#include <gtest/gtest.h>

#include "hwsharing/tests/hw_board.h"
#include "platform/board/chip_clocks.h"

namespace hwtest {

// An opened board with an empty board description (or one giving every FS
// the same limits) and the chip's clock blocks modelled; register writes are
// logged from here on.
class ClockBoardTest : public testing::Test {
 protected:
  explicit ClockBoardTest(uint16_t device, const int16_t (*fsLimitsMHz)[6] = nullptr)
      : hw(Config(device)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    if (fsLimitsMHz != nullptr) SetFsLimits(*fsLimitsMHz);
    clocks = hw.AddParts(orvmachine::kClocks).clocks.get();
    hw.board().SetLogging(false, true);
  }
  // The same limits for FS 0..3.
  void SetFsLimits(const int16_t (&mhz)[6]) {
    for (unsigned n = 0; n < 4; ++n) PutFsLimits(h, n, mhz);
  }

  HwBoard hw;
  BOARDHANDLE* h;
  orvsim::ChipClocks* clocks;  // the machine's, modelled once the board is open
};

}  // namespace hwtest
