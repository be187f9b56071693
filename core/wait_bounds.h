// How long the drivers wait before they give up: every bound of a wait on
// the chip, on a word shared with another process or on the interrupt path,
// in microseconds, in one place. A bound is far above what a working board
// needs; it exists so that a stalled engine or a process that never lets go
// of a shared lock costs the X server or the kernel a logged error and a
// given-up operation instead of a hang.
#pragma once

#include <stdint.h>

// Tries made back to back before the first pause: a working engine is
// usually done within them, so drawing never pays for a pause.
inline constexpr uint32_t kWaitSpinTries = 1000;
// The pause between two later tries. The bounds below count these pauses.
inline constexpr uint32_t kWaitStepMicroseconds = 10;
// A wait that must not pause (a display position lasts a few lines, which
// a pause could step over) spins, and counts this many tries per
// microsecond of its bound: a register read takes longer than a quarter of
// a microsecond, so the wait lasts at least its bound.
inline constexpr uint32_t kSpinTriesPerMicrosecond = 4;

// The drawing engine going idle, the DMA engine draining, the engine
// reaching a sync tag, a command buffer or surface the engine still reads
// coming free: a full queue of 3D work ends well within it.
inline constexpr uint32_t kEngineWaitMicroseconds = 2000000;
// The command lock of the shared locked block: its holder keeps it for one
// batch of packets.
inline constexpr uint32_t kCommandLockWaitMicroseconds = 2000000;
// A display controller's line counter or flip latch: a frame at the slowest
// refresh any supported mode runs takes well under a tenth of a second.
inline constexpr uint32_t kFrameWaitMicroseconds = 100000;
// The display taking a register write (the DMA status's write-ready bit).
inline constexpr uint32_t kWriteReadyWaitMicroseconds = 100000;
// The kernel module's waits (engine, shared words, interrupt-path
// progress): each pause hands the processor back to the kernel.
inline constexpr uint32_t kKernelWaitMicroseconds = 1000000;

// What every bound is divided by. It is 1 in the drivers and every test
// (core/wait_bound_divisor.cpp); the libFuzzer targets link a definition
// of their own that makes it 100 (tests/support/fuzz_wait_bounds.cpp), so
// that a fuzz target and the tests share one build. An input that stalls
// the simulated engine or leaves a shared word at a value that never
// changes makes its waits run out, and at the full bound each one costs a
// hundred thousand pauses, where the fuzzer wants thousands of inputs a
// second. The simulated chips finish what works well within the shorter
// bounds, and a wait that runs out takes the same path as at the full
// bound.
extern const uint32_t kWaitBoundDivisor;
