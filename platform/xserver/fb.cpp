// Visuals and pixmap depths, and the framebuffer layer: the screen's visuals
// and depths from the registered visual types, the screen pixmap over the
// driver's memory, and a small software renderer on pixmaps.
#include <string.h>

#include "platform/xserver/server_state.h"

namespace xstub::detail {

LayerScreen& ServerState::Layer(ScreenPtr screen) {
  for (auto& l : layers) {
    if (l->screen == screen) return *l;
  }
  layers.push_back(std::make_unique<LayerScreen>());
  layers.back()->screen = screen;
  return *layers.back();
}

void ServerState::Record(const char* name, ScreenPtr screen) {
  screen_calls.push_back({name, screen != nullptr ? screen->myNum : -1});
}

namespace {

// Default channel widths of a depth's colour visuals (red, green, blue).
void DefaultWeights(int depth, int* r, int* g, int* b) {
  switch (depth) {
    case 15: *r = 5; *g = 5; *b = 5; break;
    case 16: *r = 5; *g = 6; *b = 5; break;
    case 30: *r = 10; *g = 10; *b = 10; break;
    default:
      *b = depth / 3;
      *g = (depth - *b) / 2;
      *r = depth - *b - *g;
      break;
  }
}

Bool LayerCloseScreen(int scrnIndex, ScreenPtr screen) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return FALSE;
  LayerScreen& layer = s->Layer(screen);
  layer.fb = false;
  screen->CloseScreen = layer.fb_wrapped_close;
  return screen->CloseScreen != nullptr ? screen->CloseScreen(scrnIndex, screen) : TRUE;
}

PixmapPtr LayerCreatePixmap(ScreenPtr screen, int width, int height, int depth) {
  if (width < 0 || height < 0 || width > 32767 || height > 32767) return nullptr;
  auto* pixmap = static_cast<PixmapPtr>(xcalloc(1, sizeof(PixmapRec)));
  if (pixmap == nullptr) return nullptr;
  const int bpp = depth <= 8 ? 8 : depth <= 16 ? 16 : 32;
  pixmap->pScreen = screen;
  pixmap->width = width;
  pixmap->height = height;
  pixmap->depth = depth;
  pixmap->bitsPerPixel = bpp;
  pixmap->devKind = ((width * bpp / 8) + 3) & ~3;
  pixmap->devPrivate = xcalloc(static_cast<size_t>(pixmap->devKind) * static_cast<size_t>(height) + 1, 1);
  if (pixmap->devPrivate == nullptr) {
    xfree(pixmap);
    return nullptr;
  }
  return pixmap;
}

Bool LayerDestroyPixmap(PixmapPtr pixmap) {
  if (pixmap == nullptr) return FALSE;
  xfree(pixmap->devPrivate);
  xfree(pixmap);
  return TRUE;
}

uint8_t* PixelAddress(PixmapPtr p, int x, int y) {
  return static_cast<uint8_t*>(p->devPrivate) + static_cast<ptrdiff_t>(y) * p->devKind +
         static_cast<ptrdiff_t>(x) * (p->bitsPerPixel / 8);
}

void Store(PixmapPtr p, uint8_t* at, CARD32 pixel) {
  switch (p->bitsPerPixel) {
    case 8: *at = static_cast<uint8_t>(pixel); break;
    case 16: {
      const uint16_t v = static_cast<uint16_t>(pixel);
      memcpy(at, &v, 2);
      break;
    }
    default: memcpy(at, &pixel, 4); break;
  }
}

// Clips a rectangle to the pixmap; false when nothing is left.
bool Clip(PixmapPtr p, int* x, int* y, int* w, int* h) {
  if (*x < 0) {
    *w += *x;
    *x = 0;
  }
  if (*y < 0) {
    *h += *y;
    *y = 0;
  }
  if (*x + *w > p->width) *w = p->width - *x;
  if (*y + *h > p->height) *h = p->height - *y;
  return *w > 0 && *h > 0;
}

bool Drawable(PixmapPtr p) {
  return p != nullptr && p->devPrivate != nullptr &&
         (p->bitsPerPixel == 8 || p->bitsPerPixel == 16 || p->bitsPerPixel == 32);
}

// What was drawn on a screen pixmap goes to the screen's shadow refresh.
void Damage(PixmapPtr p, int x, int y, int w, int h) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return;
  for (auto& layer : s->layers) {
    if (layer->fb && &layer->pixmap == p) {
      ShadowDamage(layer->screen, {BoxRec{static_cast<short>(x), static_cast<short>(y),
                                          static_cast<short>(x + w), static_cast<short>(y + h)}});
      return;
    }
  }
}

}  // namespace
}  // namespace xstub::detail

