// Policies, the frame-buffer layout, the host-aperture mapper (in the
// register log) and the surface manager on boards of different memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kernel/tests/stream_fixture.h"
#include "kernel/vidmem/frame_buffer_layout.h"
#include "kernel/vidmem/policies.h"
#include "kernel/vidmem/surface_manager.h"

namespace {

using ktest::StartedBoard;

// ---- Policies over heaps of their own ----------------------------------------------------------

class Refusing : public MmSurface {
 public:
  bool OnDiscard() override { return false; }
};

class PolicyTest : public ::testing::Test {
 protected:
  PolicyTest() {
    for (uint32_t list : {kListMain0, kListMain1}) {
      uint8_t ok = 0;
      heaps[list] = new MmRegionHeap(&ok, nullptr, kHeapDeviceAddress, list * 0x8000000, nullptr, 0x10000, 32);
      owners[list] = new MmHeapOwner(&ok, heaps[list]);
      set.lists[list].Insert(set.lists[list].end(), 1, owners[list]);
    }
    uint8_t ok = 0;
    policies = new MmPolicySet(&ok);
  }
  ~PolicyTest() override {
    delete policies;
    for (uint32_t list : {kListMain0, kListMain1}) {
      delete owners[list];
      delete heaps[list];
    }
  }
  static MmSurfAllocOpt Options(uint32_t size, bool mayEvict = true) {
    MmSurfAllocOpt o;
    o.physicalSize = size;
    o.alignment = 32;
    o.word28 = mayEvict ? 0 : 1;
    return o;
  }
  // A surface placed in the owner's heap.
  void Place(MmSurface* s, uint32_t list, uint32_t size, bool discardable) {
    s->options = Options(size);
    s->discardable = discardable ? 1 : 0;
    MmHeapOwner* owner = nullptr;
    MmBlock* block = policies->Member(list == kListMain0 ? 8 : 9)->Allocate(s->options, set, &owner);
    ASSERT_NE(block, nullptr);
    s->AttachToBlock(block);
    owner->Place(s);
  }
  orvsim::Simulation sim;
  kglue::Glue glue;
  MmRegionHeap* heaps[2] = {};
  MmHeapOwner* owners[2] = {};
  MmHeapSet set;
  MmPolicySet* policies = nullptr;
};

TEST_F(PolicyTest, MemberZeroAlwaysFailsAndDoNotEvictFailsWithoutEvicting) {
  MmHeapOwner* owner = nullptr;
  EXPECT_EQ(policies->Member(0)->Allocate(Options(32), set, &owner), nullptr);
  MmSurface evictable;
  Place(&evictable, kListMain0, 0x10000, true);  // the whole heap
  EXPECT_EQ(policies->Member(8)->Allocate(Options(64, false), set, &owner), nullptr);
  EXPECT_NE(evictable.block, nullptr);
  MmSurfAllocOpt flagged = Options(64);
  flagged.flags = kFlagDoNotEvict;
  EXPECT_EQ(policies->Member(8)->Allocate(flagged, set, &owner), nullptr);
  EXPECT_NE(evictable.block, nullptr);
  // Allowed: the surface goes and the request is served.
  MmBlock* block = policies->Member(8)->Allocate(Options(64), set, &owner);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(evictable.block, nullptr);
  block->Release();
}

TEST_F(PolicyTest, AnAlternatingPolicyStartsWithTheOtherListNextTime) {
  MmHeapOwner* owner = nullptr;
  MmBlock* first = policies->Member(5)->Allocate(Options(64), set, &owner);
  EXPECT_EQ(owner, owners[0]);
  MmBlock* second = policies->Member(5)->Allocate(Options(64), set, &owner);
  EXPECT_EQ(owner, owners[1]);
  // Members 6 and 7 start with their own list every time.
  MmBlock* third = policies->Member(7)->Allocate(Options(64), set, &owner);
  EXPECT_EQ(owner, owners[1]);
  MmBlock* fourth = policies->Member(7)->Allocate(Options(64), set, &owner);
  EXPECT_EQ(owner, owners[1]);
  for (MmBlock* b : {first, second, third, fourth}) b->Release();
}

TEST_F(PolicyTest, EvictionSparesPinnedAndRefusingSurfacesAndStopsWhenThereIsRoom) {
  MmSurface pinned;
  Refusing refusing;
  MmSurface oldest, younger;
  Place(&pinned, kListMain0, 0x4000, false);
  Place(&refusing, kListMain0, 0x4000, true);
  Place(&oldest, kListMain0, 0x4000, true);
  Place(&younger, kListMain0, 0x4000, true);
  MmHeapOwner* owner = nullptr;
  MmBlock* block = policies->Member(8)->Allocate(Options(0x4000), set, &owner);
  ASSERT_NE(block, nullptr);
  EXPECT_NE(pinned.block, nullptr);
  EXPECT_NE(refusing.block, nullptr);
  EXPECT_EQ(oldest.block, nullptr);
  EXPECT_NE(younger.block, nullptr);
  block->Release();
  // With the pinned and the refusing surface staying, the whole heap cannot
  // be had, whatever else goes.
  EXPECT_EQ(policies->Member(8)->Allocate(Options(0x10000), set, &owner), nullptr);
  EXPECT_NE(pinned.block, nullptr);
  EXPECT_NE(refusing.block, nullptr);
  for (MmSurface* s : {static_cast<MmSurface*>(&pinned), static_cast<MmSurface*>(&refusing), &younger})
    s->Unlink();  // the rings outlive the surfaces
}

TEST_F(PolicyTest, RangePoliciesCountTheRangesOfEachOwnerOnce) {
  // One even bank range over each heap.
  ASSERT_TRUE(owners[0]->MakeBankRanges(0x2));
  ASSERT_TRUE(owners[1]->MakeBankRanges(0x2));
  MmSurface surface;
  Place(&surface, kListMain0, 0x4000, true);
  // Member 18 walks list 0's even banks twice: counted once.
  EXPECT_EQ(policies->Member(18)->GetFreeBytes(set), 0xC000u);
  EXPECT_EQ(policies->Member(18)->GetEvictableBytes(set), 0x4000u);
  // Member 20 walks both owners.
  EXPECT_EQ(policies->Member(20)->GetFreeBytes(set), 0xC000u + 0x10000u);
  EXPECT_EQ(policies->Member(22)->GetEvictableBytes(set), 0u);
  surface.Unlink();  // the ring outlives the surface
}

TEST(BankRanges, StepByChipClassAndOddEvenBanks) {
  EXPECT_EQ(BankStep(0x10000), 0x2000000u);  // 0x5D63
  EXPECT_EQ(BankStep(0x1C00), 0x800000u);    // 0x5D61
  EXPECT_EQ(BankStep(0x2), 0x1000000u);      // 0x0A41
  orvsim::Simulation sim;
  kglue::Glue glue;
  uint8_t ok = 0;
  MmRegionHeap heap(&ok, nullptr, kHeapDeviceAddress, 0x8200000, nullptr, 0x3E00000, 32);
  MmHeapOwner owner(&ok, &heap);
  ASSERT_TRUE(owner.MakeBankRanges(0x10000));
  // [0x8200000, 0xA000000) even, [0xA000000, 0xC000000) odd.
  ASSERT_EQ(heap.RangeCount(), 2u);
  EXPECT_EQ(heap.RangeAt(0).start, 0u);
  EXPECT_EQ(heap.RangeAt(0).end, 0x1E00000u);
  EXPECT_EQ(heap.RangeAt(1).start, 0x1E00000u);
  EXPECT_EQ(heap.RangeAt(1).end, 0x3E00000u);
  ASSERT_EQ(owner.evenBanks.size(), 1u);
  ASSERT_EQ(owner.oddBanks.size(), 1u);
  EXPECT_EQ(owner.oddBanks[0], 1u);
}

// ---- Layout --------------------------------------------------------------------------------------

struct LayoutCase {
  uint32_t m0, m1;
  uint32_t main0Size, top0Offset, top0Size;
  uint32_t mappedSize, main1Offset, main1Size, top1Offset, total;
};

TEST(FrameBufferLayoutTable, ThePartsOfEachPartition) {
  constexpr uint32_t MB = 1u << 20;
  const LayoutCase cases[] = {
      {64 * MB, 0, 63 * MB, 63 * MB, MB, 0, 0, 0, 0, 64 * MB},
      {128 * MB, 128 * MB, 128 * MB - 0xA0000, 128 * MB - 0xA0000, 0xA0000, 2 * MB, 0x8200000,
       128 * MB - 0x280000, 0x8000000 + 128 * MB - 0x80000, 256 * MB},
      // Partition 1's main heap ends where its top area starts.
      {128 * MB, 64 * MB, 128 * MB - 0xA0000, 128 * MB - 0xA0000, 0xA0000, 2 * MB, 0x8200000,
       64 * MB - 0x280000, 0x8000000 + 64 * MB - 0x80000, 192 * MB},
  };
  for (const LayoutCase& c : cases) {
    const FrameBufferLayout l = ComputeFrameBufferLayout(c.m0, c.m1);
    EXPECT_EQ(l.main0Offset, 0u);
    EXPECT_EQ(l.main0Size, c.main0Size) << c.m1;
    EXPECT_EQ(l.top0Offset, c.top0Offset);
    EXPECT_EQ(l.top0Size, c.top0Size);
    EXPECT_EQ(l.mappedOffset, 0x8000000u);
    EXPECT_EQ(l.mappedSize, c.mappedSize);
    EXPECT_EQ(l.hasPartition1, c.m1 != 0 ? 1u : 0u);
    EXPECT_EQ(l.main1Offset, c.main1Offset);
    EXPECT_EQ(l.main1Size, c.main1Size);
    EXPECT_EQ(l.top1Offset, c.top1Offset);
    EXPECT_EQ(l.total, c.total);
    EXPECT_TRUE(c.m1 == 0 || l.main1Offset + l.main1Size == l.top1Offset);
  }
}

// ---- The mapper in the register log ------------------------------------------------------------

class Mapper : public StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    uint8_t ok = 0;
    // A second mapper over the board's aperture, with its own windows.
    bus = static_cast<uint32_t>(OrvRegion_GetPhys(OrvDevice_GetFrameBuffer(device)));
    mapper = new MmSurfaceMapper(&ok, bus, 0, 32u << 20, Common());
    ASSERT_TRUE(ok);
  }
  void TearDown() override {
    for (MmHostAperture* w : windows) delete w;
    delete mapper;
    StartedBoard::TearDown();
  }
  MmHostAperture* Window(uint32_t size, uint32_t options = kApertureExplicitSize, bool releasable = false,
                         uint32_t fixedOffset = 0) {
    MmHostApertureDesc d = {};
    d.options = options;
    d.releasable = releasable ? 1 : 0;
    d.explicitSize = size;
    d.fixedOffset = fixedOffset;
    d.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
    d.desc.size = size;
    auto* w = new MmHostAperture(d);
    windows.push_back(w);
    return w;
  }
  std::vector<uint32_t> SlotWrites(uint32_t first, uint32_t last) const {
    std::vector<uint32_t> out;
    for (const auto& a : board.LoggedWrites())
      if (a.offset >= first && a.offset < last) out.push_back(a.offset);
    return out;
  }
  uint32_t bus = 0;
  MmSurfaceMapper* mapper = nullptr;
  std::vector<MmHostAperture*> windows;
};

