// Mode switching: the head's mode record filled from an X mode with the
// head's routing to controllers and outputs, the normal mode-init routine
// and the head rectangles of the current mode.
#include "xdriver/orv_modeinit.h"

#include <string.h>

#include "core/chip_ids.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/orv_multihead.h"

namespace {

// flSignalMode bits.
constexpr uint32_t kSignalInterlace = 0x1;
constexpr uint32_t kSignalPositiveHSync = 0x4;
constexpr uint32_t kSignalPositiveVSync = 0x8;
constexpr uint32_t kSignalDefault = 0x10;        // TV standard field: 1
constexpr uint32_t kSignalPackedPixel = 0x4000;
constexpr uint32_t kSignalTvField = 0x30;
constexpr uint32_t kSignalPal60 = 0x20;
constexpr uint32_t kSignalNtsc = 0x10;
constexpr uint32_t kSignalKvd = 0x80000;
// flOutput: pitch and display origin carried (bits 0x4000 and 0x8000).
constexpr uint32_t kOutputPitchAndOrigin = 0xC000;
constexpr uint32_t kOutputTvClone = 0x90000;

constexpr uint32_t kRefreshMilliHz = 60000;
constexpr uint32_t kRefreshPalMilliHz = 50000;
constexpr uint32_t kTvStandardWordDefault = 1;
constexpr uint32_t kTvCableWord = 5;

// TV mode records: 720 pixels; 576 lines for PAL and PAL60, else 484.
constexpr uint32_t kTvWidth = 720;
constexpr uint32_t kTvLinesPal = 576;
constexpr uint32_t kTvLinesNtsc = 484;
constexpr OrvRegion kTvOutputRegion576 = {37, 48, 672, 539};
constexpr OrvRegion kTvOutputRegion484 = {37, 48, 672, 447};
constexpr int32_t kFeatureFlagsTvMode = 8;

// Desktop kinds of the routing, combinable.
enum Desktop : uint32_t {
  kDesktopMerged = 1,
  kDesktopSpanthree = 2,
  kDesktopSpanfour = 4,
  kDesktopS3I = 8,
  kDesktopS4I = 16,
};

uint32_t RoundUp32(int value) { return static_cast<uint32_t>((value + 31) & ~31); }

// The head the routing serves: the merged desktop's second head counts as
// head 1.
int EffectiveHead(const ORVRec* rec) { return rec->head + (rec->merged && rec->head2 ? 1 : 0); }

// One routing choice: the controller mask given to the head and the output
// bits.
struct Route {
  uint32_t controller;
  uint32_t output;
};

// Routing of heads 0 and 1 on a normal or merged desktop.
void CommonRouting(ScrnInfoPtr screen, ORVRec* rec, QLBMODEINFO* mi, int head) {
  const bool quad = rec->quadBoard != 0;
  const bool kvd = quad && rec->kvd;
  const bool kvdtv = quad && rec->kvdtv;
  const bool inverted = quad && rec->invertedQuad;
  const bool digital = head == 1 ? rec->digital2 != 0 : rec->digital1 != 0;
  if (kvd) mi->flSignalMode |= kSignalKvd;
  Route route;
  if (kvdtv) {
    if (rec->tvStandard == kOrvTvPal60) {
      if (head == 0) mi->flSignalMode &= ~kSignalTvField;
      mi->flSignalMode |= kSignalPal60;
      mi->ulTvStandard = 2;
      mi->ulRefreshRate = kRefreshMilliHz;
    } else if (rec->tvStandard == kOrvTvPal) {
      mi->flSignalMode &= ~kSignalTvField;
      mi->ulTvStandard = 0;
      mi->ulRefreshRate = kRefreshPalMilliHz;
    } else {
      if (head == 0) mi->flSignalMode &= ~kSignalTvField;
      mi->flSignalMode |= kSignalNtsc;
      mi->ulTvStandard = 1;
      mi->ulRefreshRate = kRefreshMilliHz;
    }
    if (kvd) {
      route = head == 0 ? (inverted ? Route{2, 0x81800} : Route{1, 0x600})
                        : (inverted ? Route{1, 0x600} : Route{2, 0x81800});
    } else {
      route = head == 0 ? (inverted ? Route{2, 0x80800} : Route{1, 0x200})
                        : (inverted ? Route{1, 0x400} : Route{2, 0x80800});
    }
  } else if (digital) {
    if (head == 0) {
      if (kvd) route = inverted ? Route{2, 0x80180} : Route{1, 0x60};
      else route = inverted ? Route{2, 0x80100} : Route{1, 0x20};
    } else if (!quad) {
      route = {2, 0x80040};
    } else if (!kvd) {
      route = inverted ? Route{1, 0x40} : Route{2, 0x80080};
    } else {
      route = inverted ? Route{1, 0x60} : Route{2, 0x80180};
    }
  } else {
    if (head == 0) {
      if (kvd) route = inverted ? Route{2, 0x80018} : Route{1, 0x6};
      else route = inverted ? Route{2, 0x80010} : Route{1, 0x2};
    } else if (kvd) {
      route = inverted ? Route{1, 0x6} : Route{2, 0x80018};
    } else if (!quad) {
      route = {2, 0x80004};
    } else {
      route = inverted ? Route{1, 0x4} : Route{2, 0x80008};
    }
  }
  OrvModeConfig_AssignController(screen, head, route.controller);
  mi->flOutput |= kOutputPitchAndOrigin | route.output;
}

void Routing(ScrnInfoPtr screen, ORVRec* rec, QLBMODEINFO* mi, int head) {
  uint32_t desktop = 0;
  if (rec->merged) desktop |= kDesktopMerged;
  if (rec->spanthree) desktop |= kDesktopSpanthree;
  if (rec->spanfour) desktop |= kDesktopSpanfour;
  if (rec->s3i) desktop |= kDesktopS3I;
  if (rec->s4i) desktop |= kDesktopS4I;
  const bool plain = (desktop & ~kDesktopMerged) == 0;
  const bool chip5D63 = rec->chipId == kDeviceKestrionNext3;
  // Head 1 of an S3I desktop drives output 0: its digital flag is the
  // first one.
  const bool analog = (rec->s3i ? rec->digital1 : rec->digital2) == 0;
  switch (head) {
    case 1:
      if (desktop == kDesktopS3I) {
        OrvModeConfig_AssignController(screen, 1, 2);
        mi->flOutput |= analog ? 0xC000 : 0x10C020;
        if (rec->quadBoard && rec->kvdtv) mi->flOutput |= 0x100200;
        if (analog) mi->flOutput |= 0x100002;
      } else if (desktop == kDesktopS4I) {
        OrvModeConfig_AssignController(screen, 1, 2);
        mi->flOutput |= 0x9C004;
      } else if (plain) {
        CommonRouting(screen, rec, mi, 1);
      }
      break;
    case 2:
      OrvModeConfig_AssignController(screen, 2, 8);
      if (desktop & kDesktopS4I) mi->flOutput |= chip5D63 ? 0x8C008 : 0x1C008;
      else if (desktop & kDesktopS3I) mi->flOutput |= 0x8C010;
      else mi->flOutput |= 0xC008;
      break;
    case 3:
      OrvModeConfig_AssignController(screen, 3, 8);
      if (desktop & kDesktopS4I) mi->flOutput |= chip5D63 ? 0x1C010 : 0x8C010;
      else mi->flOutput |= 0xC010;
      break;
    default:
      // S4I together with other desktop kinds leaves head 0 unrouted.
      if ((desktop & kDesktopS4I) && desktop != kDesktopS4I) break;
      if (rec->spanthree) {
        if (rec->tripleOutputChoice == 0) rec->tripleOutputChoice = 2;
        ORVTripleSelectOutput(screen);
      } else if (rec->spanfour) {
        OrvModeConfig_AssignController(screen, 0, 1);
        ORVQuadSelectOutput(screen);
      } else if (rec->s3i) {
        OrvModeConfig_AssignController(screen, 0, 2);
        mi->flOutput |= 0x29C004;
      } else if (rec->s4i) {
        OrvModeConfig_AssignController(screen, 0, 1);
        mi->flOutput |= 0x10C002;
      } else {
        CommonRouting(screen, rec, mi, 0);
      }
      break;
  }
}

void PrintWord(const char* label, uint32_t value, const char* text) {
  ErrorF("   %-15s: %08u  %s\n", label, value, text);
}

void PrintRate(const char* label, uint32_t value, const char* text) {
  ErrorF("   %-15s: %03u.%03u  %s\n", label, value / 1000, value % 1000, text);
}

constexpr char kDashes[] =
    "------------------------------------------------------------------------\n";

}  // namespace

