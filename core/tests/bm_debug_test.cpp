// Debug markers: the level filter, the packet words and the text pages.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "core/bm_debug.h"
#include "core/phys_mem_mapper.h"
#include "core/tests/pdev_fixture.h"

namespace coretest {
namespace {

class BmDebugTest : public testing::Test {
 protected:
  void SetUp() override {
    box_.AddCharDevice(kFakeMajor, "orv");
    box_.RegisterEndpoint(kFakeMajor, &kernel_);
    box_.MakeDirectories("/dev/orvane");
    device_ = std::make_unique<LnxDevice>(0);
    ASSERT_TRUE(device_->Open());
    common_ = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common_->sharedLocked = &shared_;
    ASSERT_TRUE(IocRequestPlace(common_->requestSlots[0], device_.get()));
    common_->physMemMapper = new PhysMemMapper(common_);
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, 4096);
    pool_ = std::make_unique<BmBufferPool>(common_, 0, o);
    ASSERT_TRUE(pool_->Open());
  }
  void TearDown() override {
    pool_.reset();
    delete common_->physMemMapper;
    IocRequestClear(common_->requestSlots[0]);
    free(common_);
  }
  xstub::FakeKernel kernel_;
  xstub::Sandbox box_;
  std::unique_ptr<LnxDevice> device_;
  SharedLockedData_t shared_ = {};
  CommonData* common_ = nullptr;
  std::unique_ptr<BmBufferPool> pool_;
};

TEST_F(BmDebugTest, LevelFilterAndPacketWords) {
  BmDbgOutDebug dbg(common_, 0);
  EXPECT_EQ(dbg.outputLevel, 0);
  uint32_t* at = pool_->cursor;
  dbg.WriteDbgPacket(pool_.get(), 1, 5, nullptr, 0x77, 0);
  EXPECT_EQ(pool_->cursor, at) << "level above the output level writes nothing";
  dbg.WriteDbgPacket(pool_.get(), 0, 5, nullptr, 0x77, 0);
  ASSERT_EQ(pool_->cursor, at + 5);
  EXPECT_EQ(at[0], 0x20202020u);
  EXPECT_EQ(at[1], 0x05A7B8C9u);
  EXPECT_EQ(at[2], 0u);
  EXPECT_EQ(at[3], 0u);
  EXPECT_EQ(at[4], 0x77u);
  EXPECT_TRUE(BmDbgOutDebug::IsDbgPacket(at));
  at[1] = 0x05A7B8C8;
  EXPECT_FALSE(BmDbgOutDebug::PrintDbgPacket(at));
}

TEST_F(BmDebugTest, TextsAreStoredOnceAndNeverOverflowAPage) {
  BmDbgOutDebug dbg(common_, 0);
  const std::string fits(4095, 'a');
  const std::string tooLong(4096, 'b');
  const uint32_t stored = dbg.GetLockedStr(fits.c_str());
  ASSERT_NE(stored, 0u);
  EXPECT_EQ(dbg.pages.size(), 1u);
  EXPECT_EQ(dbg.pages[0].used, 4096u);
  EXPECT_EQ(dbg.GetLockedStr(fits.c_str()), stored) << "same pointer, stored once";
  EXPECT_EQ(dbg.pages.size(), 1u);

  uint32_t* at = pool_->cursor;
  dbg.WriteDbgPacket(pool_.get(), 0, tooLong.c_str(), 1, 0);
  EXPECT_EQ(at[1], kDbgPacketNoRoom);
  EXPECT_EQ(at[2], 0u);
  EXPECT_EQ(dbg.pages.size(), 1u) << "no page is spent on a text no page can hold";

  const char* small = "fill";
  const uint32_t second = dbg.GetLockedStr(small);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(dbg.pages.size(), 2u) << "the full page cannot take it";
  EXPECT_STREQ(reinterpret_cast<const char*>(dbg.pages[1].cpuAddress), "fill");
}

}  // namespace
}  // namespace coretest
