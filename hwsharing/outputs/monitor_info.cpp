#include "hwsharing/outputs/monitor_info.h"

#include <cstring>
#include <iterator>

#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/load_sense.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/outputs/cables.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/outputs/output_sync.h"

namespace {

constexpr uint32_t kOutputs = kMonitorOutputs;

// Output-capability bits: an output's digital availability, and its
// existence (either bit of a pair).
constexpr uint32_t kDigitalAvailable[kOutputs] = {0x4, 0x200000, 0x100, 0x200};
constexpr uint32_t kOutputExists[kOutputs] = {0x1 | 0x4, 0x2 | 0x200000, 0x800000 | 0x100, 0x1000000 | 0x200};
// Output 0's and 1's digital flags are checked against outputs 2 and 3.
constexpr uint32_t kCapsCrossCheck = 0x2000000;

// Analog bit and the bits that mean a controller drives the output.
constexpr uint32_t kAnalogBit[kOutputs] = {kOutAnalog0, kOutAnalog1, kOutAnalog2, kOutAnalog3};
constexpr uint32_t kDrivenBits[kOutputs] = {kOutAnalog0 | kOutDigital0, kOutAnalog1 | kOutDigital1,
                                            kOutAnalog2 | kOutDigital2, kOutAnalog3 | kOutDigital3};

// EDID addresses of an analog output and of one that may carry a digital
// monitor (the digital parts first).
constexpr uint32_t kAnalogAddresses[] = {0xA0};
constexpr uint32_t kDigitalAddresses[] = {0xA6, 0xA2, 0xA0};
constexpr uint32_t kEdidAttempts = 3;
constexpr uint32_t kEdidWait = 1;

// Digital output formats that halve the pixel rate on the link.
constexpr uint32_t kHalvingFormats[] = {4, 5, 6, 7, 8, 9, 19, 20, 22, 24, 25, 26};

// TV signal types the encoders sense.
constexpr uint32_t kTvSignalType1 = 1;
constexpr uint32_t kTvSignalType3 = 3;

// EDID fields of the limits.
constexpr uint8_t kTagRangeLimits = 0xFD;
constexpr size_t kEdid1ImageWidthCm = 21;
constexpr size_t kEdid1ImageHeightCm = 22;
constexpr size_t kEdid2ImageWidthMm = 114;
constexpr size_t kEdid2ImageHeightMm = 116;
constexpr uint32_t kRangeClockUnitKHz = 10000;
constexpr uint32_t kEdid2ClockUnitKHz = 1000;

// The query that measures a monitor's limits from its timings.
constexpr uint32_t kLimitsQueryBpp = 8;
constexpr uint32_t kLimitsQueryOutput = 0x200000;
// More timings than an EDID lists for one size: the walk stops here.
constexpr uint32_t kMaxTimingsPerSize = 256;

bool EdidValid(const MONITORINFO& mi) { return (mi.flMonitor & kMonitorEdidValid) != 0; }

void ClearLimits(MONITORINFO& mi) {
  mi.ulMinVRate = mi.ulMaxVRate = mi.ulMinHRate = mi.ulMaxHRate = mi.ulMaxPixClock = 0;
  mi.ulImageWidthMm = mi.ulImageHeightMm = 0;
}

// Lowers a minimum (a zero minimum is unset) and raises a maximum.
void Widen(uint32_t value, uint32_t* low, uint32_t* high) {
  if (low != nullptr && (*low == 0 || value < *low)) *low = value;
  if (value > *high) *high = value;
}

uint32_t Be16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }

// The range descriptor of an EDID 1.x block; false without one.
bool Edid1Range(MONITORINFO& mi) {
  for (size_t i = 0; i < kEdidDescriptorCount; ++i) {
    const uint8_t* d = mi.aucEdid + kEdidFirstDescriptor + i * kEdidDescriptorSize;
    if (d[0] != 0 || d[1] != 0 || d[3] != kTagRangeLimits) continue;
    mi.ulMinVRate = d[5];
    mi.ulMaxVRate = d[6];
    mi.ulMinHRate = d[7];
    mi.ulMaxHRate = d[8];
    mi.ulMaxPixClock = d[9] * kRangeClockUnitKHz;
    return true;
  }
  return false;
}

