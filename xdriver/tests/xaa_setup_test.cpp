// XAA set-up, engine sync, clipping and the solid fills on a local-DMA
// board: the info record's hooks and flags, the private slot, Sync on sync
// tags, the clip rectangle in the 2D state shadow, and rectangles and span
// lists drawn by the board's 2D engine through the XAA stand-in's front.
#include <gtest/gtest.h>

#include <vector>

#include "core/bm_packets.h"
#include "core/hw_thread2d.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xaa_front.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/primary_surface.h"
#include "xdriver/temp_bit.h"
#include "xdriver/tests/twod_fixture.h"
#include "xdriver/xaa_hooks.h"
#include "xdriver/xaa_setup.h"

namespace {

class XaaSetup : public twodtest::Local2dTest {
 protected:
  void SetUp() override {
    twodtest::Local2dTest::SetUp();
    server_ = std::make_unique<xstub::XServer>();
    scrn_ = server_->NewScrnInfo();
    scrn_->bitsPerPixel = 32;
    scrn_->depth = 24;
    scrn_->virtualX = 1024;
    scrn_->virtualY = 768;
    screen_ = server_->NewScreen(scrn_);
    screen_->width = 1024;
    screen_->height = 768;
    pdev_ = Head(0);
    // What the device start does for the 2D layer.
    ASSERT_TRUE(CreatePrimarySurface(pdev_));
    pdev_->data2d.tempBits[0]->Enable(pdev_->surfaceManager);
    pdev_->data2d.tempBits[1]->Enable(pdev_->surfaceManager);
    if (index_ < 0) index_ = xf86AllocateScrnInfoPrivateIndex();
    info_ = XAACreateInfoRec();
    info_->TEGlyphRendererFlags = 0x3;
  }
  void TearDown() override {
    KstrnXAACleanup(pdev_, scrn_);
    XAADestroyInfoRec(info_);
    server_.reset();
    twodtest::Local2dTest::TearDown();
  }
  void Init() {
    ASSERT_EQ(KstrnXAAInit(pdev_, scrn_, index_, info_), 1u);
    ASSERT_TRUE(XAAInit(screen_, info_));
  }
  uint32_t PrimaryPixel(int x, int y) {
    const DeviceBitmap& p = pdev_->data2d.Primary();
    return LocalWord((p.addressWord & ~3u) + (static_cast<uint32_t>(y) * p.width + x) * 4);
  }

