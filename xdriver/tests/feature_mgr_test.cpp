// The feature manager and display processing on a mode-0 board: what the
// kernel module is asked for, what the TV picture's sequence writes when
// the module runs it at a vertical sync, the back buffers and the flips.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/mm_surface_manager.h"
#include "core/orv_ioctl.h"
#include "core/regs/display.h"
#include "core/regs/engine3d.h"
#include "platform/board/chip_raster.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/tests/features_fixture.h"

namespace {

using dpsgolden::Bits;
using dpsgolden::Pairs;
using featuretest::FeatureBoardTest;
using featuretest::kDefaultProcamp;
using featuretest::kPlainProcamp;
using xstub::VSyncRequest;

uint32_t DpsIdentity(PDEV* pdev) {
  return pdev->featureMgr->xformInterfaces[kFeatureDpsInterface]->InterruptIdentity();
}

TEST_F(FeatureBoardTest, SecondDeviceSharesTheBoardsManager) {
  coretest::Head& first = Construct(0);
  ASSERT_EQ(first.ok, 1);
  CFeatureMgr* manager = first.pdev->featureMgr;
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(first.pdev->common->featureMgr, manager);
  coretest::Head& second = Construct(1);
  ASSERT_EQ(second.ok, 1);
  EXPECT_EQ(second.pdev->featureMgr, manager);
  delete second.pdev;
  second.pdev = nullptr;
  EXPECT_EQ(first.pdev->common->featureMgr, manager) << "the first device still holds it";
  EXPECT_EQ(manager->flags, 0u) << "every feature starts off";
}

TEST_F(FeatureBoardTest, ProcampValuesAreClampedToTheirRanges) {
  PDEV* pdev = Construct(0).pdev;
  pdev->featureMgr->procamp = SProcampValues{{30, -5, 2, 25000, 0, 200, -1}};
  SProcampValues out;
  ASSERT_TRUE(GetProcampValues(pdev, kProcampKindDisplayProcessing, &out));
  const SProcampValues expected = {{25, 0, 1, 20000, 1, 180, 0}};
  for (unsigned i = 0; i < kProcampCount; ++i) EXPECT_EQ(out.value[i], expected.value[i]) << i;
  EXPECT_EQ(pdev->featureMgr->procamp.value[0], 30) << "the manager keeps what it was given";
  for (int kind : {0, 5}) {
    EXPECT_FALSE(GetProcampValues(pdev, kind, &out)) << kind;
    EXPECT_EQ(out.value[1], 0) << "the result is cleared";
  }
  EXPECT_FALSE(GetProcampValues(nullptr, 2, &out));
  EXPECT_EQ(SetProcampValues(), 0u);
}

TEST(FeatureInterrupt, LowestRequesterBitChoosesWithBitTwoBeforeBitThree) {
  const struct { uint32_t requester, interrupt; } cases[] = {
      {0, 0}, {1, 0}, {3, 0}, {2, 1}, {6, 1}, {4, 3}, {8, 2}, {12, 3},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CFeatureMgr::GetInterruptFromRequester(c.requester), c.interrupt) << c.requester;
}

TEST_F(FeatureBoardTest, DestinationResolutionFollowsTheTvStandard) {
  PDEV* pdev = Construct(0).pdev;
  CFeatureMgr* f = pdev->featureMgr;
  const struct { uint32_t flags, standard; LSIZE size; } cases[] = {
      {0, 1, {640, 480}}, {1, 1, {720, 484}}, {2, 0, {720, 576}}, {1, 2, {720, 576}},
  };
  for (const auto& c : cases) {
    f->flags = c.flags;
    f->tvStandard = c.standard;
    LSIZE size = {};
    EXPECT_TRUE(f->GetDstResolution(pdev, size, 0));
    EXPECT_EQ(size.width, c.size.width) << c.flags << "/" << c.standard;
    EXPECT_EQ(size.height, c.size.height) << c.flags << "/" << c.standard;
  }
}

// The whole TV path: the feature start asks for the display-processing
// interrupt, draws one TV picture into back buffer 1 and flips controller 0
// to it; the kernel module runs the picture's sequence at the vertical sync.
TEST_F(FeatureBoardTest, TvPictureIsDrawnAtTheVerticalSyncAndFlipped) {
  PDEV* pdev = Started(0, 640, 480);
  WantTv(pdev, 0, 0);
  ASSERT_TRUE(SetUpFeatures(pdev));
  CFeatureMgr* f = pdev->featureMgr;
  ASSERT_NE(f->manager, nullptr);
  const uint32_t id = DpsIdentity(pdev);
  kernel_.ClearCalls();
  board_->ClearLog();
  TakeWrites();

  ASSERT_TRUE(f->Enable(pdev));
  const uint32_t tag = pdev->sharedLocked->syncTagCounter;
  EXPECT_EQ(kernel_.VSyncRequests(), (std::vector<VSyncRequest>{{2, 0, 0, id}, {2, 0, 1, id}}));
  CDPSManager* m = f->manager;
  EXPECT_EQ(pdev->common->activeDpsManager, m);
  EXPECT_EQ(m->outputType, kDpsOutputTv576);
  // 640 x 480 fitted into the 720 x 576 frame: 540 lines, 18 above and below.
  const LRECT v = m->backBuffers.buffers[1].viewport;
  EXPECT_EQ((std::vector<int32_t>{v.left, v.top, v.right, v.bottom}),
            (std::vector<int32_t>{0, 18, 720, 558}));
  EXPECT_EQ(pdev->data2d.bracket.lockDrawing, 1);
  EXPECT_EQ(pdev->data2d.bracket.preDraw & 0x8, 0x8u);
  EXPECT_EQ(pdev->data2d.bracket.postDraw & 0x8, 0x8u);

  // The back buffer was cleared to YCbCr black through the primary stream.
  CDPSSurface& target = m->backBuffers.buffers[1];
  const uint8_t* pixels = board_->LocalMemory() + (target.destination.address & ~3u);
  uint32_t corner;
  std::memcpy(&corner, pixels + (575 * 736 + 719) * 4, 4);
  EXPECT_EQ(corner, 0x108080u);

  // Controller 0 shows buffer 1: both fields, the second at address ^ 4.
  std::vector<std::pair<uint32_t, uint32_t>> flips;
  for (const auto& a : board_->LoggedWrites()) {
    if (a.offset >= 0x1800 && a.offset < 0x1900) flips.push_back({a.offset, a.value});
  }
  const uint32_t shown = target.displayAddress | 4;
  EXPECT_EQ(flips, (std::vector<std::pair<uint32_t, uint32_t>>{
                       {0x1800, 0}, {0x1834, 0x3B0302E0}, {0x1824, shown}, {0x1828, shown ^ 4}, {0x1800, 0}}));

  // At the vertical sync the module runs the picture's sequence.
  TakeWrites();
  EXPECT_EQ(kernel_.VerticalSync(1), 0u) << "another interrupt runs nothing";
  ASSERT_EQ(kernel_.VerticalSync(0), 1u);
  const CDPSSurface& desktop = m->desktopSource;
  EXPECT_EQ(desktop.texture.address, pdev->data2d.Primary().addressWord) << "the desktop is the primary";
  Pairs expected = {{0x1300, 0x1410CC}, {0x1220, target.texture.address}, {0x1224, 0x320202E0},
                    {0x12C0, 0xFFFFFFFF}, {0x12C4, 0x7FFFFFFF}, {0x12E8, 0}, {0x12C8, 0},
                    {0x12FC, 0}, {0x12E4, 0}, {0x1324, 0xFFFFFFFF}};
  const Pairs shader = dpsgolden::DefaultShader();
  expected.insert(expected.end(), shader.begin(), shader.end());
  const Pairs units = {{0x1200, 0x40101}, {0x11C0, 0x12}, {0x11C4, 585}, {0x11C8, 0},
                       {0x11CC, 0xFFFFFFFF}, {0x11D0, 0}, {0x11D4, 0}, {0x11D8, 0},
                       {0x11DC, desktop.texture.address}, {0x11E0, 0x32020280}, {0x11E4, 0x101E0},
                       {0x1204, 0x10002}, {0x1208, 0x10004}, {0x120C, 0x10008}};
  expected.insert(expected.end(), units.begin(), units.end());
  const float ih = 640.0f / 720.0f, iv = 480.0f / 540.0f;
  const uint32_t s0 = Bits((0 + ih / 2) / 640), s1 = Bits((640 + ih / 2) / 640);
  const uint32_t t0 = Bits((0 + iv / 2) / 480), t1 = Bits((480 + iv / 2) / 480);
  const Pairs corners = {
      {0x1160, 0}, {0x1174, 0}, {0x1178, t0}, {0x118C, s0},
      {0x1164, 0}, {0x1174, 0}, {0x1178, t0}, {0x118C, s1},
      {0x1168, 0}, {0x1174, 0}, {0x1178, t1}, {0x118C, s0},
      {0x1160, Bits(1)}, {0x1174, 0}, {0x1178, Bits(18)}, {0x1180, Bits(0)},
      {0x1164, Bits(1)}, {0x1174, 0}, {0x1178, Bits(18)}, {0x1180, Bits(720)},
      {0x1168, Bits(1)}, {0x1174, 0}, {0x117C, Bits(558)}, {0x1180, Bits(0)},
      {0x1300, 0x307}, {0x12BC, tag}, {0x12BC, tag}};
  expected.insert(expected.end(), corners.begin(), corners.end());
  EXPECT_EQ(AsPairs(TakeWrites()), expected);
  EXPECT_TRUE(engine_->DecodeErrors().empty());

  // The stop: the interrupt off, the resources given back, the engine
  // drained, the 2D context to be re-established.
  kernel_.ClearCalls();
  ASSERT_TRUE(f->Disable(pdev));
  EXPECT_EQ(kernel_.VSyncRequests().back(), (VSyncRequest{2, 0, 0, id}));
  EXPECT_TRUE(kernel_.ActiveVSyncRequests().empty());
  EXPECT_EQ(kernel_.CallsTo(0x1b).size(), 1u) << "the drain's sync packet";
  EXPECT_EQ(pdev->sharedLocked->completedTag & ~7u, pdev->sharedLocked->syncTagCounter);
  EXPECT_EQ(pdev->common->activeDpsManager, nullptr);
  EXPECT_EQ(pdev->data2d.bracket.postDraw & 0x8, 0u);
  EXPECT_EQ(pdev->data2d.bracket.preDraw & 0x4, 0x4u);
  EXPECT_EQ(m->backBuffers.createdCount, 0u);
}

TEST_F(FeatureBoardTest, AntiFlickerDrawsWithThreeUnitsAndTenStages) {
  PDEV* pdev = Started(0, 640, 480);
  WantTv(pdev, 0, 1, kDefaultProcamp);
  ASSERT_TRUE(SetUpFeatures(pdev));
  ASSERT_TRUE(pdev->featureMgr->Enable(pdev));
  TakeWrites();
  ASSERT_EQ(kernel_.VerticalSync(0), 1u);
  const Pairs written = AsPairs(TakeWrites());
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.front(), (std::pair<uint32_t, uint32_t>{0x1300, 0x1C70CC}));
  int stages = 0, units = 0;
  for (const auto& [reg, value] : written) {
    stages += reg == k3dRegStageControl;
    units += reg == k3dRegTexFilter;
  }
  EXPECT_EQ(stages, 10);
  EXPECT_EQ(units, 3);
  EXPECT_EQ(pdev->featureMgr->manager->outputType, kDpsOutputTv484);
}

