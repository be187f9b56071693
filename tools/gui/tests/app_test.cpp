// The whole program in this process, as start-up builds it, on a private X
// server: the real configuration library on a fixture system with one
// two-output board and an X configuration holding a mode line.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/CardsProbe.h"
#include "tools/gui/ConfigEngine.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/UiController.h"
#include "tools/gui/UiModeLineTab.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/interface.h"
#include "tools/gui/support.h"
#include "tools/gui/tests/gui2_xvfb.h"
#include "tools/gui/tests/gui_fixtures.h"
#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/File.h"
#include "tools/testsupport/files.h"
#include "tools/testsupport/fixture_root.h"
#include "tools/testsupport/stand_ins.h"

extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace fs = std::filesystem;

namespace {

using tools_test::ReadFile;
using tools_test::WriteFile;

// The board of the fixture bus: two outputs.
constexpr uint16_t kTwoOutputSubsysId = 0x0080;

// The words of the file's mode line called `name`; empty when none.
std::vector<std::string> ModeLineWords(const std::string& file, const std::string& name) {
  std::istringstream lines(ReadFile(file));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> out;
    for (std::string w; words >> w;) out.push_back(w);
    if (out.size() > 2 && out[0] == "ModeLine" && out[1] == "\"" + name + "\"") return out;
  }
  return {};
}

// The mode line the X configuration holds at start: a clock with three
// decimals and mixed polarities.
const std::vector<std::string> kFileModeLine = {"ModeLine", "\"filemode\"", "74.176", "1280", "1328", "1440",
                                                "1688",     "1024",         "1025",   "1028", "1066", "-hsync",
                                                "+vsync"};

// The real library, noting the temporary file each rewrite was given.
class RecordingEngine : public LibraryEngine {
 public:
  std::vector<std::string> rewritten;
  int UpdateConfigFile(const UserSelection& selection) override {
    rewritten.push_back(selection.outputFile);
    return LibraryEngine::UpdateConfigFile(selection);
  }
};

struct App {
  std::string dir, bin, conf, out;
  ScriptedDialogs dialogs;
  RecordingEngine engine;
};

App* s_app = nullptr;

// Builds the fixture system and starts the program once for all tests.
App* StartApp() {
  if (s_app != nullptr) return s_app;
  auto* app = new App;
  char pattern[] = "/tmp/gui-app-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return nullptr;
  app->dir = pattern;
  const std::string root = app->dir + "/root";
  const std::string src = std::getenv("ORV_SOURCE_DIR") ? std::getenv("ORV_SOURCE_DIR") : "../..";
  tools_test::InstallBoardDatabase(root, src);
  tools_test::WriteFixtureBoard(root, kTwoOutputSubsysId);
  SysRootSet(root.c_str());

  // The starting configuration: the seed with one display, then the mode
  // line, both written by the library as the wizard does.
  app->conf = app->dir + "/xorg.conf";
  app->out = app->dir + "/out/xorg.conf";
  fs::create_directories(app->dir + "/out");
  fs::copy_file(src + "/data/xorg.conf.seed", app->conf);
  setenv("XORGCONFIG", app->conf.c_str(), 1);
  setenv("HOME", app->dir.c_str(), 1);
  InitCoreModule();
  UserSelection sel{};
  sel.outputFile = app->conf.data();
  sel.outputs = 1;
  sel.family = 1;
  sel.overwrite = 1;
  sel.useCapabilities = 1;
  sel.presentFlags = 0x1 | 0x2 | 0x400;
  if (UpdateConfigFile(&sel) != 0) return nullptr;
  UiModeLine line{};
  std::strcpy(line.name, "filemode");
  line.clock = 74.176;
  line.hdisplay = 1280, line.hsyncstart = 1328, line.hsyncend = 1440, line.htotal = 1688;
  line.vdisplay = 1024, line.vsyncstart = 1025, line.vsyncend = 1028, line.vtotal = 1066;
  line.hpolarity = kPolarityNegative;
  line.vpolarity = kPolarityPositive;
  PrivateList* lines = PrivateListAppend(nullptr, &line, sizeof line, nullptr);
  const int added = AddModelineToConfig(lines, app->conf.c_str());
  PrivateDeleteList(lines);
  if (added != 0 || ModeLineWords(app->conf, "filemode") != kFileModeLine) return nullptr;

  // Recording stand-ins for the commands the apply step runs.
  app->bin = app->dir + "/bin";
  fs::create_directories(app->bin);
  const std::string log = app->dir + "/commands.log";
  const std::pair<const char*, const char*> standIns[] = {
      {"cp", "exec /bin/cp \"$@\""},
      {"touch", "exec /usr/bin/touch \"$@\""},
      {"which", "exit 1"},
      {"gksu", "exit 1"},
      {"gnome-session-save", "exit 0"},
  };
  for (const auto& [name, body] : standIns)
    tools_test::WriteStandIn(app->bin, name, log, tools_test::CallLog::kOneLine, body);
  tools_test::PrependToPath(app->bin);
  unsetenv("GNOME_DESKTOP_SESSION_ID");
  unsetenv("KDE_FULL_SESSION");

  SetConfigEngine(&app->engine);
  InitProbeInfo();
  ProbeHardwareNew();
  CreateAppWindows();
  SetUserDialogs(&app->dialogs);
  DrainEvents();
  s_app = app;
  return app;
}

