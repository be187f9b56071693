// The VGA-compatible CRTC of controller 0, read back by a decoder of the
// public VGA register layout plus the chip's extension bits.
#include <gtest/gtest.h>

#include <cstdint>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/crtc.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

using hwtest::ChipTest;
using hwtest::Mode;

// What the CRTC registers say, decoded the way a VGA reads them.
struct Timing {
  uint32_t htotal, hactive, hblankStart, hsyncStart;  // pixels
  uint32_t vtotal, vactive, vblankStart, vsyncStart;  // lines
  bool doubled, interlaced;
  uint32_t modeControl, bytesPerPixel, halfCount;
};

Timing Decode(const orvsim::ChipVga& v) {
  auto bit = [](uint32_t x, int n) { return (x >> n) & 1u; };
  const uint32_t ov = v.Crtc(0x07), e1 = v.Ext(1), e2 = v.Ext(2);
  Timing t{};
  t.htotal = ((v.Crtc(0x00) | bit(e1, 0) << 8) + 5) * 8;
  t.hactive = (v.Crtc(0x01) + 1) * 8;
  t.hblankStart = (v.Crtc(0x02) | bit(e1, 1) << 8) * 8;
  t.hsyncStart = (v.Crtc(0x04) | bit(e1, 2) << 8) * 8;
  t.vtotal = (v.Crtc(0x06) | bit(ov, 0) << 8 | bit(ov, 5) << 9 | (e2 & 3) << 10) + 2;
  t.vactive = (v.Crtc(0x12) | bit(ov, 1) << 8 | bit(ov, 6) << 9 | bit(e2, 2) << 10) + 1;
  t.vblankStart = v.Crtc(0x15) | bit(ov, 3) << 8 | bit(v.Crtc(0x09), 5) << 9 | ((e2 >> 3) & 3) << 10;
  t.vsyncStart = v.Crtc(0x10) | bit(ov, 2) << 8 | bit(ov, 7) << 9 | ((e2 >> 5) & 3) << 10;
  t.doubled = bit(v.Crtc(0x09), 0) != 0;
  t.interlaced = bit(v.Ext(0), 7) != 0;
  t.modeControl = v.Crtc(0x17);
  t.bytesPerPixel = (v.Ext(3) & 7) + 1;
  t.halfCount = v.Ext(5);
  return t;
}

class Crtc : public ChipTest {
 protected:
  void Program(MODEINFO m) { ASSERT_EQ(HSLCRTCSet(h, &m), 0u); last = m; }
  MODEINFO last{};
};

TEST_F(Crtc, ModeTableReadsBackAsItsTimings) {
  struct Row {
    const char* name;
    MODEINFO mode;
    uint32_t lines;  // programmed display lines
    uint32_t modeControl;
  } rows[] = {
      {"1024x768 at 32 bpp", Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29), 768, 0xC3},
      {"800x600 at 16 bpp", Mode(800, 600, 16, 40000, 40, 128, 88, 1, 4, 23), 600, 0xC3},
      {"2047 lines", Mode(1536, 2047, 32, 300000, 64, 160, 224, 3, 5, 60, 75), 2047, 0xC3},
      {"2048 lines halved", Mode(1536, 2048, 32, 300000, 64, 160, 224, 4, 6, 62, 75), 1024, 0xC7},
  };
  for (const Row& r : rows) {
    Program(r.mode);
    const Timing t = Decode(Vga());
    const MODEINFO& m = r.mode;
    EXPECT_EQ(t.hactive, m.ulDispWidth) << r.name;
    EXPECT_EQ(t.htotal, m.ulDispWidth + m.ulHFPorch + m.ulHSync + m.ulHBPorch) << r.name;
    EXPECT_EQ(t.hsyncStart, m.ulDispWidth + m.ulHFPorch - 8) << r.name;
    EXPECT_EQ(t.vactive, r.lines) << r.name;
    const bool halved = r.modeControl == 0xC7;
    const uint32_t vporches = halved ? m.ulVFPorch / 2 + m.ulVSync / 2 + m.ulVBPorch / 2
                                     : m.ulVFPorch + m.ulVSync + m.ulVBPorch;
    EXPECT_EQ(t.vtotal, r.lines + vporches) << r.name;
    EXPECT_EQ(t.vsyncStart, r.lines - 1 + (halved ? m.ulVFPorch / 2 : m.ulVFPorch)) << r.name;
    EXPECT_EQ(t.modeControl, r.modeControl) << r.name;
    EXPECT_EQ(t.bytesPerPixel, m.ulBpp / 8) << r.name;
    EXPECT_FALSE(t.interlaced) << r.name;
    EXPECT_EQ(Vga().Ext(3) & 0x80, 0x80) << r.name;
  }
}

