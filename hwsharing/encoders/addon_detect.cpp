#include "hwsharing/encoders/addon_detect.h"

#include <initializer_list>

#include "core/regs/dac.h"
#include "core/regs/video_port.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dac.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/i2c_master.h"
#include "hwsharing/chip/i2c_transfer.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/addon_info.h"
#include "hwsharing/encoders/companion.h"
#include "hwsharing/encoders/flat_panel.h"
#include "hwsharing/encoders/msp.h"
#include "hwsharing/encoders/velan.h"

namespace {

constexpr uint32_t kPort1 = 1;
constexpr uint32_t kPort16 = 16;
constexpr uint32_t kMaxChrontels = 4;
constexpr uint32_t kMaxTransmitters = 4;

// The target of one address on a port opened for a whole search.
I2cTarget At(const I2cTarget& port, uint32_t address) { return {port.port, address, port.halfBit}; }

// Each probe below sends its own stop on a missing acknowledge; the bus
// then rests before the next address.
bool Rested(BOARDHANDLE* h, bool ok) {
  if (!ok) Delay(h, kProbeRestUnits);
  return ok;
}

// Address probe: the read address, one byte not acknowledged.
bool AddressProbe(BOARDHANDLE* h, const I2cTarget& at) {
  uint8_t v = 0;
  return Rested(h, I2cByteTransfer(h, at, &v, true));
}

// Register probe: the register, then its byte after a repeated start.
bool RegisterProbe(BOARDHANDLE* h, const I2cTarget& at, uint32_t reg, uint8_t* value) {
  return Rested(h, I2cRegisterTransfer(h, at, reg, value, 1, true));
}

// The detectors that never leave an error behind: a failed probe of a port
// clears the status and counts as nothing found there.
bool ClearProbeError(BOARDHANDLE* h) {
  if (!HalFailed(h->status)) return false;
  h->status = kHalOk;
  return true;
}

enum class Faults { kLeave, kClear };

// Port 1 is opened and `probe(target)` tried at each address in order; the
// answer is the first address that answered, or 0. With Faults::kClear a
// failed status ends the search, cleared.
template <class Probe>
uint32_t FirstOnPort1(BOARDHANDLE* h, std::initializer_list<uint32_t> addresses, Faults faults,
                      Probe probe) {
  const I2cTarget t = I2cOpen(h, kPort1, 0);
  uint32_t answered = 0;
  for (uint32_t address : addresses) {
    if (probe(At(t, address))) {
      answered = address;
      break;
    }
    if (faults == Faults::kClear && ClearProbeError(h)) break;
  }
  I2cClose(h);
  return answered;
}

uint32_t PickBit(const BOARDHANDLE* h, uint8_t configBit, uint32_t set, uint32_t clear) {
  return (AddOn(h, kAddOnConfigByte) & configBit) ? set : clear;
}

void RaiseFlag(BOARDHANDLE* h, uint32_t bit) { h->ulFeatures |= bit; }
void ClearFlags(BOARDHANDLE* h, uint32_t bits) { h->ulFeatures &= ~bits; }

uint32_t SetFound(uint32_t* found, bool value) {
  *found = value ? 1 : 0;
  return *found;
}

// The DVD decoder answers on bit 6 of the DAC's line registers: a line
// released by the chip reads low while a decoder holds it.
constexpr uint8_t kDvdSenseBit = 0x40;

void ModifyByte(BOARDHANDLE* h, uint32_t reg, uint8_t keep, uint8_t set) {
  RegWriteByte(h, reg, static_cast<uint8_t>((RegReadByte(h, reg) & keep) | set));
}

}  // namespace

HALSTATUS HSLDetectVelan(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  uint8_t version = 0;
  const uint32_t address = FirstOnPort1(h, {0x36, 0x34}, Faults::kLeave, [&](const I2cTarget& at) {
    return Rested(h, VlnRegisterTransfer(h, at, kVlnRegVersion, &version, 1, true));
  });
  if (SetFound(found, address != 0))
    RaiseFlag(h, PickBit(h, kAddOnConfigVelanB, kAddOnVelanB, kAddOnVelanA));
  else
    ClearFlags(h, kAddOnVelan);
  SetAddOn(h, kAddOnVelanAddress, address);
  SetAddOn(h, kAddOnVelanVersion, address != 0 ? version : 0);
  return h->status;
}

HALSTATUS HSLDetectVideoDecoder(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  // Register 0 with a stop of its own, then the read.
  const uint32_t address = FirstOnPort1(
      h, {0xD8, 0xDA, 0xDC, 0xDE, 0xB8, 0xBA}, Faults::kClear, [&](const I2cTarget& at) {
        uint8_t reg = 0, v = 0;
        return Rested(h, I2cByteTransfer(h, at, &reg, false) && I2cByteTransfer(h, at, &v, true));
      });
  SetFound(found, address != 0);
  SetAddOn(h, kAddOnDecoderAddress, address);
  SetAddOn(h, kAddOnDecoderKind, (address == 0 || address == 0xD8 || address == 0xDE) ? 0 : 1);
  return h->status;
}

