#include "core/bm_prim_int.h"

#include "core/chip_ids.h"
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

void BmPrimInt::WaitEngineIdle() {
  const uint32_t rev = commonData->revisionBits;
  if (rev & kRevKestrionNext3) {
    HwPollRegister(commonData, kRegEngineStatusNext3, kEngineStatusIdleBit, kEngineStatusIdleBit);
  } else if (rev & kRevKestrionNext2) {
    HwPollRegister(commonData, kRegEngineStatus, kEngineStatusIdleBit, kEngineStatusIdleBit);
  } else {
    HwPollRegister(commonData, kRegEngineStatus, kEngineStatusMask, kEngineStatusIdle);
  }
}

// The kernel module's submissions done, the DMA engine idle and its status
// back to what it was at start-up.
void BmPrimInt::WaitEngineDrained() {
  PollForever([&] { return ReadShared(&shared->pendingSubmissions) == 0; });
  HwReadRegister(commonData, kRegEngineIdle);
  HwPollRegister(commonData, kRegEngineIdle, kEngineIdleDma, kEngineIdleDma);
  HwPollRegister(commonData, kRegDmaStatus, 0xFFFFFFFF, shared->expectedDmaStatus);
  shared->directWriteCount = 0;
}

void BmPrimInt::Reset() {
  WaitEngineDrained();
  const uint32_t end = head->BusOf(cursor) | head->busType;
  shared->lastDmaEnd = end;
  HwWriteRegister(commonData, kRegDmaStartAddress, end & ~kBmBusTypeMask);
  HwWriteRegister(commonData, kRegDmaEndAddress, end);
}

bool BmPrimInt::Open() {
  const uint32_t mode = shared->dmaMode;
  if (mode == kDmaModeLocal) {
    // Let the engine reach a fresh tag before its registers are touched.
    const uint32_t tag = BmNextSyncTag(shared->syncTagCounter);
    shared->syncTagCounter = tag;
    HwWriteRegister(commonData, kRegSyncTag, tag);
    HwPollRegister(commonData, kRegSyncTagReached, ~kSyncTagIgnoredBits, tag);
  }
  if (!BmBufferPool::Open()) return false;
  if (mode == kDmaModeEmulate) {
    stateFlags |= kBmStateEmulated;
  } else if (mode == kDmaModePost) {
    postingFlags |= kBmPostingTagFlag;
  } else if (mode == kDmaModeLocal) {
    Reset();
    if (head->busType == kBmMemLocal) stateFlags |= kBmStateLocalBuffer;
  }
  return true;
}

bool BmPrimInt::RunRange(bool video, uint32_t a, uint32_t b, uint32_t c) {
  const uint32_t mode = shared->dmaMode;
  // The chip cannot reach process memory: the processor runs such a buffer
  // whatever the mode.
  const bool processor = mode == kDmaModeEmulate || head->memoryType == kBmMemProcess;
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
  if (head->busType == kBmMemLocal || processor) WaitEngineIdle();
  if (processor) {
    HwDevice::ExecuteEmulDma(commonData, start, cursor);
    return true;
  }
  if (mode == kDmaModeLocal) {
    const uint32_t end = head->BusOf(cursor) | head->busType;
    shared->lastDmaEnd = end;
    HwWriteRegister(commonData, kRegDmaEndAddress, end);
    return true;
  }
  if (start == cursor) return true;
  LnxDevice* device = IocRequestGet(commonData->requestSlots, requestSlot);
  return device != nullptr &&
         OsPostBusmasteringBuffer(device, head->BusOf(start), head->BusOf(cursor), head->busType);
}

// Whatever ran may have used the engine's surface descriptors: the 2D
// layer binds its bitmaps again at its next set-up.
void BmPrimInt::ReleaseSurfaceDescriptors() {
  if (commonData->surfDesc2dList != nullptr) commonData->surfDesc2dList->UnassignAll();
}

bool BmPrimInt::Start() {
  if (head == nullptr || cursor == nullptr) return false;
  if (!RunRange(false, 0, 0, 0)) return false;
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
    if (!Start()) ++droppedPosts;
    WaitEngineDrained();
    ResetCursor();
    if (shared->dmaMode == kDmaModeLocal) Reset();
    return;
  }
  BmBuffer* found = FindNextBuffer();
  found->state |= kBmBufferCurrent;
  const uint32_t counter = BmNextBufferCounter(shared->bufferCounter);
  shared->bufferCounter = counter;
  if (head->memoryType != kBmMemProcess && head->surface != nullptr &&
      head->surface->block != nullptr) {
    head->surface->block->dmaStamp = counter;
  }
  // The reserve keeps room for this packet behind the limit.
  cursor = BmWriteBufferSwitch(cursor, counter, shared->bufferReportWord);
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

void BmPrimInt::WaitForSyncTag(uint32_t tag) {
  PollForever([&] { return !IsSyncTagPending(tag); });
}
