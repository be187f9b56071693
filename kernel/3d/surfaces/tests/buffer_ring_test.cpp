// Buffer rings: buffers made and linked, discards that move round the ring
// and grow it only past a busy buffer, the engine handshake of a first lock
// in the register log, clamped writes and copies, and the surface view with
// its handle in a client's table.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "core/bm_buffer.h"
#include "core/regs/dma.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/tests/surfaces_fixture.h"
#include "kernel/register_guard.h"

namespace {

using stest::SurfaceBoard;

constexpr uint32_t kKey = 0x4242;
constexpr uint32_t kAgp = 2;
constexpr uint32_t kLocal = 0;

class Rings : public SurfaceBoard {
 protected:
  void SetUp() override {
    SurfaceBoard::SetUp();
    table = CreateResourceTable(pdev, kKey);
    ASSERT_NE(table, nullptr);
    baseline = Holding();
  }
  void TearDown() override {
    for (BmBufferRing* r : rings) delete r;
    if (SharedLocked() != nullptr && savedNewest != 0) SharedLocked()->bufferCounter = savedNewest;
    DestroyResourceTable(pdev, kKey);
    OsDelete(context);
    SurfaceBoard::TearDown();
  }
  BmBufferRing* Ring(uint32_t size = 4096, uint32_t kind = kAgp) {
    BmBufferRing* ring = BmBufferRing::Create(size, kind, Common(), pdev->unit, 0);
    if (ring != nullptr) rings.push_back(ring);
    return ring;
  }
  void Forget(BmBufferRing* ring) { std::erase(rings, ring); }

  // The engine has not yet passed the switch that left the buffer.
  void HoldBusy(BmBuffer* buffer) {
    SharedLockedData_t* shared = SharedLocked();
    if (savedNewest == 0) {
      savedNewest = shared->bufferCounter == 0 ? 1 : shared->bufferCounter;
      shared->bufferCounter = shared->completedBufferCounter + 100;
    }
    buffer->fence = shared->completedBufferCounter + 50;
  }
  static void Release(BmBuffer* buffer) { buffer->fence = 0; }

  std::vector<BmBuffer*> Buffers(BmBufferRing* ring) {
    std::vector<BmBuffer*> out;
    BmBuffer* b = ring->Current();
    if (b == nullptr) return out;
    do {
      out.push_back(b);
      if (b->next->previous != b) ADD_FAILURE() << "broken link";
      b = b->next;
    } while (b != ring->Current() && out.size() <= kRingMaxBuffers);
    return out;
  }

  // The register writes since the log was cleared.
  std::vector<std::pair<uint32_t, uint32_t>> Writes() const {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const auto& a : board.LoggedWrites()) out.push_back({a.offset, a.value});
    return out;
  }

  // A render context that was never initialised: what the table asks of
  // it shows in its fields.
  RenderContext3d* Context() {
    if (context == nullptr) context = OsNew<RenderContext3d>();
    return context;
  }

  ResourceTable* table = nullptr;
  Held baseline{};
  std::vector<BmBufferRing*> rings;
  uint32_t savedNewest = 0;
  RenderContext3d* context = nullptr;
};

TEST_F(Rings, ARingStartsWithOneBufferOfItsSizeAndKindAndGoesWithoutATrace) {
  for (uint32_t kind : {kAgp, kLocal}) {
    BmBufferRing* ring = BmBufferRing::Create(8192, kind, Common(), pdev->unit, 7);
    ASSERT_NE(ring, nullptr) << kind;
    EXPECT_EQ(ring->Count(), 1u);
    EXPECT_EQ(ring->Size(), 8192u);
    EXPECT_EQ(ring->flags, 7u);
    ASSERT_NE(ring->Current(), nullptr);
    EXPECT_EQ(ring->Current()->next, ring->Current());
    EXPECT_EQ(ring->Current()->memoryType, kind);
    EXPECT_GE(ring->Current()->size, 8192u);
    delete ring;
    EXPECT_EQ(Holding(), baseline) << kind;
  }
}

TEST_F(Rings, AFirstBufferThatCannotBeHadGivesNoRing) {
  glue.FailAllocation(1, kglue::AllocKind::kLockedPages);
  EXPECT_EQ(BmBufferRing::Create(4096, kAgp, Common(), pdev->unit, 0), nullptr);
  // Process memory is not a kind the engine can read a ring from.
  EXPECT_EQ(BmBufferRing::Create(4096, kBmMemProcess, Common(), pdev->unit, 0), nullptr);
  EXPECT_EQ(Holding(), baseline);
}

