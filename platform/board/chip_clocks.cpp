#include "platform/board/chip_clocks.h"

namespace orvsim {

namespace {

constexpr uint16_t kDeviceLaterGeneration = 0x5D63;
constexpr uint32_t kMcFirst = 0xF00;
constexpr unsigned kMcSpan = 0x100;

constexpr uint32_t kMcSelect = 0xF00;
constexpr uint32_t kMcStatus = 0xF08;
constexpr uint32_t kMcIdle = 1u << 31;
constexpr uint32_t kB90McSelect = 0xFFC;
constexpr uint32_t kB90McStatus = 0xFF8;
constexpr uint32_t kB90McStart = 0xFF4;
constexpr uint32_t kB90McBusy = (1u << 9) | (1u << 10);

constexpr uint32_t kFs0 = 0xE10;
constexpr uint32_t kB90Fs0 = 0xE30;
constexpr unsigned kFsSpan = 16;
constexpr uint32_t kRefKHz = 27000;
constexpr uint32_t kLockBits = (1u << 24) | (1u << 25);
constexpr uint32_t kB90LockBit = 1u << 24;
constexpr uint32_t kProgram = 1u << 31;
constexpr uint32_t kB90Program = (1u << 31) | (1u << 21);
constexpr uint32_t kVco2FromRef = 1u << 30;
constexpr uint32_t kOutVco1Only = 1u << 26;
constexpr uint32_t kOutSelMask = 3u << 26;

constexpr uint32_t kClockSelect = 0xE00;
constexpr uint32_t kB90GraphicsClock = 0xE04;
constexpr uint32_t kB90TestClock = 0xE24;
constexpr uint32_t kTestClockOn = 1u << 29;
constexpr uint32_t kB90TestClockOn = 1u << 1;

uint32_t PartMask(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

uint32_t Merge(uint32_t whole, RegAccess access, uint32_t value) {
  const unsigned shift = 8 * (access.offset & 3);
  const uint32_t mask = PartMask(access.width) << shift;
  return (whole & ~mask) | ((value << shift) & mask);
}

uint32_t Extract(uint32_t whole, RegAccess access) {
  return (whole >> (8 * (access.offset & 3))) & PartMask(access.width);
}

}  // namespace

ChipClocks::ChipClocks(Board& board)
    : board_(board),
      gen_(board.Config().device_id == kDeviceLaterGeneration ? ClockGeneration::kLater
                                                              : ClockGeneration::kFirst),
      vco_min_(gen_ == ClockGeneration::kFirst ? 600000 : 800000),
      vco_max_(1600000) {
  board_.SetReadHook(kMcFirst, kMcSpan, [this](Board&, RegAccess access, uint32_t) {
    return Extract(McRead(access.offset & ~3u), access);
  });
  board_.SetWriteHook(kMcFirst, kMcSpan,
                      [this](Board& b, RegAccess access, uint32_t value, uint32_t) {
                        const uint32_t reg = access.offset & ~3u;
                        const int c = LowestSelected();
                        const uint32_t old =
                            !Banked(reg) ? b.Peek(reg, 4) : (c < 0 ? 0 : McReg(c, reg));
                        McWriteDword(reg, Merge(old, access, value));
                        return value;
                      });
  const uint32_t fs0 = gen_ == ClockGeneration::kFirst ? kFs0 : kB90Fs0;
  board_.SetReadHook(fs0, kFsSpan, [this, fs0](Board&, RegAccess access, uint32_t) {
    return Extract(FsRead((access.offset - fs0) / 4), access);
  });
  board_.SetWriteHook(fs0, kFsSpan,
                      [this, fs0](Board& b, RegAccess access, uint32_t value, uint32_t) {
                        const unsigned fs = (access.offset - fs0) / 4;
                        FsWrite(fs, Merge(b.Peek(fs0 + 4 * fs, 4), access, value));
                        return b.Peek(access.offset, access.width);
                      });
}

ChipClocks::~ChipClocks() {
  board_.ClearHooks(kMcFirst);
  board_.ClearHooks(gen_ == ClockGeneration::kFirst ? kFs0 : kB90Fs0);
}

uint32_t ChipClocks::SelectReg() const {
  return gen_ == ClockGeneration::kFirst ? kMcSelect : kB90McSelect;
}

bool ChipClocks::Banked(uint32_t reg) const { return reg != SelectReg(); }

uint32_t ChipClocks::StatusReg() const {
  return gen_ == ClockGeneration::kFirst ? kMcStatus : kB90McStatus;
}

uint32_t ChipClocks::McReg(unsigned controller, uint32_t reg) const {
  auto it = banks_[controller].find(reg);
  return it == banks_[controller].end() ? 0 : it->second;
}

void ChipClocks::SetMcReg(unsigned controller, uint32_t reg, uint32_t value) {
  banks_[controller][reg] = value;
}

bool ChipClocks::Selected(unsigned controller) const {
  const uint32_t bit =
      gen_ == ClockGeneration::kFirst ? 1u << (8 * controller) : 1u << controller;
  return (board_.Peek(SelectReg(), 4) & bit) != 0;
}

int ChipClocks::LowestSelected() const {
  for (unsigned c = 0; c < Controllers(); ++c)
    if (Selected(c)) return static_cast<int>(c);
  return -1;
}

uint32_t ChipClocks::McRead(uint32_t reg) {
  if (!Banked(reg)) return board_.Peek(reg, 4);
  const int lowest = LowestSelected();
  if (lowest >= 0) {
    const unsigned c = static_cast<unsigned>(lowest);
    uint32_t value = McReg(c, reg);
    if (reg == StatusReg()) {
      const bool busy = busy_left_[c] != 0;
      if (busy && busy_left_[c] != kForever) --busy_left_[c];
      if (gen_ == ClockGeneration::kFirst)
        value = busy ? value & ~kMcIdle : value | kMcIdle;
      else
        value = busy ? value | kB90McBusy : value & ~(1u << 9);
    }
    return value;
  }
  return 0;
}

void ChipClocks::McWriteDword(uint32_t reg, uint32_t value) {
  if (!Banked(reg)) {
    board_.Poke(reg, 4, value);
    return;
  }
  const uint32_t start = gen_ == ClockGeneration::kFirst ? kMcStatus : kB90McStart;
  for (unsigned c = 0; c < Controllers(); ++c) {
    if (!Selected(c)) continue;
    banks_[c][reg] = value;
    mc_writes_.push_back({c, reg, value});
    if (reg == start) busy_left_[c] = busy_reads_;
  }
}

void ChipClocks::SetFsLockMode(unsigned fs, FsLockMode mode, unsigned lockedPer100) {
  fs_[fs].mode = mode;
  fs_[fs].locked_per_100 = lockedPer100;
}

void ChipClocks::SetVcoRange(uint32_t min_khz, uint32_t max_khz) {
  vco_min_ = min_khz;
  vco_max_ = max_khz;
}

uint32_t ChipClocks::FsRegister(unsigned fs) const {
  return board_.Peek((gen_ == ClockGeneration::kFirst ? kFs0 : kB90Fs0) + 4 * fs, 4);
}

bool ChipClocks::LegalDividers(uint32_t w) const {
  uint64_t m1, m2, p1;
  if (gen_ == ClockGeneration::kFirst) {
    if (w & kProgram) return false;
    m1 = ((w >> 5) & 1 ? 64 : 32) - (w & 0x1F);
    m2 = 32 - ((w >> 6) & 0x1F);
    p1 = 32 - ((w >> 11) & 0x1F);
    if (m1 == 33) return false;
  } else {
    if (w & kB90Program) return false;
    m1 = (w & 0x3F) + 1;
    m2 = ((w >> 6) & 0x1F) + 1;
    p1 = ((w >> 11) & 0x1F) + 1;
  }
  const uint64_t vco1 = kRefKHz * m1;
  if (vco1 < vco_min_ || vco1 > vco_max_) return false;
  if ((w & kOutSelMask) == kOutVco1Only) return true;
  const uint64_t vco2 =
      (gen_ == ClockGeneration::kFirst && (w & kVco2FromRef) ? kRefKHz : vco1 / p1) * m2;
  return vco2 >= vco_min_ && vco2 <= vco_max_;
}

bool ChipClocks::FsLocked(unsigned fs) const {
  return fs_[fs].mode != FsLockMode::kNever && LegalDividers(FsRegister(fs));
}

uint32_t ChipClocks::FsRead(unsigned fs) {
  Fs& s = fs_[fs];
  bool locked = FsLocked(fs);
  if (s.mode == FsLockMode::kFlicker && s.reads_since_write % 100 >= s.locked_per_100)
    locked = false;
  ++s.reads_since_write;
  const uint32_t bits = gen_ == ClockGeneration::kFirst ? kLockBits : kB90LockBit;
  const uint32_t value = FsRegister(fs);
  return locked ? value | bits : value & ~bits;
}

void ChipClocks::FsWrite(unsigned fs, uint32_t value) {
  const uint32_t bits = gen_ == ClockGeneration::kFirst ? kLockBits : kB90LockBit;
  board_.Poke((gen_ == ClockGeneration::kFirst ? kFs0 : kB90Fs0) + 4 * fs, 4, value & ~bits);
  fs_[fs].reads_since_write = 0;
  const uint32_t program = gen_ == ClockGeneration::kFirst ? kProgram : kB90Program;
  if ((value & program) == 0) fs_programs_.push_back({fs, value & ~bits});
}

uint32_t ChipClocks::FsKHz(ClockGeneration gen, uint32_t w) {
  uint64_t m1, m2, p1, p2;
  if (gen == ClockGeneration::kFirst) {
    m1 = ((w >> 5) & 1 ? 64 : 32) - (w & 0x1F);
    m2 = 32 - ((w >> 6) & 0x1F);
    p1 = 32 - ((w >> 11) & 0x1F);
    p2 = (w & (1u << 16)) ? 2 : 64 - 2 * ((w >> 17) & 0x1F);
  } else {
    m1 = (w & 0x3F) + 1;
    m2 = ((w >> 6) & 0x1F) + 1;
    p1 = ((w >> 11) & 0x1F) + 1;
    p2 = 2 * (((w >> 16) & 0xF) + 1);
  }
  const uint64_t vco1 = kRefKHz * m1;
  if ((w & kOutSelMask) == kOutVco1Only) return static_cast<uint32_t>(vco1);
  if (p1 == 0 || p2 == 0) return 0;
  const uint64_t fin2 = gen == ClockGeneration::kFirst && (w & kVco2FromRef) ? kRefKHz : vco1 / p1;
  const uint64_t vco2 = fin2 * m2;
  if ((w & kOutSelMask) == (kOutVco1Only << 1)) return static_cast<uint32_t>(vco2);
  return static_cast<uint32_t>(vco2 / p2);
}

int ChipClocks::GraphicsClockFs() const {
  if (gen_ == ClockGeneration::kFirst) {
    const uint32_t code = (board_.Peek(kClockSelect, 4) >> 8) & 0xF;
    return code >= 1 && code <= 8 ? static_cast<int>((code - 1) / 2) : -1;
  }
  const uint32_t source = (board_.Peek(kB90GraphicsClock, 4) >> 1) & 0xF;
  return source >= 1 && source <= 4 ? static_cast<int>(source - 1) : -1;
}

uint32_t ChipClocks::GraphicsClockKHz() const {
  if (gen_ == ClockGeneration::kLater) return LaterClockKHz(1);
  const int fs = GraphicsClockFs();
  if (fs < 0) return 0;
  const uint64_t f = FsKHz(static_cast<unsigned>(fs));
  switch ((board_.Peek(kClockSelect, 4) >> 5) & 3) {
    case 0: return static_cast<uint32_t>(f);
    case 1: return static_cast<uint32_t>(f / 3);
    case 2: return static_cast<uint32_t>(f * 2 / 5);
    default: return static_cast<uint32_t>(f / 2);
  }
}

uint32_t ChipClocks::LaterClockKHz(unsigned clock) const {
  static constexpr uint32_t kDivisor[8] = {1, 2, 3, 4, 5, 8, 16, 0};
  const uint32_t word = board_.Peek(kClockSelect + 4 * clock, 4);
  const uint32_t source = (word >> 1) & 0xF;
  const uint32_t divisor = kDivisor[(word >> 5) & 7];
  const bool fs = clock == 0 ? source == 1 : source >= 1 && source <= 4;
  if (!fs || divisor == 0) return 0;
  return FsKHz(source - 1) / divisor;
}

ChipClocks::TestClock ChipClocks::TestClockState() const {
  if (gen_ == ClockGeneration::kFirst) {
    const uint32_t v = board_.Peek(kClockSelect, 4);
    return {(v & kTestClockOn) != 0, (v >> 20) & 0x1F};
  }
  const uint32_t v = board_.Peek(kB90TestClock, 4);
  return {(v & kB90TestClockOn) != 0, (v >> 2) & 0x3F};
}

}  // namespace orvsim
