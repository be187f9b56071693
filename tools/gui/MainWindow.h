// The main window: its widgets, its signal handlers and the view the
// controller drives.
#pragma once
#include <gtk/gtk.h>

GtkWidget* create_MainWindow();
void InitCallBackModules();
// Also sets up the preview and the mode-line page.
void InitMainWindow();
// Releases the preview and the mode-line page (at exit).
void ShutdownMainWindowParts();
void ShowMainWindow();
void HideMainWindow();
void DestroyMainWindow();
GtkWidget* GetMainWindow();
// The "Sans %d" size at which the sample text is about 17 pixels high.
void ProbeFontSize(GtkWidget* window);
