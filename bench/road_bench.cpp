// The product's roads end to end on the simulated board, each beside the
// per-layer benchmark of its own layer, so that a cost the layers add
// together shows:
//
// - BM_RoadShortDraw: 3D requests of one short draw a second through
//   ioctl 33: the client's token stream (pre-transformed triangle state,
//   one triangle through token 28) in its command buffer, the request
//   through the node, the kernel's walk, draw emission and seal, the DMA
//   to the board, whose engines (vertex engine and 3D rasteriser
//   included) run what it started inside the timing. Compare with
//   client3d_bench: BM_Ioctl33Nop (the request alone) and
//   BM_DrawTokensTriangle (draws inside one long stream, draws/s).
// - BM_RoadXPost: X posts a second: request 27 through the device node as
//   the X server stand-in's node delivers it (the node bridge, the glue's
//   request copy, the kernel's SubmitClientDmaBuffer) with the board's DMA
//   engine executing every posted range. Compare with kernel_bench:
//   BM_PostThroughTheNode (the same request, no engine behind the
//   registers) and BM_ClientPost/1 (the kernel's submit alone, engine
//   executing).
#include <benchmark/benchmark.h>

#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/orv_abi.h"
#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_device.h"
#include "platform/board/chip_3d.h"
#include "platform/client3d/client3d.h"
#include "platform/client3d/scene.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/board/chip_dma.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

orvmachine::KernelModuleOptions LinkedModule() {
  orvmachine::KernelModuleOptions options;
  options.table = &orv_kstrn_driver;
  options.bmFlags = orvmachine::kPageLockedBuffers;
  return options;
}

orvmachine::BoardSpec QuietSpec(uint32_t parts) {
  orvmachine::BoardSpec spec;
  spec.parts = parts;
  return spec;
}

// ---- 3D: one short draw a request -------------------------------------------------------

constexpr uint32_t kCommandBytes = 64 * 1024;

void BM_RoadShortDraw(benchmark::State& state) {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts = machine.AddBoard(
      QuietSpec(orvmachine::kDma | orvmachine::kFlips | orvmachine::kWindows | orvmachine::kVertex |
                orvmachine::k3d));
  parts.board.SetLogging(false, false);
  parts.dma->SetRecording(false);
  orvmachine::KernelModule& module = machine.LoadKernelModule(parts, LinkedModule());
  kglue::Glue& glue = module.glue;
  kglue::File* owner = glue.Open(module.device);
  OrvEnableRequest enable;
  memset(&enable, 0, sizeof enable);
  enable.mode.bitsPerPixel = 32;
  enable.mode.bytesPerPixel = 4;
  enable.mode.registerWindowSize = 8192;
  enable.mode.virtualWidth = 640;
  enable.mode.virtualHeight = 480;
  if (glue.Ioctl(owner, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) != 1) {
    state.SkipWithError("no device object");
    return;
  }
  PDEV* pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
  glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, enable.kernelHandle);
  pdev->mode.virtualWidth = 640;
  pdev->mode.virtualHeight = 480;
  alignas(8) static uint8_t primary[64] = {};
  pdev->primarySurface = reinterpret_cast<MmSurface*>(primary);

  client3d::Client c(glue, module.device, 2000);
  client3d::Buffer commands;
  if (c.CreateContext(enable.kernelHandle) != 0 || !c.CreateBuffer(kCommandBytes, 4, &commands)) {
    state.SkipWithError("no client context or command buffer");
    return;
  }
  // A drawable of one visible rectangle, and the 3D context on it.
  c.Put64(16, 1);
  c.Put32(24, 0), c.Put32(28, 0), c.Put32(32, 256), c.Put32(36, 256);
  c.Put32(40, 1);
  c.Put32(48, 0), c.Put32(52, 0), c.Put32(56, 256), c.Put32(60, 256);
  if (c.Run(kRequestSetDrawableRects) != 0) {
    state.SkipWithError("drawable refused");
    return;
  }
  const uint32_t context3d = c.CreateContext3d(1, commands);
  if (context3d == 0) {
    state.SkipWithError("no 3D context");
    return;
  }
  // The pre-transformed state once, then the request of the loop: one
  // Gouraud triangle through token 28.
  using client3d::Scene;
  const uint32_t viewport[6] = {0, 0, 256, 256, 0, 0x3F800000};
  client3d::TokenWriter setup;
  setup.Token(Scene::kTokenRenderStates, 1, std::vector<uint32_t>{Scene::kStateLighting, 0});
  setup.Token(Scene::kTokenVertexShader, 1, std::vector<uint32_t>{Scene::kFormatScreen});
  setup.Token(Scene::kTokenRenderStates, 1, std::vector<uint32_t>{Scene::kStateShadeMode, Scene::kShadeGouraud});
  if (!setup.WriteTo(commands, 0) || c.RunTokens(context3d, 0, static_cast<uint32_t>(setup.Size())) != 0) {
    state.SkipWithError("state stream refused");
    return;
  }
  const std::vector<client3d::ScreenVertex> triangle = Scene::GouraudTriangle();
  std::vector<uint32_t> entry = {Scene::kTriangleList, 3, sizeof(client3d::ScreenVertex)};
  entry.insert(entry.end(), viewport, viewport + 6);
  entry.push_back(static_cast<uint32_t>(triangle.size() * sizeof(client3d::ScreenVertex)));
  client3d::TokenWriter draw;
  draw.Token(Scene::kTokenUserPrimitives, 1, entry);
  draw.Raw(triangle.data(), triangle.size() * sizeof(client3d::ScreenVertex));
  if (!draw.WriteTo(commands, 0) || c.RunTokens(context3d, 0, static_cast<uint32_t>(draw.Size())) != 0) {
    state.SkipWithError("draw refused");
    return;
  }
  // What reached the rasteriser: the triangle of every request.
  auto primitives = [&] {
    return parts.engine3d ? parts.engine3d->Primitives().size() + parts.engine3d->PrimitivesDropped() : 0;
  };
  const uint64_t reached = primitives();
  const uint64_t before = glue.AllocationCount();
  for (auto _ : state) {
    if (c.RunTokens(context3d, 0, static_cast<uint32_t>(draw.Size())) != 0) {
      state.SkipWithError("draw refused");
      return;
    }
  }
  state.counters["allocations"] = static_cast<double>(glue.AllocationCount() - before);
  state.counters["primitives/request"] =
      static_cast<double>(primitives() - reached) / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("requests; beside client3d_bench BM_Ioctl33Nop and BM_DrawTokensTriangle");
}
BENCHMARK(BM_RoadShortDraw);

