// Timing adjustment steps on a 1024x768 mode: porch and sync steps by cell
// or pixel, moves, refresh, clock, interlace, polarities, the refusals and
// the recomputed clock, with the chip's validation a recording stand-in.
#include <gtest/gtest.h>

#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/adjust.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/timing_tables.h"
#include "hwsharing/tests/hw_fixture.h"
#include "hwsharing/tests/recording_slots.h"

namespace {

constexpr const char* kValidate = "HSLKSTValidateVideoParameters";

class Adjust : public testing::Test {
 protected:
  Adjust() : hw(hwtest::Config(0x0A41)) {
    EXPECT_EQ(hw.Open(), kHalOk);
    h = hw.h();
    hwtest::RecordModeSlots(h);
    orvstandin::Reset();
    mode = VesaParam[21];  // 1024x768 at 60 Hz: 24/136/160, 3/6/29
  }
  HALSTATUS Run(uint32_t type, uint32_t value = 0) { return HALModifyVideoParameters(h, &mode, type, value); }
  static uint32_t Clock(const MODEINFO& m, uint32_t vtotal) {
    return (m.ulDispWidth + m.ulHFPorch + m.ulHSync + m.ulHBPorch) * vtotal * m.ulRefreshRate / 1000;
  }
  hwtest::HwBoard hw;
  BOARDHANDLE* h;
  MODEINFO mode;
};

TEST_F(Adjust, HorizontalStepsByCellOrByPixel) {
  mode.ulHFPorch = 13;
  EXPECT_EQ(Run(24), kHalOk);
  EXPECT_EQ(mode.ulHFPorch, 16u);
  EXPECT_EQ(mode.ulPixClock, Clock(mode, 806));
  EXPECT_EQ(mode.ulHorizRate, mode.ulPixClock / 1336);
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 1u);
  mode.ulHFPorch = 13;
  mode.flModeCaps = kAdjustByPixel;
  Run(24);
  EXPECT_EQ(mode.ulHFPorch, 14u);
  Run(34);  // the sync down one pixel
  EXPECT_EQ(mode.ulHSync, 135u);
  Run(38);  // vertical steps are lines
  EXPECT_EQ(mode.ulVBPorch, 28u);
}

TEST_F(Adjust, LoweringBelowZeroFailsAndKeepsTheChange) {
  struct Case {
    uint32_t type;
    uint32_t* field;
    uint32_t start;
    HALSTATUS status;
  };
  const Case cases[] = {
      {33, &mode.ulHFPorch, 5, 0x80404130},   {34, &mode.ulHSync, 7, 0x80405130},
      {35, &mode.ulHBPorch, 0, 0x80406130},   {36, &mode.ulVFPorch, 0, 0x80407130},
      {37, &mode.ulVSync, 0, 0x80408130},     {38, &mode.ulVBPorch, 0, 0x80409130},
      {33, &mode.ulHFPorch, 8, kHalOk},       {36, &mode.ulVFPorch, 1, kHalOk},
  };
  for (const Case& c : cases) {
    mode = VesaParam[21];
    *c.field = c.start;
    orvstandin::Reset();
    EXPECT_EQ(Run(c.type), c.status) << c.type;
    EXPECT_NE(*c.field, c.start) << c.type;
    EXPECT_EQ(orvstandin::TimesCalled(kValidate), c.status == kHalOk ? 1u : 0u) << c.type;
  }
}

