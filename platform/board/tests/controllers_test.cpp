// The controller side of the simulated chip: rasters driven by the timing
// blocks and the synthesizers, the video-reset pulse, the surface decoder,
// the output registers, the TV encoder's CRC and the clock decoders.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/board/chip_clocks.h"
#include "platform/board/chip_controllers.h"
#include "platform/board/chip_display.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

// A first-generation FS word for the dividers (output Fout2).
uint32_t FirstFsWord(uint32_t m1, uint32_t m2, uint32_t p1, uint32_t p2) {
  uint32_t w = (0u - m1) & 0x1F;
  if (m1 > 32) w |= 0x20;
  w |= ((0u - m2) & 0x1F) << 6;
  w |= ((0u - p1) & 0x1F) << 11;
  w |= p2 == 2 ? 1u << 16 : ((0u - p2) & 0x3E) << 16;
  return w;
}
uint32_t LaterFsWord(uint32_t m1, uint32_t m2, uint32_t p1, uint32_t p2) {
  return (m1 - 1) | (m2 - 1) << 6 | (p1 - 1) << 11 | (p2 - 1) << 16;
}

class Controllers : public ::testing::Test {
 protected:
  explicit Controllers(uint16_t device = 0x0A42) : board(sim.AddBoard(Config(device))), chip(board) {
    board.SetLogging(false, false);
    sim.GetClock().SetReadCost(0);
  }
  static BoardConfig Config(uint16_t device) {
    BoardConfig c;
    c.device_id = device;
    return c;
  }
  uint32_t Line(unsigned m) { return board.RegRead(kChipRegLineCounter + 0x200 * m, 4) & 0xFFF; }
  // Module m: totals, controller on, its clock on FS `fs` (select fs + 1).
  void Run(unsigned m, uint32_t htotal, uint32_t vtotal, unsigned fs) {
    board.RegWrite(kChipRegHTotal + 0x200 * m, 4, htotal - 2);
    board.RegWrite(kChipRegVTotal + 0x200 * m, 4, vtotal - 1);
    board.RegWrite(m == 0 ? kChipRegModuleClock0 : kChipRegModuleClock1, 4, (fs + 1) << 6);
    board.RegWrite(kChipRegControl + 0x200 * m, 4, 1);
  }

  Simulation sim;
  Board& board;
  ChipDisplay chip;
};

TEST_F(Controllers, FirstGenerationSynthesizerSetsTheLineAndFrameRate) {
  // 27,000 x 40 / 4 x 8 / 16 = 135,000 kHz; 1,688 x 1,066 (a 1280x1024 raster).
  board.Poke(0xE18, 4, FirstFsWord(40, 8, 4, 16));
  Run(0, 1688, 1066, 2);
  const RasterTiming t = chip.Raster().Timing(0);
  EXPECT_EQ(t.pixel_khz, 135000u);
  EXPECT_EQ(t.htotal, 1688u);
  EXPECT_EQ(t.vtotal, 1066u);
  EXPECT_NEAR(t.line_ns, 1688 * 1e6 / 135000, 1e-6);
  EXPECT_NEAR(t.frame_hz, 75.02, 0.01);
  const uint32_t start = Line(0);
  sim.GetClock().Advance(static_cast<uint64_t>(t.line_ns * 100) + 1);
  EXPECT_EQ(Line(0), start + 100);
}

TEST_F(Controllers, OutputSelectionsOfTheSynthesizerWord) {
  const uint32_t w = FirstFsWord(40, 8, 4, 16);
  EXPECT_EQ(ChipClocks::FsKHz(ClockGeneration::kFirst, w), 135000u);
  EXPECT_EQ(ChipClocks::FsKHz(ClockGeneration::kFirst, w | 1u << 26), 1080000u);  // VCO1
  EXPECT_EQ(ChipClocks::FsKHz(ClockGeneration::kFirst, w | 1u << 27), 2160000u);  // VCO2
  EXPECT_EQ(ChipClocks::FsKHz(ClockGeneration::kFirst, w | 1u << 30), 13500u) << "VCO2 from the reference";
  EXPECT_EQ(ChipClocks::FsKHz(ClockGeneration::kFirst, FirstFsWord(30, 20, 6, 2)), 27000u * 30 / 6 * 20 / 2);
  // Later generation: M2 x (M1 x 27,000 / P1) / (2 x P2).
  EXPECT_EQ(ChipClocks::FsKHz(ClockGeneration::kLater, LaterFsWord(40, 8, 4, 4)), 8u * (40 * 27000 / 4) / 8);
}

