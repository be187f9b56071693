#include "xdriver/xaa_fill.h"

#include "core/bm_prim_int.h"
#include "core/hw_thread2d.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/xaa_setup.h"

namespace {

// The repeated rectangle of a span list: origin, then size.
constexpr uint32_t kSpanRepeatHeader = PacketHeader(k2dIdxOrigin, k2dIdxSizeGo);
constexpr uint32_t kSpanHeight = 0x10000;  // one line, in the size's height field
constexpr int kSpanRepeatMin = 3;          // fewer spans go as rectangles

uint32_t XY(int x, int y) { return static_cast<uint32_t>(y) << 16 | (static_cast<uint32_t>(x) & 0xFFFF); }

}  // namespace

uint32_t KstrnXaaBindTarget(KstrnXaaData* data) {
  DeviceBitmap* target = data->target;
  uint32_t word;
  if (target->flags & kDevBitBound) {
    word = target->assignedWord;
  } else {
    // The second node takes it, or the first when the second holds it.
    SurfDesc2dList* list = target->surfDescList;
    list->current = list->nodes[1].bitmap == target ? &list->nodes[0] : &list->nodes[1];
    word = list->AssignCurrentSurfDescTo(target, false);
  }
  target->flags &= ~kDevBitHostCopy;
  const uint32_t index = (word >> k2dDestShift) & 3;
  SharedLockedData_t* shared = data->device->sharedLocked;
  Shadow2dDirty(shared) |= k2dDirtyDescriptor0 << index;
  shared->thread2d.even[index] = target->addressWord;
  shared->thread2d.odd[index] = target->ModeWord();
  return word;
}

void KstrnXaaControlPreamble(KstrnXaaData* data) {
  const uint32_t control = *data->control;
  if (((control & k2dRopMask) >> k2dRopShift) == k2dRopCopy) return;
  BmPrimInt* prim = data->device->primInt;
  if (control == 0xFFFFFFFF) {
    if (uint32_t* at = prim->Reserve(2)) {
      at[0] = PacketHeader(k2dIdxControl);
      at[1] = k2dControlIdle;
    }
  } else if (uint32_t* at = prim->Reserve(3)) {
    at[0] = PacketHeader(k2dIdxControl, k2dIdxControl);
    at[1] = k2dControlIdle;
    at[2] = control;
  }
}

void KstrnXAASetupForSolidFill(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  DrawBracket bracket(pdev);
  SharedLockedData_t* shared = pdev->sharedLocked;
  Shadow2dDirty(shared) &= k2dDirtyClip;
  const uint32_t word = KstrnXaaBindTarget(data);
  const uint32_t index = (word >> k2dDestShift) & 3;
  const uint32_t bpp = pdev->mode.bitsPerPixel;
  uint32_t control = k2dOpFill | word | index << k2dSourceShift |
                     g_adwKstrnXaaBopTable[rop & 0xF] << k2dRopShift;
  if (data->clipping) control |= k2dClipOn;
  shared->thread2d.reg1314 = Replicate2d(static_cast<uint32_t>(color), bpp);
  shared->thread2d.reg1324 = Replicate2d(planemask, bpp);
  *data->control = control;
  Shadow2dDirty(shared) |= k2dDirtyForeground | k2dDirtyControl | k2dDirtyPlaneMask;
  Shadow2dArm(shared);
}

void KstrnXAASubsequentSolidFillRect(ScrnInfoPtr scrn, int x, int y, int w, int h) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  BmPrimInt* prim = pdev->primInt;
  {
    DrawBracket bracket(pdev);
    HwThread2d::SetupHardware(pdev->sharedLocked, prim);
    KstrnXaaControlPreamble(data);
    if (uint32_t* at = prim->Reserve(3)) {
      at[0] = PacketHeader(k2dIdxOrigin, k2dIdxSizeGo);
      at[1] = XY(x, y);
      at[2] = static_cast<uint32_t>(h) << 16 | (static_cast<uint32_t>(w) & 0xFFFF);
    }
    prim->Start();
  }
  data->info->NeedToSync = TRUE;
}

void KstrnXAAFillSolidRects(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int nBox,
                            BoxPtr pBox) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  KstrnXAASetupForSolidFill(scrn, color, rop, planemask);
  for (int i = 0; i < nBox; ++i) {
    KstrnXAASubsequentSolidFillRect(scrn, pBox[i].x1, pBox[i].y1, pBox[i].x2 - pBox[i].x1,
                                    pBox[i].y2 - pBox[i].y1);
  }
  data->info->NeedToSync = TRUE;
}

void KstrnXAAFillSolidSpans(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int n,
                            DDXPointPtr points, int* widths, int) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  PDEV* pdev = data->device;
  const BoxRec* clip = data->info->ClipBox;
  // XAA's box excludes its right and bottom edges; the engine's clip
  // rectangle includes all four.
  if (clip != nullptr) KstrnXAASetClippingRectangle(scrn, clip->x1, clip->y1, clip->x2 - 1, clip->y2 - 1);
  KstrnXAASetupForSolidFill(scrn, color, rop, planemask);
  if (n >= kSpanRepeatMin && rop == GXcopy) {
    BmPrimInt* prim = pdev->primInt;
    Context2d* context = pdev->data2d.context;
    DrawBracket bracket(pdev);
    HwThread2d::SetupHardware(pdev->sharedLocked, prim);
    if (context->repeatHeader != kSpanRepeatHeader) {
      if (uint32_t* at = prim->Reserve(2)) {
        at[0] = PacketHeader(k2dIdxRepeatHeader);
        at[1] = kSpanRepeatHeader;
        context->repeatHeader = kSpanRepeatHeader;
      }
    }
    // One repeat packet per buffer's worth of spans.
    const uint32_t room = prim->FreshRoom();
    const int perPacket = room > 4 ? static_cast<int>((room - 2) / 2) : 1;
    for (int first = 0; first < n; first += perPacket) {
      const int count = n - first < perPacket ? n - first : perPacket;
      uint32_t* at = prim->Reserve(2 + 2 * static_cast<uint32_t>(count));
      if (at == nullptr) break;
      at[0] = PacketHeader(k2dIdxRepeatCount);
      at[1] = static_cast<uint32_t>(count);
      for (int i = 0; i < count; ++i) {
        at[2 + 2 * i] = XY(points[first + i].x, points[first + i].y);
        at[3 + 2 * i] = static_cast<uint32_t>(widths[first + i]) | kSpanHeight;
      }
    }
    prim->Start();
  } else {
    for (int i = 0; i < n; ++i) KstrnXAASubsequentSolidFillRect(scrn, points[i].x, points[i].y, widths[i], 1);
  }
  if (clip != nullptr) KstrnXAADisableClipping(scrn);
  data->info->NeedToSync = TRUE;
}
