// The Velan TV encoder, reached over I2C: its PLL search, the packing of a
// gamma curve into its registers and its view of a mode record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/regs/velan.h"
#include "hwsharing/haltypes.h"
#include "hwsharing/tv_tables.h"

// The encoder's view of a mode record's four adjust groups (bytes 76-91):
// four signed 32-bit words, all -1 when the mode asks for no adjustment.
inline constexpr unsigned kVlnAdjustHOffset = 0;
inline constexpr unsigned kVlnAdjustVOffset = 1;
inline constexpr unsigned kVlnAdjustThird = 2;
inline constexpr unsigned kVlnAdjustVScaleStep = 3;
int32_t VlnAdjustWord(const MODEINFO* mode, unsigned word);
void SetVlnAdjustWord(MODEINFO* mode, unsigned word, int32_t value);
bool VlnNoAdjustment(const MODEINFO* mode);

// The encoder's PLL from its 27,000 kHz reference: M 1-13, N 1-126, P 3 or
// 1, and the VCO range code 0-3.
struct VLNPLL {
  uint32_t m, n, p, range;
};
VLNPLL VlnComputePll(uint32_t clockKHz);

// Registers 0x83-0x8B for a gamma curve of a level.
void VlnPackGamma(uint32_t level, const VLNGAMMA& gamma, uint8_t (&regs)[kVlnGammaRegisters]);
