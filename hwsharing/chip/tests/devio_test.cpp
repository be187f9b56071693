// Device I/O control, free synthesizers, digital output formats, overscan
// colour, primary-surface address and the two hardware resets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "core/regs/bus.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "core/regs/misc_io.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using hwtest::ChipTest;

class DeviceIo : public ChipTest {
 protected:
  // One request with buffers of the given sizes; the output starts as 0xEE.
  HALSTATUS Call(uint32_t code, std::vector<uint32_t> in, uint32_t inSize, uint32_t outSize) {
    in.resize(64, 0);
    out.assign(64, 0xEEEEEEEE);
    written = 0xBAD;
    return HSLKSTDeviceIoControl(h, code, in.data(), inSize, out.data(), outSize, &written);
  }
  bool Untouched() const { return out[0] == 0xEEEEEEEE && written == 0xBAD; }
  // Stereo line on board misc-IO line 10 (register 0x308: drive bit 1, data bit 5).
  void WithStereo() {
    h->ulFeatures |= kFeatureStereoConnector;
    hwtest::PutPinsDword(h, kPinsMiscIoMapHigh, 0xA00);
  }

  std::vector<uint32_t> out;
  uint32_t written = 0;
};

TEST_F(DeviceIo, EachCodeAnswersAtItsSizesOnly) {
  WithStereo();
  struct Row {
    uint32_t code, inSize, outSize;
    bool anyInput;
  } rows[] = {{1, 4, 4, false},  {2, 12, 8, false}, {3, 0, 8, true},  {6, 0, 8, true},
              {7, 1, 4, false},  {8, 4, 4, false},  {9, 0, 8, true},  {10, 0, 4, true},
              {11, 128, 132, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "code " << r.code);
    EXPECT_EQ(Call(r.code, {0, 0, 0}, r.inSize, r.outSize), 0u);
    EXPECT_FALSE(Untouched());
    EXPECT_EQ(written, r.outSize);
    EXPECT_EQ(Call(r.code, {0, 0, 0}, r.inSize, r.outSize + 1), 0u);
    EXPECT_TRUE(Untouched()) << "output one byte longer";
    EXPECT_EQ(Call(r.code, {0, 0, 0}, r.inSize, r.outSize - 1), 0u);
    EXPECT_TRUE(Untouched()) << "output one byte shorter";
    if (!r.anyInput) {
      EXPECT_EQ(Call(r.code, {0, 0, 0}, r.inSize + 1, r.outSize), 0u);
      EXPECT_TRUE(Untouched()) << "input one byte longer";
    }
  }
  for (uint32_t code : {0u, 4u, 5u, 13u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Call(code, {0}, 4, 4), 0u);
    EXPECT_TRUE(Untouched()) << code;
  }
  EXPECT_EQ(hw.WritesTo(kRegPriority0).size(), 1u) << "the overlay notice recomputed the levels";
}

TEST_F(DeviceIo, OverlayAdmissionWeighsBandwidthAndClock) {
  // The built-in description's memory clock byte is 159 MHz: 2,544,000 of
  // bandwidth; eight times that is 20,352,000.
  // Controller 0 runs a 32-bit surface (format 0): its rate is 32 x its
  // clock; controller 1 is off and adds nothing, its clock is the one asked
  // about.
  struct Row {
    uint32_t clock0;  // rate / 32
    uint32_t clock;
    uint32_t caps;
    uint32_t answer;
  } rows[] = {
      {31, 100000, 0, 1},
      {636000, 100000, 0, 1},  // 20,352,000
      {636001, 100000, 0, 2},  // 20,352,032
      {31, 250001, 0, 4},
      {937500, 260000, 0, 6},  // 30,000,000
      {31, 260000, 0x24, 1},  // bits 2 and 5: the limit is 270,000 kHz
      {31, 270001, 0x24, 4},
  };
  hw.board().Poke(kRegPitch, 4, 0);
  h->aModeInfo[0].flOutput = 0;
  h->aModeInfo[1].flOutput = kControllerOffWord[1];
  for (const Row& r : rows) {
    h->aModeInfo[0].ulPixClock = r.clock0;
    h->aModeInfo[1].ulPixClock = r.clock;
    h->ulOutputCaps = r.caps;
    Call(kIoCanUseOverlay, {0, 1, 0}, 12, 8);
    EXPECT_EQ(out[0], 1u);
    EXPECT_EQ(out[1], r.answer) << r.clock0 << " " << r.clock;
  }
  Call(kIoCanUseOverlay, {0, 4, 0}, 12, 8);
  EXPECT_TRUE(Untouched()) << "no controller 4";
}

