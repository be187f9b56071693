// Server services that a video driver calls on its screens, beyond the libc
// wrappers and hardware access of xservices.h: the screen table and the
// private slots of screens and screen records.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in
// (platform/xserver) for tests; a test controls it through xstub::XServer
// (server.h).
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Screens ------------------------------------------------------------------

// The driver-facing records of the screens, by screen index.
extern ScrnInfoPtr* xf86Screens;
extern int xf86NumScreens;

// Counts server generations: 1 for the first start, one more per reset.
extern unsigned long serverGeneration;

// A new driver-facing screen record at the end of the table, owned by the
// server, with its private slots; flags are unused.
ScrnInfoPtr xf86AllocateScreen(DriverPtr driver, int flags);
// Removes a screen record (a refused screen) and renumbers the rest.
void xf86DeleteScreen(int scrnIndex, int flags);

// A new index into the private slots of every ScrnInfoRec (privates[]);
// -1 when none is left. Indexes live for the whole process.
int xf86AllocateScrnInfoPrivateIndex(void);
// A new index into the private slots of every ScreenRec (devPrivates[]);
// -1 when none is left.
int AllocateScreenPrivateIndex(void);

#ifdef __cplusplus
}  // extern "C"
#endif
