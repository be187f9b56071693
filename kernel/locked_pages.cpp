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

bool MmAllocateLockedPages(CommonData* common, uint32_t, uint32_t pageCount, void** cpu,
                           uint64_t* bus) {
  OrvDevice* device = BoardGlueDevice(common);
  PhysMemMapper* mapper = common != nullptr ? common->physMemMapper : nullptr;
  if (device == nullptr || mapper == nullptr || cpu == nullptr || bus == nullptr) return false;
  void* address = nullptr;
  const uint64_t busAddress = OsAllocLockedPages(device, pageCount, 0, 0, &address);
  if (busAddress == 0) return false;
  if (!mapper->DeclareSurfaceBuffer(address, busAddress, pageCount)) {
    OsFreeLockedPages(device, busAddress, address, pageCount);
    return false;
  }
  *cpu = address;
  *bus = busAddress;
  return true;
}

bool MmFreeLockedPages(CommonData* common, uint32_t, void* cpu) {
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
