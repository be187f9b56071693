// The processor's vertex path: FetchAttribute by format in attributes per
// second beside a memcpy of the same source bytes (each attribute's bytes
// copied to a 16-byte value), and the conversion routines (triangles and
// sprite points of a position, a colour and a texture coordinate set) in
// vertices per second beside a memcpy of the words they write. The
// conversions write into the render context's stream as a draw does; the
// stream is rewound between blocks and its ranges are not handed to the
// engine, so what is measured is the conversion, not the simulated board.
// Glue allocations made in the loops are counted (none).
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "bench/started_kernel.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/draw/primitive_emitters.h"
#include "kernel/3d/draw/vertex_fetch.h"
#include "kernel/3d/draw/vertex_stream_setup.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/dma_streams.h"

namespace {

constexpr uint32_t kVertices = 4096;
constexpr uint32_t kStride = 32;

void Element(uint8_t out[4], uint32_t offset, uint32_t format, uint32_t usage, uint32_t mask) {
  out[0] = static_cast<uint8_t>(offset);
  out[1] = static_cast<uint8_t>((format & 0xF) << 3 | (usage & 1) << 7);
  out[2] = static_cast<uint8_t>(((usage >> 1) & 7) | (mask & 0xF) << 3);
  out[3] = 0;
}

std::vector<uint8_t> VertexBytes() {
  std::vector<uint8_t> v(kVertices * kStride);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

// Format codes with the mask their element needs: 0 (four raw words), 2
// and 6 (bytes), 9 (four 16-bit values), 11 (two signed 16-bit values).
struct FormatCase {
  uint32_t code;
  uint32_t mask;
  uint32_t bytes;
};
constexpr FormatCase kFormats[] = {{0, 0xF, 16}, {2, 0, 4}, {6, 0, 4}, {9, 0x2, 8}, {11, 0, 4}};

void BM_FetchAttribute(benchmark::State& state) {
  const FormatCase f = kFormats[state.range(0)];
  const std::vector<uint8_t> vertices = VertexBytes();
  VertexFetch fetch;
  fetch.SetSourceWindow(vertices.data(), vertices.data() + vertices.size());
  uint8_t element[4];
  Element(element, 2, f.code, 7, f.mask);
  uint32_t out[4] = {};
  for (auto _ : state) {
    for (uint32_t i = 0; i < kVertices; ++i) {
      fetch.FetchAttribute(vertices.data() + i * kStride, element, out);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kVertices);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kVertices * f.bytes);
  state.SetLabel("code " + std::to_string(f.code));
}
BENCHMARK(BM_FetchAttribute)->DenseRange(0, 4);

// The baseline: each attribute's source bytes copied to the value.
void BM_FetchAttributeBaseline_Memcpy(benchmark::State& state) {
  const FormatCase f = kFormats[state.range(0)];
  const std::vector<uint8_t> vertices = VertexBytes();
  uint32_t out[4] = {};
  for (auto _ : state) {
    for (uint32_t i = 0; i < kVertices; ++i) {
      memcpy(out, vertices.data() + i * kStride + 8, f.bytes);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kVertices);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kVertices * f.bytes);
  state.SetLabel("bytes of code " + std::to_string(f.code));
}
BENCHMARK(BM_FetchAttributeBaseline_Memcpy)->DenseRange(0, 4);

// ---- Conversion --------------------------------------------------------------------------------

struct Converting : orvbench::StartedKernel {
  Converting() {
    if (pdev == nullptr) return;
    table = CreateResourceTable(pdev, 4321);
    RenderContextRequest3d request{nullptr, pdev, 4321, 0, {nullptr, nullptr}, 0};
    if (table == nullptr || !CreateRenderContext(&request)) return;
    context = RenderContextTableGet(request.handle);
    if (context == nullptr || context->secondaryStream == nullptr) return;
    stream = context->secondaryStream;
    primary = stream->primary;
    // Position (four words), a colour (a word), texture set 0 (two words).
    uint8_t elements[3][4];
    Element(elements[0], 0, 0, 0, 0xF);
    Element(elements[1], 4, 2, 5, 0);
    Element(elements[2], 5, 0, 7, 0x3);
    fetch = &context->streamSetup.fetch;
    fetch->SetElements(&elements[0][0], 3);
    context->state.values[kRsCullMode] = 1;
    vertices.resize(kVertices * kStride / 4);
    for (uint32_t i = 0; i < kVertices; ++i) {
      float* v = &vertices[i * kStride / 4];
      v[0] = static_cast<float>(i % 640);
      v[1] = static_cast<float>((i * 7) % 480);
      v[2] = 0.5f;
      v[3] = 1.0f;
      const uint32_t colour = 0xFF00FF00u ^ i;
      memcpy(&v[4], &colour, 4);
      v[5] = 0.25f;
      v[6] = 0.75f;
    }
    const uint8_t* base = reinterpret_cast<const uint8_t*>(vertices.data());
    fetch->SetSourceWindow(base, base + vertices.size() * 4);
  }
  ~Converting() {
    if (stream != nullptr) stream->primary = primary;
    EmptyRenderContextTable();
    if (table != nullptr) DestroyResourceTable(pdev, 4321);
  }
  const uint8_t* V(uint32_t i) const { return reinterpret_cast<const uint8_t*>(vertices.data()) + i * kStride; }

  // Runs f over the vertices in blocks, the stream rewound after each; the
  // words the last block wrote.
  template <class Fn>
  std::vector<uint32_t> Blocks(Fn&& f) {
    stream->primary = nullptr;  // nothing is handed to the engine
    uint32_t* from = stream->cursor;
    f();
    std::vector<uint32_t> words(from, stream->cursor);
    stream->cursor = stream->start = from;
    stream->primary = primary;
    return words;
  }

  // Runs f at the cursor and rewinds, keeping nothing.
  template <class Fn>
  void Run(Fn&& f) {
    stream->primary = nullptr;
    uint32_t* from = stream->cursor;
    f();
    stream->cursor = stream->start = from;
    stream->primary = primary;
  }

  ResourceTable* table = nullptr;
  RenderContext3d* context = nullptr;
  BmSecondaryInt* stream = nullptr;
  BmPrimInt* primary = nullptr;
  VertexFetch* fetch = nullptr;
  std::vector<float> vertices;
};

constexpr uint32_t kBlockTriangles = 64;

void ConvertTriangles(Converting& c) {
  for (uint32_t t = 0; t < kBlockTriangles; ++t) {
    const uint32_t a = 3 * t;
    c.fetch->EmitTriangle(c.V(a), c.V(a + 1), c.V(a + 2), c.V(a + 2));
  }
}

void ConvertPoints(Converting& c) {
  for (uint32_t p = 0; p < kBlockTriangles * 3; ++p) c.fetch->EmitPoint(c.V(p), p == 0);
}

void BM_ConvertTriangles(benchmark::State& state) {
  Converting c;
  if (c.fetch == nullptr) return state.SkipWithError("no render context");
  c.fetch->EmitLayout(nullptr, false);
  const uint64_t before = c.glue->AllocationCount();
  size_t words = 0;
  words = c.Blocks([&] { ConvertTriangles(c); }).size();
  for (auto _ : state) c.Run([&] { ConvertTriangles(c); });
  state.counters["allocations"] = static_cast<double>(c.glue->AllocationCount() - before);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlockTriangles * 3);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(words) * 4);
}
BENCHMARK(BM_ConvertTriangles);