GtkWidget* Toplevel(const char* title) {
  GList* all = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* l = all; l != nullptr; l = l->next) {
    const char* t = gtk_window_get_title(GTK_WINDOW(l->data));
    if (t != nullptr && std::string(t) == title) found = GTK_WIDGET(l->data);
  }
  g_list_free(all);
  return found;
}

GtkWidget* W(GtkWidget* top, const char* name) { return GTK_WIDGET(g_object_get_data(G_OBJECT(top), name)); }

void SendDelete(GtkWidget* window) {
  GdkEvent* e = gdk_event_new(GDK_DELETE);
  e->any.window = GDK_WINDOW(g_object_ref(window->window));
  e->any.send_event = TRUE;
  gtk_main_do_event(e);
  gdk_event_free(e);
  DrainEvents();
}

bool Visible(GtkWidget* w) { return GTK_WIDGET_VISIBLE(w) && GTK_WIDGET_MAPPED(w); }

// Keeps a picture of a shown window beside the build files.
void Photograph(GtkWidget* window, const std::string& file) {
  DrainEvents();
  GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, window->window, nullptr, 0, 0, 0, 0,
                                                 window->allocation.width, window->allocation.height);
  ASSERT_NE(shot, nullptr);
  EXPECT_TRUE(gdk_pixbuf_save(shot, (std::string(ORV_ARTIFACT_DIR "/") + file).c_str(), "png", nullptr, nullptr));
  g_object_unref(shot);
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_XVFB();
    app_ = StartApp();
    ASSERT_NE(app_, nullptr) << "the fixture system could not be built";
    top_ = Toplevel("OrvaneConfig");
    ASSERT_NE(top_, nullptr);
    app_->dialogs = ScriptedDialogs{};
  }
  GtkWidget* Main(const char* name) { return W(top_, name); }

  App* app_ = nullptr;
  GtkWidget* top_ = nullptr;
};

// ---- secondary windows ----

TEST_F(AppTest, AdvancedWindowHidesOnCloseAndKeepsItsState) {
  gtk_button_clicked(GTK_BUTTON(Main("mwButtonAdv")));
  DrainEvents();
  GtkWidget* adv = Toplevel("OrvaneConfig - Advanced");
  ASSERT_NE(adv, nullptr);
  EXPECT_TRUE(Visible(adv));
  const struct {
    const char* name;
    const char* label;
  } checks[] = {{"awCheckBusMast", "Enable bus mastering"},
                {"awForceDVICheck", "Force digital output"},
                {"awCheck3D", "Enable OpenGL hardware acceleration"},
                {"awCheckButtonEdid", "Filter with monitor EDID"}};
  for (const auto& c : checks) {
    ASSERT_NE(W(adv, c.name), nullptr) << c.name;
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(W(adv, c.name))), c.label) << c.name;
  }
  GtkToggleButton* bus = GTK_TOGGLE_BUTTON(W(adv, "awCheckBusMast"));
  const bool before = gtk_toggle_button_get_active(bus);
  gtk_toggle_button_set_active(bus, !before);
  gtk_entry_set_text(GTK_ENTRY(W(adv, "awOutputFileEntry")), "/tmp/kept.conf");
  Photograph(adv, "orvaneconfig-advanced.png");

  SendDelete(adv);
  EXPECT_FALSE(Visible(adv)) << "closing hides";
  EXPECT_EQ(Toplevel("OrvaneConfig - Advanced"), adv) << "closing does not destroy";
  EXPECT_EQ(IsBusMasteringEnableCtrl(), !before);

  gtk_button_clicked(GTK_BUTTON(Main("mwButtonAdv")));
  DrainEvents();
  EXPECT_TRUE(Visible(adv));
  EXPECT_EQ(gtk_toggle_button_get_active(bus), !before);
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(W(adv, "awOutputFileEntry"))), "/tmp/kept.conf");
  gtk_button_clicked(GTK_BUTTON(W(adv, "awButtonClose")));
  DrainEvents();
  EXPECT_FALSE(Visible(adv));
  gtk_toggle_button_set_active(bus, before);
}

