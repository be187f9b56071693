// Screens brought up, switched away and back, and closed on simulated
// boards with their DMA and 2D engines, in local-DMA mode: what ScreenInit
// logs, what reaches the registers and the framebuffer, and what the
// server's screen layer is left with.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/pdev.h"
#include "core/regs/pci.h"
#include "platform/board/chip_vga.h"
#include "platform/xserver/xaa_front.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/orv_palette.h"
#include "xdriver/orv_regs.h"
#include "xdriver/tests/screen_fixture.h"

namespace {

using fetest::kFill;
using fetest::Screens;

// The VGA registers in the register aperture (ports 0x3B0-0x3DF); every
// head reads the miscellaneous output register for the I/O base.
constexpr uint32_t kVgaFirst = 0x1C00 + 0x3B0;
constexpr uint32_t kVgaEnd = 0x1C00 + 0x3E0;
constexpr uint32_t kVgaMiscRead = 0x1C00 + 0x3CC;

TEST_F(Screens, ScreenInitBringsTheHeadUpAndWrapsTheServersHooks) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_TRUE(InOrder({"Kestrion device started.", "Using 384 lines for offscreen memory.",
                       "Memory manager initialized to (0,0) (1024,1152)",
                       "Largest offscreen area available: 1024 x 384", "Initializing HW cursor"}))
      << box.LogText();
  EXPECT_FALSE(box.Logged("2D Acceleration initialization failed"));
  EXPECT_FALSE(box.Logged("Hardware cursor initialization failed"));

  ScrnInfoPtr info = xf86Screens[0];
  ScreenPtr screen = info->pScreen;
  ORVRec* rec = Rec(0);
  EXPECT_TRUE(info->vtSema);
  EXPECT_EQ(screen->CloseScreen, ORVCloseScreen);
  EXPECT_EQ(screen->SaveScreen, ORVSaveScreen);
  EXPECT_EQ(screen->BlockHandler, ORVBlockHandler);
  EXPECT_EQ(info->LoadPalette, ORVLoadPalette);
  EXPECT_NE(info->ChangeGamma, nullptr);
  EXPECT_NE(XAAGetInfoRec(screen), nullptr);
  // The framebuffer layer draws into the primary surface at the pitch.
  PixmapPtr pixmap = fbGetScreenPixmap(screen);
  ASSERT_NE(pixmap, nullptr);
  EXPECT_EQ(pixmap->devPrivate, rec->fbBase + rec->fbOffset);
  EXPECT_EQ(pixmap->devKind, 1024 * 2);
  ASSERT_EQ(screen->numVisuals, 1);
  EXPECT_EQ(screen->visuals[0].visualClass, TrueColor);
  EXPECT_EQ(screen->visuals[0].redMask, 0xF800u);
  // DGA, backing store, silken mouse, the software cursor layer and power
  // management, in order.
  std::vector<std::string> calls;
  for (const auto& c : server.ScreenCalls()) calls.push_back(c.name);
  EXPECT_EQ(calls, (std::vector<std::string>{"DGAInit", "miInitializeBackingStore", "xf86SetBackingStore",
                                             "xf86SetSilkenMouse", "miDCInitialize",
                                             "xf86DPMSInit"}));
  EXPECT_TRUE(server.SetDPMS(0, 3));
  // Head 0 cleared exactly what it shows: virtualY lines at the pitch.
  const uint8_t* memory = board.LocalMemory();
  const size_t shown = 768 * 1024 * 2;
  EXPECT_EQ(memory[0], 0);
  EXPECT_EQ(memory[shown - 1], 0);
  EXPECT_EQ(memory[shown], kFill);

  // The main loop runs the server's block handler through the driver's.
  server.RunMainLoop(3);
  EXPECT_EQ(server.BlockHandlerRuns(0), 3);
  EXPECT_EQ(screen->BlockHandler, ORVBlockHandler);
}

