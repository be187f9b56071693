// Output sync and DVI links on the simulated chip: the free controller, sync
// routing for load sensing and its undoing, blanking, the DVI transmitter
// pairs, the output halves of a mode set and the sync buffer.
#include <gtest/gtest.h>

#include <vector>

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/si_transmitters.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/outputs/output_sync.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/chip_clocks.h"

namespace {

using hwtest::Mode;

uint32_t g_freeFs = 15;
HALSTATUS FreeFsAnswer(BOARDHANDLE* h, uint32_t, uint32_t* fs) {
  *fs = g_freeFs;
  return h->status;
}

class OutputSync : public hwtest::ChipTest {
 protected:
  OutputSync() : clocks(Board()) {
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
    h->oJumpTable.GetFreeFS = FreeFsAnswer;
    g_freeFs = 15;
  }
  uint32_t Reg(uint32_t r) { return hw.Reg(r); }
  void Set(uint32_t r, uint32_t v) { Board().Poke(r, 4, v); }
  std::vector<uint32_t> WrittenRegs() {
    std::vector<uint32_t> out;
    for (const orvsim::RegAccessRecord& r : Board().LoggedWrites()) out.push_back(r.offset);
    return out;
  }
  static std::vector<uint64_t> Args(const char* name) {
    std::vector<uint64_t> out;
    for (size_t i = 0; i < orvstandin::TimesCalled(name); ++i)
      out.push_back(orvstandin::ArgsOf(name, i).values[0]);
    return out;
  }
  // Transmitters of kind 164 on port 1 at 0x70, 0x72, 0x74 and 0x76, one per
  // path; the handle's records name them unless a test says otherwise.
  void AddTransmitters() {
    for (uint32_t i = 0; i < 4; ++i) {
      h->aSiI164[i] = I2CDEVICE{1, 1, 0x70 + 2 * i, kSiKind164};
      if (si[i] == nullptr) si[i] = &OnPort1<orvsim::TransmitterChip>(static_cast<uint8_t>(0x70 + 2 * i));
      si[i]->ClearTransfers();
    }
  }
  // The transmitters that saw a given write of their control register 8:
  // an enable programs 0x39, 0x00, 0x89 into 8, 10, 12 (12 = 0x89 marks
  // it), the dual-link switch writes 8 a second time with bit 2 clear, a
  // power-down writes 8 = 0x38.
  enum class SiEvent { kEnabled, kDualLink, kPoweredDown };
  std::vector<uint64_t> Transmitters(SiEvent e) {
    std::vector<uint64_t> out;
    for (uint32_t i = 0; i < 4; ++i) {
      if (si[i] == nullptr) continue;
      int enables = 0, control = 0, down = 0;
      for (const std::pair<int, int>& w : hwtest::WritesOf(*si[i])) {
        enables += w == std::pair<int, int>{12, 0x89};
        control += w.first == 8 && w.second != 0x38;
        down += w == std::pair<int, int>{8, 0x38};
      }
      const bool hit = e == SiEvent::kEnabled ? enables > 0 : e == SiEvent::kDualLink ? control > enables : down > 0;
      if (hit) out.push_back(i);
    }
    return out;
  }
  static MODEINFO Record(uint32_t controller, uint32_t outputs) {
    static constexpr uint32_t kBits[4] = {0, kOutModule1, kOutSecondController,
                                          kOutModule1 | kOutSecondController};
    MODEINFO m = Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29);
    m.flOutput = kBits[controller] | outputs;
    return m;
  }
  void MakeQuad() {
    h->oCem.ulPresent = 1;
    h->oCem.ulBoardType = 2;
  }

  orvsim::ChipClocks clocks;
  orvsim::TransmitterChip* si[4] = {};
};

// ---- Free controller ------------------------------------------------------------------

