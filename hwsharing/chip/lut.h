// Colour look-up tables and gamma: one record per controller in the board
// handle, loaded into the controller's table in the chip or, on twin boards
// whose outputs pass the expansion module, into the FPGA's table; the
// transforms for packed digital formats and the emulation of a 10-bit table
// with 256 entries and compensation.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

inline constexpr HALSTATUS kErrLutRange = 0xb1e06131;
inline constexpr HALSTATUS kErrLutMethod = 0x80000000;

// flLutState bits of a LUT record.
inline constexpr uint32_t kLutCompensated = 0x01;
inline constexpr uint32_t kLutPacked8 = 0x02;
inline constexpr uint32_t kLutPacked10 = 0x04;
inline constexpr uint32_t kLutMono = 0x08;
inline constexpr uint32_t kLutMono10 = 0x10;
inline constexpr uint32_t kLutInCem = 0x20;
inline constexpr uint32_t kLutLinear = 0x40;
inline constexpr uint32_t kLutWidened = 0x80;
// Kinds.
inline constexpr uint32_t kLutKindRamps = 0;  // red, green, blue of 256
inline constexpr uint32_t kLutKindSingle = 1; // one ramp of 1024
// Emulation methods.
inline constexpr uint32_t kLutEmulateHardware = 1;
inline constexpr uint32_t kLutEmulateBest = 2;

// The caller's table of HSLKSTSetColorLUT (2,052 bytes).
struct PUBLICLUT {
  uint32_t ulKind;
  uint16_t ausEntry[1024];
};
static_assert(sizeof(PUBLICLUT) == 2052);

struct LUTRECORD;

HALSTATUS HSLKSTSetColorLUT(BOARDHANDLE* h, uint32_t first, uint32_t count,
                            const PUBLICLUT* table, uint32_t controller);  // slot 41
HALSTATUS HSLKSTApplyLUT(BOARDHANDLE* h, MODEINFO* mode);
// `rgb`: red, green and blue of 256 entries (the controller's record).
HALSTATUS HSLKSTSetPrimaryLUT(BOARDHANDLE* h, MODEINFO* mode, uint16_t* rgb);
HALSTATUS HSLKSTSetPrimaryLUTBypass(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTSetCEMLUTBypass(BOARDHANDLE* h, MODEINFO* mode);
HALSTATUS HSLKSTSetCEMLUT(BOARDHANDLE* h, MODEINFO* mode, const uint16_t* entries);
HALSTATUS HSLKSTSetPrimaryLUTLinear(BOARDHANDLE* h, uint32_t controller);
HALSTATUS HSLKSTSetCEMLUTLinear(BOARDHANDLE* h, uint32_t controller);
HALSTATUS HSLKSTXFormLUT(BOARDHANDLE* h, LUTRECORD* record, uint32_t reset, uint32_t first,
                         uint32_t count, uint16_t* ramps, uint32_t controller);
HALSTATUS HSLKSTXFormLUTCompensation(BOARDHANDLE* h, LUTRECORD* record, uint32_t first,
                                     uint32_t count, uint32_t controller);
HALSTATUS HSLKSTXFormLUTPackPixel(BOARDHANDLE* h, LUTRECORD* record, uint32_t first,
                                  uint32_t count, uint32_t controller);
// Entry i of a packed table: red, green and blue.
void HSLKSTXFormLUTPackPixelByEntry(const uint16_t* ramps, uint32_t i, bool tenBit,
                                    uint16_t out[3]);
HALSTATUS HSLKSTXFormLUTMono(BOARDHANDLE* h, LUTRECORD* record, uint32_t first, uint32_t count);
HALSTATUS HSLKSTXFormLUTMono10(BOARDHANDLE* h, LUTRECORD* record, uint32_t first, uint32_t count);
// What the chip shows for one channel (0 red, 1 green, 2 blue) of a
// controller's table in 1,024 outputs. `ramps` (three of 256) when
// `useGiven` is set, else the controller's record. *linear is 1 (and
// nothing is written) when the channel needs no emulation.
HALSTATUS HSLKSTSetEmulated10BitLutPerChannel(BOARDHANDLE* h, uint32_t controller,
                                              const uint16_t* ramps, uint32_t useGiven,
                                              uint32_t channel, uint32_t method,
                                              uint32_t* linear, uint16_t* out);

// The two board tests of the expansion module's table.
bool IsCemLutPath(const BOARDHANDLE* h, uint32_t flOutput);
// FPGA 0 or 1 that serves the word's outputs.
uint32_t CemLutFpga(const BOARDHANDLE* h, uint32_t flOutput);
