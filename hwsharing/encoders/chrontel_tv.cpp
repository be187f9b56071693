#include "hwsharing/encoders/chrontel_tv.h"

#include <cstring>

#include "core/regs/chrontel.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/tv_tables.h"
#include "hwsharing/outputs/clock_select.h"

namespace {

uint8_t Read(BOARDHANDLE* h, uint32_t n, uint8_t reg) {
  uint8_t v = 0;
  HSLCHRI2CRead(h, n, reg, &v, 1);
  return v;
}
void Write(BOARDHANDLE* h, uint32_t n, uint8_t reg, uint32_t value) {
  uint8_t byte = static_cast<uint8_t>(value);
  HSLCHRI2CWrite(h, n, reg, &byte, 1);
}
void Modify(BOARDHANDLE* h, uint32_t n, uint8_t reg, uint8_t keep, uint32_t set) {
  Write(h, n, reg, (Read(h, n, reg) & keep) | set);
}

constexpr uint32_t kBoardTypeCpld = 15;
constexpr uint32_t kOutputCapsTv = 0x8;       // the board has TV output
constexpr uint32_t kOutputSecondTvClock = 0x200;  // clock mode 0x0E instead of 0x0C

uint32_t Standard(const MODEINFO* r) {
  return (r->flSignalMode & kSignalStandardMask) >> kSignalStandardShift;
}

// A CPLD mode row only counts on a type-15 board that has its CPLD.
bool RowAllowed(const BOARDHANDLE* h, uint32_t code) {
  return !ChrModeCodeNeedsCpld(code) || (h->oCpld.ulPresent != 0 && BoardType(h) == kBoardTypeCpld);
}

const CHRTVREGVALUES* FindRegRow(uint32_t code) {
  for (const CHRTVREGVALUES& row : g_aoTVCHRRegValues)
    if (row.ulModeCode == code) return &row;
  return nullptr;
}

// The adjust group of the first encoder serving the masked word; false when
// no encoder serves it.
bool FirstEncoder(BOARDHANDLE* h, uint32_t flOutput, uint32_t mask, uint32_t* first) {
  uint32_t list[4] = {}, count = 0;
  HSLCHRDetectChrIDs(h, flOutput & mask, list, &count);
  if (count == 0) return false;
  *first = list[0];
  return true;
}

// The register row of the first encoder's mode code: the look-up records
// its error when the code is unknown; no encoder is no row.
bool FirstEncoderRow(BOARDHANDLE* h, MODEINFO* r, uint32_t mask, uint32_t* first,
                     CHRTVREGVALUES* row) {
  if (!FirstEncoder(h, r->flOutput, mask, first)) return false;
  const uint32_t code = static_cast<uint8_t>(r->acTvAdjust[*first][kTvAdjustCode]);
  HSLCHRGetTVChrRegValues(h, code, row);
  return !HalFailed(h->status);
}

void SetCodes(MODEINFO* r, uint32_t code) {
  for (auto& group : r->acTvAdjust) group[kTvAdjustCode] = static_cast<int8_t>(code);
}

// The eleven timing words, MODEINFO bytes 28-71.
void CopyTiming(MODEINFO* to, const MODEINFO& from) {
  std::memcpy(&to->ulRefreshRate, &from.ulRefreshRate, 11 * sizeof(uint32_t));
}
static_assert(offsetof(MODEINFO, ulRefreshRate) == 28);
static_assert(offsetof(MODEINFO, flSignalMode) == 72);

// Position h and v plus, with adjust data, the encoder's own offsets.
void PositionFromRow(BOARDHANDLE* h, uint32_t n, const MODEINFO* r, const CHRTVREGVALUES& row) {
  int32_t hpos = static_cast<int32_t>(row.ulHPosition);
  int32_t vpos = static_cast<int32_t>(row.ulVPosition);
  if (r->flSignalMode & kSignalTvAdjust) {
    hpos += r->acTvAdjust[n][kTvAdjustH];
    vpos += r->acTvAdjust[n][kTvAdjustV];
  }
  HSLCHRTVSetPosition(h, n, static_cast<uint32_t>(hpos), static_cast<uint32_t>(vpos));
}

// Register 0x09: the PLL dividers' high bits, then the display mode's bit 8.
void WritePllHighBits(BOARDHANDLE* h, uint32_t n, const CHRTVREGVALUES& row) {
  Modify(h, n, kChrRegPllControl, 0xE3,
         (((row.ulPllM >> 8) & 3) << 3) | (((row.ulPllN >> 8) & 1) << 2));
  Modify(h, n, kChrRegPllControl, 0xFE, (row.ulDisplayMode >> 8) & 1);
}

// Step changes: which group and field an operation moves, and by how much.
struct Step {
  uint32_t op;
  unsigned group, field;
  int delta;
};
constexpr Step kSteps[] = {
    {13, 0, kTvAdjustH, +1},  {14, 0, kTvAdjustH, -1},  {15, 0, kTvAdjustV, +1},
    {16, 0, kTvAdjustV, -1},  {130, 1, kTvAdjustH, +1}, {131, 2, kTvAdjustH, +1},
    {132, 3, kTvAdjustH, +1}, {140, 1, kTvAdjustH, -1}, {141, 2, kTvAdjustH, -1},
    {142, 3, kTvAdjustH, -1}, {150, 1, kTvAdjustV, +1}, {151, 2, kTvAdjustV, +1},
    {152, 3, kTvAdjustV, +1}, {160, 1, kTvAdjustV, -1}, {161, 2, kTvAdjustV, -1},
    {162, 3, kTvAdjustV, -1},
};
constexpr uint32_t kStepLevelUp = 39;
constexpr uint32_t kStepLevelDown = 40;

// The settings of one proc-amp bit: the handle's word and its setter.
struct Setting {
  uint32_t bit;
  unsigned word;
};
constexpr Setting kRangedSettings[] = {
    {kChrProcAmpContrast, kProcAmpContrast},   {kChrProcAmpBrightness, kProcAmpBrightness},
    {kChrProcAmpSharpness, kProcAmpSharpness}, {kChrProcAmpFlicker, kProcAmpDeflicker},
    {kChrProcAmpTextFlicker, kProcAmpTextFlicker},
};

}  // namespace

