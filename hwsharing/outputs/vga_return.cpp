// Giving the console back: the output-state probe, the save of the VGA
// state and the FPGA sets, the controllers' switch-off and the return to
// VGA with its DAC, DVO, transmitter and expansion-module steps. The
// encoders' part of the return is in vga_return_encoders.cpp.
#include "hwsharing/outputs/vga_return.h"

#include <cstring>
#include <initializer_list>

#include "core/chip_ids.h"
#include "core/regs/chrontel.h"
#include "core/regs/cursor.h"
#include "core/regs/display.h"
#include "core/regs/fpga.h"
#include "core/regs/transmitters.h"
#include "core/regs/vga.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/vga.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/companion.h"
#include "hwsharing/encoders/fpga_modes.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/outputs/output_sync.h"

namespace {

// ---- FPGA register sets ----------------------------------------------------------

constexpr uint8_t kListEnd = 255;
constexpr uint32_t kMaxListPairs = kFpgaSetBytes / 2;
constexpr uint8_t kFpgaModePatch = 0x04;
constexpr uint8_t kFpgaSyncPatch = 0x40;

// {register, value} pairs ended by 255.
constexpr uint8_t kFpgaRow1[] = {0x09, 0x00, 0x0a, 0x00, 0x0b, 0x21, 0x10, 0x1e, 0x11, 0xe0, 0x12, 0x01, 0x13,
                                 0x9e, 0x14, 0xe2, 0x15, 0x29, 0x16, 0xe6, 0x17, 0x62, 0x18, 0x2e, 0x19, 0x16,
                                 0x1a, 0x60, 0x1b, 0x01, 0x1c, 0x0f, 0x1d, 0x03, 0x08, 0x00, kListEnd};
constexpr uint8_t kFpgaRow2[] = {0x09, 0x00, 0x0a, 0x00, 0x0b, 0x21, 0x10, 0x1e, 0x11, 0xe0, 0x12, 0x01, 0x13,
                                 0x9e, 0x14, 0xe2, 0x15, 0x29, 0x16, 0x02, 0x17, 0x23, 0x18, 0x30, 0x19, 0x42,
                                 0x1a, 0x23, 0x1b, 0x34, 0x1c, 0x47, 0x1d, 0x03, 0x08, 0x00, kListEnd};
constexpr uint8_t kFpgaRow3[] = {0x09, 0x40, 0x0a, 0x00, 0x0b, 0x00, 0x10, 0x1e, 0x11, 0x90, 0x12, 0x44, 0x13,
                                 0x5e, 0x14, 0x96, 0x15, 0x21, 0x16, 0xc6, 0x17, 0x16, 0x18, 0x28, 0x19, 0x76,
                                 0x1a, 0x17, 0x1b, 0x33, 0x1c, 0x6f, 0x1d, 0x08, 0x08, 0x88, kListEnd};
static_assert(sizeof(kFpgaRow1) <= kFpgaSetBytes && sizeof(kFpgaRow2) == sizeof(kFpgaRow1) &&
              sizeof(kFpgaRow3) == sizeof(kFpgaRow1));

// Presets A and B: FPGA 0's set and FPGA 1's.
struct FpgaPreset {
  const uint8_t* set[2];
};
constexpr FpgaPreset kPresetA = {{kFpgaRow3, kFpgaRow1}};
constexpr FpgaPreset kPresetB = {{kFpgaRow3, kFpgaRow2}};

void CopyPreset(VGARETURNSTATE& state, const FpgaPreset& preset) {
  for (uint32_t fpga = 0; fpga < 2; ++fpga) {
    std::memset(state.aucFpgaSet[fpga], kListEnd, kFpgaSetBytes);
    std::memcpy(state.aucFpgaSet[fpga], preset.set[fpga], sizeof(kFpgaRow1));
  }
}

uint8_t FpgaRead(BOARDHANDLE* h, uint32_t fpga, uint8_t reg) {
  uint8_t v = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, reg, &v);
  return v;
}
void FpgaWrite(BOARDHANDLE* h, uint32_t fpga, uint8_t reg, uint8_t value) {
  HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, reg, &value);
}

