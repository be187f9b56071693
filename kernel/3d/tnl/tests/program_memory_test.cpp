// The board's vertex program builder over a started device: its prebuilt
// programs, the program memory it chooses, the slot ring fenced by sealed
// batch tags, and direct writes into the engine's own program memory as the
// board sees them.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "core/bm_buffer.h"
#include "core/driver_switches.h"
#include "core/regs/engine3d.h"
#include "core/wait_bounds.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/locked_pages.h"
#include "kernel/sync_tags.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_vertex.h"

namespace {

// Tries of one bounded kernel wait: its spin, then one per pause.
constexpr uint64_t kWaitTries = kWaitSpinTries + kKernelWaitMicroseconds / kWaitStepMicroseconds;

class BuilderTest : public ktest::StartedBoard {
 protected:
  VertexProgramBuilder* B() { return Common()->vertexProgramBuilder; }
  DriverSwitchesCommon* Switches() { return Common()->driverSwitches; }

  // A program of size bytes whose words say (tag, word index).
  VertexProgram* Program(uint32_t size, uint32_t tag) {
    auto* code = static_cast<uint8_t*>(memAlloc(size));
    for (uint32_t w = 0; w < size / 4; ++w) {
      const uint32_t word = tag << 16 | w;
      memcpy(code + 4 * w, &word, 4);
    }
    auto* p = new VertexProgram;
    p->SetCode(code, size, true);
    programs.emplace_back(p);
    return p;
  }
  // The engine reaches a tag (and the block says so).
  void EngineAt(uint32_t tag) {
    SharedLocked()->completedTag = tag;
    board.Poke(0x41C, 4, tag);
  }
  // A ring of the slots [start, 682) only, empty.
  void RingFrom(uint32_t start) {
    B()->ResetSlots(true);
    B()->ringStart = B()->ringHead = start;
  }
  void TearDown() override {
    if (B() != nullptr)
      for (auto& p : programs) B()->DetachProgram(p.get(), nullptr);
    programs.clear();
    StartedBoard::TearDown();
  }

