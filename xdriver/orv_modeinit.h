// Mode switching: the head's mode record for the hardware library filled
// from an X mode (with the routing of the head to its controllers and
// outputs), the normal mode-init routine and the head rectangles of the
// current mode.
#pragma once

#include "xdriver/orv_hal.h"
#include "xdriver/orv_rec.h"

// Fill kinds: only the validation bit changes the record.
inline constexpr int kFillMerged = 0;
inline constexpr int kFillModeInit = 2;
inline constexpr int kFillValidate = 8;
inline constexpr int kFillPreInit = 16;
inline constexpr int kFillMergedSecond = 32;
inline constexpr int kFillModeInitKvd = 64;

// ulBpp while a depth-30 mode is being set.
inline constexpr uint32_t kOrvBppDepth30 = 0xC0000;

void ORVFillModeInfoStruct(ScrnInfoPtr screen, DisplayModePtr mode, QLBMODEINFO* record,
                           int kind);
Bool ORVModeInit(ScrnInfoPtr screen, DisplayModePtr mode);
Bool ORVSwitchMode(int scrnIndex, DisplayModePtr mode, int flags);
void ORVComputeHeadLayout(ScrnInfoPtr screen, DisplayModePtr mode);
void ORVSetHeadRects(ScrnInfoPtr screen, int layout, DisplayModePtr modeA, DisplayModePtr modeB,
                     int split);
void ORVPrintModeInfo(ScrnInfoPtr screen);
