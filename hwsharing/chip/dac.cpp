// The integrated DAC.
#include "hwsharing/chip/dac.h"

#include "core/chip_ids.h"

#include <algorithm>

#include "core/regs/dac.h"
#include "core/regs/vga.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/chip/miscio.h"
#include "core/poll.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/chip/vga.h"

namespace {

constexpr uint32_t kPllRetryUnits = 10000;
constexpr uint32_t kSclReleaseWaitUnits = 10;
constexpr uint32_t kExpanderSettleUnits = 500;
constexpr uint32_t kSysVcoMinGapKHz = 600;
constexpr uint32_t kNoDivider = 0xFFFFFFFF;

// The DDC line bits of one port.
struct DdcPort {
  uint32_t port;
  bool expander;
  uint8_t address;  // expander write address; 0: from the cable table (ports 6, 7)
  uint8_t scl, sda;
};
constexpr DdcPort kDdcPorts[] = {
    {0, false, 0, 1u << 3, 1u << 1},
    {1, false, 0, 1u << 5, 1u << 4},
    {5, false, 0, 1u << 2, 1u << 0},
    {2, true, 116, 1u << 0, 1u << 1},
    {3, true, 68, 1u << 0, 1u << 1},
    {4, true, 64, 1u << 1, 1u << 0},
    {6, true, 0, 1u << 0, 1u << 1},
    {7, true, 0, 1u << 0, 1u << 1},
};
// Port 0's second pair of lines.
constexpr uint8_t kAltSclRelease = 0x0C, kAltSclBit = 1u << 2;
constexpr uint8_t kAltSdaRelease = 0x03, kAltSdaBit = 1u << 0;

const DdcPort* FindPort(uint32_t port) {
  for (const DdcPort& p : kDdcPorts)
    if (p.port == port) return &p;
  return nullptr;
}

uint8_t Dac(BOARDHANDLE* h, uint8_t index) {
  RegWriteByte(h, kRegDacIndex, index);
  return RegReadByte(h, kRegDacData);
}
void SetDac(BOARDHANDLE* h, uint8_t index, uint8_t value) {
  RegWriteByte(h, kRegDacIndex, index);
  RegWriteByte(h, kRegDacData, value);
}
void ModifyDac(BOARDHANDLE* h, uint8_t index, uint8_t clear, uint8_t set) {
  SetDac(h, index, static_cast<uint8_t>((Dac(h, index) & ~clear) | set));
}

bool WaitLocked(BOARDHANDLE* h, uint8_t status) {
  return PollUntil([&] { return (Dac(h, status) & kDacPllLocked) != 0; }, kDacLockReadsMax);
}

uint32_t VcoKHz(const BOARDHANDLE* h, uint8_t m, uint8_t n) {
  return static_cast<uint32_t>(uint64_t{h->oDac.ulRefKHz} * (n + 1u) / (m + 1u));
}

uint8_t ExpanderAddress(const BOARDHANDLE* h, const DdcPort& p) {
  if (p.address != 0) return p.address;
  return h->oDac.aucExpanderAddress[p.port == 6 ? 0 : 1];
}

// The expanders sit on the board's I2C port 1.
void ExpanderWrite(BOARDHANDLE* h, const DdcPort& p, uint8_t bit, uint32_t level) {
  const uint8_t address = ExpanderAddress(h, p);
  const I2cTarget target = I2cOpen(h, kI2cPortBoard1, address);
  I2cStep(h, target, kI2cOpWrite, address, kI2cStart | kI2cAck);
  Delay(h, kExpanderSettleUnits);
  uint8_t& cache = h->oDac.ucExpanderCache;
  cache = level ? cache | bit : cache & ~bit;
  I2cStep(h, target, kI2cOpWrite, cache, kI2cAck | kI2cStop);
  I2cClose(h);
}

uint8_t ExpanderRead(BOARDHANDLE* h, const DdcPort& p, uint8_t bit) {
  const uint8_t address = ExpanderAddress(h, p);
  const I2cTarget target = I2cOpen(h, kI2cPortBoard1, address);
  uint8_t byte = 0;
  I2cStep(h, target, kI2cOpWrite, address | 1, kI2cStart | kI2cAck);
  Delay(h, kExpanderSettleUnits);
  I2cStep(h, target, kI2cOpRead, 0, kI2cNak | kI2cStop, &byte);
  I2cClose(h);
  return (byte & bit) ? 1 : 0;
}

HALSTATUS SetLine(BOARDHANDLE* h, uint32_t port, uint32_t level, bool scl) {
  if (HalFailed(h->status)) return h->status;
  const DdcPort* p = FindPort(port);
  if (p == nullptr) return SetError(h, scl ? kErrDacSetScl : kErrDacSetSda);
  const uint8_t bit = scl ? p->scl : p->sda;
  if (p->expander) {
    ExpanderWrite(h, *p, bit, level);
    return h->status;
  }
  if (level == 0) {
    ModifyDac(h, kDacDdcData, bit, 0);
    ModifyDac(h, kDacDdcEnable, 0, bit);
    return h->status;
  }
  ModifyDac(h, kDacDdcEnable, bit, 0);
  if (scl) {
    // A slave may hold the clock low; give it a bounded time, no error.
    (void)PollUntil(
        [&] {
          Delay(h, kSclReleaseWaitUnits);
          uint8_t high = 0;
          h->oJumpTable.I2CGetSCL(h, port, &high);
          return (high & 1) != 0;
        },
        kDacSclReleaseTries);
  }
  return h->status;
}

HALSTATUS GetLine(BOARDHANDLE* h, uint32_t port, uint8_t* level, bool scl) {
  if (HalFailed(h->status)) return h->status;
  const DdcPort* p = FindPort(port);
  if (p == nullptr) return SetError(h, scl ? kErrDacGetScl : kErrDacGetSda);
  const uint8_t bit = scl ? p->scl : p->sda;
  if (p->expander) {
    *level = ExpanderRead(h, *p, bit);
    return h->status;
  }
  ModifyDac(h, kDacDdcEnable, bit, 0);
  *level = (Dac(h, kDacDdcData) & bit) ? 1 : 0;
  return h->status;
}

// The palette value of entry i for a depth: (red, green, blue).
void RampEntry(uint32_t bpp, uint32_t i, uint8_t rgb[3]) {
  switch (bpp) {
    case 15:
      rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(8 * i);
      break;
    case 16:
      rgb[0] = rgb[2] = static_cast<uint8_t>(8 * i);
      rgb[1] = static_cast<uint8_t>(4 * i);
      break;
    default:
      rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(i);
      break;
  }
}

}  // namespace

