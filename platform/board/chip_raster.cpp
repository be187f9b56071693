#include "platform/board/chip_raster.h"

#include <cmath>

#include "platform/board/chip_clocks.h"
#include "platform/board/chip_vga.h"

namespace orvsim {

namespace {

constexpr uint32_t kLow12 = 0xFFF;
constexpr uint16_t kDeviceLaterGeneration = 0x5D63;
constexpr uint32_t kFs0 = 0xE10;
constexpr uint32_t kB90Fs0 = 0xE30;

uint32_t Low12(uint32_t v) { return v & kLow12; }
uint32_t High12(uint32_t v) { return (v >> 16) & kLow12; }
uint32_t Pair(uint32_t low, uint32_t high) { return (high << 16) | low; }

uint32_t ClockReg(unsigned module) {
  return module == 0 ? kChipRegModuleClock0 : kChipRegModuleClock1;
}

// The whole dword after a write of `access` to it.
uint32_t Merged(uint32_t whole, RegAccess access, uint32_t value) {
  const unsigned shift = 8 * (access.offset & 3);
  const uint32_t mask = (access.width >= 4 ? 0xFFFFFFFFu : (1u << (8 * access.width)) - 1) << shift;
  return (whole & ~mask) | ((value << shift) & mask);
}

}  // namespace

ChipRaster::ChipRaster(Board& board)
    : board_(board), later_generation_(board.Config().device_id == kDeviceLaterGeneration) {
  for (unsigned m = 0; m < 2; ++m) {
    modules_[m].updated_ns = board_.GetClock().Now();
    board_.SetReadHook(kChipRegLineCounter + kChipModuleStride * m, 4,
                       [this, m](Board& b, RegAccess access, uint32_t) {
                         const uint32_t reg = kChipRegLineCounter + kChipModuleStride * m;
                         const uint32_t word = (b.Peek(reg, 4) & ~kLow12) | Line(m);
                         return word >> (8 * (access.offset & 3));
                       });
    board_.SetReadHook(kChipRegFieldControl + kChipModuleStride * m, 4,
                       [this, m](Board& b, RegAccess access, uint32_t) {
                         const uint32_t reg = kChipRegFieldControl + kChipModuleStride * m;
                         const uint32_t field = (Frame(m) & 1) != 0 ? kChipFieldToggle : 0;
                         const uint32_t word = (b.Peek(reg, 4) & ~kChipFieldToggle) | field;
                         return word >> (8 * (access.offset & 3));
                       });
    // The control word: the counters first, then whoever gives the word
    // its other meanings.
    board_.SetWriteHook(kChipRegControl + kChipModuleStride * m, 4,
                        [this, m](Board& b, RegAccess access, uint32_t value, uint32_t) {
                          UpdateBoth();
                          const uint32_t reg = kChipRegControl + kChipModuleStride * m;
                          const uint32_t old = b.Peek(reg, 4);
                          uint32_t whole = Merged(old, access, value);
                          if (control_write_) whole = control_write_(m, whole, old);
                          return whole >> (8 * (access.offset & 3));
                        });
    WatchRegister(kChipRegHTotal + kChipModuleStride * m);
    WatchRegister(kChipRegVTotal + kChipModuleStride * m);
  }
  WatchRegister(kChipRegModuleClock1);
  WatchRegister(kChipRegRegime);
  // The video-reset pulse restarts both modules at line 0.
  board_.SetWriteHook(kChipRegModuleClock0, 4, [this](Board& b, RegAccess access, uint32_t value,
                                                      uint32_t) {
    UpdateBoth();
    const uint32_t old = b.Peek(kChipRegModuleClock0, 4);
    const uint32_t whole = Merged(old, access, value);
    if ((whole & kChipVideoResetPulse) && !(old & kChipVideoResetPulse)) {
      ++video_resets_;
      for (Module& mod : modules_) mod.lines = 0;
    }
    return whole >> (8 * (access.offset & 3));
  });
}

ChipRaster::~ChipRaster() {
  for (unsigned m = 0; m < 2; ++m) {
    board_.ClearHooks(kChipRegLineCounter + kChipModuleStride * m);
    board_.ClearHooks(kChipRegFieldControl + kChipModuleStride * m);
    board_.ClearHooks(kChipRegControl + kChipModuleStride * m);
    board_.ClearHooks(kChipRegHTotal + kChipModuleStride * m);
    board_.ClearHooks(kChipRegVTotal + kChipModuleStride * m);
    board_.ClearHooks(ClockReg(m));
  }
  board_.ClearHooks(kChipRegRegime);
}

void ChipRaster::WatchRegister(uint32_t reg) {
  board_.SetWriteHook(reg, 4, [this, reg](Board& b, RegAccess access, uint32_t value, uint32_t) {
    UpdateBoth();
    return Merged(b.Peek(reg, 4), access, value) >> (8 * (access.offset & 3));
  });
}

uint32_t ChipRaster::Reg(unsigned module, uint32_t reg) const {
  return board_.Peek(reg + kChipModuleStride * module, 4);
}

bool ChipRaster::Running(unsigned module) const {
  if (modules_[module].frozen) return false;
  if (board_.Peek(ClockReg(module), 4) & kChipModuleClockGate) return false;
  if (board_.Peek(kChipRegModuleClock0, 4) & kChipVideoResetPulse) return false;
  const bool on = (Reg(module, kChipRegControl) & 1) != 0;
  const bool vga = module == 0 && (board_.Peek(kChipRegRegime, 4) & kRegimeVga) != 0;
  return on || vga;
}

uint32_t ChipRaster::PixelKHz(unsigned module) const {
  const uint32_t code = (board_.Peek(ClockReg(module), 4) >> 6) & 0xF;
  if (code < 1 || code > 4) return kChipVgaDotClockKHz;
  const uint32_t word = board_.Peek((later_generation_ ? kB90Fs0 : kFs0) + 4 * (code - 1), 4);
  return ChipClocks::FsKHz(later_generation_ ? ClockGeneration::kLater : ClockGeneration::kFirst,
                           word);
}

double ChipRaster::LineNs(unsigned module) const {
  const Module& m = modules_[module];
  if (m.fixed_line_ns != 0) return static_cast<double>(m.fixed_line_ns);
  const uint32_t khz = PixelKHz(module);
  const uint32_t htotal = Low12(Reg(module, kChipRegHTotal)) + 2;
  // A module without a clock does not move (an endless line).
  if (khz == 0) return INFINITY;
  return htotal * 1e6 / khz;
}

RasterTiming ChipRaster::Timing(unsigned module) const {
  RasterTiming t{};
  const uint32_t h = Reg(module, kChipRegHTotal);
  const uint32_t v = Reg(module, kChipRegVTotal);
  t.htotal = Low12(h) + 2;
  t.hactive = High12(h) + 2;
  t.vtotal = Low12(v) + 1;
  t.vactive = High12(v) + 1;
  t.pixel_khz = PixelKHz(module);
  t.line_ns = LineNs(module);
  t.frame_hz = 1e9 / (t.line_ns * t.vtotal);
  return t;
}

void ChipRaster::Update(unsigned module) {
  Module& m = modules_[module];
  const uint64_t now = board_.GetClock().Now();
  if (Running(module)) {
    const double line = LineNs(module);
    if (std::isfinite(line)) {
      const double before = m.lines;
      m.lines += static_cast<double>(now - m.updated_ns) / line;
      // The blank begins where the counter reaches the first line past the
      // active ones: at lines k x total + active. A total that leaves no
      // line for it gives no blank.
      const uint32_t v = Reg(module, kChipRegVTotal);
      const double total = Low12(v) + 1;
      const double active = High12(v) + 1;
      if (active < total) {
        const double begun = std::floor((m.lines - active) / total) - std::floor((before - active) / total);
        if (begun > 0) m.vblanks += static_cast<uint64_t>(begun);
      }
    }
  }
  m.updated_ns = now;
}

uint64_t ChipRaster::VBlanks(unsigned module) {
  Update(module);
  return modules_[module].vblanks;
}

unsigned ChipRaster::Line(unsigned module) {
  Update(module);
  const uint64_t lines = Low12(Reg(module, kChipRegVTotal)) + 1;
  return static_cast<unsigned>(static_cast<uint64_t>(modules_[module].lines) % lines);
}

uint64_t ChipRaster::Frame(unsigned module) {
  Update(module);
  const uint64_t lines = Low12(Reg(module, kChipRegVTotal)) + 1;
  return static_cast<uint64_t>(modules_[module].lines) / lines;
}

bool ChipRaster::InVerticalBlank(unsigned module) {
  return Line(module) > High12(Reg(module, kChipRegVTotal));
}

bool ChipRaster::InVerticalSync(unsigned module) {
  const uint32_t sync = Reg(module, kChipRegVSync);
  const unsigned line = Line(module);
  return line >= Low12(sync) + 1 && line < High12(sync) + 1;
}

void ChipRaster::SetLineTimeNs(unsigned module, uint64_t ns) {
  Update(module);
  // Keep the line the counter shows; only its speed changes.
  modules_[module].lines = std::floor(modules_[module].lines);
  modules_[module].fixed_line_ns = ns;
}

void ChipRaster::Freeze(unsigned module, bool frozen) {
  Update(module);
  modules_[module].frozen = frozen;
}

void ChipRaster::PowerOnTiming(Board& board, unsigned module) {
  const uint32_t at = kChipModuleStride * module;
  board.Poke(kChipRegHTotal + at, 4, Pair(800 - 2, 640 - 2));
  board.Poke(kChipRegHBlank + at, 4, Pair(640 - 2, 800 - 2));
  board.Poke(kChipRegHSync + at, 4, Pair(656 - 2, 752 - 2));
  board.Poke(kChipRegVTotal + at, 4, Pair(525 - 1, 480 - 1));
  board.Poke(kChipRegVBlank + at, 4, Pair(480 - 1, 525 - 1));
  board.Poke(kChipRegVSync + at, 4, Pair(490 - 1, 492 - 1));
}

}  // namespace orvsim