TEST_F(AppTest, InfoWindowListsTheBoardAndHidesOnClose) {
  gtk_button_clicked(GTK_BUTTON(Main("mwButtonInfo")));
  DrainEvents();
  GtkWidget* info = Toplevel("OrvaneConfig - Info");
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(Visible(info));
  GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(W(info, "treeview2")));
  std::vector<std::pair<std::string, std::string>> rows;
  GtkTreeIter it;
  for (bool ok = gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
    gchar *key = nullptr, *value = nullptr;
    gtk_tree_model_get(model, &it, 0, &key, 1, &value, -1);
    rows.emplace_back(key ? key : "", value ? value : "");
    g_free(key);
    g_free(value);
  }
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].first, "Qlb driver version");
  EXPECT_EQ(rows[1].first, "Orv driver version");
  EXPECT_EQ(rows[2].first, "Kernel module installed");
  EXPECT_EQ(rows[3], (std::pair<std::string, std::string>{"KVD graphics card", "false"}));
  EXPECT_EQ(rows[4], (std::pair<std::string, std::string>{"Number of displays", "1,2"}));
  Photograph(info, "orvaneconfig-info.png");

  SendDelete(info);
  EXPECT_FALSE(Visible(info));
  gtk_button_clicked(GTK_BUTTON(Main("mwButtonInfo")));
  DrainEvents();
  EXPECT_TRUE(Visible(info));
  EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 5) << "rows are filled once";
  gtk_button_clicked(GTK_BUTTON(W(info, "infoButtonClose")));
  DrainEvents();
  EXPECT_FALSE(Visible(info));
}

TEST_F(AppTest, AboutWindowShowsTheVersionAndHidesOnClose) {
  gtk_menu_item_activate(GTK_MENU_ITEM(Main("aboutMenuItem")));
  DrainEvents();
  GtkWidget* about = Toplevel("OrvaneConfig - About");
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(Visible(about));
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(W(about, "AbwLabelVersion"))), "OrvaneConfig Version 1.1.1");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(W(about, "button1"))), "Close");
  Photograph(about, "orvaneconfig-about.png");
  SendDelete(about);
  EXPECT_FALSE(Visible(about));
  gtk_menu_item_activate(GTK_MENU_ITEM(Main("aboutMenuItem")));
  DrainEvents();
  EXPECT_TRUE(Visible(about));
  gtk_button_clicked(GTK_BUTTON(W(about, "button1")));
  DrainEvents();
  EXPECT_FALSE(Visible(about));
}

// ---- main window layout ----

void CollectLabels(GtkWidget* w, std::vector<GtkWidget*>* out) {
  if (GTK_IS_LABEL(w)) out->push_back(w);
  if (GTK_IS_CONTAINER(w))
    gtk_container_forall(
        GTK_CONTAINER(w), [](GtkWidget* child, gpointer data) {
          CollectLabels(child, static_cast<std::vector<GtkWidget*>*>(data));
        },
        out);
}

// Every label shown at the default size gets at least the room its text
// asks for and lies inside the window; the board name column is as wide as
// the name. A photograph is kept beside the build files.
// The mode-line page keeps the same distance from the notebook's edges as
// the settings page, so its warning text never touches the edge.
TEST_F(AppTest, ModeLinePageHasTheBorderOfTheOtherPages) {
  GtkNotebook* notebook = GTK_NOTEBOOK(Main("notebook1"));
  GtkWidget* settings = gtk_notebook_get_nth_page(notebook, 0);
  GtkWidget* modeLines = gtk_notebook_get_nth_page(notebook, 1);
  ASSERT_NE(settings, nullptr);
  ASSERT_NE(modeLines, nullptr);
  EXPECT_GT(gtk_container_get_border_width(GTK_CONTAINER(modeLines)), 0u);
  EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(modeLines)),
            gtk_container_get_border_width(GTK_CONTAINER(settings)));
}

