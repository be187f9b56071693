// Colour look-up tables and gamma.
#include "hwsharing/chip/lut.h"

#include <cstring>
#include <initializer_list>

#include "core/regs/lut.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/mcs.h"
#include "hwsharing/chip/bringup.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/encoders/cem.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/lut_ramp.h"
#include "hwsharing/chip/reg_access.h"

namespace {

constexpr uint32_t kFormat10Bit = 0xC0000;
constexpr uint32_t kMonoFormat = 10;
constexpr uint32_t kMaxPackCemCode = 24;
constexpr uint32_t kPackOption[2] = {0x20, 0x40};  // output-enable bits of the two outputs
constexpr uint32_t kCompensationOption[2] = {1u << 27, 1u << 28};  // by module
constexpr uint32_t kCapsDigital1 = 1u << 21;
constexpr uint32_t kCapsDualLink0 = 1u << 5;
constexpr uint32_t kDualDigitalFormat = 3;
constexpr uint32_t kDualLinkFormat = 18;
constexpr uint8_t kCemLutFlags = 0x90;
constexpr uint32_t kCemNoPrevious = 0xFF;
// Outputs of the board's first two paths on a board without expansion module.
constexpr uint32_t kStandardCemPathBits = kOutDigital2 | kOutDigital0 | kOutFourth2 | kOutAnalog2 |
                                          kOutDigital1 | kOutFourth3 | kOutDigital3 | kOutAnalog3;
constexpr uint32_t kStandardPathDigital = kOutDigital0 | kOutDigital2 | kOutDigital1 | kOutDigital3;

// For each of a channel's 8 output bits, the packed-pixel bit feeding it;
// 255 is a constant 0.
constexpr uint8_t oLutShiftData8[24] = {6, 7, 2, 3, 8, 9, 0, 1, 8, 9, 0, 1, 255, 5, 255, 4,
                                        255, 5, 255, 4, 6, 7, 2, 3};
constexpr uint8_t oLutShiftData10[24] = {0, 1, 6, 7, 2, 3, 4, 5, 0, 1, 2, 3, 255, 7, 255, 6,
                                         255, 5, 255, 4, 6, 7, 2, 3};

uint32_t Module(uint32_t controller) { return controller & 1; }
uint32_t LutBase(uint32_t controller) {
  return (controller < 2 ? kRegLutIndex : kRegLutSecondIndex) + kLutModuleStride * Module(controller);
}

bool PackedFormat(uint32_t f) {
  for (uint32_t p : {4u, 5u, 6u, 7u, 8u, 9u, 19u, 20u, 22u, 24u, 25u, 26u})
    if (f == p) return true;
  return false;
}

// The record's two digital outputs: (flOutput bit, output index).
struct DigitalOutput {
  uint32_t bit, index;
};
void DigitalOutputs(const BOARDHANDLE* h, DigitalOutput out[2]) {
  if (IsTwinBoard(h)) {
    out[0] = {kOutDigital1, 1};
    out[1] = {kOutDigital2, 2};
  } else {
    out[0] = {kOutDigital0, 0};
    out[1] = {kOutDigital1, 1};
  }
}

bool UsesSpecialFormat(const BOARDHANDLE* h, const MODEINFO* mode) {
  DigitalOutput outs[2];
  DigitalOutputs(h, outs);
  for (const DigitalOutput& o : outs) {
    if (!(mode->flOutput & o.bit)) continue;
    const uint32_t f = h->aulDigitalOutputFormat[o.index];
    if (PackedFormat(f) || f == kMonoFormat) return true;
  }
  return false;
}

bool RangeOk(uint32_t first, uint32_t count, uint32_t size) {
  return (size == 0 || first < size) && count <= size - (first < size ? first : size);
}

// The ramps of a record as three channels of 256 (kind 1 converted).
void RecordRamps(const LUTRECORD& rec, uint16_t* rgb) {
  if (rec.ulLutKind == kLutKindRamps) {
    std::memcpy(rgb, rec.ausLutEntry, 3 * kRampEntries * sizeof(uint16_t));
    return;
  }
  RemapData_us1024to256(rec.ausLutEntry, rgb);
  std::memcpy(rgb + kRampEntries, rgb, kRampEntries * sizeof(uint16_t));
  std::memcpy(rgb + 2 * kRampEntries, rgb, kRampEntries * sizeof(uint16_t));
}

void WriteTableEntry(BOARDHANDLE* h, uint32_t base, uint32_t r, uint32_t g, uint32_t b) {
  RegWrite(h, base + kLutRed, r);
  RegWrite(h, base + kLutGreen, g);
  RegWrite(h, base + kLutBlue, b | kLutCommit);
}

// The three channels of `rgb` smoothed and remapped (normalised first when
// asked), each channel's last given entry, the gamma level and the six
// compensation words computed from them.
struct CompensatedRamps {
  uint16_t prepared[3][kRampEntries];
  uint16_t last[3];
  uint32_t level;
  uint32_t words[6];
};

void PrepareCompensated(const uint16_t* rgb, bool normalize, CompensatedRamps* r) {
  const uint16_t* channels[3];
  for (uint32_t c = 0; c < 3; ++c) {
    const uint16_t* ramp = rgb + kRampEntries * c;
    uint16_t normal[kRampEntries];
    if (normalize) {
      NormalizeData_us256(ramp, normal);
      ramp = normal;
    }
    SmoothData_us256(ramp, r->prepared[c]);
    RemapData_us256(r->prepared[c]);
    channels[c] = r->prepared[c];
    r->last[c] = rgb[kRampEntries * c + kRampEntries - 1];
  }
  r->level = GetLutGammaLevel(channels);
  GetLutCompRegisters(channels, r->level, r->last, r->words);
}

// The emulated 10-bit table of controller 0 or 1 (module m).
void Program10BitPrimaryLUT(BOARDHANDLE* h, uint32_t module, const uint16_t* rgb) {
  CompensatedRamps r;
  PrepareCompensated(rgb, true, &r);
  const auto& prepared = r.prepared;
  const auto& last = r.last;
  const uint32_t level = r.level;
  const uint32_t* words = r.words;
  const uint32_t base = kRegLutIndex + kLutModuleStride * module;
  RegWrite(h, base, 0);
  for (uint32_t i = 0; i + 1 < kRampEntries; ++i) {
    WriteTableEntry(h, base, Compute10BitLutEntry_us256(prepared[0][i], prepared[0][i + 1]),
                    Compute10BitLutEntry_us256(prepared[1][i], prepared[1][i + 1]),
                    Compute10BitLutEntry_us256(prepared[2][i], prepared[2][i + 1]));
  }
  WriteTableEntry(h, base, Compute10BitLastLutEntry_us256(prepared[0][255], last[0]),
                  Compute10BitLastLutEntry_us256(prepared[1][255], last[1]),
                  Compute10BitLastLutEntry_us256(prepared[2][255], last[2]));
  const uint32_t control = kRegLutControl + kLutModuleStride * module;
  uint32_t v = RegRead(h, control) & ~kLutCompLowEnd;
  if (level == 1) v |= kLutCompLowEnd;
  RegWrite(h, control, v);
  for (uint32_t k = 0; k < 6; ++k) RegWrite(h, kRegLutComp0 + kLutModuleStride * module + 4 * k, words[k]);
}

// Whether a 10-bit mode on controller 0 or 1 takes the emulated table.
bool UseEmulated10Bit(const BOARDHANDLE* h, const MODEINFO* mode) {
  const uint32_t digital = MultiOutputFlag(h) == 0
                               ? kStandardPathDigital
                               : (OutputPathMask(h, 0) | OutputPathMask(h, 1)) & kStandardPathDigital;
  if (!(mode->flOutput & digital)) return true;
  if (!(mode->flOutput & kOutDigital0)) return false;
  const uint32_t f = h->aulDigitalOutputFormat[0];
  return ((h->ulOutputCaps & kCapsDigital1) && f == kDualDigitalFormat) ||
         ((h->ulOutputCaps & kCapsDualLink0) && f == kDualLinkFormat);
}

}  // namespace

