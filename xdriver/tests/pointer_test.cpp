// Cursor buffers and the device's pointer component on a local-DMA board:
// slot layout, the ring with its spare slot, the board's eight buffers, and
// the wait for the engine when a buffer is placed.
#include <gtest/gtest.h>

#include <vector>

#include "core/bm_prim_int.h"
#include "core/pdev.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/pointer.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

using twodtest::Local2dTest;

class PointerTest : public Local2dTest {};

TEST_F(PointerTest, SlotsFollowEachOtherWithTheSpareLast) {
  PDEV* pdev = Head(0);
  struct Case {
    HardPointerBuffer::PointerType type;
    uint32_t slot;
    uint32_t spare;
    uint32_t bytes;
    uint32_t format;
  };
  for (const Case& c : {Case{HardPointerBuffer::kTwoColour, 2048, 12288, 14336, 5},
                        Case{HardPointerBuffer::kSixteenColour, 8192, 49152, 57344, 4}}) {
    SCOPED_TRACE(c.type);
    uint8_t ok = 0;
    HardPointerBuffer buffer(pdev, 6, c.type, &ok);
    ASSERT_EQ(ok, 1);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(buffer.entries[i].offset, i * c.slot);
    EXPECT_EQ(buffer.spareOffset, c.spare);
    EXPECT_EQ(buffer.options.desc.size, c.bytes);
    EXPECT_EQ(buffer.options.physicalSize, c.bytes);
    EXPECT_EQ(buffer.FormatCode(), c.format);
    EXPECT_EQ(buffer.options.desc.Format(), c.format);
    EXPECT_EQ(buffer.options.desc.Width(), 32u);
    EXPECT_EQ(buffer.options.desc.Layout(), 0u);
    // The first heap holds the local-DMA command buffer: the cursor takes
    // the rest of the first bank.
    EXPECT_EQ(buffer.options.heapSelector, 1u);
    EXPECT_EQ(buffer.options.requestedKind, 6u);  // through the frame-buffer mapping
    // Placed, it lies whole inside local memory.
    ASSERT_TRUE(buffer.Enable(pdev->surfaceManager));
    EXPECT_LE(buffer.block->offset + c.bytes, board_->LocalMemorySize());
    buffer.Disable(pdev->surfaceManager);
  }
}

TEST_F(PointerTest, BuffersTakeTheFirstHeapUnlessTheCommandBufferHasIt) {
  PDEV* pdev = Head(0);
  SharedLockedData_t* shared = pdev->sharedLocked;
  const uint32_t mode = shared->dmaMode;
  ASSERT_EQ(mode, kDmaModeLocal);
  shared->dmaMode = kDmaModePost;  // as with the kernel module
  uint8_t ok = 0;
  HardPointerBuffer buffer(pdev, 6, HardPointerBuffer::kTwoColour, &ok);
  shared->dmaMode = mode;
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(buffer.options.heapSelector, 18u);
  EXPECT_EQ(buffer.options.requestedKind, 1u);  // through an aperture
}

TEST_F(PointerTest, MissesReplaceRoundTheRingAndNeverReuseTheSlotJustHandedOut) {
  PDEV* pdev = Head(0);
  uint8_t ok = 0;
  HardPointerBuffer buffer(pdev, 6, HardPointerBuffer::kTwoColour, &ok);
  ASSERT_EQ(ok, 1);
  buffer.InvalidateCache();
  // An entry that holds keys (0, 5): a key of 0 is never looked for.
  buffer.entries[3].key1 = 0;
  buffer.entries[3].key2 = 5;
  uint8_t hit = 0xEE;
  HardPointerEntry* first = buffer.GetSurface(0, 5, &hit);
  EXPECT_EQ(hit, 0);
  EXPECT_EQ(first, &buffer.entries[0]);
  EXPECT_EQ(first->offset, 12288u);  // the spare
  EXPECT_EQ(buffer.spareOffset, 0u);  // the slot entry 0 had

  std::vector<long> replaced = {first - buffer.entries};
  std::vector<uint32_t> slots = {first->offset};
  for (int miss = 0; miss < 6; ++miss) {
    HardPointerEntry* e = buffer.GetSurface(7, 100 + miss, &hit);
    EXPECT_EQ(hit, 0);
    replaced.push_back(e - buffer.entries);
    slots.push_back(e->offset);
  }
  EXPECT_EQ(replaced, (std::vector<long>{0, 1, 2, 3, 4, 5, 0}));
  // Each miss takes the slot the previous one freed.
  EXPECT_EQ(slots, (std::vector<uint32_t>{12288, 0, 2048, 4096, 6144, 8192, 10240}));

  // A stored image is found again without moving the ring.
  HardPointerEntry* stored = &buffer.entries[2];
  stored->key1 = 11;
  stored->key2 = 22;
  EXPECT_EQ(buffer.GetSurface(11, 22, &hit), stored);
  EXPECT_EQ(hit, 1);
  EXPECT_EQ(buffer.GetSurface(11, 23, &hit), &buffer.entries[1]);
  EXPECT_EQ(hit, 0);
}

