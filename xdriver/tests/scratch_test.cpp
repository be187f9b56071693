// Scratch surfaces, the 2D context, the drawing bracket and the engine
// sync: the choice of scratch memory, the ring of tagged ranges, the
// processor's write into a range, what invalidating the context does to
// the next drawing, and sync tags right across the wrap.
#include <gtest/gtest.h>

#include <vector>

#include "core/bm_packets.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "xdriver/context2d.h"
#include "xdriver/engine2d_state.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/temp_bit.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

using twodtest::Local2dTest;
using twodtest::TestBitmap;

TEST(ChooseTempBitsTest, ControllerBusFlagsAndBanksChooseTheScratchMemory) {
  struct Case {
    const char* name;
    uint32_t controller, flags, bankA, bankB;
    TempBitChoice slots[3];
  };
  const TempBitChoice none = {kTempBitNone, 0};
  const Case cases[] = {
      {"second controller", 1, 0x10, 1, 1, {{kTempBitLocalSecond, 0x20000}, none, none}},
      {"no AGP, two banks", 0, 0, 1, 1,
       {{kTempBitLocalFirst, 0x20000}, {kTempBitLocalSecond, 0x20000}, none}},
      {"local preferred over AGP", 0, 0x8010, 1, 1,
       {{kTempBitLocalFirst, 0x20000}, {kTempBitLocalSecond, 0x20000}, {kTempBitPci, 0x20000}}},
      {"AGP", 0, 0x10, 1, 1, {{kTempBitAgp, 0x80000}, none, {kTempBitPci, 0x20000}}},
      {"AGP, both PCI-locked bits", 0, 0x300014, 1, 1,
       {{kTempBitAgp, 0x80000}, none, {kTempBitPciSecond, 0x80000}}},
      {"one bank, PCI-locked", 0, 0x100004, 1, 0, {{kTempBitAgpSecond, 0x80000}, none, none}},
      {"AGP read as PCI", 0, 0x30, 1, 1, {{kTempBitAgp, 0x80000}, none, none}},
      {"nothing", 0, 0, 0, 1, {none, none, none}},
  };
  for (const Case& c : cases) {
    TempBitChoice out[3];
    ChooseTempBits(c.controller, c.flags, c.bankA, c.bankB, out);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(out[i].type, c.slots[i].type) << c.name << " slot " << i;
      EXPECT_EQ(out[i].pixels, c.slots[i].pixels) << c.name << " slot " << i;
    }
  }
}

TEST_F(Local2dTest, ADeviceOnControllerOneGetsOneScratchBufferOfItsOwn) {
  PDEV* pdev = Head(1);
  TempBit** slots = pdev->data2d.tempBits;
  ASSERT_NE(slots[0], nullptr);
  EXPECT_EQ(slots[0]->buffer->type, kTempBitLocalSecond);
  EXPECT_EQ(slots[0]->buffer->size, 0x20000u * 4);
  EXPECT_EQ(slots[0]->buffer->options.heapSelector, 21u);
  EXPECT_EQ(slots[1]->buffer->type, kTempBitNone);
  EXPECT_EQ(slots[2]->buffer->type, kTempBitNone);
  // Its own buffer, not the board's; the type-7 slots share the board's.
  EXPECT_EQ(slots[1]->buffer, reinterpret_cast<TempBitBuffer*>(pdev->common->tempBitBufferPlaces[1]));
  EXPECT_NE(slots[0]->buffer, reinterpret_cast<TempBitBuffer*>(pdev->common->tempBitBufferPlaces[0]));

  for (TempBit* bit : {slots[0], slots[1], slots[2]}) EXPECT_TRUE(bit->Enable(pdev->surfaceManager));
  EXPECT_EQ(slots[0]->enabled, 1);
  EXPECT_NE(slots[0]->buffer->block, nullptr);
  EXPECT_EQ(slots[0]->block, slots[0]->buffer->block) << "the bitmap sees the buffer's memory";
  EXPECT_EQ(slots[1]->enabled, 0) << "type 7 is never enabled";
  EXPECT_EQ(slots[2]->buffer->block, nullptr);
  slots[0]->Disable(pdev->surfaceManager);
  EXPECT_EQ(slots[0]->buffer->block, nullptr) << "a local buffer is given back";
}

