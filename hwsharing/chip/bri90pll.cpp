// Two-stage PLL divider library, later chip generation (kind 1): one lock
// bit, dividers stored minus one, the output divided by 2 x P2, and the FS
// registers read back from the board's register shadow.
#include "hwsharing/chip/bri90pll.h"

#include "core/regs/clocks.h"
#include "hwsharing/chip/pll_common.h"

using namespace pllutil;  // NOLINT

namespace {

constexpr uint32_t kOscSettleUnits = 1000;
constexpr int32_t kM1Max = 64, kM2Max = 32, kP1Max = 32, kP2Max = 16;
constexpr int32_t kStageBestErrorStart = 10000000;
// Low requests: VCO2 min is lowered to 2 x P2 max x max(f - 2000, 5000).
constexpr int32_t kLowFreqMarginKHz = 2000;
constexpr int32_t kLowFreqFloorKHz = 5000;
constexpr char kSourceName[] = "hwsharing/bri90pll";

void InternalError(const PLLDESCRIPTOR* d, int line, const char* text) {
  ErrorPrint(d, "\nInternal ERROR in file '%s' line %d: %s.\n", kSourceName, line, text);
}

uint32_t EncodeWord(uint32_t shadow, uint32_t sel, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                    const PLLDESCRIPTOR* d) {
  uint32_t word = shadow & ~(kB90ClearedBits | kB90OptionBit | kB90Program);
  word = B90FsSetDivider<B90FsM1Field>(word, m1);
  word = B90FsSetDivider<B90FsM2Field>(word, m2);
  word = B90FsSetDivider<B90FsP1Field>(word, p1);
  word = B90FsSetDivider<B90FsP2Field>(word, p2);
  word = FsOutputSel::Set(word, sel);
  if (d->ulOptionBit != 0) word |= kB90OptionBit;
  return word | kB90Program;
}

}  // namespace

uint32_t bri90pllGetRegOffset(const PLLDESCRIPTOR* d) {
  return RegOffset({kRegB90Fs0, kRegB90Pll6, kRegB90Pll7}, d->ulPllNumber);
}

uint32_t bri90pllHwOscOn(void* handle, PLLDESCRIPTOR* d) {
  const uint32_t value = ReadReg(handle, d, kRegB90OscTest);
  if ((value & kB90OscillatorHold) == 0 && (value & kB90OscillatorOn) != 0) return 0;
  WriteReg(handle, d, value & ~kB90OscillatorHold, kRegB90OscTest);
  Delay(handle, d, kOscSettleUnits);
  WriteReg(handle, d, (value & ~kB90OscillatorHold) | kB90OscillatorOn, kRegB90OscTest);
  Delay(handle, d, kOscSettleUnits);
  return 0;
}

uint32_t bri90pllIsInvalidDividers(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                                   const PLLDESCRIPTOR* d) {
  if (CheckRanges(fin, m, p, vco, d) != 0) return 1;
  const bool vco1 = vco->ulVcoIndex == 0;
  const int32_t mMax = vco1 ? kM1Max : kM2Max;
  const int32_t pMax = vco1 ? kP1Max : kP2Max;
  if (m < 1 || m > mMax) {
    VerbosePrint(d, "\nReject %s is invalid (%d)", vco1 ? "M1" : "M2", m);
    return 1;
  }
  if (p < 1 || p > pMax) {
    VerbosePrint(d, "\nReject %s is invalid (%d)", vco1 ? "P1" : "P2", p);
    return 1;
  }
  VerbosePrint(d, "\nVCO%d parameters accected M:%d, P:%d, inFreq: %d Khz", vco1 ? 1 : 2, m, p,
               fin);
  return 0;
}

int32_t bri90pllUnlockStatus(void* handle, uint32_t reg, int32_t count, PLLVCOCONFIG* vco,
                             const PLLDESCRIPTOR* d) {
  return UnlockRatio(handle, reg, kB90Locked, count, vco, d);
}

