// An opened board with the display side of the chip modelled (raster, VGA
// register file, colour tables, reset), and helpers for the chip-layer
// tests: mode records, VGA register reads, companion chips on board port 1.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/tests/hw_fixture.h"
#include "platform/board/chip_clocks.h"
#include "platform/board/chip_display.h"
#include "platform/board/companion_chips.h"

namespace hwtest {

// A mode record: sizes, depth, clock and the horizontal and vertical
// front porch, sync and back porch.
inline MODEINFO Mode(uint32_t width, uint32_t height, uint32_t bpp, uint32_t khz,
                     uint32_t hfp, uint32_t hsync, uint32_t hbp, uint32_t vfp, uint32_t vsync,
                     uint32_t vbp, uint32_t refresh = 60) {
  MODEINFO m{};
  m.ulDispWidth = m.ulDeskWidth = width;
  m.ulDispHeight = m.ulDeskHeight = height;
  m.ulBpp = bpp;
  m.ulPixClock = khz;
  m.ulHFPorch = hfp;
  m.ulHSync = hsync;
  m.ulHBPorch = hbp;
  m.ulVFPorch = vfp;
  m.ulVSync = vsync;
  m.ulVBPorch = vbp;
  m.ulRefreshRate = refresh;
  m.ulZoom = 1;
  return m;
}

// 1024x768 at 60 Hz (DMT: 65,000 kHz, totals 1344 x 806) on controller c
// (0..3) driving `outputs`.
inline MODEINFO XgaOn(uint32_t controller, uint32_t outputs, uint32_t bpp = 32) {
  static constexpr uint32_t kBits[4] = {0, kOutModule1, kOutSecondController,
                                        kOutModule1 | kOutSecondController};
  MODEINFO m = Mode(1024, 768, bpp, 65000, 24, 136, 160, 3, 6, 29);
  m.flOutput = kBits[controller & 3] | outputs;
  return m;
}

// Every register a companion chip saw written, one (register, value) pair
// per byte, in order.
using RegWrites = std::vector<std::pair<int, int>>;
inline RegWrites WritesOf(const orvsim::CompanionChip& chip) {
  RegWrites out;
  for (const orvsim::I2cTransfer& t : chip.DataWrites())
    for (size_t i = 0; i < t.bytes.size(); ++i) out.emplace_back(t.first + int(i), t.bytes[i]);
  return out;
}

class ChipTest : public testing::Test {
 protected:
  explicit ChipTest(uint16_t device = kDeviceKestrion2, uint32_t window = 0)
      : hw(ConfigWithWindow(device, window)), display(*hw.AddParts(orvmachine::kControllers).display) {
    EXPECT_EQ(hw.Open(), 0u);
    h = hw.h();
    orvstandin::Reset();
    hw.board().SetLogging(false, true);
    hw.board().ClearLog();
  }

  static orvsim::BoardConfig ConfigWithWindow(uint16_t device, uint32_t window) {
    orvsim::BoardConfig config = Config(device);
    if (window != 0) config.register_window_size = window;
    return config;
  }

  orvsim::ChipVga& Vga() { return display.Vga(); }
  orvsim::ChipRaster& Raster() { return display.Raster(); }
  orvsim::ChipLut& Lut() { return display.Lut(); }
  orvsim::Board& Board() { return hw.board(); }
  orvsim::Simulation& sim() { return hw.sim(); }

  // Board I2C port 1 with the chip's lines wired to it.
  orvsim::I2cBus& Port1() {
    hw.Chip();
    return hw.board().I2c(orvsim::kBusBoardPort1);
  }
  template <class Chip, class... Args>
  Chip& OnPort1(Args... args) {
    return Port1().Emplace<Chip>(args...);
  }

  // Offsets of logged register writes that fall in [first, last].
  std::vector<uint32_t> WrittenIn(uint32_t first, uint32_t last) {
    std::vector<uint32_t> out;
    for (const orvsim::RegAccessRecord& r : hw.board().LoggedWrites())
      if (r.offset >= first && r.offset <= last) out.push_back(r.offset);
    return out;
  }

  HwBoard hw;
  orvsim::ChipDisplay& display;  // the machine's display controllers
  BOARDHANDLE* h;
};

// A ChipTest with the clock blocks modelled and every controller off, for
// the tests of whole mode sets.
class ModeChipTest : public ChipTest {
 protected:
  explicit ModeChipTest(uint16_t device = kDeviceKestrion2)
      : ChipTest(device), clocks(*hw.AddParts(orvmachine::kClocks).clocks) {
    for (uint32_t c = 0; c < 4; ++c) h->aModeInfo[c].flOutput = kControllerOffWord[c];
  }
  uint32_t Reg(uint32_t r) { return hw.Reg(r); }
  void Set(uint32_t r, uint32_t v) { Board().Poke(r, 4, v); }

  orvsim::ChipClocks& clocks;  // the machine's clock blocks
};

}  // namespace hwtest