TEST_F(Local2dTest, AFullBufferWrapsAndWaitsForTheOldestRangeItOverlaps) {
  PDEV* pdev = Head(0);
  uint8_t ok = 0;
  TempBitBuffer buffer(pdev, 250, kTempBitLocalFirst, &ok);  // 1000 bytes
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(buffer.AllocSurfaceGen(300), 0u);
  buffer.SetRangeTag(8);
  EXPECT_EQ(buffer.AllocSurfaceGen(300), 300u);
  buffer.SetRangeTag(16);
  EXPECT_EQ(buffer.AllocSurfaceGen(300), 600u);
  buffer.SetRangeTag(24);
  EXPECT_EQ(buffer.waitTag, 0u) << "nothing to wait for before the first wrap";

  // 900 + 300 passes the end: back to 0, behind the range that started there.
  EXPECT_EQ(buffer.AllocSurfaceGen(300), 0u);
  EXPECT_EQ(buffer.waitTag, 8u);
  buffer.SetRangeTag(32);
  // The next range reaches into the second old range: its tag.
  EXPECT_EQ(buffer.AllocSurfaceGen(250), 300u);
  EXPECT_EQ(buffer.waitTag, 16u);
  // Within what was already passed: the tag stays.
  EXPECT_EQ(buffer.AllocSurfaceGen(40), 550u);
  EXPECT_EQ(buffer.waitTag, 16u);
  EXPECT_EQ(buffer.AllocSurfaceGen(100), 590u);
  EXPECT_EQ(buffer.waitTag, 24u);

  // A table of 511 ranges is full even when the buffer is not.
  TempBitBuffer roomy(pdev, 0x20000, kTempBitLocalFirst, &ok);
  for (uint32_t i = 0; i < kTempBitRanges; ++i) {
    roomy.AllocSurfaceGen(64);
    roomy.SetRangeTag(8 * (i + 1));
  }
  EXPECT_EQ(roomy.AllocSurfaceGen(64), 0u);
  EXPECT_EQ(roomy.waitTag, 8u);
}

TEST_F(Local2dTest, OpenSurfaceWriteRestoresTheControlWordAfterAWrapAndWaitsForTheRange) {
  PDEV* pdev = Head(0);
  TempBit* bit = pdev->data2d.tempBits[1];  // type 5: bank B, through an aperture
  ASSERT_TRUE(bit->Enable(pdev->surfaceManager));
  SharedLockedData_t* shared = pdev->sharedLocked;
  BmPrimInt* prim = pdev->primInt;
  shared->last1300Value = 0xCC0;

  // A range at 0 (the buffer wrapped): the control word goes back to 0x707
  // and then to the last one sent.
  const uint32_t* from = prim->cursor;
  bit->buffer->AllocSurfaceGen(256);
  uint8_t* cpu = bit->OpenSurfaceWrite(0);
  ASSERT_NE(cpu, nullptr);
  EXPECT_EQ(WordsSince(prim, from), (std::vector<uint32_t>{0x2121C0C0, 0x707, 0xCC0}));
  // The processor's write lands in the buffer's memory, where the engine
  // reads it.
  const uint32_t word = 0x5EED1234;
  std::memcpy(cpu, &word, 4);
  EXPECT_EQ(LocalWord(bit->buffer->addressWord & ~3u), word);
  bit->CloseSurfaceWrite();

  // With bus flag 0x2 a sync tag goes with it.
  shared->busFlags |= 0x2;
  from = prim->cursor;
  const uint32_t tag = shared->syncTagCounter + 8;
  bit->buffer->AllocSurfaceGen(0x20000 * 4);  // the whole buffer: it wraps to 0
  ASSERT_NE(bit->OpenSurfaceWrite(0), nullptr);
  bit->CloseSurfaceWrite();
  EXPECT_EQ(WordsSince(prim, from),
            (std::vector<uint32_t>{0xAFAFDDC0, 0x707, 0, tag, tag, 0x212121C0, 0xCC0}));

  // A range whose tag the engine has not passed yet: the write waits for it.
  engine_->SetLatencyReads(20);
  prim->Start();  // the engine takes the tagged packet, 20 status reads later
  bit->buffer->AllocSurfaceGen(64);
  bit->buffer->waitTag = tag;
  ASSERT_NE(bit->OpenSurfaceWrite(0), nullptr);
  bit->CloseSurfaceWrite();
  EXPECT_EQ(engine_->ReachedTag(), tag);
}