bool IsCemLutPath(const BOARDHANDLE* h, uint32_t flOutput) {
  if (MultiOutputFlag(h) == 0) return (flOutput & kStandardCemPathBits) != 0;
  if (IsTwinBoard(h)) {
    uint32_t bits = kOutDigital2;
    bits |= AllFourTransmitters(h) ? kOutDigital3 : (kOutAnalog2 | kOutDigital1);
    return (flOutput & bits) != 0;
  }
  return (flOutput & (OutputPathMask(h, 0) | OutputPathMask(h, 1))) != 0;
}

uint32_t CemLutFpga(const BOARDHANDLE* h, uint32_t flOutput) {
  const uint32_t second = AllFourTransmitters(h) ? (kOutDigital2 | kOutAnalog2)
                                                 : (kOutDigital1 | kOutAnalog1);
  return IsTwinBoard(h) && (flOutput & second) ? 0 : 1;
}

void HSLKSTXFormLUTPackPixelByEntry(const uint16_t* ramps, uint32_t i, bool tenBit,
                                    uint16_t out[3]) {
  const uint32_t pixel = tenBit ? i
                                : (ramps[i] >> 8) + 2u * (ramps[kRampEntries + i] >> 8) +
                                      (ramps[2 * kRampEntries + i] >> 8);
  const uint8_t* table = tenBit ? oLutShiftData10 : oLutShiftData8;
  for (uint32_t c = 0; c < 3; ++c) {
    uint32_t byte = 0;
    for (uint32_t k = 0; k < 8; ++k) {
      const uint8_t from = table[8 * c + k];
      if (from != 255 && ((pixel >> from) & 1)) byte |= 1u << k;
    }
    out[c] = static_cast<uint16_t>(byte << 8);
  }
}

