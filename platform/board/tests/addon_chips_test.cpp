// The add-on chips' bus protocols, driven by the test master.
#include <gtest/gtest.h>

#include <vector>

#include "platform/board/addon_chips.h"
#include "platform/board/i2c.h"
#include "platform/board/tests/bit_bang_master.h"

namespace orvsim {
namespace {

using test::BitBangMaster;
using test::Result;

// Read address, index, then data: the Velan's read.
Result VelanRead(BitBangMaster& m, uint8_t address8, uint8_t index, size_t count,
                 std::vector<uint8_t>* out) {
  out->clear();
  Result r = m.Start();
  if (r == Result::kOk) r = m.WriteByteChecked(static_cast<uint8_t>(address8 | 1));
  if (r == Result::kOk) r = m.WriteByteChecked(index);
  for (size_t i = 0; r == Result::kOk && i < count; ++i) {
    uint8_t byte = 0;
    r = m.ReadByte(i + 1 < count, &byte);
    if (r == Result::kOk) out->push_back(byte);
  }
  m.Stop();
  return r;
}

TEST(VelanEncoder, TakesTheIndexAfterTheReadAddress) {
  I2cBus bus;
  VelanEncoder& velan = bus.Emplace<VelanEncoder>(0x36, 0x42);
  BitBangMaster m(bus);
  velan.Reg(0x3E) = 0x11;
  velan.Reg(0x3F) = 0x22;
  std::vector<uint8_t> got;
  ASSERT_EQ(VelanRead(m, 0x36, 0x3E, 2, &got), Result::kOk);
  EXPECT_EQ(got, (std::vector<uint8_t>{0x11, 0x22}));
  ASSERT_EQ(VelanRead(m, 0x36, VelanEncoder::kVersionRegister, 1, &got), Result::kOk);
  EXPECT_EQ(got, std::vector<uint8_t>{0x42});
  EXPECT_EQ(velan.ReadIndexes(), (std::vector<uint8_t>{0x3E, 0xB2}));
  // The other address is someone else's.
  EXPECT_EQ(VelanRead(m, 0x34, 0x3E, 1, &got), Result::kNoAck);
  EXPECT_TRUE(velan.Writes().empty());
}

TEST(VelanEncoder, WritesAreLoggedAndSenseFollowsItsScript) {
  I2cBus bus;
  VelanEncoder& velan = bus.Emplace<VelanEncoder>(0x34, 0xB2);
  BitBangMaster m(bus);
  ASSERT_EQ(m.Write(0x1A, {0x9A, 0x34, 0x12}), Result::kOk);
  const std::vector<VelanEncoder::Write> expected = {{0x9A, 0x34}, {0x9B, 0x12}};
  EXPECT_EQ(velan.Writes(), expected);
  velan.ScriptSense({0x05, 0x0A});
  std::vector<uint8_t> got;
  for (uint8_t want : {0x05, 0x0A, 0x0A}) {
    ASSERT_EQ(VelanRead(m, 0x34, VelanEncoder::kSenseRegister, 1, &got), Result::kOk);
    EXPECT_EQ(got[0], want);
  }
  velan.NakAddressOnAttempt(5);
  EXPECT_EQ(VelanRead(m, 0x34, 0x00, 1, &got), Result::kNoAck);
}

TEST(MspAudio, WordsVersionAndControl) {
  I2cBus bus;
  MspAudio& msp = bus.Emplace<MspAudio>(0x80, 0x1234, 0x5678);
  BitBangMaster m(bus);
  ASSERT_EQ(m.Write(0x40, {0x12, 0x00, 0x0A, 0x02, 0x20}), Result::kOk);
  EXPECT_EQ(msp.Writes(), (std::vector<MspAudio::Write>{{0x000A, 0x0220}}));
  ASSERT_EQ(m.Write(0x40, {0x00, 0x80, 0x00}), Result::kOk);
  ASSERT_EQ(m.Write(0x40, {0x00, 0x00, 0x00}), Result::kOk);
  EXPECT_EQ(msp.Controls(), (std::vector<uint16_t>{0x8000, 0x0000}));
  // 0x13, register, repeated start, two bytes high first.
  std::vector<uint8_t> got;
  ASSERT_EQ(m.Start(), Result::kOk);
  for (uint8_t b : {uint8_t(0x80), uint8_t(0x13), uint8_t(0x00), uint8_t(0x1E)})
    ASSERT_EQ(m.WriteByteChecked(b), Result::kOk);
  ASSERT_EQ(m.RepeatedStart(), Result::kOk);
  ASSERT_EQ(m.WriteByteChecked(0x81), Result::kOk);
  uint8_t hi = 0, lo = 0;
  ASSERT_EQ(m.ReadByte(true, &hi), Result::kOk);
  ASSERT_EQ(m.ReadByte(false, &lo), Result::kOk);
  m.Stop();
  EXPECT_EQ(hi, 0x12);
  EXPECT_EQ(lo, 0x34);
  // An unknown command byte is refused.
  EXPECT_EQ(m.Write(0x40, {0x55}), Result::kNoAck);
}

TEST(OneByteModule, LatchWithInputBits) {
  I2cBus bus;
  OneByteModule& module = bus.Emplace<OneByteModule>(0x44);
  BitBangMaster m(bus);
  module.SetInputBits(0x20, 0x20);
  ASSERT_EQ(m.Write(0x22, {0xFB}), Result::kOk);
  std::vector<uint8_t> got;
  ASSERT_EQ(m.ReadCurrent(0x22, 1, &got), Result::kOk);
  EXPECT_EQ(got[0], 0xFB);
  ASSERT_EQ(m.Write(0x22, {0x00}), Result::kOk);
  ASSERT_EQ(m.ReadCurrent(0x22, 1, &got), Result::kOk);
  EXPECT_EQ(got[0], 0x20);
  EXPECT_EQ(module.Writes(), (std::vector<uint8_t>{0xFB, 0x00}));
}

}  // namespace
}  // namespace orvsim
