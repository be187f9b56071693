#include "xdriver/post_draw_xform.h"

#include <string.h>

#include "core/bm_prim_int.h"
#include "core/float_bits.h"
#include "core/pdev.h"
#include "core/regs/engine3d.h"
#include "core/regs/field.h"
#include "xdriver/context2d.h"
#include "xdriver/device_bitmap.h"
#include "xdriver/engine2d_state.h"

namespace {

// Render set-up: units 1-3 off and unit 0 on, unit 0's texture address and
// mode; its height word, the engine words and control, a pass-through stage.
constexpr uint32_t kSetupHeader1 =
    PacketHeader(k3dIdxUnitControl0 + 1, k3dIdxUnitControl0, k3dIdxTexAddress, k3dIdxTexMode);
constexpr uint32_t kUnitsOff = 0x1000E;
constexpr uint32_t kUnit0On = 0x40101;
constexpr uint32_t kSetupHeader2 =
    PacketHeader(k3dIdxTexDimensions, k3dIdxWordE8, k2dIdxControl, k3dIdxStageControl);
constexpr uint32_t kSetupControl = k3dControlTextureDraw;
constexpr uint32_t kSetupHeader3 = PacketHeader(k3dIdxStageSecond);
constexpr uint32_t kPassThroughSecond = k3dStageSecondDefault;

// Corner k: texture words {0, 0, t, s} to unit 0's record, then position
// words {1.0, 0, y, x}; the third corner takes y through the second
// register.
constexpr uint32_t kTexCornerHeader = PacketHeader(k3dIdxVertexW3, k3dIdxVertexW2, k3dIdxVertexW1, k3dIdxVertexTex0);
constexpr uint32_t PosCornerHeader(uint32_t k) {
  return PacketHeader(k3dIdxVertexW3 + k, k3dIdxVertexW2, k == 2 ? k3dIdxVertexW1Alt : k3dIdxVertexW1,
                      k3dIdxVertexPosition);
}
constexpr uint32_t kPosCornerHeaders[3] = {PosCornerHeader(0), PosCornerHeader(1), PosCornerHeader(2)};

constexpr uint32_t kDrawHeader = PacketHeader(k2dIdxSyncZero, k3dIdxUnitControl0, k3dIdxUnitControl0 + 1);
constexpr uint32_t kDrawUnits = 0x1000F;
constexpr uint32_t kNoRestore = 0xFFFFFFFF;
constexpr uint32_t kRestoreHeader = PacketHeader(k2dIdxControl);
static_assert(kSetupHeader1 == 0x78778081 && kSetupHeader2 == 0x99C0BA79 && kSetupHeader3 == 0x2121219B);
static_assert(kTexCornerHeader == 0x635E5D58 && kPosCornerHeaders[2] == 0x605F5D5A && kDrawHeader == 0x218180DD);


// Texture pairs (s, t) of the three corners by rotation code: 0 none, 1
// clockwise, 2 half turn, 4 counter-clockwise; an index into {s0, s1} and
// {t0, t1}.
struct CornerPairs {
  uint8_t s[3], t[3];
};
constexpr CornerPairs kNoRotation = {{0, 1, 0}, {0, 0, 1}};
constexpr CornerPairs kRotatedPairs[5] = {
    kNoRotation,
    {{0, 0, 1}, {1, 0, 1}},  // code 1
    {{1, 0, 1}, {1, 1, 0}},  // code 2
    kNoRotation,
    {{1, 1, 0}, {0, 1, 0}},  // code 4
};

PostDrawXform& XformOf(PDEV* pdev) { return pdev->data2d.xform; }

bool Active8to10(const PostDrawXform& x) {
  return (x.flags & kXformId8to10) != 0 && (x.flags & kXformEnabled) != 0 &&
         (x.flags & kXformDisabled) == 0;
}

}  // namespace

void NullXform(const PostDrawXform*) {}

// ---- PostDrawXform -------------------------------------------------------------------------

PostDrawXform::PostDrawXform(DeviceBitmap* s, DeviceBitmap* d, XformFunction f)
    : source(s),
      destination(d),
      function(f),
      flags(s == nullptr || d == nullptr || f == NullXform ? kXformDisabled : 0),
      current(kXformNoRect),
      word(0),
      rects{},
      rectWords{},
      width(0),
      height(0) {}

bool PostDrawXform::SetXformOperation(DeviceBitmap* s, DeviceBitmap* d, XformFunction f) {
  source = s;
  destination = d;
  function = f;
  flags = WithBit(flags, kXformDisabled, s == nullptr || d == nullptr);
  return d == nullptr;
}

void PostDrawXform::Enable(PDEV* pdev) {
  pdev->data2d.bracket.preDraw |= kPreDrawXform;
  pdev->data2d.bracket.postDraw |= kPostDrawXform;
  flags |= kXformEnabled;
}

void PostDrawXform::Disable(PDEV* pdev) {
  pdev->data2d.bracket.preDraw &= ~kPreDrawXform;
  pdev->data2d.bracket.postDraw &= ~kPostDrawXform;
  flags &= ~kXformEnabled;
}

void PostDrawXform::TranslateRect(LRECT* r, const LSIZE* size) const {
  const int32_t w = size->width, h = size->height;
  const LRECT o = *r;
  switch (RotationCode()) {
    case 1:
      *r = {h - o.bottom, o.left, h - o.top, o.right};
      break;
    case 2:
      *r = {w - o.right, h - o.bottom, w - o.left, h - o.top};
      break;
    case 4:
      *r = {o.top, w - o.right, o.bottom, w - o.left};
      break;
    default:
      break;
  }
}

