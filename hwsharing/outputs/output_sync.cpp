// Free controller and sync routing, blanking, DVI outputs, the output
// halves of a mode set.
#include "hwsharing/outputs/output_sync.h"

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "core/regs/vga.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/cem_module.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/outputs/transitions.h"

namespace {

constexpr uint32_t kFreeTimingKHz = 25175;
constexpr uint32_t kNoFsSelect = 7;
constexpr uint32_t kNoFsReply = 15;
constexpr uint8_t kMiscOutFreeController = 8;
constexpr uint32_t kAnalogBits = kOutAnalog0 | kOutAnalog1 | kOutAnalog2 | kOutAnalog3;
constexpr uint8_t kEncoderSyncRegister = 0x49;
constexpr uint8_t kEncoderSyncValue = 0x2E;
constexpr uint32_t kRoutingBit27 = 1u << 27;  // DAC 1 fields from MCS record 0
constexpr uint32_t kRoutingBit28 = 1u << 28;  // DAC 2 fields from MCS record 1
constexpr uint32_t kMiscIoDualLink = 6;
constexpr uint32_t kEncoderGpioSlots = 0xF;
constexpr uint32_t kSignalOutputFlag8 = 0x8;  // flOutput bit 3: never a smooth output change

constexpr uint32_t Bit(uint32_t b) { return 1u << b; }

bool OnPath(const BOARDHANDLE* h, uint32_t word, uint32_t path) {
  return (word & OutputPathMask(h, path)) != 0;
}
// The first output path the word lies on, or 4.
uint32_t FirstPath(const BOARDHANDLE* h, uint32_t word) {
  for (uint32_t n = 0; n < 4; ++n)
    if (OnPath(h, word, n)) return n;
  return 4;
}
bool AnalogOnPaths(const BOARDHANDLE* h, uint32_t word) {
  const uint32_t paths = OutputPathMask(h, 0) | OutputPathMask(h, 1) | OutputPathMask(h, 2) |
                         OutputPathMask(h, 3);
  return (word & kAnalogBits & paths) != 0;
}
bool EncoderPresent(const BOARDHANDLE* h, uint32_t n) { return n < 4 && h->aChrontel[n].ulPresent; }

// Transmitters n and n + 1 share a port at different addresses.
bool TransmitterPair(const BOARDHANDLE* h, uint32_t n) {
  if (n >= 3 || !h->aSiI164[n + 1].ulPresent) return false;
  return h->aSiI164[n].ulPort == h->aSiI164[n + 1].ulPort &&
         h->aSiI164[n].ulAddress != h->aSiI164[n + 1].ulAddress;
}

// The FS a free controller runs from: select code 7 without one, else FS n
// programmed to the free timing's clock and code n + 1.
uint32_t FreeClockSelect(BOARDHANDLE* h, uint32_t module) {
  uint32_t fs = kNoFsReply;
  h->oJumpTable.GetFreeFS(h, module, &fs);
  if (fs == kNoFsReply) return kNoFsSelect;
  if (HasLaterGenerationClocks(h->usDeviceId))
    HWB90InitialiseFSController(h, fs, kFreeTimingKHz);
  else
    HWKSTInitialiseFSController(h, fs, kFreeTimingKHz);
  return fs + 1;
}

}  // namespace

MODEINFO FreeControllerTiming() {
  MODEINFO m{};
  m.ulDispWidth = 640;
  m.ulDispHeight = 480;
  m.ulBpp = 32;
  m.ulRefreshRate = 60;
  m.ulHorizRate = 31;
  m.ulPixClock = kFreeTimingKHz;
  m.ulHFPorch = 16;
  m.ulHSync = 96;
  m.ulHBPorch = 48;
  m.ulVFPorch = 10;
  m.ulVSync = 2;
  m.ulVBPorch = 33;
  return m;
}

HALSTATUS HSLKSTGetFreeDCModule(BOARDHANDLE* h, uint32_t* module, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  *found = 0;
  if (!(RegRead(h, kRegControllerCtl) & kControllerEnable) && !(RegRead(h, kRegRegime) & kRegimeVga)) {
    *module = 0;
    *found = 1;
  } else if (!(RegRead(h, ControllerReg(kRegControllerCtl, 1)) & kControllerEnable)) {
    *module = 1;
    *found = 1;
  }
  return h->status;
}

