// Desktops over several heads of a board: the merged framebuffer (two heads
// in one screen, option MergedFB) with its second monitor's sync ranges and
// its MetaModes list, its pointer panning and frame adjustment, and the
// three- and four-head desktops' output selection and mode setting.
#pragma once

#include "platform/xserver/xf86_types.h"
#include "xdriver/orv_rec.h"

// True when lo <= x < hi for xrange and lo <= y < hi for yrange.
Bool ORVInRegion(int x, int y, range xrange, range yrange);
// Reads a Monitor2HSync or Monitor2VRefresh text into ranges[0]; answers
// the number of ranges filled (0 or 1).
int ORVMergeStrToRanges(range* ranges, const char* text);
DisplayModePtr ORVMergeGetModeFromName(const char* name, DisplayModePtr list);
// Builds one merged mode of the two heads' modes and appends it to the
// screen's mode list; null when it is wider than 4096.
DisplayModePtr ORVMergeCopyModeNLink(ScrnInfoPtr screen, DisplayModePtr mode1,
                                     DisplayModePtr mode2, int position);
// Builds the merged mode list from the MetaModes text; answers the last
// mode built, or null when none could be.
DisplayModePtr ORVMergeGenerateModeList(ScrnInfoPtr screen, const char* text,
                                        DisplayModePtr list1, DisplayModePtr list2,
                                        int position);
// The widest and tallest merged mode of the screen's list.
void ORVMergeVirtualSize(ScrnInfoPtr screen, int* width, int* height);

// The mode the built one comes from (rotated, three-, four-head), or its
// merged pair; the mode itself when it is a plain one.
DisplayModePtr OrvSourceMode(const DisplayModeRec* mode);
OrvMergedPair* OrvMergedPairOf(const DisplayModeRec* mode);

// The controller mask of each head in the board's entity record.
void OrvModeConfig_AssignController(ScrnInfoPtr screen, int head, uint32_t bits);
uint32_t OrvModeConfig_GetController(ScrnInfoPtr screen, int head);
void OrvModeConfig_ResetController(ScrnInfoPtr screen, int head);

// The pointer-moved and frame hooks of the multi-head desktops.
void ORVMergePointerMoved(int scrnIndex, int x, int y);
void ORVMergeAdjustFrames(int scrnIndex, int x, int y, int flags);
void ORVSpanthreePointerMoved(int scrnIndex, int x, int y);
void ORVSpanfourPointerMoved(int scrnIndex, int x, int y);

// Output selection of the head being set and the mode-init routines.
void ORVTripleSelectOutput(ScrnInfoPtr screen);
void ORVQuadSelectOutput(ScrnInfoPtr screen);
Bool ORVTripleModeInit(ScrnInfoPtr screen, DisplayModePtr mode);
Bool ORVQuadModeInit(ScrnInfoPtr screen, DisplayModePtr mode);
