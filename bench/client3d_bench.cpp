// The 3D clients' command path: 64 KiB token streams walked and sealed
// (small tokens, 16 bytes each, and one large payload), in tokens and
// stream bytes per second next to a memcpy of the same bytes (the floor of
// any walk that reads each byte once into kernel memory); a batch seal
// alone; and request 33 round trips of the no-op code through the node.
// The walks run the interpreter's own skip token, so those counts measure
// the walk itself, and a stream of render-state tokens (one entry each,
// every token changing its state), so the handlers behind it count too.
// Draw tokens: streams of ranged draws (token 24) of one triangle or of a
// strip of 64 vertices each, copied from a plain-page client buffer, in
// draw tokens and vertices per second; the board runs what they started
// inside the timing, as it does for the walks.
#include <benchmark/benchmark.h>

#include <string.h>

#include <memory>
#include <vector>

#include "core/orv_abi.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/kernel_device.h"
#include "platform/client3d/client3d.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/board/chip_dma.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

constexpr uint32_t kStreamBytes = 64 * 1024;

// A started device object, a client context with a command buffer and one
// 3D context.
struct Setup {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts = machine.AddBoard(Spec());
  orvmachine::KernelModule& module = machine.LoadKernelModule(
      parts, {.file = "", .table = &orv_kstrn_driver, .bmFlags = 0x300004, .minor = 0, .makeDevice = true});
  kglue::Glue& glue = module.glue;
  kglue::File* owner = nullptr;
  PDEV* pdev = nullptr;
  alignas(8) uint8_t primary[64] = {};
  std::unique_ptr<client3d::Client> client;
  client3d::Buffer commands;
  uint32_t context3d = 0;

  static orvmachine::BoardSpec Spec() {
    orvmachine::BoardSpec spec;
    spec.parts = orvmachine::kDma | orvmachine::kFlips | orvmachine::kWindows;
    return spec;
  }

  bool Ready() {
    parts.board.SetLogging(false, false);
    parts.dma->SetRecording(false);
    owner = glue.Open(module.device);
    OrvEnableRequest request;
    memset(&request, 0, sizeof(request));
    request.mode.bitsPerPixel = 32;
    request.mode.bytesPerPixel = 4;
    request.mode.registerWindowSize = 8192;
    if (glue.Ioctl(owner, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&request)) != 1) return false;
    pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(request.kernelHandle));
    glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
    pdev->primarySurface = reinterpret_cast<MmSurface*>(primary);
    client = std::make_unique<client3d::Client>(glue, module.device, 2000);
    if (client->CreateContext(reinterpret_cast<uintptr_t>(pdev)) != 0) return false;
    if (!client->CreateBuffer(kStreamBytes, 4, &commands)) return false;
    context3d = client->CreateContext3d(1, commands);
    return context3d != 0;
  }
};

// Token streams: n skip tokens whose entries fill 64 KiB.
std::vector<uint8_t> Stream(uint32_t tokens) {
  const uint32_t entries = (kStreamBytes / tokens - kTokenHeaderBytes) / 8;
  client3d::TokenWriter writer;
  std::vector<uint8_t> payload(size_t{entries} * 8, 0x5A);
  for (uint32_t i = 0; i < tokens; ++i) writer.Token(kTokenSkip, entries, payload.data(), payload.size());
  return writer.Bytes();
}

// 16-byte render-state tokens of one entry each: driver, render, sampler,
// mode and float-pair states in turn, every pass over the table with
// values other than the last one's, so each token changes its state.
std::vector<uint8_t> StateStream() {
  struct Kind {
    uint32_t opcode;
    uint32_t first;  // id (stage and state for sampler states)
    uint32_t values[2];
  };
  static constexpr Kind kKinds[] = {
      {5, 21, {0x3F000000, 0x3F800000}}, {12, 7, {0, 1}},        {12, 14, {1, 0}},
      {12, 23, {4, 2}},                  {6, 0x00010000, {2, 1}}, {36, 3, {1, 2}},
      {5, 26, {7, 9}},                   {12, 12, {0xC, 0x3}},    {54, 0x3F000000, {0x3F800000, 0x40000000}},
      {6, 0x00070002, {3, 4}},           {12, 13, {0xFFFFFFFF, 0xFFFF}},
  };
  constexpr uint32_t kinds = sizeof(kKinds) / sizeof(kKinds[0]);
  client3d::TokenWriter writer;
  for (uint32_t i = 0; i < kStreamBytes / 16; ++i) {
    const Kind& kind = kKinds[i % kinds];
    const uint32_t entry[2] = {kind.first, kind.values[i / kinds % 2]};
    writer.Token(kind.opcode, 1, entry, sizeof(entry));
  }
  return writer.Bytes();
}