// The bits a device adds to a register of the list on its way to the FPGA.
uint8_t FpgaPatch(const BOARDHANDLE* h, uint32_t fpga, uint8_t reg) {
  if (IsEarlyKestrion(h->usDeviceId) && fpga == 0) {
    if (reg == kFpgaRegChipSelect) return kFpgaModePatch;
    if (reg == kFpgaRegSync) return kFpgaSyncPatch;
  }
  if (IsLaterKestrion(h->usDeviceId) && fpga == 1 && reg == kFpgaRegChipSelect) return kFpgaModePatch;
  return 0;
}

HALSTATUS WriteFpgaList(BOARDHANDLE* h, const uint8_t* list, uint32_t fpga, bool patch) {
  if (HalFailed(h->status)) return h->status;
  FpgaWrite(h, fpga, kFpgaRegSetGate, 0);
  FpgaWrite(h, fpga, kFpgaRegControl, 0);
  for (uint32_t i = 0; i < kMaxListPairs && list[2 * i] != kListEnd; ++i) {
    const uint8_t reg = list[2 * i];
    FpgaWrite(h, fpga, reg, static_cast<uint8_t>(list[2 * i + 1] | (patch ? FpgaPatch(h, fpga, reg) : 0)));
  }
  FpgaWrite(h, fpga, kFpgaRegControl, kFpgaVideoOn);
  return h->status;
}

// ---- Output-state probe ------------------------------------------------------------

constexpr uint8_t kSiConsoleBits = 0x39;
constexpr uint8_t kChrDacConsole = 11;
constexpr uint8_t kChrDac2Console = 22;
constexpr uint8_t kTvClassB[] = {131, 113};

// The console's width class from the VGA CRTC; an LVDS panel's text mode
// has its own class.
uint32_t VgaProbe(BOARDHANDLE* h, uint32_t detail) {
  const uint8_t hblank = VgaCrtc(h, kCrtcHBlankStart);
  const uint8_t vblank = VgaCrtc(h, kCrtcVBlankStart);
  const uint8_t overflow = VgaCrtc(h, kCrtcOverflow);
  const uint8_t scan = VgaCrtc(h, kCrtcMaxScanLine);
  if (detail == kVgaOutLvds && !(overflow & 0x08) && hblank == 0x63 && (scan & 0x20) && vblank == 0x57)
    return kVgaOutDvo | kVgaOutLvdsText;
  switch (hblank) {
    case 0x7F: detail |= kVgaOutWidth1024; break;
    case 0x9F: detail |= kVgaOutWidth1280; break;
    case 0xC7: detail |= kVgaOutWidth1600; break;
    default: detail |= kVgaOutWidthOther; break;
  }
  return kVgaOutDvo | detail;
}

// One register of an encoder asked on its own: false when it does not
// answer (the status is cleared before and left failed after).
bool AskEncoder(BOARDHANDLE* h, uint32_t encoder, uint8_t reg, uint8_t* value) {
  h->status = kHalOk;
  *value = ChrReadByte(h, encoder, reg);
  return !HalFailed(h->status);
}

bool IsConsoleMark(uint8_t v) { return v == kChrConsoleMarkTv || v == kChrConsoleMarkDigital; }

uint32_t EncoderProbe(BOARDHANDLE* h, uint32_t encoder) {
  uint8_t id = 0, mark = 0, dac = 0, dac2 = 0, tv = 0;
  // An encoder that does not answer carries no console: the DACs do.
  if (!AskEncoder(h, encoder, kChrRegDeviceId, &id)) return kVgaOutDacs;
  if (id == kChrIdLvds) return VgaProbe(h, kVgaOutLvds);
  if (!AskEncoder(h, encoder, kChrRegPower, &mark)) return kVgaOutDacs;
  if (mark == kChrConsoleMarkDigital) return VgaProbe(h, 0);
  if (!AskEncoder(h, encoder, kChrRegDac, &dac)) return kVgaOutDacs;
  if (dac == kChrDacConsole) return kVgaOutDacs;
  if (!AskEncoder(h, encoder, kChrRegDac2, &dac2)) return kVgaOutDacs;
  if (dac2 == kChrDac2Console) return kVgaOutDacs;
  if (!AskEncoder(h, encoder, kChrRegBrightness, &tv)) return kVgaOutDacs;
  const bool classB = tv == kTvClassB[0] || tv == kTvClassB[1];
  return kVgaOutEncoder | kVgaOutEncoderTv | (classB ? kVgaOutTvClassB : kVgaOutTvClassA);
}

