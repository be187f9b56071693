// The framebuffer-side services of the front end: the heads' colour tables
// (the colormap hook, the block handler's load, both tables at once), the
// shadow refresh plain and rotated against reference copies in exact-size
// buffers, DGA's mode list and mode switches, and the start-up logo.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/dga.h"
#include "xdriver/orv_dga.h"
#include "xdriver/orv_logo.h"
#include "xdriver/orv_palette.h"
#include "xdriver/orv_shadow.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using fetest::FrontEnd;

// ---- Colour tables ---------------------------------------------------------------------------

class Palette : public FrontEnd {
 protected:
  ScrnInfoPtr Screen(int depth) {
    board_ = &AddBoard();
    EXPECT_EQ(PreInit(Config(1, "", depth, "\"800x600\"")), 1);
    return xf86Screens[0];
  }
  // The register writes since the last call, {offset, value}.
  std::vector<std::pair<uint32_t, uint32_t>> Writes() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const orvsim::RegAccessRecord& r : board_->Log())
      if (r.op == orvsim::RegOp::kWrite) out.push_back({r.offset, r.value});
    board_->ClearLog();
    return out;
  }
  orvsim::Board* board_ = nullptr;
};

TEST_F(Palette, AtSixteenBitsAColormapChangeDoesNothing) {
  ScrnInfoPtr screen = Screen(16);
  int index = 5;
  LOCO colour = {1, 2, 3};
  ORVLoadPalette(screen, 1, &index, &colour, nullptr);
  EXPECT_EQ(Rec(0)->deferredBlockHandler, nullptr);
  EXPECT_EQ(Rec(0)->palette[5][0], 0);
}

TEST_F(Palette, AtEightBitsTheTablesChangeAtTheNextBlockHandler) {
  ScrnInfoPtr screen = Screen(8);
  ORVRec* rec = Rec(0);
  struct Case {
    const char* desktop;
    int merged, spanthree;
    std::vector<uint32_t> tables;  // index registers an entry goes to
  };
  const Case cases[] = {
      {"single", 0, 0, {0x1838}},
      {"merged", 1, 0, {0x1838, 0x1A38}},
      {"three heads", 0, 1, {0x1838, 0x19B8, 0x1A38, 0x1BB8}},
  };
  for (const Case& c : cases) {
    memset(rec->palette, 0, sizeof(rec->palette));
    rec->merged = c.merged;
    rec->spanthree = c.spanthree;
    int indices[2] = {200, 3};
    LOCO colours[2] = {{0x11, 0x22, 0x33}, {0xA0, 0xB0, 0xC0}};
    Writes();
    ORVLoadPalette(screen, 2, indices, colours, nullptr);
    EXPECT_TRUE(Writes().empty()) << c.desktop << ": nothing before the block handler";
    ASSERT_EQ(rec->deferredBlockHandler, ORVLoadPaletteCallback) << c.desktop;
    rec->deferredBlockHandler(screen);
    EXPECT_EQ(rec->deferredBlockHandler, nullptr) << c.desktop;
    std::vector<std::pair<uint32_t, uint32_t>> want;
    for (int entry : {3, 200}) {
      const LOCO& colour = entry == 3 ? colours[1] : colours[0];
      for (uint32_t table : c.tables) {
        want.push_back({table, static_cast<uint32_t>(entry)});
        want.push_back({table + 4, colour.red * 256u});
        want.push_back({table + 8, colour.green * 256u});
        want.push_back({table + 12, colour.blue * 256u | 0x80000000u});
      }
    }
    EXPECT_EQ(Writes(), want) << c.desktop;
  }
  box.ClearMessages();
  ORVLoadPalette(screen, 0, nullptr, nullptr, nullptr);
  EXPECT_TRUE(box.Logged("ORVLoadPalette failed! Empty Palette!\n", X_ERROR));
}

TEST_F(Palette, BothTablesGetTheIndexOnceThenEveryEntryInOrder) {
  ScrnInfoPtr screen = Screen(8);
  int indices[2] = {9, 10};
  LOCO colours[2] = {{1, 2, 3}, {4, 5, 6}};
  Writes();
  ORVLoadBothPalette(screen, 2, indices, colours);
  std::vector<std::pair<uint32_t, uint32_t>> want = {{0x1838, 9}, {0x1A38, 9}, {0x19B8, 9}, {0x1BB8, 9}};
  for (const LOCO& c : colours)
    for (uint32_t head : {0u, 0x200u}) {
      want.push_back({0x183C + head, c.red * 256u});
      want.push_back({0x1840 + head, c.green * 256u});
      want.push_back({0x1844 + head, c.blue * 256u | 0x80000000u});
      want.push_back({0x19BC + head, c.red * 256u});
      want.push_back({0x19C0 + head, c.green * 256u});
      want.push_back({0x19C4 + head, c.blue * 256u});
    }
  EXPECT_EQ(Writes(), want);
  ORVLoadBothPalette(screen, 0, indices, colours);
  EXPECT_TRUE(box.Logged("ORVLoadBothPalette failed! Empty Palette!\n", X_ERROR));
}

