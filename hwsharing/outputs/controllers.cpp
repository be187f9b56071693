// Display controllers: clock select, DC parameters, enable and disable,
// video reset and synchronisation.
#include "hwsharing/outputs/controllers.h"

#include <algorithm>
#include <iterator>
#include <cstring>

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "core/regs/vga.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/fpga_modes.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/priority.h"
#include "hwsharing/outputs/transitions.h"

namespace {

constexpr uint32_t kClockWaitUnits = 10;
constexpr uint8_t kMiscOutControllerClock = 0x68;
constexpr uint32_t kPreloadSplitKHz = 350000;
constexpr uint32_t kHorizontalDvoShift = 8;
constexpr uint32_t kDefaultPriority = 3;
constexpr uint32_t kPatchStep = 2;
constexpr uint32_t kPatchMask = 0xFFF;
constexpr uint32_t kSecondFormatWord = 0x10000;  // bits 2-16 hold 0x4000
constexpr uint32_t kControlTv1 = 1u << 9;
constexpr uint32_t kControlInterlaced = 1u << 11;
constexpr uint32_t kControlEarly10Bit = 0xFFu << 8;
constexpr uint32_t kEarly10BitInterlaced = 10;
constexpr uint32_t kEarly10BitProgressive = 2;

uint32_t ModuleReg(uint32_t reg, uint32_t module) { return reg + kControllerStride * module; }
uint32_t ControlReg(uint32_t controller) {
  return ModuleReg(controller < 2 ? kRegControllerCtl : kRegController2Ctl, controller & 1);
}

int32_t Signed(const MODEINFO& m, size_t offset) {
  int32_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&m) + offset, sizeof(v));
  return v;
}

// Bits 0-11 and 16-27 each stepped by `step`, modulo 4096.
uint32_t StepHalves(uint32_t v, uint32_t step) {
  const uint32_t low = ((v & kPatchMask) + step) & kPatchMask;
  const uint32_t high = (((v >> 16) & kPatchMask) + step) & kPatchMask;
  return (v & ~(kPatchMask | (kPatchMask << 16))) | low | (high << 16);
}

bool FpgaVideoBoard(const BOARDHANDLE* h) {
  return IsQuadBoard(h) || IsTwinBoard(h) || IsExpansionBoard(h) || IsQuadDviBoard(h);
}

// A digital output of the word whose format is one of `formats`.
template <size_t N>
bool DigitalFormatIn(const BOARDHANDLE* h, uint32_t flOutput, const uint32_t (&formats)[N],
                     bool routedOnly) {
  static constexpr uint32_t kDigital[4] = {kOutDigital0, kOutDigital1, kOutDigital2, kOutDigital3};
  for (uint32_t i = 0; i < 4; ++i) {
    if (!(flOutput & kDigital[i])) continue;
    if (routedOnly && !DigitalRoutedThroughCem(h, kDigital[i])) continue;
    if (std::find(std::begin(formats), std::end(formats), h->aulDigitalOutputFormat[i]) !=
        std::end(formats))
      return true;
  }
  return false;
}

}  // namespace

bool GetSurfFormat(const BOARDHANDLE* h, const MODEINFO* mode, uint32_t* code) {
  static constexpr uint32_t kPackedThroughCem[] = {4, 5, 6, 7, 8, 9, 19, 20, 22, 24, 25, 26};
  static constexpr uint32_t kWideOnDigital[] = {13, 14, 15, 21, 16, 17};
  switch (mode->ulBpp) {
    case 8: *code = 16; return true;
    case 15: *code = 38; return true;
    case 16: *code = 40; return true;
    case 32: *code = 50; return true;
    case 0x40000: *code = 46; return true;
    case 0xB0000: *code = 59; return true;
    case 0xC0000:
      if (DigitalFormatIn(h, mode->flOutput, kPackedThroughCem, true))
        *code = 50;
      else
        *code = DigitalFormatIn(h, mode->flOutput, kWideOnDigital, false) ? 50 : 52;
      return true;
    default:
      return false;
  }
}

