// Register transfers of the Chrontel encoders (indices 0 to 3) at the port
// and address of their records, and the expansion module's chip select that
// routes the bus to one of them.
#pragma once

#include <cstdint>

#include "hwsharing/haltypes.h"

inline constexpr HALSTATUS kErrChrRead = 0xb2001124;
inline constexpr HALSTATUS kErrChrWrite = 0xb2002124;
inline constexpr uint32_t kChrEncoders = 4;
// Expansion-module FPGA register that holds the chip select in its high nibble.
inline constexpr uint32_t kCemChipSelectRegister = 8;

HALSTATUS HSLCHRI2CRead(BOARDHANDLE* h, uint32_t encoder, uint32_t reg, uint8_t* data,
                        uint32_t count);
HALSTATUS HSLCHRI2CWrite(BOARDHANDLE* h, uint32_t encoder, uint32_t reg, uint8_t* data,
                         uint32_t count);
HALSTATUS HSLCHRSetChipSelectCEM(BOARDHANDLE* h, uint32_t encoder);
