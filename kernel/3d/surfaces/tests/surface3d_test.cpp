// Surface objects: the hardware descriptor's records, placement over the
// three places, texture sets with their packed levels, the texture-set
// table, clones, and that a refused request leaves nothing behind.
#include <gtest/gtest.h>

#include "kernel/3d/surfaces/tests/surfaces_fixture.h"
#include "platform/kglue/kglue.h"

namespace {

using stest::SurfaceBoard;

// ---- Hardware descriptor -----------------------------------------------------------------------

struct RecordCase {
  const char* name;
  uint32_t code;
  uint32_t width, height, depth, layoutMode, face;
  bool bordered, tiled, plain;
  uint32_t usage;
  uint32_t word1, word2, size;  // expected; word1 0 with word2 0x10000: the record is absent
};

constexpr uint32_t W1(uint32_t width, uint32_t layout, uint32_t hw, uint32_t extra = 0) {
  return width | layout << 16 | hw << 24 | extra;
}
constexpr uint32_t W2(uint32_t height, uint32_t depth, uint32_t face = 0) {
  return height | depth << 16 | face << 28;
}
constexpr uint32_t kOpt = 1u << 23, kFlag = 1u << 30, kExtra = 1u << 31, kBord = 1u << 22;
constexpr uint32_t Mode(uint32_t mode) { return mode << 19; }

const RecordCase kRecords[] = {
    // 8:8:8:8, plain 100 x 50: each usage by its own layout code.
    {"surface", 11, 100, 50, 1, 0, 0, false, false, false, 0, W1(100, 3, 48), W2(50, 1), 0},
    {"target", 11, 100, 50, 1, 0, 0, false, false, false, 1, W1(100, 2, 50), W2(50, 1), 0},
    {"texture", 11, 100, 50, 1, 0, 0, false, false, false, 2, W1(128, 2, 50, kOpt | kFlag | kExtra), W2(50, 1), 0},
    {"no depth", 11, 100, 50, 1, 0, 0, false, false, false, 4, 0, 0x10000, 0},
    {"cpu view", 11, 100, 50, 1, 0, 0, false, false, false, 5, W1(100, 3, 50), W2(50, 1), 0},
    {"usage 6", 11, 100, 50, 1, 0, 0, false, false, false, 6, W1(100, 3, 50), W2(50, 1), 0},
    {"memory", 11, 100, 50, 1, 0, 0, false, false, false, 7, W1(100, 2, 50), W2(50, 1), 0},
    // Tiled: 4 everywhere but usages 0, 6 and 8.
    {"tiled target", 11, 100, 50, 1, 0, 0, false, true, false, 1, W1(100, 4, 50), W2(50, 1), 0},
    {"tiled cpu", 11, 100, 50, 1, 0, 0, false, true, false, 5, W1(100, 4, 50), W2(50, 1), 0},
    {"tiled 8", 11, 100, 50, 1, 0, 0, false, true, false, 8, W1(100, 3, 50), W2(50, 1), 0},
    // Plain: layout codes 0, the views carry width x height of the memory view.
    {"plain surface", 11, 100, 50, 1, 0, 0, false, false, true, 0, W1(100, 0, 48), W2(50, 1), 0},
    {"plain cpu", 11, 100, 50, 1, 0, 0, false, false, true, 5, W1(100, 0, 50), W2(50, 1), 5000},
    {"plain memory", 11, 100, 50, 1, 0, 0, false, false, true, 7, W1(100, 0, 50), W2(50, 1), 5000},
    // Bordered: option 16 takes the border off after option 4 rounded.
    {"bordered surface", 11, 34, 18, 3, 0, 0, true, false, false, 0, W1(34, 3, 48, kBord), W2(18, 3), 0},
    {"bordered texture", 11, 34, 18, 3, 0, 0, true, false, false, 2,
     W1(62, 2, 50, kBord | kOpt | kFlag | kExtra), W2(16, 1), 0},
    // Layout mode 3: the side goes to height and depth (option 1 clears the mode).
    {"mode 3 surface", 11, 64, 1, 1, 3, 0, false, false, false, 0, W1(64, 3, 48, Mode(3)), W2(64, 64), 0},
    {"mode 3 texture", 11, 64, 1, 1, 3, 0, false, false, false, 2, W1(64, 2, 50, kOpt | kFlag | kExtra),
     W2(64, 64), 0},
    // Option 32: width 32, height side / 32.
    {"mode 3 option 32", 41, 256, 1, 1, 3, 0, false, false, false, 2, W1(32, 2, 46, Mode(3)), W2(8, 1), 0},
    // Layout mode 1 with option 8: depth 1.
    {"mode 1 surface", 11, 16, 16, 5, 1, 0, false, false, false, 0, W1(16, 3, 48, Mode(1)), W2(16, 5), 0},
    {"mode 1 texture", 11, 16, 16, 5, 1, 0, false, false, false, 3, W1(32, 2, 50, kOpt | kFlag | kExtra),
     W2(16, 1), 0},
    // Option 2 clears the face.
    {"face surface", 11, 16, 16, 1, 0, 3, false, false, false, 0, W1(16, 3, 48), W2(16, 1, 3), 0},
    {"face texture", 11, 16, 16, 1, 0, 3, false, false, false, 2, W1(32, 2, 50, kOpt | kFlag | kExtra),
     W2(16, 1), 0},
    // Block-compressed: 5 for every usage but 0.
    {"blocks surface", 1, 64, 64, 1, 0, 0, false, false, false, 0, W1(64, 3, 16), W2(64, 1), 0},
    {"blocks texture", 1, 64, 64, 1, 0, 0, false, false, false, 2, W1(64, 5, 8, kOpt | kExtra), W2(64, 1), 0},
    {"blocks cpu", 1, 64, 64, 1, 0, 0, false, true, false, 5, W1(64, 5, 8), W2(64, 1), 0},
    // Video 4:2:2 with its option-32 texture record.
    {"extra", 42, 64, 8, 1, 0, 0, false, false, false, 2, W1(64, 2, 46), W2(8, 1), 0},
};

TEST_F(SurfaceBoard, BuildFillsEachUsageRecordByItsCapabilityEntry) {
  const uint32_t revision = Common()->revisionBits;
  for (const RecordCase& c : kRecords) {
    SurfaceHwDesc desc;
    SurfaceHwDesc::Build(&desc, pdev, Format(c.code), kMemAgp, c.width, c.height, c.depth, c.layoutMode, c.face,
                         c.bordered, c.tiled, c.plain);
    const MmSurfDesc& r = desc.records[c.usage];
    EXPECT_EQ(desc.format, Format(c.code));
    if (c.word1 == 0) {
      EXPECT_EQ(r.word0, 1u) << c.name;
      EXPECT_EQ(r.word1, 0u) << c.name;
      EXPECT_EQ(r.word2, 0x10000u) << c.name;
      continue;
    }
    EXPECT_EQ(r.word0, 0u) << c.name;  // the address follows at placement
    EXPECT_EQ(r.word1, c.word1) << c.name << std::hex << " " << r.word1;
    EXPECT_EQ(r.word2, c.word2) << c.name << std::hex << " " << r.word2;
    EXPECT_EQ(r.size, c.size) << c.name;
    EXPECT_EQ(r.revision, revision) << c.name;
  }
}

struct LocationCase {
  const char* name;
  uint32_t code, usage, usageWord, address, layoutBefore;
  uint32_t layoutAfter, bits14and15;
};

TEST_F(SurfaceBoard, SetLocationStoresTheAddressAndAdjustsAgpRecordsByTheUsageWord) {
  const LocationCase cases[] = {
      {"local keeps", 11, 1, 0x7FC00, 0x100000, 2, 2, 0},
      {"agp target", 11, 1, 0, 0x100002, 2, 4, 0},
      {"agp surface", 11, 0, 0, 0x100002, 3, 4, 0},
      {"group A, format 1", 1, 2, 0x3C0, 0x100002, 5, 5, 2},
      {"group A, other format", 2, 2, 0x3C0, 0x100002, 5, 5, 0},
      {"group B, blocks", 2, 2, 0x7FC00, 0x100002, 5, 5, 2},
      {"group B, 8 bpp tiled", 29, 1, 0x7FC00, 0x100002, 2, 4, 2},
      {"group B, 8 bpp surface", 29, 0, 0x7FC00, 0x100002, 3, 4, 2},
      {"group B, 8 bpp cpu view", 29, 5, 0x7FC00, 0x100003, 3, 3, 0},
      {"group B, 32 bpp", 11, 1, 0x7FC00, 0x100002, 2, 4, 0},
  };
  const uint32_t revision = Common()->revisionBits;
  for (const LocationCase& c : cases) {
    Common()->revisionBits = c.usageWord;
    SurfaceHwDesc desc;
    SurfaceHwDesc::Build(&desc, pdev, Format(c.code), kMemLocal, 0x3FFF, 0x3FFF, 0xFFF, 0, 15, false, false,
                         false);
    MmSurfDesc& r = desc.records[c.usage];
    ASSERT_EQ(r.Layout(), c.layoutBefore) << c.name;
    // Neighbours of bits 14 and 15 all set: the adjustment leaves them.
    const uint32_t before2 = r.word2 | 0x4000;
    r.word2 = before2;
    const uint32_t word1 = r.word1;
    SurfaceHwDesc::SetLocation(&desc, pdev, c.address);
    EXPECT_EQ(r.word0, c.address) << c.name;
    EXPECT_EQ(r.Layout(), c.layoutAfter) << c.name;
    EXPECT_EQ(r.word1 & ~(7u << 16), word1 & ~(7u << 16)) << c.name;
    const uint32_t expected = c.bits14and15 == 2 ? 0x8000 : c.bits14and15 == 3 ? 0xC000 : 0x4000;
    EXPECT_EQ(r.word2 & 0xC000, expected) << c.name;
    EXPECT_EQ(r.word2 & ~0xC000u, before2 & ~0xC000u) << c.name;
    // A record of a usage the format lacks is never written.
    EXPECT_EQ(desc.records[4].word0, 1u) << c.name;
  }
  Common()->revisionBits = revision;
}

// ---- Placement ---------------------------------------------------------------------------------

struct PlaceCase {
  const char* name;
  uint32_t code;
  uint8_t allowed;
  bool localGone, agpGone, systemGone;
  uint32_t nibble;  // 0: nothing is made
  uint32_t location;
};

TEST_F(SurfaceBoard, PlacementTriesLocalThenAgpThenSystemAmongTheAllowedPlaces) {
  const PlaceCase cases[] = {
      {"all free", 11, 7, false, false, false, 4, 0},
      {"local full", 11, 7, true, false, false, 3, 2},
      {"local, agp full", 11, 7, true, true, false, 1, 4},
      {"everything full", 11, 7, true, true, true, 0, 0},
      {"agp only", 11, 1, false, false, false, 3, 2},
      {"system only", 11, 4, false, false, false, 1, 4},
      {"local or system, local full", 11, 6, true, false, false, 1, 4},
      {"nothing allowed", 11, 0, false, false, false, 0, 0},
      {"depth, agp only", 17, 1, false, false, false, 0, 0},
      {"depth, agp or system", 17, 5, false, false, false, 1, 4},
  };
  for (const PlaceCase& c : cases) {
    if (c.localGone) Exhaust(kLocationLocal);
    if (c.agpGone) Exhaust(kLocationAgp);
    if (c.systemGone) Exhaust(kLocationSystem);
    const Held before = Holding();
    SurfaceCreateRequest request = Request(c.code, 64, 32, static_cast<uint8_t>(c.allowed | kRequestBordered));
    request.flags2 = 0x5A;
    request.reserved[0] = 0xA5;
    Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
    EXPECT_EQ(request.placement, c.allowed | kRequestBordered) << c.name;
    EXPECT_EQ(request.flags2, 0x5A) << c.name;
    EXPECT_EQ(request.reserved[0], 0xA5) << c.name;
    if (c.nibble == 0) {
      EXPECT_EQ(s, nullptr) << c.name;
      EXPECT_EQ(Holding(), before) << c.name;
    } else {
      ASSERT_NE(s, nullptr) << c.name;
      EXPECT_EQ(s->Placement(), c.nibble) << c.name;
      EXPECT_EQ(s->options.requestedKind, c.location) << c.name;
      EXPECT_NE(s->block, nullptr) << c.name;
      if (c.location == kLocationLocal) {
        // The descriptor carries the block's address.
        EXPECT_EQ(s->hw.records[0].word0, s->busWord) << c.name;
        EXPECT_EQ(s->options.desc.word1, s->hw.records[kUsageCpuView].word1) << c.name;
      }
      delete s;
      EXPECT_EQ(Holding(), before) << c.name;
    }
    Restore();
  }
}

TEST_F(SurfaceBoard, VideoSurfacesTakeTheRequestsLayoutClassAndOwner) {
  struct LayoutCase {
    uint32_t code, type;
    uint8_t flags2;
    uint32_t layoutType;
  };
  const LayoutCase cases[] = {{1, 10, 0, kLayoutTypeBlocks},  {11, 10, 0, kLayoutTypeTiled},
                              {11, 3, 4, kLayoutTypePlain},   {11, 3, 0, kLayoutTypeLinear}};
  for (const LayoutCase& c : cases) {
    SurfaceCreateRequest request = Request(c.code, 64, 64, kPlaceLocal, c.type);
    request.flags2 = c.flags2;
    Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
    ASSERT_NE(s, nullptr) << c.code;
    EXPECT_EQ(s->layoutType, c.layoutType) << c.code;
    EXPECT_EQ(s->ClassField(), Format(c.code)->formatClass);
    EXPECT_EQ(s->options.heapSelector, c.type);
    EXPECT_EQ(s->elementCount, (c.flags2 & 4) ? 64u * 64u : 0u);
    delete s;
  }
  // Second-flags bits 3-6 go to surface bits 2, 1, 3, 0; bit 0 takes the
  // owner value; flag 128 makes surface class 3 with layout mode 3.
  SurfaceCreateRequest request = Request(11, 64, 1, kPlaceLocal | kRequestNoCompanion);
  request.flags2 = 0x08 | 0x40 | 0x01;
  request.ownerValue = 0x1234;
  Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->flagsWord & kSurfOptionsMask, 0x4u | 0x1u);
  EXPECT_EQ(s->SurfaceClass(), kSurfaceNoCompanion);
  EXPECT_EQ((s->hw.records[0].word1 >> 19) & 3, 3u);
  EXPECT_EQ(s->options.unit, 0x1234u);
  delete s;
}