TEST_F(AppTest, MainWindowLabelsAreNotCutOff) {
  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 0);
  DrainEvents();
  std::vector<GtkWidget*> labels;
  CollectLabels(top_, &labels);
  int checked = 0;
  for (GtkWidget* l : labels) {
    if (!GTK_WIDGET_MAPPED(l)) continue;
    const char* text = gtk_label_get_text(GTK_LABEL(l));
    if (text == nullptr || text[0] == '\0') continue;
    GtkRequisition req;
    gtk_widget_size_request(l, &req);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(l, top_, 0, 0, &x, &y);
    EXPECT_GE(l->allocation.width, req.width) << text;
    EXPECT_GE(l->allocation.height, req.height) << text;
    EXPECT_LE(x + l->allocation.width, top_->allocation.width) << text;
    EXPECT_LE(y + l->allocation.height, top_->allocation.height) << text;
    ++checked;
  }
  EXPECT_GT(checked, 20);

  GtkTreeView* cards = GTK_TREE_VIEW(Main("mwCardList"));
  GtkTreeViewColumn* name = gtk_tree_view_get_column(cards, 1);
  PangoLayout* layout = gtk_widget_create_pango_layout(GTK_WIDGET(cards), GetCardInfo()[0].name);
  int textWidth = 0, textHeight = 0;
  pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
  g_object_unref(layout);
  ASSERT_NE(GetCardInfo()[0].name[0], '\0');
  EXPECT_GE(gtk_tree_view_column_get_width(name), textWidth) << GetCardInfo()[0].name;
  int x = 0, y = 0;
  gtk_widget_translate_coordinates(GTK_WIDGET(cards), top_, 0, 0, &x, &y);
  GtkWidget* scroller = gtk_widget_get_parent(GTK_WIDGET(cards));
  EXPECT_GE(scroller->allocation.width, GTK_WIDGET(cards)->requisition.width) << "no column is scrolled away";

  GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, top_->window, nullptr, 0, 0, 0, 0,
                                                 top_->allocation.width, top_->allocation.height);
  ASSERT_NE(shot, nullptr);
  EXPECT_TRUE(gdk_pixbuf_save(shot, ORV_ARTIFACT_DIR "/orvaneconfig-layout.png", "png", nullptr, nullptr));
  g_object_unref(shot);
}

// ---- preview in the main window ----

class PreviewShot {
 public:
  explicit PreviewShot(GtkWidget* area) : area_(area) {
    shot_ = gdk_pixbuf_get_from_drawable(nullptr, area->window, nullptr, 0, 0, 0, 0, area->allocation.width,
                                         area->allocation.height);
  }
  ~PreviewShot() {
    if (shot_) g_object_unref(shot_);
  }
  PreviewShot(const PreviewShot&) = delete;
  PreviewShot& operator=(const PreviewShot&) = delete;
  bool Dark(int x, int y) const {
    const guchar* p = Px(x, y);
    return p[0] < 0x40 && p[1] < 0x40 && p[2] < 0x40;
  }
  bool White(int x, int y) const {
    const guchar* p = Px(x, y);
    return p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
  }
  int Width() const { return area_->allocation.width; }
  int Height() const { return area_->allocation.height; }
  GdkPixbuf* Pixbuf() const { return shot_; }

 private:
  const guchar* Px(int x, int y) const {
    return gdk_pixbuf_get_pixels(shot_) + y * gdk_pixbuf_get_rowstride(shot_) + x * gdk_pixbuf_get_n_channels(shot_);
  }
  GtkWidget* area_;
  GdkPixbuf* shot_ = nullptr;
};

void SelectOutputs(GtkWidget* top, const char* count) {
  GtkComboBox* combo = GTK_COMBO_BOX(W(top, "mwComboOutput"));
  GtkTreeModel* model = gtk_combo_box_get_model(combo);
  GtkTreeIter it;
  for (bool ok = gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, &it, 0, &text, -1);
    const bool match = text != nullptr && std::string(text) == count;
    g_free(text);
    if (match) {
      gtk_combo_box_set_active_iter(combo, &it);
      return;
    }
  }
  ADD_FAILURE() << "no output count " << count;
}

