// The integrated DAC on a board with a 16 KiB register window.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dac.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/tests/chip_fixture.h"
#include "hwsharing/tests/recording_slots.h"
#include "platform/board/chip_dac.h"
#include "platform/board/i2c.h"

namespace {

using hwtest::ChipTest;

class Dac : public ChipTest {
 protected:
  Dac() : ChipTest(kDeviceKestrion2, orvsim::kDacMinimumWindow), dac(Board(), &Raster()) {
    h->oDac.ulRefKHz = 27000;
    h->oDac.ulPixelVcoMaxKHz = 220000;
    h->oDac.ulSystemVcoMaxKHz = 220000;
    dac.SetReferenceKHz(27000);
    dac.SetVcoMaxKHz(220000);
  }
  orvsim::ChipDac dac;
};

// The divider search as the DAC's PLL allows it, written apart: the largest
// post divider of 7, 3, 1, 0 that keeps the VCO within max(limit, F); then
// the first (M, N) whose output is within 0.5 % of F, or else the first of
// the closest.
struct Pick {
  bool found;
  uint32_t m, n, p;
};
Pick Oracle(uint32_t f, uint32_t ref, uint32_t vcoMax) {
  const uint64_t limit = std::max(vcoMax, f);
  uint32_t p = 0;
  for (uint32_t candidate : {7u, 3u, 1u})
    if (uint64_t{f} * (candidate + 1) <= limit) {
      p = candidate;
      break;
    }
  if (uint64_t{f} * (p + 1) <= 50000) return {false, 0, 0, 0};
  const uint64_t tolerance = uint64_t{f} * 5 / 1000;
  Pick closest{false, 0, 0, 0};
  uint64_t best = ~0ull;
  for (uint32_t m = 1; m <= 6; ++m)
    for (uint32_t n = 7; n <= 127; ++n) {
      const uint64_t out = uint64_t{n + 1} * ref / ((m + 1) * (p + 1));
      const uint64_t diff = out > f ? out - f : f - out;
      if (diff <= tolerance) return {true, m, n, p};
      if (diff < best) {
        best = diff;
        closest = {true, m, n, p};
      }
    }
  return closest;
}

TEST_F(Dac, DividerSearchEqualsTheBruteForceOracle) {
  uint32_t compared = 0;
  for (uint32_t vcoMax : {110000u, 220000u}) {
    h->oDac.ulPixelVcoMaxKHz = vcoMax;
    for (uint32_t f = 7000; f <= 240000; f += 1733) {
      const Pick want = Oracle(f, 27000, vcoMax);
      uint32_t m = 99, n = 99, p = 99, s = 99;
      ASSERT_EQ(HSLDACComputePLLParam(h, f, kDacPllPixel, &m, &n, &p, &s), 0u);
      if (!want.found) {
        EXPECT_EQ(m, 99u) << f << " kHz: nothing stored";
        continue;
      }
      ASSERT_EQ(m, want.m) << f << " kHz at " << vcoMax;
      ASSERT_EQ(n, want.n) << f << " kHz at " << vcoMax;
      ASSERT_EQ(p, want.p) << f << " kHz at " << vcoMax;
      ++compared;
    }
  }
  EXPECT_GT(compared, 200u);
  h->oDac.ulPixelVcoMaxKHz = 220000;
  uint32_t m = 0, n = 0, p = 0, s = 0;
  HSLDACComputePLLParam(h, 25175, kDacPllPixel, &m, &n, &p, &s);
  EXPECT_EQ(p, 7u);
  EXPECT_EQ(s, 3u) << "VCO 201,400 kHz";
  const uint32_t out = 27000 * (n + 1) / ((m + 1) * (p + 1));
  EXPECT_LE(out > 25175 ? out - 25175 : 25175 - out, 125u);
}

TEST_F(Dac, PixelClockIsProgrammedAndLocks) {
  MODEINFO mode = hwtest::Mode(640, 480, 8, 25175, 16, 96, 48, 10, 2, 33);
  EXPECT_EQ(HSLDACPIXPLLSET(h, &mode), 0u);
  EXPECT_TRUE(dac.Locked(orvsim::DacPll::kPixel));
  const uint32_t out = dac.OutputKHz(orvsim::DacPll::kPixel);
  EXPECT_LE(out > 25175 ? out - 25175 : 25175 - out, 125u);
  EXPECT_EQ(dac.Reg(0x4E) & 7, 7);
  EXPECT_EQ(dac.Reg(0x4E) >> 3, 3) << "VCO range code";
  EXPECT_EQ(dac.Reg(0x1A) & 0x07, 0x01) << "clock from the PLL, running";
  EXPECT_EQ(Vga().Misc() & 0x0C, 0x0C);
  EXPECT_EQ(Vga().Seq(1) & 0x08, 0);
}

TEST_F(Dac, TooLowAClockProgramsNothing) {
  MODEINFO mode{};
  mode.ulPixClock = 6000;  // 48,000 kHz VCO at most
  EXPECT_EQ(HSLDACPIXPLLSET(h, &mode), kErrDacPixelPll);
  EXPECT_EQ(dac.Reg(0x4C), 0);
  EXPECT_TRUE(Board().LoggedWrites().empty());
  h->status = 0;
  EXPECT_EQ(HSLDACSYSPLLSET(h, 6000), kErrDacSystemPll);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

// The lock bit is polled its full 10,000,000 times here (several seconds).
TEST_F(Dac, UnlockedPixelPllIsResetOnceAndThenReported) {
  Board().SetLogging(false, false);
  MODEINFO mode = hwtest::Mode(640, 480, 8, 25175, 16, 96, 48, 10, 2, 33);
  dac.SetLockMode(orvsim::DacPll::kPixel, orvsim::DacLockMode::kNever);
  EXPECT_EQ(HSLDACPIXPLLSET(h, &mode), kErrDacPixelPll);
  // The poll, then one more read after the PLL reset was pulsed.
  EXPECT_EQ(dac.UnlockedReads(orvsim::DacPll::kPixel), kDacLockReadsMax + 1);
  EXPECT_EQ(dac.Reg(0x1A) & 0x0C, 0x08) << "PLL running, pixel clock on";
}

TEST_F(Dac, InitLoadsTheRampOfTheDepth) {
  struct Row {
    uint32_t bpp;
    uint8_t format;
    uint8_t red, green, blue;  // entry 9
  } rows[] = {{15, 1, 72, 72, 72}, {16, 2, 72, 36, 72}, {24, 3, 9, 9, 9}, {32, 7, 9, 9, 9}};
  for (const Row& r : rows) {
    MODEINFO mode{};
    mode.ulBpp = r.bpp;
    mode.flSignalMode = 0x4;  // negative horizontal sync
    EXPECT_EQ(HSLDACInit(h, &mode), 0u);
    EXPECT_EQ(dac.Reg(0x19), r.format);
    EXPECT_EQ(dac.Palette(9), (std::array<uint8_t, 3>{r.red, r.green, r.blue})) << r.bpp;
    EXPECT_EQ(dac.Palette(40)[1], r.bpp == 16 ? 160 : r.bpp == 15 ? 64 : 40) << "low byte kept";
    EXPECT_EQ(Vga().Misc() & 0xC0, 0x80);
    EXPECT_EQ(dac.Reg(0x1E) & 0x09, 0x09);
  }
  MODEINFO bad{};
  bad.ulBpp = 12;
  EXPECT_EQ(HSLDACInit(h, &bad), kErrDacDepth);
}

TEST_F(Dac, LoadSenseSetsOrClearsTheMonitorBit) {
  static MODEINFO seen;
  h->oJumpTable.SetMode = [](BOARDHANDLE* b, MODEINFO* m) {
    seen = *m;
    return b->status;
  };
  uint32_t present = 9;
  dac.SetMonitorLoad(true);
  EXPECT_EQ(HSLDACSenceMonitorLoad(h, &present), 0u);
  EXPECT_EQ(present, 1u);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & 1, 1u);
  EXPECT_EQ(seen.ulPixClock, 25175u);
  EXPECT_EQ(seen.flOutput, 0x1200000u);
  EXPECT_EQ(dac.Reg(0x3A), 0) << "sensing off again";
  EXPECT_EQ(dac.Palette(200), (std::array<uint8_t, 3>{0x5C, 0x5C, 0x5C}));
  dac.SetMonitorLoad(false);
  EXPECT_EQ(HSLDACSenceMonitorLoad(h, &present), 0u);
  EXPECT_EQ(present, 0u);
  EXPECT_EQ(h->aMonitorInfo[0].flMonitor & 1, 0u);
}

TEST_F(Dac, LoadSenseGivesUpOnARetraceThatNeverEnds) {
  // A raster frozen in its sync lines; the sensing mode is not programmed
  // (its set would log accesses of its own).
  h->oJumpTable.SetMode = hwtest::RecordSetMode;
  sim().GetClock().SetReadCost(0);
  sim().GetClock().Advance((490 + 525 - Raster().Line(0)) % 525 * 31778);
  ASSERT_TRUE(Raster().InVerticalSync(0));
  Raster().Freeze(0, true);
  sim().GetClock().SetReadCost(orvsim::Clock::kDefaultReadCostNs);
  Board().SetLogging(true, false);
  uint32_t present = 9;
  EXPECT_EQ(HSLDACSenceMonitorLoad(h, &present), 0u);
  EXPECT_EQ(present, 0u);
  size_t statusReads = 0;
  for (const orvsim::RegAccessRecord& r : Board().Log()) statusReads += r.offset == 0x1E14;
  EXPECT_EQ(statusReads + Board().LogDropped(), kDacSenseRetraceReadsMax);
}

TEST_F(Dac, ZoomField) {
  struct Row {
    uint32_t factor;
    bool doubled;
    uint8_t field;
    HALSTATUS status;
  } rows[] = {{1, false, 0, 0}, {2, false, 1, 0}, {4, false, 3, 0}, {1, true, 1, 0},
              {2, true, 4, 0},  {4, true, 10, 0}, {3, false, 0, kErrDacZoom}};
  for (const Row& r : rows) {
    h->status = 0;
    h->aModeInfo[0] = r.doubled ? hwtest::Mode(640, 240, 8, 25175, 16, 96, 48, 10, 2, 33)
                                : hwtest::Mode(640, 480, 8, 25175, 16, 96, 48, 10, 2, 33);
    Vga().SetCrtc(0x09, 0xE0 | 0x1F);
    EXPECT_EQ(HSLDACSetZoom(h, r.factor), r.status) << r.factor;
    EXPECT_EQ(Vga().Crtc(0x09), 0xE0 | r.field) << r.factor << (r.doubled ? " doubled" : "");
  }
}

// The release of a DDC clock line waits for the line through the I2C line
// slot of the jump table.
uint32_t g_sclReads = 0;
uint32_t g_sclHighFrom = 0;
HALSTATUS CountingGetScl(BOARDHANDLE* h, uint32_t, uint8_t* level) {
  ++g_sclReads;
  *level = g_sclReads >= g_sclHighFrom ? 1 : 0;
  return h->status;
}

TEST_F(Dac, ClockReleaseStopsAfter200TriesWithoutAnError) {
  h->oJumpTable.I2CGetSCL = CountingGetScl;
  g_sclReads = 0;
  g_sclHighFrom = ~0u;
  EXPECT_EQ(HSLDACI2CSetSCL(h, 1, 0), 0u);
  EXPECT_FALSE(Board().I2c(orvsim::ChipDac::DdcBus(1)).SclLevel());
  EXPECT_EQ(HSLDACI2CSetSCL(h, 1, 1), 0u);
  EXPECT_EQ(g_sclReads, kDacSclReleaseTries);
  EXPECT_TRUE(Board().I2c(orvsim::ChipDac::DdcBus(1)).SclLevel());
  g_sclReads = 0;
  g_sclHighFrom = 3;
  HSLDACI2CSetSCL(h, 1, 1);
  EXPECT_EQ(g_sclReads, 3u);
  g_sclReads = 0;
  HSLDACI2CSetSDA(h, 1, 1);
  EXPECT_EQ(g_sclReads, 0u) << "data lines are not waited for";
}

TEST_F(Dac, DdcLinesOfThePorts) {
  struct Row {
    uint32_t port;
    unsigned bus;
  } rows[] = {{0, orvsim::ChipDac::DdcBus(0)}, {1, orvsim::ChipDac::DdcBus(1)}, {5, orvsim::ChipDac::DdcBus(5)}};
  for (const Row& r : rows) {
    orvsim::I2cBus& bus = Board().I2c(r.bus);
    HSLDACI2CSetSDA(h, r.port, 0);
    EXPECT_FALSE(bus.SdaLevel()) << r.port;
    uint8_t level = 9;
    HSLDACI2CGetSDA(h, r.port, &level);
    EXPECT_EQ(level, 1) << "reading releases the line first";
    bus.Scl().SetStuckLow(true);
    HSLDACI2CGetSCL(h, r.port, &level);
    EXPECT_EQ(level, 0) << r.port;
    bus.Scl().SetStuckLow(false);
  }
  uint8_t level = 0;
  const struct {
    HALSTATUS code;
    HALSTATUS (*call)(BOARDHANDLE*);
  } bad[] = {
      {kErrDacSetScl, [](BOARDHANDLE* b) { return HSLDACI2CSetSCL(b, 9, 1); }},
      {kErrDacGetScl, [](BOARDHANDLE* b) { uint8_t l; return HSLDACI2CGetSCL(b, 9, &l); }},
      {kErrDacSetSda, [](BOARDHANDLE* b) { return HSLDACI2CSetSDA(b, 8, 1); }},
      {kErrDacGetSda, [](BOARDHANDLE* b) { uint8_t l; return HSLDACI2CGetSDA(b, 8, &l); }},
  };
  for (const auto& b : bad) {
    h->status = 0;
    EXPECT_EQ(b.call(h), b.code);
  }
  h->status = 0;
  // Port 0's second pair: SCL on bit 2, SDA on bit 0 (port 5's lines here).
  Board().I2c(orvsim::ChipDac::DdcBus(5)).Scl().SetStuckLow(true);
  HSLDACI2CAltGetSCL(h, 0, &level);
  EXPECT_EQ(level, 0);
  Board().I2c(orvsim::ChipDac::DdcBus(5)).Scl().SetStuckLow(false);
  HSLDACI2CAltGetSCL(h, 0, &level);
  EXPECT_EQ(level, 1);
}

TEST_F(Dac, ScreenOutputAndSystemPll) {
  uint32_t on = 9;
  HSLDACScreenOff(h);
  HSLDACScreenState(h, &on);
  EXPECT_EQ(on, 0u);
  HSLDACScreenOn(h);
  HSLDACScreenState(h, &on);
  EXPECT_EQ(on, 1u);
  HSLDACEnableOutput(h);
  EXPECT_EQ(dac.Reg(0x1E) & 1, 1);
  HSLDACDisableOutput(h);
  EXPECT_EQ(dac.Reg(0x1E) & 1, 0);
  EXPECT_EQ(HSLDACSYSPLLSET(h, 100000), 0u);
  EXPECT_TRUE(dac.Locked(orvsim::DacPll::kSystem));
  uint32_t hz = 0;
  HSLDACGetMaxI2CClock(h, &hz);
  EXPECT_EQ(hz, 100000u);
}

}  // namespace
