#include "platform/board/i2c.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/board/fail.h"

namespace orvsim {

namespace {

// Passes of a settle before the lines are declared to oscillate.
constexpr int kMaxSettlePasses = 64;

}  // namespace

// ---- Wires ------------------------------------------------------------------

bool I2cWire::PulledLowHere() const {
  if (master_low_ || stuck_low_) return true;
  for (const auto& device : bus_->devices_)
    if (is_scl_ ? device->PullsSclLow() : device->PullsSdaLow()) return true;
  return false;
}

bool I2cWire::Level() const {
  if (tied_.empty()) return !PulledLowHere();
  std::vector<const I2cWire*> group{this};
  for (size_t i = 0; i < group.size(); ++i) {
    if (group[i]->PulledLowHere()) return false;
    for (const I2cWire* other : group[i]->tied_)
      if (std::find(group.begin(), group.end(), other) == group.end()) group.push_back(other);
  }
  return true;
}

void I2cWire::SetStuckLow(bool stuck) {
  if (stuck_low_ == stuck) return;
  stuck_low_ = stuck;
  bus_->Settle();
}

void TieWires(I2cWire& a, I2cWire& b) {
  if (&a == &b) return;
  if (std::find(a.tied_.begin(), a.tied_.end(), &b) == a.tied_.end()) {
    a.tied_.push_back(&b);
    b.tied_.push_back(&a);
  }
  a.bus_->Settle();
}

void UntieWire(I2cWire& wire) {
  std::vector<I2cWire*> others = wire.tied_;
  for (I2cWire* other : others) {
    auto& back = other->tied_;
    back.erase(std::remove(back.begin(), back.end(), &wire), back.end());
  }
  wire.tied_.clear();
  wire.bus_->Settle();
  for (I2cWire* other : others) other->bus_->Settle();
}

// ---- Devices ----------------------------------------------------------------

void I2cDevice::PullSclLow(bool low) {
  if (scl_low_ == low) return;
  scl_low_ = low;
  if (bus_) bus_->Settle();
}

void I2cDevice::PullSdaLow(bool low) {
  if (sda_low_ == low) return;
  sda_low_ = low;
  if (bus_) bus_->Settle();
}

// ---- Bus --------------------------------------------------------------------

I2cBus::I2cBus(std::string name) : name_(std::move(name)) {}

I2cBus::~I2cBus() {
  // Other buses must not keep pointers to these wires.
  for (I2cWire* wire : {&scl_, &sda_}) {
    for (I2cWire* other : wire->tied_) {
      auto& back = other->tied_;
      back.erase(std::remove(back.begin(), back.end(), wire), back.end());
    }
    wire->tied_.clear();
  }
  for (auto& device : devices_) device->bus_ = nullptr;
}

I2cDevice& I2cBus::Attach(std::unique_ptr<I2cDevice> device) {
  if (!device) throw std::invalid_argument("no I2C device to attach");
  if (device->bus_) throw std::invalid_argument("I2C device is already on a bus");
  device->bus_ = this;
  devices_.push_back(std::move(device));
  I2cDevice& ref = *devices_.back();
  ref.OnAttached(scl_.Level(), sda_.Level());
  Settle();
  return ref;
}

void I2cBus::Detach(I2cDevice* device) {
  auto it = std::find_if(devices_.begin(), devices_.end(),
                         [device](const auto& owned) { return owned.get() == device; });
  if (it == devices_.end()) return;
  devices_.erase(it);
  Settle();
}

void I2cBus::Settle() {
  if (settling_) return;  // the running settle sees the change on its next pass
  std::vector<I2cBus*> group{this};
  for (size_t i = 0; i < group.size(); ++i)
    for (const I2cWire* wire : {&group[i]->scl_, &group[i]->sda_})
      for (const I2cWire* other : wire->tied_)
        if (std::find(group.begin(), group.end(), other->bus_) == group.end())
          group.push_back(other->bus_);

  for (I2cBus* bus : group) bus->settling_ = true;
  for (int pass = 0;; ++pass) {
    bool changed = false;
    for (I2cBus* bus : group) {
      const bool scl = bus->scl_.Level();
      const bool sda = bus->sda_.Level();
      if (scl == bus->seen_scl_ && sda == bus->seen_sda_) continue;
      bus->seen_scl_ = scl;
      bus->seen_sda_ = sda;
      changed = true;
      for (size_t d = 0; d < bus->devices_.size(); ++d) bus->devices_[d]->OnLines(scl, sda);
    }
    if (!changed) break;
    if (pass == kMaxSettlePasses)
      Fail("I2C bus '%s': the lines keep changing and never settle", name_.c_str());
  }
  for (I2cBus* bus : group) bus->settling_ = false;
}

void I2cBus::MasterStep() {
  for (size_t d = 0; d < devices_.size(); ++d) devices_[d]->OnMasterStep();
}

void I2cBus::MasterDrive(bool scl, bool sda) {
  const bool scl_changes = scl != MasterScl();
  if (scl_changes && scl) {
    // Rising clock: data first, so the call makes no start or stop.
    sda_.master_low_ = !sda;
    Settle();
    scl_.master_low_ = false;
    Settle();
  } else {
    scl_.master_low_ = !scl;
    Settle();
    sda_.master_low_ = !sda;
    Settle();
  }
  MasterStep();
}

void I2cBus::MasterDriveScl(bool scl) { MasterDrive(scl, MasterSda()); }
void I2cBus::MasterDriveSda(bool sda) { MasterDrive(MasterScl(), sda); }

bool I2cBus::ReadScl() {
  const bool level = scl_.Level();
  MasterStep();
  return level;
}

bool I2cBus::ReadSda() {
  const bool level = sda_.Level();
  MasterStep();
  return level;
}

// ---- Slave engine -----------------------------------------------------------

I2cSlave::I2cSlave(uint8_t address) : address_(address) {
  if (address > 0x7F) throw std::invalid_argument("I2C addresses have 7 bits");
}

void I2cSlave::NakAddressOnAttempt(unsigned attempt) { nak_attempts_.push_back(attempt); }

void I2cSlave::OnLines(bool scl, bool sda) {
  const bool old_scl = scl_;
  const bool old_sda = sda_;
  if (scl == old_scl) {
    sda_ = sda;
    if (scl && sda != old_sda) {
      if (!sda)
        OnStartCondition();
      else
        OnStopCondition();
    }
    return;
  }
  // A clock edge; a data change at the same moment counts as made while the
  // clock was low.
  if (!scl) {
    scl_ = false;
    OnSclFall();
    sda_ = sda;
  } else {
    sda_ = sda;
    scl_ = true;
    OnSclRise(sda);
  }
}

void I2cSlave::OnStartCondition() {
  ++starts_;
  if (addressed_) OnTransferEnd();
  addressed_ = false;
  address_phase_ = true;
  state_ = State::kReceiving;
  bits_ = 0;
  shift_ = 0;
  PullSdaLow(false);
}

void I2cSlave::OnStopCondition() {
  ++stops_;
  if (addressed_) OnTransferEnd();
  addressed_ = false;
  state_ = State::kIdle;
  PullSdaLow(false);
}

void I2cSlave::OnSclRise(bool sda) {
  switch (state_) {
    case State::kReceiving:
      if (bits_ < 8) {
        shift_ = static_cast<uint8_t>((shift_ << 1) | (sda ? 1 : 0));
        ++bits_;
      }
      break;
    case State::kMasterAck:
      ack_ = !sda;
      break;
    default:
      break;
  }
}

void I2cSlave::OnSclFall() {
  switch (state_) {
    case State::kIdle:
      break;
    case State::kReceiving:
      if (bits_ < 8) break;
      if (address_phase_) {
        address_phase_ = false;
        if ((shift_ >> 1) != address_) {
          state_ = State::kIdle;  // someone else's transfer
          break;
        }
        ++address_attempts_;
        reading_ = (shift_ & 1) != 0;
        read_index_pending_ = reading_ && index_after_read_;
        const bool refuse = std::find(nak_attempts_.begin(), nak_attempts_.end(),
                                      address_attempts_) != nak_attempts_.end();
        ack_ = !refuse && OnAddressed(reading_);
        addressed_ = ack_;
      } else {
        ack_ = OnWriteByte(shift_);
        read_index_pending_ = false;
      }
      state_ = State::kAcking;
      PullSdaLow(ack_);
      break;
    case State::kAcking:
      // The acknowledge clock is over.
      PullSdaLow(false);
      if (!ack_) {
        state_ = State::kIdle;
        break;
      }
      if (reading_ && !read_index_pending_) {
        shift_ = OnReadByte();
        bits_ = 0;
        state_ = State::kSending;
        DriveBit();
      } else {
        shift_ = 0;
        bits_ = 0;
        state_ = State::kReceiving;
      }
      Stretch();
      break;
    case State::kSending:
      if (++bits_ < 8) {
        DriveBit();
      } else {
        PullSdaLow(false);
        ack_ = false;
        state_ = State::kMasterAck;
      }
      break;
    case State::kMasterAck:
      if (ack_) {
        shift_ = OnReadByte();
        bits_ = 0;
        state_ = State::kSending;
        DriveBit();
        Stretch();
      } else {
        state_ = State::kIdle;  // the master has read enough; a stop follows
      }
      break;
  }
}

void I2cSlave::DriveBit() { PullSdaLow(((shift_ >> (7 - bits_)) & 1) == 0); }

void I2cSlave::Stretch() {
  if (stretch_steps_ == 0) return;
  // The master call that ended the acknowledge is still running; count from
  // the next one.
  stretch_left_ = stretch_steps_ + 1;
  PullSclLow(true);
}

void I2cSlave::OnMasterStep() {
  if (stretch_left_ && --stretch_left_ == 0) PullSclLow(false);
}

// ---- Register slave and EEPROM ----------------------------------------------

I2cRegisterSlave::I2cRegisterSlave(uint8_t address, std::vector<uint8_t> contents, bool writable)
    : I2cSlave(address), contents_(std::move(contents)), writable_(writable) {
  if (contents_.empty()) throw std::invalid_argument("an I2C register slave needs contents");
}

bool I2cRegisterSlave::OnAddressed(bool read) {
  if (!read) pointer_next_ = true;
  return true;
}

bool I2cRegisterSlave::OnWriteByte(uint8_t byte) {
  if (pointer_next_) {
    pointer_next_ = false;
    pointer_ = byte % contents_.size();
    return true;
  }
  if (writable_) contents_[pointer_] = byte;
  pointer_ = (pointer_ + 1) % contents_.size();
  return true;
}

uint8_t I2cRegisterSlave::OnReadByte() {
  const uint8_t byte = contents_[pointer_];
  pointer_ = (pointer_ + 1) % contents_.size();
  ++bytes_read_;
  return byte;
}

namespace {

std::vector<uint8_t> EepromImage(std::vector<uint8_t> edid) {
  if (edid.empty()) throw std::invalid_argument("an EDID EEPROM needs contents");
  edid.resize(edid.size() <= 128 ? 128 : 256, 0xFF);
  return edid;
}

}  // namespace

EdidEeprom::EdidEeprom(std::vector<uint8_t> edid) : EdidEeprom(std::move(edid), kAddress) {}

EdidEeprom::EdidEeprom(std::vector<uint8_t> edid, uint8_t address)
    : I2cRegisterSlave(address, EepromImage(std::move(edid)), false) {}

std::vector<uint8_t> EdidEeprom::LoadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open EDID file " + path);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (file.bad()) throw std::runtime_error("cannot read EDID file " + path);
  if (bytes.empty()) throw std::runtime_error("EDID file " + path + " is empty");
  return bytes;
}

}  // namespace orvsim