// Two displays side by side: independent gives two 26-pixel outlines 6
// pixels apart with nothing between or inside them; merge gives one 52-pixel
// outline split by a dashed line. Each display's digit is drawn in its
// corner.
TEST_F(AppTest, PreviewDrawsTheChosenLayout) {
  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 0);
  SelectOutputs(top_, "2");
  gtk_button_clicked(GTK_BUTTON(Main("mwTopoRadioRow")));
  gtk_button_clicked(GTK_BUTTON(Main("mwAggRadioInd")));
  DrainEvents();
  ASSERT_EQ(GetNumOutputCtrl(), 1u);
  ASSERT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(kAggIndependent)) << "independent not allowed";
  GtkWidget* area = Main("mwDrawArea");
  {
    PreviewShot shot(area);
    gdk_pixbuf_save(shot.Pixbuf(), ORV_ARTIFACT_DIR "/orvaneconfig-preview-independent.png", "png", nullptr,
                    nullptr);
    const int x0 = (shot.Width() - 2 * 26 - 6 * 2) / 2 + 3, y0 = (shot.Height() - 26) / 2;
    for (int i = 0; i < 2; ++i) {
      const int x = x0 + i * 32;
      for (int d = 0; d <= 26; ++d) {
        EXPECT_TRUE(shot.Dark(x + d, y0)) << "top edge of display " << i + 1 << " at " << x + d;
        EXPECT_TRUE(shot.Dark(x + d, y0 + 26)) << "bottom edge of display " << i + 1;
        EXPECT_TRUE(shot.Dark(x, y0 + d)) << "left edge of display " << i + 1;
        EXPECT_TRUE(shot.Dark(x + 26, y0 + d)) << "right edge of display " << i + 1;
      }
      // Below the digit, the inside is empty: no separator.
      for (int dx = 1; dx < 26; ++dx) EXPECT_TRUE(shot.White(x + dx, y0 + 22)) << "inside display " << i + 1;
      int digit = 0;
      for (int dy = 1; dy < 18; ++dy)
        for (int dx = 1; dx < 18; ++dx) digit += shot.Dark(x + dx, y0 + dy);
      EXPECT_GT(digit, 8) << "digit " << i + 1;
    }
    for (int gx = x0 + 27; gx < x0 + 32; ++gx) EXPECT_TRUE(shot.White(gx, y0 + 13)) << "gap at " << gx;
  }

  gtk_button_clicked(GTK_BUTTON(Main("mwAggRadioMerge")));
  DrainEvents();
  ASSERT_EQ(GetAgglutinationCtrl(), static_cast<uint32_t>(kAggMerge));
  PreviewShot shot(area);
  gdk_pixbuf_save(shot.Pixbuf(), ORV_ARTIFACT_DIR "/orvaneconfig-preview-merge.png", "png", nullptr, nullptr);
  const int x0 = (shot.Width() - 52) / 2, y0 = (shot.Height() - 26) / 2;
  for (int d = 0; d <= 52; ++d) EXPECT_TRUE(shot.Dark(x0 + d, y0)) << "top edge at " << x0 + d;
  EXPECT_TRUE(shot.Dark(x0, y0 + 13));
  EXPECT_TRUE(shot.Dark(x0 + 52, y0 + 13));
  EXPECT_TRUE(shot.White(x0 - 3, y0 + 13));
  EXPECT_TRUE(shot.White(x0 + 55, y0 + 13));
  int dashes = 0;
  for (int y = y0 + 1; y < y0 + 26; ++y) dashes += shot.Dark(x0 + 26, y) || shot.Dark(x0 + 25, y);
  EXPECT_GT(dashes, 6) << "dashed separator";
  EXPECT_LT(dashes, 20) << "the separator is dashed, not solid";
}

// ---- mode lines through the real library ----

GtkTreeModel* ModeLineModel(GtkWidget* top) { return gtk_tree_view_get_model(GTK_TREE_VIEW(W(top, "mwModeLineList"))); }

bool FindRow(GtkWidget* top, const char* name, GtkTreeIter* row) {
  GtkTreeModel* model = ModeLineModel(top);
  for (bool ok = gtk_tree_model_get_iter_first(model, row); ok; ok = gtk_tree_model_iter_next(model, row)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, row, kMlName, &text, -1);
    const bool match = text != nullptr && std::string(text) == name;
    g_free(text);
    if (match) return true;
  }
  return false;
}

std::string Cell(GtkWidget* top, GtkTreeIter* row, int column) {
  gchar* text = nullptr;
  gtk_tree_model_get(ModeLineModel(top), row, column, &text, -1);
  std::string s = text ? text : "";
  g_free(text);
  return s;
}

// Types into a cell as the user does: the column's cell renderer emits
// "edited".
void Edit(GtkWidget* top, const char* rowName, int column, const char* text) {
  GtkTreeIter row;
  ASSERT_TRUE(FindRow(top, rowName, &row)) << rowName;
  GtkTreePath* path = gtk_tree_model_get_path(ModeLineModel(top), &row);
  gchar* pathText = gtk_tree_path_to_string(path);
  gtk_tree_path_free(path);
  GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(W(top, "mwModeLineList")), column);
  GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(col));
  ASSERT_NE(cells, nullptr);
  g_signal_emit_by_name(cells->data, "edited", pathText, text);
  g_list_free(cells);
  g_free(pathText);
}

