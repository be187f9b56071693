// The TV feature list and its settings from the TV options.
#include <string>

#include <gtest/gtest.h>

#include "xdriver/orv_features.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using fetest::FrontEnd;

TEST(OrvRegions, FourNumbersMakeARegionFewerNone) {
  OrvRegion r;
  ASSERT_TRUE(OrvParseRegion("10,20,630,460", &r));
  EXPECT_EQ(r.x0, 10u);
  EXPECT_EQ(r.y1, 460u);
  EXPECT_TRUE(OrvRegionUsable(r, 640, 480));
  EXPECT_FALSE(OrvParseRegion("10 20 630", &r));
  EXPECT_EQ(r.x0 | r.y0 | r.x1 | r.y1, 0u);
  EXPECT_FALSE(OrvRegionUsable(r, 640, 480));  // a single point
  ASSERT_TRUE(OrvParseRegion("0 0 720 576", &r));
  EXPECT_TRUE(OrvRegionUsable(r, 720, 576));
  EXPECT_FALSE(OrvRegionUsable(r, 720, 484));
  ASSERT_TRUE(OrvParseRegion("x=1 y=2 w=99999999999999 h=4", &r));
  EXPECT_EQ(r.x1, 0xFFFFFFFFu);  // beyond 32 bits: no position
  EXPECT_STREQ(OrvTool_RemoveNonDigits("ab-12x", 10), "12x");
  EXPECT_STREQ(OrvTool_RemoveNonDigits("none", 10), "");
}

TEST_F(FrontEnd, TvOutEvenOffClonesWithTheOptionsSettings) {
  AddBoard();
  box.ProvideKernelModule("orv", 243, &kernel);
  ASSERT_EQ(PreInit(Config(1,
                           "  Option \"TvOut\" \"off\"\n  Option \"TvStandard\" \"PAL\"\n"
                           "  Option \"SelectedRegion\" \"10,20,630,460\"\n"
                           "  Option \"OutputRegion\" \"0 0 720 576\"\n  Option \"Hue\" \"7\"\n",
                           16, "\"640x480\"")),
            1);
  FeatureInfo* tv = OrvFeatureConfig_GetFeatureInfo(Rec(0)->pFeatures, kFeatureTvOut);
  ASSERT_NE(tv, nullptr);
  EXPECT_EQ(tv->tv.standard, kFeatureTvPal);
  EXPECT_EQ(tv->tv.scaling, 5);
  EXPECT_EQ(tv->tv.selectedRegionValid, 1);
  EXPECT_EQ(tv->tv.outputRegionValid, 1);
  EXPECT_EQ(tv->tv.hue, 7);
  EXPECT_EQ(tv->tv.antiFlickerLevel, 25);
  EXPECT_EQ(tv->tv.brightness, 750);
  EXPECT_EQ(tv->tv.contrast, 10000);
  EXPECT_EQ(tv->tv.saturation, 10000);
  EXPECT_EQ(tv->tv.gamma, 100);
  EXPECT_EQ(tv->tv.colorEnable, 1);
  EXPECT_TRUE(box.Logged("Cloning output to TV\n", X_CONFIG));
  EXPECT_EQ(Rec(0)->hwCursor, 0);  // TV output takes the software cursor
}

TEST_F(FrontEnd, AnNtscOutputRegionOfPalSizeIsUnusable) {
  AddBoard();
  box.ProvideKernelModule("orv", 243, &kernel);
  ASSERT_EQ(PreInit(Config(1, "  Option \"TvOut\"\n  Option \"OutputRegion\" \"0 0 720 576\"\n"
                              "  Option \"SelectedRegion\" \"10 20 630\"\n")),
            1);
  FeatureInfo* tv = OrvFeatureConfig_GetFeatureInfo(Rec(0)->pFeatures, kFeatureTvOut);
  ASSERT_NE(tv, nullptr);
  EXPECT_EQ(tv->tv.standard, kFeatureTvNtsc);
  EXPECT_EQ(tv->tv.outputRegionValid, 0);
  EXPECT_EQ(tv->tv.selectedRegionValid, 0);
}

TEST_F(FrontEnd, WithoutBusMasteringTvOutIsRefusedAndTheListEmpty) {
  AddBoard();
  ASSERT_EQ(PreInit(Config(1, "  Option \"TvOut\"\n")), 1);  // no kernel module: local DMA
  EXPECT_TRUE(box.Logged(
      "TV output could not be activated because bus mastering is not available.\n", X_ERROR));
  EXPECT_EQ(Rec(0)->pFeatures, nullptr);
  EXPECT_FALSE(OrvFeatureConfig_IsTvOut(Rec(0)->pFeatures));
}

}  // namespace