void BM_ConvertSpritePoints(benchmark::State& state) {
  Converting c;
  if (c.fetch == nullptr) return state.SkipWithError("no render context");
  c.context->state.values[kRsPointSprite] = 1;
  float size = 4.0f, largest = 64.0f;
  memcpy(&c.context->state.values[kRsPointSize], &size, 4);
  memcpy(&c.context->state.values[kRsPointSizeMax], &largest, 4);
  c.fetch->EmitLayout(nullptr, true);
  const uint64_t before = c.glue->AllocationCount();
  size_t words = 0;
  words = c.Blocks([&] { ConvertPoints(c); }).size();
  for (auto _ : state) c.Run([&] { ConvertPoints(c); });
  state.counters["allocations"] = static_cast<double>(c.glue->AllocationCount() - before);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlockTriangles * 3);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(words) * 4);
}
BENCHMARK(BM_ConvertSpritePoints);

// The baseline: the words a block of triangles writes, copied into the
// same place of the stream.
void BM_ConvertTrianglesBaseline_Memcpy(benchmark::State& state) {
  Converting c;
  if (c.fetch == nullptr) return state.SkipWithError("no render context");
  c.fetch->EmitLayout(nullptr, false);
  const std::vector<uint32_t> image = c.Blocks([&] { ConvertTriangles(c); });
  uint32_t* at = c.stream->cursor;
  if (static_cast<size_t>(c.stream->limit - at) < image.size()) return state.SkipWithError("no room");
  for (auto _ : state) {
    memcpy(at, image.data(), image.size() * 4);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlockTriangles * 3);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()) * 4);
}
BENCHMARK(BM_ConvertTrianglesBaseline_Memcpy);

}  // namespace


