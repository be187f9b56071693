// Register transfers of the Chrontel encoders (indices 0 to 3) at the port
// and address of their records, and the expansion module's chip select that
// routes the bus to one of them.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

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

// One register byte of an encoder, and a read-change-write of one: the
// bits of `clear` cleared, those of `set` set.
inline uint8_t ChrReadByte(BOARDHANDLE* h, uint32_t encoder, uint8_t reg) {
  uint8_t v = 0;
  HSLCHRI2CRead(h, encoder, reg, &v, 1);
  return v;
}
inline void ChrWriteByte(BOARDHANDLE* h, uint32_t encoder, uint8_t reg, uint8_t value) {
  HSLCHRI2CWrite(h, encoder, reg, &value, 1);
}
inline void ChrModifyByte(BOARDHANDLE* h, uint32_t encoder, uint8_t reg, uint8_t clear, uint8_t set) {
  ChrWriteByte(h, encoder, reg, static_cast<uint8_t>((ChrReadByte(h, encoder, reg) & ~clear) | set));
}
