// The reference of the 3D client's pictures (platform/client3d/scene.h):
// the window's part of the client's targets drawn in software from the
// board's stated rules (platform/board/README.md, "The 3D rasteriser"),
// and the desktop of the first screen with the colour target presented
// into the window's visible rectangles. Shared by the main job's drawing
// program and the end-to-end tests.
//
// The targets are laid out like the screen, so the window's pixels lie in
// them where they lie on the screen. The clear fills the viewport (the
// window) with the colour target's value of the clear colour (each channel
// c becomes trunc(c x max / 255) of its field, 5:6:5 here) and the depth
// target with 0xFFFF for depth 1.0. The triangles: x and y snapped to 1/16
// pixel, pixel centres at +0.5, taken in clockwise order with a top-left
// fill rule; each vertex's channels and depth turned into integers first,
// a value at a centre the exact edge-weighted mean rounded to the nearest,
// halves up; flat shading from the colour the driver sends at place 3 (the
// primitive's last vertex) or Gouraud shading per channel; 5:6:5 keeping
// the top bits of each channel; the depth test less-or-equal with writes
// on, 16 depth bits. The lit triangles are not drawn: the board records
// them only.
#pragma once

#include <stdint.h>

#include <vector>

#include "platform/client3d/scene.h"
#include "tests/maindraw/desktop.h"

namespace maindraw {

struct Target {
  uint32_t width, height;
  std::vector<uint16_t> colour;  // R5G6B5
  std::vector<uint32_t> depth;   // 0..65535
};

// One pre-transformed triangle into the target (target coordinates), flat
// or Gouraud shaded, depth-tested.
void DrawTriangle(Target* t, const std::vector<client3d::ScreenVertex>& in, bool flat);

// The scene's targets after its clear and, with `triangles`, its
// pre-transformed triangles in the stream's order.
Target ReferenceTarget(const client3d::Scene& s, bool triangles);

// The desktop of `screen` (16 bits a pixel, rows of width x 2 bytes) with
// the colour target presented into the layout's visible rectangles; empty
// when the screen is not 16 bits a pixel or a visible rectangle lies
// outside the target or the screen.
std::vector<uint8_t> PresentedDesktop(std::vector<uint8_t> desktop, const ScreenState& screen,
                                      const client3d::SceneLayout& layout, const Target& t);

}  // namespace maindraw