// The range block of an EDID 2.0 block; false when the map names none, or
// one that does not lie inside the 256 bytes.
bool Edid2Range(MONITORINFO& mi) {
  EDID2LAYOUT layout;
  HALPCalcEDID2Offset(mi.aucEdid, &layout);
  if (layout.ulFrequencyCount == 0) return false;
  const uint8_t* b = mi.aucEdid + layout.ulFrequencyOffset;
  mi.ulMinVRate = b[0] * 4u + (b[4] & 3u);
  mi.ulMaxVRate = b[1] * 4u + ((b[4] >> 2) & 3u);
  mi.ulMinHRate = b[2] * 4u + ((b[4] >> 4) & 3u);
  mi.ulMaxHRate = b[3] * 4u + ((b[4] >> 6) & 3u);
  mi.ulMaxPixClock = (((static_cast<uint32_t>(b[7]) << 8) & 0xFFFu) | b[6]) * kEdid2ClockUnitKHz;
  return true;
}

MODEINFO LimitsQuery(const EDIDMODE& size) {
  MODEINFO q{};
  q.ulBpp = kLimitsQueryBpp;
  q.flOutput = kLimitsQueryOutput;
  q.ulZoom = 1;
  q.ulDispWidth = q.ulDeskWidth = size.ulWidth;
  q.ulDispHeight = q.ulDeskHeight = size.ulHeight;
  return q;
}

}  // namespace

HALSTATUS HSLKSTSetOutputAnalogModeType(BOARDHANDLE* h, uint32_t output, uint32_t* flOutput) {
  if (HalFailed(h->status)) return h->status;
  if (output < kOutputs) *flOutput |= kAnalogBit[output];
  return h->status;
}

HALSTATUS HSLKSTValidateMonitorIndex(BOARDHANDLE* h, uint32_t output, uint32_t* exists) {
  if (HalFailed(h->status)) return h->status;
  *exists = output < kOutputs && (h->ulOutputCaps & kOutputExists[output]) != 0 ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTBuildOutputModeType(BOARDHANDLE* h, const int32_t* outputs, uint32_t* flOutput) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t i = 0; i < kOutputs && outputs[i] != kOutputListEnd; ++i) {
    const int32_t output = outputs[i];
    if (output < 0 || output >= static_cast<int32_t>(kOutputs)) continue;
    bool driven = false;
    for (const MODEINFO& m : h->aModeInfo)
      if (m.flOutput & kDrivenBits[output]) driven = true;
    if (!driven) HSLKSTSetOutputAnalogModeType(h, static_cast<uint32_t>(output), flOutput);
  }
  return h->status;
}

HALSTATUS HSLKSTIsOutputInUse(BOARDHANDLE* h, uint32_t flOutput, uint32_t* inUse) {
  if (HalFailed(h->status)) return h->status;
  *inUse = 0;
  // The first module the word needs decides; only its register is read.
  if (UsesDvo1(h, flOutput)) {
    *inUse = (RegRead(h, kRegDvoPower) & kDvoPowerDvo1Off) == 0;
  } else if (UsesDvo2(h, flOutput)) {
    *inUse = (RegRead(h, kRegDvoPower) & kDvoPowerDvo2Off) == 0;
  } else if (UsesDac1(h, flOutput)) {
    *inUse = (RegRead(h, kRegDacCtl1) & (kDacOff | kDac1Blank)) == 0;
  } else if (UsesDac2(h, flOutput)) {
    *inUse = (RegRead(h, kRegDacCtl2) & (kDacOff | kDac2Blank)) == 0;
  }
  return h->status;
}

HALSTATUS HSLKSTGetMonitorEDID(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kOutputs) return h->status;
  const bool digital = (h->ulOutputCaps & kDigitalAvailable[output]) != 0;
  const uint32_t* addresses = digital ? kDigitalAddresses : kAnalogAddresses;
  const size_t count = digital ? std::size(kDigitalAddresses) : std::size(kAnalogAddresses);
  const uint32_t port = DdcPortOfOutput(output);
  for (size_t i = 0; i < count && !EdidValid(h->aMonitorInfo[output]); ++i)
    h->pEDIDFunctions->ReadDDCEDID(h, output, port, addresses[i], kEdidAttempts, kEdidWait);
  // A monitor without EDID is no error; a warning stays.
  if (HalFailed(h->status)) h->status = kHalOk;
  return h->status;
}

HALSTATUS HSLKSTGetMonitorInfoTV(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  const CABLEINFO& cable = h->aCableInfo[output];
  if (cable.ulCaps & (kCableCapTv | kCableCapFourth)) mi.flMonitor |= kMonitorTvFlags;
  if (IsQuadBoard(h) && cable.ucCableType == kCableTvUnknown) {
    // The breakout cable does not say which TV signal it carries; the
    // encoder of the output senses it.
    uint32_t type = 0;
    HSLCHRDetectTVSignalType(h, output, &type);
    if (type == kTvSignalType1) mi.flMonitor |= kMonitorTvSignal1;
    if (type == kTvSignalType3) mi.flMonitor |= kMonitorTvSignal3;
    if (type != 0) mi.flMonitor |= kMonitorTvFlags;
  }
  return h->status;
}