// ---- Chip steps of the return ---------------------------------------------------------

constexpr uint32_t kClockSelectEncoderPath = 8;
constexpr uint32_t kRegimeEncoderSync = 1u << 2;
constexpr uint32_t kDacOffBits1 = kDacOff | kDac1Blank;              // 0x9400
constexpr uint32_t kDac1Bit16 = 1u << 16;
constexpr uint32_t kDacOffBits2 = kDacOff | kDac2Blank | kDac2Bit17;  // 0x31400
// A DAC that gives its controller's sync without a picture.
constexpr uint32_t kDac1SyncOnly = kDac1Blank | kDac1Bit16;
constexpr uint32_t kDac2SyncOnly = kDac2Blank | kDac2Bit17;
constexpr uint32_t kDacSyncPolarity = kDacHsyncNegative | kDacVsyncNegative;
// The second and fourth sync bits of each DVO in 0x1C20: its polarities.
constexpr uint32_t kDvoSyncPolarity = (0x28u << 8) | (0x28u << 24);
constexpr uint32_t kClockHoldWaitUs = 1000;
constexpr uint32_t kPriorityVgaWord = 0x101;
constexpr uint32_t kPriorityLvdsText = 3;
constexpr uint32_t kClockDividedByTwo = 2;
constexpr uint32_t kClockResetBits = 0x3u << 2;
// The module's mode is clocked through the first DAC's sync polarity bits.
constexpr uint32_t kCemModeClock = kDacHsyncNegative;
constexpr uint32_t kCemModeLatch = kDacVsyncNegative;
constexpr uint32_t kCemModeClockPulses = 4;

bool Has(uint32_t w, uint32_t bits) { return (w & bits) != 0; }
bool SecondPathAlone(uint32_t w) { return Has(w, kVgaOutSecondOnly) && !Has(w, kVgaOutBothPaths); }
bool SecondPathToo(uint32_t w) { return Has(w, kVgaOutSecondToo | kVgaOutBothPaths); }
bool TypeIs3Or9(const BOARDHANDLE* h) { return BoardType(h) == 3 || BoardType(h) == 9; }
bool HasTransmitters(const BOARDHANDLE* h) { return (h->ulFeatures & kFeatureTransmitters) != 0; }

void SetBits(BOARDHANDLE* h, uint32_t reg, uint32_t bits) { RegModify(h, reg, 0, bits); }
void ClearBits(BOARDHANDLE* h, uint32_t reg, uint32_t bits) { RegModify(h, reg, bits, 0); }

void ClearDualLinkFormatBit(BOARDHANDLE* h) {
  const uint32_t v = RegRead(h, kRegDvoSource);
  if (v & kDvo1DualLinkBit25) RegWrite(h, kRegDvoSource, v & ~kDvo1DualLinkBit25);
}

// Whether the console's encoder is an LVDS encoder. Only a question: an
// encoder that does not answer is none, and leaves the status as it was.
bool PrimaryIsLvds(BOARDHANDLE* h) {
  const HALSTATUS kept = h->status;
  uint8_t id = 0;
  const bool answered = AskEncoder(h, VgaReturnState(h).ulPrimaryChrontel, kChrRegDeviceId, &id);
  h->status = kept;
  return answered && id == kChrIdLvds;
}

