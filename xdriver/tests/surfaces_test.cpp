// 2D surfaces and device bitmaps on a local-DMA board: descriptors and
// pitches, the two-node descriptor ring with its packets and block tags,
// the host cache's slots, derived bitmaps, the clear through the 2D engine,
// temporary surfaces, mode changes and processor copies.
#include <gtest/gtest.h>

#include <vector>

#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "xdriver/context2d.h"
#include "xdriver/surf_desc_list.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

using twodtest::Local2dTest;
using twodtest::TestBitmap;

TEST_F(Local2dTest, BitmapDescriptorsTakeTheDevicesFormatAndAPitchOf32) {
  PDEV* pdev = Head(0);
  DeviceBitmap narrow;
  const LSIZE one = {1, 8};
  // The local-DMA memory manager has no heap for this memory type: the
  // bitmap is described but not placed.
  EXPECT_FALSE(narrow.Create(pdev, &one));
  EXPECT_EQ(narrow.width, 32u);
  EXPECT_EQ(narrow.ModeWord(), 32u | 3u << 16 | 50u << 24);
  EXPECT_EQ(narrow.height, 8u);
  EXPECT_EQ(narrow.options.heapSelector, k2dMemoryDeviceBitmap);
  EXPECT_EQ(narrow.formatCode, 50u);
  EXPECT_EQ(narrow.assignedWord, kNoDescriptor);

  // The primary: its pitch follows the width rounded up to 32.
  PDEV* odd = Head(1, 1000, 600);
  const DeviceBitmap& primary = odd->data2d.Primary();
  EXPECT_EQ(primary.options.desc.Width(), 1024u);
  EXPECT_EQ(primary.options.desc.Height(), 600u);
  EXPECT_EQ(primary.options.heapSelector, k2dMemoryPrimary);
}

TEST_F(Local2dTest, AThirdBindingTakesTheFirstBitmapsDescriptorWithSyncPackets) {
  PDEV* pdev = Head(0);
  TestBitmap b[3];
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Place(pdev, b[i], 64, 16 + 16 * i));
  SurfDesc2dList* list = pdev->data2d.surfDescList;
  BmPrimInt* prim = pdev->primInt;
  SharedLockedData_t* shared = pdev->sharedLocked;
  const uint32_t* from = prim->cursor;
  const uint32_t tag0 = shared->syncTagCounter;

  EXPECT_EQ(list->AssignCurrentSurfDescTo(&b[0], false), 0u);
  EXPECT_EQ(list->AssignCurrentSurfDescTo(&b[1], false), 1u << 10);
  EXPECT_EQ(b[0].block->drawSyncTag, -1) << "a bound bitmap's memory is in use";
  EXPECT_EQ(list->AssignCurrentSurfDescTo(&b[2], false), 0u);

  const uint32_t t1 = tag0 + 8, t2 = tag0 + 16, t3 = tag0 + 24;
  const std::vector<uint32_t> expected = {
      0x21AFDDC0, 0x707, 0, t1, 0x21218988, b[0].addressWord, b[0].ModeWord(),
      0x21AFDDC0, 0x707, 0, t2, 0x21218B8A, b[1].addressWord, b[1].ModeWord(),
      0x21AFDDC0, 0x707, 0, t3, 0x21218988, b[2].addressWord, b[2].ModeWord(),
  };
  EXPECT_EQ(WordsSince(prim, from), expected);
  // The first bitmap lost its descriptor; its memory is free once the
  // engine passes the tag of the packet that took it.
  EXPECT_EQ(b[0].flags & kDevBitBound, 0u);
  EXPECT_EQ(b[0].assignedWord, kNoDescriptor);
  EXPECT_EQ(b[0].block->drawSyncTag, static_cast<int32_t>(t3));
  EXPECT_EQ(b[1].assignedWord, 1u << 10);
  EXPECT_EQ(b[1].flags & kDevBitBound, kDevBitBound);
  EXPECT_EQ(b[2].block->drawSyncTag, -1);

  // A start lets the engine use the descriptors for anything: every
  // binding is dropped, and the next one loads its descriptor again.
  prim->Start();
  EXPECT_EQ(b[1].flags & kDevBitBound, 0u);
  EXPECT_EQ(b[2].assignedWord, kNoDescriptor);
}

