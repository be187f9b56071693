// Panning a running controller through the display-start slot on the
// simulated board: a 1280x1024 desktop at 32 bits per pixel on an 8,192
// pixel wide surface, the start walking along and across it so that starts
// past 4,096 pixels move into the surface address. Panning runs once per
// frame; reported as calls per second.
#include <benchmark/benchmark.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/outputs/display_start.h"
#include "hwsharing/tests/hw_board.h"

namespace {

struct Bench {
  Bench() : hw(hwtest::Config(0x0A42), orvmachine::kControllers) {
    hw.Open();
    h = hw.h();
    hw.board().SetLogging(false, false);
    MODEINFO& m = h->aModeInfo[0];
    m = MODEINFO{};
    m.ulDispWidth = m.ulDeskWidth = 1280;
    m.ulDispHeight = m.ulDeskHeight = 1024;
    m.ulBpp = 32;
    m.ulPixClock = 108000;
    m.ulHFPorch = 48, m.ulHSync = 112, m.ulHBPorch = 248;
    m.ulVFPorch = 1, m.ulVSync = 3, m.ulVBPorch = 38;
    m.ulFBPitch = 8192;
    m.ulZoom = 1;
    for (uint32_t c = 1; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
    DCPARAMS dc;
    HSLKSTGetDCParameters(h, &m, &dc);
    HSLKSTSetDCParameters(h, &m, &dc);
  }
  void Breathe() { hw.board().RegWrite(0x8F8, 4, 0); }

  hwtest::HwBoard hw;  // its display controllers modelled
  BOARDHANDLE* h;
};

void BM_PanAlongAndAcross(benchmark::State& state) {
  Bench b;
  uint32_t x = 0, y = 0;
  for (auto _ : state) {
    b.h->status = 0;
    HSLKSTSetDisplayStart(b.h, 0, x, y);
    x = (x + 97) % (8192 - 1280);
    y = (y + 13) % 3000;
    b.Breathe();
  }
  if (b.h->status != 0) state.SkipWithError("display start failed");
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PanAlongAndAcross);

}  // namespace

