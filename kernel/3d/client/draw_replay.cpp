// The draw tokens of the command-token interpreter: batched layout draws
// (token 68), ranged draws from the client's vertex buffer (token 24),
// strips from a data buffer (token 25), the client's own command ranges
// (token 27), vertices that trail the token (token 28) and the target
// synchronisation that two-pass draws use (token 13). Each draw is
// replayed once per rectangle of the drawable.
//
// Entries are the interpreter's kernel copy; the client buffers they name
// are client memory that the client may rewrite at any time. Every range,
// pair, header count and record read from one is bounded by the buffer it
// lies in, and a vertex or index source never reaches past its buffer.
#include "kernel/3d/client/draw_replay.h"

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/same_bytes.h"
#include "core/shared_word.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/draw/vertex_stream_setup.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/state_blocks.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/dma_streams.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/range_map.h"
#include "kernel/sync_tags.h"

// ---- Clip rectangles -----------------------------------------------------------------------

void ClipRectIterator::Init(const ClipRectList* list, const ClipRect& drawable) {
  list_ = list;
  drawable_ = drawable;
  index_ = 0;
}

uint32_t ClipRectIterator::Count() const {
  if (list_ == nullptr) return 0;
  return list_->count < kClipRectMax ? list_->count : kClipRectMax;
}

bool ClipRectIterator::HasSeveral() const { return Count() > 1; }

bool ClipRectIterator::Next() {
  // An empty rectangle (a drawable off the screen) draws nothing.
  while (index_ < Count()) {
    const ClipRect& r = list_->rects[index_++];
    if (r.right > r.left && r.bottom > r.top) return true;
  }
  return false;
}

namespace {

// The scissor rectangle {left, top, width, height}, stored and marked only
// when it changed. The sizes are taken in 32-bit unsigned arithmetic: a
// client's rectangle may span more than the signed range, and right > left
// makes the unsigned difference its true width.
void SetScissor(RenderState3d& state, const ClipRect& r) {
  const uint32_t left = static_cast<uint32_t>(r.left), top = static_cast<uint32_t>(r.top);
  const uint32_t words[4] = {left, top, static_cast<uint32_t>(r.right) - left,
                             static_cast<uint32_t>(r.bottom) - top};
  state.SetRectA(words);
}

int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }

}  // namespace

void ClipRectIterator::Apply(RenderContext3d* context) const {
  if (context == nullptr || index_ == 0) return;
  RenderState3d& state = context->state;
  SetScissor(state, Current());
  VertexViewportGroup& g = state.vertex.viewportGroup;
  const uint32_t origin[2] = {static_cast<uint32_t>(drawable_.left), static_cast<uint32_t>(drawable_.top)};
  if (!SameBytes(g.targetOrigin, origin, sizeof origin)) {
    memcpy(g.targetOrigin, origin, sizeof origin);
    g.dirty |= kVpMapping;
  }
}

void ClipRectIterator::Restore(RenderContext3d* context) const {
  if (context != nullptr) SetScissor(context->state, drawable_);
}

void ClipRectIterator::ClipBox(int32_t box[6]) const {
  if (index_ == 0) return;
  const ClipRect& r = Current();
  box[0] = Max(box[0], r.left);
  box[1] = Max(box[1], r.top);
  box[3] = Min(box[3], r.right);
  box[4] = Min(box[4], r.bottom);
  box[0] = Min(box[0], box[3]);
  box[1] = Min(box[1], box[4]);
}

void ClipRectIterator::CurrentBox(int32_t box[6]) const {
  if (index_ == 0) return;
  const ClipRect& r = Current();
  box[0] = r.left, box[1] = r.top, box[2] = 0, box[3] = r.right, box[4] = r.bottom, box[5] = 1;
}

const ClipRectList* DrawRectsOf(TokenContext3d* token, ClipRect* drawable) {
  if (token == nullptr || token->context == nullptr || token->common == nullptr || token->common->rangeMap == nullptr)
    return nullptr;
  const RangeMapEntry* entry = token->common->rangeMap->Find(token->context->drawableKey);
  if (entry == nullptr) return nullptr;
  *drawable = entry->rect;
  return token->context->savedTargets.mask != 0 ? entry->clip : entry->visible;
}

bool FormatsCompatible(uint32_t a, uint32_t b, bool strict) {
  const uint32_t cls = FormatClassOf(a);
  if (cls != FormatClassOf(b)) return false;
  return !strict || a == b || cls != 1;
}

// ---- Sources ---------------------------------------------------------------------------------

