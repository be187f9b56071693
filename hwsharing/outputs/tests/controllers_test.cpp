// Display controllers on the simulated chip: the DC parameter words and the
// raster they give, preload counts, clock select, video reset and
// synchronising, display start, dimming, the TV slots.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/outputs/display_start.h"
#include "hwsharing/outputs/transitions.h"
#include "hwsharing/outputs/tv_state.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/addon_chips.h"
#include "platform/board/chip_controllers.h"

namespace {

using hwtest::Mode;

constexpr uint32_t kControllerBits[4] = {0, kOutModule1, kOutSecondController,
                                         kOutModule1 | kOutSecondController};

class Controllers : public hwtest::ChipTest {
 protected:
  explicit Controllers(uint16_t device = kDeviceKestrion2) : ChipTest(device) {
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
  }
  // 1024x768 at 65 MHz (totals 1344 x 806) on controller c.
  static MODEINFO Xga(uint32_t c, uint32_t bpp = 32) {
    MODEINFO m = Mode(1024, 768, bpp, 65000, 24, 136, 160, 3, 6, 29);
    m.flOutput = kControllerBits[c];
    m.ulFBPitch = 1024;
    return m;
  }
  uint32_t Reg(uint32_t r) { return hw.Reg(r); }
  void Set(uint32_t r, uint32_t v) { Board().Poke(r, 4, v); }
  std::vector<uint32_t> Writes() {
    std::vector<uint32_t> out;
    for (const orvsim::RegAccessRecord& r : Board().LoggedWrites()) out.push_back(r.offset);
    return out;
  }
  HALSTATUS Program(MODEINFO& m) {
    DCPARAMS dc;
    HSLKSTGetDCParameters(h, &m, &dc);
    return HSLKSTSetDCParameters(h, &m, &dc);
  }
};

// ---- DC parameters ---------------------------------------------------------------------

TEST_F(Controllers, DcParametersProgramEachControllerInTheirOrder) {
  for (uint32_t c = 0; c < 4; ++c) {
    const uint32_t m = c & 1, at = 0x200 * m;
    MODEINFO mode = Xga(c);
    Board().ClearLog();
    ASSERT_EQ(Program(mode), 0u) << c;
    std::vector<uint32_t> expected = {0x1888 + at, (c < 2 ? 0x1800u : 0x19A8u) + at};
    for (uint32_t r : {0x1900u, 0x1910u, 0x1908u, 0x1914u, 0x192Cu, 0x1920u, 0x1930u, 0x1934u, 0x1918u,
                       0x1928u})
      expected.push_back(r + at);
    expected.push_back(0x191C);
    expected.push_back(0x1B1C);
    if (c < 2) {
      expected.insert(expected.end(), {0x1834 + at, 0x1800 + at});
    } else {
      for (uint32_t r : {0x19D8u, 0x19E4u, 0x1928u, 0x190Cu, 0x19A8u, 0x1888u}) expected.push_back(r + at);
    }
    expected.push_back(0x1888 + at);  // undimmed
    EXPECT_EQ(Writes(), expected) << "controller " << c;
    // The simulated controller scans the record's totals.
    const orvsim::RasterTiming t = Raster().Timing(m);
    EXPECT_EQ(t.htotal, 1024u + 24 + 136 + 160) << c;
    EXPECT_EQ(t.hactive, 1024u) << c;
    EXPECT_EQ(t.vtotal, 768u + 3 + 6 + 29) << c;
    EXPECT_EQ(t.vactive, 768u) << c;
    const orvsim::ControllerSurface s = orvsim::ReadControllerSurface(Board(), c);
    EXPECT_TRUE(s.on) << c;
    EXPECT_EQ(s.pitch, 1024u) << c;
    EXPECT_EQ(s.bytes_per_pixel, 4u) << c;
    EXPECT_EQ(Reg(0x1888 + at) & kOutputCtlDim, 0u) << "undimmed at the end";
  }
}

TEST_F(Controllers, SyncAndBlankPositionsFollowTheIntermediateValues) {
  MODEINFO m = Xga(0);
  m.ulHBorder = 8;
  m.ulVBorder = 2;
  ASSERT_EQ(Program(m), 0u);
  // Horizontal: total 1024 + 16 + 320, blank 1032..1352, sync 1056..1192.
  EXPECT_EQ(Reg(0x1910), Halves(1360 - 2, 1024 - 2));
  EXPECT_EQ(Reg(0x1908), Halves(1032 - 2, 1352 - 2));
  EXPECT_EQ(Reg(0x1914), Halves(1056 - 2, 1192 - 2));
  EXPECT_EQ(Reg(0x192C), Halves(810 - 1, 768 - 1));
  EXPECT_EQ(Reg(0x1920), Halves(770 - 1, 808 - 1));
  EXPECT_EQ(Reg(0x1930), Halves(773 - 1, 779 - 1));
  EXPECT_EQ(Reg(0x1918) & 0xFFF, 810u - 1);
}

TEST_F(Controllers, InterlacedRecordsComputeTheirVerticalValuesOnHalfTheHeight) {
  MODEINFO m = Xga(1);
  m.flSignalMode |= kSignalInterlaced;
  m.ulDeskWidth = 1100;
  ASSERT_EQ(Program(m), 0u);
  const orvsim::RasterTiming t = Raster().Timing(1);
  EXPECT_EQ(t.vactive, 384u);
  EXPECT_EQ(t.vtotal, 384u + 38);
  EXPECT_EQ(Reg(0x1B00) & kDisplayInterlaced, kDisplayInterlaced);
  EXPECT_EQ(Reg(0x1B34), 1100u / 2 - 2) << "the half line from the desktop width";
  EXPECT_TRUE(Reg(0x1A00) & (1u << 11));
  EXPECT_EQ(m.ulDispHeight, 768u) << "the caller's record keeps its height";
}

TEST_F(Controllers, HorizontalAdjustmentPairMovesTheBlank) {
  MODEINFO m = Xga(0);
  m.flSignalMode |= kSignalHAdjustPair;
  const int32_t pair[2] = {4, 6};
  std::memcpy(m.acTvAdjust, pair, sizeof(pair));
  uint32_t t, a, bs, be, ss, se;
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &m, &t, &a, &bs, &be, &ss, &se);
  EXPECT_EQ(bs, 1024u + 4);
  EXPECT_EQ(be, 1344u - 6);
  // A pair past the sync is pulled back to it; (-1, -1) means none.
  const int32_t wide[2] = {100, 400};
  std::memcpy(m.acTvAdjust, wide, sizeof(wide));
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &m, &t, &a, &bs, &be, &ss, &se);
  EXPECT_EQ(bs, ss);
  EXPECT_EQ(be, se);
  const int32_t none[2] = {-1, -1};
  std::memcpy(m.acTvAdjust, none, sizeof(none));
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &m, &t, &a, &bs, &be, &ss, &se);
  EXPECT_EQ(bs, 1024u);
  EXPECT_EQ(be, 1344u);
}

