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

// ---- MmRegionHeap ---------------------------------------------------------------------------

MmRegionHeap::MmRegionHeap(uint8_t* ok, CommonData* owner, uint32_t k, uint32_t device, uint8_t* cpu,
                           uint32_t bytes, uint32_t granularity)
    : MmHeap(k, device, cpu, bytes), owner_(owner), granularity_(granularity) {
  addressHead_.sentinel = sizeHead_.sentinel = 1;
  addressHead_.addressNext = addressHead_.addressPrevious = &addressHead_;
  sizeHead_.sizeNext = sizeHead_.sizePrevious = &sizeHead_;
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
    InsertBySize(region);
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
  return region;
}

void MmRegionHeap::InsertBySize(MmRegion* region) {
  MmRegion* at = sizeHead_.sizeNext;
  while (at != &sizeHead_ && at->regionLength > region->regionLength) at = at->sizeNext;
  region->sizeNext = at;
  region->sizePrevious = at->sizePrevious;
  at->sizePrevious->sizeNext = region;
  at->sizePrevious = region;
}

void MmRegionHeap::RemoveBySize(MmRegion* region) {
  if (region->sizeNext == nullptr) return;
  region->sizePrevious->sizeNext = region->sizeNext;
  region->sizeNext->sizePrevious = region->sizePrevious;
  region->sizeNext = region->sizePrevious = nullptr;
}

void MmRegionHeap::UnlinkAddress(MmRegion* region) {
  region->addressPrevious->addressNext = region->addressNext;
  region->addressNext->addressPrevious = region->addressPrevious;
  region->addressNext = region->addressPrevious = nullptr;
}

uint32_t MmRegionHeap::GetLargestFree() const {
  return sizeHead_.sizeNext == &sizeHead_ ? 0 : static_cast<uint32_t>(sizeHead_.sizeNext->regionLength);
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

MmBlock* MmRegionHeap::Take(MmRegion* region, uint64_t at, const MmHeapRequest& request) {
  const uint64_t spanStart = AlignDown(at, granularity_);
  const uint64_t spanEnd = AlignUp(at + request.size, granularity_);
  const uint64_t regionEnd = region->regionStart + region->regionLength;
  // The parts before and after become free regions of their own; when one
  // cannot be made nothing is split and the block takes the whole region.
  MmRegion* before = spanStart > region->regionStart ? NewRegion(region->regionStart, spanStart - region->regionStart) : nullptr;
  MmRegion* after = spanEnd < regionEnd ? NewRegion(spanEnd, regionEnd - spanEnd) : nullptr;
  const bool split = (spanStart == region->regionStart || before != nullptr) &&
                     (spanEnd == regionEnd || after != nullptr);
  RemoveBySize(region);
  if (split) {
    if (before != nullptr) {
      before->addressNext = region;
      before->addressPrevious = region->addressPrevious;
      region->addressPrevious->addressNext = before;
      region->addressPrevious = before;
      InsertBySize(before);
    }
    if (after != nullptr) {
      after->addressPrevious = region;
      after->addressNext = region->addressNext;
      region->addressNext->addressPrevious = after;
      region->addressNext = after;
      InsertBySize(after);
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
  uint64_t at = 0;

  if (request.flags & kRequestFixed) {
    const uint64_t fixed = request.fixedOffset;
    if (fixed + bytes > size) return nullptr;
    for (MmRegion* r = First(); r != &addressHead_; r = r->addressNext) {
      if (!r->inUse && r->regionStart <= fixed && fixed + bytes <= r->regionStart + r->regionLength)
        return Take(r, fixed, request);
    }
    return nullptr;
  }

  if (request.flags & kRequestWindow) {
    const uint64_t lo = request.windowStart;
    const uint64_t hi = request.windowEnd < size ? request.windowEnd : size;
    MmRegion* chosen = nullptr;
    uint64_t chosenAt = 0;
    MmRegion* toWindowEnd = nullptr;  // fits in [0, window end)
    uint64_t toWindowEndAt = 0;
    MmRegion* fromWindowStart = nullptr;  // fits in [window start, heap end)
    uint64_t fromWindowStartAt = 0;
    for (MmRegion* r = First(); r != &addressHead_ && r->regionStart < hi; r = r->addressNext) {
      if (r->inUse) continue;
      if (Place(r, lo, hi, bytes, alignment, high, &at)) {
        chosen = r;
        chosenAt = at;
        if (!high) break;  // the first wins; the last with flag 8
        continue;
      }
      if (Place(r, 0, hi, bytes, alignment, high, &at)) {
        toWindowEnd = r;
        toWindowEndAt = at;
      }
      if (Place(r, lo, size, bytes, alignment, high, &at)) {
        fromWindowStart = r;
        fromWindowStartAt = at;
      }
    }
    if (chosen == nullptr) {
      // Regions past the window end can only fit from the window start on.
      for (MmRegion* r = First(); r != &addressHead_; r = r->addressNext) {
        if (r->inUse || r->regionStart < hi) continue;
        if (Place(r, lo, size, bytes, alignment, high, &at)) {
          fromWindowStart = r;
          fromWindowStartAt = at;
        }
      }
    }
    if (chosen != nullptr) return Take(chosen, chosenAt, request);
    if ((request.fallback & kFallbackStartToWindow) && toWindowEnd != nullptr)
      return Take(toWindowEnd, toWindowEndAt, request);
    if ((request.fallback & kFallbackWindowToEnd) && fromWindowStart != nullptr)
      return Take(fromWindowStart, fromWindowStartAt, request);
    return nullptr;
  }

  // General placement.
  MmRegion* largest = sizeHead_.sizeNext;
  if (largest == &sizeHead_) return nullptr;
  // Flag 8 takes the highest fitting region and the top of it, flag 16 the
  // lowest and its start.
  if (!Place(largest, 0, size, bytes, alignment, high, &at)) return nullptr;
  MmRegion* chosen = largest;
  if (request.flags & (kRequestHigh | kRequestLow)) {
    for (MmRegion* r = sizeHead_.sizeNext; r != &sizeHead_; r = r->sizeNext) {
      uint64_t p = 0;
      if (!Place(r, 0, size, bytes, alignment, high, &p)) continue;
      const bool better = high ? r->regionStart > chosen->regionStart : r->regionStart < chosen->regionStart;
      if (better) chosen = r;
    }
    Place(chosen, 0, size, bytes, alignment, high, &at);
  }
  return Take(chosen, at, request);
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
    RemoveBySize(gone);
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
  InsertBySize(region);
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
  for (MmRegion* r = First(); r != &addressHead_; r = r->addressNext) {
    if (r->inUse) continue;
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
  for (MmRegion* r = sizeHead_.sizeNext; r != &sizeHead_; r = r->sizeNext) {
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
  if (pages == nullptr || pages->heap != this) return;
  // The engine may still read the memory: wait until it has passed the
  // block's stamps. The wait is bounded; after it the memory goes anyway.
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
    KernelWait("system memory free", [&] {
      const uint32_t newest = ReadShared(&shared->syncTagCounter);
      const uint32_t engine = reached();
      return !BmSyncTagPending(stamp, newest, engine) && !BmSyncTagPending(tag, newest, engine);
    });
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
