// Power management.
#include "hwsharing/power.h"

#include "core/chip_ids.h"

#include "hwsharing/boardhandle.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/reg_access.h"
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