// ---- Shadow refresh -------------------------------------------------------------------------

// A screen record with a shadow and a framebuffer of exactly the sizes the
// refresh may touch, so that any access past them is caught.
class Shadow : public testing::Test {
 protected:
  void Make(int bpp, int width, int height, int rotation) {
    screen_ = server_.NewScrnInfo();
    ASSERT_TRUE(ORVGetRec(screen_));
    screen_->bitsPerPixel = bpp;
    screen_->depth = bpp == 32 ? 24 : bpp;
    screen_->virtualX = width;
    screen_->virtualY = height;
    bytes_ = bpp / 8;
    // The framebuffer's row: the rotated screen's width rounded up to 32.
    const int fbWidth = rotation != 0 ? height : width;
    screen_->displayWidth = (fbWidth + 31) & ~31;
    rows_ = rotation != 0 ? width : height;
    ORVRec* rec = ORVPTR(screen_);
    rec->shadowRotate = rotation;
    rec->shadowPitch = ((bpp * width + 31) / 32) * 4;
    shadow_.assign(static_cast<size_t>(rec->shadowPitch) * height, 0);
    for (size_t i = 0; i < shadow_.size(); ++i) shadow_[i] = static_cast<uint8_t>(i * 7 + i / 251);
    fb_.assign(static_cast<size_t>(screen_->displayWidth) * rows_ * bytes_, 0xEE);
    rec->shadowPtr = shadow_.data();
    rec->fbBase = fb_.data();
  }
  void TearDown() override {
    if (screen_ != nullptr) {
      ORVRec* rec = ORVPTR(screen_);
      rec->shadowPtr = nullptr;
      rec->fbBase = nullptr;
    }
  }
  uint32_t ShadowPixel(int x, int y) const {
    uint32_t v = 0;
    memcpy(&v, shadow_.data() + static_cast<size_t>(y) * ORVPTR(screen_)->shadowPitch + static_cast<size_t>(x) * bytes_,
           static_cast<size_t>(bytes_));
    return v;
  }
  uint32_t FbPixel(int column, int row) const {
    uint32_t v = 0;
    memcpy(&v, fb_.data() + (static_cast<size_t>(row) * screen_->displayWidth + column) * bytes_,
           static_cast<size_t>(bytes_));
    return v;
  }
  uint32_t Untouched() const { return bytes_ == 4 ? 0xEEEEEEEEu : (bytes_ == 2 ? 0xEEEEu : 0xEEu); }

  xstub::Sandbox box_;
  xstub::XServer server_;
  ScrnInfoPtr screen_ = nullptr;
  int bytes_ = 0;
  int rows_ = 0;
  std::vector<uint8_t> shadow_;
  std::vector<uint8_t> fb_;
};

struct RotationCase {
  int bpp, width, height, rotation;
  BoxRec box;
  int firstRow, endRow;  // the shadow rows the refresh copies
};

void PrintTo(const RotationCase& c, std::ostream* out) {
  *out << c.bpp << "bpp " << c.width << "x" << c.height << (c.rotation == 1 ? " cw" : " ccw")
       << " box " << c.box.x1 << "," << c.box.y1 << "-" << c.box.x2 << "," << c.box.y2;
}

class ShadowRotation : public Shadow, public testing::WithParamInterface<RotationCase> {};

