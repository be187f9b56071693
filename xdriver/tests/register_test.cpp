// Registration with the configuration extension's module: what head 0
// registers at ScreenInit, the board callbacks while the board is open and
// after it closed, and the mode record the callbacks build.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/orvcfg/fake_orvcfg_module.h"
#include "xdriver/orv_register.h"
#include "xdriver/tests/screen_fixture.h"

namespace {

using fetest::Screens;

constexpr uint8_t kInterruptLine = 11;

TEST_F(Screens, HeadZeroRegistersTheBoardAndItsFourOutputs) {
  xstub::FakeOrvcfgModule module(server);
  orvsim::Board& board = AddEngineBoard();
  board.Pci().ConfigWrite(0x3C, 1, kInterruptLine);
  fetest::Description().edids[0] = fetest::MonitorEdid();
  ASSERT_EQ(PreInit(Config(2, "")), 2);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();

  // One board: head 1 registers nothing.
  ASSERT_EQ(module.Boards().size(), 1u);
  const xstub::FakeOrvcfgModule::Board& b = module.Boards()[0];
  const OrvCfgBoardRecord& r = b.record;
  EXPECT_STREQ(r.oCap.szName, "Kestrion KB-600 Dual Display");
  EXPECT_EQ(r.oCap.ulDriverFamily, ORVCFG_DRIVER_FAMILY_ORV);
  EXPECT_EQ(r.oCap.ulDeviceId, 0x5D63u);
  EXPECT_EQ(r.oCap.ulSubsystemId, 0x0301u);
  EXPECT_EQ(r.ulPciBus, 1u);
  EXPECT_EQ(r.ulPciDevice, 4u);
  EXPECT_EQ(r.ulPciFunction, 0u);
  EXPECT_EQ(r.ulInterruptLine, kInterruptLine);
  EXPECT_EQ(r.ulRealBusMastering, 0u);  // local DMA
  EXPECT_EQ(r.pBoardHandle, Rec(0)->pBoard);
  EXPECT_EQ(module.RefusedOutputs(), 0);

  ASSERT_EQ(b.outputs.size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(b.outputs[i].ulOutput, i);
  // The descriptors' 13 text bytes as the EDID holds them.
  EXPECT_STREQ(b.outputs[0].szName, "TestPanel\n   ");
  EXPECT_STREQ(b.outputs[0].szSerial, "SN0001\n      ");
  EXPECT_EQ(b.outputs[0].ulEdidModeCount, static_cast<uint32_t>(ORVCFG_EDID_MODE_COUNT));
  EXPECT_STREQ(b.outputs[1].szName, "");  // no monitor there

  // The capabilities: KVD only, 0 on a board outside the four-display
  // series; everything else -1.
  EXPECT_EQ(module.GetSpecificCap(0, ORVCFG_CAP_KVD), 0);
  EXPECT_EQ(module.GetSpecificCap(0, 1), -1);
  EXPECT_EQ(module.Reserved(0), -1);
  ORVCFGVideoMode timing{};
  EXPECT_EQ(module.GetDetailedTiming(0, 1024, 768, 60, &timing), 1);
}

TEST_F(Screens, CallbacksForAClosedBoardAnswerFailureWithoutTouchingIt) {
  xstub::FakeOrvcfgModule module(server);
  AddEngineBoard();
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ASSERT_EQ(module.Boards().size(), 1u);
  OrvCfgModeRequest request{};
  request.ulOutput = 0;
  request.ulOutputType = ORVCFG_INPUT_ANALOG;
  request.oMode.ulHActive = 1024;
  request.oMode.ulVActive = 768;
  EXPECT_NE(module.ValidateMode(0, request), 0x80000000u) << "it reached the library";

  server.CloseScreens();
  const size_t callsClosed = orvstandin::CallCount();
  EXPECT_EQ(module.ValidateMode(0, request), 0x80000000u);
  EXPECT_EQ(module.ValidateModeEdid(0, request), 0x80000000u);
  EXPECT_EQ(module.GetSpecificCap(0, ORVCFG_CAP_KVD), -1);
  ORVCFGVideoMode timing{};
  EXPECT_EQ(module.GetDetailedTiming(0, 1024, 768, 60, &timing), 0);
  EXPECT_EQ(orvstandin::CallCount(), callsClosed);
}

TEST_F(Screens, WithoutTheModuleNothingIsRegistered) {
  AddEngineBoard();
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_FALSE(xf86LoaderCheckSymbol(ORVCFG_REGISTER_BOARD_SYMBOL));
}

// The output bits of a callback's mode record: analog 0-3 and digital 0-3,
// always with the validate bit 0x100000; another input type or an output
// beyond 3 gives the validate bit alone.
struct OutputCase {
  uint32_t output;
  uint32_t type;
  uint32_t bits;
};

// The input type and the output: "Analog0", "SpecialCable1".
void PrintTo(const OutputCase& c, std::ostream* out) {
  switch (c.type) {
    case ORVCFG_INPUT_ANALOG: *out << "Analog"; break;
    case ORVCFG_INPUT_DIGITAL: *out << "Digital"; break;
    case ORVCFG_INPUT_SPECIAL_CABLE: *out << "SpecialCable"; break;
    default: *out << "Type" << c.type << "_"; break;
  }
  *out << c.output;
}

class OrvCfgModeRecord : public testing::TestWithParam<OutputCase> {};

TEST_P(OrvCfgModeRecord, OutputBitsAndTheFixedWords) {
  OrvCfgModeRequest request{};
  request.ulOutput = GetParam().output;
  request.ulOutputType = GetParam().type;
  request.oMode.ulHActive = 1280;
  request.oMode.ulVActive = 1024;
  request.oMode.ulPixClock = 108000;
  QLBMODEINFO mode;
  std::memset(&mode, 0xEE, sizeof(mode));
  OrvVideoModeToModeInfo(&request, &mode);
  EXPECT_EQ(mode.flOutput, GetParam().bits);
  EXPECT_EQ(mode.ulDispWidth, 1280u);
  EXPECT_EQ(mode.ulDispHeight, 1024u);
  EXPECT_EQ(mode.ulPixClock, 108000u);
  EXPECT_EQ(mode.ulTvStandard, 1u);
  EXPECT_EQ(mode.ulTvCableType, 5u);
  EXPECT_EQ(mode.ulBpp, 0u);  // the rest is cleared
}

INSTANTIATE_TEST_SUITE_P(Outputs, OrvCfgModeRecord,
                         testing::Values(OutputCase{0, ORVCFG_INPUT_ANALOG, 0x100002},
                                         OutputCase{3, ORVCFG_INPUT_ANALOG, 0x100010},
                                         OutputCase{0, ORVCFG_INPUT_DIGITAL, 0x100020},
                                         OutputCase{3, ORVCFG_INPUT_DIGITAL, 0x100100},
                                         OutputCase{1, ORVCFG_INPUT_SPECIAL_CABLE, 0x100000},
                                         OutputCase{4, ORVCFG_INPUT_DIGITAL, 0x100000}),
                         testing::PrintToStringParamName());

}  // namespace
