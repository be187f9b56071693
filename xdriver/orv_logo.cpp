#include "xdriver/orv_logo.h"

#include <stdio.h>
#include <string.h>

#include "platform/xserver/xf86_server.h"
#include "platform/xserver/xservices.h"
#include "xdriver/orv_options.h"
#include "xdriver/orv_palette.h"

namespace {

constexpr int kMaxCopies = 4;
constexpr unsigned kHoldSeconds = 2;
constexpr int kPaletteEntries = 256;

// Background colours by depth: without acceleration or real bus mastering,
// and with them (the two logos' main colours).
struct Background {
  int depth;
  uint32_t plain;
  uint32_t accelerated;
};
constexpr Background kBackgrounds[] = {
    {8, 0, 0},
    {15, 0x3991, 0x10B0},
    {16, 0x7311, 0x1170},
    {24, 0x73618C, 0x0C2D83},
    {30, 0x1CC61230, 0x0302D20C},
};

// The accelerated logo needs acceleration and real bus mastering through the
// kernel module; local and emulated DMA show the plain one.
bool Accelerated(const ORVRec* rec) { return !rec->noAccel && rec->busMastering == kBusMasteringKernel; }

int PixelBytes(int depth) { return depth == 8 ? 1 : (depth == 15 || depth == 16 ? 2 : 4); }

bool Rotated(const ORVRec* rec) { return rec->shadowRotate != 0 || rec->hwRotate != 0; }

// A 24-bit colour as a pixel of the depth (8: its place in the palette).
uint32_t PixelOf(uint32_t c, int depth) {
  switch (depth) {
    case 15:
      return ((c >> 19) << 10 & 0x7FFF) | ((c >> 11) << 5 & 0x3FF) | ((c >> 3) & 0x1F);
    case 16:
      return ((c >> 19) << 11) | ((c >> 10) << 5 & 0x7FF) | ((c >> 3) & 0x1F);
    case 30:
      return ((c << 6) & 0x3FC00000) | (((c >> 8) & 0xFF) << 12) | ((c & 0xFF) << 2);
    default:
      return c;
  }
}

// The head's framebuffer and the bytes of it the logo may touch.
struct Target {
  uint8_t* base;
  size_t bytes;
};
Target HeadTarget(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->fbBase == nullptr) return {nullptr, 0};
  const size_t lines = static_cast<size_t>(Rotated(rec) ? screen->virtualX : screen->virtualY);
  size_t bytes = lines * static_cast<size_t>(screen->displayWidth) * static_cast<size_t>(PixelBytes(screen->depth));
  if (rec->fbMemSize != 0 && bytes > rec->fbMemSize) bytes = rec->fbMemSize;
  return {rec->fbBase + rec->fbOffset, bytes};
}

void Put(const Target& t, int64_t pixel, int size, uint32_t value) {
  if (pixel < 0) return;
  const uint64_t at = static_cast<uint64_t>(pixel) * static_cast<uint64_t>(size);
  if (at + static_cast<uint64_t>(size) > t.bytes) return;
  memcpy(t.base + at, &value, static_cast<size_t>(size));
}

struct Copies {
  int count;
  int cx, cy;
  int64_t offsets[kMaxCopies];
  int cyStep;  // added to cy after each copy
};

Copies PlaceCopies(ScrnInfoPtr screen, const ORVRec* rec) {
  const DisplayModeRec* mode = screen->currentMode;
  const int hd = mode != nullptr ? mode->HDisplay : screen->virtualX;
  const int vd = mode != nullptr ? mode->VDisplay : screen->virtualY;
  const int wm = static_cast<int>(rec->modeInfo.ulDispWidth);
  const int hm = static_cast<int>(rec->modeInfo.ulDispHeight);
  const int dw = screen->displayWidth;
  const int vx = screen->virtualX;
  Copies c{1, hd / 2, vd / 2, {0, 0, 0, 0}, 0};
  if (rec->spanthree) {
    c = {3, hd / 6, vd / 2, {0, vx / 3, (vx / 3) * 2, 0}, 0};
  } else if (rec->spanfour) {
    c = {4, hd / 2, vd / 2,
         {-(wm / 2), vx / 8, static_cast<int64_t>((vx / 4) * 2.5), static_cast<int64_t>((vx / 4) * 1.5)}, 0};
  } else if (rec->merged &&
             (rec->monitor2Position == kPositionAbove || rec->monitor2Position == kPositionBelow)) {
    const bool softwareOnly = rec->shadowRotate != 0 && rec->hwRotate == 0;
    c = {2, hd / 2, vd / 4, {0, 0, 0, 0}, softwareOnly ? wm : hm};
  } else if (rec->merged) {
    if (Rotated(rec)) {
      const int64_t first = -static_cast<int64_t>(hm / 2) * dw;
      c = {2, hd / 2, vd / 2, {first, first + static_cast<int64_t>(dw) * hm, 0, 0}, 0};
    } else {
      const ORVRec* second = rec->aux[0] != nullptr ? ORVPTR(rec->aux[0]) : nullptr;
      const int secondWidth = second != nullptr ? static_cast<int>(second->modeInfo.ulDispWidth) : wm;
      c = {2, hd / 2, vd / 2, {-(wm / 2), secondWidth / 2, 0, 0}, 0};
    }
  } else if (rec->quadBoard && rec->gnlk) {
    int d = 1;
    if (rec->hwRotate == kRotateCW) {
      while (d < hd) d <<= 1;
    }
    c = {2, hd / 2, vd / 4, {0, static_cast<int64_t>(d) * (vd / 2), 0, 0}, 0};
  }
  return c;
}

}  // namespace

