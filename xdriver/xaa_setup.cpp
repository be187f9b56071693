#include "xdriver/xaa_setup.h"

#include <new>

#include "core/bm_packets.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/temp_bit.h"
#include "xdriver/xaa_hooks.h"

const uint32_t g_adwKstrnXaaBopTable[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                            0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};
int g_iKstrnXaaPrivateIndex = -1;

namespace {

// The whole engine space: what DisableClipping leaves in the shadow.
constexpr int kNoClipRight = 4095;
constexpr int kNoClipBottom = 4095;

// Where XAA draws: the device's drawing target (a post-draw transform's
// bitmap while one is on), else the primary surface.
DeviceBitmap* DrawingTarget(PDEV* pdev) {
  return pdev->data2d.target != nullptr ? pdev->data2d.target : &pdev->data2d.Primary();
}

}  // namespace

KstrnXaaData::KstrnXaaData(XAAInfoRec* infoRec, PDEV* pdev)
    : device(pdev),
      control(&Shadow2dControl(pdev->sharedLocked)),
      clipTopLeft(&Shadow2dClipTopLeft(pdev->sharedLocked)),
      clipBottomRight(&Shadow2dClipBottomRight(pdev->sharedLocked)),
      depth(&pdev->sharedLocked->commandLockDepth),
      target(DrawingTarget(pdev)),
      expansionTemp(TempBitFor(pdev, DrawingTarget(pdev))),
      info(infoRec) {
  SetupInfoRec();
}

void KstrnXaaData::SetupInfoRec() {
  info->Sync = KstrnXAASync;
  info->RestoreAccelState = KstrnXAARestoreAccelState;
  info->SetClippingRectangle = KstrnXAASetClippingRectangle;
  info->DisableClipping = KstrnXAADisableClipping;
  info->ClippingFlags = kXaaClippingFlags;

  info->SetupForSolidFill = KstrnXAASetupForSolidFill;
  info->SubsequentSolidFillRect = KstrnXAASubsequentSolidFillRect;
  info->SolidFillFlags = 0;
  info->FillSolidRects = KstrnXAAFillSolidRects;
  info->FillSolidRectsFlags = 0;
  info->FillSolidSpans = KstrnXAAFillSolidSpans;
  info->FillSolidSpansFlags = 0;

  info->SetupForScreenToScreenCopy = KstrnXAASetupForScreenToScreenCopy;
  info->SubsequentScreenToScreenCopy = KstrnXAASubsequentScreenToScreenCopy;
  info->ScreenToScreenCopyFlags = 0;
  info->ScreenToScreenBitBlt = KstrnXAAScreenToScreenBitBlt;
  info->ScreenToScreenBitBltFlags = 0;

  info->SetupForSolidLine = KstrnXAASetupForSolidLine;
  info->SubsequentSolidTwoPointLine = KstrnXAASubsequentSolidTwoPointLine;
  info->SubsequentSolidHorVertLine = KstrnXAASubsequentSolidHorVertLine;
  info->SolidLineFlags = 0;

  info->SetupForMono8x8PatternFill = KstrnXAASetupForMono8x8PatternFill;
  info->SubsequentMono8x8PatternFillRect = KstrnXAASubsequentMono8x8PatternFillRect;
  info->Mono8x8PatternFillFlags = kXaaPatternFlags;

  info->SetupForCPUToScreenColorExpandFill = KstrnXAASetupForCPUToScreenColorExpandFill;
  info->SubsequentCPUToScreenColorExpandFill = KstrnXAASubsequentCPUToScreenColorExpandFill;
  info->CPUToScreenColorExpandFillFlags = kXaaExpandFlags;
  info->ColorExpandBase = expansionBuffer;
  info->ColorExpandRange = static_cast<int>(kXaaExpansionBufferBytes);

  info->ImageWriteFlags = 0;
  info->WritePixmap = KstrnXAAWritePixmap;
  info->WritePixmapFlags = 0;
  info->ReadPixmap = KstrnXAAReadPixmap;
  info->ReadPixmapFlags = 0;
  info->TEGlyphRendererFlags |= kXaaExpandFlags;
}