// The board's device objects are flagged when its first manager starts and
// cleared when its last one stops, never in between.
TEST_F(FeatureBoardTest, StateChangesFlagTheBoardsDevicesOnTheFirstOnAndTheLastOff) {
  PDEV* heads[2] = {Started(0), Started(1)};
  auto flagged = [&](int i) {
    const PreDrawPostDraw& b = heads[i]->data2d.bracket;
    return std::pair<bool, bool>{(b.preDraw & kDrawFlagsDisplayProcessing) != 0,
                                 (b.postDraw & kDrawFlagsDisplayProcessing) != 0};
  };
  const std::pair<bool, bool> on{true, true}, off{false, false};
  EXPECT_TRUE(DPS_StateChangeNotify(heads[0], 1));
  EXPECT_EQ(flagged(0), on);
  EXPECT_EQ(flagged(1), on) << "every device of the board";
  // A second manager on: no walk (a flag cleared meanwhile stays clear).
  heads[1]->data2d.bracket.preDraw &= ~kDrawFlagsDisplayProcessing;
  heads[1]->data2d.bracket.postDraw &= ~kDrawFlagsDisplayProcessing;
  EXPECT_TRUE(DPS_StateChangeNotify(heads[1], 1));
  EXPECT_EQ(flagged(1), off);
  // One of two off: the flags stay; the last off clears them.
  EXPECT_TRUE(DPS_StateChangeNotify(heads[0], 0));
  EXPECT_EQ(flagged(0), on);
  EXPECT_TRUE(DPS_StateChangeNotify(heads[1], 0));
  EXPECT_EQ(flagged(0), off);
  // An off too many keeps the count at zero: the next on flags again.
  EXPECT_TRUE(DPS_StateChangeNotify(heads[0], 0));
  EXPECT_TRUE(DPS_StateChangeNotify(heads[0], 1));
  EXPECT_EQ(flagged(1), on);
  EXPECT_TRUE(DPS_StateChangeNotify(heads[0], 0));
}

