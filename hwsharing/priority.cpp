#include "hwsharing/priority.h"

#include "hwsharing/boardhandle.h"
#include "hwsharing/halstatus.h"
#include "hwsharing/reg_access.h"
#include "core/regs/bus.h"
#include "core/regs/clocks.h"
#include "core/regs/display.h"
#include "core/regs/misc_io.h"

namespace {

constexpr uint32_t kPrimaryLevelMask = 0x7;
constexpr uint32_t kSecondLevelShift = 8;

}  // namespace

HALSTATUS HSLKSTSetPriorityLevels(BOARDHANDLE* h, uint32_t mask, const uint32_t* levels,
                                  const uint32_t* secondLevels) {
  if (HalFailed(h->status)) return h->status;
  const uint32_t regs[2] = {kRegPriority0, kRegPriority1};
  const uint32_t primaryBit[2] = {kPriorityPrimary0, kPriorityPrimary1};
  const uint32_t secondBit[2] = {kPrioritySecond0, kPrioritySecond1};
  for (uint32_t c = 0; c < 2; ++c) {
    if (!(mask & (primaryBit[c] | secondBit[c]))) continue;
    uint32_t v = RegRead(h, regs[c]);
    if (mask & primaryBit[c]) v = (v & ~kPrimaryLevelMask) | (levels[c] & kPrimaryLevelMask);
    if (mask & secondBit[c])
      v = (v & ~(kPrimaryLevelMask << kSecondLevelShift)) |
          ((secondLevels[c] & kPrimaryLevelMask) << kSecondLevelShift);
    RegWrite(h, regs[c], v);
  }
  return h->status;
}
