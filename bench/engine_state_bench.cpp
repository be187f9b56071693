// The engine state's hot paths over a started device: a context state with
// everything dirty written as packets (emitted bytes per second) beside a
// memcpy of the same bytes; Execute of the current state with nothing
// dirty; and Execute switching between two states, which re-emits what the
// other one wrote (the board runs the packets). Glue allocations made in
// the loop are counted (none).
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "core/common_data.h"
#include "core/orv_abi.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_device.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

struct Started {
  Started() {
    orvmachine::BoardSpec spec;
    spec.parts = orvmachine::kDma | orvmachine::kVertex;
    orvmachine::MachineBoard& b = machine.AddBoard(spec);
    b.board.SetLogging(false, false);
    orvmachine::KernelModuleOptions options;
    options.table = &orv_kstrn_driver;
    options.bmFlags = 0x300004;
    orvmachine::KernelModule& module = machine.LoadKernelModule(b, options);
    glue = &module.glue;
    file = glue->Open(module.device);
    OrvEnableRequest enable;
    memset(&enable, 0, sizeof enable);
    enable.mode.bitsPerPixel = 32;
    enable.mode.bytesPerPixel = 4;
    enable.mode.registerWindowSize = 8192;
    (void)glue->Ioctl(file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable));
    common = module.created != nullptr ? module.created->commonData : nullptr;
    owner = common != nullptr ? common->engineOwner3d : nullptr;
  }

  orvmachine::Machine machine;
  kglue::Glue* glue = nullptr;
  kglue::File* file = nullptr;
  CommonData* common = nullptr;
  EngineOwner3d* owner = nullptr;
};

void MarkAll(ContextState3d& s) {
  s.dirty.words[0] = kCsDirtyBlockGroups;
  s.dirty.words[1] = s.dirty.words[2] = 0xFFFFFFFF;
  s.fogBlock[0] = 3;  // the fog table goes out too
  s.textureUnits.stageCount = 4;
  s.textureUnits.unitCount = 10;
}

// Bytes one emission of everything writes.
uint32_t EmittedBytes(Started& s, ContextState3d& state) {
  BmSecondaryInt* stream = s.common->secondaryStream;
  uint32_t* from = stream->cursor;
  MarkAll(state);
  state.Emit(stream);
  const uint32_t bytes = static_cast<uint32_t>(4 * (stream->cursor - from));
  stream->cursor = from;
  return bytes;
}

void BM_EmitEverythingDirty(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d cs(nullptr);
  BmSecondaryInt* stream = s.common->secondaryStream;
  const uint32_t bytes = EmittedBytes(s, cs);
  uint32_t* from = stream->cursor;
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    MarkAll(cs);
    cs.Emit(stream);
    benchmark::ClobberMemory();
    stream->cursor = from;  // written again in place: nothing is executed
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_EmitEverythingDirty);

void BM_MemcpyOfTheEmittedBytes(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d cs(nullptr);
  const uint32_t bytes = EmittedBytes(s, cs);
  std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_MemcpyOfTheEmittedBytes);

void BM_ExecuteNothingDirty(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d a(s.owner);
  s.owner->Execute(&a, 0, false);
  const uint64_t before = s.glue->AllocationCount();
  for (auto _ : state) {
    s.owner->Execute(&a, 0, true);
    benchmark::ClobberMemory();
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExecuteNothingDirty);

void BM_ExecuteSwitchingTwoStates(benchmark::State& state) {
  Started s;
  if (s.owner == nullptr) return state.SkipWithError("no engine owner");
  ContextState3d a(s.owner), b(s.owner);
  b.depthStencilBlock[4] = 1;
  b.dirty.words[0] = kCsDirtyDepth;
  s.owner->Execute(&a, 0, false);
  s.owner->Execute(&b, 0, false);
  const uint64_t before = s.glue->AllocationCount();
  bool flip = false;
  for (auto _ : state) {
    s.owner->Execute(flip ? &a : &b, 0, false);
    flip = !flip;
  }
  state.counters["allocations"] = static_cast<double>(s.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExecuteSwitchingTwoStates);

}  // namespace