void ResetStreamBindings(Context3d* context, RenderState3d& state) {
  StreamGroup& s = state.streams;
  bool set = s.indexDrawWords[0] != 0 || s.indexDrawWords[1] != 0;
  for (uint32_t i = 0; i < kStreams; ++i) set = set || s.drawWords[i][0] != 0 || s.drawWords[i][1] != 0;
  if (context != nullptr && context->bindingsReset && !set) return;
  memset(s.drawWords, 0, sizeof s.drawWords);
  memset(s.indexDrawWords, 0, sizeof s.indexDrawWords);
  s.flags |= kSfElements;
  if (context != nullptr) context->bindingsReset = true;
}

namespace {

// A vertex source's byte size is a 32-bit word: the vertex count is cut so
// that count x stride stays below 4 GiB.
constexpr uint64_t kSourceBytesMax = 0xFFFFFFFFu;

StreamBinding PointerBinding(const uint8_t* at, uint32_t stride, uint32_t count) {
  const uint64_t p = reinterpret_cast<uintptr_t>(at);
  return StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), stride, count};
}

ClientBuffer3d* VertexBufferOf(TokenContext3d* token) {
  Context3d* context = token->context;
  if (context == nullptr || context->client == nullptr || context->vertexBufferHandle == 0) return nullptr;
  ClientBuffer3d* buffer = context->client->Buffer(context->vertexBufferHandle);
  return buffer != nullptr && buffer->linear != nullptr ? buffer : nullptr;
}

}  // namespace

bool BindClientVertices(TokenContext3d* token, uint64_t offset) {
  if (token == nullptr || token->current == nullptr) return false;
  RenderState3d& state = token->current->state;
  state.streams.changedMask = static_cast<uint8_t>(state.streams.changedMask | 1u);
  const ClientBuffer3d* buffer = VertexBufferOf(token);
  const uint32_t stride = token->context != nullptr ? token->context->vertexStride : 0;
  if (buffer == nullptr || stride == 0 || stride > 0xFFFF || offset >= buffer->size) return false;
  // Whole vertices between the offset and the buffer's end.
  uint64_t count = (buffer->size - offset) / stride;
  if (count * stride > kSourceBytesMax) count = kSourceBytesMax / stride;
  if (count == 0) return false;
  const StreamBinding binding =
      PointerBinding(static_cast<const uint8_t*>(buffer->linear) + offset, stride, static_cast<uint32_t>(count));
  StreamBinding& current = state.streams.bindings[0];
  if (!SameBytes(&current, &binding, sizeof binding)) current = binding;
  return true;
}

void BindIndexSource(RenderState3d& state, const StreamBinding& binding) {
  StreamBinding& current = state.streams.indexSource;
  if (SameBytes(&current, &binding, sizeof binding)) return;
  current = binding;
  state.streams.flags |= kSfIndexSource;
}

namespace {

// Whether a kernel-pointer binding points into [begin, end).
bool PointsInto(const StreamBinding& b, uintptr_t begin, uintptr_t end) {
  if (b.kind != kBindingPointer) return false;
  const uintptr_t p = static_cast<uintptr_t>(uint64_t{b.handle} | uint64_t{b.stride} << 32);
  return p >= begin && p < end;
}

}  // namespace

void ForgetClientBuffer3d(Context3d* context, const ClientBuffer3d& buffer) {
  if (context == nullptr || buffer.linear == nullptr) return;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(buffer.linear);
  const uintptr_t end = begin + static_cast<uintptr_t>(buffer.size);
  if (context->client != nullptr && context->client->Buffer(context->vertexBufferHandle) == &buffer)
    context->vertexBufferHandle = 0;
  for (RenderContext3d* rc : context->renderContexts) {
    if (rc == nullptr) continue;
    StreamGroup& s = rc->state.streams;
    for (uint32_t i = 0; i < kStreams; ++i) {
      if (!PointsInto(s.bindings[i], begin, end)) continue;
      s.bindings[i] = StreamBinding{};
      s.changedMask = static_cast<uint8_t>(s.changedMask | 1u << i);
    }
    if (PointsInto(s.indexSource, begin, end)) {
      s.indexSource = StreamBinding{};
      s.flags |= kSfIndexSource;
    }
  }
}

// ---- The per-draw step -----------------------------------------------------------------------

namespace {


// The second half of the target tag step: the colour and depth targets of
// memory kind 3 or 4 take a new sync tag as their last write.
void TagTargets(TokenContext3d* token) {
  if (token->common == nullptr || token->common->sharedLocked == nullptr) return;
  RenderContext3dSealTargets(token->current, TakeNextTag(token->common->sharedLocked));
}

}  // namespace

