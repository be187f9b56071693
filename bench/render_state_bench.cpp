// The render state's setters: render-state pairs per second, every pair a
// change (the values alternate) over the translated ids, and pairs that
// change nothing; beside a memcpy of the same pairs' bytes.
#include <benchmark/benchmark.h>

#include <string.h>

#include <new>
#include <vector>

#include "kernel/3d/render/render_state.h"

namespace {

// One render state for the whole run: its setters allocate nothing.
RenderState3d* State() {
  alignas(RenderState3d) static unsigned char storage[sizeof(RenderState3d)];
  static RenderState3d* state = new (storage) RenderState3d();
  return state;
}

// Pairs over ids 1 to 171 (the target-mode switch aside), value v.
std::vector<uint32_t> Pairs(uint32_t v) {
  std::vector<uint32_t> pairs;
  for (uint32_t id = 1; id <= 171; ++id) {
    if (id == 62) continue;
    pairs.push_back(id);
    pairs.push_back(v + id);
  }
  return pairs;
}

void BM_SetRenderStatesChanging(benchmark::State& s) {
  RenderState3d* state = State();
  const std::vector<uint32_t> a = Pairs(0), b = Pairs(1000);
  const uint32_t count = static_cast<uint32_t>(a.size() / 2);
  bool flip = false;
  for (auto _ : s) {
    state->SetRenderStates(flip ? a.data() : b.data(), count);
    flip = !flip;
    benchmark::ClobberMemory();
  }
  s.SetItemsProcessed(s.iterations() * count);
}
BENCHMARK(BM_SetRenderStatesChanging);

void BM_SetRenderStatesUnchanged(benchmark::State& s) {
  RenderState3d* state = State();
  const std::vector<uint32_t> a = Pairs(7);
  const uint32_t count = static_cast<uint32_t>(a.size() / 2);
  state->SetRenderStates(a.data(), count);
  for (auto _ : s) {
    state->SetRenderStates(a.data(), count);
    benchmark::ClobberMemory();
  }
  s.SetItemsProcessed(s.iterations() * count);
}
BENCHMARK(BM_SetRenderStatesUnchanged);

void BM_MemcpyOfThePairs(benchmark::State& s) {
  const std::vector<uint32_t> a = Pairs(0);
  std::vector<uint32_t> out(a.size());
  for (auto _ : s) {
    memcpy(out.data(), a.data(), a.size() * 4);
    benchmark::ClobberMemory();
  }
  s.SetItemsProcessed(s.iterations() * (a.size() / 2));
}
BENCHMARK(BM_MemcpyOfThePairs);

}  // namespace
