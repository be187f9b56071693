#include "hwsharing/encoders/cem_module.h"

#include "core/board_description.h"
#include "core/regs/chrontel.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/outputs/cem_miscio.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/chip/devio.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/encoders/output_wiring.h"
#include "hwsharing/chip/reg_access.h"

namespace {

constexpr uint32_t kCemCodeEmbeddedSync = 37;
constexpr uint8_t kFpgaEmbeddedSyncBit = 0x08;  // register 8
constexpr uint32_t kCemWaitUnits = 10;
constexpr uint32_t kCemParallelSettleUnits = 100000;

// The three-line control borrows the first DAC's sync bits: both syncs
// stopped while it runs, the horizontal sync's polarity as its clock and
// the vertical's as its data.
constexpr uint32_t kDacSyncLines = kDacOff;
constexpr uint32_t kDacSyncClock = kDacHsyncNegative;
constexpr uint32_t kDacSyncData = kDacVsyncNegative;
constexpr uint32_t kDacSyncClear = kDacSyncClock | kDacSyncData;
constexpr uint32_t kDvoAll = 0x7;

// ---- Misc-IO lines ----------------------------------------------------------------

void Drive(BOARDHANDLE* h, uint32_t kind, uint32_t line, uint32_t level) {
  uint8_t value = static_cast<uint8_t>(level);
  uint32_t done = 0;
  HSLKSTAccessMiscIo(h, kind, line, 0, &value, &done);
}
void Release(BOARDHANDLE* h, uint32_t kind, uint32_t line) {
  uint8_t value = 0;
  uint32_t done = 0;
  HSLKSTAccessMiscIo(h, kind, line, 1, &value, &done);
}
void Wait(BOARDHANDLE* h) { Delay(h, kCemWaitUnits); }

constexpr uint32_t kBoardMiscIoResetLine = 13;

// Passive and active modules: every GPIO line released, then a reset pulse
// on one GPIO line while board line 13 is held low.
void InitWithPulse(BOARDHANDLE* h, uint32_t pulseLine) {
  for (uint32_t line = 0; line <= 7; ++line) Release(h, kMiscIoGpio, line);
  Drive(h, kMiscIoBoardLine, kBoardMiscIoResetLine, 0);
  Wait(h);
  Drive(h, kMiscIoGpio, pulseLine, 1);
  Wait(h);
  Drive(h, kMiscIoGpio, pulseLine, 0);
  Wait(h);
  Release(h, kMiscIoBoardLine, kBoardMiscIoResetLine);
  Wait(h);
}

// ---- Three control lines through encoder GPIOs --------------------------------------

struct LineParams {
  uint32_t formats[2];  // the digital output formats of the row (0 = unused)
  uint32_t s1, s2, d, p, v;
};
constexpr LineParams kLineParams[] = {
    {{1, 2}, 9, 8, 9, 3, 0},    {{4, 7}, 1, 9, 9, 7, 5},    {{5, 8}, 5, 13, 9, 5, 1},
    {{6, 9}, 12, 11, 9, 3, 0},  {{10, 13}, 8, 10, 9, 3, 0}, {{15, 0}, 13, 12, 9, 3, 0},
    {{16, 0}, 9, 8, 6, 3, 0},   {{17, 0}, 9, 8, 8, 3, 0},   {{19, 20}, 15, 8, 9, 3, 0},
    {{22, 0}, 16, 8, 9, 3, 0},  {{23, 0}, 17, 8, 9, 3, 0},  {{25, 0}, 19, 8, 9, 3, 0},
    {{26, 0}, 9, 16, 9, 3, 0},
};
constexpr uint32_t kSerialModuleCodeLimit = 6;  // below: the first serial count

const LineParams* FindLineParams(uint32_t format) {
  for (const LineParams& p : kLineParams)
    if (format != 0 && (p.formats[0] == format || p.formats[1] == format)) return &p;
  return nullptr;
}

// Line i of the three (slot, line) pairs the module record names.
void SetLine(BOARDHANDLE* h, uint32_t i, uint32_t level) {
  uint32_t value = level;
  HSLCHRAccessGPIO(h, 1, h->oCem.aulMethodData[2 * i], h->oCem.aulMethodData[2 * i + 1], &value);
}
// Each line i of `mask` gets bit i of `value`.
void SetControlState(BOARDHANDLE* h, uint32_t mask, uint32_t value) {
  for (uint32_t i = 0; i < 3; ++i)
    if (mask & (1u << i)) SetLine(h, i, (value >> i) & 1);
}
void PulseLine(BOARDHANDLE* h, uint32_t i) {
  SetLine(h, i, 1);
  SetLine(h, i, 0);
}


void SerialLines(BOARDHANDLE* h, uint32_t index, uint32_t n) {
  const uint32_t dvo = RegRead(h, kRegDvoPower);
  if (index <= 1) RegWrite(h, kRegDvoPower, dvo | (1u << index));
  SetControlState(h, 0x7, 0);
  const uint32_t framing = index == 1 ? 0 : 2;
  SetLine(h, framing, 1);
  for (uint32_t i = 0; i < n; ++i) PulseLine(h, 1);
  SetLine(h, framing, 0);
  PulseLine(h, 1);
  RegWrite(h, kRegDvoPower, dvo);
}

void DacSyncSerial(BOARDHANDLE* h, uint32_t n) {
  const uint32_t dvo = RegRead(h, kRegDvoPower);
  RegWrite(h, kRegDvoPower, dvo | kDvoAll);
  uint32_t dac = RegRead(h, kRegDacCtl1);
  auto change = [&](uint32_t set, uint32_t clear) {
    dac = (dac | set) & ~clear;
    RegWrite(h, kRegDacCtl1, dac);
  };
  auto pulse = [&] {
    change(kDacSyncClock, 0);
    change(0, kDacSyncClock);
  };
  change(kDacSyncLines, kDacSyncClear);
  pulse();
  change(kDacSyncData, 0);
  for (uint32_t i = 0; i < n; ++i) pulse();
  change(0, kDacSyncData);
  pulse();
  RegWrite(h, kRegDvoPower, dvo);
}

void ParallelLines(BOARDHANDLE* h, MODEINFO* r, uint32_t p, uint32_t v) {
  const uint32_t code = PinsCemCode(h);
  const uint8_t option = h->oPins.aucData[kPinsCemControlByte];
  const bool shutDown = !(code == 2 && option > 3) && (code < 3 || (code == 3 && option <= 1));
  const uint32_t module = SelectDCModule(r);
  uint8_t saved = 0;
  const uint32_t dvo = RegRead(h, kRegDvoPower);
  if (shutDown)
    HSLKSTShutdownOpositeDVI(h, module, r, &saved);
  else
    RegWrite(h, kRegDvoPower, dvo | kDvoAll);
  SetControlState(h, 0x7, p);
  Delay(h, kCemParallelSettleUnits);
  SetControlState(h, 0x7, v);
  if (shutDown)
    HSLKSTWakeUpOpositeDVI(h, module, r, &saved);
  else
    RegWrite(h, kRegDvoPower, dvo);
}

HALSTATUS ThreeLineControl(BOARDHANDLE* h, MODEINFO* r, uint32_t method) {
  uint32_t format = 0, index = 0;
  HSLKSTGetDigitalOutputFormat(h, r, &format, &index);
  if (HalFailed(h->status)) return h->status;
  const LineParams* p = FindLineParams(format);
  if (p == nullptr) return SetError(h, kErrCemOutputFormat);
  switch (method) {
    case 4: {
      const uint32_t n = (PinsCemCode(h) < kSerialModuleCodeLimit ? p->s1 : p->s2) & 0x1F;
      SerialLines(h, index, n);
      break;
    }
    case 5: DacSyncSerial(h, p->d & 0xF); break;
    default: ParallelLines(h, r, p->p, p->v); break;
  }
  return h->status;
}

// ---- Clock-gating CPLD -------------------------------------------------------------

struct CpldSetting {
  uint32_t codes[2];
  uint8_t x, y;
};
constexpr CpldSetting kCpldSettings[] = {
    {{99, 99}, 0x6A, 7}, {{100, 104}, 0x92, 12}, {{101, 101}, 0x26, 15}, {{102, 105}, 0xCB, 15}};

void CpldControl(BOARDHANDLE* h, MODEINFO* r) {
  uint32_t list[4] = {}, count = 0;
  HSLCHRDetectChrIDs(h, r->flOutput & kChrFourthOutputs, list, &count);
  if (count == 0) return;
  const uint32_t code = static_cast<uint8_t>(r->acTvAdjust[list[0]][kTvAdjustCode]);
  for (const CpldSetting& s : kCpldSettings) {
    if (s.codes[0] != code && s.codes[1] != code) continue;
    const uint8_t values[4] = {0x20, 0x86, s.x, s.y};
    for (uint32_t reg = 0; reg < 4; ++reg) {
      uint8_t byte = values[reg];
      HSLKSTAccessCPLDI2CWrite(h, reg, &byte, 1);
    }
    return;
  }
}

// ---- Dual-link routing --------------------------------------------------------------

bool ExpansionBoardForDualLink(const BOARDHANDLE* h) {
  const BOARDWIRING b = BoardWiringOf(h);
  return b.multiOutput && !b.variant37 &&
         (b.boardType == 13 || b.boardType == 14 || b.boardType == 19 || b.boardType == 21);
}

uint32_t DualLinkFunction(uint32_t output) {
  const uint32_t group = (output == 2 || output == 3) ? 1 : 0;
  return group != 0 ? kCemMiscIoDualLinkB : kCemMiscIoDualLinkA;
}

// ---- Opposite encoder ------------------------------------------------------------------

constexpr uint32_t kFeatureChrontel0 = 1u << 24;
constexpr uint32_t kFeatureChrontel1 = 1u << 25;

// The opposite encoder when it is in use by another controller, else -1.
int OppositeInUse(BOARDHANDLE* h, uint32_t module, const MODEINFO* r) {
  if (!(h->ulFeatures & (kFeatureChrontel0 | kFeatureChrontel1))) return -1;
  const int encoder = OppositeEncoder(BoardWiringOf(h), r->flOutput);
  if (encoder < 0) return -1;
  uint32_t inUse = 0;
  HSLKSTIsModuleCurrentlyInUse(h, encoder == 1 ? kModuleSecondPath : kModuleFirstPath,
                               module, &inUse);
  return inUse != 0 && !HalFailed(h->status) ? encoder : -1;
}

constexpr uint32_t kFlOutputFpga1 = 0x80000000 | 0x100;

}  // namespace

