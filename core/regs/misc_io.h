// Registers of the chip's misc-IO, GPIO and DDC lines.
#pragma once

#include <stdint.h>

// DDC line pins: data bit k (k = 0..3), drive-enable bit k + 16.
inline constexpr uint32_t kRegDdcLines = 0x1C48;
inline constexpr uint32_t kDdcEnableShift = 16;
inline constexpr uint32_t kDdcPinCount = 4;

// Chip GPIO: data bit n (n = 0..8), drive-enable bit n + 10.
inline constexpr uint32_t kRegGpio = 0x1C4C;
inline constexpr uint32_t kGpioEnableShift = 10;
inline constexpr uint32_t kGpioLineCount = 9;

// Board misc-IO lines 9 and 10: drive-enable bit line - 9, data bit line - 5.
inline constexpr uint32_t kRegMiscIoHigh = 0x308;
inline constexpr uint32_t kMiscIoHighFirstLine = 9;
inline constexpr uint32_t kMiscIoHighDataShift = 4;
inline constexpr uint32_t kMiscIoLineCount = 11;
// What the kernel writes to misc-IO high when it creates a board's device
// (compositor bypass): line 9 driven, and on the second chip line 10 and
// bit 7 as well.
inline constexpr uint32_t kMiscIoHighCompBypass = 0x01;
inline constexpr uint32_t kMiscIoHighCompBypassKestrion2 = 0x83;

// Port 16 on the first chip's early revisions: GPIO lines 1 (SCL) and 0 (SDA).
inline constexpr uint32_t kGpioPort16SclData = 0x2;
inline constexpr uint32_t kGpioPort16SclEnable = 0x800;
inline constexpr uint32_t kGpioPort16SdaData = 0x1;
inline constexpr uint32_t kGpioPort16SdaEnable = 0x400;
