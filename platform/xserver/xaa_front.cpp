#include "platform/xserver/xaa_front.h"

#include <string.h>

#include <algorithm>

#include "platform/board/chip_2d.h"
#include "platform/xserver/server_state.h"
#include "platform/xserver/xf86_server.h"

namespace xstub {

namespace {

bool Intersect(const BoxRec& a, const BoxRec& b, BoxRec* out) {
  const short x1 = std::max(a.x1, b.x1), y1 = std::max(a.y1, b.y1);
  const short x2 = std::min(a.x2, b.x2), y2 = std::min(a.y2, b.y2);
  if (x1 >= x2 || y1 >= y2) return false;
  *out = BoxRec{x1, y1, x2, y2};
  return true;
}

bool Inside(const BoxRec& outer, const BoxRec& inner) {
  return inner.x1 >= outer.x1 && inner.y1 >= outer.y1 && inner.x2 <= outer.x2 &&
         inner.y2 <= outer.y2;
}

BoxRec Box(int x1, int y1, int x2, int y2) {
  return BoxRec{static_cast<short>(x1), static_cast<short>(y1), static_cast<short>(x2),
                static_cast<short>(y2)};
}

// The X protocol's GC functions.
uint32_t ApplyAlu(int alu, uint32_t s, uint32_t d) {
  switch (alu & 0xF) {
    case GXclear: return 0;
    case GXand: return s & d;
    case GXandReverse: return s & ~d;
    case GXcopy: return s;
    case GXandInverted: return ~s & d;
    case GXnoop: return d;
    case GXxor: return s ^ d;
    case GXor: return s | d;
    case GXnor: return ~(s | d);
    case GXequiv: return ~(s ^ d);
    case GXinvert: return ~d;
    case GXorReverse: return s | ~d;
    case GXcopyInverted: return ~s;
    case GXorInverted: return ~s | d;
    case GXnand: return ~(s & d);
    default: return 0xFFFFFFFF;
  }
}

uint8_t Reverse8(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1 << i)) r |= static_cast<uint8_t>(0x80 >> i);
  return r;
}

}  // namespace

XaaFront::XaaFront(ScreenPtr screen)
    : screen_(screen),
      scrn_(xf86Screens[screen->myNum]),
      info_(XAAGetInfoRec(screen)),
      pixmap_(fbGetScreenPixmap(screen)) {}

std::vector<BoxRec> XaaFront::ClipBoxes(const XaaGC& gc) const {
  const int width = screen_->width != 0 ? screen_->width : scrn_->virtualX;
  const int height = screen_->height != 0 ? screen_->height : scrn_->virtualY;
  const BoxRec whole = Box(0, 0, width, height);
  if (gc.clip.empty()) return {whole};
  std::vector<BoxRec> boxes;
  for (const BoxRec& b : gc.clip) {
    BoxRec in;
    if (Intersect(b, whole, &in)) boxes.push_back(in);
  }
  return boxes;
}

bool XaaFront::Takes(int flags, const XaaGC& gc, bool transparent) const {
  const uint32_t depthMask = scrn_->depth >= 32 ? 0xFFFFFFFFu : (1u << scrn_->depth) - 1;
  if ((flags & GXCOPY_ONLY) && gc.alu != GXcopy) return false;
  if ((flags & NO_GXCOPY) && gc.alu == GXcopy) return false;
  if ((flags & NO_PLANEMASK) && (gc.planemask & depthMask) != depthMask) return false;
  if ((flags & NO_TRANSPARENCY) && transparent) return false;
  if ((flags & TRANSPARENCY_ONLY) && !transparent) return false;
  return true;
}

void XaaFront::Sync() {
  if (info_ != nullptr && info_->NeedToSync && info_->Sync != nullptr) {
    info_->Sync(scrn_);
    info_->NeedToSync = FALSE;
  }
}

// ---- Software drawing -----------------------------------------------------------------------

bool XaaFront::SoftInClip(const std::vector<BoxRec>& clip, int x, int y) const {
  for (const BoxRec& b : clip)
    if (x >= b.x1 && x < b.x2 && y >= b.y1 && y < b.y2) return true;
  return false;
}

