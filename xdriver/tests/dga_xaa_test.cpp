// A DGA client on an accelerated screen: it maps the head's framebuffer
// through /dev/mem, fills and blits through the driver's XAA hooks on the
// board's 2D engine, syncs, and sees the result in its own mapping.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/xserver/dga.h"
#include "xdriver/orv_dga.h"
#include "xdriver/tests/xaa_fixture.h"

namespace {

// The XAA copy set-up, watched for the driver's transparent-copy flag.
ScrnInfoPtr g_screen = nullptr;
void (*g_realSetup)(ScrnInfoPtr, int, int, int, unsigned int, int) = nullptr;
std::vector<int> g_flagDuringSetup;
void WatchedSetup(ScrnInfoPtr scrn, int xdir, int ydir, int rop, unsigned int planemask, int trans) {
  g_flagDuringSetup.push_back(ORVPTR(g_screen)->dgaTransparentCopy);
  g_realSetup(scrn, xdir, ydir, rop, planemask, trans);
}

class DgaOnXaa : public twodtest::XaaScreenTest {
 protected:
  void SetUp() override {
    XaaScreenTest::SetUp();
    Start(32);
    scrn_->driverPrivate = xcalloc(1, sizeof(ORVRec));
    ORVRec* rec = ORVPTR(scrn_);
    rec->pXaaInfo = info_;
    rec->fbPhysAddress = board_->Bar(orvsim::ResourceKind::kMemory)->base;
    rec->fbOffset = Primary().addressWord & ~3u;
    rec->fbMemSize = Primary().width * 4 * 1024;
    scrn_->displayWidth = static_cast<int>(Primary().width);
    mode_.HDisplay = 1024;
    mode_.VDisplay = 768;
    mode_.next = &mode_;
    mode_.prev = &mode_;
    mode_.name = const_cast<char*>("1024x768");
    scrn_->modes = &mode_;
    scrn_->currentMode = &mode_;
    ASSERT_TRUE(ORVDGAInit(screen_));
  }
  void TearDown() override {
    if (scrn_ != nullptr && scrn_->driverPrivate != nullptr) {
      xfree(ORVPTR(scrn_)->dgaModes);
      xfree(scrn_->driverPrivate);
      scrn_->driverPrivate = nullptr;
      scrn_->modes = nullptr;
    }
    XaaScreenTest::TearDown();
  }
  uint32_t Mapped(const xstub::DgaClient& client, int x, int y) {
    uint32_t v;
    std::memcpy(&v, client.Framebuffer() + (static_cast<size_t>(y) * Primary().width + x) * 4, 4);
    return v;
  }
  DisplayModeRec mode_ = {};
};

TEST_F(DgaOnXaa, FillsAndBlitsGoThroughTheEngineAndTheClientSeesThemAfterASync) {
  xstub::DgaClient client(scrn_->scrnIndex);
  ASSERT_TRUE(client.OpenFramebuffer());
  EXPECT_EQ(client.Mode(1)->address, nullptr) << "no mapped framebuffer in this record";
  engine_->SetLatencyReads(20);
  client.FillRect(10, 10, 20, 5, 0x00ABCDEF);
  client.Sync();
  EXPECT_EQ(Mapped(client, 10, 10), 0x00ABCDEFu);
  EXPECT_EQ(Mapped(client, 29, 14), 0x00ABCDEFu);
  EXPECT_EQ(Mapped(client, 30, 14), 0u);

  // An overlapping blit right by 4 keeps the source's pixels.
  Scribble(40, 40, 30, 10);
  const std::vector<uint32_t> before = Snapshot(40, 40, 30, 10);
  g_screen = scrn_;
  g_realSetup = info_->SetupForScreenToScreenCopy;
  info_->SetupForScreenToScreenCopy = WatchedSetup;
  client.BlitRect(40, 40, 20, 10, 44, 40);
  client.Sync();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(Mapped(client, 44 + x, 40 + y), before[static_cast<size_t>(y) * 30 + x]) << x << "," << y;

  // A transparent blit leaves the pixels whose source is the colour.
  for (int x = 0; x < 8; ++x) SetPixel(100 + x, 100, x % 2 ? 0x00123456u : 0x00777777u);
  client.BlitTransRect(100, 100, 8, 1, 100, 110, 0x00123456);
  client.Sync();
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Mapped(client, 100 + x, 110), x % 2 ? 0u : 0x00777777u) << x;
  EXPECT_EQ(g_flagDuringSetup, (std::vector<int>{0, 1}));
  EXPECT_EQ(ORVPTR(scrn_)->dgaTransparentCopy, 0);
  info_->SetupForScreenToScreenCopy = g_realSetup;
}

// A client's rectangles reach only the head's framebuffer (the pitch
// across, the lines its memory holds down): the server hands them on as
// they come, and a fill from a negative origin once made the engine write
// below the board's memory.
TEST_F(DgaOnXaa, RectanglesAreCutToTheHeadsFramebuffer) {
  xstub::DgaClient client(scrn_->scrnIndex);
  ASSERT_TRUE(client.OpenFramebuffer());
  const int width = static_cast<int>(Primary().width);
  const int lines = 1024;  // the fixture's framebuffer memory
  const std::vector<uint32_t> past = Snapshot(0, lines, width, 1);
  client.FillRect(-50, -50, 30000, 30000, 0x00ABCDEF);
  client.Sync();
  EXPECT_TRUE(engine2d_->Faults().empty());
  EXPECT_EQ(Pixel(0, 0), 0x00ABCDEFu);
  EXPECT_EQ(Pixel(width - 1, lines - 1), 0x00ABCDEFu);
  EXPECT_EQ(Snapshot(0, lines, width, 1), past) << "the line past the framebuffer";

  // A blit whose source starts above and left of the framebuffer moves the
  // part inside; one whose destination runs past the right edge is cut.
  Scribble(0, 0, 16, 16);
  const std::vector<uint32_t> source = Snapshot(0, 0, 8, 8);
  client.BlitRect(-8, -8, 16, 16, 100, 100);
  client.BlitRect(0, 0, 16, 4, width - 4, 200);
  client.FillRect(20, 20, -5, 20, 0x00FF0000);  // nothing to fill
  client.Sync();
  EXPECT_TRUE(engine2d_->Faults().empty());
  EXPECT_EQ(Snapshot(108, 108, 8, 8), source);
  EXPECT_EQ(Pixel(width - 1, 200), Snapshot(3, 0, 1, 1)[0]);
  EXPECT_EQ(Pixel(20, 20), 0x00ABCDEFu);
}

}  // namespace
