// Bus-to-processor translation of system buffers and heap churn of the
// local-DMA surface manager.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/mm_surface_manager.h"
#include "core/phys_mem_mapper.h"

namespace {

void BM_GetBufferLinAddress(benchmark::State& state) {
  PhysMemMapper mapper(nullptr);
  const int buffers = static_cast<int>(state.range(0));
  for (int i = 0; i < buffers; ++i) {
    mapper.DeclareSurfaceBuffer(reinterpret_cast<void*>(0x7f0000000000 + 0x100000ull * i),
                                0x10000000ull + 0x40000ull * i, 16);
  }
  std::mt19937 random(1);
  std::vector<uint64_t> addresses(4096);
  for (auto& address : addresses) {
    address = 0x10000000ull + 0x40000ull * (random() % buffers) + random() % 0x10000;
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mapper.GetBufferLinAddress(addresses[i++ & 4095]));
  }
}
BENCHMARK(BM_GetBufferLinAddress)->Arg(4)->Arg(64);

void BM_HeapChurn(benchmark::State& state) {
  MemoryBank heap;
  heap.start = 0;
  heap.size = 64u << 20;
  heap.Reset();
  const int live = static_cast<int>(state.range(0));
  std::mt19937 random(2);
  std::vector<uint32_t> offsets;
  uint8_t ok = 0;
  for (int i = 0; i < live; ++i) {
    uint32_t offset = heap.Allocate(&ok, 4096 + random() % 65536, false, 256);
    if (ok) offsets.push_back(offset);
  }
  for (auto _ : state) {
    const size_t victim = random() % offsets.size();
    heap.Free(offsets[victim]);
    const uint32_t offset = heap.Allocate(&ok, 4096 + random() % 65536, false, 256);
    offsets[victim] = ok ? offset : 0xFFFFFFFF;  // a failed one frees nothing later
  }
}
BENCHMARK(BM_HeapChurn)->Arg(32)->Arg(256);

}  // namespace
