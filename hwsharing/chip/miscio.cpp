// Misc-IO lines, GPIO and the bit-banged I2C port of the chip.
#include "hwsharing/chip/miscio.h"

#include <cstring>

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "core/poll.h"
#include "core/regs/display.h"
#include "core/regs/misc_io.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/cem_module.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/ddc_lines.h"

namespace {

constexpr uint32_t kI2cActive = 0xFFFF;
constexpr uint32_t kPullLowReadsMax = 10;      // reads until a driven-low line reads low
constexpr uint32_t kSclReleaseTriesMax = 10000;
constexpr uint32_t kSclReleaseWaitUnits = 10;  // Delay units between SCL reads
// Port 16 runs on GPIO lines on the first chip up to this revision.
constexpr uint32_t kEarlyPort16MaxRevision = 1;

struct LineMasks {
  uint32_t reg = 0;
  uint32_t enable = 0;
  uint32_t data = 0;
  bool Present() const { return enable != 0 && data != 0; }
};

LineMasks BoardLine(BOARDHANDLE* h, uint32_t function) {
  LineMasks m;
  HSLPIN60GetMISCIORegMasks(h, function, 0, nullptr, &m.reg, &m.enable, &m.data);
  return m;
}

LineMasks ExpanderLine(BOARDHANDLE* h, uint32_t code) {
  LineMasks m;
  HSLPIN60GetMISCIOExpRegMasks(h, code, &m.reg, &m.enable, &m.data);
  return m;
}

// DDC line of a DDC port, or -1.
int DdcLineOfPort(uint32_t port) {
  switch (port) {
    case kI2cPortDdc0:
      return 0;
    case kI2cPortDdc1:
    case kI2cPortDdc1Sel2:
      return 1;
    case kI2cPortDdc2:
      return 2;
    case kI2cPortDdc3:
    case kI2cPortDdc3Sel2:
      return 3;
    default:
      return -1;
  }
}

void SetPortLines(I2CPORTINFO& p, uint32_t reg, const LineMasks& scl, const LineMasks& sda) {
  p.ulRegister = reg;
  p.ulSclData = scl.data;
  p.ulSclEnable = scl.enable;
  p.ulSdaData = sda.data;
  p.ulSdaEnable = sda.enable;
}

// Clock class of a port the board has, 0 for any other port.
uint32_t ClockClassOf(const BOARDHANDLE* h, uint32_t port) {
  if (DdcLineOfPort(port) >= 0) return kI2cClockDdc;
  if (port == kI2cPortBoard1)
    return (h->ulPinsPortSpeed & kPinsPortSpeedPort1Fast) ? kI2cClockBoardFast : kI2cClockBoardSlow;
  if (port == kI2cPortBoard16)
    return (h->ulPinsPortSpeed & kPinsPortSpeedPort16Fast) ? kI2cClockBoardFast : kI2cClockBoardSlow;
  return 0;
}

// SCL and SDA of board port 1 or 16 as the description wires them.
struct BoardPortLines {
  LineMasks scl, sda;
  bool sclOnExpander = false;  // the clock on the expander's alternate line
  bool Present() const { return scl.Present() && sda.Present(); }
};

BoardPortLines ResolveBoardPort(BOARDHANDLE* h, uint32_t port) {
  BoardPortLines l;
  if (port == kI2cPortBoard16 && !Port16OnBoardLines(h)) {
    l.scl = {kRegGpio, kGpioPort16SclEnable, kGpioPort16SclData};
    l.sda = {kRegGpio, kGpioPort16SdaEnable, kGpioPort16SdaData};
    return l;
  }
  const bool one = port == kI2cPortBoard1;
  l.sda = BoardLine(h, one ? kLinePort1Sda : kLinePort16Sda);
  l.scl = BoardLine(h, one ? kLinePort1Scl : kLinePort16Scl);
  // Without its own clock line the port's clock runs on the expander's
  // alternate line.
  if (!l.scl.Present()) {
    l.scl = ExpanderLine(h, kExpLineAltPort);
    l.sclOnExpander = true;
  }
  return l;
}

// Fills the port record's register and line masks for a port the board has.
void FillPortLines(BOARDHANDLE* h, uint32_t port) {
  I2CPORTINFO& p = h->oI2cPort;
  const int ddcLine = DdcLineOfPort(port);
  if (ddcLine >= 0) {
    uint32_t sdaReg = 0, sdaMask = 0, sclReg = 0, sclMask = 0;
    int32_t kind = -1;
    HSLKSTGetDDCIORegMasks(h, static_cast<uint32_t>(ddcLine), &sdaReg, &sdaMask, &sclReg, &sclMask,
                           &kind);
    SetPortLines(p, sclReg, {sclReg, sclMask << kDdcEnableShift, sclMask},
                 {sdaReg, sdaMask << kDdcEnableShift, sdaMask});
    return;
  }
  if (port != kI2cPortBoard1 && port != kI2cPortBoard16) return;
  const BoardPortLines l = ResolveBoardPort(h, port);
  if (port == kI2cPortBoard16 && l.sclOnExpander) {
    // The expander's alternate line serves port 16 with the routing line low.
    uint8_t low = 0;
    HSLKSTAccessMiscIo(h, kMiscIoExpander, kExpLinePort16Route, 0, &low, nullptr);
  }
  SetPortLines(p, l.scl.reg, l.scl, l.sda);
}

bool PortOpen(const BOARDHANDLE* h) { return h->oI2cPort.ulOpen != 0; }

}  // namespace

