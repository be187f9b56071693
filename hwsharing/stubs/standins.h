// Recording stand-ins for the library functions that are not built yet.
//
// Each stand-in appends its name to one call log and merges into the
// handle's status the code a test chose for it (0 unless chosen), then
// returns the status, like a real chip-layer function.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/haltypes.h"

#define ORV_STANDIN(name, params) HALSTATUS name params;
#include "hwsharing/stubs/standin_list.h"
#undef ORV_STANDIN

namespace orvstandin {

inline constexpr size_t kMaxLoggedCalls = 4096;
inline constexpr size_t kMaxChosenResults = 64;

// Forgets every logged call and every chosen result.
void Reset();
// The code that the stand-in `name` merges into the status from now on.
void SetResult(const char* name, HALSTATUS code);
// Calls logged since the last Reset, oldest first (names are the functions'
// own, static strings); at most kMaxLoggedCalls are kept.
size_t CallCount();
const char* CallAt(size_t index);
// How often `name` was called since the last Reset.
size_t TimesCalled(const char* name);

// What every stand-in does.
HALSTATUS Called(BOARDHANDLE* h, const char* name);

}  // namespace orvstandin
