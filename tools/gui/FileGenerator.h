// Writing the user's choices into the X configuration file.
#pragma once
#include <string>

#include "tools/gui/ConfigEngine.h"
#include "tools/lib/List.h"

// What the apply step needs of the mode-line page.
// Without the page, names are looked up in the mode-line collections and
// the custom collection is written.
struct ModeLineTabHooks {
  bool (*isEveryModeLineValid)() = nullptr;
  void (*bringToFront)() = nullptr;
  // True when a row of the page has this name.
  bool (*isModeLine)(const char* name) = nullptr;
  // The page's rows as mode lines, last row first.
  PrivateList* (*modeLines)() = nullptr;
};
void SetModeLineTabHooks(const ModeLineTabHooks& hooks);

void ApplyConfiguration();
void QuitApplication();
// The selection of the controller's state, for the file `outputFile` (which
// it points at, so the text must outlive it).
UserSelection SaveUserSelectionToFile(const std::string& outputFile);
bool GenerateOutputFile();
// Copies src over dest, keeping dest's old text as "<dest>.bak" first when
// keepBackup is set; through kdesu or a gksu-like tool when the user may
// not write dest.
bool FileCopy(const std::string& src, const std::string& dest, bool keepBackup = true);
