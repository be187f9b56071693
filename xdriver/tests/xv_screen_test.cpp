// Video and the OpenGL module's hooks in a screen's life: screens brought up
// by the X server stand-in on simulated boards offer the Xv adaptor that
// their bus-mastering mode allows, play a client's frame through the
// overlay and release everything at CloseScreen; the GLX hooks take part in
// a screen only in bus-mastering mode 0 and follow its mode switches.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/xaa.h"
#include "platform/xserver/xaa_front.h"
#include "platform/xserver/xv_server.h"
#include "xdriver/orv_glx.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xv.h"
#include "xdriver/tests/screen_fixture.h"
#include "xdriver/tests/video_machine.h"
#include "xdriver/tests/xv_wire.h"

namespace {

using videotest::Wire;

constexpr XID kWindow = 0x900;
constexpr char kOverlay[] = "Using overlay for video\n";
constexpr char kBlitting[] = "Using blitting for video\n";

// The OpenGL module's mode-switch notices.
std::vector<std::pair<int, int>> g_notices;
void Notice(int screen, int flags) { g_notices.emplace_back(screen, flags); }

class VideoScreens : public fetest::KernelScreens {
 protected:
  void SetUp() override {
    KernelScreens::SetUp();
    g_notices.clear();
    generic_.type = XvInputMask | XvImageMask;
    generic_.name = "generic";
    generic_.nPorts = 1;
    generic_.pPortPrivates = &genericPort_;
    xstub::SetGenericXvAdaptors(0, {&generic_});
    blocks_.Attach(kernel);
  }

  // A YV12 frame of 100x50 shown at (40, 30) in a window over the screen.
  std::vector<uint8_t> Frame(XID port) const {
    Wire w(false, xstub::kXvPutImage);
    w.U32(port).U32(kWindow).U32(0x77).U32(FOURCC_YV12);
    w.U16(0).U16(0).U16(100).U16(50).U16(40).U16(30).U16(200).U16(100).U16(100).U16(50);
    return w.Data(16384, 7).Done();
  }

