// The register window: widths and byte order, hooks, the access log, the
// virtual clock and the watchdog.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/board/simulation.h"

namespace orvsim {
namespace {

constexpr uint32_t kVgaCrtcIndex = 0x1FD4;
constexpr uint32_t kVgaCrtcData = 0x1FD5;
constexpr uint32_t kInputStatus1 = 0x1FDA;

class RegisterTest : public ::testing::Test {
 protected:
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
};

TEST_F(RegisterTest, WidthsComposeLittleEndianAtAnyAlignment) {
  board.RegWrite(0x101, 4, 0x44332211);
  EXPECT_EQ(board.RegRead(0x101, 1), 0x11u);
  EXPECT_EQ(board.RegRead(0x104, 1), 0x44u);
  EXPECT_EQ(board.RegRead(0x102, 2), 0x3322u);
  EXPECT_EQ(board.RegRead(0x100, 4), 0x33221100u);
  board.RegWrite(0x103, 2, 0xBBAA);
  EXPECT_EQ(board.RegRead(0x101, 4), 0xBBAA2211u);
  board.RegWrite(0x102, 1, 0x1234);  // only the low byte of a byte write lands
  EXPECT_EQ(board.RegRead(0x101, 4), 0xBBAA3411u);
  EXPECT_EQ(board.Registers()[0x102], 0x34);
  EXPECT_EQ(board.Registers()[0x105], 0x00) << "nothing written past the access";
}

TEST_F(RegisterTest, WholeWindowIsReachableAtItsEdges) {
  board.RegWrite(0, 4, 0xCAFEF00D);
  board.RegWrite(kDefaultRegisterWindowSize - 4, 4, 0x01020304);
  EXPECT_EQ(board.RegRead(0, 4), 0xCAFEF00Du);
  EXPECT_EQ(board.RegRead(kDefaultRegisterWindowSize - 1, 1), 0x01u);
  EXPECT_EQ(board.RegRead(kDefaultRegisterWindowSize - 2, 2), 0x0102u);
}

using RegisterDeathTest = RegisterTest;

TEST_F(RegisterDeathTest, AccessOutsideTheWindowEndsTheTestNamingIt) {
  struct Row {
    uint32_t offset;
    unsigned width;
    const char* message;
  };
  const Row rows[] = {
      {0x2000, 1, "board0.*read of width 1 at offset 0x2000 is outside the 8192-byte"},
      {0x1FFE, 4, "read of width 4 at offset 0x1FFE is outside"},
      {0x1FFF, 2, "offset 0x1FFF"},
      {0xFFFFFFFE, 4, "offset 0xFFFFFFFE"},
      {0x100, 3, "offset 0x100 has width 3"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_DEATH(board.RegRead(row.offset, row.width), row.message);
  }
  EXPECT_DEATH(board.RegWrite(0x2000, 4, 0), "write of width 4 at offset 0x2000");
  EXPECT_DEATH(board.Peek(0x2000, 1), "peek");
}

TEST(RegisterWindow, LargerWindowsAreChosenByTheTest) {
  Simulation sim;
  BoardConfig config;
  config.name = "wide";
  config.register_window_size = 0x10000;
  Board& board = sim.AddBoard(config);
  board.RegWrite(0xFFFC, 4, 7);
  EXPECT_EQ(board.RegRead(0xFFFC, 4), 7u);
  EXPECT_DEATH(board.RegRead(0x10000, 1), "'wide'.*outside the 65536-byte register window");
}

// ---- Hooks ------------------------------------------------------------------

TEST_F(RegisterTest, WriteHookDecidesWhatIsStored) {
  // Write-one-to-clear status bits: the hook keeps what was not cleared.
  board.Poke(0x200, 4, 0x0000000F);
  board.SetWriteHook(0x200, 4, [](Board&, RegAccess, uint32_t value, uint32_t stored) {
    return stored & ~value;
  });
  board.RegWrite(0x200, 4, 0x5);
  EXPECT_EQ(board.RegRead(0x200, 4), 0xAu);
  board.RegWrite(0x200, 1, 0x2);
  EXPECT_EQ(board.RegRead(0x200, 4), 0x8u);
  // The log keeps what the driver wrote, not what was stored.
  EXPECT_EQ(board.LoggedWrites().front().value, 0x5u);
}

TEST_F(RegisterTest, ReadHookComputesTheValueFromTheClock) {
  // A free-running counter in microseconds.
  board.SetReadHook(0x300, 4, [](Board& b, RegAccess, uint32_t) {
    return static_cast<uint32_t>(b.GetClock().Now() / 1000);
  });
  sim.GetClock().AdvanceMicroseconds(250);
  EXPECT_EQ(board.RegRead(0x300, 4), 250u);
  sim.GetClock().AdvanceMicroseconds(1000);
  EXPECT_EQ(board.RegRead(0x300, 4), 1250u);
  EXPECT_EQ(board.Peek(0x300, 4), 0u) << "a computed value is not stored";
}

TEST_F(RegisterTest, AccessesSpanningHooksAreSplitInAscendingOrder) {
  // An indexed register pair, written as one word like a driver often does.
  std::vector<std::string> seen;
  uint8_t crtc[256] = {};
  board.SetWriteHook(kVgaCrtcIndex, 1, [&](Board&, RegAccess a, uint32_t value, uint32_t) {
    seen.push_back("index " + std::to_string(a.offset) + "/" + std::to_string(a.width));
    return value;
  });
  board.SetWriteHook(kVgaCrtcData, 1, [&](Board& b, RegAccess a, uint32_t value, uint32_t) {
    seen.push_back("data " + std::to_string(a.offset) + "/" + std::to_string(a.width));
    crtc[b.Peek(kVgaCrtcIndex, 1)] = static_cast<uint8_t>(value);
    return value;
  });
  board.SetReadHook(kVgaCrtcData, 1,
                    [&](Board& b, RegAccess, uint32_t) { return uint32_t{crtc[b.Peek(kVgaCrtcIndex, 1)]}; });

  board.RegWrite(kVgaCrtcIndex, 2, 0x5A11);  // index 0x11, data 0x5A
  const std::vector<std::string> expected = {"index 8148/1", "data 8149/1"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(crtc[0x11], 0x5A);

  // A dword read across the pair and its plain neighbours.
  board.Poke(0x1FD3, 1, 0xEE);
  board.Poke(0x1FD6, 1, 0xDD);
  EXPECT_EQ(board.RegRead(0x1FD3, 4), 0xDD5A11EEu);
}

TEST_F(RegisterTest, PartialAccessToAHookedRegisterSeesOnlyItsPart) {
  std::vector<RegAccess> seen;
  board.SetReadHook(0x400, 4, [&](Board&, RegAccess a, uint32_t stored) {
    seen.push_back(a);
    return stored + 1;
  });
  board.Poke(0x400, 4, 0x40302010);
  EXPECT_EQ(board.RegRead(0x402, 2), 0x4031u);
  EXPECT_EQ(board.RegRead(0x3FE, 4), 0x20110000u) << "plain bytes then the hooked part";
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].offset, 0x402u);
  EXPECT_EQ(seen[0].width, 2u);
  EXPECT_EQ(seen[1].offset, 0x400u);
  EXPECT_EQ(seen[1].width, 2u);
}

TEST_F(RegisterTest, HooksCanBeClearedAndMayNotOverlap) {
  board.SetReadHook(0x500, 4, [](Board&, RegAccess, uint32_t) { return 0xFFFFFFFFu; });
  EXPECT_THROW(board.SetReadHook(0x502, 1, [](Board&, RegAccess, uint32_t) { return 0u; }),
               std::invalid_argument);
  // A write hook on the same bytes is fine.
  board.SetWriteHook(0x500, 4, [](Board&, RegAccess, uint32_t, uint32_t) { return 0x77u; });
  EXPECT_THROW(board.SetWriteHook(0x1FFF, 2, nullptr), std::invalid_argument);
  board.RegWrite(0x500, 4, 1);
  EXPECT_EQ(board.RegRead(0x500, 4), 0xFFFFFFFFu);
  board.ClearHooks(0x500);
  EXPECT_EQ(board.RegRead(0x500, 4), 0x77u);
  board.RegWrite(0x500, 4, 1);
  EXPECT_EQ(board.RegRead(0x500, 4), 1u);
}

// ---- Log --------------------------------------------------------------------

TEST_F(RegisterTest, LogRecordsEveryAccessInOrderWithItsTime) {
  sim.GetClock().SetReadCost(100);
  sim.GetClock().SetWriteCost(10);
  board.RegWrite(0x10, 4, 0xAABBCCDD);
  board.RegRead(0x12, 1);
  board.RegWrite(0x20, 2, 0x1234);
  const std::vector<RegAccessRecord> expected = {
      {RegOp::kWrite, 4, 0x10, 0xAABBCCDD, 10},
      {RegOp::kRead, 1, 0x12, 0xBB, 110},
      {RegOp::kWrite, 2, 0x20, 0x1234, 120},
  };
  EXPECT_EQ(board.Log(), expected);
  EXPECT_EQ(board.LoggedWrites().size(), 2u);
  board.ClearLog();
  EXPECT_TRUE(board.Log().empty());
}

TEST_F(RegisterTest, BoundedLogKeepsTheNewestAndCountsTheRest) {
  board.SetLogCapacity(3);
  for (uint32_t i = 0; i < 10; ++i) board.RegWrite(4 * i, 4, i);
  const auto log = board.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].value, 7u);
  EXPECT_EQ(log[2].value, 9u);
  EXPECT_EQ(board.LogDropped(), 7u);
  board.SetLogCapacity(2);
  EXPECT_EQ(board.Log().front().value, 8u);

