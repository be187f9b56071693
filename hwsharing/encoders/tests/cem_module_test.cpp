// The output expansion module on the simulated board: initialisation by
// kind, enabling by control method (FPGA programs, three control lines,
// the clock-gating CPLD), the misc-IO routings and the opposite encoder.
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/client_services.h"
#include "core/regs/display.h"
#include "core/regs/dma.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/cem_module.h"
#include "hwsharing/tests/chip_fixture.h"
#include "tests/standins/standin_log.h"

namespace {

using Transfer = orvsim::I2cTransfer;

constexpr uint32_t kRegGpio = 0x1C4C;
constexpr uint32_t kRegDacControl = 0x1C18;
// The data bits of GPIO lines 0-8 as a read-modify-write carries them while
// every line floats high on its pull-up.
constexpr uint32_t kPulledUp = 0x1FF;

class CemModule : public hwtest::ChipTest {
 protected:
  CemModule() {
    std::memset(&h->oCem, 0, sizeof(h->oCem));
    std::memset(h->aChrontel, 0, sizeof(h->aChrontel));
    std::memset(h->aFpga, 0, sizeof(h->aFpga));
    std::memset(&h->oCpld, 0, sizeof(h->oCpld));
    std::memset(h->oPins.aucData, 0, sizeof(h->oPins.aucData));
    h->ulFeatures = 0;
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 15;
    hw.board().SetLogging(true, true);
    hw.board().ClearLog();
  }
  // Register writes and runs of delay reads, in order: {offset, value} for
  // a write, {kRegWaitDummy, n} for n reads of the delay register.
  std::vector<std::pair<uint32_t, uint32_t>> Trace(uint32_t reg) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const orvsim::RegAccessRecord& r : hw.board().Log()) {
      if (r.op == orvsim::RegOp::kWrite && r.offset == reg) out.emplace_back(reg, r.value);
      if (r.op == orvsim::RegOp::kRead && r.offset == kRegWaitDummy) {
        if (!out.empty() && out.back().first == kRegWaitDummy)
          ++out.back().second;
        else
          out.emplace_back(kRegWaitDummy, 1);
      }
    }
    return out;
  }
  MODEINFO Record(uint32_t flOutput) {
    MODEINFO m = hwtest::Mode(800, 600, 32, 40000, 40, 128, 88, 1, 4, 23);
    m.flOutput = flOutput;
    return m;
  }
};

// ---- Initialisation --------------------------------------------------------------------

TEST_F(CemModule, PassiveAndActiveModulesPulseTheirResetLine) {
  for (uint32_t kind : {kCemKindPassive, kCemKindActive}) {
    SCOPED_TRACE(kind);
    hw.board().Poke(kRegGpio, 4, 0);
    hw.board().ClearLog();
    orvstandin::Reset();
    h->oCem.ulProgMethod = kind;
    ASSERT_EQ(HSLKSTInitCEM(h), 0u);
    const uint32_t line = kind == kCemKindPassive ? 7 : 3;
    const uint32_t enable = 1u << (line + 10), data = 1u << line;
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (int i = 0; i < 8; ++i) expected.emplace_back(kRegGpio, kPulledUp);  // lines 0-7 released
    expected.emplace_back(kRegWaitDummy, 30);
    expected.emplace_back(kRegGpio, kPulledUp | enable | data);
    expected.emplace_back(kRegWaitDummy, 30);
    expected.emplace_back(kRegGpio, (kPulledUp & ~data) | enable);
    expected.emplace_back(kRegWaitDummy, 30);
    expected.emplace_back(kRegWaitDummy, 30);  // board line 13 is not on this board
    // The two waits after the pulse run together in the trace.
    expected[expected.size() - 2].second += 30;
    expected.pop_back();
    EXPECT_EQ(Trace(kRegGpio), expected);
  }
}

