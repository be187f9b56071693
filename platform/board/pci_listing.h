// A simulated machine's PCI functions as the Linux kernel lists them under
// /proc/bus/pci: one line per function in "devices", and each function's
// configuration bytes in "<bus>/<device>.<function>". The configuration
// tools probe a system root that holds such a listing.
#pragma once

#include <string>

#include "platform/board/pci_bus.h"

namespace orvsim {

// The "devices" line of the function at `at`: bus and device-function,
// vendor and device, interrupt line, the six base addresses and the ROM
// (with their type bits), then their sizes, all hexadecimal and separated by
// tabs.
std::string PciDevicesLine(const PciLocation& at, const PciFunction& function);

// Writes root/proc/bus/pci/devices and one file of configuration bytes per
// function of `bus`; false with errno set when a file cannot be written.
bool WritePciListing(const PciBus& bus, const std::string& root);

}  // namespace orvsim
