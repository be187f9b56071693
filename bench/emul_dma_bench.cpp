// Register writes per second of the processor-side DMA executor (DMA mode 1
// runs every 2D command through it) over plain memory standing for the
// register window, with and without the register-write guard, next to the
// same number of plain volatile stores to the same registers.
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "core/common_data.h"
#include "core/hw_device.h"
#include "core/regs/dma.h"

namespace {

struct Engine {
  Engine() {
    common = static_cast<CommonData*>(calloc(1, sizeof(CommonData)));
    shared = static_cast<SharedLockedData_t*>(calloc(1, sizeof(SharedLockedData_t)));
    registers.assign(8192, 0);
    // The DMA status reports ready, so the periodic wait ends at once.
    uint32_t ready = kDmaStatusWriteReady;
    memcpy(&registers[kRegDmaStatus], &ready, sizeof(ready));
    common->registers = registers.data();
    common->sharedLocked = shared;
  }
  ~Engine() {
    free(common);
    free(shared);
  }
  CommonData* common;
  SharedLockedData_t* shared;
  std::vector<uint8_t> registers;
};

constexpr size_t kPackets = 1024;
constexpr size_t kWritesPerPacket = 4;
constexpr uint32_t kFirstIndex = 0x10;

void ReportWrites(benchmark::State& state) {
  const auto writes = static_cast<double>(state.iterations()) * kPackets * kWritesPerPacket;
  state.counters["writes/s"] = benchmark::Counter(writes, benchmark::Counter::kIsRate);
}

// A stream of solid-fill-like packets: four register writes per header.
std::vector<uint32_t> MakeStream(size_t packets) {
  std::vector<uint32_t> stream;
  for (size_t i = 0; i < packets; ++i) {
    stream.push_back(0x13121110);  // indexes kFirstIndex .. kFirstIndex + 3
    for (uint32_t j = 0; j < 4; ++j) stream.push_back(static_cast<uint32_t>(i + j));
  }
  return stream;
}

void BM_ExecuteEmulDma(benchmark::State& state) {
  Engine engine;
  engine.shared->regGuardEnable = static_cast<uint32_t>(state.range(0));
  std::vector<uint32_t> stream = MakeStream(kPackets);
  for (auto _ : state) {
    HwDevice::ExecuteEmulDma(engine.common, stream.data(), stream.data() + stream.size());
    benchmark::ClobberMemory();
  }
  ReportWrites(state);
  state.SetLabel(state.range(0) != 0 ? "guarded" : "unguarded");
}
BENCHMARK(BM_ExecuteEmulDma)->Arg(0)->Arg(1);

// The floor: the same registers stored directly, the data read from the
// same stream.
void BM_VolatileStoresSameRegisters(benchmark::State& state) {
  Engine engine;
  std::vector<uint32_t> stream = MakeStream(kPackets);
  volatile uint32_t* window = reinterpret_cast<volatile uint32_t*>(engine.registers.data());
  for (auto _ : state) {
    const uint32_t* at = stream.data();
    for (size_t i = 0; i < kPackets; ++i) {
      ++at;  // the header
      for (uint32_t j = 0; j < kWritesPerPacket; ++j) window[DmaWindowReg(kFirstIndex + j) / 4] = *at++;
    }
    benchmark::ClobberMemory();
  }
  ReportWrites(state);
}
BENCHMARK(BM_VolatileStoresSameRegisters);

}  // namespace
