// The board's map of drawables: rectangle subtraction and the visible
// rectangles computed from every drawable.
#include "kernel/range_map.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/tests/kernel_fixture.h"

namespace {

using Rects = std::vector<std::vector<int32_t>>;

Rects Of(const ClipRectList& list) {
  Rects rects;
  for (uint32_t i = 0; i < list.count; ++i) {
    const ClipRect& r = list.rects[i];
    rects.push_back({r.left, r.top, r.right, r.bottom});
  }
  return rects;
}

ClipRectList List(const Rects& rects) {
  ClipRectList list = {};
  for (const auto& r : rects) list.rects[list.count++] = ClipRect{r[0], r[1], r[2], r[3]};
  return list;
}

// The map lives in glue memory: the glue must be installed.
class RangeMapTest : public ktest::KernelTest {
 protected:
  void Set(RangeMap& map, uint64_t key, const std::vector<int32_t>& rect, const Rects& clips) {
    RangeMapEntry* entry = map.FindOrInsert(key);
    ASSERT_NE(entry, nullptr);
    entry->rect = ClipRect{rect[0], rect[1], rect[2], rect[3]};
    *entry->clip = List(clips);
  }
};

TEST_F(RangeMapTest, SubtractingAnInnerRectangleLeavesTopLeftBottomRight) {
  ClipRectList list = List({{0, 0, 100, 100}});
  EXPECT_TRUE(RangeMap::SubtractRect(&list, ClipRect{25, 25, 75, 75}));
  EXPECT_EQ(Of(list), (Rects{{0, 0, 100, 25}, {0, 25, 25, 100}, {25, 75, 100, 100}, {75, 25, 100, 75}}));
}

TEST_F(RangeMapTest, SubtractionCases) {
  struct Case {
    Rects list;
    ClipRect cut;
    Rects expected;
  };
  const Case cases[] = {
      // Apart: unchanged.
      {{{0, 0, 10, 10}}, {20, 20, 30, 30}, {{0, 0, 10, 10}}},
      // Touching edges do not overlap.
      {{{0, 0, 10, 10}}, {10, 0, 20, 10}, {{0, 0, 10, 10}}},
      // Covering the whole rectangle removes it.
      {{{5, 5, 10, 10}}, {0, 0, 20, 20}, {}},
      // Cutting the right half.
      {{{0, 0, 10, 10}}, {5, -5, 20, 20}, {{0, 0, 5, 10}}},
      // Negative coordinates compare as signed numbers.
      {{{-20, -20, 0, 0}}, {-10, -30, 10, 10}, {{-20, -20, -10, 0}}},
  };
  for (const Case& c : cases) {
    ClipRectList list = List(c.list);
    EXPECT_TRUE(RangeMap::SubtractRect(&list, c.cut));
    EXPECT_EQ(Of(list), c.expected);
  }
}

TEST_F(RangeMapTest, ASubtractionGivingThirtyThreePiecesLeavesTheListUnchanged) {
  // Eight rectangles cut into four pieces each, and one the cut misses.
  Rects rects(8, std::vector<int32_t>{0, 0, 100, 100});
  rects.push_back({200, 200, 300, 300});
  ClipRectList list = List(rects);
  const ClipRectList before = list;
  EXPECT_FALSE(RangeMap::SubtractRect(&list, ClipRect{25, 25, 75, 75}));
  EXPECT_EQ(Of(list), Of(before));
  // Without the ninth the 32 pieces fit.
  rects.pop_back();
  list = List(rects);
  EXPECT_TRUE(RangeMap::SubtractRect(&list, ClipRect{25, 25, 75, 75}));
  EXPECT_EQ(list.count, 32u);
  EXPECT_FALSE(RangeMap::SubtractRect(nullptr, ClipRect{}));
}

TEST_F(RangeMapTest, VisibleRectanglesAreClippedToTheScreenAndCutByOtherDrawables) {
  RangeMap map;
  ASSERT_TRUE(map.ok());
  // Drawable 1 is partly off screen; its clip list does not touch drawable 2.
  Set(map, 1, {-10, -20, 700, 500}, {{0, 0, 50, 50}, {0, 60, 50, 100}, {0, 110, 50, 150}, {0, 160, 50, 200}});
  Set(map, 2, {100, 100, 200, 200}, {{100, 100, 200, 200}});
  map.UpdateVisibleRects(1, 640, 480);
  EXPECT_EQ(Of(*map.GetVisibleRects(1)),
            (Rects{{0, 0, 640, 100}, {0, 100, 100, 480}, {100, 200, 640, 480}, {200, 100, 640, 200}}));
  // Drawable 1 overlaps drawable 2's clip rectangle: not subtracted from it.
  EXPECT_EQ(Of(*map.GetVisibleRects(2)), (Rects{{100, 100, 200, 200}}));
}

TEST_F(RangeMapTest, DrawablesWhoseClipListsAlreadyMeetEachOtherAreNotSubtracted) {
  RangeMap map;
  Set(map, 1, {0, 0, 100, 100}, {{0, 0, 100, 100}});
  Set(map, 2, {50, 0, 150, 100}, {{50, 0, 150, 100}});
  map.UpdateVisibleRects(1, 640, 480);
  EXPECT_EQ(Of(*map.GetVisibleRects(1)), (Rects{{0, 0, 100, 100}}));
  EXPECT_EQ(Of(*map.GetVisibleRects(2)), (Rects{{50, 0, 150, 100}}));
}

TEST_F(RangeMapTest, AnEmptyClipListGivesNoVisibleRectangles) {
  RangeMap map;
  Set(map, 1, {0, 0, 100, 100}, {});
  Set(map, 2, {0, 0, 50, 50}, {{0, 0, 50, 50}});
  map.UpdateVisibleRects(2, 640, 480);
  EXPECT_EQ(map.GetVisibleRects(1)->count, 0u);
  EXPECT_EQ(Of(*map.GetVisibleRects(2)), (Rects{{0, 0, 50, 50}}));
}

TEST_F(RangeMapTest, MoreRectanglesThanTheClipListFallBackToTheClipList) {
  RangeMap map;
  Set(map, 1, {0, 0, 100, 100}, {{0, 0, 100, 100}});
  Set(map, 2, {40, 40, 60, 60}, {{40, 40, 60, 60}});
  map.UpdateVisibleRects(1, 640, 480);
  // Four pieces against one clip rectangle: the clip list is kept.
  EXPECT_EQ(Of(*map.GetVisibleRects(1)), (Rects{{0, 0, 100, 100}}));
}

TEST_F(RangeMapTest, UseCountsKeepAnEntryUntilTheLastUserGoes) {
  RangeMap map;
  EXPECT_TRUE(map.AddUse(7));
  EXPECT_TRUE(map.AddUse(7));
  map.DropUse(7);
  EXPECT_NE(map.Find(7), nullptr);
  map.DropUse(7);
  EXPECT_EQ(map.Find(7), nullptr);
  // Key 0 stays.
  EXPECT_TRUE(map.AddUse(0));
  map.DropUse(0);
  EXPECT_NE(map.Find(0), nullptr);
}

TEST_F(RangeMapTest, ABoardKeepsAtMostItsLimitOfDrawables) {
  RangeMap map;
  for (uint64_t key = 0; key < kRangeMapMaxEntries; ++key) ASSERT_NE(map.FindOrInsert(key), nullptr);
  EXPECT_EQ(map.FindOrInsert(1000), nullptr);
  EXPECT_EQ(map.GetClipRects(1000), nullptr);
  EXPECT_NE(map.FindOrInsert(5), nullptr);  // present keys are found
  map.Remove(5);
  EXPECT_NE(map.FindOrInsert(1000), nullptr);
}

TEST_F(RangeMapTest, FailedAllocationsLeaveNoEntry) {
  RangeMap map;
  glue.FailAllocation(2, kglue::AllocKind::kMemory);
  EXPECT_EQ(map.FindOrInsert(3), nullptr);
  EXPECT_EQ(map.Count(), 0u);
  EXPECT_NE(map.FindOrInsert(3), nullptr);
}

}  // namespace
