// GTF and CVT over the 270 sizes and rates of the timing grid test, the
// library's integer formulas next to libxcvt's floating-point CVT (which
// also allocates the record it returns, as its interface makes every
// caller do); and the library's decoding of the 300 real EDID dumps.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" {
#include <libxcvt/libxcvt.h>
}

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/hal/tests/timing_grid.h"

#ifndef ORV_SOURCE_DIR
#error "ORV_SOURCE_DIR names the source tree"
#endif

namespace {

using Point = hwtest::GridPoint;

template <class Compute>
void OverGrid(benchmark::State& state, Compute compute) {
  const std::vector<Point>& grid = hwtest::TimingGrid();
  for (auto _ : state) {
    for (const Point& p : grid) compute(p);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * grid.size()));
}

MODEINFO Mode(const Point& p) {
  MODEINFO m{};
  m.ulDispWidth = static_cast<uint32_t>(p.w);
  m.ulDispHeight = static_cast<uint32_t>(p.h);
  return m;
}

void BM_LibraryCvt(benchmark::State& state) {
  OverGrid(state, [](const Point& p) {
    MODEINFO m = Mode(p);
    benchmark::DoNotOptimize(orvtiming::Cvt(&m, static_cast<uint32_t>(p.r)));
    benchmark::DoNotOptimize(m);
  });
}

void BM_LibxcvtCvt(benchmark::State& state) {
  OverGrid(state, [](const Point& p) {
    libxcvt_mode_info* m = libxcvt_gen_mode_info(p.w, p.h, static_cast<float>(p.r), false, false);
    benchmark::DoNotOptimize(m->dot_clock);
    std::free(m);
  });
}

void BM_LibraryCvtReduced(benchmark::State& state) {
  OverGrid(state, [](const Point& p) {
    MODEINFO m = Mode(p);
    orvtiming::CvtReduced(&m, static_cast<uint32_t>(p.r));
    benchmark::DoNotOptimize(m);
  });
}

void BM_LibxcvtCvtReduced(benchmark::State& state) {
  OverGrid(state, [](const Point& p) {
    libxcvt_mode_info* m = libxcvt_gen_mode_info(p.w, p.h, static_cast<float>(p.r), true, false);
    benchmark::DoNotOptimize(m->dot_clock);
    std::free(m);
  });
}

void BM_LibraryGtf(benchmark::State& state) {
  OverGrid(state, [](const Point& p) {
    MODEINFO m = Mode(p);
    benchmark::DoNotOptimize(orvtiming::VerticalGtf(&m, static_cast<uint32_t>(p.r)));
    benchmark::DoNotOptimize(m);
  });
}

// Everything the library derives from a monitor's EDID, for each of the 300
// dumps: properties, mode list, resolutions, limits and aspect ratio.
void BM_EdidDecodeRealDumps(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> dumps;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SOURCE_DIR "/tests/data/edid")) {
    if (entry.path().extension() != ".bin") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(kEdidBufferSize, 0);
    dumps.push_back(std::move(bytes));
  }
  auto h = std::make_unique<BOARDHANDLE>();
  std::memset(h.get(), 0, sizeof(BOARDHANDLE));
  h->ulOutputCaps = kCapsFirstAnalog | kCapsDigitalOutputs;
  MONITORINFO& mi = h->aMonitorInfo[0];
  for (auto _ : state) {
    for (const std::vector<uint8_t>& edid : dumps) {
      std::memcpy(mi.aucEdid, edid.data(), kEdidBufferSize);
      mi.ulEdidVersion = HALPGetEDIDVersion(mi.aucEdid);
      mi.flMonitor = kMonitorPresent | kMonitorEdidValid;
      h->status = 0;
      HALPGetMonitorProperties(h.get(), 0);
      HALPGetEdidModes(h.get(), 0);
      HALPGetMonitorMinimalResolution(h.get(), 0);
      HALPGetMonitorMaximalResolution(h.get(), 0);
      HALPGetMonitorLimits(h.get(), 0);
      HALPGetMonitorAspectRatio(h.get(), 0);
      benchmark::DoNotOptimize(mi.ulMaxPixClock);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * dumps.size()));
}

}  // namespace

BENCHMARK(BM_LibraryCvt);
BENCHMARK(BM_LibxcvtCvt);
BENCHMARK(BM_LibraryCvtReduced);
BENCHMARK(BM_LibxcvtCvtReduced);
BENCHMARK(BM_LibraryGtf);
BENCHMARK(BM_EdidDecodeRealDumps);
