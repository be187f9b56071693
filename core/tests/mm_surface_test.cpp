// Surface descriptors (alignment, pitch and size rules), the busy tests and
// clones following their master.
#include "core/mm_surface.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <vector>

#include "core/bm_prim_int.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/os.h"

namespace {

constexpr uint32_t kRevEarlier = 0x10;
constexpr uint32_t kRevLater = 0x800;

// Format codes by depth.
constexpr uint32_t kFmt1 = 0x00;
constexpr uint32_t kFmt4 = 0x08;
constexpr uint32_t kFmt8 = 0x09;
constexpr uint32_t kFmt16 = 0x20;
constexpr uint32_t kFmt32 = 0x30;

MmSurfDesc Desc(uint32_t memBits, uint32_t layout, uint32_t format, uint32_t width,
                uint32_t height, uint32_t depth = 1, uint32_t size = 0,
                uint32_t revision = kRevEarlier) {
  MmSurfDesc desc;
  desc.word0 = memBits;
  desc.word1 = MmSurfDesc::MakeWord1(width, layout, format);
  desc.word2 = MmSurfDesc::MakeWord2(height, depth);
  desc.size = size;
  desc.revision = revision;
  return desc;
}

// ---- Bits per pixel -------------------------------------------------------------------

TEST(MmSurfDesc, BitsPerPixelFollowTheFormatTable) {
  struct Row {
    uint32_t bpp;
    std::vector<uint32_t> codes;
  };
  const Row rows[] = {
      {1, {0x00, 0x02, 0x04, 0x05}},
      {4, {0x08}},
      {8, {0x09, 0x0A, 0x0B, 0x0C, 0x10, 0x11, 0x12}},
      {16, {0x20, 0x21, 0x22, 0x24, 0x25, 0x26, 0x27, 0x28, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E}},
      {32, {0x30, 0x32, 0x33, 0x34, 0x36, 0x38, 0x3A, 0x3B}},
  };
  uint32_t expected[64] = {};
  for (const Row& row : rows) {
    for (uint32_t code : row.codes) expected[code] = row.bpp;
  }
  for (uint32_t code = 0; code < 64; ++code) {
    EXPECT_EQ(Desc(0, 0, code, 1, 1).GetBitsPerPixel(), expected[code]) << "format " << code;
  }
}

// ---- Alignment ------------------------------------------------------------------------

struct AlignCase {
  const char* name;
  uint32_t memBits, layout, format, revision;
  uint32_t clear, set;  // without and with the flag
};

void PrintTo(const AlignCase& c, std::ostream* out) { *out << c.name; }

const AlignCase kAlignCases[] = {
    {"SystemPlainAnyDepth", kMemAgp, 0, 0x3F, kRevEarlier, 32, 32},
    {"SystemPitchLinear16", kMemPciLocked, 1, kFmt16, kRevEarlier, 64, 64},
    {"SystemPitchLinear32", kMemAgp, 1, kFmt32, kRevEarlier, 128, 128},
    {"SystemPitchLinear4Invalid", kMemAgp, 1, kFmt4, kRevEarlier, kMmInvalid, kMmInvalid},
    {"SystemTiled8", kMemAgp, 3, kFmt8, kRevEarlier, 512, 512},
    {"SystemTiled1Invalid", kMemAgp, 2, kFmt1, kRevEarlier, kMmInvalid, kMmInvalid},
    {"SystemTiled5With4", kMemAgp, 5, kFmt4, kRevEarlier, 256, 256},
    {"SystemTiled5With16Invalid", kMemAgp, 5, kFmt16, kRevEarlier, kMmInvalid, kMmInvalid},
    {"SystemLayout6Invalid", kMemAgp, 6, kFmt8, kRevEarlier, kMmInvalid, kMmInvalid},
    {"LocalPlain", kMemLocal, 0, kFmt32, kRevEarlier, 64, 512},
    {"LocalPitchLinear8", kMemLocal, 1, kFmt8, kRevEarlier, 64, 64},
    {"LocalPitchLinear16", kMemLocal, 1, kFmt16, kRevEarlier, 64, 128},
    {"LocalPitchLinear32", kMemLocal, 1, kFmt32, kRevEarlier, 256, 256},
    {"LocalTiled2With8", kMemLocal, 2, kFmt8, kRevEarlier, 1024, 8192},
    {"LocalTiled2With16", kMemLocal, 2, kFmt16, kRevEarlier, 2048, 4096},
    {"LocalTiled3With32", kMemLocal, 3, kFmt32, kRevEarlier, 4096, 8192},
    {"LocalTiled4With16", kMemLocal, 4, kFmt16, kRevEarlier, 2048, 8192},
    {"LocalTiled4With32", kMemLocal, 4, kFmt32, kRevEarlier, 2048, 8192},
    {"LocalTiled5With4", kMemLocal, 5, kFmt4, kRevEarlier, 512, 2048},
    {"LocalTiled5With32Invalid", kMemLocal, 5, kFmt32, kRevEarlier, kMmInvalid, kMmInvalid},
    {"LocalLayout7Invalid", kMemLocal, 7, kFmt32, kRevEarlier, kMmInvalid, kMmInvalid},
    // The later generation halves local alignments only.
    {"LaterTiled2With16", kMemLocal, 2, kFmt16, kRevLater, 1024, 2048},
    {"LaterPlain", kMemLocal, 0, kFmt8, kRevLater, 32, 256},
    {"LaterSystemUnchanged", kMemAgp, 1, kFmt32, kRevLater, 128, 128},
    {"LaterInvalidStaysInvalid", kMemLocal, 1, kFmt4, kRevLater, kMmInvalid, kMmInvalid},
};

class Alignment : public testing::TestWithParam<AlignCase> {};

TEST_P(Alignment, FollowsTheTables) {
  const AlignCase& c = GetParam();
  const MmSurfDesc desc = Desc(c.memBits, c.layout, c.format, 64, 64, 1, 0, c.revision);
  EXPECT_EQ(desc.GetRequiredAlignment(false), c.clear);
  EXPECT_EQ(desc.GetRequiredAlignment(true), c.set);
}

INSTANTIATE_TEST_SUITE_P(MmSurfDesc, Alignment, testing::ValuesIn(kAlignCases),
                         [](const auto& info) { return info.param.name; });

// ---- Height granularity ----------------------------------------------------------------

TEST(MmSurfDesc, HeightGranularityByLayoutDepthAndHeight) {
  struct Row {
    const char* name;
    MmSurfDesc desc;
    uint32_t expected;
  };
  const Row rows[] = {
      {"system", Desc(kMemAgp, 3, kFmt32, 64, 100), 16},
      {"plain", Desc(kMemLocal, 0, kFmt32, 64, 100), 1},
      {"pitch-linear", Desc(kMemLocal, 1, kFmt32, 64, 100), 2},
      {"tiled 2 earlier", Desc(kMemLocal, 2, kFmt16, 64, 100), 32},
      {"tiled 3 later", Desc(kMemLocal, 3, kFmt16, 64, 100, 1, 0, kRevLater), 16},
      {"tiled 4 later", Desc(kMemLocal, 4, kFmt16, 64, 100, 1, 0, kRevLater), 32},
      {"tiled 4 32bpp h16", Desc(kMemLocal, 4, kFmt32, 64, 16), 16},
      {"tiled 4 32bpp h17", Desc(kMemLocal, 4, kFmt32, 64, 17), 32},
      {"tiled 5 8bpp h32", Desc(kMemLocal, 5, kFmt8, 64, 32), 32},
      {"tiled 5 8bpp h33", Desc(kMemLocal, 5, kFmt8, 64, 33), 64},
      {"layout 6", Desc(kMemLocal, 6, kFmt8, 64, 33), kMmInvalid},
  };
  for (const Row& row : rows) EXPECT_EQ(row.desc.GetHeightGranularity(), row.expected) << row.name;
}

// ---- Sizes and pitches ------------------------------------------------------------------

struct SizeCase {
  const char* name;
  MmSurfDesc desc;
  bool flag;
  uint32_t physical;
  uint32_t pitch;
  uint32_t apertureSize;
};

void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.name; }

