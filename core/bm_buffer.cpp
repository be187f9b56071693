// The X driver's own parts of command buffers and their pools: buffers
// whose memory is a surface of the memory manager, the buffer's busy test
// by its surface's stamp, the pool's wait for a free buffer, and the create
// options of the primary interface. The parts both builds share are in
// core/bm_pool.cpp.
#include "core/bm_buffer.h"

#include "core/bm_packets.h"
#include "core/chip_ids.h"
#include "core/hw_register_access.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"
#include "core/poll.h"

namespace {

// Descriptor of a command buffer: a plain buffer of format 0x10.
constexpr uint32_t kBufferFormat = 0x10;

// Memory type of each surface kind (0..8) given to a buffer.
constexpr uint32_t kMemoryTypeOfKind[] = {
    kBmMemLocal,      // 0 local
    kBmMemLocal,      // 1 local through an aperture
    kBmMemAgp,        // 2 AGP
    kBmMemPciLocked,  // 3 PCI locked
    kBmMemPciLocked,  // 4 process
    kBmMemPciLocked,  // 5 system
    kBmMemLocal,      // 6 local, frame-buffer mapping
    kBmMemLocal,      // 7 local
    kBmMemAgp,        // 8 AGP without CPU access
};

uint32_t RoundUpTo(uint32_t value, uint32_t granule) {
  return (value + granule - 1) / granule * granule;
}

bool WaitSurfaceIdle(MmSurface* surface) {
  return WaitFor("command buffer memory: DMA", kEngineWaitMicroseconds,
                 [&] { return !surface->IsBusyDMA(); }) &&
         WaitFor("command buffer memory: drawing", kEngineWaitMicroseconds, [&] {
           uint32_t tag = kSyncTagOfBlock;
           return !surface->IsBusyDWG(&tag, true);
         });
}

}  // namespace

void BmFlushEngine(CommonData* common) {
  const bool next3 = (common->revisionBits & kRevKestrionNext3) != 0;
  HwWriteRegister(common, next3 ? kRegEngineStatus : kRegEngineFlush, kEngineFlush);
}


// ---- BmBuffer -------------------------------------------------------------------------------

bool BmBuffer::IsBusyDMA() const {
  return memoryType != kBmMemProcess && surface != nullptr && surface->IsBusyDMA();
}

BmBuffer* BmBuffer::Create(CommonData* common, uint32_t unit, MmSurface* surface) {
  BmBuffer* buffer = new BmBuffer(common, unit);
  if (buffer != nullptr && !buffer->AssignMemory(surface)) {
    delete buffer;
    return nullptr;
  }
  return buffer;
}

bool BmBuffer::AssignMemory(MmSurface* from) {
  if (allocated || from == nullptr || from->block == nullptr) return false;
  const uint32_t kind = from->placedKind;
  if (kind >= sizeof(kMemoryTypeOfKind) / sizeof(kMemoryTypeOfKind[0])) return false;
  memoryType = kMemoryTypeOfKind[kind];
  busType = BmBusTypeOf(memoryType, shared != nullptr ? shared->busFlags : 0);
  size = static_cast<uint32_t>(from->block->size);
  busAddress = from->block->busAddress;
  cpuAddress = nullptr;
  busDelta = 0;
  cpuMapped = 0;
  return true;
}

void BmBuffer::GiveBackSurface() {
  if (surface == nullptr) return;
  if (surface->master != nullptr) {
    surface->DetachCloneFromMaster();
  } else if (surface->manager != nullptr) {
    surface->manager->DestroySurface(surface);
  }
  delete surface;
  surface = nullptr;
}

