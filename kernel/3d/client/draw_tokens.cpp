// The draw, clear and copy tokens of the command-token interpreter that
// change the current render context's state for later draws: the stream
// sources (token 8), lights (token 33) and the two stored vertex-engine
// matrices (token 34); the clears of token 21, replayed over the
// drawable's rectangles (draw_replay.h), with a fill of the displayed
// surface when the entry asks for it; the client's own command ranges
// (token 26); and data written into data buffers (token 80). The draws
// themselves are in draw_replay.cpp.
//
// Entries and their trailing bytes are the interpreter's kernel copy of
// client data: every count and byte length is bounded by what the token
// carries.
#include <string.h>

#include "core/common_data.h"
#include "core/same_bytes.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/draw_replay.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/draw/vertex_stream_setup.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/dma_streams.h"
#include "kernel/range_map.h"
#include "kernel/sync_tags.h"

namespace {

// Token 8: {u32 stream, u32, u64 data-buffer id or client buffer handle,
// u32 stride, u32, u32 source kind, u32}.
struct StreamSourceEntry {
  uint32_t stream;
  uint32_t reserved0;
  uint64_t id;
  uint32_t stride;
  uint32_t reserved1;
  uint32_t sourceKind;
  uint32_t reserved2;
};
static_assert(sizeof(StreamSourceEntry) == 32);
constexpr uint32_t kSourceClientBuffer = 0xFFFFFFFF;
constexpr uint32_t kStrideAbsent = 0xFFFFFFFF;
constexpr uint32_t kStrideMax = 65534;

// Writes a stream's binding when it differs, marking the stream changed.
void BindStream(RenderState3d& state, uint32_t stream, const StreamBinding& binding) {
  StreamBinding& current = state.streams.bindings[stream];
  if (SameBytes(&current, &binding, sizeof binding)) return;
  current = binding;
  state.streams.changedMask = static_cast<uint8_t>(state.streams.changedMask | 1u << stream);
}

// The address the engine fetches a client buffer at: its bus address plus
// the offset, the low bits naming the memory of an AGP (2) or page-locked
// PCI (3) buffer. False when the engine's 32-bit address cannot hold it.
bool BufferEngineAddress(const ClientBuffer3d& buffer, uint64_t offset, uint32_t* address) {
  uint64_t sum = buffer.bus + offset;
  if (buffer.kind == kClientBufferAgp) sum = (sum & ~uint64_t{3}) | 2;
  if (buffer.kind == kClientBufferPciLocked) sum = (sum & ~uint64_t{3}) | 3;
  if (sum > 0xFFFFFFFFu) return false;
  *address = static_cast<uint32_t>(sum);
  return true;
}

// Binds a client buffer as the entry's stream: the buffer's engine
// address, the entry's stride and the buffer's size; then the stream
// bindings are reset. False, with nothing bound, when the engine cannot
// reach the buffer.
bool BindClientStream(const ClientBuffer3d& buffer, Context3d* context, RenderState3d& state,
                      const StreamSourceEntry& entry) {
  uint32_t address = 0;
  if (!BufferEngineAddress(buffer, 0, &address)) return false;
  const uint32_t size = buffer.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(buffer.size);
  BindStream(state, entry.stream, StreamBinding{kBindingAddress, address, entry.stride, size, 0});
  ResetStreamBindings(context, state);
  return true;
}

// Token 33: {u32 light index, u32 byte count}; the bytes follow the
// entries in entry order, one light record each.
constexpr uint32_t kLightEntryBytes = 8;

// Token 34: {u32 kind, 16 u32 matrix, u32 extra}.
constexpr uint32_t kMatrixEntryWords = 18;
constexpr uint32_t kMatrixExtraWord = 11;
constexpr uint32_t kFirstMatrixConst = 308;
constexpr uint32_t kSecondMatrixConst = 342;
constexpr uint32_t kMatrixConsts = 4;

void StoreMatrix(VecConstShadow* shadow, uint32_t first, const uint32_t matrix[16]) {
  if (SameBytes(&shadow->image[first], matrix, kMatrixConsts * sizeof(VecConst))) return;
  memcpy(&shadow->image[first], matrix, kMatrixConsts * sizeof(VecConst));
  shadow->MarkDirty(first, first + kMatrixConsts - 1);
}

// Token 21: {flags, colour, depth, stencil, fill value, rectangle
// relative to the drawable}.
struct ClearEntry {
  ClearRecord record;
  uint32_t fill;
  int32_t left, top, right, bottom;
};
static_assert(sizeof(ClearEntry) == 36);
// Flag bit 4: the device's displayed surface takes the fill value too.
constexpr uint32_t kClearFillDisplayed = 0x10;

int32_t Saturate(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
}

// Token 26: {u32 state word, u32, u64 bus start, u64 bus end}.
struct RangeEntry {
  uint32_t state;
  uint32_t reserved;
  uint64_t start;
  uint64_t end;
};
static_assert(sizeof(RangeEntry) == 24);
constexpr uint64_t kRangeTrailerBytes = 16;
constexpr uint32_t kRangeMode = 2;

// The memory-space bits the engine reads a fetchable client buffer's bus
// addresses in: 2 AGP, 3 page-locked PCI.
uint32_t BusTypeOf(const ClientBuffer3d& buffer) { return buffer.kind == kClientBufferAgp ? 2 : 3; }

// The client buffer (request 5) the engine can fetch from (AGP or
// page-locked PCI memory; plain pages only the processor reads) that holds
// [start, end) whole, or null. A range the engine's 32-bit addresses cannot
// reach has none.
const ClientBuffer3d* BufferHolding(const ClientContext* client, uint64_t start, uint64_t end) {
  if (client == nullptr || end > 0xFFFFFFFFu || start >= end) return nullptr;
  for (uint32_t h = 1; h < client->buffers.Capacity(); ++h) {
    const ClientBuffer3d* b = client->buffers.Get(h);
    if (b == nullptr || (b->kind != kClientBufferAgp && b->kind != kClientBufferPciLocked)) continue;
    if (b->bus > start || b->size > UINT64_MAX - b->bus) continue;
    if (end <= b->bus + b->size) return b;
  }
  return nullptr;
}

// Token 80: {u32 data-buffer id, u32 byte offset, u32, u32 byte count};
// the bytes follow the entries in entry order.
struct WriteEntry {
  uint32_t id;
  uint32_t offset;
  uint32_t reserved;
  uint32_t bytes;
};
static_assert(sizeof(WriteEntry) == 16);

}  // namespace

