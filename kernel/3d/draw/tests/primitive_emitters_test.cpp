// The primitive emitters: packets of the fetchable paths as golden words,
// and converted draws as the board's attribute path receives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "kernel/3d/draw/primitive_emitters.h"
#include "kernel/3d/draw/tests/draw_fixture.h"
#include "kernel/dma_streams.h"

namespace {

using dtest::Bits;
using dtest::Element;
using dtest::Float;
using dtest::kUseDiffuse;
using dtest::kUsePosition;

TEST(IndexRanges, SixteenBitRangesKeepWholeWords) {
  struct Row {
    uint32_t bus, offset, count;
    IndexRange range;
  };
  const Row rows[] = {
      {0x1000, 0, 6, {0x1000, 0x100C}},      // aligned, even: exact
      {0x1000, 0, 5, {0x1001, 0x100C}},      // aligned, odd: first skipped, end + 2
      {0x1000, 2, 5, {0x1002, 0x100C}},      // unaligned, odd: exact
      {0x1000, 2, 4, {0x1003, 0x100C}},      // unaligned, even
      {0x1003, 0, 6, {0x1000, 0x100F}},      // the source's memory bits ride on the end
      {0x2002, 8, 2, {0x2008, 0x200E}},
  };
  for (const Row& r : rows) {
    const IndexRange got = IndexRangeOf(r.bus, r.offset, k3dPrimitiveAddress16, r.count);
    EXPECT_EQ(got.start, r.range.start) << std::hex << r.bus << " " << r.offset << " " << r.count;
    EXPECT_EQ(got.end, r.range.end) << std::hex << r.bus << " " << r.offset << " " << r.count;
  }
  const IndexRange wide = IndexRangeOf(0x3002, 6, k3dPrimitiveAddress32, 3);
  EXPECT_EQ(wide.start, 0x3006u);
  EXPECT_EQ(wide.end, 0x3002u + 4 + 12);
}

class Emitters : public dtest::DrawBoard {
 protected:
  // Words an emitter call writes into the context's stream.
  template <class Fn>
  std::vector<uint32_t> Written(Fn&& f) {
    BmSecondaryInt* s = context->secondaryStream;
    const uint32_t* from = s->cursor;
    f();
    return std::vector<uint32_t>(from, static_cast<const uint32_t*>(s->cursor));
  }

  // Vertices of the draw in test memory, stream 0 bound to them through a
  // kernel pointer, laid out as the elements say.
  void Source(const std::vector<float>& words, uint32_t stride, const std::vector<Element>& elements) {
    data = words;
    const uint64_t p = reinterpret_cast<uintptr_t>(data.data());
    StreamBinding bindings[kVertexStreams] = {};
    bindings[0] = StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), stride,
                                static_cast<uint32_t>(data.size() * 4 / stride)};
    setup->SetStreamSources(1, bindings);
    std::vector<uint8_t> list(4, 0);
    list[0] = static_cast<uint8_t>(elements.size());
    for (const Element& e : elements) list.insert(list.end(), e.b, e.b + 4);
    ASSERT_TRUE(setup->StoreElementList(list.data(), static_cast<uint32_t>(list.size())));
    setup->SetVertexElements(&setup->hw);
    setup->ComputeVertexLimit(setup->fetchable != 0, &setup->hw);
    fetch->SetElements(&setup->elements[0][0], setup->elementCount);
    fetch->EmitLayout(context->secondaryStream, false);
  }
  // Vertex i at (x, y) with id i in z.
  static std::vector<float> Positions(const std::vector<std::pair<float, float>>& xy) {
    std::vector<float> out;
    for (size_t i = 0; i < xy.size(); ++i)
      for (float w : {xy[i].first, xy[i].second, float(i), 1.0f}) out.push_back(w);
    return out;
  }
  void Draw(uint32_t type, uint32_t count, bool indexed = false) {
    setup->primitiveType = type;
    path.ClearDraws();
    ConvertedVertexTable.slot[type](setup, count, indexed);
  }
  // The ids at places 0-2 of each draw, sorted.
  std::vector<std::vector<int>> Triangles() {
    std::vector<std::vector<int>> out;
    for (const auto& d : Draws()) {
      std::vector<int> ids;
      for (unsigned p = 0; p < 3; ++p) ids.push_back(static_cast<int>(Float(d.slots[p][kSlotPosition][2])));
      std::sort(ids.begin(), ids.end());
      out.push_back(ids);
    }
    return out;
  }

  std::vector<float> data;
};