void XaaFront::SoftPixel(int x, int y, uint32_t source, const XaaGC& gc) {
  if (pixmap_ == nullptr || x < 0 || y < 0 || x >= pixmap_->width || y >= pixmap_->height) return;
  const int bytes = pixmap_->bitsPerPixel / 8;
  uint8_t* at = static_cast<uint8_t*>(pixmap_->devPrivate) + static_cast<size_t>(y) * pixmap_->devKind +
                static_cast<size_t>(x) * bytes;
  uint32_t d = 0;
  memcpy(&d, at, static_cast<size_t>(bytes));
  const uint32_t r = ApplyAlu(gc.alu, source, d);
  const uint32_t out = (r & gc.planemask) | (d & ~gc.planemask);
  memcpy(at, &out, static_cast<size_t>(bytes));
  const BoxRec pixel = Box(x, y, x + 1, y + 1);
  if (!dirty_) {
    damage_ = pixel;
    dirty_ = true;
  } else {
    damage_ = Box(std::min(damage_.x1, pixel.x1), std::min(damage_.y1, pixel.y1),
                  std::max(damage_.x2, pixel.x2), std::max(damage_.y2, pixel.y2));
  }
}

void XaaFront::FlushDamage() {
  if (!dirty_) return;
  dirty_ = false;
  detail::ShadowDamage(screen_, {damage_});
}

uint32_t XaaFront::SoftRead(int x, int y) const {
  if (pixmap_ == nullptr || x < 0 || y < 0 || x >= pixmap_->width || y >= pixmap_->height) return 0;
  const int bytes = pixmap_->bitsPerPixel / 8;
  uint32_t v = 0;
  memcpy(&v, static_cast<uint8_t*>(pixmap_->devPrivate) + static_cast<size_t>(y) * pixmap_->devKind +
                 static_cast<size_t>(x) * bytes,
         static_cast<size_t>(bytes));
  return v;
}

void XaaFront::SoftLine(const XaaGC& gc, const XaaSegment& s, bool capNotLast,
                        const std::vector<BoxRec>& clip) {
  Sync();
  // The pixels the board's 2D engine draws for the same line.
  orvsim::ForEachLinePixel(s.x1, s.y1, s.x2, s.y2, !capNotLast, [&](int x, int y) {
    if (SoftInClip(clip, x, y)) SoftPixel(x, y, gc.fg, gc);
  });
}

// ---- Requests -------------------------------------------------------------------------------

void XaaFront::FillRects(const XaaGC& gc, const std::vector<BoxRec>& rects) {
  Batch batch(this);
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  std::vector<BoxRec> boxes;
  for (const BoxRec& r : rects) {
    for (const BoxRec& c : clip) {
      BoxRec in;
      if (Intersect(r, c, &in)) boxes.push_back(in);
    }
  }
  if (boxes.empty()) return;
  if (info_ != nullptr && info_->FillSolidRects != nullptr && Takes(info_->FillSolidRectsFlags, gc, false)) {
    info_->FillSolidRects(scrn_, static_cast<int>(gc.fg), gc.alu, gc.planemask,
                          static_cast<int>(boxes.size()), boxes.data());
    info_->NeedToSync = TRUE;
    return;
  }
  if (info_ != nullptr && info_->SetupForSolidFill != nullptr && info_->SubsequentSolidFillRect != nullptr &&
      Takes(info_->SolidFillFlags, gc, false)) {
    XAAFillSolidRects(scrn_, static_cast<int>(gc.fg), gc.alu, gc.planemask,
                      static_cast<int>(boxes.size()), boxes.data());
    return;
  }
  Sync();
  for (const BoxRec& b : boxes)
    for (int y = b.y1; y < b.y2; ++y)
      for (int x = b.x1; x < b.x2; ++x) SoftPixel(x, y, gc.fg, gc);
}

