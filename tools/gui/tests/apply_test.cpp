#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/UiController.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/tests/fake_main_view.h"
#include "tools/gui/tests/gui_fixtures.h"
#include "tools/testsupport/files.h"
#include "tools/testsupport/stand_ins.h"

namespace fs = std::filesystem;

namespace {

using tools_test::ReadFile;
using tools_test::WriteFile;

// The engine writes a recognisable file where the library would.
class WritingEngine : public FakeEngine {
 public:
  int UpdateConfigFile(const UserSelection& s) override {
    FakeEngine::UpdateConfigFile(s);
    const std::string file = s.outputFile;
    WriteFile(file, ReadFile(file) + "# rewritten\n");
    WriteFile(file + ".bak", "library backup of the temporary file\n");
    return updateResult;
  }
};

void MakeBoard(CardInfo* card) {
  MakeCard(card, "PCI:1:0:0", "Kestrion Dual", false, {1, 2}, {{1, 1, 1, 0}, {2, 1, 1, 0}, {2, 1, 2, 1}},
           {{0, "1280x1024", {60, 75}}, {1, "1024x768", {60}}}, {{kAllOutputs, "800x600", {60}}});
}

class ApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gui-apply-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    bin_ = dir_ + "/bin";
    fs::create_directories(bin_);
    log_ = dir_ + "/commands.log";
    // Each stand-in records its arguments one per line, then does the job.
    Stub("cp", "exec /bin/cp \"$@\"");
    Stub("touch", "exec /usr/bin/env -i /usr/bin/touch \"$@\"");
    Stub("which", "case \" $STUB_FOUND \" in *\" $1 \"*) exit 0;; esac; exit 1");
    Stub("gksu", "\"$@\"");
    Stub("gksudo", "\"$@\"");
    Stub("gnome-session-save", "exit 0");
    Stub("kdeinit_shutdown", "exit 0");
    oldPath_ = tools_test::PrependToPath(bin_);
    unsetenv("GNOME_DESKTOP_SESSION_ID");
    unsetenv("KDE_FULL_SESSION");
    unsetenv("DISPLAY");
    unsetenv("STUB_FOUND");

    current_ = dir_ + "/current.conf";
    WriteFile(current_, "Section \"ServerLayout\"\nEndSection\n");
    InitProbeInfo();
    RemoveAllModeLineCollector();
    MakeBoard(&GetCardInfo()[0]);
    engine_.summary.fileName = current_;
    engine_.summary.outputs = 2;
    engine_.summary.layout = 1;
    engine_.summary.mode = 2;
    engine_.summary.screens = {{"1", "1280x1024", 75, 24, 0}, {"2", "1024x768", 60, 16, 0}};
    SetConfigEngine(&engine_);
    *GetXConfigStruct() = engine_.summary;
    AdvancedWindowCtrlInit();
    SetMainView(&view_);
    SetBoardQueries(&queries_);
    UiControllerInit();
    SetUserDialogs(&dialogs_);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    unsetenv("GNOME_DESKTOP_SESSION_ID");
    SetUserDialogs(nullptr);
    SetMainView(nullptr);
    SetBoardQueries(nullptr);
    SetConfigEngine(nullptr);
    RemoveAllModeLineCollector();
    InitProbeInfo();
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  void Stub(const std::string& name, const std::string& body) {
    tools_test::WriteStandIn(bin_, name, log_, tools_test::CallLog::kArgumentPerLine, body);
  }
  std::string Log() { return ReadFile(log_); }
  // The temporary file the library was given, and the library's backup of
  // it, are gone. (Other tests may run beside this one, so /tmp as a whole
  // is not compared.)
  void ExpectNoTempLeft() {
    ASSERT_FALSE(engine_.updates.empty());
    const std::string temp = engine_.updates.back().outputFile;
    EXPECT_EQ(temp.rfind("/tmp/orvaneconfig-", 0), 0u);
    EXPECT_FALSE(fs::exists(temp)) << temp;
    EXPECT_FALSE(fs::exists(temp + ".bak")) << temp;
  }

  std::string dir_, bin_, log_, oldPath_, current_;
  WritingEngine engine_;
  FakeMainView view_;
  FakeQueries queries_;
  ScriptedDialogs dialogs_;
};

