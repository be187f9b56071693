#include "hwsharing/cem_fpga.h"

#include "hwsharing/boardhandle.h"
#include "hwsharing/capabilities.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/output_wiring.h"

namespace {

bool Failed(const BOARDHANDLE* h) { return HalFailed(h->status); }

constexpr size_t kPinsFpgaClockLimit = 422;  // MHz above 255
constexpr uint32_t kOutputHalfWidth = 0x4000;       // twin boards: half the width per FPGA
constexpr uint32_t kOutputHalvedWidth = 0x200000;
constexpr uint32_t kOutputHalvedClock = 0x100000;
constexpr uint32_t kOutputTripleClock = 0x40000;
constexpr uint32_t kOutputSplit = 0x200;
constexpr uint32_t kOutputCapsDualLink0 = 0x20;  // output 0 in DVI dual link
constexpr uint32_t kDigitalFormatDualLink = 2;
constexpr uint32_t kBackPorchRetry = 4;
constexpr uint32_t kRevisionScaledModes = 11;    // modes 4 and 5, negative shifts: above
constexpr uint32_t kRevisionPositiveShift = 9;
constexpr uint8_t kSplitOrder[] = {kFpgaModeSplit, kFpgaModeSplit32, kFpgaModeSplit74,
                                   kFpgaModeSplit158};

bool TwinBoard(const BOARDWIRING& b) {
  return b.multiOutput && (b.boardType == 10 || b.boardType == 16);
}
bool ScaledVariant(const BOARDHANDLE* h) {
  const uint16_t variant = CemModuleCode(h);
  return variant == 32 || variant == 38;
}
uint32_t Revision7(const BOARDHANDLE* h) { return h->oCem.usControlByte & 0x7F; }

bool FpgaPresent(const BOARDHANDLE* h) {
  return h->aFpga[0].ulPresent != 0 || h->aFpga[1].ulPresent != 0;
}

// Output 0 runs dual link: the dual-link flag and format 2 on output 0.
bool Output0DualLink(const BOARDHANDLE* h) {
  return (h->ulOutputCaps & kOutputCapsDualLink0) != 0 &&
         h->aulDigitalOutputFormat[0] == kDigitalFormatDualLink;
}

bool FeaturePresent(const BOARDHANDLE* h, uint32_t m, const MODEINFO* r, uint32_t shift) {
  if (r->ulPixClock > kFpgaSingleLinkMaxKHz) {
    if (BoardWiringOf(h).fpgaFlag) {
      if (m != kFpgaModeSplit) return false;
    } else if (!((r->flOutput & kOutDigital0) && Output0DualLink(h))) {
      return false;
    }
  }
  if ((m == kFpgaModeSplit74 || m == kFpgaModeSplit158) &&
      !(ScaledVariant(h) && Revision7(h) > kRevisionScaledModes))
    return false;
  if (shift & kFpgaShiftMagnitude) {
    const uint32_t limit = (shift & kFpgaShiftNegative) ? kRevisionScaledModes : kRevisionPositiveShift;
    if (Revision7(h) <= limit) return false;
  }
  return true;
}

HALSTATUS VideoParameters(BOARDHANDLE* h, uint32_t m, MODEINFO* r, MODEINFO* q, MODEINFO* o) {
  *o = *q;
  if (!HSLKSTModeUsesCEMFpga(h, r)) return h->status;
  const uint32_t shift = FpgaShiftOf(r);
  if (!FeaturePresent(h, m, r, shift)) return SetError(h, kErrFpgaTiming);
  if (FpgaModeParams(m) == nullptr) return h->status;
  MODEINFO out{};
  const bool ok = FpgaTiming(m, *q, shift, h->oPins.aucData[kPinsFpgaClockLimit], &out);
  if (!ok) return SetError(h, kErrFpgaTiming);
  *o = out;
  return h->status;
}

}  // namespace

uint32_t FpgaShiftOf(const MODEINFO*) { return 0; }

bool HSLKSTModeUsesCEMFpga(BOARDHANDLE* h, const MODEINFO* r) {
  return ModeUsesCemFpga(BoardWiringOf(h), r->flOutput);
}