TEST_F(SurfaceBoard, ABlockOfTiledKindMakesLayoutTypeThreeAndCpuOnlyBlocksTheirOwnPitch) {
  SurfaceCreateRequest request = Request(11, 64, 64);
  Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->layoutType, kLayoutTypeLinear);
  EXPECT_EQ(s->pitch, s->hw.records[kUsageCpuView].GetHostAperturePitch());
  const uint32_t kind = s->block->kind;
  s->block->kind = kBlockKindTiled;
  s->TakePlacement();
  EXPECT_EQ(s->layoutType, kLayoutTypeTiledMemory);
  s->block->kind = kBlockKindCpuOnly;
  s->TakePlacement();
  EXPECT_EQ(s->pitch, 64u * 4);
  s->block->kind = kind;
  delete s;
}

TEST_F(SurfaceBoard, SystemSurfacesHaveTheirUsedSizeAndBlocksOfAtLeastFourByFour) {
  struct SystemCase {
    uint32_t code, width, height;
    bool bordered;
    uint32_t usedW, usedH, size, pitch;
  };
  const SystemCase cases[] = {
      {1, 2, 2, false, 2, 2, 4 * 4 * 4 / 8, 2 * 4 / 8},
      {2, 2, 2, false, 2, 2, 4 * 4, 2},
      {11, 18, 18, true, 16, 16, 18 * 18 * 4, 18 * 4},
      {10, 3, 5, false, 3, 5, 3 * 5 * 2, 3 * 2},
  };
  for (const SystemCase& c : cases) {
    SurfaceCreateRequest request = Request(c.code, c.width, c.height, kPlaceSystem);
    if (c.bordered) request.placement |= kRequestBordered;
    Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
    ASSERT_NE(s, nullptr) << c.code;
    EXPECT_EQ(s->width, c.usedW) << c.code;
    EXPECT_EQ(s->height, c.usedH) << c.code;
    EXPECT_EQ(s->options.physicalSize, c.size) << c.code;
    EXPECT_EQ(s->options.alignment, 32u);
    EXPECT_EQ(s->options.heapSelector, kMmTypeSystem);
    EXPECT_EQ(s->Placement(), kNibbleSystem);
    EXPECT_EQ(s->pitch, c.pitch) << c.code;
    EXPECT_EQ(s->Bordered(), c.bordered);
    delete s;
  }
}

