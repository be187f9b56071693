// Cost of register access on the simulated board: polls in driver tests run
// to millions of reads, so the plain path must stay an array access and a
// flag test.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/board/chip_3d.h"
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

// The 3D rasteriser: a 256 x 256 square as two triangles into a 32-bit
// target, with the depth test on (less or equal, writes on) for arg 1.
// Pixels per second beside a memset of the colour bytes as the baseline.
void Rasterise(benchmark::State& state, bool flat) {
  orvmachine::Machine machine;
  orvmachine::BoardSpec spec;
  spec.parts = orvmachine::k3d;
  orvmachine::MachineBoard& b = machine.AddBoard(spec);
  orvsim::Engine3d& engine = *b.engine3d;
  auto reg = [&](uint8_t index, uint32_t value) {
    b.board.Poke(0x1000 + 4u * index, 4, value);
    engine.Write(0x1000 + 4u * index, value);
  };
  auto bits = [](float f) {
    uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
  };
  const bool depth = state.range(0) != 0;
  reg(orvsim::k3dIndexColourAddress, 0x100000);
  reg(orvsim::k3dIndexColourMode, 256u | orvsim::k3dFormatArgb8888 << 24);
  reg(orvsim::k3dIndexDepthAddress, 0x200000);
  reg(orvsim::k3dIndexDepthMode, 256u | orvsim::k3dFormatDepth24Stencil8 << 24);
  reg(orvsim::k3dIndexDepthControl, depth ? 0x17u : 0u);
  reg(orvsim::k3dIndexPrimitiveControl, 3u << orvsim::k3dPrimitiveCodeShift);
  reg(orvsim::k3dIndexEngineControl, orvsim::k3dEngineDrawForm);
  // One vertex at a place: position, then the diffuse colour (which draws
  // on the third place).
  auto vertex = [&](unsigned place, float x, float y, float r, bool end) {
    reg(static_cast<uint8_t>(0x58 + place), bits(1.0f));
    reg(0x5D, bits(0.5f));
    reg(0x5E, bits(y));
    reg(0x60, bits(x));
    reg(static_cast<uint8_t>(0x58 + place), bits(1.0f));
    reg(0x5D, bits(0.25f));
    reg(end ? 0x5F : 0x5E, bits(0.5f));
    reg(0x61, bits(r));
  };
  auto flatColour = [&]() {
    reg(0x5B, bits(1.0f));
    reg(0x5D, bits(0.5f));
    reg(0x5F, bits(0.5f));
    reg(0x61, bits(0.75f));
  };
  for (auto _ : state) {
    vertex(0, 0, 0, 0.0f, false);
    vertex(1, 256, 0, 1.0f, false);
    vertex(2, 0, 256, 0.5f, !flat);
    if (flat) flatColour();
    vertex(0, 256, 256, 0.2f, !flat);
    if (flat) flatColour();
    if (depth) std::memset(b.board.LocalMemory() + 0x200000, 0xFF, 256 * 256 * 4);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 256 * 256);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 256 * 256 * 4);
}
void BM_RasteriseGouraud(benchmark::State& state) { Rasterise(state, false); }
void BM_RasteriseFlat(benchmark::State& state) { Rasterise(state, true); }
BENCHMARK(BM_RasteriseGouraud)->Arg(0)->Arg(1);
BENCHMARK(BM_RasteriseFlat)->Arg(0)->Arg(1);

void BM_RasteriseBaselineMemset(benchmark::State& state) {
  std::vector<uint8_t> target(256 * 256 * 4);
  uint8_t value = 0;
  for (auto _ : state) {
    std::memset(target.data(), value++, target.size());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 256 * 256);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 256 * 256 * 4);
}
BENCHMARK(BM_RasteriseBaselineMemset);

}  // namespace
