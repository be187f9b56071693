#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/UiController.h"
#include "tools/gui/tests/fake_main_view.h"
#include "tools/gui/tests/gui_fixtures.h"

namespace {

using R = PanelCombo;
constexpr int H = 1, V = 2, S = 3;
constexpr int M = 1, I = 2, X = 3;

// A two-to-four output board outside the quad-display series. Output 0
// lists 1280x1024 before 1024x768; output 1 has no 1280x1024.
void MakeDualBoard(CardInfo* card) {
  MakeCard(card, "PCI:1:0:0", "Kestrion Dual", false, {1, 2, 3, 4},
           {{1, H, M, 1}, {2, H, M, 0}, {2, H, I, 1}, {2, V, I, 0}, {3, H, M, 0}, {4, H, M, 0}, {4, V, M, 0}},
           {{0, "1280x1024", {60, 75}},
            {0, "1024x768", {60, 75}},
            {0, "1600x1200", {60}},
            {1, "1024x768", {60, 75}},
            {1, "1280x960", {60}},
            {1, "1152x864", {75}}},
           {{kAllOutputs, "800x600", {60, 72, 75}}, {kAllOutputs, "640x480", {60}}});
}

// A board of the quad-display series.
void MakeQuadBoard(CardInfo* card) {
  MakeCard(card, "PCI:2:0:0", "Kestrion Quad", true, {2, 4},
           {{2, H, M, 0}, {2, H, I, 0}, {4, H, M, 0}, {4, H, I, 1}, {4, S, I, 1}},
           {{0, "1280x1024", {60}}, {2, "1024x768", {60}}},
           {{kAllOutputs, "800x600", {60}}});
}

// Only one output count has layout entries.
void MakeSparseBoard(CardInfo* card) {
  MakeCard(card, "PCI:3:0:0", "Kestrion Lite", false, {1, 2}, {{1, H, M, 0}}, {{0, "1024x768", {60}}}, {});
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProbeInfo();
    RemoveAllModeLineCollector();
    engine_.summary.outputs = 1;
    engine_.summary.layout = H;
    engine_.summary.mode = M;
    SetConfigEngine(&engine_);
    AdvancedWindowCtrlInit();
    SetUsingEdidCtrl(0);
    SetMainView(&view_);
    SetBoardQueries(&queries_);
  }
  void TearDown() override {
    RemoveAllModeLineCollector();
    InitProbeInfo();
    SetMainView(nullptr);
    SetBoardQueries(nullptr);
    SetConfigEngine(nullptr);
  }

  // Starts the window on `make`'s board with `outputs` and `mode` as the
  // X configuration says.
  void Start(void (*make)(CardInfo*), int outputs, int mode = M, int layout = H) {
    make(&GetCardInfo()[0]);
    XConfigSummary& cfg = *GetXConfigStruct();
    cfg = XConfigSummary{};
    cfg.outputs = outputs;
    cfg.mode = mode;
    cfg.layout = layout;
    UiControllerInit();
  }

  FakeEngine engine_;
  FakeMainView view_;
  FakeQueries queries_;
};

TEST_F(ControllerTest, PanelTitlesPerBoardOutputsAndMode) {
  struct Case {
    const char* name;
    void (*make)(CardInfo*);
    int outputs, mode;
    const char* title0;
    const char* title1;
    bool enabled1, frame1;
  };
  const Case cases[] = {
      {"one output", MakeDualBoard, 1, M, "1", "", false, false},
      {"two merged", MakeDualBoard, 2, M, "1 and 2", "", false, false},
      {"two independent", MakeDualBoard, 2, I, "1", "2", true, true},
      {"two xinerama", MakeDualBoard, 2, X, "1", "2", true, true},
      {"three merged", MakeDualBoard, 3, M, "1,2 and 3", "", false, false},
      {"four merged", MakeDualBoard, 4, M, "1,2,3 and 4", "", false, false},
      {"quad four independent", MakeQuadBoard, 4, I, "1 and 2", "3 and 4", true, true},
      {"quad four merged", MakeQuadBoard, 4, M, "1,2,3 and 4", "", false, false},
      {"quad two independent", MakeQuadBoard, 2, I, "1 and 2", "", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InitProbeInfo();
    view_ = FakeMainView();
    Start(c.make, c.outputs, c.mode);
    EXPECT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(c.mode));
    EXPECT_EQ(view_.titles[0], c.title0);
    EXPECT_EQ(view_.titles[1], c.title1);
    EXPECT_TRUE(IsDisplayPanelEnableCtrl(0));
    EXPECT_EQ(IsDisplayPanelEnableCtrl(1), c.enabled1);
    EXPECT_EQ(view_.frameSensitive[1], c.frame1);
  }
}

