// I2C wires and slaves, driven by a small bit-banging master written here
// from the bus rules: data changes only while the clock is low, a start is
// data falling while the clock is high, a stop is data rising while the
// clock is high, and every byte is followed by an acknowledge bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/i2c.h"
#include "platform/board/tests/bit_bang_master.h"

namespace orvsim {
namespace {

std::string DataFile(const std::string& name) {
  const char* root = std::getenv("ORV_SOURCE_DIR");
  const std::string base = root ? std::string(root) + "/platform/board" : ".";
  return base + "/tests/data/edid/" + name;
}

using test::BitBangMaster;
using test::Result;

// ---- Wires ------------------------------------------------------------------

// A device that only pulls lines when told, to check the wired-AND.
class Puller : public I2cDevice {
 public:
  void Scl(bool low) { PullSclLow(low); }
  void Sda(bool low) { PullSdaLow(low); }

 protected:
  void OnLines(bool, bool) override {}
};

TEST(I2cWires, LevelIsTheWiredAndOfEveryDriver) {
  I2cBus bus;
  Puller& a = bus.Emplace<Puller>();
  Puller& b = bus.Emplace<Puller>();
  struct Row {
    bool master_sda;
    bool a_low;
    bool b_low;
    bool stuck;
    bool level;
  };
  const Row rows[] = {
      {true, false, false, false, true},  {false, false, false, false, false},
      {true, true, false, false, false},  {true, false, true, false, false},
      {true, true, true, false, false},   {true, false, false, true, false},
  };
  for (const Row& row : rows) {
    bus.MasterDriveSda(row.master_sda);
    a.Sda(row.a_low);
    b.Sda(row.b_low);
    bus.Sda().SetStuckLow(row.stuck);
    EXPECT_EQ(bus.ReadSda(), row.level);
    EXPECT_TRUE(bus.ReadScl()) << "the other line is untouched";
  }
}

TEST(I2cWires, TiedWiresShareOneLevelUntilUntied) {
  I2cBus first("first");
  I2cBus second("second");
  TieWires(first.Sda(), second.Sda());
  TieWires(second.Sda(), second.Scl());  // transitive: first SDA, second SDA and SCL
  first.MasterDriveSda(false);
  EXPECT_FALSE(second.ReadSda());
  EXPECT_FALSE(second.ReadScl());
  EXPECT_TRUE(first.ReadScl());
  first.MasterDriveSda(true);
  second.MasterDriveScl(false);
  EXPECT_FALSE(first.ReadSda());
  UntieWire(second.Sda());
  EXPECT_TRUE(first.ReadSda());
  EXPECT_TRUE(second.ReadSda());
  EXPECT_FALSE(second.ReadScl());
}

TEST(I2cWires, DestroyedBusLeavesNoTieBehind) {
  I2cBus first;
  {
    I2cBus second;
    TieWires(first.Scl(), second.Scl());
    second.MasterDriveScl(false);
    EXPECT_FALSE(first.ReadScl());
  }
  EXPECT_TRUE(first.ReadScl());
}

// Answers every change of SDA by reversing it.
class Oscillator : public I2cDevice {
 protected:
  void OnLines(bool, bool sda) override { PullSdaLow(sda); }
};

TEST(I2cWiresDeathTest, LinesThatNeverSettleEndTheTest) {
  I2cBus bus("ddc0");
  bus.Emplace<Oscillator>();
  EXPECT_DEATH(bus.MasterDriveScl(false), "I2C bus 'ddc0': the lines keep changing");
}

// ---- EDID reads -------------------------------------------------------------

TEST(I2cEdid, FullReadMatchesTheMonitorsFile) {
  for (const char* file : {"00607.bin", "00627.bin", "00007.bin"}) {
    SCOPED_TRACE(file);
    const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile(file));
    I2cBus bus;
    EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
    BitBangMaster master(bus);
    std::vector<uint8_t> read;
    ASSERT_STREQ(Name(master.ReadRegisters(0x50, 0x00, 256, &read)), "ok");
    ASSERT_EQ(read.size(), 256u);
    for (size_t i = 0; i < 256; ++i)
      ASSERT_EQ(read[i], edid[i % edid.size()]) << "byte " << i;  // 128-byte parts wrap
    EXPECT_EQ(eeprom.BytesRead(), 256u);
    EXPECT_EQ(eeprom.Stops(), 1u);
    EXPECT_EQ(eeprom.Starts(), 2u) << "start and repeated start";
    EXPECT_TRUE(bus.SdaLevel());
    EXPECT_TRUE(bus.SclLevel()) << "bus released after the stop";
  }
}

TEST(I2cEdid, PointerSetsWhereReadsBeginAndCarriesOver) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00607.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  // Across the block boundary: the last bytes of the base block and the
  // extension's tag.
  ASSERT_EQ(master.ReadRegisters(0x50, 0x7E, 4, &read), Result::kOk);
  EXPECT_EQ(read, (std::vector<uint8_t>{edid[0x7E], edid[0x7F], edid[0x80], edid[0x81]}));
  EXPECT_EQ(eeprom.Pointer(), 0x82u);
  // A read without a pointer goes on where the last one ended.
  ASSERT_EQ(master.ReadCurrent(0x50, 2, &read), Result::kOk);
  EXPECT_EQ(read, (std::vector<uint8_t>{edid[0x82], edid[0x83]}));
  // Wrapping at the end of a 256-byte part.
  ASSERT_EQ(master.ReadRegisters(0x50, 0xFF, 2, &read), Result::kOk);
  EXPECT_EQ(read, (std::vector<uint8_t>{edid[0xFF], edid[0x00]}));
}

