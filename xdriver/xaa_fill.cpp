// Solid fills (rectangles, rectangle lists, span lists) and 8x8 monochrome
// pattern fills; and the steps every drawing hook shares.
#include <algorithm>

#include "core/regs/engine2d.h"
#include "xdriver/packet2d.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/xaa_common.h"
#include "xdriver/xaa_hooks.h"

namespace {

// A rectangle: origin, then the size that starts it. Span lists repeat it.
constexpr uint32_t kRectHeader = PacketHeader(k2dIdxOrigin, k2dIdxSizeGo);
constexpr uint32_t kSpanRepeatHeader = kRectHeader;
constexpr uint32_t kSpanHeight = 0x10000;  // one line, in the size's height field
constexpr int kSpanRepeatMin = 3;          // fewer spans go as rectangles
constexpr uint32_t kRectWords = 3;
// The control preamble: the idle control word, then the control word (an
// unknown one, 0xFFFFFFFF, is not sent).
constexpr uint32_t kPreambleHeader = PacketHeader(k2dIdxControl, k2dIdxControl);
constexpr uint32_t kPreambleUnknownHeader = PacketHeader(k2dIdxControl);
constexpr uint32_t kPreambleWords = 3;  // of a known control word

// A run of solid rectangles after one set-up, written as one batch: for
// each what KstrnXAASubsequentSolidFillRect writes (the control preamble
// unless the raster operation is copy, then the rectangle), in one bracket,
// the state the set-up made dirty first and one Start at the end. The
// preamble and the rectangle are commands of three words each, so the
// buffer switches where a callback per rectangle would switch it. False,
// with nothing done, for a run that goes rectangle by rectangle: a bracket
// whose post-draw steps (the transform of what was drawn, a wait for the
// engine) follow every drawing, or the two-word preamble of an unknown
// control word. `rect(i)` answers rectangle i as {x, y, w, h}.
struct RunRect {
  int x, y, w, h;
};
template <typename Rect>
bool FillRectRun(KstrnXaaData* data, int count, Rect rect) {
  PDEV* pdev = data->device;
  const uint32_t control = *data->control;
  const bool preamble = Control2dRop::Get(control) != k2dRopCopy;
  if ((pdev->data2d.bracket.postDraw & kPostDrawSteps) != 0 || (preamble && control == 0xFFFFFFFF)) return false;
  if (count <= 0) return true;
  BmPrimInt* prim = pdev->primInt;
  DrawBracket bracket(pdev);
  // Without the command lock nothing is drawn.
  if (!bracket.Drawing()) return true;
  HwThread2d::SetupHardware(pdev->sharedLocked, prim);
  const uint32_t perRect = preamble ? 2 : 1;
  BmWriteRun(prim, static_cast<uint32_t>(count) * perRect, kRectWords, [&](uint32_t* at, uint32_t i) {
    if (preamble && (i & 1) == 0) {
      at[0] = kPreambleHeader;
      at[1] = k2dControlIdle;
      at[2] = control;
      return;
    }
    const RunRect r = rect(static_cast<int>(i / perRect));
    at[0] = kRectHeader;
    at[1] = Xy2d(r.x, r.y);
    at[2] = Size2d(r.w, r.h);
  });
  for (int i = 0; i < count; ++i) {
    const RunRect r = rect(i);
    KstrnXaaDrawn(data, r.x, r.y, r.w, r.h);
  }
  prim->Start();
  return true;
}
static_assert(kPreambleWords == kRectWords, "preamble and rectangle switch buffers as separate packets");

}  // namespace

uint32_t KstrnXaaBindTarget(KstrnXaaData* data) { return Bind2dDescriptor(data->device, data->target); }

uint32_t KstrnXaaRop(int rop) { return Control2dRop::Word(g_adwKstrnXaaBopTable[rop & 0xF]); }

void KstrnXaaControlPreamble(KstrnXaaData* data) {
  const uint32_t control = *data->control;
  if (Control2dRop::Get(control) == k2dRopCopy) return;
  BmPrimInt* prim = data->device->primInt;
  if (control == 0xFFFFFFFF) {
    Write2dPacket(prim, {kPreambleUnknownHeader, k2dControlIdle});
  } else {
    Write2dPacket(prim, {kPreambleHeader, k2dControlIdle, control});
  }
}

// ---- Solid fills ----------------------------------------------------------------------------

void KstrnXAASetupForSolidFill(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask) {
  KstrnXaaSetup(scrn, [&](KstrnXaaData* data, SharedLockedData_t* shared) {
    const uint32_t word = KstrnXaaBindTarget(data);
    const uint32_t index = Control2dDest::Get(word);
    uint32_t control = k2dOpFill | word | Control2dSource::Word(index) | KstrnXaaRop(rop);
    if (data->clipping) control |= k2dClipOn;
    Shadow2dForeground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(color));
    Shadow2dPlaneMask(shared) = KstrnXaaReplicate(data, planemask);
    *data->control = control;
    return k2dDirtyForeground | k2dDirtyControl | k2dDirtyPlaneMask;
  });
}