TEST_F(Emitters, PacketsOfTheFetchablePaths) {
  setup->packetFlags = 0xC0000000;
  EXPECT_EQ(Written([&] { EmitVerticesDirect(setup, 300, false); }),
            (std::vector<uint32_t>{0xCF000001, 0, 300}));
  setup->SetIndexSource(StreamBinding{kBindingAddress, 0x8000, 0, 2, 0});
  setup->indexStartOffset = 2;
  EXPECT_EQ(Written([&] { EmitIndexedByAddress(setup, 4, true); }),
            (std::vector<uint32_t>{0xDB000001, 0x8003, 0x800C}));
  setup->SetIndexSource(StreamBinding{kBindingAddress, 0x8000, 0, 4, 0});
  setup->indexStartOffset = 0;
  EXPECT_EQ(Written([&] { EmitIndexedByAddress(setup, 4, true); }),
            (std::vector<uint32_t>{0xDF000001, 0x8000, 0x8010}));
  // Other index sizes draw nothing.
  setup->SetIndexSource(StreamBinding{kBindingAddress, 0x8000, 0, 3, 0});
  EXPECT_TRUE(Written([&] { EmitIndexedByAddress(setup, 4, true); }).empty());
  // The tables of the pairs.
  EXPECT_EQ(DrawPairDirect.entry[1]->slot[7], EmitVerticesDirect);
  EXPECT_EQ(IndexedPairFetchable.entry[1]->slot[9], EmitIndexedByAddress);
  EXPECT_EQ(IndexedPairInline.entry[1]->slot[4], EmitNothing);
  EXPECT_EQ(IndexedPairMode1.entry[1]->slot[4], EmitLoopPairs);
  EXPECT_EQ(DrawPairMode1.entry[1]->slot[3], EmitSourceDwords);
  EXPECT_EQ(ConvertedVertexTable.slot[12], EmitConvertedTriangles);
}

TEST_F(Emitters, TheSelectedEmittersDrawThroughTheSetUpsHandlers) {
  // Whatever program kind and type the render state names, the draw emitter runs
  // the set-up's draw handler and the index emitter its indexed handler,
  // with the draw's count; a count of 0 writes nothing.
  setup->packetFlags = 0xC0000000;
  setup->drawHandler = EmitVerticesDirect;
  setup->indexedHandler = EmitIndexedByAddress;
  setup->SetIndexSource(StreamBinding{kBindingAddress, 0x8000, 0, 4, 0});
  setup->indexStartOffset = 0;
  const DrawCall3d draw{300};
  const DrawCall3d indexed{4};
  const DrawCall3d none{0};
  for (auto emitter : {ProgramDrawEmitter3d(0, 5), ProgramDrawEmitter3d(1, 7)}) {
    EXPECT_EQ(Written([&] { EXPECT_TRUE(emitter(context, &draw)); }), (std::vector<uint32_t>{0xCF000001, 0, 300}));
    EXPECT_EQ(setup->drawCount, 300u);
    EXPECT_TRUE(Written([&] { EXPECT_TRUE(emitter(context, &none)); }).empty());
    EXPECT_FALSE(emitter(context, nullptr));
  }
  for (auto emitter : {ProgramIndexEmitter3d(0, 5), ProgramIndexEmitter3d(2, 5)})
    EXPECT_EQ(Written([&] { EXPECT_TRUE(emitter(context, &indexed)); }),
              (std::vector<uint32_t>{0xDF000001, 0x8000, 0x8010}));
}

