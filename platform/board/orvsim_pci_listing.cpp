// orvsim_pci_listing: writes the PCI listing of a simulated machine (a host
// bridge and the Kestrion boards asked for) under a system root, as the
// kernel lists it under /proc/bus/pci. The configuration tools probe such a
// root (ORV_SYSROOT) as they probe a machine with the boards installed.
//
//   orvsim_pci_listing ROOT [DEVICE_ID:SUBSYSTEM_ID ...]
//
// Ids are hexadecimal; every board is a VGA display controller of the
// maker on bus 0.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/board/pci_listing.h"
#include "platform/board/simulation.h"

namespace {

bool ParseIds(const char* text, uint16_t* device, uint16_t* subsystem) {
  char* end = nullptr;
  const unsigned long d = std::strtoul(text, &end, 16);
  if (end == text || *end != ':' || d > 0xFFFF) return false;
  const char* second = end + 1;
  const unsigned long s = std::strtoul(second, &end, 16);
  if (end == second || *end != '\0' || s > 0xFFFF) return false;
  *device = uint16_t(d);
  *subsystem = uint16_t(s);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s ROOT [DEVICE_ID:SUBSYSTEM_ID ...]\n", argv[0]);
    return 2;
  }
  orvsim::Simulation sim;
  // A host bridge at 00:00.0, as every machine has.
  sim.AddHostBridge(0x12378086u);
  for (int i = 2; i < argc; ++i) {
    orvsim::BoardConfig config;
    if (!ParseIds(argv[i], &config.device_id, &config.subsystem_id)) {
      std::fprintf(stderr, "%s: not DEVICE_ID:SUBSYSTEM_ID in hexadecimal: %s\n", argv[0], argv[i]);
      return 2;
    }
    sim.AddBoard(config);
  }
  if (!orvsim::WritePciListing(sim.Pci(), argv[1])) {
    std::fprintf(stderr, "%s: cannot write the listing under %s: %s\n", argv[0], argv[1],
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