TEST_F(Controllers, AnAnalogDvoPathShiftsTheHorizontalSyncOnEarlyDevices) {
  MODEINFO m = Xga(0);
  m.flOutput |= kOutDigital0;  // DVO 1 on a standard board
  uint32_t t, a, bs, be, ss, se;
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &m, &t, &a, &bs, &be, &ss, &se);
  EXPECT_EQ(ss, 1024u + 24 + 8);
  EXPECT_EQ(se, 1024u + 24 + 136 + 8);
  h->ulFeatures |= kFeatureTransmitter0;  // a transmitter board: no shift
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &m, &t, &a, &bs, &be, &ss, &se);
  EXPECT_EQ(ss, 1024u + 24);
}

TEST_F(Controllers, ADepthWithoutSurfaceFormatFails) {
  MODEINFO m = Xga(0, 24);
  DCPARAMS dc;
  EXPECT_EQ(HSLKSTGetDCParameters(h, &m, &dc), kErrNoSurfaceFormat);
}

TEST_F(Controllers, TenBitSurfaceFormatFollowsTheDigitalOutputs) {
  struct Row {
    const char* name;
    uint32_t output, format, routing;
    uint32_t code;
  } rows[] = {
      {"analog", kOutAnalog0, 0, 0, 52},
      {"digital, wide format", kOutDigital0, 13, 0, 50},
      {"digital, dual format", kOutDigital0, 17, 0, 50},
      {"digital, packed, not routed", kOutDigital0, 4, 0, 52},
      {"digital, packed, routed", kOutDigital0, 4, kOutputCapsDigitalRoute0, 50},
  };
  for (const Row& r : rows) {
    MODEINFO m = Xga(0, 0xC0000);
    m.flOutput |= r.output;
    h->aulDigitalOutputFormat[0] = r.format;
    h->ulOutputCaps = r.routing;
    uint32_t code = 0;
    ASSERT_TRUE(GetSurfFormat(h, &m, &code));
    EXPECT_EQ(code, r.code) << r.name;
  }
}