TEST_F(ControllerTest, LayoutAndModePermissionsFollowTheBoardList) {
  Start(MakeDualBoard, 2, M);
  EXPECT_TRUE(view_.layoutSensitive[H]);
  EXPECT_TRUE(view_.layoutSensitive[V]);
  EXPECT_FALSE(view_.layoutSensitive[S]);
  EXPECT_TRUE(view_.modeSensitive[M]);
  EXPECT_TRUE(view_.modeSensitive[I]);
  EXPECT_TRUE(view_.modeSensitive[X]) << "Xinerama comes with independent";

  // Vertical has no merge entry: the first allowed mode takes over.
  view_.ClickLayout(V);
  EXPECT_EQ(GetTopologyCtrl(), static_cast<uint32_t>(V));
  EXPECT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(I));
  EXPECT_EQ(view_.modeActive, static_cast<uint32_t>(I));
  EXPECT_FALSE(view_.modeSensitive[M]);
  EXPECT_TRUE(view_.modeSensitive[X]);
  // No rotation there: both rotation combos are reset and locked.
  EXPECT_FALSE(view_.Get(0, R::kRotation).sensitive);
  EXPECT_FALSE(view_.Get(1, R::kRotation).sensitive);
  EXPECT_EQ(GetPivotCtrl(0), 0u);

  view_.ClickLayout(H);
  view_.ClickMode(X);
  EXPECT_TRUE(IsRotationAllowedCtrl()) << "Xinerama takes independent's rotation permission";
  EXPECT_TRUE(view_.Get(1, R::kRotation).sensitive);
  view_.Choose(1, R::kRotation, "Clockwise");
  EXPECT_EQ(GetPivotCtrl(1), 1u);
  EXPECT_EQ(GetPivotState(1), 1u);
  EXPECT_EQ(GetPivotState(0), 0u);

  // Going back to merge forbids rotation again.
  view_.ClickMode(M);
  EXPECT_FALSE(view_.Get(0, R::kRotation).sensitive);
  EXPECT_EQ(GetPivotState(1), 0u) << "merged outputs show panel 0's rotation";
}

TEST_F(ControllerTest, OutputCountWithoutLayoutEntriesLocksTheRadios) {
  Start(MakeSparseBoard, 1, M);
  ASSERT_EQ(GetTopologyCtrl(), static_cast<uint32_t>(H));
  view_.ChooseOutputs(2);
  EXPECT_EQ(GetNumOutputCtrl(), 1u);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_FALSE(view_.layoutSensitive[i]) << i;
    EXPECT_FALSE(view_.modeSensitive[i]) << i;
  }
  EXPECT_EQ(GetTopologyCtrl(), static_cast<uint32_t>(H));
  EXPECT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(M));
}

int MaxWidth(const std::vector<std::string>& items) {
  int max = 0;
  for (const std::string& s : items) max = std::max(max, std::atoi(s.c_str()));
  return max;
}

TEST_F(ControllerTest, WidthLimitsOfThreeAndFourOutputs) {
  Start(MakeDualBoard, 2, M);
  ASSERT_EQ(MaxWidth(view_.Items(0, R::kResolution)), 1600);
  view_.ChooseOutputs(3);
  EXPECT_EQ(MaxWidth(view_.Items(0, R::kResolution)), 1280);
  view_.ChooseOutputs(4);
  EXPECT_EQ(MaxWidth(view_.Items(0, R::kResolution)), 1024) << "four in a row, merged";
  view_.ClickLayout(V);
  EXPECT_EQ(MaxWidth(view_.Items(0, R::kResolution)), 1600);
  EXPECT_TRUE(IsResolutionValid("mymode")) << "a mode-line name counts as width 0";
}