TEST_F(CemModule, CpldAndHybridModules) {
  h->oCem.ulProgMethod = kCemKindCpld;
  ASSERT_EQ(HSLKSTInitCEM(h), 0u);
  EXPECT_EQ(hw.WritesTo(kRegGpio), (std::vector<uint32_t>{kPulledUp | (1u << 18)}));
  hw.board().ClearLog();
  ASSERT_EQ(HSLKSTInitCEM_Hybrid(h), 0u);
  EXPECT_EQ(Trace(kRegGpio), (std::vector<std::pair<uint32_t, uint32_t>>{
                                 {kRegGpio, kPulledUp | (1u << 18) | (1u << 15)},
                                 {kRegWaitDummy, 30},
                                 {kRegGpio, (kPulledUp & ~(1u << 5)) | (1u << 18) | (1u << 15)},
                                 {kRegWaitDummy, 30}}));
  // Without the multi-output flag only the misc-IO lines are set up.
  hw.board().ClearLog();
  orvstandin::Reset();
  h->oCem.ulPresent = 0;
  ASSERT_EQ(HSLKSTInitCEM(h), 0u);
  EXPECT_TRUE(hw.WritesTo(kRegGpio).empty());
}

// ---- Enable by control method ------------------------------------------------------------

TEST_F(CemModule, UnknownControlMethods) {
  MODEINFO r = Record(kOutDigital0);
  for (uint32_t method : {0u, 10u, 200u}) {
    for (uint32_t enable : {0u, 1u}) {
      h->oCem.ulCntlMethod = method;
      h->status = 0;
      EXPECT_EQ(HSLKSTEnableCEM(h, &r, enable), kErrCemControlMethod) << method << "/" << enable;
    }
  }
  h->oCem.ulPresent = 0;
  h->status = 0;
  EXPECT_EQ(HSLKSTEnableCEM(h, &r, 1), 0u);
}

// Three control lines on encoder GPIO pins: (encoder 0, line 0), (encoder 0,
// line 1), (encoder 1, line 0).
class ThreeLines : public CemModule {
 protected:
  ThreeLines() {
    h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x81};
    h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x81};
    enc0 = &OnPort1<orvsim::EncoderChip>(0xEC, 0x81);
    enc1 = &OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
    const uint32_t lines[6] = {0, 0, 0, 1, 1, 0};
    std::memcpy(h->oCem.aulMethodData, lines, sizeof(lines));
    hw.board().SetLogging(false, true);  // the bus reads would crowd the writes out
  }
  void Clear() {
    enc0->ClearTransfers();
    enc1->ClearTransfers();
  }
  orvsim::EncoderChip* enc0;
  orvsim::EncoderChip* enc1;
};

// The serial count of a format: s1 for module codes below 6, else s2.
struct SerialRow {
  uint32_t format, s1, s2;
};
constexpr SerialRow kSerialRows[] = {
    {1, 9, 8},   {2, 9, 8},    {4, 1, 9},   {7, 1, 9},   {5, 5, 13},  {8, 5, 13},  {6, 12, 11},
    {9, 12, 11}, {10, 8, 10},  {13, 8, 10}, {15, 13, 12}, {16, 9, 8},  {17, 9, 8},  {19, 15, 8},
    {20, 15, 8}, {22, 16, 8},  {23, 17, 8}, {25, 19, 8},  {26, 9, 16},
};

// The module code and the format of a case: "module5_format1".
void PrintTo(const std::tuple<uint8_t, SerialRow>& p, std::ostream* out) {
  *out << "module" << unsigned{std::get<0>(p)} << "_format" << std::get<1>(p).format;
}

class SerialLines : public ThreeLines,
                    public testing::WithParamInterface<std::tuple<uint8_t, SerialRow>> {};

TEST_P(SerialLines, PulsesTheCountPlusOne) {
  const auto [module, r] = GetParam();
  h->oCem.ulCntlMethod = 4;
  h->oPins.aucData[421] = module;
  // Output 0: bit 0 of the DVO power word around the exchange, line 2 frames it.
  MODEINFO rec = Record(kOutDigital0);
  h->aulDigitalOutputFormat[0] = r.format;
  hw.board().Poke(kRegDvoPower, 4, 0x30);
  hw.board().ClearLog();
  ASSERT_EQ(HSLKSTEnableCEM(h, &rec, 1), 0u);
  const uint32_t n = module < 6 ? r.s1 : r.s2;
  EXPECT_EQ(enc0->GpioRisingEdges(1), n + 1);
  EXPECT_EQ(hw.WritesTo(kRegDvoPower), (std::vector<uint32_t>{0x31, 0x30}));
  EXPECT_EQ(enc1->GpioRisingEdges(0), 1u);  // the framing line
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, SerialLines,
                         testing::Combine(testing::Values(uint8_t(5), uint8_t(6)),
                                          testing::ValuesIn(kSerialRows)),
                         testing::PrintToStringParamName());

