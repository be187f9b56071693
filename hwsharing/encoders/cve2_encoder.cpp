#include "hwsharing/encoders/cve2_encoder.h"

#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/encoders/cve2_levels.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/cve2.h"

namespace {

// The 19 registers of a full load, in load order, with their formats.
struct LoadSlot {
  uint8_t reg;
  uint32_t kind;
};
constexpr LoadSlot kLoadOrder[kCve2ParamWords] = {
    {0, kCve2Kind32}, {4, kCve2Kind8},  {44, kCve2Kind8}, {8, kCve2Kind8},  {10, kCve2Kind8},
    {9, kCve2Kind8},  {41, kCve2Kind8}, {49, kCve2Kind11}, {23, kCve2Kind10}, {11, kCve2Kind8},
    {12, kCve2Kind8}, {53, kCve2Kind8}, {16, kCve2Kind10}, {14, kCve2Kind10}, {30, kCve2Kind10},
    {32, kCve2Kind8}, {34, kCve2Kind8}, {37, kCve2Kind8},  {52, kCve2Kind8},
};

bool ThroughVelan(const BOARDHANDLE* h) { return VelanVersion(h) != 0; }
bool ThroughDac(const BOARDHANDLE* h) { return (h->ulFeatures & kAddOnCve2ThroughDac) != 0; }

void WriteValue(BOARDHANDLE* h, uint8_t reg, uint32_t value, uint32_t kind) {
  uint8_t bytes[4] = {};
  HSLCVE2ConvertMUINT32ToRegisterFormat(h, value, kind, bytes);
  const uint32_t n = Cve2KindBytes(kind);
  if (n != 0) HSLCVE2WriteRegister(h, reg, bytes, n);
}

constexpr unsigned kStandardDotCrawl = 1;

}  // namespace

uint32_t Cve2KindBytes(uint32_t kind) {
  switch (kind) {
    case kCve2Kind8: return 1;
    case kCve2Kind10:
    case kCve2Kind11:
    case kCve2Kind15:
    case kCve2Kind16: return 2;
    case kCve2Kind32: return 4;
    default: return 0;
  }
}

HALSTATUS HSLCVE2ReadRegister(BOARDHANDLE* h, uint32_t first, uint8_t* bytes, uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  if (ThroughVelan(h)) return h->pVLNFunctions->I2CRead(h, first, bytes, count);
  if (!ThroughDac(h)) {
    // The chip hands a field back least significant byte first; callers get
    // register order, most significant first, on every route.
    HSLKSTCVE2AccessRegister(h, 0, first, bytes, count);
    for (uint32_t i = 0, j = count ? count - 1 : 0; i < j; ++i, --j) {
      const uint8_t t = bytes[i];
      bytes[i] = bytes[j];
      bytes[j] = t;
    }
    return h->status;
  }
  for (uint32_t i = 0; i < count && !HalFailed(h->status); ++i) {
    HSLDACWriteRegister(h, kDacIndexCve2Index, static_cast<uint8_t>(first + i));
    HSLDACReadRegister(h, kDacIndexCve2Data, &bytes[i]);
  }
  return h->status;
}

HALSTATUS HSLCVE2WriteRegister(BOARDHANDLE* h, uint32_t first, uint8_t* bytes, uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  if (ThroughVelan(h)) return h->pVLNFunctions->I2CWrite(h, first, bytes, count);
  if (!ThroughDac(h)) return HSLKSTCVE2AccessRegister(h, 1, first, bytes, count);
  for (uint32_t i = 0; i < count && !HalFailed(h->status); ++i) {
    HSLDACWriteRegister(h, kDacIndexCve2Index, static_cast<uint8_t>(first + i));
    HSLDACWriteRegister(h, kDacIndexCve2Data, bytes[i]);
    uint8_t back = 0;
    HSLDACReadRegister(h, kDacIndexCve2Data, &back);
    if (!HalFailed(h->status) && back != bytes[i]) SetError(h, kErrCve2DacMismatch);
  }
  return h->status;
}

HALSTATUS HSLCVE2ConvertMUINT32ToRegisterFormat(BOARDHANDLE* h, uint32_t value, uint32_t kind,
                                                uint8_t* bytes) {
  const uint32_t n = Cve2KindBytes(kind);
  for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (n - 1 - i)));
  return h->status;
}

HALSTATUS HSLCVE2ConvertRegisterFormatToMUINT32(BOARDHANDLE* h, uint8_t* bytes, uint32_t kind,
                                                uint32_t* value) {
  const uint32_t n = Cve2KindBytes(kind);
  if (n == 0) return h->status;
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = (v << 8) | bytes[i];
  *value = v;
  return h->status;
}

