#include "tools/gui/PreviewDrawArea.h"

#include <cstring>

namespace {

constexpr int kGlyphCols = 5;
constexpr int kGlyphRows = 7;
constexpr int kGlyphScale = 2;
constexpr int kDigitImageSize = 16;
constexpr gint8 kDash[] = {4, 4};
constexpr gint kSeparatorWidth = 2;

// 5 x 7 glyphs of the digits 1-4, one row per byte, bit 4 leftmost.
constexpr unsigned char kGlyphs[4][kGlyphRows] = {
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
};

// The drawing area, found by name at set-up.
GtkWidget* s_poDrawingArea = nullptr;
// The backing pixmap of the area's size, replaced on every configure event.
GdkPixmap* pixmap = nullptr;
// The digits 1-4.
GdkPixbuf* apNumberPic[4] = {};
// Where the controller's state is read from.
PreviewStateFn s_state = nullptr;
// The outlines of the last picture drawn.
preview::DrawingInfo oDrawingInfo;

GdkPixbuf* MakeDigit(int digit) {
  GdkPixbuf* pix = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, kDigitImageSize, kDigitImageSize);
  gdk_pixbuf_fill(pix, 0x00000000);
  guchar* pixels = gdk_pixbuf_get_pixels(pix);
  const int stride = gdk_pixbuf_get_rowstride(pix);
  // Top-left placement keeps the glyph's shape visible when it is turned.
  const int left = 2, top = 1;
  for (int row = 0; row < kGlyphRows; ++row)
    for (int col = 0; col < kGlyphCols; ++col) {
      if (!(kGlyphs[digit - 1][row] & (0x10 >> col))) continue;
      for (int dy = 0; dy < kGlyphScale; ++dy)
        for (int dx = 0; dx < kGlyphScale; ++dx) {
          guchar* p = pixels + (top + row * kGlyphScale + dy) * stride +
                      (left + col * kGlyphScale + dx) * 4;
          p[0] = p[1] = p[2] = 0;
          p[3] = 0xFF;
        }
    }
  return pix;
}

void DrawPicture(GdkDrawable* target, GdkGC* gc, const preview::Picture& pic) {
  for (int32_t i = 0; i < pic.info.rectCount; ++i) {
    const preview::Rect& r = pic.info.rects[std::size_t(i)];
    gdk_draw_rectangle(target, gc, FALSE, r.x, r.y, r.width, r.height);
  }
  if (!pic.separators.empty()) {
    gdk_gc_set_line_attributes(gc, kSeparatorWidth, GDK_LINE_ON_OFF_DASH, GDK_CAP_BUTT, GDK_JOIN_MITER);
    gdk_gc_set_dashes(gc, 0, const_cast<gint8*>(kDash), 2);
    for (const preview::Line& l : pic.separators) gdk_draw_line(target, gc, l.x1, l.y1, l.x2, l.y2);
    gdk_gc_set_line_attributes(gc, 1, GDK_LINE_SOLID, GDK_CAP_BUTT, GDK_JOIN_MITER);
  }
  for (const preview::Digit& d : pic.digits) {
    GdkPixbuf* turned = GdkPixbufRotateSimple(apNumberPic[d.digit - 1], d.angle);
    if (!turned) continue;
    gdk_draw_pixbuf(target, gc, turned, 0, 0, d.x + 1, d.y + 1, -1, -1, GDK_RGB_DITHER_NONE, 0, 0);
    g_object_unref(turned);
  }
}

}  // namespace

GdkPixbuf* GdkPixbufRotateSimple(const GdkPixbuf* src, int angle) {
  if (angle != 0 && angle != 90 && angle != 180 && angle != 270) {
    g_warning("gdk_pixbuf_rotate_simple() can only rotate by multiples of 90 degrees");
    return nullptr;
  }
  const int w = gdk_pixbuf_get_width(src), h = gdk_pixbuf_get_height(src);
  const int channels = gdk_pixbuf_get_n_channels(src);
  const int bits = gdk_pixbuf_get_bits_per_sample(src);
  const int bytes = (channels * bits + 7) / 8;
  const bool quarter = angle == 90 || angle == 270;
  GdkPixbuf* dst = gdk_pixbuf_new(gdk_pixbuf_get_colorspace(src), gdk_pixbuf_get_has_alpha(src), bits,
                                  quarter ? h : w, quarter ? w : h);
  if (!dst) return nullptr;
  const guchar* in = gdk_pixbuf_get_pixels(src);
  guchar* out = gdk_pixbuf_get_pixels(dst);
  const int inStride = gdk_pixbuf_get_rowstride(src), outStride = gdk_pixbuf_get_rowstride(dst);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int dx = x, dy = y;
      switch (angle) {
        case 90: dx = y, dy = w - 1 - x; break;           // counter-clockwise
        case 180: dx = w - 1 - x, dy = h - 1 - y; break;
        case 270: dx = h - 1 - y, dy = x; break;          // clockwise
      }
      std::memcpy(out + dy * outStride + dx * bytes, in + y * inStride + x * bytes, std::size_t(bytes));
    }
  return dst;
}

