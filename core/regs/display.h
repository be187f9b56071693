// Registers of the display controllers and their clock modules: control,
// display mode and line counter of each controller, the two module clock
// words with the DVO clock fields, the DVO power word and the output
// arrangement.
#pragma once

#include <stdint.h>

#include "core/regs/field.h"

// ---- Display controllers (controller n at + kControllerStride * n) ---------------
inline constexpr uint32_t kControllerStride = 512;
inline constexpr uint32_t kRegControllerCtl = 0x1800;  // bit 0: controller (primary surface) on
inline constexpr uint32_t kControllerEnable = 1u << 0;
inline constexpr uint32_t kRegDisplayMode = 0x1900;
inline constexpr uint32_t kDisplayInterlaced = 1u << 0;
inline constexpr uint32_t kRegLineCounter = 0x1924;
// Set while the cursor is on the second of the two heads one controller
// serves on the three- and four-head desktops.
inline constexpr uint32_t kRegControllerCursorSpan = 0x1888;
inline constexpr uint32_t kControllerCursorSecondHead = 0x16;
inline constexpr uint32_t kLineCounterMask = 0xFFF;
// Vertical timing: low half the first line, high half the second (each the
// line number minus one).
inline constexpr uint32_t kRegVBlank = 0x1920;  // blank start, blank end
inline constexpr uint32_t kRegVTotal = 0x192C;  // total, active
inline constexpr uint32_t kRegVSync = 0x1930;   // sync start, sync end
inline constexpr uint32_t kRegOverscan = 0x188C;

// ---- Controller blocks (module m at + kControllerStride * m) ----------------------------
// Controllers 0 and 1 use a module's first register set, 2 and 3 its second.
inline constexpr uint32_t kRegController2Ctl = 0x19A8;
inline constexpr uint32_t kController2On = 1u << 0;
inline constexpr uint32_t kController2Interlaced = 1u << 13;
// Dimming and output control: bits 1 and 7 dim, byte 3 the dim level; bit 5
// and bits 4-5 belong to the second controller.
inline constexpr uint32_t kRegOutputCtl = 0x1888;
inline constexpr uint32_t kOutputCtlDim = (1u << 1) | (1u << 7);
using OutputCtlDimLevel = RegField<24, 8>;
inline constexpr uint32_t kOutputCtlSecond = 1u << 5;
inline constexpr uint32_t kOutputCtlSecondBits = 3u << 4;
// Timing block: the display mode word (bit 0 interlaced, bits 11-14 zoom,
// bits 16-17 held in a video reset), horizontal and vertical words, each
// two 12-bit halves.
inline constexpr uint32_t kRegHBlank = 0x1908;
inline constexpr uint32_t kRegSecondSize = 0x190C;
inline constexpr uint32_t kRegHTotal = 0x1910;
inline constexpr uint32_t kHTotalHighHalf = 0xFFFu << 16;
inline constexpr uint32_t kRegHSync = 0x1914;
inline constexpr uint32_t kRegVTotalCopy = 0x1918;
inline constexpr uint32_t kRegPreload = 0x191C;  // module 1's at 0x1B1C
inline constexpr uint32_t kRegSecondHeight = 0x1928;  // bit 31 interlaced
inline constexpr uint32_t kRegHalfLine = 0x1934;
inline constexpr uint32_t kDisplayModeResetHold = 3u << 16;
inline constexpr uint32_t kSecondHeightInterlaced = 1u << 31;
inline constexpr uint32_t kHalfMask = 0xFFF;
inline constexpr uint32_t Halves(uint32_t low, uint32_t high) {
  return (low & kHalfMask) | ((high & kHalfMask) << 16);
}
// Surface: pitch word (bits 0-13 pitch in pixels, 16-23 a constant 3,
// 24-29 the surface format code), the second set's copy and format word.
inline constexpr uint32_t kRegPitch = 0x1834;
inline constexpr uint32_t kRegSecondPitch = 0x19D8;
inline constexpr uint32_t kRegSecondFormat = 0x19E4;
using PitchPixels = RegField<0, 14>;
using PitchFormat = RegField<24, 6>;
inline constexpr uint32_t kPitchConstant = 3u << 16;
// Display start: surface address (second field), window start x, end x - 1,
// start y, end y - 1, for each register set.
struct DisplayStartRegs {
  uint32_t address, address2, x0, x1, y0, y1;
};
inline constexpr DisplayStartRegs kDisplayStartFirst = {0x1824, 0x1828, 0x1804, 0x1808, 0x1848, 0x184C};
inline constexpr DisplayStartRegs kDisplayStartSecond = {0x19C8, 0x19CC, 0x19AC, 0x19B0, 0x19F0, 0x19F4};
inline constexpr uint32_t kDisplayStartLimit = 4096;
// The video-parameter patch of module 1: two 12-bit fields.
inline constexpr uint32_t kRegVidParmPatch = 0x1B14;
inline constexpr uint32_t kRegCursorCtl = 0x18C4;

