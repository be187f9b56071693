// Screen pre-initialisation on simulated boards: the messages it logs in
// order, its refusals, and the decisions it records (memory, bus mastering,
// rotation, off-screen budget, second monitor position, apertures).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/lnx_device.h"
#include "platform/xserver/xf86_edid.h"
#include "xdriver/orv_options.h"
#include "xdriver/orv_multihead.h"
#include "xdriver/orv_preinit.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using fetest::Description;
using fetest::FrontEnd;
using fetest::MonitorEdid;

constexpr char kWideMonitor[] = "  HorizSync 30-83\n  VertRefresh 50-76\n";

TEST_F(FrontEnd, PreInitLogsItsStepsInOrderAndKeepsTheScreen) {
  AddBoard(0x5D63, 4, 64, 0x0301);
  Description().edids[0] = MonitorEdid();
  ASSERT_EQ(PreInit(Config(1, "", 16, "\"1024x768\" \"800x600\"", 4, kWideMonitor)), 1);
  EXPECT_TRUE(InOrder({"Linear framebuffer at 0x", "MMIO registers at 0x", "BIOS at 0x",
                       "Device Id [5d63] Subsys Id [0301]",
                       "Device Name [Kestrion KB-600 Dual Display]", "Total Video RAM: 65536 kByte",
                       "ORV Monitor info: 0x", "end of ORV Monitor info",
                       "Monitor maximum supported pixel clock is 150 MHz", "Monitor Input Type = 1",
                       "Acceleration is enabled", "Using hardware cursor",
                       "-- Using monitors max pixel clock to verify modes.     --",
                       "Total Memory for Onscreen and Offscreen : 0x",
                       "Local Busmastering is enabled"}))
      << box.LogText();
  ORVRec* rec = Rec(0);
  EXPECT_EQ(rec->maxClock, 150000);  // the monitor's limit is below the board's 230 MHz
  EXPECT_EQ(rec->minClock, 12000);
  EXPECT_EQ(xf86Screens[0]->displayWidth, 1024);
  EXPECT_EQ(rec->modeInfo.ulDispWidth, 1024u);
  EXPECT_EQ(rec->modeInfo.ulBpp, 16u);
  // The monitor's EDID record belongs to the monitor; the board is closed
  // again at the end of PreInit.
  ASSERT_NE(xf86Screens[0]->monitor->DDC, nullptr);
  EXPECT_EQ(rec->pBoard, nullptr);
  EXPECT_EQ(rec->pEnt->pBoard, nullptr);
  EXPECT_EQ(server.DdcPropertyScreens(), std::vector<int>{0});
}

TEST_F(FrontEnd, NoEdidValidatesAgainstTheBoardsClockOnly) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "", 16, "\"1280x1024\"", 4, "  HorizSync 30-90\n  VertRefresh 50-90\n")), 1);
  EXPECT_TRUE(box.Logged("Raw edid data invalid\n", X_INFO));
  EXPECT_FALSE(box.Logged("ORV Monitor info"));
  EXPECT_EQ(Rec(0)->maxClock, 232000);
  EXPECT_EQ(xf86Screens[0]->monitor->DDC, nullptr);
  EXPECT_EQ(xf86Screens[0]->currentMode->Clock, 135000);  // 1280x1024 at 75 Hz fits 232 MHz
}

TEST_F(FrontEnd, VideoRamOf256MBValidatesAs255MB) {
  AddBoard(0x5D63, 4, 256);
  // A virtual desktop of exactly 256 MB fits the memory, not the 255 MB the
  // modes are validated against.
  EXPECT_EQ(PreInit(Config(1, "  VideoRam 262144\n", 24, "\"1024x768\"\n    Virtual 8192 8192")), 0);
  EXPECT_TRUE(box.Logged("Total Video RAM: 262144 kByte\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Virtual size 8192x8192 needs more video memory than 261120 kB\n", X_ERROR));
}

struct MemoryCode {
  uint32_t code;
  int kB;
};