TEST_F(OutputSync, BothModulesBusyGiveNoControllerAndProgramNothing) {
  Set(kRegModuleClock0, 1u << 6);
  Set(kRegModuleClock1, 2u << 6);
  uint32_t word = kOutAnalog0;
  EXPECT_EQ(HSLKSTInitFreeController(h, &word), 0u);
  EXPECT_EQ(word, kOutControllerOff);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

TEST_F(OutputSync, WithoutAFreeSynthesizerTheControllerTakesCodeSeven) {
  Set(kRegModuleClock1, kModuleClockHold | (3u << 6));
  uint32_t word = kOutAnalog0;
  EXPECT_EQ(HSLKSTInitFreeController(h, &word), 0u);
  EXPECT_EQ(word, kOutAnalog0 | kOutModule1);
  EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock1)), 7u);
  EXPECT_EQ(Reg(kRegModuleClock1) & kModuleClockHold, 0u);
  EXPECT_TRUE(clocks.FsPrograms().empty());
  // The 640x480 timing, without a surface.
  const orvsim::RasterTiming t = Raster().Timing(1);
  EXPECT_EQ(t.htotal, 800u);
  EXPECT_EQ(t.vtotal, 525u);
  EXPECT_EQ(Reg(0x1A34), 0u) << "no pitch, no surface";
}

TEST_F(OutputSync, AFreeSynthesizerIsProgrammedToTheVgaClock) {
  for (uint32_t fs = 0; fs < 4; ++fs) {
    g_freeFs = fs;
    Set(kRegModuleClock1, 0);  // select code 0: free
    clocks.ClearFsPrograms();
    uint32_t word = kOutAnalog1;
    ASSERT_EQ(HSLKSTInitFreeController(h, &word), 0u);
    EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock1)), fs + 1);
    ASSERT_FALSE(clocks.FsPrograms().empty()) << fs;
    EXPECT_EQ(clocks.FsPrograms().back().fs, fs);
    EXPECT_NEAR(clocks.FsKHz(fs), 25175.0, 25175 * 0.005) << fs;
    EXPECT_NEAR(Raster().Timing(1).pixel_khz, 25175.0, 25175 * 0.005) << "the raster runs from it";
  }
}

TEST_F(OutputSync, ModuleZeroIsTakenWhenOnlyItsClockIsStopped) {
  g_freeFs = 1;
  Set(kRegModuleClock1, 1u << 6);
  Set(kRegModuleClock0, kModuleClockHold);
  uint32_t word = kOutAnalog0 | kOutModule1;
  EXPECT_EQ(HSLKSTInitFreeController(h, &word), 0u);
  EXPECT_EQ(word, kOutAnalog0);
  EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock0)), 2u);
  EXPECT_EQ(Vga().Misc(), 8);
  EXPECT_EQ(Raster().Timing(0).vtotal, 525u);
}

// ---- Sync for load sensing --------------------------------------------------------------

TEST_F(OutputSync, SyncOnThenOffLeavesTheDacsAsFound) {
  Set(kRegDacCtl1, 0x1234);
  Set(kRegDacCtl2, 0x5678);
  Set(kRegModuleClock1, kModuleClockHold);
  uint32_t word = kOutAnalog0 | kOutAnalog1, saved1 = 0, saved2 = 0;
  ASSERT_EQ(HSLEnableSyncOnOutput(h, &word, 1, &saved1, &saved2), 0u);
  EXPECT_EQ(word & kOutModule1, kOutModule1);
  const orvsim::DacState d1 = display.Outputs().Dac(0), d2 = display.Outputs().Dac(1);
  EXPECT_TRUE(d1.on && d2.on);
  EXPECT_EQ(d1.source, 1u) << "module 1";
  EXPECT_EQ(d2.source, 1u) << "controller 1";
  EXPECT_FALSE(d1.blanked || d2.blanked);
  ASSERT_EQ(HSLDisableSyncOnOutput(h, word, &saved1, &saved2), 0u);
  EXPECT_EQ(Reg(kRegDacCtl1), 0x1234u);
  EXPECT_EQ(Reg(kRegDacCtl2), 0x5678u);
  EXPECT_TRUE(Reg(kRegModuleClock1) & kModuleClockHold) << "the started controller stops";
  // Sync off blanks the DACs.
  word = kOutAnalog0;
  HSLEnableSyncOnOutput(h, &word, 0, nullptr, nullptr);
  EXPECT_TRUE(display.Outputs().Dac(0).blanked);
}

