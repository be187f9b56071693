// The merged desktop's cursor at the far edge of a head that has panned:
// each head's region grows to cover every frame the head has shown, and a
// cursor on the head's last column (or last row) of its new frame is still
// inside that head's region, shown by that head's cursor engine at the
// head's own last column.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "xdriver/orv_cursor.h"
#include "xdriver/tests/bare_screen_fixture.h"

namespace {

class MergedCursorEdges : public baretest::BareBoardScreens {
 protected:
  ScrnInfoPtr Screen() { return xf86Screens[0]; }

  // Two heads of 1280 x 1024 on one merged screen of the virtual size,
  // the second placed as `position` says, both frames at the desktop's
  // origin side; the cursor record is made with these frames.
  ORVRec* Merged(int position, int virtualX, int virtualY) {
    ORVRec* rec = AddBoardScreen();
    ScrnInfoPtr screen = Screen();
    rec->merged = 1;
    rec->monitor2Position = position;
    screen->virtualX = virtualX;
    screen->virtualY = virtualY;
    second_ = server_.NewScrnInfo();
    second_->frameX0 = position == kPositionRightOf ? 1280 : 0;
    second_->frameY0 = position == kPositionBelow ? 1024 : 0;
    second_->frameX1 = second_->frameX0 + 1279;
    second_->frameY1 = second_->frameY0 + 1023;
    rec->aux[0] = second_;
    const int32_t x0 = position == kPositionLeftOf ? 1280 : 0;
    const int32_t y0 = position == kPositionAbove ? 1024 : 0;
    const int32_t frame[4] = {x0, y0, x0 + 1279, y0 + 1023};
    std::memcpy(rec->head1Frame, frame, sizeof(frame));
    EXPECT_TRUE(ORVHWCursorInit(screen->pScreen));
    return rec;
  }
  // Both heads' frames moved by (dx, dy), as panning moves them.
  void Pan(ORVRec* rec, int dx, int dy) {
    rec->head1Frame[0] += dx, rec->head1Frame[2] += dx;
    rec->head1Frame[1] += dy, rec->head1Frame[3] += dy;
    second_->frameX0 += dx, second_->frameX1 += dx;
    second_->frameY0 += dy, second_->frameY1 += dy;
  }

  ScrnInfoPtr second_ = nullptr;
};

struct EdgeRow {
  const char* name;
  int position, virtualX, virtualY, dx, dy;
  int otherX, otherY;  // a point on the other head first
  int x, y;            // the head's last column or row
  int frame;           // the head that must show the cursor
  uint32_t engine;
  uint32_t X, Y;  // the engine's position, 64 added
};
void PrintTo(const EdgeRow& row, std::ostream* os) { *os << row.name; }

class MergedCursorEdge : public MergedCursorEdges, public testing::WithParamInterface<EdgeRow> {};

TEST_P(MergedCursorEdge, AHeadsLastColumnAfterPanningIsInsideItsRegion) {
  const EdgeRow& row = GetParam();
  ORVRec* rec = Merged(row.position, row.virtualX, row.virtualY);
  Pan(rec, row.dx, row.dy);
  ORVMergeSetCursorPosition(Screen(), row.otherX, row.otherY);
  ASSERT_EQ(rec->cursorFrame, 3 - row.frame);
  ORVMergeSetCursorPosition(Screen(), row.x, row.y);
  EXPECT_EQ(rec->cursorFrame, row.frame);
  EXPECT_TRUE(cursor_->Shown(row.engine));
  EXPECT_FALSE(cursor_->Shown(1 - row.engine));
  EXPECT_EQ(cursor_->X(row.engine), row.X);
  EXPECT_EQ(cursor_->Y(row.engine), row.Y);
}

INSTANTIATE_TEST_SUITE_P(
    Panned, MergedCursorEdge,
    testing::Values(
        // Head 2 right of head 1, both panned right to the desktop's end:
        // head 2 now ends on column 2999, its own column 1279.
        EdgeRow{"RightOfHead2LastColumn", kPositionRightOf, 3000, 1024, 440, 0, 500, 10, 2999, 10, 2, 1,
                1279 + 64, 10 + 64},
        // Head 1 right of head 2, panned the same way: head 1 ends on 2999.
        EdgeRow{"LeftOfHead1LastColumn", kPositionLeftOf, 3000, 1024, 440, 0, 500, 10, 2999, 10, 1, 0,
                1279 + 64, 10 + 64},
        // Head 2 below head 1, both panned down: head 2 ends on row 2499.
        EdgeRow{"BelowHead2LastRow", kPositionBelow, 1280, 2500, 0, 452, 10, 500, 10, 2499, 2, 1, 10 + 64,
                1023 + 64},
        // Head 1 below head 2: head 1 ends on row 2499.
        EdgeRow{"AboveHead1LastRow", kPositionAbove, 1280, 2500, 0, 452, 10, 500, 10, 2499, 1, 0, 10 + 64,
                1023 + 64}),
    [](const testing::TestParamInfo<EdgeRow>& info) { return std::string(info.param.name); });

}  // namespace
