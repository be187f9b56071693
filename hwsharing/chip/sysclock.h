// System-clock start-up: the clock-select registers and the frequency
// synthesizers that feed them, both chip generations.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Board-description clock-select words.
inline constexpr uint32_t kPinsClockSelect = 132;     // register 0xE00, first generation
inline constexpr uint32_t kPinsB90ClockSelect0 = 512;  // registers 0xE00, 0xE04, 0xE08
inline constexpr uint32_t kPinsB90ClockSelect1 = 516;
inline constexpr uint32_t kPinsB90ClockSelect2 = 520;
inline constexpr uint32_t kPinsB90OscTest = 524;  // value for register 0xE24

// Whether FS n (0..3) feeds a clock of the select word(s).
uint32_t IsScUseFS(uint32_t word, uint32_t n);
uint32_t IsScUseFS_BRI90(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t n);

// Start the synthesizers the board description selects (preset values, or
// a divider search) and load the select words.
HALSTATUS HWKSTInitializeSystemClock(BOARDHANDLE* h);
HALSTATUS HWB90InitializeSystemClock(BOARDHANDLE* h);
