// Two-stage PLL divider library, first chip generation.
#include "hwsharing/pll.h"

#include <climits>

#include "hwsharing/bri90pll.h"
#include "hwsharing/pll_internal.h"
#include "hwsharing/regs_fs.h"

using namespace pllutil;  // NOLINT

namespace {

// Settle time after switching the oscillator on.
constexpr uint32_t kOscSettleUnits = 1000;
// Dividers that the first generation cannot use on VCO1.
constexpr int32_t kM1Forbidden = 33;
constexpr int32_t kM1Lowest = 2;
constexpr int32_t kM1Highest = 64;
constexpr int32_t kP2Highest = 64;
// Dividers of 18 run with derated limits (85 % of the maximum).
constexpr int32_t kDerated = 18;
constexpr int32_t kDeratedM1High = 50;
constexpr int32_t kDeratePercent = 85;
constexpr int32_t kStageBestErrorStart = 10000000;

bool Vco1Forbidden(int32_t m) { return m == kM1Forbidden || m < kM1Lowest || m > kM1Highest; }

// Fin x M / P, 0 when P is 0.
int64_t Divide(int64_t value, int32_t p) { return p == 0 ? 0 : value / p; }

// The register word for one divider set, first generation.
uint32_t EncodeWord(uint32_t old, uint32_t sel, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                    const PLLDESCRIPTOR* d) {
  uint32_t word = old & ~(kFsDividerMask | kFsOutputSelMask | kFsOptionBit | kFsVco2FromRef);
  word |= static_cast<uint32_t>(-m1) & kFsM1Mask;
  if (m1 > 32) word |= kFsM1High;
  word |= (static_cast<uint32_t>(-m2) & kFsFieldMask) << kFsM2Shift;
  word |= (static_cast<uint32_t>(-p1) & kFsFieldMask) << kFsP1Shift;
  const uint32_t p2Field =
      p2 == 2 ? 1u : static_cast<uint32_t>((-p2) / 2 * 2) & kFsP2Mask;
  word |= p2Field << kFsP2Shift;
  word |= (sel & 3u) << kFsOutputSelShift;
  if (d->ulOptionBit != 0) word |= kFsOptionBit;
  if (d->vco2.ulInputSel != 0) word |= kFsVco2FromRef;
  return word | kFsProgram;
}

int32_t DecodeM1(uint32_t word) {
  const int32_t low = static_cast<int32_t>(word & kFsM1Mask);
  return (word & kFsM1High) ? 64 - low : 32 - low;
}
int32_t DecodeM2(uint32_t word) {
  return 32 - static_cast<int32_t>((word >> kFsM2Shift) & kFsFieldMask);
}
int32_t DecodeP1(uint32_t word) {
  return 32 - static_cast<int32_t>((word >> kFsP1Shift) & kFsFieldMask);
}
int32_t DecodeP2(uint32_t word) {
  if (word & kFsP2IsTwo) return 2;
  return 64 - 2 * static_cast<int32_t>((word >> (kFsP2Shift + 1)) & kFsFieldMask);
}

}  // namespace

namespace pllutil {

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

}  // namespace pllutil

uint32_t pllGetRegOffset(const PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllGetRegOffset(d);
  switch (d->ulPllNumber) {
    case 0: case 1: case 2: case 3: return kRegFs0 + kRegFsStride * d->ulPllNumber;
    case 6: return kRegPll6;
    case 7: return kRegPll7;
    default: return kNoPllRegister;
  }
}

uint32_t pllHwOscOn(void* handle, PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllHwOscOn(handle, d);
  const uint32_t value = ReadReg(handle, d, kRegClockSelect0);
  if (value & kOscillatorOff) {
    DebugPrint(d, "\nSet oscillator ON.\n");
    WriteReg(handle, d, value & ~kOscillatorOff, kRegClockSelect0);
    Delay(handle, d, kOscSettleUnits);
  }
  return 0;
}

int32_t pllSearchMultiplier(int32_t target, int32_t fin, int32_t p, const PLLVCOCONFIG* vco) {
  int32_t bestM = 0;
  int32_t bestError = INT_MAX;
  pllutil::ForEach(vco->lMStart, vco->lMEnd, vco->lMStep, [&](int32_t m) {
    if (vco->ulVcoIndex == 0 && Vco1Forbidden(m)) return true;
    const int64_t freq = static_cast<int64_t>(fin) * m;
    if (!InRange(freq, vco->lVcoMin, vco->lVcoMax)) return true;
    if (p != 1 && !InRange(Divide(freq, p), vco->lFoutMin, vco->lFoutMax)) return true;
    const int32_t error = Abs(Divide(freq, p) - target);
    if (error < bestError) {
      bestError = error;
      bestM = m;
    }
    return true;
  });
  return bestM;
}

