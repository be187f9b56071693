// Chip bring-up and the VGA / high-resolution switch.
#include "hwsharing/chip/bringup.h"

#include <initializer_list>
#include "core/board_description.h"
#include "core/chip_ids.h"

#include "core/regs/vga.h"
#include "hwsharing/chip/b90_clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/encoders/cem_module.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/system_clock.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/memctl.h"
#include "hwsharing/outputs/output_sync.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "core/poll.h"
#include "hwsharing/outputs/priority.h"
#include "hwsharing/chip/reg_access.h"
#include "core/regs/bus.h"
#include "core/regs/pci.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "core/regs/engine3d.h"
#include "core/regs/interrupts.h"
#include "core/regs/misc_io.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/chip/vga.h"

namespace {

constexpr uint32_t kCursorOff = 0;
constexpr uint32_t kDefaultPriorityWord = 0x303;
constexpr uint32_t kHiresClock0Bits = 0x809000;
constexpr uint32_t kHiresDvoPowerBits = 7;
constexpr uint32_t kRegimeSettleUnits = 10;
constexpr uint32_t kColdClockSelect = 0;
constexpr uint32_t kColdClockSelectOscOff = 0x40000000;
// The later generation's oscillator word on a cold chip.
constexpr uint32_t kB90ColdOscTest = 0;
constexpr uint32_t kB90ColdOscTestHeld = 0x80000000;
constexpr uint32_t kLaterPriorityBits = (1u << 3) | (1u << 11);
constexpr uint32_t kVertexProgramModeTopBit = 1u << 31;
constexpr uint32_t kFirstEngineReg = 0x10, kLastEngineReg = 0x130;
constexpr uint32_t kEngineWordTopNibble = 0xF0000000;
constexpr uint32_t kBoardFlagsBandwidth = 0xE0;
constexpr uint32_t kBoardFlagsNarrow = 0x80;
constexpr uint32_t kHighDigitalOrder[4] = {kOutDigital0, kOutDigital1, kOutDigital2, kOutDigital3};

// Output-enable bits and the flOutput bits of their outputs.
struct OutputBit {
  uint32_t enable;
  uint32_t flOutput;
};
constexpr OutputBit kOutputBits[] = {
    {1u << 0, kOutAnalog0},  {1u << 1, kOutAnalog1},  {1u << 2, kOutDigital0},
    {1u << 3, kOutTv1},      {1u << 6, kOutFourth0},  {1u << 7, kOutFourth1},
    {1u << 8, kOutDigital2}, {1u << 9, kOutDigital3}, {1u << 14, kOutFourth2},
    {1u << 15, kOutFourth3}, {1u << 21, kOutDigital1}, {1u << 23, kOutAnalog2},
    {1u << 24, kOutAnalog3},
};

bool EarlyA41(const BOARDHANDLE* h) { return h->usDeviceId == kDeviceKestrion1 && h->ulRevision <= 1; }

// Reads the line counter until it shows `line`: true once it did; false
// when it gave up, on a counter that does not move (kLineFrozenReads reads
// of its first line in a row) or after kLineReadsMax reads in all.
bool WaitForLine(BOARDHANDLE* h, uint32_t counter, uint32_t line) {
  const uint32_t first = RegRead(h, counter) & kLineCounterMask;
  if (first == line) return true;
  uint32_t sameInRow = 1;
  bool shown = false;
  (void)PollUntil(
      [&] {
        const uint32_t now = RegRead(h, counter) & kLineCounterMask;
        shown = now == line;
        sameInRow = now == first ? sameInRow + 1 : 0;
        return shown || sameInRow >= kLineFrozenReads;
      },
      kLineReadsMax - 1);
  return shown;
}

}  // namespace

uint32_t AllOutputsOffWord(uint32_t outputEnable) {
  uint32_t word = kOutControllerOff;
  for (const OutputBit& b : kOutputBits)
    if (outputEnable & b.enable) word |= b.flOutput;
  return word;
}

HALSTATUS HSLKSTWaitEngineNotBusy(BOARDHANDLE* h) { return h->status; }
HALSTATUS HSLKSTComputeDSTORG(BOARDHANDLE* h) { return h->status; }
HALSTATUS HSLKSTSetCRTC(BOARDHANDLE* h) { return h->status; }