TEST_F(Emitters, LoopPairsAndSourceWordsReadOnlyTheirSource) {
  setup->packetFlags = 0x80000000;
  const uint32_t pairs[5] = {10, 4, 20, 3, 99};
  const uint64_t p = reinterpret_cast<uintptr_t>(pairs);
  setup->SetIndexSource(StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 4, 20});
  EXPECT_EQ(Written([&] { EmitLoopPairs(setup, 3, false); }),
            (std::vector<uint32_t>{0x8F000001, 10, 4, 0x0B000001, 3, 10, 0x8F000001, 20, 3, 0x0B000001, 2, 20}));
  EXPECT_EQ(Written([&] { EmitSourceDwords(setup, 9, false); }),
            (std::vector<uint32_t>{0x8B000004, 10, 4, 20, 3, 99}));
}

TEST_F(Emitters, AQuadIsTwoTrianglesWithTheFourthVertexsColour) {
  Rs(kRsShadeMode, 1);
  Rs(kRsCullMode, 1);
  std::vector<float> words;
  const uint8_t colours[4][4] = {{1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}, {4, 0, 0, 0}};
  const float xy[4][2] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  for (int i = 0; i < 4; ++i) {
    for (float w : {xy[i][0], xy[i][1], float(i), 1.0f}) words.push_back(w);
    float c;
    memcpy(&c, colours[i], 4);
    words.push_back(c);
  }
  Source(words, 20, {Element(0, 0, 0, kUsePosition, 0xF), Element(4, 0, 1, kUseDiffuse)});
  Draw(9, 4);
  EXPECT_EQ(Triangles(), (std::vector<std::vector<int>>{{0, 1, 3}, {1, 2, 3}}));
  for (const auto& d : Draws()) EXPECT_EQ(Float(d.slots[3][kSlotDiffuse][0]), 4.0f);
  // A count of no whole quad draws nothing.
  Draw(9, 3);
  EXPECT_TRUE(Draws().empty());
}

TEST_F(Emitters, AQuadStripOfSix) {
  Rs(kRsCullMode, 1);
  Source(Positions({{0, 0}, {10, 0}, {0, 10}, {10, 10}, {0, 20}, {10, 20}}), 16,
         {Element(0, 0, 0, kUsePosition, 0xF)});
  Draw(10, 6);
  EXPECT_EQ(Triangles(), (std::vector<std::vector<int>>{{0, 1, 3}, {0, 2, 3}, {2, 3, 5}, {2, 4, 5}}));
  // Places of the second quad: d at 0, c at 2.
  ASSERT_EQ(Draws().size(), 4u);
  EXPECT_EQ(Draws()[2].place, 0u);
  EXPECT_EQ(Draws()[3].place, 2u);
  // Seven vertices hold two whole quads.
  Draw(10, 7);
  EXPECT_EQ(Draws().size(), 4u);
}

TEST_F(Emitters, AClosedLineStripOfFour) {
  Source(Positions({{0, 0}, {10, 0}, {10, 10}, {0, 10}}), 16, {Element(0, 0, 0, kUsePosition, 0xF)});
  Draw(4, 4);
  ASSERT_EQ(Draws().size(), 4u);
  const unsigned places[4] = {1, 0, 1, 0};
  const int ids[4] = {1, 2, 3, 0};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Draws()[i].place, places[i]) << i;
    EXPECT_EQ(Float(Draws()[i].slots[places[i]][kSlotPosition][2]), float(ids[i])) << i;
  }
  EXPECT_EQ(Float(Draws()[0].slots[0][kSlotPosition][2]), 0.0f);
  // An open strip, and a closed one of two, have no closing segment.
  Draw(3, 4);
  EXPECT_EQ(Draws().size(), 3u);
  Draw(4, 2);
  EXPECT_EQ(Draws().size(), 1u);
}

TEST_F(Emitters, AStripWhoseFirstTriangleIsCulledSendsTheNextInFull) {
  // (0, 1, 2) winds so that mode 2 culls it; (1, 2, 3) and (2, 3, 4) are
  // flat and never culled.
  Source(Positions({{0, 0}, {10, 0}, {0, 10}, {5, 5}, {-5, 15}}), 16, {Element(0, 0, 0, kUsePosition, 0xF)});
  const size_t before = WritesOf(0x60);
  Rs(kRsCullMode, 2);
  Draw(6, 5);
  EXPECT_EQ(Triangles(), (std::vector<std::vector<int>>{{1, 2, 3}, {2, 3, 4}}));
  EXPECT_EQ(WritesOf(0x60) - before, 6u);
  // Drawn, vertex 3 goes alone and the third triangle in full.
  Rs(kRsCullMode, 1);
  const size_t drawn = WritesOf(0x60);
  Draw(6, 5);
  EXPECT_EQ(Triangles(), (std::vector<std::vector<int>>{{0, 1, 2}, {1, 2, 3}, {2, 3, 4}}));
  EXPECT_EQ(WritesOf(0x60) - drawn, 7u);
}