TEST_P(ShadowRotation, TheFramebufferHoldsTheTurnedShadowRowsOfTheBox) {
  const RotationCase& c = GetParam();
  Make(c.bpp, c.width, c.height, c.rotation);
  BoxRec box = c.box;
  if (c.bpp == 8) ORVRefreshRotatedArea8(screen_, 1, &box);
  if (c.bpp == 16) ORVRefreshRotatedArea16(screen_, 1, &box);
  if (c.bpp == 32) ORVRefreshRotatedArea32(screen_, 1, &box);
  const int x1 = std::max<int>(box.x1, 0), x2 = std::min<int>(box.x2, c.width);
  for (int x = 0; x < c.width; ++x)
    for (int y = 0; y < c.height; ++y) {
      // Where shadow (x, y) lands.
      const int row = c.rotation == 1 ? x : c.width - 1 - x;
      const int column = c.rotation == 1 ? c.height - 1 - y : y;
      const bool copied = x >= x1 && x < x2 && y >= c.firstRow && y < c.endRow;
      ASSERT_EQ(FbPixel(column, row), copied ? ShadowPixel(x, y) : Untouched())
          << "shadow " << x << "," << y << " bpp " << c.bpp << " rotation " << c.rotation;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShadowRotation,
    testing::Values(
        // Whole screens, both ways, at every depth.
        RotationCase{8, 40, 64, 1, {0, 0, 40, 64}, 0, 64}, RotationCase{8, 40, 64, -1, {0, 0, 40, 64}, 0, 64},
        RotationCase{16, 33, 48, 1, {0, 0, 33, 48}, 0, 48}, RotationCase{16, 33, 48, -1, {0, 0, 33, 48}, 0, 48},
        RotationCase{32, 70, 66, 1, {0, 0, 70, 66}, 0, 66}, RotationCase{32, 70, 66, -1, {0, 0, 70, 66}, 0, 66},
        // Rows 5 to 7 go out as the words of rows 4 to 8.
        RotationCase{8, 40, 64, 1, {3, 5, 9, 7}, 4, 8}, RotationCase{8, 40, 64, -1, {3, 5, 9, 7}, 4, 8},
        // Heights whose last group is short: the tail rows, and no more.
        RotationCase{8, 24, 1366, 1, {0, 1360, 24, 1366}, 1360, 1366},
        RotationCase{8, 24, 1050, -1, {0, 1045, 24, 1050}, 1044, 1050},
        RotationCase{8, 24, 1050, 1, {0, 0, 24, 1050}, 0, 1050},
        RotationCase{16, 18, 765, 1, {2, 763, 9, 765}, 762, 765},
        RotationCase{16, 18, 765, -1, {0, 0, 18, 765}, 0, 765},
        // Groups of eight 16-bit columns from an odd column, rows short of
        // a group of eight at the end.
        RotationCase{16, 40, 30, 1, {3, 5, 37, 29}, 4, 30},
        RotationCase{16, 40, 30, -1, {3, 5, 37, 29}, 4, 30},
        // A box reaching past the screen is clipped.
        RotationCase{32, 20, 16, 1, {-4, -3, 30, 40}, 0, 16}),
    [](const testing::TestParamInfo<RotationCase>& info) {
      const RotationCase& c = info.param;
      return std::to_string(c.bpp) + "bpp_" + std::to_string(c.width) + "x" + std::to_string(c.height) +
             (c.rotation == 1 ? "_cw" : "_ccw") + "_rows" + std::to_string(c.firstRow) + "to" +
             std::to_string(c.endRow) + "_" + std::to_string(info.index);
    });

TEST_F(Shadow, ThePlainRefreshCopiesTheBoxUpToTheLastColumnAndBack) {
  Make(16, 64, 8, 0);
  BoxRec boxes[2] = {{60, 1, 64, 3}, {0, 5, 2, 6}};
  ORVRefreshArea(screen_, 2, boxes);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool copied = (x >= 60 && y >= 1 && y < 3) || (x < 2 && y == 5);
      ASSERT_EQ(FbPixel(x, y), copied ? ShadowPixel(x, y) : Untouched()) << x << "," << y;
    }
  // The reverse copy of a box brings the framebuffer's pixels back.
  memset(fb_.data(), 0x42, fb_.size());
  BoxRec back = {10, 2, 12, 4};
  ORVRefreshShadowArea(screen_, 1, &back);
  EXPECT_EQ(ShadowPixel(10, 2), 0x4242u);
  EXPECT_EQ(ShadowPixel(11, 3), 0x4242u);
  EXPECT_NE(ShadowPixel(12, 3), 0x4242u);
}

// ---- DGA ------------------------------------------------------------------------------------

std::vector<std::string> g_switches;
Bool RecordSwitch(int, DisplayModePtr mode, int) {
  g_switches.push_back(mode != nullptr ? mode->name : "none");
  return TRUE;
}

