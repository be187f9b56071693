// Combos whose first model column holds the text.
#pragma once
#include <gtk/gtk.h>

gchar* ComboBoxGetActiveText(GtkComboBox* combo);  // caller frees
void InsertSortedElemComboBox(GtkComboBox* combo, const gchar* text);
bool IsElemFound(GtkComboBox* combo, const gchar* text);
void SelectElemComboBox(GtkComboBox* combo, const gchar* text);
void SelectComboBoxFirstElem(GtkComboBox* combo);
// Emptying emits no "changed" to the resolution and refresh handlers.
void RemoveAllComboBox(GtkComboBox* combo);
// The handlers RemoveAllComboBox blocks.
void SetComboHandlersToBlock(GtkWidget* const* combos, const gulong* handlers, int count);
