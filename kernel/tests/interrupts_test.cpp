// The interrupt manager and the flip controller over the board's interrupt
// controller and flip latch: acknowledging, the use-counted enable, the
// periodic post of pending slots, request 29, buffer slots, displayed-buffer
// selection and when a flip still counts as pending.
#include <string.h>

#include <algorithm>

#include "kernel/tests/stream_fixture.h"
#include "kernel/x_requests.h"

namespace {

using ktest::StartedBoard;
using Kind = orvsim::DmaEngine::TraceKind;

constexpr uint32_t kTagGroup = 0x212121AF;

class Irq : public StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    irq.SetFramePeriod(0);  // vertical blanks only when a test makes them
    SharedLocked()->primaryEngineMode = 1;
  }

  int VSync(uint32_t kind, uint32_t source, uint32_t enable, uint32_t slot) {
    OrvVSyncStateRequest request = {{kind, source, enable, slot}};
    return glue.Ioctl(file, ORV_IOCTL_VSYNC_STATE, reinterpret_cast<unsigned long>(&request));
  }
  void VBlank(unsigned controller) {
    irq.VerticalBlank(controller);
    glue.DeliverInterrupts();
  }
  void SetSlot(uint32_t index, uint32_t type, uint32_t start, uint32_t end) {
    SharedPendingSlot& slot = SharedLocked()->pendingSlots[index];
    slot.postType = type;
    slot.busStart = start;
    slot.busEnd = end;
  }
  uint32_t Enable() const { return board.Peek(0x8FC, 4); }
};

TEST_F(Irq, PendingBitsOfNoActiveSourceAreAcknowledgedAndAnswerZero) {
  board.SetLogging(false, true);
  board.ClearLog();
  irq.Raise(0x1 | 0x4);  // source 0 is not active; 0x4 is no source's
  EXPECT_EQ(CollectInterrupts(kdev), 0);
  EXPECT_EQ(board.Peek(0x8F4, 4), 0u);
  EXPECT_EQ(LastWrite(0x8F8), 0x5u);
  // Nothing pending: no acknowledge.
  board.ClearLog();
  EXPECT_EQ(CollectInterrupts(kdev), 0);
  EXPECT_EQ(LastWrite(0x8F8), 0xFFFFFFFFu);
  EXPECT_EQ(CollectInterrupts(nullptr), -1);
}

TEST_F(Irq, TheEnableIsUseCountedAndWord152MirrorsEveryWrite) {
  // Started: the tag events of source 4 are on.
  EXPECT_EQ(Enable(), 0x10000u);
  board.SetLogging(false, true);
  board.ClearLog();
  EXPECT_EQ(Interrupts()->AcquireEnable(), 2u);
  Interrupts()->ReleaseEnable();
  EXPECT_TRUE(board.LoggedWrites().empty());
  EXPECT_EQ(Enable(), 0x10000u);

  // An event of source 0 adds its bit at once while the enable is held.
  Interrupts()->sources[kSourceVBlank0].EnableEvent(kEventPeriodicPost, true);
  EXPECT_EQ(Enable(), 0x10001u);
  EXPECT_EQ(SharedLocked()->interruptEnableCopy, 0x10001u);
  Interrupts()->sources[kSourceVBlank0].DisableEvent(kEventPeriodicPost, true);
  EXPECT_EQ(Enable(), 0x10000u);
  EXPECT_EQ(SharedLocked()->interruptEnableCopy, 0x10000u);
  EXPECT_FALSE(Interrupts()->sources[kSourceVBlank0].active);
  Interrupts()->ReleaseEnable();
  EXPECT_EQ(Enable(), 0u);
  EXPECT_EQ(SharedLocked()->interruptEnableCopy, 0u);
  // Released: a source that becomes active waits for the next acquire.
  Interrupts()->sources[kSourceVBlank1].EnableEvent(kEventFlip, true);
  EXPECT_EQ(Enable(), 0u);
  Interrupts()->AcquireEnable();
  EXPECT_EQ(Enable(), 0x10002u);
  EXPECT_EQ(SharedLocked()->interruptEnableCopy, 0x10002u);
  std::vector<uint32_t> written;
  for (const auto& write : board.LoggedWrites())
    if (write.offset == 0x8FC) written.push_back(write.value);
  EXPECT_EQ(written, (std::vector<uint32_t>{0x10001, 0x10000, 0, 0x10002}));
}

