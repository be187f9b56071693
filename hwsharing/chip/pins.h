// Look-ups in the board description (PInS) block: which register bits carry
// the board's misc-IO lines, expander lines, DDC lines and encoder GPIOs.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Offsets in the PInS block.
inline constexpr uint32_t kPinsVersion = 4;
inline constexpr uint32_t kPinsMiscIoMap = 392;      // function codes of lines 0-7
inline constexpr uint32_t kPinsMiscIoMapHigh = 396;  // lines 8-10 and their expander codes
inline constexpr uint32_t kPinsBoardType = 417;
inline constexpr uint32_t kPinsCemCode = 421;
inline constexpr uint32_t kPinsEncoderGpioMap = 424;
inline constexpr uint32_t kPinsExpanderMap = 428;
inline constexpr uint32_t kPinsDdcMap = 436;

inline constexpr uint32_t kPinsDefaultMiscIoMap = 0x43706521;
inline constexpr uint32_t kPinsDefaultDdcMap = 0x05070608;
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