HALSTATUS HSLKSTXFormLUTPackPixel(BOARDHANDLE* h, LUTRECORD* record, uint32_t first,
                                  uint32_t count, uint32_t controller) {
  if (HalFailed(h->status)) return h->status;
  if (record->flLutState & (kLutPacked8 | kLutPacked10)) return h->status;
  const bool tenBit = h->aModeInfo[controller & 3].ulBpp == kFormat10Bit;
  record->flLutState |= tenBit ? kLutPacked10 : kLutPacked8;
  uint16_t* e = record->ausLutEntry;
  for (uint32_t i = first; i < first + count; ++i) {
    uint16_t packed[3];
    HSLKSTXFormLUTPackPixelByEntry(e, i, tenBit, packed);
    for (uint32_t c = 0; c < 3; ++c) e[kRampEntries * c + i] = packed[c];
  }
  return h->status;
}

HALSTATUS HSLKSTXFormLUTMono(BOARDHANDLE* h, LUTRECORD* record, uint32_t first, uint32_t count) {
  if (HalFailed(h->status) || (record->flLutState & kLutMono)) return h->status;
  record->flLutState |= kLutMono;
  for (uint32_t i = first; i < first + count; ++i) {
    record->ausLutEntry[i] = 0;
    record->ausLutEntry[2 * kRampEntries + i] = 0;
  }
  return h->status;
}

HALSTATUS HSLKSTXFormLUTMono10(BOARDHANDLE* h, LUTRECORD* record, uint32_t, uint32_t) {
  // One ramp feeds all three channels of a 1024-entry table: there is no
  // red or blue of its own to clear.
  if (HalFailed(h->status)) return h->status;
  record->flLutState |= kLutMono10;
  return h->status;
}

