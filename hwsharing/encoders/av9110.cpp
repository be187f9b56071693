#include "hwsharing/encoders/av9110.h"

namespace {

constexpr uint32_t kAv9110MinVcoKHz = 125000;
constexpr uint32_t kAv9110MinM = 3;
constexpr uint32_t kAv9110MaxM = 36;
constexpr uint32_t kAv9110MinN = 3;
// N sits in seven bits of the word.
constexpr uint32_t kAv9110MaxN = 0x7F;
constexpr uint32_t kPrescalers[] = {1, 8};
constexpr uint32_t kAv9110WordBase = 0x8000;
constexpr uint32_t kAv9110WordFixed = 0xB80000;
constexpr uint32_t kAv9110DoublingShift = 17;

}  // namespace

bool Av9110ComputePll(uint32_t clockKHz, AV9110PLL* out) {
  if (clockKHz == 0) return false;
  uint64_t clock = clockKHz;
  uint32_t doublings = 0;
  while (clock <= kAv9110MinVcoKHz) {
    clock *= 2;
    ++doublings;
  }
  bool found = false;
  uint64_t bestDiff = 0;
  AV9110PLL best{};
  for (uint32_t m : kPrescalers) {
    for (uint32_t M = kAv9110MinM; M <= kAv9110MaxM; ++M) {
      const uint64_t n = clock * M / (static_cast<uint64_t>(m) * kAv9110RefKHz);
      if (n < kAv9110MinN || n > kAv9110MaxN) continue;
      const uint64_t f = n * kAv9110RefKHz * m / M;
      const uint64_t diff = f > clock ? f - clock : clock - f;
      if (!found || diff < bestDiff) {
        found = true;
        bestDiff = diff;
        best = AV9110PLL{static_cast<uint32_t>(n), M, m, doublings, 0};
      }
    }
  }
  if (!found) return false;
  uint32_t word;
  if (best.prescaler == 8)
    word = ((((best.m >> 1) | 0x40) << 8) | (((best.m << 7) | best.n) & 0xFF));
  else
    word = (best.m << 7) | best.n;
  best.word = (word + kAv9110WordBase) | (doublings << kAv9110DoublingShift) | kAv9110WordFixed;
  *out = best;
  return true;
}