HALSTATUS HSLCHRGetTVChrRegValues(BOARDHANDLE* h, uint32_t code, CHRTVREGVALUES* row) {
  if (HalFailed(h->status)) return h->status;
  const CHRTVREGVALUES* found = FindRegRow(code);
  if (found == nullptr) return SetError(h, kErrChrTvMode);
  *row = *found;
  return h->status;
}

HALSTATUS HSLCHRGetTVModeInfo(BOARDHANDLE* h, MODEINFO* r, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  uint32_t level = kTvDefaultLevel;
  if (r->flSignalMode & kSignalTvAdjust) {
    uint32_t first = 0;
    if (!FirstEncoder(h, r->flOutput, kChrTvOutputs, &first)) return SetError(h, kErrChrTvMode);
    level = static_cast<uint32_t>(r->acTvAdjust[first][kTvAdjustLevel]);
  }
  uint32_t matches = 0;
  for (const CHRTVMODEINFO& row : g_aoCHRTVModeInfo) {
    const MODEINFO& m = row.oMode;
    if (m.ulDispWidth != r->ulDispWidth || m.ulDispHeight != r->ulDispHeight) continue;
    if ((m.flSignalMode & kSignalStandardMask) != (r->flSignalMode & kSignalStandardMask)) continue;
    if (row.ulScalingLevel != level || !RowAllowed(h, row.ulModeCode)) continue;
    if (matches++ != k) continue;
    r->flSignalMode |= m.flSignalMode;
    CopyTiming(r, m);
    SetCodes(r, row.ulModeCode);
    return h->status;
  }
  return SetError(h, kErrChrTvMode);
}

HALSTATUS HSLCHRGetSDTVModeInfo(BOARDHANDLE* h, MODEINFO* r, uint32_t standard) {
  if (HalFailed(h->status)) return h->status;
  r->flSignalMode |= standard << kSignalStandardShift;
  return HSLCHRGetTVModeInfo(h, r, 0);
}

