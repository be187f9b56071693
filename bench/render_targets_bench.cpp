// The render targets' hot paths over a started device: the target set-up
// before a draw and a depth clear of 32 rectangles by the engine, each in
// emitted bytes per second beside a memcpy of the same bytes; and the
// apply of an all-state block, in values per second beside a
// straightforward compare-copy-mark of as many values (each compared with
// what is stored, stored when it differs, its group marked). The set-up
// and the clear write into the secondary stream again in place each time,
// with the stream let go of the primary one for the loop: handing the
// words over then finds no engine, so what is timed is the driver writing
// them, not the simulated board running them (nor the hand-over's execute
// packet and register write, whose cost on the simulated board is the
// board's). Glue allocations made in the loops are counted (none).
#include <benchmark/benchmark.h>

#include <string.h>

#include <type_traits>
#include <vector>

#include "bench/started_kernel.h"
#include "core/common_data.h"
#include "core/heap_object.h"
#include "core/orv_abi.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/state_blocks.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_device.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

namespace {

struct Started : orvbench::StartedKernel {
  BmSecondaryInt* Stream() const { return common->secondaryStream; }
};

// Bytes f writes into the secondary stream once.
template <class F>
uint32_t BytesOf(Started& s, F&& f) {
  const uint32_t* from = s.Stream()->cursor;
  f();
  return static_cast<uint32_t>(4 * (s.Stream()->cursor - from));
}

// Bytes f writes into the secondary stream once it has run before: what a
// loop of it writes each time, without the words of a first run only (the
// clear turns the engine mode on once).
template <class F>
uint32_t SteadyBytesOf(Started& s, F&& f) {
  f();
  return BytesOf(s, f);
}

// For its lifetime the secondary stream hands nothing to the primary one
// (the hand-over fails, nothing is executed) and every Rewind puts its
// write position back where it stood, so that a loop writes its words
// again in place.
class InPlace {
 public:
  explicit InPlace(Started& s) : stream_(s.Stream()), primary_(stream_->primary), from_(stream_->cursor) {
    stream_->primary = nullptr;
  }
  ~InPlace() {
    stream_->cursor = stream_->start = from_;
    stream_->primary = primary_;
  }
  InPlace(const InPlace&) = delete;
  InPlace& operator=(const InPlace&) = delete;
  void Rewind() {
    benchmark::ClobberMemory();
    stream_->cursor = from_;
  }

 private:
  BmSecondaryInt* stream_;
  BmPrimInt* primary_;
  uint32_t* from_;
};

void Memcpy(benchmark::State& state, uint32_t bytes) {
  std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

// Values applied per second (items) and their bytes; the values counted.
void ReportValues(benchmark::State& state, uint32_t values, uint32_t bytes) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * values);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  state.counters["values"] = static_cast<double>(values);
}

// ---- The target set-up -----------------------------------------------------------------------

struct SetUp {
  explicit SetUp(Started& s) {
    target.Attach(s.common, s.Stream(), 1);
    target.kind = kWorkBufferOwn;
    if (TargetBoard3d* board = TargetBoard(s.common)) board->drewLast = &target;
  }
  void Run() {
    target.pendingSwitch = 1;
    EmitRenderTargetSetup(&target);
  }
  RenderTargetState target;
};

void BM_EmitRenderTargetSetup(benchmark::State& state) {
  Started s;
  if (s.common == nullptr) return state.SkipWithError("no device");
  SetUp set(s);
  const uint32_t bytes = BytesOf(s, [&] { set.Run(); });
  InPlace inPlace(s);
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    set.Run();
    inPlace.Rewind();
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.counters["bytes"] = bytes;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_EmitRenderTargetSetup);

void BM_MemcpyOfTheSetUpBytes(benchmark::State& state) {
  Started s;
  if (s.common == nullptr) return state.SkipWithError("no device");
  SetUp set(s);
  Memcpy(state, BytesOf(s, [&] { set.Run(); }));
}
BENCHMARK(BM_MemcpyOfTheSetUpBytes);

// ---- A clear of 32 rectangles ------------------------------------------------------------------

struct Clear {
  explicit Clear(Started& s) : format(19, "depth") {
    target.Attach(s.common, s.Stream(), 1);
    target.viewport[2] = target.clip[2] = 256;
    target.viewport[3] = target.clip[3] = 256;
    depth.format = &format;
    depth.width = depth.height = 256;
    depth.bytesPerPixel = 4;
    target.depthCurrent = &depth;
    if (TargetBoard3d* board = TargetBoard(s.common)) board->switches.fastClear = 1;
    // Rectangles covering the surface, so that each goes to the engine's
    // fast clear (a band would be filled by the processor).
    for (int32_t i = 0; i < 32; ++i) rects[i] = {0, 0, 256, 256};
  }
  ~Clear() { target.depthCurrent = nullptr; }
  void Run() {
    const ClearRecord record = {kClearDepth | kClearStencil, 0, 1.0f, 0};
    ClearTargetRects(&target, record, rects, 32);
  }
  FormatDescriptor format;
  Surface3d depth;
  RenderTargetState target;
  ClearRect rects[32];
};

void BM_ClearTargetRects32(benchmark::State& state) {
  Started s;
  if (s.common == nullptr) return state.SkipWithError("no device");
  Clear clear(s);
  const uint32_t bytes = SteadyBytesOf(s, [&] { clear.Run(); });
  InPlace inPlace(s);
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    clear.Run();
    inPlace.Rewind();
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.counters["bytes"] = bytes;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClearTargetRects32);

void BM_MemcpyOfTheClearBytes(benchmark::State& state) {
  Started s;
  if (s.common == nullptr) return state.SkipWithError("no device");
  Clear clear(s);
  Memcpy(state, SteadyBytesOf(s, [&] { clear.Run(); }));
}
BENCHMARK(BM_MemcpyOfTheClearBytes);

