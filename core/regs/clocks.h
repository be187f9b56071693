// Registers of the frequency synthesizers (FS), their oscillator and the
// system-clock select words, for both chip generations, with the divider
// fields of the synthesizer words.
#pragma once

#include <stdint.h>

#include "core/regs/field.h"

// ---- Clock select and oscillator -------------------------------------------------
inline constexpr uint32_t kRegClockSelect0 = 0xE00;  // first generation: bit 30 = oscillator off
inline constexpr uint32_t kRegClockSelect1 = 0xE04;  // later generation only
inline constexpr uint32_t kRegClockSelect2 = 0xE08;
inline constexpr uint32_t kOscillatorOff = 1u << 30;
inline constexpr uint32_t kClockSelectLoad = 0x8081;  // first generation load pattern
inline constexpr uint32_t kB90ClockSelectLoad = 0x1;
// Fields of the first generation's select word: three selects (FS n is
// 2n + 1 or 2n + 2 in the first and third, n + 1 in the second); the first
// is the graphics clock's, with its divider in bits 5-6.
using ClockSelectA = RegField<8, 4>;
using ClockSelectB = RegField<1, 3>;
using ClockSelectC = RegField<16, 4>;
using ClockSelectGclkDivider = RegField<5, 2>;
// The select field of each of the later generation's three words.
using B90ClockSelect = RegField<1, 4>;

// Later generation oscillator and test-counter register.
inline constexpr uint32_t kRegB90OscTest = 0xE24;
inline constexpr uint32_t kB90OscillatorOn = 1u << 30;
inline constexpr uint32_t kB90OscillatorHold = 1u << 31;  // must be clear for the oscillator to run
inline constexpr uint32_t kB90TestCounterEnableMask = 0x3;
using B90TestCounterDivider = RegField<2, 6>;
using B90TestCounterSource = RegField<8, 3>;
inline constexpr uint32_t kB90TestCounterMaxDivider = 19;
inline constexpr uint32_t kB90TestCounterSources = 8;

// ---- FS registers -------------------------------------------------------------------
// First generation: PLL numbers 0-3 are FS 0-3, 6 and 7 the two pixel PLLs.
inline constexpr uint32_t kRegFs0 = 0xE10;
inline constexpr uint32_t kRegPll6 = 0xE20;
inline constexpr uint32_t kRegPll7 = 0xE2C;
// Later generation. The X driver keeps the last value written to FS 0-3 in
// its client record, and the synthesizer code reads that shadow.
inline constexpr uint32_t kRegB90Fs0 = 0xE30;
inline constexpr uint32_t kRegB90Pll6 = 0xE40;
inline constexpr uint32_t kRegB90Pll7 = 0xE44;
inline constexpr uint32_t kRegFsStride = 4;
inline constexpr uint32_t kFsCount = 4;
inline constexpr uint32_t kNoPllRegister = 0xFFFFFFFF;
inline constexpr uint32_t kRegFsShadowFirst = kRegB90Fs0;
inline constexpr uint32_t kRegFsShadowLast = kRegB90Fs0 + kRegFsStride * (kFsCount - 1);

// ---- FS word, first generation -----------------------------------------------------
// Each divider is stored negated in a 5-bit field: M1 = 32 - field (64 -
// field with the M1-high bit), M2 and P1 = 32 - field, P2 = 64 - field with
// the field's low bit clear, or 2 with the P2-is-two bit.
using FsM1Field = RegField<0, 5>;
inline constexpr uint32_t kFsM1High = 1u << 5;  // M1 is 33..64
using FsM2Field = RegField<6, 5>;
using FsP1Field = RegField<11, 5>;
using FsP2Field = RegField<16, 6>;
inline constexpr uint32_t kFsP2IsTwo = 1u << 16;
inline constexpr uint32_t kFsDividerMask = 0x3FFFFFu;  // bits 0-21
inline constexpr uint32_t kFsVco1Locked = 1u << 24;
inline constexpr uint32_t kFsVco2Locked = 1u << 25;
inline constexpr uint32_t kFsBothLocked = kFsVco1Locked | kFsVco2Locked;
using FsOutputSel = RegField<26, 2>;
inline constexpr uint32_t kFsOutVco1 = 1u << 26;
inline constexpr uint32_t kFsOutVco2 = 1u << 27;
inline constexpr uint32_t kFsOptionBit = 1u << 28;
inline constexpr uint32_t kFsBit29 = 1u << 29;
inline constexpr uint32_t kFsVco2FromRef = 1u << 30;
inline constexpr uint32_t kFsProgram = 1u << 31;  // set in the first write of a sequence

