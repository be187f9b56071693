// What a clear writes: the fill value and write mask of a depth-stencil
// clear by the depth target's format, the fill value of a colour clear by
// the colour target's format, and the rectangles of a clear record made
// safe to fill: ordered, scaled, clipped to the viewport or the clip
// rectangle and clamped to the surface.
#pragma once

#include <stdint.h>

struct FormatDescriptor;

// Flags of a clear record.
inline constexpr uint32_t kClearColour = 0x1;
inline constexpr uint32_t kClearDepth = 0x2;
inline constexpr uint32_t kClearStencil = 0x4;
inline constexpr uint32_t kClearTargetCoordinates = 0x8;

// The clear depth as the conversions take it: NaN as 0, clamped to [0, 1].
float SanitiseClearDepth(float z);

// Value and mask of a depth-stencil clear of a format code 17-28 (false,
// nothing written, for other codes).
struct DepthClear {
  uint32_t value;
  uint32_t mask;
};
bool GetDepthClearValue(uint32_t formatCode, float z, uint32_t stencil, bool clearDepth, bool clearStencil,
                        DepthClear* out);

// The value of a colour clear (A8R8G8B8 colour) for a format: false when the
// format, or the device's colour-depth mode (1 and 3 for class 2), takes no
// colour clear.
bool GetColourClearValue(const FormatDescriptor* format, uint32_t colour, uint32_t colourDepthMode,
                         uint32_t* value);

struct ClearRect {
  int32_t left, top, right, bottom;
  bool Empty() const { return right <= left || bottom <= top; }
};

// A rectangle of the record made ready to fill: corners ordered, scaled by
// the factors (when either is not 1), clipped to the bounds (the viewport,
// or the clip rectangle for target coordinates) and clamped to the surface.
// Coordinates are client data: the arithmetic saturates.
ClearRect FitClearRect(ClearRect rect, float scaleX, float scaleY, const ClearRect& bounds, uint32_t surfaceWidth,
                       uint32_t surfaceHeight);
