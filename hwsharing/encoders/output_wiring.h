// How a multi-output board wires its outputs to the Chrontel encoders and
// the expansion module's two FPGAs, as data: one row per board group, one
// cell per output bit of flOutput. Pure questions over the board's facts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// The facts of a board that decide its wiring.
struct BOARDWIRING {
  bool multiOutput;      // the board carries an expansion module
  uint32_t boardType;
  bool variant37;        // board variant code 37: some boards fall back to the default wiring
  bool module37;         // expansion module code 37 (board description byte 421)
  bool allTransmitters;  // all four DVI transmitters present
  bool fpgaFlag;         // an expansion FPGA present and the board description's dual-link flag
};
BOARDWIRING BoardWiringOf(const BOARDHANDLE* h);

// The fourteen output bits the tables have a cell for, in cell order.
inline constexpr size_t kWiringBits = 14;
inline constexpr uint32_t kWiringBit[kWiringBits] = {
    0x2, 0x4, 0x10, 0x20, 0x40, 0x100, 0x4000, 0x8000,
    0x1000000, 0x4000000, 0x8000000, 0x20000000, 0x40000000, 0x80000000};

// Board groups of the encoder list.
enum class ChrGroup : uint8_t { kPlain, kQuad, kPair, kT13, kT14 };
ChrGroup ChrGroupOf(const BOARDWIRING& b);

// Encoder indexes (bit i = encoder i) that serve the bits of a flag word.
uint32_t ChrEncodersForBits(const BOARDWIRING& b, uint32_t flOutput);

// The Chrontel encoder whose data path a module change on these outputs
// disturbs: 1, 0, or -1 for none (encoder 1 wins over encoder 0).
int OppositeEncoder(const BOARDWIRING& b, uint32_t flOutput);

// Whether the outputs of the word go through the expansion FPGAs.
bool ModeUsesCemFpga(const BOARDWIRING& b, uint32_t flOutput);

// Which FPGAs (by I2C address) receive a program for the outputs of the
// word under a control method.
inline constexpr uint32_t kFpgaE0 = 0x1;
inline constexpr uint32_t kFpgaE2 = 0x2;
uint32_t FpgasForOutputs(const BOARDWIRING& b, uint32_t controlMethod, uint32_t flOutput);
