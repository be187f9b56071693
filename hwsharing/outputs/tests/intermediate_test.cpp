// Intermediate output modules on the simulated chip: DVO enable and clock,
// the separate DVO 2 clock, the TV encoder's CRC-checked reset, VDP and TVE
// on TV output 1, module use and the encoders' output modes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/tests/chip_fixture.h"
#include "platform/board/chip_clocks.h"

namespace {

using hwtest::Mode;

constexpr uint32_t kControllerBits[4] = {0, kOutModule1, kOutSecondController,
                                         kOutModule1 | kOutSecondController};

class Intermediate : public hwtest::ChipTest {
 protected:
  explicit Intermediate(uint16_t device = kDeviceKestrion2) : ChipTest(device), clocks(Board()) {
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
  }
  static MODEINFO Record(uint32_t controller, uint32_t outputs) {
    MODEINFO m = Mode(1024, 768, 32, 65000, 24, 136, 160, 3, 6, 29);
    m.flOutput = kControllerBits[controller] | outputs;
    m.ulFBPitch = 1024;
    return m;
  }
  uint32_t Reg(uint32_t r) { return hw.Reg(r); }
  void Set(uint32_t r, uint32_t v) { Board().Poke(r, 4, v); }
  void SetPinsVersion(uint16_t v) {
    h->oPins.aucData[4] = static_cast<uint8_t>(v);
    h->oPins.aucData[5] = static_cast<uint8_t>(v >> 8);
  }
  orvsim::ChipOutputs& Outputs() { return display.Outputs(); }

