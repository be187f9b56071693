// The kernel core's register access: every register write goes through
// GuardedWrite and every read through GuardedRead, under the register-write
// guard of core/register_guard.h while Shared locked data word 132 is
// non-zero; every read forgets the last register (word 136).
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"

struct CommonData;

void GuardedWrite(void* registers, SharedLockedData_t* shared, uint32_t reg, uint32_t value);
uint32_t GuardedRead(void* registers, SharedLockedData_t* shared, uint32_t reg);

// The same on the board whose common data this is (its register handle and
// Shared locked data).
void KernelWriteRegister(CommonData* common, uint32_t reg, uint32_t value);
uint32_t KernelReadRegister(CommonData* common, uint32_t reg);

// The kernel device's register-write rules as the aperture mapper programs
// its slots through them: every write under the guard.
struct HwRegAccess {
  static void Write(CommonData* common, uint32_t reg, uint32_t value) {
    KernelWriteRegister(common, reg, value);
  }
};
