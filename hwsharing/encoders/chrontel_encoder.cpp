#include "hwsharing/encoders/chrontel_encoder.h"

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "core/poll.h"
#include "core/regs/chrontel.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_tables.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/encoders/output_wiring.h"
#include "hwsharing/outputs/intermediate.h"

namespace {

// ---- Register access -------------------------------------------------------------

uint8_t Read(BOARDHANDLE* h, uint32_t n, uint8_t reg) {
  uint8_t v = 0;
  HSLCHRI2CRead(h, n, reg, &v, 1);
  return v;
}
void Write(BOARDHANDLE* h, uint32_t n, uint8_t reg, uint8_t value) {
  HSLCHRI2CWrite(h, n, reg, &value, 1);
}
// Read, keep the bits of `keep`, OR `set`, write.
void Modify(BOARDHANDLE* h, uint32_t n, uint8_t reg, uint8_t keep, uint8_t set) {
  Write(h, n, reg, static_cast<uint8_t>((Read(h, n, reg) & keep) | set));
}
void Or(BOARDHANDLE* h, uint32_t n, uint8_t reg, uint8_t bits) { Modify(h, n, reg, 0xFF, bits); }

// A bit cleared and then set again, from one read.
void Toggle(BOARDHANDLE* h, uint32_t n, uint8_t reg, uint8_t bit) {
  const uint8_t v = Read(h, n, reg);
  Write(h, n, reg, static_cast<uint8_t>(v & ~bit));
  Write(h, n, reg, static_cast<uint8_t>(v | bit));
}


// ---- Board facts -----------------------------------------------------------------
constexpr uint32_t kBoardFlagSpreadSpectrum = 0x80000000;
constexpr uint32_t kCemCodeEmbeddedSync = 37;

bool PllSupervised(uint32_t id) {
  return id == kChrIdVerC || id == kChrIdVerB || id == kChrIdVerC2;
}

bool Is640x480(const MODEINFO* r) { return r->ulDispWidth == 640 && r->ulDispHeight == 480; }

// ---- Embedded sync of the clone-3 mono module -------------------------------------

// The output bits that switch on the embedded sync, per encoder-list group.
uint32_t EmbeddedSyncBits(const BOARDWIRING& b) {
  switch (ChrGroupOf(b)) {
    case ChrGroup::kQuad: return 0x2 | 0x4 | 0x1000000 | 0x8000000;
    case ChrGroup::kPair: return b.allTransmitters ? 0x2 | 0x4 : 0x2 | 0x4 | 0x8000000;
    case ChrGroup::kT13: return 0x2 | 0x1000000;
    case ChrGroup::kPlain:
    case ChrGroup::kT14: break;
  }
  return 0x2 | 0x4;
}

// ---- PLL supervision -----------------------------------------------------------------

constexpr unsigned kPllMaxSteps = 101;
constexpr unsigned kPllFirstLockReads = 150;
constexpr unsigned kPllLockedInARow = 3;
constexpr unsigned kPllHoldReads = 20;
constexpr unsigned kPllDataPathResets = 4;
constexpr unsigned kPllPowerToggles = 1;

bool Locked(BOARDHANDLE* h, uint32_t n) { return (Read(h, n, kChrRegPllLock) & kChrPllLocked) != 0; }

// Up to 150 reads until the lock bit has been seen three times in a row;
// a failed handle ends the wait without a lock.
bool FirstLock(BOARDHANDLE* h, uint32_t n) {
  unsigned inARow = 0;
  bool failed = false;
  const bool ended = PollUntil(
      [&] {
        failed = HalFailed(h->status);
        if (failed) return true;
        inARow = Locked(h, n) ? inARow + 1 : 0;
        return inARow == kPllLockedInARow;
      },
      kPllFirstLockReads);
  return ended && !failed;
}

// Twenty reads that must all see the lock bit.
bool LockHeld(BOARDHANDLE* h, uint32_t n) {
  for (unsigned i = 0; i < kPllHoldReads; ++i)
    if (HalFailed(h->status) || !Locked(h, n)) return false;
  return true;
}

}  // namespace

bool ChrPllLockPoll(BOARDHANDLE* h, uint32_t encoder) {
  return FirstLock(h, encoder) && LockHeld(h, encoder);
}

bool ChrAllFourVerB(const BOARDHANDLE* h) {
  for (const I2CDEVICE& d : h->aChrontel)
    if (d.ulData != kChrIdVerB) return false;
  return true;
}

HALSTATUS HSLCHRDetectChrIDs(BOARDHANDLE* h, uint32_t flOutput, uint32_t* list, uint32_t* count) {
  if (HalFailed(h->status)) return h->status;
  *count = 0;
  const uint32_t encoders = ChrEncodersForBits(BoardWiringOf(h), flOutput);
  for (uint32_t i = 0; i < kChrEncoders; ++i)
    if (encoders & (1u << i)) list[(*count)++] = i;
  return h->status;
}

