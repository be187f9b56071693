#include "kernel/sync_tags.h"

#include "core/bm_packets.h"
#include "core/common_data.h"
#include "core/pdev.h"
#include "core/regs/dma.h"
#include "core/shared_word.h"
#include "kernel/dma_streams.h"
#include "kernel/flip_controller.h"
#include "kernel/interrupts.h"
#include "kernel/kernel_wait.h"
#include "kernel/register_guard.h"

namespace {

constexpr uint32_t kTagWrapDistance = 0x80000001;
constexpr uint32_t kSlotAreaOffset = offsetof(SharedLockedData_t, syncTagEvents);

}  // namespace

uint32_t TakeNextTag(SharedLockedData_t* shared) {
  const uint32_t tag = BmNextSyncTag(ReadShared(&shared->syncTagCounter) & ~kSyncTagIgnoredBits);
  shared->syncTagCounter = tag;
  return tag;
}

// ---- SyncTagRing ---------------------------------------------------------------------------------

void SyncTagRing::Construct(SharedSyncTagRing* mirror, uint64_t ownerBus) {
  for (uint32_t i = 0; i < kSyncTagRingEntries; ++i) {
    tags_[i] = 0;
    slots_[i] = kNoEventSlot;
  }
  head_ = tail_ = 0;
  __atomic_store_n(&count_, 0, __ATOMIC_SEQ_CST);
  lastPushed_ = 0;
  mirror_ = mirror;
  if (mirror_ == nullptr) return;
  mirror_->ownerLow = static_cast<uint32_t>(ownerBus);
  mirror_->ownerHigh = static_cast<uint32_t>(ownerBus >> 32);
  for (uint32_t i = 0; i < kSyncTagRingEntries; ++i) Mirror(i);
  mirror_->head = mirror_->tail = 0;
  mirror_->count = 0;
  mirror_->unused = 0;
}

void SyncTagRing::Mirror(uint32_t index) {
  if (mirror_ == nullptr) return;
  SharedSyncTagEntry& entry = mirror_->entries[index];
  entry.tag = tags_[index];
  entry.unused = 0;
  entry.slotLow = slots_[index] == kNoEventSlot
                      ? 0
                      : kSlotAreaOffset + slots_[index] * static_cast<uint32_t>(kSyncTagEventSize);
  entry.slotHigh = 0;
}

bool SyncTagRing::HasPassed(uint32_t tag, uint32_t engineTag) {
  return tag <= engineTag || tag - engineTag >= kTagWrapDistance;
}

bool SyncTagRing::Push(uint32_t tag, uint32_t slot) {
  if (!IsNotFull()) return false;
  if (Count() > 0 && tag < lastPushed_ &&
      !KernelWait("sync tag ring after a wrap", [&] { return Count() == 0; })) {
    return false;
  }
  const uint32_t index = tail_;
  tags_[index] = tag;
  slots_[index] = slot;
  Mirror(index);
  tail_ = (index + 1) % kSyncTagRingEntries;
  lastPushed_ = tag;
  const int32_t count = OsInterlockedIncrement(&count_);
  if (mirror_ != nullptr) {
    mirror_->tail = tail_;
    mirror_->count = count;
  }
  return true;
}

bool SyncTagRing::PopPassed(uint32_t engineTag, uint32_t* slot) {
  if (Count() == 0) return false;
  const uint32_t index = head_;
  if (!HasPassed(tags_[index], engineTag)) return false;
  *slot = slots_[index];
  tags_[index] = 0;
  slots_[index] = kNoEventSlot;
  Mirror(index);
  head_ = (index + 1) % kSyncTagRingEntries;
  const int32_t count = OsInterlockedDecrement(&count_);
  if (mirror_ != nullptr) {
    mirror_->head = head_;
    mirror_->count = count;
  }
  return true;
}

// ---- SyncTagManager ------------------------------------------------------------------------------

SyncTagManager::SyncTagManager(CommonData* c, uint32_t u)
    : common(c), unit(u), shared_(c->sharedLocked) {
  ring_.Construct(reinterpret_cast<SharedSyncTagRing*>(shared_->syncTagRing),
                  ReadShared(&shared_->blockPhysAddr));
  for (uint32_t i = 0; i < kSyncTagEventCount; ++i) {
    slots_[i] = EventSlot{};
    __atomic_store_n(&slots_[i].free, 1, __ATOMIC_SEQ_CST);
    MirrorSlot(i);
  }
}

void SyncTagManager::MirrorSlot(uint32_t slot) {
  auto* mirror = reinterpret_cast<SharedSyncTagEvent*>(shared_->syncTagEvents[slot]);
  const EventSlot& s = slots_[slot];
  mirror->zero = 0;
  mirror->flags = __atomic_load_n(&s.free, __ATOMIC_SEQ_CST) != 0 ? kEventSlotFree : 0;
  mirror->kind = s.kind;
  mirror->bufferSlot = s.event.bufferSlot;
  mirror->word[0] = s.event.word1;
  mirror->word[1] = s.event.flags;
  mirror->word[2] = s.event.word3;
  mirror->displayMask = s.event.displayMask;
}

bool SyncTagManager::SlotFree(uint32_t slot) const {
  return slot < kSyncTagEventCount && __atomic_load_n(&slots_[slot].free, __ATOMIC_SEQ_CST) != 0;
}

