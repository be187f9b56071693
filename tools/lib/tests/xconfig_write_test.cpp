#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/test_util.h"

namespace {

using namespace toolcfg_test;

constexpr uid_t kNobody = 65534;

const char* const kConfig =
    "# keep\nSection \"Device\"\n Identifier \"d\"\n Driver \"vesa\"\n"
    " Option \"Long\" \"" "0123456789012345678901234567890123456789012345678901234567890123456789"
    "\"\nEndSection\n";

// Runs the body in a child process and returns its exit status.
int InChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

int CountEntries(const std::string& dir) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    (void)e;
    ++n;
  }
  return n;
}

class CfgWrite : public testing::Test {
 protected:
  void SetUp() override {
    target_ = dir_.File("xorg.conf");
    WriteFile(target_, "original text\n");
    parsed_ = ParseText(kConfig);
    ASSERT_NE(parsed_.file, nullptr) << parsed_.err;
  }
  TempDir dir_;
  std::string target_;
  Parsed parsed_;
};

TEST_F(CfgWrite, ReplacesTheFileAndKeepsItsMode) {
  chmod(target_.c_str(), 0640);
  ASSERT_EQ(xf86writeConfigFile(target_.c_str(), parsed_.file), 1);
  std::string text = ReadFile(target_);
  EXPECT_NE(text.find("# keep"), std::string::npos) << text;
  struct stat st;
  ASSERT_EQ(stat(target_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(CountEntries(dir_.path()), 1);  // no temporary file left behind
}

TEST_F(CfgWrite, CreatesANewFile) {
  std::string fresh = dir_.File("new.conf");
  ASSERT_EQ(xf86writeConfigFile(fresh.c_str(), parsed_.file), 1);
  EXPECT_NE(ReadFile(fresh).find("Section \"Device\""), std::string::npos);
}

TEST_F(CfgWrite, WritesThroughASymlinkToItsTarget) {
  std::string link = dir_.File("link.conf");
  ASSERT_EQ(symlink(target_.c_str(), link.c_str()), 0);
  ASSERT_EQ(xf86writeConfigFile(link.c_str(), parsed_.file), 1);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadFile(target_).find("Section \"Device\""), std::string::npos);
}

TEST_F(CfgWrite, ReadOnlyDirectoryLeavesTheFileIntact) {
  ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
  // Root writes anywhere, so the write runs as an ordinary user then.
  int status = InChild([&] {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 3;
    return xf86writeConfigFile(target_.c_str(), parsed_.file) == 0 ? 0 : 1;
  });
  chmod(dir_.path().c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(target_), "original text\n");
  EXPECT_EQ(CountEntries(dir_.path()), 1);
}

TEST_F(CfgWrite, FullFileSystemLeavesTheFileIntact) {
  // A file size limit makes the disk "full" after a few bytes.
  int status = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {64, 64};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
    return xf86writeConfigFile(target_.c_str(), parsed_.file) == 0 ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(target_), "original text\n");
  EXPECT_EQ(CountEntries(dir_.path()), 1);
}

TEST_F(CfgWrite, MissingDirectoryFails) {
  std::string path = dir_.File("no/such/dir/xorg.conf");
  testing::internal::CaptureStderr();
  EXPECT_EQ(xf86writeConfigFile(path.c_str(), parsed_.file), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot write"), std::string::npos);
}

TEST_F(CfgWrite, TextThatWouldReadBackDifferentlyIsRefused) {
  struct Case {
    const char* what;
    std::function<void(XConfFile*)> spoil;
  } cases[] = {
      {"quote in an identifier",
       [](XConfFile* f) {
         free(f->devices->identifier);
         f->devices->identifier = strdup("a\"b");
       }},
      {"line break in an option value",
       [](XConfFile* f) {
         free(f->devices->options->value);
         f->devices->options->value = strdup("x\nSection");
       }},
      {"comment line that is not a comment",
       [](XConfFile* f) {
         free(f->devices->comment);
         f->devices->comment = strdup("\n# fine\nEndSection\n");
       }},
      {"option comment that is not a comment",
       [](XConfFile* f) {
         free(f->devices->options->comment);
         f->devices->options->comment = strdup(" # fine\nEndSection\n");
       }},
  };
  for (const Case& c : cases) {
    Parsed p = ParseText(kConfig);
    ASSERT_NE(p.file, nullptr);
    c.spoil(p.file);
    testing::internal::CaptureStderr();
    EXPECT_EQ(xf86writeConfigFile(target_.c_str(), p.file), 0) << c.what;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot write"), std::string::npos);
    EXPECT_EQ(ReadFile(target_), "original text\n") << c.what;
  }
  // A comment added through the library is written.
  parsed_.file->devices->comment = xf86addComment(parsed_.file->devices->comment, "added note");
  EXPECT_EQ(xf86writeConfigFile(target_.c_str(), parsed_.file), 1);
}

}  // namespace
