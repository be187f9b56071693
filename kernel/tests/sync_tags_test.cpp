// Sync tags: the counter, the ring of outstanding tags and its passed test,
// the wait window across a wrap, the tag and event packets as the engine
// decodes them, the event slots, and the block's copy that user space may
// scribble on without the kernel following it anywhere.
#include <string.h>

#include "kernel/tests/stream_fixture.h"

namespace {

using ktest::StartedBoard;

TEST(SyncTagCounter, TheNextTagSkipsZero) {
  SharedLockedData_t shared = {};
  shared.syncTagCounter = 0xFFFFFFF8;
  EXPECT_EQ(TakeNextTag(&shared), 8u);
  EXPECT_EQ(shared.syncTagCounter, 8u);
  EXPECT_EQ(TakeNextTag(&shared), 16u);
}

struct PassedCase {
  uint32_t tag;
  uint32_t engine;
  bool passed;
};

TEST(SyncTagRingPassed, AnEntryPassesWhenNotAboveTheEngineOrFarAboveIt) {
  const PassedCase cases[] = {
      {0x10, 0x10, true},
      {0x08, 0x10, true},
      {0x20, 0x10, false},
      {0xFFFFFFF0, 0x10, true},          // the engine's tag wrapped
      {0x80000011, 0x10, true},          // above by exactly 0x80000001
      {0x80000010, 0x10, false},         // above by 0x80000000
  };
  for (const PassedCase& c : cases) {
    EXPECT_EQ(SyncTagRing::HasPassed(c.tag, c.engine), c.passed) << std::hex << c.tag << " " << c.engine;
    SyncTagRing ring;
    SharedSyncTagRing mirror;
    ring.Construct(&mirror, 0);
    ASSERT_TRUE(ring.Push(c.tag, 5));
    uint32_t slot = kNoEventSlot;
    EXPECT_EQ(ring.PopPassed(c.engine, &slot), c.passed);
    EXPECT_EQ(ring.Count(), c.passed ? 0 : 1);
    EXPECT_EQ(slot, c.passed ? 5u : kNoEventSlot);
  }
}

struct WindowCase {
  uint32_t own;
  uint32_t newest;
  uint32_t engine;
  bool reached;
};

TEST(SyncTagWait, TheEngineTagMustLieBetweenTheOwnTagAndTheNewest) {
  const WindowCase cases[] = {
      // No wrap since the own tag: [own, newest].
      {0x100, 0x200, 0x0F8, false},
      {0x100, 0x200, 0x100, true},
      {0x100, 0x200, 0x200, true},
      {0x100, 0x200, 0x208, false},
      // The counter wrapped since: at or above the own tag, or at or below the newest.
      {0xFFFFFFF0, 0x10, 0xFFFFFFE8, false},
      {0xFFFFFFF0, 0x10, 0xFFFFFFF8, true},
      {0xFFFFFFF0, 0x10, 0x08, true},
      {0xFFFFFFF0, 0x10, 0x18, false},
  };
  for (const WindowCase& c : cases)
    EXPECT_EQ(ORVVideoTagPassed(c.own, c.engine, c.newest), c.reached)
        << std::hex << c.own << " " << c.newest << " " << c.engine;
}

TEST(SyncTagRingFull, APushOnSixtyFourEntriesAnswersNoAndChangesNothing) {
  SyncTagRing ring;
  SharedSyncTagRing mirror;
  ring.Construct(&mirror, 0x1234000);
  for (uint32_t i = 1; i <= kSyncTagRingEntries; ++i) ASSERT_TRUE(ring.Push(8 * i, kNoEventSlot));
  const SharedSyncTagRing before = mirror;
  EXPECT_FALSE(ring.IsNotFull());
  EXPECT_FALSE(ring.Push(8 * 65, 3));
  EXPECT_EQ(ring.Count(), 64);
  EXPECT_EQ(memcmp(&before, &mirror, sizeof(mirror)), 0);
  // The oldest goes first.
  uint32_t slot = 0;
  ASSERT_TRUE(ring.PopPassed(8, &slot));
  EXPECT_EQ(slot, kNoEventSlot);
  EXPECT_FALSE(ring.PopPassed(8, &slot));
}

class SyncTags : public StartedBoard {};

TEST_F(SyncTags, APushAfterAWrapWaitsForTheRingToDrainAndGivesUpWhenItDoesNot) {
  SyncTagRing ring;
  SharedSyncTagRing mirror;
  ring.Construct(&mirror, 0);
  ASSERT_TRUE(ring.Push(0xFFFFFFF8, kNoEventSlot));
  expectErrors = true;
  // Nothing drains it here: the bounded wait ends, nothing is queued.
  EXPECT_FALSE(ring.Push(0x8, kNoEventSlot));
  EXPECT_EQ(ring.Count(), 1);
  EXPECT_TRUE(glue.Logged("[orv] *ERROR* sync tag ring after a wrap"));
  // Once it is empty the wrapped tag goes in.
  uint32_t slot = 0;
  ASSERT_TRUE(ring.PopPassed(0xFFFFFFF8, &slot));
  EXPECT_TRUE(ring.Push(0x8, kNoEventSlot));
}

TEST_F(SyncTags, APlainTagReachesTheSharedWordAndTheTagRegister) {
  SharedLocked()->last1300Value = 0x1234;
  uint32_t tag = 0;
  ASSERT_TRUE(Tags()->EmitTag(kNoEventSlot, Primary(), false, &tag));
  EXPECT_EQ(tag, SharedLocked()->syncTagCounter);
  const uint32_t* packet = Primary()->cursor - kPlainTagWords;
  EXPECT_EQ(std::vector<uint32_t>(packet, packet + 5),
            (std::vector<uint32_t>{0xC0AFDDC0, 1798, 0, tag | 3, 0x1234}));
  Primary()->Kick();
  EXPECT_EQ(SharedLocked()->completedTag, tag | 3);
  EXPECT_EQ(dma.ReachedTag(), tag | 3);
  EXPECT_EQ(PacketWrites(0x1300), (std::vector<uint32_t>{1798, 0x1234}));
  EXPECT_EQ(Tags()->EngineTag(), tag);
}

TEST_F(SyncTags, WithoutASaved1300ValueTheValueIndexWritesNothing) {
  SharedLocked()->last1300Value = kLastRegNone;
  uint32_t tag = 0;
  ASSERT_TRUE(Tags()->EmitTag(kNoEventSlot, Primary(), false, &tag));
  EXPECT_EQ(*(Primary()->cursor - kPlainTagWords), 0x20AFDDC0u);
  ASSERT_TRUE(Tags()->PostEvent(Primary(), SyncTagEvent{1, 0, 2, 0, 1}));
  glue.DeliverInterrupts();
  EXPECT_EQ(dma.DecodeErrors(), std::vector<std::string>{});
  // Only the 2D control values reach 0x1300, never the marker.
  EXPECT_EQ(PacketWrites(0x1300), (std::vector<uint32_t>{1798, 1798}));
  EXPECT_EQ(Tags()->EngineTag(), SharedLocked()->syncTagCounter);
}

TEST_F(SyncTags, AnEventTagPausesTheEngineUntilItsInterruptIsServed) {
  SharedLocked()->last1300Value = 0;
  const uint32_t* packet = Primary()->cursor;
  ASSERT_TRUE(Tags()->PostEvent(Primary(), SyncTagEvent{2, 0, 0x2, 0, 1}));
  const uint32_t tag = SharedLocked()->syncTagCounter;
  // The packet: event tag, progress tag and the pause, then 64 fill words.
  EXPECT_EQ(std::vector<uint32_t>(packet, packet + 10),
            (std::vector<uint32_t>{0xDDC0AFDD, 0, tag | 4, 1798, 0, 0x26DDC0AF, tag | 1, 0, 0, 2}));
  for (uint32_t i = 10; i < kEventTagWords; ++i) ASSERT_EQ(packet[i], 0x21212121u) << i;
  EXPECT_TRUE(dma.Paused());
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 1);
  EXPECT_TRUE(irq.LineUp());
  EXPECT_FALSE(Tags()->SlotFree(0));

  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_FALSE(dma.Paused());
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 0);
  EXPECT_EQ(ReachedTags(), (std::vector<uint32_t>{tag | 4, tag | 1}));
  EXPECT_TRUE(Tags()->SlotFree(0));
  EXPECT_EQ(Tags()->QueuedTags(), 0);
}

