#pragma once
#include <gtk/gtk.h>

void InitInfoWindow(GtkWidget* window);
void ShowInfoWindow();
void HideInfoWindow();
void DestroyInfoWindow();

// Signal handlers (a handler that stops the event returns TRUE).
gboolean InfoWindowDestroyEventCb(GtkWidget* widget, GdkEvent* event, gpointer data);
// Escape closes (hides) the window, as it does a dialog of the toolkit.
gboolean InfoWindowKeyPressCb(GtkWidget* widget, GdkEventKey* event, gpointer data);
void InfoWindowCloseCb(GtkButton* button, gpointer data);