// ---- Primitive emitters ------------------------------------------------------------------------
// Inline 16-bit indices of a triangle strip and vertices copied from one
// and from three streams, each a draw that fits one stream buffer, beside a
// memcpy of the bytes they emit into the same place of the stream.

namespace {

constexpr uint32_t kStripIndices = 50000;
constexpr uint32_t kCopiedVertices = 2000;

StreamBinding PointerBinding(const void* p, uint32_t stride, uint32_t count) {
  const uint64_t a = reinterpret_cast<uintptr_t>(p);
  return StreamBinding{kBindingPointer, static_cast<uint32_t>(a), static_cast<uint32_t>(a >> 32), stride, count};
}

// Runs the emitter once to learn its words; then each iteration emits
// again at the same place (the stream rewound, nothing handed to the
// engine), or copies the learnt words there for the baseline.
template <class Fn>
void EmitLoop(benchmark::State& state, Converting& c, Fn&& emit, bool baseline, int64_t items) {
  const std::vector<uint32_t> image = c.Blocks(emit);
  if (image.empty()) return state.SkipWithError("the emitter wrote nothing");
  uint32_t* at = c.stream->cursor;
  const uint64_t before = c.glue->AllocationCount();
  for (auto _ : state) {
    if (baseline) {
      memcpy(at, image.data(), image.size() * 4);
      benchmark::ClobberMemory();
    } else {
      c.Run(emit);
    }
  }
  state.counters["allocations"] = static_cast<double>(c.glue->AllocationCount() - before);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * items);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()) * 4);
}

void InlineStrip(benchmark::State& state, bool baseline) {
  Converting c;
  if (c.fetch == nullptr) return state.SkipWithError("no render context");
  std::vector<uint16_t> indices(kStripIndices);
  for (uint32_t i = 0; i < kStripIndices; ++i) indices[i] = static_cast<uint16_t>(i * 7);
  VertexStreamSetup& setup = c.context->streamSetup;
  setup.SetIndexSource(PointerBinding(indices.data(), 2, 0));
  setup.index.size = kStripIndices * 2;
  setup.primitiveType = 6;
  EmitLoop(state, c, [&] { EmitInlineIndices(&setup, kStripIndices, true); }, baseline, kStripIndices);
}
void BM_InlineIndices16Strip(benchmark::State& state) { InlineStrip(state, false); }
void BM_InlineIndices16StripBaseline_Memcpy(benchmark::State& state) { InlineStrip(state, true); }
BENCHMARK(BM_InlineIndices16Strip);
BENCHMARK(BM_InlineIndices16StripBaseline_Memcpy);

void Copied(benchmark::State& state, bool baseline) {
  Converting c;
  if (c.fetch == nullptr) return state.SkipWithError("no render context");
  const uint32_t streams = static_cast<uint32_t>(state.range(0));
  // One stream of 32-byte vertices, or three of 16, 8 and 8 bytes.
  const uint32_t strides[3] = {streams == 1 ? 32u : 16u, 8, 8};
  std::vector<std::vector<uint8_t>> data(streams);
  StreamBinding bindings[kVertexStreams] = {};
  std::vector<uint8_t> list = {static_cast<uint8_t>(streams), 0, 0, 0};
  for (uint32_t s = 0; s < streams; ++s) {
    data[s].assign(static_cast<size_t>(kCopiedVertices) * strides[s], static_cast<uint8_t>(s + 1));
    bindings[s] = PointerBinding(data[s].data(), strides[s], kCopiedVertices);
    uint8_t e[4];
    Element(e, 0, 2, 5, 0);
    e[1] = static_cast<uint8_t>(e[1] | s);
    list.insert(list.end(), e, e + 4);
  }
  VertexStreamSetup& setup = c.context->streamSetup;
  setup.SetStreamSources(static_cast<uint8_t>((1u << streams) - 1), bindings);
  if (!setup.StoreElementList(list.data(), static_cast<uint32_t>(list.size()))) return state.SkipWithError("list");
  setup.SetVertexElements(&setup.hw);
  setup.ComputeVertexLimit(false, &setup.hw);
  setup.primitiveType = 5;
  EmitLoop(state, c, [&] { EmitInlineVertices(&setup, kCopiedVertices / 3 * 3, false); }, baseline,
           kCopiedVertices / 3 * 3);
}
void BM_CopiedVertices(benchmark::State& state) { Copied(state, false); }
void BM_CopiedVerticesBaseline_Memcpy(benchmark::State& state) { Copied(state, true); }
BENCHMARK(BM_CopiedVertices)->Arg(1)->Arg(3);
BENCHMARK(BM_CopiedVerticesBaseline_Memcpy)->Arg(1)->Arg(3);

}  // namespace