HALSTATUS HSLKSTGetMonitorInfo(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTGetMonitorEDID(h, output);
  return HSLKSTGetMonitorInfoTV(h, output);
}

HALSTATUS HSLKSTGetAdditionalMonitorProperties(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kOutputs) return h->status;
  for (uint32_t format : kHalvingFormats)
    if (h->aulDigitalOutputFormat[output] == format) h->aMonitorInfo[output].flMonitor |= kMonitorPixelDoubled;
  return h->status;
}

HALSTATUS HSLKSTGetDDCParameters(BOARDHANDLE* h, MODEINFO* query, uint32_t index, uint32_t output) {
  h->status = kHalOk;
  if (output >= kOutputs || !EdidValid(h->aMonitorInfo[output])) return SetError(h, kErrDdcNoEdid);
  uint32_t detailed = 0, standard = 0, established = 0;
  HALPGetDDCDetailedTimingNumber(h, query, output, &detailed);
  HALPGetDDCStandardTimingNumber(h, query, output, &standard);
  HALPGetDDCEstablishedTimingNumber(h, query, output, &established);
  if (HalFailed(h->status)) return h->status;
  if (index < detailed) return HALPGetDDCDetailedTiming(h, query, output, index);
  index -= detailed;
  if (index < standard) return HALPGetDDCStandardTiming(h, query, output, index);
  index -= standard;
  if (index < established) return HALPGetDDCEstablishedTiming(h, query, output, index);
  return SetError(h, detailed + standard + established != 0 ? kErrDdcTimingIndex : kErrDdcNoTiming);
}

HALSTATUS HSLKSTDetectMonitorLimits(BOARDHANDLE* h, MONITORINFO* limits, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kOutputs) return h->status;
  const MONITORINFO& mi = h->aMonitorInfo[output];
  // The queries end with an error when a size runs out of timings; that
  // end is no error of the monitor, so the status is kept apart.
  const HALSTATUS kept = h->status;
  MODEINFO seed = LimitsQuery(mi.aEdidModes[0]);
  if (!HalFailed(HSLKSTGetDDCParameters(h, &seed, 0, output))) {
    limits->ulMinVRate = limits->ulMaxVRate = seed.ulRefreshRate;
    limits->ulMinHRate = limits->ulMaxHRate = seed.ulHorizRate;
    limits->ulMaxPixClock = seed.ulPixClock;
  }
  h->status = kept;
  for (size_t i = 0; i < kEdidModeEntries && mi.aEdidModes[i].ulWidth != 0; ++i) {
    const EDIDMODE& e = mi.aEdidModes[i];
    if (i > 0 && e.ulWidth == mi.aEdidModes[i - 1].ulWidth && e.ulHeight == mi.aEdidModes[i - 1].ulHeight) continue;
    for (uint32_t n = 0; n < kMaxTimingsPerSize; ++n) {
      MODEINFO query = LimitsQuery(e);
      const bool ok = !HalFailed(HSLKSTGetDDCParameters(h, &query, n, output));
      h->status = kept;
      if (!ok) break;
      Widen(query.ulRefreshRate, &limits->ulMinVRate, &limits->ulMaxVRate);
      Widen(query.ulHorizRate, &limits->ulMinHRate, &limits->ulMaxHRate);
      Widen(query.ulPixClock, nullptr, &limits->ulMaxPixClock);
    }
  }
  return h->status;
}

HALSTATUS HSLKSTGetMonitorLimits(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kOutputs) return h->status;
  MONITORINFO& mi = h->aMonitorInfo[output];
  ClearLimits(mi);
  bool range = false;
  if (IsEdid1(mi.ulEdidVersion)) {
    range = Edid1Range(mi);
    mi.ulImageWidthMm = mi.aucEdid[kEdid1ImageWidthCm] * 10u;
    mi.ulImageHeightMm = mi.aucEdid[kEdid1ImageHeightCm] * 10u;
  } else if (IsEdid2(mi.ulEdidVersion)) {
    range = Edid2Range(mi);
    mi.ulImageWidthMm = Be16(mi.aucEdid + kEdid2ImageWidthMm);
    mi.ulImageHeightMm = Be16(mi.aucEdid + kEdid2ImageHeightMm);
  }
  if (range) return h->status;
  MONITORINFO measured{};
  HSLKSTDetectMonitorLimits(h, &measured, output);
  mi.ulMinVRate = measured.ulMinVRate;
  mi.ulMaxVRate = measured.ulMaxVRate;
  mi.ulMinHRate = measured.ulMinHRate;
  mi.ulMaxHRate = measured.ulMaxHRate;
  mi.ulMaxPixClock = measured.ulMaxPixClock;
  return h->status;
}

