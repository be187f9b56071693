// Buffer options per DMA mode, bus flag and BmDebugFlags value, bus types,
// and pools of process-memory buffers.
#include <gtest/gtest.h>

#include <stdlib.h>

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
