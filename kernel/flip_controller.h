// The flip controller: hands out the four display buffers of each display
// to surfaces, selects the displayed buffer (at once or at the next
// vertical blank) and tells whether a flip is still in flight.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/regs/display.h"

struct CommonData;
class PDEV;

inline constexpr uint32_t kFlipSlotsPerDisplay = 4;
inline constexpr uint32_t kFlipSlotFree = 0;
inline constexpr uint32_t kFlipSlotTaken = 0xFFFFFFFF;
inline constexpr uint32_t kAllDisplays = 0xF;

class FlipController : public OsHeapObject {
 public:
  // Slot 0 of every display starts taken (the primary surface's).
  FlipController(CommonData* common, uint32_t modeWord);

  // The first slot free on every display of the mask, taken on each; -1
  // when none (or the mask names no display).
  int32_t FindFreeBuffer(uint32_t mask);
  // Takes a slot as above and writes the start address (bits 11-26) into
  // that slot's buffer start register of each display.
  int32_t AssignBuffer(uint32_t startAddress, uint32_t mask);
  // Waits (bounded) until no flip is pending for the mask, then frees the
  // slot on each display, a display that still shows it going back to slot
  // 0 at once; false, with nothing freed, when the wait ended without it.
  bool ReleaseBuffer(uint32_t slot, uint32_t mask);
  // The displayed-slot field := slot & 3 and the sync bit := sync & 1 on
  // each display of the mask.
  void SelectDisplayedBuffer(uint32_t mask, uint32_t slot, uint32_t sync);
  // 1 while the engine has submissions pending, a vertical-blank flip of the
  // displays' controller is enabled, or a display has not yet taken its
  // written slot; 0 at once when quick and the mode word is set.
  int IsFlipPending(uint32_t mask, bool quick);
  // Bounded wait until IsFlipPending(mask, false) is 0.
  bool WaitNoFlipPending(uint32_t mask);

  CommonData* common;
  uint32_t modeWord;
  uint32_t slots[kDisplayCount][kFlipSlotsPerDisplay];
};
static_assert(sizeof(FlipController) == 80);

// The displays a device object flips, from its unit and mode record word 0.
uint32_t DisplayMaskOf(uint32_t unit, uint32_t modeWord0);

// Component entry 14.
bool InitFlipController(PDEV* pdev);
void CleanupFlipController(PDEV* pdev);