inline constexpr uint32_t ControllerReg(uint32_t reg, uint32_t controller) {
  return reg + kControllerStride * controller;
}

// ---- Displayed buffers of the four displays -----------------------------------------
// Each display (mask 1, 2, 4, 8) scans out one of four buffers. Its control
// register holds the displayed-slot field that software writes, a sync bit
// (take the slot at the next vertical blank) and the read-only slot shown
// now; the buffer start registers of slot s sit at bufferStart + 4 * s.
struct DisplayFlipRegs {
  uint32_t control;
  uint32_t slotShift;  // the displayed-slot field: 2 bits from here
  uint32_t syncBit;
  uint32_t bufferStart;
};
inline constexpr DisplayFlipRegs kDisplayFlipRegs[4] = {
    {0x1800, 7, 1u << 6, 0x1824},  // display 1 (controller 0)
    {0x1A00, 7, 1u << 6, 0x1A24},  // display 2 (controller 1)
    {0x19A8, 9, 1u << 8, 0x19C8},  // display 4 (controller 0)
    {0x1BA8, 9, 1u << 8, 0x1BC8},  // display 8 (controller 1)
};
inline constexpr unsigned kDisplayCount = 4;
inline constexpr uint32_t kDisplaySlotMask = 0x3;
using DisplayCurrentSlot = RegField<16, 2>;
// Bits 11-26 of a buffer start address reach the start register.
inline constexpr uint32_t kBufferStartMask = 0x7FFF800;

// ---- The same registers per display controller (c at + kControllerStride * c) -----
// As display processing flips them: controllers 0 and 1 keep the displayed
// slot and its sync bit in bits 6-8 of their control word
// (kRegControllerCtl); the displayed address of the first and second field
// (the start registers of slots 0 and 1 above) and the display format word
// follow.
inline constexpr uint32_t kFlipSlotBitsLow = 0x7u << 6;
inline constexpr uint32_t kRegFlipAddressLow = 0x1824;
inline constexpr uint32_t kRegFlipAddress2Low = 0x1828;
inline constexpr uint32_t kRegFlipFormatLow = 0x1834;
// Controllers 2 and 3: the control word at 0x15A8 + 512c with the slot bits
// 8-10, the second-field select in bit 13 and a bit 20 that changes at
// every field.
inline constexpr uint32_t kRegFlipControlHigh = 0x15A8;
inline constexpr uint32_t kFlipSlotBitsHigh = 0x7u << 8;
inline constexpr uint32_t kFlipSecondFieldHigh = 1u << 13;
inline constexpr uint32_t kFlipFieldToggleHigh = 1u << 20;
inline constexpr uint32_t kRegFlipAddressHigh = 0x15C8;
inline constexpr uint32_t kRegFlipAddress2High = 0x15CC;
inline constexpr uint32_t kRegFlipFormatHigh = 0x15D8;
// The displayed address of the second field differs in bit 2.
inline constexpr uint32_t kFlipFieldAddressBit = 1u << 2;