HALSTATUS HSLCHRGetDTVModeInfo(BOARDHANDLE* h, MODEINFO* r, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  r->flSignalMode |= kSignalDtv;
  return HSLCHRGetTVModeInfo(h, r, k);
}

HALSTATUS HSLCHRGetTVModeInfoByVideoCode(BOARDHANDLE* h, MODEINFO* r, uint32_t code) {
  if (HalFailed(h->status)) return h->status;
  for (const CHRTVMODEINFO& row : g_aoCHRTVModeInfo) {
    if (row.ulModeCode != code || !RowAllowed(h, code)) continue;
    r->ulDispWidth = row.oMode.ulDispWidth;
    r->ulDispHeight = row.oMode.ulDispHeight;
    CopyTiming(r, row.oMode);
    r->flSignalMode = row.oMode.flSignalMode;
    SetCodes(r, code);
    return h->status;
  }
  return SetError(h, kErrChrTvMode);
}

HALSTATUS HSLCHRGetTVModeInfoSet(BOARDHANDLE* h, uint32_t n, MODEINFO* out, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  for (const MODEINFO& rec : h->aModeInfo) {
    if (rec.flOutput & kOutControllerOff) continue;
    uint32_t list[4] = {}, count = 0;
    HSLCHRDetectChrIDs(h, rec.flOutput & kChrAllOutputs, list, &count);
    for (uint32_t i = 0; i < count; ++i) {
      if (list[i] != n) continue;
      *out = rec;
      *found = 1;
    }
  }
  return h->status;
}

HALSTATUS HSLCHRGetDefaultTVAdjustParam(BOARDHANDLE* h, MODEINFO* r, int8_t* adjust) {
  if (HalFailed(h->status)) return h->status;
  uint32_t first = 0;
  // Without a serving encoder the code byte is the first group's own.
  if (!FirstEncoder(h, r->flOutput, kChrTvOutputs, &first)) first = 0;
  adjust[kTvAdjustH] = 0;
  adjust[kTvAdjustV] = 0;
  adjust[kTvAdjustLevel] = kTvDefaultLevel;
  adjust[kTvAdjustCode] = r->acTvAdjust[first][kTvAdjustCode];
  return h->status;
}

HALSTATUS HSLCHRValidateTVAdjustParam(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  if (Standard(r) != h->ucTvStandard) SetError(h, kErrChrTvAdjust);
  if (!(r->flSignalMode & kSignalTvAdjust)) return h->status;
  uint32_t list[4] = {}, count = 0;
  HSLCHRDetectChrIDs(h, r->flOutput & kChrTvOutputs, list, &count);
  CHRTVREGVALUES row{};
  uint32_t first = 0;
  if (!FirstEncoderRow(h, r, kChrTvOutputs, &first, &row)) return h->status;
  const int32_t maxH = static_cast<int32_t>(row.ulMaxHOffset);
  for (uint32_t i = 0; i < count; ++i) {
    const int8_t* g = r->acTvAdjust[list[i]];
    const bool bad = g[kTvAdjustH] + static_cast<int32_t>(row.ulHPosition) < 0 ||
                     g[kTvAdjustV] + static_cast<int32_t>(row.ulVPosition) < 0 ||
                     g[kTvAdjustLevel] != r->acTvAdjust[first][kTvAdjustLevel] ||
                     g[kTvAdjustH] > maxH;
    if (bad) return SetError(h, kErrChrTvAdjust);
  }
  return h->status;
}

