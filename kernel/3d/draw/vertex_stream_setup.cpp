// Vertex format decoding and stream set-up: the sources of a render
// context's next draw, its active streams and vertex window, and the
// primitive emitters chosen for them.
#include "kernel/3d/draw/vertex_stream_setup.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/mm_block.h"
#include "kernel/3d/draw/primitive_emitters.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/dma_streams.h"

namespace {

struct PrimitiveBits {
  uint8_t code;
  uint8_t cls;
};
constexpr PrimitiveBits kPrimitiveBits[kPrimitiveTypes] = {
    {0, 0x20}, {0, 0x20}, {1, 0x3D}, {2, 0x3D}, {2, 0x3D}, {3, 0x5C}, {4, 0x5C},
    {5, 0x5C}, {5, 0x5C}, {6, 0x5C}, {7, 0x5C}, {1, 0x3D}, {3, 0x5C}};

constexpr uint32_t kMemoryClassNone = 0;
constexpr uint32_t kMemoryClassProcessor = 1;
constexpr uint32_t kMemoryClassFetchable = 2;
constexpr uint32_t kMaxActiveStreams = kVertexStreams;
constexpr uint32_t kElementOffsetMax = 0xFF;

// Where a resource buffer's memory lies, as the engine sees it.
uint32_t MemoryClassOf(const Surface3d* buffer) {
  if (buffer->ring != nullptr)
    return buffer->ring->memoryKind == kBmMemProcess ? kMemoryClassProcessor : kMemoryClassFetchable;
  if (buffer->block == nullptr && (buffer->master == nullptr || buffer->master->block == nullptr))
    return kMemoryClassNone;
  switch (buffer->MemoryKind()) {
    case kSurfProcess:
    case kSurfSystem:
      return kMemoryClassProcessor;
    case kSurfNone:
      return kMemoryClassNone;
    default:
      return kMemoryClassFetchable;
  }
}

uint32_t BufferSizeOf(const Surface3d* buffer) {
  if (buffer->ring != nullptr) return buffer->ring->Size();
  const MmBlock* block = buffer->block != nullptr ? buffer->block
                         : buffer->master != nullptr ? buffer->master->block
                                                     : nullptr;
  return block != nullptr ? static_cast<uint32_t>(block->size) : 0;
}

uint64_t PointerOf(uint32_t low, uint32_t high) { return static_cast<uint64_t>(high) << 32 | low; }

}  // namespace

uint32_t PackElementWord(const uint8_t element[4], uint32_t previous) {
  const uint32_t b0 = element[0], b1 = element[1], b2 = element[2], b3 = element[3];
  constexpr uint32_t kFields = 0x7u | 0xFF0u | 0x1F000u | 0xE0000u | 0x3C00000u | 0x4000000u | 0x38000000u |
                               kElementLast;
  return (previous & ~kFields) | (b1 & 7u) | b0 << 4 | (b1 >> 3) << 12 | (b2 & 7u) << 17 |
         ((b2 >> 3) & 0xFu) << 22 | (b2 >> 7) << 26 | (b3 & 7u) << 27;
}

VertexStreamSetup::VertexStreamSetup() : drawHandler(EmitNothing), indexedHandler(EmitNothing) {
  for (StreamSource& s : sources) ClearSource(&s);
  ClearSource(&index);
  fetch.setup = this;
}

void VertexStreamSetup::ClearSource(StreamSource* source) {
  source->residence = kResidenceUnbound;
  source->size = 0;
  source->stride = 0;
  source->flag = 0;
  source->activeEntry = -1;
  source->kind = kSourceAddress;
  source->buffer = nullptr;
  source->pointer = nullptr;
  source->address = 0;
}

bool VertexStreamSetup::Bind(RenderContext3d* renderContext) {
  context = renderContext;
  fetch.setup = this;
  if (renderContext != nullptr && renderContext->contextState != nullptr)
    renderContext->contextState->dirty.words[0] |= 0x0Fu << 8;
  outputMode = kOutputModeNormal;
  drawPair = &DrawPairDirect;
  indexedPair = &IndexedPairInline;
  return true;
}