// DVOs 1 and 2 chosen as the transmitter or encoder path of W needs them.
void ChosenDvos(BOARDHANDLE* h, uint32_t w, bool enabling, bool* dvo1, bool* dvo2) {
  if (!HasTransmitters(h) && PrimaryIsLvds(h)) {
    *dvo1 = false;
    *dvo2 = true;
    return;
  }
  if (enabling) {
    const uint32_t type = BoardType(h);
    *dvo1 = Has(w, kVgaOutBothPaths) || type == 2 || type == 5 || (!TypeIs3Or9(h) && !Has(w, kVgaOutSecondOnly));
  } else {
    *dvo1 = !((IsQuadBoard(h) && TypeIs3Or9(h)) || SecondPathAlone(w));
  }
  *dvo2 = !*dvo1 || SecondPathToo(w);
}

void HSLKSTDisableDVO1(BOARDHANDLE* h) {
  SetBits(h, kRegModuleClock0, kDvo1Disable);
  SetBits(h, kRegDvoPower, kDvoPowerDvo1Off | kDvoPowerBothOff);
}

void HSLKSTDisableDVO2(BOARDHANDLE* h) {
  if (IsEarlyKestrion(h->usDeviceId)) SetBits(h, kRegModuleClock0, kDvo1Disable);
  if (IsLaterKestrion(h->usDeviceId)) {
    ClearBits(h, kRegOutputArrangement, kOutputArrangementDvo2Locked);
    SetBits(h, kRegModuleClock1, kDvo2Disable);
  }
  SetBits(h, kRegDvoPower, kDvoPowerDvo2Off | kDvoPowerBothOff);
}

// A DVO back on: its clock from select code S and released, then its power
// bits (and the both-off bit) cleared; DVO 2's own clock on the later
// devices reports itself on again.
void EnableDvo(BOARDHANDLE* h, uint32_t dvo, uint32_t select) {
  HSLKSTSetDVOClock(h, dvo, select, 1);
  if (dvo == 1 && IsLaterKestrion(h->usDeviceId)) {
    SetBits(h, kRegOutputArrangement, kOutputArrangementDvo2Locked);
  }
  ClearBits(h, kRegDvoPower, (dvo == 0 ? kDvoPowerDvo1Off : kDvoPowerDvo2Off) | kDvoPowerBothOff);
}

void HSLKSTDisableDVOs(BOARDHANDLE* h, uint32_t w) {
  bool dvo1 = false, dvo2 = false;
  ChosenDvos(h, w, false, &dvo1, &dvo2);
  if (dvo1) HSLKSTDisableDVO1(h);
  if (dvo2) HSLKSTDisableDVO2(h);
}

void HSLKSTEnableDVOs(BOARDHANDLE* h, uint32_t w, uint32_t select) {
  WriteDvoWords(h, (PinsVersion(h) >> 8) >= 6);
  bool dvo1 = false, dvo2 = false;
  ChosenDvos(h, w, true, &dvo1, &dvo2);
  if (dvo1) EnableDvo(h, 0, select);
  if (dvo2) EnableDvo(h, 1, select);
}

// Transmitter 0 unless the second path shows alone; transmitter 1 for the
// second path.
bool Transmitter0(uint32_t w) { return !SecondPathAlone(w); }
bool Transmitter1(uint32_t w) { return SecondPathToo(w); }

void DualLinkOnAllOutputs(BOARDHANDLE* h, bool on) {
  for (uint32_t output = 0; output < 4; ++output)
    on ? HSLKSTEnableDVIDualLink(h, output) : HSLKSTDisableDVIDualLink(h, output);
}

void HSLKSTDisableSI164(BOARDHANDLE* h, uint32_t w) {
  if (Transmitter0(w)) HSLSI164Disable(h, 0);
  if (Transmitter1(w)) {
    DualLinkOnAllOutputs(h, true);
    HSLSI164Disable(h, 1);
    DualLinkOnAllOutputs(h, false);
  }
}

