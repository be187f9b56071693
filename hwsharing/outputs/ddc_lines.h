// Which register bits carry the SCL and SDA of each of the four DDC lines.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Register 1 and mask 1 carry SDA, register 2 and mask 2 carry SCL (the odd
// and the even DDC id of a pair); the masks are the lines' data bits. The
// line kind is the level of the I2C port-enable line that routes the pair
// to this DDC line, -1 when the board has no such pair.
HALSTATUS HSLKSTGetDDCIORegMasks(BOARDHANDLE* h, uint32_t ddcLine, uint32_t* reg1, uint32_t* mask1,
                                 uint32_t* reg2, uint32_t* mask2, int32_t* lineKind);
