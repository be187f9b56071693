// Registers of the chip's bus interface.
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
