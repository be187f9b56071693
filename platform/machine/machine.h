// One simulated machine for tests, benchmarks and the main job's drawing
// program: the boards on the simulated PCI bus with the chip blocks each
// one carries (option ROM and flash, DMA and 2D engines, the processor's
// aperture windows, interrupt controller, flip latch, display controllers
// and clocks, DDC lines with monitors, hardware cursors), and the kernel module loaded into
// the process with its glue, behind the X server stand-in's device node.
//
//   orvmachine::Machine m;
//   orvmachine::MachineBoard& b = m.AddBoard(spec);    // spec: ids, parts, monitors
//   orvmachine::KernelModule& k = m.LoadKernelModule(b, {.file = path});
//   k.ProvideTo(sandbox);                              // /dev/orvane/orv0
//
// (kernel_module.h declares the module; a program that loads the module's
// file includes it.)
//
// The simulation is made first and goes last: the chips, then the module
// with its glue go before it. A sandbox that maps the boards is made after
// the machine, so it goes first.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/simulation.h"

namespace orvsim {
class ApertureWindows;
class ChipClocks;
class ChipCursor;
class ChipDisplay;
class ChipGpioI2c;
class ChipRomFlash;
class DmaEngine;
class Engine2d;
class Engine3d;
class FlipLatch;
class ChipDacSense;
class ChipLut;
class InterruptController;
class VertexEngine;
}  // namespace orvsim

namespace orvmachine {

class KernelModule;          // kernel_module.h
struct KernelModuleOptions;  // kernel_module.h

// The chip blocks a board carries beyond its PCI function, memory and
// register window. A part that needs another brings it along.
enum Part : uint32_t {
  kRomFlash = 1u << 0,      // the ROM and flash chip
  kDma = 1u << 1,           // the DMA engine
  k2d = 1u << 2 | kDma,     // the 2D engine behind the DMA engine
  kWindows = 1u << 3,       // the processor's aperture windows onto local memory
  kInterrupts = 1u << 4,    // the interrupt controller; a DMA engine raises on it
  kFlips = 1u << 5 | kInterrupts,  // the flip latch
  kControllers = 1u << 6,   // display controllers: raster, VGA, colour tables, outputs
  kDdc = 1u << 7,           // the I2C pins, wired to the connectors' DDC lines
  kCursor = 1u << 8,        // the hardware cursors
  kVertex = 1u << 9 | kDma,  // the vertex engine's memories behind the DMA engine
  kClocks = 1u << 10,       // the clock blocks: synthesizers, PLLs, clock selects
  kDisplay = kControllers | kClocks,  // display controllers and clocks
  // The colour tables alone, on a board whose controllers are not modelled
  // (kControllers carries its own).
  kLut = 1u << 11,
  kDacSense = 1u << 12,     // load sensing on the DACs' outputs
  k3d = 1u << 13 | kDma,    // the 3D rasteriser behind the DMA engine
};

// Every engine and the processor's windows, as a driver that draws needs.
inline constexpr uint32_t kEngines = k2d | kWindows | kInterrupts;

struct BoardSpec {
  orvsim::BoardConfig config;
  uint32_t parts = kEngines;
  // The option ROM's image (the board's expansion ROM); none when empty.
  std::vector<uint8_t> optionRom;
  // With kRomFlash, the flash's contents; the option ROM's image when empty.
  std::vector<uint8_t> flash;
  // A monitor's EDID on the DDC line of connectors 0 to 3; brings kDdc.
  std::map<unsigned, std::vector<uint8_t>> monitors;
};

// One board and its chip blocks (null: not carried).
struct MachineBoard {
  explicit MachineBoard(orvsim::Board& b);
  ~MachineBoard();
  MachineBoard(const MachineBoard&) = delete;
  MachineBoard& operator=(const MachineBoard&) = delete;

  orvsim::Board& board;
  std::unique_ptr<orvsim::ChipRomFlash> rom;
  std::unique_ptr<orvsim::DmaEngine> dma;
  std::unique_ptr<orvsim::Engine2d> engine2d;
  std::unique_ptr<orvsim::VertexEngine> vertex;
  std::unique_ptr<orvsim::Engine3d> engine3d;
  std::unique_ptr<orvsim::ApertureWindows> windows;
  std::unique_ptr<orvsim::InterruptController> irq;
  std::unique_ptr<orvsim::FlipLatch> flips;
  std::unique_ptr<orvsim::ChipDisplay> display;
  std::unique_ptr<orvsim::ChipClocks> clocks;
  std::unique_ptr<orvsim::ChipGpioI2c> pins;
  std::unique_ptr<orvsim::ChipCursor> cursor;
  std::unique_ptr<orvsim::ChipLut> lut;
  std::unique_ptr<orvsim::ChipDacSense> dacSense;
};

// The DDC bus of connectors 0 to 3.
unsigned DdcBus(unsigned connector);

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // A board with the parts `spec` names; with both a DMA engine and an
  // interrupt controller the engine raises its interrupts there.
  MachineBoard& AddBoard(const BoardSpec& spec = {});
  // Adds the parts a board does not carry yet, as AddBoard makes them: for
  // a test whose chip blocks come in after the driver first touched the
  // board. Answers the board.
  MachineBoard& AddParts(MachineBoard& board, uint32_t parts);
  MachineBoard& Board(size_t index = 0) { return *boards_.at(index); }
  size_t BoardCount() const { return boards_.size(); }

  // Puts a monitor's EDID on a connector's DDC line (wiring the board's I2C
  // pins first when they are not yet); false for a connector beyond 3.
  bool AttachMonitor(MachineBoard& board, unsigned connector, std::vector<uint8_t> edid);

  // Loads the kernel module for the board (see kernel_module.h); one per
  // machine. Why it failed is in the answer's `error`.
  KernelModule& LoadKernelModule(MachineBoard& board, const KernelModuleOptions& options);
  // The loaded module, or null.
  KernelModule* Kernel() { return module_.get(); }
  // Destroys the board's device and unloads the module, then drops it;
  // the module's answer to its unload (0 without a module).
  int UnloadKernelModule();

  orvsim::Simulation sim;

 private:
  std::vector<std::unique_ptr<MachineBoard>> boards_;
  std::unique_ptr<KernelModule> module_;
};

}  // namespace orvmachine