TEST_F(SurfaceBoard, RequestsOutOfBoundsAreRefusedBeforeAnythingIsAllocated) {
  struct Bad {
    const char* name;
    SurfaceCreateRequest request;
  };
  auto with = [&](auto change) {
    SurfaceCreateRequest r = Request(11, 64, 64, kPlaceLocal | kPlaceSystem);
    change(r);
    return r;
  };
  const Bad cases[] = {
      {"zero width", with([](SurfaceCreateRequest& r) { r.width = 0; })},
      {"zero height", with([](SurfaceCreateRequest& r) { r.height = 0; })},
      {"wide", with([](SurfaceCreateRequest& r) { r.width = 16384; })},
      {"tall", with([](SurfaceCreateRequest& r) { r.height = 0xFFFFFFFF; })},
      {"bordered 2 x 8", with([](SurfaceCreateRequest& r) { r.placement |= kRequestBordered, r.width = 2; })},
      {"no format", with([](SurfaceCreateRequest& r) { r.format = nullptr; })},
  };
  const Held before = Holding();
  for (Bad c : cases) {
    glue.FailAllocation(0);
    const uint64_t allocations = glue.AllocationCount();
    EXPECT_EQ(Surface3d::CreatePlaced(pdev, &c.request), nullptr) << c.name;
    EXPECT_EQ(glue.AllocationCount(), allocations) << c.name;
  }
  const Bad sets[] = {
      {"zero levels", with([](SurfaceCreateRequest& r) { r.placement |= kSetMipChain, r.levels = 0; })},
      {"levels past the largest side", with([](SurfaceCreateRequest& r) { r.placement |= kSetMipChain, r.levels = 8; })},
      {"set side 4096", with([](SurfaceCreateRequest& r) { r.placement |= kSetCube, r.width = 4096; })},
      {"volume depth 0", with([](SurfaceCreateRequest& r) { r.placement |= kSetVolume, r.depth = 0; })},
      {"volume depth 4096", with([](SurfaceCreateRequest& r) { r.placement |= kSetVolume, r.depth = 4096; })},
      {"volume levels by depth", with([](SurfaceCreateRequest& r) {
         r.placement |= kSetVolume, r.width = r.height = 1, r.depth = 2, r.levels = 3;
       })},
      {"bordered set 8 x 2", with([](SurfaceCreateRequest& r) {
         r.placement |= kSetMipChain | kRequestBordered, r.height = 2;
       })},
  };
  for (Bad c : sets) {
    const uint64_t allocations = glue.AllocationCount();
    EXPECT_EQ(TextureSurfaceSet::CreatePlaced(pdev, &c.request), nullptr) << c.name;
    EXPECT_EQ(glue.AllocationCount(), allocations) << c.name;
  }
  // The largest set side and level count are fine.
  SurfaceCreateRequest edge = Request(11, 1, 1, kPlaceSystem | kSetMipChain);
  edge.levels = 1;
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &edge);
  EXPECT_NE(set, nullptr);
  delete set;
  EXPECT_EQ(Holding(), before);
}