uint32_t bri90pllHwInit(void* handle, uint32_t sel, int32_t m1, int32_t p1, int32_t m2,
                        int32_t p2, PLLDESCRIPTOR* d) {
  DebugPrint(d, "\nProgram PLL with M1=%d,P1=%d,M2=%d,P2=%d\n", m1, p1, m2, p2);
  if (sel == kPllOutFs && (p2 < 1 || p2 > kP2Max)) {
    ErrorPrint(d, "\nERROR FS%d : invalid P2 divider %d\n", d->ulPllNumber + 1, p2);
    return kPllBadP2;
  }
  const uint32_t word =
      EncodeWord(ReadShadow(handle, d, d->ulRegOffset), sel, m1, p1, m2, p2, d);
  WriteReg(handle, d, word, d->ulRegOffset);
  WriteReg(handle, d, word & ~kB90Program, d->ulRegOffset);
  Delay(handle, d, d->vco1.ulSettleDelay);

  DebugPrint(d, "\nWait for VCO to lock\n");
  if (WaitLock(handle, kB90Locked, &d->vco1, d) > d->vco1.lMaxUnlockPercent) {
    ErrorPrint(d, "\nERROR FS%d : Do not lock\n", d->ulPllNumber + 1);
    return kPllB90NoLock;
  }
  d->ulLastValue = word & ~kB90Program;
  return kPllOk;
}

uint32_t bri90pllTestDividers(void* handle, uint32_t program, uint32_t sel, int32_t target,
                              int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                              PLLDESCRIPTOR* d) {
  return TestDividers(handle, program, sel, target, achieved, m1, p1, m2, p2, d);
}

namespace {

uint32_t SearchVco1Alone(void* handle, int32_t frequency, PLLDESCRIPTOR* d) {
  int32_t bestM = 0;
  int32_t bestError = kStageBestErrorStart;
  ForEach(d->vco1.lMStart, d->vco1.lMEnd, d->vco1.lMStep, [&](int32_t m) {
    const int64_t vco = static_cast<int64_t>(d->lFin) * m;
    if (!InRange(vco, d->vco1.lVcoMin, d->vco1.lVcoMax)) return true;
    const int32_t error = Abs(vco - frequency);
    if (error < bestError) {
      bestError = error;
      bestM = m;
    }
    return true;
  });
  if (bestM == 0) {
    ErrorPrint(d, "\nERROR FS%d, cannot find any divider for desired VCO frequency %d Khz.\n",
               d->ulPllNumber + 1, frequency);
    return kPllNoDivider;
  }
  const int32_t achieved = d->lFin * bestM;
  const uint32_t tested =
      bri90pllTestDividers(handle, 0, kPllOutVco1, frequency, achieved, bestM, 1, 0, 0, d);
  if (tested != kPllOk) return tested;
  return bri90pllTestDividers(handle, 1, kPllOutVco1, frequency, achieved, bestM, 1, 0, 0, d);
}

uint32_t SearchOutput(void* handle, uint32_t sel, int32_t frequency, PLLDESCRIPTOR* d) {
  DebugPrint(d, "\nAlgorithm 2: Compute PLL outFreq %d KHz from inFreq %d KHz\n", frequency,
             d->lFin);
  const bool firstFit = d->ulSearchMode == kPllSearchFirstFit;
  const int32_t limit = firstFit ? FirstFitTolerance(d, frequency) : 0;
  Best best;
  bool stop = false;
  ForEach(d->vco2.lMStart, d->vco2.lMEnd, d->vco2.lMStep, [&](int32_t m2) {
    auto tryP2 = [&](int32_t p2) {
      if (m2 <= 0 || p2 <= 0) return true;
      const int64_t wanted = 2LL * p2 * frequency / m2;
      if (!InRange(wanted, d->vco1.lFoutMin, d->vco1.lFoutMax)) return true;
      const int32_t tolerance = static_cast<int32_t>(static_cast<int64_t>(limit) * 2 * p2 / m2);
      int32_t m1 = 0, p1 = 0;
      const int32_t inter = pllSearchStageDividers(d->lFin, static_cast<int32_t>(wanted), &m1,
                                                   &p1, tolerance, &d->vco1, d);
      const int64_t achieved = static_cast<int64_t>(inter) * m2 / (2 * p2);
      if (achieved == 0) return true;
      VerbosePrint(d, "\nGoing ahead with M2:%d, P2:%d, In:%d Khz Out:%d Khz", m2, p2, inter,
                   static_cast<int32_t>(achieved));
      if (bri90pllIsInvalidDividers(static_cast<int32_t>(2 * p2 * achieved / m2), m2, p2,
                                    &d->vco2, d) != 0)
        return true;
      stop = Consider(handle, sel, frequency, m1, p1, m2, p2, static_cast<int32_t>(achieved),
                      &best, d);
      return !stop;
    };
    if (sel == kPllOutVco2)
      tryP2(1);
    else
      ForEach(d->vco2.lPStart, d->vco2.lPEnd, d->vco2.lPStep, tryP2);
    return !stop;
  });
  return Finish(handle, sel, frequency, best,
                "\nAlgorithm 2: outFreq: %d KHz ulErr: %d KHz/%3d.%03d percent\n", d);
}

}  // namespace