TEST_F(Irq, ASourceHoldsThreePostSlotsOfTheFifteen) {
  InterruptSource& s = Interrupts()->sources[kSourceVBlank0];
  EXPECT_FALSE(s.AddPostSlot(15));
  EXPECT_TRUE(s.AddPostSlot(0));
  EXPECT_TRUE(s.AddPostSlot(14));
  EXPECT_TRUE(s.AddPostSlot(3));
  EXPECT_FALSE(s.AddPostSlot(4));
  EXPECT_FALSE(s.RemovePostSlot(4));
  EXPECT_TRUE(s.RemovePostSlot(14));
  EXPECT_TRUE(s.AddPostSlot(4));
  EXPECT_EQ(s.post.slots[1], 4u);
}

TEST_F(Irq, ThePeriodicPostSubmitsItsSlotsEveryTickUnlessTheCommandLockIsHeld) {
  const uint32_t x = XRange({kTagGroup, 0x400, kTagGroup, 0x408});
  SetSlot(0, 0, x, (x + 16) | 3);
  SetSlot(1, kPendingSlotFree, x, (x + 8) | 3);  // a free slot
  SetSlot(2, 0, x + 8, x | 3);                   // start above end
  ASSERT_EQ(VSync(2, 0, 1, 0), 0);
  ASSERT_EQ(VSync(2, 0, 1, 1), 0);
  ASSERT_EQ(VSync(2, 0, 1, 2), 0);
  EXPECT_EQ(Enable(), 0x10001u);
  const uint32_t counter = SharedLocked()->syncTagCounter;

  VBlank(0);
  EXPECT_EQ(TraceCount(Kind::kNested), 1u);
  EXPECT_EQ(SharedLocked()->thread2d.dirtyBits, 0xFFFFFFFFu);
  // The progress packet carries the current tag: no new one.
  EXPECT_EQ(SharedLocked()->syncTagCounter, counter);
  const std::vector<uint32_t> tags = ReachedTags();
  ASSERT_GE(tags.size(), 4u);
  EXPECT_EQ(std::vector<uint32_t>(tags.end() - 4, tags.end()),
            (std::vector<uint32_t>{0x400, 0x408, counter | 1, counter}));

  VBlank(0);
  EXPECT_EQ(TraceCount(Kind::kNested), 2u);
  SharedLocked()->commandLock = 1;  // the X driver holds it: this tick is skipped
  VBlank(0);
  EXPECT_EQ(TraceCount(Kind::kNested), 2u);
  SharedLocked()->commandLock = 0;
  VBlank(0);
  EXPECT_EQ(TraceCount(Kind::kNested), 3u);
  EXPECT_EQ(SharedLocked()->commandLock, 0);
  // The sync prologue bits of the stream are back as they were.
  EXPECT_EQ(Primary()->modeFlags & kStreamSwitchBits, 0u);

  // Off again: the source stays active (its bit stays), no more posts.
  ASSERT_EQ(VSync(2, 0, 0, 0), 0);
  VBlank(0);
  EXPECT_EQ(TraceCount(Kind::kNested), 3u);
  EXPECT_EQ(Enable(), 0x10001u);
  EXPECT_EQ(Interrupts()->sources[kSourceVBlank0].post.slots[0], kPostSlotEmpty);
}

