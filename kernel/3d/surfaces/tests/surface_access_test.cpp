// The processor's access to surfaces: transfers in each layout round-trip
// through the board's memory against references made here, client
// rectangles out of bounds are refused with nothing moved, the engine
// handshake shows in the register log, and processor writes are followed
// by edge replication and the render target's flush.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "core/driver_switches.h"
#include "core/regs/dma.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/blit_setup.h"
#include "kernel/3d/surfaces/surface_access.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/dma_streams.h"
#include "kernel/sync_tags.h"
#include "platform/board/chip_2d.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"

namespace {

using stest::SurfaceBoard;

constexpr uint32_t kArgb = 11;  // 32 bits a pixel
constexpr uint8_t kCanary = 0xC5;

class Access : public SurfaceBoard {
 protected:
  void TearDown() override {
    for (Surface3d* s : surfaces) delete s;
    SurfaceBoard::TearDown();
  }
  Surface3d* Make(uint32_t code, uint32_t width, uint32_t height, uint8_t placement = kPlaceLocal) {
    SurfaceCreateRequest request = Request(code, width, height, placement);
    Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
    if (s != nullptr) surfaces.push_back(s);
    return s;
  }
  // Client memory with canaries on both sides.
  struct Client {
    std::vector<uint8_t> bytes;
    size_t size;
    explicit Client(size_t n) : bytes(n + 64, kCanary), size(n) {}
    uint8_t* data() { return bytes.data() + 32; }
    bool CanariesIntact() const {
      for (size_t i = 0; i < 32; ++i)
        if (bytes[i] != kCanary || bytes[bytes.size() - 1 - i] != kCanary) return false;
      return true;
    }
  };
  static SurfaceLockRequest Rect(Client& c, uint32_t pitch, uint32_t direction, int32_t l, int32_t t, int32_t r,
                                 int32_t b, uint32_t x = 0, uint32_t y = 0) {
    SurfaceLockRequest q;
    q.clientAddress = reinterpret_cast<uintptr_t>(c.data());
    q.clientSize = c.size;
    q.clientPitch = pitch;
    q.direction = direction;
    q.source[0] = l;
    q.source[1] = t;
    q.source[2] = r;
    q.source[3] = b;
    q.destX = x;
    q.destY = y;
    return q;
  }
  static SurfaceLockRequest Whole(Client& c, uint32_t pitch, uint32_t direction) {
    SurfaceLockRequest q = Rect(c, pitch, direction, 0, 0, 0, 0);
    q.flags = kLockWhole;
    return q;
  }
  // The surface's bytes as the processor sees them.
  std::vector<uint8_t> Memory(Surface3d* s, size_t bytes) {
    const uint64_t at = s->Lock();
    EXPECT_NE(at, 0u);
    std::vector<uint8_t> out(bytes);
    if (at != 0) memcpy(out.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), bytes);
    s->syncSuspended = 1;  // the unlock below is not a write
    s->Unlock();
    s->syncSuspended = 0;
    return out;
  }
  void Fill(Surface3d* s, uint8_t value) {
    const uint64_t at = s->Lock();
    ASSERT_NE(at, 0u);
    memset(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), value, uint64_t{s->pitch} * (s->height + 2));
    s->syncSuspended = 1;
    s->Unlock();
    s->syncSuspended = 0;
  }

  std::vector<Surface3d*> surfaces;
};

TEST_F(Access, ALinearRectangleGoesInAtItsPointAndComesBackWhole) {
  Surface3d* s = Make(kArgb, 64, 16);
  ASSERT_NE(s, nullptr);
  Fill(s, 0);
  const uint32_t pitch = s->pitch;
  // 10 x 5 pixels of a client image of 20 x 8, from (3, 2), to (40, 9).
  Client in(20 * 4 * 8);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i * 13 + 1);
  SurfaceLockRequest w = Rect(in, 80, 0, 3, 2, 13, 7, 40, 9);
  ASSERT_TRUE(s->LockWithRequest(&w));
  std::vector<uint8_t> want(uint64_t{pitch} * 16, 0);
  for (uint32_t y = 0; y < 5; ++y)
    memcpy(&want[(9 + y) * pitch + 40 * 4], in.data() + (2 + y) * 80 + 3 * 4, 10 * 4);
  EXPECT_EQ(Memory(s, want.size()), want);
  Client out(64 * 4 * 16);
  SurfaceLockRequest r = Whole(out, 256, kLockRead);
  ASSERT_TRUE(s->LockWithRequest(&r));
  for (uint32_t y = 0; y < 16; ++y)
    ASSERT_EQ(memcmp(out.data() + y * 256, &want[y * pitch], 256), 0) << y;
  EXPECT_TRUE(out.CanariesIntact());
  EXPECT_TRUE(s->flagsWord & kSurfCpuWritten);
}

TEST_F(Access, RectanglesOutsideTheSurfaceOrTheClientMemoryAreRefusedWithNothingMoved) {
  Surface3d* s = Make(kArgb, 32, 8);
  ASSERT_NE(s, nullptr);
  Fill(s, 0x11);
  const std::vector<uint8_t> before = Memory(s, uint64_t{s->pitch} * 8);
  struct Case {
    const char* name;
    int32_t l, t, r, b;
    uint32_t x, y, pitch;
    size_t clientBytes;
    uint32_t direction;
  };
  const Case cases[] = {
      {"reversed", 5, 0, 2, 4, 0, 0, 128, 4096, 0},
      {"upside down", 0, 5, 4, 2, 0, 0, 128, 4096, 0},
      {"negative", -1, 0, 4, 4, 0, 0, 128, 4096, 0},
      {"past the right", 0, 0, 4, 4, 29, 0, 128, 4096, 0},
      {"past the bottom", 0, 0, 4, 4, 0, 5, 128, 4096, 0},
      {"read past the right", 30, 0, 33, 4, 0, 0, 128, 4096, kLockRead},
      {"client too small", 0, 0, 8, 8, 0, 0, 128, 128 * 7 + 31, 0},
      {"client too small to read into", 0, 0, 8, 8, 0, 0, 128, 128 * 7 + 31, kLockRead},
      {"huge point", 0, 0, 4, 4, 0xFFFFFFF0u, 0, 128, 4096, 0},
      // Read into rows -1 to 2 of the client: the last row must not wrap
      // round to row 2.
      {"read to a point whose last row wraps", 0, 0, 4, 4, 0, 0xFFFFFFFFu, 128, 4096, kLockRead},
  };
  for (const Case& c : cases) {
    Client client(c.clientBytes);
    memset(client.data(), 0x77, client.size);
    SurfaceLockRequest q = Rect(client, c.pitch, c.direction, c.l, c.t, c.r, c.b, c.x, c.y);
    EXPECT_FALSE(s->LockWithRequest(&q)) << c.name;
    EXPECT_TRUE(client.CanariesIntact()) << c.name;
    if (c.direction == kLockRead) {
      EXPECT_EQ(std::vector<uint8_t>(client.data(), client.data() + client.size),
                std::vector<uint8_t>(client.size, 0x77))
          << c.name;
    }
    EXPECT_EQ(Memory(s, before.size()), before) << c.name;
  }
  // A box past the back, and one with no client address.
  Client client(4096);
  SurfaceLockRequest q = Rect(client, 128, 0, 0, 0, 0, 0);
  q.flags = kLockBox;
  const uint32_t box[6] = {0, 0, 4, 4, 0, 2};
  memcpy(q.box, box, sizeof(box));
  EXPECT_FALSE(s->LockWithRequest(&q));
  q = Rect(client, 128, 0, 0, 0, 4, 4);
  q.clientAddress = 0;
  EXPECT_FALSE(s->LockWithRequest(&q));
  EXPECT_EQ(Memory(s, before.size()), before);
  // Boxes read to a client point far away: a last slice that wraps to
  // slice 0, and slice and row offsets whose 64-bit sum wraps to byte 9.
  struct BoxCase {
    const char* name;
    uint32_t x, y, z, pitch, slicePitch, back;
  };
  const BoxCase boxes[] = {
      {"last slice wraps", 0, 0, 0xFFFFFFFFu, 128, 1024, 1},
      {"offsets wrap in 64 bits", 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 2, 0xFFFFFFFFu, 1},
  };
  for (const BoxCase& c : boxes) {
    Client far(4096);
    memset(far.data(), 0x77, far.size);
    q = Rect(far, c.pitch, kLockRead, 0, 0, 0, 0);
    q.flags = kLockBox;
    const uint32_t region[6] = {0, 0, 1, 4, 0, c.back};
    memcpy(q.box, region, sizeof(region));
    q.boxDestX = c.x;
    q.boxDestY = c.y;
    q.boxDestZ = c.z;
    q.clientSlicePitch = c.slicePitch;
    EXPECT_FALSE(s->LockWithRequest(&q)) << c.name;
    EXPECT_TRUE(far.CanariesIntact()) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(far.data(), far.data() + far.size), std::vector<uint8_t>(far.size, 0x77))
        << c.name;
  }
}

TEST_F(Access, FormatSixteenIsWidenedOnTheWayInAndNarrowedOnTheWayBack) {
  Surface3d* s = Make(16, 16, 4);
  ASSERT_NE(s, nullptr);
  std::mt19937 random(16);
  Client in(16 * 4 * 4);
  std::vector<uint32_t> pixels(64);
  for (uint32_t& p : pixels) p = random() & 0xC0FFFFFFu;  // bits 24-29 carry no channel
  memcpy(in.data(), pixels.data(), in.size);
  SurfaceLockRequest w = Whole(in, 64, 0);
  ASSERT_TRUE(s->LockWithRequest(&w));
  const std::vector<uint8_t> stored = Memory(s, 64);
  uint32_t first;
  memcpy(&first, stored.data(), 4);
  EXPECT_EQ(first, WidenFormat16(pixels[0]));
  Client out(in.size);
  SurfaceLockRequest r = Whole(out, 64, kLockRead);
  ASSERT_TRUE(s->LockWithRequest(&r));
  EXPECT_EQ(memcmp(out.data(), pixels.data(), out.size), 0);
  EXPECT_EQ(WidenFormat16(0x00FF8001u), 0x3FE80004u);
  EXPECT_EQ(NarrowFormat16(WidenFormat16(0xC0123456u)), 0xC0123456u);
}

TEST_F(Access, PackedFormatsMoveWholeWordsButNeverPastTheClientsLastRow) {
  Surface3d* s = Make(42, 16, 4);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->bytesPerPixel, 2u);
  Fill(s, 0);
  // Three pixels a row: 8 bytes a row, but the last row only has 6.
  Client in(16 * 3 + 6);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(0x40 + i);
  SurfaceLockRequest w = Rect(in, 16, 0, 0, 0, 3, 4);
  ASSERT_TRUE(s->LockWithRequest(&w));
  const std::vector<uint8_t> stored = Memory(s, uint64_t{s->pitch} * 4);
  for (uint32_t y = 0; y < 3; ++y)
    EXPECT_EQ(memcmp(&stored[y * s->pitch], in.data() + y * 16, 8), 0) << y;
  EXPECT_EQ(memcmp(&stored[3 * s->pitch], in.data() + 48, 6), 0);
  EXPECT_EQ(stored[3 * s->pitch + 6], 0);
}

