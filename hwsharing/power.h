// Power management of the chip: the display power levels, blanking and the
// ACPI off/on cycle, across which a few clock registers are kept.
#pragma once

#include <cstdint>

#include "hwsharing/haltypes.h"

HALSTATUS HSLKSTSaveCriticalData(BOARDHANDLE* h);
HALSTATUS HSLKSTRestoreCriticalData(BOARDHANDLE* h);
