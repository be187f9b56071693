#include "platform/board/chip_attributes.h"

namespace orvsim {

void AttributePath::Sync() {
  if (dma_ == nullptr) return;
  const auto& writes = dma_->Writes();
  if (writes.size() < taken_) taken_ = 0;
  for (; taken_ < writes.size(); ++taken_) Write(writes[taken_].reg, writes[taken_].value);
}

bool AttributePath::Write(uint32_t reg, uint32_t value) {
  if (reg < kDmaRegWindow || (reg & 3) != 0) return false;
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
      return false;
    }
    const unsigned s = index - kAttrSlotFirst;
    uint32_t* slot = slots_[place_][s];
    slot[0] = value;
    slot[1] = c1_;
    slot[2] = c2_;
    slot[3] = c3_;
    written_[place_] = static_cast<uint16_t>(written_[place_] | 1u << s);
    const bool drew = end_;
    if (end_) {
      Draw& draw = last_;
      draw.place = static_cast<unsigned>(place_);
      for (unsigned p = 0; p < kAttrPlaces; ++p) {
        for (unsigned t = 0; t < kAttrSlots; ++t)
          for (unsigned c = 0; c < 4; ++c) draw.slots[p][t][c] = slots_[p][t][c];
        draw.written[p] = written_[p];
        written_[p] = 0;
      }
      if (dma_ != nullptr) draws_.push_back(draw);
      end_ = false;
    }
    place_ = -1;
    return drew;
  } else if (index == kAttrLayout) {
    layout_ = value;
  }
  return false;
}

}  // namespace orvsim