KstrnXaaData* KstrnXaaDataOf(ScrnInfoPtr scrn) {
  if (scrn == nullptr || scrn->privates == nullptr || g_iKstrnXaaPrivateIndex < 0) return nullptr;
  return static_cast<KstrnXaaData*>(scrn->privates[g_iKstrnXaaPrivateIndex].ptr);
}

uint32_t KstrnXAAInit(PDEV* pdev, ScrnInfoRec* scrn, int privateIndex, XAAInfoRec* info) {
  // A server out of private slots answers -1: no XAA then, the screen keeps
  // drawing in software.
  if (privateIndex < 0 || scrn == nullptr || scrn->privates == nullptr) return 7;
  g_iKstrnXaaPrivateIndex = privateIndex;
  KstrnXaaData* data = new KstrnXaaData(info, pdev);
  if (data == nullptr) return 2;
  scrn->privates[privateIndex].ptr = data;
  KstrnXAADisableClipping(scrn);
  return 1;
}

void KstrnXAACleanup(PDEV*, ScrnInfoRec* scrn) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  delete data;
  // A second clean-up finds the slot empty and deletes nothing.
  scrn->privates[g_iKstrnXaaPrivateIndex].ptr = nullptr;
}

void KstrnXAASync(ScrnInfoRec* scrn) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  SharedLockedData_t* shared = pdev->sharedLocked;
  // Without the lock nothing is sent: a pending expansion stays pending for
  // the next sync.
  if (!BmAcquireCommandLock(shared, kCmdLockOwnerXDriver)) return;
  if (data->expansionPending) {
    // XAA has written the rows: they go to the engine, and the clip state
    // the expansion overwrote is sent again with the next drawing. No wait.
    KstrnXAASyncCPUToScreenColorExpandFill(scrn);
    if (data->clipping) {
      *data->control |= k2dClipOn;
      Shadow2dDirty(shared) |= k2dDirtyClip | k2dDirtyControl;
    } else {
      *data->control &= ~k2dClipOn;
      Shadow2dDirty(shared) &= ~(k2dDirtyClip | k2dDirtyControl);
    }
    Shadow2dArm(shared);
    // What the expansion drew waits for the post-draw step as a drawing
    // bracket would run it.
    if ((pdev->data2d.bracket.postDraw & kPostDrawXform) != 0) PostDrawXformRun(pdev);
  } else {
    Sync2dAndWait(pdev->common, pdev->primInt, "XAA sync");
    // The processor draws next (XAA syncs before the framebuffer layer
    // does): with a transform on, the whole desktop waits for the next
    // post-draw step or the block handler.
    PostDrawXformMarkAll(pdev);
  }
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
}

void KstrnXAASetClippingRectangle(ScrnInfoRec* scrn, int left, int top, int right, int bottom) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  SharedLockedData_t* shared = data->device->sharedLocked;
  *data->control |= k2dClipOn;
  *data->clipTopLeft = static_cast<uint32_t>(top) << 16 | (static_cast<uint32_t>(left) & 0xFFFF);
  *data->clipBottomRight = static_cast<uint32_t>(bottom) << 16 | (static_cast<uint32_t>(right) & 0xFFFF);
  data->clipping = 1;
  Shadow2dDirty(shared) |= k2dDirtyClip | k2dDirtyControl;
  Shadow2dArm(shared);
}

void KstrnXAADisableClipping(ScrnInfoRec* scrn) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  SharedLockedData_t* shared = data->device->sharedLocked;
  KstrnXAASetClippingRectangle(scrn, 0, 0, kNoClipRight, kNoClipBottom);
  data->clipping = 0;
  Shadow2dDirty(shared) &= ~(k2dDirtyClip | k2dDirtyControl);
  *data->control &= ~k2dClipOn;
  Shadow2dArm(shared);
}

void KstrnXAARestoreAccelState(ScrnInfoRec*) {}