HALSTATUS HSLCHRGetGPIOMasks(BOARDHANDLE* h, uint32_t line, uint32_t* direction, uint32_t* data) {
  if (HalFailed(h->status)) return h->status;
  switch (line) {
    case 0: *direction = 0x40; *data = 0x10; break;
    case 1: *direction = 0x80; *data = 0x20; break;
    default:
      *direction = 0;
      *data = 0;
      SetError(h, kErrChrGpioLine);
      break;
  }
  return h->status;
}

HALSTATUS HSLCHROpenGPIO(BOARDHANDLE* h, uint32_t n, uint32_t* wasOn) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t power = Read(h, n, kChrRegPower);
  if (HalFailed(h->status)) return h->status;
  if (power & kChrPowerDown) Write(h, n, kChrRegPower, 0x1E);
  *wasOn = (power & kChrPowerDown) ? 0 : 1;
  return h->status;
}

HALSTATUS HSLCHRWriteGPIO(BOARDHANDLE* h, uint32_t n, uint32_t line, uint32_t value) {
  if (HalFailed(h->status)) return h->status;
  uint32_t direction = 0, data = 0;
  HSLCHRGetGPIOMasks(h, line, &direction, &data);
  if (HalFailed(h->status)) return h->status;
  uint8_t v = static_cast<uint8_t>(Read(h, n, kChrRegGpio) & ~direction);
  v = static_cast<uint8_t>(value ? v | data : v & ~data);
  Write(h, n, kChrRegGpio, v);
  return h->status;
}

HALSTATUS HSLCHRReadGPIO(BOARDHANDLE* h, uint32_t n, uint32_t line, uint32_t* value) {
  if (HalFailed(h->status)) return h->status;
  uint32_t direction = 0, data = 0;
  HSLCHRGetGPIOMasks(h, line, &direction, &data);
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegGpio, static_cast<uint8_t>(Read(h, n, kChrRegGpio) | direction));
  const uint8_t v = Read(h, n, kChrRegGpio);
  if (!HalFailed(h->status)) *value = (v & data) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLCHRCloseGPIO(BOARDHANDLE* h, uint32_t, uint32_t) { return h->status; }

HALSTATUS HSLCHRAccessGPIO(BOARDHANDLE* h, uint32_t write, uint32_t n, uint32_t line,
                           uint32_t* value) {
  if (HalFailed(h->status)) return h->status;
  uint32_t wasOn = 0;
  HSLCHROpenGPIO(h, n, &wasOn);
  if (write)
    HSLCHRWriteGPIO(h, n, line, *value);
  else
    HSLCHRReadGPIO(h, n, line, value);
  return HSLCHRCloseGPIO(h, n, wasOn);
}

HALSTATUS HSLCHRDetectSyncBuffer(BOARDHANDLE* h, uint32_t encoder, uint32_t* present) {
  if (HalFailed(h->status)) return h->status;
  uint32_t level = 1;
  HSLCHRAccessGPIO(h, 0, encoder, 1, &level);
  if (!HalFailed(h->status)) *present = level == 0 ? 1 : 0;
  return h->status;
}

HALSTATUS HSLCHRDetectTVSignalType(BOARDHANDLE* h, uint32_t n, uint32_t* type) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t power = Read(h, n, kChrRegPower);
  Write(h, n, kChrRegPower, 0x20);
  Or(h, n, kChrRegSense, kChrSenseStart);
  Modify(h, n, kChrRegSense, static_cast<uint8_t>(~kChrSenseStart), 0);
  const uint8_t sense = Read(h, n, kChrRegSense) & kChrSenseBits;
  Write(h, n, kChrRegPower, power);
  if (HalFailed(h->status)) return h->status;
  switch (sense) {
    case 0x10:
    case 0x02: *type = 3; break;
    case 0x0E: *type = 1; break;
    case 0x0C: *type = 2; break;
    default: *type = 0; break;
  }
  return h->status;
}

HALSTATUS HSLCHRDetectLoad(BOARDHANDLE* h, uint32_t n, uint32_t* load) {
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegReset, 0x18);
  const uint8_t power = Read(h, n, kChrRegPower);
  const uint8_t dac = Read(h, n, kChrRegDac);
  Write(h, n, kChrRegPower, 0x20);
  Write(h, n, kChrRegDac, static_cast<uint8_t>(dac & ~kChrDacSenseEnable));
  Or(h, n, kChrRegSense, kChrSenseStart);
  Modify(h, n, kChrRegSense, static_cast<uint8_t>(~kChrSenseStart), 0);
  const uint8_t s = Read(h, n, kChrRegSense);
  Write(h, n, kChrRegPower, power);
  Write(h, n, kChrRegDac, dac);
  if (HalFailed(h->status)) return h->status;
  uint32_t bits = 0;
  if (s & 0x02) bits |= kChrLoadBit02;
  if (s & 0x04) bits |= kChrLoadBit04;
  if (s & 0x08) bits |= kChrLoadBit08;
  if (s & 0x10) bits |= kChrLoadBit10;
  *load = bits;
  return h->status;
}

