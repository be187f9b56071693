#include "hwsharing/hal/monitor.h"

#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/edid.h"

namespace {

constexpr size_t kEdid1Vendor = 8;
constexpr size_t kEdid1VideoInput = 20;
constexpr uint8_t kVideoInputDigital = 0x80;
constexpr size_t kEdid1ImageWidthCm = 21;
constexpr size_t kEdid1ImageHeightCm = 22;
constexpr size_t kEdid1Features = 24;
constexpr uint8_t kFeatureGtf = 0x01;
constexpr uint8_t kFeaturePreferredFirst = 0x02;
constexpr uint8_t kTagRangeLimits = 0xFD;
constexpr size_t kEdid2Vendor = 1;
constexpr size_t kEdid2Interface = 79;
constexpr uint8_t kEdid2FirstDigitalInterface = 16;
constexpr size_t kEdid2MapA = 126;
constexpr uint8_t kEdid2PreferredFirst = 0x40;
constexpr size_t kEdid2ImageWidthMm = 114;
constexpr size_t kEdid2ImageHeightMm = 116;

// Monitors without EDID whose load was sensed.
constexpr uint32_t kNoEdidMinWidth = 640, kNoEdidMinHeight = 400;
constexpr uint32_t kNoEdidMaxWidth = 640, kNoEdidMaxHeight = 480;

// More timings than any EDID can list for one size: the limits passes stop
// here whatever happens.
constexpr uint32_t kMaxTimingsPerSize = 256;

bool HasDigitalBoardOutput(const BOARDHANDLE* h) {
  return (h->ulOutputCaps & (kCapsDigitalOutputs | kCapsDigitalPanels)) != 0;
}

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// The EDID 1.x buffer the timing code reads for a record: the stored one, or
// a converted copy of a stored EDID 2.0 block; null for any other version.
const uint8_t* Edid1Of(const MONITORINFO& mi, uint8_t* scratch) {
  if (IsEdid1(mi.ulEdidVersion)) return mi.aucEdid;
  if (!IsEdid2(mi.ulEdidVersion)) return nullptr;
  std::memcpy(scratch, mi.aucEdid, kEdidBufferSize);
  HALPConvertEDID2toEDID1(scratch);
  return scratch;
}

// The entry before the first empty one; the last entry of a full list.
const EDIDMODE* LastMode(const EDIDMODE* list) {
  if (list[0].ulWidth == 0) return nullptr;
  size_t i = 1;
  while (i < kEdidModeEntries && list[i].ulWidth != 0) ++i;
  return &list[i - 1];
}

enum class TimingKind { kEstablished, kStandard, kDetailed };

struct KindErrors {
  HALSTATUS count, fetch;
};
constexpr KindErrors kVersionErrors[] = {
    {kErrEdidVersionEstablishedCount, kErrEdidVersionEstablished},
    {kErrEdidVersionStandardCount, kErrEdidVersionStandard},
    {kErrEdidVersionDetailedCount, kErrEdidVersionDetailed},
};

HALSTATUS CountTimings(BOARDHANDLE* h, TimingKind kind, const MODEINFO* query, uint32_t output, uint32_t* count,
                       bool gtfAllowed) {
  if (HalFailed(h->status)) return h->status;
  *count = 0;
  if (output >= kMonitorOutputs) return SetError(h, kErrDdcNoEdid);
  const MONITORINFO& mi = h->aMonitorInfo[output];
  uint8_t scratch[kEdidBufferSize];
  const uint8_t* edid = Edid1Of(mi, scratch);
  if (edid == nullptr) return SetError(h, kVersionErrors[static_cast<int>(kind)].count);
  switch (kind) {
    case TimingKind::kEstablished:
      if (IsEdid1(mi.ulEdidVersion)) *count = HALPGetEDID1EstablishedTimingNumber(edid, query);
      break;
    case TimingKind::kStandard:
      *count = HALPGetEDID1StandardTimingNumber(edid, query, gtfAllowed);
      break;
    case TimingKind::kDetailed:
      *count = HALPGetEDID1DetailedTimingNumber(edid, query, mi.flMonitor);
      break;
  }
  return h->status;
}

HALSTATUS FetchTiming(BOARDHANDLE* h, TimingKind kind, MODEINFO* query, uint32_t output, uint32_t n,
                      bool gtfAllowed) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return SetError(h, kErrDdcNoEdid);
  const MONITORINFO& mi = h->aMonitorInfo[output];
  uint8_t scratch[kEdidBufferSize];
  const uint8_t* edid = Edid1Of(mi, scratch);
  if (edid == nullptr) return SetError(h, kVersionErrors[static_cast<int>(kind)].fetch);
  bool found = false;
  switch (kind) {
    case TimingKind::kEstablished:
      if (!IsEdid1(mi.ulEdidVersion)) return SetError(h, kErrEdid2NoEstablished);
      found = HALPGetEDID1EstablishedTiming(edid, query, n);
      break;
    case TimingKind::kStandard:
      found = HALPGetEDID1StandardTiming(edid, query, n, gtfAllowed);
      break;
    case TimingKind::kDetailed:
      found = HALPGetEDID1DetailedTiming(edid, query, n, mi.flMonitor);
      break;
  }
  return found ? h->status : SetError(h, kErrDdcTimingIndex);
}

