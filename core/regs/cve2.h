// Registers of the chip's integrated TV encoder (CVE2): 17 words from
// 0x1D80 to 0x1DC0; the encoder's settings are fields of them (the field
// table of hwsharing/chip/cve2.cpp).
#pragma once

#include <stdint.h>

inline constexpr uint32_t kRegCve2First = 0x1D80;
inline constexpr uint32_t kRegCve2Last = 0x1DC0;
inline constexpr uint32_t kRegCve2Standard = 0x1D98;
inline constexpr uint32_t kRegCve2Control = 0x1DA4;