// An interrupt handler may not give the processor away: with the DMA busy
// lock held by a process that never lets go, a tick's post neither pauses
// nor waits out a bound (each of its waits would otherwise run once per
// pause of the wait it interrupted). Its range reaches the engine on a later
// tick, once the lock is free.
class IrqTwoCpus : public Irq {
 protected:
  void SetUp() override {
    glue.SetCpuCount(2);  // the streams take the busy lock
    Irq::SetUp();
  }
};

TEST_F(IrqTwoCpus, ThePeriodicPostNeverPausesInTheInterruptPath) {
  ASSERT_NE(Primary()->modeFlags & kStreamMultiCpu, 0u);
  const uint32_t x = XRange({kTagGroup, 0x500});
  SetSlot(0, 0, x, (x + 8) | 3);
  ASSERT_EQ(VSync(2, 0, 1, 0), 0);
  SharedLocked()->dmaBusyLock = 1;
  const uint64_t schedules = glue.ScheduleCount();
  VBlank(0);
  EXPECT_EQ(glue.ScheduleCount(), schedules);
  std::vector<uint32_t> tags = ReachedTags();
  EXPECT_EQ(std::count(tags.begin(), tags.end(), 0x500u), 0);
  EXPECT_EQ(SharedLocked()->dmaBusyLock, 1) << "never taken over";

  SharedLocked()->dmaBusyLock = 0;
  VBlank(0);
  tags = ReachedTags();
  EXPECT_GE(std::count(tags.begin(), tags.end(), 0x500u), 1);
  EXPECT_EQ(SharedLocked()->dmaBusyLock, 0);
}

// Any process that maps the Shared locked data can write a pending slot:
// the periodic post runs only ranges of memory the kernel handed to a client
// that enabled a device object of the board.
TEST_F(Irq, ThePeriodicPostRunsOnlyRangesOfTheBoardsClients) {
  const uint32_t mine = XRange({kTagGroup, 0x600});
  const uint32_t stranger = XRange({kTagGroup, 0x700}, other());  // no device object
  SetSlot(3, 0, 0x12345000, 0x12345010 | 3);   // an arbitrary address
  SetSlot(4, 0, stranger, (stranger + 8) | 3);
  SetSlot(5, 0, mine, (mine + 8) | 3);
  for (uint32_t slot : {3u, 4u, 5u}) ASSERT_EQ(VSync(2, 1, 1, slot), 0);
  EXPECT_EQ(Enable() & 0x2, 0x2u);
  VBlank(1);
  std::vector<uint32_t> nested;
  for (const auto& e : dma.Trace())
    if (e.kind == Kind::kNested) nested.push_back(e.a);
  EXPECT_EQ(nested, std::vector<uint32_t>{mine});
  const std::vector<uint32_t> tags = ReachedTags();
  EXPECT_EQ(std::count(tags.begin(), tags.end(), 0x700u), 0);
  EXPECT_EQ(std::count(tags.begin(), tags.end(), 0x600u), 1);
}

TEST_F(Irq, Request29ActsOnlyOnKnownSourcesAndKinds) {
  struct Case {
    uint32_t kind, source;
    bool acts;
    uint32_t bit;
  };
  const Case cases[] = {
      {2, 0, true, 0x1},          {0x10000000, 1, true, 0x2}, {0x20000000, 0, true, 0x1},
      {3, 0, false, 0},           {2, 2, false, 0},           {2, 4, false, 0},
  };
  for (const Case& c : cases) {
    const uint32_t before = Enable();
    EXPECT_EQ(VSync(c.kind, c.source, 1, 5), 0);
    EXPECT_EQ(Enable(), c.acts ? (before | c.bit) : before) << c.kind << " " << c.source;
  }
  // Source 2 is interrupt source 3, on a chip whose register 7620 has bit 3.
  board.Poke(0x1DC4, 4, 0x8);
  EXPECT_EQ(VSync(2, 2, 1, 5), 0);
  EXPECT_NE(Enable() & 0x8, 0u);
  // A record the caller cannot hand over.
  EXPECT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_VSYNC_STATE, 0x1000), -14);
  // A post slot past the last pending slot (14) is refused and changes
  // nothing, whether it is added or removed.
  const InterruptSource& s = Interrupts()->sources[kSourceVBlank1];
  const uint32_t enable = Enable();
  for (uint32_t enableIt : {1u, 0u}) {
    for (uint32_t slot : {15u, 0xFFFFFFFFu}) {
      EXPECT_EQ(VSync(2, 1, enableIt, slot), -22) << enableIt << " " << slot;
      EXPECT_EQ(Enable(), enable);
      EXPECT_EQ(s.post.slots[0], 5u);
      EXPECT_EQ(s.post.slots[1], kPostSlotEmpty);
      EXPECT_TRUE(s.post.state.enabled);
    }
  }
  EXPECT_EQ(VSync(2, 1, 1, 14), 0);
  EXPECT_EQ(s.post.slots[1], 14u);
}

