// The pixel-program cache's hot paths over a started device: the selection
// and commit of a draw with nothing changed, with one constant changed
// (token 72) and as a cache hit after a state switch, each followed by the
// texture-unit emission it causes, in draws per second and emitted bytes
// per second; the same switching draws with the cache unable to keep the
// program (it is full, so each draw recycles the other state's program
// and builds its own again), the yardstick of the hit; and the build of a
// ten-stage pipeline. Glue allocations made in the loops are counted (none
// on a cache hit).
//
// What a draw emits is counted in two parts: the bytes the context state's
// texture units write into the stream (bytes_per_draw), and the combiner
// stage images the commit writes into the program's register block
// (image_bytes_per_draw; a changed constant reaches only those, as the
// stage images have no engine registers yet, and only the images of the
// stages that read it). The bytes per second count both. The simulated
// board does not run in the loops: the stream is rewound after every
// draw.
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "bench/started_kernel.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/dma_streams.h"
#include "kernel/pixel_state_key.h"

namespace {

struct Started : orvbench::StartedKernel {
  Started() {
    if (pdev == nullptr) return;
    RenderContextRequest3d request{nullptr, pdev, 4321, 0, {nullptr, nullptr}, 0};
    if (CreateRenderContext(&request)) context = RenderContextTableGet(request.handle);
    if (context == nullptr || context->contextState == nullptr || context->programCache == nullptr) {
      context = nullptr;
      return;
    }
    // Two stages over registers of the pipeline, then a first draw.
    PipelineRecord& d = context->state.pipeline;
    d.count = 2;
    for (uint32_t s = 0; s < 2; ++s) {
      d.stages[s].colour.operation = 7;
      d.stages[s].colour.args[0].index = 4;
      d.stages[s].colour.args[1].index = 16;
      d.stages[s].colour.args[2].index = 14;
    }
    // A 256 x 256 texture on stage 0: its unit is what the draws emit.
    if (context->resources != nullptr) {
      SurfaceCreateRequest r;
      r.placement = kPlaceLocal;
      r.format = pdev->formatCatalogue->Find(11);
      r.surfaceType = 3;
      r.width = r.height = 256;
      r.levels = r.depth = 1;
      if (Surface3d* texture = context->resources->CreateSurface(1, &r)) {
        d.textures[0].presence = 1;
        context->state.SetStageTexture(0, texture->resourceHandle, kStageTextureHandle);
      }
    }
    context->state.pixel.dirty |= kPxProgram;
    if (!PixelProgramCacheSelect(context->programCache, &context->state)) context = nullptr;
    ClearMarks();
  }
  ~Started() { EmptyRenderContextTable(); }

  void ClearMarks() {
    if (context == nullptr) return;
    context->state.ClearDirty();
    context->contextState->dirty.words[1] = context->contextState->dirty.words[2] = 0;
  }

  // One draw's pixel-program step as the render state's application takes
  // it: the selection and commit (or the validity check when nothing the
  // program follows changed), then what the context state's texture units
  // write for it; the stream is rewound.
  size_t Draw() {
    RenderState3d& rs = context->state;
    PixelProgramCache* cache = context->programCache;
    bool ok = (rs.pixel.dirty != 0 || PixelProgramCacheNeedsCommit(cache)) ? PixelProgramCacheSelect(cache, &rs)
                                                                           : PixelProgramCacheValid(cache);
    benchmark::DoNotOptimize(ok);
    BmSecondaryInt* stream = common->secondaryStream;
    uint32_t* from = stream->cursor;
    context->contextState->textureUnits.Emit(stream, true, true);
    const size_t bytes = 4 * static_cast<size_t>(stream->cursor - from);
    stream->cursor = from;
    rs.ClearDirty();
    return bytes;
  }

