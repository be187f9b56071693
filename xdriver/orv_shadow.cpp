#include "xdriver/orv_shadow.h"

#include <string.h>

#include <algorithm>

#include <emmintrin.h>

namespace {

// Tiles of the rotation: the source rows and columns of one tile stay in
// the cache while the framebuffer rows of the tile are written.
constexpr int kTile = 64;

// Framebuffer pixels dst[0..count) from source pixels `step` bytes apart,
// packed into whole 32-bit words of 32 / bits pixels, the first pixel in
// the low bits; a tail shorter than a word goes pixel by pixel.
template <typename Pixel>
inline void PackRun(uint8_t* dst, const uint8_t* src, ptrdiff_t step, int count) {
  constexpr int kPerWord = 4 / static_cast<int>(sizeof(Pixel));
  int i = 0;
  for (; i + kPerWord <= count; i += kPerWord) {
    uint32_t word = 0;
    for (int k = 0; k < kPerWord; ++k) {
      Pixel p;
      memcpy(&p, src + (i + k) * step, sizeof(Pixel));
      word |= static_cast<uint32_t>(p) << (8 * sizeof(Pixel) * k);
    }
    memcpy(dst + static_cast<size_t>(i) * sizeof(Pixel), &word, 4);
  }
  for (; i < count; ++i) memcpy(dst + static_cast<size_t>(i) * sizeof(Pixel), src + i * step, sizeof(Pixel));
}

// Four rows of four 32-bit pixels turned into four columns.
inline void Transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
  const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
  const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
  const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
  const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(t0, t1);
  r1 = _mm_unpackhi_epi64(t0, t1);
  r2 = _mm_unpacklo_epi64(t2, t3);
  r3 = _mm_unpackhi_epi64(t2, t3);
}

// Eight rows of eight 16-bit pixels turned into eight columns.
inline void Transpose8x16(__m128i r[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Eight source columns x..x+7 at 16 bits per pixel: the runs of PackRun,
// eight framebuffer pixels (four whole words) at a time through 8x8
// transposes; the rows short of a block go through PackRun. `d0` is the
// framebuffer run of column x and `dstep` the bytes between the runs of
// neighbouring columns; `s0` the first source pixel read, `step` the bytes
// between the source pixels of one run.
inline void PackRuns16x8(uint8_t* d0, ptrdiff_t dstep, const uint8_t* s0, ptrdiff_t step, int count) {
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i r[8];
    for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + (i + k) * step));
    Transpose8x16(r);
    for (int j = 0; j < 8; ++j)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d0 + j * dstep + static_cast<ptrdiff_t>(i) * 2), r[j]);
  }
  if (i < count)
    for (int j = 0; j < 8; ++j) PackRun<uint16_t>(d0 + j * dstep + static_cast<ptrdiff_t>(i) * 2, s0 + j * 2 + i * step, step, count - i);
}

// One tile at 32 bits per pixel: source columns [x0, x1), rows [y0, y1).
void RotateTile32(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                  int height, int x0, int y0, int x1, int y1, bool clockwise) {
  auto src = [&](int x, int y) { return shadow + static_cast<size_t>(y) * shadowPitch + static_cast<size_t>(x) * 4; };
  // Framebuffer address of the pixel that source (x, y) lands on.
  auto dst = [&](int x, int y) {
    return clockwise ? fb + static_cast<size_t>(x) * fbPitch * 4 + static_cast<size_t>(height - 1 - y) * 4
                     : fb + static_cast<size_t>(width - 1 - x) * fbPitch * 4 + static_cast<size_t>(y) * 4;
  };
  int x = x0;
  for (; x + 4 <= x1; x += 4) {
    int y = y0;
    for (; y + 4 <= y1; y += 4) {
      __m128i r0, r1, r2, r3;
      if (clockwise) {
        // Rows bottom first: each column comes out in framebuffer order.
        r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y + 3)));
        r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y + 2)));
        r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y + 1)));
        r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y)));
        Transpose4(r0, r1, r2, r3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x, y + 3)), r0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x + 1, y + 3)), r1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x + 2, y + 3)), r2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x + 3, y + 3)), r3);
      } else {
        r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y)));
        r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y + 1)));
        r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y + 2)));
        r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src(x, y + 3)));
        Transpose4(r0, r1, r2, r3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x, y)), r0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x + 1, y)), r1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x + 2, y)), r2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst(x + 3, y)), r3);
      }
    }
    for (; y < y1; ++y)
      for (int i = 0; i < 4; ++i) memcpy(dst(x + i, y), src(x + i, y), 4);
  }
  for (; x < x1; ++x)
    for (int y = y0; y < y1; ++y) memcpy(dst(x, y), src(x, y), 4);
}

