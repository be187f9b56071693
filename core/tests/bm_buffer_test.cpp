// Buffer options per DMA mode, bus flag and BmDebugFlags value, bus types,
// and pools of process-memory buffers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "core/bm_buffer.h"

namespace {

struct Entry {
  uint32_t type, size;
  bool operator==(const Entry&) const = default;
};

std::vector<Entry> Entries(const BmBufferPool::CreateOptions& o) {
  std::vector<Entry> out;
  for (uint32_t i = 0; i < o.alloc.count; ++i) out.push_back({o.alloc.memoryType[i], o.alloc.size[i]});
  return out;
}

constexpr uint32_t k32MB = 32u << 20;
constexpr uint32_t kLocal32 = 2096896;

TEST(BmOptionsTest, PrimaryOptionsPerModeBusFlagsAndDebugFlags) {
  const struct {
    const char* name;
    uint32_t mode, busFlags, debug, local;
    uint32_t buffers;
    uint8_t keep;
    std::vector<Entry> entries;
  } cases[] = {
      {"emulated", 1, 0x10, 0, k32MB, 1, 1, {{4, 16384}}},
      {"local DMA", 2, 0x10, 0, k32MB, 1, 0, {{0, 1048576}, {4, 1048576}}},
      {"posted, no system memory", 0, 0, 0, k32MB, 2, 1, {{0, kLocal32}, {4, 262144}}},
      {"posted, AGP", 0, 0x10, 0, k32MB, 2, 1, {{2, 262144}, {0, kLocal32}, {4, 262144}}},
      {"posted, AGP and PCI", 0, 0x100014, 0, k32MB, 2, 1,
       {{2, 262144}, {3, 262144}, {0, kLocal32}, {4, 262144}}},
      {"posted, PCI needs both bits", 0, 0x100000, 0, k32MB, 2, 1, {{0, kLocal32}, {4, 262144}}},
      {"debug 0x10: no system memory", 0, 0x100014, 0x10, k32MB, 2, 1,
       {{0, kLocal32}, {4, 262144}}},
      {"debug 0x40: no AGP", 0, 0x100014, 0x40, k32MB, 2, 1,
       {{3, 262144}, {0, kLocal32}, {4, 262144}}},
      {"debug 0x20: no PCI", 0, 0x100014, 0x20, k32MB, 2, 1,
       {{2, 262144}, {0, kLocal32}, {4, 262144}}},
      {"local memory below 4 KiB", 0, 0, 0, 1000, 2, 1, {{4, 262144}}},
  };
  for (const auto& c : cases) {
    const auto o = BmPrimaryOptions(c.mode, c.busFlags, c.debug, c.local);
    EXPECT_EQ(o.bufferCount, c.buffers) << c.name;
    EXPECT_EQ(o.keepEntries, c.keep) << c.name;
    EXPECT_EQ(o.reserve, 0u) << c.name;
    EXPECT_EQ(Entries(o), c.entries) << c.name;
  }
}

TEST(BmOptionsTest, AtMostFourEntriesAndAgpBusType) {
  BmBuffer_AllocOptions o = {};
  for (uint32_t i = 0; i < 6; ++i) o.Add(i, 100 + i);
  EXPECT_EQ(o.count, 4u);
  EXPECT_EQ(o.size[3], 103u);
  const struct { uint32_t type, flags, bus; } cases[] = {
      {2, 0x10, 2}, {2, 0x410, 3}, {2, 0, 3}, {3, 0x10, 3}, {0, 0x410, 0}, {4, 0, 4},
  };
  for (const auto& c : cases) EXPECT_EQ(BmBusTypeOf(c.type, c.flags), c.bus) << c.type << " " << c.flags;
}

class ProcessPoolTest : public testing::Test {
 protected:
  void SetUp() override {
    common_ = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common_->sharedLocked = &shared_;
  }
  void TearDown() override { free(common_); }
  BmBufferPool::CreateOptions Options(uint32_t buffers) {
    BmBufferPool::CreateOptions o;
    o.bufferCount = buffers;
    o.reserve = 2;
    o.alloc.Add(7, 4096);  // skipped: no such memory
    o.alloc.Add(kBmMemProcess, 5000);
    return o;
  }
  SharedLockedData_t shared_ = {};
  CommonData* common_ = nullptr;
};

TEST_F(ProcessPoolTest, OpenBuildsTheRingAndTheLastCloseFreesIt) {
  BmBufferPool pool(common_, 0, Options(3));
  EXPECT_EQ(pool.options.alloc.localKind, 1);
  ASSERT_TRUE(pool.Open());
  ASSERT_TRUE(pool.Open());
  EXPECT_EQ(pool.bufferCount, 3u);
  EXPECT_EQ(pool.totalSize, 3u * 8192);
  EXPECT_EQ(pool.head->size, 8192u) << "rounded up to whole pages";
  EXPECT_EQ(pool.head->memoryType, kBmMemProcess);
  EXPECT_EQ(pool.head->BusOf(pool.head->Begin()),
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pool.head->Begin())));
  EXPECT_EQ(pool.cursor, pool.head->Begin());
  EXPECT_EQ(pool.limit, pool.head->End() - 2);
  BmBuffer* first = pool.head;
  pool.SwitchToNewBuffer();
  EXPECT_NE(pool.head, first);
  EXPECT_EQ(first->state & kBmBufferStateBits, 0u);
  EXPECT_EQ(pool.Close(), 1u);
  EXPECT_NE(pool.head, nullptr);
  EXPECT_EQ(pool.Close(), 0u);
  EXPECT_EQ(pool.head, nullptr);
}

