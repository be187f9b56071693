// Pixmap writes and reads: images between system memory and the screen
// through the scratch surfaces, converted to the screen's depth on the way
// up.
#include "core/regs/engine2d.h"
#include "xdriver/packet2d.h"
#include "xdriver/pixel_convert.h"
#include "xdriver/pixel_xfer.h"
#include "xdriver/temp_bit.h"
#include "xdriver/xaa_common.h"
#include "xdriver/xaa_hooks.h"

namespace {

// The red mask of a depth-30 screen: 24-bit images are not converted for it.
constexpr uint32_t kRedMask30 = 0x3FF00000;

using XferRoutine = void (*)(PDEV*, DeviceBitmap*, const void*, int32_t, uint32_t, const uint32_t*,
                             const LRECT*, const LPOINT*, uint32_t, uint8_t, uint32_t);

// The transfer for an image of `bpp` bits onto the target, or null when
// it is not drawn. XAA hands no colour table: indexed images go onto
// 8-bit screens only, with their indexes.
XferRoutine RoutineFor(const PDEV* pdev, const DeviceBitmap* target, int bpp) {
  if (static_cast<uint32_t>(bpp) == target->bitsPerPixel) return XferNativeToVid;
  if (bpp != 4 && bpp != 8 && bpp != 24) return nullptr;
  if (bpp == 24 && pdev->mode.redMask == kRedMask30) return nullptr;
  if (XferConverterFor(static_cast<uint32_t>(bpp), target->bitsPerPixel, false) == nullptr) return nullptr;
  return XferXBppToVid;
}

}  // namespace

void KstrnXAAWritePixmap(ScrnInfoPtr scrn, int x, int y, int w, int h, unsigned char* src,
                         int srcwidth, int rop, unsigned int planemask, int trans, int bpp, int) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  DeviceBitmap* target = data->target;
  TempBit* temp = TempBitFor(pdev, target);
  if (temp == nullptr || !temp->enabled) return;
  const XferRoutine routine = RoutineFor(pdev, target, bpp);
  if (routine == nullptr) return;
  BmPrimInt* prim = pdev->primInt;
  {
    DrawBracket bracket(pdev);
    if (!bracket.Drawing()) return;
    Write2dPacket(prim, {PacketHeader(k2dIdxPlaneMask), KstrnXaaReplicate(data, planemask)});
    const LRECT rect = {x, y, x + w, y + h};
    const LPOINT origin = {0, 0};
    routine(pdev, target, src, srcwidth, static_cast<uint32_t>(bpp), nullptr, &rect, &origin,
            KstrnXaaRop(rop), trans != kXaaNoTransparency ? 1 : 0, static_cast<uint32_t>(trans));
    Write2dPacket(prim, {PacketHeader(k2dIdxControl), k2dControlIdle});
    prim->Start();
    KstrnXaaDrawn(data, x, y, w, h);
  }
  data->info->NeedToSync = TRUE;
}

void KstrnXAAReadPixmap(ScrnInfoPtr scrn, int x, int y, int w, int h, unsigned char* dst,
                        int dstwidth, int bpp, int) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  DrawBracket bracket(pdev);
  if (!bracket.Drawing()) return;
  const LRECT rect = {0, 0, w, h};
  const LPOINT from = {x, y};
  XferVidToNative(pdev, data->target, dst, dstwidth, static_cast<uint32_t>(bpp), nullptr, &rect, &from,
                  0, 0, 0);
}
