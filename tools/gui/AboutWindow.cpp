#include "tools/gui/AboutWindow.h"

#include "tools/gui/GuiAssert.h"
#include "tools/gui/support.h"

namespace {

GtkWidget* s_poAboutWindow = nullptr;
GdkPixmap* s_backing = nullptr;
constexpr int kVersionMajor = 1, kVersionMinor = 1, kVersionPatch = 1;

gboolean AboutWindowDestroyEventCb(GtkWidget*, GdkEvent*, gpointer) {
  HideAboutWindow();
  return TRUE;
}
void AbwCloseButtonClickedCb(GtkButton*, gpointer) { HideAboutWindow(); }

gboolean AbwDrawingAreaConfigureEventCb(GtkWidget* w, GdkEventConfigure*, gpointer) {
  if (s_backing != nullptr) g_object_unref(s_backing);
  s_backing = gdk_pixmap_new(w->window, w->allocation.width, w->allocation.height, -1);
  gdk_draw_rectangle(s_backing, w->style->white_gc, TRUE, 0, 0, w->allocation.width, w->allocation.height);
  return TRUE;
}

gboolean AbwDrawingAreaExposeEventCb(GtkWidget* w, GdkEventExpose* e, gpointer) {
  if (s_backing == nullptr) return FALSE;
  gdk_draw_drawable(w->window, w->style->fg_gc[GTK_WIDGET_STATE(w)], s_backing, e->area.x, e->area.y, e->area.x,
                    e->area.y, e->area.width, e->area.height);
  PangoLayout* title = gtk_widget_create_pango_layout(w, nullptr);
  pango_layout_set_markup(title, "<span size='xx-large' weight='bold'>OrvaneConfig</span>", -1);
  gdk_draw_layout(w->window, w->style->black_gc, 0, 0, title);
  g_object_unref(title);
  return FALSE;
}

}  // namespace

GtkWidget* create_AboutWindow() {
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), "OrvaneConfig - About");
  gtk_window_set_modal(GTK_WINDOW(top), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_MOUSE);
  gtk_window_set_type_hint(GTK_WINDOW(top), GDK_WINDOW_TYPE_HINT_DIALOG);
  g_object_set_data(G_OBJECT(top), "AboutWindow", top);
  GtkWidget* vbox = gtk_vbox_new(FALSE, 6);
  gtk_container_set_border_width(GTK_CONTAINER(vbox), 8);
  gtk_container_add(GTK_CONTAINER(top), vbox);
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

void InitAboutWindow(GtkWidget* window) {
  s_poAboutWindow = window;
  gchar* text = g_strdup_printf("OrvaneConfig Version %d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
  gtk_label_set_text(GTK_LABEL(lookup_widget(window, "AbwLabelVersion")), text);
  g_free(text);
}

void ShowAboutWindow() {
  GUI_ASSERT(s_poAboutWindow != nullptr);
  gtk_widget_show(s_poAboutWindow);
}
void HideAboutWindow() {
  GUI_ASSERT(s_poAboutWindow != nullptr);
  gtk_widget_hide(s_poAboutWindow);
}
void DestroyAboutWindow() {
  GUI_ASSERT(s_poAboutWindow != nullptr);
  gtk_widget_destroy(s_poAboutWindow);
  s_poAboutWindow = nullptr;
}
