// The device binding and the feature manager: the device start sets the
// features up (the X server then draws into a transform's bitmap, and the
// framebuffer the start hands back is there), the notifier takes the head's
// TV entry, the feature start and stop switch the features, and the device
// stop gives everything back.
#include <gtest/gtest.h>

#include "core/pdev.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_features.h"
#include "xdriver/tests/features_fixture.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

class LocalStartTest : public twodtest::Local2dTest {};

TEST_F(LocalStartTest, EightToTenBitsMovesTheFramebufferToTheDrawnBitmap) {
  PDEV* pdev = Head(0);
  pdev->bindingFlags |= kXformWord8to10;
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  DeviceBitmap& primary = pdev->data2d.Primary();
  DeviceBitmap* drawn = pdev->data2d.target;
  ASSERT_EQ(drawn, &pdev->data2d.bitmaps[1]);
  ASSERT_NE(drawn->block, nullptr);
  EXPECT_EQ(result.displayOffset, primary.block->offset) << "the display stays on the primary";
  // What the framebuffer layer writes at the offset lands in the bitmap.
  volatile uint8_t* frameBuffer = pdev->common->frameBuffer;
  frameBuffer[result.frameBufferOffset + 4 * 1024 * 3 + 8] = 0x5A;
  EXPECT_EQ(board_->LocalMemory()[(drawn->addressWord & ~3u) + 4 * 1024 * 3 + 8], 0x5A);
  EXPECT_EQ(board_->LocalMemory()[(primary.addressWord & ~3u) + 4 * 1024 * 3 + 8], 0);

  EXPECT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
  EXPECT_EQ(pdev->data2d.target, &primary) << "drawing goes to the primary again";
  EXPECT_EQ(pdev->data2d.bitmaps[1].block, nullptr);
  EXPECT_EQ(pdev->data2d.xform.flags & kXformId8to10, 0u);
}

TEST_F(LocalStartTest, WithoutAFeatureTheFramebufferIsThePrimary) {
  PDEV* pdev = Head(0);
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  EXPECT_EQ(pdev->data2d.target, &pdev->data2d.Primary());
  volatile uint8_t* frameBuffer = pdev->common->frameBuffer;
  frameBuffer[result.frameBufferOffset] = 0x33;
  EXPECT_EQ(board_->LocalMemory()[pdev->data2d.Primary().addressWord & ~3u], 0x33);
  EXPECT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
}

TEST_F(LocalStartTest, NotifierTakesTheTvEntryOfTheList) {
  PDEV* pdev = Head(0);
  CFeatureMgr* f = pdev->featureMgr;
  FeatureInfo other{};
  other.kind = 3;
  other.flags = 0x1;
  FeatureInfo tv{};
  tv.kind = kFeatureTvOut;
  tv.next = &other;
  tv.tv = OrvTvOptions{kFeatureTvNtsc, 5, 1, {10, 20, 630, 460}, 0, {1, 2, 3, 4},
                       7, 800, 0, 9000, 120, -30, 11000};
  const struct { int32_t flags; uint32_t kind; } cases[] = {
      {0x1, 0}, {0x3, 0}, {0x2, 1}, {0x6, 1}, {0x4, 2}, {0xC, 2}, {0x8, 3},
  };
  for (const auto& c : cases) {
    tv.flags = c.flags;
    ASSERT_EQ(KstrnNotifyFeatureMgr(pdev, &tv), kKstrnSuccess);
    EXPECT_EQ(f->outputKind, c.kind) << c.flags;
  }
  EXPECT_EQ(f->flags, 1u) << "TV is wanted";
  EXPECT_EQ(f->tvStandard, 1u) << "NTSC: 484 lines";
  const SProcampValues expected = {{7, 800, 0, 9000, 120, -30, 11000}};
  for (unsigned i = 0; i < kProcampCount; ++i) EXPECT_EQ(f->procamp.value[i], expected.value[i]) << i;
  EXPECT_EQ((std::vector<int32_t>{f->srcRect.left, f->srcRect.top, f->srcRect.right, f->srcRect.bottom}),
            (std::vector<int32_t>{10, 20, 630, 460}));
  EXPECT_EQ(f->dstRect.right, 0) << "an unusable output region stays empty";

  tv.tv.standard = kFeatureTvPal;
  ASSERT_EQ(KstrnNotifyFeatureMgr(pdev, &tv), kKstrnSuccess);
  LSIZE size{};
  f->GetDstResolution(pdev, size, 0);
  EXPECT_EQ(size.height, 576);
  EXPECT_EQ(KstrnNotifyFeatureMgr(nullptr, &tv), kKstrnNoDevice);
  // A list without a TV entry leaves the manager as it was.
  ASSERT_EQ(KstrnNotifyFeatureMgr(pdev, &other), kKstrnSuccess);
  EXPECT_EQ(f->tvStandard, 0u);
}