// The limits hold for the resolutions every board offers when its monitors
// say nothing (the fallback list) as much as for the board's own list.
TEST_F(ControllerTest, WidthLimitsHoldForTheFallbackResolutions) {
  auto make = [](CardInfo* card) {
    MakeCard(card, "PCI:1:0:0", "Kestrion Dual", false, {1, 2, 3, 4},
             {{1, H, M, 1}, {3, H, M, 0}, {4, H, M, 0}, {4, V, M, 0}}, {},
             {{kAllOutputs, "640x480", {60, 72, 75, 85}},
              {kAllOutputs, "800x600", {60, 72, 75, 85}},
              {kAllOutputs, "1024x768", {60, 70, 75, 85}},
              {kAllOutputs, "1280x1024", {60, 75, 85}},
              {kAllOutputs, "1600x1200", {60, 65}}});
  };
  const struct {
    int outputs, layout;
    int maxWidth;
  } cases[] = {{1, H, 1600}, {3, H, 1280}, {4, H, 1024}, {4, V, 1600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.outputs) + (c.layout == H ? " in a row" : " in a column"));
    InitProbeInfo();
    view_ = FakeMainView();
    Start(make, c.outputs, M, c.layout);
    ASSERT_EQ(GetNumOutputCtrl() + 1, static_cast<uint32_t>(c.outputs));
    ASSERT_EQ(GetTopologyCtrl(), static_cast<uint32_t>(c.layout));
    EXPECT_EQ(MaxWidth(view_.Items(0, R::kResolution)), c.maxWidth);
  }
}

TEST_F(ControllerTest, RefreshListFollowsTheResolution) {
  Start(MakeDualBoard, 1, M);
  EXPECT_EQ(view_.Items(0, R::kResolution),
            (std::vector<std::string>{"640x480", "800x600", "1024x768", "1152x864", "1280x1024", "1280x960",
                                      "1600x1200"}));
  view_.Choose(0, R::kResolution, "800x600");
  EXPECT_EQ(view_.Items(0, R::kRefresh), (std::vector<std::string>{"60", "72", "75"}));
  view_.Choose(0, R::kRefresh, "72");
  EXPECT_STREQ(GetRefreshRateCtrl(0), "72");
  view_.Choose(0, R::kResolution, "1024x768");
  EXPECT_EQ(view_.Items(0, R::kRefresh), (std::vector<std::string>{"60", "75"}));
  // 72 is gone: the middle fallback picks the first of two.
  EXPECT_EQ(view_.Active(0, R::kRefresh), "60");
  EXPECT_STREQ(GetRefreshRateCtrl(0), "60");
  EXPECT_TRUE(view_.Get(0, R::kRefresh).sensitive);
}

TEST_F(ControllerTest, ModeLinesJoinTheListsAndPreferredOnesAreStarred) {
  UiModeLine custom{};
  std::strcpy(custom.name, "mymode");
  AddCustomModeLine(custom);
  UiModeLine preferred{};
  std::strcpy(preferred.name, "panel1920");
  AddPreferedModeLine(preferred, 0);
  Start(MakeDualBoard, 2, I);
  auto items0 = view_.Items(0, R::kResolution);
  auto items1 = view_.Items(1, R::kResolution);
  ASSERT_FALSE(items0.empty());
  EXPECT_EQ(items0.back(), "panel1920");
  EXPECT_TRUE(view_.Get(0, R::kResolution).starred.back());
  EXPECT_NE(std::find(items0.begin(), items0.end(), "mymode"), items0.end());
  EXPECT_NE(std::find(items1.begin(), items1.end(), "mymode"), items1.end()) << "custom lines serve all";
  EXPECT_EQ(std::find(items1.begin(), items1.end(), "panel1920"), items1.end());
  view_.Choose(0, R::kResolution, "mymode");
  EXPECT_TRUE(view_.Items(0, R::kRefresh).empty());
  EXPECT_FALSE(view_.Get(0, R::kRefresh).sensitive);
}

