// Allocation policies: from which heaps, in which order and with which
// eviction a surface's block is taken. Policies see the heaps through heap
// owners (a heap with the surfaces placed in it, evictable or pinned) kept in
// the eight lists of the board's heap store, whose table of 9 surface types
// x 23 placement codes names the policy of each request.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/mm_surface.h"
#include "core/otl_vector.h"
#include "kernel/vidmem/heaps.h"

// Lists of the heap store.
enum : uint32_t {
  kListMain0 = 0,    // main heap of partition 0
  kListMain1 = 1,    // main heap of partition 1
  kListTop0 = 2,     // top area of partition 0
  kListTop1 = 3,     // top area of partition 1
  kListMapped = 4,   // the CPU-mapped local heap
  kListAgp = 5,      // surface type 2
  kListPciPages = 6, // surface type 3
  kListLocked = 7,   // surface type 4
};
inline constexpr unsigned kHeapLists = 8;
inline constexpr unsigned kSurfaceTypes = 9;
inline constexpr unsigned kPlacementCodes = 23;
inline constexpr unsigned kPolicyMembers = 31;

// Surface allocation options as the policies read them: the placement word
// (1 = place high) is word 8, the do-not-evict word is word 28; flag bit 0
// forbids eviction as well.
inline constexpr uint32_t kPlaceHighWord = 1;
inline constexpr uint32_t kFlagDoNotEvict = 0x1;
uint64_t RequestSize(const MmSurfAllocOpt& options);
uint32_t RequestAlignment(const MmSurfAllocOpt& options);
bool MayEvict(const MmSurfAllocOpt& options);

class MmHeapOwner : public OsHeapObject {
 public:
  // *ok is 0 when the surface rings cannot be made.
  MmHeapOwner(uint8_t* ok, MmHeap* heap);
  virtual ~MmHeapOwner();
  MmHeapOwner(const MmHeapOwner&) = delete;
  MmHeapOwner& operator=(const MmHeapOwner&) = delete;

  virtual MmBlock* Allocate(const MmHeapRequest& request) { return heap->AllocateRequest(request); }
  // Discardable surfaces at the end of the evictable ring, others pinned.
  void Place(MmSurface* surface);
  // Evicts the oldest surfaces whose OnDiscard agrees until the heap's
  // largest free region holds bytes: true when it does and one was evicted.
  bool Evict(uint64_t bytes);
  uint64_t EvictableBytes() const;
  // The bank ranges of a main local heap (a region heap), by chip class;
  // false when the lists cannot grow.
  bool MakeBankRanges(uint32_t revisionBits);

  MmHeap* heap;
  MmSurface* evictable = nullptr;
  MmSurface* pinned = nullptr;
  Otl::Vector<uint32_t> oddBanks;
  Otl::Vector<uint32_t> evenBanks;
};

// The bank step of a chip class: 32 MB (revision bits 0x70000), 8 MB (any
// other of 0x7fc00), else 16 MB.
uint32_t BankStep(uint32_t revisionBits);

class MmPolicy;

struct MmHeapSet {
  Otl::Vector<MmHeapOwner*> lists[kHeapLists];
  MmPolicy* table[kSurfaceTypes][kPlacementCodes] = {};
  MmHeapOwner* First(uint32_t list) const { return lists[list].empty() ? nullptr : lists[list][0]; }
};

class MmPolicy : public OsHeapObject {
 public:
  virtual ~MmPolicy() = default;
  // A block and the owner that gave it, or null.
  virtual MmBlock* Allocate(const MmSurfAllocOpt& options, MmHeapSet& set, MmHeapOwner** owner) = 0;
  virtual bool MakeRoom(const MmSurfAllocOpt& options, MmHeapSet& set);
  virtual uint64_t GetEvictableBytes(MmHeapSet& set);
  virtual uint64_t GetFreeBytes(MmHeapSet& set);
};

// The 31 members, in the order the table cells name them.
class MmPolicySet {
 public:
  explicit MmPolicySet(uint8_t* ok);
  ~MmPolicySet();
  MmPolicySet(const MmPolicySet&) = delete;
  MmPolicySet& operator=(const MmPolicySet&) = delete;
  MmPolicy* Member(uint32_t index) const { return index < kPolicyMembers ? members_[index] : members_[0]; }

 private:
  MmPolicy* members_[kPolicyMembers] = {};
};
