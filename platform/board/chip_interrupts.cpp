#include "platform/board/chip_interrupts.h"

namespace orvsim {

InterruptController::InterruptController(Board& board) : board_(board) {
  board_.SetReadHook(kIrqRegPending, 4, [this](Board& b, RegAccess, uint32_t) {
    Tick();  // the frames that passed latch first
    return b.Peek(kIrqRegPending, 4);
  });
  board_.SetWriteHook(kIrqRegPending, 4,
                      [](Board&, RegAccess, uint32_t, uint32_t stored) { return stored; });
  board_.SetWriteHook(kIrqRegAcknowledge, 4, [this](Board& b, RegAccess, uint32_t value, uint32_t) {
    const uint32_t pending = b.Peek(kIrqRegPending, 4);
    if ((pending & value) != 0) ++acknowledgements_;
    b.Poke(kIrqRegPending, 4, pending & ~value);
    return 0u;
  });
}

InterruptController::~InterruptController() {
  board_.ClearHooks(kIrqRegPending);
  board_.ClearHooks(kIrqRegAcknowledge);
}

void InterruptController::Reset() {
  SetFramePeriod(frame_ns_);
  for (uint64_t& count : vblanks_) count = 0;
  acknowledgements_ = 0;
}

void InterruptController::Raise(uint32_t bits) {
  board_.Poke(kIrqRegPending, 4, board_.Peek(kIrqRegPending, 4) | bits);
}

uint32_t InterruptController::Pending() const { return board_.Peek(kIrqRegPending, 4); }
uint32_t InterruptController::Enabled() const { return board_.Peek(kIrqRegEnable, 4); }

void InterruptController::VerticalBlank(unsigned controller) {
  static constexpr uint32_t kBits[] = {kIrqVBlank0, kIrqVBlank1, kIrqVBlank2};
  if (controller > 2) return;
  if (controller == 2 && (board_.Peek(kIrqRegConfig, 4) & kIrqConfigThirdVBlank) == 0) return;
  ++vblanks_[controller];
  Raise(kBits[controller]);
  for (const auto& [id, listener] : listeners_) listener(controller);
}

int InterruptController::AddVBlankListener(VBlankListener listener) {
  listeners_.push_back({next_listener_, std::move(listener)});
  return next_listener_++;
}

void InterruptController::RemoveVBlankListener(int id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void InterruptController::SetFramePeriod(uint64_t nanoseconds) {
  frame_ns_ = nanoseconds;
  last_frame_ = nanoseconds != 0 ? board_.GetClock().Now() / nanoseconds : 0;
}

void InterruptController::SetVBlankCounter(VBlankCounter counter) {
  counter_ = std::move(counter);
  if (counter_)
    for (unsigned controller = 0; controller < 2; ++controller) counted_[controller] = counter_(controller);
}

void InterruptController::Tick() {
  if (counter_) {
    for (unsigned controller = 0; controller < 2; ++controller) {
      const uint64_t count = counter_(controller);
      if (count == counted_[controller]) continue;
      counted_[controller] = count;
      VerticalBlank(controller);
    }
  }
  if (frame_ns_ == 0) return;
  const uint64_t frame = board_.GetClock().Now() / frame_ns_;
  if (frame == last_frame_) return;
  last_frame_ = frame;
  for (unsigned controller = 0; controller < 3; ++controller) VerticalBlank(controller);
}

}  // namespace orvsim
