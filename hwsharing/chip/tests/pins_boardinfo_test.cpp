// Board information and expansion-module record decoded from a version-6
// board description.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/chip/pins_boardinfo.h"
#include "tests/standins/standin_log.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/companion_chips.h"

namespace {

class BoardInfo : public testing::Test {
 protected:
  BoardInfo() : hw(hwtest::Config(0x5D62)) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    Word(4, 0x60A);
    orvstandin::Reset();
    // The expansion module's FPGAs answer on board port 1.
    hw.Chip();
    orvsim::I2cBus& port1 = hw.board().I2c(orvsim::kBusBoardPort1);
    fpga[0] = &port1.Emplace<orvsim::FpgaChip>(0xE0);
    fpga[1] = &port1.Emplace<orvsim::FpgaChip>(0xE2);
  }
  // Register reads the FPGAs answered.
  size_t FpgaReads() const {
    size_t n = 0;
    for (const orvsim::FpgaChip* f : fpga)
      for (const orvsim::I2cTransfer& t : f->Transfers()) n += t.read ? 1 : 0;
    return n;
  }
  void Byte(uint32_t at, uint8_t v) { h->oPins.aucData[at] = v; }
  void Word(uint32_t at, uint16_t v) {
    Byte(at, static_cast<uint8_t>(v));
    Byte(at + 1, static_cast<uint8_t>(v >> 8));
  }
  void Dword(uint32_t at, uint32_t v) {
    Word(at, static_cast<uint16_t>(v));
    Word(at + 2, static_cast<uint16_t>(v >> 16));
  }
  void Text(uint32_t at, const char* s) { std::memcpy(h->oPins.aucData + at, s, std::strlen(s)); }

  hwtest::HwBoard hw;
  BOARDHANDLE* h;
  orvsim::FpgaChip* fpga[2];
};

TEST_F(BoardInfo, MemorySizeAndBoardOption) {
  struct Row {
    uint32_t config;
    uint32_t megabytes;
    bool option;
  } rows[] = {
      {0x2, 64, false},         // 128 MB code, half width
      {0xA, 128, false},        // full width
      {0xB, 256, false},
      {0x8, 32, false},
      {0x0, 16, false},
      {0xC, 32, true},          // bit 2: board option
      {0xFFFFFFFF, 32, false},  // erased word
  };
  for (const Row& r : rows) {
    Dword(140, r.config);
    h->ulBoardFlags = 0x08000000;
    EXPECT_EQ(HSLPIN60GetBoardInfo(h), 0u);
    EXPECT_EQ(h->oBoardInfo.ulMemorySize, r.megabytes << 20) << std::hex << r.config;
    EXPECT_EQ(h->oBoardInfo.ulAvailMemorySize, r.megabytes << 20);
    EXPECT_EQ((h->ulBoardFlags >> 27) & 1, r.option ? 1u : 0u) << std::hex << r.config;
  }
}

TEST_F(BoardInfo, SerialTextAndBoardText) {
  struct Row {
    uint8_t first;
    const char* want;
  } rows[] = {
      {'K', "KSTN-0001-ABCDEF"},
      {0x1F, "*** NO SERIAL NUMBER ***"},
      {0x81, "*** NO SERIAL NUMBER ***"},
      {0x80, "\x80STN-0001-ABCDEF"},
  };
  Text(376, "SECOND-TEXT-0123TRAILING");  // only 16 characters count
  for (const Row& r : rows) {
    Text(12, "KSTN-0001-ABCDEFGH");
    Byte(12, r.first);
    HSLPIN60GetBoardInfo(h);
    EXPECT_EQ(std::string(h->oBoardInfo.szSerialNumber), r.want) << int{r.first};
    EXPECT_EQ(std::string(h->oBoardInfo.szBoardText), "SECOND-TEXT-0123");
  }
}

