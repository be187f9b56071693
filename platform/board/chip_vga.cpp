#include "platform/board/chip_vga.h"

#include "platform/board/chip_raster.h"

namespace orvsim {

namespace {

constexpr uint32_t kPorts[] = {
    kVgaAttribute, kVgaAttributeRead, kVgaMiscWrite,  kVgaSeqIndex,    kVgaSeqData,
    kVgaPixelMask, kVgaPaletteReadIndex, kVgaPaletteWriteIndex, kVgaPaletteData, kVgaMiscRead,
    kVgaGfxIndex,  kVgaGfxData,       kVgaCrtcIndex,  kVgaCrtcData,    kVgaInputStatus1,
    kVgaExtIndex,  kVgaExtData,
};

constexpr uint8_t kCrtcProtect = 0x80;      // register 0x11 bit 7
constexpr uint8_t kCrtcLastProtected = 0x07;
constexpr uint8_t kOverflowLineCompare = 0x10;  // register 0x07 bit 4 stays writable
constexpr uint8_t kStatusRetrace = 0x08;
constexpr uint8_t kStatusBlank = 0x01;
constexpr uint8_t kAttrIndexMask = 0x3F;  // index and the video-enable bit 5

}  // namespace

ChipVga::ChipVga(Board& board, ChipRaster* raster) : board_(board), raster_(raster) {
  for (uint32_t port : kPorts) {
    board_.SetReadHook(port, 1, [this, port](Board&, RegAccess, uint32_t) {
      return static_cast<uint32_t>(ReadPort(port));
    });
    board_.SetWriteHook(port, 1, [this, port](Board&, RegAccess, uint32_t value, uint32_t) {
      WritePort(port, static_cast<uint8_t>(value));
      return value;
    });
  }
}

ChipVga::~ChipVga() {
  for (uint32_t port : kPorts) board_.ClearHooks(port);
}

void ChipVga::Reset() {
  seq_.fill(0);
  crtc_.fill(0);
  ext_.fill(0);
  gfx_.fill(0);
  attr_.fill(0);
  for (auto& entry : palette_) entry.fill(0);
  misc_ = 0;
  seq_index_ = crtc_index_ = ext_index_ = gfx_index_ = attr_index_ = 0;
  attr_on_data_ = false;
  pixel_mask_ = 0xFF;
  pal_write_ = pal_write_part_ = pal_read_ = pal_read_part_ = 0;
}

uint8_t ChipVga::ReadPort(uint32_t port) {
  switch (port) {
    case kVgaAttribute:
      return attr_index_;
    case kVgaAttributeRead:
      return attr_[attr_index_ & 0x1F];
    case kVgaMiscRead:
    case kVgaMiscWrite:
      return misc_;
    case kVgaSeqIndex:
      return seq_index_;
    case kVgaSeqData:
      return Seq(seq_index_);
    case kVgaPixelMask:
      return pixel_mask_;
    case kVgaPaletteReadIndex:
      return pal_read_;
    case kVgaPaletteWriteIndex:
      return pal_write_;
    case kVgaPaletteData: {
      const uint8_t v = palette_[pal_read_][pal_read_part_];
      if (++pal_read_part_ == 3) {
        pal_read_part_ = 0;
        ++pal_read_;
      }
      return v;
    }
    case kVgaGfxIndex:
      return gfx_index_;
    case kVgaGfxData:
      return Gfx(gfx_index_);
    case kVgaCrtcIndex:
      return crtc_index_;
    case kVgaCrtcData:
      return Crtc(crtc_index_);
    case kVgaInputStatus1: {
      attr_on_data_ = false;
      uint8_t status = 0;
      if (raster_ != nullptr) {
        if (raster_->InVerticalSync(0)) status |= kStatusRetrace;
        if (raster_->InVerticalBlank(0)) status |= kStatusBlank;
      }
      return status;
    }
    case kVgaExtIndex:
      return ext_index_;
    case kVgaExtData:
      return ext_[ext_index_];
    default:
      return 0;
  }
}

void ChipVga::WriteCrtc(uint8_t index, uint8_t value) {
  const uint8_t i = index % crtc_.size();
  if (i <= kCrtcLastProtected && (crtc_[0x11] & kCrtcProtect)) {
    if (i == 0x07)
      crtc_[i] = static_cast<uint8_t>((crtc_[i] & ~kOverflowLineCompare) |
                                      (value & kOverflowLineCompare));
    Log(VgaBlock::kCrtc, i, value, true);
    return;
  }
  crtc_[i] = value;
  Log(VgaBlock::kCrtc, i, value);
}

void ChipVga::WritePort(uint32_t port, uint8_t value) {
  switch (port) {
    case kVgaAttribute:
      if (!attr_on_data_) {
        attr_index_ = value & kAttrIndexMask;
      } else {
        attr_[attr_index_ & 0x1F] = value;
        Log(VgaBlock::kAttribute, attr_index_ & 0x1F, value);
      }
      attr_on_data_ = !attr_on_data_;
      break;
    case kVgaMiscWrite:
      misc_ = value;
      Log(VgaBlock::kMisc, 0, value);
      break;
    case kVgaSeqIndex:
      seq_index_ = value;
      break;
    case kVgaSeqData:
      seq_[seq_index_ % seq_.size()] = value;
      Log(VgaBlock::kSequencer, seq_index_ % seq_.size(), value);
      break;
    case kVgaPixelMask:
      pixel_mask_ = value;
      break;
    case kVgaPaletteReadIndex:
      pal_read_ = value;
      pal_read_part_ = 0;
      break;
    case kVgaPaletteWriteIndex:
      pal_write_ = value;
      pal_write_part_ = 0;
      break;
    case kVgaPaletteData:
      palette_[pal_write_][pal_write_part_] = value;
      if (++pal_write_part_ == 3) {
        pal_write_part_ = 0;
        ++pal_write_;
      }
      break;
    case kVgaGfxIndex:
      gfx_index_ = value;
      break;
    case kVgaGfxData:
      gfx_[gfx_index_ % gfx_.size()] = value;
      Log(VgaBlock::kGraphics, gfx_index_ % gfx_.size(), value);
      break;
    case kVgaCrtcIndex:
      crtc_index_ = value;
      break;
    case kVgaCrtcData:
      WriteCrtc(crtc_index_, value);
      break;
    case kVgaExtIndex:
      ext_index_ = value;
      break;
    case kVgaExtData:
      ext_[ext_index_] = value;
      Log(VgaBlock::kExtension, ext_index_, value);
      break;
    default:
      break;  // input status 1 and the read-only ports keep nothing
  }
}

}  // namespace orvsim
