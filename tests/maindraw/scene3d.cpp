#include "tests/maindraw/scene3d.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace maindraw {

namespace {

using client3d::Rect;
using client3d::Scene;
using client3d::ScreenVertex;

constexpr uint32_t kDepthMax = 65535;

// round(v * 16), halves away from 0.
int64_t Snap(float v) {
  const double s = static_cast<double>(v) * 16.0;
  return static_cast<int64_t>(s < 0 ? -std::floor(-s + 0.5) : std::floor(s + 0.5));
}

struct Fixed {
  int64_t x, y;
  uint32_t colour;
  uint32_t z;
};

int64_t Edge(const Fixed& a, const Fixed& b, int64_t x, int64_t y) {
  return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
}

// A top edge (horizontal, running right) or a left edge (running up) of
// a clockwise triangle, y down.
bool TopLeft(const Fixed& a, const Fixed& b) { return (a.y == b.y && b.x > a.x) || b.y < a.y; }

uint32_t Channel(uint32_t colour, int shift) { return colour >> shift & 0xFF; }

// (e0 v0 + e1 v1 + e2 v2) / A, rounded to the nearest, halves up (all
// terms non-negative).
uint64_t Mean(const int64_t e[3], const uint64_t v[3], int64_t area) {
  unsigned __int128 sum = 0;
  for (int k = 0; k < 3; ++k) sum += static_cast<unsigned __int128>(e[k]) * v[k];
  return static_cast<uint64_t>((2 * sum + static_cast<unsigned __int128>(area)) /
                               (2 * static_cast<unsigned __int128>(area)));
}

uint32_t Depth(float z) {
  return static_cast<uint32_t>(std::floor(std::clamp(z, 0.0f, 1.0f) * kDepthMax + 0.5));
}

}  // namespace

void DrawTriangle(Target* t, const std::vector<ScreenVertex>& in, bool flat) {
  if (in.size() != 3) return;
  const uint32_t flatColour = in[2].colour;
  std::vector<Fixed> v;
  for (const ScreenVertex& s : in) v.push_back({Snap(s.x), Snap(s.y), s.colour, Depth(s.z)});
  int64_t area = Edge(v[0], v[1], v[2].x, v[2].y);
  if (area == 0) return;
  if (area < 0) {
    std::swap(v[1], v[2]);
    area = -area;
  }
  const bool tl[3] = {TopLeft(v[1], v[2]), TopLeft(v[2], v[0]), TopLeft(v[0], v[1])};
  for (uint32_t y = 0; y < t->height; ++y)
    for (uint32_t x = 0; x < t->width; ++x) {
      const int64_t cx = int64_t{x} * 16 + 8, cy = int64_t{y} * 16 + 8;
      const int64_t e[3] = {Edge(v[1], v[2], cx, cy), Edge(v[2], v[0], cx, cy), Edge(v[0], v[1], cx, cy)};
      bool covered = true;
      for (int k = 0; k < 3; ++k) covered = covered && (e[k] > 0 || (e[k] == 0 && tl[k]));
      if (!covered) continue;
      const uint64_t zs[3] = {v[0].z, v[1].z, v[2].z};
      const uint32_t z = static_cast<uint32_t>(Mean(e, zs, area));
      const size_t at = static_cast<size_t>(y) * t->width + x;
      if (!(z <= t->depth[at])) continue;
      t->depth[at] = z;
      uint32_t c = 0xFF000000;
      for (int shift : {16, 8, 0}) {
        const uint64_t cs[3] = {Channel(v[0].colour, shift), Channel(v[1].colour, shift),
                                Channel(v[2].colour, shift)};
        const uint64_t value = flat ? Channel(flatColour, shift) : Mean(e, cs, area);
        c |= static_cast<uint32_t>(value > 255 ? 255 : value) << shift;
      }
      t->colour[at] = c;
    }
}

Target ReferenceTarget(const client3d::SceneLayout& layout, bool triangles) {
  const Rect& w = layout.window;
  Target t{static_cast<uint32_t>(std::max(w.right - w.left, 0)), static_cast<uint32_t>(std::max(w.bottom - w.top, 0)),
           {}, {}};
  t.colour.assign(static_cast<size_t>(t.width) * t.height, layout.clearColour);
  t.depth.assign(t.colour.size(), Depth(layout.clearDepth));
  if (triangles) {
    // In the stream's order: the nearer Gouraud triangle, then the flat
    // one behind it.
    DrawTriangle(&t, Scene::GouraudTriangle(), false);
    DrawTriangle(&t, Scene::FlatTriangle(), true);
  }
  return t;
}

std::vector<uint8_t> PresentedDesktop(std::vector<uint8_t> desktop, const ScreenState& screen,
                                      const client3d::SceneLayout& layout, const Target& t) {
  const Rect& w = layout.window;
  const size_t width = static_cast<size_t>(screen.shape.width);
  if (screen.shape.bitsPerPixel != 16 ||
      desktop.size() != width * static_cast<size_t>(std::max(screen.shape.height, 0)) * 2 ||
      int64_t{t.width} != int64_t{w.right} - w.left || int64_t{t.height} != int64_t{w.bottom} - w.top ||
      t.colour.size() != static_cast<size_t>(t.width) * t.height)
    return {};
  for (const Rect& r : layout.visible) {
    // Every visible rectangle lies in the window and on the screen.
    if (r.left < w.left || r.top < w.top || r.right > w.right || r.bottom > w.bottom || r.left < 0 ||
        r.top < 0 || r.right > screen.shape.width || r.bottom > screen.shape.height)
      return {};
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        const uint32_t c = t.colour[static_cast<size_t>(y - w.top) * t.width + static_cast<size_t>(x - w.left)];
        const uint16_t pixel = static_cast<uint16_t>((Channel(c, 16) >> 3) << 11 | (Channel(c, 8) >> 2) << 5 |
                                                     Channel(c, 0) >> 3);
        memcpy(desktop.data() + (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 2, &pixel, 2);
      }
  }
  return desktop;
}

}  // namespace maindraw