void EnableTransmitter(BOARDHANDLE* h, uint32_t n) {
  static constexpr uint8_t kConsoleSetup[][2] = {{8, 0x39}, {10, 0x00}, {12, 0x89}};
  for (const auto& pair : kConsoleSetup) {
    uint8_t v = pair[1];
    HSLSI164I2CWrite(h, n, pair[0], &v, 1);
  }
  DualLinkOnAllOutputs(h, true);
}

void HSLKSTEnableSI164(BOARDHANDLE* h, uint32_t w) {
  if (Transmitter0(w)) EnableTransmitter(h, 0);
  if (Transmitter1(w)) {
    EnableTransmitter(h, 1);
    DualLinkOnAllOutputs(h, false);
  }
}

void HSLKSTDisableDAC1(BOARDHANDLE* h) { SetBits(h, kRegDacCtl1, kDacOffBits1); }
void HSLKSTDisableDAC2(BOARDHANDLE* h) { SetBits(h, kRegDacCtl2, kDacOffBits2); }
void HSLKSTEnableDAC1(BOARDHANDLE* h) { ClearBits(h, kRegDacCtl1, kDacOffBits1 | kDac1Bit16); }
void HSLKSTEnableDAC2(BOARDHANDLE* h) { ClearBits(h, kRegDacCtl2, kDacOffBits2); }

void HSLKSTEnableDACs(BOARDHANDLE* h, uint32_t w) {
  const bool dac1 = Has(w, kVgaOutBothPaths) || !Has(w, kVgaOutSecondOnly);
  const bool dac2 = Has(w, kVgaOutBothPaths) || Has(w, kVgaOutSecondOnly);
  if (dac1) HSLKSTEnableDAC1(h);
  if (dac2) HSLKSTEnableDAC2(h);
}

// The sync polarities back to positive, on the DACs or the DVOs that carry
// the console (the return only ever clears them).
void HSLKSTSetSyncPolarity(BOARDHANDLE* h, uint32_t w) {
  bool dvo = Has(w, kVgaOutDvo);
  bool dac = !dvo;
  if (IsQuadBoard(h)) {
    if (IsLaterKestrion(h->usDeviceId) && TypeIs3Or9(h)) {
      dvo = true;
      dac = false;
    } else if (h->usDeviceId == kDeviceKestrion2 && !TypeIs3Or9(h)) {
      dvo = dac = true;
    }
  }
  if (dac) {
    ClearBits(h, kRegDacCtl1, kDacSyncPolarity);
    ClearBits(h, kRegDacCtl2, kDacSyncPolarity);
  }
  if (dvo) ClearBits(h, kRegDvoSource, kDvoSyncPolarity);
}

// The expansion module's mode is latched by a sequence of clock edges on
// 0x1C18 bit 11 with bit 13 held: each change its own read and write.
void HSLKSTSetCEMMode(BOARDHANDLE* h, uint32_t w) {
  if (!Has(w, kVgaOutDvo)) return;
  ClearBits(h, kRegDacCtl1, kCemModeClock);
  SetBits(h, kRegDacCtl1, kCemModeClock);
  ClearBits(h, kRegDacCtl1, kCemModeClock);
  SetBits(h, kRegDacCtl1, kCemModeLatch);
  for (uint32_t i = 0; i < kCemModeClockPulses; ++i) {
    SetBits(h, kRegDacCtl1, kCemModeClock);
    ClearBits(h, kRegDacCtl1, kCemModeClock);
  }
  ClearBits(h, kRegDacCtl1, kCemModeLatch);
  SetBits(h, kRegDacCtl1, kCemModeClock);
  ClearBits(h, kRegDacCtl1, kCemModeClock);
}

// The display clock modules of controllers A and B: a hold that waits for
// the module to stop, A's release, and A's clock source from select code S
// (written as the whole register).
void HSLKSTDisableDCMA(BOARDHANDLE* h) {
  SetBits(h, kRegModuleClock0, kModuleClockHold);
  Delay(h, kClockHoldWaitUs);
}
void HSLKSTDisableDCMB(BOARDHANDLE* h) {
  SetBits(h, kRegModuleClock1, kModuleClockHold);
  Delay(h, kClockHoldWaitUs);
}
void HSLKSTEnableDCMA(BOARDHANDLE* h) { ClearBits(h, kRegModuleClock0, kModuleClockHold); }
void HSLKSTSetClockSrcDCMA(BOARDHANDLE* h, uint32_t select) {
  RegWrite(h, kRegModuleClock0, ModuleClockSelect::Set(0, select & 0xF));
}

