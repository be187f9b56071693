#include "platform/board/chip_rom_flash.h"

#include <algorithm>
#include <cstring>

namespace orvsim {

namespace {

constexpr uint32_t kBypass = 1u << 0;
constexpr uint32_t kClock = 1u << 4;
constexpr uint32_t kDataOut = 1u << 8;
constexpr uint32_t kChipSelectN = 1u << 12;
constexpr uint32_t kDataIn = 1u << 16;
constexpr size_t kFlashBytes = 0x20000;

}  // namespace

ChipRomFlash::ChipRomFlash(Board& board) : board_(board), flash_(kFlashBytes, 0xFF) {
  board_.Pci().SetWritable(kChipOptionConfig, 4, 0xFFFFFFFFu);
  board_.Pci().SetWriteHook([this](unsigned offset, unsigned width, uint32_t) {
    if (offset < kPciRomBar + 4 && offset + width > kPciRomBar) UpdateRomWindow();
    if (offset < kChipOptionConfig + 4 && offset + width > kChipOptionConfig) UpdateRomWindow();
    if (offset < kPciCommand + 2 && offset + width > kPciCommand) UpdateRomWindow();
  });
  board_.SetReadHook(kChipRegSpiPins, 4, [this](Board&, RegAccess access, uint32_t stored) {
    const uint32_t value = data_in_ ? stored | kDataIn : stored & ~kDataIn;
    return value >> (8 * (access.offset - kChipRegSpiPins));
  });
  board_.SetWriteHook(kChipRegSpiPins, 4,
                      [this](Board& b, RegAccess access, uint32_t value, uint32_t) {
                        const unsigned shift = 8 * (access.offset - kChipRegSpiPins);
                        const uint32_t mask = (access.width == 4 ? 0xFFFFFFFFu
                                                                 : ((1u << (8 * access.width)) - 1))
                                              << shift;
                        const uint32_t whole =
                            (b.Peek(kChipRegSpiPins, 4) & ~mask) | ((value << shift) & mask);
                        OnPins(whole & ~kDataIn);
                        return value & ~(kDataIn >> shift);
                      });
}

ChipRomFlash::~ChipRomFlash() {
  board_.ClearHooks(kChipRegSpiPins);
  board_.Pci().SetWriteHook(nullptr);
}

void ChipRomFlash::Reset() {
  visible_ = false;
  shown_at_ = 0;
  saved_.clear();
  kind_ = FlashKind::kAbsent;
  flash_.assign(kFlashBytes, 0xFF);
  commands_.clear();
  pins_ = 0;
  selected_ = false;
  in_.clear();
  shift_ = 0;
  bits_ = 0;
  out_.clear();
  out_pos_ = 0;
  out_bit_ = 0;
  reading_ = false;
  address_ = 0;
  data_in_ = true;
}

void ChipRomFlash::SetFlash(FlashKind kind, std::vector<uint8_t> contents) {
  SetFlash(kind, contents.data(), contents.size());
}

void ChipRomFlash::SetFlash(FlashKind kind, const uint8_t* contents, size_t size) {
  kind_ = kind;
  const size_t kept = std::min(size, kFlashBytes);
  if (kept != 0) std::copy_n(contents, kept, flash_.begin());
  std::fill(flash_.begin() + static_cast<std::ptrdiff_t>(kept), flash_.end(), uint8_t{0xFF});
}

I2cRegisterSlave& ChipRomFlash::AddConfigEeprom(unsigned port, uint8_t address,
                                                std::vector<uint8_t> contents) {
  contents.resize(256, 0xFF);
  return board_.I2c(port).Emplace<I2cRegisterSlave>(address, std::move(contents), true);
}

void ChipRomFlash::UpdateRomWindow() {
  PciFunction& pci = board_.Pci();
  const uint32_t rom = pci.Peek(kPciRomBar, 4);
  const bool on = board_.RomSize() != 0 && pci.MemoryDecode() && (rom & kPciRomEnable) &&
                  (pci.Peek(kChipOptionConfig, 4) & kChipOptionRomOverMemory);
  const uint64_t fb = pci.MemoryBarAddress(kFrameBufferBar);
  const uint64_t at = (rom & 0xFFFFF800u) - fb;
  const bool fits = (rom & 0xFFFFF800u) >= fb && at + board_.RomSize() <= board_.MemorySize();
  const bool show = on && fits;
  if (visible_ && (!show || at != shown_at_)) {
    std::memcpy(board_.Memory() + shown_at_, saved_.data(), saved_.size());
    visible_ = false;
  }
  if (show && !visible_) {
    shown_at_ = at;
    saved_.assign(board_.Memory() + at, board_.Memory() + at + board_.RomSize());
    std::memcpy(board_.Memory() + at, board_.Rom(), board_.RomSize());
    visible_ = true;
  }
}

void ChipRomFlash::OnPins(uint32_t value) {
  const uint32_t old = pins_;
  pins_ = value;
  const bool bypass = value & kBypass;
  const bool selected = bypass && !(value & kChipSelectN);
  if (!selected) {
    if (selected_) {  // end of a command
      selected_ = false;
      in_.clear();
      out_.clear();
      reading_ = false;
    }
    data_in_ = true;
    return;
  }
  if (!selected_) {
    selected_ = true;
    bits_ = 0;
    shift_ = 0;
    out_pos_ = 0;
    out_bit_ = 0;
  }
  const bool rising = (value & kClock) && !(old & kClock);
  if (!rising || kind_ == FlashKind::kAbsent) return;

  const bool answering = reading_ || out_pos_ < out_.size();
  if (answering) {
    uint8_t byte = 0xFF;
    if (reading_) {
      byte = flash_[address_ % flash_.size()];
    } else {
      byte = out_[out_pos_];
    }
    data_in_ = (byte >> (7 - out_bit_)) & 1;
    if (++out_bit_ == 8) {
      out_bit_ = 0;
      if (reading_)
        ++address_;
      else if (++out_pos_ == out_.size() && !in_.empty() && in_[0] == 0xAB)
        out_pos_ = 0;  // the identification repeats while selected
    }
    return;
  }
  shift_ = static_cast<uint8_t>((shift_ << 1) | ((value & kDataOut) ? 1 : 0));
  if (++bits_ < 8) return;
  bits_ = 0;
  in_.push_back(shift_);
  if (in_.size() == 1) commands_.push_back(shift_);
  const uint8_t command = in_[0];
  if (command == 0x15 && in_.size() == 1 && kind_ == FlashKind::kAtmel) {
    out_ = {0x1F, 0x60};
  } else if (command == 0xAB && in_.size() == 4) {
    switch (kind_) {
      case FlashKind::kSt: out_ = {0x10}; break;
      case FlashKind::kSst: out_ = {0xBF, 0x49}; break;
      case FlashKind::kPmc: out_ = {0x9D, 0x7C}; break;
      default: break;
    }
  } else if (command == 0x03 && in_.size() == 4) {
    address_ = (uint32_t{in_[1]} << 16) | (uint32_t{in_[2]} << 8) | in_[3];
    reading_ = true;
  }
}

}  // namespace orvsim
