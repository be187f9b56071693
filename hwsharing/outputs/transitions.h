// Whether a mode set may skip part of the full sequence: a smooth
// transition keeps the controller running as it is, a
// video-parameter-free one keeps its timing registers.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Smooth: the record and its controller's current record are on, their
// output words are equal, the current record shows the reference's size
// and pixel clock (the reference is the request copy on quad boards, the
// record elsewhere), and both agree on the encoders' CPLD.
HALSTATUS HSLKSTDetectSmoothTransition(BOARDHANDLE* h, MODEINFO* mode, uint32_t* smooth);
// Parameter-free: the record and its module's first controller record are
// on, and either the record is TV output 1 on controller 3 or the two
// records' video parameters compare equal.
HALSTATUS HSLKSTDetectVidParmFreeTransition(BOARDHANDLE* h, MODEINFO* mode, uint32_t* free);
// Equal refresh and line rates, porches, syncs, borders, signal flags and
// TV groups (not the pixel clock, the sizes or the zoom).
HALSTATUS HSLKSTCompareVidParm(BOARDHANDLE* h, const MODEINFO* a, const MODEINFO* b,
                               uint32_t* equal);
