// The draw tokens end to end: a 3D client runs token streams that draw
// from its own buffers over a drawable with one or more visible
// rectangles; the board executes what the kernel started, and the tests
// read the primitive commands it fetched and the vertices and indices they
// carry.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/client/draw_replay.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "core/bm_buffer.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/dma_streams.h"
#include "kernel/range_map.h"
#include "kernel/tests/stream_fixture.h"
#include "kernel/3d/tnl/fixed_programs.h"
#include "platform/board/chip_3d.h"
#include "platform/board/chip_vertex.h"
#include "platform/client3d/client3d.h"

namespace {

using client3d::Buffer;
using client3d::TokenWriter;
using Kind = orvsim::DmaEngine::TraceKind;

constexpr uint32_t kTokenStreamSources = 8;
constexpr uint32_t kTokenSetRenderStatesOp = 12;
constexpr uint32_t kTokenSyncTargets = 13;
constexpr uint32_t kTokenDrawStrip = 25;
constexpr uint32_t kTokenDrawIndexedPrimitives = 27;
constexpr uint32_t kTokenDrawBatch = 68;
constexpr uint32_t kTokenVertexShaderSelect = 66;
constexpr uint32_t kTokenSetTransforms = 32;
constexpr uint32_t kStride = 16;

uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}
float Float(uint32_t b) {
  float f;
  memcpy(&f, &b, 4);
  return f;
}

class DrawTokens : public ktest::StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    pdev->primarySurface = reinterpret_cast<MmSurface*>(&primaryStandIn);
    pdev->mode.virtualWidth = 640;
    pdev->mode.virtualHeight = 480;
    client = std::make_unique<client3d::Client>(glue, device, 2000);
    ASSERT_EQ(client->CreateContext(reinterpret_cast<uintptr_t>(pdev), &info), 0);
    ASSERT_TRUE(client->CreateBuffer(16384, kClientBufferPages, &commands));
    context3d = client->CreateContext3d(5, commands);
    ASSERT_NE(context3d, 0u);
    // Vertex i at (i, 2i) with its number in z.
    ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &vertices));
    for (uint32_t i = 0; i < 4096 / kStride; ++i) {
      const uint32_t v[4] = {Bits(float(i)), Bits(float(2 * i)), Bits(float(i)), Bits(1.0f)};
      memcpy(vertices.mapped + i * kStride, v, sizeof v);
    }
    // Positions (x, y, z, w) from stream 0.
    RenderContext3d* current = Current();
    const uint8_t list[8] = {1, 0, 0, 0, 0, 0, 0x78, 0};
    ASSERT_TRUE(current->streamSetup.StoreElementList(list, sizeof list));
    current->state.vertexSub.bytes[4] |= kVsubLayoutElements;
    Rects({{0, 0, 100, 100}});
  }
  void TearDown() override {
    client.reset();
    StartedBoard::TearDown();
  }

  ClientContext* Context() { return glue.ClientOf(client->File())->context3d; }
  Context3d* Context3() { return Context()->Context(context3d); }
  RenderContext3d* Current() { return Context3()->current; }

  // Drawable 5 covering the first rectangle, visible through all of them.
  void Rects(const std::vector<ClipRect>& rects) {
    client->Put64(16, 5);
    client->Put32(24, rects[0].left), client->Put32(28, rects[0].top);
    client->Put32(32, rects[0].right), client->Put32(36, rects[0].bottom);
    client->Put32(40, static_cast<uint32_t>(rects.size()));
    for (size_t i = 0; i < rects.size(); ++i) {
      client->Put32(48 + 16 * i, rects[i].left), client->Put32(52 + 16 * i, rects[i].top);
      client->Put32(56 + 16 * i, rects[i].right), client->Put32(60 + 16 * i, rects[i].bottom);
    }
    ASSERT_EQ(client->Run(kRequestSetDrawableRects), 0);
  }
  // The drawable's visible rectangles as other windows left them.
  void Visible(const std::vector<ClipRect>& rects) {
    RangeMapEntry* entry = pdev->common->rangeMap->Find(5);
    ASSERT_NE(entry, nullptr);
    entry->visible->count = static_cast<uint32_t>(rects.size());
    for (size_t i = 0; i < rects.size(); ++i) entry->visible->rects[i] = rects[i];
  }

  int32_t Stream(const TokenWriter& tokens) {
    EXPECT_TRUE(tokens.WriteTo(commands, 0));
    dma.RunPending();
    dma.ClearTrace();
    dma.ClearWrites();
    const int32_t result = client->RunTokens(context3d, 0, static_cast<uint32_t>(tokens.Size()));
    dma.RunPending();
    EXPECT_TRUE(dma.DecodeErrors().empty());
    EXPECT_TRUE(dma.Faults().empty());
    return result;
  }

  // Token 8 naming the vertex buffer as stream 0's source.
  static std::vector<uint32_t> VertexSource(const Buffer& buffer, uint32_t stride = kStride) {
    return {0, 0, static_cast<uint32_t>(buffer.handle), 0, stride, 0, ~0u, 0};
  }

  const uint32_t* Bus(uint32_t bus, uint32_t bytes) {
    return reinterpret_cast<const uint32_t*>(glue.ResolveBus(bus & ~3u, bytes));
  }

  // The primitive commands the board fetched, in order.
  std::vector<orvsim::DmaEngine::TraceEntry> Primitives() {
    std::vector<orvsim::DmaEngine::TraceEntry> out;
    for (const auto& e : dma.Trace())
      if (e.kind == Kind::kCommand && (e.a & 0x03000000) == 0x03000000) out.push_back(e);
    return out;
  }
  // The vertex numbers (z) of each copied-vertex command.
  std::vector<std::vector<int>> CopiedDraws() {
    std::vector<std::vector<int>> out;
    for (const auto& e : Primitives()) {
      if (((e.a >> 26) & 7) != 5) continue;
      const uint32_t* body = Bus(e.b + 4, 8);
      if (body == nullptr) {
        ADD_FAILURE() << "no body";
        continue;
      }
      const uint32_t w = ((e.a >> 17) & 0x3F) + 1;
      const uint32_t bytes = (body[1] & ~3u) - (body[0] & ~3u);
      const uint32_t* words = Bus(body[0], bytes);
      std::vector<int> ids;
      for (uint32_t i = 0; words != nullptr && (i + 1) * w * 4 <= bytes; ++i)
        ids.push_back(static_cast<int>(Float(words[i * w + 2])));
      out.push_back(ids);
    }
    return out;
  }
  size_t WritesTo(uint32_t index) {
    size_t n = 0;
    for (const auto& w : dma.Writes()) n += w.reg == 0x1000 + 4 * index ? 1 : 0;
    return n;
  }

  alignas(8) uint8_t primaryStandIn[64] = {};
  std::unique_ptr<client3d::Client> client;
  client3d::ContextInfo info = {};
  Buffer commands, vertices;
  uint32_t context3d = 0;
};

