// The Chrontel TV modes: look-ups between mode records and the TV tables,
// adjust parameters and their step changes, proc-amp settings, cable type
// and the SDTV and DTV set-ups as they reach the encoder.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/encoders/tv_parameters.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using Writes = hwtest::RegWrites;

using hwtest::WritesOf;

constexpr uint32_t kTv0 = 0x10;       // TV output 0: encoder 0 on a quad board
constexpr uint32_t kFourth2 = 0x4000;  // output 2's fourth kind: encoder 0 on a plain board

class ChrontelTv : public hwtest::ChipTest {
 protected:
  ChrontelTv() {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(&h->oCpld, 0, sizeof(h->oCpld));
    h->ucTvStandard = 0;
    h->ulOutputCaps = kOutputCapsTvOut;
  }
  void Quad() {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
  }
  static MODEINFO Record(uint32_t w, uint32_t ht, uint32_t flOutput, uint32_t signal = 0) {
    MODEINFO m{};
    m.ulDispWidth = w;
    m.ulDispHeight = ht;
    m.flOutput = flOutput;
    m.flSignalMode = signal;
    return m;
  }
  static void Groups(MODEINFO* m, int8_t hoff, int8_t voff, int8_t level, uint8_t code) {
    for (auto& g : m->acTvAdjust) {
      g[0] = hoff;
      g[1] = voff;
      g[2] = level;
      g[3] = static_cast<int8_t>(code);
    }
    m->flSignalMode |= kSignalTvAdjust;
  }
  static uint32_t Code(const MODEINFO& m) { return static_cast<uint8_t>(m.acTvAdjust[0][3]); }
};

// ---- Look-ups ---------------------------------------------------------------------------

TEST_F(ChrontelTv, EnumerationByScalingLevel) {
  Quad();
  struct Case {
    int8_t level;
    uint32_t code, clock;
  } cases[] = {{3, 13, 21000}, {2, 14, 26250}, {1, 15, 31500}};
  for (const Case& c : cases) {
    MODEINFO m = Record(640, 480, kTv0);
    Groups(&m, 0, 0, c.level, 0);
    ASSERT_EQ(HSLCHRGetTVModeInfo(h, &m, 0), 0u) << int(c.level);
    EXPECT_EQ(Code(m), c.code);
    EXPECT_EQ(Code(m), static_cast<uint8_t>(m.acTvAdjust[3][3])) << "every group gets the code";
    EXPECT_EQ(m.ulPixClock, c.clock);
  }
  // Without adjust data the level is 2; there is one such row.
  MODEINFO m = Record(640, 480, kTv0);
  ASSERT_EQ(HSLCHRGetSDTVModeInfo(h, &m, 0), 0u);
  EXPECT_EQ(Code(m), 14u);
  EXPECT_EQ(m.ulHFPorch, 100u);
  EXPECT_EQ(m.flSignalMode, 0x8u);
  m = Record(640, 480, kTv0);
  EXPECT_EQ(HSLCHRGetTVModeInfo(h, &m, 1), kErrChrTvMode);
}

