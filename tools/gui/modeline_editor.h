// The mode-line editor page of the main window: one editable row per mode
// line, kept in step with the GUI's mode-line collections.
#pragma once

#include <gtk/gtk.h>

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

// The default check: a mode line whose timings do not increase is refused;
// otherwise the board decides through the configuration extension, and
// without the extension the line is accepted.
int ValidateModeLineWithBoard(const UiModeLine* mode);

// View. `window` holds "mwModeLineList" and "notebook1" under their names.
// `preferredModes` is the first board's list of CardPreferredMode records,
// `fileModeLines` a list of UiModeLine read from the X configuration.
void InitUiModeLineTab(GtkWidget* window, const ModeLineTabServices& services,
                       const PrivateList* preferredModes, const PrivateList* fileModeLines);
void SetFocusModeLineTab();
void AddModeLine(const UiModeLine* modeLine, int hPolarity, int vPolarity);
void AddEmptyNewLine();
void RemoveSelectedModeLine();
void RemoveModeLine(GtkTreeIter* row);
bool IsModeLineAlreadyExist(const char* path, const char* name);
void SetModeLineUiColor(GtkListStore* store, GtkTreeIter* row, const UiModeLine* modeLine);
bool IsEveryModeLineValid();
void CellEditedCb(GtkCellRendererText* renderer, gchar* path, gchar* newText, gpointer data);
void FillCurrentModeLine(PrivateList** list);
int ConvertToEnum(const char* text);
// The pixel clock as the list shows it: two decimals, or as many as the
// value needs to come back unchanged.
void FormatModeLineClock(double mhz, char* out, size_t size);

// Controller.
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
void ShutdownUiModeLineTab();