uint32_t bri90pllInit(void* handle, uint32_t /*algorithm*/, uint32_t sel, int32_t frequency,
                      PLLDESCRIPTOR* d) {
  if (sel > kPllOutVco2) {
    ErrorPrint(d, "\nERROR FS%d : invalid parameter output selection %d\n", d->ulPllNumber + 1,
               sel);
    return kPllBadOutputSel;
  }
  bri90pllHwOscOn(handle, d);
  frequency = ClampRequest(sel, frequency, d);
  if (sel == kPllOutVco1) return SearchVco1Alone(handle, frequency, d);

  // A request below what the largest P2 reaches from VCO2 min lowers VCO2
  // min for this call.
  const int32_t savedVco2Min = d->vco2.lVcoMin;
  const int64_t reach = d->vco2.lPMax > 0 ? d->vco2.lVcoMin / (2LL * d->vco2.lPMax) : 0;
  if (sel == kPllOutFs && frequency < reach) {
    const int32_t floor = frequency - kLowFreqMarginKHz > kLowFreqFloorKHz
                              ? frequency - kLowFreqMarginKHz
                              : kLowFreqFloorKHz;
    d->vco2.lVcoMin = 2 * d->vco2.lPMax * floor;
  }
  const uint32_t result = SearchOutput(handle, sel, frequency, d);
  d->vco2.lVcoMin = savedVco2Min;
  return result;
}

uint32_t bri90pllGetDivider(void* handle, uint32_t vcoIndex, uint32_t divider,
                            PLLDESCRIPTOR* d) {
  if (vcoIndex > 1) {
    InternalError(d, __LINE__, "invalid VCO selection");
    return 0;
  }
  if (divider > 1) {
    InternalError(d, __LINE__, "invalid Divider selection");
    return 0;
  }
  if (d->pfnReadShadow == nullptr) {
    InternalError(d, __LINE__, "NULL function pointer");
    return 0;
  }
  const uint32_t word = d->pfnReadShadow(handle, d->ulRegOffset);
  if (vcoIndex == 0 && divider == 0) return B90FsGetDivider<B90FsM1Field>(word);
  if (vcoIndex == 0) return B90FsGetDivider<B90FsP1Field>(word);
  if (divider == 0) return B90FsGetDivider<B90FsM2Field>(word);
  return B90FsGetDivider<B90FsP2Field>(word);
}

uint32_t bri90pllGetVcoOutputDriver(void* handle, uint32_t vcoIndex, PLLDESCRIPTOR* d) {
  if (vcoIndex > 1) {
    InternalError(d, __LINE__, "Invalid VCO selection");
    return 0;
  }
  if (d->pfnReadShadow == nullptr) {
    InternalError(d, __LINE__, "NULL function pointer");
    return 0;
  }
  const uint32_t bit = vcoIndex == 0 ? kFsOutVco1 : kFsOutVco2;
  return (d->pfnReadShadow(handle, d->ulRegOffset) & bit) != 0 ? 1 : 0;
}

uint32_t bri90pllInitTestCounter(void* handle, uint32_t divider, uint32_t source,
                                 PLLDESCRIPTOR* d) {
  if (source >= kB90TestCounterSources) {
    ErrorPrint(d, "\nERROR FS%d, Invalid divider %d.\n", d->ulPllNumber + 1, source);
    return 1;
  }
  uint32_t value = ReadReg(handle, d, kRegB90OscTest);
  if (divider > kB90TestCounterMaxDivider) {
    value &= ~kB90TestCounterEnableMask;
  } else {
    value |= kB90TestCounterEnableMask;
    value = B90TestCounterDivider::Set(value, divider);
    value = B90TestCounterSource::Set(value, source);
  }
  WriteReg(handle, d, value, kRegB90OscTest);
  return 0;
}