void EmitTogglePacket(TokenContext3d* token) {
  Context3d* context = token->context;
  BmSecondaryInt* stream = token->current->secondaryStream;
  if (context == nullptr || context->toggle == 0 || stream == nullptr || context->client == nullptr) return;
  ClientContext* client = context->client;
  stream->startFlags = kSecondarySubmitMode;
  // The toggle: the second program start := t x 4.
  if (WritePacket(stream, PacketHeader(k3dIdxProgramStartAlt), uint32_t{client->toggleBit} * 4))
    client->toggleBit ^= 1;
}

void DrawStep(TokenContext3d* token, uint32_t count, bool indexed) {
  RenderContext3d* current = token->current;
  current->state.Apply();
  current->PrepareTargets();
  EmitTogglePacket(token);
  RenderContext3dHandOverStream(current);
  if (count == 0) return;
  MarkTargetsBusy(current);
  const DrawCall3d call{count};
  DrawEmitter3d emitter = indexed ? current->state.indexEmitter : current->state.drawEmitter;
  if (emitter != nullptr) emitter(current, &call);
  // The primitive runs in order with whatever the next draw hands over
  // (a client range may follow directly).
  if (current->secondaryStream != nullptr) current->secondaryStream->ExecutePending();
  TagTargets(token);
}

// ---- Token handlers --------------------------------------------------------------------------

namespace {

uint32_t WordAt(const uint8_t* bytes, size_t offset) {
  uint32_t value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

uint64_t Word64At(const uint8_t* bytes, size_t offset) {
  uint64_t value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// The state word of a draw entry is its primitive type.
void SetDrawState(RenderState3d& state, uint32_t word) {
  if (state.streams.primitiveType != word || (state.streams.flags & kSfPrimitiveType) != 0) state.SetPrimitiveMode(word);
}

// The rectangles of a draw, or false when the drawable has none.
bool StartRects(TokenContext3d* token, ClipRectIterator* rects) {
  ClipRect drawable = {};
  const ClipRectList* list = DrawRectsOf(token, &drawable);
  if (list == nullptr || list->count == 0) return false;
  rects->Init(list, drawable);
  return true;
}

// The engine registers are unknown after the client's own commands ran:
// the next emission writes every register group of the engine state again
// (the sync group keeps its tags).
void MarkEngineStateStale(RenderContext3d* current) {
  if (current->contextState != nullptr) current->contextState->dirty.words[0] |= kCsDirtyBlockGroups & ~kCsDirtySync;
}


// The client buffer kind whose data only the processor reads.
bool ProcessorOnly(const ClientBuffer3d& buffer) { return buffer.kind == kClientBufferPages; }

// An index source over [start, end & ~3) of a client buffer, checked to lie
// inside it; the count of whole indices, 0 for none.
uint32_t BindClientIndices(RenderState3d& state, const ClientBuffer3d& buffer, uint64_t start, uint64_t end,
                           uint32_t size) {
  end &= ~uint64_t{3};
  if (end > buffer.size || start >= end || buffer.linear == nullptr) return 0;
  const uint64_t count = (end - start) / size;
  if (count == 0 || count > 0xFFFFFFFFu) return 0;
  const uint8_t* at = static_cast<const uint8_t*>(buffer.linear) + start;
  const uint64_t p = reinterpret_cast<uintptr_t>(at);
  BindIndexSource(state, StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), size,
                                       static_cast<uint32_t>(count * size)});
  return static_cast<uint32_t>(count);
}

}  // namespace

// ---- Token 68 --------------------------------------------------------------------------------

namespace {

// {u32 layout handle, u32 index size, u32 index count, u32 data-buffer id
// of the index source, u8 progress flag, 3 pad, u32 state word, u32
// data-buffer id of the progress source, u32 its byte size, u32, u32, u32
// progress value, u32}.
struct BatchEntry {
  uint32_t layout;
  uint32_t indexSize;
  uint32_t indexCount;
  uint32_t indexBuffer;
  uint8_t progress;
  uint8_t pad[3];
  uint32_t state;
  uint32_t progressBuffer;
  uint32_t progressBytes;
  uint32_t reserved[2];
  uint32_t progressValue;
  uint32_t reserved2;
};
static_assert(sizeof(BatchEntry) == 48);
static_assert(offsetof(BatchEntry, progress) == 16 && offsetof(BatchEntry, progressValue) == 40);

// VertexLayout::Run: each range of the program is executed from the
// primary stream after its primitive type took effect.
void RunLayout(TokenContext3d* token, const VertexLayout3d& layout) {
  RenderContext3d* current = token->current;
  BmSecondaryInt* secondary = current->secondaryStream;
  if (secondary == nullptr || layout.programBuffer == nullptr || layout.ranges == nullptr) return;
  RenderContext3dHandOverStream(current);
  for (uint32_t i = 0; i < layout.rangeCount; ++i) {
    const LayoutRange& range = layout.ranges[i];
    if (range.stateFlag != 0) {
      SetDrawState(current->state, range.primitiveType);
      current->state.Apply();
      current->PrepareTargets();
      RenderContext3dHandOverStream(current);
      MarkEngineStateStale(current);
    }
    // The state written for the range runs before it.
    secondary->ExecutePending();
    secondary->ExecuteBuffer(range.start, range.end, kSecondarySubmitMode, layout.executeFlags);
  }
}

void EmitBatchProgress(TokenContext3d* token, uint32_t value) {
  RenderContext3d* current = token->current;
  BmSecondaryInt* stream = current->secondaryStream;
  if (stream == nullptr) return;
  stream->startFlags = kSecondarySubmitMode;
  StreamSink sink{stream};
  PutProgress(sink, value, static_cast<uint32_t>(token->context->statusPageBus));
  stream->ExecutePending();
  RenderContext3dHandOverProgressStream(current);
}

}  // namespace

