// PCI configuration registers and bits that the board set-up reads.
#pragma once

#include <cstdint>

inline constexpr uint32_t kCfgId = 0x00;          // vendor (low), device (high)
inline constexpr uint32_t kCfgCommand = 0x04;
inline constexpr uint32_t kCfgClassRevision = 0x08;
inline constexpr uint32_t kCfgBar0 = 0x10;
inline constexpr uint32_t kCfgBar1 = 0x14;
inline constexpr uint32_t kCfgSubsystem = 0x2C;
inline constexpr uint32_t kCfgChipOptions = 0x40;

inline constexpr uint8_t kCommandIoDecode = 0x01;
inline constexpr uint8_t kCommandMemoryDecode = 0x02;
inline constexpr uint32_t kSubclassShift = 16;  // in the class/revision dword
inline constexpr uint32_t kChipOptionsVgaBit = 1u << 8;
inline constexpr uint32_t kChipOptionsLowBits = 0x3;

// Memory base address register: bits 1-2 give its type, 0b10 a 64-bit base.
inline constexpr uint32_t kBarTypeMask = 0x6;
inline constexpr uint32_t kBarType64 = 0x4;
