#pragma once
#include <gtk/gtk.h>

void InitAdvancedWindow(GtkWidget* window);
void ShowAdvancedWindow();
void HideAdvancedWindow();
void DestroyAdvancedWindow();
void SetOutputFileEntry(const char* text);
void SetUsingBusMastering(bool on);
void SetForcingDVI(bool on);
void SetUsingEdid(bool on);
void SetUsingGl(bool on);

// Signal handlers (a handler that stops the event returns TRUE).
gboolean AdvancedWindowDestroyEventCb(GtkWidget* widget, GdkEvent* event, gpointer data);
// Escape closes (hides) the window, as it does a dialog of the toolkit.
gboolean AdvancedWindowKeyPressCb(GtkWidget* widget, GdkEventKey* event, gpointer data);
void AwCloseButtonCb(GtkButton* button, gpointer data);
void AwCheckBusMasteringToggled(GtkToggleButton* button, gpointer data);
void AwForceDVICheckButtonToggledCb(GtkToggleButton* button, gpointer data);
void AwCheck3DToggled(GtkToggleButton* button, gpointer data);
void AwCheckButtonEdidToggled(GtkToggleButton* button, gpointer data);
void AwOutputFileEntryChangedCb(GtkEditable* editable, gpointer data);
void AwOutputFileChooseButtonClickCb(GtkButton* button, gpointer data);
void AwButtonDefaultClickedCb(GtkButton* button, gpointer data);
