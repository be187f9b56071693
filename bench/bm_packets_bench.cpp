// Packet writing into the primary buffer, in commands per second: a 2D mix
// of solid fills and copies stored through Reserve; the same with each
// command written and started under the command lock, as a drawing callback
// does (DMA modes 1 and 2); and, for scale, a memcpy and a memset of the
// same bytes into the same ring buffer.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/hw_register_access.h"

namespace {

// One solid fill (3 + 5 words) and one copy (5 + 3 words).
constexpr uint32_t kFill[] = {0x2121C6C5, 0x00010002, 0x00300040,
                              0xC9C8C7C0, 0x0000CC01, 0x11, 0x22, 0x33};
constexpr uint32_t kCopy[] = {0x8B8A8988, 1, 2, 3, 4, 0x2121C6C5, 0x00050006, 0x00100010};
constexpr int kCommandsPerRound = 2048;  // 1024 fills and 1024 copies
constexpr int64_t kBytesPerRound = kCommandsPerRound * 32;

void ReportCommands(benchmark::State& state) {
  const auto commands = static_cast<double>(state.iterations()) * kCommandsPerRound;
  state.counters["commands/s"] = benchmark::Counter(commands, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * kBytesPerRound);
}

struct Pool {
  Pool() {
    common = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common->sharedLocked = &shared;
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, 1 << 20);
    pool = new BmBufferPool(common, 0, o);
    pool->Open();
  }
  ~Pool() {
    delete pool;
    free(common);
  }
  SharedLockedData_t shared = {};
  CommonData* common;
  BmBufferPool* pool;
};

void BM_WritePacketMix(benchmark::State& state) {
  Pool p;
  for (auto _ : state) {
    for (int i = 0; i < kCommandsPerRound / 2; ++i) {
      uint32_t* at = p.pool->Reserve(8);
      for (uint32_t w : kFill) *at++ = w;
      at = p.pool->Reserve(8);
      for (uint32_t w : kCopy) *at++ = w;
    }
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
}
BENCHMARK(BM_WritePacketMix);

// The same bytes copied, and set, into the ring buffer the writer uses.
void BM_MemcpyIntoRing(benchmark::State& state) {
  Pool p;
  std::vector<uint32_t> source;
  for (int i = 0; i < kCommandsPerRound / 2; ++i) {
    source.insert(source.end(), kFill, kFill + 8);
    source.insert(source.end(), kCopy, kCopy + 8);
  }
  uint32_t* ring = p.pool->head->Begin();
  for (auto _ : state) {
    memcpy(ring, source.data(), source.size() * 4);
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
}
BENCHMARK(BM_MemcpyIntoRing);

void BM_MemsetIntoRing(benchmark::State& state) {
  Pool p;
  uint32_t* ring = p.pool->head->Begin();
  for (auto _ : state) {
    memset(ring, 0x21, kBytesPerRound);
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
}
BENCHMARK(BM_MemsetIntoRing);

// The primary interface with its registers in plain memory that reads idle
// and ready. Mode 1 runs each started range on the processor; mode 2 writes
// the DMA end register for it, from a buffer in local memory.
struct Primary {
  explicit Primary(uint32_t mode) : registers(8192 / 4, 0), local(1 << 20) {
    common = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common->sharedLocked = &shared;
    common->registers = reinterpret_cast<volatile uint8_t*>(registers.data());
    registers[kRegEngineStatus / 4] = kEngineStatusIdle;
    registers[kRegEngineIdle / 4] = kEngineIdleDma;
    registers[kRegDmaStatus / 4] = kDmaStatusWriteReady;
    shared.expectedDmaStatus = kDmaStatusWriteReady;
    shared.dmaMode = mode;
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, 16384);
    prim = new BmPrimInt(common, 0, o);
    prim->BmBufferPool::Open();
    if (mode == kDmaModeLocal) {
      // One buffer in local memory in place of the process one.
      prim->Close();
      prim->head = BmBuffer::Create(common, 0, kBmMemLocal, static_cast<uint32_t>(local.size()),
                                    local.data(), 0x100000);
      prim->head->state = kBmBufferCurrent;
      prim->bufferCount = 1;
      prim->openCount = 1;
      prim->cursor = prim->start = prim->head->Begin();
      prim->limit = prim->head->End() - prim->options.reserve;
    }
  }
  ~Primary() {
    delete prim;
    free(common);
  }
  SharedLockedData_t shared = {};
  std::vector<uint32_t> registers;
  std::vector<uint8_t> local;
  CommonData* common;
  BmPrimInt* prim;
};

// Each command is written and started on its own under the command lock,
// as a drawing callback does.
void WriteStarted(Primary& p, const uint32_t (&command)[8]) {
  if (!BmAcquireCommandLock(&p.shared, kCmdLockOwnerXDriver)) return;  // free: taken at once
  uint32_t* at = p.prim->Reserve(8);
  for (uint32_t w : command) *at++ = w;
  p.prim->Start();
  BmReleaseCommandLock(&p.shared, kCmdLockOwnerXDriver);
}

void BM_PrimaryMixLockedAndStarted(benchmark::State& state) {
  Primary p(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    for (int i = 0; i < kCommandsPerRound / 2; ++i) {
      WriteStarted(p, kFill);
      WriteStarted(p, kCopy);
    }
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
  state.SetLabel(state.range(0) == kDmaModeLocal ? "local DMA" : "processor executes");
}
BENCHMARK(BM_PrimaryMixLockedAndStarted)->Arg(kDmaModeEmulate)->Arg(kDmaModeLocal);

}  // namespace
