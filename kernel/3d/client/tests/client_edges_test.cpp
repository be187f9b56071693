// The edges of what a 3D client names in its tokens and requests, through
// the device node: the last valid index, count or size is taken, the first
// invalid one is refused or ignored and changes nothing next to what it
// would have named.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/client/tests/surface_list_probe.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/range_map.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_2d.h"
#include "platform/client3d/client3d.h"

namespace {

using client3d::Buffer;
using client3d::TokenWriter;

constexpr uint32_t kTokenStreamSources = 8;
constexpr uint32_t kProcess = 2100;

class ClientEdges : public ktest::StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    // The X driver declared its primary surface: only its presence counts.
    pdev->primarySurface = reinterpret_cast<MmSurface*>(&primaryStandIn);
    client = std::make_unique<client3d::Client>(glue, device, kProcess);
    ASSERT_EQ(client->CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
    ASSERT_TRUE(client->CreateBuffer(16384, kClientBufferPages, &commands));
    context3d = client->CreateContext3d(5, commands);
    ASSERT_NE(context3d, 0u);
  }
  void TearDown() override {
    client.reset();
    StartedBoard::TearDown();
  }

  ClientContext* Context() { return glue.ClientOf(client->File())->context3d; }
  RenderContext3d* Current() { return Context()->Context(context3d)->current; }

  int32_t Stream(const TokenWriter& tokens) {
    EXPECT_TRUE(tokens.WriteTo(commands, 0));
    return client->RunTokens(context3d, 0, static_cast<uint32_t>(tokens.Size()));
  }

  // A data buffer (request 29) of `bytes` bytes under the next free id.
  bool MakeDataBuffer(uint32_t bytes) {
    data_.push_back(std::vector<uint8_t>(bytes, 0x5A));
    std::vector<uint8_t>& data = data_.back();
    glue.DeclareUserMemory(kProcess, data.data(), data.size());
    client->Put64(16, reinterpret_cast<uintptr_t>(data.data()));
    client->Put32(24, bytes);
    client->Put32(32, 0);
    return client->Run(kRequestCreateDataBuffer) == 0;
  }

  alignas(8) uint8_t primaryStandIn[64] = {};
  std::unique_ptr<client3d::Client> client;
  Buffer commands;
  uint32_t context3d = 0;

 private:
  std::vector<std::vector<uint8_t>> data_;
};

// ---- Token 8: stream sources -----------------------------------------------------------------

// Token 8 entry: {stream, 0, id (two words), stride, 0, source kind, 0}.
std::vector<uint32_t> StreamEntry(uint32_t stream, uint64_t id, uint32_t stride, uint32_t kind) {
  return {stream, 0, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), stride, 0, kind, 0};
}

// Streams 0 to 7: an entry naming stream 7 binds it; one naming stream 8
// binds nothing, and the render state's stream group (the index source
// behind the eight bindings, the masks, the draw words) stays as it was.
TEST_F(ClientEdges, StreamSevenIsBoundAndStreamEightIsIgnored) {
  Buffer vertices;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &vertices));
  ASSERT_TRUE(MakeDataBuffer(64));
  DataBuffer3d* data = Context()->DataBuffer(1);
  ASSERT_NE(data, nullptr);
  const uint32_t dataHandle = Surface3dResourceHandle(data->surface);
  struct Row {
    const char* name;
    uint32_t stream;
    bool client;  // a client buffer (source kind -1), else data buffer 1
    bool bound;
  };
  const Row rows[] = {
      {"data buffer on stream 7", 7, false, true},
      {"data buffer on stream 8", 8, false, false},
      {"client buffer on stream 7", 7, true, true},
      {"client buffer on stream 8", 8, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RenderState3d& state = Current()->state;
    // A known index source and masks behind the bindings.
    state.streams.indexSource = StreamBinding{kBindingBuffer, 0x1234, 2, 0, 0};
    state.streams.changedMask = 0;
    state.streams.bindings[7] = StreamBinding{};
    StreamGroup before;
    memcpy(&before, &state.streams, sizeof before);
    TokenWriter tokens;
    tokens.Token(kTokenStreamSources, 1,
                 row.client ? StreamEntry(row.stream, vertices.handle, 32, ~0u) : StreamEntry(row.stream, 1, 16, 0));
    ASSERT_EQ(Stream(tokens), 0);
    StreamGroup expected;
    memcpy(&expected, &before, sizeof expected);
    if (row.bound) {
      expected.bindings[7] = row.client ? StreamBinding{kBindingAddress, static_cast<uint32_t>(vertices.bus), 32,
                                                        static_cast<uint32_t>(vertices.size), 0}
                                        : StreamBinding{kBindingBuffer, dataHandle, 16, 0, 0};
      expected.changedMask = 0x80;
      EXPECT_EQ(memcmp(&state.streams.bindings[7], &expected.bindings[7], sizeof(StreamBinding)), 0);
      EXPECT_EQ(state.streams.changedMask, 0x80u);
    } else {
      EXPECT_EQ(memcmp(&state.streams, &before, sizeof before), 0) << "the stream group changed";
      EXPECT_EQ(memcmp(&state.streams.indexSource, &before.indexSource, sizeof(StreamBinding)), 0);
      EXPECT_EQ(state.streams.changedMask, 0u);
    }
  }
}

