// Misc-IO lines, the chip's GPIO register and the bit-banged I2C port: one
// port at a time is opened on a DDC line pair or on board lines, and its
// SCL and SDA lines are driven and read through jump-table slots 19-24.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Kinds of line for HSLKSTAccessMiscIo.
inline constexpr uint32_t kMiscIoBoardLine = 0;  // by function code of the board description
inline constexpr uint32_t kMiscIoGpio = 1;       // chip GPIO bit 0..8
inline constexpr uint32_t kMiscIoExpander = 2;   // expansion-module expander line

// Board misc-IO lines (function codes) that the chip layer uses.
inline constexpr uint32_t kLinePort1Sda = 1;
inline constexpr uint32_t kLinePort1Scl = 2;
inline constexpr uint32_t kLinePort16Sda = 3;
inline constexpr uint32_t kLinePort16Scl = 4;
inline constexpr uint32_t kLineI2cPortEnable = 5;
inline constexpr uint32_t kLineDviDualLink = 6;
inline constexpr uint32_t kLineI2cPortEnableAlt = 8;  // line 5 with inverted polarity
inline constexpr uint32_t kLineStereo3d = 10;
inline constexpr uint32_t kLineBeforeBoardPorts = 13;
// Expander lines.
inline constexpr uint32_t kExpLineVideoInput = 0;
inline constexpr uint32_t kExpLinePort16Route = 1;
inline constexpr uint32_t kExpLineAltPort = 3;

// I2C ports.
inline constexpr uint32_t kI2cPortDdc0 = 0;
inline constexpr uint32_t kI2cPortBoard1 = 1;
inline constexpr uint32_t kI2cPortDdc1 = 5;
inline constexpr uint32_t kI2cPortBoard16 = 16;
inline constexpr uint32_t kI2cPortDdc2 = 17;
inline constexpr uint32_t kI2cPortDdc3 = 18;
inline constexpr uint32_t kI2cPortDdc1Sel2 = 133;  // DDC pair 1 over the module's second path
inline constexpr uint32_t kI2cPortDdc3Sel2 = 146;

// Clock classes that opening a port answers.
inline constexpr uint32_t kI2cClockBoardSlow = 2;
inline constexpr uint32_t kI2cClockBoardFast = 10;
inline constexpr uint32_t kI2cClockDdc = 20;
inline constexpr uint32_t kI2cClockUnknown = 40;

struct I2CPORTINFO;
using I2CLINEWRITE = HALSTATUS (*)(BOARDHANDLE* h, I2CPORTINFO* port, uint32_t level);
using I2CLINEREAD = HALSTATUS (*)(BOARDHANDLE* h, I2CPORTINFO* port, uint8_t* level);

// The open I2C port; cleared when the port closes.
struct I2CPORTINFO {
  uint32_t ulOpen;
  uint32_t ulPort;
  uint32_t aulCounter[2];
  uint32_t ulRegister;
  uint32_t ulSclData, ulSclEnable;
  uint32_t ulSdaData, ulSdaEnable;
  I2CLINEWRITE pfnWriteScl;
  I2CLINEWRITE pfnWriteSda;
  I2CLINEREAD pfnReadScl;
  I2CLINEREAD pfnReadSda;
  uint32_t aulReserved[2];
};
static_assert(sizeof(I2CPORTINFO) == 80);

// DVO clock state saved around an expansion-module FPGA transfer.
struct I2CCLOCKSTATE {
  uint32_t ulActive;
  uint32_t ulDvo1Disable;
  uint32_t ulDvo1Code;
  uint32_t ulSecondDisable;
  uint32_t ulSecondCode;
};

HALSTATUS HSLKSTAccessMiscIo(BOARDHANDLE* h, uint32_t kind, uint32_t line, uint32_t read,
                             uint8_t* level, uint32_t* present);

// Whether I2C port 16 runs over the board lines (4 and 3, or the expander's
// alternate line). On the family's first chip up to revision 1 it runs over
// the GPIO register's lines 1 and 0 unless feature bit 24 is set; that bit
// is also detection's "Chrontel encoder 0 found", so finding encoder 0 on
// port 1 moves every later port-16 transfer onto the board lines.
bool Port16OnBoardLines(const BOARDHANDLE* h);

// Whether the board description wires board I2C port 1 or 16: both its
// lines resolve, as opening the port resolves them, to a register and masks.
bool BoardPortWired(BOARDHANDLE* h, uint32_t port);

// Slots 19-24.
HALSTATUS HSLKSTI2COpenPort(BOARDHANDLE* h, uint32_t* clockClass, uint32_t port);
HALSTATUS HSLKSTI2CClosePort(BOARDHANDLE* h);
HALSTATUS HSLKSTI2CSetSCL(BOARDHANDLE* h, uint32_t port, uint32_t level);
HALSTATUS HSLKSTI2CGetSCL(BOARDHANDLE* h, uint32_t port, uint8_t* level);
HALSTATUS HSLKSTI2CSetSDA(BOARDHANDLE* h, uint32_t port, uint32_t level);
HALSTATUS HSLKSTI2CGetSDA(BOARDHANDLE* h, uint32_t port, uint8_t* level);

// The default line functions of an open port.
HALSTATUS HSLKSTI2CGenericRead(BOARDHANDLE* h, uint32_t reg, uint32_t enableMask,
                               uint32_t dataMask, uint8_t* level);
HALSTATUS HSLKSTI2CGenericWrite(BOARDHANDLE* h, uint32_t reg, uint32_t enableMask,
                                uint32_t dataMask, uint32_t waitForClock, uint32_t level);
HALSTATUS HSLKSTI2CGenericReadSCL(BOARDHANDLE* h, I2CPORTINFO* port, uint8_t* level);
HALSTATUS HSLKSTI2CGenericReadSDA(BOARDHANDLE* h, I2CPORTINFO* port, uint8_t* level);
HALSTATUS HSLKSTI2CGenericWriteSCL(BOARDHANDLE* h, I2CPORTINFO* port, uint32_t level);
HALSTATUS HSLKSTI2CGenericWriteSDA(BOARDHANDLE* h, I2CPORTINFO* port, uint32_t level);

// side 0: DVO 1; any other value: the second side.
HALSTATUS HLSKSTI2CSetClockState(BOARDHANDLE* h, uint8_t side);
HALSTATUS HLSKSTI2CRestoreClockState(BOARDHANDLE* h, uint8_t side);
