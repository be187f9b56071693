// Registers of the DVI transmitters on the I2C buses (8-bit register
// numbers at the transmitter's I2C address).
#pragma once

#include <stdint.h>

inline constexpr uint8_t kSiRegControl = 8;   // bit 2 cleared for dual link
inline constexpr uint8_t kSiRegHotPlug = 9;
inline constexpr uint8_t kSiRegOutput = 10;
inline constexpr uint8_t kSiRegVersionSpecific = 12;
inline constexpr uint8_t kSiRegDualLink1178 = 13;  // the 1178's dual-link bit 4
