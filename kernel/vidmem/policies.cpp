#include "kernel/vidmem/policies.h"

#include <initializer_list>

#include "core/chip_ids.h"

namespace {

MmHeapRequest BaseRequest(const MmSurfAllocOpt& options) {
  MmHeapRequest request;
  request.size = RequestSize(options);
  request.alignment = RequestAlignment(options);
  if (options.word8 == kPlaceHighWord) request.flags |= kRequestHigh;
  return request;
}

// ---- Member 0: refuses everything ----------------------------------------------------------------

class RefusingPolicy : public MmPolicy {
 public:
  MmBlock* Allocate(const MmSurfAllocOpt&, MmHeapSet&, MmHeapOwner**) override { return nullptr; }
};

// ---- Lists -------------------------------------------------------------------------------------------

// Tries the owners of one list in order, making room while eviction allows.
MmBlock* AllocateFromList(const MmSurfAllocOpt& options, MmHeapSet& set, uint32_t list,
                          MmHeapOwner** owner) {
  const MmHeapRequest request = BaseRequest(options);
  if (request.size == 0) return nullptr;
  for (;;) {
    for (MmHeapOwner* o : set.lists[list]) {
      if (MmBlock* block = o->Allocate(request)) {
        *owner = o;
        return block;
      }
    }
    if (!MayEvict(options)) return nullptr;
    bool room = false;
    for (MmHeapOwner* o : set.lists[list]) {
      if (o->Evict(request.size)) {
        room = true;
        break;
      }
    }
    if (!room) return nullptr;
  }
}

class MmListPolicy : public MmPolicy {
 public:
  explicit MmListPolicy(uint32_t list) : list_(list) {}
  MmBlock* Allocate(const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) override {
    return AllocateFromList(options, set, list_, owner);
  }
  bool MakeRoom(const MmSurfAllocOpt& options, MmHeapSet& set) override {
    for (MmHeapOwner* o : set.lists[list_])
      if (o->Evict(RequestSize(options))) return true;
    return false;
  }
  uint64_t GetEvictableBytes(MmHeapSet& set) override {
    uint64_t bytes = 0;
    for (MmHeapOwner* o : set.lists[list_]) bytes += o->EvictableBytes();
    return bytes;
  }
  uint64_t GetFreeBytes(MmHeapSet& set) override {
    uint64_t bytes = 0;
    for (MmHeapOwner* o : set.lists[list_]) bytes += o->heap->GetFreeBytes();
    return bytes;
  }

 private:
  uint32_t list_;
};

// Two lists, the remembered one first; a fixed start is reloaded every call.
class MmAlternatePolicy : public MmPolicy {
 public:
  MmAlternatePolicy(uint32_t first, uint32_t second, int fixedStart)
      : lists_{first, second}, fixed_(fixedStart), start_(fixedStart < 0 ? 0 : fixedStart) {}
  MmBlock* Allocate(const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) override {
    if (fixed_ >= 0) start_ = static_cast<uint32_t>(fixed_);
    const uint32_t first = start_;
    start_ = 1 - first;
    if (MmBlock* block = AllocateFromList(options, set, lists_[first], owner)) return block;
    return AllocateFromList(options, set, lists_[1 - first], owner);
  }
  uint64_t GetEvictableBytes(MmHeapSet& set) override {
    return MmListPolicy(lists_[0]).GetEvictableBytes(set) + MmListPolicy(lists_[1]).GetEvictableBytes(set);
  }
  uint64_t GetFreeBytes(MmHeapSet& set) override {
    return MmListPolicy(lists_[0]).GetFreeBytes(set) + MmListPolicy(lists_[1]).GetFreeBytes(set);
  }
  uint32_t NextStart() const { return start_; }

 private:
  uint32_t lists_[2];
  int fixed_;
  uint32_t start_;
};

// The first owner of a surface type's list.
class MmTypeHeapPolicy : public MmPolicy {
 public:
  explicit MmTypeHeapPolicy(uint32_t list) : list_(list) {}
  MmBlock* Allocate(const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) override {
    MmHeapOwner* o = set.First(list_);
    const MmHeapRequest request = BaseRequest(options);
    if (o == nullptr || request.size == 0) return nullptr;
    MmBlock* block = o->Allocate(request);
    // Locked pages are asked once; the other heaps evict and retry.
    while (block == nullptr && list_ != kListLocked && MayEvict(options) && o->Evict(request.size))
      block = o->Allocate(request);
    if (block != nullptr) *owner = o;
    return block;
  }
  uint64_t GetFreeBytes(MmHeapSet& set) override { return MmListPolicy(list_).GetFreeBytes(set); }

