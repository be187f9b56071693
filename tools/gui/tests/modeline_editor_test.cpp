#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "tools/gui/ComboBoxCellEditable.h"
#include "tools/gui/UiModeLineTab.h"
#include "tools/gui/tests/gui2_xvfb.h"
#include "tools/lib/Probe.h"

// GTK keeps process-wide caches that the leak checker would report.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

// The mode-line collections as the editor sees them.
struct FakeCollector {
  UiModeLine preferred[4] = {};
  std::list<UiModeLine> custom;  // newest first
  PrivateList* customList = nullptr;
  std::vector<std::string> errors;
};
FakeCollector* g_col = nullptr;

ModeLineTabServices FakeServices() {
  ModeLineTabServices s{};
  s.addPreferredModeLine = [](const UiModeLine* m, int output) { g_col->preferred[output] = *m; };
  s.addCustomModeLine = [](const UiModeLine* m) { g_col->custom.push_front(*m); };
  s.findMatchingModeLine = [](const char* name) -> UiModeLine* {
    for (UiModeLine& m : g_col->preferred)
      if (m.name[0] && std::strcmp(m.name, name) == 0) return &m;
    for (UiModeLine& m : g_col->custom)
      if (std::strcmp(m.name, name) == 0) return &m;
    return nullptr;
  };
  s.removeModeLineFromCollector = [](const char* name) {
    for (UiModeLine& m : g_col->preferred)
      if (m.name[0] && std::strcmp(m.name, name) == 0) {
        m = UiModeLine{};
        return;
      }
    for (auto it = g_col->custom.begin(); it != g_col->custom.end(); ++it)
      if (std::strcmp(it->name, name) == 0) {
        g_col->custom.erase(it);
        return;
      }
  };
  s.getPreferredModeLine = [](int output) -> const UiModeLine* { return &g_col->preferred[output]; };
  s.getCustomModeLineList = []() -> PrivateList* { return g_col->customList; };
  s.showError = [](const char* message) { g_col->errors.push_back(message); };
  return s;
}

UiModeLine Mode(const char* name, double clock, std::array<int32_t, 8> t, int hp = 0, int vp = 0) {
  UiModeLine m{};
  std::strcpy(m.name, name);
  m.clock = clock;
  m.hdisplay = t[0], m.hsyncstart = t[1], m.hsyncend = t[2], m.htotal = t[3];
  m.vdisplay = t[4], m.vsyncstart = t[5], m.vsyncend = t[6], m.vtotal = t[7];
  m.hpolarity = ModelinePolarity(hp);
  m.vpolarity = ModelinePolarity(vp);
  return m;
}

class ModeLineEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_XVFB();
    g_col = &col_;
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    notebook_ = gtk_notebook_new();
    scrolled_ = gtk_scrolled_window_new(nullptr, nullptr);
    view_ = gtk_tree_view_new();
    gtk_container_add(GTK_CONTAINER(scrolled_), view_);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), gtk_label_new("Settings"), nullptr);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), scrolled_, nullptr);
    gtk_container_add(GTK_CONTAINER(window_), notebook_);
    gtk_window_set_default_size(GTK_WINDOW(window_), 620, 300);
    g_object_set_data(G_OBJECT(window_), "mwModeLineList", view_);
    g_object_set_data(G_OBJECT(window_), "notebook1", notebook_);
  }
  void Init(const PrivateList* preferred = nullptr, const PrivateList* file = nullptr) {
    InitUiModeLineTab(window_, FakeServices(), preferred, file);
    gtk_widget_show_all(window_);
    SetFocusModeLineTab();
    DrainEvents();
  }
  void TearDown() override {
    if (!window_) return;
    ShutdownUiModeLineTab();
    gtk_widget_destroy(window_);
    DrainEvents();
    g_col = nullptr;
  }

  GtkTreeModel* Model() { return gtk_tree_view_get_model(GTK_TREE_VIEW(view_)); }
  int Rows() { return gtk_tree_model_iter_n_children(Model(), nullptr); }
  std::string Cell(int row, int column) {
    GtkTreeIter it;
    if (!gtk_tree_model_iter_nth_child(Model(), &it, nullptr, row)) return "<no row>";
    gchar* text = nullptr;
    gtk_tree_model_get(Model(), &it, column, &text, -1);
    std::string s = text ? text : "";
    g_free(text);
    return s;
  }
  std::string Colour(int row) {
    GtkTreeIter it;
    gtk_tree_model_iter_nth_child(Model(), &it, nullptr, row);
    GdkColor* c = nullptr;
    gtk_tree_model_get(Model(), &it, kMlColor, &c, -1);
    std::string s = !c ? "none" : c->red == 0xffff && c->green == 0 && c->blue == 0 ? "Red"
                                : c->red == 0 && c->green == 0 && c->blue == 0      ? "Black"
                                                                                    : "other";
    if (c) gdk_color_free(c);
    return s;
  }
  GtkCellRenderer* Renderer(int column) {
    GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(view_), column);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(col));
    GtkCellRenderer* r = GTK_CELL_RENDERER(cells->data);
    g_list_free(cells);
    return r;
  }
  void Edit(int row, int column, const char* text) {
    std::string path = std::to_string(row);
    CellEditedCb(GTK_CELL_RENDERER_TEXT(Renderer(column)), path.data(), const_cast<gchar*>(text),
                 nullptr);
  }
  // Puts text into a cell as a new row holds it, past the edit checks.
  void SetCell(int row, int column, const char* text) {
    GtkTreeIter it;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(Model(), &it, nullptr, row));
    gtk_list_store_set(GTK_LIST_STORE(Model()), &it, column, text, -1);
  }
  UiModeLine* Collected(const char* name) { return FakeServices().findMatchingModeLine(name); }
  int SelectedRow() {
    GtkTreeIter it;
    GtkTreeModel* m = nullptr;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(view_)), &m, &it))
      return -1;
    GtkTreePath* p = gtk_tree_model_get_path(m, &it);
    int r = gtk_tree_path_get_indices(p)[0];
    gtk_tree_path_free(p);
    return r;
  }
  void FillValid(int row) {
    const char* values[] = {"65.5", "1024", "1048", "1184", "1344", "768", "771", "777", "806"};
    for (int c = kMlClock; c <= kMlVtotal; ++c) Edit(row, c, values[c - kMlClock]);
  }

  FakeCollector col_;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  GtkWidget* scrolled_ = nullptr;
  GtkWidget* view_ = nullptr;
};

TEST_F(ModeLineEditor, AddGivesNumberedEmptyRowsAtTheTop) {
  Init();
  AddNewModeLineCtrl();
  AddNewModeLineCtrl();
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, kMlName), "new_modeline1");
  EXPECT_EQ(Cell(1, kMlName), "new_modeline0");
  for (int row = 0; row < 2; ++row) {
    for (int c = kMlClock; c <= kMlVtotal; ++c) EXPECT_EQ(Cell(row, c), "0000") << row << "," << c;
    EXPECT_EQ(Cell(row, kMlHPolarity), "Up(+)");
    EXPECT_EQ(Cell(row, kMlVPolarity), "Up(+)");
    EXPECT_EQ(Colour(row), "Red");
  }
  ASSERT_EQ(col_.custom.size(), 2u);
  EXPECT_STREQ(col_.custom.front().name, "new_modeline1");
  EXPECT_EQ(col_.custom.front().clock, 0.0);
  // The lowest free number is reused.
  Edit(1, kMlName, "mine");
  AddNewModeLineCtrl();
  EXPECT_EQ(Cell(0, kMlName), "new_modeline0");
}

struct EditCase {
  int column;
  const char* text;
  const char* error;  // null: accepted
};