namespace pllutil {

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

}  // namespace pllutil

uint32_t pllIsInvalidDividers(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                              const PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllIsInvalidDividers(fin, m, p, vco, d);
  if (CheckRanges(fin, m, p, vco, d) != 0) return 1;
  const bool vco1 = vco->ulVcoIndex == 0;
  if (!vco1 && ((p & 1) != 0 || p > kP2Highest)) {
    VerbosePrint(d, "\nReject %s is invalid (%d)", "P2", p);
    return 1;
  }
  if (vco1 && Vco1Forbidden(m)) {
    VerbosePrint(d, "\nReject %s is invalid (%d)", "M1", m);
    return 1;
  }
  VerbosePrint(d, "\nVCO%d parameters accected M:%d, P:%d, inFreq: %d Khz", vco1 ? 1 : 2, m, p,
               fin);
  return 0;
}

int32_t pllSearchStageDividers(int32_t fin, int32_t target, int32_t* m, int32_t* p,
                               int32_t tolerance, const PLLVCOCONFIG* vco,
                               const PLLDESCRIPTOR* d) {
  int32_t bestError = kStageBestErrorStart;
  int32_t bestAchieved = 0;
  *m = 0;
  *p = 0;
  if (target <= 0) return 0;
  const bool b90 = IsB90(d);
  pllutil::ForEach(vco->lMStart, vco->lMEnd, vco->lMStep, [&](int32_t mm) {
    if (vco->ulVcoIndex == 0 && !b90 && Vco1Forbidden(mm)) return true;
    const int64_t freq = static_cast<int64_t>(fin) * mm;
    int64_t pp = freq / target;
    if (freq % target > target / 2) ++pp;
    if (pp > INT_MAX) return true;
    if (pllIsInvalidDividers(fin, mm, static_cast<int32_t>(pp), vco, d) != 0) return true;
    const int64_t achieved = Divide(freq, static_cast<int32_t>(pp));
    const int32_t error = Abs(achieved - target);
    if (error < bestError) {
      bestError = error;
      bestAchieved = static_cast<int32_t>(achieved);
      *m = mm;
      *p = static_cast<int32_t>(pp);
    }
    return !(bestError < tolerance);
  });
  return bestAchieved;
}

uint32_t pllCheckDivider18Limits(uint32_t sel, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                                 const PLLDESCRIPTOR* d) {
  const int64_t fin = d->lFin;
  auto derated = [](int32_t max) { return static_cast<int64_t>(max) * kDeratePercent / 100; };
  uint32_t reject = 0;
  if (m1 == kDerated || m1 == kDeratedM1High || p1 == kDerated) {
    const int64_t vco1 = fin * m1;
    if (vco1 < d->vco1.lVcoMin || vco1 > derated(d->vco1.lVcoMax)) reject = 1;
    if (sel != kPllOutVco1) {
      const int64_t out1 = Divide(vco1, p1);
      if (out1 < d->vco1.lFoutMin || out1 > derated(d->vco1.lFoutMax)) reject = 1;
    }
  }
  if (sel == kPllOutVco1) return reject;
  const int64_t input = p1 == 0 ? fin : fin * m1 / p1;
  if (m2 == kDerated || p2 == kDerated) {
    const int64_t vco2 = input * m2;
    if (vco2 < d->vco2.lVcoMin || vco2 > derated(d->vco2.lVcoMax)) return 1;
    if (sel == kPllOutVco2) return reject;
    const int64_t out2 = Divide(vco2, p2);
    if (out2 < d->vco2.lFoutMin || out2 > derated(d->vco2.lFoutMax)) return 1;
  }
  return reject;
}

int32_t pllUnlockStatus(void* handle, uint32_t reg, int32_t count, PLLVCOCONFIG* vco,
                        const PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllUnlockStatus(handle, reg, count, vco, d);
  const uint32_t bit = vco->ulVcoIndex == 0 ? kFsVco1Locked : kFsVco2Locked;
  return UnlockRatio(handle, reg, bit, count, vco, d);
}

