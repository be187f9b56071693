// The primary command interface against the simulated board's DMA engine:
// local DMA end to end through the whole component table, the processor
// path giving the same register effects, posting to the kernel module, the
// register-write guard, the buffer-switch packet with its counters, and
// requests larger than a fresh buffer refused without a write.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "core/bm_debug.h"
#include "core/bm_prim_int.h"
#include "core/hw_thread2d.h"
#include "core/mm_surface_manager.h"
#include "core/tests/mm_fixture.h"
#include "platform/board/chip_dma.h"
#include "platform/xserver/xservices.h"

namespace coretest {
namespace {

using W = orvsim::DmaEngine::RegWrite;

// A small 2D mix: two solid fills and a copy, as header + data words.
const std::vector<uint32_t> kDrawing = {
    0x2121C6C5, 0x00010002, 0x00300040,                  // fill origin and size
    0xC9C8C7C6, 0x11, 0x22, 0x33, 0x44,                  // four registers
    0x212121C0, 0x0000CC01,                              // 2D control
};
const std::vector<W> kDrawingWrites = {
    {0x1314, 0x00010002}, {0x1318, 0x00300040}, {0x1318, 0x11}, {0x131C, 0x22},
    {0x1320, 0x33},       {0x1324, 0x44},       {0x1300, 0x0000CC01},
};

void WriteDrawing(BmPrimInt* p) {
  uint32_t* at = p->Reserve(static_cast<uint32_t>(kDrawing.size()));
  for (uint32_t w : kDrawing) *at++ = w;
}

class LocalDmaTest : public LocalBoardTest {
 protected:
  void SetUp() override {
    LocalBoardTest::SetUp();
    AddBoard();  // 64 MB, with the fixture's DMA engine
    engine_->SetLatencyReads(4);
  }
};

TEST_F(LocalDmaTest, EveryRowComesUpAndTheEngineRunsTheBufferToTheSyncTag) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  PDEV* pdev = head.pdev;

  BmPrimInt* prim = pdev->primInt;
  ASSERT_NE(prim, nullptr);
  SharedLockedData_t* shared = pdev->sharedLocked;
  EXPECT_EQ(shared->dmaMode, kDmaModeLocal);
  EXPECT_EQ(prim->head->memoryType, kBmMemLocal);
  EXPECT_EQ(prim->stateFlags & kBmStateLocalBuffer, kBmStateLocalBuffer);
  EXPECT_EQ(pdev->surfaceManager->primInt, prim);
  EXPECT_EQ(shared->expectedDmaStatus, orvsim::kDmaStatusFifoRoom);
  // Open issued a first tag and waited for the engine to reach it.
  EXPECT_EQ(engine_->ReachedTag(), shared->syncTagCounter);
  EXPECT_EQ(shared->syncTagCounter, 8u);

  engine_->ClearWrites();
  ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
  WriteDrawing(prim);
  const uint32_t tag = prim->WriteSyncPacket();
  ASSERT_TRUE(prim->Start());
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
  EXPECT_EQ(shared->commandLock, 0);

  ASSERT_TRUE(prim->WaitForSyncTag(tag));
  EXPECT_FALSE(prim->IsSyncTagPending(tag));
  std::vector<W> expected = kDrawingWrites;
  // Local DMA leaves a saved 2D control value (0), so the long sync form.
  expected.insert(expected.end(), {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, tag}, {0x1300, 0}});
  EXPECT_EQ(engine_->Writes(), expected);
  EXPECT_TRUE(engine_->DecodeErrors().empty());
  EXPECT_EQ(shared->lastDmaEnd, prim->head->BusOf(prim->cursor));
}

