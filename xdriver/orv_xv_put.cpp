// Putting images on a port: clipping and scaling, the overlay's registers,
// the overlay and blitting paths, and stopping a port.
#include <string.h>

#include <algorithm>

#include "core/client_services.h"
#include "core/regs/overlay.h"
#include "platform/xserver/xaa.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xv.h"

namespace {

constexpr int kFixedShift = 16;  // source spans are 16.16
constexpr int64_t kStepBias = 0x4000;
// Destination formats of the frame: the overlay's buffer and the blitting
// adaptor's pyramid, by depth.
constexpr uint32_t kOverlayFrameFormat16 = 40;
constexpr uint32_t kOverlayFrameFormat = 50;
constexpr uint32_t kBlitFormat16 = 32;
constexpr uint32_t kBlitFormat = 50;
// The overlay's frames as video buffers on a merged desktop.
constexpr int32_t kMergedVideoKind = 2;

constexpr int Align32(int v) { return (v + 31) & ~31; }
constexpr int64_t Align32(int64_t v) { return (v + 31) & ~int64_t{31}; }
constexpr int Align64(int v) { return (v + 63) & ~63; }

// A request's numbers as the client sent them: coordinates INT16, sizes CARD16.
struct PutArgs {
  int srcX, srcY, drwX, drwY;
  int srcW, srcH, drwW, drwH;
  int id;
  const unsigned char* buf;
  int width, height;
};

PutArgs Args(short src_x, short src_y, short drw_x, short drw_y, short src_w, short src_h,
             short drw_w, short drw_h, int id, const unsigned char* buf, short width, short height) {
  auto size = [](short v) { return static_cast<int>(static_cast<unsigned short>(v)); };
  return PutArgs{src_x,       src_y,       drw_x, drw_y, size(src_w), size(src_h),
                 size(drw_w), size(drw_h), id,    buf,   size(width), size(height)};
}

// What a frame must have before anything is allocated: a destination of
// more than one pixel each way (else Success, nothing shown), a source of
// some size (likewise), an image the adaptor takes and a destination the
// engine can draw. Answers whether to go on, with the status otherwise.
bool Acceptable(const PutArgs& a, int* status) {
  *status = Success;
  if (a.drwW <= 1 || a.drwH <= 1 || a.srcW == 0 || a.srcH == 0) return false;
  if (a.width > kOrvXvMaxSize || a.height > kOrvXvMaxSize || a.drwW > kOrvXvMaxDestination ||
      a.drwH > kOrvXvMaxDestination) {
    *status = BadValue;
    return false;
  }
  return true;
}

int EnsureSystemBuffer(ScrnInfoPtr screen, ORVPortPrivPtr port, int64_t bytes) {
  if (port->systemSize >= bytes) return Success;
  if (port->systemPtr != nullptr) {
    // The engine may still read a frame from the old buffer: when that does
    // not end in time the frame is given up and the buffer kept as it is.
    if (!ORVVideoFramesDone(port->video)) return BadAlloc;
    ORVVideoFreeSystemMem(port->video, port->systemPtr, port->systemKind);
    port->systemPtr = nullptr;
  }
  port->systemKind = ORVVideoAllocSystemMem(port->video, static_cast<uint32_t>(bytes),
                                            &port->systemPtr, &port->systemBus);
  if (port->systemKind == kVideoMemNone) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "can't allocate video system memory.\n");
    port->systemSize = 0;
    port->systemPtr = nullptr;
    return BadAlloc;
  }
  port->systemSize = static_cast<int32_t>(bytes);
  return Success;
}

// A source span in whole pixels of another width, back in 16.16.
int64_t RescaleFixed(int64_t v, int num, int den) {
  return static_cast<int64_t>(static_cast<double>(v) / (1 << kFixedShift) * num / den)
         << kFixedShift;
}
// The same in whole pixels.
int32_t RescalePixels(int64_t v, int num, int den) {
  return static_cast<int32_t>(static_cast<double>(v) / (1 << kFixedShift) * num / den);
}

