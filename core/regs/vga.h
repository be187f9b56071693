// The chip's VGA-compatible registers: each sits at its legacy I/O port plus
// 0x1C00 in the register window. Byte registers.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kVgaAttrIndexData = 0x1FC0;  // index, then data (flip-flop)
inline constexpr uint32_t kVgaAttrDataRead = 0x1FC1;
inline constexpr uint32_t kVgaMiscOutWrite = 0x1FC2;
inline constexpr uint32_t kVgaSeqIndex = 0x1FC4;
inline constexpr uint32_t kVgaSeqData = 0x1FC5;
inline constexpr uint32_t kVgaPaletteReadIndex = 0x1FC7;
inline constexpr uint32_t kVgaPaletteWriteIndex = 0x1FC8;
inline constexpr uint32_t kVgaPaletteData = 0x1FC9;
inline constexpr uint32_t kVgaMiscOutRead = 0x1FCC;
inline constexpr uint32_t kVgaGfxIndex = 0x1FCE;
inline constexpr uint32_t kVgaGfxData = 0x1FCF;
inline constexpr uint32_t kVgaCrtcIndex = 0x1FD4;
inline constexpr uint32_t kVgaCrtcData = 0x1FD5;
inline constexpr uint32_t kVgaInputStatus1 = 0x1FDA;  // reading it resets the attribute flip-flop
inline constexpr uint32_t kVgaCrtcExtIndex = 0x1FDE;
inline constexpr uint32_t kVgaCrtcExtData = 0x1FDF;

// Input status 1.
inline constexpr uint8_t kVgaStatusVRetrace = 1u << 3;
// Attribute index bit that turns the display back on.
inline constexpr uint8_t kVgaAttrVideoEnable = 0x20;

// Sequencer register 1 (clocking mode).
inline constexpr uint8_t kVgaSeqClocking = 0x01;
inline constexpr uint8_t kVgaSeqScreenOff = 1u << 5;
inline constexpr uint8_t kVgaSeqDotClockHalf = 1u << 3;

// Miscellaneous output.
inline constexpr uint8_t kVgaMiscTextMode = 0x67;     // the 80x25 text mode's value
inline constexpr uint8_t kVgaMiscClockSelect = 0x0C;  // bits 2-3
inline constexpr uint8_t kVgaMiscHsyncPositive = 0x40;
inline constexpr uint8_t kVgaMiscVsyncPositive = 0x80;
inline constexpr uint8_t kVgaMiscIoAddress = 0x01;
inline constexpr uint8_t kVgaMiscRamEnable = 0x02;

// CRTC registers.
inline constexpr uint8_t kCrtcHTotal = 0x00;
inline constexpr uint8_t kCrtcHDisplayEnd = 0x01;
inline constexpr uint8_t kCrtcHBlankStart = 0x02;
inline constexpr uint8_t kCrtcHBlankEnd = 0x03;
inline constexpr uint8_t kCrtcHSyncStart = 0x04;
inline constexpr uint8_t kCrtcHSyncEnd = 0x05;
inline constexpr uint8_t kCrtcVTotal = 0x06;
inline constexpr uint8_t kCrtcOverflow = 0x07;
inline constexpr uint8_t kCrtcPresetRowScan = 0x08;
inline constexpr uint8_t kCrtcMaxScanLine = 0x09;
inline constexpr uint8_t kCrtcStartHigh = 0x0C;
inline constexpr uint8_t kCrtcStartLow = 0x0D;
inline constexpr uint8_t kCrtcVSyncStart = 0x10;
inline constexpr uint8_t kCrtcVSyncEnd = 0x11;
inline constexpr uint8_t kCrtcVDisplayEnd = 0x12;
inline constexpr uint8_t kCrtcOffset = 0x13;
inline constexpr uint8_t kCrtcVBlankStart = 0x15;
inline constexpr uint8_t kCrtcVBlankEnd = 0x16;
inline constexpr uint8_t kCrtcModeControl = 0x17;
inline constexpr uint8_t kCrtcLineCompare = 0x18;
inline constexpr uint8_t kCrtcProtect = 0x80;  // 0x11 bit 7 guards 0x00-0x07

// CRTC extension registers (0x1FDE / 0x1FDF).
inline constexpr uint8_t kCrtcExtAddress = 0;   // start bits 16-19, pitch bits 8-9, start bit 20, interlace
inline constexpr uint8_t kExt0StartHigh = 0x0F;
inline constexpr uint8_t kExt0PitchHigh = 0x30;
inline constexpr uint8_t kExt0StartBit20 = 0x40;
inline constexpr uint8_t kExt0Interlace = 0x80;
inline constexpr uint8_t kCrtcExtHorizontal = 1;
inline constexpr uint8_t kExt1HTotal8 = 0x01;
inline constexpr uint8_t kExt1HBlankStart8 = 0x02;
inline constexpr uint8_t kExt1HSyncStart8 = 0x04;
inline constexpr uint8_t kExt1HReset = 0x08;
inline constexpr uint8_t kExt1HSyncOff = 0x10;
inline constexpr uint8_t kExt1VSyncOff = 0x20;
inline constexpr uint8_t kExt1HBlankEnd6 = 0x40;
inline constexpr uint8_t kExt1VReset = 0x80;
inline constexpr uint8_t kCrtcExtVertical = 2;
inline constexpr uint8_t kCrtcExtMode = 3;  // bits 0-2 bytes per pixel - 1, bit 7 high resolution
inline constexpr uint8_t kExt3Hires = 0x80;
inline constexpr uint8_t kExt3Scale = 0x07;
inline constexpr uint8_t kCrtcExtHalfCount = 5;
inline constexpr uint8_t kCrtcExtPriority = 6;  // bits 0-2 level, bits 4-6 maximum level