TEST_F(LocalDmaTest, OneBufferWaitsForTheEngineBeforeItIsRewritten) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  BmPrimInt* prim = head.pdev->primInt;
  engine_->ClearWrites();
  // Fill the buffer over and over: with the engine behind by a few status
  // reads, an early rewrite would show as commands decoded twice or lost.
  const uint32_t words = static_cast<uint32_t>(kDrawing.size());
  const uint32_t perBuffer = (prim->head->size / 4 - prim->options.reserve) / words;
  const uint32_t rounds = perBuffer * 2 + 3;
  for (uint32_t i = 0; i < rounds; ++i) WriteDrawing(prim);
  ASSERT_TRUE(prim->Start());
  engine_->RunPending();
  ASSERT_EQ(engine_->Writes().size(), kDrawingWrites.size() * rounds);
  for (uint32_t i = 0; i < rounds; ++i) {
    std::vector<W> round(engine_->Writes().begin() + i * kDrawingWrites.size(),
                         engine_->Writes().begin() + (i + 1) * kDrawingWrites.size());
    ASSERT_EQ(round, kDrawingWrites) << "round " << i;
  }
}

TEST_F(LocalDmaTest, GuardPutsADummyWriteBetween0x404And0x408) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  BmPrimInt* prim = head.pdev->primInt;
  SharedLockedData_t* shared = head.pdev->sharedLocked;
  for (uint32_t guard : {0u, 1u}) {
    shared->regGuardEnable = guard;
    board_->ClearLog();
    ASSERT_TRUE(prim->Reset());
    std::vector<uint32_t> order;
    for (const auto& w : board_->LoggedWrites()) order.push_back(w.offset);
    const std::vector<uint32_t> want =
        guard ? std::vector<uint32_t>{0x404, 0x384, 0x408} : std::vector<uint32_t>{0x404, 0x408};
    EXPECT_EQ(order, want) << "guard " << guard;
  }
  // A read in between removes the dummy write.
  shared->lastRegWritten = 0x404;
  board_->ClearLog();
  ASSERT_TRUE(prim->Start());  // polls the idle register before 0x408
  std::vector<uint32_t> writes;
  for (const auto& w : board_->LoggedWrites()) writes.push_back(w.offset);
  EXPECT_EQ(writes, std::vector<uint32_t>{0x408});
}

// What a drawing callback's runs make the board see: for each run written
// and started under the command lock, reads of the engine status register
// until it is idle, then the one write of the DMA end register with the
// run's end; before every 17th direct write, reads of the DMA status until
// it takes writes. Reads of one register in a row count as one entry (how
// many the engine's latency takes is its own business); the engine runs
// every command once.
struct Access {
  orvsim::RegOp op;
  uint32_t offset;
  uint32_t value;  // writes only
  bool operator==(const Access&) const = default;
};

std::vector<Access> DriverAccesses(const std::vector<orvsim::RegAccessRecord>& log) {
  std::vector<Access> out;
  for (const auto& r : log) {
    if (r.offset >= orvsim::kDmaRegWindow) continue;  // the engine's own packet writes
    const Access a{r.op, r.offset, r.op == orvsim::RegOp::kWrite ? r.value : 0};
    if (a.op == orvsim::RegOp::kRead && !out.empty() && out.back() == a) continue;
    out.push_back(a);
  }
  return out;
}