HALSTATUS HSLKSTWaitForVertical(BOARDHANDLE* h, uint32_t controller, uint32_t type,
                                uint32_t offset) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 1) return h->status;
  if (RegRead(h, ModuleClockReg(controller)) & kModuleClockHold) return h->status;
  const uint32_t at = kControllerStride * controller;
  const uint32_t r = RegRead(h, kRegVTotal + at) & kLineCounterMask;
  uint32_t base = 0;
  switch (type) {
    case kVerticalTotal:
      base = r;
      break;
    case kVerticalBlankStart:
      base = (RegRead(h, kRegVBlank + at) & kLineCounterMask) + 1;
      break;
    case kVerticalLineZero:
      base = 0;
      break;
    case kVerticalSyncStart:
      base = RegRead(h, kRegVSync + at) & kLineCounterMask;
      break;
    default:
      return h->status;
  }
  const uint64_t target = uint64_t{base} + offset;
  if (target > r) return h->status;  // a line the counter never shows
  const uint32_t t = static_cast<uint32_t>(target);
  // Both waits run; a line that never came is reported to the caller as a
  // warning and leaves the handle's status as it is.
  const bool before = WaitForLine(h, kRegLineCounter + at, t < 2 ? r : t - 2);
  const bool atTarget = WaitForLine(h, kRegLineCounter + at, t);
  if (!before || !atTarget) return ReturnCorrectError(h->status, kWarnLineNotShown);
  return h->status;
}

HALSTATUS HSLKSTVGAWaitForVerticalRetrace(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (RegRead(h, kRegRegime) & kRegimeHires) return h->status;
  // Bounded: a chip without a running raster must not hang the switch.
  (void)PollUntil([&] { return (RegReadByte(h, kVgaInputStatus1) & kVgaStatusVRetrace) == 0; },
                  kRetraceReadsMax);
  (void)PollUntil([&] { return (RegReadByte(h, kVgaInputStatus1) & kVgaStatusVRetrace) != 0; },
                  kRetraceReadsMax);
  return h->status;
}

HALSTATUS HSLKSTSwitchToVGA(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t regime = RegRead(h, kRegRegime);
  uint32_t clock0 = RegRead(h, kRegModuleClock0);
  if (regime & kRegimeVga) return h->status;

  RegWrite(h, kRegCursorCtl, kCursorOff);
  HSLKSTWaitForVertical(h, 0, kVerticalTotal, 0);
  for (uint32_t c : {0u, 2u, 1u, 3u}) {
    if (h->aModeInfo[c].flOutput & kOutControllerOff) continue;
    MODEINFO off = h->aModeInfo[c];
    off.flOutput |= kOutControllerOff;
    h->oJumpTable.SetMode(h, &off);  // slot 4, HSLKSTSetMode
  }
  uint32_t fs = 0;
  h->oJumpTable.GetFreeFS(h, 0, &fs);
  if (fs <= 3) clock0 = ModuleClockSelect::Set(clock0, fs + 1);
  RegWrite(h, kRegModuleClock0, clock0);
  RegWrite(h, kRegModuleClock0, clock0);
  RegWriteByte(h, kVgaMiscOutWrite, kVgaMiscTextMode);
  RegWrite(h, kRegRegime, (regime & ~kRegimeHires) | kRegimeVga);
  RegWrite(h, kRegPriority0, kDefaultPriorityWord);
  clock0 &= ~kModuleClockHold;
  RegWrite(h, kRegModuleClock0, clock0);
  VGAINFO text = HSLVGAInfoDefault;
  HSLVGAWriteVgaInfo(h, &text);
  SetVgaCrtc(h, kCrtcVSyncEnd, VgaCrtc(h, kCrtcVSyncEnd) & ~kCrtcProtect);
  for (uint8_t index : {kCrtcHDisplayEnd, kCrtcHTotal, kCrtcVDisplayEnd, kCrtcOverflow, kCrtcVTotal})
    SetVgaCrtc(h, index, 0);
  SetVgaSeq(h, kVgaSeqClocking, kVgaSeqScreenOff);
  RegWrite(h, kRegDacCtl1, 0);
  return h->status;
}

