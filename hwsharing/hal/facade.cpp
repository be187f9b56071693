// The facade's board, mode, power and VGA functions.
#include "hwsharing/hal/facade.h"

#include <cstring>

#include "core/chip_ids.h"
#include "core/client_services.h"
#include "core/regs/cursor.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/hal/hal_entries.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/outputs/vga_return.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/tv_parameters.h"

namespace {

constexpr uint32_t kQuadChrontelInvertedType = 3;
constexpr size_t kBiosInfoBytes = 128;

// Output capability words for packed pixels (by type) and dual link.
constexpr uint32_t kPackedPixelCapsType2 = 13;
constexpr uint32_t kPackedPixelCapsType3 = 15;
constexpr uint32_t kPackedPixelCapsOther = 7;
constexpr uint32_t kDualLinkCapsWords[4] = {2, 1, 0xFFFFFFFF, 0xFFFFFFFF};
constexpr uint32_t kCapsDualLinkOutput0 = 0x20;

// Output-existence bits of the capability word, per output.
constexpr uint32_t kOutputExists[4] = {0x1 | 0x4, 0x2 | 0x200000, 0x800000 | 0x100, 0x1000000 | 0x200};

// flOutput bits of a mode shown through a TV encoder.
constexpr uint32_t kTvPathBits = 0x2000000 | 0x4000000;
constexpr uint32_t kTvModeBitsSupported = 0x4800000;
constexpr uint32_t kTvModeWordOther = 0x3600000;
constexpr uint32_t kSignalTvAdjust = 0x8000;
constexpr size_t kTvAdjustCommonValue = 2;

// TV proc-amp levels the mode sets ask for.
constexpr uint8_t kProcAmpDefault = 1;
constexpr uint8_t kProcAmpForMode = 5;

// Sizes (display or desktop) whose modes need genlock on quad boards.
struct Size {
  uint32_t w, h;
};
constexpr Size kGenlockSizes[] = {{460, 1200}, {460, 2400}, {480, 1200},  {480, 2400},  {920, 2400}, {960, 2400},
                                  {1840, 2400}, {1920, 1200}, {1920, 2400}, {3680, 2400}, {3840, 2400}};

bool NeedsGenlock(uint32_t w, uint32_t h) {
  for (const Size& s : kGenlockSizes)
    if (s.w == w && s.h == h) return true;
  return false;
}

// DPMS level 0-3 to the power state s of the two HALSetPowerState calls.
constexpr uint32_t kDpmsPowerState[4] = {0, 1, 4, 8};
constexpr uint32_t kPowerStatePrepare = 0x20000000;
constexpr uint32_t kPowerStateApply = 0x10000000;

// The register of an encoder that answers 0xDE or 0x20 while it carries the
// VGA picture.
constexpr uint32_t kEncoderVgaRegister = 0x49;
constexpr uint8_t kEncoderVgaAnswers[] = {0xDE, 0x20};
constexpr uint32_t kEncoders = 4;

}  // namespace

// ---- Library, board and records -----------------------------------------------------

uint32_t ORVGetBOARDHANDLESize() { return HALQueryHandleSize(nullptr); }

HALSTATUS ORVOpenLibrary(BOARDHANDLE* h, ORVClientRecord* client) {
  h->pClient = client;
  if (HALQueryBoardSupport(h) != kHalOk) return h->status;
  HALGetBoardInfo(h);
  return HALGetAllMonitorInfo(h);
}

HALSTATUS ORVCloseLibrary(BOARDHANDLE* h) {
  ClientCloseRegisterBase(h);
  ClientCloseMemoryBase(h);
  return kHalOk;
}

HALSTATUS ORVGetBiosInfo(BOARDHANDLE* h, uint8_t* buffer) {
  std::memcpy(buffer, h->oPins.aucData, kBiosInfoBytes);
  return h->status;
}

HALSTATUS ORVInitKstHardware(BOARDHANDLE* h) { return HALInitHardware(h); }

uint32_t ORVGetMaxOutputs(BOARDHANDLE* h) {
  uint32_t outputs = 0;
  for (uint32_t bits : kOutputExists)
    if (h->ulOutputCaps & bits) ++outputs;
  return outputs;
}

uint32_t ORVIsQuadBoard(BOARDHANDLE* h) { return IsQuadBoard(h) ? 1 : 0; }

uint32_t ORVQuadChrontelInversion(BOARDHANDLE* h) { return BoardType(h) == kQuadChrontelInvertedType ? 1 : 0; }