TEST_F(LocalStartTest, FeaturesSwitchOnlyOnAnActiveDevice) {
  PDEV* pdev = Head(0);
  EXPECT_EQ(KstrnStartFeatures(pdev), kKstrnNoDevice) << "not started";
  EXPECT_EQ(KstrnStopFeatures(pdev), kKstrnNoDevice);
  EXPECT_EQ(KstrnStartFeatures(nullptr), kKstrnNoDevice);
  ASSERT_EQ(KstrnStartDevice(pdev, nullptr), kKstrnSuccess);
  EXPECT_EQ(KstrnStartFeatures(pdev), kKstrnSuccess);
  EXPECT_EQ(KstrnStopFeatures(pdev), kKstrnSuccess);
  EXPECT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
}

// A head turned clockwise on a mode-0 board: the mode carries the desktop as
// the X server sees it (768 x 1024), the display is 1024 x 768.
class RotatedStartTest : public featuretest::FeatureBoardTest {};

TEST_F(RotatedStartTest, PivotIsSetUpAtTheStartAndRunsBetweenFeatureStartAndStop) {
  coretest::Head& head = Construct(0, 768, 1024);
  ASSERT_EQ(head.ok, 1);
  PDEV* pdev = head.pdev;
  pdev->bindingFlags |= kPdevRotateCW;
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  DeviceBitmap& primary = pdev->data2d.Primary();
  DeviceBitmap* desktop = pdev->data2d.target;
  ASSERT_NE(desktop, &primary);
  EXPECT_EQ(primary.width, 1024u) << "the displayed surface is the monitor's";
  EXPECT_EQ(primary.height, 768u);
  EXPECT_EQ(desktop->width, 768u) << "the X server's desktop";
  EXPECT_EQ(desktop->height, 1024u);
  EXPECT_EQ(result.frameBufferOffset, desktop->addressWord & ~3u);
  EXPECT_EQ(result.displayOffset, primary.block->offset);
  BmXformInt* xform = pdev->featureMgr->xformInterfaces[0];
  ASSERT_NE(xform, nullptr);
  const uint32_t slot = xform->InterruptIdentity();

  ASSERT_EQ(KstrnNotifyFeatureMgr(pdev, nullptr), kKstrnSuccess);
  ASSERT_EQ(KstrnStartFeatures(pdev), kKstrnSuccess);
  EXPECT_EQ(kernel_.ActiveVSyncRequests(), (std::vector<xstub::VSyncRequest>{{0x10000000, 0, 1, slot}}));
  TakeWrites();
  EXPECT_EQ(kernel_.VerticalSync(0), 1u);
  EXPECT_FALSE(TakeWrites().empty());
  ASSERT_EQ(KstrnStopFeatures(pdev), kKstrnSuccess);
  EXPECT_TRUE(kernel_.ActiveVSyncRequests().empty());

  ASSERT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
  EXPECT_EQ(pdev->data2d.target, &primary);
  EXPECT_EQ(pdev->featureMgr->xformInterfaces[0], nullptr);
  EXPECT_EQ(pdev->sharedLocked->pendingSlots[slot].postType, kPendingSlotFree);
}

}  // namespace
