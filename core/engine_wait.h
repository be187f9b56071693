// The waits for the engine that both builds make: the drawing engine going
// idle and the DMA engine draining. Each build reads the chip through its own
// register access (the X driver's HwReadRegister, the kernel's
// KernelReadRegister) and hands it in.
#pragma once

#include <stdint.h>

#include "core/chip_ids.h"
#include "core/common_data.h"
#include "core/poll.h"
#include "core/regs/dma.h"

using EngineRegisterRead = uint32_t (*)(CommonData* common, uint32_t reg);

// The chips whose status register has an idle bit; the others report idle
// as a status value.
inline constexpr uint32_t kRevIdleBitChips = kRevKestrionNext2 | kRevKestrionNext3;

// Which status register to read, by the board's revision bits; and whether
// a status word read from it says idle.
inline uint32_t EngineStatusRegister(uint32_t revisionBits) {
  return (revisionBits & kRevKestrionNext3) ? kRegEngineStatusNext3 : kRegEngineStatus;
}
inline bool EngineStatusIdle(uint32_t revisionBits, uint32_t status) {
  if (revisionBits & kRevIdleBitChips) return (status & kEngineStatusIdleBit) != 0;
  return (status & kEngineStatusMask) == kEngineStatusIdle;
}

// Waits until the drawing engine is idle. False, logged, when it stays busy.
// read(common, reg) reads a register; a caller that starts the engine for
// every few commands hands in its own access, which the wait then inlines
// (an idle engine costs one read and no call).
template <class Read>
[[nodiscard]] inline bool WaitEngineIdleWith(CommonData* common, Read&& read) {
  const uint32_t rev = common->revisionBits;
  const uint32_t reg = EngineStatusRegister(rev);
  return WaitFor("engine idle", kEngineWaitMicroseconds,
                 [&] { return EngineStatusIdle(rev, read(common, reg)); });
}
[[nodiscard]] bool WaitEngineIdle(CommonData* common, EngineRegisterRead read);

// Waits until the kernel module's submissions are done, the DMA engine is
// idle and its status is back to what it was at start-up; then no write
// since the last wait is pending. False, logged once at the first stage that
// does not end, when the engine does not drain.
[[nodiscard]] bool WaitEngineDrained(CommonData* common, EngineRegisterRead read);