TEST_F(Controllers, PreloadCountsSplitOnlyBesideAFastOtherDepth) {
  struct Row {
    const char* name;
    uint32_t module, ownBpp, otherBpp, otherKHz;
    bool otherOn, inStep;
    uint32_t counts[4];
  } rows[] = {
      {"other off", 0, 32, 16, 400000, false, false, {0, 0, 0, 1}},
      {"32 beside 16", 0, 32, 16, 350000, true, false, {0, 0, 896, 0}},
      {"32 beside 16, module 1", 1, 32, 16, 350000, true, false, {896, 0, 0, 0}},
      {"16 beside 32", 0, 16, 32, 350000, true, false, {896, 0, 0, 0}},
      {"8 beside 32", 1, 8, 32, 500000, true, false, {0, 0, 1024 + 256 + 128, 0}},
      {"slow other", 0, 32, 16, 349999, true, false, {0, 0, 0, 1}},
      {"same depth", 0, 32, 32, 400000, true, false, {0, 0, 0, 1}},
      {"modules in step", 0, 32, 16, 400000, true, true, {0, 0, 0, 0}},
  };
  for (const Row& r : rows) {
    MODEINFO own = Xga(r.module, r.ownBpp);
    MODEINFO& other = h->aModeInfo[r.module ^ 1];
    other = Xga(r.module ^ 1, r.otherBpp);
    other.ulPixClock = r.otherKHz;
    if (!r.otherOn) other.flOutput |= kOutControllerOff;
    h->ulBoardFlags = r.inStep ? kBoardFlagModulesInStep : 0;
    uint32_t counts[4];
    HSLKSTGetCrtcPreloadCount(h, &own, r.module, counts);
    EXPECT_EQ(std::vector<uint32_t>(counts, counts + 4), std::vector<uint32_t>(r.counts, r.counts + 4)) << r.name;
    DCPARAMS dc;
    HSLKSTGetDCParameters(h, &own, &dc);
    EXPECT_EQ(dc.aulPreload[0], Halves(r.counts[0], r.counts[1])) << r.name;
    EXPECT_EQ(dc.aulPreload[1], Halves(r.counts[2], r.counts[3])) << r.name;
  }
}

// ---- Clock select, enable and disable ---------------------------------------------------

TEST_F(Controllers, ClockSelectOfTheRunningCodeWritesNothing) {
  MODEINFO m = Xga(0);
  Set(kRegModuleClock0, 2u << 6);
  EXPECT_EQ(HSLKSTSelectDisplayControllerClock(h, &m, 2), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
  // Another code, or a stopped clock, goes through the sequence.
  EXPECT_EQ(HSLKSTSelectDisplayControllerClock(h, &m, 3), 0u);
  EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock0)), 3u);
  EXPECT_EQ(Reg(kRegModuleClock0) & (kModuleClockHold | 3u), 2u) << "running, clock mode 2";
  EXPECT_EQ(Vga().Misc(), 0x68);
  Set(kRegModuleClock0, (3u << 6) | kModuleClockHold);
  Board().ClearLog();
  HSLKSTSelectDisplayControllerClock(h, &m, 3);
  EXPECT_FALSE(hw.WritesTo(kRegModuleClock0).empty());
  EXPECT_EQ(Reg(kRegModuleClock0) & kModuleClockHold, 0u);
}

TEST_F(Controllers, ModuleOneTakesTheTvClockForTvOutputOne) {
  MODEINFO m = Xga(3);
  m.flOutput |= kOutTv1;
  Set(kRegModuleClock1, kModuleClockHold);
  HSLKSTSelectDisplayControllerClock(h, &m, 4);
  EXPECT_EQ(Reg(kRegModuleClock1) & 3u, 3u);
  EXPECT_TRUE(Reg(kRegModuleClock1) & kModuleClockTv1);
  EXPECT_TRUE(Reg(kRegModuleClock0) & kModuleClock0TvSelectOn);
  // On a quad board the same record runs the controller's clock.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  Set(kRegModuleClock1, kModuleClockHold);
  HSLKSTSelectDisplayControllerClock(h, &m, 4);
  EXPECT_EQ(Reg(kRegModuleClock1) & 3u, 2u);
  EXPECT_FALSE(Reg(kRegModuleClock1) & kModuleClockTv1);
}

TEST_F(Controllers, DisableStopsTheClockUnlessTheLinkedControllerRuns) {
  MODEINFO m = Xga(0);
  m.flOutput |= kOutAnalog0;
  ASSERT_EQ(Program(m), 0u);
  HSLKSTSetDisableDisplayController(h, &m, 0);
  EXPECT_EQ(Reg(0x1800) & 1, 0u);
  EXPECT_TRUE(Reg(kRegModuleClock0) & kModuleClockHold);
  // With controller 2 on, the module's clock keeps running.
  Set(kRegModuleClock0, 0);
  ASSERT_EQ(Program(m), 0u);
  Set(0x19A8, 1);
  HSLKSTSetDisableDisplayController(h, &m, 0);
  EXPECT_EQ(Reg(kRegModuleClock0) & kModuleClockHold, 0u);
}

