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
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/tests/stream_fixture.h"
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

}  // namespace