void ORVFillModeInfoStruct(ScrnInfoPtr screen, DisplayModePtr mode, QLBMODEINFO* mi, int kind) {
  ORVRec* rec = ORVPTR(screen);
  memset(mi, 0, sizeof(*mi));
  if (mode == nullptr) return;
  const bool validating = (kind & kFillValidate) != 0;
  const bool kvdQuad = rec->kvd && rec->quadBoard;

  // The driver's own modes describe the head through their source.
  const DisplayModeRec* m = mode;
  if (OrvMergedPair* pair = OrvMergedPairOf(mode)) {
    m = rec->merged && rec->head2 ? pair->mode2 : pair->mode1;
  } else if (OrvModePriv(mode) != nullptr) {
    m = OrvSourceMode(mode);
  }

  const bool rotated = rec->shadowRotate != 0 || rec->hwRotate != 0;
  const bool halve = kvdQuad && !validating;
  mi->ulDispWidth = static_cast<uint32_t>(halve ? m->HDisplay / 2 : m->HDisplay);
  mi->ulDispHeight = static_cast<uint32_t>(m->VDisplay);
  mi->ulDeskWidth = RoundUp32(rotated ? screen->virtualY : screen->virtualX);
  mi->ulDeskHeight = RoundUp32(rotated ? screen->virtualX : screen->virtualY);
  mi->ulFBPitch = mi->ulDeskWidth;
  mi->ulDepth = static_cast<uint32_t>(screen->depth);
  mi->ulBpp = static_cast<uint32_t>(screen->bitsPerPixel);
  mi->ulZoom = 1;
  mi->flSignalMode = kSignalDefault | (rec->packedPixel ? kSignalPackedPixel : 0);
  if (m->Flags & V_PHSYNC) mi->flSignalMode |= kSignalPositiveHSync;
  if (m->Flags & V_PVSYNC) mi->flSignalMode |= kSignalPositiveVSync;
  if (m->Flags & V_INTERLACE) mi->flSignalMode |= kSignalInterlace;
  mi->ulRefreshRate = kRefreshMilliHz;
  mi->ulHorizRate = m->HTotal > 0 ? static_cast<uint32_t>(static_cast<uint64_t>(m->Clock) * 1000 /
                                                          static_cast<uint32_t>(m->HTotal))
                                  : 0;
  mi->ulPixClock = static_cast<uint32_t>(m->Clock);
  const int frontDisplay = rec->packedPixel || halve ? m->HDisplay / 2 : m->HDisplay;
  mi->ulHFPorch = static_cast<uint32_t>(m->HSyncStart - frontDisplay);
  mi->ulHSync = static_cast<uint32_t>(m->HSyncEnd - m->HSyncStart);
  mi->ulHBPorch = static_cast<uint32_t>(m->HTotal - m->HSyncEnd);
  mi->ulVFPorch = static_cast<uint32_t>(m->VSyncStart - m->VDisplay);
  mi->ulVSync = static_cast<uint32_t>(m->VSyncEnd - m->VSyncStart);
  mi->ulVBPorch = static_cast<uint32_t>(m->VTotal - m->VSyncEnd);
  const uint32_t bytesPerPixel = screen->bitsPerPixel > 0 ? static_cast<uint32_t>(screen->bitsPerPixel) / 8 : 1;
  mi->ulDisplayOrg = rec->displayOffset / bytesPerPixel;
  mi->ulDstOrg = rec->drawOrg / bytesPerPixel;
  mi->ulTvStandard = kTvStandardWordDefault;
  mi->ulTvScaling = static_cast<uint32_t>(rec->tvScaling);
  mi->ulTvCableType = kTvCableWord;

  Routing(screen, rec, mi, EffectiveHead(rec));
}

