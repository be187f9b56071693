#include "core/hw_register_access.h"

#include "core/orv_abi.h"
#include "core/os.h"
#include "core/poll.h"
#include "core/register_guard.h"
#include "core/regs/dma.h"

void HwWriteRegister(CommonData* common, uint32_t reg, uint32_t value) {
  SharedLockedData_t* shared = common->sharedLocked;
  if (++shared->directWriteCount > kDirectWritesPerWait) {
    shared->directWriteCount = 0;
    HwPollRegister(common, kRegDmaStatus, kDmaStatusWriteReady, kDmaStatusWriteReady);
  }
  if (shared->regGuardEnable != 0) {
    RegGuardBeforeWrite(&shared->lastRegWritten, reg,
                        [&](uint32_t dummy) { memWriteDword(common->registers, dummy, 0); });
  }
  memWriteDword(common->registers, reg, value);
}

uint32_t HwReadRegister(CommonData* common, uint32_t reg) {
  SharedLockedData_t* shared = common->sharedLocked;
  if (shared->regGuardEnable != 0) RegGuardForget(&shared->lastRegWritten);
  uint32_t value = 0;
  memReadDword(common->registers, reg, &value);
  return value;
}

uint32_t HwPollRegister(CommonData* common, uint32_t reg, uint32_t mask, uint32_t expected) {
  uint32_t value = 0;
  PollForever([&] {
    value = HwReadRegister(common, reg);
    return (value & mask) == expected;
  });
  return value;
}