TEST_F(FeatureBoardTest, ControllersZeroOneAndThreeRaiseInterruptsZeroOneAndTwo) {
  PDEV* pdev = Started(0, 640, 480);
  const struct { uint32_t controller; bool ok; uint32_t interrupt; } cases[] = {
      {0, true, 0}, {1, true, 1}, {3, true, 2}, {2, false, 0},
  };
  for (const auto& c : cases) {
    WantTv(pdev, c.controller, 0);
    ASSERT_TRUE(SetUpFeatures(pdev)) << c.controller;
    const uint32_t id = DpsIdentity(pdev);
    kernel_.ClearCalls();
    const size_t before = kernel_.VSyncRequests().size();
    EXPECT_EQ(pdev->featureMgr->Enable(pdev), c.ok) << c.controller;
    const std::vector<VSyncRequest> all = kernel_.VSyncRequests();
    const std::vector<VSyncRequest> sent(all.begin() + static_cast<long>(before), all.end());
    if (c.ok) {
      ASSERT_EQ(sent.size(), 2u) << c.controller;
      EXPECT_EQ(sent[1], (VSyncRequest{2, c.interrupt, 1, id})) << c.controller;
      pdev->featureMgr->Disable(pdev);
    } else {
      EXPECT_TRUE(sent.empty()) << "controller 2 has no interrupt";
      EXPECT_EQ(pdev->common->activeDpsManager, nullptr) << "the failed start was undone";
    }
    pdev->featureMgr->Cleanup(pdev);
  }
  setUp_.clear();
}

