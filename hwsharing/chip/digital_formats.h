// Which digital output formats an output may carry, from the board's
// feature and output-enable words and the expansion module's code and
// control byte, and which formats may be set together on a group of
// outputs.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrFormatNotSupported = 0xb1d07131;
inline constexpr HALSTATUS kErrFormatCombination = 0xb1d08131;

// Merges kErrFormatNotSupported when `output` (0..3) may not carry `format`.
HALSTATUS HSLKSTIsDigitalFormatSupported(BOARDHANDLE* h, uint32_t format, uint32_t output);
// Formats 1..group-1 must share the class of format 0, the rest be none;
// more than four formats, a group of one or a group larger than the count
// check nothing.
HALSTATUS HSLKSTIsValidFormatCombination(BOARDHANDLE* h, const uint32_t* formats, uint32_t count,
                                         uint32_t group);
