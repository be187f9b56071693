// The kernel's heaps of video and system memory. Region heaps keep the free
// and used regions of one address range (local memory, the host aperture)
// in a list by address, and the free ones also in two balanced trees, by
// address and by size, so that finding, splitting and merging regions
// costs O(log n) in the number of regions; the page heaps give out each
// block separately from the glue (AGP and PCI-locked buffers, locked
// pages, plain kernel memory).
// Every block knows its heap; MmBlock::Release gives it back there.
//
// Sizes are computed in 64 bits: a zero size, or one whose rounding or
// alignment wraps, fails.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/mm_block.h"

struct CommonData;

// Kind bits: blocks get a device address (device base + offset), a CPU
// address (CPU base + offset).
inline constexpr uint32_t kHeapDeviceAddress = 0x1;
inline constexpr uint32_t kHeapCpuAddress = 0x2;

class MmHeap : public OsHeapObject {
 public:
  MmHeap(uint32_t kind, uint32_t deviceBase, uint8_t* cpuBase, uint32_t size);
  virtual ~MmHeap() = default;
  MmHeap(const MmHeap&) = delete;
  MmHeap& operator=(const MmHeap&) = delete;

  // A block of at least size bytes at the alignment (a power of two), or null.
  virtual MmBlock* Allocate(uint64_t size, uint32_t alignment) = 0;
  // The same with placement flags, a fixed offset or a window: what heaps
  // without regions cannot honour they ignore.
  virtual MmBlock* AllocateRequest(const struct MmHeapRequest& request);
  virtual uint32_t GetFreeBytes() const = 0;
  virtual uint32_t GetLargestFree() const = 0;
  virtual void Hook() {}
  // Takes back a block this heap gave out.
  virtual void Free(MmBlock* block) = 0;

  uint32_t kind;
  uint32_t size;
  uint32_t deviceBase;
  uint8_t* cpuBase;
  uint8_t initialised = 0;
  uint32_t serial;

  static inline uint32_t s_nextSerial = 0;
};

// ---- Region heaps ---------------------------------------------------------------------

inline constexpr uint32_t kRequestFixed = 0x1;
inline constexpr uint32_t kRequestWindow = 0x2;
inline constexpr uint32_t kRequestHigh = 0x8;
inline constexpr uint32_t kRequestLow = 0x10;
// Fallbacks of a window request.
inline constexpr uint8_t kFallbackWindowToEnd = 0x1;    // [window start, heap end)
inline constexpr uint8_t kFallbackStartToWindow = 0x2;  // [0, window end)
inline constexpr uint32_t kNoRange = 0xFFFFFFFF;

struct MmHeapRequest {
  uint64_t size = 0;
  uint32_t alignment = 1;
  uint32_t flags = 0;
  uint32_t fixedOffset = 0;
  uint64_t windowStart = 0;
  uint64_t windowEnd = 0;
  uint8_t fallback = 0;
  uint32_t rangeIndex = kNoRange;  // the range the block counts in
};

inline constexpr uint32_t kMaxRanges = 16;
inline constexpr uint32_t kRangeRefused = 255;
inline constexpr uint32_t kRangeNoLink = 0xFFFFFFF;

class MmRegion;

// Where a free region sits in one of its heap's two trees.
struct MmRegionLinks {
  MmRegion* left = nullptr;
  MmRegion* right = nullptr;
  MmRegion* parent = nullptr;
};

// A region of a region heap: free or used (then it is the block given out).
class MmRegion : public MmBlock {
 public:
  uint64_t regionStart = 0;   // offset of the region in the heap
  uint64_t regionLength = 0;
  MmRegion* addressPrevious = nullptr;
  MmRegion* addressNext = nullptr;
  // Free regions only: their places by address and by size.
  MmRegionLinks byAddress;
  MmRegionLinks bySize;
  uint64_t longest = 0;       // the longest free region of its address subtree
  uint64_t sizeOrder = 0;     // among equal lengths the later-indexed goes first
  uint32_t priority = 0;      // of the balanced trees
  uint8_t indexed = 0;
  uint8_t sentinel = 0;
};

