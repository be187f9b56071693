#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/lib/parser/name_index.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/test_util.h"

namespace {

using toolcfg_test::TempDir;
using toolcfg_test::WriteFile;

const XConfKeyword kWords[] = {
    {kTokTfNHSync, "-hsync"},
    {kTokTfPHSync, "+hsync"},
    {kTokIdentifier, "identifier"},
    {-1, ""},
};

// Scans the lines with the built-in line source.
class CfgScanner : public testing::Test {
 protected:
  void Scan(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    ptrs_.clear();
    for (const std::string& l : lines_) ptrs_.push_back(l.c_str());
    ptrs_.push_back(nullptr);
    xf86setBuiltinConfig(ptrs_.data());
  }
  void TearDown() override { xf86closeConfigFile(); }

  std::vector<std::string> lines_;
  std::vector<const char*> ptrs_;
};

TEST_F(CfgScanner, NumberForms) {
  Scan({"0x10 010 10 2.5 0x1F 1024x768\n"});
  struct Row {
    int num;
    double real;
  } rows[] = {{16, 0.0}, {8, 10.0}, {10, 10.0}, {2, 2.5}, {31, 0.0}, {1024, 1024.0}};
  for (const Row& r : rows) {
    ASSERT_EQ(xf86getToken(nullptr), kTokNumber);
    EXPECT_EQ(xf86tokenValue().num, r.num) << xf86tokenString();
    EXPECT_DOUBLE_EQ(xf86tokenValue().realnum, r.real) << xf86tokenString();
  }
  EXPECT_EQ(xf86getToken(nullptr), kTokEof);
  EXPECT_EQ(xf86getToken(nullptr), kTokEof);
}

TEST_F(CfgScanner, DashCommaAndSyncWords) {
  Scan({"30-50, 60 -hsync +HSync ,x - 5\n"});
  int expected[] = {kTokNumber, kTokDash,    kTokNumber,  kTokComma, kTokNumber,
                    kTokTfNHSync, kTokTfPHSync, kTokError, kTokDash,  kTokNumber};
  for (int token : expected) EXPECT_EQ(xf86getToken(kWords), token) << xf86tokenString();
}

TEST_F(CfgScanner, StringsAndComments) {
  Scan({"  \"a b\" word# tail\n", "\"unterminated\n", "\t# own line\r\n", "Identifier\"x\"\n"});
  ASSERT_EQ(xf86getToken(nullptr), kTokString);
  EXPECT_STREQ(xf86tokenValue().str, "a b");
  ASSERT_EQ(xf86getToken(nullptr), kTokError);
  EXPECT_STREQ(xf86tokenString(), "word");
  ASSERT_EQ(xf86getToken(nullptr), kTokComment);
  EXPECT_STREQ(xf86tokenString(), "# tail\n");
  ASSERT_EQ(xf86getToken(nullptr), kTokString);
  EXPECT_STREQ(xf86tokenValue().str, "unterminated");
  ASSERT_EQ(xf86getToken(nullptr), kTokComment);
  EXPECT_STREQ(xf86tokenString(), "\t# own line\r");
  // A word runs up to a blank, so the quote belongs to it.
  ASSERT_EQ(xf86getToken(kWords), kTokError);
  EXPECT_STREQ(xf86tokenString(), "Identifier\"x\"");
}

TEST_F(CfgScanner, PushedBackWordIsLookedUpAgain) {
  Scan({"identifier 5 \"s\"\n"});
  EXPECT_EQ(xf86getToken(nullptr), kTokError);
  xf86unGetToken(kTokError);
  EXPECT_EQ(xf86getToken(kWords), kTokIdentifier);
  EXPECT_EQ(xf86getToken(nullptr), kTokNumber);
  xf86unGetToken(kTokNumber);
  EXPECT_EQ(xf86getToken(kWords), kTokNumber);
  EXPECT_EQ(xf86tokenValue().num, 5);
  EXPECT_EQ(xf86getToken(nullptr), kTokString);
  xf86unGetToken(kTokString);
  EXPECT_EQ(xf86getToken(nullptr), kTokString);
  EXPECT_STREQ(xf86tokenValue().str, "s");
}

TEST_F(CfgScanner, LongBlanksStringsAndLinesKeepLineNumbers) {
  std::string blanks(100000, ' ');
  std::string long_string(50000, 'x');
  Scan({blanks + "\n", blanks + "\"" + long_string + "\"" + blanks + "5\n", "junk\n"});
  ASSERT_EQ(xf86getToken(nullptr), kTokString);
  EXPECT_EQ(std::string(xf86tokenValue().str), long_string);
  ASSERT_EQ(xf86getToken(nullptr), kTokNumber);
  ASSERT_EQ(xf86getToken(nullptr), kTokError);
  testing::internal::CaptureStderr();
  xf86setSection("Test");
  xf86parseError("x");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Parse error on line 3 of section Test in file <builtin configuration>\n\tx\n");
}

TEST(CfgNames, CompareIgnoresCaseBlanksAndUnderscores) {
  EXPECT_EQ(xf86nameCompare("Server_Layout", "serverlayout"), 0);
  EXPECT_EQ(xf86nameCompare("server layout", "SERVERLAYOUT"), 0);
  EXPECT_EQ(xf86nameCompare("\tIn put_Device", "inputdevice"), 0);
  EXPECT_NE(xf86nameCompare("device", "devices"), 0);
  EXPECT_EQ(xf86nameCompare(nullptr, ""), 0);
  EXPECT_EQ(xf86nameCompare("", nullptr), 0);
  EXPECT_NE(xf86nameCompare(nullptr, "a"), 0);
  EXPECT_NE(xf86nameCompare("a", nullptr), 0);
}

// The index answers what a walk of the list with the comparison answers:
// the first record whose identifier compares equal, for names that fold
// case, blanks and underscores, empty and missing names, and duplicates.
TEST(CfgNames, IndexFindsWhatTheListWalkFinds) {
  struct Rec {
    Rec* next;
    char* identifier;
  };
  std::vector<std::string> ids = {"Screen0", "screen_0", "", "__", "Mon itor", "monitor", " A_b", "ab",
                                  "x", "X ", "\tdevice", "Device"};
  std::vector<Rec> recs(ids.size() + 1);
  for (size_t i = 0; i < ids.size(); ++i) {
    recs[i].identifier = ids[i].data();
    recs[i].next = &recs[i + 1];
  }
  recs[ids.size()].identifier = nullptr;  // a record with no identifier
  recs[ids.size()].next = nullptr;
  auto walk = [&](const char* name) -> Rec* {
    for (Rec* r = &recs[0]; r != nullptr; r = r->next)
      if (xf86nameCompare(name, r->identifier) == 0) return r;
    return nullptr;
  };
  const xconf::NameIndex<Rec> index(&recs[0]);
  const char* names[] = {"SCREEN0", "screen 0", "", nullptr, "_", "  ", "monitor", "MONI_TOR", "ab", "a b",
                         "x", "device", "Devices", "nothing", "\t"};
  for (const char* name : names)
    EXPECT_EQ(index.Find(name), walk(name)) << (name == nullptr ? "(null)" : name);
}

TEST(CfgNames, StrToUL) {
  EXPECT_EQ(xf86strToUL("0x10"), 16u);
  EXPECT_EQ(xf86strToUL("0XfF"), 255u);
  EXPECT_EQ(xf86strToUL("010"), 8u);
  EXPECT_EQ(xf86strToUL("019"), 1u);  // 9 is not an octal digit
  EXPECT_EQ(xf86strToUL("08"), 0u);   // nor is 8
  EXPECT_EQ(xf86strToUL("017"), 15u);
  EXPECT_EQ(xf86strToUL("10.5"), 10u);
  EXPECT_EQ(xf86strToUL("0"), 0u);
}

TEST(CfgNames, PathSafety) {
  struct Row {
    const char* path;
    int safe;
  } rows[] = {{"xorg.conf", 1},  {"a/b", 1},     {"/etc/X11", 0}, {"..", 0},
              {"../x", 0},       {"a/..", 0},    {"a/../b", 0},   {"..x/y", 1}};
  for (const Row& r : rows) EXPECT_EQ(xf86pathIsSafe(r.path), r.safe) << r.path;
}

TEST(CfgComments, AddCommentShapes) {
  // No scanner line has been read here, so the end-of-line flag is clear.
  xf86setBuiltinConfig(nullptr);
  char* c = xf86addComment(nullptr, " # first\n");
  EXPECT_STREQ(c, " # first\n");
  c = xf86addComment(c, "second");
  EXPECT_STREQ(c, " # first\n#second\n");
  c = xf86addComment(c, "");
  EXPECT_STREQ(c, " # first\n#second\n");
  free(c);
  c = xf86addComment(strdup("x"), "\t# y");
  EXPECT_STREQ(c, "x\n\t# y\n");
  free(c);
  xf86closeConfigFile();
}

// The environment is read once per process, so each case runs in a child.
std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out = body();
    if (write(fds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

struct SubstRow {
  const char* templ;
  const char* cmdline;
  const char* xorgconfig;  // null: unset
  const char* home;
  const char* expected;  // null: the expansion fails
};

TEST(CfgSearch, TemplateEscapes) {
  static const std::string kHome4086 = "/" + std::string(4085, 'h');
  static const std::string kHome4087 = "/" + std::string(4086, 'h');
  static const std::string kPath4096 = kHome4086 + "/xorg.conf";
  const SubstRow rows[] = {
      {"%A", "/abs/x.conf", nullptr, "/h", "/abs/x.conf"},
      {"%A", "rel.conf", nullptr, "/h", nullptr},
      {"%R", "rel.conf", nullptr, "/h", "rel.conf"},
      {"%R", "/abs/x.conf", nullptr, "/h", nullptr},
      {"/etc/X11/%S", "sub/x.conf", nullptr, "/h", "/etc/X11/sub/x.conf"},
      {"/etc/X11/%S", "../x.conf", nullptr, "/h", nullptr},
      {"%S", nullptr, nullptr, "/h", nullptr},
      {"/etc/X11/%X-%M", nullptr, nullptr, "/h", "/etc/X11/xorg.conf-4"},
      {"%E", nullptr, "/e/x.conf", "/h", "/e/x.conf"},
      {"%E", nullptr, "e.conf", "/h", nullptr},
      {"%F", nullptr, "e.conf", "/h", "e.conf"},
      {"%F", nullptr, "../e.conf", "/h", "../e.conf"},
      {"%G", nullptr, "../e.conf", "/h", nullptr},
      {"%G", nullptr, "sub/e.conf", "/h", "sub/e.conf"},
      {"%E", nullptr, nullptr, "/h", nullptr},
      {"%D/%X", nullptr, nullptr, "/home/u", "/home/u/xorg.conf"},
      {"%D/%X", nullptr, nullptr, "relative", nullptr},
      {"%P/lib/X11/%X", nullptr, nullptr, "/h", "/usr/X11R6/lib/X11/xorg.conf"},
      {"100%%", nullptr, nullptr, "/h", "100%"},
      {"%Q", nullptr, nullptr, "/h", nullptr},
      // The expansion may reach 4096 characters, not more.
      {"%D/%X", nullptr, nullptr, kHome4086.c_str(), kPath4096.c_str()},
      {"%D/%X", nullptr, nullptr, kHome4087.c_str(), nullptr},
  };
  for (const SubstRow& r : rows) {
    std::string got = InChild([&r] {
      if (r.xorgconfig) setenv("XORGCONFIG", r.xorgconfig, 1);
      else unsetenv("XORGCONFIG");
      setenv("HOME", r.home, 1);
      xconf::ForgetEnvironment();
      bool cmd_used = false, env_used = false;
      std::string out;
      if (!xconf::DoSubstitution(r.templ, r.cmdline, nullptr, &cmd_used, &env_used, "xorg.conf",
                                 &out))
        return std::string("FAIL");
      return out;
    });
    EXPECT_EQ(got, r.expected ? r.expected : "FAIL") << r.templ;
  }
}

TEST(CfgSearch, InvalidEscapeIsReportedAndSkipped) {
  TempDir dir;
  WriteFile(dir.File("xorg.conf"), "");
  std::string templates = dir.path() + "/%Q," + dir.path() + "/%X";
  testing::internal::CaptureStderr();
  const char* found = xf86openConfigFile(templates.c_str(), nullptr, nullptr);
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), dir.File("xorg.conf"));
  EXPECT_EQ(err, "invalid escape %Q found in path template\n");
  xf86closeConfigFile();
}

TEST(CfgSearch, TheToolsTemplateList) {
  TempDir dir;
  std::string home = dir.File("home");
  std::string etc = dir.File("etc");
  std::filesystem::create_directories(home);
  std::filesystem::create_directories(etc + "/sub");
  WriteFile(home + "/xorg.conf", "# home\n");
  WriteFile(etc + "/given.conf", "# given\n");
  WriteFile(etc + "/sub/rel.conf", "# rel\n");
  WriteFile(etc + "/env.conf", "# env\n");
  // The tools' list with the system directory moved into the test tree.
  std::string list = kConfToolSearchPath;
  for (size_t at; (at = list.find("/etc/X11/")) != std::string::npos;)
    list.replace(at, 9, etc + "/");
  struct Row {
    const char* what;
    const char* cmdline;
    const char* xorgconfig;
    const char* cwd;
    std::string expected;
  } rows[] = {
      {"absolute given name", nullptr, nullptr, nullptr, home + "/xorg.conf"},
      {"no name: HOME", nullptr, nullptr, nullptr, home + "/xorg.conf"},
      {"relative name under the system dir", "sub/rel.conf", nullptr, "/", etc + "/sub/rel.conf"},
      {"relative name under cwd", "rel.conf", nullptr, "sub", "rel.conf"},
      {"XORGCONFIG absolute", nullptr, "ENV", nullptr, etc + "/env.conf"},
      {"XORGCONFIG relative", nullptr, "env.conf", "/", etc + "/env.conf"},
      {"given name not found: no fallback", "missing.conf", nullptr, "/", ""},
      // An empty XORGCONFIG, or one that names a directory, finds no file:
      // the search goes on.
      {"XORGCONFIG empty", nullptr, "", "/", home + "/xorg.conf"},
      {"XORGCONFIG a directory", nullptr, "sub", "/", home + "/xorg.conf"},
  };
  std::string given = etc + "/given.conf";
  rows[0].cmdline = given.c_str();
  rows[0].expected = given;
  std::string env_abs = etc + "/env.conf";
  rows[4].xorgconfig = env_abs.c_str();
  std::string subdir = etc + "/sub";
  rows[3].cwd = subdir.c_str();
  for (const Row& r : rows) {
    std::string got = InChild([&] {
      setenv("HOME", home.c_str(), 1);
      if (r.xorgconfig) setenv("XORGCONFIG", r.xorgconfig, 1);
      else unsetenv("XORGCONFIG");
      xconf::ForgetEnvironment();
      if (r.cwd && chdir(r.cwd) != 0) return std::string("chdir");
      const char* found = xf86openConfigFile(list.c_str(), r.cmdline, nullptr);
      std::string out = found ? found : "";
      xf86closeConfigFile();
      return out;
    });
    EXPECT_EQ(got, r.expected) << r.what;
  }
}

TEST(CfgSearch, SecondPassTakesTheOldFileName) {
  TempDir dir;
  WriteFile(dir.File("XF86Config"), "");
  std::string templates = dir.path() + "/%X";
  const char* found = xf86openConfigFile(templates.c_str(), nullptr, nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), dir.File("XF86Config"));
  xf86closeConfigFile();
  WriteFile(dir.File("xorg.conf"), "");
  found = xf86openConfigFile(templates.c_str(), nullptr, nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), dir.File("xorg.conf"));
  xf86closeConfigFile();
}