TEST_F(Crtc, InterlacedModeHalvesItsLinesAndCountsHalfLines) {
  MODEINFO m = Mode(1920, 1080, 32, 74250, 88, 44, 148, 2, 5, 15);
  m.flSignalMode = 1;
  m.ulZoom = 0;  // an empty zoom counts as 1
  Program(m);
  const Timing t = Decode(Vga());
  EXPECT_TRUE(t.interlaced);
  EXPECT_EQ(t.vactive, 540u);
  EXPECT_FALSE(t.doubled);
  EXPECT_EQ(last.flSignalMode & 0x100, 0u) << "an interlaced mode is never doubled";
  EXPECT_EQ(t.halfCount, ((88 + 1920 + 148) / 8 * 10 + 5) / 20 & 0xFF);
  m.ulZoom = 0x20002;  // the low half is the horizontal factor
  Program(m);
  EXPECT_EQ(Decode(Vga()).halfCount, ((88 + 1920 + 148) / 8 * 10 + 5) / 40 & 0xFF);
}

TEST_F(Crtc, LowModeIsLineDoubledWhenOnlyThatMatchesItsRefresh) {
  Program(Mode(640, 240, 8, 25175, 16, 96, 48, 10, 2, 33));
  const Timing t = Decode(Vga());
  EXPECT_TRUE(last.flSignalMode & 0x100);
  EXPECT_TRUE(t.doubled);
  EXPECT_EQ(Vga().Crtc(0x09) & 0x1F, 1);
  EXPECT_EQ(t.vactive, 480u);
  // The same lines at twice the rate match without doubling.
  Program(Mode(640, 480, 8, 25175, 16, 96, 48, 10, 2, 33));
  EXPECT_FALSE(last.flSignalMode & 0x100);
  EXPECT_FALSE(Decode(Vga()).doubled);
}

TEST_F(Crtc, WideModeAt24BitsGetsDisplayEnd107) {
  Program(Mode(856, 480, 24, 33750, 16, 80, 96, 3, 6, 16));
  EXPECT_EQ(Vga().Crtc(0x01), 107);
  Program(Mode(856, 480, 32, 33750, 16, 80, 96, 3, 6, 16));
  EXPECT_EQ(Vga().Crtc(0x01), 106);
}

TEST_F(Crtc, SyncEndKeepsTheUpperBitsItFinds) {
  Vga().SetCrtc(0x11, 0xF0);
  Program(Mode(640, 480, 8, 25175, 16, 96, 48, 10, 2, 33));
  // vss = 479 + 10 = 489, vse = 491: low nibble 0xB; bit 7 cleared by the unlock.
  EXPECT_EQ(Vga().Crtc(0x11), 0x7B);
}

TEST_F(Crtc, StartAndPitchKeepEachOthersExtensionBits) {
  MODEINFO& m0 = h->aModeInfo[0];
  m0 = Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29);
  m0.ulFBPitch = 4096;  // offset 4096 x 32 / 128 = 1024: bits 8-9 = 0
  m0.ulFBPitch = 8064;  // offset 2016 = 0x7E0: bits 8-9 = 3
  EXPECT_EQ(HSLCRTCSetPitch(h, &m0), 0u);
  EXPECT_EQ(Vga().Crtc(0x13), 0xE0);
  EXPECT_EQ(Vga().Ext(0) & 0x30, 0x30);
  // Start at pixel (0, 300): 300 x 8064 / 2 = 1,209,600 = 0x127500 (8-byte
  // units): bits 16-19 are 2 and bit 20 goes to bit 6; the pitch bits stay.
  EXPECT_EQ(HSLCRTCSetDisplayStart(h, 0, 300), 0u);
  EXPECT_EQ(Vga().Crtc(0x0D), 0x00);
  EXPECT_EQ(Vga().Crtc(0x0C), 0x75);
  EXPECT_EQ(Vga().Ext(0), 0x30 | 0x40 | 0x2);
  EXPECT_EQ(m0.ulDisplayStartY, 300u);
  EXPECT_EQ(HSLCRTCSetDisplayStart(h, 0, 600), 0u);  // 0x24EA00: bit 20 clear
  EXPECT_EQ(Vga().Ext(0), 0x30 | 0x4);
  m0.ulFBPitch = 1024;  // offset 256 = 0x100: bits 8-9 = 1
  EXPECT_EQ(HSLCRTCSetPitch(h, &m0), 0u);
  EXPECT_EQ(Vga().Ext(0), 0x10 | 0x4);
}

TEST_F(Crtc, StartAddressUnitsFollowTheDepth) {
  struct Row {
    uint32_t bpp, x, y;
    uint32_t address;
  } rows[] = {{8, 64, 1, 1024 / 8 + 8}, {16, 64, 1, (1024 + 64) / 4},
              {24, 64, 1, (1024 + 64) * 3 / 8}, {32, 64, 1, (1024 + 64) / 2}};
  for (const Row& r : rows) {
    h->aModeInfo[0].ulBpp = r.bpp;
    h->aModeInfo[0].ulFBPitch = 1024;
    h->aModeInfo[0].ulDisplayOrg = 0;
    HSLCRTCSetDisplayStart(h, r.x, r.y);
    const uint32_t a = Vga().Crtc(0x0D) | Vga().Crtc(0x0C) << 8 | (Vga().Ext(0) & 0xF) << 16;
    EXPECT_EQ(a, r.address) << r.bpp;
  }
}

