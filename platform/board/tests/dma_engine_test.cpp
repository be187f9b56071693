// The DMA engine: fetching from local and system memory, decoding packets
// from the format, starting on 0x404/0x408, the reached tag and the status
// registers, and the latency that lets a test catch an early rewrite.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

using W = DmaEngine::RegWrite;

class DmaEngineTest : public ::testing::Test {
 protected:
  void Put(uint32_t offset, const std::vector<uint32_t>& words) {
    std::memcpy(board.Memory() + offset, words.data(), words.size() * 4);
  }

  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  DmaEngine engine{board};
};

TEST_F(DmaEngineTest, DecodesHeadersPaddingAndSkippedIndexes) {
  struct Case {
    const char* name;
    std::vector<uint32_t> words;
    std::vector<W> writes;
  };
  const Case cases[] = {
      {"four indexes", {0x03020100, 1, 2, 3, 4},
       {{0x1000, 1}, {0x1004, 2}, {0x1008, 3}, {0x100C, 4}}},
      {"buffer switch", {0x21212425, 7, 9}, {{0x1094, 7}, {0x1090, 9}}},
      {"short sync", {0x21AFDDC0, 0x707, 0, 0x40}, {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, 0x40}}},
      {"long sync", {0xC0AFDDC0, 0x707, 0, 0x48, 0x123},
       {{0x1300, 0x707}, {0x1374, 0}, {0x12BC, 0x48}, {0x1300, 0x123}}},
      {"all padding then a header", {0x21212121, 0x212121C6, 5}, {{0x1318, 5}}},
      {"index 0x20 consumes silently", {0x20202020, 1, 2, 3, 4, 0x212121C0, 6}, {{0x1300, 6}}},
      {"a repeated header takes the next data words",
       {0x21212322, 0x2121E3C2, 2, 0x10, 0x20, 0x11, 0x21, 0x212121C5, 7},
       {{0x1088, 0x2121E3C2}, {0x1308, 0x10}, {0x138C, 0x20}, {0x1308, 0x11}, {0x138C, 0x21},
        {0x1314, 7}}},
  };
  for (const Case& c : cases) {
    engine.ClearWrites();
    Put(0x1000, c.words);
    board.RegWrite(kDmaRegStart, 4, 0x1000);
    board.RegWrite(kDmaRegEnd, 4, 0x1000 + 4 * static_cast<uint32_t>(c.words.size()));
    EXPECT_EQ(engine.Writes(), c.writes) << c.name;
    EXPECT_TRUE(engine.DecodeErrors().empty()) << c.name;
  }
  EXPECT_EQ(engine.ReachedTag(), 0x48u);
  EXPECT_EQ(board.Peek(0x1300, 4), 6u) << "registers hold what the packets wrote";
}

TEST_F(DmaEngineTest, PacketsSpanStartsAndTheEngineContinuesFromTheLastEnd) {
  Put(0, {0x21212100 | 0xC6, 0xAA, 0x212121C5, 0xBB});
  board.RegWrite(kDmaRegStart, 4, 0);
  board.RegWrite(kDmaRegEnd, 4, 4);  // only the header
  EXPECT_TRUE(engine.Writes().empty());
  board.RegWrite(kDmaRegEnd, 4, 16);  // goes on from 4 without a new start address
  EXPECT_EQ(engine.Writes(), (std::vector<W>{{0x1318, 0xAA}, {0x1314, 0xBB}}));
  EXPECT_EQ(engine.WordsFetched(), 4u);
}

