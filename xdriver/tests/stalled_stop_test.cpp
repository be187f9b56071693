// A device stop whose wait for the engine runs out: the engine may still
// read every surface it was given, so what the stop gives up is set aside
// by the memory manager (never handed out again, never written) and goes
// back only when the device goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/mm_surface_manager.h"
#include "core/pdev.h"
#include "platform/xserver/xaa.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/orv_rec.h"
#include "xdriver/pointer.h"
#include "xdriver/tests/screen_fixture.h"
#include "xdriver/tests/twod_fixture.h"
#include "xdriver/tests/video_machine.h"

namespace {

// A placed block of the local-DMA manager: where it lies in its heap.
struct Placed {
  uint32_t offset;
  uint32_t bytes;
  MmSurfAllocOpt options;
  bool operator==(const Placed& o) const { return offset == o.offset && bytes == o.bytes; }
};

bool Overlap(const Placed& a, uint32_t offset, uint32_t bytes) {
  return a.offset < offset + bytes && offset < a.offset + a.bytes;
}

class StalledStop : public twodtest::Local2dTest {
 protected:
  // The blocks of every surface the manager holds now.
  static std::vector<Placed> LiveBlocks(MmSurfaceManager* m) {
    std::vector<Placed> out;
    for (MmSurface* s = m->surfaceList->next; s != m->surfaceList; s = s->next) {
      if (s->block == nullptr) continue;
      const uint32_t bytes = std::max<uint32_t>(static_cast<uint32_t>(s->block->size), s->options.physicalSize);
      out.push_back({static_cast<uint32_t>(s->block->offset), bytes, s->options});
    }
    return out;
  }

  static size_t HeapBlocks(EmulMmSurfaceManager* m) {
    size_t n = 0;
    for (const MemoryHeap& h : m->heaps) n += h.BlockCount();
    return n;
  }

  // A drawing whose sync tag the engine never reaches.
  void StallTheEngine(PDEV* pdev) {
    engine_->SetLatencyReads(UINT_MAX);
    SharedLockedData_t* shared = pdev->sharedLocked;
    ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
    ASSERT_NE(Sync2dWritePacket(pdev->primInt), 0u);
    ASSERT_TRUE(pdev->primInt->Start());
    BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
  }