namespace pllutil {

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
  bool seen = false;
  for (int32_t i = 0; i < vco->lLockPolls && !seen; ++i)
    seen = (ReadReg(handle, d, d->ulRegOffset) & bit) != 0;
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

}  // namespace pllutil

int32_t pllWaitVcoLock(void* handle, PLLVCOCONFIG* vco, const PLLDESCRIPTOR* d) {
  DebugPrint(d, "\nWait for VCO%d to lock\n", vco->ulVcoIndex == 0 ? 1 : 2);
  return WaitLock(handle, vco->ulVcoIndex == 0 ? kFsVco1Locked : kFsVco2Locked, vco, d);
}

uint32_t pllHwInit(void* handle, uint32_t sel, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                   PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllHwInit(handle, sel, m1, p1, m2, p2, d);
  DebugPrint(d, "\nProgram PLL with M1=%d,P1=%d,M2=%d,P2=%d\n", m1, p1, m2, p2);
  if (sel == kPllOutFs && ((p2 & 1) != 0 || p2 > kP2Highest)) {
    ErrorPrint(d, "\nERROR PLL%d : invalid P2 divider %d\n", d->ulPllNumber + 1, p2);
    return kPllBadP2;
  }
  const uint32_t word = EncodeWord(ReadReg(handle, d, d->ulRegOffset), sel, m1, p1, m2, p2, d);
  if (d->pfnDebugPrint != nullptr) {
    DebugPrint(d, "\nM1 reg value %02Xh, P1 reg value %02Xh\n", word & (kFsM1Mask | kFsM1High),
               (word >> kFsP1Shift) & kFsFieldMask);
    DebugPrint(d, "\nM2 reg value %02Xh, P2 reg value %02Xh\n",
               (word >> kFsM2Shift) & kFsFieldMask, (word >> kFsP2Shift) & kFsP2Mask);
    if (DecodeM1(word) != m1 || DecodeP1(word) != p1 || DecodeM2(word) != m2 ||
        DecodeP2(word) != p2)
      DebugPrint(d, "\nWARNING : inconsistent macro conversion M1=%d,P1=%d,M2=%d,P2=%d\n",
                 DecodeM1(word), DecodeP1(word), DecodeM2(word), DecodeP2(word));
  }
  WriteReg(handle, d, word, d->ulRegOffset);
  WriteReg(handle, d, word & ~kFsProgram, d->ulRegOffset);

  Delay(handle, d, d->vco1.ulSettleDelay);
  if (d->vco1.lLockSpan != 0 && (sel == kPllOutVco1 || d->vco2.ulInputSel == 0)) {
    if (pllWaitVcoLock(handle, &d->vco1, d) > d->vco1.lMaxUnlockPercent) {
      ErrorPrint(d, "\nERROR PLL%d : VCO%d doesn't lock\n", d->ulPllNumber + 1, 1);
      return kPllVco1NoLock;
    }
  }
  Delay(handle, d, d->vco2.ulSettleDelay);
  if (sel != kPllOutVco1 && d->vco2.lLockSpan != 0) {
    if (pllWaitVcoLock(handle, &d->vco2, d) > d->vco2.lMaxUnlockPercent) {
      ErrorPrint(d, "\nERROR PLL%d : VCO%d doesn't lock\n", d->ulPllNumber + 1, 2);
      return kPllVco2NoLock;
    }
  }
  d->ulLastValue = word & ~kFsProgram;
  return kPllOk;
}

uint32_t pllTestDividers(void* handle, uint32_t program, uint32_t sel, int32_t target,
                         int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                         PLLDESCRIPTOR* d) {
  if (IsB90(d))
    return bri90pllTestDividers(handle, program, sel, target, achieved, m1, p1, m2, p2, d);
  return TestDividers(handle, program, sel, target, achieved, m1, p1, m2, p2, d);
}