// A list rebuilt for another display count may lack what the user chose;
// the combo then shows another entry, but the choice comes back with the
// count that offers it again.
TEST_F(ControllerTest, ChosenResolutionComesBackWhenItIsOfferedAgain) {
  UiModeLine custom{};
  std::strcpy(custom.name, "mymode");
  AddCustomModeLine(custom);
  Start(MakeDualBoard, 2, I);
  view_.Choose(0, R::kResolution, "1024x768");
  view_.Choose(1, R::kResolution, "1280x960");
  view_.Choose(1, R::kRefresh, "60");
  view_.ChooseOutputs(3);
  view_.ChooseOutputs(2);
  view_.ClickMode(I);
  EXPECT_STREQ(GetResolutionCtrl(0), "1024x768");
  EXPECT_STREQ(GetResolutionCtrl(1), "1280x960");
  EXPECT_EQ(view_.Active(1, R::kResolution), "1280x960");
  EXPECT_STREQ(GetRefreshRateCtrl(1), "60");
  EXPECT_TRUE(view_.Get(1, R::kRefresh).sensitive);
}

// The same holds for what the file chose: two displays of different
// resolutions, through three displays (merged) and back to two, then
// independent again, still show the file's choices, rates included, and
// not a mode line that stood in for them meanwhile.
TEST_F(ControllerTest, FileResolutionsComeBackAfterThreeDisplays) {
  UiModeLine custom{};
  std::strcpy(custom.name, "mymode");
  AddCustomModeLine(custom);
  MakeDualBoard(&GetCardInfo()[0]);
  XConfigSummary& cfg = *GetXConfigStruct();
  cfg = XConfigSummary{};
  cfg.outputs = 2;
  cfg.layout = H;
  cfg.mode = I;
  cfg.screens = {{"1", "1280x1024", 60, 16, 0}, {"2", "1024x768", 75, 16, 0}};
  UiControllerInit();
  ASSERT_STREQ(GetResolutionCtrl(1), "1024x768");
  ASSERT_STREQ(GetRefreshRateCtrl(1), "75");
  view_.ChooseOutputs(3);
  ASSERT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(M));
  view_.ChooseOutputs(2);
  view_.ClickMode(I);
  EXPECT_STREQ(GetResolutionCtrl(0), "1280x1024");
  EXPECT_STREQ(GetRefreshRateCtrl(0), "60");
  EXPECT_STREQ(GetResolutionCtrl(1), "1024x768");
  EXPECT_EQ(view_.Active(1, R::kResolution), "1024x768");
  EXPECT_STREQ(GetRefreshRateCtrl(1), "75");
  EXPECT_EQ(view_.Active(1, R::kRefresh), "75");
  // And that is what Apply writes.
  const UserSelection written = SaveUserSelectionToFile("xorg.conf");
  EXPECT_STREQ(written.resolution[1], "1024x768");
  EXPECT_EQ(written.refresh[1], 75u);
}

class PairedPanelsTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    queries_.dviLimited = true;
    queries_.outputType0 = 2;
    Start(MakeDualBoard, 2, I);
  }
};

TEST_F(PairedPanelsTest, SecondPanelFollowsAResolutionBothListsHave) {
  view_.Choose(0, R::kResolution, "1024x768");
  EXPECT_EQ(view_.Active(1, R::kResolution), "1024x768");
  EXPECT_STREQ(GetResolutionCtrl(1), "1024x768");
  EXPECT_FALSE(view_.Get(1, R::kResolution).sensitive);
  EXPECT_FALSE(view_.Get(1, R::kRefresh).sensitive);
  view_.Choose(0, R::kRefresh, "75");
  EXPECT_STREQ(GetRefreshRateCtrl(1), "75");
}

TEST_F(PairedPanelsTest, ResolutionOnlyTheFirstListHasMovesBothToTheNearestShared) {
  // 1280x1024 comes first in list 1 and is not in list 2: the nearest
  // width both lists share with a common rate is 1024x768.
  view_.Choose(0, R::kResolution, "1280x1024");
  EXPECT_STREQ(GetResolutionCtrl(0), "1024x768");
  EXPECT_STREQ(GetResolutionCtrl(1), "1024x768");
  EXPECT_EQ(view_.Active(0, R::kResolution), "1024x768");
  EXPECT_EQ(view_.Active(1, R::kResolution), "1024x768");
}

TEST_F(PairedPanelsTest, RefreshFallsBackToTheFirstCommonRate) {
  view_.Choose(0, R::kResolution, "800x600");
  view_.Choose(0, R::kRefresh, "72");
  EXPECT_STREQ(GetRefreshRateCtrl(1), "72") << "800x600 offers 72 on both outputs";
  view_.Choose(0, R::kResolution, "1024x768");
  view_.Choose(0, R::kRefresh, "75");
  EXPECT_STREQ(GetRefreshRateCtrl(0), "75");
  EXPECT_STREQ(GetRefreshRateCtrl(1), "75");
}

