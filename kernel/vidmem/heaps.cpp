#include "kernel/vidmem/heaps.h"

#include <new>

#include "core/bm_packets.h"
#include "core/common_data.h"
#include "core/regs/dma.h"
#include "core/shared_word.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"
#include "kernel/register_guard.h"

namespace {

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }
uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }
uint64_t AlignDown(uint64_t value, uint64_t alignment) { return value & ~(alignment - 1); }

}  // namespace

void MmBlock::Release() {
  if (heap != nullptr) {
    heap->Free(this);
  } else {
    delete this;
  }
}

MmHeap::MmHeap(uint32_t k, uint32_t device, uint8_t* cpu, uint32_t bytes)
    : kind(k), size(bytes), deviceBase(device), cpuBase(cpu), serial(s_nextSerial++) {}

MmBlock* MmHeap::AllocateRequest(const MmHeapRequest& request) {
  return Allocate(request.size, request.alignment);
}

// ---- The trees of free regions ------------------------------------------------------------

void MmAddressOrder::Update(MmRegion* region) {
  uint64_t longest = region->regionLength;
  if (MmRegion* l = region->byAddress.left; l != nullptr && l->longest > longest) longest = l->longest;
  if (MmRegion* r = region->byAddress.right; r != nullptr && r->longest > longest) longest = r->longest;
  region->longest = longest;
}

// Lifts a region above its parent, keeping the order.
template <class Order>
void MmRegionTree<Order>::RotateUp(MmRegion* x) {
  MmRegionLinks& lx = Order::Links(x);
  MmRegion* p = lx.parent;
  MmRegionLinks& lp = Order::Links(p);
  MmRegion* g = lp.parent;
  if (lp.left == x) {
    lp.left = lx.right;
    if (lx.right != nullptr) Order::Links(lx.right).parent = p;
    lx.right = p;
  } else {
    lp.right = lx.left;
    if (lx.left != nullptr) Order::Links(lx.left).parent = p;
    lx.left = p;
  }
  lp.parent = x;
  lx.parent = g;
  if (g == nullptr) {
    root = x;
  } else if (Order::Links(g).left == p) {
    Order::Links(g).left = x;
  } else {
    Order::Links(g).right = x;
  }
  Order::Update(p);
  Order::Update(x);
}

template <class Order>
void MmRegionTree<Order>::Insert(MmRegion* region) {
  MmRegionLinks& links = Order::Links(region);
  links = MmRegionLinks();
  Order::Update(region);
  MmRegion* parent = nullptr;
  MmRegion** slot = &root;
  while (*slot != nullptr) {
    parent = *slot;
    slot = Order::Before(region, parent) ? &Order::Links(parent).left : &Order::Links(parent).right;
  }
  *slot = region;
  links.parent = parent;
  for (MmRegion* p = parent; p != nullptr; p = Order::Links(p).parent) Order::Update(p);
  while (links.parent != nullptr && links.parent->priority < region->priority) RotateUp(region);
}

template <class Order>
void MmRegionTree<Order>::Remove(MmRegion* region) {
  MmRegionLinks& links = Order::Links(region);
  // Down to at most one child, by lifting the child of higher priority.
  while (links.left != nullptr && links.right != nullptr)
    RotateUp(links.left->priority > links.right->priority ? links.left : links.right);
  MmRegion* child = links.left != nullptr ? links.left : links.right;
  MmRegion* parent = links.parent;
  if (child != nullptr) Order::Links(child).parent = parent;
  if (parent == nullptr) {
    root = child;
  } else if (Order::Links(parent).left == region) {
    Order::Links(parent).left = child;
  } else {
    Order::Links(parent).right = child;
  }
  for (MmRegion* p = parent; p != nullptr; p = Order::Links(p).parent) Order::Update(p);
  links = MmRegionLinks();
}

