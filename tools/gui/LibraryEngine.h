#pragma once
#include "tools/gui/ConfigEngine.h"

// The configuration library behind the GUI. Library calls that end the
// process on a bad file run first in a child process, so that the GUI can
// report the library's message instead of vanishing.
class LibraryEngine : public ConfigEngine {
 public:
  int InitCore() override;
  int ProbeXConfig(XConfigSummary* summary) override;
  void ProbeCard(CardInfo* card) override;
  void ProbeDrivers(DriverInfo* info) override;
  int UpdateConfigFile(const GuiSelection& selection) override;
  int ClearModelines(const char* path) override;
  int AddModelines(PrivateList* modeLines, const char* path) override;
  // For a call that ended the process: what the library printed.
  std::string ErrorText(int code) override;
};

// Answer of an engine call whose library routine ended the process.
constexpr int kLibraryAborted = -1;
// What the library printed before it ended the process.
const std::string& LibraryFailureText();