Bool ORVModeInit(ScrnInfoPtr screen, DisplayModePtr mode) {
  ORVRec* rec = ORVPTR(screen);
  const int index = screen->scrnIndex;
  QLBMODEINFO* mi = &rec->modeInfo;
  const bool kvdQuad = rec->kvd && rec->quadBoard;
  const int kind = kvdQuad ? kFillModeInitKvd : kFillModeInit;
  OrvStopFeatures(screen);

  ORVFillModeInfoStruct(screen, mode, mi, kind);
  const uint32_t bpp = mi->ulBpp;
  if (screen->depth == 30) mi->ulBpp = kOrvBppDepth30;
  if (!rec->kvd && !rec->kvdtv) {
    mi->ulFBPitch = rec->savedPitch;
    mi->ulDeskWidth = rec->savedDeskWidth;
  }
  uint32_t status = rec->kvdtv ? ORVSetKvdTVMode(rec->pBoard, mi) : ORVSetMode(rec->pBoard, mi);
  if (status != 0) {
    mi->ulBpp = bpp;
    xf86DrvMsg(index, X_ERROR, "ORVModeInit: Failed to set mode, with error code 0x%08x.\n",
               status);
    return FALSE;
  }

  // A single-head board clones its picture to the TV.
  FeatureInfo* tv = OrvFeatureConfig_GetFeatureInfo(rec->pFeatures, kFeatureTvOut);
  const bool singleHead = rec->pEnt != nullptr && rec->pEnt->instanceCount == 0;
  if (tv != nullptr && singleHead) {
    QLBMODEINFO tvMode = *mi;
    const bool lines576 = tv->tv.standard == kFeatureTvPal || tv->tv.standard == kFeatureTvPal60;
    const uint32_t lines = lines576 ? kTvLinesPal : kTvLinesNtsc;
    tvMode.ulDispWidth = tvMode.ulDeskWidth = tvMode.ulFBPitch = kTvWidth;
    tvMode.ulDispHeight = tvMode.ulDeskHeight = lines;
    tvMode.ulTvStandard = static_cast<uint32_t>(tv->tv.standard);
    tvMode.ulTvCableType = static_cast<uint32_t>(tv->tv.scaling);
    tvMode.flOutput = kOutputTvClone;
    tv->flags = kFeatureFlagsTvMode;
    if (!tv->tv.selectedRegionValid) {
      tv->tv.selectedRegion = {0, 0, static_cast<uint32_t>(mode->HDisplay),
                               static_cast<uint32_t>(mode->VDisplay)};
    }
    if (!tv->tv.outputRegionValid) tv->tv.outputRegion = lines576 ? kTvOutputRegion576 : kTvOutputRegion484;
    status = ORVSetTVMode(rec->pBoard, &tvMode);
    if (status != 0) {
      mi->ulBpp = bpp;
      xf86DrvMsg(index, X_ERROR, "ORVModeInit: Failed to set mode, with error code 0x%08x.\n",
                 status);
      return FALSE;
    }
  }

  // The merged desktop's second head.
  if (rec->merged && rec->aux[0] != nullptr) {
    ScrnInfoPtr aux = rec->aux[0];
    ORVRec* second = ORVPTR(aux);
    second->pBoard = rec->pBoard;
    second->displayOffset = rec->displayOffset;
    QLBMODEINFO* mi2 = &second->modeInfo;
    ORVFillModeInfoStruct(aux, mode, mi2, kind);
    const uint32_t bpp2 = mi2->ulBpp;
    if (screen->depth == 30) mi2->ulBpp = kOrvBppDepth30;
    if (tv != nullptr) mi2->flOutput = (mi2->flOutput & ~0x44u) | 0x10u;
    bool setPlain = true;
    if (rec->kvdtv && ORVSetKvdTVMode(rec->pBoard, mi2) != 0) {
      xf86DrvMsg(index, X_ERROR,
                 "ORVSetMode returned an error.  Make sure to validate the mode before.\n");
      setPlain = false;
    }
    if (setPlain) {
      status = ORVSetMode(rec->pBoard, mi2);
      if (status != 0)
        xf86DrvMsg(index, X_ERROR, "ORVModeInit: Failed to set mode, with error code 0x%08x.\n",
                   status);
    }
    if (OrvMergedPair* pair = OrvMergedPairOf(mode)) rec->currentMode2 = pair->mode2;
    mi2->ulBpp = bpp2;
  }

  if (!(tv != nullptr && !singleHead)) OrvStartFeatures(screen);
  mi->ulBpp = bpp;
  return TRUE;
}