  // The stage-image bytes one step writes in the steady state (after four
  // steps: a program's second commit still takes its counts): every stage
  // image of every program is marked beforehand, and those the step
  // rewrote are counted.
  template <class Step>
  size_t ImageBytes(Step&& step) {
    for (int i = 0; i < 4; ++i) step();
    PixelProgramCache* cache = context->programCache;
    constexpr uint32_t kMark = 0xFFFFFFFF;
    auto each = [&](auto&& f) {
      f(cache->scratch);
      for (auto it = cache->programsByKey.begin(); it != cache->programsByKey.end(); ++it) f(*it->second);
    };
    each([&](PixelProgram& p) {
      for (CombinerStageImage& image : p.images) image.flags = kMark;
    });
    step();
    size_t bytes = 0;
    each([&](PixelProgram& p) {
      for (const CombinerStageImage& image : p.images)
        if (image.flags != kMark) bytes += sizeof image;
    });
    return bytes;
  }

  RenderContext3d* context = nullptr;
};

void Report(benchmark::State& state, size_t bytes, size_t imageBytes, uint64_t allocations, uint32_t units = 0) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (bytes + imageBytes)));
  state.counters["bytes_per_draw"] = static_cast<double>(bytes);
  state.counters["image_bytes_per_draw"] = static_cast<double>(imageBytes);
  state.counters["allocations"] = static_cast<double>(allocations);
  state.counters["units"] = static_cast<double>(units);
}

void BM_SelectNothingChanged(benchmark::State& state) {
  Started s;
  if (s.context == nullptr) return state.SkipWithError("no render context");
  size_t bytes = 0;
  const size_t imageBytes = s.ImageBytes([&] { bytes = s.Draw(); });
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) bytes = s.Draw();
  Report(state, bytes, imageBytes, s.glue->AllocationCount() - before);
}
BENCHMARK(BM_SelectNothingChanged);

// The argument is the constant's slot: 2 is read by the second stage, 6 by
// none of the two (it still lies in the constant block, which is compared
// and taken whole).
void BM_SelectOneConstantChanged(benchmark::State& state) {
  Started s;
  if (s.context == nullptr) return state.SkipWithError("no render context");
  TokenContext3d token{};
  token.current = s.context;
  const uint32_t slot = static_cast<uint32_t>(state.range(0));
  // The token entries are written beforehand, as a client's stream is:
  // every draw changes the constant by one step of its 11-bit image.
  constexpr uint32_t kEntries = 1024;
  std::vector<uint8_t> entries(24 * kEntries, 0);
  for (uint32_t i = 0; i < kEntries; ++i) {
    uint8_t* entry = &entries[24 * i];
    entry[0] = static_cast<uint8_t>(slot & 1);  // index
    entry[4] = static_cast<uint8_t>(slot / 2);  // bank
    const float value = static_cast<float>(i + 1) / 1024;
    memcpy(entry + 8, &value, 4);
  }
  uint32_t next = 0;
  auto step = [&] {
    tokens::SetPixelConstants(&token, &entries[24 * next], 1, 0);
    next = (next + 1) % kEntries;
    return s.Draw();
  };
  size_t bytes = 0;
  const size_t imageBytes = s.ImageBytes([&] { bytes = step(); });
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) bytes = step();
  Report(state, bytes, imageBytes, s.glue->AllocationCount() - before);
}
BENCHMARK(BM_SelectOneConstantChanged)->Arg(2)->Arg(6);

// Draws that switch between two states: they differ in a stage's
// operation and in the texture's minification filter, which its unit's
// sampling word carries.
struct Switching {
  explicit Switching(Started& started) : s(started), rs(started.context->state) {}
  size_t Step() {
    flip ^= 1;
    rs.pipeline.stages[0].colour.operation = flip != 0 ? 7 : 8;
    rs.stages[0].minFilter = static_cast<uint8_t>(1 + flip);
    rs.stages[0].dirty |= kSgFilter;
    rs.pixel.stageSummary |= kSgFilter;
    rs.pixel.dirty |= kPxProgram | kPxStages;
    return s.Draw();
  }
  Started& s;
  RenderState3d& rs;
  uint32_t flip = 0;
};