TEST_F(ModeLineEditor, CellEditsAreCheckedBeforeTheyReachTheCollection) {
  const char* kBadNumber = "You entered an invalid number. Please use a positive value.";
  const char* kBadName = "A modeline name must have 1 to 103 characters and no double quote.";
  const std::string kLongName(104, 'n');
  const EditCase cases[] = {
      {kMlClock, "65,5", kBadNumber},     {kMlClock, "-1", kBadNumber},
      {kMlClock, "1.2.3", kBadNumber},    {kMlClock, ".", kBadNumber},
      {kMlClock, "9999999", kBadNumber},  // not representable in kHz
      {kMlHdisp, "12a", kBadNumber},      {kMlHdisp, "-1", kBadNumber},
      {kMlHdisp, "1.5", kBadNumber},      {kMlHdisp, "99999999999", kBadNumber},
      {kMlName, "a\"b", kBadName},        {kMlName, "", kBadName},
      {kMlName, kLongName.c_str(), kBadName},
  };
  Init();
  AddNewModeLineCtrl();
  for (const EditCase& c : cases) {
    col_.errors.clear();
    Edit(0, c.column, c.text);
    ASSERT_EQ(col_.errors.size(), 1u) << c.column << " '" << c.text << "'";
    EXPECT_EQ(col_.errors[0], c.error) << c.column << " '" << c.text << "'";
  }
  EXPECT_EQ(Cell(0, kMlName), "new_modeline0");
  EXPECT_EQ(Cell(0, kMlClock), "0000");
  EXPECT_EQ(Cell(0, kMlHdisp), "0000");
  const UiModeLine* m = Collected("new_modeline0");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->clock, 0.0);
  EXPECT_EQ(m->hdisplay, 0);
  EXPECT_EQ(Colour(0), "Red");
}

TEST_F(ModeLineEditor, AcceptedEditsUpdateCellCollectionAndColour) {
  Init();
  AddNewModeLineCtrl();
  FillValid(0);
  EXPECT_TRUE(col_.errors.empty());
  const UiModeLine* m = Collected("new_modeline0");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->clock, 65.5);
  EXPECT_EQ(m->hdisplay, 1024);
  EXPECT_EQ(m->vtotal, 806);
  EXPECT_EQ(Cell(0, kMlClock), "65.5");
  // Without the configuration extension an ordered mode line is accepted.
  EXPECT_EQ(Colour(0), "Black");

  // Each timing must be above the one before it: a sync that starts before
  // the display ends, or two equal neighbours, marks the row red.
  const struct {
    int column;
    const char* text;
  } unordered[] = {
      {3, "1000"},  // hsync start before hdisp
      {3, "1024"},  // hsync start = hdisp
      {5, "1184"},  // htotal = hsync end
      {7, "768"},   // vsync start = vdisp
      {8, "806"},   // vsync end = vtotal
  };
  for (const auto& u : unordered) {
    const std::string before = Cell(0, u.column);
    Edit(0, u.column, u.text);
    EXPECT_EQ(Colour(0), "Red") << "column " << u.column << " = " << u.text;
    Edit(0, u.column, before.c_str());
    EXPECT_EQ(Colour(0), "Black") << "column " << u.column << " back to " << before;
  }

  Edit(0, kMlHPolarity, "Down(-)");
  EXPECT_EQ(Collected("new_modeline0")->hpolarity, kPolarityNegative);
  EXPECT_EQ(Cell(0, kMlHPolarity), "Down(-)");

  Edit(0, kMlName, "new_modeline0");  // its own name
  EXPECT_TRUE(col_.errors.empty());
  Edit(0, kMlName, "my1024");
  EXPECT_EQ(Cell(0, kMlName), "my1024");
  EXPECT_EQ(Collected("new_modeline0"), nullptr);
  ASSERT_NE(Collected("my1024"), nullptr);
  EXPECT_EQ(Collected("my1024")->clock, 65.5);
  EXPECT_EQ(Colour(0), "Black");
}

TEST_F(ModeLineEditor, RenamingToAnotherRowsNameIsRefused) {
  Init();
  AddNewModeLineCtrl();
  AddNewModeLineCtrl();
  Edit(0, kMlName, "new_modeline0");
  ASSERT_EQ(col_.errors.size(), 1u);
  EXPECT_EQ(col_.errors[0], "A modeline with this name already exists, please use a different one.");
  EXPECT_EQ(Cell(0, kMlName), "new_modeline1");
  EXPECT_NE(Collected("new_modeline1"), nullptr);
}

