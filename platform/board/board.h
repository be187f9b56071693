// One simulated Kestrion board: its PCI function, its register window, its
// frame-buffer memory and its expansion ROM.
//
// The register window is a plain byte array. Chip models attach behaviour
// to single registers through read and write hooks; an access that touches
// no hooked byte costs an array access and one flag test. Every register
// read and write advances the simulation's clock; a run of register reads
// without any write in between is a poll, and a poll longer than the
// watchdog bound ends the test.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/board/clock.h"
#include "platform/board/pci_function.h"

namespace orvsim {

class ChipLinePins;
class I2cBus;

inline constexpr uint16_t kKestrionVendorId = 0x1E7A;
// The five supported chips.
inline constexpr uint16_t kDeviceKestrion1 = 0x0A41;
inline constexpr uint16_t kDeviceKestrion2 = 0x0A42;
inline constexpr uint16_t kDeviceKestrionNext1 = 0x5D61;
inline constexpr uint16_t kDeviceKestrionNext2 = 0x5D62;
inline constexpr uint16_t kDeviceKestrionNext3 = 0x5D63;

inline constexpr uint32_t kClassVgaDisplay = 0x030000;
inline constexpr uint32_t kClassOtherDisplay = 0x038000;

inline constexpr uint32_t kDefaultRegisterWindowSize = 8192;
// The chip's local memory has two banks of half the memory each; the second
// starts at this local address.
inline constexpr uint64_t kLocalBankB = 0x8000000;
// Register 7620, the display configuration word (BoardConfig::display_config).
inline constexpr uint32_t kRegDisplayConfig = 0x1DC4;
inline constexpr uint64_t kDefaultWatchdogReads = 20000000;

// Where a board's resources sit in configuration space. The frame buffer is
// the first base address register; the register window follows it (0x14,
// or 0x18 behind a 64-bit frame-buffer register).
inline constexpr unsigned kFrameBufferBar = 0x10;
inline constexpr unsigned kRegisterBar32 = 0x14;
inline constexpr unsigned kRegisterBar64 = 0x18;
// A read-only chip configuration dword past the capabilities; its value is
// the board's (BoardConfig::config_f4). The kernel module reads it once.
inline constexpr unsigned kPciChipConfigF4 = 0xF4;

struct BoardConfig {
  std::string name;  // for messages; "board<N>" when empty
  uint16_t vendor_id = kKestrionVendorId;
  uint16_t device_id = kDeviceKestrion1;
  uint8_t revision = 0;
  uint32_t class_code = kClassVgaDisplay;  // class, subclass, prog-if
  uint16_t subsystem_vendor_id = kKestrionVendorId;
  uint16_t subsystem_id = 0;
  uint16_t command = kPciCommandIo | kPciCommandMemory;
  uint8_t interrupt_pin = 1;

  uint64_t memory_size = 32u << 20;  // a power of two, 1 MiB .. 1 GiB
  uint32_t register_window_size = kDefaultRegisterWindowSize;
  bool frame_buffer_64bit = false;
  bool frame_buffer_prefetchable = true;

  // Configuration dword 0xF4 (read-only).
  uint32_t config_f4 = 0;

  // The two partitions of local memory: partition 0 from local address 0,
  // partition 1 from kLocalBankB. Unset: memory_size / 2 each (the two
  // halves). Each at most kLocalBankB and whole pages; partition 1 may be 0.
  // memory_size stays the frame-buffer range (the host aperture), which may
  // be smaller than the partitions together.
  std::optional<uint64_t> partition0_size;
  std::optional<uint64_t> partition1_size;
  // Register 7620 (0x1DC4) as the chip comes up: bit 3 gives it a third
  // vertical-blank source.
  uint32_t display_config = 0;

  // Expansion ROM: none when rom_size is 0; the image is padded with 0xFF.
  uint32_t rom_size = 0;
  std::vector<uint8_t> rom_image;

  // Capability ids in list order (kPciCapPowerManagement, kPciCapAgp,
  // kPciCapExpress). A list with the express capability gets a 4 KiB
  // configuration space.
  std::vector<uint8_t> capabilities;

