// Mode validation and bandwidth.
#include "hwsharing/outputs/mode_validate.h"

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/outputs/mode_set.h"
#include "hwsharing/outputs/tv_state.h"

namespace {

constexpr uint32_t kTvBits = kOutTv0 | kOutTv1 | kOutTv2 | kOutTv3;
constexpr uint32_t kAnalogBits = kOutAnalog0 | kOutAnalog1 | kOutAnalog2 | kOutAnalog3;
constexpr uint32_t kAnalogOf[4] = {kOutAnalog0, kOutAnalog1, kOutAnalog2, kOutAnalog3};
constexpr uint32_t kDigitalOf[4] = {kOutDigital0, kOutDigital1, kOutDigital2, kOutDigital3};
constexpr uint32_t kTvOf[4] = {kOutTv0, kOutTv1, kOutTv2, kOutTv3};
constexpr uint32_t kFourthOf[4] = {kOutFourth0, kOutFourth1, kOutFourth2, kOutFourth3};

// Availability bits of the output-capability word, per output.
struct OutputCaps {
  uint32_t analog, digital, tv, fourth;
};
constexpr OutputCaps kCaps[4] = {
    {0x1, 0x4, 0x400, 0x40},
    {0x2, 0x200000, 0x8, 0x80},
    {0x800000, 0x100, 0x800, 0x4000},
    {0x1000000, 0x200, 0x1000, 0x8000},
};
constexpr uint32_t kCapsHalvingFirst = 0x20000000;
constexpr uint32_t kCapsHalvingSecond = 0x40000000;
constexpr uint32_t kNoFormat = 0xFFFFFFFF;
constexpr uint8_t kConnectorAnyDigital = 0xA;
constexpr uint32_t kDualDigitalMaxKHz = 65000;
constexpr uint32_t kMaxPitch = 8160;
constexpr uint32_t kLimitUnitKHz = 4000;
constexpr uint32_t kMaxTotal = 4096;
constexpr uint8_t kSubTypeStandard = 37;

constexpr uint32_t kSignalNoAnalog = 0x2000;
constexpr uint32_t kSignalFieldA = 0x8000;
constexpr uint32_t kSignalFieldB = 0x10000 | 0x20000;

bool EarlyRevision(const BOARDHANDLE* h) {
  return h->usDeviceId == kDeviceKestrion1 && h->ulRevision <= 1;
}

bool KnownFormat(uint32_t bpp) {
  switch (bpp) {
    case 8: case 15: case 16: case 32: case 0x40000: case 0xB0000: case 0xC0000: return true;
    default: return false;
  }
}

bool ZoomFactor(uint32_t f) { return f == 1 || f == 2 || f == 4; }

bool HalvingFormat(uint32_t f) {
  switch (f) {
    case 4: case 5: case 6: case 7: case 8: case 9: case 19: case 20: case 22: case 24: case 25:
    case 26: return true;
    default: return false;
  }
}

// The first and second digital outputs (D0, D1): outputs 1 and 2 on twin
// boards, 0 and 1 elsewhere; each may run a halving format.
uint32_t FirstDigitalOutput(const BOARDHANDLE* h) { return IsTwinBoard(h) ? 1 : 0; }
bool HalvesFirst(const BOARDHANDLE* h, const MODEINFO& m) {
  const uint32_t o = FirstDigitalOutput(h);
  return (m.flOutput & kDigitalOf[o]) && (h->ulOutputCaps & kCapsHalvingFirst) &&
         HalvingFormat(h->aulDigitalOutputFormat[o]);
}
bool HalvesSecond(const BOARDHANDLE* h, const MODEINFO& m) {
  const uint32_t o = FirstDigitalOutput(h) + 1;
  return (m.flOutput & kDigitalOf[o]) && (h->ulOutputCaps & kCapsHalvingSecond) &&
         HalvingFormat(h->aulDigitalOutputFormat[o]);
}

// Step 6 of the mode check: the outputs the board has.
void CheckAvailability(BOARDHANDLE* h, const MODEINFO& m) {
  const uint32_t w = m.flOutput;
  const uint32_t caps = h->ulOutputCaps;
  if ((w & kOutDigital1) && !(caps & kCaps[1].digital)) {
    bool exception = false;
    for (size_t i = 0; i < 4; ++i)
      exception |= (h->oPins.aucData[kPinsConnectorCodes + i] & 0x3F) == kConnectorAnyDigital;
    const uint32_t f1 = h->aulDigitalOutputFormat[1];
    exception |= f1 == 16 || f1 == 17;
    if (!exception) SetError(h, kErrModeOutput);
    return;
  }
  for (uint32_t n = 0; n < 4; ++n) {
    const OutputCaps& c = kCaps[n];
    if (((w & kAnalogOf[n]) && !(caps & c.analog)) || ((w & kDigitalOf[n]) && !(caps & c.digital)) ||
        ((w & kTvOf[n]) && !(caps & c.tv)) || ((w & kFourthOf[n]) && !(caps & c.fourth))) {
      SetError(h, kErrModeOutput);
      return;
    }
  }
  for (uint32_t n = 0; n < 4; ++n)
    if ((w & kDigitalOf[n]) && h->aulDigitalOutputFormat[n] == kNoFormat) SetError(h, kErrModeOutput);
}

// A limit byte L (units of 4,000 kHz) refuses the clock when L < K.
void CheckLimit(BOARDHANDLE* h, uint32_t limit, uint32_t k) {
  if (limit < k) SetError(h, kErrPixelClockLimit);
}
uint32_t Limit(const BOARDHANDLE* h, size_t byte) { return h->oPins.aucData[byte]; }

// Which outputs feed each of the four digital paths (limit bytes 156-159)
// on the quad boards, without and with all four DVI transmitters.
constexpr uint32_t kQuadPaths[2][4] = {
    {kOutDigital0 | kOutAnalog0 | kOutTv0, kOutDigital1 | kOutAnalog1 | kOutTv1,
     kOutDigital2 | kOutAnalog2 | kOutTv2, kOutDigital3 | kOutAnalog3 | kOutTv3},
    {kOutDigital2 | kOutAnalog2, kOutDigital3 | kOutAnalog3 | kOutTv1,
     kOutDigital0 | kOutAnalog0 | kOutTv2, kOutDigital1 | kOutAnalog1 | kOutTv3},
};

void CheckDigitalLimits(BOARDHANDLE* h, const MODEINFO& m, uint32_t k) {
  const uint32_t w = m.flOutput;
  bool dual = false, skipDualFormat = false;
  if (DualLinkCondition(h)) {
    if (m.ulPixClock > kDualLinkKHz)
      dual = true;
    else
      skipDualFormat = true;
  }
  if (!dual && !skipDualFormat && (h->ulOutputCaps & kEnableDualLink0) &&
      h->aulDigitalOutputFormat[0] == 2 && m.ulPixClock > kDualLinkKHz && (w & kOutDigital0))
    dual = true;
  if (!dual && (HalvesFirst(h, m) || HalvesSecond(h, m))) dual = true;
  if (dual) {
    CheckLimit(h, Limit(h, 158) + Limit(h, 159), k);
    return;
  }
  const bool quad = IsQuadBoard(h);
  const bool twin = IsTwinBoard(h);
  const bool si4 = AllFourTransmitters(h);
  if (!quad && !twin) {
    if (w & kOutDigital0) CheckLimit(h, Limit(h, 158), k);
    if (w & kOutDigital1) CheckLimit(h, Limit(h, 159), k);
    return;
  }
  if (quad) {
    for (uint32_t p = 0; p < 4; ++p)
      if (w & kQuadPaths[si4 ? 1 : 0][p]) CheckLimit(h, Limit(h, 156 + p), k);
  } else if (!si4) {
    if (w & (kOutDigital2 | kOutAnalog2)) CheckLimit(h, Limit(h, 158), k);
    if (w & (kOutDigital1 | kOutAnalog1)) CheckLimit(h, Limit(h, 157), k);
  } else {
    if (w & (kOutDigital2 | kOutAnalog2)) CheckLimit(h, Limit(h, 158), k);
    if (w & kOutDigital3) CheckLimit(h, Limit(h, 157), k);
    if (w & kOutDigital1) CheckLimit(h, Limit(h, 158), k);
    if (w & kOutDigital0) CheckLimit(h, Limit(h, 159), k);
  }
  if ((w & kOutAnalog3) && PinsCemCode(h) == kSubTypeStandard) CheckLimit(h, Limit(h, 157), k);
}

// The expansion-module path: boards whose wiring sends the mode through the
// module's FPGAs.
bool ThroughExpansionModule(BOARDHANDLE* h, const MODEINFO& m) {
  static constexpr uint32_t kTypes[] = {2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21};
  bool listed = false;
  for (uint32_t t : kTypes) listed |= BoardType(h) == t;
  return listed && MultiOutputFlag(h) != 0 && PinsCemCode(h) != kSubTypeStandard &&
         HSLKSTModeUsesCEMFpga(h, &m);
}

// Step 8: the timing the controller would run.
void Measure(BOARDHANDLE* h, const MODEINFO& m) {
  uint32_t hv[6] = {}, vv[6] = {};
  HSLKSTComputeIntermediateVidParm(h, kVidParmHorizontal, &m, &hv[0], &hv[1], &hv[2], &hv[3],
                                   &hv[4], &hv[5]);
  HSLKSTComputeIntermediateVidParm(h, kVidParmVertical, &m, &vv[0], &vv[1], &vv[2], &vv[3],
                                   &vv[4], &vv[5]);
  if (HalFailed(h->status)) return;
  const uint32_t ht = hv[0], vt = vv[0];
  // Totals of 0 come from records without timing: refused before any
  // division; the refresh is computed in 64 bits.
  if (ht == 0 || vt == 0 || ht > kMaxTotal || vt > kMaxTotal) {
    SetError(h, kErrVideoParameters);
    return;
  }
  const uint64_t refresh = uint64_t{m.ulPixClock} * 1000 / (uint64_t{ht} * vt);
  const uint32_t horizontalRate = m.ulPixClock / ht;
  bool odd = false;
  for (uint32_t v : hv) odd |= (v & 1) != 0;
  if (refresh == 0 || horizontalRate == 0 || odd) SetError(h, kErrVideoParameters);
}

}  // namespace

