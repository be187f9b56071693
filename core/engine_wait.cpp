#include "core/engine_wait.h"

#include "core/chip_ids.h"
#include "core/orv_abi.h"
#include "core/poll.h"
#include "core/regs/dma.h"

bool WaitEngineIdle(CommonData* common, EngineRegisterRead read) {
  return WaitEngineIdleWith(common, read);
}

bool WaitEngineDrained(CommonData* common, EngineRegisterRead read) {
  SharedLockedData_t* shared = common->sharedLocked;
  const volatile SharedLockedData_t* words = shared;
  if (!WaitFor("DMA drain: pending submissions", kEngineWaitMicroseconds,
               [&] { return words->pendingSubmissions == 0; }) ||
      !WaitFor("DMA drain: engine idle", kEngineWaitMicroseconds,
               [&] { return (read(common, kRegEngineIdle) & kEngineIdleDma) != 0; }) ||
      !WaitFor("DMA drain: engine status", kEngineWaitMicroseconds,
               [&] { return read(common, kRegDmaStatus) == words->expectedDmaStatus; })) {
    return false;
  }
  shared->directWriteCount = 0;
  return true;
}
