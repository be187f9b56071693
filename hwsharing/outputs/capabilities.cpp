#include "hwsharing/outputs/capabilities.h"

#include <initializer_list>

#include "core/board_description.h"
#include "core/chip_ids.h"
#include "hwsharing/chip/addon_words.h"
#include "hwsharing/chip/boardhandle.h"

namespace {

// Analog 0, analog 1, digital 0, digital 1, TV 0, TV 1.
constexpr uint32_t kGroupA = kOutDigital1 | kOutDigital0 | kOutAnalog1 | kOutTv1 | kOutAnalog0 | kOutTv0;
// Analog 2, analog 3, digital 2, digital 3, TV 2, TV 3.
constexpr uint32_t kGroupB = kOutDigital2 | kOutDigital3 | kOutTv3 | kOutTv2 | kOutAnalog3 | kOutAnalog2;
constexpr uint32_t kSetS1 = kOutDigital2 | kOutDigital0 | kOutFourth2 | kOutAnalog2;
constexpr uint32_t kSetS2 = kOutDigital1 | kOutFourth3 | kOutDigital3 | kOutAnalog3;

bool TypeIn(uint32_t type, std::initializer_list<uint32_t> types) {
  for (uint32_t t : types)
    if (t == type) return true;
  return false;
}

bool Mo(const BOARDHANDLE* h) { return MultiOutputFlag(h) != 0; }
uint32_t Type(const BOARDHANDLE* h) { return BoardType(h); }
bool McIsSp(const BOARDHANDLE* h) { return CemModuleCode(h) == kCemCodeSp; }
// The board description names the module with the serial-parallel back end.
bool Sp(const BOARDHANDLE* h) { return PinsCemCode(h) == kCemCodeSp; }

// Multi-output types 13, 14, 19 and 21, with the module code telling apart
// the expansion boards (code not 37) from the ones wired as standard.
bool MoType(const BOARDHANDLE* h, std::initializer_list<uint32_t> types) {
  return Mo(h) && TypeIn(Type(h), types);
}

}  // namespace

bool AllFourTransmitters(const BOARDHANDLE* h) {
  for (const I2CDEVICE& d : h->aSiI164)
    if (d.ulPresent == 0) return false;
  return true;
}

bool DualLinkCondition(const BOARDHANDLE* h) {
  if (!Mo(h)) return false;
  if (h->aFpga[0].ulPresent == 0 && h->aFpga[1].ulPresent == 0) return false;
  for (unsigned i = 148; i <= 151; ++i)
    if (h->oPins.aucData[i] & 0x10) return true;
  return false;
}

bool DigitalRoutedThroughCem(const BOARDHANDLE* h, uint32_t flOutput) {
  const bool twin = IsTwinBoard(h);
  const uint32_t firstDigital = twin ? kOutDigital1 : kOutDigital0;
  const uint32_t secondDigital = twin ? kOutDigital2 : kOutDigital1;
  return ((flOutput & firstDigital) && (h->ulOutputCaps & kOutputCapsDigitalRoute0)) ||
         ((flOutput & secondDigital) && (h->ulOutputCaps & kOutputCapsDigitalRoute1));
}

bool DirectOutputPath(const BOARDHANDLE* h, uint32_t flOutput) {
  return !IsLaterKestrion(h->usDeviceId) && (h->ulFeatures & kFeatureTransmitters) == 0 &&
         !DigitalRoutedThroughCem(h, flOutput);
}

bool DigitalFormatSpecialCase(const BOARDHANDLE* h, const MODEINFO& mode) {
  if (!(mode.flOutput & kOutDigital0)) return false;
  const uint32_t format = h->aulDigitalOutputFormat[0];
  return ((h->ulOutputCaps & kEnableDigital1) && format == 3) ||
         ((h->ulOutputCaps & kEnableDualLink0) && format == 18);
}

bool IsQuadBoard(const BOARDHANDLE* h) {
  return Mo(h) && TypeIn(Type(h), {2, 3, 4, 5, 8, 9, 12, 17, 18});
}

bool HSLKSTBoardWithoutCEMFpga(const BOARDHANDLE* h) { return !IsQuadBoard(h); }

bool IsQuadDviBoard(const BOARDHANDLE* h) { return IsQuadBoard(h) && AllFourTransmitters(h); }

bool IsTwinBoard(const BOARDHANDLE* h) { return Mo(h) && TypeIn(Type(h), {10, 16}); }

