// Registers of a display controller's video overlay scaler: head h's
// register is the offset plus 0x200 x h. The Xv adaptor programs the source
// span and step, the two buffer addresses it alternates between, the
// format, the key words, the filter coefficients, the window on the screen
// and the blend words.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kOverlayHeadStride = 0x200;
inline constexpr uint32_t OverlayReg(uint32_t reg, uint32_t head) {
  return reg + kOverlayHeadStride * head;
}

// ---- Blend words -------------------------------------------------------------------------
inline constexpr uint32_t kRegOverlayBlend0 = 0x1880;
inline constexpr uint32_t kRegOverlayBlend1 = 0x1884;
inline constexpr uint32_t kRegOverlayBlendControl = 0x1888;
inline constexpr uint32_t kOverlayBlendWeights = 0x4000040;  // both blend words
inline constexpr uint32_t kOverlayBlendOn = 4;                // the blend control, last

// ---- Window on the screen ------------------------------------------------------------------
inline constexpr uint32_t kRegOverlayWindowX = 0x190C;  // x1 | (x2 - 1) << 16
inline constexpr uint32_t kRegOverlayLatch = 0x1918;    // the timing word's upper half + 1
inline constexpr uint32_t kRegOverlayWindowY = 0x1928;  // y1 | (y2 - 1) << 16
inline constexpr uint32_t kRegOverlayTiming = 0x192C;   // read: its upper half is kept
inline constexpr uint32_t kOverlayTimingKeep = 0xFFFF0000;

// ---- The scaler ----------------------------------------------------------------------------
inline constexpr uint32_t kRegOverlayControl = 0x19A8;
inline constexpr uint32_t kOverlayOff = 0;
inline constexpr uint32_t kOverlayOn = 0x839;
inline constexpr uint32_t kRegOverlaySourceStart = 0x19AC;  // 16.16 x, & kOverlaySourceMask
inline constexpr uint32_t kRegOverlaySourceEnd = 0x19B0;
inline constexpr uint32_t kOverlaySourceMask = 0x3FFFFFC;
inline constexpr uint32_t kRegOverlaySourceWidth = 0x19B4;  // (W - 1) << 16
inline constexpr uint32_t kRegOverlayBuffer0 = 0x19C8;      // the two halves of the buffer
inline constexpr uint32_t kRegOverlayBuffer1 = 0x19CC;
inline constexpr uint32_t kRegOverlayFormat = 0x19D8;       // W | format << 24 | 0x30000
inline constexpr uint32_t kOverlayFormatLayout = 0x30000;
inline constexpr uint32_t kOverlayFormat16 = 0x28;          // depth 16
inline constexpr uint32_t kOverlayFormat32 = 0x32;          // other depths
inline constexpr uint32_t kRegOverlayKeyLow = 0x19DC;
inline constexpr uint32_t kRegOverlayKeyHigh = 0x19E0;
inline constexpr uint32_t kOverlayKeyHighValue = 0x3FCFF3FC;
inline constexpr uint32_t kRegOverlayStep = 0x19E4;          // (h x 4) & kOverlayStepMask
inline constexpr uint32_t kOverlayStepMask = 0x1FFFC;
inline constexpr uint32_t kRegOverlayFilterIndex = 0x19E8;   // 0 restarts the coefficients
inline constexpr uint32_t kRegOverlayFilterData = 0x19EC;    // (b << 19) | (a << 3)
inline constexpr uint32_t kRegOverlayLineStart = 0x19F0;     // source lines
inline constexpr uint32_t kRegOverlayLineEnd = 0x19F4;

inline constexpr uint32_t OverlayFilterWord(uint32_t a, uint32_t b) { return b << 19 | a << 3; }
static_assert(OverlayFilterWord(1025, 3) == 0x182008);
