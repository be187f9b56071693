// The kernel module's own parts of command buffers and their pools: a
// buffer allocates page-locked system memory through the glue (local video
// memory needs the heaps, which the kernel does not have yet, so a local
// candidate is passed over), a buffer is busy while the progress mark of
// the switch that left it has not come back from the engine, and the wait
// for a free buffer is bounded.
#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "kernel/kernel_wait.h"
#include "kernel/locked_pages.h"

namespace {

uint32_t ReadWord(const uint32_t* word) { return *static_cast<const volatile uint32_t*>(word); }

}  // namespace

bool BmBuffer::AllocMemory(const BmBuffer_AllocOptions& options) {
  if (allocated || common == nullptr || shared == nullptr) return false;
  const uint32_t page = OsGetPageSize();
  const uint32_t entries = options.count < kBmMaxAllocEntries ? options.count : kBmMaxAllocEntries;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t type = options.memoryType[i];
    if (type != kBmMemAgp && type != kBmMemPciLocked) continue;
    if (options.size[i] == 0) continue;
    const uint32_t pages = options.size[i] / page + (options.size[i] % page != 0 ? 1 : 0);
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
  MmFreeLockedPages(common, unit, cpuAddress);
  Reset();
}

bool BmBuffer::IsBusyDMA() const {
  if (fence == 0 || shared == nullptr) return false;
  return BmStampPending(fence, ReadWord(&shared->bufferCounter),
                        ReadWord(&shared->completedBufferCounter));
}

BmBuffer* BmBufferPool::FindNextBuffer() {
  if (bufferCount < 2) return head;
  BmBuffer* found = nullptr;
  KernelWait("DMA buffer switch", [&] {
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
