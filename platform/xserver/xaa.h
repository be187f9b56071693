// The X server's acceleration architecture (XAA) as a driver sees it: the
// info record a driver fills with its hooks and their restriction flags,
// creating, initialising and destroying it, the generic rectangle filler,
// and XAA's private slot on the screen.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in
// (platform/xserver/xaa.cpp); the drawing front that calls the hooks the
// way XAA does is xaa_front.h. The layout is the stand-in's own; the names
// and the meaning of every flag bit are XAA's.
#pragma once

#include "platform/xserver/screen_layer.h"
#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  short x, y;
} DDXPointRec, *DDXPointPtr;

// ---- GC functions (raster operations) ------------------------------------------------
#define GXclear 0x0
#define GXand 0x1
#define GXandReverse 0x2
#define GXcopy 0x3
#define GXandInverted 0x4
#define GXnoop 0x5
#define GXxor 0x6
#define GXor 0x7
#define GXnor 0x8
#define GXequiv 0x9
#define GXinvert 0xa
#define GXorReverse 0xb
#define GXcopyInverted 0xc
#define GXorInverted 0xd
#define GXnand 0xe
#define GXset 0xf

// ---- Flags of the record (Flags) ----------------------------------------------------
#define PIXMAP_CACHE 0x00000001          // XAA may keep pixmaps in off-screen memory
#define MICROSOFT_ZERO_LINE_BIAS 0x00000002
#define OFFSCREEN_PIXMAPS 0x00000004     // pixmaps may live in off-screen memory
#define LINEAR_FRAMEBUFFER 0x00000008    // the framebuffer layer draws through a linear mapping

// ---- Restriction flags of a primitive (the *Flags fields) ----------------------------
#define GXCOPY_ONLY 0x00000001           // the hook draws only with GXcopy
#define NO_GXCOPY 0x00000002             // ... never with GXcopy
#define NO_TRANSPARENCY 0x00000004       // no transparent background or colour
#define TRANSPARENCY_ONLY 0x00000008     // only transparent drawing
#define ROP_NEEDS_SOURCE 0x00000010      // only raster operations that use the source
#define TRANSPARENCY_GXCOPY_ONLY 0x00000020
#define NO_PLANEMASK 0x00000080          // only a full plane mask
// Bit order of 1-bit data handed to the driver: bit 0 of each byte is the
// leftmost pixel unless this is set, then bit 7 is.
#define BIT_ORDER_IN_BYTE_MSBFIRST 0x00000200
// Colour expansion.
#define CPU_TRANSFER_PAD_QWORD 0x00004000  // rows padded to 8 bytes (else to dwords)
#define SYNC_AFTER_COLOR_EXPAND 0x00008000 // XAA calls Sync after writing the rows
// 8x8 patterns.
#define HARDWARE_PATTERN_PROGRAMMED_BITS 0x00010000    // the pattern goes in the set-up's words
#define HARDWARE_PATTERN_PROGRAMMED_ORIGIN 0x00020000  // the origin goes in each rectangle call
#define HARDWARE_PATTERN_SCREEN_ORIGIN 0x00200000      // that origin is the GC's, on the screen
// Hardware clipping (ClippingFlags): XAA hands these primitives over
// unclipped, between SetClippingRectangle and DisableClipping; it clips all
// others itself.
#define HARDWARE_CLIP_SCREEN_TO_SCREEN_COLOR_EXPAND 0x00010000
#define HARDWARE_CLIP_SCREEN_TO_SCREEN_COPY 0x00020000
#define HARDWARE_CLIP_MONO_8x8_FILL 0x00040000
#define HARDWARE_CLIP_COLOR_8x8_FILL 0x00080000
#define HARDWARE_CLIP_SOLID_FILL 0x00100000
#define HARDWARE_CLIP_DASHED_LINE 0x00200000
#define HARDWARE_CLIP_SOLID_LINE 0x00400000

// Directions of SubsequentSolidHorVertLine.
#define DEGREES_0 0    // horizontal, to the right
#define DEGREES_270 3  // vertical, downwards
// Flags of SubsequentSolidTwoPointLine.
#define OMIT_LAST 0x00000001