  board.ClearLog();
  board.SetLogCapacity(100);
  board.SetLogging(/*reads=*/false, /*writes=*/true);
  board.RegRead(0, 4);
  board.RegWrite(0, 4, 1);
  EXPECT_EQ(board.Log().size(), 1u);
  board.SetLogging(false, false);
  board.RegWrite(0, 4, 2);
  EXPECT_EQ(board.Log().size(), 1u);
  EXPECT_EQ(board.LogDropped(), 0u) << "switched off is not dropped";
}

// ---- Clock and watchdog -------------------------------------------------------

TEST_F(RegisterTest, ClockAdvancesPerAccessAndWait) {
  Clock& clock = sim.GetClock();
  EXPECT_EQ(clock.Now(), 0u);
  board.RegRead(0x8F4, 4);
  board.RegRead(0x8F4, 4);
  board.RegRead(0x8F4, 4);
  EXPECT_EQ(clock.Now(), 3 * Clock::kDefaultReadCostNs);
  board.RegWrite(0, 4, 0);
  EXPECT_EQ(clock.Now(), 3 * Clock::kDefaultReadCostNs + Clock::kDefaultWriteCostNs);
  clock.AdvanceMicroseconds(5);
  EXPECT_EQ(clock.Now(), 3 * Clock::kDefaultReadCostNs + 5000);
  board.Peek(0, 4);
  board.Poke(0, 4, 1);
  EXPECT_EQ(clock.Now(), 3 * Clock::kDefaultReadCostNs + 5000) << "raw access is free";
}