using xstub::detail::CurrentServer;
using xstub::detail::LayerScreen;
using xstub::detail::ServerState;

extern "C" {

int miGetDefaultVisualMask(int depth) {
  if (depth > 8) return TrueColorMask | DirectColorMask;
  if (depth == 1) return StaticGrayMask;
  return StaticGrayMask | GrayScaleMask | StaticColorMask | PseudoColorMask | TrueColorMask |
         DirectColorMask;
}

Bool miSetVisualTypesAndMasks(int depth, int visuals, int bitsPerRGB, int preferredVisual,
                              unsigned long redMask, unsigned long greenMask,
                              unsigned long blueMask) {
  ServerState* s = CurrentServer();
  if (s == nullptr || depth <= 0 || depth > 32 || visuals == 0) return FALSE;
  std::erase_if(s->visual_types, [depth](const auto& v) { return v.depth == depth; });
  s->visual_types.push_back(
      {depth, visuals, bitsPerRGB, preferredVisual, redMask, greenMask, blueMask});
  return TRUE;
}

Bool miSetVisualTypes(int depth, int visuals, int bitsPerRGB, int preferredVisual) {
  return miSetVisualTypesAndMasks(depth, visuals, bitsPerRGB, preferredVisual, 0, 0, 0);
}

void miClearVisualTypes(void) {
  if (ServerState* s = CurrentServer()) {
    s->visual_types.clear();
    s->pixmap_depths = false;
  }
}

Bool miSetPixmapDepths(void) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return FALSE;
  s->pixmap_depths = true;
  return TRUE;
}

Bool fbScreenInit(ScreenPtr screen, pointer pbits, int xsize, int ysize, int dpix, int dpiy,
                  int width, int bpp) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || xsize <= 0 || ysize <= 0 || width < xsize ||
      (bpp != 8 && bpp != 16 && bpp != 32))
    return FALSE;
  ScrnInfoPtr info = xf86Screens[screen->myNum];
  const int depth = info != nullptr ? info->depth : bpp;
  const xstub::detail::VisualTypes* types = nullptr;
  for (const auto& v : s->visual_types) {
    if (v.depth == depth) types = &v;
  }
  if (types == nullptr) return FALSE;

  LayerScreen& layer = s->Layer(screen);
  layer.visuals.clear();
  layer.depth_vids.clear();
  layer.depths.clear();
  int r = 0, g = 0, b = 0;
  xstub::detail::DefaultWeights(depth, &r, &g, &b);
  std::vector<XID> vids;
  for (int cls = StaticGray; cls <= DirectColor; ++cls) {
    if (!(types->visuals & (1 << cls))) continue;
    VisualRec v{};
    v.vid = s->next_id++;
    v.visualClass = static_cast<short>(cls);
    v.bitsPerRGBValue = static_cast<short>(types->bitsPerRGB);
    v.nplanes = static_cast<short>(depth);
    v.ColormapEntries = static_cast<short>(depth > 8 ? 1 << (r > g ? r : g) : 1 << depth);
    if (cls == TrueColor || cls == DirectColor) {
      v.redMask = types->redMask ? types->redMask : ((1ul << r) - 1) << (g + b);
      v.greenMask = types->greenMask ? types->greenMask : ((1ul << g) - 1) << b;
      v.blueMask = types->blueMask ? types->blueMask : (1ul << b) - 1;
      v.offsetRed = __builtin_ctzl(v.redMask);
      v.offsetGreen = __builtin_ctzl(v.greenMask);
      v.offsetBlue = __builtin_ctzl(v.blueMask);
    }
    layer.visuals.push_back(v);
    vids.push_back(v.vid);
  }
  layer.depth_vids.push_back(std::move(vids));
  layer.depths.push_back({static_cast<unsigned char>(depth),
                          static_cast<short>(layer.depth_vids.back().size()),
                          layer.depth_vids.back().data()});
  screen->numVisuals = static_cast<int>(layer.visuals.size());
  screen->visuals = layer.visuals.data();
  screen->numDepths = 1;
  screen->allowedDepths = layer.depths.data();
  screen->rootDepth = static_cast<unsigned char>(depth);
  screen->rootVisual = layer.visuals.front().vid;
  for (const VisualRec& v : layer.visuals) {
    if (v.visualClass == types->preferred) screen->rootVisual = v.vid;
  }
  screen->width = static_cast<short>(xsize);
  screen->height = static_cast<short>(ysize);
  screen->mmWidth = static_cast<short>(dpix > 0 ? xsize * 254 / (dpix * 10) : 0);
  screen->mmHeight = static_cast<short>(dpiy > 0 ? ysize * 254 / (dpiy * 10) : 0);

  layer.pixmap = {};
  layer.pixmap.pScreen = screen;
  layer.pixmap.width = xsize;
  layer.pixmap.height = ysize;
  layer.pixmap.depth = depth;
  layer.pixmap.bitsPerPixel = bpp;
  layer.pixmap.devKind = width * bpp / 8;
  layer.pixmap.devPrivate = pbits;
  screen->devPrivate = &layer.pixmap;
  screen->CreatePixmap = xstub::detail::LayerCreatePixmap;
  screen->DestroyPixmap = xstub::detail::LayerDestroyPixmap;
  layer.fb_wrapped_close = screen->CloseScreen;
  screen->CloseScreen = xstub::detail::LayerCloseScreen;
  layer.fb = true;
  return TRUE;
}