HALSTATUS HSLKSTInitFreeController(BOARDHANDLE* h, uint32_t* flOutput) {
  if (HalFailed(h->status)) return h->status;
  MODEINFO timing = FreeControllerTiming();
  timing.flOutput = *flOutput;
  DCPARAMS dc;
  HSLKSTGetDCParameters(h, &timing, &dc);
  dc.ulPitch = PitchPixels::Set(dc.ulPitch, 0);
  const uint32_t c0 = RegRead(h, kRegModuleClock0);
  const uint32_t c1 = RegRead(h, kRegModuleClock1);
  if ((c1 & kModuleClockHold) || ModuleClockSelect::Get(c1) == 0) {
    *flOutput |= kOutModule1;
    timing.flOutput = *flOutput;
    dc.ulController = 1;
    dc.ulModule = 1;
    const uint32_t v = ModuleClockSelect::Set(c1, FreeClockSelect(h, 1));
    RegWrite(h, kRegModuleClock1, v);
    RegWrite(h, kRegModuleClock1, v & ~kModuleClockHold);
    return HSLKSTSetDCParameters(h, &timing, &dc);
  }
  if (c0 & kModuleClockHold) {
    *flOutput &= ~kOutModule1;
    timing.flOutput = *flOutput;
    dc.ulController = 0;
    dc.ulModule = 0;
    const uint32_t v = ModuleClockSelect::Set(c0, FreeClockSelect(h, 0));
    RegWriteByte(h, kVgaMiscOutWrite, kMiscOutFreeController);
    RegWrite(h, kRegModuleClock0, v);
    RegWrite(h, kRegModuleClock0, v & ~kModuleClockHold);
    return HSLKSTSetDCParameters(h, &timing, &dc);
  }
  *flOutput = kOutControllerOff;
  return h->status;
}

HALSTATUS HSLEnableSyncOnOutput(BOARDHANDLE* h, uint32_t* flOutput, uint32_t syncOn,
                                uint32_t* savedDac1, uint32_t* savedDac2) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTInitFreeController(h, flOutput);
  const uint32_t w = *flOutput;
  if (savedDac1 != nullptr) *savedDac1 = RegRead(h, kRegDacCtl1);
  if (savedDac2 != nullptr) *savedDac2 = RegRead(h, kRegDacCtl2);
  const bool module1 = (w & kOutModule1) != 0;
  const bool direct = DirectOutputPath(h, w);
  if (UsesDac1(h, w) || (UsesDvo1(h, w) && direct))
    RegWrite(h, kRegDacCtl1, (module1 ? kDac1Module1 : 0) | (syncOn ? 0 : kDac1Blank));
  if (UsesDac2(h, w) || (UsesDvo2(h, w) && direct))
    RegWrite(h, kRegDacCtl2, (module1 ? Dac2Source::Set(0, 1) : 0) | (syncOn ? 0 : kDac2Blank));
  if (AnalogOnPaths(h, w)) HSLEnableSyncOnExternalDac(h, w);
  return h->status;
}

HALSTATUS HSLEnableSyncOnExternalDac(BOARDHANDLE* h, uint32_t w) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t d = FirstPath(h, w);
  if (d > 3) return h->status;
  uint32_t c0 = RegRead(h, kRegModuleClock0);
  const uint32_t c1 = RegRead(h, kRegModuleClock1);
  uint32_t c20 = RegRead(h, kRegDvoSource);
  uint32_t c24 = RegRead(h, kRegDvoPower);
  const bool module1 = (w & kOutModule1) != 0;
  if (c0 & kDvo1Disable) {
    // The DVO takes the clock of the word's module; the code's top bit goes
    // to bit 29 here.
    const uint32_t code = ModuleClockSelect::Get(module1 ? c1 : c0);
    c0 = Dvo1CodeLow::Set(c0, code & 3);
    c0 = WithBit(c0, Bit(29), (code & 4) != 0) & ~kDvo1Disable;
  }
  auto encoderSync = [&] {
    if (!EncoderPresent(h, d)) return;
    HSLCHREnable(h, d, kChrModeAnalog, nullptr);
    uint8_t value = kEncoderSyncValue;
    HSLCHRI2CWrite(h, d, kEncoderSyncRegister, &value, 1);
  };
  if (UsesDvo1(h, w)) {
    c20 |= Bit(10) | Bit(12);
    c20 = WithBit(Dvo1Source::Set(c20, 0), Bit(14), module1);
    c24 &= ~(kDvoPowerDvo1Off | kDvoPowerBothOff);
    encoderSync();
  }
  if (UsesDvo2(h, w)) {
    c20 |= Bit(26) | Bit(28);
    c20 = WithBit(c20, kDvo2SourceModule1, module1);
    c24 &= ~(kDvoPowerDvo2Off | kDvoPowerBothOff);
    encoderSync();
  }
  if (!EncoderPresent(h, d)) return h->status;
  if (AnalogOnPaths(h, w)) {
    RegWrite(h, kRegModuleClock0, c0);
    RegWrite(h, kRegDvoSource, c20);
    RegWrite(h, kRegDvoPower, c24);
  }
  return h->status;
}

