// A board handle over a board of the simulated machine
// (platform/machine): the client services reach the board through the X
// server stand-in (configuration space by PCI tag, the register window
// mapped from /dev/mem). Free of the test framework, so benchmarks use it
// too.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/chip/board_setup.h"
#include "hwsharing/chip/boardhandle.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/simulation.h"
#include "platform/machine/machine.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"
#include "tests/standins/standin_log.h"

namespace hwtest {

inline orvsim::BoardConfig Config(uint16_t device, uint8_t revision = 0) {
  orvsim::BoardConfig config;
  config.device_id = device;
  config.revision = revision;
  config.location = orvsim::PciLocation{1, 0, 0};
  return config;
}

// A board handle over one board of the simulated machine the running
// Sandbox sees: the board's register window mapped from /dev/mem (`mem`),
// its client record, and a handle that starts as raw memory.
class BoardHandleOn {
 public:
  BoardHandleOn(orvmachine::Machine& machine, orvmachine::MachineBoard& board, int mem)
      : machine_(&machine), parts_(&board), board_(&board.board) {
    for (const orvsim::BarInfo& bar : board_->Bars()) {
      if (bar.kind != orvsim::ResourceKind::kRegisters) continue;
      map_size_ = bar.size;
      regs_ = xf86mmap(nullptr, bar.size, PROT_READ | PROT_WRITE, MAP_SHARED, mem,
                       static_cast<off_t>(bar.base));
    }
    // Nothing maps while the board's memory decoding is off.
    if (regs_ == MAP_FAILED) regs_ = nullptr;
    client_.pciHandle = board_->Location().Tag();
    client_.registers = static_cast<volatile uint8_t*>(regs_);
    handle_ = std::make_unique<BOARDHANDLE>();
    std::memset(handle_.get(), 0xA5, sizeof(BOARDHANDLE));  // raw memory
    handle_->status = 0;
    handle_->pClient = &client_;
  }
  ~BoardHandleOn() {
    if (regs_ != nullptr) xf86munmap(regs_, map_size_);
  }
  BoardHandleOn(const BoardHandleOn&) = delete;
  BoardHandleOn& operator=(const BoardHandleOn&) = delete;

  BOARDHANDLE* h() { return handle_.get(); }
  orvsim::Board& board() { return *board_; }
  ORVClientRecord& client() { return client_; }

  // Set-up and chip-layer initialisation, as opening the library does.
  HALSTATUS Open() {
    HALPGetBoardConfigSpaceInfo(h());
    return HSLInit(h());
  }

  // The machine's chip blocks (orvmachine::Part) the board does not carry
  // yet, modelled from now on; the board's blocks.
  orvmachine::MachineBoard& AddParts(uint32_t parts) { return machine_->AddParts(*parts_, parts); }
  orvmachine::MachineBoard& Parts() { return *parts_; }

  // The chip's line registers, wired as on a board with the default maps.
  orvsim::ChipGpioI2c& Chip() { return *AddParts(orvmachine::kDdc).pins; }

  uint32_t Reg(uint32_t offset) { return board_->Peek(offset, 4); }

  // Every value logged as written to `reg`, in order.
  std::vector<uint32_t> WritesTo(uint32_t reg) {
    std::vector<uint32_t> out;
    for (const orvsim::RegAccessRecord& r : board_->LoggedWrites())
      if (r.offset == reg) out.push_back(r.value);
    return out;
  }

 private:
  orvmachine::Machine* machine_;
  orvmachine::MachineBoard* parts_;
  orvsim::Board* board_;
  void* regs_ = nullptr;
  size_t map_size_ = 0;
  ORVClientRecord client_;
  std::unique_ptr<BOARDHANDLE> handle_;
};

// A board of the simulated machine with its chip blocks `parts` (none
// beyond its PCI function, memory and registers unless asked).
inline orvmachine::BoardSpec BareBoard(const orvsim::BoardConfig& config, uint32_t parts = 0) {
  orvmachine::BoardSpec spec;
  spec.config = config;
  spec.parts = parts;
  return spec;
}

// One simulated board with its handle, in a machine and a Sandbox of its
// own.
class HwBoard {
 public:
  explicit HwBoard(const orvsim::BoardConfig& config, uint32_t parts = 0)
      : board_(&machine_.AddBoard(BareBoard(config, parts))), box_(std::make_unique<xstub::Sandbox>()) {
    orvstandin::Reset();
    mem_ = xf86open("/dev/mem", O_RDWR);
    on_ = std::make_unique<BoardHandleOn>(machine_, *board_, mem_);
  }
  ~HwBoard() {
    on_.reset();
    if (mem_ >= 0) xf86close(mem_);
  }

  BOARDHANDLE* h() { return on_->h(); }
  orvsim::Board& board() { return board_->board; }
  orvsim::Simulation& sim() { return machine_.sim; }
  orvmachine::Machine& machine() { return machine_; }
  ORVClientRecord& client() { return on_->client(); }
  HALSTATUS Open() { return on_->Open(); }
  orvmachine::MachineBoard& AddParts(uint32_t parts) { return on_->AddParts(parts); }
  orvmachine::MachineBoard& Parts() { return *board_; }
  orvsim::ChipGpioI2c& Chip() { return on_->Chip(); }
  uint32_t Reg(uint32_t offset) { return on_->Reg(offset); }
  std::vector<uint32_t> WritesTo(uint32_t reg) { return on_->WritesTo(reg); }

 private:
  orvmachine::Machine machine_;
  orvmachine::MachineBoard* board_;
  std::unique_ptr<xstub::Sandbox> box_;
  int mem_ = -1;
  std::unique_ptr<BoardHandleOn> on_;
};

// Several boards in one machine (at the configs' locations) and one
// Sandbox, each with its own handle.
class HwBoards {
 public:
  explicit HwBoards(const std::vector<orvsim::BoardConfig>& configs) {
    for (const orvsim::BoardConfig& c : configs) boards_.push_back(&machine_.AddBoard(BareBoard(c)));
    box_ = std::make_unique<xstub::Sandbox>();
    orvstandin::Reset();
    mem_ = xf86open("/dev/mem", O_RDWR);
    for (orvmachine::MachineBoard* b : boards_) on_.push_back(std::make_unique<BoardHandleOn>(machine_, *b, mem_));
  }
  ~HwBoards() {
    on_.clear();
    if (mem_ >= 0) xf86close(mem_);
  }

  size_t size() const { return on_.size(); }
  BoardHandleOn& operator[](size_t i) { return *on_[i]; }
  orvsim::Simulation& sim() { return machine_.sim; }
  orvmachine::Machine& machine() { return machine_; }

 private:
  orvmachine::Machine machine_;
  std::vector<orvmachine::MachineBoard*> boards_;
  std::unique_ptr<xstub::Sandbox> box_;
  int mem_ = -1;
  std::vector<std::unique_ptr<BoardHandleOn>> on_;
};

// Little-endian values in the board description the handle holds.
inline void PutPinsDword(BOARDHANDLE* h, uint32_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) h->oPins.aucData[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void PutPinsShort(BOARDHANDLE* h, uint32_t offset, int16_t value) {
  h->oPins.aucData[offset] = static_cast<uint8_t>(value);
  h->oPins.aucData[offset + 1] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
}
// The limits of FS n in MHz: VCO1 min and max, VCO2 min and max, IF min and
// max.
inline void PutFsLimits(BOARDHANDLE* h, unsigned n, const int16_t (&mhz)[6]) {
  for (unsigned i = 0; i < 6; ++i) PutPinsShort(h, 44 + 20 * n + 2 * i, mhz[i]);
}

}  // namespace hwtest