TEST_F(ControllerTest, NoPairingOnAnAnalogFirstOutput) {
  queries_.dviLimited = true;
  queries_.outputType0 = 1;
  Start(MakeDualBoard, 2, I);
  view_.Choose(1, R::kResolution, "1152x864");
  view_.Choose(0, R::kResolution, "1280x1024");
  EXPECT_STREQ(GetResolutionCtrl(0), "1280x1024");
  EXPECT_STREQ(GetResolutionCtrl(1), "1152x864");
  EXPECT_TRUE(view_.Get(1, R::kResolution).sensitive);
}

TEST_F(ControllerTest, EdidDropsRejectedRatesAndEmptiedResolutions) {
  queries_.edid[0] = true;
  queries_.rejected[0] = {"1280x1024@75", "1600x1200@60"};
  Start(MakeDualBoard, 1, M);
  SetUsingEdidCtrl(1);
  UpdateResolutionComboBox();
  auto items = view_.Items(0, R::kResolution);
  EXPECT_EQ(std::find(items.begin(), items.end(), "1600x1200"), items.end());
  EXPECT_EQ(std::find(items.begin(), items.end(), "800x600"), items.end())
      << "a monitor with EDID gets no fallback modes";
  view_.Choose(0, R::kResolution, "1280x1024");
  EXPECT_EQ(view_.Items(0, R::kRefresh), (std::vector<std::string>{"60"}));
}

TEST_F(ControllerTest, XineramaKeepsBothDepthsEqual) {
  Start(MakeDualBoard, 2, X);
  view_.Choose(0, R::kDepth, "24");
  EXPECT_EQ(GetBppCtrl(1), 24);
  EXPECT_FALSE(view_.Get(1, R::kDepth).sensitive);
  view_.ClickMode(I);
  EXPECT_TRUE(view_.Get(1, R::kDepth).sensitive);
  view_.Choose(1, R::kDepth, "16");
  EXPECT_EQ(GetBppCtrl(0), 24);
  EXPECT_EQ(GetBppCtrl(1), 16);
}

// The second panel's colour depth follows the panel whenever it is enabled
// or disabled, not only on a change of mode: from three displays (one
// panel) back to two independent ones, it can be set again.
TEST_F(ControllerTest, SecondDepthFollowsThePanelOnEveryChange) {
  Start(
      [](CardInfo* card) {
        MakeCard(card, "PCI:1:0:0", "Kestrion Quad", false, {2, 3},
                 {{2, H, M, 0}, {2, H, I, 0}, {2, V, I, 0}, {3, H, M, 0}, {3, V, I, 0}},
                 {{0, "1024x768", {60}}, {1, "1024x768", {60}}}, {});
      },
      2, I, V);
  ASSERT_TRUE(IsDisplayPanelEnableCtrl(1));
  EXPECT_TRUE(view_.Get(1, R::kDepth).sensitive);
  view_.ChooseOutputs(3);
  ASSERT_EQ(GetTopologyCtrl(), static_cast<uint32_t>(V));
  ASSERT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(I));
  EXPECT_FALSE(IsDisplayPanelEnableCtrl(1));
  EXPECT_FALSE(view_.Get(1, R::kDepth).sensitive);
  view_.ChooseOutputs(2);
  EXPECT_TRUE(IsDisplayPanelEnableCtrl(1));
  EXPECT_TRUE(view_.Get(1, R::kDepth).sensitive);
  view_.ClickLayout(H);
  EXPECT_TRUE(view_.Get(1, R::kDepth).sensitive);
}

// Without a board the settings wait, insensitive, and the window says why.
TEST_F(ControllerTest, WithoutABoardTheSettingsWait) {
  XConfigSummary& cfg = *GetXConfigStruct();
  cfg = XConfigSummary{};
  cfg.outputs = 2;
  cfg.layout = H;
  cfg.mode = I;
  UiControllerInit();
  EXPECT_FALSE(view_.settingsSensitive);
  EXPECT_EQ(view_.settingsReason, "Orvane card can't be found in system or in card database");
  EXPECT_EQ(GetSelectedCardCtrl(), nullptr);
  EXPECT_TRUE(view_.outputItems.empty());
}