HALSTATUS HSLKSTXFormLUTCompensation(BOARDHANDLE* h, LUTRECORD* record, uint32_t first,
                                     uint32_t count, uint32_t controller) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 3 || !RangeOk(first, count, kRampEntries)) return SetError(h, kErrLutRange);
  if (record->flLutState & kLutCompensated) return h->status;
  record->flLutState |= kLutCompensated;
  const MCSRECORD& mcs = h->aMcs[Module(controller)];
  const uint64_t factor = (4ull * mcs.ulFactor) % 65536;
  uint16_t* e = record->ausLutEntry;
  for (uint32_t i = first; i < first + count; ++i) {
    const uint32_t g = e[kRampEntries + i] >> 6;
    e[2 * kRampEntries + i] = static_cast<uint16_t>(mcs.aucData[g] * 256u);
    e[i] = static_cast<uint16_t>(g * factor / 1023);
  }
  return h->status;
}

HALSTATUS HSLKSTXFormLUT(BOARDHANDLE* h, LUTRECORD* record, uint32_t reset, uint32_t first,
                         uint32_t count, uint16_t*, uint32_t controller) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 3 || !RangeOk(first, count, kRampEntries)) return SetError(h, kErrLutRange);
  if (reset) record->flLutState = 0;
  const MODEINFO* mode = &h->aModeInfo[controller];
  if (h->ulOutputCaps & kCompensationOption[Module(controller)])
    HSLKSTXFormLUTCompensation(h, record, first, count, controller);
  DigitalOutput outs[2];
  DigitalOutputs(h, outs);
  for (uint32_t n = 0; n < 2; ++n) {
    if (!(mode->flOutput & outs[n].bit)) continue;
    const uint32_t f = h->aulDigitalOutputFormat[outs[n].index];
    if (PackedFormat(f) && (h->ulOutputCaps & kPackOption[n]) && PinsCemCode(h) <= kMaxPackCemCode &&
        !(mode->flOutput & kOutControllerOff))
      HSLKSTXFormLUTPackPixel(h, record, first, count, controller);
    else if (f == kMonoFormat)
      HSLKSTXFormLUTMono(h, record, first, count);
  }
  return h->status;
}

namespace {

// Marks a controller's record linear and fills it with the identity of the
// kind: three ramps of i x 257, or one of i x 64.
HALSTATUS FillLinear(BOARDHANDLE* h, uint32_t controller, uint32_t kind) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 3) return SetError(h, kErrLutRange);
  LUTRECORD& rec = h->aLut[controller];
  rec.flLutState |= kLutLinear;
  rec.ulLutKind = kind;
  const uint32_t entries = kind == kLutKindRamps ? 3 * kRampEntries : kRamp10Entries;
  for (uint32_t i = 0; i < entries; ++i)
    rec.ausLutEntry[i] = static_cast<uint16_t>(kind == kLutKindRamps ? (i % kRampEntries) * 257 : i * 64);
  return h->status;
}

}  // namespace

HALSTATUS HSLKSTSetPrimaryLUTLinear(BOARDHANDLE* h, uint32_t controller) {
  return FillLinear(h, controller, kLutKindRamps);
}

HALSTATUS HSLKSTSetCEMLUTLinear(BOARDHANDLE* h, uint32_t controller) {
  return FillLinear(h, controller, kLutKindSingle);
}

HALSTATUS HSLKSTSetPrimaryLUTBypass(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t c = SelectDC(mode);
  const uint32_t control = kRegLutControl + kLutModuleStride * Module(c);
  RegWrite(h, control, RegRead(h, control) | kLutBypass);
  if (c >= 2) {
    const uint32_t second = kRegLutSecondControl + kLutModuleStride * Module(c);
    RegWrite(h, second, RegRead(h, second) | kLutSecondBypass);
  }
  return h->status;
}

HALSTATUS HSLKSTSetCEMLUTBypass(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  if (!IsTwinBoard(h) || !IsCemLutPath(h, mode->flOutput)) return h->status;
  const uint32_t fpga = CemLutFpga(h, mode->flOutput);
  uint8_t v = 0;
  HSLKSTAccessCEM_2FPgasI2C(h, 0, fpga, kFpgaLutControl, &v);
  v &= static_cast<uint8_t>(~kFpgaLutEnable);
  HSLKSTAccessCEM_2FPgasI2C(h, 1, fpga, kFpgaLutControl, &v);
  return h->status;
}

