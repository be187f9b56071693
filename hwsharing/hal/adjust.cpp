#include "hwsharing/hal/adjust.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/dispatch.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/gtf_cvt.h"
#include "hwsharing/hal/hal_entries.h"
#include "hwsharing/hal/timing_tables.h"

namespace {

// flOutput bits of a mode on a TV path.
constexpr uint32_t kTvPathBits = 0x4000070 | 0x2000000;
constexpr uint32_t kCapsTvOutput = 0x8;
constexpr uint32_t kInterlaceMinWidth = 641;
// Below these the mode is no mode: progressive and interlaced.
constexpr uint32_t kMinProgressiveRefresh = 40;
constexpr uint32_t kMinInterlacedRefresh = 20;
constexpr uint32_t kCellPixels = 8;
// A field lowered below 0 wrapped round: it reads this high or higher.
constexpr uint32_t kWrappedField = 65537;

enum class Field : uint32_t { kHFront = 4, kHSync, kHBack, kVFront, kVSync, kVBack };

uint32_t* FieldOf(MODEINFO* m, Field f) {
  switch (f) {
    case Field::kHFront:
      return &m->ulHFPorch;
    case Field::kHSync:
      return &m->ulHSync;
    case Field::kHBack:
      return &m->ulHBPorch;
    case Field::kVFront:
      return &m->ulVFPorch;
    case Field::kVSync:
      return &m->ulVSync;
    case Field::kVBack:
      return &m->ulVBPorch;
  }
  return &m->ulHFPorch;
}

bool Interlaced(const MODEINFO* m) { return (m->flSignalMode & kSignalInterlaced) != 0; }

uint32_t HTotal(const MODEINFO* m) { return m->ulDispWidth + m->ulHFPorch + m->ulHSync + m->ulHBPorch; }

uint32_t VTotal(const MODEINFO* m) {
  const uint32_t blank = m->ulVFPorch + m->ulVSync + m->ulVBPorch;
  return Interlaced(m) ? (m->ulDispHeight / 2 + blank) * 2 : m->ulDispHeight + blank;
}

// The chip's answer whether the mode is shown with every line twice.
bool LineDoubled(BOARDHANDLE* h, MODEINFO* m) {
  uint32_t doubled = 0;
  if (h->pCRTCFunctions != nullptr) h->pCRTCFunctions->UseLineDoubling(h, m, &doubled);
  return doubled != 0;
}

// Clock and horizontal rate for the mode's totals at its refresh.
void Retime(MODEINFO* m, uint32_t vtotal) {
  const uint64_t clock = uint64_t{HTotal(m)} * vtotal * m->ulRefreshRate / 1000;
  m->ulPixClock = static_cast<uint32_t>(clock);
  const uint32_t ht = HTotal(m);
  m->ulHorizRate = ht == 0 ? 0 : static_cast<uint32_t>(clock * 1000 / ht / 1000);
}

HALSTATUS Validate(BOARDHANDLE* h, MODEINFO* m) { return HALValidateVideoParameters(h, m); }

// One porch or sync one step up or down.
HALSTATUS Step(BOARDHANDLE* h, MODEINFO* m, Field f, bool up) {
  if (HalFailed(h->status)) return h->status;
  const bool doubled = LineDoubled(h, m);
  uint32_t* value = FieldOf(m, f);
  const bool horizontal = f == Field::kHFront || f == Field::kHSync || f == Field::kHBack;
  if (horizontal && !(m->flModeCaps & kAdjustByPixel)) {
    *value = (*value & ~(kCellPixels - 1)) + (up ? kCellPixels : 0u - kCellPixels);
  } else {
    *value += up ? 1 : 0u - 1;
  }
  // The vertical sync's own step leaves the doubled lines out of the clock.
  uint32_t vtotal = VTotal(m);
  if (doubled && f != Field::kVSync) vtotal += m->ulDispHeight;
  Retime(m, vtotal);
  if (!up && *value >= kWrappedField) return SetError(h, kErrAdjustBelowZeroBase | (static_cast<uint32_t>(f) << 12));
  return Validate(h, m);
}

// Two steps and, when both went well, a validation of the result.
HALSTATUS Move(BOARDHANDLE* h, MODEINFO* m, Field first, bool firstUp, Field second, bool secondUp) {
  Step(h, m, first, firstUp);
  Step(h, m, second, secondUp);
  if (!HalFailed(h->status)) Validate(h, m);
  return h->status;
}

HALSTATUS RefreshStep(BOARDHANDLE* h, MODEINFO* m, bool up) {
  if (HalFailed(h->status)) return h->status;
  const bool doubled = LineDoubled(h, m);
  const uint32_t before = m->ulRefreshRate;
  m->ulRefreshRate = up ? before + 1 : before - 1;
  Retime(m, VTotal(m) + (doubled ? m->ulDispHeight : 0));
  if (!up && before <= 1) return SetError(h, kErrAdjustRefreshBelowOne);
  return Validate(h, m);
}

HALSTATUS Polarity(BOARDHANDLE* h, MODEINFO* m, uint32_t bit, uint32_t positive) {
  if (HalFailed(h->status)) return h->status;
  if (positive != 0) {
    m->flSignalMode |= bit;
  } else {
    m->flSignalMode &= ~bit;
  }
  return Validate(h, m);
}

}  // namespace

