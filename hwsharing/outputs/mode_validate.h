// Whether the chip can run a mode, before it is set: its format, zoom,
// size, outputs and pitch; its timing against the video-parameter rules and
// each output's pixel-clock limit; and the memory bandwidth it needs. All
// report through the status word and program nothing.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrModeFormat = 0xB2101100;
inline constexpr HALSTATUS kErrModeTooSmall = 0xB2101112;
inline constexpr HALSTATUS kErrModeZoom = 0xB21010F0;
inline constexpr HALSTATUS kErrModeOutput = 0xB2101116;
inline constexpr HALSTATUS kErrModePitch = 0xB2101141;
inline constexpr HALSTATUS kErrVideoParameters = 0xB2102070;
inline constexpr HALSTATUS kErrPixelClockLimit = 0xB2102031;

HALSTATUS HSLKSTValidateMode(BOARDHANDLE* h, MODEINFO* mode);  // slot 1
// Sets the mode capabilities and may triple `ulPixClock`.
HALSTATUS HSLKSTValidateVideoParameters(BOARDHANDLE* h, MODEINFO* mode);  // slot 2
// Kilobytes per second.
HALSTATUS HSLKSTGetModeBandwidth(BOARDHANDLE* h, MODEINFO* mode, uint32_t* bandwidth);  // slot 39
