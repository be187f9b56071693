// The processor's work on kernel 3D surfaces, each next to a fair
// baseline: the fill and copy of a 1920 x 1080 surface of 32 bits (memset
// and memcpy of the same bytes), tiled uploads and read-backs by pixel size
// (a linear transfer of the same bytes), software blits and video pixel
// fetches in pixels per second, and a draw-sized ring lock, write and
// unlock (which must allocate nothing); the engine's fill, textured blit
// and scratch copy beside memset, memcpy and memmove.
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "bench/memcpy_baseline.h"
#include "bench/started_kernel.h"
#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_access.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/dma_streams.h"
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

Surface3d* Make(Machine& m, uint32_t code, uint32_t width, uint32_t height) {
  SurfaceCreateRequest r;
  r.placement = kPlaceLocal;
  r.format = m.pdev->formatCatalogue->Find(code);
  r.surfaceType = 3;
  r.width = width;
  r.height = height;
  r.levels = 1;
  r.depth = 1;
  return m.table->CreateSurface(1, &r);
}

constexpr uint32_t kWidth = 1920, kHeight = 1080;

void BM_FillCpu1080p(benchmark::State& state) {
  Machine m;
  Surface3d* s = m.table != nullptr ? Make(m, 11, kWidth, kHeight) : nullptr;
  if (s == nullptr) {
    state.SkipWithError("no surface");
    return;
  }
  SurfaceFillRequest f;
  f.flags = kFillNoTag;
  f.rect[2] = kWidth;
  f.rect[3] = kHeight;
  f.value = 0x80402010;
  for (auto _ : state) benchmark::DoNotOptimize(SurfaceFillCpu(s, f));
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_FillCpu1080p)->Unit(benchmark::kMillisecond);

