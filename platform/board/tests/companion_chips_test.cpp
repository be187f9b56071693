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

// Reads one register with a repeated start; -1 when the address is refused.
int ReadRegister(Master& m, uint8_t address8, uint8_t reg) {
  m.Start();
  if (!m.Write(address8)) {
    m.Stop();
    return -1;
  }
  m.Write(reg);
  m.Start();
  m.Write(static_cast<uint8_t>(address8 | 1));
  const int v = m.Read(false);
  m.Stop();
  return v;
}

TEST(CompanionChips, TransmitterKindsShowInTheirIdentityRegisters) {
  struct Case {
    unsigned kind;
    uint8_t r2, r6, r7;
  } cases[] = {{0, 6, 0, 0}, {1, 8, 0, 0}, {2, 6, 20, 0}, {3, 6, 0, 0xA5}, {9, 6, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    I2cBus bus;
    bus.Emplace<TransmitterChip>(0x76, c.kind);
    Master m(bus);
    EXPECT_NE(ReadRegister(m, 0x76, 0), 0);
    EXPECT_EQ(ReadRegister(m, 0x76, 2), c.r2);
    EXPECT_EQ(ReadRegister(m, 0x76, 6), c.r6);
    EXPECT_EQ(ReadRegister(m, 0x76, 7), c.r7);
    EXPECT_EQ(ReadRegister(m, 0x70, 2), -1);  // no chip there
  }
}

TEST(CompanionChips, TransmitterIdentityIgnoresWritesAndControlKeepsThem) {
  I2cBus bus;
  auto& tx = bus.Emplace<TransmitterChip>(0x70, 2);
  EXPECT_EQ(tx.Control(), 0);
  EXPECT_FALSE(tx.Driving());
  Master m(bus);
  m.Start();
  m.Write(0x70);
  m.Write(6);  // registers 6, 7 and 8 in one write
  m.Write(0x55);
  m.Write(0x66);
  m.Write(0x3D);
  m.Stop();
  EXPECT_EQ(ReadRegister(m, 0x70, 6), 20);
  EXPECT_EQ(ReadRegister(m, 0x70, 7), 0);
  EXPECT_EQ(ReadRegister(m, 0x70, 8), 0x3D);
  EXPECT_TRUE(tx.Driving());
  EXPECT_TRUE(tx.DualLink());
  // The write is logged as the driver sent it.
  EXPECT_EQ(tx.DataWrites(), (std::vector<I2cTransfer>{{false, 6, {0x55, 0x66, 0x3D}}}));

  struct Case {
    uint8_t control;
    bool driving, dualLink;
  } cases[] = {{0x39, true, false}, {0x38, false, false}, {0x3D, true, true}, {0x04, false, true}};
  for (const Case& c : cases) {
    tx.SetRegister(TransmitterChip::kControlRegister, c.control);
    EXPECT_EQ(tx.Driving(), c.driving) << int(c.control);
    EXPECT_EQ(tx.DualLink(), c.dualLink) << int(c.control);
  }
}

}  // namespace
}  // namespace orvsim