TEST_F(Screens, AnXaaRectangleLandsWhereTheFramebufferLayerReadsIt) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScreenPtr screen = xf86Screens[0]->pScreen;
  xstub::XaaFront front(screen);
  xstub::XaaGC gc;
  gc.fg = 0xF81F;
  front.FillRects(gc, {{100, 50, 110, 53}});
  front.Sync();
  EXPECT_TRUE(engines_[0]->Faults().empty());
  // On the board: inside, and just outside, the rectangle.
  EXPECT_EQ(Pixel16(board, 0, 100, 50), 0xF81F);
  EXPECT_EQ(Pixel16(board, 0, 109, 52), 0xF81F);
  EXPECT_EQ(Pixel16(board, 0, 110, 52), 0);
  EXPECT_EQ(Pixel16(board, 0, 100, 53), 0);
  EXPECT_EQ(Pixel16(board, 0, 99, 50), 0);
  // Through the framebuffer layer's mapping.
  uint16_t row[12] = {};
  front.GetImage(99, 51, 12, 1, reinterpret_cast<uint8_t*>(row), sizeof(row));
  EXPECT_EQ(row[0], 0);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(row[i], 0xF81F) << i;
  EXPECT_EQ(row[11], 0);
}

struct DepthCase {
  int depth;
  int bitsPerPixel;
  int visual;          // the class of the root visual
  bool colormapHook;   // LoadPalette installed
  bool gammaHook;      // ChangeGamma installed
};

void PrintTo(const DepthCase& c, std::ostream* out) {
  *out << "Depth" << c.depth << "_Bpp" << c.bitsPerPixel;
}

// Accesses to the VGA state: the save and restore of its registers.
size_t VgaAccesses(const std::vector<orvsim::RegAccessRecord>& log) {
  size_t n = 0;
  for (const auto& a : log) n += a.offset >= kVgaFirst && a.offset < kVgaEnd && a.offset != kVgaMiscRead;
  return n;
}

class ScreenDepths : public Screens, public testing::WithParamInterface<DepthCase> {};

TEST_P(ScreenDepths, VisualsColormapAndGammaByDepth) {
  const DepthCase& c = GetParam();
  Up(1, "", c.depth);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScrnInfoPtr info = xf86Screens[0];
  EXPECT_EQ(info->bitsPerPixel, c.bitsPerPixel);
  ScreenPtr screen = info->pScreen;
  int rootClass = -1;
  for (int i = 0; i < screen->numVisuals; ++i) {
    if (screen->visuals[i].vid == screen->rootVisual) rootClass = screen->visuals[i].visualClass;
  }
  EXPECT_EQ(rootClass, c.visual);
  // Above 8 bits per pixel only TrueColor is offered.
  if (c.bitsPerPixel > 8) {
    EXPECT_EQ(screen->numVisuals, 1);
  }
  EXPECT_EQ(info->LoadPalette != nullptr, c.colormapHook);
  EXPECT_EQ(info->ChangeGamma != nullptr, c.gammaHook);
  // The configured gamma reaches the head at every depth.
  EXPECT_FLOAT_EQ(Rec(0)->gamma[0][1], 1.0f);
  // Every depth here is accelerated.
  EXPECT_NE(XAAGetInfoRec(info->pScreen), nullptr);
  EXPECT_EQ(fbGetScreenPixmap(info->pScreen)->devKind, 1024 * c.bitsPerPixel / 8);
}

INSTANTIATE_TEST_SUITE_P(Depths, ScreenDepths,
                         testing::Values(DepthCase{8, 8, PseudoColor, true, false},
                                         DepthCase{16, 16, TrueColor, true, true},
                                         DepthCase{24, 32, TrueColor, true, true},
                                         DepthCase{30, 32, TrueColor, false, true}),
                         testing::PrintToStringParamName());

// Each screen's hook runs with the board's access log cleared first; the
// log of its run is kept by screen.
std::vector<std::vector<orvsim::RegAccessRecord>> g_runLogs;
orvsim::Board* g_board = nullptr;
xf86ScreenInitProc g_screenInit = nullptr;
xf86LeaveVTProc g_leaveVT = nullptr;

