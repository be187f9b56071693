// The transform-and-lighting update pass over a started device, in passes
// per second with the glue allocations counted (none once warm): a pass
// with nothing dirty and one with a world matrix changed (the per-draw
// cost), a full pass with twelve lights and 32 blend matrices, and input
// layout selection among 64 entries. Beside them the bare matrix work a
// world change needs (two products and an inverse of math_bench's Matrix)
// and a 64-byte compare, what a clean pass cannot go below.
#include <benchmark/benchmark.h>

#include <string.h>

#include <memory>

#include "bench/started_kernel.h"
#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "xdriver/matrix.h"

namespace {

constexpr uint32_t kLayout[6] = {0x1 | 0x4 | 0x20 | 2u << 16, 0x100, 0x0, 0x0000FF00, 0, 0xFF};

uint32_t Bits(float f) {
  uint32_t b;
  memcpy(&b, &f, 4);
  return b;
}

struct Setup : orvbench::StartedKernel {
  Setup() {
    block = std::make_unique<VertexProcessingBlock>();
    memset(block.get(), 0, sizeof *block);
    memset(lights, 0, sizeof lights);
    for (uint32_t i = 0; i < 16; ++i) {
      lights[i].type = 1 + i % 3;
      for (int k = 0; k < 4; ++k) lights[i].diffuse[k] = lights[i].specular[k] = Bits(0.5f);
      lights[i].attenuation[0] = Bits(1.0f);
      lights[i].direction[2] = Bits(1.0f);
      lights[i].falloff = Bits(1.0f);
      table[i] = &lights[i];
    }
    block->lightTable = table;
    block->lightTableSize = 16;
    memcpy(block->layout, kLayout, sizeof kLayout);
    block->control = 5 | 3u << 4;
    block->viewportGroup.scale[0] = block->viewportGroup.scale[1] = Bits(1.0f);
    block->viewportGroup.size[0] = 640;
    block->viewportGroup.size[1] = 480;
    block->pointSize = block->lineWidth = Bits(1.0f);
    for (int i = 0; i < 16; ++i) {
      const uint32_t v = Bits(i % 5 == 0 ? 2.0f : 0.125f * static_cast<float>(i));
      block->view.m[i] = block->projection.m[i] = v;
      for (auto& w : block->world) w.m[i] = v;
    }
    setup.reset(new TnlSetup);
    setup->SetProgramBuilder(common != nullptr ? common->vertexProgramBuilder : nullptr);
    setup->AttachContext(&record);
    setup->SetModeBits(1);
  }
  ~Setup() { setup.reset(); }
  bool Full() {
    block->transformDirty = block->matrixDirty = block->worldDirty = ~0u;
    block->texCoords.dirty = block->texCoords.dirty1 = ~0u;
    block->fog.dirty = block->third.dirty = block->viewportGroup.dirty = ~0u;
    setup->force = 1;
    return setup->Update(block.get(), &fetch, &hw);
  }

  std::unique_ptr<VertexProcessingBlock> block;
  LightRecord lights[16];
  LightRecord* table[16] = {};
  TnlStateRecord record = {};
  VertexEngineBlock hw = {};
  VertexFetchControl fetch = {};
  std::unique_ptr<TnlSetup> setup;
};

void Count(benchmark::State& state, Setup& s, uint64_t before) {
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}

void BM_UpdateNothingDirty(benchmark::State& state) {
  Setup s;
  if (s.common == nullptr || !s.Full()) return state.SkipWithError("no set-up");
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) benchmark::DoNotOptimize(s.setup->Update(s.block.get(), &s.fetch, &s.hw));
  Count(state, s, before);
}
BENCHMARK(BM_UpdateNothingDirty);

void BM_UpdateOneWorldMatrix(benchmark::State& state) {
  Setup s;
  if (s.common == nullptr || !s.Full()) return state.SkipWithError("no set-up");
  const uint64_t before = s.glue->AllocationCount();
  uint32_t tick = 0;
  for (auto _ : state) {
    s.block->world[0].m[12] = Bits(static_cast<float>(++tick & 0xFF));
    s.block->matrixDirty = 1;
    s.block->worldDirty = 1;
    benchmark::DoNotOptimize(s.setup->Update(s.block.get(), &s.fetch, &s.hw));
  }
  Count(state, s, before);
}
BENCHMARK(BM_UpdateOneWorldMatrix);

void BM_UpdateFullTwelveLightsIndexedBlend(benchmark::State& state) {
  Setup s;
  if (s.common == nullptr) return state.SkipWithError("no set-up");
  s.block->flags = kVfLighting | 1u << kVfIndexedBlendShift;
  s.block->tnlMode = 5u << 14;
  s.block->enabledLightCount = 12;
  for (uint32_t i = 0; i < 12; ++i) s.block->enabledLights[i] = i + 1;
  if (!s.Full()) return state.SkipWithError("the first pass failed");
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) benchmark::DoNotOptimize(s.Full());
  Count(state, s, before);
}
BENCHMARK(BM_UpdateFullTwelveLightsIndexedBlend);

void BM_SelectAmong64Layouts(benchmark::State& state) {
  Setup s;
  if (s.common == nullptr) return state.SkipWithError("no set-up");
  uint32_t keys[64][6];
  for (uint32_t i = 0; i < 64; ++i) {
    memcpy(keys[i], kLayout, sizeof kLayout);
    keys[i][4] = i;
    s.setup->SelectInputLayout(keys[i]);
  }
  const uint64_t before = s.glue->AllocationCount();
  uint32_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(s.setup->SelectInputLayout(keys[(i += 37) & 63]));
  Count(state, s, before);
}
BENCHMARK(BM_SelectAmong64Layouts);

// ---- Baselines -----------------------------------------------------------------------------

void BM_BaselineWorldMatrixWork(benchmark::State& state) {
  float values[16];
  for (int i = 0; i < 16; ++i) values[i] = i % 5 == 0 ? 2.0f : 0.125f * static_cast<float>(i);
  Matrix world(values), view(values), projection(values);
  float out[16];
  uint32_t tick = 0;
  for (auto _ : state) {
    world.e[3] = static_cast<float>(++tick & 0xFF);
    const Matrix wv = world * view;
    const Matrix full = wv * projection;
    const Matrix normal = wv.Inverse().Transpose();
    memcpy(out, full.e, sizeof out);
    benchmark::DoNotOptimize(out);
    benchmark::DoNotOptimize(normal.e[0]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineWorldMatrixWork);

void BM_BaselineCompare64Bytes(benchmark::State& state) {
  uint32_t a[16] = {}, b[16] = {};
  for (auto _ : state) {
    benchmark::DoNotOptimize(memcmp(a, b, sizeof a));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineCompare64Bytes);

}  // namespace

