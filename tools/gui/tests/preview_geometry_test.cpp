#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "tools/gui/PreviewDrawArea.h"

namespace preview {
namespace {

constexpr int32_t kW = 200;

struct GeometryCase {
  const char* name;
  Input in;
  std::vector<Rect> outlines;
  std::vector<Line> separators;
  std::vector<Digit> digits;
};

const GeometryCase kCases[] = {
    {"three displays, row, merge",
     {kW, 3, kHorizontal, kMerge, false, {}},
     {{61, 51, 78, 26}},
     {{87, 51, 87, 77}, {113, 51, 113, 77}},
     {{1, 61, 51, 0}, {2, 87, 51, 0}, {3, 113, 51, 0}}},
    {"two displays, row, independent",
     {kW, 2, kHorizontal, kIndependent, false, {}},
     {{71, 51, 26, 26}, {103, 51, 26, 26}},
     {},
     {{1, 71, 51, 0}, {2, 103, 51, 0}}},
    {"two displays, row, Xinerama, rotated",
     {kW, 2, kHorizontal, kXinerama, false, {kRotationCounterClockwise, kRotationClockwise, 0, 0}},
     {{74, 51, 26, 26}, {100, 51, 26, 26}},
     {},
     {{1, 74, 51, 90}, {2, 100, 51, 270}}},
    {"two displays, column, merge",
     {kW, 2, kVertical, kMerge, false, {}},
     {{51, 74, 26, 52}},
     {{51, 100, 77, 100}},
     {{1, 51, 74, 0}, {2, 51, 100, 0}}},
    {"four displays, square, independent, KVD",
     {kW, 4, kSquare, kIndependent, true, {0, 0, 0, kRotationClockwise}},
     {{74, 71, 52, 26}, {74, 103, 52, 26}},
     {{100, 71, 100, 97}, {100, 103, 100, 129}},
     {{1, 74, 71, 0}, {2, 99, 71, 0}, {3, 74, 103, 270}, {4, 99, 103, 270}}},
    {"four displays, square, Xinerama",
     {kW, 4, kSquare, kXinerama, true, {kRotationClockwise, 0, 0, 0}},
     {{74, 74, 52, 26}, {74, 100, 52, 26}},
     {{100, 74, 100, 100}, {100, 100, 100, 126}},
     {{1, 74, 74, 270}, {2, 99, 74, 270}, {3, 74, 99, 270}, {4, 99, 99, 270}}},
    {"four displays, square, merge",
     {kW, 4, kSquare, kMerge, true, {}},
     {{74, 74, 52, 52}},
     {{100, 74, 100, 126}, {74, 100, 126, 100}},
     {{1, 74, 74, 0}, {2, 99, 74, 0}, {3, 74, 99, 0}, {4, 99, 99, 0}}},
    {"four displays, row, independent, KVD pairs",
     {300, 4, kHorizontal, kIndependent, true, {0, kRotationClockwise, 0, kRotationCounterClockwise}},
     {{95, 51, 52, 26}, {153, 51, 52, 26}},
     {{121, 51, 121, 77}, {179, 51, 179, 77}},
     {{1, 95, 51, 0}, {2, 120, 51, 0}, {3, 153, 51, 90}, {4, 178, 51, 90}}},
    {"two displays, row, Xinerama, KVD pair",
     {kW, 2, kHorizontal, kXinerama, true, {}},
     {{74, 51, 52, 26}},
     {{100, 51, 100, 77}},
     {{1, 74, 51, 0}, {2, 99, 51, 0}}},
    {"one display",
     {kW, 1, kHorizontal, kMerge, false, {}},
     {{87, 51, 26, 26}},
     {},
     {{1, 87, 51, 0}}},
    {"square layout without four displays has no picture",
     {kW, 3, kSquare, kMerge, false, {}},
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
    DrawingInfo info = GetCoordLine(kW, n, kHorizontal, kIndependent, false);
    ASSERT_EQ(info.rectCount, n);
    for (int i = 1; i < n; ++i)
      EXPECT_EQ(info.rects[i].x - (info.rects[i - 1].x + 26), 6) << n << " displays";
    int left = info.rects[0].x;
    int right = kW - (info.rects[n - 1].x + 26);
    EXPECT_LE(std::abs(left - right), 1) << n << " displays";
  }
}

}  // namespace
}  // namespace preview