// The register's code and the size it stands for: "Code2_128MB".
void PrintTo(const MemoryCode& c, std::ostream* out) {
  *out << "Code" << c.code << "_" << c.kB / 1024 << "MB";
}

class FrontEndMemory : public FrontEnd, public testing::WithParamInterface<MemoryCode> {};

TEST_P(FrontEndMemory, TheOptionRegistersCodeGivesTheSize) {
  AddBoard(0x5D63, 4, 256);
  pciWriteLong(pciTag(1, 4, 0), 0x40, GetParam().code);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_EQ(xf86Screens[0]->videoRam, GetParam().kB);
  EXPECT_EQ(Rec(0)->pEnt->videoMemBytes, static_cast<uint32_t>(GetParam().kB) * 1024u);
}

INSTANTIATE_TEST_SUITE_P(Codes, FrontEndMemory,
                         testing::Values(MemoryCode{0, 32768}, MemoryCode{1, 65536},
                                         MemoryCode{2, 131072}, MemoryCode{3, 262144}),
                         testing::PrintToStringParamName());

TEST_F(FrontEnd, Depth8WithSpanthreeIsRefused) {
  AddBoard();
  Description().outputs = 4;
  EXPECT_EQ(PreInit(Config(1, "  Option \"Spanthree\"\n", 8)), 0);
  EXPECT_TRUE(box.Logged("Given depth (8) is not supported in Spanthree.\n", X_ERROR));
}

struct SpanCase {
  const char* option;
  uint32_t outputs;  // of the board; 0 keeps the description's default
  bool refused;
};
void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.option << " on " << c.outputs; }
class FrontEndSpan : public FrontEnd, public testing::WithParamInterface<SpanCase> {};

// Three heads need three outputs and four heads four.
TEST_P(FrontEndSpan, ADesktopWiderThanTheOutputsIsRefused) {
  const SpanCase& c = GetParam();
  if (c.outputs != 0) Description().outputs = c.outputs;
  AddBoard();
  const int screens = PreInit(Config(1, std::string("  Option \"") + c.option + "\"\n", 16));
  const bool said = box.Logged("Maximum number of outputs exceeds device capability!\n", X_ERROR);
  EXPECT_EQ(said, c.refused);
  if (c.refused) {
    EXPECT_EQ(screens, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Desktops, FrontEndSpan,
                         testing::Values(SpanCase{"Spanthree", 0, true}, SpanCase{"Spanthree", 3, false},
                                         SpanCase{"Spanfour", 3, true}, SpanCase{"Spanfour", 4, false}));

TEST_F(FrontEnd, RotationWithoutBusMasteringDrawsThroughAShadowWithoutAcceleration) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "  Option \"Rotate\" \"cw\"\n  Option \"Busmastering\" \"off\"\n")), 1);
  ORVRec* rec = Rec(0);
  EXPECT_EQ(rec->shadowFB, 1);
  EXPECT_EQ(rec->noAccel, 1);
  EXPECT_EQ(rec->hwCursor, 0);
  EXPECT_EQ(rec->shadowRotate, 1);
  EXPECT_EQ(rec->hwRotate, 0);
  EXPECT_EQ(rec->busMastering, kBusMasteringLocal);
  EXPECT_TRUE(InOrder({"Rotating screen clockwise\n", "Using a Shadow Framebuffer\n",
                       "Acceleration is disabled\n", "Using software cursor\n",
                       "Local Busmastering is enabled\n"}));
  EXPECT_TRUE(server.SubModuleLoaded("shadowfb"));
  // The rotated screen: 768 wide, 1024 tall, its pitch from the height.
  ScrnInfoPtr s = xf86Screens[0];
  EXPECT_EQ(s->virtualX, 768);
  EXPECT_EQ(s->virtualY, 1024);
  EXPECT_EQ(s->displayWidth, 1024);
  EXPECT_EQ(s->currentMode->HDisplay, 768);
}

