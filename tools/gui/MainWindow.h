// The main window: the view the controller drives, its set-up, and the
// names under which its widgets are registered.
#pragma once

#include <gtk/gtk.h>

// Widget names of the panels' combos ([panel][resolution, refresh rate,
// colour depth, rotation]) and of the layout and mode radios (by number 1-3).
extern const char* const kPanelComboNames[2][4];
extern const char* const kLayoutRadioNames[4];
extern const char* const kModeRadioNames[4];

// The window create_MainWindow built (s_poMainWindow).
void RegisterMainWindow(GtkWidget* window);
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
