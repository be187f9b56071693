// Device I/O control, free synthesizers, digital output formats, overscan
// colour, primary-surface address and the hardware resets.
#include "hwsharing/chip/devio.h"

#include <initializer_list>
#include "core/board_description.h"
#include "core/chip_ids.h"

#include <cstring>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/chip/digital_formats.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/miscio.h"
#include "hwsharing/outputs/monitor_info.h"
#include "hwsharing/outputs/output_inventory.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/chip/power.h"
#include "hwsharing/outputs/priority.h"
#include "hwsharing/chip/reg_access.h"
#include "core/regs/bus.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "core/regs/misc_io.h"

namespace {
constexpr uint64_t kBandwidthPerMHz = 16000;
constexpr uint64_t kQuadDualBandwidthPerMHz = 13600000;
constexpr uint64_t kDualBandwidthPerMHz = 10192000;
constexpr uint32_t kOverlayClockLimit = 250000;
constexpr uint32_t kOverlayClockLimitWide = 270000;
constexpr uint32_t kOutputCapsWideClock = (1u << 2) | (1u << 5);
constexpr uint32_t kPriSurfMaskEarly = 0x7fff800;
constexpr uint32_t kPriSurfMask = 0xffffc00;
constexpr uint32_t kPriSurfField = 4;
constexpr uint32_t kResetUnits = 10000;
constexpr uint32_t kBoardFlagsBandwidth = 0xE0;
constexpr uint32_t kBoardFlagsNarrow = 0x80;
constexpr uint32_t kSavedConfig[] = {0x04, 0x0C, 0x10, 0x14, 0x30, 0x3C, 0x40};

uint32_t Word(const void* p, uint32_t index) {
  uint32_t v = 0;
  std::memcpy(&v, static_cast<const uint8_t*>(p) + 4 * index, 4);
  return v;
}
void PutWord(void* p, uint32_t index, uint32_t v) {
  std::memcpy(static_cast<uint8_t*>(p) + 4 * index, &v, 4);
}

bool StereoPresent(const BOARDHANDLE* h) { return (h->ulFeatures & kFeatureStereoConnector) != 0; }

struct StereoLine {
  uint32_t reg = 0, drive = 0, data = 0;
};
StereoLine StereoMasks(BOARDHANDLE* h) {
  StereoLine s;
  uint32_t line = 0;
  HSLPIN60GetMISCIORegMasks(h, kLineStereo3d, 0, &line, &s.reg, &s.drive, &s.data);
  return s;
}

uint8_t ReadStereo(BOARDHANDLE* h) {
  uint8_t level = 0;
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineStereo3d, 1, &level, nullptr);
  return level;
}

void DriveStereo(BOARDHANDLE* h, uint8_t level) {
  HSLKSTAccessMiscIo(h, kMiscIoBoardLine, kLineStereo3d, 0, &level, nullptr);
}

// Whether controllers 0 and 1 show the same picture.
bool SameMode(const MODEINFO& a, const MODEINFO& b) {
  return a.ulDispWidth == b.ulDispWidth && a.ulDispHeight == b.ulDispHeight &&
         a.ulRefreshRate == b.ulRefreshRate && a.ulPixClock == b.ulPixClock;
}

uint32_t CanUseOverlay(BOARDHANDLE* h, uint32_t controller, uint32_t dualStream) {
  const uint64_t mhz = h->oPins.aucData[kPinsMemoryClock];
  uint64_t bandwidth = mhz * kBandwidthPerMHz;
  if (IsLaterKestrion(h->usDeviceId) && dualStream)
    bandwidth = mhz * (IsQuadBoard(h) ? kQuadDualBandwidthPerMHz : kDualBandwidthPerMHz) / 1000;
  uint32_t rates[2] = {0, 0}, second[2] = {0, 0};
  HSLKSTGetCurrentBitRates(h, rates, second);
  uint64_t demand = rates[0];
  const bool early = h->usDeviceId == kDeviceKestrion1 || h->usDeviceId == kDeviceKestrion2;
  if (!early || rates[0] == 0 || rates[1] == 0 || !SameMode(h->aModeInfo[0], h->aModeInfo[1]))
    demand += rates[1];
  uint32_t result = kOverlayUsable;
  if (8 * bandwidth < demand && (!IsQuadBoard(h) || dualStream)) result = kOverlayNoBandwidth;
  if (!IsQuadBoard(h)) {
    const uint32_t limit = (h->ulOutputCaps & kOutputCapsWideClock) == kOutputCapsWideClock
                               ? kOverlayClockLimitWide
                               : kOverlayClockLimit;
    if (h->aModeInfo[controller].ulPixClock > limit)
      result = result == kOverlayUsable ? kOverlayClockTooHigh : result | kOverlayClockTooHigh;
  }
  return result;
}

}  // namespace