HALSTATUS HSLKSTInitCEM(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (MultiOutputFlag(h) != 0) {
    switch (h->oCem.ulProgMethod) {
      case kCemKindActive: HSLKSTInitCEM_Active(h); break;
      case kCemKindPassive: HSLKSTInitCEM_Passive(h); break;
      case kCemKindCpld: HSLKSTInitCEM_CPLD(h); break;
      default: break;
    }
  }
  return HSLKstCEMSpInitMiscIO(h);
}

HALSTATUS HSLKSTInitCEM_Passive(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  InitWithPulse(h, 7);
  return h->status;
}

HALSTATUS HSLKSTInitCEM_Active(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  InitWithPulse(h, 3);
  return h->status;
}

HALSTATUS HSLKSTInitCEM_CPLD(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  Drive(h, kMiscIoGpio, 8, 1);
  return h->status;
}

HALSTATUS HSLKSTInitCEM_Hybrid(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  Drive(h, kMiscIoGpio, 5, 1);
  Wait(h);
  Drive(h, kMiscIoGpio, 5, 0);
  Wait(h);
  return h->status;
}

HALSTATUS HSLKSTEnableCEM(BOARDHANDLE* h, MODEINFO* r, uint32_t e) {
  if (HalFailed(h->status) || MultiOutputFlag(h) == 0) return h->status;
  const uint32_t method = h->oCem.ulCntlMethod;
  switch (method) {
    case 2: case 3: case 6: case 8: case 9:
      if (PinsCemCode(h) == kCemCodeEmbeddedSync) {
        auto sw = e ? HSLKSTEnableCEMClone3MonoEmbeddedSync : HSLKSTDisableCEMClone3MonoEmbeddedSync;
        if (r->flOutput & 0x2) sw(h, 0);
        if (r->flOutput & 0x4) sw(h, 1);
      } else {
        HSLKSTEnableCEM_2FPgasI2C(h, r, e);
      }
      break;
    case 1: case 4: case 5:
      if (e) ThreeLineControl(h, r, method);
      break;
    case 7: {
      uint32_t cpld = 0;
      HSLCHRUseCPLD(h, r, &cpld);
      if (cpld != 0 && e) CpldControl(h, r);
      break;
    }
    default:
      SetError(h, kErrCemControlMethod);
      break;
  }
  return h->status;
}

HALSTATUS HSLKSTEnableCEMClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t fpga) {
  if (HalFailed(h->status) || PinsCemCode(h) != kCemCodeEmbeddedSync) return h->status;
  uint8_t v = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, kFpgaRegChipSelect, &v);
  v |= kFpgaEmbeddedSyncBit;
  HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaRegChipSelect, &v);
  return h->status;
}

HALSTATUS HSLKSTDisableCEMClone3MonoEmbeddedSync(BOARDHANDLE* h, uint32_t fpga) {
  if (HalFailed(h->status) || PinsCemCode(h) != kCemCodeEmbeddedSync) return h->status;
  uint8_t v = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, kFpgaRegChipSelect, &v);
  v = static_cast<uint8_t>(v & ~kFpgaEmbeddedSyncBit);
  HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaRegChipSelect, &v);
  return h->status;
}

HALSTATUS HSLKSTEnableCEMDualDVI(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status) || !ExpansionBoardForDualLink(h)) return h->status;
  return HSLKstCEMSpSetMiscIO(h, DualLinkFunction(output), 1);
}

HALSTATUS HSLKSTDisableCEMDualDVI(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status) || !ExpansionBoardForDualLink(h)) return h->status;
  return HSLKstCEMSpSetMiscIO(h, DualLinkFunction(output), 0);
}

