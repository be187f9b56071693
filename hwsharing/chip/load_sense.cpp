#include "hwsharing/chip/load_sense.h"

#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/hal/ddc.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/outputs/cables.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/monitor_info.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/outputs/output_sync.h"

namespace {

// The colour a controller drives while its DAC's comparators are read.
constexpr uint32_t kSenseColour = 0x16459164;
constexpr uint32_t kSenseSettleUnits = 10000;
// An analog output whose EDID did not come at once is read again, slowly,
// once its load was sensed.
constexpr uint32_t kAnalogEdidAttempts = 3;
constexpr uint32_t kAnalogEdidSlowAttempts = 16;
constexpr uint32_t kAnalogEdidSlowWait = 200000;
constexpr uint32_t kAnalogEdidRetryUnits = 35000;
// Flat panels answer at one of three addresses.
constexpr uint32_t kPanelEdidAddresses[] = {0xA6, 0xA2, 0xA0};
constexpr uint32_t kPanelEdidAttempts = 3;
constexpr uint32_t kPanelEdidWait = 1;
constexpr uint32_t kDdcPortAnalog0 = 0;
constexpr uint32_t kDdcPortAnalog1 = 5;
// Cable types of a TV cable (the type byte's bits 2 and 3).
constexpr uint32_t kTvCableTypeBits = 0xC;

uint32_t DacRegister(uint32_t dac) { return dac == 0 ? kRegDacCtl1 : kRegDacCtl2; }

// In the VGA regime controller 0 shows the console; a DAC is sensed there
// only when the board wires it to the chip's own DAC path.
bool MaySenseInVga(const BOARDHANDLE* h, uint32_t dac, uint32_t word) {
  return dac == 0 ? UsesDac1(h, word) : UsesDac2(h, word);
}

uint32_t LoadBits(uint32_t channels) {
  uint32_t result = 0;
  if (!(channels & 1u)) result |= kSenseLoadChannel0;
  if (!(channels & 2u)) result |= kSenseLoadChannel1;
  if (!(channels & 4u)) result |= kSenseLoadChannel2;
  return result;
}

HALSTATUS ReadEdid(BOARDHANDLE* h, uint32_t output, uint32_t port, uint32_t address, uint32_t attempts,
                   uint32_t wait) {
  return h->pEDIDFunctions->ReadDDCEDID(h, output, port, address, attempts, wait);
}

bool EdidValid(const BOARDHANDLE* h, uint32_t output) {
  return (h->aMonitorInfo[output].flMonitor & kMonitorEdidValid) != 0;
}

}  // namespace

HALSTATUS HSLKSTSenseLoadOnInternalDAC(BOARDHANDLE* h, uint32_t dac, uint32_t* result) {
  if (HalFailed(h->status)) return h->status;
  *result = 0;
  if (dac > 1) return h->status;
  const uint32_t saved1 = RegRead(h, kRegDacCtl1);
  const uint32_t saved2 = RegRead(h, kRegDacCtl2);
  uint32_t word = 0;
  HSLKSTSetOutputAnalogModeType(h, dac, &word);
  if ((RegRead(h, kRegRegime) & kRegimeVga) && !MaySenseInVga(h, dac, word)) return h->status;

  // A DAC that no controller drives gets a free controller's sync for the
  // time of the test.
  uint32_t inUse = 0;
  HSLKSTIsOutputInUse(h, word, &inUse);
  uint32_t syncWord = word;
  const bool temporarySync = inUse == 0;
  if (temporarySync) {
    HSLEnableSyncOnOutput(h, &syncWord, 1, nullptr, nullptr);
    if (syncWord & kOutControllerOff) {
      RegWrite(h, kRegDacCtl1, saved1);
      RegWrite(h, kRegDacCtl2, saved2);
      return h->status;
    }
  }

  const uint32_t dacReg = DacRegister(dac);
  RegModify(h, dacReg, 0, kDacOff);
  const uint32_t overscanReg = ControllerReg(kRegOverscan, dac);
  const uint32_t totalReg = ControllerReg(kRegHTotal, dac);
  const uint32_t overscan = RegRead(h, overscanReg);
  RegWrite(h, overscanReg, kSenseColour);
  const uint32_t total = RegRead(h, totalReg);
  RegWrite(h, totalReg, total & ~kHTotalHighHalf);

  Delay(h, kSenseSettleUnits);
  *result = LoadBits(DacSenseBits(RegRead(h, kRegDacSense), dac));

  if (temporarySync) HSLDisableSyncOnOutput(h, syncWord, nullptr, nullptr);
  RegWrite(h, kRegDacCtl1, saved1);
  RegWrite(h, kRegDacCtl2, saved2);
  RegWrite(h, overscanReg, overscan);
  RegWrite(h, totalReg, total);
  return h->status;
}