TEST(I2cEdid, PartIsReadOnlyAndOtherAddressesAreNotAnswered) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00627.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  BitBangMaster master(bus);
  EXPECT_EQ(master.Write(0x50, {0x10, 0xAB, 0xCD}), Result::kOk);
  EXPECT_EQ(eeprom.Contents(), edid);
  std::vector<uint8_t> read;
  EXPECT_EQ(master.ReadRegisters(0x51, 0, 1, &read), Result::kNoAck);
  EXPECT_EQ(master.ReadRegisters(0x37, 0, 1, &read), Result::kNoAck);
  EXPECT_EQ(eeprom.AddressAttempts(), 1u) << "only its own address counts";
}

TEST(I2cEdid, WritableRegisterSlaveStoresFromThePointerOn) {
  I2cBus bus;
  auto& slave = bus.Emplace<I2cRegisterSlave>(0x3A, std::vector<uint8_t>(16, 0), true);
  BitBangMaster master(bus);
  ASSERT_EQ(master.Write(0x3A, {0x0E, 0x11, 0x22, 0x33}), Result::kOk);
  EXPECT_EQ(slave.Contents()[0x0E], 0x11);
  EXPECT_EQ(slave.Contents()[0x0F], 0x22);
  EXPECT_EQ(slave.Contents()[0x00], 0x33) << "wraps at the end";
  std::vector<uint8_t> read;
  ASSERT_EQ(master.ReadRegisters(0x3A, 0x0F, 2, &read), Result::kOk);
  EXPECT_EQ(read, (std::vector<uint8_t>{0x22, 0x33}));
}

TEST(I2cEdid, LoadingRefusesMissingAndEmptyInput) {
  EXPECT_THROW(EdidEeprom::LoadFile(DataFile("no-such.bin")), std::runtime_error);
  EXPECT_THROW(EdidEeprom(std::vector<uint8_t>{}), std::invalid_argument);
  EdidEeprom shortPart(std::vector<uint8_t>{0x00, 0xFF});
  EXPECT_EQ(shortPart.Contents().size(), 128u);
  EXPECT_EQ(shortPart.Contents()[2], 0xFF) << "erased bytes";
  EdidEeprom longPart(std::vector<uint8_t>(512, 0x11));
  EXPECT_EQ(longPart.Contents().size(), 256u);
}

// ---- Faults -----------------------------------------------------------------

TEST(I2cFaults, NakOnOneAttemptThenRetrySucceeds) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00007.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  eeprom.NakAddressOnAttempt(1);
  eeprom.NakAddressOnAttempt(3);  // the read address of the retry
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  EXPECT_EQ(master.ReadRegisters(0x50, 0, 128, &read), Result::kNoAck);
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(master.ReadRegisters(0x50, 0, 128, &read), Result::kNoAck);
  ASSERT_EQ(master.ReadRegisters(0x50, 0, 128, &read), Result::kOk);
  EXPECT_EQ(read, edid);
  EXPECT_EQ(eeprom.AddressAttempts(), 5u);
}

