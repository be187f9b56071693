// XAA's drawing callbacks on the 2D engine: solid fills (rectangles,
// rectangle lists, span lists), 8x8 monochrome pattern fills, colour
// expansion from the processor, screen-to-screen copies, pixmap writes and
// reads, and solid lines. Each turns one XAA request into DMA command
// packets in the primary command buffer, inside the drawing bracket.
//
// Set-up callbacks store the engine state in the 2D state shadow and mark
// it dirty; the following subsequent callbacks send what changed ahead of
// their own packets (xaa_common.h).
#pragma once

#include <stdint.h>

#include "platform/xserver/xaa.h"


// Solid fills (xaa_fill.cpp).
void KstrnXAASetupForSolidFill(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask);
void KstrnXAASubsequentSolidFillRect(ScrnInfoPtr scrn, int x, int y, int w, int h);
void KstrnXAAFillSolidRects(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int nBox,
                            BoxPtr pBox);
void KstrnXAAFillSolidSpans(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int n,
                            DDXPointPtr points, int* widths, int sorted);

// 8x8 monochrome pattern fills (xaa_fill.cpp).
void KstrnXAASetupForMono8x8PatternFill(ScrnInfoPtr scrn, int patx, int paty, int fg, int bg,
                                        int rop, unsigned int planemask);
void KstrnXAASubsequentMono8x8PatternFillRect(ScrnInfoPtr scrn, int patx, int paty, int x, int y,
                                              int w, int h);

// Colour expansion (xaa_expand.cpp): the rectangle is kept until XAA has
// written the rows into the expansion buffer and calls Sync, which uploads
// them.
void KstrnXAASetupForCPUToScreenColorExpandFill(ScrnInfoPtr scrn, int fg, int bg, int rop,
                                                unsigned int planemask);
void KstrnXAASubsequentCPUToScreenColorExpandFill(ScrnInfoPtr scrn, int x, int y, int w, int h,
                                                  int skipleft);
// Run by Sync, which holds the command lock.
void KstrnXAASyncCPUToScreenColorExpandFill(ScrnInfoPtr scrn);

// Screen-to-screen copies (xaa_copy.cpp).
void KstrnXAASetupForScreenToScreenCopy(ScrnInfoPtr scrn, int xdir, int ydir, int rop,
                                        unsigned int planemask, int trans);
void KstrnXAASubsequentScreenToScreenCopy(ScrnInfoPtr scrn, int x1, int y1, int x2, int y2, int w,
                                          int h);
void KstrnXAAScreenToScreenBitBlt(ScrnInfoPtr scrn, int nbox, DDXPointPtr pptSrc, BoxPtr pbox,
                                  int xdir, int ydir, int rop, unsigned int planemask);

// Pixmap transfers (xaa_pixmap.cpp).
void KstrnXAAWritePixmap(ScrnInfoPtr scrn, int x, int y, int w, int h, unsigned char* src,
                         int srcwidth, int rop, unsigned int planemask, int trans, int bpp,
                         int depth);
void KstrnXAAReadPixmap(ScrnInfoPtr scrn, int x, int y, int w, int h, unsigned char* dst,
                        int dstwidth, int bpp, int depth);

// Solid lines (xaa_line.cpp).
void KstrnXAASetupForSolidLine(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask);
void KstrnXAASubsequentSolidHorVertLine(ScrnInfoPtr scrn, int x, int y, int len, int dir);
void KstrnXAASubsequentSolidTwoPointLine(ScrnInfoPtr scrn, int x1, int y1, int x2, int y2,
                                         int flags);
