// Power management.
#include "hwsharing/chip/power.h"

#include <initializer_list>

#include "core/chip_ids.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/outputs/output_sync.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/vga.h"
#include "core/regs/bus.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "core/regs/misc_io.h"

namespace {

constexpr uint32_t kClockPulse = 1u << 31;
constexpr uint32_t kClockPulseUnits = 100;

bool KeepsPixelClocks(const BOARDHANDLE* h) {
  return h->usDeviceId == kDeviceKestrionNext2 || h->usDeviceId == kDeviceKestrionNext3;
}

// A clock register comes back through a pulse of bit 31; 0 and the bare
// pulse bit are not written.
void RestoreClock(BOARDHANDLE* h, uint32_t reg, uint32_t saved) {
  if (saved == 0 || saved == kClockPulse) return;
  RegWrite(h, reg, saved | kClockPulse);
  Delay(h, kClockPulseUnits);
  RegWrite(h, reg, saved);
}

// The DPMS level in the DAC control words: bit 10 stops horizontal sync,
// bit 12 vertical sync, bit 15 (first DAC) or 16 (second) blanks the DAC.
constexpr uint32_t kHsyncOff = 1u << 10;
constexpr uint32_t kVsyncOff = 1u << 12;
struct DpmsBits {
  uint32_t level, set1, set2;
};
constexpr DpmsBits kDpmsBits[] = {
    {kDpmsOn, 0, 0},
    {kDpmsStandby, kHsyncOff | kDac1Blank, kHsyncOff | kDac2Blank},
    {kDpmsSuspend, kVsyncOff | kDac1Blank, kVsyncOff | kDac2Blank},
    {kDpmsOff, kHsyncOff | kVsyncOff | kDac1Blank, kHsyncOff | kVsyncOff | kDac2Blank},
};
const DpmsBits* DpmsOf(uint32_t level) {
  for (const DpmsBits& b : kDpmsBits)
    if (b.level == level) return &b;
  return nullptr;
}
constexpr uint32_t kDac1LevelBits = kHsyncOff | kVsyncOff | kDac1Blank;constexpr uint32_t kTv1Controller3 = kOutTv1 | kOutSecondController | kOutModule1;

// Split records carry these flSignalMode bits while their horizontal values
// are halved.
constexpr uint32_t kSignalSplit = 0x100000;
constexpr uint32_t kSignalTwinSplit = 0x200000;
constexpr uint32_t kBoardTypeCpldExpansion = 15;

constexpr uint32_t kDac2LevelBits = kHsyncOff | kVsyncOff | kDac2Blank;

// The level in the DAC words of the record's analog outputs. Level 0 takes
// the second DAC's level bits back off as it does the first's: a DAC left
// blank would keep its output dark after a wake-up.
void ApplyDpms(BOARDHANDLE* h, const MODEINFO& r, uint32_t level) {
  const DpmsBits* b = DpmsOf(level);
  if (b == nullptr) return;
  const uint32_t w = r.flOutput;
  if (UsesDac1(h, w)) RegModify(h, kRegDacCtl1, kDac1LevelBits, b->set1);
  if (UsesDac2(h, w)) {
    uint32_t set2 = b->set2;
    if ((w & kTv1Controller3) == kTv1Controller3) set2 |= kHsyncOff;
    if ((w & kOutTv1) && level != kDpmsOn) set2 |= kHsyncOff | kVsyncOff;
    RegModify(h, kRegDacCtl2, kDac2LevelBits, set2);
  }
}

}  // namespace

HALSTATUS HSLKSTSaveCriticalData(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (KeepsPixelClocks(h)) {
    h->ulSaved360 = RegRead(h, kRegPixelClockKeep0);
    h->ulSaved364 = RegRead(h, kRegPixelClockKeep1);
  }
  h->ulSavedE20 = RegRead(h, kRegPll6);
  h->ulSavedE2C = RegRead(h, kRegPll7);
  return h->status;
}

HALSTATUS HSLKSTRestoreCriticalData(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (KeepsPixelClocks(h)) {
    RegWrite(h, kRegPixelClockKeep0, h->ulSaved360);
    RegWrite(h, kRegPixelClockKeep1, h->ulSaved364);
  }
  RestoreClock(h, kRegPll6, h->ulSavedE20);
  RestoreClock(h, kRegPll7, h->ulSavedE2C);
  return h->status;
}

