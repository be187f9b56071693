// One simulated machine: its clock, its PCI buses with boards and bridges,
// and its physical address map. A test makes one Simulation and wires
// everything through it; nothing outlives it and nothing is shared between
// simulations, so tests stay independent.
//
// The platform stand-ins (the X server services) find the simulation of the
// running test through Simulation::Current(): the most recently made one
// that still exists.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/clock.h"
#include "platform/board/pci_bus.h"
#include "platform/board/pci_function.h"
#include "platform/board/phys_map.h"

namespace orvsim {

struct BridgeConfig {
  uint16_t vendor_id = kKestrionVendorId;
  uint16_t device_id = 0x0B00;
  uint8_t revision = 0;
  uint32_t class_code = 0x060400;  // PCI-to-PCI bridge
  uint16_t command = kPciCommandIo | kPciCommandMemory | kPciCommandMaster;
};

class Simulation {
 public:
  Simulation();
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  static Simulation* Current();

  Clock& GetClock() { return clock_; }
  PciBus& Pci() { return pci_; }
  PhysicalMap& Phys() { return phys_; }

  // Places a board at config.location (the first free device on bus 0 when
  // unset) and gives each of its ranges a physical base unless the config
  // names one. Throws std::invalid_argument for a bad config or location.
  Board& AddBoard(const BoardConfig& config);
  size_t BoardCount() const { return boards_.size(); }
  Board& GetBoard(size_t index) { return *boards_.at(index); }

  // A PCI-to-PCI bridge at `at` whose secondary (and subordinate) bus is
  // `secondary`; functions placed on that bus are the ones behind it.
  PciFunction& AddBridge(const PciLocation& at, unsigned secondary, unsigned subordinate = 0,
                         const BridgeConfig& config = BridgeConfig());
  // A function with only its identity (vendor, device, class, revision).
  PciFunction& AddFunction(const PciLocation& at, uint16_t vendor_id, uint16_t device_id,
                           uint32_t class_code, uint8_t revision = 0);
  // The host bridge at 00:00.0 (class 0x060000) with the identity dword
  // (device id << 16 | vendor id). Add it before the boards: a board placed
  // without a location takes the first free device on bus 0. Throws
  // std::invalid_argument when 00:00.0 is taken.
  PciFunction& AddHostBridge(uint32_t id);
  // The host bridge, or null when 00:00.0 holds none.
  PciFunction* HostBridge() const;

  // Applies to every board, present and future.
  void SetWatchdogBound(uint64_t reads);

 private:
  uint64_t Allocate(uint64_t size, bool above_4g);

  Clock clock_;
  PciBus pci_;
  PhysicalMap phys_;
  std::vector<std::unique_ptr<Board>> boards_;
  std::vector<std::unique_ptr<PciFunction>> functions_;
  uint64_t next_low_ = 0x80000000ull;
  uint64_t next_high_ = 0x4000000000ull;
  uint64_t watchdog_bound_ = kDefaultWatchdogReads;
};

}  // namespace orvsim
