// The vertex engine's memories: indirect reads that settle on the fourth
// read of 0x914, and constant packets of count-prefixed ranges loaded into
// every unit; malformed 0x41 commands are decode errors, while a microcode
// upload and the self-test's packet are left to their own meaning.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

constexpr uint32_t kTail[8] = {0, 64, 128, 192, 256, 320, 0, 0};

class VertexEngineTest : public ::testing::Test {
 protected:
  // Runs the words as a count-prefixed range executed from local memory.
  void RunCounted(const std::vector<uint32_t>& words) {
    const uint32_t inner = 0x800, outer = 0x100;
    std::memcpy(board.Memory() + inner, words.data(), words.size() * 4);
    const uint32_t end = inner + 4 * static_cast<uint32_t>(words.size());
    const uint32_t packet[] = {0x20292820, 0, inner | kDmaExecCounted, end | kBusLocal, 0};
    std::memcpy(board.Memory() + outer, packet, sizeof packet);
    board.RegWrite(kDmaRegStart, 4, outer);
    board.RegWrite(kDmaRegEnd, 4, outer + sizeof packet);
  }
  // The four reads of one armed dword.
  std::vector<uint32_t> Read(uint32_t address, uint32_t dword) {
    board.RegWrite(kVertexRegAddress, 4, address | dword << 16);
    board.RegWrite(kVertexRegArm, 4, kVertexArmRead);
    std::vector<uint32_t> out;
    for (int i = 0; i < 4; ++i) out.push_back(board.RegRead(kVertexRegData, 4));
    return out;
  }
  std::vector<uint32_t> Constant(unsigned unit, unsigned index) const {
    const uint32_t* e = vertex.Entry(kVertexConstantKind, unit, index);
    return std::vector<uint32_t>(e, e + 4);
  }

  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  DmaEngine dma{board};
  VertexEngine vertex{board, dma};
};

TEST_F(VertexEngineTest, AnArmedReadAnswersOnTheFourthRead) {
  uint32_t* constant = vertex.Entry(3, 2, 5);
  ASSERT_NE(constant, nullptr);
  const uint32_t words[4] = {0x11, 0x22, 0x33, 0x44};
  std::memcpy(constant, words, sizeof words);
  vertex.Entry(0, 1, 511)[3] = 0xA0;
  vertex.Entry(2, 3, 7)[0] = 0xB0;
  struct Case {
    const char* name;
    uint32_t address, dword, value;
  };
  const Case cases[] = {
      {"constant unit 2, index 5, dword 0", 0x03000405, 0, 0x11},
      {"its dword 3", 0x03000405, 3, 0x44},
      {"kind 0, unit 1, entry 511", 0x000003FF, 3, 0xA0},
      {"a 32-bit memory", 0x02000607, 0, 0xB0},
      {"a 32-bit memory has one dword", 0x02000607, 1, 0},
      {"kind 6 holds nothing", 0x06000001, 0, 0},
      {"a constant beyond 383", 0x03000180, 0, 0},
      {"a unit beyond the memory", 0x03000805, 0, 0},
  };
  uint32_t previous = 0;
  for (const Case& c : cases) {
    const std::vector<uint32_t> reads = Read(c.address, c.dword);
    EXPECT_EQ(reads[3], c.value) << c.name;
    EXPECT_EQ(reads[0], previous) << c.name << ": the first reads answer the stale word";
    EXPECT_EQ(reads[2], previous) << c.name;
    previous = c.value;
  }
  EXPECT_EQ(board.RegRead(kVertexRegData, 4), previous) << "settled: the dword stays";
}

TEST_F(VertexEngineTest, ConstantPacketsLoadEveryUnit) {
  // k = 2 from constant 10, then a register group; k = 1 at constant 383.
  RunCounted({0x4104000B, 2, 10, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8,
              1, 0x212121C0, 0x99,
              0x41020007, 1, 383, 1, 0, 0xA, 0xB, 0xC, 0xD});
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  for (unsigned unit = 0; unit < 4; ++unit) {
    EXPECT_EQ(Constant(unit, 10), (std::vector<uint32_t>{1, 2, 3, 4})) << unit;
    EXPECT_EQ(Constant(unit, 11), (std::vector<uint32_t>{5, 6, 7, 8})) << unit;
    EXPECT_EQ(Constant(unit, 383), (std::vector<uint32_t>{0xA, 0xB, 0xC, 0xD})) << unit;
    EXPECT_EQ(Constant(unit, 12), (std::vector<uint32_t>{0, 0, 0, 0})) << unit;
  }
  EXPECT_EQ(vertex.ConstantPackets(), 2u);
  EXPECT_EQ(board.Peek(0x1300, 4), 0x99u);
}