void Logged(int index) {
  if (g_runLogs.size() <= static_cast<size_t>(index)) g_runLogs.resize(index + 1);
  g_runLogs[index] = g_board->Log();
  g_board->ClearLog();
}
Bool LoggedScreenInit(int index, ScreenPtr screen, int argc, char** argv) {
  g_board->ClearLog();
  const Bool ok = g_screenInit(index, screen, argc, argv);
  Logged(index);
  return ok;
}
void LoggedLeaveVT(int index, int flags) {
  g_board->ClearLog();
  g_leaveVT(index, flags);
  Logged(index);
}

class ScreenHeads : public Screens, public testing::WithParamInterface<int> {
 protected:
  void Watch(orvsim::Board& board) {
    g_runLogs.clear();
    g_board = &board;
    board.SetLogCapacity(1 << 20);
    board.SetLogging(true, true);
    for (int i = 0; i < server.NumScreens(); ++i) {
      g_screenInit = xf86Screens[i]->ScreenInit;
      g_leaveVT = xf86Screens[i]->LeaveVT;
      xf86Screens[i]->ScreenInit = LoggedScreenInit;
      xf86Screens[i]->LeaveVT = LoggedLeaveVT;
    }
  }
};

TEST_P(ScreenHeads, OnlyHeadZeroSavesAndClearsAndOnlyTheLastHeadRestoresTheConsole) {
  const int heads = GetParam();
  orvsim::Board& board = Up(heads);
  Watch(board);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ASSERT_EQ(g_runLogs.size(), static_cast<size_t>(heads));
  EXPECT_GT(VgaAccesses(g_runLogs[0]), 0u);
  if (heads == 2) {
    EXPECT_EQ(VgaAccesses(g_runLogs[1]), 0u);
    // Head 1's surface keeps what was there (head 0 cleared only its own).
    const uint8_t* head1 = board.LocalMemory() + Rec(1)->fbOffset;
    ASSERT_NE(Rec(1)->fbOffset, Rec(0)->fbOffset);
    EXPECT_EQ(head1[0], kFill);
    EXPECT_EQ(head1[1024 * 2 * 767], kFill);
  }

  server.LeaveVT();
  ASSERT_EQ(g_runLogs.size(), static_cast<size_t>(heads));
  for (int i = 0; i < heads; ++i) {
    // Only the board's last head gives the console back (head 0's).
    if (i == heads - 1) {
      EXPECT_GT(VgaAccesses(g_runLogs[i]), 0u) << i;
    } else {
      EXPECT_EQ(VgaAccesses(g_runLogs[i]), 0u) << i;
    }
    EXPECT_FALSE(Rec(i)->deviceStarted) << i;
  }
  EXPECT_TRUE(server.EnterVT());
  for (int i = 0; i < heads; ++i) EXPECT_TRUE(Rec(i)->deviceStarted) << i;
}

INSTANTIATE_TEST_SUITE_P(Heads, ScreenHeads, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) {
                           return info.param == 1   ? std::string("OneHead")
                                  : info.param == 2 ? std::string("TwoHeads")
                                                    : std::to_string(info.param) + "Heads";
                         });

