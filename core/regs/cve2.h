// Registers of the chip's integrated TV encoder (CVE2): 17 words from
// 0x1D80 to 0x1DC0; the encoder's settings are fields of them (the field
// table of hwsharing/chip/cve2.cpp).
#pragma once

#include <stdint.h>

inline constexpr uint32_t kRegCve2First = 0x1D80;
inline constexpr uint32_t kRegCve2Last = 0x1DC0;
inline constexpr uint32_t kRegCve2Standard = 0x1D98;
inline constexpr uint32_t kRegCve2Control = 0x1DA4;  // word 9
// Word 17 of the encoder's record is the display configuration word
// (core/regs/interrupts.h); word 18 follows it.
inline constexpr uint32_t kRegCve2Word18 = 0x1DC8;

// ---- The encoder's register set -----------------------------------------------------
// 8-bit register numbers of the CVE2 register set, however it is reached (a
// Velan chip over I2C, the integrated encoder, the DAC's indexed port).
inline constexpr uint8_t kCve2RegSubcarrier = 0;
inline constexpr uint8_t kCve2RegBlack = 14;
inline constexpr uint8_t kCve2RegBlank = 16;
inline constexpr uint8_t kCve2RegWhite = 30;
inline constexpr uint8_t kCve2RegSaturationU = 32;
inline constexpr uint8_t kCve2RegSaturationV = 34;
inline constexpr uint8_t kCve2RegHue = 37;
inline constexpr uint8_t kCve2RegDisable = 62;
