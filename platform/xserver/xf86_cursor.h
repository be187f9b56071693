// The server's cursor layer as a driver with a hardware cursor sees it: the
// cursor records and the cursor-information record whose callbacks the
// layer calls to show, move, hide and load the pointer's image.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in for
// tests; a test shows and moves cursors through xstub::XServer (server.h).
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// A cursor's image. source and mask hold `height` rows of ((width + 31) /
// 32) x 4 bytes each, the leftmost pixel in bit 0 of a row's first byte; a
// source bit picks the foreground, a mask bit makes the pixel visible. An
// ARGB cursor has argb: width x height pixels 0xAARRGGBB, row-major.
typedef struct _CursorBits {
  unsigned char* source;
  unsigned char* mask;
  Bool emptyMask;
  unsigned short width, height;
  unsigned short xhot, yhot;
  int refcnt;
  CARD32* argb;
} CursorBits, *CursorBitsPtr;

// A cursor: its image and its two colours (16-bit components).
typedef struct _Cursor {
  CursorBitsPtr bits;
  unsigned short foreRed, foreGreen, foreBlue;
  unsigned short backRed, backGreen, backBlue;
  int refcnt;
} CursorRec, *CursorPtr;

// Layout of the two-colour image the layer hands to LoadCursorImage: MaxHeight
// rows of source and mask bits (MaxWidth x MaxHeight / 4 bytes in all).
#define HARDWARE_CURSOR_INVERT_MASK 0x00000001           // mask bits inverted
#define HARDWARE_CURSOR_AND_SOURCE_WITH_MASK 0x00000002  // source bits only where visible
#define HARDWARE_CURSOR_SWAP_SOURCE_AND_MASK 0x00000004  // mask first, then source
#define HARDWARE_CURSOR_SOURCE_MASK_NOT_INTERLEAVED 0x00000008  // whole source, whole mask
#define HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_1 0x00000010     // alternating in units of bits
#define HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_8 0x00000020
#define HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_16 0x00000040
#define HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_32 0x00000080
#define HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64 0x00000100
// Colours as 0x00RRGGBB even at 8 bits per pixel.
#define HARDWARE_CURSOR_TRUECOLOR_AT_8BPP 0x00000200
// The leftmost pixel of each byte in bit 7 (else bit 0).
#define HARDWARE_CURSOR_BIT_ORDER_MSBFIRST 0x00000400

struct _xf86CursorInfoRec;
typedef struct _xf86CursorInfoRec {
  ScrnInfoPtr pScrn;
  int Flags;
  int MaxWidth;
  int MaxHeight;
  void (*SetCursorColors)(ScrnInfoPtr screen, int bg, int fg);
  void (*SetCursorPosition)(ScrnInfoPtr screen, int x, int y);
  void (*LoadCursorImage)(ScrnInfoPtr screen, unsigned char* bits);
  void (*HideCursor)(ScrnInfoPtr screen);
  void (*ShowCursor)(ScrnInfoPtr screen);
  unsigned char* (*RealizeCursor)(struct _xf86CursorInfoRec* info, CursorPtr cursor);
  Bool (*UseHWCursor)(ScreenPtr screen, CursorPtr cursor);
  Bool (*UseHWCursorARGB)(ScreenPtr screen, CursorPtr cursor);
  void (*LoadCursorARGB)(ScrnInfoPtr screen, CursorPtr cursor);
} xf86CursorInfoRec, *xf86CursorInfoPtr;

// A zeroed record (xcalloc'd: the allocator's failure injection applies), or
// null.
xf86CursorInfoPtr xf86CreateCursorInfoRec(void);
// Frees the record; a screen that used it has no hardware cursor any more.
void xf86DestroyCursorInfoRec(xf86CursorInfoPtr info);
// Gives the screen its hardware cursor; false when the record lacks a size,
// SetCursorPosition, LoadCursorImage, HideCursor or ShowCursor, or the
// screen has one already.
Bool xf86InitCursor(ScreenPtr screen, xf86CursorInfoPtr info);

#ifdef __cplusplus
}  // extern "C"
#endif
