// The encoders' pure arithmetic: the Velan PLL search and gamma packing, the
// TV encoder's luma levels and the AV9110 divider search.
#include <cstdlib>

#include <gtest/gtest.h>

#include "hwsharing/encoders/av9110.h"
#include "hwsharing/encoders/cve2_levels.h"
#include "hwsharing/encoders/velan.h"

namespace {

uint32_t VlnClock(const VLNPLL& p) { return 27000 * (p.n + 1) / ((p.p + 1) * (p.m + 1)); }

TEST(VelanPll, TwentySevenMegahertzTakesTheFirstExactDivider) {
  const VLNPLL p = VlnComputePll(27000);
  EXPECT_EQ(p.m, 1u);
  EXPECT_EQ(p.n, 7u);
  EXPECT_EQ(p.p, 3u);
  EXPECT_EQ(p.range, 1u);  // VCO 108,000 kHz
}

// No divider set of the search space comes closer than the one chosen.
TEST(VelanPll, NothingComesCloser) {
  for (uint32_t clock : {13500u, 25175u, 27027u, 40000u, 65000u, 74250u, 108000u, 148500u}) {
    const VLNPLL p = VlnComputePll(clock);
    const uint32_t got = std::abs(int(VlnClock(p)) - int(clock));
    for (uint32_t P : {3u, 1u})
      for (uint32_t m = 1; m <= 13; ++m)
        for (uint32_t n = 1; n <= 126; ++n) {
          const uint32_t f = 27000 * (n + 1) / ((P + 1) * (m + 1));
          ASSERT_LE(got, uint32_t(std::abs(int(f) - int(clock)))) << clock;
        }
    const uint32_t vco = 27000 * (p.n + 1) / (p.m + 1);
    const uint32_t range = vco < 100000 ? 0 : vco < 140000 ? 1 : vco < 180000 ? 2 : 3;
    EXPECT_EQ(p.range, range) << clock;
  }
}

TEST(VelanGamma, CurvesPackIntoNineRegisters) {
  struct Case {
    uint32_t level;
    VLNGAMMA g;
    uint8_t regs[9];
  } cases[] = {
      {4, {{0, 7, 15, 7, 5, 91, 3, 13, 4, 156, 57, 15, 3, 223}},
       {0x83, 0x39, 0xDF, 0x0F, 0x75, 0xD4, 0xFB, 0x5B, 0x9C}},
      {40, {{15, 0, 8, 15, 4, 78, 119, 14, 5, 165, 158, 9, 5, 183}},
       {0x77, 0x9E, 0xB7, 0xF8, 0xF4, 0xE5, 0x95, 0x4E, 0xA5}},
  };
  for (const Case& c : cases) {
    uint8_t regs[kVlnGammaRegisters] = {};
    VlnPackGamma(c.level, c.g, regs);
    for (size_t i = 0; i < kVlnGammaRegisters; ++i)
      EXPECT_EQ(regs[i], c.regs[i]) << "level " << c.level << " register 0x" << std::hex << 0x83 + i;
  }
}

constexpr CVE2LUMA kPalLuma = {{272, 876, 64, 64, 0, 968}};

TEST(Cve2Levels, DefaultPalLevels) {
  CVE2LEVELS l{};
  ASSERT_TRUE(Cve2ComputeLevels(kPalLuma, 162, 255, 255, 255, 127, 127, &l));
  EXPECT_EQ(l.blank, 272u);
  EXPECT_EQ(l.black, 272u);
  EXPECT_EQ(l.white, 876u);
}

// Brightness 0 with full contrast swings below the lowest black: the black
// level stays at the lowest black plus the pedestal.
TEST(Cve2Levels, BrightnessZeroClampsBlack) {
  CVE2LEVELS l{};
  ASSERT_TRUE(Cve2ComputeLevels(kPalLuma, 0, 255, 255, 255, 127, 127, &l));
  EXPECT_EQ(l.black, 272u);
  EXPECT_EQ(l.white, 574u);
  const CVE2LUMA pedestal = {{256, 872, 64, 64, 16, 968}};
  ASSERT_TRUE(Cve2ComputeLevels(pedestal, 0, 255, 255, 255, 127, 127, &l));
  EXPECT_EQ(l.black, 272u);
  EXPECT_EQ(l.blank, 272u);
}

TEST(Cve2Levels, Trims) {
  struct Case {
    uint32_t blackTrim, whiteTrim;
    uint32_t black, white;
  } cases[] = {
      {127, 127, 272, 574},  // none
      {128, 127, 273, 574},  // one up
      {300, 127, 400, 574},  // above 255: +128
      {300, 300, 400, 702},
      {255, 255, 400, 702},
      {126, 127, 272, 574},  // never below the blank level
      {127, 0, 272, 447},
  };
  for (const Case& c : cases) {
    CVE2LEVELS l{};
    ASSERT_TRUE(Cve2ComputeLevels(kPalLuma, 0, 255, 255, 255, c.blackTrim, c.whiteTrim, &l));
    EXPECT_EQ(l.black, c.black) << c.blackTrim << "/" << c.whiteTrim;
    EXPECT_EQ(l.white, c.white) << c.blackTrim << "/" << c.whiteTrim;
  }
  // A trim pushes white no further than the absolute limit.
  EXPECT_EQ(Cve2AdjustLevel(900, 300, 272, 968), 968u);
  EXPECT_EQ(Cve2AdjustLevel(500, 127, 600, 968), 500u);
}

TEST(Cve2Levels, ZeroMaximumIsRefused) {
  CVE2LEVELS l{1, 2, 3};
  EXPECT_FALSE(Cve2ComputeLevels(kPalLuma, 10, 0, 10, 255, 127, 127, &l));
  EXPECT_FALSE(Cve2ComputeLevels(kPalLuma, 10, 255, 10, 0, 127, 127, &l));
  EXPECT_EQ(l.white, 3u);
}

TEST(Av9110, DividersAndWord) {
  AV9110PLL p{};
  ASSERT_TRUE(Av9110ComputePll(65000, &p));
  EXPECT_EQ(p.doublings, 1u);
  EXPECT_EQ(p.n, 118u);
  EXPECT_EQ(p.m, 13u);
  EXPECT_EQ(p.prescaler, 1u);
  EXPECT_EQ(p.word, 0xBA86F6u);
  // 25,175 kHz is doubled three times; the closest divider with N in seven
  // bits needs the prescaler.
  ASSERT_TRUE(Av9110ComputePll(25175, &p));
  EXPECT_EQ(p.doublings, 3u);
  EXPECT_EQ(p.n, 58u);
  EXPECT_EQ(p.m, 33u);
  EXPECT_EQ(p.prescaler, 8u);
  EXPECT_LE(p.n, 0x7Fu);
  EXPECT_FALSE(Av9110ComputePll(0, &p));
}

// A brute-force search over every divider, the first of equals kept:
// prescaler 1 before 8, low M first.
AV9110PLL Av9110Oracle(uint32_t clock) {
  AV9110PLL best{};
  uint64_t bestDiff = UINT64_MAX;
  for (uint32_t m : {1u, 8u})
    for (uint32_t M = 3; M <= 36; ++M) {
      const uint64_t n = uint64_t(clock) * M / (m * 14318);
      if (n < 3 || n > 127) continue;
      const uint64_t g = n * 14318 * m / M;
      const uint64_t d = g > clock ? g - clock : clock - g;
      if (d < bestDiff) {
        bestDiff = d;
        best = AV9110PLL{uint32_t(n), M, m, 0, 0};
      }
    }
  return best;
}

TEST(Av9110, MatchesBruteForce) {
  for (uint32_t clock = 125001; clock < 250000; clock += 7919) {
    AV9110PLL p{};
    ASSERT_TRUE(Av9110ComputePll(clock, &p));
    const AV9110PLL o = Av9110Oracle(clock);
    EXPECT_EQ(p.n, o.n) << clock;
    EXPECT_EQ(p.m, o.m) << clock;
    EXPECT_EQ(p.prescaler, o.prescaler) << clock;
  }
}

}  // namespace