Bool fbPictureInit(ScreenPtr screen, pointer, int) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || !s->Layer(screen).fb) return FALSE;
  s->Layer(screen).picture = true;
  return TRUE;
}

PixmapPtr fbGetScreenPixmap(ScreenPtr screen) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || !s->Layer(screen).fb) return nullptr;
  return &s->Layer(screen).pixmap;
}

void fbSolidFill(PixmapPtr pixmap, int x, int y, int width, int height, CARD32 pixel) {
  if (!xstub::detail::Drawable(pixmap) || !xstub::detail::Clip(pixmap, &x, &y, &width, &height))
    return;
  for (int row = 0; row < height; ++row) {
    uint8_t* at = xstub::detail::PixelAddress(pixmap, x, y + row);
    for (int col = 0; col < width; ++col, at += pixmap->bitsPerPixel / 8)
      xstub::detail::Store(pixmap, at, pixel);
  }
  xstub::detail::Damage(pixmap, x, y, width, height);
}

void fbCopyArea(PixmapPtr src, PixmapPtr dst, int srcx, int srcy, int dstx, int dsty, int width,
                int height) {
  if (!xstub::detail::Drawable(src) || !xstub::detail::Drawable(dst) ||
      src->bitsPerPixel != dst->bitsPerPixel)
    return;
  // Clip against both pixmaps, moving the other side along.
  int sx = srcx, sy = srcy, w = width, h = height;
  if (!xstub::detail::Clip(src, &sx, &sy, &w, &h)) return;
  int dx = dstx + (sx - srcx), dy = dsty + (sy - srcy);
  int dx0 = dx, dy0 = dy;
  if (!xstub::detail::Clip(dst, &dx, &dy, &w, &h)) return;
  sx += dx - dx0;
  sy += dy - dy0;
  const size_t bytes = static_cast<size_t>(w) * (src->bitsPerPixel / 8);
  // Rows in the order that keeps an overlapping copy right.
  const bool upward = src == dst && dy > sy;
  for (int i = 0; i < h; ++i) {
    const int row = upward ? h - 1 - i : i;
    memmove(xstub::detail::PixelAddress(dst, dx, dy + row),
            xstub::detail::PixelAddress(src, sx, sy + row), bytes);
  }
  xstub::detail::Damage(dst, dx, dy, w, h);
}

CARD32 fbGetPixel(PixmapPtr pixmap, int x, int y) {
  if (!xstub::detail::Drawable(pixmap) || x < 0 || y < 0 || x >= pixmap->width ||
      y >= pixmap->height)
    return 0;
  const uint8_t* at = xstub::detail::PixelAddress(pixmap, x, y);
  switch (pixmap->bitsPerPixel) {
    case 8: return *at;
    case 16: {
      uint16_t v;
      memcpy(&v, at, 2);
      return v;
    }
    default: {
      CARD32 v;
      memcpy(&v, at, 4);
      return v;
    }
  }
}

}  // extern "C"
