#include "kernel/3d/targets/target_clears.h"

#include "core/common_data.h"
#include "core/float_bits.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_tables.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/dma_streams.h"
#include "kernel/sync_tags.h"

namespace {

// The operation word of the tags around a target's work.
constexpr uint32_t kTargetTagOperation = 0x207;

bool Later(const CommonData* common) { return (common->revisionBits & kCapsLater) != 0; }

ClearRect BoundsOf(const RenderTargetState* s, bool targetCoordinates) {
  if (targetCoordinates) return {s->clip[0], s->clip[1], s->clip[2], s->clip[3]};
  const int64_t right = int64_t{s->viewport[0]} + s->viewport[2];
  const int64_t bottom = int64_t{s->viewport[1]} + s->viewport[3];
  auto clamp = [](int64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v); };
  return {s->viewport[0], s->viewport[1], clamp(right), clamp(bottom)};
}

// The i-th rectangle of the record made ready for a surface, within the
// record's bounds (BoundsOf): a record with target coordinates and no
// rectangles clears its clip rectangle.
inline ClearRect RectFor(const RenderTargetState* s, const ClearRect& bounds, const ClearRect* rects, uint32_t i,
                  const Surface3d* surface) {
  const ClearRect r = rects != nullptr ? rects[i] : bounds;
  return FitClearRect(r, s->scaleX, s->scaleY, bounds, surface->width, surface->height);
}

// Rectangles reach here clamped to the surface: a negative corner is
// never filled.
void Fill(Surface3d* surface, const ClearRect& r, uint32_t value, uint32_t mask) {
  if (r.Empty() || r.left < 0 || r.top < 0) return;
  const uint32_t rect[4] = {static_cast<uint32_t>(r.left), static_cast<uint32_t>(r.top),
                            static_cast<uint32_t>(r.right), static_cast<uint32_t>(r.bottom)};
  (void)surface->FillRect(value, rect, mask, kClearFillMode);
}

// The depth-clear value and mask of the record for a format code, from the
// state's last conversion when the code, depth, stencil and flags repeat
// (clients clear with the same values frame after frame), else converted
// and kept for the next clear.
bool DepthClearValue(RenderTargetState* state, uint32_t code, const ClearRecord& record, DepthClear* out) {
  DepthClearMemo& memo = state->depthClearMemo;
  const uint32_t flags = record.flags & (kClearDepth | kClearStencil);
  const uint32_t depthBits = FloatBits(record.depth);
  if (memo.valid != 0 && memo.code == code && memo.depthBits == depthBits && memo.stencil == record.stencil &&
      memo.flags == flags) {
    *out = memo.result;
    return true;
  }
  if (!GetDepthClearValue(code, record.depth, record.stencil, (flags & kClearDepth) != 0,
                          (flags & kClearStencil) != 0, out))
    return false;
  memo = {code, depthBits, record.stencil, flags, *out, 1};
  return true;
}

bool CoversDepth(const Surface3d* surface, uint32_t mask) {
  const uint32_t depth = surface->format != nullptr ? surface->format->masks[kChannelDepth] : 0;
  return depth != 0 && (mask & depth) == depth;
}

// True when the engine cleared the whole surface.
bool ClearDepthRect(RenderTargetState* state, Surface3d* surface, const ClearRect& r, uint32_t value,
                    uint32_t mask, float depth) {
  if (r.Empty()) return false;
  CommonData* common = state->common;
  TargetBoard3d* board = TargetBoard(common);
  if (board == nullptr) return false;
  const bool later = Later(common);
  // The engine clears the whole surface: only a rectangle that covers it
  // may be cleared that way.
  const bool covers = r.left == 0 && r.top == 0 && static_cast<uint32_t>(r.right) >= surface->width &&
                      static_cast<uint32_t>(r.bottom) >= surface->height;
  const bool fast = board->switches.fastClear != 0 && covers && CoversDepth(surface, mask);
  if (fast && (board->fastClearedDepth == nullptr || board->fastClearedDepth == surface)) {
    // Repeated clears find the mode on already.
    if (!EngineModeIs(later, true, false)) WriteEngineModeWord(common, state->stream, true, false);
    const uint32_t first = FastClearFirstFilledRow(surface->width, surface->height, surface->bytesPerPixel, later);
    if (first < static_cast<uint32_t>(r.bottom)) {
      Fill(surface, {0, static_cast<int32_t>(first), r.right, r.bottom}, value, mask);
      board->fastClearedDepth = nullptr;
    }
    // The surface is the board's render target open for drawing until its
    // drawing is closed (FlushRenderTarget).
    board->fastClearedDepth = surface;
    common->openRenderTarget = surface;
    EmitRenderTargetSetup(state);
    ClearTargetSurface(state, state->stream, value, surface, false, depth);
    return true;
  }
  WriteEngineModeWord(common, state->stream, false, false);
  if (!later && board->fastClearedDepth == surface) FlushRenderTarget(surface, common, 0);
  Fill(surface, r, value, mask);
  return false;
}

}  // namespace