TEST_F(Access, AWholeCompressedSurfaceOfSixBySixMovesTwoByTwoBlocks) {
  Surface3d* s = Make(1, 8, 8);  // 4 bits a pixel: 8-byte blocks
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->format->formatClass, kClassBlockCompressed);
  s->width = 6;
  s->height = 6;
  Fill(s, 0);
  // Client rows of blocks: pitch per pixel row 16 (two blocks of 8 bytes
  // every four rows).
  Client in(2 * 4 * 16);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i + 1);
  SurfaceLockRequest w = Whole(in, 16, 0);
  ASSERT_TRUE(s->LockWithRequest(&w));
  const std::vector<uint8_t> stored = Memory(s, uint64_t{s->pitch} * 8);
  for (uint32_t row = 0; row < 2; ++row)
    EXPECT_EQ(memcmp(&stored[row * 4 * s->pitch], in.data() + row * 64, 16), 0) << row;
  Client out(in.size);
  memset(out.data(), 0, out.size);
  SurfaceLockRequest r = Whole(out, 16, kLockRead);
  ASSERT_TRUE(s->LockWithRequest(&r));
  EXPECT_EQ(memcmp(out.data(), in.data(), 16), 0);
  EXPECT_EQ(memcmp(out.data() + 64, in.data() + 64, 16), 0);
  EXPECT_TRUE(out.CanariesIntact());
}

TEST(TiledOffsets, APixelLiesInItsTileAtTheOffsetOfItsPosition) {
  // 4 bytes: (33, 17) of a 64-wide surface: tile 3, 16 + 4 bytes in.
  EXPECT_EQ(TiledPixelOffset(33, 17, 0, 64, 1, 4), (3u << 11) + 20);
  EXPECT_EQ(TiledPixelOffset(33, 17, 0, 64, 1, 2), (3u << 10) + 2 + 4);
  EXPECT_EQ(TiledPixelOffset(33, 17, 0, 64, 1, 1), (3u << 9) + 1 + 4);
  // Slices interleave by tile.
  EXPECT_EQ(TiledPixelOffset(0, 0, 1, 64, 2, 4), 1u << 11);
  EXPECT_EQ(TiledPixelOffset(32, 0, 0, 64, 2, 4), 2u << 11);
  // Every pixel of a tile at its own offset below the tile's size.
  for (uint32_t bpp : {1u, 2u, 4u}) {
    std::set<uint64_t> seen;
    const uint64_t tileBytes = 32u * 16u * bpp;
    for (uint32_t y = 0; y < 16; ++y)
      for (uint32_t x = 0; x < 32; ++x) {
        const uint64_t at = TiledPixelOffset(x, y, 0, 64, 1, bpp);
        EXPECT_LE(at + bpp, tileBytes);
        EXPECT_EQ(at % bpp, 0u);
        seen.insert(at);
      }
    EXPECT_EQ(seen.size(), 512u) << bpp;
  }
  // Blocks: 4 bits a pixel (format 1) in 256-byte tiles, 8 bits in 512.
  EXPECT_EQ(TiledBlockOffset(36, 20, 0, 64, 1, 1, 4), (3u << 8) + (4 << 4) + 8);
  EXPECT_EQ(TiledBlockOffset(36, 20, 0, 64, 1, 3, 8), (3u << 9) + 4 * 32 + 16);
}

TEST_F(Access, TiledMemoryRoundTripsThroughItsTiles) {
  for (uint32_t code : {kArgb, 6u}) {
    Surface3d* s = Make(code, 64, 32);
    ASSERT_NE(s, nullptr);
    s->layoutType = kLayoutTypeTiledMemory;  // as on a block of tiled memory
    const uint32_t bpp = s->bytesPerPixel;
    Fill(s, 0);
    Client in(64 * 32 * bpp);
    std::mt19937 random(code);
    for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(random());
    SurfaceLockRequest w = Whole(in, 64 * bpp, 0);
    ASSERT_TRUE(s->LockWithRequest(&w)) << code;
    const std::vector<uint8_t> stored = Memory(s, 64 * 32 * bpp);
    for (uint32_t y : {0u, 17u, 31u})
      for (uint32_t x : {0u, 33u, 63u})
        EXPECT_EQ(memcmp(&stored[TiledPixelOffset(x, y, 0, 64, 1, bpp)], in.data() + (y * 64 + x) * bpp, bpp), 0)
            << code << " " << x << "," << y;
    Client out(in.size);
    SurfaceLockRequest r = Rect(out, 64 * bpp, kLockRead, 0, 0, 64, 32);
    ASSERT_TRUE(s->LockWithRequest(&r));
    EXPECT_EQ(memcmp(out.data(), in.data(), in.size), 0) << code;
  }
}

TEST_F(Access, BorderedPiecesLandWhereTheSurfaceKeepsThem) {
  SurfaceCreateRequest request = Request(kArgb, 8, 6, kPlaceLocal | kRequestBordered);
  Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(s, nullptr);
  surfaces.push_back(s);
  const uint32_t w = s->width, h = s->height;
  ASSERT_TRUE(s->Bordered());
  Fill(s, 0);
  // A client image of the bordered space where each pixel holds its (x, y).
  const uint32_t cw = w + 2, ch = h + 2;
  Client in(uint64_t{cw} * ch * 4);
  for (uint32_t y = 0; y < ch; ++y)
    for (uint32_t x = 0; x < cw; ++x) {
      const uint32_t v = 0x1000000u | x << 8 | y;
      memcpy(in.data() + (y * cw + x) * 4, &v, 4);
    }
  SurfaceLockRequest q = Whole(in, cw * 4, 0);
  q.flags |= kLockBordered;
  ASSERT_TRUE(s->LockWithRequest(&q));
  const std::vector<uint8_t> stored = Memory(s, uint64_t{s->pitch} * ch);
  auto at = [&](uint32_t x, uint32_t y) {
    uint32_t v;
    memcpy(&v, &stored[y * s->pitch + x * 4], 4);
    return v;
  };
  auto px = [](uint32_t x, uint32_t y) { return 0x1000000u | x << 8 | y; };
  EXPECT_EQ(at(0, 0), px(1, 1));                  // interior
  EXPECT_EQ(at(w, h), px(w + 1, h + 1));          // right and bottom border
  EXPECT_EQ(at(2, h + 1), px(3, 0));              // top border row
  EXPECT_EQ(at(w + 1, 3), px(0, 4));              // left border column
  EXPECT_EQ(at(w + 1, h + 1), px(0, 0));          // corner
  // Read back: the client gets the bordered space again.
  Client out(in.size);
  SurfaceLockRequest r = Whole(out, cw * 4, kLockRead);
  r.flags |= kLockBordered;
  ASSERT_TRUE(s->LockWithRequest(&r));
  EXPECT_EQ(memcmp(out.data(), in.data(), in.size), 0);
  // Outside the bordered space: refused.
  SurfaceLockRequest bad = Rect(in, cw * 4, 0, 0, 0, static_cast<int32_t>(cw) + 1, 2);
  bad.flags = kLockBordered;
  EXPECT_FALSE(s->LockWithRequest(&bad));
}

// A window over local memory without a processor mapping belongs to the
// surface that owns the memory, also for a clone made of a clone: the
// middle clone goes first, and nothing of the glue is left behind.
TEST_F(Access, AWindowForAClonesCloneBelongsToTheMemorysOwner) {
  const size_t live = glue.LiveBlocks().size();
  SurfaceCreateRequest request = Request(kArgb, 16, 16);
  Surface3d* root = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(root, nullptr);
  request.master = root;
  Surface3d* middle = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(middle, nullptr);
  request.master = middle;
  Surface3d* clone = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(clone, nullptr);
  ASSERT_EQ(clone->master, middle);
  // No processor view of the block: the lock takes a window of the host
  // aperture.
  MmHostAperture* frameBuffer = pdev->surfaceManager->frameBufferWindow;
  ASSERT_NE(frameBuffer, nullptr);
  uint8_t* const mapped = frameBuffer->mapped;
  frameBuffer->mapped = nullptr;
  Client in(16 * 4 * 16);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i);
  SurfaceLockRequest q = Whole(in, 16 * 4, 0);
  const bool written = clone->LockWithRequest(&q);
  frameBuffer->mapped = mapped;
  ASSERT_TRUE(written);
  EXPECT_NE(root->aperture, nullptr);
  EXPECT_EQ(middle->aperture, nullptr);
  // The bytes reached the memory the root owns.
  const uint8_t* memory = board.LocalMemory() + (root->busWord & kDescAddressMask);
  EXPECT_EQ(memcmp(memory, in.data(), 16 * 4), 0);
  delete middle;
  delete clone;
  delete root;
  EXPECT_EQ(glue.LiveBlocks().size(), live) << "the window outlived the surfaces";
}

TEST_F(Access, ALockWaitsForTheEngineAndFlushesItsCaches) {
  Surface3d* s = Make(kArgb, 32, 8);
  ASSERT_NE(s, nullptr);
  board.SetLogging(false, true);
  SharedLocked()->lastRegWritten = 0x300;
  board.ClearLog();
  EXPECT_NE(s->Lock(), 0u);
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  for (const auto& a : board.LoggedWrites()) writes.push_back({a.offset, a.value});
  // The flush first; what follows maps the surface's aperture window.
  ASSERT_GE(writes.size(), 2u);
  writes.resize(2);
  EXPECT_EQ(writes, (std::vector<std::pair<uint32_t, uint32_t>>{{kRegGuardDummy, 0}, {kRegEngineFlush, kEngineFlush}}));
  s->Unlock();
}

TEST_F(Access, ASurfaceTheEngineDoesNotGiveUpOrWithoutProcessorMemoryLocksToNothing) {
  Surface3d* s = Make(kArgb, 32, 8);
  ASSERT_NE(s, nullptr);
  const uint32_t kind = s->placedKind;
  s->placedKind = kMemoryKindNone;
  EXPECT_EQ(s->Lock(), 0u);
  Client c(4096);
  SurfaceLockRequest q = Rect(c, 128, 0, 0, 0, 4, 4);
  EXPECT_FALSE(s->LockWithRequest(&q));
  s->placedKind = kind;
  // Busy with drawing one poll past the bound.
  expectErrors = true;
  s->block->drawSyncTag = static_cast<int32_t>(SharedLocked()->syncTagCounter + 16);
  const uint32_t savedCounter = SharedLocked()->syncTagCounter;
  SharedLocked()->syncTagCounter += 64;
  board.SetLogging(false, true);
  board.ClearLog();
  EXPECT_EQ(s->Lock(), 0u);
  EXPECT_FALSE(s->LockWithRequest(&q));
  EXPECT_TRUE(board.LoggedWrites().empty());
  EXPECT_TRUE(glue.Logged("surface drawing"));
  SharedLocked()->syncTagCounter = savedCounter;
  s->block->drawSyncTag = 0;
}

