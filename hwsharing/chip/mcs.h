// The MCS colour-compensation records: blocks of the chain that follows the
// option ROM image in the board's serial flash.
#pragma once

#include <stdint.h>

#include "hwsharing/chip/haltypes.h"

// One colour-compensation record (1,040 bytes).
inline constexpr uint32_t kMcsDataSize = 1024;
struct MCSRECORD {
  uint32_t ulFactor;
  uint32_t ulFormatHigh;  // format bits 6-8
  uint32_t ulFormatMid;   // format bits 3-5
  uint32_t ulFormatLow;   // format bits 0-2
  uint8_t aucData[kMcsDataSize];
};
static_assert(sizeof(MCSRECORD) == 1040);

inline constexpr uint32_t kMcsSignature = 0x2053434D;  // "MCS "
// Record 0 or 1; at most kMcsDataSize bytes. A record that is missing or
// fails its sum is left all zero.
HALSTATUS HSLMCSReadData(BOARDHANDLE* h, uint32_t record, uint32_t length, MCSRECORD* out);