uint32_t FastClearFirstFilledRow(uint32_t width, uint32_t height, uint32_t bpp, bool later) {
  const uint64_t limit = later ? kFastClearLimitLater : kFastClearLimitFirst;
  if (uint64_t{width} * height * bpp <= limit || bpp == 0) return height;
  const uint64_t blocks = (uint64_t{width} + 31) / 32;
  const uint64_t rows =
      later ? limit / (uint64_t{bpp} * 512) / blocks * 16 : limit / (uint64_t{bpp} * 1024) / blocks * 32;
  return rows < height ? static_cast<uint32_t>(rows) : height;
}

void ClearTargetSurface(RenderTargetState* state, BmSecondaryInt* stream, uint32_t value, Surface3d* surface,
                        bool modeOnly, float depth) {
  if (state != nullptr) ClearTargetSurface(state->common, stream, value, surface, modeOnly, depth);
}

void ClearTargetSurface(CommonData* common, BmSecondaryInt* stream, uint32_t value, Surface3d* surface,
                        bool modeOnly, float depth) {
  if (common == nullptr || common->sharedLocked == nullptr || stream == nullptr) return;
  if (surface != nullptr) {
    surface->changed = 1;
    if (surface->resourceTable != nullptr)
      surface->resourceTable->InvalidateBindings(surface->resourceType, surface->resourceHandle);
  }
  EngineModeCache& cache = EngineMode3d();
  stream->startFlags = 2;
  const bool later = Later(common);
  // The later chips take a tag before the mode change while sync tags are
  // on, and the engine mode's on bit while they are off.
  const bool tagFirst = later && cache.syncTagsOn != 0;
  const uint32_t mode = later && !tagFirst ? kEngineModeOnBit : 0;
  if (later) cache.clearWord = modeOnly ? mode | 0x108 : mode | 8;
  if (!modeOnly && surface != nullptr) surface->clearDepth = depth;
  // The tag and the clear (or mode) word, each packet as WritePacket would
  // place it, under one check of the buffer's room: at most two packets of
  // a count, a header and three words.
  WriteBounded(stream, 2 * 5, [&](auto& sink) {
    if (tagFirst) {
      const uint32_t tag = TakeNextTag(common->sharedLocked);
      PutPacket(sink, OperationTagHeader(), kTargetTagOperation, tag | kTagProgress, tag);
    }
    const TagValue base = ReadTagValue(common->sharedLocked);
    if (modeOnly)
      PutPacket(sink, PacketHeader(k2dIdxControl, base.index), mode | 0x108, base.word);
    else
      PutPacket(sink, PacketHeader(k3dIdxClearValue, k2dIdxControl, base.index), value, mode | 8, base.word);
  });
  stream->ExecutePending();
  ControlWordOverwritten(common);
  if (later) cache.clearFlag = 1;
}

namespace {

constexpr uint32_t kSizeMask = 0xFFFF;
constexpr uint32_t kWidthFieldMask = 0x3FFF;

// The engine draws the whole surface once at the surface value through the
// owner's default state, which takes the surface as its depth target; then
// the surface's tag.
void DrawIntoTarget(CommonData* common, BmSecondaryInt* stream, Surface3d* surface) {
  WriteEngineModeWord(common, stream, true, false);
  EngineOwner3d* owner = common->engineOwner3d;
  ContextState3d* state = owner != nullptr ? owner->defaults : nullptr;
  if (state != nullptr) {
    const MmSurfDesc& depth = surface->hw.records[kUsageDepthStencil];
    const uint32_t formatCode = surface->format != nullptr ? surface->format->code : 0;
    const uint32_t code = DepthFormatEngineCode(GetDepthFormatCode(formatCode));
    const uint32_t width = surface->width & kSizeMask, height = surface->height & kSizeMask;
    uint32_t* op = state->operationBlock;
    op[kOpSurface88 + 1] = depth.word0;
    op[kOpSurface89 + 1] = (depth.word1 & ~kWidthFieldMask) | (surface->width & kWidthFieldMask);
    op[kOpSize] = height << 16 | width;
    uint32_t& control = state->depthStencilBlock[kDsbDepthControl];
    control = (control & ~(0xFu << kDepthCodeShift)) | (code & 0xF) << kDepthCodeShift;
    state->depthStencilBlock[kDsbDepthAddress] = depth.word0;
    state->dirty.words[0] |= kCsDirtySurfacesB | kCsDirtyPlacement | kCsDirtyDepth;
    owner->Execute(state, 0, false);
    stream->startFlags = 2;
    // The corners (y, x) of the whole surface, at the surface value.
    const uint32_t corners[3][2] = {{0, 0}, {0, FloatBits(static_cast<float>(surface->width))},
                                    {FloatBits(static_cast<float>(surface->height)), 0}};
    StreamSink sink{stream};
    PutQuad(sink, surface->surfaceValue, corners);
    stream->ExecutePending();
  }
  const uint32_t tag = TakeNextTag(common->sharedLocked);
  const uint32_t placement = surface->Placement();
  if (placement == kNibbleAgp || placement == kNibbleLocal) {
    MmBlock* b = surface->block != nullptr   ? surface->block
                 : surface->master != nullptr ? surface->master->block
                                              : nullptr;
    if (b != nullptr) b->drawSyncTag = static_cast<int32_t>(tag);
  }
  const TagValue base = ReadTagValue(common->sharedLocked);
  WritePacket(stream, OperationTagHeader(base.index), kTargetTagOperation, tag | kTagProgress, tag, base.word);
  stream->ExecutePending();
  ControlWordOverwritten(common);
}

}  // namespace

