// The mode programming sequence on the simulated board: a full mode set end
// to end, the bookkeeping of the controller records, the zoom-only path,
// the record's adaptation to its output path, the clock choice and the
// memory-request priority levels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/clock_select.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/outputs/priority.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_dma.h"

namespace {

using hwtest::Mode;

MODEINFO Xga(uint32_t controller, uint32_t outputs) { return hwtest::XgaOn(controller, outputs); }

class ModeSet : public hwtest::ModeChipTest {
 protected:
  explicit ModeSet(uint16_t device = kDeviceKestrion2) : ModeChipTest(device) {}
  void MakeQuad() {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
  }
  // Writes of the timing block of controller c (0x1908-0x1934).
  size_t TimingWrites(uint32_t c) {
    return WrittenIn(0x1908 + kControllerStride * c, 0x1934 + kControllerStride * c).size();
  }
};

TEST_F(ModeSet, XgaOnAnalogOutputZeroEndToEnd) {
  MODEINFO m = Xga(0, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetMode(h, &m), 0u);
  // The synthesizer of the controller's select code runs at the clock.
  const uint32_t select = ModuleClockSelect::Get(Reg(kRegModuleClock0));
  ASSERT_GE(select, 1u);
  ASSERT_LE(select, 4u);
  EXPECT_NEAR(clocks.FsKHz(select - 1), 65000.0, 65000 * 0.005);
  // The board's decoder finds the DMT totals, the raster runs at 60 Hz.
  const orvsim::RasterTiming t = Raster().Timing(0);
  EXPECT_EQ(t.htotal, 1344u);
  EXPECT_EQ(t.vtotal, 806u);
  EXPECT_EQ(t.hactive, 1024u);
  EXPECT_EQ(t.vactive, 768u);
  EXPECT_NEAR(t.frame_hz, 60.0, 0.1);
  // DAC 1 drives output 0 from controller 0; the colour table was loaded.
  EXPECT_TRUE(display.Outputs().Dac(0).on);
  EXPECT_FALSE(display.Outputs().Dac(0).blanked);
  EXPECT_EQ(display.Outputs().Dac(0).source, 0u);
  EXPECT_GT(Lut().EntriesStored(), 0u);
  // The record, the clock table and the priority level.
  EXPECT_EQ(h->aModeInfo[0].ulPixClock, 65000u);
  EXPECT_EQ(h->aModeInfo[0].ulDispWidth, 1024u);
  EXPECT_EQ(h->aModeInfo[0].flModeCaps, 0x380u);
  EXPECT_EQ(h->aClockInfo[0].ulSource, kClockFreeFs);
  EXPECT_EQ(h->aClockInfo[0].ulSelect, select);
  EXPECT_EQ(h->aClockInfo[0].ulInUse, 1u);
  EXPECT_EQ(h->aClockInfo[1].ulInUse, 0u);
  EXPECT_EQ(PriorityPrimary::Get(Reg(kRegPriority0)), 7u) << "the only stream: the top level";
}

TEST_F(ModeSet, ControllerRecordsKeepTheirOwnersAndTheirTimingMaster) {
  // Controller 0 off while 2 runs keeps 0's timing and drops its outputs.
  h->aModeInfo[0] = Xga(0, kOutAnalog0);
  h->aModeInfo[2] = Xga(2, kOutAnalog1);
  MODEINFO off = h->aModeInfo[0];
  off.flOutput |= kOutControllerOff;
  ASSERT_EQ(HSLKSTSetModeUpdateStructure(h, &off), 0u);
  EXPECT_FALSE(RecordOff(h->aModeInfo[0]));
  EXPECT_EQ(h->aModeInfo[0].flOutput & kOutOwnedBits, 0u);
  EXPECT_EQ(h->aModeInfo[0].ulPixClock, 65000u) << "the timing master of the pair";
  // Controller 2 off when 0 owns no outputs marks 0 off too.
  MODEINFO off2 = h->aModeInfo[2];
  off2.flOutput |= kOutControllerOff;
  ASSERT_EQ(HSLKSTSetModeUpdateStructure(h, &off2), 0u);
  EXPECT_TRUE(RecordOff(h->aModeInfo[0]));
  EXPECT_TRUE(RecordOff(h->aModeInfo[2]));
  // An output set on one controller leaves every other record.
  for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c] = Xga(c, kOutAnalog0 | kOutDigital1);
  MODEINFO m = Xga(1, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetModeUpdateStructure(h, &m), 0u);
  for (uint32_t c : {0u, 2u, 3u}) EXPECT_EQ(h->aModeInfo[c].flOutput & kOutOwnedBits, kOutDigital1) << c;
  EXPECT_EQ(h->aModeInfo[1].flOutput & kOutOwnedBits, kOutAnalog0);
}

