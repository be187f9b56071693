// The drawing program's options and the board it adds to the simulated
// machine (platform/machine/) from them: its option ROM, engines, flip
// latch, display side, clocks and DDC wiring, and a monitor on each
// connector given.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/board/pci_function.h"
#include "platform/machine/machine.h"

namespace maindraw {

struct Options {
  std::string config;
  std::string module;
  std::string kernelModule;
  std::string out;
  uint16_t chip = 0x5D63;
  uint16_t subsystem = 0x0301;
  uint32_t memoryMB = 64;
  std::map<unsigned, std::string> edids;
  uint32_t outputs = 2;
  bool spoil = false;
  // A 3D client draws in a window on the first screen.
  bool client3d = false;
  // One console switch after the first pictures, and the pictures again.
  bool vtSwitch = false;
  // Chip blocks beyond what the driver's drawing needs (orvmachine::Part).
  uint32_t extraParts = 0;
};

// The whole file, or null when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

// Adds the board of the options at `at` to the machine, with its option
// ROM, engines, display side and monitors; null (with a message) when an
// EDID file is not one.
orvmachine::MachineBoard* BuildMachine(const Options& o, const orvsim::PciLocation& at,
                                       orvmachine::Machine* m);

}  // namespace maindraw
