#include "kernel/interrupts.h"

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/regs/interrupts.h"
#include "core/shared_word.h"
#include "kernel/dma_streams.h"
#include "kernel/flip_controller.h"
#include "kernel/kernel_device.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"
#include "kernel/x_requests.h"

namespace {

constexpr uint32_t kSourceBits[kInterruptSourceCount] = {kIrqVBlank0, kIrqVBlank1, 0, kIrqVBlank2,
                                                         kIrqEngine};

}  // namespace

// ---- InterruptSource -----------------------------------------------------------------------------

InterruptEventState* InterruptSource::StateOf(uint32_t event) {
  switch (event) {
    case kEventPeriodicPost: return &post.state;
    case kEventFlip: return &flip.state;
    case kEventTags: return &tags.state;
    default: return nullptr;
  }
}

bool InterruptSource::EventEnabled(uint32_t event) const {
  return const_cast<InterruptSource*>(this)->StateOf(event) != nullptr &&
         const_cast<InterruptSource*>(this)->StateOf(event)->enabled != 0;
}

void InterruptSource::EnableEvent(uint32_t event, bool keep) {
  InterruptEventState* state = StateOf(event);
  if (state == nullptr) return;
  state->keep = keep ? 1 : 0;
  state->enabled = 1;
  if (active) {
    state->tickAtEnable = tick;
    return;
  }
  active = 1;
  tick = 0;
  state->tickAtEnable = 0;
  if (manager->useCount != 0 && bit != 0)
    manager->WriteEnable(KernelReadRegister(common, kRegIrqEnable) | bit);
}

void InterruptSource::DisableEvent(uint32_t event, bool release) {
  InterruptEventState* state = StateOf(event);
  if (state == nullptr) return;
  state->enabled = 0;
  if (!release || post.state.enabled || flip.state.enabled || tags.state.enabled) return;
  if (manager->useCount != 0 && bit != 0)
    manager->WriteEnable(KernelReadRegister(common, kRegIrqEnable) & ~bit);
  ClearState();
}

void InterruptSource::ClearState() {
  active = 0;
  tick = 0;
}

bool InterruptSource::AddPostSlot(uint32_t slot) {
  if (slot >= kPendingSlotCount) return false;
  for (uint32_t& entry : post.slots) {
    if (entry == kPostSlotEmpty) {
      entry = slot;
      return true;
    }
  }
  return false;
}

bool InterruptSource::RemovePostSlot(uint32_t slot) {
  for (uint32_t& entry : post.slots) {
    if (entry == slot) {
      entry = kPostSlotEmpty;
      return true;
    }
  }
  return false;
}

void InterruptSource::ServeFlip() {
  if (!flip.state.enabled) return;
  if (tick - flip.state.tickAtEnable < flip.period) return;
  if (common->flipController != nullptr)
    common->flipController->SelectDisplayedBuffer(flip.displayMask, flip.bufferSlot, flip.syncFlag);
  DisableEvent(kEventFlip, flip.state.keep == 0);
}

void InterruptSource::ServeTags() {
  if (!tags.state.enabled) return;
  if (common->syncTagManager != nullptr) common->syncTagManager->ServePassedTags();
  if (!tags.state.keep) DisableEvent(kEventTags, true);
}

void InterruptSource::ServePeriodicPost() {
  if (!post.state.enabled) return;
  const uint32_t period = post.period != 0 ? post.period : 1;
  if ((tick - post.state.tickAtEnable) % period != 0) return;
  SharedLockedData_t* shared = common->sharedLocked;
  BmPrimInt* stream = common->primaryStream;
  // One try per tick: the interrupt path never waits for the command lock.
  if (stream != nullptr && OsInterlockedExchange(&shared->commandLock, 1) == 0) {
    shared->thread2d.dirtyBits = kAllDirty;
    const uint32_t saved = stream->modeFlags & kStreamSwitchBits;
    stream->modeFlags &= ~kStreamSwitchBits;
    for (uint32_t index : post.slots) {
      if (index >= kPendingSlotCount) continue;
      // A copy: user space may change the slot while it is read.
      SharedPendingSlot slot;
      memcpy(&slot, const_cast<const SharedPendingSlot*>(&shared->pendingSlots[index]), sizeof(slot));
      if (slot.postType == kPendingSlotFree) continue;
      OrvDmaPostRequest record;
      memcpy(&record, &slot, sizeof(record));
      // Any process that maps the block can write a slot: only ranges of
      // memory the kernel handed to a client of the board are run.
      if (!BoardClientOwnsDmaRange(common, record.start, record.end)) continue;
      SubmitClientDmaBuffer(common, record);
    }
    const uint32_t tag = ReadShared(&shared->syncTagCounter);
    WriteProgressTag(stream, tag);
    stream->Kick();
    stream->modeFlags |= saved;
    __atomic_store_n(&shared->commandLock, 0, __ATOMIC_SEQ_CST);
  }
  if (!post.state.keep) DisableEvent(kEventPeriodicPost, true);
}

