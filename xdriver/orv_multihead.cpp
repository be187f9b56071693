// The multi-head desktops at run time: panning both viewports of a merged
// desktop with the pointer, adjusting its frames, and setting the heads of
// the three- and four-head desktops.
#include "xdriver/orv_multihead.h"

#include "core/chip_ids.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_modeinit.h"
#include "xdriver/orv_screen.h"

namespace {

// A viewport as x0, y0 and exclusive x1, y1.
struct Box {
  int x0, y0, x1, y1;
};

bool Inside(const Box& b, int x, int y) { return x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1; }

// Moves one axis of a box so that v lies in it.
bool Follow(int v, int* lo, int* hi) {
  bool moved = false;
  if (v < *lo) {
    *hi += v - *lo;
    *lo = v;
    moved = true;
  }
  if (v > *hi) {
    *lo += v - *hi;
    *hi = v;
    moved = true;
  }
  return moved;
}

bool MoveTo(Box* b, int x, int y) {
  const bool mx = Follow(x, &b->x0, &b->x1);
  const bool my = Follow(y, &b->y0, &b->y1);
  return mx || my;
}

// A head's width and height: its mode's, swapped on a rotated screen.
void HeadSize(const ORVRec* rec, const DisplayModeRec* mode, int* w, int* h) {
  const bool rotated = rec->shadowRotate != 0 || rec->hwRotate != 0;
  *w = rotated ? mode->VDisplay : mode->HDisplay;
  *h = rotated ? mode->HDisplay : mode->VDisplay;
}

int Clamp(int v, int lo, int hi) {
  if (v < lo) v = lo;
  if (v > hi) v = hi;
  return v;
}

// Rounds the origins, recomputes the frame ends and programs both heads.
void ProgramHeads(ScrnInfoPtr screen, int flags) {
  ORVRec* rec = ORVPTR(screen);
  ScrnInfoPtr second = rec->aux[0];
  OrvMergedPair* pair = OrvMergedPairOf(screen->currentMode);
  if (second == nullptr || pair == nullptr) return;
  int w1, h1, w2, h2;
  HeadSize(rec, pair->mode1, &w1, &h1);
  HeadSize(rec, pair->mode2, &w2, &h2);
  ORVAdjustGranularity(screen, &rec->head1Frame[0], &rec->head1Frame[1]);
  ORVAdjustGranularity(screen, &second->frameX0, &second->frameY0);
  ORVAdjustGranularity(screen, &screen->frameX0, &screen->frameY0);
  rec->head1Frame[2] = rec->head1Frame[0] + w1 - 1;
  rec->head1Frame[3] = rec->head1Frame[1] + h1 - 1;
  second->frameX1 = second->frameX0 + w2 - 1;
  second->frameY1 = second->frameY0 + h2 - 1;
  screen->frameX1 = screen->frameX0 + screen->currentMode->HDisplay - 1;
  screen->frameY1 = screen->frameY0 + screen->currentMode->VDisplay - 1;
  rec->firstHeadOrigin[0] = rec->head1Frame[0];
  rec->firstHeadOrigin[1] = rec->head1Frame[1];
  ORVAdjustFrame(screen->scrnIndex, rec->head1Frame[0], rec->head1Frame[1], flags);
  ORVAdjustFrameCrtc2(screen->scrnIndex, second->frameX0, second->frameY0, flags);
}

}  // namespace

