// Growable tables of object pointers indexed by handles from 1, handle 0
// never given out, with a hint to the lowest free handle. The kernel 3D
// engine names its render contexts, draw contexts, lights, surface objects
// and resource tables by such handles. KeyedHandleTable adds a 32-bit key
// per slot.
//
// Tables whose handles come from clients get a largest handle: a larger one
// is refused before anything is allocated. Growth checks its arithmetic; a
// growth that cannot be had leaves the table as it was.
#pragma once

#include <stdint.h>
#include <string.h>

#include "core/heap_object.h"
#include "core/os.h"

inline constexpr uint32_t kHandleTableDefaultStep = 64;
inline constexpr uint32_t kNoLargestHandle = 0xFFFFFFFF;

template <class T>
class HandleTable {
 public:
  explicit HandleTable(uint32_t step = 0, uint32_t largestHandle = kNoLargestHandle)
      : step_(step != 0 ? step : kHandleTableDefaultStep), largest_(largestHandle) {}
  ~HandleTable() {
    FreeAll();
    memFree(slots_);
    memFree(keys_);
  }
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }
  uint32_t Hint() const { return hint_; }
  // The object of a handle, or null (free, or beyond the table).
  T* Get(uint32_t handle) const { return handle < capacity_ ? slots_[handle] : nullptr; }

  // The object at the handle, made (zeroed, its constructor run) when the
  // slot is free: the handle, or 0 for handle 0, a handle above the largest,
  // or when the table cannot grow or the object cannot be made.
  uint32_t AllocateAt(uint32_t handle, T** out) {
    if (handle == 0 || handle > largest_) return 0;
    if (T* present = Get(handle)) {
      if (out != nullptr) *out = present;
      return handle;
    }
    if (!GrowPast(handle)) return 0;
    T* object = OsNew<T>();
    if (object == nullptr) return 0;
    Occupy(handle, object);
    if (out != nullptr) *out = object;
    return handle;
  }
  uint32_t Allocate(T** out) { return AllocateAt(hint_, out); }

  // Stores the object at a free handle: the handle (also when it was taken:
  // nothing is stored then), or 0 for a null object, handle 0, a handle above
  // the largest, or a growth that cannot be had.
  uint32_t InsertAt(T* object, uint32_t handle) {
    if (object == nullptr || handle == 0 || handle > largest_) return 0;
    if (Get(handle) != nullptr) return handle;
    if (!GrowPast(handle)) return 0;
    Occupy(handle, object);
    return handle;
  }
  uint32_t Insert(T* object) { return InsertAt(object, hint_); }

  // Deletes the object of an occupied handle and frees the handle.
  void Free(uint32_t handle) {
    if (T* object = Vacate(handle)) OsDelete(object);
  }
  void Release(uint32_t handle) { Free(handle); }
  // Frees the handle without deleting its object.
  void Detach(uint32_t handle) { Vacate(handle); }

  void FreeAll() {
    if (slots_ == nullptr || count_ == 0 || capacity_ < 2) return;
    for (uint32_t handle = 1; handle < capacity_; ++handle) Free(handle);
  }
  void DetachAll() {
    if (slots_ == nullptr || count_ == 0 || capacity_ < 2) return;
    for (uint32_t handle = 1; handle < capacity_; ++handle) Detach(handle);
  }

  // callback(object, argument, handle, capacity) for every occupied handle
  // from 1 upward; the capacity is read again after each call.
  template <class Callback>
  void ForEach(Callback callback, void* argument) {
    for (uint32_t handle = 1; handle < capacity_; ++handle) {
      if (slots_[handle] != nullptr) callback(slots_[handle], argument, handle, capacity_);
    }
  }

 protected:
  // Grows until the capacity exceeds the handle.
  bool GrowPast(uint32_t handle) {
    while (capacity_ <= handle) {
      if (!Grow()) return false;
    }
    return true;
  }

  // The old capacity plus the step when the table has no array yet, else
  // twice it. New zeroed arrays take the old entries; 0 (the table as it
  // was) when a size does not fit or an allocation fails.
  bool Grow() {
    uint64_t capacity = capacity_ == 0 ? uint64_t{step_} : uint64_t{capacity_} * 2;
    if (capacity > 0xFFFFFFFFu) capacity = 0xFFFFFFFFu;
    if (capacity <= capacity_ || capacity > SIZE_MAX / sizeof(T*)) return false;
    auto** slots = static_cast<T**>(memAlloc(capacity * sizeof(T*)));
    if (slots == nullptr) return false;
    uint32_t* keys = nullptr;
    if (keyed_) {
      keys = static_cast<uint32_t*>(memAlloc(capacity * sizeof(uint32_t)));
      if (keys == nullptr) {
        memFree(slots);
        return false;
      }
      if (keys_ != nullptr) memcpy(keys, keys_, capacity_ * sizeof(uint32_t));
      memFree(keys_);
      keys_ = keys;
    }
    if (slots_ != nullptr) memcpy(slots, slots_, capacity_ * sizeof(T*));
    memFree(slots_);
    slots_ = slots;
    capacity_ = static_cast<uint32_t>(capacity);
    return true;
  }

  void Occupy(uint32_t handle, T* object) {
    slots_[handle] = object;
    ++count_;
    if (handle == hint_) {
      while (hint_ < capacity_ && slots_[hint_] != nullptr) ++hint_;
    }
  }

  T* Vacate(uint32_t handle) {
    if (handle >= capacity_ || slots_[handle] == nullptr) return nullptr;
    T* object = slots_[handle];
    slots_[handle] = nullptr;
    --count_;
    if (hint_ > handle) hint_ = handle;
    return object;
  }

  T** slots_ = nullptr;
  uint32_t step_;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  uint32_t hint_ = 1;
  uint32_t largest_;
  bool keyed_ = false;
  uint32_t* keys_ = nullptr;  // the keyed table's parallel keys (0 = none)
};

template <class T>
class KeyedHandleTable : public HandleTable<T> {
  using Base = HandleTable<T>;

 public:
  explicit KeyedHandleTable(uint32_t step = 0) : Base(step) { Base::keyed_ = true; }
  KeyedHandleTable(const KeyedHandleTable&) = delete;
  KeyedHandleTable& operator=(const KeyedHandleTable&) = delete;

  // The key's object, or null.
  T* Find(uint32_t key) const {
    if (key == 0) return nullptr;
    for (uint32_t handle = 1; handle < Base::capacity_; ++handle) {
      if (Base::keys_[handle] == key && Base::slots_[handle] != nullptr) return Base::slots_[handle];
    }
    return nullptr;
  }

  // Stores the object under the key at the hint: the key; the key also
  // when it is present already (nothing is stored then); 0 for a null
  // object, key 0, or a growth that cannot be had.
  uint32_t Insert(T* object, uint32_t key) {
    if (object == nullptr || key == 0) return 0;
    if (Find(key) != nullptr) return key;
    if (!Base::GrowPast(Base::hint_)) return 0;
    Base::keys_[Base::hint_] = key;
    Base::Occupy(Base::hint_, object);
    return key;
  }

  // Clears the key's slot and deletes its object.
  void RemoveByKey(uint32_t key) {
    if (key == 0) return;
    for (uint32_t handle = 1; handle < Base::capacity_; ++handle) {
      if (Base::keys_[handle] != key) continue;
      Base::keys_[handle] = 0;
      Base::Free(handle);
      return;
    }
  }
};
