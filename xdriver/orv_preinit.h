// Screen pre-initialisation and its helpers: mapping the apertures, the
// depth, opening and closing the board's hardware library, the console BIOS,
// the video-bridge check, acceleration off, the off-screen budget and the
// mode builders of the rotated, three-head and four-head desktops.
#pragma once

#include <stdint.h>

#include "platform/xserver/xf86_types.h"
#include "xdriver/orv_rec.h"

Bool ORVSetDepth(ScrnInfoPtr screen);
Bool ORVMapMem(ScrnInfoPtr screen);
void ORVUnmapMem(ScrnInfoPtr screen);
Bool ORVOpenBoard(ScrnInfoPtr screen);
void ORVCloseBoard(ScrnInfoPtr screen);
Bool ORVGetVGA(ScrnInfoPtr screen);
void ORVCheckVideoBridge(ORVRec* rec, Bool check);
Bool ORVComputeOffscreen(ScrnInfoPtr screen, uint32_t screenBytes, float value);
void ORVDisableAcceleration(ORVRec* rec);

// Pixels the pitch is a multiple of, by bytes per pixel (1 to 4).
inline constexpr int kOrvPitchIncrement[4] = {64, 32, 64, 32};
// The display width (pitch in pixels): the surface the engine draws and the
// controller shows is the width rounded up to 32 pixels.
inline constexpr int OrvDisplayWidth(int width) { return (width + 31) & ~31; }

DisplayModePtr OrvPreInitModes_GenerateRotatedMode(ScrnInfoPtr screen, DisplayModePtr mode);
DisplayModePtr OrvPreInitModes_GenerateSpanthreeMode(ScrnInfoPtr screen, DisplayModePtr mode);
DisplayModePtr OrvPreInitModes_GenerateSpanfourMode(ScrnInfoPtr screen, DisplayModePtr mode);
// Replaces the screen's mode list by one built mode per mode (three-head,
// four-head or rotated); the old list is kept in the record.
Bool OrvPreInitModes_GenerateFeaturedModes(ScrnInfoPtr screen);
