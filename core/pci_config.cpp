#include "core/pci_config.h"

#include <string.h>

#include "core/regs/pci.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr uint32_t kCapFirst = 64;
constexpr uint32_t kCapLast = 252;
// A list can hold at most this many dword-aligned entries; a longer walk is
// a loop in the list.
constexpr uint32_t kCapMaxEntries = (kCapLast - kCapFirst) / 4 + 1;

constexpr uint32_t kMaxBus = 255;
constexpr uint32_t kDevicesPerBus = 32;
constexpr uint32_t kFunctionsPerDevice = 8;

uint32_t ReadDword(uint32_t handle, uint32_t offset) {
  uint32_t value;
  csReadDword(handle, offset, &value);
  return value;
}

bool IsPresent(uint32_t handle) {
  const uint32_t vendor = ReadDword(handle, kCfgVendorDevice) & 0xFFFF;
  return vendor != 0 && vendor != 0xFFFF;
}

// Walks the buses from 0 up to a limit (inclusive), raising the limit at each
// bridge whose secondary bus lies beyond it. visit answers true to stop.
template <class Visit>
bool Walk(uint32_t limit, Visit visit) {
  for (uint32_t bus = 0; bus <= limit && bus <= kMaxBus; ++bus) {
    for (uint32_t device = 0; device < kDevicesPerBus; ++device) {
      const uint32_t first = pciGetHandle(bus, device, 0);
      const uint32_t functions =
          (ReadDword(first, kCfgHeaderDword) & kHeaderMultiFunction) ? kFunctionsPerDevice : 1;
      for (uint32_t function = 0; function < functions; ++function) {
        const uint32_t handle = pciGetHandle(bus, device, function);
        if (!IsPresent(handle)) continue;
        const uint32_t header = ReadDword(handle, kCfgHeaderDword);
        if (CfgHeaderType::Get(header) == kHeaderTypeBridge) {
          const uint32_t secondary = (ReadDword(handle, kCfgBridgeBusNumbers) >> 8) & 0xFF;
          if (secondary != 0 && secondary != 0xFF && limit < secondary) {
            limit = secondary + 1 > kMaxBus ? kMaxBus : secondary + 1;
          }
        }
        if (visit(handle)) return true;
      }
    }
  }
  return false;
}

}  // namespace

bool csReadWrite(uint32_t handle, uint32_t offset, void* buffer, uint32_t count, bool write) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  const PCITAG tag = handle;
  while (count > 0) {
    const int at = static_cast<int>(offset);
    if ((offset & 3) == 0 && count >= 4) {
      uint32_t value;
      if (write) {
        memcpy(&value, bytes, 4);
        pciWriteLong(tag, at, value);
      } else {
        value = pciReadLong(tag, at);
        memcpy(bytes, &value, 4);
      }
      offset += 4, bytes += 4, count -= 4;
    } else if ((offset & 1) == 0 && count >= 2) {
      uint16_t value;
      if (write) {
        memcpy(&value, bytes, 2);
        pciWriteWord(tag, at, value);
      } else {
        value = pciReadWord(tag, at);
        memcpy(bytes, &value, 2);
      }
      offset += 2, bytes += 2, count -= 2;
    } else {
      if (write) {
        pciWriteByte(tag, at, *bytes);
      } else {
        *bytes = pciReadByte(tag, at);
      }
      offset += 1, bytes += 1, count -= 1;
    }
  }
  return true;
}

bool csRead(uint32_t handle, uint32_t offset, void* buffer, uint32_t count) {
  return csReadWrite(handle, offset, buffer, count, false);
}

bool csWrite(uint32_t handle, uint32_t offset, const void* buffer, uint32_t count) {
  return csReadWrite(handle, offset, const_cast<void*>(buffer), count, true);
}

bool csReadDword(uint32_t handle, uint32_t offset, uint32_t* value) {
  return csRead(handle, offset, value, 4);
}
bool csReadWord(uint32_t handle, uint32_t offset, uint16_t* value) {
  return csRead(handle, offset, value, 2);
}
bool csReadByte(uint32_t handle, uint32_t offset, uint8_t* value) {
  return csRead(handle, offset, value, 1);
}
bool csWriteDword(uint32_t handle, uint32_t offset, uint32_t value) {
  return csWrite(handle, offset, &value, 4);
}
bool csWriteWord(uint32_t handle, uint32_t offset, uint16_t value) {
  return csWrite(handle, offset, &value, 2);
}
bool csWriteByte(uint32_t handle, uint32_t offset, uint8_t value) {
  return csWrite(handle, offset, &value, 1);
}

uint32_t pciGetHandle(uint32_t bus, uint32_t device, uint32_t function) {
  return pciTag(static_cast<int>(bus), static_cast<int>(device), static_cast<int>(function));
}

bool pciGetTermbase(uint32_t handle, uint32_t reg, uint32_t* base, uint32_t* size) {
  uint32_t original;
  uint32_t sized;
  csReadDword(handle, reg, &original);
  csWriteDword(handle, reg, 0xFFFFFFFF);
  csReadDword(handle, reg, &sized);
  csWriteDword(handle, reg, original);
  *base = original & ~0xFu;
  *size = 0u - (sized & ~0xFu);
  return true;
}

bool pciFindCapability(uint32_t handle, uint32_t* offset, uint8_t id) {
  if ((ReadDword(handle, kCfgCommand) & kStatusCapList) == 0) return false;
  uint8_t pointer;
  csReadByte(handle, kCfgCapPointer, &pointer);
  uint32_t at = pointer & ~3u;
  for (uint32_t step = 0; step < kCapMaxEntries && at >= kCapFirst && at <= kCapLast; ++step) {
    const uint32_t entry = ReadDword(handle, at);
    if ((entry & 0xFF) == id) {
      *offset = at;
      return true;
    }
    at = (entry >> 8) & 0xFF;
  }
  return false;
}

bool pciFindPMCapability(uint32_t handle, uint32_t* offset) {
  return pciFindCapability(handle, offset, kPciCapPowerManagement);
}

bool pciFindAGPCapability(uint32_t handle, uint32_t* offset) {
  return pciFindCapability(handle, offset, kPciCapAgp);
}

bool pciScanBus(PciScanCallback callback, void* data) {
  return Walk(1, [&](uint32_t handle) { return callback(handle, data) != 0; });
}

bool pciScan(PciScanCallback callback, void* data) { return pciScanBus(callback, data); }

bool pciFindVideoBridge(uint32_t bus, uint32_t vendorDevice) {
  return Walk(bus, [&](uint32_t handle) {
    const uint32_t header = ReadDword(handle, kCfgHeaderDword);
    if (CfgHeaderType::Get(header) != kHeaderTypeBridge) return false;
    if (ReadDword(handle, kCfgVendorDevice) != vendorDevice) return false;
    return ((ReadDword(handle, kCfgBridgeBusNumbers) >> 8) & 0xFF) == bus;
  });
}

bool pciGetLocation(uint32_t handle, uint32_t* location) {
  const uint32_t function = handle & 0x7;
  const uint32_t device = (handle >> 3) & 0x1F;
  const uint32_t bus = (handle >> 8) & 0xFF;
  *location = function | (device << 3) | (bus << 8);
  return true;
}
