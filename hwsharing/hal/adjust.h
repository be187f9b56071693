// Timing adjustment steps: one step at a time on a mode, as a monitor's own
// controls would move, resize or retime the picture. Each step edits the
// MODEINFO in place, recomputes the clock and rates it depends on, and asks
// the chip whether the result is acceptable. A failed step leaves the
// record changed; a caller that wants to undo keeps a copy.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrAdjustTvWithoutTvOutput = 0xA0502060;
inline constexpr HALSTATUS kErrAdjustType = 0xA0502130;
inline constexpr HALSTATUS kErrAdjustNotSupported = 0xA05020E0;
inline constexpr HALSTATUS kErrAdjustRefreshTooLow = 0xA0502111;
inline constexpr HALSTATUS kErrAdjustRefreshBelowOne = 0x80402130;
// A porch or sync lowered below 0: 0x8040N130 with N = 4 (horizontal front
// porch) .. 9 (vertical back porch).
inline constexpr HALSTATUS kErrAdjustBelowZeroBase = 0x80400130;

// MODEINFO flModeCaps bit: horizontal steps move by one pixel, not a cell.
inline constexpr uint32_t kAdjustByPixel = 0x400;

// Step types.
enum AdjustType : uint32_t {
  kAdjustPixelClock = 1,
  kAdjustRefresh = 2,
  kAdjustHSyncPolarity = 7,
  kAdjustVSyncPolarity = 11,
  kAdjustInterlace = 12,
  kAdjustMoveRight = 13,
  kAdjustMoveLeft = 14,
  kAdjustMoveUp = 15,
  kAdjustMoveDown = 16,
  kAdjustExpandHorizontal = 17,
  kAdjustExpandVertical = 18,
  kAdjustShrinkHorizontal = 19,
  kAdjustShrinkVertical = 20,
  kAdjustLastType = 38,
};

HALSTATUS HALModifyVideoParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t type, uint32_t value);

HALSTATUS HALPChangePixelClock(BOARDHANDLE* h, MODEINFO* mode, uint32_t clockKhz);
HALSTATUS HALPChangeVerticalRefreshRate(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh);
HALSTATUS HALPChangeHorizontalSyncPolarity(BOARDHANDLE* h, MODEINFO* mode, uint32_t positive);
HALSTATUS HALPChangeVerticalSyncPolarity(BOARDHANDLE* h, MODEINFO* mode, uint32_t positive);
HALSTATUS HALPChangeInterlaceMode(BOARDHANDLE* h, MODEINFO* mode, uint32_t on);
HALSTATUS HALPIncrementVerticalRefreshRate(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HALPDecrementVerticalRefreshRate(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HALPDecrementHorizontalRate(BOARDHANDLE* h, MODEINFO* mode);
