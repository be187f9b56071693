// The X driver's mode record (QLBMODEINFO) and its conversion to and from
// the library's controller record (MODEINFO). Refresh, horizontal rate and
// clock are copied as they stand, without any unit conversion: the X side
// writes millihertz and hertz there, the library's own records hertz and
// kilohertz.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

struct QLBMODEINFO {
  uint32_t flOutput;
  uint32_t ulDispWidth;
  uint32_t ulDispHeight;
  uint32_t ulDeskWidth;
  uint32_t ulDeskHeight;
  uint32_t ulFBPitch;  // pixels; meaningful with kQlbPitchValid
  uint32_t ulDepth;    // not carried into MODEINFO
  uint32_t ulBpp;
  uint32_t ulZoom;
  uint32_t flSignalMode;
  uint32_t ulRefreshRate;
  uint32_t ulHorizRate;
  uint32_t ulPixClock;  // kHz
  uint32_t ulHFPorch;
  uint32_t ulHSync;
  uint32_t ulHBPorch;
  uint32_t ulVFPorch;
  uint32_t ulVSync;
  uint32_t ulVBPorch;
  uint32_t ulDisplayOrg;  // meaningful with kQlbOriginValid
  uint32_t ulDstOrg;
  uint32_t ulPanXGran;
  uint32_t ulPanYGran;
  uint32_t ulTvStandard;  // TVSTANDARD code
  uint32_t ulTvScaling;
  uint32_t ulTvCableType;  // TVCABLETYPE code
};
static_assert(sizeof(QLBMODEINFO) == 104);
static_assert(offsetof(QLBMODEINFO, ulZoom) == 32);
static_assert(offsetof(QLBMODEINFO, ulRefreshRate) == 40);
static_assert(offsetof(QLBMODEINFO, ulPixClock) == 48);
static_assert(offsetof(QLBMODEINFO, ulDisplayOrg) == 76);
static_assert(offsetof(QLBMODEINFO, ulPanYGran) == 88);
static_assert(offsetof(QLBMODEINFO, ulTvStandard) == 92);
static_assert(offsetof(QLBMODEINFO, ulTvCableType) == 100);
static_assert(offsetof(MODEINFO, ulFBPitch) == 92);
static_assert(offsetof(MODEINFO, ulDisplayOrg) == 100);
static_assert(offsetof(MODEINFO, ulReserved) == 104);
static_assert(offsetof(MODEINFO, ulPanXGran) == 108);

// QLBMODEINFO flOutput bits that are not outputs: whether ulFBPitch and
// ulDisplayOrg are meaningful.
inline constexpr uint32_t kQlbPitchValid = 0x4000;
inline constexpr uint32_t kQlbOriginValid = 0x8000;
// QLBMODEINFO flSignalMode bit that mirrors MODEINFO flOutput bit 0x200.
inline constexpr uint32_t kQlbSignalOutput200 = 0x80000;
inline constexpr uint32_t kModeOutput200 = 0x200;

// One row of the flOutput remap: the X side's bit and the library's.
struct OUTPUTBITMAP {
  uint32_t qlb;
  uint32_t mode;
};
inline constexpr size_t kOutputBitMapRows = 20;
extern const OUTPUTBITMAP g_aoOutputBitMap[kOutputBitMapRows];

void CastToMODEINFO(MODEINFO* mode, const QLBMODEINFO* qlb);
void CastToQLBMODEINFO(QLBMODEINFO* qlb, const MODEINFO* mode);