// The orders of the two trees: by address (each node knowing the longest
// region below it), and by size, largest first and, among equal lengths,
// the most recently indexed first.
struct MmAddressOrder {
  static MmRegionLinks& Links(MmRegion* region) { return region->byAddress; }
  static bool Before(const MmRegion* a, const MmRegion* b) { return a->regionStart < b->regionStart; }
  static void Update(MmRegion* region);
};
struct MmSizeOrder {
  static MmRegionLinks& Links(MmRegion* region) { return region->bySize; }
  static bool Before(const MmRegion* a, const MmRegion* b) {
    return a->regionLength != b->regionLength ? a->regionLength > b->regionLength : a->sizeOrder > b->sizeOrder;
  }
  static void Update(MmRegion*) {}
};

// A randomized balanced tree (a treap) of free regions, threaded through
// the regions themselves: indexing allocates nothing and cannot fail.
template <class Order>
class MmRegionTree {
 public:
  void Insert(MmRegion* region);
  void Remove(MmRegion* region);
  MmRegion* First() const;
  static MmRegion* Next(MmRegion* region);
  MmRegion* root = nullptr;

 private:
  void RotateUp(MmRegion* region);
};

class MmRegionHeap : public MmHeap {
 public:
  struct Range {
    uint32_t start;   // offset in the heap
    uint32_t end;
    uint32_t link;    // the range this one is linked to, or kRangeNoLink
    uint32_t blocks;  // used blocks counted in it
  };

  // owner: the board's common data (the merge of two regions asks it for the
  // newest tags), or null. *ok is 1 when the heap is usable.
  MmRegionHeap(uint8_t* ok, CommonData* owner, uint32_t kind, uint32_t deviceBase, uint8_t* cpuBase,
               uint32_t size, uint32_t granularity);
  ~MmRegionHeap() override;

  MmBlock* Allocate(uint64_t size, uint32_t alignment) override;
  MmBlock* AllocateRequest(const MmHeapRequest& request) override;
  void Free(MmBlock* block) override;
  uint32_t GetFreeBytes() const override { return freeBytes_; }
  uint32_t GetLargestFree() const override;

  // Once: the size must be a multiple of the granularity, a power of two.
  bool Initialise();
  // kRangeRefused when 16 are in use.
  uint32_t AddRange(uint32_t start, uint32_t length, uint32_t link);
  uint32_t RangeCount() const { return rangeCount_; }
  const Range& RangeAt(uint32_t index) const { return ranges_[index]; }
  uint32_t CountFreeInRange(uint32_t index) const;
  // The first free region in size order holding an aligned span of size
  // bytes in [start, end): its offset and the length available up to end.
  bool FindFreeSpan(uint64_t start, uint64_t end, uint64_t size, uint32_t alignment,
                    uint64_t* offset, uint64_t* length) const;
  // Ranges with used blocks, one bit each.
  uint32_t SummaryMask() const { return summary_; }
  // Regions in address order (sentinel excluded), for tests.
  size_t RegionCount() const;
  template <class Visit>
  void ForEachRegion(Visit visit) const {
    for (const MmRegion* r = First(); r != &addressHead_; r = r->addressNext) visit(*r);
  }
  uint32_t granularity() const { return granularity_; }

 private:
  MmRegion* First() const { return addressHead_.addressNext; }
  bool Place(MmRegion* region, uint64_t lo, uint64_t hi, uint64_t size, uint32_t alignment,
             bool high, uint64_t* at) const;
  static bool Fits(const MmRegion* region, uint64_t bytes, uint32_t alignment);
  uint64_t SpanStart(const MmRegion* region, uint64_t lo, uint64_t at, bool high) const;
  MmBlock* Take(MmRegion* region, uint64_t at, uint64_t spanStart, const MmHeapRequest& request);
  MmBlock* AllocateInWindow(const MmHeapRequest& request);
  MmRegion* NewRegion(uint64_t start, uint64_t length);
  void Index(MmRegion* region);
  void Unindex(MmRegion* region);
  void UnlinkAddress(MmRegion* region);
  void CountRange(MmRegion* region, int delta);
  // Free regions by address: the last starting at or below offset; the
  // first, last, next and previous of at least `need` bytes.
  MmRegion* FreeAtOrBelow(uint64_t offset) const;
  MmRegion* FirstLong(uint64_t need) const;
  MmRegion* LastLong(uint64_t need) const;
  static MmRegion* NextLong(MmRegion* region, uint64_t need);
  static MmRegion* PreviousLong(MmRegion* region, uint64_t need);

