// The X driver front end in the X server stand-in: simulated boards, a
// configuration file, the driver set up through its module record, the
// server's probe and PreInit. Each board's flash copy of its
// option ROM holds the board description the fixture chooses (connectors,
// clock limits, board type); monitors sit on the boards' DDC lines.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/pins.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/tests/edid_fixture.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/chip_rom_flash.h"
#include "platform/board/ddc_devices.h"
#include "platform/board/simulation.h"
#include "platform/xserver/fake_kernel.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "tests/standins/standin_log.h"
#include "tests/support/description_rom.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/orv_driver.h"

namespace fetest {

// What the board description of the simulated boards says, and the
// monitors on their outputs.
struct BoardDescription : testsupport::DescribedBoard {
  // EDID blocks by output; an empty one leaves the output without monitor.
  std::map<uint32_t, std::vector<uint8_t>> edids;
};

inline BoardDescription& Description() {
  static BoardDescription description;
  return description;
}

// The simulated boards' option ROM image, as their SPI flash holds it,
// with the board description of Description().
inline std::vector<uint8_t> DescriptionRom() {
  const BoardDescription& d = Description();
  return testsupport::DescriptionRom(d);
}

// A monitor's EDID: analog or digital, with a range descriptor.
inline std::vector<uint8_t> MonitorEdid(bool digital = false, uint8_t maxClock10MHz = 15) {
  hwtest::Edid1 e;
  if (digital) e[20] = 0x80;
  e.SetText(1, 0xFC, "TestPanel");
  e.SetRange(2, 50, 76, 30, 83, maxClock10MHz);
  e.SetText(3, 0xFF, "SN0001");
  e.Seal();
  return std::vector<uint8_t>(e.data(), e.data() + 128);
}

class FrontEnd : public testing::Test {
 protected:
  void SetUp() override {
    orvstandin::Reset();
    Description() = BoardDescription();
  }
  void TearDown() override {
    KstrnCleanupDriver();
    orvstandin::Reset();
  }

  // A board at PCI 1:<device>:0, of `memoryMB` megabytes.
  orvsim::Board& AddBoard(uint16_t chip = 0x5D63, unsigned device = 4, uint32_t memoryMB = 64,
                          uint16_t subsystem = 0x0301, uint8_t revision = 0) {
    orvsim::BoardConfig config;
    config.device_id = chip;
    config.revision = revision;
    config.subsystem_id = subsystem;
    config.memory_size = uint64_t{memoryMB} << 20;
    config.location = orvsim::PciLocation{1, device, 0};
    orvsim::Board& board = sim.AddBoard(config);
    roms.push_back(std::make_unique<orvsim::ChipRomFlash>(board));
    roms.back()->SetFlash(orvsim::FlashKind::kSst, DescriptionRom());
    boards.push_back(&board);
    return board;
  }

  // Puts the description's monitors on the DDC lines of each board's
  // connectors, behind the chip's I2C pins.
  void AttachMonitors() {
    if (Description().edids.empty()) return;
    static constexpr unsigned kConnectorBus[4] = {orvsim::kBusDdcConnector0, orvsim::kBusDdcConnector1,
                                                  orvsim::kBusDdcConnector2, orvsim::kBusDdcConnector3};
    for (orvsim::Board* board : boards) {
      chips.push_back(std::make_unique<orvsim::ChipGpioI2c>(*board));
      chips.back()->WireDefault();
      for (const auto& [output, edid] : Description().edids)
        if (!edid.empty() && output < 4) board->I2c(kConnectorBus[output]).Emplace<orvsim::EdidEeprom>(edid);
    }
  }

 public:
  // Device sections (one per head, Screen numbers 0.., options added to
  // each) on the board at 1:<device>:0, each with its Screen section of one
  // Display subsection at `depth` with `modes`; a layout of all screens.
  static std::string Config(int heads, const std::string& options, int depth = 16,
                            const std::string& modes = "\"1024x768\" \"800x600\"",
                            unsigned device = 4,
                            const std::string& monitor = "  HorizSync 30-83\n  VertRefresh 50-76\n") {
    std::string text = "Section \"ServerLayout\"\n  Identifier \"Layout\"\n";
    for (int i = 0; i < heads; ++i) text += "  Screen " + std::to_string(i) + " \"S" + std::to_string(i) + "\"\n";
    text += "EndSection\n";
    text += "Section \"Monitor\"\n  Identifier \"M\"\n" + monitor + "EndSection\n";
    for (int i = 0; i < heads; ++i) {
      const std::string n = std::to_string(i);
      text += "Section \"Device\"\n  Identifier \"D" + n + "\"\n  Driver \"orv\"\n  BusID \"PCI:1:" +
              std::to_string(device) + ":0\"\n  Screen " + n + "\n" + options + "EndSection\n";
      text += "Section \"Screen\"\n  Identifier \"S" + n + "\"\n  Device \"D" + n +
              "\"\n  Monitor \"M\"\n  DefaultDepth " + std::to_string(depth) +
              "\n  SubSection \"Display\"\n    Depth " + std::to_string(depth) + "\n    Modes " +
              modes + "\n  EndSubSection\nEndSection\n";
    }
    return text;
  }

 protected:
  // Sets the driver up as the server's loader does (once per process: a
  // later test registers the driver record directly).
  void LoadDriver() {
    xstub::XServer::LoadResult r = server.LoadModuleData("orv", &orvModuleData);
    if (!r.ok) {
      ASSERT_EQ(r.errmaj, LDR_ONCEONLY) << r.error;
      xf86AddDriver(&ORV, nullptr, 0);
    }
  }

  // Reads the configuration, sets the driver up, probes; answers the
  // number of screens PreInit kept.
  int PreInit(const std::string& config) {
    EXPECT_TRUE(server.ReadConfig(config));
    // The description as the test has chosen it by now.
    for (auto& rom : roms) rom->SetFlash(orvsim::FlashKind::kSst, DescriptionRom());
    AttachMonitors();
    LoadDriver();
    server.Probe();
    return server.PreInitScreens();
  }

  ORVRec* Rec(int screen) { return ORVPTR(xf86Screens[screen]); }

  // Texts of the messages logged so far, in order.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& m : box.Messages()) out.push_back(m.text);
    return out;
  }
  // Whether `expected` appear in this order among the messages.
  bool InOrder(const std::vector<std::string>& expected) const {
    size_t at = 0;
    for (const auto& m : box.Messages()) {
      if (at < expected.size() && m.text.find(expected[at]) != std::string::npos) ++at;
    }
    return at == expected.size();
  }

  orvsim::Simulation sim;
  std::vector<orvsim::Board*> boards;
  std::vector<std::unique_ptr<orvsim::ChipRomFlash>> roms;
  std::vector<std::unique_ptr<orvsim::ChipGpioI2c>> chips;
  xstub::FakeKernel kernel;
  xstub::Sandbox box;
  xstub::XServer server;
};

}  // namespace fetest
