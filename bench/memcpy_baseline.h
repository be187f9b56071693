// The baseline most emission benchmarks stand beside: memcpy of as many
// bytes as the measured code writes (state.range(0)), between two buffers
// that stay in the nearest cache.
#pragma once

#include <benchmark/benchmark.h>
#include <string.h>

#include <cstdint>
#include <vector>

namespace orvbench {

inline void MemcpyBytes(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> from(n + 1, 0x5A), to(n + 1);
  for (auto _ : state) {
    memcpy(to.data(), from.data(), n);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n));
}

}  // namespace orvbench