const SizeCase kSizeCases[] = {
    // A plain buffer of 5,000 bytes.
    {"PlainLocal", Desc(kMemLocal, 0, kFmt8, 0, 0, 1, 5000), false, 5056, 0, 5024},
    {"PlainLocalFlag", Desc(kMemLocal, 0, kFmt8, 0, 0, 1, 5000), true, 5120, 0, 5024},
    {"PlainSystem", Desc(kMemAgp, 0, kFmt8, 0, 0, 1, 5000), false, 5024, 0, 5024},
    // Pitch-linear 16 bpp 100 x 10: W = 128, H = 10.
    {"PitchLinear16", Desc(kMemLocal, 1, kFmt16, 100, 10), false, 2560, 256, 2560},
    // Height 11 rounds up to 12 lines of the aperture.
    {"PitchLinearOddHeight", Desc(kMemLocal, 1, kFmt16, 100, 11), false, 3072, 256, 3072},
    // Tiled 32 bpp 100 wide: pitch 128 x 4.
    {"Tiled32", Desc(kMemLocal, 2, kFmt32, 100, 32), false, 16384, 512, 16384},
    // Width 200: memory rounds to 224 pixels, the aperture to 256.
    {"Tiled32Wide", Desc(kMemLocal, 2, kFmt32, 200, 32), false, 28672, 1024, 32768},
    // Three slices of 40 lines on the later generation: E = 48, 3 x 64 lines.
    {"TiledVolume", Desc(kMemLocal, 2, kFmt32, 100, 40, 3, 0, kRevLater), false, 73728, 512,
     98304},
    // 4 bpp: half a byte per pixel, not none.
    {"Tiled4BitSystem", Desc(kMemAgp, 5, kFmt4, 64, 16), false, 512, 32, 512},
    {"Layout6", Desc(kMemLocal, 6, kFmt8, 64, 16), false, kMmInvalid, 0, 0},
    // 8192 x 8192 x 4 bytes x 16 slices is 2^32: wraps to 0 in 32 bits.
    {"OverflowIsInvalid", Desc(kMemLocal, 1, kFmt32, 8192, 8192, 16), false, kMmInvalid,
     32768, 0x10000000},
};

