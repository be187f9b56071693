// PCI configuration-space primitives, the PCI bus scan and capability
// look-up, over the X server's PCI access.
#pragma once

#include <stdint.h>

// handle is a PCI handle (pciGetHandle). Accesses use the widest unit that
// the configuration offset allows; the buffer side may be unaligned.
bool csReadWrite(uint32_t handle, uint32_t offset, void* buffer, uint32_t count, bool write);
bool csRead(uint32_t handle, uint32_t offset, void* buffer, uint32_t count);
bool csWrite(uint32_t handle, uint32_t offset, const void* buffer, uint32_t count);
bool csReadDword(uint32_t handle, uint32_t offset, uint32_t* value);
bool csReadWord(uint32_t handle, uint32_t offset, uint16_t* value);
bool csReadByte(uint32_t handle, uint32_t offset, uint8_t* value);
bool csWriteDword(uint32_t handle, uint32_t offset, uint32_t value);
bool csWriteWord(uint32_t handle, uint32_t offset, uint16_t value);
bool csWriteByte(uint32_t handle, uint32_t offset, uint8_t value);

// ---- PCI -------------------------------------------------------------------
inline constexpr uint8_t kPciCapPowerManagement = 1;
inline constexpr uint8_t kPciCapAgp = 2;

uint32_t pciGetHandle(uint32_t bus, uint32_t device, uint32_t function);
// Sizes the base address range at the register offset and restores it.
bool pciGetTermbase(uint32_t handle, uint32_t reg, uint32_t* base, uint32_t* size);
bool pciFindCapability(uint32_t handle, uint32_t* offset, uint8_t id);
bool pciFindPMCapability(uint32_t handle, uint32_t* offset);
bool pciFindAGPCapability(uint32_t handle, uint32_t* offset);

// Called for every present function; a non-zero answer stops the scan.
using PciScanCallback = int (*)(uint32_t handle, void* data);
bool pciScanBus(PciScanCallback callback, void* data);
bool pciScan(PciScanCallback callback, void* data);
// Whether a bridge with that vendor-and-device dword has that secondary bus.
bool pciFindVideoBridge(uint32_t bus, uint32_t vendorDevice);
// Function in bits 0-2, device in bits 3-7, bus in bits 8-15.
bool pciGetLocation(uint32_t handle, uint32_t* location);