HALSTATUS HSLDisableSyncOnOutput(BOARDHANDLE* h, uint32_t w, const uint32_t* savedDac1,
                                 const uint32_t* savedDac2) {
  if (HalFailed(h->status)) return h->status;
  uint32_t c20 = RegRead(h, kRegDvoSource);
  uint32_t c24 = RegRead(h, kRegDvoPower);
  auto restoreDacs = [&] {
    if (savedDac1 != nullptr) RegWrite(h, kRegDacCtl1, *savedDac1);
    if (savedDac2 != nullptr) RegWrite(h, kRegDacCtl2, *savedDac2);
  };
  // No controller was started, but the DAC words were still written.
  if (w & kOutControllerOff) {
    restoreDacs();
    return h->status;
  }
  const uint32_t e = FirstPath(h, w);
  if (EncoderPresent(h, e)) HSLCHRDisable(h, e, nullptr);
  const bool module0 = (w & kOutModule1) == 0;
  if (UsesDvo1(h, w)) {
    c24 &= ~kDvoPowerDvo1Off;
    c20 = WithBit(Dvo1Source::Set(c20, 0), Bit(14), module0);
  }
  if (UsesDvo2(h, w)) {
    c24 &= ~kDvoPowerDvo2Off;
    c20 = WithBit(c20, kDvo2SourceModule1, module0);
  }
  if (EncoderPresent(h, e) && AnalogOnPaths(h, w)) {
    RegWrite(h, kRegDvoSource, c20);
    RegWrite(h, kRegDvoPower, c24);
  }
  restoreDacs();
  RegModify(h, (w & kOutModule1) ? kRegModuleClock1 : kRegModuleClock0, 0, kModuleClockHold);
  return h->status;
}

HALSTATUS HSLKSTBlankDisplayOutput(BOARDHANDLE* h, uint32_t k, uint32_t blank) {
  if (HalFailed(h->status)) return h->status;
  if (k > 1) return h->status;
  const uint32_t w = h->aModeInfo[k].flOutput & kOutOwnedBits;
  if (UsesDac1(h, w)) RegModify(h, kRegDacCtl1, kDac1Blank, blank ? kDac1Blank : 0);
  if (UsesDac2(h, w)) RegModify(h, kRegDacCtl2, kDac2Blank, blank ? kDac2Blank : 0);
  if (FirstPath(h, w) <= 3) HSLKSTDimController(h, k, blank ? 1 : 0, blank ? 0 : 255);
  return h->status;
}

// ---- DVI ---------------------------------------------------------------------------------

HALSTATUS HSLKSTEnableDVI(BOARDHANDLE* h, uint32_t n, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (n > 3) n = 0;
  const uint32_t w = mode->flOutput;
  const uint32_t m = SelectDCModule(mode);
  bool syncBuffer = true;
  if (n == 0 || n == 1) {
    uint32_t inUse = 0;
    HSLKSTIsModuleCurrentlyInUse(h, n == 0 ? kModuleDac1 : kModuleDac2, m, &inUse);
    syncBuffer = !(n == 0 ? UsesDac1(h, w) : UsesDac2(h, w)) && !inUse;
  }
  const MODEINFO& request = h->oWorkingMode;
  if ((h->ulFeatures & kFeatureEncoders) && EncoderPresent(h, n)) {
    uint32_t encoderMode = kChrModeDigital;
    HSLKSTGetChrontelOutputMode(h, n, w, &encoderMode);
    HSLCHREnable(h, n, encoderMode, &h->oWorkingMode);
    if (syncBuffer) HSLKSTAccessSyncBuffer(h, mode, n, 1);
    return h->status;
  }
  if (!(h->ulFeatures & kFeatureTransmitters)) return h->status;
  HSLKSTEnableDVIDualLink(h, n);
  const bool dl = DualLinkCondition(h);
  const bool fast = request.ulPixClock > kDualLinkKHz;
  if (dl && fast && TransmitterPair(h, n)) {
    HSLSI164Enable(h, n);
    HSLSI164EnableDualLinkMode(h, n);
    HSLSI164Enable(h, n + 1);
    HSLSI164EnableDualLinkMode(h, n + 1);
  } else {
    HSLSI164Enable(h, n);
  }
  uint32_t format = 0, index = 0;
  HSLKSTGetDigitalOutputFormat(h, mode, &format, &index);
  const bool stayOn =
      (dl && fast) ||
      (!dl && (h->ulOutputCaps & kEnableDualLink0) && h->aulDigitalOutputFormat[0] == 2 && fast &&
       (request.flOutput & kOutDigital0)) ||
      format == kDigitalFormatCemA || format == kDigitalFormatCemB || DigitalFormatSpecialCase(h, *mode);
  if (!stayOn) HSLKSTDisableDVIDualLink(h, n);
  return h->status;
}