// Controller A back under the VGA registers, its clock from select code S.
void HSLKSTSwitchToVGAMode(BOARDHANDLE* h, uint32_t w, uint32_t select) {
  RegWrite(h, kRegControllerCtl, 0);
  RegWrite(h, ControllerReg(kRegControllerCtl, 1), 0);
  HSLKSTDisableDCMA(h);
  HSLKSTDisableDCMB(h);
  HSLKSTSetClockSrcDCMA(h, select);
  ClearBits(h, kRegRegime, kRegimeHires);
  SetBits(h, kRegRegime, kRegimeVga);
  RegWriteByte(h, kVgaCrtcExtIndex, 0);
  HSLKSTEnableDCMA(h);
  RegWrite(h, kRegPriority0, kPriorityVgaWord);
  if (Has(w, kVgaOutWidth1280 | kVgaOutWidth1600) && Has(w, kVgaOutLvds))
    RegWrite(h, kRegPriority1, kPriorityLvdsText);
}

void WriteSavedVga(BOARDHANDLE* h, VGASTATE* saved) {
  HSLVGAWriteVgaInfo(h, &saved->oVgaInfo);
  HSLKSTVgaLut(h, saved->aucPalette, 0);
}

// The console's clock select: the encoder path of a quad board has its own;
// otherwise the first free synthesizer (none: 0).
uint32_t ConsoleClockSelect(BOARDHANDLE* h, uint32_t w) {
  if (IsQuadBoard(h) && Has(w, kVgaOutEncoder)) return kClockSelectEncoderPath;
  const HALSTATUS kept = h->status;
  uint32_t fs = 0;
  HSLKSTGetFreeFS(h, 0, &fs);
  const bool found = !HalFailed(h->status) && fs <= 3;
  h->status = kept;
  return found ? fs + 1 : 0;
}

// The encoders' DAC sync on the first chips: DAC 1 (and DAC 2 when the
// second path shows the console) takes controller A's sync without a
// picture, as the encoders read it.
void AdjustEncoderDacSync(BOARDHANDLE* h, uint32_t w) {
  RegModify(h, kRegDacCtl1, kDacOff | kDac1Module1, kDac1SyncOnly);
  if (Has(w, kVgaOutBothPaths | kVgaOutSecondOnly))
    RegModify(h, kRegDacCtl2, kDacOff | Dac2Source::kMask, kDac2SyncOnly);
}

// The encoders' sync buffers on the second chip: GPIO line 1 of encoders 1
// and 2 (register 0x1E) made an output and driven high.
void ReleaseEncoderSyncBuffers(BOARDHANDLE* h) {
  constexpr uint8_t kLine1Input = 0x80, kLine1High = 0x20;
  for (uint32_t encoder : {1u, 2u})
    if (h->aChrontel[encoder].ulPresent) ChrModifyByte(h, encoder, kChrRegGpio, kLine1Input, kLine1High);
}

void ReturnDigitalPaths(BOARDHANDLE* h, uint32_t w, uint32_t select, VGASTATE* saved) {
  if (Has(w, kVgaOutWidth1600 | kVgaOutWidth1280 | kVgaOutLvds)) SetBits(h, kRegRegime, kRegimeEncoderSync);
  HSLKSTEnableDVOs(h, w, select);
  HSLKSTSoftVidResetCRTCA(h);
  if (HasTransmitters(h)) {
    HSLKSTSetCEMMode(h, w);
    HSLKSTEnableSI164(h, w);
    WriteSavedVga(h, saved);
    return;
  }
  if (IsEarlyKestrion(h->usDeviceId)) AdjustEncoderDacSync(h, w);
  if (h->usDeviceId == kDeviceKestrion2) ReleaseEncoderSyncBuffers(h);
  HSLKSTSetCEMMode(h, w);
  if (IsQuadBoard(h)) {
    VGARETURNSTATE& state = VgaReturnState(h);
    for (uint32_t fpga = 0; fpga < 2; ++fpga) {
      if (Has(w, kVgaOutEncoder))
        SetFPGARegisters(h, state.aucFpgaSet[fpga], fpga);
      else
        PatchFPGARegisters(h, state.aucFpgaSet[fpga], fpga);
    }
  }
  HSLKSTEnableChrontel(h, kVgaEnableValue, w);
}

}  // namespace