TEST_F(FeatureBoardTest, DestinationLargerThanTheBackBuffersIsRefused) {
  PDEV* pdev = Started(0, 640, 480);
  const struct { LRECT dst; bool ok; } cases[] = {
      {{0, 0, 720, 576}, true}, {{0, 0, 721, 576}, false}, {{0, 0, 720, 577}, false},
  };
  for (const auto& c : cases) {
    WantTv(pdev, 0, 0);
    pdev->featureMgr->dstRect = c.dst;
    ASSERT_TRUE(SetUpFeatures(pdev));
    EXPECT_EQ(pdev->featureMgr->Enable(pdev), c.ok) << c.dst.right << "x" << c.dst.bottom;
    if (c.ok) pdev->featureMgr->Disable(pdev);
    EXPECT_TRUE(kernel_.ActiveVSyncRequests().empty());
    pdev->featureMgr->Cleanup(pdev);
  }
  setUp_.clear();
}

TEST_F(FeatureBoardTest, EqualViewportsDrawWithoutFiltering) {
  PDEV* pdev = Started(0, 720, 576);
  WantTv(pdev, 0, 0);
  ASSERT_TRUE(SetUpFeatures(pdev));
  ASSERT_TRUE(pdev->featureMgr->Enable(pdev));
  CDPSManager* m = pdev->featureMgr->manager;
  EXPECT_EQ(m->filteringOn, 1u);
  EXPECT_EQ(m->backBuffers.filtering, kDpsFilterNone);
  EXPECT_EQ(m->backBuffers.textureEngine.units[0].filter, 0u);
}

