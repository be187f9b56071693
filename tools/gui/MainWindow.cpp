#include "tools/gui/MainWindow.h"

#include <gdk/gdkkeysyms.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/gui/AboutWindow.h"
#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/GuiAssert.h"
#include "tools/gui/InfoWindow.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/ProbeUtils.h"
#include "tools/gui/UiController.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/modeline_editor.h"
#include "tools/gui/preview_draw.h"
#include "tools/gui/support.h"

namespace {

GtkWidget* s_poMainWindow = nullptr;

GtkWidget* W(const char* name) { return lookup_widget(s_poMainWindow, name); }

const char* const kComboNames[2][4] = {
    {"mwCombo12Res", "mwCombo12RefRate", "mwCombo12Bpp", "mwCombo12Pivot"},
    {"mwCombo34Res", "mwCombo34RefRate", "mwCombo34Bpp", "mwCombo34Pivot"},
};
const char* const kLayoutRadios[4] = {nullptr, "mwTopoRadioRow", "mwTopoRadioVerti", "mwTopoRadioSqr"};
const char* const kModeRadios[4] = {nullptr, "mwAggRadioMerge", "mwAggRadioInd", "mwAggRadioXine"};

GtkComboBox* Combo(int panel, PanelCombo c) {
  return GTK_COMBO_BOX(W(kComboNames[panel & 1][static_cast<int>(c)]));
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
    if (l >= 1 && l <= 3) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W(kLayoutRadios[l])), TRUE);
  }
  void SetModeRadioActive(uint32_t m) override {
    if (m >= 1 && m <= 3) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W(kModeRadios[m])), TRUE);
  }
  void SetLayoutRadioSensitive(uint32_t l, bool s) override { gtk_widget_set_sensitive(W(kLayoutRadios[l]), s); }
  void SetModeRadioSensitive(uint32_t m, bool s) override { gtk_widget_set_sensitive(W(kModeRadios[m]), s); }
  void RedrawPreview() override { gtk_widget_queue_draw(W("mwDrawArea")); }
};

GtkMainView s_view;

// ---- signal handlers ----

