#pragma once
#include <gtk/gtk.h>

void InitAboutWindow(GtkWidget* window);
void ShowAboutWindow();
void HideAboutWindow();
void DestroyAboutWindow();

// Signal handlers (a handler that stops the event returns TRUE).
gboolean AboutWindowDestroyEventCb(GtkWidget* widget, GdkEvent* event, gpointer data);
void AbwCloseButtonClickedCb(GtkButton* button, gpointer data);
gboolean AbwDrawingAreaExposeEventCb(GtkWidget* widget, GdkEventExpose* event, gpointer data);
gboolean AbwDrawingAreaConfigureEventCb(GtkWidget* widget, GdkEventConfigure* event, gpointer data);