TEST_F(Local2dTest, AWaitForATagTheEngineNeverReachesGivesUpAndIsLogged) {
  PDEV* pdev = Head(0);
  TempBit* bit = pdev->data2d.tempBits[1];
  ASSERT_TRUE(bit->Enable(pdev->surfaceManager));
  // Issued but never sent: the engine cannot get there.
  const uint32_t tag = Sync2dNewTag(pdev->sharedLocked);
  bit->buffer->waitTag = tag;
  bit->buffer->AllocSurfaceGen(64);
  bit->buffer->AllocSurfaceGen(64);
  box_.ClearMessages();
  EXPECT_EQ(bit->OpenSurfaceWrite(0), nullptr);
  EXPECT_TRUE(box_.Logged("[orv] *ERROR* sync tag 0x")) << box_.LogText();
  EXPECT_EQ(bit->viewAperture->lockCount, 0u) << "the window is given back";
}

TEST_F(Local2dTest, SetSurfModeTiledWithTheSameSizeChangesNothing) {
  PDEV* pdev = Head(0);
  TempBit* bit = pdev->data2d.tempBits[1];
  ASSERT_TRUE(bit->Enable(pdev->surfaceManager));
  EXPECT_EQ(bit->sizeWords[0], 64u);
  bit->SetSurfModeTiled(100, 2);
  EXPECT_EQ(bit->tilePitch, 128u);
  EXPECT_EQ(bit->tilePitchLog, 7u);
  EXPECT_EQ(bit->viewMode & 0x3FFF, 128u);
  EXPECT_EQ(bit->viewMode >> 24, 0x20u);
  EXPECT_EQ(bit->sizeWords[1], 64u * 2 * 128);
  bit->sizeWords[1] = 0;  // would be written again by a change
  bit->SetSurfModeTiled(128, 2);
  EXPECT_EQ(bit->sizeWords[1], 0u);
  bit->SetSurfModeTiled(128, 3);
  EXPECT_EQ(bit->viewMode >> 24, 0x30u);
}

TEST_F(Local2dTest, AfterInvalidateContextTheNextDrawingOnAnyDeviceUnbindsEveryDescriptor) {
  PDEV* a = Head(0);
  PDEV* b = Head(1);
  TestBitmap bitmap;
  ASSERT_TRUE(Place(a, bitmap, 64, 8));
  a->data2d.surfDescList->AssignCurrentSurfDescTo(&bitmap, false);
  ASSERT_EQ(bitmap.flags & kDevBitBound, kDevBitBound);

  // Display processing used the engine.
  a->data2d.context->InvalidateContext();
  EXPECT_EQ(a->data2d.bracket.preDraw & kPreDrawSetContext, kPreDrawSetContext);
  EXPECT_EQ(b->data2d.bracket.preDraw & kPreDrawSetContext, kPreDrawSetContext);
  { DrawBracket drawing(b); }
  EXPECT_EQ(bitmap.flags & kDevBitBound, 0u);
  EXPECT_EQ(bitmap.assignedWord, kNoDescriptor);
  EXPECT_EQ(a->data2d.bracket.preDraw & kPreDrawSetContext, 0u);
  EXPECT_EQ(b->data2d.bracket.preDraw & kPreDrawSetContext, 0u);

  // The owner check: another owner of the engine forces the same.
  a->data2d.surfDescList->AssignCurrentSurfDescTo(&bitmap, false);
  a->data2d.bracket.preDraw |= kPreDrawOwnerCheck;
  a->sharedLocked->primaryEngineMode = kEngineOwner2d;
  { DrawBracket drawing(a); }
  EXPECT_EQ(bitmap.flags & kDevBitBound, kDevBitBound) << "the 2D side still owns the engine";
  a->sharedLocked->primaryEngineMode = 0;
  { DrawBracket drawing(a); }
  EXPECT_EQ(bitmap.flags & kDevBitBound, 0u);
}

