// Gathering the monitor record of one output: detection of the monitor (EDID
// or TV), then everything the library derives from the EDID.
#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"

namespace {

// Selectors of the chip's monitor-EDID slot.
constexpr uint32_t kEdidAnalog0 = 0;
constexpr uint32_t kEdidAnalog1 = 1;
constexpr uint32_t kEdidPanel1 = 2;
constexpr uint32_t kEdidPanel0 = 4;

// Outputs 2 and 3 are read like the chip layer reads every output.
constexpr uint32_t kGatherEdidAttempts = 3;
constexpr uint32_t kGatherEdidWait = 1;

bool Present(const MONITORINFO& mi) { return (mi.flMonitor & kMonitorPresent) != 0; }

// A record is rebuilt whole, except for the EDID it holds: the next read
// compares the monitor's first bytes with it and spares the full read.
void ClearRecord(MONITORINFO& mi) {
  uint8_t edid[sizeof(mi.aucEdid)];
  std::memcpy(edid, mi.aucEdid, sizeof(edid));
  std::memset(&mi, 0, sizeof(mi));
  std::memcpy(mi.aucEdid, edid, sizeof(edid));
}

uint32_t DetectTv(BOARDHANDLE* h) {
  uint32_t detected = 0;
  h->oJumpTable.DetectTV(h, &detected);
  return detected;
}

void DeriveFromEdid(BOARDHANDLE* h, uint32_t output) {
  HALPGetMonitorProperties(h, output);
  HALPGetEdidModes(h, output);
  HALPGetMonitorMinimalResolution(h, output);
  HALPGetMonitorMaximalResolution(h, output);
  HALPGetMonitorLimits(h, output);
  HALPGetMonitorAspectRatio(h, output);
}

}  // namespace

HALSTATUS HALPGetPrimaryMonitorInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[0];
  if (h->ulOutputCaps & kCapsDigitalOutputs) {
    h->oJumpTable.GetMonitorEDID_OLD(h, kEdidPanel0);
    if (mi.flMonitor & kMonitorEdidValid) mi.flMonitor |= kMonitorPresent;
  }
  if (!Present(mi) && (h->ulOutputCaps & kCapsFirstAnalog)) h->oJumpTable.GetMonitorEDID_OLD(h, kEdidAnalog0);
  return h->status;
}

HALSTATUS HALPGetSecondMonitorInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[1];
  mi.flMonitor = 0;
  if (h->ulOutputCaps & kCapsDigitalOutputs) {
    h->oJumpTable.GetMonitorEDID_OLD(h, kEdidPanel1);
    if (mi.flMonitor & kMonitorEdidValid) mi.flMonitor |= kMonitorPresent;
  }
  if (!Present(mi) && (h->ulOutputCaps & kCapsSecondHd15)) {
    uint32_t adaptor = 0;
    HALPDetectHD15ToTVAdaptor(h, 1, &adaptor);
    if (adaptor == 0) {
      h->oJumpTable.GetMonitorEDID_OLD(h, kEdidAnalog1);
      if (!(mi.flMonitor & kMonitorEdidValid) && DetectTv(h) != 0) mi.flMonitor |= kMonitorPresent;
    } else if (h->ulOutputCaps & kCapsTvOutput) {
      mi.flMonitor |= kMonitorHd15TvAdaptor;
    }
  }
  if (!Present(mi) && (h->ulOutputCaps & kCapsTvOutput) && DetectTv(h) != 0)
    mi.flMonitor |= kMonitorPresent | kMonitorTv;
  return h->status;
}

HALSTATUS HALPSwapMonitorInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  MONITORINFO kept;
  std::memcpy(&kept, &h->aMonitorInfo[0], sizeof(kept));
  std::memcpy(&h->aMonitorInfo[0], &h->aMonitorInfo[1], sizeof(kept));
  std::memcpy(&h->aMonitorInfo[1], &kept, sizeof(kept));
  h->ulBoardFlags ^= kBoardFlagMonitorsSwapped;
  return h->status;
}

HALSTATUS HALPDetectNoTV(BOARDHANDLE* h, uint32_t* detected) {
  if (HalFailed(h->status)) return h->status;
  h->ucTvDetected = 0;
  *detected = 0;
  return h->status;
}

HALSTATUS HALPGetMonitorInfo(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  const bool withFirst = (h->ulBoardFlags & kBoardFlagSecondMonitorWithFirst) != 0;
  MONITORINFO* mi = h->aMonitorInfo;
  if (!(withFirst && output == 1)) {
    ClearRecord(mi[output]);
    if (output == 0) {
      HALPGetPrimaryMonitorInfo(h);
    } else if (output == 1) {
      HALPGetSecondMonitorInfo(h);
    } else {
      // The chip's slots know outputs 0 and 1 only; the others are read on
      // their own DDC line, never through output 1's record.
      HALPReadDDCEDID(h, output, DdcPortOfOutput(output), kDdcEdidAddress, kGatherEdidAttempts, kGatherEdidWait);
    }
    DeriveFromEdid(h, output);
  }
  if (output == 0 && withFirst) {
    ClearRecord(mi[1]);
    HALPGetSecondMonitorInfo(h);
    DeriveFromEdid(h, 1);
    if ((mi[0].flMonitor & (kMonitorDigital | kMonitorTv)) || (!Present(mi[0]) && Present(mi[1])))
      HALPSwapMonitorInfo(h);
  }
  if ((mi[0].flMonitor & kMonitorDigital) && (mi[1].flMonitor & kMonitorDigital) &&
      (h->ulOutputCaps & kCapsSecondDigital) && !(h->ulBoardFlags & kBoardFlagSamePreferredSize))
    mi[1].flMonitor &= ~kMonitorDigital;
  if ((h->ulBoardFlags & kBoardFlagSamePreferredSize) && !(h->ulBoardFlags & kBoardFlagSeparatePreferredSizes)) {
    // Both outputs show the narrower of the two preferred sizes.
    const MONITORINFO& from = (mi[1].ulPreferredWidth != 0 && mi[1].ulPreferredHeight != 0 &&
                               mi[1].ulPreferredWidth < mi[0].ulPreferredWidth)
                                  ? mi[1]
                                  : mi[0];
    const uint32_t w = from.ulPreferredWidth;
    const uint32_t ht = from.ulPreferredHeight;
    mi[0].ulPreferredWidth = mi[1].ulPreferredWidth = w;
    mi[0].ulPreferredHeight = mi[1].ulPreferredHeight = ht;
  }
  return h->status;
}

HALSTATUS HALGetMonitorInfo(BOARDHANDLE* h, uint32_t output) {
  h->status = kHalOk;
  return HALPGetMonitorInfo(h, output);
}
