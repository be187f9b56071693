#include "hwsharing/encoders/fpga_modes.h"

namespace {

//                                    mode  a  g   l  b  c  e   f   h  pairing
constexpr FPGAMODEPARAMS kFpgaModes[] = {
    {kFpgaModePassThrough, 1, 1, 1, 1, 1, 2, 2, 1, false},
    {kFpgaModeSplit32, 2, 3, 2, 3, 4, 3, 3, 2, true},
    {kFpgaModeSplit, 2, 2, 1, 2, 1, 2, 2, 1, true},
    {kFpgaModeSplit74, 2, 7, 4, 3, 8, 4, 7, 3, true},
    {kFpgaModeSplit158, 2, 15, 8, 3, 8, 15, 15, 8, true},
};

// Limits of the FPGAs' timing.
constexpr uint32_t kFpgaMaxInputClockKHz = 204000;
constexpr uint32_t kFpgaMaxOutputClockKHz = 350000;
constexpr uint32_t kFpgaBaseClockLimitKHz = 255000;
constexpr uint32_t kFpgaClockLimitStepKHz = 1000;
constexpr uint32_t kFpgaMaxLineLength = 1024;
constexpr uint32_t kFpgaMaxTotal = 4095;

constexpr uint32_t kSignalPositiveHSync = 0x4;
constexpr uint32_t kSignalPositiveVSync = 0x8;

// Register-11 code and the output ratio A/B of the enable program.
struct ProgramMode {
  uint32_t mode, code, num, den;
};
constexpr ProgramMode kProgramModes[] = {
    {kFpgaModePassThrough, 0x21, 1, 1}, {kFpgaModeSplit32, 0x00, 2, 3},
    {kFpgaModeSplit, 0x10, 1, 2},       {kFpgaModeSplit74, 0x60, 4, 7},
    {kFpgaModeSplit158, 0xC0, 8, 15},
};

// Program of a mode without a split or pass-through set-up.
constexpr uint8_t kFixedProgram[][2] = {
    {30, 0x00}, {8, 0x04}, {9, 0x40}, {10, 0x40}, {11, 0x21}, {30, 0x01}};

// The digital output format's code for register 1; format 21 also sets
// register 6's 0x80.
struct FormatCode {
  uint32_t format;
  uint8_t y;
};
constexpr FormatCode kFormatCodes[] = {
    {4, 1},   {7, 1},   {5, 2},   {8, 2},  {6, 3},  {9, 3},  {10, 17}, {13, 17},
    {15, 19}, {16, 35}, {17, 99}, {19, 4}, {20, 4}, {21, 0x80}, {24, 5},
};
constexpr uint32_t kFormatParallel = 21;

class ProgramWriter {
 public:
  explicit ProgramWriter(FPGAPROGRAM* p) : p_(p) { p_->ucCount = 0; }
  void Pair(uint8_t reg, uint32_t value) {
    if (p_->ucCount >= kFpgaProgramMaxPairs) return;  // a program holds 32 pairs at most
    p_->aucPair[p_->ucCount][0] = reg;
    p_->aucPair[p_->ucCount][1] = static_cast<uint8_t>(value);
    ++p_->ucCount;
  }

 private:
  FPGAPROGRAM* p_;
};

}  // namespace

const FPGAMODEPARAMS* FpgaModeParams(uint32_t mode) {
  for (const FPGAMODEPARAMS& p : kFpgaModes)
    if (p.ucMode == mode) return &p;
  return nullptr;
}

bool FpgaTiming(uint32_t mode, const MODEINFO& q, uint32_t shift, uint32_t clockLimitByte,
                MODEINFO* out) {
  *out = q;
  const FPGAMODEPARAMS* p = FpgaModeParams(mode);
  if (p == nullptr) return true;
  const uint32_t total = q.ulDispWidth + q.ulHFPorch + q.ulHSync + q.ulHBPorch;
  out->ulHFPorch = 0;
  out->ulHBPorch = 2;
  out->ulDeskWidth = p->a * q.ulDeskWidth;
  const uint32_t u = p->g * total / p->l;
  uint32_t t = p->a * q.ulDispWidth;
  uint32_t v = u - t - 2;
  if (mode == kFpgaModeSplit32 || mode == kFpgaModeSplit74 || mode == kFpgaModeSplit158) {
    out->ulVFPorch = q.ulVFPorch - 1;
    out->ulVBPorch = q.ulVBPorch + 1;
  }
  const uint32_t w = p->g * q.ulPixClock / p->l;
  out->ulPixClock = w;
  out->flSignalMode = (q.flSignalMode & ~kSignalPositiveHSync) | kSignalPositiveVSync;

  bool shiftRefused = false;
  const uint32_t magnitude = shift & kFpgaShiftMagnitude;
  if (magnitude != 0 || (shift & kFpgaShiftNegative)) {
    if (shift & kFpgaShiftNegative) {
      if (v < magnitude) shiftRefused = true;
      else { t += magnitude; v -= magnitude; }
    } else {
      if (t < magnitude) shiftRefused = true;
      else { t -= magnitude; v += magnitude; }
    }
  }
  out->ulDispWidth = t;
  out->ulHSync = v;

  const uint32_t z = p->e * 30 / p->h + 19;
  const uint32_t pairing = p->pairing ? 1 : 0;
  bool ok = total % p->c == 0;
  ok = ok && (q.ulDispWidth - z) / 2 * pairing / p->b + z < kFpgaMaxLineLength;
  ok = ok && p->f * total / p->l - 4 >= 2 * q.ulDispWidth;
  ok = ok && q.ulPixClock <= kFpgaMaxInputClockKHz;
  ok = ok && q.ulVFPorch != 0;
  ok = ok && w <= kFpgaMaxOutputClockKHz;
  ok = ok && (u & 1) == 0;
  ok = ok && w <= kFpgaBaseClockLimitKHz + kFpgaClockLimitStepKHz * clockLimitByte;
  ok = ok && !shiftRefused;
  ok = ok && u <= kFpgaMaxTotal;
  // A record too short for its own width would wrap the sync width.
  ok = ok && u >= p->a * q.ulDispWidth + 2;
  return ok;
}