HALSTATUS HSLKSTValidateAllMonitorInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (IsQuadBoard(h) || !(h->ulOutputCaps & kCapsCrossCheck)) return h->status;
  // A monitor on output 2 (3) shares the connector's digital lines with
  // output 0 (1), which then cannot drive a digital monitor.
  MONITORINFO* mi = h->aMonitorInfo;
  if (EdidValid(mi[2])) mi[0].flMonitor &= ~kMonitorDigital;
  if (EdidValid(mi[3])) mi[1].flMonitor &= ~kMonitorDigital;
  return h->status;
}

HALSTATUS HSLKSTDetectSpecialMonitor(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (MONITORINFO& mi : h->aMonitorInfo) {
    if (!(mi.flMonitor & kMonitorDigital)) continue;
    uint8_t edid[kEdidBufferSize];
    std::memcpy(edid, mi.aucEdid, sizeof(edid));
    if (IsEdid2(mi.ulEdidVersion)) HALPConvertEDID2toEDID1(edid);
    for (size_t i = 0; i < kEdidDescriptorCount; ++i) {
      MODEINFO timing{};
      if (!HALPGetEDIDDetailedTimingInfo(edid + kEdidFirstDescriptor + i * kEdidDescriptorSize, &timing)) continue;
      if (timing.ulPixClock > kFastDigitalClockKHz) {
        mi.flMonitor |= kMonitorFastDigital;
        break;
      }
    }
  }
  return h->status;
}

HALSTATUS HSLKSTGetSpecificMonitorInfo(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output >= kOutputs) return h->status;
  HSLKSTGetMonitorInfo(h, output);
  HSLKSTGetAdditionalMonitorProperties(h, output);
  HALPGetMonitorProperties(h, output);
  HALPGetEdidModes(h, output);
  HALPGetMonitorMinimalResolution(h, output);
  HALPGetMonitorMaximalResolution(h, output);
  HSLKSTGetMonitorLimits(h, output);
  HALPGetMonitorAspectRatio(h, output);
  return HALPDetectSpanbox(h, output);
}

HALSTATUS HSLKSTGetAllMonitorInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  std::memset(h->aMonitorInfo, 0, sizeof(h->aMonitorInfo));
  HSLKSTGetAllCableInfo(h);
  for (uint32_t output = 0; output < kOutputs; ++output) HSLKSTGetSpecificMonitorInfo(h, output);
  HSLKSTSenseAllLoads(h);
  HSLKSTValidateAllMonitorInfo(h);
  HSLKSTDetectSpecialMonitor(h);
  HSLKSTUpdateCableInfo(h);
  return HSLKSTGetDefaultAllHwOutputInfo(h);
}

HALSTATUS HSLKSTGetNotRespondingMonitorInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t module = 0, found = 0;
  HSLKSTGetFreeDCModule(h, &module, &found);
  if (!found) return h->status;

  int32_t list[kOutputs + 1];
  uint32_t n = 0;
  for (uint32_t output = 0; output < kOutputs; ++output) {
    const uint32_t flags = h->aMonitorInfo[output].flMonitor;
    if (!(flags & kMonitorPresent) || (flags & (kMonitorEdidValid | kMonitorHd15TvAdaptor))) continue;
    uint32_t exists = 0;
    HSLKSTValidateMonitorIndex(h, output, &exists);
    if (exists) list[n++] = static_cast<int32_t>(output);
  }
  list[n] = kOutputListEnd;
  if (n == 0) return h->status;

  uint32_t word = 0;
  HSLKSTBuildOutputModeType(h, list, &word);
  // The DAC words are put back as they were when sync goes off again.
  uint32_t savedDac1 = 0, savedDac2 = 0;
  const bool synced = word != 0;
  if (synced) HSLEnableSyncOnOutput(h, &word, 1, &savedDac1, &savedDac2);

  for (uint32_t pass = 0; pass < kNotRespondingPasses; ++pass) {
    bool all = true;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t output = static_cast<uint32_t>(list[i]);
      if (EdidValid(h->aMonitorInfo[output])) continue;
      HSLKSTGetSpecificMonitorInfo(h, output);
      if (!EdidValid(h->aMonitorInfo[output])) all = false;
    }
    if (all || pass + 1 == kNotRespondingPasses) break;
    Delay(h, kNotRespondingWaitUnits);
  }

  if (synced && word != kOutControllerOff) HSLDisableSyncOnOutput(h, word, &savedDac1, &savedDac2);
  return h->status;
}
