// The divisor of every wait bound: the drivers wait out each bound in full.
// It sits alone in its file so that a program which defines it itself (the
// libFuzzer targets, tests/support/fuzz_wait_bounds.cpp) never pulls this
// definition out of the library as well.
#include "core/wait_bounds.h"

const uint32_t kWaitBoundDivisor = 1;