void BM_MemsetBaseline1080p(benchmark::State& state) {
  std::vector<uint8_t> bytes(size_t{kWidth} * kHeight * 4);
  for (auto _ : state) {
    memset(bytes.data(), 0x10, bytes.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
}
BENCHMARK(BM_MemsetBaseline1080p)->Unit(benchmark::kMillisecond);

void BM_CopyCpu1080p(benchmark::State& state) {
  Machine m;
  Surface3d* a = m.table != nullptr ? Make(m, 11, kWidth, kHeight) : nullptr;
  Surface3d* b = m.table != nullptr ? Make(m, 11, kWidth, kHeight) : nullptr;
  if (a == nullptr || b == nullptr) {
    state.SkipWithError("no surfaces");
    return;
  }
  SurfaceCopyRequest q;
  q.flags = kCopyNoTag;
  q.source[2] = q.destination[2] = kWidth;
  q.source[3] = q.destination[3] = kHeight;
  for (auto _ : state) benchmark::DoNotOptimize(SurfaceCopyCpu(b, a, q));
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_CopyCpu1080p)->Unit(benchmark::kMillisecond);

void BM_MemcpyBaseline1080p(benchmark::State& state) {
  std::vector<uint8_t> from(size_t{kWidth} * kHeight * 4, 1), to(from.size());
  for (auto _ : state) {
    memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(from.size()));
}
BENCHMARK(BM_MemcpyBaseline1080p)->Unit(benchmark::kMillisecond);

// Tiled transfers of a 512 x 512 surface: argument 0 is the format code
// (11: 4 bytes, 6: 2 bytes), argument 1 the direction (1: read-back).
void BM_TiledTransfer512(benchmark::State& state) {
  Machine m;
  const uint32_t code = static_cast<uint32_t>(state.range(0));
  Surface3d* s = m.table != nullptr ? Make(m, code, 512, 512) : nullptr;
  if (s == nullptr) {
    state.SkipWithError("no surface");
    return;
  }
  s->layoutType = kLayoutTypeTiledMemory;
  const uint32_t bpp = s->bytesPerPixel;
  std::vector<uint8_t> client(size_t{512} * 512 * bpp, 3);
  SurfaceLockRequest r;
  r.flags = kLockWhole;
  r.direction = static_cast<uint32_t>(state.range(1));
  r.clientAddress = reinterpret_cast<uintptr_t>(client.data());
  r.clientPitch = 512 * bpp;
  r.clientSize = client.size();
  s->syncSuspended = 1;
  for (auto _ : state) benchmark::DoNotOptimize(s->LockWithRequest(&r));
  s->syncSuspended = 0;
  state.SetItemsProcessed(state.iterations() * 512 * 512);
  state.SetBytesProcessed(state.iterations() * int64_t(client.size()));
}
BENCHMARK(BM_TiledTransfer512)->Args({11, 0})->Args({11, 1})->Args({6, 0})->Args({6, 1});

void BM_LinearTransfer512(benchmark::State& state) {
  Machine m;
  Surface3d* s = m.table != nullptr ? Make(m, 11, 512, 512) : nullptr;
  if (s == nullptr) {
    state.SkipWithError("no surface");
    return;
  }
  std::vector<uint8_t> client(size_t{512} * 512 * 4, 3);
  SurfaceLockRequest r;
  r.flags = kLockWhole;
  r.clientAddress = reinterpret_cast<uintptr_t>(client.data());
  r.clientPitch = 512 * 4;
  r.clientSize = client.size();
  s->syncSuspended = 1;
  for (auto _ : state) benchmark::DoNotOptimize(s->LockWithRequest(&r));
  s->syncSuspended = 0;
  state.SetItemsProcessed(state.iterations() * 512 * 512);
  state.SetBytesProcessed(state.iterations() * int64_t(client.size()));
}
BENCHMARK(BM_LinearTransfer512);

// The software blit of a 1920 x 1080 surface stretched from 1280 x 720,
// in pixels per second.
void BM_BlitSoftware720To1080(benchmark::State& state) {
  Machine m;
  Surface3d* from = m.table != nullptr ? Make(m, 11, 1280, 720) : nullptr;
  Surface3d* to = m.table != nullptr ? Make(m, 11, kWidth, kHeight) : nullptr;
  if (from == nullptr || to == nullptr) {
    state.SkipWithError("no surfaces");
    return;
  }
  SurfaceBlitRequest q;
  q.flags = kBlitNoTag;
  q.source[2] = 1280;
  q.source[3] = 720;
  q.clipped[2] = q.full[2] = kWidth;
  q.clipped[3] = q.full[3] = kHeight;
  for (auto _ : state) benchmark::DoNotOptimize(SurfaceBlitSoftware(to, from, q));
  state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_BlitSoftware720To1080)->Unit(benchmark::kMillisecond);

// The engine's fill of the same 1920 x 1080 surface as the driver issues
// it: the request, its packets, the tag and the wait for it (the bench's
// board has no 2D engine, so the pixels are the chip's time, not this),
// next to the processor fill and memset above.
void BM_FillEngine1080p(benchmark::State& state) {
  Machine m;
  Surface3d* s = m.table != nullptr ? Make(m, 11, kWidth, kHeight) : nullptr;
  if (s == nullptr) {
    state.SkipWithError("no surface");
    return;
  }
  SurfaceFillRequest f;
  f.rect[2] = kWidth;
  f.rect[3] = kHeight;
  f.value = 0x80402010;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s->FillEngine(f));
    benchmark::DoNotOptimize(s->AwaitEngine());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_FillEngine1080p)->Unit(benchmark::kMillisecond);

// A textured blit 1280 x 720 to 1920 x 1080 as the driver sends it: the
// transform and stages flushed, the state executed and the corner run
// with its tag. Blits per second, and the stream bytes written per second
// next to memcpy of the same bytes (the board does not draw textured
// rectangles, so this is the driver's side alone).
void BM_BlitTextured720To1080(benchmark::State& state) {
  Machine m;
  Surface3d* from = m.table != nullptr ? Make(m, 11, 1280, 720) : nullptr;
  Surface3d* to = m.table != nullptr ? Make(m, 11, kWidth, kHeight) : nullptr;
  BmSecondaryInt* stream = m.common != nullptr ? m.common->secondaryStream : nullptr;
  if (from == nullptr || to == nullptr || stream == nullptr) {
    state.SkipWithError("no surfaces");
    return;
  }
  SurfaceBlitRequest q;
  q.source[2] = 1280;
  q.source[3] = 720;
  q.clipped[2] = q.full[2] = kWidth;
  q.clipped[3] = q.full[3] = kHeight;
  q.filter = 1;
  uint64_t bytes = 0;
  for (auto _ : state) {
    const uint32_t* before = stream->cursor;
    benchmark::DoNotOptimize(Surface3d::Blit(to, from, q));
    if (stream->cursor > before) bytes += static_cast<uint64_t>(stream->cursor - before) * 4;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["bytes per blit"] = state.iterations() != 0 ? static_cast<double>(bytes) / state.iterations() : 0;
}
BENCHMARK(BM_BlitTextured720To1080);

// memcpy of a blit's stream bytes (the size the textured blit reports).
void BM_MemcpyBlitBytesBaseline(benchmark::State& state) { orvbench::MemcpyBytes(state); }
BENCHMARK(BM_MemcpyBlitBytesBaseline)->Arg(336);

// An engine copy one row down within a 512 x 512 surface as the driver
// issues it: the scratch surface made, the two engine copies sent, the
// wait and the scratch destroyed (the pixels are the chip's), next to
// memmove of the same rows.
void BM_CopyOverlapping512(benchmark::State& state) {
  Machine m;
  Surface3d* s = m.table != nullptr ? Make(m, 11, 512, 512) : nullptr;
  if (s == nullptr) {
    state.SkipWithError("no surface");
    return;
  }
  SurfaceCopyRequest q;
  const uint32_t from[4] = {0, 0, 512, 511}, to[4] = {0, 1, 512, 512};
  memcpy(q.source, from, sizeof(from));
  memcpy(q.destination, to, sizeof(to));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Surface3d::CopyRect(s, s, q));
    benchmark::DoNotOptimize(s->AwaitEngine());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{512} * 511 * 4);
}
BENCHMARK(BM_CopyOverlapping512)->Unit(benchmark::kMillisecond);

