// Companion chips on the board's I2C buses, as register slaves that log
// every transfer: Chrontel encoders (8-bit addresses 0xEC and 0xEA), the
// expansion-module FPGAs (0xE0 and 0xE2), DVI transmitters (0x70, 0x72,
// 0x76) and the fan-speed controller (0x36). An address where no chip sits
// is not acknowledged.
//
// - Each chip has 256 writable registers (0 at power-on unless listed), a
//   register pointer set by the first byte of a write, auto-increment, and
//   answers every transfer (faults through I2cSlave::NakAddressOnAttempt).
// - An encoder answers its device id in register 0x4A (0x80 and 0x81 are
//   the ids the encoder drivers look for; 0x85 and 0x95 are the digital
//   encoders with a PLL lock bit; any id can be chosen). Its other
//   registers (0x49, the console mark 0x20 or 0xDE; 0x21, 0x22, 0x07) are
//   plain storage a test sets with SetRegister.
// - The fan-speed controller answers 0x54 in register 7, its id.
// - Transfers() lists every transfer the chip took part in, in order: a
//   write with its first register and the data bytes after the pointer
//   byte; a read with its first register and the bytes read. A write of the
//   pointer alone (before a repeated-start read) is listed too, with no
//   data.
#pragma once

#include <cstdint>
#include <utility>
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
  // Chip behaviour: the value a read of `reg` sees (its stored value unless
  // the chip says otherwise), and a data byte just stored in `reg`.
  virtual uint8_t ReadValue(uint8_t reg, uint8_t stored) {
    (void)reg;
    return stored;
  }
  virtual void Written(uint8_t reg, uint8_t old, uint8_t value) {
    (void)reg;
    (void)old;
    (void)value;
  }

 private:
  std::vector<I2cTransfer> transfers_;
  I2cTransfer current_{};
  bool open_ = false;
  bool pointer_pending_ = false;
};

// A Chrontel encoder answering `id` in register 0x4A, with its PLL lock
// bit, its sense register and its two GPIO pins.
class EncoderChip : public CompanionChip {
 public:
  static constexpr uint8_t kPllLockRegister = 0x4D;
  static constexpr uint8_t kPllLockBit = 0x04;
  static constexpr uint8_t kSenseRegister = 0x20;
  static constexpr uint8_t kSenseStart = 0x01;
  static constexpr uint8_t kSenseBits = 0x1E;
  static constexpr uint8_t kGpioRegister = 0x1E;
  static constexpr uint8_t kLvdsRegister = 0x66;
  static constexpr uint8_t kLvdsLockBit = 0x04;

  EncoderChip(uint8_t address8, uint8_t id) : CompanionChip(address8) {
    SetRegister(kEncoderIdRegister, id);
  }

  // The lock bit of successive reads of register 0x4D; after the script the
  // last entry repeats (without a script the stored register answers).
  void ScriptPllLock(std::vector<bool> locks) {
    lock_script_ = std::move(locks);
    lock_reads_ = 0;
  }
  unsigned PllLockReads() const { return lock_reads_; }
  // What the sense bits 0x1E of register 0x20 hold after a sense pulse (bit
  // 0 written set, then clear).
  void SetSenseResult(uint8_t bits) { sense_result_ = bits & kSenseBits; }
  // GPIO lines 0 and 1 of register 0x1E: direction bits 0x40 and 0x80 (set:
  // the pin is an input), data bits 0x10 and 0x20. An input reads the level
  // given here; an output drives its data bit.
  void SetGpioInput(unsigned line, bool level) { gpio_input_[line & 1] = level; }
  // The levels a pin took, one entry per change, from the first write of
  // register 0x1E on; and its rising edges.
  const std::vector<bool>& GpioHistory(unsigned line) const { return gpio_history_[line & 1]; }
  unsigned GpioRisingEdges(unsigned line) const;
  // The LVDS PLL's lock bit 0x04 of register 0x66. Once set up here, the
  // PLL locks on try `n` (0: never): the bit reads set after the driver
  // restarted the PLL n - 1 times, a restart being a write of register
  // 0x66 with bit 2 set while the PLL is not locked. Without it the stored
  // register answers.
  void SetLvdsLockTry(unsigned n) {
    lvds_modelled_ = true;
    lvds_lock_try_ = n;
    lvds_restarts_ = 0;
    lvds_reads_ = 0;
  }
  unsigned LvdsRestarts() const { return lvds_restarts_; }
  unsigned LvdsLockReads() const { return lvds_reads_; }
  // The first `k` transfers addressed to the chip are not acknowledged.
  void FailFirstAttempts(unsigned k) {
    for (unsigned i = 1; i <= k; ++i) NakAddressOnAttempt(i);
  }

 protected:
  uint8_t ReadValue(uint8_t reg, uint8_t stored) override;
  void Written(uint8_t reg, uint8_t old, uint8_t value) override;

 private:
  bool PinLevel(unsigned line, uint8_t gpio) const;
  bool LvdsLocked() const { return lvds_lock_try_ != 0 && lvds_restarts_ + 1 >= lvds_lock_try_; }

  std::vector<bool> lock_script_;
  unsigned lock_reads_ = 0;
  uint8_t sense_result_ = 0;
  bool gpio_input_[2] = {true, true};
  std::vector<bool> gpio_history_[2];
  bool lvds_modelled_ = false;
  unsigned lvds_lock_try_ = 0;
  unsigned lvds_restarts_ = 0;
  unsigned lvds_reads_ = 0;
};

// An expansion-module FPGA.
class FpgaChip : public CompanionChip {
 public:
  explicit FpgaChip(uint8_t address8) : CompanionChip(address8) {}
};

// A DVI transmitter of one of four kinds. Registers 0-7 identify it and
// are read-only: register 0 is non-zero on every kind, register 2 is 8 on
// kind 1 and 6 on the others, register 6 is 20 on kind 2, register 7 is
// 0xA5 on kind 3 (kind 0 holds neither). Register 8 is its control
// register: bits 0x39 all set while it drives its link (the value a
// console set-up leaves), bit 2 the dual-link setting; it holds whatever
// was last written (0 at power-on unless the test sets it).
class TransmitterChip : public CompanionChip {
 public:
  static constexpr uint8_t kVendorRegister = 0;
  static constexpr uint8_t kDeviceRegister = 2;
  static constexpr uint8_t kRevisionRegister = 6;
  static constexpr uint8_t kVariantRegister = 7;
  static constexpr uint8_t kIdentityRegisters = 8;  // 0-7
  static constexpr uint8_t kControlRegister = 8;
  static constexpr uint8_t kControlDriving = 0x39;
  static constexpr uint8_t kControlDualLink = 0x04;

  // `kind` 0..3 (others count as 0).
  explicit TransmitterChip(uint8_t address8, unsigned kind = 0);

  uint8_t Control() const { return Register(kControlRegister); }
  bool Driving() const { return (Control() & kControlDriving) == kControlDriving; }
  bool DualLink() const { return (Control() & kControlDualLink) != 0; }

 protected:
  void Written(uint8_t reg, uint8_t old, uint8_t value) override;
};

// The fan-speed controller at 0x36.
class FanChip : public CompanionChip {
 public:
  static constexpr uint8_t kAddress8 = 0x36;
  FanChip() : CompanionChip(kAddress8) { SetRegister(kFanIdRegister, kFanId); }
};

}  // namespace orvsim