bool Port16OnBoardLines(const BOARDHANDLE* h) {
  return !(h->usDeviceId == kDeviceKestrion1 && h->ulRevision <= kEarlyPort16MaxRevision &&
           !(h->ulFeatures & kFeaturePort16BoardLines));
}

bool BoardPortWired(BOARDHANDLE* h, uint32_t port) {
  if (port != kI2cPortBoard1 && port != kI2cPortBoard16) return false;
  return ResolveBoardPort(h, port).Present();
}

// ---- Misc-IO lines ----------------------------------------------------------------

HALSTATUS HSLKSTAccessMiscIo(BOARDHANDLE* h, uint32_t kind, uint32_t line, uint32_t read,
                             uint8_t* level, uint32_t* present) {
  if (HalFailed(h->status)) return h->status;
  if (present != nullptr) *present = 0;

  LineMasks m;
  bool inverted = false;
  switch (kind) {
    case kMiscIoBoardLine:
      m = BoardLine(h, line);
      if (!m.Present() && line == kLineI2cPortEnable) {
        m = BoardLine(h, kLineI2cPortEnableAlt);
        inverted = true;
        if (!m.Present() && !read && *level == 0) {
          // Nothing to release on a board without either line.
          if (present != nullptr) *present = 1;
          return h->status;
        }
      }
      break;
    case kMiscIoGpio:
      if (line < kGpioLineCount) m = {kRegGpio, (1u << line) << kGpioEnableShift, 1u << line};
      break;
    case kMiscIoExpander:
      m = ExpanderLine(h, line);
      break;
    default:
      break;
  }
  if (!m.Present()) return h->status;

  uint32_t v = RegRead(h, m.reg);
  if (read) {
    RegWrite(h, m.reg, v & ~m.enable);
    const bool high = (RegRead(h, m.reg) & m.data) != 0;
    *level = (high != inverted) ? 1 : 0;
  } else {
    v |= m.enable;
    if ((*level != 0) != inverted)
      v |= m.data;
    else
      v &= ~m.data;
    RegWrite(h, m.reg, v);
  }
  if (present != nullptr) *present = 1;
  return h->status;
}

// ---- Generic line functions ---------------------------------------------------------

