// Chips on a board's I2C buses beside the graphics chip: the Velan TV
// encoder, the MSP audio processor and the one-byte modules (the PanelLink
// module and the second HD15 module). Each is written from the chip's bus
// protocol as the driver documentation gives it, never from driver code.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "platform/board/i2c.h"

namespace orvsim {

// The Velan TV encoder at 0x36 or 0x34 (7-bit 0x1B or 0x1A): 256 byte
// registers. A write sends the register index after the write address and
// the data from there on; a read sends the read address, then the register
// index, then reads from there on. Every written register lands in the log.
class VelanEncoder : public I2cSlave {
 public:
  static constexpr uint8_t kVersionRegister = 0xB2;
  static constexpr uint8_t kSenseRegister = 0xB8;

  // `address8` is the 8-bit write address (0x36 or 0x34).
  VelanEncoder(uint8_t address8, uint8_t version);

  uint8_t& Reg(uint8_t index) { return regs_[index]; }
  // Values that successive reads of register 0xB8 return; the last repeats.
  void ScriptSense(std::vector<uint8_t> values) { sense_script_ = std::deque<uint8_t>(values.begin(), values.end()); }

  struct Write {
    uint8_t reg, value;
    bool operator==(const Write&) const = default;
  };
  const std::vector<Write>& Writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }
  // Registers whose index the master sent with a read, in order.
  const std::vector<uint8_t>& ReadIndexes() const { return read_indexes_; }

 protected:
  bool OnAddressed(bool read) override;
  bool OnWriteByte(uint8_t byte) override;
  uint8_t OnReadByte() override;

 private:
  uint8_t regs_[256] = {};
  uint8_t pointer_ = 0;
  bool index_next_ = false;
  bool reading_ = false;
  std::deque<uint8_t> sense_script_;
  std::vector<Write> writes_;
  std::vector<uint8_t> read_indexes_;
};

// The MSP audio processor at 0x80, 0x84 or 0x88: DSP words of 16 bits. A
// write of 0x12, register high and low, value high and low stores a word;
// 0x13, register high and low, then a read (repeated start) returns the word
// high byte first; 0x00 with two more bytes is the control register (0x80
// 0x00 enters reset, 0x00 0x00 leaves it).
class MspAudio : public I2cSlave {
 public:
  explicit MspAudio(uint8_t address8, uint16_t version1E = 0x0101, uint16_t version1F = 0x0202);

  uint16_t& Word(uint16_t reg) { return words_[reg]; }
  struct Write {
    uint16_t reg, value;
    bool operator==(const Write&) const = default;
  };
  const std::vector<Write>& Writes() const { return writes_; }
  // Control writes: the two data bytes of each, in order.
  const std::vector<uint16_t>& Controls() const { return controls_; }

 protected:
  bool OnAddressed(bool read) override;
  bool OnWriteByte(uint8_t byte) override;
  uint8_t OnReadByte() override;

 private:
  uint16_t words_[0x10000] = {};
  std::vector<uint8_t> command_;  // bytes of the write in progress
  uint16_t read_reg_ = 0;
  unsigned read_byte_ = 0;
  std::vector<Write> writes_;
  std::vector<uint16_t> controls_;
};

// A module with one register and no index: a write stores the byte, a read
// returns it with the module's own input bits in place of the stored ones.
class OneByteModule : public I2cSlave {
 public:
  explicit OneByteModule(uint8_t address8, uint8_t initial = 0xFF);

  void SetInputBits(uint8_t mask, uint8_t value) {
    input_mask_ = mask;
    input_value_ = value;
  }
  uint8_t Value() const { return value_; }
  const std::vector<uint8_t>& Writes() const { return writes_; }

 protected:
  bool OnWriteByte(uint8_t byte) override;
  uint8_t OnReadByte() override;

 private:
  uint8_t value_;
  uint8_t input_mask_ = 0;
  uint8_t input_value_ = 0;
  std::vector<uint8_t> writes_;
};

}  // namespace orvsim