HALSTATUS HSLKSTDeviceIoControl(BOARDHANDLE* h, uint32_t code, const void* in, uint32_t inSize,
                                void* out, uint32_t outSize, uint32_t* written) {
  if (HalFailed(h->status)) return h->status;
  auto sizes = [&](uint32_t wantIn, uint32_t wantOut) {
    return (wantIn == 0 || inSize == wantIn) && outSize == wantOut && out != nullptr &&
           (wantIn == 0 || in != nullptr);
  };
  auto done = [&](uint32_t handled, uint32_t bytes) {
    PutWord(out, 0, handled);
    if (written != nullptr) *written = bytes;
  };
  switch (code) {
    case kIoNotifyOverlayChanged:
      if (!sizes(4, 4)) break;
      HSLKSTUpdatePriorityLevels(h);
      done(1, 4);
      break;
    case kIoCanUseOverlay: {
      if (!sizes(12, 8)) break;
      const uint32_t controller = Word(in, 1);
      if (controller > 3) break;  // no such controller: not served
      PutWord(out, 1, CanUseOverlay(h, controller, Word(in, 2)));
      done(1, 8);
      break;
    }
    case kIoStereoGetSupport:
      if (!sizes(0, 8)) break;
      PutWord(out, 1, 1);
      done(StereoPresent(h) ? 1 : 0, 8);
      break;
    case kIoStereoGetData:
      if (!sizes(0, 8) || !StereoPresent(h)) break;
      PutWord(out, 1, ReadStereo(h));
      done(1, 8);
      break;
    case kIoStereoSetData:
      if (!sizes(1, 4) || !StereoPresent(h)) break;
      DriveStereo(h, *static_cast<const uint8_t*>(in));
      done(1, 4);
      break;
    case kIoStereoEnable: {
      if (!sizes(4, 4) || !StereoPresent(h)) break;
      const StereoLine s = StereoMasks(h);
      if (s.data == 0 || s.drive == 0) break;
      uint32_t v = RegRead(h, s.reg);
      v = Word(in, 0) != 0 ? v | s.data : v & ~s.data;
      RegWrite(h, s.reg, v & ~s.drive);
      done(1, 4);
      break;
    }
    case kIoStereoIsEnabled: {
      if (!sizes(0, 8) || !StereoPresent(h)) break;
      const StereoLine s = StereoMasks(h);
      PutWord(out, 1, 1);
      done((RegRead(h, s.reg) & s.data) ? 1 : 0, 8);
      break;
    }
    case kIoStereoToggleData: {
      if (!sizes(0, 4) || !StereoPresent(h)) break;
      DriveStereo(h, ReadStereo(h) ? 0 : 1);
      done(1, 4);
      break;
    }
    case kIoVidParmGetController: {
      if (!sizes(sizeof(MODEINFO), sizeof(MODEINFO) + 4)) break;
      MODEINFO request, translated;
      std::memcpy(&request, in, sizeof(request));
      translated = request;
      HSLKSTTranslateFPGAVideoParameters(h, &request, &request, &translated);
      std::memcpy(out, &translated, sizeof(translated));
      PutWord(out, sizeof(MODEINFO) / 4, 1);
      if (written != nullptr) *written = sizeof(MODEINFO) + 4;
      break;
    }
    case kIoVinInputSelection: {
      if (!sizes(8, 8)) break;
      uint8_t level = static_cast<uint8_t>(Word(in, 1) & 1);
      uint32_t present = 0;
      HSLKSTAccessMiscIo(h, kMiscIoExpander, kExpLineVideoInput, Word(in, 0) == 0 ? 1 : 0, &level,
                         &present);
      if (!present) break;
      PutWord(out, 1, 1);
      done(level, 8);
      break;
    }
    default:
      break;  // 0, 4, 5 and codes above 12 are not served
  }
  return h->status;
}

uint32_t IsFSInUse(BOARDHANDLE*, uint32_t value, uint32_t fs) {
  const uint32_t first = (value >> 1) & 0x7;
  if (first >= 1 && first <= 4 && first - 1 == fs) return 1;
  for (uint32_t shift : {8u, 16u}) {
    const uint32_t code = (value >> shift) & 0xF;
    if (code >= 1 && code <= 8 && (code - 1) / 2 == fs) return 1;
  }
  return 0;
}

HALSTATUS HSLKSTGetFreeFS(BOARDHANDLE* h, uint32_t n, uint32_t* fs) {
  if (HalFailed(h->status)) return h->status;
  *fs = kFsNone;
  const uint32_t select = RegRead(h, kRegClockSelect0);
  uint32_t found = 0;
  for (uint32_t s = 0; s < 4; ++s) {
    if (IsFSInUse(h, select, s)) continue;
    if (found++ == n) {
      *fs = s;
      return h->status;
    }
  }
  return SetError(h, kErrNoFreeFs);
}

HALSTATUS HSLKSTValidateDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  if (count > kDigitalOutputs) return SetError(h, kErrDigitalFormat);
  for (uint32_t i = 0; i < count; ++i)
    if (formats[i] == 0) formats[i] = kDigitalFormatNone;
  for (uint32_t i = 0; i < count; ++i) {
    HSLKSTIsDigitalFormatSupported(h, formats[i], i);
    if (HalFailed(h->status)) return SetError(h, kErrDigitalFormat);
  }
  return h->status;
}