  // The kernel module places video surfaces above the screen's memory.
  videotest::SurfaceBlocks blocks_{8u << 20, 64u << 20};
  XF86VideoAdaptorRec generic_{};
  DevUnion genericPort_{};
};

TEST_F(VideoScreens, AModeZeroScreenPlaysThroughTheOverlayUntilItCloses) {
  orvsim::Board& board = KernelBoard(1, 24);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_TRUE(box.Logged(kOverlay, X_INFO)) << box.LogText();
  ORVRec* rec = Rec(0);
  ASSERT_NE(rec->xvAdaptor, nullptr);
  std::vector<xstub::XvAdaptorView> adaptors = xstub::XvAdaptors(0);
  ASSERT_EQ(adaptors.size(), 2u);
  EXPECT_STREQ(adaptors[0].adaptor->name, "generic");
  EXPECT_STREQ(adaptors[1].adaptor->name, "Orvane Kestrion");
  ASSERT_EQ(adaptors[1].ports.size(), 1u) << "the overlay has one port";
  EXPECT_EQ(xstub::XvOffscreenImages(0).size(), 2u);

  // A client's frame: its surfaces are placed, the overlay is programmed.
  xstub::AddXvWindow({kWindow, 0, 0, 0, 1024, 768, {}});
  board.ClearLog();
  const size_t placed = blocks_.blocks.size();
  const std::vector<uint8_t> frame = Frame(adaptors[1].ports[0]);
  ASSERT_EQ(xstub::XvRequest(frame.data(), frame.size(), false).error, Success) << box.LogText();
  EXPECT_TRUE(xstub::XvPortOn(adaptors[1].ports[0]));
  bool overlayProgrammed = false;
  for (const auto& a : board.Log()) overlayProgrammed |= a.offset >= 0x19A8 && a.offset <= 0x19F4;
  EXPECT_TRUE(overlayProgrammed);
  EXPECT_EQ(blocks_.blocks.size() - placed, 2u) << "the destination and the source";

  // The screen draws where it shows: its framebuffer is the primary
  // surface, the first block placed, and the colour key its XAA painted
  // over the video's part of the window is in the displayed pixels there.
  ASSERT_FALSE(blocks_.blocks.empty());
  EXPECT_EQ(rec->fbOffset, blocks_.blocks[0].bus);
  EXPECT_EQ(rec->displayOffset, rec->fbOffset);
  xstub::XaaFront(xf86Screens[0]->pScreen).Sync();
  auto pixel = [&](int x, int y) {
    uint32_t v;
    std::memcpy(&v, board.LocalMemory() + rec->fbOffset + (static_cast<size_t>(y) * 1024 + x) * 4, 4);
    return v;
  };
  EXPECT_EQ(pixel(40, 30), kOrvColorKey);
  EXPECT_EQ(pixel(239, 129), kOrvColorKey);
  EXPECT_NE(pixel(39, 30), kOrvColorKey);
  EXPECT_NE(pixel(240, 129), kOrvColorKey);
  EXPECT_NE(pixel(40, 130), kOrvColorKey);

  // CloseScreen: the layer's copies, the driver's ports and records and
  // the video surfaces go.
  server.CloseScreens();
  EXPECT_TRUE(server.ScreenClosed(0));
  EXPECT_TRUE(xstub::XvAdaptors(0).empty());
  EXPECT_TRUE(xstub::XvOffscreenImages(0).empty());
  EXPECT_EQ(rec->xvAdaptor, nullptr);
  EXPECT_EQ(rec->xvOffscreen, nullptr);
  EXPECT_EQ(rec->pdev, nullptr);
  for (const videotest::PlacedBlock& b : blocks_.blocks) EXPECT_TRUE(b.freed) << std::hex << b.bus;
}

TEST_F(VideoScreens, ALocalDmaScreenOffersOnlyTheGenericAdaptors) {
  Up(1, "", 24);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  EXPECT_FALSE(box.Logged(kOverlay) || box.Logged(kBlitting));
  EXPECT_EQ(Rec(0)->xvAdaptor, nullptr);
  std::vector<xstub::XvAdaptorView> adaptors = xstub::XvAdaptors(0);
  ASSERT_EQ(adaptors.size(), 1u);
  EXPECT_STREQ(adaptors[0].adaptor->name, "generic");
  EXPECT_EQ(xstub::XvOffscreenImages(0).size(), 2u) << "whatever the adaptor";
  server.CloseScreens();
  EXPECT_TRUE(server.ScreenClosed(0));
  EXPECT_TRUE(xstub::XvAdaptors(0).empty());
  EXPECT_TRUE(xstub::XvOffscreenImages(0).empty());
  EXPECT_EQ(Rec(0)->xvOffscreen, nullptr);
}

TEST_F(VideoScreens, TheOpenGlModuleFollowsModeSwitchesOfAModeZeroScreen) {
  KernelBoard(1, 24);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScrnInfoPtr info = xf86Screens[0];
  ASSERT_EQ(ORVGLXInitialize(info->pScreen, Notice), 1);
  uint32_t mode[4] = {};
  EXPECT_EQ(ORVGLXGetModeInfo(info->pScreen, mode), 0);
  EXPECT_EQ(mode[0], 1024u);
  EXPECT_EQ(mode[1], 768u);
  EXPECT_EQ(mode[2], 32u);
  EXPECT_EQ(mode[3], 0u);

  DisplayModePtr other = info->currentMode->next;
  ASSERT_NE(other, nullptr);
  server.SwitchMode(0, other);
  ASSERT_EQ(g_notices.size(), 1u);
  EXPECT_EQ(g_notices[0], std::make_pair(0, 0));
  EXPECT_EQ(ORVGLXCleanup(info->pScreen), 1);
  server.SwitchMode(0, other->next != nullptr ? other->next : other);
  EXPECT_EQ(g_notices.size(), 1u) << "no notice after the module left";
  server.CloseScreens();
}

TEST_F(VideoScreens, TheOpenGlModuleIsRefusedOnALocalDmaScreen) {
  Up(1, "", 24);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ScrnInfoPtr info = xf86Screens[0];
  EXPECT_EQ(ORVGLXInitialize(info->pScreen, Notice), 0);
  EXPECT_TRUE(box.Logged("OpenGL is disabled on this screen because it is not hardware accelerated\n",
                         X_WARNING));
  server.SwitchMode(0, info->currentMode->next);
  EXPECT_TRUE(g_notices.empty());
  server.CloseScreens();
}

}  // namespace
