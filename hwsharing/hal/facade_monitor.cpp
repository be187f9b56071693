// The facade's monitor functions: input type, EDID block and description,
// limits check and the monitor's timing for a size and refresh.
#include <cstring>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/edid_text.h"
#include "hwsharing/hal/facade.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/hal/timing_tables.h"

namespace {

constexpr uint8_t kCableTv = 5;
constexpr size_t kEdid1VideoInput = 20;
constexpr uint8_t kVideoInputDigital = 0x80;
constexpr size_t kEdid2Interface = 79;
constexpr uint8_t kEdid2FirstDigitalInterface = 16;

// The two flag words of the hardware information, per output.
constexpr uint32_t kHwInfoBoardFlag = 0x10000;
constexpr uint32_t kHwInfoBoardFlagCode = 64;
constexpr uint32_t kHwInfoDigital = 18;
constexpr uint32_t kHwInfoTv = 32;
constexpr uint32_t kHwInfoAnalog = 9;
constexpr uint32_t kHwInfoOtherDevice = 1;

// Limits checks apply from this size on.
constexpr uint32_t kRateCheckMinWidth = 640;
constexpr uint32_t kRateCheckMinHeight = 400;

// More timings than a monitor lists for one size.
constexpr uint32_t kMaxMonitorTimings = 256;

uint32_t HwInfoCode(uint32_t flags) {
  if (flags & kMonitorDigital) return kHwInfoDigital;
  if (flags & kMonitorTv) return kHwInfoTv;
  return kHwInfoAnalog;
}

bool SameTiming(const QLBMODEINFO& m, uint32_t w, uint32_t h, uint32_t refresh) {
  return m.ulDispWidth == w && m.ulDispHeight == h && m.ulRefreshRate == refresh;
}

}  // namespace

uint32_t ORVGetHardwareInfo(BOARDHANDLE* h, uint32_t* info) {
  info[0] = 0;
  info[1] = 0;
  info[3] = h->oBoardInfo.ulMemorySize;
  info[4] = h->oBoardInfo.ulAvailMemorySize;
  info[2] = info[3] + info[4];
  if (h->ulBoardFlags & kHwInfoBoardFlag) info[0] = kHwInfoBoardFlagCode;
  if (IsEarlyKestrion(h->usDeviceId) || h->usDeviceId == kDeviceKestrionNext1) {
    info[0] |= HwInfoCode(h->aMonitorInfo[0].flMonitor);
    info[1] |= HwInfoCode(h->aMonitorInfo[1].flMonitor);
  } else {
    info[0] = kHwInfoOtherDevice;
  }
  return 0;
}

uint32_t ORVGetMonitorInputType(BOARDHANDLE* h, uint32_t output) {
  const bool quad = ORVIsQuadBoard(h) != 0;
  if (quad && output == 1) output = 2;
  if (output >= kMonitorOutputs) return kInputAnalog;
  if ((quad || output == 1) && h->aCableInfo[output].ucCableType == kCableTv) return kInputTv;
  const uint8_t* edid = h->aMonitorInfo[output].aucEdid;
  if (IsEdid1(HALPGetEDIDVersion(edid))) return (edid[kEdid1VideoInput] & kVideoInputDigital) ? kInputDigital : kInputAnalog;
  return edid[kEdid2Interface] < kEdid2FirstDigitalInterface ? kInputAnalog : kInputDigital;
}

HALSTATUS ORVGetMonitorEDID(BOARDHANDLE* h, uint8_t* buffer, uint32_t output) {
  if (output >= kMonitorOutputs) return h->status;
  const uint8_t* edid = h->aMonitorInfo[output].aucEdid;
  if (std::memcmp(edid, kEdidHeader, kEdidHeaderSize) != 0) return h->status;
  uint8_t sum = 0;
  for (size_t i = 0; i < kEdidBlockSize; ++i) sum = static_cast<uint8_t>(sum + edid[i]);
  if (sum == 0) std::memcpy(buffer, edid, kEdidBlockSize);
  return h->status;
}