TEST_F(Emitters, AFanKeepsItsFirstVertexAtPlaceZero) {
  Rs(kRsCullMode, 1);
  Source(Positions({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {-10, 5}}), 16, {Element(0, 0, 0, kUsePosition, 0xF)});
  Draw(7, 5);
  EXPECT_EQ(Triangles(), (std::vector<std::vector<int>>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
  for (const auto& d : Draws()) EXPECT_EQ(Float(d.slots[0][kSlotPosition][2]), 0.0f);
  ASSERT_EQ(Draws().size(), 3u);
  EXPECT_EQ(Draws()[1].place, 1u);
  EXPECT_EQ(Draws()[2].place, 2u);
}

TEST_F(Emitters, ConvertedIndicesStayInsideTheWindowAndTheirData) {
  Rs(kRsCullMode, 1);
  Source(Positions({{0, 0}, {10, 0}, {10, 10}, {0, 10}}), 16, {Element(0, 0, 0, kUsePosition, 0xF)});
  // Index 100 lies outside the four vertices: it draws vertex 0; type 12
  // skips every fourth index; the data ends inside the third triangle.
  const uint16_t indices[9] = {1, 2, 100, 7, 3, 2, 1, 9, 3};
  const uint64_t p = reinterpret_cast<uintptr_t>(indices);
  setup->SetIndexSource(StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 2,
                                      sizeof indices});
  Draw(12, 12, true);
  EXPECT_EQ(Triangles(), (std::vector<std::vector<int>>{{0, 1, 2}, {1, 2, 3}}));
  // Non-indexed, a count past the vertices draws what they hold.
  Draw(5, 9);
  EXPECT_EQ(Draws().size(), 1u);
}

TEST_F(Emitters, PointsAndLines) {
  Source(Positions({{0, 0}, {10, 0}, {10, 10}}), 16, {Element(0, 0, 0, kUsePosition, 0xF)});
  Draw(0, 3);
  ASSERT_EQ(Draws().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Float(Draws()[i].slots[3][kSlotPosition][2]), float(i));
  Draw(2, 3);  // one whole line
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(Float(Draws()[0].slots[1][kSlotPosition][2]), 1.0f);
  // No stream: nothing.
  setup->activeCount = 0;
  Draw(0, 3);
  EXPECT_TRUE(Draws().empty());
}


// ---- Inline indices ----------------------------------------------------------------------------

class InlineIndices : public Emitters {
 protected:
  void SetUp() override {
    Emitters::SetUp();
    setup->packetFlags = 0x80000000;
  }
  template <class T>
  void Indices(const std::vector<T>& v) {
    indexData.assign(reinterpret_cast<const uint8_t*>(v.data()),
                     reinterpret_cast<const uint8_t*>(v.data()) + v.size() * sizeof(T));
    const uint64_t p = reinterpret_cast<uintptr_t>(indexData.data());
    setup->SetIndexSource(StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32),
                                        sizeof(T), static_cast<uint32_t>(indexData.size())});
  }
  // Leaves `words` words of room in the current buffer, filled with empty
  // packets.
  void LeaveRoom(uint32_t words) {
    BmSecondaryInt* s = context->secondaryStream;
    uint32_t fill = static_cast<uint32_t>(s->limit - s->cursor) - words;
    while (fill >= 2) {
      uint32_t* at = s->Reserve(fill == 3 ? 3 : 2);
      if (fill == 3) {
        at[0] = 1, at[1] = 0x21212120, at[2] = 0;
        fill = 0;
      } else {
        at[0] = 0, at[1] = 0x21212121;
        fill -= 2;
      }
    }
  }
  // The 16-bit indices of inline packets in words, packet by packet.
  static std::vector<std::vector<uint16_t>> Packets16(const std::vector<uint32_t>& words) {
    std::vector<std::vector<uint16_t>> out;
    for (size_t i = 0; i < words.size();) {
      const uint32_t n = (words[i] & 0xFFFF) + 1;
      std::vector<uint16_t> p;
      for (uint32_t k = 0; k < n; ++k) p.push_back(static_cast<uint16_t>(words[i + 1 + k / 2] >> (16 * (k & 1))));
      out.push_back(p);
      i += 1 + (n * 2 + 3) / 4;
    }
    return out;
  }
  std::vector<uint8_t> indexData;
};

