// Plain types of the hardware library: the status word, the mode record of a
// display controller, the monitor record of an output, the companion-chip
// records and the I2C transaction record.
#pragma once

#include <cstddef>
#include <cstdint>

struct BOARDHANDLE;

using HALSTATUS = uint32_t;

// ---- flOutput bits of MODEINFO ---------------------------------------------
// Controller selection.
inline constexpr uint32_t kOutSecondController = 0x1;  // controller 2 or 3
inline constexpr uint32_t kOutModule1 = 0x80000;       // controllers 1 and 3
inline constexpr uint32_t kOutControllerOff = 0x100000;
// Outputs 0..3 by kind.
inline constexpr uint32_t kOutAnalog0 = 0x01000000;
inline constexpr uint32_t kOutAnalog1 = 0x08000000;
inline constexpr uint32_t kOutAnalog2 = 0x00000002;
inline constexpr uint32_t kOutAnalog3 = 0x00000004;
inline constexpr uint32_t kOutDigital0 = 0x20000000;
inline constexpr uint32_t kOutDigital1 = 0x40000000;
inline constexpr uint32_t kOutDigital2 = 0x80000000;
inline constexpr uint32_t kOutDigital3 = 0x00000100;
inline constexpr uint32_t kOutTv0 = 0x00000010;
inline constexpr uint32_t kOutTv1 = 0x04000000;
inline constexpr uint32_t kOutTv2 = 0x00000020;
inline constexpr uint32_t kOutTv3 = 0x00000040;
inline constexpr uint32_t kOutFourth0 = 0x00001000;
inline constexpr uint32_t kOutFourth1 = 0x00002000;
inline constexpr uint32_t kOutFourth2 = 0x00004000;
inline constexpr uint32_t kOutFourth3 = 0x00008000;

// The flOutput word of controller n (0..3) when it is off.
inline constexpr uint32_t kControllerOffWord[4] = {
    kOutControllerOff,                                      // controller 0
    kOutControllerOff | kOutModule1,                        // controller 1
    kOutControllerOff | kOutSecondController,               // controller 2
    kOutControllerOff | kOutModule1 | kOutSecondController, // controller 3
};

// ---- flSignalMode bits of MODEINFO -------------------------------------------
inline constexpr uint32_t kSignalInterlaced = 0x1;
inline constexpr uint32_t kSignalHSyncPositive = 0x4;
inline constexpr uint32_t kSignalVSyncPositive = 0x8;
// The horizontal timing is doubled for the output path; the request copy is
// the record kept.
inline constexpr uint32_t kSignalDoubledTiming = 0x4000;
inline constexpr uint32_t kSignalTvAdjustData = 0x8000;
// Adjustment pairs present in the TV groups: horizontal (groups 0, 1) and
// vertical (groups 2, 3).
inline constexpr uint32_t kSignalHAdjustPair = 1u << 16;
inline constexpr uint32_t kSignalVAdjustPair = 1u << 17;
inline constexpr uint32_t kSignalTripledClock = 0x40000;

// The fastest pixel clock one DVI link carries; above it a mode needs dual
// link.
inline constexpr uint32_t kDualLinkKHz = 165000;

// The library's mode record of one display controller (128 bytes).
struct MODEINFO {
  uint32_t ulDispWidth;
  uint32_t ulDispHeight;
  uint32_t ulDeskWidth;
  uint32_t ulDeskHeight;
  uint32_t ulBpp;
  uint32_t flOutput;
  uint32_t ulZoom;         // low half horizontal, high half vertical factor
  uint32_t ulRefreshRate;  // Hz
  uint32_t ulHorizRate;
  uint32_t ulPixClock;  // kHz
  uint32_t ulHFPorch;
  uint32_t ulHSync;
  uint32_t ulHBPorch;
  uint32_t ulHBorder;
  uint32_t ulVFPorch;
  uint32_t ulVSync;
  uint32_t ulVBPorch;
  uint32_t ulVBorder;
  uint32_t flSignalMode;
  // Horizontal offset, vertical offset, common value, Chrontel mode code per
  // encoder group; -1 = none.
  int8_t acTvAdjust[4][4];
  uint32_t ulFBPitch;  // pixels
  uint32_t ulDstOrg;
  uint32_t ulDisplayOrg;
  uint32_t ulReserved;
  uint32_t ulPanXGran;
  uint32_t ulPanYGran;
  uint32_t ulDisplayStartX;
  uint32_t ulDisplayStartY;
  uint32_t flModeCaps;
};
static_assert(sizeof(MODEINFO) == 128);
static_assert(offsetof(MODEINFO, flOutput) == 20);
static_assert(offsetof(MODEINFO, ulPixClock) == 36);
static_assert(offsetof(MODEINFO, flSignalMode) == 72);
static_assert(offsetof(MODEINFO, flModeCaps) == 124);