uint32_t SyncTagManager::FindFreeEventSlot() const {
  for (uint32_t i = 0; i < kSyncTagEventCount; ++i)
    if (SlotFree(i)) return i;
  return kNoEventSlot;
}

void SyncTagManager::FreeSlot(uint32_t slot) {
  __atomic_store_n(&slots_[slot].free, 1, __ATOMIC_SEQ_CST);
  MirrorSlot(slot);
}

bool SyncTagManager::EmitTag(uint32_t slot, BmPrimInt* stream, bool event, uint32_t* tag) {
  if (stream == nullptr || !ring_.IsNotFull()) return false;
  const uint32_t words = event ? kEventTagWords : kPlainTagWords;
  uint32_t* at = stream->Reserve(words);
  if (at == nullptr) return false;
  const uint32_t before = ReadShared(&shared_->syncTagCounter);
  const uint32_t next = TakeNextTag(shared_);
  if (!ring_.Push(next, slot)) {
    // The room is taken already: it becomes padding, and the tag unused.
    BmWriteFill(at, words);
    shared_->syncTagCounter = before;
    return false;
  }
  const TagValue v = ReadTagValue(shared_);
  if (event) {
    uint32_t* end =
        BmWriteEventTag(at, next | kTagEvent, kTag2dControl, next | kTagProgress, v.index, v.word, kEventPauseWord);
    BmWriteFill(end, kEventTagFillWords);
    ++stream->eventCount;
    stream->modeFlags |= kStreamEventsPending;
  } else {
    BmWriteSyncTag(at, next | kTagPlain, v.index, v.word, kTag2dControl);
  }
  if (tag != nullptr) *tag = next;
  return true;
}

bool SyncTagManager::PostEvent(BmPrimInt* stream, const SyncTagEvent& event) {
  const uint32_t slot = FindFreeEventSlot();
  if (slot == kNoEventSlot) return false;
  EventSlot& s = slots_[slot];
  __atomic_store_n(&s.free, 0, __ATOMIC_SEQ_CST);
  s.kind = 0;
  s.event = event;
  MirrorSlot(slot);
  if (!EmitTag(slot, stream, true, nullptr)) {
    FreeSlot(slot);
    return false;
  }
  stream->Kick();
  return true;
}

void SyncTagManager::CarryOut(const EventSlot& slot) {
  const SyncTagEvent& e = slot.event;
  const uint32_t sync = (e.flags & kEventFlagNoVSync) ? 0 : 1;
  if (e.flags & kEventFlagAtOnce) {
    if (common->flipController != nullptr)
      common->flipController->SelectDisplayedBuffer(e.displayMask, e.bufferSlot, sync);
    return;
  }
  // At the next vertical blank of each controller that shows the displays.
  InterruptManager* interrupts = common->interruptManager;
  if (interrupts == nullptr) return;
  const uint32_t parts[2] = {e.displayMask & kDisplaysOfController0, e.displayMask & kDisplaysOfController1};
  for (uint32_t source = kSourceVBlank0; source <= kSourceVBlank1; ++source) {
    if (parts[source] == 0) continue;
    InterruptSource& s = interrupts->sources[source];
    s.flip.displayMask = parts[source];
    s.flip.bufferSlot = e.bufferSlot;
    s.flip.syncFlag = sync;
    s.EnableEvent(kEventFlip, true);
  }
}

void SyncTagManager::ServePassedTags() {
  const uint32_t engine = EngineTag();
  uint32_t slot = kNoEventSlot;
  while (ring_.PopPassed(engine, &slot)) {
    if (slot >= kSyncTagEventCount || SlotFree(slot)) continue;
    if (slots_[slot].kind == 0) CarryOut(slots_[slot]);
    FreeSlot(slot);
  }
}

uint32_t SyncTagManager::EngineTag() const {
  const uint32_t reached = ReadShared(&shared_->dmaMode) == kDmaModePost
                               ? ReadShared(&shared_->completedTag)
                               : KernelReadRegister(common, kRegSyncTagReached);
  return reached & ~kSyncTagIgnoredBits;
}

bool ORVVideoTagPassed(uint32_t tag, uint32_t engineTag, uint32_t lastIssued) {
  if (tag <= lastIssued) return tag <= engineTag && engineTag <= lastIssued;
  return engineTag >= tag || engineTag <= lastIssued;
}

bool SyncTagManager::WaitForTag(uint32_t tag) const {
  return KernelWait("sync tag wait", [&] {
    return ORVVideoTagPassed(tag, EngineTag(), ReadShared(&shared_->syncTagCounter));
  });
}

// ---- Component entry 13 --------------------------------------------------------------------------

bool InitSyncTagManager(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return true;
  CommonData* common = pdev->common;
  common->syncTagManager = new SyncTagManager(common, pdev->unit);
  if (common->syncTagManager == nullptr) return false;
  if (common->interruptManager != nullptr)
    common->interruptManager->sources[kSourceEngine].EnableEvent(kEventTags, true);
  return true;
}

void CleanupSyncTagManager(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return;
  CommonData* common = pdev->common;
  if (common->interruptManager != nullptr)
    common->interruptManager->sources[kSourceEngine].DisableEvent(kEventTags, true);
  delete common->syncTagManager;
  common->syncTagManager = nullptr;
}