TEST_F(ModeSet, ZoomAloneSkipsTheTimingOnAStandardBoard) {
  MODEINFO m = Xga(0, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetMode(h, &m), 0u);
  Board().ClearLog();
  m.ulZoom = 2;
  ASSERT_EQ(HSLKSTSetMode(h, &m), 0u);
  EXPECT_EQ((Reg(kRegDisplayMode) >> 11) & 0xF, 1u | (1u << 2)) << "codes 1 and 1";
  EXPECT_EQ(TimingWrites(0), 0u) << "no timing register";
  EXPECT_EQ(hw.WritesTo(kRegDisplayMode).size(), 1u);
  EXPECT_FALSE(hw.WritesTo(kRegPriority0).empty()) << "the levels still run";
  EXPECT_EQ(m.ulZoom, 0x20002u);
  EXPECT_EQ(h->aModeInfo[0].ulZoom, 0x20002u);
  // On a quad board the request copy, which keeps the new zoom, is compared:
  // never a zoom-only change.
  MakeQuad();
  m.ulZoom = 4;
  h->oWorkingMode = m;
  uint32_t zoomOnly = 9;
  ASSERT_EQ(HSLKSTDetectZoomFactorChange(h, &m, &zoomOnly), 0u);
  EXPECT_EQ(zoomOnly, 0u);
  h->oCem.ulPresent = 0;
  ASSERT_EQ(HSLKSTDetectZoomFactorChange(h, &m, &zoomOnly), 0u);
  EXPECT_EQ(zoomOnly, 1u);
  EXPECT_EQ(m.ulZoom, 4u) << "the record's zoom is given back";
}

TEST_F(ModeSet, ZoomCodesOfEachDirection) {
  MODEINFO m = Xga(1, kOutAnalog1);
  const struct {
    uint32_t zoom, h, v, stored;
  } rows[] = {{1, 0, 0, 0x10001}, {2, 1, 1, 0x20002}, {4, 2, 2, 0x40004}, {0x40002, 1, 2, 0x40002},
              {0x20001, 0, 1, 0x20001}};
  for (const auto& r : rows) {
    m.ulZoom = r.zoom;
    ASSERT_EQ(HSLKSTSetModeZoom(h, &m), 0u);
    const uint32_t v = Reg(kRegDisplayMode + kControllerStride);
    EXPECT_EQ((v >> 11) & 3, r.h) << std::hex << r.zoom;
    EXPECT_EQ((v >> 13) & 3, r.v) << std::hex << r.zoom;
    EXPECT_EQ(m.ulZoom, r.stored);
  }
}

TEST_F(ModeSet, AFailingStepLeavesTheRecordsAndReturnsItsCode) {
  MODEINFO first = Xga(0, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetMode(h, &first), 0u);
  const MODEINFO before[4] = {h->aModeInfo[0], h->aModeInfo[1], h->aModeInfo[2], h->aModeInfo[3]};
  // DVO 2 from controller 2: the DVO refuses the controller.
  MODEINFO m = Xga(2, kOutAnalog0 | kOutDigital1);
  EXPECT_EQ(HSLKSTSetMode(h, &m), kErrDvoController);
  for (uint32_t c = 0; c < 4; ++c)
    EXPECT_EQ(std::memcmp(&before[c], &h->aModeInfo[c], sizeof(MODEINFO)), 0) << c;
}

// ---- Modifications ---------------------------------------------------------------

