#include "platform/board/chip_flip.h"

namespace orvsim {

namespace {

constexpr uint32_t kCurrentField = 3u << kFlipCurrentShift;

// The whole dword after a write of `access` to it.
uint32_t Merged(uint32_t whole, RegAccess access, uint32_t value) {
  const unsigned shift = 8 * (access.offset & 3);
  const uint32_t mask = (access.width >= 4 ? 0xFFFFFFFFu : (1u << (8 * access.width)) - 1) << shift;
  return (whole & ~mask) | ((value << shift) & mask);
}

}  // namespace

FlipLatch::FlipLatch(Board& board, InterruptController& interrupts) : FlipLatch(board, interrupts, nullptr) {}

FlipLatch::FlipLatch(Board& board, InterruptController& interrupts, ChipRaster& raster)
    : FlipLatch(board, interrupts, &raster) {}

FlipLatch::FlipLatch(Board& board, InterruptController& interrupts, ChipRaster* raster)
    : board_(board), interrupts_(interrupts), raster_(raster) {
  if (raster_ != nullptr) {
    // Module m's first controller is display 1 or 2 (index m).
    raster_->SetControlWrite(
        [this](unsigned module, uint32_t written, uint32_t stored) { return Written(module, written, stored); });
    HookControl(2);
    HookControl(3);
  } else {
    for (unsigned d = 0; d < 4; ++d) HookControl(d);
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
  if (raster_ != nullptr) {
    raster_->SetControlWrite(nullptr);
    board_.ClearHooks(kFlipDisplays[2].control);
    board_.ClearHooks(kFlipDisplays[3].control);
  } else {
    for (const FlipDisplay& display : kFlipDisplays) board_.ClearHooks(display.control);
  }
}

void FlipLatch::HookControl(unsigned d) {
  const uint32_t control = kFlipDisplays[d].control;
  board_.SetWriteHook(control, 4, [this, d, control](Board& b, RegAccess access, uint32_t value, uint32_t) {
    const uint32_t old = b.Peek(control, 4);
    return Written(d, Merged(old, access, value), old) >> (8 * (access.offset & 3));
  });
}

uint32_t FlipLatch::Written(unsigned d, uint32_t written, uint32_t stored) {
  const FlipDisplay& display = kFlipDisplays[d];
  const unsigned slot = (written >> display.slotShift) & 3;
  // The current-slot field is the chip's: a write does not change it.
  const uint32_t kept = (written & ~kCurrentField) | (stored & kCurrentField);
  if ((written & display.syncBit) == 0) {
    waiting_[d] = -1;
    ++flips_[d];
    return (kept & ~kCurrentField) | (slot << kFlipCurrentShift);
  }
  waiting_[d] = static_cast<int>(slot);
  return kept;
}

void FlipLatch::Reset() {
  for (int& slot : waiting_) slot = -1;
  for (uint64_t& count : flips_) count = 0;
}

unsigned FlipLatch::Current(unsigned display) const {
  return (board_.Peek(kFlipDisplays[display].control, 4) >> kFlipCurrentShift) & 3;
}

uint32_t FlipLatch::DisplayedStart(unsigned display) const {
  return board_.Peek(kFlipDisplays[display].bufferStart + 4 * Current(display), 4);
}

void FlipLatch::Latch(unsigned display, unsigned slot) {
  const uint32_t control = kFlipDisplays[display].control;
  const uint32_t value = board_.Peek(control, 4) & ~kCurrentField;
  board_.Poke(control, 4, value | (slot << kFlipCurrentShift));
  waiting_[display] = -1;
  ++flips_[display];
}

}  // namespace orvsim