// ---- Token 24 ------------------------------------------------------------------------------

std::vector<uint32_t> Ranged(uint32_t kind, uint32_t state, uint32_t vertexOffset, uint64_t indexBuffer,
                             const std::vector<uint32_t>& pairs) {
  std::vector<uint32_t> out = {kind, static_cast<uint32_t>(pairs.size()), state, 0, 0, vertexOffset,
                               static_cast<uint32_t>(indexBuffer), static_cast<uint32_t>(indexBuffer >> 32)};
  out.insert(out.end(), pairs.begin(), pairs.end());
  return out;
}

TEST_F(DrawTokens, RangedVertexDrawsAreReplayedPerRectangle) {
  Visible({{0, 0, 50, 50}, {50, 50, 100, 100}, {60, 0, 70, 10}, {10, 60, 20, 70}});
  TokenWriter tokens;
  // Triangles from vertices 2-4, and 7-9 (vertex offset one vertex).
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, kStride, 0, {1, 4, 6, 9}));
  ASSERT_EQ(Stream(tokens), 0);
  const std::vector<std::vector<int>> each = {{2, 3, 4}, {7, 8, 9}};
  std::vector<std::vector<int>> expected;
  for (int r = 0; r < 4; ++r) expected.insert(expected.end(), each.begin(), each.end());
  EXPECT_EQ(CopiedDraws(), expected);
  // The scissor is back on the whole drawable.
  const uint32_t whole[4] = {0, 0, 100, 100};
  EXPECT_EQ(memcmp(Current()->state.vertex.rectA, whole, sizeof whole), 0);
}

TEST_F(DrawTokens, ADrawableWithoutVisibleRectanglesDrawsNothing) {
  // The drawable lies off the screen; then it is covered whole.
  Rects({{700, 500, 800, 600}});
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3}));
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_TRUE(Primitives().empty());
  Rects({{0, 0, 100, 100}});
  Visible({});
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_TRUE(Primitives().empty());
}

TEST_F(DrawTokens, IndexedRangesStayInsideTheirIndexBuffer) {
  Buffer indices;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &indices));
  const uint16_t i16[] = {5, 1, 9, 3};
  memcpy(indices.mapped + 64, i16, sizeof i16);
  const uint32_t i32[] = {12, 11, 10};
  memcpy(indices.mapped + 4096 - 12, i32, sizeof i32);
  Buffer locked;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &locked));
  const uint16_t l16[] = {20, 21, 22, 23};
  memcpy(locked.mapped + 8, l16, sizeof l16);
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 2,
             [&] {
               // 16-bit: (64, 72) draws the whole triangle of its four,
               // (4090, 4100) runs past the buffer, (100, 100) is empty;
               // 32-bit: the buffer's last three.
               auto a = Ranged(0x18000000, 5, 0, indices.handle, {64, 72, 4090, 4100, 100, 100});
               const auto b = Ranged(0x1C000000, 5, 0, indices.handle, {4096 - 12, 4096});
               a.insert(a.end(), b.begin(), b.end());
               return a;
             }())
      // An index buffer the client does not have draws nothing.
      .Token(kTokenDrawIndexed, 1, Ranged(0x18000000, 5, 0, 77, {0, 6}))
      // A page-locked index buffer takes bus addresses: one inside it, one
      // below it.
      .Token(kTokenDrawIndexed, 1,
             Ranged(0x18000000, 5, 0, locked.handle,
                    {static_cast<uint32_t>(locked.bus + 8), static_cast<uint32_t>(locked.bus + 16), 0, 8}));
  ASSERT_EQ(Stream(tokens), 0);
  // The copied vertices follow the indices; the engine assembles the
  // whole triangles of them.
  EXPECT_EQ(CopiedDraws(), (std::vector<std::vector<int>>{{5, 1, 9, 3}, {12, 11, 10}, {20, 21, 22, 23}}));
}

TEST_F(DrawTokens, AVertexOffsetPastTheBufferDrawsNothingAndTheWindowShrinksToIt) {
  TokenWriter tokens;
  // Vertex offset at the buffer's end, then a range whose last vertices lie
  // past it: only the vertices inside are copied.
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 4096, 0, {0, 3}))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {253, 259}));
  ASSERT_EQ(Stream(tokens), 0);
  for (const auto& draw : CopiedDraws())
    for (int id : draw) EXPECT_LT(id, 256);
}

TEST_F(DrawTokens, LargeIndexedDrawsKeepTheirEntriesWhileTheCopyGrows) {
  // The entry's 1,100 words outgrow the first scratch copy: the entry read
  // before them still draws, 550 times.
  std::vector<uint32_t> pairs;
  for (int i = 0; i < 550; ++i) pairs.insert(pairs.end(), {0, 3});
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, pairs));
  ASSERT_EQ(Stream(tokens), 0);
  const auto draws = CopiedDraws();
  ASSERT_EQ(draws.size(), 550u);
  EXPECT_EQ(draws.back(), (std::vector<int>{0, 1, 2}));
}