void VertexStreamSetup::SetPrimitiveType(uint32_t type, uint32_t* controlWord) {
  if (type >= kPrimitiveTypes) return;
  const PrimitiveBits bits = kPrimitiveBits[type];
  uint32_t word = (*controlWord & kPrimitiveKeptBits) | bits.cls | static_cast<uint32_t>(bits.code) << kPrimitiveCodeShift |
                  kPrimitiveBit17;
  if (outputMode == kOutputModeCreated) word |= kPrimitiveMode1;
  *controlWord = word;
  primitiveType = type;
  ChooseHandlers();
}

void VertexStreamSetup::SetIndexStart(const StreamDrawState& draw) {
  indexStartOffset = draw.startIndex * index.stride + draw.indexBaseOffset;
}

uint32_t VertexStreamSetup::StrideOf(const ActiveStream& a) const {
  return (strideOverride != 0 ? strideOverride : a.source->stride) & 0xFFFF;
}

void VertexStreamSetup::ComputeStreamAddresses(const StreamDrawState& draw) {
  for (uint32_t i = 0; i < activeCount; ++i) {
    ActiveStream& a = active[i];
    const int64_t start = static_cast<int64_t>(StrideOf(a)) * draw.startVertex[a.stream] + draw.baseOffset[a.stream];
    const int64_t size = a.source->size;
    // Clamped to the stream's data (and to what an offset can hold).
    const int64_t clamped = start > size ? size : start < INT32_MIN ? INT32_MIN : start;
    a.startOffset = static_cast<int32_t>(clamped > INT32_MAX ? INT32_MAX : clamped);
  }
}

void VertexStreamSetup::SetIndexSource(const StreamBinding& b) {
  IndexSource& s = index;
  ClearSource(&s);
  switch (b.kind) {
    case kBindingBuffer: {
      Surface3d* buffer =
          context != nullptr && context->resources != nullptr ? context->resources->Get(kBufferResourceType, b.handle) : nullptr;
      const uint32_t cls = buffer != nullptr ? MemoryClassOf(buffer) : kMemoryClassNone;
      if (cls == kMemoryClassNone) break;
      s.residence = cls == kMemoryClassProcessor ? kResidenceProcessor : kResidenceFetchable;
      s.size = BufferSizeOf(buffer);
      s.stride = b.stride;
      s.kind = kSourceBuffer;
      s.buffer = buffer;
      break;
    }
    case kBindingAddress:
      s.residence = kResidenceFetchable;
      s.kind = kSourceAddress;
      s.address = b.handle;
      s.stride = b.word3;
      break;
    case kBindingPointer: {
      const uint64_t pointer = PointerOf(b.handle, b.stride);
      if (pointer == 0) break;
      s.residence = kResidenceProcessor;
      s.kind = kSourcePointer;
      s.pointer = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(pointer));
      s.stride = b.word3;
      // The byte size its binder gives bounds every read.
      s.size = b.word4;
      break;
    }
    default:
      break;
  }
  if (outputMode == kOutputModeNormal)
    indexedPair = s.residence == kResidenceFetchable ? &IndexedPairFetchable : &IndexedPairInline;
  ChooseHandlers();
}

