// The interrupt controller and the flip latch: latched sources, the
// acknowledge and enable registers, vertical blanks by call or by frame,
// and the current buffer slot that a flip reaches at once or at the next
// vertical blank of its controller.
#include <gtest/gtest.h>

#include "platform/board/chip_flip.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

class InterruptsTest : public ::testing::Test {
 protected:
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  InterruptController interrupts{board};
};

TEST_F(InterruptsTest, SourcesLatchEnabledOrNotAndTheLineFollowsTheMask) {
  interrupts.VerticalBlank(1);
  interrupts.Raise(kIrqEngine);
  EXPECT_EQ(board.RegRead(kIrqRegPending, 4), kIrqVBlank1 | kIrqEngine);
  EXPECT_FALSE(interrupts.LineUp());
  board.RegWrite(kIrqRegEnable, 4, kIrqVBlank0);
  EXPECT_FALSE(interrupts.LineUp());
  board.RegWrite(kIrqRegEnable, 4, kIrqVBlank0 | kIrqEngine);
  EXPECT_TRUE(interrupts.LineUp());
  board.RegWrite(kIrqRegPending, 4, 0);  // read-only
  EXPECT_EQ(interrupts.Pending(), kIrqVBlank1 | kIrqEngine);
  board.RegWrite(kIrqRegAcknowledge, 4, kIrqEngine | kIrqVBlank0);
  EXPECT_EQ(interrupts.Pending(), kIrqVBlank1);
  EXPECT_FALSE(interrupts.LineUp());
  // Only a write that cleared a latched bit counts as an acknowledgement.
  EXPECT_EQ(interrupts.Acknowledgements(), 1u);
  board.RegWrite(kIrqRegAcknowledge, 4, kIrqEngine);
  EXPECT_EQ(interrupts.Acknowledgements(), 1u);
  EXPECT_EQ(board.RegRead(kIrqRegEnable, 4), kIrqVBlank0 | kIrqEngine);
}

TEST_F(InterruptsTest, TheThirdSourceNeedsTheConfigurationBit) {
  interrupts.VerticalBlank(2);
  EXPECT_EQ(interrupts.Pending(), 0u);
  board.RegWrite(kIrqRegConfig, 4, kIrqConfigThirdVBlank);
  interrupts.VerticalBlank(2);
  EXPECT_EQ(interrupts.Pending(), kIrqVBlank2);
  interrupts.VerticalBlank(0);
  EXPECT_EQ(interrupts.Pending(), kIrqVBlank2 | kIrqVBlank0);
}

TEST_F(InterruptsTest, FramesOfVirtualTimeGiveVerticalBlanks) {
  interrupts.SetFramePeriod(1000000);
  sim.GetClock().Advance(999999);
  EXPECT_EQ(board.RegRead(kIrqRegPending, 4), 0u);
  sim.GetClock().Advance(2);
  EXPECT_EQ(board.RegRead(kIrqRegPending, 4), kIrqVBlank0 | kIrqVBlank1);
  EXPECT_EQ(interrupts.VBlankCount(0), 1u);
  sim.GetClock().Advance(5000000);  // several frames, one blank each at the look
  interrupts.Tick();
  EXPECT_EQ(interrupts.VBlankCount(1), 2u);
}

TEST_F(InterruptsTest, AFlipReachesTheCurrentSlotAtOnceOrAtTheNextVerticalBlank) {
  FlipLatch flips(board, interrupts);
  struct Case {
    unsigned display;  // 1, 2, 4, 8 as 0..3
    uint32_t control;
    unsigned shift;
    uint32_t sync;
    unsigned controller;
  } cases[] = {
      {0, 0x1800, 7, 0x40, 0},
      {1, 0x1A00, 7, 0x40, 1},
      {2, 0x19A8, 9, 0x100, 0},
      {3, 0x1BA8, 9, 0x100, 1},
  };
  for (const Case& c : cases) {
    // Without the sync bit the slot is current at once; other bits stay.
    board.RegWrite(c.control, 4, 0x1 | (2u << c.shift));
    EXPECT_EQ((board.RegRead(c.control, 4) >> 16) & 3, 2u) << c.control;
    EXPECT_EQ(board.RegRead(c.control, 4) & 0x1, 0x1u);
    // With it the slot waits for its controller's vertical blank.
    board.RegWrite(c.control, 4, 0x1 | c.sync | (3u << c.shift) | (1u << 16));
    EXPECT_EQ(flips.Current(c.display), 2u) << c.control;
    EXPECT_EQ(flips.Waiting(c.display), 3);
    interrupts.VerticalBlank(1 - c.controller);
    EXPECT_EQ(flips.Current(c.display), 2u) << "the other controller's blank";
    interrupts.VerticalBlank(c.controller);
    EXPECT_EQ(flips.Current(c.display), 3u) << c.control;
    EXPECT_EQ(flips.Waiting(c.display), -1);
  }
  board.RegWrite(0x1824 + 8, 4, 0x12345678);  // buffer start registers store
  EXPECT_EQ(board.RegRead(0x1824 + 8, 4), 0x12345678u);
}

// A harness that keeps the chips for many runs resets them between runs:
// counts and waiting flips go; listeners and the frame period stay.
TEST_F(InterruptsTest, ResetClearsCountsAndWaitingFlipsAndKeepsTheWiring) {
  FlipLatch flips(board, interrupts);
  interrupts.SetFramePeriod(1000);
  board.RegWrite(0x1800, 4, 0x40 | (1u << 7));  // a synced flip waits
  interrupts.VerticalBlank(1);
  board.RegWrite(kIrqRegAcknowledge, 4, kIrqVBlank1);
  ASSERT_EQ(flips.Waiting(0), 1);
  sim.GetClock().Advance(5500);

  interrupts.Reset();
  flips.Reset();
  EXPECT_EQ(flips.Waiting(0), -1);
  EXPECT_EQ(flips.Flips(0), 0u);
  EXPECT_EQ(interrupts.VBlankCount(1), 0u);
  EXPECT_EQ(interrupts.Acknowledgements(), 0u);
  interrupts.Tick();
  EXPECT_EQ(interrupts.VBlankCount(0), 0u) << "frames count from the reset";
  // The latch still listens, and frames of virtual time still come.
  board.RegWrite(0x1800, 4, 0x40 | (2u << 7));
  sim.GetClock().Advance(1000);
  interrupts.Tick();
  EXPECT_EQ(interrupts.VBlankCount(0), 1u);
  EXPECT_EQ(flips.Current(0), 2u);
}

}  // namespace
}  // namespace orvsim
