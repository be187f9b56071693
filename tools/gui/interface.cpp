// The windows' widget trees and signal connections, built in code: every
// widget is registered on its top-level window under its name. Also the
// start-up and tear-down of the windows.
#include "tools/gui/interface.h"

#include <gdk/gdkkeysyms.h>

#include "tools/gui/AboutWindow.h"
#include "tools/gui/AdvancedWindow.h"
#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/InfoWindow.h"
#include "tools/gui/MainWindow.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/callbacks.h"
#include "tools/gui/support.h"

namespace {

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
    GtkWidget* combo = i == 0 ? ResolutionCombo(top, kPanelComboNames[panel][0]) : TextCombo(top, kPanelComboNames[panel][i]);
    gtk_table_attach(GTK_TABLE(table), combo, 1, 2, i, i + 1, GTK_FILL, GTK_FILL, 0, 0);
  }
  GtkComboBox* pivot = GTK_COMBO_BOX(lookup_widget(top, kPanelComboNames[panel][3]));
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

GtkWidget* Check(GtkWidget* top, GtkWidget* box, const char* name, const char* label, GtkTooltips* tips,
                 const char* tip, GCallback cb) {
  GtkWidget* b = gtk_check_button_new_with_mnemonic(label);
  register_widget(top, b, name);
  if (tip != nullptr) gtk_tooltips_set_tip(tips, b, tip, nullptr);
  gtk_box_pack_start(GTK_BOX(box), b, FALSE, FALSE, 0);
  g_signal_connect(b, "toggled", cb, nullptr);
  return b;
}

// A secondary window: a modal, fixed-size dialog placed at the mouse,
// registered under its own name.
GtkWidget* DialogWindow(const char* name, const char* title) {
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), title);
  gtk_window_set_modal(GTK_WINDOW(top), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_MOUSE);
  gtk_window_set_type_hint(GTK_WINDOW(top), GDK_WINDOW_TYPE_HINT_DIALOG);
  g_object_set_data(G_OBJECT(top), name, top);
  return top;
}

