// The kernel's DMA streams on the simulated engine: reset, the kick with its
// padding, buffer switches behind progress fences (with an engine that
// lags), execute packets, client posts with the engine-mode
// re-initialisation, and the busy lock against the interrupt path on a
// second thread.
#include <string.h>

#include <algorithm>
#include <string>
#include <thread>

#include "core/chip_ids.h"
#include "kernel/tests/stream_fixture.h"

namespace {

using ktest::StartedBoard;
using Kind = orvsim::DmaEngine::TraceKind;

constexpr uint32_t kFill = 0x21212121;
constexpr uint32_t kTagGroup = 0x212121AF;  // one write of the tag register

std::vector<uint32_t> Words(const uint32_t* at, size_t n) { return std::vector<uint32_t>(at, at + n); }

class Streams : public StartedBoard {
 protected:
  // A block of local memory the file asked for (request 24, the X driver's
  // local command kind): its device address, holding the words.
  uint32_t LocalRange(const std::vector<uint32_t>& words, kglue::File* owner) {
    const uint32_t at = static_cast<uint32_t>(LocalCommandBlock(owner, 1).handle);
    memcpy(board.LocalMemory() + at, words.data(), 4 * words.size());
    return at;
  }
  int PostAs(kglue::File* f, const OrvDmaPostRequest& record) {
    OrvDmaPostRequest copy = record;
    return glue.Ioctl(f, ORV_IOCTL_POST_DMA, reinterpret_cast<unsigned long>(&copy));
  }
};

TEST_F(Streams, ResetPointsTheEngineAtTheWritePositionAndTheBlocksOwnAddress) {
  BmPrimInt* stream = Primary();
  // The enable's initial engine state went out first: the last end written
  // lies behind it.
  EXPECT_EQ(stream->head->busType, 3u);  // page-locked memory
  EXPECT_EQ(board.Peek(0x400, 4), BlockBus());
  EXPECT_EQ(SharedLocked()->lastDmaEnd, stream->head->BusOf(stream->cursor) | 3);
  // Words user space can write are not where the addresses come from.
  SharedLocked()->blockPhysAddr = 0xDEAD0000;
  SharedLocked()->bufferReportWord = 0xBAD0;
  uint32_t* at = stream->Reserve(6);
  for (int i = 0; i < 6; ++i) at[i] = kFill;
  ASSERT_TRUE(stream->Reset());
  EXPECT_EQ(board.Peek(0x404, 4), stream->head->BusOf(at + 6));
  EXPECT_EQ(board.Peek(0x400, 4), BlockBus());
  EXPECT_EQ(SharedLocked()->directWriteCount, 0u);
}

struct GranuleCase {
  const char* name;
  uint32_t bmFlags;
  uint32_t granule;
};

void PrintTo(const GranuleCase& c, std::ostream* out) { *out << c.name; }

class Granule : public StartedBoard, public ::testing::WithParamInterface<GranuleCase> {
 protected:
  Granule() : StartedBoard(orvsim::BoardConfig(), ktest::TestBoardOptions(GetParam().bmFlags)) {}
};

TEST_P(Granule, TheKickPadsToTheGranuleAndWritesTheEndAddress) {
  BmPrimInt* stream = Primary();
  ASSERT_EQ(stream->granule, GetParam().granule);
  const uint32_t* begin = stream->cursor;
  const uint32_t startBus = stream->EndAddressOf(begin);
  uint32_t* at = stream->Reserve(3);
  at[0] = kTagGroup;
  at[1] = 0x40;
  at[2] = kFill;
  board.SetLogging(false, true);
  ASSERT_TRUE(stream->Start());
  const uint32_t g = GetParam().granule;
  EXPECT_EQ(stream->cursor - begin, static_cast<long>(g));
  for (uint32_t i = 3; i < g; ++i) EXPECT_EQ(begin[i], kFill) << i;
  EXPECT_EQ(SharedLocked()->lastDmaEnd, startBus + 4 * g);
  EXPECT_EQ(LastWrite(0x408), startBus + 4 * g);
  EXPECT_EQ(dma.ReachedTag(), 0x40u);
}

INSTANTIATE_TEST_SUITE_P(BusFlags, Granule,
                         ::testing::Values(GranuleCase{"eight", ktest::kTestBmFlags, 8},
                                           GranuleCase{"sixteen", ktest::kTestBmFlags | 0x4000, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Streams, AFullBufferEndsWithTheSwitchPacketAndTheCounterSkipsZero) {
  BmPrimInt* stream = Primary();
  BmBuffer* first = stream->head;
  BmBuffer* second = first->next;
  SharedLocked()->bufferCounter = 0xFFFFFFFF;
  SharedLocked()->bufferReportWord = 0xBAD0;  // not trusted: the kernel knows the address
  const uint32_t* at = stream->cursor;
  stream->SwitchToNewBuffer();
  EXPECT_EQ(Words(at, 4), (std::vector<uint32_t>{0x21272425, 1, BlockBus() + 32,
                                                 static_cast<uint32_t>(second->busAddress) | 3}));
  EXPECT_EQ(stream->head, second);
  EXPECT_EQ(first->fence, 1u);
  EXPECT_EQ(SharedLocked()->bufferCounter, 1u);
  EXPECT_EQ(SharedLocked()->completedBufferCounter, 1u);  // the engine wrote it
  EXPECT_EQ(dma.Trace().back(), (orvsim::DmaEngine::TraceEntry{Kind::kJump, static_cast<uint32_t>(second->busAddress), 0, 3}));
  EXPECT_FALSE(first->IsBusyDMA());
}

TEST_F(Streams, WithALaggingEngineNoBufferIsWrittenAgainBeforeItsFencePassed) {
  dma.SetLatencyReads(200);
  BmPrimInt* stream = Primary();
  const uint32_t buffers = stream->bufferCount;
  ASSERT_EQ(buffers, 4u);
  // Numbered tag writes round the ring and into its first two buffers again.
  const uint32_t perGroup = 1024;
  uint32_t n = 0;
  uint32_t switches = 0;
  BmBuffer* current = stream->head;
  while (switches < buffers + 2) {
    uint32_t* at = stream->Reserve(perGroup);
    ASSERT_NE(at, nullptr);
    for (uint32_t i = 0; i < perGroup - 2; ++i) at[i] = kFill;
    at[perGroup - 2] = kTagGroup;
    at[perGroup - 1] = ++n * 8;
    if (stream->head != current) {
      current = stream->head;
      ++switches;
    }
  }
  stream->Kick();
  dma.RunPending();
  const std::vector<uint32_t> reached = ReachedTags();
  ASSERT_EQ(reached.size(), n);
  for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(reached[i], 8 * (i + 1)) << i;
  EXPECT_TRUE(dma.DecodeErrors().empty());
  EXPECT_EQ(TraceCount(Kind::kJump), switches);
  EXPECT_EQ(SharedLocked()->completedBufferCounter, SharedLocked()->bufferCounter);
}

TEST_F(Streams, AnEmptyRangeIsNotExecutedButAClientPostAlwaysAppendsItsPacket) {
  const uint32_t x = XRange({kTagGroup, 0x48});
  SharedLocked()->primaryEngineMode = 1;  // no re-initialisation in between
  const uint32_t* before = Primary()->cursor;
  EXPECT_FALSE(Secondary()->ExecuteBuffer(x + 8, x + 8, 2, 3));
  EXPECT_FALSE(Secondary()->ExecuteBuffer(x + 8, x, 2, 3));
  EXPECT_EQ(Primary()->cursor, before);

  ASSERT_EQ(Post({0, x, x | 3, {}}), 0);
  EXPECT_EQ(Words(before, 5), (std::vector<uint32_t>{0x20292820, 0, x, x | 3, 0}));
  ASSERT_EQ(Post({0, x, (x + 8) | 3, {}}), 0);
  EXPECT_EQ(dma.ReachedTag(), 0x48u);
  std::vector<orvsim::DmaEngine::TraceEntry> nested;
  for (const auto& e : dma.Trace())
    if (e.kind == Kind::kNested) nested.push_back(e);
  EXPECT_EQ(nested, (std::vector<orvsim::DmaEngine::TraceEntry>{{Kind::kNested, x, x, 3},
                                                                 {Kind::kNested, x, x + 8, 3}}));
  // The secondary stream's executed range carries its start flags: the
  // engine reads it as count-prefixed packets.
  uint32_t* s = Secondary()->Reserve(3);
  s[0] = 1;
  s[1] = kTagGroup;
  s[2] = 0x50;
  ASSERT_TRUE(Secondary()->ExecutePending());
  EXPECT_EQ(dma.ReachedTag(), 0x50u);
}

TEST_F(Streams, APostWhoseStartLiesAboveItsEndIsRefusedWithoutAWord) {
  const uint32_t x = XRange({kTagGroup, 0x48});
  SharedLocked()->primaryEngineMode = 1;
  const uint32_t* before = Primary()->cursor;
  ASSERT_EQ(Post({0, x + 8, x | 3, {}}), -22);
  EXPECT_EQ(Primary()->cursor, before);
  // Flag bits do not count: start x | 3 against end x | 2 is the empty range.
  ASSERT_EQ(Post({0, x | 3, x | 2, {}}), 0);
  EXPECT_EQ(Words(before, 5), (std::vector<uint32_t>{0x20292820, 0, x | 3, x | 2, 0}));
}

struct ModeCase {
  uint32_t current;
  uint32_t type;
  bool reinit;
  uint32_t after;
};

TEST_F(Streams, TheEngineStateIsReinitialisedOnAChangeTo2dOrFromNoModeTo3d) {
  const ModeCase cases[] = {
      {0, 0, true, 1}, {0, 3, true, 3}, {1, 0, false, 1}, {1, 3, false, 3},
      {3, 0, true, 1}, {3, 3, false, 3}, {3, 2, true, 1},
  };
  const uint32_t x = XRange({kFill});
  for (const ModeCase& c : cases) {
    SharedLocked()->primaryEngineMode = c.current;
    // The re-initialisation first writes the whole 3D engine state into
    // the secondary stream.
    const uint32_t* secondary = Secondary()->cursor;
    ASSERT_EQ(Post({c.type, x, (x + 4) | 3, {0, 0, 1}}), 0);
    EXPECT_EQ(Secondary()->cursor != secondary, c.reinit) << c.current << " " << c.type;
    EXPECT_EQ(SharedLocked()->primaryEngineMode, c.after);
  }
}

// A stream started in the sync-prologue mode writes the 2D control word
// three times (0x307, 4, the idle word), 0 into the sync-zero register,
// two fresh tags with the progress bit and, while one is saved, the saved
// control word; with none saved 0x1300 takes nothing more.
TEST_F(Streams, ASyncPrologueStartWritesTheControlWordsTwoTagsAndTheSavedControl) {
  struct Case {
    uint32_t saved;
    std::vector<uint32_t> control;
  };
  const Case cases[] = {
      {0x00012345, {0x307, 4, 0x707, 0x00012345}},
      {kLastRegNone, {0x307, 4, 0x707}},
  };
  BmPrimInt* stream = Primary();
  stream->modeFlags |= kStreamSyncPrologue;
  for (const Case& c : cases) {
    SharedLocked()->last1300Value = c.saved;
    dma.ClearWrites();
    ASSERT_TRUE(stream->Start());
    dma.RunPending();
    EXPECT_EQ(PacketWrites(0x1300), c.control) << std::hex << c.saved;
    EXPECT_EQ(PacketWrites(0x1374), std::vector<uint32_t>{0});
    const std::vector<uint32_t> tags = PacketWrites(0x12BC);
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0] & 1, 1u);
    EXPECT_EQ(tags[1], SharedLocked()->syncTagCounter | 1);
    EXPECT_NE(tags[0], tags[1]);
  }
}

TEST_F(Streams, AnEndWithoutFlagsWaitsForTheEngineFirst) {
  dma.SetLatencyReads(1000);
  const uint32_t x = XRange({kFill});
  // A range in local memory: bus type 0, the end without flags.
  const uint32_t kLocal = LocalRange({kFill}, file);
  SharedLocked()->primaryEngineMode = 1;
  const uint64_t ran = dma.RangesRun();
  ASSERT_EQ(Post({0, x, (x + 4) | 3, {}}), 0);
  ASSERT_EQ(Post({0, x, (x + 4) | 3, {}}), 0);
  EXPECT_EQ(dma.RangesRun(), ran);  // both still pending
  ASSERT_EQ(Post({0, kLocal, kLocal + 4, {}}), 0);
  EXPECT_EQ(dma.RangesRun(), ran + 2);  // the engine finished them before the third was written
  dma.RunPending();
  EXPECT_EQ(TraceCount(Kind::kNested), 3u);
}

TEST_F(Streams, ATypeTwoPostCarriesItsDisplayEvent) {
  const uint32_t x = XRange({kFill});
  // Buffer slot 2 on display 1 at once, without waiting for vertical sync.
  ASSERT_EQ(Post({2, x, (x + 4) | 3, {2, 0x3, 1}}), 0);
  EXPECT_EQ(TraceCount(Kind::kEvent), 1u);
  EXPECT_EQ(TraceCount(Kind::kResume), 1u);  // served as the request returned
  const uint32_t control = board.Peek(0x1800, 4);
  EXPECT_EQ(control >> 7 & 3, 2u);
  EXPECT_EQ(control & 0x40, 0u);
  EXPECT_EQ(flips.Current(0), 2u);
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 0);
}

