// The cursor engines and the hot-plug register, through the register window
// as the driver reaches them.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/board/chip_cursor.h"
#include "platform/board/chip_dma.h"
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

// Images are laid out by hand here, bit by bit, from the register
// description; the decoder must read back each pixel's index and alpha.
TEST(ChipCursor, TwoColourImageIsColourPlaneThenVisibilityPlane) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  ChipCursor cursor(board);
  const uint32_t base = 0x10000;
  board.RegWrite(0x1ACC, 4, base);
  board.RegWrite(0x1AD0, 4, 0x05000000);
  board.RegWrite(0x1AC4, 4, 3);
  board.RegWrite(0x1AC0, 4, 0x000000FF);  // entry 0
  board.RegWrite(0x1AC4, 4, 0x103);
  board.RegWrite(0x1AC0, 4, 0x00FF0000);  // entry 1
  uint8_t* row = board.LocalMemory() + base + 32 * 7;  // row 7
  row[1] = 0x04;       // colour plane: pixel 10
  row[8 + 1] = 0x0C;   // visibility plane: pixels 10 and 11
  row[8 + 7] = 0x80;   // visibility: pixel 63, colour clear
  row[16] = 0xFF;      // padding: never read
  EXPECT_EQ(cursor.ImagePixel(1, 10, 7), (ChipCursor::Pixel{1, 0x00FF0000, 0xFF}));
  EXPECT_EQ(cursor.ImagePixel(1, 11, 7), (ChipCursor::Pixel{0, 0x000000FF, 0xFF}));
  EXPECT_EQ(cursor.ImagePixel(1, 63, 7).alpha, 0xFF);
  EXPECT_EQ(cursor.ImagePixel(1, 0, 7).alpha, 0);
  EXPECT_EQ(cursor.ImagePixel(1, 10, 8).alpha, 0);
  EXPECT_EQ(cursor.ImageFormat(1), 5u);
  EXPECT_EQ(cursor.ImageBase(1), base);
}

TEST(ChipCursor, SixteenColourImageHasFourIndexAndFiveAlphaPlanes) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  ChipCursor cursor(board);
  const uint32_t base = 0x20000;
  board.RegWrite(0x18CC, 4, base);
  board.RegWrite(0x18D0, 4, 0x04000000);
  board.RegWrite(0x18C4, 4, (9u << 8) | 4);
  board.RegWrite(0x18C0, 4, 0x00123456);
  // Pixel 40 of row 63: index 9 (planes 0 and 3), alpha 0xA8 (alpha bits 3,
  // 5, 7: planes 4, 6, 8); each plane is two words, the pixel in the second.
  uint8_t* row = board.LocalMemory() + base + 128 * 63;
  for (unsigned plane : {0u, 3u, 4u, 6u, 8u}) {
    uint32_t word = 1u << (40 - 32);
    std::memcpy(row + 8 * plane + 4, &word, 4);
  }
  EXPECT_EQ(cursor.ImagePixel(0, 40, 63), (ChipCursor::Pixel{9, 0x00123456, 0xA8}));
  EXPECT_EQ(cursor.ImagePixel(0, 8, 63), (ChipCursor::Pixel{0, 0, 0}));  // same bit, first word
}

TEST(ChipCursorDeath, ImageOfUnknownFormatOrOutsideMemoryEndsTheTest) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  ChipCursor cursor(board);
  board.RegWrite(0x18D0, 4, 0x03000000);
  EXPECT_DEATH(cursor.ImagePixel(0, 0, 0), "format 3");
  board.RegWrite(0x18D0, 4, 0x04000000);
  board.RegWrite(0x18CC, 4, static_cast<uint32_t>(board.LocalMemorySize()) - 4096);
  EXPECT_DEATH(cursor.ImagePixel(0, 0, 0), "outside local memory");
}

TEST(ChipCursor, StatusBitTwentyTwoCanBeHeldClear) {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard({});
  orvsim::DmaEngine dma(board);
  EXPECT_EQ(board.RegRead(0x450, 4) & 0x400000u, 0x400000u);
  dma.HoldFifoRoomClear(true);
  EXPECT_EQ(board.RegRead(0x450, 4) & 0x400000u, 0u);
  dma.HoldFifoRoomClear(false);
  EXPECT_EQ(board.RegRead(0x450, 4) & 0x400000u, 0x400000u);
}

}  // namespace