TEST_F(ThreeLines, SerialControlRefusesAnUnknownFormat) {
  h->oCem.ulCntlMethod = 4;
  MODEINFO rec = Record(kOutDigital1);
  h->aulDigitalOutputFormat[1] = 3;
  EXPECT_EQ(HSLKSTEnableCEM(h, &rec, 1), kErrCemOutputFormat);
  EXPECT_TRUE(enc0->Transfers().empty());
  // Nothing is sent when the module is switched off.
  h->status = 0;
  h->aulDigitalOutputFormat[1] = 1;
  EXPECT_EQ(HSLKSTEnableCEM(h, &rec, 0), 0u);
  EXPECT_TRUE(enc0->Transfers().empty());
}

TEST_F(ThreeLines, DacSyncSerialPulsesTheSyncClock) {
  h->oCem.ulCntlMethod = 5;
  struct Row {
    uint32_t format, d;
  } rows[] = {{1, 9}, {16, 6}, {17, 8}, {26, 9}};
  for (const Row& r : rows) {
    MODEINFO rec = Record(kOutDigital1);
    h->aulDigitalOutputFormat[1] = r.format;
    hw.board().Poke(kRegDvoPower, 4, 0);
    hw.board().Poke(kRegDacControl, 4, 0x2800);
    hw.board().ClearLog();
    h->status = 0;
    ASSERT_EQ(HSLKSTEnableCEM(h, &rec, 1), 0u) << r.format;
    const std::vector<uint32_t> dac = hw.WritesTo(kRegDacControl);
    unsigned pulses = 0;
    uint32_t last = 0x2800;
    for (uint32_t v : dac) {
      if (!(last & 0x800) && (v & 0x800)) ++pulses;
      EXPECT_EQ(v & 0x1400, 0x1400u);
      last = v;
    }
    EXPECT_EQ(pulses, r.d + 2) << r.format;
    EXPECT_FALSE(dac.back() & 0x2000);
    EXPECT_EQ(hw.WritesTo(kRegDvoPower), (std::vector<uint32_t>{0x7, 0x0}));
  }
}

TEST_F(ThreeLines, ParallelStateThenValue) {
  h->oCem.ulCntlMethod = 1;
  h->oPins.aucData[421] = 2;
  h->oPins.aucData[420] = 4;  // the DVO outputs are held off around the change
  MODEINFO rec = Record(kOutDigital0);
  h->aulDigitalOutputFormat[0] = 5;  // p = 5, v = 1
  ASSERT_EQ(HSLKSTEnableCEM(h, &rec, 1), 0u);
  // Line 0 stays high, line 1 falls, line 2 goes high and back.
  EXPECT_EQ(enc0->GpioHistory(0).back(), true);
  EXPECT_EQ(enc0->GpioHistory(1).back(), false);
  EXPECT_EQ(enc1->GpioHistory(0), (std::vector<bool>{true, false}));
  EXPECT_EQ(hw.WritesTo(kRegDvoPower).size(), 2u);
}