// Any process may open the node: a post runs only ranges the kernel handed
// to the posting client. A second client's posts of the first client's
// buffers, of the kernel's own memory and of arbitrary addresses are
// refused, and nothing of them reaches the engine.
TEST_F(Streams, AClientPostsOnlyRangesOfMemoryTheKernelHandedToIt) {
  SharedLocked()->primaryEngineMode = 1;
  const uint32_t mine = XRange({kTagGroup, 0x48, kFill, kFill}, file);
  const uint32_t myLocal = LocalRange({kTagGroup, 0x50}, file);
  const uint32_t theirs = XRange({kTagGroup, 0x58}, other());
  const uint32_t theirLocal = LocalRange({kTagGroup, 0x60}, other());
  const uint32_t kernelBuffer = static_cast<uint32_t>(Primary()->head->busAddress);
  struct Case {
    const char* name;
    uint32_t start, end;
  };
  const Case refused[] = {
      {"the first client's pages", mine, (mine + 8) | 3},
      {"the first client's local block", myLocal, myLocal + 8},
      {"the shared locked block", BlockBus(), (BlockBus() + 8) | 3},
      {"the kernel's own command buffer", kernelBuffer, (kernelBuffer + 8) | 3},
      {"an arbitrary system address", 0x12345000, 0x12345010 | 3},
      {"an arbitrary local address", 0x200000, 0x200010},
      {"its own pages, named as local memory", theirs, theirs + 8},
      {"its own local block, named as system memory", theirLocal, (theirLocal + 8) | 3},
      {"its own pages, bus type 1", theirs, (theirs + 8) | 1},
      {"its own pages and the page after", theirs, (theirs + 4096 + 8) | 3},
      {"its own pages, start above the end", theirs + 8, theirs | 3},
      {"wrapping round the address space", 0xFFFFFFF0, 0x10 | 3},
  };
  const size_t trace = dma.Trace().size();
  for (const Case& c : refused) {
    const uint32_t* before = Primary()->cursor;
    EXPECT_EQ(PostAs(other(), {0, c.start, c.end, {}}), -22) << c.name;
    EXPECT_EQ(PostAs(other(), {2, c.start, c.end, {1, 0, 1}}), -22) << c.name;
    EXPECT_EQ(Primary()->cursor, before) << c.name;
  }
  dma.RunPending();
  EXPECT_EQ(dma.Trace().size(), trace);

  // Each client's own ranges run.
  EXPECT_EQ(PostAs(other(), {0, theirs, (theirs + 8) | 3, {}}), 0);
  EXPECT_EQ(PostAs(other(), {0, theirLocal, theirLocal + 8, {}}), 0);
  EXPECT_EQ(PostAs(file, {0, mine, (mine + 16) | 3, {}}), 0);
  EXPECT_EQ(PostAs(file, {0, myLocal, myLocal + 8, {}}), 0);
  dma.RunPending();
  std::vector<uint32_t> nested;
  for (const auto& e : dma.Trace())
    if (e.kind == Kind::kNested) nested.push_back(e.a);
  EXPECT_EQ(nested, (std::vector<uint32_t>{theirs, theirLocal, mine, myLocal}));
  EXPECT_EQ(dma.ReachedTag(), 0x50u);
  EXPECT_TRUE(dma.Faults().empty());
}

