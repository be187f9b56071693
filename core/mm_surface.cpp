// The X driver's own members of MmSurface: binding to a block the kernel
// module (or the local-DMA heaps) gave, the vertex window, host apertures
// through the X driver's mapper, and the engine's progress as the X driver
// sees it.
#include "core/mm_surface.h"

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/hw_register_access.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"

// ---- MmSurface ------------------------------------------------------------------------------

bool MmSurface::CanUseVertexHostAperture() const {
  if (manager == nullptr || manager->vertexWindow == nullptr || block == nullptr) return false;
  const MmVertexWindow& window = *manager->vertexWindow;
  const uint64_t bus = block->busAddress;
  return window.busBase <= bus && bus + block->size <= uint64_t{window.busBase} + window.size;
}

void MmSurface::AttachToBlock(MmBlock* newBlock) {
  block = newBlock;
  uint32_t memoryBits;
  switch (placedKind) {
    case kSurfAgp:
      memoryBits = kMemAgp;
      if (windowBarred == 0) {
        const uint32_t flags = shared != nullptr ? shared->busFlags : 0;
        memoryBits = ((flags & 0x10) != 0 && (flags & 0x400) == 0) ? kMemAgp : kMemPciLocked;
      }
      break;
    case kSurfPciLocked:
      memoryBits = kMemPciLocked;
      break;
    default:
      memoryBits = kMemLocal;
      break;
  }
  busWord = block->busAddress | memoryBits;
  if ((options.flags & kSurfKeepAddress) == 0) options.desc.word0 = busWord;

  switch (placedKind) {
    case kSurfLocal:
    case kSurfLocal7:
      if (windowBarred == 0 && CanUseVertexHostAperture()) {
        const MmVertexWindow& window = *manager->vertexWindow;
        cpuAddress = window.cpuBase + window.offset + (block->busAddress - window.busBase);
        break;
      }
      [[fallthrough]];
    case kSurfLocalAperture:
      if (aperture == nullptr) {
        aperture = new MmHostAperture(lockMapper, options.apertureWord, options.desc);
      }
      break;
    case kSurfAgp:
    case kSurfPciLocked:
    case kSurfLocalMapped:
      cpuAddress = block->cpuAddress;
      break;
    default:
      break;
  }
}

void MmSurface::DetachFromBlock() {
  block = nullptr;
  cpuAddress = nullptr;
  busWord = 0;
  if ((options.flags & kSurfForeignAperture) == 0 && aperture != nullptr) {
    if (aperture->mapper != nullptr) aperture->mapper->ReleaseAperture(aperture);
    delete aperture;
    aperture = nullptr;
  }
}

bool MmSurface::IsBusyDMA() const {
  if (block == nullptr || shared == nullptr) return false;
  const uint32_t stamp = block->dmaStamp;
  const uint32_t done = shared->completedBufferCounter;
  const uint32_t counter = shared->bufferCounter;
  if (counter >= done && (done >= stamp || counter < stamp)) return false;
  return shared->notBusyOverride == 0;
}

bool MmSurface::IsBusyDWG(uint32_t* tag, bool update) {
  if (block == nullptr) return false;
  if (*tag == kSyncTagOfBlock) *tag = static_cast<uint32_t>(block->drawSyncTag);
  if (*tag == kSyncTagNew) {
    // A new sync: the board's primary command interface writes a sync
    // packet with a fresh tag (switching buffers when it does not fit) and
    // starts it. Without one nothing can be pending.
    BmPrimInt* prim = manager != nullptr ? manager->primInt : nullptr;
    if (prim == nullptr) return false;
    // The tag counter and the stream are shared with the kernel module:
    // write and start under the command lock (nested in a caller's hold).
    // Without the lock no tag is issued, and the surface counts as busy.
    if (!BmAcquireCommandLock(prim->shared, kCmdLockOwnerXDriver)) return true;
    *tag = prim->WriteSyncPacket();
    // A failed post keeps the range for the next start: the tag stays
    // pending until then.
    prim->Start();
    BmReleaseCommandLock(prim->shared, kCmdLockOwnerXDriver);
    if (update) block->drawSyncTag = static_cast<int32_t>(*tag);
  }
  if (shared == nullptr) return false;
  // The engine's progress: its register when the X driver drives the DMA,
  // the kernel module's report otherwise.
  uint32_t reached = shared->completedTag;
  if (shared->dmaMode != kDmaModePost) {
    if (manager == nullptr) return false;
    reached = HwReadRegister(manager->common, kRegSyncTagReached);
  }
  return BmSyncTagPending(*tag, shared->syncTagCounter, reached);
}

bool MmSurface::IsBusy() {
  uint32_t tag = kSyncTagOfBlock;
  return IsBusyDWG(&tag, true) || IsBusyDMA();
}

bool MmSurface::LockDown(uint32_t value) {
  return lockMapper != nullptr && lockMapper->LockDown(this, value);
}

bool MmSurface::UnlockDown(uint32_t value) {
  return lockMapper != nullptr && lockMapper->UnlockDown(this, value);
}

