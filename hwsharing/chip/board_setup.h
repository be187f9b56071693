// Set-up of a fresh board handle from the board's PCI configuration space:
// identity, board flags and the two apertures.
#pragma once

#include "hwsharing/chip/haltypes.h"

// Clears the handle (all but its client record pointer) and fills it from
// configuration space; an unknown device records 0x80701060 and leaves the
// apertures zero.
HALSTATUS HALPGetBoardConfigSpaceInfo(BOARDHANDLE* h);
