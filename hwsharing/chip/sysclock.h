// System-clock start-up: the clock-select registers and the frequency
// synthesizers that feed them, both chip generations.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Whether FS n (0..3) feeds a clock of the select word(s).
uint32_t IsScUseFS(uint32_t word, uint32_t n);
uint32_t IsScUseFS_BRI90(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t n);

// Start the synthesizers the board description selects (preset values, or
// a divider search) and load the select words.
HALSTATUS HWKSTInitializeSystemClock(BOARDHANDLE* h);
HALSTATUS HWB90InitializeSystemClock(BOARDHANDLE* h);
