// Kernel core hot paths against fair baselines: a register write and read
// through the glue under the register-write guard next to the board's own
// access (the glue and the guard should at most double it), the kernel's
// ordered map next to std::map on 10^5 keys, a region heap fragmented to
// 10^4 blocks, and the DMA paths: client
// posts and plain tags with the board's engine executing them or with no
// engine (its progress faked), and an interrupt with nothing to do. The DMA
// paths allocate nothing once running: each reports the glue allocations
// of its timed loop, and fails when there are any.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/otl_map.h"
#include "core/pdev.h"
#include "kernel/dma_streams.h"
#include "kernel/interrupts.h"
#include "kernel/kernel_device.h"
#include "kernel/register_guard.h"
#include "kernel/sync_tags.h"
#include "kernel/vidmem/heaps.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

// The kernel core linked into the benchmark, as the machine's module.
orvmachine::KernelModuleOptions LinkedModule(uint32_t bmFlags) {
  orvmachine::KernelModuleOptions options;
  options.table = &orv_kstrn_driver;
  options.bmFlags = bmFlags;
  return options;
}

// A bare board of the simulated machine, its accesses not logged.
orvmachine::MachineBoard& QuietBoard(orvmachine::Machine& machine, uint32_t parts) {
  orvmachine::BoardSpec spec;
  spec.parts = parts;
  orvmachine::MachineBoard& b = machine.AddBoard(spec);
  b.board.SetLogging(false, false);
  if (b.dma) b.dma->SetRecording(false);
  return b;
}

// A loaded module with the board's device, for register access.
struct Machine {
  orvmachine::Machine machine;
  orvsim::Board& board = QuietBoard(machine, 0).board;
  orvmachine::KernelModule& module = machine.LoadKernelModule(machine.Board(), LinkedModule(0));
  KernelDevice* kdev = module.created;
};

// Registers 0x100 apart: the guard's rule runs, its dummy write does not.
constexpr uint32_t kRegs[] = {0x1000, 0x1100, 0x1200, 0x1300};

