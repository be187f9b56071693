// DVI transmitter and fan-controller transfers.
#include "hwsharing/encoders/companion.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/chip/miscio.h"

namespace {

HALSTATUS DeviceTransfer(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                         uint8_t* data, uint32_t count, bool read) {
  if (HalFailed(h->status)) return h->status;
  // One attempt: the transmitters are not retried.
  if (!I2cRegisterTransferOnPort(h, port, address, reg, data, count, read, 1))
    SetError(h, read ? kErrSi164Read : kErrSi164Write);
  return h->status;
}

HALSTATUS ByIndex(BOARDHANDLE* h, uint32_t transmitter, uint32_t reg, uint8_t* data,
                  uint32_t count, bool read) {
  if (HalFailed(h->status)) return h->status;
  if (transmitter >= kSi164Transmitters) return SetError(h, read ? kErrSi164Read : kErrSi164Write);
  const I2CDEVICE& chip = h->aSiI164[transmitter];
  return DeviceTransfer(h, chip.ulPort, chip.ulAddress, reg, data, count, read);
}

uint32_t FanPort(uint32_t selector) { return selector != 0 ? kI2cPortBoard16 : kI2cPortBoard1; }

}  // namespace

HALSTATUS HSLSI164I2CReadDevice(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                                uint8_t* data, uint32_t count) {
  return DeviceTransfer(h, port, address, reg, data, count, true);
}

HALSTATUS HSLSI164I2CWriteDevice(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                                 uint8_t* data, uint32_t count) {
  return DeviceTransfer(h, port, address, reg, data, count, false);
}

HALSTATUS HSLSI164I2CRead(BOARDHANDLE* h, uint32_t transmitter, uint32_t reg, uint8_t* data,
                          uint32_t count) {
  return ByIndex(h, transmitter, reg, data, count, true);
}

HALSTATUS HSLSI164I2CWrite(BOARDHANDLE* h, uint32_t transmitter, uint32_t reg, uint8_t* data,
                           uint32_t count) {
  return ByIndex(h, transmitter, reg, data, count, false);
}

HALSTATUS HSLTC664I2CRead(BOARDHANDLE* h, uint32_t selector, uint32_t reg, uint8_t* value) {
  if (HalFailed(h->status)) return h->status;
  const I2cTarget target = I2cOpen(h, FanPort(selector), kFanAddress);
  // Only the read address must be acknowledged.
  I2cStep(h, target, kI2cOpWrite, kFanAddress, kI2cStart);
  I2cStep(h, target, kI2cOpWrite, reg, 0);
  bool ok = I2cStep(h, target, kI2cOpWrite, kFanAddress | 1, kI2cStart | kI2cAck) &&
            I2cStep(h, target, kI2cOpRead, 0, kI2cNak | kI2cStop, value);
  if (!ok) {
    I2cSendStop(h, target, true);
    SetError(h, kErrFanAccess);
  }
  I2cClose(h);
  return h->status;
}

HALSTATUS HSLTC664I2CWrite(BOARDHANDLE* h, uint32_t selector, uint32_t reg, uint8_t value) {
  if (HalFailed(h->status)) return h->status;
  const I2cTarget target = I2cOpen(h, FanPort(selector), kFanAddress);
  const bool ok = I2cStep(h, target, kI2cOpWrite, kFanAddress, kI2cStart | kI2cAck) &&
                  I2cStep(h, target, kI2cOpWrite, reg, kI2cAck) &&
                  I2cStep(h, target, kI2cOpWrite, value, kI2cAck | kI2cStop);
  if (!ok) {
    I2cSendStop(h, target, false);
    SetError(h, kErrFanAccess);
  }
  I2cClose(h);
  return h->status;
}