// The trace and the write list keep the newest entries within their bound,
// and nothing while recording is off; the packets reach the registers
// either way.
TEST_F(DmaEngineTest, RecordsStayWithinTheirBoundAndStopWhileRecordingIsOff) {
  engine.SetRecordBound(8);
  std::vector<uint32_t> words;
  for (uint32_t i = 0; i < 20; ++i) words.insert(words.end(), {0x212121C6, i});
  Put(0, words);
  board.RegWrite(kDmaRegStart, 4, 0);
  board.RegWrite(kDmaRegEnd, 4, 4 * static_cast<uint32_t>(words.size()));
  ASSERT_LE(engine.Writes().size(), 8u);
  ASSERT_GE(engine.Writes().size(), 4u);
  EXPECT_EQ(engine.Writes().back(), (W{0x1318, 19})) << "the newest write is kept";
  EXPECT_EQ(engine.RecordsDropped() + engine.Writes().size() + engine.Trace().size(), 20u + 20u + 1u)
      << "20 writes, 20 groups and the range: each kept or counted";
  EXPECT_LE(engine.Trace().size(), 8u);

  engine.ClearWrites();
  engine.ClearTrace();
  engine.SetRecording(false);
  Put(0x1000, {0x212121C5, 0x77});
  board.RegWrite(kDmaRegStart, 4, 0x1000);
  board.RegWrite(kDmaRegEnd, 4, 0x1008);
  EXPECT_TRUE(engine.Writes().empty());
  EXPECT_TRUE(engine.Trace().empty());
  EXPECT_EQ(board.Peek(0x1314, 4), 0x77u) << "the packet still reached its register";
  engine.SetRecording(true);
  board.RegWrite(kDmaRegEnd, 4, 0x1008);
  Put(0x1008, {0x212121C5, 0x78});
  board.RegWrite(kDmaRegEnd, 4, 0x1010);
  EXPECT_EQ(engine.Writes(), (std::vector<W>{{0x1314, 0x78}}));
}

TEST_F(DmaEngineTest, RegisterIndexAfterPaddingIsADecodeError) {
  Put(0, {0x24212125, 1, 2});
  board.RegWrite(kDmaRegStart, 4, 0);
  board.RegWrite(kDmaRegEnd, 4, 12);
  ASSERT_EQ(engine.DecodeErrors().size(), 1u);
  EXPECT_NE(engine.DecodeErrors()[0].find("0x24"), std::string::npos);
}

TEST_F(DmaEngineTest, SystemMemoryIsReachedThroughTheResolverByBusType) {
  std::vector<uint32_t> agp = {0x212121C6, 0x55};
  engine.SetSystemMemory([&](uint32_t bus, uint32_t length) -> uint8_t* {
    if (bus >= 0x200000 && bus + length <= 0x200000 + agp.size() * 4)
      return reinterpret_cast<uint8_t*>(agp.data()) + (bus - 0x200000);
    return nullptr;
  });
  board.RegWrite(kDmaRegStart, 4, 0x200000);
  board.RegWrite(kDmaRegEnd, 4, 0x200008 | kBusAgp);
  EXPECT_EQ(engine.Writes(), (std::vector<W>{{0x1318, 0x55}}));
}

TEST_F(DmaEngineTest, FetchOutsideMemoryEndsTheTest) {
  EXPECT_DEATH(
      {
        board.RegWrite(kDmaRegStart, 4, 0x300000);
        board.RegWrite(kDmaRegEnd, 4, 0x300010 | kBusPciLocked);
      },
      "orvsim: DMA engine: .*reaches no memory");
  EXPECT_DEATH(engine.Execute(0x10, 0x8, kBusLocal), "lies below its start");
}

TEST_F(DmaEngineTest, LatencyKeepsStatusBusyUntilEnoughStatusReads) {
  engine.SetLatencyReads(3);
  Put(0, {0x212121AF, 0x80});
  board.RegWrite(kDmaRegStart, 4, 0);
  board.RegWrite(kDmaRegEnd, 4, 8);
  EXPECT_EQ(board.RegRead(kDmaRegEngineStatus, 4), 0u);
  EXPECT_EQ(board.RegRead(kDmaRegStatus, 4), kDmaStatusFifoRoom | kDmaStatusActive);
  EXPECT_EQ(board.RegRead(kDmaRegTagReached, 4), 0x80u) << "third status read runs the range";
  EXPECT_EQ(board.RegRead(kDmaRegEngineStatus, 4), kEngineStatusIdle);
  EXPECT_EQ(board.RegRead(kDmaRegStatus, 4), kDmaStatusFifoRoom);

  // A direct tag write waits behind a pending range.
  Put(8, {0x212121AF, 0x90});
  board.RegWrite(kDmaRegEnd, 4, 16);
  board.RegWrite(kDmaRegSyncTag, 4, 0xA0);
  EXPECT_EQ(board.Peek(kDmaRegTagReached, 4), 0x80u);
  engine.RunPending();
  EXPECT_EQ(board.Peek(kDmaRegTagReached, 4), 0xA0u);
}

