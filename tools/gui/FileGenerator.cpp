#include "tools/gui/FileGenerator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/UiController.h"
#include "tools/gui/WindowUtils.h"
#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/File.h"

namespace {

ModeLineTabHooks s_modeLineTab;

std::string Format(const char* format, const std::string& a) {
  std::vector<char> buffer(std::strlen(format) + a.size() + 1);
  std::snprintf(buffer.data(), buffer.size(), format, a.c_str());
  return buffer.data();
}

// Removes the temporary file (and the backup the library keeps of it)
// whatever way the apply ends.
class TempFile {
 public:
  bool Create() {
    char name[] = "/tmp/orvaneconfig-XXXXXX";
    static_assert(sizeof name == sizeof "/tmp/orvaneconfig-XXXXXX");
    int fd = mkstemp(name);
    if (fd < 0) return false;
    close(fd);
    path_ = name;
    return true;
  }
  ~TempFile() {
    if (path_.empty()) return;
    unlink(path_.c_str());
    unlink((path_ + ".bak").c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void SetModeLineTabHooks(const ModeLineTabHooks& hooks) { s_modeLineTab = hooks; }

namespace {

bool IsModeLine(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (s_modeLineTab.isModeLine != nullptr) return s_modeLineTab.isModeLine(name);
  return FindMatchingModeLine(name) != nullptr;
}

// The mode lines to write, in the order the user sees them: both sources
// run newest (or last row) first.
class ModeLinesToWrite {
 public:
  ModeLinesToWrite() {
    PrivateList* source = s_modeLineTab.modeLines != nullptr ? s_modeLineTab.modeLines() : GetCustomModeLineList();
    for (PrivateList* n = source; n != nullptr; n = n->next)
      list_ = PrivateListInsertFirst(list_, n->Payload(), sizeof(UiModeLine), nullptr);
  }
  ~ModeLinesToWrite() { PrivateDeleteList(list_); }
  ModeLinesToWrite(const ModeLinesToWrite&) = delete;
  ModeLinesToWrite& operator=(const ModeLinesToWrite&) = delete;
  PrivateList* List() const { return list_; }

 private:
  PrivateList* list_ = nullptr;
};

}  // namespace

UserSelection SaveUserSelectionToFile(const std::string& outputFile) {
  UserSelection s{};
  const bool second = IsDisplayPanelEnableCtrl(1);
  s.outputFile = outputFile.c_str();
  s.outputs = static_cast<int32_t>(GetNumOutputCtrl()) + 1;
  s.family = kDriverOrv;
  s.kvd = IsKvdBoardCtrl() ? 1 : 0;
  s.busMastering = IsBusMasteringEnableCtrl();
  s.openGL = Is3DEnableCtrl();
  s.edid = IsUsingEdidCtrl();
  s.forceDigital = IsForcingDVICtrl();
  s.mode = static_cast<int32_t>(GetAgglutinationCtrl());
  s.layout = static_cast<int32_t>(GetTopologyCtrl());
  s.overwrite = 1;
  s.useCapabilities = 1;
  const bool modeLine = IsModeLine(GetResolutionCtrl(0));
  for (int p = 0; p < 2; ++p) {
    if (p == 1 && !second) break;
    std::snprintf(s.resolution[p], sizeof s.resolution[p], "%s", GetResolutionCtrl(p));
    s.refresh[p] = modeLine ? kRefreshNoValue : static_cast<uint32_t>(std::atoi(GetRefreshRateCtrl(p)));
    s.depth[p] = static_cast<uint32_t>(GetBppCtrl(p));
    s.rotation[p] = static_cast<int32_t>(GetPivotCtrl(p));
  }
  s.presentFlags = kSelOutputFile | kSelOutputs | kSelKvd | kSelBusMastering | kSelOpenGL | kSelEdid |
                   kSelForceDigital | kSelMode | kSelLayout | kSelOverwrite | kSelResolution |
                   kSelRefresh | kSelDepth | kSelRotation;
  return s;
}

bool FileCopy(const std::string& src, const std::string& dest, bool keepBackup) {
  const std::string backup = dest + ".bak";
  if (HasPermission(dest.c_str())) {
    return (!keepBackup || ExecuteCommand({"cp", dest, backup})) && ExecuteCommand({"cp", src, dest});
  }
  if (!IsUsingKde() && !IsUsingGnome()) return false;
  std::string tool;
  if (IsUsingKde() && ExecuteCommand({"which", "kdesu"})) {
    tool = "kdesu";
  } else if (IsUsingGnome()) {
    std::string candidate = GetGtkSuCmd();
    if (ExecuteCommand({"which", candidate})) tool = candidate;
  }
  if (tool.empty()) return false;
  // Each path is its own argument; the backup comes first and a failed
  // backup leaves the file alone.
  std::vector<std::string> prefix{tool};
  if (tool == "gnomesu") prefix.push_back("-c");
  auto run = [&](const std::string& from, const std::string& to) {
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {"cp", from, to});
    return ExecuteCommand(argv);
  };
  return (!keepBackup || run(dest, backup)) && run(src, dest);
}

namespace {

// The library writes only the temporary file: its announcements would name
// that file, so they are off while an apply runs.
class QuietLibraryWrites {
 public:
  QuietLibraryWrites() { SetWriteAnnouncement(false); }
  ~QuietLibraryWrites() { SetWriteAnnouncement(true); }
  QuietLibraryWrites(const QuietLibraryWrites&) = delete;
  QuietLibraryWrites& operator=(const QuietLibraryWrites&) = delete;
};

}  // namespace

bool GenerateOutputFile() {
  QuietLibraryWrites quiet;
  TempFile temp;
  if (!temp.Create()) return false;
  ConfigEngine& engine = GetConfigEngine();
  engine.InitCore();
  const std::string output = GetOutputFilePathCtrl();
  UserSelection selection = SaveUserSelectionToFile(temp.Path());

  if (output.empty() || IsDir(output.c_str())) {
    OutputErrorMsg("No file name specified");
    return false;
  }
  XConfigSummary current;
  int probe = engine.ProbeXConfig(&current);
  if (probe != kErrNone && probe != kErrOneCardOnly && probe != kErrNoCard) {
    OutputErrorMsg(Format("Error : %s", engine.ErrorText(probe)));
    return false;
  }
  if (!current.fileName.empty() && !ExecuteCommand({"cp", current.fileName, temp.Path()})) {
    OutputErrorMsg(Format("Error : cannot copy %s", current.fileName));
    return false;
  }
  // A file that is not there yet has nothing to keep a backup of.
  struct stat existing;
  const bool existed = stat(output.c_str(), &existing) == 0;
  if (!existed && !ExecuteCommand({"touch", output})) {
    OutputErrorMsg(Format("Error : cannot create %s", output));
    return false;
  }
  int result = engine.UpdateConfigFile(selection);
  if (result != kErrNone) {
    OutputErrorMsg(Format("Error : %s", engine.ErrorText(result)));
    return false;
  }
  ModeLinesToWrite modeLines;
  int modeLineResult = engine.ClearModelines(temp.Path().c_str());
  if (modeLineResult == kErrNone) modeLineResult = engine.AddModelines(modeLines.List(), temp.Path().c_str());
  if (modeLineResult != kErrNone) {
    OutputErrorMsg(Format("Error : %s", engine.ErrorText(modeLineResult)));
    return false;
  }
  if (FileCopy(temp.Path(), output, existed)) {
    std::printf("Writing config file to `%s'\n", output.c_str());
    std::fflush(stdout);
    return true;
  }
  if (geteuid() == 0) {
    OutputErrorMsg(Format("Error : cannot write the config file (%s).", output));
  } else {
    OutputErrorMsg(Format("You need root privileges to modify the config file (%s). If you have kdesu or gksu "
                          "installed on your system, you can modify the config file with OrvaneConfig without "
                          "root privileges.",
                          output));
  }
  return false;
}

void ApplyConfiguration() {
  // Without a board there is nothing the file could be written for.
  if (GetSelectedCardCtrl() == nullptr) {
    OutputErrorMsg(ErrorCodeToString(kErrNoCard));
    return;
  }
  if (s_modeLineTab.isEveryModeLineValid != nullptr && !s_modeLineTab.isEveryModeLineValid()) {
    if (s_modeLineTab.bringToFront != nullptr) s_modeLineTab.bringToFront();
    return;
  }
  const std::string output = GetOutputFilePathCtrl();
  // A question about an empty path or a directory could only end in "No
  // file name specified" after the user said yes: say what is wrong first.
  if (output.empty()) {
    OutputErrorMsg("No output file is set: enter the X configuration file to write under Advanced, Output file.");
    return;
  }
  if (IsDir(output.c_str())) {
    OutputErrorMsg(Format("The output file %s is a directory: enter the X configuration file to write under "
                          "Advanced, Output file.",
                          output));
    return;
  }
  if (!ValidateWithUser("Are you sure you want to write new X Server config to " + output + " ?")) return;
  struct stat existing;
  const bool backedUp = stat(output.c_str(), &existing) == 0;
  if (!GenerateOutputFile()) return;
  if (IsUsingGnome() || IsUsingKde()) {
    // A file written where there was none has no backup to point at.
    const std::string backup = backedUp ? Format("  A backup file can be found at (%s.bak).", output) : "";
    if (ValidateWithUser("Your config file was successfully modified." + backup +
                         "  You must restart your desktop environment for the changes to take effect.Make sure "
                         "all other programs are closed before your restart.  Would you like to restart your "
                         "desktop environment now ?"))
      RestartXSession();
  } else if (IsUsingIceWM()) {
    if (ValidateWithUser("To use immediately your new settings, you must restart your desktopenvironment. Please "
                         "save and close any other running applications. Would you like to restart now ? "))
      KillIceWmSessionManager();
  } else {
    OutputMsg("Please restart manually your X server for new config file to apply\n", "Attention");
  }
}

void QuitApplication() {
  if (ValidateWithUser("Are you sure you want to quit ?")) ExitProgram();
}
