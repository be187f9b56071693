#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "tools/gui/PreviewDrawArea.h"

namespace preview {
namespace {

constexpr int32_t kW = 200;
// Rows keep 51 pixels above and below in an area of this height.
constexpr int32_t kH = 128;

struct GeometryCase {
  const char* name;
  Input in;
  std::vector<Rect> outlines;
  std::vector<Line> separators;
  std::vector<Digit> digits;
};

const GeometryCase kCases[] = {
    {"three displays, row, merge",
     {kW, kH, 3, kHorizontal, kMerge, false, {}},
     {{61, 51, 78, 26}},
     {{87, 51, 87, 77}, {113, 51, 113, 77}},
     {{1, 61, 51, 0}, {2, 87, 51, 0}, {3, 113, 51, 0}}},
    {"two displays, row, independent",
     {kW, kH, 2, kHorizontal, kIndependent, false, {}},
     {{71, 51, 26, 26}, {103, 51, 26, 26}},
     {},
     {{1, 71, 51, 0}, {2, 103, 51, 0}}},
    {"two displays, row, Xinerama, rotated",
     {kW, kH, 2, kHorizontal, kXinerama, false, {kRotationCounterClockwise, kRotationClockwise, 0, 0}},
     {{74, 51, 26, 26}, {100, 51, 26, 26}},
     {},
     {{1, 74, 51, 90}, {2, 100, 51, 270}}},
    {"two displays, column, merge",
     {kW, kH, 2, kVertical, kMerge, false, {}},
     {{87, 38, 26, 52}},
     {{87, 64, 113, 64}},
     {{1, 87, 38, 0}, {2, 87, 64, 0}}},
    {"four displays, square, independent, KVD",
     {kW, kH, 4, kSquare, kIndependent, true, {0, 0, 0, kRotationClockwise}},
     {{74, 35, 52, 26}, {74, 67, 52, 26}},
     {{100, 35, 100, 61}, {100, 67, 100, 93}},
     {{1, 74, 35, 0}, {2, 99, 35, 0}, {3, 74, 67, 270}, {4, 99, 67, 270}}},
    {"four displays, square, Xinerama",
     {kW, kH, 4, kSquare, kXinerama, true, {kRotationClockwise, 0, 0, 0}},
     {{74, 38, 52, 26}, {74, 64, 52, 26}},
     {{100, 38, 100, 64}, {100, 64, 100, 90}},
     {{1, 74, 38, 270}, {2, 99, 38, 270}, {3, 74, 63, 270}, {4, 99, 63, 270}}},
    {"four displays, square, merge",
     {kW, kH, 4, kSquare, kMerge, true, {}},
     {{74, 38, 52, 52}},
     {{100, 38, 100, 90}, {74, 64, 126, 64}},
     {{1, 74, 38, 0}, {2, 99, 38, 0}, {3, 74, 63, 0}, {4, 99, 63, 0}}},
    {"four displays, row, independent, KVD pairs",
     {300, kH, 4, kHorizontal, kIndependent, true, {0, kRotationClockwise, 0, kRotationCounterClockwise}},
     {{95, 51, 52, 26}, {153, 51, 52, 26}},
     {{121, 51, 121, 77}, {179, 51, 179, 77}},
     {{1, 95, 51, 0}, {2, 120, 51, 0}, {3, 153, 51, 90}, {4, 178, 51, 90}}},
    {"two displays, row, Xinerama, KVD pair",
     {kW, kH, 2, kHorizontal, kXinerama, true, {}},
     {{74, 51, 52, 26}},
     {{100, 51, 100, 77}},
     {{1, 74, 51, 0}, {2, 99, 51, 0}}},
    {"one display",
     {kW, kH, 1, kHorizontal, kMerge, false, {}},
     {{87, 51, 26, 26}},
     {},
     {{1, 87, 51, 0}}},
    {"square layout without four displays has no picture",
     {kW, kH, 3, kSquare, kMerge, false, {}},
     {},
     {},
     {}},
};

void PrintTo(const GeometryCase& c, std::ostream* os) { *os << c.name; }

class PreviewGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(PreviewGeometry, OutlinesSeparatorsAndDigits) {
  const GeometryCase& c = GetParam();
  Picture pic = ComputePreview(c.in);
  std::vector<Rect> outlines(pic.info.rects.begin(), pic.info.rects.begin() + pic.info.rectCount);
  EXPECT_EQ(outlines, c.outlines);
  EXPECT_EQ(pic.separators, c.separators);
  EXPECT_EQ(pic.digits, c.digits);
}

INSTANTIATE_TEST_SUITE_P(Table, PreviewGeometry, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// Independent displays keep the same 6-pixel spacing whatever their number,
// and the whole row stays centred.
TEST(PreviewGeometryLine, IndependentRowIsCentredWithEqualGaps) {
  for (int n = 1; n <= 4; ++n) {
    DrawingInfo info = GetCoordLine(kW, kH, n, kHorizontal, kIndependent, false);
    ASSERT_EQ(info.rectCount, n);
    for (int i = 1; i < n; ++i)
      EXPECT_EQ(info.rects[i].x - (info.rects[i - 1].x + 26), 6) << n << " displays";
    int left = info.rects[0].x;
    int right = kW - (info.rects[n - 1].x + 26);
    EXPECT_LE(std::abs(left - right), 1) << n << " displays";
  }
}

// Every picture the controller can ask for stays inside the drawing area and
// is centred in it, whatever the area's proportions: each axis is placed
// with its own size.
TEST(PreviewGeometryLine, EveryPictureIsInsideAndCentred) {
  const struct {
    int32_t width, height;
  } areas[] = {{320, 200}, {320, 140}, {140, 320}, {200, 128}};
  for (const auto& area : areas) {
    for (int displays = 1; displays <= kMaxDisplays; ++displays) {
      for (uint32_t layout : {kHorizontal, kVertical, kSquare}) {
        for (uint32_t mode : {kMerge, kIndependent, kXinerama}) {
          for (bool kvd : {false, true}) {
            Input in{area.width, area.height, displays, layout, mode, kvd, {}};
            Picture pic = ComputePreview(in);
            if (pic.info.rectCount == 0) continue;
            int32_t left = area.width, top = area.height, right = 0, bottom = 0;
            for (int i = 0; i < pic.info.rectCount; ++i) {
              const Rect& r = pic.info.rects[std::size_t(i)];
              left = std::min(left, r.x);
              top = std::min(top, r.y);
              right = std::max(right, r.x + r.width);
              bottom = std::max(bottom, r.y + r.height);
            }
            SCOPED_TRACE(::testing::Message() << area.width << "x" << area.height << ", "
                                              << displays << " displays, layout " << layout
                                              << ", mode " << mode << (kvd ? ", KVD" : ""));
            EXPECT_GE(left, 0);
            EXPECT_GE(top, 0);
            // The outline is drawn on its right and bottom edge too.
            EXPECT_LT(right, area.width);
            EXPECT_LT(bottom, area.height);
            EXPECT_LE(std::abs(left - (area.width - right)), 1);
            EXPECT_LE(std::abs(top - (area.height - bottom)), 1);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace preview