void BM_BoardRegWrite(benchmark::State& state) {
  Machine m;
  uint32_t i = 0;
  for (auto _ : state) {
    ++i;
    m.board.RegWrite(kRegs[i & 3], 4, i);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BoardRegWrite);

void BM_GuardedRegWrite(benchmark::State& state) {
  Machine m;
  void* regs = GetDeviceRegisterHandle(m.kdev);
  uint32_t i = 0;
  for (auto _ : state) {
    ++i;
    GuardedWrite(regs, m.kdev->sharedLocked, kRegs[i & 3], i);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GuardedRegWrite);

void BM_BoardRegRead(benchmark::State& state) {
  Machine m;
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m.board.RegRead(kRegs[++i & 3], 4));
    if ((i & 0xFFFFF) == 0) m.board.RegWrite(0x10, 4, 0);  // not a poll for the watchdog
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BoardRegRead);

void BM_GuardedRegRead(benchmark::State& state) {
  Machine m;
  void* regs = GetDeviceRegisterHandle(m.kdev);
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GuardedRead(regs, m.kdev->sharedLocked, kRegs[++i & 3]));
    if ((i & 0xFFFFF) == 0) m.board.RegWrite(0x10, 4, 0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GuardedRegRead);

constexpr size_t kKeys = 100000;

std::vector<uint32_t> Keys() {
  std::mt19937 random(7);
  std::vector<uint32_t> keys(kKeys);
  for (uint32_t& key : keys) key = random();
  return keys;
}

// Adding 10^5 keys with a record each, then deleting them all.
void BM_OtlAddIfAbsent(benchmark::State& state) {
  orvsim::Simulation sim;
  kglue::Glue glue;  // the kernel build allocates through the glue
  const std::vector<uint32_t> keys = Keys();
  for (auto _ : state) {
    Otl::Map<unsigned int, uint32_t*> map;
    for (uint32_t key : keys) map.AddIfAbsent(key);
    map.DeleteAll();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_OtlAddIfAbsent)->Unit(benchmark::kMillisecond);

void BM_StdMapEmplace(benchmark::State& state) {
  const std::vector<uint32_t> keys = Keys();
  for (auto _ : state) {
    std::map<unsigned int, uint32_t*> map;
    for (uint32_t key : keys) {
      auto [it, added] = map.try_emplace(key, nullptr);
      if (added) it->second = new uint32_t(0);
    }
    for (auto& [key, record] : map) delete record;
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapEmplace)->Unit(benchmark::kMillisecond);

void BM_OtlLowerBound(benchmark::State& state) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  const std::vector<uint32_t> keys = Keys();
  Otl::Map<unsigned int, uint32_t*> map;
  for (uint32_t key : keys) map.AddIfAbsent(key);
  uint32_t probe = 0;
  for (auto _ : state) {
    probe = probe * 1664525 + 1013904223;
    benchmark::DoNotOptimize(map.lower_bound(probe));
  }
  map.DeleteAll();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OtlLowerBound);

void BM_StdMapLowerBound(benchmark::State& state) {
  const std::vector<uint32_t> keys = Keys();
  std::map<unsigned int, uint32_t*> map;
  for (uint32_t key : keys) map.emplace(key, nullptr);
  uint32_t probe = 0;
  for (auto _ : state) {
    probe = probe * 1664525 + 1013904223;
    benchmark::DoNotOptimize(map.lower_bound(probe));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StdMapLowerBound);

// ---- DMA paths ------------------------------------------------------------------------

// A board with a started device object (requests 20 and 22), its streams in
// page-locked memory; with or without the DMA engine model.
struct StreamMachine {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts;
  orvsim::Board& board;
  orvsim::DmaEngine* dma;
  orvsim::InterruptController& irq;
  orvmachine::KernelModule* module = nullptr;
  kglue::Glue* glue = nullptr;
  OrvDevice* device = nullptr;
  KernelDevice* kdev = nullptr;
  CommonData* common = nullptr;
  SharedLockedData_t* shared = nullptr;
  uint32_t range = 0;  // a posted range of fill words
  void* rangeCpu = nullptr;

  explicit StreamMachine(bool engine)
      : parts(QuietBoard(machine, engine ? orvmachine::kInterrupts | orvmachine::kDma
                                         : uint32_t{orvmachine::kInterrupts})),
        board(parts.board), dma(parts.dma.get()), irq(*parts.irq) {
    if (!engine) board.Poke(orvsim::kDmaRegEngineStatus, 4, orvsim::kEngineStatusIdle);  // idle for ever
    module = &machine.LoadKernelModule(parts, LinkedModule(0x300004));
    glue = &module->glue;
    device = module->device;
    kdev = module->created;
    kglue::File* file = glue->Open(device);
    OrvEnableRequest request = {};
    request.mode.bitsPerPixel = 32;
    glue->Ioctl(file, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&request));
    glue->IoctlWithValue(file, ORV_IOCTL_START_DEVICE, request.kernelHandle);
    common = kdev->commonData;
    shared = kdev->sharedLocked;
    shared->primaryEngineMode = kEngineMode2d;
    const uint64_t bus = OsAllocLockedPages(device, 1, 0, 1, &rangeCpu);
    auto* words = static_cast<uint32_t*>(rangeCpu);
    for (int i = 0; i < 16; ++i) words[i] = 0x21212121;
    range = static_cast<uint32_t>(bus);
  }
  ~StreamMachine() { OsFreeLockedPages(device, range, rangeCpu, 1); }

  // Without an engine: what it would have reported, all at once.
  void FakeProgress() {
    if (dma) return;
    shared->completedBufferCounter = shared->bufferCounter;
    shared->completedTag = shared->syncTagCounter;
  }
};

void ReportAllocations(benchmark::State& state, uint64_t allocations) {
  state.counters["allocations"] = static_cast<double>(allocations);
  if (allocations != 0) state.SkipWithError("the steady state allocated");
}

void BM_ClientPost(benchmark::State& state) {
  StreamMachine m(state.range(0) != 0);
  const OrvDmaPostRequest record = {0, m.range, (m.range + 64) | 3, {}};
  const uint64_t before = m.glue->AllocationCount();
  uint32_t i = 0;
  for (auto _ : state) {
    SubmitClientDmaBuffer(m.common, record);
    if ((++i & 255) == 0) m.FakeProgress();
  }
  ReportAllocations(state, m.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) ? "engine executing" : "no engine");
}
BENCHMARK(BM_ClientPost)->Arg(0)->Arg(1);

void BM_PlainTag(benchmark::State& state) {
  StreamMachine m(state.range(0) != 0);
  SyncTagManager* tags = m.common->syncTagManager;
  BmPrimInt* stream = m.common->primaryStream;
  const uint64_t before = m.glue->AllocationCount();
  uint32_t i = 0;
  for (auto _ : state) {
    tags->EmitTag(kNoEventSlot, stream, false, nullptr);
    stream->Kick();
    // The engine source's service pops what passed, 32 at a time.
    if ((++i & 31) == 0) {
      m.FakeProgress();
      tags->ServePassedTags();
    }
  }
  ReportAllocations(state, m.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) ? "engine executing" : "no engine");
}
BENCHMARK(BM_PlainTag)->Arg(0)->Arg(1);