TEST_F(DrawTokens, TwoPassDrawsSetAndRestoreTheirStates) {
  // Another pass value with the second-pass flag: two passes, render state
  // 22 at 3 during the second, states 8 and 22 restored afterwards.
  RenderState3d& state = Current()->state;
  const uint32_t before[2] = {state.values[8], state.values[22]};
  TokenWriter tokens;
  tokens.Token(kTokenSetRenderStatesOp, 1, std::vector<uint32_t>{kDrawPassState, 2})
      .Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3}));
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_EQ(CopiedDraws().size(), 2u);
  EXPECT_EQ(state.values[8], before[0]);
  EXPECT_EQ(state.values[22], 2u);
  // The default pass value draws once.
  TokenWriter once;
  once.Token(kTokenSetRenderStatesOp, 1, std::vector<uint32_t>{kDrawPassState, 0x7FFFFFFF})
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3}));
  ASSERT_EQ(Stream(once), 0);
  EXPECT_EQ(CopiedDraws().size(), 1u);
  (void)before;
}

// ---- Token 27 ------------------------------------------------------------------------------

std::vector<uint32_t> PacketEntry(uint32_t state, uint64_t buffer, uint64_t start, uint64_t end,
                                  uint32_t vertexOffset = 0) {
  return {state, 0, static_cast<uint32_t>(buffer), static_cast<uint32_t>(buffer >> 32),
          static_cast<uint32_t>(start), static_cast<uint32_t>(start >> 32),
          static_cast<uint32_t>(end), static_cast<uint32_t>(end >> 32), vertexOffset, 0};
}

TEST_F(DrawTokens, ClientPacketsOfAProcessorBufferAreReplayed) {
  Buffer packets;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &packets));
  // At 0: three inline 16-bit indices. At 64: pairs of 16-bit index
  // ranges. At 128: vertex pairs. At 192: a header counting past the range.
  const uint32_t inline16[] = {0x04000002, 4 | 6u << 16, 8};
  memcpy(packets.mapped, inline16, sizeof inline16);
  const uint16_t indices[] = {0, 1, 2, 3, 0, 10, 11, 12};
  memcpy(packets.mapped + 1024, indices, sizeof indices);
  // Pairs (start, end): the end's low two bits are dropped.
  const uint64_t pairs[] = {1026, 1032, 1034, 1040, 1036, 8000};
  const uint32_t head = 0x18000000 | 5;
  memcpy(packets.mapped + 64, &head, 4);
  memcpy(packets.mapped + 68, pairs, sizeof pairs);
  // Vertex pairs with a trailer (0x31 := B, 0x32 := C), and one whose
  // trailer is not one whole packet.
  const uint32_t verts[] = {0x0C000003, 20, 23, 30, 33, 2, 0x21213231, 0xB0B0B0B0, 0xC0C0C0C0};
  memcpy(packets.mapped + 128, verts, sizeof verts);
  const uint32_t broken[] = {0x0C000001, 20, 23, 3, 0x21213231, 0xD0D0D0D0, 0xD0D0D0D0};
  memcpy(packets.mapped + 320, broken, sizeof broken);
  const uint32_t overrun[] = {0x0C00FFFF, 40, 43};
  memcpy(packets.mapped + 192, overrun, sizeof overrun);
  // At 256: a header counting 65,536 index pairs over a range of one.
  const uint32_t many = 0x1800FFFF;
  memcpy(packets.mapped + 256, &many, 4);
  memcpy(packets.mapped + 260, pairs, 16);
  TokenWriter tokens;
  std::vector<uint32_t> entries;
  for (const auto& e : {PacketEntry(5, packets.handle, 0, 12), PacketEntry(5, packets.handle, 64, 64 + 4 + 48),
                        PacketEntry(5, packets.handle, 128, 164 | 1), PacketEntry(5, packets.handle, 192, 204),
                        PacketEntry(5, packets.handle, 256, 276), PacketEntry(5, packets.handle, 320, 348 | 1),
                        PacketEntry(5, packets.handle, 4000, 8000),  // past the buffer
                        PacketEntry(5, 99, 0, 12)})                 // no such buffer
    entries.insert(entries.end(), e.begin(), e.end());
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexedPrimitives, 8, entries);
  ASSERT_EQ(Stream(tokens), 0);
  // The whole trailer ran once; the broken one never reached the engine.
  std::vector<uint32_t> trailers;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x1000 + 4 * 0x31 || w.reg == 0x1000 + 4 * 0x32) trailers.push_back(w.value);
  EXPECT_EQ(trailers, (std::vector<uint32_t>{0xB0B0B0B0, 0xC0C0C0C0}));
  EXPECT_EQ(CopiedDraws(), (std::vector<std::vector<int>>{
                               {4, 6, 8}, {1, 2, 3}, {10, 11, 12}, {20, 21, 22}, {30, 31, 32}, {40, 41, 42}, {1, 2, 3}, {20, 21, 22}}));
}

TEST_F(DrawTokens, AfterAClientRangeTheNextDrawRewritesTheEngineState) {
  Buffer ranges;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &ranges));
  // The client's range overwrites the depth control register (0xB2).
  const std::vector<uint32_t> words = {1, 0x212121B2, 0xDEADBEEF, 1, 0x21212120, 0};
  memcpy(ranges.mapped, words.data(), words.size() * 4);
  Buffer fetchable;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &fetchable));
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(fetchable))
      .Token(kTokenDrawIndexedPrimitives, 1, PacketEntry(5, ranges.handle, ranges.bus, ranges.bus + 24))
      .Token(kTokenDrawIndexed, 1, Ranged(0x18000000, 5, 0, 77, {0, 4}))
      .Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3}));
  ASSERT_EQ(Stream(tokens), 0);
  ASSERT_EQ(CopiedDraws().size(), 1u);
  uint32_t last = 0;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x1000 + 4 * 0xB2) last = w.value;
  EXPECT_NE(last, 0xDEADBEEFu);
}