// ---- Module clock words ------------------------------------------------------------
// Module 0 (controller 0 and the first DVO) and module 1. Bit 5 holds the
// module while memory or clocks are reprogrammed.
inline constexpr uint32_t kRegModuleClock0 = 0x1C00;
inline constexpr uint32_t kRegModuleClock1 = 0x1C04;
inline constexpr uint32_t kModuleClockHold = 1u << 5;
// Pixel-clock select code: (n + 1) selects synthesizer n.
using ModuleClockSelect = RegField<6, 4>;
inline constexpr uint32_t ModuleClockReg(uint32_t module) {
  return module == 0 ? kRegModuleClock0 : kRegModuleClock1;
}
using ModuleClockMode = RegField<0, 2>;  // 2 controller, 3 the TV encoder's clock (module 1)
inline constexpr uint32_t kModuleClockResetHold = 1u << 4;
inline constexpr uint32_t kModuleClockBit10 = 1u << 10;
inline constexpr uint32_t kModuleClockTv1 = 1u << 13;        // of 0x1C04
inline constexpr uint32_t kModuleClock0TvSelectOn = 1u << 20;  // of 0x1C00
using ModuleClock0TvSelect = RegField<16, 4>;                // of 0x1C00: the TV encoder's code
inline constexpr uint32_t kModuleClock0TvHold = 1u << 15;      // of 0x1C00
inline constexpr uint32_t kModuleClock1TvOn = 1u << 12;        // of 0x1C04
inline constexpr uint32_t kModuleClock1TvBit11 = 1u << 11;     // of 0x1C04
inline constexpr uint32_t kVideoResetPulse = 1u << 24;         // of 0x1C00
// A stopped clock is restarted for a video reset on this word.
inline constexpr uint32_t kVideoResetClockClear = 0x201;
inline constexpr uint32_t kVideoResetClockSet = 0x1C2;

// ---- Regime and request priority -------------------------------------------------------
inline constexpr uint32_t kRegRegime = 0x1C08;
inline constexpr uint32_t kRegimeVga = 1u << 0;    // the VGA registers drive controller 0
inline constexpr uint32_t kRegimeHires = 1u << 1;  // the controllers are programmed directly
// Memory-request priority of controllers 0 and 1: primary stream in bits
// 0-2, second stream in bits 8-10.
inline constexpr uint32_t kRegPriority0 = 0x1C0C;
inline constexpr uint32_t kRegPriority1 = 0x1C10;
using PriorityPrimary = RegField<0, 3>;
using PrioritySecond = RegField<8, 3>;

// ---- DAC control ----------------------------------------------------------------------
inline constexpr uint32_t kRegDacCtl1 = 0x1C18;
inline constexpr uint32_t kRegDacCtl2 = 0x1C1C;
inline constexpr uint32_t kDac1Blank = 1u << 15;
inline constexpr uint32_t kDac2Blank = 1u << 16;
// Both words: three 3-bit fields in bits 0-8, bit 9 (DAC 2) the TV output,
// bits 10 and 12 set while off, bits 11 and 13 negative horizontal and
// vertical sync. DAC 1 bit 14: module 1. DAC 2 bits 14-15: the source
// (0 controller 0, 1 controller 1, 2 TV, 3 controller 3), bit 17.
inline constexpr uint32_t kDacFields = 0x1FF;
inline constexpr uint32_t kDacTv = 1u << 9;
inline constexpr uint32_t kDacOff = (1u << 10) | (1u << 12);  // the DAC's two syncs stopped
inline constexpr uint32_t kDacHsyncNegative = 1u << 11;
inline constexpr uint32_t kDacVsyncNegative = 1u << 13;
inline constexpr uint32_t kDac1Module1 = 1u << 14;
using Dac2Source = RegField<14, 2>;
inline constexpr uint32_t kDac2Bit17 = 1u << 17;
inline constexpr uint32_t kDac2TvSource = 2;

// ---- Board words and the video data path ----------------------------------------------
// Written at bring-up from the board description (its post word).
inline constexpr uint32_t kRegPostWord = 0x1C50;
// The video data path's parameters: the first word of its record.
inline constexpr uint32_t kRegVdp = 0x1D28;
// Bit 12, written as 1, acknowledges the hot-plug interrupt.
inline constexpr uint32_t kRegHotPlug = 0x1E18;
inline constexpr uint32_t kHotPlugAcknowledge = 1u << 12;