// ---- The re-initialisation programme, chip by chip ------------------------------------

struct ChipCase {
  const char* name;
  uint16_t device;
  uint8_t revision;
  bool pipeExtra;
  uint32_t busInterface;
  uint32_t word12b0;
};

void PrintTo(const ChipCase& c, std::ostream* out) { *out << c.name; }

orvsim::BoardConfig ChipConfig(const ChipCase& c) {
  orvsim::BoardConfig config;
  config.device_id = c.device;
  config.revision = c.revision;
  return config;
}

class Programme : public StartedBoard, public ::testing::WithParamInterface<ChipCase> {
 protected:
  Programme() : StartedBoard(ChipConfig(GetParam())) {}
};

TEST_P(Programme, DecodesGroupByGroupWithTheChipsVariants) {
  const ChipCase& c = GetParam();
  const uint32_t x = XRange({kFill});
  SharedLocked()->last1300Value = 0x1234;
  dma.ClearTrace();
  dma.ClearWrites();
  ASSERT_EQ(Post({0, x, (x + 4) | 3, {}}), 0);
  EXPECT_EQ(SharedLocked()->last1300Value, 0x1234u);

  std::vector<uint32_t> headers;
  for (const auto& e : dma.Trace())
    if (e.kind == Kind::kGroup && e.a != kFill) headers.push_back(e.a);
  std::vector<uint32_t> expected;
  for (uint32_t pipe = 0; pipe < 4; ++pipe) {
    expected.push_back(0x72717080 + pipe);
    expected.push_back(0x76757473);
    if (c.pipeExtra) expected.push_back(0x2121217A);
  }
  for (uint32_t h : {0x212121DDu, 0x83828180u, 0x212121C0u, 0x9A989B99u, 0x9A989B99u, 0x9A989B99u,
                     0x9A989B99u, 0x9A989B99u, 0xBAB1B0B9u, 0xB4B3B2B5u, 0xBFC5C6C9u, 0xC2C1CBCAu,
                     0x212121BDu, 0xAFAFDDC0u, 0x212121AEu, 0xAFAFDDC0u, 0x212121ACu, 0x20292820u})
    expected.push_back(h);
  // The board's 3D engine state goes out first (through the secondary
  // stream); the programme follows it.
  const auto first = std::find(headers.begin(), headers.end(), expected[0]);
  ASSERT_NE(first, headers.end());
  headers.erase(headers.begin(), first);
  ASSERT_GE(headers.size(), expected.size());
  headers.resize(expected.size());
  EXPECT_EQ(headers, expected);
  EXPECT_TRUE(dma.DecodeErrors().empty());
  size_t from = 0;
  const auto& writes = dma.Writes();
  while (from < writes.size() && !(writes[from].reg == 0x1000 + 4 * 0x80 && writes[from].value == 0x40101)) ++from;
  ASSERT_LT(from, writes.size());
  auto PacketWrites = [&](uint32_t reg) {
    std::vector<uint32_t> out;
    for (size_t i = from; i < writes.size(); ++i)
      if (writes[i].reg == reg) out.push_back(writes[i].value);
    return out;
  };

  // Pipe i's first word selects it (its index is written again by the
  // group after them); the reserved word of step 3 is 0; the float 31.0;
  // the bus-interface word and the last word per chip.
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0x80), (std::vector<uint32_t>{0x40101, 0x1000F}));
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0x83), (std::vector<uint32_t>{0x40108, 0}));
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xDD).front(), 0u);
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xBD), (std::vector<uint32_t>{0x41F80000}));
  EXPECT_EQ(PacketWrites(0x12B8), (std::vector<uint32_t>{c.busInterface}));
  EXPECT_EQ(PacketWrites(0x12B0), (std::vector<uint32_t>{c.word12b0}));
  const std::vector<uint32_t> n = PacketWrites(0x1000 + 4 * 0x99);
  EXPECT_EQ(n, (std::vector<uint32_t>{0x80, 0x82, 0x84, 0x88, 0x8A}));
  // Two progress tags, each a new tag: T | 1 then T.
  std::vector<uint32_t> tags = ReachedTags();
  ASSERT_GE(tags.size(), 4u);
  tags.erase(tags.begin(), tags.end() - 4);
  EXPECT_EQ(tags[0], tags[1] | 1);
  EXPECT_EQ(tags[2], tags[3] | 1);
  EXPECT_EQ(tags[3], tags[1] + 8);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, Programme,
    ::testing::Values(ChipCase{"first_chip", kDeviceKestrion1, 0, false, 1, 0x3FFF8000},
                      ChipCase{"first_chip_revision_1", kDeviceKestrion1, 1, false, 1, 0x3FFF8000},
                      ChipCase{"first_chip_revision_2", kDeviceKestrion1, 2, false, 0x00070601,
                               0x3FFF8000},
                      ChipCase{"first_chip_revision_3", kDeviceKestrion1, 3, false, 0x00070601,
                               0x3FF00000},
                      ChipCase{"second_chip", kDeviceKestrion2, 0, false, 0x00070601, 0x3FFF8000},
                      ChipCase{"later_generation", kDeviceKestrionNext1, 1, true, 0x00070601,
                               0x3FFF8000},
                      ChipCase{"older_chip", kDeviceOlder6A25, 0, false, 1, 0x3FFF8000}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The busy lock against the interrupt path ----------------------------------------------

class BusyLock : public StartedBoard {
 protected:
  void SetUp() override {
    glue.SetCpuCount(2);
    StartedBoard::SetUp();
  }
};

TEST_F(BusyLock, AnInterruptKickWhileTheLockIsHeldIsDoneOnceAtRelease) {
  BmPrimInt* stream = Primary();
  ASSERT_NE(stream->modeFlags & kStreamMultiCpu, 0u);
  ASSERT_TRUE(Tags()->PostEvent(stream, SyncTagEvent{1, 0, 0x3, 0, 1}));
  ASSERT_TRUE(dma.Paused());
  ASSERT_EQ(SharedLocked()->pendingSubmissions, 1);

  ASSERT_TRUE(stream->AcquireBusyLock());
  glue.StartInterruptThread();
  // The thread serves the engine's interrupt; the kick is left to the holder.
  while (__atomic_load_n(&SharedLocked()->dmaBusyLock, __ATOMIC_SEQ_CST) != 2) std::this_thread::yield();
  glue.StopInterruptThread();
  EXPECT_TRUE(dma.Paused());
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 1);
  const size_t resumes = TraceCount(Kind::kResume);
  stream->ReleaseBusyLock();
  EXPECT_EQ(TraceCount(Kind::kResume), resumes + 1);
  EXPECT_FALSE(dma.Paused());
  EXPECT_EQ(SharedLocked()->dmaBusyLock, 0);
  EXPECT_EQ(SharedLocked()->pendingSubmissions, 0);
  stream->ReleaseBusyLock();  // nothing asked for: nothing more
  EXPECT_EQ(TraceCount(Kind::kResume), resumes + 1);
}