TEST_F(InlineIndices, APacketOfSixteenBitIndices) {
  Indices<uint16_t>({1, 2, 3, 4, 5});
  setup->primitiveType = 3;
  EXPECT_EQ(Written([&] { EmitInlineIndices(setup, 5, true); }),
            (std::vector<uint32_t>{0x87000004, 0x00020001, 0x00040003, 0x00000005}));
  // Not indexed, or an index size of 3: nothing.
  EXPECT_TRUE(Written([&] { EmitInlineIndices(setup, 5, false); }).empty());
  // Thirty-two-bit indices, and a count past the data cut to it.
  Indices<uint32_t>({7, 0x12345678});
  EXPECT_EQ(Written([&] { EmitInlineIndices(setup, 9, true); }),
            (std::vector<uint32_t>{0x8B000001, 7, 0x12345678}));
  // Type 12 drops every fourth index.
  Indices<uint16_t>({1, 2, 3, 99, 4, 5, 6, 99});
  setup->primitiveType = 12;
  EXPECT_EQ(Written([&] { EmitInlineIndices(setup, 8, true); }),
            (std::vector<uint32_t>{0x87000005, 0x00020001, 0x00040003, 0x00060005}));
  // The 16-bit triangle emitter sends a whole draw in one packet.
  setup->primitiveType = 5;
  Indices<uint16_t>({1, 2, 3});
  EXPECT_EQ(Written([&] { EmitInlineIndices16(setup, 3, true); }),
            (std::vector<uint32_t>{0x87000002, 0x00020001, 0x00000003}));
}

TEST_F(InlineIndices, AStripLongerThanTheBufferContinuesWithItsLastTwo) {
  std::vector<uint16_t> strip;
  for (uint16_t i = 0; i < 12; ++i) strip.push_back(static_cast<uint16_t>(100 + i));
  Indices(strip);
  setup->primitiveType = 6;
  BmSecondaryInt* s = context->secondaryStream;
  LeaveRoom(5);  // eight indices
  const uint32_t* first = s->cursor;
  EmitInlineIndices(setup, 12, true);
  const std::vector<uint32_t> a(first, first + 5);
  EXPECT_EQ(Packets16(a), (std::vector<std::vector<uint16_t>>{{100, 101, 102, 103, 104, 105, 106, 107}}));
  // The rest in the next buffer, after the two it repeats.
  const std::vector<uint32_t> b(s->cursor - 4, s->cursor);
  EXPECT_EQ(Packets16(b), (std::vector<std::vector<uint16_t>>{{106, 107, 108, 109, 110, 111}}));
}

