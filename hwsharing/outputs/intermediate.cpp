// Intermediate output modules: VDP, TVE, DVOs, DAC sync routing, the
// expansion module's back end.
#include "hwsharing/outputs/intermediate.h"

#include <cstring>

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "core/regs/cve2.h"
#include "core/regs/display.h"
#include "core/regs/interrupts.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/encoders/cem_module.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/cve2_encoder.h"
#include "hwsharing/encoders/fpga_modes.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/outputs/transitions.h"
#include "hwsharing/outputs/tv_state.h"

namespace {

constexpr uint32_t kTve17EncoderOn = 1u << 3;
constexpr uint32_t kTve9CableSix = 1u << 15;
constexpr uint32_t kTve17Bit1 = 1u << 1;
constexpr uint32_t kTve17Bit6 = 1u << 6;
constexpr uint32_t kTve18High = 1u << 16;  // bits 16-25 := 1
constexpr uint32_t kTve18Normal = 0x14;
constexpr uint32_t kTve18Wide = 0x17;
constexpr uint32_t kTveSelectOther = 10;
constexpr uint8_t kCableSix = 6;
constexpr uint8_t kCableSeven = 7;
constexpr uint8_t kEncoderKindIntegrated = 5;
constexpr uint32_t kDvoSecondDefault = 0x1F;
constexpr uint32_t kDvoSelectReturned = 6;
constexpr uint8_t kFpgaModeSyncFromMode[] = {3, 6};

bool WideStandard(uint8_t standard) { return standard == 0 || standard == 7 || standard == 9; }
constexpr uint32_t Bit(uint32_t b) { return 1u << b; }

bool InUse(BOARDHANDLE* h, uint32_t type, uint32_t module) {
  uint32_t inUse = 0;
  HSLKSTIsModuleCurrentlyInUse(h, type, module, &inUse);
  return inUse != 0;
}

}  // namespace

// ---- Disable and enable ------------------------------------------------------------

HALSTATUS HSLKSTSetDisableIntermediateModule(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t w = mode->flOutput;
  const uint32_t m = SelectDCModule(mode);
  if (NeedsCem(h, w)) HSLKSTEnableCEM(h, mode, 0);
  if (!IsQuadBoard(h) && (w & kOutTv1)) {
    HSLKSTDisableTVE(h, mode);
    HSLKSTDisableVDP(h);
  }
  if (UsesDvo1(h, w)) {
    HSLKSTDisableDVO(h, 0, mode);
    if (DirectOutputPath(h, w) && !InUse(h, kModuleDac1, m)) RegModify(h, kRegDacCtl1, 0, kDacOff);
  }
  if (UsesDvo2(h, w)) {
    HSLKSTDisableDVO(h, 1, mode);
    if (DirectOutputPath(h, w) && !InUse(h, kModuleDac2, m)) RegModify(h, kRegDacCtl2, 0, kDacOff);
  }
  return h->status;
}

HALSTATUS HSLKSTDisableIntermediateModule(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t saved = mode->flOutput;
  const MODEINFO& current = h->aModeInfo[SelectDC(mode)];
  if (!RecordOff(current)) mode->flOutput |= current.flOutput & kOutOwnedBits;
  HSLKSTSetDisableIntermediateModule(h, mode);
  mode->flOutput = saved;
  return h->status;
}

HALSTATUS HSLKSTEnableIntermediateModule(BOARDHANDLE* h, MODEINFO* mode, uint32_t code) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t w = mode->flOutput;
  const uint32_t m = SelectDCModule(mode);
  if (!IsQuadBoard(h) && (w & kOutTv1)) {
    HSLKSTEnableVDP(h, mode);
    HSLKSTEnableTVE(h, mode, code);
  }
  if (UsesDvo1(h, w)) {
    HSLKSTEnableDVO(h, 0, mode, code);
    if (DirectOutputPath(h, w) && !InUse(h, kModuleDac1, m)) HSLKSTEnableDacSyncOnly(h, 0, mode);
  }
  if (UsesDvo2(h, w)) {
    HSLKSTEnableDVO(h, 1, mode, code);
    const bool dac1 = BoardType(h) == 2 || BoardType(h) == 5;
    if (DirectOutputPath(h, w) && !InUse(h, dac1 ? kModuleDac1 : kModuleDac2, m))
      HSLKSTEnableDacSyncOnly(h, dac1 ? 0 : 1, mode);
  }
  if (NeedsCem(h, w)) HSLKSTEnableCEM(h, mode, 1);
  return h->status;
}

