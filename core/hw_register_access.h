// The driver core's register access: every read and write of a chip
// register goes through the board's register mapping (CommonData) and, for
// writes, through the register-write guard.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/poll.h"

class PDEV;

// Direct writes allowed between two waits on the DMA status register.
inline constexpr uint32_t kDirectWritesPerWait = 16;

// A write under the register-write guard.
void HwWriteRegister(CommonData* common, uint32_t reg, uint32_t value);
// A read; under the guard it first forgets the last register written.
uint32_t HwReadRegister(CommonData* common, uint32_t reg);
// Reads the register until (value & mask) == expected, for at most
// boundMicroseconds (core/wait_bounds.h) at the given pace. False, with a
// logged line naming `what`, when it never gets there.
[[nodiscard]] bool HwPollRegister(CommonData* common, uint32_t reg, uint32_t mask, uint32_t expected,
                                  const char* what, uint32_t boundMicroseconds,
                                  WaitPace pace = WaitPace::kPause);

// Component-table rows 4 (register access) and 6 (engine owner): nothing to
// build in this driver, the mapping and the guard words suffice.
bool InitHwRegAccess(PDEV* pdev);
void CleanupHwRegAccess(PDEV* pdev);
bool InitHwEngineOwner(PDEV* pdev);
void CleanupHwEngineOwner(PDEV* pdev);