 private:
  uint32_t list_;
};

// ---- Range policies ---------------------------------------------------------------------------------

enum : uint8_t { kEven = 0, kOdd = 1 };

struct RangeStep {
  uint8_t list;      // kListMain0 or kListMain1
  uint8_t bank;      // kEven or kOdd
  uint8_t high;      // a high window (flag 8) instead of a low one
  uint8_t fallback;  // kFallback* bits
};

// The family of range policies: blocks from the bank ranges of the main
// local heaps, each range a window of the heap request.
class MmRangePolicy : public MmPolicy {
 protected:
  // Asks the owner's heap; when it refuses and eviction is allowed, evicts
  // from the owner for the size and asks again while eviction succeeds.
  MmBlock* AllocateFromHeap(const MmSurfAllocOpt& options, MmHeapOwner* owner, const MmHeapRequest& request) {
    MmBlock* block = owner->Allocate(request);
    while (block == nullptr && MayEvict(options) && EvictFromOwner(owner, options))
      block = owner->Allocate(request);
    return block;
  }
  // Each range of the list in turn, the range being the request's window.
  MmBlock* AllocateFromRanges(const MmSurfAllocOpt& options, MmHeapOwner* owner, MmHeapRequest request,
                              const Otl::Vector<uint32_t>& ranges) {
    auto* heap = static_cast<MmRegionHeap*>(owner->heap);
    for (uint32_t index : ranges) {
      if (index >= heap->RangeCount()) continue;
      const MmRegionHeap::Range& range = heap->RangeAt(index);
      request.windowStart = range.start;
      request.windowEnd = range.end;
      request.rangeIndex = index;
      if (MmBlock* block = AllocateFromHeap(options, owner, request)) return block;
    }
    return nullptr;
  }
  bool EvictFromOwner(MmHeapOwner* owner, const MmSurfAllocOpt& options) {
    return owner->Evict(RequestSize(options));
  }
  // The free bytes in the owner's bank ranges, both lists.
  uint64_t GetOwnerFreeBytes(MmHeapOwner* owner) {
    auto* heap = static_cast<MmRegionHeap*>(owner->heap);
    uint64_t bytes = 0;
    for (const Otl::Vector<uint32_t>* list : {&owner->oddBanks, &owner->evenBanks})
      for (uint32_t index : *list) bytes += heap->CountFreeInRange(index);
    return bytes;
  }
  uint64_t GetOwnerEvictableBytes(MmHeapOwner* owner) { return owner->EvictableBytes(); }

  MmBlock* RunStep(const RangeStep& step, const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) {
    MmHeapOwner* o = set.First(step.list);
    MmHeapRequest request = BaseRequest(options);
    if (o == nullptr || request.size == 0) return nullptr;
    request.flags = kRequestWindow | (step.high ? kRequestHigh : 0);
    request.fallback = step.fallback;
    MmBlock* block = AllocateFromRanges(options, o, request, step.bank == kOdd ? o->oddBanks : o->evenBanks);
    if (block != nullptr) *owner = o;
    return block;
  }
};

// A fixed recipe of steps, the first block wins.
class RangePolicy : public MmRangePolicy {
 public:
  RangePolicy(std::initializer_list<RangeStep> steps) {
    for (const RangeStep& s : steps)
      if (count_ < kMaxSteps) steps_[count_++] = s;
  }
  MmBlock* Allocate(const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) override {
    for (uint32_t i = 0; i < count_; ++i)
      if (MmBlock* block = RunStep(steps_[i], options, set, owner)) return block;
    return nullptr;
  }
  // Over the owners the steps use, each counted once.
  uint64_t GetFreeBytes(MmHeapSet& set) override {
    uint64_t bytes = 0;
    for (MmHeapOwner* o : Owners(set)) bytes += o != nullptr ? GetOwnerFreeBytes(o) : 0;
    return bytes;
  }
  uint64_t GetEvictableBytes(MmHeapSet& set) override {
    uint64_t bytes = 0;
    for (MmHeapOwner* o : Owners(set)) bytes += o != nullptr ? GetOwnerEvictableBytes(o) : 0;
    return bytes;
  }

