// Growable array over one heap block. Growth at least doubles the capacity;
// erase never gives storage back.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>

#include "core/otl_base.h"

namespace Otl {

template <class T, class Alloc = allocator<T>>
class Vector {
 public:
  Vector() = default;
  ~Vector() {
    _Destroy(_First, _Last);
    if (_First != nullptr) Alloc::deallocate(_First);
  }
  Vector(const Vector&) = delete;
  Vector& operator=(const Vector&) = delete;

  T* begin() const { return _First; }
  T* end() const { return _Last; }
  size_t size() const { return static_cast<size_t>(_Last - _First); }
  size_t capacity() const { return static_cast<size_t>(_End - _First); }
  bool empty() const { return _First == _Last; }
  T& operator[](size_t index) const { return _First[index]; }

  // Inserts count copies of value before position; 1 on success, 0 when new
  // storage was needed and none was to be had (the vector is unchanged).
  uint8_t Insert(T* position, size_t count, const T& value) {
    const T copy = value;  // value may live inside the vector
    const size_t spare = static_cast<size_t>(_End - _Last);
    if (spare < count) {
      const size_t oldSize = size();
      const size_t growth = count < oldSize ? oldSize : count;
      // A capacity whose byte size would wrap is refused like a failed
      // allocation.
      if (growth > kMaxElements - oldSize) return 0;
      const size_t capacity = oldSize + growth;
      T* block = Alloc::allocate(capacity);
      if (block == nullptr) return 0;
      T* out = _Copy(_First, position, block);
      for (size_t i = 0; i < count; ++i, ++out) new (out) T(copy);
      _Copy(position, _Last, out);
      _Destroy(_First, _Last);
      if (_First != nullptr) Alloc::deallocate(_First);
      _First = block;
      _Last = block + oldSize + count;
      _End = block + capacity;
      return 1;
    }
    if (count == 0) return 1;
    const size_t after = static_cast<size_t>(_Last - position);
    if (after < count) {
      // The tail moves wholly into raw storage; the gap behind the old end is
      // raw too, the rest is assigned.
      _Copy(position, _Last, position + count);
      T* gap = _Last;
      for (size_t i = 0; i < count - after; ++i, ++gap) new (gap) T(copy);
      for (T* p = position; p != _Last; ++p) *p = copy;
    } else {
      _Copy(_Last - count, _Last, _Last);
      for (T* src = _Last - count, *dst = _Last; src != position;) *--dst = *--src;
      for (size_t i = 0; i < count; ++i) position[i] = copy;
    }
    _Last += count;
    return 1;
  }

  // Makes room for count elements without constructing any: the storage
  // grows as an insert of the missing elements at the end would grow it.
  // 1 when the room is there, 0 when new storage was needed and none was to
  // be had (the vector is unchanged).
  uint8_t Reserve(size_t count) {
    if (capacity() >= count) return 1;
    const size_t oldSize = size();
    const size_t missing = count - oldSize;
    const size_t growth = missing < oldSize ? oldSize : missing;
    if (growth > kMaxElements - oldSize) return 0;
    const size_t newCapacity = oldSize + growth;
    T* block = Alloc::allocate(newCapacity);
    if (block == nullptr) return 0;
    _Copy(_First, _Last, block);
    _Destroy(_First, _Last);
    if (_First != nullptr) Alloc::deallocate(_First);
    _First = block;
    _Last = block + oldSize;
    _End = block + newCapacity;
    return 1;
  }

  // Removes the element at position and answers position, which now holds
  // the element that followed.
  T* erase(T* position) { return erase(position, position + 1); }

  // Removes [first, last) and answers first.
  T* erase(T* first, T* last) {
    T* out = first;
    for (T* p = last; p != _Last; ++p, ++out) *out = *p;
    _Destroy(out, _Last);
    _Last = out;
    return first;
  }

 private:
  // Copy-constructs [first, last) into raw storage at out.
  static T* _Copy(T* first, T* last, T* out) {
    for (; first != last; ++first, ++out) new (out) T(*first);
    return out;
  }
  static void _Destroy(T* first, T* last) {
    for (; first != last; ++first) first->~T();
  }

  static constexpr size_t kMaxElements = SIZE_MAX / sizeof(T);

  T* _First = nullptr;
  T* _Last = nullptr;
  T* _End = nullptr;
};

}  // namespace Otl
