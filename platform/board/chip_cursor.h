// The chip's two hardware cursor engines (display controllers 0 and 1) and
// the hot-plug interrupt register.
//
// - Cursor engine c has its block at 0x18C0 + 0x200 x c: palette data
//   (0x18C0, colour 0x00RRGGBB of the entry the last control write
//   selected), control (0x18C4: bits 0-7 the mode, 0 off, 3 two-colour
//   image, 4 sixteen-colour image; bits 8 and up the palette entry for the
//   next palette-data write), position (0x18C8: X in bits 14-28, Y in bits
//   0-13), image base (0x18CC) and image format (0x18D0, code << 24). The
//   engine shows the cursor while its mode is not 0.
// - The image lies in local memory at the image base: format 5, 64 rows of
//   32 bytes, each row a 64-bit colour plane then a 64-bit visibility plane
//   (pixel c is bit c % 8 of byte c / 8 of a plane; the last 16 bytes are
//   not read); format 4, 64 rows of 128 bytes, each row nine planes of two
//   32-bit words (pixel c is bit c % 32 of word c / 32): palette index bits
//   0-3, then alpha bits 3-7 (alpha bits 0-2 read as 0).
// - The display-controller word of each engine's controller (0x1888,
//   0x1A88) is stored as written; the driver changes it by read-modify-write.
// - The status bit the cursor waits for before a position update (0x450 bit
//   22) belongs to the DMA engine's status register (chip_dma.h), which can
//   hold it clear.
// - Hot plug (0x1E18): bit 12 reads set while a hot-plug interrupt is
//   pending (RaiseHotPlug); writing the bit as 1 acknowledges it, writing 0
//   leaves it. The other bits are stored.
#pragma once

#include <array>
#include <cstdint>

#include "platform/board/board.h"

namespace orvsim {

class ChipCursor {
 public:
  static constexpr uint32_t kRegPalette = 0x18C0;
  static constexpr uint32_t kRegControl = 0x18C4;
  static constexpr uint32_t kRegPosition = 0x18C8;
  static constexpr uint32_t kRegImageBase = 0x18CC;
  static constexpr uint32_t kRegImageFormat = 0x18D0;
  static constexpr uint32_t kRegController = 0x1888;
  static constexpr uint32_t kFormatTwoColour = 5;
  static constexpr uint32_t kFormatSixteenColour = 4;
  static constexpr unsigned kImageSize = 64;
  static constexpr uint32_t kEngineStride = 0x200;
  static constexpr unsigned kEngines = 2;
  static constexpr unsigned kPaletteEntries = 16;
  static constexpr uint32_t kRegHotPlug = 0x1E18;
  static constexpr uint32_t kHotPlugPending = 1u << 12;

  explicit ChipCursor(Board& board);
  ~ChipCursor();
  ChipCursor(const ChipCursor&) = delete;
  ChipCursor& operator=(const ChipCursor&) = delete;

  uint32_t Mode(unsigned engine) const;
  bool Shown(unsigned engine) const { return Mode(engine) != 0; }
  uint32_t Palette(unsigned engine, unsigned entry) const { return palette_[engine][entry]; }
  uint32_t X(unsigned engine) const;
  uint32_t Y(unsigned engine) const;
  uint32_t ImageBase(unsigned engine) const;
  uint32_t ImageFormat(unsigned engine) const;  // the code, bits 24 and up
  uint32_t ControllerWord(unsigned engine) const;

  // One pixel of the image as the engine would show it, read from local
  // memory at the image base in the image format. A two-colour pixel takes
  // palette entry 1 (colour plane set) or 0 and alpha 0xFF where visible,
  // else alpha 0; a sixteen-colour pixel takes its index's palette entry
  // and alpha. Another format, or an image outside local memory, ends the
  // test.
  struct Pixel {
    unsigned index;
    uint32_t colour;
    uint8_t alpha;
    bool operator==(const Pixel&) const = default;
  };
  Pixel ImagePixel(unsigned engine, unsigned x, unsigned y) const;

  void RaiseHotPlug() { hotplug_pending_ = true; }
  bool HotPlugPending() const { return hotplug_pending_; }
  unsigned HotPlugAcknowledges() const { return hotplug_acks_; }

 private:
  Board& board_;
  std::array<std::array<uint32_t, kPaletteEntries>, kEngines> palette_{};
  bool hotplug_pending_ = false;
  unsigned hotplug_acks_ = 0;
};

}  // namespace orvsim