// The console's VGA registers as the board held them before the server:
// head 0 saves them at ScreenInit and LeaveVT puts them back.
TEST_F(Screens, LeavingTheServerPutsTheConsolesVgaRegistersBack) {
  orvsim::Board& board = AddEngineBoard();
  orvsim::ChipVga vga(board);
  orvsim::ChipVga::ColdRegime(board);
  const uint8_t seq[5] = {0x03, 0x00, 0x03, 0x00, 0x02};
  const uint8_t crtc[25] = {0x5F, 0x4F, 0x50, 0x82, 0x55, 0x81, 0xBF, 0x1F, 0x00, 0x4F, 0x0D, 0x0E, 0x00,
                            0x00, 0x00, 0x00, 0x9C, 0x8E, 0x8F, 0x28, 0x1F, 0x96, 0xB9, 0xA3, 0xFF};
  const uint8_t gfx[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x0E, 0x00, 0xFF};
  for (unsigned i = 0; i < 5; ++i) vga.SetSeq(i, seq[i]);
  for (unsigned i = 0; i < 25; ++i) vga.SetCrtc(i, crtc[i]);
  for (unsigned i = 0; i < 9; ++i) vga.SetGfx(i, gfx[i]);
  for (unsigned i = 0; i < 16; ++i) vga.SetAttr(i, static_cast<uint8_t>(i));
  vga.SetAttr(0x10, 0x0C);
  vga.SetMisc(0x67);
  fetest::Description().edids[0] = fetest::MonitorEdid();
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  // What the server's modes did to them meanwhile.
  vga.SetSeq(1, 0x21);
  vga.SetCrtc(0x13, 0x80);
  vga.SetGfx(5, 0x40);
  vga.SetAttr(0x10, 0x41);
  vga.SetMisc(0xEF);
  server.LeaveVT();
  for (unsigned i = 1; i < 5; ++i) EXPECT_EQ(vga.Seq(i), seq[i]) << "sequencer " << i;
  for (unsigned i = 0; i < 25; ++i) EXPECT_EQ(vga.Crtc(i), crtc[i]) << "CRTC " << i;
  for (unsigned i = 0; i < 9; ++i) EXPECT_EQ(vga.Gfx(i), gfx[i]) << "graphics " << i;
  EXPECT_EQ(vga.Attr(0x10), 0x0C);
  EXPECT_EQ(vga.Misc(), 0x67);
}

TEST_F(Screens, EnterVtSetsTheBusMasterBitAndDrawsAgain) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  server.LeaveVT();
  EXPECT_TRUE(box.Logged("Kestrion device stopped.\n", X_INFO));
  // Something switched bus mastering off while the server was away.
  const uint32_t command = board.Pci().ConfigRead(kCfgCommand, 2);
  board.Pci().ConfigWrite(kCfgCommand, 2, command & ~0x4u);
  ASSERT_TRUE(server.EnterVT());
  EXPECT_EQ(board.Pci().ConfigRead(kCfgCommand, 2) & 0x4u, 0x4u);
  xstub::XaaFront front(xf86Screens[0]->pScreen);
  xstub::XaaGC gc;
  gc.fg = 0x07E0;
  front.FillRects(gc, {{0, 0, 4, 4}});
  front.Sync();
  EXPECT_EQ(Pixel16(board, 0, 3, 3), 0x07E0);
}

TEST_F(Screens, CloseScreenUndoesScreenInitAndTheServerCloseRuns) {
  Up(2);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ORVEntityRec* entity = Rec(0)->pEnt;
  const int slot = ORVKstrnXaaPrivateIndex();
  ASSERT_GE(slot, 0);
  ASSERT_NE(xf86Screens[0]->privates[slot].ptr, nullptr);
  server.CloseScreens();
  for (int i = 0; i < 2; ++i) {
    ScrnInfoPtr info = xf86Screens[i];
    EXPECT_TRUE(server.ScreenClosed(i)) << i;
    EXPECT_FALSE(info->vtSema) << i;
    EXPECT_EQ(info->privates[slot].ptr, nullptr) << i;
    EXPECT_EQ(Rec(i)->pdev, nullptr) << i;
    EXPECT_EQ(Rec(i)->pXaaInfo, nullptr) << i;
    EXPECT_EQ(Rec(i)->pBoard, nullptr) << i;
    EXPECT_EQ(Rec(i)->fbBase, nullptr) << i;
    EXPECT_NE(info->pScreen->BlockHandler, ORVBlockHandler) << i;
  }
  EXPECT_EQ(entity->initialised, 0);
  EXPECT_EQ(entity->pBoard, nullptr);
  EXPECT_EQ(server.VideoMappingCount(), 0u);
  server.FreeScreens();
  EXPECT_EQ(server.NumScreens(), 0);
}

