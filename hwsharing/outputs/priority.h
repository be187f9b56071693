// The memory-request priority levels of controllers 0 and 1: the primary
// stream's level in bits 0-2 and the second stream's in bits 8-10 of
// 0x1C0C (controller 0) and 0x1C10 (controller 1). Levels are 1..7.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Mask bits of HSLKSTSetPriorityLevels.
inline constexpr uint32_t kPriorityPrimary0 = 0x1;
inline constexpr uint32_t kPriorityPrimary1 = 0x2;
inline constexpr uint32_t kPrioritySecond0 = 0x4;
inline constexpr uint32_t kPrioritySecond1 = 0x8;

// levels[c] and secondLevels[c] for controllers c = 0, 1; each register is
// read, changed and written once.
HALSTATUS HSLKSTSetPriorityLevels(BOARDHANDLE* h, uint32_t mask, const uint32_t* levels,
                                  const uint32_t* secondLevels);

// Bits per pixel of a surface format code: 16 gives 8; 38, 39, 40 and 46
// give 16; every other code 32. `rate` := pixel clock (kHz) x bits.
HALSTATUS HSLKSTComputeBitRate(BOARDHANDLE* h, uint32_t pixelClock, uint32_t format, uint32_t* rate);
// The primary and second-stream bit rates of controllers 0 and 1 (0 for an
// off record or a second stream that is off).
HALSTATUS HSLKSTGetCurrentBitRates(BOARDHANDLE* h, uint32_t* rates, uint32_t* secondRates);
// Levels 1..7 of the four rates, relative to the largest.
HALSTATUS HSLKSTGetPriorityLevels(BOARDHANDLE* h, const uint32_t* rates, const uint32_t* secondRates,
                                  uint32_t* levels, uint32_t* secondLevels);
// A second stream whose buffer spans at most 63 blocks of 64 KB runs at level 1.
HALSTATUS HSLKSTApplyEar63(BOARDHANDLE* h, uint32_t* secondLevels);
HALSTATUS HSLKSTResetBandwidthState(BOARDHANDLE* h);
// Recomputes and writes the levels of both controllers, after every mode
// set and when the overlay changes.
HALSTATUS HSLKSTUpdatePriorityLevels(BOARDHANDLE* h);
