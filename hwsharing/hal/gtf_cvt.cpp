#include "hwsharing/hal/gtf_cvt.h"

#include <algorithm>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"

namespace {

// ---- GTF defaults, scaled to integers ------------------------------------------
constexpr uint32_t kGtfCellPixels = 8;
constexpr uint32_t kGtfCPrimeHundredths = 3000;      // C' = 30 %
constexpr uint32_t kGtfHundredthsTotal = 10000;      // 100 %
constexpr uint32_t kGtfSyncPermille = 80;            // horizontal sync 8 % of the total
constexpr uint32_t kGtfVSyncLines = 3;
constexpr uint32_t kGtfMinVSyncBpTicks = 55000;      // 550 us in 10-ns ticks
constexpr uint32_t kGtfMinVSyncBpNs = 550000;        // 550 us
constexpr uint32_t kGtfVFrontPorchLines = 1;
constexpr uint32_t kNsPerSecond = 1000000000;
constexpr uint32_t kTicksPerMs = 100000;             // 10-ns ticks per millisecond
constexpr uint32_t kGtfSignalMode = kSignalVSyncPositive;

// ---- CVT defaults ----------------------------------------------------------------
constexpr uint32_t kCvtCellPixels = 8;
constexpr uint32_t kCvtMinVSyncBpNs = 550000;
constexpr uint32_t kCvtVFrontPorchLines = 3;
constexpr uint32_t kCvtMinVBackPorchLines = 6;
constexpr uint32_t kCvtCPrimeMilli = 30000000;       // C' = 30 %, in thousandths of a percent x 1000
constexpr uint32_t kCvtMPrime = 300;
constexpr uint32_t kCvtMinDutyMilli = 20000;         // duty cycle floor 20 %
// The ideal duty cycle (C' - M' x line period) / 1000 falls with the line
// period; from this period on it is at the floor.
constexpr uint32_t kCvtFloorPeriod = (kCvtCPrimeMilli - 1000 * kCvtMinDutyMilli) / kCvtMPrime;
static_assert((kCvtCPrimeMilli - kCvtMPrime * kCvtFloorPeriod) / 1000 == kCvtMinDutyMilli &&
              (kCvtCPrimeMilli - kCvtMPrime * (kCvtFloorPeriod + 1)) / 1000 < kCvtMinDutyMilli);
constexpr uint32_t kCvtHundredPercentMilli = 100000;
constexpr uint32_t kCvtClockStepKhz = 250;
constexpr uint32_t kCvtSignalMode = kSignalVSyncPositive;

constexpr uint32_t kRbMinVBlankNs = 460000;
constexpr uint32_t kRbHBlank = 160;
constexpr uint32_t kRbHSync = 32;
constexpr uint32_t kRbHBackPorch = 80;
constexpr uint32_t kRbHFrontPorch = 48;
constexpr uint32_t kRbVFrontPorchLines = 3;
constexpr uint32_t kRbMinVBackPorchLines = 6;
constexpr uint32_t kRbSignalMode = kSignalHSyncPositive;

// The divisions, inlined where the timings use them: most divisors are
// constants, which the compiler turns into multiplications. (A call of the
// exported entries below could be bound elsewhere at load, so it is never
// inlined and would cost a call and a division each.)
constexpr uint32_t RD(uint32_t a, uint32_t b) {
  if (b == 0) return 0;
  const uint32_t q = a / b;
  const uint32_t r = a % b;
  return 2 * static_cast<uint64_t>(r) >= b ? q + 1 : q;
}
constexpr uint32_t FD(uint32_t a, uint32_t b) { return b == 0 ? 0 : a / b; }
// RD(a, b) for a constant b > 0, as one division of a + b / 2 taken in
// 64 bits (r >= b - b / 2 is the same test as 2r >= b): one multiplication
// and no remainder to compare.
template <uint32_t b>
constexpr uint32_t RDConst(uint32_t a) {
  static_assert(b != 0);
  return static_cast<uint32_t>((uint64_t{a} + b / 2) / b);
}
static_assert(RDConst<100>(149) == RD(149, 100) && RDConst<100>(150) == RD(150, 100) &&
              RDConst<7>(10) == RD(10, 7) && RDConst<7>(11) == RD(11, 7) &&
              RDConst<10000>(0xFFFFFFFFu) == RD(0xFFFFFFFFu, 10000));

// The frame period RD(10^9, refresh) in ns, looked up for the rates below
// 256 Hz: the formulas start from it, and their divisions by values known
// only at run time are what they spend their time on.
struct FramePeriods {
  uint32_t ns[256] = {};
  constexpr FramePeriods() {
    for (uint32_t refresh = 0; refresh < 256; ++refresh) ns[refresh] = RD(kNsPerSecond, refresh);
  }
};
constexpr FramePeriods kFramePeriods;
static_assert(kFramePeriods.ns[0] == 0 && kFramePeriods.ns[60] == 16666667 && kFramePeriods.ns[75] == 13333333);
inline uint32_t FramePeriodNs(uint32_t refresh) {
  return refresh < 256 ? kFramePeriods.ns[refresh] : RD(kNsPerSecond, refresh);
}

// Vertical sync lines of a CVT timing by the aspect ratio of its size.
inline uint32_t CvtVSyncLines(uint32_t w, uint32_t v) {
  if (v == 0) return 0;
  if (w == 8 * (v / 6)) return 4;                              // 4:3
  if (w == 8 * (2 * v / 9)) return 5;                          // 16:9
  if (w == 8 * (v / 5)) return 6;                              // 16:10
  if (w == 8 * (5 * v / 32) || w == 8 * (15 * v / 72)) return 7;  // 5:4, 15:9
  return 10;
}

// The horizontal half of a GTF timing for `width` and the M' term m (in
// hundredths of a percent of the line period).
struct GtfLine {
  uint32_t total, front, sync, back;
};
GtfLine GtfHorizontal(uint32_t width, uint32_t m) {
  const uint32_t cells = RD(width, kGtfCellPixels);
  // Ideal duty cycle (C' - m) rounded to two cells.
  const uint32_t b = RD(cells * kGtfCellPixels * (kGtfCPrimeHundredths - m),
                        (m + kGtfHundredthsTotal - kGtfCPrimeHundredths) * 2 * kGtfCellPixels);
  GtfLine line;
  const uint32_t blanking = 2 * kGtfCellPixels * b;
  line.back = RD(blanking / 2, kGtfCellPixels) * kGtfCellPixels;
  line.total = cells * kGtfCellPixels + blanking;
  line.sync = RD(line.total * kGtfSyncPermille, 1000) & ~(kGtfCellPixels - 1);
  line.front = line.total - line.back - line.sync - width;
  return line;
}

// Stores a GTF line and the vertical fields; answers the validity rule.
bool StoreGtf(MODEINFO* mode, const GtfLine& line, uint32_t vsbp, uint32_t total10) {
  mode->ulHFPorch = line.front;
  mode->ulHSync = line.sync;
  mode->ulHBPorch = line.back;
  const uint32_t vtotal = RD(total10, 10);
  mode->ulVFPorch = vtotal - vsbp - mode->ulDispHeight;
  mode->ulVSync = kGtfVSyncLines;
  mode->ulVBPorch = vsbp - kGtfVSyncLines;
  mode->flSignalMode = kGtfSignalMode;
  return line.sync != 0 && static_cast<int32_t>(line.front) >= 0 &&
         static_cast<int32_t>(mode->ulVFPorch) >= 0 && vtotal - vsbp < 0xFFFFFFFDu;
}

}  // namespace

