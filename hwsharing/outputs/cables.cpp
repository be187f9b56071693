#include "hwsharing/outputs/cables.h"

#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/monitor_info.h"

namespace {

// Connector codes that ask for a cable test, and the combo connectors whose
// two monitors take two consecutive records.
constexpr uint32_t kCodeLfh60First = 6, kCodeLfh60Last = 7;
constexpr uint32_t kCodeTl40First = 11, kCodeTl40Last = 14;
constexpr uint32_t kCodeComboFirst = 17, kCodeComboLast = 18;

// Capability-flags bits that offer the HD15-to-TV adaptor tests.
constexpr uint32_t kCapsAdaptorOnConnector1 = 1u << 19;
constexpr uint32_t kCapsAdaptorOnConnector3 = 1u << 15;
// Capability-flags bits of the Y-cable completion: a digital monitor on
// output 3 (or 2) may take the digital capability over.
constexpr uint32_t kCapsYCableTop = 1u << 21;
constexpr uint32_t kCapsYCableBottom = 1u << 2;
// Capability-flags bits a quad-dual board loses when outputs 2 or 3 carry a
// monitor.
constexpr uint32_t kCapsQuadDualDigital = (1u << 2) | (1u << 21);

// DDC ports of the LFH-60 test: two lines of the connector pair.
constexpr uint32_t kLfh60PortA[2] = {0, 17};  // connectors 0-1, 2-3
constexpr uint32_t kLfh60PortB[2] = {5, 18};

// Cable types the adaptor and LFH-60 tests give.
constexpr uint8_t kCableAdaptor1 = 5;
constexpr uint8_t kCableAdaptor3 = 6;
constexpr uint8_t kCableLfh60Both = 5;
constexpr uint8_t kCableLfh60 = kCableTvUnknown;

// TL40 codes 1-9: the cable type on connectors 0, 1, 2, 3.
struct Tl40Row {
  uint8_t code;
  uint8_t type[kCableConnectors];
};
constexpr Tl40Row kTl40Types[] = {
    {1, {4, 4, 4, 4}},
    {2, {3, 3, 3, 3}},
    {3, {1, 1, 1, 1}},
    {4, {3, 3, 3, 3}},
    {5, {5, 5, 5, 5}},
    {6, {9, 9, 9, 9}},
    {7, {3, 3, 3, 0}},
    {8, {3, 3, 0, 0}},
    {9, {1, 1, 5, 6}},
};

// The capability-flags bits of the four flags P, Q, R and S of a connector
// (connector 1's Q is either of two bits).
struct CapsBits {
  uint32_t p, q, r, s;
};
constexpr CapsBits kCapsBits[kCableConnectors] = {
    {1u << 6, 1u << 2, 1u << 10, 1u << 0},
    {1u << 7, (1u << 21) | (1u << 5), 1u << 3, 1u << 1},
    {1u << 14, 1u << 8, 1u << 11, 1u << 23},
    {1u << 15, 1u << 9, 1u << 12, 1u << 24},
};

bool InRange(uint32_t v, uint32_t first, uint32_t last) { return v >= first && v <= last; }

uint32_t Flag(const BOARDHANDLE* h, uint32_t bits) { return (h->ulOutputCaps & bits) != 0 ? 1 : 0; }

uint32_t CapsOfCable(const BOARDHANDLE* h, uint32_t connector, uint8_t type) {
  const CapsBits& b = kCapsBits[connector];
  switch (type) {
    case 1:
      return Flag(h, b.s);
    case 3:
      return 2 * Flag(h, b.q) + Flag(h, b.s);
    case 4:
      return 2 * Flag(h, b.q);
    case 5:
    case 6:
    case 7:
    case 8:
      return 4 * Flag(h, b.r) + ((type == 6 && Flag(h, b.p)) ? 8 : 0);
    default:
      return 0;
  }
}

bool Monitor(const BOARDHANDLE* h, uint32_t output, uint32_t flags) {
  return (h->aMonitorInfo[output].flMonitor & flags) != 0;
}

}  // namespace

uint8_t Tl40CableType(uint32_t code, uint32_t connector, bool* found) {
  for (const Tl40Row& row : kTl40Types) {
    if (row.code != code) continue;
    *found = true;
    return row.type[connector & 3];
  }
  *found = false;
  return kCableDefault;
}