// Negated 5-bit divider field.
inline constexpr uint32_t FsNegated(int32_t divider) {
  return static_cast<uint32_t>(-divider) & 0x1Fu;
}

inline constexpr uint32_t FsSetM1(uint32_t word, int32_t m1) {
  word = FsM1Field::Set(word & ~kFsM1High, FsNegated(m1));
  return m1 > 32 ? (word | kFsM1High) : word;
}
inline constexpr uint32_t FsSetM2(uint32_t word, int32_t m2) {
  return FsM2Field::Set(word, FsNegated(m2));
}
inline constexpr uint32_t FsSetP1(uint32_t word, int32_t p1) {
  return FsP1Field::Set(word, FsNegated(p1));
}
// An even P2 from 4 to 64 (a value of 2 written this way also reads back
// as 2, through the field).
inline constexpr uint32_t FsSetP2(uint32_t word, int32_t p2) {
  return FsP2Field::Set(word, (static_cast<uint32_t>(-(p2 / 2)) & 0x1Fu) * 2);
}
inline constexpr uint32_t FsSetP2IsTwo(uint32_t word) {
  return FsP2Field::Set(word, kFsP2IsTwo >> FsP2Field::kShift);
}

inline constexpr int32_t FsGetM1(uint32_t word) {
  const int32_t field = static_cast<int32_t>(FsM1Field::Get(word));
  return (word & kFsM1High) ? 64 - field : 32 - field;
}
inline constexpr int32_t FsGetM2(uint32_t word) {
  return 32 - static_cast<int32_t>(FsM2Field::Get(word));
}
inline constexpr int32_t FsGetP1(uint32_t word) {
  return 32 - static_cast<int32_t>(FsP1Field::Get(word));
}
inline constexpr int32_t FsGetP2(uint32_t word) {
  if (word & kFsP2IsTwo) return 2;
  return 64 - 2 * static_cast<int32_t>(FsP2Field::Get(word) >> 1);
}
// The raw M1 field with its high bit, as the synthesizer's debug output
// shows it.
inline constexpr uint32_t FsM1Raw(uint32_t word) { return word & (FsM1Field::kMask | kFsM1High); }

// ---- FS word, later generation ------------------------------------------------------
// Each field holds its divider minus one.
using B90FsM1Field = RegField<0, 6>;
using B90FsM2Field = RegField<6, 5>;
using B90FsP1Field = RegField<11, 5>;
using B90FsP2Field = RegField<16, 4>;
inline constexpr uint32_t kB90DividerMask = 0xFFFFFu;  // bits 0-19
inline constexpr uint32_t kB90Program = (1u << 31) | (1u << 21);
inline constexpr uint32_t kB90OptionBit = 1u << 22;
inline constexpr uint32_t kB90Locked = 1u << 24;
// Bits never carried over from the shadowed value.
inline constexpr uint32_t kB90ClearedBits = (1u << 23) | (1u << 25) | (1u << 28) | (1u << 29) |
                                            (1u << 30);

template <class Field>
inline constexpr uint32_t B90FsSetDivider(uint32_t word, int32_t divider) {
  return Field::Set(word, static_cast<uint32_t>(divider - 1));
}
template <class Field>
inline constexpr uint32_t B90FsGetDivider(uint32_t word) {
  return Field::Get(word) + 1;
}