TEST_F(Irq, TheEngineSourceRewritesTheLastEndSoAPausedEngineGoesOn) {
  ASSERT_TRUE(Tags()->PostEvent(Primary(), SyncTagEvent{0, 0, 0x3, 0, 1}));
  uint32_t* at = Primary()->Reserve(2);
  at[0] = kTagGroup;
  at[1] = 0x5000;
  Primary()->Kick();  // the engine waits at the event: only the end moves
  ASSERT_TRUE(dma.Paused());
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 1);
  board.SetLogging(false, true);
  EXPECT_TRUE(glue.DeliverInterrupts());
  EXPECT_EQ(LastWrite(0x408), Primary()->LastEnd());
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 0);
  EXPECT_FALSE(dma.Paused());
  EXPECT_EQ(dma.ReachedTag(), 0x5000u);
}

// ---- Flips ----------------------------------------------------------------------------------

class Flip : public Irq {};

TEST_F(Flip, AFreshControllerHandsOutSlotsOneToThreeAndMasksTheStart) {
  FlipController flip(Common(), 0);
  EXPECT_EQ(flip.AssignBuffer(0xFFFFFFFF, 3), 1);
  EXPECT_EQ(board.Peek(0x1824 + 4, 4), 0x7FFF800u);
  EXPECT_EQ(board.Peek(0x1A24 + 4, 4), 0x7FFF800u);
  EXPECT_EQ(board.Peek(0x19C8 + 4, 4), 0u);  // display 4 is not in the mask
  EXPECT_EQ(flip.AssignBuffer(0x12345678, 3), 2);
  EXPECT_EQ(board.Peek(0x1824 + 8, 4), 0x2345000u);
  EXPECT_EQ(flip.AssignBuffer(0, 3), 3);
  EXPECT_EQ(flip.AssignBuffer(0, 3), -1);
  // Display 4 still has all three; a mask of no display gets none.
  EXPECT_EQ(flip.FindFreeBuffer(4), 1);
  EXPECT_EQ(flip.FindFreeBuffer(0x10), -1);
  EXPECT_TRUE(flip.ReleaseBuffer(2, 3));
  EXPECT_EQ(flip.FindFreeBuffer(1), 2);
}

