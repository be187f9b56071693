#pragma once

// Runs the real X server on a configuration file and reports its verdict:
// with "-screen no_such_screen" it stops right after reading the file.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tools/lib/tests/test_util.h"

namespace toolcfg_test {

struct XorgVerdict {
  bool ran = false;      // the server read the file
  bool refused = false;  // "Problem parsing the config file"
  int parse_error_line = -1;
  std::string output;
};

inline std::string XorgBinary() {
  for (const char* candidate : {"/usr/lib/xorg/Xorg", "/usr/bin/Xorg"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return "";
}

inline XorgVerdict RunXorg(const std::string& config) {
  XorgVerdict verdict;
  std::string binary = XorgBinary();
  if (binary.empty()) return verdict;
  TempDir dir;
  std::string empty = dir.File("configdir");
  std::filesystem::create_directory(empty);
  std::string log = dir.File("server.log");
  std::string out = dir.File("server.out");
  for (int attempt = 0; attempt < 8; ++attempt) {
    // A display number of its own, so parallel runs do not meet.
    std::string display = ":" + std::to_string(200 + (getpid() * 7 + attempt * 101) % 700);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(fd, 2);
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      execl(binary.c_str(), binary.c_str(), display.c_str(), "-config", config.c_str(),
            "-configdir", empty.c_str(), "-logfile", log.c_str(), "-noreset", "-nolisten", "tcp",
            "-screen", "no_such_screen", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    verdict.output = ReadFile(out);
    if (verdict.output.find("Server is already active") != std::string::npos) continue;
    break;
  }
  std::string logged = ReadFile(log);
  verdict.ran = verdict.output.find("Using config file") != std::string::npos;
  verdict.refused = logged.find("Problem parsing the config file") != std::string::npos;
  size_t at = verdict.output.find("Parse error on line ");
  if (at != std::string::npos) verdict.parse_error_line = std::atoi(verdict.output.c_str() + at + 20);
  return verdict;
}

// Line number of our own first parse error, -1 for none.
inline int ParseErrorLine(const std::string& message) {
  const std::string prefix = "Parse error on line ";
  if (message.rfind(prefix, 0) != 0) return -1;
  return std::atoi(message.c_str() + prefix.size());
}

}  // namespace toolcfg_test