// ---- An all-state block ------------------------------------------------------------------------

// Two blocks of every state, captured from two different states, applied
// in turn so that every value changes: render and stage states, the
// transforms, clip planes, viewport, depth range, vertex shader and the
// 256 client vertex constants.
struct Blocks {
  Blocks() {
    context = OsNew<RenderContext3d>();
    shadow = OsNew<VecConstShadow>();
    if (context == nullptr || shadow == nullptr) return;
    RenderState3d& rs = context->state;
    rs.owner = context;
    rs.constShadow = shadow;
    table = new StateBlockTable(&rs);
    for (uint32_t key : {1u, 2u}) {
      for (uint16_t id : kAllRenderStateIds) {
        const uint32_t pair[2] = {id, key};
        rs.SetRenderStates(pair, 1);
      }
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kAllStageStateIds) rs.SetStageState(s, id, key);
      Matrix4Words m;
      for (uint32_t& w : m.m) w = key;
      for (uint16_t id : kTransformIds) rs.SetTransform(id, m);
      const uint32_t words[6] = {key, key, key, key, key, key};
      for (uint32_t p = 0; p < kMaxClipPlanes; ++p) rs.SetClipPlane(p, words);
      rs.SetViewport(words);
      rs.SetDepthRange(words);
      rs.vertex.vertexShader = key;
      for (uint32_t c = 0; c <= kMaxVertexConstantId; ++c) shadow->image[c].w[0] = key;
      table->Create(key, 1);
    }
  }
  ~Blocks() {
    delete table;
    if (context != nullptr) context->state.constShadow = nullptr;
    OsDelete(context);
    OsDelete(shadow);
  }
  // The values applied: 4 bytes a state, 64 a matrix (id 288 is not
  // applied), 16 a plane, viewport and constant, 8 the depth range, 4 the
  // shader.
  uint32_t StateValues() const {
    return static_cast<uint32_t>(std::size(kAllRenderStateIds)) +
           kBlockStages * static_cast<uint32_t>(std::size(kAllStageStateIds));
  }
  uint32_t Matrices() const { return static_cast<uint32_t>(std::size(kTransformIds)) - 1; }
  uint32_t Bytes() const {
    return 4 * StateValues() + 64 * Matrices() + 16 * kMaxClipPlanes + 16 + 8 + 4 + 16 * (kMaxVertexConstantId + 1);
  }
  // The values applied: each state, matrix, plane, constant, the viewport,
  // the depth range and the shader one value.
  uint32_t Values() const { return StateValues() + Matrices() + kMaxClipPlanes + 3 + kMaxVertexConstantId + 1; }
  RenderContext3d* context = nullptr;
  VecConstShadow* shadow = nullptr;
  StateBlockTable* table = nullptr;
};

void BM_StateBlockApplyAllStates(benchmark::State& state) {
  Started s;
  Blocks blocks;
  if (blocks.table == nullptr) return state.SkipWithError("no table");
  const uint64_t before = s.glue->AllocationCount();
  uint32_t key = 1;
  for (auto _ : state) {
    blocks.table->ApplyBlock(key);
    key ^= 3;
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  ReportValues(state, blocks.Values(), blocks.Bytes());
}
BENCHMARK(BM_StateBlockApplyAllStates);

// The yardstick of the apply: the same values, taken in turn from two
// blocks that differ in every value, each compared with the stored one
// (its bytes), stored when it differs and its own bit marked in a dirty
// set, kind by kind with the kind's size.
template <size_t kSize>
void CompareCopyMark(uint8_t* stored, const uint8_t* from, uint32_t count, uint32_t firstBit,
                     std::vector<uint64_t>& dirty) {
  for (uint32_t i = 0; i < count; ++i, stored += kSize, from += kSize) {
    if (memcmp(stored, from, kSize) == 0) continue;
    memcpy(stored, from, kSize);
    const uint32_t bit = firstBit + i;
    dirty[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
}

void BM_CompareCopyMarkAllStates(benchmark::State& state) {
  Started s;
  Blocks blocks;
  const uint32_t values = blocks.Values();
  std::vector<uint8_t> block[2] = {std::vector<uint8_t>(blocks.Bytes(), 1), std::vector<uint8_t>(blocks.Bytes(), 2)};
  std::vector<uint8_t> stored(blocks.Bytes(), 0);
  std::vector<uint64_t> dirty(values / 64 + 1, 0);
  uint32_t key = 0;
  for (auto _ : state) {
    const uint8_t* from = block[key].data();
    uint8_t* to = stored.data();
    uint32_t bit = 0;
    auto kind = [&]<size_t kSize>(std::integral_constant<size_t, kSize>, uint32_t count) {
      CompareCopyMark<kSize>(to, from, count, bit, dirty);
      to += kSize * count, from += kSize * count, bit += count;
    };
    kind(std::integral_constant<size_t, 4>{}, blocks.StateValues());
    kind(std::integral_constant<size_t, 64>{}, blocks.Matrices());
    kind(std::integral_constant<size_t, 16>{}, kMaxClipPlanes + 1);  // the planes and the viewport
    kind(std::integral_constant<size_t, 8>{}, 1);                     // the depth range
    kind(std::integral_constant<size_t, 4>{}, 1);                     // the shader
    kind(std::integral_constant<size_t, 16>{}, kMaxVertexConstantId + 1);
    benchmark::ClobberMemory();
    key ^= 1;
  }
  ReportValues(state, values, blocks.Bytes());
}
BENCHMARK(BM_CompareCopyMarkAllStates);

}  // namespace
