// FPGA timing and register programs.
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/encoders/fpga_modes.h"

namespace {

MODEINFO Mode(uint32_t w, uint32_t h, uint32_t clock, uint32_t hfp, uint32_t hs, uint32_t hbp,
              uint32_t vfp, uint32_t vs, uint32_t vbp, uint32_t signal = 0) {
  MODEINFO m{};
  m.ulDispWidth = m.ulDeskWidth = w;
  m.ulDispHeight = m.ulDeskHeight = h;
  m.ulPixClock = clock;
  m.ulHFPorch = hfp;
  m.ulHSync = hs;
  m.ulHBPorch = hbp;
  m.ulVFPorch = vfp;
  m.ulVSync = vs;
  m.ulVBPorch = vbp;
  m.flSignalMode = signal;
  return m;
}

// 2560x1600 at 268,500 kHz (2720 x 1646) split over the two FPGAs: each
// controller runs half the line at half the clock, the FPGAs join them.
TEST(FpgaTiming, DualLinkHalfModeJoinsToTheFullLine) {
  const MODEINFO half = Mode(1280, 1600, 134250, 24, 16, 40, 3, 6, 37, 0x4);
  MODEINFO out{};
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit, half, 0, 14, &out));
  EXPECT_EQ(out.ulDispWidth, 2560u);
  EXPECT_EQ(out.ulDeskWidth, 2560u);
  EXPECT_EQ(out.ulHSync, 158u);
  EXPECT_EQ(out.ulHFPorch, 0u);
  EXPECT_EQ(out.ulHBPorch, 2u);
  EXPECT_EQ(out.ulPixClock, 268500u);
  EXPECT_EQ(out.ulVFPorch, 3u);  // mode 2 keeps the vertical timing
  EXPECT_EQ(out.flSignalMode, 0x8u);
  // One MHz less of FPGA clock limit and the mode no longer fits.
  EXPECT_FALSE(FpgaTiming(kFpgaModeSplit, half, 0, 13, &out));
}

TEST(FpgaTiming, ScaledModesMoveOneLineFromFrontToBackPorch) {
  const MODEINFO q = Mode(640, 480, 40000, 40, 128, 248, 10, 2, 33);
  MODEINFO out{};
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit32, q, 0, 0, &out));
  EXPECT_EQ(out.ulVFPorch, 9u);
  EXPECT_EQ(out.ulVBPorch, 34u);
  EXPECT_EQ(out.ulPixClock, 60000u);
  EXPECT_EQ(out.ulDispWidth, 1280u);
  EXPECT_EQ(out.ulHSync, 1584u - 1280 - 2);
}

TEST(FpgaTiming, ModesOutsideTheTableLeaveTheCopy) {
  const MODEINFO q = Mode(640, 480, 25175, 16, 96, 48, 10, 2, 33);
  MODEINFO out{};
  for (uint32_t mode : {3u, 6u, 255u}) {
    EXPECT_TRUE(FpgaTiming(mode, q, 0, 0, &out));
    EXPECT_EQ(0, std::memcmp(&out, &q, sizeof(q))) << mode;
  }
}