// ---- VDP and TVE ---------------------------------------------------------------------

HALSTATUS HSLKSTGetVDPParameters(BOARDHANDLE* h, const MODEINFO* mode, VDPPARAMS* vdp) {
  if (HalFailed(h->status)) return h->status;
  std::memset(vdp, 0, sizeof(*vdp));
  vdp->aucBytes[1] = 1;
  vdp->aucBytes[2] = 1;
  vdp->aucBytes[0] = static_cast<uint8_t>((Tv1OnController3(*mode) ? 0 : 3) | 4);
  return h->status;
}

HALSTATUS HSLKSTSetVDPParameters(BOARDHANDLE* h, const VDPPARAMS* vdp) {
  if (HalFailed(h->status)) return h->status;
  uint32_t word;
  std::memcpy(&word, vdp->aucBytes, sizeof(word));
  RegWrite(h, kRegVdp, word);
  return h->status;
}

HALSTATUS HSLKSTEnableVDP(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  VDPPARAMS vdp;
  HSLKSTGetVDPParameters(h, mode, &vdp);
  return HSLKSTSetVDPParameters(h, &vdp);
}

HALSTATUS HSLKSTDisableVDP(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const VDPPARAMS none{};
  return HSLKSTSetVDPParameters(h, &none);
}

HALSTATUS HSLKSTGetTVEParameters(BOARDHANDLE* h, const MODEINFO* mode, TVEPARAMS* tve) {
  if (HalFailed(h->status)) return h->status;
  std::memset(tve, 0, sizeof(*tve));
  uint32_t& w9 = tve->aulWord[9];
  uint32_t& w17 = tve->aulWord[17];
  uint32_t& w18 = tve->aulWord[18];
  w9 = RegRead(h, kRegCve2Control);
  w17 = RegRead(h, kRegDisplayConfig);
  w18 = RegRead(h, kRegCve2Word18);
  const uint8_t cable = h->aCableInfo[1].ucCableType;
  w9 = WithBit(w9, kTve9CableSix, cable == kCableSix);
  w17 = WithBit(w17, kTve17EncoderOn, Tv1OnController3(*mode));
  w17 = WithBit(w17, kTve17Bit6, cable == kCableSix || cable == kCableSeven);
  w17 = WithBit(w17, kTve17Bit1, !WideStandard(h->ucTvStandard));
  if (!Tv1OnController3(*mode)) {
    w18 = (w18 & ~(0x3FFu << 16) & ~0x3FFu) | kTve18High |
          (WideStandard(h->ucTvStandard) ? kTve18Wide : kTve18Normal);
  }
  return h->status;
}

HALSTATUS HSLKSTSetTVEParameters(BOARDHANDLE* h, const MODEINFO* mode, const TVEPARAMS* tve) {
  if (HalFailed(h->status)) return h->status;
  RegWrite(h, kRegCve2Control, tve->aulWord[9]);
  RegWrite(h, kRegDisplayConfig, tve->aulWord[17]);
  if (!Tv1OnController3(*mode)) RegWrite(h, kRegCve2Word18, tve->aulWord[18]);
  return h->status;
}

HALSTATUS HSLKSTDisableTVE(BOARDHANDLE* h, MODEINFO*) {
  if (HalFailed(h->status)) return h->status;
  HSLCVE2EnableEncoder(h, 0);
  const uint32_t tve = RegRead(h, kRegDisplayConfig) & ~kTve17EncoderOn;
  const uint32_t c0 = RegRead(h, kRegModuleClock0) | kModuleClock0TvHold;
  const uint32_t c1 = RegRead(h, kRegModuleClock1) & ~kModuleClock1TvOn;
  RegWrite(h, kRegDisplayConfig, tve);
  RegWrite(h, kRegModuleClock0, c0);
  RegWrite(h, kRegModuleClock1, c1);
  return h->status;
}

