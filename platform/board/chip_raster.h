// The raster of the chip's two controller modules: the line counter that
// scans each module's frame, and the vertical blank and sync it shows.
//
// - Module m (0 or 1) keeps its registers 0x200 x m above module 0's. Line
//   counter 0x1924 (low 12 bits, read-only): the line the module scans now.
//   It runs from 0 to R, R being the low 12 bits of 0x192C (the vertical
//   total minus one), and starts again at 0.
// - The counter moves with virtual time, one line per line time, while the
//   module's clock runs: bit 5 of 0x1C00 (module 0) or 0x1C04 (module 1)
//   gates the clock, and while it is set the counter holds its line.
// - Vertical blank: lines from the vertical active count (high half of
//   0x192C plus one) to R. Vertical sync: lines from the low half of 0x1930
//   plus one up to, not including, its high half plus one.
// - A test can freeze a counter (it holds its line whatever the clock does)
//   and choose a module's line time; without a choice a line takes
//   kDefaultLineNs, the line of a 640-pixel mode at 25.175 MHz.
// - The counter's position is kept in nanoseconds of running time, brought
//   up to date whenever the line is read or the clock gate is written.
// - The display controls of controllers 2 and 3 (0x19A8 and 0x1BA8, shown on
//   modules 0 and 1) read their bit 20 as the parity of the frames the
//   module has scanned: it changes at every field. Their other bits are
//   stored as written.
#pragma once

#include <cstdint>

#include "platform/board/board.h"

namespace orvsim {

inline constexpr uint32_t kChipModuleStride = 0x200;
inline constexpr uint32_t kChipRegLineCounter = 0x1924;
inline constexpr uint32_t kChipRegVTotal = 0x192C;       // low: total - 1, high: active - 1
inline constexpr uint32_t kChipRegVBlank = 0x1920;       // low: start - 1, high: end - 1
inline constexpr uint32_t kChipRegVSync = 0x1930;        // low: start - 1, high: end - 1
inline constexpr uint32_t kChipRegHTotal = 0x1910;       // low: total - 2, high: active - 2
inline constexpr uint32_t kChipRegHBlank = 0x1908;       // low: start - 2, high: end - 2
inline constexpr uint32_t kChipRegHSync = 0x1914;        // low: start - 2, high: end - 2
inline constexpr uint32_t kChipRegModuleClock0 = 0x1C00;
inline constexpr uint32_t kChipRegModuleClock1 = 0x1C04;
inline constexpr uint32_t kChipModuleClockGate = 1u << 5;  // set: the module's clock stops
// Display control of controller 2 (module 0); controller 3's is 0x200 on.
inline constexpr uint32_t kChipRegFieldControl = 0x19A8;
inline constexpr uint32_t kChipFieldToggle = 1u << 20;

class ChipRaster {
 public:
  static constexpr uint64_t kDefaultLineNs = 31778;

  // Installs the line counters on the board; the model must outlive every
  // access to them (its destructor removes the hooks).
  explicit ChipRaster(Board& board);
  ~ChipRaster();
  ChipRaster(const ChipRaster&) = delete;
  ChipRaster& operator=(const ChipRaster&) = delete;

  // What the counter of module m shows now, without a register read.
  unsigned Line(unsigned module);
  // Frames the module has scanned since the model was installed.
  uint64_t Frame(unsigned module);
  bool InVerticalBlank(unsigned module);
  bool InVerticalSync(unsigned module);
  // Whether the counter of module m moves now.
  bool Running(unsigned module) const;

  void SetLineTimeNs(unsigned module, uint64_t ns);
  uint64_t LineTimeNs(unsigned module) const { return modules_[module].line_ns; }
  void Freeze(unsigned module, bool frozen);

  // Writes the timing block of module m for the 640x480 text raster a video
  // BIOS leaves on a board it started (800 x 525 totals, sync at lines 490
  // and 491).
  static void PowerOnTiming(Board& board, unsigned module);

 private:
  struct Module {
    uint64_t position_ns = 0;  // running time since line 0 of some frame
    uint64_t updated_ns = 0;   // clock at the last update
    uint64_t line_ns = kDefaultLineNs;
    bool frozen = false;
  };

  uint32_t Reg(unsigned module, uint32_t reg) const;
  // Brings the module's position up to the board's clock.
  void Update(unsigned module);

  Board& board_;
  Module modules_[2];
};

}  // namespace orvsim
