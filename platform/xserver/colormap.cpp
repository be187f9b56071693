// The default colormap, and colormap handling: the driver's LoadPalette gets
// the installed colormap's entries (or, on a true-colour screen with a
// paletted DAC, the gamma ramp of each channel) scaled to its significant
// bits, whenever the palette has to be loaded again.
#include <math.h>

#include <algorithm>
#include <vector>

#include "platform/xserver/server_state.h"

namespace xstub::detail {
namespace {

// One channel's ramp entry: i of n levels through the screen's gamma.
unsigned short RampEntry(int i, int n, float gamma, int sigbits) {
  const double top = (1 << sigbits) - 1;
  if (n <= 1) return 0;
  const double level = static_cast<double>(i) / (n - 1);
  const double g = gamma > 0.01f ? 1.0 / gamma : 1.0;
  return static_cast<unsigned short>(lround(pow(level, g) * top));
}

}  // namespace

// Loads the palette of the screen's installed colormap through the driver;
// `indices` restricts it to some entries (all when empty).
void LoadPalette(ServerState& s, LayerScreen& layer, const std::vector<int>& only) {
  if (layer.load_palette == nullptr || layer.installed == nullptr) return;
  ScrnInfoPtr info = xf86Screens[layer.screen->myNum];
  ColormapPtr cmap = layer.installed;
  const int sigbits = info->rgbBits > 0 ? info->rgbBits : 8;
  std::vector<int> indices;
  std::vector<LOCO> colors;
  if (cmap->visualClass == TrueColor) {
    if (!(layer.cmap_flags & CMAP_PALETTED_TRUECOLOR)) return;
    const int nr = 1 << info->weight.red, ng = 1 << info->weight.green, nb = 1 << info->weight.blue;
    int n = nr > ng ? nr : ng;
    if (nb > n) n = nb;
    if (n > layer.max_colors) n = layer.max_colors;
    for (int i = 0; i < n; ++i) {
      indices.push_back(i);
      colors.push_back({RampEntry(i < nr ? i : nr - 1, nr, info->gamma.red, sigbits),
                        RampEntry(i < ng ? i : ng - 1, ng, info->gamma.green, sigbits),
                        RampEntry(i < nb ? i : nb - 1, nb, info->gamma.blue, sigbits)});
    }
  } else {
    const int shift = 16 - sigbits;
    const int n = cmap->numEntries < layer.max_colors ? cmap->numEntries : layer.max_colors;
    for (int i = 0; i < n; ++i) {
      if (!only.empty() && std::find(only.begin(), only.end(), i) == only.end()) continue;
      indices.push_back(i);
      const LOCO& e = cmap->entries[i];
      colors.push_back({static_cast<unsigned short>(e.red >> shift),
                        static_cast<unsigned short>(e.green >> shift),
                        static_cast<unsigned short>(e.blue >> shift)});
    }
  }
  if (indices.empty()) return;
  ++layer.palette_loads;
  layer.load_palette(info, static_cast<int>(indices.size()), indices.data(), colors.data(),
                     cmap->pVisual);
  (void)s;
}

}  // namespace xstub::detail

using xstub::detail::CurrentServer;
using xstub::detail::LayerScreen;
using xstub::detail::ServerState;

extern "C" {

Bool miCreateDefColormap(ScreenPtr screen) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr) return FALSE;
  VisualPtr visual = nullptr;
  for (int i = 0; i < screen->numVisuals; ++i) {
    if (screen->visuals[i].vid == screen->rootVisual) visual = &screen->visuals[i];
  }
  if (visual == nullptr) return FALSE;
  LayerScreen& layer = s->Layer(screen);
  layer.default_cmap = std::make_unique<ColormapRec>();
  ColormapPtr cmap = layer.default_cmap.get();
  cmap->pVisual = visual;
  cmap->visualClass = visual->visualClass;
  cmap->mid = s->next_id++;
  cmap->pScreen = screen;
  cmap->numEntries = visual->ColormapEntries > 256 ? 256 : visual->ColormapEntries;
  if (cmap->visualClass == PseudoColor || cmap->visualClass == GrayScale) {
    // Black and white are allocated at the screen's pixels.
    if (screen->blackPixel < 256) cmap->entries[screen->blackPixel] = {0, 0, 0};
    if (screen->whitePixel < 256) cmap->entries[screen->whitePixel] = {0xFFFF, 0xFFFF, 0xFFFF};
  }
  if (screen->CreateColormap != nullptr && !screen->CreateColormap(cmap)) return FALSE;
  screen->defColormap = cmap->mid;
  if (screen->InstallColormap != nullptr) screen->InstallColormap(cmap);
  layer.installed = cmap;
  return TRUE;
}

ColormapPtr miInstalledColormap(ScreenPtr screen) {
  ServerState* s = CurrentServer();
  return s != nullptr && screen != nullptr ? s->Layer(screen).installed : nullptr;
}

Bool xf86HandleColormaps(ScreenPtr screen, int maxColors, int, xf86LoadPaletteProc loadPalette,
                         xf86SetOverscanProc, unsigned int flags) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || loadPalette == nullptr || maxColors <= 0) return FALSE;
  LayerScreen& layer = s->Layer(screen);
  layer.load_palette = loadPalette;
  layer.cmap_flags = flags;
  layer.max_colors = maxColors > 256 ? 256 : maxColors;
  xf86Screens[screen->myNum]->LoadPalette = loadPalette;
  xstub::detail::LoadPalette(*s, layer, {});
  return TRUE;
}

void xf86StoreColors(ScreenPtr screen, int first, int n, const LOCO* colors) {
  ServerState* s = CurrentServer();
  if (s == nullptr || screen == nullptr || colors == nullptr) return;
  LayerScreen& layer = s->Layer(screen);
  ColormapPtr cmap = layer.installed;
  if (cmap == nullptr || first < 0) return;
  std::vector<int> changed;
  for (int i = 0; i < n && first + i < cmap->numEntries; ++i) {
    cmap->entries[first + i] = colors[i];
    changed.push_back(first + i);
  }
  if (!changed.empty()) xstub::detail::LoadPalette(*s, layer, changed);
}

void xf86SetBlackWhitePixels(ScreenPtr screen) {
  if (screen == nullptr) return;
  ScrnInfoPtr info = xf86Screens[screen->myNum];
  if (info != nullptr && info->depth > 8) {
    screen->blackPixel = 0;
    screen->whitePixel = info->mask.red | info->mask.green | info->mask.blue;
  } else {
    screen->blackPixel = 0;
    screen->whitePixel = 1;
  }
}

}  // extern "C"
