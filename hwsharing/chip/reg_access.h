// The hardware library's one path to the chip: every register,
// configuration-space and delay access of the chip layer goes through these
// helpers, which go through the client services' HW forwarders (so a trace
// or an ordered-access check can be added here, in one place).
#pragma once

#include <stdint.h>

#include "core/client_services.h"
#include "core/regs/pci.h"

inline uint32_t RegRead(BOARDHANDLE* h, uint32_t reg) {
  uint32_t value = 0;
  HWReadRegisterDword(h, reg, &value);
  return value;
}

inline void RegWrite(BOARDHANDLE* h, uint32_t reg, uint32_t value) {
  HWWriteRegisterDword(h, reg, value);
}

// Byte registers (the VGA-compatible ports and the DAC's window).
inline uint8_t RegReadByte(BOARDHANDLE* h, uint32_t reg) {
  uint8_t value = 0;
  HWReadRegisterByte(h, reg, &value);
  return value;
}

inline void RegWriteByte(BOARDHANDLE* h, uint32_t reg, uint8_t value) {
  HWWriteRegisterByte(h, reg, value);
}

// Read, clear the bits of `clear`, set those of `set`, write back.
inline void RegModify(BOARDHANDLE* h, uint32_t reg, uint32_t clear, uint32_t set) {
  RegWrite(h, reg, (RegRead(h, reg) & ~clear) | set);
}

inline uint32_t CfgRead(BOARDHANDLE* h, uint32_t offset) {
  uint32_t value = 0;
  HWReadConfigSpaceDword(h, offset, &value);
  return value;
}

inline uint8_t CfgReadByte(BOARDHANDLE* h, uint32_t offset) {
  uint8_t value = 0;
  HWReadConfigSpaceByte(h, offset, &value);
  return value;
}

inline void CfgWrite(BOARDHANDLE* h, uint32_t offset, uint32_t value) {
  HWWriteConfigSpaceULONG(h, offset, value);
}

inline void CfgWriteByte(BOARDHANDLE* h, uint32_t offset, uint8_t value) {
  HWWriteConfigSpaceByte(h, offset, value);
}

// The device id from configuration space.
inline uint16_t CfgDeviceId(BOARDHANDLE* h) {
  return static_cast<uint16_t>(CfgRead(h, kCfgVendorDevice) >> 16);
}

// A byte of the memory window (the frame buffer, or the option ROM while it
// is mapped over the window).
inline uint8_t MemReadByte(BOARDHANDLE* h, uint32_t offset) {
  uint8_t value = 0;
  ClientReadMemoryByte(h, offset, &value);
  return value;
}

inline uint32_t MemReadDword(BOARDHANDLE* h, uint32_t offset) {
  uint32_t value = 0;
  ClientReadMemoryDword(h, offset, &value);
  return value;
}

// A busy wait of `units` nominal microseconds (bus time).
inline void Delay(BOARDHANDLE* h, uint32_t units) { HWDelay(h, units); }