TEST_F(Screens, WithoutAccelerationThereIsNoXaaAndTheCursorIsSoftware) {
  Up(1, "  Option \"NoAccel\"\n");
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_EQ(XAAGetInfoRec(xf86Screens[0]->pScreen), nullptr);
  EXPECT_EQ(Rec(0)->pXaaInfo, nullptr);
  EXPECT_TRUE(box.Logged("Using SW cursor\n", X_INFO));
  EXPECT_FALSE(box.Logged("Initializing HW cursor"));
  server.LeaveVT();
  EXPECT_TRUE(server.EnterVT());
}

// The register wrappers behind a video bridge: a write at N after a write
// at L is preceded by a dummy write of 0 at 900 exactly when
// 0 < N - L <= 128; a read forgets L.
struct GuardCase {
  std::vector<int32_t> accesses;  // offsets; negative: a read of -offset
  std::vector<uint32_t> writes;   // register writes that reach the board
};

// The accesses in order, W for a write and R for a read: "W1000_R1000_W1004".
void PrintTo(const GuardCase& c, std::ostream* out) {
  const char* separator = "";
  for (int32_t a : c.accesses) {
    char access[16];
    std::snprintf(access, sizeof(access), "%c%X", a < 0 ? 'R' : 'W',
                  static_cast<unsigned>(a < 0 ? -a : a));
    *out << separator << access;
    separator = "_";
  }
}

class RegisterGuard : public Screens, public testing::WithParamInterface<GuardCase> {};

