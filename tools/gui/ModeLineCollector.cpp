#include "tools/gui/ModeLineCollector.h"

#include <cstring>

#include "tools/gui/support.h"

namespace {

UiModeLine s_preferred[iNumMaxModeLine]{};
PrivateList* s_custom = nullptr;

UiModeLine* Payload(PrivateList* node) { return static_cast<UiModeLine*>(node->Payload()); }

PrivateList* FindCustom(PrivateList* list, const char* name) {
  for (PrivateList* n = list; n != nullptr; n = n->next)
    if (std::strcmp(Payload(n)->name, name) == 0) return n;
  return nullptr;
}

}  // namespace

void AddPreferedModeLine(const UiModeLine& modeLine, unsigned eNumOutput) {
  GUI_ASSERT(eNumOutput < iNumMaxModeLine);
  s_preferred[eNumOutput] = modeLine;
}

UiModeLine* GetPreferedModeLine(unsigned eNumOutput) {
  GUI_ASSERT(eNumOutput < iNumMaxModeLine);
  return &s_preferred[eNumOutput];
}

bool HasAPreferedModeLine(unsigned eNumOutput) {
  return eNumOutput < iNumMaxModeLine && s_preferred[eNumOutput].name[0] != '\0';
}

bool IsAPreferedModeLine(const char* name) {
  if (name[0] == '\0') return false;  // free slots have no name
  for (const UiModeLine& m : s_preferred)
    if (std::strcmp(m.name, name) == 0) return true;
  return false;
}

void AddCustomModeLine(const UiModeLine& modeLine) {
  s_custom = PrivateListInsertFirst(s_custom, &modeLine, sizeof modeLine, nullptr);
}

PrivateList* GetCustomModeLineList() { return s_custom; }

UiModeLine* FindMatchingModeLine(const char* name) {
  if (name[0] == '\0') return nullptr;
  for (UiModeLine& m : s_preferred)
    if (std::strcmp(m.name, name) == 0) return &m;
  PrivateList* node = FindCustom(s_custom, name);
  return node != nullptr ? Payload(node) : nullptr;
}

void RemoveModeLineFromCollector(const char* name) {
  if (name[0] == '\0') return;
  for (UiModeLine& m : s_preferred) {
    if (std::strcmp(m.name, name) == 0) {
      std::memset(&m, 0, sizeof m);
      return;
    }
  }
  if (PrivateList* node = FindCustom(s_custom, name)) s_custom = PrivateRemoveElemList(s_custom, node);
}

bool IsModeLineExists(PrivateList* list, const char* name) { return FindCustom(list, name) != nullptr; }

bool CompareModeLine(const UiModeLine& a, const UiModeLine& b) {
  return std::strcmp(a.name, b.name) == 0;
}

void RemoveAllModeLineCollector() {
  PrivateDeleteList(s_custom);
  s_custom = nullptr;
  std::memset(s_preferred, 0, sizeof s_preferred);
}