TEST_F(Controllers, AModuleScansOnlyWhileItsControllerIsOnAndItsClockRuns) {
  board.Poke(0xE10, 4, FirstFsWord(40, 8, 4, 16));
  Run(1, 1000, 600, 0);
  sim.GetClock().Advance(1000 * 1e6 / 135000 * 50);
  const uint32_t running = Line(1);
  EXPECT_GE(running, 49u);
  board.RegWrite(kChipRegControl + 0x200, 4, 0);  // controller 1 off
  sim.GetClock().Advance(1000000);
  EXPECT_EQ(Line(1), running);
  EXPECT_FALSE(chip.Raster().Running(1));
  // Module 0 of a cold chip scans in the VGA regime at the VGA dot clock.
  EXPECT_TRUE(chip.Raster().Running(0));
  EXPECT_EQ(chip.Raster().Timing(0).pixel_khz, kChipVgaDotClockKHz);
}

TEST_F(Controllers, TheVideoResetPulseRestartsBothModulesTogether) {
  board.Poke(0xE10, 4, FirstFsWord(40, 8, 4, 16));
  Run(0, 1000, 600, 0);
  Run(1, 1000, 600, 0);
  sim.GetClock().Advance(1000);
  board.RegWrite(kChipRegModuleClock1, 4, (1u << 6) | kChipModuleClockGate);  // module 1 held
  sim.GetClock().Advance(3000000);
  board.RegWrite(kChipRegModuleClock1, 4, 1u << 6);
  ASSERT_NE(Line(0), Line(1));
  const uint32_t clock0 = board.RegRead(kChipRegModuleClock0, 4);
  board.RegWrite(kChipRegModuleClock0, 4, clock0 | kChipVideoResetPulse);
  sim.GetClock().Advance(500000);
  EXPECT_EQ(Line(0), 0u) << "held at line 0 while the pulse is set";
  EXPECT_EQ(Line(1), 0u);
  board.RegWrite(kChipRegModuleClock0, 4, clock0);
  sim.GetClock().Advance(1000 * 1e6 / 135000 * 20.5);
  EXPECT_EQ(Line(0), 20u);
  EXPECT_EQ(Line(1), 20u);
  EXPECT_EQ(chip.Raster().VideoResets(), 1u);
  EXPECT_EQ(chip.Raster().Frame(0), 0u);
}

TEST_F(Controllers, SurfaceDecoderFindsTheFirstPixelShown) {
  // Controller 3: format 50 (4 bytes), pitch 2,048, address 0x12000 with
  // the second-field bit, window from (24, 7).
  board.Poke(0x19A8 + 0x200, 4, 1);
  board.Poke(0x19D8 + 0x200, 4, (50u << 24) | (3u << 16) | 2048);
  board.Poke(0x19C8 + 0x200, 4, 0x12000 | 4 | 0x3FF);
  board.Poke(0x19AC + 0x200, 4, 24);
  board.Poke(0x19B0 + 0x200, 4, 24 + 1279);
  board.Poke(0x19F0 + 0x200, 4, 7);
  board.Poke(0x19F4 + 0x200, 4, 7 + 1023);
  const ControllerSurface s = ReadControllerSurface(board, 3);
  EXPECT_TRUE(s.on);
  EXPECT_EQ(s.pitch, 2048u);
  EXPECT_EQ(s.bytes_per_pixel, 4u);
  EXPECT_EQ(s.address, 0x12000u) << "low bits and the field bit are not address";
  EXPECT_EQ(s.window_x1 - s.window_x0 + 1, 1280u);
  EXPECT_EQ(s.FirstPixelByte(), 0x12000u + (7u * 2048 + 24) * 4);
  EXPECT_FALSE(ReadControllerSurface(board, 1).on);
}

