// The configuration library as the GUI uses it: probing the X configuration
// and the board, and rewriting a configuration file. The program installs
// the library-backed engine; tests install stand-ins.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/DriverInfo.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"
#include "tools/lib/Probe.h"

// One screen of the current X configuration, as the main window shows it.
struct XConfigScreenEntry {
  std::string outputs;     // "1,2"
  std::string resolution;  // "1280x1024" or a mode-line name
  int32_t refresh = 0;
  int32_t depth = 0;
  uint32_t rotation = 0;   // 0 none, 1 cw, 2 ccw
};

// What the current X configuration says.
struct XConfigSummary {
  std::string fileName;
  std::string busId;
  int32_t outputs = 0;
  int32_t boardIndex = 0;
  int32_t layout = 0;
  int32_t mode = 0;
  int32_t xinerama = 0;
  int32_t busMastering = 0;
  int32_t openGL = 0;
  int32_t useEdid = 0;
  int32_t forceDvi = 0;
  std::vector<XConfigScreenEntry> screens;
  std::vector<UiModeLine> modeLines;  // in file order
};

class ConfigEngine {
 public:
  virtual ~ConfigEngine() = default;
  virtual int InitCore() = 0;
  // Error code of the library (0 or 3 on success).
  virtual int ProbeXConfig(XConfigSummary* summary) = 0;
  virtual void ProbeCard(CardInfo* card) = 0;
  virtual void ProbeDrivers(DriverInfo* info) = 0;
  // Rewrites `selection.outputFile`; answers the library's error code.
  virtual int UpdateConfigFile(const UserSelection& selection) = 0;
  virtual int ClearModelines(const char* path) = 0;
  virtual int AddModelines(PrivateList* modeLines, const char* path) = 0;
  // The message of an answer of the calls above.
  virtual std::string ErrorText(int code) { return ErrorCodeToString(code); }
};

void SetConfigEngine(ConfigEngine* engine);
// The installed engine; the program cannot run without one.
ConfigEngine& GetConfigEngine();

// The configuration library behind the GUI. Library calls that end the
// process on a bad file run first in a child process, so that the GUI can
// report the library's message instead of vanishing.
class LibraryEngine : public ConfigEngine {
 public:
  int InitCore() override;
  int ProbeXConfig(XConfigSummary* summary) override;
  void ProbeCard(CardInfo* card) override;
  void ProbeDrivers(DriverInfo* info) override;
  int UpdateConfigFile(const UserSelection& selection) override;
  int ClearModelines(const char* path) override;
  int AddModelines(PrivateList* modeLines, const char* path) override;
  // For a call that ended the process: what the library printed.
  std::string ErrorText(int code) override;
};

// Answer of an engine call whose library routine ended the process.
constexpr int kLibraryAborted = -1;
// What the library printed before it ended the process.
const std::string& LibraryFailureText();
