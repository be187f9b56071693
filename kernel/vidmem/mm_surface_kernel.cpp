// The kernel module's own members of MmSurface: binding a surface to a
// block of the kernel's heaps, and asking whether the engine still uses it.
// The kernel has no vertex window and no lock-down of surfaces.
#include "core/bm_packets.h"
#include "core/common_data.h"
#include "core/mm_surface.h"
#include "core/regs/dma.h"
#include "core/shared_word.h"
#include "kernel/vidmem/surface_mapper.h"

namespace {

// Bus flags that make an AGP block AGP on the bus (else PCI-locked).
constexpr uint32_t kBusFlagAgpBus = 0x10;
constexpr uint32_t kBusFlagAgpAsPciBus = 0x400;

}  // namespace

bool MmSurface::CanUseVertexHostAperture() const { return false; }

void MmSurface::AttachToBlock(MmBlock* newBlock) {
  block = newBlock;
  uint32_t memoryBits = kMemLocal;
  switch (placedKind) {
    case kSurfAgp: {
      const uint32_t flags = shared != nullptr ? shared->busFlags : 0;
      memoryBits = ((flags & kBusFlagAgpBus) != 0 && (flags & kBusFlagAgpAsPciBus) == 0) ? kMemAgp
                                                                                           : kMemPciLocked;
      break;
    }
    case kSurfPciLocked:
    case kSurfProcess:
      memoryBits = kMemPciLocked;
      break;
    default:
      break;
  }
  busWord = static_cast<uint32_t>(block->busAddress) | memoryBits;
  if ((options.flags & kSurfKeepAddress) == 0) options.desc.word0 = busWord;
  cpuAddress = block->cpuAddress;
}

void MmSurface::DetachFromBlock() {
  block = nullptr;
  cpuAddress = nullptr;
  busWord = 0;
  if ((options.flags & kSurfForeignAperture) == 0 && aperture != nullptr) {
    delete aperture;  // gives its window back
    aperture = nullptr;
  }
}

bool MmSurface::IsBusyDMA() const {
  if (block == nullptr || shared == nullptr || block->dmaStamp == 0) return false;
  return BmStampPending(block->dmaStamp, ReadShared(&shared->bufferCounter),
                        ReadShared(&shared->completedBufferCounter));
}

bool MmSurface::IsBusyDWG(uint32_t* tag, bool) {
  if (block == nullptr || shared == nullptr) return false;
  if (*tag == kSyncTagOfBlock) *tag = static_cast<uint32_t>(block->drawSyncTag);
  // The kernel issues no sync of its own here: a new tag is never pending.
  if (*tag == kSyncTagNew || *tag == 0) return false;
  return BmSyncTagPending(*tag, ReadShared(&shared->syncTagCounter), ReadShared(&shared->completedTag));
}

bool MmSurface::IsBusy() {
  uint32_t tag = kSyncTagOfBlock;
  return IsBusyDWG(&tag, true) || IsBusyDMA();
}

bool MmSurface::LockDown(uint32_t) { return false; }
bool MmSurface::UnlockDown(uint32_t) { return false; }
