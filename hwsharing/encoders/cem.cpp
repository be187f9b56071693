// Expansion-module FPGA transfers.
#include "hwsharing/encoders/cem.h"

#include <algorithm>
#include <initializer_list>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

constexpr uint32_t kCntlMethodFpgaAtE2A = 3;
constexpr uint32_t kCntlMethodFpgaAtE2B = 8;
constexpr uint32_t kMaxCachedRun = 256;

bool TypeIn(uint32_t type, std::initializer_list<uint32_t> types) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

HALSTATUS FpgaTransfer(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t clockState,
                       uint32_t reg, uint8_t* data, uint32_t count, bool read) {
  if (HalFailed(h->status)) return h->status;
  const I2cTarget target = I2cOpen(h, port, address);
  const uint8_t side = static_cast<uint8_t>(clockState);
  bool done = false;
  for (uint32_t attempt = 1; !done && attempt <= kI2cTransferAttempts; ++attempt) {
    // From the third attempt on, the other DVO clock state may free the bus.
    if (attempt > 2) HLSKSTI2CSetClockState(h, side);
    done = I2cRegisterTransfer(h, target, reg, data, count, read);
  }
  HLSKSTI2CRestoreClockState(h, side);
  if (!done) SetError(h, read ? kErrFpgaRead : kErrFpgaWrite);
  I2cClose(h);
  return h->status;
}

HALSTATUS ByIndex(BOARDHANDLE* h, uint32_t fpga, uint32_t reg, uint8_t* data, uint32_t count,
                  bool read) {
  if (HalFailed(h->status) || fpga >= kCemFpgas) return h->status;
  const I2CDEVICE& chip = h->aFpga[fpga];
  return FpgaTransfer(h, chip.ulPort, chip.ulAddress, CemFpgaClockState(h, chip.ulAddress), reg,
                      data, count, read);
}

}  // namespace

uint32_t CemFpgaClockState(const BOARDHANDLE* h, uint32_t address) {
  const bool firstGroup =
      TypeIn(BoardType(h), {4, 9, 20, 21}) || IsTwinBoard(h);
  const uint32_t method = h->oCem.ulCntlMethod;
  const bool atE2 = method == kCntlMethodFpgaAtE2A || method == kCntlMethodFpgaAtE2B;
  if (address == kFpgaAddress0) return firstGroup ? 1 : 0;
  if (address == kFpgaAddress1) return firstGroup ? 0 : 1;
  return firstGroup ? (atE2 ? 1 : 0) : (atE2 ? 0 : 1);
}

HALSTATUS HSLKSTAccessCEM_FPGAI2CRead(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                      uint32_t clockState, uint32_t reg, uint8_t* data,
                                      uint32_t count) {
  return FpgaTransfer(h, port, address, clockState, reg, data, count, true);
}

HALSTATUS HSLKSTAccessCEM_FPGAI2CWrite(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                       uint32_t clockState, uint32_t reg, uint8_t* data,
                                       uint32_t count) {
  return FpgaTransfer(h, port, address, clockState, reg, data, count, false);
}

HALSTATUS HSLKSTAccessCEM_FPGAI2CReadRegister(BOARDHANDLE* h, uint32_t port, uint32_t address,
                                              uint32_t reg, uint8_t* value) {
  if (HalFailed(h->status)) return h->status;
  if (!I2cRegisterTransferOnPort(h, port, address, reg, value, 1, true, 1))
    SetError(h, kErrFpgaReadRegister);
  return h->status;
}

HALSTATUS HSLKSTAccessCEM_2FPgasI2CRead(BOARDHANDLE* h, uint32_t fpga, uint32_t reg,
                                        uint8_t* data, uint32_t count) {
  return ByIndex(h, fpga, reg, data, count, true);
}

HALSTATUS HSLKSTAccessCEM_2FPgasI2CWrite(BOARDHANDLE* h, uint32_t fpga, uint32_t reg,
                                         uint8_t* data, uint32_t count) {
  return ByIndex(h, fpga, reg, data, count, false);
}

HALSTATUS HSLKSTAccessCEM_2FPgasI2C(BOARDHANDLE* h, uint32_t write, uint32_t fpga, uint32_t reg,
                                    uint8_t* value) {
  return ByIndex(h, fpga, reg, value, 1, write == 0);
}

HALSTATUS HSLKSTAccessCEM_2FPgasI2CCachedWrite(BOARDHANDLE* h, uint32_t fpga, uint32_t first,
                                               const uint8_t* data, const uint8_t* cached,
                                               uint32_t count) {
  if (HalFailed(h->status) || fpga >= kCemFpgas) return h->status;
  uint8_t run[kMaxCachedRun];
  uint32_t i = 0;
  while (i < count && !HalFailed(h->status)) {
    if (cached != nullptr && data[i] == cached[i]) {
      ++i;
      continue;
    }
    // A run of changed bytes (the whole range without a cache), at most a
    // register page long.
    uint32_t n = 0;
    while (i + n < count && n < kMaxCachedRun && (cached == nullptr || data[i + n] != cached[i + n])) {
      run[n] = data[i + n];
      ++n;
    }
    HSLKSTAccessCEM_2FPgasI2CWrite(h, fpga, first + i, run, n);
    i += n;
  }
  return h->status;
}

HALSTATUS HSLKSTAccessCPLDI2CWrite(BOARDHANDLE* h, uint32_t first, uint8_t* data, uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  const I2CDEVICE& cpld = h->oCpld;
  if (!I2cRegisterTransferOnPort(h, cpld.ulPort, cpld.ulAddress, first, data, count, false,
                                 kI2cTransferAttempts))
    SetError(h, kErrCpldWrite);
  return h->status;
}
