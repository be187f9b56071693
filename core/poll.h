// The one wait helper of the drivers: every wait on the chip, on a shared
// word or on another process polls through these two, so that a trace or a
// watchdog can be added in one place.
#pragma once

#include <stdint.h>

// Tries `done` until it holds or `maxTries` tries have failed; answers
// whether it held. For waits the chip may never end.
template <class Done>
bool PollUntil(Done done, uint32_t maxTries) {
  for (uint32_t i = 0; i < maxTries; ++i)
    if (done()) return true;
  return false;
}

// Tries `done` until it holds, without a limit. Only for waits that always
// end: the engine reaching a sync tag, the display controller's line
// counter, the other side releasing the command lock.
template <class Done>
void PollForever(Done done) {
  while (!done()) {
  }
}
