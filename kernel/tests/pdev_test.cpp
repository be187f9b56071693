// The kernel device object: its component table run forwards at
// construction and backwards over exactly what succeeded, the board ring,
// and who destroys which objects when a client goes.

#include "kernel/3d/targets/render_target_state.h"
#include "kernel/dma_streams.h"
#include "kernel/vidmem/surface_manager.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

using ktest::KernelTest;

TEST_F(KernelTest, ARefusedAllocationAnywhereLeavesNothingOfTheObject) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  const size_t liveBefore = glue.LiveBlocks().size();
  int failures = 0;
  // Every allocation of the object up to its command buffers, then every
  // 7th: each buffer's pages are declared to the mapper one by one (three
  // allocations a page, the same code a thousand times over).
  constexpr uint64_t kEveryOneUpTo = 600;
  constexpr uint64_t kStrideAfter = 7;
  for (uint64_t nth = 1;; nth += nth < kEveryOneUpTo ? 1 : kStrideAfter) {
    const uint64_t failedBefore = glue.FailedAllocations();
    glue.FailAllocation(nth);
    PDEV* pdev = Enable(file, 0);
    glue.FailAllocation(0);
    const bool refused = glue.FailedAllocations() != failedBefore;
    if (!refused) {
      ASSERT_NE(pdev, nullptr);
      break;
    }
    if (pdev != nullptr) {
      // Some allocations are optional (the device object's own switch set,
      // a stream's buffers after its first, the window over partition 1, a
      // heap region's split): the object works without them.
      EXPECT_NE(pdev->primaryStream, nullptr) << nth;
      EXPECT_NE(pdev->surfaceManager, nullptr) << nth;
      DestroyPdev(kdev, pdev);
    } else {
      ++failures;
    }
    EXPECT_EQ(glue.LiveBlocks().size(), liveBefore) << nth;
    EXPECT_EQ(glue.LiveRegions(), 2u) << nth;
    ASSERT_LT(nth, 4000u);
  }
  // The common regions, the mapper and its maps, the switch sets (78
  // registry switches alone) and the flags all allocate.
  EXPECT_GT(failures, 78);
  EXPECT_TRUE(glue.Misuses().empty());
}

// Command buffers in local video memory (bus-master flags without system
// memory): no page is declared, so every allocation of the object can be
// refused in turn, those of the buffers' surfaces and windows among them.
class LocalBuffers : public KernelTest {
 protected:
  LocalBuffers() : KernelTest(orvsim::BoardConfig(), ktest::TestBoardOptions(0)) {}
};

TEST_F(LocalBuffers, ARefusedAllocationAnywhereLeavesNothingOfTheObject) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  const size_t liveBefore = glue.LiveBlocks().size();
  const size_t mappingsBefore = glue.LiveKernelMappings();
  for (uint64_t nth = 1;; ++nth) {
    const uint64_t failedBefore = glue.FailedAllocations();
    glue.FailAllocation(nth);
    PDEV* pdev = Enable(file, 0);
    glue.FailAllocation(0);
    if (glue.FailedAllocations() == failedBefore) {
      ASSERT_NE(pdev, nullptr);
      EXPECT_EQ(Common()->primaryStream->head->memoryType, kBmMemLocal);
      break;
    }
    if (pdev != nullptr) DestroyPdev(kdev, pdev);
    ASSERT_EQ(glue.LiveBlocks().size(), liveBefore) << nth;
    ASSERT_EQ(glue.LiveKernelMappings(), mappingsBefore) << nth;
    ASSERT_LT(nth, 4000u);
  }
  EXPECT_TRUE(glue.Misuses().empty());
}

