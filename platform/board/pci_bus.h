// The PCI configuration mechanism: every function of every bus, reached by
// bus, device and function number.
//
// Functions are placed at absolute locations; a bridge's secondary bus
// number is what a scan reads to find the bus behind it. Absent functions
// read all-ones and ignore writes. The multi-function bit of a device's
// function 0 follows from which functions the device has.
#pragma once

#include <cstdint>
#include <map>

#include "platform/board/pci_function.h"

namespace orvsim {

class PciBus {
 public:
  // width 1, 2 or 4, offset naturally aligned and inside 0..4095; bus below
  // 256, device below 32, function below 8. Anything else is a fault of the
  // caller and ends the test with a message.
  uint32_t ConfigRead(unsigned bus, unsigned device, unsigned function, unsigned offset,
                      unsigned width) const;
  void ConfigWrite(unsigned bus, unsigned device, unsigned function, unsigned offset,
                   unsigned width, uint32_t value);

  uint32_t ConfigRead(const PciLocation& at, unsigned offset, unsigned width) const {
    return ConfigRead(at.bus, at.device, at.function, offset, width);
  }
  void ConfigWrite(const PciLocation& at, unsigned offset, unsigned width, uint32_t value) {
    ConfigWrite(at.bus, at.device, at.function, offset, width, value);
  }

  // Places a function (not owned). Throws std::invalid_argument when the
  // location is taken or out of range.
  void Attach(const PciLocation& at, PciFunction* function);
  void Detach(const PciLocation& at);
  PciFunction* At(const PciLocation& at) const;
  // First device number on `bus` with no function 0 attached, or -1.
  int FreeDevice(unsigned bus) const;

 private:
  void UpdateMultiFunctionBit(unsigned bus, unsigned device);

  std::map<uint32_t, PciFunction*> functions_;  // by tag
};

}  // namespace orvsim