bool IsExpansionBoard(const BOARDHANDLE* h) {
  return MoType(h, {13, 14, 19, 21}) && !McIsSp(h);
}

bool IsStandardBoard(const BOARDHANDLE* h) {
  return !IsQuadBoard(h) && !IsTwinBoard(h) && !IsExpansionBoard(h);
}

bool IsMirroredBoardType(const BOARDHANDLE* h) { return TypeIn(Type(h), {4, 9, 20, 21}); }

uint32_t Dvo1Mask(const BOARDHANDLE* h) {
  const bool si4 = AllFourTransmitters(h);
  const bool sp = Sp(h);
  if (IsQuadBoard(h)) return TypeIn(Type(h), {4, 9}) ? kGroupB : kGroupA;
  if (IsTwinBoard(h)) return si4 ? kOutDigital1 | kOutAnalog1 : kOutDigital2 | kOutAnalog2;
  if (MoType(h, {13})) return McIsSp(h) ? kSetS1 | kOutAnalog0 : kOutDigital0 | kOutAnalog0;
  if (MoType(h, {14, 19})) {
    if (McIsSp(h)) return kSetS1;
    return kOutDigital0 | (sp ? kOutAnalog2 : 0);
  }
  if (MoType(h, {21})) {
    if (McIsSp(h)) return kSetS2;
    return kOutDigital1 | (sp ? kOutAnalog3 : 0);
  }
  // Standard boards; the mirrored types swap the two DVOs.
  return IsMirroredBoardType(h) ? kSetS2 : kSetS1;
}

uint32_t Dvo2Mask(const BOARDHANDLE* h) {
  const bool si4 = AllFourTransmitters(h);
  const bool sp = Sp(h);
  if (IsQuadBoard(h)) return TypeIn(Type(h), {4, 9}) ? kGroupA : kGroupB;
  if (IsTwinBoard(h)) return si4 ? kOutDigital2 | kOutAnalog2 : kOutDigital1 | kOutAnalog1;
  if (MoType(h, {13})) return McIsSp(h) ? kSetS2 | kOutDigital2 | kOutAnalog2 : kOutDigital2 | kOutAnalog2;
  if (MoType(h, {14, 19})) {
    if (McIsSp(h)) return kSetS2;
    return kOutDigital1 | (sp ? kOutAnalog3 : 0);
  }
  if (MoType(h, {21})) {
    if (McIsSp(h)) return kSetS1;
    return kOutDigital0 | (sp ? kOutAnalog2 : 0);
  }
  return IsMirroredBoardType(h) ? kSetS1 : kSetS2;
}

uint32_t Dac1Mask(const BOARDHANDLE* h) {
  if (IsQuadBoard(h) && !AllFourTransmitters(h)) return 0;
  if (MoType(h, {13}) && !McIsSp(h)) return 0;
  return kOutAnalog0;
}

uint32_t Dac2Mask(const BOARDHANDLE* h) {
  if (IsQuadBoard(h) || IsTwinBoard(h)) return 0;
  if (MoType(h, {13})) return McIsSp(h) ? kOutAnalog1 | kOutTv1 : 0;
  if (MoType(h, {14, 19, 21})) return McIsSp(h) ? kOutAnalog1 | kOutTv1 : kOutAnalog1;
  return kOutAnalog1 | kOutTv1;
}

uint32_t OutputPathMask(const BOARDHANDLE* h, unsigned path) {
  const bool si4 = AllFourTransmitters(h);
  const bool sp = Sp(h);
  const bool quad = IsQuadBoard(h);
  const bool twin = IsTwinBoard(h);
  const bool mc37 = McIsSp(h);
  switch (path) {
    case 0:
      if (quad) return si4 ? kOutDigital2 | kOutTv0 | kOutAnalog2
                           : kOutDigital0 | kOutAnalog0 | kOutTv0 | (sp ? kOutAnalog2 : 0);
      if (twin) return kOutDigital2 | ((si4 && !sp) ? 0 : kOutAnalog2);
      if (MoType(h, {13})) return mc37 ? kSetS1 | kOutAnalog0 : kOutDigital0 | kOutAnalog0;
      if (MoType(h, {14, 19, 21})) return mc37 ? kSetS1 : kOutDigital0 | (sp ? kOutAnalog2 : 0);
      return kSetS1;
    case 1:
      if (quad) return si4 ? kOutTv1 | kOutDigital3 | kOutAnalog3
                           : kOutDigital1 | kOutAnalog1 | kOutTv1 | (sp ? kOutAnalog3 : 0);
      if (twin) return (si4 ? kOutDigital3 : kOutDigital1 | kOutAnalog1) | (sp ? kOutAnalog3 : 0);
      if (MoType(h, {13})) return mc37 ? kSetS2 | kOutDigital2 | kOutAnalog2 : kOutDigital2 | kOutAnalog2;
      if (MoType(h, {14, 19, 21})) {
        if (mc37) return kSetS2;
        return (DualLinkCondition(h) ? 0 : kOutDigital1) | (sp ? kOutAnalog3 : 0);
      }
      return kSetS2;
    case 2:
      if (quad) return si4 ? kOutAnalog0 | kOutTv2 | kOutDigital0 : kOutDigital2 | kOutTv2 | kOutAnalog2;
      if (twin) return si4 ? kOutDigital1 : 0;
      if (MoType(h, {13, 14, 19, 21}) && !mc37 && DualLinkCondition(h)) return kOutDigital1;
      return 0;
    case 3:
      if (quad) return si4 ? kOutDigital1 | kOutAnalog1 | kOutTv3 : kOutDigital3 | kOutTv3 | kOutAnalog3;
      if (twin) return si4 ? kOutDigital0 : 0;
      return 0;
    default:
      return 0;
  }
}

