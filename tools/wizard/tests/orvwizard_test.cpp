// Black-box runs of orvwizard on seed files in a scratch directory, with a
// fixture system root for the probes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/test_util.h"
#include "tools/lib/tests/xorg_oracle.h"
#include "tools/testsupport/fixture_root.h"

namespace {

using toolcfg_test::ReadFile;
using toolcfg_test::TempDir;
using toolcfg_test::WriteFile;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

const char* const kSeed = R"(Section "ServerLayout"
	Identifier     "Layout0"
	InputDevice    "Keyboard0" "CoreKeyboard"
EndSection

Section "InputDevice"
	Identifier     "Keyboard0"
	Driver         "kbd"
EndSection
)";

// A Monitor that uses two different Modes sections.
const char* const kTwoModes = R"(Section "ServerLayout"
	Identifier     "Layout0"
	Screen         "S0"
	InputDevice    "Keyboard0" "CoreKeyboard"
EndSection
Section "InputDevice"
	Identifier     "Keyboard0"
	Driver         "kbd"
EndSection
Section "Modes"
	Identifier "A"
EndSection
Section "Modes"
	Identifier "B"
EndSection
Section "Monitor"
	Identifier "M0"
	UseModes "A"
	UseModes "B"
EndSection
Section "Device"
	Identifier "D0"
	Driver "orv"
EndSection
Section "Screen"
	Identifier "S0"
	Device "D0"
	Monitor "M0"
	DefaultDepth 16
EndSection
)";

constexpr const char* kExampleModeLine =
    "2560x1600,268.0,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync";

