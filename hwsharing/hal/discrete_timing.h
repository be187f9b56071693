// Discrete video-parameter identifiers: a 32-bit number that names a timing,
// group in bits 31-16 and member in bits 15-0. Group 0 names a VESA row by
// its DMT identifier, groups 1 and 2 a TV-encoder mode, groups 3 and 4 a CVT
// timing (standard and reduced blanking) by the prime factors of its height,
// its aspect ratio and its refresh.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrDiscreteIdRange = 0x80703070;

inline constexpr uint32_t kDiscreteGroups = 5;
// Members of the CVT groups: identifiers 0 .. count - 1. The member just past
// the last would have aspect index 4 and every exponent 0, a one-line mode.
inline constexpr uint32_t kDiscreteCvtMembers = 0x4000;
inline constexpr uint32_t kDiscreteCvtReducedMembers = 8192;

// base to the power n; 1 for n = 0.
uint32_t ComputeExponent(uint32_t base, uint32_t n);

HALSTATUS HALEnumDiscreteVidParmGroupID(BOARDHANDLE* h, uint32_t n, uint32_t* group);
HALSTATUS HALEnumDiscreteVidParmID(BOARDHANDLE* h, uint32_t group, uint32_t index, uint32_t* id);
HALSTATUS HALPGetDiscreteVidParmGroupInformation(BOARDHANDLE* h);
// Fills the mode with the timing the identifier names; internal (the status
// is not cleared).
HALSTATUS HALPGetDiscreteVideoParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t identifier);