TEST_F(DeviceIo, StereoLineRoundTrips) {
  Call(kIoStereoGetSupport, {}, 0, 8);
  EXPECT_EQ(out[0], 0u) << "no stereo connector";
  EXPECT_EQ(out[1], 1u);
  Call(kIoStereoSetData, {1}, 1, 4);
  EXPECT_TRUE(Untouched());
  WithStereo();
  Call(kIoStereoGetSupport, {}, 0, 8);
  EXPECT_EQ(out[0], 1u);
  Call(kIoStereoSetData, {1}, 1, 4);
  EXPECT_EQ(out[0], 1u);
  Call(kIoStereoGetData, {}, 0, 8);
  EXPECT_EQ(out[1], 1u);
  Call(kIoStereoToggleData, {}, 0, 4);
  Call(kIoStereoGetData, {}, 0, 8);
  EXPECT_EQ(out[1], 0u);
  Call(kIoStereoEnable, {1}, 4, 4);
  EXPECT_EQ(hw.Reg(kRegMiscIoHigh) & 0x22, 0x20u) << "data set, drive released";
  Call(kIoStereoIsEnabled, {}, 0, 8);
  EXPECT_EQ(out[0], 1u);
  Call(kIoStereoEnable, {0}, 4, 4);
  Call(kIoStereoIsEnabled, {}, 0, 8);
  EXPECT_EQ(out[0], 0u);
}

TEST_F(DeviceIo, ControllerParametersComeBackTranslated) {
  std::vector<uint32_t> in(32);
  for (uint32_t i = 0; i < 32; ++i) in[i] = 1000 + i;
  Call(kIoVidParmGetController, in, 128, 132);
  for (uint32_t i = 0; i < 32; ++i) ASSERT_EQ(out[i], 1000 + i) << i;
  EXPECT_EQ(out[32], 1u);
}

// ---- Free synthesizers ----------------------------------------------------------

TEST_F(DeviceIo, FreeSynthesizers) {
  struct Row {
    uint32_t select, n, fs;
    HALSTATUS status;
  } rows[] = {
      {0, 0, 0, 0}, {0, 1, 1, 0}, {0, 2, 2, 0}, {0, 3, 3, 0}, {0, 4, 15, kErrNoFreeFs},
      {(3u << 8) | (1u << 1), 0, 2, 0},  // FS 1 and FS 0 in use
      {(3u << 8) | (1u << 1), 1, 3, 0},
      {(3u << 8) | (1u << 1), 2, 15, kErrNoFreeFs},
      {(8u << 16) | (4u << 1), 0, 0, 0},  // FS 3 twice
      {(9u << 16), 0, 0, 0},               // code 9 selects nothing
  };
  for (const Row& r : rows) {
    h->status = 0;
    Board().Poke(kRegClockSelect0, 4, r.select);
    uint32_t fs = 99;
    EXPECT_EQ(HSLKSTGetFreeFS(h, r.n, &fs), r.status) << std::hex << r.select << " n " << r.n;
    EXPECT_EQ(fs, r.fs) << std::hex << r.select << " n " << r.n;
  }
}

// ---- Digital output formats -------------------------------------------------------

TEST_F(DeviceIo, ValidatingFormats) {
  uint32_t formats[5] = {0, 1, 0, 1, 2};
  EXPECT_EQ(HSLKSTValidateDigitalOutputFormat(h, formats, 5), kErrDigitalFormat);
  EXPECT_EQ(formats[0], 0u) << "nothing looked at";
  h->status = 0;
  EXPECT_EQ(HSLKSTValidateDigitalOutputFormat(h, formats, 4), 0u);
  EXPECT_EQ(formats[0], kDigitalFormatNone);
  EXPECT_EQ(formats[2], kDigitalFormatNone);
  EXPECT_EQ(formats[1], 1u);
  // Format 3 joins outputs 0 and 1 and belongs to output 0 alone: on output
  // 1 the check's own code is what the caller gets.
  formats[1] = 3;
  h->status = 0;
  EXPECT_EQ(HSLKSTValidateDigitalOutputFormat(h, formats, 4), 0xb1d07131u);
}

