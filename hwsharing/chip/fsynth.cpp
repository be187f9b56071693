// Frequency synthesizers: limits, divider search and table fallback.
#include "hwsharing/chip/fsynth.h"

#include "core/board_description.h"
#include "core/regs/clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

// Waits of the programming sequence, in HWDelay units.
constexpr uint32_t kFsHoldUnits = 10;
constexpr uint32_t kFsLoadUnits = 100;
constexpr uint32_t kFsReleaseUnits = 200;
constexpr uint32_t kFsLockSettleUnits = 100;

// Fixed intermediate-frequency window of the table search, kHz.
constexpr int64_t kFsTableIfMinKHz = 50000;
constexpr int64_t kFsTableIfMaxKHz = 400000;
constexpr uint32_t kFsM1Forbidden = 33;
constexpr uint32_t kFsP2ForbiddenByte = 2;  // P2 = 2 is written as the byte 0
constexpr uint32_t kFsDerated = 18;
constexpr uint32_t kFsLowestBound = 3;
constexpr uint8_t kFsP2MaxByte = 64;
constexpr uint32_t kFsP2Step = 2;
constexpr uint32_t kFsLimitCount = 6;
constexpr int32_t kKHzPerMHz = 1000;
constexpr uint32_t kFsErrorTenth = 10;  // the error divides by a tenth of the request

// Bits of the FS register kept, cleared and set while new dividers load.
constexpr uint32_t kFsLoadClear = (1u << 26) | (1u << 27) | (1u << 30);

// Sort keys: one letter per comparison ('A' the 18 rule, 'B' the error),
// upper case ascending, lower case descending; later letters break ties.
constexpr uint32_t kFsSortKeyCount = 14;
constexpr const char* kFsSortKeys[kFsSortKeyCount] = {"AB", "", "", "", "", "", "",
                                                      "",   "", "", "", "", "", ""};

BOARDHANDLE* Board(void* handle) { return static_cast<BOARDHANDLE*>(handle); }

int16_t PinsShort(const BOARDHANDLE* h, uint32_t offset) {
  return static_cast<int16_t>(h->oPins.aucData[offset] | (h->oPins.aucData[offset + 1] << 8));
}

uint8_t Saturate8(int64_t v) {
  if (v < 0) return 0;
  return v > 0xFF ? 0xFF : static_cast<uint8_t>(v);
}

// a / b, or `otherwise` when b is not positive.
int64_t DivideOr(int64_t a, int64_t b, int64_t otherwise) { return b > 0 ? a / b : otherwise; }