TEST_F(AppTest, ModeLinesReachTheWrittenFileIntact) {
  // The file's mode line is a row at start, its clock as the file has it.
  GtkTreeIter row;
  ASSERT_TRUE(FindRow(top_, "filemode", &row));
  EXPECT_EQ(Cell(top_, &row, kMlClock), "74.176");
  EXPECT_EQ(Cell(top_, &row, kMlHdisp), "1280");
  EXPECT_EQ(Cell(top_, &row, kMlHPolarity), "Down(-)");
  EXPECT_EQ(Cell(top_, &row, kMlVPolarity), "Up(+)");

  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 1);
  gtk_button_clicked(GTK_BUTTON(Main("mtAddButton")));
  DrainEvents();
  ASSERT_TRUE(FindRow(top_, "new_modeline0", &row));

  // An unfinished row keeps Apply from writing and brings its page forward.
  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 0);
  ApplyConfiguration();
  EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(Main("notebook1"))), 1);
  ASSERT_EQ(app_->dialogs.messages.size(), 1u);
  EXPECT_EQ(app_->dialogs.messages[0].second, "Please enter a value in column Pixel clock for modeline name : new_modeline0");
  EXPECT_TRUE(app_->dialogs.questions.empty());
  app_->dialogs.messages.clear();

  const char* values[] = {"65.43", "1024", "1048", "1184", "1344", "768", "771", "777", "806"};
  Edit(top_, "new_modeline0", kMlName, "added");
  for (int c = kMlClock; c <= kMlVtotal; ++c) Edit(top_, "added", c, values[c - kMlClock]);
  Edit(top_, "added", kMlHPolarity, "Up(+)");
  Edit(top_, "added", kMlVPolarity, "Down(-)");
  ASSERT_TRUE(app_->dialogs.messages.empty()) << app_->dialogs.messages[0].second;

  SetOutputFilePathCtrl(app_->out.c_str());
  app_->dialogs.answers = {true};
  ApplyConfiguration();
  ASSERT_EQ(app_->dialogs.questions.size(), 1u);
  ASSERT_EQ(app_->dialogs.messages.size(), 1u);
  EXPECT_EQ(app_->dialogs.messages[0].first, "Attention") << app_->dialogs.messages[0].second;

  EXPECT_EQ(ModeLineWords(app_->out, "filemode"), kFileModeLine) << ReadFile(app_->out);
  EXPECT_EQ(ModeLineWords(app_->out, "added"),
            (std::vector<std::string>{"ModeLine", "\"added\"", "65.43", "1024", "1048", "1184", "1344", "768", "771",
                                      "777", "806", "+hsync", "-vsync"}))
      << ReadFile(app_->out);
  // The file the program started from is untouched.
  EXPECT_EQ(ModeLineWords(app_->conf, "filemode"), kFileModeLine);
  EXPECT_TRUE(ModeLineWords(app_->conf, "added").empty());

  // Nothing else: the list was cleared before the rows were written, in
  // the rows' order.
  std::vector<std::string> names;
  std::istringstream lines(ReadFile(app_->out));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string first, name;
    if (words >> first >> name && first == "ModeLine") names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"\"added\"", "\"filemode\""}));
}

// A key as the X server delivers it to the main window.
void PressKey(GtkWidget* top, guint keyval, guint state) {
  GdkKeymapKey* keys = nullptr;
  gint n = 0;
  ASSERT_TRUE(gdk_keymap_get_entries_for_keyval(gdk_keymap_get_default(), keyval, &keys, &n));
  ASSERT_GT(n, 0);
  GdkEvent* e = gdk_event_new(GDK_KEY_PRESS);
  e->key.window = GDK_WINDOW(g_object_ref(top->window));
  e->key.send_event = TRUE;
  e->key.time = GDK_CURRENT_TIME;
  e->key.state = state;
  e->key.keyval = keyval;
  e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
  e->key.group = static_cast<guint8>(keys[0].group);
  g_free(keys);
  gtk_main_do_event(e);
  gdk_event_free(e);
  DrainEvents();
}

// Ctrl+A applies, but not while a cell of the mode-line list is being
// edited: the editor gets the key (it selects the cell's text).
TEST_F(AppTest, AcceleratorsWaitWhileACellIsEdited) {
  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 1);
  DrainEvents();
  GtkTreeIter row;
  ASSERT_TRUE(FindRow(top_, "filemode", &row));
  GtkTreeView* list = GTK_TREE_VIEW(Main("mwModeLineList"));
  GtkTreePath* path = gtk_tree_model_get_path(ModeLineModel(top_), &row);
  gtk_tree_view_set_cursor(list, path, gtk_tree_view_get_column(list, kMlClock), TRUE);
  gtk_tree_path_free(path);
  DrainEvents();
  GtkWidget* editor = gtk_window_get_focus(GTK_WINDOW(top_));
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(GTK_IS_ENTRY(editor));
  ASSERT_STREQ(gtk_entry_get_text(GTK_ENTRY(editor)), "74.176");

  PressKey(top_, GDK_a, GDK_CONTROL_MASK);
  EXPECT_TRUE(app_->dialogs.questions.empty()) << app_->dialogs.questions[0];
  PressKey(top_, GDK_9, 0);
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(editor)), "9") << "the text was selected, then replaced";

  // Escape ends the edit and leaves the cell; then Ctrl+A applies.
  PressKey(top_, GDK_Escape, 0);
  EXPECT_EQ(Cell(top_, &row, kMlClock), "74.176");
  ASSERT_FALSE(GTK_IS_ENTRY(gtk_window_get_focus(GTK_WINDOW(top_))));
  PressKey(top_, GDK_a, GDK_CONTROL_MASK);
  ASSERT_EQ(app_->dialogs.questions.size(), 1u);
  EXPECT_EQ(app_->dialogs.questions[0].rfind("Are you sure you want to write new X Server config to ", 0), 0u);
  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 0);
}