TEST_F(Local2dTest, ATemporaryBindingLoadsDescriptorZeroAsLinear) {
  PDEV* pdev = Head(0);
  TestBitmap b;
  ASSERT_TRUE(Place(pdev, b, 64, 16));
  b.formatCode = 48;
  b.flags |= kDevBitCleared;
  BmPrimInt* prim = pdev->primInt;
  const uint32_t* from = prim->cursor;
  EXPECT_EQ(pdev->data2d.surfDescList->AssignCurrentSurfDescTo(&b, true), 0u);
  const std::vector<uint32_t> words = WordsSince(prim, from);
  ASSERT_EQ(words.size(), 7u);
  EXPECT_EQ(words[4], 0x21218988u);
  EXPECT_EQ(words[6], (b.ModeWord() & ~(0x7u << 16 | 0x3Fu << 24)) | 2u << 16 | 48u << 24);
  EXPECT_EQ(b.flags & (kDevBitBoundLinear | kDevBitBound | kDevBitCleared), kDevBitBoundLinear);
  EXPECT_EQ(b.assignedWord, kNoDescriptor);
}

TEST_F(Local2dTest, TheHostCacheHandsOutSlotsRoundRobinAndEvictsAtTheCursor) {
  PDEV* pdev = Head(0);
  HostBitmapCache* cache = pdev->data2d.hostCache;
  ASSERT_TRUE(cache->valid);
  EXPECT_EQ(cache->slotSize, 4u * 1024);
  std::vector<DeviceBitmap> b(130);
  for (DeviceBitmap& bitmap : b) {
    bitmap.height = 1;
    bitmap.hostPitch = 128;
  }
  for (int i = 0; i < 128; ++i) ASSERT_TRUE(cache->AllocateHostBitmap(&b[i]));
  EXPECT_EQ(b[127].hostSlot, 127u);
  EXPECT_EQ(b[127].hostCopy, cache->memory + 127 * cache->slotSize);

  // Every slot is taken: the 129th evicts the slot at the cursor.
  ASSERT_TRUE(cache->AllocateHostBitmap(&b[128]));
  EXPECT_EQ(b[128].hostSlot, 0u);
  EXPECT_EQ(b[0].flags & kDevBitHostCopy, 0u);
  EXPECT_EQ(b[1].flags & kDevBitHostCopy, kDevBitHostCopy);

  // A slot whose owner lost its copy is taken before anyone is evicted.
  b[5].flags &= ~kDevBitHostCopy;
  ASSERT_TRUE(cache->AllocateHostBitmap(&b[129]));
  EXPECT_EQ(b[129].hostSlot, 5u);
  EXPECT_EQ(b[1].flags & kDevBitHostCopy, kDevBitHostCopy);
  EXPECT_EQ(cache->nextSlot, 6u);

  // A bitmap a slot cannot hold gets no copy.
  DeviceBitmap big;
  big.height = 33;
  big.hostPitch = 128;
  EXPECT_FALSE(cache->AllocateHostBitmap(&big));
  EXPECT_EQ(big.flags, 0u);
}

