#include "core/hw_register_access.h"

#include "core/orv_abi.h"
#include "core/os.h"
#include "core/poll.h"
#include "core/register_guard.h"
#include "core/regs/dma.h"

void HwWaitWriteReady(CommonData* common) {
  common->sharedLocked->directWriteCount = 0;
  // A display that never takes the write is logged; the write goes on, as
  // dropping it would lose the state it carries just the same.
  (void)HwPollRegister(common, kRegDmaStatus, kDmaStatusWriteReady, kDmaStatusWriteReady,
                       "register write ready", kWriteReadyWaitMicroseconds, WaitPace::kSpin);
}

bool HwPollRegister(CommonData* common, uint32_t reg, uint32_t mask, uint32_t expected,
                    const char* what, uint32_t boundMicroseconds, WaitPace pace) {
  return WaitFor(
      what, boundMicroseconds, [&] { return (HwReadRegister(common, reg) & mask) == expected; }, pace);
}

