// Register transfers of the companion chips over board port 1: Chrontel
// encoders with the expansion module's chip select, the expansion FPGAs
// (retry, clock state, cached write), DVI transmitters and the fan
// controller.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/companion.h"
#include "hwsharing/tests/chip_fixture.h"

namespace {

using hwtest::ChipTest;
using Transfer = orvsim::I2cTransfer;

class Transfers : public ChipTest {};

TEST_F(Transfers, EncoderBlocksGoToTheRecordsPortAndAddress) {
  h->aChrontel[2] = I2CDEVICE{1, 1, 0xEA, 0x80};
  auto& encoder = OnPort1<orvsim::EncoderChip>(0xEA, 0x80);
  auto& other = OnPort1<orvsim::EncoderChip>(0xEC, 0x81);
  uint8_t bytes[3] = {0x11, 0x22, 0x33};
  EXPECT_EQ(HSLCHRI2CWrite(h, 2, 0x31, bytes, 3), 0u);
  uint8_t back[3] = {};
  EXPECT_EQ(HSLCHRI2CRead(h, 2, 0x32, back, 2), 0u);
  EXPECT_EQ(back[0], 0x22);
  EXPECT_EQ(back[1], 0x33);
  EXPECT_EQ(encoder.Transfers(), (std::vector<Transfer>{{false, 0x31, {0x11, 0x22, 0x33}},
                                                         {false, 0x32, {}},
                                                         {true, 0x32, {0x22, 0x33}}}));
  EXPECT_TRUE(other.Transfers().empty());
  EXPECT_EQ(HSLCHRI2CRead(h, 4, 0x4A, back, 1), kErrChrRead) << "no encoder 4";
}

TEST_F(Transfers, EncoderTransferIsRepeatedUpToEightTimes) {
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x81};
  auto& encoder = OnPort1<orvsim::EncoderChip>(0xEC, 0x81);
  for (unsigned attempt = 1; attempt <= 7; ++attempt) encoder.NakAddressOnAttempt(attempt);
  uint8_t value = 0x5A;
  EXPECT_EQ(HSLCHRI2CWrite(h, 0, 0x49, &value, 1), 0u) << "the eighth attempt goes through";
  EXPECT_EQ(encoder.Register(0x49), 0x5A);
  EXPECT_EQ(encoder.AddressAttempts(), 8u);
  for (unsigned attempt = 9; attempt <= 16; ++attempt) encoder.NakAddressOnAttempt(attempt);
  EXPECT_EQ(HSLCHRI2CWrite(h, 0, 0x49, &value, 1), kErrChrWrite);
  EXPECT_EQ(encoder.AddressAttempts(), 16u);
  EXPECT_EQ(encoder.Stops(), 1u + 7u + 8u) << "every failed attempt ends with a stop";
  EXPECT_TRUE(Board().I2c(orvsim::kBusBoardPort1).SdaLevel()) << "the bus is left free";
}

