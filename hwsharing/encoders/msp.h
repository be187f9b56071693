// The MSP audio processor on I2C port 1: version, DSP words, soft reset and
// the two audio pass-through settings.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrMspReset = 0xb0e03122;
inline constexpr HALSTATUS kErrMspWrite = 0xb0e04122;

// The version of the processor at `address`, 0 when none answers.
HALSTATUS HSLMSPI2CGetVersion(BOARDHANDLE* h, uint32_t address, uint32_t* version);
HALSTATUS HSLMSPI2CWriteWord(BOARDHANDLE* h, uint32_t reg, uint32_t value);
HALSTATUS HSLMSPI2CSoftReset(BOARDHANDLE* h);
HALSTATUS HSLMSPSetAudioPassThroughMode(BOARDHANDLE* h);
HALSTATUS HSLMSPSetAudioPassThroughModeForBreakOutBox(BOARDHANDLE* h);
