#include "platform/board/chip_reset.h"

#include <cstring>

namespace orvsim {

ChipReset::ChipReset(Board& board)
    : board_(board),
      power_on_(board.Registers(), board.Registers() + board.RegisterWindowSize()) {
  PciFunction& pci = board_.Pci();
  pci.SetWritable(kPciChipReset, 1, kPciChipResetBits);
  pci.SetWritable(kPciBusInterfaceControl, 4, 0xFFFFFFFF);
  hook_id_ = pci.AddExtraWriteHook([this](unsigned offset, unsigned width, uint32_t) {
    if (offset > kPciChipReset || offset + width <= kPciChipReset) return;
    const bool held = (board_.Pci().Peek(kPciChipReset, 1) & kPciChipResetBits) == kPciChipResetBits;
    if (held && !in_reset_) Enter();
    in_reset_ = held;
  });
}

ChipReset::~ChipReset() { board_.Pci().RemoveExtraWriteHook(hook_id_); }

uint32_t ChipReset::PowerOn(uint32_t offset) const {
  uint32_t value = 0;
  std::memcpy(&value, power_on_.data() + offset, 4);
  return value;
}

void ChipReset::Enter() {
  ++pulses_;
  std::memcpy(board_.Registers(), power_on_.data(), power_on_.size());
  PciFunction& pci = board_.Pci();
  for (unsigned at = 0; at < pci.ConfigSize(); at += 4) {
    if (at == kPciChipReset) continue;
    const uint32_t writable = pci.Writable(at, 4);
    if (writable) pci.Poke(at, 4, pci.Peek(at, 4) & ~writable);
  }
  for (auto& listener : listeners_) listener();
}

}  // namespace orvsim