bool IsQuadDualLayout(const BOARDHANDLE* h) {
  constexpr uint32_t kCodes[kCableConnectors] = {6, 7, 0, 0};
  constexpr uint8_t kBoth = kConnectorAnalog | kConnectorAnalogB;
  for (uint32_t c = 0; c < kCableConnectors; ++c)
    if (PinsConnectorCode(h, c) != kCodes[c]) return false;
  return (PinsConnectorByte(h, 0) & kBoth) == kBoth &&
         (PinsConnectorByte(h, 1) & kBoth) == kBoth && PinsConnectorByte(h, 2) == 0 &&
         PinsConnectorByte(h, 3) == 0;
}

HALSTATUS HSLKSTGetAllCableInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  std::memset(h->aCableInfo, 0, sizeof(h->aCableInfo));
  for (uint32_t c = 0; c < kCableConnectors; ++c) HSLKSTGetCableInfo(h, c);
  return h->status;
}

HALSTATUS HSLKSTGetCableInfo(BOARDHANDLE* h, uint32_t connector) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTGetCable(h, connector);
  return HSLKSTGetCableOutputCaps(h, connector);
}

HALSTATUS HSLKSTGetCablesToDetect(BOARDHANDLE* h, uint32_t connector, uint32_t* mask) {
  if (HalFailed(h->status)) return h->status;
  *mask = 0;
  const uint32_t code = PinsConnectorCode(h, connector);
  if (InRange(code, kCodeLfh60First, kCodeLfh60Last)) *mask |= kDetectLfh60;
  if (InRange(code, kCodeTl40First, kCodeTl40Last)) *mask |= kDetectTl40;
  if (IsQuadBoard(h)) return h->status;
  if (connector == 1 && (h->ulOutputCaps & kCapsAdaptorOnConnector1)) *mask |= kDetectAdaptor1;
  if (connector == 3 && (h->ulOutputCaps & kCapsAdaptorOnConnector3)) *mask |= kDetectAdaptor3;
  return h->status;
}

HALSTATUS HSLKSTGetCable(BOARDHANDLE* h, uint32_t connector) {
  if (HalFailed(h->status)) return h->status;
  if (connector >= kCableConnectors) return h->status;
  uint32_t type = kCableDefault;
  uint32_t found = 0;
  uint32_t mask = 0;
  HSLKSTGetCablesToDetect(h, connector, &mask);
  if (mask & kDetectLfh60) HSLKSTDetectLFH60TVCable(h, connector, &type, &found);
  if (!found && (mask & kDetectTl40)) HSLKSTDetectTL40Cable(h, connector, &type, &found);
  const struct {
    uint32_t bit;
    uint8_t type;
  } adaptors[] = {{kDetectAdaptor1, kCableAdaptor1}, {kDetectAdaptor3, kCableAdaptor3}};
  for (const auto& a : adaptors) {
    if (found || !(mask & a.bit)) continue;
    HALPDetectHD15ToTVAdaptor(h, connector, &found);
    if (found) type = a.type;
  }
  h->aCableInfo[connector].ucCableType = static_cast<uint8_t>(type);
  return h->status;
}

HALSTATUS HSLKSTDetectLFH60TVCable(BOARDHANDLE* h, uint32_t connector, uint32_t* type, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t pair = connector >= 2 ? 1 : 0;
  uint32_t tiedA = 0;
  uint32_t tiedB = 0;
  HALPDetectShortDDCPort(h, kLfh60PortA[pair], &tiedA);
  HALPDetectShortDDCPort(h, kLfh60PortB[pair], &tiedB);
  // A probe that failed only means no cable.
  h->status = kHalOk;
  if (tiedA) {
    *found = 1;
    *type = tiedB ? kCableLfh60Both : kCableLfh60;
  }
  return h->status;
}

HALSTATUS HSLKSTDetectTL40Cable(BOARDHANDLE* h, uint32_t connector, uint32_t* type, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  uint32_t code = 0;
  for (uint32_t bit = 0; bit < kTl40CodeBits; ++bit) {
    uint32_t encoder = 0, line = 0, mapped = 0;
    HSLPIN60GetCHRGPIOData(h, kChrAllEncoderSlots, kTl40FirstGpioFunction + bit, &encoder, &line, &mapped);
    if (!mapped) continue;
    uint32_t level = 0;
    HSLCHRAccessGPIO(h, 0, encoder, line, &level);
    if (HalFailed(h->status)) return h->status;
    if (level) code |= 1u << bit;
  }
  bool known = false;
  *type = Tl40CableType(code, connector, &known);
  *found = known ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTGetCableOutputCaps(BOARDHANDLE* h, uint32_t connector) {
  if (HalFailed(h->status)) return h->status;
  if (connector >= kCableConnectors) return h->status;
  CABLEINFO& cable = h->aCableInfo[connector];
  cable.ulCaps = CapsOfCable(h, connector, cable.ucCableType);
  return h->status;
}

HALSTATUS HSLKSTUpdateCableInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTCompleteTVCableDetection(h);
  HSLKSTCompleteY_CableDetectionTop(h);
  HSLKSTCompleteY_CableDetectionBottom(h);
  HSLKSTCompleteComboCableDetection(h);
  return HSLKSTCompleteQuadDualCableDetection(h);
}