// A vertical blank of a source whose flip is not due: read, acknowledge,
// tick, nothing else.
void BM_IdleInterrupt(benchmark::State& state) {
  StreamMachine m(true);
  InterruptSource& source = m.common->interruptManager->sources[kSourceVBlank0];
  source.flip.period = 0xFFFFFFFF;
  source.EnableEvent(kEventFlip, true);
  const uint64_t before = m.glue->AllocationCount();
  for (auto _ : state) {
    m.irq.Raise(orvsim::kIrqVBlank0);
    benchmark::DoNotOptimize(CollectInterrupts(m.kdev));
  }
  ReportAllocations(state, m.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
  source.DisableEvent(kEventFlip, true);
}
BENCHMARK(BM_IdleInterrupt);

// A region heap of 64 MB holding 10^4 blocks with free gaps between them:
// one allocation and its free.
void BM_RegionHeapFragmented(benchmark::State& state) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  uint8_t ok = 0;
  MmRegionHeap heap(&ok, nullptr, kHeapDeviceAddress, 0, nullptr, 64u << 20, 32);
  std::vector<MmBlock*> blocks;
  for (int i = 0; i < 20000; ++i) blocks.push_back(heap.Allocate(1024 + 32 * (i % 7), 32));
  for (size_t i = 0; i < blocks.size(); i += 2) heap.Free(blocks[i]);  // 10^4 stay, gaps between
  uint32_t i = 0;
  for (auto _ : state) {
    MmBlock* block = heap.Allocate(512 + 32 * (++i % 5), 64);
    heap.Free(block);
  }
  for (size_t j = 1; j < blocks.size(); j += 2) heap.Free(blocks[j]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegionHeapFragmented);

// Request 0x1b as the device node delivers it (record copy, execute packet,
// kick) with no engine model behind the registers.
void BM_PostThroughTheNode(benchmark::State& state) {
  StreamMachine m(false);
  kglue::File* file = m.glue->Open(m.device);
  // The client posts a page of its own (the node refuses anything else).
  orv_ioctl_buffer pages = {kOrvBufferSharedLocked, kOrvBufferFlagLocked, 0, 4096, 0};
  m.glue->Ioctl(file, ORV_IOCTL_ALLOC_BUFFER, reinterpret_cast<unsigned long>(&pages));
  auto* words = reinterpret_cast<uint32_t*>(m.glue->ResolveBus(pages.offset, 4096));
  if (words == nullptr) {
    state.SkipWithError("no page for the client");
    return;
  }
  for (int k = 0; k < 16; ++k) words[k] = 0x21212121;
  const uint32_t range = static_cast<uint32_t>(pages.offset);
  OrvDmaPostRequest record = {0, range, (range + 64) | 3, {}};
  const uint64_t before = m.glue->AllocationCount();
  uint32_t i = 0;
  for (auto _ : state) {
    if (m.glue->Ioctl(file, ORV_IOCTL_POST_DMA, reinterpret_cast<unsigned long>(&record)) != 0) {
      state.SkipWithError("the post was refused");
      break;
    }
    if ((++i & 255) == 0) m.FakeProgress();
  }
  ReportAllocations(state, m.glue->AllocationCount() - before);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostThroughTheNode);

}  // namespace