HALSTATUS HSLKSTValidateMode(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t bpp = mode->ulBpp;
  if (!KnownFormat(bpp)) SetError(h, kErrModeFormat);
  if (bpp == 8 && (mode->flOutput & kOutSecondController)) SetError(h, kErrModeFormat);
  if (EarlyRevision(h) && bpp != 32) SetError(h, kErrModeFormat);
  if ((mode->flOutput & kOutModule1) && (mode->ulDispWidth < 640 || mode->ulDispHeight < 350))
    SetError(h, kErrModeTooSmall);
  const uint32_t zoom = mode->ulZoom;
  if (!ZoomFactor(zoom & 0xFFFF)) SetError(h, kErrModeZoom);
  if (!ZoomFactor(zoom < 0x10000 ? zoom & 0xFFFF : zoom >> 16)) SetError(h, kErrModeZoom);
  if (EarlyRevision(h) && zoom != 1) SetError(h, kErrModeZoom);
  if (PinsVersion(h) > kPinsVersion604) CheckAvailability(h, *mode);
  // The pitch is computed on a copy of the status: a failure above must not
  // stop the remaining checks.
  const HALSTATUS before = h->status;
  h->status = kHalOk;
  HSLKSTComputePitch(h, mode);
  const HALSTATUS pitch = h->status;
  h->status = before;
  SetError(h, pitch);
  if (mode->ulFBPitch > kMaxPitch) SetError(h, kErrModePitch);
  if (PinsVersion(h) > kPinsVersion60B &&
      (h->oPins.aucData[kPinsDigitalFlags] & kPinsDigitalDetune) &&
      (mode->flOutput & kOutDigital0) && (mode->flOutput & kOutDigital1) &&
      mode->ulPixClock > kDualDigitalMaxKHz)
    SetError(h, kErrModeOutput);
  return h->status;
}