HALSTATUS HSLKSTEnableTVE(BOARDHANDLE* h, MODEINFO* mode, uint32_t code) {
  if (HalFailed(h->status)) return h->status;
  TVEPARAMS tve;
  HSLKSTGetTVEParameters(h, mode, &tve);
  HSLKSTSetTVEParameters(h, mode, &tve);
  RegModify(h, kRegModuleClock0, 0, kModuleClock0TvHold);
  if (Tv1OnController3(*mode)) {
    uint32_t c0 = RegRead(h, kRegModuleClock0);
    uint32_t c1 = RegRead(h, kRegModuleClock1);
    c0 = ModuleClock0TvSelect::Set(c0, code) | kModuleClock0TvSelectOn;
    c1 = (c1 | kModuleClock1TvOn) & ~kModuleClock1TvBit11;
    RegWrite(h, kRegModuleClock0, c0);
    RegWrite(h, kRegModuleClock1, c1);
  } else {
    RegWrite(h, kRegModuleClock0,
             ModuleClock0TvSelect::Set(RegRead(h, kRegModuleClock0), kTveSelectOther) &
                 ~kModuleClock0TvSelectOn);
  }
  RegModify(h, kRegModuleClock0, kModuleClock0TvHold, 0);
  HSLCVE2InitTVEncoder(h);
  HSLCVE2EnableEncoder(h, 1);
  if (!HalFailed(h->status)) {
    h->ucTvEncoderKind = kEncoderKindIntegrated;
    HSLKSTSetTVProcAmp(h, &h->oTvProcAmp, 0);
  }
  if (!Tv1OnController3(*mode)) {
    if (h->usDeviceId == kDeviceKestrion2 && h->ulRevision == 6)
      HSLKSTTveApplyVidReset(h);
    else
      HSLKSTApplyVidReset(h, 1);
  }
  return h->status;
}

// ---- DAC sync and DVOs ------------------------------------------------------------------

HALSTATUS HSLKSTEnableDacSyncOnly(BOARDHANDLE* h, uint32_t dac, const MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (dac > 1) return h->status;
  const uint32_t reg = dac == 0 ? kRegDacCtl1 : kRegDacCtl2;
  uint32_t v = RegRead(h, reg) & ~(dac == 0 ? 0x1Fu << 10 : 0x3Fu << 10);
  if (HsyncNegative(*mode)) v |= kDacHsyncNegative;
  if (VsyncNegative(*mode)) v |= kDacVsyncNegative;
  if (SelectDCModule(mode) == 1) v |= kDac1Module1;
  v |= dac == 0 ? Bit(15) | Bit(16) : Bit(16) | Bit(17);
  RegWrite(h, reg, v);
  return h->status;
}

HALSTATUS HSLKSTDisableDVO(BOARDHANDLE* h, uint32_t dvo, MODEINFO*) {
  if (HalFailed(h->status)) return h->status;
  uint32_t v = RegRead(h, kRegDvoPower) | (dvo == 0 ? kDvoPowerDvo1Off : kDvoPowerDvo2Off);
  if ((v & (kDvoPowerDvo1Off | kDvoPowerDvo2Off)) == (kDvoPowerDvo1Off | kDvoPowerDvo2Off)) {
    RegModify(h, kRegModuleClock0, 0, kDvo1Disable);
    v |= kDvoPowerBothOff;
  }
  RegWrite(h, kRegDvoPower, v);
  return h->status;
}

void WriteDvoWords(BOARDHANDLE* h, bool described) {
  if (!described) {
    RegWrite(h, kRegDvoSecond, kDvoSecondDefault);
    RegWrite(h, kRegDvoThird, 0);
    return;
  }
  const uint32_t word = PinsDword(h, kPinsDvoWord);
  if (IsLaterKestrion(h->usDeviceId))
    RegWrite(h, kRegDvoPower, (word & ~7u) | (RegRead(h, kRegDvoPower) & 7u));
  else
    RegWrite(h, kRegDvoSecond, word);
  RegWrite(h, kRegDvoThird, PinsDword(h, kPinsDvoWord2));
}