  orvsim::VertexEngine& vertex = *parts.vertex;
  std::vector<std::unique_ptr<VertexProgram>> programs;
};

// ---- The builder ----------------------------------------------------------------------------

TEST_F(BuilderTest, PrebuiltProgramsHaveTheirSizesAndOnlyTheirIds) {
  ASSERT_NE(B(), nullptr);
  const struct {
    int32_t id;
    uint32_t size, slots;
  } sizes[] = {{0, 168, 1},  {1, 348, 1},  {2, 300, 1},  {3, 204, 1},  {6, 552, 1},
               {7, 564, 1},  {8, 240, 1},  {9, 492, 1},  {10, 504, 1}, {11, 192, 1},
               {12, 120, 1}, {15, 684, 1}, {16, 120, 1}, {17, 4932, 4}};
  for (const auto& s : sizes) {
    VertexProgram* p = B()->GetFixedProgram(s.id, 0);
    ASSERT_NE(p, nullptr) << s.id;
    EXPECT_EQ(p->codeSize, s.size) << s.id;
    EXPECT_EQ(p->slotCount, s.slots) << s.id;
    EXPECT_EQ(p->permanent, 1) << s.id;
    EXPECT_EQ(p->ownsCode, 0) << s.id;
  }
  for (uint32_t i = 0; i < 16; ++i)
    EXPECT_EQ(B()->GetFixedProgram(4, i)->codeSize, i <= 3 ? 120u : 120 + 24 * (i - 3)) << i;
  EXPECT_EQ(B()->GetFixedProgram(4, 15)->codeSize, 408u);
  for (int32_t id : {-1, 5, 13, 14, 18}) EXPECT_EQ(B()->GetFixedProgram(id, 0), nullptr) << id;
  EXPECT_EQ(B()->GetFixedProgram(4, 16), nullptr) << "the indexed programs end at 15";
}

TEST_F(BuilderTest, AfterCreateAndEnableThePreloadedProgramsLeadTheRing) {
  EXPECT_EQ(board.Peek(kRegVertexProgramMode, 4), kProgramModeSlots);
  EXPECT_EQ(B()->slotMode, 1u);
  for (uint32_t id = 6; id <= 12; ++id) {
    VertexProgram* p = B()->GetFixedProgram(id, 0);
    EXPECT_EQ(B()->slots[id - 6].program, p) << id;
    EXPECT_EQ(B()->slots[id - 6].runLength, 1u) << id;
    EXPECT_EQ(p->resident, 1) << id;
    EXPECT_EQ(p->IsLoadPending(), 1u) << id;
  }
  VertexProgram* p17 = B()->GetFixedProgram(17, 0);
  for (uint32_t s = 7; s <= 10; ++s) {
    EXPECT_EQ(B()->slots[s].program, p17) << s;
    EXPECT_EQ(B()->slots[s].runLength, 11 - s) << s;
  }
  EXPECT_EQ(p17->resident, 1);
  EXPECT_EQ(p17->IsLoadPending(), 1u);
  EXPECT_EQ(B()->ringStart, 11u);
  EXPECT_EQ(B()->ringHead, 11u);
  EXPECT_EQ(B()->slots[11].program, nullptr);
  // The code sits in the slots as the engine fetches it.
  EXPECT_EQ(memcmp(B()->slot0Cpu + 7 * kSlotBytes, p17->code, p17->codeSize), 0);
}

TEST_F(BuilderTest, ASecondDeviceReusesTheBuilderAndRebuildsOnlyForANewCacheMode) {
  VertexProgramBuilder* first = B();
  uint8_t* memory = first->memoryCpu;
  first->memoryChanged = 0;
  ASSERT_NE(Enable(file, 1), nullptr);
  EXPECT_EQ(B(), first);
  EXPECT_EQ(first->memoryCpu, memory) << "unchanged cache mode: memory kept";
  EXPECT_EQ(first->memoryChanged, 0);

  // Direct mode from the next device on: memory goes, the preloaded
  // programs are written into the engine and all are load pending.
  glue.SetParameter("reg3DVECacheMode", 0);
  const size_t locked = glue.LiveLockedPages();
  ASSERT_NE(Enable(file, 2), nullptr);
  EXPECT_EQ(B(), first);
  EXPECT_EQ(first->slotMode, 0u);
  EXPECT_EQ(first->memoryCpu, nullptr);
  EXPECT_EQ(glue.LiveLockedPages(), locked - 1);
  EXPECT_EQ(board.Peek(kRegVertexProgramMode, 4), 0u);
  uint32_t total = 0;
  for (uint32_t id = 6; id <= 12; ++id) {
    EXPECT_EQ(first->GetFixedProgram(id, 0)->IsLoadPending(), 1u) << id;
    EXPECT_EQ(first->GetFixedProgram(id, 0)->resident, 0) << id;
    total += first->GetFixedProgram(id, 0)->codeSize;
  }
  EXPECT_EQ(first->directTotal, total);
  EXPECT_EQ(vertex.ProgramWordsWritten(), total / 4);
}

TEST_F(BuilderTest, ClipFragmentsFollowTheBoardAndTheClippingType) {
  const struct {
    uint32_t revision, clippingType;
    uint8_t clip;
  } cases[] = {{0x400, 0, 1}, {0x40000, 2, 1}, {0x400, 1, 0}, {0x400, 3, 0},
               {0, 0, 0},     {0, 2, 1},       {0x200, 2, 1}, {0x200, 0, 0}};
  const uint32_t revision = Common()->revisionBits;
  for (const auto& c : cases) {
    Common()->revisionBits = c.revision;
    Switches()->ClippingType->current = c.clippingType;
    uint8_t ok = 0;
    std::unique_ptr<VertexProgramBuilder> b(new VertexProgramBuilder(Common(), SharedLocked(), &ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(b->clipFragments, c.clip) << c.revision << " " << c.clippingType;
    EXPECT_EQ(b->clippingType, c.clippingType);
  }
  Common()->revisionBits = revision;
}

TEST_F(BuilderTest, ANewCacheModeRereadsTheClippingAndRefillsTheKindTable) {
  ASSERT_EQ(B()->clipFragments, 0);
  Switches()->ClippingType->current = 2;
  B()->RefreshCacheMode();
  EXPECT_EQ(B()->clipFragments, 0) << "the cache mode did not change: nothing is read";
  Switches()->VECacheMode->current = 0;
  B()->RefreshCacheMode();
  EXPECT_EQ(B()->clippingType, 2u);
  EXPECT_EQ(B()->clipFragments, 1);
  auto fresh = std::make_unique<MicrocodeCatalogue>();
  InitMicrocodeCatalogue(fresh.get(), 1);
  EXPECT_EQ(memcmp(B()->catalogue.kind, fresh->kind, sizeof fresh->kind), 0);
}

TEST_F(BuilderTest, EachFailedAllocationOfTheBuilderLeavesNothing) {
  // The first device's builder goes; entry 19 is run again, failing each
  // allocation in turn until none fails.
  DestroyVertexProgramBuilder(pdev);
  ASSERT_EQ(B(), nullptr);
  const size_t blocks = glue.LiveBlocks().size();
  const size_t locked = glue.LiveLockedPages();
  bool made = false;
  for (uint64_t nth = 1; nth < 100 && !made; ++nth) {
    glue.FailAllocation(nth, kglue::AllocKind::kMemory);
    made = CreateVertexProgramBuilder(pdev);
    glue.FailAllocation(0);
    if (!made) {
      EXPECT_EQ(B(), nullptr) << nth;
      EXPECT_EQ(glue.LiveBlocks().size(), blocks) << nth;
      EXPECT_EQ(glue.LiveLockedPages(), locked) << nth;
    }
  }
  EXPECT_TRUE(made);
  ASSERT_NE(B(), nullptr);
}

// ---- Program memory -------------------------------------------------------------------------

TEST_F(BuilderTest, ProgramMemoryIsAgpPciLockedOrNone) {
  enum Kind { kAgp, kPci, kDirect };
  const struct {
    const char* name;
    uint32_t busFlags;
    uint8_t forcePci;
    uint64_t failLocked;  // the nth locked allocation fails (0: none)
    Kind kind;
    uint32_t bits;
  } cases[] = {
      {"AGP", 0x10, 0, 0, kAgp, 2},
      {"AGP addressed as PCI", 0x410, 0, 0, kAgp, 3},
      {"AGP fails: PCI-locked", 0x10, 0, 1, kPci, 3},
      {"forced PCI", 0x100014, 1, 0, kPci, 3},
      {"PCI-locked", 0x100004, 0, 0, kPci, 3},
      {"PCI-locked fails: direct", 0x100004, 0, 1, kDirect, 0},
      {"one bit of 0x100004 only", 0x100000, 0, 0, kDirect, 0},
      {"nothing", 0, 0, 0, kDirect, 0},
  };
  const uint32_t busFlags = SharedLocked()->busFlags;
  for (const auto& c : cases) {
    SharedLocked()->busFlags = c.busFlags;
    Switches()->ForcePCIAllocation->current = c.forcePci;
    if (c.failLocked) glue.FailAllocation(c.failLocked, kglue::AllocKind::kLockedPages);
    uint8_t ok = 0;
    std::unique_ptr<VertexProgramBuilder> b(new VertexProgramBuilder(Common(), SharedLocked(), &ok));
    glue.FailAllocation(0);
    ASSERT_TRUE(ok) << c.name;
    EXPECT_EQ(b->slotMode, c.kind == kDirect ? 0u : 1u) << c.name;
    const ProgramAllocRoutine want = c.kind == kAgp   ? &MmAllocateAGPBuffer
                                     : c.kind == kPci ? &MmAllocatePciLockedBuffer
                                                      : b->allocRoutine;
    EXPECT_EQ(b->allocRoutine, want) << c.name;
    if (c.kind != kDirect) {
      EXPECT_EQ(b->addressSpaceBits, c.bits) << c.name;
      EXPECT_EQ(b->slot0Bus % 384, 0u) << c.name;
      EXPECT_LT(b->slot0Bus - b->memoryBus, 384u) << c.name;
      EXPECT_EQ(b->slot0Cpu - b->memoryCpu, static_cast<ptrdiff_t>(b->slot0Bus - b->memoryBus)) << c.name;
      EXPECT_LE(b->slot0Bus + 682 * 1536, b->memoryBus + 256 * 4096) << c.name;
    } else {
      EXPECT_EQ(b->memoryCpu, nullptr) << c.name;
    }
  }
  SharedLocked()->busFlags = busFlags;
}

TEST_F(BuilderTest, SlotAddressesAreInstructionAddressesWithTheSpaceBits) {
  VertexProgram* p = Program(1536 * 2, 1);
  p->entryOffsets[3] = 5;
  const uint64_t slot0 = B()->slot0Bus;
  const struct {
    uint32_t slot, entry, bits;
  } cases[] = {{11, 0, 3}, {11, 3, 3}, {300, 3, 2}, {680, 0, 3}, {680, 3, 0}};
  for (const auto& c : cases) {
    RingFrom(c.slot);
    B()->addressSpaceBits = c.bits;
    const uint32_t want =
        (static_cast<uint32_t>((c.slot * 1536 + slot0) / 3 + 4 * (c.entry == 3 ? 5 : 0)) & ~3u) | c.bits;
    EXPECT_EQ(B()->MakeResident(p, false, c.entry, nullptr), want) << c.slot << " " << c.entry;
    EXPECT_EQ(p->GetStartAddress(), want);
    EXPECT_EQ(p->firstSlot, c.slot);
    EXPECT_EQ(memcmp(B()->slot0Cpu + c.slot * 1536, p->code, p->codeSize), 0);
    B()->SealBatchTag(0);
  }
}

// ---- The ring -------------------------------------------------------------------------------

TEST_F(BuilderTest, AProgramThatWouldPassTheEndWrapsToTheRingStart) {
  RingFrom(8);
  B()->ringHead = 680;
  VertexProgram* p = Program(4 * 1536, 1);
  ASSERT_NE(B()->MakeResident(p, false, 0, nullptr), 0u);
  EXPECT_EQ(p->firstSlot, 8u);
  EXPECT_EQ(B()->ringHead, 12u);
  for (uint32_t s = 8; s < 12; ++s) EXPECT_EQ(B()->slots[s].runLength, 12 - s);
}

TEST_F(BuilderTest, AReclaimedFirstSlotTakesTheWholeRun) {
  RingFrom(100);
  VertexProgram* two = Program(2 * 1536, 1);
  ASSERT_NE(B()->MakeResident(two, false, 0, nullptr), 0u);
  B()->SealBatchTag(TakeNextTag(SharedLocked()));
  EngineAt(SharedLocked()->syncTagCounter);
  B()->ringHead = 100;
  B()->memoryChanged = 0;
  VertexProgram* one = Program(1536, 2);
  ASSERT_NE(B()->MakeResident(one, false, 0, nullptr), 0u);
  EXPECT_EQ(one->firstSlot, 100u);
  EXPECT_EQ(two->resident, 0);
  EXPECT_EQ(B()->slots[100].program, one);
  EXPECT_EQ(B()->slots[101].program, nullptr) << "the run's second slot goes too";
  EXPECT_EQ(B()->memoryChanged, 1);
}

TEST_F(BuilderTest, ASlotIsReusedOnlyOnceTheEnginePassedTheSealedTag) {
  expectErrors = true;
  RingFrom(681);  // a ring of one slot
  VertexProgram* used = Program(1536, 1);
  ASSERT_NE(B()->MakeResident(used, false, 0, nullptr), 0u);
  VertexProgram* next = Program(1536, 2);
  // In the batch (not sealed): never reclaimed.
  EngineAt(SharedLocked()->syncTagCounter);
  EXPECT_EQ(B()->MakeResident(next, false, 0, nullptr), 0u);
  EXPECT_TRUE(B()->LastPlacementFailed());
  // Sealed with a tag the engine has not reached: still not.
  const uint32_t tag = TakeNextTag(SharedLocked());
  B()->SealBatchTag(tag);
  EXPECT_EQ(used->tag, tag);
  EXPECT_EQ(B()->MakeResident(next, false, 0, nullptr), 0u);
  EXPECT_EQ(used->resident, 1);
  // Passed: the slot is taken.
  EngineAt(tag);
  EXPECT_NE(B()->MakeResident(next, false, 0, nullptr), 0u);
  EXPECT_EQ(next->firstSlot, 681u);
  EXPECT_EQ(used->resident, 0);
  EXPECT_TRUE(glue.Logged("vertex program slots"));
}

TEST_F(BuilderTest, AFullTurnWithAWaitContextIssuesOneTagAndGoesOnWhenItPasses) {
  RingFrom(681);
  VertexProgram* used = Program(1536, 1);
  ASSERT_NE(B()->MakeResident(used, false, 0, nullptr), 0u);
  const uint32_t sealed = TakeNextTag(SharedLocked());
  B()->SealBatchTag(sealed);
  const uint32_t* from = Secondary()->cursor;
  dma.ClearWrites();
  VertexProgram* next = Program(1536, 2);
  // The board runs what is submitted: the ring's tag passes the sealed one.
  EXPECT_NE(B()->MakeResident(next, false, 0, Common()), 0u);
  EXPECT_EQ(next->firstSlot, 681u);
  const uint32_t issued = SharedLocked()->syncTagCounter;
  EXPECT_EQ(issued, sealed + 8);
  const std::vector<uint32_t> words(from, static_cast<const uint32_t*>(Secondary()->cursor));
  EXPECT_EQ(words, (std::vector<uint32_t>{1, 0x212121AF, issued | 5}));
  EXPECT_EQ(PacketWrites(0x12BC), (std::vector<uint32_t>{issued | 5}));
}

TEST_F(BuilderTest, ARingOfPermanentAndInBatchProgramsFailsAtTheBound) {
  expectErrors = true;
  RingFrom(680);
  VertexProgram* permanent = Program(1536, 1);
  permanent->permanent = 1;
  ASSERT_NE(B()->MakeResident(permanent, false, 0, nullptr), 0u);
  VertexProgram* inBatch = Program(1536, 2);
  ASSERT_NE(B()->MakeResident(inBatch, false, 0, nullptr), 0u);
  EngineAt(SharedLocked()->syncTagCounter);
  VertexProgram* next = Program(1536, 3);
  EXPECT_EQ(B()->MakeResident(next, false, 0, Common()), 0u);
  EXPECT_EQ(next->GetStartAddress(), 0u);
  EXPECT_EQ(next->resident, 0);
  EXPECT_TRUE(glue.Logged("vertex program slots"));
  EXPECT_TRUE(glue.Logged("could not be placed"));
}

TEST_F(BuilderTest, MoreSlotsThanTheRingHoldsFailAtOnce) {
  expectErrors = true;
  RingFrom(680);
  VertexProgram* three = Program(3 * 1536, 1);
  EXPECT_EQ(B()->AllocProgramSlots(3, nullptr), kNoSlot);
  EXPECT_FALSE(glue.Logged("vertex program slots: no progress"));
  EXPECT_EQ(B()->MakeResident(three, false, 0, nullptr), 0u);
}

TEST_F(BuilderTest, DetachingAProgramFreesItsSlotsAndRecentEntries) {
  RingFrom(20);
  VertexProgram* p = Program(2 * 1536, 1);
  ASSERT_NE(B()->MakeResident(p, false, 0, nullptr), 0u);
  RecentPrograms recent;
  recent.programs[1] = p;
  recent.programs[3] = p;
  VertexProgram* other = Program(12, 2);
  recent.programs[2] = other;
  B()->DetachProgram(p, &recent);
  EXPECT_EQ(B()->slots[20].program, nullptr);
  EXPECT_EQ(B()->slots[21].program, nullptr);
  EXPECT_EQ(p->resident, 0);
  EXPECT_EQ(recent.programs[1], nullptr);
  EXPECT_EQ(recent.programs[3], nullptr);
  EXPECT_EQ(recent.programs[2], other);
  // It left the batch too: sealing does not touch it.
  B()->SealBatchTag(0x1234);
  EXPECT_EQ(p->tag, 0u);
}

TEST_F(BuilderTest, ResetFromTheRingStartKeepsThePreloadedPrograms) {
  VertexProgram* p = Program(1536, 1);
  ASSERT_NE(B()->MakeResident(p, false, 0, nullptr), 0u);
  B()->ResetSlots(false);
  EXPECT_EQ(p->resident, 0);
  EXPECT_EQ(B()->ringHead, 11u);
  EXPECT_EQ(B()->GetFixedProgram(6, 0)->resident, 1);
  EXPECT_EQ(B()->slots[10].program, B()->GetFixedProgram(17, 0));
}

// ---- Direct mode ----------------------------------------------------------------------------

class DirectTest : public BuilderTest {
 protected:
  void SetUp() override {
    BuilderTest::SetUp();
    Switches()->VECacheMode->current = 0;
    B()->RefreshCacheMode();
    ASSERT_EQ(B()->slotMode, 0u);
    preloaded = B()->directTotal;
  }
  uint32_t preloaded = 0;
};

TEST_F(DirectTest, TheHandshakeRunsInOrderBeforeTheWords) {
  VertexProgram* p = Program(24, 7);
  board.ClearLog();
  board.SetLogging(true, true);
  EXPECT_NE(B()->MakeResident(p, false, 0, nullptr), 0u);
  board.SetLogging(false, false);
  std::vector<std::pair<char, uint32_t>> seen;
  for (const auto& a : board.Log()) {
    if (a.offset != 0x8F0 && a.offset != 0x450 && a.offset != 0x908 && a.offset != 0x924 &&
        a.offset != 0x918 && a.offset != 0x91C)
      continue;
    const std::pair<char, uint32_t> e{a.op == orvsim::RegOp::kRead ? 'R' : 'W', a.offset};
    if (seen.empty() || seen.back() != e) seen.push_back(e);
  }
  const std::vector<std::pair<char, uint32_t>> want = {
      {'R', 0x8F0}, {'R', 0x450}, {'R', 0x908}, {'R', 0x924}, {'R', 0x8F0}, {'W', 0x918}, {'W', 0x91C}};
  // Step 8 reads 0x908 then 0x924; consecutive reads of one register fold.
  std::vector<std::pair<char, uint32_t>> folded;
  for (const auto& e : seen)
    if (folded.empty() || folded.back() != e) folded.push_back(e);
  EXPECT_EQ(folded, want);
  EXPECT_EQ(LastWrite(0x918), preloaded / 12);
}

TEST_F(DirectTest, WordsLandAtTheTotalAndTheAddressCountsInstructions) {
  VertexProgram* p = Program(36, 7);
  p->entryOffsets[2] = 2;
  const uint32_t at = preloaded / 12;
  EXPECT_EQ(B()->MakeResident(p, false, 2, nullptr), at * 4 + 8);
  const std::vector<uint32_t>& memory = vertex.ProgramMemory();
  for (uint32_t w = 0; w < 9; ++w) EXPECT_EQ(memory[3 * at + w], 7u << 16 | w) << w;
  EXPECT_EQ(B()->directTotal, preloaded + 36);
  // A batch start writes from 0 again.
  EXPECT_EQ(B()->MakeResident(p, true, 0, nullptr), 0u);
  EXPECT_FALSE(B()->LastPlacementFailed());
  EXPECT_EQ(memory[0], 7u << 16);
  EXPECT_EQ(B()->directTotal, 36u);
}

TEST_F(DirectTest, AProgramFitsUpToTheLastByteAndOneMoreInstructionDoesNot) {
  expectErrors = true;
  const uint32_t room = (6143 - preloaded) / 12 * 12;
  VertexProgram* fill = Program(room, 1);
  EXPECT_NE(B()->MakeResident(fill, false, 0, nullptr), 0u);
  EXPECT_FALSE(B()->LastPlacementFailed());
  EXPECT_EQ(B()->directTotal, preloaded + room);
  const uint64_t written = vertex.ProgramWordsWritten();
  VertexProgram* one = Program(12, 2);
  EXPECT_EQ(B()->MakeResident(one, false, 0, nullptr), 0u);
  EXPECT_TRUE(B()->LastPlacementFailed());
  EXPECT_EQ(B()->directOverflow, 1);
  EXPECT_EQ(one->GetStartAddress(), 0u);
  EXPECT_EQ(vertex.ProgramWordsWritten(), written);
  EXPECT_EQ(vertex.ProgramWordsDropped(), 0u);
}

TEST_F(DirectTest, EachPortWaitGivesUpOneReadPastItsBound) {
  expectErrors = true;
  VertexProgram* p = Program(12, 1);
  const struct {
    const char* name;
    bool level;
  } waits[] = {{"port status", false}, {"port level", true}};
  for (const auto& w : waits) {
    for (uint64_t busy : {kWaitTries - 1, kWaitTries}) {
      if (w.level) {
        vertex.SetPortLevelBusyReads(busy);
      } else {
        vertex.SetPortStatusBusyReads(busy);
      }
      const uint64_t before = vertex.ProgramWordsWritten();
      (void)B()->MakeResident(p, true, 0, nullptr);
      EXPECT_EQ(B()->LastPlacementFailed(), busy == kWaitTries) << w.name << " " << busy;
      EXPECT_EQ(vertex.ProgramWordsWritten() - before, busy == kWaitTries ? 0u : 3u) << w.name;
      vertex.SetPortLevelBusyReads(0);
      vertex.SetPortStatusBusyReads(0);
    }
  }
  // Submissions that never drain stop the write too.
  SharedLocked()->pendingSubmissions = 1;
  (void)B()->MakeResident(p, true, 0, nullptr);
  EXPECT_TRUE(B()->LastPlacementFailed());
  SharedLocked()->pendingSubmissions = 0;
  EXPECT_TRUE(glue.Logged("vertex program: port status"));
  EXPECT_TRUE(glue.Logged("vertex program: port level"));
  EXPECT_TRUE(glue.Logged("vertex program: pending submissions"));
}

// A batch the engine has not finished may still run a detached program's
// code: its slots are taken by nothing else until the engine passes the tag
// of the last batch that used it, whether that batch was sealed before the
// detach or is the one being built.
TEST_F(BuilderTest, ADetachedProgramsSlotsWaitForTheEngineToPassItsLastBatch) {
  RingFrom(100);
  VertexProgram* sealed = Program(2 * 1536, 1);
  ASSERT_NE(B()->MakeResident(sealed, false, 0, nullptr), 0u);
  ASSERT_EQ(sealed->firstSlot, 100u);
  const std::vector<uint8_t> sealedCode(sealed->code, sealed->code + sealed->codeSize);
  const uint32_t first = TakeNextTag(SharedLocked());
  B()->SealBatchTag(first);
  EngineAt(first - 8);  // the engine is behind the batch
  B()->DetachProgram(sealed, nullptr);
  EXPECT_EQ(B()->slots[100].program, nullptr);
  EXPECT_EQ(sealed->resident, 0);
  B()->ringHead = 100;
  VertexProgram* next = Program(1536, 2);
  ASSERT_NE(B()->MakeResident(next, false, 0, nullptr), 0u);
  EXPECT_EQ(next->firstSlot, 102u) << "the detached run is passed over";
  EXPECT_EQ(memcmp(B()->slot0Cpu + 100 * kSlotBytes, sealedCode.data(), sealedCode.size()), 0);

  // Detached while the batch being built uses it: its slots wait for the
  // tag that batch is sealed with.
  VertexProgram* building = Program(1536, 3);
  B()->ringHead = 200;
  ASSERT_NE(B()->MakeResident(building, false, 0, nullptr), 0u);
  ASSERT_EQ(building->firstSlot, 200u);
  const std::vector<uint8_t> buildingCode(building->code, building->code + building->codeSize);
  B()->DetachProgram(building, nullptr);
  B()->ringHead = 200;
  VertexProgram* third = Program(1536, 4);
  ASSERT_NE(B()->MakeResident(third, false, 0, nullptr), 0u);
  EXPECT_EQ(third->firstSlot, 201u);
  const uint32_t second = TakeNextTag(SharedLocked());
  B()->SealBatchTag(second);
  EngineAt(first);  // the first batch is done, the second is not
  B()->ringHead = 200;
  VertexProgram* fourth = Program(1536, 5);
  ASSERT_NE(B()->MakeResident(fourth, false, 0, nullptr), 0u);
  EXPECT_EQ(fourth->firstSlot, 202u);
  EXPECT_EQ(memcmp(B()->slot0Cpu + 200 * kSlotBytes, buildingCode.data(), buildingCode.size()), 0);

  // The engine passed both batches: the slots are free again.
  EngineAt(second);
  for (const uint32_t slot : {100u, 200u}) {
    B()->ringHead = slot;
    VertexProgram* p = Program(1536, 6 + slot);
    ASSERT_NE(B()->MakeResident(p, false, 0, nullptr), 0u) << slot;
    EXPECT_EQ(p->firstSlot, slot);
  }
}

}  // namespace