uint8_t VertexStreamSetup::SetStreamSources(uint8_t changed, const StreamBinding* bindings) {
  if (changed == 0 || bindings == nullptr) return fetchable;
  for (uint32_t n = 0; n < kVertexStreams; ++n) {
    if ((changed >> n & 1) == 0) continue;
    const StreamBinding& b = bindings[n];
    StreamSource& s = sources[n];
    const int32_t entry = s.activeEntry;
    ClearSource(&s);
    switch (b.kind) {
      case kBindingBuffer: {
        Surface3d* buffer = context != nullptr && context->resources != nullptr
                                ? context->resources->Get(kBufferResourceType, b.handle)
                                : nullptr;
        // A buffer with no memory the engine or the processor can reach is
        // no source.
        const uint32_t cls = buffer != nullptr ? MemoryClassOf(buffer) : kMemoryClassNone;
        if (cls == kMemoryClassNone) break;
        s.kind = kSourceBuffer;
        s.buffer = buffer;
        s.size = BufferSizeOf(buffer);
        s.stride = b.stride;
        s.flag = static_cast<uint8_t>(b.word3);
        s.residence = cls == kMemoryClassProcessor ? kResidenceProcessor : kResidenceFetchable;
        s.activeEntry = entry;
        break;
      }
      case kBindingAddress:
        s.kind = kSourceAddress;
        s.address = b.handle;
        s.stride = b.stride;
        s.size = b.word3;
        s.flag = static_cast<uint8_t>(b.word4);
        s.residence = kResidenceFetchable;
        s.activeEntry = entry;
        break;
      case kBindingPointer: {
        const uint64_t pointer = PointerOf(b.handle, b.stride);
        const uint64_t size = static_cast<uint64_t>(b.word3) * b.word4;
        // A null pointer, or a size beyond what a source can say, is no
        // source.
        if (pointer == 0 || size > UINT32_MAX) break;
        s.kind = kSourcePointer;
        s.pointer = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(pointer));
        s.stride = b.word3;
        s.size = static_cast<uint32_t>(size);
        s.residence = kResidenceProcessor;
        s.activeEntry = entry;
        break;
      }
      default:
        break;
    }
  }
  fetchable = 1;
  for (uint32_t i = 0; i < activeCount; ++i)
    if (active[i].source->residence == kResidenceProcessor) fetchable = 0;
  return fetchable;
}

bool VertexStreamSetup::StoreElementList(const uint8_t* list, uint32_t bytes) {
  if (list == nullptr || bytes < 4) return false;
  const uint32_t count = list[0] & 0x1Fu;
  if (bytes - 4 < 4u * count) return false;
  memcpy(elements, list + 4, 4u * count);
  elementCount = count;
  return true;
}

void VertexStreamSetup::SetVertexElements(StreamHwState* state) {
  for (uint32_t i = 0; i < activeCount; ++i) active[i].source->activeEntry = -1;
  activeCount = 0;
  fetchable = 1;
  layoutDrawable = 1;
  // The active entry of each element.
  uint8_t entryOf[kMaxVertexElements] = {};
  for (uint32_t i = 0; i < elementCount; ++i) {
    const uint32_t stream = elements[i][1] & 7u;
    if (activeCount == 0 || active[activeCount - 1].stream != stream) {
      if (activeCount == kMaxActiveStreams) {
        // The elements switch streams more often than there are entries.
        layoutDrawable = 0;
        break;
      }
      ActiveStream& a = active[activeCount];
      a.source = &sources[stream];
      a.stream = stream;
      a.startOffset = 0;
      a.source->activeEntry = static_cast<int32_t>(activeCount);
      if (a.source->residence == kResidenceProcessor) fetchable = 0;
      ++activeCount;
    }
    entryOf[i] = static_cast<uint8_t>(activeCount - 1);
  }

  // Copied vertices interleave the active streams one after the other.
  uint32_t before[kMaxActiveStreams] = {};
  for (uint32_t e = 1; e < activeCount; ++e) before[e] = before[e - 1] + StrideOf(active[e - 1]) / 4;
  for (uint32_t i = 0; i < elementCount; ++i) {
    uint32_t word = PackElementWord(elements[i], state->elements[i]);
    if (fetchable == 0) {
      const uint32_t offset = elements[i][0] + before[entryOf[i]];
      if (offset > kElementOffsetMax) layoutDrawable = 0;
      word = (word & ~0xFF7u) | (offset & kElementOffsetMax) << 4;
    }
    if (i + 1 == elementCount) word |= kElementLast;
    state->elements[i] = word;
  }
  state->elementCount = elementCount;
  state->dirty |= kStreamDirtyElements;
  ChooseHandlers();
}