 private:
  struct OwnerPair {
    MmHeapOwner* owners[2];
    MmHeapOwner** begin() { return owners; }
    MmHeapOwner** end() { return owners + 2; }
  };
  // The first owners of lists 0 and 1 that some step uses.
  OwnerPair Owners(MmHeapSet& set) const {
    bool used[2] = {false, false};
    for (uint32_t i = 0; i < count_; ++i) used[steps_[i].list == kListMain1 ? 1 : 0] = true;
    return {{used[0] ? set.First(kListMain0) : nullptr, used[1] ? set.First(kListMain1) : nullptr}};
  }
  static constexpr uint32_t kMaxSteps = 6;
  RangeStep steps_[kMaxSteps] = {};
  uint32_t count_ = 0;
};

// Members 23 to 25: an owner's odd-bank list, then its even-bank list, for
// at most two rounds; member 23 switches the owner after every round.
class BankPolicy : public MmRangePolicy {
 public:
  explicit BankPolicy(int fixedOwner) : fixed_(fixedOwner), current_(fixedOwner < 0 ? 0 : fixedOwner) {}
  MmBlock* Allocate(const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) override {
    for (int round = 0; round < 2; ++round) {
      const uint8_t list = static_cast<uint8_t>(current_ == 0 ? kListMain0 : kListMain1);
      MmBlock* block = RunStep({list, kOdd, 0, 0}, options, set, owner);
      if (block == nullptr) block = RunStep({list, kEven, 0, 0}, options, set, owner);
      if (fixed_ < 0) current_ = 1 - current_;
      if (block != nullptr) return block;
    }
    return nullptr;
  }

 private:
  int fixed_;
  uint32_t current_;
};

constexpr uint8_t kBoth = kFallbackWindowToEnd | kFallbackStartToWindow;

}  // namespace

// ---- Options -------------------------------------------------------------------------------------

uint64_t RequestSize(const MmSurfAllocOpt& options) { return options.physicalSize; }

uint32_t RequestAlignment(const MmSurfAllocOpt& options) {
  return options.alignment == 0 ? 1 : options.alignment;
}

bool MayEvict(const MmSurfAllocOpt& options) {
  return options.word28 == 0 && (options.flags & kFlagDoNotEvict) == 0;
}

// ---- MmPolicy ---------------------------------------------------------------------------------------

bool MmPolicy::MakeRoom(const MmSurfAllocOpt&, MmHeapSet&) { return false; }
uint64_t MmPolicy::GetEvictableBytes(MmHeapSet&) { return 0; }
uint64_t MmPolicy::GetFreeBytes(MmHeapSet&) { return 0; }

// ---- MmHeapOwner ------------------------------------------------------------------------------------

MmHeapOwner::MmHeapOwner(uint8_t* ok, MmHeap* h) : heap(h) {
  *ok = MmSurface::InitList(&evictable) && MmSurface::InitList(&pinned) ? 1 : 0;
}

MmHeapOwner::~MmHeapOwner() {
  // The surfaces belong to their owners: only the rings go.
  for (MmSurface** ring : {&evictable, &pinned}) {
    MmSurface* head = *ring;
    if (head == nullptr) continue;
    while (head->next != head) head->next->Unlink();
    delete head;
    *ring = nullptr;
  }
}

void MmHeapOwner::Place(MmSurface* surface) {
  MmSurface* ring = surface->discardable ? evictable : pinned;
  if (ring != nullptr) surface->InsertAfter(ring->previous);
}

bool MmHeapOwner::Evict(uint64_t bytes) {
  bool evicted = false;
  MmSurface* ring = evictable;
  if (ring == nullptr) return false;
  for (MmSurface* s = ring->next; s != ring;) {
    MmSurface* following = s->next;
    if (s->OnDiscard()) {
      MmBlock* block = s->block;
      s->DetachFromBlock();
      if (block != nullptr) block->Release();
      s->Unlink();
      evicted = true;
      if (heap->GetLargestFree() >= bytes) break;
    }
    s = following;
  }
  return evicted && heap->GetLargestFree() >= bytes;
}

uint64_t MmHeapOwner::EvictableBytes() const {
  uint64_t bytes = 0;
  if (evictable == nullptr) return 0;
  for (MmSurface* s = evictable->next; s != evictable; s = s->next)
    if (s->block != nullptr) bytes += s->block->size;
  return bytes;
}

uint32_t BankStep(uint32_t revisionBits) {
  if (revisionBits & kRevKestrionNext3) return 0x2000000;
  if (revisionBits & kRevLaterGeneration) return 0x800000;
  return 0x1000000;
}