TEST_F(CemModule, CpldValuesPerModeCode) {
  h->oCem.ulCntlMethod = 7;
  h->oCpld = I2CDEVICE{1, 1, 0xE6, 0};
  orvsim::CompanionChip& cpld = OnPort1<orvsim::CompanionChip>(0xE6);
  struct Row {
    uint8_t code;
    std::vector<uint8_t> xy;  // empty: nothing written
  } rows[] = {{99, {0x6A, 7}},   {100, {0x92, 12}}, {104, {0x92, 12}}, {101, {0x26, 15}},
              {102, {0xCB, 15}}, {105, {0xCB, 15}}, {103, {}}};
  for (const Row& r : rows) {
    MODEINFO rec = Record(0x4000);  // output 2's fourth kind: encoder 0
    rec.acTvAdjust[0][3] = static_cast<int8_t>(r.code);
    cpld.ClearTransfers();
    h->status = 0;
    ASSERT_EQ(HSLKSTEnableCEM(h, &rec, 1), 0u) << int(r.code);
    std::vector<Transfer> expected;
    if (!r.xy.empty())
      expected = {{false, 0, {0x20}}, {false, 1, {0x86}}, {false, 2, {r.xy[0]}}, {false, 3, {r.xy[1]}}};
    EXPECT_EQ(cpld.DataWrites(), expected) << int(r.code);
  }
  // Disabling writes nothing; nor does a word without a serving encoder.
  MODEINFO rec = Record(0x4000);
  rec.acTvAdjust[0][3] = 99;
  cpld.ClearTransfers();
  EXPECT_EQ(HSLKSTEnableCEM(h, &rec, 0), 0u);
  rec.flOutput = kOutDigital0;
  EXPECT_EQ(HSLKSTEnableCEM(h, &rec, 1), 0u);
  EXPECT_TRUE(cpld.Transfers().empty());
}

TEST_F(CemModule, CpldTransferRetriesEightTimes) {
  h->oCpld = I2CDEVICE{1, 1, 0xE6, 0};
  orvsim::CompanionChip& cpld = OnPort1<orvsim::CompanionChip>(0xE6);
  for (unsigned i = 1; i <= 7; ++i) cpld.NakAddressOnAttempt(i);
  uint8_t v = 0x42;
  EXPECT_EQ(HSLKSTAccessCPLDI2CWrite(h, 2, &v, 1), 0u);
  EXPECT_EQ(cpld.Register(2), 0x42);
  for (unsigned i = 9; i <= 16; ++i) cpld.NakAddressOnAttempt(i);
  EXPECT_EQ(HSLKSTAccessCPLDI2CWrite(h, 2, &v, 1), kErrCpldWrite);
  EXPECT_EQ(cpld.AddressAttempts(), 16u);
}

TEST_F(CemModule, EmbeddedSyncOnTheFpgas) {
  h->oCem.ulCntlMethod = 2;
  h->oPins.aucData[421] = 37;
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  orvsim::FpgaChip& f0 = OnPort1<orvsim::FpgaChip>(0xE0);
  orvsim::FpgaChip& f1 = OnPort1<orvsim::FpgaChip>(0xE2);
  f0.SetRegister(8, 0x71);
  f1.SetRegister(8, 0x71);
  MODEINFO rec = Record(0x4);
  ASSERT_EQ(HSLKSTEnableCEM(h, &rec, 1), 0u);
  EXPECT_EQ(f0.Register(8), 0x71);
  EXPECT_EQ(f1.Register(8), 0x79);
  rec.flOutput = 0x2 | 0x4;
  ASSERT_EQ(HSLKSTEnableCEM(h, &rec, 0), 0u);
  EXPECT_EQ(f0.Register(8), 0x71);
  EXPECT_EQ(f1.Register(8), 0x71);
  EXPECT_EQ(f0.DataWrites().size(), 1u);
}

