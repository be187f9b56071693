// The library's status word: severity in bits 31-30 (ok, warning, error,
// fatal), then layer, module, function and kind of failure. A word with bit
// 31 set counts as failed; every operation that finds its handle failed
// returns at once without touching the hardware.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kHalOk = 0;
inline constexpr uint32_t kSeverityShift = 30;
inline constexpr uint32_t kSeverityOk = 0;
inline constexpr uint32_t kSeverityWarning = 1;
inline constexpr uint32_t kSeverityError = 2;
inline constexpr uint32_t kSeverityFatal = 3;
inline constexpr HALSTATUS kStatusFailedBit = 0x80000000u;

inline constexpr uint32_t HalSeverity(HALSTATUS s) { return s >> kSeverityShift; }
inline constexpr bool HalFailed(HALSTATUS s) { return (s & kStatusFailedBit) != 0; }

// ---- Codes of the board handle and its dispatch tables ----------------------
inline constexpr HALSTATUS kErrChipNotSupported = 0xb0302060;  // chip layer refuses the device
inline constexpr HALSTATUS kErrSlotNotInitialised = 0xb0303065;
inline constexpr HALSTATUS kErrUnknownDeviceId = 0x80701060;   // at configuration-space set-up
inline constexpr HALSTATUS kErrMemoryDecodingOff = 0x80701180;

// ---- Codes of the misc-IO lines and the I2C port ------------------------------
inline constexpr HALSTATUS kErrI2cGetScl = 0xb1d01120;  // also: SCL held low by a device
inline constexpr HALSTATUS kErrI2cSetScl = 0xb1d02120;
inline constexpr HALSTATUS kErrI2cGetSda = 0xb1d03120;
inline constexpr HALSTATUS kErrI2cSetSda = 0xb1d04120;
inline constexpr HALSTATUS kErrI2cBadPort = 0xb1d05120;
inline constexpr HALSTATUS kErrCve2UnknownField = 0x80000130;

// ---- Codes of the I2C master ----------------------------------------------------
inline constexpr HALSTATUS kErrI2cUnknownOpCode = 0x80302090;

// Merges `next` into `current`: ok takes anything, a warning gives way only
// to an error or fatal code, an error or fatal code is never replaced.
HALSTATUS ReturnCorrectError(HALSTATUS current, HALSTATUS next);
// Merges `code` into the handle's status word and returns the result.
HALSTATUS SetError(BOARDHANDLE* h, HALSTATUS code);