template <class Order>
MmRegion* MmRegionTree<Order>::First() const {
  MmRegion* x = root;
  while (x != nullptr && Order::Links(x).left != nullptr) x = Order::Links(x).left;
  return x;
}

template <class Order>
MmRegion* MmRegionTree<Order>::Next(MmRegion* x) {
  if (Order::Links(x).right != nullptr) {
    x = Order::Links(x).right;
    while (Order::Links(x).left != nullptr) x = Order::Links(x).left;
    return x;
  }
  for (MmRegion* p = Order::Links(x).parent; p != nullptr; x = p, p = Order::Links(p).parent)
    if (Order::Links(p).left == x) return p;
  return nullptr;
}

template class MmRegionTree<MmAddressOrder>;
template class MmRegionTree<MmSizeOrder>;

namespace {

// The first (or, mirrored, last) region of at least `need` bytes in the
// address subtree of x, whose longest region has that many.
MmRegion* DescendLong(MmRegion* x, uint64_t need, bool last) {
  while (x != nullptr) {
    MmRegion* nearSide = last ? x->byAddress.right : x->byAddress.left;
    if (nearSide != nullptr && nearSide->longest >= need) {
      x = nearSide;
    } else if (x->regionLength >= need) {
      return x;
    } else {
      x = last ? x->byAddress.left : x->byAddress.right;
      if (x != nullptr && x->longest < need) return nullptr;
    }
  }
  return nullptr;
}

// The next (or previous) region of at least `need` bytes after x.
MmRegion* StepLong(MmRegion* x, uint64_t need, bool back) {
  MmRegion* farSide = back ? x->byAddress.left : x->byAddress.right;
  if (farSide != nullptr && farSide->longest >= need) return DescendLong(farSide, need, back);
  for (MmRegion* p = x->byAddress.parent; p != nullptr; x = p, p = p->byAddress.parent) {
    const bool fromNearSide = back ? p->byAddress.right == x : p->byAddress.left == x;
    if (!fromNearSide) continue;
    if (p->regionLength >= need) return p;
    MmRegion* other = back ? p->byAddress.left : p->byAddress.right;
    if (other != nullptr && other->longest >= need) return DescendLong(other, need, back);
  }
  return nullptr;
}

}  // namespace

MmRegion* MmRegionHeap::FreeAtOrBelow(uint64_t offset) const {
  MmRegion* best = nullptr;
  for (MmRegion* x = byAddress_.root; x != nullptr;) {
    if (x->regionStart <= offset) {
      best = x;
      x = x->byAddress.right;
    } else {
      x = x->byAddress.left;
    }
  }
  return best;
}

MmRegion* MmRegionHeap::FirstLong(uint64_t need) const {
  MmRegion* root = byAddress_.root;
  return root != nullptr && root->longest >= need ? DescendLong(root, need, false) : nullptr;
}

MmRegion* MmRegionHeap::LastLong(uint64_t need) const {
  MmRegion* root = byAddress_.root;
  return root != nullptr && root->longest >= need ? DescendLong(root, need, true) : nullptr;
}

MmRegion* MmRegionHeap::NextLong(MmRegion* region, uint64_t need) { return StepLong(region, need, false); }
MmRegion* MmRegionHeap::PreviousLong(MmRegion* region, uint64_t need) { return StepLong(region, need, true); }

// ---- MmRegionHeap ---------------------------------------------------------------------------

MmRegionHeap::MmRegionHeap(uint8_t* ok, CommonData* owner, uint32_t k, uint32_t device, uint8_t* cpu,
                           uint32_t bytes, uint32_t granularity)
    : MmHeap(k, device, cpu, bytes), owner_(owner), granularity_(granularity) {
  addressHead_.sentinel = 1;
  addressHead_.addressNext = addressHead_.addressPrevious = &addressHead_;
  *ok = Initialise() ? 1 : 0;
}