HALSTATUS HALPChangePixelClock(BOARDHANDLE* h, MODEINFO* mode, uint32_t clockKhz) {
  if (HalFailed(h->status)) return h->status;
  mode->ulPixClock = clockKhz;
  mode->ulRefreshRate = HALPGTFRoundDiv(clockKhz * 1000, VTotal(mode) * HTotal(mode));
  mode->ulHorizRate = HALPGTFRoundDiv(clockKhz * 1000, HTotal(mode) * 1000);
  return Validate(h, mode);
}

HALSTATUS HALPChangeVerticalRefreshRate(BOARDHANDLE* h, MODEINFO* mode, uint32_t refresh) {
  if (HalFailed(h->status)) return h->status;
  if (const MODEINFO* row = FindVesaRow(mode, refresh)) {
    CopyTimingFromRefresh(mode, row);
  } else if (HalFailed(HALGetVerticalGTFParams(h, mode, refresh))) {
    return h->status;
  }
  return Validate(h, mode);
}

HALSTATUS HALPChangeHorizontalSyncPolarity(BOARDHANDLE* h, MODEINFO* mode, uint32_t positive) {
  return Polarity(h, mode, kSignalHSyncPositive, positive);
}

HALSTATUS HALPChangeVerticalSyncPolarity(BOARDHANDLE* h, MODEINFO* mode, uint32_t positive) {
  return Polarity(h, mode, kSignalVSyncPositive, positive);
}

HALSTATUS HALPChangeInterlaceMode(BOARDHANDLE* h, MODEINFO* mode, uint32_t on) {
  if (HalFailed(h->status)) return h->status;
  if ((mode->flOutput & kOutModule1) || mode->ulDispWidth < kInterlaceMinWidth)
    return SetError(h, kErrAdjustNotSupported);
  if (on != 0 && !Interlaced(mode)) {
    mode->flSignalMode |= kSignalInterlaced;
    mode->ulRefreshRate /= 2;
  } else if (on == 0 && Interlaced(mode)) {
    mode->flSignalMode &= ~kSignalInterlaced;
    mode->ulRefreshRate *= 2;
  }
  Retime(mode, VTotal(mode));
  return Validate(h, mode);
}

HALSTATUS HALPIncrementVerticalRefreshRate(BOARDHANDLE* h, MODEINFO* mode) { return RefreshStep(h, mode, true); }

HALSTATUS HALPDecrementVerticalRefreshRate(BOARDHANDLE* h, MODEINFO* mode) { return RefreshStep(h, mode, false); }