void KstrnXAASubsequentSolidFillRect(ScrnInfoPtr scrn, int x, int y, int w, int h) {
  KstrnXaaDraw(scrn, [&](KstrnXaaData* data, BmPrimInt* prim) {
    Write2dPacket(prim, {kRectHeader, Xy2d(x, y), Size2d(w, h)});
    KstrnXaaDrawn(data, x, y, w, h);
  });
}

void KstrnXAAFillSolidRects(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask, int nBox,
                            BoxPtr pBox) {
  KstrnXaaData* data = KstrnXaaDataOf(scrn);
  if (data == nullptr) return;
  KstrnXAASetupForSolidFill(scrn, color, rop, planemask);
  const auto box = [&](int i) {
    return RunRect{pBox[i].x1, pBox[i].y1, pBox[i].x2 - pBox[i].x1, pBox[i].y2 - pBox[i].y1};
  };
  if (!FillRectRun(data, nBox, box)) {
    for (int i = 0; i < nBox; ++i) {
      const RunRect r = box(i);
      KstrnXAASubsequentSolidFillRect(scrn, r.x, r.y, r.w, r.h);
    }
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
    // Without the command lock nothing is drawn; the clipping still goes.
    if (bracket.Drawing()) {
      HwThread2d::SetupHardware(pdev->sharedLocked, prim);
      if (context->repeatHeader != kSpanRepeatHeader &&
          Write2dPacket(prim, {PacketHeader(k2dIdxRepeatHeader), kSpanRepeatHeader})) {
        context->repeatHeader = kSpanRepeatHeader;
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
          at[2 + 2 * i] = Xy2d(points[first + i].x, points[first + i].y);
          at[3 + 2 * i] = static_cast<uint32_t>(widths[first + i]) | kSpanHeight;
        }
      }
      // The spans' bounding box waits for the post-draw step.
      int left = points[0].x, top = points[0].y, right = left, bottom = top;
      for (int i = 0; i < n; ++i) {
        left = std::min(left, static_cast<int>(points[i].x));
        top = std::min(top, static_cast<int>(points[i].y));
        right = std::max(right, points[i].x + widths[i]);
        bottom = std::max(bottom, points[i].y + 1);
      }
      KstrnXaaDrawn(data, left, top, right - left, bottom - top);
      prim->Start();
    }
  } else {
    const auto span = [&](int i) { return RunRect{points[i].x, points[i].y, widths[i], 1}; };
    if (!FillRectRun(data, n, span)) {
      for (int i = 0; i < n; ++i) KstrnXAASubsequentSolidFillRect(scrn, points[i].x, points[i].y, widths[i], 1);
    }
  }
  if (clip != nullptr) KstrnXAADisableClipping(scrn);
  data->info->NeedToSync = TRUE;
}

// ---- 8x8 pattern fills ----------------------------------------------------------------------

void KstrnXAASetupForMono8x8PatternFill(ScrnInfoPtr scrn, int patx, int paty, int fg, int bg,
                                        int rop, unsigned int planemask) {
  KstrnXaaSetup(scrn, [&](KstrnXaaData* data, SharedLockedData_t* shared) {
    uint32_t control = k2dOpFill | KstrnXaaBindTarget(data) | KstrnXaaRop(rop) | k2dPatternFill;
    if (data->clipping) control |= k2dClipOn;
    Shadow2dForeground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(fg));
    Shadow2dPlaneMask(shared) = KstrnXaaReplicate(data, planemask);
    uint32_t dirty = k2dDirtyForeground | k2dDirtyPlaneMask | k2dDirtyControl | k2dDirtyPattern;
    if (bg == kXaaTransparentBackground) {
      control |= k2dTransparentBg;
    } else {
      Shadow2dBackground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(bg));
      dirty |= k2dDirtyBackground;
    }
    Shadow2dPatternLow(shared) = static_cast<uint32_t>(patx);
    Shadow2dPatternHigh(shared) = static_cast<uint32_t>(paty);
    *data->control = control;
    data->patternPending = 1;
    return dirty;
  });
}

void KstrnXAASubsequentMono8x8PatternFillRect(ScrnInfoPtr scrn, int patx, int paty, int x, int y,
                                              int w, int h) {
  KstrnXaaDraw(scrn, [&](KstrnXaaData* data, BmPrimInt* prim) {
    KstrnXaaDrawn(data, x, y, w, h);
    if (!data->patternPending) {
      Write2dPacket(prim, {kRectHeader, Xy2d(x, y), Size2d(w, h)});
      return;
    }
    // The pattern's origin goes into the control word once per set-up.
    *data->control |= Control2dPatternX::Word(static_cast<uint32_t>(patx)) |
                      Control2dPatternY::Word(static_cast<uint32_t>(paty));
    Write2dPacket(prim, {PacketHeader(k2dIdxControl, k2dIdxOrigin, k2dIdxSizeGo), *data->control,
                         Xy2d(x, y), Size2d(w, h)});
    data->device->sharedLocked->last1300Value = *data->control;
    data->patternPending = 0;
  });
}
