#include "xdriver/orv_cursor.h"

#include <string.h>

#include <initializer_list>

#include "platform/xserver/xf86_server.h"

#include "core/chip_ids.h"
#include "core/poll.h"
#include "core/regs/cursor.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "xdriver/orv_multihead.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_regs.h"

namespace {

constexpr int kCursorSize = 64;
// Source and mask interleaved in 64-bit units; colours as 0x00RRGGBB even
// at 8 bits per pixel.
constexpr int kCursorFlags =
    HARDWARE_CURSOR_SOURCE_MASK_INTERLEAVE_64 | HARDWARE_CURSOR_TRUECOLOR_AT_8BPP;
// Added to the position on single and merged desktops, and on three- and
// four-head desktops.
constexpr int kSingleOffset = 64;
constexpr uint32_t kSpanOffset = 65;
// Status reads before a position update gives up (the display may be off).
constexpr uint32_t kCursorReadyPolls = 100000;

// Two-colour image: 64 rows of the server's 16 bytes and 16 zero bytes.
constexpr size_t kTwoColourRowBytes = 32;
constexpr size_t kServerRowBytes = 16;
// Sixteen-colour image: 64 rows of nine bit planes of two words, then 14
// zero words.
constexpr size_t kSixteenColourRowWords = 32;
constexpr unsigned kIndexPlanes = 4;
constexpr unsigned kAlphaPlanes = 5;
constexpr unsigned kAlphaFirstBit = 3;

constexpr int kPaletteSize = 16;
constexpr uint32_t kColourMask = 0xFFFFFF;

enum Engine : unsigned { kP, kS };

struct Cursor {
  ScrnInfoPtr screen;
  ORVRec* rec;
  OrvCursorBoard* board;

  uint32_t Controller(Engine e) const { return (board->swapped != 0) == (e == kP) ? 1 : 0; }
  uint32_t ShowMode() const { return board->argb ? kCursorModeSixteenColour : kCursorModeTwoColour; }
  void Out(uint32_t reg, uint32_t value) const { ORV_OUT_REG32(rec, rec->ioBase, reg, value); }
  uint32_t In(uint32_t reg) const { return ORV_IN_REG32(rec, rec->ioBase, reg); }

  void Control(uint32_t controller, uint32_t value) const {
    Out(CursorReg(kRegCursorControl, controller), value);
  }
  // The primary's engine shows the cursor and the secondary's is off, or
  // the other way round.
  void ShowOn(Engine e) const {
    Control(Controller(e == kP ? kS : kP), kCursorModeOff);
    Control(Controller(e), ShowMode());
  }
  void Pos(Engine e, uint32_t x, uint32_t y) const {
    Out(CursorReg(kRegCursorPosition, Controller(e)), CursorPositionWord(x, y));
  }
  // The controller word's cursor bits, by read-modify-write.
  void SpanBits(Engine e, bool set) const {
    const uint32_t reg = ControllerReg(kRegControllerCursorSpan, Controller(e));
    const uint32_t value = In(reg);
    Out(reg, set ? value | kControllerCursorSecondHead : value & ~kControllerCursorSecondHead);
  }
  // Waits until the display takes a position update; false (said once)
  // when it does not.
  bool Ready() const {
    if (PollUntil([&] { return (In(kRegDmaStatus) & kDmaStatusWriteReady) != 0; }, kCursorReadyPolls))
      return true;
    if (!board->waitLogged) {
      xf86DrvMsg(screen->scrnIndex, X_WARNING,
                 "The display did not take a cursor position; cursor updates are skipped until "
                 "it does.\n");
      board->waitLogged = 1;
    }
    return false;
  }
  uint8_t* Image() const {
    return rec->fbBase != nullptr ? rec->fbBase + rec->cursorAperture : nullptr;
  }
};

// Board-wide state for a screen without an entity record (never the case
// for a probed screen) is kept here rather than nowhere.
OrvCursorBoard g_unboundBoard;

Cursor Of(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  OrvCursorBoard* board = rec->pEnt != nullptr ? &rec->pEnt->cursor : &g_unboundBoard;
  return Cursor{screen, rec, board};
}

// Coordinates clamped as the merged, three- and four-head callbacks do: below
// 0 to 0, beyond the last pixel to the virtual size.
int Clamp(int v, int size) {
  if (v < 0) return 0;
  if (v > size - 1) return size;
  return v;
}

void GrowRegion(int32_t region[4], int x0, int y0, int x1, int y1) {
  if (x0 < region[0]) region[0] = x0;
  if (x1 + 1 > region[1]) region[1] = x1 + 1;
  if (y0 < region[2]) region[2] = y0;
  if (y1 + 1 > region[3]) region[3] = y1 + 1;
}

bool InRegion(int x, int y, const int32_t region[4]) {
  const range xr{static_cast<float>(region[1]), static_cast<float>(region[0])};
  const range yr{static_cast<float>(region[3]), static_cast<float>(region[2])};
  return ORVInRegion(x, y, xr, yr) != FALSE;
}

// The fixed sixteen colours of the last reduction level, as red, green, blue.
constexpr uint8_t kFixedColours[kPaletteSize][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128},   {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},     {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255},
};

