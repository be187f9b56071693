// A small stand-in for the 3D engine's textured rectangle, for tests: it
// reads the register writes a sequence made (the render target in surface
// descriptor 0, texture unit 0's descriptor, the three corners with their
// positions and texture coordinates) and draws the parallelogram into the
// board's local memory with nearest-neighbour sampling at pixel centres.
// It knows 32-bit pixels in pitch-linear surfaces in local memory only.
#pragma once

#include <stdint.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/chip_dma.h"

namespace samplertest {

struct Corner {
  float x = 0, y = 0;  // position in the target
  float s = 0, t = 0;  // texture coordinates, 0..1
};

struct TexturedRectangle {
  uint32_t targetAddress = 0, targetPitch = 0;
  uint32_t textureAddress = 0, texturePitch = 0, textureHeight = 0;
  Corner corners[3];
};

inline float AsFloat(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// The state the writes leave: the last value of each register.
inline TexturedRectangle Decode(const std::vector<orvsim::DmaEngine::RegWrite>& writes) {
  TexturedRectangle r;
  unsigned corner = 0;
  float w1 = 0;
  for (const auto& w : writes) {
    switch (w.reg) {
      case 0x1220: r.targetAddress = w.value; break;
      case 0x1224: r.targetPitch = w.value & 0x3FFF; break;
      case 0x11DC: r.textureAddress = w.value; break;
      case 0x11E0: r.texturePitch = w.value & 0x3FFF; break;
      case 0x11E4: r.textureHeight = w.value & 0x3FFF; break;
      case 0x1160: case 0x1164: case 0x1168: corner = (w.reg - 0x1160) / 4; break;
      case 0x1178: case 0x117C: w1 = AsFloat(w.value); break;
      case 0x1180:
        r.corners[corner].x = AsFloat(w.value);
        r.corners[corner].y = w1;
        break;
      case 0x118C:
        r.corners[corner].s = AsFloat(w.value);
        r.corners[corner].t = w1;
        break;
      default: break;
    }
  }
  return r;
}

// Draws r into local memory: every target pixel whose centre lies in the
// parallelogram of the corners takes the texel nearest to its texture
// coordinate.
inline void Draw(orvsim::Board& board, const TexturedRectangle& r) {
  uint8_t* memory = board.LocalMemory();
  const Corner& p0 = r.corners[0];
  const float ex = r.corners[1].x - p0.x, ey = r.corners[1].y - p0.y;
  const float fx = r.corners[2].x - p0.x, fy = r.corners[2].y - p0.y;
  const float det = ex * fy - ey * fx;
  if (det == 0) return;
  // The fourth corner completes the parallelogram.
  const float xs[4] = {p0.x, r.corners[1].x, r.corners[2].x, p0.x + ex + fx};
  const float ys[4] = {p0.y, r.corners[1].y, r.corners[2].y, p0.y + ey + fy};
  float minX = xs[0], maxX = xs[0], minY = ys[0], maxY = ys[0];
  for (int i = 1; i < 4; ++i) {
    minX = std::fmin(minX, xs[i]);
    maxX = std::fmax(maxX, xs[i]);
    minY = std::fmin(minY, ys[i]);
    maxY = std::fmax(maxY, ys[i]);
  }
  for (int y = static_cast<int>(minY); y < static_cast<int>(maxY); ++y) {
    for (int x = static_cast<int>(minX); x < static_cast<int>(maxX); ++x) {
      const float px = static_cast<float>(x) + 0.5f - p0.x, py = static_cast<float>(y) + 0.5f - p0.y;
      const float u = (px * fy - py * fx) / det;
      const float v = (ex * py - ey * px) / det;
      if (u < 0 || u >= 1 || v < 0 || v >= 1) continue;
      const float s = p0.s + u * (r.corners[1].s - p0.s) + v * (r.corners[2].s - p0.s);
      const float t = p0.t + u * (r.corners[1].t - p0.t) + v * (r.corners[2].t - p0.t);
      const auto tx = static_cast<uint32_t>(std::floor(s * static_cast<float>(r.texturePitch)));
      const auto ty = static_cast<uint32_t>(std::floor(t * static_cast<float>(r.textureHeight)));
      if (tx >= r.texturePitch || ty >= r.textureHeight) continue;
      std::memcpy(memory + (r.targetAddress & ~3u) + 4 * (static_cast<uint32_t>(y) * r.targetPitch + static_cast<uint32_t>(x)),
                  memory + (r.textureAddress & ~3u) + 4 * (ty * r.texturePitch + tx), 4);
    }
  }
}

}  // namespace samplertest
