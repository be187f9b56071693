// Display clock selection of a mode set: which clock drives a controller (a
// free synthesizer of its module, the graphics clock, a running clock that
// can be shared, the TV encoder's clock, a Chrontel encoder's TV clock or the
// test clock), programming it, and the handle's per-output table of clocks
// in use, through which the quad boards share one encoder's TV clock.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Clock source codes.
inline constexpr uint32_t kClockFreeFs = 0;
inline constexpr uint32_t kClockGraphics = 1;
inline constexpr uint32_t kClockTvEncoder = 2;
inline constexpr uint32_t kClockRecycled = 3;
inline constexpr uint32_t kClockFreeFsAt2 = 4;
inline constexpr uint32_t kClockChrontel0 = 5;  // 5..8: Chrontel encoder 0..3
inline constexpr uint32_t kClockChrontel3 = 8;
inline constexpr uint32_t kClockTest = 9;
// Select codes beside 1..4 (FS 0..3).
inline constexpr uint32_t kSelectTvEncoder = 7;
inline constexpr uint32_t kSelectChrontel = 8;
inline constexpr uint32_t kSelectTestClock = 9;
// Merged for an unknown source or a query that names no synthesizer.
inline constexpr HALSTATUS kErrClockSource = 0x80000000;

// The outputs 0..3 a flOutput word drives, ascending; `list` holds four.
HALSTATUS HSLKSTDetectOutputs(BOARDHANDLE* h, uint32_t flOutput, uint32_t* list, uint32_t* count);
HALSTATUS HSLKSTGetClockInfo(BOARDHANDLE* h, MODEINFO* mode, CLOCKINFO* info);
HALSTATUS HSLKSTGetTVClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source);
HALSTATUS HSLKSTGetMonitorClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source);
HALSTATUS HSLKSTGetQuadBoardTVClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source);
HALSTATUS HSLKSTGetQuadBoardTVFreeClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source);
HALSTATUS HSLKSTQuadBoardIsTVClockSourceEnabled(BOARDHANDLE* h, uint32_t* enabled, uint32_t* source);
HALSTATUS HSLKSTQuadBoardIsChrTVClockSource(BOARDHANDLE* h, uint32_t encoder, uint32_t* candidate);
HALSTATUS HSLKSTCheckForClkRecycling(BOARDHANDLE* h, MODEINFO* mode, uint32_t* select,
                                     uint32_t* recyclable);
HALSTATUS HSLKSTGetClockSel(BOARDHANDLE* h, MODEINFO* mode, uint32_t source, uint32_t* select);
HALSTATUS HSLKSTEnableClock(BOARDHANDLE* h, MODEINFO* mode, CLOCKINFO* info);
HALSTATUS HSLKSTDisableClock(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTUpdateClockInfoStructure(BOARDHANDLE* h, MODEINFO* mode, const CLOCKINFO* info);
HALSTATUS HSLKSTPixelClockDetuning(BOARDHANDLE* h, MODEINFO* mode);
