#include "kernel/dma_streams.h"

#include <string.h>

#include <initializer_list>

#include "core/bm_packets.h"
#include "kernel/3d/engine/engine_owner.h"
#include "core/chip_ids.h"
#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/engine_wait.h"
#include "core/pdev.h"
#include "core/regs/dma.h"
#include "core/shared_word.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"
#include "platform/kglue/kglue.h"

namespace {

uint32_t DebugFlagsOf(CommonData* common) {
  DriverSwitchesCommon* switches = common->driverSwitches;
  if (switches == nullptr || switches->BmDebugFlags == nullptr) return 0;
  return switches->BmDebugFlags->GetValue();
}

uint8_t DebugInfoOf(CommonData* common) {
  DriverSwitchesCommon* switches = common->driverSwitches;
  if (switches == nullptr || switches->BmDebugInfo == nullptr) return 0;
  return static_cast<uint8_t>(switches->BmDebugInfo->GetValue());
}

// The bus address of the board's Shared locked data, from the glue's region
// (the block's own words 64 and 96 are user-writable).
uint64_t SharedLockedBus(CommonData* common) {
  OrvDevice* device = BoardGlueDevice(common);
  if (device == nullptr) return 0;
  OrvRegion* region = OrvRegion_FindFromVirtual(device, common->sharedLocked);
  return region != nullptr ? OrvRegion_GetPhys(region) : 0;
}

// Bus-master flags and BmDebugFlags bits of the option table.
constexpr uint32_t kBusFlagsFourBuffers = 0x200004;
constexpr uint32_t kBusFlagGranule16 = 0x4000;
constexpr uint32_t kBusFlag7 = 0x80;
constexpr uint32_t kBusFlag6 = 0x40;
constexpr uint32_t kPrimaryBuffers = 4;
constexpr uint32_t kPrimaryBufferSize = 0x40000;
constexpr uint32_t kSecondaryBuffers = 8;
constexpr uint32_t kSecondaryBufferSize = 0x20000;
constexpr uint32_t kFewBuffers = 2;
constexpr uint32_t kFewBufferSize = 0x80000;

}  // namespace

// ---- Options -----------------------------------------------------------------------------------

StreamOptions MakeStreamOptions(uint32_t busFlags, uint32_t debugFlags, uint32_t memorySize) {
  StreamOptions out;
  const bool four = (busFlags & kBusFlagsFourBuffers) == kBusFlagsFourBuffers;
  out.primary.bufferCount = four ? kPrimaryBuffers : kFewBuffers;
  out.secondary.bufferCount = four ? kSecondaryBuffers : kFewBuffers;
  const uint32_t primarySize = four ? kPrimaryBufferSize : kFewBufferSize;
  const uint32_t secondarySize = four ? kSecondaryBufferSize : kFewBufferSize;
  const uint32_t allBuffers = out.primary.bufferCount + out.secondary.bufferCount;
  const uint32_t localSize =
      static_cast<uint32_t>(static_cast<uint64_t>(memorySize) * 3 / 4 / allBuffers);
  auto candidates = [&](BmBufferPool::CreateOptions& options, uint32_t size) {
    options.reserve = kStreamReserveWords;
    BmAddSystemMemoryEntries(options.alloc, busFlags, debugFlags, size);
    options.alloc.Add(kBmMemLocal, localSize);
  };
  candidates(out.primary, primarySize);
  candidates(out.secondary, secondarySize);
  return out;
}

// ---- BmPrimInt ---------------------------------------------------------------------------------

BmPrimInt::BmPrimInt(CommonData* c, uint32_t u, const CreateOptions& o, uint8_t byte)
    : BmBufferPool(c, u, o), commonData(c), shared(c->sharedLocked), constructionByte(byte) {
  if (options.reserve < kStreamReserveWords) options.reserve = kStreamReserveWords;
}

uint32_t BmPrimInt::EndAddressOf(const uint32_t* position) const {
  return endBase + static_cast<uint32_t>((position - head->Begin()) * sizeof(uint32_t));
}

