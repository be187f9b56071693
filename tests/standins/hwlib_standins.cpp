// Stand-ins of the hardware-library functions listed in hwsharing/pending.h:
// each logs its call and merges into the handle's status the code a test
// chose for it (none unless chosen), then returns the status, like a real
// chip-layer function.
#include "hwsharing/boardhandle.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/pending.h"
#include "tests/standins/standin_log.h"

namespace {

HALSTATUS StandIn(BOARDHANDLE* h, const char* name) {
  uint32_t chosen = 0;
  const bool hasResult = orvstandin::Called(name, &chosen, h);
  if (HalFailed(h->status)) return h->status;
  return hasResult ? SetError(h, chosen) : h->status;
}

}  // namespace

#define ORV_DEFINE_STANDIN(name, params) \
  HALSTATUS name params { return StandIn(h, #name); }
ORV_PENDING_HWLIB_FUNCTIONS(ORV_DEFINE_STANDIN)
#undef ORV_DEFINE_STANDIN
