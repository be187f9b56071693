// The X-driver build of the operating-system and mem services: requests go to
// the board's device node, memory and register access through the X server.
#include <string.h>

#include "core/lnx_device.h"
#include "core/orv_ioctl.h"
#include "core/os.h"
#include "core/poll.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr SProcampValues kProcampDefaults = {{25, 750, 1, 10000, 100, 0, 10000}};

// Default option areas of a block request, as the kernel module expects them
// when the caller gives none.
void FillBlockDefaults(OrvBlockRequest& request) {
  memset(&request, 0, sizeof(request));
  const struct {
    uint32_t offset;
    uint32_t value;
  } kDefaults[] = {
      {24, 24}, {28, 10}, {40, 0xFFFFFFFF}, {64, 1},  {72, 0x10000},
      {84, 1},  {96, 1},  {100, 1},         {108, 0x10000},
  };
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&request);
  for (const auto& entry : kDefaults) memcpy(bytes + entry.offset, &entry.value, sizeof(uint32_t));
}

uint32_t PageKind(bool agp, bool locked) {
  if (agp) return kOrvBufferAgp;
  return locked ? kOrvBufferSharedLocked : kOrvBufferShared;
}

bool PostRange(LnxDevice* device, uint32_t kind, uint32_t start, uint32_t end, uint32_t flags,
               const uint32_t* video) {
  if (start == end) return true;
  OrvDmaPostRequest request;
  memset(&request, 0, sizeof(request));
  request.kind = kind;
  request.start = start;
  request.end = end | flags;
  if (video != nullptr) memcpy(request.video, video, sizeof(request.video));
  return device->Ioctl(ORV_IOCTL_POST_DMA, &request, sizeof(request)) == 0;
}

bool FreeBlock(LnxDevice* device, uint32_t kind, uint32_t handle, uint32_t second,
               uint32_t third) {
  OrvBlockRequest request;
  FillBlockDefaults(request);
  request.handle = handle;
  request.second = second;
  request.third = third;
  request.kind = kind;
  return device->Ioctl(ORV_IOCTL_FREE_BLOCK, &request, sizeof(request)) == 0;
}

}  // namespace

int32_t OsInterlockedIncrement(volatile int32_t* word) {
  const int32_t value = *word + 1;
  *word = value;
  return value;
}

int32_t OsInterlockedDecrement(volatile int32_t* word) {
  const int32_t value = *word - 1;
  *word = value;
  return value;
}

bool OsPostBusmasteringBuffer(LnxDevice* device, uint32_t start, uint32_t end, uint32_t flags) {
  return PostRange(device, kDmaPostPrimary, start, end, flags, nullptr);
}

bool OsPostBusmasteringBufferVideo(LnxDevice* device, uint32_t start, uint32_t end,
                                   uint32_t flags, uint32_t video0, uint32_t video1,
                                   uint32_t video2) {
  const uint32_t video[3] = {video0, video1, video2};
  return PostRange(device, kDmaPostVideo, start, end, flags, video);
}

uint64_t OsAllocLockedPages(LnxDevice* device, uint32_t pageCount, bool agp, bool locked,
                            void** address) {
  orv_ioctl_buffer buffer = {};
  buffer.kind = PageKind(agp, locked);
  buffer.flags = kOrvBufferFlagLocked;
  buffer.size = pageCount * static_cast<uint32_t>(xf86getpagesize());
  buffer.offset = 0;
  void* mapped = device->AllocateBuffer(buffer);
  if (mapped == nullptr) return 0;
  if (address != nullptr) *address = mapped;
  return buffer.offset;
}

bool OsFreeLockedPages(LnxDevice* device, uint64_t offset, void* address, uint32_t pageCount,
                       bool agp, bool locked) {
  orv_ioctl_buffer buffer = {};
  buffer.kind = PageKind(agp, locked);
  buffer.flags = kOrvBufferFlagLocked;
  buffer.size = pageCount * static_cast<uint32_t>(xf86getpagesize());
  buffer.offset = offset;
  return device->FreeBuffer(address, buffer);
}

