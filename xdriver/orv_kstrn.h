// The X screens' side of the driver core's device binding: bringing the
// driver up, opening, starting, stopping and closing a head's device, and
// the desktop features; each logs and keeps its result in the screen
// record.
#pragma once

#include "platform/xserver/xaa.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_rec.h"

Bool ORVKstrnLoadDriver(ScrnInfoPtr screen);
void ORVKstrnUnloadDriver();
Bool ORVKstrnOpenDevice(ScrnInfoPtr screen);
void ORVKstrnCloseDevice(ScrnInfoPtr screen);
Bool ORVKstrnStartDevice(ScrnInfoPtr screen);
Bool ORVKstrnStopDevice(ScrnInfoPtr screen);
// The screen-private index of the screens' XAA data, -1 until the first
// screen binds.
int ORVKstrnXaaPrivateIndex();
// The screen's XAA data on its device, with the hooks in `info`.
Bool ORVKstrnSetupXAAInfoRec(ScrnInfoPtr screen, XAAInfoRec* info);

// Before the server sleeps: renders into the displayed surface what still
// waits for the post-draw transform (the processor's drawing after a Sync).
void ORVKstrnFlushDrawing(ScrnInfoPtr screen);

// Start and stop the desktop features (TV output, display processing).
Bool OrvStartFeatures(ScrnInfoPtr screen);
Bool OrvStopFeatures(ScrnInfoPtr screen);
