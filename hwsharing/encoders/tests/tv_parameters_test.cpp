// TV parameter look-ups through the encoder table, and the public TV entries.
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/encoders/tv_parameters.h"
#include "hwsharing/tests/hw_fixture.h"

namespace {

class TvParameters : public testing::Test {
 protected:
  TvParameters() : hw(hwtest::Config(0x5D62)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    h->ulOutputCaps = kOutputCapsTvOut;
    std::memset(&h->oCem, 0, sizeof(h->oCem));
  }
  void MakeQuad() {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
  }
  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

MODEINFO Record(uint32_t w, uint32_t ht, uint32_t flOutput = 0) {
  MODEINFO m{};
  m.ulDispWidth = w;
  m.ulDispHeight = ht;
  m.flOutput = flOutput;
  return m;
}

TEST_F(TvParameters, IdIsSixOrSevenOnQuadBoards) {
  uint8_t id = 0;
  EXPECT_EQ(h->pVLNFunctions->GetIDForParameters(h, &id), 0u);
  EXPECT_EQ(id, 6);
  MakeQuad();
  EXPECT_EQ(h->pVLNFunctions->GetIDForParameters(h, &id), 0u);
  EXPECT_EQ(id, 7);
  h->oCem.ulPresent = 0;  // a quad type without its module
  h->pVLNFunctions->GetIDForParameters(h, &id);
  EXPECT_EQ(id, 6);
}

TEST_F(TvParameters, TvTimingsOnlyInTheYuvTable) {
  MODEINFO m = Record(720, 576);
  EXPECT_EQ(HSLTVEGetTVParameters(h, &m, 0), kErrTveTvParameters);
  h->status = 0;
  m = Record(720, 576, kOutputYuvTiming);
  ASSERT_EQ(HSLTVEGetTVParameters(h, &m, 0), 0u);
  EXPECT_EQ(m.ulRefreshRate, 50u);
  EXPECT_EQ(m.ulPixClock, 27000u);
  EXPECT_EQ(m.ulHFPorch, 144u);
  EXPECT_EQ(m.ulVFPorch, 24u);
  EXPECT_EQ(m.flSignalMode, 1u);
  EXPECT_EQ(m.ulDispWidth, 720u);  // the size is the key, not copied
  // The quad boards' ID has no TV timing rows.
  MakeQuad();
  m = Record(720, 576, kOutputYuvTiming);
  EXPECT_EQ(HSLTVEGetTVParameters(h, &m, 0), kErrTveTvParameters);
}

// Standard 4 has no row in any table.
TEST_F(TvParameters, StandardFourFailsEveryLookUp) {
  const VLNFUNCTIONS& v = *h->pVLNFunctions;
  MODEINFO m = Record(720, 576, kOutputYuvTiming);
  m.flSignalMode = 4 << 4;
  TVPROCAMP p{};
  CVE2PARAMS params{};
  CVE2LUMA luma{};
  VLNTIMING block{};
  CVE2ITU656 itu{};
  struct Case {
    const char* name;
    HALSTATUS expected;
    std::function<HALSTATUS()> call;
  } cases[] = {
      {"TV", kErrTveTvParameters, [&] { return v.GetTVParameters(h, &m, 4); }},
      {"vertical scale", kErrTveVScale, [&] { return v.GetVScaleTVParameters(h, &m, 4); }},
      {"proc-amp", kErrTveProcAmp, [&] { return v.GetTVProcAmp(h, &p, 4, 1); }},
      {"ITU-656", kErrTveItu656, [&] { return v.GetCVE2ITU656Parameters(h, &m, &itu); }},
      {"encoder", kErrTveEncoderParameters, [&] { return v.GetEncoderParameters(h, 4, &params); }},
      {"timing", kErrTveTimingOld,
       [&] { return v.GetTimingParametersOldMethod(h, 4, 720, 576, &block); }},
      {"timing by mode", kErrTveTimingOld, [&] { return v.GetTimingParameters(h, 4, &m, &block); }},
      {"luma", kErrTveLuma, [&] { return v.GetLumaParameters(h, 4, &luma); }},
      {"colour bars", kErrTveColorBar, [&] { return v.GetColorBarTimingParameters(h, 4, &block); }},
  };
  for (const Case& c : cases) {
    h->status = 0;
    EXPECT_EQ(c.call(), c.expected) << c.name;
  }
}

TEST_F(TvParameters, ProcAmpLevelFourIsTheHandlesRecord) {
  for (uint32_t i = 0; i < 12; ++i) h->oTvProcAmp.aulValue[i] = 100 + i;
  TVPROCAMP p{};
  ASSERT_EQ(HSLTVEGetTVProcAmp(h, &p, 4, 4), 0u);  // any standard, even one without rows
  EXPECT_EQ(0, std::memcmp(&p, &h->oTvProcAmp, sizeof(p)));
  ASSERT_EQ(HSLTVEGetTVProcAmp(h, &p, 1, 1), 0u);
  EXPECT_EQ(p.aulValue[kProcAmpSaturation], 151u);
  EXPECT_EQ(p.aulValue[kProcAmpBrightness], 176u);
  EXPECT_EQ(p.aulValue[kProcAmpContrast], 239u);
}

TEST_F(TvParameters, GammaOnlyForTheTabledLevels) {
  VLNGAMMA g{};
  for (uint32_t level : {0u, 4u, 10u, 40u}) {
    h->status = 0;
    EXPECT_EQ(HSLTVEGetGammaParameters(h, level, &g), 0u) << level;
  }
  for (uint32_t level : {6u, 38u, 0x104u}) {
    h->status = 0;
    EXPECT_EQ(HSLTVEGetGammaParameters(h, level, &g), kErrTveGamma) << level;
  }
}

TEST_F(TvParameters, EntriesClearTheStatusAndRefuseBoardsWithoutTv) {
  MODEINFO m = Record(720, 576, kOutputYuvTiming);
  TVPROCAMP p{};
  struct Entry {
    const char* name;
    HALSTATUS refusal;
    std::function<HALSTATUS()> call;
  } entries[] = {
      {"parameters", kErrHalTvParameters, [&] { return HALGetTVOutputParameters(h, &m, 0); }},
      {"get proc-amp", kErrHalTvGetProcAmp, [&] { return HALGetTVProcAmp(h, &p, 0, 1); }},
      {"set proc-amp", kErrHalTvSetProcAmp, [&] { return HALSetTVProcAmp(h, &p, 0); }},
      {"out", kErrHalTvOutMode, [&] { return HALSetTVOutMode(h); }},
      {"colour bars", kErrHalTvColorBar, [&] { return HALSetTVColorBarMode(h); }},
      {"pass-through", kErrHalTvPassThrough, [&] { return HALSetTVPassThroughMode(h); }},
      {"master", kErrHalTvPassThroughMaster, [&] { return HALSetTVPassThroughMasterMode(h); }},
      {"disable", kErrHalTvDisable, [&] { return HALSetTVDisableMode(h); }},
      {"cable", kErrHalTvCable, [&] { return HALSetTVCableType(h, 5); }},
      {"standard", kErrHalTvStandard, [&] { return HALSetTVStandard(h, 0); }},
  };
  for (const Entry& e : entries) {
    h->ulOutputCaps = ~kOutputCapsTvOut;
    h->status = 0xb1d05120;  // an earlier failure never blocks an entry
    EXPECT_EQ(e.call(), e.refusal) << e.name;
  }
  // With TV out, the mode entries reach slots the chip never fills.
  h->ulOutputCaps = kOutputCapsTvOut;
  for (const Entry& e : {entries[3], entries[4], entries[5], entries[6], entries[7]}) {
    h->status = 0xb1d05120;
    EXPECT_EQ(e.call(), kErrSlotNotInitialised) << e.name;
  }
  h->status = 0xb1d05120;
  EXPECT_EQ(HALGetTVOutputParameters(h, &m, 0), 0u);
  EXPECT_EQ(m.ulPixClock, 27000u);
}

TEST_F(TvParameters, DtvEntryTestsItsOwnCapabilityBits) {
  MODEINFO m = Record(1920, 1080);
  h->ulOutputCaps = kOutputCapsTvOut;
  EXPECT_EQ(HALGetDTVOutputParameters(h, &m, 0), kErrHalTvParameters);
  for (uint32_t bit : {0x40u, 0x80u, 0x4000u, 0x8000u}) {
    h->ulOutputCaps = bit;
    m = Record(1920, 1080);
    EXPECT_EQ(HALGetDTVOutputParameters(h, &m, 0), 0u) << bit;
    EXPECT_EQ(m.ulPixClock, 74250u);  // the first 1920x1080 DTV mode: interlaced 25 Hz
    EXPECT_EQ(m.flSignalMode, 0x4Du);
  }
  m = Record(1920, 1080);
  EXPECT_EQ(HALGetDTVOutputParameters(h, &m, 13), 0u);  // the 14th and last
  m = Record(1920, 1080);
  EXPECT_EQ(HALGetDTVOutputParameters(h, &m, 14), kErrChrTvMode);
}

// On quad boards add-on information puts the Chrontel look-up into slot 8.
TEST_F(TvParameters, QuadBoardsReachTheChrontelLookUp) {
  MakeQuad();
  h->oJumpTable.GetTVParameters = HSLCHRGetSDTVModeInfo;
  MODEINFO m = Record(640, 480, 0x10);
  ASSERT_EQ(HALGetTVOutputParameters(h, &m, 0), 0u);
  EXPECT_EQ(m.ulPixClock, 26250u);
  EXPECT_EQ(static_cast<uint8_t>(m.acTvAdjust[0][3]), 14);
}

TEST_F(TvParameters, DetectWithoutTvAnswersNothingAndNoError) {
  h->ulOutputCaps = 0;
  uint32_t detected = 7;
  h->status = 0xb1d05120;
  EXPECT_EQ(HALDetectTV(h, &detected), 0u);
  EXPECT_EQ(detected, 0u);
  EXPECT_EQ(orvstandin::TimesCalled("HSLKSTDetectTV"), 0u);
}

}  // namespace
