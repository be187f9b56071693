#include "hwsharing/outputs/priority.h"

#include "core/client_services.h"
#include "core/regs/display.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"
#include "hwsharing/encoders/cem_fpga.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

constexpr uint32_t kMaxLevel = 7;
// d = 70,000 / q with q = 100 x the largest rate / this rate: the level is
// d / 100, rounded up above a half.
constexpr uint32_t kLevelScale = 70000;
constexpr uint32_t kSecondStreamStart = 0x19AC, kSecondStreamEnd = 0x19B0;
constexpr uint32_t kSmallSpanBlocks = 63;
constexpr uint32_t kResetWaitUnits = 20000;
constexpr uint32_t kBandwidthBit = 1u << 18;
using SurfaceFormat = PitchFormat;  // bits 24-29 of 0x1834 / 0x19D8

}  // namespace

HALSTATUS HSLKSTSetPriorityLevels(BOARDHANDLE* h, uint32_t mask, const uint32_t* levels,
                                  const uint32_t* secondLevels) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t regs[2] = {kRegPriority0, kRegPriority1};
  const uint32_t primaryBit[2] = {kPriorityPrimary0, kPriorityPrimary1};
  const uint32_t secondBit[2] = {kPrioritySecond0, kPrioritySecond1};
  for (uint32_t c = 0; c < 2; ++c) {
    if (!(mask & (primaryBit[c] | secondBit[c]))) continue;
    uint32_t v = RegRead(h, regs[c]);
    if (mask & primaryBit[c]) v = PriorityPrimary::Set(v, levels[c]);
    if (mask & secondBit[c]) v = PrioritySecond::Set(v, secondLevels[c]);
    RegWrite(h, regs[c], v);
  }
  return h->status;
}

HALSTATUS HSLKSTComputeBitRate(BOARDHANDLE* h, uint32_t pixelClock, uint32_t format, uint32_t* rate) {
  if (HalFailed(h->status)) return h->status;
  uint32_t bits = 32;
  if (format == 16)
    bits = 8;
  else if (format == 38 || format == 39 || format == 40 || format == 46)
    bits = 16;
  *rate = pixelClock * bits;
  return h->status;
}

HALSTATUS HSLKSTGetCurrentBitRates(BOARDHANDLE* h, uint32_t* rates, uint32_t* secondRates) {
  if (HalFailed(h->status)) return h->status;
  for (uint32_t c = 0; c < 2; ++c) {
    rates[c] = secondRates[c] = 0;
    const MODEINFO& r = h->aModeInfo[c];
    if (RecordOff(r)) continue;
    uint32_t clock = r.ulPixClock;
    if (IsQuadBoard(h)) HSLKSTGetCrtcPixelClk(h, &clock, c);
    const uint32_t at = kControllerStride * c;
    HSLKSTComputeBitRate(h, clock, SurfaceFormat::Get(RegRead(h, kRegPitch + at)), &rates[c]);
    if (RegRead(h, kRegController2Ctl + at) & kController2On)
      HSLKSTComputeBitRate(h, r.ulPixClock, SurfaceFormat::Get(RegRead(h, kRegSecondPitch + at)),
                           &secondRates[c]);
  }
  return h->status;
}

HALSTATUS HSLKSTGetPriorityLevels(BOARDHANDLE* h, const uint32_t* rates, const uint32_t* secondRates,
                                  uint32_t* levels, uint32_t* secondLevels) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t all[4] = {rates[0], rates[1], secondRates[0], secondRates[1]};
  uint32_t* out[4] = {&levels[0], &levels[1], &secondLevels[0], &secondLevels[1]};
  uint32_t largest = 0;
  for (uint32_t r : all) largest = r > largest ? r : largest;
  for (size_t i = 0; i < 4; ++i) {
    *out[i] = 1;
    if (all[i] == 0) continue;
    // Computed in 64 bits: a hundred times the largest rate passes 32 bits
    // above about 1.3 GHz of pixel clock x 32 bits.
    const uint64_t q = uint64_t{largest} * 100 / all[i];
    const uint64_t d = kLevelScale / q;
    uint32_t level = static_cast<uint32_t>(d / 100);
    if (level == 0) level = 1;
    if (d % 100 > 50 && level < kMaxLevel) ++level;
    *out[i] = level;
  }
  return h->status;
}

HALSTATUS HSLKSTApplyEar63(BOARDHANDLE* h, uint32_t* secondLevels) {
  if (HalFailed(h->status)) return h->status;
  const bool both = (RegRead(h, kRegController2Ctl) & kController2On) &&
                    (RegRead(h, kRegController2Ctl + kControllerStride) & kController2On);
  if (!both || secondLevels[0] == 0 || secondLevels[1] == 0) return h->status;
  for (uint32_t c = 0; c < 2; ++c) {
    const uint32_t at = kControllerStride * c;
    const uint32_t start = (RegRead(h, kSecondStreamStart + at) >> 2) & 0x3FFFFFF;
    const uint32_t end = (RegRead(h, kSecondStreamEnd + at) >> 2) & 0x3FFFFFF;
    const int32_t span = static_cast<int32_t>(end - start);
    const uint32_t blocks = static_cast<uint32_t>((span >> 14) + 1);
    if (blocks <= kSmallSpanBlocks) secondLevels[c] = 1;
  }
  return h->status;
}

HALSTATUS HSLKSTResetBandwidthState(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  ClientWait(h, kResetWaitUnits);
  const uint32_t regs[4] = {kRegControllerCtl, kRegControllerCtl + kControllerStride,
                            kRegController2Ctl, kRegController2Ctl + kControllerStride};
  uint32_t v[4];
  for (size_t i = 0; i < 4; ++i) v[i] = RegRead(h, regs[i]);
  for (size_t i = 0; i < 4; ++i) RegWrite(h, regs[i], v[i] & ~kBandwidthBit);
  return h->status;
}

HALSTATUS HSLKSTUpdatePriorityLevels(BOARDHANDLE* h) {
  if (HalFailed(h->status)) return h->status;
  uint32_t rates[2], secondRates[2], levels[2], secondLevels[2];
  HSLKSTGetCurrentBitRates(h, rates, secondRates);
  HSLKSTGetPriorityLevels(h, rates, secondRates, levels, secondLevels);
  HSLKSTApplyEar63(h, secondLevels);
  HSLKSTSetPriorityLevels(h, kPriorityPrimary0 | kPriorityPrimary1 | kPrioritySecond0 | kPrioritySecond1,
                          levels, secondLevels);
  return HSLKSTResetBandwidthState(h);
}
