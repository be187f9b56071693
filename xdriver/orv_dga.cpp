#include "xdriver/orv_dga.h"

#include <stdint.h>

#include "platform/xserver/xaa.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"

namespace {

constexpr int kDgaModeFlags =
    DGA_CONCURRENT_ACCESS | DGA_FILL_RECT | DGA_BLIT_RECT | DGA_BLIT_RECT_TRANS | DGA_PIXMAP_AVAILABLE;
constexpr int kNoTransparency = -1;
constexpr unsigned int kAllPlanes = 0xFFFFFFFF;

// The mode block each screen had when it entered DGA, by screen number.
struct DgaBlock {
  int32_t bitsPerPixel;
  int32_t depth;
  int32_t pitch;  // pixels
  rgb weight;     // bits of each mask
  DisplayModePtr returnMode;
  uint8_t state;
};
constexpr int kMaxDgaScreens = 16;
DgaBlock g_savedBlocks[kMaxDgaScreens];

DgaBlock BlockOf(const ORVRec* rec) {
  return DgaBlock{rec->savedBpp, rec->savedDepth, rec->savedDisplayWidth, rec->savedWeight, rec->savedMode,
                  rec->savedState};
}

void PutBlock(ORVRec* rec, const DgaBlock& b) {
  rec->savedBpp = b.bitsPerPixel;
  rec->savedDepth = b.depth;
  rec->savedDisplayWidth = b.pitch;
  rec->savedWeight = b.weight;
  rec->savedMode = b.returnMode;
  rec->savedState = b.state;
}

XAAInfoRecPtr XaaOf(ScrnInfoPtr screen) { return static_cast<XAAInfoRecPtr>(ORVPTR(screen)->pXaaInfo); }

// The area a DGA client may draw in: the framebuffer's pitch across, the
// lines the head's memory holds down. A client's rectangles are cut to it:
// the server hands them on as the client sent them, and the engine would
// otherwise reach memory outside the head's (a negative origin wraps below
// the board's memory).
struct Area {
  int64_t width;
  int64_t height;
};
Area AreaOf(ScrnInfoPtr screen) {
  const ORVRec* rec = ORVPTR(screen);
  const int64_t bytesPerScanline = int64_t{screen->bitsPerPixel / 8} * screen->displayWidth;
  return Area{screen->displayWidth, bytesPerScanline > 0 ? static_cast<int64_t>(rec->fbMemSize) / bytesPerScanline : 0};
}

// Cuts one side's span [at, at + length) to [0, size), moving the other
// side's start along: false when nothing is left.
bool CutSpan(int64_t* at, int64_t* other, int64_t* length, int64_t size) {
  if (*at < 0) {
    *length += *at;
    *other -= *at;
    *at = 0;
  }
  if (*length > size - *at) *length = size - *at;
  return *length > 0;
}

void Copy(ScrnInfoPtr screen, int srcx, int srcy, int w, int h, int dstx, int dsty, int trans) {
  XAAInfoRecPtr xaa = XaaOf(screen);
  if (xaa == nullptr || xaa->SetupForScreenToScreenCopy == nullptr ||
      xaa->SubsequentScreenToScreenCopy == nullptr)
    return;
  // Both rectangles inside the area, cut alike.
  const Area area = AreaOf(screen);
  int64_t sx = srcx, sy = srcy, dx = dstx, dy = dsty, width = w, height = h;
  if (!CutSpan(&sx, &dx, &width, area.width) || !CutSpan(&dx, &sx, &width, area.width) ||
      !CutSpan(&sy, &dy, &height, area.height) || !CutSpan(&dy, &sy, &height, area.height))
    return;
  srcx = static_cast<int>(sx), srcy = static_cast<int>(sy), dstx = static_cast<int>(dx), dsty = static_cast<int>(dy);
  w = static_cast<int>(width), h = static_cast<int>(height);
  // Away from the destination, as an overlapping copy needs it.
  const int ydir = srcy < dsty ? -1 : 1;
  const int xdir = srcy == dsty && srcx < dstx ? -1 : 1;
  ORVRec* rec = ORVPTR(screen);
  rec->dgaTransparentCopy = trans != kNoTransparency ? 1 : 0;
  xaa->SetupForScreenToScreenCopy(screen, xdir, ydir, GXcopy, kAllPlanes, trans);
  rec->dgaTransparentCopy = 0;
  xaa->SubsequentScreenToScreenCopy(screen, srcx, srcy, dstx, dsty, w, h);
  xaa->NeedToSync = TRUE;
}

// The record keeps the mode count in 16 bits.
constexpr int kMaxDgaModes = INT16_MAX;

DGAFunctionRec g_dgaFunctions = {
    ORVDGAOpenFramebuffer, ORVDGACloseFramebuffer, ORVDGASetMode,  ORVDGASetViewport,
    ORVDGAGetViewport,     ORVDGASync,             ORVDGAFillRect, ORVDGABlitRect,
    ORVDGABlitTransRect,
};

}  // namespace

