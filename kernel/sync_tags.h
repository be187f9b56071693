// DMA sync tags: 32-bit numbers the kernel writes into the primary stream
// and the engine reports back as it passes them (Shared locked data word 16
// and register 1052), so that the kernel knows what the engine has done.
// They serve waits for the engine, the streams' progress marks and display
// events that must happen once a frame is drawn (flips).
//
// The queue of outstanding tags and the 32 event slots have a fixed layout
// in the Shared locked data, which user space can write. The authoritative
// ring and slots are therefore the manager's own; the block only gets a
// copy of them, with slot offsets in place of kernel addresses, and nothing
// is ever read back from it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/bm_packets.h"
#include "core/heap_object.h"
#include "core/kcore_names.h"
#include "core/orv_abi.h"
#include "core/regs/engine2d.h"
#include "core/shared_word.h"

struct CommonData;
class PDEV;

// Kinds carried by a tag's low three bits in a packet.
inline constexpr uint32_t kTagProgress = 1;
inline constexpr uint32_t kTagPlain = 3;
inline constexpr uint32_t kTagEvent = 4;

// The 2D control word of the kernel's tag packets, the event tag's pause
// word and the packets' lengths (the headers are in core/bm_packets.h).
inline constexpr uint32_t kTag2dControl = 1798;
inline constexpr uint32_t kEventPauseWord = 2;
inline constexpr uint32_t kPlainTagWords = 5;
inline constexpr uint32_t kEventTagFillWords = 64;
inline constexpr uint32_t kEventTagWords = kEventTagPacketWords + kEventTagFillWords;

// V, Shared locked data word 140 (the saved value of register 0x1300),
// and the index of its place in a packet: 0x1300's, or the discarding
// index while the word holds no value. Both come from one read of the
// word, so the two cannot disagree when another process writes it.
struct TagValue {
  PacketIndex index;
  uint32_t word;
};
inline TagValue ReadTagValue(const SharedLockedData_t* shared) {
  const uint32_t word = ReadShared(&shared->last1300Value);
  return {word == kLastRegNone ? kIdxDiscard : k2dIdxControl, word};
}

// ---- Layouts in the Shared locked data --------------------------------------------
inline constexpr unsigned kSyncTagRingEntries = 64;

// Words only: the ring sits at offset 228, which is not 8-byte aligned.
struct SharedSyncTagEntry {
  uint32_t tag;
  uint32_t unused;
  uint32_t slotLow;   // the event slot's offset in the block, 0 for none
  uint32_t slotHigh;
};
struct SharedSyncTagRing {
  uint32_t ownerLow;  // the block's bus address
  uint32_t ownerHigh;
  SharedSyncTagEntry entries[kSyncTagRingEntries];
  uint32_t head;
  uint32_t tail;
  int32_t count;
  uint32_t unused;
};
static_assert(sizeof(SharedSyncTagRing) == kSyncTagRingSize);
static_assert(offsetof(SharedSyncTagRing, entries) == 8);
static_assert(offsetof(SharedSyncTagRing, head) == 1032);
static_assert(offsetof(SharedSyncTagRing, count) == 1040);

inline constexpr uint32_t kEventSlotFree = 0x1;
// Event flags (word 2 of an event).
inline constexpr uint32_t kEventFlagNoVSync = 0x1;
inline constexpr uint32_t kEventFlagAtOnce = 0x2;

struct SharedSyncTagEvent {
  uint32_t zero;
  uint32_t flags;       // kEventSlotFree
  uint32_t kind;        // 0: a display event
  uint32_t bufferSlot;
  uint32_t word[3];     // word[1]: the event flags
  uint32_t displayMask;
};
static_assert(sizeof(SharedSyncTagEvent) == kSyncTagEventSize);

// A display event as a post hands it over: {buffer slot, 0, flags, 0, mask}.
struct SyncTagEvent {
  uint32_t bufferSlot;
  uint32_t word1;
  uint32_t flags;
  uint32_t word3;
  uint32_t displayMask;
};

inline constexpr uint32_t kNoEventSlot = 0xFFFFFFFF;