TEST_F(DrawTokens, ClientRangesOfAFetchableBufferRunPerRectangleThenTheirTrailerOnce) {
  Visible({{0, 0, 50, 50}, {50, 50, 100, 100}, {60, 0, 70, 10}});
  Buffer ranges;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &ranges));
  // 0x30 := A, then the trailer 0x31 := B, 0x32 := C.
  const std::vector<uint32_t> words = {1, 0x21212130, 0xA0A0A0A0, 2, 0x21213231, 0xB0B0B0B0, 0xC0C0C0C0};
  memcpy(ranges.mapped + 64, words.data(), words.size() * 4);
  // Vertices in the fetchable buffer: ranges run as they are.
  Buffer fetchable;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &fetchable));
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(fetchable))
      // Bus addresses into the page-locked buffer; a range below it and
      // one past it run nothing.
      .Token(kTokenDrawIndexedPrimitives, 3,
             [&] {
               auto e = PacketEntry(5, ranges.handle, ranges.bus + 64, (ranges.bus + 64 + 28) | 1);
               for (const auto& more : {PacketEntry(5, ranges.handle, 64, 92),
                                        PacketEntry(5, ranges.handle, ranges.bus + 4064, ranges.bus + 4112)})
                 e.insert(e.end(), more.begin(), more.end());
               return e;
             }());
  ASSERT_EQ(Stream(tokens), 0);
  std::vector<uint32_t> seen;
  for (const auto& w : dma.Writes())
    if (w.reg >= 0x1000 + 4 * 0x30 && w.reg <= 0x1000 + 4 * 0x32) seen.push_back(w.value);
  EXPECT_EQ(seen, (std::vector<uint32_t>{0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0, 0xB0B0B0B0, 0xC0C0C0C0}));
}

// ---- Token 28 ------------------------------------------------------------------------------

TEST_F(DrawTokens, UserPrimitivesDrawTheVerticesThatTrailTheToken) {
  std::vector<uint32_t> words = {5, 3, kStride, 0, 0, 100, 100, 0, Bits(1.0f), 3 * kStride};
  for (uint32_t i = 0; i < 3; ++i)
    for (float f : {1.0f, 1.0f, float(50 + i), 1.0f}) words.push_back(Bits(f));
  // A second entry whose bytes run past the token ends it.
  TokenWriter tokens;
  tokens.Token(kTokenDrawUserPrimitives, 1, words);
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_EQ(CopiedDraws(), (std::vector<std::vector<int>>{{50, 51, 52}}));
  // Stream 0 no longer points into the interpreter's copy.
  EXPECT_NE(Current()->state.streams.bindings[0].kind, kBindingPointer);
}

TEST_F(DrawTokens, AFlexibleFormatLayoutSaysWhereItsAttributesLie) {
  // Position (three floats) and a colour: a layout a vertex program
  // transforms. Its elements make stream 0 the interpreter's copy, so the
  // vertices go out copied, four words each, as the client gave them.
  constexpr uint32_t kLayoutPositionColour = 0x42;
  TokenWriter tokens;
  tokens.Token(kTokenVertexShaderSelect, 1, std::vector<uint32_t>{kLayoutPositionColour});
  std::vector<uint32_t> words = {5, 3, kStride, 0, 0, 100, 100, 0, Bits(1.0f), 3 * kStride};
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t w : {Bits(1.0f), Bits(2.0f), Bits(float(60 + i)), 0xFF102030u}) words.push_back(w);
  tokens.Token(kTokenDrawUserPrimitives, 1, words);
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_EQ(CopiedDraws(), (std::vector<std::vector<int>>{{60, 61, 62}}));
  for (const auto& e : Primitives()) EXPECT_EQ((e.a >> 17 & 0x3F) + 1, 4u);
  EXPECT_EQ(Current()->state.vertexSub.vertexProgram, 1u);
}

// A layout the vertex engine transforms: before its copied vertices the
// engine state uploads what the transform-and-lighting pass chose, the
// dirty constants (the composite matrix in 0-3) and the programs, each
// program's start address in register 0x40. The constants go out once.
TEST_F(DrawTokens, ATransformedDrawUploadsTheConstantsAndProgramsOfItsPass) {
  ASSERT_NE(parts.vertex, nullptr);
  const orvsim::VertexEngine& engine = *parts.vertex;
  // Client matrices, row-major: the kernel stores each one transposed and
  // the pass multiplies world x view x projection of what it stored.
  const float world[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 4, 1};
  const float view[16] = {1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, -0.5f, 0, 1};
  const float projection[16] = {0.75f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.25f, 1, 0, 0, -1.25f, 0};
  std::vector<uint32_t> transforms;
  for (const auto& [id, m] : {std::pair{256u, world}, std::pair{2u, view}, std::pair{3u, projection}}) {
    transforms.push_back(id);
    for (int k = 0; k < 16; ++k) transforms.push_back(Bits(m[k]));
  }
  auto transposed = [](const float* a, int r, int c) { return a[4 * c + r]; };
  // Constant i = column i of W' x V' x P' (X' = X transposed).
  float wv[16], composite[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      wv[4 * r + c] = 0;
      for (int k = 0; k < 4; ++k) wv[4 * r + c] += transposed(world, r, k) * transposed(view, k, c);
    }
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      composite[4 * r + c] = 0;
      for (int k = 0; k < 4; ++k) composite[4 * r + c] += wv[4 * r + k] * transposed(projection, k, c);
    }

  constexpr uint32_t kLayoutPositionColour = 0x42;
  auto draw = [&](bool withTransforms) {
    TokenWriter tokens;
    if (withTransforms) tokens.Token(kTokenSetTransforms, 3, transforms);
    tokens.Token(kTokenVertexShaderSelect, 1, std::vector<uint32_t>{kLayoutPositionColour});
    std::vector<uint32_t> words = {5, 3, kStride, 0, 0, 100, 100, 0, Bits(1.0f), 3 * kStride};
    for (uint32_t i = 0; i < 3; ++i)
      for (uint32_t w : {Bits(1.0f), Bits(2.0f), Bits(float(60 + i)), 0xFF102030u}) words.push_back(w);
    tokens.Token(kTokenDrawUserPrimitives, 1, words);
    return Stream(tokens);
  };
  ASSERT_EQ(draw(true), 0);
  ASSERT_EQ(CopiedDraws(), (std::vector<std::vector<int>>{{60, 61, 62}}));
  EXPECT_GT(engine.ConstantPackets(), 0u);
  for (unsigned unit = 0; unit < orvsim::kVertexConstantUnits; ++unit)
    for (int i = 0; i < 4; ++i) {
      const uint32_t* c = engine.Entry(orvsim::kVertexConstantKind, unit, i);
      for (int r = 0; r < 4; ++r) EXPECT_FLOAT_EQ(Float(c[r]), composite[4 * r + i]) << "c" << i << "." << r;
    }
  // The program writes: the constant upload's program and, last, fixed
  // program 1 with its parameter block, its slots holding its code.
  EXPECT_GE(WritesTo(0x40), 2u);
  const uint32_t start = board.Peek(orvsim::kDmaRegWindow + 4 * 0x40, 4);
  const FixedProgramCode one = FixedProgramCodeOf(1);
  const uint8_t* slots = reinterpret_cast<const uint8_t*>(Bus((start & ~3u) * 3, one.size));
  ASSERT_NE(slots, nullptr) << std::hex << start;
  EXPECT_EQ(memcmp(slots, one.code, one.size), 0);

  // The same draw again: nothing changed, nothing is sent again.
  const uint64_t packets = engine.ConstantPackets();
  ASSERT_EQ(draw(false), 0);
  EXPECT_EQ(engine.ConstantPackets(), packets);
}