void MainWindowDestroyCb(GtkObject*, gpointer) { ExitProgram(); }
void MainWindowShowCb(GtkWidget*, gpointer) { UiControllerInit(); }
gboolean MainWindowDeleteEvent(GtkWidget*, GdkEvent*, gpointer) {
  QuitApplication();
  return TRUE;
}
gboolean MainWindowStateEventCb(GtkWidget* w, GdkEventWindowState* e, gpointer) {
  if (e->changed_mask & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)) {
    gtk_window_unfullscreen(GTK_WINDOW(w));
    return TRUE;
  }
  return FALSE;
}
void ApplyCb(GtkWidget*, gpointer) { ApplyConfiguration(); }
void ResetCb(GtkWidget*, gpointer) { SetMainWindowXorgDefaultCfg(); }
void AdvancedCb(GtkWidget*, gpointer) { ShowAdvancedWindowCtrl(); }
void QuitCb(GtkWidget*, gpointer) { QuitApplication(); }
void AboutMenuActivateCb(GtkWidget*, gpointer) { ShowAboutWindow(); }
void MwButtonInfoClickedCb(GtkWidget*, gpointer) { ShowInfoWindow(); }
// The preview's events go through the controller, which owns the hooks.
gboolean MwDrawAreaExposeEvent(GtkWidget*, GdkEventExpose* e, gpointer) {
  SendRedrawPreviewArea(e->area.x, e->area.y, e->area.width, e->area.height);
  return FALSE;
}
gboolean MwDrawAreaConfigEvent(GtkWidget*, GdkEventConfigure*, gpointer) {
  SendErasePreviewAreaBg();
  return TRUE;
}
void Notebook1SwitchPageCb(GtkNotebook*, GtkNotebookPage*, guint, gpointer) {
  ValidateModeLinesWithVideoCard();
  UpdateResolutionComboBox();
}
void MtAddButtonClickedCb(GtkWidget*, gpointer) { AddNewModeLineCtrl(); }
void MtDeleteButtonClickedCb(GtkWidget*, gpointer) { RemoveModeLineCtrl(); }

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
    for (const UiModeLine& m : lines) list_ = PrivateListAppend(list_, &m, sizeof m, nullptr);
  }
  ~FileModeLines() { PrivateDeleteList(list_); }
  FileModeLines(const FileModeLines&) = delete;
  FileModeLines& operator=(const FileModeLines&) = delete;
  const PrivateList* List() const { return list_; }

 private:
  PrivateList* list_ = nullptr;
};
void MwComboOutputChangedCb(GtkComboBox* combo, gpointer) {
  gchar* text = ComboBoxGetActiveText(combo);
  if (text == nullptr) return;
  uint32_t index = 0;
  GetOutputEnum(std::atoi(text), &index);
  g_free(text);
  SetNumOutputCtrl(index);
}
void TopoToggledCb(GtkToggleButton* b, gpointer layout) {
  if (gtk_toggle_button_get_active(b)) SetTopologyCtrl(GPOINTER_TO_UINT(layout));
}
void AggToggledCb(GtkToggleButton* b, gpointer mode) {
  if (gtk_toggle_button_get_active(b)) SetAgglutinationCtrl(GPOINTER_TO_UINT(mode));
}
template <void (*Setter)(const char*, int), int Panel>
void ComboTextChanged(GtkComboBox* combo, gpointer) {
  gchar* text = ComboBoxGetActiveText(combo);
  if (text == nullptr) return;
  Setter(text, Panel);
  g_free(text);
}
template <int Panel>
void PivotChanged(GtkComboBox* combo, gpointer) {
  int item = gtk_combo_box_get_active(combo);
  SetPivotCtrl(item == 1 ? 1 : item == 2 ? 2 : 0, Panel);
}
gboolean MwCombo12ResFocusOutEvent(GtkWidget*, GdkEventFocus*, gpointer) { return FALSE; }
void TreeSelectionChangedCb(GtkTreeSelection* selection, gpointer) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(selection, &model, &it)) return;
  GtkTreePath* path = gtk_tree_model_get_path(model, &it);
  int row = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  SetSelectedCardCtrl(row);
}

// ---- construction ----

// Widgets are laid out in boxes and tables so that every label keeps its
// full text whatever size `ProbeFontSize` picks.
constexpr int kSpacing = 6;

GtkWidget* Named(GtkWidget* top, GtkWidget* w, const char* name) {
  register_widget(top, w, name);
  return w;
}

GtkWidget* LeftLabel(const char* text) {
  GtkWidget* l = gtk_label_new(text);
  gtk_misc_set_alignment(GTK_MISC(l), 0.0f, 0.5f);
  return l;
}

GtkWidget* Padded(GtkWidget* child) {
  GtkWidget* align = gtk_alignment_new(0.0f, 0.0f, 1.0f, 1.0f);
  gtk_alignment_set_padding(GTK_ALIGNMENT(align), kSpacing / 2, kSpacing, kSpacing, kSpacing);
  gtk_container_add(GTK_CONTAINER(align), child);
  return align;
}

GtkWidget* MarkupLabel(const char* markup) {
  GtkWidget* l = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(l), markup);
  return l;
}

GtkWidget* Frame(GtkWidget* top, const char* name, const char* title, const char* labelName) {
  GtkWidget* frame = gtk_frame_new(nullptr);
  GtkWidget* label = MarkupLabel(title);
  gtk_frame_set_label_widget(GTK_FRAME(frame), label);
  if (labelName != nullptr) register_widget(top, label, labelName);
  register_widget(top, frame, name);
  return frame;
}

GtkWidget* TextCombo(GtkWidget* top, const char* name) {
  GtkWidget* c = gtk_combo_box_new_text();
  register_widget(top, c, name);
  gtk_widget_set_size_request(c, 160, -1);
  return c;
}