MmRegionHeap::~MmRegionHeap() {
  // Blocks still given out go with the heap.
  while (First() != &addressHead_) {
    MmRegion* region = First();
    UnlinkAddress(region);
    delete region;
  }
}

bool MmRegionHeap::Initialise() {
  if (initialised) return false;
  if (!IsPowerOfTwo(granularity_) || size % granularity_ != 0) return false;
  if (size != 0) {
    MmRegion* region = NewRegion(0, size);
    if (region == nullptr) return false;
    region->addressNext = region->addressPrevious = &addressHead_;
    addressHead_.addressNext = addressHead_.addressPrevious = region;
    Index(region);
    freeBytes_ = size;
  }
  initialised = 1;
  return true;
}

MmRegion* MmRegionHeap::NewRegion(uint64_t start, uint64_t length) {
  MmRegion* region = new MmRegion();
  if (region == nullptr) return nullptr;
  region->heap = this;
  region->regionStart = region->offset = start;
  region->regionLength = region->size = length;
  // xorshift: the trees' balance needs priorities unrelated to the keys.
  seed_ ^= seed_ << 13;
  seed_ ^= seed_ >> 17;
  seed_ ^= seed_ << 5;
  region->priority = seed_;
  return region;
}

// A free region joins both trees; in the size order it goes before every
// region of its length already there.
void MmRegionHeap::Index(MmRegion* region) {
  region->sizeOrder = ++indexCount_;
  byAddress_.Insert(region);
  bySize_.Insert(region);
  region->indexed = 1;
}

void MmRegionHeap::Unindex(MmRegion* region) {
  if (!region->indexed) return;
  byAddress_.Remove(region);
  bySize_.Remove(region);
  region->indexed = 0;
}

void MmRegionHeap::UnlinkAddress(MmRegion* region) {
  region->addressPrevious->addressNext = region->addressNext;
  region->addressNext->addressPrevious = region->addressPrevious;
  region->addressNext = region->addressPrevious = nullptr;
}

uint32_t MmRegionHeap::GetLargestFree() const {
  const MmRegion* largest = bySize_.First();
  return largest == nullptr ? 0 : static_cast<uint32_t>(largest->regionLength);
}

size_t MmRegionHeap::RegionCount() const {
  size_t n = 0;
  for (MmRegion* r = First(); r != &addressHead_; r = r->addressNext) ++n;
  return n;
}

// Where an aligned block of size bytes goes in the part of the region inside
// [lo, hi): at its lowest, or its highest, aligned place.
bool MmRegionHeap::Place(MmRegion* region, uint64_t lo, uint64_t hi, uint64_t bytes,
                         uint32_t alignment, bool high, uint64_t* at) const {
  const uint64_t start = region->regionStart > lo ? region->regionStart : lo;
  const uint64_t end = region->regionStart + region->regionLength < hi
                           ? region->regionStart + region->regionLength
                           : hi;
  if (end <= start || end - start < bytes) return false;
  if (high) {
    const uint64_t p = AlignDown(end - bytes, alignment);
    if (p < start) return false;
    *at = p;
    return true;
  }
  const uint64_t p = AlignUp(start, alignment);
  if (p < start || p > end || end - p < bytes) return false;
  *at = p;
  return true;
}

bool MmRegionHeap::Fits(const MmRegion* region, uint64_t bytes, uint32_t alignment) {
  return bytes + (AlignUp(region->regionStart, alignment) - region->regionStart) <= region->regionLength;
}

// Where the length taken for a block at `at` starts: a block at the top of
// its place starts its own granule; one placed low takes the alignment gap
// from the start of the place (the region's start, or the window's when
// the region begins below it).
uint64_t MmRegionHeap::SpanStart(const MmRegion* region, uint64_t lo, uint64_t at, bool high) const {
  if (high) return AlignDown(at, granularity_);
  const uint64_t start = region->regionStart > lo ? region->regionStart : lo;
  return AlignDown(start, granularity_);
}