HALSTATUS HSLKSTSelectDisplayControllerClock(BOARDHANDLE* h, MODEINFO* mode, uint32_t code) {
  if (HalFailed(h->status)) return h->status;
  if (SelectDCModule(mode) == 0) {
    uint32_t v = RegRead(h, kRegModuleClock0);
    if (!(v & kModuleClockHold) && ModuleClockSelect::Get(v) == code) return h->status;
    v |= kModuleClockHold;
    RegWrite(h, kRegModuleClock0, v);
    Delay(h, kClockWaitUnits);
    v = ModuleClockMode::Set(v, 2) & ~kModuleClockBit10;
    RegWrite(h, kRegModuleClock0, v);
    v = ModuleClockSelect::Set(v, code);
    RegWriteByte(h, kVgaMiscOutWrite, kMiscOutControllerClock);
    RegWrite(h, kRegModuleClock0, v);
    RegWrite(h, kRegModuleClock0, v & ~kModuleClockHold);
    return h->status;
  }
  uint32_t v1 = RegRead(h, kRegModuleClock1);
  if (!(v1 & kModuleClockHold) && ModuleClockSelect::Get(v1) == code) return h->status;
  RegWrite(h, kRegModuleClock1, v1 | kModuleClockHold);
  Delay(h, kClockWaitUnits);
  uint32_t v0 = RegRead(h, kRegModuleClock0);
  v1 = RegRead(h, kRegModuleClock1);
  if ((mode->flOutput & kOutTv1) && !IsQuadBoard(h)) {
    v1 = ModuleClockMode::Set(v1, 3) | kModuleClockTv1;
    v0 |= kModuleClock0TvSelectOn;
  } else {
    v1 = ModuleClockMode::Set(v1, 2) & ~kModuleClockTv1;
  }
  v0 &= ~kModuleClockBit10;
  v1 &= ~kModuleClockBit10;
  RegWrite(h, kRegModuleClock0, v0);
  RegWrite(h, kRegModuleClock1, v1);
  v1 = ModuleClockSelect::Set(v1, code);
  RegWrite(h, kRegModuleClock1, v1);
  RegWrite(h, kRegModuleClock1, v1 & ~kModuleClockHold);
  return h->status;
}

HALSTATUS HSLKSTComputeIntermediateVidParm(BOARDHANDLE* h, uint32_t kind, const MODEINFO* mode,
                                           uint32_t* total, uint32_t* active,
                                           uint32_t* blankStart, uint32_t* blankEnd,
                                           uint32_t* syncStart, uint32_t* syncEnd) {
  if (HalFailed(h->status)) return h->status;
  const bool horizontal = kind == kVidParmHorizontal;
  const int64_t act = horizontal ? mode->ulDispWidth : mode->ulDispHeight;
  const int64_t front = horizontal ? mode->ulHFPorch : mode->ulVFPorch;
  const int64_t sync = horizontal ? mode->ulHSync : mode->ulVSync;
  const int64_t back = horizontal ? mode->ulHBPorch : mode->ulVBPorch;
  const int64_t border = horizontal ? mode->ulHBorder : mode->ulVBorder;
  // The adjustment pair sits in the TV groups: groups 0 and 1 for the
  // horizontal values, 2 and 3 for the vertical ones.
  int64_t a = 0, b = 0;
  if (mode->flSignalMode & (horizontal ? kSignalHAdjustPair : kSignalVAdjustPair)) {
    const size_t first = offsetof(MODEINFO, acTvAdjust) + (horizontal ? 0 : 8);
    a = Signed(*mode, first);
    b = Signed(*mode, first + 4);
    if (a == -1 && b == -1) a = b = 0;
  }
  const int64_t tot = act + 2 * border + front + back + sync;
  int64_t bs = act + border;
  int64_t be = bs + front + back + sync;
  int64_t ss = bs + front;
  int64_t se = ss + sync;
  if (horizontal && !IsQuadBoard(h) &&
      (UsesDvo1(h, mode->flOutput) || UsesDvo2(h, mode->flOutput)) &&
      DirectOutputPath(h, mode->flOutput) && be >= se + kHorizontalDvoShift) {
    ss += kHorizontalDvoShift;
    se += kHorizontalDvoShift;
  }
  bs += a;
  be -= b;
  bs = std::min(bs, ss);
  be = std::max(be, se);
  *total = static_cast<uint32_t>(tot);
  *active = static_cast<uint32_t>(act);
  *blankStart = static_cast<uint32_t>(bs);
  *blankEnd = static_cast<uint32_t>(be);
  *syncStart = static_cast<uint32_t>(ss);
  *syncEnd = static_cast<uint32_t>(se);
  return h->status;
}

