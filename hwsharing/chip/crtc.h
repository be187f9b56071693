// The VGA-compatible CRTC of controller 0: the standard CRTC registers and
// the chip's CRTC extensions, programmed from controller 0's mode record.
// The routines fill the CRTC dispatch table.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// A refresh within this many hertz of the record's counts as a match.
inline constexpr uint32_t kLineDoublingToleranceHz = 9;
// Lines from which a mode is scanned at half its vertical counts.
inline constexpr uint32_t kTallModeLines = 2048;
inline constexpr uint8_t kModeControlTall = 0xC7;
inline constexpr uint8_t kModeControlNormal = 0xC3;
// The board-information low byte of boards whose CRTC resets on sync.
inline constexpr uint8_t kBoardInfoResetEnable = 12;

HALSTATUS HSLCRTUseLineDoubling(BOARDHANDLE* h, MODEINFO* mode, uint32_t* doubled);
HALSTATUS HSLCRTCSet(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLCRTCLock(BOARDHANDLE* h);
HALSTATUS HSLCRTCUnLock(BOARDHANDLE* h);
HALSTATUS HSLCRTCSetDisplayStart(BOARDHANDLE* h, uint32_t x, uint32_t y);
HALSTATUS HSLCRTCSetPitch(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLCRTCSelectHiresMode(BOARDHANDLE* h);
// Does not look at the status first.
HALSTATUS HSLCRTCSetPriorityRequest(BOARDHANDLE* h);
HALSTATUS HSLCRTCDisable(BOARDHANDLE* h);
HALSTATUS HSLCRTCEnable(BOARDHANDLE* h);
HALSTATUS HSLCRTCAdjustVideoParameters(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLCRTCValidateHwSync(BOARDHANDLE* h, uint32_t* sane);
HALSTATUS HSLCRTCCompareCurrentResolution(BOARDHANDLE* h, MODEINFO* mode, uint32_t* same);

// The horizontal zoom factor of a zoom word: its low half, 0 counting as 1.
inline uint32_t HorizontalZoom(uint32_t zoom) {
  const uint32_t low = zoom & 0xFFFF;
  return low == 0 ? 1 : low;
}
