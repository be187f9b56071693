// The stream set-up: sources bound from their bindings, active streams and
// element words from the element list, the vertex window, the primitive
// control word, and the emitter pair and handlers chosen for them.
#include <gtest/gtest.h>

#include <string>

#include "kernel/3d/draw/tests/draw_fixture.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/draw/primitive_emitters.h"
#include "kernel/dma_streams.h"

namespace {

using dtest::Element;
using dtest::kUsePosition;

class Streams : public dtest::DrawBoard {
 protected:
  // The element list as a client gives it: a head with the count, then
  // the elements.
  void Elements(const std::vector<Element>& elements) {
    std::vector<uint8_t> list(4, 0);
    list[0] = static_cast<uint8_t>(elements.size());
    for (const Element& e : elements) list.insert(list.end(), e.b, e.b + 4);
    ASSERT_TRUE(setup->StoreElementList(list.data(), static_cast<uint32_t>(list.size())));
    setup->SetVertexElements(&setup->hw);
  }
  static StreamBinding AddressBinding(uint32_t address, uint32_t stride, uint32_t size) {
    return StreamBinding{kBindingAddress, address, stride, size, 0};
  }
  void Bind(uint32_t stream, const StreamBinding& binding) {
    StreamBinding bindings[kVertexStreams] = {};
    bindings[stream] = binding;
    setup->SetStreamSources(static_cast<uint8_t>(1u << stream), bindings);
  }
  // A data buffer of the client's table in a ring of the memory kind.
  Surface3d* Buffer(uint32_t memoryKind, uint32_t size) {
    BmBufferRing* ring = BmBufferRing::Create(size, memoryKind, Common(), pdev->unit, 0);
    EXPECT_NE(ring, nullptr);
    rings.push_back(ring);
    Surface3d* view = table->CreateBufferSurface(kBufferResourceType, ring);
    EXPECT_NE(view, nullptr);
    return view;
  }
  // A data buffer of the client's table placed in system memory, which
  // only the processor reads.
  Surface3d* SystemBuffer(uint32_t bytes) {
    SurfaceCreateRequest r = Request(11, bytes / 4, 1, kPlaceSystem | kRequestNoCompanion);
    Surface3d* s = table->CreateSurface(kBufferResourceType, &r);
    EXPECT_NE(s, nullptr);
    return s;
  }
  void TearDown() override {
    for (BmBufferRing* ring : rings) delete ring;
    dtest::DrawBoard::TearDown();
  }
  std::vector<BmBufferRing*> rings;
};

TEST_F(Streams, ABoundSetUpStartsWithTheNormalPairsAndDrawsNothing) {
  EXPECT_EQ(setup->context, context);
  EXPECT_EQ(fetch->setup, setup);
  EXPECT_EQ(setup->outputMode, kOutputModeNormal);
  EXPECT_EQ(setup->drawPair, &DrawPairDirect);
  EXPECT_EQ(setup->indexedPair, &IndexedPairInline);
  EXPECT_EQ(setup->drawHandler, EmitNothing);
  EXPECT_EQ(setup->sources[3].kind, kSourceAddress);
  EXPECT_EQ(setup->sources[3].activeEntry, -1);
  EXPECT_EQ(setup->index.activeEntry, -1);
}

TEST_F(Streams, ElementsMakeActiveStreamsInOrder) {
  struct Row {
    std::vector<uint32_t> streams;
    uint32_t active;
  };
  const Row rows[] = {{{0, 0, 1}, 2}, {{0, 1, 0}, 3}, {{2}, 1}, {{}, 0}, {{1, 1, 1, 1}, 1}};
  for (const Row& r : rows) {
    std::vector<Element> elements;
    for (uint32_t i = 0; i < r.streams.size(); ++i) elements.push_back(Element(i, r.streams[i], 2, 5));
    Elements(elements);
    EXPECT_EQ(setup->activeCount, r.active) << r.streams.size();
  }
  Elements({Element(0, 0, 2, 5), Element(1, 1, 2, 5), Element(2, 0, 2, 5)});
  EXPECT_EQ(setup->active[2].stream, 0u);
  EXPECT_EQ(setup->active[2].source, &setup->sources[0]);
  EXPECT_EQ(setup->sources[0].activeEntry, 2);  // the last entry that names it
  EXPECT_EQ(setup->sources[1].activeEntry, 1);
}

TEST_F(Streams, ElementWordsPackTheClientBytes) {
  struct Row {
    uint8_t b[4];
    uint32_t previous;
    uint32_t word;
  };
  const Row rows[] = {
      {{0x00, 0x07, 0x00, 0x00}, 0, 0x00000007},
      {{0xAB, 0x00, 0x00, 0x00}, 0, 0x00000AB0},
      {{0x00, 0xF8, 0x00, 0x00}, 0, 0x0001F000},
      {{0x00, 0x00, 0x07, 0x00}, 0, 0x000E0000},
      {{0x00, 0x00, 0x78, 0x00}, 0, 0x03C00000},
      {{0x00, 0x00, 0x80, 0x00}, 0, 0x04000000},
      {{0x00, 0x00, 0x00, 0x07}, 0, 0x38000000},
      {{0x00, 0x00, 0x00, 0xF8}, 0, 0x00000000},  // bits 3-7 of b3 go nowhere
      // Bits 3, 20, 21 and 30 keep what they held; bit 31 is the list's.
      {{0x00, 0x00, 0x00, 0x00}, 0xFFFFFFFF, 0x40300008},
  };
  for (const Row& r : rows) EXPECT_EQ(PackElementWord(r.b, r.previous), r.word) << std::hex << r.word;
  // The last element of a list carries bit 31.
  Elements({Element(1, 0, 2, 5), Element(2, 0, 2, 6)});
  EXPECT_EQ(setup->hw.elements[0] & kElementLast, 0u);
  EXPECT_EQ(setup->hw.elements[1] & kElementLast, kElementLast);
  EXPECT_EQ(setup->hw.elementCount, 2u);
  EXPECT_NE(setup->hw.dirty & kStreamDirtyElements, 0u);
}

TEST_F(Streams, PrimitiveTypesSetTheirControlBits) {
  const uint32_t expected[kPrimitiveTypes] = {0x20020, 0x20020, 0x2103D, 0x2203D, 0x2203D, 0x2305C, 0x2405C,
                                              0x2505C, 0x2505C, 0x2605C, 0x2705C, 0x2103D, 0x2305C};
  for (uint32_t type = 0; type < kPrimitiveTypes; ++type) {
    uint32_t word = 0xFFFFFFFF;
    setup->outputMode = kOutputModeNormal;
    setup->SetPrimitiveType(type, &word);
    EXPECT_EQ(word, expected[type] | kPrimitiveKeptBits) << type;
    EXPECT_EQ(setup->primitiveType, type);
    word = 0;
    setup->outputMode = kOutputModeCreated;
    setup->SetPrimitiveType(type, &word);
    EXPECT_EQ(word, expected[type] | kPrimitiveMode1) << type;
  }
  uint32_t word = 0x1234;
  setup->SetPrimitiveType(13, &word);
  EXPECT_EQ(word, 0x1234u);
  EXPECT_EQ(setup->primitiveType, 12u);
}

TEST_F(Streams, AProcessorBufferClearsTheFetchableFlagAndOffsetsFollowEarlierStreams) {
  Surface3d* agp = Buffer(kBmMemAgp, 4096);
  Surface3d* process = SystemBuffer(4096);
  ASSERT_NE(process, nullptr);
  StreamBinding bindings[kVertexStreams] = {};
  bindings[0] = StreamBinding{kBindingBuffer, agp->resourceHandle, 24, 7, 0};
  bindings[1] = StreamBinding{kBindingBuffer, process->resourceHandle, 8, 0, 0};
  Elements({Element(0, 0, 0, 0, 0xF), Element(4, 0, 2, 5), Element(1, 1, 2, 7)});
  EXPECT_EQ(setup->SetStreamSources(0x3, bindings), 0u);
  EXPECT_EQ(setup->sources[0].residence, kResidenceFetchable);
  EXPECT_EQ(setup->sources[0].size, 4096u);
  EXPECT_EQ(setup->sources[0].flag, 7u);
  EXPECT_EQ(setup->sources[1].residence, kResidenceProcessor);
  // The elements again, now that stream 1 is processor memory: copied
  // vertices put stream 1 behind stream 0's six words.
  Elements({Element(0, 0, 0, 0, 0xF), Element(4, 0, 2, 5), Element(1, 1, 2, 7)});
  EXPECT_EQ(setup->fetchable, 0u);
  EXPECT_EQ(setup->hw.elements[0] & 0xFF7, 0x000u);
  EXPECT_EQ(setup->hw.elements[1] & 0xFF7, 0x040u);
  EXPECT_EQ(setup->hw.elements[2] & 0xFF7, (1u + 6) << 4);  // stream bits cleared
  // Not fetchable: stream 0 of the engine takes the copied vertices.
  EXPECT_TRUE(setup->ComputeVertexLimit(false, &setup->hw));
  EXPECT_EQ(setup->hw.address[0], 2u);
  EXPECT_EQ(setup->hw.stride[0], 4u);
  EXPECT_EQ(setup->drawHandler, DrawPairDirect.entry[0]->slot[0]);

  // A missing handle clears the source; the set-up is fetchable again.
  bindings[1].handle = 999;
  EXPECT_EQ(setup->SetStreamSources(0x2, bindings), 1u);
  EXPECT_EQ(setup->sources[1].residence, kResidenceUnbound);
  // No change bits: nothing changes.
  setup->fetchable = 0;
  EXPECT_EQ(setup->SetStreamSources(0, bindings), 0u);
}

TEST_F(Streams, TheVertexWindow) {
  Bind(0, AddressBinding(0x10000, 12, 120));
  Bind(1, AddressBinding(0x20000, 8, 80));
  Elements({Element(0, 0, 0, 0, 0x7), Element(0, 1, 2, 5)});
  context->state.streams.drawWords[0][1] = -8;
  context->state.streams.drawWords[1][0] = 2;
  VertexStreamComputeAddresses(context);
  EXPECT_EQ(setup->active[0].startOffset, -8);
  EXPECT_EQ(setup->active[1].startOffset, 16);
  EXPECT_TRUE(VertexStreamComputeVertexLimit(context));
  EXPECT_EQ(setup->minVertexIndex, 1);
  EXPECT_EQ(setup->vertexLimit, 8);  // (80 - 16) / 8, below (120 + 8) / 12
  // The engine takes the addresses with the offsets' low bits cleared, and
  // the window.
  ContextState3d* cs = context->contextState;
  EXPECT_EQ(cs->coordinateBlock[0], 0x10000u - 8);
  EXPECT_EQ(cs->coordinateBlock[1], 0x20000u + 16);
  EXPECT_EQ(cs->coordinateBlock[8], 12u | 8u << 16);
  EXPECT_EQ(cs->coordinateBlock[12], 1u);
  EXPECT_EQ(cs->coordinateBlock[13], 8u);
  EXPECT_NE(cs->dirty.words[0] & kCsDirtyCoordB, 0u);
  // Offsets are clamped to the stream's size.
  context->state.streams.drawWords[1][0] = 100;
  VertexStreamComputeAddresses(context);
  EXPECT_EQ(setup->active[1].startOffset, 80);
  EXPECT_TRUE(VertexStreamComputeVertexLimit(context));
  EXPECT_EQ(setup->vertexLimit, 0);
  // The stride override.
  setup->strideOverride = 4;
  EXPECT_EQ(setup->StrideOf(setup->active[0]), 4u);
}

TEST_F(Streams, AnUnboundActiveStreamIsNotDrawn) {
  Bind(0, AddressBinding(0x10000, 16, 160));
  setup->SetPrimitiveType(5, &context->contextState->coordinateBlock[14]);
  Elements({Element(0, 0, 0, 0, 0xF), Element(0, 2, 2, 5)});
  EXPECT_FALSE(setup->ComputeVertexLimit(true, &setup->hw));
  EXPECT_EQ(setup->hw.address[2], kUnboundStreamAddress);
  EXPECT_EQ(setup->hw.stride[2], kUnboundStreamStride);
  EXPECT_EQ(setup->drawHandler, EmitNothing);
  EXPECT_EQ(setup->indexedHandler, EmitNothing);
  // Bound, the draw goes to the pairs' fetchable tables.
  Bind(2, AddressBinding(0x30000, 4, 64));
  EXPECT_TRUE(setup->ComputeVertexLimit(true, &setup->hw));
  EXPECT_EQ(setup->drawHandler, DrawPairDirect.entry[1]->slot[5]);
  EXPECT_EQ(setup->indexedHandler, IndexedPairInline.entry[1]->slot[5]);
  EXPECT_EQ(setup->drawHandler, EmitVerticesDirect);
  BmSecondaryInt* stream = context->secondaryStream;
  const uint32_t* from = stream->cursor;
  setup->drawHandler(setup, 9, false);
  ASSERT_EQ(stream->cursor - from, 3);
  EXPECT_EQ(from[0], 0x8F000001u);
  EXPECT_EQ(from[2], 9u);
}

TEST_F(Streams, LayoutsThatCannotBeDrawn) {
  for (uint32_t s = 0; s < kVertexStreams; ++s) Bind(s, AddressBinding(0x10000 * (s + 1), 16, 1600));
  setup->SetPrimitiveType(0, &context->contextState->coordinateBlock[14]);
  // Eight stream changes are the most an element list may make.
  std::vector<Element> alternating;
  for (uint32_t i = 0; i < 8; ++i) alternating.push_back(Element(0, i & 1, 2, 5));
  Elements(alternating);
  EXPECT_TRUE(setup->ComputeVertexLimit(true, &setup->hw));
  EXPECT_NE(setup->drawHandler, EmitNothing);
  alternating.push_back(Element(0, 0, 2, 5));
  Elements(alternating);
  EXPECT_EQ(setup->activeCount, 8u);
  EXPECT_TRUE(setup->ComputeVertexLimit(true, &setup->hw));
  EXPECT_EQ(setup->drawHandler, EmitNothing);

  // An element ending past its stream's stride.
  struct Row {
    Element element;
    bool drawn;
  };
  const Row rows[] = {{Element(3, 0, 2, 5), true},           {Element(4, 0, 2, 5), false},
                      {Element(0, 0, 0, 0, 0xF), true},      {Element(1, 0, 0, 0, 0xF), false},
                      {Element(2, 0, 9, 7, 0x2), true},      {Element(3, 0, 9, 7, 0x2), false},
                      {Element(3, 0, 9, 7), true},           {Element(200, 0, 12, 7), true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(&r - rows);
    Elements({r.element});
    EXPECT_EQ(setup->ComputeVertexLimit(true, &setup->hw), r.drawn);
    EXPECT_EQ(setup->drawHandler != EmitNothing, r.drawn);
  }
}

TEST_F(Streams, KernelPointersKeepTheirSize) {
  static const uint8_t data[256] = {};
  const uint64_t p = reinterpret_cast<uintptr_t>(data);
  Bind(4, StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 16, 10});
  EXPECT_EQ(setup->sources[4].kind, kSourcePointer);
  EXPECT_EQ(setup->sources[4].residence, kResidenceProcessor);
  EXPECT_EQ(setup->sources[4].size, 160u);
  EXPECT_EQ(setup->sources[4].pointer, data);
  EXPECT_EQ(VertexStreamSetup::GetStreamBufferBase(setup->sources[4]), 0u);
  // A size no source can say, and a null pointer, bind nothing.
  Bind(4, StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 0x10000, 0x10000});
  EXPECT_EQ(setup->sources[4].residence, kResidenceUnbound);
  Bind(4, StreamBinding{kBindingPointer, 0, 0, 16, 10});
  EXPECT_EQ(setup->sources[4].residence, kResidenceUnbound);
  Bind(4, StreamBinding{7, 1, 2, 3, 4});
  EXPECT_EQ(setup->sources[4].residence, kResidenceUnbound);
  EXPECT_EQ(setup->sources[4].kind, kSourceAddress);