HALSTATUS HSLKSTI2CGenericRead(BOARDHANDLE* h, uint32_t reg, uint32_t enableMask,
                               uint32_t dataMask, uint8_t* level) {
  if (HalFailed(h->status)) return h->status;
  RegWrite(h, reg, RegRead(h, reg) & ~enableMask);
  *level = (RegRead(h, reg) & dataMask) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTI2CGenericWrite(BOARDHANDLE* h, uint32_t reg, uint32_t enableMask,
                                uint32_t dataMask, uint32_t waitForClock, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t v = RegRead(h, reg);
  if ((level & 1) == 0) {
    RegWrite(h, reg, (v & ~dataMask) | enableMask);
    // Only gives the line time to fall: a line some device holds high shows
    // up in the next read of the I2C master, which reports it.
    (void)PollUntil([&] { return (RegRead(h, reg) & dataMask) == 0; }, kPullLowReadsMax);
    return h->status;
  }
  RegWrite(h, reg, v & ~enableMask);
  if (waitForClock) {
    // A device may stretch the clock; one that never lets go fails the call.
    const bool released = PollUntil(
        [&] {
          Delay(h, kSclReleaseWaitUnits);
          return (RegRead(h, reg) & dataMask) != 0;
        },
        kSclReleaseTriesMax);
    if (!released) SetError(h, kErrI2cGetScl);
  }
  return h->status;
}

HALSTATUS HSLKSTI2CGenericReadSCL(BOARDHANDLE* h, I2CPORTINFO* port, uint8_t* level) {
  return HSLKSTI2CGenericRead(h, port->ulRegister, port->ulSclEnable, port->ulSclData, level);
}

HALSTATUS HSLKSTI2CGenericReadSDA(BOARDHANDLE* h, I2CPORTINFO* port, uint8_t* level) {
  return HSLKSTI2CGenericRead(h, port->ulRegister, port->ulSdaEnable, port->ulSdaData, level);
}

HALSTATUS HSLKSTI2CGenericWriteSCL(BOARDHANDLE* h, I2CPORTINFO* port, uint32_t level) {
  return HSLKSTI2CGenericWrite(h, port->ulRegister, port->ulSclEnable, port->ulSclData, 1, level);
}

HALSTATUS HSLKSTI2CGenericWriteSDA(BOARDHANDLE* h, I2CPORTINFO* port, uint32_t level) {
  return HSLKSTI2CGenericWrite(h, port->ulRegister, port->ulSdaEnable, port->ulSdaData, 0, level);
}

// ---- Port open and close (slots 19, 20) ---------------------------------------------

HALSTATUS HSLKSTI2COpenPort(BOARDHANDLE* h, uint32_t* clockClass, uint32_t port) {
  if (HalFailed(h->status)) return h->status;
  if ((port == kI2cPortBoard1 && !(h->ulPinsPortWord & kPinsPortWordPort1)) ||
      (port == kI2cPortBoard16 && !(h->ulPinsPortWord & kPinsPortWordPort16))) {
    if (clockClass != nullptr) *clockClass = kI2cClockUnknown;
    return SetError(h, kErrI2cBadPort);
  }
  if (port == kI2cPortDdc1Sel2 || port == kI2cPortDdc3Sel2) HSLKSTEnableCEMDDCSel2(h);

  I2CPORTINFO& p = h->oI2cPort;
  const uint32_t clock = ClockClassOf(h, port);
  if (clock == 0) {
    p.ulOpen = 0;
    h->ulI2cActive = 0;
    if (clockClass != nullptr) *clockClass = kI2cClockUnknown;
    return SetError(h, kErrI2cBadPort);
  }
  if (!PortOpen(h) || p.ulPort != port) {
    std::memset(&p, 0, sizeof(p));
    p.ulPort = port;
    p.pfnWriteScl = HSLKSTI2CGenericWriteSCL;
    p.pfnWriteSda = HSLKSTI2CGenericWriteSDA;
    p.pfnReadScl = HSLKSTI2CGenericReadSCL;
    p.pfnReadSda = HSLKSTI2CGenericReadSDA;
    FillPortLines(h, port);
    p.ulOpen = 1;
  }
  h->ulI2cActive = kI2cActive;
  if (clockClass != nullptr) *clockClass = clock;

  uint8_t enable = 1;
  const int ddcLine = DdcLineOfPort(port);
  if (ddcLine >= 0) {
    // The port-enable line also routes the chip's DDC pins to this DDC line.
    uint32_t r1, m1, r2, m2;
    int32_t kind = -1;
    HSLKSTGetDDCIORegMasks(h, static_cast<uint32_t>(ddcLine), &r1, &m1, &r2, &m2, &kind);
    enable = kind > 0 ? 1 : 0;
  } else {
    uint8_t ignored = 0;
    HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineBeforeBoardPorts, 1, &ignored, nullptr);
  }
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineI2cPortEnable, 0, &enable, nullptr);
  return h->status;
}

