// The chip's VGA register file, at the legacy port number plus 0x1C00.
//
// - Index/data pairs: sequencer 0x1FC4/0x1FC5 (8 registers), graphics
//   controller 0x1FCE/0x1FCF (16), CRTC 0x1FD4/0x1FD5 (64), CRTC extensions
//   0x1FDE/0x1FDF (256). The index port reads back the index; a data port
//   reads and writes the indexed register. A word write to a pair reaches
//   the index and then the data.
// - CRTC register 0x11 bit 7 protects registers 0x00-0x07: while it is set,
//   writes to them are dropped, except bit 4 of 0x07 (line compare bit 8),
//   as on every VGA.
// - Attribute controller: one port 0x1FC0 for index and data, with a flip-
//   flop that alternates between them on every write; reading 0x1FDA (input
//   status 1) sets it back to index. 0x1FC0 reads the index byte (bit 5 is
//   the video-enable bit written with it), 0x1FC1 the indexed register (32).
// - Miscellaneous output: written at 0x1FC2, read at 0x1FCC.
// - Palette: 0x1FC8 sets the write index, 0x1FC7 the read index, 0x1FC9
//   moves red, green, blue of the entry and then steps to the next entry;
//   0x1FC6 is the pixel mask. The palette keeps 8 bits per component.
// - Input status 1 (0x1FDA): bit 3 while controller module 0 is in vertical
//   sync, bit 0 while it is in vertical blank (from ChipRaster when one is
//   given; both 0 without).
// - Control register 0x1C08 holds the regime: bit 0 VGA, bit 1 high
//   resolution; plain storage, 1 (VGA) on a cold chip (ColdRegime).
// - Every write to an indexed register (and to the miscellaneous output) is
//   logged in order, with whether the protection dropped it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

class ChipRaster;

inline constexpr uint32_t kVgaAttribute = 0x1FC0;
inline constexpr uint32_t kVgaAttributeRead = 0x1FC1;
inline constexpr uint32_t kVgaMiscWrite = 0x1FC2;
inline constexpr uint32_t kVgaSeqIndex = 0x1FC4;
inline constexpr uint32_t kVgaSeqData = 0x1FC5;
inline constexpr uint32_t kVgaPixelMask = 0x1FC6;
inline constexpr uint32_t kVgaPaletteReadIndex = 0x1FC7;
inline constexpr uint32_t kVgaPaletteWriteIndex = 0x1FC8;
inline constexpr uint32_t kVgaPaletteData = 0x1FC9;
inline constexpr uint32_t kVgaMiscRead = 0x1FCC;
inline constexpr uint32_t kVgaGfxIndex = 0x1FCE;
inline constexpr uint32_t kVgaGfxData = 0x1FCF;
inline constexpr uint32_t kVgaCrtcIndex = 0x1FD4;
inline constexpr uint32_t kVgaCrtcData = 0x1FD5;
inline constexpr uint32_t kVgaInputStatus1 = 0x1FDA;
inline constexpr uint32_t kVgaExtIndex = 0x1FDE;
inline constexpr uint32_t kVgaExtData = 0x1FDF;
inline constexpr uint32_t kChipRegRegime = 0x1C08;
inline constexpr uint32_t kRegimeVga = 1u << 0;
inline constexpr uint32_t kRegimeHires = 1u << 1;

enum class VgaBlock : uint8_t { kSequencer, kCrtc, kExtension, kGraphics, kAttribute, kMisc };

struct VgaWrite {
  VgaBlock block;
  uint8_t index;  // 0 for the miscellaneous output
  uint8_t value;
  bool dropped;  // a protected CRTC register kept its value
  bool operator==(const VgaWrite&) const = default;
};

class ChipVga {
 public:
  // `raster` (may be null) gives the status bits of 0x1FDA.
  explicit ChipVga(Board& board, ChipRaster* raster = nullptr);
  ~ChipVga();
  ChipVga(const ChipVga&) = delete;
  ChipVga& operator=(const ChipVga&) = delete;

  uint8_t Seq(unsigned i) const { return seq_[i % seq_.size()]; }
  uint8_t Crtc(unsigned i) const { return crtc_[i % crtc_.size()]; }
  uint8_t Ext(unsigned i) const { return ext_[i % ext_.size()]; }
  uint8_t Gfx(unsigned i) const { return gfx_[i % gfx_.size()]; }
  uint8_t Attr(unsigned i) const { return attr_[i % attr_.size()]; }
  uint8_t Misc() const { return misc_; }
  std::array<uint8_t, 3> Palette(unsigned i) const { return palette_[i & 0xFF]; }
  // True when the next write to 0x1FC0 is taken as data.
  bool AttributeFlipFlopOnData() const { return attr_on_data_; }

  // Test set-up: registers as they stand, no log.
  void SetSeq(unsigned i, uint8_t v) { seq_[i % seq_.size()] = v; }
  void SetCrtc(unsigned i, uint8_t v) { crtc_[i % crtc_.size()] = v; }
  void SetExt(unsigned i, uint8_t v) { ext_[i % ext_.size()] = v; }
  void SetAttr(unsigned i, uint8_t v) { attr_[i % attr_.size()] = v; }
  void SetGfx(unsigned i, uint8_t v) { gfx_[i % gfx_.size()] = v; }
  void SetMisc(uint8_t v) { misc_ = v; }

  const std::vector<VgaWrite>& Writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }

  // Every register back to 0 (what a chip reset does).
  void Reset();
  // A cold chip: VGA regime in 0x1C08.
  static void ColdRegime(Board& board) { board.Poke(kChipRegRegime, 4, kRegimeVga); }

 private:
  uint8_t ReadPort(uint32_t port);
  void WritePort(uint32_t port, uint8_t value);
  void WriteCrtc(uint8_t index, uint8_t value);
  void Log(VgaBlock block, uint8_t index, uint8_t value, bool dropped = false) {
    writes_.push_back({block, index, value, dropped});
  }

  Board& board_;
  ChipRaster* raster_;
  std::array<uint8_t, 8> seq_{};
  std::array<uint8_t, 64> crtc_{};
  std::array<uint8_t, 256> ext_{};
  std::array<uint8_t, 16> gfx_{};
  std::array<uint8_t, 32> attr_{};
  std::array<std::array<uint8_t, 3>, 256> palette_{};
  uint8_t misc_ = 0;
  uint8_t seq_index_ = 0, crtc_index_ = 0, ext_index_ = 0, gfx_index_ = 0, attr_index_ = 0;
  bool attr_on_data_ = false;
  uint8_t pixel_mask_ = 0xFF;
  uint8_t pal_write_ = 0, pal_write_part_ = 0;
  uint8_t pal_read_ = 0, pal_read_part_ = 0;
  std::vector<VgaWrite> writes_;
};

}  // namespace orvsim
