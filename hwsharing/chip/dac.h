// The chip's integrated DAC, reached through its indexed register window:
// pixel format and palette ramp, its pixel and system PLLs with their
// divider search, screen blanking, output enable, load sensing, zoom and
// the DDC lines of the analog ports. The routines fill the MDAC dispatch
// table.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrDacDepth = 0xB08071D0;
inline constexpr HALSTATUS kErrDacPixelPll = 0xB08081A1;
inline constexpr HALSTATUS kErrDacSystemPll = 0xB08091A2;
inline constexpr HALSTATUS kErrDacSetScl = 0xB080B120;
inline constexpr HALSTATUS kErrDacGetScl = 0xB080C120;
inline constexpr HALSTATUS kErrDacSetSda = 0xB080E120;
inline constexpr HALSTATUS kErrDacGetSda = 0xB080F120;
inline constexpr HALSTATUS kErrDacZoom = 0xB08130F0;

// Kinds of HSLDACComputePLLParam.
inline constexpr uint32_t kDacPllPixel = 0;
inline constexpr uint32_t kDacPllSystem = 1;
inline constexpr uint32_t kDacPllFixed = 2;  // 220,000 kHz VCO maximum
inline constexpr uint32_t kDacFixedVcoMaxKHz = 220000;
inline constexpr uint32_t kDacMinVcoKHz = 50000;
inline constexpr uint32_t kDacLockReadsMax = 10000000;
inline constexpr uint32_t kDacRetraceReadsMax = 10000000;
// Reads of the status while load sensing waits for the retrace to end.
inline constexpr uint32_t kDacSenseRetraceReadsMax = 1000000;
inline constexpr uint32_t kDacSclReleaseTries = 200;
inline constexpr uint32_t kDacMaxI2cClockHz = 100000;
// Board flag that keeps the palette ramp out of HSLDACInit.
inline constexpr uint32_t kBoardFlagNoDacRamp = 1u << 18;

// What the board handle keeps for the DAC; its owner fills the frequencies.
struct DACINFO {
  uint32_t ulRefKHz;
  uint32_t ulPixelVcoMaxKHz;
  uint32_t ulSystemVcoMaxKHz;
  uint8_t ucOption;          // bits 0 and 6 go to DAC register 0x1D
  uint8_t ucExpanderCache;   // the last byte written to a DDC expander
  uint8_t aucExpanderAddress[2];  // DDC ports 6 and 7
};

HALSTATUS HSLDACReadRegister(BOARDHANDLE* h, uint32_t index, uint8_t* value);
HALSTATUS HSLDACWriteRegister(BOARDHANDLE* h, uint32_t index, uint8_t value);
HALSTATUS HSLDACScreenState(BOARDHANDLE* h, uint32_t* on);
HALSTATUS HSLDACScreenOff(BOARDHANDLE* h);
HALSTATUS HSLDACScreenOn(BOARDHANDLE* h);
HALSTATUS HSLDACDisableOutput(BOARDHANDLE* h);
HALSTATUS HSLDACEnableOutput(BOARDHANDLE* h);
HALSTATUS HSLDACGetMaxI2CClock(BOARDHANDLE* h, uint32_t* hz);
HALSTATUS HSLDACWaitForVSync(BOARDHANDLE* h);
HALSTATUS HSLDACInit(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLDACPowerUp(BOARDHANDLE* h);
HALSTATUS HSLDACPIXPLLSET(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLDACSYSPLLSET(BOARDHANDLE* h, uint32_t khz);
// Leaves M, N, P untouched when the VCO would stay at or below 50,000 kHz.
HALSTATUS HSLDACComputePLLParam(BOARDHANDLE* h, uint32_t khz, uint32_t kind, uint32_t* m,
                                uint32_t* n, uint32_t* p, uint32_t* s);
HALSTATUS HSLDACAdjustSystemPLL(BOARDHANDLE* h);
HALSTATUS HSLDACSetZoom(BOARDHANDLE* h, uint32_t factor);
HALSTATUS HSLDACSenceMonitorLoad(BOARDHANDLE* h, uint32_t* present);
HALSTATUS HSLDACI2CSetSCL(BOARDHANDLE* h, uint32_t port, uint32_t level);
HALSTATUS HSLDACI2CGetSCL(BOARDHANDLE* h, uint32_t port, uint8_t* level);
HALSTATUS HSLDACI2CAltGetSCL(BOARDHANDLE* h, uint32_t port, uint8_t* level);
HALSTATUS HSLDACI2CSetSDA(BOARDHANDLE* h, uint32_t port, uint32_t level);
HALSTATUS HSLDACI2CGetSDA(BOARDHANDLE* h, uint32_t port, uint8_t* level);
HALSTATUS HSLDACI2CAltGetSDA(BOARDHANDLE* h, uint32_t port, uint8_t* level);