TEST_F(FrontEnd, DgaOffersEveryModeInListOrderWithItsFlagsAndTheHeadsHeight) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "", 16, "\"1024x768\" \"800x600\" \"640x480\"")), 1);
  ScrnInfoPtr screen = xf86Screens[0];
  ScreenPtr pScreen = server.NewScreen(screen);
  screen->modes->next->Flags |= V_INTERLACE;
  screen->modes->next->next->Flags |= V_DBLSCAN;
  ASSERT_TRUE(ORVDGAInit(pScreen));
  xstub::DgaClient client(0);
  ASSERT_EQ(client.ModeCount(), 3);
  const ORVRec* rec = Rec(0);
  DisplayModePtr m = screen->modes;
  const int flags[3] = {0x1F, 0x1001F, 0x2001F};
  for (int i = 1; i <= 3; ++i, m = m->next) {
    const DGAModeRec* d = client.Mode(i);
    EXPECT_EQ(d->mode, m) << i;
    EXPECT_EQ(d->flags, flags[i - 1]) << i;
    EXPECT_EQ(d->viewportWidth, m->HDisplay);
    EXPECT_EQ(d->bytesPerScanline, 2 * screen->displayWidth);
    // The lines the head's memory holds at its pitch.
    EXPECT_EQ(d->imageHeight, static_cast<int>(rec->fbMemSize / (2u * screen->displayWidth))) << i;
    EXPECT_EQ(d->maxViewportY, d->imageHeight - m->VDisplay);
    EXPECT_EQ(d->visualClass, TrueColor);
    EXPECT_EQ(d->viewportFlags, DGA_FLIP_RETRACE);
    EXPECT_EQ(d->address, rec->fbBase + rec->fbOffset);
  }
}

TEST_F(FrontEnd, LeavingDgaTwiceRestoresTheSavedModeBlockOnce) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "", 16, "\"1024x768\" \"800x600\"")), 1);
  ScrnInfoPtr screen = xf86Screens[0];
  ASSERT_TRUE(ORVDGAInit(server.NewScreen(screen)));
  screen->SwitchMode = RecordSwitch;
  ORVRec* rec = Rec(0);
  const DisplayModePtr before = screen->currentMode;
  const int savedBpp = rec->savedBpp, savedWidth = rec->savedDisplayWidth;
  g_switches.clear();
  xstub::DgaClient client(0);
  ASSERT_TRUE(client.SetMode(2));
  EXPECT_EQ(rec->inDGA, 1);
  EXPECT_EQ(rec->savedBpp, 16);
  EXPECT_EQ(rec->savedDisplayWidth, client.Mode(2)->bytesPerScanline / 2);
  EXPECT_EQ(rec->savedWeight.green, 6u) << "the bits of the green mask";
  ASSERT_TRUE(client.SetMode(0));
  EXPECT_EQ(rec->inDGA, 0);
  EXPECT_EQ(rec->savedBpp, savedBpp);
  EXPECT_EQ(rec->savedDisplayWidth, savedWidth);
  EXPECT_EQ(screen->currentMode, before) << "back to the mode before DGA";
  rec->savedBpp = 99;
  ASSERT_TRUE(client.SetMode(0));
  EXPECT_EQ(rec->savedBpp, 99) << "nothing saved to restore a second time";
  EXPECT_EQ(g_switches, (std::vector<std::string>{"800x600", before->name, before->name}));

  // The framebuffer a client maps: the head's bus address and its visible size.
  EXPECT_TRUE(client.OpenFramebuffer());
  EXPECT_EQ(client.BusAddress(), rec->fbPhysAddress + rec->fbOffset);
  EXPECT_EQ(client.Size(), screen->virtualY * screen->displayWidth * 2);
  EXPECT_EQ(client.OpenFlags(), DGA_NEED_ROOT);
  EXPECT_EQ(ORVCountBits(0x3FF00000), 10);
}

// ---- Logo -----------------------------------------------------------------------------------

// A bare screen record whose framebuffer is exactly what the screen shows.
class Logo : public Shadow {
 protected:
  void MakeScreen(int depth, int width, int height) {
    Make(depth == 15 ? 16 : (depth == 24 || depth == 30 ? 32 : depth), width, height, 0);
    screen_->depth = depth;
    ORVRec* rec = ORVPTR(screen_);
    rec->fbMemSize = static_cast<uint32_t>(fb_.size());
    mode_.HDisplay = width;
    mode_.VDisplay = height;
    screen_->currentMode = &mode_;
  }
  DisplayModeRec mode_ = {};
};

const char* const kOrange[] = {"3 1 2 1", ". c None", "o c #FF8000", "o.o"};

