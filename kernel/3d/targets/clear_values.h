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
inline float SanitiseClearDepth(float z) {
  if (!(z >= 0.0f)) return 0.0f;  // NaN or negative
  return z > 1.0f ? 1.0f : z;
}

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

// The corners scaled by the factors, each saturated to 32 bits (NaN as 0).
ClearRect ScaleClearRect(ClearRect rect, float scaleX, float scaleY);

// A rectangle of the record made ready to fill: corners ordered, scaled by
// the factors (when either is not 1), clipped to the bounds (the viewport,
// or the clip rectangle for target coordinates) and clamped to the surface.
// Coordinates are client data: the arithmetic saturates. Inline: a clear
// fits every rectangle, and the unscaled path is a few compares.
inline ClearRect FitClearRect(ClearRect r, float scaleX, float scaleY, const ClearRect& bounds,
                              uint32_t surfaceWidth, uint32_t surfaceHeight) {
  if (r.left > r.right) {
    const int32_t t = r.left;
    r.left = r.right;
    r.right = t;
  }
  if (r.top > r.bottom) {
    const int32_t t = r.top;
    r.top = r.bottom;
    r.bottom = t;
  }
  if (scaleX != 1.0f || scaleY != 1.0f) r = ScaleClearRect(r, scaleX, scaleY);
  if (r.left < bounds.left) r.left = bounds.left;
  if (r.top < bounds.top) r.top = bounds.top;
  if (r.right > bounds.right) r.right = bounds.right;
  if (r.bottom > bounds.bottom) r.bottom = bounds.bottom;
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  const int64_t w = surfaceWidth > INT32_MAX ? INT32_MAX : surfaceWidth;
  const int64_t h = surfaceHeight > INT32_MAX ? INT32_MAX : surfaceHeight;
  if (r.right > w) r.right = static_cast<int32_t>(w);
  if (r.bottom > h) r.bottom = static_cast<int32_t>(h);
  if (r.Empty()) r.right = r.left, r.bottom = r.top;
  return r;
}
