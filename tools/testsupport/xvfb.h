// A private Xvfb for tests that need a real X server: it picks a free
// display number itself and answers once it accepts connections. Only the
// process that started it stops it, so a forked child that ends through
// exit() leaves it running.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace tools_test {

constexpr const char* kXvfbPath = "/usr/bin/Xvfb";

class XvfbServer {
 public:
  // Starts Xvfb with `extra` arguments; Display() stays empty when it
  // cannot run here.
  explicit XvfbServer(std::initializer_list<const char*> extra = {}) {
    if (access(kXvfbPath, X_OK) != 0) return;
    std::vector<const char*> argv{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 3);  // -displayfd writes the chosen number here
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
      }
      execv(kXvfbPath, const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      return;
    }
    pid_ = pid;
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~XvfbServer() {
    if (pid_ > 0 && getpid() == owner_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", or empty when the server did not start.
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  pid_t owner_ = getpid();
  std::string display_;
};

}  // namespace tools_test