uint32_t VertexStreamSetup::GetStreamBufferBase(const StreamSource& s) {
  switch (s.kind) {
    case kSourceAddress:
      return s.address;
    case kSourceBuffer: {
      if (s.buffer == nullptr) return 0;
      const uint32_t cls = MemoryClassOf(s.buffer);
      if (cls != kMemoryClassFetchable) return 0;
      if (s.buffer->ring != nullptr) {
        const BmBuffer* current = s.buffer->ring->Current();
        return current != nullptr ? static_cast<uint32_t>(current->busAddress) : 0;
      }
      const MmBlock* block = s.buffer->block != nullptr ? s.buffer->block
                             : s.buffer->master != nullptr ? s.buffer->master->block
                                                           : nullptr;
      return block != nullptr ? static_cast<uint32_t>(block->busAddress) : 0;
    }
    default:
      return 0;
  }
}

bool VertexStreamSetup::ComputeVertexLimit(bool streamsFetchable, StreamHwState* state) {
  int32_t lowest = 0;
  int32_t limit = kVertexLimitNone;
  bool bound = true;
  for (uint32_t i = 0; i < activeCount; ++i) {
    const ActiveStream& a = active[i];
    const StreamSource& s = *a.source;
    const uint32_t stride = StrideOf(a);
    if (s.residence != kResidenceUnbound && stride != 0 && s.size != 0) {
      const int64_t offset = a.startOffset;
      const int64_t first = offset < 0 ? (-offset + stride - 1) / stride : 0;
      const int64_t count = (static_cast<int64_t>(s.size) - offset) / stride;
      if (first > lowest) lowest = static_cast<int32_t>(first > INT32_MAX ? INT32_MAX : first);
      if (count < limit) limit = static_cast<int32_t>(count < 0 ? 0 : count);
    }
    if (s.residence == kResidenceUnbound) bound = false;
    if (!streamsFetchable) continue;
    uint32_t address = kUnboundStreamAddress;
    uint16_t hwStride = static_cast<uint16_t>(kUnboundStreamStride);
    if (s.residence != kResidenceUnbound) {
      address = GetStreamBufferBase(s) + (static_cast<uint32_t>(a.startOffset) & ~3u);
      hwStride = static_cast<uint16_t>(stride);
    }
    if (state->address[a.stream] != address || state->stride[a.stream] != hwStride) {
      state->address[a.stream] = address;
      state->stride[a.stream] = hwStride;
      state->dirty |= kStreamDirtyStreams;
    }
  }
  // An element must end inside its stream's vertex.
  bool inside = true;
  for (uint32_t i = 0; i < elementCount; ++i) {
    const ElementFields e = DecodeElement(elements[i]);
    const StreamSource& s = sources[e.stream];
    const uint32_t stride = (strideOverride != 0 ? strideOverride : s.stride) & 0xFFFF;
    const uint32_t bytes = ElementBytes(e);
    if (s.residence != kResidenceUnbound && stride != 0 && bytes != 0 && 4 * e.offset + bytes > stride) inside = false;
  }
  minVertexIndex = lowest;
  vertexLimit = limit;
  if (state->minIndex != lowest || state->limit != limit) {
    state->minIndex = lowest;
    state->limit = limit;
    state->dirty |= kStreamDirtyWindow;
  }
  if (!streamsFetchable) {
    state->address[0] = 2;
    state->stride[0] = 4;
    state->dirty |= kStreamDirtyStreams;
  }
  windowDrawable = bound && inside ? 1 : 0;
  ChooseHandlers();
  return windowDrawable != 0;
}

