#include "platform/board/chip_dac_sense.h"

namespace orvsim {

namespace {
constexpr uint32_t kComparatorBits = 0x3F;
constexpr unsigned kChannelsPerDac = 3;
constexpr uint32_t kRegDac[2] = {0x1C18, 0x1C1C};
constexpr uint32_t kDacOffBits = (1u << 10) | (1u << 12);
constexpr uint32_t kDacBlank[2] = {1u << 15, 1u << 16};
constexpr uint32_t kRegModuleClock[2] = {0x1C00, 0x1C04};
constexpr uint32_t kModuleClockHold = 1u << 5;
}  // namespace

bool DacCarriesSync(const Board& board, unsigned dac) {
  if (dac > 1) return false;
  const uint32_t word = board.Peek(kRegDac[dac], 4);
  if (word & (kDacOffBits | kDacBlank[dac])) return false;
  // DAC 1: bit 14 takes module 1; DAC 2: controllers 1 and 3 are module 1.
  const unsigned module = dac == 0 ? (word >> 14) & 1u : ((word >> 14) & 3u) & 1u;
  return (board.Peek(kRegModuleClock[module], 4) & kModuleClockHold) == 0;
}

ChipDacSense::ChipDacSense(Board& board) : board_(board) {
  board_.SetReadHook(kChipRegDacSense, 4, [this](Board&, RegAccess, uint32_t stored) {
    ++reads_;
    uint32_t comparators = 0;
    for (unsigned dac = 0; dac < loads_.size(); ++dac)
      comparators |= (~static_cast<uint32_t>(loads_[dac]) & 0x7u) << (kChannelsPerDac * dac);
    return (stored & ~kComparatorBits) | comparators;
  });
}

ChipDacSense::~ChipDacSense() { board_.ClearHooks(kChipRegDacSense); }

}  // namespace orvsim
