// The bit-banged I2C master: one byte-sized transaction at a time on an
// open port, through the SCL/SDA slots of the device jump table.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Operation codes.
inline constexpr uint32_t kI2cOpNull = 0;
inline constexpr uint32_t kI2cOpRead = 1;
inline constexpr uint32_t kI2cOpWrite = 2;
inline constexpr uint32_t kI2cOpNothing = 4;
inline constexpr uint32_t kI2cOpReset = 8;
inline constexpr uint32_t kI2cOpGetScl = 0xD100;
inline constexpr uint32_t kI2cOpSetScl = 0xD200;
inline constexpr uint32_t kI2cOpGetSda = 0xD300;
inline constexpr uint32_t kI2cOpSetSda = 0xD400;

// Control bits.
inline constexpr uint32_t kI2cStart = 0x01;
inline constexpr uint32_t kI2cStop = 0x02;
inline constexpr uint32_t kI2cReinit = 0x04;    // stop then start before anything else
inline constexpr uint32_t kI2cAck = 0x10;       // write: report NAK; read: send ACK
inline constexpr uint32_t kI2cNak = 0x20;
inline constexpr uint32_t kI2cCheckScl = 0x40;  // write: report SCL held low
inline constexpr uint32_t kI2cExtraClock = 0x80;

// Results in ulI2CStatus.
inline constexpr uint32_t kI2cDone = 0;
inline constexpr uint32_t kI2cBusBusy = 2;
inline constexpr uint32_t kI2cNoAck = 3;
inline constexpr uint32_t kI2cSclStuck = 0xB1;

// Half-bit time of the exported entry for a rate of 0.
inline constexpr uint32_t kI2cDefaultHalfBitUs = 40;

HALSTATUS HALPI2CExecute(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPReadI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPWriteI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPNullI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPResetI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CStop(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CStart(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CAck(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CNak(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CReadByte(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CWriteByte(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPI2CWaitAck(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);

HALSTATUS HALPGetSCL(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPSetSCL(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPGetSDA(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
HALSTATUS HALPSetSDA(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);

// Exported entry: clears the status; word 5 of the record is the bus rate in Hz.
HALSTATUS HALI2CExecute(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t);
