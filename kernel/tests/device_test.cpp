// The board's device: made with its shared blocks filled from the glue, or
// not made at all; the common-buffer calls every device object makes.
#include <string>
#include <vector>

#include "core/shared_blocks.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

using ktest::KernelTest;

OrvRegion* RegionOf(OrvDevice* device, const void* linear) {
  return OrvRegion_FindFromVirtual(device, linear);
}

TEST_F(KernelTest, CreateWithEachAllocationFailingLeavesNothing) {
  const size_t liveBefore = glue.LiveBlocks().size();
  std::vector<std::string> messages;
  uint64_t nth = 1;
  for (;; ++nth) {
    const uint64_t failedBefore = glue.FailedAllocations();
    glue.ClearLog();
    glue.FailAllocation(nth);
    KernelDevice* made = glue.CreateDevice(device);
    glue.FailAllocation(0);
    if (glue.FailedAllocations() == failedBefore) {
      EXPECT_NE(made, nullptr);
      break;
    }
    EXPECT_EQ(made, nullptr) << nth;
    EXPECT_EQ(glue.LiveBlocks().size(), liveBefore) << nth;
    EXPECT_EQ(glue.LiveRegions(), 0u) << nth;
    messages.push_back(glue.LogText());
  }
  // The device, its own client, then the two regions.
  ASSERT_EQ(nth, 5u);
  const std::vector<std::string> expected = {
      "",
      "",
      "[orv] *ERROR* Kestrion OS: Failed to allocate Shared data buffer (sz: 24)\n",
      "[orv] *ERROR* Kestrion OS: Failed to allocate Shared locked data buffer (sz: 2784)\n",
  };
  EXPECT_EQ(messages, expected);
  for (const kglue::LogLine& line : glue.Log()) {
    if (line.text.find("*ERROR*") != std::string::npos) {
      EXPECT_EQ(line.level, 1);
    }
  }
}

struct WordsCase {
  uint32_t cpus;
  uint32_t multiProcessor;
};

void PrintTo(const WordsCase& c, std::ostream* out) { *out << c.cpus << " processors"; }

class InitialWords : public ::testing::TestWithParam<WordsCase> {};

