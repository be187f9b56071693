// Driver objects come from the platform allocator (memAlloc): a failed
// allocation makes the new-expression answer null, never throw, and the
// caller checks it.
#pragma once

#include <stddef.h>

#include "core/os.h"

struct OsHeapObject {
  static void* operator new(size_t size) noexcept { return memAlloc(size); }
  static void operator delete(void* address) noexcept {
    if (address) memFree(address);
  }
};

// A heap copy of a string, or null when it cannot be allocated.
char* OsStrDup(const char* text);
