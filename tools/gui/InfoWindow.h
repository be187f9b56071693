#pragma once
#include <gtk/gtk.h>

void InitInfoWindow(GtkWidget* window);
void ShowInfoWindow();
void HideInfoWindow();
void DestroyInfoWindow();

// Signal handlers (a handler that stops the event returns TRUE).
gboolean InfoWindowDestroyEventCb(GtkWidget* widget, GdkEvent* event, gpointer data);
void InfoWindowCloseCb(GtkButton* button, gpointer data);