void VertexStreamSetup::ChooseHandlers() {
  if (layoutDrawable == 0 || windowDrawable == 0 || drawPair == nullptr || indexedPair == nullptr ||
      primitiveType >= kPrimitiveTypes) {
    drawHandler = indexedHandler = EmitNothing;
    return;
  }
  const uint32_t entry = fetchable != 0 ? 1 : 0;
  const PrimitiveEmitterTable* draw = drawPair->entry[entry];
  const PrimitiveEmitterTable* indexed = indexedPair->entry[entry];
  drawHandler = draw != nullptr && draw->slot[primitiveType] != nullptr ? draw->slot[primitiveType] : EmitNothing;
  indexedHandler =
      indexed != nullptr && indexed->slot[primitiveType] != nullptr ? indexed->slot[primitiveType] : EmitNothing;
}

// ---- The render-state application's steps ------------------------------------------------------

namespace {

VertexStreamSetup* SetupOf(RenderContext3d* context) { return context != nullptr ? &context->streamSetup : nullptr; }

StreamDrawState DrawStateOf(const RenderContext3d* context) {
  StreamDrawState d = {};
  const StreamGroup& g = context->state.streams;
  for (uint32_t s = 0; s < kVertexStreams; ++s) {
    d.startVertex[s] = g.drawWords[s][0];
    d.baseOffset[s] = g.drawWords[s][1];
  }
  d.startIndex = g.indexDrawWords[0];
  d.indexBaseOffset = g.indexDrawWords[1];
  return d;
}

// The engine state takes the set-up's copy: stream addresses into the
// coordinate block's words 0-7, strides two to a word into 8-11, the
// window into 12 and 13.
void MirrorHwState(RenderContext3d* context) {
  StreamHwState& hw = context->streamSetup.hw;
  ContextState3d* cs = context->contextState;
  if (cs == nullptr || hw.dirty == 0) return;
  uint32_t* w = cs->coordinateBlock;
  if ((hw.dirty & kStreamDirtyStreams) != 0) {
    for (uint32_t s = 0; s < kVertexStreams; ++s) w[s] = hw.address[s];
    for (uint32_t p = 0; p < kVertexStreams / 2; ++p)
      w[8 + p] = static_cast<uint32_t>(hw.stride[2 * p]) | static_cast<uint32_t>(hw.stride[2 * p + 1]) << 16;
    cs->dirty.words[0] |= kCsDirtyCoordA | kCsDirtyCoordB;
  }
  if ((hw.dirty & kStreamDirtyWindow) != 0) {
    w[12] = static_cast<uint32_t>(hw.minIndex);
    w[13] = static_cast<uint32_t>(hw.limit);
    cs->dirty.words[0] |= kCsDirtyCoordB;
  }
  if ((hw.dirty & kStreamDirtyElements) != 0) cs->dirty.words[0] |= kCsDirtyCoordC;
  hw.dirty = 0;
}

}  // namespace

bool VertexStreamSetupBind(RenderContext3d* context) {
  return context != nullptr && context->streamSetup.Bind(context);
}

void VertexStreamSetStreamSources(RenderContext3d* context) {
  if (VertexStreamSetup* s = SetupOf(context))
    s->SetStreamSources(context->state.streams.changedMask, context->state.streams.bindings);
}

void VertexStreamSetIndexSource(RenderContext3d* context) {
  if (VertexStreamSetup* s = SetupOf(context)) s->SetIndexSource(context->state.streams.indexSource);
}

void VertexStreamSetVertexElements(RenderContext3d* context) {
  if (VertexStreamSetup* s = SetupOf(context)) {
    s->SetVertexElements(&s->hw);
    MirrorHwState(context);
  }
}

void VertexStreamComputeAddresses(RenderContext3d* context) {
  if (VertexStreamSetup* s = SetupOf(context)) s->ComputeStreamAddresses(DrawStateOf(context));
}

void VertexStreamSetIndexStart(RenderContext3d* context) {
  if (VertexStreamSetup* s = SetupOf(context)) s->SetIndexStart(DrawStateOf(context));
}