bool ORVLogoWanted(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  return rec->pOptions == nullptr || !xf86IsOptionSet(rec->pOptions, OPTION_NOLOGO);
}

void ORVDisplayLogo(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (screen->depth == 8 && rec->head != 0) return;
  const bool accelerated = Accelerated(rec);
  const Target t = HeadTarget(screen);
  for (const Background& b : kBackgrounds) {
    if (b.depth != screen->depth || t.base == nullptr) continue;
    const int size = PixelBytes(screen->depth);
    const uint32_t colour = accelerated ? b.accelerated : b.plain;
    const int rows = Rotated(rec) ? screen->virtualX : screen->virtualY;
    const int columns = Rotated(rec) ? screen->virtualY : screen->virtualX;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < columns; ++x)
        Put(t, static_cast<int64_t>(y) * screen->displayWidth + x, size, colour);
  }
  if (accelerated) {
    ORVDisplayXPM(screen, kOrvLogoAccelerated, kOrvLogoAcceleratedLines);
  } else {
    ORVDisplayXPM(screen, kOrvLogoPlain, kOrvLogoPlainLines);
  }
}

void ORVDisplayXPM(ScrnInfoPtr screen, const char* const* lines, size_t count) {
  ORVRec* rec = ORVPTR(screen);
  int w = 0, h = 0, ncolors = 0;
  if (lines == nullptr || count == 0 || sscanf(lines[0], "%d %d %d", &w, &h, &ncolors) != 3) return;
  if (w <= 0 || h <= 0 || ncolors < 1 || static_cast<size_t>(ncolors) + static_cast<size_t>(h) + 1 > count) return;

  // The colours by key, and in the order they were given.
  bool known[256] = {};
  uint32_t colourOf[256] = {};
  uint32_t parsed[256];
  int nparsed = 0;
  for (int i = 0; i < ncolors - 1 && nparsed < 256; ++i) {
    char key = 0, kind = 0;
    unsigned int c = 0;
    if (sscanf(lines[i + 2], "%c %c #%6x", &key, &kind, &c) != 3) continue;
    const uint8_t k = static_cast<uint8_t>(key);
    known[k] = true;
    colourOf[k] = c;
    parsed[nparsed++] = c;
  }
  const int depth = screen->depth;
  if (depth == 8) {
    int indices[kPaletteEntries];
    LOCO colours[kPaletteEntries];
    for (int k = 0; k < kPaletteEntries; ++k) {
      const uint32_t c = k < nparsed ? parsed[k] : 0;
      indices[k] = k;
      colours[k] = {static_cast<unsigned short>((c >> 16) & 0xFF), static_cast<unsigned short>((c >> 8) & 0xFF),
                    static_cast<unsigned short>(c & 0xFF)};
    }
    ORVLoadBothPalette(screen, kPaletteEntries, indices, colours);
  }
  auto pixelOfKey = [&](uint8_t key) -> uint32_t {
    if (depth != 8) return PixelOf(colourOf[key], depth);
    for (int k = 0; k < nparsed; ++k)
      if (parsed[k] == colourOf[key]) return static_cast<uint32_t>(k);
    return static_cast<uint32_t>(ncolors - 1);
  };
  // The key at (column, row) of the image, 0 past a short line.
  auto keyAt = [&](size_t line, int column) -> uint8_t {
    if (line >= count || column < 0 || static_cast<size_t>(column) >= strlen(lines[line])) return 0;
    return static_cast<uint8_t>(lines[line][column]);
  };

  const Target t = HeadTarget(screen);
  if (t.base == nullptr) return;
  const int size = PixelBytes(depth);
  const int64_t dw = screen->displayWidth;
  const bool rotated = Rotated(rec);
  const bool clockwiseSoftware = rec->shadowRotate == kRotateCW;
  Copies copies = PlaceCopies(screen, rec);
  for (int copy = 0; copy < copies.count; ++copy) {
    const int x0 = copies.cx - w / 2, y0 = copies.cy - h / 2;
    const int64_t offset = copies.offsets[copy];
    if (!rotated) {
      for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) {
          const uint8_t key = keyAt(static_cast<size_t>(ncolors + 1 + i), j);
          if (!known[key]) continue;
          Put(t, x0 + j + offset + dw * (y0 + i), size, pixelOfKey(key));
        }
    } else {
      for (int i = 0; i < w; ++i)
        for (int j = 0; j < h; ++j) {
          const uint8_t key = clockwiseSoftware ? keyAt(static_cast<size_t>(h + ncolors - j), i)
                                                : keyAt(static_cast<size_t>(j + ncolors + 1), w - i - 1);
          if (!known[key]) continue;
          Put(t, y0 + j + offset + static_cast<int64_t>(x0 + i) * dw, size, pixelOfKey(key));
        }
    }
    copies.cy += copies.cyStep;
  }
  const bool noHold = rec->s3i && (rec->head == 0 || rec->head == 1);
  xf86sleep(noHold ? 0 : kHoldSeconds);
}
