// Display clock selection.
#include "hwsharing/outputs/clock_select.h"

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "core/regs/display.h"
#include "hwsharing/chip/b90_clocks.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/chip/fsynth.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/chrontel_encoder.h"
#include "hwsharing/encoders/chrontel_tv.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/display_clocks.h"
#include "hwsharing/outputs/intermediate.h"
#include "hwsharing/outputs/transitions.h"

namespace {

// The output bits of each output, all kinds.
constexpr uint32_t kOutputBits[4] = {
    kOutAnalog0 | kOutDigital0 | kOutTv0 | kOutFourth0,
    kOutAnalog1 | kOutDigital1 | kOutTv1 | kOutFourth1,
    kOutAnalog2 | kOutDigital2 | kOutTv2 | kOutFourth2,
    kOutAnalog3 | kOutDigital3 | kOutTv3 | kOutFourth3,
};
constexpr uint32_t kTvBits = kOutTv0 | kOutTv1 | kOutTv2 | kOutTv3;
constexpr uint32_t kFourthBits = kOutFourth0 | kOutFourth1 | kOutFourth2 | kOutFourth3;
// Above this the graphics clock drives the controller.
constexpr uint32_t kMaxFsKHz = 499999;
// TV standards whose clock comes from a free synthesizer.
bool FsTvStandard(uint8_t standard) { return standard >= 6 && standard <= 8; }

// Detuning moves the clock of one of two digital outputs that run side by
// side at high clocks by this much.
constexpr uint32_t kDetuneKHz = 100;
constexpr uint32_t kDetuneMinKHz = 64999;

bool IsChrontelSource(uint32_t source) {
  return source >= kClockChrontel0 && source <= kClockChrontel3;
}

uint32_t ModuleOf(const MODEINFO& m) { return (m.flOutput & kOutModule1) ? 1 : 0; }

// Programs FS `fs` to the record's clock with the device's own synthesizer
// code.
void ProgramFs(BOARDHANDLE* h, uint32_t fs, uint32_t khz) {
  if (HasLaterGenerationClocks(h->usDeviceId))
    HWB90InitialiseFSController(h, fs, khz);
  else
    HWKSTInitialiseFSController(h, fs, khz);
}

bool DrivesDigital(const MODEINFO& m, uint32_t bit) { return !RecordOff(m) && (m.flOutput & bit); }

// Two digital outputs side by side at high clocks on a board that asks for
// it: the record's clock is moved apart from the other output's.
bool NeedsDetuning(const BOARDHANDLE* h, const MODEINFO& m) {
  if (PinsVersion(h) <= kPinsVersion60B) return false;
  if (!(h->oPins.aucData[kPinsDigitalFlags] & kPinsDigitalDetune)) return false;
  if (m.ulPixClock <= kDetuneMinKHz) return false;
  return ((m.flOutput & kOutDigital0) && DrivesDigital(h->aModeInfo[1], kOutDigital1)) ||
         ((m.flOutput & kOutDigital1) && DrivesDigital(h->aModeInfo[0], kOutDigital0));
}

}  // namespace

HALSTATUS HSLKSTDetectOutputs(BOARDHANDLE* h, uint32_t flOutput, uint32_t* list, uint32_t* count) {
  if (HalFailed(h->status)) return h->status;
  *count = 0;
  for (uint32_t n = 0; n < 4; ++n)
    if (flOutput & kOutputBits[n]) list[(*count)++] = n;
  return h->status;
}

HALSTATUS HSLKSTGetClockInfo(BOARDHANDLE* h, MODEINFO* mode, CLOCKINFO* info) {
  if (HalFailed(h->status)) return h->status;
  uint32_t source = 0;
  if (mode->flOutput & (kTvBits | kFourthBits))
    HSLKSTGetTVClockSource(h, mode, &source);
  else
    HSLKSTGetMonitorClockSource(h, mode, &source);
  if (HalFailed(h->status)) return h->status;
  info->ulSource = source;
  return HSLKSTGetClockSel(h, mode, source, &info->ulSelect);
}

HALSTATUS HSLKSTGetTVClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source) {
  if (HalFailed(h->status)) return h->status;
  if (IsQuadBoard(h)) return HSLKSTGetQuadBoardTVClockSource(h, mode, source);
  if (FsTvStandard(h->ucTvStandard)) {
    *source = Tv1OnController3(*mode) ? kClockFreeFsAt2 : kClockFreeFs;
    return h->status;
  }
  if (mode->flOutput & kFourthBits) {
    uint32_t cpld = 0;
    HSLCHRUseCPLD(h, mode, &cpld);
    if (!HalFailed(h->status)) *source = cpld != 0 ? kClockTest : kClockFreeFs;
    return h->status;
  }
  *source = kClockTvEncoder;
  return h->status;
}

HALSTATUS HSLKSTGetMonitorClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source) {
  if (HalFailed(h->status)) return h->status;
  uint32_t select = 0, recyclable = 0;
  HSLKSTCheckForClkRecycling(h, mode, &select, &recyclable);
  if (HalFailed(h->status)) return h->status;
  if (recyclable)
    *source = kClockRecycled;
  else
    *source = mode->ulPixClock > kMaxFsKHz ? kClockGraphics : kClockFreeFs;
  return h->status;
}

HALSTATUS HSLKSTQuadBoardIsChrTVClockSource(BOARDHANDLE* h, uint32_t encoder, uint32_t* candidate) {
  if (HalFailed(h->status)) return h->status;
  *candidate = encoder < 4 && (h->ulTvClockSourceMask & (1u << encoder)) ? 1 : 0;
  return h->status;
}

HALSTATUS HSLKSTQuadBoardIsTVClockSourceEnabled(BOARDHANDLE* h, uint32_t* enabled, uint32_t* source) {
  if (HalFailed(h->status)) return h->status;
  *enabled = 0;
  for (uint32_t n = 0; n < 4; ++n) {
    uint32_t candidate = 0;
    HSLKSTQuadBoardIsChrTVClockSource(h, n, &candidate);
    const CLOCKINFO& e = h->aClockInfo[n];
    if (candidate && e.ulInUse && IsChrontelSource(e.ulSource)) {
      *enabled = 1;
      *source = e.ulSource;
      break;
    }
  }
  return h->status;
}

HALSTATUS HSLKSTGetQuadBoardTVFreeClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source) {
  if (HalFailed(h->status)) return h->status;
  uint32_t list[4] = {}, count = 0;
  HSLCHRDetectChrIDs(h, mode->flOutput & kTvBits, list, &count);
  if (HalFailed(h->status)) return h->status;
  auto freeCandidate = [h](uint32_t n) {
    uint32_t candidate = 0;
    HSLKSTQuadBoardIsChrTVClockSource(h, n, &candidate);
    return candidate != 0 && h->aClockInfo[n].ulInUse == 0;
  };
  uint32_t encoder = 4;
  for (uint32_t i = 0; i < count && i < 4 && encoder == 4; ++i)
    if (list[i] < 4 && freeCandidate(list[i])) encoder = list[i];
  for (uint32_t n = 0; n < 4 && encoder == 4; ++n)
    if (freeCandidate(n)) encoder = n;
  if (encoder == 4) encoder = 0;
  *source = kClockChrontel0 + encoder;
  return h->status;
}

HALSTATUS HSLKSTGetQuadBoardTVClockSource(BOARDHANDLE* h, MODEINFO* mode, uint32_t* source) {
  if (HalFailed(h->status)) return h->status;
  uint32_t enabled = 0;
  HSLKSTQuadBoardIsTVClockSourceEnabled(h, &enabled, source);
  if (HalFailed(h->status) || enabled) return h->status;
  return HSLKSTGetQuadBoardTVFreeClockSource(h, mode, source);
}

HALSTATUS HSLKSTCheckForClkRecycling(BOARDHANDLE* h, MODEINFO* mode, uint32_t* select,
                                     uint32_t* recyclable) {
  if (HalFailed(h->status)) return h->status;
  *recyclable = 0;
  uint32_t locked = 0;
  HSLKSTIsDvoLocked(h, mode, &locked);
  if (HalFailed(h->status)) return h->status;
  if (locked) {
    const uint32_t v = RegRead(h, kRegModuleClock0);
    *select = ((v & kDvo1CodeHigh) ? 4 : 0) | Dvo1CodeLow::Get(v);
    *recyclable = 1;
  } else if (mode->ulPixClock > kMaxFsKHz) {
    if (HasLaterGenerationClocks(h->usDeviceId))
      HSLB90IsGClkRecyclable(h, mode, recyclable, select);
    else
      HSLKSTIsGClkRecyclable(h, mode, recyclable, select);
  }
  return h->status;
}

