#include "tests/maindraw/scene.h"

#include <algorithm>
#include <vector>

namespace maindraw {

namespace {

BoxRec Box(int x, int y, int w, int h) {
  return BoxRec{static_cast<short>(x), static_cast<short>(y), static_cast<short>(x + w),
                static_cast<short>(y + h)};
}

// Digits in a 3x5 font, one row a byte (bit 2 is the leftmost pixel).
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// A strip of glyph pixels of the digits of `text`, each doubled in both
// directions, one column apart: width 8 a digit, height 10.
std::vector<uint8_t> TextStrip(const char* text, int* width) {
  int n = 0;
  while (text[n] != 0) ++n;
  *width = 8 * n;
  std::vector<uint8_t> strip(static_cast<size_t>(*width) * 10);
  for (int c = 0; c < n; ++c) {
    const int digit = (text[c] - '0') % 10;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 6; ++x)
        if (kDigits[digit][y / 2] & (4 >> (x / 2))) strip[static_cast<size_t>(y) * *width + c * 8 + x] = 1;
  }
  return strip;
}

// What the image shows: a gradient with a light frame.
uint32_t ImageColour(int x, int y, int w, int h) {
  if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return 0xF0F0F0;
  const uint32_t r = static_cast<uint32_t>(x * 255 / (w - 1));
  const uint32_t g = static_cast<uint32_t>(y * 255 / (h - 1));
  return r << 16 | g << 8 | ((r ^ g) & 0xFF);
}

}  // namespace

uint32_t PixelOf(uint32_t rgb, int depth) {
  const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  switch (depth) {
    case 8: return b;
    case 15: return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
    case 16: return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
    case 30: return (r << 2 | r >> 6) << 20 | (g << 2 | g >> 6) << 10 | (b << 2 | b >> 6);
    default: return rgb;
  }
}

void DrawScene(xstub::XaaFront& front, const ScreenShape& shape) {
  const int d = shape.depth;
  xstub::XaaGC gc;

  // The background, and two bars the raster operations meet.
  gc.fg = PixelOf(0x203050, d);
  front.FillRects(gc, {Box(0, 0, shape.width, shape.height)});
  gc.fg = PixelOf(0xC0C0C0, d);
  front.FillRects(gc, {Box(16, 16, 360, 24)});
  gc.fg = PixelOf(0x5A3CA5, d);
  front.FillRects(gc, {Box(16, 40, 360, 24)});

  // One rectangle in each raster operation, across both bars.
  static constexpr int kAlus[] = {GXcopy,  GXxor,   GXand,    GXor,          GXinvert,
                                  GXequiv, GXnand,  GXandReverse, GXcopyInverted, GXorInverted,
                                  GXnor,   GXclear, GXset};
  int x = 20;
  for (int alu : kAlus) {
    gc.alu = alu;
    gc.fg = PixelOf(0x33CC99, d);
    front.FillRects(gc, {Box(x, 24, 20, 32)});
    x += 27;
  }
  gc.alu = GXcopy;

  // A plane mask that keeps the low half of every pixel, and a clip of two
  // boxes that cuts a rectangle list.
  gc.fg = PixelOf(0xFFFFFF, d);
  gc.planemask = PixelOf(0x0F0F0F, d);
  front.FillRects(gc, {Box(16, 72, 100, 20)});
  gc.planemask = 0xFFFFFFFF;
  gc.fg = PixelOf(0xE0A020, d);
  gc.clip = {BoxRec{130, 70, 170, 100}, BoxRec{190, 80, 240, 90}};
  front.FillRects(gc, {Box(120, 75, 130, 20), Box(125, 94, 10, 10)});
  gc.clip.clear();

  // Spans: a triangle.
  std::vector<DDXPointRec> points;
  std::vector<int> widths;
  for (int row = 0; row < 30; ++row) {
    points.push_back(DDXPointRec{static_cast<short>(300 - row), static_cast<short>(70 + row)});
    widths.push_back(2 * row + 1);
  }
  gc.fg = PixelOf(0x80E040, d);
  front.FillSpans(gc, points, widths, true);

  // 8x8 stipples: opaque, then transparent with an origin and an XOR.
  static constexpr uint8_t kChecks[8] = {0x0F, 0x0F, 0x0F, 0x0F, 0xF0, 0xF0, 0xF0, 0xF0};
  static constexpr uint8_t kDiagonal[8] = {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81};
  std::copy(std::begin(kChecks), std::end(kChecks), gc.stipple);
  gc.fg = PixelOf(0xFF4040, d);
  gc.bg = PixelOf(0x4040FF, d);
  front.FillStippled(gc, {Box(16, 110, 90, 50)}, true);
  std::copy(std::begin(kDiagonal), std::end(kDiagonal), gc.stipple);
  gc.stippleX = 3;
  gc.stippleY = 5;
  gc.alu = GXxor;
  gc.fg = PixelOf(0xFFFF00, d);
  front.FillStippled(gc, {Box(60, 130, 100, 45)}, false);
  gc.alu = GXcopy;
  gc.stippleX = gc.stippleY = 0;

  // Text, opaque and transparent over it.
  int textWidth = 0;
  const std::vector<uint8_t> digits = TextStrip("0123456789", &textWidth);
  gc.fg = PixelOf(0xFFFFFF, d);
  gc.bg = PixelOf(0x000000, d);
  front.Text(gc, 180, 110, textWidth, 10, digits, true);
  const std::vector<uint8_t> year = TextStrip("2026", &textWidth);
  gc.fg = PixelOf(0xFF8000, d);
  front.Text(gc, 183, 114, textWidth, 10, year, false);

  // Screen copies that overlap themselves: down and right, then up and left.
  front.CopyArea(gc, 16, 110, 100, 60, 29, 119);
  front.CopyArea(gc, 180, 110, 80, 14, 171, 104);

  // An image of the screen's depth.
  const int iw = 64, ih = 40;
  const int bytes = shape.bitsPerPixel / 8;
  std::vector<uint8_t> image(static_cast<size_t>(iw) * ih * bytes);
  for (int y = 0; y < ih; ++y)
    for (int ix = 0; ix < iw; ++ix) {
      const uint32_t p = PixelOf(ImageColour(ix, y, iw, ih), d);
      for (int b = 0; b < bytes; ++b)
        image[(static_cast<size_t>(y) * iw + ix) * bytes + b] = static_cast<uint8_t>(p >> (8 * b));
    }
  front.PutImage(gc, 280, 110, iw, ih, image.data(), iw * bytes);

  // Lines: a fan of slanted ones, then horizontal and vertical ones with
  // the last pixel left out.
  std::vector<xstub::XaaSegment> fan;
  for (int i = 0; i <= 8; ++i) fan.push_back({200, 240, 120 + 20 * i, 180});
  for (int i = 0; i <= 8; ++i) fan.push_back({200, 240, 120 + 20 * i, 300});
  gc.fg = PixelOf(0x00FFFF, d);
  front.Segments(gc, fan, false);
  gc.fg = PixelOf(0xFF00FF, d);
  front.Segments(gc, {{16, 200, 100, 200}, {16, 210, 16, 290}, {100, 290, 20, 290}}, true);

  front.Sync();
}

}  // namespace maindraw
