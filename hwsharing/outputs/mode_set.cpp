// The mode programming sequence.
#include "hwsharing/outputs/mode_set.h"

#include <cstring>

#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "core/regs/engine2d.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/chip_services.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/lut.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/clock_select.h"
#include "hwsharing/outputs/controllers.h"
#include "hwsharing/outputs/display_start.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/outputs/output_sync.h"
#include "hwsharing/outputs/priority.h"
#include "hwsharing/outputs/transitions.h"
#include "hwsharing/outputs/tv_state.h"

namespace {

constexpr uint32_t kTvBits = kOutTv0 | kOutTv1 | kOutTv2 | kOutTv3;

// Zoom: bits 11-12 horizontal code, 13-14 vertical code of 0x1900.
using ZoomHorizontal = RegField<11, 2>;
using ZoomVertical = RegField<13, 2>;
uint32_t ZoomCode(uint32_t factor) { return factor == 2 ? 1 : factor == 4 ? 2 : 0; }
uint32_t NormalisedZoom(uint32_t zoom) { return zoom < 0x10000 ? zoom | (zoom << 16) : zoom; }

// Mode capabilities.
constexpr uint32_t kCapsFirstControllers = 0x380;
constexpr uint32_t kCapsSecondControllers = 0x80;

// The drawing engine's registers of the display clear (packet index i is
// register 0x1000 + 4 i) and what it loads into them.
constexpr uint32_t kClearAddress = DmaWindowReg(k2dIdxDescAddress0);
constexpr uint32_t kClearSurface = DmaWindowReg(k2dIdxDescMode0);
constexpr uint32_t kClearControl = DmaWindowReg(k2dIdxControl);
constexpr uint32_t kClearStart = DmaWindowReg(k2dIdxStart);
constexpr uint32_t kClearOrigin = DmaWindowReg(k2dIdxOrigin);
constexpr uint32_t kClearColour = DmaWindowReg(k2dIdxForeground);
constexpr uint32_t kClearPlaneMask = DmaWindowReg(k2dIdxPlaneMask);
constexpr uint32_t kClearSizeGo = DmaWindowReg(k2dIdxSizeGo);
constexpr uint32_t kClearFillControl = 0x2000C0;
constexpr uint32_t kClearSurfaceConstant = 0x30000;
constexpr uint32_t kClearYuvBlack = 0x108080;
constexpr uint32_t kClearTile = 4096;
constexpr HALSTATUS kErrClearFormat = 0x80000000;
constexpr uint32_t kClearPitchMask = 0x3FFF;

// The surface format bits of the clear by pixel format; false for a format
// it does not know.
bool ClearFormat(uint32_t bpp, uint32_t* format) {
  switch (bpp) {
    case 8: *format = 0x10000000; return true;
    case 16: *format = 0x20000000; return true;
    case 32:
    case 0xC0000: *format = 0x30000000; return true;
    case 0x40000: *format = 0x2E000000; return true;
    case 0xB0000: *format = 0x3B000000; return true;
    default: *format = 0; return false;
  }
}

void RunColdStartOrHires(BOARDHANDLE* h) {
  if (h->ulBoardFlags & kBoardFlagHwInitialised)
    HSLKSTSwitchToHIRES(h);
  else
    h->oJumpTable.InitializeHardware(h);
}

}  // namespace

HALSTATUS HSLKSTSetMode(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  CLOCKINFO clock{};
  HSLKSTWaitEngineNotBusy(h);
  RunColdStartOrHires(h);
  HSLKSTMemoryControllerCheck(h);
  HSLKSTApplyModeInfoModifications(h, mode);
  uint32_t minor = 0;
  HSLKSTDetectSetMinorChanges(h, mode, &minor);
  if (!minor) {
    HSLKSTDisableDisplayOutputs(h, mode);
    HSLKSTDisableIntermediateModule(h, mode);
    HSLKSTDisableDisplayController(h, mode);
    HSLKSTDisableClock(h, mode);
    if (!RecordOff(*mode)) {
      HSLKSTComputePitch(h, mode);
      HSLKSTInternalSetDisplayStart(h, mode, mode->ulDisplayStartX, mode->ulDisplayStartY);
      HSLKSTGetClockInfo(h, mode, &clock);
      HSLKSTEnableClock(h, mode, &clock);
      HSLKSTEnableDisplayController(h, mode, clock.ulSelect);
      HSLKSTEnableIntermediateModule(h, mode, clock.ulSelect);
      HSLKSTApplyLUT(h, mode);
      HSLKSTEnableDisplayOutputs(h, mode);
      HSLKSTSetModeZoom(h, mode);
      HSLKSTSynchronizeDC(h, mode);
    }
  }
  // Always, after a minor change and for a controller turned off too.
  HSLKSTSetModeUpdateStructure(h, mode);
  HSLKSTUpdateClockInfoStructure(h, mode, &clock);
  HSLKSTUpdatePriorityLevels(h);
  return h->status;
}

