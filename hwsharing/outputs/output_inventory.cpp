#include "hwsharing/outputs/output_inventory.h"

#include <cstring>
#include <initializer_list>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/outputs/cables.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/output_links.h"

namespace {

// Output-capability bits the inventory reads.
constexpr uint32_t kCapsDigital0 = 0x4;
constexpr uint32_t kCapsDualLink0 = 0x20;
constexpr uint32_t kCapsDigital3 = 0x200;
constexpr uint32_t kCapsDigital1 = 0x200000;

// Digital output formats that join two outputs into one dual link.
constexpr uint32_t kFormatDualLinkPair = 3;
constexpr uint32_t kFormatDualTransmitters = 18;

// Outputs 1 and 3 of a module whose control byte is above this pan apart.
constexpr uint32_t kControlByteHLinkCancel = 9;
constexpr uint32_t kControlByteMask = 0x7F;

// Controller of outputs 0-3 per board group (-1: none).
constexpr int32_t kControllersQuad[kHwOutputs] = {0, 0, 1, 1};
constexpr int32_t kControllersWired[kHwOutputs] = {0, 1, -1, -1};
constexpr int32_t kControllersTwin[kHwOutputs] = {0, 1, 3, 1};
constexpr int32_t kControllersTwoUsed[kHwOutputs] = {0, 1, 0, 1};
constexpr int32_t kControllersType20[kHwOutputs] = {0, 3, 1, 2};
constexpr int32_t kControllersMore[kHwOutputs] = {0, 3, 2, 1};
constexpr uint32_t kBoardTypeReversed = 3;
constexpr uint32_t kBoardTypeControllers20 = 20;

// The output bits of each kind, all four outputs.
constexpr uint32_t kKindsDigital = 0xE0000100;
constexpr uint32_t kKindsFourth = 0xF000;
constexpr uint32_t kKindsTv = 0x4000070;
constexpr uint32_t kKindsAnalog = 0x9000006;

// DVO of outputs 0-3 on quad and twin boards (standard boards: below).
constexpr int32_t kDvoQuad[kHwOutputs] = {0, 0, 1, 1};
constexpr int32_t kDvoTwin[kHwOutputs] = {-1, 1, 0, -1};

bool TypeIn(uint32_t type, std::initializer_list<uint32_t> types) {
  for (uint32_t t : types)
    if (t == type) return true;
  return false;
}

uint32_t PresentCount(const I2CDEVICE (&records)[4]) {
  uint32_t n = 0;
  for (const I2CDEVICE& d : records)
    if (d.ulPresent != 0) ++n;
  return n;
}

HWOUTPUTENTRY& Entry(BOARDHANDLE* h, uint32_t k) { return h->aHwOutput[k]; }
bool Usable(const BOARDHANDLE* h, uint32_t k) { return h->aHwOutput[k].ulUsable != 0; }

}  // namespace

HALSTATUS HSLKSTGetHwOutputIndices(BOARDHANDLE* h, uint32_t* indices) {
  if (HalFailed(h->status)) return h->status;
  const bool reversed = BoardType(h) == kBoardTypeReversed;
  for (uint32_t k = 0; k < kHwOutputs; ++k) indices[k] = reversed ? kHwOutputs - 1 - k : k;
  return h->status;
}

HALSTATUS HSLKSTGetDetectedOutputType(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t flags = h->aMonitorInfo[k].flMonitor;
  uint32_t type = kHwTypeNone;
  if (flags & kMonitorDigital) {
    type = kHwTypeDigital;
  } else if (h->aCableInfo[k].ulCaps & kCableCapFourth) {
    type = kHwTypeFourth;
  } else if (flags & kMonitorTv) {
    type = kHwTypeTv;
  } else if (flags & kMonitorPresent) {
    type = kHwTypeAnalog;
  }
  Entry(h, k).ulDetectedType = type;
  return h->status;
}

