// Registers of the frequency synthesizers (FS), their oscillator and the
// system-clock select words, for both chip generations.
#pragma once

#include <cstdint>

// ---- Clock select and oscillator -------------------------------------------------
inline constexpr uint32_t kRegClockSelect0 = 0xE00;  // first generation: bit 30 = oscillator off
inline constexpr uint32_t kRegClockSelect1 = 0xE04;  // later generation only
inline constexpr uint32_t kRegClockSelect2 = 0xE08;
inline constexpr uint32_t kOscillatorOff = 1u << 30;
inline constexpr uint32_t kClockSelectLoad = 0x8081;  // first generation load pattern
inline constexpr uint32_t kB90ClockSelectLoad = 0x1;

// Later generation oscillator and test-counter register.
inline constexpr uint32_t kRegB90OscTest = 0xE24;
inline constexpr uint32_t kB90OscillatorOn = 1u << 30;
inline constexpr uint32_t kB90OscillatorHold = 1u << 31;  // must be clear for the oscillator to run
inline constexpr uint32_t kB90TestCounterEnableMask = 0x3;
inline constexpr uint32_t kB90TestCounterDividerShift = 2;
inline constexpr uint32_t kB90TestCounterDividerMask = 0xFCu;
inline constexpr uint32_t kB90TestCounterSourceShift = 8;
inline constexpr uint32_t kB90TestCounterSourceMask = 0x700u;
inline constexpr uint32_t kB90TestCounterMaxDivider = 19;
inline constexpr uint32_t kB90TestCounterSources = 8;

// ---- FS registers -------------------------------------------------------------------
// First generation: PLL numbers 0-3 are FS 0-3, 6 and 7 the two pixel PLLs.
inline constexpr uint32_t kRegFs0 = 0xE10;
inline constexpr uint32_t kRegPll6 = 0xE20;
inline constexpr uint32_t kRegPll7 = 0xE2C;
// Later generation.
inline constexpr uint32_t kRegB90Fs0 = 0xE30;
inline constexpr uint32_t kRegB90Pll6 = 0xE40;
inline constexpr uint32_t kRegB90Pll7 = 0xE44;
inline constexpr uint32_t kRegFsStride = 4;
inline constexpr uint32_t kFsCount = 4;
inline constexpr uint32_t kNoPllRegister = 0xFFFFFFFF;

// FS word, first generation.
inline constexpr uint32_t kFsM1Mask = 0x1Fu;         // bits 0-4: (-M1) & 0x1F
inline constexpr uint32_t kFsM1High = 1u << 5;       // M1 is 33..64
inline constexpr uint32_t kFsM2Shift = 6;            // bits 6-10: (-M2) & 0x1F
inline constexpr uint32_t kFsP1Shift = 11;           // bits 11-15: (-P1) & 0x1F
inline constexpr uint32_t kFsFieldMask = 0x1Fu;
inline constexpr uint32_t kFsP2Shift = 16;           // bits 16-21
inline constexpr uint32_t kFsP2Mask = 0x3Fu;
inline constexpr uint32_t kFsP2IsTwo = 1u << 16;     // P2 = 2
inline constexpr uint32_t kFsDividerMask = 0x3FFFFFu;  // bits 0-21
inline constexpr uint32_t kFsVco1Locked = 1u << 24;
inline constexpr uint32_t kFsVco2Locked = 1u << 25;
inline constexpr uint32_t kFsBothLocked = kFsVco1Locked | kFsVco2Locked;
inline constexpr uint32_t kFsOutputSelShift = 26;    // bits 26-27
inline constexpr uint32_t kFsOutputSelMask = 3u << 26;
inline constexpr uint32_t kFsOutVco1 = 1u << 26;
inline constexpr uint32_t kFsOutVco2 = 1u << 27;
inline constexpr uint32_t kFsOptionBit = 1u << 28;
inline constexpr uint32_t kFsBit29 = 1u << 29;
inline constexpr uint32_t kFsVco2FromRef = 1u << 30;
inline constexpr uint32_t kFsProgram = 1u << 31;     // set in the first write of a sequence

// FS word, later generation: each field holds its divider minus one.
inline constexpr uint32_t kB90M1Mask = 0x3Fu;        // bits 0-5
inline constexpr uint32_t kB90M2Shift = 6;           // bits 6-10
inline constexpr uint32_t kB90P1Shift = 11;          // bits 11-15
inline constexpr uint32_t kB90P2Shift = 16;          // bits 16-19
inline constexpr uint32_t kB90P2Mask = 0xFu;
inline constexpr uint32_t kB90DividerMask = 0xFFFFFu;  // bits 0-19
inline constexpr uint32_t kB90Program = (1u << 31) | (1u << 21);
inline constexpr uint32_t kB90OptionBit = 1u << 22;
inline constexpr uint32_t kB90Locked = 1u << 24;
// Bits never carried over from the shadowed value.
inline constexpr uint32_t kB90ClearedBits = (1u << 23) | (1u << 25) | (1u << 28) | (1u << 29) |
                                            (1u << 30);