uint32_t HALPGTFRoundDiv(uint32_t a, uint32_t b) { return RD(a, b); }

uint32_t HALPCVTRoundDiv(uint32_t a, uint32_t b) { return RD(a, b); }

uint32_t HALPCVTRoundDownDiv(uint32_t a, uint32_t b) { return FD(a, b); }

uint32_t HALPGTFSqrt(uint32_t a, uint32_t offset) {
  // The square is taken in 64 bits so the search ends (at 65,536) for any a.
  uint64_t c = 1001 - offset;
  while (c * c < a) ++c;
  const uint64_t below = (c - 1) * (c - 1);
  return static_cast<uint32_t>(static_cast<uint32_t>(a - below) < static_cast<uint32_t>(c * c - a) ? c - 1 : c);
}

uint32_t HALPGetCVTVSyncLines(const MODEINFO* mode) {
  return CvtVSyncLines(mode->ulDispWidth, mode->ulDispHeight);
}

namespace orvtiming {

bool VerticalGtf(MODEINFO* mode, uint32_t refresh) {
  const uint32_t v = mode->ulDispHeight;
  // Estimated line period, then the lines of sync plus back porch it gives.
  const uint32_t hpe = RD(FramePeriodNs(refresh) - kGtfMinVSyncBpNs, 10 * (v + 1));
  const uint32_t vsbp = RD(kGtfMinVSyncBpTicks, hpe);
  const uint32_t total10 = 10 * (v + vsbp + kGtfVFrontPorchLines);
  // The line period corrected by the refresh the estimate reaches.
  const uint32_t hp = RD(hpe * RD(kNsPerSecond, RD(total10 * hpe, 10)), 10 * refresh);
  const GtfLine line = GtfHorizontal(mode->ulDispWidth, RD(hp * kGtfCPrimeHundredths, kGtfHundredthsTotal));
  mode->ulRefreshRate = RD(RD(kNsPerSecond, RD(total10 * hp, 10)), 10);
  mode->ulHorizRate = RD(kTicksPerMs, hp);
  mode->ulPixClock = RD(line.total * kTicksPerMs, hp);
  return StoreGtf(mode, line, vsbp, total10);
}

bool HorizontalGtf(MODEINFO* mode, uint32_t rateKhz) {
  const uint32_t v = mode->ulDispHeight;
  const uint32_t cells = RD(mode->ulDispWidth, kGtfCellPixels);
  mode->ulDispWidth = cells * kGtfCellPixels;
  const uint32_t vsbp = RD(rateKhz * 550, 1000);
  const uint32_t total10 = 10 * (v + vsbp + kGtfVFrontPorchLines);
  const GtfLine line = GtfHorizontal(mode->ulDispWidth, RD(30000, rateKhz));
  mode->ulRefreshRate = RD(RD(rateKhz * kTicksPerMs, total10), 10);
  mode->ulPixClock = RD(line.total * kTicksPerMs, RD(kTicksPerMs, rateKhz));
  mode->ulHorizRate = rateKhz;
  return StoreGtf(mode, line, vsbp, total10);
}

bool PixelClockGtf(MODEINFO* mode, uint32_t clockKhz) {
  const uint32_t v = mode->ulDispHeight;
  const uint32_t cells = RD(mode->ulDispWidth, kGtfCellPixels);
  mode->ulDispWidth = cells * kGtfCellPixels;
  // The published pixel-clock form of the line period, with
  // (100 - C')^2 = 4,900 and 0.4 x M' = 120, scaled to 10-ns ticks.
  const uint32_t root = HALPGTFSqrt(RD(cells * 960000, clockKhz) * 100 + 490000, 300);
  const uint32_t hp = RD(root * 50000 - 35000000, 3000);
  const GtfLine line = GtfHorizontal(mode->ulDispWidth, RD(hp * kGtfCPrimeHundredths, kGtfHundredthsTotal));
  const uint32_t h = RD(clockKhz, line.total);
  const uint32_t vsbp = RD(h * 550, 1000);
  const uint32_t total10 = 10 * (v + vsbp + kGtfVFrontPorchLines);
  mode->ulRefreshRate = RD(RD(h * kTicksPerMs, total10), 10);
  mode->ulHorizRate = h;
  mode->ulPixClock = clockKhz;
  return StoreGtf(mode, line, vsbp, total10);
}

bool Cvt(MODEINFO* mode, uint32_t refresh) {
  const uint32_t w = mode->ulDispWidth;
  const uint32_t v = mode->ulDispHeight;
  const uint32_t active = FD(w, kCvtCellPixels) * kCvtCellPixels;
  const uint32_t vsync = CvtVSyncLines(w, v);
  const uint32_t frame = FramePeriodNs(refresh);

  // Everything after the estimated line period depends on it: the steps
  // below take no branches on it, so that nothing waits for a mispredicted
  // one (the maxima and minima are conditional moves).
  const uint32_t hpe = RD(frame - kCvtMinVSyncBpNs, v + kCvtVFrontPorchLines) + 1;
  const uint32_t vsbp = std::max(FD(kCvtMinVSyncBpNs, hpe) + 1, vsync + kCvtMinVBackPorchLines);
  // The ideal duty cycle falls with the line period and stops at 20 %: a
  // long line period takes the floor rather than wrapping round.
  const uint32_t dutyMilli = (kCvtCPrimeMilli - kCvtMPrime * std::min(hpe, kCvtFloorPeriod)) / 1000;
  const uint32_t blanking =
      2 * kCvtCellPixels * FD(active * dutyMilli, (kCvtHundredPercentMilli - dutyMilli) * 2 * kCvtCellPixels);
  const uint32_t total = active + blanking;
  // 8 % of the total, whole cells: FD(FD(x, 1000), 8) is x / 8000.
  const uint32_t sync = kCvtCellPixels * ((total * 80) / (1000 * kCvtCellPixels));
  const uint32_t c = FD(FD(total * 100000, hpe), 25);

  mode->ulPixClock = kCvtClockStepKhz * c;
  mode->ulHorizRate = RDConst<100>(RD(c * 25000, total));
  mode->ulRefreshRate = refresh;
  mode->ulHBPorch = blanking / 2;
  mode->ulHSync = sync;
  mode->ulHFPorch = blanking - mode->ulHBPorch - sync;
  mode->ulHBorder = 0;
  mode->ulVFPorch = kCvtVFrontPorchLines;
  mode->ulVSync = vsync;
  mode->ulVBPorch = vsbp - vsync;
  mode->ulVBorder = 0;
  mode->flSignalMode = kCvtSignalMode;
  return vsync != 0 && sync != 0 && active + mode->ulHFPorch >= w;
}

void CvtReduced(MODEINFO* mode, uint32_t refresh) {
  const uint32_t v = mode->ulDispHeight;
  const uint32_t total = FD(mode->ulDispWidth, kCvtCellPixels) * kCvtCellPixels + kRbHBlank;
  const uint32_t vsync = CvtVSyncLines(mode->ulDispWidth, v);
  const uint32_t hpe = RD(FramePeriodNs(refresh) - kRbMinVBlankNs, v);
  const uint32_t vbi = std::max(FD(kRbMinVBlankNs, hpe) + 1, vsync + kRbVFrontPorchLines + kRbMinVBackPorchLines);
  const uint32_t vtotal = v + vbi;
  // The clock in 250-kHz steps, FD(RD(x, 10000), 25): the quotient of
  // quotients is the quotient by the product, so one division of x + 5000
  // by 250,000 (x keeps its 32-bit wrap).
  const uint32_t c = static_cast<uint32_t>((uint64_t{refresh * vtotal * total} + 5000) / 250000);
  const uint32_t f = RD(c * 25000, total);  // line rate in 10-Hz units

  mode->ulPixClock = kCvtClockStepKhz * c;
  mode->ulHorizRate = RDConst<100>(f);
  mode->ulRefreshRate = RD(f * 10, vtotal);
  mode->ulHFPorch = kRbHFrontPorch;
  mode->ulHSync = kRbHSync;
  mode->ulHBPorch = kRbHBackPorch;
  mode->ulHBorder = 0;
  mode->ulVFPorch = kRbVFrontPorchLines;
  mode->ulVSync = vsync;
  mode->ulVBPorch = vbi - kRbVFrontPorchLines - vsync;
  mode->ulVBorder = 0;
  mode->flSignalMode = kRbSignalMode;
}

}  // namespace orvtiming