void tokens::DrawBatch(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || payload == nullptr) return;
  ClientContext* client = token->context->client;
  RenderContext3d* current = token->current;
  RenderState3d& state = current->state;
  ClipRectIterator rects;
  if (client == nullptr || !StartRects(token, &rects)) return;
  for (uint32_t i = 0; i < count; ++i) {
    BatchEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    const VertexLayout3d* layout = entry.layout <= kClientMaxLayouts ? client->layouts.Get(entry.layout) : nullptr;
    if (layout == nullptr) continue;
    // The index source: a data buffer of the client by handle.
    if (DataBuffer3d* data = client->DataBuffer(entry.indexBuffer); data != nullptr && data->surface != nullptr &&
                                                                   (entry.indexSize == 2 || entry.indexSize == 4)) {
      BindIndexSource(state, StreamBinding{kBindingBuffer, Surface3dResourceHandle(data->surface), entry.indexSize,
                                           0, 0});
    }
    ResetStreamBindings(token->context, state);
    SetDrawState(state, entry.state);
    rects.Init(nullptr, {});
    StartRects(token, &rects);
    const bool several = rects.HasSeveral();
    while (rects.Next()) {
      rects.Apply(current);
      state.Apply();
      current->PrepareTargets();
      EmitTogglePacket(token);
      RenderContext3dHandOverStream(current);
      MarkTargetsBusy(current);
      RunLayout(token, *layout);
      if (several) rects.Restore(current);
    }
    if (entry.progress != 0) EmitBatchProgress(token, entry.progressValue);
  }
}

// ---- Token 25 --------------------------------------------------------------------------------

namespace {

// {u32, u32 index count, u32 state word, u32, u64 data-buffer id, u32
// index size, u32 binding word}.
struct StripEntry {
  uint32_t reserved0;
  uint32_t indexCount;
  uint32_t state;
  uint32_t reserved1;
  uint64_t buffer;
  uint32_t indexSize;
  uint32_t binding;
};
static_assert(sizeof(StripEntry) == 32);

}  // namespace

void tokens::DrawStrip(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || payload == nullptr) return;
  ClientContext* client = token->context->client;
  RenderContext3d* current = token->current;
  RenderState3d& state = current->state;
  if (client == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    StripEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    DataBuffer3d* data = entry.buffer <= 0xFFFFFFFFu ? client->DataBuffer(static_cast<uint32_t>(entry.buffer)) : nullptr;
    if (data == nullptr || data->surface == nullptr || (entry.indexSize != 2 && entry.indexSize != 4)) continue;
    ClipRectIterator rects;
    if (!StartRects(token, &rects)) return;
    while (rects.Next()) {
      rects.Apply(current);
      BindIndexSource(state,
                      StreamBinding{kBindingBuffer, Surface3dResourceHandle(data->surface), entry.indexSize, 0, 0});
      int32_t* words = state.streams.drawWords[0];
      if (words[0] != 0 || words[1] != static_cast<int32_t>(entry.binding)) {
        words[0] = 0;
        words[1] = static_cast<int32_t>(entry.binding);
        state.streams.flags |= kSfElements;
        token->context->bindingsReset = false;
      }
      SetDrawState(state, entry.state);
      DrawStep(token, entry.indexCount, true);
    }
  }
}

// ---- Tokens 24 and 27: passes ------------------------------------------------------------------

