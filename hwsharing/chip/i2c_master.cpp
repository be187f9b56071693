// The bit-banged I2C master. Lines are driven and sampled through the SCL
// and SDA slots of the device jump table; 1 releases a line, 0 pulls it low.
#include "hwsharing/chip/i2c_master.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000;

struct Bus {
  BOARDHANDLE* h;
  uint32_t port;
  I2CTRANSACTION* t;

  void Scl(uint32_t level) const { h->oJumpTable.I2CSetSCL(h, port, level); }
  void Sda(uint32_t level) const { h->oJumpTable.I2CSetSDA(h, port, level); }
  uint8_t ReadScl() const {
    uint8_t level = 0;
    h->oJumpTable.I2CGetSCL(h, port, &level);
    return level & 1;
  }
  uint8_t ReadSda() const {
    uint8_t level = 0;
    h->oJumpTable.I2CGetSDA(h, port, &level);
    return level & 1;
  }
  void Wait(uint32_t halfBits) const { Delay(h, halfBits * t->ulHalfBitTime); }
  bool Control(uint32_t bit) const { return (t->flI2CControl & bit) != 0; }
};

// The start of every transfer: a clean status, then the conditions that the
// control bits ask for before the byte.
void Prefix(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  t->ulI2CStatus = kI2cDone;
  if (t->flI2CControl & kI2cReinit) {
    HALPI2CStop(h, port, t);
    HALPI2CStart(h, port, t);
    if (t->flI2CControl & kI2cStart) HALPI2CStart(h, port, t);
  } else if (t->flI2CControl & kI2cStart) {
    HALPI2CStart(h, port, t);
  }
}

}  // namespace

// ---- Bus primitives --------------------------------------------------------------

HALSTATUS HALPI2CStart(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Sda(1);
  if (bus.ReadSda() == 0) t->ulI2CStatus = kI2cBusBusy;
  bus.Wait(1);
  bus.Scl(1);
  bus.Wait(1);
  bus.Sda(0);
  bus.Wait(1);
  bus.Scl(0);
  return h->status;
}

HALSTATUS HALPI2CStop(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Scl(0);
  bus.Sda(0);
  bus.Wait(1);
  bus.Scl(1);
  bus.Wait(1);
  bus.Sda(1);
  if (bus.Control(kI2cExtraClock)) {
    bus.Scl(0);
    bus.Wait(1);
    bus.Scl(1);
  }
  return h->status;
}

HALSTATUS HALPI2CAck(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Scl(0);
  bus.Sda(0);
  bus.Wait(1);
  bus.Scl(1);
  bus.Wait(1);
  bus.Scl(0);
  bus.Sda(1);
  return h->status;
}

HALSTATUS HALPI2CNak(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Scl(0);
  bus.Sda(1);
  bus.Wait(1);
  bus.Scl(1);
  bus.Wait(1);
  bus.Scl(0);
  return h->status;
}

HALSTATUS HALPI2CWriteByte(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Sda(0);
  for (int bit = 7; bit >= 0; --bit) {
    bus.Sda((t->ucData >> bit) & 1);
    bus.Wait(1);
    bus.Scl(1);
    bus.Wait(1);
    bus.Scl(0);
  }
  return h->status;
}

HALSTATUS HALPI2CReadByte(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Scl(0);
  bus.Sda(1);
  for (int i = 0; i < 8; ++i) {
    bus.Wait(2);
    bus.Scl(1);
    bus.Wait(1);
    const uint8_t level = bus.ReadSda();
    bus.Wait(1);
    bus.Scl(0);
    t->ucData = ((t->ucData << 1) | level) & 0xFF;
  }
  return h->status;
}

HALSTATUS HALPI2CWaitAck(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  const Bus bus{h, port, t};
  bus.Scl(0);
  bus.Sda(1);
  bus.Wait(2);
  const uint8_t sda = bus.ReadSda();
  bus.Wait(1);
  if (sda == 1 && bus.Control(kI2cAck)) t->ulI2CStatus = kI2cNoAck;
  bus.Scl(1);
  bus.Wait(2);
  const uint8_t scl = bus.ReadScl();
  bus.Wait(1);
  if (scl == 0 && bus.Control(kI2cCheckScl)) t->ulI2CStatus = kI2cSclStuck;
  bus.Scl(0);
  bus.Wait(1);
  return h->status;
}

