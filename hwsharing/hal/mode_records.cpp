#include "hwsharing/hal/mode_records.h"

#include <cstring>

// X-side output bits and the library's. Two X-side bits name each of the
// library's first two analog outputs, so those come back as both.
const OUTPUTBITMAP g_aoOutputBitMap[kOutputBitMapRows] = {
    {0x00000002, 0x01000000},  // analog 0
    {0x00000004, 0x08000000},  // analog 1
    {0x00000008, 0x00000002},  // analog 2
    {0x00000010, 0x00000004},  // analog 3
    {0x00000020, 0x20000000},  // digital 0
    {0x00000040, 0x40000000},  // digital 1
    {0x00000080, 0x80000000},  // digital 2
    {0x00000100, 0x00000100},  // digital 3
    {0x00000200, 0x00000010},  // TV 0
    {0x00000400, 0x04000000},  // TV 1
    {0x00000800, 0x00000020},  // TV 2
    {0x00001000, 0x00000040},  // TV 3
    {0x00002000, 0x02000000},  // TV path
    {0x00010000, 0x00000001},  // second controller of the module
    {0x00080000, 0x00080000},  // controller module 1
    {0x00100000, 0x00200000},  // monitor of output 0 (timing queries)
    {0x00200000, 0x00400000},  // monitor of output 1 (timing queries)
    {0x00400000, 0x01000000},  // analog 0 again
    {0x00800000, 0x08000000},  // analog 1 again
    {0x01000000, 0x10000000},
};

void CastToMODEINFO(MODEINFO* mode, const QLBMODEINFO* qlb) {
  std::memset(mode, 0, sizeof(*mode));
  mode->ulDispWidth = qlb->ulDispWidth;
  mode->ulDispHeight = qlb->ulDispHeight;
  mode->ulDeskWidth = qlb->ulDeskWidth;
  mode->ulDeskHeight = qlb->ulDeskHeight;
  mode->ulBpp = qlb->ulBpp;
  mode->ulZoom = qlb->ulZoom;
  mode->ulRefreshRate = qlb->ulRefreshRate;
  mode->ulHorizRate = qlb->ulHorizRate;
  mode->ulPixClock = qlb->ulPixClock;
  mode->ulHFPorch = qlb->ulHFPorch;
  mode->ulHSync = qlb->ulHSync;
  mode->ulHBPorch = qlb->ulHBPorch;
  mode->ulVFPorch = qlb->ulVFPorch;
  mode->ulVSync = qlb->ulVSync;
  mode->ulVBPorch = qlb->ulVBPorch;
  mode->flSignalMode = qlb->flSignalMode;
  mode->ulDstOrg = qlb->ulDstOrg;
  mode->ulPanXGran = qlb->ulPanXGran;
  mode->ulPanYGran = qlb->ulPanYGran;
  if (qlb->flOutput & kQlbPitchValid) mode->ulFBPitch = qlb->ulFBPitch;
  if (qlb->flOutput & kQlbOriginValid) mode->ulDisplayOrg = qlb->ulDisplayOrg;
  if (qlb->flSignalMode & kQlbSignalOutput200) mode->flOutput |= kModeOutput200;
  for (const OUTPUTBITMAP& row : g_aoOutputBitMap)
    if (qlb->flOutput & row.qlb) mode->flOutput |= row.mode;
  mode->ulReserved = mode->ulDisplayOrg;  // the display origin's copy
}

void CastToQLBMODEINFO(QLBMODEINFO* qlb, const MODEINFO* mode) {
  std::memset(qlb, 0, sizeof(*qlb));
  qlb->ulDispWidth = mode->ulDispWidth;
  qlb->ulDispHeight = mode->ulDispHeight;
  qlb->ulDeskWidth = mode->ulDeskWidth;
  qlb->ulDeskHeight = mode->ulDeskHeight;
  qlb->ulFBPitch = mode->ulFBPitch;
  qlb->ulBpp = mode->ulBpp;
  qlb->ulZoom = mode->ulZoom;
  qlb->flSignalMode = mode->flSignalMode;
  qlb->ulRefreshRate = mode->ulRefreshRate;
  qlb->ulHorizRate = mode->ulHorizRate;
  qlb->ulPixClock = mode->ulPixClock;
  qlb->ulHFPorch = mode->ulHFPorch;
  qlb->ulHSync = mode->ulHSync;
  qlb->ulHBPorch = mode->ulHBPorch;
  qlb->ulVFPorch = mode->ulVFPorch;
  qlb->ulVSync = mode->ulVSync;
  qlb->ulVBPorch = mode->ulVBPorch;
  qlb->ulDisplayOrg = mode->ulDisplayOrg;
  qlb->ulDstOrg = mode->ulDstOrg;
  qlb->ulPanXGran = mode->ulPanXGran;
  qlb->ulPanYGran = mode->ulPanYGran;
  qlb->ulTvStandard = (mode->flSignalMode >> 4) & 0xF;
  if (mode->flOutput & kModeOutput200) qlb->flSignalMode |= kQlbSignalOutput200;
  for (const OUTPUTBITMAP& row : g_aoOutputBitMap)
    if (mode->flOutput & row.mode) qlb->flOutput |= row.qlb;
}
