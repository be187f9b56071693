// Clears of a render context's targets: colour, depth and stencil inside
// the rectangles of a clear record, by fills of the surfaces or, for a
// depth surface a rectangle covers from its first column, by the engine's
// fast depth clear; and the engine's clear of a whole target surface.
#pragma once

#include <stdint.h>

#include "kernel/3d/targets/clear_values.h"

class BmSecondaryInt;
class RenderTargetState;
class Surface3d;

inline constexpr uint32_t kClearFillMode = 192;
inline constexpr uint32_t kSurfDepthCleared = 0x20;
inline constexpr uint32_t kSurfDepthNeedsClear = 0x04;
inline constexpr uint32_t kDepthClearKindFill = 3;
inline constexpr uint32_t kFastClearLimitFirst = 0x300000;
inline constexpr uint32_t kFastClearLimitLater = 0x3C0000;

// The fixed part of a client's clear record; the rectangles follow it.
struct ClearRecord {
  uint32_t flags;    // kClear*
  uint32_t colour;   // A8R8G8B8
  float depth;
  uint32_t stencil;
};
static_assert(sizeof(ClearRecord) == 16);

// The whole clear of count rectangles; returns 0.
uint32_t ClearTargetRects(RenderTargetState* state, const ClearRecord& record, const ClearRect* rects,
                          uint32_t count);

// The engine clears the surface (or only sets the clear mode) through the
// stream.
void ClearTargetSurface(RenderTargetState* state, BmSecondaryInt* stream, uint32_t value, Surface3d* surface,
                        bool modeOnly, float depth);

// The first row a fast clear of the surface fills by the processor first
// (rows from it to the bottom), or the height when the engine takes it all.
uint32_t FastClearFirstFilledRow(uint32_t width, uint32_t height, uint32_t bytesPerPixel, bool later);
