// The mode-line editor page, its controller: what the rest of the GUI
// calls, kept in step with the GUI's mode-line collections.
#pragma once

#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"

// Store columns 0-11 hold text, 12 the row's foreground colour.
enum ModeLineColumn {
  kMlName = 0,
  kMlClock = 1,
  kMlHdisp = 2,
  kMlVtotal = 9,
  kMlHPolarity = 10,
  kMlVPolarity = 11,
  kMlColor = 12,
  kMlColumnCount = 13,
};

// What the editor needs from the rest of the GUI. The collector entries are
// the mode-line collections; `showError` is the GUI's error dialog;
// `validate` answers 1 when the board accepts a mode line (null: the
// default check through the configuration extension).
struct ModeLineTabServices {
  void (*addPreferredModeLine)(const UiModeLine* mode, int output);
  void (*addCustomModeLine)(const UiModeLine* mode);
  UiModeLine* (*findMatchingModeLine)(const char* name);
  void (*removeModeLineFromCollector)(const char* name);
  const UiModeLine* (*getPreferredModeLine)(int output);
  PrivateList* (*getCustomModeLineList)();
  void (*showError)(const char* message);
  int (*validate)(const UiModeLine* mode);
};
void SetModeLineTabServices(const ModeLineTabServices& services);
const ModeLineTabServices& GetModeLineTabServices();

// The timing that column 2-9 holds.
int32_t* ModeLineTimingField(UiModeLine* modeLine, int column);
// Puts the text of one cell into a mode line: column 0 the name, 1 the
// pixel clock, 2-9 the timings, 10-11 the polarities. A value that does not
// read sets 0.
void SetModeLineField(UiModeLine* modeLine, const char* text, int column);

void InitUiModeLineTabCtrl(const PrivateList* preferredModes, const PrivateList* fileModeLines);
void AddModeLineCtrl(const UiModeLine* modeLine);
void AddNewModeLineCtrl();
void RemoveModeLineCtrl();
void EditModeLineCtrl(const char* name, const char* text, int column);
void RemoveModeLineFromNameCtrl(const char* name);
void AddModeLineToCollectorCtrl(const UiModeLine* modeLine);
void SetFocusModeLineTabCtrl();
bool IsEveryModeLineValidCtrl();
const UiModeLine* GetPreferedModeLineCtrl(int output);
PrivateList* GetCustomModeLineCtrl();
void ValidateModeLinesWithVideoCard();
// The rows as UiModeLine records, last row first; owned by the editor until
// the next call.
PrivateList* GetModeLineList();
bool IsThisAModeLine(const char* name);
// Releases the collected list (at exit).
void ShutdownUiModeLineTabCtrl();