bool BmPrimInt::Open() {
  if (!BmBufferPool::Open()) return false;
  const uint32_t debug = DebugFlagsOf(commonData);
  const uint32_t busFlags = shared->busFlags;
  const uint32_t flags = head->busType & kAddressFlagBits;
  uint32_t mode = (debug & kStreamSwitchBits) | (modeFlags & kStreamEventsPending);
  if (flags == kBmMemPciLocked) mode |= kStreamPciLocked;
  if (flags == 0) mode |= kStreamNoAddressFlags;
  if (shared->dmaMode == kDmaModeEmulate) mode |= kStreamProcessorMode;
  if (shared->multiProcessor != 0) mode |= kStreamMultiCpu;
  if (head->memoryType == kBmMemLocal || head->memoryType == kBmMemAgp) {
    if (busFlags & kBusFlag7) mode |= kStreamBusFlag7;
    if (busFlags & kBusFlag6) mode |= kStreamBusFlag6;
  }
  modeFlags = mode;
  granule = flags == kBmMemPciLocked ? ((busFlags & kBusFlagGranule16) ? 16 : 8) : 0;
  const uint64_t sharedBus = SharedLockedBus(commonData);
  sharedBus_ = static_cast<uint32_t>(sharedBus);
  progressBus_ = sharedBus_ != 0 ? sharedBus_ + offsetof(SharedLockedData_t, completedBufferCounter) : 0;
  endBase = static_cast<uint32_t>(head->busAddress) | flags;
  // An engine that does not drain is not pointed at the new buffers: the
  // stream fails to open.
  return Reset();
}

bool BmPrimInt::WaitDrained() { return WaitEngineDrained(commonData, KernelReadRegister); }

bool BmPrimInt::Reset() {
  if (head == nullptr || cursor == nullptr) return false;
  if (!WaitDrained()) return false;
  endBase = static_cast<uint32_t>(head->busAddress) | (head->busType & kAddressFlagBits);
  lastEnd_ = EndAddressOf(cursor);
  shared->lastDmaEnd = lastEnd_;
  KernelWriteRegister(commonData, kRegDmaStartAddress, lastEnd_ & ~kAddressFlagBits);
  uint32_t base = sharedBus_;
  if (DebugFlagsOf(commonData) & kBmDebugSharedBaseAligned) base &= ~31u;
  KernelWriteRegister(commonData, kRegDmaSharedBase, base);
  return true;
}

bool BmPrimInt::WaitEngineIdle() { return ::WaitEngineIdle(commonData, KernelReadRegister); }

bool BmPrimInt::EnsureRoom(uint32_t words) {
  if (cursor != nullptr && Fits(words)) return true;
  SwitchToNewBuffer();
  return cursor != nullptr && Fits(words);
}

void BmPrimInt::WriteSyncPrologue() {
  const uint32_t t1 = TakeNextTag(shared);
  const uint32_t t2 = TakeNextTag(shared);
  const TagValue v = ReadTagValue(shared);
  cursor = BmWriteSyncPrologue(cursor, t1 | kTagProgress, t2 | kTagProgress, v.index, v.word);
}

void BmPrimInt::PadToGranule() {
  while ((cursor - head->Begin()) % granule != 0) *cursor++ = kPacketFill;
}