uint32_t HALPGetVerticalGTFParams(MODEINFO* mode, uint32_t refresh) {
  return orvtiming::VerticalGtf(mode, refresh) ? 1 : 0;
}

HALSTATUS HALGetVerticalGTFParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh) {
  h->status = kHalOk;
  if (!orvtiming::VerticalGtf(mode, refresh)) SetError(h, kErrGtfVerticalInvalid);
  return h->status;
}

HALSTATUS HALGetHorizontalGTFParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t rateKhz) {
  h->status = kHalOk;
  if (!orvtiming::HorizontalGtf(mode, rateKhz)) SetError(h, kErrGtfHorizontalInvalid);
  return h->status;
}

HALSTATUS HALGetPixelClockGTFParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t clockKhz) {
  h->status = kHalOk;
  if (!orvtiming::PixelClockGtf(mode, clockKhz)) SetError(h, kErrGtfPixelClockInvalid);
  return h->status;
}

HALSTATUS HALGetVerticalCVTParams(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh, uint32_t reduced) {
  h->status = kHalOk;
  if (reduced != 0) {
    orvtiming::CvtReduced(mode, refresh);
  } else if (!orvtiming::Cvt(mode, refresh)) {
    SetError(h, kErrCvtInvalid);
  }
  return h->status;
}
