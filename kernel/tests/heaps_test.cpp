// The kernel's heaps: region placement (general, fixed, window with its
// fallbacks), splitting and merging, ranges, initialisation limits, a random
// run against a model, and the page heaps' rounding and their wait for the
// engine before memory goes.
#include <gtest/gtest.h>

#include <algorithm>
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

// The placement rules of a region heap written over plain lists, one walk
// per decision: the heap's indexed search must decide exactly as they do.
class PlainHeap {
 public:
  struct Region {
    uint64_t start, length;
    bool used;
    uint64_t order;  // when it last became a free region
  };
  struct Result {
    bool granted = false;
    uint64_t offset = 0, start = 0, length = 0;
  };

  PlainHeap(uint64_t size, uint64_t granularity) : size_(size), granularity_(granularity) {
    regions_.push_back({0, size, false, ++order_});
  }

  Result Allocate(const MmHeapRequest& r) {
    const uint64_t a = r.alignment;
    if (r.size == 0 || r.size > size_ || (a & (a - 1)) != 0) return {};
    const bool high = (r.flags & kRequestHigh) != 0;
    if (r.flags & kRequestFixed) {
      if (r.fixedOffset + r.size > size_) return {};
      for (size_t i = 0; i < regions_.size(); ++i) {
        const Region& g = regions_[i];
        if (!g.used && g.start <= r.fixedOffset && r.fixedOffset + r.size <= g.start + g.length)
          return Take(i, r.fixedOffset, Down(r.fixedOffset, granularity_), r.size);
      }
      return {};
    }
    if (r.flags & kRequestWindow) {
      const uint64_t lo = r.windowStart;
      const uint64_t hi = std::min<uint64_t>(r.windowEnd, size_);
      long chosen = -1, toEnd = -1, fromStart = -1;
      uint64_t at = 0, chosenAt = 0, toEndAt = 0, fromStartAt = 0;
      for (size_t i = 0; i < regions_.size() && regions_[i].start < hi; ++i) {
        if (regions_[i].used) continue;
        if (Clip(regions_[i], lo, hi, r.size, a, high, &at)) {
          chosen = static_cast<long>(i);
          chosenAt = at;
          if (!high) break;
          continue;
        }
        if (Clip(regions_[i], 0, hi, r.size, a, high, &at)) toEnd = static_cast<long>(i), toEndAt = at;
        if (Clip(regions_[i], lo, size_, r.size, a, high, &at)) fromStart = static_cast<long>(i), fromStartAt = at;
      }
      auto spanStart = [&](long i, uint64_t clipLo, uint64_t p) {
        return high ? Down(p, granularity_) : Down(std::max(regions_[i].start, clipLo), granularity_);
      };
      if (chosen >= 0) return Take(chosen, chosenAt, spanStart(chosen, lo, chosenAt), r.size);
      if ((r.fallback & kFallbackStartToWindow) && toEnd >= 0)
        return Take(toEnd, toEndAt, spanStart(toEnd, 0, toEndAt), r.size);
      if ((r.fallback & kFallbackWindowToEnd) && fromStart >= 0)
        return Take(fromStart, fromStartAt, spanStart(fromStart, lo, fromStartAt), r.size);
      return {};
    }
    // The largest free region (the latest of equal ones) must fit.
    long largest = -1;
    for (size_t i = 0; i < regions_.size(); ++i) {
      const Region& g = regions_[i];
      if (g.used) continue;
      if (largest < 0 || g.length > regions_[largest].length ||
          (g.length == regions_[largest].length && g.order > regions_[largest].order))
        largest = static_cast<long>(i);
    }
    if (largest < 0 || !Fits(regions_[largest], r.size, a)) return {};
    long chosen = largest;
    if (r.flags & (kRequestHigh | kRequestLow)) {
      for (size_t i = 0; i < regions_.size(); ++i) {
        if (regions_[i].used || !Fits(regions_[i], r.size, a)) continue;
        if (high ? regions_[i].start > regions_[chosen].start : regions_[i].start < regions_[chosen].start)
          chosen = static_cast<long>(i);
      }
    }
    const Region& g = regions_[chosen];
    if (high) {
      const uint64_t p = Down(g.start + g.length - r.size, a);
      return Take(chosen, p, Down(p, granularity_), r.size);
    }
    return Take(chosen, Up(g.start, a), g.start, r.size);
  }

  void Free(uint64_t start) {
    size_t i = 0;
    while (regions_[i].start != start) ++i;
    regions_[i].used = false;
    if (i > 0 && !regions_[i - 1].used) {
      regions_[i - 1].length += regions_[i].length;
      regions_.erase(regions_.begin() + static_cast<long>(i));
      --i;
    }
    if (i + 1 < regions_.size() && !regions_[i + 1].used) {
      regions_[i].length += regions_[i + 1].length;
      regions_.erase(regions_.begin() + static_cast<long>(i) + 1);
    }
    regions_[i].order = ++order_;
  }

  uint64_t FreeBytes() const {
    uint64_t n = 0;
    for (const Region& g : regions_) n += g.used ? 0 : g.length;
    return n;
  }
  uint64_t Largest() const {
    uint64_t n = 0;
    for (const Region& g : regions_) n = g.used ? n : std::max(n, g.length);
    return n;
  }
  const std::vector<Region>& regions() const { return regions_; }