HALSTATUS HSLKSTApplyModeInfoModifications(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t format0 = h->aulDigitalOutputFormat[0];
  const bool digital0 = (mode->flOutput & kOutDigital0) != 0;
  // Dual link through output 1, unless the expansion module links it.
  if (!DualLinkCondition(h) && (h->ulOutputCaps & kEnableDualLink0) && format0 == 2 &&
      mode->ulPixClock > kDualLinkKHz && digital0)
    mode->flOutput |= kOutDigital1;
  // Formats that drive digital output 1 beside output 0.
  if (DigitalFormatSpecialCase(h, *mode)) mode->flOutput |= kOutDigital1;
  h->oWorkingMode = *mode;
  if ((mode->flSignalMode & kSignalDoubledTiming) && !IsTwinBoard(h)) {
    mode->ulHBorder *= 2;
    mode->ulHBPorch *= 2;
    mode->ulHFPorch *= 2;
    mode->ulHSync *= 2;
    mode->ulPixClock *= 2;
  }
  if (mode->flSignalMode & kSignalTripledClock) {
    mode->ulPixClock *= 3;
  } else if (HSLKSTModeUsesCEMFpga(h, &h->oWorkingMode)) {
    // Only a record behind the expansion module's FPGAs is translated: the
    // translation of any other record is the request copy itself, which
    // would undo the doubling above.
    MODEINFO copy = *mode;
    HSLKSTTranslateFPGAVideoParameters(h, &h->oWorkingMode, &copy, mode);
  }
  return h->status;
}

HALSTATUS HSLKSTDetectZoomFactorChange(BOARDHANDLE* h, MODEINFO* mode, uint32_t* zoomOnly) {
  if (HalFailed(h->status)) return h->status;
  *zoomOnly = 0;
  const MODEINFO& current = h->aModeInfo[SelectDC(mode)];
  if (RecordOff(*mode) || RecordOff(current)) return h->status;
  if (NormalisedZoom(mode->ulZoom) == current.ulZoom) return h->status;
  const uint32_t zoom = mode->ulZoom;
  mode->ulZoom = current.ulZoom;
  // The request copy keeps the new zoom: on the quad boards a zoom change
  // always takes the full path.
  const MODEINFO& compared = IsQuadBoard(h) ? h->oWorkingMode : *mode;
  *zoomOnly = std::memcmp(&compared, &current, sizeof(MODEINFO)) == 0 ? 1 : 0;
  mode->ulZoom = zoom;
  return h->status;
}

HALSTATUS HSLKSTDetectSetMinorChanges(BOARDHANDLE* h, MODEINFO* mode, uint32_t* isMinor) {
  if (HalFailed(h->status)) return h->status;
  *isMinor = 0;
  uint32_t zoomOnly = 0;
  HSLKSTDetectZoomFactorChange(h, mode, &zoomOnly);
  if (zoomOnly) {
    HSLKSTSetModeZoom(h, mode);
    *isMinor = 1;
  }
  if (AllEncodersQuadTv(h) && (mode->flOutput & kTvBits) &&
      (mode->flSignalMode & kSignalTvAdjustData)) {
    uint32_t smooth = 0;
    HSLKSTDetectSmoothTransition(h, mode, &smooth);
    if (smooth) {
      HSLCHRTVSetPositionAllChr(h, &h->oWorkingMode);
      *isMinor = 1;
    }
  }
  return h->status;
}

HALSTATUS HSLKSTSetModeZoom(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t reg = kRegDisplayMode + kControllerStride * SelectDC(mode);
  const uint32_t horizontal = ZoomCode(mode->ulZoom & 0xFFFF);
  const uint32_t vertical = mode->ulZoom < 0x10000 ? horizontal : ZoomCode(mode->ulZoom >> 16);
  const uint32_t v = RegRead(h, reg);
  if (ZoomHorizontal::Get(v) != horizontal || ZoomVertical::Get(v) != vertical)
    RegWrite(h, reg, ZoomVertical::Set(ZoomHorizontal::Set(v, horizontal), vertical));
  mode->ulZoom = NormalisedZoom(mode->ulZoom);
  return h->status;
}

HALSTATUS HSLKSTSetModeCaps(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const bool early = h->usDeviceId == kDeviceKestrion1 && h->ulRevision <= 1;
  mode->flModeCaps =
      SelectDC(mode) < 2 && !early ? kCapsFirstControllers : kCapsSecondControllers;
  mode->ulPanXGran = 1;
  mode->ulPanYGran = 1;
  return h->status;
}