  size_t ErrorLines() const {
    size_t n = 0;
    for (const auto& m : box_.Messages())
      if (m.text.find("*ERROR*") != std::string::npos) ++n;
    return n;
  }
};

TEST_F(StalledStop, SetsAsideWhatTheEngineMayStillReadUntilTheDeviceGoes) {
  PDEV* pdev = Head(0);
  pdev->bindingFlags |= kXformWord8to10;  // the drawn bitmap and the transform's surfaces too
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  auto* manager = static_cast<EmulMmSurfaceManager*>(pdev->surfaceManager);
  const std::vector<Placed> before = LiveBlocks(manager);
  const size_t heapBlocks = HeapBlocks(manager);

  // What the engine reads: a pattern in every block inside the board.
  uint8_t* local = board_->LocalMemory();
  const uint64_t localBytes = board_->LocalMemorySize();
  auto pattern = [](uint32_t offset) { return static_cast<uint8_t>(0xA5 ^ (offset >> 12)); };
  for (const Placed& p : before)
    if (p.offset + uint64_t{p.bytes} <= localBytes) std::memset(local + p.offset, pattern(p.offset), p.bytes);

  StallTheEngine(pdev);
  board_->SetLogging(false, false);
  box_.ClearMessages();
  EXPECT_EQ(KstrnStopDevice(pdev), kKstrnKernelRefused);
  EXPECT_GE(ErrorLines(), 1u) << box_.LogText();

  // The stop gave up the cursor buffer, the scratch buffers and the
  // transform's surfaces: set aside, their heap blocks still taken.
  const std::vector<Placed> after = LiveBlocks(manager);
  std::vector<Placed> givenUp;
  for (const Placed& p : before)
    if (std::find(after.begin(), after.end(), p) == after.end()) givenUp.push_back(p);
  ASSERT_FALSE(givenUp.empty());
  EXPECT_EQ(manager->SetAsideCount(), givenUp.size());
  EXPECT_EQ(HeapBlocks(manager), heapBlocks) << "nothing went back to a heap";

  // New surfaces of the same kinds never land on set-aside memory, and
  // what their owners write leaves it as the engine last saw it.
  std::vector<std::pair<MmBlock*, MmSurfAllocOpt>> taken;
  for (const Placed& kind : givenUp) {
    for (int i = 0; i < 4096; ++i) {
      MmBlock* b = manager->AllocateSurfaceBlock(kind.options);
      if (b == nullptr) break;
      taken.emplace_back(b, kind.options);
      const uint32_t bytes = std::max<uint32_t>(static_cast<uint32_t>(b->size), kind.options.physicalSize);
      for (const Placed& aside : givenUp)
        EXPECT_FALSE(Overlap(aside, static_cast<uint32_t>(b->offset), bytes))
            << "block at 0x" << std::hex << b->offset << " handed out over set-aside 0x" << aside.offset;
      if (b->offset + uint64_t{bytes} <= localBytes) std::memset(local + b->offset, 0xEE, bytes);
    }
  }
  EXPECT_FALSE(taken.empty());
  for (const Placed& aside : givenUp) {
    if (aside.offset + uint64_t{aside.bytes} > localBytes) continue;
    const uint8_t* at = local + aside.offset;
    EXPECT_TRUE(std::all_of(at, at + aside.bytes, [&](uint8_t v) { return v == pattern(aside.offset); }))
        << "set-aside block at 0x" << std::hex << aside.offset << " was written";
  }
  for (auto& [b, options] : taken) manager->FreeSurfaceBlock(b, options);

  // The engine goes on; set-aside memory stays out of use until the device
  // goes, then returns to its heap.
  engine_->SetLatencyReads(0);
  engine_->RunPending();
  EXPECT_EQ(manager->SetAsideCount(), givenUp.size());
  manager->ReleaseSetAside();
  EXPECT_EQ(manager->SetAsideCount(), 0u);
  EXPECT_EQ(HeapBlocks(manager), heapBlocks - givenUp.size());
}

TEST_F(StalledStop, AStopThatEndsInTimeFreesAtOnce) {
  PDEV* pdev = Head(0);
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  auto* manager = static_cast<EmulMmSurfaceManager*>(pdev->surfaceManager);
  const size_t heapBlocks = HeapBlocks(manager);
  const size_t live = LiveBlocks(manager).size();
  ASSERT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
  EXPECT_EQ(manager->SetAsideCount(), 0u);
  EXPECT_EQ(HeapBlocks(manager), heapBlocks - (live - LiveBlocks(manager).size()));
  EXPECT_FALSE(manager->setAsideFrees) << "later frees go to the heaps again";
}

// Memory just placed that the engine still works on for its previous
// owner: the cursor buffer's wait runs out at the device start, and the
// block is set aside rather than given back for the next placement.
TEST_F(StalledStop, ACursorBufferTheEngineStillReadsIsSetAsideAtTheStart) {
  PDEV* pdev = Head(0);
  auto* manager = static_cast<EmulMmSurfaceManager*>(pdev->surfaceManager);
  SharedLockedData_t* shared = pdev->sharedLocked;
  HardPointerBuffer* cursor = pdev->pointer.twoColour[0];
  // Where a start places the buffer (the heaps take the lowest gap).
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  const uint64_t placed = cursor->block->offset;
  ASSERT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
  // The engine reports a buffer the driver has not counted yet: every block
  // counts as one the engine still reads.
  const uint32_t counter = shared->bufferCounter;
  shared->completedBufferCounter = counter + 1;
  shared->notBusyOverride = 0;
  board_->SetLogging(false, false);
  box_.ClearMessages();
  EXPECT_NE(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  EXPECT_TRUE(box_.Logged("[orv] *ERROR* cursor buffer: DMA")) << box_.LogText();
  EXPECT_EQ(cursor->block, nullptr);
  EXPECT_FALSE(cursor->enabled);
  EXPECT_EQ(manager->SetAsideCount(), 1u);

  // The engine catches up: the next start places the buffer elsewhere.
  shared->completedBufferCounter = counter;
  ASSERT_EQ(KstrnStartDevice(pdev, &result), kKstrnSuccess);
  ASSERT_NE(cursor->block, nullptr);
  EXPECT_NE(cursor->block->offset, placed) << "the set-aside block was handed out again";
  EXPECT_EQ(manager->SetAsideCount(), 1u);
  EXPECT_EQ(KstrnStopDevice(pdev), kKstrnSuccess);
}

// With the kernel module the blocks are the module's: a stalled stop asks
// it to free none of them, and the device going frees every one.
class StalledKernelStop : public fetest::KernelScreens {
 protected:
  void SetUp() override {
    KernelScreens::SetUp();
    blocks_.Attach(kernel);
  }

  videotest::SurfaceBlocks blocks_{8u << 20, 64u << 20};
};

TEST_F(StalledKernelStop, NoBlockIsFreedUntilTheDeviceGoes) {
  KernelBoard(1);
  ASSERT_TRUE(server.InitScreens()) << box.LogText();
  PDEV* pdev = Rec(0)->pdev;
  ASSERT_NE(pdev, nullptr);
  const size_t placed = blocks_.blocks.size();
  ASSERT_GT(placed, 0u);
  auto liveBlocks = [&] {
    return std::count_if(blocks_.blocks.begin(), blocks_.blocks.end(), [](const auto& b) { return !b.freed; });
  };
  const auto liveBefore = liveBlocks();

  dma_.back()->SetLatencyReads(UINT_MAX);
  SharedLockedData_t* shared = pdev->sharedLocked;
  ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
  ASSERT_NE(Sync2dWritePacket(pdev->primInt), 0u);
  (void)pdev->primInt->Start();
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);

  EXPECT_FALSE(ORVKstrnStopDevice(xf86Screens[0]));
  EXPECT_GT(pdev->surfaceManager->SetAsideCount(), 0u);
  EXPECT_EQ(liveBlocks(), liveBefore) << "the module was asked to free a block the engine may read";

  dma_.back()->SetLatencyReads(0);
  dma_.back()->RunPending();
  server.CloseScreens();
  KstrnCleanupDriver();
  EXPECT_EQ(liveBlocks(), 0) << "every block goes back when the device goes";
}

}  // namespace