TEST_F(FrontEnd, AnUnknownRotationIsIgnoredWithTheServersWords) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "  Option \"Rotate\" \"upside\"\n")), 1);
  EXPECT_TRUE(box.Logged("\"upside\" is not a valid value for Option \"Rotate\"\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Valid options are \"CW\" or \"CCW\"\n", X_INFO));
  EXPECT_EQ(Rec(0)->hwRotate, 0);
  EXPECT_EQ(Rec(0)->shadowFB, 0);
}

struct OffscreenCase {
  const char* option;
  uint32_t memoryMB;
  const char* depth_modes;
  float value;
  bool forced;
};

TEST_F(FrontEnd, OffScreenIsClampedToFiveScreensAndKeepsTheFraction) {
  AddBoard(0x5D63, 4, 256);
  ASSERT_EQ(PreInit(Config(1, "  Option \"OffScreen\" \"9\"\n")), 1);
  // 1024 x 768 x 2 bytes and five screens more.
  EXPECT_FLOAT_EQ(Rec(0)->offScreen, 5.0f);
  EXPECT_EQ(Rec(0)->fbMemSize, 1024u * 768 * 2 * 6);
  EXPECT_FALSE(box.Logged("Forcing Offscreen to 0."));
}

TEST_F(FrontEnd, DefaultOffScreenIsHalfAScreen) {
  AddBoard(0x5D63, 4, 64);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_FLOAT_EQ(Rec(0)->offScreen, 0.5f);
  EXPECT_EQ(Rec(0)->fbMemSize, 1024u * 768 * 2 * 3 / 2);
  // The board's budget: half of 64 MB less 8 MB, less what the head took.
  EXPECT_EQ(Rec(0)->pEnt->offscreenBudget, (32u << 20) - (8u << 20) - Rec(0)->fbMemSize);
}

TEST_F(FrontEnd, OffScreenThatDoesNotFitFallsBackToTheScreen) {
  // 32 MB: a budget of 8 MB; 1600 x 1200 x 4 bytes is 7.3 MB, six of them
  // are far more.
  AddBoard(0x5D63, 4, 32);
  ASSERT_EQ(PreInit(Config(1, "  Option \"OffScreen\" \"5\"\n", 24, "\"1600x1200\"", 4,
                           "  HorizSync 30-90\n  VertRefresh 50-90\n")),
            1);
  EXPECT_TRUE(box.Logged("Forcing Offscreen to 0.\n", X_WARNING));
  EXPECT_EQ(Rec(0)->fbMemSize, 1600u * 1200 * 4);
}

TEST_F(FrontEnd, AScreenLargerThanTheBudgetIsRefused) {
  AddBoard(0x5D63, 4, 16);  // 16 MB: no budget beside the 8 MB kept back
  EXPECT_EQ(PreInit(Config(1, "  VideoRam 16384\n")), 0);
  EXPECT_TRUE(box.Logged("Unable to allocate memory resource.\n", X_ERROR));
}

TEST_F(FrontEnd, SixtyFourBitFrameBufferPutsTheRegistersAtTheThirdBaseRegister) {
  orvsim::BoardConfig config;
  config.device_id = 0x5D63;
  config.memory_size = 64u << 20;
  config.frame_buffer_64bit = true;
  config.frame_buffer_base = 0xC0000000ull;  // a 64-bit range placed below 4 GiB
  config.location = orvsim::PciLocation{1, 4, 0};
  orvsim::Board& board = sim.AddBoard(config);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  const auto regs = board.Bar(orvsim::ResourceKind::kRegisters);
  ASSERT_TRUE(regs.has_value());
  EXPECT_EQ(regs->config_offset, 0x18u);
  EXPECT_EQ(Rec(0)->ioPhysAddress, regs->base);
  EXPECT_EQ(Rec(0)->fbPhysAddress, board.Bar(orvsim::ResourceKind::kMemory)->base & 0xFE000000);
}