// The routings drive the expander lines that the board description gives
// their functions: line 1 the second DDC select (group 0), lines 4 and 6
// the dual-link routings (group 1), each as bit 4 + line of FPGA register 8.
TEST_F(CemModule, MiscIoRoutings) {
  h->oPins.aucData[4] = 0x0B;  // a description with the expander codes
  h->oPins.aucData[5] = 0x06;
  hwtest::PutPinsDword(h, 440, (3u << 4) | (4u << 16) | (5u << 24));
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  orvsim::FpgaChip& f0 = OnPort1<orvsim::FpgaChip>(0xE0);
  orvsim::FpgaChip& f1 = OnPort1<orvsim::FpgaChip>(0xE2);
  f0.SetRegister(8, 0x01);
  ASSERT_EQ(HSLKSTEnableCEMDDCSel2(h), 0u);
  EXPECT_EQ(f0.Register(8), 0x21);
  ASSERT_EQ(HSLKSTDisableCEMDDCSel2(h), 0u);
  EXPECT_EQ(f0.Register(8), 0x01);
  h->oCem.ulBoardType = 14;  // an expansion board
  HSLKSTEnableCEMDualDVI(h, 0);
  EXPECT_EQ(f1.Register(8), 0x10);
  for (uint32_t output : {1u, 2u, 3u}) HSLKSTEnableCEMDualDVI(h, output);
  EXPECT_EQ(f1.Register(8), 0x50);
  HSLKSTDisableCEMDualDVI(h, 3);
  EXPECT_EQ(f1.Register(8), 0x10);
  const size_t writes = f1.DataWrites().size();
  h->oCem.usModuleCode = 37;  // wired as a standard board: no routing
  HSLKSTDisableCEMDualDVI(h, 0);
  EXPECT_EQ(f1.DataWrites().size(), writes);
  EXPECT_EQ(f0.Register(8), 0x01);
  EXPECT_EQ(h->status, 0u);
}

// Digital output 1 on a board without the multi-output flag disturbs
// encoder 0; it is shut down only while another controller uses it.
TEST_F(CemModule, OppositeEncoderDataPath) {
  h->oCem.ulPresent = 0;
  h->ulFeatures = 1u << 24;  // encoder 0 found
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 133};
  orvsim::EncoderChip& enc = OnPort1<orvsim::EncoderChip>(0xEC, 133);
  enc.SetRegister(0x48, 0x1B);
  enc.ScriptPllLock({true});
  MODEINFO rec = Record(kOutDigital1);
  uint8_t saved = 0;
  for (MODEINFO& r : h->aModeInfo) r.flOutput = kOutControllerOff;
  ASSERT_EQ(HSLKSTShutdownOpositeDVI(h, 1, &rec, &saved), 0u);
  EXPECT_TRUE(enc.Transfers().empty()) << "no other controller uses encoder 0's path";
  h->aModeInfo[1].flOutput = kOutDigital0;  // controller 1 itself does not count
  ASSERT_EQ(HSLKSTShutdownOpositeDVI(h, 1, &rec, &saved), 0u);
  EXPECT_TRUE(enc.Transfers().empty());
  h->aModeInfo[0].flOutput = kOutDigital0;  // controller 0 drives the first output path
  ASSERT_EQ(HSLKSTShutdownOpositeDVI(h, 1, &rec, &saved), 0u);
  EXPECT_EQ(saved, 0x1B);
  EXPECT_EQ(enc.Register(0x48), 0x13);
  ASSERT_EQ(HSLKSTWakeUpOpositeDVI(h, 1, &rec, &saved), 0u);
  EXPECT_EQ(enc.Register(0x48), 0x1B);
  EXPECT_EQ(enc.PllLockReads(), 23u) << "the lock is checked again";
  // Without a detected encoder 0 or 1 nothing happens.
  h->ulFeatures = 0;
  enc.ClearTransfers();
  HSLKSTShutdownOpositeDVI(h, 1, &rec, &saved);
  EXPECT_TRUE(enc.Transfers().empty());
}

TEST_F(CemModule, ShowReadsThe32RegistersOfTheServingFpga) {
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  h->aFpga[1] = I2CDEVICE{1, 1, 0xE2, 0};
  orvsim::FpgaChip& f1 = OnPort1<orvsim::FpgaChip>(0xE2);
  for (uint8_t i = 0; i < 32; ++i) f1.SetRegister(i, static_cast<uint8_t>(0x80 + i));
  MODEINFO rec = Record(0x100);
  FPGAPROGRAM p{};
  ASSERT_EQ(HSLKSTShowCEMData_2FPgasI2C(h, &rec, &p), 0u);
  ASSERT_EQ(p.ucCount, 32u);
  EXPECT_EQ(p.aucPair[31][0], 31);
  EXPECT_EQ(p.aucPair[31][1], 0x9F);
}

}  // namespace
