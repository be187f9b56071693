// Registration of a board and its outputs with the configuration
// extension's server module, and the callbacks through which the module
// validates modes and computes timings on the driver's side.
#pragma once

#include "core/orvcfg_records.h"
#include "xdriver/orv_hal.h"
#include "xdriver/orv_rec.h"

// Registers the screen's board (board record, then outputs 0 to 3) when
// the module is loaded; nothing otherwise.
void ORVRegisterWithExtension(ScrnInfoPtr screen);
int OrvRegisterBoardToExtension(ScrnInfoPtr screen);
int OrvRegisterBoardOutputToExtension(ScrnInfoPtr screen, int board, int output);

void OrvModeInfoToVideoMode(const QLBMODEINFO* mode, ORVCFGVideoMode* out);
void OrvVideoModeToModeInfo(const OrvCfgModeRequest* request, QLBMODEINFO* out);

int32_t OrvBoardCbGetSpecificCap(OrvCfgBoardRecord* record, uint32_t capability);
int32_t OrvBoardCbReserved(OrvCfgBoardRecord* record);
uint32_t OrvBoardCbValidateMode(OrvCfgBoardRecord* record, const OrvCfgModeRequest* request);
uint32_t OrvBoardCbValidateModeEdid(OrvCfgBoardRecord* record, const OrvCfgModeRequest* request);
int32_t OrvBoardCbGetDetailedTiming(OrvCfgBoardRecord* record, uint32_t width, uint32_t height,
                                    uint32_t refresh, ORVCFGVideoMode* out);

// The board handles open in the process: a callback for a board that is
// closed answers failure without touching it.
void OrvNoteBoardOpen(BOARDHANDLE* board);
void OrvNoteBoardClosed(BOARDHANDLE* board);
bool OrvBoardIsOpen(const void* board);
