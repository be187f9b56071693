// Building blocks of the in-house containers: the pair, the ordering and the
// allocation policy. Memory comes from the global operator new in the X
// driver and from the kernel glue's allocator (memAlloc) in the kernel
// module's build; a failed allocation answers null and never throws.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>

#if defined(ORV_KERNEL_BUILD)
#include "core/os.h"
#endif

namespace Otl {

template <class T1, class T2>
struct Pair {
  T1 first;
  T2 second;
};

template <class T>
struct less {
  bool operator()(const T& a, const T& b) const { return a < b; }
};

// Raw storage for count objects of T; construction is the caller's.
template <class T>
struct allocator {
  template <class U>
  using rebind = allocator<U>;

  // Null as well when count * sizeof(T) does not fit in a size_t.
  static T* allocate(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
#if defined(ORV_KERNEL_BUILD)
    return static_cast<T*>(memAlloc(count * sizeof(T)));
#else
    return static_cast<T*>(::operator new(count * sizeof(T), std::nothrow));
#endif
  }
  static void deallocate(T* address) {
#if defined(ORV_KERNEL_BUILD)
    if (address != nullptr) memFree(address);
#else
    ::operator delete(address);
#endif
  }
};

}  // namespace Otl