TEST_F(LocalDmaTest, RunsStartedUnderTheLockReachTheBoardAsStatusReadsAndOneEndWrite) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  BmPrimInt* prim = head.pdev->primInt;
  SharedLockedData_t* shared = head.pdev->sharedLocked;
  constexpr uint32_t kRuns = 40;  // two waits for a DMA status that takes writes
  constexpr uint32_t kCommandsPerRun = 3;
  const uint32_t words = static_cast<uint32_t>(kDrawing.size());
  for (uint32_t guard : {0u, 1u}) {
    shared->regGuardEnable = guard;
    shared->lastRegWritten = orvsim::kDmaRegStart;  // a write of 0x408 would follow closely
    engine_->RunPending();
    engine_->ClearWrites();
    board_->ClearLog();
    const uint32_t firstEnd = shared->lastDmaEnd;
    uint32_t directWrites = shared->directWriteCount;
    std::vector<Access> want;
    for (uint32_t run = 0; run < kRuns; ++run) {
      ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
      ASSERT_EQ(BmWriteRun(prim, kCommandsPerRun, words,
                           [](uint32_t* at, uint32_t) {
                             for (uint32_t w : kDrawing) *at++ = w;
                           }),
                kCommandsPerRun);
      ASSERT_TRUE(prim->Start());
      BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);
      EXPECT_EQ(shared->commandLock, 0);

      want.push_back({orvsim::RegOp::kRead, orvsim::kDmaRegStatusA, 0});
      if (++directWrites > 16) {
        directWrites = 0;
        want.push_back({orvsim::RegOp::kRead, orvsim::kDmaRegStatus, 0});
      }
      want.push_back({orvsim::RegOp::kWrite, orvsim::kDmaRegEnd,
                      firstEnd + 4 * words * kCommandsPerRun * (run + 1)});
    }
    EXPECT_EQ(DriverAccesses(board_->Log()), want) << "guard " << guard;
    EXPECT_EQ(board_->LogDropped(), 0u);
    engine_->RunPending();
    ASSERT_EQ(engine_->Writes().size(), kDrawingWrites.size() * kCommandsPerRun * kRuns);
    for (size_t i = 0; i < engine_->Writes().size(); ++i) {
      ASSERT_EQ(engine_->Writes()[i], kDrawingWrites[i % kDrawingWrites.size()]) << "write " << i;
    }
    EXPECT_TRUE(engine_->DecodeErrors().empty());
  }
}

// A surface asking for a new sync (tag 0xFFFFFFFF) gets its sync packet
// written and started through the board's primary interface.
class SurfaceSyncTest : public LocalDmaTest {
 protected:
  void SetUp() override {
    LocalDmaTest::SetUp();
    head_ = &Construct(0);
    ASSERT_EQ(head_->ok, 1);
    prim_ = head_->pdev->primInt;
    shared_ = head_->pdev->sharedLocked;
    mmtest::MakePlain(&surface_, kSurfLocal, kHeapSelSecond, 4096);
    ASSERT_TRUE(head_->pdev->surfaceManager->CreateSurface(&surface_));
    engine_->RunPending();
    engine_->ClearWrites();
  }
  void TearDown() override {
    if (head_ != nullptr && head_->pdev != nullptr) {
      head_->pdev->surfaceManager->DestroySurface(&surface_);
    }
    LocalDmaTest::TearDown();
  }
  // Asks until the block's own tag is no longer pending; the number of asks.
  int WaitBlockIdle() {
    for (int asks = 1; asks < 100; ++asks) {
      uint32_t tag = kSyncTagOfBlock;
      if (!surface_.IsBusyDWG(&tag, true)) return asks;
    }
    return -1;
  }
  std::vector<W> SyncWrites(uint32_t tag) const {
    // Local DMA keeps a saved 2D control value (0): the long form.
    return {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, tag}, {0x1300, 0}};
  }

  Head* head_ = nullptr;
  BmPrimInt* prim_ = nullptr;
  SharedLockedData_t* shared_ = nullptr;
  MmSurface surface_;
};

TEST_F(SurfaceSyncTest, NewSyncIsWrittenStartedAndKeptAsTheBlocksTag) {
  const uint32_t before = shared_->syncTagCounter;
  uint32_t tag = kSyncTagNew;
  // The engine runs the range only after a few status reads: pending first.
  EXPECT_TRUE(surface_.IsBusyDWG(&tag, true));
  EXPECT_EQ(tag, before + 8);
  EXPECT_EQ(shared_->syncTagCounter, tag);
  EXPECT_EQ(static_cast<uint32_t>(surface_.block->drawSyncTag), tag);
  EXPECT_EQ(prim_->start, prim_->cursor);  // started
  EXPECT_GT(WaitBlockIdle(), 1);
  EXPECT_EQ(engine_->ReachedTag(), tag);
  EXPECT_EQ(engine_->Writes(), SyncWrites(tag));

  // Without the update flag the block keeps its tag.
  uint32_t other = kSyncTagNew;
  surface_.IsBusyDWG(&other, false);
  EXPECT_EQ(other, tag + 8);
  EXPECT_EQ(static_cast<uint32_t>(surface_.block->drawSyncTag), tag);
  engine_->RunPending();
  EXPECT_EQ(engine_->ReachedTag(), other);
  EXPECT_TRUE(engine_->DecodeErrors().empty());
}

