// The PCI listing of a simulated machine, as the kernel writes it under
// /proc/bus/pci.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/board/pci_listing.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

TEST(PciListing, LinesAndConfigurationBytesOfEveryFunction) {
  Simulation sim;
  sim.AddHostBridge(0x12378086u);
  BoardConfig config;
  config.device_id = kDeviceKestrionNext2;
  config.subsystem_id = 0x0202;
  config.memory_size = 64u << 20;
  config.location = PciLocation{1, 2, 0};
  Board& board = sim.AddBoard(config);

  char pattern[] = "/tmp/pci-listing-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  ASSERT_TRUE(WritePciListing(sim.Pci(), root));

  std::istringstream devices(Slurp(root + "/proc/bus/pci/devices"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(devices, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  const std::vector<std::string> bridge = Fields(lines[0]);
  const std::vector<std::string> kestrion = Fields(lines[1]);
  // bus/devfn, vendor/device, interrupt, 7 bases, 7 sizes.
  ASSERT_EQ(bridge.size(), 17u);
  ASSERT_EQ(kestrion.size(), 17u);
  EXPECT_EQ(bridge[0], "0000");
  EXPECT_EQ(bridge[1], "80861237");
  EXPECT_EQ(kestrion[0], "0110");  // bus 1, device 2, function 0
  EXPECT_EQ(kestrion[1], "1e7a5d62");
  // The frame buffer (prefetchable memory) and the register window, with
  // their sizes.
  EXPECT_EQ(std::stoull(kestrion[3], nullptr, 16), board.Pci().Peek(0x10, 4));
  EXPECT_EQ(std::stoull(kestrion[10], nullptr, 16), 64u << 20);
  EXPECT_EQ(std::stoull(kestrion[4], nullptr, 16), board.Pci().Peek(0x14, 4));
  EXPECT_EQ(std::stoull(kestrion[11], nullptr, 16), kDefaultRegisterWindowSize);

  const std::string bytes = Slurp(root + "/proc/bus/pci/01/02.0");
  ASSERT_EQ(bytes.size(), board.Pci().ConfigSize());
  for (unsigned i = 0; i < bytes.size(); ++i)
    ASSERT_EQ(uint8_t(bytes[i]), board.Pci().Peek(i, 1)) << "offset " << i;
  EXPECT_EQ(Slurp(root + "/proc/bus/pci/00/00.0").size(), kPciConfigSize);

  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace orvsim