TEST_F(DeviceIo, SettingFormatsStoresAndRefreshesMonitors) {
  for (uint32_t& f : h->aulDigitalOutputFormat) f = kDigitalFormatNone;
  uint32_t five[5] = {1, 1, 1, 1, 1};
  EXPECT_EQ(HSLKSTSetDigitalOutputFormat(h, five, 5), kErrDigitalFormat);
  EXPECT_EQ(h->aulDigitalOutputFormat[0], kDigitalFormatNone) << "nothing stored";
  h->status = 0;
  // Format 4 halves the pixel rate on the link: output 0's monitor record,
  // gathered again because the output became digital, says so; output 1's
  // record, whose format stays none, is not gathered again.
  uint32_t formats[2] = {4, 0};
  h->aMonitorInfo[0].flMonitor = 0;
  h->aMonitorInfo[1].flMonitor = 0;
  h->aulDigitalOutputFormat[1] = 5;
  formats[1] = 5;
  h->aHwOutput[0].ulCaps = 0xDEAD;
  EXPECT_EQ(HSLKSTSetDigitalOutputFormat(h, formats, 2), 0u);
  EXPECT_EQ(h->aulDigitalOutputFormat[0], 4u);
  EXPECT_EQ(h->aulDigitalOutputFormat[1], 5u);
  EXPECT_NE(h->aMonitorInfo[0].flMonitor & kMonitorPixelDoubled, 0u) << "output 0 became digital";
  EXPECT_EQ(h->aMonitorInfo[1].flMonitor & kMonitorPixelDoubled, 0u) << "output 1 stayed digital";
  EXPECT_NE(h->aHwOutput[0].ulCaps, 0xDEADu) << "the output table is built again";
  formats[0] = 0;
  EXPECT_EQ(HSLKSTSetDigitalOutputFormat(h, formats, 1), 0u);
  EXPECT_EQ(h->aulDigitalOutputFormat[0], kDigitalFormatNone);

  MODEINFO mode{};
  uint32_t format = 0, index = 9;
  mode.flOutput = kOutDigital2 | kOutDigital1;
  h->status = 0;
  h->aulDigitalOutputFormat[2] = 19;
  HSLKSTGetDigitalOutputFormat(h, &mode, &format, &index);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(format, 19u);
  mode.flOutput = kOutDigital0;
  HSLKSTGetDigitalOutputFormat(h, &mode, &format, &index);
  EXPECT_EQ(index, 0u);
}

// ---- Overscan and primary-surface address --------------------------------------------