TEST_F(ModeSet, DigitalOutputZeroGainsOutputOneForDualLinkAndItsFormats) {
  struct Row {
    uint32_t caps, format, khz;
    bool gains;
  } rows[] = {
      {0x20, 2, 165001, true},    {0x20, 2, 165000, false}, {0x0, 2, 200000, false},
      {0x200000, 3, 65000, true}, {0x20, 18, 65000, true},  {0x20, 3, 65000, false},
  };
  for (const Row& r : rows) {
    h->ulOutputCaps = r.caps;
    h->aulDigitalOutputFormat[0] = r.format;
    MODEINFO m = Xga(0, kOutDigital0);
    m.ulPixClock = r.khz;
    ASSERT_EQ(HSLKSTApplyModeInfoModifications(h, &m), 0u);
    EXPECT_EQ((m.flOutput & kOutDigital1) != 0, r.gains) << r.caps << " " << r.format << " " << r.khz;
    EXPECT_EQ(h->oWorkingMode.flOutput, m.flOutput) << "the request copy has it";
  }
}

TEST_F(ModeSet, DoubledAndTripledTiming) {
  MODEINFO m = Xga(0, kOutAnalog0);
  m.ulHBorder = 2;
  m.flSignalMode = kSignalDoubledTiming;
  ASSERT_EQ(HSLKSTApplyModeInfoModifications(h, &m), 0u);
  EXPECT_EQ(m.ulHFPorch, 48u);
  EXPECT_EQ(m.ulHSync, 272u);
  EXPECT_EQ(m.ulHBPorch, 320u);
  EXPECT_EQ(m.ulHBorder, 4u);
  EXPECT_EQ(m.ulPixClock, 130000u);
  EXPECT_EQ(m.ulDispWidth, 1024u) << "the width is not doubled";
  EXPECT_EQ(h->oWorkingMode.ulPixClock, 65000u) << "the request copy keeps the caller's";
  m = Xga(0, kOutAnalog0);
  m.flSignalMode = kSignalTripledClock;
  ASSERT_EQ(HSLKSTApplyModeInfoModifications(h, &m), 0u);
  EXPECT_EQ(m.ulPixClock, 195000u);
}

// ---- Clocks ------------------------------------------------------------------------

TEST_F(ModeSet, MonitorClocksFromAFreeSynthesizerOrTheGraphicsClock) {
  for (uint32_t khz : {499999u, 500000u}) {
    MODEINFO m = Xga(0, kOutAnalog0);
    m.ulPixClock = khz;
    uint32_t source = 99;
    ASSERT_EQ(HSLKSTGetMonitorClockSource(h, &m, &source), 0u);
    EXPECT_EQ(source, khz == 500000 ? kClockGraphics : kClockFreeFs) << khz;
  }
}

TEST_F(ModeSet, ALockedDvoRecyclesItsCode) {
  // DVO 2 runs from controller 0 at 65,000 kHz; a record on DVO 1 shares it.
  h->aModeInfo[0] = Xga(0, kOutDigital1);
  Set(kRegDvoPower, 1);          // DVO 1 off, DVO 2 on
  Set(kRegModuleClock0, (1u << 13) | (1u << 27));  // DVO 1 code 5, not held
  MODEINFO m = Xga(1, kOutDigital0);
  uint32_t locked = 0;
  ASSERT_EQ(HSLKSTIsDvoLocked(h, &m, &locked), 0u);
  ASSERT_EQ(locked, 1u) << "the board runs the first arrangement";
  uint32_t select = 0, recyclable = 0;
  ASSERT_EQ(HSLKSTCheckForClkRecycling(h, &m, &select, &recyclable), 0u);
  EXPECT_EQ(recyclable, 1u);
  EXPECT_EQ(select, 5u);
  uint32_t source = 0;
  HSLKSTGetMonitorClockSource(h, &m, &source);
  EXPECT_EQ(source, kClockRecycled);
}

TEST_F(ModeSet, QuadBoardsShareOneEncodersTvClock) {
  MakeQuad();
  h->ulTvClockSourceMask = 0x6;  // encoders 1 and 2
  h->aClockInfo[1] = CLOCKINFO{6, 8, 1};
  for (uint32_t tv : {kOutTv0, kOutTv2, kOutTv3}) {
    MODEINFO m = Xga(0, tv);
    uint32_t source = 0;
    ASSERT_EQ(HSLKSTGetTVClockSource(h, &m, &source), 0u);
    EXPECT_EQ(source, 6u) << tv;
  }
  // None in use: the record's own encoders, in their order, when they may
  // serve; else the first free candidate; else encoder 0.
  h->aClockInfo[1] = CLOCKINFO{};
  h->ulTvClockSourceMask = 0x8;
  MODEINFO m = Xga(0, kOutTv3);  // encoder 3
  uint32_t source = 0;
  HSLKSTGetTVClockSource(h, &m, &source);
  EXPECT_EQ(source, 8u);
  h->ulTvClockSourceMask = 0x2;
  HSLKSTGetTVClockSource(h, &m, &source);
  EXPECT_EQ(source, 6u) << "the first free candidate";
  h->ulTvClockSourceMask = 0;
  HSLKSTGetTVClockSource(h, &m, &source);
  EXPECT_EQ(source, 5u) << "encoder 0";
}

