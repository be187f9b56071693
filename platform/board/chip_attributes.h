// The 3D engine's attribute path on the simulated board: the four vertex
// places and their nine attribute slots, written by register groups the
// DMA engine ran, and the draws the end register starts.
//
// The rules are written down in README.md ("The attribute path").
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/chip_dma.h"

namespace orvsim {

// Register indexes of the path (register 0x1000 + 4 x index).
inline constexpr uint8_t kAttrPlaceFirst = 0x58;  // places 0-3: 0x58-0x5B, component 3
inline constexpr uint8_t kAttrComponent2 = 0x5D;
inline constexpr uint8_t kAttrComponent1 = 0x5E;
inline constexpr uint8_t kAttrComponent1End = 0x5F;  // component 1, and draw after the slot
inline constexpr uint8_t kAttrSlotFirst = 0x60;      // slots 0-8: 0x60-0x68, component 0
inline constexpr uint8_t kAttrLayout = 0x44;         // the slot-use mask
inline constexpr unsigned kAttrPlaces = 4;
inline constexpr unsigned kAttrSlots = 9;

class AttributePath {
 public:
  // What the places held when an end write drew: the place of the vertex
  // whose slot write ended it (3: a point), every slot's four components
  // (c0, c1, c2, c3) at every place, and which slots were written at each
  // place since the previous draw (bit s for slot s).
  struct Draw {
    unsigned place = 0;
    uint32_t slots[kAttrPlaces][kAttrSlots][4] = {};
    uint16_t written[kAttrPlaces] = {};
  };

  // A path that takes the DMA engine's packet writes when it is read...
  explicit AttributePath(const DmaEngine& dma) : dma_(&dma) {}
  // ...or one fed by Write alone (an engine that sees every packet write
  // as it is made); it keeps no list of draws, only the last (Last()).
  AttributePath() = default;

  // Takes the packet writes the DMA engine made since the last call (all
  // of them again after the engine's list was cleared).
  void Sync();

  // One register write (a register address); true when it drew.
  bool Write(uint32_t reg, uint32_t value);
  // The places as the last draw left them.
  const Draw& Last() const { return last_; }

  const std::vector<Draw>& Draws() {
    Sync();
    return draws_;
  }
  void ClearDraws() {
    Sync();
    draws_.clear();
  }
  // Component c of a slot at a place, as last written.
  uint32_t Slot(unsigned place, unsigned slot, unsigned c) {
    Sync();
    return slots_[place][slot][c];
  }
  uint32_t Layout() {
    Sync();
    return layout_;
  }
  // Slot writes that came without their place write first (malformed
  // groups).
  unsigned Strays() {
    Sync();
    return strays_;
  }

 private:
  const DmaEngine* dma_ = nullptr;
  size_t taken_ = 0;
  uint32_t slots_[kAttrPlaces][kAttrSlots][4] = {};
  uint16_t written_[kAttrPlaces] = {};
  Draw last_;
  // The latches a slot write takes its components 1-3 from.
  int place_ = -1;
  uint32_t c3_ = 0, c2_ = 0, c1_ = 0;
  bool end_ = false;
  uint32_t layout_ = 0;
  unsigned strays_ = 0;
  std::vector<Draw> draws_;
};

}  // namespace orvsim
