// The TV parameter tables against the TV standards they describe.
#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "hwsharing/encoders/tv_tables.h"

namespace {

// Colour subcarriers and encoder clocks in MHz.
constexpr double kPal = 4.43361875;
constexpr double kNtsc = 315.0 / 88.0;

struct SubcarrierCase {
  uint8_t standard;
  double fsc;
  double fclk;
};
// PAL and NTSC rows at the encoder clocks of their sample counts: 1,440
// samples per line at 27 MHz, 1,536 at 29.5 MHz, 1,280 at 24.545 MHz (PAL)
// and 24.5454... = 270/11 MHz (NTSC).
const SubcarrierCase kSubcarriers[] = {
    {0, kPal, 27.0},         {2, kPal, 27.0},       {5, kPal, 27.0},    {9, kPal, 27.0},
    {7, kPal, 29.5},         {8, kPal, 24.545},     {1, kNtsc, 27.0},   {3, kNtsc, 27.0},
    {6, kNtsc, 270.0 / 11.0},
};

TEST(TvTables, Cve2SubcarrierIsFscOverFclkTimesTwoToThe32) {
  for (const SubcarrierCase& c : kSubcarriers) {
    const CVE2PARMROW* row = FindCve2ParamRow(c.standard, kTvParamIdSingle);
    ASSERT_NE(row, nullptr) << "standard " << int(c.standard);
    const double exact = c.fsc / c.fclk * 4294967296.0;
    EXPECT_EQ(row->oParams.aulWord[0], static_cast<uint32_t>(std::llround(exact)))
        << "standard " << int(c.standard);
  }
  // The often quoted 3.579545 MHz would miss the NTSC word by 72.
  EXPECT_EQ(FindCve2ParamRow(1, kTvParamIdSingle)->oParams.aulWord[0] -
                static_cast<uint32_t>(std::llround(3.579545 / 27.0 * 4294967296.0)),
            72u);
}

// Lines per frame and the luma levels follow the 625- and 525-line systems.
TEST(TvTables, Cve2RowsAgreeWithTheirStandard) {
  const std::set<uint8_t> lines625 = {0, 7, 9};
  for (const SubcarrierCase& c : kSubcarriers) {
    const CVE2PARMROW* row = FindCve2ParamRow(c.standard, kTvParamIdSingle);
    const CVE2LUMAROW* luma = FindLumaRow(c.standard, kTvParamIdSingle);
    ASSERT_NE(luma, nullptr) << int(c.standard);
    EXPECT_EQ(row->oParams.aulWord[8], lines625.count(c.standard) ? 625u : 525u)
        << int(c.standard);
    const CVE2LUMA& l = luma->oLuma;
    EXPECT_LT(l.aulL[0], l.aulL[1]);
    EXPECT_LE(l.aulL[1], l.aulL[5]);
  }
}

TEST(TvTables, NoRowForStandard4OrForeignIds) {
  for (uint8_t id : {kTvParamIdSingle, kTvParamIdQuad}) {
    EXPECT_EQ(FindCve2ParamRow(4, id), nullptr);
    EXPECT_EQ(FindLumaRow(4, id), nullptr);
    EXPECT_EQ(FindTvRow(VlnTV_YUVTable, 4, id, 720, 576), nullptr);
    for (uint8_t level = 0; level < 7; ++level) EXPECT_EQ(FindProcAmpRow(4, id, level), nullptr);
  }
  EXPECT_EQ(FindCve2ParamRow(0, 5), nullptr);
  EXPECT_EQ(FindProcAmpRow(0, 1, 1), nullptr);
}

TEST(TvTables, YuvRowsKeyedBySize) {
  const VLNTVROW* pal = FindTvRow(VlnTV_YUVTable, 0, kTvParamIdSingle, 720, 576);
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(pal->aulMode[0], 50u);     // refresh
  EXPECT_EQ(pal->aulMode[2], 27000u);  // clock
  EXPECT_EQ(pal->aulMode[3], 144u);    // horizontal front porch
  EXPECT_EQ(pal->aulMode[7], 24u);     // vertical front porch
  const VLNTVROW* tall = FindTvRow(VlnTV_YUVTable, 0, kTvParamIdSingle, 720, 578);
  ASSERT_NE(tall, nullptr);
  EXPECT_EQ(tall->aulMode[7], 23u);
  for (unsigned i = 12; i < 16; ++i) EXPECT_EQ(tall->aulMode[i], 0xFFFFFFFFu);
  EXPECT_EQ(FindTvRow(VlnTV_YUVTable, 1, kTvParamIdSingle, 720, 576), nullptr);
  EXPECT_EQ(FindTvRow(VlnTVTable, 0, kTvParamIdSingle, 720, 576), nullptr);
}

// Each control's default lies between its minimum and maximum, and a level
// that the table offers appears once per standard and ID.
TEST(TvTables, ProcAmpDefaultsLieWithinTheirLimits) {
  std::set<std::tuple<int, int, int>> keys;
  size_t rows = 0;
  for (const VLNPROCAMPROW* r = VlnProcAmpTable; r->ucStandard != kTvTableEnd; ++r, ++rows) {
    EXPECT_TRUE(keys.insert({r->ucStandard, r->ucId, r->ucLevel}).second);
    EXPECT_NE(r->ucLevel, kProcAmpLevelCurrent);
    if (r->ucLevel != kProcAmpLevelDefault) continue;
    const VLNPROCAMPROW* lo = FindProcAmpRow(r->ucStandard, r->ucId, kProcAmpLevelMin);
    const VLNPROCAMPROW* hi = FindProcAmpRow(r->ucStandard, r->ucId, kProcAmpLevelMax);
    ASSERT_TRUE(lo && hi);
    for (unsigned w = 1; w < 12; ++w) {
      EXPECT_LE(lo->oProcAmp.aulValue[w], r->oProcAmp.aulValue[w])
          << int(r->ucStandard) << "/" << int(r->ucId) << " word " << w;
      EXPECT_LE(r->oProcAmp.aulValue[w], hi->oProcAmp.aulValue[w])
          << int(r->ucStandard) << "/" << int(r->ucId) << " word " << w;
    }
    const VLNPROCAMPROW* second = FindProcAmpRow(r->ucStandard, r->ucId, kProcAmpLevelDefault2);
    if (second != nullptr) {
      EXPECT_EQ(0, std::memcmp(&second->oProcAmp, &r->oProcAmp, 48));
    }
  }
  EXPECT_EQ(rows, 9u * 6 + 2 * 5);
}

TEST(TvTables, GammaRowsByLevelOnly) {
  ASSERT_NE(FindGammaRow(4), nullptr);
  EXPECT_EQ(FindGammaRow(4)->oGamma.aulG[13], 223u);
  EXPECT_EQ(0, std::memcmp(&FindGammaRow(0)->oGamma, &FindGammaRow(10)->oGamma, 56));
  EXPECT_EQ(FindGammaRow(6), nullptr);
  EXPECT_EQ(FindGammaRow(40)->oGamma.aulG[10], 158u);
}

TEST(TvTables, TablesWithoutRowsOfTheseIdsAnswerNothing) {
  EXPECT_EQ(FindTimingRow(0, kTvParamIdSingle, 720, 576), nullptr);
  EXPECT_EQ(FindColorBarRow(0, kTvParamIdSingle), nullptr);
  EXPECT_EQ(FindItu656Row(0, kTvParamIdSingle, 720, 576), nullptr);
  EXPECT_EQ(FindVScaleRow(kTvParamIdSingle, 720, 576, 1, 1), nullptr);
}

}  // namespace
