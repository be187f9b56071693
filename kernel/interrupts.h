// The interrupt manager: the board's five interrupt sources, the events
// their interrupts drive (a buffer flip, a periodic post of pending DMA
// ranges, the serving of passed sync tags), the use-counted enable, and the
// two interrupt entries of the entry table.
//
// The glue calls CollectInterrupts in interrupt context and delivers
// interrupts only between the core's entry points and at OsSchedule, never
// inside a register access; the core's waits all call OsSchedule between
// tries once a short spin is over (core/poll.h), so progress that the
// interrupt path makes reaches them there.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"

struct CommonData;
struct KernelDevice;
class InterruptManager;
class PDEV;

inline constexpr unsigned kInterruptSourceCount = 5;
inline constexpr uint32_t kSourceVBlank0 = 0;  // displays 1 and 4
inline constexpr uint32_t kSourceVBlank1 = 1;  // displays 2 and 8
inline constexpr uint32_t kSourceNone = 2;     // no events, no bit
inline constexpr uint32_t kSourceVBlank2 = 3;  // only with register 7620 bit 3
inline constexpr uint32_t kSourceEngine = 4;   // sync tags, DMA end

inline constexpr uint32_t kDisplaysOfController0 = 0x1 | 0x4;
inline constexpr uint32_t kDisplaysOfController1 = 0x2 | 0x8;

// Event numbers.
inline constexpr uint32_t kEventPeriodicPost = 0;
inline constexpr uint32_t kEventFlip = 1;
inline constexpr uint32_t kEventTags = 2;

inline constexpr unsigned kPostSlotsPerSource = 3;
inline constexpr uint32_t kPostSlotEmpty = 0xFFFFFFFF;
// The block's word 2680 (the 2D state's dirty bits) is set by each periodic post.
inline constexpr uint32_t kAllDirty = 0xFFFFFFFF;

struct InterruptEventState {
  uint8_t keep;
  uint8_t enabled;
  uint16_t unused;
  uint32_t tickAtEnable;
};

struct FlipEventRecord {
  uint32_t displayMask;
  uint32_t bufferSlot;
  uint32_t syncFlag;
  uint32_t period;  // ticks
  InterruptEventState state;
  uint32_t unused;
};
struct PostEventRecord {
  uint32_t period;  // ticks
  uint32_t slots[kPostSlotsPerSource];  // pending post slots, kPostSlotEmpty when empty
  InterruptEventState state;
  uint32_t unused;
};
struct TagEventRecord {
  InterruptEventState state;
  uint32_t unused[5];
};
static_assert(sizeof(FlipEventRecord) == 28 && sizeof(PostEventRecord) == 28 &&
              sizeof(TagEventRecord) == 28);

class InterruptSource {
 public:
  // Events other than 0, 1, 2 are ignored. The first enabled event of a
  // source makes it active (tick counter 0) and, while the enable is held,
  // puts its bit into register 2300.
  void EnableEvent(uint32_t event, bool keep);
  // With no event left enabled and release set, the source's bit leaves
  // register 2300 and the source becomes inactive.
  void DisableEvent(uint32_t event, bool release);
  bool EventEnabled(uint32_t event) const;
  // Pending post slots of the periodic post: an index above 14 is refused,
  // as is a fourth slot; false then.
  bool AddPostSlot(uint32_t slot);
  bool RemovePostSlot(uint32_t slot);
  // One interrupt of the source: tick, flip, tags, periodic post, engine;
  // answers done (always).
  bool Service();

  FlipEventRecord flip;
  PostEventRecord post;
  TagEventRecord tags;
  InterruptManager* manager;
  CommonData* common;
  uint32_t bit;
  uint32_t tick;
  uint8_t active;

 private:
  InterruptEventState* StateOf(uint32_t event);
  void ServeFlip();
  void ServeTags();
  void ServePeriodicPost();
  void ClearState();
};
static_assert(sizeof(InterruptSource) == 120);

// Walks the pending active sources of one interrupt.
struct PendingSources {
  uint32_t pending = 0;
  uint32_t next = 0;
};

class InterruptManager : public OsHeapObject {
 public:
  explicit InterruptManager(CommonData* common);

  // The use-counted enable of register 2300 (mirrored in word 152).
  uint32_t AcquireEnable();
  void ReleaseEnable();
  // Reads register 2292: null when 0; else acknowledges it (2296) and gives
  // the first pending active source, in order 0 to 4.
  InterruptSource* FirstPendingSource(PendingSources* iterator);
  InterruptSource* NextPendingSource(PendingSources* iterator);

  // Register 2300 and its copy in word 152.
  void WriteEnable(uint32_t value);
  uint32_t ActiveBits() const;

  InterruptSource sources[kInterruptSourceCount];
  CommonData* common;
  uint32_t useCount;
};
static_assert(sizeof(InterruptManager) == 616);

// Component entry 5: the first device object of a board makes the manager.
bool InitInterruptManager(PDEV* pdev);
void CleanupInterruptManager(PDEV* pdev);

// Entry-table slots 6 and 7.
int CollectInterrupts(KernelDevice* device);
void RunDeferredInterruptWork(KernelDevice* device);

// True while this thread runs CollectInterrupts: work done in interrupt
// context may not give the processor away, so its waits do not pause
// (kernel/os_kernel.cpp).
bool InInterruptPath();
