#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/tests/hw_fixture.h"

namespace {

std::vector<uint8_t> TestEdid(uint8_t seed) {
  std::vector<uint8_t> edid(256);
  for (size_t i = 0; i < edid.size(); ++i) edid[i] = static_cast<uint8_t>(i * 7 + seed);
  return edid;
}

class I2cMaster : public testing::Test {
 protected:
  I2cMaster() : hw(hwtest::Config(0x0A42)) {
    EXPECT_EQ(hw.Open(), 0u);
    hw.Chip();
    h = hw.h();
    // Opening loaded the built-in board description; without a misc-IO map
    // of its own the library's default lines route the DDC ports.
    hwtest::PutPinsDword(h, kPinsMiscIoMap, 0);
    monitor0 = &hw.board().I2c(0).Emplace<orvsim::EdidEeprom>(TestEdid(0));
    monitor2 = &hw.board().I2c(orvsim::kBusDdcConnector2).Emplace<orvsim::EdidEeprom>(TestEdid(99));
  }

  // One transaction; answers its bus status.
  uint32_t Run(uint32_t port, uint32_t op, uint32_t data, uint32_t control) {
    I2CTRANSACTION t{op, 0, data, control, 0xEE, 1};
    HALPI2CExecute(h, port, &t);
    last = t;
    return t.ulI2CStatus;
  }

  // Reads `count` bytes from offset 0 of the EEPROM at 0xA0, the way the
  // DDC code frames it; answers the bytes and every transaction status.
  std::vector<uint8_t> ReadEdid(uint32_t port, size_t count, std::vector<uint32_t>* statuses) {
    uint32_t clock = 0;
    h->oJumpTable.I2COpenPort(h, &clock, port);
    std::vector<uint8_t> bytes;
    statuses->push_back(Run(port, kI2cOpWrite, 0xA0, 0x51));
    statuses->push_back(Run(port, kI2cOpWrite, 0x00, 0x50));
    statuses->push_back(Run(port, kI2cOpWrite, 0xA1, 0x51));
    for (size_t i = 0; i < count; ++i) {
      const bool lastByte = i + 1 == count;
      statuses->push_back(Run(port, kI2cOpRead, 0, lastByte ? 0x22 : 0x10));
      bytes.push_back(static_cast<uint8_t>(last.ucData));
    }
    h->oJumpTable.I2CClosePort(h);
    return bytes;
  }

