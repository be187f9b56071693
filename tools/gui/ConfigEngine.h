// The configuration library as the GUI uses it: probing the X configuration
// and the board, and rewriting a configuration file. The program installs
// the library-backed engine; tests install stand-ins.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

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

// The user's choices as the apply step hands them to the library; the
// presence bits say which fields are set.
struct GuiSelection {
  static constexpr uint32_t kOutputFile = 0x1, kOutputs = 0x2, kKvd = 0x8, kBusMastering = 0x10,
                            kOpenGL = 0x20, kUseEdid = 0x40, kForceDvi = 0x80, kMode = 0x100,
                            kLayout = 0x200, kOverwrite = 0x400, kResolution = 0x1000,
                            kRefresh = 0x2000, kDepth = 0x4000, kRotation = 0x8000;
  std::string outputFile;
  int32_t outputs = 0;
  int32_t driverFamily = 1;
  int32_t kvd = 0, busMastering = 0, openGL = 0, useEdid = 0, forceDvi = 0;
  int32_t mode = 0, layout = 0;
  int32_t overwrite = 0;
  int32_t useBoardCapabilities = 0;
  std::string resolution[2];
  uint32_t refresh[2] = {0, 0};  // all bits set: a mode line, no rate
  uint32_t depth[2] = {0, 0};
  uint32_t rotation[2] = {0, 0};
  uint32_t presentFlags = 0;
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
  virtual int UpdateConfigFile(const GuiSelection& selection) = 0;
  virtual int ClearModelines(const char* path) = 0;
  virtual int AddModelines(PrivateList* modeLines, const char* path) = 0;
  // The message of an answer of the calls above.
  virtual std::string ErrorText(int code) { return ErrorCodeToString(code); }
};

void SetConfigEngine(ConfigEngine* engine);
// The installed engine; the program cannot run without one.
ConfigEngine& GetConfigEngine();