void BM_SelectCacheHitAfterSwitch(benchmark::State& state) {
  Started s;
  if (s.context == nullptr) return state.SkipWithError("no render context");
  Switching draws(s);
  // Both states are filed before the loop.
  size_t bytes = 0;
  const size_t imageBytes = s.ImageBytes([&] { bytes = draws.Step(); });
  const size_t programs = s.context->programCache->programsByKey.size();
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) bytes = draws.Step();
  Report(state, bytes, imageBytes, s.glue->AllocationCount() - before, s.context->contextState->textureUnits.unitCount);
  state.counters["keyed_programs"] = static_cast<double>(programs);
}
BENCHMARK(BM_SelectCacheHitAfterSwitch);

// The same draws with the cache unable to keep the program: it is filled
// up with programs of keys that order after every state's (the map runs
// in descending byte order, and a full cache recycles its first program),
// so that it holds one of the two states at a time and each draw finds its
// state gone, recycles the other's program and builds its own again. The
// draws that built a program are counted (all of them).
void BM_SelectCacheMissAfterSwitch(benchmark::State& state) {
  Started s;
  if (s.context == nullptr) return state.SkipWithError("no render context");
  PixelProgramCache* cache = s.context->programCache;
  Switching draws(s);
  for (uint32_t i = 0; cache->programsByKey.size() < kKeyedPrograms; ++i) {
    PixelStateKey key = {};
    key.word = 1;
    key.state[kPixelStateBytes - 1] = static_cast<uint8_t>(1 + i);
    PixelProgram* filler = new PixelProgram();
    if (filler == nullptr ||
        !cache->programsByKey.insert(Otl::Pair<const PixelStateKey, PixelProgram*>{key, filler}).second) {
      delete filler;
      return state.SkipWithError("the cache could not be filled");
    }
  }
  size_t bytes = 0;
  uint64_t builds = 0;
  auto step = [&] {
    cache->built = 0;
    bytes = draws.Step();
    builds += cache->built;
  };
  const size_t imageBytes = s.ImageBytes(step);
  builds = 0;
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) step();
  Report(state, bytes, imageBytes, s.glue->AllocationCount() - before, s.context->contextState->textureUnits.unitCount);
  state.counters["builds_per_draw"] = benchmark::Counter(static_cast<double>(builds), benchmark::Counter::kAvgIterations);
  state.counters["keyed_programs"] = static_cast<double>(cache->programsByKey.size());
  if (builds != static_cast<uint64_t>(state.iterations())) state.SkipWithError("a draw found its program kept");
}
BENCHMARK(BM_SelectCacheMissAfterSwitch);

void BM_BuildTenStages(benchmark::State& state) {
  Started s;
  if (s.context == nullptr) return state.SkipWithError("no render context");
  PipelineRecord d = s.context->state.pipeline;
  d.count = 10;
  for (uint32_t i = 0; i < 10; ++i) {
    d.stages[i].colour.operation = i % 11;
    d.stages[i].colour.args[0].index = i % 4;
    d.stages[i].colour.args[1].index = 16;
    d.stages[i].colour.args[2].index = 5;
    d.stages[i].colourEnable = 1;
    d.stages[i].alpha.operation = 1;
    d.stages[i].alpha.args[0].index = 4;
    d.stages[i].alpha.args[1].index = 17;
  }
  for (uint32_t t = 0; t < 2; ++t) d.textures[t].presence = 1;
  PixelProgram* program = new PixelProgram();
  if (program == nullptr) return state.SkipWithError("no program");
  for (auto _ : state) {
    bool ok = program->Build(s.context->programCache, &d, kProgramModeFixed);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  delete program;
}
BENCHMARK(BM_BuildTenStages);

}  // namespace

BENCHMARK_MAIN();