HALSTATUS HSLDACReadRegister(BOARDHANDLE* h, uint32_t index, uint8_t* value) {
  if (HalFailed(h->status)) return h->status;
  *value = Dac(h, static_cast<uint8_t>(index));
  return h->status;
}

HALSTATUS HSLDACWriteRegister(BOARDHANDLE* h, uint32_t index, uint8_t value) {
  if (HalFailed(h->status)) return h->status;
  SetDac(h, static_cast<uint8_t>(index), value);
  return h->status;
}

HALSTATUS HSLDACScreenState(BOARDHANDLE* h, uint32_t* on) {
  if (HalFailed(h->status)) return h->status;
  *on = (VgaSeq(h, kVgaSeqClocking) & kVgaSeqScreenOff) ? 0 : 1;
  return h->status;
}

HALSTATUS HSLDACScreenOff(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  SetVgaScreenOff(h, true);
  return h->status;
}

HALSTATUS HSLDACScreenOn(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  SetVgaScreenOff(h, false);
  return h->status;
}

HALSTATUS HSLDACDisableOutput(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  ModifyDac(h, kDacOutputCtl, kDacOutputOn, 0);
  return h->status;
}

HALSTATUS HSLDACEnableOutput(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  ModifyDac(h, kDacOutputCtl, 0, kDacOutputOn);
  return h->status;
}

HALSTATUS HSLDACGetMaxI2CClock(BOARDHANDLE* h, uint32_t* hz) {
  if (HalFailed(h->status)) return h->status;
  *hz = kDacMaxI2cClockHz;
  return h->status;
}

HALSTATUS HSLDACWaitForVSync(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t running = 0;
  h->pCRTCFunctions->ValidateHwSync(h, &running);
  if (running)
    (void)PollUntil([&] { return (RegReadByte(h, kRegDacStatus) & kDacStatusVRetrace) != 0; },
                    kDacRetraceReadsMax);
  return h->status;
}

