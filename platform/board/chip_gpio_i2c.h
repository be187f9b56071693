// The chip's line registers on the simulated board: the four DDC pins of
// 0x1C48, the GPIO lines of 0x1C4C and the misc-IO lines of 0x308.
//
// A pin has a data bit D and a drive-enable bit E in its register. With E
// set the chip drives the pin to D; with E clear the pin is released and
// floats high through its pull-up, on every board: a pin nothing is wired
// to reads high once released. A pin wired to an I2C bus line is open
// drain: it can only pull the wire low (E set, D clear), and its data bit
// reads the wire's level, not the value last written. A wiring may depend
// on the level of a select pin (a multiplexer, as the board's I2C port-
// enable line routes the chip's DDC pins to one connector or another).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/i2c.h"

namespace orvsim {

inline constexpr uint32_t kChipRegDdcLines = 0x1C48;
inline constexpr uint32_t kChipRegGpio = 0x1C4C;
inline constexpr uint32_t kChipRegMiscIoHigh = 0x308;

struct ChipPin {
  uint32_t reg;
  uint32_t data;    // data bit mask
  uint32_t enable;  // drive-enable bit mask
  bool operator==(const ChipPin&) const = default;
};

// DDC pin k (0..3): data bit k, enable bit k + 16.
ChipPin DdcPin(unsigned k);
// GPIO line n (0..8): data bit n, enable bit n + 10.
ChipPin GpioPin(unsigned n);

enum class I2cLine : uint8_t { kScl, kSda };

// Buses of the board (Board::I2c) that the default wiring uses: one per
// connector's DDC lines and one per board I2C port.
inline constexpr unsigned kBusDdcConnector0 = 0;
inline constexpr unsigned kBusDdcConnector1 = 5;
inline constexpr unsigned kBusDdcConnector2 = 6;
inline constexpr unsigned kBusDdcConnector3 = 7;
inline constexpr unsigned kBusBoardPort1 = 1;
inline constexpr unsigned kBusBoardPort16 = 8;

// The line registers of one board and what their pins are wired to. Every
// Board has one from the start (`Board::LinePins()`): the DDC pins and the
// GPIO lines are pins from the start, so one on no wire reads as its
// pull-up leaves it, high once released. The misc-IO high lines (0x308)
// are pins while a ChipGpioI2c is on the board and plain storage
// otherwise (a line that reads back what was written, as the stereo
// connector's does). Wires are added through a ChipGpioI2c.
class ChipLinePins {
 public:
  explicit ChipLinePins(Board& board);
  ChipLinePins(const ChipLinePins&) = delete;
  ChipLinePins& operator=(const ChipLinePins&) = delete;

  // Connects a pin to a line of bus `port`, for `owner` (see RemoveWires).
  void Wire(const void* owner, ChipPin pin, unsigned port, I2cLine line);
  void WireSelected(const void* owner, ChipPin pin, unsigned port, I2cLine line, ChipPin select,
                    bool when);
  // Takes every wire of `owner` off again; its pins float on the pull-up.
  void RemoveWires(const void* owner);
  // A ChipGpioI2c comes and goes; it makes misc-IO high pins while it lives.
  void AddWiring();
  void RemoveWiring(const void* owner);

  bool PinLevel(ChipPin pin) const;

 private:
  struct Connection {
    const void* owner;
    ChipPin pin;
    unsigned port;
    I2cLine line;
    bool selected;
    ChipPin select;
    bool when;
  };

  void Add(const Connection& c);
  void HookRegister(uint32_t reg);
  uint32_t Stored(uint32_t reg) const;
  bool Active(const Connection& c, uint32_t reg, uint32_t value) const;
  bool DriverLevel(ChipPin pin, uint32_t reg, uint32_t value) const;
  uint32_t ReadValue(uint32_t reg);
  void Drive(uint32_t reg, uint32_t value);

  Board& board_;
  std::vector<Connection> connections_;
  std::vector<unsigned> ports_;
  unsigned wirings_ = 0;
};

// The wiring a test gives the board's line pins; destroying it takes its
// wires off again.
class ChipGpioI2c {
 public:
  // The model must not outlive the board.
  explicit ChipGpioI2c(Board& board);
  ~ChipGpioI2c();
  ChipGpioI2c(const ChipGpioI2c&) = delete;
  ChipGpioI2c& operator=(const ChipGpioI2c&) = delete;

  // Connects a pin to a line of the board's I2C bus `port`.
  void Wire(ChipPin pin, unsigned port, I2cLine line);
  // The same, only while the select pin's level is `when`.
  void WireSelected(ChipPin pin, unsigned port, I2cLine line, ChipPin select, bool when);

  // The wiring of a board whose description keeps the default misc-IO and
  // DDC maps: DDC pins 3 (SDA) and 1 (SCL) go to connector 0 or 2, pins 2
  // (SDA) and 0 (SCL) to connector 1 or 3, chosen by GPIO line 2 (low:
  // connectors 0 and 1); GPIO lines 1 (SCL) and 0 (SDA) are board I2C port
  // 1, lines 7 (SCL) and 6 (SDA) board port 16.
  void WireDefault();

  // The level a pin has now (what its data bit reads), without counting as
  // a read by the chip.
  bool PinLevel(ChipPin pin) const;

 private:
  Board& board_;
};

}  // namespace orvsim
