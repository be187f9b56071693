// The chip's host-aperture slots on the simulated board.
//
// Twenty slots of four registers each (slot i at 16 * i): a key (window
// offset in the aperture, the aperture base bits and an enable bit; 0 =
// off) and the three descriptor words of the surface the window shows. The
// registers are plain storage; this model reads them back the way the chip
// decodes them, so a test can ask which local address an aperture offset
// reaches.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

inline constexpr unsigned kApertureSlotCount = 20;
inline constexpr uint32_t kApertureSlotStride = 16;
inline constexpr uint32_t kApertureKeyEnable = 0x10000000;
inline constexpr uint32_t kApertureKeyBaseMask = 0x0E000000;
inline constexpr uint32_t kApertureKeyOffsetMask = 0x01FFFFFF;

struct ApertureSlot {
  uint32_t key = 0;
  uint32_t desc0 = 0;  // memory bits 0-1, address 2-31
  uint32_t desc1 = 0;  // width 0-13, layout 16-18, format 24-29
  uint32_t desc2 = 0;  // height 0-13, depth 16-27

  bool Enabled() const { return (key & kApertureKeyEnable) != 0; }
  uint32_t Offset() const { return key & kApertureKeyOffsetMask; }
  uint32_t BaseBits() const { return key & kApertureKeyBaseMask; }
  uint32_t MemoryBits() const { return desc0 & 0x3; }
  uint32_t Address() const { return desc0 & ~0x3u; }
  uint32_t Layout() const { return (desc1 >> 16) & 0x7; }
  // Bytes the window shows of a surface with a pitch (layouts 1-5): its
  // rows as wide as the chip lays them out (the width rounded up to 32, a
  // power of two of at least 32 for the tiled layouts, 8192 pixels with
  // word 1 bit 13) times height x depth; 0 for a plain buffer (layout 0),
  // whose size the slot does not hold, or a format the chip does not draw.
  uint64_t Extent() const;
};

class ApertureSlots {
 public:
  explicit ApertureSlots(const Board& board) : board_(board) {}

  ApertureSlot Slot(unsigned index) const;
  // Enabled slots in slot order.
  std::vector<ApertureSlot> Enabled() const;
  // The local-memory address an aperture offset reaches: the enabled slot
  // with the highest offset not above it, onto a surface in local memory of
  // any layout (the model keeps every layout pitch-linear, as the 2D engine
  // draws it). False when no such slot exists.
  bool Resolve(uint32_t apertureOffset, uint32_t* localAddress) const;

 private:
  const Board& board_;
};

// The processor's view through the aperture slots. Installed on a board, it
// keeps the frame-buffer range showing, at every enabled window, the
// local memory its slot names, the way Resolve decodes it: from the slot's
// offset up to the next enabled slot's offset (the last one up to the end of
// the frame buffer, or of local memory). A processor write through a window
// thus lands in local memory at the surface's address, in either bank. The
// model maps whole pages: a window whose offset is not page-aligned keeps
// the plain view, and one onto a local address that is not page-aligned
// shows a copy the board keeps coherent at every register access
// (Board::MapMemoryWindow) when its surface has a size (a pitch), else
// keeps the plain view too. Every write of a slot word (key or
// descriptor, programmed in any order) re-applies
// the windows; the destructor removes the hooks and restores the plain view.
class ApertureWindows {
 public:
  explicit ApertureWindows(Board& board);
  ~ApertureWindows();
  ApertureWindows(const ApertureWindows&) = delete;
  ApertureWindows& operator=(const ApertureWindows&) = delete;

  void Apply();

  // Slot words written while held are stored and nothing more; Release
  // works the windows out once, from the words as they stand then. For a
  // fixture that rewrites every slot at once with the processor touching no
  // frame-buffer byte in between: the words pass through states (a key
  // beside the old descriptor) whose windows nobody looks at, and each of
  // those would map the frame buffer anew. Holds do not nest.
  void Hold() { held_ = true; }
  void Release() {
    held_ = false;
    Apply();
  }

 private:
  // One window: frame-buffer offset, local address, length.
  struct Window {
    uint64_t offset, local, length;
    bool operator==(const Window&) const = default;
  };

  Board& board_;
  // The windows mapped now; a slot write that leaves them as they are
  // (most do: a slot is programmed word by word, and a driver rewrites
  // every slot at once) maps nothing again.
  std::vector<Window> mapped_;
  bool applied_ = false;
  bool held_ = false;
  // The slot words the windows were last worked out from: windows follow
  // from them alone, so a write that leaves every word as it was (or an
  // Apply with nothing written since) has nothing to work out.
  uint32_t words_[kApertureSlotCount * kApertureSlotStride / 4] = {};
  // Working lists of Apply, kept so that the slot writes allocate nothing.
  std::vector<ApertureSlot> slots_;
  std::vector<Window> windows_;
};

}  // namespace orvsim
