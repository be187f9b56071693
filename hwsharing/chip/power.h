// Power management of the chip: the display power levels, blanking and the
// ACPI off/on cycle, across which a few clock registers are kept.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

HALSTATUS HSLKSTSaveCriticalData(BOARDHANDLE* h);
HALSTATUS HSLKSTRestoreCriticalData(BOARDHANDLE* h);

// Power-state words: the top byte is the class.
inline constexpr uint32_t kPowerAcpiOn = 0x80000000;
inline constexpr uint32_t kPowerAcpiOff = 0x80000008;
inline constexpr uint32_t kPowerClassAcpi = 0x80;
inline constexpr uint32_t kPowerClassApm = 0x50;
inline constexpr uint32_t kPowerClassDpms0 = 0x20;  // controller 0 and its partner 2
inline constexpr uint32_t kPowerClassDpms1 = 0x10;  // controller 1 and its partner 3
inline constexpr uint32_t kPowerClassBlank = 0x30;
inline constexpr uint32_t kPowerClassUnblank = 0x40;
// Display power levels (low byte of a DPMS word).
inline constexpr uint32_t kDpmsOn = 0;
inline constexpr uint32_t kDpmsStandby = 1;
inline constexpr uint32_t kDpmsSuspend = 4;
inline constexpr uint32_t kDpmsOff = 8;

HALSTATUS HSLKSTSetPowerState(BOARDHANDLE* h, uint32_t state);  // slot 0
HALSTATUS HSLKSTPM_DPMS(BOARDHANDLE* h, uint32_t state);
HALSTATUS HSLKSTPM_ACPI(BOARDHANDLE* h, uint32_t state);
HALSTATUS HSLKSTPM_APM(BOARDHANDLE* h);
// Turns all four controllers off.
HALSTATUS HSLKSTLowPower(BOARDHANDLE* h);
// Undoes the horizontal halving a split output configuration applied.
HALSTATUS HSLKSTRestoreOriginalModeInfo(BOARDHANDLE* h, MODEINFO* mode);