typedef struct _XAAInfoRec {
  ScrnInfoPtr pScrn;
  int Flags;

  void (*Sync)(ScrnInfoPtr pScrn);
  void (*RestoreAccelState)(ScrnInfoPtr pScrn);

  // Clipping.
  void (*SetClippingRectangle)(ScrnInfoPtr pScrn, int left, int top, int right, int bottom);
  void (*DisableClipping)(ScrnInfoPtr pScrn);
  int ClippingFlags;

  // Solid fills.
  void (*SetupForSolidFill)(ScrnInfoPtr pScrn, int color, int rop, unsigned int planemask);
  void (*SubsequentSolidFillRect)(ScrnInfoPtr pScrn, int x, int y, int w, int h);
  int SolidFillFlags;

  // Screen-to-screen copies.
  void (*SetupForScreenToScreenCopy)(ScrnInfoPtr pScrn, int xdir, int ydir, int rop,
                                     unsigned int planemask, int trans_color);
  void (*SubsequentScreenToScreenCopy)(ScrnInfoPtr pScrn, int x1, int y1, int x2, int y2,
                                       int w, int h);
  int ScreenToScreenCopyFlags;

  // Solid lines.
  void (*SetupForSolidLine)(ScrnInfoPtr pScrn, int color, int rop, unsigned int planemask);
  void (*SubsequentSolidTwoPointLine)(ScrnInfoPtr pScrn, int x1, int y1, int x2, int y2,
                                      int flags);
  void (*SubsequentSolidHorVertLine)(ScrnInfoPtr pScrn, int x, int y, int len, int dir);
  int SolidLineFlags;

  // 8x8 monochrome patterns.
  void (*SetupForMono8x8PatternFill)(ScrnInfoPtr pScrn, int patx, int paty, int fg, int bg,
                                     int rop, unsigned int planemask);
  void (*SubsequentMono8x8PatternFillRect)(ScrnInfoPtr pScrn, int patx, int paty, int x, int y,
                                           int w, int h);
  int Mono8x8PatternFillFlags;

  // Colour expansion from data the processor writes into ColorExpandBase.
  void (*SetupForCPUToScreenColorExpandFill)(ScrnInfoPtr pScrn, int fg, int bg, int rop,
                                             unsigned int planemask);
  void (*SubsequentCPUToScreenColorExpandFill)(ScrnInfoPtr pScrn, int x, int y, int w, int h,
                                               int skipleft);
  int CPUToScreenColorExpandFillFlags;
  unsigned char* ColorExpandBase;
  int ColorExpandRange;  // bytes

  int ImageWriteFlags;

  // Higher-level hooks: whole requests.
  void (*ScreenToScreenBitBlt)(ScrnInfoPtr pScrn, int nbox, DDXPointPtr pptSrc, BoxPtr pbox,
                               int xdir, int ydir, int alu, unsigned int planemask);
  int ScreenToScreenBitBltFlags;
  void (*FillSolidRects)(ScrnInfoPtr pScrn, int fg, int rop, unsigned int planemask, int nBox,
                         BoxPtr pBox);
  int FillSolidRectsFlags;
  void (*FillSolidSpans)(ScrnInfoPtr pScrn, int fg, int rop, unsigned int planemask, int n,
                         DDXPointPtr ppt, int* pwidth, int fSorted);
  int FillSolidSpansFlags;
  void (*WritePixmap)(ScrnInfoPtr pScrn, int x, int y, int w, int h, unsigned char* src,
                      int srcwidth, int rop, unsigned int planemask, int transparency_color,
                      int bpp, int depth);
  int WritePixmapFlags;
  void (*ReadPixmap)(ScrnInfoPtr pScrn, int x, int y, int w, int h, unsigned char* dst,
                     int dstwidth, int bpp, int depth);
  int ReadPixmapFlags;

  // Text drawn by colour expansion of the glyphs (the CPU-to-screen hooks).
  int TEGlyphRendererFlags;

  // Set while the engine may still be drawing; XAA calls Sync before the
  // processor touches the framebuffer and clears it.
  Bool NeedToSync;
  // The clip rectangle of the current request when XAA hands spans over
  // unclipped (x2, y2 exclusive); null otherwise.
  BoxPtr ClipBox;
} XAAInfoRec, *XAAInfoRecPtr;

// A zeroed record (null when the allocator fails); the driver fills it.
XAAInfoRecPtr XAACreateInfoRec(void);
void XAADestroyInfoRec(XAAInfoRecPtr infoRec);
// Takes the record for the screen: it is kept in XAA's private slot of the
// screen until XAADestroyInfoRec. False without a Sync hook or a record.
Bool XAAInit(ScreenPtr pScreen, XAAInfoRecPtr infoRec);
// The record of a screen, or null.
XAAInfoRecPtr XAAGetInfoRec(ScreenPtr pScreen);
// XAA's private slot on the screens, -1 until the first XAAInit.
extern int XAAScreenIndex;
// The generic rectangle filler: the set-up once, then each box, through
// the screen's record; sets NeedToSync.
void XAAFillSolidRects(ScrnInfoPtr pScrn, int fg, int rop, unsigned int planemask, int nBox,
                       BoxPtr pBox);

#ifdef __cplusplus
}  // extern "C"
#endif
