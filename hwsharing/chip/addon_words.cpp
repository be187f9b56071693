#include "hwsharing/chip/addon_words.h"

#include <initializer_list>

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/encoders/addon_detect.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/chrontel.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/encoders/companion.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/cem_miscio.h"
#include "hwsharing/outputs/output_sync.h"

namespace {

constexpr uint32_t kTransmitterPorts[] = {1, 16};
constexpr uint32_t kTransmitterAddresses[] = {0x70, 0x76, 0x72};
constexpr uint32_t kMaxTransmitters = 4;
// The address whose transmitter is probed for dual link.
constexpr uint32_t kDualLinkProbeAddress = 0x70;

// Transmitter registers: the identity bytes that tell the kinds apart, and
// the control register with its dual-link bit.
constexpr uint32_t kIdentityRegisters[4] = {0, 2, 6, 7};
constexpr uint32_t kControlRegister = 8;
constexpr uint8_t kControlDualLink = 0x04;

// Expansion-module lines whose functions switch output 0's dual link.
constexpr uint32_t kMiscIoDualLinkA = 4;
constexpr uint32_t kMiscIoDualLinkB = 5;

// Description versions: option bits clear detected chips from 0x604 on;
// after 0x608 the board type and the option word decide feature bits 29-31.

constexpr uint32_t kFormatNone = 0xFFFFFFFF;
constexpr uint32_t kFormatPlain = 1;

constexpr uint32_t kEncoderIdCompanions = 0x80;
constexpr uint32_t kCemEncoderAddress = 0xEA;

bool Has(uint32_t word, uint32_t bits) { return (word & bits) == bits; }
bool Bit(uint8_t byte, uint8_t bit) { return (byte & bit) != 0; }
bool In(uint32_t v, std::initializer_list<uint32_t> set) {
  for (uint32_t x : set)
    if (v == x) return true;
  return false;
}

// A forgiven failure: a failed status is cleared and counts as nothing found.
bool Forgive(BOARDHANDLE* h) {
  if (!HalFailed(h->status)) return false;
  h->status = kHalOk;
  return true;
}

// The transmitter kind from registers 0, 2, 6 and 7.
uint32_t TransmitterKind(const uint8_t id[4]) {
  if (id[1] == 8) return 1;
  if (id[1] != 6) return 0;
  if (id[2] == 20) return 2;
  return id[3] == 0xA5 ? 3 : 0;
}

// Output 0's dual link on or off: through the expansion module's lines when
// it carries the link, else through the chip's own switch.
void SwitchDualLink0(BOARDHANDLE* h, bool on) {
  if (DualLinkCondition(h)) {
    HSLKstCEMSpSetMiscIO(h, kMiscIoDualLinkA, on ? 1 : 0);
    HSLKstCEMSpSetMiscIO(h, kMiscIoDualLinkB, on ? 1 : 0);
  } else if (on) {
    HSLKSTEnableDVIDualLink(h, 0);
  } else {
    HSLKSTDisableDVIDualLink(h, 0);
  }
}

// The connector rules: which outputs the description's connector bytes
// B0..B3 offer, given the feature word F and the option word O.
uint32_t OutputsFromConnectors(const BOARDHANDLE* h, uint32_t f, uint32_t o) {
  const uint8_t b[4] = {PinsConnectorByte(h, 0), PinsConnectorByte(h, 1), PinsConnectorByte(h, 2),
                        PinsConnectorByte(h, 3)};
  const bool quad = IsQuadBoard(h);
  const bool variant = (f & kFeatureOption9) != 0 || (o & kOptionAnalogVariant) != 0;
  const bool plainVariant = (o & kOptionAnalogVariantPlain) != 0;
  uint32_t e = 0;
  // Connectors 0 and 1: analog, the analog variant, digital, and the quad
  // module's outputs or TV.
  struct First {
    uint32_t analog, variant, digital, digitalFeatures;
  };
  const First first[2] = {
      {kEnableAnalog0, kEnableAnalogVariant0, kEnableDigital0, kAddOnChrontel0 | kAddOnTransmitter0},
      {kEnableAnalog1, kEnableAnalogVariant1, kEnableDigital1, kAddOnChrontel1 | kAddOnTransmitter1}};
  for (unsigned c = 0; c < 2; ++c) {
    if (Bit(b[c], kConnectorAnalog) || Bit(b[c], kConnectorAnalogB)) e |= first[c].analog;
    if (Bit(b[c], kConnectorAnalogVariant)) {
      if (variant)
        e |= first[c].analog | first[c].variant;
      else if (plainVariant)
        e |= first[c].analog;
    }
    if (Bit(b[c], kConnectorDigital) && (f & first[c].digitalFeatures) != 0) e |= first[c].digital;
  }
  if (quad && Bit(b[0], kConnectorQuadExpansion)) e |= kEnableQuad0 | kEnableQuadOutputs;
  if (quad) {
    if (Bit(b[1], kConnectorQuadExpansion)) e |= kEnableTv1 | kEnableQuadOutputs;
  } else if (Bit(b[1], kConnectorTv)) {
    e |= kEnableTv1;
  }
  // Outputs 2 and 3.
  if (IsStandardBoard(h)) {
    // Taken from connectors 0 and 1, through encoders 0 and 1.
    if (Bit(b[0], kConnectorAnalogB) && (f & kAddOnChrontel0)) e |= kEnableAnalog2;
    if (Bit(b[0], kConnectorQuadExpansion) && h->aChrontel[0].ulData == kEncoderIdCompanions)
      e |= kEnableDigital2 | kEnableCompanion2;
    if (Bit(b[1], kConnectorAnalogB) && (f & kAddOnChrontel1)) e |= kEnableAnalog3;
    if (Bit(b[1], kConnectorQuadExpansion) && h->aChrontel[1].ulData == kEncoderIdCompanions)
      e |= kEnableDigital3 | kEnableCompanion3;
  } else {
    if (Bit(b[2], kConnectorAnalogB)) e |= kEnableAnalog2;
    if (Bit(b[2], kConnectorDigital)) e |= kEnableDigital2;
    if (quad && Bit(b[2], kConnectorQuadExpansion)) e |= kEnableQuad2 | kEnableQuadOutputs;
    if (quad) {
      if (Bit(b[3], kConnectorAnalogB)) e |= kEnableAnalog3;
      if (Bit(b[3], kConnectorDigital)) e |= kEnableDigital3;
      if (Bit(b[3], kConnectorQuadExpansion)) e |= kEnableQuad3 | kEnableQuadOutputs;
    }
  }
  // The connectors in use: one for each connector's outputs offered.
  constexpr uint32_t kConnectorGroups[4] = {0x8000445, 0x1020008A, 0x804900, 0x1009200};
  unsigned n = 0;
  for (uint32_t group : kConnectorGroups)
    if (e & group) ++n;
  if (n > 1) e |= kEnableTwoConnectors;
  if (n > 2) e |= kEnableThreeConnectors;
  if (n > 3) e |= kEnableFourConnectors;
  // Dual link over two transmitters, and the outputs routed through the
  // expansion module.
  if (Bit(b[0], kConnectorDualLink) && Has(f, kAddOnTransmitter0 | kAddOnTransmitter1))
    e |= kEnableDualLink0;
  if (Bit(b[1], kConnectorDualLink) && Has(f, kAddOnTransmitter2 | kAddOnTransmitter3))
    e |= kEnableDualLink1;
  const uint16_t device = h->usDeviceId;
  const bool laterChip = (device == kDeviceKestrionNext1 && h->ulRevision != 1) ||
                         device == kDeviceKestrionNext2 || device == kDeviceKestrionNext3;
  if (laterChip && Has(e, kEnableDigital0 | kEnableDigital1)) e |= kEnableBothDigital;
  if (f & kFeatureTwinModule) {
    if (Bit(b[0], kConnectorRouted)) e |= kEnableRouted0 | kEnableDigital0;
    if (Bit(b[1], kConnectorRouted)) {
      e |= kEnableRouted1 | kEnableDigital1;
      if (Bit(b[2], kConnectorRouted)) e |= kEnableRouted0 | kEnableDigital2;
    }
  }
  return e != 0 ? e : kEnableNoConnectors;
}

// Synthesizers the description leaves to the bring-up: frequency and
// preset both 0.
unsigned UnconfiguredSynthesizers(const BOARDHANDLE* h) {
  unsigned n = 0;
  for (uint32_t fs = 0; fs < 4; ++fs) {
    const uint32_t at = kPinsFsBlock + kPinsFsStride * fs;
    if (PinsDword(h, at + kPinsFsFrequency) == 0 && PinsDword(h, at + kPinsFsPreset) == 0) ++n;
  }
  return n;
}

}  // namespace