uint32_t ORVGetMaxPixelClock(BOARDHANDLE* h, uint32_t type, uint32_t head) {
  const OUTPUTLIMIT* limits = h->oBoardInfo.aOutputLimit;
  // Types 0 and 1 are the outputs of the first two controllers: head 1 their
  // digital limit, any other head their analog one.
  if (type <= 1) return head == 1 ? limits[type].ulSecondLimit : limits[type].ulMaxClock;
  if (type <= 3) return limits[type].ulMaxClock;
  return kDefaultMaxPixelClockKhz;
}

void ORVSetPackedPixelCaps(BOARDHANDLE* h, uint32_t type) {
  const uint32_t caps = type == 2 ? kPackedPixelCapsType2 : type == 3 ? kPackedPixelCapsType3 : kPackedPixelCapsOther;
  for (uint32_t& word : h->aulOutputCapsWord) word |= caps;
}

uint32_t ORVSetDualLinkCaps(BOARDHANDLE* h) {
  // Reading the board information again clears the handle; the monitors
  // found at open and a saved VGA state (with its encoders and FPGA sets)
  // are still what they were.
  MONITORINFO monitors[4];
  uint8_t vga[kVgaStateSize];
  VGARETURNSTATE console;
  std::memcpy(monitors, h->aMonitorInfo, sizeof(monitors));
  std::memcpy(vga, h->aucVgaState, sizeof(vga));
  std::memcpy(&console, &h->oVgaReturn, sizeof(console));
  HALGetBoardInfo(h);
  std::memcpy(h->aMonitorInfo, monitors, sizeof(monitors));
  std::memcpy(h->aucVgaState, vga, sizeof(vga));
  std::memcpy(&h->oVgaReturn, &console, sizeof(console));
  if ((h->ulOutputCaps & (kCapsHotPlugInterrupt | kCapsDualLinkOutput0)) !=
      (kCapsHotPlugInterrupt | kCapsDualLinkOutput0))
    return 0;
  std::memcpy(h->aulOutputCapsWord, kDualLinkCapsWords, sizeof(kDualLinkCapsWords));
  return 1;
}

// ---- Modes ----------------------------------------------------------------------------

HALSTATUS ORVValidateMode(BOARDHANDLE* h, QLBMODEINFO* qlb) {
  HALSetTVStandard(h, static_cast<uint8_t>(qlb->ulTvStandard));
  MODEINFO mode;
  CastToMODEINFO(&mode, qlb);
  return HALValidateMode(h, &mode);
}

HALSTATUS ORVValidateVideoParameters(BOARDHANDLE* h, QLBMODEINFO* qlb) {
  MODEINFO mode;
  CastToMODEINFO(&mode, qlb);
  HALSetTVStandard(h, static_cast<uint8_t>(qlb->ulTvStandard));
  return HALValidateVideoParameters(h, &mode);
}

HALSTATUS ORVGetTVOutputParameters(BOARDHANDLE* h, QLBMODEINFO* qlb) {
  MODEINFO mode;
  CastToMODEINFO(&mode, qlb);
  HALGetTVOutputParameters(h, &mode, static_cast<uint8_t>(qlb->ulTvStandard));
  CastToQLBMODEINFO(qlb, &mode);
  return h->status;
}

HALSTATUS ORVSetMode(BOARDHANDLE* h, QLBMODEINFO* qlb) {
  if (ORVIsQuadBoard(h) &&
      (NeedsGenlock(qlb->ulDispWidth, qlb->ulDispHeight) || NeedsGenlock(qlb->ulDeskWidth, qlb->ulDeskHeight)))
    ORVEnableGenlock(h);
  MODEINFO mode;
  CastToMODEINFO(&mode, qlb);
  if (mode.flOutput & kTvPathBits) {
    TVPROCAMP settings{};
    HALGetTVProcAmp(h, &settings, static_cast<uint8_t>(qlb->ulTvStandard), kProcAmpForMode);
    HALSetTVProcAmp(h, &settings, 0);
  }
  // The validations do not stop the set; only the set's status counts.
  HALValidateMode(h, &mode);
  HALValidateVideoParameters(h, &mode);
  return HALSetMode(h, &mode);
}

namespace {

// The steps of a TV mode set; `kvd` adds the TV scaling of the record.
HALSTATUS SetTvMode(BOARDHANDLE* h, const QLBMODEINFO* qlb, bool kvd) {
  MODEINFO mode;
  CastToMODEINFO(&mode, qlb);
  if (!kvd) {
    if (IsSupportedChip(h->usDeviceId)) {
      mode.flOutput |= kTvModeBitsSupported;
    } else {
      mode.flOutput = kTvModeWordOther;
    }
  }
  const auto standard = static_cast<uint8_t>(qlb->ulTvStandard);
  HALSetTVStandard(h, standard);
  HALSetTVCableType(h, static_cast<uint8_t>(qlb->ulTvCableType));
  TVPROCAMP settings{};
  HALGetTVProcAmp(h, &settings, standard, kProcAmpDefault);
  HALSetTVProcAmp(h, &settings, 0);
  HALValidateMode(h, &mode);
  if (kvd && qlb->ulTvScaling != 0) {
    mode.flSignalMode |= kSignalTvAdjust;
    for (auto& group : mode.acTvAdjust) group[kTvAdjustCommonValue] = static_cast<int8_t>(qlb->ulTvScaling & 0xFF);
  }
  HALGetTVOutputParameters(h, &mode, standard);
  HALValidateVideoParameters(h, &mode);
  return HALSetMode(h, &mode);
}

}  // namespace

