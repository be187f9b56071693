#include "hwsharing/hal/hal_entries.h"

#include <cstring>

#include "core/chip_ids.h"
#include "core/client_services.h"
#include "core/regs/display.h"
#include "hwsharing/chip/board_setup.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/hal/discrete_timing.h"
#include "hwsharing/hal/edid.h"

namespace {

// The boards the library drives.
constexpr uint16_t kSupportedDevices[] = {kDeviceKestrion1, kDeviceKestrion2, kDeviceKestrionNext1,
                                          kDeviceKestrionNext2, kDeviceKestrionNext3};

// Calls a slot of the device jump table. A handle that was never set up
// has no table yet: its slots answer as unfilled ones do.
template <class Slot, class... Args>
HALSTATUS CallSlot(BOARDHANDLE* h, Slot* slot, Args... args) {
  if (slot == nullptr) return SetError(h, kErrSlotNotInitialised);
  return slot(h, args...);
}

// An entry that is one slot: clear, call, return the status.
template <class Slot, class... Args>
HALSTATUS SlotEntry(BOARDHANDLE* h, Slot* slot, Args... args) {
  h->status = kHalOk;
  return CallSlot(h, slot, args...);
}

}  // namespace

uint32_t HALQueryLibraryVersion(BOARDHANDLE*) { return kLibraryVersion; }

uint32_t HALQueryHandleSize(BOARDHANDLE*) { return sizeof(BOARDHANDLE); }

HALSTATUS HALQueryBoardSupport(BOARDHANDLE* h) {
  h->status = kHalOk;
  const uint32_t id = CfgRead(h, kCfgVendorDevice);
  for (uint16_t device : kSupportedDevices)
    if (id == KestrionVendorDevice(device)) return h->status;
  return SetError(h, kErrBoardNotSupported);
}

HALSTATUS HALGetBoardConfigSpaceInfo(BOARDHANDLE* h) {
  h->status = kHalOk;
  return HALPGetBoardConfigSpaceInfo(h);
}

HALSTATUS HALGetBoardInfo(BOARDHANDLE* h) {
  h->status = kHalOk;
  HALPGetBoardConfigSpaceInfo(h);
  HSLInit(h);
  if (HalFailed(h->status)) return h->status;
  CallSlot(h, h->oJumpTable.GetAddOnInfo);
  // Every controller starts off.
  for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
  return h->status;
}

HALSTATUS HALValidateMode(BOARDHANDLE* h, MODEINFO* mode) { return SlotEntry(h, h->oJumpTable.ValidateMode, mode); }

HALSTATUS HALValidateVideoParameters(BOARDHANDLE* h, MODEINFO* mode) {
  return SlotEntry(h, h->oJumpTable.ValidateVideoParameters, mode);
}

HALSTATUS HALSwitchToVGA(BOARDHANDLE* h) { return SlotEntry(h, h->oJumpTable.SwitchToVGA); }

HALSTATUS HALSetMode(BOARDHANDLE* h, MODEINFO* mode) {
  h->status = kHalOk;
  ClientCustomCall(h, kNoticeBeforeSetMode, mode, mode);
  h->status = kHalOk;
  CallSlot(h, h->oJumpTable.SetMode, mode);
  if (HalFailed(h->status)) return h->status;
  ClientCustomCall(h, kNoticeAfterSetMode, mode, mode);
  // A warning of the set is not passed on.
  h->status = kHalOk;
  return h->status;
}

HALSTATUS HALSetSystemClock(BOARDHANDLE* h, const SYSCLOCKINFO* clock) {
  h->status = kHalOk;
  h->oSystemClock = *clock;
  h->ulBoardFlags |= kBoardFlagCustomSysClock;
  return CallSlot(h, h->oJumpTable.SetSystemClock, &h->oSystemClock);
}

HALSTATUS HALSetStandardSystemClock(BOARDHANDLE* h) {
  h->ulBoardFlags &= ~kBoardFlagCustomSysClock;
  return SlotEntry(h, h->oJumpTable.SetSystemClock, &h->oStandardSystemClock);
}

HALSTATUS HALSetDisplayOrg(BOARDHANDLE* h, uint32_t controller, uint32_t org) {
  return SlotEntry(h, h->oJumpTable.SetDisplayOrg, controller, org);
}

HALSTATUS HALSetDisplayStart(BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y) {
  return SlotEntry(h, h->oJumpTable.SetDisplayStart, controller, x, y);
}

HALSTATUS HALSetPowerState(BOARDHANDLE* h, uint32_t state) {
  h->status = kHalOk;
  // Switching the board off and on again happens once each way.
  if (state == kPowerStateOn) {
    if (!(h->ulBoardFlags & kBoardFlagAcpiOff)) return h->status;
    CallSlot(h, h->oJumpTable.SetPowerState, state);
    h->ulBoardFlags &= ~kBoardFlagAcpiOff;
  } else if (state == kPowerStateOff) {
    if (h->ulBoardFlags & kBoardFlagAcpiOff) return h->status;
    CallSlot(h, h->oJumpTable.SetPowerState, state);
    h->ulBoardFlags |= kBoardFlagAcpiOff;
  } else {
    CallSlot(h, h->oJumpTable.SetPowerState, state);
  }
  return h->status;
}

HALSTATUS HALCustomCall(BOARDHANDLE* h, uint32_t code, void* p, void* q) {
  h->status = kHalOk;
  return HALPCustomCall(h, code, p, q);
}

