// orvaneconfig: configures the boards, outputs and layout in the X
// configuration file.
#include <gtk/gtk.h>

#include <clocale>
#include <cstdlib>

#include "tools/gui/AboutWindow.h"
#include "tools/gui/AdvancedWindow.h"
#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/CardsProbe.h"
#include "tools/gui/GtkDialogs.h"
#include "tools/gui/InfoWindow.h"
#include "tools/gui/LibraryEngine.h"
#include "tools/gui/MainWindow.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/WindowUtils.h"
#include "tools/lib/SysRoot.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/error_codes.h"

int main(int argc, char* argv[]) {
  // Tests run the program on a fixture system tree.
  if (const char* root = std::getenv("ORV_SYSROOT")) SysRootSet(root);
  static LibraryEngine engine;
  SetConfigEngine(&engine);
  const bool coreOk = engine.InitCore() != kLibraryAborted;
  InitProbeInfo();
  const int probe = coreOk ? ProbeHardwareNew() : kLibraryAborted;
  const std::string failure = LibraryFailureText();

  gtk_set_locale();
  gtk_init(&argc, &argv);
  std::setlocale(LC_NUMERIC, "C");

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

  if (!failure.empty()) OutputErrorMsg(failure);
  if (!ORVCommIsORVCfgExtFound())
    OutputMsg("You are currently running this application without the ORVCFG X Server extension. No modeline "
              "validation will be possible.",
              "Warning");
  if (probe == kErrOneCardOnly) OutputMsg(ErrorCodeToString(kErrOneCardOnly), "Warning");

  gtk_main();
  DestroyAboutWindow();
  DestroyAdvancedWindow();
  DestroyInfoWindow();
  return 0;
}
