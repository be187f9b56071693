// Construction of the windows and their start-up.
#pragma once

#include <gtk/gtk.h>

// One constructor per window: the widget tree, every widget registered by
// name, and the signals connected to the window's handlers.
GtkWidget* create_MainWindow();
GtkWidget* create_AdvancedWindow();
GtkWidget* create_InfoWindow();
GtkWidget* create_AboutWindow();
// A new open-file chooser over `parent`, showing hidden files; destroyed by
// its user.
GtkWidget* create_FileChooser(GtkWidget* parent);

// Creates the main, Advanced, About and Info windows, initialises them in
// start-up order and shows the main window. GTK must be initialised.
void CreateAppWindows();
// Destroys the secondary windows and releases the main window's parts.
void DestroyAppWindows();
