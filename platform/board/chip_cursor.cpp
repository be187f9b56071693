#include "platform/board/chip_cursor.h"

namespace orvsim {

namespace {
constexpr uint32_t kModeMask = 0xFF;
constexpr unsigned kEntryShift = 8;
constexpr uint32_t kCoordinateMask = 0x7FFF;
constexpr unsigned kXShift = 14;
}  // namespace

ChipCursor::ChipCursor(Board& board) : board_(board) {
  for (unsigned c = 0; c < kEngines; ++c) {
    const uint32_t base = kEngineStride * c;
    board_.SetWriteHook(kRegPalette + base, 4, [this, c, base](Board& b, RegAccess, uint32_t value, uint32_t) {
      const unsigned entry = (b.Peek(kRegControl + base, 4) >> kEntryShift) % kPaletteEntries;
      palette_[c][entry] = value;
      return value;
    });
  }
  board_.SetReadHook(kRegHotPlug, 4, [this](Board&, RegAccess, uint32_t stored) {
    return hotplug_pending_ ? stored | kHotPlugPending : stored & ~kHotPlugPending;
  });
  board_.SetWriteHook(kRegHotPlug, 4, [this](Board&, RegAccess, uint32_t value, uint32_t) {
    if (value & kHotPlugPending) {
      hotplug_pending_ = false;
      ++hotplug_acks_;
    }
    return value & ~kHotPlugPending;
  });
}

ChipCursor::~ChipCursor() {
  for (unsigned c = 0; c < kEngines; ++c) board_.ClearHooks(kRegPalette + kEngineStride * c);
  board_.ClearHooks(kRegHotPlug);
}

uint32_t ChipCursor::Mode(unsigned engine) const {
  return board_.Peek(kRegControl + kEngineStride * engine, 4) & kModeMask;
}

uint32_t ChipCursor::X(unsigned engine) const {
  return (board_.Peek(kRegPosition + kEngineStride * engine, 4) >> kXShift) & kCoordinateMask;
}

uint32_t ChipCursor::Y(unsigned engine) const {
  return board_.Peek(kRegPosition + kEngineStride * engine, 4) & kCoordinateMask;
}

}  // namespace orvsim
