// The log of the recording stand-ins that tests put in place of real
// functions (the hardware library's recording dispatch slots, for one): one
// call log and one table of chosen results, shared by every layer. Only
// test executables and benchmarks link it; a shipped library or module
// never does (the shipped-symbols check of `make test` fails on any symbol
// of this namespace).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace orvstandin {

inline constexpr size_t kMaxLoggedCalls = 4096;
inline constexpr size_t kMaxChosenResults = 64;
inline constexpr size_t kMaxActions = 16;
inline constexpr size_t kMaxLoggedArgs = 8;
inline constexpr size_t kMaxChosenOuts = 64;

// Forgets every logged call and every chosen result.
void Reset();
// The result the stand-in `name` gives from now on: for a hardware-library
// function the status code it merges into the handle, for a component-table
// init a non-zero code makes it fail.
void SetResult(const char* name, uint32_t code);
// Calls logged since the last Reset, oldest first (names are the functions'
// own, static strings); at most kMaxLoggedCalls are kept.
size_t CallCount();
const char* CallAt(size_t index);
// How often `name` was called since the last Reset.
size_t TimesCalled(const char* name);

// Something the stand-in `name` does each time it is called, before it
// answers, given the call's first argument (the board handle or the device
// object): a test fills records the real function would. Null removes it.
using Action = void (*)(void* subject);
void SetAction(const char* name, Action action);

// What every stand-in does: logs its call, runs its action with `subject`
// and finds its chosen result (false when none was chosen).
bool Called(const char* name, uint32_t* chosen, void* subject = nullptr);

// ---- Arguments and out-parameters ------------------------------------------------
// Stand-ins of calls into later parts also log their integer arguments (in
// order, at most kMaxLoggedArgs) and write a value into each out-parameter:
// 0, or the value a test chose for that out-parameter (counted from 0 among
// the function's out-parameters).
void SetOutValue(const char* name, size_t outIndex, uint64_t value);
uint64_t OutValue(const char* name, size_t outIndex);
// Adds an integer argument to the newest logged call.
void LogArg(uint64_t value);
// The integer arguments of the n-th call (0-based) of `name`; empty when
// there was no such call.
struct CallArgs {
  size_t count;
  uint64_t values[kMaxLoggedArgs];
};
CallArgs ArgsOf(const char* name, size_t n = 0);

}  // namespace orvstandin