// Questions about a record's words.
inline bool RecordOff(const MODEINFO& m) { return (m.flOutput & kOutControllerOff) != 0; }
inline bool RecordInterlaced(const MODEINFO& m) { return (m.flSignalMode & kSignalInterlaced) != 0; }
inline bool HsyncNegative(const MODEINFO& m) { return (m.flSignalMode & kSignalHSyncPositive) == 0; }
inline bool VsyncNegative(const MODEINFO& m) { return (m.flSignalMode & kSignalVSyncPositive) == 0; }
// TV output 1 on controller 3 (module 1, second controller).
inline bool Tv1OnController3(const MODEINFO& m) {
  constexpr uint32_t kTv1 = kOutTv1 | kOutSecondController | kOutModule1;
  return (m.flOutput & kTv1) == kTv1;
}

// The clock a mode set chose: source code (0 free FS of the module, 1 the
// graphics clock, 2 the TV encoder's, 3 a shared running clock, 4 a free FS
// at position 2, 5-8 Chrontel encoder 0-3's TV clock, 9 the test clock),
// the controller's select code and a word carried along. The handle keeps
// one entry per output, whose third word says the entry is in use.
struct CLOCKINFO {
  uint32_t ulSource;
  uint32_t ulSelect;
  uint32_t ulInUse;
};
static_assert(sizeof(CLOCKINFO) == 12);

// One entry of an output's EDID mode list; width 0 ends the list.
struct EDIDMODE {
  uint32_t ulWidth;
  uint32_t ulHeight;
  uint32_t ulRefresh;  // Hz
  uint32_t flSource;
};
static_assert(sizeof(EDIDMODE) == 16);

// Monitor record of one output (1,352 bytes).
struct MONITORINFO {
  uint32_t flMonitor;
  uint32_t ulEdidVersion;
  uint32_t ulVendorProduct;
  uint8_t aucEdid[256];
  uint32_t ulMinVRate, ulMaxVRate;  // Hz
  uint32_t ulMinHRate, ulMaxHRate;  // kHz
  uint32_t ulMaxPixClock;           // kHz
  uint32_t ulImageWidthMm, ulImageHeightMm;
  uint32_t ulPreferredWidth, ulPreferredHeight, ulPreferredRefresh;
  uint32_t ulMinResWidth, ulMinResHeight;
  uint32_t ulMaxResWidth, ulMaxResHeight;
  uint32_t flAspectRatio;
  EDIDMODE aEdidModes[64];
};
static_assert(sizeof(MONITORINFO) == 1352);
static_assert(offsetof(MONITORINFO, aucEdid) == 12);
static_assert(offsetof(MONITORINFO, aEdidModes) == 328);

// A companion chip on one of the board's I2C ports.
struct I2CDEVICE {
  uint32_t ulPresent;
  uint32_t ulPort;
  uint32_t ulAddress;  // 8-bit write address
  uint32_t ulData;     // device id, kind or control word
};
static_assert(sizeof(I2CDEVICE) == 16);

// One bit-banged I2C byte transaction.
struct I2CTRANSACTION {
  uint32_t ulOpCode;
  uint32_t ulReserved;
  uint32_t ucData;  // the byte sits in the low 8 bits
  uint32_t flI2CControl;
  uint32_t ulI2CStatus;
  uint32_t ulHalfBitTime;  // microseconds; the bus rate in Hz in the public record
};
static_assert(sizeof(I2CTRANSACTION) == 24);

// Clock record of the system-clock slots (20 bytes).
struct SYSCLOCKINFO {
  uint32_t aulWord[5];
};
static_assert(sizeof(SYSCLOCKINFO) == 20);

// TV procamp values of the TV slots (48 bytes).
struct TVPROCAMP {
  uint32_t aulValue[12];
};
static_assert(sizeof(TVPROCAMP) == 48);
