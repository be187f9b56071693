// The memory-request priority levels of controllers 0 and 1: the primary
// stream's level in bits 0-2 and the second stream's in bits 8-10 of
// 0x1C0C (controller 0) and 0x1C10 (controller 1). Levels are 1..7.
#pragma once

#include <cstdint>

#include "hwsharing/haltypes.h"

// Mask bits of HSLKSTSetPriorityLevels.
inline constexpr uint32_t kPriorityPrimary0 = 0x1;
inline constexpr uint32_t kPriorityPrimary1 = 0x2;
inline constexpr uint32_t kPrioritySecond0 = 0x4;
inline constexpr uint32_t kPrioritySecond1 = 0x8;

// levels[c] and secondLevels[c] for controllers c = 0, 1; each register is
// read, changed and written once.
HALSTATUS HSLKSTSetPriorityLevels(BOARDHANDLE* h, uint32_t mask, const uint32_t* levels,
                                  const uint32_t* secondLevels);