TEST_F(Access, AnOddHeightHasItsLastRowReplicatedAfterAWrite) {
  Surface3d* s = Make(kArgb, 16, 5);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->layoutType, kLayoutTypeLinear);
  Fill(s, 0);
  Client in(16 * 4 * 5);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i + 3);
  SurfaceLockRequest w = Whole(in, 64, 0);
  ASSERT_TRUE(s->LockWithRequest(&w));
  const std::vector<uint8_t> stored = Memory(s, uint64_t{s->pitch} * 6);
  EXPECT_EQ(memcmp(&stored[5 * s->pitch], &stored[4 * s->pitch], 64), 0);
  EXPECT_EQ(s->pendingPost, 0);
  EXPECT_EQ(s->inSync, 0);
}

TEST_F(Access, SyncSuspensionAndTheRenderTargetFlush) {
  Surface3d* s = Make(kArgb, 16, 4);
  ASSERT_NE(s, nullptr);
  // In sync: only the suspended flag.
  s->inSync = 1;
  s->SuspendSync();
  EXPECT_TRUE(s->IsSyncSuspended());
  s->inSync = 0;
  // Suspended: a write leaves its post-processing pending.
  s->MarkWritten();
  EXPECT_EQ(s->pendingPost, 0);
  s->pendingPost = 1;
  s->ResumeSync();
  EXPECT_FALSE(s->IsSyncSuspended());
  EXPECT_EQ(s->pendingPost, 0);

  // The open render target is flushed before the processor reads it.
  ResourceTable* table = CreateResourceTable(pdev, 77);
  ASSERT_NE(table, nullptr);
  s->resourceTable = table;
  // Closing it draws it once and tags it with operation 0x207 (the
  // render targets' tests check the words).
  auto closings = [&](bool) {
    dma.RunPending();
    size_t n = 0;
    for (const auto& w : dma.Writes()) n += w.reg == 0x1000 + 4 * 0xC0 && w.value == 0x207;
    dma.ClearWrites();
    return n;
  };
  Common()->openRenderTarget = s;
  const bool from = closings(false) != 0;
  Client out(16 * 4 * 4);
  SurfaceLockRequest r = Whole(out, 64, kLockRead);
  ASSERT_TRUE(s->LockWithRequest(&r));
  EXPECT_EQ(closings(from), 1u);
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
  // In sync nothing runs again.
  Common()->openRenderTarget = s;
  s->inSync = 1;
  s->PrepareAccess(2);
  s->inSync = 0;
  // A 3D-engine read does not count as an access.
  s->PrepareAccess(1);
  EXPECT_EQ(closings(from), 0u);
  EXPECT_EQ(Common()->openRenderTarget, s);
  Common()->openRenderTarget = nullptr;
  s->resourceTable = nullptr;
  DestroyResourceTable(pdev, 77);
}

// What the requests, tokens and render targets read of a surface, and the
// auxiliary surfaces' tag and image writes.
TEST_F(Access, WhatTheRequestsReadOfASurface) {
  SurfaceCreateRequest request = Request(kArgb, 48, 20);
  request.flags2 = kRequestDisplayed;
  Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(s, nullptr);
  surfaces.push_back(s);
  EXPECT_EQ(Surface3dMemoryKind(s), 4u);  // local video memory
  EXPECT_EQ(Surface3dFlagByte(s) & 0x2, 0x2u);  // displayable
  uint32_t width = 0, height = 0;
  Surface3dExtent(s, &width, &height);
  EXPECT_EQ(width, 48u);
  EXPECT_EQ(height, 20u);
  EXPECT_EQ(Surface3dBitsPerPixel(s), 32u);
  // A flip shows where the memory starts, unless the surface has flip
  // addresses of its own.
  const uint32_t start = s->hw.records[0].word0 & ~3u;
  EXPECT_EQ(start, static_cast<uint32_t>(s->block->busAddress));
  EXPECT_EQ(Surface3dFlipAddress(s, false), start);
  EXPECT_EQ(Surface3dFlipAddress(s, true), start);
  s->flipStart[1] = 0x00340000;
  EXPECT_EQ(Surface3dFlipAddress(s, true), 0x00340000u);
  EXPECT_EQ(Surface3dFlipAddress(s, false), start);
  EXPECT_EQ(Surface3dSecondWord(s), 0u);
  s->subAddress[1] = 7;
  EXPECT_EQ(Surface3dSecondWord(s), 7u);
  EXPECT_FALSE(Surface3dIsSyncSuspended(s));
  s->SuspendSync();
  EXPECT_TRUE(Surface3dIsSyncSuspended(s));
  s->ResumeSync();
  // Memory the display cannot scan out has no flip address.
  Surface3d* system = Make(kArgb, 16, 4, kPlaceSystem);
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(Surface3dMemoryKind(system), 1u);
  EXPECT_EQ(Surface3dFlipAddress(system, false), 0u);
  // No surface: nothing.
  EXPECT_EQ(Surface3dMemoryKind(nullptr), 0u);
  EXPECT_EQ(Surface3dFlipAddress(nullptr, false), 0u);
  Surface3dExtent(nullptr, &width, &height);
  EXPECT_EQ(width + height, 0u);
  Surface3dFlushIfRenderTarget(nullptr);
  Surface3dCompletePendingWork(nullptr);
  Surface3dWriteSyncTag(nullptr);
  EXPECT_FALSE(Surface3dWriteImage(nullptr, &width, 4));
}

TEST_F(Access, AnImageIsWrittenWholeAfterATag) {
  Surface3d* s = Make(kArgb, 16, 3);
  ASSERT_NE(s, nullptr);
  Fill(s, 0);
  SharedLocked()->last1300Value = 0x55AA;
  Surface3dWriteSyncTag(s);
  const uint32_t tag = SharedLocked()->syncTagCounter;
  EXPECT_EQ(static_cast<uint32_t>(s->block->drawSyncTag), tag);
  const uint32_t* end = Secondary()->cursor;
  EXPECT_EQ(std::vector<uint32_t>(end - 6, end), (std::vector<uint32_t>{4, 0xC0AFAFC0u, 0x707, tag | 1, tag, 0x55AA}));
  std::vector<uint32_t> image(16 * 3);
  for (size_t i = 0; i < image.size(); ++i) image[i] = 0xD9000000u + static_cast<uint32_t>(i);
  // Shorter than the surface: nothing is written.
  EXPECT_FALSE(Surface3dWriteImage(s, image.data(), 16 * 3 * 4 - 1));
  EXPECT_EQ(Memory(s, 4)[0], 0u);
  ASSERT_TRUE(Surface3dWriteImage(s, image.data(), 16 * 3 * 4));
  const std::vector<uint8_t> m = Memory(s, uint64_t{s->pitch} * 3);
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(memcmp(&m[y * s->pitch], &image[y * 16], 64), 0) << y;
  EXPECT_TRUE(s->AwaitEngine());
}

TEST_F(Access, ThePageLockedCopyHoldsTheSurfaceAndWritesItBack) {
  Surface3d* s = Make(kArgb, 16, 4);
  ASSERT_NE(s, nullptr);
  Client in(16 * 4 * 4);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i * 5);
  SurfaceLockRequest w = Whole(in, 64, 0);
  ASSERT_TRUE(s->LockWithRequest(&w));
  s->accessThroughLockedCopy = 1;
  uint64_t bus = 0;
  const uint64_t cpu = s->Lock(&bus);
  ASSERT_NE(cpu, 0u);
  EXPECT_EQ(bus, s->lockedCopy.bus);
  auto* copy = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(cpu));
  for (uint32_t y = 0; y < 4; ++y) EXPECT_EQ(memcmp(copy + y * s->lockedCopy.rowPitch, in.data() + y * 64, 64), 0);
  copy[0] = 0xAB;
  s->Unlock();
  s->accessThroughLockedCopy = 0;
  EXPECT_EQ(Memory(s, 1)[0], 0xAB);
  // Pages that cannot be had: 0.
  Surface3d* t = Make(kArgb, 16, 4);
  ASSERT_NE(t, nullptr);
  t->accessThroughLockedCopy = 1;
  glue.FailAllocation(1, kglue::AllocKind::kLockedPages);
  EXPECT_EQ(t->Lock(), 0u);
  EXPECT_FALSE(t->lockedCopy.allocated);
  t->accessThroughLockedCopy = 0;
}

}  // namespace

// ---- Processor fills and copies ----------------------------------------------------------------

namespace {

class FillCopy : public Access {
 protected:
  uint32_t Pixel(const std::vector<uint8_t>& m, const Surface3d* s, uint32_t x, uint32_t y) {
    uint32_t v = 0;
    memcpy(&v, &m[uint64_t{y} * s->pitch + uint64_t{x} * s->bytesPerPixel], s->bytesPerPixel);
    return v;
  }
  // Each pixel its own value.
  void Pattern(Surface3d* s) {
    const uint64_t at = s->Lock();
    ASSERT_NE(at, 0u);
    auto* p = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(at));
    for (uint32_t y = 0; y < s->height; ++y)
      for (uint32_t x = 0; x < s->width; ++x) {
        const uint32_t v = 0x01000000u * (x & 0x7F) + y * 0x100 + x + 1;
        memcpy(p + uint64_t{y} * s->pitch + uint64_t{x} * s->bytesPerPixel, &v, s->bytesPerPixel);
      }
    s->syncSuspended = 1;
    s->Unlock();
    s->syncSuspended = 0;
  }
  std::vector<uint32_t> LastPacket(uint32_t words) {
    const uint32_t* end = Secondary()->cursor;
    return std::vector<uint32_t>(end - words, end);
  }
};

TEST_F(FillCopy, AProcessorFillWritesItsRectangleAndPostsTheShortTag) {
  Surface3d* s = Make(kArgb, 100, 50);
  ASSERT_NE(s, nullptr);
  Fill(s, 0);
  SharedLocked()->last1300Value = 0x55AA;
  SurfaceFillRequest f;
  const uint32_t rect[4] = {0, 0, 99, 50};
  memcpy(f.rect, rect, sizeof(rect));
  f.value = 0x12345678;
  ASSERT_TRUE(SurfaceFillCpu(s, f));
  const uint32_t tag = SharedLocked()->syncTagCounter;
  EXPECT_EQ(LastPacket(5), (std::vector<uint32_t>{3, 0x21C0AFC0u, 0x707, tag | 1, 0x55AA}));
  EXPECT_EQ(static_cast<uint32_t>(s->block->drawSyncTag), tag);
  const std::vector<uint8_t> m = Memory(s, uint64_t{s->pitch} * 50);
  EXPECT_EQ(Pixel(m, s, 0, 0), 0x12345678u);
  EXPECT_EQ(Pixel(m, s, 98, 49), 0x12345678u);
  EXPECT_EQ(Pixel(m, s, 99, 0), 0u);
  // The board passes the tag: the surface is idle.
  EXPECT_TRUE(s->AwaitEngine());
  // Flag 2 posts nothing; without a saved 0x1300 word the header writes none.
  const uint32_t* cursor = Secondary()->cursor;
  f.flags = kFillNoTag;
  ASSERT_TRUE(SurfaceFillCpu(s, f));
  EXPECT_EQ(Secondary()->cursor, cursor);
  SharedLocked()->last1300Value = kLastRegNone;
  f.flags = 0;
  ASSERT_TRUE(SurfaceFillCpu(s, f));
  EXPECT_EQ(LastPacket(5)[1], 0x2120AFC0u);
}