TEST_F(Controllers, DimmingModulesTwoAndThreeDoesNothing) {
  Set(0x1888, 0x10);
  EXPECT_EQ(HSLKSTDimController(h, 0, 1, 0x40), 0u);
  EXPECT_EQ(Reg(0x1888), 0x40000092u);
  EXPECT_EQ(HSLKSTDimController(h, 0, 0, 0), 0u);
  EXPECT_EQ(Reg(0x1888), 0x40000010u) << "undimming keeps the level";
  Board().ClearLog();
  EXPECT_EQ(HSLKSTDimController(h, 2, 1, 0), 0u);
  EXPECT_EQ(HSLKSTDimController(h, 3, 1, 0), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

TEST_F(Controllers, EnablingRunsTheWholeSequenceUnlessTheTransitionIsSmooth) {
  MODEINFO m = Xga(1);
  m.flOutput |= kOutAnalog0;
  Set(kRegModuleClock1, kModuleClockHold);
  Set(kRegPriority1, 0x707);
  const unsigned resets = Raster().VideoResets();
  EXPECT_EQ(HSLKSTEnableDisplayController(h, &m, 2), 0u);
  EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock1)), 2u);
  EXPECT_EQ(Reg(kRegModuleClock1) & kModuleClockHold, 0u);
  EXPECT_TRUE(Raster().Running(1));
  EXPECT_EQ(Raster().Timing(1).vtotal, 806u);
  EXPECT_EQ(Raster().VideoResets(), resets + 1);
  EXPECT_EQ(Reg(kRegPriority1) & 0x707, 0x303u) << "default levels";
  // The same record again, now the controller's current one: smooth, no
  // new clock select and no reset.
  h->aModeInfo[1] = m;
  Board().ClearLog();
  EXPECT_EQ(HSLKSTEnableDisplayController(h, &m, 3), 0u);
  EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock1)), 2u);
  EXPECT_EQ(Raster().VideoResets(), resets + 1);
  // Turning it off keeps the module's clock while the transition is smooth.
  EXPECT_EQ(HSLKSTDisableDisplayController(h, &m), 0u);
  EXPECT_EQ(Reg(0x1A00) & 1, 0u);
  EXPECT_EQ(Reg(kRegModuleClock1) & kModuleClockHold, 0u);
  EXPECT_EQ(Reg(0x1A88) & kOutputCtlDim, kOutputCtlDim) << "kept dimmed";
}

TEST_F(Controllers, SmoothTransitionsCompareTheRightRecords) {
  MODEINFO current = Xga(0);
  current.flOutput |= kOutAnalog0;
  h->aModeInfo[0] = current;
  MODEINFO m = current;
  uint32_t smooth = 0;
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 1u);
  m.ulBpp = 16;  // the depth does not matter
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 1u);
  m.flOutput |= kOutAnalog1;
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 0u) << "other outputs";
  m = current;
  m.ulPixClock = 65001;
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 0u);
  // On a quad board the request copy is the reference.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  h->oWorkingMode = current;
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 1u);
  // The encoders' CPLD must agree: both records needing it (Chrontel mode
  // code 99 on the further output kind 2, encoder 0 on a standard board) is
  // smooth, one alone is not.
  h->oCem.ulPresent = 0;
  m = current;
  h->aModeInfo[0] = current;
  auto setCodes = [](MODEINFO& r, int8_t code) {
    r.flOutput |= kOutFourth2;
    for (auto& group : r.acTvAdjust) group[kTvAdjustCode] = code;
  };
  setCodes(m, 99);
  setCodes(h->aModeInfo[0], 99);
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 1u) << "both need it";
  setCodes(h->aModeInfo[0], 1);
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 0u) << "only one needs it";
  h->aModeInfo[0].flOutput |= kOutControllerOff;
  HSLKSTDetectSmoothTransition(h, &m, &smooth);
  EXPECT_EQ(smooth, 0u) << "the current record is off";
}