// The column that holds a secondary window's contents.
GtkWidget* DialogBox(GtkWidget* top) {
  GtkWidget* vbox = gtk_vbox_new(FALSE, kSpacing);
  gtk_container_set_border_width(GTK_CONTAINER(vbox), 8);
  gtk_container_add(GTK_CONTAINER(top), vbox);
  return vbox;
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
  // Shown instead of usable settings when no board was found.
  GtkWidget* noBoard = Named(top, gtk_label_new(nullptr), "mwLabelNoBoard");
  gtk_label_set_line_wrap(GTK_LABEL(noBoard), TRUE);
  gtk_misc_set_alignment(GTK_MISC(noBoard), 0.0f, 0.5f);
  gtk_box_pack_start(GTK_BOX(settings), noBoard, FALSE, FALSE, 0);

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
    gtk_box_pack_start(GTK_BOX(layoutBox), Named(top, radios[i], kLayoutRadioNames[i + 1]), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(modeBox), Named(top, radios[i + 3], kModeRadioNames[i + 1]), FALSE, FALSE, 0);
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
  GtkWidget* page = gtk_vbox_new(FALSE, kSpacing);
  gtk_container_set_border_width(GTK_CONTAINER(page), kSpacing);
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
  g_signal_connect(top, "key_press_event", G_CALLBACK(MainWindowKeyPressCb), nullptr);
  g_signal_connect(apply1, "activate", G_CALLBACK(ApplyMenuActivateCb), nullptr);
  g_signal_connect(apply, "clicked", G_CALLBACK(ButtonApplyClickedCb), nullptr);
  g_signal_connect(reset1, "activate", G_CALLBACK(ResetMenuActivateCb), nullptr);
  g_signal_connect(def, "clicked", G_CALLBACK(MwButtonDefaultClickedCb), nullptr);
  g_signal_connect(adv1, "activate", G_CALLBACK(ShowAdvancedActivateCb), nullptr);
  g_signal_connect(adv, "clicked", G_CALLBACK(AdvancedButtonCb), nullptr);
  g_signal_connect(quit1, "activate", G_CALLBACK(QuitMenuActivateCb), nullptr);
  g_signal_connect(cancel, "clicked", G_CALLBACK(MwButtonCancelClickedCb), nullptr);
  g_signal_connect(about1, "activate", G_CALLBACK(AboutMenuActivateCb), nullptr);
  g_signal_connect(info, "clicked", G_CALLBACK(MwButtonInfoClickedCb), nullptr);
  g_signal_connect(draw, "expose_event", G_CALLBACK(DrawAreaExposeEvent), nullptr);
  g_signal_connect(draw, "configure_event", G_CALLBACK(DrawAreaConfigEvent), nullptr);
  g_signal_connect(mlList, "row_activated", G_CALLBACK(MwModeLineListRowActivatedCb), nullptr);
  g_signal_connect(lookup_widget(top, "mtAddButton"), "clicked", G_CALLBACK(MtAddButtonClickedCb),
                   nullptr);
  g_signal_connect(lookup_widget(top, "mtDeleteButton"), "clicked",
                   G_CALLBACK(MtDeleteButtonClickedCb), nullptr);
  g_signal_connect_after(notebook, "switch_page", G_CALLBACK(Notebook1SwitchPageCb), nullptr);
  g_signal_connect(outputs, "changed", G_CALLBACK(MwComboOutputChangedCb), nullptr);
  g_signal_connect(row, "group_changed", G_CALLBACK(MwTopoRadioRowGroupChangedCb), nullptr);
  g_signal_connect(row, "toggled", G_CALLBACK(MwTopoRadioRowGroupChangedCb), nullptr);
  g_signal_connect(verti, "group_changed", G_CALLBACK(MwTopoRadioVertiGroupChangedCb), nullptr);
  g_signal_connect(verti, "toggled", G_CALLBACK(MwTopoRadioVertiToggledCb), nullptr);
  g_signal_connect(sqr, "group_changed", G_CALLBACK(MwTopoRadioSqrGroupChangedCb), nullptr);
  g_signal_connect(sqr, "toggled", G_CALLBACK(MwTopoRadioSqrToggledCb), nullptr);
  g_signal_connect(merge, "toggled", G_CALLBACK(MwAggRadioMergeChangedCb), nullptr);
  g_signal_connect(ind, "toggled", G_CALLBACK(MwAggRadioIndChangedCb), nullptr);
  g_signal_connect(xine, "toggled", G_CALLBACK(MwAggRadioXineChangedCb), nullptr);
  // Emptying a resolution or refresh combo must not reach the controller,
  // so their "changed" handlers are the ones RemoveAllComboBox blocks.
  struct Blocked {
    const char* name;
    GCallback handler;
  };
  const Blocked blockedCombos[] = {
      {"mwCombo12Res", G_CALLBACK(MwCombo12ResChanged)},
      {"mwCombo34Res", G_CALLBACK(MwCombo2ResChangedCb)},
      {"mwCombo12RefRate", G_CALLBACK(MwCombo12RefRateChanged)},
      {"mwCombo34RefRate", G_CALLBACK(MwCombo2RefRateChangedCb)},
  };
  GtkWidget* blocked[4];
  gulong handlers[4];
  for (int i = 0; i < 4; ++i) {
    blocked[i] = lookup_widget(top, blockedCombos[i].name);
    handlers[i] = g_signal_connect(blocked[i], "changed", blockedCombos[i].handler, nullptr);
  }
  SetComboHandlersToBlock(blocked, handlers, 4);
  g_signal_connect(lookup_widget(top, "mwCombo12Bpp"), "changed", G_CALLBACK(MwCombo12BppChanged),
                   nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo34Bpp"), "changed", G_CALLBACK(MwCombo2BppChangedCb),
                   nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo12Pivot"), "changed",
                   G_CALLBACK(MwCombo12PivotChanged), nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo34Pivot"), "changed",
                   G_CALLBACK(MwCombo34PivotChangedCb), nullptr);
  g_signal_connect(lookup_widget(top, "mwCombo12Res"), "focus_out_event",
                   G_CALLBACK(MwCombo12ResFocusOutEvent), nullptr);
  gtk_widget_show_all(outer);
  gtk_widget_hide(noBoard);
  RegisterMainWindow(top);
  return top;
}

