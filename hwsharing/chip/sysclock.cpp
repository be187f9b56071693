// System-clock start-up for both chip generations.
#include "hwsharing/chip/sysclock.h"

#include "core/board_description.h"
#include "core/regs/clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/memctl.h"
#include "hwsharing/chip/reg_access.h"

namespace {

constexpr uint32_t kSettleUnits = 1000;
constexpr uint32_t kPresetUnits = 100;
constexpr uint32_t kFsRunUnits = 10000;

// Codes of the later generation's select field that use FS n; FS 0 counts
// in all three words, the others only in words 1 and 2.
constexpr uint32_t kB90FsCodes[kFsCount][3] = {
    {1, 8, 9},    // FS 0
    {2, 10, 11},  // FS 1
    {3, 12, 13},  // FS 2
    {4, 14, 15},  // FS 3
};

constexpr uint32_t kB90SelectRegs[3] = {kRegClockSelect0, kRegClockSelect1, kRegClockSelect2};

uint32_t FsFrequency(const BOARDHANDLE* h, uint32_t n) {
  return PinsDword(h, kPinsFsBlock + kPinsFsStride * n + kPinsFsFrequency);
}
uint32_t FsPreset(const BOARDHANDLE* h, uint32_t n) {
  return PinsDword(h, kPinsFsBlock + kPinsFsStride * n + kPinsFsPreset);
}

}  // namespace

uint32_t IsScUseFS(uint32_t word, uint32_t n) {
  if (n >= kFsCount) return 0;
  const uint32_t a = ClockSelectA::Get(word);
  const uint32_t b = ClockSelectB::Get(word);
  const uint32_t c = ClockSelectC::Get(word);
  const bool used = a == 2 * n + 1 || a == 2 * n + 2 || b == n + 1 || c == 2 * n + 1 ||
                    c == 2 * n + 2;
  return used ? 1 : 0;
}

uint32_t IsScUseFS_BRI90(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t n) {
  if (n >= kFsCount) return 0;
  const uint32_t words[3] = {word0, word1, word2};
  for (uint32_t w = (n == 0 ? 0 : 1); w < 3; ++w) {
    const uint32_t field = B90ClockSelect::Get(words[w]);
    for (uint32_t code : kB90FsCodes[n])
      if (field == code) return 1;
  }
  return 0;
}

HALSTATUS HWKSTInitializeSystemClock(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  MODULEHOLD held;
  HoldModules(h, &held);
  const uint32_t select = RegRead(h, kRegClockSelect0);
  Delay(h, kSettleUnits);

  RegWrite(h, kRegClockSelect0, select | kClockSelectLoad);
  RegWrite(h, kRegClockSelect0, kClockSelectLoad);
  RegWrite(h, kRegClockSelect0, 0);
  Delay(h, kSettleUnits);

  const uint32_t wanted = PinsDword(h, kPinsClockSelect);
  for (uint32_t n = 0; n < kFsCount; ++n) {
    if (IsScUseFS(wanted, n) == 0) continue;
    const uint32_t preset = FsPreset(h, n);
    const uint32_t reg = kRegFs0 + kRegFsStride * n;
    if (preset != 0) {
      RegWrite(h, reg, preset | kFsProgram);
      Delay(h, kPresetUnits);
      RegWrite(h, reg, preset);
    } else {
      // A synthesizer that does not lock keeps its last candidate; the
      // others still come up.
      (void)HWKSTInitialiseFSController(h, n, FsFrequency(h, n));
    }
  }

  Delay(h, kFsRunUnits);
  RegWrite(h, kRegClockSelect0, kClockSelectLoad);
  RegWrite(h, kRegClockSelect0, wanted | kClockSelectLoad);
  RegWrite(h, kRegClockSelect0, wanted);
  ReleaseModules(h, &held);
  return h->status;
}

HALSTATUS HWB90InitializeSystemClock(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t reg : kB90SelectRegs) RegWrite(h, reg, RegRead(h, reg) | kB90ClockSelectLoad);
  for (uint32_t reg : kB90SelectRegs) RegWrite(h, reg, kB90ClockSelectLoad);
  for (uint32_t reg : kB90SelectRegs) RegWrite(h, reg, 0);
  Delay(h, kSettleUnits);

  const uint32_t wanted[3] = {PinsDword(h, kPinsB90ClockSelect0),
                              PinsDword(h, kPinsB90ClockSelect1),
                              PinsDword(h, kPinsB90ClockSelect2)};
  for (uint32_t n = 0; n < kFsCount; ++n) {
    if (IsScUseFS_BRI90(wanted[0], wanted[1], wanted[2], n) == 0) continue;
    const uint32_t preset = FsPreset(h, n);
    const uint32_t reg = kRegB90Fs0 + kRegFsStride * n;
    if (preset != 0) {
      // Through the register shadow too: later programming builds on it.
      Bri90FSWriteRegister(h, preset | kFsProgram, reg);
      Delay(h, kPresetUnits);
      Bri90FSWriteRegister(h, preset, reg);
    } else {
      (void)HWB90InitialiseFSController(h, n, FsFrequency(h, n));  // as above
    }
  }

  Delay(h, kFsRunUnits);
  for (uint32_t reg : kB90SelectRegs) RegWrite(h, reg, kB90ClockSelectLoad);
  for (uint32_t i = 0; i < 3; ++i) RegWrite(h, kB90SelectRegs[i], wanted[i] | kB90ClockSelectLoad);
  for (uint32_t i = 0; i < 3; ++i) RegWrite(h, kB90SelectRegs[i], wanted[i]);
  RegWrite(h, kRegB90OscTest, PinsDword(h, kPinsB90OscTest));
  return h->status;
}
