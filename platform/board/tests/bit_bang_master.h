// A small bit-banging I2C master written from the bus rules: data changes
// only while the clock is low, a start is data falling while the clock is
// high, a stop is data rising while the clock is high, and every byte is
// followed by an acknowledge bit. Board tests drive slaves with it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/i2c.h"

namespace orvsim {
namespace test {

enum class Result { kOk, kBusBusy, kClockTimeout, kNoAck };

inline const char* Name(Result r) {
  switch (r) {
    case Result::kOk:
      return "ok";
    case Result::kBusBusy:
      return "bus busy";
    case Result::kClockTimeout:
      return "clock timeout";
    case Result::kNoAck:
      return "no ack";
  }
  return "?";
}

class BitBangMaster {
 public:
  explicit BitBangMaster(I2cBus& bus, bool honours_stretching = true)
      : bus_(bus), honours_stretching_(honours_stretching) {}

  // Reads `count` bytes from register `pointer` of the slave at `address`
  // (7-bit): write the pointer, repeated start, read.
  Result ReadRegisters(uint8_t address, uint8_t pointer, size_t count, std::vector<uint8_t>* out) {
    out->clear();
    Result r = Start();
    if (r != Result::kOk) return r;
    r = WriteByteChecked(static_cast<uint8_t>(address << 1));
    if (r == Result::kOk) r = WriteByteChecked(pointer);
    if (r == Result::kOk) r = RepeatedStart();
    if (r == Result::kOk) r = WriteByteChecked(static_cast<uint8_t>((address << 1) | 1));
    for (size_t i = 0; r == Result::kOk && i < count; ++i) {
      uint8_t byte = 0;
      r = ReadByte(/*ack=*/i + 1 < count, &byte);
      if (r == Result::kOk) out->push_back(byte);
    }
    Stop();
    return r;
  }

  // Reads from the slave's current pointer, without writing one.
  Result ReadCurrent(uint8_t address, size_t count, std::vector<uint8_t>* out) {
    out->clear();
    Result r = Start();
    if (r != Result::kOk) return r;
    r = WriteByteChecked(static_cast<uint8_t>((address << 1) | 1));
    for (size_t i = 0; r == Result::kOk && i < count; ++i) {
      uint8_t byte = 0;
      r = ReadByte(i + 1 < count, &byte);
      if (r == Result::kOk) out->push_back(byte);
    }
    Stop();
    return r;
  }

  Result Write(uint8_t address, const std::vector<uint8_t>& bytes) {
    Result r = Start();
    if (r != Result::kOk) return r;
    r = WriteByteChecked(static_cast<uint8_t>(address << 1));
    for (size_t i = 0; r == Result::kOk && i < bytes.size(); ++i) r = WriteByteChecked(bytes[i]);
    Stop();
    return r;
  }

  unsigned StretchedReads() const { return stretched_reads_; }

  // The steps of a transfer, public for tests that break one off midway.
  Result Start() {
    bus_.MasterDriveSda(true);
    if (!ClockHigh()) return Result::kClockTimeout;
    if (!bus_.ReadSda()) return Result::kBusBusy;
    bus_.MasterDriveSda(false);
    bus_.MasterDriveScl(false);
    return Result::kOk;
  }

  Result RepeatedStart() {
    bus_.MasterDriveSda(true);
    if (!ClockHigh()) return Result::kClockTimeout;
    bus_.MasterDriveSda(false);
    bus_.MasterDriveScl(false);
    return Result::kOk;
  }

  void Stop() {
    bus_.MasterDriveSda(false);
    ClockHigh();
    bus_.MasterDriveSda(true);
  }

  Result WriteBit(bool bit) {
    bus_.MasterDriveSda(bit);
    if (!ClockHigh()) return Result::kClockTimeout;
    bus_.MasterDriveScl(false);
    return Result::kOk;
  }

  Result ReadBit(bool* bit) {
    bus_.MasterDriveSda(true);
    if (!ClockHigh()) return Result::kClockTimeout;
    *bit = bus_.ReadSda();
    bus_.MasterDriveScl(false);
    return Result::kOk;
  }

  Result WriteByteChecked(uint8_t byte) {
    for (int i = 7; i >= 0; --i) {
      const Result r = WriteBit(((byte >> i) & 1) != 0);
      if (r != Result::kOk) return r;
    }
    bool nack = true;
    const Result r = ReadBit(&nack);
    if (r != Result::kOk) return r;
    return nack ? Result::kNoAck : Result::kOk;
  }

  Result ReadByte(bool ack, uint8_t* byte) {
    *byte = 0;
    for (int i = 0; i < 8; ++i) {
      bool bit = false;
      const Result r = ReadBit(&bit);
      if (r != Result::kOk) return r;
      *byte = static_cast<uint8_t>((*byte << 1) | (bit ? 1 : 0));
    }
    return WriteBit(!ack);
  }

 private:
  static constexpr int kClockPolls = 50;

  // Releases SCL and waits until it is really high.
  bool ClockHigh() {
    bus_.MasterDriveScl(true);
    if (!honours_stretching_) return true;
    for (int i = 0; i < kClockPolls; ++i) {
      if (bus_.ReadScl()) return true;
      ++stretched_reads_;
    }
    return false;
  }

  I2cBus& bus_;
  bool honours_stretching_;
  unsigned stretched_reads_ = 0;
};

}  // namespace test
}  // namespace orvsim