bool BmPrimInt::Start() {
  if (head == nullptr || cursor == nullptr) return false;
  if (modeFlags & kStreamSyncPrologue) {
    if (!EnsureRoom(kSyncPrologueWords + granule)) return false;
    WriteSyncPrologue();
  }
  if (granule != 0) {
    if (!EnsureRoom(granule)) return false;
    PadToGranule();
  }
  // A range in local memory is kicked into an idle engine only; a busy
  // engine keeps the range for the next start.
  if ((endBase & kAddressFlagBits) == 0 && ReadShared(&shared->pendingSubmissions) <= 0 &&
      !WaitEngineIdle()) {
    return false;
  }
  const bool locking = (modeFlags & kStreamMultiCpu) != 0;
  // A lock that was not obtained is neither used nor released: the range
  // stays for the next start.
  if (locking && !AcquireBusyLock()) return false;
  for (uint32_t i = 0; i < eventCount; ++i) OsInterlockedIncrement(&shared->pendingSubmissions);
  lastEnd_ = EndAddressOf(cursor);
  shared->lastDmaEnd = lastEnd_;
  if (ReadShared(&shared->pendingSubmissions) <= static_cast<int32_t>(eventCount)) {
    KernelWriteRegister(commonData, kRegDmaEndAddress, lastEnd_);
  }
  if (locking) ReleaseBusyLock();
  eventCount = 0;
  if (ReadShared(&shared->pendingSubmissions) == 0) modeFlags &= ~kStreamEventsPending;
  start = cursor;
  return true;
}

bool BmPrimInt::AcquireBusyLock() {
  // The lock word is shared with user space: a holder that never lets go
  // ends the wait.
  return KernelWait("DMA busy lock",
                    [&] { return OsInterlockedExchange(&shared->dmaBusyLock, 1) == 0; });
}

void BmPrimInt::ReleaseBusyLock() {
  if (OsInterlockedExchange(&shared->dmaBusyLock, 0) != 2) return;
  // The interrupt path asked for its kick while the lock was held.
  OsInterlockedDecrement(&shared->pendingSubmissions);
  KernelWriteRegister(commonData, kRegDmaEndAddress, lastEnd_);
}

void BmPrimInt::Kick() {
  if (head == nullptr || cursor == nullptr) return;
  if (modeFlags != 0) {
    Start();
    return;
  }
  lastEnd_ = EndAddressOf(cursor);
  KernelWriteRegister(commonData, kRegDmaEndAddress, lastEnd_);
  start = cursor;
}

void BmPrimInt::KickFromInterrupt() {
  if (modeFlags & kStreamMultiCpu) {
    // Held by a kick in progress: it does this one when it lets go.
    if (OsInterlockedExchange(&shared->dmaBusyLock, 2) != 0) return;
    OsInterlockedDecrement(&shared->pendingSubmissions);
    KernelWriteRegister(commonData, kRegDmaEndAddress, lastEnd_);
    OsInterlockedExchange(&shared->dmaBusyLock, 0);
    return;
  }
  OsInterlockedDecrement(&shared->pendingSubmissions);
  KernelWriteRegister(commonData, kRegDmaEndAddress, lastEnd_);
}

void BmPrimInt::SwitchToNewBuffer() {
  if (head == nullptr || cursor == nullptr) return;
  if (bufferCount < 2) {
    Kick();
    // An engine that does not drain may still read the one buffer: it is
    // not written again, and Reserve finds no room until it drains.
    if (!WaitDrained()) return;
    ResetCursor();
    (void)Reset();  // just drained: nothing to wait for
    return;
  }
  BmBuffer* next = FindNextBuffer();
  if (next == nullptr) return;
  next->state |= kBmBufferCurrent;
  const uint32_t counter = BmNextBufferCounter(ReadShared(&shared->bufferCounter));
  shared->bufferCounter = counter;
  head->fence = counter;
  // At the write position, inside the reserve behind the limit: the engine
  // reaches it there and jumps to the next buffer.
  cursor = BmWriteSwitchAndJump(cursor, counter, progressBus_,
                                static_cast<uint32_t>(next->busAddress) | (next->busType & kAddressFlagBits));
  head->state &= ~kBmBufferStateBits;
  head = next;
  ResetCursor();
  endBase = static_cast<uint32_t>(head->busAddress) | (head->busType & kAddressFlagBits);
  if ((endBase & kAddressFlagBits) == 0) {
    modeFlags |= kStreamNoAddressFlags;
  } else {
    modeFlags &= ~kStreamNoAddressFlags;
  }
  Kick();
}

// ---- BmSecondaryInt ------------------------------------------------------------------------------

