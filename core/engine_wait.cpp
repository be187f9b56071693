#include "core/engine_wait.h"

#include "core/chip_ids.h"
#include "core/orv_abi.h"
#include "core/poll.h"
#include "core/regs/dma.h"

namespace {

// The chips whose status register has an idle bit; the others report idle
// as a status value.
constexpr uint32_t kRevIdleBitChips = kRevKestrionNext2 | kRevKestrionNext3;

}  // namespace

uint32_t EngineStatusRegister(uint32_t revisionBits) {
  return (revisionBits & kRevKestrionNext3) ? kRegEngineStatusNext3 : kRegEngineStatus;
}

bool EngineStatusIdle(uint32_t revisionBits, uint32_t status) {
  if (revisionBits & kRevIdleBitChips) return (status & kEngineStatusIdleBit) != 0;
  return (status & kEngineStatusMask) == kEngineStatusIdle;
}

bool WaitEngineIdle(CommonData* common, EngineRegisterRead read) {
  const uint32_t rev = common->revisionBits;
  const uint32_t reg = EngineStatusRegister(rev);
  return WaitFor("engine idle", kEngineWaitMicroseconds,
                 [&] { return EngineStatusIdle(rev, read(common, reg)); });
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
