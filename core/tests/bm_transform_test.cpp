// Transform command interfaces: slots, the command lock bracket, overflow.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "core/bm_transform.h"

namespace {

class XformTest : public testing::Test {
 protected:
  void SetUp() override {
    common_ = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common_->sharedLocked = &shared_;
    for (auto& slot : shared_.pendingSlots) slot.postType = kPendingSlotFree;
    // Process memory stands in for the system memory of the real options.
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, 4096);
    memcpy(common_->xformBufferOptions, &o, sizeof o);
  }
  void TearDown() override { free(common_); }
  SharedLockedData_t shared_ = {};
  CommonData* common_ = nullptr;
};

TEST_F(XformTest, SixteenthInterfaceFailsAndFreedSlotsAreReused) {
  BmXformInt* live[kPendingSlotCount] = {};
  for (uint32_t i = 0; i < kPendingSlotCount; ++i) {
    live[i] = BmXformMgr::AllocateInterface(common_, 0, 100 + i);
    ASSERT_NE(live[i], nullptr) << i;
    EXPECT_EQ(live[i]->slotIndex, i);
    EXPECT_EQ(shared_.pendingSlots[i].postType, 100 + i);
  }
  EXPECT_EQ(BmXformMgr::GetFreeCmdBufferIndex(common_), kXformSlotNone);
  EXPECT_EQ(BmXformMgr::AllocateInterface(common_, 0, 7), nullptr);
  BmXformMgr::FreeInterface(common_, &live[4]);
  EXPECT_EQ(live[4], nullptr);
  EXPECT_EQ(shared_.pendingSlots[4].postType, kPendingSlotFree);
  live[4] = BmXformMgr::AllocateInterface(common_, 0, 9);
  ASSERT_NE(live[4], nullptr);
  EXPECT_EQ(live[4]->slotIndex, 4u);
  for (auto*& x : live) BmXformMgr::FreeInterface(common_, &x);
}

TEST_F(XformTest, SequenceIsPublishedUnderTheLockAndNestsInAnOuterHolder) {
  BmXformInt* x = BmXformMgr::AllocateInterface(common_, 0, 3);
  ASSERT_NE(x, nullptr);
  ASSERT_TRUE(BmAcquireCommandLock(&shared_, kCmdLockOwnerXDriver));  // outer holder
  ASSERT_TRUE(x->BeginCmd());
  uint32_t* at = x->Reserve(3);
  at[0] = 0x2121C6C5;
  EXPECT_TRUE(x->EndCmd());
  EXPECT_EQ(shared_.commandLock, 1) << "the outer holder keeps the lock";
  const SharedPendingSlot& slot = shared_.pendingSlots[x->slotIndex];
  EXPECT_EQ(slot.busStart, x->head->BusOf(x->head->Begin()));
  EXPECT_EQ(slot.busEnd, x->head->BusOf(x->head->Begin() + 3) | x->head->busType);
  BmReleaseCommandLock(&shared_, kCmdLockOwnerXDriver);
  EXPECT_EQ(shared_.commandLock, 0);
  BmXformMgr::FreeInterface(common_, &x);
}

TEST_F(XformTest, OverflowIsReportedInsteadOfPublishingTheTail) {
  BmXformInt* x = BmXformMgr::AllocateInterface(common_, 0, 3);
  ASSERT_NE(x, nullptr);
  ASSERT_TRUE(x->BeginCmd());
  for (int i = 0; i < 2000; ++i) x->Reserve(1)[0] = 0;  // 8,000 bytes into 4,096
  EXPECT_FALSE(x->EndCmd());
  const SharedPendingSlot& slot = shared_.pendingSlots[x->slotIndex];
  EXPECT_EQ(slot.busStart, slot.busEnd & ~kBmBusTypeMask) << "an empty range";
  EXPECT_EQ(shared_.commandLock, 0);
  ASSERT_TRUE(x->BeginCmd());
  x->Reserve(2);
  EXPECT_TRUE(x->EndCmd()) << "the next sequence starts clean";
  BmXformMgr::FreeInterface(common_, &x);
}

TEST(XformOptionsTest, EntriesFollowBusAndDebugFlags) {
  const struct { uint32_t bus, debug, count, first; } cases[] = {
      {0, 0, 1, kBmMemLocal}, {0x10, 0, 2, kBmMemAgp}, {0x100014, 0, 3, kBmMemAgp},
      {0x100014, 0x40, 2, kBmMemPciLocked}, {0x100014, 0x10, 1, kBmMemLocal},
  };
  for (const auto& c : cases) {
    const auto o = BmXformOptions(c.bus, c.debug);
    EXPECT_EQ(o.bufferCount, 1u);
    EXPECT_EQ(o.keepEntries, 0);
    EXPECT_EQ(o.alloc.count, c.count) << c.bus << " " << c.debug;
    EXPECT_EQ(o.alloc.memoryType[0], c.first) << c.bus << " " << c.debug;
    EXPECT_EQ(o.alloc.size[0], 4096u);
  }
}

}  // namespace
