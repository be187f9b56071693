// Validating a mode list through slots 1 and 2 (format, zoom, size, outputs
// and pitch; timing and pixel-clock limits) on the simulated board: every
// row of the standard timing table at 16 and 32 bits, on each of the four
// outputs' analog bits, as the X driver checks its mode list before a
// server starts. Reported as modes per second, beside the copy of the same
// records alone (what any check must at least read).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/hal/timing_tables.h"
#include "hwsharing/outputs/mode_validate.h"
#include "hwsharing/tests/hw_board.h"

namespace {

std::vector<MODEINFO> ModeList() {
  static constexpr uint32_t kOutputs[4] = {kOutAnalog0, kOutAnalog1 | kOutModule1, kOutAnalog2,
                                           kOutAnalog3 | kOutModule1};
  std::vector<MODEINFO> modes;
  for (size_t i = 0; i + 1 < kVesaRows; ++i)  // the last row ends the table
    for (uint32_t bpp : {16u, 32u})
      for (uint32_t outputs : kOutputs) {
        MODEINFO m = VesaParam[i];
        m.ulBpp = bpp;
        m.ulZoom = 1;
        m.flOutput = outputs;
        modes.push_back(m);
      }
  return modes;
}

void BM_ValidateModeList(benchmark::State& state) {
  hwtest::HwBoard hw(hwtest::Config(0x0A42));
  hw.Open();
  BOARDHANDLE* h = hw.h();
  hw.board().SetLogging(false, false);
  h->ulOutputCaps = 0x1 | 0x2 | 0x800000 | 0x1000000;
  const std::vector<MODEINFO> modes = ModeList();
  size_t accepted = 0;
  for (auto _ : state) {
    accepted = 0;
    for (const MODEINFO& row : modes) {
      MODEINFO m = row;
      h->status = 0;
      HSLKSTValidateMode(h, &m);
      HSLKSTValidateVideoParameters(h, &m);
      accepted += h->status == 0;
    }
    benchmark::DoNotOptimize(accepted);
  }
  state.counters["modes"] = static_cast<double>(modes.size());
  state.counters["accepted"] = static_cast<double>(accepted);
  state.counters["modes/s"] = benchmark::Counter(static_cast<double>(state.iterations() * modes.size()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ValidateModeList);

void BM_CopyModeListBaseline(benchmark::State& state) {
  const std::vector<MODEINFO> modes = ModeList();
  std::vector<MODEINFO> copy(modes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), modes.data(), modes.size() * sizeof(MODEINFO));
    benchmark::ClobberMemory();
  }
  state.counters["modes/s"] = benchmark::Counter(static_cast<double>(state.iterations() * modes.size()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyModeListBaseline);

}  // namespace
