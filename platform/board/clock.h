// Virtual time of one simulation.
//
// Nothing in the simulator looks at the host's clock. Time moves only when
// the driver touches the board (every register read and write costs a fixed
// amount of nanoseconds) or when the platform reports a wait (a sleep or a
// busy wait of the driver). Polled status bits, counters and timeouts thus
// progress the same way on every run, on every machine.
#pragma once

#include <cstdint>

namespace orvsim {

class Clock {
 public:
  // About a third of a microsecond: the driver's delay loop, three register
  // reads per nominal microsecond, then takes about one microsecond.
  static constexpr uint64_t kDefaultReadCostNs = 333;
  static constexpr uint64_t kDefaultWriteCostNs = 0;

  // Nanoseconds since the simulation started.
  uint64_t Now() const { return now_ns_; }

  void Advance(uint64_t nanoseconds) { now_ns_ += nanoseconds; }
  void AdvanceMicroseconds(uint64_t microseconds) { now_ns_ += microseconds * 1000; }

  // What one register access costs.
  uint64_t ReadCost() const { return read_cost_ns_; }
  uint64_t WriteCost() const { return write_cost_ns_; }
  void SetReadCost(uint64_t nanoseconds) { read_cost_ns_ = nanoseconds; }
  void SetWriteCost(uint64_t nanoseconds) { write_cost_ns_ = nanoseconds; }

  void ChargeRead() { now_ns_ += read_cost_ns_; }
  void ChargeWrite() { now_ns_ += write_cost_ns_; }

 private:
  uint64_t now_ns_ = 0;
  uint64_t read_cost_ns_ = kDefaultReadCostNs;
  uint64_t write_cost_ns_ = kDefaultWriteCostNs;
};

}  // namespace orvsim