// Each limit of the FPGAs alone refuses a record that passes otherwise.
TEST(FpgaTiming, EachLimitAloneRefuses) {
  struct Case {
    const char* name;
    uint32_t mode;
    MODEINFO q;
    uint32_t shift;
    uint32_t limitByte;
  };
  const MODEINFO base1 = Mode(640, 480, 40000, 40, 128, 248, 10, 2, 33);  // T = 1056
  const MODEINFO base0 = Mode(1024, 768, 65000, 24, 136, 160, 3, 6, 29);  // T = 1344
  const MODEINFO base2 = Mode(1280, 1024, 130000, 48, 112, 248, 1, 3, 38);
  // Every base passes first.
  MODEINFO out{};
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit32, base1, 0, 0, &out));
  ASSERT_TRUE(FpgaTiming(kFpgaModePassThrough, base0, 0, 0, &out));
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit, base2, 0, 5, &out));
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit32, base1, 0x8000 | 300, 0, &out));
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit32, base1, 1200, 0, &out));

  auto with = [](MODEINFO m, auto change) {
    change(m);
    return m;
  };
  const Case cases[] = {
      {"total not a multiple of c", kFpgaModeSplit32,
       with(base1, [](MODEINFO& m) { m.ulHBPorch += 3; }), 0, 0},
      {"line too long for the pairing", kFpgaModeSplit32,
       with(base1, [](MODEINFO& m) { m.ulDispWidth = 50; m.ulHBPorch += 590; }), 0, 0},
      {"output line shorter than twice the width", kFpgaModeSplit32,
       with(base1, [](MODEINFO& m) { m.ulDispWidth = 800; m.ulHBPorch -= 160; }), 0, 0},
      {"input clock above 204 MHz", kFpgaModePassThrough,
       with(base0, [](MODEINFO& m) { m.ulPixClock = 204001; }), 0, 60},
      {"no vertical front porch", kFpgaModePassThrough,
       with(base0, [](MODEINFO& m) { m.ulVFPorch = 0; }), 0, 0},
      {"output clock above 350 MHz", kFpgaModeSplit,
       with(base2, [](MODEINFO& m) { m.ulPixClock = 175001; }), 0, 100},
      {"odd output total", kFpgaModePassThrough,
       with(base0, [](MODEINFO& m) { m.ulHBPorch += 1; }), 0, 0},
      {"above the board's FPGA clock limit", kFpgaModeSplit, base2, 0, 0},
      {"negative shift longer than the sync", kFpgaModeSplit32, base1, 0x8000 | 303, 0},
      {"positive shift longer than the line", kFpgaModeSplit32, base1, 1281, 0},
      {"total above 4095", kFpgaModePassThrough,
       with(base0, [](MODEINFO& m) { m.ulHBPorch += 4096 - 1344; }), 0, 0},
  };
  for (const Case& c : cases) EXPECT_FALSE(FpgaTiming(c.mode, c.q, c.shift, c.limitByte, &out)) << c.name;
}

TEST(FpgaTiming, ShiftMovesTheWidthAgainstTheSync) {
  const MODEINFO q = Mode(640, 480, 40000, 40, 128, 248, 10, 2, 33);
  MODEINFO out{};
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit32, q, 0x8000 | 20, 0, &out));
  EXPECT_EQ(out.ulDispWidth, 1300u);
  EXPECT_EQ(out.ulHSync, 302u - 20);
  ASSERT_TRUE(FpgaTiming(kFpgaModeSplit32, q, 20, 0, &out));
  EXPECT_EQ(out.ulDispWidth, 1260u);
  EXPECT_EQ(out.ulHSync, 302u + 20);
}

std::vector<std::pair<int, int>> Pairs(const FPGAPROGRAM& p) {
  std::vector<std::pair<int, int>> v;
  for (unsigned i = 0; i < p.ucCount; ++i) v.emplace_back(p.aucPair[i][0], p.aucPair[i][1]);
  return v;
}

// 1024x768 at 65,000 kHz with negative syncs through pass-through mode 0.
TEST(FpgaProgram, PassThroughProgram) {
  const MODEINFO m = Mode(1024, 768, 65000, 24, 136, 160, 3, 6, 29);
  FPGAPROGRAM p{};
  BuildFpgaEnableProgram(FPGAPROGRAMINPUT{kFpgaModePassThrough, &m, 0, false, false, 0, false,
                                          false, false},
                         &p);
  const std::vector<std::pair<int, int>> expected = {
      {15, 0},     {8, 3},      {9, 0},     {10, 0},     {11, 0x21},  {16, 30},   {17, 0xE0},
      {18, 0x01},  {19, 0x1E},  {20, 0xE4}, {21, 0x41},  {22, 0x36},  {23, 0x64}, {24, 0x43},
      {25, 0xBE},  {26, 0xE4},  {27, 0x4B}, {28, 0x3F},  {29, 5},     {31, 0},    {30, 1}};
  EXPECT_EQ(Pairs(p), expected);
}

