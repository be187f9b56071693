// The server's screen layer as a driver's ScreenInit uses it: visuals and
// pixmap depths, the framebuffer layer (with a small software renderer over
// its pixmaps), the default colormap and colormap handling with the
// driver's LoadPalette, the off-screen memory manager, shadow framebuffer,
// backing store, silken mouse, the software cursor and power management.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in for
// tests; xstub::XServer (server.h) runs the screens' lifecycle.
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Boxes -------------------------------------------------------------------------
typedef struct {
  short x1, y1, x2, y2;  // x2 and y2 exclusive
} BoxRec, *BoxPtr;

// ---- Visuals and depths ---------------------------------------------------------------
// Registers the visual classes of a depth for the next screen initialisation.
Bool miSetVisualTypes(int depth, int visuals, int bitsPerRGB, int preferredVisual);
// The same with explicit masks.
Bool miSetVisualTypesAndMasks(int depth, int visuals, int bitsPerRGB, int preferredVisual,
                              unsigned long redMask, unsigned long greenMask,
                              unsigned long blueMask);
void miClearVisualTypes(void);
// Registers the pixmap depths every screen supports.
Bool miSetPixmapDepths(void);
// The visual classes a depth offers by default.
int miGetDefaultVisualMask(int depth);

// ---- Framebuffer layer -------------------------------------------------------------------
// Sets the screen up over pbits: width is the pitch in pixels. Builds the
// visuals registered for the screen's depth, the screen pixmap and the
// layer's hooks (CloseScreen wrapped).
Bool fbScreenInit(ScreenPtr screen, pointer pbits, int xsize, int ysize, int dpix, int dpiy,
                  int width, int bpp);
Bool fbPictureInit(ScreenPtr screen, pointer formats, int nformats);
// The screen pixmap of a screen the layer set up, else null.
PixmapPtr fbGetScreenPixmap(ScreenPtr screen);
// Software rendering on a pixmap (8, 16 or 32 bits per pixel), clipped to it.
void fbSolidFill(PixmapPtr pixmap, int x, int y, int width, int height, CARD32 pixel);
void fbCopyArea(PixmapPtr src, PixmapPtr dst, int srcx, int srcy, int dstx, int dsty, int width,
                int height);
CARD32 fbGetPixel(PixmapPtr pixmap, int x, int y);

// ---- Colormaps --------------------------------------------------------------------------
typedef struct _ColormapRec {
  VisualPtr pVisual;
  short visualClass;
  XID mid;
  ScreenPtr pScreen;
  int numEntries;
  LOCO entries[256];  // 16-bit components, as the colormap holds them
} ColormapRec;

// Black 0 and white 1 (PseudoColor), or white all colour bits.
void xf86SetBlackWhitePixels(ScreenPtr screen);
// Creates and installs the screen's default colormap (black and white
// allocated at the screen's pixels).
Bool miCreateDefColormap(ScreenPtr screen);
// The installed colormap of a screen, or null.
ColormapPtr miInstalledColormap(ScreenPtr screen);

// Flags of xf86HandleColormaps.
#define CMAP_PALETTED_TRUECOLOR 0x0001
#define CMAP_RELOAD_ON_MODE_SWITCH 0x0002
#define CMAP_LOAD_EVEN_IF_OFFSCREEN 0x0004

typedef void (*xf86SetOverscanProc)(ScrnInfoPtr screen, int index);
// Hands the screen's palette to the driver's LoadPalette: at once for the
// installed colormap, and again whenever entries change, on EnterVT and,
// with CMAP_RELOAD_ON_MODE_SWITCH, after every mode switch.
Bool xf86HandleColormaps(ScreenPtr screen, int maxColors, int sigRGBbits,
                         xf86LoadPaletteProc loadPalette, xf86SetOverscanProc setOverscan,
                         unsigned int flags);
// Stores colours in the installed colormap (entries [first, first + n)).
void xf86StoreColors(ScreenPtr screen, int first, int n, const LOCO* colors);

// ---- Off-screen memory manager ---------------------------------------------------------
typedef struct _FBArea {
  ScreenPtr pScreen;
  BoxRec box;
  int granularity;
  pointer devPrivate;
} FBArea, *FBAreaPtr;
typedef void (*MoveAreaCallbackProcPtr)(FBAreaPtr from, FBAreaPtr to);
typedef void (*RemoveAreaCallbackProcPtr)(FBAreaPtr area);

// Manages the part of fullBox below the screen's visible area; false when
// it is set up already or the box holds nothing beside the screen.
Bool xf86InitFBManager(ScreenPtr screen, BoxPtr fullBox);
Bool xf86QueryLargestOffscreenArea(ScreenPtr screen, int* width, int* height, int granularity,
                                   int preferences, int priority);
FBAreaPtr xf86AllocateOffscreenArea(ScreenPtr screen, int w, int h, int granularity,
                                    MoveAreaCallbackProcPtr moveCB,
                                    RemoveAreaCallbackProcPtr removeCB, pointer privData);
void xf86FreeOffscreenArea(FBAreaPtr area);

// ---- Shadow framebuffer ---------------------------------------------------------------------
typedef void (*RefreshAreaFuncPtr)(ScrnInfoPtr screen, int num, BoxPtr boxes);
Bool ShadowFBInit(ScreenPtr screen, RefreshAreaFuncPtr refresh);

// ---- Backing store, pointer, cursor, power --------------------------------------------------
void miInitializeBackingStore(ScreenPtr screen);
void xf86SetBackingStore(ScreenPtr screen);
void xf86SetSilkenMouse(ScreenPtr screen);
Bool miDCInitialize(ScreenPtr screen, pointer pointerScreenFuncs);
extern pointer xf86GetPointerScreenFuncs(void);
// DPMS levels.
#define DPMSModeOn 0
#define DPMSModeStandby 1
#define DPMSModeSuspend 2
#define DPMSModeOff 3
Bool xf86DPMSInit(ScreenPtr screen, xf86DPMSSetProc set, int flags);

#ifdef __cplusplus
}  // extern "C"
#endif