class Sizes : public testing::TestWithParam<SizeCase> {};

TEST_P(Sizes, PhysicalSizePitchAndApertureSize) {
  const SizeCase& c = GetParam();
  EXPECT_EQ(c.desc.GetPhysicalMemSize(c.flag), c.physical);
  EXPECT_EQ(c.desc.GetHostAperturePitch(), c.pitch);
  EXPECT_EQ(c.desc.GetHostApertureSize(), c.apertureSize);
}

INSTANTIATE_TEST_SUITE_P(MmSurfDesc, Sizes, testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return info.param.name; });

TEST(MmSurfDesc, FixedPitchBitGivesAnEightThousandPixelPitch) {
  MmSurfDesc desc = Desc(kMemLocal, 1, kFmt16, 100, 10);
  desc.word1 |= kDescFixedPitch;
  EXPECT_EQ(desc.GetHostAperturePitch(), 8192u * 2);
}

TEST(MmSurfAllocOpt, DefaultsMatchTheKernelRequestDefaults) {
  const MmSurfAllocOpt options;
  const uint32_t* words = reinterpret_cast<const uint32_t*>(&options);
  // Words as the block request carries them from its offset 24.
  const uint32_t expected[16] = {24, 10, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 0, 1, 0, 0x10000, 0, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(words[i], expected[i]) << "word " << i;
}

// ---- Sync tags and busy tests ----------------------------------------------------------

// The pending rule of sync tags itself is tested with the command packets.

class SurfaceOnBlock : public testing::Test {
 protected:
  void SetUp() override {
    shared_ = {};
    block_ = new MmBlock();
    block_->busAddress = 0x123000;
    block_->size = 0x1000;
    block_->cpuAddress = memory_;
    surface_.shared = &shared_;
    surface_.placedKind = kSurfLocalMapped;
    surface_.AttachToBlock(block_);
  }
  void TearDown() override {
    surface_.DetachFromBlock();
    delete block_;
  }

  SharedLockedData_t shared_;
  MmBlock* block_ = nullptr;
  MmSurface surface_;
  uint8_t memory_[64] = {};
};

// A primary interface that records the command lock at every start.
class LockProbe : public BmPrimInt {
 public:
  using BmPrimInt::BmPrimInt;
  bool Start() override {
    lockAtStart.push_back(shared->commandLock);
    depthAtStart.push_back(BmCommandLockDepth(shared, kCmdLockOwnerXDriver));
    start = cursor;
    return true;
  }
  std::vector<int32_t> lockAtStart;
  std::vector<uint32_t> depthAtStart;
};

TEST(SurfaceSyncLockTest, NewSyncIsWrittenAndStartedUnderTheCommandLock) {
  SharedLockedData_t shared = {};
  shared.dmaMode = kDmaModePost;
  CommonData* common = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
  common->sharedLocked = &shared;
  BmBufferPool::CreateOptions options;
  options.bufferCount = 1;
  options.alloc.Add(kBmMemProcess, 4096);
  {
    LockProbe prim(common, 0, options);
    ASSERT_TRUE(prim.BmBufferPool::Open());
    uint8_t ok = 0;
    MmSurfaceManager manager(&ok, nullptr, common);  // only its interface is used
    manager.primInt = &prim;
    MmBlock block;
    MmSurface surface;
    surface.manager = &manager;
    surface.shared = &shared;
    surface.placedKind = kSurfLocalMapped;
    surface.AttachToBlock(&block);

    // Alone: the lock is taken for the write and the start, then released.
    uint32_t tag = kSyncTagNew;
    surface.IsBusyDWG(&tag, true);
    EXPECT_EQ(prim.head->Begin()[3], tag);
    EXPECT_EQ(prim.lockAtStart, std::vector<int32_t>{1});
    EXPECT_EQ(prim.depthAtStart, std::vector<uint32_t>{1});
    EXPECT_EQ(shared.commandLock, 0);
    EXPECT_EQ(shared.commandLockDepth, 0);

    // Inside a caller's hold: nested, and the caller still holds it after.
    ASSERT_TRUE(BmAcquireCommandLock(&shared, kCmdLockOwnerXDriver));
    tag = kSyncTagNew;
    surface.IsBusyDWG(&tag, true);
    EXPECT_EQ(prim.depthAtStart.back(), 2u);
    EXPECT_EQ(shared.commandLock, 1);
    EXPECT_EQ(BmCommandLockDepth(&shared, kCmdLockOwnerXDriver), 1u);
    BmReleaseCommandLock(&shared, kCmdLockOwnerXDriver);
    EXPECT_EQ(shared.commandLock, 0);
    surface.DetachFromBlock();
  }
  free(common);
}

TEST(MmSurface, NoBlockIsNeverBusy) {
  MmSurface surface;
  uint32_t tag = kSyncTagNew;
  EXPECT_FALSE(surface.IsBusyDMA());
  EXPECT_FALSE(surface.IsBusyDWG(&tag, true));
  EXPECT_FALSE(surface.IsBusy());
}

TEST_F(SurfaceOnBlock, IsBusyDmaComparesStampWithTheBufferCounters) {
  struct Row {
    const char* name;
    uint32_t stamp, done, counter, override;
    bool busy;
  };
  const Row rows[] = {
      {"finished", 5, 5, 7, 0, false},
      {"not yet finished", 6, 5, 7, 0, true},
      {"override", 6, 5, 7, 1, false},
      {"stamp from before the wrap", 0xFFFFFFF0, 5, 7, 0, false},
      {"counter wrapped past done", 2, 0xFFFFFFF0, 3, 0, true},
      {"counter wrapped, override", 2, 0xFFFFFFF0, 3, 9, false},
      {"all equal", 4, 4, 4, 0, false},
  };
  for (const Row& row : rows) {
    block_->dmaStamp = row.stamp;
    shared_.completedBufferCounter = row.done;
    shared_.bufferCounter = row.counter;
    shared_.notBusyOverride = row.override;
    EXPECT_EQ(surface_.IsBusyDMA(), row.busy) << row.name;
  }
}

TEST_F(SurfaceOnBlock, IsBusyDwgWaitsForTheBlocksSyncTag) {
  shared_.dmaMode = kDmaModePost;
  shared_.syncTagCounter = 24;
  block_->drawSyncTag = 16;
  shared_.completedTag = 8;
  uint32_t tag = kSyncTagOfBlock;
  EXPECT_TRUE(surface_.IsBusyDWG(&tag, true));
  EXPECT_EQ(tag, 16u);
  EXPECT_TRUE(surface_.IsBusy());
  shared_.completedTag = 17;  // the posting bit does not count
  EXPECT_FALSE(surface_.IsBusy());
}

TEST_F(SurfaceOnBlock, NewSyncWithoutPrimaryInterfaceAnswersFalseAndWritesNothing) {
  uint32_t tag = kSyncTagNew;
  EXPECT_FALSE(surface_.IsBusyDWG(&tag, true));
  EXPECT_EQ(tag, kSyncTagNew);
  EXPECT_EQ(block_->drawSyncTag, 0);
  EXPECT_EQ(shared_.syncTagCounter, 0u);
}

// ---- Attaching ----------------------------------------------------------------------------

TEST(MmSurface, AttachSetsMemoryBitsAndDescriptorAddressByKind) {
  struct Row {
    const char* name;
    uint32_t kind;
    uint32_t windowBarred;
    uint32_t busFlags;
    uint32_t memBits;
    bool cpu;
  };
  const Row rows[] = {
      {"local mapped", kSurfLocalMapped, 0, 0, kMemLocal, true},
      {"agp on agp bus", kSurfAgp, 0, 0x10, kMemAgp, true},
      {"agp without agp bus", kSurfAgp, 0, 0x0, kMemPciLocked, true},
      {"agp bus disabled", kSurfAgp, 0, 0x410, kMemPciLocked, true},
      {"agp window-barred", kSurfAgp, 1, 0x0, kMemAgp, true},
      {"pci locked", kSurfPciLocked, 0, 0, kMemPciLocked, true},
      {"system", kSurfSystem, 0, 0, kMemLocal, false},
  };
  for (const Row& row : rows) {
    SharedLockedData_t shared = {};
    shared.busFlags = row.busFlags;
    uint8_t memory[16];
    MmBlock block;
    block.busAddress = 0x40000;
    block.cpuAddress = memory;
    MmSurface surface;
    surface.shared = &shared;
    surface.placedKind = row.kind;
    surface.windowBarred = row.windowBarred;
    surface.AttachToBlock(&block);
    EXPECT_EQ(surface.busWord, 0x40000u | row.memBits) << row.name;
    EXPECT_EQ(surface.options.desc.word0, surface.busWord) << row.name;
    EXPECT_EQ(surface.cpuAddress, row.cpu ? memory : nullptr) << row.name;
    EXPECT_EQ(surface.aperture, nullptr) << row.name;
    surface.DetachFromBlock();
    EXPECT_EQ(surface.block, nullptr);
    EXPECT_EQ(surface.busWord, 0u);
  }
}

TEST(MmSurface, KeepAddressFlagLeavesTheDescriptorAlone) {
  MmBlock block;
  block.busAddress = 0x40000;
  MmSurface surface;
  surface.options.flags = kSurfKeepAddress;
  surface.options.desc.word0 = 0x7000;
  surface.placedKind = kSurfLocalMapped;
  surface.AttachToBlock(&block);
  EXPECT_EQ(surface.options.desc.word0, 0x7000u);
  EXPECT_EQ(surface.busWord, 0x40000u);
}

TEST(MmSurface, LocalSurfacesGetAnUnlockedApertureOfTheirOwn) {
  MmBlock block;
  block.busAddress = 0x80000;
  MmSurface surface;
  surface.options.apertureWord = 7;
  surface.placedKind = kSurfLocal;
  surface.AttachToBlock(&block);
  ASSERT_NE(surface.aperture, nullptr);
  EXPECT_EQ(surface.aperture->apertureWord, 7u);
  EXPECT_EQ(surface.aperture->options.desc.word0, 0x80000u);
  EXPECT_EQ(surface.aperture->block, nullptr);
  EXPECT_EQ(surface.cpuAddress, nullptr);
  surface.DetachFromBlock();
  EXPECT_EQ(surface.aperture, nullptr);
}

TEST(MmSurface, ForeignApertureStaysWhenDetached) {
  MmHostAperture foreign(nullptr, 1, MmSurfDesc());
  MmBlock block;
  MmSurface surface;
  surface.placedKind = kSurfLocalAperture;
  ASSERT_TRUE(surface.CreateCloneApertureFrom(&foreign));
  EXPECT_NE(surface.options.flags & kSurfForeignAperture, 0u);
  surface.AttachToBlock(&block);
  EXPECT_EQ(surface.aperture, &foreign);
  surface.DetachFromBlock();
  EXPECT_EQ(surface.aperture, &foreign);
}

// ---- Clones ---------------------------------------------------------------------------------

// Counts the notifications a surface receives.
class CountingSurface : public MmSurface {
 public:
  void OnDestroy() override {
    ++destroyed;
    MmSurface::OnDestroy();
  }
  void OnRestore() override {
    ++restored;
    MmSurface::OnRestore();
  }
  void OnDestroyMaster() override {
    ++masterDestroyed;
    MmSurface::OnDestroyMaster();
  }
  void OnDiscardMaster() override {
    ++masterDiscarded;
    MmSurface::OnDiscardMaster();
  }
  void OnRestoreMaster() override {
    ++masterRestored;
    MmSurface::OnRestoreMaster();
  }
  int destroyed = 0, restored = 0, masterDestroyed = 0, masterDiscarded = 0, masterRestored = 0;
};

class Clones : public testing::Test {
 protected:
  void SetUp() override {
    block_.busAddress = 0x200000;
    block_.cpuAddress = memory_;
    master_.shared = &shared_;
    master_.placedKind = kSurfLocalMapped;
    master_.options.heapSelector = 21;
    master_.options.physicalSize = 4096;
    master_.options.desc = Desc(kMemLocal, 1, kFmt32, 32, 32);
    master_.AttachToBlock(&block_);
  }

  SharedLockedData_t shared_ = {};
  uint8_t memory_[32] = {};
  MmBlock block_;
  CountingSurface master_;
};

TEST_F(Clones, CloneSharesTheMastersMemoryAndFollowsItsRestore) {
  CountingSurface clone;
  ASSERT_TRUE(master_.CreateClone(&clone));
  EXPECT_EQ(clone.master, &master_);
  EXPECT_EQ(clone.listRole, kRoleClone);
  EXPECT_EQ(master_.cloneList->next, &clone);
  EXPECT_EQ(clone.restored, 1);
  EXPECT_EQ(clone.block, &block_);
  EXPECT_EQ(clone.cpuAddress, memory_);
  EXPECT_EQ(clone.busWord, master_.busWord);
  EXPECT_EQ(clone.options.heapSelector, 21u);
  EXPECT_EQ(clone.options.physicalSize, 4096u);
  EXPECT_EQ(clone.shared, &shared_);

  // The master moves: the clones follow on restore and on discard.
  MmBlock moved;
  moved.busAddress = 0x300000;
  moved.cpuAddress = memory_ + 8;
  master_.DetachFromBlock();
  master_.AttachToBlock(&moved);
  master_.OnRestore();
  EXPECT_EQ(clone.masterRestored, 1);
  EXPECT_EQ(clone.block, &moved);
  EXPECT_EQ(clone.cpuAddress, memory_ + 8);
  master_.DetachFromBlock();
  master_.OnDiscard();
  EXPECT_EQ(clone.masterDiscarded, 1);
  EXPECT_EQ(clone.block, nullptr);
  EXPECT_TRUE(clone.DetachCloneFromMaster());
}

TEST_F(Clones, DestroyingTheMasterLeavesNoCloneOnItsMemory) {
  CountingSurface copying;
  CountingSurface attaching;
  attaching.cloneFlags = kCloneAttachesToBlock;
  ASSERT_TRUE(master_.CreateClone(&copying));
  ASSERT_TRUE(master_.CreateClone(&attaching));
  EXPECT_EQ(attaching.block, &block_);
  EXPECT_EQ(attaching.cpuAddress, memory_);

  master_.OnDestroy();
  for (CountingSurface* clone : {&copying, &attaching}) {
    EXPECT_EQ(clone->masterDestroyed, 1);
    EXPECT_EQ(clone->master, nullptr);
    EXPECT_EQ(clone->block, nullptr);
    EXPECT_EQ(clone->cpuAddress, nullptr);
    EXPECT_EQ(clone->next, nullptr);
  }
  EXPECT_EQ(master_.cloneList->next, master_.cloneList);
  // A clone without master detaches as a no-op.
  EXPECT_TRUE(copying.DetachCloneFromMaster());
  EXPECT_EQ(copying.destroyed, 0);
}

TEST_F(Clones, DetachedCloneLeavesTheListAndIsDestroyed) {
  CountingSurface first, second;
  ASSERT_TRUE(master_.CreateClone(&first));
  ASSERT_TRUE(master_.CreateClone(&second));
  EXPECT_EQ(master_.cloneList->next, &second);  // newest first
  EXPECT_TRUE(first.DetachCloneFromMaster());
  EXPECT_EQ(first.destroyed, 1);
  EXPECT_EQ(first.master, nullptr);
  EXPECT_EQ(first.block, nullptr);
  EXPECT_EQ(first.listRole, kRoleSurface);
  EXPECT_EQ(second.next, master_.cloneList);
  master_.OnRestore();
  EXPECT_EQ(first.masterRestored, 0);
  EXPECT_EQ(second.masterRestored, 1);
  EXPECT_TRUE(second.DetachCloneFromMaster());
}

TEST(MmMultiAperture, IsUnsupportedByTheMappersAndLetsItsMembersGo) {
  SharedLockedData_t shared = {};
  CommonData* common = static_cast<CommonData*>(memAlloc(sizeof(CommonData)));
  ASSERT_NE(common, nullptr);
  common->sharedLocked = &shared;
  uint8_t ok = 0;
  MmSurfaceMapper mapper(&ok, common);
  ASSERT_EQ(ok, 1);
  std::vector<std::unique_ptr<MmHostAperture>> members;
  {
    MmMultiAperture multi(&mapper, 0, kAperturePriorityNormal);
    for (uint32_t i = 0; i < kMultiApertureMembers; ++i) {
      members.push_back(std::make_unique<MmHostAperture>(&mapper, 1, MmSurfDesc()));
      ASSERT_TRUE(multi.AddAperture(members.back().get(), 0x1000 * i));
    }
    MmHostAperture extra(&mapper, 1, MmSurfDesc());
    EXPECT_FALSE(multi.AddAperture(&extra, 0));
    EXPECT_EQ(members[3]->multi, &multi);
    EXPECT_EQ(members[3]->multiOffset, 0x3000u);

    uint64_t address = 0x55;
    uint8_t* cpu = reinterpret_cast<uint8_t*>(0x66);
    EXPECT_FALSE(multi.Lock(&address, &cpu));
    EXPECT_EQ(address, 0x55u);
    EXPECT_EQ(cpu, reinterpret_cast<uint8_t*>(0x66));
    // A member alone cannot be mapped either.
    EXPECT_FALSE(members[0]->Lock(nullptr, nullptr));
  }
  for (const auto& member : members) {
    EXPECT_EQ(member->multi, nullptr);
    EXPECT_EQ(member->multiOffset, 0u);
  }
  memFree(common);
}

TEST(MmSurfaceClones, MasterDeletedWithoutDestroyLetsItsClonesGo) {
  MmBlock block;
  block.busAddress = 0x1000;
  auto* master = new MmSurface();
  master->placedKind = kSurfLocalMapped;
  master->AttachToBlock(&block);
  MmSurface clone;
  ASSERT_TRUE(master->CreateClone(&clone));
  EXPECT_EQ(clone.block, &block);
  delete master;
  EXPECT_EQ(clone.master, nullptr);
  EXPECT_EQ(clone.block, nullptr);
  EXPECT_EQ(clone.next, nullptr);
  EXPECT_TRUE(clone.DetachCloneFromMaster());
}

TEST(MmSurfaceList, DeleteListDeletesEverySurfaceAndTheHead) {
  MmSurface* head = nullptr;
  ASSERT_TRUE(MmSurface::InitList(&head));
  EXPECT_EQ(head->listRole, kRoleListHead);
  EXPECT_EQ(head->next, head);
  for (int i = 0; i < 3; ++i) (new MmSurface())->InsertAfter(head);
  MmSurface::DeleteList(&head);  // the sanitizer reports any surface left behind
  EXPECT_EQ(head, nullptr);
}

}  // namespace
