// The shadowed state of the 2D engine in the shared locked block and the
// packets that restore it, with component-table row 19 that resets it.
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"

class BmPrimInt;
class PDEV;

class HwThread2d {
 public:
  // Initial values of the 2D control and clip words.
  static constexpr uint32_t kInitial1324 = 0xFFFFFFFF;

  static void Reset(SharedLockedData_t* shared);
  // Emits a restore packet for each dirty bit of the state mask at the
  // command interface's write position; each packet is reserved whole, so
  // one that would pass the buffer's limit goes to the next buffer.
  static void SetupHardware(SharedLockedData_t* shared, BmPrimInt* dma);
  static void PrintHwDirtyFlags(SharedLockedData_t*) {}
};

// Row 19.
bool InitHwThread2d(PDEV* pdev);
void CleanupHwThread2d(PDEV* pdev);