int ORVCountBits(uint32_t mask) { return __builtin_popcount(mask); }

Bool ORVDGAInit(ScreenPtr pScreen) {
  ScrnInfoPtr screen = xf86Screens[pScreen->myNum];
  ORVRec* rec = ORVPTR(screen);
  const int bytes = screen->bitsPerPixel / 8;
  int count = 0;
  for (DisplayModePtr m = screen->modes; m != nullptr && count < kMaxDgaModes;) {
    ++count;
    m = m->next;
    if (m == screen->modes) break;
  }
  if (count == 0 || bytes == 0) return FALSE;
  auto* modes = static_cast<DGAModePtr>(xcalloc(static_cast<size_t>(count), sizeof(DGAModeRec)));
  if (modes == nullptr) return FALSE;
  const int bytesPerScanline = bytes * screen->displayWidth;
  DisplayModePtr m = screen->modes;
  for (int i = 0; i < count; ++i, m = m->next) {
    DGAModeRec& d = modes[i];
    d.mode = m;
    d.flags = kDgaModeFlags;
    if (m->Flags & V_DBLSCAN) d.flags |= DGA_DOUBLESCAN;
    if (m->Flags & V_INTERLACE) d.flags |= DGA_INTERLACED;
    d.imageByteOrder = screen->imageByteOrder;
    d.byteOrder = screen->imageByteOrder;
    d.depth = screen->depth;
    d.bitsPerPixel = screen->bitsPerPixel;
    d.red_mask = screen->mask.red;
    d.green_mask = screen->mask.green;
    d.blue_mask = screen->mask.blue;
    d.visualClass = bytes == 1 ? PseudoColor : TrueColor;
    d.viewportWidth = m->HDisplay;
    d.viewportHeight = m->VDisplay;
    d.xViewportStep = 1;
    d.yViewportStep = 1;
    d.viewportFlags = DGA_FLIP_RETRACE;
    d.offset = 0;
    d.bytesPerScanline = bytesPerScanline;
    d.imageWidth = m->HDisplay;
    d.pixmapWidth = m->HDisplay;
    // The lines the head's memory holds at the framebuffer's pitch.
    d.imageHeight = bytesPerScanline > 0 ? static_cast<int>(rec->fbMemSize / static_cast<uint32_t>(bytesPerScanline)) : 0;
    d.pixmapHeight = d.imageHeight;
    d.maxViewportX = d.imageWidth - m->HDisplay;
    d.maxViewportY = d.imageHeight > m->VDisplay ? d.imageHeight - m->VDisplay : 0;
    d.address = ORVHeadFramebuffer(rec);
  }
  xfree(rec->dgaModes);
  rec->dgaModes = modes;
  rec->dgaModeCount = count;
  return DGAInit(pScreen, &g_dgaFunctions, modes, count);
}