TEST_F(Local2dTest, ADerivedBitmapKeepsItsMemoryAndCannotBeUncachedOrRecached) {
  PDEV* pdev = Head(0);
  TestBitmap source;
  ASSERT_TRUE(Place(pdev, source, 128, 32));
  ASSERT_NE(source.aperture, nullptr);

  // A descriptor of another format is refused without side effects.
  DeviceBitmap wrongFormat;
  source.aperture->options.desc.word1 = (source.aperture->options.desc.word1 & ~(0x3Fu << 24)) | 40u << 24;
  EXPECT_FALSE(wrongFormat.CreateDerived(pdev, &source));
  EXPECT_EQ(wrongFormat.master, nullptr);
  source.aperture->options.desc.word1 = source.ModeWord();

  TestBitmap derived;
  ASSERT_TRUE(derived.CreateDerived(pdev, &source));
  EXPECT_EQ(derived.flags & kDevBitDerived, kDevBitDerived);
  EXPECT_EQ(derived.addressWord, source.addressWord);
  MmBlock* block = derived.block;
  ASSERT_NE(block, nullptr);

  derived.Disable(pdev->surfaceManager);
  EXPECT_EQ(derived.enabled, 0);
  EXPECT_EQ(derived.block, block) << "the memory stays with the derived bitmap";
  EXPECT_EQ(source.block, block);
  EXPECT_FALSE(derived.Uncache());
  derived.flags |= kDevBitDiscarded;
  EXPECT_FALSE(derived.Recache());

  derived.Destroy();
  EXPECT_EQ(derived.flags & kDevBitDerived, 0u);
  EXPECT_EQ(derived.master, nullptr);
  EXPECT_EQ(source.block, block) << "destroying the derived bitmap leaves the source";
  source.Destroy();
}

TEST_F(Local2dTest, ClearSurfaceZeroesExactlyTheBitmapsPixels) {
  PDEV* pdev = Head(0);
  TestBitmap before, b;
  ASSERT_TRUE(Place(pdev, before, 64, 4));  // so that b has memory on both sides
  ASSERT_TRUE(Place(pdev, b, 40, 6));       // pitch 64 pixels
  const uint32_t base = b.addressWord & ~3u;
  ASSERT_GE(base, 64u);
  const uint32_t bytes = 64 * 4 * 6;
  std::memset(board_->LocalMemory() + base - 64, 0xA5, bytes + 128);
  ASSERT_TRUE(pdev->data2d.surfDescList != nullptr);
  pdev->data2d.surfDescList->AssignCurrentSurfDescTo(&b, false);

  b.ClearSurface();
  for (uint32_t i = 0; i < bytes + 128; ++i) {
    const bool inside = i >= 64 && i < 64 + bytes;
    ASSERT_EQ(board_->LocalMemory()[base - 64 + i], inside ? 0 : 0xA5) << i;
  }
  EXPECT_EQ(b.flags & (kDevBitCleared | kDevBitBound), kDevBitCleared);
  EXPECT_EQ(b.block->drawSyncTag, -1);
  EXPECT_TRUE(engine2d_->Faults().empty());
}

TEST_F(Local2dTest, AllocTmpShrinksUntilItFitsAndGivesUpAfterTheApertureRound) {
  PDEV* pdev = Head(0);
  // The third local-DMA heap holds 4 MB: 4096 x 4096 at 32 bits is halved
  // in width down to 256.
  Surface2d fits;
  LSIZE size = {4096, 4096};
  ASSERT_TRUE(fits.AllocTmp(pdev, &size, 50, 21));
  EXPECT_EQ(size.width, 256);
  EXPECT_EQ(size.height, 4096);
  EXPECT_EQ(fits.options.requestedKind, k2dLocationLocal);
  fits.Disable(pdev->surfaceManager);

  // A memory type nothing places: the width goes down to 32, the height to
  // 63, then once more from 512 x 256 through an aperture, then false.
  Surface2d never;
  size = {2048, 1024};
  EXPECT_FALSE(never.AllocTmp(pdev, &size, 50, 19));
  EXPECT_EQ(size.width, 2048) << "the size is left as asked";
  EXPECT_EQ(never.options.requestedKind, k2dLocationAperture);
  EXPECT_EQ(never.options.desc.Width(), 32u);
  EXPECT_EQ(never.options.desc.Height(), 32u);
  EXPECT_EQ(never.enabled, 0);
}