// Clips dst to `view` (x2, y2 exclusive), moving the source span along.
void ClipToBox(OrvXvBox* dst, int64_t* x1, int64_t* x2, int64_t* y1, int64_t* y2, int64_t hscale,
               int64_t vscale, const OrvXvBox& view) {
  if (dst->x1 < view.x1) {
    *x1 += (view.x1 - dst->x1) * hscale;
    dst->x1 = view.x1;
  }
  if (dst->x2 > view.x2) {
    *x2 -= (dst->x2 - view.x2) * hscale;
    dst->x2 = view.x2;
  }
  if (dst->y1 < view.y1) {
    *y1 += (view.y1 - dst->y1) * vscale;
    dst->y1 = view.y1;
  }
  if (dst->y2 > view.y2) {
    *y2 -= (dst->y2 - view.y2) * vscale;
    dst->y2 = view.y2;
  }
}

// Cuts the source span to [0, size << 16], moving dst by whole steps.
bool ClipSpan(int32_t* d1, int32_t* d2, int64_t* s1, int64_t* s2, int64_t scale, int size) {
  const int64_t limit = int64_t{size} << kFixedShift;
  if (*s1 < 0) {
    const int64_t d = (scale - *s1 - 1) / scale;
    *d1 += static_cast<int32_t>(d);
    *s1 += d * scale;
  }
  if (*s2 > limit) {
    const int64_t d = (*s2 - limit + scale - 1) / scale;
    *d2 -= static_cast<int32_t>(d);
    *s2 -= d * scale;
  }
  return *s1 < *s2 && *d1 < *d2;
}

// The scales of the source span over dst; false when either is 0 (a source
// or destination of no size shows nothing).
bool Scales(const OrvXvBox& dst, int64_t x1, int64_t x2, int64_t y1, int64_t y2, int64_t* hscale,
            int64_t* vscale) {
  const int64_t w = int64_t{dst.x2} - dst.x1, h = int64_t{dst.y2} - dst.y1;
  if (w <= 0 || h <= 0) return false;
  *hscale = (x2 - x1) / w;
  *vscale = (y2 - y1) / h;
  return *hscale > 0 && *vscale > 0;
}

BoxRec ToBox(const OrvXvBox& b) {
  return BoxRec{static_cast<short>(b.x1), static_cast<short>(b.y1), static_cast<short>(b.x2),
                static_cast<short>(b.y2)};
}

bool SameRegion(RegionPtr a, RegionPtr b) {
  const int n = REGION_NUM_RECTS(a);
  return n == REGION_NUM_RECTS(b) &&
         (n == 0 || memcmp(REGION_RECTS(a), REGION_RECTS(b), n * sizeof(BoxRec)) == 0);
}

void WriteHeadReg(ORVRec* rec, uint32_t reg, uint32_t head, uint32_t value) {
  ClientWriteRegisterDword(rec->pBoard, OverlayReg(reg, head), value);
}

// The colour key over the port's clip boxes, when they changed.
void PaintColorKey(ScrnInfoPtr screen, ORVPortPrivPtr port, RegionPtr clipBoxes) {
  if (SameRegion(&port->clip, clipBoxes)) return;
  REGION_COPY(screen->pScreen, &port->clip, clipBoxes);
  if (ORVPTR(screen)->noAccel) {
    xf86XVFillKeyHelper(screen->pScreen, port->colorKey, clipBoxes);
  } else {
    XAAFillSolidRects(screen, static_cast<int>(port->colorKey), GXcopy, ~0u,
                      REGION_NUM_RECTS(clipBoxes), REGION_RECTS(clipBoxes));
  }
}

// The upload of the frame in the system buffer's half `index` into the
// source half: one plane, or the luma and the two chroma planes.
void Upload(ORVPortPrivPtr port, int id, int index, int size, int pitch, int height) {
  const uint64_t from = port->systemBus + static_cast<uint64_t>(index) * size;
  const uint32_t to = port->srcHalf[index];
  ORVVideoSystem2Local(port->video, id, from, to, pitch, height, port->systemKind);
  if (!VideoIsPlanar(static_cast<uint32_t>(id))) return;
  int pitches[3], offsets[3];
  ORVQueryImageSize(id, pitch, height, pitches, offsets);
  const uint32_t chromaPitch = ((pitch >> 1) + 31) & ~31;
  for (int plane = 1; plane <= 2; ++plane) {
    ORVVideoSystem2Local(port->video, id, from + offsets[plane], to + offsets[plane], chromaPitch,
                         height / 2, port->systemKind);
  }
}

// A frame as far as both paths take it alike: the request's numbers, the
// pitch and size of the image, the system buffer, and the destination and
// source span clipped (16.16 source).
struct Frame {
  PutArgs a;
  int pitch;
  int size;
  OrvXvBox dst;
  int64_t x1, x2, y1, y2;
};