HALSTATUS HSLKSTGetClockSel(BOARDHANDLE* h, MODEINFO* mode, uint32_t source, uint32_t* select) {
  if (HalFailed(h->status)) return h->status;
  uint32_t fs = kNoFs;
  switch (source) {
    case kClockFreeFs:
    case kClockTest:
      h->oJumpTable.GetFreeFS(h, ModuleOf(*mode), &fs);
      break;
    case kClockFreeFsAt2:
      h->oJumpTable.GetFreeFS(h, 2, &fs);
      break;
    case kClockGraphics:
      h->oJumpTable.GetGclk(h, mode, &fs);
      break;
    case kClockTvEncoder:
      *select = kSelectTvEncoder;
      return h->status;
    case kClockRecycled: {
      uint32_t recyclable = 0;
      return HSLKSTCheckForClkRecycling(h, mode, select, &recyclable);
    }
    default:
      if (IsChrontelSource(source)) {
        *select = kSelectChrontel;
        return h->status;
      }
      return SetError(h, kErrClockSource);
  }
  if (HalFailed(h->status)) return h->status;
  if (fs > 3) return SetError(h, kErrClockSource);
  *select = fs + 1;
  return h->status;
}

HALSTATUS HSLKSTPixelClockDetuning(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (mode->flOutput & kOutModule1)
    mode->ulPixClock += kDetuneKHz;
  else
    mode->ulPixClock -= kDetuneKHz;
  return h->status;
}

HALSTATUS HSLKSTEnableClock(BOARDHANDLE* h, MODEINFO* mode, CLOCKINFO* info) {
  if (HalFailed(h->status)) return h->status;
  uint32_t smooth = 0, free = 0;
  HSLKSTDetectSmoothTransition(h, mode, &smooth);
  HSLKSTDetectVidParmFreeTransition(h, mode, &free);
  if (HalFailed(h->status)) return h->status;
  const bool program = !smooth && !free;
  uint32_t used = 0, fs = kNoFs;
  const uint32_t source = info->ulSource;
  if (source == kClockFreeFs || source == kClockGraphics || source == kClockFreeFsAt2 ||
      source == kClockTest)
    HSLKSTTranslateDcmClkSelIntoFS(h, info->ulSelect, &used, &fs);
  if (HalFailed(h->status)) return h->status;
  switch (source) {
    case kClockFreeFs:
      if (used && program) {
        if (NeedsDetuning(h, *mode)) HSLKSTPixelClockDetuning(h, mode);
        ProgramFs(h, fs, mode->ulPixClock);
      }
      break;
    case kClockGraphics:
      if (used && program) HSLKSTSetGclk(h, mode, fs);
      break;
    case kClockFreeFsAt2:
      // Programmed even when nothing else of the clock changes.
      if (used) ProgramFs(h, fs, mode->ulPixClock);
      break;
    case kClockTest:
      if (used && program) {
        ProgramFs(h, fs, mode->ulPixClock);
        if (HasLaterGenerationClocks(h->usDeviceId))
          HSLB90EnableTstClk(h, fs);
        else
          HSLKSTEnableTstClk(h, fs);
      }
      info->ulSelect = kSelectTestClock;
      break;
    default:
      if (IsChrontelSource(source) && program) {
        uint32_t encoder = 0;
        HSLCHRTranslClkSourceToChrID(h, source, &encoder);
        HSLCHREnableTVClockSource(h, encoder, &h->oWorkingMode);
      }
      break;  // the TV encoder's clock and a shared clock program nothing
  }
  return h->status;
}

HALSTATUS HSLKSTDisableClock(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  uint32_t list[4] = {}, count = 0;
  HSLKSTDetectOutputs(h, mode->flOutput, list, &count);
  for (uint32_t i = 0; i < count; ++i) h->aClockInfo[list[i]] = CLOCKINFO{};
  return h->status;
}

HALSTATUS HSLKSTUpdateClockInfoStructure(BOARDHANDLE* h, MODEINFO* mode, const CLOCKINFO* info) {
  if (HalFailed(h->status) || RecordOff(*mode)) return h->status;
  uint32_t list[4] = {}, count = 0;
  HSLKSTDetectOutputs(h, mode->flOutput, list, &count);
  for (uint32_t i = 0; i < count; ++i) {
    CLOCKINFO& e = h->aClockInfo[list[i]];
    e = *info;
    e.ulInUse = 1;
  }
  if (IsQuadBoard(h) && (mode->flOutput & kTvBits)) {
    uint32_t encoder = 0;
    HSLCHRTranslClkSourceToChrID(h, info->ulSource, &encoder);
    if (encoder < 4) h->aClockInfo[encoder].ulInUse = 1;
  }
  return h->status;
}
