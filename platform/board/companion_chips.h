// Companion chips on the board's I2C buses, as register slaves that log
// every transfer: Chrontel encoders (8-bit addresses 0xEC and 0xEA), the
// expansion-module FPGAs (0xE0 and 0xE2), DVI transmitters (0x70, 0x72,
// 0x76) and the fan-speed controller (0x36).
//
// - Each chip has 256 writable registers (0 at power-on unless listed), a
//   register pointer set by the first byte of a write, auto-increment, and
//   answers every transfer (faults through I2cSlave::NakAddressOnAttempt).
// - An encoder answers its device id in register 0x4A (0x80 and 0x81 are
//   the ids the encoder drivers look for; any id can be chosen).
// - The fan-speed controller answers 0x54 in register 7, its id.
// - Transfers() lists every transfer the chip took part in, in order: a
//   write with its first register and the data bytes after the pointer
//   byte; a read with its first register and the bytes read. A write of the
//   pointer alone (before a repeated-start read) is listed too, with no
//   data.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/i2c.h"

namespace orvsim {

inline constexpr uint8_t kEncoderIdRegister = 0x4A;
inline constexpr uint8_t kFanIdRegister = 7;
inline constexpr uint8_t kFanId = 0x54;

struct I2cTransfer {
  bool read;
  uint8_t first;  // register pointer at the start
  std::vector<uint8_t> bytes;
  bool operator==(const I2cTransfer&) const = default;
};

class CompanionChip : public I2cRegisterSlave {
 public:
  // `address8`: the 8-bit write address (0xEC and so on).
  explicit CompanionChip(uint8_t address8);

  uint8_t Register(uint8_t reg) const { return Contents()[reg]; }
  void SetRegister(uint8_t reg, uint8_t value) { Contents()[reg] = value; }
  const std::vector<I2cTransfer>& Transfers() const { return transfers_; }
  // Write transfers that carried data, in order.
  std::vector<I2cTransfer> DataWrites() const;
  void ClearTransfers() { transfers_.clear(); }

 protected:
  bool OnAddressed(bool read) override;
  bool OnWriteByte(uint8_t byte) override;
  uint8_t OnReadByte() override;
  void OnTransferEnd() override;

 private:
  std::vector<I2cTransfer> transfers_;
  I2cTransfer current_{};
  bool open_ = false;
  bool pointer_pending_ = false;
};

// A Chrontel encoder answering `id` in register 0x4A.
class EncoderChip : public CompanionChip {
 public:
  EncoderChip(uint8_t address8, uint8_t id) : CompanionChip(address8) {
    SetRegister(kEncoderIdRegister, id);
  }
};

// An expansion-module FPGA.
class FpgaChip : public CompanionChip {
 public:
  explicit FpgaChip(uint8_t address8) : CompanionChip(address8) {}
};

// A DVI transmitter.
class TransmitterChip : public CompanionChip {
 public:
  explicit TransmitterChip(uint8_t address8) : CompanionChip(address8) {}
};

// The fan-speed controller at 0x36.
class FanChip : public CompanionChip {
 public:
  static constexpr uint8_t kAddress8 = 0x36;
  FanChip() : CompanionChip(kAddress8) { SetRegister(kFanIdRegister, kFanId); }
};

}  // namespace orvsim