// A file that asks for more displays than the board offers starts on the
// board's first count.
TEST_F(ControllerTest, UnofferedDisplayCountFallsBackToTheFirstOffered) {
  Start(MakeQuadBoard, 3, M);
  EXPECT_TRUE(view_.settingsSensitive);
  EXPECT_EQ(view_.outputActive, 0);
  EXPECT_EQ(GetNumOutputCtrl(), 1u);  // two displays
  EXPECT_EQ(view_.titles[0], "1 and 2");
}

TEST_F(ControllerTest, XConfigurationScreensFillThePanels) {
  MakeDualBoard(&GetCardInfo()[0]);
  XConfigSummary& cfg = *GetXConfigStruct();
  cfg = XConfigSummary{};
  cfg.outputs = 2;
  cfg.layout = H;
  cfg.mode = I;
  cfg.screens = {{"1", "1280x1024", 75, 24, 1}, {"2", "1152x864", 75, 16, 0}};
  UiControllerInit();
  EXPECT_EQ(view_.cardRow, 0);
  EXPECT_EQ(GetNumOutputCtrl(), 1u);
  EXPECT_STREQ(GetResolutionCtrl(0), "1280x1024");
  EXPECT_STREQ(GetRefreshRateCtrl(0), "75");
  EXPECT_EQ(GetBppCtrl(0), 24);
  EXPECT_EQ(GetPivotCtrl(0), 1u);
  EXPECT_STREQ(GetResolutionCtrl(1), "1152x864");
  EXPECT_STREQ(GetRefreshRateCtrl(1), "75");
  EXPECT_EQ(GetBppCtrl(1), 16);
  EXPECT_EQ(view_.Active(0, R::kRotation), "Clockwise");

  // A reset brings the file's values back after the user changed them.
  view_.Choose(0, R::kResolution, "800x600");
  view_.ClickMode(M);
  SetMainWindowXorgDefaultCfg();
  EXPECT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(I));
  EXPECT_STREQ(GetResolutionCtrl(0), "1280x1024");
}

TEST_F(ControllerTest, SelectedBoardRefillsTheOutputCombo) {
  MakeDualBoard(&GetCardInfo()[0]);
  MakeQuadBoard(&GetCardInfo()[1]);
  SetSelectedCardCtrl(1);
  EXPECT_EQ(view_.outputItems, (std::vector<std::string>{"2", "4"}));
  EXPECT_TRUE(IsKvdBoardCtrl());
}

TEST_F(ControllerTest, QuadBoardRoutingAndRotation) {
  Start(MakeQuadBoard, 4, I);
  EXPECT_EQ(GetOutputPanel(0), 0);
  EXPECT_EQ(GetOutputPanel(1), 0);
  EXPECT_EQ(GetOutputPanel(2), 1);
  EXPECT_EQ(GetOutputPanel(3), 1);
  view_.Choose(1, R::kRotation, "Counter clockwise");
  EXPECT_EQ(GetPivotState(3), 2u);
  EXPECT_EQ(GetPivotState(2), 2u);
  EXPECT_EQ(GetPivotState(1), 0u);
  view_.ClickLayout(S);
  EXPECT_EQ(GetTopologyCtrl(), static_cast<uint32_t>(S));
  EXPECT_FALSE(view_.modeSensitive[M]) << "the square layout has no merge entry";
}

// Widgets that signal even when nothing changes must not send the setters
// round in circles.
TEST_F(ControllerTest, SignalsOnEverySelectionDoNotLoop) {
  view_.alwaysEmit = true;
  queries_.dviLimited = true;
  queries_.outputType0 = 2;
  Start(MakeDualBoard, 2, I);
  view_.Choose(0, R::kResolution, "1280x1024");
  view_.Choose(0, R::kRefresh, "75");
  view_.ClickMode(X);
  view_.ChooseOutputs(4);
  EXPECT_LE(view_.maxDepth, 30);
  EXPECT_LT(view_.emits, 20000);
  EXPECT_EQ(GetNumOutputCtrl(), 3u);
  EXPECT_STREQ(GetResolutionCtrl(0), view_.Active(0, R::kResolution).c_str());
}

}  // namespace