VGARETURNSTATE& VgaReturnState(BOARDHANDLE* h) {
  VGARETURNSTATE& state = h->oVgaReturn;
  if (state.ulValid != 1) {
    state.ulValid = 1;
    state.ulPrimaryChrontel = 0;
    state.ulSecondaryChrontel = 1;
    CopyPreset(state, kPresetA);
  }
  // The indices index the encoder records.
  state.ulPrimaryChrontel &= kChrEncoders - 1;
  state.ulSecondaryChrontel &= kChrEncoders - 1;
  return state;
}

// ---- FPGA lists ----------------------------------------------------------------------

HALSTATUS GetFPGARegisters(BOARDHANDLE* h, uint8_t* list, uint32_t fpga) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t i = 0; i < kMaxListPairs && list[2 * i] != kListEnd; ++i)
    list[2 * i + 1] = FpgaRead(h, fpga, list[2 * i]);
  return h->status;
}

HALSTATUS SetFPGARegisters(BOARDHANDLE* h, const uint8_t* list, uint32_t fpga) {
  return WriteFpgaList(h, list, fpga, false);
}

HALSTATUS PatchFPGARegisters(BOARDHANDLE* h, const uint8_t* list, uint32_t fpga) {
  return WriteFpgaList(h, list, fpga, true);
}

HALSTATUS HSLKSTGetFpgaVgaState(BOARDHANDLE* h, uint32_t selector) {
  if (HalFailed(h->status)) return h->status;
  VGARETURNSTATE& state = VgaReturnState(h);
  if (static_cast<int32_t>(selector) >= 0) {
    for (uint32_t fpga = 0; fpga < 2; ++fpga) GetFPGARegisters(h, state.aucFpgaSet[fpga], fpga);
  } else {
    CopyPreset(state, (selector & kFpgaPresetB) ? kPresetB : kPresetA);
  }
  return h->status;
}

// ---- Save, probe, switch-off -------------------------------------------------------

HALSTATUS HSLKSTGetVgaState(BOARDHANDLE* h, void* block, uint32_t selector) {
  h->status = kHalOk;
  // FPGAs that do not answer do not stop the VGA registers' save; their
  // error is reported after it.
  HALSTATUS fpga = kHalOk;
  if (IsQuadBoard(h)) {
    HSLKSTGetFpgaVgaState(h, selector);
    fpga = h->status;
    h->status = kHalOk;
  }
  HSLKSTVgaState(h, static_cast<VGASTATE*>(block), 1);
  return fpga != kHalOk ? SetError(h, fpga) : h->status;
}

HALSTATUS HSLKSTGetVgaOutputState(BOARDHANDLE* h, uint32_t* word) {
  const HALSTATUS entry = h->status;
  VGARETURNSTATE& state = VgaReturnState(h);
  uint32_t w = kVgaOutDacs;
  if (HasTransmitters(h)) {
    h->status = kHalOk;
    uint8_t control = 0;
    HSLSI164I2CRead(h, 0, kSiRegControl, &control, 1);
    if (!HalFailed(h->status) && (control & kSiConsoleBits) == kSiConsoleBits) w = VgaProbe(h, 0);
  } else {
    uint32_t primary = 0;
    for (uint32_t encoder : {3u, 2u, 1u}) {
      uint8_t mark = 0;
      if (AskEncoder(h, encoder, kChrRegPower, &mark) && IsConsoleMark(mark)) {
        primary = encoder;
        break;
      }
    }
    // Encoders pair up as 0 and 1, 2 and 3.
    state.ulPrimaryChrontel = primary;
    state.ulSecondaryChrontel = primary ^ 1;
    w = EncoderProbe(h, primary);
  }
  h->status = entry;
  *word = w;
  return 1;
}