TEST_F(ModeLineEditor, IncompleteRowsBlockSaving) {
  Init();
  EXPECT_TRUE(IsEveryModeLineValidCtrl());  // an empty list is complete
  AddNewModeLineCtrl();
  FillValid(0);
  EXPECT_TRUE(IsEveryModeLineValidCtrl());
  EXPECT_TRUE(col_.errors.empty());

  const struct {
    int column;
    const char* text;
    const char* message;
  } cases[] = {
      {kMlVtotal, "0000", "Please enter a value in column VSync total for modeline name : new_modeline0"},
      {kMlClock, "0000", "Please enter a value in column Pixel clock for modeline name : new_modeline0"},
      {6, "", "Please enter a value in column Vsync for modeline name : new_modeline0"},
  };
  for (const auto& c : cases) {
    const std::string before = Cell(0, c.column);
    SetCell(0, c.column, c.text);
    col_.errors.clear();
    EXPECT_FALSE(IsEveryModeLineValidCtrl()) << c.column;
    ASSERT_EQ(col_.errors.size(), 1u);
    EXPECT_EQ(col_.errors[0], c.message);
    SetCell(0, c.column, before.c_str());
  }
  col_.errors.clear();
  EXPECT_TRUE(IsEveryModeLineValidCtrl());
}

TEST_F(ModeLineEditor, RemovingSelectsTheNeighbourAndLeavesTheCollection) {
  Init();
  for (int i = 0; i < 3; ++i) AddNewModeLineCtrl();  // rows 2, 1, 0
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(view_));
  GtkTreePath* last = gtk_tree_path_new_from_indices(2, -1);
  gtk_tree_selection_select_path(sel, last);
  gtk_tree_path_free(last);
  RemoveModeLineCtrl();
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(SelectedRow(), 1);
  EXPECT_EQ(Collected("new_modeline0"), nullptr);
  EXPECT_EQ(col_.custom.size(), 2u);

  GtkTreePath* first = gtk_tree_path_new_from_indices(0, -1);
  gtk_tree_selection_select_path(sel, first);
  gtk_tree_path_free(first);
  RemoveModeLineCtrl();
  EXPECT_EQ(Cell(0, kMlName), "new_modeline1");
  EXPECT_EQ(SelectedRow(), 0);

  RemoveModeLineCtrl();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(SelectedRow(), -1);
  EXPECT_TRUE(col_.custom.empty());
  RemoveModeLineCtrl();  // nothing selected: nothing happens
}

bool SameModeLine(const UiModeLine& a, const UiModeLine& b) {
  return std::strcmp(a.name, b.name) == 0 && a.clock == b.clock && a.hdisplay == b.hdisplay &&
         a.hsyncstart == b.hsyncstart && a.hsyncend == b.hsyncend && a.htotal == b.htotal &&
         a.vdisplay == b.vdisplay && a.vsyncstart == b.vsyncstart && a.vsyncend == b.vsyncend &&
         a.vtotal == b.vtotal && a.hpolarity == b.hpolarity && a.vpolarity == b.vpolarity;
}

TEST_F(ModeLineEditor, ModeLinesOfTheFileComeBackUnchanged) {
  const UiModeLine pref = Mode("1280x1024_pref", 108.5, {1280, 1328, 1440, 1688, 1024, 1025, 1028, 1066});
  const UiModeLine vga = Mode("vga", 25.175, {640, 656, 752, 800, 480, 490, 492, 525}, 1, 1);
  const UiModeLine odd = Mode("odd", 5.123, {320, 336, 368, 400, 240, 243, 246, 262}, 1, 0);
  CardPreferredMode cp{};
  cp.output = 1;
  cp.mode = pref;
  PrivateList* preferred = PrivateListAppend(nullptr, &cp, sizeof cp, nullptr);
  PrivateList* file = nullptr;
  for (const UiModeLine* m : {&pref, &vga, &odd}) file = PrivateListAppend(file, m, sizeof *m, nullptr);

  Init(preferred, file);
  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(Cell(0, kMlName), "1280x1024_pref");
  EXPECT_EQ(Cell(0, kMlClock), "108.50");
  EXPECT_EQ(Cell(1, kMlName), "vga");
  EXPECT_EQ(Cell(1, kMlClock), "25.175");
  EXPECT_EQ(Cell(1, kMlHPolarity), "Down(-)");
  EXPECT_EQ(Cell(2, kMlClock), "5.123");
  EXPECT_EQ(Cell(2, kMlVPolarity), "Up(+)");
  EXPECT_TRUE(SameModeLine(col_.preferred[1], pref));
  ASSERT_EQ(col_.custom.size(), 2u);
  EXPECT_TRUE(SameModeLine(col_.custom.front(), odd));
  EXPECT_TRUE(IsThisAModeLine("vga"));
  EXPECT_FALSE(IsThisAModeLine("VGA"));

  // The collected rows, last row first, are the records that were read.
  PrivateList* rows = GetModeLineList();
  std::vector<UiModeLine> got;
  for (PrivateList* n = rows; n; n = n->next) got.push_back(*static_cast<UiModeLine*>(n->Payload()));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(SameModeLine(got[0], odd));
  EXPECT_TRUE(SameModeLine(got[1], vga));
  EXPECT_TRUE(SameModeLine(got[2], pref));

  PrivateDeleteList(preferred);
  PrivateDeleteList(file);
}

