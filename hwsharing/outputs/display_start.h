// Where a controller starts showing its surface: the surface address and the
// display-start window, moved into the address past 4,096 pixels or lines.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrDisplayStartEar66 = 0xB1E070E0;
// A controller index above 3 (mend: the slot read the record unchecked).
inline constexpr HALSTATUS kErrDisplayStartController = 0xB1E07131;

// The words HSLKSTSetDisplayStartParameters writes.
struct DSPARAMS {
  uint32_t ulController;
  uint32_t ulAddress;   // first field
  uint32_t ulAddress2;  // second field, interlaced records
  uint32_t ulStartX, ulEndX, ulStartY, ulEndY;  // window words: start, end - 1
};

HALSTATUS HSLKSTGetAddressAlignmentMask(BOARDHANDLE* h, const MODEINFO* mode, uint32_t* mask);
HALSTATUS HSLKSTDetectEAR66(BOARDHANDLE* h, const MODEINFO* mode, uint32_t x, uint32_t y,
                            uint32_t* flag);
HALSTATUS HSLKSTGetDisplayStartParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t x, uint32_t y,
                                          DSPARAMS* ds);
HALSTATUS HSLKSTSetDisplayStartParameters(BOARDHANDLE* h, MODEINFO* mode, const DSPARAMS* ds);
HALSTATUS HSLKSTInternalSetDisplayStart(BOARDHANDLE* h, MODEINFO* mode, uint32_t x, uint32_t y);
HALSTATUS HSLKSTSetDisplayStart(BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y);  // slot 7