TEST(FpgaProgram, SplitModeFormatBlockAndDualLink) {
  const MODEINFO half = Mode(1280, 1600, 134250, 24, 16, 40, 3, 6, 37, 0xC);
  FPGAPROGRAM p{};
  BuildFpgaEnableProgram(
      FPGAPROGRAMINPUT{kFpgaModeSplit, &half, 0, false, true, 21, true, true, true}, &p);
  const auto pairs = Pairs(p);
  ASSERT_EQ(pairs.size(), 26u);
  EXPECT_EQ(pairs[1], std::make_pair(8, 0));       // both syncs positive
  EXPECT_EQ(pairs[4], std::make_pair(11, 0x10));
  // E = 1280 / 2 + 30 = 670 = 0x29E.
  EXPECT_EQ(pairs[6], std::make_pair(17, 0xE0));
  EXPECT_EQ(pairs[7], std::make_pair(18, 0x29));
  const std::vector<std::pair<int, int>> tail = {{5, 0x80}, {6, 0x80}, {1, 0x80},
                                                 {30, 0x26}, {30, 0x28}, {30, 0x27}};
  const std::vector<std::pair<int, int>> last6(pairs.end() - 6, pairs.end());
  EXPECT_EQ(last6, tail);

  BuildFpgaEnableProgram(
      FPGAPROGRAMINPUT{kFpgaModeSplit, &half, 0, true, false, 0, true, false, false}, &p);
  EXPECT_EQ(Pairs(p)[4], std::make_pair(11, 0x30));
  EXPECT_EQ(Pairs(p).back(), std::make_pair(30, 9));
  EXPECT_EQ(Pairs(p)[p.ucCount - 2], std::make_pair(30, 8));
}

// A shift's direction is bit 15; the two shift registers carry the same
// bytes whether the magnitude is read with that bit or without it.
TEST(FpgaProgram, ShiftRegisters) {
  const MODEINFO m = Mode(640, 480, 40000, 40, 128, 248, 10, 2, 33);
  FPGAPROGRAM p{};
  BuildFpgaEnableProgram(
      FPGAPROGRAMINPUT{kFpgaModeSplit32, &m, 0x8000 | 0x3FE, false, false, 0, false, false, false},
      &p);
  EXPECT_EQ(Pairs(p)[0], std::make_pair(14, 0xFF));
  EXPECT_EQ(Pairs(p)[1], std::make_pair(15, 0xC1));
  // E uses the shifted width: 2 / 3 of (640 + 1022), plus 30, modulo 1056.
  const uint32_t e = (2 * (640 + 0x3FE) / 3 + 30) % 1056;
  EXPECT_EQ(Pairs(p)[7], std::make_pair(17, int((e << 4) & 0xFF)));
  BuildFpgaEnableProgram(
      FPGAPROGRAMINPUT{kFpgaModeSplit32, &m, 0x3FE, false, false, 0, false, false, false}, &p);
  EXPECT_EQ(Pairs(p)[0], std::make_pair(14, 0xFF));
  EXPECT_EQ(Pairs(p)[1], std::make_pair(15, 0x81));
}

TEST(FpgaProgram, OtherModesGetTheFixedProgram) {
  const MODEINFO m = Mode(640, 480, 25175, 16, 96, 48, 10, 2, 33);
  FPGAPROGRAM p{};
  BuildFpgaEnableProgram(FPGAPROGRAMINPUT{kFpgaModeSlow, &m, 0, false, false, 0, false, false, false},
                         &p);
  const std::vector<std::pair<int, int>> fixed = {{30, 0}, {8, 4},     {9, 0x40},
                                                  {10, 0x40}, {11, 0x21}, {30, 1}};
  EXPECT_EQ(Pairs(p), fixed);
  BuildFpgaDisableProgram(&p);
  const std::vector<std::pair<int, int>> off = {{30, 0}};
  EXPECT_EQ(Pairs(p), off);
}

}  // namespace