void* OsMapPhysicalMemory(LnxDevice* device, uint64_t offset, uint32_t size) {
  return device->Map(offset, size);
}

bool OsUnmapMemory(LnxDevice* device, void* address, uint32_t size) {
  device->Unmap(address, size);
  return true;
}

bool OsReadRegistryValue(LnxDevice* device, const char* section, const char* key, void* out,
                         uint32_t width) {
  OrvParameterRequest request;
  memset(&request, 0, sizeof(request));
  request.operation = kParameterRead;
  LnxGetParameterName(section, key, request.name);
  if (device->Ioctl(ORV_IOCTL_PARAMETER, &request, sizeof(request)) != 0) return false;
  if (width == kRegistryWidthByte) {
    *static_cast<uint8_t*>(out) = static_cast<uint8_t>(request.value);
  } else if (width == kRegistryWidthWord) {
    const uint16_t value = static_cast<uint16_t>(request.value);
    memcpy(out, &value, sizeof(value));
  } else {
    memcpy(out, &request.value, sizeof(request.value));
  }
  return true;
}

bool OsWriteRegistryValue(LnxDevice* device, const char* section, const char* key,
                          const void* in, uint32_t width) {
  OrvParameterRequest request;
  memset(&request, 0, sizeof(request));
  request.operation = kParameterWrite;
  if (width == kRegistryWidthByte) {
    request.value = *static_cast<const uint8_t*>(in);
  } else if (width == kRegistryWidthWord) {
    uint16_t value;
    memcpy(&value, in, sizeof(value));
    request.value = value;
  } else {
    memcpy(&request.value, in, sizeof(request.value));
  }
  LnxGetParameterName(section, key, request.name);
  return device->Ioctl(ORV_IOCTL_PARAMETER, &request, sizeof(request)) == 0;
}

bool OsReadDrvSwitchValue(LnxDevice* device, const char* key, void* out, uint32_t width) {
  return OsReadRegistryValue(device, "Driver", key, out, width);
}

bool OsAllocApertureBlockMemory(LnxDevice* device, const MmHostApertureOpt* options,
                                uint32_t* handle, uint32_t* second, uint32_t* third,
                                uint32_t* fourth) {
  OrvBlockRequest request;
  FillBlockDefaults(request);
  request.kind = kBlockKindAperture;
  if (options != nullptr) memcpy(request.apertureOptions, options, kHostApertureOptSize);
  if (device->Ioctl(ORV_IOCTL_ALLOC_BLOCK, &request, sizeof(request)) != 0) return false;
  *handle = static_cast<uint32_t>(request.handle);
  *second = request.second;
  *third = request.third;
  *fourth = request.fourth;
  return true;
}

bool OsFreeApertureBlockMemory(LnxDevice* device, uint32_t handle, uint32_t second,
                               uint32_t third) {
  return FreeBlock(device, kBlockKindAperture, handle, second, third);
}

bool OsAllocSurfaceBlockMemory(LnxDevice* device, const MmSurfAllocOpt* options,
                               uint32_t* handle, uint32_t* second, uint32_t* third) {
  OrvBlockRequest request;
  FillBlockDefaults(request);
  request.kind = kBlockKindSurface;
  if (options != nullptr) memcpy(request.surfaceOptions, options, kSurfAllocOptSize);
  if (device->Ioctl(ORV_IOCTL_ALLOC_BLOCK, &request, sizeof(request)) != 0) return false;
  *handle = static_cast<uint32_t>(request.handle);
  *second = request.second;
  *third = request.third;
  return true;
}

bool OsFreeSurfaceBlockMemory(LnxDevice* device, uint32_t handle, uint32_t second,
                              uint32_t third) {
  return FreeBlock(device, kBlockKindSurface, handle, second, third);
}

bool OsGetLocalMemoryInfo(LnxDevice* device, uint32_t index, OsLocalMemoryInfo* out) {
  if (out == nullptr) return false;
  OrvLocalMemoryRequest request;
  memset(&request, 0, sizeof(request));
  request.index = index;
  if (device->Ioctl(ORV_IOCTL_LOCAL_MEMORY, &request, sizeof(request)) != 0) return false;
  out->value72 = request.value72;
  out->size = request.size;
  out->offset = request.offset;
  return true;
}

