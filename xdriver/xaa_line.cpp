// Solid lines: horizontal and vertical ones as one-pixel-wide rectangles,
// others between two points.
#include "core/bm_prim_int.h"
#include "core/hw_thread2d.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/packet2d.h"
#include "xdriver/xaa_hooks.h"
#include "xdriver/xaa_setup.h"

namespace {

constexpr uint32_t kLineOp = k2dOpLine | k2dLineBits;

}  // namespace

void KstrnXAASetupForSolidLine(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  DrawBracket bracket(pdev);
  SharedLockedData_t* shared = pdev->sharedLocked;
  const uint32_t bits = pdev->mode.storageBits;
  KstrnXaaBeginSetup(data);
  const uint32_t destination = KstrnXaaBindTarget(data);
  const uint32_t source = KstrnXaaBindTarget(data);
  uint32_t control = k2dOpFill | destination | ((source >> k2dDestShift) & 3) << k2dSourceShift |
                     KstrnXaaRop(rop);
  if (data->clipping) control |= k2dClipOn;
  Shadow2dForeground(shared) = Replicate2d(static_cast<uint32_t>(color), bits);
  Shadow2dPlaneMask(shared) = Replicate2d(planemask, bits);
  // The control word goes with each line's own packet.
  *data->control = control;
  Shadow2dDirty(shared) |= k2dDirtyForeground | k2dDirtyPlaneMask;
  Shadow2dArm(shared);
}

void KstrnXAASubsequentSolidHorVertLine(ScrnInfoPtr scrn, int x, int y, int len, int dir) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  BmPrimInt* prim = pdev->primInt;
  {
    DrawBracket bracket(pdev);
    HwThread2d::SetupHardware(pdev->sharedLocked, prim);
    KstrnXaaControlPreamble(data);
    const uint32_t length = static_cast<uint32_t>(len) & 0xFFFF;
    const uint32_t size = dir != DEGREES_0 ? length << 16 | 1 : 1u << 16 | length;
    Write2dPacket(prim, {PacketHeader(k2dIdxControl, k2dIdxOrigin, k2dIdxSizeGo), *data->control,
                         Xy2d(x, y), size});
    pdev->sharedLocked->last1300Value = *data->control;
    prim->Start();
  }
  data->info->NeedToSync = TRUE;
}

void KstrnXAASubsequentSolidTwoPointLine(ScrnInfoPtr scrn, int x1, int y1, int x2, int y2, int flags) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  BmPrimInt* prim = pdev->primInt;
  {
    DrawBracket bracket(pdev);
    HwThread2d::SetupHardware(pdev->sharedLocked, prim);
    KstrnXaaControlPreamble(data);
    // For this line only: the set-up's word stays as it is.
    uint32_t control = *data->control | kLineOp;
    if ((flags & OMIT_LAST) == 0) control |= k2dLastPixel;
    Write2dPacket(prim, {PacketHeader(k2dIdxControl, k2dIdxStart, k2dIdxLineEnd), control, Xy2d(x1, y1),
                         Xy2d(x2, y2)});
    pdev->sharedLocked->last1300Value = control;
    prim->Start();
  }
  data->info->NeedToSync = TRUE;
}
