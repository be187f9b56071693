// The fixed scene the main job draws on every screen through the XAA
// front: rectangles in several raster operations and under a plane mask
// and a clip, spans, opaque and transparent 8x8 stipples, opaque and
// transparent text, self-overlapping screen copies both ways, an image,
// and lines. Drawn through a driver's hooks it is the monitor's picture;
// drawn on a screen whose XAA record has no drawing hooks, the XAA front
// draws all of it in software, which is the reference.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/xserver/xaa_front.h"

namespace maindraw {

// What the scene needs of a screen.
struct ScreenShape {
  int width = 0;   // the virtual screen
  int height = 0;
  int depth = 0;   // 8, 15, 16, 24 or 30
  int bitsPerPixel = 0;
};

// The pixel of colour 0xRRGGBB at the depth (at depth 8, the low byte as
// the index).
uint32_t PixelOf(uint32_t rgb, int depth);

void DrawScene(xstub::XaaFront& front, const ScreenShape& shape);

// What a screen shows, drawn through a front (the driver's hooks, or the
// software of a screen without them): the scene, or another drawing.
using Drawing = std::function<void(xstub::XaaFront& front, const ScreenShape& shape)>;

}  // namespace maindraw
