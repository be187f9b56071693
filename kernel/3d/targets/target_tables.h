// The translations from the client's render-state enumerations to the
// engine's codes: compare functions, stencil and blend operations, blend
// factors, depth formats, the small 4-bit codes, fill replication and
// colour write masks. Client data: every value outside a table gets the
// table's fallback, never an index past it.
#pragma once

#include <stdint.h>

struct FormatDescriptor;

uint32_t CompareFunctionCode(uint32_t client);
uint32_t StencilOperationCode(uint32_t client);
uint32_t BlendOperationCode(uint32_t client);

struct BlendFactorCodes {
  uint32_t source;
  uint32_t destination;
};
// withAlpha: the colour target's format carries alpha.
BlendFactorCodes BlendFactorCode(uint32_t client, bool withAlpha);

// The depth-format hardware code of a format-catalogue code (the number of
// its stencil bits), 0 for codes outside 17-27; and the code as the engine
// state records it (from 9 up, 8).
uint32_t GetDepthFormatCode(uint32_t formatCode);
inline constexpr uint32_t kDepthCodeEngineMax = 8;
uint32_t DepthFormatEngineCode(uint32_t hardwareCode);

// 0-15 pass, larger values become 12.
uint32_t SmallCode(uint32_t value);
// A fill value repeated to 32 bits by the bits per pixel: 8 and 16 repeat,
// 32 stays, any other width gives 0.
uint32_t ReplicateFill(uint32_t value, uint32_t bitsPerPixel);
// The colour write-enable mask (bits 1 red, 2 green, 4 blue, 8 alpha) as
// the OR of the format's channel masks; 0 without a format.
uint32_t ChannelWriteMask(uint32_t enable, const FormatDescriptor* format);