  // The index source: the binder's byte size is kept for a pointer.
  setup->SetIndexSource(StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 2, 200});
  EXPECT_EQ(setup->index.residence, kResidenceProcessor);
  EXPECT_EQ(setup->index.size, 200u);
  EXPECT_EQ(setup->index.stride, 2u);
  EXPECT_EQ(setup->indexedPair, &IndexedPairInline);
  setup->SetIndexSource(StreamBinding{kBindingAddress, 0x4000, 0, 4, 0});
  EXPECT_EQ(setup->index.residence, kResidenceFetchable);
  EXPECT_EQ(setup->index.address, 0x4000u);
  EXPECT_EQ(setup->index.stride, 4u);
  EXPECT_EQ(setup->indexedPair, &IndexedPairFetchable);
  // The start: start index x index size + base offset.
  context->state.streams.indexDrawWords[0] = 10;
  context->state.streams.indexDrawWords[1] = 6;
  VertexStreamSetIndexStart(context);
  EXPECT_EQ(setup->indexStartOffset, 46u);
  // In the mode of a new context the pairs stay.
  setup->outputMode = kOutputModeCreated;
  setup->SetIndexSource(StreamBinding{9, 0, 0, 0, 0});
  EXPECT_EQ(setup->index.residence, kResidenceUnbound);
  EXPECT_EQ(setup->indexedPair, &IndexedPairFetchable);
}