GtkWidget* create_AdvancedWindow() {
  GtkWidget* top = DialogWindow("AdvancedWindow", "OrvaneConfig - Advanced");
  GtkTooltips* tips = gtk_tooltips_new();
  GtkWidget* vbox = DialogBox(top);

  GtkWidget* mode = gtk_frame_new(nullptr);
  GtkWidget* modeLabel = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(modeLabel), "<b>Mode</b>");
  gtk_frame_set_label_widget(GTK_FRAME(mode), modeLabel);
  register_widget(top, mode, "awFrameMode");
  GtkWidget* checks = gtk_vbox_new(FALSE, 2);
  gtk_container_add(GTK_CONTAINER(mode), checks);
  Check(top, checks, "awCheckBusMast", "Enable bus mastering", tips, nullptr, G_CALLBACK(AwCheckBusMasteringToggled));
  Check(top, checks, "awForceDVICheck", "Force digital output", tips, "Force digital output for every displays",
        G_CALLBACK(AwForceDVICheckButtonToggledCb));
  Check(top, checks, "awCheck3D", "Enable OpenGL hardware acceleration", tips, "Add support from OpenGL application",
        G_CALLBACK(AwCheck3DToggled));
  Check(top, checks, "awCheckButtonEdid", "Filter with monitor EDID", tips, nullptr,
        G_CALLBACK(AwCheckButtonEdidToggled));
  gtk_box_pack_start(GTK_BOX(vbox), mode, FALSE, FALSE, 0);

  GtkWidget* out = gtk_frame_new(nullptr);
  GtkWidget* outLabel = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(outLabel), "<b>Output file :</b>");
  gtk_frame_set_label_widget(GTK_FRAME(out), outLabel);
  GtkWidget* row = gtk_hbox_new(FALSE, 4);
  gtk_container_add(GTK_CONTAINER(out), row);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(entry), 256);
  gtk_widget_set_size_request(entry, 260, -1);
  gtk_tooltips_set_tip(tips, entry,
                       "To save the output file to a location other than your default xorg.conf path, insert path "
                       "and file name here.",
                       nullptr);
  register_widget(top, entry, "awOutputFileEntry");
  gtk_box_pack_start(GTK_BOX(row), entry, TRUE, TRUE, 0);
  GtkWidget* choose = gtk_button_new_from_stock(GTK_STOCK_OPEN);
  register_widget(top, choose, "awButtonOutputChoose");
  gtk_box_pack_start(GTK_BOX(row), choose, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(vbox), out, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_hbutton_box_new();
  GtkWidget* def = gtk_button_new_with_mnemonic("Default");
  register_widget(top, def, "awButtonDefault");
  GtkWidget* close = gtk_button_new_from_stock(GTK_STOCK_CLOSE);
  register_widget(top, close, "awButtonClose");
  gtk_container_add(GTK_CONTAINER(buttons), def);
  gtk_container_add(GTK_CONTAINER(buttons), close);
  gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);

  g_signal_connect(top, "delete_event", G_CALLBACK(AdvancedWindowDestroyEventCb), nullptr);
  g_signal_connect(top, "key_press_event", G_CALLBACK(AdvancedWindowKeyPressCb), nullptr);
  g_signal_connect(close, "clicked", G_CALLBACK(AwCloseButtonCb), nullptr);
  g_signal_connect(entry, "changed", G_CALLBACK(AwOutputFileEntryChangedCb), nullptr);
  g_signal_connect(choose, "clicked", G_CALLBACK(AwOutputFileChooseButtonClickCb), nullptr);
  g_signal_connect(def, "clicked", G_CALLBACK(AwButtonDefaultClickedCb), nullptr);
  gtk_widget_show_all(vbox);
  return top;
}

