#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/CardsProbe.h"
#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/ProbeUtils.h"
#include "tools/gui/support.h"
#include "tools/gui/tests/gui_fixtures.h"

namespace {

UiModeLine Line(const char* name, double clock = 108.5) {
  UiModeLine m{};
  std::strcpy(m.name, name);
  m.clock = clock;
  m.hdisplay = 1280;
  m.vdisplay = 1024;
  return m;
}

std::vector<std::string> CustomNames() {
  std::vector<std::string> names;
  for (PrivateList* n = GetCustomModeLineList(); n; n = n->next)
    names.push_back(static_cast<UiModeLine*>(n->Payload())->name);
  return names;
}

class CollectorTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveAllModeLineCollector(); }
  void TearDown() override { RemoveAllModeLineCollector(); }
};

TEST_F(CollectorTest, CustomListRunsNewestFirstAndPreferredWinsByName) {
  AddCustomModeLine(Line("a"));
  AddCustomModeLine(Line("shared", 50.0));
  AddCustomModeLine(Line("c"));
  AddPreferedModeLine(Line("shared", 99.0), 2);
  EXPECT_EQ(CustomNames(), (std::vector<std::string>{"c", "shared", "a"}));
  ASSERT_NE(FindMatchingModeLine("shared"), nullptr);
  EXPECT_DOUBLE_EQ(FindMatchingModeLine("shared")->clock, 99.0);
  EXPECT_EQ(FindMatchingModeLine("Shared"), nullptr) << "names compare with case";
  EXPECT_TRUE(IsAPreferedModeLine("shared"));
  EXPECT_FALSE(IsAPreferedModeLine("a"));
  EXPECT_TRUE(IsModeLineExists(GetCustomModeLineList(), "a"));

  // The preferred one goes first; the custom one of the same name stays.
  RemoveModeLineFromCollector("shared");
  EXPECT_FALSE(HasAPreferedModeLine(2));
  EXPECT_EQ(CustomNames(), (std::vector<std::string>{"c", "shared", "a"}));
  RemoveModeLineFromCollector("shared");
  EXPECT_EQ(CustomNames(), (std::vector<std::string>{"c", "a"}));
}

