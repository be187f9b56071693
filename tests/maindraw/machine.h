// The drawing program's options and the simulated machine it builds from
// them: one board with its option ROM, video BIOS, engines, display side,
// clocks and DDC wiring, and a monitor on each connector given.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/board/chip_2d.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/chip_rom_flash.h"
#include "platform/board/simulation.h"

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
};

// The board, its monitors and the chip models the driver works against.
struct Machine {
  orvsim::Simulation sim;
  orvsim::Board* board = nullptr;
  std::unique_ptr<orvsim::ChipRomFlash> rom;
  std::unique_ptr<orvsim::ChipDisplay> display;
  std::unique_ptr<orvsim::ChipClocks> clocks;
  std::unique_ptr<orvsim::ChipGpioI2c> pins;
  std::unique_ptr<orvsim::DmaEngine> dma;
  std::unique_ptr<orvsim::Engine2d> engine;
  std::unique_ptr<orvsim::ApertureWindows> windows;
  std::unique_ptr<orvsim::InterruptController> irq;
};

// The whole file, or null when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

// Builds the machine of the options with the board at `at`; false (with a
// message) when an EDID file is not one.
bool BuildMachine(const Options& o, const orvsim::PciLocation& at, Machine* m);

}  // namespace maindraw