TEST_F(Streams, AResourceIndexBuffer) {
  Surface3d* agp = Buffer(kBmMemAgp, 2048);
  setup->SetIndexSource(StreamBinding{kBindingBuffer, agp->resourceHandle, 4, 0, 0});
  EXPECT_EQ(setup->index.kind, kSourceBuffer);
  EXPECT_EQ(setup->index.buffer, agp);
  EXPECT_EQ(setup->index.size, 2048u);
  EXPECT_EQ(setup->index.stride, 4u);
  EXPECT_EQ(setup->indexedPair, &IndexedPairFetchable);
  EXPECT_EQ(VertexStreamSetup::GetStreamBufferBase(setup->index),
            static_cast<uint32_t>(agp->ring->Current()->busAddress));
  EXPECT_NE(VertexStreamSetup::GetStreamBufferBase(setup->index), 0u);
}

TEST_F(Streams, TheRenderStateDrivesTheSetUp) {
  // A draw of a fresh state: bindings, element list, primitive type.
  RenderState3d& state = context->state;
  state.streams.bindings[0] = AddressBinding(0x40000, 16, 1600);
  std::vector<uint8_t> list = {1, 0, 0, 0};
  const Element position(0, 0, 0, kUsePosition, 0xF);
  list.insert(list.end(), position.b, position.b + 4);
  ASSERT_TRUE(setup->StoreElementList(list.data(), static_cast<uint32_t>(list.size())));
  // A list shorter than its count is refused.
  EXPECT_FALSE(setup->StoreElementList(list.data(), 7));
  state.SetPrimitiveMode(5);
  state.MarkAllDirty();
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(setup->activeCount, 1u);
  EXPECT_EQ(setup->sources[0].address, 0x40000u);
  EXPECT_EQ(setup->primitiveType, 5u);
  EXPECT_EQ(context->contextState->coordinateBlock[14] & 0x707F, 0x305Cu);
  EXPECT_EQ(context->contextState->coordinateBlock[0], 0x40000u);
  EXPECT_EQ(setup->drawHandler, DrawPairDirect.entry[1]->slot[5]);
  // A vertex program runs: the set-up's handlers draw, the processor's
  // vertex fetch is not used.
  EXPECT_EQ(state.drawEmitter, ProgramDrawEmitter3d(0, 5));
  EXPECT_EQ(fetch->elementCount, 0u);
  // Without one the vertex fetch takes the elements and announces them,
  // and the draws take the conversion path.
  state.vertexSub.vertexProgram = 0;
  state.MarkAllDirty();
  ASSERT_TRUE(state.Apply());
  EXPECT_EQ(fetch->elementCount, 1u);
  EXPECT_EQ(state.vertexSub.fetchWord, 1u);
  EXPECT_EQ(state.drawEmitter, PrimitiveDrawEmitter3d(5));
  EXPECT_NE(state.drawEmitter, ProgramDrawEmitter3d(0, 5));
}

}  // namespace