// The processor's fill keeps the bits outside its write mask, as the
// engine's does: a depth clear leaves the stencil alone.
TEST_F(FillCopy, AProcessorFillKeepsTheBitsOutsideItsMask) {
  struct Case {
    uint32_t code, bytes, mask, expected;
  };
  // Background bytes 0xA5; value 0x12345678.
  const Case cases[] = {{kArgb, 4, 0x00FFFFFF, 0xA5345678}, {kArgb, 4, 0x01000000, 0xA4A5A5A5},
                        {kArgb, 4, 0xFFFFFFFF, 0x12345678}, {6, 2, 0xFFFF00F0, 0xA575},
                        {6, 2, 0x0000FFFF, 0x5678}};
  for (const Case& c : cases) {
    Surface3d* s = Make(c.code, 16, 4);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->bytesPerPixel, c.bytes);
    Fill(s, 0xA5);
    SurfaceFillRequest f;
    const uint32_t rect[4] = {1, 1, 3, 3};
    memcpy(f.rect, rect, sizeof(rect));
    f.value = 0x12345678;
    f.mask = c.mask;
    ASSERT_TRUE(SurfaceFillCpu(s, f));
    const std::vector<uint8_t> m = Memory(s, uint64_t{s->pitch} * 4);
    EXPECT_EQ(Pixel(m, s, 2, 2), c.expected) << std::hex << c.mask;
    EXPECT_EQ(Pixel(m, s, 0, 0), c.bytes == 4 ? 0xA5A5A5A5u : 0xA5A5u);
    EXPECT_EQ(Pixel(m, s, 3, 1), c.bytes == 4 ? 0xA5A5A5A5u : 0xA5A5u);
  }
}

// A whole fill of a layout-2 surface goes to the engine over the rounded
// 128 x 64 with the value replicated; a partial one goes to the processor.
// The surface is 100 wide with rows of 128 pixels: the engine steps rows by
// its descriptor's width field, which carries the row pitch.
TEST_F(FillCopy, AWholeTiledFillRunsOnTheEngineAndAPartialOneOnTheProcessor) {
  orvsim::Engine2d engine2d{board, dma};
  SurfaceCreateRequest request = Request(6, 100, 50, kPlaceLocal, 10);  // 16 bits a pixel
  Surface3d* s = Surface3d::CreatePlaced(pdev, &request);
  ASSERT_NE(s, nullptr);
  surfaces.push_back(s);
  ASSERT_EQ(s->layoutType, kLayoutTypeTiled);
  ASSERT_EQ(s->pitch, 128u * 2);
  Fill(s, 0);
  SurfaceFillRequest f;
  const uint32_t whole[4] = {0, 0, 100, 50};
  memcpy(f.rect, whole, sizeof(whole));
  f.value = 0xBEEF;
  ASSERT_TRUE(s->Fill(f));
  dma.RunPending();
  ASSERT_FALSE(engine2d.OperationStarts().empty());
  EXPECT_EQ(engine2d.OperationStarts().back(), (orvsim::Engine2d::OperationStart{0xDD, 0x5C0}));
  const size_t starts = engine2d.OperationStarts().size();
  EXPECT_EQ(board.Peek(0x1000 + 4 * 0xC5, 4), 0xBEEFBEEFu);
  EXPECT_EQ(board.Peek(0x1000 + 4 * 0xE3, 4), 64u << 16 | 128u);
  // Descriptor 1: the surface's address and its mode word with the pitch.
  EXPECT_EQ(board.Peek(orvsim::k2dRegDescAddress0 + 8, 4), s->hw.records[0].word0);
  EXPECT_EQ(board.Peek(orvsim::k2dRegDescMode0 + 8, 4), (s->hw.records[0].word1 & ~0x3FFFu) | 128u);
  const uint32_t tag = SharedLocked()->syncTagCounter;
  EXPECT_EQ(static_cast<uint32_t>(s->block->drawSyncTag), tag);
  EXPECT_TRUE(s->AwaitEngine());
  EXPECT_TRUE(engine2d.Faults().empty());
  std::vector<uint8_t> m = Memory(s, uint64_t{s->pitch} * 64);
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 128; ++x) ASSERT_EQ(Pixel(m, s, x, y), 0xBEEFu) << x << "," << y;

  // Partial: the processor, and the engine is not started again.
  Fill(s, 0);
  const uint32_t partial[4] = {0, 0, 99, 50};
  memcpy(f.rect, partial, sizeof(partial));
  ASSERT_TRUE(s->Fill(f));
  dma.RunPending();
  EXPECT_EQ(engine2d.OperationStarts().size(), starts);
  m = Memory(s, uint64_t{s->pitch} * 50);
  EXPECT_EQ(Pixel(m, s, 98, 49), 0xBEEFu);
  EXPECT_EQ(Pixel(m, s, 99, 0), 0u);

  // Flag 2: no tag.
  memcpy(f.rect, whole, sizeof(whole));
  f.flags = kFillNoTag;
  const uint32_t before = SharedLocked()->syncTagCounter;
  ASSERT_TRUE(SurfaceFill(s, f));
  EXPECT_EQ(SharedLocked()->syncTagCounter, before);
  dma.RunPending();
  EXPECT_GT(engine2d.OperationStarts().size(), starts);
}

// Engine copies, checked in the board's memory: a keyed copy between two
// surfaces (the key's top byte masked off for 32-bit pixels) and an
// overlapping copy within one surface walked bottom to top.
TEST_F(FillCopy, EngineCopiesMoveThePictureWithTheKeyUnderItsMask) {
  orvsim::Engine2d engine2d{board, dma};
  Surface3d* a = Make(kArgb, 128, 16);
  Surface3d* b = Make(kArgb, 128, 16);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  Pattern(a);
  Fill(b, 0);
  const std::vector<uint8_t> picture = Memory(a, uint64_t{a->pitch} * 16);
  SurfaceCopyRequest c;
  const uint32_t from[4] = {0, 0, 8, 2}, to[4] = {4, 3, 12, 5};
  memcpy(c.source, from, sizeof(from));
  memcpy(c.destination, to, sizeof(to));
  c.flags = kCopyKey;
  c.key = Pixel(picture, a, 2, 1) ^ 0xFF000000;
  ASSERT_TRUE(SurfaceCopyEngine(b, a, c));
  dma.RunPending();
  ASSERT_FALSE(engine2d.OperationStarts().empty());
  EXPECT_EQ(engine2d.OperationStarts().back(), (orvsim::Engine2d::OperationStart{0xDD, 0x4002C2}));
  EXPECT_TRUE(b->AwaitEngine());
  EXPECT_TRUE(a->AwaitEngine());
  std::vector<uint8_t> m = Memory(b, uint64_t{b->pitch} * 16);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 8; ++x)
      EXPECT_EQ(Pixel(m, b, 4 + x, 3 + y), x == 2 && y == 1 ? 0u : Pixel(picture, a, x, y)) << x << "," << y;

  // Four rows down within a: bottom to top keeps the source intact.
  const uint32_t src[4] = {3, 0, 13, 8}, dst[4] = {3, 4, 13, 12};
  memcpy(c.source, src, sizeof(src));
  memcpy(c.destination, dst, sizeof(dst));
  c.flags = 0;
  ASSERT_TRUE(SurfaceCopyEngine(a, a, c));
  dma.RunPending();
  EXPECT_EQ(engine2d.OperationStarts().back().control, 0x2C2u | 0x2000u);
  EXPECT_TRUE(a->AwaitEngine());
  m = Memory(a, uint64_t{a->pitch} * 16);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 128; ++x) {
      const bool moved = x >= 3 && x < 13 && y >= 4 && y < 12;
      ASSERT_EQ(Pixel(m, a, x, y), moved ? Pixel(picture, a, x, y - 4) : Pixel(picture, a, x, y)) << x << "," << y;
    }
  // Layouts that differ: not the engine's.
  a->layoutType = kLayoutTypeTiled;
  EXPECT_FALSE(SurfaceCopyEngine(b, a, c));
  a->layoutType = kLayoutTypeLinear;
}

TEST_F(FillCopy, FillsOfOtherPixelSizesAndOutOfBoundsRectangles) {
  Surface3d* s = Make(6, 16, 4);  // 16 bits a pixel
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->bytesPerPixel, 2u);
  Fill(s, 0);
  SurfaceFillRequest f;
  const uint32_t rect[4] = {1, 1, 3, 2};
  memcpy(f.rect, rect, sizeof(rect));
  f.value = 0xBEEF;
  ASSERT_TRUE(SurfaceFillCpu(s, f));
  std::vector<uint8_t> m = Memory(s, uint64_t{s->pitch} * 4);
  EXPECT_EQ(Pixel(m, s, 1, 1), 0xBEEFu);
  EXPECT_EQ(Pixel(m, s, 2, 1), 0xBEEFu);
  EXPECT_EQ(Pixel(m, s, 3, 1), 0u);
  EXPECT_EQ(Pixel(m, s, 1, 2), 0u);
  const uint32_t bad[][4] = {{3, 0, 1, 2}, {0, 3, 2, 1}, {0, 0, 17, 1}, {0, 0, 1, 5}, {0xFFFFFFFF, 0, 0xFFFFFFFF, 1}};
  for (const auto& r : bad) {
    memcpy(f.rect, r, sizeof(r));
    EXPECT_FALSE(SurfaceFillCpu(s, f));
  }
  EXPECT_EQ(Memory(s, uint64_t{s->pitch} * 4), m);
}

