#include "hwsharing/chip/lut_ramp.h"

#include <algorithm>

const uint8_t ucCompBits[32] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4,
                                4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 7};

namespace {

constexpr uint32_t kTenBitMax = 1023;
constexpr uint32_t kRoundTop = 0xFFE0;  // from here a value rounds to kRamp10Top

// Compensation byte of a word: 16-bit units to 10-bit, capped at a byte.
uint32_t CompByte(int64_t x) {
  if (x <= 0) return 0;
  return std::min<uint32_t>(static_cast<uint32_t>((x + 32) >> 6), 255);
}

}  // namespace

bool IsLinearRamp256(const uint16_t* in) {
  for (uint32_t i = 0; i < kRampEntries; ++i)
    if (in[i] != i * 257) return false;
  return true;
}

bool IsLinearRamp1024(const uint16_t* in) {
  for (uint32_t i = 0; i < kRamp10Entries; ++i)
    if (in[i] < 64 * i || in[i] > 64 * i + 63) return false;
  return true;
}

void RemapData_us256to1024(const uint16_t* in, uint16_t* out) {
  if (IsLinearRamp256(in)) {
    for (uint32_t i = 0; i < kRamp10Entries; ++i) out[i] = static_cast<uint16_t>(i << 6);
    return;
  }
  // Output j lies at 255 j / 1023 = k + e / 1023 of the input.
  uint32_t k = 0;
  int32_t e = 0;
  int32_t d = int32_t{in[1]} - in[0];
  for (uint32_t j = 0; j + 1 < kRamp10Entries; ++j) {
    out[j] = static_cast<uint16_t>(int32_t{in[k]} + (d * e + 511) / 1023);
    e += 255;
    if (e >= 1023) {
      e -= 1023;
      ++k;
      // The step past the last output would read beyond the ramp.
      d = k + 1 < kRampEntries ? int32_t{in[k + 1]} - in[k] : 0;
    }
  }
  out[kRamp10Entries - 1] = in[kRampEntries - 1];
}

void RemapData_us1024to256(const uint16_t* in, uint16_t* out) {
  if (IsLinearRamp1024(in)) {
    for (uint32_t i = 0; i < kRampEntries; ++i) out[i] = static_cast<uint16_t>(i * 257);
    return;
  }
  for (uint32_t j = 0; j + 1 < kRampEntries; ++j) {
    const uint32_t k = j * 1023 / 255;
    const int32_t span = static_cast<int32_t>(j * 1023 - 255 * k);
    out[j] = static_cast<uint16_t>(int32_t{in[k]} + (span * (int32_t{in[k + 1]} - in[k]) + 128) / 255);
  }
  out[kRampEntries - 1] = in[kRamp10Entries - 1];
}

void SmoothData_us256(const uint16_t* in, uint16_t* out) {
  std::copy(in, in + kRampEntries, out);
  uint32_t s = 0;
  while (s < kRampEntries - 1) {
    uint32_t n = 1;
    while (s + n < kRampEntries - 1 && in[s + n] == in[s]) ++n;
    // The run covers s .. s + n - 1 inside 0..254; the next entry differs
    // unless the run meets entry 255 with the same value.
    const uint32_t next = s + n;
    if (n > 1 && in[next] != in[s]) {
      const int32_t a = in[s], c = in[next];
      const int32_t total = c - a;
      const int32_t step = total / static_cast<int32_t>(n);
      const int32_t rest = total % static_cast<int32_t>(n);
      const int32_t unit = rest < 0 ? -1 : 1;
      const int32_t spread = rest < 0 ? -rest : rest;
      int32_t value = a, sum = 0;
      for (uint32_t i = 1; i < n; ++i) {
        value += step;
        sum += spread;
        if (sum >= static_cast<int32_t>(n)) {
          sum -= static_cast<int32_t>(n);
          value += unit;
        }
        out[s + i] = static_cast<uint16_t>(value);
      }
    }
    s = next;
  }
}

void RemapData_us256(uint16_t* ramp) {
  // Top down: every step reads two entries not yet rewritten.
  for (uint32_t i = kRampEntries - 1; i >= 1; --i)
    ramp[i] = static_cast<uint16_t>((3 * i * ramp[i - 1] + (1023 - 3 * i) * ramp[i] + 511) / 1023);
}

void NormalizeData_us256(const uint16_t* in, uint16_t* out) {
  const uint32_t top = *std::max_element(in, in + kRampEntries);
  for (uint32_t i = 0; i < kRampEntries; ++i)
    out[i] = top >= kNormaliseFrom ? static_cast<uint16_t>(uint64_t{in[i]} * kRamp10Top / top) : in[i];
}

uint32_t Round10(uint32_t x) { return x >= kRoundTop ? kRamp10Top : (x + 32) & kRamp10Top; }

