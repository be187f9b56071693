// The mode lines the GUI edits: one preferred mode line per output and the
// user's custom ones.
#pragma once
#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"

constexpr int iNumMaxModeLine = 4;

void AddPreferedModeLine(const UiModeLine& modeLine, unsigned eNumOutput);
UiModeLine* GetPreferedModeLine(unsigned eNumOutput);
bool HasAPreferedModeLine(unsigned eNumOutput);
bool IsAPreferedModeLine(const char* name);
// Newest first.
void AddCustomModeLine(const UiModeLine& modeLine);
PrivateList* GetCustomModeLineList();
// A preferred mode line before a custom one; null when neither has the name.
UiModeLine* FindMatchingModeLine(const char* name);
void RemoveModeLineFromCollector(const char* name);
bool IsModeLineExists(PrivateList* list, const char* name);
bool CompareModeLine(const UiModeLine& a, const UiModeLine& b);
void RemoveAllModeLineCollector();
