// The register-write guard, one rule for the X driver, the driver core and
// the kernel module: while the guard is on, a write to a register at most
// kGuardWindowBytes above the last register written (and above it) is
// preceded by a 0 written to the guard's dummy register; the register
// written becomes the last one. A read forgets the last register, so the
// write after it is never guarded.
#pragma once

#include <stdint.h>

#include "core/orv_abi.h"
#include "core/regs/dma.h"

inline constexpr uint32_t kGuardWindowBytes = 128;

// Before a write to reg: the dummy write through writeDummy(kRegGuardDummy)
// when the rule asks for it, then reg recorded in *lastWritten.
template <typename WriteDummy>
inline void RegGuardBeforeWrite(uint32_t* lastWritten, uint32_t reg, WriteDummy writeDummy) {
  const uint32_t last = *lastWritten;
  if (last < reg && reg - last <= kGuardWindowBytes) writeDummy(kRegGuardDummy);
  *lastWritten = reg;
}

// After a read: no register counts as written last.
inline void RegGuardForget(uint32_t* lastWritten) { *lastWritten = kLastRegNone; }
