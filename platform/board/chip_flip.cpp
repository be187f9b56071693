#include "platform/board/chip_flip.h"

namespace orvsim {

FlipLatch::FlipLatch(Board& board, InterruptController& interrupts)
    : board_(board), interrupts_(interrupts) {
  for (unsigned d = 0; d < 4; ++d) {
    const FlipDisplay& display = kFlipDisplays[d];
    board_.SetWriteHook(display.control, 4,
                        [this, d, display](Board&, RegAccess, uint32_t value, uint32_t stored) {
      const unsigned slot = (value >> display.slotShift) & 3;
      const uint32_t current = stored & (3u << kFlipCurrentShift);
      const uint32_t kept = (value & ~(3u << kFlipCurrentShift)) | current;
      if ((value & display.syncBit) == 0) {
        waiting_[d] = -1;
        ++flips_[d];
        return (kept & ~(3u << kFlipCurrentShift)) | (slot << kFlipCurrentShift);
      }
      waiting_[d] = static_cast<int>(slot);
      return kept;
    });
  }
  listener_ = interrupts.AddVBlankListener([this](unsigned controller) {
    for (unsigned d = 0; d < 4; ++d) {
      if (kFlipDisplays[d].controller == controller && waiting_[d] >= 0)
        Latch(d, static_cast<unsigned>(waiting_[d]));
    }
  });
}

FlipLatch::~FlipLatch() {
  interrupts_.RemoveVBlankListener(listener_);
  for (const FlipDisplay& display : kFlipDisplays) board_.ClearHooks(display.control);
}

void FlipLatch::Reset() {
  for (int& slot : waiting_) slot = -1;
  for (uint64_t& count : flips_) count = 0;
}

unsigned FlipLatch::Current(unsigned display) const {
  return (board_.Peek(kFlipDisplays[display].control, 4) >> kFlipCurrentShift) & 3;
}

void FlipLatch::Latch(unsigned display, unsigned slot) {
  const uint32_t control = kFlipDisplays[display].control;
  const uint32_t value = board_.Peek(control, 4) & ~(3u << kFlipCurrentShift);
  board_.Poke(control, 4, value | (slot << kFlipCurrentShift));
  waiting_[display] = -1;
  ++flips_[display];
}

}  // namespace orvsim
