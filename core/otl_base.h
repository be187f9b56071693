// Building blocks of the in-house containers: the pair, the ordering and the
// allocation policy. Memory comes from the platform's global operator new;
// a failed allocation answers null and never throws.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>

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
    return static_cast<T*>(::operator new(count * sizeof(T), std::nothrow));
  }
  static void deallocate(T* address) { ::operator delete(address); }
};

}  // namespace Otl