uint32_t Compute10BitLutEntry_us256(uint32_t a, uint32_t b) {
  const uint32_t ra = Round10(a);
  const int32_t step = (static_cast<int32_t>(Round10(b)) - static_cast<int32_t>(ra)) / 64;
  uint32_t comp = step < 0 ? 0 : ucCompBits[std::min(step, 31)];
  while (comp > 0 && (ra >> 6) + 3 * comp > kTenBitMax) --comp;
  return ra | (comp << kCompShift);
}

uint32_t Compute10BitLastLutEntry_us256(uint32_t a, uint32_t b) {
  const uint32_t ra = Round10(a);
  const int32_t diff = static_cast<int32_t>(Round10(b)) - static_cast<int32_t>(ra);
  uint32_t comp = diff <= 0 ? 0 : std::min<uint32_t>(static_cast<uint32_t>(diff) / 192, kCompMax);
  const uint32_t reach = (ra >> 6) + 3 * comp;
  if (reach > kTenBitMax) comp -= std::min(comp, (reach - kTenBitMax + 2) / 3);
  return ra | (comp << kCompShift);
}

uint32_t GetLutGammaLevel(const uint16_t* const channels[3]) {
  uint32_t bits = 0;
  for (uint32_t c = 0; c < 3; ++c) {
    const uint16_t* e = channels[c];
    const int32_t s0 = std::max(0, int32_t{e[1]} - e[0]);
    const int32_t s1 = std::max(0, int32_t{e[255]} - e[254]);
    if (s0 < s1) bits |= 1u << c;
    if (std::max(s0, s1) > static_cast<int32_t>(kSteepSlope)) bits |= 8u << c;
  }
  if ((bits & 0x38) == 0) return 1;
  for (uint32_t c : {1u, 0u, 2u}) {  // green decides first, then red, then blue
    if (bits & (8u << c)) return (bits & (1u << c)) ? 0 : 1;
  }
  return 1;
}

void GetLutCompRegisters(const uint16_t* const channels[3], uint32_t level,
                         const uint16_t last[3], uint32_t words[6]) {
  for (uint32_t k = 0; k < 6; ++k) words[k] = 0;
  for (uint32_t c = 0; c < 3; ++c) {
    const uint16_t* e = channels[c];
    uint32_t b[6];
    const uint32_t lo = level == 1 ? 0 : 254;
    const int32_t q = std::max(0, static_cast<int32_t>(Round10(e[lo + 1])) -
                                      static_cast<int32_t>(Round10(e[lo]))) / 4;
    b[0] = CompByte(q);
    b[1] = CompByte(2 * int64_t{q});
    b[2] = CompByte(3 * int64_t{q});
    if (level == 1) {
      const int32_t r =
          std::max(0, static_cast<int32_t>(Round10(e[2])) - static_cast<int32_t>(Round10(e[1]))) / 4;
      b[3] = CompByte(r);
      b[4] = CompByte(2 * int64_t{r});
      b[5] = CompByte(3 * int64_t{r});
    } else {
      const uint32_t top = Round10(e[255]) >> 6;
      const int32_t r = std::max(0, int32_t{last[c]} - static_cast<int32_t>(Round10(e[255]))) / 3;
      b[3] = CompByte(r);
      b[4] = CompByte(2 * int64_t{r});
      b[5] = CompByte(3 * int64_t{r});
      if (top + b[5] > kTenBitMax) b[5] = kTenBitMax - top;
    }
    for (uint32_t k = 0; k < 6; ++k) words[k] |= b[k] << (8 * c);
  }
}

void EmulateHardware10Bit(const uint16_t* prepared, uint32_t entry255, uint32_t level,
                          const uint8_t bytes[6], uint16_t* out) {
  for (uint32_t i = 0; i < kRampEntries; ++i) {
    const uint32_t entry = i + 1 < kRampEntries
                               ? Compute10BitLutEntry_us256(prepared[i], prepared[i + 1])
                               : Compute10BitLastLutEntry_us256(prepared[i], entry255);
    const uint32_t v = (entry & kRamp10Top) >> 6;
    const uint32_t c = entry >> kCompShift;
    for (uint32_t k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint16_t>((v + k * c) << 6);
  }
  const uint32_t groups[2] = {level == 1 ? 0u : 1016u, level == 1 ? 4u : 1020u};
  for (uint32_t g = 0; g < 2; ++g) {
    const uint32_t first = out[groups[g]];
    for (uint32_t k = 1; k < 4; ++k)
      out[groups[g] + k] =
          static_cast<uint16_t>(std::min<uint32_t>(first + 64u * bytes[3 * g + k - 1], kRamp10Top));
  }
}