namespace {

// The second pass of a two-pass draw: the second state set to 3 for it,
// back to 2 after it.
constexpr uint32_t kSecondPassOn = 3;
constexpr uint32_t kSecondPassOff = 2;
constexpr uint32_t kStateBlockCapture = 2;

void SetState(RenderState3d& state, uint32_t id, uint32_t value) {
  const uint32_t pair[2] = {id, value};
  state.SetRenderStates(pair, 1);
}

// What NextDrawPass keeps between the passes of one draw.
struct PassState {
  uint32_t pass = 0;
  uint32_t saved = 0;
};

void RunSyncRecord(TokenContext3d* token, const uint64_t record[4]);

// After pass `pass.pass` of a draw: true when another pass follows.
bool NextDrawPass(TokenContext3d* token, PassState* pass) {
  Context3d* context = token->context;
  RenderState3d& state = token->current->state;
  const uint32_t value = state.values[kDrawPassState];
  const uint32_t first = pass->pass++;
  if (value == kDrawPassSingle) {
    if (!context->copyPending) return false;
    StateBlockTable* blocks = state.stateBlocks;
    const uint32_t key = static_cast<uint32_t>(context->keys[0]);
    if (first == 0) {
      context->copyRecord[0] = context->copyWords[2];
      context->copyRecord[1] = context->copyWords[1];
      RunSyncRecord(token, context->copyRecord);
      if (blocks != nullptr) blocks->Create(key, kStateBlockCapture);
      for (const auto& pair : context->defaults) SetState(state, pair[0], pair[1]);
      return true;
    }
    context->copyRecord[3] = context->copyRecord[0];
    context->copyRecord[0] = context->copyWords[0];
    RunSyncRecord(token, context->copyRecord);
    if (blocks != nullptr) {
      blocks->ApplyBlock(key);
      blocks->Erase(key);
    }
    return false;
  }
  if (context->word1 == 0 || context->count8 >= kRenderStateIds || context->count22 >= kRenderStateIds) return false;
  if (first == 0) {
    pass->saved = state.values[context->count8];
    SetState(state, context->count22, kSecondPassOn);
    SetState(state, context->count8, value);
    return true;
  }
  SetState(state, context->count22, kSecondPassOff);
  SetState(state, context->count8, pass->saved);
  return false;
}

}  // namespace

// ---- Token 24 --------------------------------------------------------------------------------

namespace {

// {u32 kind, u32 n, u32 state word, u32, u32, u32 vertex offset, u64 index
// buffer handle}, then n u32 words: pairs (start, end).
struct RangedEntry {
  uint32_t kind;
  uint32_t words;
  uint32_t state;
  uint32_t reserved[2];
  uint32_t vertexOffset;
  uint64_t indexBuffer;
};
static_assert(sizeof(RangedEntry) == 32);

void RangedDraw(TokenContext3d* token, const RangedEntry& entry, const uint32_t* pairs, uint32_t pairCount) {
  RenderContext3d* current = token->current;
  RenderState3d& state = current->state;
  Context3d* context = token->context;
  const bool noVertexBuffer = VertexBufferOf(token) == nullptr;
  SetDrawState(state, entry.state);
  const uint32_t kind = entry.kind & k3dPrimitiveKindMask;
  if (kind == k3dPrimitiveRange) {
    for (uint32_t p = 0; p < pairCount; ++p) {
      const uint32_t start = pairs[2 * p], end = pairs[2 * p + 1];
      if (end <= start) continue;
      if (!noVertexBuffer &&
          !BindClientVertices(token, uint64_t{entry.vertexOffset} + uint64_t{start} * context->vertexStride))
        continue;
      DrawStep(token, end - start, false);
    }
    return;
  }
  if (kind != k3dPrimitiveAddress16 && kind != k3dPrimitiveAddress32) return;
  const uint32_t size = kind == k3dPrimitiveAddress16 ? 2 : 4;
  const ClientBuffer3d* indices =
      context->client != nullptr ? context->client->Buffer(entry.indexBuffer) : nullptr;
  if (indices == nullptr) return;
  if (noVertexBuffer)
    ResetStreamBindings(context, state);
  else if (!BindClientVertices(token, entry.vertexOffset))
    return;
  // Pairs are byte offsets into a plain-page index buffer, bus addresses
  // into any other; either way they stay inside the buffer.
  const uint64_t base = ProcessorOnly(*indices) ? 0 : indices->bus;
  for (uint32_t p = 0; p < pairCount; ++p) {
    const uint64_t start = pairs[2 * p], end = pairs[2 * p + 1];
    if (start < base || end < base) continue;
    const uint32_t n = BindClientIndices(state, *indices, start - base, end - base, size);
    if (n == 0) continue;
    DrawStep(token, n, true);
  }
}

}  // namespace

