// Chrontel encoder transfers: select the encoder on the expansion module,
// open its port, repeat the whole transfer after a failure.
#include "hwsharing/encoders/chrontel.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

constexpr uint32_t kCntlMethodFpga0Select = 2;
constexpr uint32_t kCntlMethodFpga1Select = 3;
constexpr uint8_t kSelectTwin = 0x20;
constexpr uint8_t kSelectT13 = 0xE0;

// Chip-select nibble by encoder address and index.
struct SelectRow {
  uint32_t address;
  uint8_t nibble[kChrEncoders];
};
constexpr SelectRow kSelectRows[] = {
    {0xEA, {0x10, 0x20, 0x40, 0x80}},
    {0xEC, {0xE0, 0xD0, 0xB0, 0x70}},
};

uint8_t SelectNibble(const BOARDHANDLE* h, uint32_t encoder) {
  if (IsTwinBoard(h)) return kSelectTwin;
  if (IsExpansionBoard(h)) return kSelectT13;
  for (const SelectRow& row : kSelectRows)
    if (row.address == h->aChrontel[encoder].ulAddress) return row.nibble[encoder];
  return 0;
}

HALSTATUS Transfer(BOARDHANDLE* h, uint32_t encoder, uint32_t reg, uint8_t* data,
                   uint32_t count, bool read) {
  const HALSTATUS error = read ? kErrChrRead : kErrChrWrite;
  if (HalFailed(h->status)) return h->status;
  if (encoder >= kChrEncoders) return SetError(h, error);
  HSLCHRSetChipSelectCEM(h, encoder);
  const I2CDEVICE& chip = h->aChrontel[encoder];
  if (!I2cRegisterTransferOnPort(h, chip.ulPort, chip.ulAddress, reg, data, count, read,
                                 kI2cTransferAttempts))
    SetError(h, error);
  return h->status;
}

}  // namespace

HALSTATUS HSLCHRI2CRead(BOARDHANDLE* h, uint32_t encoder, uint32_t reg, uint8_t* data,
                        uint32_t count) {
  return Transfer(h, encoder, reg, data, count, true);
}

HALSTATUS HSLCHRI2CWrite(BOARDHANDLE* h, uint32_t encoder, uint32_t reg, uint8_t* data,
                         uint32_t count) {
  return Transfer(h, encoder, reg, data, count, false);
}

HALSTATUS HSLCHRSetChipSelectCEM(BOARDHANDLE* h, uint32_t encoder) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t method = h->oCem.ulCntlMethod;
  if (encoder >= kChrEncoders ||
      (method != kCntlMethodFpga0Select && method != kCntlMethodFpga1Select))
    return h->status;
  const uint32_t fpga = method == kCntlMethodFpga1Select ? 1 : 0;
  uint8_t value = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, kCemChipSelectRegister, &value);
  value = static_cast<uint8_t>((value & 0x0F) | SelectNibble(h, encoder));
  HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kCemChipSelectRegister, &value);
  return h->status;
}
