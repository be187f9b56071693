// The reference a monitor's picture is compared with: the scene drawn by
// the XAA front in software on a screen of the same shape in host memory,
// and the part a controller shows of it as 8-bit RGB, converted as the
// board's controllers convert their formats.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/board/chip_picture.h"
#include "platform/xserver/server.h"
#include "tests/maindraw/scene.h"

namespace maindraw {

// The drawing's pixels (the scene's unless given) on a screen of `shape`,
// rows of width x bytes a pixel. Adds a screen to the server's table.
std::vector<uint8_t> DrawReference(xstub::XServer& server, const ScreenShape& shape,
                                   const Drawing& drawing = DrawScene);

// Colour 0xRRGGBB of an 8-bit index (the controller's colour table).
using IndexColour = std::function<uint32_t(uint32_t index)>;

// The w x h window at (x0, y0) of `pixels` (a screen of `shape`) as a
// picture, each pixel as the controller shows its depth.
orvsim::Picture ReferencePicture(const std::vector<uint8_t>& pixels, const ScreenShape& shape,
                                 int x0, int y0, uint32_t w, uint32_t h, const IndexColour& index);

}  // namespace maindraw