// ---- Texture sets ------------------------------------------------------------------------------

constexpr uint32_t kPackX[] = {0, 16, 24, 16, 24};
constexpr uint32_t kPackY[] = {0, 0, 0, 8, 8};

uint32_t SizeOfLevel(const Surface3d* s) { return s->MemoryRecord().GetPhysicalMemSize(false); }

TEST_F(SurfaceBoard, AMipChainPacksItsSmallLevelsAfterTheLargeOnes) {
  struct PackCase {
    uint32_t code;
    uint32_t packOffsets[5];
  };
  const PackCase cases[] = {{11, {0, 64, 96, 1088, 1120}}, {1, {0, 32, 48, 160, 176}}};
  for (const PackCase& c : cases) {
    SurfaceCreateRequest request = SetRequest(c.code, 256, 256, 9, kSetMipChain);
    TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &request);
    ASSERT_NE(set, nullptr) << c.code;
    ASSERT_EQ(set->total, 9u);
    EXPECT_EQ(set->largest, 8);
    EXPECT_EQ(set->smallest, 0);
    Surface3d* master = set->owner;
    ASSERT_NE(master, nullptr);
    uint32_t running = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      const Surface3d* level = set->Level(0, 8 - i);
      ASSERT_NE(level, nullptr);
      EXPECT_EQ(level->width, 256u >> i);
      EXPECT_EQ(level->levelEntry.level, i);
      EXPECT_EQ(level->levelEntry.levelsBelow, 8 - i);
      EXPECT_EQ(level->levelEntry.offset, running) << c.code << " level " << i;
      EXPECT_EQ(level->levelEntry.packIndex, kNotPacked);
      running += SizeOfLevel(level);
    }
    const Surface3d* first = set->Level(0, 4);
    for (uint32_t i = 4; i < 9; ++i) {
      const Surface3d* level = set->Level(0, 8 - i);
      ASSERT_NE(level, nullptr);
      const uint32_t r = i - 4;
      EXPECT_EQ(level->levelEntry.offset, running) << c.code << " level " << i;
      EXPECT_EQ(level->levelEntry.packIndex, r);
      EXPECT_EQ(level->levelEntry.packX, kPackX[r]);
      EXPECT_EQ(level->levelEntry.packY, kPackY[r]);
      EXPECT_EQ(level->levelEntry.packOffset, c.packOffsets[r]) << c.code << " level " << i;
      // The first is described with its size, the rest as 32 x 16 with the
      // first's texture records.
      const MmSurfDesc& memory = level->MemoryRecord();
      EXPECT_EQ(memory.Width(), r == 0 ? 16u : 32u);
      EXPECT_EQ(memory.Height(), 16u);
      EXPECT_EQ(level->hw.records[0].word0, master->busWord + running);
      if (r != 0) {
        EXPECT_EQ(level->hw.records[kUsageTexture].word1, first->hw.records[kUsageTexture].word1);
      }
      EXPECT_EQ(level->master, master);
      EXPECT_EQ(level->block, master->block);
    }
    // The block holds everything up to the packing area's end.
    EXPECT_GE(master->options.physicalSize, running + SizeOfLevel(first));
    const Held before = Holding();
    delete set;
    EXPECT_LT(Holding().blocks, before.blocks);
  }
}

