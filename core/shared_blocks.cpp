#include "core/shared_blocks.h"

#include <string.h>

#include "core/client_services.h"
#include "core/hw_revision.h"
#include "core/lnx_device.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/regs/pci.h"

namespace {

// The frame buffer is the first base register; the registers follow it, one
// dword later when the frame buffer has a 64-bit base.
constexpr uint32_t kCfgFrameBufferBar = kCfgBar0;
constexpr uint32_t kCfgRegisterBar32 = kCfgBar1;
constexpr uint32_t kCfgRegisterBar64 = kCfgBar2;

// A block of process memory, zeroed, recorded with the given size.
bool AllocateProcessBlock(LnxBufferRecord& record, uint32_t size) {
  void* block = memAlloc(size);
  if (block == nullptr) return false;
  memset(block, 0, size);
  record.address = block;
  record.offset = 0;
  record.size = size;
  record.kind1 = 0;
  return true;
}

// A block the kernel module allocates, mapped into the process.
bool AllocateKernelBlock(LnxDevice* device, LnxBufferRecord& record, uint32_t kind,
                         uint32_t size) {
  orv_ioctl_buffer buffer = {kind, kOrvBufferFlagCommon, 0, size, 0};
  void* block = device->AllocateBuffer(buffer);
  if (block == nullptr) return false;
  record.address = block;
  record.offset = buffer.offset;
  record.size = buffer.size;
  record.kind1 = kind == kOrvBufferSharedLocked ? 1 : 0;
  return true;
}

// What the kernel module would fill, read from configuration space; the
// device's minor is the board's PCI handle in local-DMA mode.
void FillLocalSharedLocked(SharedLockedData_t* shared, uint32_t handle) {
  uint32_t base = 0, size = 0;
  pciGetTermbase(handle, kCfgFrameBufferBar, &base, &size);
  shared->frameBufferPhys = base;
  shared->frameBufferSize = size;
  shared->frameBufferHalf[0] = size / 2;
  shared->frameBufferHalf[1] = size / 2;

  uint32_t bar0 = 0;
  csReadDword(handle, kCfgFrameBufferBar, &bar0);
  uint32_t registerBar =
      (bar0 & kBarTypeMask) == kBarType64 ? kCfgRegisterBar64 : kCfgRegisterBar32;
  pciGetTermbase(handle, registerBar, &base, &size);
  shared->registerPhys = base;
  shared->registerSize = size;

  uint32_t id = 0, classRevision = 0;
  csReadDword(handle, kCfgVendorDevice, &id);
  csReadDword(handle, kCfgClassRevision, &classRevision);
  HwRevisionID::Setup(shared, id, CfgRevision::Get(classRevision));

  shared->dmaMode = kDmaModeLocal;
}

}  // namespace

bool OsGetCommonBuffers(LnxDevice* device, CommonBufferRequest* request) {
  LnxBufferRecord* records = device->buffers;
  const bool local = device->modeWord != 0;

  // Common data and the common locked block are process memory of one
  // fixed size each.
  const uint32_t fixedSizes[2] = {kCommonDataSize, kCommonLockedSize};
  for (int i = kCommonBufferData; i <= kCommonBufferLocked; ++i) {
    LnxBufferRecord& record = records[i];
    if (record.address != nullptr) {
      if (record.size != request->size[i]) return false;
      continue;
    }
    if (request->size[i] != fixedSizes[i]) return false;
    if (!AllocateProcessBlock(record, fixedSizes[i])) return false;
  }

  LnxBufferRecord& shared = records[kCommonBufferShared];
  if (shared.address != nullptr) {
    if (shared.size != request->size[kCommonBufferShared]) return false;
  } else if (local) {
    uint32_t size = request->size[kCommonBufferShared];
    if (size < kSharedDataSize) return false;
    if (!AllocateProcessBlock(shared, size)) return false;
  } else if (!AllocateKernelBlock(device, shared, kOrvBufferShared,
                                  request->size[kCommonBufferShared])) {
    return false;
  }

  LnxBufferRecord& locked = records[kCommonBufferSharedLocked];
  if (locked.address != nullptr) {
    if (locked.size != request->size[kCommonBufferSharedLocked]) return false;
  } else if (local) {
    if (request->size[kCommonBufferSharedLocked] != kSharedLockedSize) return false;
    if (!AllocateProcessBlock(locked, kSharedLockedSize)) return false;
    FillLocalSharedLocked(static_cast<SharedLockedData_t*>(locked.address), device->minor);
  } else if (!AllocateKernelBlock(device, locked, kOrvBufferSharedLocked,
                                  request->size[kCommonBufferSharedLocked])) {
    return false;
  }

  for (int i = 0; i < kLnxBufferCount; ++i) request->address[i] = records[i].address;
  return true;
}

bool OsReleaseCommonBuffers(LnxDevice* device) {
  LnxBufferRecord* records = device->buffers;
  const bool local = device->modeWord != 0;
  for (int i = 0; i < kLnxBufferCount; ++i) {
    LnxBufferRecord& record = records[i];
    if (record.address == nullptr) continue;
    const bool fromKernel =
        !local && (i == kCommonBufferShared || i == kCommonBufferSharedLocked);
    if (fromKernel) {
      orv_ioctl_buffer buffer = {record.kind1 ? kOrvBufferSharedLocked : kOrvBufferShared,
                                 kOrvBufferFlagCommon, 0, record.size, record.offset};
      device->FreeBuffer(record.address, buffer);
    } else {
      memFree(record.address);
    }
    record = LnxBufferRecord{};
  }
  return true;
}

