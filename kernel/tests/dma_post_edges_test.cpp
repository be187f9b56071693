// The edges of a client's DMA post of its own local block: a range may end
// on the last byte the client asked the block for; a range that starts
// inside the block but runs past that end is refused, and nothing of it
// reaches the engine.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "kernel/tests/stream_fixture.h"

namespace {

using Kind = orvsim::DmaEngine::TraceKind;

// A packet header of four pad indexes: no data word, nothing written.
constexpr uint32_t kPad = 0x21212121;

class PostEdges : public ktest::StartedBoard {
 protected:
  // A block of local memory the client asked for, `asked` bytes (request
  // 24, the X driver's local command kind), filled with pad packets: its
  // device address; the size of the block the kernel answered goes to
  // `placed`.
  uint32_t LocalBlock(uint32_t asked, uint32_t* placed) {
    const OrvBlockRequest request = LocalCommandBlock(file, 2, asked);
    const uint32_t at = static_cast<uint32_t>(request.handle);
    *placed = request.second;
    const std::vector<uint32_t> pads(*placed / 4, kPad);
    memcpy(board.LocalMemory() + at, pads.data(), 4 * pads.size());
    return at;
  }
};

TEST_F(PostEdges, ARangeOfTheOwnLocalBlockEndsOnItsLastAskedByte) {
  SharedLocked()->primaryEngineMode = 1;  // no re-initialisation in between
  constexpr uint32_t kAsked = 4096 - 64;
  uint32_t placed = 0;
  const uint32_t base = LocalBlock(kAsked, &placed);
  ASSERT_GE(placed, kAsked);
  const uint32_t end = base + kAsked;
  struct Row {
    const char* name;
    uint32_t start, end;
    bool runs;
  };
  const Row rows[] = {
      {"the whole block as asked", base, end, true},
      {"its last word", end - 4, end, true},
      {"from the start one word past the end", base, end + 4, false},
      {"from inside one word past the end", end - 8, end + 4, false},
      {"from inside well past the end", end - 8, end + 4096, false},
      {"from its last word to the next", end - 4, end + 4, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    dma.RunPending();
    dma.ClearTrace();
    const uint32_t* before = Primary()->cursor;
    EXPECT_EQ(Post({0, row.start, row.end, {}}), row.runs ? 0 : -22);
    dma.RunPending();
    std::vector<orvsim::DmaEngine::TraceEntry> nested;
    for (const auto& e : dma.Trace())
      if (e.kind == Kind::kNested) nested.push_back(e);
    if (row.runs) {
      ASSERT_EQ(nested.size(), 1u);
      EXPECT_EQ(nested[0].a, row.start);
      EXPECT_EQ(nested[0].b, row.end);
    } else {
      EXPECT_EQ(Primary()->cursor, before) << "a refused post wrote into the stream";
      EXPECT_TRUE(nested.empty());
    }
  }
  EXPECT_TRUE(dma.Faults().empty());
}

}  // namespace