// System memory of the kernel's streams: one block of host words at a bus
// address, as the kernel glue's arena gives them to the engine.
class KernelStreamTest : public DmaEngineTest {
 protected:
  static constexpr uint32_t kBase = 0x10000000;
  KernelStreamTest() : memory(0x4000 / 4) {
    engine.SetSystemMemory([this](uint32_t bus, uint32_t length) -> uint8_t* {
      if (bus < kBase || bus - kBase + uint64_t{length} > memory.size() * 4) return nullptr;
      return reinterpret_cast<uint8_t*>(memory.data()) + (bus - kBase);
    });
    engine.SetInterrupts(&interrupts);
  }
  void PutSystem(uint32_t bus, const std::vector<uint32_t>& words) {
    std::memcpy(reinterpret_cast<uint8_t*>(memory.data()) + (bus - kBase), words.data(),
                words.size() * 4);
  }
  uint32_t SystemWord(uint32_t bus) const { return memory[(bus - kBase) / 4]; }
  void Go(uint32_t start, uint32_t endWord) {
    board.RegWrite(kDmaRegStart, 4, start);
    board.RegWrite(kDmaRegEnd, 4, endWord);
  }
  std::vector<DmaEngine::TraceEntry> Trace(DmaEngine::TraceKind kind) const {
    std::vector<DmaEngine::TraceEntry> out;
    for (const auto& entry : engine.Trace())
      if (entry.kind == kind) out.push_back(entry);
    return out;
  }

  InterruptController interrupts{board};
  std::vector<uint32_t> memory;
};

using Kind = DmaEngine::TraceKind;

TEST_F(KernelStreamTest, TagsReachWordSixteenOfTheSharedBlockAtRegister0x400) {
  board.RegWrite(kDmaRegSharedBase, 4, kBase + 0x1000);
  PutSystem(kBase, {0x212121AF, 0x0000A23});
  Go(kBase, (kBase + 8) | kBusPciLocked);
  EXPECT_EQ(engine.ReachedTag(), 0xA23u);
  EXPECT_EQ(SystemWord(kBase + 0x1000 + 16), 0xA23u);
  board.RegWrite(kDmaRegSyncTag, 4, 0xB00);  // a direct write, the engine idle
  EXPECT_EQ(SystemWord(kBase + 0x1000 + 16), 0xB00u);
}

TEST_F(KernelStreamTest, ABufferSwitchWritesTheCounterAndJumpsToTheNextBuffer) {
  const uint32_t a = kBase, b = kBase + 0x2000, report = kBase + 0x1020;
  // Buffer A: a command, then the switch packet; buffer B: one more command.
  PutSystem(a, {0x212121C6, 0x11, 0x21272425, 7, report, b | kBusPciLocked});
  PutSystem(b, {0x212121C5, 0x22});
  Go(a, (b + 8) | kBusPciLocked);
  EXPECT_EQ(engine.Writes(),
            (std::vector<W>{{0x1318, 0x11}, {0x1094, 7}, {0x1090, report}, {0x109C, b | 3},
                            {0x1314, 0x22}}));
  EXPECT_EQ(SystemWord(report), 7u);
  EXPECT_EQ(Trace(Kind::kCounter), (std::vector<DmaEngine::TraceEntry>{{Kind::kCounter, 7, report, 0}}));
  EXPECT_EQ(Trace(Kind::kJump), (std::vector<DmaEngine::TraceEntry>{{Kind::kJump, b, 0, 3}}));
  EXPECT_FALSE(engine.Busy());
  // A counter address nothing holds is written nowhere.
  PutSystem(b + 8, {0x21212425, 8, 0x40});
  board.RegWrite(kDmaRegEnd, 4, (b + 20) | kBusPciLocked);
  EXPECT_EQ(Trace(Kind::kCounter).back(), (DmaEngine::TraceEntry{Kind::kCounter, 8, 0, 0}));
}