TEST_F(ChrontelTv, CpldCodesOnlyOnATypeFifteenBoardWithItsCpld) {
  const uint32_t cpld[] = {99, 100, 101, 102, 104, 105};
  for (bool withCpld : {false, true}) {
    h->oCpld.ulPresent = withCpld ? 1 : 0;
    h->oCem.ulBoardType = 15;
    for (uint32_t code : cpld) {
      MODEINFO m{};
      h->status = 0;
      EXPECT_EQ(HSLCHRGetTVModeInfoByVideoCode(h, &m, code), withCpld ? 0u : kErrChrTvMode)
          << code;
    }
    MODEINFO m{};
    h->status = 0;
    EXPECT_EQ(HSLCHRGetTVModeInfoByVideoCode(h, &m, 103), 0u);
    EXPECT_EQ(m.ulPixClock, 74176u);
    EXPECT_EQ(m.flSignalMode, 0x4Cu);
  }
  // The type alone is not enough.
  h->oCem.ulBoardType = 14;
  MODEINFO m{};
  h->status = 0;
  EXPECT_EQ(HSLCHRGetTVModeInfoByVideoCode(h, &m, 99), kErrChrTvMode);
  // The DTV enumeration of 1280x720 counts the CPLD rows only where they count.
  h->oCem.ulBoardType = 15;
  h->oCpld.ulPresent = 0;
  const uint32_t withoutCpld[] = {50, 65, 103};
  for (uint32_t k = 0; k < 3; ++k) {
    MODEINFO d = Record(1280, 720, 0);
    h->status = 0;
    ASSERT_EQ(HSLCHRGetDTVModeInfo(h, &d, k), 0u);
    EXPECT_EQ(Code(d), withoutCpld[k]);
  }
  MODEINFO d = Record(1280, 720, 0);
  EXPECT_EQ(HSLCHRGetDTVModeInfo(h, &d, 3), kErrChrTvMode);
}

TEST_F(ChrontelTv, UnknownCodesFail) {
  for (uint32_t code : {4u, 61u, 110u, 255u}) {
    CHRTVREGVALUES row{};
    MODEINFO m{};
    h->status = 0;
    EXPECT_EQ(HSLCHRGetTVChrRegValues(h, code, &row), kErrChrTvMode) << code;
    h->status = 0;
    EXPECT_EQ(HSLCHRGetTVModeInfoByVideoCode(h, &m, code), kErrChrTvMode) << code;
  }
}

TEST_F(ChrontelTv, RecordThatUsesAnEncoder) {
  Quad();
  for (MODEINFO& r : h->aModeInfo) r.flOutput = kOutControllerOff;
  h->aModeInfo[1] = Record(720, 576, kTv0 | 0x80000);
  h->aModeInfo[3] = Record(800, 600, 0x40 | 0x80001);  // TV output 3: encoder 3
  MODEINFO out{};
  uint32_t found = 0;
  ASSERT_EQ(HSLCHRGetTVModeInfoSet(h, 0, &out, &found), 0u);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(out.ulDispWidth, 720u);
  found = 0;
  HSLCHRGetTVModeInfoSet(h, 3, &out, &found);
  EXPECT_EQ(out.ulDispWidth, 800u);
  found = 0;
  HSLCHRGetTVModeInfoSet(h, 2, &out, &found);
  EXPECT_EQ(found, 0u);
}

// ---- Adjust parameters ---------------------------------------------------------------------

TEST_F(ChrontelTv, ModifyFillsTheDefaultsBeforeTheFirstStep) {
  Quad();
  MODEINFO m = Record(640, 480, kTv0);
  m.acTvAdjust[0][3] = 14;
  ASSERT_EQ(HSLCHRModifyTVParameters(h, &m, 13), 0u);
  EXPECT_TRUE(m.flSignalMode & kSignalTvAdjust);
  const int8_t group0[4] = {1, 0, 2, 14};
  const int8_t group1[4] = {0, 0, 2, 14};
  EXPECT_EQ(0, std::memcmp(m.acTvAdjust[0], group0, 4));
  EXPECT_EQ(0, std::memcmp(m.acTvAdjust[1], group1, 4));
  ASSERT_EQ(HSLCHRModifyTVParameters(h, &m, 160), 0u);
  EXPECT_EQ(m.acTvAdjust[1][1], -1);
  EXPECT_EQ(HSLCHRModifyTVParameters(h, &m, 41), kErrChrTvStep);
  // A smaller scale: level 3, code 13 for every group.
  MODEINFO small = Record(640, 480, kTv0);
  small.acTvAdjust[0][3] = 14;
  ASSERT_EQ(HSLCHRModifyTVParameters(h, &small, 39), 0u);
  EXPECT_EQ(Code(small), 13u);
  EXPECT_EQ(small.acTvAdjust[2][2], 3);
  EXPECT_EQ(small.ulPixClock, 21000u);
}