void Walk(benchmark::State& state, const std::vector<uint8_t>& stream, uint32_t tokens) {
  Setup s;
  if (!s.Ready()) {
    state.SkipWithError("no 3D context");
    return;
  }
  memcpy(s.commands.mapped, stream.data(), stream.size());
  for (auto _ : state) {
    if (s.client->RunTokens(s.context3d, 0, static_cast<uint32_t>(stream.size())) != 0) {
      state.SkipWithError("stream refused");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * tokens);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

void Walk(benchmark::State& state, uint32_t tokens) { Walk(state, Stream(tokens), tokens); }

void BM_WalkSmallTokens(benchmark::State& state) { Walk(state, kStreamBytes / 16); }
void BM_WalkStateTokens(benchmark::State& state) { Walk(state, StateStream(), kStreamBytes / 16); }
void BM_WalkLargePayload(benchmark::State& state) { Walk(state, 1); }

void BM_MemcpyStream(benchmark::State& state) {
  std::vector<uint8_t> source(kStreamBytes, 0x5A);
  std::vector<uint8_t> destination(kStreamBytes);
  for (auto _ : state) {
    memcpy(destination.data(), source.data(), source.size());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStreamBytes);
}

void BM_SealEmptyBatch(benchmark::State& state) {
  Setup s;
  if (!s.Ready()) {
    state.SkipWithError("no 3D context");
    return;
  }
  for (auto _ : state) s.client->RunTokens(s.context3d, 0, 0);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_Ioctl33Nop(benchmark::State& state) {
  Setup s;
  if (!s.Ready()) {
    state.SkipWithError("no 3D context");
    return;
  }
  for (auto _ : state) s.client->Run(kRequestNop);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Ranged draws of `vertices` vertices each (a triangle list of one, or a
// strip) from a 64 KiB plain-page buffer at stride 16, on a drawable with
// one visible rectangle.
void Draws(benchmark::State& state, uint32_t type, uint32_t vertices) {
  Setup s;
  if (!s.Ready()) {
    state.SkipWithError("no 3D context");
    return;
  }
  s.pdev->mode.virtualWidth = 640;
  s.pdev->mode.virtualHeight = 480;
  client3d::Client& c = *s.client;
  c.Put64(16, 1);
  c.Put32(24, 0), c.Put32(28, 0), c.Put32(32, 256), c.Put32(36, 256);
  c.Put32(40, 1);
  c.Put32(48, 0), c.Put32(52, 0), c.Put32(56, 256), c.Put32(60, 256);
  client3d::Buffer vertexBuffer;
  if (c.Run(kRequestSetDrawableRects) != 0 || !c.CreateBuffer(kStreamBytes, 4, &vertexBuffer)) {
    state.SkipWithError("no drawable or buffer");
    return;
  }
  for (uint32_t i = 0; i < kStreamBytes / 4; ++i) {
    const float f = static_cast<float>(i % 256);
    memcpy(vertexBuffer.mapped + 4 * i, &f, 4);
  }
  Context3d* context = s.glue.ClientOf(c.File())->context3d->Context(s.context3d);
  RenderContext3d* current = context->current;
  const uint8_t list[8] = {1, 0, 0, 0, 0, 0, 0x78, 0};
  if (!current->streamSetup.StoreElementList(list, sizeof list)) {
    state.SkipWithError("no element list");
    return;
  }
  current->state.vertexSub.bytes[4] |= kVsubLayoutElements;
  // The source once, then draws filling most of the stream.
  const uint32_t sourceEntry[8] = {0, 0, static_cast<uint32_t>(vertexBuffer.handle), 0, 16, 0, 0xFFFFFFFF, 0};
  client3d::TokenWriter writer;
  writer.Token(8, 1, sourceEntry, sizeof sourceEntry);
  const uint32_t draws = (kStreamBytes - 64) / 48;
  for (uint32_t i = 0; i < draws; ++i) {
    const uint32_t first = i * 4 % 3000;
    const uint32_t entry[10] = {0x0C000000, 2, type, 0, 0, 0, 0, 0, first, first + vertices};
    writer.Token(kTokenDrawIndexed, 1, entry, sizeof entry);
  }
  const std::vector<uint8_t>& stream = writer.Bytes();
  memcpy(s.commands.mapped, stream.data(), stream.size());
  // The first run grows what a draw needs once (the interpreter's copy).
  if (c.RunTokens(s.context3d, 0, static_cast<uint32_t>(stream.size())) != 0) {
    state.SkipWithError("stream refused");
    return;
  }
  const uint64_t before = s.glue.AllocationCount();
  for (auto _ : state) {
    if (c.RunTokens(s.context3d, 0, static_cast<uint32_t>(stream.size())) != 0) {
      state.SkipWithError("stream refused");
      return;
    }
  }
  state.counters["allocations"] = static_cast<double>(s.glue.AllocationCount() - before);
  state.counters["draws/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * draws, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * draws * vertices);
}

void BM_DrawTokensTriangle(benchmark::State& state) { Draws(state, 5, 3); }
void BM_DrawTokensStrip64(benchmark::State& state) { Draws(state, 6, 64); }

}  // namespace

BENCHMARK(BM_DrawTokensTriangle);
BENCHMARK(BM_DrawTokensStrip64);
BENCHMARK(BM_WalkSmallTokens);
BENCHMARK(BM_WalkStateTokens);
BENCHMARK(BM_WalkLargePayload);
BENCHMARK(BM_MemcpyStream);
BENCHMARK(BM_SealEmptyBatch);
BENCHMARK(BM_Ioctl33Nop);
BENCHMARK_MAIN();
