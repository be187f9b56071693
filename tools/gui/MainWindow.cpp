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
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/ProbeUtils.h"
#include "tools/gui/UiController.h"
#include "tools/gui/WindowUtils.h"
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
gboolean DrawAreaExposeEvent(GtkWidget*, GdkEventExpose* e, gpointer) {
  SendRedrawPreviewArea(e->area.x, e->area.y, e->area.width, e->area.height);
  return FALSE;
}
gboolean DrawAreaConfigEvent(GtkWidget*, GdkEventConfigure*, gpointer) {
  SendErasePreviewAreaBg();
  return TRUE;
}
void Notebook1SwitchPageCb(GtkNotebook*, GtkNotebookPage*, guint, gpointer) { UpdateResolutionComboBox(); }
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

GtkWidget* Put(GtkWidget* top, GtkWidget* fixed, GtkWidget* w, const char* name, int x, int y) {
  if (name != nullptr) register_widget(top, w, name);
  gtk_fixed_put(GTK_FIXED(fixed), w, x, y);
  return w;
}

GtkWidget* MarkupLabel(const char* markup) {
  GtkWidget* l = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(l), markup);
  return l;
}

GtkWidget* Frame(GtkWidget* top, const char* name, const char* title, const char* labelName, int w, int h) {
  GtkWidget* frame = gtk_frame_new(nullptr);
  GtkWidget* label = MarkupLabel(title);
  gtk_frame_set_label_widget(GTK_FRAME(frame), label);
  if (labelName != nullptr) register_widget(top, label, labelName);
  register_widget(top, frame, name);
  gtk_widget_set_size_request(frame, w, h);
  return frame;
}

