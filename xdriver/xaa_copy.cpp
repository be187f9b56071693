// Screen-to-screen copies: every copy goes through a temporary surface in
// the order that keeps an overlapping copy right.
#include "core/regs/engine2d.h"
#include "xdriver/pixel_xfer.h"
#include "xdriver/xaa_common.h"
#include "xdriver/xaa_hooks.h"

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFF;
// The temporary surface goes to the other memory bank than the target.
constexpr uint8_t kTmpInOtherBank = 1;

}  // namespace

void KstrnXAASetupForScreenToScreenCopy(ScrnInfoPtr scrn, int xdir, int ydir, int rop,
                                        unsigned int planemask, int trans) {
  KstrnXaaSetup(scrn, [&](KstrnXaaData* data, SharedLockedData_t* shared) {
    // Source and destination are the target: the second binding finds the first.
    const uint32_t destination = KstrnXaaBindTarget(data);
    const uint32_t source = KstrnXaaBindTarget(data);
    uint32_t control = destination | Control2dSource::Word(Control2dDest::Get(source)) | k2dOpCopy |
                       KstrnXaaRop(rop);
    if (data->clipping) control |= k2dClipOn;
    if (xdir < 0) control |= k2dRightToLeft;
    if (ydir < 0) control |= k2dBottomToTop;
    uint32_t dirty = k2dDirtyControl | k2dDirtyPlaneMask;
    if (trans != kXaaNoTransparency) {
      Shadow2dForeground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(trans));
      Shadow2dBackground(shared) = kAllOnes;
      dirty |= k2dDirtyForeground | k2dDirtyBackground;
      control |= k2dTransparent;
    }
    Shadow2dPlaneMask(shared) = KstrnXaaReplicate(data, planemask);
    *data->control = control;
    return dirty;
  });
}

void KstrnXAASubsequentScreenToScreenCopy(ScrnInfoPtr scrn, int x1, int y1, int x2, int y2, int w,
                                          int h) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  DrawBracket bracket(pdev);
  if (!bracket.Drawing()) return;
  SharedLockedData_t* shared = pdev->sharedLocked;
  const uint32_t control = *data->control;
  const uint32_t foreground = Shadow2dForeground(shared);
  HwThread2d::SetupHardware(shared, pdev->primInt);
  const LPOINT destination = {x2, y2};
  const LPOINT source = {x1, y1};
  const LSIZE size = {w, h};
  XferVidToTmpToVid(data->target, data->target, &destination, &source, &size,
                    control & Control2dRop::kMask, (control & k2dTransparent) != 0 ? 1 : 0,
                    foreground, kTmpInOtherBank);
  KstrnXaaDrawn(data, x2, y2, w, h);
}

void KstrnXAAScreenToScreenBitBlt(ScrnInfoPtr scrn, int nbox, DDXPointPtr pptSrc, BoxPtr pbox,
                                  int xdir, int ydir, int rop, unsigned int planemask) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  KstrnXAASetupForScreenToScreenCopy(scrn, xdir, ydir, rop, planemask, kXaaNoTransparency);
  for (int i = 0; i < nbox; ++i) {
    KstrnXAASubsequentScreenToScreenCopy(scrn, pptSrc[i].x, pptSrc[i].y, pbox[i].x1, pbox[i].y1,
                                         pbox[i].x2 - pbox[i].x1, pbox[i].y2 - pbox[i].y1);
  }
  data->info->NeedToSync = TRUE;
}