TEST_F(KernelStreamTest, AnExecutePacketRunsItsRangeAndTheOuterRangeGoesOn) {
  const uint32_t outer = kBase, inner = kBase + 0x800;
  PutSystem(inner, {0x2121C6C5, 0x31, 0x32});
  PutSystem(outer, {0x20292820, 0, inner | 1, (inner + 12) | kBusPciLocked, 0, 0x212121C0, 0x33});
  Go(outer, (outer + 28) | kBusPciLocked);
  EXPECT_EQ(engine.Writes(), (std::vector<W>{{0x10A0, inner | 1}, {0x10A4, (inner + 12) | 3},
                                             {0x1314, 0x31}, {0x1318, 0x32}, {0x1300, 0x33}}));
  EXPECT_EQ(Trace(Kind::kNested),
            (std::vector<DmaEngine::TraceEntry>{{Kind::kNested, inner, inner + 12, 3}}));
  EXPECT_TRUE(engine.DecodeErrors().empty());
}

// An executed range whose start carries bits 2 holds count-prefixed packets:
// a count n, then n + 1 words of groups; a command word where a count is due.
class CountedRangeTest : public KernelStreamTest {
 protected:
  static constexpr uint32_t kInner = kBase + 0x800;
  // Executes the words as a count-prefixed range from a started range.
  void RunCounted(const std::vector<uint32_t>& words) {
    PutSystem(kInner, words);
    const uint32_t end = kInner + 4 * static_cast<uint32_t>(words.size());
    PutSystem(kBase, {0x20292820, 0, kInner | kDmaExecCounted, end | kBusPciLocked, 0});
    Go(kBase, (kBase + 20) | kBusPciLocked);
  }
  // The writes after the outer execute packet's own two (writes cleared first).
  std::vector<W> InnerWrites() const {
    const std::vector<W>& all = engine.Writes();
    return all.size() < 2 ? std::vector<W>{} : std::vector<W>(all.begin() + 2, all.end());
  }
};

TEST_F(CountedRangeTest, CountsGroupsAndCommandWordsDecode) {
  const uint32_t report = kBase + 0x1020;
  struct Case {
    const char* name;
    std::vector<uint32_t> words;
    std::vector<W> writes;
    std::vector<DmaEngine::TraceEntry> commands;
  };
  const Case cases[] = {
      {"one group with a tag", {4, 0xC0AFAFC0, 0x307, 0x49, 0x48, 0x123},
       {{0x1300, 0x307}, {0x12BC, 0x49}, {0x12BC, 0x48}, {0x1300, 0x123}}, {}},
      {"two groups under one count", {9, 0x03020100, 1, 2, 3, 4, 0x07060504, 5, 6, 7, 8},
       {{0x1000, 1}, {0x1004, 2}, {0x1008, 3}, {0x100C, 4},
        {0x1010, 5}, {0x1014, 6}, {0x1018, 7}, {0x101C, 8}}, {}},
      {"a padded header, then a second count", {2, 0x21218B8A, 1, 2, 1, 0x212121C5, 3},
       {{0x1228, 1}, {0x122C, 2}, {0x1314, 3}}, {}},
      {"count 0 is one all-padding header", {0, 0x21212121}, {}, {}},
      {"index 0x20 writes nothing", {2, 0x2121C020, 9, 8}, {{0x1300, 8}}, {}},
      {"command words and their bodies are skipped",
       {0x8B000002, 0x11, 0x12, 0x13, 1, 0x212121C0, 5, 0x41000000, 0x0400FFFF},
       {{0x1300, 5}},
       {{Kind::kCommand, 0x8B000002, kInner, 3}, {Kind::kCommand, 0x41000000, kInner + 28, 3}}},
      {"the primary stream's repeat, event, jump and execute are plain writes",
       {7, 0x27262322, 0xAA, 0, 1, 0x7000000, 0x21212928, 0x10, 0x20},
       {{0x1088, 0xAA}, {0x108C, 0}, {0x1098, 1}, {0x109C, 0x7000000},
        {0x10A0, 0x10}, {0x10A4, 0x20}}, {}},
      {"counter then address write memory", {2, 0x21212425, 7, report},
       {{0x1094, 7}, {0x1090, report}}, {}},
  };
  for (const Case& c : cases) {
    engine.ClearWrites();
    engine.ClearTrace();
    RunCounted(c.words);
    EXPECT_EQ(InnerWrites(), c.writes) << c.name;
    EXPECT_EQ(Trace(Kind::kCommand), c.commands) << c.name;
    EXPECT_TRUE(engine.DecodeErrors().empty()) << c.name << ": " << engine.DecodeErrors().front();
    EXPECT_TRUE(Trace(Kind::kJump).empty() && Trace(Kind::kEvent).empty()) << c.name;
    EXPECT_FALSE(engine.Busy()) << c.name;
  }
  EXPECT_EQ(engine.ReachedTag(), 0x48u);
  EXPECT_EQ(SystemWord(report), 7u);
  // Start bits 1 keep the primary stream's grammar: the count is a header.
  engine.ClearWrites();
  PutSystem(kInner, {0x212121C0, 0x55});
  PutSystem(kBase, {0x20292820, 0, kInner | 1, (kInner + 8) | kBusPciLocked, 0});
  Go(kBase, (kBase + 20) | kBusPciLocked);
  EXPECT_EQ(InnerWrites(), (std::vector<W>{{0x1300, 0x55}}));
}