TEST_F(FrontEnd, AFrameBufferAbove4GiBIsUnusable) {
  orvsim::BoardConfig config;
  config.device_id = 0x5D63;
  config.frame_buffer_64bit = true;
  config.frame_buffer_base = 0x1000000000ull;
  config.location = orvsim::PciLocation{1, 4, 0};
  sim.AddBoard(config);
  EXPECT_EQ(PreInit(Config(1, "")), 0);
  EXPECT_TRUE(box.Logged("No valid FB address in PCI config space\n", X_ERROR));
}

TEST_F(FrontEnd, NoKernelModuleFallsBackToLocalDma) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_TRUE(InOrder({"Error #4 while loading Kernel Driver.\n", " Falling back to Local DMA \n",
                       "Local Busmastering is enabled\n"}));
  EXPECT_EQ(Rec(0)->busMastering, kBusMasteringLocal);
  EXPECT_TRUE(box.Exists("/dev/orvane"));
}

TEST_F(FrontEnd, WithTheKernelModuleBusMasteringStays) {
  AddBoard();
  box.ProvideKernelModule("orv", 243, &kernel);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_FALSE(box.Logged("Falling back"));
  EXPECT_EQ(Rec(0)->busMastering, kBusMasteringKernel);
  EXPECT_EQ(box.KernelModuleLoads(), std::vector<std::string>{"orv"});
}

TEST_F(FrontEnd, DmaEmulatedChoosesModeOne) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "  Option \"DmaEmulated\"\n")), 1);
  EXPECT_EQ(Rec(0)->busMastering, kBusMasteringEmulated);
  EXPECT_TRUE(box.Logged("Emulated Busmastering\n", X_INFO));
}

struct PositionCase {
  const char* text;  // null: option absent
  int code;
};

void PrintTo(const PositionCase& c, std::ostream* out) {
  *out << (c.text != nullptr ? c.text : "Unset");
}

class FrontEndMerged : public FrontEnd, public testing::WithParamInterface<PositionCase> {};

TEST_P(FrontEndMerged, Monitor2PositionByItsFirstLetter) {
  AddBoard();
  std::string options = "  Option \"MergedFB\"\n  Option \"MetaModes\" \"1024x768-800x600\"\n";
  if (GetParam().text != nullptr)
    options += std::string("  Option \"Monitor2Position\" \"") + GetParam().text + "\"\n";
  ASSERT_EQ(PreInit(Config(1, options)), 1);
  EXPECT_EQ(Rec(0)->monitor2Position, GetParam().code);
  EXPECT_TRUE(box.Logged("Monitor 2 position: " + std::to_string(GetParam().code) + "\n", X_INFO));
}

INSTANTIATE_TEST_SUITE_P(Positions, FrontEndMerged,
                         testing::Values(PositionCase{"Below", 3}, PositionCase{"LeftOf", 0},
                                         PositionCase{"Clone", 4}, PositionCase{nullptr, 1},
                                         PositionCase{"above", 2}, PositionCase{"RightOf", 1}),
                         testing::PrintToStringParamName());

TEST_F(FrontEnd, MergedDesktopBuildsItsModesAndCoversTheWidest) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1,
                           "  Option \"MergedFB\"\n  Option \"MetaModes\" \"1024x768-800x600 "
                           "800x600\"\n  Option \"Monitor2HSync\" \"31.5-64.3\"\n")),
            1);
  ScrnInfoPtr s = xf86Screens[0];
  ASSERT_NE(s->modes, nullptr);
  EXPECT_EQ(s->modes->HDisplay, 1824);
  EXPECT_EQ(s->modes->VDisplay, 768);
  EXPECT_EQ(s->modes->next->HDisplay, 800);  // the clone
  EXPECT_EQ(s->virtualX, 1824);
  EXPECT_EQ(s->virtualY, 768);
  ORVRec* rec = Rec(0);
  ASSERT_NE(rec->aux[0], nullptr);
  EXPECT_EQ(rec->aux[0]->monitor->nHsync, 1);
  EXPECT_FLOAT_EQ(rec->aux[0]->monitor->hsync[0].lo, 31.5f);
  EXPECT_FLOAT_EQ(rec->aux[0]->monitor->hsync[0].hi, 64.3f);
  EXPECT_EQ(s->PointerMoved, ORVMergePointerMoved);
}

