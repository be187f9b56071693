// The pictures the controllers scan out and the controllers the outputs
// show, from register values and frame-buffer bytes set here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/board/chip_display.h"
#include "platform/board/chip_picture.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

class Pictures : public ::testing::Test {
 protected:
  Pictures() : board(sim.AddBoard(Config())), chip(board) { board.SetLogging(false, false); }
  static BoardConfig Config() {
    BoardConfig c;
    c.device_id = 0x5D63;
    c.memory_size = uint64_t{16} << 20;
    return c;
  }
  // Controller 0 on, showing a w x h window at (x0, y0) of a surface at
  // `address` with `pitch` pixels of `format`.
  void Show(uint32_t format, uint32_t address, uint32_t pitch, uint32_t x0, uint32_t y0, uint32_t w,
            uint32_t h) {
    board.Poke(0x1800, 4, 1);
    board.Poke(0x1834, 4, format << 24 | 3u << 16 | pitch);
    board.Poke(0x1824, 4, address);
    board.Poke(0x1804, 4, x0);
    board.Poke(0x1808, 4, x0 + w - 1);
    board.Poke(0x1848, 4, y0);
    board.Poke(0x184C, 4, y0 + h - 1);
  }
  void Put(uint64_t at, uint32_t value, unsigned bytes) { std::memcpy(board.LocalMemory() + at, &value, bytes); }

  Simulation sim;
  Board& board;
  ChipDisplay chip;
};

TEST_F(Pictures, EachFormatBecomesEightBitRgb) {
  // Entry 5 of controller 0's table, written as the driver writes it.
  board.RegWrite(0x1838, 4, 5);
  board.RegWrite(0x183C, 4, 0x1200);
  board.RegWrite(0x1840, 4, 0x3400);
  board.RegWrite(0x1844, 4, 0x5600 | kLutCommit);
  struct Case {
    uint32_t format, bytes, pixel, rgb;
  };
  const Case cases[] = {
      {16, 1, 5, 0x123456},           {38, 2, 0x7C00, 0xFF0000},     {38, 2, 0x0210, 0x008484},
      {40, 2, 0xF81F, 0xFF00FF},      {40, 2, 0x07E0, 0x00FF00},     {50, 4, 0x00123456, 0x123456},
      {52, 4, 0x3FF00000, 0xFF0000},  {52, 4, 0x000FFC00, 0x00FF00}, {52, 4, 0x00000204, 0x000081},
  };
  for (const Case& c : cases) {
    std::memset(board.LocalMemory(), 0, 4096);
    Show(c.format, 0x400, 16, 0, 0, 4, 2);
    Put(0x400 + 1 * c.bytes, c.pixel, c.bytes);
    const Picture p = ControllerPicture(board, chip.Lut(), 0);
    ASSERT_EQ(p.width, 4u) << c.format;
    ASSERT_EQ(p.height, 2u) << c.format;
    EXPECT_EQ(p.At(1, 0), c.rgb) << c.format << " " << std::hex << c.pixel;
  }
}

TEST_F(Pictures, TheWindowStartsAtTheDisplayStartAndStepsByThePitch) {
  Show(50, 0x10000, 64, 3, 2, 5, 4);
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 64; ++x) Put(0x10000 + (y * 64 + x) * 4, y << 8 | x, 4);
  const Picture p = ControllerPicture(board, chip.Lut(), 0);
  ASSERT_EQ(p.width, 5u);
  ASSERT_EQ(p.height, 4u);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(p.At(x, y), (y + 2) << 8 | (x + 3)) << x << "," << y;
}

TEST_F(Pictures, NothingShowsWhenOffUnknownOrPastTheMemory) {
  struct Case {
    const char* what;
    uint32_t format, address, pitch, y0, h;
    bool on;
  };
  const uint32_t kLastPage = static_cast<uint32_t>(board.LocalMemorySize() - 0x1000);
  const Case cases[] = {
      {"off", 50, 0x400, 16, 0, 2, false},
      {"not RGB", 46, 0x400, 16, 0, 2, true},
      {"unknown code", 7, 0x400, 16, 0, 2, true},
      {"past the memory", 50, kLastPage, 1024, 0, 4, true},
      {"window end wrapped above its start", 50, 0x400, 1024, 4000, 100, true},
      {"wider than the pitch", 50, 0x400, 2, 0, 2, true},
  };
  for (const Case& c : cases) {
    Show(c.format, c.address, c.pitch, 0, c.y0, 4, c.h);
    if (!c.on) board.Poke(0x1800, 4, 0);
    EXPECT_TRUE(ControllerPicture(board, chip.Lut(), 0).Empty()) << c.what;
  }
  EXPECT_TRUE(ControllerPicture(board, chip.Lut(), 4).Empty()) << "no fifth controller";
}

TEST_F(Pictures, OutputsShowTheControllerTheirSourceNames) {
  struct Case {
    uint32_t dac1, dac2, dvoSource, dvoPower;
    int expected[4];  // DAC 1, DAC 2, DVO 1, DVO 2
  };
  const Case cases[] = {
      {0, 0, 0, 0, {0, 0, 0, 0}},
      {1u << 14, 3u << 14, 1u << 14 | 1u << 8 | 1u << 30, 0, {1, 3, 2, 1}},
      {1u << 10 | 1u << 12, 2u << 14, 0, 4, {-1, -1, -1, -1}},  // off, the TV path, both DVOs off
      {1u << 15, 1u << 14 | 1u << 16, 0, 1, {-1, -1, -1, 0}},   // sync blanked on both, DVO 1 off
  };
  const BoardOutput outputs[] = {BoardOutput::kDac1, BoardOutput::kDac2, BoardOutput::kDvo1,
                                 BoardOutput::kDvo2};
  for (const Case& c : cases) {
    board.Poke(kChipRegDac1, 4, c.dac1);
    board.Poke(kChipRegDac2, 4, c.dac2);
    board.Poke(kChipRegDvoSource, 4, c.dvoSource);
    board.Poke(kChipRegDvoPower, 4, c.dvoPower);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(OutputController(chip.Outputs(), outputs[i]), c.expected[i]) << std::hex << c.dac1 << " " << i;
  }
}

}  // namespace
}  // namespace orvsim