TEST_F(DrawTokens, PreTransformedUserPrimitivesReachTheAttributePlacesAndAreDrawn) {
  // A pre-transformed layout (x, y, z, 1/w in pixels and a colour) has no
  // vertex program: its vertices go into the attribute places, where the
  // engine draws them, not out as copied vertices the engine would fetch
  // for a program.
  orvsim::Engine3d engine(board, dma);
  constexpr uint32_t kLayoutScreen = 0x44;
  constexpr uint32_t kScreenStride = 20;
  TokenWriter tokens;
  tokens.Token(kTokenVertexShaderSelect, 1, std::vector<uint32_t>{kLayoutScreen});
  std::vector<uint32_t> words = {5, 3, kScreenStride, 0, 0, 100, 100, 0, Bits(1.0f), 3 * kScreenStride};
  const float xy[3][2] = {{10, 10}, {60, 20}, {20, 50}};
  for (const auto& v : xy)
    for (uint32_t w : {Bits(v[0]), Bits(v[1]), Bits(0.5f), Bits(1.0f), 0xFF20C040u}) words.push_back(w);
  tokens.Token(kTokenDrawUserPrimitives, 1, words);
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_TRUE(CopiedDraws().empty());
  std::vector<const orvsim::Engine3d::Primitive*> triangles;
  for (const auto& p : engine.Primitives())
    if (p.kind == orvsim::Engine3d::Kind::kTriangle && !p.assembled) triangles.push_back(&p);
  ASSERT_EQ(triangles.size(), 1u);
  const orvsim::Engine3d::Primitive& t = *triangles[0];
  EXPECT_EQ(t.engineControl & orvsim::k3dEngineDrawForm, orvsim::k3dEngineDrawForm);
  // Drawn as a triangle (this context binds no colour target the board
  // draws, so no pixel is written).
  EXPECT_EQ(t.outcome, orvsim::Engine3d::Outcome::kNoTarget);
  // The places hold the client's positions (the drawable lies at the
  // origin) and its colour as floats.
  for (unsigned k = 0; k < 3; ++k) {
    EXPECT_EQ(Float(t.vertices[k].position[0]), xy[k][0]) << k;
    EXPECT_EQ(Float(t.vertices[k].position[1]), xy[k][1]) << k;
    EXPECT_EQ(Float(t.vertices[k].diffuse[1]), 192.0f / 255.0f) << k;
  }
}

// ---- Token 68 ------------------------------------------------------------------------------

TEST_F(DrawTokens, BatchesWithTheProgressFlagHaveTheEngineWriteTheirValue) {
  Visible({{0, 0, 50, 50}, {50, 50, 100, 100}, {60, 0, 70, 10}});
  // A layout of one triangle record.
  struct Record {
    uint64_t reserved;
    uint32_t type, pad, wordCount, pad2;
    uint64_t words;
  };
  static_assert(sizeof(Record) == 32);
  std::vector<uint32_t> data = {1, 2, 3};
  Record record = {0, 5, 0, 3, 0, reinterpret_cast<uintptr_t>(data.data())};
  const uint64_t list[1] = {reinterpret_cast<uintptr_t>(&record)};
  std::vector<uint8_t> layoutVertices(3 * 16, 0x33);
  glue.DeclareUserMemory(2000, data.data(), data.size() * 4);
  glue.DeclareUserMemory(2000, &record, sizeof record);
  glue.DeclareUserMemory(2000, list, sizeof list);
  glue.DeclareUserMemory(2000, layoutVertices.data(), layoutVertices.size());
  client->Put32(16, 1);
  client->Put64(24, reinterpret_cast<uintptr_t>(list));
  client->Put32(32, 16);
  client->Put32(40, 3);
  client->Put64(56, reinterpret_cast<uintptr_t>(layoutVertices.data()));
  ASSERT_EQ(client->Run(kRequestCreateVertexLayout), 0);
  const uint64_t layout = client->Get64(64);
  ASSERT_NE(layout, 0u);
  auto entry = [&](uint8_t progress, uint32_t value) {
    std::vector<uint32_t> e(12, 0);
    e[0] = static_cast<uint32_t>(layout);
    e[4] = progress;
    e[5] = 5;
    e[10] = value;
    return e;
  };
  std::vector<uint32_t> entries = entry(0, 0x1111);
  const auto second = entry(1, 0x2222);
  entries.insert(entries.end(), second.begin(), second.end());
  TokenWriter tokens;
  tokens.Token(kTokenDrawBatch, 2, entries);
  ASSERT_EQ(Stream(tokens), 0);
  ASSERT_EQ(client->Run(kRequestWaitIdle), 0);
  // One progress packet, for the second entry, written into the status
  // page; each entry's program ran once per rectangle.
  std::vector<std::pair<uint32_t, uint32_t>> counters;
  for (const auto& e : dma.Trace())
    if (e.kind == Kind::kCounter && e.a == 0x2222) counters.push_back({e.a, e.b});
  ASSERT_EQ(counters.size(), 1u);
  EXPECT_EQ(counters[0].second, static_cast<uint32_t>(Context3()->statusPageBus));
  EXPECT_EQ(*static_cast<const uint32_t*>(Context3()->statusPage), 0x2222u);
  for (const auto& e : dma.Trace()) EXPECT_FALSE(e.kind == Kind::kCounter && e.a == 0x1111);
  size_t programs = 0;
  for (const auto& e : dma.Trace())
    if (e.kind == Kind::kCommand && (e.a & 0xFF000000) == 0x8B000000) ++programs;
  EXPECT_EQ(programs, 6u);
}