HALSTATUS HSLKSTDisableDVI(BOARDHANDLE* h, uint32_t n, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (n > 3) n = 0;
  if (EncoderPresent(h, n)) {
    HSLCHRDisable(h, n, mode);
    return HSLKSTAccessSyncBuffer(h, mode, n, 0);
  }
  if (!h->aSiI164[n].ulPresent) return h->status;
  HSLKSTEnableDVIDualLink(h, n);
  if (DualLinkCondition(h) && TransmitterPair(h, n)) {
    HSLSI164Disable(h, n);
    HSLSI164Disable(h, n + 1);
  } else {
    HSLSI164Disable(h, n);
  }
  return HSLKSTDisableDVIDualLink(h, n);
}

namespace {

HALSTATUS DualLinkSwitch(BOARDHANDLE* h, uint32_t output, bool on) {
  if (HalFailed(h->status)) return h->status;
  if (DualLinkCondition(h)) {
    return on ? HSLKSTEnableCEMDualDVI(h, output) : HSLKSTDisableCEMDualDVI(h, output);
  }
  uint8_t level = on ? 1 : 0;
  uint32_t present = 0;
  return HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kMiscIoDualLink, 0, &level, &present);
}

}  // namespace

HALSTATUS HSLKSTEnableDVIDualLink(BOARDHANDLE* h, uint32_t output) {
  return DualLinkSwitch(h, output, true);
}

HALSTATUS HSLKSTDisableDVIDualLink(BOARDHANDLE* h, uint32_t output) {
  return DualLinkSwitch(h, output, false);
}

HALSTATUS HSLKSTAccessSyncBuffer(BOARDHANDLE* h, void*, uint32_t line, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  if (!(h->ulFeatures & kFeatureEncoders)) return h->status;
  static constexpr uint32_t kFunction[4] = {1, 2, 4, 8};
  const uint32_t function = line < 4 ? kFunction[line] : 1;
  uint32_t slot = 0, nibble = 0, found = 0;
  HSLPIN60GetCHRGPIOData(h, kEncoderGpioSlots, function, &slot, &nibble, &found);
  uint32_t value = on ? 1 : 0;
  if (found) return HSLCHRAccessGPIO(h, 1, slot, nibble, &value);
  if (PinsVersion(h) <= kPinsVersion608 && !IsLaterKestrion(h->usDeviceId) &&
      !(h->ulFeatures & kFeatureTransmitters) &&
      !(h->ulOutputCaps & (kOutputCapsDigitalRoute0 | kOutputCapsDigitalRoute1)))
    HSLCHRAccessGPIO(h, 1, line, 1, &value);
  return h->status;
}

// ---- Output halves of a mode set -------------------------------------------------------

HALSTATUS HSLKSTSetDisableDisplayOutputs(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t w = mode->flOutput;
  if (UsesDac1(h, w)) RegModify(h, kRegDacCtl1, 0, kDacOff | kDac1Blank);
  if (UsesDac2(h, w)) {
    uint32_t v = RegRead(h, kRegDacCtl2) | kDac2Blank;
    if (!Tv1OnController3(*mode))
      v |= kDacOff;
    else if (RecordOff(*mode))
      v = (v & ~(kDacOff | kDac1Blank)) | kDac1Module1;
    RegWrite(h, kRegDacCtl2, v);
  }
  for (uint32_t n = 0; n < 4; ++n)
    if (OnPath(h, w, n)) HSLKSTDisableDVI(h, n, mode);
  if (w & kOutTv1) {
    h->ucTvEncoderKind &= static_cast<uint8_t>(~0x5u);
  }
  return h->status;
}