HALSTATUS HSLCHRModifyTVParameters(BOARDHANDLE* h, MODEINFO* r, uint32_t op) {
  h->status = kHalOk;
  if (h->ulOutputCaps & kOutputCapsTv) {
    uint32_t first = 0;
    const bool any = FirstEncoder(h, r->flOutput, kChrTvOutputs, &first);
    if (!(r->flSignalMode & kSignalTvAdjust)) {
      int8_t def[4] = {};
      HSLCHRGetDefaultTVAdjustParam(h, r, def);
      for (auto& group : r->acTvAdjust) std::memcpy(group, def, sizeof(def));
      r->flSignalMode |= kSignalTvAdjust;
    }
    const Step* step = nullptr;
    for (const Step& s : kSteps)
      if (s.op == op) step = &s;
    if (step != nullptr) {
      int8_t& v = r->acTvAdjust[step->group][step->field];
      v = static_cast<int8_t>(static_cast<uint8_t>(v + step->delta));  // signed bytes wrap
    } else if (op == kStepLevelUp || op == kStepLevelDown) {
      if (any) {
        const int level = r->acTvAdjust[first][kTvAdjustLevel] + (op == kStepLevelUp ? 1 : -1);
        for (auto& group : r->acTvAdjust) group[kTvAdjustLevel] = static_cast<int8_t>(level);
      }
      HSLCHRGetTVModeInfo(h, r, 0);
    } else {
      SetError(h, kErrChrTvStep);
    }
  }
  return HSLCHRValidateTVAdjustParam(h, r);
}

HALSTATUS HSLCHRTVSetPosition(BOARDHANDLE* h, uint32_t n, uint32_t hpos, uint32_t vpos) {
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegHPosition, hpos);
  Write(h, n, kChrRegVPosition, vpos);
  Modify(h, n, kChrRegPositionHigh, 0xE7, (((hpos >> 8) & 1) << 4) | (((vpos >> 8) & 1) << 3));
  return h->status;
}

HALSTATUS HSLCHRTVSetPositionAllChr(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  uint32_t list[4] = {}, count = 0;
  HSLCHRDetectChrIDs(h, r->flOutput & kChrTvOutputs, list, &count);
  CHRTVREGVALUES row{};
  uint32_t first = 0;
  if (!FirstEncoderRow(h, r, kChrTvOutputs, &first, &row)) return h->status;
  for (uint32_t i = 0; i < count; ++i) PositionFromRow(h, list[i], r, row);
  return h->status;
}

HALSTATUS HSLCHRSetTVCableType(BOARDHANDLE* h, uint32_t n, uint32_t cable) {
  if (HalFailed(h->status)) return h->status;
  uint8_t dacBits = 0, flickerBits = 0;
  switch (cable) {
    case 5:
    case 8: break;
    case 7: dacBits = 0x10; flickerBits = 0x40; break;
    default: return SetError(h, kErrChrTvCable);
  }
  // Any status, a warning too, skips the writes.
  if (h->status != kHalOk) return h->status;
  Modify(h, n, kChrRegDac, 0xE7, dacBits);
  Modify(h, n, kChrRegFlicker, 0xBF, flickerBits);
  return h->status;
}

HALSTATUS HSLCHRSetTVCableTypeAllChr(BOARDHANDLE* h, uint32_t cable) {
  for (uint32_t n = 0; n < kChrEncoders; ++n) HSLCHRSetTVCableType(h, n, cable);
  return h->status;
}

HALSTATUS HSLCHRSetBrightness(BOARDHANDLE* h, TVPROCAMP* p, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegBrightness, p->aulValue[kProcAmpBrightness]);
  return h->status;
}

HALSTATUS HSLCHRSetContrast(BOARDHANDLE* h, TVPROCAMP* p, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  Write(h, n, kChrRegContrast, p->aulValue[kProcAmpContrast] & 7);
  return h->status;
}

HALSTATUS HSLCHRSetSharpness(BOARDHANDLE* h, TVPROCAMP* p, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  Modify(h, n, kChrRegPositionHigh, 0xF8, p->aulValue[kProcAmpSharpness] & 7);
  return h->status;
}

HALSTATUS HSLCHRSetAntiFlicker(BOARDHANDLE* h, TVPROCAMP* p, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  Modify(h, n, kChrRegFlicker, 0xFC, p->aulValue[kProcAmpDeflicker] & 3);
  return h->status;
}

HALSTATUS HSLCHRSetTextAntiFlicker(BOARDHANDLE* h, TVPROCAMP* p, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  Modify(h, n, kChrRegFlicker, 0xF3, (p->aulValue[kProcAmpTextFlicker] & 3) << 2);
  return h->status;
}