// Fills the frame; answers whether to draw it, with the status otherwise
// (Success for a frame that shows nothing).
bool StartFrame(ScrnInfoPtr screen, ORVPortPrivPtr port, const PutArgs& a, RegionPtr clipBoxes,
                Frame* f, int* status) {
  if (!Acceptable(a, status)) return false;
  f->a = a;
  f->pitch = Align32(a.width);
  f->size = ORVQueryImageSize(a.id, f->pitch, a.height, nullptr, nullptr);
  if ((*status = EnsureSystemBuffer(screen, port, 2 * int64_t{f->size})) != Success) return false;
  f->dst = OrvXvBox{a.drwX, a.drwY, a.drwX + a.drwW, a.drwY + a.drwH};
  f->x1 = a.srcX;
  f->x2 = int64_t{a.srcX} + a.srcW;
  f->y1 = a.srcY;
  f->y2 = int64_t{a.srcY} + a.srcH;
  return ORVClipVideo(screen, &f->dst, &f->x1, &f->x2, &f->y1, &f->y2, clipBoxes, a.width,
                      a.height);
}

// A video-memory buffer of two halves in the slot, allocated anew only when
// the recorded size is smaller; a failure records size 0.
int EnsureHalves(ScrnInfoPtr screen, ORVPortPrivPtr port, uint32_t slot, uint32_t halfBytes,
                 int32_t* recorded, uint32_t halves[2], const char* failure, bool* fresh) {
  *fresh = false;
  if (*recorded >= 2 * int64_t{halfBytes}) return Success;
  const uint32_t base = ORVVideoAllocLocalSurface(port->video, 2 * halfBytes, slot);
  if (base == 0) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "%s", failure);
    *recorded = 0;
    return BadAlloc;
  }
  *recorded = static_cast<int32_t>(2 * halfBytes);
  halves[0] = base;
  halves[1] = base + halfBytes;
  *fresh = true;
  return Success;
}

constexpr char kDestFailure[] = "can't allocate dest local video memory.\n";
constexpr char kSourceFailure[] = "can't allocate src local video memory.\n";

}  // namespace

bool ORVClipVideo(ScrnInfoPtr, OrvXvBox* dst, int64_t* x1, int64_t* x2, int64_t* y1,
                  int64_t* y2, RegionPtr region, int width, int height) {
  *x1 <<= kFixedShift;
  *x2 <<= kFixedShift;
  *y1 <<= kFixedShift;
  *y2 <<= kFixedShift;
  int64_t hscale, vscale;
  if (!Scales(*dst, *x1, *x2, *y1, *y2, &hscale, &vscale)) return false;
  const BoxRec* ext = REGION_EXTENTS(nullptr, region);
  ClipToBox(dst, x1, x2, y1, y2, hscale, vscale, OrvXvBox{ext->x1, ext->y1, ext->x2, ext->y2});
  if (!ClipSpan(&dst->x1, &dst->x2, x1, x2, hscale, width)) return false;
  if (!ClipSpan(&dst->y1, &dst->y2, y1, y2, vscale, height)) return false;
  if (dst->x1 != ext->x1 || dst->y1 != ext->y1 || dst->x2 != ext->x2 || dst->y2 != ext->y2) {
    BoxRec box = ToBox(*dst);
    RegionRec cut;
    REGION_INIT(nullptr, &cut, &box, 1);
    REGION_INTERSECT(nullptr, region, region, &cut);
    REGION_UNINIT(nullptr, &cut);
  }
  return true;
}

bool ORVClipToViewport(OrvXvBox* dst, int64_t* x1, int64_t* x2, int64_t* y1, int64_t* y2,
                       int width, int height, const OrvXvBox& view) {
  int64_t hscale, vscale;
  if (!Scales(*dst, *x1, *x2, *y1, *y2, &hscale, &vscale)) return false;
  ClipToBox(dst, x1, x2, y1, y2, hscale, vscale, view);
  return ClipSpan(&dst->x1, &dst->x2, x1, x2, hscale, width) &&
         ClipSpan(&dst->y1, &dst->y2, y1, y2, vscale, height);
}