void XaaFront::FillSpans(const XaaGC& gc, const std::vector<DDXPointRec>& points,
                         const std::vector<int>& widths, bool sorted) {
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  // The spans as XAA clips them itself.
  std::vector<DDXPointRec> clippedPoints;
  std::vector<int> clippedWidths;
  bool crosses = false;
  for (size_t i = 0; i < points.size() && i < widths.size(); ++i) {
    const BoxRec span = Box(points[i].x, points[i].y, points[i].x + widths[i], points[i].y + 1);
    bool whole = false;
    for (const BoxRec& c : clip) {
      BoxRec in;
      if (!Intersect(span, c, &in)) continue;
      whole |= Inside(c, span);
      clippedPoints.push_back(DDXPointRec{in.x1, in.y1});
      clippedWidths.push_back(in.x2 - in.x1);
    }
    crosses |= !whole;
  }
  if (info_ != nullptr && info_->FillSolidSpans != nullptr && Takes(info_->FillSolidSpansFlags, gc, false)) {
    // One clip rectangle: the spans go over whole, with the box to clip to.
    BoxRec box = clip.empty() ? BoxRec{0, 0, 0, 0} : clip[0];
    if (clip.size() == 1 && crosses) {
      std::vector<DDXPointRec> p(points.begin(), points.end());
      std::vector<int> w(widths.begin(), widths.end());
      info_->ClipBox = &box;
      info_->FillSolidSpans(scrn_, static_cast<int>(gc.fg), gc.alu, gc.planemask,
                            static_cast<int>(p.size()), p.data(), w.data(), sorted);
      info_->ClipBox = nullptr;
    } else if (!clippedPoints.empty()) {
      info_->FillSolidSpans(scrn_, static_cast<int>(gc.fg), gc.alu, gc.planemask,
                            static_cast<int>(clippedPoints.size()), clippedPoints.data(),
                            clippedWidths.data(), sorted);
    }
    info_->NeedToSync = TRUE;
    return;
  }
  std::vector<BoxRec> boxes;
  for (size_t i = 0; i < clippedPoints.size(); ++i) {
    boxes.push_back(Box(clippedPoints[i].x, clippedPoints[i].y,
                        clippedPoints[i].x + clippedWidths[i], clippedPoints[i].y + 1));
  }
  XaaGC unclipped = gc;
  unclipped.clip.clear();
  if (!boxes.empty()) FillRects(unclipped, boxes);
}

void XaaFront::FillStippled(const XaaGC& gc, const std::vector<BoxRec>& rects, bool opaque) {
  Batch batch(this);
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  const int flags = info_ != nullptr ? info_->Mono8x8PatternFillFlags : 0;
  const bool hooks = info_ != nullptr && info_->SetupForMono8x8PatternFill != nullptr &&
                     info_->SubsequentMono8x8PatternFillRect != nullptr &&
                     (flags & HARDWARE_PATTERN_PROGRAMMED_BITS) &&
                     (flags & HARDWARE_PATTERN_PROGRAMMED_ORIGIN) && Takes(flags, gc, !opaque);
  if (hooks) {
    uint32_t words[2] = {0, 0};
    for (int r = 0; r < 8; ++r) {
      const uint8_t row = (flags & BIT_ORDER_IN_BYTE_MSBFIRST) ? Reverse8(gc.stipple[r]) : gc.stipple[r];
      words[r / 4] |= uint32_t{row} << (8 * (r % 4));
    }
    info_->SetupForMono8x8PatternFill(scrn_, static_cast<int>(words[0]), static_cast<int>(words[1]),
                                      static_cast<int>(gc.fg), opaque ? static_cast<int>(gc.bg) : -1,
                                      gc.alu, gc.planemask);
    // The origin: the GC's on the screen, or the offset into the pattern
    // at the rectangle's corner.
    auto origin = [&](int x, int y, int* px, int* py) {
      if (flags & HARDWARE_PATTERN_SCREEN_ORIGIN) {
        *px = gc.stippleX & 7;
        *py = gc.stippleY & 7;
      } else {
        *px = (x - gc.stippleX) & 7;
        *py = (y - gc.stippleY) & 7;
      }
    };
    bool clipped = false;
    for (const BoxRec& r : rects) {
      bool inOne = false;
      for (const BoxRec& c : clip) inOne |= Inside(c, r);
      int px, py;
      if (inOne) {
        origin(r.x1, r.y1, &px, &py);
        info_->SubsequentMono8x8PatternFillRect(scrn_, px, py, r.x1, r.y1, r.x2 - r.x1, r.y2 - r.y1);
        continue;
      }
      for (const BoxRec& c : clip) {
        BoxRec in;
        if (!Intersect(r, c, &in)) continue;
        if (ClippingByHardware(HARDWARE_CLIP_MONO_8x8_FILL)) {
          info_->SetClippingRectangle(scrn_, c.x1, c.y1, c.x2 - 1, c.y2 - 1);
          clipped = true;
          origin(r.x1, r.y1, &px, &py);
          info_->SubsequentMono8x8PatternFillRect(scrn_, px, py, r.x1, r.y1, r.x2 - r.x1, r.y2 - r.y1);
        } else {
          origin(in.x1, in.y1, &px, &py);
          info_->SubsequentMono8x8PatternFillRect(scrn_, px, py, in.x1, in.y1, in.x2 - in.x1,
                                                  in.y2 - in.y1);
        }
      }
    }
    if (clipped) info_->DisableClipping(scrn_);
    info_->NeedToSync = TRUE;
    return;
  }
  Sync();
  for (const BoxRec& r : rects)
    for (int y = r.y1; y < r.y2; ++y)
      for (int x = r.x1; x < r.x2; ++x) {
        if (!SoftInClip(clip, x, y)) continue;
        const bool set = (gc.stipple[(y - gc.stippleY) & 7] >> ((x - gc.stippleX) & 7)) & 1;
        if (set) {
          SoftPixel(x, y, gc.fg, gc);
        } else if (opaque) {
          SoftPixel(x, y, gc.bg, gc);
        }
      }
}