HALSTATUS HSLKSTI2CClosePort(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint8_t low = 0;
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineI2cPortEnable, 0, &low, nullptr);
  uint8_t ignored = 0;
  HSLKSTAccessMiscIo(h, kMiscIoExpander, kExpLinePort16Route, 1, &ignored, nullptr);
  std::memset(&h->oI2cPort, 0, sizeof(h->oI2cPort));
  h->ulI2cActive = 0;
  return h->status;
}

// ---- Line slots (21-24) -------------------------------------------------------------
// The port argument is the I2C master's; the lines are those of the open port.

HALSTATUS HSLKSTI2CSetSCL(BOARDHANDLE* h, uint32_t, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  if (!PortOpen(h)) return SetError(h, kErrI2cSetScl);
  return h->oI2cPort.pfnWriteScl(h, &h->oI2cPort, level);
}

HALSTATUS HSLKSTI2CGetSCL(BOARDHANDLE* h, uint32_t, uint8_t* level) {
  if (HalFailed(h->status)) return h->status;
  if (!PortOpen(h)) return SetError(h, kErrI2cGetScl);
  return h->oI2cPort.pfnReadScl(h, &h->oI2cPort, level);
}

HALSTATUS HSLKSTI2CSetSDA(BOARDHANDLE* h, uint32_t, uint32_t level) {
  if (HalFailed(h->status)) return h->status;
  if (!PortOpen(h)) return SetError(h, kErrI2cSetSda);
  return h->oI2cPort.pfnWriteSda(h, &h->oI2cPort, level);
}

HALSTATUS HSLKSTI2CGetSDA(BOARDHANDLE* h, uint32_t, uint8_t* level) {
  if (HalFailed(h->status)) return h->status;
  if (!PortOpen(h)) return SetError(h, kErrI2cGetSda);
  return h->oI2cPort.pfnReadSda(h, &h->oI2cPort, level);
}

// ---- DVO clock state around expansion-module transfers ------------------------------

namespace {

// The second arrangement is the one for which bring-up writes 0 to the
// output-arrangement register.
bool SecondArrangement(const BOARDHANDLE* h) { return OutputArrangementValue(h) == 0; }

}  // namespace