Bool ORVSwitchMode(int scrnIndex, DisplayModePtr mode, int) {
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  if (rec->glxActive && rec->glxModeSwitch != nullptr) rec->glxModeSwitch(scrnIndex, 0);
  const Bool ok = rec->modeInit(screen, mode);
  if (ok) ORVComputeHeadLayout(screen, mode);
  return ok;
}

void ORVComputeHeadLayout(ScrnInfoPtr screen, DisplayModePtr mode) {
  ORVRec* rec = ORVPTR(screen);
  const bool kvdQuad = rec->kvd && rec->quadBoard;
  int layout = kPositionRightOf;
  int split = 1;
  DisplayModePtr a = mode, b = mode;
  if (rec->merged) {
    rec->headCount = kvdQuad ? 4 : 2;
    layout = rec->monitor2Position;
    if (OrvMergedPair* pair = OrvMergedPairOf(mode)) {
      a = pair->mode1;
      b = pair->mode2;
    }
    split = kvdQuad ? 2 : 1;
  } else if (rec->spanthree || rec->spanfour) {
    rec->headCount = rec->spanthree ? 3 : 4;
    a = b = OrvSourceMode(mode);
  } else {
    rec->headCount = kvdQuad ? 2 : 1;
    split = kvdQuad ? 2 : 1;
  }
  ORVSetHeadRects(screen, layout, a, b, split);
  xf86DrvMsg(screen->scrnIndex, X_INFO, "%d monitors configured.\n", rec->headCount);
  for (int i = 0; i < rec->headCount && i < kOrvMaxHeads; ++i) {
    const int32_t* r = rec->headRects[i];
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Monitor %d (%d,%d)-(%d,%d)\n", i, r[0], r[1], r[2], r[3]);
  }
}

