// The blocks a board shares: Shared data and Shared locked data, made at
// device create and mapped by the X driver, and the kernel build of the
// driver core's common-buffer calls, which hand every device object the
// board's four blocks.
#include <string.h>

#include "core/common_data.h"
#include "core/hw_revision.h"
#include "core/os.h"
#include "core/regs/dma.h"
#include "core/regs/pci.h"
#include "core/shared_blocks.h"
#include "kernel/kernel_device.h"
#include "kernel/register_guard.h"

namespace {

constexpr int kMessageLevel = 1;

OrvContext* Pool(KernelDevice* device) { return device->own->context; }

uint32_t ConfigDword(OrvPciDevice* pci, uint32_t offset) {
  uint32_t value = 0;
  if (pci == nullptr || ClientPciConfigReadDword(pci, offset, &value) != 0) return 0;
  return value;
}

void InitSharedData(KernelDevice* device, OrvRegion* region) {
  auto* shared = static_cast<SharedData_t*>(OrvRegion_GetLinear(region));
  OrvPciDevice* board = OrvDevice_GetPciHandle(device->glueDevice);
  shared->blockSize = OrvRegion_GetSize(region);
  shared->blockPhysAddr = static_cast<uint32_t>(OrvRegion_GetPhys(region));
  shared->pciId = ConfigDword(board, kCfgVendorDevice);
  shared->pciClassRevision = ConfigDword(board, kCfgClassRevision);
  shared->hostBridgeId = ConfigDword(OrvPciDevice_GetHostHandle(), kCfgVendorDevice);
  shared->pciConfigF4 = ConfigDword(board, kCfgChipConfigF4);
}

void InitSharedLockedData(KernelDevice* device, OrvRegion* region, const SharedData_t* data) {
  auto* shared = static_cast<SharedLockedData_t*>(OrvRegion_GetLinear(region));
  const uint64_t phys = OrvRegion_GetPhys(region);
  shared->blockPhysAddr = static_cast<uint32_t>(phys);
  shared->bufferReportWord = static_cast<uint32_t>(phys) + offsetof(SharedLockedData_t, completedBufferCounter);
  shared->blockSize = OrvRegion_GetSize(region);
  shared->blockPhysAddr64 = phys;
  // The X driver reads the chip's revision bits here before anything else.
  HwRevisionID::Setup(shared, data->pciId, data->pciClassRevision & 0xFF);
  shared->multiProcessor = ClientGetNbCPUs() > 1 ? 1 : 0;
  shared->regGuardEnable = 1;
  shared->lastRegWritten = kLastRegNone;
  shared->last1300Value = kLastRegNone;
  shared->expectedDmaStatus =
      GuardedRead(GetDeviceRegisterHandle(device), shared, kRegDmaStatus);
  OrvRegion* frameBuffer = OrvDevice_GetFrameBuffer(device->glueDevice);
  shared->frameBufferPhys = static_cast<uint32_t>(OrvRegion_GetPhys(frameBuffer));
  shared->frameBufferSize = OrvRegion_GetSize(frameBuffer);
  shared->frameBufferHalf[0] = shared->frameBufferSize / 2;
  shared->frameBufferHalf[1] = shared->frameBufferSize / 2;
  OrvRegion* registers = OrvDevice_GetRegisters(device->glueDevice);
  shared->registerPhys = static_cast<uint32_t>(OrvRegion_GetPhys(registers));
  shared->registerSize = OrvRegion_GetSize(registers);
  shared->busFlags = OrvDevice_GetBmFlags(device->glueDevice);
  for (SharedPendingSlot& slot : shared->pendingSlots) slot.postType = kPendingSlotFree;
}

// The region of one of the device's four blocks, or null.
OrvRegion* RegionOf(KernelDevice* device, const void* linear) {
  return linear != nullptr ? OrvRegion_FindFromVirtual(device->glueDevice, linear) : nullptr;
}

// Common data and the common locked block: found from the device, or made on
// first use with the caller's size. *made tells a new region apart.
OrvRegion* FindOrMakeCommon(KernelDevice* device, void** linear, uint32_t size, uint32_t type,
                            const char* what, bool* made) {
  *made = false;
  if (*linear == nullptr) {
    OrvRegion* region = OrvRegion_Alloc(Pool(device), size, type, 0, 0);
    if (region == nullptr) {
      ClientPrintLevel(kMessageLevel, "[orv] *ERROR* Kestrion OS: Failed to allocate %s buffer (sz: %lu)\n",
                       what, static_cast<unsigned long>(size));
      return nullptr;
    }
    *linear = OrvRegion_GetLinear(region);
    *made = true;
    return region;
  }
  OrvRegion* region = RegionOf(device, *linear);
  if (region == nullptr)
    ClientPrintLevel(kMessageLevel, "[orv] *ERROR* Kestrion OS: Failed to retrieve %s buffer\n", what);
  return region;
}

// Shared data and Shared locked data exist from device create.
OrvRegion* FindShared(KernelDevice* device, const void* linear, const char* what) {
  if (linear == nullptr)
    ClientPrintLevel(kMessageLevel, "[orv] *ERROR* %s buffer are not initialize yet?!?\n", what);
  OrvRegion* region = RegionOf(device, linear);
  if (region == nullptr)
    ClientPrintLevel(kMessageLevel, "[orv] *ERROR* Kestrion OS: Failed to retrieve %s buffer\n", what);
  return region;
}

}  // namespace