TEST_F(Adjust, MovesRunTwoStepsThenValidate) {
  struct Case {
    uint32_t type;
    int hfp, hbp, vfp, vbp;
  };
  const Case cases[] = {
      {13, -8, 8, 0, 0}, {14, 8, -8, 0, 0}, {15, 0, 0, 1, -1}, {16, 0, 0, -1, 1},
      {17, -8, -8, 0, 0}, {18, 0, 0, -1, -1}, {19, 8, 8, 0, 0}, {20, 0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    mode = VesaParam[21];
    orvstandin::Reset();
    EXPECT_EQ(Run(c.type), kHalOk) << c.type;
    EXPECT_EQ(static_cast<int>(mode.ulHFPorch) - 24, c.hfp) << c.type;
    EXPECT_EQ(static_cast<int>(mode.ulHBPorch) - 160, c.hbp) << c.type;
    EXPECT_EQ(static_cast<int>(mode.ulVFPorch) - 3, c.vfp) << c.type;
    EXPECT_EQ(static_cast<int>(mode.ulVBPorch) - 29, c.vbp) << c.type;
    EXPECT_EQ(orvstandin::TimesCalled(kValidate), 3u) << c.type;
  }
  // The first step failing: the second changes nothing and nothing is
  // validated again.
  mode = VesaParam[21];
  mode.ulHFPorch = 4;
  orvstandin::Reset();
  EXPECT_EQ(Run(13), 0x80404130u);
  EXPECT_EQ(mode.ulHBPorch, 160u);
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 0u);
}

TEST_F(Adjust, RefreshStepsAndTheFloor) {
  mode.ulRefreshRate = 40;
  EXPECT_EQ(Run(31), kErrAdjustRefreshTooLow);
  EXPECT_EQ(mode.ulRefreshRate, 39u);
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 1u);
  EXPECT_EQ(mode.ulPixClock, Clock(mode, 806));
  for (uint32_t type : {21u, 22u, 23u}) {
    mode.ulRefreshRate = 60;
    Run(type);
    EXPECT_EQ(mode.ulRefreshRate, 61u) << type;
  }
  mode.ulRefreshRate = 1;
  EXPECT_EQ(Run(30), kErrAdjustRefreshBelowOne);
  EXPECT_EQ(mode.ulRefreshRate, 0u);
  // Interlaced modes go down to 20 Hz.
  mode.ulRefreshRate = 21;
  mode.flSignalMode |= kSignalInterlaced;
  EXPECT_EQ(Run(31), kHalOk);
  EXPECT_EQ(Run(31), kErrAdjustRefreshTooLow);
}

TEST_F(Adjust, HorizontalRateDownLowersTwiceAfterAnUncleanFirstStep) {
  // A clean first lowering: once, then validated again.
  EXPECT_EQ(Run(32), kHalOk);
  EXPECT_EQ(mode.ulRefreshRate, 59u);
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 2u);
  // A warning: lowered again, and validated again after a second warning.
  orvstandin::Reset();
  orvstandin::SetResult(kValidate, 0x40000007);
  mode.ulRefreshRate = 60;
  EXPECT_EQ(Run(32), 0x40000007u);
  EXPECT_EQ(mode.ulRefreshRate, 58u);
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 3u);
  // A refusal: the second lowering returns at once.
  orvstandin::Reset();
  orvstandin::SetResult(kValidate, 0xB0000007);
  mode.ulRefreshRate = 60;
  EXPECT_EQ(Run(32), 0xB0000007u);
  EXPECT_EQ(mode.ulRefreshRate, 59u);
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 1u);
}

TEST_F(Adjust, InterlaceOnAndOff) {
  EXPECT_EQ(Run(kAdjustInterlace, 1), kHalOk);
  EXPECT_EQ(mode.flSignalMode & kSignalInterlaced, kSignalInterlaced);
  EXPECT_EQ(mode.ulRefreshRate, 30u);
  // Field lines: (768 / 2 + 38) x 2 = 844.
  EXPECT_EQ(mode.ulPixClock, Clock(mode, 844));
  EXPECT_EQ(Run(kAdjustInterlace, 0), kHalOk);
  EXPECT_EQ(mode.ulRefreshRate, 60u);
  EXPECT_EQ(mode.flSignalMode & kSignalInterlaced, 0u);

  MODEINFO narrow = VesaParam[9];  // 640x480
  EXPECT_EQ(HALModifyVideoParameters(h, &narrow, kAdjustInterlace, 1), kErrAdjustNotSupported);
  EXPECT_EQ(narrow.ulRefreshRate, 60u);
  mode.flOutput = kOutModule1;
  EXPECT_EQ(Run(kAdjustInterlace, 1), kErrAdjustNotSupported);
}