void ORVSetHeadRects(ScrnInfoPtr screen, int layout, DisplayModePtr modeA, DisplayModePtr modeB,
                     int split) {
  ORVRec* rec = ORVPTR(screen);
  struct Region {
    int x, y, w, h;
  } regions[kOrvMaxHeads] = {};
  const DisplayModeRec* firstSize = layout == 0 || layout == 2 ? modeB : modeA;
  regions[0] = {0, 0, firstSize->HDisplay, firstSize->VDisplay};
  if (layout >= 0 && layout <= 3) {
    const DisplayModeRec* size = layout == 0 || layout == 2 ? modeA : modeB;
    for (int r = 1; r < kOrvMaxHeads; ++r) {
      const Region& prev = regions[r - 1];
      if (layout <= 1) regions[r] = {prev.x + prev.w, prev.y, size->HDisplay, size->VDisplay};
      else regions[r] = {prev.x, prev.y + prev.h, size->HDisplay, size->VDisplay};
    }
  }
  if (split < 1) split = 1;
  memset(rec->headRects, 0, sizeof(rec->headRects));
  int head = 0;
  for (int j = 0; j < rec->headCount / split && j < kOrvMaxHeads; ++j) {
    for (int k = 0; k < split && head < kOrvMaxHeads; ++k, ++head) {
      const Region& region = regions[j];
      rec->headRects[head][0] = region.x + k * region.w / split;
      rec->headRects[head][1] = region.y;
      rec->headRects[head][2] = region.w / split;
      rec->headRects[head][3] = region.h;
    }
  }
}

void ORVPrintModeInfo(ScrnInfoPtr screen) {
  const QLBMODEINFO& m = ORVPTR(screen)->modeInfo;
  ErrorF("%s", kDashes);
  PrintWord("ulDispWidth", m.ulDispWidth, "Display Width in pixels");
  PrintWord("ulDispHeight", m.ulDispHeight, "Display Height in pixels");
  PrintWord("ulDeskWidth", m.ulDeskWidth, "Desktop Width in pixels");
  PrintWord("ulDeskHeight", m.ulDeskHeight, "Desktop Height in pixels");
  PrintWord("ulBpp", m.ulBpp, "Bits Per Pixels / input format");
  PrintWord("ulZoom", m.ulZoom, "Zoom factor");
  ErrorF("%s", kDashes);
  PrintRate("ulRefreshRate", m.ulRefreshRate, "Vertical Refresh Rate in Hz");
  PrintRate("ulHorizRate", m.ulHorizRate, "Horizontal Refresh Rate in KHz");
  PrintWord("ulPixClock", m.ulPixClock, "Pixel Clock in kHz");
  ErrorF("%s", kDashes);
  PrintWord("ulHFPorch", m.ulHFPorch, "Horizontal front porch");
  PrintWord("ulHSync", m.ulHSync, "Horizontal sync width");
  PrintWord("ulHBPorch", m.ulHBPorch, "Horizontal back porch");
  PrintWord("ulVFPorch", m.ulVFPorch, "Vertical front porch");
  PrintWord("ulVSync", m.ulVSync, "Vertical sync width");
  PrintWord("ulVBPorch", m.ulVBPorch, "Vertical back porch");
  ErrorF("%s", kDashes);
  PrintWord("ulFBPitch", m.ulFBPitch, "Frame buffer pitch in pixels");
  PrintWord("ulDstOrg", m.ulDstOrg, "Drawing origin in pixels");
  PrintWord("ulDisplayOrg", m.ulDisplayOrg, "Display origin in pixels");
  PrintWord("ulPanXGran", m.ulPanXGran, "Panning granularity in x");
  PrintWord("ulPanYGran", m.ulPanYGran, "Panning granularity in y");
  ErrorF("%s", kDashes);
  ErrorF("   %-15s: 0x%08x  %s\n", "flSignalMode", m.flSignalMode, "Signal mode flags");
  ErrorF("   %-15s: 0x%08x  %s\n", "flOutput", m.flOutput, "Output flags");
  ErrorF("%s", kDashes);
}