TEST_F(SurfaceSyncTest, SyncPacketThatDoesNotFitGoesToTheNextBuffer) {
  // Leave two words before the limit, filled with padding headers.
  const uint32_t room = static_cast<uint32_t>(prim_->limit - prim_->cursor);
  uint32_t* pad = prim_->Reserve(room - 2);
  for (uint32_t i = 0; i < room - 2; ++i) pad[i] = 0x21212121;
  uint32_t tag = kSyncTagNew;
  surface_.IsBusyDWG(&tag, true);
  // The one-buffer pool ran what it held and starts over at its beginning.
  EXPECT_EQ(prim_->head->Begin()[3], tag);
  EXPECT_EQ(prim_->cursor, prim_->head->Begin() + BmSyncPacketWords(shared_));
  EXPECT_GT(WaitBlockIdle(), 0);
  EXPECT_EQ(engine_->ReachedTag(), tag);
  EXPECT_EQ(engine_->Writes(), SyncWrites(tag));
  EXPECT_TRUE(engine_->DecodeErrors().empty());
}

TEST_F(LocalDmaTest, ProcessorPathGivesTheSameRegisterEffects) {
  Head& head = Construct(0);
  ASSERT_EQ(head.ok, 1);
  CommonData* common = head.pdev->common;
  SharedLockedData_t* shared = head.pdev->sharedLocked;
  shared->dmaMode = kDmaModeEmulate;
  BmPrimInt emul(common, 0, BmPrimaryOptions(kDmaModeEmulate, 0, 0, 0));
  ASSERT_TRUE(emul.Open());
  EXPECT_EQ(emul.head->memoryType, kBmMemProcess);
  EXPECT_EQ(emul.stateFlags, kBmStateEmulated);
  board_->ClearLog();
  engine_->ClearWrites();
  WriteDrawing(&emul);
  const uint32_t tag = emul.WriteSyncPacket();
  ASSERT_TRUE(emul.Start());
  ASSERT_TRUE(emul.WaitForSyncTag(tag));
  std::vector<W> written;
  for (const auto& w : board_->LoggedWrites()) {
    if (w.offset >= 0x1000 && w.offset < 0x1400) written.push_back({w.offset, w.value});
  }
  std::vector<W> expected = kDrawingWrites;
  expected.insert(expected.end(), {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, tag}, {0x1300, 0}});
  EXPECT_EQ(written, expected);
  EXPECT_TRUE(engine_->Writes().empty()) << "the DMA engine fetched nothing";
  EXPECT_EQ(emul.start, emul.cursor);
  emul.Close();
}

// Mode 0: ranges go to the kernel module, whose stand-in runs them on the
// engine. The pool is built over two of its locked buffers.
class PostedDmaTest : public testing::Test {
 protected:
  void SetUp() override {
    orvmachine::MachineBoard& parts = machine_.AddBoard(coretest::DmaBoard(orvsim::BoardConfig()));
    board_ = &parts.board;
    engine_ = parts.dma.get();
    kernel_.AttachDmaEngine(engine_);
    box_.AddCharDevice(kFakeMajor, "orv");
    box_.RegisterEndpoint(kFakeMajor, &kernel_);
    box_.MakeDirectories("/dev/orvane");
    device_ = std::make_unique<LnxDevice>(0);
    ASSERT_TRUE(device_->Open());
    common_ = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    // The shared locked block comes from the kernel module, as in a driver.
    orv_ioctl_buffer record = {kOrvBufferSharedLocked, kOrvBufferFlagCommon, 0,
                               sizeof(SharedLockedData_t), 0};
    shared_ = static_cast<SharedLockedData_t*>(device_->AllocateBuffer(record));
    ASSERT_NE(shared_, nullptr);
    shared_->last1300Value = kLastRegNone;
    common_->sharedLocked = shared_;
    common_->registers = registers_.data();
    ASSERT_TRUE(IocRequestPlace(common_->requestSlots[0], device_.get()));
  }
  void TearDown() override {
    prim_.reset();
    IocRequestClear(common_->requestSlots[0]);
    free(common_);
  }

