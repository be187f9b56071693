#include <functional>

#include <gtest/gtest.h>

#include "hwsharing/encoders/addon_detect.h"
#include "hwsharing/chip/board_setup.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/encoders/cve2_encoder.h"
#include "hwsharing/encoders/flat_panel.h"
#include "hwsharing/encoders/velan.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/chip/bios_pins.h"
#include "hwsharing/chip/b90_clocks.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/outputs/display_clocks.h"
#include "hwsharing/chip/crtc.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/outputs/mode_validate.h"
#include "hwsharing/chip/power.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/tests/hw_fixture.h"

namespace {

struct ChipRow {
  uint16_t device;
  decltype(DEVICEJUMPTABLE::InitializeHardware) initializeHardware;
  decltype(DEVICEJUMPTABLE::GetFreeFS) getFreeFS;
  decltype(DEVICEJUMPTABLE::GetGclk) getGclk;
  decltype(DEVICEJUMPTABLE::GetPInSSystemCLock) getPinsClock;
  decltype(DEVICEJUMPTABLE::SetSystemCLock) setSystemClock;
  decltype(DEVICEJUMPTABLE::GetSystemCLock) getSystemClock;
  decltype(DEVICEJUMPTABLE::HardwareReset) hardwareReset;
};

const ChipRow kChipRows[] = {
    {0x0A41, HSLKSTInitializeHardware, HSLKSTGetFreeFS, HSLKSTGetGclk, HSLKSTGetPInSSystemCLock,
     HSLKSTSetSystemCLock, HSLKSTGetSystemCLock, HSLKSTHardwareReset},
    {0x0A42, HSLKSTInitializeHardware, HSLKSTGetFreeFS, HSLKSTGetGclk, HSLKSTGetPInSSystemCLock,
     HSLKSTSetSystemCLock, HSLKSTGetSystemCLock, HSLKSTHardwareReset},
    {0x5D61, HSLKSTInitializeHardware, HSLKSTGetFreeFS, HSLKSTGetGclk, HSLKSTGetPInSSystemCLock,
     HSLKSTSetSystemCLock, HSLKSTGetSystemCLock, HSLKSTHardwareReset},
    {0x5D62, HSLKSTInitializeHardware, HSLKSTGetFreeFS, HSLKSTGetGclk, HSLKSTGetPInSSystemCLock,
     HSLKSTSetSystemCLock, HSLKSTGetSystemCLock, HSLWQTHardwareReset},
    {0x5D63, HSLB90InitializeHardware, HSLB90GetFreeFS, HSLB90GetGclk, HSLB90GetPInSSystemCLock,
     HSLB90SetSystemCLock, HSLB90GetSystemCLock, HSLWQTHardwareReset},
};

TEST(DispatchTables, ChipVariantsPerDevice) {
  for (const ChipRow& row : kChipRows) {
    hwtest::HwBoard hw(hwtest::Config(row.device));
    BOARDHANDLE* h = hw.h();
    ASSERT_EQ(hw.Open(), 0u) << std::hex << row.device;
    const DEVICEJUMPTABLE& t = h->oJumpTable;
    EXPECT_EQ(t.InitializeHardware, row.initializeHardware) << std::hex << row.device;
    EXPECT_EQ(t.GetFreeFS, row.getFreeFS) << std::hex << row.device;
    EXPECT_EQ(t.GetGclk, row.getGclk) << std::hex << row.device;
    EXPECT_EQ(t.GetPInSSystemCLock, row.getPinsClock) << std::hex << row.device;
    EXPECT_EQ(t.SetSystemCLock, row.setSystemClock) << std::hex << row.device;
    EXPECT_EQ(t.GetSystemCLock, row.getSystemClock) << std::hex << row.device;
    EXPECT_EQ(t.HardwareReset, row.hardwareReset) << std::hex << row.device;
    // Common slots.
    EXPECT_EQ(t.SetMode, HSLKSTSetMode);
    EXPECT_EQ(t.I2COpenPort, HSLKSTI2COpenPort);
    EXPECT_EQ(t.I2CGetSDA, HSLKSTI2CGetSDA);
    EXPECT_EQ(t.InitAccess, HSLKSTInitAccess);
    EXPECT_EQ(t.InitExtraJmpTbl, HSLKSTInitExtraJmpTbl);
    EXPECT_EQ(t.GetOutputInfo, HSLKSTGetOutputInfo);
    EXPECT_EQ(t.GetMaxI2CClock, MDACFunctions.GetMaxI2CClock);
    EXPECT_EQ(h->pFPFunctions, &FPFunctions);
    EXPECT_EQ(h->pI2CFunctions, &I2CFunctions);
    EXPECT_EQ(h->pVLNFunctions, &VLNFunctions);
    EXPECT_EQ(h->pUnused, nullptr);
  }
}

TEST(DispatchTables, OpeningRunsAccessExtraTableAndBoardInfoInOrder) {
  hwtest::HwBoard hw(hwtest::Config(0x5D61));
  hw.h()->aulConfigOverride[1] = 0;
  ASSERT_EQ(hw.Open(), 0u);
  // The board information ran last: it loaded the built-in description (the
  // board has no video BIOS) and read its system clock through slot 51
  // (the description's system clock: FS 1 at 500,000 kHz, halved).
  EXPECT_EQ(orvstandin::CallCount(), 0u);
  EXPECT_EQ(PinsVersion(hw.h()), 0x600);
  EXPECT_EQ(hw.h()->oSystemClock.aulWord[0], 250u | (18u << 16) | (2u << 24));
}

TEST(DispatchTables, UnfilledSlotsRecordNotInitialised) {
  hwtest::HwBoard hw(hwtest::Config(0x5D62));
  BOARDHANDLE* h = hw.h();
  ASSERT_EQ(hw.Open(), 0u);
  DEVICEJUMPTABLE& t = h->oJumpTable;
  SYSCLOCKINFO clock{};
  struct Slot {
    const char* name;
    std::function<HALSTATUS()> call;
  } slots[] = {
      {"5 SetSystemClock", [&] { return t.SetSystemClock(h, &clock); }},
      {"6 SetDisplayOrg", [&] { return t.SetDisplayOrg(h, 0, 0); }},
      {"15 SetTVOutMode", [&] { return t.SetTVOutMode(h, &h->aModeInfo[0]); }},
      {"16 SetTVColorBarMode", [&] { return t.SetTVColorBarMode(h); }},
      {"17 SetTVPassThroughMode", [&] { return t.SetTVPassThroughMode(h, 1); }},
      {"18 SetTVDisableMode", [&] { return t.SetTVDisableMode(h); }},
      {"30", [&] { return t.Slot30(h); }},
      {"32", [&] { return t.Slot32(h, 2); }},
      {"33", [&] { return t.Slot33(h, 2); }},
  };
  for (const Slot& slot : slots) {
    h->status = 0;
    EXPECT_EQ(slot.call(), kErrSlotNotInitialised) << slot.name;
    // A failed handle keeps its first error.
    h->status = 0xb1d05120;
    EXPECT_EQ(slot.call(), 0xb1d05120u) << slot.name;
  }
}

TEST(DispatchTables, UnsupportedChipKeepsStubSlots) {
  hwtest::HwBoard hw(hwtest::Config(0x6A19));
  BOARDHANDLE* h = hw.h();
  EXPECT_EQ(hw.Open(), kErrChipNotSupported);
  EXPECT_EQ(h->pFPFunctions, nullptr);
  EXPECT_EQ(h->pMISCFunctions, &MISCFunctions);
  EXPECT_EQ(orvstandin::CallCount(), 0u);  // board information never asked
  h->status = 0;
  EXPECT_EQ(h->oJumpTable.InitAccess(h), kErrSlotNotInitialised);
  h->status = 0;
  EXPECT_EQ(h->oJumpTable.SetMode(h, &h->aModeInfo[0]), kErrSlotNotInitialised);
}

TEST(DispatchTables, OpenClearsTheSecondOverrideWord) {
  hwtest::HwBoard hw(hwtest::Config(0x0A41));
  BOARDHANDLE* h = hw.h();
  HALPGetBoardConfigSpaceInfo(h);
  h->aulConfigOverride[0] = 7;
  h->aulConfigOverride[1] = 9;
  EXPECT_EQ(HSLInit(h), 0u);
  EXPECT_EQ(h->aulConfigOverride[0], 7u);
  EXPECT_EQ(h->aulConfigOverride[1], 0u);
}

TEST(DispatchTables, StaticTableSlotOrder) {
  EXPECT_EQ(MISCFunctions.MergeStatus, ReturnCorrectError);
  EXPECT_EQ(MISCFunctions.RecordError, SetError);
  EXPECT_EQ(MISCFunctions.ReadPins, HSLBIOSReadPins);
  EXPECT_EQ(ClientFunctions.Wait, ClientWait);
  EXPECT_EQ(ClientFunctions.WriteRegShadowDword, ClientWriteRegShadowDword);
  EXPECT_EQ(MDACFunctions.GetMaxI2CClock, HSLDACGetMaxI2CClock);
  EXPECT_EQ(I2CFunctions.Execute, HALPI2CExecute);
  EXPECT_EQ(I2CFunctions.WaitAck, HALPI2CWaitAck);
  EXPECT_EQ(CRTCFunctions.UseLineDoubling, HSLCRTUseLineDoubling);
  EXPECT_EQ(CRTCFunctions.ValidateHwSync, HSLCRTCValidateHwSync);
  EXPECT_EQ(VLNFunctions.SetBrightness, HSLCVE2SetBrightness);
  EXPECT_EQ(VLNFunctions.SetTVPassThroughMode, HSLVLNSetTVPassThroughMode);
  EXPECT_EQ(EDIDFunctions.ReadDDCEDID, HALPReadDDCEDID);
  EXPECT_EQ(EDIDFunctions.IsEDIDBufferValid, HALPIsEDIDBufferValid);
  EXPECT_EQ(ADDONFunctions.DetectSIPanelLink, HSLDetectSIPanelLink);
  EXPECT_EQ(FPFunctions.GetSIPanelLinkHotPlugStatus, HSLGetSIPanelLinkHotPlugStatus);
}

// The add-on slot decides the board's words from the built-in description
// (analog outputs 0 and 1, TV output 1, two connectors); neither it nor the
// set-clock slot touches anything once the status has failed.
TEST(DispatchTables, AddOnAndSystemClockSlotsRunTheChipLayer) {
  hwtest::HwBoard hw(hwtest::Config(0x5D61));
  BOARDHANDLE* h = hw.h();
  ASSERT_EQ(hw.Open(), 0u);
  SYSCLOCKINFO clock{};
  clock.aulWord[0] = 100u | (1u << 24);
  const uint32_t select = PinsDword(h, kPinsClockSelect);
  h->ulOutputCaps = 0;
  h->status = 0xb1000001;
  EXPECT_EQ(h->oJumpTable.GetAddOnInfo(h), 0xb1000001u);
  EXPECT_EQ(h->oJumpTable.SetSystemCLock(h, &clock), 0xb1000001u);
  EXPECT_EQ(h->ulOutputCaps, 0u);
  EXPECT_EQ(PinsDword(h, kPinsClockSelect), select);
  h->status = kHalOk;
  EXPECT_EQ(h->oJumpTable.GetAddOnInfo(h), kHalOk);
  EXPECT_EQ(h->ulOutputCaps, 0x2000Bu);
}

}  // namespace