void ORVMergePointerMoved(int scrnIndex, int x, int y) {
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  ScrnInfoPtr second = rec->aux[0];
  OrvMergedPair* pair = OrvMergedPairOf(screen->currentMode);
  if (second == nullptr || pair == nullptr) return;
  Box f1{rec->head1Frame[0], rec->head1Frame[1], rec->head1Frame[2] + 1, rec->head1Frame[3] + 1};
  Box f2{second->frameX0, second->frameY0, second->frameX1 + 1, second->frameY1 + 1};
  Box out{screen->frameX0, screen->frameY0, screen->frameX1 + 1, screen->frameY1 + 1};
  Box in1 = out, in2 = out;
  switch (pair->position) {
    case kPositionLeftOf: in1.x0 = f1.x0; in2.x1 = f2.x1; break;
    case kPositionRightOf: in1.x1 = f1.x1; in2.x0 = f2.x0; break;
    case kPositionAbove: in1.y0 = f1.y0; in2.y1 = f2.y1; break;
    case kPositionBelow: in1.y1 = f1.y1; in2.y0 = f2.y0; break;
    default: break;
  }
  bool changed = false;
  if (Inside(out, x, y)) {
    if (Inside(in1, x, y) && !Inside(f1, x, y)) changed |= MoveTo(&f1, x, y);
    if (Inside(in2, x, y) && !Inside(f2, x, y)) changed |= MoveTo(&f2, x, y);
  } else {
    const int dx = x < out.x0 ? x - out.x0 : x > out.x1 ? x - out.x1 : 0;
    const int dy = y < out.y0 ? y - out.y0 : y > out.y1 ? y - out.y1 : 0;
    f1 = {f1.x0 + dx, f1.y0 + dy, f1.x1 + dx, f1.y1 + dy};
    f2 = {f2.x0 + dx, f2.y0 + dy, f2.x1 + dx, f2.y1 + dy};
    screen->frameX0 += dx;
    screen->frameX1 += dx;
    screen->frameY0 += dy;
    screen->frameY1 += dy;
    changed = dx != 0 || dy != 0;
  }
  if (!changed) return;
  rec->head1Frame[0] = f1.x0;
  rec->head1Frame[1] = f1.y0;
  second->frameX0 = f2.x0;
  second->frameY0 = f2.y0;
  ProgramHeads(screen, 0);
}

void ORVMergeAdjustFrames(int scrnIndex, int x, int y, int flags) {
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  ScrnInfoPtr second = rec->aux[0];
  OrvMergedPair* pair = OrvMergedPairOf(screen->currentMode);
  if (second == nullptr || pair == nullptr) return;
  const int hMax = screen->currentMode->HDisplay;
  const int vMax = screen->currentMode->VDisplay;
  int w1, h1, w2, h2;
  HeadSize(rec, pair->mode1, &w1, &h1);
  HeadSize(rec, pair->mode2, &w2, &h2);
  x = x < 0 ? 0 : x;
  y = y < 0 ? 0 : y;
  if (x > screen->virtualX - hMax) x = screen->virtualX - hMax;
  if (y > screen->virtualY - vMax) y = screen->virtualY - vMax;
  int& x1 = rec->head1Frame[0];
  int& y1 = rec->head1Frame[1];
  int& x2 = second->frameX0;
  int& y2 = second->frameY0;
  switch (pair->position) {
    case kPositionLeftOf:
      x2 = x;
      y2 = Clamp(y2, y, vMax - h2);
      x1 = x + w2;
      y1 = Clamp(y1, y, vMax - h1);
      break;
    case kPositionRightOf:
      x1 = x;
      y1 = Clamp(y1, y, vMax - h1);
      x2 = x + w1;
      y2 = Clamp(y2, y, vMax - h2);
      break;
    case kPositionAbove:
      x2 = Clamp(x2, x, hMax - w2);
      y2 = y;
      x1 = Clamp(x1, x, hMax - w1);
      y1 = y + h2;
      break;
    case kPositionBelow:
      x1 = Clamp(x1, x, hMax - w1);
      y1 = y;
      x2 = Clamp(x2, x, hMax - w2);
      y2 = y + h1;
      break;
    case kPositionClone:
      x1 = Clamp(x1, x, hMax - w1);
      y1 = Clamp(y1, y, vMax - h1);
      x2 = Clamp(x2, x, hMax - w2);
      y2 = Clamp(y2, y, vMax - h2);
      break;
    default:
      break;
  }
  x1 = Clamp(x1, 0, screen->virtualX - w1);
  y1 = Clamp(y1, 0, screen->virtualY - h1);
  x2 = Clamp(x2, 0, second->virtualX - w2);
  y2 = Clamp(y2, 0, second->virtualY - h2);
  screen->frameX0 = x;
  screen->frameY0 = y;
  ProgramHeads(screen, flags);
}