TEST_F(CountedRangeTest, ACountOffAGroupOrARangeEndingInsideAPacketIsADecodeError) {
  struct Case {
    const char* name;
    std::vector<uint32_t> words;
    const char* error;
    std::vector<W> writes;  // what still reaches the registers
  };
  const Case cases[] = {
      {"count ends inside a group", {1, 0x2121C1C0, 1, 1, 0x212121C5, 2},
       "count ends inside a group", {{0x1300, 1}, {0x1314, 2}}},
      {"count runs past the range", {4, 0x212121C0, 1}, "ends inside a packet", {{0x1300, 1}}},
      {"range ends after a count", {1}, "ends inside a packet", {}},
      {"command body runs past the range", {0x41000003, 1, 2}, "ends inside a packet", {}},
  };
  for (const Case& c : cases) {
    engine.ClearWrites();
    const size_t before = engine.DecodeErrors().size();
    RunCounted(c.words);
    ASSERT_EQ(engine.DecodeErrors().size(), before + 1) << c.name;
    EXPECT_NE(engine.DecodeErrors().back().find(c.error), std::string::npos)
        << c.name << ": " << engine.DecodeErrors().back();
    EXPECT_EQ(InnerWrites(), c.writes) << c.name;
  }
  // The outer range's decoder is untouched by the inner one's state.
  engine.ClearWrites();
  PutSystem(kInner, {3});
  PutSystem(kBase, {0x20292820, 0, kInner | kDmaExecCounted, (kInner + 4) | kBusPciLocked, 0,
                    0x212121C6, 0x66});
  Go(kBase, (kBase + 28) | kBusPciLocked);
  EXPECT_EQ(InnerWrites(), (std::vector<W>{{0x1318, 0x66}}));
}

TEST_F(KernelStreamTest, TheRepeatHeaderIsEngineStateAcrossExecutedRanges) {
  // The first executed range loads the repeat header; the second repeats it
  // without loading it; the kernel's own stream then repeats what was loaded.
  const uint32_t outer = kBase, first = kBase + 0x800, second = kBase + 0xA00;
  PutSystem(first, {0x21212122, 0x2121C3C2, 0x21212123, 1, 0x41, 0x42});
  PutSystem(second, {0x21212123, 2, 0x51, 0x52, 0x61, 0x62});
  PutSystem(outer, {0x20292820, 0, first | 1, (first + 24) | kBusPciLocked, 0,
                    0x20292820, 0, second | 1, (second + 24) | kBusPciLocked, 0,
                    0x21212123, 1, 0x71, 0x72});
  Go(outer, (outer + 56) | kBusPciLocked);
  std::vector<W> drawn;
  for (const W& w : engine.Writes())
    if (w.reg == 0x1308 || w.reg == 0x130C) drawn.push_back(w);
  EXPECT_EQ(drawn, (std::vector<W>{{0x1308, 0x41}, {0x130C, 0x42}, {0x1308, 0x51}, {0x130C, 0x52},
                                   {0x1308, 0x61}, {0x130C, 0x62}, {0x1308, 0x71}, {0x130C, 0x72}}));
  EXPECT_TRUE(engine.DecodeErrors().empty());
}