HALSTATUS HSLKSTSetModeUpdateStructure(BOARDHANDLE* h, MODEINFO* mode) {
  const bool quad = IsQuadBoard(h);
  if (quad) {
    // Before the status test: the request copy takes the new pitch and
    // origin even after a failed set.
    h->oWorkingMode.ulFBPitch = mode->ulFBPitch;
    h->oWorkingMode.ulDisplayOrg = mode->ulDisplayOrg;
    h->oWorkingMode.ulReserved = mode->ulReserved;
  }
  if (HalFailed(h->status)) return h->status;
  MODEINFO* r = quad || (mode->flSignalMode & kSignalDoubledTiming) ? &h->oWorkingMode : mode;
  HSLKSTSetModeCaps(h, r);
  const uint32_t c = SelectDC(r);
  MODEINFO& first = h->aModeInfo[c & 1];
  if (RecordOff(*r)) {
    if (c >= 2) {
      if (!(first.flOutput & kOutOwnedBits)) first.flOutput |= kOutControllerOff;
    } else if (!RecordOff(h->aModeInfo[GetLinkedDC(r)])) {
      // The record stays the timing master of its pair; it only gives up
      // its outputs.
      h->aModeInfo[c].flOutput &= ~kOutOwnedBits;
      return h->status;
    }
  } else {
    if (c >= 2) {
      uint32_t free = 0;
      HSLKSTDetectVidParmFreeTransition(h, r, &free);
      if (!free) {
        if (RecordOff(first)) {
          first = *r;
          first.flOutput &= ~(kOutOwnedBits | kOutSecondController);
        } else {
          first.ulRefreshRate = r->ulRefreshRate;
          first.ulHorizRate = r->ulHorizRate;
          first.ulPixClock = r->ulPixClock;
          // From the horizontal front porch to the end of the TV groups.
          constexpr size_t from = offsetof(MODEINFO, ulHFPorch);
          constexpr size_t to = offsetof(MODEINFO, acTvAdjust) + sizeof(r->acTvAdjust);
          std::memcpy(reinterpret_cast<uint8_t*>(&first) + from,
                      reinterpret_cast<const uint8_t*>(r) + from, to - from);
        }
      }
    }
    for (uint32_t o = 0; o < 4; ++o)
      if (o != c) h->aModeInfo[o].flOutput &= ~(r->flOutput & kOutOwnedBits);
  }
  if (r != &h->aModeInfo[c]) h->aModeInfo[c] = *r;
  return h->status;
}

HALSTATUS HSLKSTClearDisplay(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (!(h->ulBoardFlags & kBoardFlagHwInitialised)) h->oJumpTable.InitializeHardware(h);
  if (mode->ulFBPitch == 0) HSLKSTComputePitch(h, mode);
  if (HalFailed(h->status)) return h->status;
  uint32_t width = mode->ulFBPitch;
  if (mode->ulDeskWidth > width) width = mode->ulDeskWidth;
  if (mode->ulDispWidth > width) width = mode->ulDispWidth;
  const uint32_t height = mode->ulDispHeight > mode->ulDeskHeight ? mode->ulDispHeight
                                                                   : mode->ulDeskHeight;
  const uint32_t bytes = GetBytePerPixel(mode->ulBpp);
  uint32_t format = 0;
  if (!ClearFormat(mode->ulBpp, &format)) SetError(h, kErrClearFormat);  // and fills on
  RegWrite(h, kClearAddress, (bytes * mode->ulDisplayOrg) & ~3u);
  RegWrite(h, kClearSurface, (width & kClearPitchMask) | kClearSurfaceConstant | format);
  RegWrite(h, kClearControl, kClearFillControl);
  RegWrite(h, kClearColour, mode->ulBpp == 0xB0000 ? kClearYuvBlack : 0);
  RegWrite(h, kClearPlaneMask, 0xFFFFFFFF);
  RegWrite(h, kClearStart, 0);
  RegWrite(h, kClearOrigin, 0);
  // Tiles of at most 4,096 x 4,096 from the display start. The x of a tile
  // is in pixels, like the display start's: the address moves by x pixels.
  const int64_t x0 = static_cast<int16_t>(mode->ulDisplayStartX & 0xFFFF);
  const int64_t y0 = mode->ulDisplayStartY;
  for (int64_t y = y0; y < y0 + height; y += kClearTile) {
    const int64_t band = y0 + height - y < kClearTile ? y0 + height - y : kClearTile;
    for (int64_t x = x0; x < x0 + width; x += kClearTile) {
      const int64_t span = x0 + width - x < kClearTile ? x0 + width - x : kClearTile;
      const int64_t pixel = int64_t{mode->ulDisplayOrg} + x + y * int64_t{mode->ulFBPitch};
      RegWrite(h, kClearAddress, static_cast<uint32_t>(bytes * pixel) & ~3u);
      RegWrite(h, kClearSizeGo, (static_cast<uint32_t>(span) & 0xFFFF) |
                                    (static_cast<uint32_t>(band) << 16));
    }
  }
  RegWrite(h, kClearControl, k2dControlDone);
  return HSLKSTWaitEngineNotBusy(h);
}

HALSTATUS HSLKSTValidateDualCRTCConfig(BOARDHANDLE* h, MODEINFO*) { return h->status; }

HALSTATUS HSLKSTValidateOutputMode(BOARDHANDLE* h) { return h->status; }
