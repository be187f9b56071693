// Driver objects come from the platform allocator (memAlloc): a failed
// allocation makes the new-expression answer null, never throw, and the
// caller checks it.
#pragma once

#include <stddef.h>

#include <new>

#include "core/os.h"

struct OsHeapObject {
  static void* operator new(size_t size) noexcept { return memAlloc(size); }
  static void operator delete(void* address) noexcept {
    if (address) memFree(address);
  }
};

// One object of any type from the platform allocator: a class with storage
// rules of its own (an OsHeapObject) is made and deleted by them, any other
// type is built in a zeroed block of memAlloc. Null on failure.
template <class T>
T* OsNew() {
  if constexpr (requires { T::operator new(sizeof(T)); }) {
    return new T();
  } else {
    void* memory = memAlloc(sizeof(T));
    return memory != nullptr ? new (memory) T() : nullptr;
  }
}

template <class T>
void OsDelete(T* object) {
  if (object == nullptr) return;
  if constexpr (requires { T::operator delete(static_cast<void*>(nullptr)); }) {
    delete object;
  } else {
    object->~T();
    memFree(object);
  }
}

// A heap copy of a string, or null when it cannot be allocated.
char* OsStrDup(const char* text);