TEST_F(VertexEngineTest, MalformedConstantPacketsAreDecodeErrors) {
  struct Case {
    const char* name;
    std::vector<uint32_t> words;
  };
  const Case cases[] = {
      {"count word differs from bits 17-22", {0x41020007, 2, 0, 1, 0, 1, 2, 3, 4}},
      {"third word not 1", {0x41020007, 1, 0, 0, 0, 1, 2, 3, 4}},
      {"fourth word not 0", {0x41020007, 1, 0, 1, 5, 1, 2, 3, 4}},
      {"length not 4k + 4", {0x41020008, 1, 0, 1, 0, 1, 2, 3, 4, 5}},
      {"count 0", {0x41000003, 0, 0, 1, 0}},
      {"past constant 383", {0x4104000B, 2, 383, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    const size_t before = dma.DecodeErrors().size();
    RunCounted(c.words);
    ASSERT_EQ(dma.DecodeErrors().size(), before + 1) << c.name;
    EXPECT_EQ(vertex.ConstantPackets(), 0u) << c.name;
  }
  EXPECT_EQ(Constant(0, 0), (std::vector<uint32_t>{0, 0, 0, 0}));
}

TEST_F(VertexEngineTest, MicrocodeUploadsAndTheSelfTestPacketKeepTheirOwnMeaning) {
  // Index 0x3C = 0x20000028 or 0x80000028 opens an upload: a 0x41 word
  // that is not of the constant form carries program words.
  for (uint32_t open : {kVertexProgramUploadOpen, kVertexProgramUploadChanged})
    RunCounted({1, 0x2121213C, open, 0x41020007, 9, 9, 9, 9, 9, 9, 9, 9, 1, 0x2121213C, 0xA0000028});
  // The self-test's packet: two patterns and their indexes.
  std::vector<uint32_t> selfTest = {kVertexSelfTestWord};
  for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 0u, 64u, 128u, 192u, 256u, 320u, 0u, 0u}) selfTest.push_back(w);
  RunCounted(selfTest);
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  EXPECT_EQ(vertex.ConstantPackets(), 0u);
  // Three constants share the self-test's word and load as constants.
  RunCounted({kVertexSelfTestWord, 3, 20, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  EXPECT_EQ(vertex.ConstantPackets(), 1u);
  EXPECT_EQ(Constant(1, 22), (std::vector<uint32_t>{9, 10, 11, 12}));
  // Once the upload is closed, the same word is a malformed constant packet.
  RunCounted({0x41020007, 9, 9, 9, 9, 9, 9, 9, 9});
  EXPECT_EQ(dma.DecodeErrors().size(), 1u);
}

// The constant upload sends the dirty constants behind the fence it writes
// for its program: packets of the constant form load while the upload is
// open, beside the program words of the other uploads.
TEST_F(VertexEngineTest, ConstantPacketsLoadWhileAnUploadIsOpen) {
  for (uint32_t open : {kVertexProgramUploadOpen, kVertexProgramUploadChanged}) {
    const uint32_t first = open == kVertexProgramUploadOpen ? 40 : 50;
    RunCounted({4, 0x403C3CDD, 0, open, open, 0x1234, 0x41020007, 0x03800015, 0, 0, 0, 0, 0, 0, 0,
                0x41020007, 1, first, 1, 0, 5, 6, 7, 8});
    EXPECT_EQ(Constant(3, first), (std::vector<uint32_t>{5, 6, 7, 8})) << std::hex << open;
  }
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  EXPECT_EQ(vertex.ConstantPackets(), 2u);
  EXPECT_EQ(Constant(0, 41), (std::vector<uint32_t>{0, 0, 0, 0})) << "the program words load nothing";
}

TEST_F(VertexEngineTest, ProgramMemoryTakesWordsFromTheIndexOn) {
  board.RegWrite(kVertexRegProgramMode, 4, 1);
  EXPECT_EQ(board.RegRead(kVertexRegProgramMode, 4), 1u) << "0x920 reads back";
  board.RegWrite(kVertexRegProgramIndex, 4, 10);
  for (uint32_t w = 1; w <= 7; ++w) board.RegWrite(kVertexRegProgramData, 4, w);
  const std::vector<uint32_t>& memory = vertex.ProgramMemory();
  ASSERT_EQ(memory.size(), 1536u);
  EXPECT_EQ(memory[29], 0u);
  for (uint32_t w = 1; w <= 7; ++w) EXPECT_EQ(memory[30 + w - 1], w) << "auto-increment across instructions";
  EXPECT_EQ(memory[37], 0u);
  // The last instruction fills; what follows is dropped.
  board.RegWrite(kVertexRegProgramIndex, 4, 511);
  for (uint32_t w = 0; w < 4; ++w) board.RegWrite(kVertexRegProgramData, 4, 0x50 + w);
  EXPECT_EQ(memory[1535], 0x52u);
  EXPECT_EQ(vertex.ProgramWordsDropped(), 1u);
  board.RegWrite(kVertexRegProgramIndex, 4, 512);
  board.RegWrite(kVertexRegProgramData, 4, 9);
  EXPECT_EQ(vertex.ProgramWordsDropped(), 2u);
  EXPECT_EQ(vertex.ProgramWordsWritten(), 12u);
}

TEST_F(VertexEngineTest, PortStatusIsBusyForTheChosenReads) {
  vertex.SetPortStatusBusyReads(2);
  vertex.SetPortLevelBusyReads(1);
  EXPECT_EQ(board.RegRead(kVertexRegPortStatus, 4), 0u);
  EXPECT_EQ(board.RegRead(kVertexRegPortStatus, 4), 0u);
  EXPECT_EQ(board.RegRead(kVertexRegPortStatus, 4), kVertexPortStatusIdle);
  EXPECT_EQ(board.RegRead(kVertexRegPortLevel, 4), 0u);
  EXPECT_EQ(board.RegRead(kVertexRegPortLevel, 4) & 0xFFFu, kVertexPortLevelIdle);
}

TEST_F(VertexEngineTest, TheSelfTestLoadsItsPatternsAndAHeldBitStays) {
  std::vector<uint32_t> words = {1, 0x2121213C, kVertexSelfTestRunning, kVertexSelfTestWord};
  for (uint32_t w = 0; w < 4; ++w) words.push_back(0xAAAAAAAA);
  for (uint32_t w = 0; w < 4; ++w) words.push_back(0x55555555);
  for (uint32_t w : kTail) words.push_back(w);
  vertex.HoldConstantBit(2, 7, 1, 3, false);
  RunCounted(words);
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  EXPECT_EQ(vertex.SelfTestLoads(), 1u);
  EXPECT_EQ(vertex.ConstantPackets(), 0u);
  const std::vector<uint32_t> a(4, 0xAAAAAAAA), b(4, 0x55555555);
  for (unsigned unit = 0; unit < 4; ++unit) {
    EXPECT_EQ(Constant(unit, 0), a) << unit;
    EXPECT_EQ(Constant(unit, 383), b) << unit;
    if (unit != 2) {
      EXPECT_EQ(Constant(unit, 7), b) << unit;
    }
  }
  EXPECT_EQ(Constant(2, 7), (std::vector<uint32_t>{0x55555555, 0x55555555 & ~8u, 0x55555555, 0x55555555}));
  // Without the running word, or with another tail, nothing is loaded.
  vertex.Entry(kVertexConstantKind, 0, 0)[0] = 0;
  words[2] = 0;
  RunCounted(words);
  EXPECT_EQ(vertex.SelfTestLoads(), 1u);
  words[2] = kVertexSelfTestRunning;
  words[words.size() - 3] = 1;
  RunCounted(words);
  EXPECT_EQ(vertex.SelfTestLoads(), 1u);
  EXPECT_EQ(Constant(0, 0)[0], 0u);
}

// A harness that keeps one engine for many runs resets it between them.
TEST_F(VertexEngineTest, ResetGivesTheEngineAsMadeWithItsRegistersInPlace) {
  board.RegWrite(kVertexRegProgramIndex, 4, 3);
  for (uint32_t w = 1; w <= 5; ++w) board.RegWrite(kVertexRegProgramData, 4, w);
  vertex.Entry(0, 1, 2)[1] = 0x77;
  vertex.Entry(kVertexConstantKind, 3, 383)[3] = 0x88;
  Read(0x00000202, 1);  // settled on 0x77
  vertex.SetPortStatusBusyReads(5);
  vertex.HoldConstantBit(0, 0, 0, 0, true);

  vertex.Reset();
  for (uint32_t word : vertex.ProgramMemory()) ASSERT_EQ(word, 0u);
  EXPECT_EQ(vertex.Entry(0, 1, 2)[1], 0u);
  EXPECT_EQ(vertex.Entry(kVertexConstantKind, 3, 383)[3], 0u);
  EXPECT_EQ(vertex.ProgramWordsWritten(), 0u);
  EXPECT_EQ(vertex.ConstantPackets(), 0u);
  EXPECT_EQ(board.RegRead(kVertexRegPortStatus, 4), kVertexPortStatusIdle);
  EXPECT_EQ(board.RegRead(kVertexRegData, 4), 0u) << "nothing armed, nothing latched";
  // No bit is held any more, and the program port starts at instruction 0.
  RunCounted({0x41020007, 1, 0, 1, 0, 1, 2, 3, 4});
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  EXPECT_EQ(Constant(0, 0), (std::vector<uint32_t>{1, 2, 3, 4}));
  board.RegWrite(kVertexRegProgramData, 4, 9);
  EXPECT_EQ(vertex.ProgramMemory()[0], 9u);
}

}  // namespace
}  // namespace orvsim
