// Registers of the chip's bus interface, its reset through configuration
// space and the configuration dwords a reset must put back.
#pragma once

#include <stdint.h>

// Bus-interface options. Its power fields come from the chip's
// configuration dword 0xF4 (BusPowerFields); the bits below are chipset
// workarounds. Writers keep the fields of kBusOptKeep as read.
inline constexpr uint32_t kRegBusOptions = 0x300;
inline constexpr uint32_t kBusOptKeep = 0xE0E0FF3F;
inline constexpr uint32_t kBusOptEobTag = 0x40;
inline constexpr uint32_t kBusOptPciRead = 0x80;
inline constexpr uint32_t kBusOptPowerManaged = 0x100;
inline constexpr uint32_t kBusOptCap66Mhz = 0x80000;

// The power fields of the bus options for configuration dword 0xF4: its top
// byte as is, its bit 4 at bit 20, its bits 0-2 at bits 16-18, and the
// power-managed bit.
constexpr uint32_t BusPowerFields(uint32_t configF4) {
  return (configF4 & 0xFF000000) | ((configF4 << 16) & 0x100000) | ((configF4 & 7) << 16) |
         kBusOptPowerManaged;
}

// Bits the later chips' reset forces in the bus options.
inline constexpr uint32_t kBusOptResetForced = (1u << 9) | (1u << 10);
inline constexpr uint32_t kBusOptResetBit8 = 1u << 8;
inline constexpr uint32_t kBusOptResetBit10 = 1u << 10;

// Configuration space.
inline constexpr uint32_t kCfgInterrupt = 0x3C;
inline constexpr uint32_t kCfgChipReset = 0xE0;  // bits 0-1 set: the chip is held in reset
inline constexpr uint8_t kChipResetHold = 0x3;
inline constexpr uint32_t kCfgBusStatus = 0xF4;   // below 8: narrow bus
inline constexpr uint32_t kBusStatusNarrow = 8;
inline constexpr uint32_t kCfgBusControl = 0xF8;
inline constexpr uint32_t kCfgDwords = 64;  // of a conventional function

// Pixel-clock registers that the later chips keep across a power-down.
inline constexpr uint32_t kRegPixelClockKeep0 = 0x360;
inline constexpr uint32_t kRegPixelClockKeep1 = 0x364;

// Device 0x5D63 revision 0 gets bit 5 of this word set with the request
// priorities.
inline constexpr uint32_t kRegLaterRev0 = 0x3A8;
inline constexpr uint32_t kLaterRev0Bit = 0x20;
