// Opening a board's description: the board description (PInS block) from
// the video BIOS or a built-in default, the two MCS blocks, the system
// clock and the pixel-clock sources; the decoding of a synthesizer word;
// the custom-call and configuration-override slots.
#pragma once

#include <cstdint>

#include "core/board_description.h"
#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kMcsBlockSize = 1024;
inline constexpr uint32_t kFsRefKHzDecode = 27000;

// Pixel-clock source capabilities.
inline constexpr uint32_t kPixSourceOrdinary = 1u << 0;
inline constexpr uint32_t kPixSourceChrontelKind1 = 1u << 1;
inline constexpr uint32_t kChrGpioPixelClock = 6;  // encoder GPIO function of a clock source

// Custom-call codes.
inline constexpr uint32_t kCustomGetSystemClock = 0;
inline constexpr uint32_t kCustomSetSystemClock = 1;
inline constexpr uint32_t kCustomLowLevelAccess = 6;
inline constexpr uint32_t kCustomEmulatedLut = 7;

HALSTATUS HSLKSTGetBoardInfo(BOARDHANDLE* h);  // slot 27
HALSTATUS HSLKSTGetPInSInfo(BOARDHANDLE* h);
HALSTATUS HSLKSTCSetDefaultPins(BOARDHANDLE* h);
HALSTATUS HSLKSTGetMCSInfo(BOARDHANDLE* h);
HALSTATUS HSLKSTGetPixelClockSourceCaps(BOARDHANDLE* h);
HALSTATUS HSLKSTDirectDebugPrint(BOARDHANDLE* h, const char* text);
// Leaves *khz alone when the word's D field decodes to 0.
HALSTATUS HSLKSTGetFSFreq(BOARDHANDLE* h, uint32_t value, uint32_t* khz);
HALSTATUS HSLKSTCustomCall(BOARDHANDLE* h, uint32_t code, void* in, void* out);  // slot 37
HALSTATUS HSLKSTConfigOverride(BOARDHANDLE* h, uint32_t word1, uint32_t word2);  // slot 36