  // A pool of `count` locked buffers of `bytes` each, as the pool would
  // have allocated them. `slack` bytes of canary follow each buffer in the
  // same locked memory, to show writes past its end.
  void MakePool(uint32_t count, uint32_t bytes, uint32_t slack = 0) {
    BmBufferPool::CreateOptions options;
    options.bufferCount = count;
    prim_ = std::make_unique<BmPrimInt>(common_, 0, options);
    for (uint32_t i = 0; i < count; ++i) {
      orv_ioctl_buffer record = {kOrvBufferSharedLocked, 0, 0, bytes + slack, 0};
      void* cpu = device_->AllocateBuffer(record);
      ASSERT_NE(cpu, nullptr);
      memset(static_cast<uint8_t*>(cpu) + bytes, kCanary, slack);
      slack_.push_back({static_cast<uint8_t*>(cpu) + bytes, slack});
      BmBuffer* b = BmBuffer::Create(common_, 0, kBmMemPciLocked, bytes, cpu, record.offset);
      ASSERT_NE(b, nullptr);
      surfaces_.push_back(std::make_unique<MmSurface>());
      blocks_.push_back(std::make_unique<MmBlock>());
      b->surface = surfaces_.back().get();
      b->surface->block = blocks_.back().get();
      b->surface->shared = shared_;
      if (prim_->head != nullptr) {
        b->next = prim_->head;
        b->previous = prim_->head->previous;
        prim_->head->previous->next = b;
        prim_->head->previous = b;
      }
      prim_->head = b;
      ++prim_->bufferCount;
    }
    ASSERT_TRUE(prim_->Open());
  }

  orvmachine::Machine machine_;
  orvsim::Board* board_ = nullptr;
  orvsim::DmaEngine* engine_ = nullptr;
  xstub::FakeKernel kernel_;
  xstub::Sandbox box_;
  std::unique_ptr<LnxDevice> device_;
  std::vector<uint8_t> registers_ = std::vector<uint8_t>(8192);
  CommonData* common_ = nullptr;
  SharedLockedData_t* shared_ = nullptr;
  std::vector<std::unique_ptr<MmSurface>> surfaces_;
  std::vector<std::unique_ptr<MmBlock>> blocks_;
  std::unique_ptr<BmPrimInt> prim_;

  // Whether every byte behind every buffer still holds the canary.
  bool SlackIntact() const {
    for (const auto& [at, length] : slack_) {
      for (uint32_t i = 0; i < length; ++i) {
        if (at[i] != kCanary) return false;
      }
    }
    return true;
  }
  static constexpr uint8_t kCanary = 0xA5;
  std::vector<std::pair<uint8_t*, uint32_t>> slack_;
};

TEST_F(PostedDmaTest, StartPostsTheRangeAndSkipsEmptyOnes) {
  MakePool(2, 4096);
  EXPECT_EQ(prim_->postingFlags, kBmPostingTagFlag);
  kernel_.ClearCalls();
  ASSERT_TRUE(prim_->Start());
  EXPECT_TRUE(kernel_.CallsTo(0x1b).empty()) << "an empty range is not posted";

  uint32_t* first = prim_->cursor;
  WriteDrawing(prim_.get());
  const uint32_t tag = prim_->WriteSyncPacket();
  ASSERT_TRUE(prim_->Start());
  auto posts = kernel_.CallsTo(0x1b);
  ASSERT_EQ(posts.size(), 1u);
  OrvDmaPostRequest request;
  memcpy(&request, posts[0].record.data(), sizeof request);
  EXPECT_EQ(request.kind, kDmaPostPrimary);
  EXPECT_EQ(request.start, prim_->head->BusOf(first));
  EXPECT_EQ(request.end, prim_->head->BusOf(prim_->cursor) | kBmMemPciLocked);
  std::vector<W> expected = kDrawingWrites;
  expected.insert(expected.end(), {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, tag | 1}});
  EXPECT_EQ(engine_->Writes(), expected);
  EXPECT_EQ(shared_->completedTag, tag | 1);
  EXPECT_FALSE(prim_->IsSyncTagPending(tag));
  EXPECT_EQ(shared_->pendingSubmissions, 0);
  EXPECT_EQ(registers_, std::vector<uint8_t>(8192)) << "mode 0 touches no register";
}

