// The hardware library's public entry points: each clears the board's status
// word, does its work through one slot of the device jump table or one
// internal routine, and returns the status word. Board bring-up finds,
// identifies and opens a board from its configuration space.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

struct OUTPUTINFO;

inline constexpr HALSTATUS kErrBoardNotSupported = 0xA0203060;
inline constexpr HALSTATUS kErrCustomCallClass = 0x807020E0;
inline constexpr HALSTATUS kErrNoHotPlugInterrupt = 0xA020C060;

// Notices the library gives its client around a mode set.
inline constexpr uint32_t kNoticeBeforeSetMode = 0x80000101;
inline constexpr uint32_t kNoticeAfterSetMode = 0x80000102;

// Power states with a board-wide meaning: off, and on again.
inline constexpr uint32_t kPowerStateOn = 0x80000000;
inline constexpr uint32_t kPowerStateOff = 0x80000008;

// Classes of a custom-call code (its high half).
inline constexpr uint32_t kCustomCallClassMask = 0xFFFF0000;
inline constexpr uint32_t kCustomCallChip = 0x00000000;
inline constexpr uint32_t kCustomCallNothing = 0x40000000;
inline constexpr uint32_t kCustomCallClient = 0x80000000;

// Half period (microseconds) of an I2C port opened without a bit rate.
inline constexpr uint32_t kI2cDefaultHalfPeriodUs = 40;

// Output-capability bits these entries test.
inline constexpr uint32_t kCapsHotPlugInterrupt = 0x4;
inline constexpr uint32_t kCapsDualController = 0x20000;
// OR-ed into the PanelLink module's register to acknowledge its hot plug.
inline constexpr uint8_t kPanelLinkHotPlugAcknowledge = 0xA8;

uint32_t HALQueryLibraryVersion(BOARDHANDLE* h);
uint32_t HALQueryHandleSize(BOARDHANDLE* h);
HALSTATUS HALQueryBoardSupport(BOARDHANDLE* h);
HALSTATUS HALGetBoardConfigSpaceInfo(BOARDHANDLE* h);
HALSTATUS HALGetBoardInfo(BOARDHANDLE* h);

HALSTATUS HALValidateMode(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HALValidateVideoParameters(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HALSwitchToVGA(BOARDHANDLE* h);
// 0 for a mode set that succeeded (a warning included), else its status.
HALSTATUS HALSetMode(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HALSetSystemClock(BOARDHANDLE* h, const SYSCLOCKINFO* clock);
HALSTATUS HALSetStandardSystemClock(BOARDHANDLE* h);
HALSTATUS HALSetDisplayOrg(BOARDHANDLE* h, uint32_t controller, uint32_t org);
HALSTATUS HALSetDisplayStart(BOARDHANDLE* h, uint32_t controller, uint32_t x, uint32_t y);
HALSTATUS HALSetPowerState(BOARDHANDLE* h, uint32_t state);
HALSTATUS HALCustomCall(BOARDHANDLE* h, uint32_t code, void* p, void* q);
HALSTATUS HALPCustomCall(BOARDHANDLE* h, uint32_t code, void* p, void* q);
HALSTATUS HALInitHardware(BOARDHANDLE* h);
HALSTATUS HALValidatePhysAddr(BOARDHANDLE* h);
HALSTATUS HALConfigOverride(BOARDHANDLE* h, uint32_t word1, uint32_t word2);
HALSTATUS HALValidateDualCRTCConfig(BOARDHANDLE* h, MODEINFO* modes);
HALSTATUS HALGetModeBandwidth(BOARDHANDLE* h, MODEINFO* mode, uint32_t* bandwidth);
HALSTATUS HALClearDisplay(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HALSetColorLUT(BOARDHANDLE* h, uint32_t controller, uint32_t first, void* table, uint32_t count);
HALSTATUS HALDeviceIoControl(BOARDHANDLE* h, uint32_t code, const void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* written);
HALSTATUS HALGetAllMonitorInfo(BOARDHANDLE* h);
// `rate` in Hz: null or non-zero opens the port at its own rate; 0 asks for
// the port's half period and gets the rate it gives.
HALSTATUS HALI2COpenPort(BOARDHANDLE* h, uint32_t port, uint32_t word, uint32_t* rate);
HALSTATUS HALI2CClosePort(BOARDHANDLE* h, uint32_t port);
HALSTATUS HALValidateDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count);
HALSTATUS HALSetDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count);
HALSTATUS HALSetOverscanColor(BOARDHANDLE* h, uint32_t colour, uint32_t controller);
HALSTATUS HALGetOutputInfo(BOARDHANDLE* h, OUTPUTINFO* info, uint32_t requestMask);
HALSTATUS HALClearHotPlugHwInt(BOARDHANDLE* h);
HALSTATUS HALGetDiscreteVideoParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t identifier);
// Converts a 256-byte EDID 2.0 block into a 128-byte EDID 1.x block.
HALSTATUS HALConvertEDID2toEDID1(BOARDHANDLE* h, uint8_t* out, const uint8_t* edid2);
