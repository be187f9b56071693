// The order and selection rules of the main window's combos, apart from
// the widgets.
#pragma once
#include <string>
#include <vector>

// Where `text` goes among `items`: numbers in number order first, then the
// other texts in byte order; equal items keep their insertion order.
size_t SortedInsertPosition(const std::vector<std::string>& items, const std::string& text);
// The item to select for `text`: its own index, else n/2 - 1 of n items
// (the first when n < 4); -1 for an empty combo.
int SelectionIndexFor(const std::vector<std::string>& items, const std::string& text);
