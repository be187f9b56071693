// The engine state's hot paths over a started device: ten texture units
// and four texture stages folded into a context state from their hardware
// state blocks and the context state written as packets, everything dirty,
// in bytes written per second (the fold's and the emission's); beside it a
// memcpy of all those bytes, the fold's into the context state's texture
// records and the emission's to where it writes them in the stream buffer;
// the emission alone; a render context's whole per-draw application in
// front of the emission; Execute of the current state with nothing dirty;
// and Execute switching between two states, which re-emits what the other
// one wrote (the board runs the packets). Glue allocations made in the
// loop are counted (none).
#include <benchmark/benchmark.h>

#include <string.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "bench/started_kernel.h"
#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/hw_state_block.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_device.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

namespace {

struct Started : orvbench::StartedKernel {
  Started() { owner = common != nullptr ? common->engineOwner3d : nullptr; }
  ~Started() { EmptyRenderContextTable(); }

  // A render context of the started device, or null.
  RenderContext3d* NewRenderContext() {
    if (pdev == nullptr) return nullptr;
    RenderContextRequest3d request{nullptr, pdev, 4321, 0, {nullptr, nullptr}, 0};
    if (!CreateRenderContext(&request)) return nullptr;
    return RenderContextTableGet(request.handle);
  }

  EngineOwner3d* owner = nullptr;
};

void MarkAll(ContextState3d& s) {
  s.dirty.words[0] = kCsDirtyBlockGroups;
  s.dirty.words[1] = s.dirty.words[2] = 0xFFFFFFFF;
  s.fogBlock[0] = 3;  // the fog table goes out too
  s.textureUnits.stageCount = 4;
  s.textureUnits.unitCount = 10;
}

// The words one emission of everything writes.
std::vector<uint32_t> EmittedImage(Started& s, ContextState3d& state) {
  BmSecondaryInt* stream = s.common->secondaryStream;
  uint32_t* from = stream->cursor;
  MarkAll(state);
  state.Emit(stream);
  std::vector<uint32_t> image(from, stream->cursor);
  stream->cursor = from;
  return image;
}

// Runs step, which writes `bytes` into the stream, once per iteration,
// the stream rewound after each so that it is written again in place and
// nothing is executed; counts the glue allocations the loop makes.
template <class Step>
void TimeInPlace(benchmark::State& state, Started& s, size_t bytes, Step step) {
  BmSecondaryInt* stream = s.common->secondaryStream;
  uint32_t* from = stream->cursor;
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    if (!step(stream)) return state.SkipWithError("application failed");
    benchmark::ClobberMemory();
    stream->cursor = from;
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// Stage records filled once, as a blit leaves them: four enabled stages.
struct FilledStages : StageStateBlock {
  FilledStages() {
    stageCount = kHwStageRecords;
    for (uint32_t i = 0; i < kHwStageRecords; ++i)
      for (uint32_t k = 0; k < 12; ++k) stages[i].words[k] = 0x100 * (i + 1) + k;
  }
  bool EmitPending() override { return true; }
  void FlushSources() override {}
  bool BuildStages() override { return true; }
};

// Ten unit records, each with its own words C and D and its second group.
struct FilledUnits : HwStateBlock {
  FilledUnits() {
    unitCount = kHwUnitRecords;
    for (uint32_t i = 0; i < kHwUnitRecords; ++i)
      units[i] = {kHwUnitFull | kHwUnitSecondGroup, 0x80 | i, 0x400400, 1, 2, 3, 4, 5, 6};
  }
};

// The unit and stage blocks folded into the state, then everything dirty.
bool ApplyBlocks(FilledUnits& units, FilledStages& stages, ContextState3d& cs) {
  const bool applied = units.ApplyTo(cs) && stages.ApplyTo(cs);
  MarkAll(cs);
  return applied;
}

// What the fold of the unit and stage blocks and the emission after it
// write: the words of the context state's stage and unit records the fold
// stores (found by filling the records with a marker first), and the
// words the emission writes into the stream.
struct FoldAndEmission {
  size_t foldBytes = 0;
  size_t emissionBytes = 0;
};
FoldAndEmission BytesOfFoldAndEmission(Started& s) {
  ContextState3d cs(s.owner);
  FilledUnits units;
  FilledStages stages;
  constexpr uint32_t kMarker = 0x5EEDF00D;
  TextureUnitBlock& block = cs.textureUnits;
  for (TextureStageRecord& r : block.stages) std::fill(std::begin(r.words), std::end(r.words), kMarker);
  for (TextureUnitRecord& r : block.units) std::fill(std::begin(r.words), std::end(r.words), kMarker);
  FoldAndEmission out;
  if (!ApplyBlocks(units, stages, cs)) return out;
  for (const TextureStageRecord& r : block.stages)
    out.foldBytes += 4 * static_cast<size_t>(std::count_if(std::begin(r.words), std::end(r.words),
                                                            [](uint32_t w) { return w != kMarker; }));
  for (const TextureUnitRecord& r : block.units)
    out.foldBytes += 4 * static_cast<size_t>(std::count_if(std::begin(r.words), std::end(r.words),
                                                            [](uint32_t w) { return w != kMarker; }));
  BmSecondaryInt* stream = s.common->secondaryStream;
  uint32_t* from = stream->cursor;
  cs.Emit(stream);
  out.emissionBytes = 4 * static_cast<size_t>(stream->cursor - from);
  stream->cursor = from;
  return out;
}

void ReportFoldAndEmission(benchmark::State& state, const FoldAndEmission& b) {
  state.counters["fold_bytes"] = static_cast<double>(b.foldBytes);
  state.counters["emission_bytes"] = static_cast<double>(b.emissionBytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (b.foldBytes + b.emissionBytes)));
}

void BM_ApplyAndEmitEverythingDirty(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  const FoldAndEmission bytes = BytesOfFoldAndEmission(s);
  ContextState3d cs(s.owner);
  FilledUnits units;
  FilledStages stages;
  TimeInPlace(state, s, bytes.emissionBytes, [&](BmSecondaryInt* out) {
    if (!ApplyBlocks(units, stages, cs)) return false;
    cs.Emit(out);
    return true;
  });
  ReportFoldAndEmission(state, bytes);
}
BENCHMARK(BM_ApplyAndEmitEverythingDirty);

// The baseline of the fold and the emission: memcpy of the bytes each
// writes to where it writes them, the fold's into the context state's
// texture records (as one block from the first stage record on, which is
// where the fold's scattered words lie) and the emission's into the
// stream buffer at the emission's place.
void BM_MemcpyOfTheFoldAndEmissionBytes(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  const FoldAndEmission bytes = BytesOfFoldAndEmission(s);
  ContextState3d cs(s.owner);
  TextureUnitBlock& block = cs.textureUnits;
  if (bytes.foldBytes > sizeof block.stages + sizeof block.units) return state.SkipWithError("the fold outgrew the records");
  const std::vector<uint8_t> fold(bytes.foldBytes, 0x5A);
  const std::vector<uint32_t> emission = EmittedImage(s, cs);
  if (4 * emission.size() != bytes.emissionBytes) return state.SkipWithError("the emissions differ");
  BmSecondaryInt* stream = s.common->secondaryStream;
  uint32_t* from = stream->cursor;
  for (auto _ : state) {
    memcpy(block.stages, fold.data(), fold.size());
    uint32_t* at = stream->Reserve(static_cast<uint32_t>(emission.size()));
    if (at == nullptr) return state.SkipWithError("no room");
    memcpy(at, emission.data(), bytes.emissionBytes);
    benchmark::ClobberMemory();
    stream->cursor = from;
  }
  ReportFoldAndEmission(state, bytes);
}
BENCHMARK(BM_MemcpyOfTheFoldAndEmissionBytes);

// A render context's application before each draw (every group but the
// stipple pattern, the transform-and-lighting pass and the pixel program's
// selection included), then the emission of everything.
void BM_RenderStateApplyAndEmit(benchmark::State& state) {
  Started s;
  RenderContext3d* context = s.owner != nullptr ? s.NewRenderContext() : nullptr;
  if (context == nullptr || context->contextState == nullptr) return state.SkipWithError("no render context");
  ContextState3d& cs = *context->contextState;
  TimeInPlace(state, s, 4 * EmittedImage(s, cs).size(), [&](BmSecondaryInt* out) {
    // Every group but the stipple pattern: its step makes the line-stipple
    // surface again and writes up to 20 KB of images into surfaces, an
    // upload measured on its own below, not an emission.
    context->state.MarkAllDirty();
    context->state.stipple.dirty = 0;
    if (!context->state.Apply()) return false;
    MarkAll(cs);
    cs.Emit(out);
    return true;
  });
}
BENCHMARK(BM_RenderStateApplyAndEmit);

void BM_EmitEverythingDirty(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d cs(nullptr);
  TimeInPlace(state, s, 4 * EmittedImage(s, cs).size(), [&](BmSecondaryInt* out) {
    MarkAll(cs);
    cs.Emit(out);
    return true;
  });
}
BENCHMARK(BM_EmitEverythingDirty);

// The stipple step of an application alone: both images built and
// written into their surfaces, the line-stipple surface made again (its
// two allocations are the step's own), in image bytes per second.
void BM_ApplyStipplePattern(benchmark::State& state) {
  Started s;
  RenderContext3d* context = s.owner != nullptr ? s.NewRenderContext() : nullptr;
  if (context == nullptr) return state.SkipWithError("no render context");
  RenderState3d& rs = context->state;
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    rs.stipple.dirty = ~0u;
    if (!rs.Apply()) return state.SkipWithError("application failed");
  }
  const uint32_t repeat = AuxSurfaces3d::RepeatOf(rs.stipple.id10);
  const int64_t bytes = 4 * (kAuxSide * kAuxSide + 16 * repeat);
  state.counters["allocations"] =
      benchmark::Counter(static_cast<double>(s.glue->AllocationCount() - before), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_ApplyStipplePattern);


void BM_ExecuteNothingDirty(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d a(s.owner);
  s.owner->Execute(&a, 0, false);
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    s.owner->Execute(&a, 0, true);
    benchmark::ClobberMemory();
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExecuteNothingDirty);

void BM_ExecuteSwitchingTwoStates(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d a(s.owner), b(s.owner);
  b.depthStencilBlock[4] = 1;
  b.dirty.words[0] = kCsDirtyDepth;
  s.owner->Execute(&a, 0, false);
  s.owner->Execute(&b, 0, false);
  const uint64_t before = s.glue->AllocationCount();
  bool flip = false;
  for (auto _ : state) {
    s.owner->Execute(flip ? &a : &b, 0, false);
    flip = !flip;
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExecuteSwitchingTwoStates);

}  // namespace