TEST_F(Rings, AddedBuffersGoJustBeforeTheCurrentOneAndRemovalLeavesTheSuccessor) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  BmBuffer* first = ring->Current();
  ASSERT_TRUE(ring->AddBuffer());
  BmBuffer* second = ring->Current();
  ASSERT_TRUE(ring->AddBuffer());
  BmBuffer* third = ring->Current();
  EXPECT_EQ(Buffers(ring), (std::vector<BmBuffer*>{third, second, first}));
  EXPECT_EQ(ring->Count(), 3u);
  ring->RemoveCurrentBuffer();
  EXPECT_EQ(Buffers(ring), (std::vector<BmBuffer*>{second, first}));
  ring->RemoveCurrentBuffer();
  ring->RemoveCurrentBuffer();
  EXPECT_EQ(ring->Current(), nullptr);
  EXPECT_EQ(ring->Count(), 0u);
  EXPECT_EQ(ring->Lock(true, false), nullptr);
  EXPECT_EQ(ring->Unlock(), 0u);
}

TEST_F(Rings, DiscardsGoRoundTheRingAndGrowItOnlyPastABusyBuffer) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  ASSERT_TRUE(ring->AddBuffer());
  BmBuffer* b = ring->Current();
  BmBuffer* a = b->next;
  // An idle next buffer: round robin, no growth.
  ASSERT_EQ(ring->Lock(false, true), a->cpuAddress);
  ring->Unlock();
  ASSERT_EQ(ring->Lock(false, true), b->cpuAddress);
  ring->Unlock();
  EXPECT_EQ(ring->Count(), 2u);
  // A discard with a lock outstanding stays on its buffer.
  ASSERT_EQ(ring->Lock(false, false), b->cpuAddress);
  ASSERT_EQ(ring->Lock(false, true), b->cpuAddress);
  EXPECT_EQ(ring->Unlock(), 1u);
  EXPECT_EQ(ring->Unlock(), 0u);
  EXPECT_EQ(ring->Unlock(), 0u) << "no lock left";
  // A busy next buffer: a fresh one comes in before it.
  HoldBusy(a);
  ASSERT_NE(ring->Lock(false, true), nullptr);
  EXPECT_EQ(ring->Count(), 3u);
  EXPECT_NE(ring->Current(), a);
  EXPECT_NE(ring->Current(), b);
  EXPECT_EQ(ring->Current()->next, a);
  ring->Unlock();
}

TEST_F(Rings, NineDiscardsWithEveryBufferBusyLeaveEight) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  expectErrors = true;
  for (int i = 0; i < 9; ++i) {
    for (BmBuffer* b : Buffers(ring)) HoldBusy(b);
    void* at = ring->Lock(false, true);
    if (i < 7) {
      ASSERT_NE(at, nullptr) << i;
      ASSERT_EQ(ring->Unlock(), 0u);
    } else {
      // The ring is full: the busy buffer is used, and the lock waits for
      // it, in vain here.
      EXPECT_EQ(at, nullptr) << i;
    }
    EXPECT_EQ(ring->Count(), i < 7 ? static_cast<uint32_t>(i) + 2 : kRingMaxBuffers) << i;
  }
  EXPECT_TRUE(glue.Logged("buffer ring"));
  EXPECT_EQ(ring->lockCount, 0u);
  // Once the engine passes them, the same ring locks again without growing.
  for (BmBuffer* b : Buffers(ring)) Release(b);
  EXPECT_NE(ring->Lock(true, true), nullptr);
  EXPECT_EQ(ring->Count(), kRingMaxBuffers);
  ring->Unlock();
}

TEST_F(Rings, AFirstLockWaitsForTheEngineThenFlushesItsCachesOnce) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  board.SetLogging(false, true);
  struct Case {
    const char* name;
    uint32_t last;  // the register written last
    bool dummy;     // 0 to 0x384 before the flush
  };
  const Case cases[] = {
      {"nothing remembered", kLastRegNone, false},
      {"just below", 0x310, true},
      {"128 below", 0x314 - 128, true},
      {"129 below", 0x314 - 129, false},
      {"the flush register itself", 0x314, false},
      {"above", 0x320, false},
  };
  ASSERT_EQ(SharedLocked()->regGuardEnable, 1u);
  for (const Case& c : cases) {
    SharedLocked()->lastRegWritten = c.last;
    board.ClearLog();
    ASSERT_NE(ring->Lock(true, false), nullptr) << c.name;
    // A second lock of the same buffer writes nothing.
    ASSERT_NE(ring->Lock(true, false), nullptr) << c.name;
    ring->Unlock();
    ring->Unlock();
    std::vector<std::pair<uint32_t, uint32_t>> want;
    if (c.dummy) want.push_back({kRegGuardDummy, 0});
    want.push_back({kRegEngineFlush, kEngineFlush});
    EXPECT_EQ(Writes(), want) << c.name;
  }
}

