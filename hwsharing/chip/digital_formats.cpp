#include "hwsharing/chip/digital_formats.h"

#include <cstddef>
#include <initializer_list>

#include "core/board_description.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

constexpr uint32_t kFormatNone = 0xFFFFFFFF;

// Board-description bytes of the expansion module: its default control byte
// and its code.

bool All(uint32_t word, uint32_t bits) { return (word & bits) == bits; }

// The expansion module's code and control byte allow a format: the module
// codes and the control-byte test each accepts.
struct ModuleRule {
  uint32_t code;
  enum Test : uint8_t { kAbove, kBit7 } test;
  uint32_t limit;
};
bool Allowed(uint32_t mc, uint32_t r, std::initializer_list<ModuleRule> rules) {
  for (const ModuleRule& rule : rules) {
    if (mc != rule.code) continue;
    if (rule.test == ModuleRule::kBit7 ? (r & 0x80) != 0 : r > rule.limit) return true;
  }
  return false;
}

bool Supported(const BOARDHANDLE* h, uint32_t format, uint32_t output) {
  const uint32_t f = h->ulFeatures;
  const uint32_t e = h->ulOutputCaps;
  const uint32_t mc = PinsCemCode(h);
  const uint32_t r = h->oPins.aucData[kPinsCemControlByte];
  const bool twin = IsTwinBoard(h);
  const uint32_t first = twin ? 1 : 0, second = twin ? 2 : 1;
  const bool routed = (output == first && (e & kOutputCapsDigitalRoute0)) ||
                      (output == second && (e & kOutputCapsDigitalRoute1));
  using R = ModuleRule;
  switch (format) {
    case kFormatNone:
    case 1:
      return true;
    case 2:
      return output == 0 && All(f, kFeatureTransmitters) && All(e, kEnableDigital0 | kEnableDualLink0);
    case 3:
      return output == 0 && All(e, kEnableDigital0 | kEnableDigital1);
    case 18:
      return output == 0 && All(e, kEnableDigital0 | kEnableDualLink0);
    case 4:
    case 7:
    case 10:
      return routed;
    case 5:
    case 8:
      return routed && Allowed(mc, r, {{2, R::kAbove, 2}, {3, R::kAbove, 1}, {4, R::kAbove, 1}, {25, R::kBit7, 0}});
    case 6:
    case 9:
    case 15:
      return routed && Allowed(mc, r, {{4, R::kAbove, 1}, {25, R::kBit7, 0}});
    case 13:
      return routed && Allowed(mc, r, {{4, R::kAbove, 0}, {25, R::kBit7, 0}});
    case 16:
    case 17:
      return mc == 5 && r != 0;
    case 19:
    case 20:
      return routed && Allowed(mc, r, {{4, R::kAbove, 3}, {25, R::kBit7, 0}});
    case 21:
      return routed && mc == 25 && r > 0x80;
    case 22:
    case 23:
      return routed && mc == 4 && r > 4;
    case 24:
      return routed && Allowed(mc, r, {{6, R::kAbove, 0}, {25, R::kBit7, 0}});
    case 25:
      return routed && mc == 4 && r > 6;
    case 26:
      return routed && mc == 6 && r > 1;
    default:
      return false;
  }
}

// The class of formats that may join `first` in a group; 0 when `first`
// cannot lead a group, kFormatNone when only "none" may join it.
uint32_t ClassOf(uint32_t first) {
  constexpr struct {
    uint32_t a, b;
  } kPairs[] = {{4, 7}, {5, 8}, {6, 9}, {10, 13}, {12, 15}, {16, 17}, {19, 20}};
  for (const auto& p : kPairs)
    if (first == p.a || first == p.b) return p.a;
  if (first == 2 || first == 3 || first == 18) return kFormatNone;
  if (first == 1 || (first >= 22 && first <= 26)) return first;
  return 0;
}

bool InClass(uint32_t format, uint32_t cls) {
  if (cls == kFormatNone) return format == kFormatNone;
  return ClassOf(format) == cls;
}

}  // namespace

HALSTATUS HSLKSTIsDigitalFormatSupported(BOARDHANDLE* h, uint32_t format, uint32_t output) {
  if (HalFailed(h->status)) return h->status;
  if (!Supported(h, format, output)) SetError(h, kErrFormatNotSupported);
  return h->status;
}

HALSTATUS HSLKSTIsValidFormatCombination(BOARDHANDLE* h, const uint32_t* formats, uint32_t count,
                                         uint32_t group) {
  if (HalFailed(h->status)) return h->status;
  if (count > 4 || group <= 1 || count < group) return h->status;
  const uint32_t cls = ClassOf(formats[0]);
  bool ok = cls != 0;
  for (uint32_t i = 1; ok && i < group; ++i) ok = InClass(formats[i], cls);
  for (uint32_t i = group; ok && i < count; ++i) ok = formats[i] == kFormatNone;
  if (!ok) SetError(h, kErrFormatCombination);
  return h->status;
}