TEST_F(ChrontelTv, ModifyDoesNothingButValidateWithoutTvOutput) {
  Quad();
  h->ulOutputCaps = 0;
  MODEINFO m = Record(640, 480, kTv0);
  h->status = 0xb1d05120;  // cleared first
  EXPECT_EQ(HSLCHRModifyTVParameters(h, &m, 13), 0u);
  EXPECT_FALSE(m.flSignalMode & kSignalTvAdjust);
  h->ucTvStandard = 1;
  EXPECT_EQ(HSLCHRModifyTVParameters(h, &m, 13), kErrChrTvAdjust);
}

// Code 14 allows a horizontal offset up to word 11 (0x34) and positions
// from words 9 (0x34) and 10 (0x130).
TEST_F(ChrontelTv, ValidationOfTheAdjustGroups) {
  Quad();
  struct Case {
    const char* name;
    int8_t hoff, voff, level2;  // level of the second listed encoder
    HALSTATUS status;
  } cases[] = {
      {"within", 0x34, -100, 2, 0},
      {"h offset above word 11", 0x35, 0, 2, kErrChrTvAdjust},
      {"h offset below the position", -0x35, 0, 2, kErrChrTvAdjust},
      {"levels differ", 0, 0, 3, kErrChrTvAdjust},
  };
  for (const Case& c : cases) {
    MODEINFO m = Record(640, 480, kTv0 | 0x20);  // encoders 0 and 2
    Groups(&m, 0, 0, 2, 14);
    m.acTvAdjust[2][0] = c.hoff;
    m.acTvAdjust[2][1] = c.voff;
    m.acTvAdjust[2][2] = c.level2;
    h->status = 0;
    EXPECT_EQ(HSLCHRValidateTVAdjustParam(h, &m), c.status) << c.name;
  }
  // A step that fails validation is kept.
  MODEINFO m = Record(640, 480, kTv0);
  Groups(&m, 0x34, 0, 2, 14);
  EXPECT_EQ(HSLCHRModifyTVParameters(h, &m, 13), kErrChrTvAdjust);
  EXPECT_EQ(m.acTvAdjust[0][0], 0x35);
  // Offsets are signed bytes and wrap.
  Groups(&m, 127, 0, 2, 14);
  HSLCHRModifyTVParameters(h, &m, 13);
  EXPECT_EQ(m.acTvAdjust[0][0], -128);
}

// ---- Encoder registers ---------------------------------------------------------------------

TEST_F(ChrontelTv, CableTypes) {
  h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x81};
  orvsim::EncoderChip& chip = OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  chip.SetRegister(0x21, 0xFF);
  chip.SetRegister(0x01, 0xFF);
  struct Case {
    uint32_t cable;
    HALSTATUS status;
    Writes writes;
  } cases[] = {
      {7, 0, {{0x21, 0xF7}, {0x01, 0xFF}}},
      {5, 0, {{0x21, 0xE7}, {0x01, 0xBF}}},
      {8, 0, {{0x21, 0xE7}, {0x01, 0xBF}}},
      {3, kErrChrTvCable, {}},
  };
  for (const Case& c : cases) {
    chip.ClearTransfers();
    h->status = 0;
    EXPECT_EQ(HSLCHRSetTVCableType(h, 1, c.cable), c.status) << c.cable;
    EXPECT_EQ(WritesOf(chip), c.writes) << c.cable;
  }
  // A warning is enough to skip the writes.
  chip.ClearTransfers();
  h->status = 0x40000001;
  EXPECT_EQ(HSLCHRSetTVCableType(h, 1, 7), 0x40000001u);
  EXPECT_TRUE(chip.Transfers().empty());
}