  // Where the board sits; the first free device on bus 0 when unset.
  std::optional<PciLocation> location;
  // Physical bases; 0 lets the simulation choose.
  uint64_t frame_buffer_base = 0;
  uint64_t register_base = 0;
  uint32_t rom_base = 0;
};

enum class RegOp : uint8_t { kRead, kWrite };

struct RegAccessRecord {
  RegOp op;
  uint8_t width;
  uint32_t offset;
  uint32_t value;
  uint64_t time_ns;  // clock after the access
  bool operator==(const RegAccessRecord&) const = default;
};

// The part of an access that falls on one hook.
struct RegAccess {
  uint32_t offset;
  unsigned width;
};

class Board;
// Gives the value that the access reads; `stored` is what the window holds.
using RegReadHook = std::function<uint32_t(Board& board, RegAccess access, uint32_t stored)>;
// Gives the value to store for the written `value`; `stored` is the old one.
using RegWriteHook =
    std::function<uint32_t(Board& board, RegAccess access, uint32_t value, uint32_t stored)>;

// A base address range as configuration space describes it now.
enum class ResourceKind : uint8_t { kRegisters, kMemory, kRom };
struct BarInfo {
  ResourceKind kind;
  unsigned config_offset;
  uint64_t base;
  uint64_t size;
  bool decoded;  // memory decoding on (and, for the ROM, its enable bit)
};

class Board {
 public:
  // `clock` must outlive the board; `index` only names it in messages.
  Board(const BoardConfig& config, Clock* clock, unsigned index = 0);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  const BoardConfig& Config() const { return config_; }
  const std::string& Name() const { return name_; }
  unsigned Index() const { return index_; }
  PciLocation Location() const { return location_; }
  void SetLocation(const PciLocation& at) { location_ = at; }
  PciFunction& Pci() { return pci_; }
  const PciFunction& Pci() const { return pci_; }
  Clock& GetClock() { return *clock_; }

  // ---- Register window ----------------------------------------------------
  // width 1, 2 or 4; any alignment. An access outside the window ends the
  // test with the board, offset and width.
  uint32_t RegRead(uint32_t offset, unsigned width);
  void RegWrite(uint32_t offset, unsigned width, uint32_t value);

  // Raw access for models and tests: no hook, no log, no clock, no watchdog.
  // Outside the window it ends the test like RegRead.
  uint32_t Peek(uint32_t offset, unsigned width) const;
  void Poke(uint32_t offset, unsigned width, uint32_t value);

  uint8_t* Registers() { return regs_.get(); }
  uint32_t RegisterWindowSize() const { return window_size_; }
  // Size of the register base address range (a power of two, at least 4 KiB).
  uint32_t RegisterBarSize() const { return register_bar_size_; }
  unsigned RegisterBarOffset() const;

  // Hooks cover `span` bytes from `offset`. One byte has at most one read
  // and one write hook: an overlapping hook throws std::invalid_argument.
  // An access that covers more than one hook, or hooked and plain bytes, is
  // split: each hook sees only its own part, in ascending order. Hooks may
  // use Peek, Poke and the clock, but must not add or remove hooks.
  void SetReadHook(uint32_t offset, unsigned span, RegReadHook hook);
  void SetWriteHook(uint32_t offset, unsigned span, RegWriteHook hook);
  // Removes the hooks that start at `offset`.
  void ClearHooks(uint32_t offset);
  void ClearAllHooks();

  // ---- Access log ---------------------------------------------------------
  // The newest `capacity` accesses are kept; older ones are dropped and
  // counted. Reads and writes can be logged apart.
  void SetLogCapacity(size_t capacity);
  void SetLogging(bool reads, bool writes);
  std::vector<RegAccessRecord> Log() const;  // oldest first
  std::vector<RegAccessRecord> LoggedWrites() const;
  uint64_t LogDropped() const { return log_dropped_; }
  void ClearLog();

  // ---- Watchdog -----------------------------------------------------------
  // A run of more than `reads` register reads with no write to the board in
  // between ends the test, naming the register and the count.
  void SetWatchdogBound(uint64_t reads) { watchdog_bound_ = reads; }
  uint64_t WatchdogBound() const { return watchdog_bound_; }
  uint64_t ReadsSinceWrite() const { return reads_since_write_; }

