// The display processing's way to the chip: the register list that the
// shader, texture and surface objects fill and that goes out as packets on
// the display-processing command interface, and the display controller's
// buffer flip with its vertical-sync wait.
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"
#include "xdriver/dps_types.h"

class BmXformInt;
class HwManager;
class PDEV;

// The display-processing command interface of the board's hardware
// manager (the feature manager's third interface), or null.
BmXformInt* DpsInterfaceOf(const HwManager* hw);

class CDPSHwManager {
 public:
  // The longest list (a stretch with ten shader stages, four texture units
  // and five coordinate records) stays below 220 pairs with its padding.
  static constexpr uint32_t kMaxPairs = 256;

  explicit CDPSHwManager(SharedLockedData_t* shared) : shared(shared) {}

  // Empties the list.
  void Reset() {
    count = 0;
    overflowed = false;
  }
  // Appends a pair; a list that is full keeps what it has and remembers
  // that it overflowed (WriteBuffer then sends nothing).
  void Add(uint32_t reg, uint32_t value);
  void AddFloat(uint32_t reg, float value);
  // Appends (0x1080, 0) until the count is a multiple of 4.
  void PadBuffer();
  // Pads, turns each group of four pairs into one packet on the interface
  // and empties the list. False without an interface or after an overflow.
  bool WriteBuffer(HwManager* hw);
  // WriteBuffer, then starts the interface.
  bool PostBuffer(HwManager* hw);
  // The drawing-control value the next sync packet restores.
  void SetDwgCtl(HwManager* hw, uint32_t value);
  // Waits for the kernel module's submissions, the engine's idle bit and
  // the expected DMA status, each bounded; false (logged) when one gives up.
  bool WaitBusMastering(HwManager* hw);
  void WaitDwgMark(HwManager*) {}

  struct Pair {
    uint32_t reg;
    uint32_t value;
  };

  SharedLockedData_t* shared;
  uint32_t count = 0;
  bool overflowed = false;
  Pair pairs[kMaxPairs] = {};
};

// Polls of one vertical-sync loop before it gives up: the flip goes on
// after them, so a display that is off delays it by a few milliseconds of
// reads at most. Counted in reads, not paused: a pause could step over the
// few lines of the sync.
inline constexpr uint32_t kDpsVSyncPolls = 10000;

// What a flip shows: kind 4, the display format word, the display address
// (bit 2 selects the field) and whether the second field is used too.
struct DisplayBufferInfo {
  uint32_t kind = 4;
  uint32_t format = 0;
  uint32_t address = 0;
  uint32_t secondField = 0;
};

class DisplayIndexController {
 public:
  // Controllers 2 and 3: until bit 20 of the control word changes;
  // controllers 0 and 1: until the line counter has left the lines above
  // the sync start and come back below it. True when the last loop hit its
  // limit (the flip goes on regardless).
  static bool WaitForVsync(PDEV* pdev, EDPSController controller);
  // Shows `info` on the controller at the next vertical sync; answers 0.
  static uint32_t ChangeDisplayedBuffer(PDEV* pdev, EDPSController controller,
                                        const DisplayBufferInfo* info);
};
