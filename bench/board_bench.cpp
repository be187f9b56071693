// Cost of register access on the simulated board: polls in driver tests run
// to millions of reads, so the plain path must stay an array access and a
// flag test.
#include <benchmark/benchmark.h>

#include "platform/board/simulation.h"
#include "platform/machine/machine.h"

namespace {

using orvsim::Board;
using orvsim::RegAccess;

// A bare board of the simulated machine: no chip block behind its
// registers.
orvmachine::BoardSpec BareBoard() {
  orvmachine::BoardSpec spec;
  spec.parts = 0;
  return spec;
}

void BM_PollReadNoLog(benchmark::State& state) {
  orvmachine::Machine machine;
  Board& board = machine.AddBoard(BareBoard()).board;
  board.SetLogging(false, false);
  for (auto _ : state) {
    benchmark::DoNotOptimize(board.RegRead(0x1FDA, 1));
    if (board.ReadsSinceWrite() > 1000000) board.RegWrite(0x10, 4, 0);
  }
}
BENCHMARK(BM_PollReadNoLog);

void BM_PollReadLogged(benchmark::State& state) {
  orvmachine::Machine machine;
  Board& board = machine.AddBoard(BareBoard()).board;
  board.SetLogCapacity(4096);
  for (auto _ : state) {
    benchmark::DoNotOptimize(board.RegRead(0x1FDA, 1));
    if (board.ReadsSinceWrite() > 1000000) board.RegWrite(0x10, 4, 0);
  }
}
BENCHMARK(BM_PollReadLogged);

void BM_HookedRead(benchmark::State& state) {
  orvmachine::Machine machine;
  Board& board = machine.AddBoard(BareBoard()).board;
  board.SetLogging(false, false);
  board.SetReadHook(0x1FDA, 1, [](Board& b, RegAccess, uint32_t) {
    return (b.GetClock().Now() & 0x100000) ? 0x08u : 0x00u;
  });
  for (auto _ : state) {
    benchmark::DoNotOptimize(board.RegRead(0x1FDA, 1));
    if (board.ReadsSinceWrite() > 1000000) board.RegWrite(0x10, 4, 0);
  }
}
BENCHMARK(BM_HookedRead);

void BM_DwordWrite(benchmark::State& state) {
  orvmachine::Machine machine;
  Board& board = machine.AddBoard(BareBoard()).board;
  board.SetLogging(false, false);
  uint32_t value = 0;
  for (auto _ : state) {
    board.RegWrite(0x1000 + (value & 0x3C), 4, value);
    ++value;
  }
}
BENCHMARK(BM_DwordWrite);

}  // namespace