DEVICEEDIDINFO* ORVGetDeviceEdidInfo(BOARDHANDLE* h, uint32_t output, DEVICEEDIDINFO* info) {
  // The record starts empty: every text ends inside its field and modes not
  // filled below read as zero.
  std::memset(info, 0, sizeof(*info));
  uint8_t edid[kEdidBufferSize] = {};
  ORVGetMonitorEDID(h, edid, output);
  if (HALPIsEDIDBufferValid(edid)) {
    ORVGetVendorSign(edid, info->szVendorSign);
    ORVGetMonitorName(edid, info->szMonitorName);
    ORVGetSerialNumber(edid, info->szSerialNumber);
  }
  if (output < kMonitorOutputs) {
    const MONITORINFO& mi = h->aMonitorInfo[output];
    for (uint32_t i = 0; i < kDeviceEdidModes; ++i) {
      const EDIDMODE& m = mi.aEdidModes[i];
      bool listed = false;
      for (const QLBMODEINFO& q : info->aoModes) listed = listed || SameTiming(q, m.ulWidth, m.ulHeight, m.ulRefresh);
      if (listed) continue;
      MODEINFO mode{};
      mode.ulDispWidth = m.ulWidth;
      mode.ulDispHeight = m.ulHeight;
      mode.ulZoom = 1;
      HALGetVESAMode(h, &mode, m.ulRefresh);  // a miss leaves the size alone
      CastToQLBMODEINFO(&info->aoModes[i], &mode);
    }
    MODEINFO preferred{};
    preferred.ulDispWidth = mi.ulPreferredWidth;
    preferred.ulDispHeight = mi.ulPreferredHeight;
    preferred.ulRefreshRate = mi.ulPreferredRefresh;
    preferred.ulZoom = 1;
    if (!HalFailed(HALGetDDCDetailedParameters(h, &preferred, output, 0)))
      CastToQLBMODEINFO(&info->oPreferredTiming, &preferred);
  }
  info->ulModeCount = kDeviceEdidModes;
  return info;
}

uint32_t ORVValidateTimingsWithEdid(BOARDHANDLE* h, uint32_t output, const QLBMODEINFO* qlb) {
  if (output >= kMonitorOutputs) return kEdidTimingOk;
  const MONITORINFO& mi = h->aMonitorInfo[output];
  if (mi.ulMaxResWidth != 0 && mi.ulMaxResHeight != 0 &&
      (mi.ulMaxResWidth < qlb->ulDispWidth || mi.ulMaxResHeight < qlb->ulDispHeight))
    return kEdidTimingOutOfRange;
  // The record's fields are compared with the limits as they stand.
  if (qlb->ulDispWidth >= kRateCheckMinWidth && qlb->ulDispHeight >= kRateCheckMinHeight &&
      ((mi.ulMaxVRate != 0 && qlb->ulRefreshRate > mi.ulMaxVRate) || qlb->ulRefreshRate < mi.ulMinVRate))
    return kEdidTimingOutOfRange;
  if ((mi.ulMaxHRate != 0 && qlb->ulHorizRate > mi.ulMaxHRate) || qlb->ulHorizRate < mi.ulMinHRate)
    return kEdidTimingOutOfRange;
  if (mi.ulMaxPixClock != 0 && qlb->ulPixClock > mi.ulMaxPixClock) return kEdidClockTooHigh;
  return kEdidTimingOk;
}

HALSTATUS ORVGetVideoParameters(BOARDHANDLE* h, QLBMODEINFO* qlb, uint32_t refresh) {
  qlb->ulRefreshRate = 0;
  MODEINFO query;
  CastToMODEINFO(&query, qlb);
  for (uint32_t n = 0; n < kMaxMonitorTimings; ++n) {
    if (HalFailed(HALGetDDCParameters(h, &query, n))) break;
    if (query.ulRefreshRate == refresh) {
      CastToQLBMODEINFO(qlb, &query);
      return kHalOk;
    }
    // The best lower timing so far.
    if (query.ulRefreshRate > qlb->ulRefreshRate && query.ulRefreshRate < refresh) CastToQLBMODEINFO(qlb, &query);
  }
  if (qlb->ulRefreshRate != 0) return kVideoParametersNotFound;
  MODEINFO gtf;
  CastToMODEINFO(&gtf, qlb);
  if (HalFailed(HALGetVerticalGTFParams(h, &gtf, refresh))) return kVideoParametersNotFound;
  CastToQLBMODEINFO(qlb, &gtf);
  return kHalOk;
}
