// The kernel 3D surfaces: creations and destructions per second through a
// client's resource table (a 256 x 256 surface, a 256 x 256 mip chain of 9
// levels, a 64 x 64 cube of 7 levels) next to the surface manager placing
// and freeing one plain surface of the same bytes (the floor under any
// creation), and format lookups by code and by client number next to an
// array indexed by code.
#include <benchmark/benchmark.h>

#include <string.h>

#include "bench/started_kernel.h"
#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/kernel_device.h"
#include "kernel/vidmem/surface_manager.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

namespace {

// A loaded module with the board's first device object and a client table,
// on a board of 64 MB with what enabling a device object drives: the DMA
// engine, flip latch, aperture windows and the vertex engine.
struct Machine : orvbench::StartedKernel {
  Machine()
      : StartedKernel(orvmachine::kDma | orvmachine::kFlips | orvmachine::kWindows | orvmachine::kVertex,
                      64u << 20) {
    if (pdev != nullptr) table = CreateResourceTable(pdev, 1);
  }
  ~Machine() {
    if (pdev != nullptr) DestroyResourceTable(pdev, 1);
  }
  ResourceTable* table = nullptr;
};

SurfaceCreateRequest RequestOf(const Machine& m, uint8_t kind, uint32_t side, uint32_t levels) {
  SurfaceCreateRequest r;
  r.placement = static_cast<uint8_t>(kPlaceLocal | kind);
  r.format = m.pdev->formatCatalogue->Find(11);
  r.surfaceType = 3;
  r.width = r.height = side;
  r.levels = levels;
  r.depth = 1;
  return r;
}

void CreateDestroy(benchmark::State& state, uint8_t kind, uint32_t side, uint32_t levels) {
  Machine m;
  if (m.table == nullptr) {
    state.SkipWithError("no device object");
    return;
  }
  for (auto _ : state) {
    SurfaceCreateRequest request = RequestOf(m, kind, side, levels);
    Surface3d* s = m.table->CreateSurface(1, &request);
    if (s == nullptr) {
      state.SkipWithError("creation refused");
      return;
    }
    // A set goes with its last level.
    const uint32_t count = m.table->TableOf(1)->Count();
    for (uint32_t handle = 1; handle <= count; ++handle) m.table->DestroyResource(1, handle);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CreateDestroySurface256(benchmark::State& state) { CreateDestroy(state, 0, 256, 1); }
BENCHMARK(BM_CreateDestroySurface256);
void BM_CreateDestroyMipChain256x9(benchmark::State& state) { CreateDestroy(state, kSetMipChain, 256, 9); }
BENCHMARK(BM_CreateDestroyMipChain256x9);
void BM_CreateDestroyCube64x7(benchmark::State& state) { CreateDestroy(state, kSetCube, 64, 7); }
BENCHMARK(BM_CreateDestroyCube64x7);

// The floor: the manager places and frees one surface of the bytes a
// 256 x 256 surface of 32 bits takes.
void BM_ManagerPlaceAndFree256(benchmark::State& state) {
  Machine m;
  if (m.pdev == nullptr) {
    state.SkipWithError("no device object");
    return;
  }
  MmSurfaceManager* manager = m.pdev->surfaceManager;
  for (auto _ : state) {
    MmSurface surface;
    surface.options.physicalSize = 256 * 256 * 4;
    surface.options.alignment = 4096;
    surface.options.requestedKind = 0;
    surface.options.heapSelector = 3;
    if (!manager->CreateSurface(&surface)) {
      state.SkipWithError("placement refused");
      return;
    }
    manager->DestroySurface(&surface);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ManagerPlaceAndFree256);

// ---- Lookups ---------------------------------------------------------------------------------------

void BM_FindByCode(benchmark::State& state) {
  Machine m;
  const FormatCatalogue* catalogue = m.pdev->formatCatalogue;
  uint32_t code = 0;
  for (auto _ : state) {
    code = code == 46 ? 1 : code + 1;
    benchmark::DoNotOptimize(catalogue->Find(code));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindByCode);

void BM_FindByClientFormat(benchmark::State& state) {
  Machine m;
  const FormatCatalogue* catalogue = m.pdev->formatCatalogue;
  uint32_t client = 19;
  for (auto _ : state) {
    client = client == 81 ? 20 : client + 1;
    benchmark::DoNotOptimize(catalogue->FindByClientFormat(client));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindByClientFormat);

// The baseline: an array of descriptors indexed by code.
void BM_ArrayIndexedByCode(benchmark::State& state) {
  Machine m;
  const FormatDescriptor* byCode[kFormatCodeLimit] = {};
  for (uint32_t i = 0; i < m.pdev->formatCatalogue->Count(); ++i) {
    const FormatDescriptor* d = m.pdev->formatCatalogue->At(i);
    byCode[d->code] = d;
  }
  uint32_t code = 0;
  for (auto _ : state) {
    code = code == 46 ? 1 : code + 1;
    benchmark::DoNotOptimize(byCode[code]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ArrayIndexedByCode);

}  // namespace
