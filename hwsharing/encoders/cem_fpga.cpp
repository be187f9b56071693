#include "hwsharing/encoders/cem_fpga.h"

#include <initializer_list>

#include "core/board_description.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/output_wiring.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/cem_miscio.h"

namespace {
constexpr uint32_t kOutputHalfWidth = 0x4000;       // twin boards: half the width per FPGA
constexpr uint32_t kOutputHalvedWidth = 0x200000;
constexpr uint32_t kOutputHalvedClock = 0x100000;
constexpr uint32_t kOutputTripleClock = 0x40000;
constexpr uint32_t kOutputSplit = 0x200;
constexpr uint32_t kSignalTripleClock = 0x40000;
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
uint32_t RevisionLowByte(const BOARDHANDLE* h) { return h->oCem.usControlByte & 0xFF; }

bool FpgaPresent(const BOARDHANDLE* h) {
  return h->aFpga[0].ulPresent != 0 || h->aFpga[1].ulPresent != 0;
}

// Output 0 runs dual link: the dual-link flag and format 2 on output 0.
bool Output0DualLink(const BOARDHANDLE* h) {
  return (h->ulOutputCaps & kOutputCapsDualLink0) != 0 &&
         h->aulDigitalOutputFormat[0] == kDigitalFormatDualLink;
}

// A record that needs both links: above the single-link clock through the
// FPGAs, or on output 0 of a board that runs it dual link.
bool DualLinkRecord(const BOARDHANDLE* h, const MODEINFO* r) {
  if (r->ulPixClock <= kFpgaSingleLinkMaxKHz) return false;
  if (BoardWiringOf(h).fpgaFlag) return true;
  return (r->flOutput & kOutDigital0) && Output0DualLink(h);
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

// The FPGA record at an I2C address, or -1.
int FpgaIndexAt(const BOARDHANDLE* h, uint32_t address) {
  for (int i = 0; i < 2; ++i)
    if (h->aFpga[i].ulPresent != 0 && h->aFpga[i].ulAddress == address) return i;
  return -1;
}


void WriteProgram(BOARDHANDLE* h, uint32_t fpga, const FPGAPROGRAM& p) {
  const uint32_t count = p.ucCount <= kFpgaProgramMaxPairs ? p.ucCount : kFpgaProgramMaxPairs;
  for (uint32_t i = 0; i < count && !HalFailed(h->status); ++i) {
    uint8_t value = p.aucPair[i][1];
    HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, p.aucPair[i][0], &value);
  }
}

bool FormatIn(uint32_t format, std::initializer_list<uint32_t> set) {
  for (uint32_t f : set)
    if (f == format) return true;
  return false;
}

// Whether a twin board's program carries the digital output format block.
bool FormatBlock(const BOARDHANDLE* h, const MODEINFO* r) {
  const BOARDWIRING b = BoardWiringOf(h);
  if (!TwinBoard(b)) return false;
  if (!b.allTransmitters) return true;
  const uint32_t* f = h->aulDigitalOutputFormat;
  const bool out1 = (r->flOutput & kOutDigital1) && (h->ulOutputCaps & kOutputCapsDigitalRoute0) &&
                    FormatIn(f[1], {4, 5, 6, 7, 8, 9, 19, 24, 25, 26});
  const bool out2 = (r->flOutput & kOutDigital2) && (h->ulOutputCaps & kOutputCapsDigitalRoute1) &&
                    FormatIn(f[2], {4, 5, 6, 7, 8, 9, 19, 20, 22, 24, 25, 26});
  return out1 || out2;
}

}  // namespace

uint32_t FpgaShiftOf(const MODEINFO*) { return 0; }

bool HSLKSTOutputsOnFpgaA(const BOARDHANDLE* h, uint32_t flOutput) {
  const uint32_t named = FpgasForOutputs(BoardWiringOf(h), h->oCem.ulCntlMethod, flOutput);
  return (named & (PrimaryFpgaAddress(h) == kFpgaAddress1 ? kFpgaE2 : kFpgaE0)) != 0;
}

bool HSLKSTOutputsOnFpgaB(const BOARDHANDLE* h, uint32_t flOutput) {
  const uint32_t named = FpgasForOutputs(BoardWiringOf(h), h->oCem.ulCntlMethod, flOutput);
  return (named & (PrimaryFpgaAddress(h) == kFpgaAddress1 ? kFpgaE0 : kFpgaE2)) != 0;
}

uint32_t PrimaryFpgaAddress(const BOARDHANDLE* h) {
  const uint32_t m = h->oCem.ulCntlMethod;
  return (m == 3 || m == 8) ? kFpgaAddress1 : kFpgaAddress0;
}

bool HSLKSTModeUsesCEMFpga(BOARDHANDLE* h, const MODEINFO* r) {
  return ModeUsesCemFpga(BoardWiringOf(h), r->flOutput);
}