HALSTATUS HSLKSTDetectSiliconImage(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  *found = 0;
  // Every transmitter is recorded afresh: none stays from an earlier opening.
  for (I2CDEVICE& record : h->aSiI164) record = I2CDEVICE{};
  uint32_t recorded = 0;
  for (uint32_t port : kTransmitterPorts) {
    if (recorded >= kMaxTransmitters) break;
    bool probing = false;  // output 0's dual link switched for the probe
    uint8_t control = 0;   // register 8 of the probed transmitter, as found
    for (uint32_t address : kTransmitterAddresses) {
      if (recorded >= kMaxTransmitters) break;
      uint8_t id[4] = {};
      for (unsigned i = 0; i < 4; ++i)
        HSLSI164I2CReadDevice(h, port, address, kIdentityRegisters[i], &id[i], 1);
      if (Forgive(h)) continue;
      if ((id[0] | id[1] | id[2] | id[3]) == 0) continue;
      *found = 1;
      const uint32_t kind = TransmitterKind(id);
      h->aSiI164[recorded] = I2CDEVICE{1, port, address, kind};
      h->ulFeatures |= kAddOnTransmitterBits[recorded];
      ++recorded;
      if (address != kDualLinkProbeAddress || kind > 1) continue;
      // Dual-link probe: register 8 with bit 2 cleared, output 0 switched
      // to dual link; both are undone after the port.
      HSLReadSIRegister(h, port, address, kControlRegister, &control);
      HSLWriteSIRegister(h, port, address, kControlRegister,
                         static_cast<uint8_t>(control & ~kControlDualLink));
      SwitchDualLink0(h, true);
      if (h->status != kHalOk)
        h->status = kHalOk;
      else
        probing = true;
    }
    Forgive(h);
    if (probing) {
      HSLWriteSIRegister(h, port, kDualLinkProbeAddress, kControlRegister, control);
      SwitchDualLink0(h, false);
      h->status = kHalOk;
    }
  }
  return h->status;
}

