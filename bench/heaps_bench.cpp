// Region heaps with n blocks in use (10^2 to 10^5), a free gap between
// every two: building such a heap, one allocation and its free, two
// allocations freed in the order they were made, and one lowest-address
// allocation and its free. Each pattern runs next to the same number of
// insertions and removals on a std::map holding as many entries as the
// heap has regions: the heap's cost should grow with n no faster than the
// map's.
#include <benchmark/benchmark.h>

#include <map>
#include <vector>

#include "kernel/vidmem/heaps.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

namespace {

constexpr uint32_t kHeapBytes = 512u << 20;

uint64_t BlockBytes(uint64_t i) { return 1024 + 32 * (i % 7); }
uint64_t RequestBytes(uint32_t i) { return 512 + 32 * (i % 5); }

// A heap of n blocks in use: 2n blocks made, every other one given back.
struct Fragmented {
  orvsim::Simulation sim;
  kglue::Glue glue;  // the kernel build allocates through the glue
  uint8_t ok = 0;
  MmRegionHeap heap{&ok, nullptr, kHeapDeviceAddress, 0, nullptr, kHeapBytes, 32};
  std::vector<MmBlock*> live;

  explicit Fragmented(int64_t n) { Build(n); }
  ~Fragmented() { Clear(); }

  void Build(int64_t n) {
    std::vector<MmBlock*> blocks;
    blocks.reserve(2 * n);
    for (int64_t i = 0; i < 2 * n; ++i) blocks.push_back(heap.Allocate(BlockBytes(i), 32));
    for (int64_t i = 0; i < 2 * n; i += 2) heap.Free(blocks[i]);
    live.clear();
    for (int64_t i = 1; i < 2 * n; i += 2) live.push_back(blocks[i]);
  }
  void Clear() {
    for (MmBlock* block : live) heap.Free(block);
    live.clear();
  }
};

// The map beside it: one entry per region of the heap.
std::map<uint64_t, uint64_t> RegionMap(int64_t n) {
  std::map<uint64_t, uint64_t> map;
  uint64_t at = 0;
  for (int64_t i = 0; i < 2 * n; ++i) {
    map.emplace(at, BlockBytes(i));
    at += BlockBytes(i);
  }
  map.emplace(at, kHeapBytes - at);
  return map;
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {100, 1000, 10000, 100000}) b->Arg(n);
}

void BM_HeapBuild(benchmark::State& state) {
  const int64_t n = state.range(0);
  orvsim::Simulation sim;
  kglue::Glue glue;
  for (auto _ : state) {
    uint8_t ok = 0;
    MmRegionHeap heap(&ok, nullptr, kHeapDeviceAddress, 0, nullptr, kHeapBytes, 32);
    std::vector<MmBlock*> blocks;
    blocks.reserve(2 * n);
    for (int64_t i = 0; i < 2 * n; ++i) blocks.push_back(heap.Allocate(BlockBytes(i), 32));
    for (int64_t i = 0; i < 2 * n; i += 2) heap.Free(blocks[i]);
    benchmark::DoNotOptimize(heap.GetFreeBytes());
  }
  state.SetItemsProcessed(state.iterations() * 3 * n);  // allocations and frees
}
BENCHMARK(BM_HeapBuild)->Apply(Sizes)->Unit(benchmark::kMillisecond);

void BM_MapBuild(benchmark::State& state) {
  const int64_t n = state.range(0);
  for (auto _ : state) {
    std::map<uint64_t, uint64_t> map;
    uint64_t at = 0;
    for (int64_t i = 0; i < 2 * n; ++i) {
      map.emplace(at, BlockBytes(i));
      at += BlockBytes(i);
    }
    for (auto it = map.begin(); it != map.end(); ++it) it->second |= 1;  // the frees
    benchmark::DoNotOptimize(map.size());
  }
  state.SetItemsProcessed(state.iterations() * 3 * n);
}
BENCHMARK(BM_MapBuild)->Apply(Sizes)->Unit(benchmark::kMillisecond);

// The largest region (the free rest at the end) gives the block; its free
// merges it back.
void BM_HeapAllocateFree(benchmark::State& state) {
  Fragmented f(state.range(0));
  uint32_t i = 0;
  for (auto _ : state) {
    MmBlock* block = f.heap.Allocate(RequestBytes(++i), 64);
    f.heap.Free(block);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeapAllocateFree)->Apply(Sizes);

void BM_MapAllocateFree(benchmark::State& state) {
  std::map<uint64_t, uint64_t> map = RegionMap(state.range(0));
  const uint64_t rest = map.rbegin()->first;
  uint32_t i = 0;
  for (auto _ : state) {
    const uint64_t bytes = RequestBytes(++i);
    map.emplace(rest + bytes, 0);  // the split
    map.erase(rest + bytes);       // the merge
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapAllocateFree)->Apply(Sizes);

// Two blocks, freed in the order they were made: the first one's free
// leaves a small free region between used ones.
void BM_HeapTwoFreedInOrder(benchmark::State& state) {
  Fragmented f(state.range(0));
  uint32_t i = 0;
  for (auto _ : state) {
    MmBlock* a = f.heap.Allocate(RequestBytes(++i), 64);
    MmBlock* b = f.heap.Allocate(RequestBytes(++i), 64);
    f.heap.Free(a);
    f.heap.Free(b);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeapTwoFreedInOrder)->Apply(Sizes);

void BM_MapTwoFreedInOrder(benchmark::State& state) {
  std::map<uint64_t, uint64_t> map = RegionMap(state.range(0));
  const uint64_t rest = map.rbegin()->first;
  uint32_t i = 0;
  for (auto _ : state) {
    const uint64_t a = RequestBytes(++i);
    const uint64_t b = RequestBytes(++i);
    map.emplace(rest + a, 0);
    map.emplace(rest + a + b, 0);
    map.erase(rest + a);
    map.erase(rest + a + b);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapTwoFreedInOrder)->Apply(Sizes);

// The lowest region that fits (the first gap), and the block's free.
void BM_HeapLowestAddress(benchmark::State& state) {
  Fragmented f(state.range(0));
  uint32_t i = 0;
  for (auto _ : state) {
    MmHeapRequest request;
    request.size = RequestBytes(++i);
    request.alignment = 64;
    request.flags = kRequestLow;
    MmBlock* block = f.heap.AllocateRequest(request);
    f.heap.Free(block);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeapLowestAddress)->Apply(Sizes);

void BM_MapLowestAddress(benchmark::State& state) {
  std::map<uint64_t, uint64_t> map = RegionMap(state.range(0));
  uint32_t i = 0;
  for (auto _ : state) {
    const uint64_t bytes = RequestBytes(++i);
    auto gap = map.lower_bound(0);
    map.emplace(gap->first + bytes, 0);
    map.erase(gap->first + bytes);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapLowestAddress)->Apply(Sizes);

}  // namespace
