// Ramp arithmetic of the colour tables: conversions, smoothing, scaling,
// the emulated 10-bit entries, and the emulation against golden vectors
// computed by an independent script (tests/data/lut_golden.py).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hwsharing/chip/lut_ramp.h"
#include "hwsharing/chip/tests/lut_golden.h"

namespace {

std::vector<uint16_t> Linear256() {
  std::vector<uint16_t> r(256);
  for (uint32_t i = 0; i < 256; ++i) r[i] = static_cast<uint16_t>(i * 257);
  return r;
}

TEST(LutRamp, LinearRampsConvertExactlyBothWays) {
  const std::vector<uint16_t> in = Linear256();
  std::vector<uint16_t> wide(1024), back(256);
  RemapData_us256to1024(in.data(), wide.data());
  for (uint32_t i = 0; i < 1024; ++i) ASSERT_EQ(wide[i], i << 6) << i;
  RemapData_us1024to256(wide.data(), back.data());
  EXPECT_EQ(back, in);
}

// Interpolation by the output's position 255 j / 1023, computed here in
// exact rational arithmetic.
TEST(LutRamp, WideningInterpolatesAndEndsOnTheLastEntry) {
  std::vector<uint16_t> in(256);
  for (uint32_t i = 0; i < 256; ++i) in[i] = static_cast<uint16_t>((i * i) % 65536);
  in[255] = 60000;
  in[254] = 65000;  // a falling last step: the difference is signed
  std::vector<uint16_t> out(1024);
  RemapData_us256to1024(in.data(), out.data());
  for (uint32_t j = 0; j < 1023; ++j) {
    const uint32_t k = 255 * j / 1023, e = 255 * j % 1023;
    const int64_t d = int64_t{in[k + 1]} - in[k];
    // Rounded toward zero after adding half, as the chip's firmware does.
    const int64_t step = (d * e + 511) / 1023;
    ASSERT_EQ(out[j], in[k] + step) << "output " << j;
  }
  EXPECT_EQ(out[1023], 60000);
}

TEST(LutRamp, NarrowingInterpolatesAtTheOutputPositions) {
  std::vector<uint16_t> in(1024);
  for (uint32_t i = 0; i < 1024; ++i) in[i] = static_cast<uint16_t>(i * 37 + (i % 7) * 100);
  std::vector<uint16_t> out(256);
  RemapData_us1024to256(in.data(), out.data());
  for (uint32_t j = 0; j < 255; ++j) {
    const uint32_t k = j * 1023 / 255;
    const int64_t want = in[k] + ((int64_t(j) * 1023 - 255 * k) * (int64_t{in[k + 1]} - in[k]) + 128) / 255;
    ASSERT_EQ(out[j], want) << j;
  }
  EXPECT_EQ(out[255], in[1023]);
}

TEST(LutRamp, SmoothingSpreadsFlatRuns) {
  struct Row {
    const char* name;
    std::vector<uint16_t> head, want;
  } rows[] = {
      {"even spread", {10, 10, 10, 40}, {10, 20, 30, 40}},
      {"remainder spread", {0, 0, 0, 10}, {0, 3, 6, 10}},
      {"falling", {40, 40, 40, 10}, {40, 30, 20, 10}},
      {"falling remainder", {10, 10, 10, 0}, {10, 7, 4, 0}},
      {"no run", {1, 2, 3, 4}, {1, 2, 3, 4}},
  };
  for (const Row& r : rows) {
    std::vector<uint16_t> in(256, 0), out(256);
    for (uint32_t i = 0; i < 256; ++i) in[i] = static_cast<uint16_t>(1000 + i);  // no runs past the head
    for (size_t i = 0; i < r.head.size(); ++i) in[i] = r.head[i];
    SmoothData_us256(in.data(), out.data());
    EXPECT_EQ(std::vector<uint16_t>(out.begin(), out.begin() + r.head.size()), r.want) << r.name;
  }
  // A run that reaches entry 255 with the same value has nowhere to go.
  std::vector<uint16_t> flat(256, 500), out(256);
  SmoothData_us256(flat.data(), out.data());
  EXPECT_EQ(out, flat);
}

TEST(LutRamp, NormalisingStartsAt65473AndNeverOverflows) {
  std::vector<uint16_t> in = Linear256(), out(256);
  in[255] = 65472;
  NormalizeData_us256(in.data(), out.data());
  EXPECT_EQ(out, in) << "65,472 is left alone";
  in[255] = 65473;
  NormalizeData_us256(in.data(), out.data());
  EXPECT_EQ(out[255], 0xFFC0);
  EXPECT_EQ(out[128], uint32_t{128 * 257} * 0xFFC0 / 65473);
  in[255] = 0xFFFF;  // entry x 0xFFC0 passes the signed 32-bit range
  NormalizeData_us256(in.data(), out.data());
  EXPECT_EQ(out[255], 0xFFC0);
  EXPECT_EQ(out[254], uint32_t{254 * 257} * 0xFFC0 / 0xFFFF);
}

TEST(LutRamp, TenBitEntryCompensation) {
  struct Row {
    const char* name;
    uint32_t a, b, value, comp;
  } rows[] = {
      {"falling step", 64 * 100, 64 * 90, 100, 0},
      {"flat", 64 * 100, 64 * 100, 100, 0},
      {"three units", 64 * 100, 64 * 103, 100, 1},
      {"40 units", 64 * 100, 64 * 140, 100, 7},
      {"rounding up", 64 * 100 + 40, 64 * 110, 101, 2},
      {"near the top", 64 * 1010, 64 * 1023, 1010, 3},
      {"at the top", 0xFFF0, 0xFFFF, 1023, 0},
  };
  for (const Row& r : rows) {
    const uint32_t e = Compute10BitLutEntry_us256(r.a, r.b);
    EXPECT_EQ((e & 0xFFC0) >> 6, r.value) << r.name;
    EXPECT_EQ(e >> 16, r.comp) << r.name;
  }
  // The last entry: steps of 192 units, at most 7, then pulled below 1024.
  EXPECT_EQ(Compute10BitLastLutEntry_us256(64 * 500, 64 * 506) >> 16, 2u);
  EXPECT_EQ(Compute10BitLastLutEntry_us256(64 * 500, 64 * 600) >> 16, 7u);
  EXPECT_EQ(Compute10BitLastLutEntry_us256(64 * 1018, 0xFFFF) >> 16, 1u);
  EXPECT_EQ(Compute10BitLastLutEntry_us256(64 * 600, 64 * 500) >> 16, 0u);
}

TEST(LutRamp, CompensationWordsKeepTheTopBelow1024) {
  std::vector<uint16_t> e = Linear256();
  e[254] = 63000;
  e[255] = 64000;
  const uint16_t* channels[3] = {e.data(), e.data(), e.data()};
  const uint16_t last[3] = {0xFFFF, 0xFFFF, 0xFFFF};
  uint32_t words[6];
  GetLutCompRegisters(channels, 0, last, words);
  // q = (64,000 - 62,976) / 4 = 256; r = (65,535 - 64,000) / 3 = 511; each
  // byte is (x + 32) >> 6, and 3r would put the top at 1,024: one less.
  const uint32_t want[6] = {4, 8, 12, 8, 16, 23};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(words[k], want[k] * 0x010101u) << "word " << k;
  // The low end.
  std::vector<uint16_t> low = Linear256();
  low[0] = 0;
  low[1] = 3000;
  low[2] = 9000;
  const uint16_t* lows[3] = {low.data(), low.data(), low.data()};
  GetLutCompRegisters(lows, 1, last, words);
  // round: 0, 3008, 9024; q = 752, r = 1504.
  const uint32_t wantLow[6] = {12, 24, 35, 24, 47, 71};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(words[k] & 0xFF, wantLow[k]) << "low word " << k;
}

TEST(LutRamp, GammaLevelFollowsTheSteepestChannel) {
  std::vector<uint16_t> gentle = Linear256(), steepTop = Linear256(), steepBottom = Linear256();
  steepTop[255] = 65535;
  steepTop[254] = 60000;
  steepBottom[1] = 5000;
  const uint16_t* none[3] = {gentle.data(), gentle.data(), gentle.data()};
  EXPECT_EQ(GetLutGammaLevel(none), 1u);
  const uint16_t* top[3] = {steepBottom.data(), steepTop.data(), gentle.data()};
  EXPECT_EQ(GetLutGammaLevel(top), 0u) << "green decides before red";
  const uint16_t* bottom[3] = {steepBottom.data(), gentle.data(), steepTop.data()};
  EXPECT_EQ(GetLutGammaLevel(bottom), 1u) << "then red";
}

// ---- Golden vectors -------------------------------------------------------------

TEST(LutRamp, EmulationEqualsTheIndependentScript) {
  const auto cases = hwtest::LoadGoldenLut();
  ASSERT_EQ(cases.size(), 3u);
  for (const auto& [name, c] : cases) {
    const uint16_t* raw[3] = {c.in[0].data(), c.in[1].data(), c.in[2].data()};
    uint16_t prepared[3][256];
    const uint16_t* channels[3];
    uint16_t last[3];
    for (int ch = 0; ch < 3; ++ch) {
      SmoothData_us256(raw[ch], prepared[ch]);
      RemapData_us256(prepared[ch]);
      channels[ch] = prepared[ch];
      last[ch] = raw[ch][255];
    }
    const uint32_t level = GetLutGammaLevel(channels);
    uint32_t words[6];
    GetLutCompRegisters(channels, level, last, words);
    for (int ch = 0; ch < 3; ++ch) {
      std::vector<uint16_t> best(1024), hw(1024);
      uint16_t smooth[256];
      SmoothData_us256(raw[ch], smooth);
      RemapData_us256to1024(smooth, best.data());
      EXPECT_EQ(best, c.best[ch]) << name << " channel " << ch;
      if (IsLinearRamp256(raw[ch])) {
        for (uint32_t i = 0; i < 1024; ++i) hw[i] = static_cast<uint16_t>(i << 6);
      } else {
        uint8_t bytes[6];
        for (int k = 0; k < 6; ++k) bytes[k] = static_cast<uint8_t>(words[k] >> (8 * ch));
        EmulateHardware10Bit(prepared[ch], last[ch], level, bytes, hw.data());
      }
      EXPECT_EQ(hw, c.hw[ch]) << name << " channel " << ch;
    }
  }
}

}  // namespace