// The board of the fixture bus: a two-output orv board without KVD.
constexpr uint16_t kFixtureSubsysId = 0x0101;

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    conf_ = dir_.File("xorg.conf");
    root_ = dir_.File("root");
    std::filesystem::create_directories(root_ + "/proc/bus/pci");
    WriteFile(root_ + "/proc/bus/pci/devices", "");
    std::filesystem::copy_file(toolcfg_test::SourceDir() + "/data/orvcards",
                               dir_.File("orvcards"));
  }

  // Puts the maker's board on the fixture bus, with the installed X driver
  // module and kernel module.
  void InstallBoard() {
    tools_test::WriteFixtureBoard(root_, kFixtureSubsysId);
    const std::string drivers = root_ + "/usr/lib/xorg/modules/drivers";
    std::filesystem::create_directories(drivers);
    std::filesystem::copy_file(ORV_FIXTURE_ORV_SO, drivers + "/orv_drv.so");
    struct utsname names;
    uname(&names);
    const std::string kernel = root_ + "/lib/modules/" + names.release + "/kernel";
    std::filesystem::create_directories(kernel);
    WriteFile(kernel + "/orv.ko", "module");
  }

  // Runs the wizard; `uid`, when given, is the user it runs as, and
  // `limitFileSize` bounds the size of the files it writes.
  Result Run(std::vector<std::string> args, bool withCardFile = true, uid_t uid = 0,
             rlim_t limitFileSize = RLIM_INFINITY) {
    if (withCardFile) args.insert(args.begin(), {"--cardfile", dir_.path()});
    const std::string out = dir_.File("run.out");
    const std::string err = dir_.File("run.err");
    pid_t pid = fork();
    if (pid == 0) {
      std::freopen(out.c_str(), "w", stdout);
      std::freopen(err.c_str(), "w", stderr);
      unsetenv("DISPLAY");
      setenv("XORGCONFIG", conf_.c_str(), 1);
      setenv("HOME", dir_.path().c_str(), 1);
      setenv("ORV_SYSROOT", root_.c_str(), 1);
      if (uid != 0 && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(126);
      if (limitFileSize != RLIM_INFINITY) {
        // A write past the limit then fails with EFBIG instead of a signal.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{limitFileSize, limitFileSize};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      // A run that does not end is a failure, not a stuck test.
      alarm(60);
      std::vector<char*> argv{const_cast<char*>(ORVWIZARD_PATH)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(ORVWIZARD_PATH, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  // The seed rewritten by the wizard for two independent outputs.
  void WriteDualIndependent() {
    WriteFile(conf_, kSeed);
    Result r = Run(WithFile({"--overwrite", "--output", "2", "--independent"}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }

  // The path option and the configuration file of this scratch directory.
  std::vector<std::string> WithFile(std::vector<std::string> args) {
    args.insert(args.begin(), {"--outputfile", conf_});
    return args;
  }

  void ExpectServerAccepts(const std::string& path) {
    if (toolcfg_test::XorgBinary().empty() || getuid() != 0) return;
    toolcfg_test::XorgVerdict verdict = toolcfg_test::RunXorg(path);
    EXPECT_TRUE(verdict.ran) << verdict.output;
    EXPECT_FALSE(verdict.refused) << verdict.output << "\n" << ReadFile(path);
  }

  TempDir dir_;
  std::string conf_;
  std::string root_;
};

constexpr const char* kNotice = "Extension ORVCFG cannot be found\n";

std::string Without(std::string text, const std::string& part) {
  size_t at;
  while ((at = text.find(part)) != std::string::npos) text.erase(at, part.size());
  return text;
}

struct LayoutCase {
  const char* option;
  int where;
};

TEST_F(Wizard, WritesTwoDisplaysAndRewritesIdentically) {
  const LayoutCase cases[] = {{"--horizontal", kConfPosRightOf}, {"--vertical", kConfPosBelow}};
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.option);
    WriteFile(conf_, kSeed);
    const std::vector<std::string> args =
        WithFile({"--overwrite", "--output", "2", "--independent", c.option});
    Result r = Run(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Without(r.out, kNotice), "Writing config file to `" + conf_ + "'\n");
    EXPECT_EQ(ReadFile(conf_ + ".bak"), kSeed);

    toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
    ASSERT_NE(parsed.file, nullptr) << parsed.err;
    XConfAdjacency* first = parsed.file->layouts->adjacencies;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->next, nullptr);
    EXPECT_STREQ(first->screen_name, "orvwizard_screen_0");
    EXPECT_STREQ(first->next->screen_name, "orvwizard_screen_1");
    EXPECT_EQ(first->next->where, c.where);
    EXPECT_STREQ(first->next->refscreen, "orvwizard_screen_0");
    for (int i = 0; i < 2; ++i) {
      const std::string n = std::to_string(i);
      XConfScreen* s = xf86findScreen(("orvwizard_screen_" + n).c_str(), parsed.file->screens);
      ASSERT_NE(s, nullptr);
      EXPECT_STREQ(s->device_name, ("orvwizard_device_" + n).c_str());
      EXPECT_STREQ(s->monitor_name, ("orvwizard_monitor_" + n).c_str());
      EXPECT_EQ(s->default_depth, 16);
      ASSERT_NE(s->device, nullptr);
      EXPECT_STREQ(s->device->driver, "orv");
      EXPECT_EQ(s->device->screen, i);
      ASSERT_NE(s->monitor, nullptr);
      ASSERT_NE(s->monitor->modes_links, nullptr);
      EXPECT_STREQ(s->monitor->modes_links->name, "OrvaneModeLine");
    }
    bool loadsCfg = false;
    for (XConfLoad* l = parsed.file->modules->loads; l != nullptr; l = l->next)
      loadsCfg = loadsCfg || std::string(l->name) == "orvcfg";
    EXPECT_TRUE(loadsCfg);
    ExpectServerAccepts(conf_);

    const std::string written = ReadFile(conf_);
    r = Run(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(conf_), written);
    EXPECT_EQ(ReadFile(conf_ + ".bak"), written);
  }
}

TEST_F(Wizard, MergedAndXineramaFilesAreAcceptedAndStable) {
  const std::vector<std::vector<std::string>> runs = {
      {"--overwrite", "--output", "2", "--merge", "--resolution", "1280x1024", "--vrefresh", "75"},
      {"--overwrite", "--output", "2", "--xinerama", "--vertical", "--bpp", "24", "--gl", "off",
       "--edid", "off", "--dvi", "on", "--rotate", "cw"},
      {"--overwrite", "--output", "4", "--independent", "--bm", "off"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args[3]);
    WriteFile(conf_, kSeed);
    Result r = Run(WithFile(args));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ExpectServerAccepts(conf_);
    const std::string written = ReadFile(conf_);
    ASSERT_EQ(Run(WithFile(args)).status, 0);
    EXPECT_EQ(ReadFile(conf_), written);
  }
  // The last run: four separate screens, bus mastering off on each Device.
  toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
  ASSERT_NE(parsed.file, nullptr);
  int screens = 0;
  for (XConfAdjacency* a = parsed.file->layouts->adjacencies; a; a = a->next) ++screens;
  EXPECT_EQ(screens, 4);
  for (XConfDevice* d = parsed.file->devices; d != nullptr; d = d->next) {
    EXPECT_STREQ(xf86findOptionValue(d->options, "BusMastering"), "off");
    EXPECT_STREQ(xf86findOptionValue(d->options, "S4I"), "on");
  }
}

TEST_F(Wizard, MergeWritesTheMergedOptionsOnOneScreen) {
  WriteFile(conf_, kSeed);
  Result r = Run(WithFile({"--overwrite", "--output", "2", "--merge", "--vertical", "--resolution",
                           "1280x1024", "--vrefresh", "75"}));
  ASSERT_EQ(r.status, 0) << r.err;
  toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
  ASSERT_NE(parsed.file, nullptr);
  XConfAdjacency* line = parsed.file->layouts->adjacencies;
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->next, nullptr);
  XConfScreen* s = line->screen;
  EXPECT_STREQ(xf86findOptionValue(s->options, "MergedFB"), "on");
  EXPECT_STREQ(xf86findOptionValue(s->options, "Monitor2Position"), "Below");
  EXPECT_STREQ(xf86findOptionValue(s->options, "MetaModes"), "1280x1024-1280x1024");
  EXPECT_STREQ(xf86findOptionValue(s->options, "Monitor2VRefresh"), "75-75");
  EXPECT_STREQ(xf86findOptionValue(s->options, "Monitor2HSync"), "30 - 90");
  ASSERT_EQ(s->monitor->n_vrefresh, 1);
  EXPECT_EQ(s->monitor->vrefresh[0].lo, 75.0f);
  EXPECT_STREQ(s->displays->modes->name, "1280x1024");
}

struct RuleCase {
  std::vector<std::string> args;
  const char* message;
};

TEST_F(Wizard, RuleViolationsWriteNothing) {
  const RuleCase cases[] = {
      {{"--qlb", "--kvd", "on", "--output", "2"}, "kvd option cannot be used with qlb driver"},
      {{"--output", "2", "--merge", "--bpp", "16,24"}, "only one bpp supported in this mode."},
      {{"--output", "2", "--merge", "--vrefresh", "60,75"},
       "only one refresh rate supported in this mode."},
      {{"--output", "2", "--merge", "--rotate", "cw,ccw"},
       "only one rotate mode supported in this mode."},
      {{"--output", "2", "--merge", "--resolution", "1024x768,1280x1024"},
       "only one resolution supported in this mode."},
      {{"--output", "3", "--independent", "--rotate", "cw"}, "rotate not supported in this mode"},
      {{"--output", "2", "--independent", "--vrefresh", "55,60"},
       "A refresh rate is lower than 60Hz"},
      {{"--output", "2", "--independent", "--vrefresh", "60,120"},
       "A refresh rate is higher than 100Hz."},
      {{"--output", "2", "--independent", "--vrefresh", "-1,120"},
       "A refresh rate is higher than 100Hz."},
      {{"--qlb", "--output", "3", "--independent"}, "qlb driver supports 2 outputs maximum"},
      {{"--output", "5", "--independent"}, "orv driver supports 4 outputs maximum"},
      {{"--kvd", "on", "--output", "3", "--independent"}, "kvd boards support 2 or 4 outputs only"},
      {{"--output", "2", "--square"},
       "square layout is only for kvd boards in 4 outputs config."},
      {{"--kvd", "on", "--output", "4", "--vertical"},
       "vertical layout is not supported for kvd boards."},
      {{"--bpp", "32"}, "bpp can only be 8, 16 or 24."},
      {{"--output", "2", "--xinerama", "--bpp", "16,24"},
       "In Xinerama mode, bit per pixel must be the same for every displays"},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.message);
    WriteFile(conf_, kSeed);
    std::vector<std::string> args = WithFile(c.args);
    args.push_back("--overwrite");
    Result r = Run(args);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(Without(r.out, kNotice), std::string(c.message) + "\n");
    EXPECT_EQ(ReadFile(conf_), kSeed);
    EXPECT_FALSE(std::filesystem::exists(conf_ + ".bak"));
  }
}

struct FollowUpCase {
  std::vector<std::string> args;
  int where;       // position of the second Screen line
  bool xinerama;   // ServerLayout option "Xinerama" "on"
  int depth;
};

// A change that names no layout or mode keeps the file's; one that names
// them applies them, also without --output.
TEST_F(Wizard, FollowUpChangesKeepOrApplyTheLayout) {
  WriteFile(conf_, kSeed);
  ASSERT_EQ(Run(WithFile({"--overwrite", "--output", "2", "--independent", "--vertical"})).status,
            0);
  const FollowUpCase cases[] = {
      {{"--bpp", "24"}, kConfPosBelow, false, 24},
      {{"--output", "2", "--independent"}, kConfPosBelow, false, 24},
      {{"--horizontal"}, kConfPosRightOf, false, 24},
      {{"--vertical"}, kConfPosBelow, false, 24},
      {{"--xinerama"}, kConfPosBelow, true, 24},
      {{"--bpp", "16"}, kConfPosBelow, true, 16},
      {{"--independent"}, kConfPosBelow, false, 16},
  };
  for (const FollowUpCase& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Result r = Run(WithFile(c.args));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
    ASSERT_NE(parsed.file, nullptr) << parsed.err;
    XConfAdjacency* first = parsed.file->layouts->adjacencies;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->next, nullptr);
    EXPECT_EQ(first->next->where, c.where);
    const char* xinerama = xf86findOptionValue(parsed.file->layouts->options, "Xinerama");
    EXPECT_EQ(xinerama != nullptr && std::string(xinerama) == "on", c.xinerama);
    EXPECT_EQ(first->screen->default_depth, c.depth);
    ExpectServerAccepts(conf_);
  }
}

// "-1" as a rate marks a panel driven by a mode line: its Monitor takes the
// wide range and the other rate is still checked.
TEST_F(Wizard, ModeLineRateTakesTheWideRange) {
  ASSERT_NO_FATAL_FAILURE(WriteDualIndependent());
  Result r = Run(WithFile({"--vrefresh", "-1,75"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
  ASSERT_NE(parsed.file, nullptr);
  XConfAdjacency* first = parsed.file->layouts->adjacencies;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->next, nullptr);
  XConfMonitor* m0 = first->screen->monitor;
  XConfMonitor* m1 = first->next->screen->monitor;
  ASSERT_EQ(m0->n_vrefresh, 1);
  EXPECT_EQ(m0->vrefresh[0].lo, 60.0f);
  EXPECT_EQ(m0->vrefresh[0].hi, 90.0f);
  ASSERT_EQ(m1->n_vrefresh, 1);
  EXPECT_EQ(m1->vrefresh[0].lo, 75.0f);
  EXPECT_EQ(m1->vrefresh[0].hi, 75.0f);
  ExpectServerAccepts(conf_);
}

TEST_F(Wizard, TwoModesSectionsInUseAreRefused) {
  WriteFile(conf_, kTwoModes);
  Result r = Run(WithFile({"--bpp", "32"}));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(Without(r.out, kNotice),
            "The current configuration file contains at least 2 modes section. Please merge the "
            "modes section together or use the switch --overwrite to fix the problem.\n");
  EXPECT_EQ(ReadFile(conf_), kTwoModes);
}

TEST_F(Wizard, BoardCapabilityMismatchPrintsTheHint) {
  InstallBoard();
  ASSERT_NO_FATAL_FAILURE(WriteDualIndependent());
  const std::string written = ReadFile(conf_);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--gl", "off"}, "GL attribute doesn't match board capability.\n"},
      {{"--output", "4", "--independent"}, "number of output exceed board capability.\n"},
      {{"--kvd", "on", "--output", "2"}, "Kvd attribute doesn't match board capability.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Result r = Run(WithFile(c.args));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(Without(r.out, kNotice),
              std::string(c.message) + "Please change configuration or use --overwrite switch\n");
    EXPECT_EQ(ReadFile(conf_), written);
  }
  // Without the capability checks the same change goes through.
  EXPECT_EQ(Run(WithFile({"--gl", "off", "--ignorecap"})).status, 0);
}

// More outputs than the driver or the board drives is said as such, before
// the rules of a mode: a display rotated in the file does not turn it into
// a message about rotation.
TEST_F(Wizard, TooManyOutputsAreNamedBeforeTheModeRules) {
  WriteFile(conf_, kSeed);
  ASSERT_EQ(Run(WithFile({"--overwrite", "--output", "2", "--independent", "--rotate", "cw"})).status, 0);
  const std::string rotated = ReadFile(conf_);
  const struct {
    bool board;
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {false, {"--output", "5"}, "orv driver supports 4 outputs maximum\n"},
      {false, {"--qlb", "--output", "3", "--bpp", "16,24"}, "qlb driver supports 2 outputs maximum\n"},
      // The fixture board has two outputs.
      {true, {"--output", "3"},
       "number of output exceed board capability.\nPlease change configuration or use --overwrite switch\n"},
      {true, {"--output", "5"}, "orv driver supports 4 outputs maximum\n"},
  };
  bool installed = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    if (c.board && !installed) {
      InstallBoard();
      installed = true;
    }
    Result r = Run(WithFile(c.args));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Without(r.out, kNotice), c.out);
    EXPECT_EQ(ReadFile(conf_), rotated);
  }
}

