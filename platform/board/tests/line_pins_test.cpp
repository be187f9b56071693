// The chip's line registers as open-drain pins with pull-ups: what a pin
// reads on a board with nothing wired to it, and while and after a wiring
// connects it to a bus.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/board/board.h"
#include "platform/board/chip_gpio_i2c.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

// What the data bit of `pin` reads after `written` went to its register.
bool ReadsAfter(Board& board, ChipPin pin, uint32_t written) {
  board.RegWrite(pin.reg, 4, written);
  return (board.RegRead(pin.reg, 4) & pin.data) != 0;
}

TEST(LinePins, UnwiredPinsFloatHighOnceReleased) {
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  const struct {
    const char* name;
    ChipPin pin;
  } pins[] = {{"GPIO line 1", GpioPin(1)}, {"GPIO line 8", GpioPin(8)}, {"DDC pin 2", DdcPin(2)}};
  for (const auto& p : pins) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(ReadsAfter(board, p.pin, 0)) << "released, data 0 written: the pull-up";
    EXPECT_FALSE(ReadsAfter(board, p.pin, p.pin.enable)) << "driven low";
    EXPECT_TRUE(ReadsAfter(board, p.pin, p.pin.enable | p.pin.data)) << "driven high";
    EXPECT_EQ(board.Peek(p.pin.reg, 4), p.pin.enable | p.pin.data) << "the register keeps what was written";
  }
}

TEST(LinePins, AWiringConnectsPinsToTheBusUntilItGoes) {
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  const ChipPin scl = GpioPin(1);
  const ChipPin stereo{kChipRegMiscIoHigh, 1u << 5, 1u << 1};
  // Without a wiring the misc-IO high lines are plain storage.
  EXPECT_FALSE(ReadsAfter(board, stereo, 0));
  {
    ChipGpioI2c wiring(board);
    wiring.WireDefault();
    board.I2c(kBusBoardPort1).Scl().SetStuckLow(true);
    EXPECT_FALSE(ReadsAfter(board, scl, 0)) << "released onto a clock held low";
    EXPECT_TRUE(ReadsAfter(board, stereo, 0)) << "a pin while the wiring lives";
    board.RegWrite(scl.reg, 4, scl.enable);
    board.I2c(kBusBoardPort1).Scl().SetStuckLow(false);
    EXPECT_FALSE(board.I2c(kBusBoardPort1).ReadScl()) << "the chip pulls the wire low";
    board.RegWrite(scl.reg, 4, 0);
  }
  board.I2c(kBusBoardPort1).Scl().SetStuckLow(true);
  EXPECT_TRUE(ReadsAfter(board, scl, 0)) << "off the bus again: the pull-up";
  EXPECT_FALSE(ReadsAfter(board, stereo, 0));
}

}  // namespace
}  // namespace orvsim
