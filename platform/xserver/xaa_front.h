// The drawing front of the XAA stand-in: what the server's rendering code
// does with a client's request on a screen that XAA accelerates. Each
// request calls the driver's hooks the way XAA calls them: the set-up once,
// then the subsequent call per item; NeedToSync set after the hooks; Sync
// before the processor touches the framebuffer; colour-expansion rows
// padded and written into ColorExpandBase, then Sync when the flags ask
// for it; clipping by the hardware or by XAA itself as ClippingFlags say.
// Requests the hooks cannot take (no hook, or a restriction flag refuses
// the raster operation, plane mask or transparency) are drawn in software
// on the screen pixmap after a Sync, as XAA falls back to the framebuffer
// layer; on a shadow framebuffer the refresh function then gets what each
// request drew.
#pragma once

#include <stdint.h>

#include <vector>

#include "platform/xserver/xaa.h"

namespace xstub {

// The parts of a graphics context XAA looks at.
struct XaaGC {
  int alu = GXcopy;
  uint32_t planemask = 0xFFFFFFFF;
  uint32_t fg = 0;
  uint32_t bg = 0;
  // Clip rectangles, x2 and y2 exclusive; none clips to the screen.
  std::vector<BoxRec> clip;
  // An 8x8 stipple: pixel c of row r is set when bit c of stipple[r] is;
  // pixel (x, y) of the screen takes the stipple's pixel
  // ((x - stippleX) mod 8, (y - stippleY) mod 8).
  uint8_t stipple[8] = {};
  int stippleX = 0;
  int stippleY = 0;
};

// A line segment from (x1, y1) to (x2, y2), both ends inclusive unless the
// request omits the last pixel.
struct XaaSegment {
  int x1, y1, x2, y2;
};

class XaaFront {
 public:
  // The screen's XAA record (XAAInit) and, for software drawing, its screen
  // pixmap (fbScreenInit).
  explicit XaaFront(ScreenPtr screen);

  void FillRects(const XaaGC& gc, const std::vector<BoxRec>& rects);
  void FillSpans(const XaaGC& gc, const std::vector<DDXPointRec>& points,
                 const std::vector<int>& widths, bool sorted);
  // A transparent (stippled) or opaque (opaque-stippled) 8x8 stipple fill.
  void FillStippled(const XaaGC& gc, const std::vector<BoxRec>& rects, bool opaque);
  void CopyArea(const XaaGC& gc, int srcx, int srcy, int w, int h, int dstx, int dsty);
  void Segments(const XaaGC& gc, const std::vector<XaaSegment>& segments, bool capNotLast);
  // An image of the screen's depth; pitch in bytes.
  void PutImage(const XaaGC& gc, int x, int y, int w, int h, const uint8_t* data, int pitch);
  void GetImage(int x, int y, int w, int h, uint8_t* out, int pitch);
  // Text: a strip of glyph pixels, one byte per pixel (non-zero is set),
  // row by row; opaque text paints the background too.
  void Text(const XaaGC& gc, int x, int y, int w, int h, const std::vector<uint8_t>& pixels,
            bool opaque);
  // What XAA does before the processor touches the framebuffer.
  void Sync();

  XAAInfoRecPtr info() const { return info_; }

 private:
  std::vector<BoxRec> ClipBoxes(const XaaGC& gc) const;
  // ClippingFlags hand this primitive to the hardware clip.
  bool ClippingByHardware(int clipFlag) const;
  // The hook may take the request.
  bool Takes(int flags, const XaaGC& gc, bool transparent) const;
  // Software drawing on the screen pixmap, after a Sync.
  void SoftPixel(int x, int y, uint32_t source, const XaaGC& gc);
  uint32_t SoftRead(int x, int y) const;
  bool SoftInClip(const std::vector<BoxRec>& clip, int x, int y) const;
  void SoftLine(const XaaGC& gc, const XaaSegment& s, bool capNotLast,
                const std::vector<BoxRec>& clip);
  void Expand(const XaaGC& gc, int x, int y, int w, int h, const uint8_t* pixels, int stride,
              bool opaque);

  // The bounds of what software drawing touched in this request; at the
  // end of the request they go to the shadow framebuffer.
  class Batch {
   public:
    explicit Batch(XaaFront* front) : front_(front) {}
    ~Batch() { front_->FlushDamage(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    XaaFront* front_;
  };
  void FlushDamage();

  ScreenPtr screen_;
  ScrnInfoPtr scrn_;
  XAAInfoRecPtr info_;
  PixmapPtr pixmap_;
  bool dirty_ = false;
  BoxRec damage_ = {0, 0, 0, 0};
};

}  // namespace xstub