TEST_F(Controllers, OutputRegistersDecode) {
  board.Poke(kChipRegDac1, 4, (1u << 14) | (1u << 11));
  board.Poke(kChipRegDac2, 4, (1u << 10) | (1u << 12) | (2u << 14) | (1u << 16));
  board.Poke(kChipRegDvoPower, 4, 2);
  board.Poke(kChipRegDvoSource, 4, (3u << 14) | (1u << 30));
  const DacState d1 = chip.Outputs().Dac(0), d2 = chip.Outputs().Dac(1);
  EXPECT_TRUE(d1.on);
  EXPECT_EQ(d1.source, 1u);
  EXPECT_TRUE(d1.hsync_negative);
  EXPECT_FALSE(d1.blanked);
  EXPECT_FALSE(d2.on);
  EXPECT_TRUE(d2.blanked);
  EXPECT_EQ(d2.source, 2u) << "the TV path";
  EXPECT_TRUE(chip.Outputs().Dvo(0).on);
  EXPECT_EQ(chip.Outputs().Dvo(0).source, 2);
  EXPECT_FALSE(chip.Outputs().Dvo(1).on);
  EXPECT_EQ(chip.Outputs().Dvo(1).source, 1);
  board.Poke(kChipRegDvoPower, 4, 4);
  EXPECT_FALSE(chip.Outputs().Dvo(0).on) << "bit 2 switches both off";
}

class LaterControllers : public Controllers {
 protected:
  LaterControllers() : Controllers(0x5D62) {}
};

TEST_F(LaterControllers, DvoSourceCarriesBit8OnTheLaterDevices) {
  struct Row {
    uint32_t code;
    bool bit8;
    int controller;
  } rows[] = {{0, false, 0}, {0, true, 1}, {1, true, 2}, {2, false, 3}, {3, false, -1}};
  for (const Row& r : rows) {
    board.Poke(kChipRegDvoSource, 4, (r.code << 14) | (r.bit8 ? 1u << 8 : 0));
    EXPECT_EQ(chip.Outputs().Dvo(0).source, r.controller) << r.code << " " << r.bit8;
  }
}

// ---- TV encoder CRC ------------------------------------------------------------

class TvCrc : public Controllers {
 protected:
  TvCrc() {
    ChipOutputs::WriteTvTestMode(board);  // module 1: 858 x 262
    board.Poke(0xE10, 4, FirstFsWord(32, 8, 16, 2));  // 27,000 / 16 x 8 / 2 = 6,750 kHz
    board.RegWrite(kChipRegModuleClock1, 4, 1u << 6);
    board.RegWrite(kChipRegControl + 0x200, 4, 1);
  }
  uint32_t Crc() { return board.RegRead(kChipRegTvCrc, 4); }
  void NextField() { sim.GetClock().Advance(static_cast<uint64_t>(chip.Raster().Timing(1).line_ns * 262) + 1); }
  // Two reads one field apart, as a pair in either order.
  bool PairMatches() {
    const uint32_t a = Crc();
    NextField();
    const uint32_t b = Crc();
    return (a == kTvCrcEvenField && b == kTvCrcOddField) || (a == kTvCrcOddField && b == kTvCrcEvenField);
  }
  void Start() { board.RegWrite(kChipRegTvCrcStart, 4, 0x3FFFFFFF); }
};

TEST_F(TvCrc, TheTestModeShowsThePairOnSuccessiveFields) {
  EXPECT_TRUE(chip.Outputs().TvBlockInTestMode());
  EXPECT_EQ(chip.Raster().Timing(1).vtotal, 262u);
  EXPECT_FALSE(PairMatches()) << "no run started";
  Start();
  EXPECT_TRUE(PairMatches());
  EXPECT_TRUE(PairMatches());
}