HALSTATUS HSLKSTEnableCEMDDCSel2(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  return HSLKstCEMSpSetMiscIO(h, kCemMiscIoDdcSel2, 1);
}

HALSTATUS HSLKSTDisableCEMDDCSel2(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  return HSLKstCEMSpSetMiscIO(h, kCemMiscIoDdcSel2, 0);
}

HALSTATUS HSLKSTShutdownOpositeDVI(BOARDHANDLE* h, uint32_t module, MODEINFO* r, uint8_t* saved) {
  if (HalFailed(h->status)) return h->status;
  const int encoder = OppositeInUse(h, module, r);
  if (encoder < 0) return h->status;
  HSLCHRI2CRead(h, encoder, kChrRegReset, saved, 1);
  uint8_t off = static_cast<uint8_t>(*saved & ~kChrResetDataPath);
  HSLCHRI2CWrite(h, encoder, kChrRegReset, &off, 1);
  return h->status;
}

HALSTATUS HSLKSTWakeUpOpositeDVI(BOARDHANDLE* h, uint32_t module, MODEINFO* r, uint8_t* saved) {
  if (HalFailed(h->status)) return h->status;
  const int encoder = OppositeInUse(h, module, r);
  if (encoder < 0) return h->status;
  HSLCHRI2CWrite(h, encoder, kChrRegReset, saved, 1);
  HSLCHRPllCheck(h, encoder, h->aChrontel[encoder].ulData);
  return h->status;
}

HALSTATUS HSLKSTShowCEMData_2FPgasI2C(BOARDHANDLE* h, MODEINFO* r, FPGAPROGRAM* program) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t fpga = (r->flOutput & kFlOutputFpga1) ? 1 : 0;
  program->ucCount = 0;
  for (uint32_t reg = 0; reg < kFpgaProgramMaxPairs && !HalFailed(h->status); ++reg) {
    uint8_t v = 0;
    HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, reg, &v);
    program->aucPair[reg][0] = static_cast<uint8_t>(reg);
    program->aucPair[reg][1] = v;
    program->ucCount = static_cast<uint8_t>(reg + 1);
  }
  return h->status;
}