bool InterruptSource::Service() {
  ++tick;
  ServeFlip();
  ServeTags();
  ServePeriodicPost();
  if (bit == kIrqEngine && common->primaryStream != nullptr) common->primaryStream->KickFromInterrupt();
  return true;
}

// ---- InterruptManager ----------------------------------------------------------------------------

InterruptManager::InterruptManager(CommonData* c) : common(c), useCount(0) {
  for (uint32_t i = 0; i < kInterruptSourceCount; ++i) {
    InterruptSource& s = sources[i];
    memset(static_cast<void*>(&s), 0, sizeof(s));
    s.flip.period = 1;
    s.post.period = 1;
    for (uint32_t& slot : s.post.slots) slot = kPostSlotEmpty;
    s.manager = this;
    s.common = c;
    s.bit = kSourceBits[i];
  }
}

void InterruptManager::WriteEnable(uint32_t value) {
  KernelWriteRegister(common, kRegIrqEnable, value);
  common->sharedLocked->interruptEnableCopy = value;
}

uint32_t InterruptManager::ActiveBits() const {
  uint32_t bits = 0;
  for (const InterruptSource& s : sources)
    if (s.active) bits |= s.bit;
  return bits;
}

uint32_t InterruptManager::AcquireEnable() {
  if (useCount == 0) WriteEnable(ActiveBits());
  return ++useCount;
}

void InterruptManager::ReleaseEnable() {
  if (useCount == 0) return;
  if (--useCount == 0) WriteEnable(0);
}

InterruptSource* InterruptManager::NextPendingSource(PendingSources* iterator) {
  while (iterator->next < kInterruptSourceCount) {
    InterruptSource& s = sources[iterator->next++];
    if (s.active && (s.bit & iterator->pending) != 0) return &s;
  }
  return nullptr;
}

InterruptSource* InterruptManager::FirstPendingSource(PendingSources* iterator) {
  iterator->pending = KernelReadRegister(common, kRegIrqPending);
  iterator->next = 0;
  if (iterator->pending == 0) return nullptr;
  KernelWriteRegister(common, kRegIrqAcknowledge, iterator->pending);
  return NextPendingSource(iterator);
}

// ---- Component entry 5 and the entry-table slots ---------------------------------------------------

bool InitInterruptManager(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return true;
  pdev->common->interruptManager = new InterruptManager(pdev->common);
  return pdev->common->interruptManager != nullptr;
}

void CleanupInterruptManager(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return;
  CommonData* common = pdev->common;
  InterruptManager* manager = common->interruptManager;
  if (manager == nullptr) return;
  if (manager->useCount != 0) {
    manager->useCount = 1;
    manager->ReleaseEnable();
  }
  delete manager;
  common->interruptManager = nullptr;
}

namespace {

// How deep this thread is in the interrupt path (a handler can run inside a
// wait's pause, which is where the glue delivers interrupts).
thread_local uint32_t interruptDepth = 0;

struct InterruptPath {
  InterruptPath() { ++interruptDepth; }
  ~InterruptPath() { --interruptDepth; }
  InterruptPath(const InterruptPath&) = delete;
  InterruptPath& operator=(const InterruptPath&) = delete;
};

}  // namespace

bool InInterruptPath() { return interruptDepth != 0; }

int CollectInterrupts(KernelDevice* device) {
  InterruptPath path;
  if (device == nullptr || device->commonData == nullptr) return -1;
  InterruptManager* manager = device->commonData->interruptManager;
  if (manager == nullptr) return 0;
  PendingSources iterator;
  for (InterruptSource* s = manager->FirstPendingSource(&iterator); s != nullptr;
       s = manager->NextPendingSource(&iterator)) {
    if (!s->Service() && device->deferredCount < kDeferredSourceSlots)
      device->deferredSources[device->deferredCount++] = s;
  }
  if (device->deferredCount == 0) return 0;
  manager->ReleaseEnable();
  return 1;
}

void RunDeferredInterruptWork(KernelDevice* device) {
  if (device == nullptr || device->commonData == nullptr) return;
  InterruptManager* manager = device->commonData->interruptManager;
  for (uint32_t i = 0; i < device->deferredCount; ++i) device->deferredSources[i] = nullptr;
  if (device->deferredCount == 0 || manager == nullptr) return;
  device->deferredCount = 0;
  manager->AcquireEnable();
}