TEST_F(BoardInfo, WordsClocksAndOutputLimits) {
  Dword(6, 0xDEADBEEF);
  Word(10, 0x120C);
  Word(34, static_cast<uint16_t>((1001 << 4) | 5));
  Byte(143, 12);
  for (int i = 0; i < 4; ++i) Byte(152 + i, static_cast<uint8_t>(40 + i));
  Byte(158, 50);
  Byte(159, 60);
  Byte(161, 1);
  h->ulFeatures = 0;
  HSLPIN60GetBoardInfo(h);
  const BOARDINFO& b = h->oBoardInfo;
  EXPECT_EQ(b.ulBoardWord1, 0xDEADBEEFu);
  EXPECT_EQ(b.ulBoardWord2, 0x120Cu);
  EXPECT_EQ(b.ulBoardWord3, ((1001u + 6000u) << 16) | 5u);
  EXPECT_EQ(b.ulClock, 12u * 16000u);
  EXPECT_EQ(b.ulRefClock, 27000u);
  EXPECT_EQ(b.ulInfoLevel, 13u);
  const OUTPUTLIMIT want[4] = {{0x8002, 160000, 200000},
                               {0x8002, 164000, 240000},
                               {0x8003, 168000, 0},
                               {0x8003, 172000, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(b.aOutputLimit[i].ulKind, want[i].ulKind) << i;
    EXPECT_EQ(b.aOutputLimit[i].ulMaxClock, want[i].ulMaxClock) << i;
    EXPECT_EQ(b.aOutputLimit[i].ulSecondLimit, want[i].ulSecondLimit) << i;
  }
  EXPECT_EQ(b.ulCapability, 0u);
  EXPECT_EQ(h->ulBoardFlags & 0xE0u, 0xE0u);

  Word(34, static_cast<uint16_t>((1000 << 4) | 3));
  Word(4, 0x603);
  Byte(161, 0);
  h->ulFeatures = 1;
  HSLPIN60GetBoardInfo(h);
  EXPECT_EQ(h->oBoardInfo.ulBoardWord3, (1000u << 16) | 3u);
  EXPECT_EQ(h->oBoardInfo.ulClock, 0u);  // no clock byte before 0x604
  EXPECT_EQ(h->oBoardInfo.ulCapability, 1u);
  EXPECT_EQ(h->ulBoardFlags & 0xE0u, 0x80u);
}

struct MethodCase {
  uint16_t version;
  uint8_t method;
  uint32_t present;
  size_t fpgaReads;
  bool cpld;
};

// The description's version in hexadecimal and the control method:
// "Version609_Method7".
void PrintTo(const MethodCase& c, std::ostream* out) {
  char name[32];
  std::snprintf(name, sizeof(name), "Version%X_Method%u", static_cast<unsigned>(c.version),
                static_cast<unsigned>(c.method));
  *out << name;
}

class CemMethods : public BoardInfo, public testing::WithParamInterface<MethodCase> {};

TEST_P(CemMethods, ControlMethodDecidesPresenceAndProbes) {
  const MethodCase& c = GetParam();
  Word(4, c.version);
  Byte(417, 10);
  Byte(419, c.method);
  Byte(421, 37);
  Dword(424, 0x00004302);  // encoder slot 0: functions 2 and 0; slot 1: 3 and 4
  HSLPIN60GetBoardInfo(h);
  EXPECT_EQ(h->oCem.ulPresent, c.present);
  EXPECT_EQ(FpgaReads(), c.fpgaReads);
  EXPECT_EQ(h->oCpld.ulPresent, c.cpld ? 1u : 0u);
  if (c.version >= 0x609) {
    EXPECT_EQ(h->oCem.ulBoardType, 10u);
    EXPECT_EQ(h->oCem.ulCntlMethod, c.method);
  } else {
    EXPECT_EQ(h->oCem.ulBoardType, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, CemMethods,
    testing::Values(MethodCase{0x608, 2, 0, 0, false},  // too old for a module record
                    MethodCase{0x609, 0, 0, 0, false}, MethodCase{0x609, 1, 1, 0, false},
                    MethodCase{0x609, 4, 1, 0, false}, MethodCase{0x609, 5, 1, 0, false},
                    MethodCase{0x609, 7, 1, 0, true}, MethodCase{0x609, 2, 1, 2, false},
                    MethodCase{0x60A, 9, 1, 2, false}, MethodCase{0x609, 10, 0, 0, false},
                    MethodCase{0x609, 255, 0, 0, false}),
    testing::PrintToStringParamName());

TEST_F(BoardInfo, EncoderGpioMethodNeedsAllThreeFunctions) {
  Byte(419, 1);
  Dword(424, 0x00004302);
  HSLPIN60GetBoardInfo(h);
  EXPECT_EQ(h->oCem.ulPresent, 1u);
  const uint32_t want[6] = {0, 0, 1, 0, 1, 1};  // (slot, nibble) of functions 2, 3, 4
  for (int i = 0; i < 6; ++i) EXPECT_EQ(h->oCem.aulMethodData[i], want[i]) << i;

  Dword(424, 0x00000302);  // no function 4
  HSLPIN60GetBoardInfo(h);
  EXPECT_EQ(h->oCem.ulPresent, 0u);
}

TEST_F(BoardInfo, CpldMethodFillsTheCpldRecord) {
  Byte(419, 7);
  Byte(421, 9);
  HSLPIN60GetBoardInfo(h);
  EXPECT_EQ(h->oCpld.ulPresent, 1u);
  EXPECT_EQ(h->oCpld.ulPort, 1u);
  EXPECT_EQ(h->oCpld.ulAddress, 0xE6u);
  EXPECT_EQ(h->oCpld.ulData, 9u);
  EXPECT_EQ(h->oCem.aulMethodData[0], 1u);
  EXPECT_EQ(h->oCem.usModuleCode, 9u);
  EXPECT_EQ(h->oCem.usControlByte, 0u);
}

TEST_F(BoardInfo, FpgaMethodTakesTheFirstTwoThatAnswer) {
  Byte(419, 3);
  Byte(420, 0x44);
  Byte(421, 37);
  HSLPIN60GetBoardInfo(h);
  // Both on port 1; the byte read (0 here) is below 5, so the default
  // control byte goes into the control word.
  EXPECT_EQ(h->oCem.aulMethodData[0], 2u);
  const I2CDEVICE want[2] = {{1, 1, 0xE0, (37u << 16) + 0x44}, {1, 1, 0xE2, (37u << 16) + 0x44}};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(h->aFpga[i].ulPresent, want[i].ulPresent) << i;
    EXPECT_EQ(h->aFpga[i].ulPort, want[i].ulPort) << i;
    EXPECT_EQ(h->aFpga[i].ulAddress, want[i].ulAddress) << i;
    EXPECT_EQ(h->aFpga[i].ulData, want[i].ulData) << i;
  }
  EXPECT_EQ(h->oCem.usControlByte, 0x44u);
  EXPECT_EQ(h->oCem.usModuleCode, 37u);
}

TEST_F(BoardInfo, FpgaMethodForgivesFailedReads) {
  Byte(419, 3);
  for (orvsim::FpgaChip* f : fpga)
    for (unsigned attempt = 1; attempt <= 64; ++attempt) f->NakAddressOnAttempt(attempt);
  EXPECT_EQ(HSLPIN60GetBoardInfo(h), 0u);
  // Port 1: each address read in both clock states, eight attempts each;
  // port 16 is not on this board.
  EXPECT_EQ(fpga[0]->AddressAttempts(), 16u);
  EXPECT_EQ(fpga[1]->AddressAttempts(), 16u);
  EXPECT_EQ(h->oCem.aulMethodData[0], 0u);
  EXPECT_EQ(h->aFpga[0].ulPresent, 0u);
  EXPECT_EQ(h->oCem.ulPresent, 1u);
}

TEST_F(BoardInfo, FailedStatusLeavesTheRecordsAlone) {
  h->status = 0xB0000001;
  h->oBoardInfo.ulRefClock = 77;
  EXPECT_EQ(HSLPIN60GetBoardInfo(h), 0xB0000001u);
  EXPECT_EQ(h->oBoardInfo.ulRefClock, 77u);
}


// The board I2C ports the description's line maps give: the port word that
// opening a port checks, and the lines an opened port runs on.
TEST(BoardPorts, LineMapsGiveThePortWord) {
  constexpr uint32_t kBoth = kPinsPortWordPort1 | kPinsPortWordPort16;
  struct Row {
    const char* name;
    uint16_t device;
    uint8_t revision;
    uint32_t miscIoMap;    // function code per line, line 0 in the low nibble
    uint32_t expanderMap;  // expander code per line
    uint32_t word;
    uint32_t port1SclData;  // SCL data mask of an opened port 1
  } rows[] = {
      // Map 0: the library's default lines, GPIO 0/1 and 6/7.
      {"default map", 0x5D62, 0, 0, 0, kBoth, 0x2},
      {"no port-16 lines", 0x5D62, 0, 0x00000021, 0, kPinsPortWordPort1, 0x2},
      // Line 4 routed to the expander, as its alternate line (code 3).
      {"port 1 clock on the expander", 0x5D62, 0, 0x000F0001, 0x00030000, kPinsPortWordPort1,
       0x10},
      {"port 1 clock on an expander line of another code", 0x5D62, 0, 0x000F0001, 0x00020000, 0,
       0},
      {"port 1 without its data line", 0x5D62, 0, 0x00000020, 0, 0, 0},
      {"port 16 clock on the expander", 0x5D62, 0, 0xF3000000, 0x30000000, kPinsPortWordPort16,
       0},
      {"port 16 without its data line", 0x5D62, 0, 0x40000000, 0, 0, 0},
      // The first chip's early revisions run port 16 on GPIO lines 1 and 0.
      {"early chip, no port-16 lines", 0x0A41, 1, 0x00000021, 0, kBoth, 0x2},
      {"early chip, no lines at all", 0x0A41, 0, 0x00000005, 0, kPinsPortWordPort16, 0},
      {"later revision needs the lines", 0x0A41, 2, 0x00000021, 0, kPinsPortWordPort1, 0x2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    hwtest::HwBoard hw(hwtest::Config(row.device, row.revision));
    ASSERT_EQ(hw.Open(), 0u);
    BOARDHANDLE* h = hw.h();
    hwtest::PutPinsDword(h, kPinsMiscIoMap, row.miscIoMap);
    hwtest::PutPinsDword(h, kPinsExpanderMap, row.expanderMap);
    h->ulPinsPortWord = ~row.word;
    h->ulPinsPortSpeed = 0xFFFFFFFF;
    ASSERT_EQ(HSLPIN60GetBoardInfo(h), 0u);
    EXPECT_EQ(h->ulPinsPortWord, row.word);
    EXPECT_EQ(h->ulPinsPortSpeed, 0u) << "no port runs fast";

    for (const uint32_t port : {kI2cPortBoard1, kI2cPortBoard16}) {
      const bool wired = row.word & (port == kI2cPortBoard1 ? kPinsPortWordPort1 : kPinsPortWordPort16);
      h->status = 0;
      uint32_t clock = 0;
      EXPECT_EQ(HSLKSTI2COpenPort(h, &clock, port), wired ? 0u : kErrI2cBadPort) << port;
      EXPECT_EQ(clock, wired ? kI2cClockBoardSlow : kI2cClockUnknown) << port;
      if (wired && port == kI2cPortBoard1) {
        EXPECT_EQ(h->oI2cPort.ulSclData, row.port1SclData);
        EXPECT_EQ(h->oI2cPort.ulSdaData, 0x1u);
      }
      h->status = 0;
      HSLKSTI2CClosePort(h);
    }
  }
}

}  // namespace
