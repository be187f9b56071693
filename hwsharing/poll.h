// The one wait helper of the chip layer: tries `done` until it holds or
// `maxTries` tries have failed. Answers whether it held.
#pragma once

#include <cstdint>

template <class Done>
bool PollUntil(Done done, uint32_t maxTries) {
  for (uint32_t i = 0; i < maxTries; ++i)
    if (done()) return true;
  return false;
}