HALSTATUS HSLKSTCompleteTVCableDetection(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t c = 0; c < kCableConnectors; ++c) {
    CABLEINFO& cable = h->aCableInfo[c];
    if (cable.ucCableType != kCableTvUnknown) continue;
    if (Monitor(h, c, kMonitorTvSignal1)) {
      cable.ucCableType = kCableTvSignal1;
    } else if (Monitor(h, c, kMonitorTvSignal3)) {
      cable.ucCableType = kCableTvSignal3;
    }
  }
  for (uint32_t c = 0; c < kCableConnectors; ++c) HSLKSTGetCableOutputCaps(h, c);
  if (IsQuadBoard(h)) {
    const uint8_t type = h->aCableInfo[BoardType(h) == 3 ? 3 : 0].ucCableType;
    if (type >= 5 && type <= 9) h->ucTvCableType = type;
  }
  return h->status;
}

HALSTATUS HSLKSTCompleteY_CableDetectionTop(BOARDHANDLE* h) {
  if (HalFailed(h->status) || IsQuadBoard(h)) return h->status;
  if (Monitor(h, 1, kMonitorDigital)) h->aCableInfo[3].ulCaps = 0;
  if (Monitor(h, 3, kMonitorDigital) && (h->ulOutputCaps & kCapsYCableTop)) {
    h->aCableInfo[3].ulCaps |= kCableCapDigital;
    h->aCableInfo[1].ulCaps &= ~kCableCapDigital;
  }
  return h->status;
}

HALSTATUS HSLKSTCompleteY_CableDetectionBottom(BOARDHANDLE* h) {
  if (HalFailed(h->status) || IsQuadBoard(h)) return h->status;
  if (Monitor(h, 0, kMonitorDigital)) h->aCableInfo[2].ulCaps = 0;
  if (Monitor(h, 2, kMonitorDigital) && (h->ulOutputCaps & kCapsYCableBottom)) {
    h->aCableInfo[2].ulCaps |= kCableCapDigital;
    h->aCableInfo[0].ulCaps &= ~kCableCapDigital;
    h->aCableInfo[3].ulCaps &= ~kCableCapDigital;
  }
  return h->status;
}

HALSTATUS HSLKSTCompleteComboCableDetection(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  MONITORINFO* mi = h->aMonitorInfo;
  // Record j describes connector j afterwards; s runs ahead over the
  // records as detected (s >= j throughout, so copies never overwrite a
  // record still to be read).
  uint32_t s = 0;
  auto take = [&](uint32_t j) {
    if (s > 3) {
      std::memset(&mi[j], 0, sizeof(mi[j]));
    } else if (s != j) {
      std::memcpy(&mi[j], &mi[s], sizeof(mi[j]));
    }
  };
  for (uint32_t j = 0; j < kCableConnectors; ++j) {
    if (s <= 3 && InRange(PinsConnectorCode(h, j), kCodeComboFirst, kCodeComboLast)) {
      if ((mi[s].flMonitor & kMonitorDigital) && s % 2 == 0) {
        take(j);
        s += 2;
      } else {
        ++s;
        take(j);
        ++s;
      }
    } else {
      take(j);
      ++s;
    }
  }
  return h->status;
}

HALSTATUS HSLKSTCompleteQuadDualCableDetection(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  if (!IsQuadDualLayout(h)) return h->status;
  if (Monitor(h, 2, kMonitorPresent) || Monitor(h, 3, kMonitorPresent)) {
    for (CABLEINFO& cable : h->aCableInfo) {
      cable.ucCableType = 1;
      cable.ulCaps &= ~kCableCapDigital;
    }
    h->ulOutputCaps &= ~kCapsQuadDualDigital;
    return h->status;
  }
  for (uint32_t k = 2; k < kCableConnectors; ++k) {
    std::memset(&h->aMonitorInfo[k], 0, sizeof(h->aMonitorInfo[k]));
    std::memset(&h->aCableInfo[k], 0, sizeof(h->aCableInfo[k]));
    std::memset(&h->aHwOutput[k], 0, sizeof(h->aHwOutput[k]));
    h->aulHwOutputLinkCancel[k] = 0;
  }
  return h->status;
}
