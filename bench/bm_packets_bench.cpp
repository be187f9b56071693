// Packet writing into the primary buffer, in commands per second: a 2D mix
// of solid fills and copies stored through one Reserve per command, and the
// same commands written in runs of 64 through the batch reservation
// (BmWriteRun), as the drawing code writes its runs; the runs again under
// the command lock with a Start after each run, as a drawing callback does
// (DMA modes 1 and 2); and, for scale, a memcpy, the same bytes in 16-byte
// stores and a memset of the same bytes to the same places of the same ring
// buffer, and the same memcpy in runs with the lock and the start's
// register accesses around each run.
// Every round writes 64 KB; a 1 MB ring holds 16 rounds, so the writers and
// the baselines walk the whole ring, each round landing where the previous
// one ended.
#include <stdlib.h>
#include <string.h>

#include <emmintrin.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "core/bm_packets.h"
#include "core/bm_prim_int.h"
#include "core/hw_register_access.h"
#include "core/os.h"

namespace {

// One solid fill (3 + 5 words) and one copy (5 + 3 words).
constexpr uint32_t kFill[] = {0x2121C6C5, 0x00010002, 0x00300040,
                              0xC9C8C7C0, 0x0000CC01, 0x11, 0x22, 0x33};
constexpr uint32_t kCopy[] = {0x8B8A8988, 1, 2, 3, 4, 0x2121C6C5, 0x00050006, 0x00100010};
constexpr uint32_t kCommandWords = 8;
constexpr int kCommandsPerRound = 2048;  // 1024 fills and 1024 copies
constexpr uint32_t kCommandsPerRun = 64;
constexpr int64_t kBytesPerRound = kCommandsPerRound * kCommandWords * 4;
constexpr uint32_t kRingBytes = 1 << 20;
static_assert(kRingBytes % kBytesPerRound == 0, "the rounds tile the ring");

void ReportCommands(benchmark::State& state) {
  const auto commands = static_cast<double>(state.iterations()) * kCommandsPerRound;
  state.counters["commands/s"] = benchmark::Counter(commands, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * kBytesPerRound);
}

// A fill and a copy, stored as the drawing code stores packets whose shape
// it knows. The runs write the mix as pairs: a run of 64 commands is 32
// pairs of 16 words, which land where 64 single commands would, as the 1 MB
// ring holds a whole number of pairs.
constexpr uint32_t kPairWords = 2 * kCommandWords;
constexpr uint32_t kPairsPerRun = kCommandsPerRun / 2;
static_assert(kRingBytes % (4 * kPairWords) == 0);
inline void PutPair(uint32_t* at, uint32_t) {
  for (uint32_t w : kFill) *at++ = w;
  for (uint32_t w : kCopy) *at++ = w;
}

// A pool of one 1 MB buffer in process memory, without a reserve: the
// 16 rounds fill it exactly before it starts again at its beginning.
struct Pool {
  Pool() {
    common = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    common->sharedLocked = &shared;
    BmBufferPool::CreateOptions o;
    o.bufferCount = 1;
    o.alloc.Add(kBmMemProcess, kRingBytes);
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
      uint32_t* at = p.pool->Reserve(kCommandWords);
      for (uint32_t w : kFill) *at++ = w;
      at = p.pool->Reserve(kCommandWords);
      for (uint32_t w : kCopy) *at++ = w;
    }
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
  state.SetLabel("one Reserve per command");
}
BENCHMARK(BM_WritePacketMix);

void BM_WritePacketMixBatched(benchmark::State& state) {
  Pool p;
  for (auto _ : state) {
    for (int run = 0; run < kCommandsPerRound / static_cast<int>(kCommandsPerRun); ++run) {
      BmWriteRun(p.pool, kPairsPerRun, kPairWords, PutPair);
    }
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
  state.SetLabel("runs of 64 commands");
}
BENCHMARK(BM_WritePacketMixBatched);

// The round's bytes, as the writers store them.
std::vector<uint32_t> RoundImage() {
  std::vector<uint32_t> image(kCommandsPerRound * kCommandWords);
  for (uint32_t i = 0; i < kCommandsPerRound / 2; ++i) PutPair(&image[i * kPairWords], i);
  return image;
}

// The same bytes copied, and set, to the same places: each round to the
// next 64 KB of the ring, from its beginning again after the last.
void BM_MemcpyIntoRing(benchmark::State& state) {
  Pool p;
  const std::vector<uint32_t> source = RoundImage();
  uint8_t* ring = reinterpret_cast<uint8_t*>(p.pool->head->Begin());
  uint32_t offset = 0;
  for (auto _ : state) {
    memcpy(ring + offset, source.data(), kBytesPerRound);
    offset = (offset + kBytesPerRound) % kRingBytes;
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
}
BENCHMARK(BM_MemcpyIntoRing);

// The same bytes stored 16 at a time from registers (the round repeats one
// 64-byte pair), with nothing else to do: the widest store of the
// instruction set the drivers are built for, where the library's memcpy
// and memset use wider ones the processor has. No writer of these packets
// stores faster than this.
void BM_Store16IntoRing(benchmark::State& state) {
  Pool p;
  const std::vector<uint32_t> source = RoundImage();
  const __m128i* pair = reinterpret_cast<const __m128i*>(source.data());
  uint8_t* ring = reinterpret_cast<uint8_t*>(p.pool->head->Begin());
  uint32_t offset = 0;
  for (auto _ : state) {
    const __m128i a = _mm_loadu_si128(pair);
    const __m128i b = _mm_loadu_si128(pair + 1);
    const __m128i c = _mm_loadu_si128(pair + 2);
    const __m128i d = _mm_loadu_si128(pair + 3);
    __m128i* to = reinterpret_cast<__m128i*>(ring + offset);
    for (int64_t i = 0; i < kBytesPerRound / 16; i += 4) {
      _mm_storeu_si128(to + i, a);
      _mm_storeu_si128(to + i + 1, b);
      _mm_storeu_si128(to + i + 2, c);
      _mm_storeu_si128(to + i + 3, d);
    }
    offset = (offset + kBytesPerRound) % kRingBytes;
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
}
BENCHMARK(BM_Store16IntoRing);

void BM_MemsetIntoRing(benchmark::State& state) {
  Pool p;
  uint8_t* ring = reinterpret_cast<uint8_t*>(p.pool->head->Begin());
  uint32_t offset = 0;
  for (auto _ : state) {
    memset(ring + offset, 0x21, kBytesPerRound);
    offset = (offset + kBytesPerRound) % kRingBytes;
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
}
BENCHMARK(BM_MemsetIntoRing);

// The primary interface with its registers in plain memory that reads idle
// and ready. Mode 1 runs each started range on the processor from a
// 16 KB buffer of process memory; mode 2 writes the DMA end register for
// it, from a 1 MB buffer in local memory whose limit (its end less the
// reserve for the switch packet) lies where the memcpy baseline's ring
// ends.
struct Primary {
  explicit Primary(uint32_t mode) : registers(8192 / 4, 0), local(kRingBytes + 4 * kBmMinReserve) {
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

// Runs of 64 commands, each written and started under the command lock, as
// a drawing callback writes a list of rectangles.
void BM_PrimaryMixLockedAndStarted(benchmark::State& state) {
  Primary p(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    for (int run = 0; run < kCommandsPerRound / static_cast<int>(kCommandsPerRun); ++run) {
      if (!BmAcquireCommandLock(&p.shared, kCmdLockOwnerXDriver)) continue;  // free: taken at once
      BmWriteRun(p.prim, kPairsPerRun, kPairWords, PutPair);
      p.prim->Start();
      BmReleaseCommandLock(&p.shared, kCmdLockOwnerXDriver);
    }
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
  state.SetLabel(state.range(0) == kDmaModeLocal ? "local DMA, runs of 64" : "processor executes, runs of 64");
}
BENCHMARK(BM_PrimaryMixLockedAndStarted)->Arg(kDmaModeEmulate)->Arg(kDmaModeLocal);

// The least any writer of runs under the lock must do, the locked runs'
// yardstick: each run of 64 commands' bytes copied to its place in the
// ring, between one exchange that takes the lock and one store that
// releases it, and the start's two register accesses (the idle status read
// and the end write) through the same memory-mapped access.
void BM_FloorLockedAndStarted(benchmark::State& state) {
  Pool p;
  const std::vector<uint32_t> source = RoundImage();
  const uint8_t* from = reinterpret_cast<const uint8_t*>(source.data());
  uint8_t* ring = reinterpret_cast<uint8_t*>(p.pool->head->Begin());
  std::vector<uint32_t> registers(8192 / 4, 0);
  registers[kRegEngineStatus / 4] = kEngineStatusIdle;
  volatile void* mmio = registers.data();
  constexpr uint32_t kRunBytes = kCommandsPerRun * kCommandWords * 4;
  uint32_t offset = 0;
  for (auto _ : state) {
    for (uint32_t run = 0; run < kBytesPerRound; run += kRunBytes) {
      (void)OsInterlockedExchange(&p.shared.commandLock, 1);
      memcpy(ring + offset + run, from + run, kRunBytes);
      uint32_t status = 0;
      memReadDword(mmio, kRegEngineStatus, &status);
      if ((status & kEngineStatusMask) == kEngineStatusIdle) {
        memWriteDword(mmio, kRegDmaEndAddress, offset + run + kRunBytes);
      }
      __atomic_store_n(&p.shared.commandLock, 0, __ATOMIC_RELEASE);
    }
    offset = (offset + kBytesPerRound) % kRingBytes;
    benchmark::ClobberMemory();
  }
  ReportCommands(state);
  state.SetLabel("memcpy, lock and start's register accesses, runs of 64");
}
BENCHMARK(BM_FloorLockedAndStarted);

}  // namespace