HALSTATUS HSLDACComputePLLParam(BOARDHANDLE* h, uint32_t khz, uint32_t kind, uint32_t* m,
                                uint32_t* n, uint32_t* p, uint32_t* s) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t vcoMax = kind == kDacPllSystem  ? h->oDac.ulSystemVcoMaxKHz
                          : kind == kDacPllFixed ? kDacFixedVcoMaxKHz
                                                 : h->oDac.ulPixelVcoMaxKHz;
  const uint64_t limit = std::max(vcoMax, khz);
  // The largest post divider of 7, 3, 1, 0 that keeps the VCO in range.
  uint32_t post = 15;
  do {
    post = (post - 1) / 2;
  } while (post > 0 && uint64_t{khz} * (post + 1) > limit);
  const uint64_t vco = uint64_t{khz} * (post + 1);
  if (vco > kDacMinVcoKHz) {
    const uint64_t tolerance = uint64_t{khz} * 5 / 1000;
    uint64_t best = 0xFFFFFFFF;
    for (uint32_t mm = 1; mm <= 6 && best > tolerance; ++mm) {
      for (uint32_t nn = 7; nn <= 127 && best > tolerance; ++nn) {
        const uint64_t f = uint64_t{nn + 1} * h->oDac.ulRefKHz / ((mm + 1) * (post + 1));
        const uint64_t diff = f > khz ? f - khz : khz - f;
        if (diff < best) {
          *m = mm;
          *n = nn;
          *p = post;
          best = diff;
        }
      }
    }
  }
  if (h->usDeviceId == kDeviceOlder6A25)
    *s = vco < 110000 ? 0 : vco < 170000 ? 1 : vco < 240000 ? 2 : 3;
  else
    *s = vco < 100000 ? 0 : vco < 140000 ? 1 : vco < 180000 ? 2 : 3;
  return h->status;
}

HALSTATUS HSLDACPIXPLLSET(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t m = kNoDivider, n = kNoDivider, p = kNoDivider, s = 0;
  h->pMDACFunctions->ComputePLLParam(h, mode->ulPixClock, kDacPllPixel, &m, &n, &p, &s);
  // No divider for so low a clock: program nothing.
  if (m == kNoDivider) return SetError(h, kErrDacPixelPll);
  ModifyDac(h, kDacClockCtl, 0, kDacClockOff);
  RegWriteByte(h, kVgaMiscOutWrite, RegReadByte(h, kVgaMiscOutRead) | kVgaMiscClockSelect);
  SetDac(h, kDacPixM, static_cast<uint8_t>(m));
  SetDac(h, kDacPixM + 1, static_cast<uint8_t>(n));
  SetDac(h, kDacPixM + 2, static_cast<uint8_t>(s << 3 | p));
  if (!(mode->flOutput & kOutModule1))
    ModifyDac(h, kDacClockCtl, kDacClockSourceMask, kDacClockFromPll);
  if (!WaitLocked(h, kDacPixStatus)) {
    ModifyDac(h, kDacClockCtl, kDacPllRun, 0);
    Delay(h, kPllRetryUnits);
    ModifyDac(h, kDacClockCtl, 0, kDacPllRun);
    Delay(h, kPllRetryUnits);
    if (!(Dac(h, kDacPixStatus) & kDacPllLocked)) SetError(h, kErrDacPixelPll);
  }
  SetVgaSeq(h, kVgaSeqClocking, VgaSeq(h, kVgaSeqClocking) & ~kVgaSeqDotClockHalf);
  ModifyDac(h, kDacClockCtl, kDacClockOff, 0);
  h->pMDACFunctions->AdjustSystemPLL(h);
  return h->status;
}

