// The AV9110 clock synthesizer behind the flat-panel module: its divider
// search and the 24-bit word it is loaded with.
#pragma once

#include <cstdint>

inline constexpr uint32_t kAv9110RefKHz = 14318;

struct AV9110PLL {
  uint32_t n, m, prescaler;  // prescaler 1 or 8
  uint32_t doublings;        // how often the clock was doubled past 125,000 kHz
  uint32_t word;             // the serial word, ready to load
};
// False for a clock of 0 (no doubling would ever pass the limit) and when no
// divider pair fits.
bool Av9110ComputePll(uint32_t clockKHz, AV9110PLL* out);