TEST_F(ApplyTest, WritableTargetIsBackedUpThenReplaced) {
  const std::string target = dir_ + "/xorg.conf";
  WriteFile(target, "old contents\n");
  SetOutputFilePathCtrl(target.c_str());
  dialogs_.answers = {true};
  ApplyConfiguration();
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0], "Are you sure you want to write new X Server config to " + target + " ?");
  EXPECT_EQ(ReadFile(target + ".bak"), "old contents\n");
  EXPECT_EQ(ReadFile(target), "Section \"ServerLayout\"\nEndSection\n# rewritten\n");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].first, "Attention");
  EXPECT_EQ(dialogs_.messages[0].second, "Please restart manually your X server for new config file to apply\n");
  ExpectNoTempLeft();
  // No privilege tool on this path.
  EXPECT_EQ(Log().find("gksu"), std::string::npos);

  ASSERT_EQ(engine_.updates.size(), 1u);
  const FakeEngine::Update& s = engine_.updates[0];
  EXPECT_EQ(s.outputs, 2);
  EXPECT_EQ(s.mode, 2);
  EXPECT_STREQ(s.resolution[0], "1280x1024");
  EXPECT_EQ(s.refresh[0], 75u);
  EXPECT_STREQ(s.resolution[1], "1024x768");
  EXPECT_EQ(s.depth[1], 16u);
  EXPECT_EQ(s.overwrite, 1);
  EXPECT_EQ(s.useCapabilities, 1);
  EXPECT_EQ(s.presentFlags, 0xF7FBu);
  EXPECT_EQ(s.outputFile.rfind("/tmp/orvaneconfig-", 0), 0u);
}

// A file that was not there has no backup, and the restart question does
// not point at one; the target is named once as the file written.
TEST_F(ApplyTest, MissingTargetIsCreatedWithTouchAndGetsNoBackup) {
  const std::string target = dir_ + "/new.conf";
  SetOutputFilePathCtrl(target.c_str());
  setenv("GNOME_DESKTOP_SESSION_ID", "1", 1);
  dialogs_.answers = {true, false};
  testing::internal::CaptureStdout();
  ApplyConfiguration();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(Log().find("touch\n  [" + target + "]"), std::string::npos) << Log();
  EXPECT_FALSE(fs::exists(target + ".bak"));
  EXPECT_NE(ReadFile(target).find("# rewritten"), std::string::npos);
  EXPECT_EQ(out, "Writing config file to `" + target + "'\n");
  ASSERT_EQ(dialogs_.questions.size(), 2u);
  EXPECT_EQ(dialogs_.questions[1],
            "Your config file was successfully modified.  You must restart your desktop environment for the "
            "changes to take effect.Make sure all other programs are closed before your restart.  Would you like "
            "to restart your desktop environment now ?");
  ExpectNoTempLeft();
}

TEST_F(ApplyTest, UnwritableTargetEndsInAnErrorAndKeepsTheFile) {
  std::string target;
  if (geteuid() == 0) {
    target = "/proc/version";  // even root cannot replace it
  } else {
    target = dir_ + "/ro/xorg.conf";
    fs::create_directories(dir_ + "/ro");
    WriteFile(target, "old contents\n");
    chmod(target.c_str(), 0444);
    chmod((dir_ + "/ro").c_str(), 0555);
  }
  const std::string before = ReadFile(target);
  SetOutputFilePathCtrl(target.c_str());
  dialogs_.answers = {true};
  ApplyConfiguration();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].first, "Error");
  if (geteuid() != 0) {
    EXPECT_EQ(dialogs_.messages[0].second.rfind("You need root privileges to modify the config file (" + target +
                                                    ").",
                                                0),
              0u);
  }
  EXPECT_EQ(ReadFile(target), before);
  EXPECT_EQ(dialogs_.questions.size(), 1u) << "no restart offered after a failure";
  ExpectNoTempLeft();
}

