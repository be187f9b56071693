// Register transfers of the companion chips over an open I2C port, as
// chains of one-byte I2C transactions (HALPI2CExecute).
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Attempts of a transfer before its error is recorded (encoders, FPGAs).
inline constexpr uint32_t kI2cTransferAttempts = 8;

struct I2cTarget {
  uint32_t port;
  uint32_t address;  // 8-bit write address
  uint32_t halfBit;  // what opening the port answered
};

// Opens and closes a port through the device jump table; Open answers the
// target to use.
I2cTarget I2cOpen(BOARDHANDLE* h, uint32_t port, uint32_t address);
void I2cClose(BOARDHANDLE* h);

// A register-block transfer. Write: start and address, the register, the
// bytes, the last one with a stop (its acknowledge is not looked at). Read: start and address, the register,
// a repeated start with the read address, the bytes with an acknowledge,
// the last with a not-acknowledge and a stop. Answers whether every
// acknowledge came; after a failure a stop (a not-acknowledge and a stop on
// reads) has been sent. A count of 0 moves nothing.
bool I2cRegisterTransfer(BOARDHANDLE* h, const I2cTarget& target, uint32_t reg, uint8_t* data,
                         uint32_t count, bool read);

// The whole exchange on a port: open it, run the transfer up to `attempts`
// times, close it. Answers whether an attempt went through.
bool I2cRegisterTransferOnPort(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                               uint8_t* data, uint32_t count, bool read, uint32_t attempts);

// A chip with one register and no index: read = the read address with a
// start, one byte not acknowledged with a stop; write = the address with a
// start, the byte with a stop. Answers whether every acknowledge came; a
// failure sends a stop. OnPort opens and closes the port around it.
bool I2cByteTransfer(BOARDHANDLE* h, const I2cTarget& target, uint8_t* value, bool read);
bool I2cByteTransferOnPort(BOARDHANDLE* h, uint32_t port, uint32_t address, uint8_t* value,
                           bool read);

// One transaction of a hand-made sequence; answers whether it went.
bool I2cStep(BOARDHANDLE* h, const I2cTarget& target, uint32_t op, uint32_t data,
             uint32_t control, uint8_t* readByte = nullptr);
// A stop condition, sent even when the status word already failed.
void I2cSendStop(BOARDHANDLE* h, const I2cTarget& target, bool afterRead);
