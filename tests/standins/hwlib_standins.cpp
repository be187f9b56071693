// Stand-ins of the hardware-library functions listed in hwsharing/chip/pending.h:
// each logs its call (the calls into later parts with their integer
// arguments, filling their out-parameters) and merges into the handle's status the code a test
// chose for it (none unless chosen), then returns the status, like a real
// chip-layer function.
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pending.h"
#include "tests/standins/standin_args.h"
#include "tests/standins/standin_log.h"

namespace {

// Unused while no hardware-library function is pending.
[[maybe_unused]] HALSTATUS Merge(BOARDHANDLE* h, bool hasResult, uint32_t chosen) {
  if (HalFailed(h->status)) return h->status;
  return hasResult ? SetError(h, chosen) : h->status;
}

[[maybe_unused]] HALSTATUS StandIn(BOARDHANDLE* h, const char* name) {
  uint32_t chosen = 0;
  const bool hasResult = orvstandin::Called(name, &chosen, h);
  return Merge(h, hasResult, chosen);
}

template <class... Args>
HALSTATUS StandInWithArgs(BOARDHANDLE* h, const char* name, Args... args) {
  uint32_t chosen = 0;
  const bool hasResult = orvstandin::CalledWithArgs(name, &chosen, h, args...);
  return Merge(h, hasResult, chosen);
}

}  // namespace

#define ORV_DEFINE_STANDIN(name, params) \
  HALSTATUS name params { return StandIn(h, #name); }
ORV_PENDING_HWLIB_FUNCTIONS(ORV_DEFINE_STANDIN)
#undef ORV_DEFINE_STANDIN

// Calls into later parts: the arguments after the handle are logged too.
#define ORV_DEFINE_CALL_STANDIN(name, params, args) \
  HALSTATUS name params { return StandInWithArgs(h, #name ORV_STANDIN_ARGS args); }
#define ORV_STANDIN_ARGS(h, ...) __VA_OPT__(, ) __VA_ARGS__
ORV_PENDING_CALLS(ORV_DEFINE_CALL_STANDIN)
#undef ORV_STANDIN_ARGS
#undef ORV_DEFINE_CALL_STANDIN
