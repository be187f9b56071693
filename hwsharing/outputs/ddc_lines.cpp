#include "hwsharing/outputs/ddc_lines.h"

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/pins.h"
#include "core/regs/misc_io.h"

namespace {

// A pair of DDC ids of the board description, and the level of the port-
// enable line that routes it to the DDC line.
struct DdcPair {
  uint8_t sdaId;
  uint8_t sclId;
  int8_t kind;
};

// Pairs tried for each DDC line, in order; the first present pair wins.
const DdcPair kDdcPairs[4][4] = {
    {{1, 2, 0}, {5, 6, 0}, {13, 14, 0}, {9, 10, 1}},   // DDC line 0
    {{3, 4, 0}, {7, 8, 0}, {13, 14, 1}, {11, 12, 1}},  // DDC line 1
    {{5, 6, 1}, {15, 16, 0}, {9, 10, 0}, {0, 0, 0}},   // DDC line 2
    {{7, 8, 1}, {15, 16, 1}, {11, 12, 0}, {0, 0, 0}},  // DDC line 3
};

// Register and data mask of one DDC id; 0 when the board has none.
uint32_t IdMask(BOARDHANDLE* h, uint32_t id, uint32_t* reg) {
  uint32_t output = 0;
  uint32_t input = 0;
  HSLPIN60GetDDCIORegMasks(h, id, &output, &input);
  *reg = (output != 0 && input != 0) ? kRegDdcLines : 0;
  return *reg != 0 ? input : 0;
}

}  // namespace

HALSTATUS HSLKSTGetDDCIORegMasks(BOARDHANDLE* h, uint32_t ddcLine, uint32_t* reg1, uint32_t* mask1,
                                 uint32_t* reg2, uint32_t* mask2, int32_t* lineKind) {
  if (HalFailed(h->status)) return h->status;
  *reg1 = *mask1 = *reg2 = *mask2 = 0;
  *lineKind = -1;
  if (ddcLine >= 4) return h->status;
  for (const DdcPair& pair : kDdcPairs[ddcLine]) {
    if (pair.sdaId == 0) break;
    uint32_t r1 = 0;
    const uint32_t m1 = IdMask(h, pair.sdaId, &r1);
    if (r1 == 0 || m1 == 0) continue;
    uint32_t r2 = 0;
    const uint32_t m2 = IdMask(h, pair.sclId, &r2);
    if (r2 == 0 || m2 == 0) continue;
    *reg1 = r1;
    *mask1 = m1;
    *reg2 = r2;
    *mask2 = m2;
    *lineKind = pair.kind;
    break;
  }
  return h->status;
}