TEST_F(Adjust, ClockRefreshAndPolarity) {
  EXPECT_EQ(Run(kAdjustPixelClock, 78750), kHalOk);
  EXPECT_EQ(mode.ulRefreshRate, HALPGTFRoundDiv(78750000, 1344 * 806));
  EXPECT_EQ(mode.ulHorizRate, 59u);  // 58.6 rounded
  EXPECT_EQ(Run(kAdjustRefresh, 75), kHalOk);
  EXPECT_EQ(mode.ulPixClock, 78750u);  // the VESA timing at 75 Hz
  EXPECT_EQ(mode.ulHFPorch, 16u);
  EXPECT_EQ(Run(kAdjustRefresh, 62), kHalOk);
  MODEINFO gtf = VesaParam[21];
  HALPGetVerticalGTFParams(&gtf, 62);
  EXPECT_EQ(mode.ulPixClock, gtf.ulPixClock);
  mode.flSignalMode = 0;
  Run(kAdjustHSyncPolarity, 1);
  Run(kAdjustVSyncPolarity, 1);
  EXPECT_EQ(mode.flSignalMode, kSignalHSyncPositive | kSignalVSyncPositive);
  Run(kAdjustHSyncPolarity, 0);
  EXPECT_EQ(mode.flSignalMode, kSignalVSyncPositive);
}

TEST_F(Adjust, TypesOutOfRangeOrNotSupported) {
  EXPECT_EQ(Run(5), kErrAdjustNotSupported);
  EXPECT_EQ(Run(8), kErrAdjustNotSupported);
  EXPECT_EQ(Run(39), kErrAdjustType);
  EXPECT_EQ(Run(0), kErrAdjustType);
  EXPECT_EQ(orvstandin::CallCount(), 0u);
}

// A TV slot that records the step it was given.
uint32_t g_tvStep;
HALSTATUS RecordTvStep(BOARDHANDLE* h, MODEINFO*, uint32_t step) {
  g_tvStep = step;
  return h->status;
}

TEST_F(Adjust, TvPathsGoToTheTvSlot) {
  h->oJumpTable.ModifyTVParameters = RecordTvStep;
  g_tvStep = 0;
  mode.flOutput = 0x10;  // TV 0
  h->ulOutputCaps = 0;
  EXPECT_EQ(Run(24), kErrAdjustTvWithoutTvOutput);
  EXPECT_EQ(g_tvStep, 0u);
  h->ulOutputCaps = 0x8;
  EXPECT_EQ(Run(24), kHalOk);
  EXPECT_EQ(g_tvStep, 24u);
  EXPECT_EQ(mode.ulHFPorch, 24u);  // the timing steps leave a TV record alone
  EXPECT_EQ(orvstandin::TimesCalled(kValidate), 0u);
}

// A CRTC table whose line-doubling answer is "doubled".
HALSTATUS Doubled(BOARDHANDLE* h, MODEINFO*, uint32_t* doubled) {
  *doubled = 1;
  return h->status;
}

TEST_F(Adjust, LineDoublingCountsTheLinesTwiceButForTheVerticalSync) {
  CRTCFUNCTIONS crtc = *h->pCRTCFunctions;
  crtc.UseLineDoubling = Doubled;
  h->pCRTCFunctions = &crtc;
  Run(27);  // vertical front porch up
  EXPECT_EQ(mode.ulPixClock, Clock(mode, 807 + 768));
  Run(28);  // vertical sync up: no doubled lines
  EXPECT_EQ(mode.ulPixClock, Clock(mode, 808));
  Run(22);
  EXPECT_EQ(mode.ulPixClock, Clock(mode, 808 + 768));
}

}  // namespace