bool HasEdid(const BOARDHANDLE* h, uint32_t output) {
  return output < kMonitorOutputs && (h->aMonitorInfo[output].flMonitor & kMonitorEdidValid) != 0;
}

// One typed query of the entries: the n-th timing of a kind.
HALSTATUS TypedQuery(BOARDHANDLE* h, TimingKind kind, MODEINFO* query, uint32_t output, uint32_t n, bool gtf) {
  h->status = kHalOk;
  if (!HasEdid(h, output)) return SetError(h, kErrDdcNoEdid);
  uint32_t count = 0;
  if (HalFailed(CountTimings(h, kind, query, output, &count, gtf))) return h->status;
  if (count == 0) return SetError(h, kErrDdcNoTiming);
  if (n >= count) return SetError(h, kErrDdcTimingIndex);
  return FetchTiming(h, kind, query, output, n, gtf);
}

// The n-th timing of the query's size over established, standard (no GTF)
// and detailed timings of one output.
HALSTATUS AnyTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n) {
  if (HalFailed(h->status)) return h->status;
  if (!HasEdid(h, output)) return SetError(h, kErrDdcNoEdid);
  constexpr TimingKind kOrder[] = {TimingKind::kEstablished, TimingKind::kStandard, TimingKind::kDetailed};
  uint32_t total = 0;
  for (TimingKind kind : kOrder) {
    uint32_t count = 0;
    if (HalFailed(CountTimings(h, kind, query, output, &count, false))) return h->status;
    if (n < count) return FetchTiming(h, kind, query, output, n, false);
    n -= count;
    total += count;
  }
  return SetError(h, total == 0 ? kErrDdcNoTiming : kErrDdcTimingIndex);
}

// Widens [low, high] by a value; a zero bound takes the first value.
void Widen(uint32_t value, uint32_t* low, uint32_t* high) {
  if (low != nullptr && (*low == 0 || value < *low)) *low = value;
  if (*high == 0 || value > *high) *high = value;
}

}  // namespace

// ---- Gathering steps ------------------------------------------------------------

HALSTATUS HALPGetMonitorProperties(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  mi.flMonitor &= ~(kMonitorGtf | kMonitorDigital);
  mi.ulVendorProduct = 0;
  mi.ulPreferredWidth = mi.ulPreferredHeight = mi.ulPreferredRefresh = 0;
  const uint8_t* edid = mi.aucEdid;
  if (IsEdid1(mi.ulEdidVersion)) {
    mi.ulVendorProduct = Be32(edid + kEdid1Vendor);
    if ((edid[kEdid1VideoInput] & kVideoInputDigital) && HasDigitalBoardOutput(h)) mi.flMonitor |= kMonitorDigital;
    if (edid[kEdid1Features] & kFeatureGtf) mi.flMonitor |= kMonitorGtf;
    if (edid[kEdid1Features] & kFeaturePreferredFirst) {
      const uint8_t* first = edid + kEdidFirstDescriptor;
      bool doubled = false;
      HALPGetResFromDetailedTiming(first, mi.flMonitor, &mi.ulPreferredWidth, &mi.ulPreferredHeight, &doubled);
      MODEINFO timing{};
      if (mi.ulPreferredWidth != 0 && HALPGetEDIDDetailedTimingInfo(first, &timing))
        mi.ulPreferredRefresh = timing.ulRefreshRate;
    } else if (mi.flMonitor & kMonitorDigital) {
      // A digital monitor without a preferred timing is taken at its largest
      // mode.
      EDIDMODE list[kEdidModeEntries];
      HALPGetEDID1EdidModes(edid, list, mi.flMonitor);
      if (const EDIDMODE* last = LastMode(list)) {
        mi.ulPreferredWidth = last->ulWidth;
        mi.ulPreferredHeight = last->ulHeight;
        mi.ulPreferredRefresh = last->ulRefresh;
      }
    }
  } else if (IsEdid2(mi.ulEdidVersion)) {
    mi.ulVendorProduct = Be32(edid + kEdid2Vendor);
    if (edid[kEdid2Interface] >= kEdid2FirstDigitalInterface && HasDigitalBoardOutput(h))
      mi.flMonitor |= kMonitorDigital;
    EDID2LAYOUT layout;
    HALPCalcEDID2Offset(edid, &layout);
    MODEINFO timing{};
    if ((edid[kEdid2MapA] & kEdid2PreferredFirst) && layout.ulDetailedCount != 0 &&
        HALPGetEDIDDetailedTimingInfo(edid + layout.ulDetailedOffset, &timing)) {
      mi.ulPreferredWidth = timing.ulDispWidth;
      mi.ulPreferredHeight = timing.ulDispHeight;
      mi.ulPreferredRefresh = timing.ulRefreshRate;
    }
  }
  return h->status;
}

