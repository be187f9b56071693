// The board's option ROM and serial memories.
//
// - The option ROM image shows in the frame-buffer window, at the address
//   the ROM base register holds, while configuration bit 0x40.30 and the ROM
//   enable bit are both set (the chip then decodes the ROM over the memory
//   window); the frame-buffer bytes it covers come back when either clears.
// - An SPI flash behind the bit-bang pins of register 0x304 (bypass bit 0,
//   clock bit 4, data out bit 8, chip select bit 12 active low, data in bit
//   16): commands 0x15 (identification of one maker), 0xAB (release and
//   identification of the others) and 0x03 (read). The data-in pin floats
//   high when the flash does not drive it.
// - The configuration EEPROM is an I2cRegisterSlave on one of the board's
//   I2C buses (see AddConfigEeprom).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/i2c.h"

namespace orvsim {

inline constexpr unsigned kChipOptionConfig = 0x40;
inline constexpr uint32_t kChipOptionRomOverMemory = 1u << 30;
inline constexpr uint32_t kChipRegSpiPins = 0x304;

enum class FlashKind : uint8_t { kAtmel, kSt, kSst, kPmc, kUnknown, kAbsent };

class ChipRomFlash {
 public:
  explicit ChipRomFlash(Board& board);
  ~ChipRomFlash();
  ChipRomFlash(const ChipRomFlash&) = delete;
  ChipRomFlash& operator=(const ChipRomFlash&) = delete;

  // Back to the state the constructor gives, its hooks kept: no flash
  // part, erased contents, no command recorded, nothing selected or being
  // answered, no ROM shown (frame-buffer bytes under a ROM that showed
  // stay as they are, as a new chip leaves them). A harness that runs many
  // inputs on one board resets the chip instead of making it again.
  void Reset();

  // The flash part and its contents (padded with 0xFF to 128 KiB).
  void SetFlash(FlashKind kind, std::vector<uint8_t> contents);
  // The same from bytes the caller keeps.
  void SetFlash(FlashKind kind, const uint8_t* contents, size_t size);
  const std::vector<uint8_t>& FlashContents() const { return flash_; }
  // Commands the flash received, in order.
  const std::vector<uint8_t>& Commands() const { return commands_; }
  bool RomVisible() const { return visible_; }

  // A writable 256-byte EEPROM at 7-bit address `address` on bus `port`.
  I2cRegisterSlave& AddConfigEeprom(unsigned port, uint8_t address, std::vector<uint8_t> contents);

 private:
  void UpdateRomWindow();
  void OnPins(uint32_t value);

  Board& board_;
  bool visible_ = false;
  uint64_t shown_at_ = 0;
  std::vector<uint8_t> saved_;  // frame-buffer bytes under the ROM

  FlashKind kind_ = FlashKind::kAbsent;
  std::vector<uint8_t> flash_;
  std::vector<uint8_t> commands_;
  uint32_t pins_ = 0;
  bool selected_ = false;
  std::vector<uint8_t> in_;  // bytes received in this selection
  uint8_t shift_ = 0;
  unsigned bits_ = 0;
  std::vector<uint8_t> out_;  // answer bytes
  size_t out_pos_ = 0;
  unsigned out_bit_ = 0;
  bool reading_ = false;
  uint32_t address_ = 0;
  bool data_in_ = true;
};

}  // namespace orvsim
