#pragma once
#include <gtk/gtk.h>

// Dialogs on `parent` (the main window); installs them for the GUI.
void InitWindowUtil(GtkWidget* parent);
