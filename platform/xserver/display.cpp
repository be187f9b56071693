// A screen's depth and frame-buffer format, its Display subsection, colour
// weight, default visual, gamma and resolution.
#include <math.h>

#include "platform/xserver/server_state.h"

namespace {

// Frame-buffer bits per pixel for a depth under the driver's flags; 0 when
// none is offered.
int BppForDepth(int depth, int flags) {
  switch (depth) {
    case 1: return 1;
    case 4:
    case 8: return 8;
    case 15:
    case 16: return 16;
    case 24:
      if (flags & Support32bppFb) return 32;
      if (flags & Support24bppFb) return 24;
      return 0;
    case 30: return (flags & Support32bppFb) ? 32 : 0;
    default: return 0;
  }
}

int DepthForBpp(int bpp) {
  switch (bpp) {
    case 1: return 1;
    case 8: return 8;
    case 16: return 16;
    case 24:
    case 32: return 24;
    default: return 0;
  }
}

bool FormatOffered(int depth, int bpp, int flags, int default_bpp) {
  if (depth <= 0 || bpp <= 0 || depth > bpp) return false;
  if (bpp == default_bpp) return true;
  if (bpp == 24) return (flags & Support24bppFb) != 0;
  if (bpp == 32) return (flags & Support32bppFb) != 0;
  return bpp == 1 || bpp == 8 || bpp == 16;
}

// Gamma values the server accepts.
constexpr float kGammaMin = 0.1f;
constexpr float kGammaMax = 10.0f;
bool GammaSet(const Gamma& g) { return g.red > 0.01f || g.green > 0.01f || g.blue > 0.01f; }

}  // namespace

extern "C" {

Bool xf86SetDepthBpp(ScrnInfoPtr screen, int depth, int, int fbbpp, int flags) {
  if (screen == nullptr) return FALSE;
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  const confScreenRec* conf = screen->confScreen;
  int want_depth = depth;
  int want_bpp = fbbpp;
  MessageType depth_from = X_DEFAULT, bpp_from = X_DEFAULT;
  const int conf_bpp = conf != nullptr ? (conf->defaultfbbpp > 0 ? conf->defaultfbbpp
                                                                 : conf->defaultbpp)
                                       : 0;
  if (conf != nullptr && conf->defaultdepth > 0) {
    want_depth = conf->defaultdepth;
    depth_from = X_CONFIG;
    want_bpp = conf_bpp > 0 ? conf_bpp : BppForDepth(want_depth, flags);
    bpp_from = conf_bpp > 0 ? X_CONFIG : X_PROBED;
  } else if (conf_bpp > 0) {
    want_bpp = conf_bpp;
    bpp_from = X_CONFIG;
    want_depth = DepthForBpp(conf_bpp);
    depth_from = X_PROBED;
  }
  if (!FormatOffered(want_depth, want_bpp, flags, fbbpp)) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR,
               "Depth %d with %d bits per pixel is not supported by this driver\n", want_depth,
               want_bpp);
    return FALSE;
  }
  screen->depth = want_depth;
  screen->bitsPerPixel = want_bpp;
  screen->depthFrom = depth_from;
  screen->bitsPerPixelFrom = bpp_from;

  // The Display subsection of this depth (and frame-buffer format).
  screen->display = nullptr;
  if (conf != nullptr) {
    for (int i = 0; i < conf->numdisplays; ++i) {
      DispPtr d = &conf->displays[i];
      if (d->depth == want_depth && (d->fbbpp <= 0 || d->fbbpp == want_bpp)) {
        screen->display = d;
        break;
      }
    }
    if (screen->display == nullptr) {
      for (int i = 0; i < conf->numdisplays; ++i) {
        DispPtr d = &conf->displays[i];
        if (d->depth <= 0 && (d->fbbpp <= 0 || d->fbbpp == want_bpp)) {
          screen->display = d;
          break;
        }
      }
    }
  }
  if (screen->display == nullptr && s != nullptr) {
    auto display = std::make_unique<DispRec>();
    display->depth = want_depth;
    display->fbbpp = want_bpp;
    display->frameX0 = display->frameY0 = -1;
    display->defaultVisual = -1;
    display->blackColour = display->whiteColour = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    static char* no_modes[] = {nullptr};
    display->modes = no_modes;
    xf86DrvMsg(screen->scrnIndex, X_INFO,
               "Using a default Display subsection for depth/fbbpp %d/%d\n", want_depth,
               want_bpp);
    screen->display = display.get();
    s->default_displays.push_back(std::move(display));
  }
  return TRUE;
}

void xf86PrintDepthBpp(ScrnInfoPtr screen) {
  if (screen == nullptr) return;
  xf86DrvMsg(screen->scrnIndex, screen->depthFrom, "Depth %d, ", screen->depth);
  xf86Msg(screen->bitsPerPixelFrom, "framebuffer bpp %d\n", screen->bitsPerPixel);
}