TEST_F(KernelStreamTest, AnEventPausesUntilTheEndIsWrittenAgain) {
  board.RegWrite(kIrqRegEnable, 4, kIrqEngine);
  // The event tag packet: tag, engine mode, then the event, then padding.
  std::vector<uint32_t> words = {0xDDC0AFDD, 0, 0x84, 1798, 0, 0x26DDC0AF, 0x81, 0x707, 0, 2};
  for (int i = 0; i < 4; ++i) words.push_back(0x21212121);
  words.insert(words.end(), {0x212121C5, 0x44});
  PutSystem(kBase, words);
  const uint32_t end = kBase + 4 * static_cast<uint32_t>(words.size());
  Go(kBase, end | kBusPciLocked);
  EXPECT_TRUE(engine.Paused());
  EXPECT_TRUE(engine.Busy());
  EXPECT_EQ(board.RegRead(kDmaRegEngineStatus, 4), 0u);  // not idle
  EXPECT_TRUE(interrupts.LineUp());
  EXPECT_EQ(interrupts.Pending(), kIrqEngine);
  EXPECT_EQ(engine.ReachedTag(), 0x81u);
  EXPECT_EQ(board.Peek(0x1314, 4), 0u);  // not yet
  EXPECT_EQ(Trace(Kind::kEvent), (std::vector<DmaEngine::TraceEntry>{{Kind::kEvent, kBase + 40, 0, 3}}));

  board.RegWrite(kDmaRegEnd, 4, end | kBusPciLocked);  // the service writes the end again
  EXPECT_FALSE(engine.Busy());
  EXPECT_EQ(board.Peek(0x1314, 4), 0x44u);
  EXPECT_EQ(Trace(Kind::kResume),
            (std::vector<DmaEngine::TraceEntry>{{Kind::kResume, kBase + 40, end, 3}}));
}

TEST_F(KernelStreamTest, ExecutedRangesMayNotRunBackwardsNestOrPause) {
  PutSystem(kBase, {0x20292820, 0, kBase + 0x100, (kBase + 0x80) | 3, 0});
  EXPECT_DEATH(Go(kBase, (kBase + 20) | 3), "executed range end .* lies below its start");
  PutSystem(kBase + 0x100, {0x21212126, 2});
  PutSystem(kBase, {0x20292820, 0, kBase + 0x100, (kBase + 0x108) | 3, 0});
  EXPECT_DEATH(Go(kBase, (kBase + 20) | 3), "event packet inside an executed range");
}

TEST_F(KernelStreamTest, WithFaultsNotFatalAFaultIsRecordedAndItsStartAbandoned) {
  engine.SetFaultsFatal(false);
  struct Case {
    const char* name;
    std::vector<uint32_t> words;  // at kBase, started to their end
    const char* fault;
  };
  const Case cases[] = {
      {"a nested range in no memory", {0x20292820, 0, 0x7000000, 0x7000010 | 3, 0}, "reaches no memory"},
      {"a nested range backwards", {0x20292820, 0, kBase + 0x100, (kBase + 0x80) | 3, 0},
       "lies below its start"},
      {"a jump into no memory", {0x21212127, 0x7000000 | 3}, "reaches no memory"},
      {"a jump to itself", {0x21212127, kBase | 3}, "more than 64 words"},
  };
  engine.SetMaxWordsPerStart(64);
  for (const Case& c : cases) {
    PutSystem(kBase, c.words);
    // The start's own tag packet comes after the faulting words: abandoned.
    PutSystem(kBase + 4 * static_cast<uint32_t>(c.words.size()), {0x212121AF, 0x77});
    const size_t before = engine.Faults().size();
    board.Poke(kDmaRegTagReached, 4, 0);
    Go(kBase, (kBase + 4 * static_cast<uint32_t>(c.words.size()) + 8) | kBusPciLocked);
    ASSERT_EQ(engine.Faults().size(), before + 1) << c.name;
    EXPECT_NE(engine.Faults().back().find(c.fault), std::string::npos) << engine.Faults().back();
    EXPECT_EQ(engine.ReachedTag(), 0u) << c.name;
    EXPECT_FALSE(engine.Busy()) << c.name;
  }
  // The next start runs normally.
  PutSystem(kBase + 0x200, {0x212121AF, 0x88});
  Go(kBase + 0x200, (kBase + 0x208) | kBusPciLocked);
  EXPECT_EQ(engine.ReachedTag(), 0x88u);
}

