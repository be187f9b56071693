// The mode-line editor page of the main window, its view: one editable row
// per mode line, coloured by whether the board accepts it.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "tools/gui/UiModeLineTabCtrl.h"
#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"

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
// Releases the view's rows list (at exit).
void ShutdownUiModeLineTab();

// For the controller: the rows' store and one cell's text.
GtkListStore* GetModeLineStore();
std::string GetModeLineCellText(GtkTreeIter* row, int column);
// True when a row has this name.
bool HasModeLineRow(const char* name);