TEST_F(FeatureBoardTest, WithoutTvTheOutputTypeIsRgbAndNothingIsAllocated) {
  PDEV* pdev = Started(0);
  ASSERT_TRUE(SetUpFeatures(pdev));
  CFeatureMgr* f = pdev->featureMgr;
  EXPECT_EQ(f->manager, nullptr);
  EXPECT_EQ(f->xformInterfaces[kFeatureDpsInterface], nullptr);
  ASSERT_TRUE(f->Enable(pdev));
  EXPECT_TRUE(kernel_.VSyncRequests().empty());
  // The manager's own steps give the RGB type for a manager made by hand.
  CDPSManager* m = nullptr;
  ASSERT_TRUE(CDPSManager::AllocateDPSManager(pdev->common, &m));
  m->desktopSource.Init(pdev, {640, 480}, 32, kDpsSurfaceDesktop);
  EXPECT_TRUE(f->DesktopPreScaleInit(m));
  EXPECT_EQ(m->outputType, kDpsOutputRgb);
  EXPECT_TRUE(CDPSManager::FreeDPSManager(pdev->common, m));
}

TEST_F(FeatureBoardTest, PivotAsksForItsInterruptAndTheStopDrains) {
  PDEV* pdev = Started(0, 1024, 768, kPdevRotateCW);
  pdev->requester = 12;
  ASSERT_TRUE(SetUpFeatures(pdev));
  CFeatureMgr* f = pdev->featureMgr;
  ASSERT_NE(f->xformInterfaces[0], nullptr);
  const uint32_t id = f->xformInterfaces[0]->InterruptIdentity();
  ASSERT_TRUE(f->Enable(pdev));
  EXPECT_EQ(kernel_.VSyncRequests(), (std::vector<VSyncRequest>{{0x10000000, 3, 1, id}}));
  EXPECT_EQ(pdev->data2d.bracket.lockDrawing, 1);
  kernel_.ClearCalls();
  ASSERT_TRUE(f->Disable(pdev));
  EXPECT_EQ(kernel_.VSyncRequests().back(), (VSyncRequest{0x10000000, 3, 0, id}));
  EXPECT_EQ(kernel_.CallsTo(0x1b).size(), 1u);
  EXPECT_EQ(pdev->sharedLocked->completedTag & ~7u, pdev->sharedLocked->syncTagCounter);
}

TEST_F(FeatureBoardTest, ScalerWithoutASourceDrawsNothing) {
  PDEV* pdev = Started(0, 640, 480);
  WantTv(pdev, 0, 0);
  ASSERT_TRUE(SetUpFeatures(pdev));
  ASSERT_TRUE(pdev->featureMgr->Enable(pdev));
  CDPSManager* m = pdev->featureMgr->manager;
  const SharedPendingSlot before = pdev->sharedLocked->pendingSlots[DpsIdentity(pdev)];
  for (EDPSScalerID id : {0u, 6u, 100u}) {
    board_->ClearLog();
    EXPECT_EQ(m->Scale(pdev, id), 0u) << id;
    const SharedPendingSlot& after = pdev->sharedLocked->pendingSlots[DpsIdentity(pdev)];
    EXPECT_EQ(after.busEnd, before.busEnd) << id;
    EXPECT_TRUE(board_->LoggedWrites().empty()) << "no flip for scaler " << id;
    EXPECT_EQ(m->backBuffers.locks[1], 0u);
  }
}

