// The chip layer from open to close on two simulated boards at once, step
// by step in turn: open the board, save its console, gather the monitor on
// its first connector, validate and set the monitor's preferred mode, check
// the raster the board then scans, switch the controllers off and give the
// console back; each board ends with its own console.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/facade.h"
#include "hwsharing/hal/hal_entries.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/outputs/vga_return.h"
#include "hwsharing/tests/chip_fixture.h"
#include "hwsharing/tests/edid_fixture.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_dac_sense.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_picture.h"
#include "platform/board/companion_chips.h"
#include "platform/board/ddc_devices.h"

namespace {

using Encoder = orvsim::EncoderChip;

// One board of the test: its chip models, the monitor on connector 0, the
// encoders on its board ports, what the test saved.
struct Station {
  Station(uint16_t d, hwtest::Detailed t, uint32_t e, uint8_t w)
      : device(d), preferred(t), consoleEncoder(e), consoleWidth(w) {}
  uint16_t device;
  hwtest::Detailed preferred;
  uint32_t consoleEncoder;  // the encoder marked as carrying the console
  uint8_t consoleWidth;     // CRTC 2 of its text mode
  orvsim::ChipDisplay* display = nullptr;  // the machine's chip blocks
  orvsim::ChipClocks* clocks = nullptr;
  orvsim::ChipDacSense* sense = nullptr;
  Encoder* encoder[4] = {};
  BOARDHANDLE* h = nullptr;
  uint32_t word = 0;
  std::array<uint8_t, kVgaStateSize> saved{};
  MODEINFO mode{};
};

constexpr uint32_t kEncoderPort[4] = {1, 1, 16, 16};
constexpr uint8_t kEncoderAddress[4] = {0xEC, 0xEA, 0xEC, 0xEA};

std::vector<uint8_t> MonitorEdid(const char* vendor, const hwtest::Detailed& t) {
  hwtest::Edid1 e;
  e.SetVendor(vendor).SetDetailed(0, t);
  e.Seal();
  return {e.data(), e.data() + 128};
}

TEST(ChipLayerEndToEnd, TwoBoardsFromOpenToTheConsolesReturn) {
  orvsim::BoardConfig second = hwtest::Config(kDeviceKestrion2);
  second.location = orvsim::PciLocation{2, 0, 0};
  hwtest::HwBoards boards({hwtest::Config(kDeviceKestrion2), second});
  Station st[2] = {
      // 1024x768 at 60 Hz, negative syncs, console on encoder 1; 1280x1024
      // at 60 Hz, console on encoder 3.
      {kDeviceKestrion2, {6500, 1024, 320, 768, 38, 24, 136, 3, 6, 0x18}, 1, 0x7F},
      {kDeviceKestrion2, {10800, 1280, 408, 1024, 42, 48, 112, 1, 3, 0x1E}, 3, 0x9F},
  };
  const char* vendors[2] = {"AAA", "BBB"};

  // Open each board, as the library's board-information entry does.
  for (uint32_t i = 0; i < 2; ++i) {
    Station& s = st[i];
    orvsim::Board& board = boards[i].board();
    orvmachine::MachineBoard& parts =
        boards[i].AddParts(orvmachine::kDisplay | orvmachine::kDacSense | orvmachine::kDdc);
    s.display = parts.display.get();
    s.clocks = parts.clocks.get();
    s.sense = parts.dacSense.get();
    board.I2c(orvsim::kBusDdcConnector0)
        .Emplace<orvsim::DdcMonitor>(MonitorEdid(vendors[i], s.preferred), board.GetClock(), uint8_t(0x50));
    s.h = boards[i].h();
    ASSERT_EQ(HALGetBoardInfo(s.h), kHalOk) << i;
  }
  // The encoders as their detection records them; each board's console
  // encoder marks itself, and its text mode has its own width and palette.
  for (uint32_t i = 0; i < 2; ++i) {
    Station& s = st[i];
    orvsim::Board& board = boards[i].board();
    // A description whose misc-IO map gives the DDC lines the chip's
    // default wiring has.
    SetPinsDword(s.h, kPinsMiscIoMap, 0);
    for (uint32_t n = 0; n < 4; ++n) {
      s.h->aChrontel[n] = I2CDEVICE{1, kEncoderPort[n], kEncoderAddress[n], 0x80};
      const unsigned bus = kEncoderPort[n] == 1 ? orvsim::kBusBoardPort1 : orvsim::kBusBoardPort16;
      s.encoder[n] = &board.I2c(bus).Emplace<Encoder>(kEncoderAddress[n], 0x80);
    }
    s.encoder[s.consoleEncoder]->SetRegister(0x49, 0xDE);
    s.display->Vga().SetCrtc(2, s.consoleWidth);
    board.RegWrite(0x1FC8, 1, 0);
    for (unsigned k = 0; k < 768; ++k) board.RegWrite(0x1FC9, 1, uint8_t(k * (5 + 2 * i)));
  }
  // Save each console: the path that carries it, then its VGA state.
  for (Station& s : st) {
    ASSERT_EQ(HSLKSTGetVgaOutputState(s.h, &s.word), 1u);
    ASSERT_EQ(HSLKSTGetVgaState(s.h, s.saved.data(), 0), kHalOk);
  }
  EXPECT_EQ(st[0].word, 0x20000400u);
  EXPECT_EQ(st[1].word, 0x20000800u);
  EXPECT_EQ(st[0].h->oVgaReturn.ulPrimaryChrontel, 1u);
  EXPECT_EQ(st[1].h->oVgaReturn.ulPrimaryChrontel, 3u);
  // The monitors, and each one's preferred mode on controller 0 and the
  // first analog output.
  for (Station& s : st) {
    ASSERT_EQ(HALGetAllMonitorInfo(s.h), kHalOk);
    const MONITORINFO& mi = s.h->aMonitorInfo[0];
    ASSERT_TRUE(mi.flMonitor & kMonitorEdidValid);
    ASSERT_TRUE(HALPGetEDIDDetailedTimingInfo(mi.aucEdid + 54, &s.mode));
    s.mode.ulDeskWidth = s.mode.ulDispWidth;
    s.mode.ulDeskHeight = s.mode.ulDispHeight;
    s.mode.ulBpp = 32;
    s.mode.ulZoom = 1;
    s.mode.flOutput = kOutAnalog0;
  }
  for (Station& s : st) {
    EXPECT_EQ(HALValidateMode(s.h, &s.mode), kHalOk);
    EXPECT_EQ(HALValidateVideoParameters(s.h, &s.mode), kHalOk);
  }
  for (Station& s : st) ASSERT_EQ(HALSetMode(s.h, &s.mode), kHalOk);
  // Each board scans its monitor's mode at its refresh.
  for (uint32_t i = 0; i < 2; ++i) {
    Station& s = st[i];
    const orvsim::RasterTiming t = s.display->Raster().Timing(0);
    EXPECT_EQ(t.hactive, s.preferred.w) << i;
    EXPECT_EQ(t.vactive, s.preferred.h) << i;
    EXPECT_NEAR(t.frame_hz, 60.0, 0.5) << i;
    EXPECT_EQ(boards[i].Reg(0x1C08) & 3, 2u) << "high-resolution regime";
    EXPECT_EQ(orvsim::OutputController(s.display->Outputs(), orvsim::BoardOutput::kDac1), 0) << "DAC 1 shows controller 0";
  }
  // The controllers off, and the consoles back.
  for (Station& s : st) ASSERT_EQ(HSLKSTDisableControllers(s.h), kHalOk);
  for (Station& s : st)
    for (Encoder* e : s.encoder) e->ClearTransfers();
  for (Station& s : st) EXPECT_EQ(HSLKSTReturnToVga(s.h, s.saved.data(), s.word), kHalOk);

  for (uint32_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(testing::Message() << "board " << i);
    Station& s = st[i];
    VGASTATE now{};
    ASSERT_EQ(HSLKSTVgaState(s.h, &now, 1), kHalOk);
    EXPECT_EQ(std::memcmp(&now, s.saved.data(), sizeof(now)), 0);
    EXPECT_EQ(s.display->Vga().Palette(2)[1], uint8_t(7 * (5 + 2 * i)));
    EXPECT_EQ(boards[i].Reg(0x1C08) & 3, 1u);
    for (uint32_t c = 0; c < 4; ++c) EXPECT_TRUE(s.h->aModeInfo[c].flOutput & kOutControllerOff);
    // Only this board's console encoder started, as a digital encoder.
    for (uint32_t n = 0; n < 4; ++n) {
      const hwtest::RegWrites w = hwtest::WritesOf(*s.encoder[n]);
      const bool started = std::find(w.begin(), w.end(), std::pair<int, int>{0x49, 0xDE}) != w.end();
      EXPECT_EQ(started, n == s.consoleEncoder) << "encoder " << n;
    }
    EXPECT_EQ(s.encoder[s.consoleEncoder]->Register(0x32), 0x2d) << "PLL table of the digital console";
  }
  for (Station& s : st) EXPECT_EQ(ORVCloseLibrary(s.h), kHalOk);
}

}  // namespace