HALSTATUS ORVSetTVMode(BOARDHANDLE* h, QLBMODEINFO* qlb) { return SetTvMode(h, qlb, false); }

HALSTATUS ORVSetKvdTVMode(BOARDHANDLE* h, QLBMODEINFO* qlb) { return SetTvMode(h, qlb, true); }

HALSTATUS ORVEnableGenlock(BOARDHANDLE* h) {
  h->ulBoardFlags |= kBoardFlagGenlock;
  return h->status;
}

HALSTATUS ORVSetDisplayStart(BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y) {
  return HALSetDisplayStart(h, controller, x, y);
}

HALSTATUS ORVSetColorLUT(BOARDHANDLE* h, uint32_t controller, uint32_t first, void* table, uint32_t count) {
  return HALSetColorLUT(h, controller, first, table, count);
}

void ORVSetDPMS(BOARDHANDLE* h, uint32_t level) {
  if (level >= sizeof(kDpmsPowerState) / sizeof(kDpmsPowerState[0])) return;
  HALSetPowerState(h, kPowerStatePrepare + kDpmsPowerState[level]);
  HALSetPowerState(h, kPowerStateApply + kDpmsPowerState[level]);
}

HALSTATUS ORVSetTVStandard(BOARDHANDLE* h, uint32_t code) { return HALSetTVStandard(h, static_cast<uint8_t>(code)); }

HALSTATUS ORVSetTVCableType(BOARDHANDLE* h, uint32_t code) {
  return HALSetTVCableType(h, static_cast<uint8_t>(code));
}

HALSTATUS ORVDisableCursors(BOARDHANDLE* h) {
  RegWrite(h, kRegCursorControl0, 0);
  RegWrite(h, kRegCursorControl1, 0);
  return HSLKSTWaitForVertical(h, 0, 0, 0);
}

// ---- VGA ------------------------------------------------------------------------------

HALSTATUS ORVDisableControllers(BOARDHANDLE* h) { return HSLKSTDisableControllers(h); }

HALSTATUS ORVVgaDisableControllers(BOARDHANDLE* h) {
  uint32_t order[3] = {1, 2, 3};
  if (ORVIsQuadBoard(h)) {
    // The quad board's console controller goes off first.
    order[0] = BoardType(h) == kQuadChrontelInvertedType ? 0 : 3;
    order[1] = 1;
    order[2] = 2;
  }
  // Through the set-mode slot, which holds the chip's controller set on every
  // supported chip.
  for (uint32_t c : order) {
    h->aModeInfo[c].flOutput |= kOutControllerOff;
    if (h->oJumpTable.SetMode == nullptr) return SetError(h, kErrSlotNotInitialised);
    h->oJumpTable.SetMode(h, &h->aModeInfo[c]);
  }
  return h->status;
}

HALSTATUS ORVSwitchToVGA(BOARDHANDLE* h) { return HSLKSTSwitchToVGA(h); }

HALSTATUS ORVSaveVgaState(BOARDHANDLE* h, uint32_t kind) { return HSLKSTGetVgaState(h, h->aucVgaState, kind); }

HALSTATUS ORVRestoreVgaState(BOARDHANDLE* h, uint32_t kind) { return HSLKSTReturnToVga(h, h->aucVgaState, kind); }

HALSTATUS ORVSaveFpgaVgaState(BOARDHANDLE* h, uint32_t kind) { return HSLKSTGetFpgaVgaState(h, kind); }

HALSTATUS ORVGetVgaOutputState(BOARDHANDLE* h, uint32_t* word) { return HSLKSTGetVgaOutputState(h, word); }

uint32_t ORVIsVGA(BOARDHANDLE* h) {
  uint32_t found = 0;
  for (uint32_t encoder = 0; encoder < kEncoders && found == 0; ++encoder) {
    // An encoder that does not answer says nothing about the others.
    h->status = kHalOk;
    uint8_t value = 0;
    HSLCHRI2CRead(h, encoder, kEncoderVgaRegister, &value, 1);
    if (HalFailed(h->status)) continue;
    for (uint8_t answer : kEncoderVgaAnswers)
      if (value == answer) found = 1;
  }
  h->status = kHalOk;
  return found;
}
