// I2C buses as two open-drain wires.
//
// A wire is high unless something pulls it low: the master, a slave, a fault
// (a line stuck low) or, through a tie, anything on a wire joined to it. A
// bit-banging master therefore reads the real level, including a slave's
// acknowledge, a stretched clock or a shorted line.
//
// The master side is a call per change of its drivers (MasterDrive) and a
// call per read of a line (ReadScl, ReadSda); a chip model maps its register
// bits onto these calls. Slaves are I2cDevice objects on the bus; I2cSlave is
// the common engine (start and stop detection, address match, acknowledge,
// byte transfer, clock stretching, injected faults), I2cRegisterSlave adds a
// register pointer with sequential access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvsim {

class I2cBus;

class I2cWire {
 public:
  // Wired-AND of everything that drives this wire and the wires tied to it.
  bool Level() const;
  // A fault that holds the wire low (a shorted line, a hung device).
  void SetStuckLow(bool stuck);
  bool StuckLow() const { return stuck_low_; }
  I2cBus& Bus() const { return *bus_; }

 private:
  friend class I2cBus;
  friend void TieWires(I2cWire& a, I2cWire& b);
  friend void UntieWire(I2cWire& wire);
  I2cWire(I2cBus* bus, bool is_scl) : bus_(bus), is_scl_(is_scl) {}
  bool PulledLowHere() const;

  I2cBus* bus_;
  bool is_scl_;
  bool master_low_ = false;
  bool stuck_low_ = false;
  std::vector<I2cWire*> tied_;
};

// Joins two wires (the two lines of one bus, or lines of two buses): both
// then carry the wired-AND of everything on either. Ties are transitive.
void TieWires(I2cWire& a, I2cWire& b);
// Separates a wire from every wire it was tied to.
void UntieWire(I2cWire& wire);

// Anything on a bus besides the master.
class I2cDevice {
 public:
  virtual ~I2cDevice() = default;
  bool PullsSclLow() const { return scl_low_; }
  bool PullsSdaLow() const { return sda_low_; }

 protected:
  // The device joined a bus whose lines stand at these levels.
  virtual void OnAttached(bool scl, bool sda) {
    (void)scl;
    (void)sda;
  }
  // The levels of the bus changed; `scl` and `sda` are the new levels.
  virtual void OnLines(bool scl, bool sda) = 0;
  // The master made a call (drive or read); used to time clock stretching.
  virtual void OnMasterStep() {}
  void PullSclLow(bool low);
  void PullSdaLow(bool low);
  I2cBus* Bus() const { return bus_; }

 private:
  friend class I2cBus;
  I2cBus* bus_ = nullptr;
  bool scl_low_ = false;
  bool sda_low_ = false;
};

class I2cBus {
 public:
  explicit I2cBus(std::string name = "i2c");
  ~I2cBus();
  I2cBus(const I2cBus&) = delete;
  I2cBus& operator=(const I2cBus&) = delete;

  const std::string& Name() const { return name_; }

  // ---- Master side ----------------------------------------------------------
  // true releases a line (it floats high unless someone pulls it low), false
  // pulls it low. When a call changes both lines, SCL moves first when it
  // falls and last when it rises, so the call itself never makes a start or
  // a stop condition.
  void MasterDrive(bool scl, bool sda);
  void MasterDriveScl(bool scl);
  void MasterDriveSda(bool sda);
  bool MasterScl() const { return !scl_.master_low_; }
  bool MasterSda() const { return !sda_.master_low_; }
  // The level the master reads.
  bool ReadScl();
  bool ReadSda();

  // Levels without counting as a master step, for tests.
  bool SclLevel() const { return scl_.Level(); }
  bool SdaLevel() const { return sda_.Level(); }

  I2cWire& Scl() { return scl_; }
  I2cWire& Sda() { return sda_; }

  // ---- Devices --------------------------------------------------------------
  template <class T, class... Args>
  T& Emplace(Args&&... args) {
    auto device = std::make_unique<T>(std::forward<Args>(args)...);
    T& ref = *device;
    Attach(std::move(device));
    return ref;
  }
  I2cDevice& Attach(std::unique_ptr<I2cDevice> device);
  void Detach(I2cDevice* device);
  size_t DeviceCount() const { return devices_.size(); }

  // Propagates a change of any driver to every device of every bus joined to
  // this one through tied wires, until nothing changes.
  void Settle();

 private:
  friend class I2cWire;
  void MasterStep();

  std::string name_;
  I2cWire scl_{this, true};
  I2cWire sda_{this, false};
  std::vector<std::unique_ptr<I2cDevice>> devices_;
  bool seen_scl_ = true;
  bool seen_sda_ = true;
  bool settling_ = false;
};

// The slave engine. Subclasses say what the slave answers.
class I2cSlave : public I2cDevice {
 public:
  // `address` in 7-bit form (0x50 for the EDID EEPROM, seen as 0xA0/0xA1).
  explicit I2cSlave(uint8_t address);

