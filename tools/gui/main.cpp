// orvaneconfig: configures the boards, outputs and layout in the X
// configuration file.
#include <gtk/gtk.h>

#include <clocale>
#include <cstdlib>

#include "tools/gui/CardsProbe.h"
#include "tools/gui/ConfigEngine.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/interface.h"
#include "tools/lib/File.h"

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

  CreateAppWindows();
  ShowStartupMessages(failure, probe);

  gtk_main();
  DestroyAppWindows();
  return 0;
}
