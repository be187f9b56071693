// Register transfers of two companion chips: the DVI transmitters (indices
// 0 to 3, at the port and address of their records) and the fan-speed
// controller at I2C address 0x36.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrSi164Read = 0xb2401220;
inline constexpr HALSTATUS kErrSi164Write = 0xb2402220;
inline constexpr HALSTATUS kErrFanAccess = 0x80000000;
inline constexpr uint32_t kSi164Transmitters = 4;
inline constexpr uint32_t kFanAddress = 0x36;

// One attempt; a missing acknowledge sends a stop and records the error.
HALSTATUS HSLSI164I2CReadDevice(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                                uint8_t* data, uint32_t count);
HALSTATUS HSLSI164I2CWriteDevice(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                                 uint8_t* data, uint32_t count);
HALSTATUS HSLSI164I2CRead(BOARDHANDLE* h, uint32_t transmitter, uint32_t reg, uint8_t* data,
                          uint32_t count);
HALSTATUS HSLSI164I2CWrite(BOARDHANDLE* h, uint32_t transmitter, uint32_t reg, uint8_t* data,
                           uint32_t count);

// The fan controller on board port 16 when `selector` is non-zero, else on
// port 1.
HALSTATUS HSLTC664I2CRead(BOARDHANDLE* h, uint32_t selector, uint32_t reg, uint8_t* value);
HALSTATUS HSLTC664I2CWrite(BOARDHANDLE* h, uint32_t selector, uint32_t reg, uint8_t value);