Bool ORVDGAOpenFramebuffer(ScrnInfoPtr screen, char** name, unsigned char** mem, int* size,
                           int* offset, int* flags) {
  ORVRec* rec = ORVPTR(screen);
  *name = nullptr;
  *mem = reinterpret_cast<unsigned char*>(rec->fbPhysAddress + rec->fbOffset);
  *size = screen->virtualY * screen->displayWidth * (screen->bitsPerPixel / 8);
  *offset = 0;
  *flags = DGA_NEED_ROOT;
  return TRUE;
}

void ORVDGACloseFramebuffer(ScrnInfoPtr) {}

Bool ORVDGASetMode(ScrnInfoPtr screen, DGAModePtr mode) {
  ORVRec* rec = ORVPTR(screen);
  const int index = screen->scrnIndex;
  const bool slot = index >= 0 && index < kMaxDgaScreens;
  if (mode == nullptr) {
    if (rec->inDGA && slot) PutBlock(rec, g_savedBlocks[index]);
    screen->currentMode = rec->savedMode;
    if (screen->SwitchMode != nullptr) screen->SwitchMode(index, screen->currentMode, 0);
    ORVAdjustFrame(index, screen->frameX0, screen->frameY0, 0);
    rec->inDGA = 0;
    return TRUE;
  }
  if (!rec->inDGA) {
    if (slot) g_savedBlocks[index] = BlockOf(rec);
    rec->inDGA = 1;
  }
  const int bytes = mode->bitsPerPixel / 8;
  PutBlock(rec, DgaBlock{mode->bitsPerPixel, mode->depth, bytes > 0 ? mode->bytesPerScanline / bytes : 0,
                         rgb{static_cast<CARD32>(ORVCountBits(static_cast<uint32_t>(mode->red_mask))),
                             static_cast<CARD32>(ORVCountBits(static_cast<uint32_t>(mode->green_mask))),
                             static_cast<CARD32>(ORVCountBits(static_cast<uint32_t>(mode->blue_mask)))},
                         rec->savedMode, 0});
  if (screen->SwitchMode != nullptr) screen->SwitchMode(index, mode->mode, 0);
  return TRUE;
}

void ORVDGASetViewport(ScrnInfoPtr screen, int x, int y, int flags) {
  ORVAdjustFrame(screen->scrnIndex, x, y, flags);
  ORVPTR(screen)->dgaViewportChange = 0;
}

int ORVDGAGetViewport(ScrnInfoPtr screen) { return ORVPTR(screen)->dgaViewportChange; }

void ORVDGASync(ScrnInfoPtr screen) {
  XAAInfoRecPtr xaa = XaaOf(screen);
  if (xaa != nullptr && xaa->Sync != nullptr) xaa->Sync(screen);
}

void ORVDGAFillRect(ScrnInfoPtr screen, int x, int y, int w, int h, unsigned long color) {
  XAAInfoRecPtr xaa = XaaOf(screen);
  if (xaa == nullptr || xaa->SetupForSolidFill == nullptr || xaa->SubsequentSolidFillRect == nullptr) return;
  const Area area = AreaOf(screen);
  int64_t left = x, top = y, width = w, height = h, unused = 0;
  if (!CutSpan(&left, &unused, &width, area.width) || !CutSpan(&top, &unused, &height, area.height)) return;
  x = static_cast<int>(left), y = static_cast<int>(top), w = static_cast<int>(width), h = static_cast<int>(height);
  xaa->SetupForSolidFill(screen, static_cast<int>(color), GXcopy, kAllPlanes);
  xaa->SubsequentSolidFillRect(screen, x, y, w, h);
  xaa->NeedToSync = TRUE;
}

void ORVDGABlitRect(ScrnInfoPtr screen, int srcx, int srcy, int w, int h, int dstx, int dsty) {
  Copy(screen, srcx, srcy, w, h, dstx, dsty, kNoTransparency);
}

void ORVDGABlitTransRect(ScrnInfoPtr screen, int srcx, int srcy, int w, int h, int dstx, int dsty,
                         unsigned long color) {
  Copy(screen, srcx, srcy, w, h, dstx, dsty, static_cast<int>(color));
}
