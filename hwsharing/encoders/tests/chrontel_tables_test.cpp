// The Chrontel TV tables checked against themselves and against the TV
// standards: every register row's totals are the sums of its timing row,
// the PAL and NTSC subcarrier words equal the integrated encoder's.
#include <cmath>
#include <set>

#include <gtest/gtest.h>

#include "hwsharing/encoders/chrontel_tables.h"
#include "hwsharing/encoders/tv_tables.h"

namespace {

TEST(ChrontelTables, BothTablesListTheSameCodesOnceInTheSameOrder) {
  std::set<uint32_t> seen;
  for (size_t i = 0; i < kChrTvModeCount; ++i) {
    const uint32_t code = g_aoTVCHRRegValues[i].ulModeCode;
    EXPECT_EQ(g_aoCHRTVModeInfo[i].ulModeCode, code) << "row " << i;
    EXPECT_TRUE(seen.insert(code).second) << "code " << code << " twice";
    EXPECT_TRUE(code <= kChrLastSdtvCode || code >= kChrFirstDtvCode) << code;
  }
}

// The register row's totals equal the timing row's width plus porches and
// sync, and its height likewise; the exceptions are the 13.5 MHz modes
// (37, 38), code 64 and the interlaced modes, whose frame counts both fields.
TEST(ChrontelTables, RegisterTotalsAreTheTimingSums) {
  const std::set<uint32_t> differ = {37, 38, 51, 53, 54, 64, 107};
  for (size_t i = 0; i < kChrTvModeCount; ++i) {
    const CHRTVREGVALUES& reg = g_aoTVCHRRegValues[i];
    const MODEINFO& m = g_aoCHRTVModeInfo[i].oMode;
    const uint32_t htotal = m.ulDispWidth + m.ulHFPorch + m.ulHSync + m.ulHBPorch;
    const uint32_t vtotal = m.ulDispHeight + m.ulVFPorch + m.ulVSync + m.ulVBPorch;
    const bool same = htotal == reg.ulHTotal && vtotal == reg.ulVTotal;
    EXPECT_EQ(same, differ.count(reg.ulModeCode) == 0)
        << "code " << reg.ulModeCode << ": " << htotal << "x" << vtotal << " vs " << reg.ulHTotal
        << "x" << reg.ulVTotal;
    if (reg.ulModeCode == 51 || reg.ulModeCode == 53 || reg.ulModeCode == 54 ||
        reg.ulModeCode == 107) {
      EXPECT_EQ(htotal, reg.ulHTotal) << reg.ulModeCode;
      EXPECT_TRUE(m.flSignalMode & 1) << "interlaced " << reg.ulModeCode;
    }
  }
}

// Codes 37 and 38 run at the integrated encoder's 27 MHz: their subcarrier
// words are the encoder's PAL and NTSC subcarriers.
TEST(ChrontelTables, FullRateCodesCarryTheEncoderSubcarriers) {
  for (const CHRTVREGVALUES& reg : g_aoTVCHRRegValues) {
    if (reg.ulModeCode == 37) {
      EXPECT_EQ(reg.ulSubcarrier, 0x2A098ACBu);
      EXPECT_EQ(reg.ulSubcarrier, FindCve2ParamRow(0, kTvParamIdSingle)->oParams.aulWord[0]);
    }
    if (reg.ulModeCode == 38) {
      EXPECT_EQ(reg.ulSubcarrier, 0x21F07C1Fu);
      EXPECT_EQ(reg.ulSubcarrier, FindCve2ParamRow(1, kTvParamIdSingle)->oParams.aulWord[0]);
      EXPECT_EQ(reg.ulSubcarrier,
                static_cast<uint32_t>(std::llround(315.0 / 88.0 / 27.0 * 4294967296.0)));
    }
  }
}

TEST(ChrontelTables, DtvRowsCarryNoPllOrSubcarrierAndRunAtLevel2) {
  for (size_t i = 0; i < kChrTvModeCount; ++i) {
    const CHRTVREGVALUES& reg = g_aoTVCHRRegValues[i];
    if (reg.ulModeCode < kChrFirstDtvCode) continue;
    EXPECT_EQ(reg.ulPllM | reg.ulPllN | reg.ulSubcarrier | reg.ulSubcarrierDotCrawl | reg.ulStart,
              0u)
        << reg.ulModeCode;
    EXPECT_EQ(g_aoCHRTVModeInfo[i].ulScalingLevel, 2u) << reg.ulModeCode;
    EXPECT_TRUE(g_aoCHRTVModeInfo[i].oMode.flSignalMode & 0x40) << reg.ulModeCode;
  }
}

// Within one SDTV size and standard the clock rises from level 3 to level 1.
TEST(ChrontelTables, SdtvClockRisesAsTheScalingLevelFalls) {
  for (const CHRTVMODEINFO& a : g_aoCHRTVModeInfo) {
    for (const CHRTVMODEINFO& b : g_aoCHRTVModeInfo) {
      if (a.ulModeCode > kChrLastSdtvCode || b.ulModeCode > kChrLastSdtvCode) continue;
      if (a.ulModeCode == 37 || a.ulModeCode == 38 || b.ulModeCode == 37 || b.ulModeCode == 38)
        continue;  // the 13.5 MHz pass-through modes
      if (a.oMode.ulDispWidth != b.oMode.ulDispWidth ||
          a.oMode.ulDispHeight != b.oMode.ulDispHeight ||
          a.oMode.flSignalMode != b.oMode.flSignalMode)
        continue;
      if (a.ulScalingLevel > b.ulScalingLevel) {
        EXPECT_LT(a.oMode.ulPixClock, b.oMode.ulPixClock) << a.ulModeCode << " " << b.ulModeCode;
      }
      if (a.ulScalingLevel == b.ulScalingLevel) {
        EXPECT_EQ(a.ulModeCode, b.ulModeCode);
      }
    }
  }
}

TEST(ChrontelTables, CpldCodes) {
  for (const CHRTVREGVALUES& reg : g_aoTVCHRRegValues) {
    const uint32_t c = reg.ulModeCode;
    const bool cpld = c == 99 || c == 100 || c == 101 || c == 102 || c == 104 || c == 105;
    EXPECT_EQ(ChrModeCodeNeedsCpld(c), cpld) << c;
  }
  EXPECT_FALSE(ChrModeCodeNeedsCpld(103));
}

}  // namespace
