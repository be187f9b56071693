// Registers of the chip's misc-IO, GPIO and DDC lines, the DVO clock fields
// touched around expansion-module I2C transfers, and the integrated TV
// encoder's register block.
#pragma once

#include <cstdint>

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

// Port 16 on the first chip's early revisions: GPIO lines 1 (SCL) and 0 (SDA).
inline constexpr uint32_t kGpioPort16SclData = 0x2;
inline constexpr uint32_t kGpioPort16SclEnable = 0x800;
inline constexpr uint32_t kGpioPort16SdaData = 0x1;
inline constexpr uint32_t kGpioPort16SdaEnable = 0x400;

// Controller control words and the DVO power word.
inline constexpr uint32_t kRegCtl0 = 0x1C00;
inline constexpr uint32_t kRegCtl1 = 0x1C04;
inline constexpr uint32_t kRegDvoPower = 0x1C24;
inline constexpr uint32_t kCtl0Dvo1Disable = 1u << 12;
inline constexpr uint32_t kCtl0Dvo1CodeLow = 0x3u << 13;  // clock code bits 0-1
inline constexpr uint32_t kCtl0Dvo1CodeLowShift = 13;
inline constexpr uint32_t kCtl0Dvo1CodeHigh = 1u << 27;   // clock code bit 2
inline constexpr uint32_t kCtl1Dvo2Disable = 1u << 14;
inline constexpr uint32_t kCtl1Dvo2Code = 0x7u << 15;
inline constexpr uint32_t kCtl1Dvo2CodeShift = 15;
inline constexpr uint32_t kDvoPowerDvo1Off = 1u << 0;
inline constexpr uint32_t kDvoPowerDvo2Off = 1u << 1;
inline constexpr uint32_t kDvoPowerBothOff = 1u << 2;

// Register that selects the board's output arrangement at bring-up; the
// second arrangement is the one that writes 0 to it.
inline constexpr uint32_t kRegOutputArrangement = 0x1C58;

// Integrated TV encoder (CVE2) registers.
inline constexpr uint32_t kRegCve2First = 0x1D80;
inline constexpr uint32_t kRegCve2Last = 0x1DC0;
inline constexpr uint32_t kRegCve2Standard = 0x1D98;
inline constexpr uint32_t kRegCve2Control = 0x1DA4;
