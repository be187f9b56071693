// The kernel core's bounded wait: the drivers' wait (core/poll.h) with the
// kernel's bound. Between tries it hands the processor back through the
// glue, which serves interrupts there, so progress that only the interrupt
// path makes can happen. When the bound is spent it logs an
// "[orv] *ERROR* " line naming the wait and answers false; the caller gives
// up what needed the wait.
#pragma once

#include <stdint.h>

#include "core/poll.h"

template <class Done>
[[nodiscard]] bool KernelWait(const char* what, Done done) {
  return WaitFor(what, kKernelWaitMicroseconds, done);
}
