// The chip's integrated DAC: its ports in the register window (past the
// 8,192-byte window of the boards that carry no such DAC) and its indexed
// registers.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kRegDacIndex = 0x3C00;  // also the palette write index
inline constexpr uint32_t kRegDacPalette = 0x3C01;
inline constexpr uint32_t kRegDacReadMask = 0x3C02;
inline constexpr uint32_t kRegDacData = 0x3C0A;
inline constexpr uint32_t kRegDacStatus = 0x1E14;
inline constexpr uint8_t kDacStatusVRetrace = 1u << 3;

// Indexed registers.
inline constexpr uint8_t kDacLoadSenseReset = 0x06;
inline constexpr uint8_t kDacPixelFormat = 0x19;
inline constexpr uint8_t kDacClockCtl = 0x1A;
inline constexpr uint8_t kDacClockFromPll = 0x01;  // bits 0-1: source
inline constexpr uint8_t kDacClockSourceMask = 0x03;
inline constexpr uint8_t kDacClockOff = 0x04;
inline constexpr uint8_t kDacPllRun = 0x08;        // the PLL reset, released when set
inline constexpr uint8_t kDacOptions = 0x1D;
inline constexpr uint8_t kDacOption4 = 0x10;
inline constexpr uint8_t kDacOption5 = 0x20;
inline constexpr uint8_t kDacOutputCtl = 0x1E;
inline constexpr uint8_t kDacOutputOn = 0x01;
inline constexpr uint8_t kDacOutputInit = 0x08;
inline constexpr uint8_t kDacOutputPowerUp = 0x11;
inline constexpr uint8_t kDacDdcEnable = 0x2A;
inline constexpr uint8_t kDacDdcData = 0x2B;
inline constexpr uint8_t kDacSysM = 0x2C;  // M, N, P-and-S, status
inline constexpr uint8_t kDacSysStatus = 0x2F;
inline constexpr uint8_t kDacLoadSense = 0x3A;
inline constexpr uint8_t kDacSenseOn = 0x80;
inline constexpr uint8_t kDacComparators = 0x07;
inline constexpr uint8_t kDacPixM = 0x4C;
inline constexpr uint8_t kDacPixStatus = 0x4F;
inline constexpr uint8_t kDacPllLocked = 1u << 6;

// PCI configuration option register and its DAC bits.
inline constexpr uint32_t kPciOption = 0x40;
inline constexpr uint32_t kOptionSysClockMask = 0x3;
inline constexpr uint32_t kOptionSysClockHold = 0x4;
inline constexpr uint32_t kOptionDacPowerUp = 0x20;

// CRTC register holding the DAC's zoom field (bits 0-4).
inline constexpr uint8_t kCrtcZoom = 0x09;