void tokens::DrawIndexed(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || payload == nullptr) return;
  RenderContext3d* current = token->current;
  uint64_t at = 0;
  const uint64_t bytes = uint64_t{count} * sizeof(RangedEntry) + trailing;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + sizeof(RangedEntry) > bytes) return;
    RangedEntry entry;
    memcpy(&entry, payload + at, sizeof entry);
    at += sizeof entry;
    const uint64_t words = entry.words;
    if (words * 4 > bytes - at) return;
    // The interpreter's copy holds the words; they are 4-byte aligned there.
    const auto* pairs = reinterpret_cast<const uint32_t*>(payload + at);
    at += words * 4;
    ClipRectIterator rects;
    if (!StartRects(token, &rects)) return;
    while (rects.Next()) {
      rects.Apply(current);
      PassState pass;
      do {
        RangedDraw(token, entry, pairs, static_cast<uint32_t>(words / 2));
      } while (NextDrawPass(token, &pass));
      rects.Restore(current);
    }
  }
}

// ---- Token 27 --------------------------------------------------------------------------------

namespace {

// {u32 state word, u32, u64 client buffer handle, u64 range start, u64
// range end (bit 0: a 16-byte trailer), u32 vertex offset, u32}; start and
// end are byte offsets into a plain-page buffer, bus addresses into any
// other.
struct PacketEntry {
  uint32_t state;
  uint32_t reserved0;
  uint64_t buffer;
  uint64_t start;
  uint64_t end;
  uint32_t vertexOffset;
  uint32_t reserved1;
};
static_assert(sizeof(PacketEntry) == 40);
constexpr uint64_t kTrailerBytes = 16;
constexpr uint32_t kRecordWords = 5;
constexpr uint32_t kStateRecords = 3;

// The client's packet in [start, end) of its buffer replayed through the
// render context's own emitters.
void ReplayClientPacket(TokenContext3d* token, const PacketEntry& entry, const ClientBuffer3d& buffer, uint64_t start,
                        uint64_t end) {
  RenderContext3d* current = token->current;
  RenderState3d& state = current->state;
  Context3d* context = token->context;
  SetDrawState(state, entry.state);
  ResetStreamBindings(context, state);
  const auto* base = static_cast<const uint8_t*>(buffer.linear);
  if (end < start + 4) return;
  const uint32_t header = WordAt(base, start);
  const uint64_t after = start + 4;
  const uint64_t room = (end - after) / 4;  // words behind the header
  uint64_t n = (header & 0xFFFF) + uint64_t{1};
  const uint32_t kind = header & k3dPrimitiveKindMask;
  const ClientBuffer3d* vertices = VertexBufferOf(token);
  const uint32_t stride = context->vertexStride;
  switch (kind) {
    case k3dPrimitiveInline16: {
      if (n > room * 2) n = room * 2;
      if (!BindClientVertices(token, entry.vertexOffset)) return;
      if (BindClientIndices(state, buffer, after, after + n * 2 + 3, 2) == 0) return;
      DrawStep(token, static_cast<uint32_t>(n), true);
      return;
    }
    case k3dPrimitiveAddress16:
    case k3dPrimitiveAddress32: {
      const uint32_t size = kind == k3dPrimitiveAddress16 ? 2 : 4;
      if (!BindClientVertices(token, entry.vertexOffset)) return;
      // n u64 words, two to a pair, as many as the range holds.
      const uint64_t wide = room / 2;
      const uint64_t pairs = (n < wide ? n : wide) / 2;
      for (uint64_t p = 0; p < pairs; ++p) {
        const uint64_t s = Word64At(base, after + p * 16), e = Word64At(base, after + p * 16 + 8);
        const uint32_t count = BindClientIndices(state, buffer, s, e, size);
        if (count != 0) DrawStep(token, count, true);
      }
      return;
    }
    case k3dPrimitiveRange: {
      if (vertices == nullptr || stride == 0) return;
      // Records of five words, as many as lie whole behind the header, or
      // pairs, as many as the header counts and the range holds.
      const bool records = entry.state == kStateRecords;
      const uint64_t stepWords = records ? kRecordWords : 2;
      const uint64_t steps = records ? (end - after) / (kRecordWords * 4) : (n < room ? n : room) / 2;
      for (uint64_t r = 0; r < steps; ++r) {
        const uint32_t first = WordAt(base, after + r * stepWords * 4);
        const uint32_t last = WordAt(base, after + r * stepWords * 4 + 4);
        if (last <= first) continue;
        if (!BindClientVertices(token, uint64_t{entry.vertexOffset} + uint64_t{first} * stride)) continue;
        DrawStep(token, last - first, false);
      }
      return;
    }
    default:
      return;
  }
}

// A trailer of four words that is one packet of the render context's
// stream: a count of 2, then a header whose register indices (padding
// only after them) take exactly the two data words that follow.
bool WholeTrailerPacket(const uint32_t words[4]) {
  constexpr uint32_t kPad = kIdxPad.Byte();
  if (words[0] != 2) return false;
  uint32_t data = 0;
  bool padded = false;
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t index = words[1] >> (8 * i) & 0xFF;
    if (index == kPad) {
      padded = true;
      continue;
    }
    if (padded) return false;
    ++data;
  }
  return data == 2;
}