TEST(ModeLineClockText, KeepsEveryDigitItNeeds) {
  const struct {
    double mhz;
    const char* text;
  } cases[] = {{65.5, "65.50"}, {108.0, "108.00"}, {9.5, " 9.50"}, {25.175, "25.175"},
               {0.0, " 0.00"},  {162.0005, "162.0005"}};
  for (const auto& c : cases) {
    char out[64];
    FormatModeLineClock(c.mhz, out, sizeof out);
    EXPECT_STREQ(out, c.text) << c.mhz;
  }
  EXPECT_EQ(ConvertToEnum("Up(+)"), 0);
  EXPECT_EQ(ConvertToEnum("Down(-)"), 1);
  EXPECT_EQ(ConvertToEnum("up(+)"), 1);
}

// The polarity cells are edited through the pop-up menu of the tree view.
TEST_F(ModeLineEditor, PolarityMenuChangesTheCellOnlyWhenAWordIsChosen) {
  Init();
  AddNewModeLineCtrl();
  FillValid(0);
  GtkTreeView* view = GTK_TREE_VIEW(view_);
  GtkTreePath* path = gtk_tree_path_new_from_indices(0, -1);

  auto startEditing = [&]() -> GtkWidget* {
    gtk_tree_view_set_cursor(view, path, gtk_tree_view_get_column(view, kMlHPolarity), TRUE);
    DrainEvents();
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
    GList* kids = gtk_container_get_children(GTK_CONTAINER(view_));
    GtkWidget* editable = nullptr;
    for (GList* k = kids; k; k = k->next)
      if (G_TYPE_CHECK_INSTANCE_TYPE(k->data, ComboBoxCellEditableGetType())) editable = GTK_WIDGET(k->data);
    g_list_free(kids);
    (void)focus;
    return editable;
  };

  GtkWidget* editable = startEditing();
  ASSERT_NE(editable, nullptr);
  GtkWidget* menu = ComboBoxCellEditableGetMenu(reinterpret_cast<ComboBoxCellEditable*>(editable));
  ASSERT_NE(menu, nullptr);
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  ASSERT_EQ(g_list_length(items), 2u);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(items->data)))), "Up(+)");
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(items->next->data)))), "Down(-)");
  // Closing the menu without a choice changes nothing.
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
  g_list_free(items);
  DrainEvents();
  EXPECT_EQ(Cell(0, kMlHPolarity), "Up(+)");
  EXPECT_EQ(Collected("new_modeline0")->hpolarity, kPolarityPositive);
  EXPECT_TRUE(col_.errors.empty());

  editable = startEditing();
  ASSERT_NE(editable, nullptr);
  menu = ComboBoxCellEditableGetMenu(reinterpret_cast<ComboBoxCellEditable*>(editable));
  items = gtk_container_get_children(GTK_CONTAINER(menu));
  gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), GTK_WIDGET(items->next->data), TRUE);
  g_list_free(items);
  DrainEvents();
  EXPECT_EQ(Cell(0, kMlHPolarity), "Down(-)");
  EXPECT_EQ(Collected("new_modeline0")->hpolarity, kPolarityNegative);
  gtk_tree_path_free(path);
}

}  // namespace