TEST_F(TvCrc, AnyOtherPictureOrAHeldModuleNeverMatches) {
  Start();
  board.RegWrite(0x1D90, 4, 0);  // word 12 of the block
  EXPECT_FALSE(PairMatches());
  ChipOutputs::WriteTvTestMode(board);
  board.RegWrite(kChipRegControl + 0x200, 4, 0);  // module 1 stops: one field forever
  EXPECT_FALSE(PairMatches());
}

TEST_F(TvCrc, UnstableRunsAndTheNeverMatchMode) {
  chip.Outputs().SetUnstableRuns(2);
  Start();
  EXPECT_FALSE(PairMatches());
  Start();
  EXPECT_FALSE(PairMatches());
  Start();
  EXPECT_TRUE(PairMatches()) << "the third run is stable";
  chip.Outputs().SetNeverMatch(true);
  Start();
  EXPECT_FALSE(PairMatches());
  EXPECT_EQ(chip.Outputs().CrcRuns(), 4u);
}

// ---- Clock decoders ---------------------------------------------------------------

TEST_F(Controllers, FirstGenerationGraphicsAndTestClock) {
  ChipClocks clocks(board);
  board.RegWrite(0xE18, 4, FirstFsWord(40, 8, 4, 4));  // FS 2: 540,000 kHz
  struct Row {
    uint32_t code, divider;
    int fs;
    uint32_t khz;
  } rows[] = {{5, 1, 2, 180000}, {6, 2, 2, 216000}, {5, 3, 2, 270000}, {5, 0, 2, 540000}, {9, 0, -1, 0}};
  for (const Row& r : rows) {
    board.Poke(0xE00, 4, (r.code << 8) | (r.divider << 5));
    EXPECT_EQ(clocks.GraphicsClockFs(), r.fs) << r.code;
    EXPECT_EQ(clocks.GraphicsClockKHz(), r.khz) << r.code << " " << r.divider;
  }
  board.Poke(0xE00, 4, (1u << 29) | (7u << 20));
  EXPECT_TRUE(clocks.TestClockState().on);
  EXPECT_EQ(clocks.TestClockState().source, 7u);
}

TEST_F(LaterControllers, LaterClockWordsAndTheColdTestClock) {
  Board& later = sim.AddBoard(Config(0x5D63));
  ChipClocks clocks(later);
  EXPECT_EQ(later.RegRead(0xE24, 4), 0u) << "a cold chip";
  EXPECT_FALSE(clocks.TestClockState().on);
  later.RegWrite(0xE34, 4, LaterFsWord(40, 8, 4, 4));
  const uint32_t fs1 = 8 * (40 * 27000 / 4) / (2 * 4);  // 270,000 kHz
  struct Row {
    unsigned clock;
    uint32_t word;
    uint32_t khz;
  } rows[] = {{1, (2u << 1) | (0u << 5), fs1},     {1, (2u << 1) | (3u << 5), fs1 / 4},
              {1, (2u << 1) | (6u << 5), fs1 / 16}, {1, (2u << 1) | (7u << 5), 0},
              {2, (2u << 1) | (5u << 5), fs1 / 8},  {0, (2u << 1), 0} /* 0xE00 takes only FS 0 */,
              {1, (5u << 1), 0}};
  for (const Row& r : rows) {
    later.Poke(0xE00 + 4 * r.clock, 4, r.word);
    EXPECT_EQ(clocks.LaterClockKHz(r.clock), r.khz) << r.clock << " " << std::hex << r.word;
  }
  later.Poke(0xE04, 4, 2u << 1);
  EXPECT_EQ(clocks.GraphicsClockFs(), 1);
  later.RegWrite(0xE24, 4, (1u << 1) | (10u << 2));
  EXPECT_TRUE(clocks.TestClockState().on);
  EXPECT_EQ(clocks.TestClockState().source, 10u);
}

}  // namespace
}  // namespace orvsim