TEST_F(SurfaceBoard, CubeLevelsHoldTheirSixFacesTogether) {
  SurfaceCreateRequest request = SetRequest(11, 64, 64, 3, kSetCube);
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &request);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->total, 18u);
  uint32_t levelOffset = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t size = SizeOfLevel(set->Level(0, 6 - i));
    for (uint32_t face = 0; face < 6; ++face) {
      const Surface3d* s = set->Level(face, 6 - i);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->Face(), face);
      EXPECT_EQ(s->SurfaceClass(), kSurfaceCubeLevel);
      EXPECT_EQ(s->levelEntry.offset, levelOffset + face * size) << i << "/" << face;
      EXPECT_EQ(s->hw.records[0].word2 >> 28, face);
    }
    levelOffset += 6 * size;
  }
  delete set;
}

TEST_F(SurfaceBoard, VolumesDeeperThanTheEngineTakesAreRefusedUnallocated) {
  const Held before = Holding();
  struct DepthCase {
    uint32_t width, depth;
    bool bordered, made;
  };
  const DepthCase cases[] = {{256, 257, false, false}, {256, 65, true, false}, {256, 64, true, true},
                             {16, 8, false, true}};
  for (const DepthCase& c : cases) {
    SurfaceCreateRequest request = SetRequest(29, c.width, c.width, 1, kSetVolume);
    if (c.bordered) request.placement |= kRequestBordered;
    request.depth = c.depth;
    const uint64_t allocations = glue.AllocationCount();
    TextureSurfaceSet* set = TextureSurfaceSet::CreateVolume(pdev, request);
    EXPECT_EQ(set != nullptr, c.made) << c.width << "x" << c.depth;
    if (!c.made) {
      EXPECT_EQ(glue.AllocationCount(), allocations);
    }
    delete set;
  }
  // Levels follow one another; the small ones share the first small one's
  // place.
  SurfaceCreateRequest request = SetRequest(11, 64, 64, 4, kSetVolume);
  request.depth = 8;
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &request);
  ASSERT_NE(set, nullptr);
  const Surface3d* l0 = set->Level(0, 6);
  const Surface3d* l1 = set->Level(0, 5);
  const Surface3d* l2 = set->Level(0, 4);
  const Surface3d* l3 = set->Level(0, 3);
  ASSERT_TRUE(l0 && l1 && l2 && l3);
  EXPECT_EQ(l1->depth, 4u);
  EXPECT_EQ(l3->depth, 1u);
  EXPECT_EQ(l1->levelEntry.offset, l0->levelEntry.offset + SizeOfLevel(l0));
  EXPECT_EQ(l2->levelEntry.offset, l1->levelEntry.offset + SizeOfLevel(l1));
  EXPECT_EQ(l3->levelEntry.offset, l2->levelEntry.offset);
  EXPECT_EQ(l3->MemoryRecord().Width(), l2->MemoryRecord().GetWidthGranularity());
  EXPECT_EQ(l3->MemoryRecord().Depth(), l2->depth);
  delete set;
  EXPECT_EQ(Holding(), before);
}