// The run of a range the engine fetches from the client's buffer.
void ExecuteClientRange(TokenContext3d* token, const PacketEntry& entry, const ClientBuffer3d& buffer, uint64_t start,
                        uint64_t end) {
  RenderContext3d* current = token->current;
  BmSecondaryInt* secondary = token->common != nullptr && token->common->secondaryStream != nullptr
                                  ? token->common->secondaryStream
                                  : current->secondaryStream;
  if (secondary == nullptr || ProcessorOnly(buffer) || buffer.bus + end > 0xFFFFFFFFu || end <= start) return;
  SetDrawState(current->state, entry.state);
  current->state.Apply();
  current->PrepareTargets();
  EmitTogglePacket(token);
  RenderContext3dHandOverStream(current);
  MarkTargetsBusy(current);
  // The state written for the range runs before it.
  if (current->secondaryStream != nullptr) current->secondaryStream->ExecutePending();
  const uint32_t type = buffer.kind == kClientBufferAgp ? 2 : 3;
  secondary->ExecuteBuffer(static_cast<uint32_t>(buffer.bus + start), static_cast<uint32_t>(buffer.bus + end),
                           kSecondarySubmitMode, type);
  MarkEngineStateStale(current);
}

}  // namespace

void tokens::DrawIndexedPrimitives(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || payload == nullptr) return;
  Context3d* context = token->context;
  ClientContext* client = context->client;
  RenderContext3d* current = token->current;
  RenderState3d& state = current->state;
  if (client == nullptr) return;
  bool drew = false;
  for (uint32_t i = 0; i < count; ++i) {
    PacketEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    const ClientBuffer3d* buffer = client->Buffer(entry.buffer);
    if (buffer == nullptr || buffer->linear == nullptr) continue;
    // Byte offsets into a plain-page buffer, bus addresses into any other.
    // The range, with its trailer, lies inside the named buffer and starts
    // on a word.
    const uint64_t base = ProcessorOnly(*buffer) ? 0 : buffer->bus;
    const bool trailer = (entry.end & 1) != 0;
    if (entry.start < base || (entry.end & ~uint64_t{1}) < base) continue;
    const uint64_t start = entry.start - base;
    const uint64_t end = (entry.end & ~uint64_t{1}) - base;
    if (end > buffer->size || (start & 3) != 0 || (end & 3) != 0) continue;
    const uint64_t proper = trailer ? end - kTrailerBytes : end;
    if ((trailer && end < kTrailerBytes) || proper < start) continue;
    const ClientBuffer3d* vertices = VertexBufferOf(token);
    const bool replay = vertices != nullptr && ProcessorOnly(*vertices);
    if (vertices != nullptr) {
      int32_t* words = state.streams.drawWords[0];
      if (words[0] != static_cast<int32_t>(entry.vertexOffset) || words[1] != 0) {
        words[0] = static_cast<int32_t>(entry.vertexOffset);
        words[1] = 0;
        state.streams.flags |= kSfElements;
        context->bindingsReset = false;
      }
    }
    ClipRectIterator rects;
    if (!StartRects(token, &rects)) return;
    while (rects.Next()) {
      rects.Apply(current);
      PassState pass;
      do {
        if (replay)
          ReplayClientPacket(token, entry, *buffer, start, proper);
        else
          ExecuteClientRange(token, entry, *buffer, start, proper);
      } while (NextDrawPass(token, &pass));
      rects.Restore(current);
      drew = true;
    }
    if (!trailer) continue;
    if (!replay) {
      ExecuteClientRange(token, entry, *buffer, proper, end);
      continue;
    }
    // A processor-only buffer's trailer is copied into the render
    // context's stream, when it is one whole packet: its words must not
    // change how the engine reads the kernel's packets after it.
    uint32_t trailerWords[kTrailerBytes / 4];
    memcpy(trailerWords, static_cast<const uint8_t*>(buffer->linear) + proper, kTrailerBytes);
    BmSecondaryInt* stream = current->secondaryStream;
    if (stream == nullptr || !WholeTrailerPacket(trailerWords)) continue;
    stream->startFlags = kSecondarySubmitMode;
    if (PacketWords p{stream->Reserve(kTrailerBytes / 4)}) {
      p.Copy<kTrailerBytes / 4>(trailerWords);
      stream->ExecutePending();
    }
    RenderContext3dHandOverStream(current);
  }
  if (drew) TagTargets(token);
}

