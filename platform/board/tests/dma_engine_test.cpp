// The DMA engine: fetching from local and system memory, decoding packets
// from the format, starting on 0x404/0x408, the reached tag and the status
// registers, and the latency that lets a test catch an early rewrite.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/board/chip_dma.h"
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