  hwtest::HwBoard hw;
  BOARDHANDLE* h;
  orvsim::EdidEeprom* monitor0;
  orvsim::EdidEeprom* monitor2;
  I2CTRANSACTION last{};
};

TEST_F(I2cMaster, ReadsTheWholeEdidOnDdcPort0) {
  std::vector<uint32_t> statuses;
  const std::vector<uint8_t> edid = ReadEdid(0, 256, &statuses);
  EXPECT_EQ(h->status, 0u);
  EXPECT_EQ(edid, monitor0->Contents());
  for (uint32_t s : statuses) ASSERT_EQ(s, kI2cDone);
  EXPECT_EQ(monitor0->BytesRead(), 256u);
  EXPECT_EQ(monitor0->Stops(), 1u);
  EXPECT_EQ(monitor2->AddressAttempts(), 0u);
  // The port is released when closed.
  EXPECT_TRUE(hw.board().I2c(0).SclLevel());
  EXPECT_TRUE(hw.board().I2c(0).SdaLevel());
}

TEST_F(I2cMaster, DdcPort17ReachesTheOtherConnector) {
  std::vector<uint32_t> statuses;
  const std::vector<uint8_t> edid = ReadEdid(17, 128, &statuses);
  EXPECT_EQ(h->status, 0u);
  EXPECT_EQ(edid, std::vector<uint8_t>(monitor2->Contents().begin(), monitor2->Contents().begin() + 128));
  EXPECT_EQ(monitor0->AddressAttempts(), 0u);
}

TEST_F(I2cMaster, ClockStretchingWithinTheBoundIsWaitedFor) {
  monitor0->SetClockStretch(500);
  std::vector<uint32_t> statuses;
  const std::vector<uint8_t> edid = ReadEdid(0, 16, &statuses);
  EXPECT_EQ(h->status, 0u);
  EXPECT_EQ(edid, std::vector<uint8_t>(monitor0->Contents().begin(), monitor0->Contents().begin() + 16));
}

TEST_F(I2cMaster, MissingAcknowledgeIsStatus3) {
  monitor0->NakAddressOnAttempt(1);
  std::vector<uint32_t> statuses;
  ReadEdid(0, 1, &statuses);
  EXPECT_EQ(statuses[0], kI2cNoAck);
  EXPECT_EQ(statuses[2], kI2cDone);  // the retry after a repeated start answers
  EXPECT_EQ(h->status, 0u);          // bus failures stay in the record
}

TEST_F(I2cMaster, SdaStuckLowIsABusyBusAndTheByteStillGoesOut) {
  hw.board().I2c(0).Sda().SetStuckLow(true);
  uint32_t clock = 0;
  h->oJumpTable.I2COpenPort(h, &clock, 0);
  hw.board().ClearLog();
  EXPECT_EQ(Run(0, kI2cOpWrite, 0xA0, 0x51), kI2cBusBusy);
  EXPECT_EQ(h->status, 0u);
  // Nine clocks (eight bits and the acknowledge) after the start condition.
  size_t sclReleases = 0;
  for (const orvsim::RegAccessRecord& r : hw.board().LoggedWrites())
    if (r.offset == 0x1C48 && !(r.value & 0x20000)) ++sclReleases;
  EXPECT_GE(sclReleases, 10u);
}

TEST_F(I2cMaster, SclHeldLowFailsTheHandle) {
  uint32_t clock = 0;
  h->oJumpTable.I2COpenPort(h, &clock, 0);
  hw.board().I2c(0).Scl().SetStuckLow(true);
  Run(0, kI2cOpWrite, 0xA0, 0x51);
  EXPECT_EQ(h->status, kErrI2cGetScl);
  // Later transactions are no-ops.
  hw.board().ClearLog();
  Run(0, kI2cOpWrite, 0xA0, 0x51);
  EXPECT_TRUE(hw.board().Log().empty());
}

TEST_F(I2cMaster, ReinitialisationIsStopStartStart) {
  uint32_t clock = 0;
  h->oJumpTable.I2COpenPort(h, &clock, 0);
  EXPECT_EQ(Run(0, kI2cOpNull, 0, 0x05), kI2cDone);
  EXPECT_EQ(monitor0->Starts(), 2u);
  EXPECT_EQ(Run(0, kI2cOpReset, 0, 0), kI2cDone);
  EXPECT_EQ(monitor0->Stops(), 2u);
}

TEST_F(I2cMaster, OperationCodes) {
  uint32_t clock = 0;
  h->oJumpTable.I2COpenPort(h, &clock, 0);
  // Nothing: not even the status word of the record changes.
  EXPECT_EQ(Run(0, kI2cOpNothing, 0x12, 0x01), 0xEEu);
  // Line reads keep the record's status.
  hw.board().I2c(0).Sda().SetStuckLow(true);
  EXPECT_EQ(Run(0, kI2cOpGetSda, 0x12, 0), 0xEEu);
  EXPECT_EQ(last.ucData, 0u);
  hw.board().I2c(0).Sda().SetStuckLow(false);
  Run(0, kI2cOpGetSda, 0x12, 0);
  EXPECT_EQ(last.ucData, 1u);
  Run(0, kI2cOpSetScl, 0, 0);
  EXPECT_FALSE(hw.board().I2c(0).SclLevel());
  Run(0, kI2cOpSetScl, 1, 0);
  EXPECT_TRUE(hw.board().I2c(0).SclLevel());
  EXPECT_EQ(h->status, 0u);
  // An unknown code.
  EXPECT_EQ(Run(0, 3, 0, 0), kI2cBusBusy);
  EXPECT_EQ(h->status, kErrI2cUnknownOpCode);
}

TEST_F(I2cMaster, ExportedEntryTurnsTheRateIntoHalfBitTime) {
  struct Row {
    uint32_t rate;
    uint32_t halfBitUs;
  } rows[] = {{100000, 5}, {0, 40}, {400000, 1}, {600000, 0}};
  uint32_t clock = 0;
  for (const Row& row : rows) {
    h->status = 0;
    h->oJumpTable.I2COpenPort(h, &clock, 0);
    h->status = 0xb0000001;  // cleared by the entry
    hw.board().ClearLog();
    I2CTRANSACTION t{kI2cOpNull, 0x1234, 0, kI2cStart, 9, row.rate};
    EXPECT_EQ(HALI2CExecute(h, 0, &t), 0u) << row.rate;
    size_t waitReads = 0;
    for (const orvsim::RegAccessRecord& r : hw.board().Log())
      if (r.offset == 0x8F4 && r.op == orvsim::RegOp::kRead) ++waitReads;
    // A start condition waits three half bits and, releasing SCL, 10 units
    // before it looks at the clock; a wait unit is three reads.
    EXPECT_EQ(waitReads, 3u * (3u * row.halfBitUs + 10u)) << row.rate;
    EXPECT_EQ(t.ulI2CStatus, 0u) << row.rate;
    EXPECT_EQ(t.ulReserved, 0x1234u) << row.rate;
    EXPECT_EQ(t.ulHalfBitTime, row.rate) << row.rate;
  }
}

}  // namespace
