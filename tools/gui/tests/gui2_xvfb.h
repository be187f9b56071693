// A private Xvfb for tests that open a display: started once per process on
// a free display number, GTK initialised on it. Tests skip when Xvfb is
// not installed.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class PrivateXvfb {
 public:
  // True when GTK runs on a display of our own.
  static bool Ready() {
    static PrivateXvfb server;
    return server.ready_;
  }

 private:
  PrivateXvfb() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int n = 90 + int(getpid() % 300); n < 1000; ++n) {
      std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      struct stat st;
      if (stat(lock.c_str(), &st) == 0 || stat(socket.c_str(), &st) == 0) continue;
      pid_t pid = fork();
      if (pid == 0) {
        std::string display = ":" + std::to_string(n);
        if (!freopen("/dev/null", "w", stderr)) _exit(127);
        execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
              "tcp", static_cast<char*>(nullptr));
        _exit(127);
      }
      if (pid < 0) return;
      for (int i = 0; i < 100 && stat(socket.c_str(), &st) != 0; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) { pid = -1; break; }
        usleep(50000);
      }
      if (pid < 0) continue;  // lost the race for this number
      pid_ = pid;
      setenv("DISPLAY", (":" + std::to_string(n)).c_str(), 1);
      ready_ = gtk_init_check(nullptr, nullptr);
      return;
    }
  }
  // A child that ends through exit() (the library does on bad input) runs
  // this too: only the process that started the server stops it.
  ~PrivateXvfb() {
    if (pid_ > 0 && getpid() == owner_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid_ = -1;
  pid_t owner_ = getpid();
  bool ready_ = false;
};

#define REQUIRE_XVFB()                                              \
  do {                                                              \
    if (!PrivateXvfb::Ready()) GTEST_SKIP() << "Xvfb is not available"; \
  } while (0)

// Runs the GTK main loop until nothing is pending.
inline void DrainEvents() {
  for (int i = 0; i < 50; ++i) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_usleep(2000);
  }
}