// Slots are taken per display: a slot is handed out only where it is free
// on every display of the mask. Releasing a slot past the last (4) changes
// nothing on any display.
TEST_F(Flip, SlotsAreTakenOnEveryDisplayOfTheMask) {
  struct Case {
    const char* name;
    std::vector<uint32_t> masks;
    std::vector<int32_t> slots;
  };
  const Case cases[] = {
      {"two displays, then one of them", {3, 1}, {1, 2}},
      {"two displays, then the other one", {3, 2}, {1, 2}},
      {"one display, then both", {2, 3}, {1, 2}},
      {"different displays share slot numbers", {1, 2, 4, 8}, {1, 1, 1, 1}},
      {"three, then none is left", {3, 3, 3, 1}, {1, 2, 3, -1}},
  };
  for (const Case& c : cases) {
    FlipController flip(Common(), 0);
    std::vector<int32_t> got;
    for (uint32_t mask : c.masks) got.push_back(flip.AssignBuffer(0x100000, mask));
    EXPECT_EQ(got, c.slots) << c.name;
    uint32_t before[kDisplayCount][kFlipSlotsPerDisplay];
    memcpy(before, flip.slots, sizeof(before));
    for (uint32_t mask : {1u, 3u, 0xFu}) {
      EXPECT_TRUE(flip.ReleaseBuffer(4, mask)) << c.name;
      EXPECT_EQ(memcmp(before, flip.slots, sizeof(before)), 0) << c.name << " mask " << mask;
    }
    // The primary surface's slot 0 stays taken on every display.
    EXPECT_NE(flip.FindFreeBuffer(0x2), 0) << c.name;
  }
}

TEST_F(Flip, SelectingWritesTheSlotFieldAndSyncBitOnly) {
  board.Poke(0x1800, 4, 0x1);   // the controller's own bits stay
  board.Poke(0x19A8, 4, 0x40);  // bit 6 is not display 4's sync bit
  Flips()->SelectDisplayedBuffer(0x5, 5, 1);
  EXPECT_EQ(board.Peek(0x1800, 4) & 0xFFFF, 0x1u | (1u << 7) | 0x40);
  EXPECT_EQ(board.Peek(0x19A8, 4) & 0xFFFF, 0x40u | (1u << 9) | 0x100);
  Flips()->SelectDisplayedBuffer(0x1, 2, 0);
  EXPECT_EQ(board.Peek(0x1800, 4) & 0xFFFF, 0x1u | (2u << 7));
  EXPECT_EQ(flips.Current(0), 2u);  // no sync: at once
  EXPECT_EQ(flips.Current(2), 0u);  // display 4 waits for its vertical blank
  irq.VerticalBlank(0);
  EXPECT_EQ(flips.Current(2), 1u);
}

TEST(FlipDisplayMask, FromTheUnitAndModeWordZero) {
  struct Case {
    uint32_t unit, word0, mask;
  };
  for (const Case& c : {Case{0, 0, 0x1}, Case{1, 0, 0x2}, Case{3, 0, 0x2}, Case{0, 1, 0x3},
                        Case{2, 1, 0x2}, Case{0, 2, 0xB}, Case{1, 2, 0xA}, Case{0, 3, 0x1}})
    EXPECT_EQ(DisplayMaskOf(c.unit, c.word0), c.mask) << c.unit << " " << c.word0;
}

TEST_F(Flip, AFlipIsPendingUntilTheBoardLatchesIt) {
  EXPECT_EQ(Flips()->IsFlipPending(0xF, false), 0);
  Flips()->SelectDisplayedBuffer(0x2, 3, 1);
  EXPECT_EQ(Flips()->IsFlipPending(0x2, false), 1);
  EXPECT_EQ(Flips()->IsFlipPending(0x1, false), 0);
  irq.VerticalBlank(0);  // the other controller
  EXPECT_EQ(Flips()->IsFlipPending(0x2, false), 1);
  irq.VerticalBlank(1);
  EXPECT_EQ(Flips()->IsFlipPending(0x2, false), 0);
  EXPECT_EQ(flips.Current(1), 3u);
  // Submissions outstanding count as a flip in flight; a quick question of
  // a controller with its mode word set does not look.
  SharedLocked()->pendingSubmissions = 1;
  EXPECT_EQ(Flips()->IsFlipPending(0x1, false), 1);
  FlipController quick(Common(), 1);
  EXPECT_EQ(quick.IsFlipPending(0x1, true), 0);
  EXPECT_EQ(quick.IsFlipPending(0x1, false), 1);
  SharedLocked()->pendingSubmissions = 0;
}

