#include "tools/gui/InfoWindow.h"

#include <gdk/gdkkeysyms.h>

#include <string>

#include "tools/gui/ProbeInfo.h"
#include "tools/gui/UiController.h"
#include "tools/gui/support.h"

namespace {

GtkWidget* s_poInfoWindow = nullptr;

}  // namespace

gboolean InfoWindowDestroyEventCb(GtkWidget*, GdkEvent*, gpointer) {
  HideInfoWindow();
  return TRUE;
}
gboolean InfoWindowKeyPressCb(GtkWidget*, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_Escape) return FALSE;
  HideInfoWindow();
  return TRUE;
}
void InfoWindowCloseCb(GtkButton*, gpointer) { HideInfoWindow(); }

namespace {

void AddRow(GtkListStore* store, const char* name, const std::string& value) {
  GtkTreeIter it;
  gtk_list_store_append(store, &it);
  gtk_list_store_set(store, &it, 0, name, 1, value.c_str(), -1);
}

}  // namespace

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
