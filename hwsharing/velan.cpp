#include "hwsharing/velan.h"

#include <cstring>

namespace {

constexpr uint32_t kVlnRefKHz = 27000;
constexpr uint32_t kVlnMaxM = 13;
constexpr uint32_t kVlnMaxN = 126;
constexpr uint32_t kVlnFirstP = 7;
constexpr uint64_t kVlnMaxPClock = 220000000;
// VCO ranges: below 100 MHz, below 140 MHz, up to 179.999 MHz, above.
constexpr uint32_t kVlnRangeLimitKHz[] = {100000, 140000, 180000};
constexpr uint32_t kVlnGammaBit7MaxLevel = 9;

}  // namespace

VLNPLL VlnComputePll(uint32_t clockKHz) {
  // The post divider starts one step below 7; the reduction below only
  // fires for clocks above 55 GHz, so kHz clocks always try P = 3, then 1.
  uint32_t p = (kVlnFirstP - 1) / 2;
  while (p > 0 && static_cast<uint64_t>(p + 1) * clockKHz > kVlnMaxPClock) p = (p - 1) / 2;
  VLNPLL best{0, 0, 0, 0};
  uint32_t bestDiff = UINT32_MAX;
  for (; p > 0; p = (p - 1) / 2) {
    for (uint32_t m = 1; m <= kVlnMaxM; ++m) {
      for (uint32_t n = 1; n <= kVlnMaxN; ++n) {
        const uint32_t f = kVlnRefKHz * (n + 1) / ((p + 1) * (m + 1));
        const uint32_t diff = f > clockKHz ? f - clockKHz : clockKHz - f;
        if (diff < bestDiff) {
          bestDiff = diff;
          best = VLNPLL{m, n, p, 0};
        }
      }
    }
  }
  const uint32_t vco = kVlnRefKHz * (best.n + 1) / (best.m + 1);
  best.range = 0;
  while (best.range < 3 && vco >= kVlnRangeLimitKHz[best.range]) ++best.range;
  return best;
}

void VlnPackGamma(uint32_t level, const VLNGAMMA& gamma, uint8_t (&regs)[kVlnGammaRegisters]) {
  const uint32_t* g = gamma.aulG;
  auto byte = [](uint32_t v) { return static_cast<uint8_t>(v); };
  regs[0] = byte((g[6] & 0x7F) | (level <= kVlnGammaBit7MaxLevel ? 0x80 : 0));
  regs[1] = byte(g[10]);
  regs[2] = byte(g[13]);
  regs[3] = byte((g[2] & 0xF) | (g[0] << 4));
  regs[4] = byte((g[4] & 7) | ((g[1] & 4) << 3) | (g[3] << 4));
  regs[5] = byte((g[8] & 7) | ((g[1] & 2) << 3) | (g[7] << 4));
  regs[6] = byte((g[12] & 7) | ((g[1] & 1) << 3) | (g[11] << 4));
  regs[7] = byte(g[5]);
  regs[8] = byte(g[9]);
}

int32_t VlnAdjustWord(const MODEINFO* mode, unsigned word) {
  int32_t v = 0;
  std::memcpy(&v, mode->acTvAdjust[word & 3], sizeof(v));
  return v;
}

void SetVlnAdjustWord(MODEINFO* mode, unsigned word, int32_t value) {
  std::memcpy(mode->acTvAdjust[word & 3], &value, sizeof(value));
}

bool VlnNoAdjustment(const MODEINFO* mode) {
  for (unsigned i = 0; i < 4; ++i)
    if (VlnAdjustWord(mode, i) != -1) return false;
  return true;
}
