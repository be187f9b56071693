#include "tools/gui/AboutWindow.h"

#include "tools/gui/support.h"

namespace {

GtkWidget* s_poAboutWindow = nullptr;
GdkPixmap* s_backing = nullptr;
constexpr int kVersionMajor = 1, kVersionMinor = 1, kVersionPatch = 1;

}  // namespace

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