TEST_F(SurfaceBoard, BlockCompressedLevelsWithoutAPowerOfTwoWidthGetALinearDescription) {
  SurfaceCreateRequest request = SetRequest(2, 48, 48, 5, kSetMipChain);
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &request);
  ASSERT_NE(set, nullptr);
  for (uint32_t i = 0; i < 5; ++i) {
    const Surface3d* s = set->Level(0, SizeClassOf(48 >> i, 48 >> i, 1));
    ASSERT_NE(s, nullptr) << i;
    EXPECT_TRUE(s->linear.active) << i;
    const uint32_t width = 48 >> i;
    EXPECT_EQ(s->linear.pitch, (width + 3) / 4 * 4 * 8 / 8) << i;
    EXPECT_EQ(s->pitch, s->linear.pitch);
  }
  delete set;
  // A single surface: widths that are no power of two or below 32.
  for (uint32_t width : {48u, 16u, 64u}) {
    SurfaceCreateRequest single = Request(2, width, 8);
    Surface3d* s = Surface3d::CreatePlaced(pdev, &single);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->linear.active != 0, width != 64) << width;
    delete s;
  }
}

TEST_F(SurfaceBoard, SystemSetsHaveABlockPerLevelAndFace) {
  SurfaceCreateRequest request = SetRequest(11, 18, 10, 3, kSetCube | kRequestBordered, kPlaceSystem);
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &request);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->owner, nullptr);
  EXPECT_EQ(set->total, 18u);
  // Used sides halve without the border: 16 x 8, 8 x 4, 4 x 2.
  for (uint32_t i = 0; i < 3; ++i) {
    const Surface3d* s = set->Level(5, 4 - i);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->width, 16u >> i);
    EXPECT_EQ(s->height, 8u >> i);
    EXPECT_EQ(s->options.physicalSize, ((16u >> i) + 2) * ((8u >> i) + 2) * 4);
    EXPECT_EQ(s->Placement(), kNibbleSystem);
    EXPECT_EQ(s->SurfaceClass(), kSurfaceCubeLevel);
    EXPECT_EQ(s->pitch, ((16u >> i) + 2) * 4);
  }
  delete set;
}

