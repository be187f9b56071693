// Graphics and test clocks, the chip services around mode changes, and the
// later generation's clock services and cold start, on the simulated chip
// with its synthesizers.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/chip_ids.h"
#include "core/client_services.h"
#include "core/regs/display.h"
#include "hwsharing/chip/b90_clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "hwsharing/outputs/display_clocks.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/chip_clocks.h"

namespace {

using hwtest::Mode;

class Clocks : public hwtest::ChipTest {
 protected:
  explicit Clocks(uint16_t device = kDeviceKestrion2) : ChipTest(device), clocks(Board()) {
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
  }
  uint32_t Reg(uint32_t r) { return hw.Reg(r); }
  void Set(uint32_t r, uint32_t v) { Board().Poke(r, 4, v); }
  void SetPinsVersion(uint16_t v) {
    h->oPins.aucData[4] = static_cast<uint8_t>(v);
    h->oPins.aucData[5] = static_cast<uint8_t>(v >> 8);
  }
  static MODEINFO Record(uint32_t controller, uint32_t khz) {
    MODEINFO m = Mode(1024, 768, 32, khz, 24, 136, 160, 3, 6, 29);
    m.flOutput = controller == 1 ? kOutModule1 : 0;
    return m;
  }

  orvsim::ChipClocks clocks;
};

// ---- First generation ----------------------------------------------------------------

TEST_F(Clocks, GraphicsClockChangeProgramsTheSynthesizerItSelects) {
  // Synthesizer 2, memory type 19 (divide by 3), 100 MHz.
  const GCLKREQUEST request{100000, 19, 2, {}};
  hwtest::PutPinsDword(h, 80, 0x1234);  // FS 2's preset
  EXPECT_EQ(HSLKSTChangeGclkSpeed(h, &request), 0u);
  const uint32_t word = PinsDword(h, 132);
  EXPECT_EQ((word >> 8) & 0xF, 5u);
  EXPECT_EQ((word >> 5) & 0x3, 1u);
  EXPECT_EQ(PinsDword(h, 76), 300000u);
  EXPECT_EQ(PinsDword(h, 80), 0u) << "the bring-up searches the dividers";
  // The board now runs the graphics clock from FS 2 at 300 MHz / 3.
  EXPECT_EQ(clocks.GraphicsClockFs(), 2);
  EXPECT_NEAR(clocks.FsKHz(2), 300000.0, 300000 * 0.005);
  EXPECT_NEAR(clocks.GraphicsClockKHz(), 100000.0, 100000 * 0.005);
  SYSCLOCKINFO now{};
  HSLKSTGetSystemCLock(h, &now);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(h->oSystemClock.aulWord[i], now.aulWord[i]) << "read back " << i;
}

TEST_F(Clocks, GraphicsClockChangeKeepsWhatTheRequestLeavesOpen) {
  struct Row {
    uint32_t type;
    uint8_t fs;
    uint32_t select, divider, khz;  // the resulting word and target of FS 0
  } rows[] = {
      {18, 0, 1, 3, 2 * 50000},        // FS 0 kept (the description's code 1), divided by 2
      {37, 0, 1, 2, 5 * 50000 / 2},    // 2.5
      {17, 0, 1, 0, 50000},
      {99, 0, 1, 0, 50000},            // an unknown type keeps the divider
  };
  for (const Row& r : rows) {
    const GCLKREQUEST request{50000, static_cast<uint8_t>(r.type), r.fs, {}};
    HSLKSTChangeGclkSpeed(h, &request);
    const uint32_t word = PinsDword(h, 132);
    EXPECT_EQ((word >> 8) & 0xF, r.select) << r.type;
    EXPECT_EQ((word >> 5) & 0x3, r.divider) << r.type;
    EXPECT_EQ(PinsDword(h, 36), r.khz) << r.type;
  }
  // FS numbers above 3 select no synthesizer; no target changes.
  const uint32_t before = PinsDword(h, 96);
  const GCLKREQUEST far{70000, 17, 4, {}};
  HSLKSTChangeGclkSpeed(h, &far);
  EXPECT_EQ((PinsDword(h, 132) >> 8) & 0xF, 0u);
  EXPECT_EQ(PinsDword(h, 96), before);
}

TEST_F(Clocks, SetGclkAsksForHalfThePixelClock) {
  MODEINFO m = Record(0, 216000);
  EXPECT_EQ(HSLKSTSetGclk(h, &m, 3), 0u);
  EXPECT_EQ((PinsDword(h, 132) >> 8) & 0xF, 7u);
  EXPECT_EQ((PinsDword(h, 132) >> 5) & 0x3, 3u) << "type 18";
  EXPECT_EQ(PinsDword(h, 96), 216000u) << "108 MHz doubled";
}

TEST_F(Clocks, GraphicsClockTranslationAndRecycling) {
  struct Row {
    uint32_t code;
    uint32_t fs;  // 15: none
  } rows[] = {{0, 15}, {1, 0}, {2, 0}, {3, 1}, {6, 2}, {8, 3}, {9, 15}, {15, 15}};
  for (const Row& r : rows) {
    Set(0xE00, r.code << 8);
    uint32_t fs = 99;
    HSLKSTGetGclk(h, nullptr, &fs);
    EXPECT_EQ(fs, r.fs) << r.code;
  }
  // Controller 1 at the record's clock runs from FS 2, as does the graphics clock.
  h->aModeInfo[1] = Record(1, 108000);
  Set(kRegModuleClock1, 3u << 6);
  MODEINFO m = Record(0, 108000);
  uint32_t recyclable = 0, select = 0;
  for (uint32_t code : {5u, 6u}) {
    Set(0xE00, code << 8);
    HSLKSTIsGClkRecyclable(h, &m, &recyclable, &select);
    EXPECT_EQ(recyclable, 1u) << code;
    EXPECT_EQ(select, 3u);
  }
  // A graphics select outside 1..8, another clock or another FS never recycle.
  for (uint32_t code : {0u, 9u, 12u}) {
    Set(0xE00, code << 8);
    HSLKSTIsGClkRecyclable(h, &m, &recyclable, &select);
    EXPECT_EQ(recyclable, 0u) << code;
  }
  Set(0xE00, 5u << 8);
  m.ulPixClock = 108001;
  HSLKSTIsGClkRecyclable(h, &m, &recyclable, &select);
  EXPECT_EQ(recyclable, 0u);
  m.ulPixClock = 108000;
  Set(kRegModuleClock1, 2u << 6);
  HSLKSTIsGClkRecyclable(h, &m, &recyclable, &select);
  EXPECT_EQ(recyclable, 0u);
}

TEST_F(Clocks, TestClockPositions) {
  const uint32_t sources[6] = {1, 4, 7, 10, 0, 0};
  for (uint32_t position = 0; position < 6; ++position) {
    Set(0xE00, 0x500);
    EXPECT_EQ(HSLKSTEnableTstClk(h, position), 0u);
    EXPECT_TRUE(clocks.TestClockState().on);
    EXPECT_EQ(clocks.TestClockState().source, sources[position]) << position;
    EXPECT_EQ(Reg(0xE00) & 0xFFF, 0x500u) << "the graphics select stays";
  }
  HSLKSTDisableTstClk(h);
  EXPECT_FALSE(clocks.TestClockState().on);
  uint32_t encoder = 9;
  for (uint32_t source : {6u, 7u, 8u, 5u, 9u}) {
    HSLCHRTranslClkSourceToChrID(h, source, &encoder);
    EXPECT_EQ(encoder, source >= 6 && source <= 8 ? source - 5 : 0u) << source;
  }
}

TEST_F(Clocks, MemoryCheckRestartsControllersOnlyForAPhaseError) {
  SetPinsVersion(0x0700);
  EXPECT_EQ(HSLKSTMemoryControllerCheck(h), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty()) << "no check from 0x700 on";
  SetPinsVersion(0x06FF);
  EXPECT_EQ(HSLKSTMemoryControllerCheck(h), 0u);
  EXPECT_TRUE(clocks.McWrites().empty()) << "no phase error";
  clocks.SetMcReg(2, 0xF24, 0x2);  // controller 4
  EXPECT_EQ(HSLKSTMemoryControllerCheck(h), 0u);
  EXPECT_FALSE(clocks.McWrites().empty()) << "re-initialised";
  // Without controllers 4 and 8 their phase is not asked.
  clocks.ClearMcWrites();
  hwtest::PutPinsDword(h, 140, PinsDword(h, 140) | 0x8);
  EXPECT_EQ(HSLKSTMemoryControllerCheck(h), 0u);
  EXPECT_TRUE(clocks.McWrites().empty());
}

TEST_F(Clocks, PaletteRoundTripsItsThreePlanes) {
  std::array<uint8_t, 768> planes{}, back{};
  for (uint32_t i = 0; i < 768; ++i) planes[i] = static_cast<uint8_t>(i * 7 + i / 256);
  EXPECT_EQ(HSLKSTVgaLut(h, planes.data(), 0), 0u);
  EXPECT_EQ(Vga().Palette(10), (std::array<uint8_t, 3>{planes[10], planes[266], planes[522]}));
  EXPECT_EQ(HSLKSTVgaLut(h, back.data(), 1), 0u);
  EXPECT_EQ(back, planes);
  // The VGA state carries the same palette behind its register block.
  std::array<uint8_t, kVgaStateSize> state{};
  EXPECT_EQ(HSLKSTVgaState(h, state.data(), 1), 0u);
  EXPECT_TRUE(std::equal(planes.begin(), planes.end(), state.begin() + kVgaStatePaletteOffset));
}

TEST_F(Clocks, BytesPerPixel) {
  const std::pair<uint32_t, uint32_t> rows[] = {{32, 4},      {16, 2},      {15, 2},      {8, 1},
                                                 {0x90000, 2}, {0x40000, 2}, {0x50000, 2}, {0xA0000, 2},
                                                 {0xB0000, 4}, {0xC0000, 4}, {24, 3}};
  for (const auto& [format, bytes] : rows) EXPECT_EQ(GetBytePerPixel(format), bytes) << std::hex << format;
}

// ---- Later generation ------------------------------------------------------------------

class LaterClocks : public Clocks {
 protected:
  LaterClocks() : Clocks(kDeviceKestrionNext3) {}
  // A later-generation FS word and the frequency it gives.
  static uint32_t FsWord(uint32_t m1, uint32_t m2, uint32_t p1, uint32_t p2) {
    return (m1 - 1) | (m2 - 1) << 6 | (p1 - 1) << 11 | (p2 - 1) << 16;
  }
  static uint32_t FsKHz(uint32_t m1, uint32_t m2, uint32_t p1, uint32_t p2) {
    return m2 * (m1 * 27000 / p1) / (2 * p2);
  }
};

TEST_F(LaterClocks, FreeSynthesizersBesideAGraphicsClockOnFsOne) {
  Set(0xE00, 0);
  Set(0xE04, 2u << 1);
  Set(0xE08, 0);
  const uint32_t expected[3] = {0, 2, 3};
  for (uint32_t position = 0; position < 3; ++position) {
    uint32_t fs = 99;
    EXPECT_EQ(HSLB90GetFreeFS(h, position, &fs), 0u);
    EXPECT_EQ(fs, expected[position]) << position;
  }
  uint32_t fs = 99;
  EXPECT_EQ(HSLB90GetFreeFS(h, 3, &fs), kErrB90NoFreeFs);
  EXPECT_EQ(fs, kNoFs);
  h->status = 0;
  HSLB90GetGclk(h, nullptr, &fs);
  EXPECT_EQ(fs, 1u);
}

TEST_F(LaterClocks, ReadBackOfEveryDividerCode) {
  const uint32_t word = FsWord(40, 8, 4, 2);
  const uint32_t fsKHz = FsKHz(40, 8, 4, 2);
  ORVGetFsCache(h)[0] = 0;
  ORVGetFsCache(h)[1] = word;  // the shadow of FS 1
  const uint32_t divisors[8] = {1, 2, 3, 4, 5, 8, 16, 0};
  const uint32_t types[8] = {17, 18, 19, 20, 21, 24, 22, 0};
  for (uint32_t code = 0; code < 8; ++code) {
    Set(0xE00, (1u << 1) | (code << 5));  // FS 0, whose shadow is 0: 13,500 kHz
    Set(0xE04, (2u << 1) | (code << 5));
    Set(0xE08, (9u << 1) | (code << 5));  // no FS
    SYSCLOCKINFO clock{};
    ASSERT_EQ(HSLB90GetSystemCLock(h, &clock), 0u);
    const uint32_t khz = divisors[code] == 0 ? 0 : fsKHz / divisors[code];
    EXPECT_EQ(clock.aulWord[1], ((khz + 500) / 1000) | (types[code] << 16) | (2u << 24)) << code;
    const uint32_t sysKHz = divisors[code] == 0 ? 0 : 13500 / divisors[code];
    EXPECT_EQ(clock.aulWord[0], ((sysKHz + 500) / 1000) | ((code == 7 ? 255 : types[code]) << 16) | (1u << 24))
        << code;
    EXPECT_EQ(clock.aulWord[2] >> 24, 0u) << "a source that is no FS";
  }
}

TEST_F(LaterClocks, TheDefaultDescriptionReadsBackItsClocks) {
  EXPECT_EQ(HSLKSTCSetDefaultPinsB90(h), 0u);
  EXPECT_EQ(PinsVersion(h), 0x0700);
  EXPECT_EQ(PinsDword(h, 36 + 20 * 3), 0u) << "FS 3 has no frequency";
  EXPECT_EQ(h->oPins.aucData[54], 108);  // FS 0's last limit
  EXPECT_EQ(PinsDword(h, 640), 0xFFFFFFFFu);
  SYSCLOCKINFO clock{};
  ASSERT_EQ(HSLB90GetPInSSystemCLock(h, &clock), 0u);
  EXPECT_EQ(clock.aulWord[0], 200u | (18u << 16) | (1u << 24)) << "FS 0 halved";
  EXPECT_EQ(clock.aulWord[1], 400u | (17u << 16) | (3u << 24)) << "FS 2";
  EXPECT_EQ(clock.aulWord[2], 400u | (17u << 16) | (3u << 24));
  // A stopped divider: the system clock reports 255 and 0, the others 0 and
  // their undivided frequency.
  hwtest::PutPinsDword(h, 512, (1u << 1) | (7u << 5));
  hwtest::PutPinsDword(h, 516, (3u << 1) | (7u << 5));
  HSLB90GetPInSSystemCLock(h, &clock);
  EXPECT_EQ(clock.aulWord[0], (255u << 16) | (1u << 24));
  EXPECT_EQ(clock.aulWord[1], 400u | (3u << 24));
}

TEST_F(LaterClocks, SourceZeroChangesDividersAndSwitchesNoControllerOff) {
  HSLKSTCSetDefaultPinsB90(h);
  h->aModeInfo[0] = Record(0, 65000);
  SYSCLOCKINFO clock{};
  clock.aulWord[1] = 100 | (20u << 16);  // graphics clock 100 MHz, divided by 4
  EXPECT_EQ(HSLB90SetSystemCLock(h, &clock), 0u);
  EXPECT_EQ(PinsDword(h, 516), (3u << 1) | (3u << 5)) << "FS 2 kept";
  EXPECT_EQ(PinsDword(h, 76), 400000u);
  EXPECT_EQ(PinsDword(h, 512), 0x20922u) << "a zero word changes nothing";
  EXPECT_EQ(Reg(kRegControllerCtl) & kControllerEnable, 0u) << "no controller switched on";
  Board().ClearLog();
  // A source change turns controller 0 off around the bring-up and back on.
  clock.aulWord[1] = 100 | (20u << 16) | (4u << 24);
  EXPECT_EQ(HSLB90SetSystemCLock(h, &clock), 0u);
  EXPECT_EQ(PinsDword(h, 516) & 0x1E, 4u << 1);
  EXPECT_EQ(PinsDword(h, 96), 400000u) << "FS 3 takes 100 MHz x 4";
  const std::vector<uint32_t> control0 = hw.WritesTo(kRegControllerCtl);
  ASSERT_FALSE(control0.empty());
  EXPECT_EQ(control0.front() & kControllerEnable, 0u) << "controller 0 off first";
  EXPECT_EQ(Reg(kRegControllerCtl) & kControllerEnable, kControllerEnable) << "and on again";
  EXPECT_EQ(Reg(kRegControllerCtl + kControllerStride) & kControllerEnable, 0u) << "controller 1 stays off";
  EXPECT_EQ(h->aModeInfo[0].flOutput & kOutControllerOff, 0u);
}

TEST_F(LaterClocks, GraphicsClockOnFsTwoIsRecyclableThroughControllerOne) {
  Set(0xE04, 3u << 1);
  h->aModeInfo[1] = Record(1, 148500);
  Set(kRegModuleClock1, 3u << 6);
  MODEINFO m = Record(0, 148500);
  uint32_t recyclable = 0, select = 0;
  EXPECT_EQ(HSLB90IsGClkRecyclable(h, &m, &recyclable, &select), 0u);
  EXPECT_EQ(recyclable, 1u);
  EXPECT_EQ(select, 3u);
  Set(0xE04, 5u << 1);  // no FS
  HSLB90IsGClkRecyclable(h, &m, &recyclable, &select);
  EXPECT_EQ(recyclable, 0u);
}

TEST_F(LaterClocks, GraphicsClockChangeAndTestClock) {
  HSLKSTCSetDefaultPinsB90(h);
  const GCLKREQUEST request{150000, 18, 1, {}};
  EXPECT_EQ(HSLB90ChangeGclkSpeed(h, &request), 0u);
  EXPECT_EQ(PinsDword(h, 516), (2u << 1) | (1u << 5));
  EXPECT_EQ(PinsDword(h, 56), 300000u);
  EXPECT_EQ(clocks.GraphicsClockFs(), 1) << "the bring-up loaded the word";
  EXPECT_NEAR(clocks.LaterClockKHz(1), 150000.0, 150000 * 0.005);
  for (uint32_t position : {2u, 5u}) {
    EXPECT_EQ(HSLB90EnableTstClk(h, position), 0u);
    EXPECT_TRUE(clocks.TestClockState().on);
    EXPECT_EQ(clocks.TestClockState().source, position == 2 ? 7u : 0u);
  }
  HSLB90DisableTstClk(h);
  EXPECT_FALSE(clocks.TestClockState().on);
}

TEST_F(LaterClocks, ColdStartDiffersFromTheFirstGeneration) {
  h->ulBoardFlags &= ~kBoardFlagHwInitialised;
  hwtest::PutPinsDword(h, 412, 0xBEEF);  // an old description still gives its post word
  h->aSiI164[2] = I2CDEVICE{1, 1, 0x74, kSiKind1178};
  orvsim::TransmitterChip& si2 = OnPort1<orvsim::TransmitterChip>(0x74);
  Set(0xE24, 0);  // cold
  EXPECT_EQ(HSLB90InitializeHardware(h), 0u);
  EXPECT_EQ(display.Reset().Pulses(), 1u) << "the hardware-reset slot ran";
  EXPECT_EQ(Reg(0x1C50), 0xBEEFu);
  EXPECT_EQ(Reg(kRegPriority0) & 0x808u, 0x808u);
  EXPECT_EQ(Reg(kRegPriority1) & 0x808u, 0x808u);
  EXPECT_EQ(Reg(0x3A8) & 0x20u, 0x20u) << "revision 0";
  EXPECT_EQ(Reg(0x12B8), 0x70601u);
  // Transmitter 2's dual-link bit (register 13, bit 4) set and cleared again.
  EXPECT_EQ(hwtest::WritesOf(si2), (hwtest::RegWrites{{13, 0x10}, {13, 0x00}}));
  EXPECT_TRUE(h->ulBoardFlags & kBoardFlagHwInitialised);
  // A running oscillator word means no reset.
  Set(0xE24, 0x40000000);
  HSLB90InitializeHardware(h);
  EXPECT_EQ(display.Reset().Pulses(), 1u);
}

}  // namespace