TEST_F(FillCopy, CopiesWithinASurfaceKeepTheSourceIntactAsMemmoveWould) {
  Surface3d* s = Make(kArgb, 32, 16);
  ASSERT_NE(s, nullptr);
  struct Case {
    const char* name;
    uint32_t src[4];
    uint32_t dx, dy;
  };
  const Case cases[] = {
      {"one row down", {0, 0, 32, 15}, 0, 1},
      {"same row right", {0, 2, 20, 6}, 5, 2},
      {"same row left", {5, 2, 25, 6}, 0, 2},
      {"up", {0, 3, 32, 16}, 0, 0},
  };
  for (const Case& c : cases) {
    Pattern(s);
    const std::vector<uint8_t> before = Memory(s, uint64_t{s->pitch} * 16);
    SurfaceCopyRequest q;
    memcpy(q.source, c.src, sizeof(c.src));
    const uint32_t dst[4] = {c.dx, c.dy, c.dx + c.src[2] - c.src[0], c.dy + c.src[3] - c.src[1]};
    memcpy(q.destination, dst, sizeof(dst));
    ASSERT_TRUE(SurfaceCopyCpu(s, s, q)) << c.name;
    std::vector<uint8_t> want = before;
    const uint32_t w = c.src[2] - c.src[0], h = c.src[3] - c.src[1];
    std::vector<uint8_t> block(uint64_t{w} * 4 * h);
    for (uint32_t y = 0; y < h; ++y)
      memcpy(&block[y * w * 4], &before[(c.src[1] + y) * s->pitch + c.src[0] * 4], w * 4);
    for (uint32_t y = 0; y < h; ++y) memcpy(&want[(c.dy + y) * s->pitch + c.dx * 4], &block[y * w * 4], w * 4);
    EXPECT_EQ(Memory(s, want.size()), want) << c.name;
  }
}

TEST_F(FillCopy, KeyedCopiesSkipThePixelsEqualToTheKey) {
  for (uint32_t code : {29u /* 8 bits */, 6u /* 16 */, kArgb}) {
    Surface3d* from = Make(code, 16, 2);
    Surface3d* to = Make(code, 16, 2);
    ASSERT_NE(from, nullptr);
    ASSERT_NE(to, nullptr);
    const uint32_t bpp = from->bytesPerPixel;
    Pattern(from);
    Fill(to, 0xEE);
    // Pixel 3 of row 0 is the key.
    std::vector<uint8_t> src = Memory(from, uint64_t{from->pitch} * 2);
    const uint32_t key = Pixel(src, from, 3, 0);
    SurfaceCopyRequest q;
    const uint32_t all[4] = {0, 0, 16, 2};
    memcpy(q.source, all, sizeof(all));
    memcpy(q.destination, all, sizeof(all));
    q.flags = kCopyKey;
    q.key = key | (bpp < 4 ? 0xFF000000u : 0);  // bits above the pixel do not count
    ASSERT_TRUE(SurfaceCopyCpu(to, from, q)) << code;
    const std::vector<uint8_t> m = Memory(to, uint64_t{to->pitch} * 2);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 16; ++x) {
        const uint32_t want = Pixel(src, from, x, y) == key ? (bpp == 1 ? 0xEEu : bpp == 2 ? 0xEEEEu : 0xEEEEEEEEu)
                                                            : Pixel(src, from, x, y);
        EXPECT_EQ(Pixel(m, to, x, y), want) << code << " " << x << "," << y;
      }
    // Both blocks carry the copy's tag.
    const uint32_t tag = SharedLocked()->syncTagCounter;
    EXPECT_EQ(static_cast<uint32_t>(from->block->drawSyncTag), tag);
    EXPECT_EQ(static_cast<uint32_t>(to->block->drawSyncTag), tag);
    EXPECT_EQ(LastPacket(6)[2], 0x707u);
  }
}

TEST_F(FillCopy, CopiesOutsideEitherSurfaceAreRefused) {
  Surface3d* from = Make(kArgb, 16, 8);
  Surface3d* to = Make(kArgb, 8, 8);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  Fill(to, 0x33);
  const std::vector<uint8_t> before = Memory(to, uint64_t{to->pitch} * 8);
  const uint32_t cases[][8] = {
      {0, 0, 16, 8, 0, 0, 16, 8},  // wider than the destination
      {4, 0, 2, 8, 0, 0, 2, 8},    // reversed
      {0, 0, 4, 9, 0, 0, 4, 9},    // below the source
      {0, 0, 4, 4, 6, 6, 10, 10},  // past the destination
  };
  for (const auto& c : cases) {
    SurfaceCopyRequest q;
    memcpy(q.source, c, 16);
    memcpy(q.destination, c + 4, 16);
    EXPECT_FALSE(SurfaceCopyCpu(to, from, q));
  }
  EXPECT_EQ(Memory(to, before.size()), before);
}

}  // namespace


namespace {

TEST_F(Access, AWriteOfAOneRowSurfaceIsCopiedIntoItsCompanion) {
  ResourceTable* table = CreateResourceTable(pdev, 78);
  ASSERT_NE(table, nullptr);
  SurfaceCreateRequest request = Request(kArgb, 64, 1);
  Surface3d* s = table->CreateSurface(1, &request);
  ASSERT_NE(s, nullptr);
  Surface3d* companion = s->Companion();
  ASSERT_NE(companion, nullptr);
  ASSERT_TRUE(s->companionActive);
  Client in(64 * 4);
  for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i * 3 + 7);
  SurfaceLockRequest w = Whole(in, 256, 0);
  ASSERT_TRUE(s->LockWithRequest(&w));
  EXPECT_EQ(s->pendingPost, 0);
  const uint64_t at = companion->Lock();
  ASSERT_NE(at, 0u);
  EXPECT_EQ(memcmp(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), in.data(), 256), 0);
  companion->UnlockRead();
  DestroyResourceTable(pdev, 78);
}

}  // namespace

// ---- Video pixels ------------------------------------------------------------------------------

namespace {

uint32_t Reference(double y, double u, double v) {
  auto c = [](double x) {
    x /= 255.0;
    x = x < 0 ? 0 : x > 1 ? 1 : x;
    return static_cast<uint32_t>(x * 255.0 + 0.5);
  };
  const double yy = 1.164 * (y - 16);
  return 0xFF000000u | c(yy + 1.596 * (v - 128)) << 16 | c(yy - 0.391 * (u - 128) - 0.813 * (v - 128)) << 8 |
         c(yy + 2.018 * (u - 128));
}

bool Near(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d < -1 || d > 1) return false;
  }
  return true;
}

TEST(VideoPixels, EachFormatMatchesTheReferenceOnRandomImagesOfOddSizes) {
  std::mt19937 random(39);
  for (uint32_t code : {39u, 40u, 41u, 42u}) {
    for (const auto& [w, h] : {std::pair{7u, 5u}, std::pair{1u, 1u}, std::pair{13u, 9u}, std::pair{2u, 3u}}) {
      const bool packed = code >= 41;
      const uint32_t pitch = packed ? w * 2 : (w + 1) / 2 * 2;
      const uint32_t ch = h / 2 == 0 ? 1 : h / 2;
      const size_t bytes = packed ? size_t{pitch} * h : size_t{pitch} * h + (code == 39 ? 2 * size_t{pitch / 2} * ch : size_t{pitch} * ch);
      // Exactly the image's bytes on the heap: a read past them is caught.
      std::vector<uint8_t> image(bytes);
      for (uint8_t& b : image) b = static_cast<uint8_t>(random());
      const uint8_t* chroma = image.data() + size_t{pitch} * h;
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
          double Y, U, V;
          if (code == 39) {
            const uint32_t cx = x / 2 < pitch / 2 ? x / 2 : pitch / 2 - 1, cy = y / 2 < ch ? y / 2 : ch - 1;
            Y = image[y * pitch + x];
            V = chroma[cy * (pitch / 2) + cx];
            U = chroma[size_t{pitch / 2} * ch + cy * (pitch / 2) + cx];
          } else if (code == 40) {
            const uint32_t cy = y / 2 < ch ? y / 2 : ch - 1;
            Y = image[y * pitch + x];
            U = chroma[cy * pitch + x / 2 * 2];
            V = chroma[cy * pitch + x / 2 * 2 + 1];
          } else {
            const uint8_t* row = image.data() + y * pitch;
            const uint32_t yb = code == 41 ? 1 : 0;
            auto C = [&](uint32_t i) { return static_cast<double>(row[i * 2 + 1 - yb]); };
            Y = row[x * 2 + yb];
            const uint32_t two = x + 2 < w ? x + 2 : x;
            if (x % 2 == 0) {
              U = std::floor((C(x) + C(two) + 1) / 2);
              V = w == 1 ? 128 : std::floor((C(x >= 1 ? x - 1 : x + 1) + C(x + 1 < w ? x + 1 : (x >= 1 ? x - 1 : x + 1)) + 1) / 2);
            } else {
              U = std::floor((C(x - 1) + C(x + 1 < w ? x + 1 : x - 1) + 1) / 2);
              V = std::floor((C(x) + C(two) + 1) / 2);
            }
          }
          const uint32_t got = FetchVideoPixel(code, image.data(), pitch, w, h, x, y);
          ASSERT_TRUE(Near(got, Reference(Y, U, V)))
              << code << " " << w << "x" << h << " at " << x << "," << y << ": " << std::hex << got;
        }
    }
  }
  // Black and white of the limited range.
  const uint8_t black[4] = {128, 16, 128, 16};   // format 41: chroma low, Y high
  const uint8_t white[4] = {128, 235, 128, 235};
  EXPECT_EQ(FetchVideoPixel(41, black, 4, 2, 1, 0, 0), 0xFF000000u);
  EXPECT_EQ(FetchVideoPixel(41, white, 4, 2, 1, 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(FetchVideoPixel(41, white, 4, 2, 1, 2, 0), 0u) << "outside the row";
  EXPECT_EQ(FetchVideoPixel(11, white, 4, 2, 1, 0, 0), 0u) << "not a video format";
}

}  // namespace

// ---- Software blits ----------------------------------------------------------------------------

namespace {

class Blits : public FillCopy {
 protected:
  // One row of pixels, each its own index.
  Surface3d* Row(uint32_t width) {
    Surface3d* s = Make(kArgb, width, 1);
    if (s == nullptr) return nullptr;
    const uint64_t at = s->Lock();
    if (at == 0) return nullptr;
    auto* p = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(at));
    for (uint32_t x = 0; x < width; ++x) p[x] = 0xA0000000u + x;
    s->syncSuspended = 1;
    s->Unlock();
    s->syncSuspended = 0;
    return s;
  }
  static SurfaceBlitRequest Request1D(int32_t sl, int32_t sr, int32_t cl, int32_t cr, int32_t fl, int32_t fr) {
    SurfaceBlitRequest q;
    q.source[0] = sl, q.source[1] = 0, q.source[2] = sr, q.source[3] = 1;
    q.clipped[0] = cl, q.clipped[1] = 0, q.clipped[2] = cr, q.clipped[3] = 1;
    q.full[0] = fl, q.full[1] = 0, q.full[2] = fr, q.full[3] = 1;
    return q;
  }
  std::vector<uint32_t> Pixels(Surface3d* s, uint32_t count) {
    std::vector<uint8_t> m = Memory(s, count * 4);
    std::vector<uint32_t> out(count);
    memcpy(out.data(), m.data(), count * 4);
    return out;
  }
};

