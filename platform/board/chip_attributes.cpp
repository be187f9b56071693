#include "platform/board/chip_attributes.h"

namespace orvsim {

void AttributePath::Sync() {
  const auto& writes = dma_.Writes();
  if (writes.size() < taken_) taken_ = 0;
  for (; taken_ < writes.size(); ++taken_) Write(writes[taken_].reg, writes[taken_].value);
}

void AttributePath::Write(uint32_t reg, uint32_t value) {
  if (reg < kDmaRegWindow || (reg & 3) != 0) return;
  const uint32_t index = (reg - kDmaRegWindow) / 4;
  if (index >= kAttrPlaceFirst && index < kAttrPlaceFirst + kAttrPlaces) {
    place_ = static_cast<int>(index - kAttrPlaceFirst);
    c3_ = value;
    end_ = false;
  } else if (index == kAttrComponent2) {
    c2_ = value;
  } else if (index == kAttrComponent1 || index == kAttrComponent1End) {
    c1_ = value;
    end_ = index == kAttrComponent1End;
  } else if (index >= kAttrSlotFirst && index < kAttrSlotFirst + kAttrSlots) {
    if (place_ < 0) {
      ++strays_;
      return;
    }
    uint32_t* slot = slots_[place_][index - kAttrSlotFirst];
    slot[0] = value;
    slot[1] = c1_;
    slot[2] = c2_;
    slot[3] = c3_;
    if (end_) {
      Draw draw;
      draw.place = static_cast<unsigned>(place_);
      for (unsigned p = 0; p < kAttrPlaces; ++p)
        for (unsigned s = 0; s < kAttrSlots; ++s)
          for (unsigned c = 0; c < 4; ++c) draw.slots[p][s][c] = slots_[p][s][c];
      draws_.push_back(draw);
      end_ = false;
    }
    place_ = -1;
  } else if (index == kAttrLayout) {
    layout_ = value;
  }
}

}  // namespace orvsim