HALSTATUS HSLDetectPanelLinkModule(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t address =
      FirstOnPort1(h, {0x44, 0x74, 0x4C, 0x4E}, Faults::kLeave,
                   [&](const I2cTarget& at) { return AddressProbe(h, at); });
  if (!SetFound(found, address != 0)) return h->pADDONFunctions->DetectSIPanelLink(h, found);
  SetAddOn(h, kAddOnPanelLinkAddress, address);
  RaiseFlag(h, PickBit(h, kAddOnConfigPanelLinkB, kAddOnPanelLinkB, kAddOnPanelLinkA));
  h->ulPanelLinkVersion = 0;
  return h->status;
}

HALSTATUS HSLDetectTVTuner(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t address =
      FirstOnPort1(h, {0xC0, 0xC2, 0xC4, 0xC6}, Faults::kLeave, [&](const I2cTarget& at) {
        uint8_t v = 0;
        return RegisterProbe(h, at, 0, &v);
      });
  if (SetFound(found, address != 0))
    RaiseFlag(h, PickBit(h, kAddOnConfigTunerB, kAddOnTunerB, kAddOnTunerA));
  else
    ClearFlags(h, kAddOnTunerA | kAddOnTunerB);
  SetAddOn(h, kAddOnTunerAddress, address);
  return h->status;
}

HALSTATUS HSLDetectSecondHD15(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t address = FirstOnPort1(h, {0x40}, Faults::kLeave,
                                        [&](const I2cTarget& at) { return AddressProbe(h, at); });
  if (SetFound(found, address != 0))
    RaiseFlag(h, kAddOnSecondHd15);
  else
    ClearFlags(h, kAddOnSecondHd15);
  SetAddOn(h, kAddOnSecondHd15Address, address);
  return h->status;
}

HALSTATUS HSLDetectMSP(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  SetFound(found, false);
  for (uint32_t address : {0x80u, 0x84u, 0x88u}) {
    uint32_t version = 0;
    HSLMSPI2CGetVersion(h, address, &version);
    if (version == 0) continue;
    h->ulMspVersion = version;
    SetAddOn(h, kAddOnMspAddress, address);
    SetFound(found, true);
    return h->status;
  }
  h->ulMspVersion = 0;
  SetAddOn(h, kAddOnMspAddress, 0);
  return h->status;
}

HALSTATUS HSLDetectChrontel(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  SetFound(found, false);
  uint32_t next = 0;
  while (next < kMaxChrontels && h->aChrontel[next].ulPresent != 0) ++next;
  for (uint32_t port : {kPort1, kPort16}) {
    if (next >= kMaxChrontels) break;
    const I2cTarget t = I2cOpen(h, port, 0);
    for (uint32_t address : {0xECu, 0xEAu}) {
      if (next >= kMaxChrontels) break;
      uint8_t id = 0;
      if (!RegisterProbe(h, At(t, address), 0x4A, &id)) {
        if (ClearProbeError(h)) break;
        continue;
      }
      h->aChrontel[next] = I2CDEVICE{1, port, address, id};
      if (next == 0) RaiseFlag(h, kAddOnChrontel0);
      if (next == 1) RaiseFlag(h, kAddOnChrontel1);
      ++next;
      SetFound(found, true);
    }
    I2cClose(h);
  }
  return h->status;
}

HALSTATUS HSLDetectCfgSEEprom(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  SetFound(found, false);
  static constexpr uint32_t kAddress = 0xA0;
  for (uint32_t port : {kPort16, kPort1}) {
    const I2cTarget t = I2cOpen(h, port, 0);
    uint8_t v = 0;
    const bool ok = RegisterProbe(h, At(t, kAddress), 0, &v);
    ClearProbeError(h);
    I2cClose(h);
    if (ok) {
      h->oCfgEeprom = I2CDEVICE{1, port, kAddress, 0};
      SetFound(found, true);
      return h->status;
    }
  }
  h->oCfgEeprom.ulPresent = 0;
  return h->status;
}

