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

uint16_t Rgb565TopBits(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

// Whether the rectangle lies inside a width x height area at the origin.
bool Inside(const Rect& r, int64_t width, int64_t height) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= width &&
         r.bottom <= height;
}

}  // namespace

void DrawTriangle(Target* t, const std::vector<ScreenVertex>& in, bool flat) {
  if (in.size() != 3) return;
  const uint32_t flatColour = in[2].colour;
  std::vector<Fixed> v;
  for (const ScreenVertex& s : in) {
    const float z = std::clamp(s.z, 0.0f, 1.0f);
    v.push_back({Snap(s.x), Snap(s.y), s.colour, static_cast<uint32_t>(std::floor(z * kDepthMax + 0.5))});
  }
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
      uint32_t c[3] = {};
      for (int k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * k;
        const uint64_t cs[3] = {Channel(v[0].colour, shift), Channel(v[1].colour, shift),
                                Channel(v[2].colour, shift)};
        const uint64_t value = flat ? Channel(flatColour, shift) : Mean(e, cs, area);
        c[k] = static_cast<uint32_t>(value > 255 ? 255 : value);
      }
      t->colour[at] = Rgb565TopBits(c[0], c[1], c[2]);
    }
}

Target ReferenceTarget(const Scene& s, bool triangles) {
  Target t{s.TargetWidth(), s.TargetHeight(), {}, {}};
  t.colour.assign(static_cast<size_t>(t.width) * t.height, 0);
  t.depth.assign(t.colour.size(), 0);
  // The clear's value: each channel scaled to its field, truncated.
  const uint32_t clear = s.layout().clearColour;
  const uint16_t value = static_cast<uint16_t>(Channel(clear, 16) * 31 / 255 << 11 |
                                               Channel(clear, 8) * 63 / 255 << 5 | Channel(clear, 0) * 31 / 255);
  const uint32_t depth = static_cast<uint32_t>(std::min(std::floor(s.layout().clearDepth * 65536.0), 65535.0));
  const Rect& w = s.layout().window;
  if (!Inside(w, t.width, t.height)) return t;
  for (int32_t y = w.top; y < w.bottom; ++y)
    for (int32_t x = w.left; x < w.right; ++x) {
      const size_t at = static_cast<size_t>(y) * t.width + static_cast<size_t>(x);
      t.colour[at] = value;
      t.depth[at] = depth;
    }
  if (triangles) {
    // In the stream's order: the nearer Gouraud triangle, then the flat
    // one behind it.
    DrawTriangle(&t, s.OnTarget(Scene::GouraudTriangle()), false);
    DrawTriangle(&t, s.OnTarget(Scene::FlatTriangle()), true);
  }
  return t;
}

std::vector<uint8_t> PresentedDesktop(std::vector<uint8_t> desktop, const ScreenState& screen,
                                      const client3d::SceneLayout& layout, const Target& t) {
  const size_t width = static_cast<size_t>(std::max(screen.shape.width, 0));
  if (screen.shape.bitsPerPixel != 16 ||
      desktop.size() != width * static_cast<size_t>(std::max(screen.shape.height, 0)) * 2 ||
      t.colour.size() != static_cast<size_t>(t.width) * t.height)
    return {};
  for (const Rect& r : layout.visible) {
    if (!Inside(r, t.width, t.height) || !Inside(r, screen.shape.width, screen.shape.height)) return {};
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        const uint16_t pixel = t.colour[static_cast<size_t>(y) * t.width + static_cast<size_t>(x)];
        memcpy(desktop.data() + (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 2, &pixel, 2);
      }
  }
  return desktop;
}

}  // namespace maindraw
