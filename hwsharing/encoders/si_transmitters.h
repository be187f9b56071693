// The Silicon Image DVI transmitters: power up and down by kind and the
// dual-link switch. Their register transfers are in companion.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Transmitter kinds (the record's data word).
inline constexpr uint32_t kSiKind164 = 0;
inline constexpr uint32_t kSiKind164B = 1;
inline constexpr uint32_t kSiKind1162 = 2;
inline constexpr uint32_t kSiKind1178 = 3;

// The parameter blocks a board's transmitters are programmed from; bit 1 of
// five of their bytes follows the board's edge setting at each enable.
inline constexpr size_t kSi164ParamBytes = 3;
inline constexpr size_t kSi1162ParamBytes = 5;
inline constexpr size_t kSi1178ParamBytes = 9;
struct SIPARAMS {
  uint8_t si164[kSi164ParamBytes];
  uint8_t si1162[kSi1162ParamBytes];
  uint8_t si1178[kSi1178ParamBytes];
};
// The blocks as a board holds them now.
SIPARAMS SiParamsOf(const BOARDHANDLE* h);

HALSTATUS HSLSI164Enable(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLSI164Disable(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLSI164EnableDualLinkMode(BOARDHANDLE* h, uint32_t index);
HALSTATUS HSLSI164DisableDualLinkMode(BOARDHANDLE* h, uint32_t index);
