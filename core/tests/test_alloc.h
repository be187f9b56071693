// An allocation policy for the containers whose nth allocation from now can
// be made to fail, with counts of what was allocated and freed.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>

struct TestAllocState {
  static inline uint64_t allocations = 0;
  static inline uint64_t frees = 0;
  static inline uint64_t failAt = 0;  // 0: never
  static void Reset() {
    allocations = 0;
    frees = 0;
    failAt = 0;
  }
  static void FailNext(uint64_t nth) { failAt = allocations + nth; }
};

template <class T>
struct TestAlloc {
  template <class U>
  using rebind = TestAlloc<U>;

  static T* allocate(size_t count) {
    ++TestAllocState::allocations;
    if (TestAllocState::failAt != 0 && TestAllocState::allocations == TestAllocState::failAt) {
      return nullptr;
    }
    return static_cast<T*>(::operator new(count * sizeof(T)));
  }
  static void deallocate(T* address) {
    ++TestAllocState::frees;
    ::operator delete(address);
  }
};
