#include "kernel/register_guard.h"

#include "core/common_data.h"
#include "core/os.h"
#include "core/register_guard.h"

void GuardedWrite(void* registers, SharedLockedData_t* shared, uint32_t reg, uint32_t value) {
  if (shared->regGuardEnable != 0) {
    RegGuardBeforeWrite(&shared->lastRegWritten, reg,
                        [&](uint32_t dummy) { memWriteDword(registers, dummy, 0); });
  }
  memWriteDword(registers, reg, value);
}

uint32_t GuardedRead(void* registers, SharedLockedData_t* shared, uint32_t reg) {
  RegGuardForget(&shared->lastRegWritten);
  uint32_t value = 0;
  memReadDword(registers, reg, &value);
  return value;
}

void KernelWriteRegister(CommonData* common, uint32_t reg, uint32_t value) {
  GuardedWrite(common->registers, common->sharedLocked, reg, value);
}

uint32_t KernelReadRegister(CommonData* common, uint32_t reg) {
  return GuardedRead(common->registers, common->sharedLocked, reg);
}
