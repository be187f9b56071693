// The simulated machine's builder.
#include "platform/machine/machine.h"

#include "platform/board/chip_2d.h"
#include "platform/board/chip_3d.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_cursor.h"
#include "platform/board/chip_dac_sense.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/board/chip_flip.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/chip_lut.h"
#include "platform/board/chip_rom_flash.h"
#include "platform/board/i2c.h"
#include "platform/machine/kernel_module.h"

namespace orvmachine {

MachineBoard::MachineBoard(orvsim::Board& b) : board(b) {}

// The chips unhook from the board in the reverse order of their making.
MachineBoard::~MachineBoard() {
  dacSense.reset();
  lut.reset();
  cursor.reset();
  pins.reset();
  clocks.reset();
  flips.reset();
  if (irq) irq->SetVBlankCounter(nullptr);
  display.reset();
  irq.reset();
  windows.reset();
  engine3d.reset();
  engine2d.reset();
  vertex.reset();
  dma.reset();
  rom.reset();
}

unsigned DdcBus(unsigned connector) {
  static constexpr unsigned kBus[4] = {orvsim::kBusDdcConnector0, orvsim::kBusDdcConnector1,
                                       orvsim::kBusDdcConnector2, orvsim::kBusDdcConnector3};
  return connector < 4 ? kBus[connector] : kBus[0];
}

Machine::Machine() = default;

// The module and its glue go first, then the boards' chips, then the
// simulation.
Machine::~Machine() {
  module_.reset();
  boards_.clear();
}

MachineBoard& Machine::AddBoard(const BoardSpec& spec) {
  orvsim::BoardConfig config = spec.config;
  if (!spec.optionRom.empty()) {
    config.rom_image = spec.optionRom;
    config.rom_size = static_cast<uint32_t>(spec.optionRom.size());
  }
  auto made = std::make_unique<MachineBoard>(sim.AddBoard(config));
  MachineBoard& b = *made;
  boards_.push_back(std::move(made));
  if (spec.parts & kRomFlash) {
    b.rom = std::make_unique<orvsim::ChipRomFlash>(b.board);
    b.rom->SetFlash(orvsim::FlashKind::kSst, spec.flash.empty() ? spec.optionRom : spec.flash);
  }
  AddParts(b, spec.parts & ~kRomFlash);
  for (const auto& [connector, edid] : spec.monitors) AttachMonitor(b, connector, edid);
  return b;
}

MachineBoard& Machine::AddParts(MachineBoard& b, uint32_t parts) {
  if ((parts & kRomFlash) && !b.rom) b.rom = std::make_unique<orvsim::ChipRomFlash>(b.board);
  if ((parts & kDma) == kDma && !b.dma) b.dma = std::make_unique<orvsim::DmaEngine>(b.board);
  if ((parts & kVertex) == kVertex && !b.vertex)
    b.vertex = std::make_unique<orvsim::VertexEngine>(b.board, *b.dma);
  if ((parts & k2d) == k2d && !b.engine2d) b.engine2d = std::make_unique<orvsim::Engine2d>(b.board, *b.dma);
  if ((parts & k3d) == k3d && !b.engine3d) b.engine3d = std::make_unique<orvsim::Engine3d>(b.board, *b.dma);
  if ((parts & kWindows) && !b.windows) b.windows = std::make_unique<orvsim::ApertureWindows>(b.board);
  if ((parts & kInterrupts) == kInterrupts && !b.irq) {
    b.irq = std::make_unique<orvsim::InterruptController>(b.board);
    if (b.dma) b.dma->SetInterrupts(b.irq.get());
  }
  if ((parts & kControllers) && !b.display) {
    // The raster owns the control words the flip latch shares: a latch made
    // before it is made again on it below.
    if (b.flips) {
      b.flips.reset();
      parts |= kFlips;
    }
    b.display = std::make_unique<orvsim::ChipDisplay>(b.board);
  }
  // The rasters' vertical blanks are the interrupt controller's.
  if (b.display && b.irq) {
    orvsim::ChipRaster& raster = b.display->Raster();
    b.irq->SetVBlankCounter([&raster](unsigned controller) { return raster.VBlanks(controller); });
  }
  if ((parts & kFlips) == kFlips && !b.flips) {
    b.flips = b.display ? std::make_unique<orvsim::FlipLatch>(b.board, *b.irq, b.display->Raster())
                        : std::make_unique<orvsim::FlipLatch>(b.board, *b.irq);
  }
  if ((parts & kClocks) && !b.clocks) b.clocks = std::make_unique<orvsim::ChipClocks>(b.board);
  if ((parts & kDdc) && !b.pins) {
    b.pins = std::make_unique<orvsim::ChipGpioI2c>(b.board);
    b.pins->WireDefault();
  }
  if ((parts & kCursor) && !b.cursor) b.cursor = std::make_unique<orvsim::ChipCursor>(b.board);
  if ((parts & kLut) && !b.lut && !b.display) b.lut = std::make_unique<orvsim::ChipLut>(b.board);
  if ((parts & kDacSense) && !b.dacSense) b.dacSense = std::make_unique<orvsim::ChipDacSense>(b.board);
  return b;
}

bool Machine::AttachMonitor(MachineBoard& b, unsigned connector, std::vector<uint8_t> edid) {
  if (connector > 3) return false;
  AddParts(b, kDdc);
  b.board.I2c(DdcBus(connector)).Emplace<orvsim::EdidEeprom>(std::move(edid));
  return true;
}

KernelModule& Machine::LoadKernelModule(MachineBoard& board, const KernelModuleOptions& options) {
  module_.reset();
  module_ = std::make_unique<KernelModule>(board, options);
  return *module_;
}

int Machine::UnloadKernelModule() {
  if (!module_) return 0;
  const int answer = module_->DestroyAndUnload();
  module_.reset();
  return answer;
}

}  // namespace orvmachine