// Loop pairs are commands of six words: where the buffer ends among them,
// each goes whole into the buffer that holds it, in order, and the board
// runs them all.
TEST_F(InlineIndices, LoopPairsAcrossTheBufferEndStayWhole) {
  std::vector<uint32_t> pairs;
  for (uint32_t p = 0; p < 5; ++p) pairs.insert(pairs.end(), {100 * p, 3 + p});
  pairs.push_back(77);  // half a pair: not drawn
  Indices(pairs);
  auto command = [](uint32_t first, uint32_t n) {
    return std::vector<uint32_t>{0x8F000001, first, n, 0x0B000001, n - 1, first};
  };
  BmSecondaryInt* s = context->secondaryStream;
  for (uint32_t room : {4u, 6u, 8u, 13u, 24u}) {
    LeaveRoom(room);
    const uint32_t* first = s->cursor;
    BmBuffer* head = s->head;
    dma.ClearTrace();
    EmitLoopPairs(setup, 9, false);
    const uint32_t here = room / 6;  // the pairs the old buffer holds
    std::vector<uint32_t> want;
    for (uint32_t p = 0; p < here; ++p) {
      const std::vector<uint32_t> c = command(100 * p, 3 + p);
      want.insert(want.end(), c.begin(), c.end());
    }
    EXPECT_EQ(std::vector<uint32_t>(first, first + 6 * here), want) << "room " << room;
    ASSERT_NE(s->head, head) << "room " << room;
    want.clear();
    for (uint32_t p = here; p < 5; ++p) {
      const std::vector<uint32_t> c = command(100 * p, 3 + p);
      want.insert(want.end(), c.begin(), c.end());
    }
    EXPECT_EQ(std::vector<uint32_t>(s->cursor - want.size(), s->cursor), want) << "room " << room;
    EXPECT_EQ(s->cursor - want.size(), s->head->Begin()) << "room " << room;
    dma.RunPending();
    std::vector<uint32_t> ran;
    for (const auto& e : dma.Trace())
      if (e.kind == orvsim::DmaEngine::TraceKind::kCommand) ran.push_back(e.a);
    EXPECT_EQ(ran.size(), 10u) << "room " << room;
  }
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

TEST_F(InlineIndices, AFanRepeatsItsFirstIndex) {
  std::vector<uint16_t> fan;
  for (uint16_t i = 0; i < 10; ++i) fan.push_back(static_cast<uint16_t>(50 + i));
  Indices(fan);
  setup->primitiveType = 7;
  BmSecondaryInt* s = context->secondaryStream;
  LeaveRoom(4);  // six indices, a multiple of three
  const uint32_t* first = s->cursor;
  EmitInlineIndices(setup, 10, true);
  EXPECT_EQ(Packets16(std::vector<uint32_t>(first, first + 4)),
            (std::vector<std::vector<uint16_t>>{{50, 51, 52, 53, 54, 55}}));
  EXPECT_EQ(Packets16(std::vector<uint32_t>(s->cursor - 4, s->cursor)),
            (std::vector<std::vector<uint16_t>>{{50, 55, 56, 57, 58, 59}}));
}



TEST_F(InlineIndices, ALongDrawIsCutIntoWholeTrianglesAcrossBuffers) {
  std::vector<uint16_t> list(140000);
  for (uint32_t i = 0; i < list.size(); ++i) list[i] = static_cast<uint16_t>(i);
  Indices(list);
  setup->primitiveType = 5;
  dma.ClearTrace();
  EmitInlineIndices(setup, 139998, true);
  context->secondaryStream->ExecutePending();
  dma.RunPending();
  // The packets as the board read them: each a whole number of triangles,
  // none above 65,535 indices, all of them together the draw.
  uint64_t total = 0;
  size_t packets = 0;
  uint32_t largest = 0;
  for (const auto& e : dma.Trace()) {
    if (e.kind != orvsim::DmaEngine::TraceKind::kCommand || (e.a & 0xFF000000) != 0x87000000) continue;
    const uint32_t n = (e.a & 0xFFFF) + 1;
    EXPECT_EQ(n % 3, 0u) << n;
    EXPECT_LE(n, 65535u);
    total += n;
    ++packets;
    largest = std::max(largest, n);
  }
  EXPECT_GE(packets, 3u);
  // The board's buffers hold fewer than 65,535 16-bit indices: the room
  // cut them.
  EXPECT_GT(largest, 60000u);
  EXPECT_EQ(total, 139998u);
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

// ---- Copied vertices ---------------------------------------------------------------------------

class CopiedVertices : public Emitters {
 protected:
  // Stream 0: positions (x, y); stream 1: a colour word; both in test
  // memory through kernel pointers.
  void SetUp() override {
    Emitters::SetUp();
    setup->packetFlags = 0x80000000;
    for (uint32_t i = 0; i < 4; ++i) {
      positions.push_back(Bits(float(i)));
      positions.push_back(Bits(float(10 * i)));
      colours.push_back(0xC0000000u | i);
    }
    StreamBinding bindings[kVertexStreams] = {};
    const uint64_t p = reinterpret_cast<uintptr_t>(positions.data());
    const uint64_t c = reinterpret_cast<uintptr_t>(colours.data());
    bindings[0] = StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 8, 4};
    bindings[1] = StreamBinding{kBindingPointer, static_cast<uint32_t>(c), static_cast<uint32_t>(c >> 32), 4, 4};
    setup->SetStreamSources(3, bindings);
    const Element position(0, 0, 0, kUsePosition, 0x3), colour(0, 1, 2, kUseDiffuse);
    std::vector<uint8_t> list = {2, 0, 0, 0};
    list.insert(list.end(), position.b, position.b + 4);
    list.insert(list.end(), colour.b, colour.b + 4);
    ASSERT_TRUE(setup->StoreElementList(list.data(), static_cast<uint32_t>(list.size())));
    setup->SetVertexElements(&setup->hw);
    ASSERT_EQ(setup->fetchable, 0u);
    ASSERT_TRUE(setup->ComputeVertexLimit(false, &setup->hw));
  }
  // The copied vertices of words as (vertex number) by their colour.
  static std::vector<uint32_t> VerticesIn(const std::vector<uint32_t>& words) {
    std::vector<uint32_t> out;
    for (size_t i = 4; i + 3 <= words.size() - 3; i += 3) out.push_back(words[i + 2] & 0xFF);
    return out;
  }
  std::vector<uint32_t> positions, colours;
};

TEST_F(CopiedVertices, AGroupTheVerticesAndTheirPacket) {
  setup->primitiveType = 5;
  BmSecondaryInt* s = context->secondaryStream;
  const uint32_t* from = s->cursor;
  const std::vector<uint32_t> words = Written([&] { EmitInlineVertices(setup, 3, false); });
  ASSERT_EQ(words.size(), 4u + 9 + 3);
  EXPECT_EQ(words[0], 2u);
  EXPECT_EQ(words[1], 0x21211000u);
  EXPECT_EQ(words[2], static_cast<uint32_t>(s->head->busAddress) | (s->head->busType & 3));
  EXPECT_EQ(words[3], 4u);
  EXPECT_EQ((std::vector<uint32_t>(words.begin() + 4, words.begin() + 7)),
            (std::vector<uint32_t>{Bits(0), Bits(0), 0xC0000000}));
  EXPECT_EQ(VerticesIn(words), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(words[13], 0x17000001u | 2u << 17 | 0x80000000u);
  EXPECT_EQ(words[14], s->head->BusOf(from + 4));
  EXPECT_EQ(words[15], s->head->BusOf(from + 13));
  // Execution goes on at the packet, past the copied words; the board
  // runs it all without a fault.
  EXPECT_EQ(s->start, from + 13);
  s->ExecutePending();
  dma.RunPending();
  EXPECT_TRUE(dma.DecodeErrors().empty());
  EXPECT_TRUE(dma.Faults().empty());
}

TEST_F(CopiedVertices, AClosedStripEndsWithItsFirstVertex) {
  setup->primitiveType = 4;
  EXPECT_EQ(VerticesIn(Written([&] { EmitInlineVertices(setup, 3, false); })), (std::vector<uint32_t>{0, 1, 2, 0}));
  // More vertices than the window holds: nothing.
  EXPECT_TRUE(Written([&] { EmitInlineVertices(setup, 5, false); }).empty());
}

TEST_F(CopiedVertices, IndicesOutsideTheWindowTakeVertexZero) {
  setup->primitiveType = 5;
  const uint16_t indices[3] = {3, 40, 1};
  const uint64_t p = reinterpret_cast<uintptr_t>(indices);
  setup->SetIndexSource(StreamBinding{kBindingPointer, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32), 2,
                                      sizeof indices});
  EXPECT_EQ(VerticesIn(Written([&] { EmitInlineVertices(setup, 3, true); })), (std::vector<uint32_t>{3, 0, 1}));
  // A count past the index data stops where the data does.
  EXPECT_EQ(VerticesIn(Written([&] { EmitInlineVertices(setup, 6, true); })), (std::vector<uint32_t>{3, 0, 1}));
}

}  // namespace