TEST_F(SyncTags, PostEventWithEveryEventSlotBusyAnswersNoAndWritesNothing) {
  // 32 events whose interrupts are not served yet: each slot stays taken.
  while (Tags()->FindFreeEventSlot() != kNoEventSlot)
    ASSERT_TRUE(Tags()->PostEvent(Primary(), SyncTagEvent{1, 0, 2, 0, 1}));
  const uint32_t* cursor = Primary()->cursor;
  const uint32_t counter = SharedLocked()->syncTagCounter;
  const int32_t queued = Tags()->QueuedTags();
  EXPECT_FALSE(Tags()->PostEvent(Primary(), SyncTagEvent{1, 0, 2, 0, 1}));
  EXPECT_EQ(Primary()->cursor, cursor);
  EXPECT_EQ(SharedLocked()->syncTagCounter, counter);
  EXPECT_EQ(Tags()->QueuedTags(), queued);
}

TEST_F(SyncTags, TheBlockGetsACopyWithSlotOffsetsAndItsWordsAreNeverFollowed) {
  ASSERT_TRUE(Tags()->PostEvent(Primary(), SyncTagEvent{3, 0, 0x2, 0, 1}));
  const auto* mirror = reinterpret_cast<const SharedSyncTagRing*>(SharedLocked()->syncTagRing);
  EXPECT_EQ(mirror->count, 1);
  EXPECT_EQ(mirror->tail, 1u);
  EXPECT_EQ(mirror->entries[0].tag, SharedLocked()->syncTagCounter);
  EXPECT_EQ(mirror->entries[0].slotLow, 1276u);  // the first slot's offset in the block
  EXPECT_EQ(mirror->entries[0].slotHigh, 0u);
  const auto* slot = reinterpret_cast<const SharedSyncTagEvent*>(SharedLocked()->syncTagEvents[0]);
  EXPECT_EQ(slot->flags & kEventSlotFree, 0u);
  EXPECT_EQ(slot->bufferSlot, 3u);

  // User space writes anything over the ring and the slots.
  memset(SharedLocked()->syncTagRing, 0xFF, sizeof(SharedLocked()->syncTagRing));
  memset(SharedLocked()->syncTagEvents, 0xA5, sizeof(SharedLocked()->syncTagEvents));
  EXPECT_TRUE(glue.DeliverInterrupts());
  // The kernel served its own entry: slot 0's event flipped display 1 to 3.
  EXPECT_EQ(board.Peek(0x1800, 4) >> 7 & 3, 3u);
  EXPECT_EQ(Tags()->QueuedTags(), 0);
  EXPECT_EQ(mirror->count, 0);
  EXPECT_EQ(mirror->head, 1u);
  EXPECT_EQ(slot->flags, kEventSlotFree);
  // And goes on: the next entry lands at index 1.
  ASSERT_TRUE(Tags()->PostEvent(Primary(), SyncTagEvent{2, 0, 0x2, 0, 1}));
  EXPECT_EQ(mirror->tail, 2u);
  EXPECT_EQ(mirror->entries[1].slotLow, 1276u);
  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_EQ(board.Peek(0x1800, 4) >> 7 & 3, 2u);
  EXPECT_TRUE(glue.Misuses().empty());
}