TEST_F(FrontEnd, MergedDesktopWithoutMetaModesIsRefused) {
  AddBoard();
  EXPECT_EQ(PreInit(Config(1, "  Option \"MergedFB\"\n")), 0);
  EXPECT_TRUE(box.Logged("MetaModes option missing.\n", X_ERROR));
}

TEST_F(FrontEnd, AHeadIndexBeyondTheOutputsIsRefused) {
  AddBoard();
  Description().outputs = 1;
  EXPECT_EQ(PreInit(Config(2, "")), 1);
  EXPECT_TRUE(box.Logged("Maximum number of outputs exceeds device capability!\n", X_ERROR));
  // The refused head got FreeScreen and left the table; the other stays.
  EXPECT_EQ(Rec(0)->head, 0);
}

TEST_F(FrontEnd, SecondHeadCopiesTheBoardsAccelerationChoices) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(2, "  Option \"Busmastering\" \"off\"\n  Option \"KVD\"\n")), 2);
  EXPECT_EQ(Rec(1)->head, 1);
  EXPECT_EQ(Rec(1)->head2, 1);
  EXPECT_EQ(Rec(1)->busMastering, kBusMasteringLocal);
  EXPECT_EQ(Rec(1)->kvd, 1);
  EXPECT_EQ(xf86Screens[1]->AdjustFrame, ORVAdjustFrameCrtc2);
  // Each head takes half of the board's budget at most.
  EXPECT_EQ(Rec(0)->pEnt, Rec(1)->pEnt);
  EXPECT_EQ(Rec(0)->pEnt->heads[1], xf86Screens[1]);
}

TEST_F(FrontEnd, DigitalMonitorIsDetectedAndItsClockIsTheBoardsDigitalOne) {
  AddBoard();
  Description().edids[0] = MonitorEdid(true, 25);
  ASSERT_EQ(PreInit(Config(1, "", 16, "\"1024x768\"", 4, kWideMonitor)), 1);
  EXPECT_TRUE(InOrder({"Monitor Input Type = 2\n", "Detecting Digital Output [1]\n",
                       "Digital is available [1]\n"}));
  EXPECT_EQ(Rec(0)->digital1, 1);
}

TEST_F(FrontEnd, TheDeviceSectionsChipsetOverridesThePciId) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "  Chipset \"Kestrion KB-500\"\n")), 1);
  EXPECT_EQ(Rec(0)->chipId, 0x5D62);
  EXPECT_TRUE(box.Logged("Chipset override: 0x5D62\n", X_CONFIG));
}

TEST_F(FrontEnd, AResourceConflictRefusesTheHead) {
  AddBoard();
  server.ForceResourceConflict({1, 4, 0});
  EXPECT_EQ(PreInit(Config(1, "")), 0);
}

TEST_F(FrontEnd, WithheldModulesRefuseAsTheirStepSays) {
  AddBoard();
  server.WithholdSubModule("ddc");
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_TRUE(box.Logged("Unable to load ddc module.\n", X_ERROR));
  EXPECT_FALSE(box.Logged("Raw edid data invalid"));
}

TEST_F(FrontEnd, WithoutVgahwThereIsNoScreen) {
  AddBoard();
  server.WithholdSubModule("vgahw");
  EXPECT_EQ(PreInit(Config(1, "")), 0);
}

TEST_F(FrontEnd, AnUnsupportedDepthIsRefused) {
  AddBoard();
  EXPECT_EQ(PreInit(Config(1, "", 15)), 0);
  EXPECT_TRUE(box.Logged("Given depth (15) is not supported by orv driver\n", X_ERROR));
}

}  // namespace