HALSTATUS HSLKSTSetDigitalOutputFormat(BOARDHANDLE* h, uint32_t* formats, uint32_t count) {
  if (HalFailed(h->status)) return h->status;
  // The handle keeps four words: more formats than outputs are refused.
  if (count > kDigitalOutputs) return SetError(h, kErrDigitalFormat);
  auto digital = [](uint32_t f) { return f != kDigitalFormatNone && f != 0; };
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t old = h->aulDigitalOutputFormat[i];
    const uint32_t now = formats[i] == 0 ? kDigitalFormatNone : formats[i];
    h->aulDigitalOutputFormat[i] = now;
    if (digital(old) != digital(now)) HSLKSTGetSpecificMonitorInfo(h, i);
  }
  HSLKSTGetDefaultAllHwOutputInfo(h);
  return h->status;
}

HALSTATUS HSLKSTGetDigitalOutputFormat(BOARDHANDLE* h, const MODEINFO* mode, uint32_t* format,
                                       uint32_t* index) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t i = (mode->flOutput & kOutDigital2) ? 2 : (mode->flOutput & kOutDigital1) ? 1 : 0;
  *index = i;
  *format = h->aulDigitalOutputFormat[i];
  return h->status;
}

HALSTATUS HSLKSTSetOverscanColor(BOARDHANDLE* h, uint32_t colour, uint32_t controller) {
  if (HalFailed(h->status)) return h->status;
  // Only controllers 0 and 1 have an overscan register; the others would
  // land in other blocks.
  if (controller > 1) return SetError(h, kErrOverscanController);
  RegWrite(h, kRegOverscan + kControllerStride * controller, colour);
  return h->status;
}

namespace {
uint32_t PriSurfMask(const BOARDHANDLE* h) {
  return IsLaterKestrion(h->usDeviceId) ? kPriSurfMask : kPriSurfMaskEarly;
}
}  // namespace

HALSTATUS HSLKST_Register_PriSurfAddr_Set(BOARDHANDLE* h, uint32_t address, uint32_t flag,
                                          uint32_t* value) {
  if (HalFailed(h->status)) return h->status;
  *value = (address & PriSurfMask(h)) + (flag ? kPriSurfField : 0);
  return h->status;
}

HALSTATUS HSLKST_Register_PriSurfAddr_Get(BOARDHANDLE* h, uint32_t value, uint32_t* address) {
  if (HalFailed(h->status)) return h->status;
  *address = value & PriSurfMask(h);
  return h->status;
}

HALSTATUS HSLKSTHardwareReset(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  HSLKSTSaveCriticalData(h);
  uint32_t saved[8];
  for (uint32_t i = 0; i < 7; ++i) saved[i] = CfgRead(h, kSavedConfig[i]);
  const bool busSaved = (h->ulBoardFlags & kBoardFlagsBandwidth) != kBoardFlagsNarrow;
  const uint32_t busStatus = CfgRead(h, kCfgBusStatus);
  if (busSaved) saved[7] = CfgRead(h, kCfgBusControl);
  if (h->usDeviceId == kDeviceKestrion2 || IsLaterKestrion(h->usDeviceId)) RegWrite(h, kRegMiscIoHigh, 3);
  // The bus options' power fields follow configuration dword 0xF4; the rest
  // stays as read. The same value goes back after the reset.
  const uint32_t bus = (RegRead(h, kRegBusOptions) & kBusOptKeep) | BusPowerFields(busStatus);
  RegWrite(h, kRegBusOptions, bus);
  CfgWriteByte(h, kCfgChipReset, kChipResetHold);
  CfgWriteByte(h, kCfgChipReset, 0);
  Delay(h, kResetUnits);
  for (uint32_t i = 0; i < 7; ++i) CfgWrite(h, kSavedConfig[i], saved[i]);
  if (busSaved) CfgWrite(h, kCfgBusControl, saved[7]);
  RegWrite(h, kRegBusOptions, bus);
  return HSLKSTRestoreCriticalData(h);
}

HALSTATUS HSLWQTHardwareReset(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t saved[kCfgDwords];
  for (uint32_t i = 0; i < kCfgDwords; ++i) saved[i] = CfgRead(h, 4 * i);
  uint32_t bus = RegRead(h, kRegBusOptions) | kBusOptResetForced;
  const bool d62 = h->usDeviceId == kDeviceKestrionNext2;
  if (!(d62 && h->ulRevision == 0)) bus |= kBusOptResetBit8;
  if (d62 && h->ulRevision == 2) bus &= ~kBusOptResetBit10;
  RegWrite(h, kRegBusOptions, bus);
  CfgWriteByte(h, kCfgChipReset, kChipResetHold);
  Delay(h, kResetUnits);
  CfgWriteByte(h, kCfgChipReset, 0);
  Delay(h, kResetUnits);
  for (uint32_t i = 0; i < kCfgDwords; ++i) CfgWrite(h, 4 * i, saved[i]);
  RegWrite(h, kRegBusOptions, bus);
  return h->status;
}