TEST_F(ModeSet, AParameterFreeResetProgramsOnlySourceFour) {
  MODEINFO m = Xga(0, kOutAnalog0);
  ASSERT_EQ(HSLKSTSetMode(h, &m), 0u);
  const uint32_t fs = ModuleClockSelect::Get(Reg(kRegModuleClock0)) - 1;
  clocks.ClearFsPrograms();
  CLOCKINFO info{kClockFreeFs, fs + 1, 0};
  ASSERT_EQ(HSLKSTEnableClock(h, &m, &info), 0u);
  EXPECT_TRUE(clocks.FsPrograms().empty()) << "the same timing: no FS written";
  info = CLOCKINFO{kClockFreeFsAt2, 3, 0};
  ASSERT_EQ(HSLKSTEnableClock(h, &m, &info), 0u);
  ASSERT_FALSE(clocks.FsPrograms().empty()) << "source 4 always programs";
  EXPECT_NEAR(clocks.FsKHz(2), 65000.0, 65000 * 0.005);
}

TEST_F(ModeSet, DetuningMovesModuleZeroDown) {
  h->oPins.aucData[4] = 0x0C;
  h->oPins.aucData[5] = 0x06;  // version 0x60C
  h->oPins.aucData[452] = 0x2;
  h->aModeInfo[1] = Xga(1, kOutDigital1);
  MODEINFO m = Xga(0, kOutDigital0);
  m.ulPixClock = 148500;
  CLOCKINFO info{kClockFreeFs, 1, 0};
  ASSERT_EQ(HSLKSTEnableClock(h, &m, &info), 0u);
  EXPECT_EQ(m.ulPixClock, 148400u);
  EXPECT_NEAR(clocks.FsKHz(0), 148400.0, 148400 * 0.003);
}

class LaterModeSet : public ModeSet {
 protected:
  LaterModeSet() : ModeSet(kDeviceKestrionNext3) {}
};

TEST_F(LaterModeSet, SourceFourUsesTheLaterSynthesizers) {
  MODEINFO m = Xga(3, kOutTv1);
  Board().ClearLog();
  CLOCKINFO info{kClockFreeFsAt2, 2, 0};
  ASSERT_EQ(HSLKSTEnableClock(h, &m, &info), 0u);
  EXPECT_FALSE(WrittenIn(0xE30, 0xE3C).empty());
  EXPECT_TRUE(hw.WritesTo(0xE10).empty());
}

// ---- Priority levels -----------------------------------------------------------------

TEST_F(ModeSet, LevelsFollowTheRatesRelativeToTheLargest) {
  struct Row {
    uint32_t rates[2], second[2];
    uint32_t levels[2], secondLevels[2];
  } rows[] = {
      {{100000, 50000}, {0, 0}, {7, 3}, {1, 1}},
      {{100000, 45000}, {0, 0}, {7, 3}, {1, 1}},
      // q 1,000, d 70: level 0 counts as 1 and the remainder 70 raises it.
      {{100000, 0}, {100000, 10000}, {7, 1}, {7, 2}},
  };
  for (const Row& r : rows) {
    uint32_t levels[2], second[2];
    ASSERT_EQ(HSLKSTGetPriorityLevels(h, r.rates, r.second, levels, second), 0u);
    EXPECT_EQ(levels[0], r.levels[0]);
    EXPECT_EQ(levels[1], r.levels[1]) << r.rates[1];
    EXPECT_EQ(second[0], r.secondLevels[0]);
    EXPECT_EQ(second[1], r.secondLevels[1]);
  }
}

