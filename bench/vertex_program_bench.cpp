// The vertex program builder's hot paths over a started device: cache hits
// in lookups per second (the recent array, a walk of 681 list entries, a
// kind-6 program found under its key mask), with the glue allocations they
// make counted (none); making an already resident program resident, as
// every draw does; a 4-slot upload beside a memcpy of its bytes; and cold
// builds of fixed-function programs per second.
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "bench/started_kernel.h"
#include "core/common_data.h"
#include "core/orv_abi.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/kernel_device.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

namespace {

struct Started : orvbench::StartedKernel {
  Started() { builder = common != nullptr ? common->vertexProgramBuilder : nullptr; }
  ~Started() {
    for (VertexProgramList* l : {&kinds, &fixed}) {
      while (VertexProgramNode* n = l->Head()) {
        VertexProgram* p = n->program;
        l->Unlink(n);
        delete n;
        builder->DetachProgram(p, nullptr);
        delete p;
      }
    }
  }
  // Fixed-function programs told apart by one element word: 0 .. n - 1.
  void FillFixed(uint32_t n) {
    render.elementCount = 1;
    for (uint32_t i = 0; i < n; ++i) {
      render.elements[0].firstWord = i;
      (void)FindOrBuildFixedFunctionProgram(builder, &fixed, &recent, render, tnl);
    }
  }

  VertexProgramBuilder* builder = nullptr;
  TnlStateKey tnl;
  TnlProgramInputs render = {};
  VertexProgramList kinds, fixed;
  RecentPrograms recent;
};

void CountAllocations(benchmark::State& state, Started& s, uint64_t before) {
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}

void BM_HitRecentArray(benchmark::State& state) {
  Started s;
  if (s.builder == nullptr) return state.SkipWithError("no builder");
  s.FillFixed(5);
  s.render.elements[0].firstWord = 0;  // the oldest of the five, last in the array
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state)
    benchmark::DoNotOptimize(FindOrBuildFixedFunctionProgram(s.builder, &s.fixed, &s.recent, s.render, s.tnl));
  CountAllocations(state, s, before);
}
BENCHMARK(BM_HitRecentArray);

void BM_HitAfterListWalk681(benchmark::State& state) {
  Started s;
  if (s.builder == nullptr) return state.SkipWithError("no builder");
  s.FillFixed(681);
  s.render.elements[0].firstWord = 680;  // the list's tail
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    s.recent = RecentPrograms{};
    benchmark::DoNotOptimize(FindOrBuildFixedFunctionProgram(s.builder, &s.fixed, &s.recent, s.render, s.tnl));
  }
  CountAllocations(state, s, before);
}
BENCHMARK(BM_HitAfterListWalk681);

void BM_HitKind6UnderItsMask(benchmark::State& state) {
  Started s;
  if (s.builder == nullptr) return state.SkipWithError("no builder");
  s.tnl.modeClassClip = 1;  // built in class 0
  (void)FindOrBuildKindProgram(s.builder, ProgramStateWord(s.render, s.tnl), 6, s.render, s.tnl, &s.kinds);
  s.tnl.modeClassClip = 1 | 1 << kTnlClassShift;  // found in class 1
  const uint32_t word = ProgramStateWord(s.render, s.tnl);
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state)
    benchmark::DoNotOptimize(FindOrBuildKindProgram(s.builder, word, 6, s.render, s.tnl, &s.kinds));
  CountAllocations(state, s, before);
}
BENCHMARK(BM_HitKind6UnderItsMask);

void BM_MakeResidentWhenResident(benchmark::State& state) {
  Started s;
  if (s.builder == nullptr) return state.SkipWithError("no builder");
  VertexProgram* p = FindOrBuildKindProgram(s.builder, ProgramStateWord(s.render, s.tnl), 6, s.render, s.tnl, &s.kinds);
  (void)s.builder->MakeResident(p, false, 0, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(s.builder->MakeResident(p, false, 0, nullptr));
  state.SetItemsProcessed(state.iterations());
  s.builder->SealBatchTag(0);
}
BENCHMARK(BM_MakeResidentWhenResident);

std::vector<uint8_t> FourSlotCode() {
  std::vector<uint8_t> code(4 * kSlotBytes);
  for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>(i * 7);
  return code;
}

void BM_UploadFourSlots(benchmark::State& state) {
  Started s;
  if (s.builder == nullptr) return state.SkipWithError("no builder");
  const std::vector<uint8_t> code = FourSlotCode();
  VertexProgram p;
  p.SetCode(code.data(), static_cast<uint32_t>(code.size()), false);
  for (auto _ : state) {
    p.resident = 0;
    s.builder->ringHead = s.builder->ringStart;
    benchmark::DoNotOptimize(s.builder->UploadToSlots(&p, nullptr));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * p.codeSize);
  s.builder->DetachProgram(&p, nullptr);
}
BENCHMARK(BM_UploadFourSlots);

void BM_MemcpyFourSlots(benchmark::State& state) {
  const std::vector<uint8_t> code = FourSlotCode();
  std::vector<uint8_t> slots(code.size());
  for (auto _ : state) {
    memcpy(slots.data(), code.data(), code.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(code.size()));
}
BENCHMARK(BM_MemcpyFourSlots);

void BM_ColdFixedFunctionBuild(benchmark::State& state) {
  Started s;
  if (s.builder == nullptr) return state.SkipWithError("no builder");
  s.tnl.blendCount = 1;
  s.tnl.spotLights = 1;
  s.tnl.directionalLights = 2;
  s.render.firstFlags = 0x08;
  s.render.elementCount = 2;
  s.render.elements[0].flags = 2 << 1;
  s.render.elements[1].flags = 3 << 1;
  s.render.elements[0].sources[0] = 0x21;
  for (auto _ : state) {
    s.builder->ResetAssembly();
    VertexProgram* p = s.builder->SelectFixedFunctionFragments(s.tnl, s.render);
    if (p != nullptr && s.builder->LinkInto(p)) benchmark::DoNotOptimize(p->code);
    delete p;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ColdFixedFunctionBuild);

}  // namespace