HALSTATUS HSLKSTSwitchToHIRES(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t regime = RegRead(h, kRegRegime);
  if ((regime & kRegimeHires) && !(regime & kRegimeVga)) return h->status;

  RegWrite(h, kRegOutputArrangement, OutputArrangementValue(h));
  RegWrite(h, kRegDacCtl1, RegRead(h, kRegDacCtl1) | kDac1Blank);
  RegWrite(h, kRegDacCtl2, RegRead(h, kRegDacCtl2) | kDac2Blank);
  // No transmitter may drive an output while the regime changes.
  for (uint32_t output : kHighDigitalOrder) {
    for (uint32_t n = 0; n < 4; ++n) {
      if (!(OutputPathMask(h, n) & output)) continue;
      MODEINFO mode{};
      mode.flOutput = output;
      HSLKSTDisableDVI(h, n, &mode);
    }
  }
  HSLKSTVGAWaitForVerticalRetrace(h);
  const uint32_t none[2] = {0, 0};
  HSLKSTSetPriorityLevels(h, kPriorityPrimary0 | kPrioritySecond0, none, none);
  HSLKSTVGAWaitForVerticalRetrace(h);
  uint32_t r = RegRead(h, kRegRegime) & ~kRegimeVga;
  RegWrite(h, kRegRegime, r);
  Delay(h, kRegimeSettleUnits);
  RegWrite(h, kRegRegime, r | kRegimeHires);
  RegWrite(h, kRegModuleClock0, RegRead(h, kRegModuleClock0) | kModuleClockHold);
  const uint32_t clock0 = RegRead(h, kRegModuleClock0) | kHiresClock0Bits;
  const uint32_t clock1 = RegRead(h, kRegModuleClock1) | kModuleClockHold;
  const uint32_t dvo = RegRead(h, kRegDvoPower) | kHiresDvoPowerBits;
  RegWrite(h, kRegModuleClock0, clock0);
  RegWrite(h, kRegModuleClock1, clock1);
  RegWrite(h, kRegDvoPower, dvo);
  Delay(h, kRegimeSettleUnits);
  return h->status;
}

namespace {

// The cold start of both generations; the later one differs in the cold-chip
// test, the post word, the transmitters' set-up, the missing expansion
// module and its clock and memory bring-up.
HALSTATUS ColdStart(BOARDHANDLE* h, bool later) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t cold = RegRead(h, later ? kRegB90OscTest : kRegClockSelect0);
  if (cold == (later ? kB90ColdOscTest : kColdClockSelect) ||
      cold == (later ? kB90ColdOscTestHeld : kColdClockSelectOscOff))
    h->oJumpTable.HardwareReset(h);

  h->ulBoardFlags |= kBoardFlagHwInitialised;
  HSLKSTApplyVidReset(h, 0xFFFFFFFF);
  RegWrite(h, kRegModuleClock0, RegRead(h, kRegModuleClock0) | kHiresClock0Bits | kModuleClockHold);
  RegWrite(h, kRegModuleClock1, RegRead(h, kRegModuleClock1) | kModuleClockHold);
  Delay(h, kRegimeSettleUnits);
  RegWrite(h, kRegRegime, kRegimeHires);
  RegWrite(h, kRegDvoPower, kHiresDvoPowerBits);
  RegWrite(h, kRegPostWord, later || PinsVersion(h) >= kPinsVersion608
                                ? PinsDword(h, kPinsPostWord)
                                : kPinsDefaultPostWord);
  RegWrite(h, kRegIrqEnable, 0);
  RegWrite(h, kRegOutputArrangement, OutputArrangementValue(h));
  RegWrite(h, kRegVertexProgramMode, RegRead(h, kRegVertexProgramMode) & ~kVertexProgramModeTopBit);
  RegWrite(h, kRegDeviceWordA, 0x40);

