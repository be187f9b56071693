// The body of a stand-in that logs its arguments: integers go to the call
// log, out-parameters (pointers to integers) get 0 or the value a test
// chose, other pointers are left alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "tests/standins/standin_log.h"

namespace orvstandin {

template <class T>
void TakeArg(const char* name, size_t* outIndex, T value) {
  if constexpr (std::is_integral_v<T>) {
    LogArg(static_cast<uint64_t>(value));
  } else if constexpr (std::is_pointer_v<T>) {
    using Pointee = std::remove_pointer_t<T>;
    if constexpr (std::is_integral_v<Pointee> && !std::is_const_v<Pointee>) {
      if (value != nullptr) *value = static_cast<Pointee>(OutValue(name, *outIndex));
      ++*outIndex;
    }
  }
}

// Logs the call and its arguments, fills the out-parameters; answers the
// chosen result like Called (whose action gets `subject`).
template <class... Args>
bool CalledWithArgs(const char* name, uint32_t* chosen, void* subject, Args... args) {
  const bool has = Called(name, chosen, subject);
  size_t outIndex = 0;
  (TakeArg(name, &outIndex, args), ...);
  return has;
}

}  // namespace orvstandin