TEST_F(BusyLock, EventsKickedWhileTheThreadServesEndAsWithoutTheRace) {
  BmPrimInt* stream = Primary();
  glue.StartInterruptThread();
  // Each display event pauses the engine until the thread serves it.
  for (uint32_t i = 0; i < 200; ++i) {
    while (Tags()->FindFreeEventSlot() == kNoEventSlot) std::this_thread::yield();
    ASSERT_TRUE(Tags()->PostEvent(stream, SyncTagEvent{i & 3, 0, 0x3, 0, 1}));
  }
  while (__atomic_load_n(&SharedLocked()->pendingSubmissions, __ATOMIC_SEQ_CST) != 0 || dma.Paused())
    std::this_thread::yield();
  glue.StopInterruptThread();
  EXPECT_EQ(SharedLocked()->dmaBusyLock, 0);
  EXPECT_EQ(TraceCount(Kind::kEvent), 200u);
  EXPECT_EQ(TraceCount(Kind::kResume), 200u);
  EXPECT_EQ(Tags()->EngineTag(), SharedLocked()->syncTagCounter);
  EXPECT_EQ(flips.Current(0), 199u & 3);
}

}  // namespace

// ---- Command buffers in local memory -------------------------------------------------------------

// Bus-master flags without system memory: both streams take their buffers
// from the local heaps, in partition 0 (each through a window of its own) and
// in partition 1 (through the frame-buffer window).
class LocalStreams : public StartedBoard {
 protected:
  LocalStreams() : StartedBoard(orvsim::BoardConfig(), ktest::TestBoardOptions(0)) {}
};