// Escape closes (hides) the Advanced and Info windows, as it closes a
// dialog of the toolkit; other keys leave them open.
TEST_F(AppTest, EscapeHidesTheAdvancedAndInfoWindows) {
  const struct {
    const char* button;
    const char* title;
  } windows[] = {{"mwButtonAdv", "OrvaneConfig - Advanced"}, {"mwButtonInfo", "OrvaneConfig - Info"}};
  for (const auto& w : windows) {
    SCOPED_TRACE(w.title);
    gtk_button_clicked(GTK_BUTTON(Main(w.button)));
    DrainEvents();
    GtkWidget* window = Toplevel(w.title);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Visible(window));
    PressKey(window, GDK_Tab, 0);
    EXPECT_TRUE(Visible(window));
    PressKey(window, GDK_Escape, 0);
    EXPECT_FALSE(Visible(window));
    EXPECT_EQ(Toplevel(w.title), window) << "hidden, not destroyed";
  }
}

// What a message dialog of the toolkit showed before it was answered.
struct ShownMessage {
  std::string title;
  GtkMessageType type = GTK_MESSAGE_OTHER;
};

// Answers the message dialog on screen once there is one.
gboolean CloseShownMessage(gpointer data) {
  auto* shown = static_cast<ShownMessage*>(data);
  GList* all = gtk_window_list_toplevels();
  GtkWidget* dialog = nullptr;
  for (GList* l = all; l != nullptr; l = l->next)
    if (GTK_IS_MESSAGE_DIALOG(l->data) && GTK_WIDGET_VISIBLE(GTK_WIDGET(l->data))) dialog = GTK_WIDGET(l->data);
  g_list_free(all);
  if (dialog == nullptr) return TRUE;
  shown->title = gtk_window_get_title(GTK_WINDOW(dialog));
  g_object_get(dialog, "message-type", &shown->type, nullptr);
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CLOSE);
  return FALSE;
}

// Messages titled "Warning" or "Attention" show the warning icon; errors
// keep the error icon.
TEST_F(AppTest, WarningsShowTheWarningIcon) {
  InitWindowUtil(top_);  // the toolkit's dialogs instead of the scripted ones
  const struct {
    const char* title;
    GtkMessageType type;
  } cases[] = {{"Warning", GTK_MESSAGE_WARNING}, {"Attention", GTK_MESSAGE_WARNING}, {"Error", GTK_MESSAGE_ERROR}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ShownMessage shown;
    g_timeout_add(20, CloseShownMessage, &shown);
    OutputMsg("Something to say", c.title);
    EXPECT_EQ(shown.title, c.title);
    EXPECT_EQ(shown.type, c.type);
  }
  SetUserDialogs(&app_->dialogs);
}

// ---- start-up messages ----