TEST_F(Crtc, ZoomTwoAtTheGranuleEdgeWidensTheBackPorch) {
  // 32 bpp: 702 pixels are 351 units, 31 into a granule of 32.
  MODEINFO m = Mode(640, 480, 32, 25000, 14, 16, 32, 10, 2, 33);
  m.ulZoom = 2;
  EXPECT_EQ(HSLCRTCAdjustVideoParameters(h, &m), 0u);
  EXPECT_EQ(m.ulHBPorch, 40u);
  EXPECT_EQ(m.ulPixClock, 25000u + 25000u * 8 / 702);
  MODEINFO same = Mode(640, 480, 32, 25000, 14, 16, 32, 10, 2, 33);
  same.ulZoom = 4;  // granule 64: 351 is 31 into it
  HSLCRTCAdjustVideoParameters(h, &same);
  EXPECT_EQ(same.ulHBPorch, 32u);
  same.ulZoom = 3;  // no granule for a zoom of 3: nothing changes, nothing divides by 0
  HSLCRTCAdjustVideoParameters(h, &same);
  EXPECT_EQ(same.ulPixClock, 25000u);
}

TEST_F(Crtc, PriorityRequestWeighsMemoryAndPixelClocks) {
  h->aModeInfo[0].ulPixClock = 65000;
  Vga().SetExt(3, 0x83);  // 4 bytes per pixel
  // 100 MHz times 2 over 1: a 200,000 kHz memory clock.
  h->oSystemClock.aulWord[0] = (0x21u << 16) | 100;
  EXPECT_EQ(HSLCRTCSetPriorityRequest(h), 0u);
  // hi = (368 x 200,000 - 4 x (200,000 + 52 x 65,000)) / (64 x 200,000) = 4;
  // max = 4 x 65,000 / 200,000 = 1.
  EXPECT_EQ(Vga().Ext(6), 0x14);
  EXPECT_EQ(Vga().Seq(1) & 0x20, 0) << "the screen was on and is on again";
  // A ratio without a divisor gives no memory clock: nothing is divided by 0.
  h->oSystemClock.aulWord[0] = (0x20u << 16) | 100;
  EXPECT_EQ(HSLCRTCSetPriorityRequest(h), 0u);
  EXPECT_EQ(Vga().Ext(6), 0);
}

TEST_F(Crtc, HardwareSyncCheck) {
  Program(Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29));
  uint32_t sane = 9;
  EXPECT_EQ(HSLCRTCValidateHwSync(h, &sane), 0u);
  EXPECT_EQ(sane, 1u);
  Vga().SetExt(1, Vga().Ext(1) | 0x20);  // vertical sync off
  HSLCRTCValidateHwSync(h, &sane);
  EXPECT_EQ(sane, 0u);
  Program(Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29));
  Vga().SetCrtc(0x06, 0);  // total below the display end
  Vga().SetCrtc(0x07, 0x42);
  Vga().SetExt(2, 0);
  HSLCRTCValidateHwSync(h, &sane);
  EXPECT_EQ(sane, 0u);
}

TEST_F(Crtc, ResolutionCompareOnController0Only) {
  MODEINFO m = Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29);
  m.flOutput = kOutAnalog0;
  h->aModeInfo[0] = m;
  Program(m);
  uint32_t same = 9;
  EXPECT_EQ(HSLCRTCCompareCurrentResolution(h, &m, &same), 0u);
  EXPECT_EQ(same, 1u);
  MODEINFO other = m;
  other.flOutput |= kOutModule1;
  HSLCRTCCompareCurrentResolution(h, &other, &same);
  EXPECT_EQ(same, 0u);
  other = m;
  other.ulDeskWidth = 2048;
  HSLCRTCCompareCurrentResolution(h, &other, &same);
  EXPECT_EQ(same, 0u);
  Vga().SetCrtc(0x12, 0);  // the chip shows another height
  HSLCRTCCompareCurrentResolution(h, &m, &same);
  EXPECT_EQ(same, 0u);
}

TEST_F(Crtc, HiresSelectSavesTheScreenState) {
  Vga().SetSeq(1, 0x20);  // screen off
  EXPECT_EQ(HSLCRTCSelectHiresMode(h), 0u);
  EXPECT_EQ(Vga().Ext(3) & 0x80, 0x80);
  EXPECT_EQ(Vga().Seq(1), 0x20) << "it stays off";
  EXPECT_EQ(Vga().Misc() & 3, 1);
  Vga().ClearWrites();
  EXPECT_EQ(HSLCRTCSelectHiresMode(h), 0u);
  EXPECT_TRUE(Vga().Writes().empty()) << "already in high resolution";
}

TEST_F(Crtc, FailedStatusTouchesNothing) {
  h->status = 0xB0000001;
  MODEINFO m = Mode(640, 480, 8, 25175, 16, 96, 48, 10, 2, 33);
  EXPECT_EQ(HSLCRTCSet(h, &m), 0xB0000001u);
  EXPECT_EQ(HSLCRTCSetDisplayStart(h, 1, 1), 0xB0000001u);
  EXPECT_TRUE(Vga().Writes().empty());
}

}  // namespace
