// Writing the user's choices into the X configuration file.
#pragma once
#include <string>

#include "tools/gui/ConfigEngine.h"

// What the apply step needs of the mode-line page.
struct ModeLineTabHooks {
  bool (*isEveryModeLineValid)() = nullptr;
  void (*bringToFront)() = nullptr;
};
void SetModeLineTabHooks(const ModeLineTabHooks& hooks);

void ApplyConfiguration();
void QuitApplication();
// The selection of the controller's state, for the file `outputFile`.
GuiSelection SaveUserSelectionToFile(const std::string& outputFile);
bool GenerateOutputFile();
bool FileCopy(const std::string& src, const std::string& dest);
// True when `text` names a mode line rather than a "<width>x<height>"
// resolution.
bool IsModeLineName(const char* text);