// ---- Tokens with trailing bytes -------------------------------------------------------------------

// Token 67 posts constants 0 to 255: a range from the last one posts it
// alone and nothing past it; a start past it is taken as the last.
TEST_F(ClientEdges, AConstantRangeEndsOnTheLastPostableConstant) {
  VecConstShadow* shadow = RenderContext3dVecConstShadow(Current());
  ASSERT_NE(shadow, nullptr);
  struct Row {
    const char* name;
    uint32_t first, count;
  };
  const Row rows[] = {
      {"from the last constant, two asked", kVecConstPostable - 1, 2},
      {"from one past the last, one asked", kVecConstPostable, 1},
  };
  uint32_t word = 0x500;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const VecConst next = shadow->image[kVecConstPostable];
    for (uint32_t& w : shadow->dirty) w = 0;
    std::vector<uint32_t> payload = {row.first, row.count};
    for (uint32_t i = 0; i < 4 * row.count; ++i) payload.push_back(++word);
    TokenWriter tokens;
    tokens.Token(kTokenSetVertexConstRange, 1, payload);
    ASSERT_EQ(Stream(tokens), 0);
    EXPECT_EQ(shadow->image[kVecConstPostable - 1].w[0], payload[2]);
    EXPECT_EQ(shadow->image[kVecConstPostable - 1].w[3], payload[5]);
    EXPECT_TRUE(shadow->Dirty(kVecConstPostable - 1));
    EXPECT_FALSE(shadow->Dirty(kVecConstPostable)) << "a constant past the postable ones";
    EXPECT_EQ(memcmp(&shadow->image[kVecConstPostable], &next, sizeof next), 0);
  }
}

// Tokens 33 and 80 carry byte counts in their entries: an entry whose
// bytes end exactly on the token's last trailing byte is taken; one that
// would run a byte past it ends the token.
TEST_F(ClientEdges, AnEntryEndingOnTheLastTrailingByteIsTaken) {
  // Lights: light 2, then light 4 whose record ends the token.
  std::vector<uint32_t> record(sizeof(LightRecord) / 4);
  for (size_t i = 0; i < record.size(); ++i) record[i] = 0x200 + static_cast<uint32_t>(i);
  record[0] = 1;  // a point light
  std::vector<uint32_t> lights = {2, sizeof(LightRecord), 4, sizeof(LightRecord)};
  lights.insert(lights.end(), record.begin(), record.end());
  lights.insert(lights.end(), record.begin(), record.end());
  TokenWriter lightTokens;
  lightTokens.Token(kTokenSetLights, 2, lights);
  ASSERT_EQ(Stream(lightTokens), 0);
  const RenderState3d& state = Current()->state;
  ASSERT_NE(state.lights[2], nullptr);
  ASSERT_NE(state.lights[4], nullptr);
  EXPECT_EQ(memcmp(state.lights[4], record.data(), sizeof(LightRecord)), 0);

  // Buffer data: eight bytes at 16, then four at 40 that end the token.
  ASSERT_TRUE(MakeDataBuffer(64));
  DataBuffer3d* buffer = Context()->DataBuffer(1);
  ASSERT_NE(buffer, nullptr);
  TokenWriter writes;
  writes.Token(kTokenWriteBufferData, 2,
               std::vector<uint32_t>{1, 16, 0, 8, 1, 40, 0, 4, 0x11111111, 0x22222222, 0x33333333});
  ASSERT_EQ(Stream(writes), 0);
  const auto* at = static_cast<const uint8_t*>(buffer->ring->Lock(false, false));
  ASSERT_NE(at, nullptr);
  uint32_t words[3] = {};
  memcpy(&words[0], at + 16, 4);
  memcpy(&words[1], at + 20, 4);
  memcpy(&words[2], at + 40, 4);
  buffer->ring->Unlock();
  EXPECT_EQ(words[0], 0x11111111u);
  EXPECT_EQ(words[1], 0x22222222u);
  EXPECT_EQ(words[2], 0x33333333u);
}

// ---- Requests ----------------------------------------------------------------------------------