HALSTATUS HALPGetEdidModes(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  uint8_t scratch[kEdidBufferSize];
  const uint8_t* edid = Edid1Of(mi, scratch);
  if (edid == nullptr) {
    std::memset(mi.aEdidModes, 0, sizeof(mi.aEdidModes));
    return h->status;
  }
  HALPGetEDID1EdidModes(edid, mi.aEdidModes, mi.flMonitor);
  return h->status;
}

HALSTATUS HALPGetMonitorMinimalResolution(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  if (IsEdid1(mi.ulEdidVersion) || IsEdid2(mi.ulEdidVersion)) {
    mi.ulMinResWidth = mi.aEdidModes[0].ulWidth;
    mi.ulMinResHeight = mi.aEdidModes[0].ulHeight;
  } else if (mi.flMonitor & kMonitorPresent) {
    mi.ulMinResWidth = kNoEdidMinWidth;
    mi.ulMinResHeight = kNoEdidMinHeight;
  } else {
    mi.ulMinResWidth = mi.ulMinResHeight = 0;
  }
  return h->status;
}

HALSTATUS HALPGetMonitorMaximalResolution(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  if (IsEdid1(mi.ulEdidVersion) || IsEdid2(mi.ulEdidVersion)) {
    // A full list ends with its largest mode like any other.
    if (const EDIDMODE* last = LastMode(mi.aEdidModes)) {
      mi.ulMaxResWidth = last->ulWidth;
      mi.ulMaxResHeight = last->ulHeight;
    }
  } else if (mi.flMonitor & kMonitorPresent) {
    mi.ulMaxResWidth = kNoEdidMaxWidth;
    mi.ulMaxResHeight = kNoEdidMaxHeight;
  } else {
    mi.ulMaxResWidth = mi.ulMaxResHeight = 0;
  }
  return h->status;
}

