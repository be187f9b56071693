// Widgets registered by name on their top-level window.
#pragma once
#include <gtk/gtk.h>

GtkWidget* lookup_widget(GtkWidget* widget, const gchar* name);
void register_widget(GtkWidget* top, GtkWidget* widget, const gchar* name);
void add_pixmap_directory(const gchar* directory);
gchar* find_pixmap_file(const gchar* filename);
GtkWidget* create_pixmap(GtkWidget* widget, const gchar* filename);
GdkPixbuf* create_pixbuf(const gchar* filename);