BmSecondaryInt::BmSecondaryInt(CommonData* c, uint32_t u, const CreateOptions& o, BmPrimInt* p)
    : BmBufferPool(c, u, o), primary(p) {
  if (options.reserve < kStreamReserveWords) options.reserve = kStreamReserveWords;
}

bool BmSecondaryInt::ExecuteBuffer(uint32_t from, uint32_t to, uint32_t fromFlags, uint32_t toFlags) {
  if (from >= to || primary == nullptr) return false;
  if (toFlags == 0 && !primary->WaitEngineIdle()) return false;
  uint32_t* at = primary->Reserve(kExecuteWords);
  if (at == nullptr) return false;
  BmWriteExecute(at, from | fromFlags, to | toFlags);
  primary->Kick();
  return true;
}

bool BmSecondaryInt::ExecuteWritten() {
  const bool done =
      ExecuteBuffer(head->BusOf(start), head->BusOf(cursor), startFlags, head->busType & kAddressFlagBits);
  if (done) start = cursor;
  return done;
}

void BmSecondaryInt::SwitchToNewBuffer() {
  if (head == nullptr || cursor == nullptr || primary == nullptr) return;
  ExecutePending();
  SharedLockedData_t* shared = primary->shared;
  if (uint32_t* at = primary->Reserve(kProgressWords)) {
    const uint32_t counter = BmNextBufferCounter(ReadShared(&shared->bufferCounter));
    shared->bufferCounter = counter;
    BmWriteProgress(at, counter, primary->ProgressBus());
    head->fence = counter;
  }
  primary->Kick();
  if (bufferCount < 2) {
    // The one buffer is written again only once the engine is done with it.
    if (KernelWait("secondary DMA buffer", [&] { return !head->IsBusyDMA(); })) ResetCursor();
    return;
  }
  BmBufferPool::SwitchToNewBuffer();
}

// ---- Posts ---------------------------------------------------------------------------------------

namespace {

// A sync tag the engine also reports plain: the tag | 1, then the tag.
constexpr uint32_t kProgressTagWords = BmSyncTagWords(k2dIdxSyncTag);
uint32_t* PutProgressTag(uint32_t* at, uint32_t tag) {
  return BmWriteSyncTag(at, tag | kTagProgress, k2dIdxSyncTag, tag);
}

// The re-initialisation's words after the preset: a progress tag, the
// device word B, a progress tag and the engine word B0.
constexpr uint32_t kPresetTailWords = 2 * kProgressTagWords + 2 + 2;
// The first chip takes the bus-interface word from revision 2 on only.
constexpr uint32_t kBusInterfaceChips = kRevKestrion1Rev2On | kRevKestrion2 | kRevLaterGeneration;

}  // namespace

bool WriteProgressTag(BmPrimInt* stream, uint32_t tag) {
  uint32_t* at = stream->Reserve(kProgressTagWords);
  if (at == nullptr) return false;
  PutProgressTag(at, tag);
  return true;
}

void ReinitEngineState(CommonData* common) {
  BmPrimInt* primary = common->primaryStream;
  SharedLockedData_t* shared = common->sharedLocked;
  if (primary == nullptr) return;
  // The 2D control word that sync packets restore is kept across the
  // programme.
  const uint32_t saved2dControl = shared->last1300Value;
  FlushEngineState3d(common);
  if (common->secondaryStream != nullptr) common->secondaryStream->ExecutePending();

  const uint32_t rev = common->revisionBits;
  const bool laterGeneration = (rev & kRevLaterGeneration) != 0;
  uint32_t* at = primary->Reserve(BmEnginePresetWords(laterGeneration) + kPresetTailWords);
  if (at != nullptr) {
    at = BmWriteEnginePreset(at, laterGeneration);
    at = PutProgressTag(at, TakeNextTag(shared));
    const RegGroup deviceWord = {kPacketDeviceWordB, {(rev & kBusInterfaceChips) ? kDeviceWordBValue : 1u}};
    at = BmWriteGroups(at, &deviceWord, 1);
    at = PutProgressTag(at, TakeNextTag(shared));
    const RegGroup wordB0 = {kPacketEngineWordB0, {(rev & kRevKestrion1Rev3) ? 0x3FF00000u : 0x3FFF8000u}};
    BmWriteGroups(at, &wordB0, 1);
  }
  shared->last1300Value = saved2dControl;
}