// The scale runs under the command lock of whoever holds it; it neither
// clears nor keeps another holder's lock.
TEST_F(FeatureBoardTest, ScaleLeavesTheCommandLockToItsHolder) {
  PDEV* pdev = Started(0, 640, 480);
  WantTv(pdev, 0, 0);
  ASSERT_TRUE(SetUpFeatures(pdev));
  ASSERT_TRUE(pdev->featureMgr->Enable(pdev));
  SharedLockedData_t* shared = pdev->sharedLocked;
  ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
  const int32_t depth = shared->commandLockDepth;
  EXPECT_EQ(pdev->featureMgr->manager->Scale(pdev, kDpsScalerStart), 0u);
  EXPECT_EQ(shared->commandLock, 1);
  EXPECT_EQ(shared->commandLockDepth, depth);
  EXPECT_EQ(kernel_.VerticalSync(0), 0u) << "the module leaves its work while the lock is held";
  EXPECT_EQ(kernel_.SkippedVerticalSyncs(), 1u);
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
  EXPECT_EQ(shared->commandLock, 0);
  EXPECT_EQ(kernel_.VerticalSync(0), 1u);
}

// The engine still runs display processing posted before the stop: the
// back buffers and the pre-scale surface are set aside until the device goes, not given back to the
// module; once the engine has drained, they go back at once.
class DisplayProcessingStop : public FeatureBoardTest {
 protected:
  void Stop(bool stalled) {
    PDEV* pdev = Started(0, 640, 480);
    WantTv(pdev, 0, 0);
    ASSERT_TRUE(SetUpFeatures(pdev));
    ASSERT_TRUE(pdev->featureMgr->Enable(pdev));
    CDPSManager* m = pdev->featureMgr->manager;
    ASSERT_NE(m, nullptr);
    size_t created = 0;
    for (const CDPSSurface& b : m->backBuffers.buffers) created += b.created ? 1 : 0;
    ASSERT_GT(created, 0u);
    created += m->preScaleSurface.created ? 1 : 0;
    MmSurfaceManager* manager = pdev->surfaceManager;
    const size_t before = manager->SetAsideCount();
    if (stalled) {
      kernel_.SetAnswer(0x1b, 0);  // posts accepted, never run
      SharedLockedData_t* shared = pdev->sharedLocked;
      ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
      ASSERT_NE(Sync2dWritePacket(pdev->primInt), 0u);
      ASSERT_TRUE(pdev->primInt->Start());
      BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
    }
    EXPECT_EQ(pdev->featureMgr->Disable(pdev), !stalled);
    EXPECT_EQ(manager->SetAsideCount(), before + (stalled ? created : 0))
        << "back buffers given back while the engine may still use them";
    EXPECT_FALSE(manager->setAsideFrees) << "later frees go to the heaps again";
  }
};

TEST_F(DisplayProcessingStop, AStalledEngineKeepsTheBackBuffersSetAside) { Stop(true); }
TEST_F(DisplayProcessingStop, ADrainedEngineLetsTheBackBuffersGo) { Stop(false); }

// Surfaces of display processing placed by hand, with the board's hardware
// manager and the display-processing interface.
class DpsSurfaceTest : public FeatureBoardTest {
 protected:
  void SetUp() override {
    FeatureBoardTest::SetUp();
    pdev_ = Started(0);
    CFeatureMgr* f = pdev_->featureMgr;
    f->xformInterfaces[kFeatureDpsInterface] =
        BmXformMgr::AllocateInterface(pdev_->common, 0, kXformKindDisplayProcessing);
    ASSERT_NE(f->xformInterfaces[kFeatureDpsInterface], nullptr);
    ASSERT_TRUE(InitHwManager(pdev_));
  }
  void TearDown() override {
    for (CDPSSurface* s : {&a_, &b_}) s->Destroy(pdev_);
    CleanupHwManager(pdev_);
    BmXformMgr::FreeInterface(pdev_->common, &pdev_->featureMgr->xformInterfaces[kFeatureDpsInterface]);
    FeatureBoardTest::TearDown();
  }
  void Place(CDPSSurface& s, LSIZE size, uint32_t kind) {
    s.hw = &hw_;
    ASSERT_TRUE(s.Init(pdev_, size, kind, kDpsSurfaceBackBuffer));
    ASSERT_TRUE(s.Create(pdev_));
  }
  uint8_t* Pixels(const CDPSSurface& s) { return board_->LocalMemory() + (s.destination.address & ~3u); }