// ---- Token 28 --------------------------------------------------------------------------------

namespace {

// {u32 primitive type, u32 vertex count, u32 stride, six u32 viewport
// words, u32 byte count}; the vertices follow the entries in entry order.
struct UserEntry {
  uint32_t type;
  uint32_t vertices;
  uint32_t stride;
  uint32_t viewport[6];
  uint32_t bytes;
};
static_assert(sizeof(UserEntry) == 40);

}  // namespace

void tokens::DrawUserPrimitives(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || payload == nullptr) return;
  RenderContext3d* current = token->current;
  RenderState3d& state = current->state;
  const uint8_t* data = payload + static_cast<size_t>(count) * sizeof(UserEntry);
  uint64_t used = 0;
  const StreamBinding saved = state.streams.bindings[0];
  for (uint32_t i = 0; i < count; ++i) {
    UserEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    // Vertex data past the token's trailing bytes ends the token.
    if (entry.bytes > trailing - used) break;
    const uint8_t* vertices = data + used;
    used += entry.bytes;
    if (entry.stride == 0 || entry.stride > 0xFFFF) continue;
    const uint32_t whole = entry.bytes / entry.stride;
    const uint32_t n = entry.vertices < whole ? entry.vertices : whole;
    if (n == 0) continue;
    state.SetPrimitiveMode(entry.type);
    state.SetViewport(entry.viewport);
    // The vertices are read from the interpreter's copy, whose processor
    // reads are bounded by the bytes the entry carries.
    state.streams.bindings[0] = PointerBinding(vertices, entry.stride, n);
    state.streams.changedMask = static_cast<uint8_t>(state.streams.changedMask | 1u);
    ResetStreamBindings(token->context, state);
    ClipRectIterator rects;
    if (!StartRects(token, &rects)) break;
    while (rects.Next()) {
      rects.Apply(current);
      DrawStep(token, n, false);
      rects.Restore(current);
    }
  }
  // The copy is reused by the next token: stream 0 leaves it.
  if (!SameBytes(&state.streams.bindings[0], &saved, sizeof saved)) {
    state.streams.bindings[0] = saved;
    state.streams.changedMask = static_cast<uint8_t>(state.streams.changedMask | 1u);
  }
}

// ---- Token 13 --------------------------------------------------------------------------------

namespace {

// {u64 surface index, u64 surface index, u8 copy flag, 7 pad, u64 surface
// index}: the first two name the targets that take the tag.
constexpr uint32_t kSyncEntryBytes = 32;
constexpr uint32_t kSyncCopyFlagAt = 16;

void RunSyncRecord(TokenContext3d* token, const uint64_t record[4]) {
  if (token->common == nullptr || token->common->sharedLocked == nullptr) return;
  ClientContext* client = token->context->client;
  SharedLockedData_t* shared = token->common->sharedLocked;
  const uint32_t tag = TakeNextTag(shared);
  uint32_t mask = 0;
  for (int t = 0; t < 2; ++t) {
    Surface3d* surface = client != nullptr && client->surfaces != nullptr && record[t] != 0
                             ? client->surfaces->Surface(record[t])
                             : nullptr;
    if (surface == nullptr) continue;
    surface->lastWriteTag = tag;
    mask |= t == 0 ? kTargetColour : kTargetDepth;
  }
  if (mask != 0) (void)EmitTargetTagPacket(token->common, mask, tag);
}

}  // namespace

void tokens::SyncTargets(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->context == nullptr || payload == nullptr) return;
  Context3d* context = token->context;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = payload + static_cast<size_t>(i) * kSyncEntryBytes;
    uint64_t record[4] = {Word64At(entry, 0), Word64At(entry, 8), 0, Word64At(entry, 24)};
    if (entry[kSyncCopyFlagAt] != 0) {
      // A copy request for the two-pass draws that follow.
      context->copyPending = true;
      context->copyWords[0] = record[0];
      context->copyWords[1] = record[1];
      context->copyWords[2] = record[3];
      // The copy's colour surface is the target synchronisation a
      // re-attach runs again.
      context->savedTargets = SavedTargets3d{record[0], kTargetColour};
      continue;
    }
    RunSyncRecord(token, record);
  }
}
