#include "hwsharing/encoders/tv_parameters.h"

#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/velan.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

uint8_t ParamId(BOARDHANDLE* h) {
  uint8_t id = 0;
  h->pVLNFunctions->GetIDForParameters(h, &id);
  return id;
}

uint32_t StandardOf(const MODEINFO* r) { return (r->flSignalMode >> 4) & 0xF; }

constexpr uint32_t kSignalInterlaced60 = 0x10;  // bit 4: the 60 Hz line rate
constexpr uint32_t kClockPerLine = 2700;
constexpr uint32_t kClockPerLineBase = 5400;
constexpr uint32_t kClockDivisor60 = 45045;
constexpr uint32_t kClockDivisor50 = 54000;

// Entries: clear the status, refuse a board without the capability, else
// one jump-table slot.
template <class Call>
HALSTATUS Entry(BOARDHANDLE* h, uint32_t capability, HALSTATUS refusal, Call call) {
  h->status = kHalOk;
  if (!(h->ulOutputCaps & capability)) return SetError(h, refusal);
  call();
  return h->status;
}

}  // namespace

// ---- Look-ups -----------------------------------------------------------------------------

HALSTATUS HSLTVEGetIDForParameters(BOARDHANDLE* h, uint8_t* id) {
  if (HalFailed(h->status)) return h->status;
  *id = IsQuadBoard(h) ? kTvParamIdQuad : kTvParamIdSingle;
  return h->status;
}

HALSTATUS HSLTVEGetTVParameters(BOARDHANDLE* h, MODEINFO* r, uint32_t standard) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t id = ParamId(h);
  const VLNTVROW* table = (r->flOutput & kOutputYuvTiming) ? VlnTV_YUVTable : VlnTVTable;
  const VLNTVROW* row =
      FindTvRow(table, static_cast<uint8_t>(standard), id, r->ulDispWidth, r->ulDispHeight);
  if (row == nullptr) return SetError(h, kErrTveTvParameters);
  static_assert(offsetof(MODEINFO, ulRefreshRate) + sizeof(row->aulMode) == 92);
  std::memcpy(&r->ulRefreshRate, row->aulMode, sizeof(row->aulMode));
  return h->status;
}

HALSTATUS HSLTVEGetVScaleTVParameters(BOARDHANDLE* h, MODEINFO* r, uint32_t standard) {
  if (HalFailed(h->status)) return h->status;
  const VLNVSCALEROW* row =
      FindVScaleRowByStandard(ParamId(h), r->ulDispWidth, r->ulDispHeight, standard & 1,
                              static_cast<uint32_t>(VlnAdjustWord(r, kVlnAdjustVScaleStep)));
  if (row == nullptr) return SetError(h, kErrTveVScale);
  std::memcpy(&r->ulRefreshRate, row->aulTiming, sizeof(row->aulTiming));
  r->flSignalMode = row->flSignalMode;
  SetVlnAdjustWord(r, kVlnAdjustVOffset, static_cast<int32_t>(row->ulAdjust));
  return h->status;
}

HALSTATUS HSLTVEGetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* out, uint32_t standard, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  if (level == kProcAmpLevelCurrent) {
    *out = h->oTvProcAmp;
    return h->status;
  }
  const VLNPROCAMPROW* row = FindProcAmpRow(static_cast<uint8_t>(standard), ParamId(h),
                                            static_cast<uint8_t>(level));
  if (row == nullptr) return SetError(h, kErrTveProcAmp);
  *out = row->oProcAmp;
  return h->status;
}

HALSTATUS HSLTVEGetCVE2ITU656Parameters(BOARDHANDLE* h, MODEINFO* r, CVE2ITU656* out) {
  if (HalFailed(h->status)) return h->status;
  const CVE2ITU656ROW* row = FindItu656Row(static_cast<uint8_t>(StandardOf(r)), ParamId(h),
                                           r->ulDispWidth, r->ulDispHeight);
  if (row == nullptr) return SetError(h, kErrTveItu656);
  *out = row->oRecord;
  return h->status;
}

HALSTATUS HSLTVEGetEncoderParameters(BOARDHANDLE* h, uint32_t standard, CVE2PARAMS* out) {
  if (HalFailed(h->status)) return h->status;
  const CVE2PARMROW* row = FindCve2ParamRow(static_cast<uint8_t>(standard), ParamId(h));
  if (row == nullptr) return SetError(h, kErrTveEncoderParameters);
  *out = row->oParams;
  return h->status;
}

HALSTATUS HSLTVEGetTimingParametersOldMethod(BOARDHANDLE* h, uint32_t standard, uint32_t width,
                                             uint32_t height, VLNTIMING* out) {
  if (HalFailed(h->status)) return h->status;
  const VLNTIMINGROW* row = FindTimingRow(static_cast<uint8_t>(standard), ParamId(h), width, height);
  if (row == nullptr) return SetError(h, kErrTveTimingOld);
  *out = row->oTiming;
  return h->status;
}

