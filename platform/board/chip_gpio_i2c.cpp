#include "platform/board/chip_gpio_i2c.h"

#include <algorithm>

namespace orvsim {

ChipPin DdcPin(unsigned k);
ChipPin GpioPin(unsigned n);

namespace {

// Every pin of a line register.
std::vector<ChipPin> PinsOf(uint32_t reg) {
  std::vector<ChipPin> pins;
  if (reg == kChipRegDdcLines)
    for (unsigned k = 0; k < 4; ++k) pins.push_back(DdcPin(k));
  if (reg == kChipRegGpio)
    for (unsigned n = 0; n < 9; ++n) pins.push_back(GpioPin(n));
  if (reg == kChipRegMiscIoHigh)
    for (unsigned n = 0; n < 2; ++n) pins.push_back({kChipRegMiscIoHigh, 1u << (n + 4), 1u << n});
  return pins;
}

uint32_t PartMask(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

}  // namespace

ChipPin DdcPin(unsigned k) { return {kChipRegDdcLines, 1u << k, 1u << (k + 16)}; }
ChipPin GpioPin(unsigned n) { return {kChipRegGpio, 1u << n, 1u << (n + 10)}; }

ChipLinePins::ChipLinePins(Board& board) : board_(board) {
  HookRegister(kChipRegDdcLines);
  HookRegister(kChipRegGpio);
}

void ChipLinePins::HookRegister(uint32_t reg) {
  // A small register window (a test's) may not reach every line register.
  if (reg + 4 > board_.RegisterWindowSize()) return;
  board_.SetReadHook(reg, 4, [this, reg](Board&, RegAccess access, uint32_t) {
    const unsigned shift = 8 * (access.offset - reg);
    return (ReadValue(reg) >> shift) & PartMask(access.width);
  });
  board_.SetWriteHook(reg, 4, [this, reg](Board&, RegAccess access, uint32_t value, uint32_t) {
    const unsigned shift = 8 * (access.offset - reg);
    const uint32_t part = PartMask(access.width) << shift;
    Drive(reg, (Stored(reg) & ~part) | ((value << shift) & part));
    return value;
  });
}

void ChipLinePins::AddWiring() {
  if (wirings_++ == 0) HookRegister(kChipRegMiscIoHigh);
}

void ChipLinePins::RemoveWiring(const void* owner) {
  RemoveWires(owner);
  if (--wirings_ == 0 && kChipRegMiscIoHigh + 4 <= board_.RegisterWindowSize())
    board_.ClearHooks(kChipRegMiscIoHigh);
}

void ChipLinePins::Add(const Connection& c) {
  connections_.push_back(c);
  if (std::find(ports_.begin(), ports_.end(), c.port) == ports_.end()) ports_.push_back(c.port);
}

void ChipLinePins::Wire(const void* owner, ChipPin pin, unsigned port, I2cLine line) {
  Add({owner, pin, port, line, false, {}, false});
}

void ChipLinePins::WireSelected(const void* owner, ChipPin pin, unsigned port, I2cLine line,
                                ChipPin select, bool when) {
  Add({owner, pin, port, line, true, select, when});
}

// The buses keep the levels they have; the removed pins drive no bus any
// more.
void ChipLinePins::RemoveWires(const void* owner) {
  std::erase_if(connections_, [owner](const Connection& c) { return c.owner == owner; });
  ports_.clear();
  for (const Connection& c : connections_)
    if (std::find(ports_.begin(), ports_.end(), c.port) == ports_.end()) ports_.push_back(c.port);
}

ChipGpioI2c::ChipGpioI2c(Board& board) : board_(board) { board_.LinePins().AddWiring(); }

ChipGpioI2c::~ChipGpioI2c() { board_.LinePins().RemoveWiring(this); }

void ChipGpioI2c::Wire(ChipPin pin, unsigned port, I2cLine line) {
  board_.LinePins().Wire(this, pin, port, line);
}

void ChipGpioI2c::WireSelected(ChipPin pin, unsigned port, I2cLine line, ChipPin select,
                               bool when) {
  board_.LinePins().WireSelected(this, pin, port, line, select, when);
}

bool ChipGpioI2c::PinLevel(ChipPin pin) const { return board_.LinePins().PinLevel(pin); }

void ChipGpioI2c::WireDefault() {
  const ChipPin select = GpioPin(2);
  WireSelected(DdcPin(3), kBusDdcConnector0, I2cLine::kSda, select, false);
  WireSelected(DdcPin(1), kBusDdcConnector0, I2cLine::kScl, select, false);
  WireSelected(DdcPin(3), kBusDdcConnector2, I2cLine::kSda, select, true);
  WireSelected(DdcPin(1), kBusDdcConnector2, I2cLine::kScl, select, true);
  WireSelected(DdcPin(2), kBusDdcConnector1, I2cLine::kSda, select, false);
  WireSelected(DdcPin(0), kBusDdcConnector1, I2cLine::kScl, select, false);
  WireSelected(DdcPin(2), kBusDdcConnector3, I2cLine::kSda, select, true);
  WireSelected(DdcPin(0), kBusDdcConnector3, I2cLine::kScl, select, true);
  Wire(GpioPin(1), kBusBoardPort1, I2cLine::kScl);
  Wire(GpioPin(0), kBusBoardPort1, I2cLine::kSda);
  Wire(GpioPin(7), kBusBoardPort16, I2cLine::kScl);
  Wire(GpioPin(6), kBusBoardPort16, I2cLine::kSda);
}

uint32_t ChipLinePins::Stored(uint32_t reg) const { return board_.Peek(reg, 4); }

// The level the chip's own driver gives a pin: D when driving, else the
// pull-up. `value` stands for register `reg` (a write not yet stored).
bool ChipLinePins::DriverLevel(ChipPin pin, uint32_t reg, uint32_t value) const {
  const uint32_t v = pin.reg == reg ? value : Stored(pin.reg);
  return !(v & pin.enable) || (v & pin.data);
}

// Select pins are plain lines of the chip, on no bus.
bool ChipLinePins::Active(const Connection& c, uint32_t reg, uint32_t value) const {
  return !c.selected || DriverLevel(c.select, reg, value) == c.when;
}

bool ChipLinePins::PinLevel(ChipPin pin) const {
  for (const Connection& c : connections_) {
    if (!(c.pin == pin) || !Active(c, pin.reg, Stored(pin.reg))) continue;
    I2cBus& bus = board_.I2c(c.port);
    return c.line == I2cLine::kScl ? bus.SclLevel() : bus.SdaLevel();
  }
  return DriverLevel(pin, pin.reg, Stored(pin.reg));
}

uint32_t ChipLinePins::ReadValue(uint32_t reg) {
  const uint32_t stored = Stored(reg);
  uint32_t v = stored;
  // Pins on no active wire read their own driver or the pull-up.
  for (const ChipPin& pin : PinsOf(reg)) {
    const bool level = DriverLevel(pin, reg, stored);
    v = level ? (v | pin.data) : (v & ~pin.data);
  }
  for (const Connection& c : connections_) {
    if (c.pin.reg != reg || !Active(c, reg, stored)) continue;
    I2cBus& bus = board_.I2c(c.port);
    const bool level = c.line == I2cLine::kScl ? bus.ReadScl() : bus.ReadSda();
    v = level ? (v | c.pin.data) : (v & ~c.pin.data);
  }
  return v;
}

void ChipLinePins::Drive(uint32_t reg, uint32_t value) {
  for (unsigned port : ports_) {
    bool scl_low = false;
    bool sda_low = false;
    for (const Connection& c : connections_) {
      if (c.port != port || !Active(c, reg, value)) continue;
      const uint32_t v = c.pin.reg == reg ? value : Stored(c.pin.reg);
      const bool pulls_low = (v & c.pin.enable) && !(v & c.pin.data);
      if (!pulls_low) continue;
      (c.line == I2cLine::kScl ? scl_low : sda_low) = true;
    }
    I2cBus& bus = board_.I2c(port);
    if (bus.MasterScl() != !scl_low || bus.MasterSda() != !sda_low) bus.MasterDrive(!scl_low, !sda_low);
  }
}

}  // namespace orvsim