TEST_F(Local2dTest, TheBracketHoldsTheLockWhenAskedAndSyncsAfterDrawingWhenAsked) {
  PDEV* pdev = Head(0);
  SharedLockedData_t* shared = pdev->sharedLocked;
  PreDrawPostDraw& bracket = pdev->data2d.bracket;
  {
    DrawBracket drawing(pdev);
    EXPECT_EQ(shared->commandLock, 0) << "without the lock-drawing flag";
  }
  bracket.lockDrawing = 1;
  {
    DrawBracket drawing(pdev);
    EXPECT_EQ(shared->commandLock, 1);
    EXPECT_EQ(BmCommandLockDepth(shared, kCmdLockOwnerXDriver), 1u);
    DrawBracket nested(pdev);
    EXPECT_EQ(BmCommandLockDepth(shared, kCmdLockOwnerXDriver), 2u);
  }
  EXPECT_EQ(shared->commandLock, 0);

  bracket.postDraw = kPostDrawWait;
  const uint32_t before = shared->syncTagCounter;
  { DrawBracket drawing(pdev); }
  EXPECT_EQ(shared->syncTagCounter, before + 8);
  EXPECT_EQ(engine_->ReachedTag(), before + 8) << "the engine got there before the bracket ended";
  EXPECT_EQ(shared->commandLock, 0);
}

TEST(Sync2dTest, TagsSkipZeroAndPassRightAcrossTheWrap) {
  SharedLockedData_t shared = {};
  shared.syncTagCounter = 0xFFFFFFF8;
  EXPECT_EQ(Sync2dNewTag(&shared), 8u);
  EXPECT_EQ(shared.syncTagCounter, 8u);

  // The engine has passed tag a when its completed tag d lies in the
  // circular interval [a, c], c the newest tag issued.
  struct Case {
    uint32_t tag, issued, completed;
    bool passed;
  };
  const Case cases[] = {
      {0x40, 0x60, 0x40, true},       {0x40, 0x60, 0x38, false},
      {0x40, 0x60, 0x60, true},       {0x40, 0x60, 0x68, false},
      {0xFFFFFFF8, 8, 0xFFFFFFF8, true}, {0xFFFFFFF8, 8, 0, true},
      {0xFFFFFFF8, 8, 8, true},       {0xFFFFFFF8, 8, 0xFFFFFFF0, false},
      {0xFFFFFFF8, 8, 16, false},     {0xFFFFFFF8, 8, 0xFFFFFFFD, true},  // flag bits ignored
  };
  CommonData common = {};
  common.sharedLocked = &shared;
  shared.dmaMode = kDmaModePost;
  for (const Case& c : cases) {
    shared.syncTagCounter = c.issued;
    shared.completedTag = c.completed;
    EXPECT_EQ(Sync2dTagPassed(&common, c.tag), c.passed)
        << std::hex << c.tag << " issued " << c.issued << " completed " << c.completed;
  }
}

TEST(Sync2dTest, ColoursAndPlaneMasksAreWidenedTo32Bits) {
  EXPECT_EQ(Replicate2d(0x12345678, 32), 0x12345678u);
  EXPECT_EQ(Replicate2d(0x12345678, 16), 0x56785678u);
  EXPECT_EQ(Replicate2d(0x12345678, 8), 0x78787878u);
  EXPECT_EQ(Replicate2d(0x3FF00000, 30), 0u) << "any other depth repeats the low byte";
}

}  // namespace
