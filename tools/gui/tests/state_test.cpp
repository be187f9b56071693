#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/CardsProbe.h"
#include "tools/gui/ConfigEngine.h"
#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/ProbeUtils.h"
#include "tools/gui/support.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/UiController.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/tests/fake_main_view.h"
#include "tools/gui/tests/gui_fixtures.h"
#include "tools/lib/File.h"
#include "tools/testsupport/fixture_root.h"

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

// At start-up, a configuration file that does not parse, or that the tools
// refuse, is said once in the window with what the library said of it,
// nothing reaches the standard error stream, and the board on the bus is
// found all the same.
TEST(StartupProbeTest, UnreadableFileKeepsTheBoardAndIsSaidOnce) {
  char pattern[] = "/tmp/gui-startup-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string root = dir + "/root";
  const char* source = std::getenv("ORV_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  tools_test::InstallBoardDatabase(root, source);
  tools_test::WriteFixtureBoard(root, 0x0080);
  SysRootSet(root);
  const std::string conf = dir + "/xorg.conf";
  setenv("XORGCONFIG", conf.c_str(), 1);
  unsetenv("DISPLAY");
  const std::string layout =
      "Section \"ServerLayout\"\n\tIdentifier \"L%\"\n\tInputDevice \"K\" \"CoreKeyboard\"\nEndSection\n";
  const std::string input = "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n";
  auto named = [&](char n) {
    std::string l = layout;
    l[l.find('%')] = n;
    return l;
  };
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } cases[] = {
      {"syntax error",
       named('0') + input + "Section \"Screen\"\n\tIdentifier \"S\"\n\tDefaultDepth sixteen\nEndSection\n",
       "Problem when parsing config file\nParse error on line 11 of section Screen in file " + conf +
           "\n\tThe DefaultDepth keyword requires a number to follow it."},
      {"refused", named('0') + named('1') + input,
       "You can only have one server layout section with this tool.\nFix it or use --overwrite switch."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tools_test::WriteFile(conf, c.text);
    InitProbeInfo();
    LibraryEngine engine;
    SetConfigEngine(&engine);
    ScriptedDialogs dialogs;
    SetUserDialogs(&dialogs);
    testing::internal::CaptureStderr();
    ASSERT_NE(engine.InitCore(), kLibraryAborted);
    const int probe = ProbeHardwareNew();
    AdvancedWindowCtrlInit();
    ShowStartupMessages(LibraryFailureText(), probe);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_STREQ(GetCardInfo()[0].busId, "PCI:1:0:0");
    EXPECT_NE(GetCardInfo()[0].outputCounts[0], -1);
    std::vector<std::string> errors;
    for (const auto& [title, text] : dialogs.messages)
      if (title == "Error") errors.push_back(text);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], c.message);
    // The window offers the board; Apply is refused for the same cause,
    // the file named as the one to write.
    EXPECT_EQ(std::string(GetOutputFilePathCtrl()), conf);
    FakeMainView view;
    SetMainView(&view);
    UiControllerInit();
    EXPECT_TRUE(view.settingsSensitive);
    dialogs.messages.clear();
    dialogs.answers = {true};
    ApplyConfiguration();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].second, "Error : " + c.message);
    EXPECT_EQ(tools_test::ReadFile(conf), c.text);
    SetMainView(nullptr);
    SetUserDialogs(nullptr);
    SetConfigEngine(nullptr);
  }
  InitProbeInfo();
  SysRootSet("/");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// A rewrite that fails for another cause than permission is reported with
// that cause alone: a full disk is no permission problem.
TEST(LibraryEngineTest, FullDiskIsSaidAsSuch) {
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "needs root to mount";
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  char pattern[] = "/tmp/gui-full-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string disk = pattern;
  ASSERT_EQ(mount("orvtest", disk.c_str(), "tmpfs", 0, "size=64k"), 0);
  const char* source = std::getenv("ORV_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string conf = disk + "/xorg.conf";
  std::filesystem::copy_file(std::string(source) + "/data/xorg.conf.seed", conf);
  {
    std::ofstream filler(disk + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  // A system without the board: the layout is written all the same.
  char rootPattern[] = "/tmp/gui-full-root-XXXXXX";
  ASSERT_NE(mkdtemp(rootPattern), nullptr);
  const std::string root = rootPattern;
  tools_test::WriteFile(root + "/proc/bus/pci/devices", "");
  SysRootSet(root);
  LibraryEngine engine;
  SetConfigEngine(&engine);
  UserSelection selection{};
  selection.outputFile = conf.c_str();
  selection.outputs = 1;
  selection.family = 1;
  selection.overwrite = 1;
  selection.useCapabilities = 1;
  selection.presentFlags = kSelOutputFile | kSelOutputs | kSelOverwrite;
  testing::internal::CaptureStdout();
  const int result = engine.UpdateConfigFile(selection);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, kErrWritePermission);
  EXPECT_EQ(engine.ErrorText(result), "cannot make the backup " + conf + ".bak: No space left on device");
  SetConfigEngine(nullptr);
  SysRootSet("/");
  EXPECT_EQ(umount2(disk.c_str(), MNT_DETACH), 0);
  rmdir(disk.c_str());
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
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
