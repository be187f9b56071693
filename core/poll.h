// The one wait helper of the drivers. Every wait on the chip, on a word
// shared with another process or on the interrupt path goes through
// WaitFor: it tries back to back for a while, then pauses between tries
// through the build's pause hook (the X driver sleeps; the kernel module
// hands the processor back through the glue, which is where the glue serves
// interrupts, so progress only the interrupt path makes can happen), and
// gives up when its bound (core/wait_bounds.h) is spent. A wait that gives
// up logs one "[orv] *ERROR* " line naming what it waited for and answers
// false; its caller gives up the operation, leaves memory the engine may
// still read alone and never assumes a lock it did not get.
#pragma once

#include <stdint.h>

#include "core/wait_bounds.h"

// The build's pause between two tries: the X driver sleeps
// kWaitStepMicroseconds (core/os_xdriver.cpp); the kernel module yields
// (kernel/os_kernel.cpp). False where the caller may not give the processor
// away (the kernel's interrupt path): the wait then ends after its
// back-to-back tries, without a log line, and its caller leaves the work
// for a later try, as after any wait that gave up.
[[nodiscard]] bool OsWaitPause();
// The line of a wait that gave up, in the build's log.
void OsWaitTimedOut(const char* what, uint32_t boundMicroseconds);

// How a wait spends its bound: pausing between tries, or spinning where
// what it waits for lasts too short a time for a pause.
enum class WaitPace { kPause, kSpin };

template <class Done>
[[nodiscard]] bool WaitFor(const char* what, uint32_t boundMicroseconds, Done done,
                           WaitPace pace = WaitPace::kPause) {
  for (uint32_t i = 0; i < kWaitSpinTries; ++i)
    if (done()) return true;
  const uint32_t bound = boundMicroseconds / kWaitBoundDivisor;
  if (pace == WaitPace::kSpin) {
    const uint64_t tries = uint64_t{bound} * kSpinTriesPerMicrosecond;
    for (uint64_t i = 0; i < tries; ++i)
      if (done()) return true;
  } else {
    for (uint32_t waited = 0; waited < bound; waited += kWaitStepMicroseconds) {
      if (!OsWaitPause()) return false;
      if (done()) return true;
    }
  }
  OsWaitTimedOut(what, bound);
  return false;
}

// Tries `done` at most `maxTries` times, back to back, and answers whether
// it held. Only for the hardware library's polls whose bound the chip
// states as a number of reads (a serial bus bit, a clock's lock); the
// caller checks the answer or drops it with a `(void)` and a comment.
template <class Done>
[[nodiscard]] bool PollUntil(Done done, uint32_t maxTries) {
  for (uint32_t i = 0; i < maxTries; ++i)
    if (done()) return true;
  return false;
}