TEST_F(Flip, ReleasingASlotWaitsForThePendingFlip) {
  FlipController& flip = *Flips();
  ASSERT_EQ(flip.AssignBuffer(0x100000, 1), 1);
  flip.SelectDisplayedBuffer(1, 1, 1);
  expectErrors = true;
  EXPECT_FALSE(flip.ReleaseBuffer(1, 1));  // no vertical blank comes
  EXPECT_TRUE(glue.Logged("[orv] *ERROR* flip pending"));
  EXPECT_EQ(flip.FindFreeBuffer(1), 2);    // slot 1 still taken
  irq.VerticalBlank(0);
  EXPECT_TRUE(flip.ReleaseBuffer(1, 1));
  EXPECT_TRUE(flip.ReleaseBuffer(2, 1));
  EXPECT_EQ(flip.FindFreeBuffer(1), 1);
}

// A display still showing a slot that is given up (its client gone) goes
// back to slot 0, the primary surface's, at once; one that shows another
// slot is left alone.
TEST_F(Flip, ReleasingTheSlotADisplayShowsTakesItBackToSlotZero) {
  FlipController flip(Common(), 0);
  ASSERT_EQ(flip.AssignBuffer(0x100000, 3), 1);
  ASSERT_EQ(flip.AssignBuffer(0x200000, 3), 2);
  board.Poke(0x1800, 4, 0x1);
  board.Poke(0x1A00, 4, 0x1);
  flip.SelectDisplayedBuffer(1, 1, 0);
  flip.SelectDisplayedBuffer(2, 2, 0);
  ASSERT_EQ(flips.Current(0), 1u);
  ASSERT_EQ(flips.Current(1), 2u);
  EXPECT_TRUE(flip.ReleaseBuffer(1, 3));
  EXPECT_EQ(flips.Current(0), 0u);
  EXPECT_EQ(board.Peek(0x1800, 4) & 0xFFFF, 0x1u);  // slot 0, no sync, the controller on
  EXPECT_EQ(flips.Current(1), 2u);
  EXPECT_EQ(flip.FindFreeBuffer(3), 1);
  EXPECT_TRUE(flip.ReleaseBuffer(2, 2));
  EXPECT_EQ(flips.Current(1), 0u);
  EXPECT_EQ(board.Peek(0x1A00, 4) & 0xFFFF, 0x1u);
}

struct EventCase {
  const char* name;
  uint32_t flags;
  int selectedAfterVBlanks;  // the vertical blanks after the tag until the display shows it
};

void PrintTo(const EventCase& c, std::ostream* out) { *out << c.name; }

class FlipEvents : public Irq, public ::testing::WithParamInterface<EventCase> {};

TEST_P(FlipEvents, ADisplayEventFlipsWhenItsTagPassesOrAtTheVerticalBlankAfter) {
  const EventCase& c = GetParam();
  const uint32_t x = XRange({0x21212121});
  ASSERT_EQ(Post({2, x, (x + 4) | 3, {2, c.flags, 0x1}}), 0);  // slot 2 on display 1
  // The tag has passed: the interrupt was served as the request returned.
  EXPECT_EQ(Tags()->QueuedTags(), 0);
  int vblanks = 0;
  while (flips.Current(0) != 2 && vblanks < 4) {
    VBlank(0);
    ++vblanks;
  }
  EXPECT_EQ(vblanks, c.selectedAfterVBlanks);
  EXPECT_EQ(Flips()->IsFlipPending(0x1, false), 0);
  // A vertical-blank flip keeps its source: its bit stays enabled.
  EXPECT_EQ((Enable() & 0x1) != 0, (c.flags & 0x2) == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, FlipEvents,
    ::testing::Values(EventCase{"at_once_without_sync", 0x3, 0}, EventCase{"at_once_with_sync", 0x2, 1},
                      EventCase{"next_vblank_without_sync", 0x1, 1},
                      EventCase{"next_vblank_with_sync", 0x0, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
