// The expansion FPGAs' modes and register programs, as pure computation: the
// timing an FPGA mode gives a controller and the program that sets an FPGA
// up for it. Which mode a board picks and where the program goes is the
// board-handle code's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/regs/fpga.h"
#include "hwsharing/chip/haltypes.h"

// FPGA modes.
inline constexpr uint8_t kFpgaModePassThrough = 0;
inline constexpr uint8_t kFpgaModeSplit32 = 1;   // 3/2 clock
inline constexpr uint8_t kFpgaModeSplit = 2;     // dual link, twice the clock
inline constexpr uint8_t kFpgaModeSlow = 3;      // pass-through below 45,000 kHz
inline constexpr uint8_t kFpgaModeSplit74 = 4;   // 7/4 clock
inline constexpr uint8_t kFpgaModeSplit158 = 5;  // 15/8 clock
inline constexpr uint8_t kFpgaModeUnused = 6;    // the mode does not use the FPGAs
inline constexpr uint8_t kFpgaModeNone = 255;

inline constexpr uint32_t kFpgaSlowClockKHz = 45000;
inline constexpr uint32_t kFpgaSingleLinkMaxKHz = kDualLinkKHz;

// Per mode: width multiplier a, clock ratio g/l, and the constants b, c, e,
// f, h and the pairing flag of the validity test.
struct FPGAMODEPARAMS {
  uint8_t ucMode;
  uint32_t a, g, l, b, c, e, f, h;
  bool pairing;
};
// The row of a split or pass-through mode (0, 1, 2, 4, 5), or null.
const FPGAMODEPARAMS* FpgaModeParams(uint32_t mode);

// The horizontal shift of a mode: bit 15 the direction (set: negative), the
// magnitude in the low 15 bits.
inline constexpr uint32_t kFpgaShiftNegative = 0x8000;
inline constexpr uint32_t kFpgaShiftMagnitude = 0x7FFF;

// The controller timing `out` that FPGA mode `mode` needs for the adjusted
// record `q`; false when the mode cannot run it. `out` starts as a copy of
// `q`; `clockLimitByte` raises the FPGAs' clock limit above 255 MHz.
bool FpgaTiming(uint32_t mode, const MODEINFO& q, uint32_t shift, uint32_t clockLimitByte,
                MODEINFO* out);

// An FPGA register program: n pairs {register, value}, written in order.
inline constexpr size_t kFpgaProgramMaxPairs = 32;
struct FPGAPROGRAM {
  uint8_t ucCount;
  uint8_t aucPair[kFpgaProgramMaxPairs][2];
};
static_assert(sizeof(FPGAPROGRAM) == 65);


// What the enable program is built from.
struct FPGAPROGRAMINPUT {
  uint32_t fpgaMode;
  const MODEINFO* adjusted;   // the record as the FPGA mode adjusted it
  uint32_t shift;
  bool tripleClock;           // the given record's flSignalMode has bit 0x40000
  bool formatBlock;           // the twin boards' digital output format block
  uint32_t digitalFormat;     // format code of the output the record uses
  bool dual;                  // dual link
  bool pairRevAbove9;         // twin board, all four transmitters, revision low byte > 9
  bool pairRevAbove10;        // the same with revision low byte > 10
};
void BuildFpgaEnableProgram(const FPGAPROGRAMINPUT& in, FPGAPROGRAM* program);
void BuildFpgaDisableProgram(FPGAPROGRAM* program);