// ---- Token 13 and the rectangle list -------------------------------------------------------

TEST_F(DrawTokens, ACopyRequestDrawsThroughTheClientClipRectangles) {
  // Visible: clipped by the screen; client clip: as sent.
  Rects({{600, 0, 700, 100}});
  ClipRect drawable = {};
  TokenContext3d token = {Context3(), pdev, pdev->common, nullptr, Current(), 0};
  const ClipRectList* visible = DrawRectsOf(&token, &drawable);
  ASSERT_NE(visible, nullptr);
  ASSERT_EQ(visible->count, 1u);
  EXPECT_EQ(visible->rects[0].right, 640);
  TokenWriter tokens;
  tokens.Token(kTokenSyncTargets, 1, std::vector<uint32_t>{1, 0, 2, 0, 1, 0, 3, 0});
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_TRUE(Context3()->copyPending);
  const ClipRectList* clip = DrawRectsOf(&token, &drawable);
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->rects[0].right, 700);
  EXPECT_EQ(Context3()->copyWords[0], 1u);
  EXPECT_EQ(Context3()->copyWords[1], 2u);
  EXPECT_EQ(Context3()->copyWords[2], 3u);
}

// ---- Helpers -------------------------------------------------------------------------------

TEST(ClipRectIteratorTest, BoxesAreCutToTheRectangleWithoutTurningInsideOut) {
  ClipRectList list = {};
  list.count = 2;
  list.rects[0] = {10, 10, 20, 20};
  list.rects[1] = {30, 30, 40, 40};
  ClipRectIterator it;
  it.Init(&list, ClipRect{0, 0, 50, 50});
  EXPECT_TRUE(it.HasSeveral());
  ASSERT_TRUE(it.Next());
  int32_t box[6] = {0, 15, 7, 15, 30, 9};
  it.ClipBox(box);
  EXPECT_EQ(std::vector<int32_t>(box, box + 6), (std::vector<int32_t>{10, 15, 7, 15, 20, 9}));
  ASSERT_TRUE(it.Next());
  int32_t outside[6] = {0, 0, 0, 5, 5, 1};
  it.ClipBox(outside);
  EXPECT_EQ(std::vector<int32_t>(outside, outside + 6), (std::vector<int32_t>{5, 5, 0, 5, 5, 1}));
  int32_t current[6] = {};
  it.CurrentBox(current);
  EXPECT_EQ(std::vector<int32_t>(current, current + 6), (std::vector<int32_t>{30, 30, 0, 40, 40, 1}));
  EXPECT_FALSE(it.Next());
  // A count past the list's capacity stops at it.
  list.count = 1000;
  for (auto& r : list.rects) r = {0, 0, 1, 1};
  it.Init(&list, ClipRect{0, 0, 50, 50});
  uint32_t n = 0;
  while (it.Next()) ++n;
  EXPECT_EQ(n, kClipRectMax);
}

}  // namespace

namespace {

TEST_F(DrawTokens, StripsDrawADataBuffersIndicesByAddress) {
  // Data buffer 1 holds six 16-bit indices; the vertices are the
  // page-locked client buffer's, which the engine fetches.
  std::vector<uint16_t> data = {0, 1, 2, 2, 1, 3};
  glue.DeclareUserMemory(2000, data.data(), data.size() * 2);
  client->Put64(16, reinterpret_cast<uintptr_t>(data.data()));
  client->Put32(24, 12);
  client->Put32(32, 0);
  ASSERT_EQ(client->Run(kRequestCreateDataBuffer), 0);
  DataBuffer3d* indices = Context()->DataBuffer(1);
  ASSERT_NE(indices, nullptr);
  Buffer fetchable;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &fetchable));
  Visible({{0, 0, 50, 50}, {50, 50, 100, 100}});
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(fetchable))
      // Six indices of data buffer 1, then one naming no data buffer and
      // one of an index size of 3.
      .Token(kTokenDrawStrip, 3,
             std::vector<uint32_t>{0, 6, 5, 0, 1, 0, 2, 0x40, 0, 6, 5, 0, 9, 0, 2, 0, 0, 6, 5, 0, 1, 0, 3, 0});
  ASSERT_EQ(Stream(tokens), 0);
  // Once per rectangle: the indices from the data buffer's start, six
  // 16-bit indices in three whole words, its memory bits on the end.
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  for (const auto& e : Primitives()) {
    ASSERT_EQ(((e.a >> 26) & 7), 6u) << std::hex << e.a;
    const uint32_t* body = Bus(e.b + 4, 8);
    ASSERT_NE(body, nullptr);
    ranges.push_back({body[0], body[1]});
  }
  const uint32_t bus = static_cast<uint32_t>(indices->ring->Current()->busAddress);
  ASSERT_EQ(ranges.size(), 2u);
  for (const auto& r : ranges) {
    EXPECT_EQ(r.first, bus & ~3u);
    EXPECT_EQ(r.second & ~3u, (bus & ~3u) + 12);
  }
  // The entry's binding word took the second word of stream 0's pair.
  EXPECT_EQ(Current()->state.streams.drawWords[0][1], 0x40);
}