TEST_F(SyncTags, DisablingWritesTheClosingTagAndWaitsForItWithAnEmptyEventRing) {
  ASSERT_EQ(Tags()->QueuedTags(), 0);
  dma.ClearTrace();
  const uint32_t* packet = Primary()->cursor;
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
  const uint32_t tag = SharedLocked()->syncTagCounter;
  EXPECT_EQ(std::vector<uint32_t>(packet, packet + 4),
            (std::vector<uint32_t>{0x21AFDDC0, 1799, 0, tag | 1}));
  EXPECT_EQ(ReachedTags(), std::vector<uint32_t>{tag | 1});
  EXPECT_EQ(Tags()->EngineTag(), tag);
  // The interrupt enable went with it.
  EXPECT_EQ(board.Peek(0x8FC, 4), 0u);
  EXPECT_FALSE(glue.Logged("*ERROR*"));
}

TEST_F(SyncTags, AStalledEngineEndsTheDisableWaitWithAnError) {
  dma.SetLatencyReads(1u << 30);
  expectErrors = true;
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
  EXPECT_TRUE(glue.Logged("[orv] *ERROR* sync tag wait"));
  EXPECT_EQ(pdev->active, 0);
  EXPECT_EQ(board.Peek(0x8FC, 4), 0u);
  dma.SetLatencyReads(0);
  dma.RunPending();
}

}  // namespace