HALSTATUS HSLKSTGetCrtcPreloadCount(BOARDHANDLE* h, const MODEINFO* mode, uint32_t module,
                                    uint32_t* counts) {
  if (HalFailed(h->status)) return h->status;
  std::fill(counts, counts + 4, 0u);
  if (h->ulBoardFlags & kBoardFlagModulesInStep) return h->status;
  counts[3] = 1;
  const uint32_t otherModule = module == 0 ? 1 : 0;
  const MODEINFO& other = h->aModeInfo[otherModule];
  const uint32_t otherBytes = GetBytePerPixel(other.ulBpp);
  const uint32_t ownBytes = GetBytePerPixel(mode->ulBpp);
  if (RecordOff(other) || other.ulBpp == mode->ulBpp || other.ulPixClock < kPreloadSplitKHz ||
      otherBytes == 0 || ownBytes == 0)
    return h->status;
  counts[3] = 0;
  const uint32_t e = 1024 / otherBytes;
  const uint32_t f = 1024 / ownBytes;
  const uint32_t lo = std::min(e, f);
  const uint32_t value = std::max(e, f) + lo + lo / 2;
  counts[2 * (f >= e ? module : otherModule)] = value;
  return h->status;
}

HALSTATUS HSLKSTGetDCParameters(BOARDHANDLE* h, MODEINFO* mode, DCPARAMS* dc) {
  if (HalFailed(h->status)) return h->status;
  std::memset(dc, 0, sizeof(*dc));
  const uint32_t controller = SelectDC(mode);
  const uint32_t module = SelectDCModule(mode);
  dc->ulController = controller;
  dc->ulModule = module;
  const bool interlaced = RecordInterlaced(*mode);
  MODEINFO work = *mode;
  if (interlaced) work.ulDispHeight /= 2;

  uint32_t ht, ha, hbs, hbe, hss, hse, vt, va, vbs, vbe, vss, vse;
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &work, &ht, &ha, &hbs, &hbe, &hss, &hse);
  HSLKSTComputeIntermediateVidParm(h, kVidParmVertical, &work, &vt, &va, &vbs, &vbe, &vss, &vse);
  if (HalFailed(h->status)) return h->status;
  auto even = [](uint32_t v) { return v & ~1u; };
  ht = even(ht), ha = even(ha), hbs = even(hbs), hbe = even(hbe), hss = even(hss), hse = even(hse);

  dc->ulDisplayMode = interlaced ? kDisplayInterlaced : 0;
  dc->ulHBlank = Halves(hbs - 2, hbe - 2);
  dc->ulVBlank = Halves(vbs - 1, vbe - 1);
  dc->ulHTotal = Halves(ht - 2, ha - 2);
  const bool early = h->usDeviceId == kDeviceKestrion1 && h->ulRevision < 2;
  dc->ulVTotal = Halves(vt - 1, early ? va + 9 : va - 1);
  dc->ulHSync = Halves(hss - 2, hse - 2);
  dc->ulVSync = Halves(vss - 1, vse - 1);
  uint32_t counts[4];
  HSLKSTGetCrtcPreloadCount(h, mode, module, counts);
  dc->aulPreload[0] = Halves(counts[0], counts[1]);
  dc->aulPreload[1] = Halves(counts[2], counts[3]);
  if (interlaced) dc->ulHalfLine = ((mode->ulDeskWidth + 2 * mode->ulHBorder) / 2 - 2) & kHalfMask;

  uint32_t format = 0;
  if (!GetSurfFormat(h, mode, &format)) SetError(h, kErrNoSurfaceFormat);
  dc->ulControl = kControllerEnable;
  if (mode->flOutput & kOutTv1) dc->ulControl |= kControlTv1;
  if (interlaced) dc->ulControl |= kControlInterlaced;
  if (early && mode->ulBpp == 0xC0000)
    dc->ulControl = (dc->ulControl & ~kControlEarly10Bit) |
                    ((interlaced ? kEarly10BitInterlaced : kEarly10BitProgressive) << 8);
  dc->ulPitch = PitchFormat::Set(PitchPixels::Set(kPitchConstant, mode->ulFBPitch), format);
  if (controller >= 2) {
    dc->ulSecondSize = (mode->ulDispWidth - 1) << 16 & (kHalfMask << 16);
    dc->ulSecondHeight = ((work.ulDispHeight - 1) << 16 & (kHalfMask << 16)) |
                         (interlaced ? kSecondHeightInterlaced : 0);
    dc->ulSecondControl = kControllerEnable | (interlaced ? kController2Interlaced : 0);
    dc->ulSecondPitch = dc->ulPitch;
    dc->ulOutputCtl = RegRead(h, ModuleReg(kRegOutputCtl, module)) | kOutputCtlSecond;
    dc->ulSecondFormat = kSecondFormatWord;
  }
  dc->ulVTotalCopy = (RegRead(h, ModuleReg(kRegVTotalCopy, module)) & ~kHalfMask) | ((vt - 1) & kHalfMask);
  return h->status;
}