TEST_F(DrawTokens, ACopyRequestRunsASecondPassWithTheContextsStatesAndRestoresThem) {
  RenderState3d& state = Current()->state;
  const uint32_t before[5] = {state.values[23], state.values[56], state.values[53], state.values[54],
                              state.values[55]};
  TokenWriter tokens;
  tokens.Token(kTokenSyncTargets, 1, std::vector<uint32_t>{1, 0, 2, 0, 1, 0, 3, 0})
      .Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3}));
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_EQ(CopiedDraws().size(), 2u);
  // The copy record went through both synchronisations: words 0 and 1 of
  // the entry's words 3 and 1 first, then word 3 the first pass's word 0.
  EXPECT_EQ(Context3()->copyRecord[0], 1u);
  EXPECT_EQ(Context3()->copyRecord[1], 2u);
  EXPECT_EQ(Context3()->copyRecord[3], 3u);
  // The state block that restored the states left stream 0 on the vertex
  // buffer the draw bound.
  const StreamBinding& b = state.streams.bindings[0];
  EXPECT_EQ(b.kind, kBindingPointer);
  EXPECT_EQ(uint64_t{b.handle} | uint64_t{b.stride} << 32,
            reinterpret_cast<uintptr_t>(Context()->Buffer(vertices.handle)->linear));
  const uint32_t after[5] = {state.values[23], state.values[56], state.values[53], state.values[54],
                             state.values[55]};
  EXPECT_EQ(memcmp(before, after, sizeof before), 0);
}

TEST(FormatsCompatibleTest, ClassesDecideAndStrictnessOnlyBindsClassOne) {
  // Two codes of class 1 and two of another class, from the catalogue.
  std::vector<uint32_t> one, other;
  uint32_t otherClass = 0;
  for (uint32_t code = 1; code < 256; ++code) {
    const uint32_t cls = FormatClassOf(code);
    if (cls == 1 && one.size() < 2) one.push_back(code);
    if (cls > 1 && (otherClass == 0 || cls == otherClass) && other.size() < 2) {
      otherClass = cls;
      other.push_back(code);
    }
  }
  ASSERT_EQ(one.size(), 2u);
  ASSERT_EQ(other.size(), 2u);
  EXPECT_FALSE(FormatsCompatible(one[0], other[0], false));
  EXPECT_TRUE(FormatsCompatible(one[0], one[1], false));
  EXPECT_FALSE(FormatsCompatible(one[0], one[1], true));
  EXPECT_TRUE(FormatsCompatible(one[0], one[0], true));
  EXPECT_TRUE(FormatsCompatible(other[0], other[1], true));
}

}  // namespace

namespace {

TEST_F(DrawTokens, ClearsWithFlagBit4FillTheDisplayedSurfaceOverTheirRectangle) {
  Surface3d* displayed = Current()->aux.polygon;
  ASSERT_NE(displayed, nullptr);
  BlitEngine3dSetDisplayedSurface(pdev, displayed);
  Rects({{0, 0, 32, 32}});
  Visible({{0, 0, 16, 32}, {16, 0, 32, 32}});
  // Flag bit 4 alone: no target clear, the displayed surface filled over
  // (2, 3)-(20, 8), both rectangles' parts.
  TokenWriter tokens;
  tokens.Token(kTokenClearBatch, 1, std::vector<uint32_t>{0x10, 0, 0, 0, 0x12345678, 2, 3, 20, 8});
  ASSERT_EQ(Stream(tokens), 0);
  ASSERT_EQ(client->Run(kRequestWaitIdle), 0);
  // The engine filled each rectangle's part: origin (0xC2), size (0xE3)
  // and fill value (0xC5) per part, in order.
  std::vector<uint32_t> fills;
  bool value = false;
  for (const auto& w : dma.Writes()) {
    if (w.reg == 0x1000 + 4 * 0xC2 && w.value != 0) fills.push_back(w.value);
    if (w.reg == 0x1000 + 4 * 0xE3) fills.push_back(w.value);
    value = value || (w.reg == 0x1000 + 4 * 0xC5 && w.value == 0x12345678);
  }
  EXPECT_TRUE(value);
  EXPECT_EQ(fills, (std::vector<uint32_t>{0x30002, 0x30002, 0x5000E, 0x30010, 0x30010, 0x50004}));
  BlitEngine3dSetDisplayedSurface(pdev, nullptr);
}

}  // namespace

namespace {

TEST_F(DrawTokens, ADestroyedVertexBufferIsReadByNoLaterDraw) {
  // Strips draw from whatever stream 0 holds: after the buffer a ranged
  // draw bound goes, they must not read it.
  std::vector<uint16_t> data = {0, 1, 2};
  glue.DeclareUserMemory(2000, data.data(), data.size() * 2);
  client->Put64(16, reinterpret_cast<uintptr_t>(data.data()));
  client->Put32(24, 6);
  client->Put32(32, 0);
  ASSERT_EQ(client->Run(kRequestCreateDataBuffer), 0);
  Buffer doomed;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &doomed));
  TokenWriter first;
  first.Token(kTokenStreamSources, 1, VertexSource(doomed))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3}));
  ASSERT_EQ(Stream(first), 0);
  ASSERT_EQ(CopiedDraws().size(), 1u);
  client->Put64(16, doomed.handle);
  ASSERT_EQ(client->Run(kRequestDestroyBuffer), 0);
  EXPECT_NE(Current()->state.streams.bindings[0].kind, kBindingPointer);
  EXPECT_EQ(Context3()->vertexBufferHandle, 0u);
  TokenWriter later;
  later.Token(kTokenDrawStrip, 1, std::vector<uint32_t>{0, 3, 5, 0, 1, 0, 2, 0});
  ASSERT_EQ(Stream(later), 0);
  EXPECT_TRUE(CopiedDraws().empty());
}

}  // namespace

