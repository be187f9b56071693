#include "tools/gui/ComboBoxUtils.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Blocked {
  GtkWidget* combo;
  gulong handler;
};
std::vector<Blocked> s_blocked;

std::vector<std::string> Items(GtkComboBox* combo) {
  std::vector<std::string> items;
  GtkTreeModel* model = gtk_combo_box_get_model(combo);
  GtkTreeIter it;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, &it, 0, &text, -1);
    items.emplace_back(text != nullptr ? text : "");
    g_free(text);
  }
  return items;
}

}  // namespace

gchar* ComboBoxGetActiveText(GtkComboBox* combo) {
  GtkTreeIter it;
  if (!gtk_combo_box_get_active_iter(combo, &it)) return nullptr;
  gchar* text = nullptr;
  gtk_tree_model_get(gtk_combo_box_get_model(combo), &it, 0, &text, -1);
  return text;
}

void InsertSortedElemComboBox(GtkComboBox* combo, const gchar* text) {
  GtkListStore* store = GTK_LIST_STORE(gtk_combo_box_get_model(combo));
  GtkTreeIter it;
  gtk_list_store_insert(store, &it, static_cast<gint>(SortedInsertPosition(Items(combo), text)));
  gtk_list_store_set(store, &it, 0, text, -1);
}

bool IsElemFound(GtkComboBox* combo, const gchar* text) {
  for (const std::string& item : Items(combo))
    if (item == text) return true;
  return false;
}

void SelectElemComboBox(GtkComboBox* combo, const gchar* text) {
  int index = SelectionIndexFor(Items(combo), text != nullptr ? text : "");
  if (index >= 0) gtk_combo_box_set_active(combo, index);
}

void SelectComboBoxFirstElem(GtkComboBox* combo) { gtk_combo_box_set_active(combo, 0); }

void RemoveAllComboBox(GtkComboBox* combo) {
  for (const Blocked& b : s_blocked) g_signal_handler_block(b.combo, b.handler);
  gtk_list_store_clear(GTK_LIST_STORE(gtk_combo_box_get_model(combo)));
  for (const Blocked& b : s_blocked) g_signal_handler_unblock(b.combo, b.handler);
}

void SetComboHandlersToBlock(GtkWidget* const* combos, const gulong* handlers, int count) {
  s_blocked.clear();
  for (int i = 0; i < count; ++i) s_blocked.push_back({combos[i], handlers[i]});
}

namespace {

bool StartsWithDigit(const std::string& s) {
  return !s.empty() && std::isdigit(static_cast<unsigned char>(s[0]));
}

long LeadingNumber(const std::string& s) { return std::strtol(s.c_str(), nullptr, 10); }

// Byte comparison with signed bytes.
int SignedCompare(const std::string& a, const std::string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<signed char>(a[i]);
    auto cb = static_cast<signed char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

size_t SortedInsertPosition(const std::vector<std::string>& items, const std::string& text) {
  size_t i = 0;
  if (StartsWithDigit(text)) {
    long value = LeadingNumber(text);
    while (i < items.size() && StartsWithDigit(items[i]) && LeadingNumber(items[i]) <= value) ++i;
    return i;
  }
  while (i < items.size() && StartsWithDigit(items[i])) ++i;
  while (i < items.size() && SignedCompare(items[i], text) <= 0) ++i;
  return i;
}

int SelectionIndexFor(const std::vector<std::string>& items, const std::string& text) {
  if (items.empty()) return -1;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == text) return static_cast<int>(i);
  int n = static_cast<int>(items.size());
  return n < 4 ? 0 : n / 2 - 1;
}