bool MmHeapOwner::MakeBankRanges(uint32_t revisionBits) {
  auto* region = static_cast<MmRegionHeap*>(heap);
  const uint64_t step = BankStep(revisionBits);
  const uint64_t begin = region->deviceBase;
  const uint64_t end = begin + region->size;
  for (uint64_t piece = begin; piece < end;) {
    const uint64_t next = (piece / step + 1) * step;
    const uint64_t pieceEnd = next < end ? next : end;
    Otl::Vector<uint32_t>& list = (piece & step) ? oddBanks : evenBanks;
    const uint32_t link = list.empty() ? kRangeNoLink : list[0];
    const uint32_t index = region->AddRange(static_cast<uint32_t>(piece - begin),
                                            static_cast<uint32_t>(pieceEnd - piece), link);
    if (index == kRangeRefused) break;  // 16 ranges at most
    if (!list.Insert(list.end(), 1, index)) return false;
    piece = pieceEnd;
  }
  return true;
}

// ---- MmPolicySet ------------------------------------------------------------------------------------

MmPolicySet::MmPolicySet(uint8_t* ok) {
  MmPolicy* members[kPolicyMembers] = {
      new RefusingPolicy(),                                             // 0
      new MmTypeHeapPolicy(kListAgp),                                     // 1: type 2
      new MmTypeHeapPolicy(kListPciPages),                                // 2: type 3
      new MmTypeHeapPolicy(kListLocked),                                  // 3: type 4
      new MmTypeHeapPolicy(kListMapped),                                  // 4: type 6
      new MmAlternatePolicy(kListMain0, kListMain1, -1),                  // 5
      new MmAlternatePolicy(kListMain0, kListMain1, 0),                   // 6
      new MmAlternatePolicy(kListMain0, kListMain1, 1),                   // 7
      new MmListPolicy(kListMain0),                                       // 8
      new MmListPolicy(kListMain1),                                       // 9
      new MmAlternatePolicy(kListTop0, kListTop1, -1),                    // 10
      new MmAlternatePolicy(kListTop0, kListTop1, 0),                     // 11
      new MmAlternatePolicy(kListTop0, kListTop1, 1),                     // 12
      new MmListPolicy(kListTop0),                                        // 13
      new MmListPolicy(kListTop1),                                        // 14
      // 15-17: high windows over partition 0's even banks, its odd banks,
      // and a low window over partition 1's even banks (chosen here).
      new RangePolicy({{kListMain0, kEven, 1, 0}}),                     // 15
      new RangePolicy({{kListMain0, kOdd, 1, 0}}),                      // 16
      new RangePolicy({{kListMain1, kEven, 0, 0}}),                     // 17
      new RangePolicy({{kListMain0, kEven, 0, 0}, {kListMain0, kEven, 0, kBoth},
                       {kListMain0, kOdd, 0, kBoth}}),                  // 18
      new RangePolicy({{kListMain0, kOdd, 0, 0}}),                      // 19
      new RangePolicy({{kListMain1, kEven, 0, 0}, {kListMain0, kEven, 0, 0},
                       {kListMain0, kEven, 0, kBoth}, {kListMain0, kOdd, 0, kBoth},
                       {kListMain1, kOdd, 0, kBoth}}),                  // 20
      new RangePolicy({{kListMain0, kOdd, 0, 0}, {kListMain1, kOdd, 0, 0}}),  // 21
      new RangePolicy({{kListMain1, kOdd, 1, 0}}),                      // 22
      new BankPolicy(-1),                                               // 23
      new BankPolicy(0),                                                // 24
      new BankPolicy(1),                                                // 25
      // 26-28 and 30 (chosen here): the same windows with both fallbacks.
      new RangePolicy({{kListMain1, kEven, 0, kBoth}, {kListMain1, kOdd, 0, kBoth}}),  // 26
      new RangePolicy({{kListMain0, kOdd, 1, kBoth}, {kListMain0, kEven, 1, kBoth}}),  // 27
      new RangePolicy({{kListMain1, kOdd, 0, kBoth}}),                  // 28
      new RangePolicy({{kListMain1, kOdd, 1, 0}}),                      // 29
      new RangePolicy({{kListMain0, kOdd, 1, kBoth}}),                  // 30
  };
  bool all = true;
  for (uint32_t i = 0; i < kPolicyMembers; ++i) {
    members_[i] = members[i];
    all = all && members[i] != nullptr;
  }
  *ok = all ? 1 : 0;
}

MmPolicySet::~MmPolicySet() {
  for (MmPolicy*& member : members_) {
    delete member;
    member = nullptr;
  }
}