bool SubmitClientDmaBuffer(CommonData* common, const OrvDmaPostRequest& record) {
  BmPrimInt* stream = common != nullptr ? common->primaryStream : nullptr;
  if (stream == nullptr || !stream->IsOpen()) return false;
  const uint32_t from = record.start;
  const uint32_t to = record.end;
  if ((from & ~kAddressFlagBits) > (to & ~kAddressFlagBits)) return false;
  SharedLockedData_t* shared = common->sharedLocked;

  const uint32_t requested = record.kind == kPostType3d ? kEngineMode3d : kEngineMode2d;
  const uint32_t current = ReadShared(&shared->primaryEngineMode);
  if ((current != kEngineMode2d && requested == kEngineMode2d) ||
      (current != kEngineMode2d && current != kEngineMode3d && requested == kEngineMode3d)) {
    ReinitEngineState(common);
  }
  shared->primaryEngineMode = requested;

  if ((to & kAddressFlagBits) == 0 && !stream->WaitEngineIdle()) return false;
  uint32_t* at = stream->Reserve(kExecuteWords);
  if (at == nullptr) return false;
  BmWriteExecute(at, from, to);
  if (record.kind == kPostTypeEvent && common->syncTagManager != nullptr) {
    const SyncTagEvent event = {record.video[0], 0, record.video[1], 0, record.video[2]};
    if (common->syncTagManager->PostEvent(stream, event)) return true;
  }
  stream->Kick();
  return true;
}

// ---- Component entry 12 --------------------------------------------------------------------------

namespace {

void DeleteStreams(CommonData* common) {
  delete common->secondaryStream;
  common->secondaryStream = nullptr;
  delete common->primaryStream;
  common->primaryStream = nullptr;
  if (common->bmMarker != nullptr) memFree(common->bmMarker);
  common->bmMarker = nullptr;
}

}  // namespace

bool InitBusmastering(PDEV* pdev) {
  CommonData* common = pdev->common;
  const bool first = pdev->IsFirstForBoard();
  if (first) {
    SharedLockedData_t* shared = common->sharedLocked;
    const StreamOptions options =
        MakeStreamOptions(shared->busFlags, DebugFlagsOf(common), shared->frameBufferSize);
    common->primaryStream = new BmPrimInt(common, pdev->unit, options.primary, DebugInfoOf(common));
    if (common->primaryStream != nullptr) {
      common->secondaryStream =
          new BmSecondaryInt(common, pdev->unit, options.secondary, common->primaryStream);
    }
    common->bmMarker = static_cast<uint8_t*>(memAlloc(1));
    if (common->secondaryStream == nullptr || common->bmMarker == nullptr) {
      DeleteStreams(common);
      return false;
    }
  }
  BmPrimInt* primary = common->primaryStream;
  BmSecondaryInt* secondary = common->secondaryStream;
  if (primary == nullptr || secondary == nullptr) return false;
  bool opened = primary->Open();
  if (opened && !secondary->Open()) {
    primary->Close();
    opened = false;
  }
  if (!opened) {
    if (first) DeleteStreams(common);
    return false;
  }
  pdev->primaryStream = primary;
  pdev->secondaryStream = secondary;
  return true;
}

void CleanupBusmastering(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->primaryStream != nullptr) pdev->primaryStream->Close();
  if (pdev->secondaryStream != nullptr) pdev->secondaryStream->Close();
  pdev->primaryStream = nullptr;
  pdev->secondaryStream = nullptr;
  if (pdev->IsFirstForBoard()) DeleteStreams(common);
}
