#include "hwsharing/chip/i2c_transfer.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "core/poll.h"

I2cTarget I2cOpen(BOARDHANDLE* h, uint32_t port, uint32_t address) {
  uint32_t clock = 0;
  h->oJumpTable.I2COpenPort(h, &clock, port);
  return {port, address, clock};
}

void I2cClose(BOARDHANDLE* h) { h->oJumpTable.I2CClosePort(h); }

bool I2cStep(BOARDHANDLE* h, const I2cTarget& target, uint32_t op, uint32_t data,
             uint32_t control, uint8_t* readByte) {
  I2CTRANSACTION t{};
  t.ulOpCode = op;
  t.ucData = data & 0xFF;
  t.flI2CControl = control;
  t.ulI2CStatus = kI2cDone;
  t.ulHalfBitTime = target.halfBit;
  HALPI2CExecute(h, target.port, &t);
  if (readByte != nullptr) *readByte = static_cast<uint8_t>(t.ucData);
  return t.ulI2CStatus == kI2cDone && !HalFailed(h->status);
}

void I2cSendStop(BOARDHANDLE* h, const I2cTarget& target, bool afterRead) {
  // The bus must be left free even when a failure is already recorded.
  const HALSTATUS saved = h->status;
  h->status = kHalOk;
  I2cStep(h, target, kI2cOpNull, 0, afterRead ? (kI2cNak | kI2cStop) : kI2cStop);
  h->status = saved;
}

bool I2cRegisterTransfer(BOARDHANDLE* h, const I2cTarget& target, uint32_t reg, uint8_t* data,
                         uint32_t count, bool read) {
  if (count == 0) return true;
  bool ok = I2cStep(h, target, kI2cOpWrite, target.address, kI2cStart | kI2cAck) &&
            I2cStep(h, target, kI2cOpWrite, reg, kI2cAck);
  if (read) {
    ok = ok && I2cStep(h, target, kI2cOpWrite, target.address | 1, kI2cStart | kI2cAck);
    for (uint32_t i = 0; ok && i < count; ++i) {
      const bool last = i + 1 == count;
      ok = I2cStep(h, target, kI2cOpRead, 0, last ? (kI2cNak | kI2cStop) : kI2cAck, &data[i]);
    }
  } else {
    for (uint32_t i = 0; ok && i < count; ++i) {
      const bool last = i + 1 == count;
      ok = I2cStep(h, target, kI2cOpWrite, data[i], last ? kI2cStop : kI2cAck);
    }
  }
  if (!ok) I2cSendStop(h, target, read);
  return ok;
}

bool I2cRegisterTransferOnPort(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                               uint8_t* data, uint32_t count, bool read, uint32_t attempts) {
  const I2cTarget target = I2cOpen(h, port, address);
  const bool done = PollUntil(
      [&] { return I2cRegisterTransfer(h, target, reg, data, count, read); }, attempts);
  I2cClose(h);
  return done;
}

bool I2cByteTransfer(BOARDHANDLE* h, const I2cTarget& target, uint8_t* value, bool read) {
  const bool ok =
      read ? I2cStep(h, target, kI2cOpWrite, target.address | 1, kI2cStart | kI2cAck) &&
                 I2cStep(h, target, kI2cOpRead, 0, kI2cNak | kI2cStop, value)
           : I2cStep(h, target, kI2cOpWrite, target.address, kI2cStart | kI2cAck) &&
                 I2cStep(h, target, kI2cOpWrite, *value, kI2cStop | kI2cAck);
  if (!ok) I2cSendStop(h, target, read);
  return ok;
}

bool I2cByteTransferOnPort(BOARDHANDLE* h, uint32_t port, uint32_t address, uint8_t* value,
                           bool read) {
  const I2cTarget target = I2cOpen(h, port, address);
  const bool ok = I2cByteTransfer(h, target, value, read);
  I2cClose(h);
  return ok;
}