// ---- X: request 27 through the node, the engine executing ------------------------------

void BM_RoadXPost(benchmark::State& state) {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts = machine.AddBoard(QuietSpec(orvmachine::kInterrupts | orvmachine::kDma));
  parts.board.SetLogging(false, false);
  parts.dma->SetRecording(false);
  orvmachine::KernelModule& module = machine.LoadKernelModule(parts, LinkedModule());
  // The X server's open of the node: a file of the bridge.
  kglue::NodeBridge& node = module.bridge;
  constexpr uint32_t kMinor = 0;
  constexpr uint64_t kFile = 1;
  if (node.OpenFile(kMinor, kFile) != 0) {
    state.SkipWithError("the node refused the open");
    return;
  }
  OrvEnableRequest enable = {};
  enable.mode.bitsPerPixel = 32;
  if (node.FileIoctl(kMinor, kFile, ORV_IOCTL_ENABLE_DEVICE, &enable) != 1 ||
      node.FileIoctl(kMinor, kFile, ORV_IOCTL_START_DEVICE,
                     reinterpret_cast<void*>(static_cast<uintptr_t>(enable.kernelHandle))) != 0) {
    state.SkipWithError("no started device object");
    return;
  }
  module.created->sharedLocked->primaryEngineMode = kEngineMode2d;
  // The X driver posts pages of its own: 16 fill words.
  orv_ioctl_buffer pages = {kOrvBufferSharedLocked, kOrvBufferFlagLocked, 0, 4096, 0};
  if (node.FileIoctl(kMinor, kFile, ORV_IOCTL_ALLOC_BUFFER, &pages) != 0) {
    state.SkipWithError("no page for the X driver");
    return;
  }
  auto* words = reinterpret_cast<uint32_t*>(module.glue.ResolveBus(pages.offset, 4096));
  if (words == nullptr) {
    state.SkipWithError("the page is not on the bus");
    return;
  }
  for (int k = 0; k < 16; ++k) words[k] = 0x21212121;
  const uint32_t range = static_cast<uint32_t>(pages.offset);
  OrvDmaPostRequest record = {0, range, (range + 64) | 3, {}};
  const uint64_t before = module.glue.AllocationCount();
  for (auto _ : state) {
    if (node.FileIoctl(kMinor, kFile, ORV_IOCTL_POST_DMA, &record) != 0) {
      state.SkipWithError("the post was refused");
      break;
    }
  }
  state.counters["allocations"] = static_cast<double>(module.glue.AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("posts; beside kernel_bench BM_PostThroughTheNode and BM_ClientPost/1");
  node.CloseFile(kMinor, kFile);
}
BENCHMARK(BM_RoadXPost);

}  // namespace

BENCHMARK_MAIN();
