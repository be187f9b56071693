// The drawing program's simulated machine.
#include "tests/maindraw/machine.h"

#include <stdio.h>

#include <vector>

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

orvmachine::MachineBoard* BuildMachine(const Options& o, const orvsim::PciLocation& at,
                                       orvmachine::Machine* m) {
  orvmachine::BoardSpec spec;
  spec.config.device_id = o.chip;
  spec.config.subsystem_id = o.subsystem;
  spec.config.memory_size = uint64_t{o.memoryMB} << 20;
  spec.config.location = at;
  spec.parts = orvmachine::kEngines | orvmachine::kFlips | orvmachine::kRomFlash |
               orvmachine::kDisplay | orvmachine::kDdc | o.extraParts;
  // The option ROM with the board description, and its copy in the flash.
  testsupport::DescribedBoard described;
  described.outputs = o.outputs;
  spec.optionRom = testsupport::DescriptionRom(described);
  for (const auto& [connector, path] : o.edids) {
    std::optional<std::string> bytes = ReadFile(path);
    if (!bytes || bytes->size() < 128 || bytes->size() % 128 != 0 || bytes->size() > 32768) {
      fprintf(stderr, "orv_main_draw: %s is not an EDID (blocks of 128 bytes)\n", path.c_str());
      return nullptr;
    }
    spec.monitors[connector] = std::vector<uint8_t>(bytes->begin(), bytes->end());
  }
  orvmachine::MachineBoard& b = m->AddBoard(spec);
  b.board.SetLogging(false, false);
  return &b;
}

}  // namespace maindraw