TEST_F(RegisterTest, PollOnATimedStatusBitEndsWhenTheTimeHasPassed) {
  // Vertical retrace every 16.7 ms, lasting 0.5 ms: the driver waits for it.
  board.SetReadHook(kInputStatus1, 1, [](Board& b, RegAccess, uint32_t) {
    const uint64_t phase = b.GetClock().Now() % 16700000;
    return phase >= 16200000 ? 0x08u : 0x00u;
  });
  sim.GetClock().SetReadCost(1000);
  uint64_t reads = 0;
  while (!(board.RegRead(kInputStatus1, 1) & 0x08)) ++reads;
  // A hook sees the time at which its read starts.
  EXPECT_EQ(reads, 16200u);
  EXPECT_EQ(sim.GetClock().Now(), 16201000u);
}

TEST_F(RegisterTest, WatchdogCountsReadsSinceTheLastWrite) {
  EXPECT_EQ(board.WatchdogBound(), kDefaultWatchdogReads);
  sim.SetWatchdogBound(100);
  for (int i = 0; i < 100; ++i) board.RegRead(kInputStatus1, 1);  // exactly the bound: fine
  EXPECT_EQ(board.ReadsSinceWrite(), 100u);
  board.RegWrite(0x10, 4, 0);
  EXPECT_EQ(board.ReadsSinceWrite(), 0u);
  for (int i = 0; i < 100; ++i) board.RegRead(kInputStatus1, 1);
}

TEST_F(RegisterDeathTest, WatchdogEndsAPollThatNeverEnds) {
  sim.SetWatchdogBound(1000);
  auto poll_forever = [&] {
    while (!(board.RegRead(kInputStatus1, 1) & 0x08)) {
    }
  };
  EXPECT_DEATH(poll_forever(), "watchdog: board 0 'board0'.*register 0x1FDA read 1001 times");
}

TEST(RegisterWatchdogDeathTest, DefaultBoundHoldsATwentyMillionReadPoll) {
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  board.SetLogging(false, false);
  auto poll_forever = [&] {
    for (;;) board.RegRead(0x8F4, 4);
  };
  EXPECT_DEATH(poll_forever(), "register 0x08F4 read 20000001 times");
}

TEST(RegisterWatchdog, BoundIsPerBoardAndFollowsTheSimulation) {
  Simulation sim;
  Board& first = sim.AddBoard(BoardConfig{});
  sim.SetWatchdogBound(50);
  Board& second = sim.AddBoard(BoardConfig{});
  EXPECT_EQ(first.WatchdogBound(), 50u);
  EXPECT_EQ(second.WatchdogBound(), 50u);
  second.SetWatchdogBound(5);
  EXPECT_EQ(first.WatchdogBound(), 50u);
  // A write to one board does not end a poll on the other.
  for (int i = 0; i < 5; ++i) second.RegRead(0, 4);
  first.RegWrite(0, 4, 0);
  EXPECT_DEATH(second.RegRead(0, 4), "board 1 'board1'.*read 6 times");
}

}  // namespace
}  // namespace orvsim