  MODEINFO temp{};
  temp.flOutput = AllOutputsOffWord(h->ulOutputCaps);
  HSLKSTDisableDisplayOutputs(h, &temp);
  for (uint32_t n = 0; n < 4; ++n)
    if (h->aChrontel[n].ulPresent) HSLCHRReset(h, n, 0);
  for (uint32_t n = 0; n < 4; ++n) {
    if (!h->aSiI164[n].ulPresent) continue;
    if (later) {
      HSLSI164EnableDualLinkMode(h, n);
      HSLSI164DisableDualLinkMode(h, n);
    } else {
      HSLKSTEnableDVIDualLink(h, n);
      HSLSI164EnableDualLinkMode(h, n);
      HSLKSTDisableDVIDualLink(h, n);
    }
  }
  if (!later) HSLKSTInitCEM(h);
  for (uint32_t c = 0; c < 4; ++c) {
    temp.flOutput = kControllerOffWord[c];
    HSLKSTDisableDisplayController(h, &temp);
    HSLKSTSetPrimaryLUT(h, &temp, h->aLut[c].ausLutEntry);
    h->aModeInfo[c] = temp;
  }
  if (later) {
    HSLB90InitMemClk(h);
    for (uint32_t reg : {kRegPriority0, kRegPriority1}) RegModify(h, reg, 0, kLaterPriorityBits);
    if (h->usDeviceId == kDeviceKestrionNext3 && h->ulRevision == 0) RegModify(h, kRegLaterRev0, 0, kLaterRev0Bit);
  } else {
    HWKSTInitializeSystemClock(h);
    HSLKSTGetSystemCLock(h, &h->oSystemClock);
    HWKSTInitializeMemoryController(h);
  }
  if (CfgRead(h, kCfgBusStatus) < kBusStatusNarrow)
    h->ulBoardFlags = (h->ulBoardFlags & ~kBoardFlagsBandwidth) | kBoardFlagsNarrow;
  const bool early = !later && EarlyA41(h);
  RegWrite(h, kRegDeviceWordB, early ? 1 : kDeviceWordBValue);
  if (!early) RegWrite(h, k3dRegWordB0, 0);
  for (uint32_t reg = kFirstEngineReg; reg <= kLastEngineReg; reg += 0x10)
    RegWrite(h, reg, RegRead(h, reg) & ~kEngineWordTopNibble);
  RegWrite(h, 0x0, 0x10000000);
  RegWrite(h, 0x4, 0);
  RegWrite(h, 0x8, 0x10000020);
  RegWrite(h, 0xC, 0x10001);
  return h->status;
}

}  // namespace

HALSTATUS HSLKSTInitializeHardware(BOARDHANDLE* h) { return ColdStart(h, false); }

HALSTATUS HSLB90InitializeHardware(BOARDHANDLE* h) { return ColdStart(h, true); }

HALSTATUS HSLKSTValidatePhysAddr(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t bar0 = CfgRead(h, kCfgBar0);
  const bool wide = (bar0 & kBarTypeMask) == kBarType64;
  const uint32_t fbHigh = wide ? CfgRead(h, kCfgBar1) : 0;
  const uint32_t regLow = CfgRead(h, wide ? kCfgBar2 : kCfgBar1);
  const uint32_t regHigh = wide ? CfgRead(h, kCfgBar2 + 4) : 0;
  const uint32_t regBase = regLow & ~0xFFu;
  if ((regBase > 0xFF || regHigh != 0) &&
      (regBase != h->ulRegisterApertureLow || regHigh != h->ulRegisterApertureHigh)) {
    ClientCloseRegisterBase(h);
    h->ulRegisterApertureLow = regBase;
    h->ulRegisterApertureHigh = regHigh;
    ClientOpenRegisterBase(h);
  }
  const uint32_t fbBase = bar0 & 0xFF000000u;
  if ((fbBase > 0xFFFFFF || fbHigh != 0) &&
      (fbBase != h->ulFrameBufferApertureLow || fbHigh != h->ulFrameBufferApertureHigh)) {
    h->ulFrameBufferApertureLow = fbBase;
    h->ulFrameBufferApertureHigh = fbHigh;
  }
  return h->status;
}

HALSTATUS HSLKSTComputePitch(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t pitch = mode->ulFBPitch;
  if (pitch == 0) {
    const uint32_t width = mode->ulDispWidth > mode->ulDeskWidth ? mode->ulDispWidth : mode->ulDeskWidth;
    pitch = (width + kPitchAlign - 1) / kPitchAlign * kPitchAlign;
  }
  if (pitch % kPitchAlign != 0) return SetError(h, kErrPitchNotAligned);
  mode->ulFBPitch = pitch;
  return h->status;
}