TEST_F(Logo, AColourBecomesEachDepthsPixelAndTheTransparentKeyLeavesThePixel) {
  struct Case {
    int depth;
    uint32_t pixel;
  };
  for (const Case c : {Case{24, 0x00FF8000}, Case{16, 0xFC00}, Case{15, 0x7E00}, Case{30, 0x3FC80000}}) {
    MakeScreen(c.depth, 5, 3);
    ORVDisplayXPM(screen_, kOrange, 4);
    // Centred: the image's corner at (2 - 1, 1 - 0).
    EXPECT_EQ(FbPixel(1, 1), c.pixel) << c.depth;
    EXPECT_EQ(FbPixel(2, 1), Untouched()) << c.depth << ": transparent";
    EXPECT_EQ(FbPixel(3, 1), c.pixel) << c.depth;
    EXPECT_EQ(FbPixel(1, 0), Untouched()) << c.depth;
  }
  EXPECT_EQ(box_.SleptMicroseconds(), 4u * 2000000u) << "each logo is held two seconds";
}

TEST_F(Logo, AnImageLargerThanTheScreenOrMovedOffItIsClipped) {
  MakeScreen(16, 4, 2);
  std::vector<std::string> text = {"9 7 2 1", ". c None", "x c #0000F8"};
  for (int i = 0; i < 7; ++i) text.push_back("xxxxxxxxx");
  std::vector<const char*> lines;
  for (const std::string& l : text) lines.push_back(l.c_str());
  ORVDisplayXPM(screen_, lines.data(), lines.size());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(FbPixel(x, y), 0x1Fu) << x << "," << y;
  // Four heads: the first copy starts half a monitor left of the screen.
  ORVPTR(screen_)->spanfour = 1;
  ORVPTR(screen_)->modeInfo.ulDispWidth = 400;
  ORVDisplayXPM(screen_, lines.data(), lines.size());
}

TEST_F(Logo, OnHeadOneAtEightBitsNothingIsDrawnAndOtherwiseTheScreenIsClearedFirst) {
  MakeScreen(8, 40, 8);
  ORVPTR(screen_)->head = 1;
  ORVDisplayLogo(screen_);
  EXPECT_TRUE(std::all_of(fb_.begin(), fb_.end(), [](uint8_t b) { return b == 0xEE; }));

  MakeScreen(16, 200, 80);
  ORVPTR(screen_)->noAccel = 1;
  ORVDisplayLogo(screen_);  // no acceleration: the plain logo on its main colour
  EXPECT_EQ(FbPixel(0, 0), 0x7311u) << "cleared to the background";
  // The image's centre pixel, decoded here from its text.
  const int w = 160, h = 56;
  const char key = kOrvLogoPlain[5 + 1 + h / 2][w / 2];
  unsigned colour = 0;
  for (int i = 2; i < 6; ++i)
    if (kOrvLogoPlain[i][0] == key) sscanf(kOrvLogoPlain[i] + 4, " #%6x", &colour);
  EXPECT_EQ(FbPixel(100 - w / 2 + w / 2, 40 - h / 2 + h / 2),
            ((colour >> 19) << 11) | ((colour >> 10) << 5 & 0x7FF) | ((colour >> 3) & 0x1F));
}

TEST_F(Logo, TheAcceleratedBackgroundNeedsAccelerationAndRealBusMastering) {
  struct Case {
    int noAccel;
    OrvBusMastering busMastering;
    int depth;
    uint32_t background;
  };
  const Case kCases[] = {
      {0, kBusMasteringKernel, 16, 0x1170},     {0, kBusMasteringLocal, 16, 0x7311},
      {0, kBusMasteringEmulated, 16, 0x7311},   {1, kBusMasteringKernel, 16, 0x7311},
      {0, kBusMasteringKernel, 15, 0x10B0},     {0, kBusMasteringLocal, 15, 0x3991},
      {0, kBusMasteringKernel, 30, 0x0302D20C}, {0, kBusMasteringLocal, 30, 0x1CC61230},
      {0, kBusMasteringLocal, 24, 0x73618C},
  };
  for (const Case& c : kCases) {
    MakeScreen(c.depth, 200, 80);
    ORVPTR(screen_)->noAccel = c.noAccel;
    ORVPTR(screen_)->busMastering = c.busMastering;
    ORVDisplayLogo(screen_);
    EXPECT_EQ(FbPixel(0, 0), c.background)
        << "depth " << c.depth << ", bus mastering " << c.busMastering << ", noAccel " << c.noAccel;
  }
}

TEST_F(FrontEnd, NoLogoWithAnyValueSuppressesTheLogo) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "  Option \"NoLogo\" \"off\"\n")), 1);
  EXPECT_FALSE(ORVLogoWanted(xf86Screens[0]));
}

TEST_F(FrontEnd, WithoutNoLogoTheLogoIsShown) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_TRUE(ORVLogoWanted(xf86Screens[0]));
}

}  // namespace
