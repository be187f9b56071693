// A real X server without the configuration extension, for the "absent"
// paths: Xvfb on a display number it picks itself.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class XvfbServer {
 public:
  // Starts Xvfb; Display() stays empty when it cannot run here.
  XvfbServer() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
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
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset",
            static_cast<char*>(nullptr));
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
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};