// Code 14 (640x480, 50 Hz standard, level 2) on encoder 0 of a quad board.
TEST_F(ChrontelTv, SdtvSetUpGoldenSequence) {
  Quad();
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 133};
  orvsim::EncoderChip& chip = OnPort1<orvsim::EncoderChip>(0xEC, 133);
  h->ucTvCableType = 5;
  TVPROCAMP& s = h->oTvProcAmp;
  s = TVPROCAMP{};
  s.aulValue[kProcAmpBrightness] = 113;
  s.aulValue[kProcAmpContrast] = 9;  // register 0x08 takes the low three bits
  s.aulValue[kProcAmpSharpness] = 3;
  s.aulValue[kProcAmpDeflicker] = 2;
  s.aulValue[kProcAmpTextFlicker] = 1;
  MODEINFO m = Record(640, 480, kTv0);
  Groups(&m, 2, -3, 2, 14);
  ASSERT_EQ(HSLCHREnableSDTVMode(h, 0, &m), 0u);
  const Writes expected = {
      {0x49, 0x20}, {0x1D, 0xC0}, {0x02, 0x60}, {0x1E, 0xF2}, {0x1F, 0x98},
      {0x1C, 0x0C}, {0x10, 0x00}, {0x02, 0x7A},
      {0x21, 0x02},
      {0x21, 0x02}, {0x01, 0x00},                 // cable 5
      {0x07, 113}, {0x08, 1}, {0x03, 3}, {0x01, 2}, {0x01, 6},
      {0x01, 0x16}, {0x00, 0x61},
      {0x0C, 0x26}, {0x0D, 0x6F}, {0x0E, 0x1F}, {0x0F, 0xD0},
      {0x0A, 0x04}, {0x0B, 0x09}, {0x09, 0x00}, {0x09, 0x01},
      {0x1E, 0xA2},                               // GPIO line 0 low
      {0x04, 0x26}, {0x03, 0x03},                 // start
      {0x05, 0x34 + 2}, {0x06, 0x30 - 3}, {0x03, 0x0B},  // position 0x36, 0x12D
  };
  EXPECT_EQ(WritesOf(chip), expected);
}

// Code 55 (1920x1080 at 60 Hz) on encoder 0 of a plain board.
TEST_F(ChrontelTv, DtvSetUpGoldenSequence) {
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x81};
  orvsim::EncoderChip& chip = OnPort1<orvsim::EncoderChip>(0xEC, 0x81);
  MODEINFO m = Record(1920, 1080, kFourth2);
  m.acTvAdjust[0][3] = 55;
  ASSERT_EQ(HSLCHREnableDTVMode(h, 0, &m), 0u);
  const Writes expected = {
      {0x49, 0x20}, {0x48, 0x08}, {0x48, 0x18}, {0x49, 0x20}, {0x48, 0x10}, {0x1C, 0x04},
      {0x1F, 0x98}, {0x21, 0x02}, {0x00, 0x54}, {0x14, 0x83}, {0x70, 0xC0}, {0x23, 0x40},
      {0x05, 0x50}, {0x06, 0x00}, {0x03, 0x00},
  };
  EXPECT_EQ(WritesOf(chip), expected);
  // An unknown code stops before the first write.
  chip.ClearTransfers();
  m.acTvAdjust[0][3] = 61;
  EXPECT_EQ(HSLCHREnableDTVMode(h, 0, &m), kErrChrTvMode);
  EXPECT_TRUE(chip.DataWrites().empty());
}