TEST_F(Blits, HalvingStepsTwoSourcePixelsADestinationPixel) {
  Surface3d* from = Row(100);
  Surface3d* to = Make(kArgb, 64, 1);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  Fill(to, 0);
  ASSERT_TRUE(SurfaceBlitSoftware(to, from, Request1D(0, 100, 0, 50, 0, 50)));
  const std::vector<uint32_t> got = Pixels(to, 64);
  for (uint32_t x = 0; x < 50; ++x) EXPECT_EQ(got[x], 0xA0000000u + 2 * x) << x;
  EXPECT_EQ(got[50], 0u);
}

TEST_F(Blits, AWideSourceMatchesSixtyFourBitFixedPoint) {
  Surface3d* from = Row(4096);
  Surface3d* to = Make(kArgb, 3000, 1);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  Fill(to, 0);
  // The clipped part starts 1,000 pixels into the full rectangle: 1,000
  // steps of 4,096 / 3,000 in 13.19 overflow 32 bits.
  ASSERT_TRUE(SurfaceBlitSoftware(to, from, Request1D(0, 4096, 1000, 3000, 0, 3000)));
  const std::vector<uint32_t> got = Pixels(to, 3000);
  const uint64_t step = (uint64_t{4096} << 19) / 3000;
  for (uint32_t x = 1000; x < 3000; ++x) {
    const uint64_t sx = (uint64_t{x} * step) >> 19;
    ASSERT_EQ(got[x], 0xA0000000u + sx) << x;
  }
  EXPECT_EQ(got[999], 0u);
}

TEST_F(Blits, KeyedPixelsAreSkippedAndBadRectanglesRefused) {
  Surface3d* from = Row(16);
  Surface3d* to = Make(kArgb, 16, 1);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  Fill(to, 0);
  SurfaceBlitRequest q = Request1D(0, 16, 0, 16, 0, 16);
  q.flags = kBlitKey;
  q.key = 0xA0000005u;
  ASSERT_TRUE(SurfaceBlitSoftware(to, from, q));
  const std::vector<uint32_t> got = Pixels(to, 16);
  EXPECT_EQ(got[4], 0xA0000004u);
  EXPECT_EQ(got[5], 0u);
  const SurfaceBlitRequest bad[] = {
      Request1D(0, 0, 0, 16, 0, 16),     // empty source
      Request1D(0, 16, 0, 16, 0, 0),     // empty full destination
      Request1D(0, 17, 0, 16, 0, 16),    // past the source
      Request1D(0, 16, 0, 17, 0, 17),    // past the destination
      Request1D(0, 16, 0, 16, 4, 16),    // clipped outside the full rectangle
      Request1D(-1, 16, 0, 16, 0, 16),   // negative
  };
  for (const SurfaceBlitRequest& b : bad) EXPECT_FALSE(SurfaceBlitSoftware(to, from, b));
  EXPECT_EQ(Pixels(to, 16), got);
}

}  // namespace

// ---- Scratch copies, the copy dispatch and the engine's blits -----------------------------------