bool InRange(int64_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

bool Has18(uint32_t word) {
  return (FsParamM1(word) & 0x1F) == kFsDerated || FsParamM2(word) == kFsDerated ||
         FsParamP1(word) == kFsDerated || FsParamP2(word) / 2 == kFsDerated;
}

int32_t AbsError(const FSLIMIT* limits, uint32_t word) {
  const int32_t e = FsParamError(word, limits->ulFrequency);
  return e < 0 ? -e : e;
}

int32_t Compare(const FSLIMIT* limits, uint32_t a, uint32_t b) {
  if (limits->ucSortKey >= kFsSortKeyCount) return 0;
  for (const char* c = kFsSortKeys[limits->ucSortKey]; *c != '\0'; ++c) {
    const bool ascending = *c >= 'A' && *c <= 'Z';
    const char which = ascending ? *c : static_cast<char>(*c - 'a' + 'A');
    int32_t r = 0;
    if (which == 'A') r = CompareFSParamBy18(limits, a, b);
    if (which == 'B') r = CompareFSParamByError(limits, a, b);
    if (!ascending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

// Walks every candidate word of the limits in loop order until `take`
// answers false.
template <class Take>
void ForEachCandidate(const FSLIMIT* limits, Take take) {
  for (uint32_t m1 = limits->ucM1Min; m1 <= limits->ucM1Max; ++m1)
    for (uint32_t m2 = limits->ucM2Min; m2 <= limits->ucM2Max; ++m2)
      for (uint32_t p1 = limits->ucP1Min; p1 <= limits->ucP1Max; ++p1)
        for (uint32_t p2 = limits->ucP2Min; p2 <= limits->ucP2Max; p2 += kFsP2Step)
          if (!take(MakeFsParam(m1, m2, p1, p2))) return;
}

// Writes the words in order until one locks.
bool WriteUntilLocked(BOARDHANDLE* h, FSLIMIT* limits, const uint32_t* table, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t locked = 0;
    limits->ulParam = table[i];
    HWKSTWriteFSParameters(h, limits, &locked);
    if (locked != 0) return true;
  }
  return false;
}

// The FS register word for the dividers of a parameter word (P2 byte 0
// stands for 2).
uint32_t InsertDividers(uint32_t reg, uint32_t word) {
  const auto p2 = static_cast<int32_t>(FsParamP2(word));
  uint32_t v = FsSetM1(reg, static_cast<int32_t>(FsParamM1(word)));
  v = FsSetM2(v, static_cast<int32_t>(FsParamM2(word)));
  v = FsSetP1(v, static_cast<int32_t>(FsParamP1(word)));
  v = p2 == 0 ? FsSetP2IsTwo(v) : FsSetP2(v, p2);
  return v | kFsProgram;
}

}  // namespace

int64_t FsParamOutput(uint32_t word) {
  const int64_t p1 = FsParamP1(word);
  if (p1 == 0) return 0;
  const int64_t p2 = FsParamP2(word) == 0 ? 2 : FsParamP2(word);
  return FsParamM1(word) * int64_t{kFsRefKHz} / p1 * FsParamM2(word) / p2;
}

// In hundredths of a percent of the request: the difference x 1000 over a
// tenth of the request. Below 10 kHz a tenth truncates to 0, so those
// requests divide x 10000 by the request itself.
int32_t FsParamError(uint32_t word, uint32_t requested) {
  if (requested == 0) return kFsErrorUnknown;
  const int64_t difference = FsParamOutput(word) - int64_t{requested};
  const int64_t tenth = requested / kFsErrorTenth;
  const int64_t e = tenth != 0 ? difference * 1000 / tenth
                               : difference * 10000 / int64_t{requested};
  if (e > kFsErrorUnknown) return kFsErrorUnknown;
  if (e < -kFsErrorUnknown) return -kFsErrorUnknown;
  return static_cast<int32_t>(e);
}

int32_t CompareFSParamBy18(const FSLIMIT*, uint32_t a, uint32_t b) {
  return static_cast<int32_t>(Has18(a)) - static_cast<int32_t>(Has18(b));
}

int32_t CompareFSParamByError(const FSLIMIT* limits, uint32_t a, uint32_t b) {
  const int32_t ea = AbsError(limits, a), eb = AbsError(limits, b);
  return ea < eb ? -1 : (ea > eb ? 1 : 0);
}

HALSTATUS HWKSTFSWaitLock(BOARDHANDLE* h, uint32_t reg, uint32_t* locked) {
  *locked = 0;
  if (HalFailed(h->status)) return h->status;
  Delay(h, kFsLockSettleUnits);
  uint32_t both = 0;
  for (uint32_t i = 0; i < kFsLockReads; ++i)
    if ((RegRead(h, reg) & kFsBothLocked) == kFsBothLocked) ++both;
  *locked = both >= kFsLockMinReads ? 1 : 0;
  return h->status;
}

HALSTATUS HWKSTWriteFSParameters(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t* locked) {
  *locked = 0;
  if (HalFailed(h->status)) return h->status;
  const uint32_t reg = limits->ulRegister;
  uint32_t value = (RegRead(h, reg) & ~kFsLoadClear) | kFsProgram;
  RegWrite(h, reg, value);
  Delay(h, kFsHoldUnits);
  value = InsertDividers(value, limits->ulParam);
  RegWrite(h, reg, value);
  Delay(h, kFsLoadUnits);
  RegWrite(h, reg, value & ~kFsProgram);
  Delay(h, kFsReleaseUnits);
  return HWKSTFSWaitLock(h, reg, locked);
}

HALSTATUS HWKSTValidateFSParam(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t word,
                               uint32_t* ok) {
  *ok = 0;
  if (HalFailed(h->status)) return h->status;
  const int64_t m1 = FsParamM1(word), m2 = FsParamM2(word), p1 = FsParamP1(word);
  if (p1 == 0 || m1 == kFsM1Forbidden || FsParamP2(word) == kFsP2ForbiddenByte) return h->status;
  if (AbsError(limits, word) > kFsMaxErrorHundredths) return h->status;
  const int64_t vco1 = m1 * kFsRefKHz;
  if (!InRange(vco1, limits->lVco1Min, limits->lVco1Max)) return h->status;
  if (vco1 / p1 < kFsTableIfMinKHz || vco1 / p1 > kFsTableIfMaxKHz) return h->status;
  if (!InRange(vco1 * m2 / p1, limits->lVco2Min, limits->lVco2Max)) return h->status;
  *ok = 1;
  return h->status;
}

HALSTATUS HWKSTAddFSParamInTable(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t word,
                                 uint32_t* table, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  table[n] = word;
  for (uint32_t k = n; k > 0 && Compare(limits, table[k], table[k - 1]) < 0; --k) {
    const uint32_t t = table[k - 1];
    table[k - 1] = table[k];
    table[k] = t;
  }
  return h->status;
}

HALSTATUS HWKSTGenereMPTable(BOARDHANDLE* h, const FSLIMIT* limits, uint32_t* table,
                             uint32_t* count) {
  const uint32_t capacity = *count;
  *count = 0;
  if (HalFailed(h->status)) return h->status;
  uint32_t n = 0;
  ForEachCandidate(limits, [&](uint32_t word) {
    if (n >= capacity) return false;
    uint32_t ok = 0;
    HWKSTValidateFSParam(h, limits, word, &ok);
    if (ok != 0) HWKSTAddFSParamInTable(h, limits, word, table, n++);
    return n < capacity;
  });
  *count = n;
  return h->status;
}

HALSTATUS HWKSTInitialiseFSLimit(BOARDHANDLE* h, FSLIMIT* limits, uint32_t n,
                                 uint32_t frequency) {
  if (HalFailed(h->status)) return h->status;
  limits->ulRegister = kRegFs0 + kRegFsStride * n;
  limits->ulFrequency = frequency;
  limits->ulParam = 0;
  if (n < kFsCount) {
    int32_t* const fields[kFsLimitCount] = {&limits->lVco1Min, &limits->lVco1Max,
                                            &limits->lVco2Min, &limits->lVco2Max,
                                            &limits->lIfMin,   &limits->lIfMax};
    const uint32_t at = kPinsFsBlock + kPinsFsStride * n + kPinsFsLimits;
    for (uint32_t i = 0; i < kFsLimitCount; ++i)
      *fields[i] = PinsShort(h, at + 2 * i) * kKHzPerMHz;
  }
  // Zero or negative limits leave the bounds that depend on them empty
  // instead of dividing by zero.
  const uint8_t m1Min = Saturate8(limits->lVco1Min / kFsRefKHz);
  const uint8_t m1Max = Saturate8(limits->lVco1Max / kFsRefKHz);
  const uint8_t p1Min = Saturate8(DivideOr(int64_t{m1Min} * kFsRefKHz, limits->lIfMax, 0));
  const uint8_t p1Max = Saturate8(DivideOr(int64_t{m1Max} * kFsRefKHz, limits->lIfMin, 0));
  const int64_t m2Low =
      DivideOr(int64_t{p1Min} * limits->lVco2Max, int64_t{m1Max} * kFsRefKHz, 0);
  limits->ucM1Min = m1Min;
  limits->ucM1Max = m1Max;
  limits->ucM2Min = Saturate8(m2Low < kFsLowestBound ? kFsLowestBound : m2Low);
  limits->ucM2Max =
      Saturate8(DivideOr(int64_t{p1Max} * limits->lVco2Min, int64_t{m1Min} * kFsRefKHz, 0));
  limits->ucP1Min = p1Min < kFsLowestBound ? kFsLowestBound : p1Min;
  limits->ucP1Max = p1Max;
  limits->ucP2Min = 0;
  limits->ucP2Max = kFsP2MaxByte;
  limits->ucSortKey = 0;
  return h->status;
}

namespace {

// The limits of FS n for `frequency`; false when the handle has failed or
// FS n does not exist (only FS 0..3 do: another number would address a
// foreign register).
bool PrepareLimits(BOARDHANDLE* h, uint32_t n, uint32_t frequency, FSLIMIT* limits) {
  if (HalFailed(h->status) || n >= kFsCount) return false;
  HWKSTInitialiseFSLimit(h, limits, n, frequency);
  return true;
}

// The PLL library's search over the limits, with a generation's parameter
// block.
bool SearchWithLibrary(BOARDHANDLE* h, const PLLDESCRIPTOR& tmpl, uint32_t n,
                       const FSLIMIT& limits, uint32_t frequency) {
  PLLDESCRIPTOR d = tmpl;
  d.ulPllNumber = n;
  d.ulRegOffset = pllGetRegOffset(&d);
  d.vco1.lVcoMin = limits.lVco1Min;
  d.vco1.lVcoMax = limits.lVco1Max;
  d.vco1.lFoutMin = limits.lIfMin;
  d.vco1.lFoutMax = limits.lIfMax;
  d.vco2.lVcoMin = limits.lVco2Min;
  d.vco2.lVcoMax = limits.lVco2Max;
  return pllInit(h, 0, kPllOutFs, static_cast<int32_t>(frequency), &d) == kPllOk;
}

// The sorted candidate table, written until one locks.
bool SearchTable(BOARDHANDLE* h, FSLIMIT* limits) {
  uint32_t table[kFsTableSize];
  uint32_t count = kFsTableSize;
  HWKSTGenereMPTable(h, limits, table, &count);
  return WriteUntilLocked(h, limits, table, count);
}

}  // namespace

uint32_t HWKSTInitialiseFSController(BOARDHANDLE* h, uint32_t n, uint32_t frequency) {
  FSLIMIT limits{};
  if (!PrepareLimits(h, n, frequency, &limits)) return 0;
  if (SearchWithLibrary(h, kKstFsPllTemplate, n, limits, frequency)) return 1;
  return SearchTable(h, &limits) ? 1 : 0;
}

uint32_t HWKSTInitialiseFSController1(BOARDHANDLE* h, uint32_t n, uint32_t frequency) {
  FSLIMIT limits{};
  if (!PrepareLimits(h, n, frequency, &limits)) return 0;
  return SearchTable(h, &limits) ? 1 : 0;
}

uint32_t HWKSTInitialiseFSController2(BOARDHANDLE* h, uint32_t n, uint32_t frequency) {
  FSLIMIT limits{};
  if (!PrepareLimits(h, n, frequency, &limits)) return 0;
  bool locked = false;
  ForEachCandidate(&limits, [&](uint32_t word) {
    if (Has18(word)) return true;
    uint32_t ok = 0;
    HWKSTValidateFSParam(h, &limits, word, &ok);
    if (ok == 0) return true;
    locked = WriteUntilLocked(h, &limits, &word, 1);
    return !locked;
  });
  return locked ? 1 : 0;
}

uint32_t HWB90InitialiseFSController(BOARDHANDLE* h, uint32_t n, uint32_t frequency) {
  FSLIMIT limits{};
  if (!PrepareLimits(h, n, frequency, &limits)) return 0;
  return SearchWithLibrary(h, kB90FsPllTemplate, n, limits, frequency) ? 1 : 0;
}

// ---- Callbacks of the PLL library --------------------------------------------------

uint32_t FSReadRegister(void* handle, uint32_t reg) { return RegRead(Board(handle), reg); }

void FSWriteRegister(void* handle, uint32_t value, uint32_t reg) {
  RegWrite(Board(handle), reg, value);
}

uint32_t Bri90FSReadRegister(void* handle, uint32_t reg) { return RegRead(Board(handle), reg); }

uint32_t Bri90FSReadShadow(void* handle, uint32_t reg) {
  uint32_t value = 0;
  HWBri90ReadRegShadowDword(Board(handle), reg, &value);
  return value;
}

void Bri90FSWriteRegister(void* handle, uint32_t value, uint32_t reg) {
  RegWrite(Board(handle), reg, value);
  if (reg >= kRegFsShadowFirst && reg <= kRegFsShadowLast)
    HWBri90WriteRegShadowDword(Board(handle), reg, &value);
}

void FSDelay(void* handle, uint32_t units) { Delay(Board(handle), units); }

// ---- Parameter blocks ------------------------------------------------------------------

const PLLDESCRIPTOR kKstFsPllTemplate = {
    .ulPllNumber = 0,
    .ulKind = kPllKindFirst,
    .lFin = kFsRefKHz,
    .ulRegOffset = kRegFs0,
    .ulLastValue = 0,
    .ulDefaultAlgorithm = 2,
    .ulSearchMode = 1,
    .ulOptionBit = 0,
    //          index sel span  M: start end step  P: start end step  M min max  P min max
    .vco1 = {0, 0, 1, 64, 2, -1, 2, 32, 1, 3, 64, 3, 32,
             // VCO range, Fout range, lock polls, max unlock %, settle, last unlock
             600000, 1250000, 50000, 400000, 100, 0, 10, 0},
    .vco2 = {1, 0, 1, 32, 2, -1, 2, 64, 2, 3, 32, 2, 64,
             600000, 1250000, 10000, 1250000, 100, 0, 10, 0},
    .lIfStart = 75000,
    .lIfEnd = 300000,
    .lIfStep = 5000,
    .lErrLimitPercent = kPllPercentOne,
    .lErrLimitKHz = 0,
    .pfnReadReg = FSReadRegister,
    .pfnWriteReg = FSWriteRegister,
    .pfnReadShadow = nullptr,
    .pfnDelay = FSDelay,
    .pfnErrorPrint = nullptr,
    .pfnDebugPrint = nullptr,
    .ulVerbose = 0,
};

const PLLDESCRIPTOR kB90FsPllTemplate = {
    .ulPllNumber = 0,
    .ulKind = kPllKindB90,
    .lFin = kFsRefKHz,
    .ulRegOffset = kRegB90Fs0,
    .ulLastValue = 0,
    .ulDefaultAlgorithm = 2,
    .ulSearchMode = 1,
    .ulOptionBit = 0,
    .vco1 = {0, 0, 1, 64, 1, -1, 1, 32, 1, 1, 64, 1, 32,
             800000, 1600000, 54000, 108000, 100, 0, 10, 0},
    .vco2 = {1, 0, 1, 32, 1, -1, 1, 16, 1, 1, 32, 1, 16,
             800000, 1600000, 1, 1600000, 100, 0, 10, 0},
    .lIfStart = 75000,
    .lIfEnd = 300000,
    .lIfStep = 5000,
    .lErrLimitPercent = kPllPercentOne,
    .lErrLimitKHz = 0,
    .pfnReadReg = Bri90FSReadRegister,
    .pfnWriteReg = Bri90FSWriteRegister,
    .pfnReadShadow = Bri90FSReadShadow,
    .pfnDelay = FSDelay,
    .pfnErrorPrint = nullptr,
    .pfnDebugPrint = nullptr,
    .ulVerbose = 0,
};
