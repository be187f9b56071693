#include "tools/gui/MainWindow.h"

#include <string>
#include <vector>

#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/PreviewDrawArea.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/UiController.h"
#include "tools/gui/UiModeLineTab.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/support.h"

const char* const kPanelComboNames[2][4] = {
    {"mwCombo12Res", "mwCombo12RefRate", "mwCombo12Bpp", "mwCombo12Pivot"},
    {"mwCombo34Res", "mwCombo34RefRate", "mwCombo34Bpp", "mwCombo34Pivot"},
};
const char* const kLayoutRadioNames[4] = {nullptr, "mwTopoRadioRow", "mwTopoRadioVerti",
                                          "mwTopoRadioSqr"};
const char* const kModeRadioNames[4] = {nullptr, "mwAggRadioMerge", "mwAggRadioInd",
                                        "mwAggRadioXine"};

namespace {

GtkWidget* s_poMainWindow = nullptr;

GtkWidget* W(const char* name) { return lookup_widget(s_poMainWindow, name); }

GtkComboBox* Combo(int panel, PanelCombo c) {
  return GTK_COMBO_BOX(W(kPanelComboNames[panel & 1][static_cast<int>(c)]));
}

// The controller's view of the widgets.
class GtkMainView : public MainView {
 public:
  void ClearCombo(int panel, PanelCombo c) override { RemoveAllComboBox(Combo(panel, c)); }
  void AppendResolution(int panel, const char* text, bool preferred) override {
    GtkComboBox* combo = Combo(panel, PanelCombo::kResolution);
    if (IsElemFound(combo, text)) return;
    if (!preferred) {
      InsertSortedElemComboBox(combo, text);
      return;
    }
    GtkListStore* store = GTK_LIST_STORE(gtk_combo_box_get_model(combo));
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    GdkPixbuf* star = gtk_widget_render_icon(GTK_WIDGET(combo), GTK_STOCK_ABOUT, GTK_ICON_SIZE_MENU, nullptr);
    gtk_list_store_set(store, &it, 0, text, 1, star, -1);
    if (star != nullptr) g_object_unref(star);
  }
  void AppendRefresh(int panel, const char* text) override {
    GtkComboBox* combo = Combo(panel, PanelCombo::kRefresh);
    if (!IsElemFound(combo, text)) InsertSortedElemComboBox(combo, text);
  }
  void SelectText(int panel, PanelCombo c, const char* text) override { SelectElemComboBox(Combo(panel, c), text); }
  void SetRotationItem(int panel, int item) override {
    gtk_combo_box_set_active(Combo(panel, PanelCombo::kRotation), item);
  }
  bool HasActive(int panel, PanelCombo c) override { return gtk_combo_box_get_active(Combo(panel, c)) >= 0; }
  void SetComboSensitive(int panel, PanelCombo c, bool s) override {
    gtk_widget_set_sensitive(GTK_WIDGET(Combo(panel, c)), s);
  }
  void SetPanelTitle(int panel, const char* title, bool sensitive) override {
    GtkWidget* label = W(panel == 0 ? "label13" : "label12");
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", title);
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    gtk_widget_set_sensitive(W(panel == 0 ? "mwFrameDisplay12" : "mwFrameDisplay34"), sensitive);
  }
  void SelectCardRow(int row) override {
    GtkTreeView* view = GTK_TREE_VIEW(W("mwCardList"));
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path);
    gtk_tree_path_free(path);
  }
  void FillOutputCombo(const std::vector<int>& counts) override {
    GtkComboBox* combo = GTK_COMBO_BOX(W("mwComboOutput"));
    gtk_list_store_clear(GTK_LIST_STORE(gtk_combo_box_get_model(combo)));
    for (int n : counts) gtk_combo_box_append_text(combo, std::to_string(n).c_str());
  }
  void SelectOutputItem(const char* text) override {
    GtkComboBox* combo = GTK_COMBO_BOX(W("mwComboOutput"));
    if (IsElemFound(combo, text)) SelectElemComboBox(combo, text);
  }
  void SetLayoutRadioActive(uint32_t l) override {
    if (l >= 1 && l <= 3) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W(kLayoutRadioNames[l])), TRUE);
  }
  void SetModeRadioActive(uint32_t m) override {
    if (m >= 1 && m <= 3) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W(kModeRadioNames[m])), TRUE);
  }
  void SetLayoutRadioSensitive(uint32_t l, bool s) override { gtk_widget_set_sensitive(W(kLayoutRadioNames[l]), s); }
  void SetModeRadioSensitive(uint32_t m, bool s) override { gtk_widget_set_sensitive(W(kModeRadioNames[m]), s); }
  void RedrawPreview() override { gtk_widget_queue_draw(W("mwDrawArea")); }
  void SetSettingsSensitive(bool sensitive, const char* reason) override {
    for (const char* name : {"mwFrameLayout", "mwFrameDisplay", "mwButtonApply", "apply1"})
      gtk_widget_set_sensitive(W(name), sensitive);
    GtkWidget* label = W("mwLabelNoBoard");
    gtk_label_set_text(GTK_LABEL(label), reason);
    if (sensitive) {
      gtk_widget_hide(label);
    } else {
      gtk_widget_show(label);
    }
  }
};