TEST_F(Local2dTest, AModeChangeKeepsSystemMemoryAndGivesBackLocalMemory) {
  PDEV* pdev = Head(0);
  Surface2d local, system;
  local.Describe(pdev, 64, 3, 50, 8, k2dMemoryPrimary, kSurfLocal);
  system.Describe(pdev, 64, 3, 50, 8, k2dMemoryPrimary, kSurfAgp);
  ASSERT_TRUE(local.Enable(pdev->surfaceManager));
  ASSERT_TRUE(system.Enable(pdev->surfaceManager));
  ASSERT_NE(system.LocationBits(), 0u);

  local.OnAssertMode(pdev, 0);
  system.OnAssertMode(pdev, 0);
  EXPECT_EQ(local.block, nullptr);
  EXPECT_EQ(local.enabled, 0);
  EXPECT_NE(system.block, nullptr);
  EXPECT_EQ(system.enabled, 1);

  local.OnAssertMode(pdev, 1);
  EXPECT_EQ(local.enabled, 1);
  EXPECT_NE(local.block, nullptr);
  local.Disable(pdev->surfaceManager);
  system.Disable(pdev->surfaceManager);
}

TEST_F(Local2dTest, ProcessorCopiesLandWhereTheEngineDrawsAndAreClippedToTheBitmap) {
  PDEV* pdev = Head(0);
  TestBitmap b;
  ASSERT_TRUE(Place(pdev, b, 64, 16));
  const uint32_t base = b.addressWord & ~3u;
  std::memset(board_->LocalMemory() + base, 0, 64 * 4 * 16);

  // Up: an 8 x 4 block at (60, 14) runs off the right and bottom edges;
  // only its 4 x 2 part on the bitmap lands.
  std::vector<uint32_t> source(8 * 4);
  for (size_t i = 0; i < source.size(); ++i) source[i] = 0x100 + static_cast<uint32_t>(i);
  const LRECT to = {60, 14, 68, 18};  // 8 x 4, of which 4 x 2 lie on the bitmap
  const LPOINT at = {0, 0};
  BmPrimInt* prim = pdev->primInt;
  const uint32_t* from = prim->cursor;
  b.XferBitmap(source.data(), 8 * 4, &to, &at, true);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool inside = x >= 60 && y >= 14;
      const uint32_t expected = inside ? 0x100 + static_cast<uint32_t>((y - 14) * 8 + (x - 60)) : 0;
      ASSERT_EQ(LocalWord(base + (y * 64 + x) * 4), expected) << x << "," << y;
    }
  EXPECT_EQ(WordsSince(prim, from), (std::vector<uint32_t>{0x212121C0, 0x707}));

  // Down: a point off the top-left edge reads only what lies on the bitmap.
  std::vector<uint32_t> back(4 * 4, 0xEEEEEEEE);
  const LRECT into = {0, 0, 4, 4};
  const LPOINT off = {62, 13};
  b.XferBitmap(back.data(), 4 * 4, &into, &off, false);
  EXPECT_EQ(back[0], 0u);                           // (62, 13)
  EXPECT_EQ(back[4 + 0], 0x100u + 2);               // (62, 14)
  EXPECT_EQ(back[4 + 1], 0x100u + 3);               // (63, 14)
  EXPECT_EQ(back[4 + 2], 0xEEEEEEEEu) << "beyond the bitmap's right edge";
  EXPECT_EQ(back[12], 0xEEEEEEEEu) << "beyond the bottom edge";
}

TEST_F(Local2dTest, TwoHeadsShareTheBoardsListAndContextUntilTheLastGoes) {
  PDEV* a = Head(0);
  PDEV* b = Head(1);
  CommonData* common = a->common;
  EXPECT_EQ(a->data2d.surfDescList, common->surfDesc2dList);
  EXPECT_EQ(b->data2d.surfDescList, common->surfDesc2dList);
  EXPECT_EQ(b->data2d.context, common->context2d);
  EXPECT_EQ(common->context2d->owner, a);
  // The first head goes: the board keeps both, owned by a live head.
  delete heads_[0]->pdev;
  heads_[0]->pdev = nullptr;
  ASSERT_NE(common->context2d, nullptr);
  EXPECT_EQ(common->context2d->owner, b);
  EXPECT_EQ(common->surfDesc2dList->owner, b);
  common->context2d->InvalidateContext();
  EXPECT_EQ(b->data2d.bracket.preDraw & kPreDrawSetContext, kPreDrawSetContext);
}

}  // namespace