TEST_F(OutputSync, AWordWithoutControllerStillGetsItsDacsBack) {
  // The caller's word already says "no controller": the free controller
  // adds its module, the DAC words are written, and undoing puts them back.
  Set(kRegDacCtl1, 0x1234);
  Set(kRegModuleClock1, kModuleClockHold);
  uint32_t word = kOutAnalog0 | kOutControllerOff, saved1 = 0;
  HSLEnableSyncOnOutput(h, &word, 1, &saved1, nullptr);
  ASSERT_NE(Reg(kRegDacCtl1), 0x1234u);
  ASSERT_TRUE(word & kOutControllerOff);
  Board().ClearLog();
  EXPECT_EQ(HSLDisableSyncOnOutput(h, word, &saved1, nullptr), 0u);
  EXPECT_EQ(Reg(kRegDacCtl1), 0x1234u);
  EXPECT_EQ(WrittenRegs(), (std::vector<uint32_t>{kRegDacCtl1})) << "nothing else";
}

TEST_F(OutputSync, TheExpansionDacPathNeedsTheEncoderOfTheWordsPath) {
  Set(kRegModuleClock0, kDvo1Disable | (3u << 6));
  Set(kRegDvoPower, 7);
  // Analog 2 lies on a standard board's first path and uses DVO 1.
  EXPECT_EQ(HSLEnableSyncOnExternalDac(h, kOutAnalog2 | kOutModule1), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
  // With encoder 0: analog mode, register 0x49, then 0x1C00, 0x1C20, 0x1C24.
  h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x80};
  auto& encoder = OnPort1<orvsim::EncoderChip>(0xEC, 0x80);
  Board().ClearLog();
  Set(kRegModuleClock1, 5u << 6);
  EXPECT_EQ(HSLEnableSyncOnExternalDac(h, kOutAnalog2 | kOutModule1), 0u);
  EXPECT_EQ(encoder.Register(0x49), 0x2E) << "encoder 0 in analog mode";
  std::vector<uint32_t> order;
  for (uint32_t r : WrittenRegs())
    if (r == kRegModuleClock0 || r == kRegDvoSource || r == kRegDvoPower) order.push_back(r);
  EXPECT_EQ(order, (std::vector<uint32_t>{kRegModuleClock0, kRegDvoSource, kRegDvoPower}));
  // DVO 1 takes module 1's clock code (5: low bits in 13-14, bit 2 in bit 29).
  EXPECT_EQ(Reg(kRegModuleClock0) & kDvo1Disable, 0u);
  EXPECT_EQ(Dvo1CodeLow::Get(Reg(kRegModuleClock0)), 1u);
  EXPECT_TRUE(Reg(kRegModuleClock0) & (1u << 29));
  EXPECT_TRUE(display.Outputs().Dvo(0).on);
  EXPECT_EQ(display.Outputs().Dvo(0).source, 1);
}