HALSTATUS HSLTVEGetTimingParameters(BOARDHANDLE* h, uint32_t standard, MODEINFO* r,
                                    VLNTIMING* out) {
  if (HalFailed(h->status)) return h->status;
  const VLNVSCALEROW* row =
      FindVScaleRow(ParamId(h), r->ulDispWidth, r->ulDispHeight, r->flSignalMode,
                    static_cast<uint32_t>(VlnAdjustWord(r, kVlnAdjustVScaleStep)));
  if (row != nullptr) {
    uint32_t* w = out->aulWord;
    const uint32_t d = row->aulBlock[1];
    w[4] = row->aulBlock[0];
    w[14] = row->aulBlock[2];
    w[13] = row->aulBlock[3];
    w[8] = w[15] = d;
    const uint32_t vtotal = r->ulVFPorch + r->ulDispHeight + r->ulVSync + r->ulVBPorch;
    w[12] = vtotal - 1;
    const uint32_t divisor = (r->flSignalMode & kSignalInterlaced60) ? kClockDivisor60
                                                                     : kClockDivisor50;
    const uint32_t clock = vtotal * (kClockPerLine * d + kClockPerLineBase) / divisor;
    uint32_t m = 0, n = 0, p = 0, range = 0;
    h->pVLNFunctions->ComputePLLParam(h, clock, &m, &n, &p, &range);
    w[0] = m;
    w[1] = n;
    w[2] = p | ((range * 8) & 0xFF) | 0x80 | ((range >> 5) << 8);
    w[6] = 4;
    w[11] = 11;
    w[10] = r->ulVBPorch + r->ulVSync;
  } else {
    h->pVLNFunctions->GetTimingParametersOldMethod(h, standard, r->ulDispWidth, r->ulDispHeight,
                                                   out);
  }
  if (!VlnNoAdjustment(r)) {
    h->pVLNFunctions->CalculateTVPosition(h, r, out);
    h->pVLNFunctions->ValidateTVPosition(h, r, out);
  }
  return h->status;
}

HALSTATUS HSLTVEGetGammaParameters(BOARDHANDLE* h, uint32_t level, VLNGAMMA* out) {
  if (HalFailed(h->status)) return h->status;
  const VLNGAMMAROW* row = level <= 0xFF ? FindGammaRow(static_cast<uint8_t>(level)) : nullptr;
  if (row == nullptr) return SetError(h, kErrTveGamma);
  *out = row->oGamma;
  return h->status;
}

HALSTATUS HSLTVEGetLumaParameters(BOARDHANDLE* h, uint32_t standard, CVE2LUMA* out) {
  if (HalFailed(h->status)) return h->status;
  const CVE2LUMAROW* row = FindLumaRow(static_cast<uint8_t>(standard), ParamId(h));
  if (row == nullptr) return SetError(h, kErrTveLuma);
  *out = row->oLuma;
  return h->status;
}

HALSTATUS HSLTVEGetColorBarTimingParameters(BOARDHANDLE* h, uint32_t standard, VLNTIMING* out) {
  if (HalFailed(h->status)) return h->status;
  const VLNCOLORBARROW* row = FindColorBarRow(static_cast<uint8_t>(standard), ParamId(h));
  if (row == nullptr) return SetError(h, kErrTveColorBar);
  *out = row->oTiming;
  return h->status;
}

// ---- Public entries ----------------------------------------------------------------------------

HALSTATUS HALGetTVOutputParameters(BOARDHANDLE* h, MODEINFO* r, uint8_t standard) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvParameters,
               [&] { h->oJumpTable.GetTVParameters(h, r, standard); });
}

HALSTATUS HALGetDTVOutputParameters(BOARDHANDLE* h, MODEINFO* r, uint32_t index) {
  return Entry(h, kOutputCapsDtvOut, kErrHalTvParameters,
               [&] { h->oJumpTable.GetDTVModeInfo(h, r, index); });
}

HALSTATUS HALGetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint8_t standard, uint8_t level) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvGetProcAmp,
               [&] { h->oJumpTable.GetTVProcAmp(h, values, standard, level); });
}

HALSTATUS HALSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t mask) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvSetProcAmp,
               [&] { h->oJumpTable.SetTVProcAmp(h, values, mask); });
}

HALSTATUS HALSetTVOutMode(BOARDHANDLE* h) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvOutMode,
               [&] { h->oJumpTable.SetTVOutMode(h, &h->aModeInfo[0]); });
}

HALSTATUS HALSetTVColorBarMode(BOARDHANDLE* h) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvColorBar, [&] { h->oJumpTable.SetTVColorBarMode(h); });
}

HALSTATUS HALSetTVPassThroughMode(BOARDHANDLE* h) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvPassThrough,
               [&] { h->oJumpTable.SetTVPassThroughMode(h, 0); });
}

HALSTATUS HALSetTVPassThroughMasterMode(BOARDHANDLE* h) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvPassThroughMaster,
               [&] { h->oJumpTable.SetTVPassThroughMode(h, 1); });
}

HALSTATUS HALSetTVDisableMode(BOARDHANDLE* h) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvDisable, [&] { h->oJumpTable.SetTVDisableMode(h); });
}

HALSTATUS HALDetectTV(BOARDHANDLE* h, uint32_t* detected) {
  h->status = kHalOk;
  if (!(h->ulOutputCaps & kOutputCapsTvOut)) {
    *detected = 0;
    return h->status;
  }
  h->oJumpTable.DetectTV(h, detected);
  return h->status;
}

HALSTATUS HALSetTVCableType(BOARDHANDLE* h, uint8_t cable) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvCable,
               [&] { h->oJumpTable.SetTVCableType(h, cable); });
}

HALSTATUS HALSetTVStandard(BOARDHANDLE* h, uint8_t standard) {
  return Entry(h, kOutputCapsTvOut, kErrHalTvStandard,
               [&] { h->oJumpTable.SetTVStandard(h, standard); });
}