void FlushRenderTarget(Surface3d* surface, CommonData* common, uint32_t mode) {
  if (common == nullptr || common->sharedLocked == nullptr) return;
  BmSecondaryInt* stream = common->secondaryStream;
  if (stream == nullptr) return;
  if (mode != 0 && surface != nullptr) DrawIntoTarget(common, stream, surface);
  common->openRenderTarget = nullptr;
  if (TargetBoard3d* board = common->targetBoard3d) board->fastClearedDepth = nullptr;
  if (EngineMode3d().clearFlag == 0) ClearTargetSurface(common, stream, 0, surface, true, 0.0f);
  WriteEngineModeWord(common, stream, false, false);
}

void ForgetOpenRenderTarget(CommonData* common, const Surface3d* surface) {
  if (common == nullptr || surface == nullptr) return;
  if (common->openRenderTarget == surface) common->openRenderTarget = nullptr;
  TargetBoard3d* board = common->targetBoard3d;
  if (board != nullptr && board->fastClearedDepth == surface) board->fastClearedDepth = nullptr;
}

namespace {

// The rectangles a clear walks: `count` of `list`, or, for a record in
// target coordinates that names none, the clip rectangle once (`list`
// null); and the bounds every rectangle is clipped to (the viewport, or
// the clip rectangle for target coordinates). Each rectangle is ordered,
// scaled and clipped when the clear reaches it (RectFor), so nothing is
// copied.
struct ClearRects {
  const ClearRect* list;
  uint32_t count;
  ClearRect bounds;
};

// False when the record names rectangles that are not there.
bool NormaliseClearRects(const RenderTargetState* state, const ClearRecord& record, const ClearRect* rects,
                         uint32_t count, ClearRects* out) {
  const bool targetCoordinates = (record.flags & kClearTargetCoordinates) != 0;
  const bool whole = targetCoordinates && count == 0;
  out->count = whole ? 1 : count;
  out->list = whole ? nullptr : rects;
  if (out->list == nullptr && !whole) return false;
  // The bounds are the state's; a fill or an engine clear leaves them be.
  out->bounds = BoundsOf(state, targetCoordinates);
  return true;
}

void ClearColourRects(RenderTargetState* state, const ClearRecord& record, const ClearRects& rects) {
  Surface3d* colour = state->colourCurrent;
  uint32_t value = 0;
  if (colour != nullptr && (record.flags & kClearColour) != 0 &&
      GetColourClearValue(colour->format, record.colour, state->colourDepthMode, &value)) {
    for (uint32_t i = 0; i < rects.count; ++i)
      Fill(colour, RectFor(state, rects.bounds, rects.list, i, colour), value, state->colourWriteMask);
  }
}

// The depth and stencil clear of a record that asks for one, into the
// bound depth surface.
void ClearDepthRects(RenderTargetState* state, const ClearRecord& record, const ClearRects& rects) {
  Surface3d* depth = state->depthCurrent;
  const uint32_t code = depth->format != nullptr ? depth->format->code : 0;
  DepthClear c = {};
  if (!DepthClearValue(state, code, record, &c)) return;
  const float z = SanitiseClearDepth(record.depth);
  // Once the engine cleared the whole surface, every further rectangle
  // holds the value already.
  for (uint32_t i = 0; i < rects.count; ++i)
    if (ClearDepthRect(state, depth, RectFor(state, rects.bounds, rects.list, i, depth), c.value, c.mask, z)) break;
  depth->flagsWord |= kSurfDepthCleared;
}

}  // namespace

uint32_t ClearTargetRects(RenderTargetState* state, const ClearRecord& record, const ClearRect* rects,
                          uint32_t count) {
  if (state == nullptr || state->common == nullptr) return 0;
  ClearRects list;
  if (!NormaliseClearRects(state, record, rects, count, &list)) return 0;
  ClearColourRects(state, record, list);

  Surface3d* depth = state->depthCurrent;
  if (depth == nullptr) return 0;
  if ((record.flags & (kClearDepth | kClearStencil)) != 0) {
    ClearDepthRects(state, record, list);
  } else if ((state->context == nullptr || state->context->suspended == 0) &&
             ((depth->flagsWord & kSurfDepthNeedsClear) != 0 || state->depthClear.kind == kDepthClearKindFill)) {
    for (uint32_t i = 0; i < list.count; ++i)
      Fill(depth, RectFor(state, list.bounds, list.list, i, depth), 0, 0x01000000);
    depth->flagsWord |= kSurfDepthCleared;
  }
  return 0;
}