Bool xf86SetWeight(ScrnInfoPtr screen, rgb weight, rgb mask) {
  if (screen == nullptr) return FALSE;
  if (screen->depth <= 8) return TRUE;
  MessageType from = X_PROBED;
  if (weight.red == 0 || weight.green == 0 || weight.blue == 0) {
    const DispRec* d = screen->display;
    if (d != nullptr && d->weight.red > 0 && d->weight.green > 0 && d->weight.blue > 0) {
      weight = d->weight;
      from = X_CONFIG;
    } else {
      from = X_DEFAULT;
      switch (screen->depth) {
        case 15: weight = {5, 5, 5}; break;
        case 16: weight = {5, 6, 5}; break;
        case 24: weight = {8, 8, 8}; break;
        case 30: weight = {10, 10, 10}; break;
        default:
          xf86DrvMsg(screen->scrnIndex, X_ERROR, "No default RGB weight for depth %d\n",
                     screen->depth);
          return FALSE;
      }
    }
  }
  if (static_cast<int>(weight.red + weight.green + weight.blue) > screen->bitsPerPixel ||
      weight.red > 16 || weight.green > 16 || weight.blue > 16) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "RGB weight %u%u%u does not fit %d bits per pixel\n",
               weight.red, weight.green, weight.blue, screen->bitsPerPixel);
    return FALSE;
  }
  screen->weight = weight;
  xf86DrvMsg(screen->scrnIndex, from, "RGB weight %u%u%u\n", weight.red, weight.green,
             weight.blue);
  if (mask.red != 0 || mask.green != 0 || mask.blue != 0) {
    screen->mask = mask;
    screen->offset = {static_cast<CARD32>(__builtin_ctz(mask.red | 1u << 31)),
                      static_cast<CARD32>(__builtin_ctz(mask.green | 1u << 31)),
                      static_cast<CARD32>(__builtin_ctz(mask.blue | 1u << 31))};
  } else {
    screen->offset = {weight.blue + weight.green, weight.blue, 0};
    screen->mask = {((1u << weight.red) - 1) << screen->offset.red,
                    ((1u << weight.green) - 1) << screen->offset.green,
                    (1u << weight.blue) - 1};
  }
  return TRUE;
}

Bool xf86SetDefaultVisual(ScrnInfoPtr screen, int visual) {
  if (screen == nullptr) return FALSE;
  MessageType from = X_PROBED;
  if (visual < 0) {
    if (screen->display != nullptr && screen->display->defaultVisual >= 0) {
      visual = screen->display->defaultVisual;
      from = X_CONFIG;
    } else {
      visual = screen->depth <= 8 ? PseudoColor : TrueColor;
      from = X_DEFAULT;
    }
  }
  static const char* const kNames[] = {"StaticGray", "GrayScale", "StaticColor",
                                       "PseudoColor", "TrueColor", "DirectColor"};
  if (visual < StaticGray || visual > DirectColor) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "Invalid default visual class (%d)\n", visual);
    return FALSE;
  }
  // Above 8 bits only the colour classes with separate channels fit.
  if (screen->depth > 8 && visual != TrueColor && visual != DirectColor) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "Visual %s is not supported at depth %d\n",
               kNames[visual], screen->depth);
    return FALSE;
  }
  screen->defaultVisual = visual;
  xf86DrvMsg(screen->scrnIndex, from, "Default visual is %s\n", kNames[visual]);
  return TRUE;
}

Bool xf86SetGamma(ScrnInfoPtr screen, Gamma gamma) {
  if (screen == nullptr) return FALSE;
  MessageType from;
  if (screen->monitor != nullptr && GammaSet(screen->monitor->gamma)) {
    gamma = screen->monitor->gamma;
    from = X_CONFIG;
  } else if (GammaSet(gamma)) {
    from = X_PROBED;
  } else {
    gamma = {1.0f, 1.0f, 1.0f};
    from = X_DEFAULT;
  }
  for (float g : {gamma.red, gamma.green, gamma.blue}) {
    if (g < kGammaMin || g > kGammaMax) {
      xf86DrvMsg(screen->scrnIndex, X_ERROR, "Gamma value %.3f is out of range (%.1f-%.1f)\n",
                 static_cast<double>(g), static_cast<double>(kGammaMin),
                 static_cast<double>(kGammaMax));
      return FALSE;
    }
  }
  screen->gamma = gamma;
  xf86DrvMsg(screen->scrnIndex, from, "Using gamma correction (%.1f, %.1f, %.1f)\n",
             static_cast<double>(gamma.red), static_cast<double>(gamma.green),
             static_cast<double>(gamma.blue));
  return TRUE;
}

void xf86SetDpi(ScrnInfoPtr screen, int x, int y) {
  if (screen == nullptr) return;
  constexpr int kDefaultDpi = 75;
  MessageType from = X_CONFIG;
  if (x > 0 && y > 0) {
    screen->xDpi = x;
    screen->yDpi = y;
  } else if (screen->monitor != nullptr && screen->monitor->widthmm > 0 &&
             screen->monitor->heightmm > 0) {
    screen->widthmm = screen->monitor->widthmm;
    screen->heightmm = screen->monitor->heightmm;
    screen->xDpi = static_cast<int>(lround(screen->virtualX * 25.4 / screen->widthmm));
    screen->yDpi = static_cast<int>(lround(screen->virtualY * 25.4 / screen->heightmm));
  } else {
    screen->xDpi = screen->yDpi = kDefaultDpi;
    from = X_DEFAULT;
  }
  if (screen->widthmm <= 0 && screen->xDpi > 0)
    screen->widthmm = static_cast<int>(lround(screen->virtualX * 25.4 / screen->xDpi));
  if (screen->heightmm <= 0 && screen->yDpi > 0)
    screen->heightmm = static_cast<int>(lround(screen->virtualY * 25.4 / screen->yDpi));
  xf86DrvMsg(screen->scrnIndex, from, "DPI set to (%d, %d)\n", screen->xDpi, screen->yDpi);
}

}  // extern "C"
