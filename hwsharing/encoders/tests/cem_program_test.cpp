// Expansion FPGA programs on the simulated board: what reaches each FPGA,
// which FPGA gets it first, and the video reset.
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/encoders/cem_module.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using Pairs = hwtest::RegWrites;

using hwtest::WritesOf;

class CemProgram : public hwtest::ChipTest {
 protected:
  CemProgram() {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aSiI164, 0, sizeof(h->aSiI164));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    h->ulOutputCaps = 0;
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
    h->oCem.ulCntlMethod = 2;
    h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
    h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
    e0 = &OnPort1<orvsim::FpgaChip>(0xE0);
    e2 = &OnPort1<orvsim::FpgaChip>(0xE2);
  }
  orvsim::FpgaChip* e0;
  orvsim::FpgaChip* e2;
};

// 1024x768 at 65,000 kHz with negative syncs on digital output 0 of a quad
// board without its four transmitters: pass-through mode 0, one program of
// 21 pairs, to the FPGA at 0xE0 only.
TEST_F(CemProgram, PassThroughProgramReachesOneFpga) {
  MODEINFO r = hwtest::Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29);
  r.flOutput = 0x20000000;
  h->oWorkingMode = r;
  ASSERT_EQ(HSLKSTEnableCEM(h, &r, 1), 0u);
  const Pairs written = WritesOf(*e0);
  ASSERT_EQ(written.size(), 21u);
  EXPECT_EQ(written[1], std::make_pair(8, 3));
  EXPECT_EQ(written[4], std::make_pair(11, 0x21));
  EXPECT_EQ(written[8], std::make_pair(19, 0x1E));
  EXPECT_EQ(written[9], std::make_pair(20, 0xE4));
  EXPECT_EQ(written[17], std::make_pair(28, 0x3F));
  EXPECT_EQ(written[18], std::make_pair(29, 5));
  EXPECT_EQ(written.back(), std::make_pair(30, 1));
  EXPECT_TRUE(e2->Transfers().empty());
  // Switching the module off writes the one-pair program.
  e0->ClearTransfers();
  ASSERT_EQ(HSLKSTEnableCEM(h, &r, 0), 0u);
  EXPECT_EQ(WritesOf(*e0), (Pairs{{30, 0}}));
}

// A word that names both FPGAs: the primary one first (0xE2 under methods
// 3 and 8). An FPGA that never answers stops the program there.
TEST_F(CemProgram, PrimaryFpgaFirst) {
  MODEINFO r = hwtest::Mode(800, 600, 32, 40000, 40, 128, 88, 1, 4, 23);
  r.flOutput = 0x2 | 0x10;  // 0xE2 and 0xE0 on a quad board
  h->oWorkingMode = r;
  FPGAPROGRAM p{};
  BuildFpgaDisableProgram(&p);
  struct Case {
    uint32_t method;
    bool e0Written, e2Written;  // with 0xE2 refusing every transfer
  } cases[] = {{2, true, false}, {3, false, false}, {8, false, false}, {6, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    h->oCem.ulCntlMethod = c.method;
    e0->ClearTransfers();
    e2->ClearTransfers();
    for (unsigned i = 1; i <= 8; ++i) e2->NakAddressOnAttempt(e2->AddressAttempts() + i);
    orvstandin::Reset();
    h->status = 0;
    EXPECT_EQ(HSLKSTSetCEMData_2FPgasI2C(h, &r, &p), kErrFpgaWrite);
    EXPECT_EQ(!e0->DataWrites().empty(), c.e0Written);
  }
  // Both answering: each gets the program, the misc-IO lines follow the
  // second (line 0 coded high: bit 4 of register 8 of the FPGA at 0xE0).
  h->oPins.aucData[4] = 0x0B;
  h->oPins.aucData[5] = 0x06;
  hwtest::PutPinsDword(h, 440, 1);
  for (uint32_t method : {2u, 3u}) {
    h->oCem.ulCntlMethod = method;
    e0->ClearTransfers();
    e2->ClearTransfers();
    orvstandin::Reset();
    h->status = 0;
    ASSERT_EQ(HSLKSTSetCEMData_2FPgasI2C(h, &r, &p), 0u);
    EXPECT_EQ(WritesOf(*e0), (Pairs{{30, 0}, {8, 0x10}}));
    EXPECT_EQ(WritesOf(*e2), (Pairs{{30, 0}}));
  }
}

TEST_F(CemProgram, SelectionByBoardMethodAndOutput) {
  struct Case {
    const char* name;
    uint32_t type, method, flOutput;
    bool allTransmitters;
    bool e0, e2;
  } cases[] = {
      {"quad, digital 0", 2, 2, 0x20000000, false, true, false},
      {"quad with transmitters, digital 0", 2, 2, 0x20000000, true, false, true},
      {"mirrored quad with transmitters, method 3", 4, 3, 0x20000000, true, false, true},
      {"pair, analog 1", 10, 2, 0x8000000, false, true, false},
      {"pair, analog 1, method 3", 10, 3, 0x8000000, false, false, true},
      {"type 13, analog 2", 13, 2, 0x2, false, false, true},
      {"type 14, digital 1", 14, 2, 0x40000000, false, false, true},
      {"quad, fourth kind", 2, 2, 0x4000, false, false, false},
  };
  FPGAPROGRAM p{};
  BuildFpgaDisableProgram(&p);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    h->oCem.ulBoardType = c.type;
    h->oCem.ulCntlMethod = c.method;
    for (I2CDEVICE& t : h->aSiI164) t.ulPresent = c.allTransmitters ? 1 : 0;
    e0->ClearTransfers();
    e2->ClearTransfers();
    MODEINFO r{};
    r.flOutput = c.flOutput;
    h->status = 0;
    ASSERT_EQ(HSLKSTSetCEMData_2FPgasI2C(h, &r, &p), 0u);
    EXPECT_EQ(!e0->DataWrites().empty(), c.e0);
    EXPECT_EQ(!e2->DataWrites().empty(), c.e2);
  }
}

