// Two-stage PLL divider library, first chip generation.
#include "hwsharing/chip/pll.h"

#include <climits>

#include "core/regs/clocks.h"
#include "hwsharing/chip/bri90pll.h"
#include "hwsharing/chip/pll_common.h"

using namespace pllutil;  // NOLINT

namespace {

// Settle time after switching the oscillator on.
constexpr uint32_t kOscSettleUnits = 1000;
constexpr int32_t kP2Highest = 64;
// Dividers of 18 run with derated limits (85 % of the maximum).
constexpr int32_t kDerated = 18;
constexpr int32_t kDeratedM1High = 50;
constexpr int32_t kDeratePercent = 85;
constexpr int32_t kStageBestErrorStart = 10000000;

// The register word for one divider set, first generation.
uint32_t EncodeWord(uint32_t old, uint32_t sel, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                    const PLLDESCRIPTOR* d) {
  uint32_t word = old & ~(kFsOptionBit | kFsVco2FromRef);
  word = FsSetM1(word, m1);
  word = FsSetM2(word, m2);
  word = FsSetP1(word, p1);
  word = p2 == 2 ? FsSetP2IsTwo(word) : FsSetP2(word, p2);
  word = FsOutputSel::Set(word, sel);
  if (d->ulOptionBit != 0) word |= kFsOptionBit;
  if (d->vco2.ulInputSel != 0) word |= kFsVco2FromRef;
  return word | kFsProgram;
}

}  // namespace

uint32_t pllGetRegOffset(const PLLDESCRIPTOR* d) {
  if (IsB90(d)) return bri90pllGetRegOffset(d);
  return RegOffset({kRegFs0, kRegPll6, kRegPll7}, d->ulPllNumber);
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
  // A multiplier outside the stage's M limits or VCO range is rejected
  // whatever P is; unless the rejections are written out, the search skips
  // those multipliers instead of trying each.
  MultiplierWindow window{INT64_MIN, INT64_MAX};
  if (!Verbose(d)) window = StageMultipliers(fin, vco);
  pllutil::ForEachWithin(vco->lMStart, vco->lMEnd, vco->lMStep, window.lo, window.hi, [&](int32_t mm) {
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
    DebugPrint(d, "\nM1 reg value %02Xh, P1 reg value %02Xh\n", FsM1Raw(word),
               FsP1Field::Get(word));
    DebugPrint(d, "\nM2 reg value %02Xh, P2 reg value %02Xh\n",
               FsM2Field::Get(word), FsP2Field::Get(word));
    if (FsGetM1(word) != m1 || FsGetP1(word) != p1 || FsGetM2(word) != m2 ||
        FsGetP2(word) != p2)
      DebugPrint(d, "\nWARNING : inconsistent macro conversion M1=%d,P1=%d,M2=%d,P2=%d\n",
                 FsGetM1(word), FsGetP1(word), FsGetM2(word), FsGetP2(word));
  }
  WriteReg(handle, d, word, d->ulRegOffset);
  WriteReg(handle, d, word & ~kFsProgram, d->ulRegOffset);

  uint32_t result = kPllOk;
  Delay(handle, d, d->vco1.ulSettleDelay);
  if (d->vco1.lLockSpan != 0 && (sel == kPllOutVco1 || d->vco2.ulInputSel == 0)) {
    if (pllWaitVcoLock(handle, &d->vco1, d) > d->vco1.lMaxUnlockPercent) {
      ErrorPrint(d, "\nERROR PLL%d : VCO%d doesn't lock\n", d->ulPllNumber + 1, 1);
      result = kPllVco1NoLock;
    }
  }
  // VCO2 gets its settle time whatever VCO1 did; only its lock test needs
  // VCO1 to have locked.
  Delay(handle, d, d->vco2.ulSettleDelay);
  if (result == kPllOk && sel != kPllOutVco1 && d->vco2.lLockSpan != 0) {
    if (pllWaitVcoLock(handle, &d->vco2, d) > d->vco2.lMaxUnlockPercent) {
      ErrorPrint(d, "\nERROR PLL%d : VCO%d doesn't lock\n", d->ulPllNumber + 1, 2);
      result = kPllVco2NoLock;
    }
  }
  if (result == kPllOk) d->ulLastValue = word & ~kFsProgram;
  return result;
}

uint32_t pllTestDividers(void* handle, uint32_t program, uint32_t sel, int32_t target,
                         int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                         PLLDESCRIPTOR* d) {
  if (IsB90(d))
    return bri90pllTestDividers(handle, program, sel, target, achieved, m1, p1, m2, p2, d);
  return TestDividers(handle, program, sel, target, achieved, m1, p1, m2, p2, d);
}

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
  // A best fit with no error cannot be beaten: the candidates after it
  // would only be compared and dropped, which leaves a trace only in the
  // debug messages.
  const bool exactEnds = !firstFit && d->pfnDebugPrint == nullptr;
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
                      &best, d) ||
             (exactEnds && best.found && best.error == 0);
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
    field = FsM1Raw(word);
    value = FsGetM1(word);
  } else if (vcoIndex == 0) {
    field = FsP1Field::Get(word);
    value = FsGetP1(word);
  } else if (divider == 0) {
    field = FsM2Field::Get(word);
    value = FsGetM2(word);
  } else {
    field = FsP2Field::Get(word);
    value = FsGetP2(word);
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