  orvsim::ChipClocks clocks;
};

// ---- DVOs -------------------------------------------------------------------------------

struct DvoCase {
  const char* name;
  uint16_t device;
  uint32_t dvo, controller;
  HALSTATUS status;
  int source;  // the controller the board's DVO takes, -1: left as it was
};

void PrintTo(const DvoCase& c, std::ostream* out) { *out << c.name; }

class DvoEnable : public Intermediate, public testing::WithParamInterface<DvoCase> {
 protected:
  DvoEnable() : Intermediate(GetParam().device) {}
};

TEST_P(DvoEnable, SwitchesTheDvoOnForItsController) {
  const DvoCase& c = GetParam();
  SetPinsVersion(0x0605);
  Set(kRegDvoPower, 7);
  Set(kRegDvoSource, 2u << 14);  // an unused DVO 1 source code, DVO 2 on controller 0
  MODEINFO m = Record(c.controller, c.dvo == 0 ? kOutDigital0 : kOutDigital1);
  EXPECT_EQ(HSLKSTEnableDVO(h, c.dvo, &m, 1), c.status) << c.name;
  const orvsim::DvoState d = Outputs().Dvo(c.dvo);
  EXPECT_TRUE(d.on) << c.name << ": registers are written also after an error";
  if (c.source >= 0) {
    EXPECT_EQ(d.source, c.source) << c.name;
  } else {
    EXPECT_EQ(Dvo1Source::Get(Reg(kRegDvoSource)), 2u) << c.name << ": source left";
  }
  EXPECT_EQ(Reg(kRegDvoSecond) & 0xFF, 0x1Fu) << "description 0x605";
  EXPECT_EQ(Reg(kRegDvoThird), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DvoEnable,
    testing::Values(DvoCase{"early, DVO 1, controller 0", kDeviceKestrion2, 0, 0, 0, 0},
                    DvoCase{"early, DVO 1, controller 2", kDeviceKestrion2, 0, 2, 0, 2},
                    DvoCase{"early, DVO 1, controller 3", kDeviceKestrion2, 0, 3, kErrDvoController, -1},
                    DvoCase{"later, DVO 1, controller 1", kDeviceKestrionNext1, 0, 1, 0, 1},
                    DvoCase{"later, DVO 1, controller 3", kDeviceKestrionNext1, 0, 3, 0, 3},
                    DvoCase{"early, DVO 2, controller 1", kDeviceKestrion2, 1, 1, 0, 1},
                    DvoCase{"early, DVO 2, controller 2", kDeviceKestrion2, 1, 2, kErrDvoController, 0},
                    DvoCase{"later, DVO 2, controller 3", kDeviceKestrionNext2, 1, 3, kErrDvoController, 0}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST_F(Intermediate, DvoOneOfControllerThreeWritesSourceTwoOnTheFirstLaterDevice) {
  h->usDeviceId = kDeviceKestrionNext1;
  MODEINFO m = Record(3, kOutDigital0);
  EXPECT_EQ(HSLKSTEnableDVO(h, 0, &m, 1), 0u);
  EXPECT_EQ(Dvo1Source::Get(Reg(kRegDvoSource)), 2u);
  EXPECT_EQ(Reg(kRegDvoSource) & kDvo1SourceBit8, 0u);
}

TEST_F(Intermediate, DescriptionDvoWordsFollowTheVersion) {
  SetPinsVersion(0x0606);
  hwtest::PutPinsDword(h, 400, 0xABC0);
  hwtest::PutPinsDword(h, 404, 0x1234);
  MODEINFO m = Record(0, kOutDigital0);
  HSLKSTEnableDVO(h, 0, &m, 1);
  EXPECT_EQ(Reg(kRegDvoSecond), 0xABC0u);
  EXPECT_EQ(Reg(kRegDvoThird), 0x1234u);
  // The later devices take the first word into the DVO power word instead.
  h->usDeviceId = kDeviceKestrionNext1;
  Set(kRegDvoSecond, 0);
  HSLKSTEnableDVO(h, 0, &m, 1);
  EXPECT_EQ(Reg(kRegDvoSecond), 0u);
  EXPECT_EQ(Reg(kRegDvoPower) & ~7u, 0xABC0u);
}

TEST_F(Intermediate, SeparateDvo2ClockByDeviceBoardTypeAndConnectors) {
  struct Row {
    const char* name;
    uint16_t device;
    uint32_t revision, type;
    uint8_t b144, b146;
    bool separate;
  } rows[] = {
      {"0x0A41", kDeviceKestrion1, 0, 0, 0, 0, false},
      {"0x0A42", kDeviceKestrion2, 0, 0, 0, 0, false},
      {"0x5D61 revision 1", kDeviceKestrionNext1, 1, 0, 0, 0, false},
      {"0x5D61 revision 0", kDeviceKestrionNext1, 0, 0, 0, 0, true},
      {"0x5D63", kDeviceKestrionNext3, 0, 0, 0, 0, true},
      {"board type 4", kDeviceKestrionNext2, 0, 4, 0, 0, false},
      {"matching connectors", kDeviceKestrionNext2, 0, 0, 2, 0, false},
      {"matching connectors, byte 146 bit 1", kDeviceKestrionNext2, 0, 0, 9, 0x2, true},
  };
  for (const Row& r : rows) {
    h->usDeviceId = r.device;
    h->ulRevision = r.revision;
    h->oCem.ulBoardType = r.type;
    SetPinsVersion(0x0606);
    for (uint32_t i = 144; i <= 151; ++i) h->oPins.aucData[i] = 0;
    h->oPins.aucData[144] = r.b144;
    h->oPins.aucData[148] = 0x10;
    h->oPins.aucData[146] = r.b146;
    EXPECT_EQ(HasSeparateDvo2Clock(h), r.separate) << r.name;
  }
}

TEST_F(Intermediate, DvoTwoWithItsOwnClockHandsTheControllerCodeSix) {
  h->usDeviceId = kDeviceKestrionNext2;
  SetPinsVersion(0x0605);
  Set(kRegModuleClock1, 2u << 6);
  MODEINFO m = Record(1, kOutDigital1);
  EXPECT_EQ(HSLKSTEnableDVO(h, 1, &m, 3), 0u);
  EXPECT_EQ(Dvo2ClockCode(Reg(kRegModuleClock1)), 3u);
  EXPECT_EQ(Reg(kRegModuleClock1) & kDvo2Disable, 0u) << "released";
  EXPECT_EQ(ModuleClockSelect::Get(Reg(kRegModuleClock1)), 6u);
  EXPECT_EQ(Reg(kRegOutputArrangement) & kOutputArrangementDvo2Locked, 0u);
  EXPECT_TRUE(Reg(kRegDvoSecond) & kDvo2SourceModule1) << "the second word names the source too";
  EXPECT_TRUE(Outputs().Dvo(1).on);
}

TEST_F(Intermediate, DvoClockSources) {
  struct Row {
    uint32_t dvo, source;
    int code;  // -1: nothing written
    HALSTATUS status;
  } rows[] = {{0, 0, 0, 0},  {0, 4, 4, 0},  {0, 5, 8, 0},  {0, 6, 9, 0},   {0, 8, 6, 0},
              {0, 9, 5, 0},  {0, 7, -1, 0}, {1, 5, -1, 0}, {1, 6, -1, 0},  {1, 3, 3, 0},
              {0, 10, -1, kErrDvoSource}};
  for (const Row& r : rows) {
    h->status = 0;
    Set(kRegModuleClock0, 0);
    Board().ClearLog();
    EXPECT_EQ(HSLKSTSetDVOClock(h, r.dvo, r.source, 1), r.status) << r.dvo << " " << r.source;
    if (r.code < 0) {
      EXPECT_TRUE(Board().LoggedWrites().empty()) << r.dvo << " " << r.source;
      continue;
    }
    // Without a separate DVO 2 clock both DVOs use module 0's field.
    EXPECT_EQ(Dvo1ClockCode(Reg(kRegModuleClock0)), static_cast<uint32_t>(r.code & 7)) << r.source;
    EXPECT_EQ(Reg(kRegModuleClock0) & kDvo1Disable, 0u) << "released";
  }
}

TEST_F(Intermediate, DisablingBothDvosHoldsTheClockAndSetsTheBothOffBit) {
  Set(kRegDvoPower, 0);
  MODEINFO m = Record(0, kOutDigital0);
  HSLKSTDisableDVO(h, 0, &m);
  EXPECT_EQ(Reg(kRegDvoPower), kDvoPowerDvo1Off);
  EXPECT_EQ(Reg(kRegModuleClock0) & kDvo1Disable, 0u);
  HSLKSTDisableDVO(h, 1, &m);
  EXPECT_EQ(Reg(kRegDvoPower), 7u);
  EXPECT_TRUE(Reg(kRegModuleClock0) & kDvo1Disable);
}

TEST_F(Intermediate, ALockedDvoKeepsItsClock) {
  // DVO 2 runs from controller 0 at 65 MHz; a DVO 1 record at the same clock.
  Set(kRegDvoPower, kDvoPowerDvo1Off);
  Set(kRegDvoSource, 0);
  h->aModeInfo[0] = Record(0, kOutDigital1);
  MODEINFO m = Record(2, kOutDigital0);
  uint32_t locked = 0;
  HSLKSTIsDvoLocked(h, &m, &locked);
  EXPECT_EQ(locked, 1u);
  m.ulPixClock = 65001;
  HSLKSTIsDvoLocked(h, &m, &locked);
  EXPECT_EQ(locked, 0u);
  m.ulPixClock = 65000;
  Set(kRegModuleClock0, WithDvo1ClockCode(0, 5));
  Board().ClearLog();
  HSLKSTEnableDVO(h, 0, &m, 1);
  for (uint32_t v : hw.WritesTo(kRegModuleClock0)) EXPECT_EQ(v & kDvo1Disable, 0u);
  EXPECT_EQ(Dvo1ClockCode(Reg(kRegModuleClock0)), 5u) << "the running clock stays";
}

TEST_F(Intermediate, DisableAndEnableTheRecordsModules) {
  // The controller's current record drives DVO 1 (digital 0); the new one
  // asks for DVO 2 only. Switching off folds in the current outputs.
  h->aModeInfo[0] = Record(0, kOutDigital0);
  MODEINFO m = Record(0, kOutDigital1);
  Set(kRegDvoPower, 0);
  Set(kRegDacCtl1, 0);
  Set(kRegDacCtl2, 0);
  EXPECT_EQ(HSLKSTDisableIntermediateModule(h, &m), 0u);
  EXPECT_EQ(m.flOutput, kOutDigital1) << "given back";
  EXPECT_FALSE(Outputs().Dvo(0).on);
  EXPECT_FALSE(Outputs().Dvo(1).on);
  EXPECT_FALSE(Outputs().Dac(0).on) << "DAC 1 carried DVO 1's sync";
  EXPECT_FALSE(Outputs().Dac(1).on);
  // A DAC another controller uses stays on.
  h->aModeInfo[1] = Record(1, kOutAnalog1);
  Set(kRegDacCtl2, 0);
  HSLKSTSetDisableIntermediateModule(h, &m);
  EXPECT_TRUE(Outputs().Dac(1).on);
  // Enabling DVO 2 routes DAC 2's sync to it, or DAC 1's on board types 2 and 5.
  h->aModeInfo[1].flOutput |= kOutControllerOff;
  Set(kRegDacCtl1, kDacOff);
  Set(kRegDacCtl2, kDacOff);
  EXPECT_EQ(HSLKSTEnableIntermediateModule(h, &m, 1), 0u);
  EXPECT_TRUE(Outputs().Dvo(1).on);
  EXPECT_TRUE(Outputs().Dac(1).on);
  EXPECT_FALSE(Outputs().Dac(0).on);
  h->oCem.ulBoardType = 5;
  Set(kRegDacCtl2, kDacOff);
  HSLKSTEnableIntermediateModule(h, &m, 1);
  EXPECT_TRUE(Outputs().Dac(0).on);
  EXPECT_FALSE(Outputs().Dac(1).on);
}

// ---- DAC sync ----------------------------------------------------------------------------

TEST_F(Intermediate, DacSyncOnlyRoutesTheRecordsSync) {
  MODEINFO m = Record(1, kOutDigital0);
  m.flSignalMode = kSignalHSyncPositive;
  Set(kRegDacCtl1, 0x1FF | kDacOff);
  HSLKSTEnableDacSyncOnly(h, 0, &m);
  const orvsim::DacState d = Outputs().Dac(0);
  EXPECT_TRUE(d.on);
  EXPECT_FALSE(d.hsync_negative);
  EXPECT_TRUE(d.vsync_negative);
  EXPECT_EQ(d.source, 1u);
  EXPECT_TRUE(d.blanked);
  EXPECT_EQ(Reg(kRegDacCtl1) & 0x1FF, 0x1FFu) << "fields kept";
  Board().ClearLog();
  HSLKSTEnableDacSyncOnly(h, 2, &m);
  EXPECT_TRUE(Board().LoggedWrites().empty());
}

// ---- TV path ------------------------------------------------------------------------------

TEST_F(Intermediate, AQuadBoardNeverEnablesTheVdpOrTheTvEncoder) {
  MODEINFO m = Record(3, kOutTv1);
  HSLKSTEnableIntermediateModule(h, &m, 4);
  EXPECT_FALSE(hw.WritesTo(0x1D28).empty()) << "a standard board does";
  EXPECT_FALSE(hw.WritesTo(0x1DC4).empty());
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  h->oCem.ulCntlMethod = 7;  // the clock-gating CPLD, which a TV record does not need
  Board().ClearLog();
  HSLKSTEnableIntermediateModule(h, &m, 4);
  EXPECT_TRUE(hw.WritesTo(0x1D28).empty());
  EXPECT_TRUE(hw.WritesTo(0x1DC4).empty());
  EXPECT_TRUE(hw.WritesTo(0x1DA4).empty());
}

TEST_F(Intermediate, TvOutputOneOfControllerThreeTakesTheSelectCode) {
  MODEINFO m = Record(3, kOutTv1);
  h->aCableInfo[1].ucCableType = 6;
  h->ucTvStandard = 1;
  HSLKSTEnableIntermediateModule(h, &m, 4);
  EXPECT_EQ(Reg(0x1D28) & 0xFF, 0x4u) << "VDP: a TV-1 record clears bits 0-1";
  EXPECT_EQ(ModuleClock0TvSelect::Get(Reg(kRegModuleClock0)), 4u);
  EXPECT_TRUE(Reg(kRegModuleClock0) & kModuleClock0TvSelectOn);
  EXPECT_EQ(Reg(kRegModuleClock0) & kModuleClock0TvHold, 0u);
  EXPECT_TRUE(Reg(kRegModuleClock1) & kModuleClock1TvOn);
  EXPECT_TRUE(Reg(0x1DA4) & (1u << 15)) << "cable 6";
  EXPECT_EQ(Reg(0x1DC4) & 0x4A, 0x4Au) << "encoder on, cable 6 or 7, standard 1";
  EXPECT_EQ(h->ucTvEncoderKind, 5) << "the integrated encoder's kind";
  EXPECT_EQ(VelanVersion(h), 0) << "no Velan: the encoder's registers stay the chip's";
  // Another record (TV 1 on controller 1) runs the encoder at code 10.
  MODEINFO other = Record(1, kOutTv1);
  HSLKSTEnableTVE(h, &other, 4);
  EXPECT_EQ(ModuleClock0TvSelect::Get(Reg(kRegModuleClock0)), 10u);
  EXPECT_EQ(Reg(0x1DC8) & 0x3FF03FF, 0x10014u);
}

// ---- TV encoder reset ----------------------------------------------------------------

class TveReset : public Intermediate {
 protected:
  TveReset() {
    sim().GetClock().SetReadCost(2000);
    // Module 1 runs from FS 0 at 135 MHz.
    EXPECT_EQ(HWKSTInitialiseFSController(h, 0, 135000), 1u);
    Set(kRegModuleClock1, 1u << 6);
    Board().RegWrite(0x1A00, 4, 1);
    Board().RegWrite(kRegRegime, 4, kRegimeHires);
    for (uint32_t w = 0; w < 30; ++w)
      if (orvsim::kTvBlockRegs[w] != 0) Set(orvsim::kTvBlockRegs[w], 0x100 + w);
    Set(0x1B10, 1000 - 2);  // module 1's totals before the reset
    Set(0x1B2C, 600 - 1);
    Set(kRegDacCtl2, 0x4123);
    before = Snapshot();
  }
  std::vector<uint32_t> Snapshot() {
    std::vector<uint32_t> out;
    for (uint32_t reg : orvsim::kTvBlockRegs)
      if (reg != 0) out.push_back(Reg(reg));
    out.push_back(Reg(kRegDacCtl2));
    return out;
  }
  std::vector<uint32_t> before;
};

TEST_F(TveReset, ANeverMatchingCrcGivesUpAfterThirtyChecksAndRestoresEverything) {
  Outputs().SetNeverMatch(true);
  EXPECT_EQ(HSLKSTTveApplyVidReset(h), 0u);
  EXPECT_EQ(Outputs().CrcRuns(), 30u);
  EXPECT_EQ(Outputs().CrcReads(), 60u);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(TveReset, AMatchOnTryKStopsAfterKChecks) {
  for (unsigned k : {1u, 4u}) {
    Outputs().Reset();
    Outputs().SetUnstableRuns(k - 1);
    EXPECT_EQ(HSLKSTTveApplyVidReset(h), 0u);
    EXPECT_EQ(Outputs().CrcRuns(), k);
    EXPECT_EQ(Outputs().CrcReads(), 2 * k);
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(TveReset, TheEncodersOwnResetRunsOnlyOnRevisionSix) {
  MODEINFO m = Record(1, kOutTv1);
  h->ulRevision = 6;
  HSLKSTEnableTVE(h, &m, 4);
  EXPECT_EQ(Outputs().CrcRuns(), 1u);
  h->ulRevision = 5;
  const unsigned resets = Raster().VideoResets();
  HSLKSTEnableTVE(h, &m, 4);
  EXPECT_EQ(Outputs().CrcRuns(), 1u);
  EXPECT_EQ(Raster().VideoResets(), resets + 1) << "a plain video reset of module 1";
}

// ---- Questions ------------------------------------------------------------------------------

TEST_F(Intermediate, ModuleUseSkipsControllerMAndOffRecords) {
  h->aModeInfo[0] = Record(0, kOutAnalog0 | kOutDigital0);  // DAC 1, first path
  h->aModeInfo[1] = Record(1, kOutAnalog1 | kOutDigital1);  // DAC 2, second path
  h->aModeInfo[3] = Record(3, kOutAnalog0);
  h->aModeInfo[3].flOutput |= kOutControllerOff;
  struct Row {
    uint32_t type, m, inUse;
  } rows[] = {{kModuleDac1, 1, 1}, {kModuleDac1, 0, 0}, {kModuleDac2, 0, 1}, {kModuleDac2, 1, 0},
              {kModuleFirstPath, 1, 1}, {kModuleSecondPath, 0, 1}, {5, 2, 0}, {0, 2, 0}};
  for (const Row& r : rows) {
    uint32_t inUse = 7;
    EXPECT_EQ(HSLKSTIsModuleCurrentlyInUse(h, r.type, r.m, &inUse), 0u);
    EXPECT_EQ(inUse, r.inUse) << r.type << " " << r.m;
  }
  EXPECT_EQ(HSLKSTIsModuleCurrentlyInUse(h, kModuleDac1, 1, nullptr), 0u);
}

TEST_F(Intermediate, ChrontelOutputModeByThePathsBits) {
  struct Row {
    uint32_t encoder, word, mode;
  } rows[] = {{0, kOutAnalog2, 2},
              {0, kOutDigital0 | kOutAnalog2, 1},
              {0, kOutFourth2, 4},
              {0, kOutAnalog0 | kOutFourth0, 1},  // none of the first path's bits
              {1, kOutAnalog3, 2},
              {2, kOutAnalog2, 1},                // no third path on a standard board
              {3, kOutDigital1 | kOutAnalog3, 1},
              {7, kOutAnalog2, 2}};               // above 3: the first path
  for (const Row& r : rows) {
    uint32_t mode = 0;
    HSLKSTGetChrontelOutputMode(h, r.encoder, r.word, &mode);
    EXPECT_EQ(mode, r.mode) << r.encoder << " " << std::hex << r.word;
  }
  // A quad board's first path carries TV 0.
  h->oCem.ulPresent = 1;
  h->oCem.ulBoardType = 2;
  uint32_t tv = 0;
  HSLKSTGetChrontelOutputMode(h, 0, kOutTv0, &tv);
  EXPECT_EQ(tv, 3u);
  h->status = 0x80000001;
  uint32_t mode = 99;
  HSLKSTGetChrontelOutputMode(h, 0, kOutAnalog0, &mode);
  EXPECT_EQ(mode, 99u);
}

TEST_F(Intermediate, SerialParallelBackEndPulsesTheFpgaVideoBitForModuleCode37) {
  h->aFpga[0] = I2CDEVICE{1, 1, 0xE0, 0};
  auto& fpga = OnPort1<orvsim::FpgaChip>(0xE0);
  fpga.SetRegister(30, 0x41);
  HSLKSTEnableCEM_SP_Backend(h, 0);
  EXPECT_TRUE(fpga.DataWrites().empty()) << "another module code";
  h->oPins.aucData[421] = 37;
  HSLKSTEnableCEM_SP_Backend(h, 0);
  EXPECT_EQ(fpga.DataWrites(), (std::vector<orvsim::I2cTransfer>{{false, 30, {0x40}}, {false, 30, {0x41}}}));
  fpga.ClearTransfers();
  HSLKSTDisableCEM_SP_Backend(h, 0);
  EXPECT_EQ(fpga.Register(30), 0x40);
}

}  // namespace
