// What ScreenInit brings up beside the framebuffer layer and XAA, seen on
// the board: the start-up logo, the shadow framebuffer's refresh (turned
// with a rotation), the colour tables a colormap change loads at the next
// block handler, and DGA's modes with its accelerated fill.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/regs/lut.h"
#include "platform/xserver/dga.h"
#include "platform/xserver/xaa_front.h"
#include "xdriver/tests/screen_fixture.h"

namespace {

using fetest::kFill;
using fetest::Screens;

TEST_F(Screens, ScreenInitShowsTheLogoOverTheClearedScreenAndHoldsItTwoSeconds) {
  orvsim::Board& board = Up(1, "", 16, true);
  const uint64_t before = box.SleptMicroseconds();
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_EQ(box.SleptMicroseconds() - before, 2000000u);
  // Without the kernel module the head masters the bus locally: the plain
  // logo's main colour at depth 16 fills what the head shows, and nothing
  // past it.
  constexpr uint16_t kBackground = 0x7311;
  ASSERT_EQ(Rec(0)->busMastering, kBusMasteringLocal);
  EXPECT_EQ(Pixel16(board, 0, 0, 0), kBackground);
  EXPECT_EQ(Pixel16(board, 0, 1023, 767), kBackground);
  const size_t shown = 768 * 1024 * 2;
  EXPECT_EQ(board.LocalMemory()[Rec(0)->fbOffset + shown], kFill);
  // The art sits in the middle of the mode: its 160 x 56 pixels are not
  // all background, and nothing outside them was drawn.
  int art = 0;
  for (int y = 384 - 28; y < 384 + 28; ++y)
    for (int x = 512 - 80; x < 512 + 80; ++x) art += Pixel16(board, 0, x, y) != kBackground;
  EXPECT_GT(art, 0);
  for (int x = 0; x < 1024; ++x) EXPECT_EQ(Pixel16(board, 0, x, 384 - 29), kBackground) << x;
}

TEST_F(Screens, NoLogoLeavesTheClearedScreen) {
  orvsim::Board& board = Up(1, "", 16);
  const uint64_t before = box.SleptMicroseconds();
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_EQ(box.SleptMicroseconds(), before);
  for (int y : {0, 384, 767})
    for (int x : {0, 512, 1023}) EXPECT_EQ(Pixel16(board, 0, x, y), 0) << x << "," << y;
}

// A rotated shadow framebuffer: the server draws into the shadow and each
// request's boxes reach the head turned. The 1024 x 768 mode makes a
// virtual screen of 768 x 1024; the head's framebuffer holds it on its
// side, 768 rows of 1024 pixels.
struct ShadowCase {
  const char* rotate;
  int depth;
  int fbRow(int x) const { return clockwise() ? x : 767 - x; }
  int fbColumn(int y) const { return clockwise() ? 1023 - y : y; }
  bool clockwise() const { return std::strcmp(rotate, "CW") == 0; }
};

void PrintTo(const ShadowCase& c, std::ostream* out) { *out << c.rotate << "Depth" << c.depth; }

class ShadowScreens : public Screens, public testing::WithParamInterface<ShadowCase> {};

TEST_P(ShadowScreens, WhatTheServerDrawsReachesTheHeadTurned) {
  const ShadowCase& c = GetParam();
  orvsim::Board& board = Up(
      1, std::string("  Option \"ShadowFB\" \"on\"\n  Option \"Rotate\" \"") + c.rotate + "\"\n", c.depth);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScrnInfoPtr info = xf86Screens[0];
  ASSERT_EQ(info->virtualX, 768);
  ASSERT_EQ(info->virtualY, 1024);
  ASSERT_EQ(info->displayWidth, 1024);
  const ORVRec* rec = Rec(0);
  ASSERT_NE(rec->shadowPtr, nullptr);
  const int bytes = info->bitsPerPixel / 8;
  const uint32_t colour = c.depth == 8 ? 0xA5 : (c.depth == 16 ? 0xF81F : 0x00C0FFEE);
  xstub::XaaFront front(info->pScreen);
  xstub::XaaGC gc;
  gc.fg = colour;
  front.FillRects(gc, {{10, 20, 13, 23}});
  auto fb = [&](int row, int column) {
    uint32_t v = 0;
    std::memcpy(&v,
                board.LocalMemory() + rec->fbOffset +
                    (static_cast<size_t>(row) * info->displayWidth + column) * bytes,
                bytes);
    return v;
  };
  for (int y = 19; y <= 23; ++y) {
    for (int x = 9; x <= 13; ++x) {
      const bool inside = x >= 10 && x < 13 && y >= 20 && y < 23;
      EXPECT_EQ(fb(c.fbRow(x), c.fbColumn(y)), inside ? colour : 0u) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rotations, ShadowScreens,
                         testing::Values(ShadowCase{"CW", 8}, ShadowCase{"CCW", 16},
                                         ShadowCase{"CW", 24}),
                         testing::PrintToStringParamName());

TEST_F(Screens, AnUnturnedShadowIsCopiedAsItIs) {
  orvsim::Board& board = Up(1, "  Option \"ShadowFB\" \"on\"\n", 16);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  xstub::XaaFront front(xf86Screens[0]->pScreen);
  xstub::XaaGC gc;
  gc.fg = 0x07E0;
  front.FillRects(gc, {{1020, 700, 1024, 702}});
  EXPECT_EQ(Pixel16(board, 0, 1019, 700), 0);
  EXPECT_EQ(Pixel16(board, 0, 1020, 700), 0x07E0);
  EXPECT_EQ(Pixel16(board, 0, 1023, 701), 0x07E0);
  EXPECT_EQ(Pixel16(board, 0, 1023, 702), 0);
}

TEST_F(Screens, AtEightBitsAColormapChangeReachesTheTableAtTheNextBlockHandler) {
  orvsim::Board& board = Up(1, "", 8);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  server.RunMainLoop(1);
  board.ClearLog();
  const LOCO colour = {0x1200, 0x3400, 0x5600};
  xf86StoreColors(xf86Screens[0]->pScreen, 7, 1, &colour);
  auto writes = [&] {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const orvsim::RegAccessRecord& r : board.Log())
      if (r.op == orvsim::RegOp::kWrite && r.offset >= kRegLutIndex && r.offset <= kRegLutIndex + kLutBlue)
        out.push_back({r.offset, r.value});
    board.ClearLog();
    return out;
  };
  EXPECT_TRUE(writes().empty());
  // The next block handler writes every entry ever changed (the marks
  // stay), entry 7 with its new colour; the one after writes nothing.
  server.RunMainLoop(1);
  const std::vector<std::pair<uint32_t, uint32_t>> entry7 = {
      {kRegLutIndex, 7},
      {kRegLutIndex + kLutRed, 0x12 * 256},
      {kRegLutIndex + kLutGreen, 0x34 * 256},
      {kRegLutIndex + kLutBlue, 0x56 * 256 | kLutCommit}};
  const std::vector<std::pair<uint32_t, uint32_t>> written = writes();
  EXPECT_NE(std::search(written.begin(), written.end(), entry7.begin(), entry7.end()), written.end());
  server.RunMainLoop(1);
  EXPECT_TRUE(writes().empty());
}

TEST_F(Screens, ADgaClientFindsTheScreensModesAndFillsThroughTheEngine) {
  orvsim::Board& board = Up(1, "", 16);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  xstub::DgaClient client(0);
  ASSERT_TRUE(client.Available());
  ASSERT_EQ(client.ModeCount(), 2);
  EXPECT_EQ(client.Mode(1)->viewportWidth, 1024);
  EXPECT_EQ(client.Mode(2)->viewportWidth, 800);
  ASSERT_TRUE(client.SetMode(1));
  client.FillRect(30, 40, 5, 2, 0x1234);
  client.Sync();
  EXPECT_TRUE(engines_[0]->Faults().empty());
  EXPECT_EQ(Pixel16(board, 0, 30, 40), 0x1234);
  EXPECT_EQ(Pixel16(board, 0, 34, 41), 0x1234);
  EXPECT_EQ(Pixel16(board, 0, 35, 41), 0);
  EXPECT_EQ(Pixel16(board, 0, 34, 42), 0);
  EXPECT_TRUE(client.SetMode(0));
}

}  // namespace