MmBlock* MmRegionHeap::Take(MmRegion* region, uint64_t at, uint64_t spanStart, const MmHeapRequest& request) {
  const uint64_t regionEnd = region->regionStart + region->regionLength;
  uint64_t spanEnd = AlignUp(at + request.size, granularity_);
  if (spanEnd > regionEnd) spanEnd = regionEnd;
  if (spanStart < region->regionStart) spanStart = region->regionStart;
  // The parts before and after become free regions of their own; when one
  // cannot be made nothing is split and the block takes the whole region.
  MmRegion* before = spanStart > region->regionStart ? NewRegion(region->regionStart, spanStart - region->regionStart) : nullptr;
  MmRegion* after = spanEnd < regionEnd ? NewRegion(spanEnd, regionEnd - spanEnd) : nullptr;
  const bool split = (spanStart == region->regionStart || before != nullptr) &&
                     (spanEnd == regionEnd || after != nullptr);
  Unindex(region);
  if (split) {
    if (before != nullptr) {
      before->addressNext = region;
      before->addressPrevious = region->addressPrevious;
      region->addressPrevious->addressNext = before;
      region->addressPrevious = before;
      Index(before);
    }
    if (after != nullptr) {
      after->addressPrevious = region;
      after->addressNext = region->addressNext;
      region->addressNext->addressPrevious = after;
      region->addressNext = after;
      Index(after);
    }
    region->regionStart = spanStart;
    region->regionLength = spanEnd - spanStart;
  } else {
    delete before;
    delete after;
  }
  region->inUse = 1;
  region->size = region->regionLength;
  region->offset = at;
  region->requestedSize = request.size;
  region->cpuAddress = (kind & kHeapCpuAddress) ? cpuBase + at : nullptr;
  region->busAddress = (kind & kHeapDeviceAddress) ? uint64_t{deviceBase} + at : 0;
  region->rangeMask = request.rangeIndex < kMaxRanges ? 1u << request.rangeIndex : 0;
  freeBytes_ -= static_cast<uint32_t>(region->regionLength);
  CountRange(region, +1);
  return region;
}

void MmRegionHeap::CountRange(MmRegion* region, int delta) {
  for (uint32_t n = 0; n < kMaxRanges; ++n) {
    if ((region->rangeMask & (1u << n)) == 0) continue;
    ranges_[n].blocks += delta;
    if (ranges_[n].blocks != 0) {
      summary_ |= 1u << n;
    } else {
      summary_ &= ~(1u << n);
    }
  }
}

MmBlock* MmRegionHeap::Allocate(uint64_t bytes, uint32_t alignment) {
  MmHeapRequest request;
  request.size = bytes;
  request.alignment = alignment;
  return AllocateRequest(request);
}

MmBlock* MmRegionHeap::AllocateRequest(const MmHeapRequest& request) {
  if (!initialised || request.size == 0 || request.size > size || !IsPowerOfTwo(request.alignment))
    return nullptr;
  const uint64_t bytes = request.size;
  const uint32_t alignment = request.alignment;
  const bool high = (request.flags & kRequestHigh) != 0;

  if (request.flags & kRequestFixed) {
    const uint64_t fixed = request.fixedOffset;
    if (fixed + bytes > size) return nullptr;
    MmRegion* r = FreeAtOrBelow(fixed);
    if (r == nullptr || fixed + bytes > r->regionStart + r->regionLength) return nullptr;
    return Take(r, fixed, AlignDown(fixed, granularity_), request);
  }

  if (request.flags & kRequestWindow) return AllocateInWindow(request);

  // General placement: the largest free region must hold the block. Flag 8
  // takes the highest region that does and puts the block at its top; flag
  // 16 takes the lowest and, like no flag, puts the block at its start. (A
  // low block at the top of the lowest region would take the aperture's top
  // granule at start-up, where the mapped local heap's window must go.)
  MmRegion* chosen = bySize_.First();
  if (chosen == nullptr || !Fits(chosen, bytes, alignment)) return nullptr;
  if (high) {
    MmRegion* r = LastLong(bytes);
    while (r != nullptr && !Fits(r, bytes, alignment)) r = PreviousLong(r, bytes);
    if (r != nullptr) chosen = r;
  } else if (request.flags & kRequestLow) {
    MmRegion* r = FirstLong(bytes);
    while (r != nullptr && !Fits(r, bytes, alignment)) r = NextLong(r, bytes);
    if (r != nullptr) chosen = r;
  }
  uint64_t at = 0;
  Place(chosen, 0, size, bytes, alignment, high, &at);
  return Take(chosen, at, SpanStart(chosen, 0, at, high), request);
}