void tokens::SetLights(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  if (token == nullptr || token->current == nullptr || payload == nullptr) return;
  RenderState3d& state = token->current->state;
  const uint8_t* data = payload + static_cast<size_t>(count) * kLightEntryBytes;
  uint64_t used = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry[2];
    memcpy(entry, payload + static_cast<size_t>(i) * kLightEntryBytes, sizeof entry);
    const uint32_t bytes = entry[1];
    // A record past the trailing bytes ends the token; one too short to
    // hold a light is skipped.
    if (bytes > trailing - used) return;
    if (bytes >= sizeof(LightRecord)) {
      LightRecord light;
      memcpy(&light, data + used, sizeof light);
      state.SetLight(entry[0], &light);
    }
    used += bytes;
  }
}

void tokens::SetVertexConstants(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || payload == nullptr) return;
  VecConstShadow* shadow = RenderContext3dVecConstShadow(token->current);
  if (shadow == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry[kMatrixEntryWords];
    memcpy(entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    const uint32_t kind = entry[0];
    if (kind < 1 || kind > 3) continue;
    uint32_t matrix[16];
    memcpy(matrix, entry + 1, sizeof matrix);
    matrix[kMatrixExtraWord] = entry[17];
    if ((kind & 1) != 0) StoreMatrix(shadow, kFirstMatrixConst, matrix);
    if ((kind & 2) != 0) StoreMatrix(shadow, kSecondMatrixConst, matrix);
  }
}

void tokens::SetStreamSources(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || payload == nullptr) return;
  Context3d* context = token->context;
  ClientContext* client = context->client;
  RenderState3d& state = token->current->state;
  context->vertexBufferHandle = 0;
  for (uint32_t i = 0; i < count; ++i) {
    StreamSourceEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    context->vertexStride = entry.stride;
    if (entry.stream >= kVertexStreams || client == nullptr) continue;
    if (entry.sourceKind == kSourceClientBuffer) {
      const ClientBuffer3d* buffer = client->Buffer(entry.id);
      if (buffer == nullptr || !BindClientStream(*buffer, context, state, entry)) continue;
      context->vertexBufferHandle = entry.id;
      continue;
    }
    if (entry.id > 0xFFFFFFFFu) continue;
    DataBuffer3d* data = client->DataBuffer(static_cast<uint32_t>(entry.id));
    if (data == nullptr || data->surface == nullptr) continue;
    const bool absent = entry.stride == kStrideAbsent;
    const uint32_t stride = absent ? 0 : (entry.stride > kStrideMax ? kStrideMax : entry.stride);
    BindStream(state, entry.stream,
               StreamBinding{kBindingBuffer, Surface3dResourceHandle(data->surface), stride, absent ? 1u : 0u, 0});
  }
}

