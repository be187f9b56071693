// The colour look-up tables of the four display controllers.
//
// - Each module m (0 or 1; registers 0x200 x m above module 0's) has two
//   tables: the first serves its first controller (controller 0 or 1), the
//   second its second controller (controller 2 or 3).
// - First table: index 0x1838, red 0x183C, green 0x1840, blue 0x1844. Second
//   table: index 0x19B8, red 0x19BC, green 0x19C0, blue 0x19C4.
// - Writing the index register starts at that entry. Red and green are
//   latched; a blue write with bit 31 set stores the latched red and green
//   and the blue into the entry and steps to the next one (after 255 comes
//   0). A blue write without bit 31 only latches blue.
// - The first table keeps bits 6-15 of each component (mask 0xFFC0) and the
//   3-bit compensation in bits 16-18; the second keeps bits 8-15 (0xFF00).
// - The control registers (0x1800 bit 9 bypass, bit 10 low-end
//   compensation; 0x19A8 bit 11 bypass) and the six compensation words
//   0x180C-0x1820 are plain registers.
#pragma once

#include <array>
#include <cstdint>

#include "platform/board/board.h"

namespace orvsim {

inline constexpr uint32_t kLutFirstIndex = 0x1838;
inline constexpr uint32_t kLutSecondIndex = 0x19B8;
inline constexpr uint32_t kLutFirstMask = 0xFFC0;
inline constexpr uint32_t kLutCompensationMask = 0x70000;
inline constexpr uint32_t kLutSecondMask = 0xFF00;
inline constexpr uint32_t kLutCommit = 1u << 31;

struct LutEntry {
  uint32_t red, green, blue;  // as the table keeps them
  bool operator==(const LutEntry&) const = default;
};

class ChipLut {
 public:
  explicit ChipLut(Board& board);
  ~ChipLut();
  ChipLut(const ChipLut&) = delete;
  ChipLut& operator=(const ChipLut&) = delete;

  // The table of controller c (0..3), entry i.
  LutEntry At(unsigned controller, unsigned i) const { return tables_[controller & 3][i & 0xFF]; }
  // Entries stored since the model was installed (or the last reset).
  uint64_t EntriesStored() const { return stored_; }
  void Reset();

 private:
  struct Port {
    unsigned controller;
    uint32_t base;  // index register
  };
  void Write(const Port& port, uint32_t reg, uint32_t value);

  Board& board_;
  std::array<std::array<LutEntry, 256>, 4> tables_{};
  LutEntry latch_[4]{};
  uint8_t index_[4]{};
  uint64_t stored_ = 0;
};

}  // namespace orvsim
