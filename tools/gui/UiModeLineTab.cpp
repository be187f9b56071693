#include "tools/gui/UiModeLineTab.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/gui/CellRendererComboBox.h"
#include "tools/lib/Probe.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/XValidationInterface.h"

namespace {

constexpr const char* kPolarityWords[] = {"Up(+)", "Down(-)"};
constexpr const char* kEmptyValue = "0000";
constexpr const char* kNewNameFormat = "new_modeline%d";
constexpr const char* kColumnKey = "my_column_num";
constexpr int kModeLinePage = 1;

struct ColumnInfo {
  const char* header;
  const char* messageName;
};

const ColumnInfo kColumns[kMlColor] = {
    {"   Name   ", "Name"},                 // 0
    {"Pixel clock\n   (MHz)", "Pixel clock"},  // 1
    {"Hdisp", "Hdisp"},                     // 2
    {"Hsync\n  start", "Hsync start"},      // 3
    {"Hsync\n  end", "Hsync end"},          // 4
    {"Htotal", "Hsync total"},              // 5
    {"Vdisp", "Vsync"},                     // 6
    {"Vsync\n  start", "VSync start"},      // 7
    {"Vsync\n  end", "Vsync end"},          // 8
    {"Vtotal", "VSync total"},              // 9
    {"HSync polarity", "HSync"},            // 10
    {"VSync polarity", "VSync"},            // 11
};

constexpr char kMsgNameExists[] = "A modeline with this name already exists, please use a different one.";
constexpr char kMsgInvalidNumber[] = "You entered an invalid number. Please use a positive value.";
constexpr char kMsgInvalidName[] =
    "A modeline name must have 1 to 103 characters and no double quote.";
constexpr char kMsgMissingValue[] = "Please enter a value in column %s for modeline name : %s";

struct ModeLineTab {
  GtkWidget* window = nullptr;
  GtkTreeView* view = nullptr;
  GtkListStore* store = nullptr;
};

ModeLineTab s_tab;

void ShowError(const char* message) {
  if (GetModeLineTabServices().showError) GetModeLineTabServices().showError(message);
}

std::string CellText(GtkTreeIter* row, int column) {
  gchar* text = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(s_tab.store), row, column, &text, -1);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

void ScrollTo(GtkTreeIter* row) {
  GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(s_tab.store), row);
  gtk_tree_view_scroll_to_cell(s_tab.view, path, nullptr, FALSE, 0, 0);
  gtk_tree_path_free(path);
}

void ClearSelection() { gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(s_tab.view)); }

void TimingText(int32_t v, char* out, size_t size) { std::snprintf(out, size, "%d", v); }

bool HasRowNamed(const char* name) {
  GtkTreeIter row;
  GtkTreeModel* model = GTK_TREE_MODEL(s_tab.store);
  if (!model || !gtk_tree_model_get_iter_first(model, &row)) return false;
  do {
    if (CellText(&row, kMlName) == name) return true;
  } while (gtk_tree_model_iter_next(model, &row));
  return false;
}

GtkTreeViewColumn* AddTextColumn(int column) {
  GtkCellRenderer* cell = gtk_cell_renderer_text_new();
  g_object_set(cell, "editable", TRUE, nullptr);
  g_object_set_data(G_OBJECT(cell), kColumnKey, GINT_TO_POINTER(column));
  g_signal_connect(cell, "edited", G_CALLBACK(CellEditedCb), nullptr);
  GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
      kColumns[column].header, cell, "text", column, "foreground-gdk", kMlColor, nullptr);
  gtk_tree_view_append_column(s_tab.view, col);
  return col;
}

void AddPolarityColumn(int column) {
  GtkListStore* words = gtk_list_store_new(1, G_TYPE_STRING);
  for (const char* word : kPolarityWords) {
    GtkTreeIter it;
    gtk_list_store_append(words, &it);
    gtk_list_store_set(words, &it, 0, word, -1);
  }
  GtkCellRenderer* cell = CellRendererComboBoxNew();
  g_object_set(cell, "model", words, "text-column", 0, "editable", TRUE, nullptr);
  g_object_unref(words);
  g_object_set_data(G_OBJECT(cell), kColumnKey, GINT_TO_POINTER(column));
  g_signal_connect(cell, "edited", G_CALLBACK(CellEditedCb), nullptr);
  GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
      kColumns[column].header, cell, "text", column, "foreground-gdk", kMlColor, nullptr);
  gtk_tree_view_append_column(s_tab.view, col);
}

}  // namespace

int ValidateModeLineWithBoard(const UiModeLine* m) {
  if (ORVCommIsORVCfgExtFound()) return XValidValidateModeLine(0, m);
  const bool ordered = m->hdisplay < m->hsyncstart && m->hsyncstart < m->hsyncend &&
                       m->hsyncend < m->htotal && m->vdisplay < m->vsyncstart &&
                       m->vsyncstart < m->vsyncend && m->vsyncend < m->vtotal;
  return ordered ? 1 : 0;
}

