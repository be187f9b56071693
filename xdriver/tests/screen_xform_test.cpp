// Screens whose desktop reaches the display through a post-draw transform:
// the X server draws into the transform's bitmap (the framebuffer layer's
// base and XAA's target), and the 3D engine copies it into the displayed
// surface. The 8-to-10-bit copy follows the drawing (callback box, Sync,
// block handler); the pivot is run by the kernel module at each vertical
// sync between the feature start of the mode set-up and the device stop.
// The copies are drawn by the test-side sampler from the engine's writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/bm_transform.h"
#include "core/pdev.h"
#include "core/tests/pdev_fixture.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/xaa_front.h"
#include "xdriver/dps_manager.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/post_draw_xform.h"
#include "xdriver/tests/screen_fixture.h"
#include "xdriver/tests/textured_sampler.h"

namespace {

using fetest::KernelScreens;
using fetest::Screens;

uint32_t& Pixel(orvsim::Board& board, const DeviceBitmap& b, int x, int y) {
  return *reinterpret_cast<uint32_t*>(board.LocalMemory() + (b.addressWord & ~3u) +
                                      (static_cast<size_t>(y) * b.width + static_cast<size_t>(x)) * 4);
}

// The largest area the screen's framebuffer manager hands out (a pixmap
// kept off-screen) lies in the transform's bitmap, which is the framebuffer
// layer's base, and in no other surface's memory: its bytes from the base
// end inside the bitmap's block and miss the displayed surface's block.
void ExpectOffscreenAreaInsideBitmap(ScrnInfoPtr scrn, const DeviceBitmap& drawn, const DeviceBitmap& primary) {
  int w = 0, h = 0;
  ASSERT_TRUE(xf86QueryLargestOffscreenArea(scrn->pScreen, &w, &h, 0, 0, 0));
  FBAreaPtr area = xf86AllocateOffscreenArea(scrn->pScreen, w, h, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(area, nullptr);
  const BoxRec b = area->box;
  xf86FreeOffscreenArea(area);
  EXPECT_GE(b.y1, scrn->virtualY) << "below the desktop";
  const uint64_t line = static_cast<uint64_t>(scrn->displayWidth) * (scrn->bitsPerPixel / 8);
  const uint64_t first = static_cast<uint64_t>(b.y1) * line + static_cast<uint64_t>(b.x1) * (scrn->bitsPerPixel / 8);
  const uint64_t end = static_cast<uint64_t>(b.y2 - 1) * line + static_cast<uint64_t>(b.x2) * (scrn->bitsPerPixel / 8);
  ASSERT_NE(drawn.block, nullptr);
  ASSERT_NE(primary.block, nullptr);
  EXPECT_LE(end, drawn.block->size) << "area (" << b.x1 << "," << b.y1 << ")-(" << b.x2 << "," << b.y2
                                    << ") runs past the bitmap's block";
  const uint64_t at = drawn.addressWord & ~3u;
  const uint64_t primaryAt = primary.addressWord & ~3u;
  EXPECT_TRUE(at + end <= primaryAt || primaryAt + primary.block->size <= at + first)
      << "the area overlaps the displayed surface";
}

// Draws the copies the engine was sent since the last call.
samplertest::TexturedRectangle RunCopies(orvsim::Board& board, orvsim::DmaEngine& dma) {
  const samplertest::TexturedRectangle copy = samplertest::Decode(dma.Writes());
  samplertest::Draw(board, copy);
  dma.ClearWrites();
  return copy;
}

// The device binding never selects the 8-to-10-bit copy: the test does,
// between the device's binding and its first start (the first mode set-up
// of ScreenInit lies in between).
OrvModeInitProc g_modeInit = nullptr;
Bool SelectEightToTen(ScrnInfoPtr screen, DisplayModePtr mode) {
  if (PDEV* pdev = ORVPTR(screen)->pdev) pdev->bindingFlags |= kXformWord8to10;
  return g_modeInit(screen, mode);
}

TEST_F(Screens, EightToTenBitsReachTheDisplayThroughXaaSyncAndTheBlockHandler) {
  orvsim::Board& board = Up(1, "", 24);
  g_modeInit = Rec(0)->modeInit;
  Rec(0)->modeInit = SelectEightToTen;
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ORVRec* rec = Rec(0);
  PDEV* pdev = rec->pdev;
  const DeviceBitmap& primary = pdev->data2d.Primary();
  ASSERT_NE(pdev->data2d.target, &primary);
  const DeviceBitmap& drawn = *pdev->data2d.target;
  // What the framebuffer layer writes lands in the bitmap.
  rec->fbBase[rec->fbOffset + (7 * 1024 + 3) * 4] = 0x77;
  EXPECT_EQ(Pixel(board, drawn, 3, 7) & 0xFF, 0x77u) << "the framebuffer layer draws into the bitmap";
  EXPECT_EQ(rec->displayOffset, primary.block->offset) << "the display stays on the primary";
  ExpectOffscreenAreaInsideBitmap(xf86Screens[0], drawn, primary);
  orvsim::DmaEngine& dma = *dma_[0];

  // An XAA rectangle: drawn by the 2D engine into the bitmap, copied into
  // the displayed surface by the bracket's post-draw step.
  ScreenPtr screen = xf86Screens[0]->pScreen;
  xstub::XaaFront front(screen);
  xstub::XaaGC gc;
  gc.fg = 0x00ABCDEF;
  dma.ClearWrites();
  front.FillRects(gc, {{10, 20, 60, 50}});
  EXPECT_EQ(Pixel(board, drawn, 10, 20), 0x00ABCDEFu);
  const uint32_t before = Pixel(board, primary, 10, 20);
  EXPECT_NE(before, 0x00ABCDEFu) << "not drawn into the displayed surface by the 2D engine";
  const samplertest::TexturedRectangle copy = RunCopies(board, dma);
  EXPECT_EQ(copy.corners[0].x, 10);
  EXPECT_EQ(copy.corners[1].x, 60);
  EXPECT_EQ(copy.corners[2].y, 50);
  EXPECT_EQ(Pixel(board, primary, 10, 20), 0x00ABCDEFu);
  EXPECT_EQ(Pixel(board, primary, 59, 49), 0x00ABCDEFu);
  EXPECT_EQ(Pixel(board, primary, 60, 49), before);
  EXPECT_FALSE(PostDrawXformPending(pdev));

  // The framebuffer layer draws with the processor after XAA's Sync; the
  // block handler renders it before the server sleeps.
  front.Sync();
  const uint32_t image[2] = {0x00112233, 0x00445566};
  std::memcpy(rec->fbBase + rec->fbOffset + (400 * xf86Screens[0]->displayWidth + 500) * 4, image,
              sizeof(image));
  EXPECT_EQ(Pixel(board, drawn, 501, 400), 0x00445566u);
  EXPECT_TRUE(PostDrawXformPending(pdev));
  dma.ClearWrites();
  server.RunMainLoop(1);
  EXPECT_FALSE(PostDrawXformPending(pdev));
  const samplertest::TexturedRectangle whole = RunCopies(board, dma);
  EXPECT_EQ(whole.corners[1].x, 1024) << "the whole desktop";
  EXPECT_EQ(whole.corners[2].y, 768);
  EXPECT_EQ(Pixel(board, primary, 500, 400), 0x00112233u);
  EXPECT_EQ(Pixel(board, primary, 501, 400), 0x00445566u);
  // Nothing pending: the next sleep sends nothing.
  server.RunMainLoop(1);
  EXPECT_TRUE(dma.Writes().empty());
  // Drawing that reaches into the off-screen lines (a pixmap kept there) is
  // copied only as far as the desktop goes.
  PostDrawXformAddBox(pdev, 0, 700, 1024, 1100);
  server.RunMainLoop(1);
  const samplertest::TexturedRectangle clamped = RunCopies(board, dma);
  EXPECT_EQ(clamped.corners[0].y, 700);
  EXPECT_EQ(clamped.corners[2].y, 768) << "not past the desktop";

  // The device stop gives the drawing back to the primary and the bitmap's
  // memory back; the start sets the copy up again.
  server.LeaveVT();
  EXPECT_EQ(pdev->data2d.target, &pdev->data2d.Primary());
  EXPECT_EQ(pdev->data2d.bitmaps[1].block, nullptr);
  server.RunMainLoop(1);
  ASSERT_TRUE(server.EnterVT());
  EXPECT_NE(pdev->data2d.target, &pdev->data2d.Primary());
  server.CloseScreens();
}

TEST_F(KernelScreens, APivotedScreenIsTurnedIntoTheDisplayAtEachVerticalSync) {
  coretest::KernelMemory memory;
  memory.Install(kernel);
  orvsim::Board& board = KernelBoard(1, 24, "  Option \"Rotate\" \"CW\"\n");
  ASSERT_NE(Rec(0)->hwRotate, 0) << "the kernel module rotates in hardware";
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  ORVRec* rec = Rec(0);
  PDEV* pdev = rec->pdev;
  ScrnInfoPtr scrn = xf86Screens[0];
  EXPECT_EQ(scrn->virtualX, 768);
  EXPECT_EQ(scrn->virtualY, 1024);
  const DeviceBitmap& primary = pdev->data2d.Primary();
  ASSERT_NE(pdev->data2d.target, &primary);
  const DeviceBitmap& desktop = *pdev->data2d.target;
  EXPECT_EQ(primary.width, 1024u) << "the display is the monitor's";
  EXPECT_EQ(primary.height, 768u);
  EXPECT_EQ(desktop.width, 768u) << "the X server's desktop";
  EXPECT_EQ(desktop.height, 1536u) << "the desktop and the head's off-screen lines behind it";
  rec->fbBase[rec->fbOffset + (5 * 768 + 2) * 4] = 0x77;
  EXPECT_EQ(Pixel(board, desktop, 2, 5) & 0xFF, 0x77u) << "the framebuffer layer draws into the bitmap";
  EXPECT_EQ(rec->displayOffset, primary.block->offset);
  ExpectOffscreenAreaInsideBitmap(scrn, desktop, primary);
  // The mode set-up started the features: the pivot's VSync request is on.
  BmXformInt* xform = pdev->featureMgr->xformInterfaces[0];
  ASSERT_NE(xform, nullptr);
  const uint32_t slot = xform->InterruptIdentity();
  EXPECT_EQ(kernel.ActiveVSyncRequests(), (std::vector<xstub::VSyncRequest>{{0x10000000, 0, 1, slot}}));

  // XAA draws into the desktop bitmap; the next vertical sync turns it
  // into the display: desktop (x, y) shows at (1023 - y, x).
  xstub::XaaFront front(scrn->pScreen);
  xstub::XaaGC gc;
  gc.fg = 0x00C0FFEE;
  front.FillRects(gc, {{10, 20, 60, 50}});
  front.Sync();
  EXPECT_EQ(Pixel(board, desktop, 10, 20), 0x00C0FFEEu);
  orvsim::DmaEngine& dma = *dma_[0];
  dma.ClearWrites();
  ASSERT_EQ(kernel.VerticalSync(0), 1u);
  RunCopies(board, dma);
  int wrong = 0;
  for (int y = 0; y < 1024; ++y)
    for (int x = 0; x < 768; ++x) wrong += Pixel(board, primary, 1023 - y, x) != Pixel(board, desktop, x, y);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(Pixel(board, primary, 1023 - 20, 10), 0x00C0FFEEu);
  EXPECT_EQ(Pixel(board, primary, 1023 - 49, 59), 0x00C0FFEEu);

  // Leaving the console switches the pivot off and gives its slot back;
  // coming back starts it again.
  server.LeaveVT();
  EXPECT_TRUE(kernel.ActiveVSyncRequests().empty());
  EXPECT_EQ(pdev->sharedLocked->pendingSlots[slot].postType, kPendingSlotFree);
  ASSERT_TRUE(server.EnterVT());
  ASSERT_EQ(kernel.ActiveVSyncRequests().size(), 1u);
  EXPECT_EQ(kernel.ActiveVSyncRequests()[0].flags, 0x10000000u);
  server.CloseScreens();
  EXPECT_TRUE(kernel.ActiveVSyncRequests().empty());
}

// A single-head board cloning its desktop to a TV in mode 0: each mode
// set-up starts display processing on the TV's controller (3, interrupt 2),
// whose picture the kernel module draws at each vertical sync from the
// desktop; leaving the console stops it.
TEST_F(KernelScreens, ATvScreenRunsDisplayProcessingBetweenModeSetUpAndDeviceStop) {
  coretest::KernelMemory memory;
  memory.Install(kernel);
  orvsim::Board& board = KernelBoard(1, 16, "  Option \"TvOut\"\n  Option \"TvStandard\" \"PAL\"\n");
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  PDEV* pdev = Rec(0)->pdev;
  CFeatureMgr* features = pdev->featureMgr;
  ASSERT_NE(features->manager, nullptr);
  EXPECT_EQ(pdev->common->activeDpsManager, features->manager);
  const uint32_t id = features->xformInterfaces[kFeatureDpsInterface]->InterruptIdentity();
  EXPECT_EQ(kernel.ActiveVSyncRequests(), (std::vector<xstub::VSyncRequest>{{2, 2, 1, id}}));
  EXPECT_EQ(features->manager->outputType, kDpsOutputTv3of576) << "output kind 3, 576 lines";
  // The back buffer the controller shows was cleared to YCbCr black.
  const CDPSSurface& shown = features->manager->backBuffers.buffers[1];
  uint32_t corner;
  std::memcpy(&corner, board.LocalMemory() + (shown.destination.address & ~3u) + (575 * 736 + 719) * 4, 4);
  EXPECT_EQ(corner, 0x108080u);

  // At the TV controller's vertical sync the module draws the desktop (the
  // primary surface the X server draws into) into a back buffer.
  orvsim::DmaEngine& dma = *dma_[0];
  dma.ClearWrites();
  EXPECT_EQ(kernel.VerticalSync(0), 0u) << "another interrupt runs nothing";
  ASSERT_EQ(kernel.VerticalSync(2), 1u);
  uint32_t texture = 0;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x11DC) texture = w.value;
  EXPECT_EQ(texture, pdev->data2d.Primary().addressWord);

  server.LeaveVT();
  EXPECT_TRUE(kernel.ActiveVSyncRequests().empty());
  EXPECT_EQ(pdev->common->activeDpsManager, nullptr);
  EXPECT_EQ(features->manager, nullptr) << "the device stop gave display processing back";
  ASSERT_TRUE(server.EnterVT());
  ASSERT_EQ(kernel.ActiveVSyncRequests().size(), 1u);
  EXPECT_EQ(kernel.ActiveVSyncRequests()[0].flags, 2u);
  server.CloseScreens();
  EXPECT_TRUE(kernel.ActiveVSyncRequests().empty());
}

// The first mode set of ScreenInit comes before the device start: the
// features are neither stopped nor started then (nothing runs on a device
// that is not started, and no warning says otherwise); they start with the
// mode set over the started device, and again after a console switch.
TEST_F(KernelScreens, TheFeaturesStartOnceTheDeviceIsStartedWithoutAWarning) {
  coretest::KernelMemory memory;
  memory.Install(kernel);
  KernelBoard(1, 24, "  Option \"Rotate\" \"CW\"\n");
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  PDEV* pdev = Rec(0)->pdev;
  BmXformInt* xform = pdev->featureMgr->xformInterfaces[0];
  ASSERT_NE(xform, nullptr);
  EXPECT_EQ(kernel.ActiveVSyncRequests(),
            (std::vector<xstub::VSyncRequest>{{0x10000000, 0, 1, xform->InterruptIdentity()}}));
  server.LeaveVT();
  ASSERT_TRUE(server.EnterVT());
  EXPECT_EQ(kernel.ActiveVSyncRequests().size(), 1u);
  const std::string log = box.LogText();
  for (const char* warning : {"Cannot stop Orvane xform.", "Error occured while starting the Orvane xform.",
                              "Error occured while notitying the Orvane xform manager."})
    EXPECT_EQ(log.find(warning), std::string::npos) << warning << "\n" << log;
  server.CloseScreens();
}

}  // namespace