TEST_F(ProcessPoolTest, OneBufferPoolReusesItsHeadAndReserveSwitches) {
  BmBufferPool pool(common_, 0, Options(1));
  ASSERT_TRUE(pool.Open());
  BmBuffer* only = pool.head;
  pool.Reserve(2040);
  uint32_t* at = pool.Reserve(100);  // passes the limit: back to the start
  EXPECT_EQ(pool.head, only);
  EXPECT_EQ(at, only->Begin());
  pool.Close();
}

// The buffers of a pool in ring order from its first head, each as its
// words; and where the cursor stands (buffer, word).
struct PoolImage {
  std::vector<std::vector<uint32_t>> buffers;
  size_t head = 0, cursor = 0;
  bool operator==(const PoolImage&) const = default;
};
PoolImage ImageOf(const BmBufferPool& pool, const BmBuffer* first) {
  PoolImage image;
  const BmBuffer* b = first;
  do {
    if (b == pool.head) {
      image.head = image.buffers.size();
      image.cursor = static_cast<size_t>(pool.cursor - b->Begin());
    }
    image.buffers.emplace_back(b->Begin(), b->End());
    b = b->next;
  } while (b != first);
  return image;
}

// Runs and batches land where one Reserve per command puts the same
// commands: the same words in the same buffers, switched at the same
// commands, never past a limit, and nothing at all for a command no buffer
// holds.
TEST_F(ProcessPoolTest, RunsAndBatchesLandWhereOneReservePerCommandWould) {
  constexpr uint32_t kCanary = 0xC0FFEE00;
  const struct Case {
    const char* name;
    uint32_t before;  // words reserved first
    uint32_t count, words;
    uint32_t written;  // commands the run writes
  } cases[] = {
      {"fits", 0, 10, 8, 10},
      {"crosses one switch", 0, 300, 8, 300},
      {"starts near the limit", 2040, 100, 7, 100},
      {"one word short of the limit", 2039, 3, 8, 3},
      {"exactly to the limit", 2046 - 80, 10, 8, 10},
      {"wraps the ring", 1, 1000, 5, 1000},
      {"larger than a fresh buffer", 0, 3, 2047, 0},
      {"a whole fresh buffer each", 100, 2, 2046, 2},
  };
  for (const Case& c : cases) {
    BmBufferPool one(common_, 0, Options(3)), run(common_, 0, Options(3)), batch(common_, 0, Options(3));
    ASSERT_TRUE(one.Open() && run.Open() && batch.Open());
    BmBuffer* firsts[] = {one.head, run.head, batch.head};
    for (BmBufferPool* p : {&one, &run, &batch}) {
      const BmBuffer* b = p->head;
      do {
        std::fill(b->Begin(), b->End(), kCanary);
        b = b->next;
      } while (b != p->head);
      if (c.before != 0) std::fill_n(p->Reserve(c.before), c.before, 1u);
    }
    // Command i holds the words i << 16 | k.
    auto put = [&](uint32_t* at, uint32_t i) {
      for (uint32_t k = 0; k < c.words; ++k) at[k] = i << 16 | k;
    };
    uint32_t single = 0;
    for (; single < c.count; ++single) {
      uint32_t* at = one.Reserve(c.words);
      if (at == nullptr) break;
      put(at, single);
    }
    EXPECT_EQ(single, c.written) << c.name;
    EXPECT_EQ(BmWriteRun(&run, c.count, c.words, put), c.written) << c.name;
    {
      BmBatch b(&batch);
      for (uint32_t i = 0; i < c.count; ++i) {
        uint32_t* at = b.Put(c.words);
        if (at == nullptr) break;
        put(at, i);
      }
    }
    const PoolImage expected = ImageOf(one, firsts[0]);
    EXPECT_EQ(ImageOf(run, firsts[1]), expected) << c.name;
    EXPECT_EQ(ImageOf(batch, firsts[2]), expected) << c.name;
    // Nothing past a limit: the reserve words keep the canary.
    for (const auto& words : expected.buffers) {
      EXPECT_EQ(words[words.size() - 1], kCanary) << c.name;
      EXPECT_EQ(words[words.size() - 2], kCanary) << c.name;
    }
  }
}

