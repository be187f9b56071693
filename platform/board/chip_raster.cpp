#include "platform/board/chip_raster.h"

namespace orvsim {

namespace {

constexpr uint32_t kLow12 = 0xFFF;

uint32_t Low12(uint32_t v) { return v & kLow12; }
uint32_t High12(uint32_t v) { return (v >> 16) & kLow12; }
uint32_t Pair(uint32_t low, uint32_t high) { return (high << 16) | low; }

uint32_t ClockReg(unsigned module) {
  return module == 0 ? kChipRegModuleClock0 : kChipRegModuleClock1;
}

}  // namespace

ChipRaster::ChipRaster(Board& board) : board_(board) {
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
    // The gate changes the counter's speed: bring it up to date first.
    board_.SetWriteHook(ClockReg(m), 4, [this, m](Board& b, RegAccess access, uint32_t value,
                                                 uint32_t) {
      Update(m);
      const unsigned shift = 8 * (access.offset & 3);
      const uint32_t mask = (access.width == 4 ? 0xFFFFFFFFu : (1u << (8 * access.width)) - 1)
                            << shift;
      const uint32_t whole = (b.Peek(ClockReg(m), 4) & ~mask) | ((value << shift) & mask);
      return whole >> shift;
    });
  }
}

ChipRaster::~ChipRaster() {
  for (unsigned m = 0; m < 2; ++m) {
    board_.ClearHooks(kChipRegLineCounter + kChipModuleStride * m);
    board_.ClearHooks(kChipRegFieldControl + kChipModuleStride * m);
    board_.ClearHooks(ClockReg(m));
  }
}

uint32_t ChipRaster::Reg(unsigned module, uint32_t reg) const {
  return board_.Peek(reg + kChipModuleStride * module, 4);
}

bool ChipRaster::Running(unsigned module) const {
  return !modules_[module].frozen &&
         (board_.Peek(ClockReg(module), 4) & kChipModuleClockGate) == 0;
}

void ChipRaster::Update(unsigned module) {
  Module& m = modules_[module];
  const uint64_t now = board_.GetClock().Now();
  if (Running(module)) m.position_ns += now - m.updated_ns;
  m.updated_ns = now;
}

unsigned ChipRaster::Line(unsigned module) {
  Update(module);
  const Module& m = modules_[module];
  const uint64_t lines = Low12(Reg(module, kChipRegVTotal)) + 1;
  return static_cast<unsigned>((m.position_ns / m.line_ns) % lines);
}

uint64_t ChipRaster::Frame(unsigned module) {
  Update(module);
  const Module& m = modules_[module];
  const uint64_t lines = Low12(Reg(module, kChipRegVTotal)) + 1;
  return m.position_ns / m.line_ns / lines;
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
  Module& m = modules_[module];
  Update(module);
  // Keep the line the counter shows; only its speed changes.
  const uint64_t line = m.position_ns / m.line_ns;
  m.position_ns = line * (ns == 0 ? 1 : ns);
  m.line_ns = ns == 0 ? 1 : ns;
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
