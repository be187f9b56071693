// A board handle over the simulated board: the client services reach the
// board through the X server stand-in (configuration space by PCI tag, the
// register window mapped from /dev/mem).
#pragma once

#include <fcntl.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "hwsharing/boardhandle.h"
#include "hwsharing/stubs/standins.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"

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
    EXPECT_GE(mem_, 0);
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

}  // namespace hwtest
