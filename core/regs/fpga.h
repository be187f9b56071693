// Registers of the output FPGAs on the I2C buses (8-bit register numbers).
#pragma once

#include <stdint.h>

inline constexpr uint8_t kFpgaRegChipSelect = 8;  // high nibble selects an encoder
inline constexpr uint8_t kFpgaRegSync = 10;
inline constexpr uint8_t kFpgaRegControl = 30;    // video path control; 0 off, bit 0 video on
inline constexpr uint8_t kFpgaVideoOn = 0x01;
// Cleared before a register set is written, with the video path off until
// the set is in.
inline constexpr uint8_t kFpgaRegSetGate = 31;
