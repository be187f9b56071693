// What hangs on a connector's DDC lines besides a plain EDID EEPROM.
//
// - DdcMonitor: a monitor's EDID EEPROM at 0xA0/0xA1 (128 or 256 bytes)
//   whose faults a test chooses: no answer to chosen address attempts
//   (I2cSlave::NakAddressOnAttempt), a corrupt checksum in block 1, and a
//   "slow reads only" part that gives 0xFF for every byte (from a chosen
//   offset on) of a transfer whose clock runs faster than a chosen period,
//   measured on the board's clock over the eight bits of its address. A
//   panel's part can sit at another address (0x51 or 0x53: 0xA2, 0xA6 on
//   the wire), and a monitor can be one that answers only while its output
//   carries sync: while a condition the test gives is false, it does not
//   acknowledge its address.
// - TiedLinesAdaptor: an HD15-to-TV adaptor whose DDC lines are joined: SCL
//   follows SDA whenever SDA is pulled low, by anyone.
// - DesktopExpander: the maker's external multi-display box at 0x6E/0x6F. A
//   write sends a register index, then data; four bytes written at index
//   0xA0 are a command (logged). A read returns the next scripted 4-byte
//   reply from its index 0 on (the last reply repeats; zeros when none).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/board/clock.h"
#include "platform/board/i2c.h"

namespace orvsim {

class DdcMonitor : public EdidEeprom {
 public:
  DdcMonitor(std::vector<uint8_t> edid, const Clock& clock, uint8_t address = kAddress);

  // The monitor answers only while `condition` holds (nullptr: always).
  void AnswerOnlyWhile(std::function<bool()> condition) { answers_while_ = std::move(condition); }

  // Makes block 1's bytes sum to a non-zero value (byte 255 changed).
  void CorruptBlock1Checksum();
  // Bytes at `from` and after, read in a transfer clocked with a period
  // shorter than `ns` nanoseconds, come out as 0xFF.
  void SetSlowReadsOnly(uint64_t ns, unsigned from = 0) {
    min_clock_period_ns_ = ns;
    slow_from_ = from;
  }
  // The clock period of the latest address sent.
  uint64_t AddressClockPeriodNs() const { return address_period_ns_; }
  // Bytes clocked out with their right value and as 0xFF.
  unsigned GoodBytesRead() const { return good_bytes_; }
  unsigned FastBytesRead() const { return fast_bytes_; }

 protected:
  bool OnAddressed(bool read) override;
  uint8_t OnReadByte() override;
  void OnLines(bool scl, bool sda) override;

 private:
  const Clock& clock_;
  std::function<bool()> answers_while_;
  uint64_t min_clock_period_ns_ = 0;
  unsigned slow_from_ = 0;
  bool scl_ = true;
  bool sda_ = true;
  unsigned rises_ = 0;  // SCL rises since the latest start condition
  uint64_t first_rise_ns_ = 0;
  uint64_t address_period_ns_ = 0;
  unsigned good_bytes_ = 0;
  unsigned fast_bytes_ = 0;
};

class TiedLinesAdaptor : public I2cDevice {
 protected:
  void OnAttached(bool scl, bool sda) override { OnLines(scl, sda); }
  void OnLines(bool scl, bool sda) override;
};

class DesktopExpander : public I2cSlave {
 public:
  static constexpr uint8_t kAddress = 0x37;  // 0x6E on the wire
  static constexpr uint8_t kCommandIndex = 0xA0;
  using Message = std::array<uint8_t, 4>;

  DesktopExpander() : I2cSlave(kAddress) {}

  // Replies for the reads to come, in order.
  void Script(std::vector<Message> replies) { replies_ = std::deque<Message>(replies.begin(), replies.end()); }
  const std::vector<Message>& Commands() const { return commands_; }
  unsigned Reads() const { return reads_; }

 protected:
  bool OnAddressed(bool read) override;
  bool OnWriteByte(uint8_t byte) override;
  uint8_t OnReadByte() override;
  void OnTransferEnd() override;

 private:
  std::deque<Message> replies_;
  Message reply_{};
  std::vector<Message> commands_;
  std::vector<uint8_t> written_;  // bytes of the write in progress
  unsigned reply_byte_ = 0;
  unsigned reads_ = 0;
};

}  // namespace orvsim
