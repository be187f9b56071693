// A board handle over the simulated board: the client services reach the
// board through the X server stand-in (configuration space by PCI tag, the
// register window mapped from /dev/mem). Free of the test framework, so
// benchmarks use it too.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/board_setup.h"
#include "hwsharing/boardhandle.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/simulation.h"
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

class HwBoard {
 public:
  explicit HwBoard(const orvsim::BoardConfig& config)
      : board_(&sim_.AddBoard(config)), box_(std::make_unique<xstub::Sandbox>()) {
    orvstandin::Reset();
    mem_ = xf86open("/dev/mem", O_RDWR);
    for (const orvsim::BarInfo& bar : board_->Bars()) {
      if (bar.kind != orvsim::ResourceKind::kRegisters) continue;
      map_size_ = bar.size;
      regs_ = xf86mmap(nullptr, bar.size, PROT_READ | PROT_WRITE, MAP_SHARED, mem_,
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
  ~HwBoard() {
    chip_.reset();
    if (regs_ != nullptr) xf86munmap(regs_, map_size_);
    if (mem_ >= 0) xf86close(mem_);
  }

  BOARDHANDLE* h() { return handle_.get(); }
  orvsim::Board& board() { return *board_; }
  orvsim::Simulation& sim() { return sim_; }
  ORVClientRecord& client() { return client_; }

  // Set-up and chip-layer initialisation, as opening the library does.
  HALSTATUS Open() {
    HALPGetBoardConfigSpaceInfo(h());
    return HSLInit(h());
  }

  // The chip's line registers, wired as on a board with the default maps.
  orvsim::ChipGpioI2c& Chip() {
    if (!chip_) {
      chip_ = std::make_unique<orvsim::ChipGpioI2c>(*board_);
      chip_->WireDefault();
    }
    return *chip_;
  }

  uint32_t Reg(uint32_t offset) { return board_->Peek(offset, 4); }

  // Every value logged as written to `reg`, in order.
  std::vector<uint32_t> WritesTo(uint32_t reg) {
    std::vector<uint32_t> out;
    for (const orvsim::RegAccessRecord& r : board_->LoggedWrites())
      if (r.offset == reg) out.push_back(r.value);
    return out;
  }

 private:
  orvsim::Simulation sim_;
  orvsim::Board* board_;
  std::unique_ptr<xstub::Sandbox> box_;
  std::unique_ptr<orvsim::ChipGpioI2c> chip_;
  int mem_ = -1;
  void* regs_ = nullptr;
  size_t map_size_ = 0;
  ORVClientRecord client_;
  std::unique_ptr<BOARDHANDLE> handle_;
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