TEST_F(CollectorTest, RemovingAnUnknownOrEmptyNameChangesNothing) {
  AddCustomModeLine(Line("a"));
  AddPreferedModeLine(Line("p"), 0);
  RemoveModeLineFromCollector("zz");
  RemoveModeLineFromCollector("");
  EXPECT_EQ(CustomNames(), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(HasAPreferedModeLine(0));
  EXPECT_FALSE(IsAPreferedModeLine("")) << "free slots carry no name";
  EXPECT_EQ(FindMatchingModeLine(""), nullptr);
}

TEST_F(CollectorTest, RemoveAllEmptiesEverything) {
  for (unsigned o = 0; o < 4; ++o) AddPreferedModeLine(Line(("p" + std::to_string(o)).c_str()), o);
  AddCustomModeLine(Line("a"));
  RemoveAllModeLineCollector();
  for (unsigned o = 0; o < 4; ++o) EXPECT_FALSE(HasAPreferedModeLine(o)) << o;
  EXPECT_EQ(GetCustomModeLineList(), nullptr);
}

TEST_F(CollectorTest, OutputAboveThreeIsFatal) {
  EXPECT_DEATH(AddPreferedModeLine(Line("x"), 4), "eNumOutput < iNumMaxModeLine");
  EXPECT_DEATH(GetPreferedModeLine(4), "eNumOutput < iNumMaxModeLine");
}

// An object with two named accessibility actions whose descriptions are
// kept, as a widget's accessible has.
struct TwoActions {
  GObject parent;
  gchar* descriptions[2];
};
struct TwoActionsClass {
  GObjectClass parent;
};
const gchar* const kActionNames[2] = {"click", "press"};

gint TwoActionsCount(AtkAction*) { return 2; }
const gchar* TwoActionsName(AtkAction*, gint i) { return i >= 0 && i < 2 ? kActionNames[i] : nullptr; }
gboolean TwoActionsSetDescription(AtkAction* action, gint i, const gchar* text) {
  if (i < 0 || i >= 2) return FALSE;
  auto* self = reinterpret_cast<TwoActions*>(action);
  g_free(self->descriptions[i]);
  self->descriptions[i] = g_strdup(text);
  return TRUE;
}
const gchar* TwoActionsDescription(AtkAction* action, gint i) {
  return i >= 0 && i < 2 ? reinterpret_cast<TwoActions*>(action)->descriptions[i] : nullptr;
}
void TwoActionsInterface(gpointer iface, gpointer) {
  auto* a = static_cast<AtkActionIface*>(iface);
  a->get_n_actions = TwoActionsCount;
  a->get_name = TwoActionsName;
  a->set_description = TwoActionsSetDescription;
  a->get_description = TwoActionsDescription;
}
void TwoActionsFinalize(GObject* object) {
  auto* self = reinterpret_cast<TwoActions*>(object);
  for (gchar* d : self->descriptions) g_free(d);
  G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}
void TwoActionsClassInit(gpointer klass, gpointer) { G_OBJECT_CLASS(klass)->finalize = TwoActionsFinalize; }

GType TwoActionsType() {
  static GType type = 0;
  if (type == 0) {
    GTypeInfo info{};
    info.class_size = sizeof(TwoActionsClass);
    info.class_init = TwoActionsClassInit;
    info.instance_size = sizeof(TwoActions);
    type = g_type_register_static(G_TYPE_OBJECT, "OrvTestTwoActions", &info, GTypeFlags(0));
    GInterfaceInfo action{TwoActionsInterface, nullptr, nullptr};
    g_type_add_interface_static(type, ATK_TYPE_ACTION, &action);
  }
  return type;
}

TEST(SupportTest, AnActionsDescriptionIsSetByItsName) {
  GObject* object = static_cast<GObject*>(g_object_new(TwoActionsType(), nullptr));
  AtkAction* action = ATK_ACTION(object);
  glade_set_atk_action_description(action, "press", "Writes the file");
  EXPECT_EQ(atk_action_get_description(action, 0), nullptr);
  EXPECT_STREQ(atk_action_get_description(action, 1), "Writes the file");
  glade_set_atk_action_description(action, "hover", "nothing");  // no such action
  glade_set_atk_action_description(action, "click", "Opens it");
  EXPECT_STREQ(atk_action_get_description(action, 0), "Opens it");
  EXPECT_STREQ(atk_action_get_description(action, 1), "Writes the file");
  g_object_unref(object);
}

TEST(ProbeInfoTest, ClearedRecordsAndVersionTexts) {
  InitProbeInfo();
  for (int i = 0; i < kMaxCards; ++i) {
    EXPECT_EQ(GetCardInfo()[i].outputCounts[0], -1);
    EXPECT_EQ(GetCardInfo()[i].layouts, nullptr);
    EXPECT_STREQ(GetCardInfo()[i].busId, "");
  }
  std::string longest(255, 'v');
  SetQlbDriverInfo(longest.c_str());
  EXPECT_EQ(GetQlbDriverInfo(), longest);
  EXPECT_DEATH(SetOrvDriverInfo(std::string(256, 'v').c_str()), "strlen\\(szDriverInfo\\) < 256");
  SetOrvKernelDriverFound(0x102);
  EXPECT_EQ(GetOrvKernelDriverFound(), 2) << "the low byte is kept";
}

TEST(ProbeInfoTest, HardwareProbeCopiesDriversAndSummary) {
  InitProbeInfo();
  FakeEngine engine;
  engine.summary.fileName = "/etc/X11/xorg.conf";
  engine.summary.outputs = 2;
  engine.probeResult = 3;
  SetConfigEngine(&engine);
  EXPECT_EQ(ProbeHardwareNew(), 3);
  EXPECT_STREQ(GetOrvDriverInfo(), "1.4.7");
  EXPECT_STREQ(GetQlbDriverInfo(), "2.3.258");
  EXPECT_EQ(GetOrvKernelDriverFound(), 1) << "the flag is stored as 0 or 1";
  EXPECT_EQ(GetXConfigStruct()->outputs, 2);
  EXPECT_EQ(engine.calls.front(), "card");
  SetConfigEngine(nullptr);
}

class RecordingAdvancedView : public AdvancedView {
 public:
  std::vector<std::string> calls;
  void SetOutputFileEntry(const char* text) override {
    calls.push_back(std::string("entry ") + text);
    SetOutputFileCtrl(text);  // the entry's "changed" handler
  }
  void SetUsingBusMastering(bool on) override { calls.push_back("bm " + std::to_string(on)); SetBusMasteringCtrl(on); }
  void SetForcingDVI(bool on) override { calls.push_back("dvi " + std::to_string(on)); SetForcingDVICtrl(on); }
  void SetUsingEdid(bool on) override { calls.push_back("edid " + std::to_string(on)); SetUsingEdidCtrl(on); }
  void SetUsingGl(bool on) override { calls.push_back("gl " + std::to_string(on)); Set3DCtrl(on); }
  void Show() override { calls.push_back("show"); }
  void Hide() override { calls.push_back("hide"); }
};

TEST(AdvancedOptionsTest, DefaultsComeFromTheXConfiguration) {
  FakeEngine engine;
  engine.summary.fileName = "/tmp/x y/xorg.conf";
  engine.summary.openGL = 1;
  engine.summary.busMastering = 0;
  engine.summary.useEdid = 1;
  engine.summary.forceDvi = 1;
  SetConfigEngine(&engine);
  RecordingAdvancedView view;
  SetAdvancedView(&view);
  AdvancedWindowCtrlInit();
  EXPECT_STREQ(GetOutputFilePathCtrl(), "/tmp/x y/xorg.conf");
  EXPECT_TRUE(Is3DEnableCtrl());
  EXPECT_FALSE(IsBusMasteringEnableCtrl());
  EXPECT_TRUE(IsUsingEdidCtrl());
  EXPECT_TRUE(IsForcingDVICtrl());
  EXPECT_EQ(view.calls, (std::vector<std::string>{"entry /tmp/x y/xorg.conf", "gl 1", "bm 0", "dvi 1",
                                                  "edid 1"}));
  ShowAdvancedWindowCtrl();
  HideAdvancedWindowCtrl();
  EXPECT_EQ(view.calls.back(), "hide");
  SetAdvancedView(nullptr);
  SetConfigEngine(nullptr);
}

TEST(AdvancedOptionsTest, OverlongPathIsIgnoredAndFlagsKeepTheLowByte) {
  SetOutputFilePathCtrl("/etc/X11/xorg.conf");
  SetOutputFilePathCtrl(std::string(256, 'p').c_str());
  SetOutputFileCtrl(std::string(300, 'p').c_str());
  EXPECT_STREQ(GetOutputFilePathCtrl(), "/etc/X11/xorg.conf");
  std::string longest = "/" + std::string(254, 'p');
  SetOutputFileCtrl(longest.c_str());
  EXPECT_EQ(GetOutputFilePathCtrl(), longest);
  Set3DCtrl(0x100);
  EXPECT_FALSE(Is3DEnableCtrl());
}

TEST(ProbeUtilsTest, WordTables) {
  struct Case {
    int (*fn)(const char*, uint32_t*);
    const char* word;
    int result;
    uint32_t value;
  };
  const Case cases[] = {
      {GetPivotEnum, "none", 1, 0},        {GetPivotEnum, "CW", 1, 1},
      {GetPivotEnum, "Ccw", 1, 2},         {GetPivotEnum, "left", -1, 77},
      {GetAgglutinationEnum, "merge", 1, 1}, {GetAgglutinationEnum, "independent", 1, 2},
      {GetAgglutinationEnum, "xinerama", 1, 3}, {GetAgglutinationEnum, "clone", -1, 77},
      {GetTopologyEnum, "horizontal", 1, 1}, {GetTopologyEnum, "vertical", 1, 2},
      {GetTopologyEnum, "square", 1, 3},   {GetTopologyEnum, "", -1, 77},
      {ConvertToBool, "true", 1, 1},       {ConvertToBool, "false", 1, 0},
      {ConvertToBool, "yes", -1, 77},      {GetMonitorEnum, "1", 1, 0},
      {GetMonitorEnum, "4", 1, 3},         {GetMonitorEnum, "all", 1, 5},
      {GetMonitorEnum, "5", -1, 77},
  };
  for (const Case& c : cases) {
    uint32_t value = 77;
    EXPECT_EQ(c.fn(c.word, &value), c.result) << c.word;
    EXPECT_EQ(value, c.value) << c.word;
  }
  uint32_t index = 9;
  EXPECT_EQ(GetOutputEnum(4, &index), 1);
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(GetOutputEnum(5, &index), -1);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(GetX86PolarityValue(0, 0), 5);
  EXPECT_EQ(GetX86PolarityValue(0, 1), 9);
  EXPECT_EQ(GetX86PolarityValue(1, 0), 6);
  EXPECT_EQ(GetX86PolarityValue(1, 1), 10);
  EXPECT_EQ(GetX86PolarityValue(2, 0), 5);
}

std::vector<std::string> InsertAll(const std::vector<std::string>& texts) {
  std::vector<std::string> items;
  for (const std::string& t : texts) items.insert(items.begin() + SortedInsertPosition(items, t), t);
  return items;
}

TEST(ComboOrderTest, NumbersFirstInNumberOrderThenNames) {
  EXPECT_EQ(InsertAll({"1280x1024", "800x600", "1024x768", "mymode"}),
            (std::vector<std::string>{"800x600", "1024x768", "1280x1024", "mymode"}));
  EXPECT_EQ(InsertAll({"zeta", "24", "8", "Alpha", "16", "alpha"}),
            (std::vector<std::string>{"8", "16", "24", "Alpha", "alpha", "zeta"}));
  // Equal leading numbers keep insertion order.
  EXPECT_EQ(InsertAll({"1280x1024", "1280x960"}), (std::vector<std::string>{"1280x1024", "1280x960"}));
}

TEST(ComboOrderTest, SelectionFallsBackToTheMiddle) {
  const std::vector<std::string> five{"a", "b", "c", "d", "e"};
  EXPECT_EQ(SelectionIndexFor(five, "d"), 3);
  EXPECT_EQ(SelectionIndexFor(five, "zz"), 1);
  EXPECT_EQ(SelectionIndexFor({"a", "b", "c"}, "zz"), 0);
  EXPECT_EQ(SelectionIndexFor({"a", "b", "c", "d", "e", "f", "g", "h"}, "zz"), 3);
  EXPECT_EQ(SelectionIndexFor({}, "a"), -1);
}

}  // namespace

// A library message longer than a dialog holds is shown cut to the limit,
// not dropped.
TEST(DialogTextTest, LongMessagesAreCutNotDropped) {
  ScriptedDialogs dialogs;
  SetUserDialogs(&dialogs);
  const std::string shortText(1024, 's');
  const std::string longText = "Parse error on line 3: " + std::string(4000, 'x');
  OutputErrorMsg(shortText);
  OutputErrorMsg(longText);
  SetUserDialogs(nullptr);
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[0].first, "Error");
  EXPECT_EQ(dialogs.messages[0].second, shortText);
  EXPECT_EQ(dialogs.messages[1].second.size(), 1024u);
  EXPECT_EQ(dialogs.messages[1].second.rfind("Parse error on line 3: ", 0), 0u);
  EXPECT_EQ(dialogs.messages[1].second.substr(1021), "...");
}
