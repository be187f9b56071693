// The kernel's heaps: region placement (general, fixed, window with its
// fallbacks), splitting and merging, ranges, initialisation limits, a random
// run against a model, and the page heaps' rounding and their wait for the
// engine before memory goes.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "kernel/tests/stream_fixture.h"
#include "kernel/vidmem/heaps.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

namespace {

constexpr uint32_t kHeapSize = 1u << 20;

class RegionHeapTest : public ::testing::Test {
 protected:
  RegionHeapTest() { heap = std::make_unique<MmRegionHeap>(&ok, nullptr, kHeapDeviceAddress, 0x100000, nullptr, kHeapSize, 32); }
  MmBlock* Take(uint64_t size, uint32_t alignment = 32, uint32_t flags = 0) {
    MmHeapRequest request;
    request.size = size;
    request.alignment = alignment;
    request.flags = flags;
    return heap->AllocateRequest(request);
  }
  orvsim::Simulation sim;
  kglue::Glue glue;  // the allocator of the kernel build
  uint8_t ok = 0;
  std::unique_ptr<MmRegionHeap> heap;
};

TEST_F(RegionHeapTest, AnAlignmentThatIsNoPowerOfTwoFailsInEveryHeap) {
  ASSERT_TRUE(ok);
  EXPECT_EQ(heap->Allocate(64, 3), nullptr);
  MmSystemHeap plain(kSystemPlain, nullptr, 0);
  EXPECT_EQ(plain.Allocate(64, 3), nullptr);
  EXPECT_EQ(plain.Allocate(64, 0), nullptr);
  EXPECT_EQ(heap->GetFreeBytes(), kHeapSize);
}

TEST_F(RegionHeapTest, PlacementByDirectionFlags) {
  MmBlock* a = Take(0x40000);   // [0, 256K)
  MmBlock* b = Take(0x10000);   // [256K, 320K)
  MmBlock* c = Take(0x20000);   // [320K, 448K)
  ASSERT_TRUE(a && b && c);
  heap->Free(a);                // free: [0, 256K) and [448K, 1M)
  MmBlock* largest = Take(1000, 64);
  EXPECT_EQ(largest->offset, 0x70000u);  // the largest region, at its start
  EXPECT_EQ(largest->busAddress, 0x100000u + 0x70000u);
  EXPECT_EQ(largest->size, 1024u);       // the length taken, in granules
  EXPECT_EQ(largest->requestedSize, 1000u);
  MmBlock* high = Take(1000, 64, kRequestHigh);
  EXPECT_EQ(high->offset, (kHeapSize - 1000) & ~63u);  // the top of the highest region
  MmBlock* low = Take(1000, 64, kRequestLow);
  EXPECT_EQ(low->offset, 0u);             // the lowest region, at its start
  EXPECT_EQ(Take(2, 3), nullptr);
  EXPECT_EQ(Take(0x100001), nullptr);
}

TEST_F(RegionHeapTest, FixedAndWindowPlacementsWithEachFallback) {
  MmHeapRequest fixed;
  fixed.size = 0x1000;
  fixed.flags = kRequestFixed;
  fixed.fixedOffset = 0x80000;
  MmBlock* f = heap->AllocateRequest(fixed);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->offset, 0x80000u);
  EXPECT_EQ(heap->AllocateRequest(fixed), nullptr);  // taken

  // A window [0x7F000, 0x81000) around the fixed block cannot hold 0x2000.
  MmHeapRequest window;
  window.size = 0x2000;
  window.flags = kRequestWindow;
  window.windowStart = 0x7F000;
  window.windowEnd = 0x81000;
  EXPECT_EQ(heap->AllocateRequest(window), nullptr);
  window.fallback = kFallbackStartToWindow;  // [0, window end)
  MmBlock* below = heap->AllocateRequest(window);
  ASSERT_NE(below, nullptr);
  EXPECT_LT(below->offset + 0x2000, 0x81000u);
  window.fallback = kFallbackWindowToEnd;    // [window start, end)
  MmBlock* above = heap->AllocateRequest(window);
  ASSERT_NE(above, nullptr);
  EXPECT_GE(above->offset, 0x7F000u);
  // Inside the window when it fits; the last fitting region with flag 8.
  window.size = 0x800;
  window.fallback = 0;
  window.windowStart = 0;
  window.windowEnd = kHeapSize;
  window.flags = kRequestWindow | kRequestHigh;
  MmBlock* top = heap->AllocateRequest(window);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->offset + 0x800, kHeapSize);
}

TEST_F(RegionHeapTest, FreesMergeWithBothFreeNeighbours) {
  MmBlock* x = Take(0x1000);
  MmBlock* y = Take(0x2000);
  MmBlock* z = Take(0x3000);
  ASSERT_TRUE(x && y && z);
  EXPECT_EQ(heap->RegionCount(), 4u);
  heap->Free(x);
  heap->Free(z);  // merges with the free rest after it
  EXPECT_EQ(heap->RegionCount(), 3u);
  heap->Free(y);  // between two free regions: one region of the sum
  EXPECT_EQ(heap->RegionCount(), 1u);
  EXPECT_EQ(heap->GetLargestFree(), kHeapSize);
  EXPECT_EQ(heap->GetFreeBytes(), kHeapSize);
}