// Options that reach every Device (and Monitor) of the layout, checked in
// the written file.
TEST_F(Wizard, DeviceOptionsReachEveryScreen) {
  const struct {
    std::vector<std::string> args;
    const char* option;
    const char* value;  // null: the option is absent
  } cases[] = {
      {{"--rotate", "cw"}, "Rotate", "cw"},
      {{"--rotate", "ccw"}, "Rotate", "ccw"},
      {{"--rotate", "none"}, "Rotate", nullptr},
      {{"--edid", "off"}, "OCC", "on"},
      {{"--edid", "on"}, "OCC", nullptr},
      {{"--dvi", "on"}, "DigitalScreen2", "on"},
      {{"--bm", "off"}, "BusMastering", "off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    WriteFile(conf_, kSeed);
    std::vector<std::string> args = {"--overwrite", "--output", "2", "--independent"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = Run(WithFile(args));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
    ASSERT_NE(parsed.file, nullptr);
    int devices = 0;
    for (XConfDevice* d = parsed.file->devices; d != nullptr; d = d->next, ++devices) {
      const char* value = xf86findOptionValue(d->options, c.option);
      if (c.value == nullptr) {
        EXPECT_EQ(xf86findOption(d->options, c.option), nullptr) << d->identifier;
      } else {
        ASSERT_NE(value, nullptr) << d->identifier;
        EXPECT_STREQ(value, c.value) << d->identifier;
      }
    }
    EXPECT_EQ(devices, 2);
    if (std::string(c.option) == "OCC") {
      // Without EDID the monitors carry NoDDC as well.
      for (XConfMonitor* m = parsed.file->monitors; m != nullptr; m = m->next)
        EXPECT_EQ(xf86findOption(m->options, "NoDDC") != nullptr, c.value != nullptr);
    }
    ExpectServerAccepts(conf_);
  }
}

// A file the user may not write is refused with the cause and left as it
// was, even in the user's own directory.
TEST_F(Wizard, ReadOnlyFileIsRefusedWithItsCause) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become an ordinary user";
  constexpr uid_t kNobody = 65534;
  WriteFile(conf_, kSeed);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(dir_.path().c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chown(conf_.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod(conf_.c_str(), 0444), 0);
  Result r = Run(WithFile({"--overwrite", "--output", "2", "--independent"}), true, kNobody);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Without(r.out, kNotice),
            "You don't have enough permission for writing this file\n" + conf_ +
                ": Permission denied\n");
  EXPECT_EQ(ReadFile(conf_), kSeed);
  EXPECT_FALSE(std::filesystem::exists(conf_ + ".bak"));
  ASSERT_EQ(chown(dir_.path().c_str(), 0, 0), 0);
}

// A write that fails for another cause than permission says that cause
// alone, naming the file; the file stays whole and no temporary file stays.
void ExpectOnlyTheCause(const Result& r, const std::string& out, const std::string& conf,
                        const std::string& before) {
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Without(r.out, kNotice), out);
  EXPECT_EQ(r.out.find("permission"), std::string::npos);
  EXPECT_EQ(ReadFile(conf), before);
  const std::filesystem::path dir = std::filesystem::path(conf).parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(Wizard, FileTooLargeForTheProcessIsNoPermissionProblem) {
  ASSERT_NO_FATAL_FAILURE(WriteDualIndependent());
  const std::string before = ReadFile(conf_);
  const std::string backup = ReadFile(conf_ + ".bak");
  // Room for what the wizard prints, not for a copy of the file.
  constexpr rlim_t kLimit = 1024;
  ASSERT_GT(before.size(), kLimit);
  Result r = Run(WithFile({"--bpp", "24"}), true, 0, kLimit);
  ExpectOnlyTheCause(r, "cannot make the backup " + conf_ + ".bak: File too large\n", conf_, before);
  EXPECT_EQ(ReadFile(conf_ + ".bak"), backup);
}

TEST_F(Wizard, FullDiskIsNoPermissionProblem) {
  // A small file system of its own, seen by this test process only.
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "needs root to mount";
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  const std::string disk = dir_.File("disk");
  std::filesystem::create_directories(disk);
  ASSERT_EQ(mount("orvtest", disk.c_str(), "tmpfs", 0, "size=64k"), 0);
  conf_ = disk + "/xorg.conf";
  WriteFile(conf_, kSeed);
  {
    const int fd = open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    close(fd);
  }
  Result r = Run(WithFile({"--overwrite", "--output", "2", "--independent"}));
  ExpectOnlyTheCause(r, "cannot make the backup " + conf_ + ".bak: No space left on device\n", conf_,
                     kSeed);
  EXPECT_FALSE(std::filesystem::exists(conf_ + ".bak"));
  EXPECT_EQ(umount2(disk.c_str(), MNT_DETACH), 0);
}

// More than one board on the bus: the report says that only the first one
// is configured, and that is no failure.
TEST_F(Wizard, SecondBoardIsAWarningOnly) {
  InstallBoard();
  std::string devices = ReadFile(root_ + "/proc/bus/pci/devices");
  devices += "0200\t1e7a5d62\tb\tf0000008\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\n";
  WriteFile(root_ + "/proc/bus/pci/devices", devices);
  WriteFile(root_ + "/proc/bus/pci/02/00.0", ReadFile(root_ + "/proc/bus/pci/01/00.0"));
  WriteFile(conf_, kSeed);
  Result r = Run({"--probe", "all"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[Card0]\nbusid PCI:1:0:0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Warning : This tool supports only one video card per system."),
            std::string::npos)
      << r.out;
}

struct RefusalCase {
  const char* name;
  std::string text;
  const char* err;
};

TEST_F(Wizard, ReadBackRefusalsLeaveTheFile) {
  const std::string device = "Section \"Device\"\n\tIdentifier \"D0\"\n\tDriver \"orv\"\n";
  const std::string rest =
      "Section \"Monitor\"\n\tIdentifier \"M0\"\nEndSection\n"
      "Section \"Screen\"\n\tIdentifier \"S0\"\n\tDevice \"D0\"\n\tMonitor \"M0\"\n"
      "\tDefaultDepth 16\nEndSection\n";
  const std::string input = "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n";
  const std::string layout =
      "Section \"ServerLayout\"\n\tIdentifier \"L%\"\n\tScreen \"S0\"\n\tInputDevice \"K\"\nEndSection\n";
  auto named = [&](char n) {
    std::string l = layout;
    l[l.find('%')] = n;
    return l;
  };
  const RefusalCase cases[] = {
      {"no layout", input + device + "EndSection\n" + rest,
       "You must have a server layout section filled with input devices.\n"},
      {"two layouts", named('0') + named('1') + input + device + "EndSection\n" + rest,
       "You can only have one server layout section with this tool.\n"
       "Fix it or use --overwrite switch.\n"},
      {"bad boolean", named('0') + input + device + "\tOption \"KVD\" \"maybe\"\nEndSection\n" + rest,
       "unrecognized value for option in config file\nFix it or use --overwrite switch.\n"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(conf_, c.text);
    Result r = Run(WithFile({"--output", "1"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(ReadFile(conf_), c.text);
    // The probe reads the same file back: the driver report, then the
    // refusal, and no report of the file.
    r = Run({"--probe", "all"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out.find("[Xconfig]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[Driver]\n"), std::string::npos) << r.out;
  }
}

#define kOrderRule \
  "; the timings must not decrease from hdisp to hsync total and from vdisp to vtotal\n"

TEST_F(Wizard, ModeLinesAreAddedKeptExactAndCleared) {
  ASSERT_NO_FATAL_FAILURE(WriteDualIndependent());

  Result r = Run(WithFile({"--modeline", kExampleModeLine}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = Run(WithFile({"--modeline", "1920x1080,148.5,1920,2008,2052,2200,1080,1084,1089,1125,"
                                  "-hsync,+vsync"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The same name again keeps the file's mode line, says so, and leaves the
  // file and its backup alone.
  {
    const std::string both = ReadFile(conf_);
    const std::string backup = ReadFile(conf_ + ".bak");
    r = Run(WithFile({"--modeline",
                      "2560x1600,100.0,2560,2608,2640,2720,1600,1603,1609,1646,-hsync,-vsync"}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Without(r.out, kNotice), "A modeline named `2560x1600' already exists in `" + conf_ +
                                           "'; it was kept and the file is unchanged\n");
    EXPECT_EQ(ReadFile(conf_), both);
    EXPECT_EQ(ReadFile(conf_ + ".bak"), backup);
  }
  ExpectServerAccepts(conf_);
  {
    toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
    ASSERT_NE(parsed.file, nullptr);
    XConfModes* modes = xf86findModes("OrvaneModeLine", parsed.file->modes);
    ASSERT_NE(modes, nullptr);
    XConfModeLine* first = modes->modelines;
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->identifier, "2560x1600");
    EXPECT_EQ(first->clock, 268000);
    EXPECT_EQ(first->hdisplay, 2560);
    EXPECT_EQ(first->htotal, 2720);
    EXPECT_EQ(first->vdisplay, 1600);
    EXPECT_EQ(first->vtotal, 1646);
    EXPECT_EQ(first->flags, kConfFlagPHSync | kConfFlagNVSync);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->clock, 148500);
    EXPECT_EQ(first->next->flags, kConfFlagNHSync | kConfFlagPVSync);
    EXPECT_EQ(first->next->next, nullptr);
  }

  const std::string before = ReadFile(conf_);
  const struct {
    const char* arg;
    const char* err;
  } bad[] = {
      {"2560x1600,268.0,2560,2608,2640,2720,1600,1603,1609,1646,+HSYNC,-vsync",
       "Arguments for hsync polarity is invalid, only +hsync or -hsync are accepted\n"},
      {"2560x1600,268.0,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-VSYNC",
       "Arguments for vsync polarity is invalid, only +vsync or -vsync are accepted\n"},
      {"2560x1600,268.0,2560,2608,2640,2720,1600,1603,1609,+hsync,-vsync",
       "Invalid number of arguments for modeline, try --help for usage\n"},
      {"2560x1600,268.0,2560,2608,2640,2720,1600,1603,1609,1646,1700,+hsync,-vsync",
       "Invalid number of arguments for modeline, try --help for usage\n"},
      {"2560x1600,fast,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline parameter: "
       "2560x1600,fast,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync\n"},
      {"z,0,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline parameter: z,0,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync\n"},
      {"z,268,0,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline parameter: z,268,0,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync\n"},
      {"z,268,2560,2608,2640,2720,1600,-1603,1609,1646,+hsync,-vsync",
       "Invalid modeline parameter: z,268,2560,2608,2640,2720,1600,-1603,1609,1646,+hsync,"
       "-vsync\n"},
      {"a\"b,268,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline parameter: a\"b,268,2560,2608,2640,2720,1600,1603,1609,1646,+hsync,"
       "-vsync\n"},
      // Timings out of order, each pair in turn.
      {"z,268,2000,1048,2640,2720,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline timings: hsync start (1048) is less than hdisp (2000)" kOrderRule},
      {"z,268,2560,2608,2600,2720,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline timings: hsync end (2600) is less than hsync start (2608)" kOrderRule},
      {"z,268,2560,2608,2640,2630,1600,1603,1609,1646,+hsync,-vsync",
       "Invalid modeline timings: hsync total (2630) is less than hsync end (2640)" kOrderRule},
      {"z,268,2560,2608,2640,2720,1600,1599,1609,1646,+hsync,-vsync",
       "Invalid modeline timings: vdisp start (1599) is less than vdisp (1600)" kOrderRule},
      {"z,268,2560,2608,2640,2720,1600,1603,1602,1646,+hsync,-vsync",
       "Invalid modeline timings: vdisp end (1602) is less than vdisp start (1603)" kOrderRule},
      {"z,268,2560,2608,2640,2720,1600,1603,1609,1608,+hsync,-vsync",
       "Invalid modeline timings: vtotal (1608) is less than vdisp end (1609)" kOrderRule},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.arg);
    r = Run(WithFile({"--modeline", c.arg}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(ReadFile(conf_), before);
  }

  r = Run(WithFile({"--clearmodeline"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  toolcfg_test::Parsed cleared = toolcfg_test::ParsePath(conf_);
  ASSERT_NE(cleared.file, nullptr);
  XConfModes* modes = xf86findModes("OrvaneModeLine", cleared.file->modes);
  ASSERT_NE(modes, nullptr);
  EXPECT_EQ(modes->modelines, nullptr);
  ExpectServerAccepts(conf_);
}

// With no mode line to clear, the file is left byte for byte as it was,
// however it is laid out, and no backup is made.
TEST_F(Wizard, ClearingNothingLeavesTheFileAsItWas) {
  const std::string byHand =
      "# laid out by hand\n"
      "Section \"ServerLayout\"\n    Identifier \"L\"\n    Screen \"S0\"\n"
      "    InputDevice \"K\" \"CoreKeyboard\"\nEndSection\n"
      "Section \"InputDevice\"\n    Identifier \"K\"\n    Driver \"kbd\"\nEndSection\n"
      "Section \"Modes\"\n    Identifier \"M\"\nEndSection\n"
      "Section \"Monitor\"\n    Identifier \"Mon\"\n    UseModes \"M\"\nEndSection\n"
      "Section \"Device\"\n    Identifier \"D\"\n    Driver \"orv\"\nEndSection\n"
      "Section \"Screen\"\n    Identifier \"S0\"\n    Device \"D\"\n    Monitor \"Mon\"\n"
      "    DefaultDepth 16\nEndSection\n";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {{"empty Modes section", byHand}, {"no screen at all", kSeed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(conf_, c.text);
    Result r = Run(WithFile({"--clearmodeline"}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Without(r.out, kNotice), "No modeline to clear in `" + conf_ + "'; the file is unchanged\n");
    EXPECT_EQ(ReadFile(conf_), c.text);
    EXPECT_FALSE(std::filesystem::exists(conf_ + ".bak"));
  }
}

TEST_F(Wizard, ModeLineWithNowhereToGoFailsAndTheAdviceWorks) {
  std::string noUseModes = kTwoModes;
  noUseModes.erase(noUseModes.find("\tUseModes \"A\"\n\tUseModes \"B\"\n"), 28);
  const struct {
    const char* name;
    std::string text;
    const char* err;
  } cases[] = {
      {"NoModesSection", noUseModes,
       "No modes section exists, please write the layout again with the switch --overwrite first "
       "(for example --output 1 --overwrite), then add the modeline\n"},
      {"NoScreen", kSeed,
       "No screen exists to attach the modeline to, please write a layout first with the switch "
       "--overwrite (for example --output 1 --overwrite)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(conf_, c.text);
    Result r = Run(WithFile({"--modeline", kExampleModeLine}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(Without(r.out, kNotice), "") << "nothing is said to be written";
    EXPECT_EQ(ReadFile(conf_), c.text);
    // What the message advises makes the same command work.
    ASSERT_EQ(Run(WithFile({"--output", "1", "--overwrite"})).status, 0);
    r = Run(WithFile({"--modeline", kExampleModeLine}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(conf_);
    ASSERT_NE(parsed.file, nullptr);
    bool found = false;
    for (XConfModes* m = parsed.file->modes; m != nullptr; m = m->next)
      found = found || xf86findModeLine("2560x1600", m->modelines) != nullptr;
    EXPECT_TRUE(found) << ReadFile(conf_);
  }
}

TEST_F(Wizard, ProbeReportWithBoard) {
  InstallBoard();
  ASSERT_NO_FATAL_FAILURE(WriteDualIndependent());
  ASSERT_EQ(Run(WithFile({"--modeline", "1920x1080,148.5,1920,2008,2052,2200,1080,1084,1089,"
                                        "1125,+hsync,+vsync"})).status, 0);
  Result r = Run({"--probe", "all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string expected =
      "[Driver]\n"
      "qlb 0.0.0\n"
      "orv 1.4.7\n"
      "orv_kernel true\n"
      "\n"
      "[Xconfig]\n"
      "filename " + conf_ + "\n"
      "card 0 PCI:1:0:0\n"
      "layout 2,independent,horizontal\n"
      "screen 1 \"1024x768\"@60,16,none\n"
      "screen 2 \"1024x768\"@60,16,none\n"
      "xinerama false\n"
      "gl true\n"
      "bm true\n"
      "edid true\n"
      "dvi false\n"
      "ModeLine 1920x1080 : clock = 148.500000, hdisplay = 1920, vdisplay = 1080\n"
      "\n"
      "[Card0]\n"
      "busid PCI:1:0:0\n"
      "name Kestrion KB-400 Dual\n"
      "driver orv\n"
      "kvd false\n"
      "gl true\n"
      "output 1,2\n"
      "layout 1,merge,horizontal,true\n"
      "layout 2,merge,horizontal,true\n"
      "layout 2,independent,vertical,true\n"
      "layout 2,independent,horizontal,true\n"
      "layout 2,merge,vertical,true\n"
      "Monitor all \"640x480\"@60,72,75,85\n"
      "Monitor all \"800x600\"@60,72,75,85\n"
      "Monitor all \"1024x768\"@60,70,75,85\n"
      "Monitor all \"1280x1024\"@60,75,85\n"
      "Monitor all \"1600x1200\"@60,65\n";
  EXPECT_EQ(Without(r.out, kNotice), expected);
}

TEST_F(Wizard, ProbeReportWithoutBoardSaysSo) {
  WriteFile(conf_, kSeed);
  ASSERT_EQ(Run(WithFile({"--overwrite", "--output", "2", "--merge"})).status, 0);
  Result r = Run({"--probe", "all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string expected =
      "[Driver]\n"
      "qlb 0.0.0\n"
      "orv 0.0.0\n"
      "orv_kernel false\n"
      "\n"
      "[Xconfig]\n"
      "filename " + conf_ + "\n"
      "card 0 \n"
      "layout 2,merge,horizontal\n"
      "screen 1,2 \"1024x768\"@60,16,none\n"
      "xinerama false\n"
      "gl true\n"
      "bm true\n"
      "edid true\n"
      "dvi false\n"
      "\n"
      "Orvane card can't be found in system or in card database\n";
  EXPECT_EQ(Without(r.out, kNotice), expected);
}

// The report names the file found by its whole path, however long.
TEST_F(Wizard, ProbeReportNamesALongPathWhole) {
  const std::string dir = dir_.File(std::string(120, 'd'));
  std::filesystem::create_directories(dir);
  conf_ = dir + "/xorg.conf";
  WriteFile(conf_, kSeed);
  Result r = Run({"--probe", "all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[Xconfig]\nfilename " + conf_ + "\n"), std::string::npos) << r.out;
}

TEST_F(Wizard, ProbeReportOnThisMachineRuns) {
  // The real system root: whatever the bus holds, the report is complete.
  WriteFile(conf_, kSeed);
  const std::string out = dir_.File("real.out");
  const std::string cmd = "env -u DISPLAY -u ORV_SYSROOT XORGCONFIG=" + conf_ + " " +
                          ORVWIZARD_PATH + " --cardfile " + dir_.path() + " --probe all > " +
                          out + " 2>&1";
  if (!std::filesystem::exists("/proc/bus/pci/devices")) GTEST_SKIP() << "no PCI listing here";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  const std::string text = ReadFile(out);
  EXPECT_NE(text.find("[Driver]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("filename " + conf_ + "\n"), std::string::npos) << text;
  EXPECT_TRUE(text.find("[Card0]\n") != std::string::npos ||
              text.find("Orvane card can't be found") != std::string::npos)
      << text;
}

TEST_F(Wizard, ProbeXPath) {
  Result r = Run({"--probe", "xpath"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Without(r.out, kNotice), "filename unknown_location\n");
  WriteFile(conf_, kSeed);
  r = Run({"--probe", "xpath"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Without(r.out, kNotice), "filename " + conf_ + "\n");
}

TEST_F(Wizard, NoConfigurationFileFails) {
  Result r = Run({"--output", "2"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("A valid config file cannot be found."), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(conf_));
}

struct ArgCase {
  std::vector<std::string> args;
  int status;
  const char* err;
};

TEST_F(Wizard, ArgumentErrors) {
  WriteFile(conf_, kSeed);
  const ArgCase cases[] = {
      {{"--output", "0"}, 1, "Invalid number of outputs\n"},
      {{"--bm", "maybe"}, 1, "unrecognized parameter value: maybe\n"},
      {{"--kvd", "maybe"}, 1, "unrecognized parameter value: maybe\n"},
      {{"--ed", "2"}, 1, "unrecognized parameter value: 2\n"},
      {{"--bpp", "deep"}, 1, "invalid bpp parameter: deep.\n"},
      {{"--vrefresh", "fast"}, 1, "invalid refresh rate parameter: fast.\n"},
      {{"--rotate", "up"}, 1, "invalid rotate parameter: up.\n"},
      {{"--resolution", ""}, 1, "invalid resolution parameter: .\n"},
      {{"--resolution", ",1024x768"}, 1, "invalid resolution parameter: ,1024x768.\n"},
      {{"--bpp", "-1"}, 1, "invalid bpp parameter: -1.\n"},
      {{"--rotate", "cw,up"}, 1, "invalid rotate parameter: up.\n"},
      {{"--outputfile", "/nonexistent/xorg.conf"}, 1,
       "The file /nonexistent/xorg.conf doesn't exist or the file path is unreachable. \n"
       "Note : A file that contains minimum xorg configure section (ServerLayout and "
       "InputSection) must already exist.\n"},
      {{"--cardfile", "/nonexistent"}, 1, "The orvcards file can't be found at /nonexistent\n"},
      {{"--merge", "stray"}, 1, "unrecognized options: stray \n"},
      // An unknown or ambiguous option, and a missing argument, are named.
      {{"--frobnicate"}, 1, "unrecognized option: --frobnicate\n"},
      {{"--o"}, 1, "unrecognized option: --o\n"},
      {{"--bpp"}, 1, "option --bpp needs an argument\n"},
  };
  for (const ArgCase& c : cases) {
    SCOPED_TRACE(c.err);
    Result r = Run(c.args, c.args[0] != "--cardfile");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(ReadFile(conf_), kSeed);
  }
  // Asked for, the usage is no error; it names every option taken.
  Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Possible options:\n", 0), 0u);
  EXPECT_NE(help.out.find("--cardfile"), std::string::npos);
  // A mistake prints the same usage after naming what was wrong.
  Result wrong = Run({"--frobnicate"});
  EXPECT_EQ(wrong.out, help.out);
}

// The configuration named on the command line must be a regular file of a
// size a configuration can have: anything else is refused before a byte is
// read (a device or a pipe could be read without end), naming the path.
TEST_F(Wizard, OutputFileMustBeARegularFileOfBoundedSize) {
  WriteFile(conf_, kSeed);
  const std::string directory = dir_.File("conf.d");
  std::filesystem::create_directories(directory);
  const std::string pipe = dir_.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // Sparse: one byte above the limit takes no room on the disk.
  const std::string big = dir_.File("big.conf");
  WriteFile(big, kSeed);
  ASSERT_EQ(truncate(big.c_str(), off_t(kConfMaxFileSize) + 1), 0);
  const std::string notRegular = " is not a regular file: it cannot be an X configuration file.\n";
  const struct {
    std::string path;
    std::string err;
  } cases[] = {
      {directory, "The file " + directory +
                      " doesn't exist or the file path is unreachable. \nNote : A file that "
                      "contains minimum xorg configure section (ServerLayout and InputSection) "
                      "must already exist.\n"},
      {"/dev/full", "The file /dev/full" + notRegular},
      {pipe, "The file " + pipe + notRegular},
      {big, "The file " + big + " is larger than 16777216 bytes: it cannot be an X configuration file.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    for (const std::vector<std::string>& action :
         {std::vector<std::string>{"--output", "2", "--overwrite"}, {"--clearmodeline"},
          {"--modeline", kExampleModeLine}}) {
      std::vector<std::string> args = {"--outputfile", c.path};
      args.insert(args.end(), action.begin(), action.end());
      Result r = Run(args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(c.path + ".bak"));
  }
  EXPECT_EQ(std::filesystem::file_size(big), kConfMaxFileSize + 1);
  EXPECT_EQ(ReadFile(conf_), kSeed);
}

// The same holds for a file found along the search path: a pipe is passed
// over as no file, a file too large is refused with the cause, unread past
// the limit and untouched.
TEST_F(Wizard, SearchedFileMustBeARegularFileOfBoundedSize) {
  const std::string pipe = dir_.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  conf_ = pipe;
  Result r = Run({"--output", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("A valid config file cannot be found."), std::string::npos) << r.out;

  conf_ = dir_.File("big.conf");
  WriteFile(conf_, kSeed);
  ASSERT_EQ(truncate(conf_.c_str(), off_t(kConfMaxFileSize) + 1), 0);
  r = Run({"--output", "2", "--overwrite"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Without(r.out, kNotice), "Problem when parsing config file\n");
  EXPECT_EQ(r.err, "The file " + conf_ + " is larger than 16777216 bytes: it is no X configuration file\n");
  EXPECT_EQ(std::filesystem::file_size(conf_), kConfMaxFileSize + 1);
  EXPECT_FALSE(std::filesystem::exists(conf_ + ".bak"));
}

TEST_F(Wizard, VersionAndAbbreviations) {
  Result r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kNotice) + "Version 1.1.3\n");
  r = Run({"-vers"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Without(r.out, kNotice), "Version 1.1.3\n");
}

}  // namespace