void ORVDisplayVideo(ScrnInfoPtr screen, ORVPortPrivPtr port, uint32_t head, int64_t x1,
                     int64_t x2, int64_t y1, int64_t y2, const OrvXvBox& dst, uint32_t width) {
  ORVRec* rec = ORVPTR(screen);
  ORVVideoInvalidate(port->video);
  REGION_EMPTY(screen->pScreen, &port->clip);  // the key is painted again
  const int64_t span = int64_t{dst.x2} - dst.x1 - 1;
  const int64_t step = ((x2 >> 2) - (x1 >> 2) - kStepBias) / span;
  const uint32_t format = screen->depth == 16 ? kOverlayFormat16 : kOverlayFormat32;
  WriteHeadReg(rec, kRegOverlayControl, head, kOverlayOff);
  WriteHeadReg(rec, kRegOverlayStep, head, static_cast<uint32_t>(step * 4) & kOverlayStepMask);
  WriteHeadReg(rec, kRegOverlaySourceWidth, head, (width - 1) << 16);
  WriteHeadReg(rec, kRegOverlaySourceStart, head, static_cast<uint32_t>(x1) & kOverlaySourceMask);
  WriteHeadReg(rec, kRegOverlaySourceEnd, head,
               static_cast<uint32_t>((span * step + (x1 >> 2)) * 4) & kOverlaySourceMask);
  WriteHeadReg(rec, kRegOverlayLineStart, head, static_cast<uint32_t>(y1 >> kFixedShift));
  WriteHeadReg(rec, kRegOverlayLineEnd, head, static_cast<uint32_t>(y2 >> kFixedShift));
  WriteHeadReg(rec, kRegOverlayKeyLow, head, 0);
  WriteHeadReg(rec, kRegOverlayKeyHigh, head, kOverlayKeyHighValue);
  WriteHeadReg(rec, kRegOverlayFormat, head, width | format << 24 | kOverlayFormatLayout);
  uint32_t timing = 0;
  ClientReadRegisterDword(rec->pBoard, OverlayReg(kRegOverlayTiming, head), &timing);
  WriteHeadReg(rec, kRegOverlayWindowX, head,
               static_cast<uint32_t>(dst.x1) | static_cast<uint32_t>(dst.x2 - 1) << 16);
  WriteHeadReg(rec, kRegOverlayWindowY, head,
               static_cast<uint32_t>(dst.y1) | static_cast<uint32_t>(dst.y2 - 1) << 16);
  WriteHeadReg(rec, kRegOverlayLatch, head, (timing & kOverlayTimingKeep) + 1);
  WriteHeadReg(rec, kRegOverlayControl, head, kOverlayOn);
  WriteHeadReg(rec, kRegOverlayBlendControl, head, 0);
  WriteHeadReg(rec, kRegOverlayBlend0, head, kOverlayBlendWeights);
  WriteHeadReg(rec, kRegOverlayBlend1, head, kOverlayBlendWeights);
  WriteHeadReg(rec, kRegOverlayBlendControl, head, kOverlayBlendOn);
}

