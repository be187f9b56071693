// The raster of the chip's two controller modules: the line counter that
// scans each module's frame, and the vertical blank and sync it shows.
//
// - Module m (0 or 1) keeps its registers 0x200 x m above module 0's. Line
//   counter 0x1924 (low 12 bits, read-only): the line the module scans now.
//   It runs from 0 to R, R being the low 12 bits of 0x192C (the vertical
//   total minus one), and starts again at 0.
// - A module scans while its first controller is on (bit 0 of 0x1800 or
//   0x1A00; module 0 also while the VGA regime, bit 0 of 0x1C08, drives it)
//   and its clock runs: bit 5 of 0x1C00 (module 0) or 0x1C04 (module 1)
//   gates the clock, and while it is set the counter holds its line.
// - A line takes the horizontal total (low half of 0x1910 plus two) in
//   pixels at the module's pixel clock: the synthesizer that bits 6-9 of
//   the module's clock word select (1..4: FS 0..3), decoded from its
//   register (ChipClocks::FsKHz); any other select code runs the module at
//   the VGA dot clock, 25,175 kHz.
// - Setting bit 24 of 0x1C00 (the video-reset pulse) puts both counters to
//   line 0 and holds them there until the bit is cleared again.
// - Vertical blank: lines from the vertical active count (high half of
//   0x192C plus one) to R. Vertical sync: lines from the low half of 0x1930
//   plus one up to, not including, its high half plus one.
// - A test can freeze a counter (it holds its line whatever the clock does)
//   or fix a module's line time instead of the one its registers give.
// - The display controls of controllers 2 and 3 (0x19A8 and 0x1BA8, shown on
//   modules 0 and 1) read their bit 20 as the parity of the frames the
//   module has scanned: it changes at every field. Their other bits are
//   stored as written.
// - The counter's position is brought up to date whenever a line is read or
//   a register it depends on is written (controller control, clock word,
//   regime, horizontal and vertical totals). A synthesizer reprogrammed
//   under a running module counts from the next of those.
// - A module that scans begins a vertical blank each time its counter
//   reaches the first blank line; VBlanks counts them (the interrupt
//   controller takes its vertical-blank sources from that count on a board
//   whose controllers are modelled).
// - The raster owns the writes of the first controllers' control words
//   (0x1800, 0x1A00). Another model that gives them meaning (the flip
//   latch, chip_flip.h) sees each write through SetControlWrite, after the
//   counters are brought up to date.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

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
inline constexpr uint32_t kChipRegControl = 0x1800;      // bit 0: the controller is on
inline constexpr uint32_t kChipRegModuleClock0 = 0x1C00;
inline constexpr uint32_t kChipRegModuleClock1 = 0x1C04;
inline constexpr uint32_t kChipModuleClockGate = 1u << 5;  // set: the module's clock stops
inline constexpr uint32_t kChipVideoResetPulse = 1u << 24;  // of 0x1C00
inline constexpr uint32_t kChipVgaDotClockKHz = 25175;
// Display control of controller 2 (module 0); controller 3's is 0x200 on.
inline constexpr uint32_t kChipRegFieldControl = 0x19A8;
inline constexpr uint32_t kChipFieldToggle = 1u << 20;

// The timing a module's registers give.
struct RasterTiming {
  uint32_t htotal, hactive;  // pixels
  uint32_t vtotal, vactive;  // lines
  uint32_t pixel_khz;        // the module's pixel clock
  double line_ns;
  double frame_hz;
};

class ChipRaster {
 public:
  // Installs the line counters on the board; the model must outlive every
  // access to them (its destructor removes the hooks).
  explicit ChipRaster(Board& board);
  ~ChipRaster();
  ChipRaster(const ChipRaster&) = delete;
  ChipRaster& operator=(const ChipRaster&) = delete;

  // What the counter of module m shows now, without a register read.
  unsigned Line(unsigned module);
  bool InVerticalBlank(unsigned module);
  bool InVerticalSync(unsigned module);
  // Frames module m completed since the last video-reset pulse (or since
  // the model was made).
  uint64_t Frame(unsigned module);
  // Whether the counter of module m moves now.
  bool Running(unsigned module) const;
  // The timing module m runs with now (the decoded registers; line_ns is
  // the test's choice when it fixed one).
  RasterTiming Timing(unsigned module) const;
  // Video-reset pulses seen on 0x1C00.
  unsigned VideoResets() const { return video_resets_; }
  // Vertical blanks module m has begun since the model was made (a
  // video-reset pulse does not start it again).
  uint64_t VBlanks(unsigned module);

  // Gives the word a write of the first controller's control word of
  // `module` stores: `written` is the whole word as written, `stored` the
  // word before. One at a time; an empty function stores what is written.
  using ControlWrite = std::function<uint32_t(unsigned module, uint32_t written, uint32_t stored)>;
  void SetControlWrite(ControlWrite hook) { control_write_ = std::move(hook); }

  // Fixes the line time of module m (0 gives the time back to the registers).
  void SetLineTimeNs(unsigned module, uint64_t ns);
  void Freeze(unsigned module, bool frozen);

  // Writes the timing block of module m for the 640x480 text raster a video
  // BIOS leaves on a board it started (800 x 525 totals, sync at lines 490
  // and 491).
  static void PowerOnTiming(Board& board, unsigned module);

 private:
  struct Module {
    double lines = 0;          // lines scanned since line 0 of frame 0
    uint64_t updated_ns = 0;   // clock at the last update
    uint64_t fixed_line_ns = 0;
    bool frozen = false;
    uint64_t vblanks = 0;      // vertical blanks begun
  };

  uint32_t Reg(unsigned module, uint32_t reg) const;
  double LineNs(unsigned module) const;
  uint32_t PixelKHz(unsigned module) const;
  // Brings the module's position up to the board's clock.
  void Update(unsigned module);
  void UpdateBoth() {
    Update(0);
    Update(1);
  }
  // A write hook that brings both counters up to date before the register
  // changes.
  void WatchRegister(uint32_t reg);

  Board& board_;
  bool later_generation_;
  Module modules_[2];
  unsigned video_resets_ = 0;
  ControlWrite control_write_;
};

}  // namespace orvsim