// Request 29 takes up to 32 clip rectangles: 32 are set, 33 refused with
// the drawable's list as it was.
TEST_F(ClientEdges, ADrawableTakes32ClipRectanglesAndRefuses33) {
  auto request = [&](uint32_t count) {
    client->Put64(16, 9);
    client->Put32(24, 0), client->Put32(28, 0), client->Put32(32, 640), client->Put32(36, 480);
    client->Put32(40, count);
    for (uint32_t i = 0; i < count && i < kClipRectMax; ++i) {
      client->Put32(48 + 16 * i, 10 * i), client->Put32(52 + 16 * i, 0);
      client->Put32(56 + 16 * i, 10 * i + 5), client->Put32(60 + 16 * i, 5);
    }
    return client->Run(kRequestSetDrawableRects);
  };
  RangeMap* map = Common()->rangeMap;
  ASSERT_EQ(request(kClipRectMax), 0);
  ASSERT_NE(map->Find(9), nullptr);
  EXPECT_EQ(map->Find(9)->clip->count, kClipRectMax);
  EXPECT_EQ(map->Find(9)->clip->rects[kClipRectMax - 1].left, static_cast<int32_t>(10 * (kClipRectMax - 1)));
  EXPECT_EQ(request(kClipRectMax + 1), -1);
  EXPECT_EQ(map->Find(9)->clip->count, kClipRectMax);
}

// Request 31 reads rows of at most 1,024 pixels and of at most one staging
// page (4,096 bytes): a row of 1,024 32-bit pixels is read back whole.
TEST_F(ClientEdges, ARowOf1024PixelsFillingAStagingPageIsReadBack) {
  orvsim::Engine2d engine2d{board, dma};
  ClientSurfaceDescription description = {0, kDescKindPlain, 21, 1024, 2, 0, 0};
  glue.DeclareUserMemory(kProcess, &description, sizeof(description));
  client->Put64(16, reinterpret_cast<uintptr_t>(&description));
  client->Put64(24, 0);
  ASSERT_EQ(client->Run(kRequestCreateSurface), 0);
  const uint64_t handle = client->Get64(24);
  Surface3d* surface = Context()->surfaces->Surface(handle);
  ASSERT_NE(surface, nullptr);
  auto* pixels = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(surface->Lock()));
  ASSERT_NE(pixels, nullptr);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 1024; ++x) {
      const uint32_t value = y << 16 | x;
      memcpy(pixels + y * surface->pitch + x * 4, &value, 4);
    }
  surface->Unlock();
  alignas(8) int32_t box[6] = {0, 0, 0, 1024, 2, 1};
  std::vector<uint8_t> rows(2 * 4096, 0xEE);
  glue.DeclareUserMemory(kProcess, box, sizeof(box));
  glue.DeclareUserMemory(kProcess, rows.data(), rows.size());
  client->Put64(16, handle);
  client->Put64(24, reinterpret_cast<uintptr_t>(box));
  client->Put32(32, 4096);
  client->Put64(40, reinterpret_cast<uintptr_t>(rows.data()));
  ASSERT_EQ(client->Run(kRequestReadRect), 0);
  // Bottom-up: row 1 first, then row 0; the last pixel of each row too.
  for (uint32_t i = 0; i < 2; ++i)
    for (uint32_t x : {0u, 1u, 1023u}) {
      uint32_t value = 0;
      memcpy(&value, rows.data() + i * 4096 + x * 4, 4);
      EXPECT_EQ(value, (1 - i) << 16 | x) << i << " " << x;
    }
  // One pixel wider is refused.
  box[3] = 1025;
  EXPECT_EQ(client->Run(kRequestReadRect), -1);
}

// Request 12 makes textures of up to 12 levels (the description's level
// value is one less): 12 levels of a 2,048-wide texture are made, each
// with its level id; 13 are refused.
TEST_F(ClientEdges, ATextureOfTwelveLevelsIsMadeAndOfThirteenRefused) {
  auto make = [&](uint32_t levelValue) {
    ClientSurfaceDescription description = {kDescVideoOnly | kDescMipmapped, kDescKindTexture, 21, 2048, 1, 0,
                                            levelValue};
    glue.DeclareUserMemory(kProcess, &description, sizeof(description));
    client->Put64(16, reinterpret_cast<uintptr_t>(&description));
    client->Put64(24, 0);
    return client->Run(kRequestCreateSurface) == 0 ? client->Get64(24) : 0;
  };
  const uint64_t twelve = make(kClientMaxLevels - 1);
  ASSERT_NE(twelve, 0u);
  uint32_t ids[2 * kClientMaxLevels];
  EXPECT_EQ(SurfaceList3dProbe::LevelIdsOf(*Context()->surfaces, twelve, ids, 2 * kClientMaxLevels), kClientMaxLevels);
  EXPECT_EQ(make(kClientMaxLevels), 0u);
}

