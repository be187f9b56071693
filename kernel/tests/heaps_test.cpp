// The kernel's heaps: region placement (general, fixed, window with its
// fallbacks), splitting and merging, ranges, initialisation limits, a random
// run against a model, and the page heaps' rounding and their wait for the
// engine before memory goes.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

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

// Free regions a case starts from, made by fixed blocks (some given back).
enum class Layout {
  kEmpty,     // [0, 1M) free
  kHoles,     // free [0, 256K) and [448K, 1M)
  kAfter32,   // a 32-byte block at 0, free [32, 1M)
  kLowUsed,   // [0, 512K) used, [512K, 1M) free
  kStraddle,  // [0, 96K) used, [96K, 1M) free
};

void Build(MmRegionHeap& heap, Layout layout) {
  auto fixed = [&](uint32_t at, uint64_t bytes) {
    MmHeapRequest r;
    r.size = bytes;
    r.flags = kRequestFixed;
    r.fixedOffset = at;
    MmBlock* block = heap.AllocateRequest(r);
    EXPECT_NE(block, nullptr);
    return block;
  };
  switch (layout) {
    case Layout::kEmpty:
      break;
    case Layout::kHoles: {
      MmBlock* a = fixed(0, 0x40000);
      fixed(0x40000, 0x10000);
      fixed(0x50000, 0x20000);
      heap.Free(a);
      break;
    }
    case Layout::kAfter32:
      fixed(0, 32);
      break;
    case Layout::kLowUsed:
      fixed(0, 0x80000);
      break;
    case Layout::kStraddle:
      fixed(0, 0x18000);
      break;
  }
}

struct PlacementCase {
  const char* name;
  Layout layout;
  MmHeapRequest request;
  bool granted;
  uint64_t offset;   // the block
  uint64_t taken;    // its length in the heap
  size_t regions;    // afterwards, free and used
};

MmHeapRequest General(uint64_t bytes, uint32_t alignment, uint32_t flags) {
  MmHeapRequest r;
  r.size = bytes;
  r.alignment = alignment;
  r.flags = flags;
  return r;
}

MmHeapRequest Window(uint64_t bytes, uint64_t start, uint64_t end, uint8_t fallback, uint32_t flags = 0) {
  MmHeapRequest r;
  r.size = bytes;
  r.flags = kRequestWindow | flags;
  r.windowStart = start;
  r.windowEnd = end;
  r.fallback = fallback;
  return r;
}

constexpr uint8_t kBothFallbacks = kFallbackWindowToEnd | kFallbackStartToWindow;

const PlacementCase kPlacements[] = {
    // General placement.
    {"no flag: the largest region, at its aligned start", Layout::kHoles, General(1000, 64, 0), true,
     0x70000, 1024, 5},
    {"flag 8: the highest region, at its top", Layout::kHoles, General(1000, 64, kRequestHigh), true,
     0xFFC00, 1024, 5},
    {"flag 8 wins over 16", Layout::kHoles, General(1000, 64, kRequestHigh | kRequestLow), true, 0xFFC00,
     1024, 5},
    {"flag 16: the lowest region, at its start", Layout::kHoles, General(1000, 64, kRequestLow), true, 0,
     1024, 5},
    {"flag 16 in one region: its start", Layout::kEmpty, General(0x40000, 1, kRequestLow), true, 0,
     0x40000, 2},
    {"flag 8 in one region: its top", Layout::kEmpty, General(0x40000, 1, kRequestHigh), true, 0xC0000,
     0x40000, 2},
    // The alignment gap in front of a low block is taken with it.
    {"the gap is taken", Layout::kAfter32, General(32, 4096, 0), true, 4096, 4096, 3},
    {"the gap is taken with flag 16", Layout::kAfter32, General(32, 4096, kRequestLow), true, 4096, 4096,
     3},
    {"a high block takes its own granules", Layout::kAfter32, General(32, 4096, kRequestHigh), true,
     0xFF000, 32, 4},
    {"no room after the gap", Layout::kAfter32, General(kHeapSize - 64, 4096, 0), false, 0, 0, 2},
    // Windows: only regions starting below the window end are looked at,
    // the fallbacks' too.
    {"inside the window", Layout::kEmpty, Window(0x1000, 0x10000, 0x20000, 0), true, 0x10000, 0x1000, 3},
    {"inside, high", Layout::kEmpty, Window(0x1000, 0x10000, 0x20000, 0, kRequestHigh), true, 0x1F000,
     0x1000, 3},
    {"nothing starts below the window end", Layout::kLowUsed,
     Window(0x1000, 0x10000, 0x20000, kBothFallbacks), false, 0, 0, 2},
    {"window start to heap end: the region across the window end", Layout::kStraddle,
     Window(0x4000, 0x10000, 0x1A000, kFallbackWindowToEnd), true, 0x18000, 0x4000, 3},
    {"heap start to window end: none fits", Layout::kStraddle,
     Window(0x4000, 0x10000, 0x1A000, kFallbackStartToWindow), false, 0, 0, 2},
    {"both: the second when the first has none", Layout::kStraddle,
     Window(0x4000, 0x10000, 0x1A000, kBothFallbacks), true, 0x18000, 0x4000, 3},
    {"heap start to window end: below the window", Layout::kHoles,
     Window(0x1000, 0x50000, 0x60000, kFallbackStartToWindow), true, 0, 0x1000, 5},
    {"no fallback", Layout::kHoles, Window(0x1000, 0x50000, 0x60000, 0), false, 0, 0, 4},
};

