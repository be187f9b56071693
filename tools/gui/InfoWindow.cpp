#include "tools/gui/InfoWindow.h"

#include <string>

#include "tools/gui/GuiAssert.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/UiController.h"
#include "tools/gui/support.h"

namespace {

GtkWidget* s_poInfoWindow = nullptr;

gboolean InfoWindowDestroyEventCb(GtkWidget*, GdkEvent*, gpointer) {
  HideInfoWindow();
  return TRUE;
}
void InfoWindowCloseCb(GtkButton*, gpointer) { HideInfoWindow(); }

void AddRow(GtkListStore* store, const char* name, const std::string& value) {
  GtkTreeIter it;
  gtk_list_store_append(store, &it);
  gtk_list_store_set(store, &it, 0, name, 1, value.c_str(), -1);
}

}  // namespace

GtkWidget* create_InfoWindow() {
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), "OrvaneConfig - Info");
  gtk_window_set_modal(GTK_WINDOW(top), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_MOUSE);
  gtk_window_set_gravity(GTK_WINDOW(top), GDK_GRAVITY_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(top), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(top), GDK_WINDOW_TYPE_HINT_DIALOG);
  g_object_set_data(G_OBJECT(top), "InfoWindow", top);
  GtkWidget* vbox = gtk_vbox_new(FALSE, 6);
  gtk_container_set_border_width(GTK_CONTAINER(vbox), 8);
  gtk_container_add(GTK_CONTAINER(top), vbox);
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
  g_signal_connect(close, "clicked", G_CALLBACK(InfoWindowCloseCb), nullptr);
  gtk_widget_show_all(vbox);
  return top;
}

void InitInfoWindow(GtkWidget* window) {
  s_poInfoWindow = window;
  GtkListStore* store =
      GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(lookup_widget(window, "treeview2"))));
  gtk_list_store_clear(store);
  const CardInfo* card = GetSelectedCardCtrl();
  std::string counts;
  for (int i = 0; card != nullptr && i < kMaxOutputCounts && card->outputCounts[i] != -1; ++i)
    counts += (i ? "," : "") + std::to_string(card->outputCounts[i]);
  AddRow(store, "Qlb driver version", GetQlbDriverInfo());
  AddRow(store, "Orv driver version", GetOrvDriverInfo());
  AddRow(store, "Kernel module installed", GetOrvKernelDriverFound() ? "true" : "false");
  AddRow(store, "KVD graphics card", card != nullptr && card->kvd ? "true" : "false");
  AddRow(store, "Number of displays", counts);
}

void ShowInfoWindow() {
  GUI_ASSERT(s_poInfoWindow != nullptr);
  gtk_widget_show(s_poInfoWindow);
}
void HideInfoWindow() {
  GUI_ASSERT(s_poInfoWindow != nullptr);
  gtk_widget_hide(s_poInfoWindow);
}
void DestroyInfoWindow() {
  GUI_ASSERT(s_poInfoWindow != nullptr);
  gtk_widget_destroy(s_poInfoWindow);
  s_poInfoWindow = nullptr;
}
