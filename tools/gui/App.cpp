#include "tools/gui/App.h"

#include "tools/gui/AboutWindow.h"
#include "tools/gui/AdvancedWindow.h"
#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/GtkDialogs.h"
#include "tools/gui/InfoWindow.h"
#include "tools/gui/MainWindow.h"
#include "tools/gui/WindowUtils.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/XCommInterface.h"

void CreateAppWindows() {
  GtkWidget* mainWindow = create_MainWindow();
  GtkWidget* advanced = create_AdvancedWindow();
  GtkWidget* about = create_AboutWindow();
  GtkWidget* info = create_InfoWindow();
  InitCallBackModules();
  InitMainWindow();
  InitWindowUtil(mainWindow);
  ShowMainWindow();
  ProbeFontSize(mainWindow);
  InitAdvancedWindow(advanced);
  AdvancedWindowCtrlInit();
  InitAboutWindow(about);
  InitInfoWindow(info);
}

void ShowStartupMessages(const std::string& failure, int probe) {
  if (!failure.empty()) OutputErrorMsg(failure);
  if (!ORVCommIsORVCfgExtFound())
    OutputMsg("You are currently running this application without the ORVCFG X Server extension. No modeline "
              "validation will be possible.",
              "Warning");
  if (probe == kErrOneCardOnly) OutputMsg(ErrorCodeToString(kErrOneCardOnly), "Warning");
  // Without a board there is nothing to configure: say so rather than show
  // an empty list.
  if (probe == kErrNoCard) OutputMsg(ErrorCodeToString(kErrNoCard), "Warning");
}

void DestroyAppWindows() {
  DestroyAboutWindow();
  DestroyAdvancedWindow();
  DestroyInfoWindow();
  ShutdownMainWindowParts();
}