// A harness that keeps one engine for many runs resets it between them:
// what was pending and what was recorded go, what was set up stays.
TEST_F(KernelStreamTest, ResetDropsThePauseAndTheRecordAndKeepsTheSetUp) {
  engine.SetFaultsFatal(false);
  engine.SetLatencyReads(1);
  // A fault, then an event that pauses the engine.
  engine.Execute(0x7000000, 0x7000010, kBusPciLocked);
  engine.Step();
  ASSERT_FALSE(engine.Faults().empty());
  PutSystem(kBase, {0x21212126, 2});
  Go(kBase, (kBase + 8) | kBusPciLocked);
  engine.Step();
  ASSERT_TRUE(engine.Paused());
  ASSERT_FALSE(engine.Trace().empty());

  engine.Reset();
  EXPECT_FALSE(engine.Busy());
  EXPECT_FALSE(engine.Paused());
  EXPECT_TRUE(engine.Trace().empty());
  EXPECT_TRUE(engine.Writes().empty());
  EXPECT_TRUE(engine.Faults().empty());
  EXPECT_TRUE(engine.DecodeErrors().empty());
  EXPECT_EQ(engine.WordsFetched(), 0u);
  EXPECT_EQ(engine.RangesRun(), 0u);

  // The latency, the system memory and the fault mode are still the
  // engine's: a new start waits one status read and runs from its own
  // start, not from the pause.
  PutSystem(kBase + 0x100, {0x212121AF, 0x99});
  Go(kBase + 0x100, (kBase + 0x108) | kBusPciLocked);
  EXPECT_TRUE(engine.Busy());
  engine.Step();
  EXPECT_FALSE(engine.Busy());
  EXPECT_EQ(engine.ReachedTag(), 0x99u);
  EXPECT_EQ(Trace(Kind::kRange), (std::vector<DmaEngine::TraceEntry>{
                                     {Kind::kRange, kBase + 0x100, kBase + 0x108, 3}}));
  engine.Execute(0x7000000, 0x7000010, kBusPciLocked);
  engine.Step();
  EXPECT_EQ(engine.Faults().size(), 1u);
}

TEST_F(KernelStreamTest, AStepIsOneStatusReadOfLatency) {
  engine.SetLatencyReads(2);
  PutSystem(kBase, {0x212121AF, 0x40});
  Go(kBase, (kBase + 8) | kBusPciLocked);
  engine.Step();
  EXPECT_TRUE(engine.Busy());
  engine.Step();
  EXPECT_FALSE(engine.Busy());
  EXPECT_EQ(engine.ReachedTag(), 0x40u);
}

TEST(DmaEngineStatusTest, IdleBitsFollowTheChip) {
  struct Case {
    uint16_t device;
    uint32_t reg;
    uint32_t mask;
    uint32_t idle;
  };
  const Case cases[] = {
      {kDeviceKestrion1, kDmaRegStatusA, 0x57, 0x50},
      {kDeviceKestrion2, kDmaRegStatusA, 0x57, 0x50},
      {kDeviceKestrionNext1, kDmaRegStatusA, 0x57, 0x50},
      {kDeviceKestrionNext2, kDmaRegStatusA, 0x1, 0x1},
      {kDeviceKestrionNext3, kDmaRegStatusB, 0x1, 0x1},
  };
  for (const Case& c : cases) {
    Simulation sim;
    BoardConfig config;
    config.device_id = c.device;
    Board& board = sim.AddBoard(config);
    DmaEngine engine(board);
    EXPECT_EQ(board.RegRead(c.reg, 4) & c.mask, c.idle) << std::hex << c.device;
    engine.SetLatencyReads(2);
    engine.Execute(0, 0, kBusLocal);
    EXPECT_NE(board.RegRead(c.reg, 4) & c.mask, c.idle) << std::hex << c.device;
    EXPECT_EQ(board.RegRead(c.reg, 4) & c.mask, c.idle) << std::hex << c.device;
  }
}

}  // namespace
}  // namespace orvsim