HALSTATUS HALPCustomCall(BOARDHANDLE* h, uint32_t code, void* p, void* q) {
  if (HalFailed(h->status)) return h->status;
  switch (code & kCustomCallClassMask) {
    case kCustomCallChip:
      return CallSlot(h, h->oJumpTable.CustomCall, code, p, q);
    case kCustomCallNothing:
      return h->status;
    case kCustomCallClient:
      ClientCustomCall(h, code, p, q);
      return h->status;
    default:
      return SetError(h, kErrCustomCallClass);
  }
}

HALSTATUS HALInitHardware(BOARDHANDLE* h) { return SlotEntry(h, h->oJumpTable.InitializeHardware); }

HALSTATUS HALValidatePhysAddr(BOARDHANDLE* h) { return SlotEntry(h, h->oJumpTable.ValidatePhysAddr); }

HALSTATUS HALConfigOverride(BOARDHANDLE* h, uint32_t word1, uint32_t word2) {
  SlotEntry(h, h->oJumpTable.ConfigOverride, word1, word2);
  h->aulConfigOverride[0] = word1;
  h->aulConfigOverride[1] = word2;
  return h->status;
}

HALSTATUS HALValidateDualCRTCConfig(BOARDHANDLE* h, MODEINFO* modes) {
  h->status = kHalOk;
  if (!(h->ulOutputCaps & kCapsDualController)) return h->status;
  return CallSlot(h, h->oJumpTable.ValidateDualCRTCConfig, modes);
}

HALSTATUS HALGetModeBandwidth(BOARDHANDLE* h, MODEINFO* mode, uint32_t* bandwidth) {
  h->status = kHalOk;
  if (!(h->ulOutputCaps & kCapsDualController)) return h->status;
  return CallSlot(h, h->oJumpTable.GetModeBandwidth, mode, bandwidth);
}

HALSTATUS HALClearDisplay(BOARDHANDLE* h, MODEINFO* mode) { return SlotEntry(h, h->oJumpTable.ClearDisplay, mode); }

HALSTATUS HALSetColorLUT(BOARDHANDLE* h, uint32_t controller, uint32_t first, void* table, uint32_t count) {
  // The slot takes the range first and the controller last.
  return SlotEntry(h, h->oJumpTable.SetColorLUT, first, count, static_cast<const PUBLICLUT*>(table),
                   controller);
}

HALSTATUS HALDeviceIoControl(BOARDHANDLE* h, uint32_t code, const void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* written) {
  return SlotEntry(h, h->oJumpTable.DeviceIoControl, code, in, inSize, out, outSize, written);
}

HALSTATUS HALGetAllMonitorInfo(BOARDHANDLE* h) { return SlotEntry(h, h->oJumpTable.GetAllMonitorInfo); }

HALSTATUS HALI2COpenPort(BOARDHANDLE* h, uint32_t port, uint32_t word, uint32_t* rate) {
  h->status = kHalOk;
  if (rate == nullptr || *rate != 0) {
    CallSlot(h, h->oJumpTable.I2COpenPort, static_cast<uint32_t*>(nullptr), port);
    h->ulI2cPortWord = word;
    return h->status;
  }
  uint32_t halfPeriod = kI2cDefaultHalfPeriodUs;
  CallSlot(h, h->oJumpTable.I2COpenPort, &halfPeriod, port);
  h->ulI2cPortWord = word;
  if (halfPeriod == 0) halfPeriod = kI2cDefaultHalfPeriodUs;
  *rate = 1000000 / (2 * halfPeriod);
  return h->status;
}

HALSTATUS HALI2CClosePort(BOARDHANDLE* h, uint32_t) { return SlotEntry(h, h->oJumpTable.I2CClosePort); }

HALSTATUS HALValidateDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count) {
  return SlotEntry(h, h->oJumpTable.ValidateDigitalOutputFormat, formats, count);
}

HALSTATUS HALSetDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count) {
  return SlotEntry(h, h->oJumpTable.SetDigitalOutputFormat, formats, count);
}

HALSTATUS HALSetOverscanColor(BOARDHANDLE* h, uint32_t colour, uint32_t controller) {
  return SlotEntry(h, h->oJumpTable.SetOverscanColor, colour, controller);
}

HALSTATUS HALGetOutputInfo(BOARDHANDLE* h, OUTPUTINFO* info, uint32_t requestMask) {
  return SlotEntry(h, h->oJumpTable.GetOutputInfo, info, requestMask);
}

HALSTATUS HALClearHotPlugHwInt(BOARDHANDLE* h) {
  h->status = kHalOk;
  if (!(h->ulOutputCaps & kCapsHotPlugInterrupt)) return SetError(h, kErrNoHotPlugInterrupt);
  if (h->ulFeatures & (kAddOnPanelLinkA | kAddOnPanelLinkB)) {
    // The DVI transmitters' module takes the acknowledge in its register.
    if (h->pFPFunctions == nullptr) return SetError(h, kErrSlotNotInitialised);
    uint8_t value = 0;
    h->pFPFunctions->ReadPanelLinkModuleRegister(h, &value);
    h->pFPFunctions->WritePanelLinkModuleRegister(h, static_cast<uint8_t>(value | kPanelLinkHotPlugAcknowledge));
    return h->status;
  }
  RegModify(h, kRegHotPlug, 0, kHotPlugAcknowledge);
  return h->status;
}

HALSTATUS HALGetDiscreteVideoParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t identifier) {
  h->status = kHalOk;
  return HALPGetDiscreteVideoParameters(h, mode, identifier);
}

HALSTATUS HALConvertEDID2toEDID1(BOARDHANDLE* h, uint8_t* out, const uint8_t* edid2) {
  h->status = kHalOk;
  uint8_t block[kEdidBufferSize];
  std::memcpy(block, edid2, sizeof(block));
  HALPConvertEDID2toEDID1(block);
  std::memcpy(out, block, kEdidBlockSize);
  return h->status;
}