void tokens::ClearBatch(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || payload == nullptr) return;
  RenderContext3d* current = token->current;
  ClipRect drawable = {};
  // No rectangle list: nothing is cleared.
  const ClipRectList* list = DrawRectsOf(token, &drawable);
  if (list == nullptr) return;
  Surface3d* displayed = token->device != nullptr ? BlitEngine3dDisplayedSurface(token->device) : nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    ClearEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    // The rectangle moves by the drawable's origin in this copy only.
    const ClearRect moved = {Saturate(int64_t{entry.left} + drawable.left),
                             Saturate(int64_t{entry.top} + drawable.top),
                             Saturate(int64_t{entry.right} + drawable.left),
                             Saturate(int64_t{entry.bottom} + drawable.top)};
    ClipRectIterator rects;
    rects.Init(list, drawable);
    while (rects.Next()) {
      const ClipRect& clip = rects.Current();
      ClearRect box = {moved.left > clip.left ? moved.left : clip.left, moved.top > clip.top ? moved.top : clip.top,
                       moved.right < clip.right ? moved.right : clip.right,
                       moved.bottom < clip.bottom ? moved.bottom : clip.bottom};
      if (box.Empty()) continue;
      rects.Apply(current);
      current->state.Apply();
      current->PrepareTargets();
      ClearTargetRects(current->targetState, entry.record, &box, 1);
      if ((entry.record.flags & kClearFillDisplayed) != 0 && displayed != nullptr) {
        SurfaceFillRequest fill;
        fill.flags = 0;
        fill.rect[0] = static_cast<uint32_t>(box.left);
        fill.rect[1] = static_cast<uint32_t>(box.top);
        fill.rect[2] = static_cast<uint32_t>(box.right);
        fill.rect[3] = static_cast<uint32_t>(box.bottom);
        fill.value = entry.fill;
        fill.mask = 0xFFFFFFFF;
        fill.rop = kRopCopy;
        displayed->Fill(fill);
      }
      rects.Restore(current);
    }
  }
}

void tokens::ExecuteRanges(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || token->context == nullptr || token->common == nullptr ||
      payload == nullptr)
    return;
  RenderContext3d* current = token->current;
  BmSecondaryInt* secondary =
      token->common->secondaryStream != nullptr ? token->common->secondaryStream : current->secondaryStream;
  bool ran = false;
  ResetStreamBindings(token->context, current->state);
  for (uint32_t i = 0; i < count; ++i) {
    RangeEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    // A range runs only from inside one of the client's own buffers,
    // word-aligned and long enough for its 16-byte trailer.
    if ((entry.start & 3) != 0 || (entry.end & 3) != 0 || entry.end < entry.start + kRangeTrailerBytes) continue;
    const ClientBuffer3d* buffer = BufferHolding(token->context->client, entry.start, entry.end);
    if (buffer == nullptr || secondary == nullptr) continue;
    current->state.Apply();
    current->PrepareTargets();
    RenderContext3dHandOverStream(current);
    MarkTargetsBusy(current);
    const uint32_t type = BusTypeOf(*buffer);
    const uint32_t start = static_cast<uint32_t>(entry.start);
    const uint32_t end = static_cast<uint32_t>(entry.end);
    const uint32_t trailer = end - static_cast<uint32_t>(kRangeTrailerBytes);
    secondary->ExecuteBuffer(start, trailer, kRangeMode, type);
    secondary->ExecuteBuffer(trailer, end, kRangeMode, type);
    ran = true;
  }
  // The client's commands drew into the targets: they take a new tag.
  if (ran) RenderContext3dSealTargets(current, TakeNextTag(token->common->sharedLocked));
}

void tokens::WriteBufferData(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  if (token == nullptr || token->context == nullptr || payload == nullptr) return;
  ClientContext* client = token->context->client;
  const uint8_t* data = payload + static_cast<size_t>(count) * sizeof(WriteEntry);
  uint64_t used = 0;
  bool wrote = false;
  for (uint32_t i = 0; i < count; ++i) {
    WriteEntry entry;
    memcpy(&entry, payload + static_cast<size_t>(i) * sizeof entry, sizeof entry);
    // Bytes past the token end it.
    if (entry.bytes > trailing - used) break;
    const uint8_t* bytes = data + used;
    used += entry.bytes;
    DataBuffer3d* buffer = client != nullptr ? client->DataBuffer(entry.id) : nullptr;
    if (buffer == nullptr || buffer->ring == nullptr) continue;
    // What lies past the buffer's end is dropped.
    const uint32_t size = buffer->ring->Size();
    if (entry.offset >= size || entry.bytes == 0) continue;
    const uint32_t n = entry.bytes < size - entry.offset ? entry.bytes : size - entry.offset;
    if (auto* at = static_cast<uint8_t*>(buffer->ring->Lock(false, false))) {
      memcpy(at + entry.offset, bytes, n);
      buffer->ring->Unlock();
      wrote = true;
    }
  }
  // The engine may read the buffer from what is already queued: start it.
  if (wrote && token->common != nullptr && token->common->primaryStream != nullptr)
    token->common->primaryStream->Start();
}