bool OsSetVSyncInterruptState(LnxDevice* device, const OrvVSyncStateRequest* record) {
  return device->Ioctl(ORV_IOCTL_VSYNC_STATE, const_cast<OrvVSyncStateRequest*>(record),
                       sizeof(OrvVSyncStateRequest)) == 0;
}

bool OsGetProcampValues(IocRequestMgr*, uint32_t, SProcampValues* out) {
  *out = kProcampDefaults;
  return true;
}

bool OsSetProcampValues(IocRequestMgr*, uint32_t, const SProcampValues*) { return true; }

void OsSleepMicroSeconds(uint32_t microseconds) { xf86usleep(microseconds); }

// A wait's pause: the X server sleeps, so a busy engine does not cost it a
// processor spinning on the bus.
bool OsWaitPause() {
  xf86usleep(kWaitStepMicroseconds);
  return true;
}

void OsWaitTimedOut(const char* what, uint32_t boundMicroseconds) {
  ErrorF("[orv] *ERROR* %s: no progress after %u us\n", what, boundMicroseconds);
}
void OsEnterFPUMode() {}
void OsExitFPUMode() {}
uint32_t OsGetPageSize() { return 4096; }

void* memAlloc(size_t size) { return memFileAlloc(size, "UNKNOWN", 0); }

void* memFileAlloc(size_t size, const char*, int) { return xcalloc(1, size); }

bool memFree(void* address) {
  xfree(address);
  return true;
}

void memReadDword(const volatile void* base, uint32_t offset, uint32_t* out) {
  *out = xf86ReadMmio32(const_cast<volatile void*>(base), offset);
}
void memReadWord(const volatile void* base, uint32_t offset, uint16_t* out) {
  *out = xf86ReadMmio16(const_cast<volatile void*>(base), offset);
}
void memReadByte(const volatile void* base, uint32_t offset, uint8_t* out) {
  *out = xf86ReadMmio8(const_cast<volatile void*>(base), offset);
}
void memWriteDword(volatile void* base, uint32_t offset, uint32_t value) {
  xf86WriteMmio32(base, offset, value);
}
void memWriteWord(volatile void* base, uint32_t offset, uint16_t value) {
  xf86WriteMmio16(base, offset, value);
}
void memWriteByte(volatile void* base, uint32_t offset, uint8_t value) {
  xf86WriteMmio8(base, offset, value);
}

bool memRead(const volatile void* base, uint32_t offset, void* destination, uint32_t count) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(base);
  unsigned char* out = static_cast<unsigned char*>(destination);
  while (count > 0) {
    const uintptr_t address = start + offset;
    if ((address & 3) == 0 && count > 3) {
      uint32_t value;
      memReadDword(base, offset, &value);
      memcpy(out, &value, 4);
      offset += 4, out += 4, count -= 4;
    } else if ((address & 1) == 0 && count > 1) {
      uint16_t value;
      memReadWord(base, offset, &value);
      memcpy(out, &value, 2);
      offset += 2, out += 2, count -= 2;
    } else {
      memReadByte(base, offset, out);
      offset += 1, out += 1, count -= 1;
    }
  }
  return true;
}

bool memWrite(volatile void* base, uint32_t offset, const void* source, uint32_t count) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(base);
  const unsigned char* in = static_cast<const unsigned char*>(source);
  while (count > 0) {
    const uintptr_t address = start + offset;
    if ((address & 3) == 0 && count > 3) {
      uint32_t value;
      memcpy(&value, in, 4);
      memWriteDword(base, offset, value);
      offset += 4, in += 4, count -= 4;
    } else if ((address & 1) == 0 && count > 1) {
      uint16_t value;
      memcpy(&value, in, 2);
      memWriteWord(base, offset, value);
      offset += 2, in += 2, count -= 2;
    } else {
      memWriteByte(base, offset, *in);
      offset += 1, in += 1, count -= 1;
    }
  }
  return true;
}
