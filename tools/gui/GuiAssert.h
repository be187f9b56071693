#pragma once
#include <cstdio>
#include <cstdlib>

// Broken invariants of the GUI's own records stop the program.
#define GUI_ASSERT(cond)                                                   \
  do {                                                                     \
    if (!(cond)) {                                                         \
      std::fprintf(stderr, "orvaneconfig: assertion failed: %s\n", #cond); \
      std::abort();                                                        \
    }                                                                      \
  } while (0)