HALSTATUS HSLKSTSetDCParameters(BOARDHANDLE* h, MODEINFO* mode, const DCPARAMS* dc) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t m = dc->ulModule;
  const uint32_t controlReg = ControlReg(dc->ulController);
  uint32_t free = 0;
  HSLKSTDetectVidParmFreeTransition(h, mode, &free);
  HSLKSTDimController(h, m, 1, 0);
  RegModify(h, controlReg, kControllerEnable, 0);
  if (!free) {
    RegWrite(h, ModuleReg(kRegDisplayMode, m), dc->ulDisplayMode);
    RegWrite(h, ModuleReg(kRegHTotal, m), dc->ulHTotal);
    RegWrite(h, ModuleReg(kRegHBlank, m), dc->ulHBlank);
    RegWrite(h, ModuleReg(kRegHSync, m), dc->ulHSync);
    RegWrite(h, ModuleReg(kRegVTotal, m), dc->ulVTotal);
    RegWrite(h, ModuleReg(kRegVBlank, m), dc->ulVBlank);
    RegWrite(h, ModuleReg(kRegVSync, m), dc->ulVSync);
    RegWrite(h, ModuleReg(kRegHalfLine, m), dc->ulHalfLine);
    RegWrite(h, ModuleReg(kRegVTotalCopy, m), dc->ulVTotalCopy);
    RegModify(h, ModuleReg(kRegSecondHeight, m), kSecondHeightInterlaced,
              dc->ulSecondHeight & kSecondHeightInterlaced);
    RegWrite(h, ModuleReg(kRegPreload, 0), dc->aulPreload[0]);
    RegWrite(h, ModuleReg(kRegPreload, 1), dc->aulPreload[1]);
  }
  if (PitchPixels::Get(dc->ulPitch) != 0) {
    if (dc->ulController < 2) {
      RegWrite(h, ModuleReg(kRegPitch, m), dc->ulPitch);
      RegWrite(h, controlReg, dc->ulControl);
    } else {
      RegWrite(h, ModuleReg(kRegSecondPitch, m), dc->ulSecondPitch);
      RegWrite(h, ModuleReg(kRegSecondFormat, m), dc->ulSecondFormat);
      RegWrite(h, ModuleReg(kRegSecondHeight, m), dc->ulSecondHeight);
      RegWrite(h, ModuleReg(kRegSecondSize, m), dc->ulSecondSize);
      RegWrite(h, controlReg, dc->ulSecondControl);
      RegWrite(h, ModuleReg(kRegOutputCtl, m), dc->ulOutputCtl);
    }
  }
  return HSLKSTDimController(h, m, 0, 255);
}