bool BmBuffer::TakeCpuAddress() {
  MmSurface* s = surface;
  uint8_t* cpu = nullptr;
  switch (s->placedKind) {
    case kSurfLocal:
    case kSurfLocal7: {
      // Without the kernel module the frame-buffer mapping is a linear view
      // of local memory: no aperture window is spent on a command buffer.
      if (shared->dmaMode == kDmaModeLocal && common->frameBuffer != nullptr &&
          busAddress + size <= common->frameBufferMapSize) {
        cpu = const_cast<uint8_t*>(common->frameBuffer) + busAddress;
      } else if (s->aperture != nullptr) {
        uint64_t apertureAddress = 0;
        if (s->aperture->Lock(&apertureAddress, &cpu)) apertureBus = apertureAddress;
      } else if (s->windowBarred == 0) {
        cpu = s->cpuAddress;
      }
      break;
    }
    case kSurfLocalAperture:
      if (s->aperture != nullptr) {
        uint64_t apertureAddress = 0;
        if (s->aperture->Lock(&apertureAddress, &cpu)) apertureBus = apertureAddress;
      }
      break;
    default:
      cpu = s->cpuAddress;
      break;
  }
  if (cpu == nullptr) return false;
  cpuAddress = cpu;
  busDelta = static_cast<int64_t>(busAddress - reinterpret_cast<uintptr_t>(cpu));
  cpuMapped = 1;
  return true;
}

bool BmBuffer::AllocMemory(const BmBuffer_AllocOptions& options) {
  if (allocated) return false;
  MmSurface* s = new MmSurface();
  if (s == nullptr) return false;
  s->options.unit = unit;
  s->options.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, kBufferFormat);
  s->options.desc.word2 = MmSurfDesc::MakeWord2(1, 1);
  s->options.desc.revision = common->revisionBits;
  s->shared = shared;

  const uint32_t page = OsGetPageSize();
  const uint32_t entries = options.count < kBmMaxAllocEntries ? options.count : kBmMaxAllocEntries;
  MmSurfaceManager* manager = common->memoryManager;
  uint32_t entryBytes = 0;
  bool placed = false;
  for (uint32_t i = 0; i < entries && !placed; ++i) {
    const uint32_t type = options.memoryType[i];
    uint32_t kind;
    switch (type) {
      case kBmMemLocal: kind = options.localKind ? kSurfLocal7 : kSurfLocal; break;
      case kBmMemAgp: kind = kSurfAgp; break;
      case kBmMemPciLocked: kind = kSurfPciLocked; break;
      case kBmMemProcess: kind = kSurfProcess; break;
      default: continue;
    }
    if (options.size[i] == 0) continue;
    const uint32_t bytes = RoundUpTo(options.size[i], page);
    MmSurfDesc& desc = s->options.desc;
    desc.word0 = (desc.word0 & ~kMemBitsMask) | (type & kMemBitsMask);
    desc.size = bytes;
    s->options.physicalSize = desc.GetPhysicalMemSize(false);
    s->options.alignment = desc.GetRequiredAlignment(false);
    s->options.requestedKind = kind;
    // The local-DMA manager places surfaces by heap: command buffers take
    // the first heap (1 MB at the top of the first bank).
    s->options.heapSelector =
        (kind != kSurfProcess && type == kBmMemLocal && shared->dmaMode == kDmaModeLocal)
            ? kHeapSelFirst
            : kHeapSelectorDefault;
    if (kind == kSurfProcess) {
      s->placedKind = kSurfProcess;
      placed = true;
    } else if (manager != nullptr && manager->CreateSurface(s)) {
      placed = true;
    }
    if (placed) entryBytes = bytes;
  }
  if (!placed) {
    delete s;
    return false;
  }

  surface = s;
  allocated = 1;
  size = s->options.desc.size;
  busAddress = s->busWord & ~kBmBusTypeMask;
  switch (s->placedKind) {
    case kSurfLocal:
      memoryType = kBmMemLocal;
      cpuMapped = 0;
      break;
    case kSurfAgp:
    case kSurfPciLocked:
    case kSurfLocalMapped:
    case kSurfLocal7:
      memoryType = (s->placedKind == kSurfAgp || s->placedKind == kSurfPciLocked) ? s->placedKind
                                                                                  : kBmMemLocal;
      if (!WaitSurfaceIdle(s)) {
        // The engine may still read the memory for its previous owner: it
        // is not used, and is set aside until the device goes, so that no
        // one else writes it either.
        if (s->master == nullptr && s->manager != nullptr) s->manager->SetAsideSurface(s);
        FreeMemory();
        return false;
      }
      BmFlushEngine(common);
      // A buffer the processor cannot write is of no use to a pool.
      if (!TakeCpuAddress()) {
        FreeMemory();
        return false;
      }
      break;
    case kSurfProcess:
      memoryType = kBmMemProcess;
      processMemory = 1;
      cpuAddress = memAlloc(entryBytes);
      if (cpuAddress == nullptr) {
        FreeMemory();
        return false;
      }
      busAddress = reinterpret_cast<uintptr_t>(cpuAddress);
      busDelta = 0;
      cpuMapped = 1;
      break;
    default:
      FreeMemory();
      return false;
  }
  busType = BmBusTypeOf(memoryType, shared->busFlags);
  return true;
}