HALSTATUS HSLKSTGetFpgaMode(BOARDHANDLE* h, MODEINFO* r, MODEINFO* adjustedOut, uint8_t* mode,
                            uint32_t copy) {
  if (HalFailed(h->status)) return h->status;
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
      if (!HalFailed(h->status)) {
        found = m;
        break;
      }
      h->status = before;  // a failed try is no error of the search
      if (m == kFpgaModeSplit32 && !(ScaledVariant(h) && Revision7(h) > kRevisionScaledModes)) {
        q.ulHBPorch += kBackPorchRetry;
        HSLKSTGetFPGAVideoParameters(h, m, r, &q, &out);
        if (!HalFailed(h->status)) {
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
  if (HalFailed(h->status)) return h->status;
  return VideoParameters(h, m, r, q, o);
}

HALSTATUS HSLKSTValidateFPGAFeaturePresence(BOARDHANDLE* h, uint32_t m, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  if (!FeaturePresent(h, m, r, FpgaShiftOf(r))) SetError(h, kErrFpgaTiming);
  return h->status;
}

HALSTATUS HSLKSTTranslateFPGAVideoParameters(BOARDHANDLE* h, MODEINFO* r, MODEINFO* scratch,
                                             MODEINFO* out) {
  if (HalFailed(h->status)) return h->status;
  *out = *r;
  if (!HSLKSTModeUsesCEMFpga(h, r)) return h->status;
  uint8_t mode = kFpgaModeUnused;
  HSLKSTGetFpgaMode(h, r, scratch, &mode, 1);
  HSLKSTGetFPGAVideoParameters(h, mode, r, scratch, out);
  return h->status;
}

HALSTATUS HSLKSTGetCrtcPixelClk(BOARDHANDLE* h, uint32_t* clock, uint32_t controller) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 1) return SetError(h, kErrFpgaController);
  MODEINFO* r = &h->aModeInfo[controller];
  if (HSLKSTBoardWithoutCEMFpga(h)) {
    *clock = r->ulPixClock;
    return h->status;
  }
  MODEINFO scratch{}, out{};
  HSLKSTTranslateFPGAVideoParameters(h, r, &scratch, &out);
  if (!HalFailed(h->status)) *clock = out.ulPixClock;
  return h->status;
}

HALSTATUS HSLKSTApplyFPGAReset(BOARDHANDLE* h, MODEINFO* r) {
  if (HalFailed(h->status)) return h->status;
  uint8_t mode = kFpgaModeUnused;
  HSLKSTGetFpgaMode(h, &h->oWorkingMode, r, &mode, 1);
  if (HalFailed(h->status)) return h->status;
  if (!ChrAllFourVerB(h) || mode == kFpgaModeSlow || !(r->flOutput & kChrTvOutputs))
    return h->status;
  const bool primary = HSLKSTOutputsOnFpgaA(h, r->flOutput);
  const bool other = HSLKSTOutputsOnFpgaB(h, r->flOutput);
  // Side A addresses FPGA record 0, side B record 1.
  for (uint32_t fpga = 0; fpga < 2; ++fpga) {
    if (!(fpga == 0 ? primary : other)) continue;
    for (uint8_t v : {uint8_t(0), uint8_t(1)}) {
      uint8_t byte = v;
      HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaRegControl, &byte);
    }
  }
  return h->status;
}

HALSTATUS HSLKSTGetCEMData_2FPgasI2C_Enable(BOARDHANDLE* h, MODEINFO* r, FPGAPROGRAM* program) {
  if (HalFailed(h->status)) return h->status;
  MODEINFO* working = &h->oWorkingMode;
  MODEINFO adjusted = *working;
  uint8_t mode = kFpgaModeUnused;
  HSLKSTGetFpgaMode(h, working, &adjusted, &mode, 1);
  if (HalFailed(h->status)) return h->status;
  uint32_t format = 0, index = 0;
  HSLKSTGetDigitalOutputFormat(h, r, &format, &index);
  const BOARDWIRING b = BoardWiringOf(h);
  const bool pairFour = TwinBoard(b) && b.allTransmitters;
  FPGAPROGRAMINPUT in{};
  in.fpgaMode = mode;
  in.adjusted = &adjusted;
  in.shift = FpgaShiftOf(working);
  in.tripleClock = (r->flSignalMode & kSignalTripleClock) != 0;
  in.formatBlock = FormatBlock(h, r);
  in.digitalFormat = format;
  in.dual = DualLinkRecord(h, working);
  in.pairRevAbove9 = pairFour && RevisionLowByte(h) > 9;
  in.pairRevAbove10 = pairFour && RevisionLowByte(h) > 10;
  BuildFpgaEnableProgram(in, program);
  return h->status;
}

HALSTATUS HSLKSTGetCEMData_2FPgasI2C_Disable(BOARDHANDLE* h, MODEINFO*, FPGAPROGRAM* program) {
  if (HalFailed(h->status)) return h->status;
  BuildFpgaDisableProgram(program);
  return h->status;
}

HALSTATUS HSLKSTSetCEMData_2FPgasI2C(BOARDHANDLE* h, MODEINFO* r, FPGAPROGRAM* program) {
  if (HalFailed(h->status)) return h->status;
  const bool primary = HSLKSTOutputsOnFpgaA(h, r->flOutput);
  const bool other = HSLKSTOutputsOnFpgaB(h, r->flOutput);
  const uint32_t primaryAddress = PrimaryFpgaAddress(h);
  const uint32_t otherAddress = primaryAddress == kFpgaAddress1 ? kFpgaAddress0 : kFpgaAddress1;
  if (primary) {
    const int i = FpgaIndexAt(h, primaryAddress);
    if (i >= 0) WriteProgram(h, static_cast<uint32_t>(i), *program);
  }
  if (other) {
    const int i = FpgaIndexAt(h, otherAddress);
    if (i >= 0) {
      WriteProgram(h, static_cast<uint32_t>(i), *program);
      HSLKstCEMSpInitMiscIO(h);
    }
  }
  return h->status;
}

HALSTATUS HSLKSTEnableCEM_2FPgasI2C(BOARDHANDLE* h, MODEINFO* r, uint32_t enable) {
  if (HalFailed(h->status)) return h->status;
  FPGAPROGRAM program{};
  if (enable)
    HSLKSTGetCEMData_2FPgasI2C_Enable(h, r, &program);
  else
    HSLKSTGetCEMData_2FPgasI2C_Disable(h, r, &program);
  return HSLKSTSetCEMData_2FPgasI2C(h, r, &program);
}