HALSTATUS HSLKSTDisableDisplayOutputs(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t smooth = 0;
  if (!(mode->flOutput & kSignalOutputFlag8)) HSLKSTDetectSmoothTransition(h, mode, &smooth);
  if (!smooth || IsQuadBoard(h)) {
    const uint32_t saved = mode->flOutput;
    const MODEINFO& current = h->aModeInfo[SelectDC(mode)];
    if (!RecordOff(current)) mode->flOutput |= current.flOutput & kOutOwnedBits;
    HSLKSTSetDisableDisplayOutputs(h, mode);
    mode->flOutput = saved;
  }
  if (PinsCemCode(h) == kCemCodeSp && NeedsCem(h, mode->flOutput)) {
    HSLKSTDisableCEM_SP_Backend(h, 0);
    HSLKSTDisableCEM_SP_Backend(h, 1);
  }
  return h->status;
}

HALSTATUS HSLKSTEnableDisplayOutputs(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t w = mode->flOutput;
  const uint32_t c = SelectDC(mode);
  const uint32_t dacWord = PinsDword(h, kPinsDacFields);
  const bool describedFields = PinsVersion(h) > kPinsVersion603;
  auto mcsFields = [&](uint32_t record) {
    const MCSRECORD& r = h->aMcs[record];
    return ((r.ulFormatHigh & 7) << 6) | ((r.ulFormatMid & 7) << 3) | (r.ulFormatLow & 7);
  };
  uint32_t fields = 0;
  if (UsesDac1(h, w)) {
    uint32_t v = RegRead(h, kRegDacCtl1) & ~(kDacTv | kDacOff);
    v = WithBit(v, kDacHsyncNegative, HsyncNegative(*mode));
    v = WithBit(v, kDacVsyncNegative, VsyncNegative(*mode));
    if (h->ulOutputCaps & kRoutingBit27)
      fields = mcsFields(0);
    else if (describedFields)
      fields = dacWord & kDacFields;
    v = (v & ~kDacFields) | fields;
    v &= ~(kDac1Blank | kDac2Blank);
    if (c <= 1)
      v = WithBit(v, kDac1Module1, c == 1);
    else
      SetError(h, kErrDacController);
    RegWrite(h, kRegDacCtl1, v);
    if (h->ulFeatures & kFeatureEncoder0) HSLKSTAccessSyncBuffer(h, mode, 0, 0);
  }
  if (UsesDac2(h, w)) {
    const bool tv = (w & kOutTv1) != 0;
    uint32_t v = RegRead(h, kRegDacCtl2) & ~kDacOff;
    v = WithBit(v, kDacHsyncNegative, HsyncNegative(*mode));
    v = WithBit(v, kDacVsyncNegative, VsyncNegative(*mode));
    v = WithBit(v, kDacTv, tv);
    if (tv) {
      if (describedFields) fields = (dacWord >> 18) & kDacFields;
    } else if (h->ulOutputCaps & kRoutingBit28) {
      fields = mcsFields(1);
    } else if (describedFields) {
      fields = (dacWord >> 9) & kDacFields;
    }
    v = (v & ~kDacFields) | fields;
    v &= ~(kDac2Blank | kDac2Bit17);
    if (tv) {
      v = Dac2Source::Set(v, kDac2TvSource);
      if (Tv1OnController3(*mode)) v |= Bit(10);
    } else if (c == 2) {
      SetError(h, kErrDacController);
    } else {
      v = Dac2Source::Set(v, c);
    }
    RegWrite(h, kRegDacCtl2, v);
    if (h->ulFeatures & kFeatureEncoder1) HSLKSTAccessSyncBuffer(h, mode, 1, 0);
  }
  for (uint32_t n = 0; n < 4; ++n)
    if (OnPath(h, w, n)) HSLKSTEnableDVI(h, n, mode);
  if (PinsCemCode(h) == kCemCodeSp && NeedsCem(h, w)) {
    HSLKSTEnableCEM_SP_Backend(h, 0);
    HSLKSTEnableCEM_SP_Backend(h, 1);
  }
  return h->status;
}