// The settings go through the limits of the quad boards' encoders; every
// encoder of every controller that is on gets all six.
TEST_F(ChrontelTv, ProcAmpReachesEveryEncoderInUse) {
  Quad();
  h->oJumpTable.GetTVProcAmp = HSLTVEGetTVProcAmp;  // what the chip's slot forwards to
  std::vector<orvsim::EncoderChip*> chips;
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 133};
  h->aChrontel[2] = I2CDEVICE{1, 1, 0xEA, 133};
  chips.push_back(&OnPort1<orvsim::EncoderChip>(0xEC, 133));
  chips.push_back(&OnPort1<orvsim::EncoderChip>(0xEA, 133));
  for (MODEINFO& r : h->aModeInfo) r = Record(0, 0, kOutControllerOff);
  h->aModeInfo[0] = Record(640, 480, kTv0);
  h->aModeInfo[0].acTvAdjust[0][3] = 14;
  h->aModeInfo[1] = Record(640, 480, 0x20 | 0x80000);  // TV output 2: encoder 2
  h->aModeInfo[1].acTvAdjust[2][3] = 14;
  TVPROCAMP p{};
  p.aulValue[kProcAmpContrast] = 9;      // above the maximum 7: the default 1
  p.aulValue[kProcAmpBrightness] = 150;  // within 65..208
  p.aulValue[kProcAmpSharpness] = 5;
  p.aulValue[kProcAmpDeflicker] = 3;
  p.aulValue[kProcAmpTextFlicker] = 2;
  p.aulValue[kProcAmpFlags] = kProcAmpFlagDotCrawl;
  ASSERT_EQ(HSLCHRSetTVProcAmp(h, &p, 0), 0u);
  EXPECT_EQ(h->oTvProcAmp.aulValue[kProcAmpContrast], 1u);
  EXPECT_EQ(h->oTvProcAmp.aulValue[kProcAmpBrightness], 150u);
  for (orvsim::EncoderChip* chip : chips) {
    EXPECT_EQ(chip->Register(0x08), 1);
    EXPECT_EQ(chip->Register(0x07), 150);
    EXPECT_EQ(chip->Register(0x03) & 7, 5);
    EXPECT_EQ(chip->Register(0x01) & 0x0F, (2 << 2) | 3);
    // Code 14's subcarrier has no dot-crawl reduction of its own.
    EXPECT_EQ(chip->Register(0x0C), 0x26);
    EXPECT_EQ(chip->Register(0x0F), 0xD0);
  }
  // Brightness alone touches one register per encoder.
  for (orvsim::EncoderChip* chip : chips) chip->ClearTransfers();
  p.aulValue[kProcAmpBrightness] = 300;  // above the maximum: the default 113
  ASSERT_EQ(HSLCHRSetTVProcAmp(h, &p, kChrProcAmpBrightness), 0u);
  for (orvsim::EncoderChip* chip : chips) EXPECT_EQ(WritesOf(*chip), (Writes{{0x07, 113}}));
}

TEST_F(ChrontelTv, ClockSourceUnlessOneIsAlreadyOn) {
  Quad();
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 133};
  orvsim::EncoderChip& chip = OnPort1<orvsim::EncoderChip>(0xEC, 133);
  chip.SetRegister(0x49, 0x01);
  MODEINFO m = Record(640, 480, kTv0 | 0x200);
  m.acTvAdjust[0][3] = 31;  // 1024x768: M 0x4B, N 0x10, display mode 0x1E4
  // Encoder 1 may serve the TV clock and does (its output's clock is in use
  // at source 6): nothing is programmed.
  h->ulTvClockSourceMask = 0x2;
  h->aClockInfo[1] = CLOCKINFO{6, 8, 1};
  ASSERT_EQ(HSLCHREnableTVClockSource(h, 0, &m), 0u);
  EXPECT_TRUE(chip.Transfers().empty());
  h->aClockInfo[1].ulInUse = 0;
  ASSERT_EQ(HSLCHREnableTVClockSource(h, 0, &m), 0u);
  EXPECT_EQ(chip.Register(0x1C), 0x0E);
  EXPECT_EQ(chip.Register(0x0A), 0x10);
  EXPECT_EQ(chip.Register(0x0B), 0x4B);
  EXPECT_EQ(chip.Register(0x09), 0x01);
  EXPECT_EQ(chip.Register(0x1E) & 0x02, 0x02);
  EXPECT_EQ(chip.Register(0x49), 0x00);
}

}  // namespace