// A box at 8 or 16 bits per pixel, tile by tile; rows [y1, y2) start at a
// multiple of the word's pixel count.
template <typename Pixel>
void RotatePacked(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                  int height, int x1, int y1, int x2, int y2, bool clockwise) {
  constexpr size_t kBytes = sizeof(Pixel);
  const ptrdiff_t rowStep = static_cast<ptrdiff_t>(shadowPitch);
  for (int ty = y1; ty < y2; ty += kTile) {
    const int ty2 = std::min(ty + kTile, y2);
    for (int tx = x1; tx < x2; tx += kTile) {
      const int tx2 = std::min(tx + kTile, x2);
      int x = tx;
      if constexpr (sizeof(Pixel) == 2) {
        // Whole groups of eight columns through the transposes.
        const ptrdiff_t fbRow = static_cast<ptrdiff_t>(fbPitch * kBytes);
        for (; x + 8 <= tx2; x += 8) {
          if (clockwise) {
            uint8_t* d = fb + static_cast<size_t>(x) * fbPitch * kBytes + static_cast<size_t>(height - ty2) * kBytes;
            const uint8_t* s = shadow + static_cast<size_t>(ty2 - 1) * shadowPitch + static_cast<size_t>(x) * kBytes;
            PackRuns16x8(d, fbRow, s, -rowStep, ty2 - ty);
          } else {
            uint8_t* d = fb + static_cast<size_t>(width - 1 - x) * fbPitch * kBytes + static_cast<size_t>(ty) * kBytes;
            const uint8_t* s = shadow + static_cast<size_t>(ty) * shadowPitch + static_cast<size_t>(x) * kBytes;
            PackRuns16x8(d, -fbRow, s, rowStep, ty2 - ty);
          }
        }
      }
      for (; x < tx2; ++x) {
        if (clockwise) {
          // Framebuffer row x from column height - ty2: source rows upwards.
          uint8_t* d = fb + static_cast<size_t>(x) * fbPitch * kBytes + static_cast<size_t>(height - ty2) * kBytes;
          const uint8_t* s = shadow + static_cast<size_t>(ty2 - 1) * shadowPitch + static_cast<size_t>(x) * kBytes;
          PackRun<Pixel>(d, s, -rowStep, ty2 - ty);
        } else {
          uint8_t* d = fb + static_cast<size_t>(width - 1 - x) * fbPitch * kBytes + static_cast<size_t>(ty) * kBytes;
          const uint8_t* s = shadow + static_cast<size_t>(ty) * shadowPitch + static_cast<size_t>(x) * kBytes;
          PackRun<Pixel>(d, s, rowStep, ty2 - ty);
        }
      }
    }
  }
}

// The box clipped to the shadow, its rows widened to whole words (but not
// past the shadow's last row).
bool ClipBox(const BoxRec& b, int width, int height, int group, int* x1, int* y1, int* x2, int* y2) {
  *x1 = std::clamp<int>(b.x1, 0, width);
  *x2 = std::clamp<int>(b.x2, 0, width);
  *y1 = std::clamp<int>(b.y1, 0, height);
  *y2 = std::clamp<int>(b.y2, 0, height);
  if (*x1 >= *x2 || *y1 >= *y2) return false;
  *y1 &= ~(group - 1);
  *y2 = std::min((*y2 + group - 1) & ~(group - 1), height);
  return true;
}

using RotateBoxFn = void (*)(uint8_t*, size_t, const uint8_t*, size_t, int, int, int, int, int, int, bool);

void RefreshRotated(ScrnInfoPtr screen, int count, BoxPtr boxes, int bytes, RotateBoxFn rotate) {
  ORVRec* rec = ORVPTR(screen);
  uint8_t* fb = ORVHeadFramebuffer(rec);
  if (fb == nullptr || rec->shadowPtr == nullptr || boxes == nullptr || rec->shadowRotate == 0) return;
  const int width = screen->virtualX, height = screen->virtualY;
  const int group = 4 / bytes;
  for (int i = 0; i < count; ++i) {
    int x1, y1, x2, y2;
    if (!ClipBox(boxes[i], width, height, group, &x1, &y1, &x2, &y2)) continue;
    rotate(fb, static_cast<size_t>(screen->displayWidth), rec->shadowPtr, static_cast<size_t>(rec->shadowPitch),
           width, height, x1, y1, x2, y2, rec->shadowRotate == kRotateCW);
  }
}