TEST_F(RegionHeapTest, Placements) {
  for (const PlacementCase& c : kPlacements) {
    SCOPED_TRACE(c.name);
    heap = std::make_unique<MmRegionHeap>(&ok, nullptr, kHeapDeviceAddress, 0x100000, nullptr, kHeapSize, 32);
    Build(*heap, c.layout);
    const uint32_t freeBefore = heap->GetFreeBytes();
    MmBlock* block = heap->AllocateRequest(c.request);
    ASSERT_EQ(block != nullptr, c.granted);
    EXPECT_EQ(heap->RegionCount(), c.regions);
    if (block == nullptr) {
      EXPECT_EQ(heap->GetFreeBytes(), freeBefore);
      continue;
    }
    EXPECT_EQ(block->offset, c.offset);
    EXPECT_EQ(block->offset % c.request.alignment, 0u);
    EXPECT_EQ(block->busAddress, 0x100000u + c.offset);
    EXPECT_EQ(block->size, c.taken);
    EXPECT_EQ(block->requestedSize, c.request.size);
    EXPECT_EQ(heap->GetFreeBytes(), freeBefore - c.taken);
  }
}

TEST_F(RegionHeapTest, FixedPlacement) {
  MmHeapRequest fixed;
  fixed.size = 0x1000;
  fixed.flags = kRequestFixed;
  fixed.fixedOffset = 0x80010;
  MmBlock* f = heap->AllocateRequest(fixed);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->offset, 0x80010u);
  EXPECT_EQ(f->size, 0x1020u);  // from its granule on
  EXPECT_EQ(heap->AllocateRequest(fixed), nullptr);  // taken
  fixed.fixedOffset = kHeapSize - 0x800;
  EXPECT_EQ(heap->AllocateRequest(fixed), nullptr);  // past the end
}

struct MergeCase {
  const char* name;
  std::vector<int> frees;  // of the blocks 0-3, in this order
  size_t regions;
  uint64_t largest;
};

// Four blocks of 0x1000 at 0, 0x1000, 0x2000 and 0x3000, the rest free.
const MergeCase kMerges[] = {
    {"a block before the free rest", {3}, 4, kHeapSize - 0x3000},
    {"a block that directly follows a free region", {1, 2}, 4, kHeapSize - 0x4000},
    {"the same at the heap start", {0, 1}, 4, kHeapSize - 0x4000},
    {"between two free regions", {1, 3, 2}, 2, kHeapSize - 0x1000},
    {"all of them", {0, 2, 1, 3}, 1, kHeapSize},
};

TEST_F(RegionHeapTest, FreesMergeWithFreeNeighbours) {
  for (const MergeCase& c : kMerges) {
    SCOPED_TRACE(c.name);
    heap = std::make_unique<MmRegionHeap>(&ok, nullptr, kHeapDeviceAddress, 0, nullptr, kHeapSize, 32);
    MmBlock* blocks[4];
    for (MmBlock*& b : blocks) ASSERT_NE(b = Take(0x1000), nullptr);
    bool live[4] = {true, true, true, true};
    for (int i : c.frees) {
      heap->Free(blocks[i]);
      live[i] = false;
    }
    EXPECT_EQ(heap->RegionCount(), c.regions);
    EXPECT_EQ(heap->GetLargestFree(), c.largest);
    EXPECT_EQ(heap->GetFreeBytes(), kHeapSize - 0x1000 * (4 - c.frees.size()));
    // The region a freed block merged into starts where the free region
    // before it started: the lowest block that fills it lands there.
    if (c.frees.size() == 2 && c.frees[0] + 1 == c.frees[1]) {
      MmBlock* merged = Take(0x2000, 32, kRequestLow);
      ASSERT_NE(merged, nullptr);
      EXPECT_EQ(merged->offset, 0x1000u * c.frees[0]);
      EXPECT_EQ(heap->GetLargestFree(), c.largest);
      heap->Free(merged);
    }
    // Whatever is taken afterwards stays clear of the live blocks.
    std::vector<MmBlock*> taken;
    while (MmBlock* b = Take(0x800, 32, kRequestLow)) taken.push_back(b);
    ASSERT_EQ(taken.size(), heap->size / 0x800 - 2 * (4 - c.frees.size()));
    for (MmBlock* b : taken) {
      for (int i = 0; i < 4; ++i) {
        if (!live[i]) continue;  // given back: the block may be gone
        const uint64_t at = 0x1000u * i;
        EXPECT_TRUE(b->offset + b->size <= at || at + 0x1000 <= b->offset) << std::hex << b->offset;
      }
    }
  }
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

  // A tag the engine never reaches: the bounded wait ends, the memory goes.
  expectErrors = true;
  block = owner->heap->Allocate(100, 64);
  ASSERT_NE(block, nullptr);
  block->dmaStamp = SharedLocked()->syncTagCounter + 8;
  SharedLocked()->syncTagCounter += 8;
  owner->heap->Free(block);
  EXPECT_TRUE(glue.Logged("[orv] *ERROR* system memory free"));
  EXPECT_EQ(glue.LiveLockedPages(), pages - 1);
}

}  // namespace