TEST_F(Mapper, TwentySlotsThenAReleasableWindowGoesWithoutOne) {
  // The reserved window holds slot 0.
  EXPECT_EQ(mapper->reserved->slotIndex, 0);
  for (int i = 1; i < 20; ++i) ASSERT_TRUE(mapper->AllocateAperture(Window(0x40000))) << i;
  EXPECT_FALSE(mapper->AllocateAperture(Window(0x40000)));
  MmHostAperture* releasable = Window(0x40000, kApertureExplicitSize, true);
  ASSERT_TRUE(mapper->AllocateAperture(releasable));
  EXPECT_EQ(releasable->slotIndex, kSlotUnmapped);
  EXPECT_NE(releasable->block, nullptr);
}

TEST_F(Mapper, AWindowOfWholeGranulesKeepsOneGranuleAfterIt) {
  MmHostAperture* w = Window(0x80000, 0);  // 512 KB by its descriptor, no fixed offset or size
  ASSERT_TRUE(mapper->AllocateAperture(w));
  EXPECT_EQ(w->block->size, 0xC0000u);
  EXPECT_EQ(w->hostSize, 0x80000u);
}

// A window without the place-high option goes to the start of the lowest
// free region, one with it to the top of the highest. Low windows left at
// the top of the lowest region would put the reserved window, made first,
// into the top granule of the aperture, where the manager's fixed window
// of the mapped local heap must go: no board with a second partition
// could then be set up.
TEST_F(Mapper, LowWindowsGoToTheStartAndLeaveTheTopToTheMappedHeap) {
  EXPECT_EQ(mapper->reserved->block->offset, 0u);
  MmHostAperture* low = Window(0x40000);
  MmHostAperture* high = Window(0x40000, kApertureExplicitSize | kAperturePlaceHigh);
  ASSERT_TRUE(mapper->AllocateAperture(low));
  ASSERT_TRUE(mapper->AllocateAperture(high));
  EXPECT_EQ(low->block->offset, 0x40000u);
  EXPECT_EQ(high->block->offset, (32u << 20) - 0x40000u);

  MmSurfaceManager* m = Common()->memoryManager;
  EXPECT_EQ(m->MappedHeapSize(), 2u << 20);
  ASSERT_NE(m->mappedWindow.block, nullptr);
  EXPECT_EQ(m->mappedWindow.block->offset, (32u << 20) - (2u << 20));
  EXPECT_EQ(m->mapper->reserved->block->offset, 0u);
}

