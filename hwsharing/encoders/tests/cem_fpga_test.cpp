// FPGA mode choice on the board: which mode a record gets, the timing the
// controller runs behind the FPGAs and a controller's translated clock.
#include <cstring>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/tests/hw_fixture.h"

namespace {

class FpgaModes : public testing::Test {
 protected:
  FpgaModes() : hw(hwtest::Config(0x5D62)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aFpga, 0, sizeof(h->aFpga));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    h->ulOutputCaps = 0;
    // A quad board with one FPGA and the dual-link flag of connector 0.
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
    h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
    h->oPins.aucData[148] = 0x10;
  }
  static MODEINFO Mode(uint32_t w, uint32_t ht, uint32_t clock, uint32_t hfp, uint32_t hs,
                       uint32_t hbp, uint32_t flOutput) {
    MODEINFO m{};
    m.ulDispWidth = m.ulDeskWidth = w;
    m.ulDispHeight = m.ulDeskHeight = ht;
    m.ulPixClock = clock;
    m.ulHFPorch = hfp;
    m.ulHSync = hs;
    m.ulHBPorch = hbp;
    m.ulVFPorch = 3;
    m.ulVSync = 6;
    m.ulVBPorch = 30;
    m.flOutput = flOutput;
    return m;
  }
  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

TEST_F(FpgaModes, WithoutASplitThePassThroughModes) {
  uint8_t mode = 0;
  MODEINFO slow = Mode(640, 480, 30000, 16, 96, 48, kOutDigital0);
  ASSERT_EQ(HSLKSTGetFpgaMode(h, &slow, nullptr, &mode, 1), 0u);
  EXPECT_EQ(mode, kFpgaModeSlow);
  MODEINFO fast = Mode(800, 600, 60000, 40, 128, 88, kOutDigital0);
  ASSERT_EQ(HSLKSTGetFpgaMode(h, &fast, nullptr, &mode, 1), 0u);
  EXPECT_EQ(mode, kFpgaModePassThrough);
  // Output 3's fourth kind does not pass the FPGAs on this board.
  MODEINFO unused = Mode(800, 600, 60000, 40, 128, 88, 0x8000);
  MODEINFO copy{};
  ASSERT_EQ(HSLKSTGetFpgaMode(h, &unused, &copy, &mode, 1), 0u);
  EXPECT_EQ(mode, kFpgaModeUnused);
  EXPECT_EQ(copy.ulPixClock, 0u);  // nothing copied out
}

// 2560x1600 at 268,500 kHz (2720 x 1646) is split over both links: each
// controller runs half of it, and FPGA mode 2 puts the halves together.
TEST_F(FpgaModes, DualLinkModeIsHalvedAndJoined) {
  MODEINFO big = Mode(2560, 1600, 268500, 48, 32, 80, kOutDigital0);
  h->oPins.aucData[422] = 14;
  MODEINFO adjusted{};
  uint8_t mode = 0;
  ASSERT_EQ(HSLKSTGetFpgaMode(h, &big, &adjusted, &mode, 1), 0u);
  EXPECT_EQ(mode, kFpgaModeSplit);
  EXPECT_EQ(adjusted.ulDispWidth, 1280u);
  EXPECT_EQ(adjusted.ulPixClock, 134250u);
  EXPECT_EQ(adjusted.ulHFPorch + adjusted.ulHSync + adjusted.ulHBPorch, 80u);
  EXPECT_TRUE(adjusted.flOutput & 0x100000);
  MODEINFO out{};
  ASSERT_EQ(HSLKSTGetFPGAVideoParameters(h, mode, &big, &adjusted, &out), 0u);
  EXPECT_EQ(out.ulDispWidth, 2560u);
  EXPECT_EQ(out.ulHSync, 158u);
  EXPECT_EQ(out.ulHFPorch, 0u);
  EXPECT_EQ(out.ulHBPorch, 2u);
  EXPECT_EQ(out.ulPixClock, 268500u);
  // A megahertz less of FPGA clock and no mode fits.
  h->oPins.aucData[422] = 13;
  EXPECT_EQ(HSLKSTGetFpgaMode(h, &big, &adjusted, &mode, 1), kErrFpgaNoMode);
  EXPECT_EQ(mode, kFpgaModeNone);
}

// Mode 2 needs twice the clock, mode 1 only one and a half times: the
// search takes mode 1 and stops there, though 4 and 5 would pass too.
TEST_F(FpgaModes, SearchTakesTheFirstModeThatFits) {
  h->oCem.usModuleCode = 32;  // a variant and revision that allow 4 and 5
  h->oCem.usControlByte = 12;
  MODEINFO r = Mode(800, 600, 140000, 40, 128, 104, kOutDigital0 | 0x200);
  uint8_t mode = 0;
  MODEINFO adjusted{};
  ASSERT_EQ(HSLKSTGetFpgaMode(h, &r, &adjusted, &mode, 1), 0u);
  EXPECT_EQ(mode, kFpgaModeSplit32);
  MODEINFO out{};
  EXPECT_EQ(HSLKSTGetFPGAVideoParameters(h, kFpgaModeSplit, &r, &adjusted, &out), kErrFpgaTiming);
  h->status = 0;
  EXPECT_EQ(HSLKSTGetFPGAVideoParameters(h, kFpgaModeSplit74, &r, &adjusted, &out), 0u);
}

// Mode 1 gets one more try with a longer back porch, except on the variant
// and revision that have modes 4 and 5.
TEST_F(FpgaModes, ModeOneRetriesWithALongerBackPorch) {
  MODEINFO r = Mode(800, 600, 140000, 40, 128, 100, kOutDigital0 | 0x200);  // total 1068
  uint8_t mode = 0;
  MODEINFO adjusted{};
  ASSERT_EQ(HSLKSTGetFpgaMode(h, &r, &adjusted, &mode, 1), 0u);
  EXPECT_EQ(mode, kFpgaModeSplit32);
  EXPECT_EQ(adjusted.ulHBPorch, 104u);
  h->oCem.usModuleCode = 38;
  h->oCem.usControlByte = 0x80 | 12;  // revision: the low seven bits
  EXPECT_EQ(HSLKSTGetFpgaMode(h, &r, &adjusted, &mode, 1), kErrFpgaNoMode);
}

TEST_F(FpgaModes, VideoParametersReportTheFpgaLimits) {
  MODEINFO odd = Mode(800, 600, 60000, 40, 128, 89, kOutDigital0);  // total 1057: odd
  MODEINFO out{};
  EXPECT_EQ(HSLKSTGetFPGAVideoParameters(h, kFpgaModePassThrough, &odd, &odd, &out),
            kErrFpgaTiming);
  EXPECT_EQ(out.ulHBPorch, 89u);  // left as the copy
  // A record that does not use the FPGAs is only copied.
  h->status = 0;
  MODEINFO other = odd;
  other.flOutput = 0x8000;
  EXPECT_EQ(HSLKSTGetFPGAVideoParameters(h, kFpgaModePassThrough, &other, &other, &out), 0u);
  EXPECT_EQ(0, std::memcmp(&out, &other, sizeof(out)));
}

TEST_F(FpgaModes, FeaturePresence) {
  MODEINFO fast = Mode(1920, 1080, 170000, 88, 44, 148, kOutDigital0);
  EXPECT_EQ(HSLKSTValidateFPGAFeaturePresence(h, kFpgaModeSplit, &fast), 0u);
  EXPECT_EQ(HSLKSTValidateFPGAFeaturePresence(h, kFpgaModeSplit32, &fast), kErrFpgaTiming);
  // Without the dual-link flag: only output 0 of a board running it dual link.
  h->status = 0;
  h->oPins.aucData[148] = 0;
  EXPECT_EQ(HSLKSTValidateFPGAFeaturePresence(h, kFpgaModeSplit32, &fast), kErrFpgaTiming);
  h->status = 0;
  h->ulOutputCaps = 0x20;
  h->aulDigitalOutputFormat[0] = 2;
  EXPECT_EQ(HSLKSTValidateFPGAFeaturePresence(h, kFpgaModeSplit32, &fast), 0u);
  MODEINFO slow = Mode(800, 600, 40000, 40, 128, 88, kOutDigital0);
  EXPECT_EQ(HSLKSTValidateFPGAFeaturePresence(h, kFpgaModeSplit158, &slow), kErrFpgaTiming);
}

TEST_F(FpgaModes, ControllerPixelClock) {
  uint32_t clock = 0;
  h->aModeInfo[1] = Mode(2560, 1600, 268500, 48, 32, 80, kOutDigital0);
  h->oPins.aucData[422] = 14;
  ASSERT_EQ(HSLKSTGetCrtcPixelClk(h, &clock, 1), 0u);
  EXPECT_EQ(clock, 268500u);  // translated back through FPGA mode 2
  h->aModeInfo[0] = Mode(800, 600, 40000, 40, 128, 88, 0x8000);
  ASSERT_EQ(HSLKSTGetCrtcPixelClk(h, &clock, 0), 0u);
  EXPECT_EQ(clock, 40000u);
  h->oCem.ulPresent = 0;  // not a quad board: the record's own clock
  ASSERT_EQ(HSLKSTGetCrtcPixelClk(h, &clock, 1), 0u);
  EXPECT_EQ(clock, 268500u);
  clock = 7;
  EXPECT_EQ(HSLKSTGetCrtcPixelClk(h, &clock, 2), kErrFpgaController);
  EXPECT_EQ(clock, 7u);
}

}  // namespace