// Only regions that start below the window end count, for the fallbacks
// too. Inside the window the lowest fitting region wins, the highest with
// flag 8; else the highest that fits in [0, window end) with fallback bit 1,
// else the highest that fits in [window start, heap end) with bit 0.
MmBlock* MmRegionHeap::AllocateInWindow(const MmHeapRequest& request) {
  const uint64_t bytes = request.size;
  const uint32_t alignment = request.alignment;
  const bool high = (request.flags & kRequestHigh) != 0;
  const uint64_t lo = request.windowStart;
  const uint64_t hi = request.windowEnd < size ? request.windowEnd : size;
  if (hi == 0) return nullptr;
  uint64_t at = 0;
  // A region that fits in a part of the heap holds at least `bytes`: the
  // walks pass over shorter ones. The last region starting below the end:
  MmRegion* below = FreeAtOrBelow(hi - 1);
  if (!high) {
    MmRegion* r = FreeAtOrBelow(lo);
    if (r == nullptr) r = FirstLong(bytes);
    for (; r != nullptr && r->regionStart < hi; r = NextLong(r, bytes))
      if (Place(r, lo, hi, bytes, alignment, false, &at)) return Take(r, at, SpanStart(r, lo, at, false), request);
  } else {
    for (MmRegion* r = below; r != nullptr && r->regionStart + r->regionLength > lo; r = PreviousLong(r, bytes))
      if (Place(r, lo, hi, bytes, alignment, true, &at)) return Take(r, at, SpanStart(r, lo, at, true), request);
  }
  if (request.fallback & kFallbackStartToWindow) {
    for (MmRegion* r = below; r != nullptr; r = PreviousLong(r, bytes))
      if (Place(r, 0, hi, bytes, alignment, high, &at)) return Take(r, at, SpanStart(r, 0, at, high), request);
  }
  if (request.fallback & kFallbackWindowToEnd) {
    for (MmRegion* r = below; r != nullptr && r->regionStart + r->regionLength > lo; r = PreviousLong(r, bytes))
      if (Place(r, lo, size, bytes, alignment, high, &at)) return Take(r, at, SpanStart(r, lo, at, high), request);
  }
  return nullptr;
}

void MmRegionHeap::Free(MmBlock* block) {
  auto* region = static_cast<MmRegion*>(block);
  if (region == nullptr || !region->inUse || region->heap != this) return;
  CountRange(region, -1);
  region->rangeMask = 0;
  region->inUse = 0;
  freeBytes_ += static_cast<uint32_t>(region->regionLength);
  const SharedLockedData_t* shared = owner_ != nullptr ? owner_->sharedLocked : nullptr;
  auto absorb = [&](MmRegion* keep, MmRegion* gone) {
    // The merged region keeps the later of each pair of stamps.
    if (shared != nullptr) {
      const uint32_t tags = ReadShared(&shared->syncTagCounter);
      const uint32_t counters = ReadShared(&shared->bufferCounter);
      if (IssuedLater(static_cast<uint32_t>(gone->drawSyncTag), static_cast<uint32_t>(keep->drawSyncTag), tags))
        keep->drawSyncTag = gone->drawSyncTag;
      if (IssuedLater(gone->dmaStamp, keep->dmaStamp, counters)) keep->dmaStamp = gone->dmaStamp;
    }
    if (gone->regionStart < keep->regionStart) keep->regionStart = gone->regionStart;
    keep->regionLength += gone->regionLength;
    Unindex(gone);
    UnlinkAddress(gone);
    delete gone;
  };
  MmRegion* previous = region->addressPrevious;
  if (!previous->sentinel && !previous->inUse) absorb(region, previous);
  MmRegion* next = region->addressNext;
  if (!next->sentinel && !next->inUse) absorb(region, next);
  region->offset = region->regionStart;
  region->size = region->regionLength;
  region->requestedSize = 0;
  region->cpuAddress = nullptr;
  region->busAddress = 0;
  Index(region);
}

