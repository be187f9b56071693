#include "core/bm_prim_int.h"

#include "core/chip_ids.h"
#include "core/engine_wait.h"
#include "core/hw_device.h"
#include "core/hw_register_access.h"
#include "core/lnx_device.h"
#include "core/os.h"
#include "core/poll.h"
#include "core/shared_word.h"
#include "xdriver/surf_desc_list.h"

// ---- BmPrimInt ------------------------------------------------------------------------------

BmPrimInt::BmPrimInt(CommonData* c, uint32_t u, const CreateOptions& o)
    : BmBufferPool(c, u, o), shared(c->sharedLocked), commonData(c) {
  if (options.reserve < kBmMinReserve) options.reserve = kBmMinReserve;
}

// An idle engine costs the one read, inline; a busy one the bounded wait,
// out of line, whose reads continue where the first left off (an engine
// that goes idle at the n-th read is read n times either way).
inline bool BmPrimInt::WaitEngineIdle() {
  const uint32_t rev = commonData->revisionBits;
  if (EngineStatusIdle(rev, HwReadRegister(commonData, EngineStatusRegister(rev)))) return true;
  return WaitEngineIdleAfterBusyRead();
}

bool BmPrimInt::WaitEngineIdleAfterBusyRead() {
  return WaitEngineIdleWith(commonData, HwReadRegister);
}

bool BmPrimInt::WaitEngineDrained() { return ::WaitEngineDrained(commonData, HwReadRegister); }

bool BmPrimInt::Reset() {
  // The engine may still run the old range: its registers stay as they are.
  if (!WaitEngineDrained()) return false;
  const uint32_t end = head->BusOf(cursor) | head->busType;
  shared->lastDmaEnd = end;
  HwWriteRegister(commonData, kRegDmaStartAddress, end & ~kBmBusTypeMask);
  HwWriteRegister(commonData, kRegDmaEndAddress, end);
  return true;
}

bool BmPrimInt::Open() {
  const uint32_t mode = shared->dmaMode;
  if (mode == kDmaModeLocal) {
    // Let the engine reach a fresh tag before its registers are touched.
    const uint32_t tag = BmNextSyncTag(shared->syncTagCounter);
    shared->syncTagCounter = tag;
    HwWriteRegister(commonData, kRegSyncTag, tag);
    if (!HwPollRegister(commonData, kRegSyncTagReached, ~kSyncTagIgnoredBits, tag, "sync tag at open",
                        kEngineWaitMicroseconds)) {
      return false;
    }
  }
  if (!BmBufferPool::Open()) return false;
  if (mode == kDmaModeEmulate) {
    stateFlags |= kBmStateEmulated;
  } else if (mode == kDmaModePost) {
    postingFlags |= kBmPostingTagFlag;
  } else if (mode == kDmaModeLocal) {
    if (!Reset()) return false;
    if (head->busType == kBmMemLocal) stateFlags |= kBmStateLocalBuffer;
  }
  return true;
}

// The chip cannot reach process memory: the processor runs such a buffer
// whatever the mode.
inline bool BmPrimInt::RunsOnProcessor() const {
  return shared->dmaMode == kDmaModeEmulate || head->memoryType == kBmMemProcess;
}

// Local DMA from a buffer the chip reaches: the end register moves to the
// cursor, once the engine is idle when the buffer lies in local memory (a
// busy engine may still read it: the range then stays for the next start).
inline bool BmPrimInt::StartLocalDma() {
  if (head->busType == kBmMemLocal && !WaitEngineIdle()) return false;
  const uint32_t end = head->BusOf(cursor) | head->busType;
  shared->lastDmaEnd = end;
  HwWriteRegister(commonData, kRegDmaEndAddress, end);
  return true;
}

bool BmPrimInt::RunRange(bool video, uint32_t a, uint32_t b, uint32_t c) {
  const uint32_t mode = shared->dmaMode;
  const bool processor = RunsOnProcessor();
  if (video) {
    if (processor) {
      HwDevice::ExecuteEmulDma(commonData, start, cursor);
      return true;
    }
    LnxDevice* device = IocRequestGet(commonData->requestSlots, requestSlot);
    if (start == cursor) return true;
    return device != nullptr &&
           OsPostBusmasteringBufferVideo(device, head->BusOf(start), head->BusOf(cursor),
                                         head->busType, a, b, c);
  }
  // A busy engine may still read the range's memory: the range stays for
  // the next start.
  if (processor) {
    if (!WaitEngineIdle()) return false;
    HwDevice::ExecuteEmulDma(commonData, start, cursor);
    return true;
  }
  if (mode == kDmaModeLocal) return StartLocalDma();
  if (head->busType == kBmMemLocal && !WaitEngineIdle()) return false;
  if (start == cursor) return true;
  LnxDevice* device = IocRequestGet(commonData->requestSlots, requestSlot);
  return device != nullptr &&
         OsPostBusmasteringBuffer(device, head->BusOf(start), head->BusOf(cursor), head->busType);
}

