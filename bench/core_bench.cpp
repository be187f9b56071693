// Lookups in the device and buffer maps, and copies through the mem
// services, which the DMA and surface paths run per call.
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

void BM_MemWrite(benchmark::State& state) {
  std::vector<unsigned char> window(8192), source(state.range(0));
  for (auto _ : state) {
    memWrite(window.data(), 2, source.data(), static_cast<uint32_t>(source.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemWrite)->Arg(64)->Arg(4096);

}  // namespace