HALSTATUS HSLDACSYSPLLSET(BOARDHANDLE* h, uint32_t khz) {
  if (HalFailed(h->status)) return h->status;
  uint32_t m = kNoDivider, n = kNoDivider, p = kNoDivider, s = 0;
  h->pMDACFunctions->ComputePLLParam(h, khz, kDacPllSystem, &m, &n, &p, &s);
  if (m == kNoDivider) return SetError(h, kErrDacSystemPll);
  const uint32_t v = CfgRead(h, kPciOption);
  CfgWrite(h, kPciOption, v | kOptionSysClockHold);
  CfgWrite(h, kPciOption, v & ~kOptionSysClockMask);
  CfgWrite(h, kPciOption, v & ~kOptionSysClockHold);
  SetDac(h, kDacSysM, static_cast<uint8_t>(m));
  SetDac(h, kDacSysM + 1, static_cast<uint8_t>(n));
  SetDac(h, kDacSysM + 2, static_cast<uint8_t>(s << 3 | p));
  if (!WaitLocked(h, kDacSysStatus)) SetError(h, kErrDacSystemPll);
  CfgWrite(h, kPciOption, v | kOptionSysClockHold);
  CfgWrite(h, kPciOption, (v & ~kOptionSysClockMask) | 1);
  CfgWrite(h, kPciOption, v & ~kOptionSysClockHold);
  return h->status;
}

HALSTATUS HSLDACAdjustSystemPLL(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint8_t pm = Dac(h, kDacPixM), pn = Dac(h, kDacPixM + 1);
  Dac(h, kDacPixM + 2);
  const uint8_t sm = Dac(h, kDacSysM), sn = Dac(h, kDacSysM + 1), sps = Dac(h, kDacSysM + 2);
  const uint32_t pixel = VcoKHz(h, pm, pn);
  uint32_t system = VcoKHz(h, sm, sn);
  const uint32_t gap = pixel > system ? pixel - system : system - pixel;
  if (gap >= kSysVcoMinGapKHz) return h->status;
  // The two PLLs beat when their VCOs sit this close: move the system one.
  system -= std::max(kSysVcoMinGapKHz, system * 7 / 1000);
  SYSCLOCKINFO clock = h->oSystemClock;
  clock.aulWord[0] = system / ((sps & 7u) + 1);
  h->oJumpTable.SetSystemClock(h, &clock);
  return h->status;
}

HALSTATUS HSLDACInit(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  RegWriteByte(h, kRegDacReadMask, 0xFF);
  ModifyDac(h, kDacOutputCtl, 0, kDacOutputInit);
  if (!(mode->flOutput & kOutModule1)) {
    const uint8_t option = h->oDac.ucOption;
    ModifyDac(h, kDacOptions, kDacOption4, (option & 0x01) ? kDacOption4 : 0);
    ModifyDac(h, kDacOptions, kDacOption5, (option & 0x40) ? kDacOption5 : 0);
    uint8_t misc = RegReadByte(h, kVgaMiscOutRead) & 0x3F;
    if (!(mode->flSignalMode & 0x4)) misc |= kVgaMiscHsyncPositive;
    if (!(mode->flSignalMode & 0x8)) misc |= kVgaMiscVsyncPositive;
    RegWriteByte(h, kVgaMiscOutWrite, misc);
    uint8_t format;
    switch (mode->ulBpp) {
      case 8: format = 0; break;
      case 15: format = 1; break;
      case 16: format = 2; break;
      case 24: format = 3; break;
      case 32: format = 7; break;
      default: return SetError(h, kErrDacDepth);
    }
    SetDac(h, kDacPixelFormat, format);
    if (mode->ulBpp != 8 && !(h->ulBoardFlags & kBoardFlagNoDacRamp)) {
      RegWriteByte(h, kRegDacIndex, 0);
      for (uint32_t i = 0; i < 256; ++i) {
        uint8_t rgb[3];
        RampEntry(mode->ulBpp, i, rgb);
        for (uint8_t c : rgb) RegWriteByte(h, kRegDacPalette, c);
      }
    }
  }
  ModifyDac(h, kDacOutputCtl, 0, kDacOutputOn);
  return h->status;
}

HALSTATUS HSLDACPowerUp(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  CfgWrite(h, kPciOption, CfgRead(h, kPciOption) | kOptionDacPowerUp);
  // A PLL that does not lock here is not reported; the mode set finds it.
  (void)WaitLocked(h, kDacSysStatus);
  ModifyDac(h, kDacClockCtl, 0, kDacPllRun);
  (void)WaitLocked(h, kDacPixStatus);
  ModifyDac(h, kDacOutputCtl, 0, kDacOutputPowerUp);
  return h->status;
}

