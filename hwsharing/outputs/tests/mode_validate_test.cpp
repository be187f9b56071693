// Mode validation and bandwidth: what the chip refuses before a mode is
// set, as tables of records against their codes.
#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/mode_validate.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

using hwtest::Mode;

MODEINFO Xga(uint32_t controller, uint32_t outputs, uint32_t bpp = 32) {
  return hwtest::XgaOn(controller, outputs, bpp);
}

class Validate : public hwtest::ChipTest {
 protected:
  explicit Validate(uint16_t device = kDeviceKestrion2) : ChipTest(device) {
    for (uint32_t& f : h->aulDigitalOutputFormat) f = 0xFFFFFFFF;
  }
  void SetPinsVersion(uint16_t v) {
    h->oPins.aucData[4] = static_cast<uint8_t>(v);
    h->oPins.aucData[5] = static_cast<uint8_t>(v >> 8);
  }
  HALSTATUS Mode1(MODEINFO m) {
    h->status = 0;
    return HSLKSTValidateMode(h, &m);
  }
  HALSTATUS Mode2(MODEINFO m) {
    h->status = 0;
    return HSLKSTValidateVideoParameters(h, &m);
  }
};

TEST_F(Validate, FormatsSizesAndZoom) {
  SetPinsVersion(0x600);  // no availability check
  struct Row {
    const char* name;
    MODEINFO m;
    HALSTATUS code;
  };
  MODEINFO small = Xga(1, kOutAnalog1);
  small.ulDispWidth = small.ulDeskWidth = 600;
  small.ulDispHeight = small.ulDeskHeight = 400;
  MODEINFO zoom21 = Xga(0, kOutAnalog0), zoom3 = zoom21, zoom8 = zoom21;
  zoom21.ulZoom = 0x20001;
  zoom3.ulZoom = 3;
  zoom8.ulZoom = 0x80001;
  MODEINFO wide = Xga(0, kOutAnalog0), fits = wide;
  wide.ulDeskWidth = 8192;
  fits.ulDeskWidth = 8160;
  const Row rows[] = {
      {"32 bits", Xga(0, kOutAnalog0), 0},
      {"15 bits", Xga(0, kOutAnalog0, 15), 0},
      {"0xC0000", Xga(0, kOutAnalog0, 0xC0000), 0},
      {"24 bits", Xga(0, kOutAnalog0, 24), kErrModeFormat},
      {"8 bits on controller 2", Xga(2, kOutAnalog0, 8), kErrModeFormat},
      {"8 bits on controller 0", Xga(0, kOutAnalog0, 8), 0},
      {"1024x768 on module 1", Xga(1, kOutAnalog1), 0},
      {"600x400 on module 1", small, kErrModeTooSmall},
      {"zoom 0x20001", zoom21, 0},
      {"zoom 3", zoom3, kErrModeZoom},
      {"vertical zoom 8", zoom8, kErrModeZoom},
      {"pitch 8,192", wide, kErrModePitch},
      {"pitch 8,160", fits, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(Mode1(r.m), r.code) << r.name;
}

class ValidateEarly : public Validate {
 protected:
  ValidateEarly() : Validate(kDeviceKestrion1) { h->ulRevision = 1; }
};

TEST_F(ValidateEarly, TheEarlyRevisionTakesThirtyTwoBitsUnzoomed) {
  SetPinsVersion(0x600);
  EXPECT_EQ(Mode1(Xga(0, kOutAnalog0, 16)), kErrModeFormat);
  MODEINFO m = Xga(0, kOutAnalog0);
  EXPECT_EQ(Mode1(m), 0u);
  m.ulZoom = 2;
  EXPECT_EQ(Mode1(m), kErrModeZoom);
  m = Xga(0, kOutAnalog0);
  m.flSignalMode = kSignalInterlaced;
  EXPECT_EQ(Mode2(m), kErrVideoParameters);
}

TEST_F(Validate, OutputsAvailableByCapability) {
  SetPinsVersion(0x605);
  struct Row {
    const char* name;
    uint32_t outputs, caps;
    uint8_t connector;  // byte 145
    uint32_t format1;
    HALSTATUS code;
  } rows[] = {
      {"analog 0", kOutAnalog0, 0x1, 0, 0, 0},
      {"analog 0 without its bit", kOutAnalog0, 0x2, 0, 0, kErrModeOutput},
      {"TV 1", kOutTv1, 0x8, 0, 0, 0},
      {"further kind 3", kOutFourth3, 0x8000, 0, 0, 0},
      {"further kind 3 without", kOutFourth3, 0x4000, 0, 0, kErrModeOutput},
      {"digital 1", kOutDigital1, 0x200000, 0, 5, 0},
      {"digital 1 missing", kOutDigital1, 0, 0, 5, kErrModeOutput},
      {"digital 1 through connector 0xA", kOutDigital1 | kOutAnalog3, 0, 0x4A, 5, 0},
      {"digital 1 with format 16", kOutDigital1, 0, 0, 16, 0},
      {"digital 1 with format 17, no format check", kOutDigital1, 0, 0, 17, 0},
      {"digital 1 without a format", kOutDigital1, 0x200000, 0, 0xFFFFFFFF, kErrModeOutput},
  };
  for (const Row& r : rows) {
    h->ulOutputCaps = r.caps;
    h->oPins.aucData[145] = r.connector;
    h->aulDigitalOutputFormat[1] = r.format1;
    EXPECT_EQ(Mode1(Xga(0, r.outputs)), r.code) << r.name;
  }
  // An old description checks nothing.
  SetPinsVersion(0x604);
  h->ulOutputCaps = 0;
  EXPECT_EQ(Mode1(Xga(0, kOutDigital1)), 0u);
}

TEST_F(Validate, TwoDigitalOutputsAboveSixtyFiveMegahertzWhereTheDescriptionForbidsIt) {
  SetPinsVersion(0x60C);
  h->oPins.aucData[452] = 0x2;
  h->ulOutputCaps = 0x4 | 0x200000;
  h->aulDigitalOutputFormat[0] = h->aulDigitalOutputFormat[1] = 1;
  MODEINFO m = Xga(0, kOutDigital0 | kOutDigital1);
  EXPECT_EQ(Mode1(m), 0u) << "65,000 kHz";
  m.ulPixClock = 65001;
  EXPECT_EQ(Mode1(m), kErrModeOutput);
  h->oPins.aucData[452] = 0;
  EXPECT_EQ(Mode1(m), 0u);
}

TEST_F(Validate, PixelClockLimitsInUnitsOfFourMegahertz) {
  h->oPins.aucData[152] = 100;
  MODEINFO m = Xga(0, kOutAnalog0);
  m.ulPixClock = 403999;
  EXPECT_EQ(Mode2(m), 0u);
  m.ulPixClock = 404000;
  EXPECT_EQ(Mode2(m), kErrPixelClockLimit);
  // Dual link through output 1: bytes 158 + 159 against K = 50.
  h->oPins.aucData[152] = 255;
  h->ulOutputCaps = 0x20;
  h->aulDigitalOutputFormat[0] = 2;
  m = Xga(0, kOutDigital0);
  m.ulPixClock = 200000;
  h->oPins.aucData[158] = 25;
  h->oPins.aucData[159] = 25;
  EXPECT_EQ(Mode2(m), 0u);
  h->oPins.aucData[159] = 24;
  EXPECT_EQ(Mode2(m), kErrPixelClockLimit);
  // Single link at 165,000 kHz: digital 0 against byte 158 alone.
  m.ulPixClock = 100000;
  h->oPins.aucData[158] = 24;
  EXPECT_EQ(Mode2(m), kErrPixelClockLimit);
  h->oPins.aucData[158] = 25;
  EXPECT_EQ(Mode2(m), 0u);
}

TEST_F(Validate, QuadBoardsCheckEachOutputsPath) {
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  h->oPins.aucData[421] = 37;  // wired as a standard board: the direct path
  for (size_t b = 152; b <= 159; ++b) h->oPins.aucData[b] = 255;
  struct Row {
    bool si4;
    uint32_t output;
    size_t byte;
  } rows[] = {
      {false, kOutDigital0, 156}, {false, kOutTv1, 157},     {false, kOutAnalog2, 158},
      {false, kOutDigital3, 159}, {true, kOutDigital2, 156}, {true, kOutTv1, 157},
      {true, kOutDigital0, 158},  {true, kOutAnalog1, 159},  {false, kOutAnalog3, 157},
  };
  for (const Row& r : rows) {
    for (I2CDEVICE& d : h->aSiI164) d.ulPresent = r.si4 ? 1 : 0;
    MODEINFO m = Xga(0, r.output);
    m.ulPixClock = 100000;  // K = 25
    h->oPins.aucData[r.byte] = 24;
    EXPECT_EQ(Mode2(m), kErrPixelClockLimit) << r.byte << " " << r.output;
    h->oPins.aucData[r.byte] = 25;
    EXPECT_EQ(Mode2(m), 0u) << r.byte << " " << r.output;
    h->oPins.aucData[r.byte] = 255;
  }
}

TEST_F(Validate, TimingMeasuredOnTheController) {
  struct Row {
    const char* name;
    uint32_t width, hfp, hsync, hbp, khz;
    HALSTATUS code;
  } rows[] = {
      {"total 4,096", 3840, 48, 32, 176, 300000, 0},
      {"total 4,098", 3840, 48, 32, 178, 300000, kErrVideoParameters},
      {"an odd sync", 1024, 24, 135, 161, 65000, kErrVideoParameters},
      {"a clock below one line a millisecond", 1024, 24, 136, 160, 1, kErrVideoParameters},
  };
  for (const Row& r : rows) {
    MODEINFO m = Mode(r.width, 768, 32, r.khz, r.hfp, r.hsync, r.hbp, 3, 6, 29);
    EXPECT_EQ(Mode2(m), r.code) << r.name;
  }
  // A record without timing (totals of 0) is refused, not divided by.
  MODEINFO zero{};
  zero.ulBpp = 32;
  zero.ulZoom = 1;
  EXPECT_EQ(Mode2(zero), kErrVideoParameters);
  // Interlace on the second controller, except TV 1 on controller 3.
  MODEINFO m = Xga(2, kOutAnalog0);
  m.flSignalMode = kSignalInterlaced;
  EXPECT_EQ(Mode2(m), kErrVideoParameters);
  m = Xga(3, kOutTv1);
  m.flSignalMode = kSignalInterlaced;
  EXPECT_EQ(Mode2(m), 0u);
  // Tripled clock on the direct path: the caller's record is changed.
  m = Xga(0, kOutAnalog0);
  m.flSignalMode = kSignalTripledClock;
  h->status = 0;
  HSLKSTValidateVideoParameters(h, &m);
  EXPECT_EQ(m.ulPixClock, 195000u);
  EXPECT_EQ(m.flModeCaps, 0x380u);
}

TEST_F(Validate, BandwidthOfAMode) {
  struct Row {
    uint32_t controller, bpp, khz, outputs, caps, format0, kBps;
  } rows[] = {
      {0, 32, 162000, kOutDigital0, 0, 1, 648000},
      {0, 32, 500000, kOutAnalog0, 0, 1, 1000000},
      {2, 32, 162000, kOutAnalog0, 0, 1, 0},
      {0, 8, 162000, kOutAnalog0, 0, 1, 162000},
      {0, 16, 162000, kOutAnalog0, 0, 1, 324000},
      {0, 0xB0000, 162000, kOutAnalog0, 0, 1, 0},
      {0, 32, 162000, kOutDigital0, 0x20000000, 4, 324000},  // a halving format
      {0, 32, 162000, kOutDigital0, 0x20000000, 3, 648000},
  };
  for (const Row& r : rows) {
    h->ulOutputCaps = r.caps;
    h->aulDigitalOutputFormat[0] = r.format0;
    MODEINFO m = Xga(r.controller, r.outputs, r.bpp);
    m.ulPixClock = r.khz;
    uint32_t kBps = 99;
    h->status = 0;
    ASSERT_EQ(HSLKSTGetModeBandwidth(h, &m, &kBps), 0u);
    EXPECT_EQ(kBps, r.kBps) << r.controller << " " << r.bpp << " " << r.khz;
  }
}

}  // namespace