TEST_P(RegisterGuard, DummyWriteBeforeACloseHigherWrite) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ORVRec* rec = Rec(0);
  rec->videoBridge = 1;
  ORV_IN_REG32(rec, rec->ioBase, 0x100);  // start from "last access was a read"
  board.SetLogging(false, true);
  board.ClearLog();
  for (int32_t a : GetParam().accesses) {
    if (a < 0) {
      ORV_IN_REG32(rec, rec->ioBase, static_cast<uint32_t>(-a));
    } else {
      ORV_OUT_REG32(rec, rec->ioBase, static_cast<uint32_t>(a), 1);
    }
  }
  std::vector<uint32_t> writes;
  for (const auto& w : board.LoggedWrites()) writes.push_back(w.offset);
  EXPECT_EQ(writes, GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(
    Wrappers, RegisterGuard,
    testing::Values(GuardCase{{0x1000, 0x1004}, {0x1000, 0x384, 0x1004}},
                    GuardCase{{0x1000, 0x1080}, {0x1000, 0x384, 0x1080}},
                    GuardCase{{0x1000, 0x1084}, {0x1000, 0x1084}},
                    GuardCase{{0x1000, 0x1000}, {0x1000, 0x1000}},
                    GuardCase{{0x1004, 0x1000}, {0x1004, 0x1000}},
                    GuardCase{{0x1000, -0x1000, 0x1004}, {0x1000, 0x1004}}),
    testing::PrintToStringParamName());

TEST_F(Screens, WithoutTheBridgeTheWrappersArePlainAccesses) {
  orvsim::Board& board = Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ORVRec* rec = Rec(0);
  rec->videoBridge = 0;
  board.SetLogging(false, true);
  board.ClearLog();
  ORV_OUT_REG32(rec, rec->ioBase, 0x1000, 1);
  ORV_OUT_REG32(rec, rec->ioBase, 0x1004, 2);
  ORV_OUT_REG8(rec, rec->ioBase, 0x1008, 3);
  std::vector<uint32_t> writes;
  for (const auto& w : board.LoggedWrites()) writes.push_back(w.offset);
  EXPECT_EQ(writes, (std::vector<uint32_t>{0x1000, 0x1004, 0x1008}));
}

// ---- Panning: the display start each AdjustFrame hook asks for --------------------

struct DisplayStart {
  uint32_t controller, x, y;
  bool operator==(const DisplayStart&) const = default;
};
std::vector<DisplayStart> g_starts;
HALSTATUS RecordStart(BOARDHANDLE*, uint32_t controller, uint32_t x, uint32_t y) {
  g_starts.push_back({controller, x, y});
  return 0;
}

struct FrameCase {
  const char* options;
  int x, y;
  std::vector<DisplayStart> starts;
};

// The rotation the options ask for and the frame's corner:
// "RotateCW_X100_Y0", "NoRotation_XMinus8_YMinus1".
void PrintTo(const FrameCase& c, std::ostream* out) {
  const char* const kRotate = "\"Rotate\" \"";
  const char* at = std::strstr(c.options, kRotate);
  const char* end = at != nullptr ? std::strchr(at + std::strlen(kRotate), '"') : nullptr;
  if (end != nullptr) {
    *out << "Rotate" << std::string(at + std::strlen(kRotate), end);
  } else {
    *out << "NoRotation";
  }
  const auto coordinate = [out](const char* axis, int v) {
    *out << "_" << axis << (v < 0 ? "Minus" : "") << (v < 0 ? -v : v);
  };
  coordinate("X", c.x);
  coordinate("Y", c.y);
}

class AdjustFrames : public Screens, public testing::WithParamInterface<FrameCase> {};

// A 1024x1024 virtual screen whose frame is the 1024x768 (or, rotated,
// 768x1024) window at (x, y).
TEST_P(AdjustFrames, StartByRotation) {
  const FrameCase& c = GetParam();
  Up(1, c.options);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScrnInfoPtr screen = xf86Screens[0];
  ORVRec* rec = Rec(0);
  rec->pBoard->oJumpTable.SetDisplayStart = RecordStart;
  screen->virtualX = 1024;
  screen->virtualY = 1024;
  const bool rotated = rec->shadowRotate != 0 || rec->hwRotate != 0;
  screen->frameX0 = c.x;
  screen->frameY0 = c.y;
  screen->frameX1 = c.x + (rotated ? 767 : 1023);
  screen->frameY1 = c.y + (rotated ? 1023 : 767);
  g_starts.clear();
  screen->AdjustFrame(0, c.x, c.y, 0);
  EXPECT_EQ(g_starts, c.starts);
}

INSTANTIATE_TEST_SUITE_P(
    Rotations, AdjustFrames,
    testing::Values(FrameCase{"", 16, 200, {{0, 16, 200}}},
                    FrameCase{"", -8, -1, {{0, 0, 0}}},
                    // Clockwise: (virtualY - 1 - frameY1, x).
                    FrameCase{"  Option \"Rotate\" \"CW\"\n", 100, 0, {{0, 0, 100}}},
                    // Counter-clockwise: (y, virtualX - 1 - frameX1).
                    FrameCase{"  Option \"Rotate\" \"CCW\"\n", 100, 0, {{0, 0, 156}}}),
    testing::PrintToStringParamName());

// A head showing part of a larger virtual screen comes back from the
// console where the server's viewport still is, not at its corner.
TEST_F(Screens, EnterVtShowsTheViewportTheServerKept) {
  Up(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScrnInfoPtr screen = xf86Screens[0];
  Rec(0)->pBoard->oJumpTable.SetDisplayStart = RecordStart;
  screen->virtualY = 1024;
  screen->frameX0 = 16;
  screen->frameY0 = 200;
  screen->frameX1 = 16 + 1023;
  screen->frameY1 = 200 + 767;
  server.LeaveVT();
  g_starts.clear();
  ASSERT_TRUE(server.EnterVT());
  ASSERT_FALSE(g_starts.empty());
  EXPECT_EQ(g_starts.back(), (DisplayStart{0, 16, 200}));
}

TEST_F(Screens, AFailedValidationPrintsTheModeAndTheStatus) {
  // The first chip's revision 0 takes only 32-bit modes: 16 bits is refused
  // with the format code.
  AddEngineBoard(0x0A41);
  EXPECT_EQ(PreInit(Config(1, "")), 0);
  EXPECT_TRUE(InOrder({"------------------------------------------------------------------------    \n",
                       "   ulDispWidth    : 00001024  Display Width in pixels",
                       "   ulBpp          : 00000016  Bits Per Pixels / input format",
                       "------------------------------------------------------------------------    \n",
                       "Orvane HAL return code (ValidateMode) 0xb2101100\n", "No valid modes found\n"}))
      << box.LogText();
}

}  // namespace