TEST_F(PostedDmaTest, VideoPostsCarryTheirThreeWordsAndRunOnTheEngine) {
  MakePool(2, 4096);
  kernel_.ClearCalls();
  uint32_t* first = prim_->cursor;
  WriteDrawing(prim_.get());
  const uint32_t tag = prim_->WriteSyncPacket();
  ASSERT_TRUE(prim_->StartVideo(1, 5, 12));
  auto posts = kernel_.CallsTo(0x1b);
  ASSERT_EQ(posts.size(), 1u);
  OrvDmaPostRequest request;
  memcpy(&request, posts[0].record.data(), sizeof request);
  EXPECT_EQ(request.kind, kDmaPostVideo);
  EXPECT_EQ(request.start, prim_->head->BusOf(first));
  EXPECT_EQ(request.end, prim_->head->BusOf(prim_->cursor) | kBmMemPciLocked);
  EXPECT_EQ(request.video[0], 1u);
  EXPECT_EQ(request.video[1], 5u);
  EXPECT_EQ(request.video[2], 12u);
  std::vector<W> expected = kDrawingWrites;
  expected.insert(expected.end(), {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, tag | 1}});
  EXPECT_EQ(engine_->Writes(), expected);
  EXPECT_FALSE(prim_->IsSyncTagPending(tag));
}

TEST_F(PostedDmaTest, FailedPostIsReportedAndItsRangeIsPostedAgain) {
  MakePool(2, 4096);
  uint32_t* first = prim_->cursor;
  WriteDrawing(prim_.get());
  kernel_.SetAnswer(0x1b, -EIO);
  EXPECT_FALSE(prim_->Start());
  EXPECT_EQ(prim_->start, first) << "the start pointer stays before commands that never ran";
  kernel_.SetHandler(0x1b, nullptr);
  ASSERT_TRUE(prim_->Start());
  EXPECT_EQ(engine_->Writes(), kDrawingWrites);
}

TEST_F(PostedDmaTest, SwitchSendsTheCounterAndNeverReusesABusyBuffer) {
  MakePool(3, 4096);
  shared_->bufferReportWord = 0xABCD;
  shared_->bufferCounter = 0xFFFFFFFE;
  BmBuffer* a = prim_->head;
  BmBuffer* b = a->next;
  BmBuffer* c = b->next;

  uint32_t* switchAt = prim_->cursor;
  prim_->SwitchToNewBuffer();
  EXPECT_EQ(switchAt[0], kPacketProgress);
  EXPECT_EQ(switchAt[1], 0xFFFFFFFFu);
  EXPECT_EQ(switchAt[2], 0xABCDu);
  EXPECT_EQ(a->surface->block->dmaStamp, 0xFFFFFFFFu);
  EXPECT_EQ(prim_->head, b);
  EXPECT_EQ(shared_->completedBufferCounter, 0xFFFFFFFFu) << "the engine passed the stamp";
  EXPECT_EQ(engine_->Writes(), (std::vector<W>{{0x1094, 0xFFFFFFFF}, {0x1090, 0xABCD}}));

  prim_->SwitchToNewBuffer();  // counter wraps to 1, never 0
  EXPECT_EQ(shared_->bufferCounter, 1u);
  EXPECT_EQ(b->surface->block->dmaStamp, 1u);
  EXPECT_EQ(prim_->head, c);

  // The engine has not finished buffer a's successor stamp: pretend a is
  // still busy, so the search must skip it and take b.
  a->surface->block->dmaStamp = 5;
  shared_->bufferCounter = 5;
  shared_->completedBufferCounter = 4;
  b->surface->block->dmaStamp = 4;
  prim_->SwitchToNewBuffer();
  EXPECT_EQ(prim_->head, b) << "a busy buffer is never rewritten";
  EXPECT_EQ(prim_->cursor, b->Begin());
  EXPECT_EQ(b->state & kBmBufferCurrent, kBmBufferCurrent);
  EXPECT_EQ(c->state & kBmBufferStateBits, 0u);
}