TEST_F(SurfaceBoard, EveryRefusedAllocationOfASetOrSurfaceLeavesNothing) {
  struct Shape {
    const char* name;
    SurfaceCreateRequest request;
  };
  const Shape shapes[] = {
      {"mip chain", SetRequest(11, 64, 64, 7, kSetMipChain)},
      {"cube", SetRequest(1, 16, 16, 3, kSetCube)},
      {"volume", [&] {
         SurfaceCreateRequest r = SetRequest(11, 16, 16, 3, kSetVolume);
         r.depth = 4;
         return r;
       }()},
      {"system cube", SetRequest(11, 8, 8, 2, kSetCube, kPlaceSystem)},
      {"agp chain", SetRequest(11, 32, 32, 3, kSetMipChain, kPlaceAgp)},
  };
  for (const Shape& shape : shapes) {
    const Held before = Holding();
    bool made = false;
    for (uint64_t nth = 1; nth < 200 && !made; ++nth) {
      SurfaceCreateRequest request = shape.request;
      glue.FailAllocation(nth);
      TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &request);
      glue.FailAllocation(0);
      made = set != nullptr;
      delete set;
      EXPECT_EQ(Holding(), before) << shape.name << " failing allocation " << nth;
    }
    EXPECT_TRUE(made) << shape.name;
  }
  for (uint8_t place : {kPlaceLocal, kPlaceAgp, kPlaceSystem}) {
    const Held before = Holding();
    bool made = false;
    for (uint64_t nth = 1; nth < 50 && !made; ++nth) {
      SurfaceCreateRequest request = Request(11, 32, 32, place);
      glue.FailAllocation(nth);
      Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
      glue.FailAllocation(0);
      made = s != nullptr;
      delete s;
      EXPECT_EQ(Holding(), before) << int{place} << " failing allocation " << nth;
    }
    EXPECT_TRUE(made);
  }
}

// ---- Texture-set table -------------------------------------------------------------------------

TEST_F(SurfaceBoard, TheLevelTableCountsClassesAndRefusesTakenSlotsAndOutOfRangeOnes) {
  auto level = [](uint32_t w, uint32_t h, uint32_t d, uint32_t face = 0) {
    Surface3d* s = new Surface3d();
    s->width = w;
    s->height = h;
    s->depth = d;
    s->SetFace(face);
    return s;
  };
  EXPECT_EQ(SizeClassOf(1, 1, 1), 0u);
  EXPECT_EQ(SizeClassOf(0, 0, 0), 0u);
  EXPECT_EQ(SizeClassOf(2048, 1, 1), 11u);
  EXPECT_EQ(SizeClassOf(3, 5, 9), 3u);

  TextureLevelTable table;
  Surface3d* a = level(64, 64, 1);
  Surface3d* b = level(2, 2, 1);
  Surface3d* again = level(64, 32, 1);
  Surface3d* big = level(4096, 1, 1);
  Surface3d* face6 = level(4, 4, 1, 6);
  EXPECT_TRUE(TextureLevelTable::Insert(&table, a));
  EXPECT_TRUE(TextureLevelTable::Insert(&table, b));
  EXPECT_EQ(table.smallest, 1);
  EXPECT_EQ(table.largest, 6);
  EXPECT_FALSE(TextureLevelTable::Insert(&table, again));
  EXPECT_FALSE(TextureLevelTable::Insert(&table, big));
  EXPECT_FALSE(TextureLevelTable::Insert(&table, face6));
  EXPECT_EQ(table.total, 2u);
  EXPECT_EQ(table.classCount[6], 1u);
  TextureLevelTable::Remove(&table, b);
  EXPECT_EQ(table.smallest, 2);  // moves up by one
  EXPECT_EQ(table.largest, 6);
  TextureLevelTable::Remove(&table, again);  // not entered: nothing
  EXPECT_EQ(table.total, 1u);
  TextureLevelTable::Remove(&table, a);
  EXPECT_EQ(table.total, 0u);
  EXPECT_EQ(table.smallest, 0);
  EXPECT_EQ(table.largest, 0);
  for (Surface3d* s : {a, b, again, big, face6}) delete s;
}

