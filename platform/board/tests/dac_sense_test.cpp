// The DAC load-sense comparators and the sync test of a DAC's output,
// through the register window as the driver reaches them.
#include <gtest/gtest.h>

#include "platform/board/chip_dac_sense.h"
#include "platform/board/simulation.h"

namespace {

TEST(ChipDacSense, LoadedChannelsReadClear) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  orvsim::ChipDacSense sense(board);
  board.RegWrite(orvsim::kChipRegDacSense, 4, 0xFF00);
  EXPECT_EQ(board.RegRead(orvsim::kChipRegDacSense, 4), 0xFF3Fu) << "no load anywhere";
  sense.SetLoads(0, 0b101);
  sense.SetLoads(1, 0b010);
  EXPECT_EQ(board.RegRead(orvsim::kChipRegDacSense, 4), 0xFF00u | 0b101'010u);
  EXPECT_EQ(sense.Reads(), 2u);
}

TEST(ChipDacSense, SyncNeedsTheDacOnUnblankedAndItsModuleRunning) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  board.RegWrite(0x1C00, 4, 0x20);  // module 0 held
  board.RegWrite(0x1C04, 4, 0);
  struct Case {
    uint32_t dac1, dac2;
    bool sync1, sync2;
  } cases[] = {
      {0, 0, false, false},                            // module 0 held
      {1u << 14, 1u << 14, true, true},                // module 1 (DAC 2: controller 1)
      {(1u << 14) | (1u << 10), 3u << 14, false, true},  // DAC 1 off; DAC 2 controller 3
      {(1u << 14) | (1u << 15), (1u << 14) | (1u << 16), false, false},  // syncs blanked
      {(1u << 14) | (1u << 12), 2u << 14, false, false},  // DAC 1 off; DAC 2 the TV path, module 0
  };
  for (const Case& c : cases) {
    board.RegWrite(0x1C18, 4, c.dac1);
    board.RegWrite(0x1C1C, 4, c.dac2);
    EXPECT_EQ(orvsim::DacCarriesSync(board, 0), c.sync1) << std::hex << c.dac1;
    EXPECT_EQ(orvsim::DacCarriesSync(board, 1), c.sync2) << std::hex << c.dac2;
  }
  EXPECT_FALSE(orvsim::DacCarriesSync(board, 2));
}

}  // namespace