HALSTATUS HSLKSTSenseLoad(BOARDHANDLE* h, uint32_t source, uint32_t* result) {
  if (HalFailed(h->status)) return h->status;
  *result = 0;
  if (source <= kSenseSourceDac1) return HSLKSTSenseLoadOnInternalDAC(h, source, result);
  const uint32_t encoder = source - kSenseSourceEncoder0;
  if (encoder < 4 && h->aChrontel[encoder].ulPresent != 0) HSLCHRDetectLoad(h, encoder, result);
  return h->status;
}

uint32_t HSLKSTGetLoadSenseSource(const BOARDHANDLE* h, uint32_t output) {
  if (output > 3) return kSenseSourceNone;
  if (output == 0 && Dac1Mask(h) != 0) return kSenseSourceDac0;
  if (output == 1 && Dac2Mask(h) != 0) return kSenseSourceDac1;
  for (uint32_t path = 0; path < 4; ++path)
    if (OutputPathMask(h, path) & g_OutputModeType[output]) return kSenseSourceEncoder0 + path;
  return kSenseSourceNone;
}

HALSTATUS HSLKSTSenseAllLoads(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t output = 0; output < kMonitorOutputs; ++output) {
    MONITORINFO& mi = h->aMonitorInfo[output];
    if (mi.flMonitor & kMonitorEdidValid) {
      mi.flMonitor |= kMonitorPresent;
      continue;
    }
    uint32_t result = 0;
    HSLKSTSenseLoad(h, HSLKSTGetLoadSenseSource(h, output), &result);
    mi.flMonitor |= result;
    if (result != 0) mi.flMonitor |= kMonitorPresent;
  }
  return h->status;
}

HALSTATUS HSLKSTDetectTV(BOARDHANDLE* h, uint32_t* detected) {
  if (HalFailed(h->status)) return h->status;
  *detected = 0;
  HSLKSTGetAllCableInfo(h);
  uint32_t connector = kCableConnectors;
  for (uint32_t c = 0; c < kCableConnectors; ++c)
    if (h->aCableInfo[c].ucCableType & kTvCableTypeBits) connector = c;
  if (connector < kCableConnectors)
    HSLKSTSenseLoad(h, HSLKSTGetLoadSenseSource(h, connector), detected);
  return h->status;
}

HALSTATUS HSLKSTGetAnalogMonitorEDID(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output > 1) return h->status;
  const bool swapped = (h->ulBoardFlags & kBoardFlagMonitorsSwapped) != 0;
  const uint32_t port = (output == 1) != swapped ? kDdcPortAnalog1 : kDdcPortAnalog0;
  MONITORINFO& mi = h->aMonitorInfo[output];
  ReadEdid(h, output, port, kDdcEdidAddress, kAnalogEdidAttempts, 0);
  if (!EdidValid(h, output)) {
    uint32_t load = 0;
    HSLKSTSenseLoadOnInternalDAC(h, port & 1, &load);
    if (load == 0) {
      mi.flMonitor &= ~kMonitorPresent;
    } else {
      mi.flMonitor |= kMonitorPresent;
      Delay(h, kAnalogEdidRetryUnits);
      ReadEdid(h, output, port, kDdcEdidAddress, kAnalogEdidSlowAttempts, kAnalogEdidSlowWait);
    }
  }
  // A monitor without EDID is no error.
  if (HalFailed(h->status)) h->status = kHalOk;
  return h->status;
}

HALSTATUS HSLKSTGetFlatPanelMonitorEDID(BOARDHANDLE* h, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (output > 1) return h->status;
  const uint32_t port = output == 0 ? kDdcPortAnalog0 : kDdcPortAnalog1;
  for (uint32_t address : kPanelEdidAddresses) {
    ReadEdid(h, output, port, address, kPanelEdidAttempts, kPanelEdidWait);
    if (EdidValid(h, output)) break;
  }
  HALPGetMonitorProperties(h, output);
  MONITORINFO& mi = h->aMonitorInfo[output];
  if (!(mi.flMonitor & kMonitorDigital)) mi.flMonitor &= ~(kMonitorPresent | kMonitorEdidValid);
  const bool both = (h->aMonitorInfo[0].flMonitor & kMonitorDigital) && (h->aMonitorInfo[1].flMonitor & kMonitorDigital);
  h->ulBoardFlags = both ? h->ulBoardFlags | kBoardFlagBothPanelsDigital : h->ulBoardFlags & ~kBoardFlagBothPanelsDigital;
  return h->status;
}

HALSTATUS HSLKSTGetMonitorEDID_OLD(BOARDHANDLE* h, uint32_t kind) {
  if (HalFailed(h->status)) return h->status;
  switch (kind) {
    case kMonitorEdidAnalog0:
      return HSLKSTGetAnalogMonitorEDID(h, 0);
    case kMonitorEdidAnalog1:
      return HSLKSTGetAnalogMonitorEDID(h, 1);
    case kMonitorEdidPanel1:
      return HSLKSTGetFlatPanelMonitorEDID(h, 1);
    case kMonitorEdidPanel0:
      return HSLKSTGetFlatPanelMonitorEDID(h, 0);
    default:
      return SetError(h, kErrMonitorEdidKind);
  }
}
