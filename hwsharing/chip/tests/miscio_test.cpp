#include <functional>

#include <gtest/gtest.h>

#include "core/regs/display.h"
#include "core/regs/misc_io.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/cve2.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/tests/hw_fixture.h"

namespace {

class MiscIo : public testing::Test {
 protected:
  MiscIo() : hw(hwtest::Config(0x5D61)) {
    EXPECT_EQ(hw.Open(), 0u);
    hw.Chip();
    h = hw.h();
    // Opening loaded the built-in board description; without misc-IO maps
    // of its own the library's default lines apply.
    SetMiscIoMap(0);
    hwtest::PutPinsDword(h, kPinsMiscIoMapHigh, 0);
  }
  size_t WritesTo(uint32_t reg) { return hw.WritesTo(reg).size(); }
  void SetMiscIoMap(uint32_t map) {
    for (int i = 0; i < 4; ++i) h->oPins.aucData[392 + i] = static_cast<uint8_t>(map >> (8 * i));
  }

  hwtest::HwBoard hw;
  BOARDHANDLE* h;
};

TEST_F(MiscIo, GpioLineDrivenHighSetsDataAndEnable) {
  uint8_t level = 1;
  uint32_t present = 0;
  EXPECT_EQ(HSLKSTAccessMiscIo(h, kMiscIoGpio, 3, 0, &level, &present), 0u);
  EXPECT_EQ(present, 1u);
  EXPECT_EQ(hw.Reg(kRegGpio) & ((1u << 3) | (1u << 13)), (1u << 3) | (1u << 13));
}

TEST_F(MiscIo, GpioLineAboveEightIsAbsent) {
  hw.board().ClearLog();
  uint8_t level = 1;
  uint32_t present = 7;
  EXPECT_EQ(HSLKSTAccessMiscIo(h, kMiscIoGpio, 9, 0, &level, &present), 0u);
  EXPECT_EQ(present, 0u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

TEST_F(MiscIo, ReadReleasesTheLineAndReturnsTheWireLevel) {
  // Board line of function 1 is GPIO line 0, port 1's SDA.
  uint8_t drive = 0;
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLinePort1Sda, 0, &drive, nullptr);
  EXPECT_FALSE(hw.board().I2c(orvsim::kBusBoardPort1).SdaLevel());
  uint8_t level = 9;
  EXPECT_EQ(HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLinePort1Sda, 1, &level, nullptr), 0u);
  EXPECT_EQ(level, 1);  // released: the pull-up, not the 0 last written
  EXPECT_EQ(hw.Reg(kRegGpio) & (1u << kGpioEnableShift), 0u);
  hw.board().I2c(orvsim::kBusBoardPort1).Sda().SetStuckLow(true);
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLinePort1Sda, 1, &level, nullptr);
  EXPECT_EQ(level, 0);
}