// A request larger than a fresh buffer below its limit is refused before
// anything moves: no switch, no post, no write past a buffer.
TEST_F(PostedDmaTest, ReserveRefusesMoreThanAFreshBufferHoldsAndMovesNothing) {
  MakePool(2, 4096, 4096);
  const uint32_t fresh = 4096 / 4 - kBmMinReserve;
  WriteDrawing(prim_.get());
  ASSERT_TRUE(prim_->Start());
  ASSERT_EQ(engine_->Writes(), kDrawingWrites);
  engine_->ClearWrites();
  kernel_.ClearCalls();
  shared_->bufferReportWord = 0xABCD;
  BmBuffer* a = prim_->head;
  BmBuffer* b = a->next;
  uint32_t* const cursor = prim_->cursor;
  uint32_t* const start = prim_->start;
  uint32_t* const limit = prim_->limit;
  const uint32_t counter = shared_->bufferCounter;
  const uint32_t aState = a->state;
  const uint32_t bState = b->state;

  for (uint32_t words : {2000u, fresh + 1, 0xFFFFFFFFu}) {
    uint32_t* at = prim_->Reserve(words);
    // A caller writes the room it was given; it must have been given none.
    if (at != nullptr) {
      for (uint32_t i = 0; i < words && i < 2000; ++i) at[i] = 0x21212121;
    }
    EXPECT_TRUE(SlackIntact()) << words;
    ASSERT_EQ(at, nullptr) << words;
    EXPECT_EQ(prim_->head, a) << words;
    EXPECT_EQ(prim_->cursor, cursor) << words;
    EXPECT_EQ(prim_->start, start) << words;
    EXPECT_EQ(prim_->limit, limit) << words;
    EXPECT_EQ(a->state, aState) << words;
    EXPECT_EQ(b->state, bState) << words;
    EXPECT_EQ(shared_->bufferCounter, counter) << words;
    EXPECT_TRUE(kernel_.CallsTo(0x1b).empty()) << words;
    EXPECT_TRUE(engine_->Writes().empty()) << words;
  }

  // What a fresh buffer does hold still goes there, filling it to the limit.
  uint32_t* at = prim_->Reserve(fresh);
  ASSERT_EQ(at, b->Begin());
  EXPECT_EQ(prim_->head, b);
  EXPECT_EQ(prim_->cursor, prim_->limit);
  for (uint32_t i = 0; i < fresh; ++i) at[i] = 0x21212121;
  prim_->SwitchToNewBuffer();
  EXPECT_EQ(prim_->head, a);
  EXPECT_EQ(engine_->Writes(), (std::vector<W>{{0x1094, counter + 1}, {0x1090, 0xABCD},
                                               {0x1094, counter + 2}, {0x1090, 0xABCD}}));
  EXPECT_TRUE(engine_->DecodeErrors().empty());
  EXPECT_TRUE(SlackIntact());
}

