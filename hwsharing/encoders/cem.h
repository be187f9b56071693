// Transfers to the expansion module's two FPGAs (I2C addresses 0xE0 and
// 0xE2): block reads and writes with retry and the I2C clock state of the
// board, one-byte access and the write that sends only changed bytes.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrFpgaRead = 0xb2503125;
inline constexpr HALSTATUS kErrFpgaWrite = 0xb2504125;
inline constexpr HALSTATUS kErrFpgaReadRegister = 0xb2401220;
inline constexpr HALSTATUS kErrCpldWrite = 0xb2505125;
inline constexpr uint32_t kCemFpgas = 2;
inline constexpr uint32_t kFpgaAddress0 = 0xE0;
inline constexpr uint32_t kFpgaAddress1 = 0xE2;

// A transfer at `port` and `address`; `clockState` chooses the side whose
// DVO clock is set while retrying (HLSKSTI2CSetClockState).
HALSTATUS HSLKSTAccessCEM_FPGAI2CRead(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                      uint32_t clockState, uint32_t reg, uint8_t* data,
                                      uint32_t count);
HALSTATUS HSLKSTAccessCEM_FPGAI2CWrite(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                       uint32_t clockState, uint32_t reg, uint8_t* data,
                                       uint32_t count);
// One register, one attempt.
HALSTATUS HSLKSTAccessCEM_FPGAI2CReadRegister(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                              uint32_t reg, uint8_t* value);

// The clock-state side of an FPGA transfer on this board.
uint32_t CemFpgaClockState(const BOARDHANDLE* h, uint32_t address);

// FPGA 0 or 1 of the board's records; other numbers do nothing.
HALSTATUS HSLKSTAccessCEM_2FPgasI2CRead(BOARDHANDLE* h, uint32_t fpga, uint32_t reg,
                                        uint8_t* data, uint32_t count);
HALSTATUS HSLKSTAccessCEM_2FPgasI2CWrite(BOARDHANDLE* h, uint32_t fpga, uint32_t reg,
                                         uint8_t* data, uint32_t count);
// write 0 reads one byte into *value, 1 writes it.
HALSTATUS HSLKSTAccessCEM_2FPgasI2C(BOARDHANDLE* h, uint32_t write, uint32_t fpga, uint32_t reg,
                                    uint8_t* value);
// Writes the bytes that differ from `cached` (all of them without a cache):
// each run of changed bytes in one transfer, no unchanged byte. The cache is
// left as it was.
HALSTATUS HSLKSTAccessCEM_2FPgasI2CCachedWrite(BOARDHANDLE* h, uint32_t fpga, uint32_t first,
                                               const uint8_t* data, const uint8_t* cached,
                                               uint32_t count);

// Registers of the expansion module's clock-gating CPLD, at its record's
// port and address, with the encoders' retry rule.
HALSTATUS HSLKSTAccessCPLDI2CWrite(BOARDHANDLE* h, uint32_t first, uint8_t* data, uint32_t count);
