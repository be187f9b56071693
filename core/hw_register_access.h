// The driver core's register access: every read and write of a chip
// register goes through the board's register mapping (CommonData) and, for
// writes, through the register-write guard.
#pragma once

#include <stdint.h>

#include "core/common_data.h"
#include "core/orv_abi.h"
#include "core/os.h"
#include "core/poll.h"
#include "core/register_guard.h"

class PDEV;

// Direct writes allowed between two waits on the DMA status register.
inline constexpr uint32_t kDirectWritesPerWait = 16;

// The wait for the DMA status to take writes that every
// kDirectWritesPerWait-th direct write makes first; out of line, as it is
// rare.
void HwWaitWriteReady(CommonData* common);

// A write under the register-write guard. Inline: the engine is started by
// one of these after every run of commands, and a call chain down to the
// register costs as much as the write itself.
inline void HwWriteRegister(CommonData* common, uint32_t reg, uint32_t value) {
  SharedLockedData_t* shared = common->sharedLocked;
  if (++shared->directWriteCount > kDirectWritesPerWait) HwWaitWriteReady(common);
  if (shared->regGuardEnable != 0) {
    RegGuardBeforeWrite(&shared->lastRegWritten, reg,
                        [&](uint32_t dummy) { memWriteDword(common->registers, dummy, 0); });
  }
  memWriteDword(common->registers, reg, value);
}

// A read; under the guard it first forgets the last register written.
inline uint32_t HwReadRegister(CommonData* common, uint32_t reg) {
  SharedLockedData_t* shared = common->sharedLocked;
  if (shared->regGuardEnable != 0) RegGuardForget(&shared->lastRegWritten);
  uint32_t value = 0;
  memReadDword(common->registers, reg, &value);
  return value;
}
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