TEST_F(Controllers, ParameterFreeTransitionsIgnoreClockSizeAndZoom) {
  MODEINFO current = Xga(1);
  h->aModeInfo[1] = current;
  MODEINFO m = Xga(3);  // controller 3 looks at controller 1's record
  m.ulPixClock = 80000;
  m.ulDispWidth = 800;
  m.ulZoom = 2;
  uint32_t free = 0;
  HSLKSTDetectVidParmFreeTransition(h, &m, &free);
  EXPECT_EQ(free, 1u);
  struct Change {
    const char* name;
    void (*apply)(MODEINFO&);
  } changes[] = {
      {"refresh", [](MODEINFO& r) { r.ulRefreshRate = 75; }},
      {"front porch", [](MODEINFO& r) { r.ulHFPorch += 8; }},
      {"vertical border", [](MODEINFO& r) { r.ulVBorder = 1; }},
      {"signal", [](MODEINFO& r) { r.flSignalMode = kSignalInterlaced; }},
      {"TV group", [](MODEINFO& r) { r.acTvAdjust[3][2] = 5; }},
  };
  for (const Change& c : changes) {
    MODEINFO changed = m;
    c.apply(changed);
    HSLKSTDetectVidParmFreeTransition(h, &changed, &free);
    EXPECT_EQ(free, 0u) << c.name;
  }
  // TV output 1 on controller 3 is always parameter-free; an off record never.
  MODEINFO tv = Xga(3);
  tv.flOutput |= kOutTv1;
  tv.ulRefreshRate = 50;
  HSLKSTDetectVidParmFreeTransition(h, &tv, &free);
  EXPECT_EQ(free, 1u);
  tv.flOutput |= kOutControllerOff;
  HSLKSTDetectVidParmFreeTransition(h, &tv, &free);
  EXPECT_EQ(free, 0u);
}

// ---- Video reset and synchronising -------------------------------------------------------

struct ResetBoard {
  const char* name;
  uint32_t multi, type;
  bool fpgaHeld;
};

void PrintTo(const ResetBoard& c, std::ostream* out) { *out << c.name; }

class VideoReset : public Controllers, public testing::WithParamInterface<ResetBoard> {};

TEST_P(VideoReset, HoldsTheFpgaVideoPathAndRestartsBothRasters) {
  const ResetBoard& b = GetParam();
  h->oCem.ulPresent = b.multi;
  h->oCem.ulBoardType = b.type;
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  auto& fpga0 = OnPort1<orvsim::FpgaChip>(0xE0);
  auto& fpga1 = OnPort1<orvsim::FpgaChip>(0xE2);
  fpga0.SetRegister(30, 0x81);
  fpga1.SetRegister(30, 0x80);
  // Both modules scan; module 1 several frames ahead.
  Set(0x1800, 1);
  Set(0x1A00, 1);
  Set(kRegRegime, kRegimeHires);
  sim().GetClock().Advance(40000000);
  Board().RegWrite(kRegModuleClock0, 4, kModuleClockHold);
  sim().GetClock().Advance(3000000);
  Board().RegWrite(kRegModuleClock0, 4, 0);
  ASSERT_NE(Raster().Line(0), Raster().Line(1));
  EXPECT_EQ(HSLKSTApplyVidReset(h, kBothModules), 0u) << b.name;
  EXPECT_EQ(Raster().VideoResets(), 1u);
  EXPECT_EQ(Raster().Line(0), Raster().Line(1)) << "restarted together";
  EXPECT_EQ(Raster().Frame(0), 0u);
  EXPECT_EQ(Reg(0x1900) & kDisplayModeResetHold, 0u);
  EXPECT_EQ(Reg(0x1B00) & kDisplayModeResetHold, 0u);
  EXPECT_EQ(Reg(kRegModuleClock0) & kModuleClockResetHold, 0u);
  // FPGA 0 ran its video path: held over the pulse, then running again;
  // FPGA 1 did not and is left alone.
  std::vector<orvsim::I2cTransfer> expected;
  if (b.fpgaHeld) expected = {{false, 30, {0x80}}, {false, 30, {0x81}}};
  EXPECT_EQ(fpga0.DataWrites(), expected) << b.name;
  EXPECT_TRUE(fpga1.DataWrites().empty());
  EXPECT_EQ(fpga0.Register(30), 0x81);
}