int ORVPutImageOverlay(ScrnInfoPtr screen, short src_x, short src_y, short drw_x, short drw_y,
                       short src_w, short src_h, short drw_w, short drw_h, int id,
                       unsigned char* buf, short width, short height, Bool, RegionPtr clipBoxes,
                       pointer data) {
  auto* port = static_cast<ORVPortPrivPtr>(data);
  ORVRec* rec = ORVPTR(screen);
  Frame f;
  int status;
  if (!StartFrame(screen, port,
                  Args(src_x, src_y, drw_x, drw_y, src_w, src_h, drw_w, drw_h, id, buf, width,
                       height),
                  clipBoxes, &f, &status))
    return status;
  const PutArgs& a = f.a;
  const int pitch = f.pitch, size = f.size;
  OrvXvBox dst = f.dst;
  int64_t x1 = f.x1, x2 = f.x2, y1 = f.y1, y2 = f.y2;
  // The overlay's window is relative to the viewport.
  dst.x1 -= screen->frameX0;
  dst.x2 -= screen->frameX0;
  dst.y1 -= screen->frameY0;
  dst.y2 -= screen->frameY0;

  // The destination buffer's width: the source's pitch, or the drawable's
  // width in steps of 64 when that is smaller (never below 64, or the pitch).
  int destWidth = pitch;
  if (a.drwW < pitch) {
    destWidth = std::max(a.drwW & ~63, std::min(64, pitch));
    x1 = RescaleFixed(x1, destWidth, pitch);
    x2 = RescaleFixed(x2, destWidth, pitch);
  }
  y1 = RescaleFixed(y1, a.drwH, a.height);
  y2 = RescaleFixed(y2, a.drwH, a.height);

  const uint32_t halfBytes = 4u * destWidth * Align64(a.drwH);
  bool fresh;
  if ((status = EnsureHalves(screen, port, 0, halfBytes, &port->dstSize, port->dstHalf,
                             kDestFailure, &fresh)) != Success)
    return status;
  if (fresh) {
    WriteHeadReg(rec, kRegOverlayBuffer0, rec->head, port->dstHalf[0]);
    WriteHeadReg(rec, kRegOverlayBuffer1, rec->head, port->dstHalf[1]);
    if (rec->merged) {
      WriteHeadReg(rec, kRegOverlayBuffer0, 1, port->dstHalf[0]);
      WriteHeadReg(rec, kRegOverlayBuffer1, 1, port->dstHalf[1]);
    }
  }
  if ((status = EnsureHalves(screen, port, 1, static_cast<uint32_t>(size), &port->srcSize,
                             port->srcHalf, kSourceFailure, &fresh)) != Success)
    return status;

  port->bufferIndex ^= 1;
  const int index = port->bufferIndex;
  int pitches[3] = {}, offsets[3] = {};
  ORVQueryImageSize(id, pitch, a.height, pitches, offsets);

  const bool moved = dst.x1 != port->lastBox[0] || dst.y1 != port->lastBox[1] ||
                     dst.x2 != port->lastBox[2] || dst.y2 != port->lastBox[3];
  if (moved) {
    port->lastBox[0] = static_cast<int16_t>(dst.x1);
    port->lastBox[1] = static_cast<int16_t>(dst.y1);
    port->lastBox[2] = static_cast<int16_t>(dst.x2);
    port->lastBox[3] = static_cast<int16_t>(dst.y2);
    OrvXvBox shown = dst;
    int64_t sx1 = x1, sx2 = x2, sy1 = y1, sy2 = y2;
    bool visible = true;
    if (rec->merged) {
      // The first head's part, relative to its viewport.
      const OrvXvBox view{rec->head1Frame[0], rec->head1Frame[1], rec->head1Frame[2] + 1,
                          rec->head1Frame[3] + 1};
      visible = ORVClipToViewport(&shown, &sx1, &sx2, &sy1, &sy2, destWidth, a.drwH, view);
      shown.x1 -= view.x1;
      shown.x2 -= view.x1;
      shown.y1 -= view.y1;
      shown.y2 -= view.y1;
    }
    if (visible && shown.x2 - shown.x1 > 1) {
      ORVDisplayVideo(screen, port, static_cast<uint32_t>(rec->head), sx1, sx2, sy1, sy2, shown,
                      static_cast<uint32_t>(destWidth));
    }
    if (rec->merged && rec->aux[0] != nullptr) {
      // The second head's part, relative to its frame.
      const ScrnInfoRec* second = rec->aux[0];
      const OrvXvBox view{second->frameX0, second->frameY0, second->frameX1 + 1,
                          second->frameY1 + 1};
      shown = dst;
      sx1 = x1, sx2 = x2, sy1 = y1, sy2 = y2;
      if (ORVClipToViewport(&shown, &sx1, &sx2, &sy1, &sy2, destWidth, a.drwH, view)) {
        shown.x1 -= view.x1;
        shown.x2 -= view.x1;
        shown.y1 -= view.y1;
        shown.y2 -= view.y1;
        if (shown.x2 - shown.x1 > 1)
          ORVDisplayVideo(screen, port, 1, sx1, sx2, sy1, sy2, shown, static_cast<uint32_t>(destWidth));
      }
    }
  }

  // The engine may still read the half's last frame: when it does not
  // finish in time the frame is given up, the half left as it is.
  if (!ORVVideoWait(port->video, static_cast<uint32_t>(index))) return BadAlloc;
  memcpy(static_cast<uint8_t*>(port->systemPtr) + static_cast<size_t>(index) * size, a.buf, size);
  Upload(port, id, index, size, pitch, a.height);
  const uint32_t source = port->srcHalf[index];
  ORVVideoDisplay(port->video, static_cast<uint32_t>(id), source, source + offsets[2],
                  source + offsets[1], static_cast<uint32_t>(pitch),
                  static_cast<uint32_t>(a.height), port->dstHalf[index],
                  static_cast<uint32_t>(index), rec->merged ? kMergedVideoKind : rec->head,
                  static_cast<uint32_t>(destWidth), static_cast<uint32_t>(a.drwH),
                  screen->depth == 16 ? kOverlayFrameFormat16 : kOverlayFrameFormat);
  PaintColorKey(screen, port, clipBoxes);
  return Success;
}

