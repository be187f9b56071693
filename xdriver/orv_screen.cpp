// Screen lifecycle: mode validation for the server, frame adjustment of each
// head, FreeScreen.
#include "xdriver/orv_screen.h"

#include "core/chip_ids.h"
#include "platform/xserver/vgahw.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_hal.h"
#include "xdriver/orv_modeinit.h"
#include "xdriver/orv_preinit.h"

namespace {

// The display controllers of the AdjustFrame hooks.
constexpr uint32_t kController0 = 0;
constexpr uint32_t kController1 = 1;
constexpr uint32_t kController2 = 2;
constexpr uint32_t kController3 = 3;

int ClampLow(int v) { return v < 0 ? 0 : v; }

void SetStart(ORVRec* rec, int x, int y, uint32_t controller) {
  if (rec->pBoard == nullptr) return;
  ORVSetDisplayStart(rec->pBoard, controller, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}

// The display start of a rotated head: the frame end of its viewport
// (inclusive) is turned into the start on the unrotated surface.
void SetRotatedStart(ScrnInfoPtr screen, ORVRec* rec, int x, int y, int frameX1, int frameY1,
                     uint32_t controller) {
  const bool clockwise = rec->shadowRotate == kRotateCW || rec->hwRotate == kRotateCW;
  if (clockwise) SetStart(rec, ClampLow(screen->virtualY - 1 - frameY1), x, controller);
  else SetStart(rec, y, ClampLow(screen->virtualX - 1 - frameX1), controller);
}

bool Rotated(const ORVRec* rec) { return rec->shadowRotate != 0 || rec->hwRotate != 0; }

void LogValidationFailure(int index, const QLBMODEINFO& mi, const char* what, uint32_t status) {
  xf86DrvMsg(index, X_INFO,
             "------------------------------------------------------------------------    \n");
  xf86DrvMsg(index, X_INFO,
             "   ulDispWidth    : %08d  Display Width in pixels                          \n",
             mi.ulDispWidth);
  xf86DrvMsg(index, X_INFO,
             "   ulDispHeight   : %08d  Display Height in pixels                         \n",
             mi.ulDispHeight);
  xf86DrvMsg(index, X_INFO,
             "   ulDeskWidth    : %08d  Desktop Width in pixels                          \n",
             mi.ulDeskWidth);
  xf86DrvMsg(index, X_INFO,
             "   ulDeskHeight   : %08d  Desktop Height in pixels                         \n",
             mi.ulDeskHeight);
  xf86DrvMsg(index, X_INFO,
             "   ulBpp          : %08d  Bits Per Pixels / input format                   \n",
             mi.ulBpp);
  xf86DrvMsg(index, X_INFO,
             "------------------------------------------------------------------------    \n");
  xf86DrvMsg(index, X_INFO, "Orvane HAL return code (%s) 0x%x\n", what, status);
}

}  // namespace

ModeStatus ORVValidMode(int scrnIndex, DisplayModePtr mode, Bool, int flags) {
  if (!(flags & MODECHECK_FINAL)) return MODE_OK;
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  if (rec == nullptr || rec->pBoard == nullptr) return MODE_BAD;
  QLBMODEINFO* mi = &rec->modeInfo;
  ORVFillModeInfoStruct(screen, mode, mi, kFillValidate);
  uint32_t status = ORVValidateMode(rec->pBoard, mi);
  if (HalFailed(status)) {
    LogValidationFailure(scrnIndex, *mi, "ValidateMode", status);
    return MODE_BAD;
  }
  if (rec->quadBoard && rec->kvd && rec->kvdtv) ORVGetTVOutputParameters(rec->pBoard, mi);
  status = ORVValidateVideoParameters(rec->pBoard, mi);
  if (HalFailed(status)) {
    LogValidationFailure(scrnIndex, *mi, "ValidateVideoParameters", status);
    return MODE_BAD;
  }
  // On the first two chips both digital outputs share one clock.
  ORVEntityRec* entity = rec->pEnt;
  ScrnInfoPtr head0 = entity != nullptr ? entity->heads[0] : nullptr;
  ORVRec* rec0 = head0 != nullptr ? ORVPTR(head0) : nullptr;
  if (rec->head == 1 && rec->digital2 && rec0 != nullptr && rec0->digital1 &&
      IsEarlyKestrion(static_cast<uint16_t>(rec->chipId)) && head0->modes != nullptr &&
      mode->Clock != head0->modes->Clock) {
    xf86DrvMsg(scrnIndex, X_WARNING,
               "Wrong resolution for Digital Output #2. Clock must be the same for both outputs.\n");
    return MODE_BAD;
  }
  return MODE_OK;
}

void ORVAdjustFrame(int scrnIndex, int x, int y, int) {
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  if (rec->spanfour) return;
  const uint32_t controller = rec->s3i ? kController1 : rec->s4i ? kController2 : kController0;
  x = ClampLow(x);
  y = ClampLow(y);
  if (rec->spanthree) {
    const int width = static_cast<int>(rec->modeInfo.ulDispWidth);
    SetStart(rec, x, y, kController1);
    SetStart(rec, x + width, y, kController0);
    SetStart(rec, x + 2 * width, y, kController3);
  } else if (Rotated(rec)) {
    const int frameX1 = rec->merged ? rec->head1Frame[2] : screen->frameX1;
    const int frameY1 = rec->merged ? rec->head1Frame[3] : screen->frameY1;
    SetRotatedStart(screen, rec, x, y, frameX1, frameY1, controller);
  } else {
    SetStart(rec, x, y, controller);
  }
}

void ORVAdjustFrameCrtc2(int scrnIndex, int x, int y, int) {
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  const uint32_t controller = rec->s4i ? kController2 : kController1;
  x = ClampLow(x);
  y = ClampLow(y);
  if (!Rotated(rec)) {
    SetStart(rec, x, y, controller);
    return;
  }
  const ScrnInfoRec* frame = screen;
  if (!xf86IsEntityShared(screen->entityList[0]) && rec->aux[0] != nullptr) frame = rec->aux[0];
  SetRotatedStart(screen, rec, x, y, frame->frameX1, frame->frameY1, controller);
}

void ORVAdjustFrameCrtc3(int scrnIndex, int x, int y, int) {
  ORVRec* rec = ORVPTR(xf86Screens[scrnIndex]);
  SetStart(rec, ClampLow(x), ClampLow(y), kController2);
}

void ORVAdjustFrameCrtc4(int scrnIndex, int x, int y, int) {
  ORVRec* rec = ORVPTR(xf86Screens[scrnIndex]);
  SetStart(rec, ClampLow(x), ClampLow(y), kController3);
}

void ORVAdjustGranularity(ScrnInfoPtr screen, int* x, int* y) {
  ORVRec* rec = ORVPTR(screen);
  *x &= ~15;
  const QLBMODEINFO& mi = rec->modeInfo;
  uint32_t gran = mi.ulPanXGran != 0 && mi.ulPanYGran != 0 ? mi.ulPanYGran : 1;
  if (rec->merged && rec->aux[0] != nullptr) {
    const QLBMODEINFO& mi2 = ORVPTR(rec->aux[0])->modeInfo;
    if (mi2.ulPanXGran != 0 && mi2.ulPanYGran > gran) gran = mi2.ulPanYGran;
  }
  *y -= *y % static_cast<int>(gran);
}

void ORVFreeScreen(int scrnIndex, int) {
  ScrnInfoPtr screen = xf86Screens[scrnIndex];
  ORVRec* rec = ORVPTR(screen);
  if (VGAHWPTR(screen) != nullptr) vgaHWFreeHWRec(screen);
  if (rec == nullptr) return;
  ORVEntityRec* entity = rec->pEnt;
  if (entity != nullptr && entity->pBoard != nullptr && entity->boardOpenCount > 0) {
    ORVCloseBoard(screen);
  }
  ORVUnmapMem(screen);
  // The board's records leave with its last head.
  const int entityIndex = screen->numEntities > 0 ? screen->entityList[0] : -1;
  if (entity != nullptr && entity->heads[rec->head] == screen) entity->heads[rec->head] = nullptr;
  bool lastHead = entity != nullptr;
  for (int i = 0; entity != nullptr && i < kOrvMaxHeads; ++i) {
    if (entity->heads[i] != nullptr) lastHead = false;
  }
  xfree(rec->pOptions);
  rec->pOptions = nullptr;
  ORVFreeRec(screen);
  if (lastHead && entity->boardOpenCount == 0) {
    xfree(entity->pAccessMem);
    xfree(entity->pAccessIo);
    xfree(entity->pAccessIoMem);
    xfree(entity->pEntityInfo);
    xfree(entity);
    if (DevUnion* slot = xf86GetEntityPrivate(entityIndex, ORVEntityPrivateIndex())) slot->ptr = nullptr;
  }
}
