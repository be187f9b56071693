// Output-side services of the mode sequence and of load sensing: a free
// controller started with a 640x480 timing so an analog output carries
// sync, the DAC sync routing, blanking, the DVI encoders and transmitters of
// the output paths with their dual-link switch and sync buffer, and the
// output halves of a mode set.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrDacController = 0xB1E03131;

HALSTATUS HSLKSTGetFreeDCModule(BOARDHANDLE* h, uint32_t* module, uint32_t* found);
// Starts the free controller a word can use (module 1 first): its bit
// 0x80000 names it, or the word becomes 0x100000 when both are busy.
HALSTATUS HSLKSTInitFreeController(BOARDHANDLE* h, uint32_t* flOutput);
HALSTATUS HSLEnableSyncOnOutput(BOARDHANDLE* h, uint32_t* flOutput, uint32_t syncOn,
                                uint32_t* savedDac1, uint32_t* savedDac2);
HALSTATUS HSLEnableSyncOnExternalDac(BOARDHANDLE* h, uint32_t flOutput);
HALSTATUS HSLDisableSyncOnOutput(BOARDHANDLE* h, uint32_t flOutput, const uint32_t* savedDac1,
                                 const uint32_t* savedDac2);
HALSTATUS HSLKSTBlankDisplayOutput(BOARDHANDLE* h, uint32_t controller, uint32_t blank);

HALSTATUS HSLKSTEnableDVI(BOARDHANDLE* h, uint32_t path, MODEINFO* mode);
HALSTATUS HSLKSTDisableDVI(BOARDHANDLE* h, uint32_t path, MODEINFO* mode);
HALSTATUS HSLKSTEnableDVIDualLink(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTDisableDVIDualLink(BOARDHANDLE* h, uint32_t output);
HALSTATUS HSLKSTAccessSyncBuffer(BOARDHANDLE* h, void* unused, uint32_t line, uint32_t on);

HALSTATUS HSLKSTSetDisableDisplayOutputs(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTDisableDisplayOutputs(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTEnableDisplayOutputs(BOARDHANDLE* h, MODEINFO* mode);

// The 640x480 timing a free controller runs.
MODEINFO FreeControllerTiming();
