#include "platform/board/chip_aperture.h"

namespace orvsim {

ApertureSlot ApertureSlots::Slot(unsigned index) const {
  const uint32_t reg = kApertureSlotStride * index;
  ApertureSlot slot;
  slot.key = board_.Peek(reg, 4);
  slot.desc0 = board_.Peek(reg + 4, 4);
  slot.desc1 = board_.Peek(reg + 8, 4);
  slot.desc2 = board_.Peek(reg + 12, 4);
  return slot;
}

std::vector<ApertureSlot> ApertureSlots::Enabled() const {
  std::vector<ApertureSlot> slots;
  for (unsigned i = 0; i < kApertureSlotCount; ++i) {
    ApertureSlot slot = Slot(i);
    if (slot.Enabled()) slots.push_back(slot);
  }
  return slots;
}

bool ApertureSlots::Resolve(uint32_t apertureOffset, uint32_t* localAddress) const {
  const ApertureSlot* best = nullptr;
  const std::vector<ApertureSlot> slots = Enabled();
  for (const ApertureSlot& slot : slots) {
    if (slot.Offset() <= apertureOffset && (best == nullptr || slot.Offset() > best->Offset())) {
      best = &slot;
    }
  }
  if (best == nullptr || best->MemoryBits() != 0 || best->Layout() > 1) return false;
  *localAddress = best->Address() + (apertureOffset - best->Offset());
  return true;
}

}  // namespace orvsim