// Without an output file, or with a directory as one, Apply says what is
// wrong and where to mend it before it asks anything, and writes nothing.
TEST_F(ApplyTest, MissingOrDirectoryTargetIsNamedBeforeTheQuestion) {
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {"", "No output file is set: enter the X configuration file to write under Advanced, Output file."},
      {dir_, "The output file " + dir_ +
                 " is a directory: enter the X configuration file to write under Advanced, Output file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    dialogs_ = ScriptedDialogs{};
    SetOutputFilePathCtrl(c.path.c_str());
    ASSERT_EQ(GetOutputFilePathCtrl(), c.path);
    dialogs_.answers = {true};
    ApplyConfiguration();
    EXPECT_TRUE(dialogs_.questions.empty());
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].first, "Error");
    EXPECT_EQ(dialogs_.messages[0].second, c.message);
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(engine_.updates.empty());
  }
  // The write itself still refuses a directory it is given.
  SetOutputFilePathCtrl(dir_.c_str());
  EXPECT_FALSE(GenerateOutputFile());
  EXPECT_EQ(dialogs_.messages.back().second, "No file name specified");
  EXPECT_EQ(Log(), "");
}

TEST_F(ApplyTest, LibraryRefusalIsReportedWithItsMessage) {
  const std::string target = dir_ + "/xorg.conf";
  WriteFile(target, "old\n");
  SetOutputFilePathCtrl(target.c_str());
  engine_.updateResult = 22;
  dialogs_.answers = {true};
  ApplyConfiguration();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].second.rfind("Error : ", 0), 0u);
  EXPECT_EQ(ReadFile(target), "old\n");
  ExpectNoTempLeft();
}

// Without a board there is nothing to write for: Apply says so and leaves
// everything alone (the settings' empty refresh rate never reaches the
// library as 0 Hz).
TEST_F(ApplyTest, WithoutABoardApplyWritesNothing) {
  const std::string target = dir_ + "/xorg.conf";
  WriteFile(target, "old\n");
  SetOutputFilePathCtrl(target.c_str());
  InitProbeInfo();
  *GetXConfigStruct() = engine_.summary;
  UiControllerInit();
  EXPECT_FALSE(view_.settingsSensitive);
  dialogs_.answers = {true};
  ApplyConfiguration();
  EXPECT_TRUE(dialogs_.questions.empty());
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].second, "Orvane card can't be found in system or in card database");
  EXPECT_TRUE(engine_.updates.empty());
  EXPECT_EQ(ReadFile(target), "old\n");
  EXPECT_EQ(Log(), "");
}

TEST_F(ApplyTest, AnsweringNoWritesNothing) {
  const std::string target = dir_ + "/xorg.conf";
  WriteFile(target, "old\n");
  SetOutputFilePathCtrl(target.c_str());
  dialogs_.answers = {false};
  ApplyConfiguration();
  EXPECT_TRUE(engine_.updates.empty());
  EXPECT_EQ(ReadFile(target), "old\n");
}

TEST_F(ApplyTest, ModeLineResolutionSendsNoRefreshRate) {
  UiModeLine line{};
  std::strcpy(line.name, "mymode");
  AddCustomModeLine(line);
  UpdateResolutionComboBox();
  view_.Choose(0, PanelCombo::kResolution, "mymode");
  UserSelection s = SaveUserSelectionToFile("/tmp/x");
  EXPECT_STREQ(s.resolution[0], "mymode");
  EXPECT_EQ(s.refresh[0], 0xFFFFFFFFu);
  EXPECT_EQ(s.refresh[1], 0xFFFFFFFFu);
}

TEST_F(ApplyTest, InvalidModeLinesBringTheirPageForward) {
  static bool focused = false;
  SetModeLineTabHooks({[] { return false; }, [] { focused = true; }});
  ApplyConfiguration();
  SetModeLineTabHooks({});
  EXPECT_TRUE(focused);
  EXPECT_TRUE(dialogs_.questions.empty());
}

