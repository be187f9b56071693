// The expansion module's misc-IO expander: eight lines carried by bits 4-7
// of register 8 of the module's two FPGAs (lines 0-3 on the FPGA of group
// 0, lines 4-7 on group 1). The board description gives each line a code:
// its level after initialisation (1 high, 2 low), or the function the line
// carries (3 second DDC select, 4 and 5 dual-link routing).
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr uint32_t kCemMiscIoLines = 8;
inline constexpr uint32_t kCemMiscIoRegister = 8;
inline constexpr uint32_t kCemMiscIoCodeHigh = 1;
inline constexpr uint32_t kCemMiscIoCodeLow = 2;
// No FPGA of the board answers for the group.
inline constexpr uint32_t kCemNoFpga = 255;

// The FPGA record (0 or 1) of a line group, kCemNoFpga when none has the
// group's address.
uint32_t CemMiscIoFpga(const BOARDHANDLE* h, uint32_t group);
HALSTATUS HSLKstCEMSpWriteMiscIO(BOARDHANDLE* h, uint32_t group, uint32_t line, uint32_t level);
HALSTATUS HSLKstCEMSpInitMiscIO(BOARDHANDLE* h);
HALSTATUS HSLKstCEMSpSetMiscIO(BOARDHANDLE* h, uint32_t function, uint32_t level);
