// Configuration space of one PCI function.
//
// A function keeps its configuration bytes and, beside them, a mask of the
// bits that a configuration write may change. Base address registers,
// command bits, bus numbers and capability control words all follow from
// that mask: writing all-ones to a base address register reads back the
// size mask with the read-only type bits, and writing the old value back
// restores it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <utility>

namespace orvsim {

struct PciLocation {
  unsigned bus = 0;
  unsigned device = 0;
  unsigned function = 0;

  bool operator==(const PciLocation&) const = default;
  // The tag form: function in bits 0-2, device in bits 3-7, bus in 8-15.
  uint32_t Tag() const { return (bus << 8) | (device << 3) | function; }
  std::string ToString() const;  // "01:02.0"
};

// Standard configuration registers, by offset.
inline constexpr unsigned kPciVendorId = 0x00;
inline constexpr unsigned kPciDeviceId = 0x02;
inline constexpr unsigned kPciCommand = 0x04;
inline constexpr unsigned kPciStatus = 0x06;
inline constexpr unsigned kPciRevision = 0x08;
inline constexpr unsigned kPciClassCode = 0x09;  // three bytes: prog-if, subclass, class
inline constexpr unsigned kPciCacheLineSize = 0x0C;
inline constexpr unsigned kPciLatencyTimer = 0x0D;
inline constexpr unsigned kPciHeaderType = 0x0E;
inline constexpr unsigned kPciBar0 = 0x10;
inline constexpr unsigned kPciSubsystemVendorId = 0x2C;
inline constexpr unsigned kPciSubsystemId = 0x2E;
inline constexpr unsigned kPciRomBar = 0x30;
inline constexpr unsigned kPciCapabilityPointer = 0x34;
inline constexpr unsigned kPciInterruptLine = 0x3C;
inline constexpr unsigned kPciInterruptPin = 0x3D;
// Bridges (header type 1).
inline constexpr unsigned kPciPrimaryBus = 0x18;
inline constexpr unsigned kPciSecondaryBus = 0x19;
inline constexpr unsigned kPciSubordinateBus = 0x1A;
inline constexpr unsigned kPciBridgeRomBar = 0x38;

inline constexpr uint16_t kPciCommandIo = 0x0001;
inline constexpr uint16_t kPciCommandMemory = 0x0002;
inline constexpr uint16_t kPciCommandMaster = 0x0004;
inline constexpr uint16_t kPciStatusCapList = 0x0010;
inline constexpr uint8_t kPciHeaderMultiFunction = 0x80;
inline constexpr uint32_t kPciRomEnable = 0x1;

// Capability ids.
inline constexpr uint8_t kPciCapPowerManagement = 0x01;
inline constexpr uint8_t kPciCapAgp = 0x02;
inline constexpr uint8_t kPciCapExpress = 0x10;

// Class code of a host bridge (class 6, subclass 0).
inline constexpr uint32_t kPciClassHostBridge = 0x060000;

// Configuration-space size of a conventional function and of an express one.
inline constexpr unsigned kPciConfigSize = 256;
inline constexpr unsigned kPciExpressConfigSize = 4096;

class PciFunction {
 public:
  // config_size: kPciConfigSize or kPciExpressConfigSize. Everything starts
  // zero and read-only.
  explicit PciFunction(unsigned config_size = kPciConfigSize);
  virtual ~PciFunction() = default;
  PciFunction(const PciFunction&) = delete;
  PciFunction& operator=(const PciFunction&) = delete;

  unsigned ConfigSize() const { return static_cast<unsigned>(bytes_.size()); }

  // What the bus does. Offsets past the function's space read all-ones and
  // ignore writes; the bus has already checked width and alignment.
  uint32_t ConfigRead(unsigned offset, unsigned width) const;
  void ConfigWrite(unsigned offset, unsigned width, uint32_t value);

  // Raw access for tests and models: no mask, no hook.
  uint32_t Peek(unsigned offset, unsigned width) const;
  void Poke(unsigned offset, unsigned width, uint32_t value);
  // Which bits a configuration write may change (little-endian, like the
  // value).
  void SetWritable(unsigned offset, unsigned width, uint32_t mask);
  uint32_t Writable(unsigned offset, unsigned width) const;

  // Called after every configuration write has been applied, with the
  // write as the bus saw it. Chip models use it for registers with effects.
  using WriteHook = std::function<void(unsigned offset, unsigned width, uint32_t value)>;
  void SetWriteHook(WriteHook hook) { write_hook_ = std::move(hook); }
  // A further hook, called after the one above, for a second chip model on
  // the same function; RemoveExtraWriteHook takes it away by its number.
  unsigned AddExtraWriteHook(WriteHook hook);
  void RemoveExtraWriteHook(unsigned id);

  uint16_t VendorId() const { return static_cast<uint16_t>(Peek(kPciVendorId, 2)); }
  uint16_t DeviceId() const { return static_cast<uint16_t>(Peek(kPciDeviceId, 2)); }
  uint16_t Command() const { return static_cast<uint16_t>(Peek(kPciCommand, 2)); }
  bool MemoryDecode() const { return (Command() & kPciCommandMemory) != 0; }
  bool IoDecode() const { return (Command() & kPciCommandIo) != 0; }
  uint8_t HeaderType() const { return static_cast<uint8_t>(Peek(kPciHeaderType, 1)); }

  // Sets up a memory base address register at `offset` (and offset + 4 for a
  // 64-bit one) for a power-of-two size of at least 16 bytes.
  void DefineMemoryBar(unsigned offset, uint64_t size, bool is_64bit, bool prefetchable,
                       uint64_t base);
  // An expansion ROM base register at `offset` (0x30, or 0x38 on bridges),
  // size a power of two of at least 2 KiB; enable bit clear.
  void DefineRomBar(unsigned offset, uint32_t size, uint32_t base);
  // Current address in a memory base register (both halves of a 64-bit one).
  uint64_t MemoryBarAddress(unsigned offset) const;

  // Writes the capability list: ids in list order, each placed at the next
  // free 8-byte aligned offset from `first_offset`, 0x34 pointing at the
  // first and status bit 4 set. An empty list clears both.
  void BuildCapabilities(const std::vector<uint8_t>& ids, unsigned first_offset = 0x60);
  // Offset of the capability with this id, 0 when absent.
  unsigned FindCapability(uint8_t id) const;

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> writable_;
  WriteHook write_hook_;
  std::vector<std::pair<unsigned, WriteHook>> extra_hooks_;
  unsigned next_extra_hook_ = 1;
};

}  // namespace orvsim