HALSTATUS HSLKSTDetectCEM(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  *found = 0;
  if (PinsVersion(h) <= kPinsVersion608) return h->status;
  const uint32_t type = h->oPins.aucData[kPinsBoardType];
  if (In(type, {1, 10, 16})) {
    h->ulFeatures |= kFeatureTwinModule;
    *found = 1;
  }
  if (In(type, {2, 3, 4, 5, 8, 9, 12, 17, 18}) && In(h->oCem.ulCntlMethod, {2, 3})) {
    // The module's FPGA selects the encoder: all of them answer at one
    // address, so the first encoder found stands for every one.
    for (uint32_t i = 0; i < 4; ++i) {
      if (h->aChrontel[i].ulPresent == 0) continue;
      h->aChrontel[i].ulAddress = kCemEncoderAddress;
      for (uint32_t j = 0; j < 4; ++j) h->aChrontel[j] = h->aChrontel[i];
      break;
    }
    h->ulFeatures |= kAddOnChrontel1;
    *found = 1;
  }
  return h->status;
}

HALSTATUS HSLKSTGetInitDigitalOutputFormats(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t f = h->ulFeatures, e = h->ulOutputCaps;
  uint32_t* formats = h->aulDigitalOutputFormat;
  auto format = [](bool on) { return on ? kFormatPlain : kFormatNone; };
  if (Has(f, kAddOnTransmitter0 | kAddOnTransmitter1) && Has(e, kEnableDigital0 | kEnableDualLink0)) {
    // Output 0 in dual link over both transmitters: output 1 goes with it.
    formats[0] = formats[1] = kFormatPlain;
  } else {
    formats[0] = format(e & kEnableDigital0);
    formats[1] = format(e & kEnableDigital1);
  }
  formats[2] = format(e & kEnableDigital2);
  formats[3] = format(e & kEnableDigital3);
  return h->status;
}

HALSTATUS HSLKSTGetAddOnInfo(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  h->ulFeatures = 0;
  HSLCHRSetChipSelectCEM(h, 0);
  uint32_t found = 0;
  HSLDetectChrontel(h, &found);
  HSLKSTDetectSiliconImage(h, &found);
  HSLDetectVideoDecoder(h, &found);
  HSLDetectCfgSEEprom(h, &found);

  const uint16_t version = PinsVersion(h);
  const uint32_t o = PinsDword(h, kPinsOptionWord);
  if (version >= kPinsVersion604) {
    if (!(o & kOptionTransmitter0)) h->ulFeatures &= ~(kAddOnTransmitter0 | kAddOnChrontel0);
    if (!(o & kOptionTransmitter1)) h->ulFeatures &= ~(kAddOnTransmitter1 | kAddOnChrontel1);
    if (!(o & kOptionVideoDecoder)) {
      SetAddOn(h, kAddOnDecoderAddress, 0);
      SetAddOn(h, kAddOnDecoderKind, 0);
    }
    if (!(o & kOptionCfgEeprom)) h->oCfgEeprom = I2CDEVICE{};
  }
  if (version <= kPinsVersion608) {
    h->ulFeatures |= kFeatureTwinModule | kFeatureOption9;
  } else {
    if (o & kOptionFeature31) h->ulFeatures |= kFeatureOption9;
    if (o & kOptionStereo) h->ulFeatures |= kFeatureStereoConnector;
  }
  HSLKSTDetectCEM(h, &found);

  h->ulOutputCaps = OutputsFromConnectors(h, h->ulFeatures, o);
  HSLKSTGetInitDigitalOutputFormats(h);
  const uint32_t e = h->ulOutputCaps;
  const bool earlyTvChip = h->usDeviceId == kDeviceKestrion2 && h->ulRevision == 6;
  if ((e & kEnableTv1) && !(e & kEnableQuadOutputs) && !earlyTvChip &&
      UnconfiguredSynthesizers(h) > 2)
    h->ulOutputCaps |= kEnableTvFewClocks;
  if (IsQuadBoard(h)) h->oJumpTable.GetTVParameters = HSLCHRGetSDTVModeInfo;
  return h->status;
}