TEST_F(OutputSync, BlankingReachesOnlyControllersZeroAndOne) {
  h->aModeInfo[0] = Record(0, kOutAnalog0 | kOutAnalog2);
  h->aModeInfo[2] = Record(2, kOutAnalog1);
  Set(0x1888, 0);
  EXPECT_EQ(HSLKSTBlankDisplayOutput(h, 0, 1), 0u);
  EXPECT_TRUE(display.Outputs().Dac(0).blanked);
  EXPECT_EQ(Reg(0x1888) & kOutputCtlDim, kOutputCtlDim) << "dimmed for the path's analog output";
  HSLKSTBlankDisplayOutput(h, 0, 0);
  EXPECT_FALSE(display.Outputs().Dac(0).blanked);
  EXPECT_EQ(Reg(0x1888) & kOutputCtlDim, 0u);
  Board().ClearLog();
  EXPECT_EQ(HSLKSTBlankDisplayOutput(h, 2, 1), 0u);
  EXPECT_EQ(HSLKSTBlankDisplayOutput(h, 3, 1), 0u);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

// ---- DVI -------------------------------------------------------------------------------

TEST_F(OutputSync, TransmitterPairsNeedDualLinkSpeedOnePortAndTwoAddresses) {
  struct Row {
    const char* name;
    bool dl;
    uint32_t khz, port1, address1;
    bool pair;
  } rows[] = {
      {"pair", true, 165001, 1, 0x72, true},
      {"165,000 alone", true, 165000, 1, 0x72, false},
      {"no dual link", false, 200000, 1, 0x72, false},
      {"two ports", true, 200000, 16, 0x72, false},
      {"one address", true, 200000, 1, 0x70, false},
  };
  for (const Row& r : rows) {
    orvstandin::Reset();
    h->status = 0;
    h->ulFeatures = kFeatureTransmitter0;
    h->oCem.ulPresent = r.dl ? 1 : 0;
    h->aFpga[0].ulPresent = 1;
    h->oPins.aucData[148] = 0x10;
    AddTransmitters();
    h->aSiI164[1] = I2CDEVICE{1, r.port1, r.address1, kSiKind164};
    h->oWorkingMode.ulPixClock = r.khz;
    MODEINFO m = Record(0, kOutDigital0);
    EXPECT_EQ(HSLKSTEnableDVI(h, 0, &m), 0u) << r.name;
    const std::vector<uint64_t> both = {0, 1}, first = {0}, none;
    EXPECT_EQ(Transmitters(SiEvent::kEnabled), r.pair ? both : first) << r.name;
    EXPECT_EQ(Transmitters(SiEvent::kDualLink), r.pair ? both : none) << r.name;
  }
  // Path 3 never starts a pair; path 2 pairs with 3.
  h->oWorkingMode.ulPixClock = 200000;
  AddTransmitters();
  MODEINFO m = Record(0, kOutDigital0);
  HSLKSTEnableDVI(h, 3, &m);
  EXPECT_EQ(Transmitters(SiEvent::kEnabled), (std::vector<uint64_t>{3}));
  AddTransmitters();
  HSLKSTEnableDVI(h, 2, &m);
  EXPECT_EQ(Transmitters(SiEvent::kEnabled), (std::vector<uint64_t>{2, 3}));
}

TEST_F(OutputSync, WithoutDualLinkTheMiscIoLineSwitchesTheLink) {
  // A board-line map whose line 0 carries function 6.
  hwtest::PutPinsDword(h, 392, 0x6);
  uint32_t line = 0, reg = 0, out = 0, in = 0;
  ASSERT_EQ(HSLPIN60GetMISCIORegMasks(h, 6, 0, &line, &reg, &out, &in), 0u);
  ASSERT_NE(out, 0u);
  h->ulFeatures = kFeatureTransmitter0;
  h->aSiI164[0] = I2CDEVICE{1, 1, 0x70, 0xFF};  // a kind the library does not program
  MODEINFO m = Record(0, kOutDigital0);
  h->oWorkingMode.ulPixClock = 65000;
  // A dual format keeps the link on, a plain one switches it off again.
  h->aulDigitalOutputFormat[0] = 16;
  EXPECT_EQ(HSLKSTEnableDVI(h, 0, &m), 0u);
  EXPECT_EQ(Reg(reg) & (out | in), out | in) << "driven high";
  h->aulDigitalOutputFormat[0] = 0;
  EXPECT_EQ(HSLKSTEnableDVI(h, 0, &m), 0u);
  EXPECT_EQ(Reg(reg) & (out | in), out) << "driven low";
}

TEST_F(OutputSync, DviOffUsesTheEncoderOrTheTransmitterOfThePath) {
  MODEINFO m = Record(0, kOutDigital0);
  h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x81};
  auto& encoder = OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  AddTransmitters();
  HSLKSTDisableDVI(h, 1, &m);
  EXPECT_FALSE(encoder.DataWrites().empty()) << "path 1's encoder is reset";
  EXPECT_TRUE(Transmitters(SiEvent::kPoweredDown).empty());
  HSLKSTDisableDVI(h, 7, &m);  // above 3: path 0
  EXPECT_EQ(Transmitters(SiEvent::kPoweredDown), (std::vector<uint64_t>{0})) << "no dual link: one transmitter";
}

