// The chip's reset through PCI configuration register 0xE0, and its
// power-on state.
//
// - Writing configuration register 0xE0 with bits 0 and 1 set puts the chip
//   into reset; writing it with either bit clear lets it run again. Entering
//   reset brings the chip back to power-on: every register of the window
//   takes its power-on value, every writable bit of configuration space
//   (command, base addresses, interrupt line, option registers 0x40-0x5F,
//   the bus-interface word 0xF8) goes to 0, and every model that keeps
//   state outside the window is told (OnReset). Configuration dword 0xF4
//   (bus-interface status) is read-only.
// - The power-on image of the register window is the window as it stands
//   when the model is installed: a test builds its cold chip first.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

inline constexpr unsigned kPciChipReset = 0xE0;
inline constexpr uint32_t kPciChipResetBits = 0x3;
inline constexpr unsigned kPciBusInterfaceStatus = 0xF4;
inline constexpr unsigned kPciBusInterfaceControl = 0xF8;

class ChipReset {
 public:
  explicit ChipReset(Board& board);
  ~ChipReset();
  ChipReset(const ChipReset&) = delete;
  ChipReset& operator=(const ChipReset&) = delete;

  void OnReset(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }
  // Times the chip entered reset.
  unsigned Pulses() const { return pulses_; }
  bool InReset() const { return in_reset_; }
  // The power-on value of a register.
  uint32_t PowerOn(uint32_t offset) const;

 private:
  void Enter();

  Board& board_;
  std::vector<uint8_t> power_on_;
  std::vector<std::function<void()>> listeners_;
  unsigned hook_id_ = 0;
  unsigned pulses_ = 0;
  bool in_reset_ = false;
};

}  // namespace orvsim