TEST(I2cFaults, SdaStuckLowIsSeenAsABusyBus) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00007.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  bus.Sda().SetStuckLow(true);
  EXPECT_EQ(master.ReadRegisters(0x50, 0, 128, &read), Result::kBusBusy);
  EXPECT_EQ(eeprom.AddressAttempts(), 0u);
  bus.Sda().SetStuckLow(false);
  ASSERT_EQ(master.ReadRegisters(0x50, 0, 128, &read), Result::kOk);
  EXPECT_EQ(read, edid);
}

TEST(I2cFaults, SdaStuckLowMidTransferReadsZerosAndAcks) {
  // A master that checks only the start sees every bit low afterwards.
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00007.bin"));
  I2cBus bus;
  bus.Emplace<EdidEeprom>(edid);

  class Sticky : public I2cDevice {
   public:
    // Grabs SDA at the first clock fall after a start.
    void OnLines(bool scl, bool) override {
      if (!scl && !PullsSdaLow()) PullSdaLow(true);
    }
  };
  bus.Emplace<Sticky>();
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  EXPECT_EQ(master.ReadRegisters(0x50, 0, 4, &read), Result::kOk);
  EXPECT_EQ(read, (std::vector<uint8_t>(4, 0x00)));
}

TEST(I2cFaults, SclHeldLowTimesOutTheMaster) {
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(std::vector<uint8_t>(128, 0x42));
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  bus.Scl().SetStuckLow(true);
  EXPECT_EQ(master.ReadRegisters(0x50, 0, 8, &read), Result::kClockTimeout);
  EXPECT_EQ(eeprom.Starts(), 0u);
  bus.Scl().SetStuckLow(false);
  EXPECT_EQ(master.ReadRegisters(0x50, 0, 8, &read), Result::kOk);
  EXPECT_EQ(read, std::vector<uint8_t>(8, 0x42));
}

TEST(I2cFaults, ClockStretchingIsWaitedOutByACarefulMaster) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00627.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  eeprom.SetClockStretch(5);
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  ASSERT_EQ(master.ReadRegisters(0x50, 0, 256, &read), Result::kOk);
  EXPECT_EQ(read, edid);
  // The slave stretched after each of its 3 acknowledges and after each of
  // the 255 bytes the master acknowledged, for 5 master calls each: the
  // data set-up, the release of SCL and 3 reads that found SCL low.
  EXPECT_EQ(master.StretchedReads(), (3u + 255u) * 3u);
}

TEST(I2cFaults, StretchIgnoredByTheMasterCorruptsTheTransfer) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00627.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  eeprom.SetClockStretch(5);
  BitBangMaster careless(bus, /*honours_stretching=*/false);
  std::vector<uint8_t> read;
  const Result r = careless.ReadRegisters(0x50, 0, 16, &read);
  EXPECT_TRUE(r != Result::kOk || read != std::vector<uint8_t>(edid.begin(), edid.begin() + 16));
}

TEST(I2cFaults, SclTiedToSdaBreaksTheTransferUntilUntied) {
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00007.bin"));
  I2cBus bus;
  EdidEeprom& eeprom = bus.Emplace<EdidEeprom>(edid);
  BitBangMaster master(bus);
  std::vector<uint8_t> read;
  TieWires(bus.Scl(), bus.Sda());
  EXPECT_NE(master.ReadRegisters(0x50, 0, 8, &read), Result::kOk);
  EXPECT_EQ(eeprom.BytesRead(), 0u);
  UntieWire(bus.Scl());
  ASSERT_EQ(master.ReadRegisters(0x50, 0, 128, &read), Result::kOk);
  EXPECT_EQ(read, edid);
}