bool HasSeparateDvo2Clock(const BOARDHANDLE* h) {
  if (IsEarlyKestrion(h->usDeviceId)) return false;
  if (h->usDeviceId == kDeviceKestrionNext1 && h->ulRevision == 1) return false;
  if (BoardType(h) == 4) return false;
  // The first arrangement's connector description counts only in a
  // version-6 board description.
  return !((PinsVersion(h) >> 8) == 6 && FirstArrangementConnectors(h));
}

HALSTATUS HSLKSTSetDVOClock(BOARDHANDLE* h, uint32_t dvo, uint32_t source, uint32_t release) {
  if (HalFailed(h->status)) return h->status;
  uint32_t code;
  switch (source) {
    case 0: case 1: case 2: case 3: case 4: code = source; break;
    case 5: code = 8; break;
    case 6: code = 9; break;
    case 8: code = 6; break;
    case 9: code = 5; break;
    case 7: return h->status;
    default: return SetError(h, kErrDvoSource);
  }
  if ((source == 5 || source == 6) && dvo != 0) return h->status;
  // DVO 1's clock field in 0x1C00, or DVO 2's own in 0x1C04.
  const bool own = dvo != 0 && HasSeparateDvo2Clock(h);
  const uint32_t reg = own ? kRegModuleClock1 : kRegModuleClock0;
  const uint32_t hold = own ? kDvo2Disable : kDvo1Disable;
  uint32_t v = RegRead(h, reg);
  if (!(v & hold)) {
    v |= hold;
    RegWrite(h, reg, v);
  }
  v = own ? WithDvo2ClockCode(v, code) : WithDvo1ClockCode(v, code);
  RegWrite(h, reg, v);
  if (release) RegWrite(h, reg, v & ~hold);
  return h->status;
}

