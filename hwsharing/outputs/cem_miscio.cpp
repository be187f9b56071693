#include "hwsharing/outputs/cem_miscio.h"

#include "core/board_description.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/cem.h"

namespace {

// Module kinds whose group 0 is the FPGA at 0xE2.
bool GroupZeroAtE2(const BOARDHANDLE* h) {
  const uint32_t kind = h->oCem.ulProgMethod;
  return kind == 3 || kind == 8;
}

uint32_t Code(uint32_t word, uint32_t line) { return (word >> (4 * line)) & 0xFu; }

bool HasCodes(const BOARDHANDLE* h) { return PinsVersion(h) >= kPinsVersion60B; }

}  // namespace

uint32_t CemMiscIoFpga(const BOARDHANDLE* h, uint32_t group) {
  const bool e2 = GroupZeroAtE2(h) == (group == 0);
  const uint32_t address = e2 ? kFpgaAddress1 : kFpgaAddress0;
  for (uint32_t i = 0; i < kCemFpgas; ++i)
    if (h->aFpga[i].ulAddress == address) return i;
  return kCemNoFpga;
}

HALSTATUS HSLKstCEMSpWriteMiscIO(BOARDHANDLE* h, uint32_t group, uint32_t line, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  // A group without an FPGA has no lines to drive.
  const uint32_t fpga = CemMiscIoFpga(h, group);
  if (fpga >= kCemFpgas) return h->status;
  uint8_t value = 0;
  HSLKSTAccessCEM_2FPgasI2CRead(h, fpga, kCemMiscIoRegister, &value, 1);
  if (HalFailed(h->status)) return h->status;
  const uint8_t bit = static_cast<uint8_t>(1u << ((line & 3) + 4));
  value = static_cast<uint8_t>(level == 1 ? value | bit : value & ~bit);
  return HSLKSTAccessCEM_2FPgasI2CWrite(h, fpga, kCemMiscIoRegister, &value, 1);
}

HALSTATUS HSLKstCEMSpInitMiscIO(BOARDHANDLE* h) {
  if (HalFailed(h->status) || !HasCodes(h)) return h->status;
  const uint32_t codes = PinsDword(h, kPinsCemMiscIoCodes);
  for (uint32_t n = 0; n < kCemMiscIoLines; ++n) {
    const uint32_t code = Code(codes, n);
    if (code == kCemMiscIoCodeHigh || code == kCemMiscIoCodeLow)
      HSLKstCEMSpWriteMiscIO(h, n >> 2, n & 3, code == kCemMiscIoCodeHigh ? 1 : 0);
  }
  return h->status;
}

HALSTATUS HSLKstCEMSpSetMiscIO(BOARDHANDLE* h, uint32_t function, uint32_t level) {
  if (HalFailed(h->status) || !HasCodes(h)) return h->status;
  const uint32_t codes = PinsDword(h, kPinsCemMiscIoCodes);
  if ((codes & 0xFFFF) == 0) return h->status;
  for (uint32_t n = 0; n < kCemMiscIoLines; ++n)
    if (Code(codes, n) == function) return HSLKstCEMSpWriteMiscIO(h, n >> 2, n & 3, level);
  return h->status;
}
