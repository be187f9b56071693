// Look-ups in the board description (PInS) block: which register bits carry
// the board's misc-IO lines, expander lines, DDC lines and encoder GPIOs.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kMiscIoExpanderFunction = 15;  // line routed to the expander

HALSTATUS HSLPIN60GetMISCIORegMasks(BOARDHANDLE* h, uint32_t function, uint32_t occurrence,
                                    uint32_t* line, uint32_t* reg, uint32_t* outputMask,
                                    uint32_t* inputMask);
HALSTATUS HSLPIN60GetMISCIOExpRegMasks(BOARDHANDLE* h, uint32_t expanderCode, uint32_t* reg,
                                       uint32_t* outputMask, uint32_t* inputMask);
HALSTATUS HSLPIN60GetDDCIORegMasks(BOARDHANDLE* h, uint32_t ddcId, uint32_t* outputMask,
                                   uint32_t* inputMask);
HALSTATUS HSLPIN60GetCHRGPIOData(BOARDHANDLE* h, uint32_t slotMask, uint32_t function,
                                 uint32_t* slot, uint32_t* nibble, uint32_t* found);