TEST_F(Mapper, WindowsMadeInDecreasingOrderKeepTheSlotsOrdered) {
  mapper->Enable();
  board.SetLogging(false, true);
  board.ClearLog();
  MmHostAperture* high = Window(0x40000, kApertureExplicitSize | kApertureFixedOffset, false, 0x800000);
  MmHostAperture* middle = Window(0x40000, kApertureExplicitSize | kApertureFixedOffset, false, 0x400000);
  ASSERT_TRUE(mapper->AllocateAperture(high));
  ASSERT_TRUE(mapper->AllocateAperture(middle));
  // The reserved window lies lowest: slot 0; then middle, then high.
  EXPECT_EQ(mapper->slots[0], mapper->reserved);
  EXPECT_EQ(middle->slotIndex, 1);
  EXPECT_EQ(high->slotIndex, 2);
  // high moved from slot 1 to slot 2: four writes there; slot 1 was cleared
  // (one write) and then took middle (four).
  EXPECT_EQ(SlotWrites(16, 48), (std::vector<uint32_t>{16, 20, 24, 28,      // high in slot 1
                                                      32, 36, 40, 44,      // high moved to slot 2
                                                      16,                  // slot 1 cleared
                                                      16, 20, 24, 28}));   // middle in slot 1
  EXPECT_EQ(board.Peek(16, 4), 0x400000u | kSlotEnable | (bus & kSlotAddressBits));
  EXPECT_EQ(board.Peek(32, 4), 0x800000u | kSlotEnable | (bus & kSlotAddressBits));
  mapper->ReleaseAperture(middle);
  EXPECT_EQ(board.Peek(16, 4), 0u);
  mapper->Disable();
}