  // ---- Frame buffer, local memory and ROM ----------------------------------
  // The frame-buffer range as the processor sees it (what a mapping of the
  // base address range reaches): MemorySize() bytes that show local memory
  // from address 0, except where a window shows other local memory.
  uint8_t* Memory() { return memory_; }
  uint64_t MemorySize() const { return config_.memory_size; }
  // The chip's local memory by local address, as the DMA engine and the
  // aperture slots address it: large enough for partition 1 at kLocalBankB,
  // at least MemorySize().
  uint8_t* LocalMemory() { return local_; }
  const uint8_t* LocalMemory() const { return local_; }
  uint64_t LocalMemorySize() const { return local_size_; }
  // The partitions' sizes (BoardConfig::partition0_size, partition1_size).
  uint64_t Partition0Size() const;
  uint64_t Partition1Size() const;
  // Makes frame-buffer bytes [offset, offset + length) show local memory
  // from local_address (offset page-aligned, length whole pages, both ranges
  // inside); throws std::invalid_argument otherwise. For chip models. A
  // page-aligned local address maps the local pages themselves; any other
  // cannot be mapped a page at a time, so the window holds a copy of the
  // local bytes that every register access keeps coherent (see
  // SyncCopyWindows).
  void MapMemoryWindow(uint64_t offset, uint64_t local_address, uint64_t length);
  // Every frame-buffer byte shows local memory at its own offset again.
  void UnmapMemoryWindows();
  // The same for one window mapped with exactly this offset and length
  // (false, and nothing changed, when there is none).
  bool UnmapMemoryWindow(uint64_t offset, uint64_t length);
  uint8_t* Rom() { return rom_.empty() ? nullptr : rom_.data(); }
  uint32_t RomSize() const { return static_cast<uint32_t>(rom_.size()); }

  // The board's base address ranges as configuration space holds them now,
  // in this order (a board without a ROM has no ROM range).
  static constexpr ResourceKind kBarOrder[] = {ResourceKind::kMemory, ResourceKind::kRegisters,
                                               ResourceKind::kRom};
  std::vector<BarInfo> Bars() const;
  // The range of one kind, or none when the board has no such range.
  std::optional<BarInfo> Bar(ResourceKind kind) const;

  // ---- I2C ------------------------------------------------------------------
  // The board's I2C buses by port number, made on first use. Which registers
  // drive them is up to the chip model.
  I2cBus& I2c(unsigned port);

  // The chip's line registers (DDC pins, GPIO, misc-IO high): open-drain
  // pins with pull-ups, wired to buses by a ChipGpioI2c.
  ChipLinePins& LinePins() { return *line_pins_; }

 private:
  static constexpr uint8_t kReadHooked = 0x01;
  static constexpr uint8_t kWriteHooked = 0x02;

  struct Hook {
    uint32_t offset;
    unsigned span;
    RegReadHook read;
    RegWriteHook write;
  };

  bool InWindow(uint32_t offset, unsigned width) const {
    return (width == 1 || width == 2 || width == 4) && offset < window_size_ &&
           width <= window_size_ - offset;
  }
  uint32_t HookFlags(uint32_t offset, unsigned width) const {
    uint32_t flags;
    std::memcpy(&flags, hook_flags_.get() + offset, 4);
    return width == 4 ? flags : flags & ((1u << (8 * width)) - 1);
  }
  // Copies of a constant width compile to plain loads and stores: a
  // variable-width copy is a call of memcpy, which the sanitizers of a
  // fuzz build intercept on every register access.
  uint32_t Load(uint32_t offset, unsigned width) const {
    const uint8_t* at = regs_.get() + offset;
    if (width == 4) {
      uint32_t value;
      std::memcpy(&value, at, 4);
      return value;
    }
    if (width == 2) {
      uint16_t value;
      std::memcpy(&value, at, 2);
      return value;
    }
    if (width == 1) return *at;
    uint32_t value = 0;
    std::memcpy(&value, at, width);
    return value;
  }
  void Store(uint32_t offset, unsigned width, uint32_t value) {
    uint8_t* at = regs_.get() + offset;
    if (width == 4) {
      std::memcpy(at, &value, 4);
    } else if (width == 2) {
      const uint16_t half = static_cast<uint16_t>(value);
      std::memcpy(at, &half, 2);
    } else if (width == 1) {
      *at = static_cast<uint8_t>(value);
    } else {
      std::memcpy(at, &value, width);
    }
  }
  [[noreturn]] void FailOutside(const char* what, uint32_t offset, unsigned width) const;
  [[noreturn]] void FailWatchdog(uint32_t offset) const;
  uint32_t HookedRead(uint32_t offset, unsigned width);
  void HookedWrite(uint32_t offset, unsigned width, uint32_t value);
  void Record(RegOp op, uint32_t offset, unsigned width, uint32_t value);
  void AddHook(uint32_t offset, unsigned span, RegReadHook read, RegWriteHook write);

