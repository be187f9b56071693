// Throughput of the processor-side DMA executor (DMA mode 1 runs every 2D
// command through it) over plain memory standing for the register window,
// with and without the register-write guard.
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

// A stream of solid-fill-like packets: four register writes per header.
std::vector<uint32_t> MakeStream(size_t packets) {
  std::vector<uint32_t> stream;
  for (size_t i = 0; i < packets; ++i) {
    stream.push_back(0x13121110);
    for (uint32_t j = 0; j < 4; ++j) stream.push_back(static_cast<uint32_t>(i + j));
  }
  return stream;
}

void BM_ExecuteEmulDma(benchmark::State& state) {
  Engine engine;
  engine.shared->regGuardEnable = static_cast<uint32_t>(state.range(0));
  std::vector<uint32_t> stream = MakeStream(1024);
  for (auto _ : state) {
    HwDevice::ExecuteEmulDma(engine.common, stream.data(), stream.data() + stream.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size() * 4));
}
BENCHMARK(BM_ExecuteEmulDma)->Arg(0)->Arg(1);

}  // namespace
