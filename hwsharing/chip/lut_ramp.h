// Arithmetic on colour ramps: 16-bit intensities (0 black, 0xFFFF full), a
// 10-bit value v kept as v << 6. Pure functions over arrays, used by the
// colour look-up tables; nothing here touches the board.
#pragma once

#include <cstdint>

inline constexpr uint32_t kRampEntries = 256;
inline constexpr uint32_t kRamp10Entries = 1024;
// Largest 16-bit value a 10-bit entry can hold.
inline constexpr uint32_t kRamp10Top = 0xFFC0;
// Ramps whose largest entry reaches this are scaled to kRamp10Top.
inline constexpr uint32_t kNormaliseFrom = 65473;
// Compensation bits of a 10-bit-emulation table entry.
inline constexpr uint32_t kCompShift = 16;
inline constexpr uint32_t kCompMax = 7;
// Slopes above this (16-bit units) make a channel steep.
inline constexpr uint32_t kSteepSlope = 1792;

// Step size in 10-bit units (0..31; larger steps use 31) to the 3-bit
// compensation of the emulated 10-bit table.
extern const uint8_t ucCompBits[32];

// entry i = i x 257 for every i.
bool IsLinearRamp256(const uint16_t* in);
// entry i within [64 i, 64 i + 63] for every i of 1024.
bool IsLinearRamp1024(const uint16_t* in);

// 256 entries to 1024 by linear interpolation; a linear ramp gives i << 6.
void RemapData_us256to1024(const uint16_t* in, uint16_t* out);
// 1024 entries to 256; a 10-bit-linear ramp gives i x 257.
void RemapData_us1024to256(const uint16_t* in, uint16_t* out);
// Spreads runs of equal entries towards the next different one.
void SmoothData_us256(const uint16_t* in, uint16_t* out);
// Pulls each entry towards its predecessor, more so at the top (in place).
void RemapData_us256(uint16_t* ramp);
// Scales a ramp whose largest entry is kNormaliseFrom or more to top out at
// kRamp10Top.
void NormalizeData_us256(const uint16_t* in, uint16_t* out);

// 10-bit value rounded to the nearest 1/64, in 16-bit units.
uint32_t Round10(uint32_t x);
// The emulated table's entry for `a` followed by `b`: the 10-bit value in
// bits 6-15 and the compensation in bits 16-18.
uint32_t Compute10BitLutEntry_us256(uint32_t a, uint32_t b);
// The last entry, from the last prepared entry and the caller's own.
uint32_t Compute10BitLastLutEntry_us256(uint32_t a, uint32_t b);

// 1 when the emulation compensates at the low end of the ramps, 0 at the
// top; from the three prepared channels.
uint32_t GetLutGammaLevel(const uint16_t* const channels[3]);
// The six compensation words (byte k of each for channel k) for that level;
// `last` holds each channel's unprocessed last entry.
void GetLutCompRegisters(const uint16_t* const channels[3], uint32_t level,
                         const uint16_t last[3], uint32_t words[6]);

// What the emulated 10-bit table shows for one channel, in 1,024 outputs:
// `prepared` is the channel smoothed and remapped, `entry255` the caller's
// unprocessed last entry, `bytes` that channel's bytes of the six words.
void EmulateHardware10Bit(const uint16_t* prepared, uint32_t entry255, uint32_t level,
                          const uint8_t bytes[6], uint16_t* out);
