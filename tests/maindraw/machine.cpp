// The drawing program's simulated machine.
#include "tests/maindraw/machine.h"

#include <stdio.h>

#include <vector>

#include "platform/board/chip_gpio_i2c.h"
#include "tests/support/description_rom.h"

namespace maindraw {

std::optional<std::string> ReadFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  const bool ok = !ferror(f);
  fclose(f);
  if (!ok) return std::nullopt;
  return text;
}

bool BuildMachine(const Options& o, const orvsim::PciLocation& at, Machine* m) {
  orvsim::BoardConfig config;
  config.device_id = o.chip;
  config.subsystem_id = o.subsystem;
  config.memory_size = uint64_t{o.memoryMB} << 20;
  config.location = at;
  // The option ROM with the board description, and its copy in the flash.
  testsupport::DescribedBoard described;
  described.outputs = o.outputs;
  const std::vector<uint8_t> rom = testsupport::DescriptionRom(described);
  config.rom_size = static_cast<uint32_t>(rom.size());
  config.rom_image = rom;
  m->board = &m->sim.AddBoard(config);
  m->rom = std::make_unique<orvsim::ChipRomFlash>(*m->board);
  m->rom->SetFlash(orvsim::FlashKind::kSst, rom);
  m->board->SetLogging(false, false);
  m->display = std::make_unique<orvsim::ChipDisplay>(*m->board);
  m->clocks = std::make_unique<orvsim::ChipClocks>(*m->board);
  m->pins = std::make_unique<orvsim::ChipGpioI2c>(*m->board);
  m->pins->WireDefault();
  m->dma = std::make_unique<orvsim::DmaEngine>(*m->board);
  m->engine = std::make_unique<orvsim::Engine2d>(*m->board, *m->dma);
  m->windows = std::make_unique<orvsim::ApertureWindows>(*m->board);
  m->irq = std::make_unique<orvsim::InterruptController>(*m->board);
  static constexpr unsigned kConnectorBus[4] = {orvsim::kBusDdcConnector0, orvsim::kBusDdcConnector1,
                                                orvsim::kBusDdcConnector2, orvsim::kBusDdcConnector3};
  for (const auto& [connector, path] : o.edids) {
    std::optional<std::string> bytes = ReadFile(path);
    if (!bytes || bytes->size() < 128 || bytes->size() % 128 != 0 || bytes->size() > 32768) {
      fprintf(stderr, "orv_main_draw: %s is not an EDID (blocks of 128 bytes)\n", path.c_str());
      return false;
    }
    m->board->I2c(kConnectorBus[connector])
        .Emplace<orvsim::EdidEeprom>(std::vector<uint8_t>(bytes->begin(), bytes->end()));
  }
  return true;
}

}  // namespace maindraw
