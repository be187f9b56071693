// The main window: its widgets, its signal handlers and the view the
// controller drives.
#pragma once
#include <gtk/gtk.h>

GtkWidget* create_MainWindow();
void InitCallBackModules();
void InitMainWindow();
void ShowMainWindow();
void HideMainWindow();
void DestroyMainWindow();
GtkWidget* GetMainWindow();
// The "Sans %d" size at which the sample text is about 17 pixels high.
void ProbeFontSize(GtkWidget* window);
