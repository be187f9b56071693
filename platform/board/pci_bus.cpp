#include "platform/board/pci_bus.h"

#include <cstdio>
#include <stdexcept>

#include "platform/board/fail.h"

namespace orvsim {

namespace {

void CheckAccess(const char* what, unsigned bus, unsigned device, unsigned function,
                 unsigned offset, unsigned width) {
  if (bus > 255 || device > 31 || function > 7)
    Fail("configuration %s at bus %u device %u function %u: no such location", what, bus, device,
         function);
  if (width != 1 && width != 2 && width != 4)
    Fail("configuration %s of %02x:%02x.%u offset 0x%X: width %u is not 1, 2 or 4", what, bus,
         device, function, offset, width);
  if (offset % width != 0 || offset + width > 4096)
    Fail("configuration %s of %02x:%02x.%u: offset 0x%X width %u is not an aligned access "
         "inside 0..0xFFF",
         what, bus, device, function, offset, width);
}

uint32_t Key(unsigned bus, unsigned device, unsigned function) {
  return (bus << 8) | (device << 3) | function;
}

}  // namespace

uint32_t PciBus::ConfigRead(unsigned bus, unsigned device, unsigned function, unsigned offset,
                            unsigned width) const {
  CheckAccess("read", bus, device, function, offset, width);
  auto it = functions_.find(Key(bus, device, function));
  if (it == functions_.end()) return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
  return it->second->ConfigRead(offset, width);
}

void PciBus::ConfigWrite(unsigned bus, unsigned device, unsigned function, unsigned offset,
                         unsigned width, uint32_t value) {
  CheckAccess("write", bus, device, function, offset, width);
  auto it = functions_.find(Key(bus, device, function));
  if (it == functions_.end()) return;
  it->second->ConfigWrite(offset, width, value);
}

void PciBus::Attach(const PciLocation& at, PciFunction* function) {
  if (at.bus > 255 || at.device > 31 || at.function > 7)
    throw std::invalid_argument("no such PCI location " + at.ToString());
  if (!function) throw std::invalid_argument("no function to attach");
  if (!functions_.emplace(at.Tag(), function).second)
    throw std::invalid_argument("PCI location " + at.ToString() + " is taken");
  UpdateMultiFunctionBit(at.bus, at.device);
}

void PciBus::Detach(const PciLocation& at) {
  functions_.erase(at.Tag());
  UpdateMultiFunctionBit(at.bus, at.device);
}

PciFunction* PciBus::At(const PciLocation& at) const {
  auto it = functions_.find(at.Tag());
  return it == functions_.end() ? nullptr : it->second;
}

int PciBus::FreeDevice(unsigned bus) const {
  for (unsigned device = 0; device < 32; ++device) {
    bool used = false;
    for (unsigned function = 0; function < 8 && !used; ++function)
      used = functions_.count(Key(bus, device, function)) != 0;
    if (!used) return static_cast<int>(device);
  }
  return -1;
}

void PciBus::UpdateMultiFunctionBit(unsigned bus, unsigned device) {
  auto first = functions_.find(Key(bus, device, 0));
  if (first == functions_.end()) return;
  bool others = false;
  for (unsigned function = 1; function < 8; ++function)
    others = others || functions_.count(Key(bus, device, function)) != 0;
  PciFunction* f0 = first->second;
  const uint8_t header = f0->HeaderType();
  f0->Poke(kPciHeaderType, 1,
           others ? header | kPciHeaderMultiFunction : header & ~kPciHeaderMultiFunction);
}

}  // namespace orvsim