// Rows of one box between the shadow and the framebuffer, each side at its
// own pitch; the columns stop at the framebuffer's width.
void CopyBoxes(ScrnInfoPtr screen, int count, BoxPtr boxes, bool toFramebuffer) {
  ORVRec* rec = ORVPTR(screen);
  uint8_t* fb = ORVHeadFramebuffer(rec);
  if (fb == nullptr || rec->shadowPtr == nullptr || boxes == nullptr) return;
  const int bytes = screen->bitsPerPixel / 8;
  const size_t fbPitch = static_cast<size_t>(((screen->displayWidth * screen->bitsPerPixel + 31) >> 5) * 4);
  const size_t shadowPitch = static_cast<size_t>(rec->shadowPitch);
  const int width = std::min(screen->displayWidth, rec->shadowPitch / std::max(bytes, 1));
  for (int i = 0; i < count; ++i) {
    const int x1 = std::clamp<int>(boxes[i].x1, 0, width);
    const int x2 = std::clamp<int>(boxes[i].x2, 0, width);
    const int y1 = std::clamp<int>(boxes[i].y1, 0, screen->virtualY);
    const int y2 = std::clamp<int>(boxes[i].y2, 0, screen->virtualY);
    if (x1 >= x2 || y1 >= y2) continue;
    const size_t row = static_cast<size_t>(x2 - x1) * bytes;
    if (row == fbPitch && row == shadowPitch) {
      // Whole rows at the same pitch on both sides: one block.
      uint8_t* f = fb + static_cast<size_t>(y1) * fbPitch;
      uint8_t* s = rec->shadowPtr + static_cast<size_t>(y1) * shadowPitch;
      const size_t block = row * static_cast<size_t>(y2 - y1);
      if (toFramebuffer) {
        memcpy(f, s, block);
      } else {
        memcpy(s, f, block);
      }
      continue;
    }
    for (int y = y1; y < y2; ++y) {
      uint8_t* f = fb + static_cast<size_t>(y) * fbPitch + static_cast<size_t>(x1) * bytes;
      uint8_t* s = rec->shadowPtr + static_cast<size_t>(y) * shadowPitch + static_cast<size_t>(x1) * bytes;
      if (toFramebuffer) {
        memcpy(f, s, row);
      } else {
        memcpy(s, f, row);
      }
    }
  }
}

}  // namespace

void OrvRotateBox8(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                   int height, int x1, int y1, int x2, int y2, bool clockwise) {
  RotatePacked<uint8_t>(fb, fbPitch, shadow, shadowPitch, width, height, x1, y1, x2, y2, clockwise);
}

void OrvRotateBox16(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                    int height, int x1, int y1, int x2, int y2, bool clockwise) {
  RotatePacked<uint16_t>(fb, fbPitch, shadow, shadowPitch, width, height, x1, y1, x2, y2, clockwise);
}

void OrvRotateBox32(uint8_t* fb, size_t fbPitch, const uint8_t* shadow, size_t shadowPitch, int width,
                    int height, int x1, int y1, int x2, int y2, bool clockwise) {
  for (int ty = y1; ty < y2; ty += kTile) {
    const int ty2 = std::min(ty + kTile, y2);
    for (int tx = x1; tx < x2; tx += kTile)
      RotateTile32(fb, fbPitch, shadow, shadowPitch, width, height, tx, ty, std::min(tx + kTile, x2), ty2,
                   clockwise);
  }
}

void ORVRefreshArea(ScrnInfoPtr screen, int count, BoxPtr boxes) { CopyBoxes(screen, count, boxes, true); }

void ORVRefreshShadowArea(ScrnInfoPtr screen, int count, BoxPtr boxes) {
  CopyBoxes(screen, count, boxes, false);
}

void ORVRefreshRotatedArea8(ScrnInfoPtr screen, int count, BoxPtr boxes) {
  RefreshRotated(screen, count, boxes, 1, OrvRotateBox8);
}

void ORVRefreshRotatedArea16(ScrnInfoPtr screen, int count, BoxPtr boxes) {
  RefreshRotated(screen, count, boxes, 2, OrvRotateBox16);
}

void ORVRefreshRotatedArea32(ScrnInfoPtr screen, int count, BoxPtr boxes) {
  RefreshRotated(screen, count, boxes, 4, OrvRotateBox32);
}
