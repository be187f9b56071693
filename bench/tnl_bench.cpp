// The transform-and-lighting engine's hot paths: vertex layouts decoded per
// input format; the constant shadow's emission and fold with 0, 8, 64 and
// 384 dirty constants, beside a memcpy of the constants' bytes; program
// linking in bytes per second, beside a memcpy of the program's bytes.
#include <benchmark/benchmark.h>

#include <string.h>

#include <memory>
#include <vector>

#include "core/bm_buffer.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/tnl/microcode_catalogue.h"
#include "kernel/3d/tnl/program_linker.h"
#include "kernel/3d/tnl/vertex_format.h"

namespace {

void BM_FormatFromFvf(benchmark::State& state) {
  VertexFormat f;
  for (auto _ : state) benchmark::DoNotOptimize(f.FromFvf(0x152));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatFromFvf);

void BM_FormatFromDeclaration(benchmark::State& state) {
  const uint32_t decl[] = {0, 0, 0, 1u << 29, 2u << 29 | 2u << 16, 2u << 29 | 3 | 2u << 16,
                           2u << 29 | 5 | 4u << 16, 2u << 29 | 7 | 1u << 16, 1u << 29 | 1,
                           2u << 29 | 8 | 1u << 16, 0xE0000000};
  VertexFormat f;
  for (auto _ : state) benchmark::DoNotOptimize(f.FromDeclaration(decl, sizeof decl / 4));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatFromDeclaration);

void BM_FormatFromLayout(benchmark::State& state) {
  const uint32_t record[6] = {0x1 | 0x4 | 0x20 | 2u << 16 | 2u << 19, 0x100, 0x10, 0x0000FF00, 0, 0xFFFF};
  VertexFormat f;
  for (auto _ : state) benchmark::DoNotOptimize(f.FromLayout(record));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatFromLayout);

// A stream over one plain block: a buffer switch starts it again.
class MemoryStream : public BmBufferPool {
 public:
  MemoryStream() : BmBufferPool(nullptr, 0, CreateOptions{}), words_(1 << 16) {
    start = cursor = words_.data();
    limit = words_.data() + words_.size();
  }
  void SwitchToNewBuffer() override { cursor = start; }

 private:
  std::vector<uint32_t> words_;
};

void BM_ShadowCopyDirtyAndFold(benchmark::State& state) {
  const uint32_t dirty = static_cast<uint32_t>(state.range(0));
  auto shadow = std::make_unique<VecConstShadow>();
  for (uint32_t c = 0; c < kVecConstCount; ++c) shadow->image[c] = VecConst{{c, c, c, c}};
  MemoryStream stream;
  for (auto _ : state) {
    if (dirty != 0) shadow->MarkDirty(0, dirty - 1);
    if (shadow->dirtySummary != 0) shadow->CopyDirty(&stream);
    shadow->FoldSent();
    stream.cursor = stream.start;
  }
  state.SetItemsProcessed(state.iterations() * dirty);
  state.SetBytesProcessed(state.iterations() * dirty * sizeof(VecConst));
}
BENCHMARK(BM_ShadowCopyDirtyAndFold)->Arg(0)->Arg(8)->Arg(64)->Arg(384);

void BM_ShadowBaselineMemcpy(benchmark::State& state) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  std::vector<VecConst> from(kVecConstCount), to(kVecConstCount);
  for (auto _ : state) {
    memcpy(to.data(), from.data(), n * sizeof(VecConst));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * sizeof(VecConst));
}
BENCHMARK(BM_ShadowBaselineMemcpy)->Arg(8)->Arg(64)->Arg(384);

// A program as the builder lists one: the transform part, two light steps
// with their recipes, texture fragments and the closing fragment.
struct LinkSetup {
  std::unique_ptr<MicrocodeCatalogue> catalogue = std::make_unique<MicrocodeCatalogue>();
  std::vector<FragmentRef> refs;
  std::vector<PatchRecord> patches;
  std::vector<FixupRecord> fixups;
  size_t bytes = 0;
  LinkSetup() {
    InitMicrocodeCatalogue(catalogue.get(), 0);
    const MicrocodeCatalogue& c = *catalogue;
    auto plain = [&](uint32_t f) { refs.push_back({f, 0, 0}); };
    plain(6);
    for (uint32_t i = 3; i <= 6; ++i) patches.push_back({i, 4, 2});
    refs.back().patchCount = 4;
    plain(66);
    plain(84);
    for (uint32_t key : {0u, 648u}) {
      const FixupRecipe& r = c.fixupRecipes[key];
      refs.push_back({c.lightPair[key], 0, r.count});
      for (uint32_t i = 0; i < r.count; ++i) fixups.push_back({r.records[i].instruction, r.records[i].selector, 1});
    }
    for (uint32_t f = 471; f < 479; ++f) plain(f);
    plain(200);
    for (const FragmentRef& r : refs) bytes += c.directory[r.entry].size;
  }
};

void BM_LinkProgram(benchmark::State& state) {
  LinkSetup s;
  std::vector<uint8_t> out(s.bytes);
  const ProgramLists lists{s.refs.data(), s.refs.size(), s.patches.data(), s.patches.size(),
                           s.fixups.data(), s.fixups.size()};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        LinkVertexProgram(lists, s.catalogue->directory, kFragmentEntries, out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * s.bytes);
}
BENCHMARK(BM_LinkProgram);

void BM_LinkBaselineMemcpy(benchmark::State& state) {
  LinkSetup s;
  std::vector<uint8_t> out(s.bytes);
  for (auto _ : state) {
    uint8_t* at = out.data();
    for (const FragmentRef& r : s.refs) {
      const FragmentDirEntry& e = s.catalogue->directory[r.entry];
      memcpy(at, e.code, e.size);
      at += e.size;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * s.bytes);
}
BENCHMARK(BM_LinkBaselineMemcpy);

}  // namespace
