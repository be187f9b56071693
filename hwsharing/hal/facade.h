// The X driver's whole view of the hardware: ORV functions over a board
// handle that take and give QLBMODEINFO records and chain the library's
// entries that one X-side operation needs. Each returns the status word of
// the last entry it called and never stops a chain early.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"
#include "hwsharing/hal/mode_records.h"

struct ORVClientRecord;

// The monitor description of ORVGetDeviceEdidInfo.
inline constexpr size_t kDeviceEdidTextSize = 64;
inline constexpr uint32_t kDeviceEdidModes = 25;
struct DEVICEEDIDINFO {
  char szVendorSign[kDeviceEdidTextSize];  // three letters and a zero byte
  char szMonitorName[kDeviceEdidTextSize];
  char szSerialNumber[kDeviceEdidTextSize];
  QLBMODEINFO oPreferredTiming;
  uint32_t ulModeCount;  // always kDeviceEdidModes
  QLBMODEINFO aoModes[kDeviceEdidModes];
};
static_assert(sizeof(DEVICEEDIDINFO) == 3 * 64 + 104 + 4 + 25 * 104);

// Results of ORVValidateTimingsWithEdid.
inline constexpr uint32_t kEdidTimingOk = 0;
inline constexpr uint32_t kEdidTimingOutOfRange = 274;
inline constexpr uint32_t kEdidClockTooHigh = 49;
// ORVGetVideoParameters: only a lower refresh, or nothing, was found.
inline constexpr HALSTATUS kVideoParametersNotFound = 0x80000000;
// ORVGetMonitorInputType.
inline constexpr uint32_t kInputAnalog = 1;
inline constexpr uint32_t kInputDigital = 2;
inline constexpr uint32_t kInputTv = 3;
// ORVGetMaxPixelClock for a type the board information has no limit for.
inline constexpr uint32_t kDefaultMaxPixelClockKhz = 125000;
// Board flag of a genlock request.
inline constexpr uint32_t kBoardFlagGenlock = 0x20000000;

// ---- Library, board and records -----------------------------------------------------
uint32_t ORVGetBOARDHANDLESize();
HALSTATUS ORVOpenLibrary(BOARDHANDLE* h, ORVClientRecord* client);
HALSTATUS ORVCloseLibrary(BOARDHANDLE* h);
HALSTATUS ORVGetBiosInfo(BOARDHANDLE* h, uint8_t* buffer);  // 128 bytes
HALSTATUS ORVInitKstHardware(BOARDHANDLE* h);
uint32_t ORVGetMaxOutputs(BOARDHANDLE* h);
uint32_t ORVIsQuadBoard(BOARDHANDLE* h);
uint32_t ORVQuadChrontelInversion(BOARDHANDLE* h);
uint32_t ORVGetMaxPixelClock(BOARDHANDLE* h, uint32_t type, uint32_t head);
// Five words: two flag words, a sum and the two words summed.
uint32_t ORVGetHardwareInfo(BOARDHANDLE* h, uint32_t* info);
void ORVSetPackedPixelCaps(BOARDHANDLE* h, uint32_t type);
uint32_t ORVSetDualLinkCaps(BOARDHANDLE* h);

// ---- Monitors -------------------------------------------------------------------------
uint32_t ORVGetMonitorInputType(BOARDHANDLE* h, uint32_t output);
// The output's EDID block (128 bytes) when it has a valid one; otherwise
// `buffer` is left alone.
HALSTATUS ORVGetMonitorEDID(BOARDHANDLE* h, uint8_t* buffer, uint32_t output);
DEVICEEDIDINFO* ORVGetDeviceEdidInfo(BOARDHANDLE* h, uint32_t output, DEVICEEDIDINFO* info);
uint32_t ORVValidateTimingsWithEdid(BOARDHANDLE* h, uint32_t output, const QLBMODEINFO* qlb);
// The monitor's timing for the record's size at `refresh` Hz.
HALSTATUS ORVGetVideoParameters(BOARDHANDLE* h, QLBMODEINFO* qlb, uint32_t refresh);

// ---- Modes ----------------------------------------------------------------------------
HALSTATUS ORVValidateMode(BOARDHANDLE* h, QLBMODEINFO* qlb);
HALSTATUS ORVValidateVideoParameters(BOARDHANDLE* h, QLBMODEINFO* qlb);
HALSTATUS ORVGetTVOutputParameters(BOARDHANDLE* h, QLBMODEINFO* qlb);
HALSTATUS ORVSetMode(BOARDHANDLE* h, QLBMODEINFO* qlb);
HALSTATUS ORVSetTVMode(BOARDHANDLE* h, QLBMODEINFO* qlb);
HALSTATUS ORVSetKvdTVMode(BOARDHANDLE* h, QLBMODEINFO* qlb);
HALSTATUS ORVEnableGenlock(BOARDHANDLE* h);
HALSTATUS ORVSetDisplayStart(BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y);
HALSTATUS ORVSetColorLUT(BOARDHANDLE* h, uint32_t controller, uint32_t first, void* table, uint32_t count);
// Levels 0-3: on, standby, suspend, off.
void ORVSetDPMS(BOARDHANDLE* h, uint32_t level);
HALSTATUS ORVSetTVStandard(BOARDHANDLE* h, uint32_t code);
HALSTATUS ORVSetTVCableType(BOARDHANDLE* h, uint32_t code);
HALSTATUS ORVDisableCursors(BOARDHANDLE* h);

// ---- VGA ------------------------------------------------------------------------------
HALSTATUS ORVDisableControllers(BOARDHANDLE* h);
HALSTATUS ORVVgaDisableControllers(BOARDHANDLE* h);
HALSTATUS ORVSwitchToVGA(BOARDHANDLE* h);
// The VGA state is kept in the board's own handle.
HALSTATUS ORVSaveVgaState(BOARDHANDLE* h, uint32_t kind);
HALSTATUS ORVRestoreVgaState(BOARDHANDLE* h, uint32_t kind);
HALSTATUS ORVSaveFpgaVgaState(BOARDHANDLE* h, uint32_t kind);
HALSTATUS ORVGetVgaOutputState(BOARDHANDLE* h, uint32_t* word);
// 1 when one of the TV encoders answers that it drives the VGA picture.
uint32_t ORVIsVGA(BOARDHANDLE* h);
