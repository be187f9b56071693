#include "hwsharing/chip/system_clock.h"

#include "core/board_description.h"
#include "core/regs/clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/boardinfo.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/memctl.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/sysclock.h"
#include "hwsharing/outputs/mode_set.h"

namespace {

// Clock-select word: the system clock's source (codes 1..4 = FS 0..3), the
// graphics and third clocks' sources (codes 1, 3, 5, 7 = FS 0..3) and
// dividers; in the description's word, bits 4 and 28 divide the system
// clock by 2 or 4.
using SystemSource = RegField<1, 3>;
using GraphicsDivider = RegField<5, 2>;
using GraphicsSource = RegField<8, 4>;
using ThirdDivider = RegField<13, 2>;
using ThirdSource = RegField<16, 4>;
constexpr uint32_t kSystemHalf = 1u << 4;
constexpr uint32_t kSystemQuarter = 1u << 28;

// Type codes of the system clock in the description form.
constexpr uint32_t kTypeUndivided = 17;
constexpr uint32_t kTypeHalf = 18;
constexpr uint32_t kTypeQuarter = 20;

// Divider codes 0-3 of the graphics and third clocks: x numerator /
// denominator, and their type codes.
struct Divider {
  uint32_t numerator, denominator, type;
};
constexpr Divider kDividers[4] = {{1, 1, 17}, {1, 3, 19}, {2, 5, 37}, {1, 2, 18}};

uint32_t Word(uint32_t mhz, uint32_t type, uint32_t source) {
  return (mhz & 0xFFFF) | ((type & 0xFF) << 16) | ((source & 0xFF) << 24);
}

// The synthesizer (1..4) behind a system-clock code, 0 for none.
uint32_t SystemFs(uint32_t code) { return code >= 1 && code <= 4 ? code : 0; }
// The synthesizer (1..4) behind a graphics or third-clock code (1, 3, 5, 7).
uint32_t OtherFs(uint32_t code) { return code % 2 == 1 && code <= 7 ? code / 2 + 1 : 0; }

// The kHz of FS (fs - 1) as the chip runs it now; 0 without a synthesizer.
uint32_t ChipKHz(BOARDHANDLE* h, uint32_t fs) {
  if (fs == 0) return 0;
  uint32_t khz = 0;
  HSLKSTGetFSFreq(h, RegRead(h, kRegFs0 + kRegFsStride * (fs - 1)), &khz);
  return khz;
}
// The same from the board description.
uint32_t PinsKHz(const BOARDHANDLE* h, uint32_t fs) {
  return fs == 0 ? 0 : PinsDword(h, kPinsFsBlock + kPinsFsStride * (fs - 1) + kPinsFsFrequency);
}

// The graphics or third clock: the synthesizer's kHz through the divider.
uint32_t DividedWord(uint32_t khz, uint32_t divider, uint32_t fs, bool rounded) {
  const Divider& d = kDividers[divider & 3];
  const uint32_t v = khz * d.numerator / d.denominator;
  return Word(rounded ? (v + 500) / 1000 : v / 1000, d.type, fs);
}

// A record word: the frequency in MHz, the type code and the source.
uint32_t WordMhz(uint32_t word) { return word & 0xFFFF; }
uint32_t WordType(uint32_t word) { return (word >> 16) & 0xFF; }
uint32_t WordSource(uint32_t word) { return (word >> 24) & 0xF; }

// The divider code of a graphics or third-clock type code, -1 for a type
// code that keeps the divider.
int DividerOfType(uint32_t type) {
  for (int code = 0; code < 4; ++code)
    if (kDividers[code].type == type) return code;
  return -1;
}

// A synthesizer's frequency in the description, with its preset cleared so
// that the bring-up searches the dividers for it.
void SetPinsFs(BOARDHANDLE* h, uint32_t fs, uint32_t khz) {
  const uint32_t at = kPinsFsBlock + kPinsFsStride * (fs - 1);
  SetPinsDword(h, at + kPinsFsFrequency, khz);
  SetPinsDword(h, at + kPinsFsPreset, 0);
}

// The graphics or third clock of a record word into the select word: its
// source (codes 1, 3, 5, 7), its divider and its synthesizer's frequency.
// Answers whether the source changed.
template <class Source, class DividerField>
bool SetDividedClock(BOARDHANDLE* h, uint32_t word, uint32_t* select) {
  if (word == 0) return false;
  const uint32_t s = WordSource(word);
  if (s != 0) *select = Source::Set(*select, s <= 4 ? 2 * s - 1 : 0);
  const int divider = DividerOfType(WordType(word));
  if (divider >= 0) *select = DividerField::Set(*select, static_cast<uint32_t>(divider));
  const Divider& d = kDividers[DividerField::Get(*select)];
  const uint32_t fs = OtherFs(Source::Get(*select));
  if (fs != 0) SetPinsFs(h, fs, WordMhz(word) * 1000 * d.denominator / d.numerator);
  return s != 0;
}

}  // namespace