  CommonData* owner_;
  uint32_t granularity_;
  MmRegion addressHead_;  // sentinel of the address list
  MmRegionTree<MmAddressOrder> byAddress_;
  MmRegionTree<MmSizeOrder> bySize_;
  uint64_t indexCount_ = 0;
  uint32_t seed_ = 0x9E3779B9;
  uint32_t freeBytes_ = 0;
  Range ranges_[kMaxRanges] = {};
  uint32_t rangeCount_ = 0;
  uint32_t summary_ = 0;
};

// ---- Page heaps -------------------------------------------------------------------------

enum : uint32_t { kSystemAgp = 0, kSystemPciLocked = 1, kSystemPlain = 2 };

// Blocks of a page heap: the raw buffer besides the aligned addresses.
class MmPageBlock : public MmBlock {
 public:
  void* buffer = nullptr;      // as allocated
  uint32_t pages = 0;
  MmPageBlock* nextOut = nullptr;  // the heap's blocks given out
  MmPageBlock* previousOut = nullptr;
};

class MmPageHeapBase : public MmHeap {
 public:
  MmPageHeapBase(uint32_t kind, CommonData* common, uint32_t unit)
      : MmHeap(kind, 0, nullptr, 0), common(common), unit(unit) {}
  // Gives back what is still out (each kind's own free, without waiting).
  void FreeAll();
  MmBlock* Allocate(uint64_t size, uint32_t alignment) override;
  // Waits (bounded) until the engine has passed the block's stamps, then
  // gives the memory back and destroys the block. A block the engine has
  // not passed in time is set aside (kept out of use until FreeAll).
  void Free(MmBlock* block) override;
  uint32_t GetFreeBytes() const override { return 0; }
  uint32_t GetLargestFree() const override { return 0; }

  CommonData* common;
  uint32_t unit;
  uint64_t bytesOut = 0;
  MmPageBlock* out = nullptr;

 protected:
  // The buffer of pages, or false.
  virtual bool Get(uint32_t pages, uint64_t bytes, void** cpu, uint64_t* bus) = 0;
  virtual void Put(MmPageBlock* block) = 0;
};

class MmSystemHeap : public MmPageHeapBase {
 public:
  MmSystemHeap(uint32_t allocationKind, CommonData* common, uint32_t unit)
      : MmPageHeapBase(0, common, unit), allocationKind(allocationKind) {}
  ~MmSystemHeap() override { FreeAll(); }
  uint32_t allocationKind;

 protected:
  bool Get(uint32_t pages, uint64_t bytes, void** cpu, uint64_t* bus) override;
  void Put(MmPageBlock* block) override;
};

class MmPciPageHeap : public MmPageHeapBase {
 public:
  MmPciPageHeap(CommonData* common, uint32_t unit) : MmPageHeapBase(3, common, unit) {}
  ~MmPciPageHeap() override { FreeAll(); }

 protected:
  bool Get(uint32_t pages, uint64_t bytes, void** cpu, uint64_t* bus) override;
  void Put(MmPageBlock* block) override;
};

class MmLockedPageHeap : public MmPageHeapBase {
 public:
  MmLockedPageHeap(CommonData* common, uint32_t unit) : MmPageHeapBase(2, common, unit) {}
  ~MmLockedPageHeap() override { FreeAll(); }

 protected:
  bool Get(uint32_t pages, uint64_t bytes, void** cpu, uint64_t* bus) override;
  void Put(MmPageBlock* block) override;
};

// Whether a is the later of two stamps, judged circularly against newest.
inline bool IssuedLater(uint32_t a, uint32_t b, uint32_t newest) { return newest - a < newest - b; }
