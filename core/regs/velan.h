// Registers of the Velan TV encoder on I2C port 1 (8-bit register indices;
// two-byte values low byte first).
#pragma once

#include <stddef.h>
#include <stdint.h>

inline constexpr uint8_t kVlnRegPllM = 0x80;
inline constexpr uint8_t kVlnRegPllN = 0x81;
inline constexpr uint8_t kVlnRegPllP = 0x82;
inline constexpr uint8_t kVlnRegGamma = 0x83;  // 0x83-0x8B
inline constexpr size_t kVlnGammaRegisters = 9;
inline constexpr uint8_t kVlnRegControl8C = 0x8C;
inline constexpr uint8_t kVlnRegControl8D = 0x8D;  // bit 2 gamma, bit 3 text filter
inline constexpr uint8_t kVlnRegReset8E = 0x8E;
inline constexpr uint8_t kVlnRegTiming90 = 0x90;
inline constexpr uint8_t kVlnRegTiming91 = 0x91;
inline constexpr uint8_t kVlnRegDeflicker = 0x93;
inline constexpr uint8_t kVlnRegMode94 = 0x94;
inline constexpr uint8_t kVlnRegSync = 0x95;
inline constexpr uint8_t kVlnRegTiming96 = 0x96;
inline constexpr uint8_t kVlnRegTiming98 = 0x98;
inline constexpr uint8_t kVlnRegTiming9A = 0x9A;
inline constexpr uint8_t kVlnRegTiming9C = 0x9C;
inline constexpr uint8_t kVlnRegTiming9E = 0x9E;
inline constexpr uint8_t kVlnRegTimingA0 = 0xA0;
inline constexpr uint8_t kVlnRegTimingA2 = 0xA2;
inline constexpr uint8_t kVlnRegTimingA4 = 0xA4;
inline constexpr uint8_t kVlnRegTimingA6 = 0xA6;
inline constexpr uint8_t kVlnRegTimingA8 = 0xA8;
inline constexpr uint8_t kVlnRegHStart = 0xAA;
inline constexpr uint8_t kVlnRegTimingAC = 0xAC;
inline constexpr uint8_t kVlnRegTimingAE = 0xAE;
inline constexpr uint8_t kVlnRegCable = 0xB0;  // low three bits the cable
inline constexpr uint8_t kVlnRegVersion = 0xB2;
inline constexpr uint8_t kVlnRegDataTransfer = 0xB3;
inline constexpr uint8_t kVlnRegSense = 0xB8;
inline constexpr uint8_t kVlnRegGpio = 0xB9;  // bits 4-5 GPIO, bit 5 output state
inline constexpr uint8_t kVlnRegTimingBE = 0xBE;
inline constexpr uint8_t kVlnRegControlBF = 0xBF;
inline constexpr uint8_t kVlnRegTimingC2 = 0xC2;
inline constexpr uint8_t kVlnRegDetectC6 = 0xC6;
inline constexpr uint8_t kVlnRegD3 = 0xD3;
inline constexpr uint8_t kVlnRegVfciReset = 0xD4;
inline constexpr uint8_t kVlnRegDetect3E = 0x3E;