  PDEV* pdev_ = nullptr;
  CDPSHwManager hw_{nullptr};
  CDPSSurface a_, b_;
};

TEST_F(DpsSurfaceTest, FillGoesOutOnThePrimaryStreamAtTheKindsWidth) {
  const struct { uint32_t kind, value, foreground, format; } cases[] = {
      {kDpsKindYCbCr, 0x108080, 0x108080, 59},
      {8, 0xAB, 0xABABABAB, 16},
      {16, 0x1234, 0x12341234, 32},
  };
  for (const auto& c : cases) {
    CDPSSurface s;
    Place(s, {64, 16}, c.kind);
    TakeWrites();
    ASSERT_TRUE(BmAcquireCommandLock(pdev_->sharedLocked, kCmdLockOwnerXDriver));
    ASSERT_TRUE(s.Fill(pdev_->hwManager, {4, 2, 36, 10}, c.value));
    BmReleaseCommandLock(pdev_->sharedLocked, kCmdLockOwnerXDriver);
    const uint32_t mode = 64 | 3u << 16 | c.format << 24;
    EXPECT_EQ(AsPairs(TakeWrites()), (Pairs{{0x1228, s.destination.address}, {0x122C, mode},
                                            {0x1300, 0x5C0}, {0x1314, c.foreground}, {0x1304, 0},
                                            {0x1308, 2u << 16 | 4}, {0x138C, 8u << 16 | 32}}))
        << c.kind;
    s.Destroy(pdev_);
  }
  // Clear: the whole surface, black in YCbCr.
  Place(a_, {64, 16}, kDpsKindYCbCr);
  ASSERT_TRUE(BmAcquireCommandLock(pdev_->sharedLocked, kCmdLockOwnerXDriver));
  ASSERT_TRUE(a_.Clear(pdev_->hwManager, 0));
  BmReleaseCommandLock(pdev_->sharedLocked, kCmdLockOwnerXDriver);
  EXPECT_EQ(a_.needsClear, 0u);
  for (uint32_t i = 0; i < 64 * 16; ++i) {
    uint32_t v;
    std::memcpy(&v, Pixels(a_) + 4 * i, 4);
    ASSERT_EQ(v, 0x108080u) << i;
  }
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(DpsSurfaceTest, BlitCopiesTheViewportsAtTheVerticalSync) {
  Place(a_, {64, 32}, 32);
  Place(b_, {64, 32}, 32);
  for (uint32_t i = 0; i < 64 * 32; ++i) std::memcpy(Pixels(a_) + 4 * i, &i, 4);
  a_.SetViewport({8, 4, 40, 20});
  b_.SetViewport({16, 2, 48, 18});
  BmXformInt* xform = pdev_->featureMgr->xformInterfaces[kFeatureDpsInterface];
  ASSERT_TRUE(xform->BeginCmd());
  ASSERT_TRUE(b_.Blit(pdev_->hwManager, &a_));
  ASSERT_TRUE(xform->EndCmd());
  OrvVSyncStateRequest on = {{kVSyncFlagDisplayProcessing, 1, 1, xform->InterruptIdentity()}};
  ASSERT_TRUE(OsSetVSyncInterruptState(pdev_->device, &on));
  TakeWrites();
  ASSERT_EQ(kernel_.VerticalSync(1), 1u);
  const uint32_t mode = 64 | 3u << 16 | 48u << 24;
  EXPECT_EQ(AsPairs(TakeWrites()),
            (Pairs{{0x1220, a_.destination.address}, {0x1224, mode}, {0x1228, b_.destination.address},
                   {0x122C, mode}, {0x1300, 0x4C2}, {0x1308, 2u << 16 | 16}, {0x1304, 4u << 16 | 8},
                   {0x138C, 16u << 16 | 32}}));
  for (uint32_t y = 0; y < 16; ++y) {
    for (uint32_t x = 0; x < 32; ++x) {
      uint32_t v;
      std::memcpy(&v, Pixels(b_) + 4 * ((2 + y) * 64 + 16 + x), 4);
      ASSERT_EQ(v, (4 + y) * 64 + 8 + x) << x << "," << y;
    }
  }
  // Again at the next sync: the module runs the same sequence each time.
  EXPECT_EQ(kernel_.VerticalSync(1), 1u);
  EXPECT_EQ(TakeWrites().size(), 8u);
}

// Flips: controllers 0 and 1 through 0x1800, 2 and 3 through 0x15A8, each
// 512 bytes on.
TEST_F(FeatureBoardTest, FlipWritesTheControllersRegistersAroundTheSync) {
  PDEV* pdev = Construct(0).pdev;
  const struct { uint32_t c, control, controlValue, format, address, address2; bool second; uint32_t off, on; } cases[] = {
      {1, 0x1A00, 0x1C1, 0x1A34, 0x1A24, 0x1A28, true, 0x000, 0x001},
      {0, 0x1800, 0x0F1, 0x1834, 0x1824, 0x1828, false, 0x030, 0x031},
      {2, 0x19A8, 0x701, 0x19D8, 0x19C8, 0x19CC, true, 0x2000, 0x2001},
      {3, 0x1BA8, 0x2701, 0x1BD8, 0x1BC8, 0x1BCC, false, 0x0000, 0x0001},
  };
  for (const auto& c : cases) {
    board_->Poke(c.control, 4, c.controlValue);
    board_->ClearLog();
    DisplayBufferInfo info;
    info.format = 0x3B0302E0;
    info.address = 0x2400004;
    info.secondField = c.second ? 1 : 0;
    EXPECT_EQ(DisplayIndexController::ChangeDisplayedBuffer(pdev, c.c, &info), 0u);
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    for (const auto& a : board_->LoggedWrites()) writes.push_back({a.offset, a.value});
    std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {c.control, c.off}, {c.format, 0x3B0302E0}, {c.address, 0x2400004}};
    if (c.second) expected.push_back({c.address2, 0x2400000});
    expected.push_back({c.control, c.on});
    EXPECT_EQ(writes, expected) << "controller " << c.c;
  }
}

