// The off-screen image types: a YUY2 or UYVY surface the client fills
// itself, shown through the overlay's scaler, which the kernel module runs
// at every vertical sync.
#include <string.h>

#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xv.h"

namespace {

constexpr int kFixedShift = 16;
constexpr uint32_t kScaledFormat16 = 32;
constexpr uint32_t kScaledFormat = 50;

constexpr int Align32(int v) { return (v + 31) & ~31; }

int32_t RescalePixels(int64_t v, int num, int den) {
  return static_cast<int32_t>(static_cast<double>(v) / (1 << kFixedShift) * num / den);
}

// Frees everything a surface's port holds, and the port.
void ReleasePort(ScrnInfoPtr screen, ORVPortPrivPtr port) {
  ORVVideoFreeLocalSurface(port->video, 1);
  if (port->boxes != nullptr) xfree(port->boxes);
  ORVVideoFreeHWScalerSurface(port->video, 0);
  REGION_UNINIT(screen->pScreen, &port->clip);
  ORVVideoCleanup(port->video);
  xfree(port);
}

}  // namespace

int ORVAllocateSurface(ScrnInfoPtr screen, int id, unsigned short width, unsigned short height,
                       XF86SurfacePtr surface) {
  if (width > kOrvXvMaxSize || height > kOrvXvMaxSize) return BadAlloc;
  ORVRec* rec = ORVPTR(screen);
  auto* port = static_cast<ORVPortPrivPtr>(xcalloc(1, sizeof(ORVPortPrivRec)));
  if (port == nullptr) return BadAlloc;
  if (!ORVInitPortPrivates(port, rec->pdev, screen)) {
    xfree(port);
    return BadAlloc;
  }
  void* cpu = nullptr;
  uint32_t pitch = 0;
  const uint32_t offset = ORVVideoAllocHWScalerSurface(port->video, static_cast<uint32_t>(id), width,
                                                       height, 0, &cpu, &pitch);
  if (offset == 0) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "can't allocate src offscreen local video memory.\n");
    REGION_UNINIT(screen->pScreen, &port->clip);
    ORVVideoCleanup(port->video);
    xfree(port);
    return BadAlloc;
  }
  port->srcHalf[0] = offset;
  surface->pitches = static_cast<int*>(xalloc(sizeof(int)));
  surface->offsets = static_cast<int*>(xalloc(sizeof(int)));
  if (surface->pitches == nullptr || surface->offsets == nullptr) {
    if (surface->pitches != nullptr) xfree(surface->pitches);
    if (surface->offsets != nullptr) xfree(surface->offsets);
    surface->pitches = surface->offsets = nullptr;
    ReleasePort(screen, port);
    return BadAlloc;
  }
  surface->width = width;
  surface->height = height;
  surface->pitches[0] = static_cast<int>(pitch);
  surface->offsets[0] = static_cast<int>(offset);
  surface->pScrn = screen;
  surface->id = id;
  surface->devPrivate.ptr = port;
  return Success;
}

int ORVDisplaySurface(XF86SurfacePtr surface, short src_x, short src_y, short drw_x, short drw_y,
                      short src_w, short src_h, short drw_w, short drw_h, RegionPtr clipBoxes) {
  auto* port = static_cast<ORVPortPrivPtr>(surface->devPrivate.ptr);
  ScrnInfoPtr screen = surface->pScrn;
  ORVRec* rec = ORVPTR(screen);
  const int srcW = static_cast<unsigned short>(src_w), srcH = static_cast<unsigned short>(src_h);
  const int drwW = static_cast<unsigned short>(drw_w), drwH = static_cast<unsigned short>(drw_h);
  if (drwW <= 1 || drwH <= 1 || srcW == 0 || srcH == 0) return Success;
  if (drwW > kOrvXvMaxDestination || drwH > kOrvXvMaxDestination) return BadValue;

  // dst stays in screen coordinates, as the clip boxes are.
  OrvXvBox dst{drw_x, drw_y, drw_x + drwW, drw_y + drwH};
  int64_t x1 = src_x, x2 = int64_t{src_x} + srcW, y1 = src_y, y2 = int64_t{src_y} + srcH;
  if (!ORVClipVideo(screen, &dst, &x1, &x2, &y1, &y2, clipBoxes, surface->width, surface->height))
    return Success;
  const int32_t left = RescalePixels(x1, drwW, surface->width);
  const int32_t top = RescalePixels(y1, drwH, surface->height);

  ORVVideoStopHWScaler(port->video, 0);
  ORVVideoFreeLocalSurface(port->video, 1);
  const uint32_t destination = ORVVideoAllocLocalSurfaceByDim(
      port->video, static_cast<uint32_t>(drwW), static_cast<uint32_t>(drwH),
      screen->bitsPerPixel == 16 ? 16 : 32, 1);
  if (destination == 0) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "can't allocate dest local video memory.\n");
    return BadAlloc;
  }
  const int n = REGION_NUM_RECTS(clipBoxes);
  if (n > port->boxCapacity) {
    auto* grown = static_cast<ORVVideoBox*>(xrealloc(port->boxes, n * sizeof(ORVVideoBox)));
    if (grown == nullptr) {
      ORVVideoFreeLocalSurface(port->video, 1);
      return BadAlloc;
    }
    port->boxes = grown;
    port->boxCapacity = n;
  }
  const BoxRec* boxes = REGION_RECTS(clipBoxes);
  for (int i = 0; i < n; ++i) {
    const BoxRec& b = boxes[i];
    port->boxes[i] = ORVVideoBox{b.x1, b.y1, left + b.x1 - dst.x1, top + b.y1 - dst.y1, b.x2 - b.x1,
                                 b.y2 - b.y1};
  }
  const bool rotated = rec->shadowRotate != 0 || rec->hwRotate != 0;
  const int primaryPitch = Align32(rotated ? screen->virtualY : screen->virtualX);
  ORVVideoHWScalerDisplay(port->video, static_cast<uint32_t>(surface->id), port->srcHalf[0], 0, 0,
                          surface->width, surface->height, destination, 0, kVideoPostPrimary,
                          static_cast<uint32_t>(drwW), static_cast<uint32_t>(drwH),
                          screen->depth == 16 ? kScaledFormat16 : kScaledFormat, rec->fbOffset,
                          static_cast<uint32_t>(primaryPitch), static_cast<uint32_t>(n),
                          port->boxes);
  return Success;
}

int ORVStopSurface(XF86SurfacePtr surface) {
  auto* port = static_cast<ORVPortPrivPtr>(surface->devPrivate.ptr);
  ORVVideoStopHWScaler(port->video, 0);
  return Success;
}

int ORVFreeSurface(XF86SurfacePtr surface) {
  auto* port = static_cast<ORVPortPrivPtr>(surface->devPrivate.ptr);
  if (port == nullptr) return Success;
  ReleasePort(surface->pScrn, port);
  if (surface->pitches != nullptr) xfree(surface->pitches);
  if (surface->offsets != nullptr) xfree(surface->offsets);
  surface->pitches = surface->offsets = nullptr;
  surface->devPrivate.ptr = nullptr;
  return Success;
}