bool UsesDvo1(const BOARDHANDLE* h, uint32_t flOutput) { return (flOutput & Dvo1Mask(h)) != 0; }
bool UsesDvo2(const BOARDHANDLE* h, uint32_t flOutput) { return (flOutput & Dvo2Mask(h)) != 0; }
bool UsesDac1(const BOARDHANDLE* h, uint32_t flOutput) { return (flOutput & Dac1Mask(h)) != 0; }
bool UsesDac2(const BOARDHANDLE* h, uint32_t flOutput) { return (flOutput & Dac2Mask(h)) != 0; }
bool UsesFirstOutputPath(const BOARDHANDLE* h, uint32_t flOutput) {
  return (flOutput & OutputPathMask(h, 0)) != 0;
}
bool UsesSecondOutputPath(const BOARDHANDLE* h, uint32_t flOutput) {
  return (flOutput & OutputPathMask(h, 1)) != 0;
}
bool UsesThirdOutputPath(const BOARDHANDLE* h, uint32_t flOutput) {
  return (flOutput & OutputPathMask(h, 2)) != 0;
}
bool UsesFourthOutputPath(const BOARDHANDLE* h, uint32_t flOutput) {
  return (flOutput & OutputPathMask(h, 3)) != 0;
}

bool NeedsCem(const BOARDHANDLE* h, uint32_t flOutput) {
  const bool twin = IsTwinBoard(h);
  const uint32_t firstDigital = twin ? kOutDigital1 : kOutDigital0;
  const uint32_t secondDigital = twin ? kOutDigital2 : kOutDigital1;
  const bool first = (flOutput & firstDigital) != 0;
  const bool second = (flOutput & secondDigital) != 0;

  if (DigitalRoutedThroughCem(h, flOutput)) return true;
  if (IsQuadBoard(h)) return true;

  auto needsModule = [](uint32_t format) {
    return format == kDigitalFormatCemA || format == kDigitalFormatCemB;
  };
  if (first && needsModule(h->aulDigitalOutputFormat[twin ? 1 : 0])) return true;
  if (second && needsModule(h->aulDigitalOutputFormat[twin ? 2 : 1])) return true;
  if (twin || IsExpansionBoard(h)) return true;

  if (Sp(h)) return true;
  return Type(h) == 15 && h->oCpld.ulPresent != 0;
}

bool FirstArrangementConnectors(const BOARDHANDLE* h) {
  const uint8_t* c = h->oPins.aucData + kPinsConnectorCodes;  // codes, then description bytes
  return (c[0] == 2 || c[0] == 9) && (c[4] & 0x10) && !((c[5] | c[6] | c[7]) & 0xDA) &&
         !((c[1] | c[2] | c[3]) & 0x0A);
}

bool UsesFirstOutputArrangement(const BOARDHANDLE* h) {
  if (IsEarlyKestrion(h->usDeviceId)) return true;
  if (h->usDeviceId == kDeviceKestrionNext1 && h->ulRevision == 1) return true;
  if (Type(h) == 4) return true;
  return FirstArrangementConnectors(h);
}

uint32_t OutputArrangementValue(const BOARDHANDLE* h) {
  constexpr uint32_t kFirstArrangement = 0x40;
  return UsesFirstOutputArrangement(h) ? kFirstArrangement : 0;
}