// The warnings start-up gives for what the probe found; the tests run
// without the configuration extension, so its warning always comes.
TEST_F(AppTest, StartupMessagesFollowTheProbe) {
  const std::pair<std::string, std::string> extension = {
      "Warning",
      "You are currently running this application without the ORVCFG X Server extension. No modeline validation "
      "will be possible."};
  const struct {
    const char* name;
    std::string failure;
    int probe;
    std::vector<std::pair<std::string, std::string>> messages;
  } cases[] = {
      {"one board", "", 0, {extension}},
      {"more than one board", "", 3, {extension, {"Warning", ErrorCodeToString(3)}}},
      {"no board", "", 26, {extension, {"Warning", "Orvane card can't be found in system or in card database"}}},
      {"library stopped", "Parse error on line 2", kLibraryAborted, {{"Error", "Parse error on line 2"}, extension}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app_->dialogs = ScriptedDialogs{};
    ShowStartupMessages(c.failure, c.probe);
    EXPECT_EQ(app_->dialogs.messages, c.messages);
  }
}

// ---- apply through the library ----

int s_exits = 0;

// Apply in a GNOME session onto an existing file: the library rewrites it,
// the backup holds the old file, the temporary file is gone and a restart
// is offered; yes runs the session command.
TEST_F(AppTest, ApplyKeepsABackupAndOffersARestart) {
  const std::string target = app_->dir + "/target/xorg.conf";
  fs::create_directories(app_->dir + "/target");
  const std::string old = ReadFile(app_->conf);
  WriteFile(target, old);
  std::remove((app_->dir + "/commands.log").c_str());
  gtk_notebook_set_current_page(GTK_NOTEBOOK(Main("notebook1")), 0);
  SelectOutputs(top_, "1");
  DrainEvents();
  gtk_combo_box_set_active(GTK_COMBO_BOX(Main("mwCombo12Bpp")), 2);  // 24
  ASSERT_EQ(GetBppCtrl(0), 24);
  ASSERT_NE(old.find("DefaultDepth     16"), std::string::npos) << "the file starts at depth 16";

  SetOutputFilePathCtrl(target.c_str());
  SetExitHandler([] { ++s_exits; });
  setenv("GNOME_DESKTOP_SESSION_ID", "1", 1);
  app_->dialogs.answers = {true, true};
  const size_t rewrites = app_->engine.rewritten.size();
  testing::internal::CaptureStdout();
  ApplyConfiguration();
  const std::string out = testing::internal::GetCapturedStdout();
  unsetenv("GNOME_DESKTOP_SESSION_ID");
  // The file the user named is the one said to be written, once; the
  // library's own writes of the temporary file go unannounced.
  EXPECT_EQ(out, "Writing config file to `" + target + "'\n");

  ASSERT_EQ(app_->dialogs.messages.size(), 0u) << app_->dialogs.messages[0].second;
  ASSERT_EQ(app_->dialogs.questions.size(), 2u);
  EXPECT_EQ(app_->dialogs.questions[1].rfind("Your config file was successfully modified.  A backup file can be "
                                             "found at (" + target + ".bak).",
                                             0),
            0u);
  EXPECT_EQ(ReadFile(target + ".bak"), old);
  const std::string written = ReadFile(target);
  EXPECT_NE(written, old);
  EXPECT_NE(written.find("DefaultDepth     24"), std::string::npos) << written;
  EXPECT_EQ(ModeLineWords(target, "filemode"), kFileModeLine);
  ASSERT_EQ(app_->engine.rewritten.size(), rewrites + 1);
  const std::string temp = app_->engine.rewritten.back();
  EXPECT_EQ(temp.rfind("/tmp/orvaneconfig-", 0), 0u);
  EXPECT_FALSE(fs::exists(temp)) << temp;
  EXPECT_FALSE(fs::exists(temp + ".bak")) << temp;

  std::string log;
  for (int i = 0; i < 200 && log.find("gnome-session-save --kill") == std::string::npos; ++i) {
    g_usleep(10000);
    log = ReadFile(app_->dir + "/commands.log");
  }
  EXPECT_NE(log.find("gnome-session-save --kill"), std::string::npos) << log;
  EXPECT_EQ(s_exits, 1);
}

// A configuration the library refuses to work on ends its call; apply
// reports the library's own message and leaves the target alone. (The library reads
// XORGCONFIG once, so the file itself is spoilt for the test.)
TEST_F(AppTest, ApplyReportsTheLibraryMessageForABadConfiguration) {
  struct Restore {
    std::string path, bytes;
    ~Restore() { WriteFile(path, bytes); }
  } restore{app_->conf, ReadFile(app_->conf)};
  WriteFile(app_->conf, restore.bytes +
                       "Section \"ServerLayout\"\n\tIdentifier \"Second\"\n\tScreen \"orvwizard_screen_0\"\n"
                       "\tInputDevice \"Keyboard0\" \"CoreKeyboard\"\n\tInputDevice \"Mouse0\" \"CorePointer\"\n"
                       "EndSection\n");
  const std::string target = app_->dir + "/untouched.conf";
  WriteFile(target, "old\n");
  SetOutputFilePathCtrl(target.c_str());
  app_->dialogs.answers = {true};
  ApplyConfiguration();
  ASSERT_EQ(app_->dialogs.messages.size(), 1u);
  EXPECT_EQ(app_->dialogs.messages[0].first, "Error");
  const std::string& text = app_->dialogs.messages[0].second;
  EXPECT_EQ(text.rfind("Error : You can only have one server layout section with this tool.", 0), 0u) << text;
  EXPECT_EQ(ReadFile(target), "old\n");
}

// The window manager's close button asks first; No keeps the window, Yes
// ends the program.
TEST_F(AppTest, ClosingTheMainWindowAsksFirst) {
  SetExitHandler([] { ++s_exits; });
  for (bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    app_->dialogs = ScriptedDialogs{};
    app_->dialogs.answers = {yes};
    s_exits = 0;
    SendDelete(top_);
    EXPECT_EQ(app_->dialogs.questions, std::vector<std::string>{"Are you sure you want to quit ?"});
    EXPECT_TRUE(Visible(top_)) << "the delete event is stopped";
    EXPECT_EQ(s_exits, yes ? 1 : 0);
  }
}

}  // namespace
