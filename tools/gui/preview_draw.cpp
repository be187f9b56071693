#include "tools/gui/preview_draw.h"

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

struct PreviewArea {
  GtkWidget* area = nullptr;  // s_poDrawingArea
  GdkPixmap* pixmap = nullptr;
  GdkPixbuf* digits[4] = {};  // apNumberPic
  PreviewStateFn state = nullptr;
};

PreviewArea s_preview;

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
    GdkPixbuf* turned = GdkPixbufRotateSimple(s_preview.digits[d.digit - 1], d.angle);
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
  return digit >= 1 && digit <= 4 ? s_preview.digits[digit - 1] : nullptr;
}

void InitPreviewDrawArea(GtkWidget* window, PreviewStateFn state) {
  s_preview.area = GTK_WIDGET(g_object_get_data(G_OBJECT(window), "mwDrawArea"));
  g_return_if_fail(s_preview.area != nullptr);
  s_preview.state = state;
  for (int d = 1; d <= 4; ++d)
    if (!s_preview.digits[d - 1]) s_preview.digits[d - 1] = MakeDigit(d);
}

void EraseDrawPreviewArea() {
  GtkWidget* area = s_preview.area;
  if (!area || !area->window) return;
  if (s_preview.pixmap) g_object_unref(s_preview.pixmap);
  s_preview.pixmap = gdk_pixmap_new(area->window, area->allocation.width, area->allocation.height, -1);
  gdk_draw_rectangle(s_preview.pixmap, area->style->white_gc, TRUE, 0, 0, area->allocation.width,
                     area->allocation.height);
}

void DrawPreview() {
  GtkWidget* area = s_preview.area;
  if (!area || !area->window || !s_preview.state) return;
  preview::Input in = s_preview.state();
  in.areaWidth = area->allocation.width;
  DrawPicture(area->window, area->style->fg_gc[GTK_WIDGET_STATE(area)], preview::ComputePreview(in));
}

void RedrawPreviewArea(int x, int y, int w, int h) {
  GtkWidget* area = s_preview.area;
  if (!area || !area->window) return;
  if (!s_preview.pixmap) EraseDrawPreviewArea();
  gdk_draw_drawable(area->window, area->style->fg_gc[GTK_WIDGET_STATE(area)], s_preview.pixmap, x, y,
                    x, y, w, h);
  DrawPreview();
}

gboolean DrawAreaConfigEvent(GtkWidget*, GdkEventConfigure*, gpointer) {
  EraseDrawPreviewArea();
  return TRUE;
}

gboolean DrawAreaExposeEvent(GtkWidget*, GdkEventExpose* event, gpointer) {
  RedrawPreviewArea(event->area.x, event->area.y, event->area.width, event->area.height);
  return FALSE;
}

void ShutdownPreviewDrawArea() {
  if (s_preview.pixmap) g_object_unref(s_preview.pixmap);
  for (GdkPixbuf* d : s_preview.digits)
    if (d) g_object_unref(d);
  s_preview = PreviewArea{};
}
