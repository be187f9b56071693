// Combos whose first model column holds the text.
#pragma once
#include <gtk/gtk.h>

#include <string>
#include <vector>

gchar* ComboBoxGetActiveText(GtkComboBox* combo);  // caller frees
void InsertSortedElemComboBox(GtkComboBox* combo, const gchar* text);
bool IsElemFound(GtkComboBox* combo, const gchar* text);
void SelectElemComboBox(GtkComboBox* combo, const gchar* text);
void SelectComboBoxFirstElem(GtkComboBox* combo);
// Emptying emits no "changed" to the resolution and refresh handlers.
void RemoveAllComboBox(GtkComboBox* combo);
// The handlers RemoveAllComboBox blocks.
void SetComboHandlersToBlock(GtkWidget* const* combos, const gulong* handlers, int count);

// The order and selection rules of the combos, apart from the widgets.
// Where `text` goes among `items`: numbers in number order first, then the
// other texts in byte order; equal items keep their insertion order.
size_t SortedInsertPosition(const std::vector<std::string>& items, const std::string& text);
// The item to select for `text`: its own index, else n/2 - 1 of n items
// (the first when n < 4); -1 for an empty combo.
int SelectionIndexFor(const std::vector<std::string>& items, const std::string& text);