// ---- Transfers --------------------------------------------------------------------

HALSTATUS HALPNullI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  Prefix(h, port, t);
  if (t->flI2CControl & kI2cNak) HALPI2CNak(h, port, t);
  if (t->flI2CControl & kI2cStop) HALPI2CStop(h, port, t);
  return h->status;
}

HALSTATUS HALPWriteI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  Prefix(h, port, t);
  HALPI2CWriteByte(h, port, t);
  HALPI2CWaitAck(h, port, t);
  if (t->flI2CControl & kI2cStop) HALPI2CStop(h, port, t);
  return h->status;
}

HALSTATUS HALPReadI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  Prefix(h, port, t);
  HALPI2CReadByte(h, port, t);
  if (t->flI2CControl & kI2cAck) HALPI2CAck(h, port, t);
  if (t->flI2CControl & kI2cNak) HALPI2CNak(h, port, t);
  if (t->flI2CControl & kI2cStop) HALPI2CStop(h, port, t);
  return h->status;
}

HALSTATUS HALPResetI2C(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  Prefix(h, port, t);
  HALPI2CStop(h, port, t);
  return h->status;
}

// ---- Line operations ----------------------------------------------------------------

HALSTATUS HALPGetSCL(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  uint8_t level = 0;
  h->oJumpTable.I2CGetSCL(h, port, &level);
  t->ucData = level;
  return h->status;
}

HALSTATUS HALPSetSCL(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  return h->oJumpTable.I2CSetSCL(h, port, t->ucData & 0xFF);
}

HALSTATUS HALPGetSDA(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  uint8_t level = 0;
  h->oJumpTable.I2CGetSDA(h, port, &level);
  t->ucData = level;
  return h->status;
}

HALSTATUS HALPSetSDA(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  return h->oJumpTable.I2CSetSDA(h, port, t->ucData & 0xFF);
}

// ---- Entries ------------------------------------------------------------------------

HALSTATUS HALPI2CExecute(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  if (HalFailed(h->status)) return h->status;
  switch (t->ulOpCode) {
    case kI2cOpNull:
      return HALPNullI2C(h, port, t);
    case kI2cOpRead:
      return HALPReadI2C(h, port, t);
    case kI2cOpWrite:
      return HALPWriteI2C(h, port, t);
    case kI2cOpNothing:
      return h->status;
    case kI2cOpReset:
      return HALPResetI2C(h, port, t);
    case kI2cOpGetScl:
      return HALPGetSCL(h, port, t);
    case kI2cOpSetScl:
      return HALPSetSCL(h, port, t);
    case kI2cOpGetSda:
      return HALPGetSDA(h, port, t);
    case kI2cOpSetSda:
      return HALPSetSDA(h, port, t);
    default:
      t->ulI2CStatus = kI2cBusBusy;
      return SetError(h, kErrI2cUnknownOpCode);
  }
}

HALSTATUS HALI2CExecute(BOARDHANDLE* h, uint32_t port, I2CTRANSACTION* t) {
  h->status = kHalOk;
  t->ulI2CStatus = kI2cDone;
  const uint64_t rate = t->ulHalfBitTime;
  I2CTRANSACTION run = *t;
  run.ulI2CStatus = kI2cDone;
  run.ulHalfBitTime =
      rate == 0 ? kI2cDefaultHalfBitUs : static_cast<uint32_t>(kMicrosecondsPerSecond / (2 * rate));
  const HALSTATUS result = HALPI2CExecute(h, port, &run);
  h->status = ReturnCorrectError(h->status, result);
  t->ulOpCode = run.ulOpCode;
  t->ulReserved = run.ulReserved;
  t->ucData = run.ucData;
  t->flI2CControl = run.flI2CControl;
  t->ulI2CStatus = run.ulI2CStatus;
  return h->status;
}