// ---- DVO source and format ------------------------------------------------------------
inline constexpr uint32_t kRegDvoSource = 0x1C20;
inline constexpr uint32_t kDvo1FormatBit6 = 1u << 6;
inline constexpr uint32_t kDvo1SourceBit8 = 1u << 8;  // later devices
inline constexpr uint32_t kDvo1SyncBits = 0xFu << 10;
using Dvo1Source = RegField<14, 2>;
inline constexpr uint32_t kDvo1DualLinkBit25 = 1u << 25;
inline constexpr uint32_t kDvo2SyncBits = 0xFu << 26;
inline constexpr uint32_t kDvo2SourceModule1 = 1u << 30;
inline constexpr uint32_t kRegDvoSecond = 0x1C54;   // board-description DVO word; DVO 2 fields
inline constexpr uint32_t kRegDvoThird = 0x1C70;    // second board-description DVO word
inline constexpr uint32_t kOutputArrangementDvo2Locked = 1u << 6;  // of 0x1C58
// The encoder's output CRC and its start word.
inline constexpr uint32_t kRegTvCrc = 0x1C30;
inline constexpr uint32_t kRegTvCrcStart = 0x1C34;
inline constexpr uint32_t kTvCrcStart = 0x3FFFFFFF;
// Load-sense comparators: three channel bits per DAC (DAC 1 bits 0-2, DAC 2
// bits 3-5); a clear bit means that the channel drives a load.
inline constexpr uint32_t kRegDacSense = 0x1C14;
inline constexpr uint32_t kDacSenseChannels = 3;
inline constexpr uint32_t DacSenseBits(uint32_t sense, uint32_t dac) {
  return (sense >> (kDacSenseChannels * dac)) & 0x7u;
}

// DVO 1 in module clock word 0: a disable bit and a 3-bit clock code whose
// bits 0-1 sit in bits 13-14 and bit 2 in bit 27.
inline constexpr uint32_t kDvo1Disable = 1u << 12;
using Dvo1CodeLow = RegField<13, 2>;
inline constexpr uint32_t kDvo1CodeHigh = 1u << 27;
inline constexpr uint32_t kDvo1ClockFields = kDvo1Disable | Dvo1CodeLow::kMask | kDvo1CodeHigh;
// DVO 2 in module clock word 1: a disable bit and a 3-bit clock code.
inline constexpr uint32_t kDvo2Disable = 1u << 14;
using Dvo2Code = RegField<15, 3>;
inline constexpr uint32_t kDvo2ClockFields = kDvo2Disable | Dvo2Code::kMask;

inline constexpr uint32_t Dvo1ClockCode(uint32_t clock0) {
  return Dvo1CodeLow::Get(clock0) | ((clock0 & kDvo1CodeHigh) ? 4u : 0u);
}
inline constexpr uint32_t WithDvo1ClockCode(uint32_t clock0, uint32_t code) {
  clock0 = Dvo1CodeLow::Set(clock0, code & 3u);
  return WithBit(clock0, kDvo1CodeHigh, (code & 4u) != 0);
}
inline constexpr uint32_t Dvo2ClockCode(uint32_t clock1) { return Dvo2Code::Get(clock1); }
inline constexpr uint32_t WithDvo2ClockCode(uint32_t clock1, uint32_t code) {
  return Dvo2Code::Set(clock1, code);
}

// DVO power word.
inline constexpr uint32_t kRegDvoPower = 0x1C24;
inline constexpr uint32_t kDvoPowerDvo1Off = 1u << 0;
inline constexpr uint32_t kDvoPowerDvo2Off = 1u << 1;
inline constexpr uint32_t kDvoPowerBothOff = 1u << 2;

// Register that selects the board's output arrangement at bring-up; the
// second arrangement is the one that writes 0 to it.
inline constexpr uint32_t kRegOutputArrangement = 0x1C58;
