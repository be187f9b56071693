#include "platform/board/chip_cursor.h"

#include <cstring>

#include "platform/board/fail.h"

namespace orvsim {

namespace {
constexpr uint32_t kModeMask = 0xFF;
constexpr unsigned kEntryShift = 8;
constexpr uint32_t kXMask = 0x7FFF;
constexpr uint32_t kYMask = 0x3FFF;
constexpr unsigned kXShift = 14;
constexpr unsigned kFormatShift = 24;

// Image layouts in local memory.
constexpr uint32_t kTwoColourRowBytes = 32;
constexpr uint32_t kTwoColourPlaneBytes = 8;
constexpr uint32_t kSixteenColourRowBytes = 128;
constexpr unsigned kIndexPlanes = 4;
constexpr unsigned kAlphaPlanes = 5;
constexpr unsigned kAlphaLowBits = 3;  // alpha bits 0-2 are not stored
constexpr uint8_t kOpaque = 0xFF;
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
  return (board_.Peek(kRegPosition + kEngineStride * engine, 4) >> kXShift) & kXMask;
}

uint32_t ChipCursor::Y(unsigned engine) const {
  return board_.Peek(kRegPosition + kEngineStride * engine, 4) & kYMask;
}

}  // namespace orvsim

namespace orvsim {

uint32_t ChipCursor::ImageBase(unsigned engine) const {
  return board_.Peek(kRegImageBase + kEngineStride * engine, 4);
}

uint32_t ChipCursor::ImageFormat(unsigned engine) const {
  return board_.Peek(kRegImageFormat + kEngineStride * engine, 4) >> kFormatShift;
}

uint32_t ChipCursor::ControllerWord(unsigned engine) const {
  return board_.Peek(kRegController + kEngineStride * engine, 4);
}

ChipCursor::Pixel ChipCursor::ImagePixel(unsigned engine, unsigned x, unsigned y) const {
  if (engine >= kEngines || x >= kImageSize || y >= kImageSize)
    Fail("orvsim: cursor engine %u: pixel (%u, %u) outside the 64x64 image", engine, x, y);
  const uint32_t format = ImageFormat(engine);
  const uint64_t base = ImageBase(engine);
  const uint32_t rowBytes =
      format == kFormatTwoColour ? kTwoColourRowBytes : kSixteenColourRowBytes;
  if (format != kFormatTwoColour && format != kFormatSixteenColour)
    Fail("orvsim: cursor engine %u: image format %u is neither 4 nor 5", engine, format);
  if (base + uint64_t{kImageSize} * rowBytes > board_.LocalMemorySize())
    Fail("orvsim: cursor engine %u: image at 0x%llx outside local memory", engine,
         static_cast<unsigned long long>(base));
  const uint8_t* row = board_.LocalMemory() + base + uint64_t{y} * rowBytes;
  Pixel p{};
  if (format == kFormatTwoColour) {
    const bool colour = (row[x / 8] >> (x % 8)) & 1;
    const bool visible = (row[kTwoColourPlaneBytes + x / 8] >> (x % 8)) & 1;
    p.index = colour ? 1 : 0;
    p.alpha = visible ? kOpaque : 0;
  } else {
    // Plane k is two words; pixel x is bit x % 32 of word x / 32.
    auto bit = [&](unsigned plane) {
      uint32_t word;
      std::memcpy(&word, row + 8 * plane + 4 * (x / 32), 4);
      return (word >> (x % 32)) & 1;
    };
    for (unsigned k = 0; k < kIndexPlanes; ++k) p.index |= bit(k) << k;
    unsigned alpha = 0;
    for (unsigned k = 0; k < kAlphaPlanes; ++k) alpha |= bit(kIndexPlanes + k) << k;
    p.alpha = static_cast<uint8_t>(alpha << kAlphaLowBits);
  }
  p.colour = palette_[engine][p.index];
  return p;
}

}  // namespace orvsim
