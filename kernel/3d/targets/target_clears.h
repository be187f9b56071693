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
struct CommonData;

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
void ClearTargetSurface(CommonData* common, BmSecondaryInt* stream, uint32_t value, Surface3d* surface,
                        bool modeOnly, float depth);

// Closes the drawing into the board's render target open for drawing (the
// depth surface the engine fast-cleared last), through the board's
// secondary stream. With a mode other than 0 the engine first draws the
// whole surface at its surface value: the engine mode on, then the engine
// owner's default state with the surface as its depth target (the format's
// depth code in bits 8-11 of 0xB2 as a draw binds it, record 4's address
// word in 0xB4 and 0x8A, record 4's format word with the width in its
// 14-bit field in 0x8B, height << 16 | width in 0xC3), the three corners at
// the surface value as one vertex run, and a tag (operation 0x207) stored
// in the surface's block when it is in AGP or local memory. Every mode then
// forgets the open render target, sets the clear mode when it is not set
// (the engine's mode-only clear: the surface's contents stay) and turns
// the engine mode off.
void FlushRenderTarget(Surface3d* surface, CommonData* common, uint32_t mode);
// A surface that goes is no longer the board's open render target nor its
// fast-cleared depth surface (nothing is written to the engine).
void ForgetOpenRenderTarget(CommonData* common, const Surface3d* surface);

// The first row a fast clear of the surface fills by the processor first
// (rows from it to the bottom), or the height when the engine takes it all.
uint32_t FastClearFirstFilledRow(uint32_t width, uint32_t height, uint32_t bytesPerPixel, bool later);
