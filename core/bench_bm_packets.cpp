// Packet writing into the primary buffer: a 2D mix of solid fills and copies
// stored through Reserve, against a plain memcpy of the same bytes.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "core/bm_prim_int.h"

namespace {

// One solid fill (3 + 5 words) and one copy (5 + 3 words).
constexpr uint32_t kFill[] = {0x2121C6C5, 0x00010002, 0x00300040,
                              0xC9C8C7C0, 0x0000CC01, 0x11, 0x22, 0x33};
constexpr uint32_t kCopy[] = {0x8B8A8988, 1, 2, 3, 4, 0x2121C6C5, 0x00050006, 0x00100010};

struct Pool {
  Pool() {
    common = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common->sharedLocked = &shared;
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, 1 << 20);
    pool = new BmBufferPool(common, 0, o);
    pool->Open();
  }
  ~Pool() {
    delete pool;
    free(common);
  }
  SharedLockedData_t shared = {};
  CommonData* common;
  BmBufferPool* pool;
};

void BM_WritePacketMix(benchmark::State& state) {
  Pool p;
  for (auto _ : state) {
    for (int i = 0; i < 1024; ++i) {
      uint32_t* at = p.pool->Reserve(8);
      for (uint32_t w : kFill) *at++ = w;
      at = p.pool->Reserve(8);
      for (uint32_t w : kCopy) *at++ = w;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 2048);
  state.SetBytesProcessed(state.iterations() * 2048 * 32);
}
BENCHMARK(BM_WritePacketMix);

void BM_MemcpySameBytes(benchmark::State& state) {
  std::vector<uint32_t> source;
  for (int i = 0; i < 1024; ++i) {
    source.insert(source.end(), kFill, kFill + 8);
    source.insert(source.end(), kCopy, kCopy + 8);
  }
  std::vector<uint32_t> target(source.size());
  for (auto _ : state) {
    memcpy(target.data(), source.data(), source.size() * 4);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 2048);
  state.SetBytesProcessed(state.iterations() * 2048 * 32);
}
BENCHMARK(BM_MemcpySameBytes);

}  // namespace