int AllocateSharedBuffers(KernelDevice* device) {
  if (device->sharedData != nullptr || device->sharedLocked != nullptr) return 0;
  OrvRegion* data = OrvRegion_Alloc(Pool(device), kSharedDataSize, kOrvRegionPlain, kOrvRegionShared, 0);
  if (data == nullptr) {
    ClientPrintLevel(kMessageLevel,
                     "[orv] *ERROR* Kestrion OS: Failed to allocate Shared data buffer (sz: %u)\n",
                     kSharedDataSize);
    return 0;
  }
  OrvRegion* locked =
      OrvRegion_Alloc(Pool(device), kSharedLockedSize, kOrvRegionLocked, kOrvRegionShared, 0);
  if (locked == nullptr) {
    ClientPrintLevel(kMessageLevel,
                     "[orv] *ERROR* Kestrion OS: Failed to allocate Shared locked data buffer (sz: %u)\n",
                     kSharedLockedSize);
    OrvRegion_Free(Pool(device), data);
    return 0;
  }
  device->sharedData = static_cast<SharedData_t*>(OrvRegion_GetLinear(data));
  device->sharedLocked = static_cast<SharedLockedData_t*>(OrvRegion_GetLinear(locked));
  InitSharedData(device, data);
  InitSharedLockedData(device, locked, device->sharedData);
  OrvRegion_IncrementRefCount(data);
  OrvRegion_IncrementRefCount(locked);
  return 1;
}

void FreeSharedBuffers(KernelDevice* device) {
  void** blocks[] = {reinterpret_cast<void**>(&device->sharedData),
                     reinterpret_cast<void**>(&device->sharedLocked)};
  for (void** linear : blocks) {
    if (OrvRegion* region = RegionOf(device, *linear)) {
      OrvRegion_DecrementRefCount(region);
      OrvRegion_Free(Pool(device), region);
    }
    *linear = nullptr;
  }
}

bool OsGetCommonBuffers(OsDevice* context, CommonBufferRequest* request) {
  KernelDevice* device = DeviceOfContext(context);
  if (device == nullptr || request == nullptr) return false;
  bool madeCommon = false, madeLocked = false;
  OrvRegion* regions[4] = {};
  regions[kCommonBufferData] =
      FindOrMakeCommon(device, reinterpret_cast<void**>(&device->commonData),
                       request->size[kCommonBufferData], kOrvRegionPlain, "Common data", &madeCommon);
  if (regions[kCommonBufferData] != nullptr) {
    regions[kCommonBufferLocked] = FindOrMakeCommon(
        device, reinterpret_cast<void**>(&device->commonLocked), request->size[kCommonBufferLocked],
        kOrvRegionLocked, "Common locked data", &madeLocked);
  }
  if (regions[kCommonBufferLocked] != nullptr) {
    regions[kCommonBufferShared] = FindShared(device, device->sharedData, "Shared data");
    if (regions[kCommonBufferShared] != nullptr)
      regions[kCommonBufferSharedLocked] = FindShared(device, device->sharedLocked, "Shared locked data");
  }
  bool ok = regions[kCommonBufferSharedLocked] != nullptr;
  for (int i = 0; ok && i < 4; ++i) ok = OrvRegion_GetSize(regions[i]) == request->size[i];
  if (regions[kCommonBufferSharedLocked] != nullptr && !ok)
    ClientPrintLevel(kMessageLevel, "[orv] *ERROR* Common buffer sizes doesn't match with device ones\n");
  if (!ok) {
    // A common region this call made goes again: nothing else would free it.
    if (madeLocked) {
      OrvRegion_Free(Pool(device), regions[kCommonBufferLocked]);
      device->commonLocked = nullptr;
    }
    if (madeCommon) {
      OrvRegion_Free(Pool(device), regions[kCommonBufferData]);
      device->commonData = nullptr;
    }
    return false;
  }
  request->address[kCommonBufferData] = device->commonData;
  request->address[kCommonBufferLocked] = device->commonLocked;
  request->address[kCommonBufferShared] = device->sharedData;
  request->address[kCommonBufferSharedLocked] = device->sharedLocked;
  for (OrvRegion* region : regions) OrvRegion_IncrementRefCount(region);
  return true;
}

bool OsReleaseCommonBuffers(OsDevice* context) {
  KernelDevice* device = DeviceOfContext(context);
  if (device == nullptr) return false;
  void** blocks[] = {reinterpret_cast<void**>(&device->commonData),
                     reinterpret_cast<void**>(&device->commonLocked),
                     reinterpret_cast<void**>(&device->sharedData),
                     reinterpret_cast<void**>(&device->sharedLocked)};
  for (void** linear : blocks) {
    OrvRegion* region = RegionOf(device, *linear);
    if (region == nullptr) continue;
    if (OrvRegion_DecrementRefCountAndTest(region)) {
      OrvRegion_Free(Pool(device), region);
      *linear = nullptr;
    }
  }
  return true;
}