void BM_MemmoveBaseline512(benchmark::State& state) {
  std::vector<uint8_t> bytes(size_t{512} * 512 * 4, 3);
  for (auto _ : state) {
    memmove(bytes.data() + 512 * 4, bytes.data(), size_t{512} * 511 * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{512} * 511 * 4);
}
BENCHMARK(BM_MemmoveBaseline512)->Unit(benchmark::kMillisecond);

// Video pixels of each format from a 640 x 480 image, in pixels per second.
void BM_FetchVideoPixel(benchmark::State& state) {
  const uint32_t code = static_cast<uint32_t>(state.range(0));
  const uint32_t w = 640, h = 480, pitch = code >= 41 ? w * 2 : w;
  std::vector<uint8_t> image(size_t{pitch} * h * 2, 0x80);
  uint32_t sum = 0;
  for (auto _ : state) {
    for (uint32_t y = 0; y < h; y += 8)
      for (uint32_t x = 0; x < w; ++x) sum += FetchVideoPixel(code, image.data(), pitch, w, h, x, y);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{w} * (h / 8));
}
BENCHMARK(BM_FetchVideoPixel)->Arg(39)->Arg(40)->Arg(41)->Arg(42);

// A draw's vertices: 3 x 32 bytes written into a ring, discarding every
// tenth time. Allocations of the glue during the run are reported.
void BM_RingDrawWrite(benchmark::State& state) {
  Machine m;
  BmBufferRing* ring = m.pdev != nullptr ? BmBufferRing::Create(65536, 2, m.pdev->common, m.pdev->unit, 0) : nullptr;
  if (ring == nullptr) {
    state.SkipWithError("no ring");
    return;
  }
  uint8_t vertices[96] = {};
  uint32_t at = 0;
  uint64_t n = 0;
  const uint64_t before = m.glue->AllocationCount();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ring->Lock(false, ++n % 10 == 0));
    ring->WriteAt(vertices, BufferRange{0, sizeof(vertices)}, at);
    ring->Unlock();
    at = (at + 96) % 65000;
  }
  state.counters["glue allocations"] = static_cast<double>(m.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
  delete ring;
}
BENCHMARK(BM_RingDrawWrite);

}  // namespace
