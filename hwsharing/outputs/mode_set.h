// The set-mode entry of the chip layer (slot 4) and what it needs around
// it: the record adapted to its output path, the zoom-only and TV-position
// shortcuts, the bookkeeping of the four controller records, and the
// display clear through the drawing engine (slot 40).
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Programs or turns off (flOutput bit 0x100000) the controller the record
// names. The record is changed in place: the caller sees the record as set.
HALSTATUS HSLKSTSetMode(BOARDHANDLE* h, MODEINFO* mode);  // slot 4
HALSTATUS HSLKSTApplyModeInfoModifications(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTDetectSetMinorChanges(BOARDHANDLE* h, MODEINFO* mode, uint32_t* isMinor);
HALSTATUS HSLKSTDetectZoomFactorChange(BOARDHANDLE* h, MODEINFO* mode, uint32_t* zoomOnly);
HALSTATUS HSLKSTSetModeZoom(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTSetModeCaps(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTSetModeUpdateStructure(BOARDHANDLE* h, MODEINFO* mode);
// Fills the visible area of the mode with zero through the drawing engine.
// It writes the engine's registers directly and waits for the engine
// itself: its callers idle the engine and the DMA stream first.
HALSTATUS HSLKSTClearDisplay(BOARDHANDLE* h, MODEINFO* mode);  // slot 40
// Every configuration of two controllers is accepted.
HALSTATUS HSLKSTValidateDualCRTCConfig(BOARDHANDLE* h, MODEINFO* modes);  // slot 38
HALSTATUS HSLKSTValidateOutputMode(BOARDHANDLE* h);