void BmBuffer::FreeMemory() {
  if (!allocated) return;
  if (processMemory) {
    if (cpuAddress != nullptr) memFree(cpuAddress);
    delete surface;
    surface = nullptr;
  } else {
    if (surface != nullptr && surface->aperture != nullptr && apertureBus != 0) {
      surface->aperture->Unlock();
    }
    GiveBackSurface();
  }
  Reset();
}

// ---- BmBufferPool ---------------------------------------------------------------------------

BmBuffer* BmBufferPool::FindNextBuffer() {
  if (bufferCount < 2) return head;
  // The engine frees a buffer as it passes its sync tag. None free in time:
  // null, and the caller keeps the current buffer.
  BmBuffer* found = nullptr;
  (void)WaitFor("free command buffer", kEngineWaitMicroseconds, [&] {
    for (BmBuffer* b = head->next; b != head; b = b->next) {
      if ((b->state & kBmBufferStateBits) != 0) continue;
      if (b->memoryType == kBmMemProcess || !b->IsBusyDMA()) {
        found = b;
        return true;
      }
    }
    return false;
  });
  return found;
}


// ---- Options of the primary interface ---------------------------------------------------------

namespace {

constexpr uint32_t kEmulatedBufferSize = 16384;
constexpr uint32_t kLocalDmaBufferSize = 1048576;
constexpr uint32_t kPostedBufferSize = 262144;
constexpr uint32_t kPostedBufferCount = 2;
constexpr uint32_t kLocalMemoryKept = 4096;

}  // namespace

BmBufferPool::CreateOptions BmPrimaryOptions(uint32_t dmaMode, uint32_t busFlags,
                                             uint32_t debugFlags, uint32_t localMemorySize) {
  BmBufferPool::CreateOptions options;
  options.keepEntries = 1;
  options.reserve = 0;
  switch (dmaMode) {
    case kDmaModeEmulate:
      options.bufferCount = 1;
      options.alloc.Add(kBmMemProcess, kEmulatedBufferSize);
      break;
    case kDmaModeLocal:
      options.bufferCount = 1;
      options.keepEntries = 0;
      options.alloc.Add(kBmMemLocal, kLocalDmaBufferSize);
      options.alloc.Add(kBmMemProcess, kLocalDmaBufferSize);
      break;
    default: {
      options.bufferCount = kPostedBufferCount;
      BmAddSystemMemoryEntries(options.alloc, busFlags, debugFlags, kPostedBufferSize);
      // A quarter of local memory (product in single precision), shared by
      // the buffers. Below 4 KiB of local memory there is no local entry
      // rather than a negative size.
      if (localMemorySize > kLocalMemoryKept) {
        const float quarter = (static_cast<float>(localMemorySize) - 4096.0f) * 0.25f;
        const int32_t bytes = static_cast<int32_t>(quarter) / static_cast<int32_t>(2 * kPostedBufferCount);
        if (bytes > 0) options.alloc.Add(kBmMemLocal, static_cast<uint32_t>(bytes));
      }
      options.alloc.Add(kBmMemProcess, kPostedBufferSize);
      break;
    }
  }
  return options;
}
