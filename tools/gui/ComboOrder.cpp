#include "tools/gui/ComboOrder.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

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
