// The kernel module's own parts of command buffers and their pools: a
// buffer takes page-locked system memory through the glue, or local video
// memory from the kernel's heaps which the processor writes through a
// window of the host aperture; a buffer is busy while the progress mark of
// the switch that left it has not come back from the engine, and the wait
// for a free buffer is bounded.
#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "core/shared_word.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"
#include "kernel/vidmem/surface_manager.h"
#include "kernel/vidmem/surface_mapper.h"

namespace {

// Descriptor of a command buffer in video memory: one plain line of bytes.
constexpr uint32_t kBufferFormat = 0x10;
// Placement code of partition 0's main heap.
constexpr uint32_t kPlacementMain0 = 3;

}  // namespace

// A surface of bytes in the kernel's local heaps (surface type 0, partition
// 0's main heap first). The processor reaches it through its heap's own
// mapping, through the frame-buffer window that stays mapped over
// partition 1, or else through a window of its own, made and locked.
bool BmBuffer::TakeCpuAddress() {
  MmSurfaceManager* manager = common->memoryManager;
  MmSurfaceMapper* mapper = common->memoryRecord != nullptr ? common->memoryRecord->mapper : nullptr;
  if (manager == nullptr || mapper == nullptr) return false;
  MmSurface* s = new MmSurface();
  if (s == nullptr) return false;
  s->shared = shared;
  s->options.unit = unit;
  s->options.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, kBufferFormat);
  s->options.desc.word2 = MmSurfDesc::MakeWord2(1, 1);
  s->options.desc.revision = common->revisionBits;
  s->options.desc.size = size;
  s->options.physicalSize = s->options.desc.GetPhysicalMemSize(false);
  s->options.alignment = s->options.desc.GetRequiredAlignment(false);
  s->options.requestedKind = kSurfLocal;
  s->options.heapSelector = kPlacementMain0;
  if (!manager->CreateSurface(s)) {
    delete s;
    return false;
  }
  surface = s;
  uint8_t* cpu = s->block->cpuAddress;
  if (cpu == nullptr) cpu = manager->FrameBufferWindowAddress(s->block->busAddress, size);
  if (cpu == nullptr) {
    MmHostApertureDesc window = {};
    window.desc = s->options.desc;  // its first word is the surface's device address now
    s->aperture = new MmHostAperture(window);
  }
  if (cpu == nullptr && s->aperture != nullptr) {
    s->aperture->mapper = mapper;
    s->aperture->common = common;
    if (!s->aperture->Lock(nullptr, &cpu)) cpu = nullptr;
  }
  if (cpu == nullptr) {
    GiveBackSurface();
    return false;
  }
  busAddress = s->block->busAddress;
  cpuAddress = cpu;
  return true;
}

// The surface goes back to its heap; its window (unlocked by its
// destruction) goes with it.
void BmBuffer::GiveBackSurface() {
  if (surface == nullptr) return;
  common->memoryManager->DestroySurface(surface);
  delete surface;
  surface = nullptr;
}

bool BmBuffer::AllocMemory(const BmBuffer_AllocOptions& options) {
  if (allocated || common == nullptr || shared == nullptr) return false;
  const uint32_t page = OsGetPageSize();
  const uint32_t entries = options.count < kBmMaxAllocEntries ? options.count : kBmMaxAllocEntries;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t type = options.memoryType[i];
    if (options.size[i] == 0) continue;
    const uint32_t pages = options.size[i] / page + (options.size[i] % page != 0 ? 1 : 0);
    if (type == kBmMemLocal) {
      size = pages * page;
      if (!TakeCpuAddress()) {
        size = 0;
        continue;
      }
      memoryType = kBmMemLocal;
      busType = BmBusTypeOf(kBmMemLocal, shared->busFlags);
      busDelta = static_cast<int64_t>(busAddress - reinterpret_cast<uintptr_t>(cpuAddress));
      cpuMapped = 1;
      allocated = 1;
      return true;
    }
    if (type != kBmMemAgp && type != kBmMemPciLocked) continue;
    void* cpu = nullptr;
    uint64_t bus = 0;
    if (!MmAllocateLockedPages(common, unit, pages, &cpu, &bus)) continue;
    memoryType = type;
    busType = BmBusTypeOf(type, shared->busFlags);
    size = pages * page;
    busAddress = bus;
    cpuAddress = cpu;
    busDelta = static_cast<int64_t>(bus - reinterpret_cast<uintptr_t>(cpu));
    cpuMapped = 1;
    allocated = 1;
    return true;
  }
  return false;
}

void BmBuffer::FreeMemory() {
  if (!allocated) return;
  if (surface != nullptr) {
    GiveBackSurface();
  } else {
    MmFreeLockedPages(common, unit, cpuAddress);
  }
  Reset();
}

bool BmBuffer::IsBusyDMA() const {
  if (fence == 0 || shared == nullptr) return false;
  return BmStampPending(fence, ReadShared(&shared->bufferCounter),
                        ReadShared(&shared->completedBufferCounter));
}

BmBuffer* BmBufferPool::FindNextBuffer() {
  if (bufferCount < 2) return head;
  BmBuffer* found = nullptr;
  // None free in time: null, and the caller keeps the current buffer.
  (void)KernelWait("DMA buffer switch", [&] {
    for (BmBuffer* b = head->next; b != head; b = b->next) {
      if ((b->state & kBmBufferStateBits) == 0 && !b->IsBusyDMA()) {
        found = b;
        return true;
      }
    }
    return false;
  });
  return found;
}
