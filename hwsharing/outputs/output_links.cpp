#include "hwsharing/outputs/output_links.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/outputs/capabilities.h"
#include "hwsharing/outputs/output_inventory.h"

namespace {

bool InUse(const BOARDHANDLE* h, uint32_t i) { return h->aHwOutput[i].ulUsable != 0; }

// Display-start links: outputs behind the same expansion FPGA pan together;
// the horizontal links of an output whose cancel word is set are dropped
// again (its own bit stays, as for any output that found a partner).
uint32_t DisplayStartLinks(const BOARDHANDLE* h, uint32_t a, uint32_t mask, bool horizontal) {
  uint32_t links = 0;
  bool found = false;
  for (uint32_t i = 0; i < kHwOutputs; ++i) {
    if (i == a || !(mask & (1u << i)) || !InUse(h, i)) continue;
    if (h->aHwOutput[i].lFpga != h->aHwOutput[a].lFpga) continue;
    found = true;
    links |= 1u << i;
    if (horizontal && h->aulHwOutputLinkCancel[a] != 0) links &= ~(1u << i);
  }
  return found ? links | (1u << a) : 0;
}

}  // namespace

uint32_t GetDCModule(int32_t controller) { return controller == 1 || controller == 3 ? 1 : 0; }

HALSTATUS HSLKSTAddOutputLinkFlags(BOARDHANDLE* h, uint32_t* list, uint32_t* count, uint32_t key) {
  if (HalFailed(h->status)) return h->status;
  if (key == 0 || *count >= kMaxLinkKeys) return h->status;
  for (uint32_t i = 0; i < *count; ++i)
    if (list[i] == key) return h->status;
  list[(*count)++] = key;
  return h->status;
}

HALSTATUS HSLKSTGetOutputDisplayStartXLinkFlags(BOARDHANDLE* h, uint32_t output, uint32_t mask,
                                                uint32_t* links) {
  if (HalFailed(h->status)) return h->status;
  *links = output < kHwOutputs ? DisplayStartLinks(h, output, mask, true) : 0;
  return h->status;
}

HALSTATUS HSLKSTGetOutputDisplayStartYLinkFlags(BOARDHANDLE* h, uint32_t output, uint32_t mask,
                                                uint32_t* links) {
  if (HalFailed(h->status)) return h->status;
  *links = output < kHwOutputs ? DisplayStartLinks(h, output, mask, false) : 0;
  return h->status;
}

HALSTATUS HSLKSTGetOutputVidParmLinkFlags(BOARDHANDLE* h, uint32_t output, uint32_t mask, uint32_t* links) {
  if (HalFailed(h->status)) return h->status;
  *links = 0;
  if (output >= kHwOutputs) return h->status;
  // On boards of the first output arrangement every controller changes its
  // video parameters with the others, whatever its module.
  const bool always = UsesFirstOutputArrangement(h);
  const uint32_t module = GetDCModule(h->aHwOutput[output].lController);
  uint32_t found = 0;
  for (uint32_t i = 0; i < kHwOutputs; ++i) {
    if (i == output || !(mask & (1u << i)) || !InUse(h, i)) continue;
    if (always || GetDCModule(h->aHwOutput[i].lController) == module) found |= 1u << i;
  }
  *links = found != 0 ? found | (1u << output) : 0;
  return h->status;
}
