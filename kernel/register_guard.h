// The register-write guard of the kernel core: every register write goes
// through GuardedWrite and every read through GuardedRead, so that the rule
// the X driver follows on the same shared words holds for both.
//
// When the guard is on (Shared locked data word 132 non-zero) and the last
// register written (word 136) lies below the new one and at most
// kGuardWindowBytes below it, a 0 is first written to the guard's dummy
// register; the new register then becomes the last one written. Every read
// forgets the last register (0xFFFFFFFF).
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"

inline constexpr uint32_t kGuardWindowBytes = 128;

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