HALSTATUS HSLKSTIsDCInUse(BOARDHANDLE* h, uint32_t controller, uint32_t* inUse) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 3) return h->status;
  *inUse = RegRead(h, ControlReg(controller)) & kControllerEnable;
  return h->status;
}

HALSTATUS HSLKSTDimController(BOARDHANDLE* h, uint32_t module, uint32_t on, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  if (module > 1) return h->status;
  const uint32_t reg = ModuleReg(kRegOutputCtl, module);
  const uint32_t v = RegRead(h, reg);
  RegWrite(h, reg, on ? OutputCtlDimLevel::Set(v | kOutputCtlDim, level) : v & ~kOutputCtlDim);
  return h->status;
}

HALSTATUS HSLKSTSetDisableDisplayController(BOARDHANDLE* h, MODEINFO* mode, uint32_t keep) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t c = SelectDC(mode);
  const uint32_t m = SelectDCModule(mode);
  uint32_t linkedInUse = 0;
  HSLKSTIsDCInUse(h, GetLinkedDC(mode), &linkedInUse);
  if (keep) HSLKSTDimController(h, m, 1, 0);
  RegModify(h, ControlReg(c), kControllerEnable, 0);
  HSLKSTWaitForVertical(h, m, kVerticalTotal, 0);
  if (!keep && !linkedInUse) RegModify(h, ModuleClockReg(m), 0, kModuleClockHold);
  if (c >= 2) RegModify(h, ModuleReg(kRegOutputCtl, m), kOutputCtlSecondBits, 0);
  if (mode->flOutput & kOutTv1) RegModify(h, kRegModuleClock0, 0, kModuleClock0TvHold);
  return h->status;
}

HALSTATUS HSLKSTDisableDisplayController(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t smooth = 0, free = 0;
  HSLKSTDetectSmoothTransition(h, mode, &smooth);
  HSLKSTDetectVidParmFreeTransition(h, mode, &free);
  HSLKSTSetDisableDisplayController(h, mode, smooth || free);
  return HSLKSTApplyVidParmPatch(h, mode, 0);
}

HALSTATUS HSLKSTEnableDisplayController(BOARDHANDLE* h, MODEINFO* mode, uint32_t code) {
  if (HalFailed(h->status)) return h->status;
  uint32_t smooth = 0, free = 0;
  HSLKSTDetectSmoothTransition(h, mode, &smooth);
  HSLKSTDetectVidParmFreeTransition(h, mode, &free);
  if (!smooth && !free) HSLKSTSelectDisplayControllerClock(h, mode, code);
  DCPARAMS dc;
  HSLKSTGetDCParameters(h, mode, &dc);
  HSLKSTSetDCParameters(h, mode, &dc);
  HSLKSTApplyVidParmPatch(h, mode, 1);
  if (!smooth) HSLKSTApplyVidReset(h, SelectDCModule(mode));
  return HSLKSTSetDefaultPriorityLevels(h);
}

HALSTATUS HSLKSTApplyVidParmPatch(BOARDHANDLE* h, MODEINFO* mode, uint32_t enabling) {
  if (HalFailed(h->status)) return h->status;
  if (IsLaterKestrion(h->usDeviceId) || (h->ulFeatures & kFeatureTransmitters) ||
      DigitalRoutedThroughCem(h, mode->flOutput))
    return h->status;
  const MODEINFO& c1 = h->aModeInfo[1];
  const MODEINFO& c3 = h->aModeInfo[3];
  uint32_t step = 0;
  if (enabling) {
    const bool a = SelectDC(mode) == 1 && RecordOff(c1) && !RecordOff(c3) && Tv1OnController3(c3);
    const bool b = Tv1OnController3(*mode) && !RecordOff(c1) && RecordOff(c3);
    if (a || b) step = kPatchStep;
  } else if (Tv1OnController3(*mode) && RecordOff(*mode) && !RecordOff(c3) && Tv1OnController3(c3) && !RecordOff(c1)) {
    step = 4096 - kPatchStep;
  }
  if (step != 0) RegWrite(h, kRegVidParmPatch, StepHalves(RegRead(h, kRegVidParmPatch), step));
  return h->status;
}

