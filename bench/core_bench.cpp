// Lookups in the device and buffer maps, and the device copy through the
// mem services, which the DMA and surface paths run per call.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/os.h"
#include "core/otl_map.h"

namespace {

void BM_MapFind(benchmark::State& state) {
  Otl::Map<unsigned int, void*> map;
  const unsigned count = static_cast<unsigned>(state.range(0));
  for (unsigned i = 0; i < count; ++i) map.insert({i * 4096, nullptr});
  unsigned key = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(key));
    key = (key + 7 * 4096) % (count * 4096);
  }
}
BENCHMARK(BM_MapFind)->Arg(16)->Arg(1024)->Arg(65536);

void BM_MapInsertErase(benchmark::State& state) {
  Otl::Map<unsigned int, void*> map;
  for (unsigned i = 0; i < 1024; ++i) map.insert({i * 2, nullptr});
  unsigned key = 1;
  for (auto _ : state) {
    auto result = map.insert({key, nullptr});
    map.erase(result.first);
    key = (key + 2) % 2048;
  }
}
BENCHMARK(BM_MapInsertErase);

// The device copy (memWrite into a mapped window), in register writes per
// second: a dword-aligned copy of n bytes is n / 4 dword writes.
void ReportDwordWrites(benchmark::State& state) {
  const auto writes = static_cast<double>(state.iterations()) * (state.range(0) / 4);
  state.counters["writes/s"] = benchmark::Counter(writes, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MemWrite(benchmark::State& state) {
  std::vector<uint32_t> window(8192 / 4), source(state.range(0) / 4, 0x5A5A5A5A);
  for (auto _ : state) {
    memWrite(window.data(), 0, source.data(), static_cast<uint32_t>(state.range(0)));
    benchmark::ClobberMemory();
  }
  ReportDwordWrites(state);
}
BENCHMARK(BM_MemWrite)->Arg(64)->Arg(4096);

// The floor: the same dwords stored directly into the same window.
void BM_VolatileStoresSameWindow(benchmark::State& state) {
  std::vector<uint32_t> window(8192 / 4), source(state.range(0) / 4, 0x5A5A5A5A);
  volatile uint32_t* out = window.data();
  for (auto _ : state) {
    for (size_t i = 0; i < source.size(); ++i) out[i] = source[i];
    benchmark::ClobberMemory();
  }
  ReportDwordWrites(state);
}
BENCHMARK(BM_VolatileStoresSameWindow)->Arg(64)->Arg(4096);

}  // namespace