HALSTATUS HSLKSTValidateVideoParameters(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t w = mode->flOutput;
  const uint32_t signal = mode->flSignalMode;
  const uint32_t k = mode->ulPixClock / kLimitUnitKHz;
  if (RecordInterlaced(*mode) &&
      (EarlyRevision(h) || ((w & kOutSecondController) && !Tv1OnController3(*mode))))
    SetError(h, kErrVideoParameters);
  if ((signal & kSignalNoAnalog) && (w & kAnalogBits)) SetError(h, kErrVideoParameters);
  if ((signal & kSignalDoubledTiming) && !HalvesFirst(h, *mode) && !HalvesSecond(h, *mode))
    SetError(h, kErrVideoParameters);
  if ((signal & kSignalFieldA) && (signal & kSignalFieldB)) SetError(h, kErrVideoParameters);
  for (uint32_t n = 0; n < 4; ++n)
    if (w & kAnalogOf[n]) CheckLimit(h, Limit(h, kPinsOutputMaxClock + n), k);
  CheckDigitalLimits(h, *mode, k);
  if (ThroughExpansionModule(h, *mode)) {
    MODEINFO copy = *mode;
    uint8_t fpgaMode = 0;
    HSLKSTGetFpgaMode(h, &copy, nullptr, &fpgaMode, 0);
    // The expansion module has limits of its own: what was found so far is
    // forgotten.
    h->status = kHalOk;
    if (fpgaMode != 3 && RecordInterlaced(*mode)) {
      SetError(h, kErrVideoParameters);
    } else {
      MODEINFO scratch = *mode, translated = *mode;
      HSLKSTTranslateFPGAVideoParameters(h, mode, &scratch, &translated);
      Measure(h, translated);
    }
  } else {
    if (signal & kSignalTripledClock) mode->ulPixClock *= 3;
    Measure(h, *mode);
  }
  if (AllEncodersQuadTv(h) && (w & kTvBits)) HSLCHRValidateTVAdjustParam(h, mode);
  return HSLKSTSetModeCaps(h, mode);
}

HALSTATUS HSLKSTGetModeBandwidth(BOARDHANDLE* h, MODEINFO* mode, uint32_t* bandwidth) {
  if (HalFailed(h->status)) return h->status;
  *bandwidth = 0;
  if (mode->flOutput & kOutSecondController) return h->status;
  uint32_t bytes = 0;
  switch (mode->ulBpp) {
    case 8: bytes = 1; break;
    case 15: case 16: bytes = 2; break;
    case 32: case 0xC0000: bytes = 4; break;
    default: return h->status;
  }
  uint64_t base = uint64_t{mode->ulPixClock} * bytes;
  if (mode->ulPixClock > 499999) {
    base /= 2;
  } else {
    if (HalvesFirst(h, *mode)) base /= 2;
    if (HalvesSecond(h, *mode)) base /= 2;
  }
  *bandwidth = static_cast<uint32_t>(base);
  return h->status;
}
