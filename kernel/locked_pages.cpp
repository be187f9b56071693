#include "kernel/locked_pages.h"

#include "core/common_data.h"
#include "core/pdev.h"
#include "core/phys_mem_mapper.h"
#include "kernel/kernel_device.h"

// Every device object of a board has the board's device behind its context:
// the pages belong to the board whichever unit asks, and a board whose
// objects are not started yet (its buffers are made at construction) has
// one all the same.
OrvDevice* BoardGlueDevice(CommonData* common) {
  if (common == nullptr || common->ringHead == nullptr) return nullptr;
  KernelDevice* device = DeviceOfContext(common->ringHead->device);
  return device != nullptr ? device->glueDevice : nullptr;
}

namespace {

bool Allocate(CommonData* common, uint32_t pageCount, uint32_t agp, uint32_t locked, void** cpu,
              uint64_t* bus) {
  OrvDevice* device = BoardGlueDevice(common);
  PhysMemMapper* mapper = common != nullptr ? common->physMemMapper : nullptr;
  if (device == nullptr || mapper == nullptr || cpu == nullptr || bus == nullptr) return false;
  *bus = 0;
  void* address = nullptr;
  const uint64_t busAddress = OsAllocLockedPages(device, pageCount, agp, locked, &address);
  if (busAddress == 0) return false;
  if (!mapper->DeclareSurfaceBuffer(address, busAddress, pageCount)) {
    OsFreeLockedPages(device, busAddress, address, pageCount);
    return false;
  }
  *cpu = address;
  *bus = busAddress;
  return true;
}

bool Free(CommonData* common, void* cpu) {
  OrvDevice* device = BoardGlueDevice(common);
  PhysMemMapper* mapper = common != nullptr ? common->physMemMapper : nullptr;
  if (device == nullptr || mapper == nullptr) return false;
  uint64_t bus = 0;
  uint32_t pageCount = 0;
  if (!mapper->GetBufferPhysAttributes(cpu, &bus, &pageCount)) return false;
  if (OsFreeLockedPages(device, bus, cpu, pageCount) == 0) return false;
  mapper->UnDeclareSurfaceBuffer(cpu);
  return true;
}

}  // namespace

bool MmAllocateLockedPages(CommonData* common, uint32_t, uint32_t pageCount, void** cpu,
                           uint64_t* bus) {
  return Allocate(common, pageCount, 0, 0, cpu, bus);
}

bool MmFreeLockedPages(CommonData* common, uint32_t, void* cpu) { return Free(common, cpu); }

bool MmAllocateAGPBuffer(CommonData* common, uint32_t, uint32_t pageCount, void** cpu,
                         uint64_t* bus) {
  return Allocate(common, pageCount, 1, 1, cpu, bus);
}

bool MmAllocatePciLockedBuffer(CommonData* common, uint32_t, uint32_t pageCount, void** cpu,
                               uint64_t* bus) {
  return Allocate(common, pageCount, 0, 1, cpu, bus);
}

bool MmFreeAGPBuffer(CommonData* common, uint32_t, void* cpu) { return Free(common, cpu); }

bool MmFreePciLockedBuffer(CommonData* common, uint32_t, void* cpu) { return Free(common, cpu); }