TEST_F(ModeSet, ASmallSecondStreamSpanDropsItsLevel) {
  Set(kRegController2Ctl, 1);
  Set(kRegController2Ctl + kControllerStride, 1);
  for (uint32_t blocks : {62u, 63u}) {
    // (end >> 2) - (start >> 2) shifted right by 14 gives `blocks`.
    Set(0x19AC, 0);
    Set(0x19B0, blocks << 16);
    Set(0x1BAC, 0);
    Set(0x1BB0, 200u << 16);
    uint32_t second[2] = {5, 5};
    ASSERT_EQ(HSLKSTApplyEar63(h, second), 0u);
    EXPECT_EQ(second[0], blocks == 62 ? 1u : 5u) << blocks;
    EXPECT_EQ(second[1], 5u);
  }
}

TEST_F(ModeSet, BitRatesReadTheSurfaceFormats) {
  h->aModeInfo[0] = Xga(0, kOutAnalog0);
  h->aModeInfo[1] = Xga(1, kOutAnalog1);
  h->aModeInfo[1].ulPixClock = 25000;
  Set(kRegPitch, 16u << 24);                       // 8 bits
  Set(kRegPitch + kControllerStride, 38u << 24);   // 16 bits
  Set(kRegController2Ctl, 1);
  Set(kRegSecondPitch, 7u << 24);                  // 32 bits
  uint32_t rates[2], second[2];
  ASSERT_EQ(HSLKSTGetCurrentBitRates(h, rates, second), 0u);
  EXPECT_EQ(rates[0], 65000u * 8);
  EXPECT_EQ(rates[1], 25000u * 16);
  EXPECT_EQ(second[0], 65000u * 32);
  EXPECT_EQ(second[1], 0u);
  ASSERT_EQ(HSLKSTUpdatePriorityLevels(h), 0u);
  EXPECT_EQ(PriorityPrimary::Get(Reg(kRegPriority0)), 2u);   // q 400, d 175
  EXPECT_EQ(PrioritySecond::Get(Reg(kRegPriority0)), 7u);
  EXPECT_EQ(PriorityPrimary::Get(Reg(kRegPriority1)), 1u);   // q 520, d 134
  EXPECT_EQ(Reg(kRegControllerCtl) & (1u << 18), 0u);
}

// ---- Display clear ---------------------------------------------------------------------

TEST_F(ModeSet, ClearOfAnSxgaModeIsOneTile) {
  MODEINFO m = Mode(1280, 1024, 32, 108000, 48, 112, 248, 1, 3, 38);
  m.ulFBPitch = 1280;
  Board().ClearLog();
  ASSERT_EQ(HSLKSTClearDisplay(h, &m), 0u);
  EXPECT_EQ(hw.WritesTo(0x138C), (std::vector<uint32_t>{0x04000500}));
  EXPECT_EQ(hw.WritesTo(0x1224).front(), 1280u | 0x30000u | 0x30000000u);
  EXPECT_EQ(hw.WritesTo(0x1300).back(), 0x307u);
}

TEST_F(ModeSet, ClearZeroesExactlyTheVisibleAreaOfTwoTileColumns) {
  hw.AddParts(orvmachine::k2d);  // the DMA and 2D engines the clear draws with
  // 5120 x 1200 at 32 bits from byte 4 KB of local memory, over a pattern.
  MODEINFO m = Mode(5120, 1200, 32, 300000, 48, 32, 80, 3, 5, 20);
  m.ulFBPitch = 5120;
  m.ulDisplayOrg = 1024;  // pixels
  uint8_t* fb = Board().LocalMemory();
  const size_t start = 4096, bytes = size_t{5120} * 1200 * 4, around = 65536;
  ASSERT_GE(Board().LocalMemorySize(), start + bytes + around);
  for (size_t i = 0; i < start + bytes + around; ++i) fb[i] = static_cast<uint8_t>(0xA5 ^ i);
  Board().ClearLog();
  ASSERT_EQ(HSLKSTClearDisplay(h, &m), 0u);
  EXPECT_EQ(hw.WritesTo(0x138C), (std::vector<uint32_t>{0x04B01000, 0x04B00400}));
  size_t wrongInside = 0, wrongOutside = 0;
  for (size_t i = 0; i < start + bytes + around; ++i) {
    const bool inside = i >= start && i < start + bytes;
    if (inside && fb[i] != 0) ++wrongInside;
    if (!inside && fb[i] != static_cast<uint8_t>(0xA5 ^ i)) ++wrongOutside;
  }
  EXPECT_EQ(wrongInside, 0u);
  EXPECT_EQ(wrongOutside, 0u);
}

}  // namespace