// Request 17's vertex data is at most 4 MiB: exactly that much is taken,
// four bytes more refused.
TEST_F(ClientEdges, VertexDataOfFourMiBIsTakenAndMoreRefused) {
  constexpr uint32_t kStride = 16;
  constexpr uint32_t kMost = (4u << 20) / kStride;
  std::vector<uint8_t> vertices(uint64_t{kMost} * kStride + kStride, 1);
  glue.DeclareUserMemory(kProcess, vertices.data(), vertices.size());
  struct Row {
    const char* name;
    uint32_t stride, count;
    int32_t result;
  };
  const Row rows[] = {
      {"4 MiB", kStride, kMost, 0},
      {"4 MiB and one vertex", kStride, kMost + 1, -1},
      {"4 MiB and four bytes", 4, 4 * kMost + 1, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    client->Put32(16, 0);  // no elements: only the vertex data is taken
    client->Put32(32, row.stride);
    client->Put32(40, row.count);
    client->Put64(56, reinterpret_cast<uintptr_t>(vertices.data()));
    EXPECT_EQ(client->Run(kRequestCreateVertexLayout), row.result);
  }
}

// A client's buffers and vertex layouts go up to handle 1,024: the last
// one made is found, and its destruction takes it.
TEST_F(ClientEdges, TheLastBufferAndTheLastLayoutAreFoundAndDestroyed) {
  // Buffers: the command buffer is the first.
  uint64_t lastBuffer = commands.handle;
  uint32_t buffers = 1;
  for (Buffer b; buffers < kClientMaxBuffers + 1 && client->CreateBuffer(4096, kClientBufferPages, &b); ++buffers)
    lastBuffer = b.handle;
  ASSERT_EQ(buffers, kClientMaxBuffers);
  ASSERT_EQ(lastBuffer, kClientMaxBuffers);
  ASSERT_NE(Context()->buffers.Get(kClientMaxBuffers), nullptr);
  client->Put64(16, lastBuffer);
  EXPECT_EQ(client->Run(kRequestDestroyBuffer), 0);
  EXPECT_EQ(Context()->buffers.Get(kClientMaxBuffers), nullptr) << "the last buffer stayed";

  // Layouts of one element record each.
  struct Record {
    uint64_t reserved;
    uint32_t type, pad, wordCount, pad2;
    uint64_t words;
  };
  static_assert(sizeof(Record) == 32);
  uint32_t words[1] = {1};
  Record record = {0, 5, 0, 1, 0, reinterpret_cast<uintptr_t>(words)};
  uint64_t pointer = reinterpret_cast<uintptr_t>(&record);
  glue.DeclareUserMemory(kProcess, words, sizeof words);
  glue.DeclareUserMemory(kProcess, &record, sizeof record);
  glue.DeclareUserMemory(kProcess, &pointer, sizeof pointer);
  uint64_t lastLayout = 0;
  uint32_t layouts = 0;
  for (; layouts < kClientMaxLayouts + 1; ++layouts) {
    client->Put32(16, 1);
    client->Put64(24, reinterpret_cast<uintptr_t>(&pointer));
    client->Put32(32, 0);
    client->Put32(40, 0);
    client->Put64(56, 0);
    if (client->Run(kRequestCreateVertexLayout) != 0) break;
    lastLayout = client->Get64(64);
  }
  ASSERT_EQ(layouts, kClientMaxLayouts);
  ASSERT_EQ(lastLayout, kClientMaxLayouts);
  client->Put64(16, lastLayout);
  EXPECT_EQ(client->Run(kRequestDestroyVertexLayout), 0);
  EXPECT_EQ(Context()->layouts.Get(kClientMaxLayouts), nullptr) << "the last layout stayed";
}

// A client has up to 256 3D contexts: the last one made runs its tokens
// like the first.
TEST_F(ClientEdges, TheLastOfA256ContextsRunsItsTokens) {
  uint32_t last = context3d;
  uint32_t made = 1;
  for (uint32_t handle; made < kClientMaxContexts3d + 1 && (handle = client->CreateContext3d(5, commands)) != 0;) {
    last = handle;
    ++made;
  }
  ASSERT_EQ(made, kClientMaxContexts3d);
  TokenWriter tokens;
  tokens.Token(12, 1, {7, 1});
  ASSERT_TRUE(tokens.WriteTo(commands, 0));
  EXPECT_EQ(client->RunTokens(last, 0, static_cast<uint32_t>(tokens.Size())), 0);
  Context3d* context = Context()->Context(last);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->current->state.values[7], 1u);
}

}  // namespace