GdkPixbuf* PreviewDigitImage(int digit) {
  return digit >= 1 && digit <= 4 ? apNumberPic[digit - 1] : nullptr;
}

void InitPreviewDrawArea(GtkWidget* window, PreviewStateFn state) {
  s_poDrawingArea = GTK_WIDGET(g_object_get_data(G_OBJECT(window), "mwDrawArea"));
  g_return_if_fail(s_poDrawingArea != nullptr);
  s_state = state;
  for (int d = 1; d <= 4; ++d)
    if (!apNumberPic[d - 1]) apNumberPic[d - 1] = MakeDigit(d);
}

void EraseDrawPreviewArea() {
  GtkWidget* area = s_poDrawingArea;
  if (!area || !area->window) return;
  if (pixmap) g_object_unref(pixmap);
  pixmap = gdk_pixmap_new(area->window, area->allocation.width, area->allocation.height, -1);
  gdk_draw_rectangle(pixmap, area->style->white_gc, TRUE, 0, 0, area->allocation.width,
                     area->allocation.height);
}

void DrawPreview() {
  GtkWidget* area = s_poDrawingArea;
  if (!area || !area->window || !s_state) return;
  preview::Input in = s_state();
  in.areaWidth = area->allocation.width;
  in.areaHeight = area->allocation.height;
  const preview::Picture picture = preview::ComputePreview(in);
  oDrawingInfo = picture.info;
  DrawPicture(area->window, area->style->fg_gc[GTK_WIDGET_STATE(area)], picture);
}

void RedrawPreviewArea(int x, int y, int w, int h) {
  GtkWidget* area = s_poDrawingArea;
  if (!area || !area->window) return;
  if (!pixmap) EraseDrawPreviewArea();
  gdk_draw_drawable(area->window, area->style->fg_gc[GTK_WIDGET_STATE(area)], pixmap, x, y,
                    x, y, w, h);
  DrawPreview();
}

void ShutdownPreviewDrawArea() {
  if (pixmap) g_object_unref(pixmap);
  for (GdkPixbuf* d : apNumberPic)
    if (d) g_object_unref(d);
  pixmap = nullptr;
  for (GdkPixbuf*& d : apNumberPic) d = nullptr;
  s_poDrawingArea = nullptr;
  s_state = nullptr;
  oDrawingInfo = preview::DrawingInfo{};
}

