// The 3D clients' command path: 64 KiB token streams walked and sealed
// (small tokens, 16 bytes each, and one large payload), in tokens and
// stream bytes per second next to a memcpy of the same bytes (the floor of
// any walk that reads each byte once into kernel memory); a batch seal
// alone; and request 33 round trips of the no-op code through the node.
// The tokens are the interpreter's own skip token, so the counts measure
// the walk itself, not the handlers behind it.
#include <benchmark/benchmark.h>

#include <string.h>

#include <memory>
#include <vector>

#include "core/orv_abi.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/kernel_device.h"
#include "platform/client3d/client3d.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
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

void Walk(benchmark::State& state, uint32_t tokens) {
  Setup s;
  if (!s.Ready()) {
    state.SkipWithError("no 3D context");
    return;
  }
  const std::vector<uint8_t> stream = Stream(tokens);
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

void BM_WalkSmallTokens(benchmark::State& state) { Walk(state, kStreamBytes / 16); }
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

}  // namespace

BENCHMARK(BM_WalkSmallTokens);
BENCHMARK(BM_WalkLargePayload);
BENCHMARK(BM_MemcpyStream);
BENCHMARK(BM_SealEmptyBatch);
BENCHMARK(BM_Ioctl33Nop);
BENCHMARK_MAIN();
