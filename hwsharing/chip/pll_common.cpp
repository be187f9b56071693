#include "hwsharing/chip/pll_common.h"

#include "core/poll.h"
#include "core/regs/clocks.h"
#include "hwsharing/chip/bri90pll.h"

namespace pllutil {

uint32_t RegOffset(const PllRegisterMap& map, uint32_t number) {
  switch (number) {
    case 0: case 1: case 2: case 3: return map.fs0 + kRegFsStride * number;
    case 6: return map.pll6;
    case 7: return map.pll7;
    default: return kNoPllRegister;
  }
}

bool Consider(void* handle, uint32_t sel, int32_t frequency, int32_t m1, int32_t p1, int32_t m2,
              int32_t p2, int32_t achieved, Best* best, PLLDESCRIPTOR* d) {
  const bool firstFit = d->ulSearchMode == kPllSearchFirstFit;
  DebugPrint(d, "\nCurrent M1=%d,P1=%d,M2=%d,P2=%d\n", m1, p1, m2, p2);
  const int32_t error = Abs(static_cast<int64_t>(achieved) - frequency);
  if (!firstFit && error >= best->error) return false;
  if (pllTestDividers(handle, 0, sel, frequency, achieved, m1, p1, m2, p2, d) != kPllOk)
    return false;
  *best = Best{true, error, achieved, m1, p1, m2, p2};
  DebugPrint(d, "\nBest Err %d KHz, M1=%d,P1=%d,M2=%d,P2=%d\n", error, m1, p1, m2, p2);
  return firstFit;  // first fit: the search ends here
}

MultiplierWindow StageMultipliers(int32_t fin, const PLLVCOCONFIG* vco) {
  MultiplierWindow w{vco->lMMin, vco->lMMax};
  if (fin <= 0) return w;  // Fin x M does not grow with M
  // Fin x M >= lVcoMin and Fin x M <= lVcoMax, rounded inwards.
  const int64_t f = fin;
  const int64_t vmin = vco->lVcoMin, vmax = vco->lVcoMax;
  const int64_t lo = vmin >= 0 ? (vmin + f - 1) / f : vmin / f;
  const int64_t hi = vmax >= 0 ? vmax / f : -((-vmax + f - 1) / f);
  if (lo > w.lo) w.lo = lo;
  if (hi < w.hi) w.hi = hi;
  return w;
}

int32_t PercentError(int32_t error, int32_t target) {
  if (target <= 0) return 0;
  const int64_t scaled = static_cast<int64_t>(error) * 100;
  return static_cast<int32_t>(scaled / target * kPllPercentOne +
                              (scaled % target) * kPllPercentOne / target);
}

int32_t FirstFitTolerance(const PLLDESCRIPTOR* d, int32_t frequency) {
  if (d->lErrLimitKHz != 0) return d->lErrLimitKHz;
  return static_cast<int32_t>((static_cast<int64_t>(frequency) * d->lErrLimitPercent / 100) >>
                              kPllPercentShift);
}

uint32_t CheckRanges(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                     const PLLDESCRIPTOR* d) {
  const bool vco1 = vco->ulVcoIndex == 0;
  const int64_t freq = static_cast<int64_t>(fin) * m;
  const int64_t out = Divide(freq, p);
  struct Check {
    const char* name;
    int64_t value;
    int32_t lo, hi;
  };
  const Check checks[] = {
      {vco1 ? "M1" : "M2", m, vco->lMMin, vco->lMMax},
      {vco1 ? "P1" : "P2", p, vco->lPMin, vco->lPMax},
      {vco1 ? "VCO1" : "VCO2", freq, vco->lVcoMin, vco->lVcoMax},
      {vco1 ? "FOUT1" : "FOUT2", out, vco->lFoutMin, vco->lFoutMax},
  };
  for (const Check& c : checks) {
    if (!InRange(c.value, c.lo, c.hi)) {
      VerbosePrint(d, "\nReject %s is out of limit (%d : %d-%d)", c.name,
                   static_cast<int32_t>(c.value), c.lo, c.hi);
      return 1;
    }
  }
  return 0;
}

int32_t UnlockRatio(void* handle, uint32_t reg, uint32_t bit, int32_t count, PLLVCOCONFIG* vco,
                    const PLLDESCRIPTOR* d) {
  int32_t unlocked = 0;
  for (int32_t i = 0; i < count; ++i)
    if ((ReadReg(handle, d, reg) & bit) == 0) ++unlocked;
  vco->lLastUnlock = unlocked;
  const int32_t ratio = count > 0 ? unlocked * 100 / count : 0;
  DebugPrint(d, "\nUnlock ratio of %3d %% (loop %d times)\n", ratio, count);
  return ratio;
}

int32_t WaitLock(void* handle, uint32_t bit, PLLVCOCONFIG* vco, const PLLDESCRIPTOR* d) {
  if (d->pfnReadReg == nullptr) return 0;  // nothing to read: the test passes
  const uint32_t polls = vco->lLockPolls > 0 ? static_cast<uint32_t>(vco->lLockPolls) : 0;
  const bool seen = PollUntil([&] { return (ReadReg(handle, d, d->ulRegOffset) & bit) != 0; }, polls);
  // A lock that never came counts as fully unlocked, whatever the poll count.
  if (!seen) return 100;
  return pllUnlockStatus(handle, d->ulRegOffset, vco->lLockPolls, vco, d);
}

int32_t ClampRequest(uint32_t sel, int32_t frequency, const PLLDESCRIPTOR* d) {
  int32_t lo = d->vco2.lFoutMin, hi = d->vco2.lFoutMax;
  if (sel == kPllOutVco1) lo = d->vco1.lVcoMin, hi = d->vco1.lVcoMax;
  if (sel == kPllOutVco2) lo = d->vco2.lVcoMin, hi = d->vco2.lVcoMax;
  if (frequency >= lo && frequency <= hi) return frequency;
  const int32_t clamped = frequency < lo ? lo : hi;
  ErrorPrint(d,
             "\nWARNING in pll init : out freq %d KHz is out of range\nSetting out freq to %d "
             "Khz\n",
             frequency, clamped);
  return clamped;
}

uint32_t TestDividers(void* handle, uint32_t program, uint32_t sel, int32_t target,
                      int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                      PLLDESCRIPTOR* d) {
  const bool b90 = IsB90(d);
  // The later generation knows no derated limits and takes M1 from 1 to 64.
  auto derated = [&](int32_t a1, int32_t b1, int32_t a2, int32_t b2) {
    return b90 ? 0u : pllCheckDivider18Limits(sel, a1, b1, a2, b2, d);
  };
  auto m1Forbidden = [&](int32_t m) { return b90 ? (m < 1 || m > kM1Highest) : Vco1Forbidden(m); };
  auto hwInit = [&](int32_t a1, int32_t b1, int32_t a2, int32_t b2) {
    return b90 ? bri90pllHwInit(handle, sel, a1, b1, a2, b2, d)
               : pllHwInit(handle, sel, a1, b1, a2, b2, d);
  };
  const bool stage1 = sel == kPllOutVco1 || d->vco2.ulInputSel == 0;
  const bool stage2 = sel != kPllOutVco1;
  const int32_t span1 = d->vco1.lLockSpan;
  const int32_t span2 = d->vco2.lLockSpan;
  if (!(stage1 && span1 != 0) && !(stage2 && span2 != 0) && program == 0) return kPllOk;

  if (sel == kPllOutFs) {
    const int32_t error = Abs(static_cast<int64_t>(achieved) - target);
    if (d->lErrLimitKHz != 0 && error > d->lErrLimitKHz) {
      ErrorPrint(d, "\nERROR %s%d : out frequency error out of limit %d KHz > %d KHz\n",
                 Tag(d), d->ulPllNumber + 1, error, d->lErrLimitKHz);
      return kPllNoDivider;
    }
    const int32_t percent = pllutil::PercentError(error, target);
    if (d->lErrLimitPercent != 0 && percent > d->lErrLimitPercent) {
      ErrorPrint(d, "\nERROR %s%d : out frequency error out of limit %d.%03d %% > %d.%03d %%\n",
                 Tag(d), d->ulPllNumber + 1, percent >> kPllPercentShift, percent & 511,
                 d->lErrLimitPercent >> kPllPercentShift, d->lErrLimitPercent & 511);
      return kPllNoDivider;
    }
  }

  const int64_t fin = d->lFin;
  const int64_t input = stage1 ? (p1 == 0 ? fin : fin * m1 / p1) : fin;
  if (stage1) {
    if (!InRange(m1, d->vco1.lMMin, d->vco1.lMMax)) return kPllNoDivider;
    if (sel != kPllOutVco1 && !InRange(p1, d->vco1.lPMin, d->vco1.lPMax)) return kPllNoDivider;
    if (!InRange(fin * m1, d->vco1.lVcoMin, d->vco1.lVcoMax)) return kPllNoDivider;
  }
  if (stage2) {
    if (!InRange(m2, d->vco2.lMMin, d->vco2.lMMax)) return kPllNoDivider;
    if (sel == kPllOutFs && !InRange(p2, d->vco2.lPMin, d->vco2.lPMax)) return kPllNoDivider;
    if (!InRange(input * m2, d->vco2.lVcoMin, d->vco2.lVcoMax)) return kPllNoDivider;
  }

  // Lock test: every M of the span around the chosen one of a stage must
  // lock, and at least one must be usable.
  auto testSpan = [&](bool first, int32_t span) -> uint32_t {
    const PLLVCOCONFIG& vco = first ? d->vco1 : d->vco2;
    const int32_t centre = first ? m1 : m2;
    const int64_t base = first ? fin : input;
    const int32_t reach = (span == 0 ? 1 : span) - 1;
    bool any = false;
    for (int32_t m = centre - reach; m <= centre + reach; ++m) {
      if (!InRange(m, vco.lMMin, vco.lMMax) || (first && m1Forbidden(m))) continue;
      if (!InRange(base * m, vco.lVcoMin, vco.lVcoMax)) continue;
      const int32_t tm1 = first ? m : m1;
      const int32_t tm2 = first ? m2 : m;
      if (derated(tm1, p1, tm2, p2) != 0) continue;
      any = true;
      DebugPrint(d, "\nTest PLL lock with lM%d: %d\n", first ? 1 : 2, m);
      const uint32_t result = hwInit(tm1, p1, tm2, p2);
      if (result != kPllOk) {
        DebugPrint(d, "\nTest PLL lock FAILED...\n");
        return result;
      }
      DebugPrint(d, "\nTest PLL lock PASSED...\n");
    }
    return any ? kPllOk : kPllNoDivider;
  };
  if (stage1) {
    const uint32_t result = testSpan(true, span1);
    if (result != kPllOk) return result;
  }
  // A stage-2 span of at most 1 was covered by the stage-1 test.
  if (stage2 && !(stage1 && span2 <= 1)) {
    const uint32_t result = testSpan(false, span2);
    if (result != kPllOk) return result;
  }

  // A span above 1 left a neighbour in the register: program the set itself.
  if (program != 0 && (span1 > 1 || span2 > 1)) {
    if (derated(m1, p1, m2, p2) != 0) return kPllNoDivider;
    const uint32_t result = hwInit(m1, p1, m2, p2);
    DebugPrint(d, result == kPllOk ? "\nHardware init PASSED...\n" : "\nHardware init FAILED...\n");
    return result;
  }
  return kPllOk;
}

uint32_t Finish(void* handle, uint32_t sel, int32_t frequency, const Best& best,
                const char* summary, PLLDESCRIPTOR* d) {
  if (!best.found) {
    ErrorPrint(d, "\nERROR %s%d : didn't found any divider value\n", Tag(d), d->ulPllNumber + 1);
    return kPllNoDivider;
  }
  if (sel == kPllOutFs && d->lErrLimitKHz != 0 && d->lErrLimitKHz < best.error) {
    ErrorPrint(d, "\nERROR %s%d : out frequency error out of limit %d KHz > %d KHz\n", Tag(d),
               d->ulPllNumber + 1, best.error, d->lErrLimitKHz);
    return kPllNoDivider;
  }
  const uint32_t result = pllTestDividers(handle, 1, sel, frequency, best.achieved, best.m1,
                                          best.p1, best.m2, best.p2, d);
  if (result == kPllOk) {
    const int32_t e = pllutil::PercentError(best.error, frequency);
    DebugPrint(d, summary, best.achieved, best.error, e >> kPllPercentShift,
               ((e & 511) * 1000) >> kPllPercentShift);
  }
  return result;
}

}  // namespace pllutil