// ---- The ring ---------------------------------------------------------------------------
// Push runs in ioctl context and PopPassed in interrupt context: the count
// changes only by interlocked operations, head and tail have one writer each.
class SyncTagRing {
 public:
  // Clears the ring and its copy in the block.
  void Construct(SharedSyncTagRing* mirror, uint64_t ownerBus);
  // Queues a tag with its event slot (kNoEventSlot for none): false when 64
  // are queued, or when the counter wrapped since the last tag queued and
  // the ring did not drain (bounded wait); nothing changes then.
  bool Push(uint32_t tag, uint32_t slot);
  // Takes the oldest entry when the engine has passed it: true with its slot.
  bool PopPassed(uint32_t engineTag, uint32_t* slot);
  bool IsNotFull() const { return Count() < static_cast<int32_t>(kSyncTagRingEntries); }
  int32_t Count() const { return __atomic_load_n(&count_, __ATOMIC_SEQ_CST); }
  // Whether the entry's tag has passed, given the engine's tag: not above it,
  // or above it by 0x80000001 or more (the engine's tag wrapped).
  static bool HasPassed(uint32_t tag, uint32_t engineTag);

 private:
  void Mirror(uint32_t index);

  uint32_t tags_[kSyncTagRingEntries] = {};
  uint32_t slots_[kSyncTagRingEntries] = {};
  uint32_t head_ = 0;
  uint32_t tail_ = 0;
  int32_t count_ = 0;
  uint32_t lastPushed_ = 0;
  SharedSyncTagRing* mirror_ = nullptr;
};

// Whether the engine has passed a tag: true when the engine tag lies in
// the circular window from the tag up to the last tag issued, both ends
// included (the window wraps through 0 when the tag is above the last).
bool ORVVideoTagPassed(uint32_t tag, uint32_t engineTag, uint32_t lastIssued);

// ---- The manager ------------------------------------------------------------------------
class SyncTagManager : public OsHeapObject {
 public:
  // Constructs the ring and the 32 free slots (and their copies in the block).
  SyncTagManager(CommonData* common, uint32_t unit);

  // Takes the next tag (word 68), queues it with the slot and writes the
  // plain or the event packet into the stream: true with the tag; false when
  // the ring is full or the stream has no room (no tag is used then).
  bool EmitTag(uint32_t slot, BmPrimInt* stream, bool event, uint32_t* tag);
  // The first free event slot, or kNoEventSlot.
  uint32_t FindFreeEventSlot() const;
  // Fills a free slot with the event, emits its event tag and kicks the
  // stream: false, with nothing written, when no slot is free or the tag
  // cannot be emitted.
  bool PostEvent(BmPrimInt* stream, const SyncTagEvent& event);
  // Interrupt context (source 4): pops every passed tag and carries out the
  // display events of their slots.
  void ServePassedTags();

  // The tag the engine reached, kind bits cleared.
  uint32_t EngineTag() const;
  // Bounded wait until the engine tag lies in the window from the tag up to
  // the newest tag issued; false when the wait ended without it.
  bool WaitForTag(uint32_t tag) const;

  bool SlotFree(uint32_t slot) const;
  int32_t QueuedTags() const { return ring_.Count(); }

  CommonData* common;
  uint32_t unit;

 private:
  struct EventSlot {
    uint32_t free;
    uint32_t kind;
    SyncTagEvent event;
  };
  void FreeSlot(uint32_t slot);
  void MirrorSlot(uint32_t slot);
  void CarryOut(const EventSlot& slot);

  SharedLockedData_t* shared_;
  SyncTagRing ring_;
  EventSlot slots_[kSyncTagEventCount] = {};
};

// The next tag after the counter in word 68, stored back there (never 0).
uint32_t TakeNextTag(SharedLockedData_t* shared);

// Component entry 13: the first device object of a board makes the manager
// and enables the tag events of interrupt source 4; clean-up undoes both.
bool InitSyncTagManager(PDEV* pdev);
void CleanupSyncTagManager(PDEV* pdev);
