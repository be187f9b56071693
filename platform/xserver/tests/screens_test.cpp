// The screen table and the private slots of screen records.
#include <gtest/gtest.h>

#include "platform/xserver/server.h"

namespace {

TEST(XserverScreens, TableFollowsAllocationAndDeletionRenumbers) {
  xstub::XServer server;
  ScrnInfoPtr a = xf86AllocateScreen(nullptr, 0);
  ScrnInfoPtr b = xf86AllocateScreen(nullptr, 0);
  ScrnInfoPtr c = xf86AllocateScreen(nullptr, 0);
  ASSERT_EQ(xf86NumScreens, 3);
  EXPECT_EQ(xf86Screens[1], b);
  EXPECT_EQ(b->scrnIndex, 1);

  xf86DeleteScreen(1, 0);
  ASSERT_EQ(xf86NumScreens, 2);
  EXPECT_EQ(xf86Screens[0], a);
  EXPECT_EQ(xf86Screens[1], c);
  EXPECT_EQ(c->scrnIndex, 1);
  xf86DeleteScreen(7, 0);  // out of range: nothing
  EXPECT_EQ(xf86NumScreens, 2);
}

TEST(XserverScreens, PrivateSlotsAreDistinctPerRecordAndIndex) {
  xstub::XServer server;
  const int info_index = xf86AllocateScrnInfoPrivateIndex();
  const int screen_index = AllocateScreenPrivateIndex();
  ASSERT_GE(info_index, 0);
  ASSERT_GE(screen_index, 0);
  EXPECT_NE(xf86AllocateScrnInfoPrivateIndex(), info_index);

  ScrnInfoPtr first = server.NewScrnInfo();
  ScrnInfoPtr second = server.NewScrnInfo();
  ScreenPtr screen = server.NewScreen(second);
  EXPECT_EQ(second->pScreen, screen);
  EXPECT_EQ(screen->myNum, 1);

  int marker = 0;
  first->privates[info_index].ptr = &marker;
  EXPECT_EQ(second->privates[info_index].ptr, nullptr);
  screen->devPrivates[screen_index].ptr = &marker;
  EXPECT_EQ(screen->devPrivates[screen_index].ptr, &marker);
}

TEST(XserverScreens, IndexesRunOutInsteadOfOverflowingTheSlots) {
  xstub::XServer server;
  int last = 0;
  for (int i = 0; i < xstub::kPrivateSlots + 1; ++i) last = AllocateScreenPrivateIndex();
  EXPECT_EQ(last, -1);
}

}  // namespace