bool XaaFront::ClippingByHardware(int clipFlag) const {
  return info_->SetClippingRectangle != nullptr && info_->DisableClipping != nullptr &&
         (info_->ClippingFlags & clipFlag) != 0;
}

void XaaFront::CopyArea(const XaaGC& gc, int srcx, int srcy, int w, int h, int dstx, int dsty) {
  Batch batch(this);
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  const BoxRec dst = Box(dstx, dsty, dstx + w, dsty + h);
  std::vector<BoxRec> boxes;
  for (const BoxRec& c : clip) {
    BoxRec in;
    if (Intersect(dst, c, &in)) boxes.push_back(in);
  }
  if (boxes.empty()) return;
  const int xdir = srcx < dstx ? -1 : 1;
  const int ydir = srcy < dsty ? -1 : 1;
  // Boxes in the order the copy must run so that none reads what another
  // already wrote.
  std::sort(boxes.begin(), boxes.end(), [&](const BoxRec& a, const BoxRec& b) {
    if (a.y1 != b.y1) return ydir > 0 ? a.y1 < b.y1 : a.y1 > b.y1;
    return xdir > 0 ? a.x1 < b.x1 : a.x1 > b.x1;
  });
  const int dx = srcx - dstx, dy = srcy - dsty;
  if (info_ != nullptr && info_->ScreenToScreenBitBlt != nullptr &&
      Takes(info_->ScreenToScreenBitBltFlags, gc, false)) {
    std::vector<DDXPointRec> sources;
    for (const BoxRec& b : boxes)
      sources.push_back(DDXPointRec{static_cast<short>(b.x1 + dx), static_cast<short>(b.y1 + dy)});
    info_->ScreenToScreenBitBlt(scrn_, static_cast<int>(boxes.size()), sources.data(), boxes.data(),
                                xdir, ydir, gc.alu, gc.planemask);
    info_->NeedToSync = TRUE;
    return;
  }
  if (info_ != nullptr && info_->SetupForScreenToScreenCopy != nullptr &&
      info_->SubsequentScreenToScreenCopy != nullptr &&
      Takes(info_->ScreenToScreenCopyFlags, gc, false)) {
    info_->SetupForScreenToScreenCopy(scrn_, xdir, ydir, gc.alu, gc.planemask, -1);
    for (const BoxRec& b : boxes) {
      info_->SubsequentScreenToScreenCopy(scrn_, b.x1 + dx, b.y1 + dy, b.x1, b.y1, b.x2 - b.x1,
                                          b.y2 - b.y1);
    }
    info_->NeedToSync = TRUE;
    return;
  }
  Sync();
  for (const BoxRec& b : boxes) {
    std::vector<uint32_t> source;
    for (int y = b.y1; y < b.y2; ++y)
      for (int x = b.x1; x < b.x2; ++x) source.push_back(SoftRead(x + dx, y + dy));
    size_t i = 0;
    for (int y = b.y1; y < b.y2; ++y)
      for (int x = b.x1; x < b.x2; ++x) SoftPixel(x, y, source[i++], gc);
  }
}