TEST_F(LocalStreams, BuffersComeFromTheHeapsTheProcessorWritesThemAndTheEngineRunsThem) {
  int ownWindows = 0;
  int partition1 = 0;
  for (BmBufferPool* pool : {static_cast<BmBufferPool*>(Primary()), static_cast<BmBufferPool*>(Secondary())}) {
    ASSERT_NE(pool->head, nullptr);
    const BmBuffer* b = pool->head;
    do {
      EXPECT_EQ(b->memoryType, kBmMemLocal);
      EXPECT_EQ(b->busType, kBmMemLocal);
      ASSERT_NE(b->surface, nullptr);
      ASSERT_LE(b->busAddress + b->size, board.LocalMemorySize());
      // What the processor writes at either end lands at the device address.
      auto* words = static_cast<uint32_t*>(b->cpuAddress);
      const size_t last = b->size / 4 - 1;
      words[0] = 0xA5A50000u | static_cast<uint32_t>(b->busAddress >> 16);
      words[last] = ~words[0];
      uint32_t local[2];
      memcpy(&local[0], board.LocalMemory() + b->busAddress, 4);
      memcpy(&local[1], board.LocalMemory() + b->busAddress + 4 * last, 4);
      EXPECT_EQ(local[0], words[0]) << std::hex << b->busAddress;
      EXPECT_EQ(local[1], words[last]) << std::hex << b->busAddress;
      ownWindows += b->surface->aperture != nullptr ? 1 : 0;
      partition1 += b->busAddress >= 0x8000000 ? 1 : 0;
      b = b->next;
    } while (b != pool->head);
  }
  EXPECT_GT(ownWindows, 0);
  EXPECT_GT(partition1, 0);

  BmPrimInt* stream = Primary();
  SharedLocked()->primaryEngineMode = 1;
  uint32_t* at = stream->Reserve(2);
  ASSERT_NE(at, nullptr);
  at[0] = kTagGroup;
  at[1] = 0x40;
  ASSERT_TRUE(stream->Start());
  EXPECT_EQ(dma.ReachedTag(), 0x40u);
  EXPECT_TRUE(dma.DecodeErrors().empty());
}
