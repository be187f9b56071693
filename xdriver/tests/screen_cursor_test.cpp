// What ScreenInit hands to the server's pointer, power-management and
// extension layers: the pointer drawn by the board's cursor engines (the
// cursor layer's record, images in the cursor buffer the device start
// placed, the image base again after a VT switch, the record gone at close),
// the power levels reaching the head's board, and the Xinerama answers only
// when the desktop asks for them.
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "core/tests/pdev_fixture.h"
#include "platform/board/chip_cursor.h"
#include "xdriver/orv_xinerama.h"
#include "xdriver/tests/bare_screen_fixture.h"
#include "xdriver/tests/screen_fixture.h"

namespace {

using fetest::KernelScreens;
using fetest::Screens;

TEST_F(Screens, ThePointerIsDrawnByTheCursorEngines) {
  orvsim::Board& board = Up(1);
  orvsim::ChipCursor chip(board);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_TRUE(box.Logged("Initializing HW cursor\n", X_INFO));
  EXPECT_FALSE(box.Logged("Hardware cursor initialization failed"));
  EXPECT_FALSE(box.Logged("Using SW cursor"));
  ASSERT_NE(server.CursorInfo(0), nullptr);
  EXPECT_EQ(server.CursorInfo(0), Rec(0)->pCursorInfo);
  // Both engines are off when ScreenInit returns.
  EXPECT_FALSE(chip.Shown(0));
  EXPECT_FALSE(chip.Shown(1));

  xstub::TestCursor cursor(8, 8, 1, 1);
  cursor.SetMask(3, 2);
  cursor.SetSource(3, 2);
  cursor.SetMask(4, 2);
  ASSERT_TRUE(server.DisplayCursor(0, cursor.get(), 40, 30));
  EXPECT_TRUE(chip.Shown(0));
  EXPECT_FALSE(chip.Shown(1));
  EXPECT_EQ(chip.X(0), 39u + 64);
  EXPECT_EQ(chip.Y(0), 29u + 64);
  // The engine reads the image the driver wrote, at the base the device
  // start gave it.
  EXPECT_EQ(chip.ImageBase(0), Rec(0)->cursorOffset);
  EXPECT_EQ(chip.ImagePixel(0, 3, 2).index, 1u);
  EXPECT_EQ(chip.ImagePixel(0, 3, 2).alpha, 0xFF);
  EXPECT_EQ(chip.ImagePixel(0, 4, 2).index, 0u);
  EXPECT_EQ(chip.ImagePixel(0, 4, 2).alpha, 0xFF);
  EXPECT_EQ(chip.ImagePixel(0, 5, 2).alpha, 0);

  // Back from another VT (whose driver moved both image bases), both
  // engines read the image where the device start put it.
  server.LeaveVT();
  board.Poke(orvsim::ChipCursor::kRegImageBase, 4, 0);
  board.Poke(orvsim::ChipCursor::kRegImageBase + orvsim::ChipCursor::kEngineStride, 4, 0);
  ASSERT_TRUE(server.EnterVT()) << box.LogText();
  EXPECT_EQ(chip.ImageBase(0), Rec(0)->cursorOffset);
  EXPECT_EQ(chip.ImageBase(1), Rec(0)->cursorOffset);
  EXPECT_NE(Rec(0)->cursorOffset, 0u);

  server.CloseScreens();
  EXPECT_EQ(server.CursorInfo(0), nullptr);
}

TEST_F(Screens, WithoutTheHardwareCursorNoBaseIsWrittenOnEnterVT) {
  orvsim::Board& board = Up(1, "  Option \"HWcursor\" \"false\"\n");
  orvsim::ChipCursor chip(board);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_TRUE(box.Logged("Using SW cursor\n", X_INFO));
  EXPECT_EQ(server.CursorInfo(0), nullptr);
  EXPECT_EQ(Rec(0)->pCursorInfo, nullptr);
  server.LeaveVT();
  board.Poke(orvsim::ChipCursor::kRegImageBase, 4, 0x1234);
  ASSERT_TRUE(server.EnterVT()) << box.LogText();
  EXPECT_EQ(chip.ImageBase(0), 0x1234u);
  server.CloseScreens();
}

// A screen the hardware pivot turns has its pointer drawn by the server:
// PreInit says so, and coming back to the console touches neither cursor
// engine's image base.
TEST_F(KernelScreens, AHardwarePivotLeavesThePointerToTheServer) {
  coretest::KernelMemory memory;
  memory.Install(kernel);
  orvsim::Board& board = KernelBoard(1, 24, "  Option \"Rotate\" \"CW\"\n");
  ASSERT_NE(Rec(0)->hwRotate, 0) << "the kernel module rotates in hardware";
  EXPECT_TRUE(box.Logged("Using software cursor\n", X_WARNING));
  EXPECT_FALSE(box.Logged("Using hardware cursor\n"));
  orvsim::ChipCursor chip(board);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_EQ(server.CursorInfo(0), nullptr);
  server.LeaveVT();
  board.Poke(orvsim::ChipCursor::kRegImageBase, 4, 0x1234);
  board.Poke(orvsim::ChipCursor::kRegImageBase + orvsim::ChipCursor::kEngineStride, 4, 0x5678);
  ASSERT_TRUE(server.EnterVT()) << box.LogText();
  EXPECT_EQ(chip.ImageBase(0), 0x1234u);
  EXPECT_EQ(chip.ImageBase(1), 0x5678u);
  EXPECT_FALSE(chip.Shown(0));
  EXPECT_FALSE(chip.Shown(1));
  server.CloseScreens();
}

// The server's power levels go through the hook ScreenInit installed to
// the head's board, as the two power states of each level.
TEST_F(Screens, PowerLevelsReachTheHeadsBoard) {
  Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  Rec(0)->pBoard->oJumpTable.SetPowerState = baretest::RecordPower;
  baretest::PowerStates().clear();
  ASSERT_TRUE(server.SetDPMS(0, 2));
  EXPECT_TRUE(box.Logged("DPMS Mode : Suspend\n", X_INFO));
  EXPECT_EQ(baretest::PowerStates(), (std::vector<uint32_t>{0x20000004, 0x10000004}));
  baretest::PowerStates().clear();
  ASSERT_TRUE(server.SetDPMS(0, 0));
  EXPECT_EQ(baretest::PowerStates(), (std::vector<uint32_t>{0x20000000, 0x10000000}));
}

struct XineramaCase {
  const char* name;
  std::string options;
  bool answers;
};

void PrintTo(const XineramaCase& c, std::ostream* os) { *os << c.name; }

class ScreenXinerama : public Screens, public testing::WithParamInterface<XineramaCase> {};

// The driver's XINERAMA answers exist for a merged desktop unless
// PseudoXinerama is off, and never for a single head.
TEST_P(ScreenXinerama, TheExtensionIsThereOnlyWhenAsked) {
  const XineramaCase& c = GetParam();
  Up(1, c.options);
  // A generation of its own: the driver registers once per generation.
  server.ResetServer();
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_EQ(server.ExtensionMajor("XINERAMA") >= 128, c.answers) << box.LogText();
  EXPECT_EQ(box.Logged("Initialized Pseudo-Xinerama extension\n", X_INFO), c.answers);
  if (c.answers) {
    EXPECT_TRUE(PSRAMAIsActive());
  }
  server.CloseScreens();
}

const std::string kMerged = "  Option \"MergedFB\"\n  Option \"MetaModes\" \"1024x768-800x600\"\n";

INSTANTIATE_TEST_SUITE_P(
    Desktops, ScreenXinerama,
    testing::Values(XineramaCase{"Merged", kMerged, true},
                    XineramaCase{"MergedPseudoXineramaOff",
                                 kMerged + "  Option \"PseudoXinerama\" \"false\"\n", false},
                    XineramaCase{"Single", "", false}),
    [](const testing::TestParamInfo<XineramaCase>& info) { return std::string(info.param.name); });

}  // namespace