TEST_F(PointerTest, InvalidationKeepsTheSlots) {
  PDEV* pdev = Head(0);
  uint8_t ok = 0;
  HardPointerBuffer buffer(pdev, 6, HardPointerBuffer::kSixteenColour, &ok);
  ASSERT_EQ(ok, 1);
  uint8_t hit = 0;
  buffer.GetSurface(0, 0, &hit)->key1 = 9;
  buffer.InvalidateCache();
  for (uint32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(buffer.entries[i].key1, 0u);
    EXPECT_EQ(buffer.entries[i].value, 64u);
  }
  EXPECT_EQ(buffer.spareValue, 64u);
  EXPECT_EQ(buffer.entries[0].offset, 49152u);  // still the slot it took
}

TEST_F(PointerTest, TheFirstDeviceMakesTheBoardsBuffersAndTheLastFreesThem) {
  const uint64_t liveBefore = box_.LiveAllocations();
  PDEV* first = Head(0);
  CommonData* common = first->common;
  for (unsigned i = 0; i < 4; ++i) {
    ASSERT_NE(common->twoColourCursors[i], nullptr);
    ASSERT_NE(common->sixteenColourCursors[i], nullptr);
    EXPECT_EQ(common->twoColourCursors[i]->FormatCode(), 5u);
    EXPECT_EQ(common->sixteenColourCursors[i]->FormatCode(), 4u);
    EXPECT_EQ(first->pointer.twoColour[i], common->twoColourCursors[i]);
    EXPECT_EQ(first->pointer.sixteenColour[i], common->sixteenColourCursors[i]);
  }
  PDEV* second = Head(1);
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(second->pointer.twoColour[i], first->pointer.twoColour[i]);
    EXPECT_EQ(second->pointer.sixteenColour[i], first->pointer.sixteenColour[i]);
  }
  HardPointerBuffer* kept = common->twoColourCursors[0];
  delete second;
  heads_.back()->pdev = nullptr;
  EXPECT_EQ(common->twoColourCursors[0], kept);
  delete first;
  heads_.front()->pdev = nullptr;
  EXPECT_EQ(box_.LiveAllocations(), liveBefore);
}

TEST_F(PointerTest, EnableWaitsForTheEngineAndClearsTheBlocksTag) {
  PDEV* pdev = Head(0);
  HardPointerBuffer* buffer = pdev->pointer.twoColour[0];
  ASSERT_TRUE(buffer->Enable(pdev->surfaceManager));
  ASSERT_NE(buffer->block, nullptr);
  // A drawing that still uses the memory: its tag is reached only after the
  // engine's status has been read a few times.
  engine_->SetLatencyReads(5);
  const uint32_t tag = Sync2dWritePacket(pdev->primInt);
  ASSERT_NE(tag, 0u);
  pdev->primInt->Start();
  buffer->block->drawSyncTag = static_cast<int32_t>(tag);
  uint8_t hit = 0;
  buffer->GetSurface(1, 2, &hit)->key1 = 1;
  ASSERT_TRUE(buffer->Enable(pdev->surfaceManager));
  EXPECT_EQ(engine_->ReachedTag() & ~7u, tag & ~7u);
  EXPECT_EQ(buffer->block->drawSyncTag, 0);
  EXPECT_EQ(buffer->entries[0].key1, 0u);  // every image forgotten
  buffer->Disable(pdev->surfaceManager);
}

TEST_F(PointerTest, EnableGivesUpOnAnEngineThatNeverGetsThere) {
  PDEV* pdev = Head(0);
  HardPointerBuffer* buffer = pdev->pointer.sixteenColour[1];
  ASSERT_TRUE(buffer->Enable(pdev->surfaceManager));
  board_->SetLogging(false, false);
  // Far more reads than the wait's bound makes.
  engine_->SetLatencyReads(10000000);
  const uint32_t tag = Sync2dWritePacket(pdev->primInt);
  pdev->primInt->Start();
  buffer->block->drawSyncTag = static_cast<int32_t>(tag);
  EXPECT_FALSE(buffer->Enable(pdev->surfaceManager));
  EXPECT_EQ(buffer->block->drawSyncTag, static_cast<int32_t>(tag));
  engine_->RunPending();
  buffer->Disable(pdev->surfaceManager);
}

}  // namespace
