// Companion chips as logging register slaves, driven by a bit-banging
// master on the wires.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/board/companion_chips.h"

namespace orvsim {
namespace {

// A minimal master: start, bytes with acknowledge, stop.
class Master {
 public:
  explicit Master(I2cBus& bus) : bus_(bus) {}
  void Start() {
    bus_.MasterDrive(true, true);
    bus_.MasterDriveSda(false);
    bus_.MasterDriveScl(false);
  }
  void Stop() {
    bus_.MasterDriveSda(false);
    bus_.MasterDriveScl(true);
    bus_.MasterDriveSda(true);
  }
  bool Write(uint8_t byte) {
    for (int i = 7; i >= 0; --i) Clock((byte >> i) & 1);
    bus_.MasterDriveSda(true);
    bus_.MasterDriveScl(true);
    const bool ack = !bus_.ReadSda();
    bus_.MasterDriveScl(false);
    return ack;
  }
  uint8_t Read(bool ack) {
    bus_.MasterDriveSda(true);
    uint8_t byte = 0;
    for (int i = 0; i < 8; ++i) {
      bus_.MasterDriveScl(true);
      byte = static_cast<uint8_t>((byte << 1) | (bus_.ReadSda() ? 1 : 0));
      bus_.MasterDriveScl(false);
    }
    Clock(!ack);
    return byte;
  }

 private:
  void Clock(bool bit) {
    bus_.MasterDriveSda(bit);
    bus_.MasterDriveScl(true);
    bus_.MasterDriveScl(false);
  }
  I2cBus& bus_;
};

TEST(CompanionChips, LogsWritesAndRegisterReads) {
  I2cBus bus;
  auto& encoder = bus.Emplace<EncoderChip>(0xEC, 0x81);
  auto& fpga = bus.Emplace<FpgaChip>(0xE0);
  Master m(bus);
  m.Start();
  EXPECT_TRUE(m.Write(0xE0));
  EXPECT_TRUE(m.Write(3));
  EXPECT_TRUE(m.Write(0x11));
  EXPECT_TRUE(m.Write(0x22));
  m.Stop();
  // Register read with a repeated start.
  m.Start();
  EXPECT_TRUE(m.Write(0xEC));
  EXPECT_TRUE(m.Write(kEncoderIdRegister));
  m.Start();
  EXPECT_TRUE(m.Write(0xED));
  EXPECT_EQ(m.Read(false), 0x81);
  m.Stop();

  EXPECT_EQ(fpga.Register(3), 0x11);
  EXPECT_EQ(fpga.Register(4), 0x22);
  EXPECT_EQ(fpga.Transfers(), (std::vector<I2cTransfer>{{false, 3, {0x11, 0x22}}}));
  EXPECT_EQ(encoder.Transfers(),
            (std::vector<I2cTransfer>{{false, kEncoderIdRegister, {}}, {true, kEncoderIdRegister, {0x81}}}));
  EXPECT_TRUE(encoder.DataWrites().empty());
}

TEST(CompanionChips, FanAnswersItsIdAndAnUnknownAddressIsRefused) {
  I2cBus bus;
  auto& fan = bus.Emplace<FanChip>();
  bus.Emplace<TransmitterChip>(0x70);
  Master m(bus);
  m.Start();
  EXPECT_FALSE(m.Write(0x72));
  m.Stop();
  m.Start();
  EXPECT_TRUE(m.Write(0x36));
  EXPECT_TRUE(m.Write(kFanIdRegister));
  m.Start();
  EXPECT_TRUE(m.Write(0x37));
  EXPECT_EQ(m.Read(false), kFanId);
  m.Stop();
  EXPECT_EQ(fan.Transfers().size(), 2u);
}

}  // namespace
}  // namespace orvsim
