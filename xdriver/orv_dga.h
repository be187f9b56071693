// Direct framebuffer access: one DGA mode per screen mode, and the
// callbacks DGA calls (the framebuffer, mode and viewport changes, and
// fills and copies through the screen's XAA record).
#pragma once

#include "platform/xserver/dga.h"
#include "xdriver/orv_rec.h"

// Builds the mode list and hands it to DGA; false when the list cannot be
// allocated (no DGA then).
Bool ORVDGAInit(ScreenPtr pScreen);

Bool ORVDGAOpenFramebuffer(ScrnInfoPtr screen, char** name, unsigned char** mem, int* size,
                           int* offset, int* flags);
void ORVDGACloseFramebuffer(ScrnInfoPtr screen);
Bool ORVDGASetMode(ScrnInfoPtr screen, DGAModePtr mode);
void ORVDGASetViewport(ScrnInfoPtr screen, int x, int y, int flags);
int ORVDGAGetViewport(ScrnInfoPtr screen);
void ORVDGASync(ScrnInfoPtr screen);
void ORVDGAFillRect(ScrnInfoPtr screen, int x, int y, int w, int h, unsigned long color);
void ORVDGABlitRect(ScrnInfoPtr screen, int srcx, int srcy, int w, int h, int dstx, int dsty);
void ORVDGABlitTransRect(ScrnInfoPtr screen, int srcx, int srcy, int w, int h, int dstx, int dsty,
                         unsigned long color);

// The number of set bits of a mask.
int ORVCountBits(uint32_t mask);