// The reset pulses register 30 of FPGA record 0 for the primary outcome and
// record 1 for the other, whatever their addresses.
TEST_F(CemProgram, VideoResetOnTheQuadEncoders) {
  for (I2CDEVICE& e : h->aChrontel) e = I2CDEVICE{1, 1, 0xEA, 133};
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE2, 0};  // records swapped against the addresses
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE0, 0};
  h->oWorkingMode = hwtest::Mode(640, 480, 32, 60000, 16, 96, 48, 10, 2, 33);
  h->oWorkingMode.flOutput = 0x10 | 0x2;  // TV 0 (0xE0) and analog 2 (0xE2)
  MODEINFO r{};
  ASSERT_EQ(HSLKSTApplyFPGAReset(h, &r), 0u);
  EXPECT_EQ(r.ulDispWidth, 640u) << "the working record's adjusted copy";
  EXPECT_EQ(WritesOf(*e2), (Pairs{{30, 0}, {30, 1}}));
  EXPECT_EQ(WritesOf(*e0), (Pairs{{30, 0}, {30, 1}}));
  // Only TV 0 named: the primary outcome, record 0 at 0xE2.
  e0->ClearTransfers();
  e2->ClearTransfers();
  h->oWorkingMode.flOutput = 0x10;
  ASSERT_EQ(HSLKSTApplyFPGAReset(h, &r), 0u);
  EXPECT_EQ(WritesOf(*e2), (Pairs{{30, 0}, {30, 1}}));
  EXPECT_TRUE(e0->Transfers().empty());
  // Slow pass-through, or another encoder id: no reset.
  e2->ClearTransfers();
  h->oWorkingMode.ulPixClock = 30000;
  HSLKSTApplyFPGAReset(h, &r);
  h->oWorkingMode.ulPixClock = 60000;
  h->aChrontel[2].ulData = 0x81;
  HSLKSTApplyFPGAReset(h, &r);
  EXPECT_TRUE(e2->Transfers().empty());
}

// The twin boards' format block and the dual-link tail.
TEST_F(CemProgram, TwinBoardFormatBlock) {
  h->oCem.ulBoardType = 10;
  h->oCem.usControlByte = 11;  // revision 11: the 0x20 variants of register 30
  for (I2CDEVICE& t : h->aSiI164) t.ulPresent = 1;
  h->ulOutputCaps = 0x20000000;
  h->aulDigitalOutputFormat[1] = 5;
  MODEINFO r = hwtest::Mode(800, 600, 32, 60000, 40, 128, 88, 1, 4, 23);
  r.flOutput = 0x40000000;  // digital 1
  h->oWorkingMode = r;
  FPGAPROGRAM p{};
  ASSERT_EQ(HSLKSTGetCEMData_2FPgasI2C_Enable(h, &r, &p), 0u);
  Pairs got;
  for (unsigned i = p.ucCount - 5; i < p.ucCount; ++i) got.emplace_back(p.aucPair[i][0], p.aucPair[i][1]);
  EXPECT_EQ(got, (Pairs{{5, 0x80}, {6, 0}, {1, 2}, {30, 0x26}, {30, 0x27}}));
  // Without the routing bit no block.
  h->ulOutputCaps = 0;
  ASSERT_EQ(HSLKSTGetCEMData_2FPgasI2C_Enable(h, &r, &p), 0u);
  EXPECT_EQ(p.aucPair[p.ucCount - 1][0], 30);
  EXPECT_EQ(p.aucPair[p.ucCount - 1][1], 0x21);
  EXPECT_EQ(p.aucPair[p.ucCount - 2][0], 31);
}

}  // namespace
