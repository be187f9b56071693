// Clear values as tables: depth-stencil values and masks over every depth
// format, colour values of class-2 and class-4 formats, and the rectangles
// a clear fills.
#include <gtest/gtest.h>

#include <math.h>

#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/targets/clear_values.h"

namespace {

TEST(ClearValues, DepthStencilValuesAndMasks) {
  struct Row {
    uint32_t code;
    float z;
    uint32_t stencil;
    bool depth, sten;
    uint32_t value, mask;
  };
  const Row rows[] = {
      {17, 1.0f, 0, true, false, 0xFFFFFFFF, 0xFFFFFFFF},
      {17, 0.5f, 0, true, true, 0x80008000, 0xFFFFFFFF},
      {17, 0.5f, 0, false, true, 0x80008000, 0},
      {18, 1.0f, 1, true, true, 0xFFFFFFFF, 0xFFFFFFFF},
      {18, 0.0f, 1, false, true, 0x00010001, 0x00010001},
      {18, 0.5f, 0, true, false, 0x80008000, 0xFFFEFFFE},
      {19, 1.0f, 0, true, false, 0x00FFFFFF, 0x00FFFFFF},
      {19, 0.5f, 0xAB, true, true, 0xAB800000, 0xFFFFFFFF},
      {19, 0.0f, 0xAB, false, true, 0xAB000000, 0xFF000000},
      {20, 1.0f, 5, true, true, 0x00FFFFFF, 0xFFFFFFFF},
      {20, 1.0f, 5, false, true, 0x00FFFFFF, 0},
      {21, 0.0f, 100, false, false, 100u << 25, 0x01000000},
      {21, 0.0f, 200, false, true, 100u << 25, 0xFF000000},  // trunc(100.5) mod 127
      {21, 0.0f, 255, false, true, 1u << 25, 0xFF000000},    // 128 mod 127
      {21, 1.0f, 0, true, false, 0x00FFFFFF, 0x01FFFFFF},
      {22, 0.0f, 1, false, true, 0x80000000, 0x80000000},
      {23, 0.0f, 3, false, true, 0xC0000000, 0xC0000000},
      {24, 0.0f, 7, false, true, 0xE0000000, 0xE0000000},
      {25, 0.0f, 0xF, false, false, 0xF0000000, 0x0F000000},
      {25, 0.0f, 0xF, false, true, 0xF0000000, 0xFF000000},
      {26, 0.0f, 0x1F, false, true, 0xF8000000, 0xF8000000},
      {27, 0.0f, 0x3F, false, true, 0xFC000000, 0xFC000000},
      {28, 1.0f, 0x7F, true, true, 0xFEFFFFFF, 0xFEFFFFFF},
  };
  for (const Row& r : rows) {
    DepthClear c = {};
    ASSERT_TRUE(GetDepthClearValue(r.code, r.z, r.stencil, r.depth, r.sten, &c)) << r.code;
    EXPECT_EQ(c.value, r.value) << r.code << " z " << r.z << " s " << r.stencil;
    EXPECT_EQ(c.mask, r.mask) << r.code << " z " << r.z << " s " << r.stencil;
  }
  DepthClear c = {7, 7};
  for (uint32_t code : {0u, 16u, 29u, 0xFFFFFFFFu}) EXPECT_FALSE(GetDepthClearValue(code, 1.0f, 0, true, true, &c));
  EXPECT_EQ(c.value, 7u);
}

TEST(ClearValues, DepthOutsideZeroToOneIsClamped) {
  struct Row {
    float z;
    uint32_t d16, d24;
  };
  const Row rows[] = {{-1.0f, 0, 0}, {2.0f, 0xFFFF, 0xFFFFFF}, {NAN, 0, 0}, {INFINITY, 0xFFFF, 0xFFFFFF},
                      {-INFINITY, 0, 0}};
  for (const Row& r : rows) {
    DepthClear c = {};
    ASSERT_TRUE(GetDepthClearValue(17, r.z, 0, true, false, &c));
    EXPECT_EQ(c.value, r.d16 | r.d16 << 16) << r.z;
    ASSERT_TRUE(GetDepthClearValue(20, r.z, 0, true, false, &c));
    EXPECT_EQ(c.value, r.d24) << r.z;
    ASSERT_TRUE(GetDepthClearValue(18, r.z, 0, true, false, &c));
    EXPECT_EQ(c.value & 0xFFFF, (r.d16 >> 1) * 2) << r.z;
  }
}

void MakePacked(FormatDescriptor& f, const uint32_t masks[4], const uint32_t shifts[4]) {
  f.formatClass = 2;
  for (int i = 0; i < 4; ++i) {
    f.masks[i] = masks[i];
    f.shifts[i] = shifts[i];
  }
}

TEST(ClearValues, Class2ColoursScaleEachChannel) {
  const uint32_t m565[4] = {0xF800, 0x07E0, 0x001F, 0};
  const uint32_t s565[4] = {11, 5, 0, 0};
  FormatDescriptor f565(5, "packed");
  MakePacked(f565, m565, s565);
  uint32_t v = 0;
  ASSERT_TRUE(GetColourClearValue(&f565, 0xFFFFFFFF, 0, &v));
  EXPECT_EQ(v, 0xFFFFu);
  ASSERT_TRUE(GetColourClearValue(&f565, 0x00FF0080, 0, &v));
  EXPECT_EQ(v, 0xF800u | (0x80u * 31 / 255));
  // Mode 2 repeats the low half; modes 1 and 3 clear nothing.
  ASSERT_TRUE(GetColourClearValue(&f565, 0x00FF0080, 2, &v));
  EXPECT_EQ(v, (0xF800u | 0xF) * 0x10001u);
  v = 5;
  EXPECT_FALSE(GetColourClearValue(&f565, 0x00FF0080, 1, &v));
  EXPECT_FALSE(GetColourClearValue(&f565, 0x00FF0080, 3, &v));
  EXPECT_EQ(v, 5u);
  // A wide 32-bit field scales in 64 bits.
  const uint32_t mWide[4] = {0xFFFFFFFF, 0, 0, 0};
  const uint32_t sWide[4] = {0, 0, 0, 0};
  FormatDescriptor wide(5, "packed");
  MakePacked(wide, mWide, sWide);
  ASSERT_TRUE(GetColourClearValue(&wide, 0x00FF0000, 0, &v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  ASSERT_TRUE(GetColourClearValue(&wide, 0x00800000, 0, &v));
  EXPECT_EQ(v, static_cast<uint32_t>(0x80ull * 0xFFFFFFFFull / 255));
}

TEST(ClearValues, Class4Codes) {
  struct Row {
    uint32_t code, colour;
    bool cleared;
    uint32_t value;
  };
  const uint32_t t = static_cast<uint32_t>(0x80 / 255.0 * 1023.0);
  const Row rows[] = {
      {29, 0x123456AB, true, 0xABABABAB},
      {32, 0x11223344, true, 0x11441144},  // blue, and the red byte above it
      {30, 0x00000080, true, t << 22 | t * 64},
      {30, 0x000000FF, true, 1023u << 22 | 1023u * 64},
      {31, 0x11223344, false, 0},
  };
  for (const Row& r : rows) {
    FormatDescriptor f(r.code, "special");
    f.formatClass = 4;
    uint32_t v = 0;
    EXPECT_EQ(GetColourClearValue(&f, r.colour, 0, &v), r.cleared) << r.code;
    if (r.cleared) {
      EXPECT_EQ(v, r.value) << r.code;
    }
  }
  FormatDescriptor other(29, "other");
  other.formatClass = 3;
  uint32_t v = 0;
  EXPECT_FALSE(GetColourClearValue(&other, 0xFFFFFFFF, 0, &v));
  EXPECT_FALSE(GetColourClearValue(nullptr, 0xFFFFFFFF, 0, &v));
}

TEST(ClearValues, RectanglesAreOrderedScaledClippedAndClamped) {
  const ClearRect viewport = {10, 10, 200, 100};
  struct Row {
    ClearRect in;
    float sx, sy;
    uint32_t w, h;
    ClearRect out;
    bool empty;
  };
  const Row rows[] = {
      {{20, 20, 50, 50}, 1, 1, 640, 480, {20, 20, 50, 50}, false},
      {{50, 50, 20, 20}, 1, 1, 640, 480, {20, 20, 50, 50}, false},           // corners ordered
      {{0, 0, 1000, 1000}, 1, 1, 640, 480, {10, 10, 200, 100}, false},       // clipped to the viewport
      {{300, 300, 400, 400}, 1, 1, 640, 480, {}, true},                      // wholly outside
      {{20, 20, 50, 50}, 2, 0.5f, 640, 480, {40, 10, 100, 25}, false},       // scaled
      {{0, 0, 1000, 1000}, 1, 1, 100, 50, {10, 10, 100, 50}, false},         // clamped to the surface
      {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 4, 4, 640, 480, {10, 10, 200, 100}, false},
  };
  for (const Row& r : rows) {
    const ClearRect o = FitClearRect(r.in, r.sx, r.sy, viewport, r.w, r.h);
    EXPECT_EQ(o.Empty(), r.empty) << &r - rows;
    if (r.empty) continue;
    EXPECT_EQ(o.left, r.out.left) << &r - rows;
    EXPECT_EQ(o.top, r.out.top) << &r - rows;
    EXPECT_EQ(o.right, r.out.right) << &r - rows;
    EXPECT_EQ(o.bottom, r.out.bottom) << &r - rows;
  }
  // Target coordinates past the surface: the viewport is larger, the
  // surface still bounds the fill.
  const ClearRect huge = {0, 0, 4096, 4096};
  const ClearRect o = FitClearRect({0, 0, 4096, 4096}, 1, 1, huge, 256, 128);
  EXPECT_EQ(o.right, 256);
  EXPECT_EQ(o.bottom, 128);
}

}  // namespace