  BoardConfig config_;
  std::string name_;
  unsigned index_;
  PciLocation location_;
  PciFunction pci_;
  Clock* clock_;

  uint32_t window_size_;
  uint32_t register_bar_size_;
  std::unique_ptr<uint8_t[]> regs_;        // register_bar_size_ bytes
  std::unique_ptr<uint8_t[]> hook_flags_;  // window_size_ + 3 bytes
  std::vector<uint16_t> read_hook_id_;     // per byte, 0 = none
  std::vector<uint16_t> write_hook_id_;
  std::vector<Hook> hooks_;  // id - 1

  bool log_reads_ = true;
  bool log_writes_ = true;
  size_t log_capacity_ = 65536;
  std::vector<RegAccessRecord> log_;  // ring once full
  size_t log_next_ = 0;
  uint64_t log_dropped_ = 0;

  uint64_t watchdog_bound_ = kDefaultWatchdogReads;
  uint64_t reads_since_write_ = 0;

  int memory_fd_ = -1;        // local memory; both views map it
  uint8_t* memory_ = nullptr;  // frame-buffer view, MemorySize() bytes
  uint8_t* local_ = nullptr;   // local view, local_size_ bytes
  // Frame-buffer ranges (offset, length) a window maps now: the only ones
  // UnmapMemoryWindows has to give their plain view back.
  std::vector<std::pair<uint64_t, uint64_t>> windows_;
  // Windows onto a local address that is not page-aligned: the frame-buffer
  // range holds a copy, and `seen` the bytes both sides agreed on at the
  // last register access. A register access is where the processor and the
  // chip meet (a processor write posted before it reaches the chip first, a
  // read of it sees what the engines wrote), so each one merges: a byte the
  // processor changed since goes to local memory, a byte the chip (or
  // another view) changed comes into the window.
  struct CopyWindow {
    uint64_t offset, local, length;
    std::vector<uint8_t> seen;
  };
  std::vector<CopyWindow> copies_;
  void SyncCopyWindows();
  void SyncCopyWindow(CopyWindow& window);
  // Gives one window's range its plain view back.
  void RestorePlainView(uint64_t offset, uint64_t length);
  uint64_t local_size_ = 0;
  std::vector<uint8_t> rom_;
  std::vector<std::unique_ptr<I2cBus>> i2c_;
  std::unique_ptr<ChipLinePins> line_pins_;
};

inline uint32_t Board::RegRead(uint32_t offset, unsigned width) {
  if (!InWindow(offset, width)) [[unlikely]]
    FailOutside("read", offset, width);
  if (!copies_.empty()) [[unlikely]]
    SyncCopyWindows();
  uint32_t value;
  if (HookFlags(offset, width) & 0x01010101u * kReadHooked) [[unlikely]]
    value = HookedRead(offset, width);
  else
    value = Load(offset, width);
  clock_->ChargeRead();
  if (++reads_since_write_ > watchdog_bound_) [[unlikely]]
    FailWatchdog(offset);
  if (log_reads_) Record(RegOp::kRead, offset, width, value);
  if (!copies_.empty()) [[unlikely]]
    SyncCopyWindows();
  return value;
}

inline void Board::RegWrite(uint32_t offset, unsigned width, uint32_t value) {
  if (!InWindow(offset, width)) [[unlikely]]
    FailOutside("write", offset, width);
  if (width < 4) value &= (1u << (8 * width)) - 1;
  if (!copies_.empty()) [[unlikely]]
    SyncCopyWindows();
  if (HookFlags(offset, width) & 0x01010101u * kWriteHooked) [[unlikely]]
    HookedWrite(offset, width, value);
  else
    Store(offset, width, value);
  clock_->ChargeWrite();
  reads_since_write_ = 0;
  if (log_writes_) Record(RegOp::kWrite, offset, width, value);
  if (!copies_.empty()) [[unlikely]]
    SyncCopyWindows();
}

}  // namespace orvsim