TEST_F(Rings, BoardsWithTheNewerFlushRegisterFlushThere) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  const uint32_t saved = Common()->revisionBits;
  Common()->revisionBits |= 0x20000;
  SharedLocked()->lastRegWritten = kLastRegNone;
  board.SetLogging(false, true);
  board.ClearLog();
  ASSERT_NE(ring->Lock(true, false), nullptr);
  ring->Unlock();
  Common()->revisionBits = saved;
  EXPECT_EQ(Writes(), (std::vector<std::pair<uint32_t, uint32_t>>{{kRegEngineStatus, kEngineFlush}}));
}

TEST_F(Rings, ABusyBufferIsWaitedForAndALockPastTheBoundFailsCleanly) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  expectErrors = true;
  HoldBusy(ring->Current());
  board.SetLogging(false, true);
  board.ClearLog();
  EXPECT_EQ(ring->Lock(true, false), nullptr);
  EXPECT_EQ(ring->lockCount, 0u);
  EXPECT_EQ(ring->Current()->lockCount, 0u);
  EXPECT_TRUE(Writes().empty()) << "no flush before the engine gave the buffer up";
  EXPECT_TRUE(glue.Logged("*ERROR*"));
  Release(ring->Current());
  EXPECT_NE(ring->Lock(true, false), nullptr);
  EXPECT_EQ(ring->Unlock(), 0u);
}

TEST_F(Rings, WritesAreClampedToTheBuffer) {
  BmBufferRing* ring = Ring(4096);
  ASSERT_NE(ring, nullptr);
  std::vector<uint8_t> source(256);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i);
  auto* bytes = static_cast<uint8_t*>(ring->Current()->cpuAddress);
  memset(bytes, 0xEE, 4096);
  struct Case {
    uint32_t offset, length, destination;
    uint32_t written;  // bytes that land at the destination
  };
  const Case cases[] = {
      {0, 16, 0, 16}, {8, 32, 100, 32}, {0, 200, 4000, 96}, {0, 16, 4096, 0}, {0, 16, 9000, 0}, {0, 0, 10, 0},
  };
  for (const Case& c : cases) {
    memset(bytes, 0xEE, 4096);
    EXPECT_TRUE(ring->WriteAt(source.data(), BufferRange{c.offset, c.length}, c.destination));
    std::vector<uint8_t> want(4096, 0xEE);
    for (uint32_t i = 0; i < c.written; ++i) want[c.destination + i] = source[c.offset + i];
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4096), want) << c.destination;
    EXPECT_EQ(ring->lockCount, 0u);
  }
}

TEST_F(Rings, CopiesAreClampedToBothRingsAndTheRangeIsWrittenBack) {
  BmBufferRing* from = Ring(4096);
  BmBufferRing* to = Ring(8192);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  auto* src = static_cast<uint8_t*>(from->Current()->cpuAddress);
  auto* dst = static_cast<uint8_t*>(to->Current()->cpuAddress);
  for (uint32_t i = 0; i < 4096; ++i) src[i] = static_cast<uint8_t>(i * 7);
  struct Case {
    BufferRange range;
    uint32_t destination;
    BufferRange clamped;
  };
  const Case cases[] = {
      {{0, 100}, 0, {0, 100}},
      {{4000, 500}, 10, {4000, 96}},
      {{5000, 10}, 0, {4096, 0}},
      {{100, 3000}, 8000, {100, 192}},
      {{100, 10}, 9000, {100, 0}},
  };
  for (const Case& c : cases) {
    memset(dst, 0, 8192);
    BufferRange range = c.range;
    EXPECT_TRUE(to->CopyFrom(from, &range, c.destination));
    EXPECT_EQ(range.offset, c.clamped.offset);
    EXPECT_EQ(range.length, c.clamped.length);
    std::vector<uint8_t> want(8192, 0);
    for (uint32_t i = 0; i < c.clamped.length; ++i) want[c.destination + i] = src[c.clamped.offset + i];
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 8192), want);
    EXPECT_EQ(from->lockCount + to->lockCount, 0u);
  }
  // Within one ring the ranges may overlap.
  for (uint32_t i = 0; i < 4096; ++i) src[i] = static_cast<uint8_t>(i);
  BufferRange range{0, 100};
  EXPECT_TRUE(from->CopyFrom(from, &range, 1));
  EXPECT_EQ(src[1], 0);
  EXPECT_EQ(src[100], 99);
}