TEST(I2cFaults, TwoShortedBusesAnswerWithTheAndOfBothParts) {
  // Two monitors' DDC lines shorted together: both parts answer at once and
  // every bit is the wired-AND of the two.
  const std::vector<uint8_t> a = EdidEeprom::LoadFile(DataFile("00607.bin"));
  const std::vector<uint8_t> b = EdidEeprom::LoadFile(DataFile("00627.bin"));
  I2cBus first("first");
  I2cBus second("second");
  first.Emplace<EdidEeprom>(a);
  second.Emplace<EdidEeprom>(b);
  TieWires(first.Scl(), second.Scl());
  TieWires(first.Sda(), second.Sda());
  BitBangMaster master(first);
  std::vector<uint8_t> read;
  ASSERT_EQ(master.ReadRegisters(0x50, 0, 256, &read), Result::kOk);
  std::vector<uint8_t> expected(256);
  for (size_t i = 0; i < 256; ++i) expected[i] = a[i] & b[i];
  EXPECT_EQ(read, expected);
  EXPECT_NE(expected, a) << "the fixture's parts differ";
}

TEST(I2cFaults, SdaOfAnotherBusTiedInKeepsTheOwnPartReadable) {
  // The other bus's clock stays high, so its part sees only start and stop
  // conditions and never answers.
  const std::vector<uint8_t> a = EdidEeprom::LoadFile(DataFile("00607.bin"));
  I2cBus first("first");
  I2cBus second("second");
  first.Emplace<EdidEeprom>(a);
  EdidEeprom& other = second.Emplace<EdidEeprom>(std::vector<uint8_t>(256, 0x00));
  TieWires(first.Sda(), second.Sda());
  BitBangMaster master(first);
  std::vector<uint8_t> read;
  ASSERT_EQ(master.ReadRegisters(0x50, 0, 256, &read), Result::kOk);
  EXPECT_EQ(read, a);
  EXPECT_EQ(other.AddressAttempts(), 0u);
  EXPECT_GT(other.Starts(), 0u);
}

// ---- Slave engine: transfers broken off ---------------------------------------

TEST(I2cSlaveEngine, RepeatedStartInsideAByteDropsThatByte) {
  std::vector<uint8_t> contents(16);
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<uint8_t>(0xA0 + i);
  I2cBus bus;
  auto& slave = bus.Emplace<I2cRegisterSlave>(0x3A, contents, true);
  BitBangMaster master(bus);
  ASSERT_EQ(master.Start(), Result::kOk);
  ASSERT_EQ(master.WriteByteChecked(0x3A << 1), Result::kOk);
  ASSERT_EQ(master.WriteByteChecked(0x05), Result::kOk);  // pointer
  for (bool bit : {false, true, false}) ASSERT_EQ(master.WriteBit(bit), Result::kOk);
  // Three bits of a data byte, then a repeated start: the byte never
  // happened, and the read begins at the pointer.
  ASSERT_EQ(master.RepeatedStart(), Result::kOk);
  ASSERT_EQ(master.WriteByteChecked((0x3A << 1) | 1), Result::kOk);
  uint8_t byte = 0;
  ASSERT_EQ(master.ReadByte(/*ack=*/false, &byte), Result::kOk);
  master.Stop();
  EXPECT_EQ(byte, 0xA5);
  EXPECT_EQ(slave.Contents(), contents);
  EXPECT_EQ(slave.Starts(), 2u);
  EXPECT_EQ(slave.Stops(), 1u);
}

TEST(I2cSlaveEngine, StopInsideAReadByteReleasesTheBus) {
  // The slave sends 1 bits, so it leaves SDA free for the master's stop.
  I2cBus bus;
  auto& slave = bus.Emplace<I2cRegisterSlave>(0x3A, std::vector<uint8_t>(16, 0xFF), false);
  BitBangMaster master(bus);
  ASSERT_EQ(master.Start(), Result::kOk);
  ASSERT_EQ(master.WriteByteChecked((0x3A << 1) | 1), Result::kOk);
  bool bit = false;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(master.ReadBit(&bit), Result::kOk);
  master.Stop();
  EXPECT_EQ(slave.Stops(), 1u);
  EXPECT_TRUE(bus.SdaLevel());
  EXPECT_TRUE(bus.SclLevel());
  // The next transfer starts cleanly.
  slave.Contents()[2] = 0x5C;
  std::vector<uint8_t> read;
  ASSERT_EQ(master.ReadRegisters(0x3A, 2, 1, &read), Result::kOk);
  EXPECT_EQ(read, std::vector<uint8_t>{0x5C});
}