uint32_t MmRegionHeap::AddRange(uint32_t start, uint32_t length, uint32_t link) {
  if (rangeCount_ >= kMaxRanges) return kRangeRefused;
  const uint64_t end = uint64_t{start} + length;
  if (length == 0 || end > size) return kRangeRefused;
  Range& range = ranges_[rangeCount_];
  range.start = start;
  range.end = static_cast<uint32_t>(end);
  range.link = link < rangeCount_ ? link : kRangeNoLink;
  range.blocks = 0;
  return rangeCount_++;
}

uint32_t MmRegionHeap::CountFreeInRange(uint32_t index) const {
  if (index >= rangeCount_) return 0;
  const Range& range = ranges_[index];
  uint64_t bytes = 0;
  MmRegion* r = FreeAtOrBelow(range.start);
  if (r == nullptr) r = byAddress_.First();
  for (; r != nullptr && r->regionStart < range.end; r = MmRegionTree<MmAddressOrder>::Next(r)) {
    const uint64_t start = r->regionStart > range.start ? r->regionStart : range.start;
    const uint64_t regionEnd = r->regionStart + r->regionLength;
    const uint64_t end = regionEnd < range.end ? regionEnd : range.end;
    if (end > start) bytes += end - start;
  }
  return static_cast<uint32_t>(bytes);
}

bool MmRegionHeap::FindFreeSpan(uint64_t start, uint64_t end, uint64_t bytes, uint32_t alignment,
                                uint64_t* offset, uint64_t* length) const {
  if (!IsPowerOfTwo(alignment) || bytes == 0) return false;
  for (MmRegion* r = bySize_.First(); r != nullptr && r->regionLength >= bytes;
       r = MmRegionTree<MmSizeOrder>::Next(r)) {
    uint64_t at = 0;
    if (!Place(r, start, end, bytes, alignment, false, &at)) continue;
    const uint64_t regionEnd = r->regionStart + r->regionLength;
    *offset = at;
    *length = (regionEnd < end ? regionEnd : end) - at;
    return true;
  }
  return false;
}

// ---- Page heaps -------------------------------------------------------------------------------

MmBlock* MmPageHeapBase::Allocate(uint64_t bytes, uint32_t alignment) {
  if (!IsPowerOfTwo(alignment) || bytes == 0) return nullptr;
  const uint64_t page = OsGetPageSize();
  const uint64_t total = bytes + alignment - 1;
  if (total < bytes) return nullptr;
  const uint64_t pages = (total + page - 1) / page;
  if (pages == 0 || pages > 0xFFFFFFFFull / page) return nullptr;
  MmPageBlock* block = new MmPageBlock();
  if (block == nullptr) return nullptr;
  void* cpu = nullptr;
  uint64_t bus = 0;
  if (!Get(static_cast<uint32_t>(pages), total, &cpu, &bus)) {
    delete block;
    return nullptr;
  }
  block->heap = this;
  block->kind = kind;
  block->inUse = 1;
  block->buffer = cpu;
  block->pages = static_cast<uint32_t>(pages);
  block->size = pages * page;
  block->requestedSize = bytes;
  block->cpuAddress2 = static_cast<uint8_t*>(cpu);
  block->cpuAddress = reinterpret_cast<uint8_t*>(AlignUp(reinterpret_cast<uintptr_t>(cpu), alignment));
  block->busAddress = bus != 0 ? AlignUp(bus, alignment) : 0;
  block->offset = 0;
  bytesOut += block->size;
  block->nextOut = out;
  if (out != nullptr) out->previousOut = block;
  out = block;
  return block;
}

