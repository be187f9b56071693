// The waits for the engine that both builds make: the drawing engine going
// idle and the DMA engine draining. Each build reads the chip through its own
// register access (the X driver's HwReadRegister, the kernel's
// KernelReadRegister) and hands it in.
#pragma once

#include <stdint.h>

#include "core/common_data.h"

using EngineRegisterRead = uint32_t (*)(CommonData* common, uint32_t reg);

// Whether a status word of the engine's status register says idle, by the
// board's revision bits; and which status register to read.
uint32_t EngineStatusRegister(uint32_t revisionBits);
bool EngineStatusIdle(uint32_t revisionBits, uint32_t status);

// Waits until the drawing engine is idle. False, logged, when it stays busy.
[[nodiscard]] bool WaitEngineIdle(CommonData* common, EngineRegisterRead read);

// Waits until the kernel module's submissions are done, the DMA engine is
// idle and its status is back to what it was at start-up; then no write
// since the last wait is pending. False, logged once at the first stage that
// does not end, when the engine does not drain.
[[nodiscard]] bool WaitEngineDrained(CommonData* common, EngineRegisterRead read);