TEST_F(Rings, ALockThatCannotBeHadFailsWritesAndCopies) {
  BmBufferRing* ring = Ring();
  BmBufferRing* other = Ring();
  ASSERT_NE(ring, nullptr);
  ASSERT_NE(other, nullptr);
  expectErrors = true;
  HoldBusy(ring->Current());
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(ring->WriteAt(data, BufferRange{0, 8}, 0));
  BufferRange range{0, 8};
  EXPECT_FALSE(ring->CopyFrom(other, &range, 0));
  EXPECT_FALSE(other->CopyFrom(ring, &range, 0));
  EXPECT_EQ(ring->lockCount + other->lockCount, 0u);
}

TEST_F(Rings, TheViewStandsInTheTableAndADiscardInvalidatesItsBindings) {
  BmBufferRing* ring = Ring(4096, kAgp);
  ASSERT_NE(ring, nullptr);
  ASSERT_TRUE(table->AttachContext(Context()));
  Surface3d* view = table->CreateBufferSurface(2, ring);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(ring->view, view);
  EXPECT_EQ(table->Get(2, view->resourceHandle), view);
  EXPECT_EQ(Surface3dResourceHandle(view), view->resourceHandle);
  EXPECT_EQ(view->ring, ring);
  EXPECT_EQ(view->Placement(), kNibbleAgp);
  EXPECT_EQ(view->ClassField(), kClassFieldOverRing);
  EXPECT_EQ(view->SurfaceClass(), kSurfaceOverRing);
  EXPECT_EQ(view->ringSize, 4096u);
  EXPECT_EQ(view->owner, pdev);

  // The context reads vertices of stream 1 from the view.
  RenderState3d& state = Context()->state;
  state.streams.bindings[1].kind = 0;
  state.streams.bindings[1].handle = view->resourceHandle;
  state.streams.changedMask = 0;
  view->changed = 0;
  // A lock that keeps the contents tells nobody.
  ASSERT_NE(ring->Lock(false, false), nullptr);
  ring->Unlock();
  EXPECT_EQ(state.streams.changedMask, 0);
  EXPECT_EQ(view->changed, 0);
  // A discard does.
  ASSERT_NE(ring->Lock(false, true), nullptr);
  ring->Unlock();
  EXPECT_EQ(view->changed, 1);
  EXPECT_EQ(state.streams.changedMask, 1u << 1);

  // A second view is not the ring's.
  Surface3d* second = table->CreateBufferSurface(2, ring);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ring->view, view);
  table->DestroyResource(2, second->resourceHandle);
  EXPECT_EQ(ring->view, view);
  // The view goes first: the ring forgets it.
  table->DestroyResource(2, view->resourceHandle);
  EXPECT_EQ(ring->view, nullptr);
  table->DetachContext(Context());
}

TEST_F(Rings, TheRingGoingFirstDetachesItsView) {
  BmBufferRing* ring = Ring(4096, kLocal);
  ASSERT_NE(ring, nullptr);
  Surface3d* view = table->CreateBufferSurface(0, ring);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->Placement(), kNibbleLocal);
  ASSERT_NE(ring->Lock(false, false), nullptr);
  ASSERT_NE(ring->Lock(false, false), nullptr);
  Forget(ring);
  delete ring;  // unlocks twice, detaches the view
  EXPECT_EQ(view->ring, nullptr);
  EXPECT_EQ(view->Placement(), 0u);
  table->DestroyResource(0, view->resourceHandle);
  EXPECT_EQ(table->Get(0, 1), nullptr);
}

TEST_F(Rings, ABufferSurfaceOfAnUnknownTypeOrWithoutARingIsRefused) {
  BmBufferRing* ring = Ring();
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(table->CreateBufferSurface(3, ring), nullptr);
  EXPECT_EQ(table->CreateBufferSurface(1, nullptr), nullptr);
  EXPECT_EQ(ring->view, nullptr);
  // Other placements: AGP memory or local memory name themselves, the rest
  // is "other".
  BmBufferRing* pci = Ring(4096, kBmMemPciLocked);
  ASSERT_NE(pci, nullptr);
  Surface3d* view = table->CreateBufferSurface(1, pci);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->Placement(), kNibbleOther);
  table->DestroyResource(1, view->resourceHandle);
}

TEST_F(Rings, ADrawSizedLockWriteUnlockAllocatesNothing) {
  BmBufferRing* ring = Ring(65536);
  ASSERT_NE(ring, nullptr);
  std::vector<uint8_t> vertices(3 * 32, 0x11);
  const uint64_t before = glue.AllocationCount();
  for (int i = 0; i < 100; ++i) {
    ASSERT_NE(ring->Lock(false, i % 10 == 0), nullptr);
    ASSERT_TRUE(ring->WriteAt(vertices.data(), BufferRange{0, static_cast<uint32_t>(vertices.size())},
                              static_cast<uint32_t>(i) * 96));
    ring->Unlock();
  }
  EXPECT_EQ(glue.AllocationCount(), before);
}

}  // namespace