TEST_F(RegionHeapTest, SixteenRangesAndTheirCounts) {
  for (uint32_t i = 0; i < kMaxRanges; ++i) EXPECT_EQ(heap->AddRange(i * 0x10000, 0x10000, 0), i);
  EXPECT_EQ(heap->AddRange(0, 0x10000, 0), kRangeRefused);
  MmHeapRequest request;
  request.size = 0x100;
  request.flags = kRequestWindow;
  request.windowStart = 0x20000;
  request.windowEnd = 0x30000;
  request.rangeIndex = 2;
  MmBlock* block = heap->AllocateRequest(request);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(heap->SummaryMask(), 1u << 2);
  EXPECT_EQ(heap->CountFreeInRange(2), 0x10000u - 0x100);
  heap->Free(block);
  EXPECT_EQ(heap->SummaryMask(), 0u);
  EXPECT_EQ(heap->CountFreeInRange(2), 0x10000u);
}

TEST_F(RegionHeapTest, SizesTheHeapCannotHoldFail) {
  uint8_t bad = 1;
  MmRegionHeap offGrain(&bad, nullptr, kHeapDeviceAddress, 0, nullptr, 1000, 32);
  EXPECT_EQ(bad, 0);
  MmRegionHeap notPower(&bad, nullptr, kHeapDeviceAddress, 0, nullptr, 1024, 48);
  EXPECT_EQ(bad, 0);
  EXPECT_FALSE(heap->Initialise());  // once
  EXPECT_EQ(Take(0xFFFFFFF0ull), nullptr);
  EXPECT_EQ(Take(~uint64_t{0} - 8, 1), nullptr);
  EXPECT_EQ(Take(0), nullptr);
  MmSystemHeap plain(kSystemPlain, nullptr, 0);
  EXPECT_EQ(plain.Allocate(~uint64_t{0} - 16, 64), nullptr);  // wraps with the alignment
}

TEST_F(RegionHeapTest, RandomAllocationsAgainstAModel) {
  std::mt19937 random(11);
  std::map<uint64_t, std::pair<uint64_t, MmBlock*>> used;  // start -> (end, block)
  uint64_t usedBytes = 0;
  for (int step = 0; step < 3000; ++step) {
    if (used.empty() || random() % 3 != 0) {
      const uint64_t size = 1 + random() % 0x4000;
      const uint32_t alignment = 1u << (random() % 10);
      const uint32_t flags = random() % 3 == 0 ? kRequestHigh : 0;
      MmBlock* block = Take(size, alignment, flags);
      if (block == nullptr) continue;
      auto* region = static_cast<MmRegion*>(block);
      EXPECT_EQ(block->offset % alignment, 0u);
      EXPECT_GE(region->regionStart + region->regionLength, block->offset + size);
      auto next = used.lower_bound(region->regionStart);
      const bool clearAbove =
          next == used.end() || region->regionStart + region->regionLength <= next->first;
      const bool clearBelow = next == used.begin() || std::prev(next)->second.first <= region->regionStart;
      ASSERT_TRUE(clearAbove && clearBelow) << step;
      used[region->regionStart] = {region->regionStart + region->regionLength, block};
      usedBytes += region->regionLength;
    } else {
      auto it = used.begin();
      std::advance(it, random() % used.size());
      usedBytes -= it->second.first - it->first;
      heap->Free(it->second.second);
      used.erase(it);
    }
    ASSERT_EQ(heap->GetFreeBytes() + usedBytes, kHeapSize) << step;
  }
}

// ---- Page heaps ------------------------------------------------------------------------------------

class PageHeaps : public ktest::StartedBoard {};

TEST_F(PageHeaps, RoundToWholePagesAndAFreeWaitsForTheEngine) {
  MmHeapOwner* owner = Common()->memoryManager->heapSet->First(kListPciPages);
  ASSERT_NE(owner, nullptr);
  MmBlock* block = owner->heap->Allocate(100, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->size, 4096u);
  EXPECT_EQ(block->busAddress % 64, 0u);
  const size_t pages = glue.LiveLockedPages();

  // Stamped with a tag the engine reaches only after some yields.
  dma.SetLatencyReads(20);
  uint32_t tag = 0;
  ASSERT_TRUE(Tags()->EmitTag(kNoEventSlot, Primary(), false, &tag));
  Primary()->Kick();
  block->dmaStamp = tag;
  EXPECT_NE(Tags()->EngineTag(), tag);
  owner->heap->Free(block);
  EXPECT_EQ(Tags()->EngineTag(), tag);  // freed once the engine passed it
  EXPECT_EQ(glue.LiveLockedPages(), pages - 1);
  EXPECT_FALSE(glue.Logged("*ERROR*"));

  // A tag the engine never reaches: the bounded wait ends, and the pages
  // the engine may still read are set aside, not freed (they go with the
  // device); a second free of the block changes nothing.
  expectErrors = true;
  block = owner->heap->Allocate(100, 64);
  ASSERT_NE(block, nullptr);
  block->dmaStamp = SharedLocked()->syncTagCounter + 8;
  SharedLocked()->syncTagCounter += 8;
  owner->heap->Free(block);
  EXPECT_TRUE(glue.Logged("[orv] *ERROR* system memory free"));
  EXPECT_EQ(glue.LiveLockedPages(), pages);
  owner->heap->Free(block);
  EXPECT_EQ(glue.LiveLockedPages(), pages);
}

}  // namespace
