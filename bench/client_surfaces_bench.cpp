// The 3D clients' surfaces, each next to a fair baseline: a blit's unit
// records and texture coordinates written into the secondary stream (blits
// per second, and stream bytes per second beside memcpy of the same
// bytes into the same stream, and between two buffers in the nearest
// cache); the blit transform computed again after each change of its
// controls; present requests copying between two client surfaces through
// the device node; and the save and restore of a mipmapped 1024 x 1024
// texture across a lost device, in bytes per second beside memcpy of its
// bytes out and back.
#include <benchmark/benchmark.h>

#include <string.h>

#include <memory>
#include <vector>

#include "bench/memcpy_baseline.h"
#include "bench/started_kernel.h"
#include "core/common_data.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/engine/hw_state_block.h"
#include "kernel/3d/surfaces/blit_setup.h"
#include "kernel/dma_streams.h"
#include "platform/client3d/client3d.h"

namespace {

constexpr uint32_t kBoardParts = orvmachine::kDma | orvmachine::kFlips | orvmachine::kWindows | orvmachine::kVertex;

// A started device object of 64 MB with a 3D client: its client context, a
// command buffer and one 3D context whose drawable covers 640 x 480.
struct Setup : orvbench::StartedKernel {
  Setup() : StartedKernel(kBoardParts, 64u << 20) {
    if (pdev == nullptr) return;
    glue->IoctlWithValue(file, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
    // Only the presence of the X driver's primary surface counts here.
    pdev->primarySurface = reinterpret_cast<MmSurface*>(primary);
    pdev->mode.virtualWidth = 640;
    pdev->mode.virtualHeight = 480;
    client = std::make_unique<client3d::Client>(*glue, machine.Kernel()->device, 2000);
    if (client->CreateContext(reinterpret_cast<uintptr_t>(pdev)) != 0) return;
    if (!client->CreateBuffer(4096, 4, &commands)) return;
    context3d = client->CreateContext3d(5, commands);
    client->Put64(16, 5);
    client->Put32(24, 0), client->Put32(28, 0), client->Put32(32, 640), client->Put32(36, 480);
    client->Put32(40, 1);
    client->Put32(48, 0), client->Put32(52, 0), client->Put32(56, 640), client->Put32(60, 480);
    if (client->Run(kRequestSetDrawableRects) != 0) context3d = 0;
  }
  ~Setup() { client.reset(); }

  bool Ready() const { return context3d != 0; }
  ClientContext* Context() const { return glue->ClientOf(client->File())->context3d; }

  // Request 12: the handle, or 0.
  uint64_t MakeSurface(uint32_t flags, uint32_t kind, uint32_t width, uint32_t height, uint32_t levels) {
    description = {flags, kind, 21, width, height, 0, levels};
    glue->DeclareUserMemory(2000, &description, sizeof(description));
    client->Put64(16, reinterpret_cast<uintptr_t>(&description));
    return client->Run(kRequestCreateSurface) == 0 ? client->Get64(24) : 0;
  }

  alignas(8) uint8_t primary[64] = {};
  alignas(8) ClientSurfaceDescription description = {};
  std::unique_ptr<client3d::Client> client;
  client3d::Buffer commands;
  uint32_t context3d = 0;
};

// One enabled texture stage of 1280 x 720, as a blit's stage set-up leaves
// it.
class OneStage : public StageStateBlock {
 public:
  OneStage() {
    for (HwStageRecord& s : stages) s.words[0] = kHwStageDisabled;
    stages[0].words[0] = 0;
    stages[0].width = 1280;
    stages[0].height = 720;
    stages[0].uScale = 1.0f;
    stages[0].vScale = 1.0f;
    stageCount = 1;
  }
  bool EmitPending() override { return true; }
  void FlushSources() override {}
  bool BuildStages() override { return true; }
};

// The kernel's secondary stream and a flushed colour-copy transform, as
// both blit benchmarks start from. Emit writes one blit's state: the
// transform's unit records (the pass-through record and the four reset
// ones) and the stage's texture coordinates for 1280 x 720 onto
// 1920 x 1080. HandOnWhenFull hands the stream on before its buffer fills
// (and the board runs it) outside the time: what is measured is the
// writing.
struct BlitStateBench {
  orvbench::StartedKernel m{kBoardParts, 64u << 20};
  BmSecondaryInt* stream = m.common != nullptr ? m.common->secondaryStream : nullptr;
  std::unique_ptr<TransformState> transform = std::make_unique<TransformState>();
  OneStage stages;