HALSTATUS HSLKSTSetCEMLUT(BOARDHANDLE* h, MODEINFO* mode, const uint16_t* entries) {
  if (HalFailed(h->status)) return h->status;
  if (!IsTwinBoard(h) || !IsCemLutPath(h, mode->flOutput)) return h->status;
  HSLKSTSetPrimaryLUTBypass(h, mode);
  const uint32_t fpga = CemLutFpga(h, mode->flOutput);
  uint8_t previous[3] = {kCemNoPrevious, kCemNoPrevious, kCemNoPrevious};
  for (uint32_t i = 0; i < kRamp10Entries && !HalFailed(h->status); ++i) {
    const uint32_t v = (entries[i] + 32u > 0xFFFF ? 0xFFFFu : entries[i] + 32u) & kRamp10Top;
    const uint8_t triple[3] = {static_cast<uint8_t>(i >> 2), static_cast<uint8_t>(v >> 8),
                               static_cast<uint8_t>((i & 3) | ((v >> 4) & 0x0C) | kCemLutFlags)};
    HSLKSTAccessCEM_2FPgasI2CCachedWrite(h, fpga, kFpgaLutFirst, triple, previous, 3);
    std::memcpy(previous, triple, 3);
  }
  return h->status;
}

HALSTATUS HSLKSTSetPrimaryLUT(BOARDHANDLE* h, MODEINFO* mode, uint16_t* rgb) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t c = SelectDC(mode);
  HSLKSTSetCEMLUTBypass(h, mode);
  HSLKSTXFormLUT(h, &h->aLut[c], 0, 0, kRampEntries, rgb, c);
  if (HalFailed(h->status)) return h->status;
  if (c < 2 && mode->ulBpp == kFormat10Bit && UseEmulated10Bit(h, mode)) {
    Program10BitPrimaryLUT(h, Module(c), rgb);
    return h->status;
  }
  const uint32_t base = LutBase(c);
  const uint32_t mask = c < 2 ? kLutFirstMask : kLutSecondMask;
  RegWrite(h, base, 0);
  for (uint32_t i = 0; i < kRampEntries; ++i)
    WriteTableEntry(h, base, rgb[i] & mask, rgb[kRampEntries + i] & mask,
                    rgb[2 * kRampEntries + i] & mask);
  return h->status;
}

HALSTATUS HSLKSTApplyLUT(BOARDHANDLE* h, MODEINFO* mode) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t c = SelectDC(mode);
  LUTRECORD& rec = h->aLut[c];
  const bool twin = IsTwinBoard(h);
  const bool cemPath = twin && IsCemLutPath(h, mode->flOutput);
  if (twin && UsesSpecialFormat(h, mode) && rec.ulLutKind == kLutKindRamps) {
    if (IsLinearRamp256(rec.ausLutEntry) && IsLinearRamp256(rec.ausLutEntry + kRampEntries) &&
        IsLinearRamp256(rec.ausLutEntry + 2 * kRampEntries)) {
      HSLKSTSetCEMLUTLinear(h, c);
    } else {
      // The FPGA takes one 1024-entry ramp: the green channel, widened.
      uint16_t wide[kRamp10Entries];
      RemapData_us256to1024(rec.ausLutEntry + kRampEntries, wide);
      std::memcpy(rec.ausLutEntry, wide, sizeof(wide));
      rec.ulLutKind = kLutKindSingle;
      rec.flLutState |= kLutWidened;
    }
  }
  if (rec.ulLutKind == kLutKindSingle && !cemPath) {
    if (IsLinearRamp1024(rec.ausLutEntry)) {
      HSLKSTSetPrimaryLUTLinear(h, c);
    } else {
      uint16_t narrow[kRampEntries];
      RemapData_us1024to256(rec.ausLutEntry, narrow);
      for (uint32_t ch = 0; ch < 3; ++ch)
        std::memcpy(rec.ausLutEntry + kRampEntries * ch, narrow, sizeof(narrow));
      rec.ulLutKind = kLutKindRamps;
      rec.flLutState |= kLutCompensated;
    }
  }
  const bool off = (mode->flOutput & kOutControllerOff) != 0;
  if (rec.ulLutKind == kLutKindRamps) {
    if (!off) HSLKSTSetPrimaryLUT(h, mode, rec.ausLutEntry);
  } else if (rec.ulLutKind == kLutKindSingle && !off && cemPath) {
    rec.flLutState |= kLutInCem;
    HSLKSTSetCEMLUT(h, mode, rec.ausLutEntry);
  }
  return h->status;
}

