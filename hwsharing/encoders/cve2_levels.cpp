#include "hwsharing/encoders/cve2_levels.h"

namespace {
constexpr uint32_t kTrimNone = 127;
constexpr uint32_t kTrimMax = 255;
constexpr uint32_t kTrimAboveMaxStep = 128;
}  // namespace

uint32_t Cve2AdjustLevel(uint32_t level, uint32_t trim, uint32_t minimum, uint32_t maximum) {
  if (trim == kTrimNone) return level;
  uint32_t v = trim <= kTrimMax ? level + trim - kTrimNone : level + kTrimAboveMaxStep;
  if (v > maximum) v = maximum;
  if (v < minimum) v = minimum;
  return v;
}

bool Cve2ComputeLevels(const CVE2LUMA& luma, uint32_t b, uint32_t bMax, uint32_t k,
                       uint32_t kMax, uint32_t blackTrim, uint32_t whiteTrim, CVE2LEVELS* out) {
  if (bMax == 0 || kMax == 0) return false;
  const int64_t l0 = luma.aulL[0], l1 = luma.aulL[1], l2 = luma.aulL[2], l3 = luma.aulL[3];
  const int64_t l4 = luma.aulL[4];
  const int64_t span = l1 - l0;
  const int64_t mid = l0 + (span - l2 - l3) * static_cast<int64_t>(b) / bMax;
  const int64_t half = ((span >> 1) - l3) * static_cast<int64_t>(k) / kMax + l3;
  // Signed: a wide swing around a low mid point clamps at the lowest black
  // instead of wrapping round to a bright one.
  int64_t white = mid + half;
  int64_t black = mid - half;
  if (white > l1) white = l1;
  if (black < l0) black = l0;
  black += l4;
  white += l4;
  const uint32_t blank = static_cast<uint32_t>(l0 + l4);
  const uint32_t adjustedBlack =
      Cve2AdjustLevel(static_cast<uint32_t>(black), blackTrim, blank, static_cast<uint32_t>(white));
  const uint32_t adjustedWhite = Cve2AdjustLevel(static_cast<uint32_t>(white), whiteTrim,
                                                 adjustedBlack, luma.aulL[5]);
  *out = CVE2LEVELS{blank, adjustedBlack, adjustedWhite};
  return true;
}