void FormatModeLineClock(double mhz, char* out, size_t size) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, mhz, std::chars_format::fixed, 2);
  double back = 0;
  std::from_chars(buf, r.ptr, back, std::chars_format::fixed);
  if (back != mhz) r = std::to_chars(buf, buf + sizeof buf, mhz, std::chars_format::fixed);
  *r.ptr = '\0';
  std::snprintf(out, size, "%5s", buf);
}

int ConvertToEnum(const char* text) {
  return text && std::strcmp(text, kPolarityWords[0]) == 0 ? kPolarityPositive : kPolarityNegative;
}

void InitUiModeLineTab(GtkWidget* window, const ModeLineTabServices& services,
                       const PrivateList* preferredModes, const PrivateList* fileModeLines) {
  assert(window != nullptr);
  s_tab.window = window;
  ModeLineTabServices withCheck = services;
  if (!withCheck.validate) withCheck.validate = ValidateModeLineWithBoard;
  SetModeLineTabServices(withCheck);
  s_tab.view = GTK_TREE_VIEW(g_object_get_data(G_OBJECT(window), "mwModeLineList"));
  assert(s_tab.view != nullptr);

  GType types[kMlColumnCount];
  for (int i = 0; i < kMlColor; ++i) types[i] = G_TYPE_STRING;
  types[kMlColor] = GDK_TYPE_COLOR;
  s_tab.store = gtk_list_store_newv(kMlColumnCount, types);
  gtk_tree_view_set_model(s_tab.view, GTK_TREE_MODEL(s_tab.store));
  g_object_unref(s_tab.store);  // the view holds it

  for (int column = kMlName; column <= kMlVtotal; ++column) AddTextColumn(column);
  AddPolarityColumn(kMlHPolarity);
  AddPolarityColumn(kMlVPolarity);

  InitUiModeLineTabCtrl(preferredModes, fileModeLines);
}

void SetFocusModeLineTab() {
  GtkWidget* notebook = GTK_WIDGET(g_object_get_data(G_OBJECT(s_tab.window), "notebook1"));
  if (notebook) gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook), kModeLinePage);
}

void SetModeLineUiColor(GtkListStore* store, GtkTreeIter* row, const UiModeLine* modeLine) {
  GdkColor color;
  gdk_color_parse(GetModeLineTabServices().validate(modeLine) ? "Black" : "Red", &color);
  gtk_list_store_set(store, row, kMlColor, &color, -1);
}

void AddModeLine(const UiModeLine* m, int hPolarity, int vPolarity) {
  GtkTreeIter row;
  gtk_list_store_append(s_tab.store, &row);
  char clock[64];
  FormatModeLineClock(m->clock, clock, sizeof clock);
  gtk_list_store_set(s_tab.store, &row, kMlName, m->name, kMlClock, clock, -1);
  UiModeLine copy = *m;
  for (int column = kMlHdisp; column <= kMlVtotal; ++column) {
    char text[16];
    TimingText(*ModeLineTimingField(&copy, column), text, sizeof text);
    gtk_list_store_set(s_tab.store, &row, column, text, -1);
  }
  gtk_list_store_set(s_tab.store, &row, kMlHPolarity, kPolarityWords[hPolarity == 0 ? 0 : 1],
                     kMlVPolarity, kPolarityWords[vPolarity == 0 ? 0 : 1], -1);
  ClearSelection();
  ScrollTo(&row);
  SetModeLineUiColor(s_tab.store, &row, m);
}

void AddEmptyNewLine() {
  char name[sizeof(UiModeLine{}.name)];
  for (int k = 0;; ++k) {
    std::snprintf(name, sizeof name, kNewNameFormat, k);
    if (!HasRowNamed(name)) break;
  }
  GtkTreeIter row;
  gtk_list_store_prepend(s_tab.store, &row);
  gtk_list_store_set(s_tab.store, &row, kMlName, name, -1);
  for (int column = kMlClock; column <= kMlVtotal; ++column)
    gtk_list_store_set(s_tab.store, &row, column, kEmptyValue, -1);
  gtk_list_store_set(s_tab.store, &row, kMlHPolarity, kPolarityWords[0], kMlVPolarity,
                     kPolarityWords[0], -1);
  UiModeLine mode{};
  std::snprintf(mode.name, sizeof mode.name, "%s", name);
  AddModeLineToCollectorCtrl(&mode);
  SetModeLineUiColor(s_tab.store, &row, &mode);
  ScrollTo(&row);
}

void RemoveModeLine(GtkTreeIter* row) {
  const std::string name = CellText(row, kMlName);
  gtk_list_store_remove(s_tab.store, row);
  RemoveModeLineFromNameCtrl(name.c_str());
}