TEST(I2cSlaveEngine, SlaveHoldingSdaMidByteIsClockedFreeByTheMaster) {
  // A master that gives up inside a byte of zeros cannot make a stop: the
  // slave holds SDA low. Clocking on until the slave has sent its byte and
  // sees no acknowledge frees the line; then the stop works.
  const std::vector<uint8_t> edid = EdidEeprom::LoadFile(DataFile("00007.bin"));
  std::vector<uint8_t> contents = edid;
  contents[0] = 0x00;
  contents[1] = 0x00;  // a slave that went on sending would keep SDA low
  I2cBus bus;
  auto& eeprom = bus.Emplace<EdidEeprom>(contents);
  BitBangMaster master(bus);
  ASSERT_EQ(master.Start(), Result::kOk);
  ASSERT_EQ(master.WriteByteChecked((EdidEeprom::kAddress << 1) | 1), Result::kOk);
  bool bit = true;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(master.ReadBit(&bit), Result::kOk);
  master.Stop();
  EXPECT_FALSE(bus.SdaLevel()) << "the slave still drives its bit";
  EXPECT_EQ(eeprom.Stops(), 0u);

  int pulses = 0;
  while (!bus.ReadSda() && pulses < 9) {
    bus.MasterDriveScl(false);
    bus.MasterDriveScl(true);
    ++pulses;
  }
  // The stop's clock sent bit 3; bits 4 to 7 take four more clocks, and the
  // fall that ends bit 7 releases the line.
  EXPECT_EQ(pulses, 5);
  bus.MasterDriveScl(false);
  bus.MasterDriveSda(false);
  bus.MasterDriveScl(true);
  bus.MasterDriveSda(true);
  EXPECT_EQ(eeprom.Stops(), 1u);
  EXPECT_TRUE(bus.SdaLevel());

  std::vector<uint8_t> read;
  ASSERT_EQ(master.ReadRegisters(EdidEeprom::kAddress, 0, 128, &read), Result::kOk);
  EXPECT_EQ(read, contents);
}

// A slave that refuses one byte value.
class Picky : public I2cSlave {
 public:
  Picky() : I2cSlave(0x21) {}
  std::vector<uint8_t> received;
  unsigned transfers_ended = 0;

 protected:
  bool OnWriteByte(uint8_t byte) override {
    received.push_back(byte);
    return byte != 0x22;
  }
  uint8_t OnReadByte() override { return 0; }
  void OnTransferEnd() override { ++transfers_ended; }
};

TEST(I2cSlaveEngine, NakOfADataByteEndsTheSlavesPartOfTheTransfer) {
  I2cBus bus;
  Picky& slave = bus.Emplace<Picky>();
  BitBangMaster master(bus);
  ASSERT_EQ(master.Start(), Result::kOk);
  ASSERT_EQ(master.WriteByteChecked(0x21 << 1), Result::kOk);
  EXPECT_EQ(master.WriteByteChecked(0x11), Result::kOk);
  EXPECT_EQ(master.WriteByteChecked(0x22), Result::kNoAck);
  // A master that goes on anyway is no longer heard.
  EXPECT_EQ(master.WriteByteChecked(0x33), Result::kNoAck);
  master.Stop();
  EXPECT_EQ(slave.received, (std::vector<uint8_t>{0x11, 0x22}));
  EXPECT_EQ(slave.transfers_ended, 1u);
  // The next transfer is answered again.
  EXPECT_EQ(master.Write(0x21, {0x44}), Result::kOk);
  EXPECT_EQ(slave.received.back(), 0x44);
  EXPECT_EQ(slave.transfers_ended, 2u);
}

TEST(I2cBoard, BoardsCarryTheirOwnBuses) {
  Clock clock;
  Board board(BoardConfig{}, &clock);
  I2cBus& ddc = board.I2c(1);
  EXPECT_EQ(&board.I2c(1), &ddc);
  EXPECT_NE(&board.I2c(0), &ddc);
  EXPECT_EQ(ddc.Name(), "board0/i2c1");
  EXPECT_THROW(board.I2c(99), std::out_of_range);
}

}  // namespace
}  // namespace orvsim