TEST_F(FeatureBoardTest, VerticalSyncWaitGivesUpAfterTenThousandPolls) {
  PDEV* pdev = Construct(0).pdev;
  // Without a raster the counter and the field bit never move: every loop
  // runs out.
  for (uint32_t c : {0u, 2u}) {
    board_->ClearLog();
    EXPECT_TRUE(DisplayIndexController::WaitForVsync(pdev, c)) << c;
    size_t reads = 0;
    for (const auto& a : board_->Log()) reads += a.op == orvsim::RegOp::kRead;
    EXPECT_EQ(reads, c < 2 ? 1u + 1u + 10000u : 1u + 10000u) << c;
  }
}

// On the board's raster (640 x 480, sync from line 490), made fast enough
// that a frame passes within the polls: controllers 0 and 1 wait for the
// first line of the sync, 2 and 3 for the next field.
TEST_F(FeatureBoardTest, VerticalSyncWaitEndsAtTheSyncOfTheRaster) {
  PDEV* pdev = Construct(0).pdev;
  orvsim::ChipRaster raster(*board_);
  for (unsigned m : {0u, 1u}) {
    orvsim::ChipRaster::PowerOnTiming(*board_, m);
    board_->RegWrite(orvsim::kChipRegControl + 0x200 * m, 4, 1);  // the module's first controller runs
    raster.SetLineTimeNs(m, 2000);  // a line every few reads
  }
  for (uint32_t c : {0u, 1u}) {
    EXPECT_FALSE(DisplayIndexController::WaitForVsync(pdev, c)) << c;
    EXPECT_TRUE(raster.InVerticalSync(c)) << "controller " << c << " at line " << raster.Line(c);
  }
  for (uint32_t c : {2u, 3u}) {
    const uint64_t frame = raster.Frame(c - 2);
    EXPECT_FALSE(DisplayIndexController::WaitForVsync(pdev, c)) << c;
    EXPECT_EQ(raster.Frame(c - 2), frame + 1) << "controller " << c;
  }
}

}  // namespace
