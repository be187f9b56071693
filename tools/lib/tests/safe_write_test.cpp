// The update engine's write of a configuration file: the caller must be
// allowed to write the file itself, the old text is kept beside it with the
// file's mode, a failure says why and leaves the file as it was, and a
// file in a directory that takes no new files is written in place.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/tests/test_util.h"

namespace {

using namespace toolcfg_test;

constexpr uid_t kNobody = 65534;
constexpr const char* kOriginal = "# the user's file\n";

struct Outcome {
  int result = -1;
  std::string out;  // standard output, then the failure reason
};

// Writes `file` to `path` with WriteToXConfigFile in a child process, as
// `uid` and under a file-size limit when `sizeLimit` is not 0.
Outcome WriteInChild(const std::string& path, XConfFile* file, uid_t uid, rlim_t sizeLimit) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    dup2(pipeFds[1], STDOUT_FILENO);
    if (uid != geteuid() && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(100);
    if (sizeLimit != 0) {
      // The disk is "full" after that many bytes of one file.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {sizeLimit, sizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(101);
    }
    const int result = WriteToXConfigFile(path.c_str(), file);
    std::printf("%s", WriteFailureReason().c_str());
    std::fflush(stdout);
    _exit(result);
  }
  close(pipeFds[1]);
  Outcome outcome;
  char block[512];
  ssize_t n;
  while ((n = read(pipeFds[0], block, sizeof block)) > 0) outcome.out.append(block, size_t(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.result = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return outcome;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

size_t Entries(const std::string& dir) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    (void)entry;
    ++n;
  }
  return n;
}

struct SafeWriteCase {
  const char* name;
  mode_t fileMode;
  bool ordinaryUser;      // run as an ordinary user (the file and directory are theirs)
  bool directoryLocked;   // the directory belongs to root and takes no new files
  bool backupIsDirectory;
  bool throughLink;       // the path is a symbolic link to a file beside it
  rlim_t sizeLimit;       // 0: none; else bytes, between the old and the new text's size
  int result;
  const char* said;       // in the output
  bool written;           // the file holds the new text
  bool backup;            // "<path>.bak" holds the old text with the file's mode
};
void PrintTo(const SafeWriteCase& c, std::ostream* os) { *os << c.name; }

const SafeWriteCase kCases[] = {
    {"WritableFile", 0600, false, false, false, false, 0, kErrNone, "Writing config file to", true, true},
    {"WritableFileOfAnOrdinaryUser", 0640, true, false, false, false, 0, kErrNone,
     "Writing config file to", true, true},
    {"ReadOnlyFileOfAnOrdinaryUser", 0444, true, false, false, false, 0, kErrWritePermission,
     "Permission denied", false, false},
    // Its old text cannot be read for the backup: nothing is written.
    {"UnreadableFileOfAnOrdinaryUser", 0200, true, false, false, false, 0, kErrWritePermission,
     "Permission denied", false, false},
    {"WritableFileInALockedDirectory", 0644, true, true, false, false, 0, kErrNone,
     "No backup could be made", true, false},
    {"DiskFullWhileWritingInPlace", 0644, true, true, false, false, 64, kErrWritePermission,
     "the file keeps its previous text", false, false},
    {"DiskFull", 0644, false, false, false, false, 64, kErrWritePermission, "File too large", false,
     true},
    {"BackupPathIsADirectory", 0644, false, false, true, false, 0, kErrWritePermission,
     "cannot make the backup", false, false},
    // The backup goes beside the link the user named, not beside its target.
    {"ThroughASymbolicLink", 0640, false, false, false, true, 0, kErrNone,
     "Writing config file to", true, true},
};

class SafeWrite : public ::testing::TestWithParam<SafeWriteCase> {};

TEST_P(SafeWrite, WritesOrSaysWhyAndKeepsTheFile) {
  const SafeWriteCase& c = GetParam();
  if (c.ordinaryUser && geteuid() != 0) GTEST_SKIP() << "needs root to become an ordinary user";
  TempDir top;
  // A directory of its own, reachable by the ordinary user.
  const std::string dir = top.File("etc");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  chmod(top.path().c_str(), 0755);
  const std::string path = dir + "/xorg.conf";
  const std::string file = c.throughLink ? dir + "/real.conf" : path;
  WriteFile(file, kOriginal);
  if (c.throughLink) {
    ASSERT_EQ(symlink("real.conf", path.c_str()), 0);
  }
  ASSERT_EQ(chmod(file.c_str(), c.fileMode), 0);
  if (c.ordinaryUser) {
    ASSERT_EQ(chown(file.c_str(), kNobody, kNobody), 0);
    if (!c.directoryLocked) {
      ASSERT_EQ(chown(dir.c_str(), kNobody, kNobody), 0);
    }
  }
  if (c.backupIsDirectory) {
    ASSERT_EQ(mkdir((path + ".bak").c_str(), 0755), 0);
  }
  Parsed parsed = ParseText(
      "Section \"Device\"\n\tIdentifier \"d\"\n\tDriver \"orv\"\n"
      "\tOption \"Comment\" \"a text long enough to pass the size limit of the case\"\n"
      "EndSection\n");
  ASSERT_NE(parsed.file, nullptr) << parsed.err;
  const size_t before = Entries(dir);

  const Outcome got = WriteInChild(path, parsed.file, c.ordinaryUser ? kNobody : geteuid(),
                                   c.sizeLimit);
  EXPECT_EQ(got.result, c.result) << got.out;
  EXPECT_NE(got.out.find(c.said), std::string::npos) << got.out;
  const std::string text = ReadFile(path);
  if (c.written) {
    EXPECT_NE(text.find("Section \"Device\""), std::string::npos) << text;
  } else {
    EXPECT_EQ(text, kOriginal);
  }
  EXPECT_EQ(ModeOf(path), c.fileMode);
  if (c.backup) {
    EXPECT_EQ(ReadFile(path + ".bak"), kOriginal);
    EXPECT_EQ(ModeOf(path + ".bak"), c.fileMode);
  } else if (!c.backupIsDirectory) {
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));
  }
  if (c.throughLink) {
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_FALSE(std::filesystem::exists(file + ".bak"));
  }
  // No temporary file is left behind.
  EXPECT_EQ(Entries(dir), before + (c.backup ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(Cases, SafeWrite, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