HALSTATUS HSLKSTApplyVidReset(BOARDHANDLE* h, uint32_t module) {
  if (HalFailed(h->status)) return h->status;
  const bool both = module == kBothModules;
  const bool sel[2] = {both || module == 0, both || module == 1};
  const bool fpgaBoard = FpgaVideoBoard(h);
  bool fpgaHeld[2] = {false, false};
  if (fpgaBoard) {
    for (uint32_t f = 0; f < 2; ++f) {
      uint8_t b = 0;
      HSLKSTAccessCEM_2FPgasI2C(h, 0, f, kFpgaRegControl, &b);
      if (b & kFpgaVideoOn) {
        b &= static_cast<uint8_t>(~kFpgaVideoOn);
        HSLKSTAccessCEM_2FPgasI2C(h, 1, f, kFpgaRegControl, &b);
        fpgaHeld[f] = true;
      }
    }
  }
  bool restarted[2] = {false, false};
  auto restart = [&](uint32_t m) {
    const uint32_t v = RegRead(h, ModuleClockReg(m));
    if (!(v & kModuleClockHold)) return;
    const uint32_t w = (v & ~kVideoResetClockClear) | kVideoResetClockSet;
    RegWrite(h, ModuleClockReg(m), w);
    RegWrite(h, ModuleClockReg(m), w & ~kModuleClockHold);
    restarted[m] = true;
  };
  for (uint32_t m = 0; m < 2; ++m)
    if (sel[m]) restart(m);
  for (uint32_t m = 0; m < 2; ++m) {
    if (!sel[m]) continue;
    RegModify(h, ModuleReg(kRegDisplayMode, m), 0, kDisplayModeResetHold);
    RegModify(h, ModuleClockReg(m), 0, kModuleClockResetHold);
  }
  if (module == 0) restart(1);
  uint32_t v = RegRead(h, kRegModuleClock0) & ~kVideoResetPulse;
  RegWrite(h, kRegModuleClock0, v);
  v |= kVideoResetPulse;
  Delay(h, kClockWaitUnits);
  RegWrite(h, kRegModuleClock0, v);
  RegWrite(h, kRegModuleClock0, v & ~kVideoResetPulse);
  for (uint32_t m = 0; m < 2; ++m) {
    if (!sel[m]) continue;
    RegModify(h, ModuleClockReg(m), kModuleClockResetHold, 0);
    RegModify(h, ModuleReg(kRegDisplayMode, m), kDisplayModeResetHold, 0);
  }
  for (uint32_t m = 0; m < 2; ++m)
    if (restarted[m]) RegModify(h, ModuleClockReg(m), 0, kModuleClockHold);
  if (fpgaBoard) {
    for (uint32_t f = 0; f < 2; ++f) {
      if (!fpgaHeld[f]) continue;
      uint8_t b = 0;
      HSLKSTAccessCEM_2FPgasI2C(h, 0, f, kFpgaRegControl, &b);
      b |= kFpgaVideoOn;
      HSLKSTAccessCEM_2FPgasI2C(h, 1, f, kFpgaRegControl, &b);
    }
  }
  return h->status;
}

HALSTATUS HSLKSTSynchronizeDC(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (mode->flOutput & (kOutControllerOff | kOutSecondController)) return h->status;
  const MODEINFO& other = h->aModeInfo[SelectDCModule(mode) == 1 ? 0 : 1];
  const MODEINFO& ref = (mode->flSignalMode & kSignalDoubledTiming) ? h->oWorkingMode : *mode;
  const bool same = !RecordOff(other) && other.ulDispWidth == ref.ulDispWidth &&
                    other.ulDispHeight == ref.ulDispHeight && other.ulPixClock == ref.ulPixClock;
  if (same || (h->ulBoardFlags & kBoardFlagModulesInStep)) HSLKSTApplyVidReset(h, kBothModules);
  return h->status;
}

HALSTATUS HSLKSTSetDefaultPriorityLevels(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t levels[2] = {kDefaultPriority, kDefaultPriority};
  return HSLKSTSetPriorityLevels(h, 15, levels, levels);
}