int ORVPutImageBlit(ScrnInfoPtr screen, short src_x, short src_y, short drw_x, short drw_y,
                    short src_w, short src_h, short drw_w, short drw_h, int id,
                    unsigned char* buf, short width, short height, Bool, RegionPtr clipBoxes,
                    pointer data) {
  auto* port = static_cast<ORVPortPrivPtr>(data);
  ORVRec* rec = ORVPTR(screen);
  // dst stays in screen coordinates, as the clip boxes are: the frame is
  // copied out of the destination at each box's place in it.
  Frame f;
  int status;
  if (!StartFrame(screen, port,
                  Args(src_x, src_y, drw_x, drw_y, src_w, src_h, drw_w, drw_h, id, buf, width,
                       height),
                  clipBoxes, &f, &status))
    return status;
  const PutArgs& a = f.a;
  const int pitch = f.pitch, size = f.size;
  const OrvXvBox& dst = f.dst;
  const int64_t x1 = f.x1, y1 = f.y1;
  const int32_t left = RescalePixels(x1, a.drwW, a.width);
  const int32_t top = RescalePixels(y1, a.drwH, a.height);

  // The destination and its smaller copies, halving down to 16 pixels.
  const int64_t bytesPerPixel = screen->depth == 16 ? 2 : 4;
  int64_t pyramid = 0;
  for (int64_t w = a.drwW, h = a.drwH; std::max(w, h) > 1 && (w > 16 || h > 16);) {
    pyramid += (h < 33 ? 32 : Align32(h)) * Align32(w) * bytesPerPixel;
    w = std::max<int64_t>(w / 2, 1);
    h = std::max<int64_t>(h / 2, 1);
  }
  bool fresh;
  if ((status = EnsureHalves(screen, port, 1, static_cast<uint32_t>(pyramid), &port->dstSize,
                             port->dstHalf, kDestFailure, &fresh)) != Success)
    return status;
  if ((status = EnsureHalves(screen, port, 0, static_cast<uint32_t>(size), &port->srcSize,
                             port->srcHalf, kSourceFailure, &fresh)) != Success)
    return status;

  // Always the first halves: the engine must be done with the last frame
  // before the system buffer is written again.
  port->bufferIndex = 0;
  if (!ORVVideoWait(port->video, 0)) return BadAlloc;
  memcpy(port->systemPtr, a.buf, size);
  Upload(port, id, 0, size, pitch, a.height);
  int pitches[3] = {}, offsets[3] = {};
  ORVQueryImageSize(id, pitch, a.height, pitches, offsets);
  const uint32_t source = port->srcHalf[0];
  const uint32_t format = screen->depth == 16 ? kBlitFormat16 : kBlitFormat;
  ORVVideoDisplay(port->video, static_cast<uint32_t>(id), source, source + offsets[2],
                  source + offsets[1], static_cast<uint32_t>(a.width),
                  static_cast<uint32_t>(a.height), port->dstHalf[0], 0, kVideoPostPrimary,
                  static_cast<uint32_t>(a.drwW), static_cast<uint32_t>(a.drwH), format);
  const int primaryPitch = Align32(rec->shadowRotate ? screen->virtualY : screen->virtualX);
  const int n = REGION_NUM_RECTS(clipBoxes);
  const BoxRec* boxes = REGION_RECTS(clipBoxes);
  for (int i = 0; i < n; ++i) {
    const BoxRec& b = boxes[i];
    ORVVideoBlit(port->video, rec->fbOffset, static_cast<uint32_t>(primaryPitch), format, b.x1,
                 b.y1, port->dstHalf[0], static_cast<uint32_t>(a.drwW), left + b.x1 - dst.x1,
                 top + b.y1 - dst.y1, b.x2 - b.x1, b.y2 - b.y1);
  }
  return Success;
}

void ORVStopVideo(ScrnInfoPtr screen, pointer data, Bool exit) {
  auto* port = static_cast<ORVPortPrivPtr>(data);
  REGION_EMPTY(screen->pScreen, &port->clip);
  if (exit) ORVFreePortBuffers(port);
}