TEST_F(MiscIo, PortEnableFallsBackToInvertedLine8) {
  // Function 8 on line 4, no function 5.
  SetMiscIoMap(0x43786621);
  uint8_t level = 1;
  uint32_t present = 0;
  EXPECT_EQ(HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineI2cPortEnable, 0, &level, &present), 0u);
  EXPECT_EQ(present, 1u);
  EXPECT_EQ(hw.Reg(kRegGpio) & 0x4010u, 0x4000u);  // line 4 driven low
  // Without line 8 either, releasing it writes nothing; driving it finds nothing.
  SetMiscIoMap(0x43706621);
  hw.board().ClearLog();
  level = 0;
  present = 0;
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineI2cPortEnable, 0, &level, &present);
  EXPECT_EQ(present, 1u);
  level = 1;
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineI2cPortEnable, 0, &level, &present);
  EXPECT_EQ(present, 0u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

TEST_F(MiscIo, LineSlotsWithoutOpenPort) {
  struct Row {
    const char* name;
    std::function<HALSTATUS()> call;
    HALSTATUS code;
  } rows[] = {
      {"set SCL", [&] { return h->oJumpTable.I2CSetSCL(h, 0, 1); }, 0xb1d02120},
      {"get SCL", [&] { uint8_t l; return h->oJumpTable.I2CGetSCL(h, 0, &l); }, 0xb1d01120},
      {"set SDA", [&] { return h->oJumpTable.I2CSetSDA(h, 0, 1); }, 0xb1d04120},
      {"get SDA", [&] { uint8_t l; return h->oJumpTable.I2CGetSDA(h, 0, &l); }, 0xb1d03120},
  };
  for (const Row& row : rows) {
    h->status = 0;
    hw.board().ClearLog();
    EXPECT_EQ(row.call(), row.code) << row.name;
    EXPECT_TRUE(hw.board().LoggedWrites().empty()) << row.name;
  }
}

TEST_F(MiscIo, PortTableAndClockClasses) {
  struct Row {
    const char* name;
    uint32_t port;
    uint32_t portWord;
    uint32_t portSpeed;
    HALSTATUS status;
    uint32_t clock;
  } rows[] = {
      {"DDC 0", 0, 0, 0, 0, 20},
      {"DDC 1", 5, 0, 0, 0, 20},
      {"DDC 2", 17, 0, 0, 0, 20},
      {"DDC 3", 18, 0, 0, 0, 20},
      {"board port 1 absent", 1, 0, 0, kErrI2cBadPort, 40},
      {"board port 1", 1, kPinsPortWordPort1, 0, 0, 2},
      {"board port 1 fast", 1, kPinsPortWordPort1, 0x40000, 0, 10},
      {"board port 16 absent", 16, kPinsPortWordPort1, 0, kErrI2cBadPort, 40},
      {"board port 16 fast", 16, kPinsPortWordPort16, 0x80000, 0, 10},
      {"unknown port", 7, 0xFF, 0, kErrI2cBadPort, 40},
  };
  for (const Row& row : rows) {
    h->status = 0;
    HSLKSTI2CClosePort(h);
    h->ulPinsPortWord = row.portWord;
    h->ulPinsPortSpeed = row.portSpeed;
    uint32_t clock = 0;
    EXPECT_EQ(h->oJumpTable.I2COpenPort(h, &clock, row.port), row.status) << row.name;
    EXPECT_EQ(clock, row.clock) << row.name;
    EXPECT_EQ(h->oI2cPort.ulOpen, row.status == 0 ? 1u : 0u) << row.name;
    EXPECT_EQ(h->ulI2cActive, row.status == 0 ? 0xFFFFu : 0u) << row.name;
  }
}

TEST_F(MiscIo, DdcPortsRouteThroughThePortEnableLine) {
  uint32_t clock = 0;
  ASSERT_EQ(HSLKSTI2COpenPort(h, &clock, 17), 0u);
  // DDC line 2 shares the pins of line 0 with the enable line high.
  EXPECT_EQ(h->oI2cPort.ulRegister, kRegDdcLines);
  EXPECT_EQ(h->oI2cPort.ulSclData, 0x2u);
  EXPECT_EQ(h->oI2cPort.ulSclEnable, 0x20000u);
  EXPECT_EQ(h->oI2cPort.ulSdaData, 0x8u);
  EXPECT_EQ(h->oI2cPort.ulSdaEnable, 0x80000u);
  EXPECT_EQ(hw.Reg(kRegGpio) & 0x1004u, 0x1004u);
  ASSERT_EQ(HSLKSTI2COpenPort(h, &clock, 0), 0u);
  EXPECT_EQ(hw.Reg(kRegGpio) & 0x1004u, 0x1000u);
  EXPECT_EQ(HSLKSTI2CClosePort(h), 0u);
  EXPECT_EQ(h->oI2cPort.ulOpen, 0u);
  EXPECT_EQ(h->oI2cPort.pfnWriteScl, nullptr);
  EXPECT_EQ(h->ulI2cActive, 0u);
  EXPECT_EQ(hw.Reg(kRegGpio) & 0x1004u, 0x1000u);
}

TEST_F(MiscIo, OpeningTheOpenPortKeepsItsRecord) {
  uint32_t clock = 0;
  ASSERT_EQ(HSLKSTI2COpenPort(h, &clock, 0), 0u);
  h->oI2cPort.aulCounter[0] = 5;
  h->ulI2cActive = 0;
  ASSERT_EQ(HSLKSTI2COpenPort(h, &clock, 0), 0u);
  EXPECT_EQ(h->oI2cPort.aulCounter[0], 5u);
  EXPECT_EQ(h->ulI2cActive, 0xFFFFu);
  EXPECT_EQ(clock, 20u);
}

TEST_F(MiscIo, ClockStateSavedOnceAndRestored) {
  // Device 0x5D61 revision 0 without the connector description: the second
  // arrangement, whose second side is 0x1C04.
  hw.board().Poke(kRegModuleClock1, 4, 5u << 15);
  hw.board().Poke(kRegDvoPower, 4, 0);
  ASSERT_EQ(HLSKSTI2CSetClockState(h, 1), 0u);
  EXPECT_EQ(hw.Reg(kRegModuleClock1) & 0x3C000u, 0u);
  hw.board().Poke(kRegModuleClock1, 4, 2u << 15);
  ASSERT_EQ(HLSKSTI2CSetClockState(h, 1), 0u);  // nested: keeps the first save
  EXPECT_EQ(hw.Reg(kRegModuleClock1), 2u << 15);
  ASSERT_EQ(HLSKSTI2CRestoreClockState(h, 1), 0u);
  EXPECT_EQ(hw.Reg(kRegModuleClock1), 5u << 15);
  hw.board().ClearLog();
  ASSERT_EQ(HLSKSTI2CRestoreClockState(h, 1), 0u);
  EXPECT_TRUE(hw.board().LoggedWrites().empty());
}

TEST_F(MiscIo, ClockStateOfDvo1KeepsItsThreeBitCode) {
  // Code 6: bits 13-14 hold 2, bit 27 holds 4.
  const uint32_t ctl0 = (2u << 13) | (1u << 27);
  hw.board().Poke(kRegModuleClock0, 4, ctl0);
  HLSKSTI2CSetClockState(h, 0);
  EXPECT_EQ(hw.Reg(kRegModuleClock0), 0u);
  HLSKSTI2CRestoreClockState(h, 0);
  EXPECT_EQ(hw.Reg(kRegModuleClock0), ctl0);
}

TEST_F(MiscIo, Cve2FieldRoundTripByteOrder) {
  uint8_t in[2] = {0x01, 0x23};
  hw.board().Poke(0x1D90, 4, 0xFFFFFC00);
  EXPECT_EQ(HSLKSTCVE2AccessRegister(h, 1, 14, in, 2), 0u);
  EXPECT_EQ(hw.Reg(0x1D90), 0xFFFFFC00u | 0x123u);
  uint8_t out[2] = {};
  EXPECT_EQ(HSLKSTCVE2AccessRegister(h, 0, 14, out, 2), 0u);
  EXPECT_EQ(out[0], 0x23);
  EXPECT_EQ(out[1], 0x01);
  // A field at a high shift keeps the other bits.
  uint8_t one = 0x5A;
  hw.board().Poke(0x1DA4, 4, 0x00FFFFFF);
  HSLKSTCVE2AccessRegister(h, 1, 63, &one, 1);
  EXPECT_EQ(hw.Reg(0x1DA4), 0x5AFFFFFFu);
}

TEST_F(MiscIo, Cve2UnknownFieldsTouchNothing) {
  for (uint32_t field : {1u, 15u, 17u, 61u, 64u, 200u}) {
    h->status = 0;
    hw.board().ClearLog();
    uint8_t b = 1;
    EXPECT_EQ(HSLKSTCVE2AccessRegister(h, 1, field, &b, 1), kErrCve2UnknownField) << field;
    EXPECT_TRUE(hw.board().LoggedWrites().empty()) << field;
  }
}

TEST_F(MiscIo, Cve2StandardControlByte) {
  hw.board().Poke(0x1DA4, 4, 1u << 9);
  hw.board().Poke(0x1D98, 4, 0xFF);
  uint8_t b = 0xFF;
  ASSERT_EQ(HSLKSTCVE2AccessRegister(h, 1, 52, &b, 1), 0u);
  EXPECT_EQ(hw.Reg(0x1DA4), (1u << 22) | (1u << 21) | (1u << 4) | (1u << 8) | (1u << 20) | (1u << 7));
  EXPECT_EQ(hw.Reg(0x1D98), 0x3FFu);
  b = 0x05;
  HSLKSTCVE2AccessRegister(h, 1, 52, &b, 1);
  EXPECT_EQ(hw.Reg(0x1DA4), 1u << 22);
  EXPECT_EQ(hw.Reg(0x1D98), 0x2FFu);
  uint8_t read = 0;
  HSLKSTCVE2AccessRegister(h, 0, 52, &read, 1);
  EXPECT_EQ(read, 0x05);
  // Bit 6 reads back from either of its two register bits.
  hw.board().Poke(0x1DA4, 4, 1u << 9);
  HSLKSTCVE2AccessRegister(h, 0, 52, &read, 1);
  EXPECT_EQ(read, 0x40 | 0x04);  // and 0x1D98 bit 9 from before
}

}  // namespace