HALSTATUS HSLCHRReset(BOARDHANDLE* h, uint32_t n, uint32_t flags) {
  if (HalFailed(h->status)) return h->status;
  const bool restore = flags & kChrResetRestore;
  const uint8_t gpio = restore ? Read(h, n, kChrRegGpio) : 0;
  static constexpr uint8_t kPlain[3] = {0x10, 0x08, 0x18};
  static constexpr uint8_t kAlternate[3] = {0x08, 0x18, 0x10};
  for (uint8_t v : (flags & kChrResetAlternate) ? kAlternate : kPlain) Write(h, n, kChrRegReset, v);
  if (restore) {
    Write(h, n, kChrRegPower, 0x1E);
    Modify(h, n, kChrRegGpio, 0x0F, static_cast<uint8_t>(gpio & 0xF0));
  }
  return h->status;
}

HALSTATUS HSLCHRDisable(BOARDHANDLE* h, uint32_t n, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t running = 0;
  if (mode != nullptr) HSLKSTGetChrontelOutputMode(h, n, mode->flOutput, &running);
  if (HalFailed(h->status)) return h->status;
  if (mode != nullptr && ChrAllFourVerB(h) && running == kChrModeSdtv)
    Write(h, n, kChrRegPower, kChrPowerDown);
  else
    HSLCHRReset(h, n, kChrResetRestore);
  return h->status;
}

HALSTATUS HSLCHREnable(BOARDHANDLE* h, uint32_t n, uint32_t m, MODEINFO* r) {
  if (HalFailed(h->status) || n >= kChrEncoders) return h->status;
  const uint32_t d = h->aChrontel[n].ulData;
  if (r != nullptr) {
    if (!(ChrAllFourVerB(h) && m == kChrModeSdtv && !Is640x480(r)))
      HSLCHRReset(h, n, kChrResetRestore | kChrResetAlternate);
    const bool noClockMode =
        h->usDeviceId == kDeviceKestrionNext3 && h->oPins.aucData[kPinsClockModeByte] != 0;
    Write(h, n, kChrRegClockMode, noClockMode ? 0x00 : 0x04);
    Write(h, n, kChrRegSync, 0x80);
    switch (m) {
      case kChrModeDigital:
        HSLCHREnableDigitalMode(h, n, r->ulPixClock, d);
        break;
      case kChrModeSdtv:
        HSLCHREnableSDTVMode(h, n, r);
        if (Is640x480(r) && r->flOutput != 0x200) HSLKSTApplyFPGAReset(h, r);
        break;
      case kChrModeDtv:
        HSLCHREnableDTVMode(h, n, r);
        break;
      default:
        HSLCHREnableAnalogMode(h, n, r->flOutput);
        break;
    }
  }
  Write(h, n, kChrRegReset, 0x18);
  if (m == kChrModeDigital) {
    HSLCHRPllCheck(h, n, d);
    // Spread spectrum needs the mode's clock: without a record it is left off.
    const bool allowed = PinsVersion(h) > kPinsVersion60B &&
                         (h->oPins.aucData[kPinsDigitalFlags] & kPinsDigitalSpread) != 0 &&
                         (h->ulBoardFlags & kBoardFlagSpreadSpectrum) != 0;
    if (allowed && r != nullptr) HSLCHREnableSpreadSpectrum(h, n, r->ulPixClock);
  }
  if (m == kChrModeDtv && r != nullptr) {
    uint32_t cpld = 0;
    HSLCHRUseCPLD(h, r, &cpld);
    if (cpld != 0) {
      uint32_t slot = 0, line = 0, found = 0;
      HSLPIN60GetCHRGPIOData(h, kChrAllEncoderSlots, kChrGpioFunctionCpld, &slot, &line, &found);
      if (found != 0) {
        uint32_t level = 0;
        HSLCHRAccessGPIO(h, 1, slot, line, &level);
      }
    }
  }
  return h->status;
}

HALSTATUS HSLCHREnableDigitalMode(BOARDHANDLE* h, uint32_t n, uint32_t p, uint32_t d) {
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegPower, 0xDE);
  if (PllSupervised(d)) {
    const bool termination = (PinsDword(h, kPinsOptionWord) & kPinsOptionDviTermination) != 0;
    Write(h, n, kChrRegDviControl, termination ? 0x06 : 0x04);
  }
  if (d == kChrIdVerC || d == kChrIdVerC2) Write(h, n, kChrReg70, 0xA0);
  const uint8_t* row = ChrDviParamRow(d, p);
  for (size_t i = 0; i < kChrDviParamBytes; ++i)
    Write(h, n, static_cast<uint8_t>(kChrRegDviParams + i), row[i]);
  return h->status;
}