  bool Ready() { return stream != nullptr && transform->Setup(0, 0, nullptr) && transform->Flush(); }
  bool Emit() {
    const BlitRect source{0, 0, 1280, 720};
    const BlitRect outer{0, 0, 1920, 1080};
    const bool units = transform->Emit(stream);
    const bool coordinates = ComputeBlitTexCoords(stages, stream, source, outer, outer, 1280, 720, 0, 0, 1, false);
    return units && coordinates;
  }
  // True when it handed the stream on.
  bool HandOnWhenFull(benchmark::State& state) {
    if (stream->Fits(1024)) return false;
    state.PauseTiming();
    stream->ExecutePending();
    stream->SwitchToNewBuffer();
    state.ResumeTiming();
    return true;
  }
};

// A blit's state as it goes to the engine.
void BM_BlitUnitsAndCoordinates(benchmark::State& state) {
  BlitStateBench b;
  if (!b.Ready()) {
    state.SkipWithError("no stream or transform");
    return;
  }
  uint64_t bytes = 0;
  for (auto _ : state) {
    const uint32_t* before = b.stream->cursor;
    benchmark::DoNotOptimize(b.Emit());
    if (b.stream->cursor > before) bytes += static_cast<uint64_t>(b.stream->cursor - before) * 4;
    b.HandOnWhenFull(state);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["bytes per blit"] = state.iterations() != 0 ? static_cast<double>(bytes) / state.iterations() : 0;
}
BENCHMARK(BM_BlitUnitsAndCoordinates);

// memcpy of one blit's state words into the same stream, in the same loop:
// the writes land in the same buffers, so both pay the same for memory the
// board has just read.
void BM_MemcpyBlitStateIntoStream(benchmark::State& state) {
  BlitStateBench b;
  if (!b.Ready()) {
    state.SkipWithError("no stream or transform");
    return;
  }
  // The words of one blit, written once by the driver and copied from here.
  const uint32_t* first = b.stream->cursor;
  if (!b.Emit() || b.stream->cursor <= first) {
    state.SkipWithError("no blit words");
    return;
  }
  const std::vector<uint32_t> words(first, const_cast<const uint32_t*>(b.stream->cursor));
  const size_t n = words.size();
  uint64_t bytes = 0, handed = 0;
  for (auto _ : state) {
    memcpy(b.stream->cursor, words.data(), 4 * n);
    b.stream->cursor += n;
    benchmark::ClobberMemory();
    bytes += 4 * n;
    if (b.HandOnWhenFull(state)) ++handed;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["bytes per blit"] = static_cast<double>(4 * n);
  state.counters["blits per buffer"] = handed != 0 ? static_cast<double>(state.iterations()) / handed : 0;
}
BENCHMARK(BM_MemcpyBlitStateIntoStream);

// memcpy of a blit's state bytes (the size the blit above reports) between
// two buffers that stay in the nearest cache: the bound for writing them.
void BM_MemcpyBlitStateBaseline(benchmark::State& state) { orvbench::MemcpyBytes(state); }
BENCHMARK(BM_MemcpyBlitStateBaseline)->Arg(184);

// The transform computed again after each change of its controls (the
// brightness alternating), per change.
void BM_TransformComputePerChange(benchmark::State& state) {
  orvbench::StartedKernel m(kBoardParts, 64u << 20);
  auto transform = std::make_unique<TransformState>();
  BlitColourControls controls;
  controls.enabled = 1;
  if (!transform->Setup(3, 0, &controls)) {
    state.SkipWithError("no transform");
    return;
  }
  uint32_t i = 0;
  for (auto _ : state) {
    controls.brightness = (++i & 1) != 0 ? 0.25f : -0.25f;
    benchmark::DoNotOptimize(transform->SetControls(&controls));
    benchmark::DoNotOptimize(transform->Compute());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransformComputePerChange);

// Request 16 through the node: a 256 x 256 copy between two client
// surfaces over the drawable's one clip rectangle, per request (the
// board has no 2D engine: this is the driver's side).
void BM_PresentCopy256(benchmark::State& state) {
  Setup s;
  const uint64_t from = s.Ready() ? s.MakeSurface(0, kDescKindPlain, 256, 256, 0) : 0;
  const uint64_t to = from != 0 ? s.MakeSurface(0, kDescKindPlain, 256, 256, 0) : 0;
  if (to == 0) {
    state.SkipWithError("no surfaces");
    return;
  }
  alignas(8) static uint32_t boxes[2][6] = {{0, 0, 0, 256, 256, 1}, {0, 0, 0, 256, 256, 1}};
  s.glue->DeclareUserMemory(2000, boxes, sizeof(boxes));
  client3d::Client& c = *s.client;
  for (auto _ : state) {
    c.Put32(16, 1);
    c.Put32(24, s.context3d);
    c.Put64(32, to);
    c.Put64(40, from);
    c.Put64(48, reinterpret_cast<uintptr_t>(boxes[0]));
    c.Put64(56, reinterpret_cast<uintptr_t>(boxes[1]));
    c.Put64(64, 0);
    c.Put64(72, 0);
    c.Put32(80, 0xFFFFFFFF);
    benchmark::DoNotOptimize(c.Run(kRequestPresentSurface));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PresentCopy256);

// A video-only mipmapped 1024 x 1024 texture of 32 bits saved when the
// device is lost and restored by request 3: the bytes of its eleven levels
// out and back per second.
void BM_SaveRestoreMip1024(benchmark::State& state) {
  Setup s;
  const uint64_t texture = s.Ready() ? s.MakeSurface(kDescVideoOnly | kDescMipmapped, kDescKindTexture, 1024, 1024, 10) : 0;
  ClientContext* context = texture != 0 ? s.Context() : nullptr;
  ClientObject* object = context != nullptr ? context->surfaces->Object(texture) : nullptr;
  if (object == nullptr) {
    state.SkipWithError("no texture");
    return;
  }
  const uint64_t bytes = object->DataSize();
  for (auto _ : state) {
    context->MarkLost();
    benchmark::DoNotOptimize(s.client->Run(kRequestReattach));
  }
  if (context->surfaces->Object(texture) == nullptr) state.SkipWithError("not restored");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(2 * bytes));
  state.counters["texture bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SaveRestoreMip1024)->Unit(benchmark::kMillisecond);

// memcpy of the same texture's bytes out and back.
void BM_MemcpySaveRestoreBaseline(benchmark::State& state) {
  const size_t n = 1398100 * 4;  // 1024 x 1024 down to 1 x 1 at 32 bits
  std::vector<uint8_t> texture(n, 1), saved(n);
  for (auto _ : state) {
    memcpy(saved.data(), texture.data(), n);
    memcpy(texture.data(), saved.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(2 * n));
}
BENCHMARK(BM_MemcpySaveRestoreBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
