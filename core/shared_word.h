// Reads of words that another process, the kernel module or the engine may
// change at any time (the shared blocks): each read goes to memory, so a
// loop that polls one sees the change.
#pragma once

template <typename T>
inline T ReadShared(const T* word) {
  return *static_cast<const volatile T*>(word);
}