uint32_t Distance(uint32_t a, uint32_t b) {
  const int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
  const int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
  const int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

// The entry nearest to the colour; the first of equal distances.
int Nearest(uint32_t colour, const uint32_t* palette, int count) {
  int best = 0;
  uint32_t bestDistance = UINT32_MAX;
  for (int i = 0; i < count; ++i) {
    const uint32_t d = Distance(colour, palette[i]);
    if (d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

uint32_t (*const kReductions[])(uint32_t) = {
    ORVCursorColorExact, ORVCursorColor5Bit, ORVCursorColor4Bit,
    ORVCursorColor3Bit,  ORVCursorColor2Bit, ORVCursorColorNearest,
};
constexpr int kLevels = sizeof(kReductions) / sizeof(kReductions[0]);

}  // namespace

// ---- Colour reduction --------------------------------------------------------------------

uint32_t ORVCursorColorExact(uint32_t p) { return p & kColourMask; }

uint32_t ORVCursorColor5Bit(uint32_t p) { return (p & 0xF8F8F8) | ((p & 0xE0E0E0) >> 5); }

uint32_t ORVCursorColor4Bit(uint32_t p) {
  const uint32_t e = p & 0xF0F0F0;
  return e | (e >> 4);
}

uint32_t ORVCursorColor3Bit(uint32_t p) {
  const uint32_t e = p & 0xE0E0E0;
  return e | (e >> 3) | ((e & 0xC0C0C0) >> 6);
}

uint32_t ORVCursorColor2Bit(uint32_t p) {
  const uint32_t e = p & 0xC0C0C0;
  const uint32_t e2 = e | (e >> 2);
  return e2 | (e2 >> 4);
}

uint32_t ORVCursorColorNearest(uint32_t p) {
  uint32_t fixed[kPaletteSize];
  for (int i = 0; i < kPaletteSize; ++i)
    fixed[i] = static_cast<uint32_t>(kFixedColours[i][0]) << 16 |
               static_cast<uint32_t>(kFixedColours[i][1]) << 8 | kFixedColours[i][2];
  return fixed[Nearest(p & kColourMask, fixed, kPaletteSize)];
}

int ORVReduceCursorColors(const CARD32* pixels, int width, int height, uint32_t palette[16]) {
  int count = 1;
  for (int level = 0; level < kLevels; ++level) {
    // The last level can always finish: it has only sixteen colours.
    const int limit = level == kLevels - 1 ? kPaletteSize : kPaletteSize - 1;
    palette[0] = 0;
    count = 1;
    bool fits = true;
    for (int i = 0; i < width * height && fits; ++i) {
      const uint32_t c = kReductions[level](pixels[i]);
      bool known = false;
      for (int k = 0; k < count && !known; ++k) known = palette[k] == c;
      if (known) continue;
      if (count == limit) {
        fits = false;
      } else {
        palette[count++] = c;
      }
    }
    if (fits) break;
  }
  return count;
}

// ---- Record and image callbacks -----------------------------------------------------------

Bool ORVHWCursorInit(ScreenPtr pScreen) {
  ScrnInfoPtr screen = xf86Screens[pScreen->myNum];
  Cursor c = Of(screen);
  ORVRec* rec = c.rec;
  xf86CursorInfoPtr info = xf86CreateCursorInfoRec();
  rec->pCursorInfo = info;
  if (info == nullptr) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR,
               "Cannot initialize hardware cursor, falling back to software cursor.\n");
    rec->hwCursor = FALSE;
    return FALSE;
  }
  info->MaxWidth = kCursorSize;
  info->MaxHeight = kCursorSize;
  info->Flags = kCursorFlags;
  info->SetCursorColors = ORVSetCursorColors;
  if (rec->merged) {
    info->SetCursorPosition = ORVMergeSetCursorPosition;
    info->ShowCursor = ORVMergeShowCursor;
    int32_t* r1 = c.board->regions[0];
    r1[0] = rec->head1Frame[0];
    r1[1] = rec->head1Frame[2] + 1;
    r1[2] = rec->head1Frame[1];
    r1[3] = rec->head1Frame[3] + 1;
    if (ScrnInfoPtr second = rec->aux[0]) {
      int32_t* r2 = c.board->regions[1];
      r2[0] = second->frameX0;
      r2[1] = second->frameX1 + 1;
      r2[2] = second->frameY0;
      r2[3] = second->frameY1 + 1;
    }
  } else if (rec->spanthree) {
    info->SetCursorPosition = ORVTripleSetCursorPosition;
    info->ShowCursor = ORVTripleShowCursor;
  } else if (rec->spanfour) {
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Using Spanfour Cursor.\n");
    info->SetCursorPosition = ORVQuadSetCursorPosition;
    info->ShowCursor = ORVQuadShowCursor;
  } else {
    info->SetCursorPosition = ORVSetCursorPosition;
    info->ShowCursor = ORVShowCursor;
  }
  info->LoadCursorImage = ORVLoadCursorImage;
  info->HideCursor = ORVHideCursor;
  info->UseHWCursor = ORVUseHWCursor;
  info->UseHWCursorARGB = ORVUseHWCursorARGB;
  info->LoadCursorARGB = ORVLoadCursorARGB;
  if (rec->kvd && rec->quadBoard && rec->invertedQuad && !rec->merged) {
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Swapping cursor order.\n");
    c.board->swapped = 1;
  }
  for (Engine e : {kP, kS}) {
    c.Out(CursorReg(kRegCursorImageBase, c.Controller(e)), rec->cursorOffset);
    c.Out(CursorReg(kRegCursorImageFormat, c.Controller(e)), kCursorFormatTwoColour);
  }
  return xf86InitCursor(pScreen, info);
}

void ORVSetCursorColors(ScrnInfoPtr screen, int bg, int fg) {
  Cursor c = Of(screen);
  if (c.board->argb) return;
  for (uint32_t controller = 0; controller < kCursorEngines; ++controller) {
    c.Control(controller, kCursorModeTwoColour);
    c.Out(CursorReg(kRegCursorPalette, controller), static_cast<uint32_t>(bg));
    c.Control(controller, CursorPaletteEntry::Word(1) | CursorMode::Word(kCursorModeTwoColour));
    c.Out(CursorReg(kRegCursorPalette, controller), static_cast<uint32_t>(fg));
  }
}

void ORVLoadCursorImage(ScrnInfoPtr screen, unsigned char* bits) {
  Cursor c = Of(screen);
  c.board->argb = 0;
  for (uint32_t controller = 0; controller < kCursorEngines; ++controller) {
    c.Out(CursorReg(kRegCursorImageBase, controller), c.rec->cursorOffset);
    c.Out(CursorReg(kRegCursorImageFormat, controller), kCursorFormatTwoColour);
  }
  uint8_t* image = c.Image();
  if (image == nullptr || bits == nullptr) return;
  for (int row = 0; row < kCursorSize; ++row) {
    uint8_t* line = image + row * kTwoColourRowBytes;
    memcpy(line, bits + row * kServerRowBytes, kServerRowBytes);
    memset(line + kServerRowBytes, 0, kTwoColourRowBytes - kServerRowBytes);
  }
}

void ORVLoadCursorARGB(ScrnInfoPtr screen, CursorPtr cursor) {
  Cursor c = Of(screen);
  const CursorBits* bits = cursor->bits;
  const int w = bits->width < kCursorSize ? bits->width : kCursorSize;
  const int h = bits->height < kCursorSize ? bits->height : kCursorSize;
  uint8_t index[kCursorSize][kCursorSize] = {};
  uint8_t alpha[kCursorSize][kCursorSize] = {};
  c.board->argb = 1;
  if (bits->argb == nullptr) return;
  // The cursor's own rows are bits->width pixels apart; a wider one is cut.
  CARD32 pixels[kCursorSize * kCursorSize];
  for (int y = 0; y < h; ++y) memcpy(pixels + y * w, bits->argb + y * bits->width, 4u * w);
  uint32_t palette[kPaletteSize];
  const int count = ORVReduceCursorColors(pixels, w, h, palette);
  for (Engine e : {kP, kS})
    c.Out(CursorReg(kRegCursorImageFormat, c.Controller(e)), kCursorFormatSixteenColour);
  for (int i = 0; i < count; ++i) {
    for (uint32_t controller = 0; controller < kCursorEngines; ++controller) {
      c.Control(controller, CursorPaletteEntry::Word(static_cast<uint32_t>(i)) |
                                CursorMode::Word(kCursorModeSixteenColour));
      c.Out(CursorReg(kRegCursorPalette, controller), palette[i]);
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const CARD32 p = pixels[y * w + x];
      index[y][x] = static_cast<uint8_t>(Nearest(p & kColourMask, palette, count));
      alpha[y][x] = static_cast<uint8_t>(p >> 24);
    }
  }
  uint8_t* image = c.Image();
  if (image == nullptr) return;
  for (int y = 0; y < kCursorSize; ++y) {
    uint32_t words[kSixteenColourRowWords] = {};
    for (int x = 0; x < kCursorSize; ++x) {
      const uint32_t bit = 1u << (x % 32);
      const int half = x / 32;
      for (unsigned k = 0; k < kIndexPlanes; ++k)
        if (index[y][x] >> k & 1) words[2 * k + half] |= bit;
      for (unsigned k = 0; k < kAlphaPlanes; ++k)
        if (alpha[y][x] >> (kAlphaFirstBit + k) & 1) words[2 * (kIndexPlanes + k) + half] |= bit;
    }
    memcpy(image + y * sizeof(words), words, sizeof(words));
  }
}

void ORVHideCursor(ScrnInfoPtr screen) {
  Cursor c = Of(screen);
  c.Control(c.Controller(kP), kCursorModeOff);
  c.Control(c.Controller(kS), kCursorModeOff);
}

Bool ORVUseHWCursor(ScreenPtr, CursorPtr cursor) {
  return cursor->bits->width <= kCursorSize && cursor->bits->height <= kCursorSize;
}

Bool ORVUseHWCursorARGB(ScreenPtr screen, CursorPtr cursor) { return ORVUseHWCursor(screen, cursor); }

// ---- Single-head desktops ---------------------------------------------------------------------

void ORVSetCursorPosition(ScrnInfoPtr screen, int x, int y) {
  Cursor c = Of(screen);
  ORVRec* rec = c.rec;
  // No clamping here: the register keeps the low 15 bits.
  const uint32_t X = static_cast<uint32_t>(x) + kSingleOffset;
  const uint32_t Y = static_cast<uint32_t>(y) + kSingleOffset;
  if (!c.Ready()) return;
  const bool next3 = rec->chipId == kDeviceKestrionNext3;
  // Which engine, and how its controller's cursor bits change (+1 set, -1
  // clear, 0 leave).
  Engine e;
  int bits = 0;
  if (rec->s4i) {
    switch (rec->head) {
      case 0: e = kP; bits = -1; break;
      case 1: e = kS; bits = 1; break;
      case 2: e = next3 ? kS : kP; bits = next3 ? -1 : 1; break;
      case 3: e = next3 ? kP : kS; bits = next3 ? 1 : -1; break;
      default: return;
    }
  } else if (rec->s3i) {
    switch (rec->head) {
      case 0: e = kS; bits = -1; break;
      case 1: e = kP; bits = -1; break;
      case 2: e = kS; bits = 1; break;
      default: return;
    }
  } else {
    e = rec->head == 0 ? kP : kS;
  }
  // On S3I head 1 the secondary's bits are cleared although the primary shows.
  if (bits != 0) c.SpanBits(rec->s3i && rec->head == 1 ? kS : e, bits > 0);
  c.Pos(e, X, Y);
  c.ShowOn(e);
  rec->cursorShownOn = static_cast<uint8_t>(e == kP ? 1 : 2);
}

void ORVShowCursor(ScrnInfoPtr screen) {
  Cursor c = Of(screen);
  ORVRec* rec = c.rec;
  const bool next3 = rec->chipId == kDeviceKestrionNext3;
  switch (rec->cursorFrame) {
    case 0:
      // No frame on a single head: show where the last position went.
      if (rec->cursorShownOn != 0) c.ShowOn(rec->cursorShownOn == 1 ? kP : kS);
      return;
    case 1:
      if (rec->s4i) {
        c.SpanBits(kP, false);
        c.ShowOn(kP);
      } else {
        c.ShowOn(kS);
      }
      return;
    case 2:
      if (rec->s4i) {
        c.SpanBits(kS, true);
        c.ShowOn(kS);
      } else {
        c.SpanBits(kS, false);
        c.ShowOn(kP);
      }
      return;
    case 3:
      if (!rec->s4i) {
        c.ShowOn(kS);
      } else if (next3) {
        c.SpanBits(kS, false);
        c.ShowOn(kS);
      } else {
        c.SpanBits(kP, true);
        c.ShowOn(kP);
      }
      return;
    case 4:
      if (!rec->s4i) return;
      if (next3) {
        c.SpanBits(kP, true);
        c.ShowOn(kP);
      } else {
        c.SpanBits(kS, false);
        c.ShowOn(kS);
      }
      return;
    default:
      return;
  }
}

// ---- Merged desktop ------------------------------------------------------------------------------

void ORVMergeSetCursorPosition(ScrnInfoPtr screen, int x, int y) {
  Cursor c = Of(screen);
  ORVRec* rec = c.rec;
  int32_t* r1 = c.board->regions[0];
  int32_t* r2 = c.board->regions[1];
  GrowRegion(r1, rec->head1Frame[0], rec->head1Frame[1], rec->head1Frame[2], rec->head1Frame[3]);
  if (ScrnInfoPtr second = rec->aux[0])
    GrowRegion(r2, second->frameX0, second->frameY0, second->frameX1, second->frameY1);
  x = Clamp(x, screen->virtualX);
  y = Clamp(y, screen->virtualY);
  const bool in1 = InRegion(x, y, r1);
  const bool in2 = InRegion(x, y, r2);
  const int X = x + kSingleOffset;
  const int Y = y + kSingleOffset;
  if (!c.Ready()) return;
  const OrvMergedPair* pair = OrvMergedPairOf(screen->currentMode);
  const int position = pair != nullptr ? pair->position : rec->monitor2Position;
  const int X1 = position == kPositionLeftOf ? X - r2[1] : X;
  const int Y1 = position == kPositionAbove ? Y - r2[3] : Y;
  const int X2 = position == kPositionRightOf ? X - r1[1] : X;
  const int Y2 = position == kPositionBelow ? Y - r1[3] : Y;
  auto pos = [&](Engine e, int px, int py) {
    c.Pos(e, static_cast<uint32_t>(px), static_cast<uint32_t>(py));
  };
  if (position == kPositionClone) {
    c.Control(c.Controller(kP), c.ShowMode());
    c.Control(c.Controller(kS), c.ShowMode());
    pos(kP, X, Y);
    pos(kS, X, Y);
    return;
  }
  if (position < kPositionLeftOf || position > kPositionClone) return;
  if (in1) {
    if (rec->cursorFrame != 1) c.ShowOn(kP);
    pos(kP, X1, Y1);
    rec->cursorFrame = 1;
  } else if (in2) {
    if (rec->cursorFrame != 2) c.ShowOn(kS);
    pos(kS, X2, Y2);
    rec->cursorFrame = 2;
  } else if (rec->cursorFrame == 1) {
    c.ShowOn(kP);
    pos(kP, X1, Y1);
  } else if (rec->cursorFrame == 2) {
    c.ShowOn(kS);
    pos(kS, X2, Y2);
  }
}

void ORVMergeShowCursor(ScrnInfoPtr screen) {
  Cursor c = Of(screen);
  c.ShowOn(c.rec->merged && c.rec->cursorFrame != 1 ? kS : kP);
}

// ---- Three- and four-head desktops ------------------------------------------------------------------

void ORVTripleSetCursorPosition(ScrnInfoPtr screen, int x, int y) {
  Cursor c = Of(screen);
  ORVRec* rec = c.rec;
  const uint32_t t = static_cast<uint32_t>(screen->virtualX / 3);
  const uint32_t ux = static_cast<uint32_t>(Clamp(x, screen->virtualX));
  const uint32_t uy = static_cast<uint32_t>(Clamp(y, screen->virtualY)) + kSpanOffset;
  if (!c.Ready()) return;
  const uint8_t previous = rec->cursorFrame;
  if (ux < t - 1) {
    rec->cursorFrame = 1;
    c.Pos(kS, ux + kSpanOffset, uy);
    c.ShowOn(kS);
  } else if (ux <= 2 * t - 2) {
    if (previous == 3) c.SpanBits(kS, false);
    rec->cursorFrame = 2;
    c.Pos(kP, ux + kSpanOffset - t, uy);
    c.ShowOn(kP);
  } else {
    if (previous == 2) c.SpanBits(kS, true);
    rec->cursorFrame = 3;
    c.Pos(kS, ux + kSpanOffset - 2 * t, uy);
    c.ShowOn(kS);
  }
}

void ORVTripleShowCursor(ScrnInfoPtr screen) {
  Cursor c = Of(screen);
  switch (c.rec->cursorFrame) {
    case 1:
    case 3:
      c.ShowOn(kS);
      break;
    case 2:
      c.SpanBits(kS, false);
      c.ShowOn(kP);
      break;
    default:
      break;
  }
}

void ORVQuadSetCursorPosition(ScrnInfoPtr screen, int x, int y) {
  Cursor c = Of(screen);
  ORVRec* rec = c.rec;
  const int n = screen->scrnIndex;
  const uint32_t q = static_cast<uint32_t>(screen->virtualX / 4);
  const uint32_t ux = static_cast<uint32_t>(Clamp(x, screen->virtualX));
  const uint32_t uy = static_cast<uint32_t>(Clamp(y, screen->virtualY)) + kSpanOffset;
  if (!c.Ready()) return;
  const uint8_t previous = rec->cursorFrame;
  if (ux < q - 1) {
    xf86DrvMsg(n, X_INFO, "SetCursor Frame[1].\n");
    rec->cursorFrame = 1;
    if (previous == 2) c.SpanBits(kP, false);
    c.Pos(kP, ux + kSpanOffset, uy);
    c.ShowOn(kP);
  } else if (ux <= 2 * q - 2) {
    xf86DrvMsg(n, X_INFO, "SetCursor Frame[2].\n");
    rec->cursorFrame = 2;
    if (previous == 1 || previous == 3) c.SpanBits(kS, true);
    c.Pos(kS, ux + kSpanOffset - q, uy);
    c.ShowOn(kS);
  } else if (ux <= 3 * q - 3) {
    xf86DrvMsg(n, X_INFO, "SetCursor Frame[3].\n");
    rec->cursorFrame = 3;
    if (previous == 2 || previous == 4) c.SpanBits(kP, true);
    c.Pos(kP, ux + kSpanOffset - 2 * q, uy);
    c.ShowOn(kP);
  } else {
    xf86DrvMsg(n, X_INFO, "SetCursor Frame[4].\n");
    rec->cursorFrame = 4;
    if (previous == 3) c.SpanBits(kS, false);
    c.Pos(kS, ux + kSpanOffset - 3 * q, uy);
    c.ShowOn(kS);
  }
}

void ORVQuadShowCursor(ScrnInfoPtr screen) {
  Cursor c = Of(screen);
  const int n = screen->scrnIndex;
  switch (c.rec->cursorFrame) {
    case 1:
      xf86DrvMsg(n, X_INFO, "ShowCursor Frame[1].\n");
      c.SpanBits(kP, false);
      c.ShowOn(kP);
      break;
    case 2:
      xf86DrvMsg(n, X_INFO, "ShowCursor Frame[2].\n");
      c.SpanBits(kS, true);
      c.ShowOn(kS);
      break;
    case 3:
      xf86DrvMsg(n, X_INFO, "ShowCursor Frame[3].\n");
      c.SpanBits(kP, true);
      c.ShowOn(kP);
      break;
    case 4:
      xf86DrvMsg(n, X_INFO, "ShowCursor Frame[4].\n");
      c.SpanBits(kS, false);
      c.ShowOn(kS);
      break;
    default:
      break;
  }
}