HALSTATUS HSLCHRSetDotCrawl(BOARDHANDLE* h, TVPROCAMP* p, uint32_t n, uint32_t code) {
  if (HalFailed(h->status)) return h->status;
  CHRTVREGVALUES row{};
  HSLCHRGetTVChrRegValues(h, code, &row);
  if (HalFailed(h->status)) return h->status;
  const uint32_t v = (p->aulValue[kProcAmpFlags] & kProcAmpFlagDotCrawl) ? row.ulSubcarrierDotCrawl
                                                                          : row.ulSubcarrier;
  uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                      static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  HSLCHRI2CWrite(h, n, kChrRegSubcarrier, bytes, 4);
  return h->status;
}

HALSTATUS HSLCHRSetTVProcAmpStruct(BOARDHANDLE* h, TVPROCAMP* p, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  if (mask == 0) mask = kChrProcAmpAll;
  TVPROCAMP lo{}, hi{}, def{};
  h->oJumpTable.GetTVProcAmp(h, &hi, h->ucTvStandard, kProcAmpLevelMax);
  h->oJumpTable.GetTVProcAmp(h, &lo, h->ucTvStandard, kProcAmpLevelMin);
  h->oJumpTable.GetTVProcAmp(h, &def, h->ucTvStandard, kProcAmpLevelDefault);
  if (HalFailed(h->status)) return h->status;
  for (const Setting& s : kRangedSettings) {
    if (!(mask & s.bit)) continue;
    const uint32_t v = p->aulValue[s.word];
    const bool inRange = v >= lo.aulValue[s.word] && v <= hi.aulValue[s.word];
    h->oTvProcAmp.aulValue[s.word] = inRange ? v : def.aulValue[s.word];
  }
  if (mask & kChrProcAmpDotCrawl) h->oTvProcAmp.aulValue[kProcAmpFlags] = p->aulValue[kProcAmpFlags];
  return h->status;
}

HALSTATUS HSLCHRSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* p, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  if (mask == 0) mask = kChrProcAmpAll;
  HSLCHRSetTVProcAmpStruct(h, p, mask);
  TVPROCAMP* s = &h->oTvProcAmp;
  for (MODEINFO& rec : h->aModeInfo) {
    if (rec.flOutput & kOutControllerOff) continue;
    uint32_t list[4] = {}, count = 0;
    HSLCHRDetectChrIDs(h, rec.flOutput & kChrAllOutputs, list, &count);
    for (uint32_t i = 0; i < count && !HalFailed(h->status); ++i) {
      const uint32_t n = list[i];
      if (mask & kChrProcAmpContrast) HSLCHRSetContrast(h, s, n);
      if (mask & kChrProcAmpBrightness) HSLCHRSetBrightness(h, s, n);
      if (mask & kChrProcAmpSharpness) HSLCHRSetSharpness(h, s, n);
      if (mask & kChrProcAmpFlicker) HSLCHRSetAntiFlicker(h, s, n);
      if (mask & kChrProcAmpTextFlicker) HSLCHRSetTextAntiFlicker(h, s, n);
      if (mask & kChrProcAmpDotCrawl)
        HSLCHRSetDotCrawl(h, s, n, static_cast<uint8_t>(rec.acTvAdjust[n][kTvAdjustCode]));
    }
  }
  return h->status;
}

HALSTATUS HSLCHREnableTVClockSource(BOARDHANDLE* h, uint32_t n, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  uint32_t enabled = 0, source = 0;
  HSLKSTQuadBoardIsTVClockSourceEnabled(h, &enabled, &source);
  if (HalFailed(h->status) || enabled != 0) return h->status;
  CHRTVREGVALUES row{};
  uint32_t first = 0;
  if (!FirstEncoderRow(h, r, kChrTvOutputs, &first, &row)) return h->status;
  Write(h, n, kChrRegClockMode, (r->flOutput & kOutputSecondTvClock) ? 0x0E : 0x0C);
  Write(h, n, kChrRegPllN, row.ulPllN);
  Write(h, n, kChrRegPllM, row.ulPllM);
  WritePllHighBits(h, n, row);
  Modify(h, n, kChrRegGpio, 0xFF, 0x02);
  uint32_t slot = 0, line = 0, found = 0;
  HSLPIN60GetCHRGPIOData(h, kChrAllEncoderSlots, kChrGpioFunctionTvClock, &slot, &line, &found);
  if (found != 0) {
    uint32_t level = 0;
    HSLCHRAccessGPIO(h, 1, slot, line, &level);
  }
  Modify(h, n, kChrRegPower, 0xFE, 0);
  return h->status;
}