HALSTATUS HSLDetectSIPanelLink(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  SetFound(found, false);
  uint32_t records = 0;
  for (uint32_t port : {kPort1, kPort16}) {
    if (records >= kMaxTransmitters) break;
    I2cTarget t = I2cOpen(h, port, 0);
    for (uint32_t address : {0x70u, 0x76u, 0x72u}) {
      if (records >= kMaxTransmitters) break;
      uint8_t v = 0;
      if (!RegisterProbe(h, At(t, address), 0, &v)) {
        if (ClearProbeError(h)) break;
        continue;
      }
      SetFound(found, true);
      SetAddOn(h, kAddOnPanelLinkAddress, address);
      I2cClose(h);
      uint32_t version = 0;
      h->pFPFunctions->GetSIPanelLinkVersion(h, port, &version);
      t = I2cOpen(h, port, 0);
      if (version == kPanelLinkVersion40001) {
        RaiseFlag(h, PickBit(h, kAddOnConfigPanelLinkB, kAddOnPanelLinkB, kAddOnPanelLinkA));
        h->ulPanelLinkVersion = kPanelLinkVersion40001;
      } else if (version != 0) {
        h->aSiI164[records] = I2CDEVICE{1, port, address, version};
        if (records == 0) RaiseFlag(h, kAddOnPanelLinkA);
        if (records == 1) RaiseFlag(h, kAddOnPanelLinkB);
        ++records;
      }
    }
    I2cClose(h);
  }
  return h->status;
}

HALSTATUS HSLDetectVB2(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  if (AddOn(h, kAddOnDecoderAddress) != 0) {
    RaiseFlag(h, AddOn(h, kAddOnDecoderKind) == 1 ? kAddOnVb2Kind1 : kAddOnVb2Kind0);
    SetFound(found, true);
  } else {
    ClearFlags(h, kAddOnVb2Kind1 | kAddOnVb2Kind0);
    SetFound(found, false);
  }
  return h->status;
}

HALSTATUS HSLDetectMJPEG(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  SetFound(found, false);
  if (AddOn(h, kAddOnDecoderAddress) == 0) {
    ClearFlags(h, kAddOnMjpegKind1 | kAddOnMjpegKind0);
  } else if (AddOn(h, kAddOnDecoderKind) == 0) {
    RaiseFlag(h, kAddOnMjpegKind0);
    SetFound(found, true);
  } else if (!(AddOn(h, kAddOnConfigByte) & kAddOnConfigMjpeg)) {
    RaiseFlag(h, kAddOnMjpegKind1);
    SetFound(found, true);
  }
  return h->status;
}

HALSTATUS HSLDetectDVD(BOARDHANDLE* h, uint32_t* found) {
  if (HalFailed(h->status)) return h->status;
  SetFound(found, false);
  if (!(AddOn(h, kAddOnConfigByte) & kAddOnConfigDvd)) {
    ClearFlags(h, kAddOnDvdBits);
    return h->status;
  }
  ModifyByte(h, kRegDvdControl, 0xFF, kDvdHold);
  ModifyByte(h, kRegDvdLines, static_cast<uint8_t>(~kDvdLineReset), 0);
  ModifyByte(h, kRegDvdControl, static_cast<uint8_t>(~kDvdHold), 0);
  uint8_t v = 0;
  HSLDACReadRegister(h, kDacDdcEnable, &v);
  HSLDACWriteRegister(h, kDacDdcEnable, static_cast<uint8_t>(v & ~kDvdSenseBit));
  HSLDACReadRegister(h, kDacDdcData, &v);
  if (v & kDvdSenseBit) {
    ClearFlags(h, kAddOnDvdBits);
    return h->status;
  }
  RaiseFlag(h, kAddOnDvd);
  SetFound(found, true);
  ModifyByte(h, kRegDvdControl, 0xFF, kDvdHold);
  ModifyByte(h, kRegDvdLines, 0xFF, kDvdLineStart);
  ModifyByte(h, kRegDvdLines, static_cast<uint8_t>(~kDvdLineStart), 0);
  ModifyByte(h, kRegDvdControl, static_cast<uint8_t>(~kDvdHold), 0);
  return h->status;
}

HALSTATUS HALPDetectAddOn(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  const ADDONFUNCTIONS& a = *h->pADDONFunctions;
  uint32_t f = 0;
  a.DetectVelan(h, &f);
  a.DetectVideoDecoder(h, &f);
  if (f == 1) a.DetectVB2(h, &f);
  a.DetectDVD(h, &f);
  a.DetectMJPEG(h, &f);
  a.DetectPanelLinkModule(h, &f);
  a.DetectMSP(h, &f);
  if (f == 1) {
    if (h->ulFeatures & kAddOnVb2Kind1)
      HSLMSPSetAudioPassThroughModeForBreakOutBox(h);
    else
      HSLMSPSetAudioPassThroughMode(h);
  }
  a.DetectTVTuner(h, &f);
  return h->status;
}

HALSTATUS HSLReadSIRegister(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                            uint8_t* value) {
  return HSLSI164I2CReadDevice(h, port, address, reg, value, 1);
}

HALSTATUS HSLWriteSIRegister(BOARDHANDLE* h, uint32_t port, uint32_t address, uint32_t reg,
                             uint8_t value) {
  return HSLSI164I2CWriteDevice(h, port, address, reg, &value, 1);
}