HALSTATUS HSLKSTRestoreOriginalModeInfo(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const bool fpgas = h->aFpga[0].ulPresent || h->aFpga[1].ulPresent;
  if (MultiOutputFlag(h) && fpgas && HSLKSTModeUsesCEMFpga(h, mode) &&
      (mode->flSignalMode & kSignalSplit)) {
    mode->ulDispWidth *= 2;
    mode->ulDeskWidth *= 2;
    mode->ulPixClock *= 2;
    mode->ulHFPorch *= 2;
    mode->ulHSync *= 2;
    mode->ulHBPorch *= 2;
    mode->ulHBorder *= 2;
    mode->flSignalMode &= ~kSignalSplit;
  }
  if (IsTwinBoard(h) && (mode->flSignalMode & kSignalTwinSplit)) {
    mode->ulDispWidth *= 2;
    mode->ulDeskWidth *= 2;
    mode->flSignalMode &= ~kSignalTwinSplit;
  }
  return h->status;
}

HALSTATUS HSLKSTPM_DPMS(BOARDHANDLE* h, uint32_t state) {
  if (HalFailed(h->status)) return h->status;
  const bool first = (state >> 24) == kPowerClassDpms0;
  const uint32_t level = state & 0xFF;
  const DpmsBits* bits = DpmsOf(level);
  for (uint32_t c : {first ? 0u : 1u, first ? 2u : 3u}) {
    MODEINFO& r = h->aModeInfo[c];
    if (RecordOff(r)) break;
    HSLKSTRestoreOriginalModeInfo(h, &r);
    h->oWorkingMode = r;
    if (first && (RegRead(h, kRegRegime) & kRegimeVga)) {
      // The VGA regime: the screen-off bit, and the first DAC's level bits
      // alone.
      SetVgaScreenOff(h, level != kDpmsOn);
      RegWrite(h, kRegDacCtl1, bits != nullptr ? bits->set1 : 0);
    }
    ApplyDpms(h, r, level);
    for (uint32_t n = 0; n < 4; ++n) {
      if (!(r.flOutput & OutputPathMask(h, n))) continue;
      if (level == kDpmsOn)
        HSLKSTEnableDVI(h, n, &r);
      else
        HSLKSTDisableDVI(h, n, &r);
    }
    const bool cpldBoard = BoardType(h) == kBoardTypeCpldExpansion && h->oCpld.ulPresent;
    if (level == kDpmsOn && !cpldBoard &&
        (PinsCemCode(h) == kCemCodeSp || NeedsCem(h, r.flOutput)))
      HSLKSTApplyFPGAReset(h, &r);
  }
  return h->status;
}

HALSTATUS HSLKSTLowPower(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t c = 0; c < 4; ++c) {
    h->aModeInfo[c].flOutput |= kOutControllerOff;
    MODEINFO m = h->aModeInfo[c];
    HSLKSTSetMode(h, &m);
  }
  return h->status;
}

HALSTATUS HSLKSTPM_ACPI(BOARDHANDLE* h, uint32_t state) {
  if (HalFailed(h->status)) return h->status;
  if (state == kPowerAcpiOff) {
    HSLKSTSaveCriticalData(h);
    HSLKSTLowPower(h);
    // The next mode set initialises the hardware again.
    h->ulBoardFlags &= ~kBoardFlagHwInitialised;
  } else if (state == kPowerAcpiOn) {
    HSLKSTRestoreCriticalData(h);
  }
  return h->status;
}

HALSTATUS HSLKSTPM_APM(BOARDHANDLE* h) { return h->status; }

HALSTATUS HSLKSTSetPowerState(BOARDHANDLE* h, uint32_t state) {
  if (HalFailed(h->status)) return h->status;
  switch (state >> 24) {
    case kPowerClassAcpi: return HSLKSTPM_ACPI(h, state);
    case kPowerClassApm: return HSLKSTPM_APM(h);
    case kPowerClassDpms0:
    case kPowerClassDpms1: return HSLKSTPM_DPMS(h, state);
    case kPowerClassBlank:
    case kPowerClassUnblank: {
      const uint32_t blank = (state >> 24) == kPowerClassBlank ? 1 : 0;
      for (uint32_t c = 0; c < 2; ++c)
        if (state & (1u << c)) HSLKSTBlankDisplayOutput(h, c, blank);
      return h->status;
    }
    default: return h->status;
  }
}