namespace {

class EngineCopies : public FillCopy {
 protected:
  // The pixels of a rectangle copy within one surface as memmove gives them.
  std::vector<uint8_t> Moved(const std::vector<uint8_t>& before, const Surface3d* s, const uint32_t* src,
                             uint32_t dx, uint32_t dy) {
    std::vector<uint8_t> want = before;
    const uint32_t w = src[2] - src[0], h = src[3] - src[1], b = s->bytesPerPixel;
    std::vector<uint8_t> block(uint64_t{w} * b * h);
    for (uint32_t y = 0; y < h; ++y)
      memcpy(&block[uint64_t{y} * w * b], &before[(src[1] + y) * uint64_t{s->pitch} + src[0] * b], w * b);
    for (uint32_t y = 0; y < h; ++y)
      memcpy(&want[(dy + y) * uint64_t{s->pitch} + dx * b], &block[uint64_t{y} * w * b], w * b);
    return want;
  }
  static SurfaceCopyRequest Copy(const uint32_t* src, uint32_t dx, uint32_t dy) {
    SurfaceCopyRequest q;
    memcpy(q.source, src, sizeof(q.source));
    const uint32_t dst[4] = {dx, dy, dx + src[2] - src[0], dy + src[3] - src[1]};
    memcpy(q.destination, dst, sizeof(dst));
    return q;
  }
  size_t CopyStarts(const orvsim::Engine2d& e) const {
    size_t n = 0;
    for (const auto& s : e.OperationStarts()) n += (s.control & 0xF) == orvsim::k2dOpCopy ? 1 : 0;
    return n;
  }
  // Register writes of the packets to one register index.
  std::vector<uint32_t> WritesTo(uint32_t index) const {
    std::vector<uint32_t> out;
    for (const auto& w : dma.Writes())
      if (w.reg == 0x1000 + 4 * index) out.push_back(w.value);
    return out;
  }
  static uint32_t Bits(float f) {
    uint32_t v;
    memcpy(&v, &f, 4);
    return v;
  }
  // The rectangles' rows the corner runs carried: a run's first packet
  // writes 1.0 to 0x58 and its top to 0x5E, its third 1.0 to 0x5A and its
  // bottom to 0x5F (the texture coordinates write 0 to 0x58-0x5A).
  std::vector<float> CornerRows() const {
    std::vector<float> rows;
    uint32_t open = 0;
    for (const auto& w : dma.Writes()) {
      if ((w.reg == 0x1000 + 4 * 0x58 || w.reg == 0x1000 + 4 * 0x5A) && w.value == Bits(1.0f)) {
        open = w.reg;
      } else if (open == 0x1000 + 4 * 0x58 && w.reg == 0x1000 + 4 * 0x5E) {
        float f;
        memcpy(&f, &w.value, 4);
        rows.push_back(f);
        open = 0;
      } else if (open == 0x1000 + 4 * 0x5A && w.reg == 0x1000 + 4 * 0x5F) {
        float f;
        memcpy(&f, &w.value, 4);
        rows.push_back(f);
        open = 0;
      }
    }
    return rows;
  }
};

// One row down within a surface: tile by tile through a scratch surface,
// two engine copies a tile; the picture equals memmove's and the scratch
// is gone afterwards.
TEST_F(EngineCopies, OneRowDownGoesThroughTheScratchSurface) {
  orvsim::Engine2d engine2d{board, dma};
  Surface3d* s = Make(kArgb, 128, 48);
  ASSERT_NE(s, nullptr);
  Pattern(s);
  const std::vector<uint8_t> before = Memory(s, uint64_t{s->pitch} * 48);
  const size_t blocks = glue.LiveBlocks().size();
  const uint32_t src[4] = {3, 2, 83, 42};
  ASSERT_TRUE(Surface3d::CopyRect(s, s, Copy(src, 3, 3)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 2u);
  EXPECT_TRUE(s->AwaitEngine());
  EXPECT_TRUE(engine2d.Faults().empty());
  EXPECT_EQ(Memory(s, before.size()), Moved(before, s, src, 3, 3));
  EXPECT_EQ(glue.LiveBlocks().size(), blocks);

  // The scratch cannot be had the first time: the larger side (80) is
  // halved, two tiles of 40 x 40 walked from the right, the bottom row
  // first; the picture is the same.
  Pattern(s);
  engine2d.ClearOperationStarts();
  glue.FailAllocation(1, kglue::AllocKind::kMemory);
  ASSERT_TRUE(Surface3d::CopyRect(s, s, Copy(src, 4, 3)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 4u);
  EXPECT_TRUE(s->AwaitEngine());
  EXPECT_EQ(Memory(s, before.size()), Moved(before, s, src, 4, 3));
  // Origins of the legs into the surface: the right tile first.
  const std::vector<uint32_t> origins = WritesTo(0xC2);
  ASSERT_GE(origins.size(), 4u);
  EXPECT_EQ(origins[origins.size() - 3], 3u << 16 | (4u + 40u));
  EXPECT_EQ(origins[origins.size() - 1], 3u << 16 | 4u);
}

// No scratch of any size: halving stops at 32 and the copy fails with the
// picture untouched.
TEST_F(EngineCopies, NoScratchAtAllFailsTheCopyAtThirtyTwo) {
  orvsim::Engine2d engine2d{board, dma};
  Surface3d* s = Make(kArgb, 96, 48);
  ASSERT_NE(s, nullptr);
  Pattern(s);
  const std::vector<uint8_t> before = Memory(s, uint64_t{s->pitch} * 48);
  Exhaust(0);
  const uint32_t src[4] = {0, 0, 96, 40};
  EXPECT_FALSE(Surface3d::CopyRect(s, s, Copy(src, 0, 1)));
  Restore();
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 0u);
  EXPECT_EQ(Memory(s, before.size()), before);
}

// The copy dispatch: the engine unless the processor is switched on;
// engine-laid-out surfaces copy whole through the engine, partial ones on
// the processor.
TEST_F(EngineCopies, CopyRectPicksTheEngineOrTheProcessor) {
  orvsim::Engine2d engine2d{board, dma};
  Surface3d* a = Make(kArgb, 64, 8);
  Surface3d* b = Make(kArgb, 64, 8);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  Pattern(a);
  Fill(b, 0);
  const uint32_t src[4] = {0, 0, 16, 4};
  ASSERT_TRUE(Surface3d::CopyRect(b, a, Copy(src, 8, 2)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 1u);
  Common()->driverSwitches->BlitSoft->current = 1;
  ASSERT_TRUE(Surface3d::CopyRect(b, a, Copy(src, 32, 2)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 1u);
  Common()->driverSwitches->BlitSoft->current = 0;
  EXPECT_TRUE(b->AwaitEngine());
  const std::vector<uint8_t> pa = Memory(a, uint64_t{a->pitch} * 8), pb = Memory(b, uint64_t{b->pitch} * 8);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 16; ++x) {
      ASSERT_EQ(Pixel(pb, b, 8 + x, 2 + y), Pixel(pa, a, x, y)) << x << "," << y;
      ASSERT_EQ(Pixel(pb, b, 32 + x, 2 + y), Pixel(pa, a, x, y)) << x << "," << y;
    }

  // Two layout-2 surfaces 100 x 50: a whole copy is one engine copy of
  // the rounded rows; a partial one is the processor's.
  SurfaceCreateRequest r = Request(6, 100, 50, kPlaceLocal, 10);
  Surface3d* t1 = Surface3d::CreatePlaced(pdev, &r);
  Surface3d* t2 = Surface3d::CreatePlaced(pdev, &r);
  ASSERT_NE(t1, nullptr);
  ASSERT_NE(t2, nullptr);
  surfaces.push_back(t1);
  surfaces.push_back(t2);
  Pattern(t1);
  Fill(t2, 0);
  engine2d.ClearOperationStarts();
  const uint32_t whole[4] = {0, 0, 100, 50};
  ASSERT_TRUE(Surface3d::CopyRect(t2, t1, Copy(whole, 0, 0)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 1u);
  EXPECT_EQ(WritesTo(0xE3).back() & 0xFFFF, 128u);
  EXPECT_GE(WritesTo(0xE3).back() >> 16, 64u);
  EXPECT_TRUE(t2->AwaitEngine());
  EXPECT_EQ(Memory(t2, uint64_t{t2->pitch} * 50), Memory(t1, uint64_t{t1->pitch} * 50));
  const uint32_t part[4] = {0, 0, 50, 50};
  Fill(t2, 0);
  ASSERT_TRUE(Surface3d::CopyRect(t2, t1, Copy(part, 0, 0)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 1u);
  const std::vector<uint8_t> p1 = Memory(t1, uint64_t{t1->pitch} * 50), p2 = Memory(t2, uint64_t{t2->pitch} * 50);
  EXPECT_EQ(Pixel(p2, t2, 49, 49), Pixel(p1, t1, 49, 49));
  EXPECT_EQ(Pixel(p2, t2, 50, 0), 0u);

  // From a layout-2 source into a linear destination: a blit, drawn by
  // the 3D engine as one textured rectangle.
  Surface3d* linear = Make(6, 128, 64);
  ASSERT_NE(linear, nullptr);
  engine2d.ClearOperationStarts();
  dma.ClearWrites();
  ASSERT_TRUE(Surface3d::CopyRect(linear, t1, Copy(part, 10, 4)));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 0u);
  EXPECT_EQ(CornerRows(), (std::vector<float>{4, 54}));
}

// The textured blit: the operation word reaches 0xC0, the destination's
// descriptor 0x88 and 0x89, and the rectangle goes out as one run of the
// three corners, followed by the completion tag.
TEST_F(EngineCopies, ATexturedBlitSendsItsOperationWordAndCorners) {
  Surface3d* from = Make(kArgb, 64, 32);
  Surface3d* to = Make(kArgb, 128, 64);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  SharedLocked()->last1300Value = 0x77;
  SurfaceBlitRequest q;
  const int32_t src[4] = {0, 0, 64, 32}, full[4] = {8, 4, 72, 36}, clip[4] = {10, 6, 70, 30};
  memcpy(q.source, src, sizeof(src));
  memcpy(q.full, full, sizeof(full));
  memcpy(q.clipped, clip, sizeof(clip));
  dma.ClearWrites();
  ASSERT_TRUE(Surface3d::Blit(to, from, q));
  dma.RunPending();
  // One stage, no transform (colour into colour passes through), limit 31.
  ASSERT_FALSE(WritesTo(0xC0).empty());
  const std::vector<uint32_t> c0 = WritesTo(0xC0);
  EXPECT_NE(std::find(c0.begin(), c0.end(), 0x1000CCu | 0x1000u | 0x200000u), c0.end());
  uint32_t w0 = 0, w1 = 0;
  ASSERT_TRUE(SurfaceEngineDescriptor(to, &w0, &w1));
  EXPECT_EQ(WritesTo(0x88).back(), w0);
  EXPECT_EQ(WritesTo(0x89).back(), w1);
  EXPECT_EQ(WritesTo(0xC9).back(), 0xFFFFFFFFu);
  const uint32_t tag = SharedLocked()->syncTagCounter;
  const std::vector<uint32_t> want = {14,         0x605E5D58, Bits(1.0f), 0, Bits(6.0f),  Bits(10.0f),
                                      0x605E5D59, Bits(1.0f), 0,          Bits(6.0f),  Bits(70.0f),
                                      0x605F5D5A, Bits(1.0f), 0,          Bits(30.0f), Bits(10.0f),
                                      4,          0xC0AFAFC0u, 0x707,      tag | 1,     tag,
                                      0x77};
  EXPECT_EQ(LastPacket(static_cast<uint32_t>(want.size())), want);
  EXPECT_EQ(CornerRows(), (std::vector<float>{6, 30}));
  // Before the corners, stage 0's texture coordinates: the clipped part of
  // the full rectangle in the source, with half a texel added.
  const float l = 2.0f / 64 + 0.5f / 64, r = 62.0f / 64 + 0.5f / 64;
  const float t = 2.0f / 32 + 0.5f / 32, b = 26.0f / 32 + 0.5f / 32;
  const std::vector<uint32_t> coordinates = {
      14, 0x635E5D58, 0, 0, Bits(t), Bits(l), 0x635E5D59, 0, 0, Bits(t), Bits(r), 0x635E5D5A, 0, 0, Bits(b), Bits(l)};
  const std::vector<uint32_t> tail = LastPacket(static_cast<uint32_t>(want.size() + 16));
  EXPECT_EQ(std::vector<uint32_t>(tail.begin(), tail.begin() + 16), coordinates);
  EXPECT_TRUE(to->AwaitEngine());

  // No tag with flag 8; an empty full rectangle draws nothing.
  q.flags = kBlitNoTag;
  ASSERT_TRUE(Surface3d::Blit(to, from, q));
  EXPECT_EQ(LastPacket(16)[0], 14u);
  const uint32_t* cursor = Secondary()->cursor;
  q.full[2] = q.full[0];
  EXPECT_FALSE(Surface3d::Blit(to, from, q));
  EXPECT_EQ(Secondary()->cursor, cursor);
}

// Sources taller than 2,048 go to the processor; wide ones do not.
TEST_F(EngineCopies, TallSourcesBlitOnTheProcessor) {
  struct Case {
    uint32_t w, h;
    bool textured;
  } cases[] = {{1024, 4096, false}, {4096, 1024, true}, {32, 2049, false}, {32, 2048, true}};
  for (const Case& c : cases) {
    Surface3d* from = Make(6, c.w, c.h);
    Surface3d* to = Make(6, 32, 8);
    ASSERT_NE(from, nullptr) << c.w;
    ASSERT_NE(to, nullptr);
    Pattern(from);
    Fill(to, 0);
    SurfaceBlitRequest q;
    const int32_t src[4] = {0, 0, 32, 8}, dst[4] = {0, 0, 32, 8};
    memcpy(q.source, src, sizeof(src));
    memcpy(q.full, dst, sizeof(dst));
    memcpy(q.clipped, dst, sizeof(dst));
    dma.ClearWrites();
    ASSERT_TRUE(Surface3d::Blit(to, from, q)) << c.w << " x " << c.h;
    dma.RunPending();
    EXPECT_EQ(CornerRows().size(), c.textured ? 2u : 0u) << c.w << " x " << c.h;
    if (!c.textured) {
      EXPECT_TRUE(to->AwaitEngine());
      const std::vector<uint8_t> a = Memory(from, uint64_t{from->pitch} * 8), b = Memory(to, uint64_t{to->pitch} * 8);
      EXPECT_EQ(Pixel(b, to, 31, 7), Pixel(a, from, 31, 7));
    }
    surfaces.pop_back();
    surfaces.pop_back();
    delete to;
    delete from;
  }
}

// Planar sources: the luma plane and the chroma surface as two stages;
// a source starting at row 0 and less high than the destination is cut
// into two bands at full top + trunc(ratio x 0.5 - 0.5) (bit 4: ratio - 0.5).
TEST_F(EngineCopies, APlanarBlitCutsItsBands) {
  Surface3d* from = Make(40, 32, 8);
  Surface3d* plane = Make(kArgb, 16, 4);
  Surface3d* to = Make(43, 64, 64);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(plane, nullptr);
  ASSERT_NE(to, nullptr);
  SurfaceBlitRequest q;
  const int32_t src[4] = {0, 0, 32, 8}, full[4] = {0, 10, 64, 42}, clip[4] = {0, 10, 64, 42};
  memcpy(q.source, src, sizeof(src));
  memcpy(q.full, full, sizeof(full));
  memcpy(q.clipped, clip, sizeof(clip));
  q.flags = kBlitNoTag;
  // Without a second-plane record there is nothing to draw.
  EXPECT_FALSE(Surface3d::Blit(to, from, q));
  from->view.chroma = {32, 8, 0, plane, 1};
  struct Case {
    uint32_t flags;
    std::vector<float> rows;  // top and bottom of each band drawn
  } cases[] = {
      {kBlitNoTag, {10, 11, 11, 42}},                     // 32 / 8 x 0.5 - 0.5 = 1.5 -> 1
      {kBlitNoTag | kBlitOptionBit4, {10, 13, 13, 42}},   // 4 - 0.5 = 3.5 -> 3
      {kBlitNoTag | 2u << kBlitFilterModeShift, {10, 42}},  // filter mode 2: one draw
  };
  for (const Case& c : cases) {
    q.flags = c.flags;
    dma.ClearWrites();
    ASSERT_TRUE(Surface3d::Blit(to, from, q)) << c.flags;
    dma.RunPending();
    const std::vector<float> got = CornerRows();
    EXPECT_EQ(got, c.rows) << c.flags;
  }
  TextureStageSetup* stages = reinterpret_cast<TextureStageSetup*>(BlitEngineOf(pdev)->stageSetup);
  EXPECT_EQ(stages->stageCount, 2u);
  EXPECT_EQ(stages->sources[0].surface, from);
  EXPECT_EQ(stages->sources[1].surface, plane);
  EXPECT_EQ(stages->sources[1].right, 16);
  from->view.chroma = {};
}

}  // namespace

namespace {

// A planar surface whose used width ends inside its rounded rows: a
// processor write repeats the last used column in the luma rows used and
// in the chroma plane (half its rows for two planes).
TEST_F(EngineCopies, TheLastUsedColumnIsRepeatedAfterAWrite) {
  orvsim::Engine2d engine2d{board, dma};
  Surface3d* s = Make(kArgb, 128, 16);
  Surface3d* plane = Make(kArgb, 64, 8);
  ASSERT_NE(s, nullptr);
  ASSERT_NE(plane, nullptr);
  Pattern(s);
  Pattern(plane);
  const std::vector<uint8_t> luma = Memory(s, uint64_t{s->pitch} * 16);
  const std::vector<uint8_t> chroma = Memory(plane, uint64_t{plane->pitch} * 8);
  s->view.chroma = {40, 10, 2, plane, 1};  // used 40 x 10 from row 2
  s->MarkWritten();
  s->view.chroma = {};  // the processor reads it without its second plane
  dma.RunPending();
  const std::vector<uint8_t> l = Memory(s, luma.size()), c = Memory(plane, chroma.size());
  for (uint32_t y = 0; y < 16; ++y) {
    const bool used = y >= 2 && y < 12;
    EXPECT_EQ(Pixel(l, s, 40, y), used ? Pixel(luma, s, 39, y) : Pixel(luma, s, 40, y)) << y;
    EXPECT_EQ(Pixel(l, s, 41, y), Pixel(luma, s, 41, y)) << y;
  }
  for (uint32_t y = 0; y < 8; ++y)
    EXPECT_EQ(Pixel(c, plane, 20, y), y < 5 ? Pixel(chroma, plane, 19, y) : Pixel(chroma, plane, 20, y)) << y;
  // A used width in the last 32 columns of the rows: nothing repeats.
  Pattern(s);
  s->view.chroma = {100, 10, 2, plane, 1};
  s->MarkWritten();
  s->view.chroma = {};
  dma.RunPending();
  EXPECT_EQ(Memory(s, luma.size()), luma);
}

}  // namespace

namespace {

// The shadow round trip: the owner's box goes into the shadow scaled by
// the factors and comes back from it with the filter; an active link
// does not enter again, the owner as the open render target is skipped
// when asked.
TEST_F(EngineCopies, TheShadowRoundTripAppliesTheFactors) {
  Surface3d* owner = Make(kArgb, 64, 32);
  Surface3d* shadow = Make(kArgb, 128, 64);
  ASSERT_NE(owner, nullptr);
  ASSERT_NE(shadow, nullptr);
  SurfaceShadowLink& link = owner->shadowLink;
  link.Init(owner);
  link.shadow = shadow;
  link.scaleX = 2.0f;
  link.scaleY = 2.0f;
  auto corners = [&] {
    const std::vector<uint32_t> run = LastPacket(22);
    return std::vector<uint32_t>{run[4], run[5], run[9], run[10], run[14], run[15]};  // top, left per corner
  };
  const uint32_t box[6] = {8, 4, 0, 24, 12, 1};
  Common()->openRenderTarget = owner;
  const uint32_t* cursor = Secondary()->cursor;
  ASSERT_TRUE(link.Enter(true, box));
  EXPECT_FALSE(link.IsActive());
  EXPECT_EQ(Secondary()->cursor, cursor);
  Common()->openRenderTarget = nullptr;

  ASSERT_TRUE(link.Enter(true, box));
  EXPECT_TRUE(link.IsActive());
  EXPECT_EQ(corners(), (std::vector<uint32_t>{Bits(8), Bits(16), Bits(8), Bits(48), Bits(24), Bits(16)}));
  EXPECT_EQ(shadow->changed, 1);
  TextureStageSetup* stages = reinterpret_cast<TextureStageSetup*>(BlitEngineOf(pdev)->stageSetup);
  EXPECT_EQ(stages->sources[0].surface, owner);
  EXPECT_EQ(stages->sources[0].filter, 0u);  // the request's filter word is 0 on the way in
  cursor = Secondary()->cursor;
  ASSERT_TRUE(link.EnterIfInactive(box));
  EXPECT_EQ(Secondary()->cursor, cursor);

  ASSERT_TRUE(link.Leave(box));
  EXPECT_FALSE(link.IsActive());
  EXPECT_EQ(corners(), (std::vector<uint32_t>{Bits(4), Bits(8), Bits(4), Bits(24), Bits(12), Bits(8)}));
  EXPECT_EQ(stages->sources[0].surface, shadow);
  EXPECT_EQ(stages->sources[0].filter, 1u);
  EXPECT_EQ(owner->changed, 1);
  // Whole surfaces without a box.
  ASSERT_TRUE(link.Enter(false));
  EXPECT_EQ(corners(), (std::vector<uint32_t>{Bits(0), Bits(0), Bits(0), Bits(128), Bits(64), Bits(0)}));
  ASSERT_TRUE(link.Leave());
  // The engine does not pass the blit in time: the trip fails and the link
  // stays as it was.
  expectErrors = true;
  dma.SetLatencyReads(1u << 30);
  EXPECT_FALSE(link.Enter(false));
  EXPECT_TRUE(glue.Logged("*ERROR*"));
  EXPECT_FALSE(link.IsActive());
  dma.SetLatencyReads(0);
  dma.RunPending();
  link.shadow = nullptr;
}

}  // namespace

namespace {

// Engine copies within one surface, through CopyRect: rows one apart or
// of differing parity go through the scratch (two copies a tile), others
// are one directed copy; every result equals memmove's.
TEST_F(EngineCopies, OverlappingEngineCopiesEqualMemmove) {
  orvsim::Engine2d engine2d{board, dma};
  Surface3d* s = Make(kArgb, 128, 32);
  ASSERT_NE(s, nullptr);
  struct Case {
    const char* name;
    uint32_t src[4];
    uint32_t dx, dy;
    size_t copies;
  } cases[] = {
      {"one row down", {0, 0, 100, 20}, 0, 1, 2},
      {"one row up", {0, 1, 100, 21}, 0, 0, 2},
      {"same rows, right", {0, 2, 90, 12}, 7, 2, 2},
      {"same rows, left", {7, 2, 97, 12}, 0, 2, 2},
      {"three rows down", {4, 0, 60, 20}, 4, 3, 2},   // parity differs, height >= 3
      {"two rows down", {4, 0, 60, 20}, 9, 2, 1},     // bottom-up and right-to-left
      {"two rows up", {9, 4, 65, 24}, 4, 2, 1},
  };
  for (const Case& c : cases) {
    Pattern(s);
    const std::vector<uint8_t> before = Memory(s, uint64_t{s->pitch} * 32);
    engine2d.ClearOperationStarts();
    ASSERT_TRUE(Surface3d::CopyRect(s, s, Copy(c.src, c.dx, c.dy))) << c.name;
    dma.RunPending();
    EXPECT_EQ(CopyStarts(engine2d), c.copies) << c.name;
    EXPECT_TRUE(s->AwaitEngine());
    EXPECT_EQ(Memory(s, before.size()), Moved(before, s, c.src, c.dx, c.dy)) << c.name;
  }
  EXPECT_TRUE(engine2d.Faults().empty());
}

// Keyed engine copies: the key replicated to 32 bits for 8- and 16-bit
// pixels under the mask of all ones, the low 24 bits for 32-bit pixels,
// 30 bits for format 16.
TEST_F(EngineCopies, EngineKeysAreComparedUnderTheirMask) {
  orvsim::Engine2d engine2d{board, dma};
  struct Case {
    uint32_t code;
    uint32_t key, wantKey, wantMask;
  } cases[] = {
      {29, 0x5A, 0x5A5A5A5A, 0xFFFFFFFF},
      {6, 0x1234, 0x12341234, 0xFFFFFFFF},
      {kArgb, 0xFF123456, 0xFF123456, 0x00FFFFFF},
      {16, 0xC0123456, 0xC0123456, 0x3FFFFFFF},
  };
  for (const Case& c : cases) {
    // Whole pages each: the board shows the processor only page-aligned
    // windows.
    Surface3d* a = Make(c.code, 128, 32);
    Surface3d* b = Make(c.code, 128, 32);
    ASSERT_NE(a, nullptr) << c.code;
    ASSERT_NE(b, nullptr) << c.code;
    Pattern(a);
    Fill(b, 0xEE);
    const std::vector<uint8_t> src = Memory(a, uint64_t{a->pitch} * 4);
    const uint32_t all[4] = {0, 0, 64, 4};
    SurfaceCopyRequest q = Copy(all, 0, 0);
    q.flags = kCopyKey;
    q.key = c.key;
    dma.ClearWrites();
    ASSERT_TRUE(Surface3d::CopyEngine(b, a, q)) << c.code;
    dma.RunPending();
    EXPECT_EQ(WritesTo(0xC5).back(), c.wantKey) << c.code;
    EXPECT_EQ(WritesTo(0xC6).back(), c.wantMask) << c.code;
    EXPECT_TRUE(b->AwaitEngine());
    // The board compares under the mask: pixels equal to the key stay.
    const std::vector<uint8_t> m = Memory(b, uint64_t{b->pitch} * 4);
    const uint32_t bytes = a->bytesPerPixel, pixelMask = bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
    for (uint32_t y = 0; y < 4; ++y)
      for (uint32_t x = 0; x < 64; ++x) {
        const uint32_t p = Pixel(src, a, x, y);
        const bool keyed = (p & c.wantMask & pixelMask) == (c.wantKey & c.wantMask & pixelMask);
        ASSERT_EQ(Pixel(m, b, x, y), keyed ? 0xEEEEEEEEu & pixelMask : p) << c.code << " " << x << "," << y;
      }
  }
  EXPECT_TRUE(engine2d.Faults().empty());
}

}  // namespace

namespace {

// Surfaces the processor reaches through a window over their owner's
// block or the frame buffer: levels past the first of a texture set (the
// packed small ones too), and narrow surfaces whose rows are wider than
// they are. What is written lands in the board's memory at the surface's
// place, and comes back.
TEST_F(Access, LevelsOfASetAndNarrowSurfacesLandAtTheirAddressInBoardMemory) {
  struct Case {
    const char* name;
    uint32_t width, height, levels, sizeClass;
  };
  const Case cases[] = {
      {"third level of a mip chain", 64, 64, 4, 4},
      {"narrow level under a wide one", 128, 16, 6, 5},
      {"narrow single surface", 3, 15, 1, 3},
      {"smallest packed level", 64, 64, 7, 0},
      {"last level of a short chain", 128, 15, 8, 0},
      {"second level of a short chain", 128, 15, 8, 6},
      {"last level of a tall chain", 4, 200, 8, 0},
      {"level of a tall chain", 8, 400, 9, 5},
  };
  for (const Case& c : cases) {
    SurfaceCreateRequest request = SetRequest(kArgb, c.width, c.height, c.levels, c.levels > 1 ? kSetMipChain : 0);
    TextureSurfaceSet* set = nullptr;
    Surface3d* s = nullptr;
    if (c.levels > 1) {
      set = TextureSurfaceSet::CreatePlaced(pdev, &request);
      ASSERT_NE(set, nullptr) << c.name;
      s = set->Level(0, static_cast<int32_t>(c.sizeClass));
    } else {
      s = Make(kArgb, c.width, c.height);
    }
    ASSERT_NE(s, nullptr) << c.name;
    const uint32_t w = s->width, h = s->height;
    Client in(uint64_t{w} * 4 * h);
    for (size_t i = 0; i < in.size; ++i) in.data()[i] = static_cast<uint8_t>(i * 7 + 3);
    SurfaceLockRequest q = Whole(in, w * 4, 0);
    ASSERT_TRUE(s->LockWithRequest(&q)) << c.name;
    // The level's place in its owner's block: the packed small levels at
    // their place in the shared area.
    const MmSurface* owner = s->master != nullptr ? s->master : s;
    const uint64_t local = (owner->busWord & kDescAddressMask) + s->levelEntry.offset + s->setOffset +
                           (s->levelEntry.packIndex != kNotPacked ? s->levelEntry.packOffset : 0);
    const uint8_t* memory = board.LocalMemory();
    for (uint32_t y = 0; y < h; ++y)
      ASSERT_EQ(memcmp(memory + local + uint64_t{y} * s->pitch, in.data() + y * w * 4, w * 4), 0)
          << c.name << " row " << y;
    Client out(in.size);
    SurfaceLockRequest r = Whole(out, w * 4, kLockRead);
    ASSERT_TRUE(s->LockWithRequest(&r)) << c.name;
    EXPECT_EQ(memcmp(out.data(), in.data(), in.size), 0) << c.name;
    EXPECT_TRUE(out.CanariesIntact()) << c.name;
    delete set;
  }
}

}  // namespace
