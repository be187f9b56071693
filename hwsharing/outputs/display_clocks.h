// The graphics clock (GCLK) and the display controllers' clock select codes
// in terms of the frequency synthesizers (FS 0..3), and the test clock.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kNoFs = 15;

// GCLK select codes 1, 2 name FS 0; 3, 4 FS 1; 5, 6 FS 2; 7, 8 FS 3.
HALSTATUS HSLKSTTranslateGclkSelIntoFS(BOARDHANDLE* h, uint32_t code, uint32_t* used, uint32_t* fs);
// Controller select codes 1..4 name FS 0..3.
HALSTATUS HSLKSTTranslateDcmClkSelIntoFS(BOARDHANDLE* h, uint32_t code, uint32_t* used, uint32_t* fs);
HALSTATUS HSLKSTGetGclk(BOARDHANDLE* h, MODEINFO* mode, uint32_t* fs);  // slot 50
HALSTATUS HSLKSTIsGClkRecyclable(BOARDHANDLE* h, MODEINFO* mode, uint32_t* recyclable,
                                 uint32_t* select);
// Recyclable through controller 0 or 1: a controller on at the record's
// pixel clock whose clock select names the graphics clock's FS.
HALSTATUS RecycleThroughController(BOARDHANDLE* h, const MODEINFO* mode, uint32_t gclkFs,
                                   uint32_t* recyclable, uint32_t* select);
// The graphics clock at half the record's pixel clock from FS `fs`.
HALSTATUS HSLKSTSetGclk(BOARDHANDLE* h, MODEINFO* mode, uint32_t fs);
HALSTATUS HSLKSTEnableTstClk(BOARDHANDLE* h, uint32_t position);
HALSTATUS HSLKSTDisableTstClk(BOARDHANDLE* h);
// Clock sources 6, 7, 8 are Chrontel encoders 1, 2, 3; others encoder 0.
HALSTATUS HSLCHRTranslClkSourceToChrID(BOARDHANDLE* h, uint32_t source, uint32_t* encoder);
// The test clock's source code of a position 0..3 (0 above).
uint32_t TestClockSource(uint32_t position);
