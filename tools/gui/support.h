// Widgets registered by name on their top-level window, images, and the
// GUI's own assertions.
#pragma once
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

GtkWidget* lookup_widget(GtkWidget* widget, const gchar* name);
void register_widget(GtkWidget* top, GtkWidget* widget, const gchar* name);
void add_pixmap_directory(const gchar* directory);
gchar* find_pixmap_file(const gchar* filename);
GtkWidget* create_pixmap(GtkWidget* widget, const gchar* filename);
GdkPixbuf* create_pixbuf(const gchar* filename);
// Sets the description of the accessibility action called action_name.
void glade_set_atk_action_description(AtkAction* action, const gchar* action_name,
                                      const gchar* description);

// Broken invariants of the GUI's own records stop the program.
#define GUI_ASSERT(cond)                                                   \
  do {                                                                     \
    if (!(cond)) {                                                         \
      std::fprintf(stderr, "orvaneconfig: assertion failed: %s\n", #cond); \
      std::abort();                                                        \
    }                                                                      \
  } while (0)