GtkWidget* TextCombo(GtkWidget* top, const char* name) {
  GtkWidget* c = gtk_combo_box_new_text();
  register_widget(top, c, name);
  gtk_widget_set_size_request(c, 150, -1);
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
  gtk_widget_set_size_request(c, 150, -1);
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
                           first ? "<b>1 and 2</b>" : "<b>3 and 4</b>", first ? "label13" : "label12", 330, 170);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(frame), fixed);
  const char* labels[] = {"Display resolution", "Refresh rate", "Color depth (bpp)", "Display rotation"};
  for (int i = 0; i < 4; ++i) gtk_fixed_put(GTK_FIXED(fixed), gtk_label_new(labels[i]), 8, 12 + 36 * i);
  gtk_fixed_put(GTK_FIXED(fixed), ResolutionCombo(top, kComboNames[panel][0]), 165, 6);
  for (int i = 1; i < 4; ++i) gtk_fixed_put(GTK_FIXED(fixed), TextCombo(top, kComboNames[panel][i]), 165, 6 + 36 * i);
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

  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(top), fixed);

  GtkWidget* menubar = gtk_menu_bar_new();
  register_widget(top, menubar, "menubar1");
  gtk_widget_set_size_request(menubar, 720, -1);
  gtk_fixed_put(GTK_FIXED(fixed), menubar, 0, 0);
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

  // Left column: preview, boards, buttons.
  GtkWidget* preview = Put(top, fixed, Frame(top, "mwFramePreview", "<b>Preview</b>", nullptr, 340, 230), nullptr, 8,
                           32);
  GtkWidget* viewport = gtk_viewport_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(preview), viewport);
  GtkWidget* draw = gtk_drawing_area_new();
  register_widget(top, draw, "mwDrawArea");
  gtk_widget_set_size_request(draw, 320, 200);
  gtk_container_add(GTK_CONTAINER(viewport), draw);

  GtkWidget* cards = Put(top, fixed, Frame(top, "mwFrameCards", "<b>Graphics cards</b>", nullptr, 340, 260), nullptr,
                         8, 280);
  GtkWidget* cardsBox = gtk_vbox_new(FALSE, 4);
  gtk_container_add(GTK_CONTAINER(cards), cardsBox);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
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

  GtkWidget* cancel = Put(top, fixed,
                          Button(top, "mwButtonCancel", GTK_STOCK_QUIT, nullptr, nullptr, tips,
                                 "Exit program and discards selection"),
                          nullptr, 8, 560);
  GtkWidget* apply = Put(top, fixed,
                         Button(top, "mwButtonApply", GTK_STOCK_APPLY, nullptr, nullptr, tips, "Writes to X config file"),
                         nullptr, 90, 560);
  GtkWidget* def = Put(top, fixed, Button(top, "mwButtonDefault", nullptr, "Reset", GTK_STOCK_UNDO, tips, nullptr),
                       nullptr, 180, 560);
  GtkWidget* adv = Put(top, fixed,
                       Button(top, "mwButtonAdv", nullptr, "A_dvanced", GTK_STOCK_JUMP_TO, tips,
                              "Advanced options : bus mastering, opengl, etc ..."),
                       nullptr, 260, 560);
  gtk_widget_add_accelerator(apply, "clicked", accel, GDK_a, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(cancel, "clicked", accel, GDK_q, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(def, "clicked", accel, GDK_r, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(adv, "clicked", accel, GDK_d, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);

  // Right column: the notebook.
  GtkWidget* notebook = gtk_notebook_new();
  register_widget(top, notebook, "notebook1");
  gtk_widget_set_size_request(notebook, 360, 560);
  gtk_fixed_put(GTK_FIXED(fixed), notebook, 356, 32);
  GtkWidget* settings = gtk_fixed_new();
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), settings, gtk_label_new("Settings"));

  GtkWidget* layout = Frame(top, "mwFrameLayout", "<b>Multi-display setup</b>", nullptr, 346, 130);
  gtk_fixed_put(GTK_FIXED(settings), layout, 4, 4);
  GtkWidget* lf = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(layout), lf);
  gtk_fixed_put(GTK_FIXED(lf), gtk_label_new("Number of displays"), 6, 8);
  gtk_fixed_put(GTK_FIXED(lf), gtk_label_new("Layout"), 6, 38);
  gtk_fixed_put(GTK_FIXED(lf), gtk_label_new("Multi-display mode"), 6, 66);
  GtkWidget* outputs = gtk_combo_box_new_text();
  register_widget(top, outputs, "mwComboOutput");
  gtk_fixed_put(GTK_FIXED(lf), outputs, 140, 2);
  GtkWidget* row = gtk_radio_button_new_with_mnemonic(nullptr, "H_orizontal");
  GtkWidget* verti = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(row), "Ver_tical");
  GtkWidget* sqr = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(row), "_Square");
  GtkWidget* merge = gtk_radio_button_new_with_mnemonic(nullptr, "M_erge");
  GtkWidget* ind = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(merge), "Indep_endent");
  GtkWidget* xine = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(merge), "Xine_rama");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(merge), TRUE);
  GtkWidget* radios[] = {row, verti, sqr, merge, ind, xine};
  for (int i = 0; i < 3; ++i) {
    Put(top, lf, radios[i], kLayoutRadios[i + 1], 60 + 90 * i, 34);
    Put(top, lf, radios[i + 3], kModeRadios[i + 1], 10 + 105 * i, 86);
  }

  GtkWidget* display = Frame(top, "mwFrameDisplay", "<b>Display Settings</b>", nullptr, 346, 360);
  gtk_fixed_put(GTK_FIXED(settings), display, 4, 138);
  GtkWidget* panels = gtk_vbox_new(FALSE, 2);
  gtk_container_add(GTK_CONTAINER(display), panels);
  gtk_box_pack_start(GTK_BOX(panels), PanelFrame(top, 0), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(panels), PanelFrame(top, 1), FALSE, FALSE, 0);
  gtk_widget_set_size_request(lookup_widget(top, "mwFrameDisplay12"), 330, 165);
  gtk_widget_set_size_request(lookup_widget(top, "mwFrameDisplay34"), 330, 165);
  GtkWidget* hint = gtk_hbox_new(FALSE, 4);
  gtk_box_pack_start(GTK_BOX(hint), gtk_image_new_from_stock(GTK_STOCK_DIALOG_INFO, GTK_ICON_SIZE_MENU), FALSE,
                     FALSE, 0);
  GtkWidget* hintText = gtk_vbox_new(FALSE, 0);
  gtk_box_pack_start(GTK_BOX(hintText), gtk_label_new("When shown, a star icon"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(hintText), gtk_label_new("identifies the display's prefered resolution."), FALSE, FALSE,
                     0);
  gtk_box_pack_start(GTK_BOX(hint), hintText, FALSE, FALSE, 0);
  gtk_fixed_put(GTK_FIXED(settings), hint, 8, 502);

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
  g_signal_connect(draw, "expose_event", G_CALLBACK(DrawAreaExposeEvent), nullptr);
  g_signal_connect(draw, "configure_event", G_CALLBACK(DrawAreaConfigEvent), nullptr);
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
  gtk_widget_show_all(fixed);
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
