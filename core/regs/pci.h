// PCI configuration space: the offsets and bits the drivers read and write,
// standard ones and the chip's own option dword.
#pragma once

#include <stdint.h>

#include "core/regs/field.h"

// ---- Type 0 header (every function) -----------------------------------------------
inline constexpr uint32_t kCfgVendorDevice = 0x00;  // vendor (low half), device (high half)
inline constexpr uint32_t kCfgCommand = 0x04;       // command (low half), status (high half)
inline constexpr uint32_t kCfgClassRevision = 0x08;  // revision in bits 0-7, subclass 16-23
inline constexpr uint32_t kCfgHeaderDword = 0x0C;    // header type in bits 16-23
inline constexpr uint32_t kCfgBar0 = 0x10;
inline constexpr uint32_t kCfgBar1 = 0x14;
inline constexpr uint32_t kCfgBar2 = 0x18;
inline constexpr uint32_t kCfgSubsystem = 0x2C;
inline constexpr uint32_t kCfgRomBar = 0x30;
inline constexpr uint32_t kCfgCapPointer = 0x34;

// ---- Type 1 header (bridges) --------------------------------------------------------
inline constexpr uint32_t kCfgBridgeBusNumbers = 0x18;  // secondary bus in bits 8-15

// ---- Bits -------------------------------------------------------------------------------
inline constexpr uint8_t kCommandIoDecode = 0x01;
inline constexpr uint8_t kCommandMemoryDecode = 0x02;
// Fields of the class/revision dword.
using CfgRevision = RegField<0, 8>;
using CfgSubclass = RegField<16, 8>;
inline constexpr uint32_t kStatusCapList = 1u << 20;  // status bit 4, in the command dword
inline constexpr uint32_t kHeaderMultiFunction = 1u << 23;
using CfgHeaderType = RegField<16, 7>;  // of the header dword (0x0C)
inline constexpr uint32_t kHeaderTypeBridge = 1;
inline constexpr uint32_t kRomEnable = 1;
// Memory base address register: bits 1-2 give its type, 0b10 a 64-bit base.
inline constexpr uint32_t kBarTypeMask = 0x6;
inline constexpr uint32_t kBarType64 = 0x4;

// ---- The chip's option dword ----------------------------------------------------------
inline constexpr uint32_t kCfgChipOptions = 0x40;
// A chip configuration dword: the power fields of the bus options
// (core/regs/bus.h) come from it.
inline constexpr uint32_t kCfgChipConfigF4 = 0xF4;
inline constexpr uint32_t kChipOptionsLowBits = 0x3;         // copied into the board flags
inline constexpr uint32_t kChipOptionsVgaBit = 1u << 8;
inline constexpr uint32_t kChipOptionsRomOverMemory = 1u << 30;  // option ROM decoded in memory space