HALSTATUS HSLKSTSetColorLUT(BOARDHANDLE* h, uint32_t first, uint32_t count,
                            const PUBLICLUT* table, uint32_t controller) {
  if (HalFailed(h->status)) return h->status;
  // Nothing is copied before the controller is known to exist.
  if (controller > 3) return SetError(h, kErrLutRange);
  const uint32_t kind = table->ulKind;
  const uint32_t size = kind == kLutKindRamps ? kRampEntries : kind == kLutKindSingle ? kRamp10Entries : 0;
  if (!RangeOk(first, count, size)) return SetError(h, kErrLutRange);
  LUTRECORD& rec = h->aLut[controller];
  rec.ulLutKind = kind;
  if (first == 0 && count == size) {
    std::memcpy(rec.ausLutEntry, table->ausEntry, sizeof(rec.ausLutEntry));
  } else if (kind == kLutKindRamps) {
    for (uint32_t ch = 0; ch < 3; ++ch)
      std::memcpy(rec.ausLutEntry + kRampEntries * ch + first,
                  table->ausEntry + kRampEntries * ch + first, count * sizeof(uint16_t));
  } else {
    std::memcpy(rec.ausLutEntry + first, table->ausEntry + first, count * sizeof(uint16_t));
  }
  if (kind == kLutKindRamps)
    HSLKSTXFormLUT(h, &rec, 1, first, count, rec.ausLutEntry, controller);
  MODEINFO mode = h->aModeInfo[controller];
  return HSLKSTApplyLUT(h, &mode);
}

HALSTATUS HSLKSTSetEmulated10BitLutPerChannel(BOARDHANDLE* h, uint32_t controller,
                                              const uint16_t* ramps, uint32_t useGiven,
                                              uint32_t channel, uint32_t method,
                                              uint32_t* linear, uint16_t* out) {
  if (HalFailed(h->status)) return h->status;
  if (controller > 3 || channel > 2) return SetError(h, kErrLutRange);
  uint16_t rgb[3 * kRampEntries];
  const LUTRECORD& rec = h->aLut[controller];
  const bool usable = method == kLutEmulateHardware || method == kLutEmulateBest;
  const bool source = useGiven ? ramps != nullptr : !(rec.flLutState & (kLutPacked8 | kLutPacked10));
  if (!usable || !source) {
    *linear = 1;
    return SetError(h, kErrLutMethod);
  }
  if (useGiven)
    std::memcpy(rgb, ramps, sizeof(rgb));
  else
    RecordRamps(rec, rgb);
  const uint16_t* mine = rgb + kRampEntries * channel;
  if (IsLinearRamp256(mine)) {
    *linear = 1;
    for (uint32_t i = 0; i < kRamp10Entries; ++i) out[i] = static_cast<uint16_t>(i << 6);
    return h->status;
  }
  *linear = 0;
  if (method == kLutEmulateBest) {
    uint16_t smooth[kRampEntries];
    SmoothData_us256(mine, smooth);
    RemapData_us256to1024(smooth, out);
    return h->status;
  }
  CompensatedRamps r;
  PrepareCompensated(rgb, false, &r);
  uint8_t bytes[6];
  for (uint32_t k = 0; k < 6; ++k) bytes[k] = static_cast<uint8_t>(r.words[k] >> (8 * channel));
  EmulateHardware10Bit(r.prepared[channel], r.last[channel], r.level, bytes, out);
  return h->status;
}