  uint8_t Address() const { return address_; }

  // Faults and timing.
  // The n-th time (1-based) its address is sent, the slave does not answer.
  void NakAddressOnAttempt(unsigned attempt);
  // After each acknowledge bit (its own or the master's) the slave holds SCL
  // low for `master_steps` further calls of the master.
  void SetClockStretch(unsigned master_steps) { stretch_steps_ = master_steps; }

  // Counters for tests.
  unsigned AddressAttempts() const { return address_attempts_; }
  unsigned Starts() const { return starts_; }
  unsigned Stops() const { return stops_; }

 protected:
  // Some chips take their register index after the read address: the master
  // sends the read address, then one byte the slave receives (the index,
  // handed to OnWriteByte), and only then reads.
  void SetIndexAfterReadAddress(bool on) { index_after_read_ = on; }

  // A start or repeated start addressed this slave; answer whether to ACK.
  virtual bool OnAddressed(bool read) {
    (void)read;
    return true;
  }
  // A byte written by the master; answer whether to ACK.
  virtual bool OnWriteByte(uint8_t byte) = 0;
  // The next byte the master reads.
  virtual uint8_t OnReadByte() = 0;
  // A stop, or a start that ends a transfer addressed to this slave.
  virtual void OnTransferEnd() {}
  // The engine's own line handling; a slave that watches the lines too
  // calls it from its override.
  void OnLines(bool scl, bool sda) override;

 private:
  enum class State : uint8_t {
    kIdle,         // waiting for a start
    kReceiving,    // shifting in an address or data byte
    kAcking,       // driving its ACK (or releasing for a NAK) for one clock
    kSending,      // shifting out a data byte
    kMasterAck,    // the master's acknowledge clock after a sent byte
  };

  void OnAttached(bool scl, bool sda) override {
    scl_ = scl;
    sda_ = sda;
  }
  void OnMasterStep() override;
  void OnStartCondition();
  void OnStopCondition();
  void OnSclRise(bool sda);
  void OnSclFall();
  void DriveBit();
  void Stretch();

  uint8_t address_;
  std::vector<unsigned> nak_attempts_;
  unsigned stretch_steps_ = 0;
  unsigned stretch_left_ = 0;

  State state_ = State::kIdle;
  bool scl_ = true;
  bool sda_ = true;
  bool addressed_ = false;  // the current transfer is ours
  bool address_phase_ = false;
  bool reading_ = false;    // direction of the current transfer
  bool index_after_read_ = false;
  bool read_index_pending_ = false;  // a read transfer still expects its index byte
  bool ack_ = false;        // what we answer in kAcking, or what the master answered
  uint8_t shift_ = 0;
  unsigned bits_ = 0;
  unsigned address_attempts_ = 0;
  unsigned starts_ = 0;
  unsigned stops_ = 0;
};

// A slave with a register pointer: the first byte of a write sets the
// pointer, further written bytes are stored from there on (when writable);
// reads return the bytes from the pointer on. The pointer wraps at the end
// of the contents.
class I2cRegisterSlave : public I2cSlave {
 public:
  I2cRegisterSlave(uint8_t address, std::vector<uint8_t> contents, bool writable);

  unsigned Pointer() const { return pointer_; }
  const std::vector<uint8_t>& Contents() const { return contents_; }
  std::vector<uint8_t>& Contents() { return contents_; }
  unsigned BytesRead() const { return bytes_read_; }

 protected:
  bool OnAddressed(bool read) override;
  bool OnWriteByte(uint8_t byte) override;
  uint8_t OnReadByte() override;

 private:
  std::vector<uint8_t> contents_;
  bool writable_;
  unsigned pointer_ = 0;
  bool pointer_next_ = false;  // the next written byte is the pointer
  unsigned bytes_read_ = 0;
};

// The monitor's EDID EEPROM: 128 or 256 bytes at 0x50 (0xA0 on the wire),
// read-only. A read of 256 bytes from pointer 0 needs no segment pointer.
class EdidEeprom : public I2cRegisterSlave {
 public:
  static constexpr uint8_t kAddress = 0x50;

  // Up to 128 bytes make a 128-byte part, more a 256-byte part (bytes past
  // 256 are not reachable without a segment pointer and are dropped);
  // short contents are padded with 0xFF like an erased part. Empty contents
  // throw std::invalid_argument.
  explicit EdidEeprom(std::vector<uint8_t> edid);
  // The same part at another address (a panel's EDID at 0x51 or 0x53).
  EdidEeprom(std::vector<uint8_t> edid, uint8_t address);
  // Reads an EDID dump; throws std::runtime_error when it cannot.
  static std::vector<uint8_t> LoadFile(const std::string& path);
};

}  // namespace orvsim