void MmPageHeapBase::FreeAll() {
  while (MmPageBlock* block = out) {
    out = block->nextOut;
    Put(block);
    delete block;
  }
  bytesOut = 0;
}

void MmPageHeapBase::Free(MmBlock* block) {
  auto* pages = static_cast<MmPageBlock*>(block);
  if (pages == nullptr || pages->heap != this || !pages->inUse) return;
  // The engine may still read the memory: wait until it has passed the
  // block's stamps. When it does not in time, the block is set aside: it
  // stays on the heap's list, out of use, and its pages go with the heap
  // (FreeAll when the device goes).
  if (common != nullptr && common->sharedLocked != nullptr) {
    const SharedLockedData_t* shared = common->sharedLocked;
    auto reached = [&] {
      const uint32_t value = ReadShared(&shared->dmaMode) != kDmaModePost
                                 ? KernelReadRegister(common, kRegSyncTagReached)
                                 : ReadShared(&shared->completedTag);
      return value & ~kSyncTagIgnoredBits;
    };
    const uint32_t stamp = pages->dmaStamp;
    const uint32_t tag = static_cast<uint32_t>(pages->drawSyncTag);
    if (!KernelWait("system memory free", [&] {
          const uint32_t newest = ReadShared(&shared->syncTagCounter);
          const uint32_t engine = reached();
          return !BmSyncTagPending(stamp, newest, engine) && !BmSyncTagPending(tag, newest, engine);
        })) {
      pages->inUse = 0;
      return;
    }
  }
  bytesOut -= pages->size;
  if (pages->previousOut != nullptr) {
    pages->previousOut->nextOut = pages->nextOut;
  } else {
    out = pages->nextOut;
  }
  if (pages->nextOut != nullptr) pages->nextOut->previousOut = pages->previousOut;
  Put(pages);
  delete pages;
}

bool MmSystemHeap::Get(uint32_t pages, uint64_t bytes, void** cpu, uint64_t* bus) {
  switch (allocationKind) {
    case kSystemAgp:
      return MmAllocateAGPBuffer(common, unit, pages, cpu, bus);
    case kSystemPciLocked:
      return MmAllocatePciLockedBuffer(common, unit, pages, cpu, bus);
    default:
      *cpu = memAlloc(bytes);
      *bus = 0;
      return *cpu != nullptr;
  }
}

void MmSystemHeap::Put(MmPageBlock* block) {
  switch (allocationKind) {
    case kSystemAgp:
      MmFreeAGPBuffer(common, unit, block->buffer);
      break;
    case kSystemPciLocked:
      MmFreePciLockedBuffer(common, unit, block->buffer);
      break;
    default:
      memFree(block->buffer);
      break;
  }
}

bool MmPciPageHeap::Get(uint32_t pages, uint64_t, void** cpu, uint64_t* bus) {
  return MmAllocatePciLockedBuffer(common, unit, pages, cpu, bus);
}

void MmPciPageHeap::Put(MmPageBlock* block) { MmFreePciLockedBuffer(common, unit, block->buffer); }

bool MmLockedPageHeap::Get(uint32_t pages, uint64_t, void** cpu, uint64_t* bus) {
  return MmAllocateLockedPages(common, unit, pages, cpu, bus);
}

void MmLockedPageHeap::Put(MmPageBlock* block) { MmFreeLockedPages(common, unit, block->buffer); }