TEST_F(Transfers, ChipSelectSetsTheFpgaNibbleOfTheEncoder) {
  struct Row {
    const char* name;
    uint32_t method, multi, type, module, address, encoder;
    int fpga;  // -1: no FPGA traffic
    uint8_t nibble;
  } rows[] = {
      {"method 3, 0xEC encoder 2", 3, 0, 0, 0, 0xEC, 2, 1, 0xB0},
      {"method 2, 0xEA encoder 3", 2, 0, 0, 0, 0xEA, 3, 0, 0x80},
      {"method 2, other address", 2, 0, 0, 0, 0xE8, 1, 0, 0x00},
      {"twin board", 3, 1, 16, 0, 0xEC, 0, 1, 0x20},
      {"expansion board", 2, 1, 14, 5, 0xEA, 1, 0, 0xE0},
      {"expansion type with the standard wiring", 2, 1, 14, 37, 0xEA, 1, 0, 0x20},
      {"method 1", 1, 0, 0, 0, 0xEC, 0, -1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    orvsim::I2cBus& port1 = Port1();
    orvsim::FpgaChip& fpga0 = port1.Emplace<orvsim::FpgaChip>(0xE0);
    orvsim::FpgaChip& fpga1 = port1.Emplace<orvsim::FpgaChip>(0xE2);
    fpga0.SetRegister(8, 0x07);
    fpga1.SetRegister(8, 0x07);
    h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
    h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
    h->oCem.ulCntlMethod = r.method;
    h->oCem.ulPresent = r.multi;
    h->oCem.ulBoardType = r.type;
    h->oCem.usModuleCode = static_cast<uint16_t>(r.module);
    h->aChrontel[r.encoder] = I2CDEVICE{1, 1, r.address, 0x80};
    EXPECT_EQ(HSLCHRSetChipSelectCEM(h, r.encoder), 0u);
    if (r.fpga < 0) {
      EXPECT_TRUE(fpga0.Transfers().empty());
      EXPECT_TRUE(fpga1.Transfers().empty());
    } else {
      orvsim::FpgaChip& used = r.fpga == 0 ? fpga0 : fpga1;
      EXPECT_EQ(used.Register(8), r.nibble | 0x07) << "low nibble kept";
      EXPECT_TRUE((r.fpga == 0 ? fpga1 : fpga0).Transfers().empty());
    }
    port1.Detach(&fpga0);
    port1.Detach(&fpga1);
  }
}

TEST_F(Transfers, FpgaRetriesUnderTheOtherClockStateAndRestoresIt) {
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  auto& fpga = OnPort1<orvsim::FpgaChip>(0xE2);
  fpga.SetRegister(30, 0x44);
  const uint32_t clock0 = 3u << 13;  // DVO 1 running on code 3
  Board().Poke(kRegModuleClock0, 4, clock0);
  // One failed attempt: the second goes through without a clock change.
  fpga.NakAddressOnAttempt(1);
  uint8_t value = 0;
  EXPECT_EQ(HSLKSTAccessCEM_2FPgasI2C(h, 0, 1, 30, &value), 0u);
  EXPECT_EQ(value, 0x44);
  EXPECT_TRUE(hw.WritesTo(kRegModuleClock0).empty());
  // Two failed attempts: the third runs under the other clock state, which
  // is restored at the end.
  const unsigned sent = fpga.AddressAttempts();
  fpga.NakAddressOnAttempt(sent + 1);
  fpga.NakAddressOnAttempt(sent + 2);
  EXPECT_EQ(HSLKSTAccessCEM_2FPgasI2C(h, 0, 1, 30, &value), 0u);
  EXPECT_FALSE(hw.WritesTo(kRegModuleClock0).empty());
  EXPECT_EQ(hw.Reg(kRegModuleClock0), clock0);
  EXPECT_EQ(h->oI2cClockState.ulActive, 0u);
  // Eight failures: the error of the direction.
  const unsigned before = fpga.AddressAttempts();
  for (unsigned attempt = 1; attempt <= 8; ++attempt) fpga.NakAddressOnAttempt(before + attempt);
  EXPECT_EQ(HSLKSTAccessCEM_2FPgasI2C(h, 1, 1, 30, &value), kErrFpgaWrite);
  EXPECT_EQ(hw.Reg(kRegModuleClock0), clock0);
  h->status = 0;
  EXPECT_EQ(HSLKSTAccessCEM_2FPgasI2C(h, 0, 2, 30, &value), 0u) << "FPGA 2 does nothing";
}

TEST_F(Transfers, CachedWriteSendsEachRunOfChangesOnly) {
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  auto& fpga = OnPort1<orvsim::FpgaChip>(0xE0);
  struct Row {
    const char* name;
    std::vector<uint8_t> data, cache;
    bool withCache;
    std::vector<Transfer> writes;
  } rows[] = {
      {"first two differ", {1, 2, 3, 4}, {9, 9, 3, 4}, true, {{false, 10, {1, 2}}}},
      {"separate runs", {1, 2, 3, 4, 5}, {1, 9, 3, 9, 9}, true, {{false, 11, {2}}, {false, 13, {4, 5}}}},
      {"last byte alone", {1, 2, 3}, {1, 2, 9}, true, {{false, 12, {3}}}},
      {"nothing changed", {1, 2, 3}, {1, 2, 3}, true, {}},
      {"no cache", {1, 2, 3}, {}, false, {{false, 10, {1, 2, 3}}}},
  };
  for (const Row& r : rows) {
    fpga.ClearTransfers();
    EXPECT_EQ(HSLKSTAccessCEM_2FPgasI2CCachedWrite(h, 0, 10, r.data.data(),
                                                   r.withCache ? r.cache.data() : nullptr,
                                                   static_cast<uint32_t>(r.data.size())),
              0u);
    EXPECT_EQ(fpga.DataWrites(), r.writes) << r.name;
  }
  fpga.ClearTransfers();
  const uint8_t byte = 1;
  EXPECT_EQ(HSLKSTAccessCEM_2FPgasI2CCachedWrite(h, 2, 10, &byte, nullptr, 1), 0u);
  EXPECT_TRUE(fpga.Transfers().empty());
}

TEST_F(Transfers, TransmittersAreTriedOnce) {
  h->aSiI164[1] = I2CDEVICE{1, 1, 0x72, 0};
  auto& tx = OnPort1<orvsim::TransmitterChip>(0x72);
  uint8_t value = 0x39;
  EXPECT_EQ(HSLSI164I2CWrite(h, 1, 8, &value, 1), 0u);
  EXPECT_EQ(tx.Register(8), 0x39);
  tx.NakAddressOnAttempt(2);
  uint8_t back = 0;
  EXPECT_EQ(HSLSI164I2CRead(h, 1, 8, &back, 1), kErrSi164Read);
  EXPECT_EQ(tx.AddressAttempts(), 2u) << "no retry";
  h->status = 0;
  tx.NakAddressOnAttempt(3);
  EXPECT_EQ(HSLSI164I2CWrite(h, 1, 8, &value, 1), kErrSi164Write);
}

TEST_F(Transfers, FanControllerOnPort1OrPort16) {
  auto& fan = OnPort1<orvsim::FanChip>();
  uint8_t id = 0;
  EXPECT_EQ(HSLTC664I2CRead(h, 0, 7, &id), 0u);
  EXPECT_EQ(id, 0x54);
  EXPECT_EQ(HSLTC664I2CWrite(h, 0, 6, 0x0F), 0u);
  EXPECT_EQ(fan.Register(6), 0x0F);
  // Only the read address must be answered: each read sends the write
  // address, then the read address.
  fan.NakAddressOnAttempt(fan.AddressAttempts() + 1);
  EXPECT_EQ(HSLTC664I2CRead(h, 0, 7, &id), 0u);
  fan.NakAddressOnAttempt(fan.AddressAttempts() + 2);
  EXPECT_EQ(HSLTC664I2CRead(h, 0, 7, &id), kErrFanAccess);
  h->status = 0;
  // Port 16 (its board lines wired by the chip model).
  auto& fan16 = Board().I2c(orvsim::kBusBoardPort16).Emplace<orvsim::FanChip>();
  EXPECT_EQ(HSLTC664I2CWrite(h, 1, 4, 0xA4), 0u);
  EXPECT_EQ(fan16.Register(4), 0xA4);
  EXPECT_NE(fan.Register(4), 0xA4);
}

}  // namespace
