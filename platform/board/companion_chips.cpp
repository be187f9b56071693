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
  I2cRegisterSlave::OnWriteByte(byte);
  if (pointer_pending_) {
    pointer_pending_ = false;
    current_.first = byte;
  } else {
    current_.bytes.push_back(byte);
  }
  return true;
}

uint8_t CompanionChip::OnReadByte() {
  const uint8_t byte = I2cRegisterSlave::OnReadByte();
  current_.bytes.push_back(byte);
  return byte;
}

void CompanionChip::OnTransferEnd() {
  if (!open_) return;
  open_ = false;
  transfers_.push_back(current_);
}

}  // namespace orvsim