void ORVSpanthreePointerMoved(int, int, int) {}
void ORVSpanfourPointerMoved(int, int, int) {}

void ORVTripleSelectOutput(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  QLBMODEINFO& mi = rec->modeInfo;
  mi.flOutput = 0xC000;
  switch (rec->headBeingSet) {
    case 1:
      OrvModeConfig_AssignController(screen, rec->head, 1);
      if (rec->digital1) {
        mi.flOutput = 0x20;
        xf86DrvMsg(screen->scrnIndex, X_INFO, "Head 1: Digital\n");
      } else {
        mi.flOutput = 0x2;
        xf86DrvMsg(screen->scrnIndex, X_INFO, "Head 1: Analog\n");
      }
      break;
    case 2:
      OrvModeConfig_AssignController(screen, rec->head, 2);
      xf86DrvMsg(screen->scrnIndex, X_INFO, "Head 2: Analog\n");
      mi.flOutput = 0x90004;
      break;
    case 3:
      OrvModeConfig_AssignController(screen, rec->head, 8);
      xf86DrvMsg(screen->scrnIndex, X_INFO, "Head 3: Analog\n");
      mi.flOutput = 0x80010;
      break;
    default:
      break;
  }
}

void ORVQuadSelectOutput(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  QLBMODEINFO& mi = rec->modeInfo;
  const bool chip5D63 = rec->chipId == kDeviceKestrionNext3;
  mi.flOutput = 0xC000;
  struct HeadOutput {
    uint32_t controller;
    const char* text;
    uint32_t output;
  };
  const HeadOutput kHeads[4] = {
      {1, "Head 1: Analog\n", 0x100002},
      {2, "Head 2: Analog\n", 0x90004},
      {8, "Head 3: Analog\n", chip5D63 ? 0x80008u : 0x10008u},
      {8, "Head 4: Analog\n", chip5D63 ? 0x10010u : 0x80010u},
  };
  if (rec->headBeingSet < 1 || rec->headBeingSet > 4) return;
  const HeadOutput& h = kHeads[rec->headBeingSet - 1];
  OrvModeConfig_AssignController(screen, rec->head, h.controller);
  xf86DrvMsg(screen->scrnIndex, X_INFO, "%s", h.text);
  mi.flOutput |= h.output;
}

Bool ORVTripleModeInit(ScrnInfoPtr screen, DisplayModePtr mode) {
  ORVRec* rec = ORVPTR(screen);
  for (rec->headBeingSet = 1; rec->headBeingSet <= 3; ++rec->headBeingSet) {
    ORVFillModeInfoStruct(screen, mode, &rec->modeInfo, kFillModeInit);
    const uint32_t status = ORVSetMode(rec->pBoard, &rec->modeInfo);
    if (status != 0) {
      xf86DrvMsg(screen->scrnIndex, X_ERROR,
                 "ORVModeInit: Failed to set mode, with error code 0x%08x.\n", status);
      return FALSE;
    }
  }
  return TRUE;
}

Bool ORVQuadModeInit(ScrnInfoPtr screen, DisplayModePtr mode) {
  ORVRec* rec = ORVPTR(screen);
  for (rec->headBeingSet = 1; rec->headBeingSet <= 4; ++rec->headBeingSet) {
    ORVFillModeInfoStruct(screen, mode, &rec->modeInfo, kFillModeInit);
    ORVQuadSelectOutput(screen);
    const uint32_t status = ORVSetMode(rec->pBoard, &rec->modeInfo);
    if (status != 0) {
      xf86DrvMsg(screen->scrnIndex, X_ERROR,
                 "ORVModeInit: Failed to set mode, with error code 0x%08x.\n", status);
      return FALSE;
    }
  }
  const uint32_t width = rec->modeInfo.ulDispWidth;
  // Controller 0 shows the left quarter, then 3, 2 and 1.
  ORVSetDisplayStart(rec->pBoard, 0, 0, 0);
  ORVSetDisplayStart(rec->pBoard, 3, width, 0);
  ORVSetDisplayStart(rec->pBoard, 2, 2 * width, 0);
  ORVSetDisplayStart(rec->pBoard, 1, 3 * width, 0);
  return TRUE;
}
