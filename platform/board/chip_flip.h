// The display controllers' buffer flips on the simulated board.
//
// Each of the four displays scans out one of four buffers. Its control
// register holds the written displayed-slot field and a sync bit, and a
// read-only current-slot field (bits 16-17): a written slot reaches the
// current field at once when the sync bit is clear, else at the next
// vertical blank of the display's controller (the first for displays 1 and
// 4, the second for displays 2 and 8). The buffer start registers store
// what is written; the display shows the buffer of its current slot.
//
// On a board whose display controllers are modelled the raster owns the
// control words of displays 1 and 2 (chip_raster.h) and hands their writes
// to the latch, so one model stores each register; the vertical blanks
// then come from the rasters through the interrupt controller.
//
// The rules are written down in README.md ("Interrupts and flips").
#pragma once

#include <cstdint>

#include "platform/board/board.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/chip_raster.h"

namespace orvsim {

struct FlipDisplay {
  uint32_t control;     // control register
  unsigned slotShift;   // displayed-slot field: 2 bits from here
  uint32_t syncBit;
  uint32_t bufferStart; // start register of slot 0; slot s at + 4 * s
  unsigned controller;  // whose vertical blank latches a synced flip
};

// Displays 1, 2, 4 and 8, in that order.
inline constexpr FlipDisplay kFlipDisplays[] = {
    {0x1800, 7, 1u << 6, 0x1824, 0},
    {0x1A00, 7, 1u << 6, 0x1A24, 1},
    {0x19A8, 9, 1u << 8, 0x19C8, 0},
    {0x1BA8, 9, 1u << 8, 0x1BC8, 1},
};
inline constexpr unsigned kFlipCurrentShift = 16;

class FlipLatch {
 public:
  // A board without display controllers: the latch hooks the four control
  // registers itself.
  FlipLatch(Board& board, InterruptController& interrupts);
  // A board whose display controllers are modelled: the raster hands on
  // the writes of displays 1 and 2's control words (0x1800, 0x1A00); the
  // latch hooks those of displays 4 and 8. The raster must outlive it.
  FlipLatch(Board& board, InterruptController& interrupts, ChipRaster& raster);
  ~FlipLatch();
  FlipLatch(const FlipLatch&) = delete;
  FlipLatch& operator=(const FlipLatch&) = delete;

  // Back to the state the constructor gives: nothing waits, no flip
  // counted. The control registers are the board's and stay as they are.
  void Reset();

  // The slot a display shows now and the one it waits to show (index 0-3
  // for displays 1, 2, 4, 8); -1 when nothing waits.
  unsigned Current(unsigned display) const;
  int Waiting(unsigned display) const { return waiting_[display]; }
  uint64_t Flips(unsigned display) const { return flips_[display]; }
  // What the display shows: the buffer start register of its current slot.
  uint32_t DisplayedStart(unsigned display) const;

 private:
  FlipLatch(Board& board, InterruptController& interrupts, ChipRaster* raster);
  // The word a write of the display's control register stores: the whole
  // word written and the word before.
  uint32_t Written(unsigned display, uint32_t written, uint32_t stored);
  void HookControl(unsigned display);
  void Latch(unsigned display, unsigned slot);

  Board& board_;
  InterruptController& interrupts_;
  ChipRaster* raster_;
  int listener_ = 0;
  int waiting_[4] = {-1, -1, -1, -1};
  uint64_t flips_[4] = {};
};

}  // namespace orvsim
