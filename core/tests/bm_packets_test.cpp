// Sync tags, buffer counters, the sync packet forms and the command lock.
#include <gtest/gtest.h>

#include <vector>

#include "core/bm_packets.h"

namespace {

TEST(BmCountersTest, TagsAndBufferCountersSkipZero) {
  const struct { uint32_t counter, tag; } tags[] = {
      {0, 8}, {8, 16}, {0xFFFFFFF0, 0xFFFFFFF8}, {0xFFFFFFF8, 8},
  };
  for (const auto& c : tags) EXPECT_EQ(BmNextSyncTag(c.counter), c.tag) << std::hex << c.counter;
  const struct { uint32_t counter, next; } buffers[] = {{0, 1}, {5, 6}, {0xFFFFFFFF, 1}};
  for (const auto& c : buffers) EXPECT_EQ(BmNextBufferCounter(c.counter), c.next) << c.counter;
}

TEST(BmCountersTest, PendingRuleAcrossTheWrap) {
  const struct { uint32_t tag, newest, reached; bool pending; const char* name; } cases[] = {
      {8, 8, 0xFFFFFFF0, true, "issued after the wrap, engine before it"},
      {8, 8, 8, false, "reached"},
      {8, 8, 0xF, false, "low bits of the reached tag ignored"},
      {16, 16, 8, true, "plain pending"},
      {8, 16, 16, false, "passed"},
      {0xFFFFFFF8, 8, 0xFFFFFFF8, false, "reached just before the wrap"},
      {0xFFFFFFF8, 8, 0xFFFFFFF0, true, "pending just before the wrap"},
      {0xFFFFFFF0, 8, 8, false, "old tag, engine past the wrap"},
      {16, 24, 8, true, "older tag than the newest, still pending"},
      {16, 24, 16, false, "older tag reached"},
      {16, 24, 0x13, false, "flag bits of a reached tag past it ignored"},
      {0xFFFFFFF8, 16, 0xFFFFFFF0, true, "before the wrap, newest after it"},
      {0xFFFFFFF8, 16, 8, false, "engine past the wrap, newest further"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BmSyncTagPending(c.tag, c.newest, c.reached), c.pending) << c.name;
  }
}

TEST(BmPacketsTest, SyncPacketHasFourOrFiveWords) {
  SharedLockedData_t shared = {};
  uint32_t words[6] = {};
  shared.last1300Value = kLastRegNone;
  EXPECT_EQ(BmSyncPacketWords(&shared), 4u);
  EXPECT_EQ(BmWriteSync(words, &shared, 0x41) - words, 4);
  EXPECT_EQ(words[0], 0x21AFDDC0u);
  EXPECT_EQ(words[1], 1799u);
  EXPECT_EQ(words[3], 0x41u);
  shared.last1300Value = 0xCC01;
  EXPECT_EQ(BmSyncPacketWords(&shared), 5u);
  EXPECT_EQ(BmWriteSync(words, &shared, 0x48) - words, 5);
  EXPECT_EQ(words[0], 0xC0AFDDC0u);
  EXPECT_EQ(words[4], 0xCC01u);
}

TEST(BmPacketsTest, SyncTagPacketForms) {
  const struct {
    PacketIndex last;
    std::vector<uint32_t> words;
  } cases[] = {
      {kIdxPad, {0x21AFDDC0, 0x707, 0, 0x49}},
      {k2dIdxSyncTag, {0xAFAFDDC0, 0x707, 0, 0x49, 0x48}},
      {k2dIdxControl, {0xC0AFDDC0, 0x707, 0, 0x49, 0x48}},
      {kIdxDiscard, {0x20AFDDC0, 0x707, 0, 0x49, 0x48}},
  };
  for (const auto& c : cases) {
    uint32_t words[6] = {};
    uint32_t* end = BmWriteSyncTag(words, 0x49, c.last, 0x48);
    EXPECT_EQ(std::vector<uint32_t>(words, end), c.words) << std::hex << int{c.last.Byte()};
    EXPECT_EQ(BmSyncTagWords(c.last), c.words.size());
  }
}

TEST(BmCommandLockTest, OwnerNestsOnlyInsideItsOwnHold) {
  SharedLockedData_t shared = {};
  ASSERT_TRUE(BmAcquireCommandLock(&shared, kCmdLockOwnerXDriver));
  ASSERT_TRUE(BmAcquireCommandLock(&shared, kCmdLockOwnerXDriver));  // inner holder: no spin
  EXPECT_EQ(BmCommandLockDepth(&shared, kCmdLockOwnerXDriver), 2u);
  BmReleaseCommandLock(&shared, kCmdLockOwnerXDriver);
  EXPECT_EQ(shared.commandLock, 1) << "the inner release leaves the lock taken";
  BmReleaseCommandLock(&shared, kCmdLockOwnerXDriver);
  EXPECT_EQ(shared.commandLock, 0);
  EXPECT_EQ(shared.commandLockDepth, 0);

  // The kernel module holds it: a non-zero depth is not ours to re-enter,
  // and releasing what we do not hold changes nothing.
  shared.commandLock = 1;
  shared.commandLockDepth = static_cast<int32_t>((kCmdLockOwnerKernel << kCmdLockOwnerShift) | 1);
  EXPECT_EQ(BmCommandLockDepth(&shared, kCmdLockOwnerXDriver), 0u);
  BmReleaseCommandLock(&shared, kCmdLockOwnerXDriver);
  EXPECT_EQ(shared.commandLock, 1);
  EXPECT_EQ(BmCommandLockDepth(&shared, kCmdLockOwnerKernel), 1u);
}

// A nesting as deep as the depth word counts is refused: one more would
// carry into the owner id, and a release would then find another owner.
TEST(BmCommandLockTest, NestingPastTheDepthWordIsRefusedAndChangesNothing) {
  SharedLockedData_t shared = {};
  shared.commandLock = 1;
  const int32_t full = static_cast<int32_t>((kCmdLockOwnerXDriver << kCmdLockOwnerShift) | kCmdLockDepthMask);
  shared.commandLockDepth = full;
  EXPECT_FALSE(BmAcquireCommandLock(&shared, kCmdLockOwnerXDriver));
  EXPECT_EQ(shared.commandLockDepth, full);
  EXPECT_EQ(shared.commandLock, 1);
  BmReleaseCommandLock(&shared, kCmdLockOwnerXDriver);
  EXPECT_EQ(BmCommandLockDepth(&shared, kCmdLockOwnerXDriver), kCmdLockDepthMask - 1);
  EXPECT_EQ(shared.commandLock, 1);
}

}  // namespace