TEST_F(KernelTest, ACompleteObjectCarriesTheRevisionBitsAndTheCallersGuardChoice) {
  SetEngineModeFlag(true);
  MakeDevice();
  kglue::File* file = glue.Open(device);
  PDEV* guarded = Enable(file, 0, /*guardFlag=*/1);
  ASSERT_NE(guarded, nullptr);
  EXPECT_EQ(guarded->initialisedCount, kPdevComponentCount);
  EXPECT_EQ(guarded->unit, 0u);
  EXPECT_EQ(guarded->owner, glue.ContextOf(file));
  EXPECT_EQ(SharedLocked()->revisionBits, 0x2u);  // the first chip at revision 0
  EXPECT_EQ(guarded->revisionBits, 0x2u);
  EXPECT_EQ(Common()->revisionBits, 0x2u);
  EXPECT_EQ(SharedLocked()->regGuardEnable, 1u);
  EXPECT_EQ(Common()->registers, OrvDevice_GetRegisterHandle(device));
  EXPECT_EQ(EngineMode3d().on, 0);  // a complete object clears the cached engine mode

  // The mode record's byte 80 decides the guard; its unit (1) stays in the object.
  PDEV* unguarded = Enable(file, 1, /*guardFlag=*/0);
  ASSERT_NE(unguarded, nullptr);
  EXPECT_EQ(SharedLocked()->regGuardEnable, 0u);
  EXPECT_EQ(SharedLocked()->revisionBits, 0x2u);
  EXPECT_EQ(unguarded->unit, 1u);
}

TEST_F(KernelTest, AUnitAboveThreeIsRefused) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  const size_t liveBefore = glue.LiveBlocks().size();
  for (uint32_t unit : {4u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_EQ(Enable(file, unit), nullptr) << unit;
    EXPECT_EQ(glue.LiveBlocks().size(), liveBefore);
    EXPECT_EQ(kdev->commonData, nullptr);
  }
  EXPECT_NE(Enable(file, 3), nullptr);
}

TEST_F(KernelTest, ObjectsJoinTheRingAtItsEndAndTheLastOneEmptiesIt) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  PDEV* a = Enable(file, 0);
  PDEV* b = Enable(file, 1);
  PDEV* c = Enable(file, 2);
  ASSERT_TRUE(a && b && c);
  CommonData* common = Common();
  EXPECT_EQ(common->ringHead, a);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->next, c);
  EXPECT_EQ(c->next, a);
  EXPECT_EQ(a->previous, c);
  // Board-wide objects are made once, by the first.
  EXPECT_NE(common->physMemMapper, nullptr);
  EXPECT_EQ(b->physMemMapper, common->physMemMapper);

  // Keep the common data alive past the last object to read its ring head.
  OrvRegion* region = OrvRegion_FindFromVirtual(device, common);
  OrvRegion_IncrementRefCount(region);
  DestroyPdev(kdev, a);
  EXPECT_EQ(common->ringHead, b);
  DestroyPdev(kdev, c);
  EXPECT_EQ(common->ringHead, b);
  EXPECT_EQ(b->next, b);
  EXPECT_NE(common->physMemMapper, nullptr);  // the last object undoes the board's objects
  DestroyPdev(kdev, b);
  EXPECT_EQ(common->ringHead, nullptr);
  EXPECT_EQ(common->physMemMapper, nullptr);
  EXPECT_EQ(common->registers, nullptr);
  OrvRegion_DecrementRefCount(region);
}

TEST_F(KernelTest, ReleasingAClientDestroysItsOtherUnitsBeforeUnitZeroAndNoOneElses) {
  MakeDevice();
  kglue::File* first = glue.Open(device);
  kglue::File* second = glue.Open(device);
  ASSERT_NE(Enable(first, 0), nullptr);
  PDEV* others = Enable(second, 2);
  ASSERT_NE(Enable(first, 1), nullptr);
  ASSERT_NE(others, nullptr);
  glue.Close(first);
  EXPECT_EQ(Common()->ringHead, others);
  EXPECT_EQ(others->next, others);
}

TEST_F(KernelTest, DestroyingTheDeviceTakesEveryObjectAndBlockAndLeavesNothing) {
  const size_t liveBefore = glue.LiveBlocks().size();
  MakeDevice();
  kglue::File* file = glue.Open(device);
  ASSERT_NE(Enable(file, 0), nullptr);
  ASSERT_NE(Enable(file, 1), nullptr);
  glue.DestroyDevice(device);
  kdev = nullptr;
  EXPECT_EQ(glue.LiveBlocks().size(), liveBefore);
  EXPECT_EQ(glue.LiveRegions(), 0u);
  EXPECT_EQ(glue.ArenaBytesInUse(), 0u);
  EXPECT_TRUE(glue.Misuses().empty());
}

}  // namespace
