// Flips on a board whose display controllers are modelled: the raster
// owns the control words of displays 1 and 2 and hands their writes to the
// flip latch, the rasters' own blanks are the interrupt controller's
// vertical blanks, and a synced flip reaches the current slot, and the
// address the controller shows, when its module's blank begins.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/board/chip_controllers.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_flip.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

constexpr uint64_t kLineNs = 10000;
// The cold chip's raster: 525 lines, the blank from line 480.
constexpr uint64_t kFrameLines = 525;
constexpr uint64_t kBlankLine = 480;

class FlipOnRasterTest : public ::testing::Test {
 protected:
  FlipOnRasterTest() {
    board.SetLogging(false, false);
    sim.GetClock().SetReadCost(0);
    display.Raster().SetLineTimeNs(0, kLineNs);
    display.Raster().SetLineTimeNs(1, kLineNs);
    irq.SetVBlankCounter([this](unsigned c) { return display.Raster().VBlanks(c); });
    sim.GetClock().Advance(kLineNs / 2);  // module 0 in the middle of its lines
  }
  // Moves virtual time in whole lines to `line` of module m's current
  // frame (or of the next one when it has passed) and looks at the
  // interrupt sources.
  void RunToLine(unsigned m, uint64_t line) {
    const uint64_t now = display.Raster().Line(m);
    sim.GetClock().Advance(((line + kFrameLines - now) % kFrameLines) * kLineNs);
    irq.Tick();
  }

  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  ChipDisplay display{board};
  InterruptController irq{board};
  FlipLatch flips{board, irq, display.Raster()};
};

TEST_F(FlipOnRasterTest, EachBlankARasterBeginsIsOneVerticalBlankOfItsController) {
  // Module 0 scans (the cold chip's VGA regime); module 1's controller is off.
  RunToLine(0, kBlankLine - 2);
  EXPECT_EQ(board.RegRead(kIrqRegPending, 4), 0u);
  RunToLine(0, kBlankLine);
  EXPECT_EQ(board.RegRead(kIrqRegPending, 4), kIrqVBlank0);
  EXPECT_EQ(display.Raster().VBlanks(0), 1u);
  board.RegWrite(kIrqRegAcknowledge, 4, kIrqVBlank0);
  // Inside the blank no new one begins.
  RunToLine(0, kBlankLine + 20);
  EXPECT_EQ(irq.Pending(), 0u);
  // Module 1 scans once its controller is on: the raster still sees the
  // control word the flip latch shares.
  board.RegWrite(0x1A00, 4, 0x1);
  EXPECT_TRUE(display.Raster().Running(1));
  RunToLine(1, kBlankLine);
  EXPECT_EQ(irq.Pending() & kIrqVBlank1, kIrqVBlank1);
  // Several frames at one look: each counted, one interrupt latched.
  const uint64_t before = irq.VBlankCount(0);
  const uint64_t begun = display.Raster().VBlanks(0);
  sim.GetClock().Advance(3 * kFrameLines * kLineNs);
  irq.Tick();
  EXPECT_EQ(irq.VBlankCount(0), before + 1);
  EXPECT_EQ(display.Raster().VBlanks(0), begun + 3);
  // A module that holds its line begins no blank.
  display.Raster().Freeze(0, true);
  sim.GetClock().Advance(2 * kFrameLines * kLineNs);
  irq.Tick();
  EXPECT_EQ(irq.VBlankCount(0), before + 1);
}

TEST_F(FlipOnRasterTest, ASyncedFlipIsShownFromTheBlankOfItsModule) {
  struct Case {
    unsigned display;  // 1, 2, 4, 8 as 0..3
    unsigned controller;
    uint32_t control, start;
    unsigned shift;
    uint32_t sync;
  } cases[] = {
      {0, 0, 0x1800, 0x1824, 7, 0x40},
      {1, 1, 0x1A00, 0x1A24, 7, 0x40},
      {2, 2, 0x19A8, 0x19C8, 9, 0x100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    const unsigned module = c.controller & 1;
    for (uint32_t s = 0; s < 4; ++s) board.RegWrite(c.start + 4 * s, 4, 0x100000 * (s + 1));
    // Without the sync bit the slot shows at once, and the controller is on.
    board.RegWrite(c.control, 4, 0x1 | (2u << c.shift));
    EXPECT_EQ(flips.Current(c.display), 2u);
    EXPECT_TRUE(display.Raster().Running(module));
    EXPECT_EQ(ReadControllerSurface(board, c.controller).address, 0x300000u);
    EXPECT_EQ(flips.DisplayedStart(c.display), 0x300000u);
    // With it the slot waits for the blank of its module, not before.
    RunToLine(module, kBlankLine + 10);
    board.RegWrite(c.control, 4, 0x1 | c.sync | (3u << c.shift));
    RunToLine(module, kBlankLine - 1);
    EXPECT_EQ(flips.Current(c.display), 2u);
    EXPECT_EQ(flips.Waiting(c.display), 3);
    EXPECT_EQ(ReadControllerSurface(board, c.controller).address, 0x300000u);
    RunToLine(module, kBlankLine);
    EXPECT_EQ(flips.Current(c.display), 3u);
    EXPECT_EQ(flips.Waiting(c.display), -1);
    EXPECT_EQ(ReadControllerSurface(board, c.controller).address, 0x400000u);
    // A byte write keeps the rest of the word and the current slot.
    board.RegWrite(c.control + 3, 1, 0x80);
    EXPECT_EQ(board.RegRead(c.control, 4) & 0xFF030001u, 0x80030001u);
    board.RegWrite(c.control, 4, 0x1);
    EXPECT_EQ(flips.Current(c.display), 0u);
  }
}

}  // namespace
}  // namespace orvsim
