// The chip's interrupt controller and vertical-blank timing on the
// simulated board.
//
// Sources latch their bits in the pending register whether they are enabled
// or not; writing bits to the acknowledge register clears them; the enable
// register masks them. The interrupt line is up while pending & enable is
// not 0. The display controllers' vertical blanks come from a test call,
// from each frame of virtual time once a frame period is set, or, on a
// board whose controllers are modelled, from the rasters' own blanks (a
// vertical-blank counter); the drawing engine raises its own bit
// (chip_dma.h). Listeners (the flip latch) see every vertical blank.
//
// The rules are written down in README.md ("Interrupts and flips").
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

inline constexpr uint32_t kIrqRegPending = 0x8F4;      // 2292, read: latched sources
inline constexpr uint32_t kIrqRegAcknowledge = 0x8F8;  // 2296, write 1 to clear
inline constexpr uint32_t kIrqRegEnable = 0x8FC;       // 2300
// A configuration register: bit 3 gives the chip a third vertical-blank source.
inline constexpr uint32_t kIrqRegConfig = kRegDisplayConfig;  // 7620
inline constexpr uint32_t kIrqConfigThirdVBlank = 0x8;

inline constexpr uint32_t kIrqVBlank0 = 0x1;       // first display controller
inline constexpr uint32_t kIrqVBlank1 = 0x2;       // second display controller
inline constexpr uint32_t kIrqVBlank2 = 0x8;       // the third source
inline constexpr uint32_t kIrqEngine = 0x10000;    // drawing engine event

class InterruptController {
 public:
  // Installs the registers' behaviour; the controller must outlive every
  // access to them.
  explicit InterruptController(Board& board);
  ~InterruptController();
  InterruptController(const InterruptController&) = delete;
  InterruptController& operator=(const InterruptController&) = delete;

  Board& GetBoard() { return board_; }

  // Back to the state the constructor gives, but for what the test set up
  // (listeners, frame period): the counts are 0 and the frames are counted
  // from now. The registers are the board's and stay as they are.
  void Reset();

  // Latches source bits.
  void Raise(uint32_t bits);
  uint32_t Pending() const;
  uint32_t Enabled() const;
  bool LineUp() const { return (Pending() & Enabled()) != 0; }

  // A vertical blank of display controller 0, 1 or 2 (the third source,
  // only while the configuration register has bit 3): its bit is latched and
  // the listeners run.
  void VerticalBlank(unsigned controller);
  using VBlankListener = std::function<void(unsigned controller)>;
  // An id for removing it again; a listener must go before what it captures.
  int AddVBlankListener(VBlankListener listener);
  void RemoveVBlankListener(int id);

  // Vertical blanks from virtual time: every frame period that passed since
  // the last look (at the latest at the next Tick) gives one vertical blank
  // of each controller. 0 (the default) leaves them to test calls.
  void SetFramePeriod(uint64_t nanoseconds);
  // Vertical blanks of controllers 0 and 1 from a raster: `counter(c)`
  // answers how many blanks controller c has begun so far. At every look
  // (Tick, a read of 0x8F4) a count that moved since the last one gives one
  // vertical blank of that controller. An empty function takes it away.
  using VBlankCounter = std::function<uint64_t(unsigned controller)>;
  void SetVBlankCounter(VBlankCounter counter);
  void Tick();

  // Writes of the acknowledge register that cleared a latched bit.
  uint64_t Acknowledgements() const { return acknowledgements_; }

  // Every vertical blank so far, by controller.
  uint64_t VBlankCount(unsigned controller) const {
    return controller < 3 ? vblanks_[controller] : 0;
  }

 private:
  Board& board_;
  std::vector<std::pair<int, VBlankListener>> listeners_;
  int next_listener_ = 1;
  uint64_t frame_ns_ = 0;
  uint64_t last_frame_ = 0;
  VBlankCounter counter_;
  uint64_t counted_[2] = {};
  uint64_t vblanks_[3] = {};
  uint64_t acknowledgements_ = 0;
};

}  // namespace orvsim