void BuildFpgaDisableProgram(FPGAPROGRAM* program) {
  ProgramWriter out(program);
  out.Pair(kFpgaRegControl, 0);
}

void BuildFpgaEnableProgram(const FPGAPROGRAMINPUT& in, FPGAPROGRAM* program) {
  ProgramWriter out(program);
  const ProgramMode* pm = nullptr;
  for (const ProgramMode& m : kProgramModes)
    if (m.mode == in.fpgaMode) pm = &m;
  if (pm == nullptr) {
    for (const auto& pair : kFixedProgram) out.Pair(pair[0], pair[1]);
    return;
  }
  const MODEINFO& a = *in.adjusted;
  const uint32_t W = a.ulDispWidth, F = a.ulHFPorch, S = a.ulHSync, K = a.ulHBPorch;
  const uint32_t D = W + F + S + K;
  const uint32_t s = in.shift & kFpgaShiftMagnitude;
  const bool negative = (in.shift & kFpgaShiftNegative) != 0;
  const bool shifted = s != 0 || negative;
  auto mod = [D](uint32_t x) { return D == 0 ? 0 : x % D; };

  uint32_t widthShifted = W;
  if (shifted) widthShifted = negative ? W + s : W - s;
  const uint32_t E = in.fpgaMode == kFpgaModePassThrough ? 30 : mod(pm->num * widthShifted / pm->den + 30);
  const uint32_t P1 = mod(W + 30), P2 = mod(F + P1), P3 = mod(S + P2);
  const uint32_t Q1 = mod(W + E), Q2 = mod(F + Q1), Q3 = mod(S + Q2);

  if (shifted) {
    out.Pair(14, s / 2);
    out.Pair(15, (s >> 9) | (negative ? 0x40 : 0) | 0x80);
  } else {
    out.Pair(15, 0);
  }
  out.Pair(8, 3 - ((a.flSignalMode >> 2) & 3));
  out.Pair(9, 0);
  out.Pair(10, 0);
  out.Pair(11, in.tripleClock ? 0x30 : pm->code);
  out.Pair(16, 30);
  out.Pair(17, E << 4);
  out.Pair(18, E >> 4);
  out.Pair(19, P1);
  out.Pair(20, (Q1 << 4) | ((P1 >> 8) & 0xF));
  out.Pair(21, Q1 >> 4);
  out.Pair(22, P2);
  out.Pair(23, (Q2 << 4) | ((P2 >> 8) & 0xF));
  out.Pair(24, Q2 >> 4);
  out.Pair(25, P3);
  out.Pair(26, (Q3 << 4) | ((P3 >> 8) & 0xF));
  out.Pair(27, Q3 >> 4);
  out.Pair(28, D - 1);
  out.Pair(29, ((D - 1) >> 8) & 0xF);
  out.Pair(31, 0);

  if (in.formatBlock) {
    uint8_t y = 0;
    for (const FormatCode& f : kFormatCodes)
      if (f.format == in.digitalFormat) y = f.y;
    out.Pair(5, 0x80);
    out.Pair(6, in.digitalFormat == kFormatParallel ? 0x80 : 0);
    out.Pair(1, y);
    out.Pair(kFpgaRegControl, in.pairRevAbove10 ? 0x26 : 0x06);
  }
  if (in.dual) out.Pair(kFpgaRegControl, in.pairRevAbove9 ? 0x28 : 0x08);
  uint32_t last = in.formatBlock ? 7 : (in.dual ? 9 : 1);
  if (in.pairRevAbove9) last |= 0x20;
  out.Pair(kFpgaRegControl, last);
}