HALSTATUS HSLKSTDisableControllers(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t c : {0u, 2u, 1u, 3u}) {
    if (h->aModeInfo[c].flOutput & kOutControllerOff) continue;
    h->aModeInfo[c].flOutput |= kOutControllerOff;
    MODEINFO off = h->aModeInfo[c];
    // Slot 4 holds the chip's mode set on every supported chip.
    if (h->oJumpTable.SetMode == nullptr) return SetError(h, kErrSlotNotInitialised);
    h->oJumpTable.SetMode(h, &off);
  }
  ClearDualLinkFormatBit(h);
  return h->status;
}

// ---- The return --------------------------------------------------------------------

HALSTATUS HSLKSTSoftVidResetCRTCA(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t saved = RegRead(h, kRegModuleClock0);
  const uint32_t divided = ModuleClockMode::Set(saved, kClockDividedByTwo);
  RegWrite(h, kRegModuleClock0, divided);
  RegWrite(h, kRegDisplayMode, kDisplayModeResetHold);
  const uint32_t held = (divided & ~kClockResetBits) | kModuleClockResetHold;
  RegWrite(h, kRegModuleClock0, held);
  RegWrite(h, kRegModuleClock0, held & ~kVideoResetPulse);
  RegWrite(h, kRegModuleClock0, held | kVideoResetPulse);
  RegWrite(h, kRegModuleClock0, held & ~kVideoResetPulse);
  RegWrite(h, kRegModuleClock0, saved);
  RegWrite(h, kRegDisplayMode, 0);
  return h->status;
}

HALSTATUS HSLKSTReturnToVga(BOARDHANDLE* h, void* savedBlock, uint32_t w) {
  if (HalFailed(h->status)) return h->status;
  VGASTATE* saved = static_cast<VGASTATE*>(savedBlock);
  // 1-2: cursors off at a retrace; nothing more when VGA is already on.
  RegWrite(h, kRegCursorControl0, 0);
  RegWrite(h, kRegCursorControl1, 0);
  HSLKSTWaitForVertical(h, 0, kVerticalTotal, 0);
  ClearDualLinkFormatBit(h);
  if (RegRead(h, kRegRegime) & kRegimeVga) return h->status;

  const bool quad = IsQuadBoard(h);
  const bool digital = Has(w, kVgaOutDvo) || quad;
  const uint32_t select = ConsoleClockSelect(h, w);
  // 4-5: the paths off.
  if (digital && HasTransmitters(h)) HSLKSTDisableSI164(h, w);
  if (Has(w, kVgaOutDacs)) {
    HSLKSTDisableDAC1(h);
    HSLKSTDisableDAC2(h);
  }
  if (digital) HSLKSTDisableDVOs(h, w);
  // 6-9: controller A under the VGA registers as saved, on DAC 1 (and DAC
  // 2 for both paths), positive syncs.
  HSLKSTSwitchToVGAMode(h, w, select);
  WriteSavedVga(h, saved);
  ClearBits(h, kRegDacCtl1, kDac1Module1);
  if (Has(w, kVgaOutSecondOnly | kVgaOutBothPaths)) ClearBits(h, kRegDacCtl2, Dac2Source::kMask);
  HSLKSTSetSyncPolarity(h, w);
  // 10-12: the encoder's sync, the digital paths and the DACs back on.
  if (Has(w, kVgaOutEncoder)) SetBits(h, kRegRegime, kRegimeEncoderSync);
  if (digital) ReturnDigitalPaths(h, w, select, saved);
  if (Has(w, kVgaOutDacs)) HSLKSTEnableDACs(h, w);
  return h->status;
}