// ---- Output halves of a mode set -------------------------------------------------------

TEST_F(OutputSync, AQuadBoardSwitchesOutputsOffEvenWhenSmooth) {
  auto& encoder = OnPort1<orvsim::EncoderChip>(0xEC, 0x80);
  for (bool quad : {false, true}) {
    encoder.ClearTransfers();
    if (quad) MakeQuad();
    h->aChrontel[0] = I2CDEVICE{1, 1, 0xEC, 0x80};
    MODEINFO m = Record(0, kOutDigital0);
    h->aModeInfo[0] = m;
    h->oWorkingMode = m;
    EXPECT_EQ(HSLKSTDisableDisplayOutputs(h, &m), 0u);
    EXPECT_EQ(!encoder.DataWrites().empty(), quad) << (quad ? "quad" : "standard");
  }
}

TEST_F(OutputSync, OutputsOffFoldInTheControllersCurrentOutputs) {
  h->aModeInfo[0] = Record(0, kOutAnalog0);
  MODEINFO m = Record(0, kOutAnalog1);
  m.ulPixClock = 40000;  // not smooth
  Set(kRegDacCtl1, 0);
  EXPECT_EQ(HSLKSTDisableDisplayOutputs(h, &m), 0u);
  EXPECT_FALSE(display.Outputs().Dac(0).on) << "the current record's analog 0";
  EXPECT_TRUE(display.Outputs().Dac(0).blanked);
  EXPECT_EQ(m.flOutput, kOutAnalog1) << "the word is given back";
}

TEST_F(OutputSync, TvOutputOneOffClearsTheEncoderKind) {
  h->ucTvEncoderKind = 5;  // the integrated encoder
  MODEINFO m = Record(3, kOutTv1);
  m.flOutput |= kOutControllerOff;
  Set(kRegDacCtl2, 0x1FFFF);
  HSLKSTSetDisableDisplayOutputs(h, &m);
  EXPECT_EQ(h->ucTvEncoderKind, 0);
  // An off TV-1 record: DAC 2 on, sync kept, source bit 14.
  EXPECT_EQ(Reg(kRegDacCtl2) & (kDacOff | (1u << 15) | (1u << 14) | kDac2Blank), (1u << 14) | kDac2Blank);
}