namespace preview {

namespace {

constexpr int32_t kIndependentGap = 3;

void Add(DrawingInfo& info, Rect r) {
  if (info.rectCount < kMaxDisplays) info.rects[std::size_t(info.rectCount++)] = r;
}

bool PairsOnKvd(uint32_t mode, bool kvd) {
  return kvd && (mode == kIndependent || mode == kXinerama);
}

void AddDigit(Picture& pic, int digit, int32_t x, int32_t y, uint32_t rotation) {
  pic.digits.push_back({digit, x, y, DigitAngle(rotation)});
}

// Digits 1-2 on the first outline and 3-4 on the second, along the long side.
void PairDigits(Picture& pic, const Input& in) {
  const DrawingInfo& info = pic.info;
  for (int pair = 0; pair < 2 && pair < info.rectCount; ++pair) {
    if (pair == 1 && in.displays < kMaxDisplays) break;
    const Rect& r = info.rects[std::size_t(pair)];
    uint32_t rotation = in.rotation[pair == 0 ? 0 : 3];
    bool alongX = r.width >= r.height;
    AddDigit(pic, 2 * pair + 1, r.x, r.y, rotation);
    AddDigit(pic, 2 * pair + 2, alongX ? r.x + kDigitStep : r.x, alongX ? r.y : r.y + kDigitStep,
             rotation);
  }
}

}  // namespace

// The square sits around the area's centre, each axis halved on its own.
DrawingInfo GetCoordSquare(int32_t areaWidth, int32_t areaHeight, uint32_t mode) {
  DrawingInfo info;
  info.displayCount = kMaxDisplays;
  const int32_t halfX = areaWidth / 2;
  const int32_t halfY = areaHeight / 2;
  if (mode == kIndependent) {
    Add(info, {halfX - 26, halfY - 29, kPairLength, kDisplaySize});
    Add(info, {halfX - 26, halfY + 3, kPairLength, kDisplaySize});
  } else if (mode == kXinerama) {
    Add(info, {halfX - 26, halfY - 26, kPairLength, kDisplaySize});
    Add(info, {halfX - 26, halfY, kPairLength, kDisplaySize});
  } else {
    Add(info, {halfX - 26, halfY - 26, kPairLength, kPairLength});
  }
  return info;
}

// A row is spread over the area's width and a column over its height; on
// the other axis the outlines are centred.
DrawingInfo GetCoordLine(int32_t areaWidth, int32_t areaHeight, int displays, uint32_t layout,
                         uint32_t mode, bool kvd) {
  DrawingInfo info;
  info.displayCount = displays;
  int32_t gap = 0, spacing = 0, length = kDisplaySize, count = displays;
  if (mode == kIndependent || mode == kXinerama) {
    if (mode == kIndependent) gap = kIndependentGap;
    if (kvd) {
      length = kPairLength;
      count = displays / 2;
      if (mode == kIndependent) spacing = 3 * (displays & ~1);
    } else if (mode == kIndependent) {
      spacing = 6 * displays;
    }
  } else {
    length = kDisplaySize * displays;
    count = 1;
  }
  const bool vertical = layout == kVertical;
  const int32_t along = vertical ? areaHeight : areaWidth;
  const int32_t across = ((vertical ? areaWidth : areaHeight) - kDisplaySize) / 2;
  int32_t start = (along - length * count - spacing) / 2 + gap;
  for (int32_t i = 0; i < count; ++i, start += length + 2 * gap) {
    if (vertical)
      Add(info, {across, start, kDisplaySize, length});
    else
      Add(info, {start, across, length, kDisplaySize});
  }
  return info;
}

int DigitAngle(uint32_t rotation) {
  switch (rotation) {
    case kRotationClockwise: return 270;
    case kRotationCounterClockwise: return 90;
    default: return 0;
  }
}

Picture ComputePreview(const Input& in) {
  Picture pic;
  const int displays = in.displays < 1 ? 1 : in.displays > kMaxDisplays ? kMaxDisplays : in.displays;
  Input clamped = in;
  clamped.displays = displays;

  if (in.layout == kSquare) {
    // The square layout exists only for four displays; anything else has no
    // picture.
    if (displays != kMaxDisplays) return pic;
    pic.info = GetCoordSquare(in.areaWidth, in.areaHeight, in.mode);
    if (in.mode == kMerge) {
      const Rect& r = pic.info.rects[0];
      pic.separators.push_back({r.x + r.width / 2, r.y, r.x + r.width / 2, r.y + r.height});
      pic.separators.push_back({r.x, r.y + r.height / 2, r.x + r.width, r.y + r.height / 2});
    } else {
      for (int32_t i = 0; i < pic.info.rectCount; ++i) {
        const Rect& r = pic.info.rects[std::size_t(i)];
        pic.separators.push_back({r.x + kDisplaySize, r.y, r.x + kDisplaySize, r.y + r.height});
      }
    }
    if (in.mode == kIndependent) {
      PairDigits(pic, clamped);
    } else {
      const Rect& r = pic.info.rects[0];
      const int32_t dx[] = {0, kDigitStep, 0, kDigitStep};
      const int32_t dy[] = {0, 0, kDigitStep, kDigitStep};
      for (int i = 0; i < kMaxDisplays; ++i) AddDigit(pic, i + 1, r.x + dx[i], r.y + dy[i], in.rotation[0]);
    }
    return pic;
  }

  const bool vertical = in.layout == kVertical;
  pic.info = GetCoordLine(in.areaWidth, in.areaHeight, displays, in.layout, in.mode, in.kvd);
  if (in.mode == kMerge && pic.info.rectCount > 0) {
    const Rect& r = pic.info.rects[0];
    for (int k = 1; k < displays; ++k) {
      if (vertical)
        pic.separators.push_back({r.x, r.y + kDisplaySize * k, r.x + r.width, r.y + kDisplaySize * k});
      else
        pic.separators.push_back({r.x + kDisplaySize * k, r.y, r.x + kDisplaySize * k, r.y + r.height});
    }
  } else if (!vertical && PairsOnKvd(in.mode, in.kvd)) {
    for (int32_t i = 0; i < pic.info.rectCount; ++i) {
      const Rect& r = pic.info.rects[std::size_t(i)];
      pic.separators.push_back({r.x + kDisplaySize, r.y, r.x + kDisplaySize, r.y + r.height});
    }
  }

  if (PairsOnKvd(in.mode, in.kvd)) {
    PairDigits(pic, clamped);
  } else {
    // One 26-pixel square per display carries its digit; a merged desktop is
    // split into those squares first.
    DrawingInfo cells = in.mode == kMerge
                            ? GetCoordLine(in.areaWidth, in.areaHeight, displays, in.layout, kXinerama,
                                           false)
                            : pic.info;
    for (int32_t i = 0; i < cells.rectCount; ++i) {
      const Rect& r = cells.rects[std::size_t(i)];
      AddDigit(pic, int(i) + 1, r.x, r.y, in.rotation[std::size_t(i)]);
    }
  }
  return pic;
}

}  // namespace preview