HALSTATUS HSLCHREnableSDTVMode(BOARDHANDLE* h, uint32_t n, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  CHRTVREGVALUES row{};
  uint32_t first = 0;
  if (!FirstEncoderRow(h, r, kChrTvOutputs, &first, &row)) return h->status;
  const uint32_t code = row.ulModeCode;
  Write(h, n, kChrRegPower, 0x20);
  for (const CHRREGPAIR& pair : g_ucInitTVData) Write(h, n, pair.ucRegister, pair.ucValue);
  const uint8_t input = Read(h, n, kChrRegInput);
  Write(h, n, kChrRegClockMode, (r->flOutput & kOutputSecondTvClock) ? 0x0E : 0x0C);
  Write(h, n, kChrRegClockSource, 0x00);
  Write(h, n, kChrRegInput, (input & 0xE0) | 0x1A);
  Write(h, n, kChrRegDac, Standard(r) == 1 ? 0x00 : 0x02);
  TVPROCAMP* s = &h->oTvProcAmp;
  HSLCHRSetTVCableType(h, n, h->ucTvCableType);
  HSLCHRSetBrightness(h, s, n);
  HSLCHRSetContrast(h, s, n);
  HSLCHRSetSharpness(h, s, n);
  HSLCHRSetAntiFlicker(h, s, n);
  HSLCHRSetTextAntiFlicker(h, s, n);
  Modify(h, n, kChrRegFlicker, 0xFF, 0x10);
  Write(h, n, kChrRegDisplayMode, row.ulDisplayMode);
  HSLCHRSetDotCrawl(h, s, n, code);
  Write(h, n, kChrRegPllN, row.ulPllN);
  Write(h, n, kChrRegPllM, row.ulPllM);
  WritePllHighBits(h, n, row);
  uint32_t level = 0;
  HSLCHRAccessGPIO(h, 1, n, 0, &level);
  if (row.ulStart != 0) {
    Write(h, n, kChrRegStart, row.ulStart);
    Modify(h, n, kChrRegPositionHigh, 0xDF, ((row.ulStart >> 8) & 1) << 5);
  }
  PositionFromRow(h, n, r, row);
  return h->status;
}

HALSTATUS HSLCHREnableDTVMode(BOARDHANDLE* h, uint32_t n, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  CHRTVREGVALUES row{};
  uint32_t first = 0;
  if (!FirstEncoderRow(h, r, kChrFourthOutputs, &first, &row)) return h->status;
  static constexpr CHRREGPAIR kDtvStart[] = {
      {kChrRegPower, 0x20}, {kChrRegReset, 0x08}, {kChrRegReset, 0x18}, {kChrRegPower, 0x20},
      {kChrRegReset, 0x10}, {kChrRegClockMode, 0x04}, {kChrRegSync, 0x98}, {kChrRegDac, 0x02}};
  for (const CHRREGPAIR& pair : kDtvStart) Write(h, n, pair.ucRegister, pair.ucValue);
  Write(h, n, kChrRegDisplayMode, row.ulDisplayMode);
  Write(h, n, kChrRegDtvOutput, 0x83);
  Write(h, n, kChrReg70, 0xC0);
  Write(h, n, kChrRegDviControl, 0x40);
  PositionFromRow(h, n, r, row);
  return h->status;
}

HALSTATUS HSLCHRUseCPLD(BOARDHANDLE* h, MODEINFO* r, uint32_t* use) {
  if (HalFailed(h->status)) return h->status;
  uint32_t first = 0;
  *use = FirstEncoder(h, r->flOutput, kChrFourthOutputs, &first) &&
                 ChrModeCodeNeedsCpld(static_cast<uint8_t>(r->acTvAdjust[first][kTvAdjustCode]))
             ? 1
             : 0;
  return h->status;
}