void RemoveSelectedModeLine() {
  GtkTreeSelection* selection = gtk_tree_view_get_selection(s_tab.view);
  GtkTreeModel* model = nullptr;
  GtkTreeIter row;
  if (!gtk_tree_selection_get_selected(selection, &model, &row)) return;
  GtkTreePath* path = gtk_tree_model_get_path(model, &row);
  int index = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  RemoveModeLine(&row);

  const int remaining = gtk_tree_model_iter_n_children(model, nullptr);
  if (remaining == 0) return;
  if (index >= remaining) index = remaining - 1;
  GtkTreeIter next;
  if (gtk_tree_model_iter_nth_child(model, &next, nullptr, index)) {
    gtk_tree_selection_select_iter(selection, &next);
    ScrollTo(&next);
  }
}

bool IsModeLineAlreadyExist(const char* path, const char* name) {
  GtkTreeModel* model = GTK_TREE_MODEL(s_tab.store);
  GtkTreeIter row;
  if (!gtk_tree_model_get_iter_first(model, &row)) return false;
  do {
    gchar* rowPath = gtk_tree_model_get_string_from_iter(model, &row);
    const bool self = std::strcmp(rowPath, path) == 0;
    g_free(rowPath);
    if (!self && CellText(&row, kMlName) == name) return true;
  } while (gtk_tree_model_iter_next(model, &row));
  return false;
}

bool IsEveryModeLineValid() {
  GtkTreeModel* model = GTK_TREE_MODEL(s_tab.store);
  GtkTreeIter row;
  if (!gtk_tree_model_get_iter_first(model, &row)) return true;
  do {
    for (int column = kMlClock; column <= kMlVPolarity; ++column) {
      const std::string text = CellText(&row, column);
      // An emptied cell holds no value either.
      if (text == kEmptyValue || text.find_first_not_of(" \t") == std::string::npos) {
        const std::string name = CellText(&row, kMlName);
        char* message = g_strdup_printf(kMsgMissingValue, kColumns[column].messageName, name.c_str());
        ShowError(message);
        g_free(message);
        return false;
      }
    }
  } while (gtk_tree_model_iter_next(model, &row));
  return true;
}

void CellEditedCb(GtkCellRendererText* renderer, gchar* path, gchar* newText, gpointer) {
  const int column = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(renderer), kColumnKey));
  GtkTreeIter row;
  if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(s_tab.store), &row, path)) return;
  const char* text = newText ? newText : "";

  if (column == kMlName) {
    if (!IsModeLineNameValid(text)) {
      ShowError(kMsgInvalidName);
      return;
    }
    if (IsModeLineAlreadyExist(path, text)) {
      ShowError(kMsgNameExists);
      return;
    }
  } else if (column == kMlClock) {
    double clock = 0.0;
    if (text[0] != '\0' && !ParseModeLineClock(text, &clock)) {
      ShowError(kMsgInvalidNumber);
      return;
    }
  } else if (column >= kMlHdisp && column <= kMlVtotal) {
    int32_t value = 0;
    if (text[0] != '\0' && !ParseModeLineTiming(text, &value)) {
      ShowError(kMsgInvalidNumber);
      return;
    }
  }

  const std::string oldName = CellText(&row, kMlName);
  EditModeLineCtrl(oldName.c_str(), text, column);
  const UiModeLine* changed =
      GetModeLineTabServices().findMatchingModeLine(column == kMlName ? text : oldName.c_str());
  if (changed) SetModeLineUiColor(s_tab.store, &row, changed);
  gtk_list_store_set(s_tab.store, &row, column, text, -1);
  gtk_tree_view_columns_autosize(s_tab.view);
  ClearSelection();
}

void FillCurrentModeLine(PrivateList** list) {
  PrivateDeleteList(*list);
  *list = nullptr;
  GtkTreeModel* model = GTK_TREE_MODEL(s_tab.store);
  GtkTreeIter row;
  if (!model || !gtk_tree_model_get_iter_first(model, &row)) return;
  do {
    UiModeLine m{};
    for (int column = kMlName; column <= kMlVPolarity; ++column)
      SetModeLineField(&m, CellText(&row, column).c_str(), column);
    *list = PrivateListInsertFirst(*list, &m, sizeof m, nullptr);
  } while (gtk_tree_model_iter_next(model, &row));
}

void ShutdownUiModeLineTab() {
  ShutdownUiModeLineTabCtrl();
  s_tab = ModeLineTab{};
}

GtkListStore* GetModeLineStore() { return s_tab.store; }
std::string GetModeLineCellText(GtkTreeIter* row, int column) { return CellText(row, column); }
bool HasModeLineRow(const char* name) { return name != nullptr && HasRowNamed(name); }