// Whatever ran may have used the engine's surface descriptors: the 2D
// layer binds its bitmaps again at its next set-up.
inline void BmPrimInt::ReleaseSurfaceDescriptors() {
  if (commonData->surfDesc2dList != nullptr) commonData->surfDesc2dList->UnassignAll();
}

bool BmPrimInt::Start() {
  if (head == nullptr || cursor == nullptr) return false;
  // Local DMA, the drawing code's usual mode, starts without the calls
  // that the other ways of running a range need.
  if (shared->dmaMode == kDmaModeLocal && !RunsOnProcessor()) {
    if (!StartLocalDma()) return false;
  } else if (!RunRange(false, 0, 0, 0)) {
    return false;
  }
  ReleaseSurfaceDescriptors();
  start = cursor;
  return true;
}

bool BmPrimInt::StartVideo(uint32_t a, uint32_t b, uint32_t c) {
  if (head == nullptr || cursor == nullptr) return false;
  if (!RunRange(true, a, b, c)) return false;
  ReleaseSurfaceDescriptors();
  start = cursor;
  return true;
}

void BmPrimInt::SwitchToNewBuffer() {
  if (head == nullptr) return;
  if (bufferCount < 2) {
    if (!Start()) {
      // In the driver's own modes only a busy engine fails the start: its
      // wait ran out, and the buffer keeps its range for the next start.
      if (shared->dmaMode != kDmaModePost) return;
      ++droppedPosts;
    }
    // An engine that does not drain may still read the one buffer: it is
    // not written again, so Reserve finds no room and the drawing is given
    // up until the engine drains.
    if (!WaitEngineDrained()) return;
    ResetCursor();
    if (shared->dmaMode == kDmaModeLocal) (void)Reset();  // just drained: nothing to wait for
    return;
  }
  BmBuffer* found = FindNextBuffer();
  // No buffer came free: the current one is kept, full, and Reserve finds
  // no room until the engine moves on.
  if (found == nullptr) return;
  found->state |= kBmBufferCurrent;
  const uint32_t counter = BmNextBufferCounter(shared->bufferCounter);
  shared->bufferCounter = counter;
  if (head->memoryType != kBmMemProcess && head->surface != nullptr &&
      head->surface->block != nullptr) {
    head->surface->block->dmaStamp = counter;
  }
  // The reserve keeps room for this packet behind the limit.
  cursor = BmWriteProgress(cursor, counter, shared->bufferReportWord);
  if (!Start()) ++droppedPosts;
  head->state &= ~kBmBufferStateBits;
  head = found;
  ResetCursor();
}

uint32_t BmPrimInt::WriteSyncPacket() {
  uint32_t* at = Reserve(BmSyncPacketWords(shared));
  // No room for the packet: no new tag is issued, so a wait on the answer
  // (the newest tag) cannot wait for a tag that was never written.
  if (at == nullptr) return shared->syncTagCounter;
  const uint32_t tag = BmNextSyncTag(shared->syncTagCounter);
  shared->syncTagCounter = tag;
  BmWriteSync(at, shared, tag | (postingFlags & kBmPostingTagFlag));
  return tag;
}

uint32_t BmPrimInt::ReachedSyncTag() {
  const uint32_t reached = shared->dmaMode != kDmaModePost
                               ? HwReadRegister(commonData, kRegSyncTagReached)
                               : static_cast<uint32_t>(ReadShared(reinterpret_cast<int32_t*>(&shared->completedTag)));
  return reached & ~kSyncTagIgnoredBits;
}

bool BmPrimInt::IsSyncTagPending(uint32_t tag) {
  return BmSyncTagPending(tag, shared->syncTagCounter, ReachedSyncTag());
}

bool BmPrimInt::WaitForSyncTag(uint32_t tag) {
  return WaitFor("sync tag", kEngineWaitMicroseconds, [&] { return !IsSyncTagPending(tag); });
}