HALSTATUS HSLKSTSetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock) {
  if (HalFailed(h->status)) return h->status;
  uint32_t select = PinsDword(h, kPinsClockSelect);
  bool sourceChanged = false;
  // The system clock runs at half its synthesizer; its divider bits stay.
  const uint32_t system = clock->aulWord[0];
  if (system != 0) {
    const uint32_t s = WordSource(system);
    if (s != 0) {
      select = SystemSource::Set(select, SystemFs(s));
      sourceChanged = true;
    }
    const uint32_t fs = SystemFs(SystemSource::Get(select));
    if (fs != 0) SetPinsFs(h, fs, WordMhz(system) * 2000);
  }
  sourceChanged |= SetDividedClock<GraphicsSource, GraphicsDivider>(h, clock->aulWord[1], &select);
  sourceChanged |= SetDividedClock<ThirdSource, ThirdDivider>(h, clock->aulWord[2], &select);

  // A new source stops the clocks under controllers 0 and 1: each one on
  // is switched off first and set again afterwards from its record as it
  // stood. The records are kept here, per call and per board.
  MODEINFO saved[2] = {h->aModeInfo[0], h->aModeInfo[1]};
  if (sourceChanged) {
    for (uint32_t c = 0; c < 2; ++c) {
      if (h->aModeInfo[c].flOutput & kOutControllerOff) continue;
      h->aModeInfo[c].flOutput |= kOutControllerOff;
      HSLKSTSetMode(h, &h->aModeInfo[c]);
    }
  }
  SetPinsDword(h, kPinsClockSelect, select);
  HWKSTInitializeSystemClock(h);
  HSLKSTGetSystemCLock(h, &h->oSystemClock);
  HWKSTInitializeMemoryController(h);
  if (sourceChanged) {
    HSLKSTSetMode(h, &saved[0]);
    HSLKSTSetMode(h, &saved[1]);
  }
  return h->status;
}

HALSTATUS HSLKSTGetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t select = RegRead(h, kRegClockSelect0);
  // The system clock runs at half its synthesizer's frequency. A clock fed
  // by no synthesizer reads 0 MHz (never the kHz of the clock before it).
  const uint32_t sfs = SystemFs(SystemSource::Get(select));
  clock->aulWord[0] = Word((ChipKHz(h, sfs) + 500) / 2000, 0, sfs);
  const uint32_t gfs = OtherFs(GraphicsSource::Get(select));
  clock->aulWord[1] = DividedWord(ChipKHz(h, gfs), GraphicsDivider::Get(select), gfs, true);
  const uint32_t tfs = OtherFs(ThirdSource::Get(select));
  clock->aulWord[2] = DividedWord(ChipKHz(h, tfs), ThirdDivider::Get(select), tfs, true);
  return h->status;
}

HALSTATUS HSLKSTGetPInSSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t select = PinsDword(h, kPinsClockSelect);
  const uint32_t sfs = SystemFs(SystemSource::Get(select));
  uint32_t v = PinsKHz(h, sfs);
  uint32_t type = kTypeUndivided;
  if (select & kSystemHalf) {
    const bool quarter = (select & kSystemQuarter) != 0;
    v /= quarter ? 4 : 2;
    type = quarter ? kTypeQuarter : kTypeHalf;
  }
  clock->aulWord[0] = Word(v / 1000, type, sfs);
  const uint32_t gfs = OtherFs(GraphicsSource::Get(select));
  clock->aulWord[1] = DividedWord(PinsKHz(h, gfs), GraphicsDivider::Get(select), gfs, false);
  const uint32_t tfs = OtherFs(ThirdSource::Get(select));
  clock->aulWord[2] = DividedWord(PinsKHz(h, tfs), ThirdDivider::Get(select), tfs, false);
  return h->status;
}
