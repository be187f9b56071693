// The hardware cursor: the cursor layer's record for a screen and its
// callbacks on the board's two cursor engines, for single-head, merged,
// three-head and four-head desktops, with two-colour images and ARGB images
// reduced to sixteen colours with alpha.
#pragma once

#include <stdint.h>

#include "platform/xserver/xf86_cursor.h"

// What the cursor keeps per board (in the board's entity record), so that
// the heads of one board share it and another board is not disturbed.
struct OrvCursorBoard {
  int32_t swapped;      // controller 1 is the primary cursor engine
  int32_t argb;         // the last image loaded was an ARGB one
  int32_t regions[2][4];  // merged head regions: x0, x1, y0, y1 (x1, y1 exclusive)
  int32_t waitLogged;   // a position update was skipped and said so
};

Bool ORVHWCursorInit(ScreenPtr screen);

void ORVSetCursorColors(ScrnInfoPtr screen, int bg, int fg);
void ORVLoadCursorImage(ScrnInfoPtr screen, unsigned char* bits);
void ORVLoadCursorARGB(ScrnInfoPtr screen, CursorPtr cursor);
void ORVHideCursor(ScrnInfoPtr screen);
Bool ORVUseHWCursor(ScreenPtr screen, CursorPtr cursor);
Bool ORVUseHWCursorARGB(ScreenPtr screen, CursorPtr cursor);

void ORVSetCursorPosition(ScrnInfoPtr screen, int x, int y);
void ORVShowCursor(ScrnInfoPtr screen);
void ORVMergeSetCursorPosition(ScrnInfoPtr screen, int x, int y);
void ORVMergeShowCursor(ScrnInfoPtr screen);
void ORVTripleSetCursorPosition(ScrnInfoPtr screen, int x, int y);
void ORVTripleShowCursor(ScrnInfoPtr screen);
void ORVQuadSetCursorPosition(ScrnInfoPtr screen, int x, int y);
void ORVQuadShowCursor(ScrnInfoPtr screen);

// The palette of an ARGB image (0xAARRGGBB pixels, row-major): entry 0
// black, then each new colour in pixel order after the first reduction
// level (exact, 5-, 4-, 3-, 2-bit, the nearest of sixteen fixed colours)
// that keeps the count below 16 (the last level may use all 16). Answers
// the number of entries.
int ORVReduceCursorColors(const CARD32* pixels, int width, int height, uint32_t palette[16]);
uint32_t ORVCursorColorExact(uint32_t pixel);
uint32_t ORVCursorColor5Bit(uint32_t pixel);
uint32_t ORVCursorColor4Bit(uint32_t pixel);
uint32_t ORVCursorColor3Bit(uint32_t pixel);
uint32_t ORVCursorColor2Bit(uint32_t pixel);
uint32_t ORVCursorColorNearest(uint32_t pixel);