HALSTATUS HLSKSTI2CSetClockState(BOARDHANDLE* h, uint8_t side) {
  if (HalFailed(h->status)) return h->status;
  I2CCLOCKSTATE& s = h->oI2cClockState;
  if (s.ulActive) return h->status;
  const bool second = SecondArrangement(h);
  s.ulActive = 1;
  s.ulDvo1Disable = 0;
  s.ulSecondDisable = 0;
  uint32_t ctl0 = RegRead(h, kRegModuleClock0);
  uint32_t ctl1 = RegRead(h, kRegModuleClock1);
  uint32_t power = RegRead(h, kRegDvoPower);

  if (side == 0) {
    s.ulDvo1Disable = (ctl0 & kDvo1Disable) ? 1 : 0;
    s.ulDvo1Code = Dvo1ClockCode(ctl0);
    ctl0 &= ~kDvo1ClockFields;
    power &= ~kDvoPowerDvo1Off;
    RegWrite(h, kRegModuleClock0, ctl0);
  } else if (second) {
    s.ulSecondDisable = (ctl1 & kDvo2Disable) ? 1 : 0;
    s.ulSecondCode = Dvo2ClockCode(ctl1);
    ctl1 &= ~kDvo2ClockFields;
    power &= ~kDvoPowerDvo2Off;
    RegWrite(h, kRegModuleClock1, ctl1);
  } else {
    s.ulSecondDisable = (ctl0 & kDvo1Disable) ? 1 : 0;
    s.ulSecondCode = Dvo1ClockCode(ctl0);
    ctl0 &= ~kDvo1ClockFields;
    power &= ~kDvoPowerDvo2Off;
    RegWrite(h, kRegModuleClock0, ctl0);
  }
  RegWrite(h, kRegDvoPower, power);

  if ((power & (kDvoPowerDvo1Off | kDvoPowerDvo2Off)) != (kDvoPowerDvo1Off | kDvoPowerDvo2Off)) {
    power &= ~kDvoPowerBothOff;
    RegWrite(h, kRegModuleClock0, ctl0);
    RegWrite(h, kRegModuleClock1, ctl1);
    RegWrite(h, kRegDvoPower, power);
  }
  return h->status;
}

HALSTATUS HLSKSTI2CRestoreClockState(BOARDHANDLE* h, uint8_t side) {
  if (HalFailed(h->status)) return h->status;
  I2CCLOCKSTATE& s = h->oI2cClockState;
  if (s.ulActive != 1) return h->status;
  const bool second = SecondArrangement(h);
  s.ulActive = 0;
  uint32_t ctl0 = RegRead(h, kRegModuleClock0);
  uint32_t ctl1 = RegRead(h, kRegModuleClock1);
  uint32_t power = RegRead(h, kRegDvoPower);

  // Restores one DVO's clock fields in register `reg`: either disabled
  // again, or pulsed through disable and then given its saved code.
  auto restoreCtl0 = [&](uint32_t disabled, uint32_t code, uint32_t powerOff) {
    if (disabled) {
      ctl0 |= kDvo1Disable;
      power |= powerOff;
      RegWrite(h, kRegModuleClock0, ctl0);
      RegWrite(h, kRegDvoPower, power);
    } else {
      RegWrite(h, kRegModuleClock0, ctl0 | kDvo1Disable);
      ctl0 = WithDvo1ClockCode(ctl0 & ~kDvo1Disable, code);
      RegWrite(h, kRegModuleClock0, ctl0);
      RegWrite(h, kRegDvoPower, power);
    }
  };

  if (side == 0) {
    restoreCtl0(s.ulDvo1Disable, s.ulDvo1Code, kDvoPowerDvo1Off);
  } else if (second) {
    if (s.ulSecondDisable) {
      ctl1 |= kDvo2Disable;
      power |= kDvoPowerDvo2Off;
      RegWrite(h, kRegModuleClock1, ctl1);
      RegWrite(h, kRegDvoPower, power);
    } else {
      RegWrite(h, kRegModuleClock1, ctl1 | kDvo2Disable);
      ctl1 = WithDvo2ClockCode(ctl1 & ~kDvo2Disable, s.ulSecondCode);
      RegWrite(h, kRegModuleClock1, ctl1);
      RegWrite(h, kRegDvoPower, power);
    }
  } else {
    restoreCtl0(s.ulSecondDisable, s.ulSecondCode, kDvoPowerDvo2Off);
  }

  if ((power & (kDvoPowerDvo1Off | kDvoPowerDvo2Off)) == (kDvoPowerDvo1Off | kDvoPowerDvo2Off)) {
    power |= kDvoPowerBothOff;
    RegWrite(h, kRegDvoPower, power);
  }
  s.ulDvo1Disable = 0;
  s.ulSecondDisable = 0;
  return h->status;
}
