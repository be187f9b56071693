// Pieces of the PLL divider library shared by both chip generations.
#pragma once

#include <climits>
#include <cstdint>

#include "hwsharing/chip/pll.h"

namespace pllutil {

// Runs fn(v) for v from start to end inclusive by step (downward when
// start > end); fn returns false to stop. A step of 0 or of the wrong sign
// runs the start value once.
template <class Fn>
void ForEach(int32_t start, int32_t end, int32_t step, Fn fn) {
  if (start == end || step == 0 || (start < end) != (step > 0)) {
    fn(start);
    return;
  }
  for (int64_t v = start; step > 0 ? v <= end : v >= end; v += step)
    if (!fn(static_cast<int32_t>(v))) return;
}

// Runs fn(v) for the values ForEach(start, end, step) visits that lie
// within lo..hi, in the same order, without visiting the others.
template <class Fn>
void ForEachWithin(int32_t start, int32_t end, int32_t step, int64_t lo, int64_t hi, Fn fn) {
  if (lo > hi) return;
  if (start == end || step == 0 || (start < end) != (step > 0)) {
    if (start >= lo && start <= hi) fn(start);
    return;
  }
  const int64_t stride = step > 0 ? step : -static_cast<int64_t>(step);
  int64_t first = start;
  int64_t last = end;
  if (step > 0) {
    if (first < lo) first += (lo - first + stride - 1) / stride * stride;
    if (last > hi) last = hi;
    for (int64_t v = first; v <= last; v += stride)
      if (!fn(static_cast<int32_t>(v))) return;
  } else {
    if (first > hi) first -= (first - hi + stride - 1) / stride * stride;
    if (last < lo) last = lo;
    for (int64_t v = first; v >= last; v -= stride)
      if (!fn(static_cast<int32_t>(v))) return;
  }
}

// Whether the verbose messages of a search are written: only then does a
// rejected candidate leave a trace.
inline bool Verbose(const PLLDESCRIPTOR* d) { return d->ulVerbose != 0 && d->pfnDebugPrint != nullptr; }

// The multipliers M of a stage that its M limits and VCO range allow for
// input frequency fin (lo > hi when none does).
struct MultiplierWindow {
  int64_t lo, hi;
};
MultiplierWindow StageMultipliers(int32_t fin, const PLLVCOCONFIG* vco);

inline int32_t Abs(int64_t v) { return static_cast<int32_t>(v < 0 ? -v : v); }
inline bool InRange(int64_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

// Error in percent of the target with 9 fraction bits.
int32_t PercentError(int32_t error, int32_t target);
// The error tolerance of a first-fit search for `frequency`: the kHz limit,
// else the percent limit applied to the frequency.
int32_t FirstFitTolerance(const PLLDESCRIPTOR* d, int32_t frequency);

// Fin x M / P, 0 when P is 0.
inline int64_t Divide(int64_t value, int32_t p) { return p == 0 ? 0 : value / p; }

// M1 values the first generation cannot use on VCO1; the later generation
// takes 1 to kM1Highest.
inline constexpr int32_t kM1Forbidden = 33;
inline constexpr int32_t kM1Lowest = 2;
inline constexpr int32_t kM1Highest = 64;
inline bool Vco1Forbidden(int32_t m) { return m == kM1Forbidden || m < kM1Lowest || m > kM1Highest; }

// Where a generation's synthesizers sit: PLL numbers 0-3 are FS 0-3, 6 and
// 7 the two pixel PLLs.
struct PllRegisterMap {
  uint32_t fs0;
  uint32_t pll6;
  uint32_t pll7;
};
// The register of PLL `number`, kNoPllRegister for any other number.
uint32_t RegOffset(const PllRegisterMap& map, uint32_t number);

inline bool IsB90(const PLLDESCRIPTOR* d) { return d->ulKind == kPllKindB90; }
// Messages name the synthesizer "PLL<n>" on the first generation, "FS<n>" on
// the later one.
inline const char* Tag(const PLLDESCRIPTOR* d) { return IsB90(d) ? "FS" : "PLL"; }

template <class... A>
void ErrorPrint(const PLLDESCRIPTOR* d, const char* format, A... args) {
  if (d->pfnErrorPrint != nullptr) d->pfnErrorPrint(format, args...);
}
template <class... A>
void DebugPrint(const PLLDESCRIPTOR* d, const char* format, A... args) {
  if (d->pfnDebugPrint != nullptr) d->pfnDebugPrint(format, args...);
}
template <class... A>
void VerbosePrint(const PLLDESCRIPTOR* d, const char* format, A... args) {
  if (d->ulVerbose != 0) DebugPrint(d, format, args...);
}

inline uint32_t ReadReg(void* handle, const PLLDESCRIPTOR* d, uint32_t reg) {
  return d->pfnReadReg != nullptr ? d->pfnReadReg(handle, reg) : 0;
}
inline uint32_t ReadShadow(void* handle, const PLLDESCRIPTOR* d, uint32_t reg) {
  return d->pfnReadShadow != nullptr ? d->pfnReadShadow(handle, reg) : 0;
}
inline void WriteReg(void* handle, const PLLDESCRIPTOR* d, uint32_t value, uint32_t reg) {
  if (d->pfnWriteReg != nullptr) d->pfnWriteReg(handle, value, reg);
}
inline void Delay(void* handle, const PLLDESCRIPTOR* d, uint32_t units) {
  if (d->pfnDelay != nullptr) d->pfnDelay(handle, units);
}

// The best candidate of a search so far.
struct Best {
  bool found = false;
  int32_t error = INT_MAX;
  int32_t achieved = 0;
  int32_t m1 = 0, p1 = 0, m2 = 0, p2 = 0;
};

// Offers one candidate: it becomes the best when it beats the best error (in
// first-fit mode, at once) and passes its lock test. Answers whether a
// first-fit search ends here.
bool Consider(void* handle, uint32_t sel, int32_t frequency, int32_t m1, int32_t p1, int32_t m2,
              int32_t p2, int32_t achieved, Best* best, PLLDESCRIPTOR* d);
// Programs the best candidate, or reports that there is none.
uint32_t Finish(void* handle, uint32_t sel, int32_t frequency, const Best& best,
                const char* summary, PLLDESCRIPTOR* d);
// Limits and lock test of one divider set, both generations.
uint32_t TestDividers(void* handle, uint32_t program, uint32_t sel, int32_t target,
                      int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                      PLLDESCRIPTOR* d);
// The unlocked share, in percent, of `count` reads of `bit` in `reg`; keeps
// the unlocked count in vco->lLastUnlock.
int32_t UnlockRatio(void* handle, uint32_t reg, uint32_t bit, int32_t count, PLLVCOCONFIG* vco,
                    const PLLDESCRIPTOR* d);
// Reads the PLL register up to vco->lLockPolls times for `bit`, then answers
// the generation's unlock status over as many reads; a lock that never came
// counts as 100 %. Without a register reader the test passes (0).
int32_t WaitLock(void* handle, uint32_t bit, PLLVCOCONFIG* vco, const PLLDESCRIPTOR* d);
// The request clamped into the range of the selected output, with a warning
// when it had to move.
int32_t ClampRequest(uint32_t sel, int32_t frequency, const PLLDESCRIPTOR* d);
// The range checks common to both generations; answers the failed check's
// verdict (1) or 0.
uint32_t CheckRanges(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                     const PLLDESCRIPTOR* d);

}  // namespace pllutil
