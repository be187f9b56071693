// Chip bring-up, the VGA / high-resolution switch and the waits on a
// controller's raster.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "core/regs/bus.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using hwtest::ChipTest;
using Write = std::pair<uint32_t, uint32_t>;

class Bringup : public ChipTest {
 protected:
  // Logged writes of the given registers, in order.
  std::vector<Write> WritesOf(std::initializer_list<uint32_t> regs) {
    std::vector<Write> out;
    for (const orvsim::RegAccessRecord& r : Board().LoggedWrites())
      for (uint32_t reg : regs)
        if (r.offset == reg) out.push_back({r.offset, r.value});
    return out;
  }
  void Set(uint32_t reg, uint32_t v) { Board().Poke(reg, 4, v); }
};

// The controller and off bit of every mode set, in order.
std::vector<std::pair<uint32_t, bool>> g_sets;
HALSTATUS RecordSetMode(BOARDHANDLE* h, MODEINFO* mode) {
  g_sets.push_back({SelectDC(mode), (mode->flOutput & kOutControllerOff) != 0});
  return h->status;
}

TEST_F(Bringup, SwitchesInTheRegimeTheyAskForWriteNothing) {
  Set(kRegRegime, kRegimeVga);
  EXPECT_EQ(HSLKSTSwitchToVGA(h), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
  Set(kRegRegime, kRegimeHires);
  EXPECT_EQ(HSLKSTSwitchToHIRES(h), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

TEST_F(Bringup, SwitchToVgaWritesItsStepsInOrder) {
  Set(kRegRegime, kRegimeHires);
  Set(kRegModuleClock0, 0x809020);
  Set(kRegClockSelect0, 1u << 1);  // FS 0 feeds the first clock: FS 1 is the first free one
  for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c] & ~kOutControllerOff;
  h->aModeInfo[1].flOutput |= kOutControllerOff;  // already off: left alone
  h->oJumpTable.SetMode = RecordSetMode;
  g_sets.clear();
  Vga().ClearWrites();

  EXPECT_EQ(HSLKSTSwitchToVGA(h), 0u);
  EXPECT_EQ(g_sets, (std::vector<std::pair<uint32_t, bool>>{{0, true}, {2, true}, {3, true}}));
  const uint32_t selectFs1 = 0x809020 | (2u << 6);
  EXPECT_EQ(WritesOf({kRegCursorCtl, kRegModuleClock0, 0x1FC2, kRegRegime, kRegPriority0, kRegDacCtl1}),
            (std::vector<Write>{{kRegCursorCtl, 0},
                                {kRegModuleClock0, selectFs1},
                                {kRegModuleClock0, selectFs1},
                                {0x1FC2, 0x67},
                                {kRegRegime, kRegimeVga},
                                {kRegPriority0, 0x303},
                                {kRegModuleClock0, selectFs1 & ~kModuleClockHold},
                                {0x1FC2, 0x67},  // the default block's own value
                                {kRegDacCtl1, 0}}));
  // After the default block: unlock, then the five CRTC registers, then the
  // screen goes off.
  const std::vector<orvsim::VgaWrite>& w = Vga().Writes();
  ASSERT_GE(w.size(), 7u);
  const std::vector<orvsim::VgaWrite> tail(w.end() - 7, w.end());
  using B = orvsim::VgaBlock;
  EXPECT_EQ(tail, (std::vector<orvsim::VgaWrite>{{B::kCrtc, 0x11, 0x0E, false},
                                                 {B::kCrtc, 0x01, 0, false},
                                                 {B::kCrtc, 0x00, 0, false},
                                                 {B::kCrtc, 0x12, 0, false},
                                                 {B::kCrtc, 0x07, 0, false},
                                                 {B::kCrtc, 0x06, 0, false},
                                                 {B::kSequencer, 1, 0x20, false}}));
  EXPECT_EQ(Vga().Crtc(0x09), 0x4F) << "the rest of the default block is in place";
}

TEST_F(Bringup, SwitchToHiresBlanksTheDacsAndStartsTheControllers) {
  // Cold: VGA regime, priority levels set; two DVI transmitters.
  Set(kRegPriority0, 0x0707);
  h->aSiI164[0] = I2CDEVICE{1, 1, 0x70, kSiKind164};
  h->aSiI164[1] = I2CDEVICE{1, 1, 0x72, kSiKind164};
  orvsim::TransmitterChip& si0 = OnPort1<orvsim::TransmitterChip>(0x70);
  orvsim::TransmitterChip& si1 = OnPort1<orvsim::TransmitterChip>(0x72);
  EXPECT_EQ(HSLKSTSwitchToHIRES(h), 0u);
  EXPECT_EQ(hw.Reg(kRegOutputArrangement), 0x40u) << "device 0x0A42";
  EXPECT_EQ(hw.Reg(kRegDacCtl1), 0x8000u);
  EXPECT_EQ(hw.Reg(kRegDacCtl2), 0x10000u);
  EXPECT_EQ(hw.Reg(kRegPriority0), 0u) << "levels 0 for both streams of controller 0";
  EXPECT_EQ(WritesOf({kRegRegime}), (std::vector<Write>{{kRegRegime, 0}, {kRegRegime, kRegimeHires}}));
  EXPECT_EQ(hw.Reg(kRegModuleClock0), 0x809020u);
  EXPECT_EQ(hw.Reg(kRegModuleClock1), 0x20u);
  EXPECT_EQ(hw.Reg(kRegDvoPower), 7u);
  // Digital outputs 0-3 on a standard board: transmitters of paths 0, 1, 0, 1,
  // each powered down (register 8 = 0x38).
  const hwtest::RegWrites down = {{8, 0x38}, {8, 0x38}};
  EXPECT_EQ(hwtest::WritesOf(si0), down);
  EXPECT_EQ(hwtest::WritesOf(si1), down);
}

struct ColdCase {
  const char* name;
  uint32_t select;
  unsigned resets;
};

void PrintTo(const ColdCase& c, std::ostream* out) { *out << c.name; }

class ColdStart : public Bringup, public testing::WithParamInterface<ColdCase> {};

TEST_P(ColdStart, ResetsAColdChipAndLeavesFourControllersOff) {
  const ColdCase& c = GetParam();
  Set(kRegClockSelect0, c.select);
  Set(kRegPll6, 0x1234);
  for (uint32_t reg = 0x10; reg <= 0x130; reg += 0x10) Set(reg, 0xF0000000 | reg);
  h->ulBoardFlags &= ~kBoardFlagHwInitialised;
  EXPECT_EQ(HSLKSTInitializeHardware(h), 0u);
  EXPECT_EQ(display.Reset().Pulses(), c.resets) << c.name;
  EXPECT_TRUE(h->ulBoardFlags & kBoardFlagHwInitialised);
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(h->aModeInfo[k].flOutput, kControllerOffWord[k]) << k;
  EXPECT_EQ(Raster().VideoResets(), 1u) << "both modules restarted once";
  // The four controllers are off and both module clocks stopped.
  for (uint32_t reg : {0x1800u, 0x1A00u, 0x19A8u, 0x1BA8u}) EXPECT_EQ(hw.Reg(reg) & 1, 0u) << std::hex << reg;
  EXPECT_TRUE(hw.Reg(kRegModuleClock0) & kModuleClockHold);
  EXPECT_TRUE(hw.Reg(kRegModuleClock1) & kModuleClockHold);
  // The handle's system-clock record was read back from the chip.
  SYSCLOCKINFO now{};
  HSLKSTGetSystemCLock(h, &now);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(h->oSystemClock.aulWord[i], now.aulWord[i]) << i;
  EXPECT_EQ(hw.Reg(kRegRegime), kRegimeHires);
  EXPECT_EQ(hw.Reg(0x1C50), 0x606u) << "a description before 0x608";
  EXPECT_EQ(hw.Reg(0x10B0), 0x40u);
  EXPECT_EQ(hw.Reg(0x12B8), 0x70601u);
  // Top nibbles cleared (a reset had cleared all of them already).
  for (uint32_t reg = 0x10; reg <= 0x130; reg += 0x10)
    ASSERT_EQ(hw.Reg(reg), c.resets ? 0 : reg) << std::hex << reg;
  EXPECT_EQ(hw.Reg(kRegPll6), 0x1234u) << "kept across the reset";
  EXPECT_EQ(hw.Reg(0x0), 0x10000000u);
  EXPECT_EQ(hw.Reg(0x8), 0x10000020u);
  EXPECT_EQ(hw.Reg(0xC), 0x10001u);
  // Every controller got its colour table, loaded from the identity ramps.
  EXPECT_EQ(Lut().At(3, 200), (orvsim::LutEntry{200 * 257 & 0xFF00, 200 * 257 & 0xFF00, 200 * 257 & 0xFF00}));
  EXPECT_EQ(Lut().At(0, 255).green, 0xFFC0u);
}

INSTANTIATE_TEST_SUITE_P(Selects, ColdStart,
                         testing::Values(ColdCase{"Cold", 0, 1}, ColdCase{"OscillatorOff", 0x40000000, 1},
                                         ColdCase{"Running", 0x2, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Bringup, PostWordComesFromALaterDescription) {
  Set(kRegClockSelect0, 0x2);
  h->oPins.aucData[4] = 0x08;
  h->oPins.aucData[5] = 0x06;
  hwtest::PutPinsDword(h, 412, 0xCAFE);
  HSLKSTInitializeHardware(h);
  EXPECT_EQ(hw.Reg(0x1C50), 0xCAFEu);
}

// On the standard 8,192-byte window every access of opening, bring-up and
// both switches stays inside it (the board ends the test otherwise).
TEST(BringupWindow, DefaultBoardStaysInsideItsWindow) {
  hwtest::HwBoard hw(hwtest::Config(kDeviceKestrionNext1), orvmachine::kControllers);
  ASSERT_EQ(hw.Open(), 0u);
  BOARDHANDLE* h = hw.h();
  EXPECT_EQ(HSLKSTInitializeHardware(h), 0u);
  hw.board().Poke(kRegRegime, 4, kRegimeHires);
  EXPECT_EQ(HSLKSTSwitchToVGA(h), 0u);
  EXPECT_EQ(HSLKSTSwitchToHIRES(h), 0u);
  for (const orvsim::RegAccessRecord& r : hw.board().Log()) ASSERT_LT(r.offset + r.width, 0x2000u);
}

// ---- Waits on the raster ---------------------------------------------------------------

class Waits : public Bringup {
 protected:
  Waits() {
    Set(kRegModuleClock0, 0);  // controller 0's clock runs
    Board().SetLogging(true, true);
  }
  std::vector<uint32_t> LinesRead() {
    std::vector<uint32_t> lines;
    for (const orvsim::RegAccessRecord& r : Board().Log())
      if (r.op == orvsim::RegOp::kRead && r.offset == kRegLineCounter) lines.push_back(r.value & 0xFFF);
    return lines;
  }
};

TEST_F(Waits, AFrozenCounterEndsEachPollAfter1000Reads) {
  sim().GetClock().Advance(31778 * 100);
  Raster().Freeze(0, true);
  EXPECT_EQ(HSLKSTWaitForVertical(h, 0, kVerticalTotal, 0), kWarnLineNotShown);
  EXPECT_EQ(h->status, kHalOk) << "the warning is the caller's, not the handle's";
  const std::vector<uint32_t> lines = LinesRead();
  EXPECT_EQ(lines.size(), 2000u) << "1,000 for line R - 2, 1,000 for R";
  for (uint32_t l : lines) ASSERT_EQ(l, lines.front());
}

// A counter that moves but shows the awaited line only on a given read: a
// wait sees it on its kLineReadsMax-th read; one read later the wait has
// given up, and the caller is told with the warning. The counter shows
// line R - 2 on read pAt, then R on the tAfter-th read after that.
TEST_F(Waits, ALineShownOneReadPastTheBoundIsReportedAsNotShown) {
  const uint32_t r = Board().Peek(kRegVTotal, 4) & 0xFFF;
  ASSERT_GT(r, 4u);
  constexpr uint32_t n = kLineReadsMax;
  const struct {
    const char* name;
    uint32_t pAt, tAfter;
    HALSTATUS result;
  } rows[] = {
      {"line R - 2 on the first wait's last read", n, 1, kHalOk},
      {"line R - 2 one read past the first wait", n + 1, 1, kWarnLineNotShown},
      {"line R on the second wait's last read", 1, n, kHalOk},
      {"line R one read past the second wait", 1, n + 1, kWarnLineNotShown},
  };
  // The script takes the raster's place as controller 0's line counter.
  Board().ClearHooks(kRegLineCounter);
  for (const auto& row : rows) {
    uint32_t reads = 0;
    Board().SetReadHook(kRegLineCounter, 4, [&](orvsim::Board&, orvsim::RegAccess, uint32_t) -> uint32_t {
      ++reads;
      if (reads == row.pAt) return r - 2;
      if (reads == row.pAt + row.tAfter) return r;
      return 1 + (reads & 1);  // moving, never an awaited line
    });
    EXPECT_EQ(HSLKSTWaitForVertical(h, 0, kVerticalTotal, 0), row.result) << row.name;
    EXPECT_EQ(h->status, kHalOk) << row.name;
    Board().ClearHooks(kRegLineCounter);
  }
}

TEST_F(Waits, TargetPastTheTotalReadsNoLine) {
  HSLKSTWaitForVertical(h, 0, kVerticalTotal, 1);
  EXPECT_TRUE(LinesRead().empty());
  HSLKSTWaitForVertical(h, 2, kVerticalTotal, 0);  // no such controller to wait for
  Set(kRegModuleClock1, kModuleClockHold);
  HSLKSTWaitForVertical(h, 1, kVerticalTotal, 0);  // a stopped clock
  EXPECT_TRUE(LinesRead().empty());
}

TEST_F(Waits, LineZeroIsReachedThroughTheLastLine) {
  HSLKSTWaitForVertical(h, 0, kVerticalLineZero, 0);
  const std::vector<uint32_t> lines = LinesRead();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), 0u);
  size_t firstR = 0;
  while (firstR < lines.size() && lines[firstR] != 524) ++firstR;
  ASSERT_LT(firstR, lines.size()) << "the counter passed line R first";
  for (size_t i = 0; i < firstR; ++i) EXPECT_NE(lines[i], 0u);
}

TEST_F(Waits, BlankAndSyncReferences) {
  HSLKSTWaitForVertical(h, 0, kVerticalBlankStart, 5);  // blank starts at line 480
  EXPECT_EQ(LinesRead().back(), 485u);
  Board().ClearLog();
  HSLKSTWaitForVertical(h, 0, kVerticalSyncStart, 3);  // 0x1930 low half is 489
  EXPECT_EQ(LinesRead().back(), 492u);
}

// ---- Pitch -------------------------------------------------------------------------------

TEST_F(Bringup, PitchIsTheWiderWidthOnA32PixelGrid) {
  struct Row {
    uint32_t width, desk, pitch;
    HALSTATUS status;
    uint32_t result;
  } rows[] = {
      {1000, 1030, 0, 0, 1056},
      {1030, 1000, 0, 0, 1056},
      {1024, 768, 0, 0, 1024},
      {1000, 1000, 1024, 0, 1024},
      {1000, 1000, 1000, kErrPitchNotAligned, 1000},
  };
  for (const Row& r : rows) {
    h->status = 0;
    MODEINFO m{};
    m.ulDispWidth = r.width;
    m.ulDeskWidth = r.desk;
    m.ulFBPitch = r.pitch;
    EXPECT_EQ(HSLKSTComputePitch(h, &m), r.status) << r.width << " " << r.desk << " " << r.pitch;
    EXPECT_EQ(m.ulFBPitch, r.result);
  }
}

}  // namespace