GtkWidget* ResolutionCombo(GtkWidget* top, const char* name) {
  GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, GDK_TYPE_PIXBUF);
  GtkWidget* c = gtk_combo_box_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  gtk_cell_layout_pack_start(GTK_CELL_LAYOUT(c), text, TRUE);
  gtk_cell_layout_set_attributes(GTK_CELL_LAYOUT(c), text, "text", 0, nullptr);
  GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
  gtk_cell_layout_pack_start(GTK_CELL_LAYOUT(c), icon, FALSE);
  gtk_cell_layout_set_attributes(GTK_CELL_LAYOUT(c), icon, "pixbuf", 1, nullptr);
  register_widget(top, c, name);
  gtk_widget_set_size_request(c, 160, -1);
  return c;
}

GtkWidget* Button(GtkWidget* top, const char* name, const char* stock, const char* label, const char* icon,
                  GtkTooltips* tips, const char* tip) {
  GtkWidget* b;
  if (stock != nullptr) {
    b = gtk_button_new_from_stock(stock);
  } else {
    b = gtk_button_new_with_mnemonic(label);
    if (icon != nullptr)
      gtk_button_set_image(GTK_BUTTON(b), gtk_image_new_from_stock(icon, GTK_ICON_SIZE_BUTTON));
  }
  if (tip != nullptr) gtk_tooltips_set_tip(tips, b, tip, nullptr);
  register_widget(top, b, name);
  return b;
}

GtkWidget* PanelFrame(GtkWidget* top, int panel) {
  const bool first = panel == 0;
  GtkWidget* frame = Frame(top, first ? "mwFrameDisplay12" : "mwFrameDisplay34",
                           first ? "<b>1 and 2</b>" : "<b>3 and 4</b>", first ? "label13" : "label12");
  GtkWidget* table = gtk_table_new(4, 2, FALSE);
  gtk_table_set_row_spacings(GTK_TABLE(table), kSpacing / 2);
  gtk_table_set_col_spacings(GTK_TABLE(table), 2 * kSpacing);
  gtk_container_add(GTK_CONTAINER(frame), Padded(table));
  const char* labels[] = {"Display resolution", "Refresh rate", "Color depth (bpp)", "Display rotation"};
  for (guint i = 0; i < 4; ++i) {
    gtk_table_attach(GTK_TABLE(table), LeftLabel(labels[i]), 0, 1, i, i + 1, GTK_FILL, GTK_FILL, 0, 0);
    GtkWidget* combo = i == 0 ? ResolutionCombo(top, kComboNames[panel][0]) : TextCombo(top, kComboNames[panel][i]);
    gtk_table_attach(GTK_TABLE(table), combo, 1, 2, i, i + 1, GTK_FILL, GTK_FILL, 0, 0);
  }
  GtkComboBox* pivot = GTK_COMBO_BOX(lookup_widget(top, kComboNames[panel][3]));
  gtk_combo_box_append_text(pivot, "None");
  gtk_combo_box_append_text(pivot, "Clockwise");
  gtk_combo_box_append_text(pivot, first ? "Counter clockwise" : "Counter Clockwise");
  gtk_combo_box_set_active(pivot, 0);
  return frame;
}

GtkWidget* MenuItem(GtkWidget* top, GtkWidget* menu, const char* name, const char* stock, const char* label,
                    const char* icon, GtkAccelGroup* accel) {
  GtkWidget* item;
  if (stock != nullptr) {
    item = gtk_image_menu_item_new_from_stock(stock, accel);
  } else {
    item = gtk_image_menu_item_new_with_mnemonic(label);
    gtk_image_menu_item_set_image(GTK_IMAGE_MENU_ITEM(item), gtk_image_new_from_stock(icon, GTK_ICON_SIZE_MENU));
  }
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  register_widget(top, item, name);
  return item;
}

}  // namespace

