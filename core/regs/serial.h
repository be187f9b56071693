// The serial memories: the option ROM's SPI flash, bit-banged through four
// pins of register 0x304, and its commands.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kRegSpiPins = 0x304;
inline constexpr uint32_t kSpiBypass = 1u << 0;   // hands the flash pins to the bit-bang interface
inline constexpr uint32_t kSpiClock = 1u << 4;
inline constexpr uint32_t kSpiDataOut = 1u << 8;  // to the flash
inline constexpr uint32_t kSpiChipSelectN = 1u << 12;  // active low
inline constexpr uint32_t kSpiDataIn = 1u << 16;  // from the flash, read only

inline constexpr uint8_t kFlashCmdAtmelId = 0x15;
inline constexpr uint8_t kFlashCmdReleaseId = 0xAB;
inline constexpr uint8_t kFlashCmdRead = 0x03;
