// Loading a 256-entry gamma ramp into a controller's colour table through
// the library's entry slot, on the simulated board: the plain load, the
// emulated 10-bit load (smoothing, remapping, compensation), and as the
// floor the same 769 register writes made directly through the client
// services. Reported as loads per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "core/client_services.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/tests/hw_board.h"

namespace {

// An opened board with the colour tables modelled.
struct Bench {
  Bench() : hw(hwtest::Config(0x0A42), orvmachine::kLut) {
    hw.Open();
    h = hw.h();
    hw.board().SetLogging(false, false);
    h->aModeInfo[0].flOutput = 0;  // controller 0 on, no outputs
    table = std::make_unique<PUBLICLUT>();
    table->ulKind = 0;
    for (uint32_t ch = 0; ch < 3; ++ch)
      for (uint32_t i = 0; i < 256; ++i)
        table->ausEntry[256 * ch + i] =
            static_cast<uint16_t>(std::lround(65535.0 * std::pow(i / 255.0, 1 / (2.0 + 0.2 * ch))));
  }
  // Register reads of a long run count as a poll for the board's watchdog.
  void Breathe() { hw.board().RegWrite(0x8F8, 4, 0); }

  hwtest::HwBoard hw;  // its colour tables modelled
  BOARDHANDLE* h;
  std::unique_ptr<PUBLICLUT> table;
};

void Report(benchmark::State& state) {
  state.counters["loads/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

void BM_GammaLoadPlain(benchmark::State& state) {
  Bench b;
  for (auto _ : state) {
    b.h->status = 0;
    HSLKSTSetColorLUT(b.h, 0, 256, b.table.get(), 0);
    b.Breathe();
  }
  Report(state);
}
BENCHMARK(BM_GammaLoadPlain);

void BM_GammaLoadEmulated10Bit(benchmark::State& state) {
  Bench b;
  b.h->aModeInfo[0].ulBpp = 0xC0000;
  for (auto _ : state) {
    b.h->status = 0;
    HSLKSTSetColorLUT(b.h, 0, 256, b.table.get(), 0);
    b.Breathe();
  }
  Report(state);
}
BENCHMARK(BM_GammaLoadEmulated10Bit);

// The floor: an index write and 256 triples through the same client path.
void BM_RawTableWrites(benchmark::State& state) {
  Bench b;
  for (auto _ : state) {
    ClientWriteRegisterDword(b.h, 0x1838, 0);
    for (uint32_t i = 0; i < 256; ++i) {
      ClientWriteRegisterDword(b.h, 0x183C, b.table->ausEntry[i]);
      ClientWriteRegisterDword(b.h, 0x1840, b.table->ausEntry[256 + i]);
      ClientWriteRegisterDword(b.h, 0x1844, b.table->ausEntry[512 + i] | 0x80000000u);
    }
  }
  Report(state);
}
BENCHMARK(BM_RawTableWrites);

}  // namespace
