#include "platform/board/simulation.h"

#include <algorithm>
#include <stdexcept>

namespace orvsim {

namespace {

// Simulations alive, the newest last.
std::vector<Simulation*>& LiveSimulations() {
  static std::vector<Simulation*> live;
  return live;
}

constexpr uint64_t kLowWindowEnd = 0xFEC00000ull;  // below the host's own devices
constexpr uint64_t kHighWindowEnd = 0x10000000000ull;

// Writes a new address into a memory base register, keeping its type bits.
void PlaceMemoryBar(PciFunction& pci, unsigned offset, uint64_t base) {
  const uint32_t low = pci.Peek(offset, 4);
  pci.Poke(offset, 4, (static_cast<uint32_t>(base) & 0xFFFFFFF0u) | (low & 0xF));
  if ((low & 0x6) == 0x4) pci.Poke(offset + 4, 4, static_cast<uint32_t>(base >> 32));
}

}  // namespace

Simulation::Simulation() { LiveSimulations().push_back(this); }

Simulation::~Simulation() {
  auto& live = LiveSimulations();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

Simulation* Simulation::Current() {
  auto& live = LiveSimulations();
  return live.empty() ? nullptr : live.back();
}

uint64_t Simulation::Allocate(uint64_t size, bool above_4g) {
  uint64_t& next = above_4g ? next_high_ : next_low_;
  const uint64_t end = above_4g ? kHighWindowEnd : kLowWindowEnd;
  const uint64_t base = (next + size - 1) & ~(size - 1);
  if (base + size > end) throw std::invalid_argument("no physical address space left for a range");
  next = base + size;
  return base;
}

Board& Simulation::AddBoard(const BoardConfig& config) {
  PciLocation at;
  if (config.location) {
    at = *config.location;
  } else {
    const int device = pci_.FreeDevice(0);
    if (device < 0) throw std::invalid_argument("bus 0 has no free device number");
    at = PciLocation{0, static_cast<unsigned>(device), 0};
  }
  if (pci_.At(at)) throw std::invalid_argument("PCI location " + at.ToString() + " is taken");

  auto board = std::make_unique<Board>(config, &clock_, static_cast<unsigned>(boards_.size()));
  board->SetLocation(at);
  PciFunction& pci = board->Pci();
  if (config.frame_buffer_base == 0)
    PlaceMemoryBar(pci, kFrameBufferBar, Allocate(config.memory_size, config.frame_buffer_64bit));
  if (config.register_base == 0)
    PlaceMemoryBar(pci, board->RegisterBarOffset(), Allocate(board->RegisterBarSize(), false));
  if (config.rom_size != 0 && config.rom_base == 0)
    pci.Poke(kPciRomBar, 4, static_cast<uint32_t>(Allocate(config.rom_size, false)));
  board->SetWatchdogBound(watchdog_bound_);

  pci_.Attach(at, &pci);
  phys_.AddBoard(board.get());
  boards_.push_back(std::move(board));
  return *boards_.back();
}

PciFunction& Simulation::AddBridge(const PciLocation& at, unsigned secondary,
                                   unsigned subordinate, const BridgeConfig& config) {
  if (secondary == 0 || secondary > 255 || secondary <= at.bus)
    throw std::invalid_argument("a bridge's secondary bus must lie above its own bus");
  auto bridge = std::make_unique<PciFunction>(kPciConfigSize);
  PciFunction& pci = *bridge;
  pci.Poke(kPciVendorId, 2, config.vendor_id);
  pci.Poke(kPciDeviceId, 2, config.device_id);
  pci.Poke(kPciCommand, 2, config.command);
  pci.SetWritable(kPciCommand, 2, 0x0547);
  pci.Poke(kPciRevision, 1, config.revision);
  pci.Poke(kPciClassCode, 3, config.class_code);
  pci.Poke(kPciHeaderType, 1, 0x01);
  pci.SetWritable(kPciCacheLineSize, 2, 0xFFFF);
  pci.Poke(kPciPrimaryBus, 1, at.bus);
  pci.Poke(kPciSecondaryBus, 1, secondary);
  pci.Poke(kPciSubordinateBus, 1, std::max(secondary, subordinate));
  pci.SetWritable(kPciPrimaryBus, 4, 0xFFFFFFFF);  // bus numbers, secondary latency
  pci.SetWritable(0x1C, 2, 0xF0F0);                // I/O window
  pci.SetWritable(0x20, 4, 0xFFF0FFF0);            // memory window
  pci.SetWritable(0x24, 4, 0xFFF0FFF0);            // prefetchable window
  pci.SetWritable(kPciInterruptLine, 1, 0xFF);
  pci.SetWritable(0x3E, 2, 0x0FFF);  // bridge control
  pci_.Attach(at, &pci);
  functions_.push_back(std::move(bridge));
  return pci;
}

PciFunction& Simulation::AddFunction(const PciLocation& at, uint16_t vendor_id,
                                     uint16_t device_id, uint32_t class_code, uint8_t revision) {
  auto function = std::make_unique<PciFunction>(kPciConfigSize);
  PciFunction& pci = *function;
  pci.Poke(kPciVendorId, 2, vendor_id);
  pci.Poke(kPciDeviceId, 2, device_id);
  pci.Poke(kPciRevision, 1, revision);
  pci.Poke(kPciClassCode, 3, class_code);
  pci.SetWritable(kPciCommand, 2, 0x0547);
  pci_.Attach(at, &pci);
  functions_.push_back(std::move(function));
  return pci;
}

PciFunction& Simulation::AddHostBridge(uint32_t id) {
  const PciLocation at{0, 0, 0};
  if (pci_.At(at)) throw std::invalid_argument("PCI location 00:00.0 is taken");
  return AddFunction(at, static_cast<uint16_t>(id), static_cast<uint16_t>(id >> 16),
                     kPciClassHostBridge);
}

PciFunction* Simulation::HostBridge() const {
  PciFunction* function = pci_.At(PciLocation{0, 0, 0});
  if (function == nullptr || (function->Peek(kPciClassCode, 3) >> 8) != (kPciClassHostBridge >> 8))
    return nullptr;
  return function;
}

void Simulation::SetWatchdogBound(uint64_t reads) {
  watchdog_bound_ = reads;
  for (auto& board : boards_) board->SetWatchdogBound(reads);
}

}  // namespace orvsim
