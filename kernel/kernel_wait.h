// The one bounded wait of the kernel core. Every wait on the engine, on a
// word shared with the X driver or on the interrupt path goes through
// KernelWait: it tries at most kKernelWaitTries times and hands the
// processor back (OsSchedule) between tries, which is where the glue serves
// interrupts, so progress that only the interrupt path makes can happen.
// When the bound is reached it logs an "[orv] *ERROR* " line naming the wait
// and answers false; the caller goes on without what it waited for.
//
// The bound lies far below the simulated board's watchdog (a run of register
// reads without a write), so a stalled engine ends the wait, not the test.
#pragma once

#include <stdint.h>

#include "platform/kglue/kglue.h"

inline constexpr uint32_t kKernelWaitTries = 100000;

template <class Done>
bool KernelWait(const char* what, Done done) {
  for (uint32_t i = 0; i < kKernelWaitTries; ++i) {
    if (done()) return true;
    OsSchedule();
  }
  if (done()) return true;
  ClientPrintLevel(1, "[orv] *ERROR* %s: no progress after %u tries\n", what, kKernelWaitTries);
  return false;
}