// A user without write access in a desktop session: the privilege tool runs
// cp with every path as its own argument, the backup first. Run as root,
// the copy runs in a child that gives up root first.
TEST_F(ApplyTest, PrivilegeToolGetsEachPathIntact) {
  const std::string target = dir_ + "/with blank/xorg.conf";
  const std::string src = dir_ + "/src conf";
  fs::create_directories(dir_ + "/with blank");
  WriteFile(target, "old contents\n");
  WriteFile(src, "new\n");
  chmod(target.c_str(), 0444);
  chmod(dir_.c_str(), 0755);
  // The stand-ins only record: they cannot raise privileges.
  for (const char* tool : {"gksudo", "gnomesu", "kdesu"}) Stub(tool, "exit 0");
  const std::string copies = "  [cp]\n  [" + target + "]\n  [" + target + ".bak]\n";
  const std::string copy = "  [cp]\n  [" + src + "]\n  [" + target + "]\n";
  const std::string gtkSearch = "which\n  [gksu]\nwhich\n  [gnomesu]\nwhich\n  [gksudo]\n";
  const struct {
    const char* name;
    const char* sessionVariable;
    const char* found;  // what "which" finds
    bool copied;
    std::string log;
  } cases[] = {
      {"GNOME, gksudo", "GNOME_DESKTOP_SESSION_ID", "gksudo", true,
       gtkSearch + "which\n  [gksudo]\ngksudo\n" + copies + "gksudo\n" + copy},
      {"GNOME, gnomesu takes -c", "GNOME_DESKTOP_SESSION_ID", "gnomesu", true,
       "which\n  [gksu]\nwhich\n  [gnomesu]\nwhich\n  [gnomesu]\ngnomesu\n  [-c]\n" + copies + "gnomesu\n  [-c]\n" +
           copy},
      {"KDE, kdesu", "KDE_FULL_SESSION", "kdesu", true, "which\n  [kdesu]\nkdesu\n" + copies + "kdesu\n" + copy},
      {"KDE without kdesu", "KDE_FULL_SESSION", "", false, "which\n  [kdesu]\n"},
      {"GNOME without a tool", "GNOME_DESKTOP_SESSION_ID", "", false, gtkSearch + "which\n  [gksu]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(log_, "");
    chmod(log_.c_str(), 0666);
    pid_t pid = fork();
    if (pid == 0) {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
      setenv(c.sessionVariable, "1", 1);
      setenv("STUB_FOUND", c.found, 1);
      _exit(FileCopy(src, target) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.copied ? 0 : 1);
    EXPECT_EQ(Log(), c.log);
  }
}

TEST_F(ApplyTest, NoPrivilegeToolOutsideADesktopMeansFailure) {
  const std::string target = dir_ + "/xorg.conf";
  WriteFile(target, "old\n");
  chmod(target.c_str(), 0444);
  chmod(log_.c_str(), 0666);
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    _exit(FileCopy(target, target) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

// A user without root rights outside KDE and GNOME cannot replace a
// read-only file: the message names the file and the temporary file goes.
TEST_F(ApplyTest, UserWithoutRootRightsGetsTheRootPrivilegesMessage) {
  const std::string target = dir_ + "/ro/xorg.conf";
  fs::create_directories(dir_ + "/ro");
  WriteFile(target, "old contents\n");
  chmod(target.c_str(), 0444);
  chmod((dir_ + "/ro").c_str(), 0555);
  chmod(dir_.c_str(), 0755);
  chmod(current_.c_str(), 0644);
  const std::string result = dir_ + "/result";
  WriteFile(result, "");
  chmod(result.c_str(), 0666);
  WriteFile(log_, "");
  chmod(log_.c_str(), 0666);
  SetOutputFilePathCtrl(target.c_str());
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    dialogs_.answers = {true};
    ApplyConfiguration();
    {
      std::ofstream out(result);
      out << (engine_.updates.empty() ? "" : engine_.updates.back().outputFile) << "\n";
      for (const auto& m : dialogs_.messages) out << m.first << "\n" << m.second << "\n";
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(target), "old contents\n");
  std::istringstream lines(ReadFile(result));
  std::string temp, title, text;
  std::getline(lines, temp);
  std::getline(lines, title);
  std::getline(lines, text);
  EXPECT_EQ(temp.rfind("/tmp/orvaneconfig-", 0), 0u) << temp;
  EXPECT_FALSE(fs::exists(temp)) << temp;
  EXPECT_FALSE(fs::exists(temp + ".bak")) << temp;
  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, "You need root privileges to modify the config file (" + target +
                      "). If you have kdesu or gksu installed on your system, you can modify the config file with "
                      "OrvaneConfig without root privileges.");
  EXPECT_EQ(Log().find("gksu"), std::string::npos) << "no privilege tool outside a desktop session";
}

int s_exits = 0;

// Waits for the session command started without waiting to log itself.
std::string LogOnceItHas(const std::string& path, const std::string& text) {
  std::string log;
  for (int i = 0; i < 200; ++i) {
    log = ReadFile(path);
    if (log.find(text) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return log;
}

// In a desktop session a successful apply offers a restart; yes runs the
// session's own command and ends the program, no does neither.
TEST_F(ApplyTest, DesktopSessionRestartAfterApply) {
  const std::string target = dir_ + "/xorg.conf";
  SetExitHandler([] { ++s_exits; });
  const struct {
    const char* sessionVariable;
    bool restart;
    const char* command;  // as the stand-in logs it
  } cases[] = {
      {"GNOME_DESKTOP_SESSION_ID", true, "gnome-session-save\n  [--kill]\n"},
      {"KDE_FULL_SESSION", true, "kdeinit_shutdown\n"},
      {"GNOME_DESKTOP_SESSION_ID", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sessionVariable) + (c.restart ? " yes" : " no"));
    unsetenv("GNOME_DESKTOP_SESSION_ID");
    unsetenv("KDE_FULL_SESSION");
    setenv(c.sessionVariable, "1", 1);
    WriteFile(target, "old contents\n");
    WriteFile(log_, "");
    SetOutputFilePathCtrl(target.c_str());
    dialogs_ = ScriptedDialogs{};
    dialogs_.answers = {true, c.restart};
    s_exits = 0;
    ApplyConfiguration();
    ASSERT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_EQ(dialogs_.questions[1],
              "Your config file was successfully modified.  A backup file can be found at (" + target +
                  ".bak).  You must restart your desktop environment for the changes to take effect.Make sure all "
                  "other programs are closed before your restart.  Would you like to restart your desktop "
                  "environment now ?");
    EXPECT_TRUE(dialogs_.messages.empty());
    EXPECT_EQ(ReadFile(target + ".bak"), "old contents\n");
    if (c.restart) {
      EXPECT_NE(LogOnceItHas(log_, c.command).find(c.command), std::string::npos) << Log();
      EXPECT_EQ(s_exits, 1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_EQ(Log().find("gnome-session-save"), std::string::npos);
      EXPECT_EQ(Log().find("kdeinit_shutdown"), std::string::npos);
      EXPECT_EQ(s_exits, 0);
    }
  }
  unsetenv("KDE_FULL_SESSION");
  SetExitHandler(nullptr);
}

// A library call that ended the process is reported with what the library
// said, not with an empty message.
class AbortingEngine : public WritingEngine {
 public:
  int UpdateConfigFile(const UserSelection& s) override {
    WritingEngine::UpdateConfigFile(s);
    return -1;
  }
  std::string ErrorText(int code) override {
    return code == -1 ? "Parse error on line 3 of section Device in file /etc/X11/xorg.conf\n\tbad word"
                      : FakeEngine::ErrorText(code);
  }
};

TEST_F(ApplyTest, EndedLibraryCallIsReportedWithTheLibraryText) {
  AbortingEngine engine;
  engine.summary = engine_.summary;
  SetConfigEngine(&engine);
  const std::string target = dir_ + "/xorg.conf";
  WriteFile(target, "old\n");
  SetOutputFilePathCtrl(target.c_str());
  dialogs_.answers = {true};
  ApplyConfiguration();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].second,
            "Error : Parse error on line 3 of section Device in file /etc/X11/xorg.conf\n\tbad word");
  EXPECT_EQ(ReadFile(target), "old\n");
  ASSERT_FALSE(engine.updates.empty());
  EXPECT_FALSE(fs::exists(engine.updates.back().outputFile));
}

TEST(CommandTest, StatusAndErrorOutputDecide) {
  EXPECT_TRUE(ExecuteCommand({"true"}));
  EXPECT_FALSE(ExecuteCommand({"false"})) << "a failing status is a failure";
  EXPECT_FALSE(ExecuteCommand({"sh", "-c", "echo oops >&2"}));
  EXPECT_FALSE(ExecuteCommand({"/nonexistent/program"})) << "an exec failure is a failure";
  EXPECT_TRUE(ExecuteCommand({"test", "a b;c", "=", "a b;c"})) << "arguments reach the program unsplit";
  EXPECT_FALSE(ExecuteCommand({}));
}

}  // namespace