HALSTATUS HSLCVE2EnableEncoder(BOARDHANDLE* h, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  uint8_t v = on ? 0 : 1;
  return HSLCVE2WriteRegister(h, kCve2RegDisable, &v, 1);
}

HALSTATUS HSLCVE2SetEncoderRegister(BOARDHANDLE* h, CVE2PARAMS* params) {
  if (HalFailed(h->status)) return h->status;
  for (size_t i = 0; i < kCve2ParamWords && !HalFailed(h->status); ++i)
    WriteValue(h, kLoadOrder[i].reg, params->aulWord[i], kLoadOrder[i].kind);
  return h->status;
}

HALSTATUS HSLCVE2InitTVEncoder(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  HSLCVE2EnableEncoder(h, 0);
  CVE2PARAMS params{};
  h->pVLNFunctions->GetEncoderParameters(h, h->ucTvStandard, &params);
  HSLCVE2SetEncoderRegister(h, &params);
  return HSLCVE2EnableEncoder(h, 1);
}

HALSTATUS HSLCVE2Blank(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint8_t blank[2] = {};
  HSLCVE2ReadRegister(h, kCve2RegBlank, blank, 2);
  HSLCVE2WriteRegister(h, kCve2RegBlack, blank, 2);
  HSLCVE2WriteRegister(h, kCve2RegWhite, blank, 2);
  uint8_t zero = 0;
  HSLCVE2WriteRegister(h, kCve2RegSaturationU, &zero, 1);
  HSLCVE2WriteRegister(h, kCve2RegSaturationV, &zero, 1);
  return h->status;
}

HALSTATUS HSLCVE2SetHue(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status)) return h->status;
  WriteValue(h, kCve2RegHue, p->aulValue[kProcAmpHue], kCve2Kind8);
  return h->status;
}

HALSTATUS HSLCVE2SetSaturation(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status) || (p->aulValue[kProcAmpFlags] & kProcAmpFlagBlackWhite)) return h->status;
  WriteValue(h, kCve2RegSaturationU, p->aulValue[kProcAmpSaturation], kCve2Kind8);
  WriteValue(h, kCve2RegSaturationV, p->aulValue[kProcAmpSaturation], kCve2Kind8);
  return h->status;
}

HALSTATUS HSLCVE2SetOutputBW(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t saturation = (p->aulValue[kProcAmpFlags] & kProcAmpFlagBlackWhite)
                                  ? 0
                                  : h->oTvProcAmp.aulValue[kProcAmpSaturation];
  WriteValue(h, kCve2RegSaturationU, saturation, kCve2Kind8);
  WriteValue(h, kCve2RegSaturationV, saturation, kCve2Kind8);
  return h->status;
}

HALSTATUS HSLCVE2SetDotCrawlFreeze(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status) || h->ucTvStandard != kStandardDotCrawl) return h->status;
  const uint32_t v = (p->aulValue[kProcAmpFlags] & kProcAmpFlagDotCrawl) ? kCve2SubcarrierFrozen
                                                                          : kCve2SubcarrierNtsc;
  WriteValue(h, kCve2RegSubcarrier, v, kCve2Kind32);
  return h->status;
}

HALSTATUS HSLCVE2SetBrightness(BOARDHANDLE* h, TVPROCAMP* p) {
  if (HalFailed(h->status)) return h->status;
  CVE2LUMA luma{};
  TVPROCAMP max{};
  h->pVLNFunctions->GetLumaParameters(h, h->ucTvStandard, &luma);
  h->pVLNFunctions->GetTVProcAmp(h, &max, h->ucTvStandard, kProcAmpLevelMax);
  if (HalFailed(h->status)) return h->status;  // no levels to divide by
  CVE2LEVELS levels{};
  if (!Cve2ComputeLevels(luma, p->aulValue[kProcAmpBrightness], max.aulValue[kProcAmpBrightness],
                         p->aulValue[kProcAmpContrast], max.aulValue[kProcAmpContrast],
                         p->aulValue[kProcAmpBlackTrim], p->aulValue[kProcAmpWhiteTrim], &levels))
    return h->status;
  WriteValue(h, kCve2RegBlank, levels.blank, kCve2Kind10);
  WriteValue(h, kCve2RegBlack, levels.black, kCve2Kind10);
  WriteValue(h, kCve2RegWhite, levels.white, kCve2Kind10);
  return h->status;
}

HALSTATUS HSLCVE2SetContrast(BOARDHANDLE* h, TVPROCAMP* p) { return HSLCVE2SetBrightness(h, p); }

HALSTATUS HSLCVE2AdjustLevel(BOARDHANDLE* h, uint32_t* level, uint32_t trim, uint32_t minimum,
                             uint32_t maximum) {
  if (HalFailed(h->status)) return h->status;
  *level = Cve2AdjustLevel(*level, trim, minimum, maximum);
  return h->status;
}
