// What a board's wiring makes of an flOutput word: board groups, and which
// DVO, DAC, output path and expansion module a word needs. Pure questions
// over the board handle: no register, no status, no failure.
#pragma once

#include <cstdint>

#include "hwsharing/chip/haltypes.h"

// Expansion-module code of the module with the serial-parallel back end.
inline constexpr uint32_t kCemCodeSp = 37;
// Digital output formats that need the expansion module.
inline constexpr uint32_t kDigitalFormatCemA = 16;
inline constexpr uint32_t kDigitalFormatCemB = 17;

bool IsQuadBoard(const BOARDHANDLE* h);
bool IsQuadDviBoard(const BOARDHANDLE* h);
bool IsTwinBoard(const BOARDHANDLE* h);
bool IsExpansionBoard(const BOARDHANDLE* h);
bool IsStandardBoard(const BOARDHANDLE* h);
bool IsMirroredBoardType(const BOARDHANDLE* h);
// All four DVI transmitter records present.
bool AllFourTransmitters(const BOARDHANDLE* h);

// Dual link through the expansion module (DL): the multi-output flag, an
// expansion FPGA present and a dual-link flag among description bytes
// 148-151.
bool DualLinkCondition(const BOARDHANDLE* h);
// Whether a digital output of the word is routed through the expansion
// module: the routing bits 29 and 30 of the output-enable word, for the
// first and second digital output (outputs 1 and 2 on twin boards, 0 and 1
// elsewhere).
bool DigitalRoutedThroughCem(const BOARDHANDLE* h, uint32_t flOutput);
// The chip's own DVO and DAC wiring serves the word: a first-generation
// device, no transmitter option bits (feature bits 13-14) and no digital
// output of the word routed through the expansion module.
bool DirectOutputPath(const BOARDHANDLE* h, uint32_t flOutput);

// Digital output 0 carrying format 3 with routing bit 21, or format 18 with
// routing bit 5: the DVO enable and the DVI dual-link switch treat it apart.
bool DigitalFormatSpecialCase(const BOARDHANDLE* h, const MODEINFO& mode);

bool UsesDvo1(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesDvo2(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesDac1(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesDac2(const BOARDHANDLE* h, uint32_t flOutput);
bool NeedsCem(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesFirstOutputPath(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesSecondOutputPath(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesThirdOutputPath(const BOARDHANDLE* h, uint32_t flOutput);
bool UsesFourthOutputPath(const BOARDHANDLE* h, uint32_t flOutput);

// The masks behind the bit-test predicates above.
uint32_t Dvo1Mask(const BOARDHANDLE* h);
uint32_t Dvo2Mask(const BOARDHANDLE* h);
uint32_t Dac1Mask(const BOARDHANDLE* h);
uint32_t Dac2Mask(const BOARDHANDLE* h);
uint32_t OutputPathMask(const BOARDHANDLE* h, unsigned path);  // path 0..3

// The board's connector description (bytes 144-151) is the first output
// arrangement's: connector 0 coded 2 or 9 with its dual-link bit, and none
// of the other connectors' digital or routing bits.
bool FirstArrangementConnectors(const BOARDHANDLE* h);
// The board uses the first output arrangement: the family's first two
// chips, the first later chip at revision 1, board type 4, or the connector
// description above. On it the controllers change video parameters
// together.
bool UsesFirstOutputArrangement(const BOARDHANDLE* h);
// Value of the output-arrangement register (0x1C58) that bring-up writes for
// this board: 0x40 for the first arrangement, 0 for the second.
uint32_t OutputArrangementValue(const BOARDHANDLE* h);