void XaaFront::Segments(const XaaGC& gc, const std::vector<XaaSegment>& segments, bool capNotLast) {
  Batch batch(this);
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  const bool hooks = info_ != nullptr && info_->SetupForSolidLine != nullptr &&
                     Takes(info_->SolidLineFlags, gc, false);
  bool setUp = false, used = false, clipped = false;
  auto setup = [&] {
    if (!setUp) info_->SetupForSolidLine(scrn_, static_cast<int>(gc.fg), gc.alu, gc.planemask);
    setUp = used = true;
  };
  for (const XaaSegment& s : segments) {
    const bool horizontal = s.y1 == s.y2, vertical = s.x1 == s.x2;
    if (hooks && (horizontal || vertical) && info_->SubsequentSolidHorVertLine != nullptr) {
      // The pixels from the start to the end, the end left out on request,
      // clipped by XAA.
      const int from = horizontal ? s.x1 : s.y1, to = horizontal ? s.x2 : s.y2;
      int a = std::min(from, to), b = std::max(from, to);
      if (capNotLast) (to >= from ? b : a) += to >= from ? -1 : 1;
      if (a > b) continue;
      const BoxRec line = horizontal ? Box(a, s.y1, b + 1, s.y1 + 1) : Box(s.x1, a, s.x1 + 1, b + 1);
      for (const BoxRec& c : clip) {
        BoxRec in;
        if (!Intersect(line, c, &in)) continue;
        setup();
        if (horizontal) {
          info_->SubsequentSolidHorVertLine(scrn_, in.x1, in.y1, in.x2 - in.x1, DEGREES_0);
        } else {
          info_->SubsequentSolidHorVertLine(scrn_, in.x1, in.y1, in.y2 - in.y1, DEGREES_270);
        }
      }
      continue;
    }
    const BoxRec bounds = Box(std::min(s.x1, s.x2), std::min(s.y1, s.y2), std::max(s.x1, s.x2) + 1,
                              std::max(s.y1, s.y2) + 1);
    bool inOne = false;
    for (const BoxRec& c : clip) inOne |= Inside(c, bounds);
    if (hooks && info_->SubsequentSolidTwoPointLine != nullptr &&
        (inOne || ClippingByHardware(HARDWARE_CLIP_SOLID_LINE))) {
      const int flags = capNotLast ? OMIT_LAST : 0;
      if (inOne) {
        setup();
        info_->SubsequentSolidTwoPointLine(scrn_, s.x1, s.y1, s.x2, s.y2, flags);
        continue;
      }
      for (const BoxRec& c : clip) {
        BoxRec in;
        if (!Intersect(bounds, c, &in)) continue;
        setup();
        info_->SetClippingRectangle(scrn_, c.x1, c.y1, c.x2 - 1, c.y2 - 1);
        clipped = true;
        info_->SubsequentSolidTwoPointLine(scrn_, s.x1, s.y1, s.x2, s.y2, flags);
      }
      continue;
    }
    if (used) info_->NeedToSync = TRUE;
    SoftLine(gc, s, capNotLast, clip);
  }
  if (clipped) info_->DisableClipping(scrn_);
  if (used) info_->NeedToSync = TRUE;
}

void XaaFront::PutImage(const XaaGC& gc, int x, int y, int w, int h, const uint8_t* data, int pitch) {
  Batch batch(this);
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  const int bytes = scrn_->bitsPerPixel / 8;
  const BoxRec image = Box(x, y, x + w, y + h);
  const bool hook = info_ != nullptr && info_->WritePixmap != nullptr && Takes(info_->WritePixmapFlags, gc, false);
  if (!hook) Sync();
  for (const BoxRec& c : clip) {
    BoxRec in;
    if (!Intersect(image, c, &in)) continue;
    const uint8_t* src = data + static_cast<ptrdiff_t>(in.y1 - y) * pitch + (in.x1 - x) * bytes;
    if (hook) {
      info_->WritePixmap(scrn_, in.x1, in.y1, in.x2 - in.x1, in.y2 - in.y1, const_cast<uint8_t*>(src),
                         pitch, gc.alu, gc.planemask, -1, scrn_->bitsPerPixel, scrn_->depth);
      continue;
    }
    for (int row = 0; row < in.y2 - in.y1; ++row)
      for (int col = 0; col < in.x2 - in.x1; ++col) {
        uint32_t v = 0;
        memcpy(&v, src + static_cast<ptrdiff_t>(row) * pitch + col * bytes, static_cast<size_t>(bytes));
        SoftPixel(in.x1 + col, in.y1 + row, v, gc);
      }
  }
  if (hook) info_->NeedToSync = TRUE;
}

