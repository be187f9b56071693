#include "tests/maindraw/reference.h"

#include <cstring>

#include "platform/xserver/xaa.h"

namespace maindraw {

namespace {

void NoSync(ScrnInfoPtr) {}

// A component of `bits` bits widened to eight by repeating its top bits.
uint32_t Widen(uint32_t v, int bits) {
  if (bits >= 8) return v >> (bits - 8);
  return (v << (8 - bits) | v >> (2 * bits - 8)) & 0xFF;
}

uint32_t Rgb(uint32_t pixel, const ScreenShape& shape, const IndexColour& index) {
  switch (shape.depth) {
    case 8: return index(pixel & 0xFF);
    case 15:
      return Widen(pixel >> 10 & 0x1F, 5) << 16 | Widen(pixel >> 5 & 0x1F, 5) << 8 | Widen(pixel & 0x1F, 5);
    case 16:
      return Widen(pixel >> 11 & 0x1F, 5) << 16 | Widen(pixel >> 5 & 0x3F, 6) << 8 | Widen(pixel & 0x1F, 5);
    case 30:
      return (pixel >> 22 & 0xFF) << 16 | (pixel >> 12 & 0xFF) << 8 | (pixel >> 2 & 0xFF);
    default: return pixel & 0xFFFFFF;
  }
}

}  // namespace

std::vector<uint8_t> DrawReference(xstub::XServer& server, const ScreenShape& shape, const Drawing& drawing) {
  const int bytes = shape.bitsPerPixel / 8;
  std::vector<uint8_t> pixels(static_cast<size_t>(shape.width) * shape.height * bytes);
  ScrnInfoPtr info = server.NewScrnInfo();
  info->depth = shape.depth;
  info->bitsPerPixel = shape.bitsPerPixel;
  info->virtualX = shape.width;
  info->virtualY = shape.height;
  info->displayWidth = shape.width;
  ScreenPtr screen = server.NewScreen(info);
  miClearVisualTypes();
  const int rgbBits = shape.depth == 30 ? 10 : 8;
  if (!miSetVisualTypes(shape.depth, miGetDefaultVisualMask(shape.depth), rgbBits,
                        shape.depth == 8 ? PseudoColor : TrueColor) ||
      !miSetPixmapDepths() ||
      !fbScreenInit(screen, pixels.data(), shape.width, shape.height, 75, 75, shape.width,
                    shape.bitsPerPixel))
    return {};
  // An XAA record with nothing but its Sync: the front draws everything in
  // software.
  XAAInfoRecPtr xaa = XAACreateInfoRec();
  if (xaa == nullptr) return {};
  xaa->Sync = NoSync;
  if (!XAAInit(screen, xaa)) {
    XAADestroyInfoRec(xaa);
    return {};
  }
  xstub::XaaFront front(screen);
  drawing(front, shape);
  XAADestroyInfoRec(xaa);
  return pixels;
}

orvsim::Picture ReferencePicture(const std::vector<uint8_t>& pixels, const ScreenShape& shape,
                                 int x0, int y0, uint32_t w, uint32_t h, const IndexColour& index) {
  orvsim::Picture picture;
  const int bytes = shape.bitsPerPixel / 8;
  if (x0 < 0 || y0 < 0 || x0 + static_cast<int64_t>(w) > shape.width ||
      y0 + static_cast<int64_t>(h) > shape.height ||
      pixels.size() != static_cast<size_t>(shape.width) * shape.height * bytes)
    return picture;
  picture.width = w;
  picture.height = h;
  picture.rgb.resize(static_cast<size_t>(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t p = 0;
      std::memcpy(&p, pixels.data() + ((static_cast<size_t>(y0) + y) * shape.width + x0 + x) * bytes,
                  static_cast<size_t>(bytes));
      const uint32_t rgb = Rgb(p, shape, index);
      uint8_t* out = picture.rgb.data() + (static_cast<size_t>(y) * w + x) * 3;
      out[0] = static_cast<uint8_t>(rgb >> 16);
      out[1] = static_cast<uint8_t>(rgb >> 8);
      out[2] = static_cast<uint8_t>(rgb);
    }
  return picture;
}

}  // namespace maindraw