void VertexStreamSetPrimitiveType(RenderContext3d* context) {
  VertexStreamSetup* s = SetupOf(context);
  if (s == nullptr) return;
  uint32_t scratch = 0;
  uint32_t* word = context->contextState != nullptr ? &context->contextState->coordinateBlock[14] : &scratch;
  const uint32_t before = *word;
  s->SetPrimitiveType(context->state.streams.primitiveType, word);
  if (*word != before && context->contextState != nullptr) context->contextState->dirty.words[0] |= kCsDirtyCoordA;
}

bool VertexStreamComputeVertexLimit(RenderContext3d* context) {
  VertexStreamSetup* s = SetupOf(context);
  if (s == nullptr) return false;
  const bool result = s->ComputeVertexLimit(s->fetchable != 0, &s->hw);
  MirrorHwState(context);
  return result;
}

void VertexFetchSetElements(RenderContext3d* context) {
  VertexStreamSetup* s = SetupOf(context);
  if (s == nullptr) return;
  s->fetch.SetElements(&s->elements[0][0], s->elementCount);
  s->fetch.SetStageParameters(static_cast<const uint8_t*>(context->state.fetch.descriptors));
}

uint32_t VertexFetchEmitLayout(RenderContext3d* context, bool layout) {
  VertexStreamSetup* s = SetupOf(context);
  if (s == nullptr) return 0;
  return s->fetch.EmitLayout(context->secondaryStream, layout);
}

// ---- The draw emitters ------------------------------------------------------------------------

namespace {

bool RunHandler(RenderContext3d* context, const void* draw, bool indexed) {
  if (context == nullptr || draw == nullptr) return false;
  VertexStreamSetup& s = context->streamSetup;
  const uint32_t count = static_cast<const DrawCall3d*>(draw)->count;
  s.drawCount = count;
  if (count == 0) return true;
  PrimitiveEmitter handler = indexed ? s.indexedHandler : s.drawHandler;
  (handler != nullptr ? handler : EmitNothing)(&s, count, indexed);
  return true;
}

bool DrawThroughSetup(RenderContext3d* context, const void* draw) { return RunHandler(context, draw, false); }
bool IndexThroughSetup(RenderContext3d* context, const void* draw) { return RunHandler(context, draw, true); }

// The conversion path: a layout without a vertex program has its vertices
// read and converted by the processor, whatever memory they lie in, through
// the converted-vertex table's handler for the primitive type.
bool RunConverted(RenderContext3d* context, const void* draw, bool indexed) {
  if (context == nullptr || draw == nullptr) return false;
  VertexStreamSetup& s = context->streamSetup;
  const uint32_t count = static_cast<const DrawCall3d*>(draw)->count;
  s.drawCount = count;
  if (count == 0) return true;
  if (s.layoutDrawable == 0 || s.windowDrawable == 0 || s.primitiveType >= kPrimitiveTypes) return true;
  PrimitiveEmitter handler = ConvertedVertexTable.slot[s.primitiveType];
  (handler != nullptr ? handler : EmitNothing)(&s, count, indexed);
  return true;
}

bool DrawConverted(RenderContext3d* context, const void* draw) { return RunConverted(context, draw, false); }
bool IndexConverted(RenderContext3d* context, const void* draw) { return RunConverted(context, draw, true); }

}  // namespace

void InstallIndex32Emitters3d(RenderContext3d* context) {
  if (context != nullptr) context->streamSetup.ChooseHandlers();
}
bool (*ProgramDrawEmitter3d(uint32_t, uint32_t))(RenderContext3d*, const void*) { return DrawThroughSetup; }
bool (*ProgramIndexEmitter3d(uint32_t, uint32_t))(RenderContext3d*, const void*) { return IndexThroughSetup; }
bool (*PrimitiveDrawEmitter3d(uint32_t))(RenderContext3d*, const void*) { return DrawConverted; }
bool (*PrimitiveIndexEmitter3d(uint32_t))(RenderContext3d*, const void*) { return IndexConverted; }
