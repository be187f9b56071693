#include "platform/board/board.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/fail.h"
#include "platform/board/i2c.h"

namespace orvsim {

namespace {

// The command bits a function lets software change: I/O and memory
// decoding, bus mastering, parity and system-error reporting, interrupt
// disable.
constexpr uint32_t kCommandWritable = 0x0547;
// Chip option registers between the header and the capabilities.
constexpr unsigned kOptionRegisters = 0x40;
constexpr unsigned kOptionRegistersEnd = 0x60;
constexpr unsigned kMaxI2cPorts = 16;

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The memory-size code the chip reports in bits 0-1 of its first option
// register: 32, 64, 128 and 256 MB give 0 to 3; other sizes have no code.
uint32_t MemorySizeCode(uint64_t size) {
  for (uint32_t code = 0; code < 4; ++code) {
    if (size == (32ull << 20) << code) return code;
  }
  return 0;
}

uint32_t PartMask(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

uint32_t RoundUpPowerOfTwo(uint32_t value) {
  uint32_t result = 1;
  while (result < value) result <<= 1;
  return result;
}

unsigned ConfigSizeFor(const BoardConfig& config) {
  const auto& caps = config.capabilities;
  return std::find(caps.begin(), caps.end(), kPciCapExpress) != caps.end() ? kPciExpressConfigSize
                                                                           : kPciConfigSize;
}

void Validate(const BoardConfig& config) {
  if (!IsPowerOfTwo(config.memory_size) || config.memory_size < (1ull << 20) ||
      config.memory_size > (1ull << 30))
    throw std::invalid_argument("frame-buffer size must be a power of two from 1 MiB to 1 GiB");
  if (config.register_window_size < 256 || config.register_window_size > (16u << 20))
    throw std::invalid_argument("register window must be 256 bytes to 16 MiB");
  if (config.rom_size != 0 && (!IsPowerOfTwo(config.rom_size) || config.rom_size < 2048))
    throw std::invalid_argument("expansion ROM size must be 0 or a power of two of at least 2 KiB");
  if (config.rom_image.size() > config.rom_size)
    throw std::invalid_argument("expansion ROM image is larger than the ROM");
  for (const auto& partition : {config.partition0_size, config.partition1_size}) {
    if (partition && (*partition > kLocalBankB || *partition % 4096 != 0))
      throw std::invalid_argument("a memory partition is at most 128 MiB of whole pages");
  }
  if (config.partition0_size && *config.partition0_size == 0)
    throw std::invalid_argument("memory partition 0 cannot be empty");
}

}  // namespace

Board::Board(const BoardConfig& config, Clock* clock, unsigned index)
    : config_((Validate(config), config)),
      name_(config.name.empty() ? "board" + std::to_string(index) : config.name),
      index_(index),
      location_(config.location.value_or(PciLocation{})),
      pci_(ConfigSizeFor(config)),
      clock_(clock),
      window_size_(config.register_window_size),
      register_bar_size_(std::max<uint32_t>(4096, RoundUpPowerOfTwo(config.register_window_size))),
      regs_(new uint8_t[register_bar_size_]()),
      hook_flags_(new uint8_t[window_size_ + 3]()),
      read_hook_id_(window_size_, 0),
      write_hook_id_(window_size_, 0) {
  if (!clock_) throw std::invalid_argument("a board needs a clock");

  pci_.Poke(kPciVendorId, 2, config.vendor_id);
  pci_.Poke(kPciDeviceId, 2, config.device_id);
  pci_.Poke(kPciCommand, 2, config.command);
  pci_.SetWritable(kPciCommand, 2, kCommandWritable);
  pci_.Poke(kPciRevision, 1, config.revision);
  pci_.Poke(kPciClassCode, 3, config.class_code);
  pci_.SetWritable(kPciCacheLineSize, 2, 0xFFFF);
  pci_.Poke(kPciSubsystemVendorId, 2, config.subsystem_vendor_id);
  pci_.Poke(kPciSubsystemId, 2, config.subsystem_id);
  pci_.Poke(kPciInterruptPin, 1, config.interrupt_pin);
  pci_.SetWritable(kPciInterruptLine, 1, 0xFF);
  for (unsigned at = kOptionRegisters; at < kOptionRegistersEnd; at += 4)
    pci_.SetWritable(at, 4, 0xFFFFFFFF);
  pci_.Poke(kOptionRegisters, 1, MemorySizeCode(config.memory_size));

  pci_.DefineMemoryBar(kFrameBufferBar, config.memory_size, config.frame_buffer_64bit,
                       config.frame_buffer_prefetchable, config.frame_buffer_base);
  pci_.DefineMemoryBar(RegisterBarOffset(), register_bar_size_, false, false,
                       config.register_base);
  if (config.rom_size) {
    pci_.DefineRomBar(kPciRomBar, config.rom_size, config.rom_base);
    rom_.assign(config.rom_size, 0xFF);
    std::copy(config.rom_image.begin(), config.rom_image.end(), rom_.begin());
  }
  pci_.BuildCapabilities(config.capabilities);
  if (pci_.Peek(kPciChipConfigF4, 4) != 0)
    throw std::invalid_argument("the capabilities reach configuration dword 0xF4");
  pci_.Poke(kPciChipConfigF4, 4, config.config_f4);
  if (config.display_config != 0) Poke(kRegDisplayConfig, 4, config.display_config);

  // Local memory is a sparse memory file: pages cost memory only once
  // touched, so many boards of 256 MB stay cheap. The frame-buffer view and
  // the local view map the same pages, so a window can show any of them.
  const uint64_t partition1 = config.partition1_size.value_or(config.memory_size / 2);
  const uint64_t partitions = partition1 != 0 ? kLocalBankB + partition1
                                              : config.partition0_size.value_or(config.memory_size / 2);
  local_size_ = std::max<uint64_t>(config.memory_size, partitions);
  memory_fd_ = memfd_create("orvsim-local-memory", MFD_CLOEXEC);
  if (memory_fd_ < 0 || ftruncate(memory_fd_, static_cast<off_t>(local_size_)) != 0) {
    if (memory_fd_ >= 0) close(memory_fd_);
    throw std::bad_alloc();
  }
  void* local = mmap(nullptr, local_size_, PROT_READ | PROT_WRITE, MAP_SHARED, memory_fd_, 0);
  void* memory =
      mmap(nullptr, config.memory_size, PROT_READ | PROT_WRITE, MAP_SHARED, memory_fd_, 0);
  if (local == MAP_FAILED || memory == MAP_FAILED) {
    if (local != MAP_FAILED) munmap(local, local_size_);
    if (memory != MAP_FAILED) munmap(memory, config.memory_size);
    close(memory_fd_);
    throw std::bad_alloc();
  }
  local_ = static_cast<uint8_t*>(local);
  memory_ = static_cast<uint8_t*>(memory);
  line_pins_ = std::make_unique<ChipLinePins>(*this);
}

uint64_t Board::Partition0Size() const {
  return config_.partition0_size.value_or(config_.memory_size / 2);
}

uint64_t Board::Partition1Size() const {
  return config_.partition1_size.value_or(config_.memory_size / 2);
}

Board::~Board() {
  if (memory_) munmap(memory_, config_.memory_size);
  if (local_) munmap(local_, local_size_);
  if (memory_fd_ >= 0) close(memory_fd_);
}

void Board::MapMemoryWindow(uint64_t offset, uint64_t local_address, uint64_t length) {
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  if (length == 0 || offset % page != 0 || length % page != 0 || offset > config_.memory_size ||
      length > config_.memory_size - offset || local_address > local_size_ ||
      length > local_size_ - local_address) {
    throw std::invalid_argument("memory window not page-aligned or outside the memory");
  }
  if (local_address % page == 0) {
    void* at = mmap(memory_ + offset, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED,
                    memory_fd_, static_cast<off_t>(local_address));
    if (at == MAP_FAILED) throw std::bad_alloc();
  } else {
    // Pages of their own holding the local bytes; kept coherent at every
    // register access.
    void* at = mmap(memory_ + offset, length, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    memcpy(memory_ + offset, local_ + local_address, length);
    copies_.push_back(CopyWindow{offset, local_address, length,
                                 std::vector<uint8_t>(local_ + local_address,
                                                      local_ + local_address + length)});
  }
  windows_.emplace_back(offset, length);
}

void Board::SyncCopyWindow(CopyWindow& window) {
  uint8_t* const shown = memory_ + window.offset;
  uint8_t* const local = local_ + window.local;
  uint8_t* const seen = window.seen.data();
  constexpr uint64_t kChunk = 4096;
  for (uint64_t at = 0; at < window.length; at += kChunk) {
    const uint64_t n = std::min(kChunk, window.length - at);
    if (memcmp(shown + at, seen + at, n) == 0 && memcmp(local + at, seen + at, n) == 0) continue;
    for (uint64_t i = at; i < at + n; ++i) {
      if (shown[i] != seen[i]) {
        local[i] = shown[i];
        seen[i] = shown[i];
      } else if (local[i] != seen[i]) {
        shown[i] = local[i];
        seen[i] = local[i];
      }
    }
  }
}

void Board::SyncCopyWindows() {
  for (CopyWindow& window : copies_) SyncCopyWindow(window);
}

void Board::RestorePlainView(uint64_t offset, uint64_t length) {
  const auto copy = std::find_if(copies_.begin(), copies_.end(),
                                 [&](const CopyWindow& w) { return w.offset == offset; });
  if (copy != copies_.end()) {
    // What the processor wrote last reaches local memory before the
    // window goes.
    SyncCopyWindow(*copy);
    copies_.erase(copy);
  }
  void* at = mmap(memory_ + offset, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED,
                  memory_fd_, static_cast<off_t>(offset));
  if (at == MAP_FAILED) throw std::bad_alloc();
}

void Board::UnmapMemoryWindows() {
  // Only the windows' ranges show other memory; the rest of the view is
  // plain already and keeps its pages.
  for (const auto& [offset, length] : windows_) RestorePlainView(offset, length);
  windows_.clear();
}

bool Board::UnmapMemoryWindow(uint64_t offset, uint64_t length) {
  const auto it = std::find(windows_.begin(), windows_.end(), std::make_pair(offset, length));
  if (it == windows_.end()) return false;
  RestorePlainView(offset, length);
  windows_.erase(it);
  return true;
}

unsigned Board::RegisterBarOffset() const {
  return config_.frame_buffer_64bit ? kRegisterBar64 : kRegisterBar32;
}

uint32_t Board::Peek(uint32_t offset, unsigned width) const {
  if (!InWindow(offset, width)) FailOutside("peek", offset, width);
  return Load(offset, width);
}

void Board::Poke(uint32_t offset, unsigned width, uint32_t value) {
  if (!InWindow(offset, width)) FailOutside("poke", offset, width);
  Store(offset, width, value);
}

void Board::FailOutside(const char* what, uint32_t offset, unsigned width) const {
  if (width != 1 && width != 2 && width != 4)
    Fail("board %u '%s' at %s: register %s at offset 0x%X has width %u, not 1, 2 or 4", index_,
         name_.c_str(), location_.ToString().c_str(), what, offset, width);
  Fail("board %u '%s' at %s: register %s of width %u at offset 0x%X is outside the %u-byte "
       "register window",
       index_, name_.c_str(), location_.ToString().c_str(), what, width, offset, window_size_);
}

void Board::FailWatchdog(uint32_t offset) const {
  Fail("watchdog: board %u '%s' at %s: register 0x%04X read %llu times with no write to the "
       "board in between (bound %llu); the poll never ends",
       index_, name_.c_str(), location_.ToString().c_str(), offset,
       static_cast<unsigned long long>(reads_since_write_),
       static_cast<unsigned long long>(watchdog_bound_));
}

// ---- Hooks ------------------------------------------------------------------

void Board::AddHook(uint32_t offset, unsigned span, RegReadHook read, RegWriteHook write) {
  if (span == 0 || offset >= window_size_ || span > window_size_ - offset)
    throw std::invalid_argument("register hook outside the window");
  std::vector<uint16_t>& ids = read ? read_hook_id_ : write_hook_id_;
  for (uint32_t at = offset; at < offset + span; ++at)
    if (ids[at]) throw std::invalid_argument("register hook overlaps another one");

  size_t slot = 0;
  while (slot < hooks_.size() && hooks_[slot].span != 0) ++slot;
  if (slot == hooks_.size()) {
    if (hooks_.size() >= 0xFFFF) throw std::length_error("too many register hooks");
    hooks_.emplace_back();
  }
  const uint8_t flag = read ? kReadHooked : kWriteHooked;
  hooks_[slot] = Hook{offset, span, std::move(read), std::move(write)};
  for (uint32_t at = offset; at < offset + span; ++at) {
    ids[at] = static_cast<uint16_t>(slot + 1);
    hook_flags_[at] |= flag;
  }
}

void Board::SetReadHook(uint32_t offset, unsigned span, RegReadHook hook) {
  if (!hook) throw std::invalid_argument("empty register hook");
  AddHook(offset, span, std::move(hook), nullptr);
}

void Board::SetWriteHook(uint32_t offset, unsigned span, RegWriteHook hook) {
  if (!hook) throw std::invalid_argument("empty register hook");
  AddHook(offset, span, nullptr, std::move(hook));
}

void Board::ClearHooks(uint32_t offset) {
  if (offset >= window_size_) return;
  // A hook that starts at the offset covers its byte, so the byte's ids name
  // the (at most one) read hook and write hook to remove.
  for (const bool is_read : {true, false}) {
    std::vector<uint16_t>& ids = is_read ? read_hook_id_ : write_hook_id_;
    const uint16_t id = ids[offset];
    if (id == 0 || hooks_[id - 1].offset != offset) continue;
    Hook& hook = hooks_[id - 1];
    const uint8_t flag = is_read ? kReadHooked : kWriteHooked;
    for (uint32_t at = hook.offset; at < hook.offset + hook.span; ++at) {
      ids[at] = 0;
      hook_flags_[at] &= static_cast<uint8_t>(~flag);
    }
    hook = Hook{};
  }
}

void Board::ClearAllHooks() {
  hooks_.clear();
  std::fill(read_hook_id_.begin(), read_hook_id_.end(), 0);
  std::fill(write_hook_id_.begin(), write_hook_id_.end(), 0);
  std::fill(hook_flags_.get(), hook_flags_.get() + window_size_ + 3, 0);
}

uint32_t Board::HookedRead(uint32_t offset, unsigned width) {
  const uint32_t end = offset + width;
  uint32_t result = 0;
  for (uint32_t at = offset; at < end;) {
    const uint16_t id = read_hook_id_[at];
    if (!id) {
      result |= static_cast<uint32_t>(regs_[at]) << (8 * (at - offset));
      ++at;
      continue;
    }
    const Hook& hook = hooks_[id - 1];
    const uint32_t part_end = std::min(end, hook.offset + hook.span);
    const unsigned part = part_end - at;
    const uint32_t value = hook.read(*this, RegAccess{at, part}, Load(at, part));
    result |= (value & PartMask(part)) << (8 * (at - offset));
    at = part_end;
  }
  return result;
}

void Board::HookedWrite(uint32_t offset, unsigned width, uint32_t value) {
  const uint32_t end = offset + width;
  for (uint32_t at = offset; at < end;) {
    const uint16_t id = write_hook_id_[at];
    const uint32_t shifted = value >> (8 * (at - offset));
    if (!id) {
      regs_[at] = static_cast<uint8_t>(shifted);
      ++at;
      continue;
    }
    const Hook& hook = hooks_[id - 1];
    const uint32_t part_end = std::min(end, hook.offset + hook.span);
    const unsigned part = part_end - at;
    const uint32_t stored =
        hook.write(*this, RegAccess{at, part}, shifted & PartMask(part), Load(at, part));
    Store(at, part, stored & PartMask(part));
    at = part_end;
  }
}

// ---- Log --------------------------------------------------------------------

void Board::Record(RegOp op, uint32_t offset, unsigned width, uint32_t value) {
  const RegAccessRecord record{op, static_cast<uint8_t>(width), offset, value, clock_->Now()};
  if (log_.size() < log_capacity_) {
    log_.push_back(record);
    return;
  }
  ++log_dropped_;
  if (log_capacity_ == 0) return;
  log_[log_next_] = record;
  log_next_ = (log_next_ + 1) % log_capacity_;
}

std::vector<RegAccessRecord> Board::Log() const {
  std::vector<RegAccessRecord> ordered;
  ordered.reserve(log_.size());
  ordered.insert(ordered.end(), log_.begin() + static_cast<std::ptrdiff_t>(log_next_), log_.end());
  ordered.insert(ordered.end(), log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(log_next_));
  return ordered;
}

std::vector<RegAccessRecord> Board::LoggedWrites() const {
  std::vector<RegAccessRecord> writes;
  for (const RegAccessRecord& record : Log())
    if (record.op == RegOp::kWrite) writes.push_back(record);
  return writes;
}

void Board::ClearLog() {
  log_.clear();
  log_next_ = 0;
  log_dropped_ = 0;
}

void Board::SetLogCapacity(size_t capacity) {
  std::vector<RegAccessRecord> ordered = Log();
  if (ordered.size() > capacity) {
    log_dropped_ += ordered.size() - capacity;
    ordered.erase(ordered.begin(), ordered.end() - static_cast<std::ptrdiff_t>(capacity));
  }
  log_ = std::move(ordered);
  log_next_ = 0;
  log_capacity_ = capacity;
}

void Board::SetLogging(bool reads, bool writes) {
  log_reads_ = reads;
  log_writes_ = writes;
}

// ---- Resources --------------------------------------------------------------

// One range without building the list: the glue and the physical map ask at
// every access of a mapped range.
std::optional<BarInfo> Board::Bar(ResourceKind kind) const {
  const bool memory = pci_.MemoryDecode();
  switch (kind) {
    case ResourceKind::kMemory:
      return BarInfo{ResourceKind::kMemory, kFrameBufferBar, pci_.MemoryBarAddress(kFrameBufferBar),
                     config_.memory_size, memory};
    case ResourceKind::kRegisters:
      return BarInfo{ResourceKind::kRegisters, RegisterBarOffset(),
                     pci_.MemoryBarAddress(RegisterBarOffset()), register_bar_size_, memory};
    case ResourceKind::kRom:
      if (rom_.empty()) return std::nullopt;
      {
        const uint32_t rom = pci_.Peek(kPciRomBar, 4);
        return BarInfo{ResourceKind::kRom, kPciRomBar, rom & 0xFFFFF800u, rom_.size(),
                       memory && (rom & kPciRomEnable)};
      }
  }
  return std::nullopt;
}

std::vector<BarInfo> Board::Bars() const {
  std::vector<BarInfo> bars;
  for (ResourceKind kind : kBarOrder) {
    if (auto bar = Bar(kind)) bars.push_back(*bar);
  }
  return bars;
}

I2cBus& Board::I2c(unsigned port) {
  if (port >= kMaxI2cPorts) throw std::out_of_range("no such I2C port");
  if (i2c_.size() <= port) i2c_.resize(port + 1);
  if (!i2c_[port]) i2c_[port] = std::make_unique<I2cBus>(name_ + "/i2c" + std::to_string(port));
  return *i2c_[port];
}

}  // namespace orvsim
