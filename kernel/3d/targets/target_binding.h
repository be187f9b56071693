// The rules by which the target-related render states become engine-state
// fields: the depth scale of a depth format, the colour formats a target is
// bound as, the four blend-factor fields and the blend operation, when the
// stencil counts as inactive, when the depth test runs, and how the
// work-buffer mode of a draw gives the target's set-up mode and the low
// bits of the target control byte. Client values are bounded by the
// tables of target_tables.h.
#pragma once

#include <stdint.h>

struct FormatDescriptor;

// 1 / (depth mask >> depth shift) of the format; without a format, or for
// a format whose depth field is empty, 1 / 65,536.
inline constexpr float kDepthScaleNone = 1.5259022e-5f;
float DepthScale(const FormatDescriptor* depthFormat);

// The format code a colour target of the code is bound as: 7 as 6, 9 as 8,
// 12 as 11.
uint32_t BoundColourFormatCode(uint32_t code);

// Client blend values: the four factors (colour source and destination,
// alpha source and destination) and the operation.
struct BlendStates {
  uint32_t source, destination, alphaSource, alphaDestination, operation;
};
// The engine's blend word: four 4-bit factor fields (bits 0-3, 4-7, 8-11,
// 12-15) and the operation code in two 3-bit fields (bits 16-18 colour,
// 19-21 alpha).
uint32_t BlendWord(const BlendStates& states, bool withAlpha);
inline uint32_t BlendField(uint32_t word, uint32_t field) { return (word >> (4 * field)) & 0xF; }

// Client stencil values (ids 52 to 59 in order): enable, fail, depth-fail
// and pass operations, function, reference, mask, write mask.
struct StencilStates {
  uint32_t enable, fail, depthFail, pass, function, reference, mask, writeMask;
};
// Disabled, all three operations keep (1), or fail and depth-fail keep with
// pass replace (3) and function always (8) while no work-buffer switch is
// pending.
bool StencilInactive(const StencilStates& s, bool switchPending);

// The depth test of a draw: on only with a depth surface and the enable
// state; function 8 (always) with writes off is turned off while the work
// buffer is not in use (mode other than 0); without a depth surface and
// with the work buffer in use (or a state word of 1) it is forced on with
// function 8. control: bit 0 the test, bits 1-3 the compare code.
struct DepthTest {
  bool on;
  uint32_t function;  // client value
  uint32_t control;
};
DepthTest DecideDepthTest(bool haveSurface, uint32_t enable, uint32_t write, uint32_t function,
                          uint32_t workBufferMode, uint32_t stateWord);

// Work-buffer modes of a draw.
enum : uint32_t { kWbInUse = 0, kWbNotInUse = 1, kWbFlushPending = 2, kWbSuspended = 3 };
// 0 gives set-up mode 3, 1 and 2 give 0, 3 gives 2 (anything else: 0).
uint32_t SetupModeOf(uint32_t workBufferMode);
// Bits 0-1 of the target control byte: the set-up mode, except that with
// fewer than two render targets set-up mode 3 gives 1 (0 when the target's
// state word is 1).
uint32_t TargetControlLowBits(uint32_t setupMode, uint32_t targetCount, uint32_t stateWord);
