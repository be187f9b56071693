// Registers of the TC664 fan-speed controller on the I2C bus (8-bit
// register numbers).
#pragma once

#include <stdint.h>

inline constexpr uint8_t kTc664RegConfig = 2;
inline constexpr uint8_t kTc664RegControl = 4;
inline constexpr uint8_t kTc664ControlShutdown = 0x01;
inline constexpr uint8_t kTc664ControlReset = 0x80;
inline constexpr uint8_t kTc664RegDuty = 6;
inline constexpr uint8_t kTc664RegId = 7;
inline constexpr uint8_t kTc664Id = 0x54;
