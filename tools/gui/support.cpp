#include "tools/gui/support.h"

#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<std::string> s_pixmapDirs;
}

GtkWidget* lookup_widget(GtkWidget* widget, const gchar* name) {
  GtkWidget* parent = widget;
  for (;;) {
    if (GTK_IS_MENU(widget))
      parent = gtk_menu_get_attach_widget(GTK_MENU(widget));
    else
      parent = widget->parent;
    if (parent == nullptr)
      parent = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), "GladeParentKey"));
    if (parent == nullptr) break;
    widget = parent;
  }
  auto* found = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), name));
  if (found == nullptr) g_warning("Widget not found: %s", name);
  return found;
}

void register_widget(GtkWidget* top, GtkWidget* widget, const gchar* name) {
  gtk_widget_set_name(widget, name);
  g_object_set_data_full(G_OBJECT(top), name, g_object_ref(widget), g_object_unref);
}

void add_pixmap_directory(const gchar* directory) { s_pixmapDirs.emplace_back(directory); }

gchar* find_pixmap_file(const gchar* filename) {
  for (const std::string& dir : s_pixmapDirs) {
    gchar* path = g_build_filename(dir.c_str(), filename, nullptr);
    if (g_file_test(path, G_FILE_TEST_EXISTS)) return path;
    g_free(path);
  }
  return nullptr;
}

GtkWidget* create_pixmap(GtkWidget*, const gchar* filename) {
  if (filename == nullptr || filename[0] == '\0') return gtk_image_new();
  gchar* path = find_pixmap_file(filename);
  if (path == nullptr) {
    g_warning("Couldn't find pixmap file: %s", filename);
    return gtk_image_new();
  }
  GtkWidget* image = gtk_image_new_from_file(path);
  g_free(path);
  return image;
}

GdkPixbuf* create_pixbuf(const gchar* filename) {
  if (filename == nullptr || filename[0] == '\0') return nullptr;
  gchar* path = find_pixmap_file(filename);
  if (path == nullptr) {
    g_warning("Couldn't find pixmap file: %s", filename);
    return nullptr;
  }
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path, &error);
  if (pixbuf == nullptr) {
    fprintf(stderr, "Failed to load pixbuf file: %s: %s\n", path, error->message);
    g_error_free(error);
  }
  g_free(path);
  return pixbuf;
}

void glade_set_atk_action_description(AtkAction* action, const gchar* action_name,
                                      const gchar* description) {
  if (action == nullptr || action_name == nullptr) return;
  const gint count = atk_action_get_n_actions(action);
  for (gint i = 0; i < count; ++i) {
    const gchar* name = atk_action_get_name(action, i);
    if (name != nullptr && std::strcmp(name, action_name) == 0)
      atk_action_set_description(action, i, description);
  }
}
