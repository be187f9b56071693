#include "platform/board/companion_chips.h"

namespace orvsim {

CompanionChip::CompanionChip(uint8_t address8)
    : I2cRegisterSlave(static_cast<uint8_t>(address8 >> 1), std::vector<uint8_t>(256, 0), true) {}

std::vector<I2cTransfer> CompanionChip::DataWrites() const {
  std::vector<I2cTransfer> out;
  for (const I2cTransfer& t : transfers_)
    if (!t.read && !t.bytes.empty()) out.push_back(t);
  return out;
}

bool CompanionChip::OnAddressed(bool read) {
  if (open_) OnTransferEnd();
  I2cRegisterSlave::OnAddressed(read);
  current_ = I2cTransfer{read, static_cast<uint8_t>(Pointer()), {}};
  open_ = true;
  pointer_pending_ = !read;
  return true;
}

bool CompanionChip::OnWriteByte(uint8_t byte) {
  const uint8_t reg = static_cast<uint8_t>(Pointer());
  const uint8_t old = Contents()[reg];
  I2cRegisterSlave::OnWriteByte(byte);
  if (pointer_pending_) {
    pointer_pending_ = false;
    current_.first = byte;
  } else {
    current_.bytes.push_back(byte);
    Written(reg, old, byte);
  }
  return true;
}

uint8_t CompanionChip::OnReadByte() {
  const uint8_t reg = static_cast<uint8_t>(Pointer());
  const uint8_t byte = ReadValue(reg, I2cRegisterSlave::OnReadByte());
  current_.bytes.push_back(byte);
  return byte;
}

void CompanionChip::OnTransferEnd() {
  if (!open_) return;
  open_ = false;
  transfers_.push_back(current_);
}

// ---- Encoder ----------------------------------------------------------------

bool EncoderChip::PinLevel(unsigned line, uint8_t gpio) const {
  const uint8_t direction = line == 0 ? 0x40 : 0x80;
  const uint8_t data = line == 0 ? 0x10 : 0x20;
  return (gpio & direction) ? gpio_input_[line] : (gpio & data) != 0;
}

uint8_t EncoderChip::ReadValue(uint8_t reg, uint8_t stored) {
  if (reg == kPllLockRegister && !lock_script_.empty()) {
    const size_t i = lock_reads_ < lock_script_.size() ? lock_reads_ : lock_script_.size() - 1;
    ++lock_reads_;
    return static_cast<uint8_t>(lock_script_[i] ? stored | kPllLockBit : stored & ~kPllLockBit);
  }
  if (reg == kPllLockRegister) ++lock_reads_;
  if (reg == kLvdsRegister && lvds_modelled_) {
    ++lvds_reads_;
    return static_cast<uint8_t>(LvdsLocked() ? stored | kLvdsLockBit : stored & ~kLvdsLockBit);
  }
  if (reg == kGpioRegister) {
    uint8_t v = stored;
    for (unsigned line = 0; line < 2; ++line) {
      const uint8_t direction = line == 0 ? 0x40 : 0x80;
      const uint8_t data = line == 0 ? 0x10 : 0x20;
      if (stored & direction) v = static_cast<uint8_t>(gpio_input_[line] ? v | data : v & ~data);
    }
    return v;
  }
  return stored;
}

void EncoderChip::Written(uint8_t reg, uint8_t old, uint8_t value) {
  if (reg == kLvdsRegister && lvds_modelled_ && (value & kLvdsLockBit) && !LvdsLocked()) ++lvds_restarts_;
  if (reg == kSenseRegister && (old & kSenseStart) && !(value & kSenseStart))
    SetRegister(kSenseRegister, static_cast<uint8_t>((value & ~kSenseBits) | sense_result_));
  if (reg == kGpioRegister) {
    for (unsigned line = 0; line < 2; ++line) {
      const bool level = PinLevel(line, value);
      std::vector<bool>& h = gpio_history_[line];
      if (h.empty() || h.back() != level) h.push_back(level);
    }
  }
}

unsigned EncoderChip::GpioRisingEdges(unsigned line) const {
  const std::vector<bool>& h = gpio_history_[line & 1];
  unsigned edges = 0;
  for (size_t i = 1; i < h.size(); ++i)
    if (!h[i - 1] && h[i]) ++edges;
  return edges;
}

// ---- Transmitter ------------------------------------------------------------

namespace {
struct TransmitterIdentity {
  uint8_t device, revision, variant;
};
// Registers 2, 6 and 7 of kinds 0..3.
constexpr TransmitterIdentity kTransmitterIdentities[4] = {
    {6, 0x00, 0x00}, {8, 0x00, 0x00}, {6, 20, 0x00}, {6, 0x00, 0xA5}};
constexpr uint8_t kTransmitterVendor = 0x01;
}  // namespace

TransmitterChip::TransmitterChip(uint8_t address8, unsigned kind) : CompanionChip(address8) {
  const TransmitterIdentity& id = kTransmitterIdentities[kind < 4 ? kind : 0];
  SetRegister(kVendorRegister, kTransmitterVendor);
  SetRegister(kDeviceRegister, id.device);
  SetRegister(kRevisionRegister, id.revision);
  SetRegister(kVariantRegister, id.variant);
}

void TransmitterChip::Written(uint8_t reg, uint8_t old, uint8_t value) {
  (void)value;
  if (reg < kIdentityRegisters) SetRegister(reg, old);
}

}  // namespace orvsim