TEST_P(InitialWords, SharedBlocksAreFilledFromTheGlueAndTheBoard) {
  orvsim::Simulation sim;
  sim.AddHostBridge(0x25008086);
  orvsim::BoardConfig config;
  config.revision = 2;
  config.memory_size = 64u << 20;
  config.config_f4 = 0x12000003;
  orvsim::Board& board = sim.AddBoard(config);
  board.Poke(0x450, 4, 0x00401234);  // the engine's progress word as the kernel reads it
  kglue::Glue glue;
  glue.Use(&orv_kstrn_driver);
  glue.SetCpuCount(GetParam().cpus);
  OrvDevice* device = glue.AddBoard(board, kglue::BoardOptions{0x300004, 0});
  glue.Load();
  KernelDevice* kdev = glue.CreateDevice(device);
  ASSERT_NE(kdev, nullptr);

  const auto* data = reinterpret_cast<const uint32_t*>(kdev->sharedData);
  const auto* words = reinterpret_cast<const uint32_t*>(kdev->sharedLocked);
  const uint32_t dataPhys = static_cast<uint32_t>(OrvRegion_GetPhys(RegionOf(device, data)));
  const uint32_t phys = static_cast<uint32_t>(OrvRegion_GetPhys(RegionOf(device, words)));
  const auto fb = board.Bar(orvsim::ResourceKind::kMemory);
  const auto regs = board.Bar(orvsim::ResourceKind::kRegisters);

  const struct {
    uint32_t offset;
    uint32_t value;
  } dataWords[] = {
      {0, 24}, {4, dataPhys}, {8, 0x0A411E7A}, {12, 0x03000002}, {16, 0x25008086}, {20, 0x12000003},
  };
  for (const auto& w : dataWords) EXPECT_EQ(data[w.offset / 4], w.value) << "shared data " << w.offset;

  const struct {
    uint32_t offset;
    uint32_t value;
  } lockedWords[] = {
      {0, 0},
      {16, 0},
      {32, 0},
      {64, phys},
      {68, 0},
      {76, phys + 32},
      {80, 0},
      {88, 2784},
      {96, phys},
      {100, 0},
      {104, 0x8},  // the first chip at revision 2
      {108, GetParam().multiProcessor},
      {112, 0},
      {116, 0},
      {120, 0},
      {124, 0},
      {132, 1},
      {136, 0x308},  // the last register the workarounds wrote
      {140, 0xFFFFFFFF},
      {156, 0x00401234},
      {168, static_cast<uint32_t>(fb->base)},
      {172, static_cast<uint32_t>(fb->size)},
      {184, static_cast<uint32_t>(fb->size / 2)},
      {188, static_cast<uint32_t>(fb->size / 2)},
      {200, static_cast<uint32_t>(regs->base)},
      {204, static_cast<uint32_t>(regs->size)},
      {216, 0},
      {224, 0x300004},
      {2300, 0},
  };
  for (const auto& w : lockedWords)
    EXPECT_EQ(words[w.offset / 4], w.value) << "shared locked data " << w.offset;
  for (unsigned slot = 0; slot < kPendingSlotCount; ++slot) {
    const uint32_t* first = words + (2304 + 24 * slot) / 4;
    EXPECT_EQ(first[0], 0xFFFFFFFFu) << "post slot " << slot;
    for (int i = 1; i < 6; ++i) EXPECT_EQ(first[i], 0u) << "post slot " << slot;
  }

  // A second allocation of the blocks does nothing.
  const size_t regions = glue.LiveRegions();
  EXPECT_EQ(AllocateSharedBuffers(kdev), 0);
  EXPECT_EQ(glue.LiveRegions(), regions);
  EXPECT_EQ(reinterpret_cast<const uint32_t*>(kdev->sharedLocked), words);
  EXPECT_EQ(words[64 / 4], phys);

  // Blocks made afresh start with no register written.
  FreeSharedBuffers(kdev);
  EXPECT_EQ(glue.LiveRegions(), 0u);
  ASSERT_EQ(AllocateSharedBuffers(kdev), 1);
  EXPECT_EQ(kdev->sharedLocked->lastRegWritten, 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Cpus, InitialWords,
                         ::testing::Values(WordsCase{1, 0}, WordsCase{2, 1}, WordsCase{8, 1}));

TEST_F(KernelTest, EveryDeviceObjectGetsTheSameBlocksAndAMismatchTakesNoReference) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  PDEV* first = Enable(file, 0);
  PDEV* second = Enable(file, 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->common, second->common);
  EXPECT_EQ(first->commonLocked, second->commonLocked);
  EXPECT_EQ(first->sharedData, kdev->sharedData);
  EXPECT_EQ(second->sharedLocked, kdev->sharedLocked);
  const void* blocks[] = {first->common, first->commonLocked, kdev->sharedData,
                          kdev->sharedLocked};
  const int expectedRefs[] = {2, 2, 3, 3};  // two device objects, and the device's own
  for (int i = 0; i < 4; ++i) EXPECT_EQ(glue.RegionRefCount(blocks[i]), expectedRefs[i]) << i;
  EXPECT_EQ(OrvRegion_GetSize(RegionOf(device, first->common)), kCommonDataSize);
  EXPECT_EQ(OrvRegion_GetSize(RegionOf(device, first->commonLocked)), kCommonLockedSize);

  CommonBufferRequest request = {
      {kCommonDataSize, kCommonLockedSize, kSharedDataSize + 4, kSharedLockedSize}, {}};
  glue.ClearLog();
  EXPECT_FALSE(OsGetCommonBuffers(glue.ContextOf(file), &request));
  EXPECT_EQ(glue.LogText(), "[orv] *ERROR* Common buffer sizes doesn't match with device ones\n");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(glue.RegionRefCount(blocks[i]), expectedRefs[i]) << i;
  EXPECT_EQ(request.address[0], nullptr);
}

TEST_F(KernelTest, CommonBuffersWithoutSharedBlocksFailAndLeaveNothing) {
  MakeDevice();
  kglue::File* file = glue.Open(device);
  FreeSharedBuffers(kdev);
  glue.ClearLog();
  CommonBufferRequest request = {
      {kCommonDataSize, kCommonLockedSize, kSharedDataSize, kSharedLockedSize}, {}};
  EXPECT_FALSE(OsGetCommonBuffers(glue.ContextOf(file), &request));
  EXPECT_EQ(glue.LogText(),
            "[orv] *ERROR* Shared data buffer are not initialize yet?!?\n"
            "[orv] *ERROR* Kestrion OS: Failed to retrieve Shared data buffer\n");
  // The common regions the call made went again.
  EXPECT_EQ(glue.LiveRegions(), 0u);
  EXPECT_EQ(kdev->commonData, nullptr);
  EXPECT_EQ(kdev->commonLocked, nullptr);

  ASSERT_EQ(AllocateSharedBuffers(kdev), 1);
  glue.ClearLog();
  glue.FailAllocation(1, kglue::AllocKind::kRegion);
  EXPECT_FALSE(OsGetCommonBuffers(glue.ContextOf(file), &request));
  EXPECT_EQ(glue.LogText(),
            "[orv] *ERROR* Kestrion OS: Failed to allocate Common data buffer (sz: 9288)\n");
  glue.FailAllocation(2, kglue::AllocKind::kRegion);
  glue.ClearLog();
  EXPECT_FALSE(OsGetCommonBuffers(glue.ContextOf(file), &request));
  EXPECT_EQ(glue.LogText(),
            "[orv] *ERROR* Kestrion OS: Failed to allocate Common locked data buffer (sz: 4)\n");
  EXPECT_EQ(glue.LiveRegions(), 2u);  // only the two shared blocks
}

}  // namespace