TEST_F(DeviceIo, OverscanColourOfControllers0And1Only) {
  EXPECT_EQ(HSLKSTSetOverscanColor(h, 0x123456, 1), 0u);
  EXPECT_EQ(hw.Reg(0x1A8C), 0x123456u);
  EXPECT_EQ(HSLKSTSetOverscanColor(h, 0x654321, 0), 0u);
  EXPECT_EQ(hw.Reg(0x188C), 0x654321u);
  Board().ClearLog();
  EXPECT_EQ(HSLKSTSetOverscanColor(h, 1, 2), kErrOverscanController);
  h->status = 0;
  EXPECT_EQ(HSLKSTSetOverscanColor(h, 1, 4), kErrOverscanController);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

TEST(PriSurfAddr, MaskByChip) {
  struct Row {
    uint16_t device;
    uint32_t mask;
  } rows[] = {{kDeviceKestrion1, 0x7fff800}, {kDeviceKestrion2, 0x7fff800},
              {kDeviceKestrionNext1, 0xffffc00}, {kDeviceKestrionNext3, 0xffffc00}};
  for (const Row& r : rows) {
    BOARDHANDLE h{};
    h.usDeviceId = r.device;
    uint32_t value = 0, address = 0;
    HSLKST_Register_PriSurfAddr_Set(&h, 0xFFFFFFFF, 1, &value);
    EXPECT_EQ(value, r.mask + 4) << std::hex << r.device;
    HSLKST_Register_PriSurfAddr_Set(&h, 0x12345678, 0, &value);
    EXPECT_EQ(value, 0x12345678 & r.mask);
    HSLKST_Register_PriSurfAddr_Get(&h, 0xFFFFFFFF, &address);
    EXPECT_EQ(address, r.mask);
  }
}

// ---- Hardware resets ---------------------------------------------------------------

class Reset : public ChipTest {
 protected:
  explicit Reset(uint16_t device = kDeviceKestrion2) : ChipTest(device) {}
  // Configuration dwords the reset clears, given values that must come back.
  void Dirty() {
    orvsim::PciFunction& pci = Board().Pci();
    pci.ConfigWrite(0x3C, 1, 0x0B);
    pci.ConfigWrite(0x40, 4, 0x12340003);
    pci.ConfigWrite(0x0C, 2, 0x4010);
    pci.ConfigWrite(kCfgBusControl, 4, 0xAB);
    for (uint32_t at : {0x04u, 0x0Cu, 0x10u, 0x14u, 0x30u, 0x3Cu, 0x40u, kCfgBusControl}) before[at] = pci.Peek(at, 4);
  }
  void ExpectConfigRestored() {
    for (const auto& [at, value] : before) EXPECT_EQ(Board().Pci().Peek(at, 4), value) << std::hex << at;
  }
  std::map<uint32_t, uint32_t> before;
};

TEST_F(Reset, RestoresTheConfigurationAndTheClockRegisters) {
  Dirty();
  Board().Poke(kRegPll6, 4, 0x00BEEF);
  Board().Poke(kRegPll7, 4, 0x80000000);
  EXPECT_EQ(HSLKSTHardwareReset(h), 0u);
  EXPECT_EQ(display.Reset().Pulses(), 1u);
  EXPECT_FALSE(display.Reset().InReset());
  ExpectConfigRestored();
  EXPECT_EQ(hw.WritesTo(kRegPll6), (std::vector<uint32_t>{0x8000BEEF, 0x00BEEF}));
  EXPECT_TRUE(hw.WritesTo(kRegPll7).empty()) << "a saved 0x80000000 is not written";
  EXPECT_EQ(hw.Reg(kRegPll7), 0u) << "the reset cleared it";
  EXPECT_EQ(hw.WritesTo(kRegMiscIoHigh), (std::vector<uint32_t>{3})) << "device 0x0A42";
}

TEST_F(Reset, BusOptionsTakeTheirPowerFieldsFromTheBusStatus) {
  Board().Pci().Poke(kCfgBusStatus, 4, 0x41000013);  // top byte 0x41, bit 4, bits 0-2 = 3
  Board().Poke(kRegBusOptions, 4, 0xFFFFFFFF);
  EXPECT_EQ(HSLKSTHardwareReset(h), 0u);
  // Kept: 0xE0E0FF3F as read; power fields: 0x41 << 24, bit 20, 3 << 16, bit 8.
  const uint32_t merged = 0xE0E0FF3F | 0x41000000 | 0x100000 | 0x30000 | 0x100;
  EXPECT_EQ(hw.WritesTo(kRegBusOptions), (std::vector<uint32_t>{merged, merged}));
}

TEST_F(Reset, NarrowBusKeepsItsBusWords) {
  Dirty();
  h->ulBoardFlags = (h->ulBoardFlags & ~0xE0u) | 0x80u;
  EXPECT_EQ(HSLKSTHardwareReset(h), 0u);
  EXPECT_EQ(Board().Pci().Peek(kCfgBusControl, 4), 0u) << "not saved, not restored";
}

class WqtReset : public Reset {
 protected:
  WqtReset() : Reset(kDeviceKestrionNext2) {}
};

TEST_F(WqtReset, RestoresEveryConfigurationDwordAndForcesTheBusBits) {
  Dirty();
  Board().Poke(kRegBusOptions, 4, 0x1);
  EXPECT_EQ(HSLWQTHardwareReset(h), 0u);
  EXPECT_EQ(display.Reset().Pulses(), 1u);
  ExpectConfigRestored();
  // Revision 0 of 0x5D62 keeps bit 8 clear.
  EXPECT_EQ(hw.WritesTo(kRegBusOptions), (std::vector<uint32_t>{0x601, 0x601}));
}

}  // namespace