TEST_F(OutputSync, OutputsOnTakeTheDacFieldsAndSources) {
  struct Row {
    const char* name;
    uint32_t controller, outputs, routing;
    uint16_t version;
    uint32_t dac1, dac2;  // expected fields
    HALSTATUS status;
  } rows[] = {
      {"description fields", 0, kOutAnalog0 | kOutAnalog1, 0, 0x604, 0x1AC, 0x05F, 0},
      {"old description", 1, kOutAnalog0 | kOutAnalog1, 0, 0x603, 0, 0, 0},
      {"colour records", 0, kOutAnalog0 | kOutAnalog1, (1u << 27) | (1u << 28), 0x604, 0x1D1, 0x0A3, 0},
      {"TV on DAC 2", 1, kOutTv1, 0, 0x604, 0, 0x092, 0},
      {"controller 2 on DAC 1", 2, kOutAnalog0, 0, 0x604, 0x1AC, 0, kErrDacController},
      {"controller 2 on DAC 2", 2, kOutAnalog1, 0, 0x604, 0, 0x05F, kErrDacController},
  };
  for (const Row& r : rows) {
    h->status = 0;
    h->oPins.aucData[4] = static_cast<uint8_t>(r.version);
    h->oPins.aucData[5] = static_cast<uint8_t>(r.version >> 8);
    // Fields 0x1AC (DAC 1), 0x05F (DAC 2), 0x092 (TV).
    hwtest::PutPinsDword(h, 372, 0x1AC | (0x05Fu << 9) | (0x092u << 18));
    h->aMcs[0].ulFormatHigh = 7, h->aMcs[0].ulFormatMid = 2, h->aMcs[0].ulFormatLow = 1;
    h->aMcs[1].ulFormatHigh = 2, h->aMcs[1].ulFormatMid = 4, h->aMcs[1].ulFormatLow = 3;
    h->ulOutputCaps = r.routing;
    Set(kRegDacCtl1, 0x1FFFF);
    Set(kRegDacCtl2, 0x3FFFF);
    MODEINFO m = Record(r.controller, r.outputs);
    EXPECT_EQ(HSLKSTEnableDisplayOutputs(h, &m), r.status) << r.name;
    if (r.outputs & kOutAnalog0) {
      EXPECT_EQ(Reg(kRegDacCtl1) & kDacFields, r.dac1) << r.name;
      EXPECT_TRUE(display.Outputs().Dac(0).on) << r.name;
      EXPECT_FALSE(display.Outputs().Dac(0).blanked) << r.name;
      if (r.controller < 2) {
        EXPECT_EQ(display.Outputs().Dac(0).source, r.controller) << r.name;
      }
    }
    if (r.outputs & (kOutAnalog1 | kOutTv1)) {
      EXPECT_EQ(Reg(kRegDacCtl2) & kDacFields, r.dac2) << r.name;
      EXPECT_TRUE(display.Outputs().Dac(1).on) << r.name;
      EXPECT_FALSE(display.Outputs().Dac(1).blanked) << r.name;
      const uint32_t source = (r.outputs & kOutTv1) ? 2 : r.controller == 2 ? 3 : r.controller;
      EXPECT_EQ(display.Outputs().Dac(1).source, source) << r.name << ": controller 2 leaves it";
    }
  }
}

TEST_F(OutputSync, SyncBufferLinesGoThroughTheEncoderGpio) {
  h->aChrontel[1] = I2CDEVICE{1, 1, 0xEA, 0x81};
  h->aChrontel[3] = I2CDEVICE{1, 1, 0xEE, 0x81};
  auto& encoder1 = OnPort1<orvsim::EncoderChip>(0xEA, 0x81);
  auto& encoder3 = OnPort1<orvsim::EncoderChip>(0xEE, 0x81);
  // GPIO register 0x1E with line 1 an output driven high (data bit 0x20,
  // direction bit 0x80 clear).
  const hwtest::RegWrites line1High = {{0x1E, 0x20}};
  h->ulFeatures = kFeatureEncoder0;
  // A description that maps function 2 (line 1) to slot 1, nibble 1.
  h->oPins.aucData[4] = 0x09;
  h->oPins.aucData[5] = 0x06;
  hwtest::PutPinsDword(h, 424, 0x2000);
  EXPECT_EQ(HSLKSTAccessSyncBuffer(h, nullptr, 1, 1), 0u);
  EXPECT_EQ(hwtest::WritesOf(encoder1), line1High) << "encoder 1";
  EXPECT_TRUE(encoder3.DataWrites().empty());
  // An older description names the encoder itself; without encoders nothing.
  h->oPins.aucData[4] = 0x08;
  HSLKSTAccessSyncBuffer(h, nullptr, 3, 0);
  EXPECT_EQ(hwtest::WritesOf(encoder3), (hwtest::RegWrites{{0x1E, 0x00}})) << "line 3: encoder 3, line 1 low";
  encoder1.ClearTransfers();
  encoder3.ClearTransfers();
  h->ulFeatures = 0;
  HSLKSTAccessSyncBuffer(h, nullptr, 3, 0);
  EXPECT_TRUE(encoder1.DataWrites().empty());
  EXPECT_TRUE(encoder3.DataWrites().empty());
}

}  // namespace