  static int index_;
  std::unique_ptr<xstub::XServer> server_;
  ScrnInfoPtr scrn_ = nullptr;
  ScreenPtr screen_ = nullptr;
  PDEV* pdev_ = nullptr;
  XAAInfoRecPtr info_ = nullptr;
};
int XaaSetup::index_ = -1;

TEST_F(XaaSetup, TheRecordGetsTheHooksFlagsAndExpansionBufferAndTheClipIsOff) {
  const uint32_t* before = pdev_->primInt->cursor;
  Init();
  KstrnXaaData* data = KstrnXaaDataOf(scrn_);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(scrn_->privates[index_].ptr, data);
  EXPECT_EQ(g_iKstrnXaaPrivateIndex, index_);
  EXPECT_EQ(info_->Sync, KstrnXAASync);
  EXPECT_EQ(info_->RestoreAccelState, KstrnXAARestoreAccelState);
  EXPECT_EQ(info_->SetClippingRectangle, KstrnXAASetClippingRectangle);
  EXPECT_EQ(info_->DisableClipping, KstrnXAADisableClipping);
  EXPECT_EQ(info_->SetupForSolidFill, KstrnXAASetupForSolidFill);
  EXPECT_EQ(info_->SubsequentSolidFillRect, KstrnXAASubsequentSolidFillRect);
  EXPECT_EQ(info_->FillSolidRects, KstrnXAAFillSolidRects);
  EXPECT_EQ(info_->FillSolidSpans, KstrnXAAFillSolidSpans);
  EXPECT_EQ(info_->SetupForScreenToScreenCopy, KstrnXAASetupForScreenToScreenCopy);
  EXPECT_EQ(info_->SubsequentScreenToScreenCopy, KstrnXAASubsequentScreenToScreenCopy);
  EXPECT_EQ(info_->ScreenToScreenBitBlt, KstrnXAAScreenToScreenBitBlt);
  EXPECT_EQ(info_->SetupForSolidLine, KstrnXAASetupForSolidLine);
  EXPECT_EQ(info_->SubsequentSolidTwoPointLine, KstrnXAASubsequentSolidTwoPointLine);
  EXPECT_EQ(info_->SubsequentSolidHorVertLine, KstrnXAASubsequentSolidHorVertLine);
  EXPECT_EQ(info_->SetupForMono8x8PatternFill, KstrnXAASetupForMono8x8PatternFill);
  EXPECT_EQ(info_->SubsequentMono8x8PatternFillRect, KstrnXAASubsequentMono8x8PatternFillRect);
  EXPECT_EQ(info_->SetupForCPUToScreenColorExpandFill, KstrnXAASetupForCPUToScreenColorExpandFill);
  EXPECT_EQ(info_->SubsequentCPUToScreenColorExpandFill, KstrnXAASubsequentCPUToScreenColorExpandFill);
  EXPECT_EQ(info_->WritePixmap, KstrnXAAWritePixmap);
  EXPECT_EQ(info_->ReadPixmap, KstrnXAAReadPixmap);
  EXPECT_EQ(info_->ScreenToScreenCopyFlags | info_->SolidLineFlags | info_->ImageWriteFlags |
                info_->WritePixmapFlags | info_->ReadPixmapFlags | info_->ScreenToScreenBitBltFlags,
            0);
  EXPECT_EQ(info_->ClippingFlags, 0x250000);
  EXPECT_EQ(info_->Mono8x8PatternFillFlags, 0x230200);
  EXPECT_EQ(info_->CPUToScreenColorExpandFillFlags, 0x8000);
  EXPECT_EQ(info_->TEGlyphRendererFlags, 0x8003);
  EXPECT_EQ(info_->ColorExpandBase, data->expansionBuffer);
  EXPECT_EQ(info_->ColorExpandRange, 0x10000);
  EXPECT_EQ(data->target, &pdev_->data2d.Primary());
  // The primary lies in bank A, the second scratch bitmap in bank B.
  EXPECT_EQ(data->expansionTemp, pdev_->data2d.tempBits[1]);

  // The clip is off: nothing was sent, the shadow holds the whole space.
  SharedLockedData_t* shared = pdev_->sharedLocked;
  EXPECT_EQ(pdev_->primInt->cursor, before);
  EXPECT_EQ(data->clipping, 0);
  EXPECT_EQ(Shadow2dClipTopLeft(shared), 0u);
  EXPECT_EQ(Shadow2dClipBottomRight(shared), 4095u << 16 | 4095u);
  EXPECT_EQ(Shadow2dControl(shared) & k2dClipOn, 0u);
  EXPECT_EQ(Shadow2dDirty(shared) & (k2dDirtyClip | k2dDirtyControl), 0u);
}

TEST_F(XaaSetup, NoMemoryForTheDataLeavesTheSlotEmptyAndCleanupTwiceDeletesOnce) {
  box_.FailAllocation(1);
  EXPECT_EQ(KstrnXAAInit(pdev_, scrn_, index_, info_), 2u);
  EXPECT_EQ(scrn_->privates[index_].ptr, nullptr);
  Init();
  const uint64_t live = box_.LiveAllocations();
  KstrnXAACleanup(pdev_, scrn_);
  EXPECT_EQ(box_.LiveAllocations(), live - 1);
  EXPECT_EQ(scrn_->privates[index_].ptr, nullptr);
  KstrnXAACleanup(pdev_, scrn_);  // finds nothing to delete
  EXPECT_EQ(box_.LiveAllocations(), live - 1);
}

TEST_F(XaaSetup, AServerOutOfPrivateSlotsLeavesTheScreenWithoutXaa) {
  // Such a server answers -1 for a new slot: nothing is allocated or
  // written before the first slot, and XAA is not set up.
  const uint64_t live = box_.LiveAllocations();
  const DevUnion before = scrn_->privates[0];
  EXPECT_EQ(KstrnXAAInit(pdev_, scrn_, -1, info_), 7u);
  EXPECT_EQ(box_.LiveAllocations(), live);
  EXPECT_EQ(scrn_->privates[0].ptr, before.ptr);
  EXPECT_EQ(KstrnXaaDataOf(scrn_), nullptr);
}

TEST_F(XaaSetup, SyncWritesASyncPacketUnderTheLockAndWaitsForTheEngine) {
  Init();
  SharedLockedData_t* shared = pdev_->sharedLocked;
  shared->syncTagCounter = 0xFFFFFFF8;
  board_->Poke(orvsim::kDmaRegTagReached, 4, 0xFFFFFFF8);
  engine_->SetLatencyReads(30);
  engine_->ClearWrites();
  KstrnXAASync(scrn_);
  EXPECT_EQ(shared->syncTagCounter, 8u) << "never tag 0";
  EXPECT_EQ(engine_->Writes(), (std::vector<orvsim::DmaEngine::RegWrite>{
                                   {0x1300, 0x707}, {0x1374, 0}, {0x12BC, 8}}));
  EXPECT_EQ(engine_->ReachedTag(), 8u) << "Sync returned once the engine got there";
  EXPECT_EQ(shared->commandLock, 0);
  EXPECT_EQ(BmCommandLockDepth(shared, kCmdLockOwnerXDriver), 0u);

  // An engine that never gets there: the wait gives up and says so.
  engine_->SetLatencyReads(2000000);
  box_.ClearMessages();
  KstrnXAASync(scrn_);
  EXPECT_NE(box_.LogText().find("XAA sync"), std::string::npos);
  EXPECT_EQ(shared->commandLock, 0);
  engine_->RunPending();
}

TEST_F(XaaSetup, RectanglesLandAtThePrimarySurfaceAndTheClipIsInclusive) {
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x00123456;
  engine_->ClearWrites();
  front.FillRects(gc, {BoxRec{10, 20, 13, 22}});
  for (int y = 19; y <= 22; ++y)
    for (int x = 9; x <= 13; ++x)
      EXPECT_EQ(PrimaryPixel(x, y), (x >= 10 && x < 13 && y >= 20 && y < 22) ? 0x00123456u : 0u)
          << x << "," << y;
  EXPECT_TRUE(info_->NeedToSync);
  // GXcopy sends no preamble: the rectangle's packet follows the state,
  // whose last register is the control word.
  const uint32_t copyControl = Shadow2dControl(pdev_->sharedLocked);
  EXPECT_EQ(copyControl & 0xFF, 0xC0u) << "fill with copy";
  const auto& writes = engine_->Writes();
  ASSERT_GE(writes.size(), 4u);
  EXPECT_EQ(std::vector<orvsim::DmaEngine::RegWrite>(writes.end() - 4, writes.end()),
            (std::vector<orvsim::DmaEngine::RegWrite>{{0x1324, 0xFFFFFFFF},
                                                      {0x1300, copyControl},
                                                      {0x1308, 20u << 16 | 10},
                                                      {0x138C, 2u << 16 | 3}}));

  // GXxor: 0x707, then the control word, before the rectangle.
  engine_->ClearWrites();
  gc.alu = GXxor;
  gc.fg = 0x00FFFFFF;
  front.FillRects(gc, {BoxRec{10, 20, 11, 21}});
  EXPECT_EQ(PrimaryPixel(10, 20), 0x00123456u ^ 0x00FFFFFFu);
  const uint32_t control = Shadow2dControl(pdev_->sharedLocked);
  EXPECT_EQ((control >> 4) & 0xF, 0x6u) << "GXxor 6 reversed is 6";
  const auto& xorWrites = engine_->Writes();
  ASSERT_GE(xorWrites.size(), 4u);
  EXPECT_EQ(xorWrites[xorWrites.size() - 4], (orvsim::DmaEngine::RegWrite{0x1300, 0x707}));
  EXPECT_EQ(xorWrites[xorWrites.size() - 3], (orvsim::DmaEngine::RegWrite{0x1300, control}));

  // The clip rectangle of XAA is inclusive on every edge.
  engine_->ClearWrites();
  KstrnXAASetClippingRectangle(scrn_, 100, 100, 102, 101);
  EXPECT_TRUE(engine_->Writes().empty()) << "the clip goes out with the next drawing";
  gc.alu = GXcopy;
  gc.fg = 0x77;
  KstrnXAAFillSolidRects(scrn_, 0x77, GXcopy, 0xFFFFFFFF, 1, std::vector<BoxRec>{{95, 95, 110, 110}}.data());
  for (int y = 99; y <= 102; ++y)
    for (int x = 99; x <= 103; ++x)
      EXPECT_EQ(PrimaryPixel(x, y), (x >= 100 && x <= 102 && y >= 100 && y <= 101) ? 0x77u : 0u)
          << x << "," << y;
  KstrnXAADisableClipping(scrn_);
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(XaaSetup, ThreeCopySpansMakeOneRepeatPacketAndTwoSpansRectangles) {
  Init();
  BmPrimInt* prim = pdev_->primInt;
  DDXPointRec points[3] = {{5, 1}, {7, 2}, {6, 3}};
  int widths[3] = {4, 2, 3};
  const uint32_t* from = prim->cursor;
  KstrnXAAFillSolidSpans(scrn_, 0x42, GXcopy, 0xFFFFFFFF, 3, points, widths, 1);
  std::vector<uint32_t> words = WordsSince(prim, from);
  const std::vector<uint32_t> tail = {0x21212122, 0x2121E3C2, 0x21212123, 3, 1u << 16 | 5,
                                      0x10000 | 4, 2u << 16 | 7, 0x10000 | 2, 3u << 16 | 6,
                                      0x10000 | 3};
  ASSERT_GE(words.size(), tail.size());
  EXPECT_EQ(std::vector<uint32_t>(words.end() - static_cast<long>(tail.size()), words.end()), tail);
  for (int i = 0; i < 3; ++i)
    for (int x = 0; x < 12; ++x) {
      const bool on = x >= points[i].x && x < points[i].x + widths[i];
      EXPECT_EQ(PrimaryPixel(x, points[i].y), on ? 0x42u : 0u) << x << "," << points[i].y;
    }

  // The repeat header is loaded once per 2D context.
  from = prim->cursor;
  KstrnXAAFillSolidSpans(scrn_, 0x43, GXcopy, 0xFFFFFFFF, 3, points, widths, 1);
  words = WordsSince(prim, from);
  EXPECT_EQ(std::count(words.begin(), words.end(), 0x21212122u), 0);
  EXPECT_EQ(std::count(words.begin(), words.end(), 0x21212123u), 1);

  // Two spans, or another raster operation: one-line rectangles.
  from = prim->cursor;
  KstrnXAAFillSolidSpans(scrn_, 0x44, GXcopy, 0xFFFFFFFF, 2, points, widths, 1);
  words = WordsSince(prim, from);
  EXPECT_EQ(std::count(words.begin(), words.end(), 0x21212123u), 0);
  EXPECT_EQ(std::count(words.begin(), words.end(), 0x2121E3C2u), 2);
  EXPECT_EQ(PrimaryPixel(8, 1), 0x44u);
}

TEST_F(XaaSetup, WhenTheProcessorRunsThePacketsItsRegisterWritesDrawTheSameSpans) {
  Init();
  // DMA mode 1: each started range is executed by the processor, register
  // write by register write, through the window.
  pdev_->sharedLocked->dmaMode = kDmaModeEmulate;
  engine_->ClearWrites();
  DDXPointRec points[4] = {{3, 10}, {2, 11}, {4, 12}, {1, 13}};
  int widths[4] = {5, 6, 2, 8};
  KstrnXAAFillSolidSpans(scrn_, 0x31, GXcopy, 0xFFFFFFFF, 4, points, widths, 1);
  EXPECT_TRUE(engine_->Writes().empty()) << "nothing went through the DMA engine";
  for (int i = 0; i < 4; ++i)
    for (int x = 0; x < 12; ++x) {
      const bool on = x >= points[i].x && x < points[i].x + widths[i];
      EXPECT_EQ(PrimaryPixel(x, points[i].y), on ? 0x31u : 0u) << x << "," << points[i].y;
    }
}

TEST_F(XaaSetup, SpansClippedToXaasClipBoxStopBeforeItsRightEdge) {
  Init();
  xstub::XaaFront front(screen_);
  xstub::XaaGC gc;
  gc.fg = 0x99;
  gc.clip = {BoxRec{10, 0, 20, 50}};
  front.FillSpans(gc, {DDXPointRec{5, 4}, DDXPointRec{15, 5}, DDXPointRec{0, 6}}, {30, 10, 25}, true);
  for (int y = 4; y <= 6; ++y)
    for (int x = 0; x < 32; ++x) {
      const int start = y == 4 ? 5 : (y == 5 ? 15 : 0), end = y == 4 ? 35 : (y == 5 ? 25 : 25);
      const bool on = x >= start && x < end && x >= 10 && x < 20;
      EXPECT_EQ(PrimaryPixel(x, y), on ? 0x99u : 0u) << x << "," << y;
    }
  EXPECT_EQ(KstrnXaaDataOf(scrn_)->clipping, 0) << "the clip is off again";
}

}  // namespace