// Every writer of the primary interface writes nothing when no buffer holds
// its packet: the sync packet, the 2D state restore and the debug marker.
TEST_F(PostedDmaTest, WritersWriteNothingWhenNoBufferHoldsTheirPacket) {
  MakePool(2, 4 * kBmMinReserve, 4096 - 4 * kBmMinReserve);  // nothing below the limit
  shared_->syncTagCounter = 0x40;
  shared_->completedTag = 0x40;
  kernel_.ClearCalls();
  BmBuffer* a = prim_->head;
  uint32_t* const cursor = prim_->cursor;

  EXPECT_EQ(prim_->WriteSyncPacket(), 0x40u) << "no new tag without its packet";
  EXPECT_EQ(shared_->syncTagCounter, 0x40u);

  SharedHwThread2d& state = shared_->thread2d;
  state.stateMask = 0x7FF;
  state.dirtyBits = 0xFFFFFFFF;
  state.fullRestore = 1;
  HwThread2d::SetupHardware(shared_, prim_.get());
  EXPECT_EQ(state.dirtyBits, 0xFFFFFFFFu) << "the groups stay dirty for the next call";
  EXPECT_EQ(state.fullRestore, 1);

  BmDbgOutDebug dbg(common_, 0);
  dbg.WriteDbgPacket(prim_.get(), 0, 5, nullptr, 0x77, 0);

  EXPECT_EQ(prim_->head, a);
  EXPECT_EQ(prim_->cursor, cursor);
  EXPECT_EQ(shared_->bufferCounter, 0u);
  EXPECT_TRUE(SlackIntact());
  ASSERT_TRUE(prim_->Start());
  EXPECT_TRUE(kernel_.CallsTo(0x1b).empty());
  EXPECT_TRUE(engine_->Writes().empty());
}

// Mode 0 on a board driven only on a later unit: the kernel module's node
// sits in that unit's request slot alone, the memory manager places the
// command buffers in the simulated board's local memory, and registers are
// reached through /dev/mem, so the engine's status reads are its own.
class KernelBoardPdev : public testing::TestWithParam<uint32_t>, protected KernelBoard {
 protected:
  void SetUp() override { SetUpBoard(); }
  void TearDown() override { TearDownBoard(); }
};

TEST_P(KernelBoardPdev, HeadOfALaterUnitPostsItsRangesAndReachesItsSyncTag) {
  Head& head = Construct(GetParam());
  ASSERT_EQ(head.ok, 1);
  const CommonData* common = head.pdev->common;
  ASSERT_EQ(IocRequestGet(common->requestSlots, 0), nullptr);
  BmPrimInt* prim = head.pdev->primInt;
  ASSERT_NE(prim, nullptr);
  SharedLockedData_t* shared = head.pdev->sharedLocked;
  ASSERT_EQ(shared->dmaMode, kDmaModePost);
  ASSERT_EQ(prim->head->memoryType, kBmMemLocal) << "a buffer the engine fetches";
  engine_->ClearWrites();
  kernel_.ClearCalls();

  shared->last1300Value = kLastRegNone;  // the short sync form
  ASSERT_TRUE(BmAcquireCommandLock(shared, kCmdLockOwnerXDriver));
  uint32_t* first = prim->cursor;
  WriteDrawing(prim);
  const uint32_t tag = prim->WriteSyncPacket();
  ASSERT_TRUE(prim->Start()) << "the post reached no device";
  BmReleaseCommandLock(shared, kCmdLockOwnerXDriver);

  auto posts = kernel_.CallsTo(0x1b);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].answer, 0);
  OrvDmaPostRequest request;
  memcpy(&request, posts[0].record.data(), sizeof request);
  EXPECT_EQ(request.kind, kDmaPostPrimary);
  EXPECT_EQ(request.start, prim->head->BusOf(first));
  EXPECT_EQ(request.end, prim->head->BusOf(prim->cursor) | kBmMemLocal);
  std::vector<W> expected = kDrawingWrites;
  expected.insert(expected.end(), {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, tag | 1}});
  EXPECT_EQ(engine_->Writes(), expected);
  EXPECT_TRUE(engine_->DecodeErrors().empty());
  EXPECT_EQ(shared->completedTag, tag | 1);
  EXPECT_EQ(shared->pendingSubmissions, 0);
  EXPECT_FALSE(prim->IsSyncTagPending(tag));
  ASSERT_TRUE(prim->WaitForSyncTag(tag));
}

INSTANTIATE_TEST_SUITE_P(Units, KernelBoardPdev, testing::Values(1u, 2u, 3u),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                           return "Unit" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace coretest