 private:
  static uint64_t Up(uint64_t v, uint64_t a) { return (v + a - 1) & ~(a - 1); }
  static uint64_t Down(uint64_t v, uint64_t a) { return v & ~(a - 1); }
  static bool Fits(const Region& g, uint64_t bytes, uint64_t a) {
    return bytes + (Up(g.start, a) - g.start) <= g.length;
  }
  // An aligned place for the block in the region's part inside [lo, hi).
  static bool Clip(const Region& g, uint64_t lo, uint64_t hi, uint64_t bytes, uint64_t a, bool high, uint64_t* at) {
    const uint64_t s = std::max(g.start, lo);
    const uint64_t e = std::min(g.start + g.length, hi);
    if (e <= s || e - s < bytes) return false;
    *at = high ? Down(e - bytes, a) : Up(s, a);
    return *at >= s && *at + bytes <= e;
  }
  Result Take(size_t i, uint64_t at, uint64_t spanStart, uint64_t bytes) {
    const Region g = regions_[i];
    const uint64_t spanEnd = Up(at + bytes, granularity_);
    std::vector<Region> parts;
    if (spanStart > g.start) parts.push_back({g.start, spanStart - g.start, false, ++order_});
    parts.push_back({spanStart, spanEnd - spanStart, true, 0});
    if (spanEnd < g.start + g.length) parts.push_back({spanEnd, g.start + g.length - spanEnd, false, ++order_});
    regions_.erase(regions_.begin() + static_cast<long>(i));
    regions_.insert(regions_.begin() + static_cast<long>(i), parts.begin(), parts.end());
    return {true, at, spanStart, spanEnd - spanStart};
  }

  uint64_t size_, granularity_;
  uint64_t order_ = 0;
  std::vector<Region> regions_;
};

struct DifferentialCase {
  const char* name;
  uint32_t heapSize;
  uint32_t granularity;
  uint64_t maxBlock;
  unsigned seed;
};

const DifferentialCase kDifferentials[] = {
    {"local memory", 1u << 20, 32, 0x6000, 5},
    {"many small blocks", 1u << 20, 32, 0x400, 6},
    {"aperture granules", 32u << 20, 0x40000, 0x180000, 7},
};

TEST(RegionHeapPlacements, MatchTheRulesOverPlainLists) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  for (const DifferentialCase& c : kDifferentials) {
    SCOPED_TRACE(c.name);
    uint8_t ok = 0;
    MmRegionHeap heap(&ok, nullptr, kHeapDeviceAddress, 0, nullptr, c.heapSize, c.granularity);
    ASSERT_TRUE(ok);
    PlainHeap plain(c.heapSize, c.granularity);
    std::mt19937 random(c.seed);
    std::map<uint64_t, MmBlock*> live;  // by region start
    auto below = [&](uint64_t n) { return n == 0 ? 0 : random() % n; };
    for (int step = 0; step < 6000; ++step) {
      const uint32_t what = random() % 10;
      if (what < 4 && !live.empty()) {
        auto it = live.begin();
        std::advance(it, below(live.size()));
        heap.Free(it->second);
        plain.Free(it->first);
        live.erase(it);
      } else {
        MmHeapRequest r;
        r.size = 1 + below(random() % 4 == 0 ? c.maxBlock * 4 : c.maxBlock);
        r.alignment = 1u << below(14);
        if (what == 4) {
          r.flags = kRequestFixed;
          r.fixedOffset = static_cast<uint32_t>(below(c.heapSize));
        } else if (what < 7) {
          r.flags = kRequestWindow | (random() % 2 ? kRequestHigh : 0);
          r.windowStart = below(c.heapSize);
          r.windowEnd = r.windowStart + below(c.heapSize / 4);
          r.fallback = static_cast<uint8_t>(random() % 4);
        } else {
          const uint32_t flags[] = {0, kRequestHigh, kRequestLow, kRequestHigh | kRequestLow};
          r.flags = flags[random() % 4];
        }
        MmBlock* block = heap.AllocateRequest(r);
        const PlainHeap::Result expected = plain.Allocate(r);
        ASSERT_EQ(block != nullptr, expected.granted) << step;
        if (block != nullptr) {
          const auto* region = static_cast<MmRegion*>(block);
          ASSERT_EQ(block->offset, expected.offset) << step;
          ASSERT_EQ(region->regionStart, expected.start) << step;
          ASSERT_EQ(block->size, expected.length) << step;
          live[expected.start] = block;
        }
      }
      ASSERT_EQ(heap.GetFreeBytes(), plain.FreeBytes()) << step;
      ASSERT_EQ(heap.GetLargestFree(), plain.Largest()) << step;
      if (step % 500 == 0) {
        std::vector<PlainHeap::Region> regions;
        heap.ForEachRegion([&](const MmRegion& g) {
          regions.push_back({g.regionStart, g.regionLength, g.inUse != 0, 0});
        });
        ASSERT_EQ(regions.size(), plain.regions().size()) << step;
        for (size_t i = 0; i < regions.size(); ++i) {
          EXPECT_EQ(regions[i].start, plain.regions()[i].start) << step;
          EXPECT_EQ(regions[i].used, plain.regions()[i].used) << step;
        }
      }
    }
    for (auto& [start, block] : live) heap.Free(block);
    EXPECT_EQ(heap.GetFreeBytes(), c.heapSize);
    EXPECT_EQ(heap.RegionCount(), 1u);
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
