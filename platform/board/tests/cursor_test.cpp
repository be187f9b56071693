// The cursor engines and the hot-plug register, through the register window
// as the driver reaches them.
#include <gtest/gtest.h>

#include "platform/board/chip_cursor.h"
#include "platform/board/simulation.h"

namespace {

using orvsim::ChipCursor;

TEST(ChipCursor, ControlSelectsModeAndPaletteEntry) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  ChipCursor cursor(board);
  // Engine 1: entry 0 then entry 1, then shown in two-colour mode.
  board.RegWrite(0x1AC4, 4, 3);
  board.RegWrite(0x1AC0, 4, 0x00112233);
  board.RegWrite(0x1AC4, 4, 0x103);
  board.RegWrite(0x1AC0, 4, 0x00445566);
  board.RegWrite(0x1AC8, 4, (100u << 14) + 50);
  EXPECT_EQ(cursor.Palette(1, 0), 0x00112233u);
  EXPECT_EQ(cursor.Palette(1, 1), 0x00445566u);
  EXPECT_EQ(cursor.Palette(0, 1), 0u);
  EXPECT_TRUE(cursor.Shown(1));
  EXPECT_FALSE(cursor.Shown(0));
  EXPECT_EQ(cursor.X(1), 100u);
  EXPECT_EQ(cursor.Y(1), 50u);
  board.RegWrite(0x1AC4, 4, 0);
  EXPECT_FALSE(cursor.Shown(1));
}

TEST(ChipCursor, HotPlugBitIsAcknowledgedByWritingIt) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  ChipCursor chip(board);
  board.RegWrite(ChipCursor::kRegHotPlug, 4, 0x5);
  EXPECT_EQ(board.RegRead(ChipCursor::kRegHotPlug, 4), 0x5u);
  chip.RaiseHotPlug();
  const uint32_t pending = board.RegRead(ChipCursor::kRegHotPlug, 4);
  EXPECT_EQ(pending, 0x1005u);
  board.RegWrite(ChipCursor::kRegHotPlug, 4, pending & ~ChipCursor::kHotPlugPending);  // writing 0 keeps it
  EXPECT_TRUE(chip.HotPlugPending());
  board.RegWrite(ChipCursor::kRegHotPlug, 4, pending);
  EXPECT_FALSE(chip.HotPlugPending());
  EXPECT_EQ(chip.HotPlugAcknowledges(), 1u);
  EXPECT_EQ(board.RegRead(ChipCursor::kRegHotPlug, 4), 0x5u);
}

}  // namespace