TEST_F(Mapper, NestedLocksMapOnceAndTheLastUnlockUnmapsAndReleases) {
  MmHostAperture* w = Window(0x40000, kApertureExplicitSize, true);
  w->mapper = mapper;
  w->common = Common();
  const size_t mappings = glue.LiveKernelMappings();
  uint64_t offset = 0;
  uint8_t* cpu = nullptr;
  ASSERT_TRUE(w->Lock(&offset, &cpu));
  ASSERT_TRUE(w->Lock(nullptr, nullptr));
  EXPECT_EQ(glue.LiveKernelMappings(), mappings + 1);
  EXPECT_NE(cpu, nullptr);
  EXPECT_EQ(offset, w->block->offset);
  w->Unlock();
  EXPECT_NE(w->block, nullptr);
  w->Unlock();
  EXPECT_EQ(glue.LiveKernelMappings(), mappings);
  EXPECT_EQ(w->block, nullptr);
  w->Unlock();  // nothing more to undo
  EXPECT_EQ(glue.LiveKernelMappings(), mappings);
}

// Room in the aperture comes only from windows that are releasable and not
// locked, lowest slot first; a locked window keeps its place.
TEST_F(Mapper, RoomIsMadeOnlyFromUnlockedReleasableWindows) {
  constexpr uint32_t k12MB = 12u << 20;
  struct Case {
    const char* name;
    bool lockLow, lockHigh;
    bool made, lowKept, highKept;
  };
  const Case cases[] = {
      {"neither locked: the lowest slot goes", false, false, true, false, true},
      {"the low window locked", true, false, true, true, false},
      {"the high window locked", false, true, true, false, true},
      {"both locked: no room", true, true, false, true, true},
  };
  for (const Case& c : cases) {
    MmHostAperture* low = Window(k12MB, kApertureExplicitSize, true);
    MmHostAperture* high = Window(k12MB, kApertureExplicitSize, true);
    ASSERT_TRUE(mapper->AllocateAperture(low)) << c.name;
    ASSERT_TRUE(mapper->AllocateAperture(high)) << c.name;
    ASSERT_LT(low->slotIndex, high->slotIndex) << c.name;
    if (c.lockLow) {
      ASSERT_TRUE(low->Lock(nullptr, nullptr)) << c.name;
    }
    if (c.lockHigh) {
      ASSERT_TRUE(high->Lock(nullptr, nullptr)) << c.name;
    }
    const uint64_t lowAt = low->block->offset;
    const uint64_t highAt = high->block->offset;
    MmHostAperture* big = Window(k12MB);  // not releasable itself
    EXPECT_EQ(mapper->AllocateAperture(big), c.made) << c.name;
    EXPECT_EQ(low->block != nullptr, c.lowKept) << c.name;
    EXPECT_EQ(high->block != nullptr, c.highKept) << c.name;
    if (c.lowKept && low->block != nullptr) {
      EXPECT_EQ(low->block->offset, lowAt) << c.name;
    }
    if (c.highKept && high->block != nullptr) {
      EXPECT_EQ(high->block->offset, highAt) << c.name;
    }
    mapper->ReleaseAperture(big);
    for (MmHostAperture* w : {low, high}) {
      if (w->lockCount != 0) w->Unlock();
      mapper->ReleaseAperture(w);
    }
  }
}