HALSTATUS HSLDACSetZoom(BOARDHANDLE* h, uint32_t factor) {
  if (HalFailed(h->status)) return h->status;
  uint32_t doubled = 0;
  h->pCRTCFunctions->UseLineDoubling(h, &h->aModeInfo[0], &doubled);
  const uint8_t kept = VgaCrtc(h, kCrtcZoom) & 0xE0;
  // Field and line-doubling addend by factor.
  uint8_t field = 0, doubling = 1;
  switch (factor) {
    case 1: field = 0; doubling = 1; break;
    case 2: field = 1; doubling = 3; break;
    case 4: field = 3; doubling = 7; break;
    default: SetError(h, kErrDacZoom); break;
  }
  if (doubled) field = static_cast<uint8_t>(field + doubling);
  SetVgaCrtc(h, kCrtcZoom, kept | field);
  return h->status;
}

HALSTATUS HSLDACSenceMonitorLoad(BOARDHANDLE* h, uint32_t* present) {
  if (HalFailed(h->status)) return h->status;
  MODEINFO mode{};
  mode.ulDispWidth = mode.ulDeskWidth = 640;
  mode.ulDispHeight = mode.ulDeskHeight = 480;
  mode.ulBpp = 8;
  mode.flOutput = 0x1200000;
  mode.ulZoom = 1;
  mode.ulRefreshRate = 60;
  mode.ulHorizRate = 31;
  mode.ulPixClock = 25175;
  mode.ulHFPorch = 16;
  mode.ulHSync = 96;
  mode.ulHBPorch = 48;
  mode.ulVFPorch = 10;
  mode.ulVSync = 2;
  mode.ulVBPorch = 33;
  h->oJumpTable.SetMode(h, &mode);
  SetDac(h, kDacLoadSenseReset, 0);
  SetDac(h, kDacLoadSense, kDacSenseOn);
  RegWriteByte(h, kRegDacIndex, 0);
  for (uint32_t i = 0; i < 3 * 256; ++i) RegWriteByte(h, kRegDacPalette, 0x5C);
  // Sense outside the retrace; a raster that never leaves it is not waited for.
  (void)PollUntil([&] { return (RegReadByte(h, kRegDacStatus) & kDacStatusVRetrace) == 0; },
                  kDacSenseRetraceReadsMax);
  const bool load = (Dac(h, kDacLoadSense) & kDacComparators) != kDacComparators;
  uint32_t& flags = h->aMonitorInfo[0].flMonitor;
  flags = load ? flags | 1u : flags & ~1u;
  *present = load ? 1 : 0;
  SetDac(h, kDacLoadSense, 0);
  return h->status;
}

HALSTATUS HSLDACI2CSetSCL(BOARDHANDLE* h, uint32_t port, uint32_t level) {
  return SetLine(h, port, level, true);
}
HALSTATUS HSLDACI2CSetSDA(BOARDHANDLE* h, uint32_t port, uint32_t level) {
  return SetLine(h, port, level, false);
}
HALSTATUS HSLDACI2CGetSCL(BOARDHANDLE* h, uint32_t port, uint8_t* level) {
  return GetLine(h, port, level, true);
}
HALSTATUS HSLDACI2CGetSDA(BOARDHANDLE* h, uint32_t port, uint8_t* level) {
  return GetLine(h, port, level, false);
}

HALSTATUS HSLDACI2CAltGetSCL(BOARDHANDLE* h, uint32_t port, uint8_t* level) {
  if (HalFailed(h->status)) return h->status;
  if (port != 0) return h->pMDACFunctions->I2CGetSCL(h, port, level);
  ModifyDac(h, kDacDdcEnable, kAltSclRelease, 0);
  *level = (Dac(h, kDacDdcData) & kAltSclBit) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLDACI2CAltGetSDA(BOARDHANDLE* h, uint32_t port, uint8_t* level) {
  if (HalFailed(h->status)) return h->status;
  if (port != 0) return h->pMDACFunctions->I2CGetSDA(h, port, level);
  ModifyDac(h, kDacDdcEnable, kAltSdaRelease, 0);
  *level = (Dac(h, kDacDdcData) & kAltSdaBit) ? 1 : 0;
  return h->status;
}
