#include "platform/board/addon_chips.h"

namespace orvsim {

// ---- Velan ------------------------------------------------------------------

VelanEncoder::VelanEncoder(uint8_t address8, uint8_t version) : I2cSlave(address8 >> 1) {
  SetIndexAfterReadAddress(true);
  regs_[kVersionRegister] = version;
}

bool VelanEncoder::OnAddressed(bool read) {
  reading_ = read;
  index_next_ = true;
  return true;
}

bool VelanEncoder::OnWriteByte(uint8_t byte) {
  if (index_next_) {
    index_next_ = false;
    pointer_ = byte;
    if (reading_) read_indexes_.push_back(byte);
    return true;
  }
  regs_[pointer_] = byte;
  writes_.push_back(Write{pointer_, byte});
  ++pointer_;
  return true;
}

uint8_t VelanEncoder::OnReadByte() {
  uint8_t value = regs_[pointer_];
  if (pointer_ == kSenseRegister && !sense_script_.empty()) {
    value = sense_script_.front();
    if (sense_script_.size() > 1) sense_script_.pop_front();
  }
  ++pointer_;
  return value;
}

// ---- MSP ----------------------------------------------------------------------

namespace {
constexpr uint8_t kMspWriteDsp = 0x12;
constexpr uint8_t kMspReadDsp = 0x13;
constexpr uint8_t kMspControl = 0x00;
}  // namespace

MspAudio::MspAudio(uint8_t address8, uint16_t version1E, uint16_t version1F)
    : I2cSlave(address8 >> 1) {
  words_[0x1E] = version1E;
  words_[0x1F] = version1F;
}

bool MspAudio::OnAddressed(bool read) {
  if (read) {
    read_byte_ = 0;
  } else {
    command_.clear();
  }
  return true;
}

bool MspAudio::OnWriteByte(uint8_t byte) {
  command_.push_back(byte);
  const uint8_t op = command_[0];
  if (op == kMspReadDsp && command_.size() == 3) {
    read_reg_ = static_cast<uint16_t>((command_[1] << 8) | command_[2]);
  } else if (op == kMspWriteDsp && command_.size() == 5) {
    const uint16_t reg = static_cast<uint16_t>((command_[1] << 8) | command_[2]);
    const uint16_t value = static_cast<uint16_t>((command_[3] << 8) | command_[4]);
    words_[reg] = value;
    writes_.push_back(Write{reg, value});
  } else if (op == kMspControl && command_.size() == 3) {
    controls_.push_back(static_cast<uint16_t>((command_[1] << 8) | command_[2]));
  }
  return op == kMspReadDsp || op == kMspWriteDsp || op == kMspControl;
}

uint8_t MspAudio::OnReadByte() {
  const uint16_t word = words_[read_reg_];
  return static_cast<uint8_t>(read_byte_++ == 0 ? word >> 8 : word);
}

// ---- One-byte module ----------------------------------------------------------

OneByteModule::OneByteModule(uint8_t address8, uint8_t initial)
    : I2cSlave(address8 >> 1), value_(initial) {}

bool OneByteModule::OnWriteByte(uint8_t byte) {
  value_ = byte;
  writes_.push_back(byte);
  return true;
}

uint8_t OneByteModule::OnReadByte() {
  return static_cast<uint8_t>((value_ & ~input_mask_) | (input_value_ & input_mask_));
}

}  // namespace orvsim