HALSTATUS HSLKSTIsDvoLocked(BOARDHANDLE* h, MODEINFO* mode, uint32_t* locked) {
  if (HalFailed(h->status)) return h->status;
  *locked = 0;
  const uint32_t power = RegRead(h, kRegDvoPower);
  const uint32_t clock0 = RegRead(h, kRegModuleClock0);
  const uint32_t source = RegRead(h, kRegDvoSource);
  const bool dvo1Runs = !(power & kDvoPowerDvo1Off) && !(clock0 & kDvo1Disable);
  const bool dvo2Runs = !(power & kDvoPowerDvo2Off) && !(clock0 & kDvo1Disable);
  const bool candidate = (dvo2Runs && UsesDvo1(h, mode->flOutput)) ||
                         (dvo1Runs && UsesDvo2(h, mode->flOutput));
  uint32_t c;
  if (dvo2Runs) {
    c = (source & kDvo2SourceModule1) ? 1 : 0;
  } else {
    const uint32_t code = Dvo1Source::Get(source);
    c = code == 1 ? 1 : code == 3 ? 2 : 0;
  }
  const MODEINFO& feeding = h->aModeInfo[c];
  const uint32_t clock = IsQuadBoard(h) ? h->oWorkingMode.ulPixClock : mode->ulPixClock;
  const bool match = !RecordOff(feeding) && feeding.ulPixClock != 0 && feeding.ulPixClock == clock;
  *locked = candidate && match && !HasSeparateDvo2Clock(h) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTEnableDVO(BOARDHANDLE* h, uint32_t dvo, MODEINFO* mode, uint32_t source) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t c = SelectDC(mode);
  const uint32_t m = SelectDCModule(mode);
  const bool second = dvo == 1;
  const bool separate = second && HasSeparateDvo2Clock(h);
  uint32_t locked = 0, smooth = 0;
  HSLKSTIsDvoLocked(h, mode, &locked);
  HSLKSTDetectSmoothTransition(h, mode, &smooth);
  // 2, 3: hold the DVO's clock, switch the DVO off.
  const uint32_t holdReg = separate ? kRegModuleClock1 : kRegModuleClock0;
  const uint32_t holdBit = separate ? kDvo2Disable : kDvo1Disable;
  if (!locked) RegModify(h, holdReg, 0, holdBit);
  RegModify(h, kRegDvoPower, 0, second ? kDvoPowerDvo2Off : kDvoPowerDvo1Off);
  // 4: the DVO clock.
  if (!locked) {
    if (!separate) {
      HSLKSTSetDVOClock(h, dvo, source, 0);
    } else if (!smooth) {
      HSLKSTSetDVOClock(h, dvo, source, 0);
      const uint32_t reg = ModuleClockReg(c == 0 ? 0 : 1);
      uint32_t v = RegRead(h, reg) | kModuleClockHold;
      RegWrite(h, reg, v);
      RegWrite(h, reg, ModuleClockSelect::Set(v, kDvoSelectReturned) & ~kModuleClockHold);
    }
  }
  // 5: the board description's DVO words.
  WriteDvoWords(h, PinsVersion(h) > kPinsVersion605);
  // 6: the DVO's four sync bits.
  const uint32_t base = second ? 26 : 10;
  const uint32_t first = Bit(base), secondBit = Bit(base + 1), third = Bit(base + 2),
                 fourth = Bit(base + 3);
  const uint32_t four = first | secondBit | third | fourth;
  uint32_t v20 = RegRead(h, kRegDvoSource);
  if (DirectOutputPath(h, mode->flOutput)) {
    v20 &= ~four;
    if (!second) {
      if (h->ulFeatures & kFeatureEncoder0) v20 |= first | third;
    } else if (PinsVersion(h) > kPinsVersion604 && (h->oPins.aucData[149] & 0x08)) {
      if (h->ulFeatures & kFeatureEncoder1) v20 |= first | third;
    } else {
      if (HsyncNegative(*mode)) v20 |= secondBit;
      if (VsyncNegative(*mode)) v20 |= fourth;
    }
  } else {
    uint8_t fpgaMode = 0;
    HSLKSTGetFpgaMode(h, &h->oWorkingMode, mode, &fpgaMode, 1);
    if (h->status != kHalOk) return h->status;
    uint32_t bits = 0;
    if (fpgaMode == kFpgaModeSyncFromMode[0] || fpgaMode == kFpgaModeSyncFromMode[1]) {
      if (HsyncNegative(*mode)) bits |= secondBit;
      if (VsyncNegative(*mode)) bits |= fourth;
    } else {
      bits |= secondBit;
    }
    v20 = (v20 & ~four) | bits;
    if (separate) RegWrite(h, kRegDvoSecond, (RegRead(h, kRegDvoSecond) & ~four) | bits);
  }
  if (h->status != kHalOk) return h->status;
  // 7: the special format case and the dual-link bit.
  const bool special = DigitalFormatSpecialCase(h, *mode);
  const bool dualBit = (mode->flOutput & kOutDigital0) && mode->ulPixClock > kDualLinkKHz &&
                       h->aulDigitalOutputFormat[0] == 2 && (h->ulOutputCaps & kEnableDualLink0) &&
                       !DualLinkCondition(h);
  v20 = WithBit(v20, kDvo1DualLinkBit25, dualBit);
  v20 = WithBit(v20, kDvo1FormatBit6, special);
  RegWrite(h, kRegDvoSource, v20);
  // 8: the source controller.
  if (second) {
    auto setSource = [&](uint32_t reg) {
      uint32_t v = RegRead(h, reg);
      if (c <= 1)
        v = WithBit(v, kDvo2SourceModule1, c == 1);
      else
        SetError(h, kErrDvoController);
      RegWrite(h, reg, v);
    };
    setSource(kRegDvoSource);
    if (separate) setSource(kRegDvoSecond);
  } else {
    uint32_t v = RegRead(h, kRegDvoSource);
    if (IsLaterKestrion(h->usDeviceId)) {
      static constexpr uint32_t kCode[4] = {0, 0, 1, 2};
      static constexpr bool kBit8[4] = {false, true, true, false};
      const uint32_t code = special ? 1 : kCode[c];
      v = WithBit(Dvo1Source::Set(v, code), kDvo1SourceBit8, special || kBit8[c]);
    } else if (special) {
      v = Dvo1Source::Set(v, 3);
    } else if (c == 3) {
      SetError(h, kErrDvoController);
    } else {
      static constexpr uint32_t kCode[3] = {0, 1, 3};
      v = Dvo1Source::Set(v, kCode[c]);
    }
    RegWrite(h, kRegDvoSource, v);
  }
  // 9-12: release the clock, switch the DVO on, the lock word, the reset.
  if (!locked) RegModify(h, holdReg, holdBit, 0);
  RegModify(h, kRegDvoPower, (second ? kDvoPowerDvo2Off : kDvoPowerDvo1Off) | kDvoPowerBothOff, 0);
  RegModify(h, kRegOutputArrangement, kOutputArrangementDvo2Locked,
            !locked && separate ? 0 : kOutputArrangementDvo2Locked);
  return HSLKSTApplyVidReset(h, IsQuadBoard(h) ? kBothModules : m);
}

