// The colour look-up tables of the display controllers. Module m's registers
// sit kLutModuleStride x m above module 0's; controllers 0 and 1 use the
// first group, controllers 2 and 3 the second.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kLutModuleStride = 0x200;
inline constexpr uint32_t kRegLutControl = 0x1800;   // bit 9 bypass, bit 10 low-end compensation
inline constexpr uint32_t kLutBypass = 1u << 9;
inline constexpr uint32_t kLutCompLowEnd = 1u << 10;
inline constexpr uint32_t kRegLutComp0 = 0x180C;     // six words, 0x180C .. 0x1820
inline constexpr uint32_t kRegLutIndex = 0x1838;     // then red, green, blue
inline constexpr uint32_t kRegLutSecondControl = 0x19A8;
inline constexpr uint32_t kLutSecondBypass = 1u << 11;
inline constexpr uint32_t kRegLutSecondIndex = 0x19B8;
inline constexpr uint32_t kLutRed = 4, kLutGreen = 8, kLutBlue = 12;  // after the index
inline constexpr uint32_t kLutCommit = 1u << 31;  // on the blue write: store and step
inline constexpr uint32_t kLutFirstMask = 0xFFC0;
inline constexpr uint32_t kLutSecondMask = 0xFF00;

// The expansion module's FPGA table.
inline constexpr uint32_t kFpgaLutFirst = 3;  // registers 3, 4, 5 take one entry
inline constexpr uint32_t kFpgaLutControl = 5;
inline constexpr uint8_t kFpgaLutEnable = 0x80;
