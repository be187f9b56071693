// Kernel core hot paths against fair baselines: a register write and read
// through the glue under the register-write guard next to the board's own
// access (the glue and the guard should at most double it), and the
// kernel's ordered map next to std::map on 10^5 keys.
#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <vector>

#include "core/otl_map.h"
#include "kernel/kernel_device.h"
#include "kernel/register_guard.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

// A loaded module with the board's device, for register access.
struct Machine {
  orvsim::Simulation sim;
  orvsim::Board& board = sim.AddBoard(orvsim::BoardConfig());
  kglue::Glue glue;
  OrvDevice* device;
  KernelDevice* kdev;
  Machine() {
    board.SetLogging(false, false);
    glue.Use(&orv_kstrn_driver);
    device = glue.AddBoard(board);
    glue.Load();
    kdev = glue.CreateDevice(device);
  }
};

// Registers 0x100 apart: the guard's rule runs, its dummy write does not.
constexpr uint32_t kRegs[] = {0x1000, 0x1100, 0x1200, 0x1300};

void BM_BoardRegWrite(benchmark::State& state) {
  Machine m;
  uint32_t i = 0;
  for (auto _ : state) {
    ++i;
    m.board.RegWrite(kRegs[i & 3], 4, i);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BoardRegWrite);

void BM_GuardedRegWrite(benchmark::State& state) {
  Machine m;
  void* regs = GetDeviceRegisterHandle(m.kdev);
  uint32_t i = 0;
  for (auto _ : state) {
    ++i;
    GuardedWrite(regs, m.kdev->sharedLocked, kRegs[i & 3], i);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GuardedRegWrite);

void BM_BoardRegRead(benchmark::State& state) {
  Machine m;
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m.board.RegRead(kRegs[++i & 3], 4));
    if ((i & 0xFFFFF) == 0) m.board.RegWrite(0x10, 4, 0);  // not a poll for the watchdog
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BoardRegRead);

void BM_GuardedRegRead(benchmark::State& state) {
  Machine m;
  void* regs = GetDeviceRegisterHandle(m.kdev);
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GuardedRead(regs, m.kdev->sharedLocked, kRegs[++i & 3]));
    if ((i & 0xFFFFF) == 0) m.board.RegWrite(0x10, 4, 0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GuardedRegRead);

constexpr size_t kKeys = 100000;

std::vector<uint32_t> Keys() {
  std::mt19937 random(7);
  std::vector<uint32_t> keys(kKeys);
  for (uint32_t& key : keys) key = random();
  return keys;
}

// Adding 10^5 keys with a record each, then deleting them all.
void BM_OtlAddIfAbsent(benchmark::State& state) {
  orvsim::Simulation sim;
  kglue::Glue glue;  // the kernel build allocates through the glue
  const std::vector<uint32_t> keys = Keys();
  for (auto _ : state) {
    Otl::Map<unsigned int, uint32_t*> map;
    for (uint32_t key : keys) map.AddIfAbsent(key);
    map.DeleteAll();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_OtlAddIfAbsent)->Unit(benchmark::kMillisecond);

void BM_StdMapEmplace(benchmark::State& state) {
  const std::vector<uint32_t> keys = Keys();
  for (auto _ : state) {
    std::map<unsigned int, uint32_t*> map;
    for (uint32_t key : keys) {
      auto [it, added] = map.try_emplace(key, nullptr);
      if (added) it->second = new uint32_t(0);
    }
    for (auto& [key, record] : map) delete record;
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapEmplace)->Unit(benchmark::kMillisecond);

void BM_OtlLowerBound(benchmark::State& state) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  const std::vector<uint32_t> keys = Keys();
  Otl::Map<unsigned int, uint32_t*> map;
  for (uint32_t key : keys) map.AddIfAbsent(key);
  uint32_t probe = 0;
  for (auto _ : state) {
    probe = probe * 1664525 + 1013904223;
    benchmark::DoNotOptimize(map.lower_bound(probe));
  }
  map.DeleteAll();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OtlLowerBound);

void BM_StdMapLowerBound(benchmark::State& state) {
  const std::vector<uint32_t> keys = Keys();
  std::map<unsigned int, uint32_t*> map;
  for (uint32_t key : keys) map.emplace(key, nullptr);
  uint32_t probe = 0;
  for (auto _ : state) {
    probe = probe * 1664525 + 1013904223;
    benchmark::DoNotOptimize(map.lower_bound(probe));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StdMapLowerBound);

}  // namespace