void PostDrawXform::TranslatePoint(int32_t* x, int32_t* y, const LSIZE* size) const {
  const int32_t w = size->width, h = size->height;
  const int32_t ox = *x, oy = *y;
  if (flags & kXformRotateCCW) {
    *x = oy;
    *y = w - 1 - ox;
  } else if (flags & kXformRotateCW) {
    *x = h - 1 - oy;
    *y = ox;
  } else if (flags & kXformRotate180) {
    *x = w - 1 - ox;
    *y = h - 1 - oy;
  }
}

void PostDrawXform::TranslateSize(LSIZE* size) const {
  if (flags & (kXformRotateCCW | kXformRotateCW)) {
    const int32_t w = size->width;
    size->width = size->height;
    size->height = w;
  }
}

bool InitPostDrawXform(PDEV*) { return true; }
bool CreatePostDrawXform(PDEV*) { return true; }
void CleanupPostDrawXform(PDEV*) {}

// ---- Command words -----------------------------------------------------------------------------

void XformWriteTagPacket(BmPrimInt* stream, uint32_t tag) {
  uint32_t* at = stream->Reserve(BmSyncTagWords(k2dIdxSyncTag));
  if (at == nullptr) return;
  BmWriteSyncTag(at, tag | Sync2dStreamBit(stream), k2dIdxSyncTag, tag);
}

void XformWriteRenderSetup(BmPrimInt* stream, uint32_t address, uint32_t mode, uint32_t dimensions) {
  uint32_t* at = stream->Reserve(12);
  if (at == nullptr) return;
  at[0] = kSetupHeader1;
  at[1] = kUnitsOff;
  at[2] = kUnit0On;
  at[3] = address;
  at[4] = mode;
  at[5] = kSetupHeader2;
  at[6] = dimensions;
  at[7] = 0;
  at[8] = kSetupControl;
  at[9] = 0;
  at[10] = kSetupHeader3;
  at[11] = kPassThroughSecond;
}

void DrawTexturedRectangleEx(BmPrimInt* stream, const LRECT& p, float s0, float t0, float s1,
                             float t1, uint32_t rotation) {
  const CornerPairs& pairs = rotation < 5 ? kRotatedPairs[rotation] : kNoRotation;
  const float s[2] = {s0, s1};
  const float t[2] = {t0, t1};
  const int32_t x[3] = {p.left, p.right, p.left};
  const int32_t y[3] = {p.top, p.top, p.bottom};
  // The three corners are a run of equal packets.
  BmWriteRun(stream, 3, 10, [&](uint32_t* at, uint32_t k) {
    at[0] = kTexCornerHeader + k;
    at[1] = 0;
    at[2] = 0;
    at[3] = FloatBits(t[pairs.t[k]]);
    at[4] = FloatBits(s[pairs.s[k]]);
    at[5] = kPosCornerHeaders[k];
    at[6] = kFloat1;
    at[7] = 0;
    at[8] = FloatBits(static_cast<float>(y[k]));
    at[9] = FloatBits(static_cast<float>(x[k]));
  });
}

void XformWriteDraw(BmPrimInt* stream) {
  uint32_t* at = stream->Reserve(4);
  if (at == nullptr) return;
  at[0] = kDrawHeader;
  at[1] = 0;  // index 0xDD: written 0, as every sync packet writes it
  at[2] = kDrawUnits;
  at[3] = 0;
}

void SendCacheFlushInv3dNoWrite(BmPrimInt* stream, uint32_t v, uint32_t w) {
  uint32_t* at = stream->Reserve(w != kNoRestore ? 7 : 5);
  if (at == nullptr) return;
  at = BmWriteSyncTag(at, v, k2dIdxSyncTag, v);
  if (w == kNoRestore) return;
  at[0] = kRestoreHeader;
  at[1] = w;
}

// ---- The post-draw step -------------------------------------------------------------------------

void PostDrawXformAddBox(PDEV* pdev, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  PostDrawXform& x = XformOf(pdev);
  if (!Active8to10(x) || left >= right || top >= bottom) return;
  LRECT& r = x.rects[0];
  if (x.rectWords[0] & kXformRectPending) {
    if (left < r.left) r.left = left;
    if (top < r.top) r.top = top;
    if (right > r.right) r.right = right;
    if (bottom > r.bottom) r.bottom = bottom;
  } else {
    r = {left, top, right, bottom};
    x.rectWords[0] |= kXformRectPending;
  }
  x.current = 0;
}

void PostDrawXformMarkAll(PDEV* pdev) {
  PostDrawXform& x = XformOf(pdev);
  PostDrawXformAddBox(pdev, 0, 0, static_cast<int32_t>(x.width), static_cast<int32_t>(x.height));
}

bool PostDrawXformPending(const PDEV* pdev) {
  const PostDrawXform& x = pdev->data2d.xform;
  return Active8to10(x) && (x.rectWords[0] & kXformRectPending) != 0;
}

void PostDrawXformRun(PDEV* pdev) {
  PostDrawXform& x = XformOf(pdev);
  if (!Active8to10(x)) return;
  if (x.function != nullptr) x.function(&x);
  for (uint32_t& w : x.rectWords) w &= ~kXformRectPending;
  x.current = kXformNoRect;
}

void PostDrawXformFlush(PDEV* pdev) {
  if (pdev == nullptr || !PostDrawXformPending(pdev)) return;
  // The bracket's post-draw step runs the transform (post-draw bit 0x40).
  DrawBracket bracket(pdev);
}
