// The first generation's system-clock record, read back from the chip's
// clock-select register and synthesizers, or from the board description.
// Each of the record's three words (system, graphics, third clock) holds
// the frequency in MHz (bits 0-15), a type code (bits 16-23) and the
// synthesizer that feeds it (bits 24-31: 1..4 for FS 0..3, 0 for none).
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

HALSTATUS HSLKSTGetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock);      // slot 53
HALSTATUS HSLKSTGetPInSSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock);  // slot 51
// Changes the clocks in the board description (a word of 0 leaves its
// clock, a source of 0 keeps the clock's synthesizer) and runs the clock and
// memory bring-up again; a change of source switches controllers 0 and 1
// off around it and sets them again.
HALSTATUS HSLKSTSetSystemCLock(BOARDHANDLE* h, SYSCLOCKINFO* clock);      // slot 52