namespace pllutil {

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

uint32_t pllAlgorithm1(void* handle, uint32_t sel, int32_t frequency, PLLDESCRIPTOR* d) {
  DebugPrint(d, "\nAlgorithm 1 : Compute PLL lOutFreq %d KHz from inFreq %d KHz\n", frequency,
             d->lFin);
  const int32_t fin = d->lFin;
  const bool fromRef = d->vco2.ulInputSel == 1;
  const bool firstFit = d->ulSearchMode == kPllSearchFirstFit;
  Best best;
  if (sel == kPllOutVco1) {
    const int32_t m1 = pllSearchMultiplier(frequency, fin, 1, &d->vco1);
    if (m1 != 0) Consider(handle, sel, frequency, m1, 1, 0, 0, m1 * fin, &best, d);
  } else if (sel == kPllOutVco2 && fromRef) {
    const int32_t m2 = pllSearchMultiplier(frequency, fin, 1, &d->vco2);
    if (m2 != 0) Consider(handle, sel, frequency, 0, 0, m2, 1, m2 * fin, &best, d);
  } else if (sel == kPllOutFs && fromRef) {
    int32_t m2 = 0, p2 = 0;
    const int32_t out = pllSearchStageDividers(fin, frequency, &m2, &p2, 0, &d->vco2, d);
    if (out != 0) Consider(handle, sel, frequency, 0, 0, m2, p2, out, &best, d);
  } else {
    const int32_t tolerance =
        (sel == kPllOutFs && firstFit) ? pllutil::FirstFitTolerance(d, frequency) : 0;
    pllutil::ForEach(d->lIfStart, d->lIfEnd, d->lIfStep, [&](int32_t wanted) {
      DebugPrint(d, "\nIntermadiate Freq %d KHz\n", wanted);
      int32_t m1 = 0, p1 = 0, m2 = 0, p2 = 0;
      const int32_t inter = pllSearchStageDividers(fin, wanted, &m1, &p1, tolerance, &d->vco1, d);
      if (inter == 0) return true;
      int32_t out = 0;
      if (sel == kPllOutVco2) {
        m2 = frequency / inter;
        p2 = 1;
        if (!InRange(m2, d->vco2.lMMin, d->vco2.lMMax)) return true;
        if (!InRange(static_cast<int64_t>(inter) * m2, d->vco2.lVcoMin, d->vco2.lVcoMax))
          return true;
        out = inter * m2;
      } else {
        out = pllSearchStageDividers(inter, frequency, &m2, &p2, tolerance, &d->vco2, d);
        if (out == 0) return true;
      }
      return !Consider(handle, sel, frequency, m1, p1, m2, p2, out, &best, d);
    });
  }
  return Finish(handle, sel, frequency, best,
                "\nAlgorithm 1: lOutFreq: %d KHz ulErr: %d KHz/%3d.%03d percent\n", d);
}

uint32_t pllAlgorithm2(void* handle, uint32_t sel, int32_t frequency, PLLDESCRIPTOR* d) {
  if (sel != kPllOutFs || d->vco2.ulInputSel != 0)
    return pllAlgorithm1(handle, sel, frequency, d);
  DebugPrint(d, "\nAlgorithm 2: Compute PLL lOutFreq %d KHz from inFreq %d KHz\n", frequency,
             d->lFin);
  const bool firstFit = d->ulSearchMode == kPllSearchFirstFit;
  Best best;
  bool stop = false;
  pllutil::ForEach(d->vco2.lMStart, d->vco2.lMEnd, d->vco2.lMStep, [&](int32_t m2) {
    pllutil::ForEach(d->vco2.lPStart, d->vco2.lPEnd, d->vco2.lPStep, [&](int32_t p2) {
      if (m2 <= 0 || p2 <= 0) return true;
      const int64_t wanted = static_cast<int64_t>(frequency) * p2 / m2;
      if (!InRange(wanted, d->vco1.lFoutMin, d->vco1.lFoutMax)) return true;
      const int32_t tolerance =
          firstFit ? static_cast<int32_t>(static_cast<int64_t>(
                         pllutil::FirstFitTolerance(d, frequency)) * p2 / m2)
                   : 0;
      int32_t m1 = 0, p1 = 0;
      const int32_t inter = pllSearchStageDividers(d->lFin, static_cast<int32_t>(wanted), &m1,
                                                   &p1, tolerance, &d->vco1, d);
      const int64_t achieved = static_cast<int64_t>(inter) * m2 / p2;
      if (achieved == 0) return true;
      if (pllIsInvalidDividers(static_cast<int32_t>(achieved * p2 / m2), m2, p2, &d->vco2, d))
        return true;
      stop = Consider(handle, sel, frequency, m1, p1, m2, p2, static_cast<int32_t>(achieved),
                      &best, d);
      return !stop;
    });
    return !stop;
  });
  return Finish(handle, sel, frequency, best,
                "\nAlgorithm 2: lOutFreq: %d KHz ulErr: %d KHz/%3d.%03d percent\n", d);
}

uint32_t pllInit(void* handle, uint32_t algorithm, uint32_t sel, int32_t frequency,
                 PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllInit(handle, algorithm, sel, frequency, d);
  if (sel > kPllOutVco2) {
    ErrorPrint(d, "\nERROR PLL%d : invalid parameter output selection %d\n", d->ulPllNumber + 1,
               sel);
    return kPllBadOutputSel;
  }
  pllHwOscOn(handle, d);
  frequency = ClampRequest(sel, frequency, d);

  switch (algorithm == 0 ? d->ulDefaultAlgorithm : algorithm) {
    case 1:
      return pllAlgorithm1(handle, sel, frequency, d);
    case 2:
      return pllAlgorithm2(handle, sel, frequency, d);
    case 3: {
      // Even P2 from 2 up to the smallest P2 that brings VCO2 into range.
      PLLDESCRIPTOR copy = *d;
      int32_t end = frequency > 0 ? (d->vco2.lVcoMin + frequency - 1) / frequency
                                  : d->vco2.lPMax;
      end += end & 1;
      copy.vco2.lPStart = 2;
      copy.vco2.lPStep = 2;
      copy.vco2.lPEnd = end;
      const uint32_t result = pllAlgorithm2(handle, sel, frequency, &copy);
      d->ulLastValue = copy.ulLastValue;
      d->vco1.lLastUnlock = copy.vco1.lLastUnlock;
      d->vco2.lLastUnlock = copy.vco2.lLastUnlock;
      return result;
    }
    default:
      ErrorPrint(d, "\nERROR PLL%d : invalid parameter type of algorithm %d\n",
                 d->ulPllNumber + 1, algorithm);
      return kPllBadAlgorithm;
  }
}

uint32_t pllGetDivider(void* handle, uint32_t vcoIndex, uint32_t divider, PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllGetDivider(handle, vcoIndex, divider, d);
  if (vcoIndex > 1) {
    ErrorPrint(d, "\nERROR in pllGetDivider(), invalid VCO selection %d\n", vcoIndex);
    return 0;
  }
  if (divider > 1) {
    ErrorPrint(d, "\nERROR in pllGetDivider(), invalid divider selection %d\n", divider);
    return 0;
  }
  const uint32_t word = ReadReg(handle, d, d->ulRegOffset);
  if (word & kFsProgram) return 0;
  static const char* const kNames[2][2] = {{"M1", "P1"}, {"M2", "P2"}};
  const char* name = kNames[vcoIndex][divider];
  uint32_t field = 0;
  int32_t value = 0;
  if (vcoIndex == 0 && divider == 0) {
    field = word & (kFsM1Mask | kFsM1High);
    value = DecodeM1(word);
  } else if (vcoIndex == 0) {
    field = (word >> kFsP1Shift) & kFsFieldMask;
    value = DecodeP1(word);
  } else if (divider == 0) {
    field = (word >> kFsM2Shift) & kFsFieldMask;
    value = DecodeM2(word);
  } else {
    field = (word >> kFsP2Shift) & kFsP2Mask;
    value = DecodeP2(word);
  }
  DebugPrint(d, "\n%s reg value %02Xh\n", name, field);
  DebugPrint(d, "\n%s ulDivider value %d\n", name, value);
  return static_cast<uint32_t>(value);
}

uint32_t pllGetVcoOutputDriver(void* handle, uint32_t vcoIndex, PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllGetVcoOutputDriver(handle, vcoIndex, d);
  if (vcoIndex > 1) {
    ErrorPrint(d, "\nERROR in pllGetVcoOutputDriver(), invalid VCO selection %d\n", vcoIndex);
    return 0;
  }
  const uint32_t bit = vcoIndex == 0 ? kFsOutVco1 : kFsOutVco2;
  return (ReadReg(handle, d, d->ulRegOffset) & bit) != 0 ? 1 : 0;
}

uint32_t pllGetVco2Input(void* handle, PLLDESCRIPTOR* d) {
  if (IsB90(d)) return 0;
  return (ReadReg(handle, d, d->ulRegOffset) & kFsVco2FromRef) != 0 ? 1 : 0;
}
