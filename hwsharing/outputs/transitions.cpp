// Smooth and video-parameter-free transitions.
#include "hwsharing/outputs/transitions.h"

#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/outputs/capabilities.h"

HALSTATUS HSLKSTDetectSmoothTransition(BOARDHANDLE* h, MODEINFO* mode, uint32_t* smooth) {
  if (HalFailed(h->status)) return h->status;
  *smooth = 0;
  MODEINFO* current = &h->aModeInfo[SelectDC(mode)];
  if (RecordOff(*mode) || RecordOff(*current)) return h->status;
  const MODEINFO& ref = IsQuadBoard(h) ? h->oWorkingMode : *mode;
  if (mode->flOutput != current->flOutput || current->ulDispWidth != ref.ulDispWidth ||
      current->ulDispHeight != ref.ulDispHeight || current->ulPixClock != ref.ulPixClock)
    return h->status;
  uint32_t modeCpld = 0, currentCpld = 0;
  HSLCHRUseCPLD(h, mode, &modeCpld);
  HSLCHRUseCPLD(h, current, &currentCpld);
  if (HalFailed(h->status)) return h->status;
  *smooth = (modeCpld != 0) == (currentCpld != 0) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTDetectVidParmFreeTransition(BOARDHANDLE* h, MODEINFO* mode, uint32_t* free) {
  if (HalFailed(h->status)) return h->status;
  *free = 0;
  const MODEINFO* current = &h->aModeInfo[SelectDCModule(mode)];
  if (RecordOff(*mode) || RecordOff(*current)) return h->status;
  if (Tv1OnController3(*mode)) {
    *free = 1;
    return h->status;
  }
  return HSLKSTCompareVidParm(h, mode, current, free);
}

HALSTATUS HSLKSTCompareVidParm(BOARDHANDLE* h, const MODEINFO* a, const MODEINFO* b,
                               uint32_t* equal) {
  if (HalFailed(h->status)) return h->status;
  const bool same =
      a->ulRefreshRate == b->ulRefreshRate && a->ulHorizRate == b->ulHorizRate &&
      a->ulHFPorch == b->ulHFPorch && a->ulHSync == b->ulHSync && a->ulHBPorch == b->ulHBPorch &&
      a->ulHBorder == b->ulHBorder && a->ulVFPorch == b->ulVFPorch && a->ulVSync == b->ulVSync &&
      a->ulVBPorch == b->ulVBPorch && a->ulVBorder == b->ulVBorder &&
      a->flSignalMode == b->flSignalMode &&
      std::memcmp(a->acTvAdjust, b->acTvAdjust, sizeof(a->acTvAdjust)) == 0;
  *equal = same ? 1 : 0;
  return h->status;
}