HALSTATUS HSLCHREnableAnalogMode(BOARDHANDLE* h, uint32_t n, uint32_t w) {
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegPower, 0x10);
  Write(h, n, kChrRegDac, 0x0B);
  Write(h, n, kChrRegDac2, 0x16);
  const BOARDWIRING b = BoardWiringOf(h);
  if (b.module37 && (w & EmbeddedSyncBits(b))) HSLCHREnableClone3MonoEmbeddedSync(h, n);
  return h->status;
}

HALSTATUS HSLCHREnableClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t n) {
  if (HalFailed(h->status) || PinsCemCode(h) != kCemCodeEmbeddedSync) return h->status;
  Modify(h, n, kChrRegSync, 0xF8, 0x05);
  Or(h, n, kChrRegDac, 0x01);
  Modify(h, n, kChrRegPower, 0xE0, 0x10);
  return h->status;
}

HALSTATUS HSLCHRDisableClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t n) {
  if (HalFailed(h->status) || PinsCemCode(h) != kCemCodeEmbeddedSync) return h->status;
  Modify(h, n, kChrRegSync, 0xF8, 0);
  Read(h, n, kChrRegDac);
  Write(h, n, kChrRegDac, 0x00);
  Modify(h, n, kChrRegPower, 0xE0, 0x10);
  return h->status;
}

HALSTATUS HSLCHREnableSpreadSpectrum(BOARDHANDLE* h, uint32_t n, uint32_t p) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t s = p > 64999 ? 0xA0 : 0x60;
  Or(h, n, kChrReg7D, 0x42);
  Or(h, n, kChrReg70, 0xA2);
  Or(h, n, kChrRegDviParam6, s);
  Or(h, n, kChrReg6F, 0x21);
  Or(h, n, kChrReg7E, 0x21);
  Or(h, n, kChrReg75, 0x08);
  if (p <= 162000)
    Modify(h, n, kChrRegDviParams, 0xF0, 0);
  else
    Modify(h, n, kChrRegDviParams, 0xA0, 0x50);
  Or(h, n, kChrReg7A, 0x02);
  Or(h, n, kChrReg7B, 0xD7);
  Or(h, n, kChrReg71, 0x80);
  Or(h, n, kChrReg7D, 0x5E);
  Or(h, n, kChrReg70, 0xAA);
  Or(h, n, kChrReg70, 0xEA);
  Or(h, n, kChrReg71, 0x80);
  Or(h, n, kChrReg75, 0x0C);
  Or(h, n, kChrRegDviParam3, p > 64999 ? 0x06 : 0x08);
  Or(h, n, kChrRegDviParam6, s);
  return h->status;
}

HALSTATUS HSLCHRPllCheck(BOARDHANDLE* h, uint32_t n, uint32_t d) {
  if (HalFailed(h->status) || !PllSupervised(d)) return h->status;
  enum class State { kEnableLock, kFirstLock, kHold, kDataPathReset, kPowerReset, kEnd };
  State state = State::kEnableLock;
  unsigned resets = 0, powerToggles = 0;
  for (unsigned step = 0; step < kPllMaxSteps && state != State::kEnd && !HalFailed(h->status); ++step) {
    switch (state) {
      case State::kEnableLock:
        Or(h, n, kChrRegDviControl, kChrDviLockEnable);
        Or(h, n, kChrRegDviParam5, kChrDviParam5LockEnable);
        state = State::kFirstLock;
        break;
      case State::kFirstLock:
        state = FirstLock(h, n) ? State::kHold : State::kDataPathReset;
        break;
      case State::kHold:
        state = LockHeld(h, n) ? State::kEnd : State::kDataPathReset;
        break;
      case State::kDataPathReset:
        // Three data-path resets go back to wait for the lock; the fourth
        // goes on to the PLL power toggle.
        Toggle(h, n, kChrRegReset, kChrResetDataPath);
        ++resets;
        state = resets < kPllDataPathResets ? State::kFirstLock : State::kPowerReset;
        break;
      case State::kPowerReset:
        if (powerToggles == kPllPowerToggles) {
          state = State::kEnd;
          break;
        }
        ++powerToggles;
        Toggle(h, n, kChrRegPower, kChrPowerPll);
        Toggle(h, n, kChrRegReset, kChrResetDataPath);
        resets = 0;
        state = State::kFirstLock;
        break;
      case State::kEnd:
        break;
    }
  }
  return h->status;
}