HALSTATUS HALPGetMonitorLimits(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  mi.ulMinVRate = mi.ulMaxVRate = mi.ulMinHRate = mi.ulMaxHRate = mi.ulMaxPixClock = 0;
  mi.ulImageWidthMm = mi.ulImageHeightMm = 0;

  // The rates and clocks of the timings of the smallest and the largest
  // mode. The walk ends when the output has no further timing; that end is
  // not an error of the monitor, so the status is kept apart.
  if (mi.flMonitor & kMonitorEdidValid) {
    const HALSTATUS kept = h->status;
    const uint32_t sizes[2][2] = {{mi.ulMinResWidth, mi.ulMinResHeight}, {mi.ulMaxResWidth, mi.ulMaxResHeight}};
    for (const auto& size : sizes) {
      for (uint32_t n = 0; n < kMaxTimingsPerSize; ++n) {
        MODEINFO query{};
        query.ulDispWidth = size[0];
        query.ulDispHeight = size[1];
        query.ulBpp = 8;
        query.ulZoom = 1;
        query.flOutput = output == 0 ? kQueryOutput0 : kQueryOutput1;
        h->status = kHalOk;
        if (HalFailed(AnyTiming(h, &query, output, n))) break;
        Widen(query.ulRefreshRate, &mi.ulMinVRate, &mi.ulMaxVRate);
        Widen(query.ulHorizRate, &mi.ulMinHRate, &mi.ulMaxHRate);
        Widen(query.ulPixClock, nullptr, &mi.ulMaxPixClock);
      }
    }
    h->status = kept;
  }

  const uint8_t* edid = mi.aucEdid;
  if (IsEdid1(mi.ulEdidVersion)) {
    // The monitor's own range descriptor overrides what its timings say.
    for (size_t i = 0; i < kEdidDescriptorCount; ++i) {
      const uint8_t* d = edid + kEdidFirstDescriptor + i * kEdidDescriptorSize;
      if (d[0] != 0 || d[1] != 0 || d[3] != kTagRangeLimits) continue;
      mi.ulMinVRate = d[5];
      mi.ulMaxVRate = d[6] - 3u * d[6] / 200;
      mi.ulMinHRate = d[7];
      mi.ulMaxHRate = d[8] - 3u * d[8] / 200;
      mi.ulMaxPixClock = d[9] * 9850u;
      break;
    }
    mi.ulImageWidthMm = edid[kEdid1ImageWidthCm] * 10u;
    mi.ulImageHeightMm = edid[kEdid1ImageHeightCm] * 10u;
  } else if (IsEdid2(mi.ulEdidVersion)) {
    EDID2LAYOUT layout;
    HALPCalcEDID2Offset(edid, &layout);
    if (layout.ulFrequencyCount != 0) {
      const uint8_t* b = edid + layout.ulFrequencyOffset;
      mi.ulMinVRate = (b[4] & 3u) + 4u * b[0];
      mi.ulMaxVRate = ((b[4] >> 2) & 3u) + 4u * b[1];
      mi.ulMinHRate = ((b[4] >> 4) & 3u) + 4u * b[2];
      mi.ulMaxHRate = (b[4] >> 6) + 4u * b[3];
      mi.ulMaxPixClock = (b[6] + 256u * (b[7] & 0xF)) * 10000u;
    }
    mi.ulImageWidthMm = edid[kEdid2ImageWidthMm] * 256u + edid[kEdid2ImageWidthMm + 1];
    mi.ulImageHeightMm = edid[kEdid2ImageHeightMm] * 256u + edid[kEdid2ImageHeightMm + 1];
  }
  return h->status;
}

HALSTATUS HALPGetMonitorAspectRatio(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kMonitorOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  uint8_t scratch[kEdidBufferSize];
  const uint8_t* edid = (mi.flMonitor & kMonitorEdidValid) ? Edid1Of(mi, scratch) : nullptr;
  mi.flAspectRatio = edid != nullptr ? HALPGetEDID1AspectRatio(edid, mi.flMonitor) : kAspectWide;
  return h->status;
}

// ---- Timing queries -------------------------------------------------------------

HALSTATUS HALPGetDDCEstablishedTimingNumber(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t* count) {
  return CountTimings(h, TimingKind::kEstablished, query, output, count, false);
}

HALSTATUS HALPGetDDCStandardTimingNumber(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t* count) {
  return CountTimings(h, TimingKind::kStandard, query, output, count, false);
}

HALSTATUS HALPGetDDCDetailedTimingNumber(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t* count) {
  return CountTimings(h, TimingKind::kDetailed, query, output, count, false);
}

HALSTATUS HALPGetDDCEstablishedTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n) {
  return FetchTiming(h, TimingKind::kEstablished, query, output, n, false);
}

HALSTATUS HALPGetDDCStandardTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n) {
  return FetchTiming(h, TimingKind::kStandard, query, output, n, false);
}

HALSTATUS HALPGetDDCDetailedTiming(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n) {
  return FetchTiming(h, TimingKind::kDetailed, query, output, n, false);
}

HALSTATUS HALGetDDCEstablishedParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n) {
  return TypedQuery(h, TimingKind::kEstablished, query, output, n, false);
}

HALSTATUS HALGetDDCStandardParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n,
                                      uint32_t gtfAllowed) {
  return TypedQuery(h, TimingKind::kStandard, query, output, n, gtfAllowed != 0);
}

HALSTATUS HALGetDDCDetailedParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t output, uint32_t n) {
  return TypedQuery(h, TimingKind::kDetailed, query, output, n, false);
}

HALSTATUS HALGetDDCParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t n) {
  h->status = kHalOk;
  return AnyTiming(h, query, (query->flOutput & kQueryOutput1) ? 1 : 0, n);
}