GtkMainView s_view;

// ---- signal handlers ----

preview::Input PreviewState() {
  preview::Input in;
  in.displays = static_cast<int>(GetNumOutputCtrl()) + 1;
  in.layout = GetTopologyCtrl();
  in.mode = GetAgglutinationCtrl();
  in.kvd = IsKvdBoardCtrl();
  for (int i = 0; i < preview::kMaxDisplays; ++i) in.rotation[size_t(i)] = GetPivotState(i);
  return in;
}

// The mode-line page edits the collections.
const ModeLineTabServices kModeLineServices = {
    [](const UiModeLine* m, int output) { AddPreferedModeLine(*m, static_cast<unsigned>(output)); },
    [](const UiModeLine* m) { AddCustomModeLine(*m); },
    [](const char* name) { return FindMatchingModeLine(name); },
    [](const char* name) { RemoveModeLineFromCollector(name); },
    [](int output) -> const UiModeLine* { return GetPreferedModeLine(static_cast<unsigned>(output)); },
    [] { return GetCustomModeLineList(); },
    [](const char* message) { OutputErrorMsg(message); },
    nullptr,
};

// The mode lines of the current X configuration, as the page reads them.
class FileModeLines {
 public:
  explicit FileModeLines(const std::vector<UiModeLine>& lines) {
    PrivateListTail tail(&list_);
    for (const UiModeLine& m : lines) tail.Append(&m, sizeof m, nullptr);
  }
  ~FileModeLines() { PrivateDeleteList(list_); }
  FileModeLines(const FileModeLines&) = delete;
  FileModeLines& operator=(const FileModeLines&) = delete;
  const PrivateList* List() const { return list_; }

 private:
  PrivateList* list_ = nullptr;
};

}  // namespace

void RegisterMainWindow(GtkWidget* window) { s_poMainWindow = window; }

void InitMainWindow() {
  GUI_ASSERT(s_poMainWindow != nullptr);
  SetMainView(&s_view);
  gtk_window_set_resizable(GTK_WINDOW(s_poMainWindow), FALSE);
  InitPreviewDrawArea(s_poMainWindow, PreviewState);
  SetPreviewHooks({RedrawPreviewArea, EraseDrawPreviewArea});
  FileModeLines fileModeLines(GetXConfigStruct()->modeLines);
  InitUiModeLineTab(s_poMainWindow, kModeLineServices, GetCardInfo()[0].preferredModes, fileModeLines.List());
  SetModeLineTabHooks({IsEveryModeLineValidCtrl, SetFocusModeLineTabCtrl, IsThisAModeLine, GetModeLineList});
  for (const char* name : {"mwCombo12Bpp", "mwCombo34Bpp"}) {
    GtkComboBox* c = GTK_COMBO_BOX(W(name));
    for (const char* depth : {"24", "16", "8"}) InsertSortedElemComboBox(c, depth);
    SelectComboBoxFirstElem(c);
  }
  GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(W("mwCardList"))));
  CardInfo* cards = GetCardInfo();
  for (int i = 0; i < kMaxCards; ++i) {
    if (cards[i].busId[0] == '\0' || cards[i].name[0] == '\0') continue;
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    gtk_list_store_set(store, &it, 0, cards[i].busId, 1, cards[i].name, -1);
  }
}

void ShowMainWindow() {
  GUI_ASSERT(s_poMainWindow != nullptr);
  gtk_widget_show(s_poMainWindow);
}

void HideMainWindow() {
  GUI_ASSERT(s_poMainWindow != nullptr);
  gtk_widget_hide(s_poMainWindow);
}

void ShutdownMainWindowParts() {
  SetModeLineTabHooks({});
  SetPreviewHooks({});
  ShutdownUiModeLineTab();
  ShutdownPreviewDrawArea();
}

void DestroyMainWindow() {
  GUI_ASSERT(s_poMainWindow != nullptr);
  gtk_widget_destroy(s_poMainWindow);
  s_poMainWindow = nullptr;
}

GtkWidget* GetMainWindow() { return s_poMainWindow; }

void ProbeFontSize(GtkWidget* window) {
  auto heightAt = [window](int size) {
    gchar* font = g_strdup_printf("Sans %d", size);
    g_object_set(gtk_settings_get_default(), "gtk-font-name", font, nullptr);
    g_free(font);
    PangoLayout* layout = gtk_widget_create_pango_layout(window, "titi");
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    return h;
  };
  int size = 10;
  int h = heightAt(size);
  if (h < 17) {
    int tried = size;
    while (h < 18 && tried <= 17) h = heightAt(++tried);
    size = tried - 1;
  } else if (h > 17) {
    int tried = size;
    while (h >= 17 && tried >= 8) h = heightAt(--tried);
    size = tried + 1;
  }
  gchar* font = g_strdup_printf("Sans %d", size);
  g_object_set(gtk_settings_get_default(), "gtk-font-name", font, nullptr);
  g_free(font);
}