namespace {

TEST_F(DrawTokens, TargetSyncsTagTheNamedSurfacesThroughTheSecondaryStream) {
  // Two surfaces of the client (request 12), ARGB 16 x 16.
  uint64_t handles[2] = {};
  for (uint64_t& handle : handles) {
    alignas(8) ClientSurfaceDescription description = {0, kDescKindPlain, 21, 16, 16, 0, 0};
    glue.DeclareUserMemory(2000, &description, sizeof(description));
    client->Put64(16, reinterpret_cast<uintptr_t>(&description));
    client->Put64(24, 0);
    ASSERT_EQ(client->Run(kRequestCreateSurface), 0);
    handle = client->Get64(24);
  }
  Surface3d* a = Context()->surfaces->Surface(handles[0]);
  Surface3d* b = Context()->surfaces->Surface(handles[1]);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  a->lastWriteTag = b->lastWriteTag = 0;
  const uint32_t ha = static_cast<uint32_t>(handles[0]), hb = static_cast<uint32_t>(handles[1]);
  TokenWriter tokens;
  // Surfaces a and b; then surface a and one the list does not have.
  tokens.Token(kTokenSyncTargets, 2,
               std::vector<uint32_t>{ha, 0, hb, 0, 0, 0, 0, 0, ha, 0, hb + 100, 0, 0, 0, 0, 0});
  ASSERT_EQ(Stream(tokens), 0);
  ASSERT_NE(b->lastWriteTag, 0u);
  EXPECT_EQ(a->lastWriteTag, b->lastWriteTag + 8);
  // Each tag reached the engine's tag register in its packet.
  std::vector<uint32_t> tags;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x1000 + 4 * 0xAF) tags.push_back(w.value);
  for (uint32_t tag : {b->lastWriteTag, a->lastWriteTag})
    EXPECT_NE(std::find(tags.begin(), tags.end(), tag), tags.end()) << tag;
  EXPECT_FALSE(Context3()->copyPending);
}

}  // namespace

namespace {

TEST_F(DrawTokens, RecordPacketsDrawTheWholeRecordsBehindTheirHeader) {
  Buffer packets;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &packets));
  // Records {first, end, 3 words}: two whole ones, an empty one, and four
  // bytes of a fourth before the range's end.
  const uint32_t records[] = {0x0C000000, 50, 53, 0, 0, 0, 7, 7, 0, 0, 0, 60, 63, 0, 0, 0, 70};
  memcpy(packets.mapped + 400, records, sizeof records);
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexedPrimitives, 1, PacketEntry(3, packets.handle, 400, 400 + sizeof records));
  ASSERT_EQ(Stream(tokens), 0);
  EXPECT_EQ(CopiedDraws(), (std::vector<std::vector<int>>{{50, 51, 52}, {60, 61, 62}}));
}

}  // namespace

namespace {

TEST_F(DrawTokens, EachDrawIsPrecededByTheToggleWhileTheContextAsksForIt) {
  TokenWriter tokens;
  tokens.Token(kTokenStreamSources, 1, VertexSource(vertices))
      .Token(kTokenDrawIndexed, 1, Ranged(0x0C000000, 5, 0, 0, {0, 3, 3, 6, 6, 9}));
  ASSERT_EQ(Stream(tokens), 0);
  ASSERT_EQ(CopiedDraws().size(), 3u);
  std::vector<uint32_t> toggles;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x1000 + 4 * 0x41) toggles.push_back(w.value);
  EXPECT_EQ(toggles, (std::vector<uint32_t>{0, 4, 0}));
  // Without the context's toggle flag: none.
  Context3()->toggle = 0;
  ASSERT_EQ(Stream(tokens), 0);
  for (const auto& w : dma.Writes()) EXPECT_NE(w.reg, 0x1000u + 4 * 0x41);
}

}  // namespace

namespace {

TEST_F(DrawTokens, ClientStreamsAndClientRangesResetTheBindingWords) {
  RenderState3d& state = Current()->state;
  Buffer fetchable;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &fetchable));
  TokenWriter offset;
  // Token 27 with a vertex offset of 5 on an empty range, the vertices in
  // a buffer the engine fetches (a replayed packet resets the words).
  offset.Token(kTokenStreamSources, 1, VertexSource(fetchable))
      .Token(kTokenDrawIndexedPrimitives, 1, PacketEntry(5, fetchable.handle, fetchable.bus, fetchable.bus, 5));
  ASSERT_EQ(Stream(offset), 0);
  EXPECT_EQ(state.streams.drawWords[0][0], 5);
  EXPECT_FALSE(Context3()->bindingsReset);
  // A client stream source clears them again.
  TokenWriter source;
  source.Token(kTokenStreamSources, 1, VertexSource(fetchable, 32));
  ASSERT_EQ(Stream(source), 0);
  EXPECT_EQ(state.streams.drawWords[0][0], 0);
  EXPECT_TRUE(Context3()->bindingsReset);
  // And so does a client range token (26), even with no entry.
  ASSERT_EQ(Stream(offset), 0);
  EXPECT_EQ(state.streams.drawWords[0][0], 5);
  TokenWriter ranges;
  ranges.Token(26, 0);
  ASSERT_EQ(Stream(ranges), 0);
  EXPECT_EQ(state.streams.drawWords[0][0], 0);
}

}  // namespace
