// TV standard, cable type and procamp values.
#include "hwsharing/outputs/tv_state.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/encoders/tv_parameters.h"
#include "hwsharing/encoders/tv_tables.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

// The encoder kinds whose procamp goes through the TV-encoder table.
constexpr uint8_t kEncoderKindA = 2;
constexpr uint8_t kEncoderKindB = 5;

// The TV encoder's kind: the integrated encoder's once it has run, else the
// version the detected Velan answered.
uint8_t TvEncoderKind(const BOARDHANDLE* h) {
  return h->ucTvEncoderKind != 0 ? h->ucTvEncoderKind : VelanVersion(h);
}

constexpr uint32_t kMaskAll = 0xFF;
constexpr uint32_t kMaskFlags = 1u << 0;
constexpr uint32_t kMaskDeflicker = 1u << 1;
constexpr uint32_t kMaskSaturation = 1u << 2;
constexpr uint32_t kMaskBrightness = 1u << 3;
constexpr uint32_t kMaskContrast = 1u << 4;
constexpr uint32_t kMaskHue = 1u << 5;

}  // namespace

bool AllEncodersQuadTv(const BOARDHANDLE* h) {
  for (const I2CDEVICE& e : h->aChrontel)
    if (e.ulData != kEncoderIdQuadTv) return false;
  return true;
}

HALSTATUS HSLKSTGetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t standard, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  return HSLTVEGetTVProcAmp(h, values, standard, level);
}

HALSTATUS HSLKSTSetTVStandard(BOARDHANDLE* h, uint32_t standard) {
  if (HalFailed(h->status)) return h->status;
  bool accepted = false;
  switch (standard) {
    case 0: case 1: case 6: case 7: case 8: accepted = true; break;
    case 2: case 3: case 5: case 9: accepted = !AllEncodersQuadTv(h); break;
    default: break;  // 4 and everything above 9
  }
  if (!accepted) return SetError(h, kErrTvStandardRefused);
  h->ucTvStandard = static_cast<uint8_t>(standard);
  return h->status;
}

HALSTATUS HSLKSTSetTVCableType(BOARDHANDLE* h, uint32_t cable) {
  if (HalFailed(h->status)) return h->status;
  const bool quadTv = AllEncodersQuadTv(h);
  const bool accepted = cable == 5 || cable == 6 || cable == 7 || (cable == 8 && quadTv);
  if (!accepted) return SetError(h, kErrTvCableRefused);
  h->ucTvCableType = static_cast<uint8_t>(cable);
  if (quadTv) HSLCHRSetTVCableTypeAllChr(h, cable);
  return h->status;
}

HALSTATUS HSLKSTSetTVProcAmp(BOARDHANDLE* h, TVPROCAMP* values, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  if (mask == 0) mask = kMaskAll;
  if (IsQuadBoard(h)) return HSLCHRSetTVProcAmp(h, values, mask);
  const uint8_t kind = TvEncoderKind(h);
  if (kind != kEncoderKindA && kind != kEncoderKindB) return h->status;
  TVPROCAMP v = *values;
  uint32_t* stored = h->oTvProcAmp.aulValue;
  const VLNFUNCTIONS* tve = h->pVLNFunctions;
  auto store = [&](unsigned k) {
    if (!HalFailed(h->status)) stored[k] = v.aulValue[k];
  };
  if (mask & kMaskFlags) {
    tve->SetDotCrawlFreeze(h, &v);
    tve->SetOutputBW(h, &v);
    store(kProcAmpFlags);
  }
  if (mask & kMaskDeflicker) store(kProcAmpDeflicker);
  if (mask & kMaskSaturation) {
    tve->SetSaturation(h, &v);
    store(kProcAmpSaturation);
  }
  if (mask & kMaskHue) {
    tve->SetHue(h, &v);
    store(kProcAmpHue);
  }
  if (mask & (kMaskBrightness | kMaskContrast)) {
    if (mask == kMaskBrightness) v.aulValue[kProcAmpContrast] = stored[kProcAmpContrast];
    if (mask == kMaskContrast) v.aulValue[kProcAmpBrightness] = stored[kProcAmpBrightness];
    tve->SetBrightness(h, &v);
    store(kProcAmpBrightness);
    store(kProcAmpContrast);
  }
  store(kProcAmpBlackTrim);
  store(kProcAmpWhiteTrim);
  return h->status;
}