INSTANTIATE_TEST_SUITE_P(Boards, VideoReset,
                         testing::Values(ResetBoard{"standard", 0, 0, false}, ResetBoard{"quad", 1, 2, true},
                                         ResetBoard{"twin", 1, 10, true}, ResetBoard{"expansion", 1, 13, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Controllers, AStoppedClockRunsThroughTheResetAndStopsAgain) {
  Set(kRegModuleClock1, (2u << 6) | kModuleClockHold | 1u);
  EXPECT_EQ(HSLKSTApplyVidReset(h, 0), 0u);
  // Module 0 alone: module 1's stopped clock is restarted for the pulse
  // with the reset's own select code, then stopped again.
  const std::vector<uint32_t> w = hw.WritesTo(kRegModuleClock1);
  ASSERT_GE(w.size(), 3u);
  EXPECT_EQ(w[0], ((2u << 6) | kModuleClockHold | 1u | kVideoResetClockSet) & ~kVideoResetClockClear);
  EXPECT_EQ(w[1] & kModuleClockHold, 0u);
  EXPECT_TRUE(Reg(kRegModuleClock1) & kModuleClockHold);
  EXPECT_EQ(Reg(0x1B00) & kDisplayModeResetHold, 0u) << "module 1 was not selected";
}

TEST_F(Controllers, SynchronizeResetsBothModulesOnlyForAnEqualOtherRecord) {
  struct Row {
    const char* name;
    uint32_t otherWidth, otherClock;
    bool otherOn, inStep, second;
    unsigned resets;
  } rows[] = {
      {"equal", 1024, 65000, true, false, false, 1},
      {"other width", 800, 65000, true, false, false, 0},
      {"other clock", 1024, 65001, true, false, false, 0},
      {"other off", 1024, 65000, false, false, false, 0},
      {"in step anyway", 800, 40000, true, true, false, 1},
      {"second controller", 1024, 65000, true, false, true, 0},
  };
  unsigned before = Raster().VideoResets();
  for (const Row& r : rows) {
    MODEINFO m = Xga(r.second ? 2 : 0);
    MODEINFO& other = h->aModeInfo[1];
    other = Xga(1);
    other.ulDispWidth = r.otherWidth;
    other.ulPixClock = r.otherClock;
    if (!r.otherOn) other.flOutput |= kOutControllerOff;
    h->ulBoardFlags = r.inStep ? kBoardFlagModulesInStep : 0;
    EXPECT_EQ(HSLKSTSynchronizeDC(h, &m), 0u);
    EXPECT_EQ(Raster().VideoResets() - before, r.resets) << r.name;
    before = Raster().VideoResets();
  }
  // A record with doubled timing compares the request copy.
  MODEINFO m = Xga(0);
  m.flSignalMode |= kSignalDoubledTiming;
  m.ulDispWidth = 2048;
  h->oWorkingMode = Xga(0);
  h->aModeInfo[1] = Xga(1);
  h->ulBoardFlags = 0;
  HSLKSTSynchronizeDC(h, &m);
  EXPECT_EQ(Raster().VideoResets() - before, 1u);
}

TEST_F(Controllers, VideoParameterPatchStepsForTvOutputOne) {
  MODEINFO tv = Xga(3);
  tv.flOutput |= kOutTv1;
  Set(kRegVidParmPatch, Halves(10, 4095));
  // Controller 3 on TV while controller 1 runs: +2 on enable.
  h->aModeInfo[1] = Xga(1);
  h->aModeInfo[3].flOutput = kControllerOffWord[3];
  HSLKSTApplyVidParmPatch(h, &tv, 1);
  EXPECT_EQ(Reg(kRegVidParmPatch), Halves(12, 1));
  // Turned off again: -2.
  h->aModeInfo[3] = tv;
  MODEINFO off = tv;
  off.flOutput |= kOutControllerOff;
  HSLKSTApplyVidParmPatch(h, &off, 0);
  EXPECT_EQ(Reg(kRegVidParmPatch), Halves(10, 4095));
  // The later devices have no patch.
  h->usDeviceId = kDeviceKestrionNext2;
  h->aModeInfo[3].flOutput = kControllerOffWord[3];
  Board().ClearLog();
  HSLKSTApplyVidParmPatch(h, &tv, 1);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

// ---- Display start -----------------------------------------------------------------------

// Display origins are aligned as the surface address needs them.
class DisplayStart : public Controllers {
 protected:
  // The frame-buffer byte of desktop pixel (x, y) of the record.
  static uint64_t DesktopByte(const MODEINFO& m, uint32_t x, uint32_t y, uint32_t bytes) {
    return (uint64_t{m.ulDisplayOrg} + uint64_t{y} * m.ulFBPitch + x) * bytes;
  }
};

TEST_F(DisplayStart, TheFirstPixelShownIsTheOneAsked) {
  struct Row {
    const char* name;
    uint32_t controller, bpp, width, height, pitch, org, x, y;
    bool moved;
  } rows[] = {
      {"inside", 0, 32, 1024, 768, 4096, 2048, 100, 50, false},
      {"x past 4,096", 1, 32, 1280, 1024, 8192, 0, 3000, 10, true},
      {"y past 4,096", 2, 16, 1024, 768, 2048, 2048, 40, 3600, true},
      {"both, 8 bpp", 3, 8, 1600, 1200, 8192, 0, 6000, 3500, true},
  };
  for (const Row& r : rows) {
    MODEINFO m = Xga(r.controller, r.bpp);
    m.ulDispWidth = r.width;
    m.ulDispHeight = r.height;
    m.ulFBPitch = r.pitch;
    m.ulDisplayOrg = r.org;
    h->aModeInfo[r.controller] = m;
    ASSERT_EQ(HSLKSTSetDisplayStart(h, r.controller, r.x, r.y), 0u) << r.name;
    const orvsim::ControllerSurface s = orvsim::ReadControllerSurface(Board(), r.controller);
    const uint32_t bytes = r.bpp / 8;
    const uint64_t shown = s.address + (uint64_t{s.window_y0} * r.pitch + s.window_x0) * bytes;
    EXPECT_EQ(shown, DesktopByte(m, r.x, r.y, bytes)) << r.name;
    EXPECT_EQ(s.window_x1 - s.window_x0 + 1, r.width) << r.name;
    EXPECT_EQ(s.window_y1 - s.window_y0 + 1, r.height) << r.name;
    if (r.moved) {
      EXPECT_LT(s.window_x0 + r.width, 4096u) << r.name;
      EXPECT_LT(s.window_y0 + r.height, 4096u) << r.name;
    }
    EXPECT_EQ(h->aModeInfo[r.controller].ulDisplayStartX, r.x);
    EXPECT_EQ(h->aModeInfo[r.controller].ulDisplayStartY, r.y);
  }
}

TEST_F(DisplayStart, AMovedStartPutsTheCutOffPartIntoWindowX) {
  MODEINFO m = Xga(0);
  m.ulDispWidth = 1280;
  m.ulFBPitch = 8192;
  h->aModeInfo[0] = m;
  ASSERT_EQ(HSLKSTSetDisplayStart(h, 0, 3001, 0), 0u);
  // 3,001 x 4 bytes = 12,004; 32 bpp aligns to 8,192 on this device.
  EXPECT_EQ(Reg(0x1824), 8192u);
  EXPECT_EQ(Reg(0x1804), (12004u - 8192) / 4);
  EXPECT_EQ(Reg(0x1808), (12004u - 8192) / 4 + 1279);
  uint32_t mask = 0;
  HSLKSTGetAddressAlignmentMask(h, &m, &mask);
  EXPECT_EQ(mask, 0xFFFFE000u);
  h->usDeviceId = kDeviceKestrionNext1;
  HSLKSTGetAddressAlignmentMask(h, &m, &mask);
  EXPECT_EQ(mask, 0xFFFFF000u) << "one bit less on the later devices";
}

TEST_F(DisplayStart, InterlacedStartsAtTwelveModSixteenStepBackAndWriteTheSecondField) {
  MODEINFO m = Xga(0);
  m.flSignalMode |= kSignalInterlaced;
  h->aModeInfo[0] = m;
  uint32_t flag = 0;
  for (uint32_t x : {12u, 28u, 44u}) {
    HSLKSTDetectEAR66(h, &m, x, 0, &flag);
    EXPECT_EQ(flag, 1u) << x;
  }
  for (uint32_t x : {11u, 13u, 16u}) {
    HSLKSTDetectEAR66(h, &m, x, 0, &flag);
    EXPECT_EQ(flag, 0u) << x;
  }
  ASSERT_EQ(HSLKSTSetDisplayStart(h, 0, 28, 5), 0u);
  EXPECT_EQ(Reg(0x1804), 27u);
  EXPECT_EQ(Reg(0x1828), Reg(0x1824) | 4u) << "second field";
  EXPECT_EQ(h->aModeInfo[0].ulDisplayStartX, 28u) << "the record keeps the x asked";
}

TEST_F(DisplayStart, AZeroZoomHalfCountsAsOne) {
  MODEINFO m = Xga(0);
  m.ulZoom = 0x20000;  // horizontal 0, vertical 2
  h->aModeInfo[0] = m;
  ASSERT_EQ(HSLKSTSetDisplayStart(h, 0, 0, 0), 0u);
  EXPECT_EQ(Reg(0x1808), 1023u);
  EXPECT_EQ(Reg(0x184C), 383u);
  h->aModeInfo[0].ulZoom = 2;  // both ways
  HSLKSTSetDisplayStart(h, 0, 0, 0);
  EXPECT_EQ(Reg(0x1808), 511u);
  EXPECT_EQ(Reg(0x184C), 383u);
}

TEST_F(DisplayStart, ControllersAboveThreeAreRefused) {
  Board().ClearLog();
  EXPECT_EQ(HSLKSTSetDisplayStart(h, 4, 0, 0), kErrDisplayStartController);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

// ---- TV slots ----------------------------------------------------------------------------

TEST_F(Controllers, TvStandardsAndCablesFollowTheEncoders) {
  struct Row {
    uint32_t value;
    bool plain, quadTv;  // accepted without / with four encoders of id 133
  };
  const Row standards[] = {{0, true, true},  {1, true, true},  {2, true, false}, {3, true, false},
                           {4, false, false}, {5, true, false}, {6, true, true},  {7, true, true},
                           {8, true, true},  {9, true, false}, {10, false, false}};
  const Row cables[] = {{4, false, false}, {5, true, true}, {6, true, true},
                        {7, true, true},   {8, false, true}, {9, false, false}};
  orvsim::EncoderChip& encoder = OnPort1<orvsim::EncoderChip>(0xEC, kEncoderIdQuadTv);
  for (bool quadTv : {false, true}) {
    for (I2CDEVICE& e : h->aChrontel) e = I2CDEVICE{quadTv ? 1u : 0u, 1, 0xEC, quadTv ? kEncoderIdQuadTv : 0};
    for (const Row& r : standards) {
      h->status = 0;
      h->ucTvStandard = 0xEE;
      const bool ok = quadTv ? r.quadTv : r.plain;
      EXPECT_EQ(HSLKSTSetTVStandard(h, r.value), ok ? 0u : kErrTvStandardRefused) << r.value << " " << quadTv;
      EXPECT_EQ(h->ucTvStandard, ok ? r.value : 0xEE) << r.value;
    }
    for (const Row& r : cables) {
      h->status = 0;
      encoder.ClearTransfers();
      const bool ok = quadTv ? r.quadTv : r.plain;
      // The slot keeps cable 6, the quad board's encoders know no such cable.
      const bool encoderRefuses = ok && quadTv && r.value == 6;
      EXPECT_EQ(HSLKSTSetTVCableType(h, r.value),
                !ok ? kErrTvCableRefused : encoderRefuses ? kErrChrTvCable : 0u)
          << r.value << " " << quadTv;
      if (ok) {
        EXPECT_EQ(h->ucTvCableType, r.value);
      }
      EXPECT_EQ(!encoder.DataWrites().empty(), ok && quadTv && !encoderRefuses)
          << "the encoders take the cable " << r.value;
    }
  }
}

TEST_F(Controllers, ProcAmpGoesThroughTheTvEncoderAndIsKept) {
  TVPROCAMP v{};
  for (uint32_t i = 0; i < 12; ++i) v.aulValue[i] = 10 + i;
  EXPECT_EQ(HSLKSTSetTVProcAmp(h, &v, 0), 0u);
  EXPECT_EQ(h->oTvProcAmp.aulValue[2], 0u) << "no TV encoder of a kind with a procamp";
  SetAddOn(h, kAddOnVelanAddress, 0x36);
  SetAddOn(h, kAddOnVelanVersion, 5);
  h->ulFeatures |= kAddOnVelanA;
  orvsim::VelanEncoder& velan = OnPort1<orvsim::VelanEncoder>(0x36, 5);
  h->ucTvStandard = 1;
  EXPECT_EQ(HSLKSTSetTVProcAmp(h, &v, 0), 0u);
  for (uint32_t i : {0u, 1u, 2u, 3u, 4u, 5u, 8u, 9u}) EXPECT_EQ(h->oTvProcAmp.aulValue[i], 10 + i) << i;
  for (uint32_t i : {6u, 7u, 10u, 11u}) EXPECT_EQ(h->oTvProcAmp.aulValue[i], 0u) << i;
  // Brightness alone keeps the contrast it had.
  h->oTvProcAmp.aulValue[4] = 77;
  v.aulValue[3] = 40;
  v.aulValue[4] = 99;
  EXPECT_EQ(HSLKSTSetTVProcAmp(h, &v, 8), 0u);
  EXPECT_EQ(h->oTvProcAmp.aulValue[3], 40u);
  EXPECT_EQ(h->oTvProcAmp.aulValue[4], 77u);
  EXPECT_EQ(v.aulValue[4], 99u) << "the caller's record is left alone";
  EXPECT_FALSE(velan.Writes().empty()) << "the settings reached the TV encoder";
  // Quad boards hand everything to their Chrontel encoders.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  for (I2CDEVICE& e : h->aChrontel) e = I2CDEVICE{1, 1, 0xEC, kEncoderIdQuadTv};
  orvsim::EncoderChip& encoder = OnPort1<orvsim::EncoderChip>(0xEC, kEncoderIdQuadTv);
  for (MODEINFO& r : h->aModeInfo) r.flOutput = kOutControllerOff;
  h->aModeInfo[0].flOutput = kOutTv0;
  velan.ClearWrites();
  EXPECT_EQ(HSLKSTSetTVProcAmp(h, &v, 0), 0u);
  EXPECT_FALSE(encoder.DataWrites().empty());
  EXPECT_TRUE(velan.Writes().empty());
}

}  // namespace
