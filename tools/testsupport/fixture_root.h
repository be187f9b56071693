// Fixture system roots for the probes: a PCI bus under proc/ with the
// maker's board on it, and the board database where the tools look for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/chip_ids.h"
#include "tools/testsupport/files.h"

namespace tools_test {

constexpr uint16_t kDisplayClassWord = 0x0300;

// 64 bytes of configuration space with the fields the probe reads.
inline std::string PciConfigSpace(uint16_t vendor, uint16_t device, uint16_t classWord,
                                  uint16_t subVendor, uint16_t subId) {
  std::string c(64, '\0');
  auto put16 = [&](size_t at, uint16_t v) {
    c[at] = char(v & 0xff);
    c[at + 1] = char(v >> 8);
  };
  put16(0, vendor);
  put16(2, device);
  put16(10, classWord);
  put16(44, subVendor);
  put16(46, subId);
  return c;
}

// Puts one board of the maker at PCI:1:0:0 under `root`, alone on the bus;
// `subsysId` picks its record in the board database.
inline void WriteFixtureBoard(const std::string& root, uint16_t subsysId) {
  WriteFile(root + "/proc/bus/pci/devices",
                 "0100\t1e7a5d62\tb\tf0000008\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\n");
  WriteFile(root + "/proc/bus/pci/01/00.0",
                 PciConfigSpace(kKestrionVendorId, kDeviceKestrionNext2, kDisplayClassWord, kKestrionVendorId,
                                subsysId));
}

// Copies the source tree's board database to where the tools read it under `root`.
inline void InstallBoardDatabase(const std::string& root, const std::string& sourceDir) {
  const std::string dir = root + "/usr/share/orvane/current";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(sourceDir + "/data/orvcards", dir + "/orvcards");
}

}  // namespace tools_test
