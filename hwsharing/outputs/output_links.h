// Which outputs move together: for one output, the other outputs whose
// display start (horizontally, vertically) or whose video parameters follow
// when its own change. The answers are output masks (bit k for output k)
// over the entries of the hardware output table.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kMaxLinkKeys = 4;

// Adds a non-zero key that the list (at most four) does not hold yet.
HALSTATUS HSLKSTAddOutputLinkFlags(BOARDHANDLE* h, uint32_t* list, uint32_t* count, uint32_t key);
HALSTATUS HSLKSTGetOutputDisplayStartXLinkFlags(BOARDHANDLE* h, uint32_t output, uint32_t mask,
                                                uint32_t* links);
HALSTATUS HSLKSTGetOutputDisplayStartYLinkFlags(BOARDHANDLE* h, uint32_t output, uint32_t mask,
                                                uint32_t* links);
HALSTATUS HSLKSTGetOutputVidParmLinkFlags(BOARDHANDLE* h, uint32_t output, uint32_t mask, uint32_t* links);
// The module of a controller: 1 for controllers 1 and 3, else 0.
uint32_t GetDCModule(int32_t controller);