GtkWidget* create_InfoWindow() {
  GtkWidget* top = DialogWindow("InfoWindow", "OrvaneConfig - Info");
  gtk_window_set_gravity(GTK_WINDOW(top), GDK_GRAVITY_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(top), TRUE);
  GtkWidget* vbox = DialogBox(top);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
  gtk_widget_set_size_request(scrolled, 360, 150);
  GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
  GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(list), -1, "Information", gtk_cell_renderer_text_new(),
                                              "text", 0, nullptr);
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(list), -1, "Value", gtk_cell_renderer_text_new(), "text",
                                              1, nullptr);
  register_widget(top, list, "treeview2");
  gtk_container_add(GTK_CONTAINER(scrolled), list);
  gtk_box_pack_start(GTK_BOX(vbox), scrolled, TRUE, TRUE, 0);
  GtkWidget* close = gtk_button_new_with_mnemonic("Close");
  register_widget(top, close, "infoButtonClose");
  gtk_box_pack_start(GTK_BOX(vbox), close, FALSE, FALSE, 0);
  g_signal_connect(top, "delete_event", G_CALLBACK(InfoWindowDestroyEventCb), nullptr);
  g_signal_connect(top, "key_press_event", G_CALLBACK(InfoWindowKeyPressCb), nullptr);
  g_signal_connect(close, "clicked", G_CALLBACK(InfoWindowCloseCb), nullptr);
  gtk_widget_show_all(vbox);
  return top;
}

GtkWidget* create_AboutWindow() {
  GtkWidget* top = DialogWindow("AboutWindow", "OrvaneConfig - About");
  GtkWidget* vbox = DialogBox(top);
  GtkWidget* area = gtk_drawing_area_new();
  gtk_widget_set_size_request(area, 260, 60);
  register_widget(top, area, "AbwDrawingArea");
  gtk_box_pack_start(GTK_BOX(vbox), area, FALSE, FALSE, 0);
  GtkWidget* version = gtk_label_new(nullptr);
  register_widget(top, version, "AbwLabelVersion");
  gtk_box_pack_start(GTK_BOX(vbox), version, FALSE, FALSE, 0);
  GtkWidget* close = gtk_button_new_with_mnemonic("Close");
  register_widget(top, close, "button1");
  gtk_box_pack_start(GTK_BOX(vbox), close, FALSE, FALSE, 0);
  g_signal_connect(top, "delete_event", G_CALLBACK(AboutWindowDestroyEventCb), nullptr);
  g_signal_connect(close, "clicked", G_CALLBACK(AbwCloseButtonClickedCb), nullptr);
  g_signal_connect(area, "expose_event", G_CALLBACK(AbwDrawingAreaExposeEventCb), nullptr);
  g_signal_connect(area, "configure_event", G_CALLBACK(AbwDrawingAreaConfigureEventCb), nullptr);
  gtk_widget_show_all(vbox);
  return top;
}

GtkWidget* create_FileChooser(GtkWidget* parent) {
  GtkWidget* chooser = gtk_file_chooser_dialog_new("OrvaneConfig - FileChooser", GTK_WINDOW(parent),
                                                   GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
  GtkWidget* cancel = gtk_dialog_add_button(GTK_DIALOG(chooser), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(chooser), GTK_STOCK_OPEN, GTK_RESPONSE_OK);
  register_widget(chooser, cancel, "fcButtonCancel");
  register_widget(chooser, ok, "fcButtonOk");
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_OK);
  gtk_file_chooser_set_show_hidden(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_MOUSE);
  return chooser;
}

void CreateAppWindows() {
  GtkWidget* mainWindow = create_MainWindow();
  GtkWidget* advanced = create_AdvancedWindow();
  GtkWidget* about = create_AboutWindow();
  GtkWidget* info = create_InfoWindow();
  InitCallBackModules();
  InitMainWindow();
  InitWindowUtil(mainWindow);
  ShowMainWindow();
  ProbeFontSize(mainWindow);
  InitAdvancedWindow(advanced);
  AdvancedWindowCtrlInit();
  InitAboutWindow(about);
  InitInfoWindow(info);
}

void DestroyAppWindows() {
  DestroyAboutWindow();
  DestroyAdvancedWindow();
  DestroyInfoWindow();
  ShutdownMainWindowParts();
}