// A batch of packets of different sizes switches buffers at the packet
// that one Reserve per packet would switch at, and Room with Commit moves
// the cursor once past what was written.
TEST_F(ProcessPoolTest, BatchOfMixedPacketsSwitchesAtTheSamePacket) {
  const uint32_t sizes[] = {3, 5, 2, 8, 1, 4};
  BmBufferPool one(common_, 0, Options(2)), batch(common_, 0, Options(2));
  ASSERT_TRUE(one.Open() && batch.Open());
  BmBuffer* firsts[] = {one.head, batch.head};
  {
    BmBatch b(&batch);
    for (uint32_t i = 0; i < 600; ++i) {
      const uint32_t n = sizes[i % 6];
      uint32_t* x = one.Reserve(n);
      uint32_t* y = b.Put(n);
      ASSERT_NE(x, nullptr);
      ASSERT_NE(y, nullptr);
      for (uint32_t k = 0; k < n; ++k) x[k] = y[k] = i << 8 | k;
    }
  }
  EXPECT_NE(one.head, firsts[0]) << "the packets fill more than one buffer";
  EXPECT_EQ(ImageOf(batch, firsts[1]), ImageOf(one, firsts[0]));

  uint32_t* const before = batch.cursor;
  uint32_t* at = batch.Room(6);
  ASSERT_EQ(at, before);
  EXPECT_EQ(batch.cursor, before) << "Room moves nothing";
  at[0] = at[1] = 7;
  batch.Commit(at + 2);
  EXPECT_EQ(batch.cursor, before + 2);
  EXPECT_EQ(batch.Room(2047), nullptr) << "more than a fresh buffer holds";
  EXPECT_EQ(batch.cursor, before + 2);
}

TEST_F(ProcessPoolTest, NoBufferFailsOpen) {
  BmBufferPool::CreateOptions o;
  o.bufferCount = 2;
  o.alloc.Add(kBmMemLocal, 4096);  // no surface manager: cannot be placed
  BmBufferPool pool(common_, 0, o);
  EXPECT_FALSE(pool.Open());
  BmBuffer b(common_, 0);
  EXPECT_FALSE(b.AssignMemory(kBmMemAgp, 0, &b, 0x1000));
  EXPECT_FALSE(b.AssignMemory(kBmMemAgp, 16, nullptr, 0x1000));
  uint32_t words[4];
  ASSERT_TRUE(b.AssignMemory(kBmMemAgp, sizeof words, words, 0x2000));
  EXPECT_EQ(b.BusOf(words + 2), 0x2008u);
  EXPECT_EQ(b.busType, kBmMemPciLocked) << "AGP without the AGP bus flag";
}

}  // namespace