HALSTATUS HSLKSTGetHwOutputCapsCableBased(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t cable = h->aCableInfo[k].ulCaps;
  uint32_t caps = 0;
  if (cable & kCableCapDigital) caps |= kHwCapDigital;
  if (cable & kCableCapAnalog) caps |= kHwCapAnalog;
  if (cable & (kCableCapTv | kCableCapFourth)) caps |= kHwCapTv;
  if (cable & kCableCapFourth) caps |= kHwCapFourth;
  Entry(h, k).ulCaps = caps;
  return h->status;
}

HALSTATUS HSLKSTDetectUsableHWBased(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  Entry(h, k).ulUsable = h->aCableInfo[k].ulCaps != 0 ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTGetDACIndex(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  HWOUTPUTENTRY& e = Entry(h, k);
  e.lDac = kHwIndexNone;
  if (!e.ulUsable || IsQuadBoard(h) || IsExpansionBoard(h)) return h->status;
  if (k == 0 && e.ulDetectedType == kHwTypeAnalog) e.lDac = 0;
  if (k == 1 && (e.ulDetectedType == kHwTypeTv || (e.ulDetectedType == kHwTypeAnalog && !IsTwinBoard(h))))
    e.lDac = 1;
  return h->status;
}

HALSTATUS HSLKSTGetDVOIndex(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  HWOUTPUTENTRY& e = Entry(h, k);
  e.lDvo = kHwIndexNone;
  if (!e.ulUsable) return h->status;
  int32_t dvo = kHwIndexNone;
  if (IsQuadBoard(h)) {
    dvo = kDvoQuad[k];
  } else if (IsTwinBoard(h)) {
    dvo = kDvoTwin[k];
  } else if (!IsExpansionBoard(h)) {
    // Standard boards: DVOs 0 and 1 for a digital display on outputs 0 and
    // 1, and for anything but a TV on outputs 2 and 3.
    const uint32_t type = e.ulDetectedType;
    if (k < 2 && type == kHwTypeDigital) dvo = static_cast<int32_t>(k);
    if (k >= 2 && type != kHwTypeTv) dvo = static_cast<int32_t>(k - 2);
  }
  // Boards of type 3 have their DVOs the other way round.
  if (dvo != kHwIndexNone && BoardType(h) == kBoardTypeReversed) dvo = dvo == 0 ? 1 : 0;
  e.lDvo = dvo;
  return h->status;
}

HALSTATUS HSLKSTGetFPGAIndex(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  HWOUTPUTENTRY& e = Entry(h, k);
  e.lFpga = kHwIndexNone;
  if (e.ulUsable) {
    const bool twin = IsTwinBoard(h);
    if (e.lDvo == 0) {
      if (twin) {
        e.lFpga = 1;
      } else if (h->aFpga[0].ulPresent != 0) {
        e.lFpga = 0;
      }
    } else if (e.lDvo == 1) {
      if (twin) {
        e.lFpga = 0;
      } else if (h->aFpga[1].ulPresent != 0) {
        e.lFpga = 1;
      }
    }
  }
  e.ulFpgaPair = 1;
  e.ulFpgaPairBase = k < 2 ? 0 : 2;
  const uint32_t control = h->oCem.usControlByte & kControlByteMask;
  h->aulHwOutputLinkCancel[k] = (k == 1 || k == 3) && control > kControlByteHLinkCancel ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTGetChrontelIndex(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  HWOUTPUTENTRY& e = Entry(h, k);
  e.lEncoder = kHwIndexNone;
  if (!e.ulUsable) return h->status;
  const uint32_t n = PresentCount(h->aChrontel);
  int32_t encoder = kHwIndexNone;
  if (n == 4) {
    encoder = static_cast<int32_t>(k);
  } else if (n == 2) {
    if (k >= 2 || e.ulDetectedType == kHwTypeDigital) encoder = static_cast<int32_t>(k & 1);
  }
  if (encoder != kHwIndexNone && h->aChrontel[encoder].ulPresent != 0) e.lEncoder = encoder;
  return h->status;
}

HALSTATUS HSLKSTGetSIIndex(BOARDHANDLE* h, uint32_t k) {
  if (HalFailed(h->status)) return h->status;
  HWOUTPUTENTRY& e = Entry(h, k);
  for (int32_t& t : e.alTransmitter) t = kHwIndexNone;
  if (e.ulUsable) {
    const uint32_t m = PresentCount(h->aSiI164);
    int32_t t = kHwIndexNone;
    if (m == 4) {
      t = static_cast<int32_t>(k);
    } else if (m == 2 && IsTwinBoard(h)) {
      if (k == 1) t = 1;
      if (k == 2) t = 0;
    } else if (m == 2 && IsExpansionBoard(h)) {
      if (k == 0) t = 0;
      if (k == 2) t = 1;
    } else if (m == 2) {
      if (k >= 2 || e.ulDetectedType == kHwTypeDigital) t = static_cast<int32_t>(k & 1);
    }
    if (t != kHwIndexNone && h->aSiI164[t].ulPresent != 0) e.alTransmitter[0] = t;
  }
  if ((h->ulOutputCaps & kCapsDigital0) && (h->ulOutputCaps & kCapsDualLink0)) {
    e.ulTransmitterPair = 1;
    e.ulTransmitterPairBase = k < 2 ? 0 : 2;
  }
  return h->status;
}

HALSTATUS HSLKSTGetControllerIndex(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t used = 0;
  HSLKSTGetUsableOutputsNumber(h, &used);
  const uint32_t type = BoardType(h);
  const bool mo = MultiOutputFlag(h) != 0;
  const int32_t* table;
  if (IsQuadBoard(h) || (mo && type == 13)) {
    table = kControllersQuad;
  } else if (mo && TypeIn(type, {14, 19, 21}) && CemModuleCode(h) != kCemCodeSp) {
    table = kControllersWired;
  } else if (IsTwinBoard(h)) {
    table = kControllersTwin;
  } else if (used <= 2) {
    table = kControllersTwoUsed;
  } else {
    table = type == kBoardTypeControllers20 ? kControllersType20 : kControllersMore;
  }
  for (uint32_t k = 0; k < kHwOutputs; ++k)
    Entry(h, k).lController = Usable(h, k) ? table[k] : kHwIndexNone;
  return h->status;
}

HALSTATUS HSLKSTGetUsableOutputsNumber(BOARDHANDLE* h, uint32_t* count) {
  *count = 0;
  if (HalFailed(h->status)) return h->status;
  for (uint32_t k = 0; k < kHwOutputs; ++k)
    if (Usable(h, k)) ++*count;
  return h->status;
}

HALSTATUS HSLKSTUpdateUsableHwBased(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const bool digitalOnPair = Entry(h, 0).ulDetectedType == kHwTypeDigital ||
                             Entry(h, 1).ulDetectedType == kHwTypeDigital;
  if (IsQuadDualLayout(h) && digitalOnPair) Entry(h, 2).ulUsable = Entry(h, 3).ulUsable = 0;
  return h->status;
}

HALSTATUS HSLKSTUpdateUsableModeBased(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  struct Pair {
    uint32_t a, b;
    uint32_t digitalB;       // output-capability bit of b's digital output
    uint32_t transmitters;   // feature bits of the pair's two transmitters
  };
  const Pair pairs[] = {
      {0, 1, kCapsDigital1, kAddOnTransmitter0 | kAddOnTransmitter1},
      {2, 3, kCapsDigital3, kAddOnTransmitter2 | kAddOnTransmitter3},
  };
  for (const Pair& p : pairs) {
    HWOUTPUTENTRY& a = Entry(h, p.a);
    HWOUTPUTENTRY& b = Entry(h, p.b);
    if (a.ulDetectedType != kHwTypeDigital || !b.ulUsable) continue;
    const uint32_t format = h->aulDigitalOutputFormat[p.a];
    const bool pairFormat = format == kFormatDualLinkPair && (h->ulOutputCaps & p.digitalB);
    const bool transmitters =
        format == kFormatDualTransmitters && (h->ulFeatures & p.transmitters) == p.transmitters;
    if (!pairFormat && !transmitters) continue;
    // Entry b's pair base (0 or 2) goes into a's list, as the list's users
    // read it.
    a.alTransmitter[0] = static_cast<int32_t>(b.ulTransmitterPairBase);
    if (a.alTransmitter[0] != 0) a.alTransmitter[1] = b.alTransmitter[0];
    b.ulUsable = 0;
  }
  return h->status;
}

HALSTATUS HSLKSTGetDefaultAllHwOutputInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  std::memset(h->aHwOutput, 0, sizeof(h->aHwOutput));
  std::memset(h->aulHwOutputLinkCancel, 0, sizeof(h->aulHwOutputLinkCancel));
  for (uint32_t k = 0; k < kHwOutputs; ++k) {
    HSLKSTGetDetectedOutputType(h, k);
    HSLKSTGetHwOutputCapsCableBased(h, k);
    HSLKSTDetectUsableHWBased(h, k);
    HSLKSTGetDACIndex(h, k);
    HSLKSTGetDVOIndex(h, k);
    HSLKSTGetFPGAIndex(h, k);
    HSLKSTGetChrontelIndex(h, k);
    HSLKSTGetSIIndex(h, k);
  }
  HSLKSTGetControllerIndex(h);
  HSLKSTUpdateUsableHwBased(h);
  return HSLKSTUpdateUsableModeBased(h);
}

HALSTATUS HSLKSTGetOutputInfo(BOARDHANDLE* h, OUTPUTINFO* info, uint32_t mask) {
  if (HalFailed(h->status)) return h->status;
  std::memset(info, 0, sizeof(*info));
  HSLKSTGetDefaultAllHwOutputInfo(h);
  uint32_t indices[kHwOutputs] = {};
  HSLKSTGetHwOutputIndices(h, indices);
  uint32_t found = 0;
  for (uint32_t k = 0; k < kHwOutputs; ++k) {
    info->alOutput[k] = kHwIndexNone;
    const uint32_t index = indices[k];
    if (!(mask & (1u << k)) || !Usable(h, index)) continue;
    found |= 1u << k;
    info->alOutput[info->ulCount] = static_cast<int32_t>(k);
    info->aulCaps[info->ulCount] = Entry(h, index).ulCaps;
    uint32_t links = 0;
    HSLKSTGetOutputVidParmLinkFlags(h, index, mask, &links);
    HSLKSTAddOutputLinkFlags(h, info->oVideoParameters.aulMask, &info->oVideoParameters.ulCount, links);
    HSLKSTGetOutputDisplayStartXLinkFlags(h, index, mask, &links);
    HSLKSTAddOutputLinkFlags(h, info->oDisplayStartX.aulMask, &info->oDisplayStartX.ulCount, links);
    HSLKSTGetOutputDisplayStartYLinkFlags(h, index, mask, &links);
    HSLKSTAddOutputLinkFlags(h, info->oDisplayStartY.aulMask, &info->oDisplayStartY.ulCount, links);
    ++info->ulCount;
  }
  if (found != mask) SetError(h, kWarnOutputsMissing);
  return h->status;
}

HALSTATUS HSLKSTGetDefaultModeType(BOARDHANDLE* h, uint32_t k, uint32_t* flOutput) {
  if (HalFailed(h->status)) return h->status;
  if (k >= kHwOutputs) return h->status;
  const HWOUTPUTENTRY& e = Entry(h, k);
  uint32_t kinds = kKindsAnalog;
  if (e.ulDetectedType == kHwTypeDigital && (e.ulCaps & kHwCapDigital)) {
    kinds = kKindsDigital;
  } else if (e.ulDetectedType == kHwTypeFourth && (e.ulCaps & kHwCapFourth)) {
    kinds = kKindsFourth;
  } else if (e.ulDetectedType == kHwTypeTv && (e.ulCaps & kHwCapTv)) {
    kinds = kKindsTv;
  }
  *flOutput |= kOutputModeType[k] & kinds;
  return h->status;
}
