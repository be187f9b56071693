// Cost of xf86ReadMmio32/xf86WriteMmio32: plain memory with no register
// mapping, plain memory while register windows are mapped (the frame-buffer
// case), and a mapped register window (routed to the board).
#include <fcntl.h>
#include <sys/mman.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "platform/board/simulation.h"
#include "platform/machine/machine.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace {

// Bare boards of the simulated machine (no chip block behind their
// registers), their register windows mapped.
struct Machine {
  Machine(int boards) {
    for (int i = 0; i < boards; ++i) {
      orvmachine::BoardSpec spec;
      spec.parts = 0;
      orvsim::Board& board = machine.AddBoard(spec).board;
      board.SetLogging(false, false);
      board.SetWatchdogBound(UINT64_MAX);
      this->boards.push_back(&board);
    }
    mem = xf86open("/dev/mem", O_RDWR);
    for (orvsim::Board* board : this->boards) {
      for (const orvsim::BarInfo& bar : board->Bars()) {
        if (bar.kind != orvsim::ResourceKind::kRegisters) continue;
        regs.push_back(xf86mmap(nullptr, bar.size, PROT_READ | PROT_WRITE, MAP_SHARED, mem,
                                static_cast<off_t>(bar.base)));
      }
    }
  }
  ~Machine() { xf86close(mem); }

  orvmachine::Machine machine;
  xstub::Sandbox box;
  std::vector<orvsim::Board*> boards;
  std::vector<void*> regs;
  int mem = -1;
};

void BM_ReadPlainNoWindows(benchmark::State& state) {
  xstub::Sandbox box;
  std::vector<uint32_t> memory(1024, 1);
  uint32_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(xf86ReadMmio32(memory.data(), offset));
    offset = (offset + 4) & 0xFFF;
  }
}
BENCHMARK(BM_ReadPlainNoWindows);

void BM_ReadPlainWithWindows(benchmark::State& state) {
  Machine machine(static_cast<int>(state.range(0)));
  std::vector<uint32_t> memory(1024, 1);
  uint32_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(xf86ReadMmio32(memory.data(), offset));
    offset = (offset + 4) & 0xFFF;
  }
}
BENCHMARK(BM_ReadPlainWithWindows)->Arg(1)->Arg(4);

void BM_ReadRegister(benchmark::State& state) {
  Machine machine(static_cast<int>(state.range(0)));
  void* regs = machine.regs.back();
  uint32_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(xf86ReadMmio32(regs, offset));
    offset = (offset + 4) & 0x1FFF;
  }
}
BENCHMARK(BM_ReadRegister)->Arg(1)->Arg(4);

void BM_WriteRegister(benchmark::State& state) {
  Machine machine(1);
  void* regs = machine.regs.back();
  uint32_t offset = 0;
  for (auto _ : state) {
    xf86WriteMmio32(regs, offset, offset);
    offset = (offset + 4) & 0x1FFF;
  }
}
BENCHMARK(BM_WriteRegister);

}  // namespace