HALSTATUS HSLKSTGetFpgaMode(BOARDHANDLE* h, MODEINFO* r, MODEINFO* adjustedOut, uint8_t* mode,
                            uint32_t copy) {
  if (Failed(h)) return h->status;
  *mode = kFpgaModeUnused;
  MODEINFO q = *r;
  if (!HSLKSTModeUsesCEMFpga(h, r)) return h->status;
  const BOARDWIRING b = BoardWiringOf(h);
  const bool halfWidth = TwinBoard(b) && (r->flOutput & kOutputHalfWidth);
  if (halfWidth) {
    q.ulDispWidth /= 2;
    q.ulDeskWidth /= 2;
    q.flOutput |= kOutputHalvedWidth;
  }
  const bool dual = b.multiOutput && FpgaPresent(h) && b.fpgaFlag &&
                    r->ulPixClock > kFpgaSingleLinkMaxKHz;
  if (dual) {
    q.ulDispWidth /= 2;
    q.ulDeskWidth /= 2;
    q.ulHFPorch /= 2;
    q.ulHSync /= 2;
    q.ulHBPorch /= 2;
    q.ulPixClock /= 2;
    q.flOutput |= kOutputHalvedClock;
  }
  if (TwinBoard(b) && (r->flOutput & kOutputTripleClock)) q.ulPixClock *= 3;

  uint8_t found = kFpgaModeNone;
  if (dual || (r->flOutput & kOutputSplit) || halfWidth) {
    for (uint8_t m : kSplitOrder) {
      MODEINFO out{};
      const HALSTATUS before = h->status;
      HSLKSTGetFPGAVideoParameters(h, m, r, &q, &out);
      if (!Failed(h)) {
        found = m;
        break;
      }
      h->status = before;  // a failed try is no error of the search
      if (m == kFpgaModeSplit32 && !(ScaledVariant(h) && Revision7(h) > kRevisionScaledModes)) {
        q.ulHBPorch += kBackPorchRetry;
        HSLKSTGetFPGAVideoParameters(h, m, r, &q, &out);
        if (!Failed(h)) {
          found = m;
          break;
        }
        h->status = before;
        q.ulHBPorch -= kBackPorchRetry;
      }
    }
  } else {
    found = q.ulPixClock < kFpgaSlowClockKHz ? kFpgaModeSlow : kFpgaModePassThrough;
  }
  *mode = found;
  if (found == kFpgaModeNone) return SetError(h, kErrFpgaNoMode);
  if (copy == 1 && adjustedOut != nullptr) *adjustedOut = q;
  return h->status;
}

HALSTATUS HSLKSTGetFPGAVideoParameters(BOARDHANDLE* h, uint32_t m, MODEINFO* r, MODEINFO* q,
                                       MODEINFO* o) {
  if (Failed(h)) return h->status;
  return VideoParameters(h, m, r, q, o);
}

HALSTATUS HSLKSTValidateFPGAFeaturePresence(BOARDHANDLE* h, uint32_t m, MODEINFO* r) {
  if (Failed(h)) return h->status;
  if (!FeaturePresent(h, m, r, FpgaShiftOf(r))) SetError(h, kErrFpgaTiming);
  return h->status;
}

HALSTATUS HSLKSTTranslateFPGAVideoParameters(BOARDHANDLE* h, MODEINFO* r, MODEINFO* scratch,
                                             MODEINFO* out) {
  if (Failed(h)) return h->status;
  *out = *r;
  if (!HSLKSTModeUsesCEMFpga(h, r)) return h->status;
  uint8_t mode = kFpgaModeUnused;
  HSLKSTGetFpgaMode(h, r, scratch, &mode, 1);
  HSLKSTGetFPGAVideoParameters(h, mode, r, scratch, out);
  return h->status;
}

HALSTATUS HSLKSTGetCrtcPixelClk(BOARDHANDLE* h, uint32_t* clock, uint32_t controller) {
  if (Failed(h)) return h->status;
  if (controller > 1) return SetError(h, kErrFpgaController);
  MODEINFO* r = &h->aModeInfo[controller];
  if (!IsQuadBoard(h)) {
    *clock = r->ulPixClock;
    return h->status;
  }
  MODEINFO scratch{}, out{};
  HSLKSTTranslateFPGAVideoParameters(h, r, &scratch, &out);
  if (!Failed(h)) *clock = out.ulPixClock;
  return h->status;
}

