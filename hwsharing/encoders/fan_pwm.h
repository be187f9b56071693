// The TC664 fan-speed controller at I2C address 0x36 (port 16 with a
// non-zero selector, else port 1): detection and power management. Its
// register transfers are in companion.h.
#pragma once

#include <cstdint>

#include "core/regs/fan.h"
#include "hwsharing/chip/haltypes.h"

// A failed read is a negative answer; the status is cleared.
HALSTATUS HSLPWMTC664Detect(BOARDHANDLE* h, uint32_t selector, uint32_t* present);
HALSTATUS HSLPWMInit(BOARDHANDLE* h, uint32_t selector);
HALSTATUS HSLPWMPowerDown(BOARDHANDLE* h, uint32_t selector);
HALSTATUS HSLPWMPowerUp(BOARDHANDLE* h, uint32_t selector);