// ---- Multi-apertures and shadow copies on the board's own mapper ----------------------------------

class BoardMapper : public StartedBoard {
 protected:
  void TearDown() override {
    for (MmHostAperture* w : windows) delete w;
    StartedBoard::TearDown();
  }
  MmSurfaceMapper* M() { return Common()->memoryRecord->mapper; }
  // A window onto a pitch-linear surface in local memory.
  MmHostAperture* Plane(uint32_t local, uint32_t width, uint32_t height, uint32_t format,
                        bool releasable = false) {
    MmHostApertureDesc d = {};
    d.releasable = releasable ? 1 : 0;
    d.desc.word0 = local;  // local memory
    d.desc.word1 = MmSurfDesc::MakeWord1(width, kLayoutPitchLinear, format);
    d.desc.word2 = MmSurfDesc::MakeWord2(height, 1);
    auto* w = new MmHostAperture(d);
    windows.push_back(w);
    return w;
  }
  // A window that holds a slot and shows nothing.
  MmHostAperture* Filler() {
    MmHostApertureDesc d = {};
    d.options = kApertureExplicitSize;
    d.explicitSize = 0x40000;
    auto* w = new MmHostAperture(d);
    windows.push_back(w);
    return w;
  }
  uint32_t UsedSlots() const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < 20; ++i) n += board.Peek(16 * i, 4) != 0 ? 1 : 0;
    return n;
  }
  std::vector<uint32_t> Keys() const {
    std::vector<uint32_t> keys;
    for (uint32_t i = 0; i < 20; ++i) keys.push_back(board.Peek(16 * i, 4));
    return keys;
  }
  // The windows the slots show, with their descriptors, in key order.
  std::vector<std::vector<uint32_t>> Shown() const {
    std::vector<std::vector<uint32_t>> out;
    for (uint32_t i = 0; i < 20; ++i) {
      if (board.Peek(16 * i, 4) == 0) continue;
      out.push_back({board.Peek(16 * i, 4), board.Peek(16 * i + 4, 4), board.Peek(16 * i + 8, 4),
                     board.Peek(16 * i + 12, 4)});
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  uint32_t Local32(uint32_t at) const {
    uint32_t v;
    memcpy(&v, board.LocalMemory() + at, 4);
    return v;
  }
  uint32_t Key(uint64_t offset) const {
    const uint32_t bus = static_cast<uint32_t>(OrvRegion_GetPhys(OrvDevice_GetFrameBuffer(device)));
    return static_cast<uint32_t>(offset) | kSlotEnable | (bus & kSlotAddressBits);
  }
  std::vector<MmHostAperture*> windows;
};

TEST_F(BoardMapper, AGroupOfTwoPlanesShowsEachPlaneThroughASlotOfItsOwn) {
  const uint32_t usedBefore = UsedSlots();
  MmHostAperture* luma = Plane(0xA00000, 256, 16, 0x30);   // 32 bits: 1024-byte lines
  MmHostAperture* chroma = Plane(0xB00000, 256, 8, 0x10);  // 8 bits: 256-byte lines
  MmMultiAperture group(M(), 0, kAperturePriorityNormal);
  ASSERT_TRUE(group.AddAperture(luma, 0));
  ASSERT_TRUE(group.AddAperture(chroma, 0x4000));
  EXPECT_EQ(group.Span(), 0x4000u + 8 * 256);
  const size_t mappings = glue.LiveKernelMappings();
  uint64_t offset = 0;
  uint8_t* cpu = nullptr;
  ASSERT_TRUE(group.Lock(&offset, &cpu));
  ASSERT_NE(group.block, nullptr);
  EXPECT_EQ(offset, group.block->offset);
  EXPECT_EQ(UsedSlots(), usedBefore + 2);
  for (const auto& [member, at] : {std::pair{luma, 0u}, std::pair{chroma, 0x4000u}}) {
    ASSERT_GE(member->slotIndex, 0);
    const uint32_t reg = 16 * static_cast<uint32_t>(member->slotIndex);
    EXPECT_EQ(member->block, group.block);
    EXPECT_EQ(board.Peek(reg, 4), Key(offset + at));
    EXPECT_EQ(board.Peek(reg + 4, 4), member->desc.word0);
    EXPECT_EQ(board.Peek(reg + 8, 4), member->desc.word1);
    EXPECT_EQ(board.Peek(reg + 12, 4), member->desc.word2);
    EXPECT_EQ(member->lockCount, 1u);
  }
  // The processor writes each plane through its window, in its layout.
  const uint32_t pixel = 0x11223344;
  memcpy(cpu + 2 * 1024 + 3 * 4, &pixel, 4);
  cpu[0x4000 + 5 * 256 + 7] = 0xAB;
  EXPECT_EQ(Local32(0xA00000 + 2 * 1024 + 12), pixel);
  EXPECT_EQ(board.LocalMemory()[0xB00000 + 5 * 256 + 7], 0xAB);

  // A member's lock is the group's: one mapping, the member's own address.
  uint64_t memberOffset = 0;
  uint8_t* memberCpu = nullptr;
  ASSERT_TRUE(chroma->Lock(&memberOffset, &memberCpu));
  EXPECT_EQ(memberCpu, cpu + 0x4000);
  EXPECT_EQ(memberOffset, offset + 0x4000);
  EXPECT_EQ(luma->lockCount, 2u);
  EXPECT_EQ(glue.LiveKernelMappings(), mappings + 1);
  chroma->Unlock();
  EXPECT_NE(group.block, nullptr);
  group.Unlock();
  // The last unlock gives both slots and the block back.
  EXPECT_EQ(group.block, nullptr);
  EXPECT_EQ(luma->block, nullptr);
  EXPECT_EQ(chroma->slotIndex, kSlotNone);
  EXPECT_EQ(UsedSlots(), usedBefore);
  EXPECT_EQ(glue.LiveKernelMappings(), mappings);
}

TEST_F(BoardMapper, TwentyMembersAtMostAndAMemberWithoutASlotReleasesTheOthers) {
  MmSurfaceMapper* m = M();
  const uint32_t free = 20 - UsedSlots();  // the reserved window holds one
  ASSERT_LT(free, 20u);
  // Windows may move between slots to keep them ordered; what the slots
  // show is compared.
  const std::vector<std::vector<uint32_t>> shown = Shown();
  const uint32_t heapFree = m->heap->GetFreeBytes();

  MmMultiAperture group(m, 0, kAperturePriorityNormal);
  for (uint32_t i = 0; i < 20; ++i)
    ASSERT_TRUE(group.AddAperture(Plane(0xA00000 + 0x10000 * i, 256, 16, 0x30), 0x4000 * i)) << i;
  EXPECT_FALSE(group.AddAperture(Plane(0xA00000, 256, 16, 0x30), 0x4000 * 20));
  EXPECT_EQ(group.count, 20u);
  // More members than free slots: the member that finds none fails the
  // group, and everything the others took goes back.
  uint64_t offset = 7;
  uint8_t* cpu = nullptr;
  EXPECT_FALSE(group.Lock(&offset, &cpu));
  EXPECT_EQ(offset, 7u);
  EXPECT_EQ(cpu, nullptr);
  EXPECT_EQ(Shown(), shown);
  EXPECT_EQ(m->heap->GetFreeBytes(), heapFree);
  for (uint32_t i = 0; i < group.count; ++i) {
    EXPECT_EQ(group.members[i].aperture->block, nullptr) << i;
    EXPECT_EQ(group.members[i].aperture->slotIndex, kSlotNone) << i;
  }

  // As many members as free slots: each gets one, the table in address order.
  MmMultiAperture fits(m, 0, kAperturePriorityNormal);
  for (uint32_t i = 0; i < free; ++i)
    ASSERT_TRUE(fits.AddAperture(Plane(0xA00000 + 0x10000 * i, 256, 16, 0x30), 0x4000 * i));
  ASSERT_TRUE(fits.Lock(&offset, &cpu));
  EXPECT_EQ(UsedSlots(), 20u);
  const std::vector<uint32_t> full = Keys();
  for (uint32_t i = 1; i < 20; ++i) EXPECT_LT(full[i - 1], full[i]) << i;
  for (uint32_t i = 0; i < free; ++i) {
    const MmHostAperture* member = fits.members[i].aperture;
    EXPECT_EQ(full[static_cast<uint32_t>(member->slotIndex)], Key(offset + 0x4000 * i)) << i;
  }
  fits.Unlock();
  EXPECT_EQ(Shown(), shown);
  EXPECT_EQ(m->heap->GetFreeBytes(), heapFree);
}

TEST_F(BoardMapper, AWindowWithoutASlotWorksOnACopyKeptInItsSurfacesLayout) {
  MmSurfaceMapper* m = M();
  while (UsedSlots() < 20) ASSERT_TRUE(m->AllocateAperture(Filler()));
  // 128 x 10 at 32 bits, pitch-linear: 512-byte lines.
  constexpr uint32_t kAt = 0xA00000;
  constexpr uint32_t kPitch = 512;
  auto pixel = [](uint32_t x, uint32_t y) { return 0xC0000000u | (y << 16) | x; };
  for (uint32_t y = 0; y < 10; ++y)
    for (uint32_t x = 0; x < 128; ++x) {
      const uint32_t v = pixel(x, y);
      memcpy(board.LocalMemory() + kAt + y * kPitch + 4 * x, &v, 4);
    }
  const std::vector<std::vector<uint32_t>> shown = Shown();
  MmHostAperture* w = Plane(kAt, 128, 10, 0x30, true);

  ASSERT_TRUE(m->AllocateAperture(w));
  uint64_t offset = 0;
  uint8_t* cpu = nullptr;
  ASSERT_TRUE(w->Lock(&offset, &cpu));
  EXPECT_EQ(w->slotIndex, kSlotUnmapped);
  ASSERT_NE(w->shadow, nullptr);
  EXPECT_EQ(cpu, w->shadow->cpuAddress);
  EXPECT_EQ(w->hostPitch, kPitch);
  // The slots show what they showed: the copy borrowed the reserved
  // window's slot and gave it back.
  EXPECT_EQ(Shown(), shown);
  // The copy holds the surface at its host pitch.
  for (const auto& [x, y] : {std::pair{0u, 0u}, std::pair{7u, 3u}, std::pair{127u, 9u}}) {
    uint32_t v;
    memcpy(&v, cpu + y * w->hostPitch + 4 * x, 4);
    EXPECT_EQ(v, pixel(x, y)) << x << "," << y;
  }
  // Writes reach the surface when the window goes, in its layout.
  const uint32_t written = 0xDEADBEEF;
  memcpy(cpu + 3 * w->hostPitch + 4 * 7, &written, 4);
  EXPECT_EQ(Local32(kAt + 3 * kPitch + 4 * 7), pixel(7, 3));
  w->Unlock();
  EXPECT_EQ(Local32(kAt + 3 * kPitch + 4 * 7), written);
  EXPECT_EQ(Local32(kAt + 3 * kPitch + 4 * 6), pixel(6, 3));
  EXPECT_EQ(Local32(kAt + 9 * kPitch + 4 * 127), pixel(127, 9));
  EXPECT_EQ(w->block, nullptr);
  EXPECT_EQ(w->shadow, nullptr);
  EXPECT_EQ(m->unslotted, nullptr);
  EXPECT_EQ(Shown(), shown);

  // The mapper locks and unlocks a mapped window by its mapping id.
  ASSERT_TRUE(m->AllocateAperture(w));
  const uint32_t id = w->MappingId();
  EXPECT_EQ(m->FindMapped(id), w);
  EXPECT_TRUE(m->LockDown(id));
  EXPECT_EQ(w->lockCount, 1u);
  EXPECT_TRUE(m->UnlockDown(id));
  EXPECT_EQ(w->block, nullptr);  // the last unlock released it
  EXPECT_FALSE(m->LockDown(id));
  EXPECT_FALSE(m->UnlockDown(id));
  EXPECT_EQ(Local32(kAt + 3 * kPitch + 4 * 7), written);
}

// ---- The surface manager on boards of different memory ---------------------------------------------

orvsim::BoardConfig Memory(uint64_t aperture, uint64_t m0, uint64_t m1) {
  orvsim::BoardConfig config;
  config.memory_size = aperture;
  config.partition0_size = m0;
  config.partition1_size = m1;
  return config;
}

class OnePartition : public StartedBoard {
 protected:
  OnePartition() : StartedBoard(Memory(64u << 20, 64u << 20, 0)) {}
};

TEST_F(OnePartition, HasNoMappedHeapNoPartitionOneHeapsAndNoWindow) {
  MmSurfaceManager* m = Common()->memoryManager;
  EXPECT_EQ(Common()->memoryRecord->mappedHeapSize, 0u);
  EXPECT_TRUE(m->heapSet->lists[kListMain1].empty());
  EXPECT_TRUE(m->heapSet->lists[kListTop1].empty());
  EXPECT_TRUE(m->heapSet->lists[kListMapped].empty());
  EXPECT_EQ(m->frameBufferWindow, nullptr);
  EXPECT_EQ(m->GetLocalHeapSize(0), (64u << 20) - (1u << 20));
  // A second device object shares the manager and the mapper.
  PDEV* second = Enable(file, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->surfaceManager, pdev->surfaceManager);
  EXPECT_EQ(second->surfaceMapper, pdev->surfaceMapper);
  // A placed surface stays as it is.
  MmSurface surface;
  surface.options.physicalSize = 0x1000;
  surface.options.alignment = 64;
  surface.options.requestedKind = 0;
  surface.options.heapSelector = 3;
  ASSERT_TRUE(m->CreateSurface(&surface));
  MmBlock* block = surface.block;
  EXPECT_TRUE(m->CreateSurface(&surface));
  EXPECT_EQ(surface.block, block);
  m->DestroySurface(&surface);
  EXPECT_EQ(surface.block, nullptr);
}

class HalfBehindHalf : public StartedBoard {
 protected:
  HalfBehindHalf() : StartedBoard(Memory(128u << 20, 128u << 20, 128u << 20)) {}
};

TEST_F(HalfBehindHalf, TheWindowCoversHalfOfPartitionOneLessTheMappedHeap) {
  MmSurfaceManager* m = Common()->memoryManager;
  ASSERT_NE(m->frameBufferWindow, nullptr);
  EXPECT_EQ(m->MappedHeapSize(), 2u << 20);
  EXPECT_EQ(m->frameBufferWindow->desc.word0, 0x8000000u + (2u << 20));
  EXPECT_EQ(m->frameBufferWindow->desc.size, (64u << 20) - (2u << 20));
  EXPECT_EQ(m->frameBufferWindow->lockCount, 1u);
  EXPECT_FALSE(m->heapSet->lists[kListMain1].empty());
  EXPECT_EQ(m->heapSet->First(kListMain1)->heap->size, (128u << 20) - 0x280000u);
}

class TooSmallAnAperture : public StartedBoard {
 protected:
  TooSmallAnAperture() : StartedBoard(Memory(64u << 20, 64u << 20, 32u << 20)) {}
};

TEST_F(TooSmallAnAperture, MakesNoWindowOverPartitionOne) {
  EXPECT_EQ(Common()->memoryManager->frameBufferWindow, nullptr);
  EXPECT_EQ(Common()->memoryManager->MappedHeapSize(), 2u << 20);
}

// A mapper made without the board's common data writes no slot register:
// a window that must work on a copy cannot be copied and is refused.
TEST_F(Mapper, AMapperWithoutCommonDataRefusesACopyWithoutWritingARegister) {
  uint8_t ok = 0;
  std::unique_ptr<MmSurfaceMapper> bare(new MmSurfaceMapper(&ok, bus, 0, 32u << 20, nullptr));
  ASSERT_TRUE(ok);
  for (int i = 1; i < 20; ++i) ASSERT_TRUE(bare->AllocateAperture(Window(0x40000))) << i;
  MmHostAperture* releasable = Window(0x40000, kApertureExplicitSize, true);
  board.ClearLog();
  board.SetLogging(false, true);
  EXPECT_FALSE(bare->AllocateAperture(releasable));
  board.SetLogging(false, false);
  EXPECT_TRUE(SlotWrites(0, 16 * 20).empty());
  EXPECT_EQ(releasable->block, nullptr);
  EXPECT_EQ(bare->unslotted, nullptr);
  EXPECT_EQ(bare->reserved->slotIndex, 0) << "the reserved window has its slot back";
}

}  // namespace