void XaaFront::GetImage(int x, int y, int w, int h, uint8_t* out, int pitch) {
  if (info_ != nullptr && info_->ReadPixmap != nullptr) {
    info_->ReadPixmap(scrn_, x, y, w, h, out, pitch, scrn_->bitsPerPixel, scrn_->depth);
    return;
  }
  Sync();
  const int bytes = scrn_->bitsPerPixel / 8;
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col) {
      const uint32_t v = SoftRead(x + col, y + row);
      memcpy(out + static_cast<ptrdiff_t>(row) * pitch + col * bytes, &v, static_cast<size_t>(bytes));
    }
}

void XaaFront::Text(const XaaGC& gc, int x, int y, int w, int h, const std::vector<uint8_t>& pixels,
                    bool opaque) {
  Batch batch(this);
  const std::vector<BoxRec> clip = ClipBoxes(gc);
  const BoxRec text = Box(x, y, x + w, y + h);
  const bool hooks = info_ != nullptr && info_->SetupForCPUToScreenColorExpandFill != nullptr &&
                     info_->SubsequentCPUToScreenColorExpandFill != nullptr &&
                     info_->ColorExpandBase != nullptr && Takes(info_->TEGlyphRendererFlags, gc, !opaque);
  for (const BoxRec& c : clip) {
    BoxRec in;
    if (!Intersect(text, c, &in)) continue;
    const uint8_t* first = pixels.data() + static_cast<size_t>(in.y1 - y) * w + (in.x1 - x);
    if (hooks) {
      Expand(gc, in.x1, in.y1, in.x2 - in.x1, in.y2 - in.y1, first, w, opaque);
      continue;
    }
    Sync();
    for (int row = 0; row < in.y2 - in.y1; ++row)
      for (int col = 0; col < in.x2 - in.x1; ++col) {
        if (first[static_cast<size_t>(row) * w + col]) {
          SoftPixel(in.x1 + col, in.y1 + row, gc.fg, gc);
        } else if (opaque) {
          SoftPixel(in.x1 + col, in.y1 + row, gc.bg, gc);
        }
      }
  }
}

// Colour expansion through the processor: each round a rectangle of rows,
// each row padded to whole dwords (or quadwords) in the flags' bit order,
// written into ColorExpandBase, then Sync when the flags ask for it.
void XaaFront::Expand(const XaaGC& gc, int x, int y, int w, int h, const uint8_t* pixels, int stride,
                      bool opaque) {
  const int flags = info_->TEGlyphRendererFlags;
  const int pad = (flags & CPU_TRANSFER_PAD_QWORD) ? 8 : 4;
  const int rowBytes = (w + pad * 8 - 1) / (pad * 8) * pad;
  const int rowsPerRound = std::max(1, info_->ColorExpandRange / rowBytes);
  if (rowBytes > info_->ColorExpandRange) return;
  info_->SetupForCPUToScreenColorExpandFill(scrn_, static_cast<int>(gc.fg),
                                            opaque ? static_cast<int>(gc.bg) : -1, gc.alu,
                                            gc.planemask);
  for (int row0 = 0; row0 < h; row0 += rowsPerRound) {
    const int rows = std::min(rowsPerRound, h - row0);
    info_->SubsequentCPUToScreenColorExpandFill(scrn_, x, y + row0, w, rows, 0);
    for (int r = 0; r < rows; ++r) {
      uint8_t* out = info_->ColorExpandBase + static_cast<size_t>(r) * rowBytes;
      memset(out, 0, static_cast<size_t>(rowBytes));
      const uint8_t* in = pixels + static_cast<size_t>(row0 + r) * stride;
      for (int c = 0; c < w; ++c) {
        if (!in[c]) continue;
        out[c / 8] |= (flags & BIT_ORDER_IN_BYTE_MSBFIRST) ? static_cast<uint8_t>(0x80 >> (c & 7))
                                                           : static_cast<uint8_t>(1 << (c & 7));
      }
    }
    if ((flags & SYNC_AFTER_COLOR_EXPAND) && info_->Sync != nullptr) info_->Sync(scrn_);
  }
  info_->NeedToSync = TRUE;
}

}  // namespace xstub
