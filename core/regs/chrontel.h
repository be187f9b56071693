// Registers of the Chrontel TV/DVI encoders on the I2C buses (8-bit register
// numbers at the encoder's I2C address) and the device ids the driver tells
// apart.
#pragma once

#include <stdint.h>

// ---- Device ids (register 0x4A) ------------------------------------------------
inline constexpr uint32_t kChrIdVerB = 133;   // the quad boards' encoder
inline constexpr uint32_t kChrIdVerC = 149;
inline constexpr uint32_t kChrIdVerC2 = 128;
inline constexpr uint32_t kChrIdLvds = 0x81;  // the LVDS transmitter: a panel, no TV

// ---- I2C addresses ----------------------------------------------------------------
inline constexpr uint32_t kChrAddressA = 0xEC;
inline constexpr uint32_t kChrAddressB = 0xEA;

// ---- Registers ----------------------------------------------------------------------
inline constexpr uint8_t kChrRegDisplayMode = 0x00;
inline constexpr uint8_t kChrRegFlicker = 0x01;   // bits 0-1 flicker, 2-3 text, 4, 6 cable
inline constexpr uint8_t kChrRegInput = 0x02;
inline constexpr uint8_t kChrRegPositionHigh = 0x03;  // bits 0-2 sharpness, 3-4 position, 5 start
inline constexpr uint8_t kChrRegStart = 0x04;
inline constexpr uint8_t kChrRegHPosition = 0x05;
inline constexpr uint8_t kChrRegVPosition = 0x06;
inline constexpr uint8_t kChrRegBrightness = 0x07;  // the console's TV class on the VGA probe
inline constexpr uint8_t kChrRegContrast = 0x08;
inline constexpr uint8_t kChrRegPllControl = 0x09;
inline constexpr uint8_t kChrRegPllN = 0x0A;
inline constexpr uint8_t kChrRegPllM = 0x0B;
inline constexpr uint8_t kChrRegSubcarrier = 0x0C;  // 0x0C-0x0F, most significant first
inline constexpr uint8_t kChrRegClockSource = 0x10;
inline constexpr uint8_t kChrRegDtvOutput = 0x14;
inline constexpr uint8_t kChrRegClockMode = 0x1C;
inline constexpr uint8_t kChrRegGpioControl = 0x1D;
inline constexpr uint8_t kChrRegGpio = 0x1E;  // direction bits 6-7, data bits 4-5
inline constexpr uint8_t kChrRegSync = 0x1F;
inline constexpr uint8_t kChrRegSense = 0x20;
inline constexpr uint8_t kChrRegDac = 0x21;
inline constexpr uint8_t kChrRegDac2 = 0x22;
inline constexpr uint8_t kChrRegDviControl = 0x23;
inline constexpr uint8_t kChrRegDviParams = 0x31;  // 0x31-0x37
inline constexpr uint8_t kChrRegDviParam3 = 0x33;
inline constexpr uint8_t kChrRegDviParam5 = 0x35;
inline constexpr uint8_t kChrRegDviParam6 = 0x36;
inline constexpr uint8_t kChrRegReset = 0x48;   // bit 3 data path
inline constexpr uint8_t kChrRegPower = 0x49;   // bit 0 power-down, bit 6 PLL
inline constexpr uint8_t kChrRegDeviceId = 0x4A;
// The console's marks in the power register, left by the return to VGA.
inline constexpr uint8_t kChrConsoleMarkTv = 0x20;
inline constexpr uint8_t kChrConsoleMarkDigital = 0xDE;
inline constexpr uint8_t kChrRegPllLock = 0x4D;
inline constexpr uint8_t kChrReg6F = 0x6F;
inline constexpr uint8_t kChrReg70 = 0x70;
inline constexpr uint8_t kChrReg71 = 0x71;
inline constexpr uint8_t kChrReg75 = 0x75;
inline constexpr uint8_t kChrReg7A = 0x7A;
inline constexpr uint8_t kChrReg7B = 0x7B;
inline constexpr uint8_t kChrReg7D = 0x7D;
inline constexpr uint8_t kChrReg7E = 0x7E;

// ---- Fields -------------------------------------------------------------------------
inline constexpr uint8_t kChrResetDataPath = 0x08;
inline constexpr uint8_t kChrPowerDown = 0x01;
inline constexpr uint8_t kChrPowerPll = 0x40;
inline constexpr uint8_t kChrPllLocked = 0x04;        // register 0x4D
inline constexpr uint8_t kChrDviLockEnable = 0x04;    // register 0x23
inline constexpr uint8_t kChrDviParam5LockEnable = 0x40;  // register 0x35
inline constexpr uint8_t kChrSenseStart = 0x01;       // register 0x20
inline constexpr uint8_t kChrSenseBits = 0x1E;
inline constexpr uint8_t kChrDacSenseEnable = 0x01;   // register 0x21