// ---- Questions ------------------------------------------------------------------------

HALSTATUS HSLKSTIsModuleCurrentlyInUse(BOARDHANDLE* h, uint32_t type, uint32_t module,
                                       uint32_t* inUse) {
  if (HalFailed(h->status)) return h->status;
  bool used = false;
  for (uint32_t c = 0; c < 4 && !used; ++c) {
    if (c == module) continue;
    const MODEINFO& r = h->aModeInfo[c];
    if (RecordOff(r)) continue;
    switch (type) {
      case kModuleDac1: used = UsesDac1(h, r.flOutput); break;
      case kModuleDac2: used = UsesDac2(h, r.flOutput); break;
      case kModuleFirstPath: used = UsesFirstOutputPath(h, r.flOutput); break;
      case kModuleSecondPath: used = UsesSecondOutputPath(h, r.flOutput); break;
      default: break;
    }
  }
  if (inUse != nullptr) *inUse = used ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTGetChrontelOutputMode(BOARDHANDLE* h, uint32_t encoder, uint32_t flOutput,
                                      uint32_t* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t bits = flOutput & OutputPathMask(h, encoder > 3 ? 0 : encoder);
  constexpr uint32_t kDigital = kOutDigital0 | kOutDigital1 | kOutDigital2 | kOutDigital3;
  constexpr uint32_t kAnalog = kOutAnalog0 | kOutAnalog1 | kOutAnalog2 | kOutAnalog3;
  constexpr uint32_t kTv = kOutTv0 | kOutTv1 | kOutTv2 | kOutTv3;
  constexpr uint32_t kFourth = kOutFourth0 | kOutFourth1 | kOutFourth2 | kOutFourth3;
  if (bits & kDigital)
    *mode = kChrModeDigital;
  else if (bits & kAnalog)
    *mode = kChrModeAnalog;
  else if (bits & kTv)
    *mode = kChrModeSdtv;
  else if (bits & kFourth)
    *mode = kChrModeDtv;
  else
    *mode = kChrModeDigital;
  return h->status;
}

HALSTATUS HSLKSTEnableCEM_SP_Backend(BOARDHANDLE* h, uint32_t fpga) {
  if (HalFailed(h->status)) return h->status;
  if (PinsCemCode(h) != kCemCodeSp) return h->status;
  uint8_t b = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, kFpgaRegControl, &b);
  b &= static_cast<uint8_t>(~kFpgaVideoOn);
  HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaRegControl, &b);
  b |= kFpgaVideoOn;
  return HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaRegControl, &b);
}

HALSTATUS HSLKSTDisableCEM_SP_Backend(BOARDHANDLE* h, uint32_t fpga) {
  if (HalFailed(h->status)) return h->status;
  uint8_t b = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, kFpgaRegControl, &b);
  b &= static_cast<uint8_t>(~kFpgaVideoOn);
  return HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaRegControl, &b);
}

// ---- TV-encoder video reset ----------------------------------------------------------