HALSTATUS HALPDecrementHorizontalRate(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(RefreshStep(h, mode, false)) || h->status != kHalOk) {
    // The first lowering was not clean: lower once more.
    RefreshStep(h, mode, false);
    if (HalSeverity(h->status) == kSeverityWarning) Validate(h, mode);
    return h->status;
  }
  return Validate(h, mode);
}

HALSTATUS HALModifyVideoParameters(BOARDHANDLE* h, MODEINFO* mode, uint32_t type, uint32_t value) {
  h->status = kHalOk;
  if (mode->flOutput & kTvPathBits) {
    if (!(h->ulOutputCaps & kCapsTvOutput)) {
      SetError(h, kErrAdjustTvWithoutTvOutput);
    } else if (h->oJumpTable.ModifyTVParameters == nullptr) {
      SetError(h, kErrSlotNotInitialised);
    } else {
      h->oJumpTable.ModifyTVParameters(h, mode, type);
    }
  } else {
    switch (type) {
      case kAdjustPixelClock:
        HALPChangePixelClock(h, mode, value);
        break;
      case kAdjustRefresh:
        HALPChangeVerticalRefreshRate(h, mode, value);
        break;
      case kAdjustHSyncPolarity:
        HALPChangeHorizontalSyncPolarity(h, mode, value);
        break;
      case kAdjustVSyncPolarity:
        HALPChangeVerticalSyncPolarity(h, mode, value);
        break;
      case kAdjustInterlace:
        HALPChangeInterlaceMode(h, mode, value);
        break;
      case kAdjustMoveRight:
        Move(h, mode, Field::kHFront, false, Field::kHBack, true);
        break;
      case kAdjustMoveLeft:
        Move(h, mode, Field::kHFront, true, Field::kHBack, false);
        break;
      case kAdjustMoveUp:
        Move(h, mode, Field::kVBack, false, Field::kVFront, true);
        break;
      case kAdjustMoveDown:
        Move(h, mode, Field::kVBack, true, Field::kVFront, false);
        break;
      case kAdjustExpandHorizontal:
        Move(h, mode, Field::kHBack, false, Field::kHFront, false);
        break;
      case kAdjustExpandVertical:
        Move(h, mode, Field::kVBack, false, Field::kVFront, false);
        break;
      case kAdjustShrinkHorizontal:
        Move(h, mode, Field::kHBack, true, Field::kHFront, true);
        break;
      case kAdjustShrinkVertical:
        Move(h, mode, Field::kVBack, true, Field::kVFront, true);
        break;
      case 21:  // pixel clock, refresh and horizontal rate up: one hertz more
      case 22:
      case 23:
        HALPIncrementVerticalRefreshRate(h, mode);
        break;
      case 24:
      case 25:
      case 26:
        Step(h, mode, static_cast<Field>(type - 24 + 4), true);
        break;
      case 27:
      case 28:
      case 29:
        Step(h, mode, static_cast<Field>(type - 27 + 7), true);
        break;
      case 30:  // pixel clock and refresh down: one hertz less
      case 31:
        HALPDecrementVerticalRefreshRate(h, mode);
        break;
      case 32:
        HALPDecrementHorizontalRate(h, mode);
        break;
      case 33:
      case 34:
      case 35:
        Step(h, mode, static_cast<Field>(type - 33 + 4), false);
        break;
      case 36:
      case 37:
      case 38:
        Step(h, mode, static_cast<Field>(type - 36 + 7), false);
        break;
      default:
        SetError(h, type == 0 || type > kAdjustLastType ? kErrAdjustType : kErrAdjustNotSupported);
        break;
    }
  }
  const uint32_t floor = Interlaced(mode) ? kMinInterlacedRefresh : kMinProgressiveRefresh;
  if (mode->ulRefreshRate < floor) SetError(h, kErrAdjustRefreshTooLow);
  return h->status;
}