TEST(CfgSearch, GivenNameOnlyThroughTemplatesThatUseIt) {
  TempDir dir;
  WriteFile(dir.File("xorg.conf"), "");
  WriteFile(dir.File("mine.conf"), "");
  // The plain file comes first in the list but is not what was asked for.
  std::string templates = dir.path() + "/%X,%A";
  std::string mine = dir.File("mine.conf");
  const char* found = xf86openConfigFile(templates.c_str(), mine.c_str(), nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), mine);
  xf86closeConfigFile();
  std::string missing = dir.File("missing.conf");
  EXPECT_EQ(xf86openConfigFile(templates.c_str(), missing.c_str(), nullptr), nullptr);
  xf86closeConfigFile();
}

// Only a regular file is a configuration: a pipe (which would keep the
// search waiting for a writer), a device or a directory is passed over and
// the search goes on to the next template.
TEST(CfgSearch, OnlyRegularFilesAreFound) {
  TempDir dir;
  const std::string pipe = dir.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_directories(dir.File("conf.d"));
  WriteFile(dir.File("xorg.conf"), "");
  for (const std::string& skipped : {pipe, std::string("/dev/zero"), dir.File("conf.d")}) {
    SCOPED_TRACE(skipped);
    EXPECT_EQ(xf86openConfigFile("%A", skipped.c_str(), nullptr), nullptr);
    xf86closeConfigFile();
    const std::string templates = skipped + "," + dir.path() + "/%X";
    const char* found = xf86openConfigFile(templates.c_str(), nullptr, nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found), dir.File("xorg.conf"));
    xf86closeConfigFile();
  }
}

// A file is read up to the size a configuration may have: one of exactly
// that size reads, one byte more is refused with the cause, however the
// cut would fall between two sections.
TEST(CfgRead, FileSizeIsBounded) {
  TempDir dir;
  const std::string path = dir.File("xorg.conf");
  const std::string text =
      "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n";
  for (size_t size : {kConfMaxFileSize, kConfMaxFileSize + 1}) {
    SCOPED_TRACE(size);
    WriteFile(path, text);
    // The rest is zero bytes, which take no room on the disk.
    ASSERT_EQ(truncate(path.c_str(), off_t(size)), 0);
    toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(path);
    if (size == kConfMaxFileSize) {
      EXPECT_NE(parsed.file, nullptr) << parsed.err;
      EXPECT_EQ(parsed.err, "");
    } else {
      EXPECT_EQ(parsed.file, nullptr);
      EXPECT_EQ(parsed.err, "The file " + path + " is larger than 16777216 bytes: it is no X configuration file\n");
    }
  }
}

}  // namespace