GtkWidget* create_MainWindow() {
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), "OrvaneConfig");
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  g_object_set_data(G_OBJECT(top), "MainWindow", top);
  GtkAccelGroup* accel = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(top), accel);
  GtkTooltips* tips = gtk_tooltips_new();

  GtkWidget* outer = gtk_vbox_new(FALSE, 0);
  gtk_container_add(GTK_CONTAINER(top), outer);

  GtkWidget* menubar = Named(top, gtk_menu_bar_new(), "menubar1");
  gtk_box_pack_start(GTK_BOX(outer), menubar, FALSE, FALSE, 0);
  GtkWidget* fileItem = gtk_menu_item_new_with_mnemonic("_File");
  register_widget(top, fileItem, "fileMenuItem");
  gtk_menu_shell_append(GTK_MENU_SHELL(menubar), fileItem);
  GtkWidget* fileMenu = gtk_menu_new();
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(fileItem), fileMenu);
  GtkWidget* apply1 = MenuItem(top, fileMenu, "apply1", GTK_STOCK_APPLY, nullptr, nullptr, accel);
  GtkWidget* reset1 = MenuItem(top, fileMenu, "reset1", nullptr, "Reset", GTK_STOCK_UNDO, accel);
  GtkWidget* adv1 = MenuItem(top, fileMenu, "show_advanced1", nullptr, "Show Advanced", GTK_STOCK_JUMP_TO, accel);
  GtkWidget* quit1 = MenuItem(top, fileMenu, "quitMenuItem", GTK_STOCK_QUIT, nullptr, nullptr, accel);
  GtkWidget* helpItem = gtk_menu_item_new_with_mnemonic("_Help");
  register_widget(top, helpItem, "helpMenu");
  gtk_menu_shell_append(GTK_MENU_SHELL(menubar), helpItem);
  GtkWidget* helpMenu = gtk_menu_new();
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(helpItem), helpMenu);
  GtkWidget* about1 = MenuItem(top, helpMenu, "aboutMenuItem", nullptr, "_About", GTK_STOCK_ABOUT, accel);

  GtkWidget* columns = gtk_hbox_new(FALSE, kSpacing);
  gtk_container_set_border_width(GTK_CONTAINER(columns), kSpacing);
  gtk_box_pack_start(GTK_BOX(outer), columns, TRUE, TRUE, 0);

  // Left column: preview, boards, buttons.
  GtkWidget* left = gtk_vbox_new(FALSE, kSpacing);
  gtk_box_pack_start(GTK_BOX(columns), left, FALSE, FALSE, 0);
  GtkWidget* preview = Frame(top, "mwFramePreview", "<b>Preview</b>", nullptr);
  gtk_box_pack_start(GTK_BOX(left), preview, FALSE, FALSE, 0);
  GtkWidget* viewport = gtk_viewport_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(preview), viewport);
  GtkWidget* draw = gtk_drawing_area_new();
  register_widget(top, draw, "mwDrawArea");
  gtk_widget_set_size_request(draw, 320, 200);
  gtk_container_add(GTK_CONTAINER(viewport), draw);

  GtkWidget* cards = Frame(top, "mwFrameCards", "<b>Graphics cards</b>", nullptr);
  gtk_box_pack_start(GTK_BOX(left), cards, TRUE, TRUE, 0);
  GtkWidget* cardsBox = gtk_vbox_new(FALSE, kSpacing / 2);
  gtk_container_add(GTK_CONTAINER(cards), Padded(cardsBox));
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  // The list is as wide as the board names, so none is cut off.
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
  gtk_widget_set_size_request(scrolled, -1, 120);
  GtkListStore* cardStore = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
  GtkWidget* cardList = gtk_tree_view_new_with_model(GTK_TREE_MODEL(cardStore));
  g_object_unref(cardStore);
  gtk_tree_view_set_enable_search(GTK_TREE_VIEW(cardList), FALSE);
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(cardList), -1, "PCI Bus Id",
                                              gtk_cell_renderer_text_new(), "text", 0, nullptr);
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(cardList), -1, "Name", gtk_cell_renderer_text_new(),
                                              "text", 1, nullptr);
  register_widget(top, cardList, "mwCardList");
  gtk_container_add(GTK_CONTAINER(scrolled), cardList);
  gtk_box_pack_start(GTK_BOX(cardsBox), scrolled, TRUE, TRUE, 0);
  GtkWidget* info = Button(top, "mwButtonInfo", nullptr, "_Info", nullptr, tips,
                           "Displays more info about the graphics cards : driver version, number of displays etc ...");
  gtk_box_pack_start(GTK_BOX(cardsBox), info, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_hbox_new(FALSE, kSpacing);
  gtk_box_pack_start(GTK_BOX(left), buttons, FALSE, FALSE, 0);
  GtkWidget* cancel =
      Button(top, "mwButtonCancel", GTK_STOCK_QUIT, nullptr, nullptr, tips, "Exit program and discards selection");
  GtkWidget* apply = Button(top, "mwButtonApply", GTK_STOCK_APPLY, nullptr, nullptr, tips, "Writes to X config file");
  GtkWidget* def = Button(top, "mwButtonDefault", nullptr, "Reset", GTK_STOCK_UNDO, tips, nullptr);
  GtkWidget* adv = Button(top, "mwButtonAdv", nullptr, "A_dvanced", GTK_STOCK_JUMP_TO, tips,
                          "Advanced options : bus mastering, opengl, etc ...");
  for (GtkWidget* b : {cancel, apply, def, adv}) gtk_box_pack_start(GTK_BOX(buttons), b, TRUE, TRUE, 0);
  gtk_widget_add_accelerator(apply, "clicked", accel, GDK_a, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(cancel, "clicked", accel, GDK_q, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(def, "clicked", accel, GDK_r, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(adv, "clicked", accel, GDK_d, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);

  // Right column: the notebook.
  GtkWidget* notebook = Named(top, gtk_notebook_new(), "notebook1");
  gtk_box_pack_start(GTK_BOX(columns), notebook, TRUE, TRUE, 0);
  GtkWidget* settings = gtk_vbox_new(FALSE, kSpacing);
  gtk_container_set_border_width(GTK_CONTAINER(settings), kSpacing);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), settings, gtk_label_new("Settings"));

  GtkWidget* layout = Frame(top, "mwFrameLayout", "<b>Multi-display setup</b>", nullptr);
  gtk_box_pack_start(GTK_BOX(settings), layout, FALSE, FALSE, 0);
  GtkWidget* lt = gtk_table_new(3, 2, FALSE);
  gtk_table_set_row_spacings(GTK_TABLE(lt), kSpacing / 2);
  gtk_table_set_col_spacings(GTK_TABLE(lt), 2 * kSpacing);
  gtk_container_add(GTK_CONTAINER(layout), Padded(lt));
  const char* rowLabels[] = {"Number of displays", "Layout", "Multi-display mode"};
  for (guint i = 0; i < 3; ++i)
    gtk_table_attach(GTK_TABLE(lt), LeftLabel(rowLabels[i]), 0, 1, i, i + 1, GTK_FILL, GTK_FILL, 0, 0);
  GtkWidget* outputs = Named(top, gtk_combo_box_new_text(), "mwComboOutput");
  GtkWidget* outputsBox = gtk_hbox_new(FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outputsBox), outputs, FALSE, FALSE, 0);
  gtk_table_attach(GTK_TABLE(lt), outputsBox, 1, 2, 0, 1, GTK_FILL, GTK_FILL, 0, 0);
  GtkWidget* row = gtk_radio_button_new_with_mnemonic(nullptr, "H_orizontal");
  GtkWidget* verti = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(row), "Ver_tical");
  GtkWidget* sqr = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(row), "_Square");
  GtkWidget* merge = gtk_radio_button_new_with_mnemonic(nullptr, "M_erge");
  GtkWidget* ind = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(merge), "Indep_endent");
  GtkWidget* xine = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(merge), "Xine_rama");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(merge), TRUE);
  GtkWidget* radios[] = {row, verti, sqr, merge, ind, xine};
  GtkWidget* layoutBox = gtk_hbox_new(FALSE, kSpacing);
  GtkWidget* modeBox = gtk_hbox_new(FALSE, kSpacing);
  for (int i = 0; i < 3; ++i) {
    gtk_box_pack_start(GTK_BOX(layoutBox), Named(top, radios[i], kLayoutRadios[i + 1]), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(modeBox), Named(top, radios[i + 3], kModeRadios[i + 1]), FALSE, FALSE, 0);
  }
  gtk_table_attach(GTK_TABLE(lt), layoutBox, 1, 2, 1, 2, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(GTK_TABLE(lt), modeBox, 1, 2, 2, 3, GTK_FILL, GTK_FILL, 0, 0);

  GtkWidget* display = Frame(top, "mwFrameDisplay", "<b>Display Settings</b>", nullptr);
  gtk_box_pack_start(GTK_BOX(settings), display, FALSE, FALSE, 0);
  GtkWidget* panels = gtk_vbox_new(FALSE, kSpacing);
  gtk_container_add(GTK_CONTAINER(display), Padded(panels));
  gtk_box_pack_start(GTK_BOX(panels), PanelFrame(top, 0), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(panels), PanelFrame(top, 1), FALSE, FALSE, 0);
  GtkWidget* hint = gtk_hbox_new(FALSE, kSpacing);
  gtk_box_pack_start(GTK_BOX(hint), gtk_image_new_from_stock(GTK_STOCK_DIALOG_INFO, GTK_ICON_SIZE_MENU), FALSE,
                     FALSE, 0);
  GtkWidget* hintText = gtk_vbox_new(FALSE, 0);
  gtk_box_pack_start(GTK_BOX(hintText), LeftLabel("When shown, a star icon"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(hintText), LeftLabel("identifies the display's prefered resolution."), FALSE, FALSE,
                     0);
  gtk_box_pack_start(GTK_BOX(hint), hintText, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(settings), hint, FALSE, FALSE, 0);

  // The mode-line page; its list and buttons are driven by the editor.
  GtkWidget* page = gtk_vbox_new(FALSE, 4);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), page, gtk_label_new("ModeLine Editor"));
  GtkWidget* mlScroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(mlScroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  GtkWidget* mlList = gtk_tree_view_new();
  gtk_tree_view_set_rules_hint(GTK_TREE_VIEW(mlList), TRUE);
  gtk_tree_view_set_enable_search(GTK_TREE_VIEW(mlList), FALSE);
  register_widget(top, mlList, "mwModeLineList");
  gtk_container_add(GTK_CONTAINER(mlScroll), mlList);
  gtk_box_pack_start(GTK_BOX(page), mlScroll, TRUE, TRUE, 0);
  GtkWidget* mlButtons = gtk_hbox_new(FALSE, 4);
  gtk_box_pack_start(GTK_BOX(mlButtons), Button(top, "mtAddButton", GTK_STOCK_ADD, nullptr, nullptr, tips, nullptr),
                     FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(mlButtons),
                     Button(top, "mtDeleteButton", GTK_STOCK_DELETE, nullptr, nullptr, tips, nullptr), FALSE, FALSE,
                     0);
  gtk_box_pack_start(GTK_BOX(page), mlButtons, FALSE, FALSE, 0);
  GtkWidget* warn = gtk_hbox_new(FALSE, 4);
  gtk_box_pack_start(GTK_BOX(warn), gtk_image_new_from_stock(GTK_STOCK_DIALOG_WARNING, GTK_ICON_SIZE_MENU), FALSE,
                     FALSE, 0);
  gtk_box_pack_start(GTK_BOX(warn),
                     gtk_label_new("Using an invalid modeline can seriously damage your monitor.\nInvalid modelines "
                                   "are shown in red."),
                     FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(page), warn, FALSE, FALSE, 0);

  // Signals.
  g_signal_connect(top, "destroy", G_CALLBACK(MainWindowDestroyCb), nullptr);
  g_signal_connect(top, "show", G_CALLBACK(MainWindowShowCb), nullptr);
  g_signal_connect(top, "delete_event", G_CALLBACK(MainWindowDeleteEvent), nullptr);
  g_signal_connect(top, "window_state_event", G_CALLBACK(MainWindowStateEventCb), nullptr);
  g_signal_connect(apply1, "activate", G_CALLBACK(ApplyCb), nullptr);
  g_signal_connect(apply, "clicked", G_CALLBACK(ApplyCb), nullptr);
  g_signal_connect(reset1, "activate", G_CALLBACK(ResetCb), nullptr);
  g_signal_connect(def, "clicked", G_CALLBACK(ResetCb), nullptr);
  g_signal_connect(adv1, "activate", G_CALLBACK(AdvancedCb), nullptr);
  g_signal_connect(adv, "clicked", G_CALLBACK(AdvancedCb), nullptr);
  g_signal_connect(quit1, "activate", G_CALLBACK(QuitCb), nullptr);
  g_signal_connect(cancel, "clicked", G_CALLBACK(QuitCb), nullptr);
  g_signal_connect(about1, "activate", G_CALLBACK(AboutMenuActivateCb), nullptr);
  g_signal_connect(info, "clicked", G_CALLBACK(MwButtonInfoClickedCb), nullptr);
  g_signal_connect(draw, "expose_event", G_CALLBACK(MwDrawAreaExposeEvent), nullptr);
  g_signal_connect(draw, "configure_event", G_CALLBACK(MwDrawAreaConfigEvent), nullptr);
  g_signal_connect(lookup_widget(top, "mtAddButton"), "clicked", G_CALLBACK(MtAddButtonClickedCb), nullptr);
  g_signal_connect(lookup_widget(top, "mtDeleteButton"), "clicked", G_CALLBACK(MtDeleteButtonClickedCb), nullptr);
  g_signal_connect_after(notebook, "switch_page", G_CALLBACK(Notebook1SwitchPageCb), nullptr);
  g_signal_connect(outputs, "changed", G_CALLBACK(MwComboOutputChangedCb), nullptr);
  for (unsigned i = 1; i <= 3; ++i) {
    g_signal_connect(lookup_widget(top, kLayoutRadios[i]), "toggled", G_CALLBACK(TopoToggledCb), GUINT_TO_POINTER(i));
    g_signal_connect(lookup_widget(top, kModeRadios[i]), "toggled", G_CALLBACK(AggToggledCb), GUINT_TO_POINTER(i));
  }
  GtkWidget* blocked[4];
  gulong handlers[4];
  blocked[0] = lookup_widget(top, "mwCombo12Res");
  handlers[0] = g_signal_connect(blocked[0], "changed", G_CALLBACK((ComboTextChanged<SetResolutionCtrl, 0>)), nullptr);
  blocked[1] = lookup_widget(top, "mwCombo34Res");
  handlers[1] = g_signal_connect(blocked[1], "changed", G_CALLBACK((ComboTextChanged<SetResolutionCtrl, 1>)), nullptr);
  blocked[2] = lookup_widget(top, "mwCombo12RefRate");
  handlers[2] = g_signal_connect(blocked[2], "changed", G_CALLBACK((ComboTextChanged<SetRefreshRateCtrl, 0>)), nullptr);
  blocked[3] = lookup_widget(top, "mwCombo34RefRate");
  handlers[3] = g_signal_connect(blocked[3], "changed", G_CALLBACK((ComboTextChanged<SetRefreshRateCtrl, 1>)), nullptr);
  SetComboHandlersToBlock(blocked, handlers, 4);
  g_signal_connect(lookup_widget(top, "mwCombo12Bpp"), "changed", G_CALLBACK((ComboTextChanged<SetBppCtrl, 0>)),
                   nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo34Bpp"), "changed", G_CALLBACK((ComboTextChanged<SetBppCtrl, 1>)),
                   nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo12Pivot"), "changed", G_CALLBACK(PivotChanged<0>), nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo34Pivot"), "changed", G_CALLBACK(PivotChanged<1>), nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo12Res"), "focus_out_event", G_CALLBACK(MwCombo12ResFocusOutEvent),
                   nullptr);
  gtk_widget_show_all(outer);
  s_poMainWindow = top;
  return top;
}

void InitCallBackModules() {
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(W("mwCardList")));
  gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
  g_signal_connect(selection, "changed", G_CALLBACK(TreeSelectionChangedCb), nullptr);
}

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