namespace {

constexpr uint32_t kTveBlockRegs[kTveBlockWords] = {
    0x1B00, 0x1B08, 0x1B10, 0x1B14, 0x1B1C, 0x1B20, 0x1B2C, 0x1B30, 0x1B34, 0x1A8C,
    0x1D80, 0x1D88, 0x1D90, 0x1D98, 0x1DA0, 0x1DA8, 0x1DB0, 0x1DB8, 0x1DC0, 0x1DC8,
    0,      0x1D84, 0x1D8C, 0x1D94, 0x1D9C, 0x1DA4, 0x1DAC, 0x1DB4, 0x1DBC, 0x1DC4};
constexpr uint32_t kTveBlockHole = 20;
constexpr uint32_t kTvTestMode[kTveBlockWords] = {
    0xCF0099, 0x800358, 0x358,     0x2FE02EE, 0,        0x10500EF, 0xEF0105, 0xF600F4,
    0x166,    0x10464350, 0x5A0207E, 0x14020D, 0xD94F9, 0x100,     0xAEAE,   0x21151700,
    0x241B1B, 0x600F0F, 0xDABD,    0x10014,   0,        0x441176,  0x42CC8,  0x21F07C1F,
    0x49,     0x9108,   0x2050515, 0x7F8,     0x3FF8A15, 0x46};
constexpr uint32_t kTvCrcA = 0x736DCE76;
constexpr uint32_t kTvCrcB = 0x15D2EAC4;
constexpr uint32_t kTveResetMaxSteps = 1001;
constexpr uint32_t kTveResetRetraces = 5;
constexpr uint32_t kDac2Keep = Bit(14);
constexpr uint32_t kDac2ResetBits = Bit(15) | Bit(12) | Bit(10) | Bit(16);

}  // namespace

HALSTATUS HSLKSTTveVidReset_AccessRequiredReg(BOARDHANDLE* h, uint32_t write, uint32_t* block) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t w = 0; w < kTveBlockWords; ++w) {
    if (w == kTveBlockHole) continue;
    if (write)
      RegWrite(h, kTveBlockRegs[w], block[w]);
    else
      block[w] = RegRead(h, kTveBlockRegs[w]);
  }
  return h->status;
}

HALSTATUS HSLKSTTveVidReset_SetTvTestMode(BOARDHANDLE* h, uint32_t* block) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t w = 0; w < kTveBlockWords; ++w)
    if (w != kTveBlockHole) block[w] = kTvTestMode[w];
  return h->status;
}

HALSTATUS HSLKSTTveVidReset_CheckCrc(BOARDHANDLE* h, uint32_t* match) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t a = RegRead(h, kRegTvCrc);
  HSLKSTWaitForVertical(h, 1, kVerticalTotal, 0);
  const uint32_t b = RegRead(h, kRegTvCrc);
  *match = (a == kTvCrcA && b == kTvCrcB) || (a == kTvCrcB && b == kTvCrcA) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTTveApplyVidReset(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  enum class Step { kSave, kDac, kTestMode, kReset, kStart, kWait, kCheck, kRestore, kDone };
  uint32_t saved[kTveBlockWords] = {};
  uint32_t work[kTveBlockWords] = {};
  uint32_t dac2 = 0;
  uint32_t tries = 0;
  Step step = Step::kSave;
  for (uint32_t n = 0; n < kTveResetMaxSteps && step != Step::kDone; ++n) {
    switch (step) {
      case Step::kSave:
        HSLKSTTveVidReset_AccessRequiredReg(h, 0, saved);
        std::memcpy(work, saved, sizeof(work));
        step = Step::kDac;
        break;
      case Step::kDac:
        dac2 = RegRead(h, kRegDacCtl2);
        RegWrite(h, kRegDacCtl2, (dac2 & ~kDac2Keep) | kDac2ResetBits);
        step = Step::kTestMode;
        break;
      case Step::kTestMode:
        HSLKSTTveVidReset_SetTvTestMode(h, work);
        HSLKSTTveVidReset_AccessRequiredReg(h, 1, work);
        step = Step::kReset;
        break;
      case Step::kReset:
        HSLKSTApplyVidReset(h, 1);
        step = Step::kStart;
        break;
      case Step::kStart:
        RegWrite(h, kRegTvCrcStart, kTvCrcStart);
        step = Step::kWait;
        break;
      case Step::kWait:
        for (uint32_t i = 0; i < kTveResetRetraces; ++i) HSLKSTWaitForVertical(h, 1, kVerticalTotal, 0);
        step = Step::kCheck;
        break;
      case Step::kCheck: {
        uint32_t match = 0;
        HSLKSTTveVidReset_CheckCrc(h, &match);
        ++tries;
        step = match || tries >= kTveResetMaxChecks ? Step::kRestore : Step::kReset;
        break;
      }
      case Step::kRestore:
        HSLKSTTveVidReset_AccessRequiredReg(h, 1, saved);
        RegWrite(h, kRegDacCtl2, dac2);
        step = Step::kDone;
        break;
      case Step::kDone:
        break;
    }
  }
  return h->status;
}