// ---- Clones ------------------------------------------------------------------------------------

TEST_F(SurfaceBoard, AClonesSharesTheBlockAndOwnsNothingOfItsSource) {
  SurfaceCreateRequest request = Request(11, 64, 64);
  Surface3d* source = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(source, nullptr);
  Surface3d partner;
  source->resourceHandle = 7;
  source->resourceType = 1;
  source->companionLink = SurfaceCompanionLink{&partner, source};
  source->companionActive = 1;
  source->shadowOwned = 1;
  source->lockedCopy.allocated = 1;
  source->workPending = 1;
  Surface3d* clone = Surface3d::CreateClone(source);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->block, source->block);
  EXPECT_EQ(clone->master, source);
  EXPECT_EQ(clone->width, 64u);
  EXPECT_EQ(clone->format, source->format);
  EXPECT_EQ(clone->hw.records[0].word0, source->hw.records[0].word0);
  EXPECT_EQ(clone->flagsWord, source->flagsWord);
  EXPECT_EQ(clone->resourceType, 1u);
  EXPECT_EQ(clone->resourceHandle, 0u);
  EXPECT_EQ(clone->Companion(), nullptr);
  EXPECT_EQ(clone->shadowOwned, 0);
  EXPECT_EQ(clone->lockedCopy.allocated, 0);
  EXPECT_EQ(clone->workPending, 0);
  EXPECT_EQ(clone->set, nullptr);
  EXPECT_EQ(clone->processId, OsGetCurrentProcessId());
  delete clone;
  EXPECT_NE(source->block, nullptr);
  source->companionLink = SurfaceCompanionLink();
  source->shadowOwned = 0;
  source->lockedCopy.allocated = 0;
  delete source;
}

}  // namespace

namespace {

// A board of 8 MiB whose local heaps really run out.
orvsim::BoardConfig SmallBoard() {
  orvsim::BoardConfig config;
  config.memory_size = 8u << 20;
  return config;
}

class SmallBoardSurfaces : public stest::SurfaceBoard {
 protected:
  SmallBoardSurfaces() : SurfaceBoard(SmallBoard()) {}
};

TEST_F(SmallBoardSurfaces, AFullLocalMemoryPlacesInAgpThenSystemMemory) {
  std::vector<Surface3d*> made;
  for (int i = 0; i < 64; ++i) {
    SurfaceCreateRequest request = Request(11, 256, 256, kPlaceLocal);
    Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
    if (s == nullptr) break;
    made.push_back(s);
  }
  ASSERT_FALSE(made.empty());
  ASSERT_LT(made.size(), 64u) << "local memory never ran out";
  SurfaceCreateRequest request = Request(11, 256, 256, kPlaceLocal | kPlaceAgp | kPlaceSystem);
  Surface3d* agp = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(agp, nullptr);
  EXPECT_EQ(agp->Placement(), kNibbleAgp);
  request.placement = kPlaceLocal | kPlaceSystem;
  Surface3d* system = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->Placement(), kNibbleSystem);
  // A mip chain does not fit either: it goes to system memory whole.
  SurfaceCreateRequest chain = SetRequest(11, 256, 256, 9, kSetMipChain, kPlaceLocal | kPlaceSystem);
  TextureSurfaceSet* set = TextureSurfaceSet::CreatePlaced(pdev, &chain);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->owner, nullptr);
  EXPECT_EQ(set->Level(0, 8)->Placement(), kNibbleSystem);
  delete set;
  delete system;
  delete agp;
  for (Surface3d* s : made) delete s;
}

}  // namespace
